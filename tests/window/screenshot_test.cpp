// The screenshot actions of the real program, checked against the geometry its dump reports.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "platform/render/renderer.h"
#include "tests/e2e/run_program.h"

namespace {

namespace fs = std::filesystem;
using namespace wce::render;

struct Shot {
    unsigned width = 0, height = 0;
    std::vector<png_byte> rgb;
    Color At(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 3;
        return (Color{rgb[i]} << 16) | (Color{rgb[i + 1]} << 8) | rgb[i + 2];
    }
};

Shot ReadShot(const fs::path& path) {
    png_image info{};
    info.version = PNG_IMAGE_VERSION;
    Shot shot;
    if (!png_image_begin_read_from_file(&info, path.c_str())) return shot;
    info.format = PNG_FORMAT_RGB;
    shot.rgb.resize(PNG_IMAGE_SIZE(info));
    if (png_image_finish_read(&info, nullptr, shot.rgb.data(), 0, nullptr)) {
        shot.width = info.width;
        shot.height = info.height;
    }
    return shot;
}

struct DumpedControl {
    int id;
    std::string kind;
    RECT rect;  // screen coordinates
    bool visible;
};

// The controls of a dump, moved from the dialog's client coordinates onto the screen.
std::vector<DumpedControl> ParseDump(const std::string& out, POINT clientOrigin) {
    static const std::regex line(
        R"(control (\d+) (\w+) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) visible=(\d))");
    std::vector<DumpedControl> controls;
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        const std::smatch& m = *it;
        auto n = [&](int i) { return std::stoi(m[i].str()); };
        controls.push_back({n(1), m[2].str(),
                            RECT{n(3) + clientOrigin.x, n(4) + clientOrigin.y,
                                 n(5) + clientOrigin.x, n(6) + clientOrigin.y},
                            n(7) == 1});
    }
    return controls;
}

class WindowScreenshot : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(fs::path(SOURCE_DIR) / "examples/medium", scratch.Medium(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    fs::path Out(const char* name) const { return scratch.Base() / name; }
    e2e::Scratch scratch;
};

TEST_F(WindowScreenshot, ControlsHoldTheirColoursWhereTheDumpSaysTheyAre) {
    const e2e::RunResult r =
        scratch.Run("dump\nscreenshot " + Out("idle.png").string() + "\nclose\n");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const Shot shot = ReadShot(Out("idle.png"));
    ASSERT_EQ(shot.width, 320u);
    ASSERT_EQ(shot.height, 240u);
    // The dialog fills the screen with a 2-pixel frame and a 20-pixel caption.
    const std::vector<DumpedControl> controls = ParseDump(r.out, POINT{2, 22});
    ASSERT_EQ(controls.size(), 7u) << r.out;
    for (const DumpedControl& c : controls) {
        SCOPED_TRACE(c.id);
        const RECT& q = c.rect;
        const LONG midX = (q.left + q.right) / 2, midY = (q.top + q.bottom) / 2;
        if (!c.visible) {
            // Hidden progress controls: only the dialog's face where they would be.
            for (LONG y = q.top; y < q.bottom; ++y)
                for (LONG x = q.left; x < q.right; ++x)
                    if (shot.At(x, y) != colors::kFace) ADD_FAILURE() << x << "," << y;
        } else if (c.kind == "listbox") {
            EXPECT_EQ(shot.At(q.left, midY), colors::kBorder);
            EXPECT_EQ(shot.At(midX, q.bottom - 1), colors::kBorder);
            EXPECT_EQ(shot.At(q.right - 20, q.top + 3), colors::kHighlight);  // entry 0 selected
        } else if (c.kind == "button") {
            EXPECT_EQ(shot.At(midX, q.bottom - 1), colors::kDarkShadow);
            EXPECT_EQ(shot.At(midX, q.top + 1), colors::kLight);
        }
    }
}

TEST_F(WindowScreenshot, ResultMessageAndTheCopyBelowIt) {
    const e2e::RunResult r =
        scratch.Run("select 1\nclick 1001\nscreenshot " + Out("result.png").string() +
                    "\nscreenshot-below-message " + Out("copying.png").string() + "\nok\nclose\n");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const Shot result = ReadShot(Out("result.png")), copying = ReadShot(Out("copying.png"));
    ASSERT_EQ(result.width, 320u);
    ASSERT_EQ(copying.width, 320u);
    auto count = [](const Shot& s, Color c) {
        int n = 0;
        for (unsigned y = 0; y < s.height; ++y)
            for (unsigned x = 0; x < s.width; ++x)
                n += s.At(static_cast<int>(x), static_cast<int>(y)) == c;
        return n;
    };
    EXPECT_GT(count(result, colors::kInfoIcon), 100);
    EXPECT_EQ(count(copying, colors::kInfoIcon), 0);
    // Below the message the dialog is the active window again.
    EXPECT_EQ(copying.At(150, 8), colors::kCaption);
}

TEST_F(WindowScreenshot, UnwritablePathIsReportedAndTheRunGoesOn) {
    const e2e::RunResult r = scratch.Run("screenshot /nonexistent/dir/shot.png\ndump\nclose\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.err.find("/nonexistent/dir/shot.png"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("dialog \""), std::string::npos);
}

