// The emulated 320 x 240 pixel screen as an 80 x 24 grid of terminal cells: the pixel <-> cell
// mapping, text widths and clipping, and the grid the painter draws into. No terminal access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/user/winuser.h"

namespace wce::terminal {

inline constexpr int kCellWidth = 4;    // pixels a column
inline constexpr int kCellHeight = 10;  // pixels a row
inline constexpr int kGridCols = SCREEN_WIDTH / kCellWidth;
inline constexpr int kGridRows = SCREEN_HEIGHT / kCellHeight;

// Cells [left, right) x [top, bottom).
struct CellRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const CellRect&) const = default;
};

// The column / row whose pixels hold the given coordinate (floor, also for negatives).
int ColumnOfPixel(int x);
int RowOfPixel(int y);
// The pixel at the centre of a cell; a click on the cell lands there.
POINT CellCentre(int col, int row);
// The cells whose centre pixel lies inside the pixel rectangle, so that rectangles that do not
// overlap never share a cell. A rectangle too thin to hold a centre gets the cell(s) holding its
// own centre instead, so no visible control vanishes.
CellRect CellsOf(const RECT& px);
CellRect Intersect(const CellRect& a, const CellRect& b);
// A point clamped into a pixel rectangle (inclusive of left/top, exclusive of right/bottom).
POINT ClampInto(POINT p, const RECT& px);

// Cells a character takes: 2 for East-Asian wide, 0 for combining marks, 1 otherwise
// (unprintable characters count 1: they are shown as a replacement).
int CharWidth(char32_t ch);
// What is shown for a character: unprintable ones become '?'.
char32_t Displayable(char32_t ch);
// UTF-16 to code points; an unpaired surrogate becomes U+FFFD.
std::u32string DecodeUtf16(std::u16string_view text);
std::string EncodeUtf8(std::u32string_view text);
int TextWidth(std::u32string_view text);
// The longest prefix that fits in width cells; a wide character that would straddle the edge
// is left out whole.
std::u32string FitText(std::u32string_view text, int width);
// Word-wrapped lines of at most width cells (words longer than a line are broken), at most
// maxLines; the last line kept is cut to fit. Explicit newlines start a new line.
std::vector<std::u32string> WrapText(std::u32string_view text, int width, int maxLines);
// Makes the C library's character classification UTF-8 (the user's locale when it already is);
// widths and the terminal's output depend on it. False when no UTF-8 locale exists.
bool EnsureUtf8Locale();

enum CellAttr : std::uint8_t {
    kAttrNormal = 0,
    kAttrReverse = 1,
    kAttrBold = 2,
    kAttrDim = 4,
    kAttrUnderline = 8,
};

struct Cell {
    char32_t ch = U' ';
    std::uint8_t attr = kAttrNormal;
    bool continuation = false;  // right half of a wide character drawn in the cell before
    bool operator==(const Cell&) const = default;
};

// A picture in cells plus, for each cell, the pixel a click on it is delivered to.
class CellGrid {
  public:
    CellGrid(int cols = kGridCols, int rows = kGridRows);

    int Cols() const { return cols_; }
    int Rows() const { return rows_; }
    CellRect Bounds() const { return {0, 0, cols_, rows_}; }
    const Cell& At(int col, int row) const { return cells_[Index(col, row)]; }
    POINT ClickPoint(int col, int row) const { return clicks_[Index(col, row)]; }

    void Clear();
    // Draws one character; false (nothing drawn) when it does not fit whole inside clip.
    // Overwriting half of an earlier wide character blanks its other half.
    bool Put(int col, int row, char32_t ch, std::uint8_t attr, const CellRect& clip);
    // Draws text from col on; returns the columns used. Stops at the clip's right edge.
    int PutText(int col, int row, std::u32string_view text, std::uint8_t attr,
                const CellRect& clip);
    void Fill(const CellRect& area, char32_t ch, std::uint8_t attr);
    // Clicks on these cells go to the cell's centre pixel clamped into target.
    void RouteClicks(const CellRect& area, const RECT& target);
    // One row as text (continuation cells skipped), for tests and the small-terminal check.
    std::u32string RowText(int row) const;

  private:
    std::size_t Index(int col, int row) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
               static_cast<std::size_t>(col);
    }
    void Blank(int col, int row);
    int cols_, rows_;
    std::vector<Cell> cells_;
    std::vector<POINT> clicks_;
};

}  // namespace wce::terminal
