// A clean window system for each test, with a display that answers waits from a list.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/user/device_profile.h"
#include "platform/user/window_tree.h"

// RECT is a global type: its operators live beside it for lookup.
inline bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& os, const RECT& r) {
    return os << '{' << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom << '}';
}

namespace wce::user::testing {

class ScriptedDisplay : public Display {
  public:
    std::vector<std::function<void()>> answers;  // one per wait, in order
    size_t next = 0;
    int screenChanges = 0;
    int repaints = 0;
    int flushes = 0;
    int polls = 0;
    void WaitForInput() override {
        if (next < answers.size())
            answers[next++]();
        else
            PostQuitMessage(99);  // a test that waits more than it planned ends instead of hanging
    }
    void ScreenChanged() override { ++screenChanges; }
    void Repainted() override { ++repaints; }
    void Flush() override { ++flushes; }
    void Poll() override { ++polls; }
};

class UserTest : public ::testing::Test {
  protected:
    ScriptedDisplay* display = nullptr;
    void SetUp() override {
        DestroyAllWindows();
        ClearQueue();
        SetDialogFontMetrics(7, 15);
        SetLogPixelsY(96);
        auto d = std::make_unique<ScriptedDisplay>();
        display = d.get();
        SetDisplay(std::move(d));
    }
    void TearDown() override {
        DestroyAllWindows();
        ClearQueue();
        SetDisplay(nullptr);
    }
    static HWND TopLevel(const RECT& r, DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION) {
        return CreateWindowObject(WindowKind::Dialog, nullptr, style, 0, 0, r, u"top", nullptr);
    }
    static HWND Child(HWND parent, int id, const RECT& r, DWORD style = WS_CHILD | WS_VISIBLE,
                      WindowKind kind = WindowKind::Static, WNDPROC proc = StaticProc) {
        return CreateWindowObject(kind, parent, style, 0, id, r, u"child", proc);
    }
    static std::vector<MSG> Drain() {
        std::vector<MSG> got;
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            got.push_back(m);
            if (m.message == WM_PAINT) DispatchMessageW(&m);  // a paint stays pending until painted
        }
        return got;
    }
};

}  // namespace wce::user::testing