// The columns holding `ink` within `band`: {first, last}, or {-1, -1} when there is none.
std::pair<int, int> InkSpan(const Shot& shot, const RECT& band, Color ink) {
    std::pair<int, int> span{-1, -1};
    for (LONG x = band.left; x < band.right; ++x)
        for (LONG y = band.top; y < band.bottom; ++y)
            if (shot.At(x, y) == ink) {
                if (span.first < 0) span.first = x;
                span.second = x;
            }
    return span;
}

// The bounding box of the pixels of one colour; empty when there are none.
RECT Extent(const Shot& shot, Color colour) {
    RECT r{320, 240, 0, 0};
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            if (shot.At(x, y) == colour)
                r = {std::min<LONG>(r.left, x), std::min<LONG>(r.top, y),
                     std::max<LONG>(r.right, x + 1), std::max<LONG>(r.bottom, y + 1)};
    return r;
}

// The first text line of the message box, the only active caption: under the caption across
// the box's client width, right of the information icon where there is one.
RECT MessageLine(const Shot& shot) {
    const RECT caption = Extent(shot, colors::kCaption);
    RECT line{caption.left, caption.bottom + 8, caption.right, caption.bottom + 23};
    const RECT icon = Extent(shot, colors::kInfoIcon);
    if (!IsEmpty(icon)) line.left = icon.right + 4;
    return line;
}

// Every text the program shows is whole inside its control: its ink spans the text's width in
// the device's font and leaves the column at the control's edge free.
TEST_F(WindowScreenshot, TextsEndWholeInsideTheirControls) {
    std::ofstream(scratch.Medium() / "SETUP.INI", std::ios::binary)
        << "[PRODUCT]\r\n1=English\r\n2=Deutsch\r\n4=Portuguese (Brazil) and English\r\n";
    const e2e::RunResult ok =
        scratch.Run("dump\nscreenshot " + Out("idle.png").string() + "\nclick 1001\nscreenshot " +
                    Out("done.png").string() + "\nscreenshot-below-message " +
                    Out("copying.png").string() + "\nok\nclose\n");
    ASSERT_EQ(ok.exitStatus, 0) << ok.err;
    // A file where a destination folder belongs makes the copy fail.
    fs::remove_all(scratch.Device() / "ROMDisk2/PROGRAM/SETAPP");
    std::ofstream(scratch.Device() / "ROMDisk2/PROGRAM/SETAPP") << "x";
    const e2e::RunResult failed =
        scratch.Run("click 1001\nscreenshot " + Out("failed.png").string() + "\nok\nclose\n");
    ASSERT_EQ(failed.exitStatus, 3) << failed.err;  // a failed install, told by its status
    fs::remove(scratch.Medium() / "SETUP.INI");
    const e2e::RunResult stopped =
        scratch.Run("ok\nscreenshot " + Out("stopped.png").string() + "\nok\n");
    ASSERT_EQ(stopped.exitStatus, 1) << stopped.err;

    std::map<int, RECT> at;
    for (const DumpedControl& c : ParseDump(ok.out, POINT{2, 22})) at[c.id] = c.rect;
    ASSERT_EQ(at.size(), 7u) << ok.out;
    const RECT& list = at[1003];
    struct Row {
        const char* shot;
        std::string text;
        RECT band;
        bool rightAligned = false;
    };
    const Row rows[] = {
        {"copying.png", "Copying...", at[1002]},
        {"copying.png", "File Name:", at[1008]},
        {"idle.png", "1.02", at[1013], true},
        {"idle.png", "Install", Inset(at[1001], 4)},
        // Third entry: below two rows of 15 pixels inside the list's border.
        {"idle.png",
         "Portuguese (Brazil) and English",
         {list.left + 1, list.top + 31, list.right - 1, list.top + 46}},
        {"done.png", "Installation has been completed.", {}},
        {"failed.png", "Failed in copying files.", {}},
        {"stopped.png", "Installation is stopped.", {}},
    };
    const Font* font = DialogFont(8, 15);
    ASSERT_NE(font, nullptr);
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.shot) + " " + r.text);
        const Shot shot = ReadShot(Out(r.shot));
        ASSERT_EQ(shot.width, 320u);
        const RECT band = IsEmpty(r.band) ? MessageLine(shot) : r.band;
        const auto [first, last] = InkSpan(shot, band, colors::kText);
        ASSERT_GE(first, 0);
        // A right-aligned text would lose its start instead of its end.
        if (r.rightAligned)
            EXPECT_GT(first, band.left) << "band from " << band.left;
        else
            EXPECT_LT(last, band.right - 1) << "band " << band.left << ".." << band.right;
        EXPECT_GE(last - first + 4, font->TextWidth(std::u16string(r.text.begin(), r.text.end())))
            << first << ".." << last;
    }
}

}  // namespace
