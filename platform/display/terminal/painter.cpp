#include "platform/display/terminal/painter.h"

#include <algorithm>
#include <string>

namespace wce::terminal {
namespace {

using wce::user::WindowKind;
using wce::user::WindowView;

struct BoxChars {
    char32_t tl, tr, bl, br, h, v;
};
constexpr BoxChars kSingle{U'┌', U'┐', U'└', U'┘', U'─', U'│'};
constexpr BoxChars kDouble{U'╔', U'╗', U'╚', U'╝', U'═', U'║'};

void DrawBox(CellGrid& grid, const CellRect& r, const BoxChars& box, std::uint8_t attr,
             const CellRect& clip) {
    if (r.Width() < 2 || r.Height() < 2) return;
    for (int col = r.left + 1; col < r.right - 1; ++col) {
        grid.Put(col, r.top, box.h, attr, clip);
        grid.Put(col, r.bottom - 1, box.h, attr, clip);
    }
    for (int row = r.top + 1; row < r.bottom - 1; ++row) {
        grid.Put(r.left, row, box.v, attr, clip);
        grid.Put(r.right - 1, row, box.v, attr, clip);
    }
    grid.Put(r.left, r.top, box.tl, attr, clip);
    grid.Put(r.right - 1, r.top, box.tr, attr, clip);
    grid.Put(r.left, r.bottom - 1, box.bl, attr, clip);
    grid.Put(r.right - 1, r.bottom - 1, box.br, attr, clip);
}

CellRect Shrink(const CellRect& r, int by) {
    CellRect s{r.left + by, r.top + by, r.right - by, r.bottom - by};
    return s.Empty() ? CellRect{} : s;
}

// The row a one-line element is drawn on: the one holding the rectangle's vertical centre,
// kept inside the element's own cells.
int CentreRow(const RECT& px, const CellRect& cells) {
    int row = RowOfPixel(px.top + (px.bottom - px.top) / 2);
    return std::clamp(row, cells.top, cells.bottom - 1);
}

std::u32string Text(const std::u16string& text) {
    return DecodeUtf16(text);
}

void PaintChildren(const WindowView& parent, CellGrid& grid, const CellRect& clip);

// At 10 pixels a row, a control one text line high on the device spans at most two rows.
constexpr int kOneLineRows = 2;

// The cells a left-aligned line of `c` may run on to: its first row, up to the nearest visible
// sibling that starts right of it on the same pixel rows, else the parent's client edge.
CellRect RunOnCells(const WindowView& c, const WindowView& parent, const CellRect& cells,
                    const CellRect& clip) {
    LONG limit = parent.client.right;
    for (const WindowView& s : parent.children)
        if (&s != &c && s.visible && s.rect.left >= c.rect.right && s.rect.top < c.rect.bottom &&
            s.rect.bottom > c.rect.top)
            limit = std::min(limit, s.rect.left);
    const CellRect reach = CellsOf(RECT{c.rect.left, c.rect.top, limit, c.rect.bottom});
    return Intersect({cells.left, cells.top, std::max(reach.right, cells.right), cells.top + 1},
                     clip);
}

void PaintStatic(const WindowView& c, CellGrid& grid, const CellRect& cells,
                 const CellRect& runOn) {
    std::uint8_t attr = c.enabled ? kAttrNormal : kAttrDim;
    bool right = (c.style & 0x3) == SS_RIGHT;
    bool centre = (c.style & 0x3) == 0x1;
    const std::u32string text = Text(c.text);
    // A one-line text too long for its cells stays on its line over free cells, as the window
    // picture draws it, rather than break where the device shows no second line.
    const int width = TextWidth(text);
    if (!right && !centre && cells.Height() <= kOneLineRows && width > cells.Width() &&
        width <= runOn.Width() && text.find(U'\n') == std::u32string::npos) {
        grid.PutText(runOn.left, runOn.top, text, attr, runOn);
        return;
    }
    auto lines = WrapText(text, cells.Width(), cells.Height());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int row = cells.top + static_cast<int>(i);
        int spare = cells.Width() - TextWidth(lines[i]);
        int col = cells.left + (right ? spare : centre ? spare / 2 : 0);
        grid.PutText(col, row, lines[i], attr, cells);
    }
}

void PaintButton(const WindowView& c, CellGrid& grid, const CellRect& cells) {
    std::u32string label = Text(c.text);
    std::u32string open = c.focused ? U"[>" : U"[ ";
    std::u32string close = c.focused ? U"<]" : U" ]";
    std::u32string shown;
    if (cells.Width() >= 4) {
        shown = open + FitText(label, cells.Width() - 4) + close;
    } else {
        shown = FitText(label, cells.Width());
    }
    std::uint8_t attr = c.pressed ? kAttrReverse : kAttrNormal;
    if (c.focused) attr |= kAttrBold;
    if (!c.enabled) attr = kAttrDim;
    int row = CentreRow(c.rect, cells);
    int col = cells.left + (cells.Width() - TextWidth(shown)) / 2;
    grid.PutText(col, row, shown, attr, cells);
}

// Rows of the list's interior given to entries, starting at the device's top entry but moved
// so the selection shows when the terminal has fewer rows than the device.
int FirstShownItem(const WindowView& c, int shown) {
    int top = std::max(0, c.topIndex);
    if (c.curSel >= 0 && c.curSel >= top + shown) top = c.curSel - shown + 1;
    if (c.curSel >= 0 && c.curSel < top) top = c.curSel;
    return top;
}

void PaintScrollBar(const WindowView& c, CellGrid& grid, const CellRect& bar, int shown, int top) {
    grid.Fill(bar, U'░', kAttrDim);
    int count = static_cast<int>(c.items.size());
    if (count <= shown || bar.Height() <= 0) return;
    int thumb = std::max(1, bar.Height() * shown / count);
    int pos = (bar.Height() - thumb) * top / std::max(1, count - shown);
    grid.Fill({bar.left, bar.top + pos, bar.right, bar.top + pos + thumb}, U'█', kAttrNormal);
}

void PaintListBox(const WindowView& c, CellGrid& grid, const CellRect& cells) {
    CellRect inner = cells;
    if ((c.style & WS_BORDER) && cells.Width() >= 3 && cells.Height() >= 3) {
        DrawBox(grid, cells, c.focused ? kDouble : kSingle, c.enabled ? kAttrNormal : kAttrDim,
                cells);
        inner = Shrink(cells, 1);
    }
    CellRect items = inner;
    if ((c.style & WS_VSCROLL) && inner.Width() >= 3) {
        items.right -= 1;
    }
    int clientHeight = c.client.bottom - c.client.top;
    int deviceRows =
        c.itemHeight > 0 ? (clientHeight + c.itemHeight - 1) / c.itemHeight : items.Height();
    int shown = std::min(items.Height(), std::max(0, deviceRows));
    int top = FirstShownItem(c, shown);
    for (int k = 0; k < shown && top + k < static_cast<int>(c.items.size()); ++k) {
        int index = top + k;
        int row = items.top + k;
        bool selected = index == c.curSel;
        std::uint8_t attr = selected ? kAttrReverse : kAttrNormal;
        if (!c.enabled) attr |= kAttrDim;
        CellRect line{items.left, row, items.right, row + 1};
        grid.Fill(line, U' ', attr);
        grid.Put(items.left, row, selected ? U'>' : U' ', attr, line);
        grid.PutText(items.left + 1, row, FitText(Text(c.items[index]), line.Width() - 1), attr,
                     line);
        LONG itemTop = c.client.top + (index - c.topIndex) * c.itemHeight;
        RECT itemPx{c.client.left, std::max(itemTop, c.client.top), c.client.right,
                    std::min(itemTop + std::max(c.itemHeight, 1), c.client.bottom)};
        grid.RouteClicks(line, itemPx);
    }
    if (items.right < inner.right) {
        PaintScrollBar(c, grid, {items.right, inner.top, inner.right, inner.bottom}, shown, top);
    }
}

void PaintControl(const WindowView& c, const WindowView& parent, CellGrid& grid,
                  const CellRect& clip) {
    CellRect cells = Intersect(CellsOf(c.rect), clip);
    if (cells.Empty()) return;
    grid.Fill(cells, U' ', kAttrNormal);
    grid.RouteClicks(cells, c.rect);
    switch (c.kind) {
        case WindowKind::ListBox:
            PaintListBox(c, grid, cells);
            break;
        case WindowKind::Button:
            PaintButton(c, grid, cells);
            break;
        case WindowKind::Static:
            PaintStatic(c, grid, cells, RunOnCells(c, parent, cells, clip));
            break;
        case WindowKind::Dialog:
        case WindowKind::MessageBox:
            break;
    }
    PaintChildren(c, grid, Intersect(CellsOf(c.client), clip));
}

void PaintChildren(const WindowView& parent, CellGrid& grid, const CellRect& clip) {
    for (const WindowView& child : parent.children) {
        if (child.visible) PaintControl(child, parent, grid, clip);
    }
}

bool HasCaption(const WindowView& w) {
    return (w.style & WS_CAPTION) == WS_CAPTION || w.client.top - w.rect.top >= kCellHeight;
}

void PaintCaption(const WindowView& w, CellGrid& grid, const CellRect& outer) {
    RECT band{w.rect.left, w.rect.top, w.rect.right, w.client.top};
    CellRect rows = Intersect(CellsOf(band), outer);
    if (rows.Empty()) return;
    std::uint8_t attr = kAttrReverse | (w.enabled ? kAttrBold : kAttrNormal);
    grid.Fill(rows, U' ', attr);
    int textRow = CentreRow(band, rows);
    int textEnd = rows.right - 1;
    if (w.hasCaptionOk) {
        CellRect ok = Intersect(CellsOf(w.captionOk), rows);
        ok.top = rows.top;
        ok.bottom = rows.bottom;
        if (!ok.Empty()) {
            std::u32string label = ok.Width() >= 4 ? U"[OK]" : U"OK";
            grid.PutText(ok.left + (ok.Width() - TextWidth(label)) / 2, textRow, label, kAttrBold,
                         ok);
            grid.RouteClicks(ok, w.captionOk);
            textEnd = std::min(textEnd, ok.left - 1);
        }
    }
    CellRect titleArea{rows.left + 1, textRow, textEnd, textRow + 1};
    grid.PutText(titleArea.left, textRow, Text(w.text), attr, titleArea);
}

// The information mark sits at the client's top left, where the box leaves room for an icon.
void PaintInfoIcon(const WindowView& w, CellGrid& grid, const CellRect& client) {
    if (!w.infoIcon || client.Width() < 4 || client.Height() < 1) return;
    grid.PutText(client.left + 1, client.top + (client.Height() > 2 ? 1 : 0), U"(i)", kAttrBold,
                 client);
}

void PaintTopLevel(const WindowView& w, CellGrid& grid) {
    CellRect outer = Intersect(CellsOf(w.rect), grid.Bounds());
    if (outer.Empty()) return;
    grid.Fill(outer, U' ', kAttrNormal);
    grid.RouteClicks(outer, w.rect);
    DrawBox(grid, outer, kSingle, kAttrNormal, outer);
    if (HasCaption(w)) PaintCaption(w, grid, outer);
    CellRect client = Intersect(CellsOf(w.client), outer);
    if (w.kind == WindowKind::MessageBox) PaintInfoIcon(w, grid, client);
    PaintChildren(w, grid, client);
}

}  // namespace

