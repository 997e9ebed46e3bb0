// Helpers of the shared walk: the stack block, bounded path composition, the existence test.
#include "install/walk.h"

#include "platform/kernel/heap.h"

namespace install {

bool ResizeWalkStack(WalkFrame*& rpStack, int nFrames) {
    const SIZE_T cb = static_cast<SIZE_T>(nFrames) * sizeof(WalkFrame);
    void* pBlock = rpStack ? HeapReAlloc(GetProcessHeap(), 0, rpStack, cb)
                           : HeapAlloc(GetProcessHeap(), 0, cb);
    if (!pBlock) return false;
    rpStack = static_cast<WalkFrame*>(pBlock);
    return true;
}

bool ComposePath(WCHAR* dest, LPCWSTR dir, LPCWSTR name, LPCWSTR tail) {
    if (SUCCEEDED(StringCchCopyW(dest, MAX_PATH, dir)) &&
        SUCCEEDED(StringCchCatW(dest, MAX_PATH, name)) &&
        SUCCEEDED(StringCchCatW(dest, MAX_PATH, tail)))
        return true;
    dest[0] = 0;
    return false;
}

bool EntryExists(LPCWSTR pszPath) {
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pszPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    FindClose(hFind);
    return true;
}

}  // namespace install
