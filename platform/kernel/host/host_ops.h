// The host call table (Live()) every kernel file access goes through once the device is taken, so
// tests can fake a host or layer faults over it. Outside it: getcwd and realpath, which take the
// user's settings before that, and clock_gettime, iconv and free; no test fails them.
#pragma once

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cstddef>

namespace wce::kernel::host {

struct Ops {
    int (*openat)(int dirfd, const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*pread)(int fd, void* buf, size_t n, off_t pos);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    int (*fstatat)(int dirfd, const char* path, struct stat* st, int flags);
    ssize_t (*getdents)(int fd, void* buf, size_t n);
    int (*mkdirat)(int dirfd, const char* path, mode_t mode);
    int (*unlinkat)(int dirfd, const char* path, int flags);
    int (*renameat2)(int olddir, const char* oldpath, int newdir, const char* newpath,
                     unsigned flags);
    int (*fchmod)(int fd, mode_t mode);
    ssize_t (*lgetxattr)(const char* path, const char* name, void* value, size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, size_t size);
    // flags: AT_SYMLINK_NOFOLLOW; ENOSYS where the running kernel lacks the call.
    ssize_t (*getxattrat)(int dirfd, const char* path, int flags, const char* name, void* value,
                          size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    // From *inPos of in (advanced), at out's own position.
    ssize_t (*copy_file_range)(int in, off_t* inPos, int out, size_t n);
    int (*syncfs)(int fd);
    int (*sync)();  // every filesystem, where a filesystem's own flush does not reach it; always 0
    int (*sync_file_range)(int fd, off_t pos, off_t n, unsigned flags);
    void* (*realloc)(void* p, size_t n);
    int (*fstatfs)(int fd, struct statfs* st);
    ssize_t (*readlinkat)(int dirfd, const char* path, char* buf, size_t n);
    int (*linkat)(int olddir, const char* oldpath, int newdir, const char* newpath, int flags);
    int (*dup)(int fd);
    int (*flock)(int fd, int op);
    int (*fadvise)(int fd, off_t pos, off_t n, int advice);  // 0 or an error number, never -1
    int (*fsync)(int fd);
    int (*fremovexattr)(int fd, const char* name);
    int (*futimens)(int fd, const struct timespec times[2]);
    int (*fchown)(int fd, uid_t uid, gid_t gid);
    int (*fallocate)(int fd, int mode, off_t pos, off_t n);
};

// The host's own calls.
const Ops& RealOps();
// Table(): the host's table, held by the context (context.h); tests overwrite, then RestoreOps().
Ops& Table();
void RestoreOps();
// Layer sends every call through over, whose entries call Table() themselves; nullptr removes it.
void Layer(const Ops* over);
// The table every call of the kernel goes through (the layer where one is put, else Table()).
const Ops& Live();

// OpenAt and the data calls set close-on-exec and retry EINTR, so no caller has to look for it.
int OpenAt(int dirfd, const char* path, int flags, mode_t mode = 0);
ssize_t PRead(int fd, void* buf, size_t n, off_t pos);
ssize_t Write(int fd, const void* buf, size_t n);
int FStat(int fd, struct stat* st);
ssize_t CopyFileRange(int in, off_t* inPos, int out, size_t n);

// Closes a descriptor when it leaves scope (errors of close are only reported where it matters).
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) Live().close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

}  // namespace wce::kernel::host
