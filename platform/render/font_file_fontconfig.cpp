// Where the dialog font's file is: named outright, carried beside the program, or found
// through fontconfig as the desktop finds its fonts.
#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/render/font.h"

namespace wce::render {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPreferredFamily = "IPAPGothic";

struct ConfigCloser {
    void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
struct PatternCloser {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetCloser {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
using ConfigPtr = std::unique_ptr<FcConfig, ConfigCloser>;
using PatternPtr = std::unique_ptr<FcPattern, PatternCloser>;
using FontSetPtr = std::unique_ptr<FcFontSet, FontSetCloser>;

// A portable medium carries its font in fonts/ beside the program, for machines without one.
std::string BundledFontFile() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    std::vector<fs::path> found;
    // Stepped with an error code: a card pulled mid-listing must not throw out of the lookup.
    for (fs::directory_iterator it(exe.parent_path() / "fonts", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string ext = it->path().extension().string();
        if (ext == ".ttf" || ext == ".otf" || ext == ".TTF" || ext == ".OTF")
            found.push_back(it->path());
    }
    if (found.empty()) return {};
    return std::min_element(found.begin(), found.end())->string();
}

std::string StringOf(FcPattern* font, const char* object, int n = 0) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(font, object, n, &value) != FcResultMatch || !value) return {};
    return reinterpret_cast<const char*>(value);
}

bool HasFamily(FcPattern* font, const std::vector<std::string>& families) {
    for (int n = 0;; ++n) {
        const std::string family = StringOf(font, FC_FAMILY, n);
        if (family.empty()) return false;
        if (std::find(families.begin(), families.end(), family) != families.end()) return true;
    }
}

// A face the renderer can open by file alone (index 0), that writes Japanese, with glyphs of
// their own widths: fixed-pitch gothics set Latin text too wide for the dialog's layout.
bool Usable(FcPattern* font) {
    int index = 0, spacing = FC_PROPORTIONAL;
    FcBool outline = FcTrue;
    FcLangSet* langs = nullptr;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    FcPatternGetInteger(font, FC_SPACING, 0, &spacing);
    FcPatternGetBool(font, FC_OUTLINE, 0, &outline);
    const bool japanese =
        FcPatternGetLangSet(font, FC_LANG, 0, &langs) == FcResultMatch &&
        FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) == FcLangEqual;
    return index == 0 && outline && spacing == FC_PROPORTIONAL && japanese &&
           !StringOf(font, FC_FILE).empty();
}

// The families fontconfig's configuration counts as sans-serif for Japanese, in its order.
std::vector<std::string> GothicFamilies(FcConfig* config) {
    PatternPtr pattern(FcPatternCreate());
    std::vector<std::string> families{kPreferredFamily};
    if (!pattern) return families;
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    for (int n = 0;; ++n) {
        const std::string family = StringOf(pattern.get(), FC_FAMILY, n);
        if (family.empty()) break;
        if (family != "sans-serif") families.push_back(family);
    }
    return families;
}

// The first usable font of the first family in `families` that has one.
std::string FirstOf(FcConfig* config, const std::vector<std::string>& families) {
    PatternPtr all(FcPatternCreate());
    std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> objects(
        FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_SPACING, FC_OUTLINE, FC_LANG, nullptr),
        &FcObjectSetDestroy);
    FontSetPtr fonts(FcFontList(config, all.get(), objects.get()));
    if (!fonts) return {};
    for (const std::string& family : families) {
        std::vector<std::string> files;
        for (int i = 0; i < fonts->nfont; ++i) {
            FcPattern* font = fonts->fonts[i];
            if (HasFamily(font, {family}) && Usable(font)) files.push_back(StringOf(font, FC_FILE));
        }
        // A family installed twice (a copy under another name) must give the same file each run.
        if (!files.empty()) return *std::min_element(files.begin(), files.end());
    }
    return {};
}

std::string FontconfigFontFile(std::string* error) {
    ConfigPtr config(FcInitLoadConfigAndFonts());
    if (!config) {
        *error = "fontconfig could not load its configuration";
        return {};
    }
    const std::string file = FirstOf(config.get(), GothicFamilies(config.get()));
    if (file.empty())
        *error = std::string("no dialog font: fontconfig finds neither ") + kPreferredFamily +
                 " nor another proportional Japanese gothic font (install fonts-ipafont-gothic, "
                 "or name a font file in WCE_FONT_FILE)";
    return file;
}

}  // namespace

std::string FindDialogFontFile(std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    if (const char* f = std::getenv("WCE_FONT_FILE"); f && *f) return f;
    if (std::string bundled = BundledFontFile(); !bundled.empty()) return bundled;
    return FontconfigFontFile(error);
}

std::string DialogFontFile() {
    std::string error;
    std::string file = FindDialogFontFile(&error);
    if (file.empty()) {
        // Said once: callers open the font per screen density.
        static std::once_flag said;
        std::call_once(said, [&] { std::fprintf(stderr, "%s\n", error.c_str()); });
    }
    return file;
}

}  // namespace wce::render
