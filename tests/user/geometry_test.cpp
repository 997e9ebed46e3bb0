// Window geometry, dialog units, stacking and placement.
#include "tests/user/user_fixture.h"

namespace wce::user::testing {
namespace {

using UserGeometryTest = UserTest;

TEST_F(UserGeometryTest, DialogUnitsRoundEachEdgeHalfAway) {
    struct Row {
        int w, h;
        RECT in;
        RECT out;
    };
    const Row rows[] = {
        {7, 15, {0, 0, 1000, 1000}, {0, 0, 1750, 1875}},
        {8, 15, {0, 0, 1000, 1000}, {0, 0, 2000, 1875}},
        {4, 8, {0, 0, 1000, 1000}, {0, 0, 1000, 1000}},
        // 158 * 7 / 4 = 276.5 and 114 * 15 / 8 = 213.75: halves go up, edges round separately.
        {7, 15, {0, 0, 158, 114}, {0, 0, 277, 214}},
        {7, 15, {2, 74, 36, 84}, {4, 139, 63, 158}},
        {7, 15, {-5, -3, 1, 1}, {-9, -6, 2, 2}},
        {6, 13, {1, 1, 3, 3}, {2, 2, 5, 5}},
    };
    HWND dlg = TopLevel({0, 0, 100, 100});
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.w << 'x' << row.h << ' ' << row.in);
        SetDialogFontMetrics(row.w, row.h);
        RECT r = row.in;
        ASSERT_TRUE(MapDialogRect(dlg, &r));
        EXPECT_EQ(r, row.out);
    }
    RECT r{};
    EXPECT_FALSE(MapDialogRect(nullptr, &r));
}

TEST_F(UserGeometryTest, FramesCaptionsAndBordersShapeTheClientArea) {
    struct Row {
        const char* what;
        DWORD style;
        RECT outer;
        RECT client;
    };
    const Row rows[] = {
        {"captioned top-level", WS_POPUP | WS_CAPTION, {0, 0, 320, 240}, {2, 22, 318, 238}},
        {"bare popup", WS_POPUP, {10, 10, 50, 50}, {10, 10, 50, 50}},
        {"bordered popup", WS_POPUP | WS_BORDER, {10, 10, 50, 50}, {11, 11, 49, 49}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        HWND h = TopLevel(row.outer, row.style | WS_VISIBLE);
        RECT w{}, c{};
        ASSERT_TRUE(GetWindowRect(h, &w));
        ASSERT_TRUE(GetClientRect(h, &c));
        EXPECT_EQ(w, row.outer);
        EXPECT_EQ(c, (RECT{0, 0, row.client.right - row.client.left,
                           row.client.bottom - row.client.top}));
        POINT p{0, 0};
        ClientToScreen(h, &p);
        EXPECT_EQ(p.x, row.client.left);
        EXPECT_EQ(p.y, row.client.top);
    }
}

TEST_F(UserGeometryTest, ChildRectanglesFollowTheParentClientOrigin) {
    HWND dlg = TopLevel({10, 20, 210, 170});
    HWND list = Child(dlg, 3, {0, 0, 50, 40}, WS_CHILD | WS_VISIBLE | WS_BORDER);
    RECT r{};
    GetWindowRect(list, &r);
    EXPECT_EQ(r, (RECT{12, 42, 62, 82}));
    GetClientRect(list, &r);
    EXPECT_EQ(r, (RECT{0, 0, 48, 38}));
    EXPECT_TRUE(SetWindowPos(list, nullptr, 5, 6, 20, 10, SWP_NOZORDER));
    GetWindowRect(list, &r);
    EXPECT_EQ(r, (RECT{17, 48, 37, 58}));
    EXPECT_TRUE(SetWindowPos(dlg, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    GetWindowRect(list, &r);
    EXPECT_EQ(r, (RECT{7, 28, 27, 38}));
}

TEST_F(UserGeometryTest, SiblingOrderAndStackingChanges) {
    HWND dlg = TopLevel({0, 0, 100, 100});
    HWND a = Child(dlg, 1, {0, 0, 1, 1}), b = Child(dlg, 2, {0, 0, 1, 1}),
         c = Child(dlg, 3, {0, 0, 1, 1});
    auto order = [&] {
        std::vector<int> ids;
        for (HWND h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            ids.push_back(GetDlgCtrlID(h));
        return ids;
    };
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 3}));
    SetWindowPos(a, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 1}));
    SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 3}));
    SetWindowPos(a, c, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 1}));
    SetWindowPos(b, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(GetWindow(dlg, 99), nullptr);
    EXPECT_EQ(GetDlgItem(dlg, 3), c);
    EXPECT_EQ(GetDlgItem(dlg, 4), nullptr);
}

