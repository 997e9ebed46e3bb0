#include "platform/render/renderer.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace wce::render {
namespace {

using wce::user::WindowKind;
using wce::user::WindowView;

void Outline(Image& img, const RECT& r, Color topLeft, Color bottomRight, const RECT& clip) {
    img.Fill(RECT{r.left, r.top, r.right, r.top + 1}, topLeft, clip);
    img.Fill(RECT{r.left, r.top, r.left + 1, r.bottom}, topLeft, clip);
    img.Fill(RECT{r.left, r.bottom - 1, r.right, r.bottom}, bottomRight, clip);
    img.Fill(RECT{r.right - 1, r.top, r.right, r.bottom}, bottomRight, clip);
}

void RaisedEdge(Image& img, const RECT& r, const RECT& clip) {
    Outline(img, r, colors::kLight2, colors::kDarkShadow, clip);
    Outline(img, Inset(r, 1), colors::kLight, colors::kShadow, clip);
}

void PressedEdge(Image& img, const RECT& r, const RECT& clip) {
    Outline(img, r, colors::kDarkShadow, colors::kDarkShadow, clip);
    Outline(img, Inset(r, 1), colors::kShadow, colors::kFace, clip);
}

void FocusRect(Image& img, const RECT& r, const RECT& clip) {
    const RECT c = Intersect(clip, img.Bounds());
    auto dot = [&](LONG x, LONG y) {
        if (x >= c.left && x < c.right && y >= c.top && y < c.bottom && ((x + y) & 1) == 0)
            img.Set(x, y, colors::kText);
    };
    for (LONG x = r.left; x < r.right; ++x) dot(x, r.top), dot(x, r.bottom - 1);
    for (LONG y = r.top; y < r.bottom; ++y) dot(r.left, y), dot(r.right - 1, y);
}

// Lines of a text as a static control breaks them: at line feeds, and between words where a
// line would grow wider than `width`; a single word too wide keeps its line and is clipped.
std::vector<std::u16string_view> WrapLines(const Font& font, std::u16string_view text, int width) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view para = text.substr(start, end - start);
        if (!para.empty() && para.back() == u'\r') para.remove_suffix(1);
        while (font.TextWidth(para) > width) {
            size_t cut = para.rfind(u' ');
            while (cut != std::u16string_view::npos && cut > 0 &&
                   font.TextWidth(para.substr(0, cut)) > width)
                cut = para.rfind(u' ', cut - 1);
            if (cut == std::u16string_view::npos || cut == 0) break;
            lines.push_back(para.substr(0, cut));
            para.remove_prefix(cut + 1);
        }
        lines.push_back(para);
        start = end + 1;
    }
    return lines;
}

void DrawIcon(Image& img, const IconImage& icon, int x, int y, const RECT& clip) {
    const RECT c = Intersect(clip, img.Bounds());
    for (int row = 0; row < icon.height; ++row) {
        for (int col = 0; col < icon.width; ++col) {
            const size_t i = static_cast<size_t>(row) * icon.width + col;
            const int px = x + col, py = y + row;
            if (px < c.left || px >= c.right || py < c.top || py >= c.bottom) continue;
            if (icon.mask && icon.mask[i]) continue;
            img.Set(px, py, icon.palette[icon.pixels[i] & 0x0F] & 0xFFFFFF);
        }
    }
}

// The system's information sign: a blue disc with a white "i".
void DrawInfoIcon(Image& img, int x, int y, const RECT& clip) {
    const RECT c = Intersect(clip, img.Bounds());
    auto put = [&](int px, int py, Color col) {
        if (px >= c.left && px < c.right && py >= c.top && py < c.bottom) img.Set(px, py, col);
    };
    for (int dy = 0; dy < kInfoIconSize; ++dy) {
        for (int dx = 0; dx < kInfoIconSize; ++dx) {
            const int rx = 2 * dx - 31, ry = 2 * dy - 31;  // doubled offsets from the centre
            const int d2 = rx * rx + ry * ry;
            if (d2 > 30 * 30) continue;
            const bool dot = (dx - 16) * (dx - 16) + (dy - 9) * (dy - 9) <= 5;
            const bool bar = dx >= 14 && dx <= 17 && dy >= 13 && dy <= 25;
            put(x + dx, y + dy,
                (dot || bar)   ? colors::kLight
                : d2 > 27 * 27 ? colors::kDarkShadow
                               : colors::kInfoIcon);
        }
    }
}

struct Painter {
    Image& img;
    const RenderOptions& opt;

