// The automation script, the headless display and the display choice.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/user/window_tree.h"

namespace wce::display {
namespace {

TEST(DisplayScriptTest, ParsesActionsCommentsAndBlankLines) {
    const auto parsed = ParseScript(
        "# unattended install\n\n  select 2  \r\nclick 1001\nkey Enter\nKEY pageup\nkey "
        "ShiftTab\nok\nclose\ndump\n",
        "s.txt");
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.actions.size(), 8u);
    EXPECT_EQ(parsed.actions[0].name, "select");
    EXPECT_EQ(parsed.actions[0].number, 2);
    EXPECT_EQ(parsed.actions[0].line, 3);
    EXPECT_EQ(parsed.actions[1].number, 1001);
    EXPECT_EQ(parsed.actions[3].name, "key");
    EXPECT_EQ(parsed.actions[3].arg, "pageup");
    EXPECT_EQ(parsed.actions[7].name, "dump");
    EXPECT_TRUE(ParseScript("", "empty").actions.empty());
}

TEST(DisplayScriptTest, MalformedLinesNameTheSourceAndLine) {
    struct Row {
        const char* text;
        const char* error;
    };
    const Row rows[] = {
        {"jump 3\n", "f:1: unknown action \"jump\""},
        {"dump\nselect\n",
         "f:2: \"select\" needs an entry number from 0 to 2147483647, key=KEY or name=NAME, not "
         "\"\""},
        {"select -1\n",
         "f:1: \"select\" needs an entry number from 0 to 2147483647, key=KEY or name=NAME, not "
         "\"-1\""},
        {"select 1x\n",
         "f:1: \"select\" needs an entry number from 0 to 2147483647, key=KEY or name=NAME, not "
         "\"1x\""},
        {"select Key=1\n",
         "f:1: \"select\" needs an entry number from 0 to 2147483647, key=KEY or name=NAME, not "
         "\"Key=1\""},
        {"click 70000\n", "f:1: \"click\" needs a number from 0 to 65535, not \"70000\""},
        {"#\n\nkey Delete\n",
         "f:3: unknown key \"Delete\" (Enter, Escape, Tab, ShiftTab, Space, Up, Down, Home, End, "
         "PageUp, PageDown)"},
        {"ok now\n", "f:1: \"ok\" takes no argument"},
        {"dump all\n", "f:1: \"dump\" takes no argument"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = ParseScript(row.text, "f");
        EXPECT_EQ(parsed.error, row.error);
        EXPECT_TRUE(parsed.actions.empty());
    }
}

TEST(DisplayScriptDeathTest, MalformedOrUnreadableScriptExitsWithStatus2) {
    const std::string path = ::testing::TempDir() + "bad_script.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("dump\nfly away\n", f);
    std::fclose(f);
    EXPECT_EXIT(LoadScript(path), ::testing::ExitedWithCode(2),
                "bad_script.txt:2: unknown action \"fly\"");
    EXPECT_EXIT(LoadScript(path + ".missing"), ::testing::ExitedWithCode(2),
                "cannot read .*missing");
}

// Sizes at the edge of the limit, an endless file and an empty one, read as a file.
TEST(DisplayScriptDeathTest, ScriptSizeIsBoundedAndAnEmptyScriptIsNone) {
    const std::string dir = ::testing::TempDir();
    const auto write = [&](const char* name, std::size_t bytes) {
        const std::string path = dir + name;
        std::string text(bytes, '#');
        for (std::size_t at = 99; at < bytes; at += 100) text[at] = '\n';
        FILE* f = std::fopen(path.c_str(), "w");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return path;
    };
    for (const std::string& path :
         {write("empty_script", 0), write("full_script", kMaxScriptBytes)}) {
        SCOPED_TRACE(path);
        const auto script = LoadScript(path);
        ASSERT_NE(script, nullptr);
        EXPECT_TRUE(script->Exhausted());
    }
    EXPECT_EXIT(LoadScript(write("big_script", kMaxScriptBytes + 1)), ::testing::ExitedWithCode(2),
                "big_script\" is larger than 1 MB");
    EXPECT_EXIT(LoadScript("/dev/zero"), ::testing::ExitedWithCode(2),
                "/dev/zero\" is larger than 1 MB");
    EXPECT_EXIT(LoadScript(dir), ::testing::ExitedWithCode(2), "cannot read .*Is a directory");
}

TEST(DisplayScriptDeathTest, BadDisplaySettingExitsWithStatus2) {
    EXPECT_EXIT(
        {
            setenv("WCE_DISPLAY", "hologram", 1);
            MakeDisplayFromEnvironment();
        },
        ::testing::ExitedWithCode(2), "WCE_DISPLAY=\"hologram\" is not valid");
}

// A dialog run headless from a script.
const DialogItemTemplate kItems[] = {
    {WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LBS_NOTIFY, 0, 0, 0, 100, 50, 1003,
     u"LISTBOX", nullptr},
    {WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 10, 60, 40, 14, 1001, u"BUTTON", u"Install"},
};
const DialogTemplate kTemplate{WS_POPUP | WS_VISIBLE | WS_CAPTION,
                               WS_EX_CAPTIONOKBTN,
                               0,
                               0,
                               150,
                               90,
                               u"Headless",
                               11,
                               u"font",
                               0x0411,
                               kItems};

std::vector<std::string> g_log;

LRESULT DlgProc(HWND h, UINT m, WPARAM w, LPARAM) {
    if (m == WM_INITDIALOG) {
        for (auto s : {u"a", u"b", u"c"})
            SendMessageW(GetDlgItem(h, 1003), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendMessageW(GetDlgItem(h, 1003), LB_SETCURSEL, 0, 0);
        return TRUE;
    }
    if (m != WM_COMMAND) return FALSE;
    g_log.push_back("command " + std::to_string(LOWORD(w)) + "/" + std::to_string(HIWORD(w)));
    if (LOWORD(w) == 1001) {
        EnableWindow(h, FALSE);
        MessageBoxW(h, u"done", u"T", MB_OK | MB_ICONINFORMATION);
        EnableWindow(h, TRUE);
    }
    if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) EndDialog(h, LOWORD(w));
    return TRUE;
}

class DisplayHeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wce::user::DestroyAllWindows();
        wce::user::ClearQueue();
        g_log.clear();
    }
    void TearDown() override {
        wce::user::DestroyAllWindows();
        wce::user::ClearQueue();
        wce::user::SetDisplay(nullptr);
    }
    LRESULT Run(const std::string& script) {
        auto parsed = ParseScript(script, "t");
        EXPECT_EQ(parsed.error, "");
        wce::user::SetDisplay(MakeHeadlessDisplay(MakeScript(std::move(parsed.actions), "t")));
        HWND dlg = CreateDialogIndirectParamW(nullptr, &kTemplate, nullptr, DlgProc, 0);
        return RunModalLoop(dlg);
    }
};

