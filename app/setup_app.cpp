// The application object and its start hook.
#include "app/setup_app.h"

#include "dialog/setup_dlg.h"

BEGIN_MESSAGE_MAP(CSetupApp, CWinApp)
END_MESSAGE_MAP()

// Constructed without a name: message boxes carry the framework's default title.
CSetupApp theApp;

BOOL CSetupApp::InitInstance() {
    CSetupDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // FALSE: the dialog was the whole program, no message loop of the framework's own follows.
    return FALSE;
}
