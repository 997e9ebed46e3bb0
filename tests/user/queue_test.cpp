// The message queue: posting, peeking, waiting, translation, dispatch and painting.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/kernel/device.h"
#include "platform/kernel/files.h"
#include "tests/user/user_fixture.h"

namespace wce::user::testing {
namespace {

using UserQueueTest = UserTest;

std::vector<UINT> g_seen;
LRESULT Recorder(HWND h, UINT m, WPARAM w, LPARAM l) {
    g_seen.push_back(m);
    return DefWindowProcW(h, m, w, l);
}

TEST_F(UserQueueTest, PeekTakesWithAndWithoutRemovingAndNeverWaits) {
    HWND top = TopLevel({0, 0, 10, 10});
    Drain();  // the creation paint
    MSG m{};
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(display->next, 0u) << "peeking never asks the display to wait";
    PostMessageW(top, WM_USER + 1, 7, 8);
    PostMessageW(top, WM_USER + 2, 0, 0);
    const int polls = display->polls;
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, WM_USER + 1u);
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 2u) << "a filter takes a later message first";
    ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 1u);
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_EQ(m.lParam, 8);
    EXPECT_EQ(display->polls, polls) << "no poll while messages were taken";
    EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(display->polls, polls + 1) << "the display is polled once the queue is drained";
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(&m), WM_USER, 0, 0)) << "no such window";
}

TEST_F(UserQueueTest, GetWaitsThroughTheDisplayAndEndsAtQuit) {
    HWND top = TopLevel({0, 0, 10, 10});
    Drain();
    display->answers = {[top] { PostMessageW(top, WM_USER, 1, 0); }, [] { PostQuitMessage(3); }};
    MSG m{};
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_USER);
    EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_EQ(display->next, 2u);
}

// A card the program read can be unmounted while the dialog waits: the kernel keeps no folder of
// it open across the wait.
TEST_F(UserQueueTest, GetLetsTheMediumBeUnmountedWhileItWaits) {
    char root[] = "/tmp/wce-queue-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::string card = std::string(root) + "/card";
    ASSERT_EQ(mkdir(card.c_str(), 0755), 0);
    if (mount("wce-card", card.c_str(), "tmpfs", 0, "size=1m") != 0) {
        const int err = errno;
        std::filesystem::remove_all(root);
        GTEST_SKIP() << "cannot mount a filesystem here: " << std::strerror(err);
    }
    kernel::ConfigureDevice({root, card});
    ASSERT_TRUE(CreateDirectoryW(u"\\Storage Card\\dir", nullptr));
    int busy = -1;
    display->answers = {[&] {
        if ((busy = umount2(card.c_str(), 0) == 0 ? 0 : errno) != 0)
            umount2(card.c_str(), MNT_DETACH);
        PostQuitMessage(0);
    }};
    MSG m{};
    EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(busy, 0) << std::strerror(busy);
    std::filesystem::remove_all(root);
}

TEST_F(UserQueueTest, TranslateAddsCharactersForTheKeysThatHaveThem) {
    HWND top = TopLevel({0, 0, 10, 10});
    Drain();
    struct Row {
        WPARAM vk;
        bool makesChar;
    };
    const Row rows[] = {{VK_RETURN, true}, {VK_ESCAPE, true}, {VK_TAB, true},  {VK_SPACE, true},
                        {'A', true},       {VK_UP, false},    {VK_HOME, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.vk);
        PostMessageW(top, WM_USER, 0, 0);
        MSG key{top, WM_KEYDOWN, row.vk, 1, 0, {0, 0}};
        EXPECT_EQ(TranslateMessage(&key) != 0, row.makesChar);
        auto got = Drain();
        if (row.makesChar) {
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0].message, WM_CHAR) << "the character comes before what was queued";
            EXPECT_EQ(got[0].wParam, row.vk);
        } else {
            EXPECT_EQ(got.size(), 1u);
        }
    }
    MSG notKey{top, WM_USER, 0, 0, 0, {0, 0}};
    EXPECT_FALSE(TranslateMessage(&notKey));
}