    int LineHeight() const { return opt.font ? opt.font->Metrics().height : 15; }
    int TextWidth(std::u16string_view t) const { return opt.font ? opt.font->TextWidth(t) : 0; }
    void Text(int x, int top, std::u16string_view t, Color c, const RECT& clip) const {
        if (opt.font) opt.font->Draw(img, x, top, t, c, clip);
    }
    // Disabled text is drawn engraved: a lit copy one pixel down-right under the grey one.
    void StateText(int x, int top, std::u16string_view t, bool enabled, const RECT& clip) const {
        if (enabled) return Text(x, top, t, colors::kText, clip);
        Text(x + 1, top + 1, t, colors::kLight, clip);
        Text(x, top, t, colors::kGrayText, clip);
    }
    void CentredText(const RECT& r, std::u16string_view t, bool enabled, const RECT& clip) const {
        const int x = r.left + (r.right - r.left - TextWidth(t)) / 2;
        const int y = r.top + (r.bottom - r.top - LineHeight()) / 2;
        StateText(x, y, t, enabled, Intersect(clip, r));
    }

    void Static(const WindowView& v, const RECT& clip, const RECT& lineClip) const;
    void Button(const WindowView& v, const RECT& clip) const;
    void ListBox(const WindowView& v, const RECT& clip) const;
    void ScrollBar(const RECT& sb, int count, int visible, int top, const RECT& clip) const;
    void Arrow(const RECT& box, bool up, const RECT& clip) const;
    void Control(const WindowView& v, const WindowView& parent, const RECT& parentClip) const;
    void Caption(const WindowView& v, bool active) const;
    void TopLevel(const WindowView& v, bool active) const;
};

// How far right a left-aligned line of `v` may run: to the nearest visible sibling that starts
// right of it on the same rows, else to the parent's client edge.
LONG RunsTo(const WindowView& v, const WindowView& parent) {
    LONG limit = parent.client.right;
    for (const WindowView& s : parent.children)
        if (&s != &v && s.visible && s.rect.left >= v.rect.right && s.rect.top < v.rect.bottom &&
            s.rect.bottom > v.rect.top)
            limit = std::min(limit, s.rect.left);
    return std::max(limit, v.client.right);
}

void Painter::Static(const WindowView& v, const RECT& clip, const RECT& lineClip) const {
    img.Fill(v.rect, colors::kFace, clip);
    if (!opt.font) return;
    const bool right = (v.style & 0x3) == SS_RIGHT;
    // A control one line high keeps its text on that line: a wrapped second line would only
    // show as a sliver.
    const bool oneLine = v.client.bottom - v.client.top < 2 * LineHeight();
    // Such a line, left-aligned, runs on over the dialog's free face rather than lose its end:
    // a counter cut short would show a wrong number.
    const RECT area = oneLine && (v.style & 0x3) == SS_LEFT ? lineClip : Intersect(v.client, clip);
    const int width = oneLine ? INT32_MAX : v.client.right - v.client.left;
    int top = v.client.top;
    for (std::u16string_view line : WrapLines(*opt.font, v.text, width)) {
        if (top >= area.bottom) break;
        const int x = right ? v.client.right - TextWidth(line) : v.client.left;
        StateText(x, top, line, v.enabled, area);
        top += LineHeight();
    }
}

void Painter::Button(const WindowView& v, const RECT& clip) const {
    RECT r = v.rect;
    img.Fill(r, colors::kFace, clip);
    // The default button, and the one that has the focus, wear an extra black frame.
    if ((v.style & 0xF) == BS_DEFPUSHBUTTON || v.focused) {
        Outline(img, r, colors::kDarkShadow, colors::kDarkShadow, clip);
        r = Inset(r, 1);
    }
    if (v.pressed) {
        PressedEdge(img, r, clip);
    } else {
        RaisedEdge(img, r, clip);
    }
    RECT label = Inset(r, 2);
    if (v.pressed) label = RECT{label.left + 1, label.top + 1, label.right + 1, label.bottom + 1};
    CentredText(label, v.text, v.enabled, clip);
    if (v.focused) FocusRect(img, Inset(r, 3), clip);
}

void Painter::Arrow(const RECT& box, bool up, const RECT& clip) const {
    RaisedEdge(img, box, clip);
    const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
    for (int i = 0; i < 3; ++i) {
        const int y = up ? cy - 1 + i : cy + 1 - i;
        img.Fill(RECT{cx - i, y, cx + i + 1, y + 1}, colors::kText, clip);
    }
}

void Painter::ScrollBar(const RECT& sb, int count, int visible, int top, const RECT& clip) const {
    img.Fill(sb, colors::kScrollTrack, clip);
    const int w = sb.right - sb.left;
    const RECT upBox{sb.left, sb.top, sb.right, sb.top + w};
    const RECT downBox{sb.left, sb.bottom - w, sb.right, sb.bottom};
    Arrow(upBox, true, clip);
    Arrow(downBox, false, clip);
    const int track = (downBox.top - upBox.bottom);
    const int range = count - visible;
    if (track <= 0 || range <= 0) return;
    const int thumb = std::clamp(track * visible / count, std::min(8, track), track);
    const int pos = upBox.bottom + (track - thumb) * std::clamp(top, 0, range) / range;
    const RECT thumbBox{sb.left, pos, sb.right, pos + thumb};
    img.Fill(thumbBox, colors::kFace, clip);
    RaisedEdge(img, thumbBox, clip);
}

