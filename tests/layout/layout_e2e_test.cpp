// The real program, started headless on a scratch medium, dumps the adapted layout of its dialog.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/scratch_folder.h"

namespace fs = std::filesystem;

namespace {

struct Rect {
    int l, t, r, b;
    bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rect& rc) {
    return os << rc.l << ',' << rc.t << ',' << rc.r << ',' << rc.b;
}

// A medium holding a catalogue and a fresh device, removed with the test.
class ScratchSetup {
  public:
    ScratchSetup() {
        fs::create_directories(m_dir / "medium");
        fs::create_directories(m_dir / "device/ROMDisk/PROGRAM/TAV");
        fs::create_directories(m_dir / "device/ROMDisk2/PROGRAM/SETAPP");
        std::ofstream(m_dir / "medium/SETUP.INI", std::ios::binary)
            << "[PRODUCT]\r\n1=English\r\n2=Deutsch\r\n";
        std::ofstream(m_dir / "script") << "dump\n";
    }

    // Runs the program under the given dialog font and density; its standard output.
    std::string Run(const std::string& font, const std::string& dpi, int* status) const {
        const std::string cmd = "WCE_DISPLAY=headless WCE_SCRIPT='" + (m_dir / "script").string() +
                                "' WCE_ROOT='" + (m_dir / "device").string() + "' WCE_MEDIUM='" +
                                (m_dir / "medium").string() + "' WCE_FONT=" + font +
                                " WCE_DPI=" + dpi + " '" + SETUP_BINARY + "' 2>&1";
        std::string out;
        FILE* pipe = ::popen(cmd.c_str(), "r");
        if (pipe == nullptr) return out;
        std::array<char, 4096> buf{};
        size_t n = 0;
        while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
        const int rc = ::pclose(pipe);
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return out;
    }

  private:
    wce::test::ScratchFolder m_folder;
    fs::path m_dir = m_folder.path();
};

// Control rectangles of the first dump, by control ID.
std::map<int, Rect> ControlRects(const std::string& dump) {
    std::map<int, Rect> rects;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
        int id = 0;
        Rect rc{};
        char kind[16] = {};
        if (std::sscanf(line.c_str(), "control %d %15s rect=%d,%d,%d,%d", &id, kind, &rc.l, &rc.t,
                        &rc.r, &rc.b) == 6 &&
            rects.count(id) == 0)
            rects[id] = rc;
    }
    return rects;
}

struct Profile {
    const char* font;
    const char* dpi;
    std::map<int, Rect> expected;
};

// Dialog units become pixels edge by edge (u * w / 4 and v * h / 8, halves away from zero);
// the frame is b = 2 and the caption makes t = 22; each edge c then goes to
// RoundHalfAway((c + 2) * S - 2) with Sx = 2000 / Px, Sy = 1875 / Py; m = dpi * 11 / 72 + 1.
//
// 7x15 at 96 dpi: Px = 1750, Py = 1875, Sx = 8/7, Sy = 1, m = 15.
//   x units  0   2   36   38   58   74   98  120  155  156
//   pixels   0   4   63   67  102  130  172  210  271  273
//   scaled   0   5   72   77  117  149  197  240  310  312   e.g. (67+2)*8/7-2 = 76.86 -> 77
//   y units  0  72   74   84   86   96   98  102  112
//   pixels   0 135  139  158  161  180  184  191  210     unchanged (Sy = 1)
//   every text control is at least 19 high: no height rule.
// 5x12 at 192 dpi: Px = 1250, Py = 1500, Sx = 1.6, Sy = 1.25, m = 2112 / 72 + 1 = 30.
//   x units  0   2   36   38   58   74   98  120  155  156
//   pixels   0   3   45   48   73   93  123  150  194  195
//   scaled   1   6   73   78  118  150  198  241  312  313   e.g. (0+2)*1.6-2 = 1.2 -> 1
//   y units  0  72   74   84   86   96   98  102  112
//   pixels   0 108  111  126  129  144  147  153  168
//   scaled   1 136  139  158  162  181  184  192  211        e.g. (0+2)*1.25-2 = 0.5 -> 1
//   text controls below 30 grow to 30 from their top: 139->169, 162->192, 192->222, 184->214;
//   the list box has no text and keeps its height.
const Profile kProfiles[] = {
    {"7x15",
     "96",
     {{1003, {0, 0, 312, 135}},
      {1002, {5, 139, 72, 158}},
      {1005, {77, 161, 312, 180}},
      {1007, {77, 139, 149, 158}},
      {1008, {5, 161, 77, 180}},
      {1013, {240, 191, 310, 210}},
      {1001, {117, 184, 197, 210}}}},
    {"5x12",
     "192",
     {{1003, {1, 1, 313, 136}},
      {1002, {6, 139, 73, 169}},
      {1005, {78, 162, 313, 192}},
      {1007, {78, 139, 150, 169}},
      {1008, {6, 162, 78, 192}},
      {1013, {241, 192, 312, 222}},
      {1001, {118, 184, 198, 214}}}},
};

TEST(LayoutEndToEnd, DumpShowsAdaptedLayoutUnderDeviceProfiles) {
    ScratchSetup setup;
    for (const Profile& profile : kProfiles) {
        SCOPED_TRACE(std::string("WCE_FONT=") + profile.font + " WCE_DPI=" + profile.dpi);
        int status = -1;
        const std::string out = setup.Run(profile.font, profile.dpi, &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(ControlRects(out), profile.expected) << out;
    }
}

// A font without width or height would give the dialog no dialog-unit rate: refused at start.
TEST(LayoutEndToEnd, FontWithoutWidthOrHeightIsRefused) {
    ScratchSetup setup;
    for (const char* font : {"0x15", "7x0"}) {
        SCOPED_TRACE(font);
        int status = -1;
        const std::string out = setup.Run(font, "96", &status);
        EXPECT_EQ(status, 2);
        EXPECT_NE(out.find("WCE_FONT"), std::string::npos) << out;
        EXPECT_EQ(out.find("dialog \""), std::string::npos) << out;
    }
}

}  // namespace
