// Win32-shaped failure reporting inside the kernel services.
#pragma once

#include "platform/kernel/wintypes.h"

namespace wce::kernel {

// The one place that turns a host errno into a device error code.
DWORD Win32ErrorFromErrno(int err);

// Records err as the last error and returns FALSE, so failure paths read `return Fail(...)`.
inline BOOL Fail(DWORD err) {
    SetLastError(err);
    return FALSE;
}
BOOL FailErrno(int err);

}  // namespace wce::kernel