void Painter::ListBox(const WindowView& v, const RECT& clip) const {
    if (v.style & WS_BORDER) Outline(img, v.rect, colors::kBorder, colors::kBorder, clip);
    RECT items = v.client;
    img.Fill(items, colors::kWindow, clip);
    const int itemHeight = v.itemHeight > 0 ? v.itemHeight : LineHeight();
    const int count = static_cast<int>(v.items.size());
    const int visible = std::max(1, static_cast<int>(items.bottom - items.top) / itemHeight);
    if ((v.style & WS_VSCROLL) && count > visible) {
        items.right -= kScrollBarWidth;
        ScrollBar(RECT{items.right, items.top, v.client.right, items.bottom}, count, visible,
                  v.topIndex, clip);
    }
    const RECT area = Intersect(items, clip);
    const int textTop = (itemHeight - LineHeight()) / 2;
    for (int i = std::max(v.topIndex, 0); i < count; ++i) {
        const LONG y = items.top + (i - v.topIndex) * itemHeight;
        if (y >= area.bottom) break;
        const RECT row{items.left, y, items.right, y + itemHeight};
        const bool selected = i == v.curSel;
        if (selected) img.Fill(row, colors::kHighlight, area);
        const Color c = !v.enabled ? colors::kGrayText
                        : selected ? colors::kHighlightText
                                   : colors::kText;
        Text(items.left + 2, y + textTop, v.items[static_cast<size_t>(i)], c, area);
        if (selected && v.focused) FocusRect(img, row, area);
    }
}

void Painter::Control(const WindowView& v, const WindowView& parent, const RECT& parentClip) const {
    if (!v.visible) return;
    const RECT clip = Intersect(parentClip, v.rect);
    switch (v.kind) {
        case WindowKind::Static:
            Static(v, clip,
                   Intersect(parentClip, RECT{v.client.left, v.client.top, RunsTo(v, parent),
                                              v.client.bottom}));
            break;
        case WindowKind::Button:
            Button(v, clip);
            break;
        case WindowKind::ListBox:
            ListBox(v, clip);
            break;
        default:
            img.Fill(v.rect, colors::kFace, clip);
            break;
    }
    for (const WindowView& child : v.children) Control(child, v, Intersect(clip, v.client));
}

void Painter::Caption(const WindowView& v, bool active) const {
    const int frame = v.client.left - v.rect.left;
    const RECT bar{v.rect.left + frame, v.rect.top + frame, v.rect.right - frame, v.client.top};
    if (IsEmpty(bar)) return;
    img.Fill(bar, active ? colors::kCaption : colors::kShadow);
    const int barHeight = bar.bottom - bar.top;
    int x = bar.left + 2;
    const IconImage* icon =
        opt.icons && v.smallIcon ? opt.icons(v.smallIcon, kSmallIconSize) : nullptr;
    if (icon) {
        DrawIcon(img, *icon, x, bar.top + (barHeight - icon->height) / 2, bar);
        x += icon->width + 3;
    }
    RECT titleClip = bar;
    if (v.hasCaptionOk) titleClip.right = std::min(titleClip.right, v.captionOk.left - 2);
    Text(x, bar.top + (barHeight - LineHeight()) / 2, v.text,
         active ? colors::kCaptionText : colors::kFace, titleClip);
    if (v.hasCaptionOk) {
        img.Fill(v.captionOk, colors::kFace, bar);
        RaisedEdge(img, v.captionOk, bar);
        CentredText(Inset(v.captionOk, 1), u"OK", true, bar);
    }
}

void Painter::TopLevel(const WindowView& v, bool active) const {
    if (!v.visible) return;
    img.Fill(v.rect, colors::kFace);
    if (v.client.left - v.rect.left >= 2) RaisedEdge(img, v.rect, img.Bounds());
    Caption(v, active);
    img.Fill(v.client, colors::kFace);
    if (v.infoIcon)
        DrawInfoIcon(img, v.client.left + kInfoIconMargin, v.client.top + kInfoIconMargin,
                     v.client);
    for (const WindowView& child : v.children) Control(child, v, v.client);
}

}  // namespace

void RenderScreen(const std::vector<WindowView>& screen, const RenderOptions& options,
                  Image& image) {
    image.Fill(image.Bounds(), colors::kDesktop);
    const Painter painter{image, options};
    for (size_t i = 0; i < screen.size(); ++i) painter.TopLevel(screen[i], i + 1 == screen.size());
}

}  // namespace wce::render
