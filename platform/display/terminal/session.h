// The curses session on the host terminal, and its restoration on every way the process ends.
#pragma once

#include <string>

namespace wce::terminal {

struct SessionInfo {
    bool ownsStdout = false;  // the picture is drawn on standard output
};

// Puts the terminal into the display's mode (cbreak, no echo, keypad, mouse, hidden cursor).
// Draws on standard output when it is a terminal, else on /dev/tty; reads standard input when it
// is a terminal, else /dev/tty. Registers the restoration with atexit and for SIGINT, SIGTERM,
// SIGHUP and every signal that dumps core (SIGQUIT, SIGSEGV, ...), which restore, then end the
// process by the same signal.
// False with a sentence in error when there is no usable terminal.
bool OpenSession(SessionInfo& info, std::string& error);

// Leaves curses mode and restores the terminal's settings; does nothing when not open.
void CloseSession();
bool SessionOpen();

}  // namespace wce::terminal
