#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/kernel/ns/utf8.h"
#include "platform/render/font.h"

namespace wce::render {
namespace {

struct LibraryCloser {
    void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceCloser {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using LibraryPtr = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryCloser>;
using FacePtr = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceCloser>;

// A rendered glyph: one coverage byte a pixel, kept so repaints never touch FreeType again.
struct Glyph {
    int left = 0, top = 0;  // bearing from the pen position on the baseline
    int width = 0, rows = 0;
    int advance = 0;
    std::vector<std::uint8_t> coverage;
};

char32_t NextCodePoint(std::u16string_view text, size_t& i) {
    char32_t cp = 0;
    i += wce::kernel::DecodeUtf16(text, i, cp);
    return cp;
}

int Pixels26_6(FT_Pos v) {
    return static_cast<int>((v + 32) >> 6);
}

void Blend(Color& dst, Color src, std::uint8_t a) {
    if (a == 255) {
        dst = src;
        return;
    }
    Color out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const Color s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        out |= ((s * a + d * (255u - a)) / 255u) << shift;
    }
    dst = out;
}

}  // namespace

struct Font::Impl {
    LibraryPtr library;
    FacePtr face;
    mutable std::unordered_map<char32_t, Glyph> cache;

    const Glyph& GlyphOf(char32_t cp) const;
    Glyph Render(char32_t cp) const;
};

Glyph Font::Impl::Render(char32_t cp) const {
    Glyph g;
    // Monochrome, hinted: the device draws its dialog font without smoothing.
    if (FT_Load_Char(face.get(), cp, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return g;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.advance = Pixels26_6(slot->advance.x);
    g.coverage.resize(static_cast<size_t>(g.width) * static_cast<size_t>(g.rows));
    for (int y = 0; y < g.rows; ++y) {
        const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
        for (int x = 0; x < g.width; ++x) {
            const bool mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
            const std::uint8_t v = mono ? ((row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0) : row[x];
            g.coverage[static_cast<size_t>(y) * g.width + x] = v;
        }
    }
    return g;
}

const Glyph& Font::Impl::GlyphOf(char32_t cp) const {
    auto it = cache.find(cp);
    if (it == cache.end()) it = cache.emplace(cp, Render(cp)).first;
    return it->second;
}

Font::Font(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;

namespace {

// The 52 letters' hinted advances, as the average character width is derived from them.
int AverageWidth(FT_Face face) {
    int sum = 0;
    for (const char32_t first : {U'A', U'a'})
        for (char32_t c = first; c < first + 26; ++c)
            if (FT_Load_Char(face, c, FT_LOAD_TARGET_MONO) == 0)
                sum += Pixels26_6(face->glyph->advance.x);
    // Half of (sum / 26 + 1): the mean over 52 letters, rounded half up.
    return (sum / 26 + 1) / 2;
}

int CellHeight(FT_Face face) {
    const FT_Size_Metrics& m = face->size->metrics;
    return static_cast<int>(((m.ascender + 63) >> 6) + ((-m.descender + 63) >> 6));
}

// The middle of the sizes (in 1/64 pixel) at which `measure` gives `target`, so that rounding
// at either end of that range cannot tip it; else the largest size that stays below it.
FT_F26Dot6 SizeFor(int target, const std::function<int(FT_F26Dot6)>& measure) {
    auto firstReaching = [&](int value) {
        FT_F26Dot6 lo = 1, hi = FT_F26Dot6{64} * 8 * (target + 1);
        while (lo < hi) {
            const FT_F26Dot6 mid = lo + (hi - lo) / 2;
            if (measure(mid) >= value)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    const FT_F26Dot6 low = firstReaching(target);
    if (measure(low) != target) return std::max<FT_F26Dot6>(1, low - 1);
    const FT_F26Dot6 mid = low + (firstReaching(target + 1) - 1 - low) / 2;
    return measure(mid) == target ? mid : low;
}

}  // namespace

std::unique_ptr<Font> Font::OpenSized(const std::string& file,
                                      const std::function<bool(FT_FaceRec_*)>& size,
                                      std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = "cannot use the font file " + file + ": " + what;
        return nullptr;
    };
    auto impl = std::make_unique<Impl>();
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) return fail("the font engine did not start");
    impl->library.reset(lib);
    FT_Face face = nullptr;
    if (FT_New_Face(lib, file.c_str(), 0, &face) != 0) return fail("not found or not a font");
    impl->face.reset(face);
    if (!size(face)) return fail("cannot be sized");

    std::unique_ptr<Font> font(new Font(std::move(impl)));
    FontMetrics& m = font->metrics_;
    m.ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    m.descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
    m.height = m.ascent + m.descent;
    m.avgCharWidth = AverageWidth(face);
    return font;
}

std::unique_ptr<Font> Font::Open(const std::string& file, int pointSize, int dpi,
                                 std::string* error) {
    if (pointSize <= 0 || dpi <= 0) {
        if (error)
            *error = "cannot use the font file " + file + ": bad size " +
                     std::to_string(pointSize) + " pt at " + std::to_string(dpi) + " dpi";
        return nullptr;
    }
    return OpenSized(
        file,
        [&](FT_Face face) {
            return FT_Set_Char_Size(face, 0, pointSize * 64, static_cast<FT_UInt>(dpi),
                                    static_cast<FT_UInt>(dpi)) == 0;
        },
        error);
}

std::unique_ptr<Font> Font::OpenAtMetrics(const std::string& file, int avgWidth, int height,
                                          std::string* error) {
    if (avgWidth <= 0 || height <= 0) {
        if (error)
            *error = "cannot use the font file " + file + ": bad size " + std::to_string(avgWidth) +
                     "x" + std::to_string(height);
        return nullptr;
    }
    // The two axes are sized apart: the height from the em alone, then the width at that height.
    return OpenSized(
        file,
        [&](FT_Face face) {
            auto set = [&](FT_F26Dot6 x, FT_F26Dot6 y) {
                return FT_Set_Char_Size(face, x, y, 72, 72) == 0;
            };
            const FT_F26Dot6 y =
                SizeFor(height, [&](FT_F26Dot6 s) { return set(s, s) ? CellHeight(face) : 0; });
            const FT_F26Dot6 x =
                SizeFor(avgWidth, [&](FT_F26Dot6 s) { return set(s, y) ? AverageWidth(face) : 0; });
            return set(x, y);
        },
        error);
}

int Font::TextWidth(std::u16string_view text) const {
    int w = 0;
    for (size_t i = 0; i < text.size();) w += impl_->GlyphOf(NextCodePoint(text, i)).advance;
    return w;
}

int Font::Draw(Image& image, int x, int top, std::u16string_view text, Color color,
               const RECT& clip) const {
    const RECT c = Intersect(clip, image.Bounds());
    const int baseline = top + metrics_.ascent;
    for (size_t i = 0; i < text.size();) {
        const Glyph& g = impl_->GlyphOf(NextCodePoint(text, i));
        const int gx = x + g.left, gy = baseline - g.top;
        for (int row = 0; row < g.rows; ++row) {
            const int py = gy + row;
            if (py < c.top || py >= c.bottom) continue;
            const std::uint8_t* cov = &g.coverage[static_cast<size_t>(row) * g.width];
            Color* dst = image.Row(py);
            for (int col = 0; col < g.width; ++col) {
                const int px = gx + col;
                if (cov[col] != 0 && px >= c.left && px < c.right) Blend(dst[px], color, cov[col]);
            }
        }
        x += g.advance;
        if (x >= c.right) break;
    }
    return x;
}

namespace {

// Fonts open for the whole process, one per size, with the error of a failed opening kept too.
const Font* Cached(std::pair<int, int> key, bool atMetrics, std::string* error) {
    struct Entry {
        std::unique_ptr<Font> font;
        std::string error;
    };
    static std::mutex lock;
    static std::map<std::tuple<int, int, bool>, Entry> fonts;
    std::lock_guard<std::mutex> guard(lock);
    const std::tuple full{key.first, key.second, atMetrics};
    auto it = fonts.find(full);
    if (it == fonts.end()) {
        Entry e;
        e.font = atMetrics ? Font::OpenAtMetrics(DialogFontFile(), key.first, key.second, &e.error)
                           : Font::Open(DialogFontFile(), kDialogPointSize, key.first, &e.error);
        it = fonts.emplace(full, std::move(e)).first;
    }
    if (!it->second.font && error) *error = it->second.error;
    return it->second.font.get();
}

}  // namespace

const Font* DialogFont(int avgWidth, int height, std::string* error) {
    return Cached({avgWidth, height}, true, error);
}

const Font* DialogFont(int dpi, std::string* error) {
    return Cached({dpi, 0}, false, error);
}

}  // namespace wce::render
