// The tree copy with progress, on the shared walk.
#include "dialog/setup_dlg.h"
#include "install/install_scope.h"
#include "install/notes.h"
#include "install/walk.h"
#include "platform/kernel/heap.h"

namespace install {

InstallScope::InstallScope(CSetupDlg& dlg) : m_dlg(dlg), m_bWasInstalling(dlg.m_bInstalling) {
    m_dlg.m_bInstalling = TRUE;
}

InstallScope::~InstallScope() {
    m_dlg.m_bInstalling = m_bWasInstalling;
    if (!m_bWasInstalling && !::IsWindow(m_dlg.m_hWnd)) {
        HeapFree(GetProcessHeap(), 0, m_dlg.m_pWalkStack);
        m_dlg.m_pWalkStack = nullptr;
    }
}

}  // namespace install

namespace {

// Two full 32-bit counts with their signs, the separator and the terminator.
constexpr size_t kCounterLen = 2 * 11 + 3 + 1;

void DrainMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void ShowNow(HWND hDlg, int nID, LPCWSTR pszText) {
    if (HWND hCtl = GetDlgItem(hDlg, nID)) {
        SetWindowTextW(hCtl, pszText);
        UpdateWindow(hCtl);
    }
}

struct CopyHooks {
    CSetupDlg& dlg;
    int bCopyAll;
    LPCWSTR pszDstRoot;

    bool Root(WalkFrame& root) {
        return SUCCEEDED(StringCchCopyW(root.szDstDir, MAX_PATH, pszDstRoot));
    }

    // A window destroyed by a dispatched message ends the copy: there is nobody to report to. A
    // stop event ends it here too, between two files.
    bool Pass() {
        DrainMessages();
        return ::IsWindow(dlg.m_hWnd) != FALSE && !dlg.m_bStopRequested;
    }

    // A file or folder that cannot be placed is a failure, never a silent omission.
    bool Overlong(LPCWSTR pszDir, LPCWSTR pszName) {
        install::CurrentNotes().Overlong(pszDir, pszName);
        return false;
    }
    bool Unreadable() { return false; }
    void Met(const WalkFrame&, int, LPCWSTR) {}
    void SkippedDot(const WalkFrame& top, LPCWSTR pszName) {
        install::CurrentNotes().Skipped(top.szSrcDir, pszName);
    }

    bool EnterDir(WalkFrame* frames, int depth, LPCWSTR pszName) {
        LPWSTR pszDir = frames[depth].szDstDir;
        if (!install::ComposePath(pszDir, frames[depth - 1].szDstDir, pszName, u"\\"))
            return Overlong(frames[depth - 1].szDstDir, pszName);
        pszDir[lstrlenW(pszDir) - 1] = 0;
        if (!install::EntryExists(pszDir) && !CreateDirectoryW(pszDir, nullptr)) return false;
        return SUCCEEDED(StringCchCatW(pszDir, MAX_PATH, u"\\"));
    }

    bool File(const WalkFrame& top, LPCWSTR pszName) {
        WCHAR szSrc[MAX_PATH];
        WCHAR szDst[MAX_PATH];
        if (!install::ComposePath(szSrc, top.szSrcDir, pszName))
            return Overlong(top.szSrcDir, pszName);
        if (!install::ComposePath(szDst, top.szDstDir, pszName))
            return Overlong(top.szDstDir, pszName);
        const bool bShown = bCopyAll || !(GetFileAttributesW(szSrc) & FILE_ATTRIBUTE_HIDDEN);
        if (bShown) ShowProgress(pszName);
        // An existing target is made replaceable but not deleted: the copy replaces it in one
        // step, so a copy that fails leaves the old file in place. The reset never acts through
        // a link, so a target that is the source reached through one keeps the source intact.
        const bool bExisted = install::EntryExists(szDst);
        if (bExisted) SetFileAttributesW(szDst, FILE_ATTRIBUTE_NORMAL);
        if (!CopyFileW(szSrc, szDst, FALSE)) return false;
        if (bShown && !bExisted) ++dlg.m_nNewFiles;
        return true;
    }

    void ShowProgress(LPCWSTR pszName) {
        ShowNow(dlg.m_hWnd, IDC_FILE_NAME, pszName);
        ++dlg.m_nCopiedFiles;
        WCHAR szCounter[kCounterLen];
        StringCchPrintfW(szCounter, kCounterLen, u"%d / %d", dlg.m_nCopiedFiles, dlg.m_nTotalFiles);
        ShowNow(dlg.m_hWnd, IDC_PROGRESS, szCounter);
    }
};

}  // namespace

int CSetupDlg::CopyTree(LPCWSTR pszSrcRoot, LPCWSTR pszDstRoot, int bCopyAll) {
    install::InstallScope busy(*this);
    CopyHooks hooks{*this, bCopyAll, pszDstRoot};
    install::Walk<CopyHooks> walk(m_pWalkStack, hooks);
    if (walk.Run(pszSrcRoot)) return 1;
    // The first copy or folder below a missing root fails for want of its folder: a fresh device
    // has the root, so say which one is missing rather than the entry that met it.
    WCHAR szRoot[MAX_PATH];
    if (SUCCEEDED(StringCchCopyW(szRoot, MAX_PATH, pszDstRoot)) && lstrlenW(szRoot) > 1) {
        szRoot[lstrlenW(szRoot) - 1] = 0;
        // Only where it is missing: a root that cannot be read keeps the cause its copy met.
        if (::IsWindow(m_hWnd) && !install::EntryExists(szRoot) &&
            (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
            install::CurrentNotes().NoDestination(pszDstRoot);
    }
    return 0;
}