TEST_F(DisplayHeadlessTest, ActionsArriveOneWaitAtATimeThenTheAbsentUserCloses) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const LRESULT result = Run("select 2\nkey Up\nclick 1001\ndump\nclick 1001\nok\ndump\n");
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, IDOK) << "the used-up script leaves the caption OK to the absent user";
    EXPECT_EQ(g_log, (std::vector<std::string>{"command 1003/1", "command 1003/1", "command 1001/0",
                                               "command 1/0"}));
    const std::string controls =
        "control 1003 listbox rect=0,0,175,94 visible=1 enabled=1 text=\"\" items=3 sel=1\n"
        "  item 0 \"a\"\n  item 1 \"b\"\n  item 2 \"c\"\n"
        "control 1001 button rect=18,113,88,139 visible=1 enabled=1 text=\"Install\"\n";
    EXPECT_EQ(out,
              "message: T: done\n"
              "dialog \"Headless\" outer=0,0,267,193 client=263,169 enabled=0\n" +
                  controls +
                  "messagebox \"T\" text=\"done\"\n"
                  "dialog \"Headless\" outer=0,0,267,193 client=263,169 enabled=1\n" +
                  controls);
    EXPECT_EQ(err, "") << "a click that the disabled dialog ignores is a step taken";
}

TEST_F(DisplayHeadlessTest, SelectByKeyAndByName) {
    DeclareListKeys([] { return std::vector<std::u16string>{u"k0", u"k1", u"k1"}; });
    Run("select key=k1\nselect name=c\nselect key=k0\nclose\n");
    DeclareListKeys(nullptr);
    EXPECT_EQ(g_log, (std::vector<std::string>{"command 1003/1", "command 1003/1", "command 1003/1",
                                               "command 1/0"}));
}

using DisplayHeadlessDeathTest = DisplayHeadlessTest;

// A step that cannot be taken ends the run at once, naming its line: the click after it never
// reaches the dialog.
TEST_F(DisplayHeadlessDeathTest, AStepThatCannotBeTakenEndsTheRunWithStatus2) {
    struct Row {
        const char* script;
        const char* error;
    };
    const Row rows[] = {
        {"select 3\nclick 1001\n",
         "^t:1: select 3: no list box shows that entry; the script stops here\n$"},
        {"dump\nselect name=d\nclick 1001\n", "t:2: select name=d: no entry has that name"},
        {"select key=a\nclick 1001\n", "t:1: select key=a: no entry has that key"},
        {"click 4242\nclick 1001\n", "t:1: click 4242: no control with that ID is shown"},
        {"ok\nclick 1001\n", "t:1: ok: no message box is shown"},
        {"click 1001\nok\nok\n", "t:3: ok: no message box is shown"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        EXPECT_EXIT(
            {
                Run(row.script);
                std::exit(0);
            },
            ::testing::ExitedWithCode(2), row.error);
    }
    EXPECT_EXIT(
        {
            wce::user::SetDisplay(
                MakeHeadlessDisplay(MakeScript(ParseScript("close\n", "t").actions, "t")));
            MessageBoxW(nullptr, u"alone", u"T", MB_OK);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "t:1: close: no dialog with a caption OK button is shown");
}

TEST_F(DisplayHeadlessTest, WithoutAScriptTheAbsentUserAnswersEverything) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    wce::user::SetDisplay(MakeHeadlessDisplay(nullptr));
    EXPECT_EQ(MessageBoxW(nullptr, u"alone", u"T", MB_OK), IDOK);
    HWND dlg = CreateDialogIndirectParamW(nullptr, &kTemplate, nullptr, DlgProc, 0);
    EXPECT_EQ(RunModalLoop(dlg), IDOK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "message: T: alone\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("headless without a script (WCE_SCRIPT)", 0), 0u)
        << "said once, before the first answer";
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

TEST_F(DisplayHeadlessTest, ADisabledDialogWithNothingToAnswerEndsInsteadOfHanging) {
    ::testing::internal::CaptureStderr();
    wce::user::SetDisplay(MakeHeadlessDisplay(nullptr));
    HWND dlg = CreateDialogIndirectParamW(nullptr, &kTemplate, nullptr, DlgProc, 0);
    EnableWindow(dlg, FALSE);
    EXPECT_EQ(RunModalLoop(dlg), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                  "nothing is shown that an absent user could answer"),
              std::string::npos);
}

}  // namespace
}  // namespace wce::display
