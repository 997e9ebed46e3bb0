// The Install command: count both trees, copy them in turn with progress, report the outcome.
#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "install/install_scope.h"
#include "install/notes.h"
#include "install/walk.h"
#include "platform/user/console.h"

namespace {

constexpr int kProgressControls[] = {IDC_PROGRESS, IDC_FILE_NAME, IDC_COPYING_LABEL,
                                     IDC_FILE_NAME_LABEL};

void ShowProgressControls(HWND hDlg, int nCmdShow) {
    for (int nID : kProgressControls)
        if (HWND hCtl = GetDlgItem(hDlg, nID)) ShowWindow(hCtl, nCmdShow);
}

void ClearText(HWND hDlg, int nID) {
    if (HWND hCtl = GetDlgItem(hDlg, nID)) SetWindowTextW(hCtl, u"");
}

// A root missing at the destination has had nothing written below it: nothing to flush.
bool FlushDestination(LPCWSTR pszDstRoot) {
    // The flush may block for long: the last file's name and counter go on the screen first.
    GdiFlush();
    if (FlushVolumeW(pszDstRoot)) return true;
    const DWORD dwError = GetLastError();
    return dwError == ERROR_PATH_NOT_FOUND || dwError == ERROR_FILE_NOT_FOUND;
}

// One install at a time on a device: two at once would leave it holding a mix of two packages.
class DeviceClaim {
  public:
    DeviceClaim() : m_hClaim(ClaimFolderW(u"\\")) {}
    ~DeviceClaim() {
        if (m_hClaim != INVALID_HANDLE_VALUE) CloseHandle(m_hClaim);
    }
    DeviceClaim(const DeviceClaim&) = delete;
    DeviceClaim& operator=(const DeviceClaim&) = delete;
    bool Held() const { return m_hClaim != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_hClaim;
};

// The dialog whose copy a stop event ends after the file in flight.
CSetupDlg* g_pStopping = nullptr;

BOOL OnStopEvent(DWORD dwCtrlType) {
    if (g_pStopping == nullptr) return FALSE;
    g_pStopping->m_bStopRequested = TRUE;
    g_pStopping->m_dwStopEvent = dwCtrlType;
    return TRUE;
}

// Stop events are taken for as long as the copy runs; a taken one ends the process when it ends.
class StopHandler {
  public:
    explicit StopHandler(CSetupDlg& dlg) {
        g_pStopping = &dlg;
        SetConsoleCtrlHandler(OnStopEvent, TRUE);
    }
    ~StopHandler() {
        g_pStopping = nullptr;
        SetConsoleCtrlHandler(OnStopEvent, FALSE);
    }
    StopHandler(const StopHandler&) = delete;
    StopHandler& operator=(const StopHandler&) = delete;
};

}  // namespace

void CSetupDlg::OnInstall() {
    // A click queued before the dialog was disabled arrives during the copy's message drain.
    if (m_bInstalling) return;
    const int nSel = m_lbProducts.GetCurSel();
    if (nSel < 0 || nSel >= MAX_PRODUCTS) return;
    install::InstallScope busy(*this);

    // 1-4: sources beside the program, fixed destinations; a source too long to compose fails.
    WCHAR szSrcSetApp[MAX_PATH];
    WCHAR szSrcTav[MAX_PATH];
    WCHAR szProduct[MAX_PATH];
    const bool bSources =
        install::ComposePath(szProduct, m_szSetupDir, u"PRODUCT", m_aszProductKeys[nSel]) &&
        install::ComposePath(szSrcSetApp, szProduct, u"\\SETAPP\\") &&
        install::ComposePath(szSrcTav, szProduct, u"\\TAV\\");
    m_bNameClash = FALSE;
    m_bStopRequested = FALSE;
    // A key the device's names cannot hold names no folder: the package counts as empty.
    const bool bNamesFolder = catalogue::KeyCaution(m_aszProductKeys[nSel]) == nullptr;
    if (bSources) AnnounceInstall(nSel, szProduct, bNamesFolder);
    m_nTotalFiles =
        bSources && bNamesFolder ? CountFiles(szSrcSetApp, FALSE) + CountFiles(szSrcTav, FALSE) : 0;
    static constexpr WCHAR szDstSetApp[] = u"\\ROMDisk2\\PROGRAM\\SETAPP\\";
    static constexpr WCHAR szDstTav[] = u"\\ROMDisk\\PROGRAM\\TAV\\";

    // 5-7: busy.
    EnableWindow(FALSE);
    ShowProgressControls(m_hWnd, SW_SHOW);
    ClearText(m_hWnd, IDC_PROGRESS);
    ClearText(m_hWnd, IDC_FILE_NAME);
    m_nCopiedFiles = 0;
    m_nNewFiles = 0;

    // 8: the second tree only after the first; each destination flushed to its medium after it.
    // What is known to fail (no room, a path too long) fails before anything is copied.
    const LPCWSTR aszSrc[2] = {szSrcSetApp, szSrcTav};
    const LPCWSTR aszDst[2] = {szDstSetApp, szDstTav};
    bool bCopied = false;
    {
        const DeviceClaim claim;
        const StopHandler stop(*this);
        bCopied = claim.Held() && bSources && !m_bNameClash &&
                  (!bNamesFolder ||
                   (CheckFits(aszSrc, aszDst) && CopyTree(szSrcSetApp, szDstSetApp, FALSE) &&
                    FlushDestination(szDstSetApp) && CopyTree(szSrcTav, szDstTav, FALSE) &&
                    FlushDestination(szDstTav)));
        // A signal that came during the last flush is taken here.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        if (m_bStopRequested)
            install::CurrentNotes().Interrupted(m_dwStopEvent, m_nCopiedFiles, m_nTotalFiles,
                                                m_nNewFiles);
    }
    if (!::IsWindow(m_hWnd)) return;

    // 9-11: report, then idle.
    MessageBox(bCopied ? u"Installation has been completed." : u"Failed in copying files.",
               AfxGetAppName(), MB_OK | MB_ICONINFORMATION);
    if (!::IsWindow(m_hWnd)) return;
    EnableWindow(TRUE);
    ShowProgressControls(m_hWnd, SW_HIDE);
}
