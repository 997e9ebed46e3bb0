#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/kernel/host/context.h"
#include "platform/kernel/host/host_ops.h"

namespace wce::kernel::host {
namespace {

// The number the generic syscall table gives getxattrat (Linux 6.13); older headers lack it.
#if defined(SYS_getxattrat)
constexpr long kGetXattrAt = SYS_getxattrat;
#elif defined(__x86_64__) || defined(__aarch64__) || (defined(__riscv) && __riscv_xlen == 64)
constexpr long kGetXattrAt = 464;
#else
constexpr long kGetXattrAt = -1;
#endif

ssize_t RealGetXattrAt(int d, const char* p, int f, const char* n, void* v, size_t s) {
    struct {
        std::uint64_t value;
        std::uint32_t size, flags;
    } args{reinterpret_cast<std::uintptr_t>(v), static_cast<std::uint32_t>(s), 0};
    if (kGetXattrAt < 0) {
        errno = ENOSYS;
        return -1;
    }
    return ::syscall(kGetXattrAt, d, p, f, n, &args, sizeof args);
}

// Where the C library's own call has the table's shape it is the entry itself; the rest are
// adapted here (variadic calls, other argument orders, flags fixed).
int RealOpenAt(int d, const char* p, int f, mode_t m) {
    return ::openat(d, p, f, m);
}
int RealIoctl(int fd, unsigned long r, void* a) {
    return ::ioctl(fd, r, a);
}
ssize_t RealCopyRange(int in, off_t* pos, int out, size_t n) {
    return ::copy_file_range(in, pos, out, nullptr, n, 0);
}
int RealSync() {
    ::sync();
    return 0;
}
int RealDup(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

const Ops kReal = {
    RealOpenAt,        ::close,         ::pread,     ::write,        ::fstatat,   ::getdents64,
    ::mkdirat,         ::unlinkat,      ::renameat2, ::fchmod,       ::lgetxattr, ::fgetxattr,
    RealGetXattrAt,    ::fsetxattr,     RealIoctl,   RealCopyRange,  ::syncfs,    RealSync,
    ::sync_file_range, std::realloc,    ::fstatfs,   ::readlinkat,   ::linkat,    RealDup,
    ::flock,           ::posix_fadvise, ::fsync,     ::fremovexattr, ::futimens,  ::fchown,
    ::fallocate,
};

}  // namespace

const Ops& RealOps() {
    return kReal;
}
Ops& Table() {
    return Ctx().Table();
}
void RestoreOps() {
    Ctx().RestoreOps();
}
void Layer(const Ops* over) {
    Ctx().Layer(over);
}
const Ops& Live() {
    const Ops* live = g_liveOps.load(std::memory_order_relaxed);
    return live != nullptr ? *live : Ctx().ops();
}

int OpenAt(int d, const char* p, int f, mode_t m) {
    return Live().openat(d, p, f | O_CLOEXEC, m);
}
// Data calls a signal interrupted are made again here, so no caller has to look for EINTR.
ssize_t PRead(int fd, void* b, size_t n, off_t pos) {
    ssize_t r;
    while ((r = Live().pread(fd, b, n, pos)) < 0 && errno == EINTR) {
    }
    return r;
}
ssize_t Write(int fd, const void* b, size_t n) {
    ssize_t r;
    while ((r = Live().write(fd, b, n)) < 0 && errno == EINTR) {
    }
    return r;
}
int FStat(int fd, struct stat* st) {
    return Live().fstatat(fd, "", st, AT_EMPTY_PATH);
}
ssize_t CopyFileRange(int in, off_t* pos, int out, size_t n) {
    ssize_t r;
    while ((r = Live().copy_file_range(in, pos, out, n)) < 0 && errno == EINTR) {
    }
    return r;
}
}  // namespace wce::kernel::host
