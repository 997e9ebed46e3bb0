#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/changes.h"

namespace wce::kernel::changes {
namespace {

// TellTables: a name made joins its folder's table; one found taken has the folder relisted.
Status TellTables(Status s, const ns::Entry& e) {
    if (s) ns::NoteAdded(*e.dir, e.leaf);
    if (s.Is(EEXIST)) ns::NoteStale(*e.dir);
    return s;
}

// temp: a name in the folder of to.
Status RenameExclusive(const std::string& temp, const ns::Location& to, dev_t dev) {
    if (!fsinfo::Refused(dev, fsinfo::Feature::RenameNoReplace)) {
        if (host::Live().renameat2(to.dirfd, temp.c_str(), to.dirfd, to.name, RENAME_NOREPLACE) ==
            0)
            return {};
        const Error e = HostError("renameat2");
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::RenameNoReplace, e.err)) return e;
    }
    if (!fsinfo::Refused(dev, fsinfo::Feature::HardLink)) {
        if (host::Live().linkat(to.dirfd, temp.c_str(), to.dirfd, to.name, 0) == 0) {
            host::Live().unlinkat(to.dirfd, temp.c_str(), 0);
            return {};
        }
        const Error e = HostError("unlinkat");
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::HardLink, e.err)) return e;
    }
    host::Fd claim(host::OpenAt(to.dirfd, to.name, O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!claim.valid()) return HostError("openat");
    claim.reset();
    if (host::Live().renameat2(to.dirfd, temp.c_str(), to.dirfd, to.name, 0) == 0) return {};
    const Error failed = HostError("renameat2");
    host::Live().unlinkat(to.dirfd, to.name, 0);
    return failed;
}

}  // namespace

Status MakeFolder(const ns::Entry& e) {
    const ns::Location at = e.named();
    // ENOENT: the folder to hold it vanished meanwhile.
    Status made;
    if (host::Live().mkdirat(at.dirfd, at.name, 0777) != 0) {
        const Error failed = HostError("mkdirat");
        made = Error{failed.err, failed.err == ENOENT ? Kind::Folder : Kind::Entry};
    }
    if (TellTables(made, e)) ns::NoteMadeFolder(e.dir, e.leaf);
    return made;
}

static Status LinkUnnamedAt(int fd, int dirfd, const char* name) {
    if (host::Live().linkat(fd, "", dirfd, name, AT_EMPTY_PATH) == 0) return {};
    if (const Error e = HostError("linkat"); e.err != ENOENT && e.err != EPERM) return e;
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (host::Live().linkat(AT_FDCWD, proc, dirfd, name, AT_SYMLINK_FOLLOW) == 0) return {};
    // Without /proc the link by path cannot be made either.
    const Error e = HostError("linkat");
    return e.err == ENOENT ? Error{EOPNOTSUPP} : e;
}

Status NameUnnamed(int fd, const ns::Entry& e) {
    const ns::Location at = e.named();
    return TellTables(LinkUnnamedAt(fd, at.dirfd, at.name), e);
}

Status Rename(const std::string& temp, const ns::Entry& e, bool exclusive, dev_t dev) {
    const ns::Location at = e.named();
    if (exclusive) return TellTables(RenameExclusive(temp, at, dev), e);
    return TellTables(
        HostStatus(host::Live().renameat2(at.dirfd, temp.c_str(), at.dirfd, at.name, 0),
                   "renameat2"),
        e);
}

}  // namespace wce::kernel::changes
