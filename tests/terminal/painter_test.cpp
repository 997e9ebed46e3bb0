#include "platform/display/terminal/painter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace wce::terminal {
namespace {

using wce::user::WindowKind;
using wce::user::WindowView;

constexpr RECT kDialogRect{0, 0, 320, 240};
constexpr RECT kDialogClient{2, 22, 318, 238};

WindowView View(WindowKind kind, int id, DWORD style, RECT rect, std::u16string text) {
    WindowView v{};
    v.kind = kind;
    v.id = id;
    v.style = style | WS_VISIBLE;
    v.rect = rect;
    v.client = rect;
    v.text = std::move(text);
    v.visible = true;
    v.enabled = true;
    return v;
}

// The installer dialog with its controls placed at rx x ry pixels per dialog unit.
WindowView InstallerDialog(double rx, double ry) {
    auto at = [&](int x, int y, int cx, int cy) {
        auto px = [](double v) { return static_cast<LONG>(std::lround(v)); };
        return RECT{kDialogClient.left + px(x * rx), kDialogClient.top + px(y * ry),
                    kDialogClient.left + px((x + cx) * rx), kDialogClient.top + px((y + cy) * ry)};
    };
    WindowView dlg =
        View(WindowKind::Dialog, 0, WS_CAPTION, kDialogRect, u"Installation of Language Files");
    dlg.client = kDialogClient;
    dlg.hasCaptionOk = true;
    dlg.captionOk = RECT{292, 2, 316, 22};
    WindowView list =
        View(WindowKind::ListBox, 1003, WS_BORDER | WS_VSCROLL, at(0, 0, 156, 72), u"");
    list.client =
        RECT{list.rect.left + 1, list.rect.top + 1, list.rect.right - 1, list.rect.bottom - 1};
    list.items = {u"English", u"Deutsch", u"日本語 (Japanese display name that is rather long)"};
    list.curSel = 0;
    list.itemHeight = 15;
    list.focused = true;
    dlg.children.push_back(list);
    dlg.children.push_back(
        View(WindowKind::Static, 1002, SS_LEFT, at(2, 74, 34, 10), u"Copying..."));
    dlg.children.push_back(View(WindowKind::Static, 1005, SS_LEFT, at(38, 86, 118, 10),
                                u"\\ROMDisk\\PROGRAM\\TAV\\a.bin"));
    dlg.children.push_back(
        View(WindowKind::Static, 1007, SS_LEFT, at(38, 74, 36, 10), u"2147483647 / 2147483647"));
    dlg.children.push_back(
        View(WindowKind::Static, 1008, SS_LEFT, at(2, 86, 36, 10), u"File Name:"));
    dlg.children.push_back(View(WindowKind::Static, 1013, SS_RIGHT, at(120, 102, 35, 10), u"1.02"));
    dlg.children.push_back(
        View(WindowKind::Button, 1001, WS_TABSTOP, at(58, 98, 40, 14), u"Install"));
    return dlg;
}

std::string Row(const CellGrid& grid, int row) {
    return EncodeUtf8(grid.RowText(row));
}

bool Shows(const CellGrid& grid, const std::string& text) {
    for (int row = 0; row < grid.Rows(); ++row)
        if (Row(grid, row).find(text) != std::string::npos) return true;
    return false;
}

class TerminalPainter : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(EnsureUtf8Locale()); }
    CellGrid grid;
};

TEST_F(TerminalPainter, EveryTextOfTheDialogIsWholeInBothLayouts) {
    struct Layout {
        const char* name;
        double rx, ry;
    };
    const Layout layouts[] = {{"template, 7x15 font", 1.75, 1.875},
                              {"adapted", 2.0, 1.875},
                              {"template, 8x16 font", 2.0, 2.0}};
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        PaintScreen({InstallerDialog(layout.rx, layout.ry)}, grid);
        for (const char* text : {"Installation of Language Files", "[OK]", ">English", " Deutsch",
                                 "Copying...", "2147483647 / 2147483647", "File Name:", "1.02",
                                 "[ Install ]", "╔", "\\ROMDisk\\PROGRAM\\TAV\\a.bin"}) {
            EXPECT_TRUE(Shows(grid, text)) << text;
        }
        EXPECT_TRUE(Shows(grid, "日本語 (Japanese")) << "wide names keep their place";
    }
}

