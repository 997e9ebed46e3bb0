#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/kernel/codepage.h"
#include "platform/kernel/device.h"
#include "platform/kernel/errors.h"

namespace wce::kernel {

const char* IconvNameOf(UINT codePage) {
    switch (codePage) {
        case 437:
            return "CP437";
        case 850:
            return "CP850";
        case 874:
            return "CP874";
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        case 949:
            return "CP949";
        case 950:
            return "CP950";
        case 1250:
            return "CP1250";
        case 1251:
            return "CP1251";
        case 1252:
            return "CP1252";
        case 1253:
            return "CP1253";
        case 1254:
            return "CP1254";
        case 1255:
            return "CP1255";
        case 1256:
            return "CP1256";
        case 1257:
            return "CP1257";
        case 1258:
            return "CP1258";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        case CP_UTF8:
            return "UTF-8";
        default:
            return nullptr;
    }
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
        (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
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
