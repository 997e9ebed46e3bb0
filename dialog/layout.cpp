// Adapting the control layout to the screen: the template is drawn for a dialog font of 8 x 15
// pixels, so the controls are re-laid at that font's rates whatever font the device renders.
#include <climits>
#include <cmath>

#include "dialog/setup_dlg.h"

namespace {

// Pixels that 1000 dialog units take with the font the template was drawn for.
constexpr int FIXED_RATE_X = 2000;
constexpr int FIXED_RATE_Y = 1875;
// Point size of the template's font; a text control lower than it at the display's density
// (plus one pixel) would clip its text.
constexpr int TEMPLATE_FONT_POINTS = 11;
constexpr int POINTS_PER_INCH = 72;
constexpr UINT LAYOUT_SWP_FLAGS = SWP_NOZORDER | SWP_NOACTIVATE;

}  // namespace

void CSetupDlg::AdjustLayout() {
    // Step 1: minimum text height at the display's vertical density.
    HDC hDC = GetDC();
    const int nDpiY = ::GetDeviceCaps(hDC, LOGPIXELSY);
    ReleaseDC(hDC);
    const int nMinTextHeight = nDpiY * TEMPLATE_FONT_POINTS / POINTS_PER_INCH + 1;

    // Step 2: this dialog's actual rates.
    RECT rcUnits = {0, 0, 1000, 1000};
    MapDialogRect(&rcUnits);
    const int nPx = rcUnits.right;
    const int nPy = rcUnits.bottom;
    // A font without width or height gives no rate to scale from: keep the template's layout.
    if (nPx <= 0 || nPy <= 0) return;
    const double dScaleX = static_cast<double>(FIXED_RATE_X) / static_cast<double>(nPx);
    const double dScaleY = static_cast<double>(FIXED_RATE_Y) / static_cast<double>(nPy);

    // Step 3: frame width and top inset, both read before any child moves.
    RECT rcClient;
    RECT rcWindow;
    GetClientRect(&rcClient);
    GetWindowRect(&rcWindow);
    const int b = ((rcWindow.right - rcWindow.left) - (rcClient.right - rcClient.left)) / 2;
    const int t = ((rcWindow.bottom - rcWindow.top) - (rcClient.bottom - rcClient.top)) - b;

    // Step 4: every direct child, each in its own one-window batch.
    CString strText;
    for (CWnd* pChild = CWnd::FromHandle(::GetWindow(m_hWnd, GW_CHILD)); pChild != nullptr;
         pChild = CWnd::FromHandle(::GetWindow(pChild->m_hWnd, GW_HWNDNEXT))) {
        RECT rc;
        pChild->GetWindowRect(&rc);
        const int L = rc.left - rcWindow.left - b;
        const int R = rc.right - rcWindow.left - b;
        const int T = rc.top - rcWindow.top - t;
        const int B = rc.bottom - rcWindow.top - t;

        // The pivot lies one frame width outside the client origin, vertically as well.
        const double db = static_cast<double>(b);
        const int nLeft = RoundHalfAway(static_cast<double>(L + b) * dScaleX - db);
        const int nRight = RoundHalfAway(static_cast<double>(R + b) * dScaleX - db);
        const int nTop = RoundHalfAway(static_cast<double>(T + b) * dScaleY - db);
        int nBottom = RoundHalfAway(static_cast<double>(B + b) * dScaleY - db);

        if (nBottom - nTop < nMinTextHeight) {
            pChild->GetWindowText(strText);
            if (!strText.IsEmpty()) nBottom = nTop + nMinTextHeight;
        }

        HDWP hDwp = ::BeginDeferWindowPos(1);
        if (hDwp != nullptr)
            hDwp = ::DeferWindowPos(hDwp, pChild->m_hWnd, nullptr, nLeft, nTop, nRight - nLeft,
                                    nBottom - nTop, LAYOUT_SWP_FLAGS);
        if (hDwp != nullptr) ::EndDeferWindowPos(hDwp);
    }

    // Step 5: the one text buffer of the walk is released.
    strText.Empty();
}

int CSetupDlg::RoundHalfAway(double value) {
    // Beyond the 32-bit range the truncations below are undefined: saturate, and NaN is 0.
    if (std::isnan(value)) return 0;
    const bool bNegative = value < 0;
    double a = std::fabs(value);
    a += 0.00000000001;
    if (a >= 2147483648.0) return bNegative ? INT_MIN : INT_MAX;
    const double w = static_cast<double>(static_cast<int>(a));
    if (a - w >= 0.5) a += 1.0;
    if (bNegative) a = -a;
    if (a >= 2147483648.0) return INT_MAX;
    if (a <= -2147483649.0) return INT_MIN;
    return static_cast<int>(a);
}
