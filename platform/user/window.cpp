// The window tree: creation, destruction, geometry, stacking, visibility, enabling, focus, text.
#include <algorithm>
#include <unordered_map>

#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

struct Tree {
    std::unordered_map<HWND, std::unique_ptr<WindowObject>> windows;
    std::vector<HWND> topLevel;
    HWND focus = nullptr;
    HWND active = nullptr;
    WindowHook destroyHook = nullptr;
    IdleHook idleHook = nullptr;
};

Tree& TheTree() {
    static Tree tree;
    return tree;
}

std::vector<HWND>& SiblingsOf(WindowObject& w) {
    return w.parent ? w.parent->children : TheTree().topLevel;
}

bool HasCaption(const WindowObject& w) {
    return (w.style & WS_CAPTION) == WS_CAPTION;
}

RECT Inset(RECT r, int l, int t, int rr, int b) {
    return {r.left + l, r.top + t, std::max(r.left + l, r.right - rr),
            std::max(r.top + t, r.bottom - b)};
}

// Children are kept top of the stacking order first, top-level windows bottom first.
void Restack(HWND hWnd, HWND insertAfter) {
    const bool topLevel = Lookup(hWnd)->parent == nullptr;
    auto& sibs = SiblingsOf(*Lookup(hWnd));
    sibs.erase(std::find(sibs.begin(), sibs.end(), hWnd));
    if (insertAfter == HWND_TOP || insertAfter == HWND_BOTTOM) {
        const bool atFront = (insertAfter == HWND_TOP) != topLevel;
        sibs.insert(atFront ? sibs.begin() : sibs.end(), hWnd);
        return;
    }
    auto it = std::find(sibs.begin(), sibs.end(), insertAfter);
    if (it == sibs.end())
        sibs.insert(topLevel ? sibs.end() : sibs.begin(), hWnd);
    else
        sibs.insert(topLevel ? it : it + 1, hWnd);
}

void SendDestroyTree(HWND hWnd) {
    SendMessageW(hWnd, WM_DESTROY, 0, 0);
    auto* w = Lookup(hWnd);
    if (!w) return;
    const auto children = w->children;
    for (HWND c : children)
        if (Lookup(c)) SendDestroyTree(c);
}

void FreeTree(HWND hWnd) {
    auto& tree = TheTree();
    auto* w = Lookup(hWnd);
    if (!w) return;
    for (HWND c : std::vector<HWND>(w->children)) FreeTree(c);
    if (tree.focus == hWnd) tree.focus = nullptr;
    if (tree.destroyHook) tree.destroyHook(hWnd);
    PurgeMessagesFor(hWnd);
    tree.windows.erase(hWnd);
}

}  // namespace

bool IsInputMessage(UINT m) {
    return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR || m == WM_MOUSEMOVE ||
           m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_CAPTIONOK || m == WM_SELECTITEM;
}

HWND CreateWindowObject(WindowKind kind, HWND parent, DWORD style, DWORD exStyle, int id,
                        const RECT& rect, std::u16string text, WNDPROC proc) {
    auto obj = std::make_unique<WindowObject>();
    HWND h = obj.get();
    obj->kind = kind;
    obj->parent = parent;
    obj->style = style;
    obj->exStyle = exStyle;
    obj->id = id;
    obj->rect = rect;
    obj->text = std::move(text);
    obj->proc = proc;
    obj->needsPaint = true;
    auto& tree = TheTree();
    tree.windows.emplace(h, std::move(obj));
    if (parent)
        Lookup(parent)->children.push_back(h);
    else
        tree.topLevel.push_back(h);
    if (IsVisibleChain(h)) CurrentDisplay().ScreenChanged();
    return h;
}

WindowObject* Lookup(HWND hWnd) {
    if (!hWnd) return nullptr;  // the end of every parent chain
    auto& windows = TheTree().windows;
    auto it = windows.find(hWnd);
    return it == windows.end() ? nullptr : it->second.get();
}

const std::vector<HWND>& TopLevelWindows() {
    return TheTree().topLevel;
}

void DestroyAllWindows() {
    while (!TheTree().topLevel.empty()) DestroyWindow(TheTree().topLevel.back());
    TheTree().focus = TheTree().active = nullptr;
}

bool IsEnabledChain(HWND hWnd) {
    const WindowObject* w = Lookup(hWnd);
    if (!w) return false;
    for (; w; w = w->parent)
        if (w->style & WS_DISABLED) return false;
    return true;
}

