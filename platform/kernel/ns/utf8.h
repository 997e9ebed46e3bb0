// UTF-8 encoding of one code point, shared by everything that turns UTF-16 into host text.
#pragma once

#include <string>

namespace wce::kernel {

inline void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) return out.push_back(static_cast<char>(cp));
    const int more = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;  // continuation bytes
    // The lead byte's low byte: 0xC0, 0xE0 or 0xF0, with the top bits of cp.
    out.push_back(static_cast<char>((0xFF00 >> (more + 1)) | (cp >> (6 * more))));
    for (int k = more - 1; k >= 0; --k)
        out.push_back(static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F)));
}
}  // namespace wce::kernel