TEST_F(UserQueueTest, InputIsDroppedForDisabledWindowsAndTheirChildren) {
    HWND top = TopLevel({0, 0, 100, 100});
    HWND child = Child(top, 1, {0, 0, 10, 10}, WS_CHILD | WS_VISIBLE, WindowKind::Static, Recorder);
    struct Row {
        bool topEnabled, childEnabled;
        UINT msg;
        bool delivered;
    };
    const Row rows[] = {
        {true, true, WM_KEYDOWN, true},   {true, false, WM_KEYDOWN, false},
        {false, true, WM_KEYDOWN, false}, {false, true, WM_LBUTTONDOWN, false},
        {false, true, WM_CHAR, false},    {false, true, WM_USER, true},
        {true, true, WM_LBUTTONUP, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.topEnabled << row.childEnabled << ' ' << row.msg);
        EnableWindow(top, row.topEnabled);
        EnableWindow(child, row.childEnabled);
        g_seen.clear();
        MSG m{child, row.msg, 0, 0, 0, {0, 0}};
        DispatchMessageW(&m);
        EXPECT_EQ(std::count(g_seen.begin(), g_seen.end(), row.msg), row.delivered ? 1 : 0);
    }
}

TEST_F(UserQueueTest, EnableWindowReportsThePreviousState) {
    HWND top = TopLevel({0, 0, 10, 10});
    EXPECT_FALSE(EnableWindow(top, FALSE));
    EXPECT_TRUE(EnableWindow(top, FALSE));
    EXPECT_FALSE(IsWindowEnabled(top));
    EXPECT_TRUE(EnableWindow(top, TRUE));
    EXPECT_TRUE(IsWindowEnabled(top));
}

TEST_F(UserQueueTest, PaintRequestsCoalesceAndComeAfterPostedMessages) {
    HWND top = TopLevel({0, 0, 100, 100});
    HWND child = Child(top, 1, {0, 0, 10, 10}, WS_CHILD | WS_VISIBLE, WindowKind::Static, Recorder);
    Drain();
    InvalidateRect(child, nullptr, TRUE);
    InvalidateRect(child, nullptr, TRUE);
    SetWindowTextW(child, u"x");
    PostMessageW(top, WM_USER, 0, 0);
    auto got = Drain();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, WM_USER);
    EXPECT_EQ(got[1].message, WM_PAINT);
    EXPECT_EQ(got[1].hwnd, child);
    ShowWindow(child, SW_HIDE);
    Drain();
    InvalidateRect(child, nullptr, TRUE);
    EXPECT_TRUE(Drain().empty()) << "a hidden window is not painted";
}

TEST_F(UserQueueTest, UpdateWindowPaintsAtOnceAndTellsTheDisplay) {
    HWND top = TopLevel({0, 0, 100, 100});
    HWND child = Child(top, 1, {0, 0, 10, 10}, WS_CHILD | WS_VISIBLE, WindowKind::Static, Recorder);
    Drain();
    g_seen.clear();
    SetWindowTextW(child, u"3 / 10");
    const int before = display->screenChanges;
    EXPECT_TRUE(UpdateWindow(child));
    EXPECT_EQ(g_seen, std::vector<UINT>{WM_PAINT});
    EXPECT_GT(display->screenChanges, before);
    EXPECT_EQ(display->repaints, 1) << "the display may present the repaint now";
    EXPECT_TRUE(Drain().empty()) << "nothing left to paint later";
    g_seen.clear();
    UpdateWindow(child);
    EXPECT_TRUE(g_seen.empty()) << "a window with nothing to paint is left alone";
    EXPECT_EQ(display->repaints, 1);
    EXPECT_TRUE(GdiFlush());
    EXPECT_EQ(display->flushes, 1);
}

// A progress counter repaints even when its text did not change, and only what can be seen
// reaches the display: the window's own flag is not enough, its ancestors' count too.
TEST_F(UserQueueTest, UpdateWindowRepaintsTheSameTextAndPresentsOnlyWhatIsShown) {
    HWND top = TopLevel({0, 0, 100, 100});
    HWND child = Child(top, 1, {0, 0, 10, 10}, WS_CHILD | WS_VISIBLE, WindowKind::Static, Recorder);
    Drain();
    SetWindowTextW(child, u"child");
    g_seen.clear();
    UpdateWindow(child);
    EXPECT_EQ(g_seen, std::vector<UINT>{WM_PAINT});
    EXPECT_EQ(display->repaints, 1);

    ShowWindow(top, SW_HIDE);
    const int changes = display->screenChanges;
    SetWindowTextW(child, u"1 / 2");
    g_seen.clear();
    UpdateWindow(child);
    EXPECT_EQ(g_seen, std::vector<UINT>{WM_PAINT}) << "a hidden window still paints when told to";
    EXPECT_EQ(display->repaints, 1);
    EXPECT_EQ(display->screenChanges, changes);
    EXPECT_FALSE(IsWindowVisible(child));
}

}  // namespace
}  // namespace wce::user::testing
