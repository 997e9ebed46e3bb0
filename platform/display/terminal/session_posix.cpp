#include <curses.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/display/terminal/session.h"

namespace wce::terminal {
namespace {

// Everything a signal handler needs is prepared beforehand: it may only write and tcsetattr.
struct RestoreState {
    volatile std::sig_atomic_t open = 0;
    int outFd = -1;
    int termiosFd = -1;
    bool haveTermios = false;
    struct termios saved {};
    char sequence[512] = {};
    std::size_t sequenceLength = 0;
};
RestoreState g_restore;
SCREEN* g_screen = nullptr;
FILE* g_tty = nullptr;
bool g_atexitRegistered = false;

// The stopping signals, and every signal whose default action dumps core.
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGILL,  SIGABRT, SIGFPE,
                            SIGSEGV, SIGBUS,  SIGTRAP, SIGSYS,  SIGXCPU, SIGXFSZ};
constexpr std::size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
// What each signal did before us (the default, or e.g. a sanitizer's report), done after us.
struct sigaction g_previous[kSignalCount];

std::string_view Capability(const char* name) {
    const char* value = tigetstr(name);
    if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
    return value;
}

// The bytes that undo curses mode, sent by a signal handler that cannot call endwin. The
// terminal description sets their lengths: what does not fit is left out, least needed first,
// and never cut.
void PrepareRestoreSequence() {
    static constexpr std::string_view kMouseOff = "\033[?1006l\033[?1002l\033[?1000l";
    struct Piece {
        std::string_view bytes;
        int need;  // the lowest is left out first
    };
    Piece pieces[] = {
        {Capability("sgr0"), 0},  {Capability("cnorm"), 4},
        {Capability("rmkx"), 1},  {Capability("kmous").empty() ? std::string_view() : kMouseOff, 3},
        {Capability("rmcup"), 2},
    };
    std::size_t total = 0;
    for (const Piece& p : pieces) total += p.bytes.size();
    for (int need = 0; total > sizeof g_restore.sequence; ++need) {
        for (Piece& p : pieces) {
            if (p.need != need) continue;
            total -= p.bytes.size();
            p.bytes = {};
        }
    }
    g_restore.sequenceLength = 0;
    for (const Piece& p : pieces) {
        std::memcpy(g_restore.sequence + g_restore.sequenceLength, p.bytes.data(), p.bytes.size());
        g_restore.sequenceLength += p.bytes.size();
    }
}

void RestoreFromSignal(int sig) {
    const int savedErrno = errno;
    if (g_restore.open) {
        g_restore.open = 0;
        if (g_restore.outFd >= 0 && g_restore.sequenceLength > 0) {
            ssize_t ignored = write(g_restore.outFd, g_restore.sequence, g_restore.sequenceLength);
            (void)ignored;
        }
        if (g_restore.haveTermios) tcsetattr(g_restore.termiosFd, TCSANOW, &g_restore.saved);
    }
    // The earlier action ends the process as the signal would have (status, core, reports).
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == sig) sigaction(sig, &g_previous[i], nullptr);
    }
    raise(sig);
    errno = savedErrno;
}

void InstallSignalHandlers() {
    static bool installed = false;
    if (installed) return;  // a second time would take our own handler for the earlier action
    installed = true;
    struct sigaction action {};
    action.sa_handler = RestoreFromSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], nullptr, &g_previous[i]);
        // An ignored signal stays ignored (SIGHUP under nohup).
        if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN) continue;
        sigaction(kSignals[i], &action, nullptr);
    }
}

void RestoreAtExit() {
    CloseSession();
}

bool ChooseStreams(FILE*& in, FILE*& out, std::string& error) {
    bool inTty = isatty(STDIN_FILENO) != 0;
    bool outTty = isatty(STDOUT_FILENO) != 0;
    if (!inTty || !outTty) {
        g_tty = std::fopen("/dev/tty", "r+");
        if (g_tty == nullptr) {
            error = "the terminal display needs a terminal, and there is none (/dev/tty: " +
                    std::string(std::strerror(errno)) + ")";
            return false;
        }
    }
    in = inTty ? stdin : g_tty;
    out = outTty ? stdout : g_tty;
    return true;
}

void SaveTermios(int fd) {
    g_restore.termiosFd = fd;
    g_restore.haveTermios = tcgetattr(fd, &g_restore.saved) == 0;
}

}  // namespace

bool OpenSession(SessionInfo& info, std::string& error) {
    if (SessionOpen()) return true;
    FILE* in = nullptr;
    FILE* out = nullptr;
    if (!ChooseStreams(in, out, error)) return false;
    SaveTermios(fileno(in));
    g_restore.outFd = fileno(out);
    // Installed before curses starts so that curses leaves these signals to us.
    InstallSignalHandlers();
    const char* term = std::getenv("TERM");
    g_screen = newterm(nullptr, out, in);
    if (g_screen == nullptr) {
        error = std::string("the terminal type \"") + (term ? term : "") +
                "\" is unknown to the terminal library (set TERM, e.g. TERM=xterm)";
        return false;
    }
    set_term(g_screen);
    PrepareRestoreSequence();
    g_restore.open = 1;
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    // Input is read between frames: no check for typed-ahead keys in each one, which polls the
    // input every frame and would leave a frame half drawn while a key waits.
    typeahead(-1);
    mouseinterval(0);
    mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
    if (!g_atexitRegistered) g_atexitRegistered = std::atexit(RestoreAtExit) == 0;
    info.ownsStdout = out == stdout;
    return true;
}

void CloseSession() {
    if (!g_restore.open) return;
    g_restore.open = 0;
    mousemask(0, nullptr);
    endwin();
    if (g_restore.haveTermios) tcsetattr(g_restore.termiosFd, TCSANOW, &g_restore.saved);
}

bool SessionOpen() {
    return g_restore.open != 0;
}

}  // namespace wce::terminal
