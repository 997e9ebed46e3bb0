#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/kernel/codepage.h"
#include "platform/kernel/device.h"
#include "platform/kernel/errors.h"

namespace wce::kernel {

const char* IconvNameOf(UINT codePage) {
    static constexpr struct {
        UINT codePage;
        const char* name;
    } kNames[] = {{437, "CP437"},   {850, "CP850"},        {874, "CP874"},    {932, "CP932"},
                  {936, "CP936"},   {949, "CP949"},        {950, "CP950"},    {1250, "CP1250"},
                  {1251, "CP1251"}, {1252, "CP1252"},      {1253, "CP1253"},  {1254, "CP1254"},
                  {1255, "CP1255"}, {1256, "CP1256"},      {1257, "CP1257"},  {1258, "CP1258"},
                  {20127, "ASCII"}, {28591, "ISO-8859-1"}, {CP_UTF8, "UTF-8"}};
    for (const auto& n : kNames)
        if (n.codePage == codePage) return n.name;
    return nullptr;
}

namespace {

constexpr char16_t kReplacement = 0xFFFD;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* kWide = "UTF-16LE";
#else
constexpr const char* kWide = "UTF-16BE";
#endif

// One converter kept open: opening iconv costs far more than a line of text.
struct Converter {
    UINT codePage = 0;
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    ~Converter() { Close(); }
    void Close() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        cd = reinterpret_cast<iconv_t>(-1);
        codePage = 0;
    }
    bool Open(UINT cp) {
        if (cd != reinterpret_cast<iconv_t>(-1) && codePage == cp) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            return true;
        }
        Close();
        const char* name = IconvNameOf(cp);
        if (name == nullptr) return false;
        cd = iconv_open(kWide, name);
        codePage = cp;
        return cd != reinterpret_cast<iconv_t>(-1);
    }
};

Converter& Conv() {
    thread_local Converter c;
    return c;
}

// Appends units to the caller's buffer, or only counts them when there is none.
struct Sink {
    LPWSTR out;
    size_t capacity;
    size_t count = 0;
    bool overflow = false;
    void Put(const char16_t* units, size_t n) {
        if (out != nullptr) {
            size_t room = capacity > count ? capacity - count : 0;
            if (n > room) overflow = true;
            std::memcpy(out + count, units, std::min(n, room) * sizeof(char16_t));
        }
        count += n;
    }
};

void Convert(iconv_t cd, const char* src, size_t len, Sink& sink) {
    char16_t chunk[256];
    auto* in = const_cast<char*>(src);
    size_t inLeft = len;
    while (inLeft > 0 && !sink.overflow) {
        auto* outp = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof chunk;
        size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        int err = r == static_cast<size_t>(-1) ? errno : 0;
        sink.Put(chunk, (sizeof chunk - outLeft) / sizeof(char16_t));
        if (err == EILSEQ || err == EINVAL) {
            // A byte that starts no valid character: mark it and go on with the next byte.
            sink.Put(&kReplacement, 1);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            break;
        }
    }
}

}  // namespace

void ResetCodePage() {
    Conv().Close();
}

}  // namespace wce::kernel

UINT GetACP() {
    return wce::kernel::CurrentDevice().codePage;
}

int MultiByteToWideChar(UINT CodePage, DWORD /*dwFlags*/, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    using namespace wce::kernel;
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == nullptr))
        return FailWith(0, ERROR_INVALID_PARAMETER);
    UINT cp = CodePage == CP_ACP ? GetACP() : CodePage;
    if (!Conv().Open(cp)) return FailWith(0, ERROR_INVALID_PARAMETER);
    size_t len =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    Sink sink{cchWideChar > 0 ? lpWideCharStr : nullptr, static_cast<size_t>(cchWideChar)};
    Convert(Conv().cd, lpMultiByteStr, len, sink);
    if (sink.overflow) return FailWith(0, ERROR_INSUFFICIENT_BUFFER);
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(sink.count);
}
