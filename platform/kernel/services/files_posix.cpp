#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/kernel/activity.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/attributes.h"
#include "platform/kernel/services/batch.h"
#include "platform/kernel/services/copy.h"
#include "platform/kernel/services/handles.h"

namespace wce::kernel {
namespace {

struct FileObject : handles::Object {
    host::Fd fd;
    std::int64_t position = 0;
    ns::Entry entry;  // for the attribute word, which a query-only descriptor cannot read
};

// known: the entry's status from within the tick stands (the change goes through a descriptor
// checked against it, so an entry replaced meanwhile fails it with ESTALE).
Status SetAttributesOnce(LPCWSTR lpFileName, DWORD dwFileAttributes, bool known) {
    ns::Entry e;
    if (Status s = ns::Resolve(lpFileName, e, known ? ns::Want::Known : ns::Want::Existing); !s)
        return s;
    // A link is not written through: a copy onto its name replaces the link itself.
    if (e.IsLink()) return {};
    // Attributes already as asked change nothing (the common case: a plain file made plain).
    const DWORD wanted =
        dwFileAttributes & FILE_ATTRIBUTE_NORMAL ? 0 : dwFileAttributes & attrs::kSettable;
    if (DWORD now = 0; attrs::Read(e.where(), e.st, now) && (now & attrs::kSettable) == wanted)
        return {};
    Status s;
    if (S_ISREG(e.st.st_mode) && e.st.st_nlink > 1) s = copy::Detach(e);
    if (s) s = attrs::Write(e.where(), e.st, dwFileAttributes);
    return s;
}

}  // namespace
}  // namespace wce::kernel

