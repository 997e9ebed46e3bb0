// The renderer checked on the image: colours where the geometry puts the controls, no golden
// pictures (font hinting may change).
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <set>

#include "platform/render/png.h"
#include "platform/render/renderer.h"

namespace {

using namespace wce::render;
using wce::user::WindowKind;
using wce::user::WindowView;

const Font* TestFont() {
    std::string error;
    const Font* font = DialogFont(8, 15, &error);
    EXPECT_NE(font, nullptr) << error;
    return font;
}

WindowView Control(WindowKind kind, int id, RECT rect, std::u16string text, DWORD style = 0) {
    WindowView v{};
    v.kind = kind;
    v.id = id;
    v.style = WS_CHILD | WS_VISIBLE | style;
    v.rect = rect;
    v.client = (style & WS_BORDER) ? Inset(rect, 1) : rect;
    v.text = std::move(text);
    v.visible = true;
    v.enabled = true;
    return v;
}

// The installer's dialog as the window system lays it out at 96 dpi.
WindowView Dialog() {
    WindowView d{};
    d.kind = WindowKind::Dialog;
    d.style = WS_POPUP | WS_VISIBLE | WS_CAPTION;
    d.rect = {0, 0, 320, 240};
    d.client = {2, 22, 318, 238};
    d.text = u"Installation of Language Files";
    d.visible = d.enabled = true;
    d.hasCaptionOk = true;
    d.captionOk = {290, 4, 314, 20};
    WindowView list =
        Control(WindowKind::ListBox, 1003, {3, 23, 317, 158}, {}, WS_BORDER | WS_VSCROLL);
    list.items = {u"English", u"Deutsch", u"日本語"};
    list.curSel = 0;
    list.itemHeight = 16;
    d.children.push_back(list);
    d.children.push_back(Control(WindowKind::Static, 1002, {7, 161, 75, 176}, u"Copying..."));
    d.children.push_back(Control(WindowKind::Static, 1007, {79, 161, 151, 176}, u"5 / 20"));
    d.children.push_back(
        Control(WindowKind::Static, 1013, {243, 213, 313, 228}, u"1.02", SS_RIGHT));
    d.children.push_back(Control(WindowKind::Button, 1001, {119, 206, 199, 232}, u"Install"));
    return d;
}

Image Render(const std::vector<WindowView>& screen, IconSource icons = nullptr) {
    Image img;
    RenderScreen(screen, RenderOptions{TestFont(), icons}, img);
    return img;
}

WindowView* Child(WindowView& parent, int id) {
    for (WindowView& c : parent.children)
        if (c.id == id) return &c;
    return nullptr;
}

bool Inside(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

std::set<Color> ColoursIn(const Image& img, const RECT& r) {
    std::set<Color> out;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) out.insert(img.At(x, y));
    return out;
}

TEST(WindowRender, FontIsDrawnAtTheMetricsAsked) {
    // At its own 11 points the Gothic is 9 wide at 96 dpi, too wide for the device's 8 x 15.
    std::string error;
    const Font* natural = DialogFont(96, &error);
    ASSERT_NE(natural, nullptr) << error;
    EXPECT_EQ(natural->Metrics().avgCharWidth, 9);
    struct Row {
        int width, height;
    };
    for (const Row& r : {Row{8, 15}, Row{6, 11}, Row{16, 30}, Row{5, 12}, Row{12, 15}}) {
        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height));
        const Font* font = DialogFont(r.width, r.height, &error);
        ASSERT_NE(font, nullptr) << error;
        EXPECT_EQ(font->Metrics().avgCharWidth, r.width);
        EXPECT_EQ(font->Metrics().height, r.height);
    }
    EXPECT_EQ(Font::OpenAtMetrics("/nonexistent/font.ttf", 8, 15, &error), nullptr);
    EXPECT_NE(error.find("/nonexistent/font.ttf"), std::string::npos) << error;
    EXPECT_EQ(Font::OpenAtMetrics(DialogFontFile(), 0, 15, &error), nullptr);
    EXPECT_EQ(Font::Open(DialogFontFile(), 11, 0, &error), nullptr);
}

TEST(WindowRender, ControlsHoldTheirColoursWhereTheGeometrySays) {
    const Image img = Render({Dialog()});
    struct Probe {
        const char* what;
        int x, y;
        Color colour;
    };
    const Probe probes[] = {
        {"caption bar", 200, 6, colors::kCaption},
        {"frame edge", 0, 120, colors::kLight2},
        {"dialog face", 160, 190, colors::kFace},
        {"list border, top", 100, 23, colors::kBorder},
        {"list border, left", 3, 100, colors::kBorder},
        {"list background under the entries", 100, 150, colors::kWindow},
        {"selected entry", 250, 30, colors::kHighlight},
        {"second entry", 250, 46, colors::kWindow},
        {"static face", 74, 161, colors::kFace},
        {"button lit edge", 150, 207, colors::kLight},
        {"button dark edge", 150, 231, colors::kDarkShadow},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.what);
        EXPECT_EQ(img.At(p.x, p.y), p.colour);
    }
}

