// Layout adaptation on dialogs made for the test: chosen frames, fonts, densities and controls.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "dialog/setup_dlg.h"
#include "platform/user/device_profile.h"

namespace {

constexpr DWORD kCaptionFrame = WS_POPUP | WS_CAPTION;  // frame 2, top inset 22
constexpr DWORD kBorderFrame = WS_POPUP | WS_BORDER;    // frame 1, top inset 1
constexpr DWORD kNoFrame = WS_POPUP;                    // frame 0

struct Font {
    int avgWidth, height;
};
constexpr Font kFixedRates{8, 15};  // Px 2000, Py 1875
constexpr Font kOnePixel{4, 8};     // Px 1000, Py 1000
constexpr Font kDefault{7, 15};     // Px 1750, Py 1875

enum Kind { kStatic, kList, kButton };

struct Control {
    Kind kind;
    LPCWSTR text;  // nullptr for none
    RECT rc;       // client coordinates, pixels
    DWORD extraStyle = 0;
};

// A rectangle that compares and prints, for expectations.
struct Box {
    LONG left, top, right, bottom;
    bool operator==(const Box&) const = default;
};

Box BoxOf(const RECT& rc) {
    return {rc.left, rc.top, rc.right, rc.bottom};
}

std::ostream& operator<<(std::ostream& os, const Box& rc) {
    return os << '{' << rc.left << ',' << rc.top << ',' << rc.right << ',' << rc.bottom << '}';
}

// A dialog window made from a small template under a chosen font, its controls then placed at
// exact pixel rectangles; a CSetupDlg is attached to it for the adaptation.
class TestDialog {
  public:
    TestDialog(DWORD frameStyle, Font font, int dpi, const std::vector<Control>& controls) {
        wce::user::SetDialogFontMetrics(font.avgWidth, font.height);
        wce::user::SetLogPixelsY(dpi);
        for (size_t i = 0; i < controls.size(); ++i)
            m_items.push_back(ItemOf(controls[i], static_cast<WORD>(2000 + i)));
        const DialogTemplate tmpl{frameStyle,     0,  10,      5,      150,    110,
                                  u"layout test", 11, u"Test", 0x0411, m_items};
        m_hWnd = CreateDialogIndirectParamW(nullptr, &tmpl, nullptr, &AcceptInit, 0);
        for (size_t i = 0; i < controls.size(); ++i) {
            const RECT& rc = controls[i].rc;
            ::SetWindowPos(Child(i), nullptr, rc.left, rc.top, rc.right - rc.left,
                           rc.bottom - rc.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    ~TestDialog() {
        m_dlg.Detach();
        ::DestroyWindow(m_hWnd);
        wce::user::SetDialogFontMetrics(kDefault.avgWidth, kDefault.height);
        wce::user::SetLogPixelsY(96);
    }
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;

    void Adjust() {
        m_dlg.Attach(m_hWnd);
        m_dlg.AdjustLayout();
        m_dlg.Detach();
    }
    HWND Window() const { return m_hWnd; }
    HWND Child(size_t i) const { return ::GetDlgItem(m_hWnd, static_cast<int>(2000 + i)); }

    // A control's rectangle in the dialog's real client coordinates.
    Box ClientRectOf(size_t i) const {
        RECT rc{};
        ::GetWindowRect(Child(i), &rc);
        POINT tl{rc.left, rc.top};
        POINT br{rc.right, rc.bottom};
        ::ScreenToClient(m_hWnd, &tl);
        ::ScreenToClient(m_hWnd, &br);
        return {tl.x, tl.y, br.x, br.y};
    }

  private:
    static LRESULT AcceptInit(HWND, UINT, WPARAM, LPARAM) { return TRUE; }

    static DialogItemTemplate ItemOf(const Control& c, WORD id) {
        static constexpr LPCWSTR kClass[] = {u"STATIC", u"LISTBOX", u"BUTTON"};
        static constexpr DWORD kStyle[] = {SS_LEFT, WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT,
                                           BS_PUSHBUTTON | WS_TABSTOP};
        return {WS_CHILD | WS_VISIBLE | kStyle[c.kind] | c.extraStyle,
                0,
                0,
                0,
                10,
                10,
                id,
                kClass[c.kind],
                c.text};
    }

    std::vector<DialogItemTemplate> m_items;
    HWND m_hWnd = nullptr;
    CSetupDlg m_dlg;
};

TEST(LayoutRound, RoundHalfAwayTable) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int expected;
    } rows[] = {
        {6.5, 7},
        {-8.5, -9},
        {2.4, 2},
        {-0.3, 0},
        {-0.5, -1},
        {2.5, 3},
        {-2.5, -3},
        {0.0, 0},
        {-0.0, 0},
        {19.625, 20},
        {-0.125, 0},
        {8.375, 8},
        {2.499999999999, 3},  // within the tolerance below one half
        {2.49999999998, 2},   // just outside it
        // Where the tolerance is lost in the magnitude's precision an exact half still goes away.
        {1e9 + 0.5, 1000000001},
        {-1e9 - 0.5, -1000000001},
        // Beyond the 32-bit range the result saturates; NaN has no side and gives 0.
        {2147483647.4, INT_MAX},
        {2147483647.6, INT_MAX},
        {3e9, INT_MAX},
        {kInf, INT_MAX},
        {-2147483648.4, INT_MIN},
        {-2147483648.6, INT_MIN},
        {-3e9, INT_MIN},
        {-kInf, INT_MIN},
        {std::nan(""), 0},
        {1e300, INT_MAX},
        {-1e300, INT_MIN},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(CSetupDlg::RoundHalfAway(row.value), row.expected);
    }
}

TEST(LayoutAdjust, DialogWithoutChildrenIsLeftAlone) {
    TestDialog dlg(kCaptionFrame, kDefault, 96, {});
    RECT outerBefore{}, clientBefore{}, outerAfter{}, clientAfter{};
    ::GetWindowRect(dlg.Window(), &outerBefore);
    ::GetClientRect(dlg.Window(), &clientBefore);
    dlg.Adjust();
    ::GetWindowRect(dlg.Window(), &outerAfter);
    ::GetClientRect(dlg.Window(), &clientAfter);
    EXPECT_EQ(BoxOf(outerAfter), BoxOf(outerBefore));
    EXPECT_EQ(BoxOf(clientAfter), BoxOf(clientBefore));
    EXPECT_EQ(::GetWindow(dlg.Window(), GW_CHILD), nullptr);
}

struct ScaleCase {
    const char* name;
    DWORD frame;
    Font font;
    std::vector<Control> controls;
    std::vector<Box> expected;
};

// Density 0 makes the minimum text height 1, so only the scaling shows here.
TEST(LayoutAdjust, ScalesEdgesAboutThePointOneFrameOutsideTheClientOrigin) {
    const ScaleCase cases[] = {
        {"fixed rates keep every rectangle",
         kCaptionFrame,
         kFixedRates,
         {{kStatic, u"a", {2, 74, 36, 84}},
          {kList, nullptr, {-7, -3, 313, 140}},
          {kButton, u"b", {117, 184, 197, 210}}},
         {{2, 74, 36, 84}, {-7, -3, 313, 140}, {117, 184, 197, 210}}},
        // b = 1: x 2 -> 5, 0 -> 1, -5 -> -9; y 3 -> 6.5 -> 7, 10 -> 19.625 -> 20,
        // 4 -> 8.375 -> 8, -5 -> -8.5 -> -9.
        {"one pixel a unit, frame 1",
         kBorderFrame,
         kOnePixel,
         {{kStatic, u"a", {-5, -5, 2, 3}}, {kList, nullptr, {0, 4, 2, 10}}},
         {{-9, -9, 5, 7}, {1, 8, 5, 20}}},
        // b = 2: y -1 -> -0.125 -> 0; x 0 -> 2, 10 -> 22; y 20 -> 39.25 -> 39.
        {"one pixel a unit, frame 2",
         kCaptionFrame,
         kOnePixel,
         {{kStatic, u"a", {0, -1, 10, 20}}},
         {{2, 0, 22, 39}}},
        // b = 0: y 4 -> 7.5 -> 8, -4 -> -7.5 -> -8; x -4 -> -8, 4 -> 8.
        {"one pixel a unit, no frame",
         kNoFrame,
         kOnePixel,
         {{kStatic, u"a", {-4, -4, 4, 4}}},
         {{-8, -8, 8, 8}}},
        // Px 1750, b = 2: x 12 -> 14, 54 -> 62, 236 -> 270; Py 1875 leaves y alone.
        // Hidden and disabled controls are adapted as well.
        {"default font, frame 2",
         kCaptionFrame,
         kDefault,
         {{kStatic, u"a", {12, 5, 54, 25}, 0},
          {kList, nullptr, {54, 30, 236, 60}},
          {kButton, u"b", {12, 61, 236, 80}, WS_DISABLED}},
         {{14, 5, 62, 25}, {62, 30, 270, 60}, {14, 61, 270, 80}}},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestDialog dlg(c.frame, c.font, 0, c.controls);
        ::ShowWindow(dlg.Child(0), SW_HIDE);
        dlg.Adjust();
        for (size_t i = 0; i < c.expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(dlg.ClientRectOf(i), c.expected[i]);
        }
    }
}

// A dialog 3 pixels wide with a caption has a client area 0 wide: an outer-client difference of
// 3, so the frame counts as 1 and the top inset as 24 - 1 = 23. At the fixed rates every edge is
// then carried over from the assumed client origin (1 right, 1 down of the real one) to the real
// one: one pixel right and one up.
TEST(LayoutAdjust, OddFrameDifferenceTruncatesTheFrameWidth) {
    TestDialog dlg(kCaptionFrame, kFixedRates, 0, {{kStatic, u"a", {10, 10, 40, 30}}});
    ::SetWindowPos(dlg.Window(), nullptr, 0, 0, 3, 100, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT outer{}, client{};
    ::GetWindowRect(dlg.Window(), &outer);
    ::GetClientRect(dlg.Window(), &client);
    ASSERT_EQ((outer.right - outer.left) - (client.right - client.left), 3);
    dlg.Adjust();
    EXPECT_EQ(dlg.ClientRectOf(0), (Box{11, 9, 41, 29}));
}

TEST(LayoutAdjust, MinimumTextHeightFollowsTheDensity) {
    const struct {
        int dpi;
        int m;
    } rows[] = {{96, 15}, {192, 30}, {72, 12}, {0, 1}, {120, 19}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dpi);
        TestDialog dlg(kCaptionFrame, kFixedRates, row.dpi, {{kStatic, u"a", {10, 20, 50, 20}}});
        dlg.Adjust();
        EXPECT_EQ(dlg.ClientRectOf(0), (Box{10, 20, 50, 20 + row.m}));
    }
}

// At 96 dpi the minimum text height is 15; tops and widths never change.
TEST(LayoutAdjust, HeightRuleGrowsOnlyLowControlsWithText) {
    TestDialog dlg(kCaptionFrame, kFixedRates, 96,
                   {{kStatic, u"exact", {0, 0, 40, 15}},
                    {kStatic, u"low", {0, 20, 40, 34}},
                    {kStatic, u"", {0, 40, 40, 54}},
                    {kList, nullptr, {0, 60, 100, 63}},
                    {kButton, u"Install", {50, 0, 90, 10}},
                    {kStatic, u"hidden", {50, 20, 90, 25}},
                    {kStatic, u"tall", {50, 40, 90, 70}}});
    ::ShowWindow(dlg.Child(5), SW_HIDE);
    dlg.Adjust();
    const Box expected[] = {{0, 0, 40, 15},  {0, 20, 40, 35},  {0, 40, 40, 54}, {0, 60, 100, 63},
                            {50, 0, 90, 15}, {50, 20, 90, 35}, {50, 40, 90, 70}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dlg.ClientRectOf(i), expected[i]);
    }
}

TEST(LayoutAdjust, KeepsSiblingOrderFocusAndActivation) {
    TestDialog dlg(kCaptionFrame, kDefault, 192,
                   {{kList, nullptr, {0, 0, 100, 50}},
                    {kStatic, u"a", {0, 60, 30, 70}},
                    {kButton, u"b", {40, 60, 80, 70}},
                    {kStatic, u"c", {90, 60, 120, 70}}});
    // Another top-level window is the active one; the dialog's button holds the focus.
    TestDialog other(kCaptionFrame, kDefault, 192, {});
    ::SetFocus(dlg.Child(2));
    const HWND active = ::GetActiveWindow();
    ASSERT_EQ(active, other.Window());
    std::vector<HWND> before;
    for (HWND h = ::GetWindow(dlg.Window(), GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        before.push_back(h);
    const Box moved = dlg.ClientRectOf(3);

    dlg.Adjust();

    std::vector<HWND> after;
    for (HWND h = ::GetWindow(dlg.Window(), GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT))
        after.push_back(h);
    EXPECT_EQ(after, before);
    EXPECT_EQ(::GetActiveWindow(), active);
    EXPECT_EQ(::GetFocus(), dlg.Child(2));
    EXPECT_NE(dlg.ClientRectOf(3), moved);  // the walk did move the controls
}

}  // namespace