using namespace wce::kernel;

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    ns::Entry e;
    if (lpFileName == nullptr) return FailWith(INVALID_FILE_ATTRIBUTES, ERROR_INVALID_PARAMETER);
    if (Status s = ns::Resolve(lpFileName, e, ns::Want::Known); !s)
        return FailWith(INVALID_FILE_ATTRIBUTES, s);
    DWORD a = 0;
    if (Status s = attrs::Read(e.where(), e.st, a); !s) return FailWith(INVALID_FILE_ATTRIBUTES, s);
    return a;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    if (lpFileName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Status s = SetAttributesOnce(lpFileName, dwFileAttributes, true);
    // The entry looked up was replaced before it could be changed: once more, looked up afresh.
    if (s.Is(ESTALE)) s = SetAttributesOnce(lpFileName, dwFileAttributes, false);
    return s ? TRUE : Fail(s);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, void* /*lpSecurityAttributes*/) {
    ns::Entry e;
    if (lpPathName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Status s = ns::Resolve(lpPathName, e);
    if (s && e.exists) s = Error{EEXIST};
    if (s) s = ns::MakeFolder(e);
    if (!s) return Report(s.At("create folder", lpPathName).error());
    if (Activity* a = g_activity) a->FolderCreated(lpPathName);
    return TRUE;
}

// FlushVolumeW flushes the path's filesystem and every other written since its last flush, then
// reads back what each batch holds; every batch ends here, whatever the outcome.
BOOL FlushVolumeW(LPCWSTR lpPathName) {
    ns::Entry e;
    host::Fd fd;
    if (lpPathName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Status s = ns::Resolve(lpPathName, e, ns::Want::Existing);
    if (s) s = ns::OpenResolved(e, fd, O_RDONLY | O_NONBLOCK);
    if (!s) return Fail(s);
    const dev_t dev = e.st.st_dev;
    std::vector<dev_t> devs = batch::Watched();
    if (std::find(devs.begin(), devs.end(), dev) == devs.end()) devs.insert(devs.begin(), dev);
    for (dev_t d : devs)
        if (s) s = batch::Flush(d, d == dev ? fd.get() : -1).At("flush", lpPathName);
    for (dev_t d : devs)
        if (s) s = batch::Check(d);
    // Reported first: a read-back's failure names a path its batch holds.
    const BOOL done = s ? TRUE : Report(s.error());
    batch::CloseAll();
    return done;
}

namespace {

constexpr char kSharedLocks[] = "/run/lock";

// A claim: the device folder held open since it was taken, and the lock that stands for it.
struct ClaimObject : handles::Object {
    host::Fd folder;
    host::Fd locks;  // the folder holding the lock file, or none where the folder itself is locked
    std::string name;
    host::Fd lock;
    ~ClaimObject() override {
        // Removed while still locked: whoever opened it meanwhile finds it gone and tries again.
        if (lock.valid() && locks.valid()) host::Live().unlinkat(locks.get(), name.c_str(), 0);
    }
};

// Only the device's owner, root, or whoever runs this install may hold its lock.
bool MayHold(uid_t uid, const struct stat& folder) {
    return uid == 0 || uid == folder.st_uid || uid == geteuid();
}

// TakeLock: the lock file for folder in locks, open, of a user who may hold it, and locked;
// a file another user left there is removed where this user may, else refused (EACCES).
Status TakeLock(ClaimObject& c, const struct stat& folder) {
    char name[80];
    std::snprintf(name, sizeof name, "wce-setup-%llx-%llx.lock",
                  static_cast<unsigned long long>(folder.st_dev),
                  static_cast<unsigned long long>(folder.st_ino));
    c.name = name;
    for (int attempt = 0; attempt < 8; ++attempt) {
        host::Fd fd(
            host::OpenAt(c.locks.get(), name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600));
        struct stat st {
        }, named{};
        if (!fd.valid() || host::FStat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_nlink != 1 || !MayHold(st.st_uid, folder)) {
            if (host::Live().unlinkat(c.locks.get(), name, 0) != 0) return Error{EACCES};
            continue;
        }
        // Made by root: given to the device's owner, who may then claim the device too.
        if (st.st_uid == 0 && folder.st_uid != 0 && geteuid() == 0)
            host::Live().fchown(fd.get(), folder.st_uid, static_cast<gid_t>(-1));
        if (host::Live().flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return HostError("flock");
        // Removed by the holder that just let go: this descriptor locks nothing anyone sees.
        if (host::Live().fstatat(c.locks.get(), name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_ino != st.st_ino || named.st_dev != st.st_dev)
            continue;
        c.lock = std::move(fd);
        return {};
    }
    return Error{EWOULDBLOCK};
}

// Claim: a lock outside the card that only its owner or root can take (the shared lock folder,
// else this user's runtime folder); the folder itself only where neither exists.
Status Claim(ClaimObject& c) {
    struct stat folder {};
    if (host::FStat(c.folder.get(), &folder) != 0) return HostError("fstat");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const char* dir : {kSharedLocks, runtime}) {
        if (dir == nullptr || dir[0] != '/') continue;
        c.locks.reset(host::OpenAt(AT_FDCWD, dir, O_PATH | O_DIRECTORY));
        if (!c.locks.valid()) continue;
        const Status s = TakeLock(c, folder);
        if (s || !s.Is(EACCES)) return s;
    }
    c.locks.reset();
    if (host::Live().flock(c.folder.get(), LOCK_EX | LOCK_NB) == 0) return {};
    const Error e = HostError("flock");
    return e.err == ENOLCK || e.err == EOPNOTSUPP || e.err == EINVAL ? Status() : Status(e);
}

}  // namespace

HANDLE ClaimFolderW(LPCWSTR lpPathName) {
    ns::Entry e;
    auto claim = std::make_unique<ClaimObject>();
    if (lpPathName == nullptr) return FailWith(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    Status s = ns::Resolve(lpPathName, e, ns::Want::Existing);
    if (s) s = ns::OpenResolved(e, claim->folder, O_RDONLY | O_DIRECTORY);
    if (!s) return FailWith(INVALID_HANDLE_VALUE, s);
    if (s = Claim(*claim); !s) {
        Report(Error(s.error()).At("claim", lpPathName));
        if (s.Is(EWOULDBLOCK)) SetLastError(ERROR_LOCK_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return handles::Add(std::move(claim));
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   void* /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    const bool query = dwDesiredAccess == 0;
    if ((!query && dwDesiredAccess != GENERIC_READ) || dwCreationDisposition != OPEN_EXISTING ||
        lpFileName == nullptr)
        return FailWith(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    auto f = std::make_unique<FileObject>();
    ns::Entry& e = f->entry;
    Status s = ns::Resolve(lpFileName, e, ns::Want::Existing);
    // Opened as looked up, its status read from the open file.
    if (s) s = ns::OpenResolved(e, f->fd, query ? O_PATH : O_RDONLY | O_NONBLOCK);
    if (!s) return FailWith(INVALID_HANDLE_VALUE, s);
    if (S_ISDIR(e.st.st_mode) && !(query && (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)))
        return FailWith(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
    if (!query && (dwFlagsAndAttributes & FILE_FLAG_NO_BUFFERING))
        batch::ReadPastCaches(f->fd.get(), e.st.st_dev, e.where().dirfd);
    return handles::Add(std::move(f));
}

DWORD GetFileSize(HANDLE hFile, DWORD* lpFileSizeHigh) {
    auto* f = handles::Get<FileObject>(hFile);
    struct stat st {};
    if (f == nullptr) return FailWith(INVALID_FILE_SIZE, ERROR_INVALID_HANDLE);
    if (host::FStat(f->fd.get(), &st) != 0) return FailWith(INVALID_FILE_SIZE, HostError("fstat"));
    auto size = static_cast<std::uint64_t>(st.st_size);
    if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
    auto* f = handles::Get<FileObject>(hFile);
    if (f == nullptr) return FailWith(INVALID_SET_FILE_POINTER, ERROR_INVALID_HANDLE);
    // With a high part, the low one is unsigned.
    const std::int64_t distance =
        lpDistanceToMoveHigh == nullptr
            ? lDistanceToMove
            : std::int64_t{*lpDistanceToMoveHigh} << 32 | std::uint32_t(lDistanceToMove);
    std::int64_t base = 0;
    struct stat st {};
    if (dwMoveMethod == 1) base = f->position;
    if (dwMoveMethod == 2) base = host::FStat(f->fd.get(), &st) == 0 ? st.st_size : 0;
    if (dwMoveMethod > 2) return FailWith(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
    if (base + distance < 0) return FailWith(INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK);
    f->position = base + distance;
    if (lpDistanceToMoveHigh != nullptr)
        *lpDistanceToMoveHigh = static_cast<LONG>(f->position >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(f->position);
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              void* /*lpOverlapped*/) {
    auto* f = handles::Get<FileObject>(hFile);
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (lpBuffer == nullptr && nNumberOfBytesToRead > 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    auto* out = static_cast<char*>(lpBuffer);
    while (done < nNumberOfBytesToRead) {
        ssize_t n = host::PRead(f->fd.get(), out + done, nNumberOfBytesToRead - done, f->position);
        if (n < 0) return Fail(HostError("pread"));
        if (n == 0) break;
        done += static_cast<DWORD>(n);
        f->position += n;
    }
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
    auto* f = handles::Get<FileObject>(hFile);
    if (f == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (lpFileInformation == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct stat st {};
    if (host::FStat(f->fd.get(), &st) != 0) return Fail(HostError("fstat"));
    DWORD attributes = 0;
    if (Status s = attrs::Read(f->entry.where(), st, attributes); !s) return Fail(s);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const auto index = static_cast<std::uint64_t>(st.st_ino);
    *lpFileInformation = {attributes,
                          attrs::FileTimeOf(st.st_ctim),
                          attrs::FileTimeOf(st.st_atim),
                          attrs::FileTimeOf(st.st_mtim),
                          static_cast<DWORD>(st.st_dev ^ (st.st_dev >> 32)),
                          static_cast<DWORD>(size >> 32),
                          static_cast<DWORD>(size),
                          static_cast<DWORD>(st.st_nlink),
                          static_cast<DWORD>(index >> 32),
                          static_cast<DWORD>(index),
                          static_cast<DWORD>(index)};
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    if (handles::Get<FileObject>(hObject) == nullptr &&
        handles::Get<ClaimObject>(hObject) == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    handles::Remove(hObject);
    return TRUE;
}