TEST(WindowRender, HiddenControlsLeaveNoPixels) {
    for (int id : {1003, 1002, 1013, 1001}) {
        SCOPED_TRACE(id);
        WindowView hidden = Dialog(), absent = Dialog();
        Child(hidden, id)->visible = false;
        std::erase_if(absent.children, [&](const WindowView& c) { return c.id == id; });
        EXPECT_EQ(Render({hidden}).Pixels(), Render({absent}).Pixels());
    }
    WindowView dialog = Dialog();
    dialog.visible = false;
    EXPECT_EQ(ColoursIn(Render({dialog}), Image().Bounds()), std::set<Color>{colors::kDesktop});
}

// A left-aligned line runs on over free face up to the next control on its rows or the
// dialog's edge; every other text stays inside its control.
TEST(WindowRender, TextPixelsFallInsideTheirControl) {
    struct Row {
        int id;
        std::u16string text;
        LONG runsTo;
    };
    const Row rows[] = {
        {1002, u"Copying... a label far longer than its control could ever show", 79},
        {1007, u"2147483647 / 2147483647", 318},
        {1013, u"a right-aligned version text that overflows to the left", 0},
        {1001, u"Install everything at once, now", 0},
        {1003, u"日本語の表示名 with a long tail that runs past the scroll bar", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.id);
        WindowView with = Dialog(), without = Dialog();
        WindowView* c = Child(with, r.id);
        WindowView* blank = Child(without, r.id);
        if (c->kind == WindowKind::ListBox) {
            c->items[1] = r.text;
            blank->items[1].clear();
        } else {
            c->text = r.text;
            blank->text.clear();
        }
        const Image a = Render({with}), b = Render({without});
        const RECT area{c->client.left, c->client.top, std::max(c->client.right, r.runsTo),
                        c->client.bottom};
        int changed = 0, rightmost = 0;
        for (int y = 0; y < a.Height(); ++y)
            for (int x = 0; x < a.Width(); ++x)
                if (a.At(x, y) != b.At(x, y)) {
                    ++changed;
                    rightmost = std::max(rightmost, x);
                    EXPECT_TRUE(Inside(area, x, y)) << x << "," << y;
                }
        EXPECT_GT(changed, 20);
        // Past its own edge, whole up to where it may run.
        const LONG end = std::min<LONG>(r.runsTo, c->client.left + TestFont()->TextWidth(r.text));
        if (r.runsTo != 0) EXPECT_GE(rightmost + 4, end);
    }
}

TEST(WindowRender, StaticTextFollowsItsAlignment) {
    for (DWORD align : {SS_LEFT, SS_RIGHT}) {
        SCOPED_TRACE(align);
        WindowView d = Dialog();
        d.children = {Control(WindowKind::Static, 1, {10, 40, 310, 60}, u"1.02", align)};
        const Image img = Render({d});
        const bool inLeft = ColoursIn(img, {10, 40, 160, 60}).count(colors::kText) != 0;
        const bool inRight = ColoursIn(img, {160, 40, 310, 60}).count(colors::kText) != 0;
        EXPECT_EQ(inLeft, align == SS_LEFT);
        EXPECT_EQ(inRight, align == SS_RIGHT);
    }
}

TEST(WindowRender, DisabledButtonDrawsGreyed) {
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        WindowView d = Dialog();
        Child(d, 1001)->enabled = enabled;
        const std::set<Color> inside = ColoursIn(Render({d}), Inset(Child(d, 1001)->rect, 3));
        EXPECT_EQ(inside.count(colors::kText) != 0, enabled);
        EXPECT_EQ(inside.count(colors::kGrayText) != 0, !enabled);
    }
}

TEST(WindowRender, ButtonStatesChangeItsLook) {
    WindowView plain = Dialog(), focused = Dialog(), pressed = Dialog();
    Child(focused, 1001)->focused = true;
    Child(pressed, 1001)->pressed = true;
    const RECT r = Child(plain, 1001)->rect;
    EXPECT_EQ(Render({plain}).At(r.left, r.top), colors::kLight2);
    EXPECT_EQ(Render({focused}).At(r.left, r.top), colors::kDarkShadow);
    EXPECT_EQ(Render({pressed}).At(r.left + 1, r.top + 1), colors::kShadow);
    EXPECT_NE(Render({focused}).Pixels(), Render({plain}).Pixels());
}

