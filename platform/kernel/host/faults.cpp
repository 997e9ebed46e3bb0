#include "platform/kernel/host/faults.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <utility>

#include "platform/kernel/host/host_ops.h"

namespace wce::kernel {
namespace {

constexpr auto kOps = static_cast<size_t>(HostOp::Count_);

struct Fault {
    int remaining = 0;  // calls left before the failing one; 0 = none armed
    int err = 0;
    bool persistent = false;
    bool firing = false;
};

struct State {
    std::array<std::atomic<int>, kOps> calls{};
    std::array<std::atomic<int>, kOps> fired{};
    std::array<Fault, kOps> faults{};
    std::array<std::function<bool(const char*)>, kOps> before{};
};

State& Faults() {
    static State s;
    return s;
}

// Counts a call of op; true (errno set) where it is the one to fail.
bool Fails(HostOp op, const char* path = nullptr) {
    State& s = Faults();
    const auto i = static_cast<size_t>(op);
    // The hook may make calls of its own: it is taken out while it runs.
    if (auto hook = std::exchange(s.before[i], nullptr); hook && !hook(path))
        s.before[i] = std::move(hook);
    s.calls[i].fetch_add(1, std::memory_order_relaxed);
    Fault& f = s.faults[i];
    if (!f.firing) {
        if (f.remaining == 0 || --f.remaining > 0) return false;
        f.firing = f.persistent;
    }
    s.fired[i].fetch_add(1, std::memory_order_relaxed);
    errno = f.err;
    return true;
}

const host::Ops& Below() {
    return host::Table();
}

// Each entry of the host's table, failed where a fault is due; the operations group the calls as
// a test thinks of them (every open is an Open, every attribute read a GetXattr).
const host::Ops kFaulting = {
    [](int d, const char* p, int f, mode_t m) {
        return Fails(HostOp::Open, p) ? -1 : Below().openat(d, p, f, m);
    },
    [](int fd) { return Fails(HostOp::Close) ? (Below().close(fd), -1) : Below().close(fd); },
    [](int fd, void* b, size_t n, off_t pos) -> ssize_t {
        return Fails(HostOp::Read) ? -1 : Below().pread(fd, b, n, pos);
    },
    [](int fd, const void* b, size_t n) -> ssize_t {
        return Fails(HostOp::Write) ? -1 : Below().write(fd, b, n);
    },
    [](int d, const char* p, struct stat* st, int f) {
        return Fails(HostOp::Stat) ? -1 : Below().fstatat(d, p, st, f);
    },
    [](int fd, void* b, size_t n) -> ssize_t {
        return Fails(HostOp::ReadDir) ? -1 : Below().getdents(fd, b, n);
    },
    [](int d, const char* p, mode_t m) {
        return Fails(HostOp::Mkdir) ? -1 : Below().mkdirat(d, p, m);
    },
    [](int d, const char* p, int f) {
        return Fails(HostOp::Unlink) ? -1 : Below().unlinkat(d, p, f);
    },
    [](int od, const char* op, int nd, const char* np, unsigned f) {
        return Fails(HostOp::Rename) ? -1 : Below().renameat2(od, op, nd, np, f);
    },
    [](int fd, mode_t m) { return Fails(HostOp::Chmod) ? -1 : Below().fchmod(fd, m); },
    [](const char* p, const char* n, void* v, size_t s) -> ssize_t {
        return Fails(HostOp::GetXattr, p) ? -1 : Below().lgetxattr(p, n, v, s);
    },
    [](int fd, const char* n, void* v, size_t s) -> ssize_t {
        return Fails(HostOp::GetXattr) ? -1 : Below().fgetxattr(fd, n, v, s);
    },
    [](int d, const char* p, int f, const char* n, void* v, size_t s) -> ssize_t {
        return Fails(HostOp::GetXattr, p) ? -1 : Below().getxattrat(d, p, f, n, v, s);
    },
    [](int fd, const char* n, const void* v, size_t s, int f) {
        return Fails(HostOp::SetXattr) ? -1 : Below().fsetxattr(fd, n, v, s, f);
    },
    [](int fd, unsigned long r, void* a) {
        return Fails(HostOp::Ioctl) ? -1 : Below().ioctl(fd, r, a);
    },
    [](int in, off_t* pos, int out, size_t n) -> ssize_t {
        return Fails(HostOp::CopyRange) ? -1 : Below().copy_file_range(in, pos, out, n);
    },
    [](int fd) { return Fails(HostOp::SyncFs) ? -1 : Below().syncfs(fd); },
    [] { return Fails(HostOp::SyncFs) ? -1 : Below().sync(); },
    [](int fd, off_t pos, off_t n, unsigned f) {
        return Fails(HostOp::SyncRange) ? -1 : Below().sync_file_range(fd, pos, n, f);
    },
    [](void* p, size_t n) { return Fails(HostOp::Realloc) ? nullptr : Below().realloc(p, n); },
    [](int fd, struct statfs* st) { return Fails(HostOp::StatFs) ? -1 : Below().fstatfs(fd, st); },
    [](int d, const char* p, char* b, size_t n) -> ssize_t {
        return Fails(HostOp::ReadLink, p) ? -1 : Below().readlinkat(d, p, b, n);
    },
    [](int od, const char* op, int nd, const char* np, int f) {
        return Fails(HostOp::Link) ? -1 : Below().linkat(od, op, nd, np, f);
    },
    [](int fd) { return Fails(HostOp::Open) ? -1 : Below().dup(fd); },
    [](int fd, int op) { return Below().flock(fd, op); },
    [](int fd, off_t pos, off_t n, int advice) {
        Fails(HostOp::Advise);
        return Below().fadvise(fd, pos, n, advice);
    },
    [](int fd) { return Fails(HostOp::SyncFs) ? -1 : Below().fsync(fd); },
    [](int fd, const char* n) {
        return Fails(HostOp::SetXattr) ? -1 : Below().fremovexattr(fd, n);
    },
    [](int fd, const struct timespec t[2]) {
        return Fails(HostOp::Chmod) ? -1 : Below().futimens(fd, t);
    },
    [](int fd, uid_t u, gid_t g) { return Fails(HostOp::Chmod) ? -1 : Below().fchown(fd, u, g); },
    [](int fd, int mode, off_t pos, off_t n) { return Below().fallocate(fd, mode, pos, n); },
};

}  // namespace

void InjectFault(HostOp op, int nth, int err, bool persistent) {
    host::Layer(&kFaulting);
    Faults().faults[static_cast<size_t>(op)] = Fault{nth < 1 ? 1 : nth, err, persistent, false};
}

void ClearFaults() {
    State& s = Faults();
    for (auto& c : s.calls) c.store(0, std::memory_order_relaxed);
    for (auto& c : s.fired) c.store(0, std::memory_order_relaxed);
    s.faults.fill(Fault{});
    for (auto& h : s.before) h = nullptr;
    host::Layer(&kFaulting);
}

void BeforeCall(HostOp op, std::function<bool(const char* path)> hook) {
    host::Layer(&kFaulting);
    Faults().before[static_cast<size_t>(op)] = std::move(hook);
}

int HostCallCount(HostOp op) {
    return Faults().calls[static_cast<size_t>(op)].load(std::memory_order_relaxed);
}

int FaultsFired(HostOp op) {
    return Faults().fired[static_cast<size_t>(op)].load(std::memory_order_relaxed);
}

}  // namespace wce::kernel
