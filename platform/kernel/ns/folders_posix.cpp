// Host folders reached without following links, so a folder swapped for a link is never followed.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/namespace_internal.h"

namespace wce::kernel::ns {
namespace {

bool Within(std::string_view path, std::string_view base) {
    if (base.empty()) return false;
    if (base == "/") return true;
    return path.substr(0, base.size()) == base &&
           (path.size() == base.size() || path[base.size()] == '/');
}

// The mapped folder dirHost lies in, as configured or resolved: the longest that holds it.
std::string_view BaseOf(std::string_view dirHost) {
    const Mapping& m = Mapped();
    std::string_view base;
    for (const std::string* b : {&m.rootHost, &m.mediumHost, &m.rootReal, &m.mediumReal})
        if (b->size() > base.size() && Within(dirHost, *b)) base = *b;
    return base;
}

// OpenBeneath: openat2 RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where offered, else step by step.
Result<host::Fd> OpenBeneath(int base, const std::string& rel, int flags) {
    if (!KnownFolders().noOpenAt2) {
        host::Fd fd(host::OpenAt2(base, rel.c_str(), flags | O_DIRECTORY,
                                  RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS));
        if (fd.valid()) return fd;
        const Error e = HostError(Kind::Folder);
        if (e.err != ENOSYS && e.err != EPERM && e.err != E2BIG) return e;
        KnownFolders().noOpenAt2 = true;
    }
    const size_t last = rel.rfind('/');
    host::Fd cur(host::Live().dup(base));
    if (!cur.valid()) return HostError(Kind::Folder);
    for (size_t i = 0; last != std::string::npos && i <= last;) {
        const size_t end = rel.find('/', i);
        const std::string step = rel.substr(i, end - i);
        i = end + 1;
        if (step == "..") return Error{EXDEV, Kind::Folder};
        host::Fd next(host::OpenAt(cur.get(), step.c_str(), O_PATH | O_NOFOLLOW));
        struct stat st {};
        if (!next.valid() || host::FStat(next.get(), &st) != 0) return HostError(Kind::Folder);
        if (!S_ISDIR(st.st_mode)) return Error{S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR, Kind::Folder};
        cur = std::move(next);
    }
    const std::string leaf = last == std::string::npos ? rel : rel.substr(last + 1);
    if (leaf == "..") return Error{EXDEV, Kind::Folder};
    host::Fd fd(host::OpenAt(cur.get(), leaf.c_str(), flags | O_DIRECTORY | O_NOFOLLOW));
    if (!fd.valid()) return HostError(Kind::Folder);
    return fd;
}

}  // namespace

Status Canonical(const std::string& in, std::string& out) {
    std::string rest = in;
    out.clear();
    size_t i = 0;
    int links = 0;
    char buf[PATH_MAX];
    while (i < rest.size()) {
        if (rest[i] == '/') {
            ++i;
            continue;
        }
        size_t end = std::min(rest.find('/', i), rest.size());
        std::string_view comp(rest.data() + i, end - i);
        i = end;
        if (comp == ".") continue;
        if (comp == "..") {
            out.resize(out.rfind('/') == std::string::npos ? 0 : out.rfind('/'));
            continue;
        }
        std::string cand = out + "/" + std::string(comp);
        struct stat st {};
        if (host::Live().fstatat(AT_FDCWD, cand.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return HostError();
        if (!S_ISLNK(st.st_mode)) {
            out = std::move(cand);
            continue;
        }
        if (++links > 40) return Error{ELOOP};
        ssize_t n = host::Live().readlink(cand.c_str(), buf, sizeof buf);
        if (n < 0) return HostError();
        std::string target(buf, static_cast<size_t>(n));
        rest = target + "/" + rest.substr(i);
        i = 0;
        if (!target.empty() && target[0] == '/') out.clear();
    }
    if (out.empty()) out.assign(1, '/');
    return {};
}

Result<host::Fd> OpenConfined(std::string_view dirHost, int flags) {
    auto& m = KnownFolders();
    const std::string_view base = BaseOf(dirHost);
    if (base.empty()) return Error{EACCES};
    Folders::Base* b = nullptr;
    for (Folders::Base& h : m.bases)
        if (h.fd.valid() && h.host == base) b = &h;
    if (b == nullptr) {
        // The mapped folder itself is the user's setting, links and all.
        host::Fd fd(host::OpenAt(AT_FDCWD, std::string(base).c_str(), O_PATH | O_DIRECTORY));
        if (!fd.valid()) return HostError(Kind::Folder);
        b = &m.bases[m.basesNext++ % m.bases.size()];
        b->host.assign(base);
        b->fd = std::move(fd);
    }
    if (dirHost.size() > base.size())
        return OpenBeneath(b->fd.get(), std::string(dirHost.substr(base.size() + 1)), flags);
    host::Fd fd(host::OpenAt(b->fd.get(), ".", flags | O_DIRECTORY));
    if (!fd.valid()) return HostError(Kind::Folder);
    return fd;
}

Status Confine(HostEntry& e) {
    if (e.dirfd != AT_FDCWD || e.nameOffset == 0) return {};
    // lastConfined is kept for one tick: a copying walk fills one folder file after file.
    Folders::Held& last = KnownFolders().lastConfined;
    if (last.fd == nullptr || !fsinfo::Fresh(last.opened, fsinfo::Tick()) || last.host != e.dir()) {
        Result<host::Fd> fd = OpenConfined(e.dir(), O_PATH);
        if (!fd) {
            // A folder on the way swapped for a link (or gone) since it was looked up.
            const Error& err = fd.error();
            return err.err == ELOOP || err.err == EXDEV ? Error{EACCES} : err;
        }
        last.host.assign(e.dir());
        last.fd = std::make_shared<host::Fd>(fd.Take());
        last.opened.at = fsinfo::Now();
    }
    e.dirHold = last.fd;
    e.dirfd = last.fd->get();
    return {};
}

namespace {
bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
           (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}
}  // namespace

Result<host::Fd> OpenChecked(int dirfd, const char* name, const struct stat& want, int flags) {
    flags = (flags & ~O_NOFOLLOW) | O_NONBLOCK | O_NOCTTY;
    host::Fd path(host::OpenAt(dirfd, name, O_PATH | O_NOFOLLOW));
    struct stat st {};
    if (!path.valid() || host::FStat(path.get(), &st) != 0) return HostError();
    if (!SameEntry(st, want)) return Error{ESTALE};
    // Pipes and devices are never opened for real: opening one can act on something.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return Error{EACCES};
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", path.get());
    host::Fd fd(host::OpenAt(AT_FDCWD, proc, flags));
    if (fd.valid()) return fd;
    if (const Error e = HostError(); e.err != ENOENT) return e;
    // Without /proc: opened by name once more (no link followed), and compared again.
    fd.reset(host::OpenAt(dirfd, name, flags | O_NOFOLLOW));
    if (!fd.valid() || host::FStat(fd.get(), &st) != 0) return HostError();
    if (!SameEntry(st, want)) return Error{ESTALE};
    return fd;
}

Status RootUnchanged() {
    const Mapping& m = Mapped();
    for (const Folders::Base& b : KnownFolders().bases) {
        if (!b.fd.valid() || (b.host != m.rootHost && b.host != m.rootReal)) continue;
        struct stat held {
        }, now{};
        if (host::FStat(b.fd.get(), &held) != 0) return HostError(Kind::Folder);
        if (host::Live().fstatat(AT_FDCWD, b.host.c_str(), &now, 0) != 0 || !SameEntry(held, now))
            return Status(Error{ESTALE}).At("read back", u"\\");
    }
    return {};
}

Status FollowConfined(const std::string& hostPath, std::string& target, struct stat& st) {
    if (Status s = Canonical(hostPath, target); !s) return s;
    const Mapping& m = Mapped();
    if (!Within(target, m.rootReal) && !Within(target, m.mediumReal)) return Error{EACCES};
    return HostStatus(host::Live().fstatat(AT_FDCWD, target.c_str(), &st, AT_SYMLINK_NOFOLLOW));
}

Status ReadListing(const std::string& dirHost, DirListing& out, host::Fd* keep) {
    Result<host::Fd> opened = OpenConfined(dirHost, O_RDONLY);
    if (!opened) return Error{opened.error().err, Kind::Folder};
    host::Fd fd = opened.Take();
    if (Status s = ReadListingOf(fd.get(), out); !s) return s;
    if (keep != nullptr) *keep = std::move(fd);
    return {};
}

Status ReadListingOf(int dirfd, DirListing& out) {
    out.names.clear();
    out.entries.clear();
    thread_local std::unique_ptr<char[]> buf(new char[64 * 1024]);
    for (;;) {
        ssize_t n = host::Live().getdents(dirfd, buf.get(), 64 * 1024);
        if (n < 0) return HostError(Kind::Folder);
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
