#include "platform/kernel/errors.h"

#include <cerrno>

#include "platform/kernel/activity.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

namespace wce::kernel {
namespace {

// Where an errno means something else than it does of the entry itself; err 0: any errno.
struct Case {
    Kind kind;
    int err;
    DWORD code;
};
constexpr Case kCases[] = {
    {Kind::Folder, ENOENT, ERROR_PATH_NOT_FOUND},  // a folder on the way is missing
    {Kind::Folder, ENOTDIR, ERROR_PATH_NOT_FOUND},
    {Kind::Stale, 0, ERROR_PATH_NOT_FOUND},  // gone again when looked up afresh
    {Kind::BadName, ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {Kind::BadName, 0, ERROR_INVALID_NAME},
    {Kind::Taken, 0, ERROR_FILE_EXISTS},           // CopyFileW's "fail if it exists"
    {Kind::SameFile, 0, ERROR_SHARING_VIOLATION},  // the file is open as the source
    {Kind::Differs, 0, ERROR_CRC},
};

// What each errno means of the entry itself.
constexpr struct {
    int err;
    DWORD code;
} kErrnos[] = {{ENOENT, ERROR_FILE_NOT_FOUND},
               {ENOTDIR, ERROR_PATH_NOT_FOUND},
               {EACCES, ERROR_ACCESS_DENIED},
               {EPERM, ERROR_ACCESS_DENIED},
               {EISDIR, ERROR_ACCESS_DENIED},
               {EROFS, ERROR_WRITE_PROTECT},
               {EEXIST, ERROR_ALREADY_EXISTS},
               {ENOSPC, ERROR_DISK_FULL},
               {EDQUOT, ERROR_DISK_FULL},
               {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
               {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
               {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
               {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
               {EBUSY, ERROR_SHARING_VIOLATION},
               {ETXTBSY, ERROR_SHARING_VIOLATION},
               {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
               {EINVAL, ERROR_INVALID_PARAMETER},
               {EBADF, ERROR_INVALID_HANDLE},
               {ENOTSUP, ERROR_NOT_SUPPORTED},
               {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
               {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
               {ENODEV, ERROR_NOT_READY},
               {ENXIO, ERROR_NOT_READY},
               {ENOMEDIUM, ERROR_NOT_READY}};

DWORD FromErrno(int err) {
    if (err == 0) return ERROR_SUCCESS;
    for (const auto& e : kErrnos)
        if (e.err == err) return e.code;
    return ERROR_GEN_FAILURE;
}

}  // namespace

DWORD Win32Of(const Error& e) {
    for (const Case& c : kCases)
        if (c.kind == e.kind && (c.err == 0 || c.err == e.err)) return c.code;
    return FromErrno(e.err);
}

BOOL Report(const Error& e) {
    ReportFailure({e.op != nullptr ? e.op : "", e.path, e.err, e.kind == Kind::Differs});
    return Fail(e);
}

}  // namespace wce::kernel
