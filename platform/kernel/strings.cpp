#include "platform/kernel/strings.h"

#include <cstdarg>
#include <cstring>
#include <string_view>

#include "platform/kernel/ns/paths.h"

namespace {

constexpr size_t kMaxCch = 2147483647;

// Bounded writer: keeps the destination terminated and remembers truncation.
struct Writer {
    LPWSTR dest;
    size_t cch;
    size_t len = 0;
    bool truncated = false;
    void Put(char16_t c) {
        if (len + 1 < cch)
            dest[len++] = c;
        else
            truncated = true;
    }
    void Put(std::u16string_view s) {
        for (char16_t c : s) Put(c);
    }
    HRESULT Finish() {
        dest[len] = 0;
        return truncated ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
    }
};

bool BadDest(LPWSTR dest, size_t cch) {
    return dest == nullptr || cch == 0 || cch > kMaxCch;
}

void PutNumber(Writer& w, unsigned long long v, bool negative, size_t width, bool left, bool zero) {
    char16_t digits[24];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    size_t total = n + (negative ? 1 : 0);
    if (!left && !zero)
        for (size_t i = total; i < width; ++i) w.Put(u' ');
    if (negative) w.Put(u'-');
    if (!left && zero)
        for (size_t i = total; i < width; ++i) w.Put(u'0');
    while (n > 0) w.Put(digits[--n]);
    if (left)
        for (size_t i = total; i < width; ++i) w.Put(u' ');
}

void Format(Writer& w, LPCWSTR fmt, va_list args) {
    for (const char16_t* p = fmt; *p != 0; ++p) {
        if (*p != u'%') {
            w.Put(*p);
            continue;
        }
        bool left = false, zero = false;
        size_t width = 0;
        for (;; ++p) {
            if (p[1] == u'-')
                left = true;
            else if (p[1] == u'0')
                zero = true;
            else
                break;
        }
        while (p[1] >= u'0' && p[1] <= u'9') width = width * 10 + static_cast<size_t>(*++p - u'0');
        while (p[1] == u'l' || p[1] == u'h') ++p;
        switch (*++p) {
            case u'd': {
                long long v = va_arg(args, int);
                PutNumber(w,
                          v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                                : static_cast<unsigned long long>(v),
                          v < 0, width, left, zero);
                break;
            }
            case u'u':
                PutNumber(w, va_arg(args, unsigned), false, width, left, zero);
                break;
            case u'c':
                w.Put(static_cast<char16_t>(va_arg(args, int)));
                break;
            case u's': {
                LPCWSTR s = va_arg(args, LPCWSTR);
                w.Put(s != nullptr ? std::u16string_view(s) : std::u16string_view(u"(null)"));
                break;
            }
            case u'%':
                w.Put(u'%');
                break;
            case 0:
                return;  // a lone '%' ends the format
            default:
                w.Put(u'%');
                w.Put(*p);
                break;
        }
    }
}

}  // namespace

int lstrlenW(LPCWSTR s) {
    return s == nullptr ? 0 : static_cast<int>(std::u16string_view(s).size());
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    std::u16string_view x(a ? a : u""), y(b ? b : u"");
    int c = x.compare(y);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    using wce::kernel::paths::FoldChar;
    const char16_t* x = a ? a : u"";
    const char16_t* y = b ? b : u"";
    for (;; ++x, ++y) {
        char16_t p = FoldChar(*x), q = FoldChar(*y);
        if (p != q) return p < q ? -1 : 1;
        if (p == 0) return 0;
    }
}

HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
    return StringCchCopyNW(pszDest, cchDest, pszSrc, kMaxCch);
}

HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy) {
    if (BadDest(pszDest, cchDest)) return STRSAFE_E_INVALID_PARAMETER;
    // Found first, then moved at once: paths are put together this way for every file copied.
    const size_t room = cchDest - 1;
    size_t n = 0;
    if (pszSrc != nullptr)
        while (n < cchToCopy && n <= room && pszSrc[n] != 0) ++n;
    const bool truncated = n > room;
    if (truncated) n = room;
    if (n > 0) std::memmove(pszDest, pszSrc, n * sizeof(char16_t));
    pszDest[n] = 0;
    return truncated ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
    if (BadDest(pszDest, cchDest)) return STRSAFE_E_INVALID_PARAMETER;
    size_t len = 0;
    while (len < cchDest && pszDest[len] != 0) ++len;
    if (len == cchDest) return STRSAFE_E_INVALID_PARAMETER;
    return StringCchCopyW(pszDest + len, cchDest - len, pszSrc);
}

HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...) {
    if (BadDest(pszDest, cchDest)) return STRSAFE_E_INVALID_PARAMETER;
    if (pszFormat == nullptr) {
        pszDest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    Writer w{pszDest, cchDest};
    va_list args;
    va_start(args, pszFormat);
    Format(w, pszFormat, args);
    va_end(args);
    return w.Finish();
}

LPCWSTR wcsrchr16(LPCWSTR s, WCHAR ch) {
    LPCWSTR found = nullptr;
    for (; s != nullptr; ++s) {
        if (*s == ch) found = s;
        if (*s == 0) break;
    }
    return found;
}
