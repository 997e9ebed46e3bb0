// The terminal display: draws the emulated screen with curses and turns keys and mouse clicks
// into device input.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/display/frame_pacer.h"
#include "platform/display/terminal/cell_grid.h"
#include "platform/display/terminal/keys.h"
#include "platform/display/terminal/painter.h"
#include "platform/display/terminal/session.h"
#include "platform/user/window_tree.h"

// After the platform headers: curses defines TRUE and FALSE as macros.
#include <curses.h>

namespace wce::terminal {
namespace {

using Clock = std::chrono::steady_clock;

// A watched script shows each step long enough to be followed.
constexpr auto kScriptPace = std::chrono::milliseconds(150);
// Input is gathered during long work at about the frame rate: a read is a system call.
constexpr auto kInputInterval = std::chrono::milliseconds(33);
// A blocking read that keeps failing means the terminal's input is gone.
constexpr int kMaxFailedReads = 3;

attr_t CursesAttr(std::uint8_t attr) {
    attr_t out = A_NORMAL;
    if (attr & kAttrReverse) out |= A_REVERSE;
    if (attr & kAttrBold) out |= A_BOLD;
    if (attr & kAttrDim) out |= A_DIM;
    if (attr & kAttrUnderline) out |= A_UNDERLINE;
    return out;
}

// Draws the grid's cells at the origin; with the grid drawn there last time, only the cells that
// differ from it, so a frame's work follows what changed (a file name, a counter), not the screen.
void Blit(const CellGrid& grid, int originCol, int originRow, const CellGrid* shown = nullptr) {
    for (int row = 0; row < grid.Rows(); ++row) {
        for (int col = 0; col < grid.Cols(); ++col) {
            const Cell& cell = grid.At(col, row);
            // A changed continuation cell comes with a changed wide character before it.
            if (cell.continuation || (shown != nullptr && cell == shown->At(col, row))) continue;
            wchar_t text[2] = {static_cast<wchar_t>(cell.ch), L'\0'};
            cchar_t cc;
            setcchar(&cc, text, CursesAttr(cell.attr), 0, nullptr);
            mvadd_wch(originRow + row, originCol + col, &cc);
        }
    }
}

class TerminalDisplay final : public wce::user::Display {
  public:
    TerminalDisplay(std::unique_ptr<wce::display::Script> script, bool ownsStdout)
        : script_(std::move(script)), ownsStdout_(ownsStdout) {}
    ~TerminalDisplay() override { CloseSession(); }

    void WaitForInput() override;
    void Poll() override;
    void ScreenChanged() override { dirty_ = true; }
    void Repainted() override;
    void Flush() override;
    bool OwnsStdout() const override { return ownsStdout_ && SessionOpen(); }
    void Shutdown() override { CloseSession(); }

  private:
    enum class Read { Nothing, Input, Failed };

    void Present();
    std::vector<std::u32string> BelowLines(const std::vector<wce::user::WindowView>& screen,
                                           int cols) const;
    void PresentBelow(const std::vector<std::u32string>& lines, int cols, int row, int rows);
    Read ReadOne();
    bool Handle(int status, wint_t ch);
    bool HandleMouse();
    bool PaceScript();
    void WaitForPerson();

