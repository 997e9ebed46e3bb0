// The check of the device against a package: every file of both trees compared with the device's,
// read from the card past the caches; nothing is written.
#include <cstring>

#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "install/install_scope.h"
#include "install/notes.h"
#include "install/walk.h"
#include "platform/kernel/heap.h"

namespace {

constexpr DWORD kChunk = 64 * 1024;

class File {
  public:
    File(LPCWSTR pszPath, DWORD dwFlags)
        : m_h(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, dwFlags,
                          nullptr)) {}
    ~File() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE Get() const { return m_h; }

  private:
    HANDLE m_h;
};

// nullptr when the two files hold the same bytes, else why they do not.
const char* Compare(LPCWSTR pszPackage, LPCWSTR pszDevice, BYTE* pBuf) {
    const File package(pszPackage, 0);
    const File device(pszDevice, FILE_FLAG_NO_BUFFERING);
    if (package.Get() == INVALID_HANDLE_VALUE) return "the package's file cannot be read";
    if (device.Get() == INVALID_HANDLE_VALUE) return "the device's file cannot be read";
    DWORD dwHighP = 0, dwHighD = 0;
    const DWORD dwLowP = GetFileSize(package.Get(), &dwHighP);
    const DWORD dwLowD = GetFileSize(device.Get(), &dwHighD);
    if (dwLowP != dwLowD || dwHighP != dwHighD) return "its size differs";
    for (;;) {
        DWORD nP = 0, nD = 0;
        if (!ReadFile(package.Get(), pBuf, kChunk, &nP, nullptr))
            return "the package's file cannot be read";
        if (!ReadFile(device.Get(), pBuf + kChunk, kChunk, &nD, nullptr))
            return "the device's file cannot be read";
        if (nP != nD || std::memcmp(pBuf, pBuf + kChunk, nP) != 0) return "its bytes differ";
        if (nP == 0) return nullptr;
    }
}

struct CheckHooks {
    LPCWSTR pszDstRoot;
    BYTE* pBuf;
    int nFiles = 0;
    int nMissing = 0;
    int nDifferent = 0;

    bool Root(WalkFrame& root) {
        return SUCCEEDED(StringCchCopyW(root.szDstDir, MAX_PATH, pszDstRoot));
    }
    bool Pass() { return true; }
    // A path the device cannot hold was never installed.
    bool Overlong(LPCWSTR pszDir, LPCWSTR pszName) {
        WCHAR szPath[MAX_PATH];
        StringCchCopyW(szPath, MAX_PATH, pszDir);
        StringCchCatW(szPath, MAX_PATH, pszName);
        ++nMissing;
        install::CurrentNotes().CheckMissing(szPath);
        return true;
    }
    bool Unreadable() {
        ++nDifferent;
        install::CurrentNotes().CheckDifferent(pszDstRoot,
                                               "a folder of the package cannot be read");
        return true;
    }
    void Met(const WalkFrame&, int, LPCWSTR) {}
    void SkippedDot(const WalkFrame&, LPCWSTR) {}

    bool EnterDir(WalkFrame* frames, int depth, LPCWSTR pszName) {
        LPWSTR pszDir = frames[depth].szDstDir;
        if (!install::ComposePath(pszDir, frames[depth - 1].szDstDir, pszName, u"\\"))
            return Overlong(frames[depth - 1].szDstDir, pszName);
        pszDir[lstrlenW(pszDir) - 1] = 0;
        if (!install::EntryExists(pszDir)) {
            ++nMissing;
            install::CurrentNotes().CheckMissing(pszDir);
        }
        return SUCCEEDED(StringCchCatW(pszDir, MAX_PATH, u"\\"));
    }

    bool File(const WalkFrame& top, LPCWSTR pszName) {
        WCHAR szSrc[MAX_PATH];
        WCHAR szDst[MAX_PATH];
        if (!install::ComposePath(szSrc, top.szSrcDir, pszName) ||
            !install::ComposePath(szDst, top.szDstDir, pszName))
            return Overlong(top.szDstDir, pszName);
        ++nFiles;
        if (!install::EntryExists(szDst)) {
            ++nMissing;
            install::CurrentNotes().CheckMissing(szDst);
        } else if (const char* pszWhy = Compare(szSrc, szDst, pBuf)) {
            ++nDifferent;
            install::CurrentNotes().CheckDifferent(szDst, pszWhy);
        }
        return true;
    }
};

}  // namespace

BOOL CSetupDlg::CheckPackage() {
    const int nSel = m_lbProducts.GetCurSel();
    if (nSel < 0 || nSel >= MAX_PRODUCTS) return FALSE;
    install::InstallScope busy(*this);
    WCHAR szProduct[MAX_PATH];
    WCHAR aszSrc[2][MAX_PATH];
    static constexpr LPCWSTR kDst[2] = {u"\\ROMDisk2\\PROGRAM\\SETAPP\\",
                                        u"\\ROMDisk\\PROGRAM\\TAV\\"};
    const bool bNamesFolder = catalogue::KeyCaution(m_aszProductKeys[nSel]) == nullptr;
    const bool bSources =
        install::ComposePath(szProduct, m_szSetupDir, u"PRODUCT", m_aszProductKeys[nSel]) &&
        install::ComposePath(aszSrc[0], szProduct, u"\\SETAPP\\") &&
        install::ComposePath(aszSrc[1], szProduct, u"\\TAV\\");
    auto* pBuf = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, 2 * kChunk));
    if (pBuf == nullptr) return FALSE;
    CheckHooks hooks{nullptr, pBuf};
    for (int i = 0; bSources && bNamesFolder && i < 2; ++i) {
        hooks.pszDstRoot = kDst[i];
        install::Walk<CheckHooks> walk(m_pWalkStack, hooks);
        walk.Run(aszSrc[i]);
    }
    HeapFree(GetProcessHeap(), 0, pBuf);
    CString name;
    m_lbProducts.GetText(nSel, name);
    install::CurrentNotes().Checked(name, m_aszProductKeys[nSel], hooks.nFiles, hooks.nMissing,
                                    hooks.nDifferent);
    return hooks.nMissing == 0 && hooks.nDifferent == 0;
}
