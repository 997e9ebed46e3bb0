#include "platform/kernel/ns/names.h"

#include "platform/kernel/ns/utf8.h"

namespace wce::kernel::names {
namespace {

constexpr char16_t kReservedBase = 0xF000;
constexpr char16_t kByteEscapeBase = 0xDC00;

// The characters a device name cannot hold.
bool IsReserved(char32_t c) {
    return c < 0x80 &&
           std::u16string_view(u"\\:*?\"<>|").find(char16_t(c)) != std::u16string_view::npos;
}

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when the bytes are invalid.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = b(0);
    size_t len = c < 0x80                 ? 1
                 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = len == 1 ? c : len == 2 ? c & 0x1Fu : len == 3 ? c & 0x0Fu : c & 0x07u;
    for (size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3Fu);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

void HostToDevice(std::string_view host, std::u16string& out) {
    out.reserve(out.size() + host.size());
    for (size_t i = 0; i < host.size();) {
        char32_t cp = 0;
        size_t len = DecodeUtf8(host, i, cp);
        bool collides = cp >= kReservedBase && IsReserved(cp - kReservedBase);
        if (len == 0 || collides) {
            size_t n = len == 0 ? 1 : len;
            for (size_t k = 0; k < n; ++k)
                out.push_back(static_cast<char16_t>(kByteEscapeBase +
                                                    static_cast<unsigned char>(host[i + k])));
            i += n;
        } else if (IsReserved(cp)) {
            out.push_back(static_cast<char16_t>(kReservedBase + cp));
            i += len;
        } else if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            i += len;
        } else {
            out.push_back(static_cast<char16_t>(cp));
            i += len;
        }
    }
}

Status DeviceToHost(std::u16string_view name, std::string& out) {
    out.reserve(out.size() + name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t u = name[i];
        if (u < 0x80 && u != 0 && u != u'/' && !IsReserved(u)) {
            out.push_back(static_cast<char>(u));
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
                   name[i + 1] <= 0xDFFF) {
            AppendUtf8(0x10000 + ((char32_t(u - 0xD800) << 10) | char32_t(name[++i] - 0xDC00)),
                       out);
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - kByteEscapeBase));
        } else if ((u >= 0xD800 && u <= 0xDFFF) || IsReserved(u) || u == u'/' || u == 0) {
            return Error{EINVAL, Kind::BadName};
        } else if (u >= kReservedBase && IsReserved(char32_t(u - kReservedBase))) {
            out.push_back(static_cast<char>(u - kReservedBase));
        } else {
            AppendUtf8(u, out);
        }
    }
    return {};
}

}  // namespace wce::kernel::names
