// Marks the dialog busy with a walk for as long as the scope lives. While it is busy the dialog's
// destroy handler leaves the walk stack alone; the outermost scope releases the stack itself
// when the window went away under the walk.
#pragma once

#include "dialog/setup_dlg.h"

namespace install {

class InstallScope {
  public:
    explicit InstallScope(CSetupDlg& dlg);
    ~InstallScope();
    InstallScope(const InstallScope&) = delete;
    InstallScope& operator=(const InstallScope&) = delete;

  private:
    CSetupDlg& m_dlg;
    BOOL m_bWasInstalling;
};

}  // namespace install
