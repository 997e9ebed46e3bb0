// Folder listings, opens checked against what a look-up saw, and the check that the root stayed.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/mapping.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::ns {

namespace {
bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
           (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}
}  // namespace

Status OpenChecked(const Location& at, const struct stat& want, int flags, host::Fd& fd) {
    const int dirfd = at.dirfd;
    const char* name = at.name;
    flags = (flags & ~O_NOFOLLOW) | O_NONBLOCK | O_NOCTTY;
    host::Fd path(host::OpenAt(dirfd, name, O_PATH | O_NOFOLLOW));
    struct stat st {};
    if (!path.valid() || host::FStat(path.get(), &st) != 0)
        return HostError(path.valid() ? "fstat" : "openat");
    if (!SameEntry(st, want)) return Error{ESTALE};
    // Pipes and devices are never opened for real: opening one can act on something.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return Error{EACCES};
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", path.get());
    fd.reset(host::OpenAt(AT_FDCWD, proc, flags));
    if (fd.valid()) return {};
    if (const Error e = HostError("openat"); e.err != ENOENT) return e;
    // Without /proc: opened by name once more (no link followed), and compared again.
    fd.reset(host::OpenAt(dirfd, name, flags | O_NOFOLLOW));
    if (!fd.valid() || host::FStat(fd.get(), &st) != 0)
        return HostError(fd.valid() ? "fstat" : "openat");
    if (SameEntry(st, want)) return {};
    fd.reset();
    return Error{ESTALE};
}

Status RootUnchanged() {
    const Mapping& m = g_mapping;
    struct stat held {
    }, now{};
    Entry root;
    if (Status s = Resolve(u"\\", root); !s) return s;
    held = root.st;
    if (host::Live().fstatat(AT_FDCWD, m.rootHost.c_str(), &now, 0) != 0 || !SameEntry(held, now))
        return Status(Error{ESTALE}).At("read back", u"\\");
    return {};
}

Status ReadListing(int dirfd, DirListing& out) {
    host::Fd fd(host::OpenAt(dirfd, ".", O_RDONLY | O_DIRECTORY));
    if (!fd.valid()) return HostError("openat", Kind::Folder);
    out.names.clear();
    out.entries.clear();
    thread_local std::unique_ptr<char[]> buf(new char[64 * 1024]);
    for (;;) {
        ssize_t n = host::Live().getdents(fd.get(), buf.get(), 64 * 1024);
        if (n < 0) return HostError("getdents64", Kind::Folder);
        if (n == 0) break;
        for (ssize_t pos = 0; pos < n;) {
            auto* d = reinterpret_cast<dirent64*>(buf.get() + pos);
            pos += d->d_reclen;
            std::string_view nm(d->d_name);
            if (nm == "." || nm == "..") continue;
            out.entries.push_back({static_cast<uint32_t>(out.names.size()),
                                   static_cast<uint16_t>(nm.size()), d->d_type});
            out.names += nm;
        }
    }
    std::sort(out.entries.begin(), out.entries.end(),
              [&](const auto& a, const auto& b) { return out.name(a) < out.name(b); });
    return {};
}

}  // namespace wce::kernel::ns