void PaintScreen(const std::vector<WindowView>& windows, CellGrid& grid) {
    grid.Clear();
    for (const WindowView& w : windows) {
        if (w.visible) PaintTopLevel(w, grid);
    }
}

void PaintTooSmall(CellGrid& grid) {
    grid.Clear();
    std::string message = "The terminal is too small: the installer needs " +
                          std::to_string(kGridCols) + "x" + std::to_string(kGridRows) +
                          " cells, this one has " + std::to_string(grid.Cols()) + "x" +
                          std::to_string(grid.Rows()) + ". Enlarge it to see the dialog.";
    std::u32string text(message.begin(), message.end());
    auto lines = WrapText(text, grid.Cols(), grid.Rows());
    int top = std::max(0, (grid.Rows() - static_cast<int>(lines.size())) / 2);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        int col = std::max(0, (grid.Cols() - TextWidth(lines[i])) / 2);
        grid.PutText(col, top + static_cast<int>(i), lines[i], kAttrBold, grid.Bounds());
    }
}

std::string KeyHint(const std::vector<wce::user::WindowView>& windows) {
    if (windows.empty()) return "";
    const wce::user::WindowView& top = windows.back();
    if (top.kind == wce::user::WindowKind::MessageBox) return "Enter, Space or Escape: OK";
    // A disabled dialog takes no keys: it is copying.
    if (!top.enabled) return "Copying: Ctrl-C stops after the file being copied";
    for (const wce::user::WindowView& child : top.children) {
        if (!child.focused) continue;
        if (child.kind == wce::user::WindowKind::ListBox)
            return "arrows, Home, End, Page keys: choose a package   Tab: to Install   Enter or "
                   "Escape: end the program";
        if (child.kind == wce::user::WindowKind::Button)
            return "Enter or Space: install the chosen package   Tab: to the list   Escape: end "
                   "the program";
    }
    return "Tab: to the list   Enter or Escape: end the program";
}

std::vector<std::u32string> WrapText(std::u32string_view text, int width) {
    std::vector<std::u32string> lines;
    if (width <= 0) return lines;
    while (!text.empty()) {
        std::size_t cut = 0;
        std::size_t blank = std::u32string_view::npos;
        for (int used = 0; cut < text.size() && used + CharWidth(text[cut]) <= width; ++cut) {
            used += CharWidth(text[cut]);
            if (text[cut] == U' ') blank = cut;
        }
        if (cut < text.size() && blank != std::u32string_view::npos && blank > 0) cut = blank;
        if (cut == 0) cut = 1;  // a character wider than the line stands alone
        lines.emplace_back(text.substr(0, cut));
        text.remove_prefix(cut);
        while (!text.empty() && text.front() == U' ') text.remove_prefix(1);
    }
    return lines;
}

}  // namespace wce::terminal
