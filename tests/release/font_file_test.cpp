// The dialog font's lookup against fontconfig configurations made for each case, so the result
// does not depend on the fonts this machine happens to have.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/render/font.h"
#include "tests/support/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using wce::render::FindDialogFontFile;

const fs::path kIpaDir = "/usr/share/fonts/opentype/ipafont-gothic";

// A font folder and a fontconfig configuration that sees only it; `rules` are added verbatim.
class FontFolder {
  public:
    FontFolder(const std::vector<std::string>& fonts, const std::string& rules) {
        fs::create_directories(base_ / "fonts");
        for (const std::string& f : fonts) fs::copy_file(kIpaDir / f, base_ / "fonts" / f);
        std::ofstream(base_ / "fonts.conf")
            << "<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"fonts.dtd\"><fontconfig>"
            << "<dir>" << (base_ / "fonts").string() << "</dir><cachedir>"
            << (base_ / "cache").string() << "</cachedir>" << rules << "</fontconfig>";
        setenv("FONTCONFIG_FILE", (base_ / "fonts.conf").c_str(), 1);
    }
    ~FontFolder() { unsetenv("FONTCONFIG_FILE"); }
    fs::path Font(const std::string& name) const { return base_ / "fonts" / name; }

  private:
    wce::test::ScratchFolder folder_;
    fs::path base_ = folder_.path();
};

// Gives the proportional IPA font another family name, as another vendor's gothic would have.
const std::string kRenamed =
    "<match target=\"scan\"><test name=\"family\"><string>IPAPGothic</string></test>"
    "<edit name=\"family\" mode=\"assign\" binding=\"same\"><string>Other PGothic</string></edit>"
    "</match>";
const std::string kOtherIsGothic =
    "<alias><family>sans-serif</family><prefer><family>Other PGothic</family></prefer></alias>";

TEST(DialogFontFile, FoundThroughFontconfigInOrderOfPreference) {
    if (!fs::exists(kIpaDir / "ipagp.ttf") || !fs::exists(kIpaDir / "ipag.ttf"))
        GTEST_SKIP() << "the IPA gothic fonts are not installed in " << kIpaDir;
    unsetenv("WCE_FONT_FILE");
    struct Row {
        const char* what;
        std::vector<std::string> fonts;
        std::string rules;
        const char* expected;  // file name in the folder; empty when none may be found
    };
    const Row rows[] = {
        {"IPAPGothic before the fixed-pitch gothic", {"ipag.ttf", "ipagp.ttf"}, "", "ipagp.ttf"},
        {"another proportional gothic",
         {"ipag.ttf", "ipagp.ttf"},
         kRenamed + kOtherIsGothic,
         "ipagp.ttf"},
        {"a proportional font not known as a gothic", {"ipagp.ttf"}, kRenamed, ""},
        {"only a fixed-pitch gothic", {"ipag.ttf"}, kOtherIsGothic, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FontFolder folder(r.fonts, r.rules);
        std::string error;
        const std::string file = FindDialogFontFile(&error);
        if (*r.expected) {
            EXPECT_EQ(file, folder.Font(r.expected).string()) << error;
        } else {
            EXPECT_EQ(file, "");
            EXPECT_NE(error.find("IPAPGothic"), std::string::npos) << error;
            EXPECT_NE(error.find("WCE_FONT_FILE"), std::string::npos) << error;
        }
    }
}

}  // namespace
