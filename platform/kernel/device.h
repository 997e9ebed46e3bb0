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
// Forgets everything learnt about the host and tracked of it (knowledge.h):
// for tests that fake or change the host behind the kernel's back.
void ForgetHost();

// Reads WCE_ROOT, WCE_MEDIUM and WCE_CODEPAGE. A setting that names a missing folder or an
// unknown code page is reported on stderr and the process exits with status 2. Without WCE_ROOT
// the device is $XDG_DATA_HOME/wce-device (created like a fresh device on first use).
DeviceConfig DeviceConfigFromEnvironment(const char* argv0);

// Host path that a device path resolves to (case-insensitive lookup of existing components);
// nullopt when the path is malformed, too long, or leaves the mapped folders.
std::optional<std::string> HostPathOf(const std::u16string& devicePath);

}  // namespace wce::kernel
