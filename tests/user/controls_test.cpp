// List box, static and push button behaviour.
#include "tests/user/user_fixture.h"

namespace wce::user::testing {
namespace {

class UserControlsTest : public UserTest {
  protected:
    HWND dlg = nullptr;
    HWND list = nullptr;
    static inline std::vector<std::pair<int, int>> commands;  // (id, code) the parent received
    static LRESULT Parent(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_COMMAND) commands.emplace_back(LOWORD(w), HIWORD(w));
        return DefWindowProcW(h, m, w, l);
    }
    void SetUp() override {
        UserTest::SetUp();
        commands.clear();
        dlg = CreateWindowObject(WindowKind::Dialog, nullptr, WS_POPUP | WS_VISIBLE | WS_CAPTION, 0,
                                 0, {0, 0, 320, 240}, u"d", Parent);
        // 5 rows of 15 pixels inside a 1-pixel border.
        list = Child(dlg, 1003, {0, 0, 100, 77}, WS_CHILD | WS_VISIBLE | WS_BORDER | LBS_NOTIFY,
                     WindowKind::ListBox, ListBoxProc);
    }
    void Fill(int n) {
        for (int i = 0; i < n; ++i) {
            std::u16string s = u"item " + std::u16string(1, static_cast<char16_t>(u'A' + i));
            SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(s.c_str()));
        }
    }
    LRESULT Sel() { return SendMessageW(list, LB_GETCURSEL, 0, 0); }
    LRESULT Top() { return SendMessageW(list, LB_GETTOPINDEX, 0, 0); }
};

TEST_F(UserControlsTest, RequestsInsertSelectAndRead) {
    EXPECT_EQ(Sel(), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"b")), 0);
    EXPECT_EQ(SendMessageW(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"a")), 0);
    EXPECT_EQ(SendMessageW(list, LB_INSERTSTRING, 5, reinterpret_cast<LPARAM>(u"x")), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"c")), 2);
    EXPECT_EQ(SendMessageW(list, LB_SETCURSEL, 1, 0), 1);
    SendMessageW(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"first"));
    EXPECT_EQ(Sel(), 2) << "an insertion above the selection keeps the same entry selected";
    char16_t buf[16];
    EXPECT_EQ(SendMessageW(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(buf)), 1);
    EXPECT_EQ(std::u16string(buf), u"b");
    EXPECT_EQ(SendMessageW(list, LB_GETTEXTLEN, 0, 0), 5);
    EXPECT_EQ(SendMessageW(list, LB_GETTEXT, 9, reinterpret_cast<LPARAM>(buf)), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_SETCURSEL, 9, 0), LB_ERR);
    EXPECT_EQ(Sel(), 2);
    EXPECT_EQ(SendMessageW(list, LB_DELETESTRING, 2, 0), 3);
    EXPECT_EQ(Sel(), LB_ERR);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), 15);
    EXPECT_TRUE(commands.empty()) << "requests from the program do not notify";
}

TEST_F(UserControlsTest, KeysMoveTheSelectionAndKeepItVisible) {
    Fill(12);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    struct Row {
        WPARAM vk;
        int sel;
        int top;
    };
    const Row rows[] = {
        {VK_UP, 0, 0},    {VK_DOWN, 1, 0},  {VK_NEXT, 5, 1},  {VK_NEXT, 9, 5}, {VK_NEXT, 11, 7},
        {VK_DOWN, 11, 7}, {VK_PRIOR, 7, 7}, {VK_PRIOR, 3, 3}, {VK_HOME, 0, 0}, {VK_END, 11, 7},
    };
    int notified = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "vk " << row.vk << " -> " << row.sel);
        const auto before = Sel();
        commands.clear();
        MSG m{list, WM_KEYDOWN, row.vk, 1, 0, {0, 0}};
        DispatchMessageW(&m);
        EXPECT_EQ(Sel(), row.sel);
        EXPECT_EQ(Top(), row.top);
        const bool changed = before != row.sel;
        EXPECT_EQ(commands.size(), changed ? 1u : 0u);
        if (changed) {
            EXPECT_EQ(commands[0], (std::pair<int, int>{1003, LBN_SELCHANGE}));
        }
        notified += changed;
    }
    EXPECT_EQ(notified, 8);
}

TEST_F(UserControlsTest, ClicksSelectTheEntryUnderThePointer) {
    Fill(12);
    SendMessageW(list, LB_SETTOPINDEX, 4, 0);
    struct Row {
        int y;
        int sel;
    };
    const Row rows[] = {{0, 4}, {14, 4}, {15, 5}, {74, 8}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.y);
        MSG m{list, WM_LBUTTONDOWN, 1, MAKELPARAM(5, row.y), 0, {0, 0}};
        DispatchMessageW(&m);
        EXPECT_EQ(Sel(), row.sel);
    }
    EXPECT_EQ(GetFocus(), list);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    Fill(2);
    MSG below{list, WM_LBUTTONDOWN, 1, MAKELPARAM(5, 60), 0, {0, 0}};
    DispatchMessageW(&below);
    EXPECT_EQ(Sel(), LB_ERR) << "a click below the last entry selects nothing";
}

TEST_F(UserControlsTest, SelectionSetByTheProgramScrollsIntoView) {
    Fill(12);
    SendMessageW(list, LB_SETCURSEL, 10, 0);
    EXPECT_EQ(Top(), 6);
    SendMessageW(list, LB_SETCURSEL, 2, 0);
    EXPECT_EQ(Top(), 2);
    SendMessageW(list, LB_SETTOPINDEX, 11, 0);
    EXPECT_EQ(Top(), 7) << "the list never scrolls past its last page";
}

TEST_F(UserControlsTest, ButtonClickNeedsPressAndReleaseAndIgnoresDisabled) {
    HWND button = Child(dlg, 1001, {0, 100, 60, 120}, WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                        WindowKind::Button, ButtonProc);
    MSG up{button, WM_LBUTTONUP, 0, 0, 0, {0, 0}};
    MSG down{button, WM_LBUTTONDOWN, 1, 0, 0, {0, 0}};
    DispatchMessageW(&up);
    EXPECT_TRUE(commands.empty()) << "a release without a press is no click";
    DispatchMessageW(&down);
    DispatchMessageW(&up);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], (std::pair<int, int>{1001, BN_CLICKED}));
    EnableWindow(dlg, FALSE);
    DispatchMessageW(&down);
    DispatchMessageW(&up);
    EXPECT_EQ(commands.size(), 1u) << "a disabled dialog ignores clicks on its controls";
}

}  // namespace
}  // namespace wce::user::testing
