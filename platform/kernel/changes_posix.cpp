#include "platform/kernel/changes.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "platform/kernel/attributes.h"
#include "platform/kernel/filesystems.h"
#include "platform/kernel/host_ops.h"

namespace wce::kernel::changes {
namespace {

// Tells the folder's name table what a call did to the name e: a new name is taken in, a name
// found taken makes the folder be looked at afresh.
int Noted(int err, const ns::HostEntry& e) {
    ns::NoteChange();
    if (err == 0 && !e.exists) ns::NoteAdded(e.dir(), e.name());
    if (err == EEXIST) ns::NoteStale(e.dir());
    return err;
}

int Result(int r) { return r == 0 ? 0 : errno; }

int RenameExclusive(const std::string& temp, const std::string& path, dev_t dev) {
    if (!fsinfo::Refused(dev, fsinfo::Feature::RenameNoReplace)) {
        if (host::RenameAt2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::RenameNoReplace, errno)) return errno;
    }
    if (!fsinfo::Refused(dev, fsinfo::Feature::HardLink)) {
        if (host::LinkAt(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), 0) == 0) {
            host::UnlinkAt(AT_FDCWD, temp.c_str(), 0);
            return 0;
        }
        if (!fsinfo::NoteRefusal(dev, fsinfo::Feature::HardLink, errno)) return errno;
    }
    host::Fd claim(host::OpenAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (!claim.valid()) return errno;
    claim.reset();
    if (host::RenameAt2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), 0) == 0) return 0;
    const int err = errno;
    host::UnlinkAt(AT_FDCWD, path.c_str(), 0);
    return err;
}

}  // namespace

int MakeFolder(const ns::HostEntry& e) {
    if (host::MkdirAt(AT_FDCWD, e.path.c_str(), 0777) != 0) return Noted(errno, e);
    Noted(0, e);
    ns::NoteMadeFolder(e.path);
    return 0;
}

int SetAttributes(const ns::HostEntry& e, DWORD attrs) {
    ns::NoteChange();
    return attrs::Write(e.target(), e.st, attrs);
}

int RemoveFile(const ns::HostEntry& e) {
    ns::NoteChange();
    if (host::UnlinkAt(AT_FDCWD, e.path.c_str(), 0) != 0) return errno;
    ns::NoteRemoved(e.dir(), e.name());
    return 0;
}

int LinkUnnamedAt(int fd, int dirfd, const char* name) {
    if (host::LinkAt(fd, "", dirfd, name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return errno;
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (host::LinkAt(AT_FDCWD, proc, dirfd, name, AT_SYMLINK_FOLLOW) == 0) return 0;
    // Without /proc the link by path cannot be made either.
    return errno == ENOENT ? EOPNOTSUPP : errno;
}

void Linked(std::string_view dir, std::string_view name) {
    ns::NoteChange();
    ns::NoteAdded(dir, name);
}

int NameUnnamed(int fd, const ns::HostEntry& e) { return Noted(LinkUnnamedAt(fd, AT_FDCWD, e.path.c_str()), e); }

int Rename(const std::string& temp, const ns::HostEntry& e, bool exclusive, dev_t dev) {
    if (exclusive) return Noted(RenameExclusive(temp, e.path, dev), e);
    return Noted(Result(host::RenameAt2(AT_FDCWD, temp.c_str(), AT_FDCWD, e.path.c_str(), 0)), e);
}

}  // namespace wce::kernel::changes
