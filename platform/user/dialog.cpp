// Dialog windows from templates, their modal loop and their keyboard navigation.
#include <algorithm>

#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

struct ControlClass {
    std::u16string_view name;
    WindowKind kind;
    WNDPROC proc;
};

const ControlClass* ClassOf(LPCWSTR name) {
    static const ControlClass classes[] = {
        {u"LISTBOX", WindowKind::ListBox, ListBoxProc},
        {u"STATIC", WindowKind::Static, StaticProc},
        {u"BUTTON", WindowKind::Button, ButtonProc},
    };
    if (!name) return nullptr;
    for (const auto& c : classes) {
        std::u16string_view n(name);
        if (std::equal(
                n.begin(), n.end(), c.name.begin(), c.name.end(),
                [](char16_t a, char16_t b) { return (a >= u'a' && a <= u'z' ? a - 32 : a) == b; }))
            return &c;
    }
    return nullptr;
}

RECT MapRect(short x, short y, short cx, short cy) {
    return {DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(x + cx),
            DialogUnitsToPixelsY(y + cy)};
}

LRESULT DialogWindowProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* w = Lookup(hDlg);
    if (w->dlgProc) {
        const LRESULT r = w->dlgProc(hDlg, msg, wParam, lParam);
        if (r || msg == WM_INITDIALOG || !Lookup(hDlg)) return r;
    }
    switch (msg) {
        case WM_CAPTIONOK:
            SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        case WM_CLOSE:
            PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return 0;
        case WM_COMMAND:
            return 0;
        default:
            return DefWindowProcW(hDlg, msg, wParam, lParam);
    }
}

// Its own flags: the dialog itself is still hidden while its first focus is chosen.
bool Usable(HWND h) {
    const DWORD style = Lookup(h)->style;
    return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

std::vector<HWND> TabStops(HWND hDlg) {
    std::vector<HWND> stops;
    for (HWND c : Lookup(hDlg)->children)
        if ((Lookup(c)->style & WS_TABSTOP) && Usable(c)) stops.push_back(c);
    return stops;
}

void MoveFocus(HWND hDlg, bool backwards) {
    const auto stops = TabStops(hDlg);
    if (stops.empty()) return;
    auto it = std::find(stops.begin(), stops.end(), GetFocus());
    long i = it == stops.end() ? (backwards ? 0 : -1) : it - stops.begin();
    const long n = static_cast<long>(stops.size());
    i = ((backwards ? i - 1 : i + 1) % n + n) % n;
    SetFocus(stops[static_cast<size_t>(i)]);
}

bool IsPushButton(HWND h) {
    return Lookup(h) && Lookup(h)->kind == WindowKind::Button;
}

void PressEnter(HWND hDlg) {
    const HWND focus = GetFocus();
    if (IsPushButton(focus) && IsDescendant(hDlg, focus)) return ClickButton(focus);
    for (HWND c : Lookup(hDlg)->children)
        if (IsPushButton(c) && (Lookup(c)->style & 0xF) == BS_DEFPUSHBUTTON && Usable(c))
            return ClickButton(c);
    SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDOK)));
}

bool DialogKey(HWND hDlg, WPARAM vk, LPARAM lParam) {
    const HWND focus = GetFocus();
    switch (vk) {
        case VK_TAB:
            MoveFocus(hDlg, (lParam & kShiftDown) != 0);
            return true;
        case VK_RETURN:
            PressEnter(hDlg);
            return true;
        case VK_ESCAPE:
            SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
            return true;
        case VK_SPACE:
            if (IsPushButton(focus) && IsDescendant(hDlg, focus)) ClickButton(focus);
            return true;
        case VK_UP:
        case VK_DOWN:
        case VK_HOME:
        case VK_END:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_LEFT:
        case VK_RIGHT:
            if (Lookup(focus) && Lookup(focus)->kind == WindowKind::ListBox &&
                IsDescendant(hDlg, focus))
                SendMessageW(focus, WM_KEYDOWN, vk, lParam);
            return true;
        default:
            return false;
    }
}