TEST_F(TerminalPainter, DrawsStatesAndRoutesClicksToWhatTheCellShows) {
    WindowView dlg = InstallerDialog(2.0, 1.875);
    WindowView& list = dlg.children[0];
    WindowView& button = dlg.children[6];
    list.curSel = 1;
    list.focused = false;
    button.enabled = false;
    dlg.children[1].visible = false;  // "Copying..." hidden
    PaintScreen({dlg}, grid);

    EXPECT_FALSE(Shows(grid, "Copying..."));
    EXPECT_TRUE(Shows(grid, "[ Install ]"));
    EXPECT_TRUE(Shows(grid, ">Deutsch"));
    EXPECT_TRUE(Shows(grid, "┌")) << "an unfocused list has a single border";

    CellRect listCells = CellsOf(list.rect);
    int deutschRow = listCells.top + 2;
    EXPECT_NE(grid.At(listCells.left + 1, deutschRow).attr & kAttrReverse, 0);
    POINT p = grid.ClickPoint(listCells.left + 5, deutschRow);
    EXPECT_GE(p.y, list.client.top + 15);
    EXPECT_LT(p.y, list.client.top + 30) << "a click on Deutsch selects Deutsch";

    int row = RowOfPixel((button.rect.top + button.rect.bottom) / 2);
    int col = static_cast<int>(grid.RowText(row).find(U"Install"));
    EXPECT_NE(grid.At(col, row).attr & kAttrDim, 0);
    POINT b = grid.ClickPoint(col, row);
    EXPECT_TRUE(b.x >= button.rect.left && b.x < button.rect.right && b.y >= button.rect.top &&
                b.y < button.rect.bottom);

    POINT ok = grid.ClickPoint(76, 1);
    EXPECT_TRUE(ok.x >= dlg.captionOk.left && ok.x < dlg.captionOk.right &&
                ok.y >= dlg.captionOk.top && ok.y < dlg.captionOk.bottom);
}

TEST_F(TerminalPainter, ScrollBarThumbFollowsTheTopEntry) {
    WindowView dlg = InstallerDialog(2.0, 1.875);
    WindowView& list = dlg.children[0];
    list.items.clear();
    for (int i = 0; i < 30; ++i) {
        list.items.push_back(u"Package " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
    }
    CellRect cells = CellsOf(list.rect);
    int barCol = cells.right - 2;
    auto thumbTop = [&] {
        for (int row = cells.top + 1; row < cells.bottom - 1; ++row)
            if (grid.At(barCol, row).ch == U'█') return row;
        return -1;
    };
    PaintScreen({dlg}, grid);
    int first = thumbTop();
    EXPECT_EQ(first, cells.top + 1);
    list.topIndex = 21;
    list.curSel = 25;
    PaintScreen({dlg}, grid);
    EXPECT_GT(thumbTop(), first);
    EXPECT_TRUE(Shows(grid, ">Package Z"));
}

TEST_F(TerminalPainter, MessageBoxCoversTheDialogWithItsTextIconAndOk) {
    WindowView dlg = InstallerDialog(2.0, 1.875);
    dlg.enabled = false;
    WindowView box = View(WindowKind::MessageBox, 0, WS_CAPTION, RECT{0, 40, 240, 140}, u"SETUP");
    box.client = RECT{2, 62, 238, 138};
    box.infoIcon = true;
    box.children.push_back(View(WindowKind::Static, 0xFFFF, SS_LEFT, RECT{40, 66, 232, 106},
                                u"Installation has been completed. Every file was copied."));
    box.children.push_back(View(WindowKind::Button, IDOK, 0, RECT{90, 110, 150, 132}, u"OK"));
    box.children.back().focused = true;
    PaintScreen({dlg, box}, grid);

    EXPECT_TRUE(Shows(grid, "SETUP"));
    EXPECT_TRUE(Shows(grid, "(i)"));
    EXPECT_TRUE(Shows(grid, "Installation has been completed."));
    EXPECT_TRUE(Shows(grid, "copied."));
    EXPECT_TRUE(Shows(grid, "[>OK<]"));
    EXPECT_FALSE(Shows(grid, "Deutsch")) << "the box hides the list entries under it";
    EXPECT_TRUE(Shows(grid, "English")) << "entries outside it stay";
}

TEST_F(TerminalPainter, TooSmallTerminalGetsAMessageInstead) {
    CellGrid small(40, 10);
    PaintTooSmall(small);
    std::string all;
    for (int row = 0; row < small.Rows(); ++row) all += Row(small, row) + "\n";
    EXPECT_NE(all.find("too small"), std::string::npos) << all;
    EXPECT_NE(all.find("80x24"), std::string::npos) << all;
    EXPECT_NE(all.find("40x10"), std::string::npos) << all;
}

}  // namespace
}  // namespace wce::terminal

// A cause is wrapped at blanks; a word longer than the line is cut where the line ends.
TEST(TerminalWrap, BreaksAtBlanksWithinTheWidth) {
    struct Row {
        std::u32string text;
        int width;
        std::vector<std::u32string> lines;
    };
    const Row rows[] = {
        {U"cannot copy into X: no such folder",
         12,
         {U"cannot copy", U"into X: no", U"such folder"}},
        {U"/a/very/long/host/path", 8, {U"/a/very/", U"long/hos", U"t/path"}},
        {U"", 10, {}},
    };
    for (const Row& row : rows) {
        const std::vector<std::u32string> got = wce::terminal::WrapText(row.text, row.width);
        EXPECT_EQ(got, row.lines);
        for (const auto& line : got) EXPECT_LE(wce::terminal::TextWidth(line), row.width);
    }
}
