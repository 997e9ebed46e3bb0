// Stop signals held until the program's thread can hand them to its console control handlers.
#include <csignal>
#include <cstdlib>
#include <vector>

#include "platform/user/console.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_armed = 0;    // a handler is registered
volatile std::sig_atomic_t g_pending = 0;  // a signal not yet handed on
volatile std::sig_atomic_t g_taken = 0;    // a signal a handler took
struct sigaction g_previous[NSIG];
std::vector<PHANDLER_ROUTINE>& Handlers() {
    static std::vector<PHANDLER_ROUTINE> handlers;
    return handlers;
}

// The signal as it would have ended the process before us (restoring the terminal first).
void EndBy(int sig) {
    sigaction(sig, &g_previous[sig], nullptr);
    raise(sig);
}

void OnStopSignal(int sig) {
    if (g_armed && g_pending == 0 && g_taken == 0) {
        g_pending = sig;
        return;
    }
    EndBy(sig);
}

DWORD EventOf(int sig) {
    return sig == SIGINT ? CTRL_C_EVENT : sig == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_SHUTDOWN_EVENT;
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add) {
    auto& handlers = Handlers();
    if (Add) {
        handlers.push_back(HandlerRoutine);
    } else {
        std::erase(handlers, HandlerRoutine);
    }
    g_armed = handlers.empty() ? 0 : 1;
    if (!Add && g_taken != 0) std::exit(128 + g_taken);
    // A signal that came while the last handler was going still ends the process.
    if (!Add && handlers.empty() && g_pending != 0) EndBy(g_pending);
    return TRUE;
}

namespace wce::user {

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        sigaction(sig, nullptr, &g_previous[sig]);
        // An ignored signal stays ignored (SIGHUP under nohup).
        if (!(g_previous[sig].sa_flags & SA_SIGINFO) && g_previous[sig].sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &action, nullptr);
    }
}

void DeliverConsoleEvents() {
    const int sig = g_pending;
    if (sig == 0 || g_taken != 0) return;
    const auto handlers = Handlers();
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        if ((*it)(EventOf(sig))) {
            g_taken = sig;
            g_pending = 0;
            return;
        }
    }
    EndBy(sig);
}

}  // namespace wce::user
