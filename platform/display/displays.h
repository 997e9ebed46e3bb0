// Choosing a display, and the automation script that any display can run.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/user/display.h"

namespace wce::display {

// A parsed WCE_SCRIPT: one action a line (select N / key=K / name=N, click ID, key NAME, ok,
// close, dump, screenshot FILE).
class Script {
  public:
    virtual ~Script() = default;
    // Delivers the next action: posts its input, or prints the dump. False when used up. An
    // action that cannot be taken ends the process with status 2 (StopScript).
    virtual bool DeliverNext() = 0;
    virtual bool Exhausted() const = 0;
};

// One parsed action: its name, its argument (number or key name or text, as the action takes),
// and where it came from.
struct ScriptAction {
    std::string name;
    std::string arg;
    long number = 0;
    int line = 0;
};

// Parses a whole script without side effects; on a malformed line, error names the source and
// the line ("FILE:LINE: ...") and actions is empty.
struct ScriptParse {
    std::vector<ScriptAction> actions;
    std::string error;
};
ScriptParse ParseScript(const std::string& text, const std::string& sourceName);
// A script over parsed actions; source names it in messages about actions that cannot be taken.
std::unique_ptr<Script> MakeScript(std::vector<ScriptAction> actions, std::string source);

// The largest script read: far more than any list of actions, far less than memory.
inline constexpr std::size_t kMaxScriptBytes = 1 << 20;

// Reads and checks the whole script ("-" is standard input; an empty one has no actions). An
// unreadable script, one larger than kMaxScriptBytes, or a malformed line (named by its number)
// is reported on stderr and the process exits with status 2.
std::unique_ptr<Script> LoadScript(const std::string& source);

// What an absent user does when the script is used up: OK to a message box, else the dialog's
// caption OK button.
void AnswerAsAbsentUser();

// Displays. Each takes an optional script whose actions it delivers before waiting for a person.
std::unique_ptr<wce::user::Display> MakeHeadlessDisplay(std::unique_ptr<Script> script);
std::unique_ptr<wce::user::Display> MakeTerminalDisplay(std::unique_ptr<Script> script);
std::unique_ptr<wce::user::Display> MakeWindowDisplay(std::unique_ptr<Script> script);
// Whether the graphical session can be reached, so that the default can fall back quietly.
bool WindowDisplayCanOpen();

// Picks the display from WCE_DISPLAY (headless, terminal, window) or, without it, from the
// session: a script gives headless; a graphical session the window; a terminal the terminal
// display; anything else headless. Exits with status 2 on a bad setting.
std::unique_ptr<wce::user::Display> MakeDisplayFromEnvironment();
// The headless display with actions of the command line (source names them in messages, such as
// "--install 2"), as a script would give them; WCE_SCRIPT may not be set beside them (status 2).
std::unique_ptr<wce::user::Display> MakeCommandDisplay(std::vector<ScriptAction> actions,
                                                       const std::string& source);

}  // namespace wce::display