HWND CreateControl(HWND hDlg, const DialogItemTemplate& item) {
    const ControlClass* cls = ClassOf(item.className);
    if (!cls) return nullptr;
    return CreateWindowObject(cls->kind, hDlg, item.style | WS_CHILD, item.exStyle, item.id,
                              MapRect(item.x, item.y, item.cx, item.cy),
                              item.text ? item.text : u"", cls->proc);
}

}  // namespace
}  // namespace wce::user

using namespace wce::user;

HWND CreateDialogIndirectParamW(HINSTANCE, const DialogTemplate* t, HWND hWndParent,
                                DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool caption = (t->style & WS_CAPTION) == WS_CAPTION;
    const int fx = caption ? 2 * kFrameWidth : 0;
    const int fy = caption ? 2 * kFrameWidth + kCaptionHeight : 0;
    const LONG x = DialogUnitsToPixelsX(t->x), y = DialogUnitsToPixelsY(t->y);
    const RECT outer{x, y, x + DialogUnitsToPixelsX(t->cx) + fx,
                     y + DialogUnitsToPixelsY(t->cy) + fy};
    // Shown only after its initialisation, as the device does.
    HWND hDlg = CreateWindowObject(WindowKind::Dialog, nullptr, t->style & ~WS_VISIBLE, t->exStyle,
                                   0, outer, t->title ? t->title : u"", DialogWindowProc);
    auto* w = Lookup(hDlg);
    w->owner = TopLevelOf(hWndParent);
    w->dlgProc = lpDialogFunc;
    w->savedFocus = GetFocus();
    for (const auto& item : t->items) CreateControl(hDlg, item);
    SetActive(hDlg);
    const auto stops = TabStops(hDlg);
    const HWND first = stops.empty() ? nullptr : stops.front();
    if (SendMessageW(hDlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), dwInitParam) &&
        Lookup(hDlg)) {
        const auto now = TabStops(hDlg);
        if (!now.empty()) SetFocus(now.front());
    }
    if (Lookup(hDlg) && (t->style & WS_VISIBLE)) ShowWindow(hDlg, SW_SHOW);
    return Lookup(hDlg) ? hDlg : nullptr;
}

BOOL EndDialog(HWND hDlg, LRESULT nResult) {
    auto* w = Lookup(hDlg);
    if (!w || (w->kind != WindowKind::Dialog && w->kind != WindowKind::MessageBox)) return FALSE;
    w->ended = true;
    w->result = nResult;
    return TRUE;
}

LRESULT RunModalLoop(HWND hDlg) {
    auto* w = Lookup(hDlg);
    if (!w) return -1;
    const HWND owner = w->owner;
    const bool disableOwner = owner && IsWindowEnabled(owner);
    if (disableOwner) EnableWindow(owner, FALSE);
    if (!w->ended && !(w->style & WS_VISIBLE)) ShowWindow(hDlg, SW_SHOW);
    MSG msg{};
    while ((w = Lookup(hDlg)) != nullptr && !w->ended) {
        if (!GetMessageW(&msg, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // the outer loop must see it too
            break;
        }
        if (!IsDialogMessageW(hDlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (disableOwner && Lookup(owner)) EnableWindow(owner, TRUE);
    w = Lookup(hDlg);
    return (w && w->ended) ? w->result : -1;
}

BOOL IsDialogMessageW(HWND hDlg, MSG* lpMsg) {
    if (!Lookup(hDlg) || !lpMsg || !IsDescendant(hDlg, lpMsg->hwnd)) return FALSE;
    if (IsInputMessage(lpMsg->message) && !IsEnabledChain(lpMsg->hwnd)) return TRUE;  // dropped
    if (lpMsg->message == WM_KEYDOWN)
        return DialogKey(hDlg, lpMsg->wParam, lpMsg->lParam) ? TRUE : FALSE;
    if (lpMsg->message == WM_CHAR) {
        const WPARAM ch = lpMsg->wParam;
        return (ch == VK_TAB || ch == VK_RETURN || ch == VK_ESCAPE || ch == VK_SPACE) ? TRUE
                                                                                      : FALSE;
    }
    return FALSE;
}

void SetWindowUserData(HWND hWnd, void* data) {
    if (auto* w = Lookup(hWnd)) w->userData = data;
}

void* GetWindowUserData(HWND hWnd) {
    auto* w = Lookup(hWnd);
    return w ? w->userData : nullptr;
}
