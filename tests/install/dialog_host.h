// A live installer dialog for tests and benchmarks: the real window with its controls and a walk
// stack, without the catalogue start-up. The body runs once the dialog is initialised.
#pragma once

#include <functional>
#include <vector>

#include "dialog/setup_dlg.h"
#include "platform/kernel/heap.h"

namespace install_test {

inline constexpr UINT WM_TEST_PING = WM_USER + 0x100;     // counted
inline constexpr UINT WM_TEST_DESTROY = WM_USER + 0x101;  // destroys the dialog window

class HostedDlg : public CSetupDlg {
  public:
    std::function<void(HostedDlg&)> body;
    int nPings = 0;  // test pings dispatched to the dialog

    HWND Control(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    using CSetupDlg::OnDestroy;

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ::ShowWindow(m_hWnd, SW_SHOW);  // repaints reach the display only from visible windows
        m_pWalkStack = static_cast<WalkFrame*>(HeapAlloc(GetProcessHeap(), 0, sizeof(WalkFrame)));
        if (body) body(*this);
        if (::IsWindow(m_hWnd)) EndDialog(IDOK);
        return TRUE;
    }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TEST_PING) ++nPings;
        if (message == WM_TEST_DESTROY) {
            ::DestroyWindow(m_hWnd);
            return 0;
        }
        return CSetupDlg::WindowProc(message, wParam, lParam);
    }
};

inline void RunInDialog(const std::function<void(HostedDlg&)>& body) {
    HostedDlg dlg;
    dlg.body = body;
    dlg.DoModal();
}

}  // namespace install_test
