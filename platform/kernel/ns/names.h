// Host names (bytes, UTF-8 as a rule) to device names (UTF-16) and back, exactly reversible:
// a byte that is not part of valid UTF-8 travels as the lone surrogate U+DC80..U+DCFF, and a
// character that a device name cannot hold (\ : * ? " < > |) as U+F000 plus its code. A host
// name that already holds one of those private-use characters has its bytes escaped, so the two
// forms never collide.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::names {

// Appends the device form of a host name; never fails.
void HostToDevice(std::string_view host, std::u16string& out);
// Appends the host form of one device name. A BadName failure for a character that no device
// name holds literally (reserved characters, "/", an unpaired surrogate outside U+DC80..U+DCFF).
Status DeviceToHost(std::u16string_view name, std::string& out);

}  // namespace wce::kernel::names
