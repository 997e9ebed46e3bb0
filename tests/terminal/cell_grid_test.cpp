#include "platform/display/terminal/cell_grid.h"

#include <gtest/gtest.h>

namespace wce::terminal {
namespace {

class TerminalCellGrid : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(EnsureUtf8Locale()); }
};

TEST_F(TerminalCellGrid, PixelRectanglesMapToTheCellsHoldingTheirCentres) {
    struct Row {
        RECT px;
        CellRect cells;
        const char* why;
    };
    const Row rows[] = {
        {{0, 0, 320, 240}, {0, 0, 80, 24}, "the whole screen"},
        {{2, 22, 314, 157}, {0, 2, 78, 16}, "a list box below the caption"},
        {{104, 206, 174, 232}, {26, 21, 43, 23}, "a push button"},
        {{6, 161, 66, 180}, {1, 16, 16, 18}, "a one-line label"},
        {{2, 2, 318, 22}, {0, 0, 79, 2}, "a 20 pixel caption band"},
        {{9, 12, 10, 14}, {2, 1, 3, 2}, "too thin for any centre: the cell of its own centre"},
        {{-8, -20, 4, 10}, {-2, -2, 1, 1}, "left of and above the screen"},
        {{50, 50, 50, 60}, {}, "empty"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(CellsOf(row.px), row.cells);
    }
}

TEST_F(TerminalCellGrid, AdjacentRectanglesNeverShareACellAndClicksLandBack) {
    // Both sides at least a cell large; thinner ones fall back to the cell of their centre.
    for (int split = 6; split <= 54; ++split) {
        SCOPED_TRACE(split);
        CellRect above = CellsOf(RECT{0, 0, 40, split});
        CellRect below = CellsOf(RECT{0, split, 40, 60});
        if (!above.Empty() && !below.Empty()) {
            EXPECT_LE(above.bottom, below.top);
        }
        CellRect left = CellsOf(RECT{0, 0, split, 10});
        CellRect right = CellsOf(RECT{split, 0, 60, 10});
        if (!left.Empty() && !right.Empty()) {
            EXPECT_LE(left.right, right.left);
        }
    }
    for (int col : {0, 1, 40, 79}) {
        for (int row : {0, 12, 23}) {
            POINT p = CellCentre(col, row);
            EXPECT_EQ(ColumnOfPixel(p.x), col);
            EXPECT_EQ(RowOfPixel(p.y), row);
            EXPECT_EQ(CellsOf(RECT{p.x, p.y, p.x + 1, p.y + 1}),
                      (CellRect{col, row, col + 1, row + 1}));
        }
    }
}

TEST_F(TerminalCellGrid, WidthsAndFittingNeverSplitAWideCharacter) {
    struct Row {
        std::u32string text;
        int width;
        int fullWidth;
        std::u32string fitted;
    };
    const Row rows[] = {
        {U"Install", 4, 7, U"Inst"}, {U"日本語", 5, 6, U"日本"},      {U"日本語", 6, 6, U"日本語"},
        {U"aあb", 2, 4, U"a"},       {U"e\u0301x", 1, 2, U"e\u0301"}, {U"\x01z", 1, 2, U"\x01"},
        {U"Ｆｕｌｌ", 1, 8, U""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(EncodeUtf8(row.text));
        EXPECT_EQ(TextWidth(row.text), row.fullWidth);
        EXPECT_EQ(FitText(row.text, row.width), row.fitted);
        EXPECT_LE(TextWidth(FitText(row.text, row.width)), row.width);
    }
    EXPECT_EQ(Displayable(U'\x01'), U'?');
    EXPECT_EQ(DecodeUtf16(u"a\U0001F600b"), U"a\U0001F600b");
    EXPECT_EQ(DecodeUtf16(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              U"a\uFFFDb\uFFFD");
    EXPECT_EQ(EncodeUtf8(U"aé日\U0001F600"), "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST_F(TerminalCellGrid, WrapsWordsBreaksLongOnesAndKeepsToTheLineLimit) {
    using Lines = std::vector<std::u32string>;
    struct Row {
        std::u32string text;
        int width;
        int maxLines;
        Lines lines;
    };
    const Row rows[] = {
        {U"Installation is stopped.", 30, 3, {U"Installation is stopped."}},
        {U"Installation has been completed.", 16, 3, {U"Installation has", U"been completed."}},
        {U"Not found SETUP.INI", 8, 4, {U"Not", U"found", U"SETUP.IN", U"I"}},
        {U"one\ntwo", 20, 3, {U"one", U"two"}},
        {U"a b c d e f", 3, 2, {U"a b", U"c d"}},
        {U"日本語の表示名", 5, 4, {U"日本", U"語の", U"表示", U"名"}},
        {U"anything", 0, 3, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(EncodeUtf8(row.text));
        EXPECT_EQ(WrapText(row.text, row.width, row.maxLines), row.lines);
    }
}

TEST_F(TerminalCellGrid, OverwritingHalfAWideCharacterBlanksTheOtherHalf) {
    CellGrid grid(10, 2);
    CellRect all = grid.Bounds();
    EXPECT_EQ(grid.PutText(0, 0, U"日本語", kAttrNormal, all), 6);
    grid.Put(3, 0, U'x', kAttrNormal, all);  // over the right half of 本
    EXPECT_EQ(grid.RowText(0), U"日 x語    ");
    grid.Put(4, 0, U'y', kAttrNormal, all);  // over the left half of 語
    EXPECT_EQ(grid.RowText(0), U"日 xy     ");
    EXPECT_FALSE(grid.At(5, 0).continuation);

    // A wide character that would straddle the clip edge is not drawn at all.
    CellRect clip{0, 1, 5, 2};
    EXPECT_EQ(grid.PutText(0, 1, U"ab日本", kAttrNormal, clip), 4);
    EXPECT_EQ(grid.At(4, 1).ch, U' ');
    EXPECT_FALSE(grid.Put(-1, 1, U'z', kAttrNormal, all));
}

TEST_F(TerminalCellGrid, RoutedClicksStayInsideTheirTarget) {
    CellGrid grid;
    EXPECT_EQ(grid.ClickPoint(3, 4).x, 14);
    EXPECT_EQ(grid.ClickPoint(3, 4).y, 45);
    RECT item{2, 40, 300, 55};
    grid.RouteClicks({0, 3, 80, 6}, item);
    for (int row = 3; row < 6; ++row) {
        SCOPED_TRACE(row);
        POINT p = grid.ClickPoint(0, row);
        EXPECT_GE(p.x, item.left);
        EXPECT_GE(p.y, item.top);
        EXPECT_LT(p.y, item.bottom);
    }
    EXPECT_EQ(grid.ClickPoint(0, 6).y, 65);
}

}  // namespace
}  // namespace wce::terminal