TEST_F(UserGeometryTest, TopLevelBottomPlacementAndActivation) {
    HWND first = TopLevel({0, 0, 10, 10});
    HWND second = TopLevel({0, 0, 10, 10});
    SetActive(second);
    EXPECT_TRUE(SetWindowPos(second, HWND_BOTTOM, 0, 0, 320, 240, SWP_NOACTIVATE));
    EXPECT_EQ(TopLevelWindows().back(), first);
    EXPECT_EQ(GetActiveWindow(), second);
    RECT r{};
    GetWindowRect(second, &r);
    EXPECT_EQ(r, (RECT{0, 0, 320, 240}));
    SetWindowPos(first, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(GetActiveWindow(), first);  // without "no activate" a top-level window activates
}

TEST_F(UserGeometryTest, DeferredBatchKeepsSiblingOrderFocusAndActivation) {
    HWND dlg = TopLevel({0, 0, 200, 200});
    HWND a = Child(dlg, 1, {0, 0, 10, 10}), b = Child(dlg, 2, {0, 0, 10, 10});
    SetActive(dlg);
    SetFocus(b);
    HDWP batch = BeginDeferWindowPos(1);
    ASSERT_NE(batch, nullptr);
    batch = DeferWindowPos(batch, a, nullptr, 3, 4, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_NE(batch, nullptr);
    RECT r{};
    GetWindowRect(a, &r);
    EXPECT_EQ(r.right - r.left, 10) << "a deferred entry waits for the end of its batch";
    EXPECT_TRUE(EndDeferWindowPos(batch));
    GetWindowRect(a, &r);
    EXPECT_EQ(r, (RECT{5, 26, 35, 66}));
    EXPECT_EQ(GetWindow(dlg, GW_CHILD), a);
    EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
    EXPECT_EQ(GetFocus(), b);
    EXPECT_EQ(GetActiveWindow(), dlg);
    // A batch naming a window that does not exist fails and is released.
    HDWP bad = BeginDeferWindowPos(1);
    EXPECT_EQ(DeferWindowPos(bad, nullptr, nullptr, 0, 0, 1, 1, 0x14), nullptr);
    EXPECT_FALSE(EndDeferWindowPos(nullptr));
}

TEST_F(UserGeometryTest, DensityComesFromTheProfile) {
    HWND dlg = TopLevel({0, 0, 10, 10});
    for (int dpi : {96, 192, 72}) {
        SCOPED_TRACE(dpi);
        SetLogPixelsY(dpi);
        HDC dc = GetDC(dlg);
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), dpi);
        EXPECT_EQ(GetDeviceCaps(dc, 88), 0);
        EXPECT_EQ(ReleaseDC(dlg, dc), 1);
    }
}

TEST_F(UserGeometryTest, ProfileSettingsParse) {
    struct Row {
        const char* text;
        bool ok;
        int w, h;
    };
    const Row fonts[] = {{"7x15", true, 7, 15},  {"8X16", true, 8, 16}, {"0x15", false, 0, 0},
                         {"7x", false, 0, 0},    {"x15", false, 0, 0},  {"7x15x", false, 0, 0},
                         {"seven", false, 0, 0}, {"", false, 0, 0},     {"-7x15", false, 0, 0},
                         {"7x999", false, 0, 0}};
    for (const auto& row : fonts) {
        SCOPED_TRACE(row.text);
        auto f = ParseFontSetting(row.text);
        ASSERT_EQ(f.has_value(), row.ok);
        if (f) {
            EXPECT_EQ(f->avgWidth * 1000 + f->height, row.w * 1000 + row.h);
        }
    }
    EXPECT_EQ(ParseDpiSetting("96"), 96);
    for (const char* bad : {"", "0", "96dpi", "-96", " 96", "100000"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseDpiSetting(bad).has_value());
    }
}

TEST_F(UserGeometryTest, DestroyingAParentDestroysItsChildren) {
    HWND dlg = TopLevel({0, 0, 10, 10});
    HWND a = Child(dlg, 1, {0, 0, 1, 1});
    SetFocus(a);
    PostMessageW(a, WM_USER, 0, 0);
    EXPECT_TRUE(DestroyWindow(dlg));
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_FALSE(IsWindow(a));
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_TRUE(Drain().empty()) << "messages for destroyed windows are dropped";
    EXPECT_FALSE(DestroyWindow(dlg));
}

}  // namespace
}  // namespace wce::user::testing
