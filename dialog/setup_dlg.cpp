// The installer dialog: construction, start-up order, stop path and destruction.
#include "dialog/setup_dlg.h"

#include <cstdlib>

#include "platform/kernel/heap.h"
#include "platform/kernel/strings.h"

BEGIN_MESSAGE_MAP(CSetupDlg, CDialog)
ON_BN_CLICKED(IDC_INSTALL, OnInstall)
ON_WM_DESTROY()
END_MESSAGE_MAP()

CSetupDlg::CSetupDlg(CWnd* pParent)
    : CDialog(IDD, pParent),
      m_hIcon(LoadIconW(AfxGetResourceHandle(), IDI_SETUP)),
      m_szSetupDir{},
      m_aszProductKeys{},
      m_nTotalFiles(0),
      m_nCopiedFiles(0) {}

void CSetupDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRODUCT_LIST, m_lbProducts);
}

BOOL CSetupDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_pWalkStack = static_cast<WalkFrame*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WalkFrame)));
    if (m_pWalkStack == nullptr) {
        // Every install needs the stack: better to stop now than to fail each Install later.
        AfxMessageBox(u"Failed in allocating memory.");
        StopInstaller();
    }

    AdjustLayout();

    ::SetWindowPos(m_hWnd, HWND_BOTTOM, 0, 0, 320, 240, SWP_NOACTIVATE);

    GetDlgItem(IDC_VERSION)->SetWindowText(u"1.02");
    GetDlgItem(IDC_COPYING_LABEL)->SetWindowText(u"Copying...");
    GetDlgItem(IDC_FILE_NAME_LABEL)->SetWindowText(u"File Name:");

    GetDlgItem(IDC_PROGRESS)->ShowWindow(SW_HIDE);
    GetDlgItem(IDC_FILE_NAME)->ShowWindow(SW_HIDE);
    GetDlgItem(IDC_COPYING_LABEL)->ShowWindow(SW_HIDE);
    GetDlgItem(IDC_FILE_NAME_LABEL)->ShowWindow(SW_HIDE);

    FindSetupDir();

    if (!LoadCatalogue()) StopInstaller();
    return TRUE;
}

void CSetupDlg::FindSetupDir() {
    SetLastError(ERROR_SUCCESS);
    const DWORD len = GetModuleFileNameW(nullptr, m_szSetupDir, MAX_PATH);
    m_szSetupDir[MAX_PATH - 1] = 0;
    // A cut path may end inside a parent folder's name: no directory is better than a wrong one.
    const bool whole = len > 0 && len < MAX_PATH && GetLastError() != ERROR_INSUFFICIENT_BUFFER;
    LPCWSTR pszSlash = whole ? wcsrchr16(m_szSetupDir, u'\\') : nullptr;
    if (pszSlash == nullptr) {
        m_szSetupDir[0] = 0;  // the catalogue then reads as not found
        return;
    }
    m_szSetupDir[pszSlash - m_szSetupDir + 1] = 0;
}

void CSetupDlg::StopInstaller() {
    AfxMessageBox(u"Installation is stopped.");
    EndDialog(IDCANCEL);
    std::exit(1);
}

void CSetupDlg::OnDestroy() {
    CDialog::OnDestroy();
    // A running install still walks on the stack; it frees the block when it finds us gone.
    if (m_bInstalling) return;
    HeapFree(GetProcessHeap(), 0, m_pWalkStack);
    m_pWalkStack = nullptr;
}
