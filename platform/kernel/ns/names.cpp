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
        } else {
            AppendUtf16(cp, out);
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
        } else if (char32_t cp = 0; DecodeUtf16(name, i, cp) == 2) {
            AppendUtf8(cp, out);
            ++i;
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