TEST(WindowRender, ScrollBarShowsOnlyWhenEntriesOverflow) {
    WindowView few = Dialog(), many = Dialog(), scrolled = Dialog();
    for (WindowView* d : {&many, &scrolled}) {
        WindowView* list = Child(*d, 1003);
        for (int i = 0; i < 30; ++i) list->items.push_back(u"entry");
    }
    Child(scrolled, 1003)->topIndex = 25;
    const RECT list = Child(few, 1003)->client;
    const RECT bar{list.right - kScrollBarWidth, list.top, list.right, list.bottom};
    EXPECT_EQ(ColoursIn(Render({few}), bar).count(colors::kScrollTrack), 0u);
    const Image top = Render({many}), bottom = Render({scrolled});
    EXPECT_EQ(top.At(bar.left + 6, bar.bottom - 20), colors::kScrollTrack);
    EXPECT_NE(bottom.At(bar.left + 6, bar.bottom - 20), colors::kScrollTrack);
    EXPECT_NE(top.At(bar.left + 6, bar.top + 20), colors::kScrollTrack);
}

const BYTE kIconPixels[16 * 16] = {1, 2};  // the rest 0, transparent by the mask
BYTE kIconMask[16 * 16];
const DWORD kIconPalette[16] = {0x000000, 0x00FF00, 0xFF00FF};

const IconImage* TestIcons(HICON, int size) {
    static bool masked = [] {
        for (BYTE& m : kIconMask) m = 1;
        kIconMask[0] = kIconMask[1] = 0;
        return true;
    }();
    static const IconImage icon{16, 16, kIconPixels, kIconPalette, kIconMask};
    return masked && size == 16 ? &icon : nullptr;
}

TEST(WindowRender, CaptionShowsTheSmallIconThroughItsMask) {
    WindowView d = Dialog();
    d.smallIcon = reinterpret_cast<HICON>(&d);
    const Image img = Render({d}, &TestIcons);
    // The icon sits 2 pixels into the caption bar, centred in its 20 pixels.
    EXPECT_EQ(img.At(4, 4), 0x00FF00u);
    EXPECT_EQ(img.At(5, 4), 0xFF00FFu);
    EXPECT_EQ(img.At(6, 4), colors::kCaption);
}

TEST(WindowRender, MessageBoxDrawsOverTheDialog) {
    WindowView box{};
    box.kind = WindowKind::MessageBox;
    box.visible = box.enabled = true;
    box.style = WS_POPUP | WS_VISIBLE | WS_CAPTION;
    box.rect = {40, 70, 280, 170};
    box.client = {42, 92, 278, 168};
    box.text = u"SETUP";
    box.infoIcon = true;
    box.children.push_back(Control(WindowKind::Static, 0xFFFF, {90, 100, 270, 130},
                                   u"Installation has been completed."));
    box.children.push_back(Control(WindowKind::Button, IDOK, {130, 138, 190, 162}, u"OK"));
    const Image img = Render({Dialog(), box});
    const int ix = box.client.left + kInfoIconMargin, iy = box.client.top + kInfoIconMargin;
    EXPECT_EQ(img.At(ix + 6, iy + 16), colors::kInfoIcon);
    EXPECT_EQ(img.At(ix + 16, iy + 20), colors::kLight);  // the "i"
    EXPECT_EQ(img.At(200, 80), colors::kCaption);         // the box is the active window
    EXPECT_EQ(img.At(20, 6), colors::kShadow);            // the dialog under it is not
    EXPECT_EQ(img.At(60, 165), colors::kFace);            // the list no longer shows there
    EXPECT_TRUE(ColoursIn(img, box.children[0].client).count(colors::kText));
}

// Reads a PNG back with libpng's simplified reader.
std::vector<png_byte> ReadPng(const std::string& path, png_image& info) {
    info = {};
    info.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&info, path.c_str())) return {};
    info.format = PNG_FORMAT_RGB;
    std::vector<png_byte> data(PNG_IMAGE_SIZE(info));
    if (!png_image_finish_read(&info, nullptr, data.data(), 0, nullptr)) return {};
    return data;
}

TEST(WindowRender, PngRoundTripsAndReportsUnwritablePaths) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("wce_window_png_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Image img = Render({Dialog()});
    const std::string path = (dir / "shot.png").string();
    std::string error;
    ASSERT_TRUE(WritePng(img, path, &error)) << error;
    png_image info;
    const std::vector<png_byte> rgb = ReadPng(path, info);
    ASSERT_EQ(info.width, 320u);
    ASSERT_EQ(info.height, 240u);
    for (auto [x, y] : {std::pair{200, 6}, {250, 30}, {100, 150}, {160, 190}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        const size_t i = (static_cast<size_t>(y) * 320 + static_cast<size_t>(x)) * 3;
        const Color c = (Color{rgb[i]} << 16) | (Color{rgb[i + 1]} << 8) | rgb[i + 2];
        EXPECT_EQ(c, img.At(x, y));
    }
    const std::string bad = (dir / "missing" / "shot.png").string();
    EXPECT_FALSE(WritePng(img, bad, &error));
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(bad));
    std::filesystem::remove_all(dir);
}

}  // namespace
