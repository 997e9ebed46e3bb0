// CDialog: modal dialogs from the module's templates.
#include "platform/framework/internal.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

LRESULT CDialog::DoModal() {
    const DialogTemplate* tmpl = FindDialogTemplate(m_nIDTemplate);
    if (!tmpl || m_hWnd) return -1;
    wce::framework::SetCreatingWindow(this);
    const HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    HWND hDlg =
        CreateDialogIndirectParamW(AfxGetInstanceHandle(), tmpl, owner, wce::framework::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    wce::framework::SetCreatingWindow(nullptr);
    if (!hDlg) return -1;
    const LRESULT result = RunModalLoop(hDlg);
    if (::IsWindow(hDlg)) ::DestroyWindow(hDlg);
    wce::framework::DeleteTempObjects();
    return result;
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam)) return TRUE;
    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
    if (LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}