    std::unique_ptr<wce::display::Script> script_;
    bool ownsStdout_;
    bool dirty_ = true;
    bool redrawAll_ = false;
    bool pictureShown_ = false;  // false while the terminal is too small
    int originCol_ = 0;
    int originRow_ = 0;
    Clock::time_point lastInput_{};
    CellGrid grid_;
    // The picture the curses screen holds (at originCol_/originRow_ of a terminal of shownCols_ x
    // shownRows_), while shownValid_.
    CellGrid shown_;
    bool shownValid_ = false;
    int shownCols_ = 0;
    int shownRows_ = 0;
    std::vector<std::u32string> shownBelow_;
    wce::display::FramePacer pacer_;
};

// The lines under the screen, where the terminal has them: what each key does where the focus
// is, which the device's own dialog does not say, or after a failure its whole cause, which
// stderr gets only once the terminal is restored.
std::vector<std::u32string> TerminalDisplay::BelowLines(
    const std::vector<wce::user::WindowView>& screen, int cols) const {
    const std::string& cause = wce::display::LastFailureCause();
    const std::string text = cause.empty() ? KeyHint(screen) : "Failed: " + cause;
    const std::u32string decoded = DecodeUtf16(wce::user::Utf8ToUtf16(text));
    if (cause.empty()) return {FitText(decoded, cols)};
    return WrapText(decoded, cols);
}

void TerminalDisplay::PresentBelow(const std::vector<std::u32string>& lines, int cols, int row,
                                   int rows) {
    const bool failed = !wce::display::LastFailureCause().empty();
    for (std::size_t i = 0; i < lines.size() && row + static_cast<int>(i) < rows; ++i) {
        CellGrid line(cols, 1);
        const int col =
            failed ? 0 : std::clamp(originCol_, 0, std::max(0, cols - TextWidth(lines[i])));
        line.PutText(col, 0, lines[i], failed ? kAttrBold : kAttrDim, line.Bounds());
        Blit(line, 0, row + static_cast<int>(i));
    }
}

void TerminalDisplay::Present() {
    dirty_ = false;
    pacer_.Presented(Clock::now());
    if (!SessionOpen()) return;
    int rows = 0;
    int cols = 0;
    getmaxyx(stdscr, rows, cols);
    pictureShown_ = cols >= kGridCols && rows >= kGridRows;
    if (pictureShown_) {
        // The grid just shown becomes the one compared against; grid_ answers clicks on the new.
        std::swap(grid_, shown_);
        const std::vector<wce::user::WindowView> screen = wce::user::SnapshotScreen();
        PaintScreen(screen, grid_);
        const std::vector<std::u32string> below = BelowLines(screen, cols);
        // Other lines below (a cause, a hint) are drawn afresh, the picture moved up to make room.
        const bool incremental = shownValid_ && !redrawAll_ && cols == shownCols_ &&
                                 rows == shownRows_ && below == shownBelow_;
        if (!incremental) {
            erase();
            originCol_ = (cols - kGridCols) / 2;
            const int room = rows - kGridRows - static_cast<int>(below.size());
            originRow_ = std::max(0, std::min((rows - kGridRows) / 2, room));
        }
        Blit(grid_, originCol_, originRow_, incremental ? &shown_ : nullptr);
        if (!incremental && rows > kGridRows)
            PresentBelow(below, cols, originRow_ + kGridRows, rows);
        shownBelow_ = below;
        shownValid_ = true;
        shownCols_ = cols;
        shownRows_ = rows;
    } else {
        erase();
        shownValid_ = false;
        if (cols > 0 && rows > 0) {
            CellGrid message(cols, rows);
            PaintTooSmall(message);
            Blit(message, 0, 0);
        }
    }
    if (redrawAll_) clearok(curscr, TRUE);
    redrawAll_ = false;
    refresh();
}

bool TerminalDisplay::HandleMouse() {
    MEVENT event{};
    if (getmouse(&event) != OK) return false;
    if (!(event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) || !pictureShown_) return false;
    int col = event.x - originCol_;
    int row = event.y - originRow_;
    if (col < 0 || row < 0 || col >= grid_.Cols() || row >= grid_.Rows()) return false;
    wce::user::InjectClick(grid_.ClickPoint(col, row));
    return true;
}

// True when the key or click became device input.
bool TerminalDisplay::Handle(int status, wint_t ch) {
    bool functionKey = status == KEY_CODE_YES;
    if (functionKey && ch == KEY_RESIZE) {
        redrawAll_ = true;
        Present();
        return false;
    }
    if (functionKey && ch == KEY_MOUSE) return HandleMouse();
    auto key = MapTerminalKey(functionKey, static_cast<std::uint32_t>(ch));
    if (!key) return false;
    wce::user::InjectKey(key->vk, key->shift);
    return true;
}

// One read with the timeout set by the caller.
TerminalDisplay::Read TerminalDisplay::ReadOne() {
    wint_t ch = 0;
    int status = get_wch(&ch);
    if (status == ERR) return Read::Failed;
    return Handle(status, ch) ? Read::Input : Read::Nothing;
}

void TerminalDisplay::Poll() {
    if (!SessionOpen()) return;
    const Clock::time_point now = Clock::now();
    if (now - lastInput_ >= kInputInterval) {
        lastInput_ = now;
        timeout(0);
        for (int i = 0; i < 64; ++i) {
            if (ReadOne() == Read::Failed) break;
        }
    }
    if (pacer_.Poll(now) && dirty_) Present();
}

void TerminalDisplay::Repainted() {
    if (dirty_ && pacer_.Repainted(Clock::now())) Present();
}

void TerminalDisplay::Flush() {
    if (dirty_) Present();
}

// Shows the current step for a moment; true when a person's input came meanwhile.
bool TerminalDisplay::PaceScript() {
    auto deadline = Clock::now() + kScriptPace;
    for (auto now = Clock::now(); now < deadline; now = Clock::now()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        timeout(static_cast<int>(left.count()) + 1);
        if (ReadOne() == Read::Input) return true;
    }
    return false;
}

void TerminalDisplay::WaitForPerson() {
    timeout(-1);
    int failures = 0;
    while (failures < kMaxFailedReads) {
        switch (ReadOne()) {
            case Read::Input:
                return;
            case Read::Nothing:
                failures = 0;
                break;
            case Read::Failed:
                ++failures;
                napms(10);
                break;
        }
    }
    // Nobody can answer any more: end the run as an absent user would rather than spin.
    wce::display::AnswerAsAbsentUser();
}

void TerminalDisplay::WaitForInput() {
    wce::display::ObserveScreen();
    Present();
    if (!SessionOpen()) {
        wce::display::AnswerAsAbsentUser();
        return;
    }
    if (script_ && !script_->Exhausted()) {
        if (PaceScript()) return;
        script_->DeliverNext();
        // A dump action prints over the picture.
        redrawAll_ = true;
        dirty_ = true;
        return;
    }
    WaitForPerson();
}

}  // namespace
}  // namespace wce::terminal

namespace wce::display {

std::unique_ptr<wce::user::Display> MakeTerminalDisplay(std::unique_ptr<Script> script) {
    terminal::EnsureUtf8Locale();
    terminal::SessionInfo info;
    std::string error;
    if (!terminal::OpenSession(info, error)) {
        std::fprintf(stderr, "WCE_DISPLAY=terminal: %s\n", error.c_str());
        std::exit(2);
    }
    // Lines for stderr would land on the picture: they wait until the terminal is restored.
    HoldReports(isatty(STDERR_FILENO) != 0);
    return std::make_unique<terminal::TerminalDisplay>(std::move(script), info.ownsStdout);
}

}  // namespace wce::display
