#include <fcntl.h>
#include <libmount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "platform/kernel/host/beneath.h"

namespace wce::kernel::beneath {
namespace {

namespace fs = std::filesystem;

bool IsMedium(const std::string& path) {
    struct stat st {};
    return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 &&
           (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode));
}

// A loop device's backing file, or "" for any other block device.
std::string BackingFile(const std::string& device) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    std::ifstream in("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                     std::to_string(minor(st.st_rdev)) + "/loop/backing_file");
    std::string path;
    std::getline(in, path);
    return IsMedium(path) ? path : std::string();
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

// Calls f for each entry of dir; processes come and go while /proc is listed, so nothing throws.
template <class F>
void EachEntry(const fs::path& dir, F f) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (!f(*it)) return;
}

// DriverMedia: what conn's driver holds open for writing, by fdinfo's fuse_connection (Linux 6.x).
std::vector<std::string> DriverMedia(unsigned long conn) {
    std::vector<std::string> found;
    EachEntry("/proc", [&](const fs::directory_entry& proc) {
        bool driver = false;
        std::vector<std::string> media;
        EachEntry(proc.path() / "fd", [&](const fs::directory_entry& fd) {
            std::error_code ec;
            const std::string target = fs::read_symlink(fd.path(), ec).string();
            const fs::path info = proc.path() / "fdinfo" / fd.path().filename();
            if (target == "/dev/fuse") {
                driver = driver || FdInfo(info, "fuse_connection") == std::to_string(conn);
            } else if (IsMedium(target)) {
                const unsigned long flags = std::strtoul(FdInfo(info, "flags").c_str(), nullptr, 8);
                if ((flags & O_ACCMODE) != O_RDONLY) media.push_back(target);
            }
            return true;
        });
        if (driver) found = std::move(media);
        return !driver;
    });
    return found;
}

struct TableDeleter {
    void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};

}  // namespace

Stack Inspect(dev_t dev) {
    Stack s;
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!table || mnt_table_parse_mtab(table.get(), nullptr) != 0) {
        s.unreachable = "the mount table could not be read";
        return s;
    }
    libmnt_fs* fs = mnt_table_find_devno(table.get(), dev, MNT_ITER_BACKWARD);
    if (fs == nullptr) {
        s.unreachable = "the filesystem is not in the mount table";
        return s;
    }
    const std::string type = mnt_fs_get_fstype(fs) ? mnt_fs_get_fstype(fs) : "";
    const std::string source = mnt_fs_get_source(fs) ? mnt_fs_get_source(fs) : "";
    s.mountPoint = mnt_fs_get_target(fs) ? mnt_fs_get_target(fs) : "";
    s.fuse = type == "fuse" || type == "fuseblk" || type.starts_with("fuse.");
    std::vector<std::string> media;
    if (IsMedium(source)) {
        // A kernel filesystem reads its device past the page cache; only a loop's file caches it.
        if (s.fuse)
            media.push_back(source);
        else if (std::string back = BackingFile(source); !back.empty())
            s.layers.push_back(back);
    } else if (s.fuse) {
        media = DriverMedia((static_cast<unsigned long>(major(dev)) << 20) | minor(dev));
        if (media.empty())
            s.unreachable = "the driver of " + s.mountPoint + " (" + type +
                            ") shows no device or image file it writes to";
    }
    for (const std::string& m : media) {
        s.layers.push_back(m);
        if (std::string back = BackingFile(m); !back.empty()) s.layers.push_back(back);
    }
    return s;
}

}  // namespace wce::kernel::beneath
