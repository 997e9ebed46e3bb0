// The installer's application object.
#pragma once

#include "platform/framework/afxwin.h"

class CSetupApp : public CWinApp {
  public:
    CSetupApp() = default;
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
