#include "platform/display/terminal/cell_grid.h"

#include <langinfo.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwchar>

#include "platform/kernel/ns/utf8.h"

namespace wce::terminal {
namespace {

int FloorDiv(int a, int b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}
int CeilDiv(int a, int b) {
    return -FloorDiv(-a, b);
}

// Cells [first, last) whose centre lies in [lo, hi); the holder of the midpoint if none does.
std::pair<int, int> SpanOf(int lo, int hi, int cell) {
    if (hi <= lo) return {0, 0};
    int first = CeilDiv(lo - cell / 2, cell);
    int last = CeilDiv(hi - cell / 2, cell);
    if (last <= first) {
        first = FloorDiv(lo + (hi - lo) / 2, cell);
        last = first + 1;
    }
    return {first, last};
}

bool IsUtf8Codeset() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0);
}

}  // namespace

int ColumnOfPixel(int x) {
    return FloorDiv(x, kCellWidth);
}
int RowOfPixel(int y) {
    return FloorDiv(y, kCellHeight);
}

POINT CellCentre(int col, int row) {
    return {col * kCellWidth + kCellWidth / 2, row * kCellHeight + kCellHeight / 2};
}

CellRect CellsOf(const RECT& px) {
    auto [left, right] = SpanOf(px.left, px.right, kCellWidth);
    auto [top, bottom] = SpanOf(px.top, px.bottom, kCellHeight);
    if (left == right || top == bottom) return {};
    return {left, top, right, bottom};
}

CellRect Intersect(const CellRect& a, const CellRect& b) {
    CellRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    return r.Empty() ? CellRect{} : r;
}

POINT ClampInto(POINT p, const RECT& px) {
    if (px.right <= px.left || px.bottom <= px.top) return p;
    return {std::clamp(p.x, px.left, px.right - 1), std::clamp(p.y, px.top, px.bottom - 1)};
}

int CharWidth(char32_t ch) {
    int w = ::wcwidth(static_cast<wchar_t>(ch));
    if (w < 0) return 1;
    return std::min(w, 2);
}

char32_t Displayable(char32_t ch) {
    if (::wcwidth(static_cast<wchar_t>(ch)) < 0) return U'?';
    return ch;
}

std::u32string DecodeUtf16(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        i += wce::kernel::DecodeUtf16(text, i, c);
        out.push_back(wce::kernel::IsSurrogate(c) ? U'\uFFFD' : c);
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) wce::kernel::AppendUtf8(c, out);
    return out;
}

int TextWidth(std::u32string_view text) {
    int width = 0;
    for (char32_t c : text) width += CharWidth(c);
    return width;
}

std::u32string FitText(std::u32string_view text, int width) {
    std::u32string out;
    int used = 0;
    for (char32_t c : text) {
        int w = CharWidth(c);
        if (used + w > width) break;
        out.push_back(c);
        used += w;
    }
    return out;
}

namespace {

// Appends one word to the lines; a word longer than a line starts a line of its own and is
// broken there.
void AppendWord(std::vector<std::u32string>& lines, std::u32string_view word, int width) {
    while (!word.empty()) {
        std::u32string& line = lines.back();
        int room = width - TextWidth(line) - (line.empty() ? 0 : 1);
        if (TextWidth(word) <= room) {
            if (!line.empty()) line.push_back(U' ');
            line.append(word);
            return;
        }
        if (!line.empty()) {
            lines.emplace_back();
            continue;
        }
        std::u32string head = FitText(word, width);
        if (head.empty()) {
            word.remove_prefix(1);  // a wide character in a one-cell line cannot be shown
            continue;
        }
        line.append(head);
        word.remove_prefix(head.size());
        if (!word.empty()) lines.emplace_back();
    }
}

}  // namespace

std::vector<std::u32string> WrapText(std::u32string_view text, int width, int maxLines) {
    std::vector<std::u32string> lines;
    if (width <= 0 || maxLines <= 0) return lines;
    lines.emplace_back();
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c = text[i];
        if (c == U'\n') {
            lines.emplace_back();
            ++i;
        } else if (c == U' ' || c == U'\r' || c == U'\t') {
            ++i;
        } else {
            std::size_t end = text.find_first_of(U" \r\t\n", i);
            if (end == std::u32string_view::npos) end = text.size();
            AppendWord(lines, text.substr(i, end - i), width);
            i = end;
        }
    }
    if (static_cast<int>(lines.size()) > maxLines) lines.resize(static_cast<std::size_t>(maxLines));
    return lines;
}

bool EnsureUtf8Locale() {
    // Only the character type: numbers and messages of the program keep the C conventions.
    std::setlocale(LC_CTYPE, "");
    if (IsUtf8Codeset()) return true;
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
        if (std::setlocale(LC_CTYPE, name) != nullptr && IsUtf8Codeset()) return true;
    }
    return false;
}

CellGrid::CellGrid(int cols, int rows)
    : cols_(cols),
      rows_(rows),
      cells_(static_cast<std::size_t>(cols * rows)),
      clicks_(cells_.size()) {
    Clear();
}

void CellGrid::Clear() {
    std::fill(cells_.begin(), cells_.end(), Cell{});
    for (int row = 0; row < rows_; ++row)
        for (int col = 0; col < cols_; ++col) clicks_[Index(col, row)] = CellCentre(col, row);
}

void CellGrid::Blank(int col, int row) {
    Cell& cell = cells_[Index(col, row)];
    if (cell.continuation && col > 0) cells_[Index(col - 1, row)] = Cell{U' ', cell.attr, false};
    if (!cell.continuation && col + 1 < cols_ && cells_[Index(col + 1, row)].continuation)
        cells_[Index(col + 1, row)] = Cell{U' ', cell.attr, false};
    cell = Cell{U' ', cell.attr, false};
}

bool CellGrid::Put(int col, int row, char32_t ch, std::uint8_t attr, const CellRect& clip) {
    CellRect area = Intersect(clip, Bounds());
    int width = CharWidth(ch);
    if (width == 0) return true;  // combining marks are dropped, not drawn over a neighbour
    if (row < area.top || row >= area.bottom || col < area.left || col + width > area.right)
        return false;
    for (int i = 0; i < width; ++i) Blank(col + i, row);
    cells_[Index(col, row)] = Cell{Displayable(ch), attr, false};
    if (width == 2) cells_[Index(col + 1, row)] = Cell{U' ', attr, true};
    return true;
}

int CellGrid::PutText(int col, int row, std::u32string_view text, std::uint8_t attr,
                      const CellRect& clip) {
    int used = 0;
    for (char32_t c : text) {
        if (!Put(col + used, row, c, attr, clip)) break;
        used += CharWidth(c);
    }
    return used;
}

void CellGrid::Fill(const CellRect& area, char32_t ch, std::uint8_t attr) {
    CellRect a = Intersect(area, Bounds());
    for (int row = a.top; row < a.bottom; ++row)
        for (int col = a.left; col < a.right; ++col) Put(col, row, ch, attr, a);
}

void CellGrid::RouteClicks(const CellRect& area, const RECT& target) {
    CellRect a = Intersect(area, Bounds());
    for (int row = a.top; row < a.bottom; ++row)
        for (int col = a.left; col < a.right; ++col)
            clicks_[Index(col, row)] = ClampInto(CellCentre(col, row), target);
}

std::u32string CellGrid::RowText(int row) const {
    std::u32string text;
    for (int col = 0; col < cols_; ++col)
        if (!At(col, row).continuation) text.push_back(At(col, row).ch);
    return text;
}

}  // namespace wce::terminal