bool IsVisibleChain(const WindowObject& window) {
    for (const WindowObject* w = &window; w; w = w->parent)
        if (!(w->style & WS_VISIBLE)) return false;
    return true;
}

bool IsVisibleChain(HWND hWnd) {
    const WindowObject* w = Lookup(hWnd);
    return w && IsVisibleChain(*w);
}

HWND TopLevelOf(HWND hWnd) {
    WindowObject* w = Lookup(hWnd);
    if (!w) return nullptr;
    while (w->parent) w = w->parent;
    return w;
}

bool IsDescendant(HWND ancestor, HWND hWnd) {
    if (!Lookup(hWnd)) return false;
    for (; hWnd; hWnd = hWnd->parent)
        if (hWnd == ancestor) return true;
    return false;
}

void Invalidate(HWND hWnd) {
    if (auto* w = Lookup(hWnd)) w->needsPaint = true;
}

void SetActive(HWND hWnd) {
    TheTree().active = hWnd;
}

RECT ClientScreenRectOf(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w) return {};
    const RECT outer = ScreenRectOf(hWnd);
    if (HasCaption(*w))
        return Inset(outer, kFrameWidth, kFrameWidth + kCaptionHeight, kFrameWidth, kFrameWidth);
    if (w->style & WS_BORDER)
        return Inset(outer, kBorderWidth, kBorderWidth, kBorderWidth, kBorderWidth);
    return outer;
}

RECT ScreenRectOf(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w) return {};
    if (!w->parent) return w->rect;
    const RECT pc = ClientScreenRectOf(w->parent);
    return {w->rect.left + pc.left, w->rect.top + pc.top, w->rect.right + pc.left,
            w->rect.bottom + pc.top};
}

RECT CaptionOkRect(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w || !HasCaption(*w) || !(w->exStyle & WS_EX_CAPTIONOKBTN)) return {};
    const RECT r = ScreenRectOf(hWnd);
    return {r.right - kFrameWidth - kCaptionOkWidth, r.top + kFrameWidth, r.right - kFrameWidth,
            r.top + kFrameWidth + kCaptionHeight};
}

void SetDestroyHook(WindowHook hook) {
    TheTree().destroyHook = hook;
}
void SetIdleHook(IdleHook hook) {
    TheTree().idleHook = hook;
}
void RunIdleHook() {
    if (TheTree().idleHook) TheTree().idleHook();
}

}  // namespace wce::user

using namespace wce::user;

BOOL IsWindow(HWND hWnd) {
    return Lookup(hWnd) != nullptr;
}

BOOL DestroyWindow(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    const bool wasVisible = IsVisibleChain(hWnd);
    const HWND parent = w->parent;
    SendDestroyTree(hWnd);
    if (!Lookup(hWnd)) return TRUE;  // destroyed from its own WM_DESTROY
    auto& sibs = SiblingsOf(*Lookup(hWnd));
    sibs.erase(std::find(sibs.begin(), sibs.end(), hWnd));
    FreeTree(hWnd);
    auto& tree = TheTree();
    if (tree.active && !Lookup(tree.active))
        tree.active = tree.topLevel.empty() ? nullptr : tree.topLevel.back();
    if (parent) Invalidate(parent);
    if (wasVisible) CurrentDisplay().ScreenChanged();
    return TRUE;
}

HWND GetParent(HWND hWnd) {
    auto* w = Lookup(hWnd);
    if (!w) return nullptr;
    return w->parent ? w->parent : w->owner;
}

