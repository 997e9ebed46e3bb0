// Win32-shaped failure reporting: the one place where a failure inside the kernel (result.h)
// becomes a device error code, at the edge where a Win32-shaped call returns.
#pragma once

#include "platform/kernel/host/result.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel {

DWORD Win32Of(const Error& e);
inline DWORD Win32Of(const Status& s) {
    return s.ok() ? ERROR_SUCCESS : Win32Of(s.error());
}

// Records err as the last error and returns FALSE, so failure paths read `return Fail(...)`.
inline BOOL Fail(DWORD err) {
    SetLastError(err);
    return FALSE;
}
inline BOOL Fail(const Error& e) {
    return Fail(Win32Of(e));
}
inline BOOL Fail(const Status& s) {
    return Fail(Win32Of(s));
}
// The same for calls whose failure value is not FALSE: `return FailWith(INVALID_HANDLE_VALUE, s)`.
template <class T, class Why>
T FailWith(T failed, const Why& why) {
    Fail(why);
    return failed;
}
// A failure the program relies on being told of: the activity listener hears what failed where
// (e.op, e.path), and it becomes the last error. FALSE.
BOOL Report(const Error& e);

}  // namespace wce::kernel
