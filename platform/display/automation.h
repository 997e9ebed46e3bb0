// What a run without a person reports beyond the screen: its outcome in the exit status, the
// cause of a failure and other notes on standard error.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace wce::display {

// What one of the program's messages means to an unattended run. The program's start-up
// declares them: the platform knows no message of its own.
enum class Outcome {
    None,           // says nothing of the run's outcome
    Succeeded,      // the work asked for was done: a scripted run exits 0
    Failed,         // it failed: a scripted run exits 3, unless later work succeeds
    StartupFailed,  // the program is stopping (status 1), whatever the script asks next
};
struct MessageMeaning {
    std::u16string text;
    Outcome outcome = Outcome::None;
    std::function<std::string()> cause;  // the line that follows the message on stderr ("": none)
};
void DeclareMessages(std::vector<MessageMeaning> meanings);

// The keys of the list's entries in list order, for "select key=K" (declared by the program's
// start-up; none by default).
void DeclareListKeys(std::function<std::vector<std::u16string>()> keys);
// The comparison of the device with the selected entry's package (--check): true when the
// device holds it; a run's status is then 0, else 4.
void DeclarePackageCheck(std::function<bool()> check);
// Runs the declared check ("" once done, else why it could not be made).
std::string RunPackageCheck();
std::vector<std::u16string> ListKeys();

// Every display calls this when the program waits for input: a message box that has newly
// appeared counts as the outcome it stands for, and its cause goes to stderr.
void ObserveScreen();
// The cause that followed the last failure message, until a later success ("" when none).
const std::string& LastFailureCause();

// A line of the run's answer on standard output (what --check found).
void Answer(const std::string& line);

// A line for standard error; while a display draws on the terminal that stderr shows, lines are
// held until ReleaseReports (the host's start-up calls it after the display shut down).
void Report(const std::string& line);
void HoldReports(bool hold);
void ReleaseReports();

// Whether a script drives the run (set when the display is chosen).
void SetScripted(bool scripted);
bool Scripted();
// The exit status of a run whose program returned status: a scripted run that ends normally
// gives its last outcome (0 when no install was made).
int ExitStatus(int status);

// A script step that cannot be taken: the line is reported (unless empty), the display shut
// down, and the process exits before anything further happens: with status 2, or 1 once
// start-up failed (the script did not go wrong; the start did).
[[noreturn]] void StopScript(const std::string& line);
bool StartupFailed();

}  // namespace wce::display
