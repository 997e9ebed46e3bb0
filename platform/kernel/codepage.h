// Code-page conversion (iconv underneath).
#pragma once

#include "platform/kernel/wintypes.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// cbMultiByte -1 converts the NUL too; cchWideChar 0 returns the length needed. A bad or cut
// sequence becomes U+FFFD and conversion goes on. Returns units written; 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit (the buffer then holds what fitted).
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
// The ANSI code page in use (WCE_CODEPAGE, default 932).
UINT GetACP();

namespace wce::kernel {
// The iconv name of a code page, nullptr for one the device does not know.
const char* IconvNameOf(UINT codePage);
// Closes the converter kept open, for a device configured anew.
void ResetCodePage();
}  // namespace wce::kernel
