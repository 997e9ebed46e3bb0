// The thread's message queue, painting and the display slot.
#include <algorithm>

#include "platform/kernel/activity.h"
#include "platform/kernel/device.h"
#include "platform/user/console.h"
#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

// Without a display nobody can answer a wait, so ending the loop is the only way not to hang.
class NoDisplay : public Display {
  public:
    void WaitForInput() override { PostQuitMessage(0); }
};

struct Queue {
    std::deque<MSG> messages;
    bool quitPending = false;
    int quitCode = 0;
};

Queue& TheQueue() {
    thread_local Queue queue;
    return queue;
}

std::unique_ptr<Display>& DisplaySlot() {
    static std::unique_ptr<Display> display = std::make_unique<NoDisplay>();
    return display;
}

bool Matches(const MSG& m, HWND hWnd, UINT lo, UINT hi) {
    if (hWnd && !IsDescendant(hWnd, m.hwnd)) return false;
    return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi);
}

LRESULT Deliver(HWND hWnd, const WindowObject& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    return w.proc ? w.proc(hWnd, msg, wParam, lParam) : DefWindowProcW(hWnd, msg, wParam, lParam);
}

HWND FindPaintable(const std::vector<HWND>& windows, HWND filter) {
    for (HWND h : windows) {
        if (!(h->style & WS_VISIBLE)) continue;
        if (h->needsPaint && (!filter || IsDescendant(filter, h))) return h;
        if (HWND c = FindPaintable(h->children, filter)) return c;
    }
    return nullptr;
}

// Posted messages first, then the quit request, then a coalesced paint.
bool TakeMessage(MSG* out, HWND hWnd, UINT lo, UINT hi, bool remove) {
    auto& q = TheQueue();
    auto it = std::find_if(q.messages.begin(), q.messages.end(),
                           [&](const MSG& m) { return Matches(m, hWnd, lo, hi); });
    if (it != q.messages.end()) {
        *out = *it;
        if (remove) q.messages.erase(it);
        return true;
    }
    if (q.quitPending && (lo == 0 || lo <= WM_QUIT) && (hi == 0 || hi >= WM_QUIT)) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, 0, {0, 0}};
        if (remove) q.quitPending = false;
        return true;
    }
    if ((lo == 0 && hi == 0) || (lo <= WM_PAINT && hi >= WM_PAINT)) {
        if (HWND p = FindPaintable(TopLevelWindows(), hWnd)) {
            *out = MSG{p, WM_PAINT, 0, 0, 0, {0, 0}};
            return true;
        }
    }
    return false;
}

}  // namespace

void SetDisplay(std::unique_ptr<Display> display) {
    DisplaySlot() = display ? std::move(display) : std::make_unique<NoDisplay>();
}

Display& CurrentDisplay() {
    return *DisplaySlot();
}

bool HasQueuedMessages() {
    return !TheQueue().messages.empty() || TheQueue().quitPending;
}

void PostFront(const MSG& msg) {
    TheQueue().messages.push_front(msg);
}

void PurgeMessagesFor(HWND hWnd) {
    auto& m = TheQueue().messages;
    m.erase(std::remove_if(m.begin(), m.end(), [hWnd](const MSG& x) { return x.hwnd == hWnd; }),
            m.end());
}

void ClearQueue() {
    TheQueue().messages.clear();
    TheQueue().quitPending = false;
}

}  // namespace wce::user

using namespace wce::user;

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd && !Lookup(hWnd)) return FALSE;
    TheQueue().messages.push_back(MSG{hWnd, Msg, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto* w = Lookup(hWnd);
    return w ? Deliver(hWnd, *w, Msg, wParam, lParam) : 0;
}

BOOL PeekMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    const bool remove = (wRemoveMsg & PM_REMOVE) != 0;
    if (TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, remove)) return TRUE;
    // Only once the queue is drained: a frame shows the whole step, not each paint on the way.
    CurrentDisplay().Poll();
    DeliverConsoleEvents();
    // A display posts the input it gathers; it never asks for paints.
    if (!HasQueuedMessages()) return FALSE;
    return TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, remove) ? TRUE : FALSE;
}

BOOL GetMessageW(MSG* lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (!lpMsg) return FALSE;
    while (!TakeMessage(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
        RunIdleHook();
        // The user may take the card out now: nothing the kernel learnt may keep it mounted.
        wce::kernel::ForgetHost();
        CurrentDisplay().WaitForInput();
    }
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL TranslateMessage(const MSG* lpMsg) {
    if (!lpMsg || lpMsg->message != WM_KEYDOWN) return FALSE;
    const WPARAM vk = lpMsg->wParam;
    WPARAM ch = 0;
    if (vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_TAB || vk == VK_SPACE)
        ch = vk;
    else if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        ch = vk;
    if (!ch) return FALSE;
    PostFront(MSG{lpMsg->hwnd, WM_CHAR, ch, lpMsg->lParam, lpMsg->time, lpMsg->pt});
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
    if (!lpMsg || !Lookup(lpMsg->hwnd)) return 0;
    // The device's input goes nowhere while the window or an ancestor is disabled.
    if (IsInputMessage(lpMsg->message) && !IsEnabledChain(lpMsg->hwnd)) return 0;
    const LRESULT r = SendMessageW(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    // A procedure that ignores a paint must not make the queue hand it out forever.
    if (lpMsg->message == WM_PAINT)
        if (auto* w = Lookup(lpMsg->hwnd)) w->needsPaint = false;
    return r;
}

void PostQuitMessage(int nExitCode) {
    TheQueue().quitPending = true;
    TheQueue().quitCode = nExitCode;
}

LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    auto* w = Lookup(hWnd);
    if (!w) return 0;
    switch (Msg) {
        case WM_PAINT:
            w->needsPaint = false;
            if (IsVisibleChain(*w)) CurrentDisplay().ScreenChanged();
            return 0;
        case WM_SETTEXT:
            return SetWindowTextW(hWnd, reinterpret_cast<LPCWSTR>(lParam));
        case WM_GETTEXT:
            return GetWindowTextW(hWnd, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
        case WM_GETTEXTLENGTH:
            return GetWindowTextLengthW(hWnd);
        case WM_SETICON: {
            HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
            HICON old = slot;
            slot = reinterpret_cast<HICON>(lParam);
            Invalidate(hWnd);
            return reinterpret_cast<LRESULT>(old);
        }
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        default:
            return 0;
    }
}

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
    if (!hWnd) {
        for (HWND h : TopLevelWindows()) Invalidate(h);
        return TRUE;
    }
    if (!Lookup(hWnd)) return FALSE;
    Invalidate(hWnd);
    return TRUE;
}

BOOL UpdateWindow(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    if (w->needsPaint) {
        Deliver(hWnd, *w, WM_PAINT, 0, 0);
        // Its procedure may have destroyed it.
        if ((w = Lookup(hWnd)) != nullptr) w->needsPaint = false;
        // The device shows an immediate repaint at once; the display does when a frame is due.
        if (w && IsVisibleChain(*w)) CurrentDisplay().Repainted();
    }
    return TRUE;
}

BOOL GdiFlush() {
    CurrentDisplay().Flush();
    return TRUE;
}

namespace {

// Long work inside one kernel call (reading back what was written) drains the queue as a copy
// does between files, so the displays keep painting while the program waits for it.
void DrainPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
[[maybe_unused]] const bool kIdleHooked = (wce::kernel::SetIdleHook(&DrainPending), true);

}  // namespace
