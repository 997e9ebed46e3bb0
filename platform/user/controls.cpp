// The controls: list box, static text and push button.
#include <algorithm>

#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

void Notify(HWND hWnd, WORD code) {
    auto* w = Lookup(hWnd);
    if (w && w->parent)
        SendMessageW(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code),
                     reinterpret_cast<LPARAM>(hWnd));
}

void ScrollIntoView(WindowObject& w) {
    const int rows = ListVisibleRows(w);
    if (w.curSel < 0) return;
    if (w.curSel < w.topIndex)
        w.topIndex = w.curSel;
    else if (w.curSel >= w.topIndex + rows)
        w.topIndex = w.curSel - rows + 1;
}

void ClampTop(WindowObject& w) {
    const int count = static_cast<int>(w.items.size());
    w.topIndex = std::clamp(w.topIndex, 0, std::max(0, count - ListVisibleRows(w)));
}

// A user's selection: scrolls it into view and tells the parent when it changed.
void SelectByUser(HWND hWnd, int index) {
    auto* w = Lookup(hWnd);
    const int count = static_cast<int>(w->items.size());
    if (count == 0) return;
    index = std::clamp(index, 0, count - 1);
    const bool changed = index != w->curSel;
    w->curSel = index;
    ScrollIntoView(*w);
    Invalidate(hWnd);
    if (changed && (w->style & LBS_NOTIFY)) Notify(hWnd, LBN_SELCHANGE);
}

LRESULT ListKey(HWND hWnd, WPARAM vk) {
    auto* w = Lookup(hWnd);
    const int page = std::max(1, ListVisibleRows(*w) - 1);
    const int sel = w->curSel;
    switch (vk) {
        case VK_UP:
            SelectByUser(hWnd, sel < 0 ? 0 : sel - 1);
            break;
        case VK_DOWN:
            SelectByUser(hWnd, sel + 1);
            break;
        case VK_HOME:
            SelectByUser(hWnd, 0);
            break;
        case VK_END:
            SelectByUser(hWnd, static_cast<int>(w->items.size()) - 1);
            break;
        case VK_PRIOR:
            SelectByUser(hWnd, sel < 0 ? 0 : sel - page);
            break;
        case VK_NEXT:
            SelectByUser(hWnd, sel < 0 ? 0 : sel + page);
            break;
        default:
            return 0;
    }
    return 0;
}

LRESULT ListInsert(WindowObject& w, int index, LPCWSTR text) {
    const int count = static_cast<int>(w.items.size());
    if (index == -1) index = count;
    if (index < 0 || index > count) return LB_ERR;
    w.items.insert(w.items.begin() + index, text ? text : u"");
    if (w.curSel >= index) ++w.curSel;
    return index;
}

LRESULT ListDelete(WindowObject& w, int index) {
    const int count = static_cast<int>(w.items.size());
    if (index < 0 || index >= count) return LB_ERR;
    w.items.erase(w.items.begin() + index);
    if (w.curSel == index)
        w.curSel = -1;
    else if (w.curSel > index)
        --w.curSel;
    ClampTop(w);
    return count - 1;
}

LRESULT ListGetText(const WindowObject& w, int index, LPWSTR buffer) {
    if (index < 0 || index >= static_cast<int>(w.items.size())) return LB_ERR;
    const auto& s = w.items[static_cast<size_t>(index)];
    if (buffer) {
        std::copy(s.begin(), s.end(), buffer);
        buffer[s.size()] = u'\0';
    }
    return static_cast<LRESULT>(s.size());
}

LRESULT ListSetCurSel(HWND hWnd, WindowObject& w, int index) {
    Invalidate(hWnd);
    if (index == -1) {
        w.curSel = -1;
        return LB_ERR;
    }
    if (index < 0 || index >= static_cast<int>(w.items.size())) return LB_ERR;
    w.curSel = index;
    ScrollIntoView(w);
    return index;
}

LRESULT ListRequest(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& w = *Lookup(hWnd);
    const int index = static_cast<int>(static_cast<LONG>(wParam));
    Invalidate(hWnd);
    switch (msg) {
        case LB_ADDSTRING:
            return ListInsert(w, -1, reinterpret_cast<LPCWSTR>(lParam));
        case LB_INSERTSTRING:
            return ListInsert(w, index, reinterpret_cast<LPCWSTR>(lParam));
        case LB_DELETESTRING:
            return ListDelete(w, index);
        case LB_RESETCONTENT:
            w.items.clear();
            w.curSel = -1;
            w.topIndex = 0;
            return 0;
        case LB_SETCURSEL:
            return ListSetCurSel(hWnd, w, index);
        case LB_GETCURSEL:
            return w.curSel < 0 ? LB_ERR : w.curSel;
        case LB_GETTEXT:
            return ListGetText(w, index, reinterpret_cast<LPWSTR>(lParam));
        case LB_GETTEXTLEN:
            return ListGetText(w, index, nullptr);
        case LB_GETCOUNT:
            return static_cast<LRESULT>(w.items.size());
        case LB_GETTOPINDEX:
            return w.topIndex;
        case LB_SETTOPINDEX:
            if (index < 0 || index >= std::max(1, static_cast<int>(w.items.size()))) return LB_ERR;
            w.topIndex = index;
            ClampTop(w);
            return 0;
        case LB_GETITEMHEIGHT:
            return ListItemHeight();
        default:
            return LB_ERR;
    }
}

void ListClick(HWND hWnd, LPARAM lParam) {
    auto* w = Lookup(hWnd);
    const int y = static_cast<short>(HIWORD(static_cast<WPARAM>(lParam)));
    SetFocus(hWnd);
    if (y < 0) return;
    const int index = w->topIndex + y / ListItemHeight();
    if (index < static_cast<int>(w->items.size())) SelectByUser(hWnd, index);
}

}  // namespace

int ListItemHeight() {
    return std::max(1, DialogFont().height);
}

int ListVisibleRows(const WindowObject& w) {
    const RECT c = ClientScreenRectOf(const_cast<WindowObject*>(&w));
    return std::max(1, static_cast<int>((c.bottom - c.top) / ListItemHeight()));
}

LRESULT ListBoxProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= LB_ADDSTRING && msg <= LB_GETITEMHEIGHT)
        return ListRequest(hWnd, msg, wParam, lParam);
    switch (msg) {
        case WM_KEYDOWN:
            return ListKey(hWnd, wParam);
        case WM_LBUTTONDOWN:
            ListClick(hWnd, lParam);
            return 0;
        case WM_SELECTITEM:
            SetFocus(hWnd);
            SelectByUser(hWnd, static_cast<int>(wParam));
            return 0;
        default:
            return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
}

LRESULT StaticProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

void ClickButton(HWND hButton) {
    Notify(hButton, BN_CLICKED);
}

LRESULT ButtonProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* w = Lookup(hWnd);
    switch (msg) {
        case WM_LBUTTONDOWN:
            w->pressed = true;
            if (w->style & WS_TABSTOP) SetFocus(hWnd);
            Invalidate(hWnd);
            return 0;
        case WM_LBUTTONUP:
            if (!w->pressed) return 0;
            w->pressed = false;
            Invalidate(hWnd);
            ClickButton(hWnd);
            return 0;
        default:
            return DefWindowProcW(hWnd, msg, wParam, lParam);
    }
}

}  // namespace wce::user