HWND GetWindow(HWND hWnd, UINT uCmd) {
    auto* w = Lookup(hWnd);
    if (!w) return nullptr;
    if (uCmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
    if (uCmd != GW_HWNDNEXT) return nullptr;
    const auto& sibs = SiblingsOf(*w);
    auto it = std::find(sibs.begin(), sibs.end(), hWnd);
    return (it == sibs.end() || it + 1 == sibs.end()) ? nullptr : *(it + 1);
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    auto* w = Lookup(hDlg);
    if (!w) return nullptr;
    for (HWND c : w->children)
        if (c->id == nIDDlgItem) return c;
    return nullptr;
}

int GetDlgCtrlID(HWND hWnd) {
    auto* w = Lookup(hWnd);
    return w ? w->id : 0;
}

BOOL GetWindowRect(HWND hWnd, RECT* lpRect) {
    if (!Lookup(hWnd) || !lpRect) return FALSE;
    *lpRect = ScreenRectOf(hWnd);
    return TRUE;
}

BOOL GetClientRect(HWND hWnd, RECT* lpRect) {
    if (!Lookup(hWnd) || !lpRect) return FALSE;
    const RECT c = ClientScreenRectOf(hWnd);
    *lpRect = {0, 0, c.right - c.left, c.bottom - c.top};
    return TRUE;
}

BOOL ScreenToClient(HWND hWnd, POINT* p) {
    if (!Lookup(hWnd) || !p) return FALSE;
    const RECT c = ClientScreenRectOf(hWnd);
    p->x -= c.left;
    p->y -= c.top;
    return TRUE;
}

BOOL ClientToScreen(HWND hWnd, POINT* p) {
    if (!Lookup(hWnd) || !p) return FALSE;
    const RECT c = ClientScreenRectOf(hWnd);
    p->x += c.left;
    p->y += c.top;
    return TRUE;
}

BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    if (hWndInsertAfter == hWnd) hWndInsertAfter = HWND_TOP;
    RECT r = w->rect;
    if (!(uFlags & SWP_NOMOVE)) r = {X, Y, X + (r.right - r.left), Y + (r.bottom - r.top)};
    if (!(uFlags & SWP_NOSIZE))
        r = {r.left, r.top, r.left + std::max(0, cx), r.top + std::max(0, cy)};
    w->rect = r;
    if (!(uFlags & SWP_NOZORDER)) Restack(hWnd, hWndInsertAfter);
    if (!(uFlags & SWP_NOACTIVATE) && !w->parent) SetActive(hWnd);
    Invalidate(hWnd);
    if (w->parent) Invalidate(w->parent);
    if (IsVisibleChain(hWnd)) CurrentDisplay().ScreenChanged();
    return TRUE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    const BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    if (nCmdShow == SW_HIDE)
        w->style &= ~WS_VISIBLE;
    else
        w->style |= WS_VISIBLE;
    if (wasVisible != ((w->style & WS_VISIBLE) != 0)) {
        SendMessageW(hWnd, WM_SHOWWINDOW, nCmdShow != SW_HIDE, 0);
        Invalidate(hWnd);
        if (w->parent) Invalidate(w->parent);
        CurrentDisplay().ScreenChanged();
    }
    return wasVisible;
}

BOOL IsWindowVisible(HWND hWnd) {
    return IsVisibleChain(hWnd) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    const BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (bEnable)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    if (wasDisabled != ((w->style & WS_DISABLED) != 0)) {
        SendMessageW(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
        Invalidate(hWnd);
    }
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
    auto* w = Lookup(hWnd);
    return (w && !(w->style & WS_DISABLED)) ? TRUE : FALSE;
}

HWND SetFocus(HWND hWnd) {
    auto& tree = TheTree();
    const HWND old = tree.focus;
    if (hWnd && !Lookup(hWnd)) return nullptr;
    if (old == hWnd) return old;
    tree.focus = hWnd;
    if (Lookup(old)) {
        SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
        Invalidate(old);
    }
    if (hWnd) {
        SendMessageW(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
        Invalidate(hWnd);
    }
    CurrentDisplay().ScreenChanged();
    return old;
}

HWND GetFocus() {
    return TheTree().focus;
}
HWND GetActiveWindow() {
    return TheTree().active;
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    auto* w = Lookup(hWnd);
    if (!w) return FALSE;
    w->text = lpString ? lpString : u"";
    w->needsPaint = true;  // even for the same text: the caller asked for it to be drawn
    return TRUE;
}

int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    auto* w = Lookup(hWnd);
    if (!w || !lpString || nMaxCount <= 0) return 0;
    const int n = std::min(static_cast<int>(w->text.size()), nMaxCount - 1);
    std::copy_n(w->text.begin(), n, lpString);
    lpString[n] = u'\0';
    return n;
}

int GetWindowTextLengthW(HWND hWnd) {
    auto* w = Lookup(hWnd);
    return w ? static_cast<int>(w->text.size()) : 0;
}

LONG GetWindowLongStyle(HWND hWnd) {
    auto* w = Lookup(hWnd);
    return w ? static_cast<LONG>(w->style) : 0;
}
