// Console control events: the host's stop signals (SIGINT, SIGTERM, SIGHUP) as the program's
// handlers see them.
#pragma once

#include "platform/kernel/wintypes.h"

inline constexpr DWORD CTRL_C_EVENT = 0;         // SIGINT
inline constexpr DWORD CTRL_CLOSE_EVENT = 2;     // SIGHUP
inline constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;  // SIGTERM

using PHANDLER_ROUTINE = BOOL (*)(DWORD dwCtrlType);

// Handlers run on the program's thread when it next looks at its queue (PeekMessageW), the last
// added first. One that returns TRUE has taken the event: the process goes on until that handler
// is removed, then ends with status 128 + the signal's number; a second signal ends it at once.
// An event no handler takes ends the process as the signal would have.
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL Add);

namespace wce::user {

// Takes the stop signals over; signals nobody takes still reach what was there before (the
// terminal's restoration), so this is called once the display is set.
void CatchStopSignals();
// Hands a signal that arrived to the handlers (PeekMessageW calls it).
void DeliverConsoleEvents();

}  // namespace wce::user
