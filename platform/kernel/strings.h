// UTF-16 string helpers: the unbounded classics and bounded variants that report truncation.
#pragma once

#include "platform/kernel/wintypes.h"

int lstrlenW(LPCWSTR s);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
// Case-insensitive as device file names are.
int lstrcmpiW(LPCWSTR a, LPCWSTR b);

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = static_cast<HRESULT>(0x8007007AL);
inline constexpr HRESULT STRSAFE_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057L);
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// StringCch*: on overflow the text is truncated and terminated, STRSAFE_E_INSUFFICIENT_BUFFER.
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy);
HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
// printf-style formatting supporting %d, %u, %s (UTF-16), %c and %%; bounded as above.
HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...);

LPCWSTR wcsrchr16(LPCWSTR s, WCHAR ch);
