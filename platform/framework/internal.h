// Framework internals shared by its source files.
#pragma once

#include "platform/framework/afxwin.h"

// Routes a window's messages to its framework object.
LRESULT AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

namespace wce::framework {

// The window procedure of every dialog the framework creates.
LRESULT DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// The dialog object whose window is being created; it attaches at its first message.
void SetCreatingWindow(CWnd* pWnd);
// Drops temporary window objects (idle time).
void DeleteTempObjects();
// Sets the application title from the device's executable name when none was given.
void InitApplication(CWinApp& app);

}  // namespace wce::framework
