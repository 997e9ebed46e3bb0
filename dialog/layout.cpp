// Adapting the control layout to the screen.
#include "dialog/setup_dlg.h"

void CSetupDlg::AdjustLayout() {}

int CSetupDlg::RoundHalfAway(double value) { return static_cast<int>(value); }
