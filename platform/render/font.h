// The dialog font drawn from a real font file, with its metrics as the device derives them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/render/image.h"

struct FT_FaceRec_;

namespace wce::render {

struct FontMetrics {
    int ascent;        // pixels above the baseline
    int descent;       // pixels below it
    int height;        // ascent + descent: the character height
    int avgCharWidth;  // (sum of the advances of A-Z and a-z / 26 + 1) / 2, truncating
};

class Font {
  public:
    // Opens `file` at `pointSize` points and `dpi` pixels per inch. nullptr with *error set
    // (naming the file) when it cannot be opened or sized.
    static std::unique_ptr<Font> Open(const std::string& file, int pointSize, int dpi,
                                      std::string* error);
    // Opens `file` with the em stretched so the font measures `avgWidth` x `height` pixels, the
    // height set first, then the width at that height; where hinting skips a value the nearest
    // size below it is taken. nullptr with *error set (naming the file) as Open.
    static std::unique_ptr<Font> OpenAtMetrics(const std::string& file, int avgWidth, int height,
                                               std::string* error);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const FontMetrics& Metrics() const { return metrics_; }
    // Advance width of the text in pixels.
    int TextWidth(std::u16string_view text) const;
    // Draws one line whose cell starts at (x, top); pixels outside clip are left alone.
    // Returns the x after the last glyph.
    int Draw(Image& image, int x, int top, std::u16string_view text, Color color,
             const RECT& clip) const;

  private:
    struct Impl;
    static std::unique_ptr<Font> OpenSized(const std::string& file,
                                           const std::function<bool(FT_FaceRec_*)>& size,
                                           std::string* error);
    explicit Font(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    FontMetrics metrics_{};
};

// The dialog font's file: WCE_FONT_FILE, else a font in fonts/ beside the executable, else
// fontconfig's IPAPGothic, else another proportional Japanese gothic it knows. Empty when there
// is none, with *error saying what is missing.
std::string FindDialogFontFile(std::string* error);
// The same, saying once on stderr what is missing when there is none.
std::string DialogFontFile();
inline constexpr int kDialogPointSize = 11;

// The dialog font drawn at the device profile's metrics (average character width and height in
// pixels), opened once per size for the whole process, so the picture's text takes the room the
// dialog units give it. nullptr with *error set when the font file is missing or unreadable.
const Font* DialogFont(int avgWidth, int height, std::string* error = nullptr);
// The dialog font at its own metrics for 11 points at `dpi`; the same errors.
const Font* DialogFont(int dpi, std::string* error);

}  // namespace wce::render
