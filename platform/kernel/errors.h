// Win32-shaped failure reporting: where a kernel failure (result.h) becomes a device error code.
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
// Report tells the activity listener what failed where (e.op, e.path), sets the last error; FALSE.
BOOL Report(const Error& e);

}  // namespace wce::kernel
