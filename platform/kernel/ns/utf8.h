// UTF-8 and UTF-16, one code point at a time: the only place either is decoded or encoded.
#pragma once

#include <string>
#include <string_view>

namespace wce::kernel {

inline void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) return out.push_back(static_cast<char>(cp));
    const int more = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;  // continuation bytes
    // The lead byte's low byte: 0xC0, 0xE0 or 0xF0, with the top bits of cp.
    out.push_back(static_cast<char>((0xFF00 >> (more + 1)) | (cp >> (6 * more))));
    for (int k = more - 1; k >= 0; --k)
        out.push_back(static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F)));
}

inline void AppendUtf16(char32_t cp, std::u16string& out) {
    if (cp < 0x10000) return out.push_back(static_cast<char16_t>(cp));
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
}

// The valid UTF-8 sequence at s[i]: its length and code point; 0 for bytes that are none
// (overlong, surrogates, beyond U+10FFFF, cut short).
inline size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80                 ? 1
                       : c >= 0xC2 && c <= 0xDF ? 2
                       : c >= 0xE0 && c <= 0xEF ? 3
                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = len == 1 ? c : c & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// The code point at s[i] and how many units it takes (1 or 2); an unpaired surrogate is taken
// as itself, one unit: callers decide whether it is an error or U+FFFD.
inline size_t DecodeUtf16(std::u16string_view s, size_t i, char32_t& cp) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
        return 2;
    }
    cp = u;
    return 1;
}

inline bool IsSurrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

}  // namespace wce::kernel
