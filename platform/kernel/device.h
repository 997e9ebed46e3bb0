// The device namespace: which host folders stand for the device and its installation medium.
#pragma once

#include <optional>
#include <string>

#include "platform/kernel/wintypes.h"

namespace wce::kernel {

struct DeviceConfig {
    std::string hostRoot;    // host folder standing for the device root "\"
    std::string hostMedium;  // host folder standing for "\<mediumName>"
    std::u16string mediumName = u"Storage Card";
    std::u16string exeName = u"SETUP.exe";  // device file name of the running program
    UINT codePage = 932;                    // the device's ANSI code page
    int verify = -1;                        // read-back: 0 off, 1 on, -1 where not in memory
};

// Replaces the active mapping (tests point it at temporary folders).
void ConfigureDevice(const DeviceConfig& config);
const DeviceConfig& CurrentDevice();
// ForgetHost drops all learnt of the host (knowledge.h) and the descriptors it holds open, so a
// medium can be unmounted: while the program waits for its user, and for tests that fake the host.
void ForgetHost();

// Reads WCE_ROOT, WCE_MEDIUM, WCE_CODEPAGE, WCE_VERIFY into out; false with the problem in words
// for a setting that cannot be taken (a missing folder, an unknown code page). Without WCE_ROOT:
// $XDG_DATA_HOME/wce-device, made on first use.
bool DeviceConfigFromEnvironment(const char* argv0, DeviceConfig& out, std::string& problem);

// Whether a host folder holds the catalogue under any case of its name, as the device finds it.
bool HoldsCatalogue(const std::string& hostFolder);

// HostPathOf ignores case; nullopt for a malformed or too long path, or one leaving the mapping.
std::optional<std::string> HostPathOf(const std::u16string& devicePath);

}  // namespace wce::kernel
