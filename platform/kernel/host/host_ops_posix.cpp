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

int RealOpenAt2(int d, const char* p, int f, unsigned long long resolve) {
#ifdef SYS_openat2
    struct {
        std::uint64_t flags, mode, resolve;
    } how{static_cast<std::uint64_t>(f), 0, resolve};
    return static_cast<int>(::syscall(SYS_openat2, d, p, &how, sizeof how));
#else
    errno = ENOSYS;
    return -1;
#endif
}

const Ops kReal = {
    [](int d, const char* p, int f, mode_t m) { return ::openat(d, p, f, m); },
    [](int fd) { return ::close(fd); },
    [](int fd, void* b, size_t n, off_t pos) { return ::pread(fd, b, n, pos); },
    [](int fd, const void* b, size_t n) { return ::write(fd, b, n); },
    [](int d, const char* p, struct stat* st, int f) { return ::fstatat(d, p, st, f); },
    [](int fd, void* b, size_t n) { return static_cast<ssize_t>(::getdents64(fd, b, n)); },
    [](int d, const char* p, mode_t m) { return ::mkdirat(d, p, m); },
    [](int d, const char* p, int f) { return ::unlinkat(d, p, f); },
    [](int od, const char* op, int nd, const char* np, unsigned f) {
        return ::renameat2(od, op, nd, np, f);
    },
    [](int fd, mode_t m) { return ::fchmod(fd, m); },
    [](const char* p, const char* n, void* v, size_t s) { return ::lgetxattr(p, n, v, s); },
    [](int fd, const char* n, void* v, size_t s) { return ::fgetxattr(fd, n, v, s); },
    RealGetXattrAt,
    [](int fd, const char* n, const void* v, size_t s, int f) {
        return ::fsetxattr(fd, n, v, s, f);
    },
    [](int fd, unsigned long r, void* a) { return ::ioctl(fd, r, a); },
    [](int in, off_t* pos, int out, size_t n) {
        return ::copy_file_range(in, pos, out, nullptr, n, 0);
    },
    [](int fd) { return ::syncfs(fd); },
    [] {
        ::sync();
        return 0;
    },
    [](int fd, off_t pos, off_t n, unsigned f) { return ::sync_file_range(fd, pos, n, f); },
    [](void* p, size_t n) { return std::realloc(p, n); },
    [](const char* p, struct statfs* st) { return ::statfs(p, st); },
    [](const char* p, char* b, size_t n) { return ::readlink(p, b, n); },
    [](int od, const char* op, int nd, const char* np, int f) {
        return ::linkat(od, op, nd, np, f);
    },
    [](int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); },
    RealOpenAt2,
    [](int fd, int op) { return ::flock(fd, op); },
    [](int fd, off_t pos, off_t n, int advice) { return ::posix_fadvise(fd, pos, n, advice); },
    [](int fd) { return ::fsync(fd); },
    [](int fd, const char* n) { return ::fremovexattr(fd, n); },
    [](int fd, const struct timespec t[2]) { return ::futimens(fd, t); },
    [](int fd, uid_t u, gid_t g) { return ::fchown(fd, u, g); },
    [](int fd, int mode, off_t pos, off_t n) { return ::fallocate(fd, mode, pos, n); },
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
    return Ctx().ops();
}

int OpenAt(int d, const char* p, int f, mode_t m) {
    return Ctx().ops().openat(d, p, f | O_CLOEXEC, m);
}
// Data calls a signal interrupted are made again here, so no caller has to look for EINTR.
template <class Call>
ssize_t Restarted(Call call) {
    for (;;) {
        const ssize_t n = call();
        if (n >= 0 || errno != EINTR) return n;
    }
}

ssize_t PRead(int fd, void* b, size_t n, off_t pos) {
    return Restarted([&] { return Ctx().ops().pread(fd, b, n, pos); });
}
ssize_t Write(int fd, const void* b, size_t n) {
    return Restarted([&] { return Ctx().ops().write(fd, b, n); });
}
int FStat(int fd, struct stat* st) {
    return Ctx().ops().fstatat(fd, "", st, AT_EMPTY_PATH);
}
ssize_t CopyFileRange(int in, off_t* pos, int out, size_t n) {
    return Restarted([&] { return Ctx().ops().copy_file_range(in, pos, out, n); });
}
int OpenAt2(int d, const char* p, int f, unsigned long long resolve) {
    return Ctx().ops().openat2(d, p, f | O_CLOEXEC, resolve);
}

}  // namespace wce::kernel::host
