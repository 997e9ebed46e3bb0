// Dialogs from templates, their keyboard, their modal loop, and message boxes.
#include <cstdio>

#include "tests/user/user_fixture.h"

namespace wce::user::testing {
namespace {

const DialogItemTemplate kItems[] = {
    {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY, 0, 0, 0, 156, 72,
     1003, u"LISTBOX", nullptr},
    {WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP, 0, 2, 74, 34, 10, 1002, u"STATIC", u"Copying..."},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 58, 98, 40, 14, 1001, u"BUTTON",
     u"Install"},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 100, 98, 40, 14, 1004, u"button",
     u"Other"},
};
const DialogTemplate kTemplate{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                               WS_EX_CAPTIONOKBTN,
                               0,
                               0,
                               158,
                               114,
                               u"Test \"dialog\"",
                               11,
                               u"font",
                               0x0411,
                               kItems};

std::vector<std::pair<int, int>> g_commands;
bool g_endOnCommand = true;

LRESULT TestDlgProc(HWND h, UINT m, WPARAM w, LPARAM) {
    if (m == WM_INITDIALOG) {
        SendMessageW(GetDlgItem(h, 1003), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"one"));
        SendMessageW(GetDlgItem(h, 1003), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"two"));
        return TRUE;
    }
    if (m == WM_COMMAND) {
        g_commands.emplace_back(LOWORD(w), HIWORD(w));
        if (g_endOnCommand && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) EndDialog(h, LOWORD(w));
        return TRUE;
    }
    return FALSE;
}

class UserDialogTest : public UserTest {
  protected:
    HWND dlg = nullptr;
    void SetUp() override {
        UserTest::SetUp();
        g_commands.clear();
        g_endOnCommand = true;
        dlg = CreateDialogIndirectParamW(nullptr, &kTemplate, nullptr, TestDlgProc, 0);
        ASSERT_NE(dlg, nullptr);
    }
    void Key(WPARAM vk, bool shift = false) {
        MSG m{GetFocus(), WM_KEYDOWN, vk, 1 | (shift ? kShiftDown : 0), 0, {0, 0}};
        if (!IsDialogMessageW(dlg, &m)) DispatchMessageW(&m);
    }
};

TEST_F(UserDialogTest, TemplateBuildsTheWindowInPixelsWithFocusOnTheFirstTabStop) {
    RECT r{};
    GetWindowRect(dlg, &r);
    EXPECT_EQ(r, (RECT{0, 0, 281, 238}));
    GetClientRect(dlg, &r);
    EXPECT_EQ(r, (RECT{0, 0, 277, 214}));
    GetWindowRect(GetDlgItem(dlg, 1001), &r);
    EXPECT_EQ(r, (RECT{2 + 102, 22 + 184, 2 + 172, 22 + 210}));
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1003));
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(GetActiveWindow(), dlg);
}

TEST_F(UserDialogTest, KeyboardNavigatesPressesAndCancels) {
    HWND list = GetDlgItem(dlg, 1003), install = GetDlgItem(dlg, 1001),
         other = GetDlgItem(dlg, 1004);
    g_endOnCommand = false;
    struct Row {
        const char* what;
        WPARAM vk;
        bool shift;
        HWND focus;
        std::vector<std::pair<int, int>> commands;
    };
    const std::vector<Row> rows = {
        {"down in the list", VK_DOWN, false, list, {{1003, LBN_SELCHANGE}}},
        {"tab to the button", VK_TAB, false, install, {}},
        {"space presses it", VK_SPACE, false, install, {{1001, BN_CLICKED}}},
        {"enter presses the focused button", VK_RETURN, false, install, {{1001, BN_CLICKED}}},
        {"tab on", VK_TAB, false, other, {}},
        {"tab wraps", VK_TAB, false, list, {}},
        {"shift-tab wraps back", VK_TAB, true, other, {}},
        {"shift-tab", VK_TAB, true, install, {}},
        {"escape cancels", VK_ESCAPE, false, install, {{IDCANCEL, BN_CLICKED}}},
        {"shift-tab to the list", VK_TAB, true, list, {}},
        {"enter without a default button is OK", VK_RETURN, false, list, {{IDOK, BN_CLICKED}}},
    };
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        g_commands.clear();
        Key(row.vk, row.shift);
        EXPECT_EQ(GetFocus(), row.focus);
        EXPECT_EQ(g_commands, row.commands);
    }
    EnableWindow(install, FALSE);
    SetFocus(list);
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), other) << "a disabled control is no tab stop";
}

TEST_F(UserDialogTest, DisabledDialogIgnoresKeysAndCaptionOk) {
    EnableWindow(dlg, FALSE);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(dlg, WM_CAPTIONOK, 0, 0);
    display->answers = {[this] {
        EnableWindow(dlg, TRUE);
        PostMessageW(dlg, WM_CAPTIONOK, 0, 0);
    }};
    EXPECT_EQ(RunModalLoop(dlg), IDOK);
    EXPECT_EQ(g_commands, (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}}));
}

TEST_F(UserDialogTest, ModalLoopDisablesTheOwnerUntilTheEnd) {
    const DialogTemplate child{
        WS_POPUP | WS_CAPTION, 0, 10, 10, 50, 30, u"child", 0, nullptr, 0, {}};
    HWND sub = CreateDialogIndirectParamW(nullptr, &child, GetDlgItem(dlg, 1001), TestDlgProc, 0);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(GetParent(sub), dlg) << "a control as owner means its top-level window";
    bool ownerWasDisabled = false;
    display->answers = {[&] {
        ownerWasDisabled = !IsWindowEnabled(dlg);
        PostMessageW(sub, WM_KEYDOWN, VK_ESCAPE, 1);
    }};
    EXPECT_EQ(RunModalLoop(sub), IDCANCEL);
    EXPECT_TRUE(ownerWasDisabled);
    EXPECT_TRUE(IsWindowEnabled(dlg));
}

