#include <fcntl.h>
#include <libmount.h>
#include <linux/loop.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "platform/kernel/host/beneath.h"
#include "platform/kernel/host/result.h"

namespace wce::kernel::beneath {
namespace {

namespace fs = std::filesystem;

std::string ProcFd(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

bool SameIdentity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
           (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
}

// OpenMedium opens what an O_PATH descriptor names into fd, if it is a regular file or a block
// device: through /proc/self/fd, so no name is looked up again, and compared once open.
Status OpenMedium(host::Fd where, struct stat& st, host::Fd& fd) {
    if (!where.valid() || host::FStat(where.get(), &st) != 0)
        return HostError(where.valid() ? "fstat" : "openat");
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return Error{EACCES};
    fd.reset(host::OpenAt(AT_FDCWD, ProcFd(where.get()).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    struct stat now {};
    if (!fd.valid() || host::FStat(fd.get(), &now) != 0)
        return HostError(fd.valid() ? "fstat" : "openat");
    if (SameIdentity(st, now)) return {};
    fd.reset();
    return Error{ESTALE};
}

// The first line of a small text file of /proc or /sys, or "".
std::string FirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The value of a "key:\tvalue" line of /proc/PID/fdinfo/FD, or "".
std::string FdInfo(const fs::path& info, std::string_view key) {
    std::ifstream in(info);
    for (std::string line; std::getline(in, line);)
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == ':')
            return line.substr(line.find_first_not_of(" \t", key.size() + 1));
    return {};
}

// The device numbers of the loop record, in the kernel's encoding (new_encode_dev).
bool SameDevice(std::uint64_t encoded, dev_t dev) {
    const auto maj = static_cast<unsigned>((encoded & 0xfff00) >> 8);
    const auto min = static_cast<unsigned>((encoded & 0xff) | ((encoded >> 12) & 0xfff00));
    return maj == major(dev) && min == minor(dev);
}

// Backing: a loop device's backing file added to s when its name still leads to the file the loop
// records; why set where it does not (deleted, replaced), nothing for any other block device.
void AddBacking(Stack& s, int device, const struct stat& st, std::string& why) {
    loop_info64 info{};
    if (host::Live().ioctl(device, LOOP_GET_STATUS64, &info) != 0) return;
    const std::string name = FirstLine("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                       std::to_string(minor(st.st_rdev)) + "/loop/backing_file");
    const std::string loop = "loop " + std::to_string(minor(st.st_rdev));
    if (name.empty() || name[0] != '/' || name.ends_with(" (deleted)")) {
        why = "the backing file of " + loop + " was deleted";
        return;
    }
    host::Fd where(host::OpenAt(AT_FDCWD, name.c_str(), O_PATH | O_NOFOLLOW));
    struct stat bst {};
    if (!where.valid() || host::FStat(where.get(), &bst) != 0 || !S_ISREG(bst.st_mode) ||
        !SameDevice(info.lo_device, bst.st_dev) || bst.st_ino != info.lo_inode) {
        why = name + " is no longer the backing file of " + loop;
        return;
    }
    host::Fd fd;
    if (Status opened = OpenMedium(std::move(where), bst, fd); !opened) {
        why =
            name + " (backing " + loop + ") cannot be opened: " + std::strerror(opened.error().err);
        return;
    }
    s.layers.push_back({name, std::move(fd)});
}

// Adds the medium held by where, and a loop's backing file beneath it; why says what was skipped.
void AddMedium(Stack& s, const std::string& name, host::Fd where, std::string& why) {
    struct stat st {};
    host::Fd fd;
    if (Status opened = OpenMedium(std::move(where), st, fd); !opened) {
        why = name + " cannot be opened as a device or image: " + std::strerror(opened.error().err);
        return;
    }
    const int device = fd.get();
    s.layers.push_back({name, std::move(fd)});
    if (S_ISBLK(st.st_mode)) AddBacking(s, device, st, why);
}

// Calls f for each entry of dir; processes come and go while /proc is listed, so nothing throws.
template <class F>
void EachEntry(const fs::path& dir, F f) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (!f(*it)) return;
}

std::string LinkText(const fs::path& link) {
    char buf[4096];
    const ssize_t n = host::Live().readlinkat(AT_FDCWD, link.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The driver of connection conn among the processes of uid: the one holding its /dev/fuse.
// Only link texts and fdinfo are read: a descriptor's file is never stat'ed (a hung mount waits).
fs::path DriverOf(unsigned long conn, uid_t uid) {
    fs::path driver;
    const std::string want = std::to_string(conn);
    EachEntry("/proc", [&](const fs::directory_entry& proc) {
        struct stat pst {};
        if (host::Live().fstatat(AT_FDCWD, proc.path().c_str(), &pst, 0) != 0 ||
            (pst.st_uid != uid && pst.st_uid != 0))
            return true;
        EachEntry(proc.path() / "fd", [&](const fs::directory_entry& fd) {
            if (LinkText(fd.path()) == "/dev/fuse" &&
                FdInfo(proc.path() / "fdinfo" / fd.path().filename(), "fuse_connection") == want)
                driver = proc.path();
            return driver.empty();
        });
        return driver.empty();
    });
    return driver;
}

// What the driver holds open for reading and writing, judged by fdinfo flags before anything is
// touched: its medium; a file it only writes (a log) is none.
void AddDriverMedia(Stack& s, const fs::path& driver, std::string& why) {
    EachEntry(driver / "fd", [&](const fs::directory_entry& fd) {
        const unsigned long flags = std::strtoul(
            FdInfo(driver / "fdinfo" / fd.path().filename(), "flags").c_str(), nullptr, 8);
        const std::string name = LinkText(fd.path());
        if ((flags & O_ACCMODE) != O_RDWR || name.empty() || name[0] != '/' || name == "/dev/fuse")
            return true;
        // The magic link leads to the driver's own open file, whatever its name now says.
        AddMedium(s, name, host::Fd(host::OpenAt(AT_FDCWD, fd.path().c_str(), O_PATH)), why);
        return true;
    });
}

// The uid a FUSE filesystem was mounted for (user_id=), or -1 where the table does not say.
long MountedFor(libmnt_fs* fs) {
    char* value = nullptr;
    size_t size = 0;
    const char* opts = mnt_fs_get_fs_options(fs);
    if (opts == nullptr || mnt_optstr_get_option(opts, "user_id", &value, &size) != 0) return -1;
    return std::strtol(std::string(value, size).c_str(), nullptr, 10);
}

// A kernel filesystem's device, by the source the table names, only if it is that very device.
void AddKernelDevice(Stack& s, const std::string& source, dev_t dev, std::string& why) {
    if (source.empty() || source[0] != '/') return;
    host::Fd where(host::OpenAt(AT_FDCWD, source.c_str(), O_PATH));
    struct stat st {};
    if (!where.valid() || host::FStat(where.get(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != dev)
        return;
    host::Fd fd;
    if (!OpenMedium(std::move(where), st, fd)) return;
    // The filesystem reads its device past the page cache; only a loop's file caches it.
    AddBacking(s, fd.get(), st, why);
}

void InspectFuse(Stack& s, libmnt_fs* fs, dev_t dev) {
    const long owner = MountedFor(fs);
    if (owner != 0 && owner != static_cast<long>(geteuid())) {
        s.unreachable = owner < 0 ? "the mount table does not say who mounted " + s.mountPoint
                                  : s.mountPoint + " was mounted by user " + std::to_string(owner) +
                                        ", whose files this install does not open";
        return;
    }
    const fs::path driver =
        DriverOf((static_cast<unsigned long>(major(dev)) << 20) | minor(dev), uid_t(owner));
    std::string why;
    if (!driver.empty()) AddDriverMedia(s, driver, why);
    if (s.layers.empty())
        s.unreachable = !why.empty() ? why
                                     : "the driver of " + s.mountPoint +
                                           " shows no device or image file it writes to";
    else if (!why.empty())
        s.unreachable = why;
}

// No block device of its own (FUSE, say): what lies beneath can only be known from the table.
// A kernel filesystem on a block device reads its card whether the table shows it or not.
bool Anonymous(dev_t dev) {
    return major(dev) == 0;
}

struct TableDeleter {
    void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};

}  // namespace

Stack Inspect(dev_t dev) {
    Stack s;
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!table || mnt_table_parse_mtab(table.get(), nullptr) != 0) {
        if (Anonymous(dev)) s.unreachable = "the mount table could not be read";
        return s;
    }
    libmnt_fs* fs = mnt_table_find_devno(table.get(), dev, MNT_ITER_BACKWARD);
    if (fs == nullptr) {
        if (Anonymous(dev)) s.unreachable = "the filesystem is not in the mount table";
        return s;
    }
    const std::string type = mnt_fs_get_fstype(fs) ? mnt_fs_get_fstype(fs) : "";
    s.mountPoint = mnt_fs_get_target(fs) ? mnt_fs_get_target(fs) : "";
    s.fuse = type == "fuse" || type == "fuseblk" || type.starts_with("fuse.");
    if (s.fuse) {
        InspectFuse(s, fs, dev);
    } else {
        AddKernelDevice(s, mnt_fs_get_source(fs) ? mnt_fs_get_source(fs) : "", dev, s.unreachable);
    }
    return s;
}

}  // namespace wce::kernel::beneath
