// UTF-8 <-> UTF-16 for what the window system prints and reads; bad sequences become U+FFFD.
#include "platform/user/text.h"

#include "platform/kernel/ns/utf8.h"
#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

using wce::kernel::DecodeUtf16;
using wce::kernel::DecodeUtf8;
using wce::kernel::IsSurrogate;

// The code point at text[i], an unpaired surrogate as U+FFFD; i moves past it.
char32_t NextCodePoint(std::u16string_view text, size_t& i) {
    char32_t c = 0;
    i += DecodeUtf16(text, i, c);
    return IsSurrogate(c) ? U'\uFFFD' : c;
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size();) wce::kernel::AppendUtf8(NextCodePoint(s, i), out);
    return out;
}

std::u16string Utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        char32_t c = 0;
        const size_t len = DecodeUtf8(s, i, c);
        // One U+FFFD for each byte that starts no valid sequence; the next byte is tried afresh.
        wce::kernel::AppendUtf16(len > 0 ? c : U'\uFFFD', out);
        i += len > 0 ? len : 1;
    }
    return out;
}

std::string Escaped(std::u16string_view text, std::string_view alsoEscaped) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        if (c == U'\n') {
            out += "\\n";
        } else if (c == U'\r') {
            out += "\\r";
        } else if (c == U'\t') {
            out += "\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        } else {
            if (c < 0x80 && alsoEscaped.find(static_cast<char>(c)) != alsoEscaped.npos) out += '\\';
            wce::kernel::AppendUtf8(c, out);
        }
    }
    return out;
}

}  // namespace wce::user
