// The dialog font drawn from a real font file, with its metrics as the device derives them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/render/image.h"

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

// The dialog font at `dpi`, opened once per density for the whole process. nullptr with *error
// set when the font file is missing or unreadable.
const Font* DialogFont(int dpi, std::string* error = nullptr);

// The dialog font's average character width and character height at `dpi`, for the dialog-unit
// conversion. False (outputs untouched) when the font cannot be opened.
bool DialogFontMetrics(int dpi, int* avgWidth, int* height);

}  // namespace wce::render