TEST_F(UserDialogTest, QuitEndsTheModalLoopAndStaysPending) {
    display->answers = {[] { PostQuitMessage(4); }};
    EXPECT_EQ(RunModalLoop(dlg), -1);
    MSG m{};
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 4u);
}

TEST_F(UserDialogTest, MessageBoxesAreModalCentredAndPrinted) {
    struct Row {
        HWND owner;
        UINT type;
        bool info;
    };
    const Row rows[] = {{dlg, MB_OK | MB_ICONINFORMATION, true}, {nullptr, MB_OK, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.owner ? "owned" : "application-wide");
        SetFocus(GetDlgItem(dlg, 1003));
        std::string dumped;
        bool dialogDisabled = false;
        RECT box{};
        display->answers = {[&] {
            dumped = DumpScreen();
            dialogDisabled = !IsWindowEnabled(dlg);
            for (const auto& v : SnapshotScreen())
                if (v.kind == WindowKind::MessageBox) {
                    box = v.rect;
                    EXPECT_EQ(v.infoIcon, row.info);
                }
            EXPECT_TRUE(InjectMessageBoxOk());
        }};
        display->next = 0;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(MessageBoxW(row.owner, u"Installation has been completed.", u"SETUP", row.type),
                  IDOK);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "message: SETUP: Installation has been completed.\n");
        EXPECT_NE(dumped.find("messagebox \"SETUP\" text=\"Installation has been completed.\"\n"),
                  std::string::npos);
        EXPECT_TRUE(dialogDisabled);
        EXPECT_TRUE(IsWindowEnabled(dlg));
        EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 1003)) << "focus returns where it was";
        EXPECT_NEAR((box.left + box.right) / 2, SCREEN_WIDTH / 2, 1);
        EXPECT_NEAR((box.top + box.bottom) / 2, SCREEN_HEIGHT / 2, 1);
        EXPECT_EQ(TopLevelWindows().size(), 1u);
    }
}

TEST_F(UserDialogTest, LongMessagesWrapInsideTheScreen) {
    const std::u16string text(400, u'x');
    RECT box{};
    display->answers = {[&] {
        for (const auto& v : SnapshotScreen())
            if (v.kind == WindowKind::MessageBox) box = v.rect;
        InjectKey(VK_RETURN);
    }};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(MessageBoxW(nullptr, (text + u" end").c_str(), nullptr, MB_OK), IDOK);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("message: Error: xxx"),
              std::string::npos);
    EXPECT_GE(box.left, 0);
    EXPECT_GE(box.top, 0);
    EXPECT_LE(box.right, SCREEN_WIDTH);
    EXPECT_LE(box.bottom, SCREEN_HEIGHT);
}

TEST_F(UserDialogTest, DumpListsTheDialogAndItsControls) {
    SendMessageW(GetDlgItem(dlg, 1003), LB_SETCURSEL, 1, 0);
    SendMessageW(GetDlgItem(dlg, 1003), LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(u"日本語 \\ \"q\""));
    ShowWindow(GetDlgItem(dlg, 1002), SW_HIDE);
    EnableWindow(GetDlgItem(dlg, 1004), FALSE);
    const std::string expected =
        "dialog \"Test \\\"dialog\\\"\" outer=0,0,281,238 client=277,214 enabled=1\n"
        "control 1003 listbox rect=0,0,273,135 visible=1 enabled=1 text=\"\" items=3 sel=1\n"
        "  item 0 \"one\"\n"
        "  item 1 \"two\"\n"
        "  item 2 \"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \\\\ \\\"q\\\"\"\n"
        "control 1002 static rect=4,139,63,158 visible=0 enabled=1 text=\"Copying...\"\n"
        "control 1001 button rect=102,184,172,210 visible=1 enabled=1 text=\"Install\"\n"
        "control 1004 button rect=175,184,245,210 visible=1 enabled=0 text=\"Other\"\n";
    EXPECT_EQ(DumpScreen(), expected);
}

TEST_F(UserDialogTest, ScriptedInputFindsItsTargets) {
    EXPECT_TRUE(InjectSelectListItem(1));
    EXPECT_FALSE(InjectSelectListItem(2));
    EXPECT_TRUE(InjectClickControl(1001));
    EXPECT_FALSE(InjectClickControl(4242));
    EXPECT_FALSE(InjectMessageBoxOk());
    g_endOnCommand = false;
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
        if (!IsDialogMessageW(dlg, &m)) DispatchMessageW(&m);
    EXPECT_EQ(SendMessageW(GetDlgItem(dlg, 1003), LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(g_commands,
              (std::vector<std::pair<int, int>>{{1003, LBN_SELCHANGE}, {1001, BN_CLICKED}}));
    // A click on the caption OK button, found by position as a person's click is.
    const RECT ok = CaptionOkRect(dlg);
    InjectClick({ok.left + 1, ok.top + 1});
    InjectClick({2 + 110, 22 + 190});  // on the Install button
    g_commands.clear();
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
        if (!IsDialogMessageW(dlg, &m)) DispatchMessageW(&m);
    EXPECT_EQ(g_commands,
              (std::vector<std::pair<int, int>>{{IDOK, BN_CLICKED}, {1001, BN_CLICKED}}));
}

}  // namespace
}  // namespace wce::user::testing
