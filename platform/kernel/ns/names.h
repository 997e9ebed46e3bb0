// Host names (bytes) to device names (UTF-16) and back, reversibly: a non-UTF-8 byte as U+DC80..FF,
// a reserved char (\ : * ? " < > |) as U+F000 + code; host names holding those get escaped.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::names {

// Appends the device form of a host name; never fails.
void HostToDevice(std::string_view host, std::u16string& out);
// DeviceToHost appends the host form; BadName for a reserved char, "/" or an unpaired surrogate
// outside U+DC80..U+DCFF.
Status DeviceToHost(std::u16string_view name, std::string& out);

}  // namespace wce::kernel::names
