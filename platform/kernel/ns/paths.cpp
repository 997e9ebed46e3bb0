#include "platform/kernel/ns/paths.h"

#include "platform/kernel/ns/utf8.h"

namespace wce::kernel::paths {

char16_t FoldChar(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs upper/lower on even/odd, shifted by one in 0x139..0x148, 0x179..
        bool oddBlock = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        bool lower = oddBlock ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? static_cast<char16_t>(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool FoldedEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

void AppendFolded(std::u16string_view s, std::u16string& out) {
    for (char16_t c : s) out.push_back(FoldChar(c));
}

bool HasWildcard(std::u16string_view s) {
    return s.find_first_of(u"*?") != std::u16string_view::npos;
}

bool MatchPattern(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*") pattern = u"*";
    size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || FoldChar(pattern[p]) == FoldChar(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

Status Normalize(std::u16string_view path, Components& out) {
    out.count = 0;
    if (path.empty() || path[0] != u'\\') return Error{EINVAL, Kind::BadName};
    if (path.size() > kMaxPathUnits) return Error{ENAMETOOLONG, Kind::BadName};
    // One pass over the characters: every lookup starts here.
    const char16_t* p = path.data();
    const size_t n = path.size();
    for (size_t start = 1, i = 1; i <= n; ++i) {
        if (i < n && p[i] != u'\\') continue;
        const size_t len = i - start;
        const char16_t* part = p + start;
        start = i + 1;
        if (len == 0 || (len == 1 && part[0] == u'.')) continue;
        if (len == 2 && part[0] == u'.' && part[1] == u'.') {
            if (out.count > 0) --out.count;
            continue;
        }
        out.items.at[out.count++] = {part, len};
    }
    return {};
}

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

}  // namespace wce::kernel::paths
