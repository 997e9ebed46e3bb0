// What displays see of the window tree, the input they inject, and the screen dump.
#include <algorithm>
#include <functional>
#include <sstream>

#include "platform/user/text.h"
#include "platform/user/window_tree.h"

namespace wce::user {
namespace {

WindowView ViewOf(HWND h) {
    auto* w = Lookup(h);
    WindowView v{};
    v.hwnd = h;
    v.kind = w->kind;
    v.id = w->id;
    v.style = w->style;
    v.exStyle = w->exStyle;
    v.rect = ScreenRectOf(h);
    v.client = ClientScreenRectOf(h);
    v.text = w->text;
    v.visible = (w->style & WS_VISIBLE) != 0;
    v.enabled = (w->style & WS_DISABLED) == 0;
    v.focused = GetFocus() == h;
    v.pressed = w->pressed;
    if (w->kind == WindowKind::ListBox) {
        v.items = w->items;
        v.curSel = w->curSel;
        v.topIndex = w->topIndex;
        v.itemHeight = ListItemHeight();
    }
    v.captionOk = CaptionOkRect(h);
    v.hasCaptionOk = v.captionOk.right > v.captionOk.left;
    v.smallIcon = w->smallIcon;
    v.infoIcon = w->infoIcon;
    for (HWND c : w->children) v.children.push_back(ViewOf(c));
    return v;
}

bool Contains(const RECT& r, POINT p) {
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

// Topmost visible top-level window first.
template <typename Pred>
HWND FindTopDown(Pred pred) {
    const auto& tops = TopLevelWindows();
    for (auto it = tops.rbegin(); it != tops.rend(); ++it)
        if (IsVisibleChain(*it) && pred(*it)) return *it;
    return nullptr;
}

HWND FindVisibleDescendant(HWND h, const std::function<bool(HWND)>& pred) {
    for (HWND c : Lookup(h)->children) {
        if (!IsVisibleChain(c)) continue;
        if (pred(c)) return c;
        if (HWND d = FindVisibleDescendant(c, pred)) return d;
    }
    return nullptr;
}

HWND FindControl(const std::function<bool(HWND)>& pred) {
    HWND found = nullptr;
    FindTopDown([&](HWND top) { return (found = FindVisibleDescendant(top, pred)) != nullptr; });
    return found;
}

void PostClickAt(HWND h, POINT client) {
    const LPARAM pos = MAKELPARAM(client.x, client.y);
    PostMessageW(h, WM_LBUTTONDOWN, 1, pos);
    PostMessageW(h, WM_LBUTTONUP, 0, pos);
}

void PostClickCentre(HWND h) {
    const RECT r = ClientScreenRectOf(h);
    PostClickAt(h, {(r.right - r.left) / 2, (r.bottom - r.top) / 2});
}

HWND HitTest(HWND h, POINT screen) {
    for (HWND c : Lookup(h)->children)
        if ((Lookup(c)->style & WS_VISIBLE) && Contains(ScreenRectOf(c), screen))
            return HitTest(c, screen);
    return h;
}

// One line per window or item whatever the text holds.
std::string Quote(const std::u16string& s) {
    return '"' + Escaped(s, "\"\\") + '"';
}

const char* KindName(WindowKind k) {
    switch (k) {
        case WindowKind::ListBox:
            return "listbox";
        case WindowKind::Button:
            return "button";
        default:
            return "static";
    }
}

void DumpDialog(std::ostringstream& out, HWND h) {
    auto* w = Lookup(h);
    const RECT r = ScreenRectOf(h), c = ClientScreenRectOf(h);
    out << "dialog " << Quote(w->text) << " outer=" << r.left << ',' << r.top << ',' << r.right
        << ',' << r.bottom << " client=" << (c.right - c.left) << ',' << (c.bottom - c.top)
        << " enabled=" << IsWindowEnabled(h) << '\n';
    for (HWND ch : w->children) {
        auto* cw = Lookup(ch);
        out << "control " << cw->id << ' ' << KindName(cw->kind) << " rect=" << cw->rect.left << ','
            << cw->rect.top << ',' << cw->rect.right << ',' << cw->rect.bottom
            << " visible=" << ((cw->style & WS_VISIBLE) ? 1 : 0)
            << " enabled=" << IsWindowEnabled(ch) << " text=" << Quote(cw->text);
        if (cw->kind == WindowKind::ListBox)
            out << " items=" << cw->items.size() << " sel=" << cw->curSel;
        out << '\n';
        if (cw->kind != WindowKind::ListBox) continue;
        for (size_t i = 0; i < cw->items.size(); ++i)
            out << "  item " << i << ' ' << Quote(cw->items[i]) << '\n';
    }
}

}  // namespace

std::vector<WindowView> SnapshotScreen() {
    std::vector<WindowView> views;
    for (HWND h : TopLevelWindows())
        if (IsVisibleChain(h)) views.push_back(ViewOf(h));
    return views;
}

void InjectKey(WPARAM vk, bool shift) {
    HWND target = GetFocus();
    if (!target) target = GetActiveWindow();
    if (!target) target = FindTopDown([](HWND) { return true; });
    if (!target) return;
    const LPARAM flags = 1 | (shift ? kShiftDown : 0);
    PostMessageW(target, WM_KEYDOWN, vk, flags);
    PostMessageW(target, WM_KEYUP, vk, flags);
}

void InjectClick(POINT p) {
    HWND top = FindTopDown([p](HWND h) { return Contains(ScreenRectOf(h), p); });
    if (!top) return;
    if (Contains(CaptionOkRect(top), p)) {
        PostMessageW(top, WM_CAPTIONOK, 0, 0);
        return;
    }
    HWND target = HitTest(top, p);
    POINT client = p;
    ScreenToClient(target, &client);
    PostClickAt(target, client);
}

bool InjectClickControl(int id) {
    HWND c = FindControl([id](HWND h) { return Lookup(h)->id == id; });
    if (c) PostClickCentre(c);
    return c != nullptr;
}

bool InjectSelectListItem(int index) {
    HWND list = FindControl([](HWND h) { return Lookup(h)->kind == WindowKind::ListBox; });
    if (!list || index < 0 || index >= static_cast<int>(Lookup(list)->items.size())) return false;
    PostMessageW(list, WM_SELECTITEM, static_cast<WPARAM>(index), 0);
    return true;
}

bool InjectMessageBoxOk() {
    HWND box = FindTopDown([](HWND h) { return Lookup(h)->kind == WindowKind::MessageBox; });
    HWND ok = box ? GetDlgItem(box, IDOK) : nullptr;
    if (ok) PostClickCentre(ok);
    return ok != nullptr;
}

bool InjectCaptionOk() {
    HWND dlg = FindTopDown([](HWND h) { return CaptionOkRect(h).right > CaptionOkRect(h).left; });
    if (dlg) PostMessageW(dlg, WM_CAPTIONOK, 0, 0);
    return dlg != nullptr;
}

std::string DumpScreen() {
    std::ostringstream out;
    for (HWND h : TopLevelWindows())
        if (IsVisibleChain(h) && Lookup(h)->kind == WindowKind::Dialog) DumpDialog(out, h);
    for (HWND h : TopLevelWindows()) {
        if (!IsVisibleChain(h) || Lookup(h)->kind != WindowKind::MessageBox) continue;
        HWND text =
            FindVisibleDescendant(h, [](HWND c) { return Lookup(c)->kind == WindowKind::Static; });
        out << "messagebox " << Quote(Lookup(h)->text)
            << " text=" << Quote(text ? Lookup(text)->text : u"") << '\n';
    }
    return out.str();
}

}  // namespace wce::user
