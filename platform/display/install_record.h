// The record of what an install did, from what the kernel reports: the log (WCE_LOG), progress
// lines on standard error in unattended runs, and the cause of a failed copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace wce::display {

// Reads WCE_LOG (appended to; "-" is standard error) and starts listening to the kernel. A log
// that cannot be opened, or is no regular file, is reported on stderr: exit status 2.
void StartInstallRecord();

// An install begins: the log's opening line (time, version, the entry, medium, device, settings).
void RecordInstallStart(std::u16string_view key, std::u16string_view name,
                        const std::string& version);
// A warning of the install's for the log ("warning SENTENCE"); stderr is the caller's.
void RecordWarning(const std::string& line);
// The install was stopped by a signal: the log's last line says so, with what (k / N files).
void RecordInterrupted(const std::string& what);

// The file counter the program shows (done, total), for progress lines; declared by the
// program's start-up.
void DeclareFileCounter(std::function<std::pair<int, int>()> counter);

// Progress lines on stderr: a line every few seconds once an install has run for a while.
void EnableProgressLines(bool enable);
// Looks at the clock during long work (a display's Poll), so that a line is due on time.
void ProgressTick();

// An outcome message appeared: the log gets its last line ("completed", or "failed" with the
// counts and the cause), a scripted run a summary on stderr, and the counts start again.
void RecordOutcome(int status);

// The device path and the system's error text of the failure the kernel last reported since
// the last outcome; a sentence saying that none was reported otherwise.
std::string CopyFailureCause();

// A device error code (GetLastError) in the words the causes above use for the host's errors.
std::string DeviceErrorWords(std::uint32_t code);

// A failure the program found itself (not a failed call the kernel reports): the log gets its
// error line, and the cause names the device path, its host path and why.
void RecordFailure(std::string_view action, std::u16string_view devicePath,
                   const std::string& hostPath, const std::string& why);
// A source folder left out by the program's rules: the log gets "skipped PATH".
void RecordSkipped(std::u16string_view devicePath);

// The host path a device path stands for ("" when none): resolved as far as its folders exist,
// the rest as spelt; asSpelt takes the last name as spelt even where another case of it exists.
std::string HostPathFor(std::u16string_view devicePath, bool asSpelt = false);

}  // namespace wce::display
