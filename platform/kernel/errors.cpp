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

DWORD FromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOTSUP:
            return ERROR_NOT_SUPPORTED;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EILSEQ:
            return ERROR_NO_UNICODE_TRANSLATION;
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
            return ERROR_NOT_READY;
        default:
            return ERROR_GEN_FAILURE;
    }
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
