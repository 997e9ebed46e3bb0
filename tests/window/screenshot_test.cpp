// The screenshot actions of the real program, checked against the geometry its dump reports.
#include <gtest/gtest.h>
#include <png.h>

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
    static const std::regex line(R"(control (\d+) (\w+) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+) visible=(\d))");
    std::vector<DumpedControl> controls;
    for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it) {
        const std::smatch& m = *it;
        auto n = [&](int i) { return std::stoi(m[i].str()); };
        controls.push_back({n(1), m[2].str(),
                            RECT{n(3) + clientOrigin.x, n(4) + clientOrigin.y, n(5) + clientOrigin.x,
                                 n(6) + clientOrigin.y},
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
    const e2e::RunResult r = scratch.Run("select 1\nclick 1001\nscreenshot " +
                                         Out("result.png").string() +
                                         "\nscreenshot-below-message " +
                                         Out("copying.png").string() + "\nok\nclose\n");
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const Shot result = ReadShot(Out("result.png")), copying = ReadShot(Out("copying.png"));
    ASSERT_EQ(result.width, 320u);
    ASSERT_EQ(copying.width, 320u);
    auto count = [](const Shot& s, Color c) {
        int n = 0;
        for (unsigned y = 0; y < s.height; ++y)
            for (unsigned x = 0; x < s.width; ++x) n += s.At(static_cast<int>(x), static_cast<int>(y)) == c;
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

}  // namespace
