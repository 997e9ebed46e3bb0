#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/services/attributes.h"

namespace wce::kernel::attrs {
namespace {

constexpr DWORD kFatKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr char kNtfsName[] = "system.ntfs_attrib_be";

Status FatGet(int fd, uint32_t& bits) {
    return HostStatus(host::Live().ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &bits), "ioctl");
}

// The word the entry's folder node knows, while the entry's stamps are as they were then.
bool Recall(const Location& where, const struct stat& st, DWORD& bits) {
    if (where.node == nullptr) return false;
    auto it = where.node->entries.find(where.name);
    if (it == where.node->entries.end() || !it->second.worded ||
        !fsinfo::Fresh({it->second.stamp, it->second.at}, fsinfo::Tick(), &st))
        return false;
    bits = it->second.word;
    return true;
}

// Past the tick, only settled stamps on fine-stamped filesystems: a coarse stamp (FAT keeps no
// change time) could hide a second write.
void Remember(const Location& where, const struct stat& st, const fsinfo::Traits& t, DWORD bits) {
    if (where.node == nullptr) return;
    const int64_t now = fsinfo::Now();
    fsinfo::Stamp stamp = fsinfo::Stamp::Of(st, &t, now);
    stamp.settled = stamp.settled && t.fineStamps;
    ns::Node::Known& k = where.node->entries[where.name];
    k.stamp = stamp;
    k.at = now;
    k.word = bits;
    k.worded = true;
}

// The extended attribute name of the entry, through fd where one is open, else by where: its
// length, or minus the errno it failed with (no errno is read outside the call's own function).
// Without getxattrat, by the entry's name under its folder's descriptor (/proc/self/fd): no path
// from the host's root is walked again.
ssize_t XattrOf(const Location* where, int fd, const char* name, void* buf, size_t size) {
    static bool noXattrAt = false;  // the running kernel lacks getxattrat: it stays so
    ssize_t n = -1;
    if (where == nullptr) {
        n = host::Live().fgetxattr(fd, name, buf, size);
    } else if (!noXattrAt) {
        n = host::Live().getxattrat(where->dirfd, where->name, AT_SYMLINK_NOFOLLOW, name, buf,
                                    size);
        noXattrAt = n < 0 && errno == ENOSYS;
    }
    if (where != nullptr && noXattrAt) {
        char path[PATH_MAX];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", where->dirfd, where->name);
        n = host::Live().lgetxattr(path, name, buf, size);
    }
    return n < 0 ? -errno : n;
}

DWORD FromBigEndian(const unsigned char* b) {
    return static_cast<DWORD>(b[0]) << 24 | static_cast<DWORD>(b[1]) << 16 |
           static_cast<DWORD>(b[2]) << 8 | b[3];
}

void ToBigEndian(DWORD word, unsigned char* b) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(word >> (24 - 8 * i));
}

// The NTFS attribute word's settable bits.
Status NtfsWord(const Location& where, DWORD& out) {
    unsigned char word[8];
    const ssize_t n = XattrOf(&where, -1, kNtfsName, word, sizeof word);
    if (n < 0) {
        Error e{static_cast<int>(-n)};
        e.call = "getxattr";
        return e;
    }
    long bits = ParseNtfsAttrib(word, static_cast<size_t>(n));
    if (bits < 0) return Error{EIO};
    out = static_cast<DWORD>(bits);
    return {};
}

// The word in user.DOSATTRIB, of any length (file servers append a binary record); none where
// the filesystem keeps no such attributes (remembered).
Status DosAttribWord(const Location* where, int fd, dev_t dev, DWORD& out) {
    out = 0;
    if (fsinfo::Refused(dev, fsinfo::Feature::UserXattr)) return {};
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = XattrOf(where, fd, kXattrName, buf.data(), buf.size());
        if (n >= 0) {
            out = ParseDosAttrib(buf.data(), static_cast<size_t>(n));
            return {};
        }
        if (n == -ERANGE && (n = XattrOf(where, fd, kXattrName, nullptr, 0)) >= 0) {
            buf.resize(static_cast<size_t>(n) + 1);
            continue;
        }
        const int err = static_cast<int>(-n);
        if (err == ENODATA || fsinfo::NoteRefusal(dev, fsinfo::Feature::UserXattr, err)) return {};
        Error e{err};
        e.call = "getxattr";
        return e;
    }
}

// Hidden and system as hs, through fd, the entry the look-up saw (st).
Status WriteXattr(int fd, const struct stat& st, DWORD hs) {
    const dev_t dev = st.st_dev;
    DWORD old = 0;
    if (Status s = DosAttribWord(nullptr, fd, dev, old); !s) return s;
    DWORD value = (old & ~kSettable) | hs;
    if (value == old) return {};
    if (fsinfo::Refused(dev, fsinfo::Feature::UserXattr)) return Error{ENOTSUP};
    if (value == 0) {
        if (host::Live().fremovexattr(fd, kXattrName) == 0) return {};
        const Error e = HostError("fremovexattr");
        return e.err == ENODATA ? Status() : Status(e);
    }
    char text[16];
    int len = std::snprintf(text, sizeof text, "0x%x", value);
    if (host::Live().fsetxattr(fd, kXattrName, text, static_cast<size_t>(len), 0) == 0) return {};
    const Error e = HostError("fsetxattr");
    return e.err == EOPNOTSUPP ? Error{ENOTSUP} : e;
}

Status WriteMode(int fd, const struct stat& st, bool readOnly) {
    if (S_ISDIR(st.st_mode)) return {};
    mode_t mode = st.st_mode & 07777;
    mode_t want = readOnly ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (want == mode) return {};
    return HostStatus(host::Live().fchmod(fd, want), "fchmod");
}

// NtfsMerged keeps the word's other bits; an empty word says "normal", as Windows writes it.
DWORD NtfsMerged(DWORD word, DWORD attrs) {
    word = (word & ~(kSettable | FILE_ATTRIBUTE_NORMAL)) | (attrs & kSettable);
    return word == 0 ? FILE_ATTRIBUTE_NORMAL : word;
}

Status WriteNtfs(int fd, const struct stat&, DWORD attrs) {
    unsigned char b[4];
    // A word of another size than four bytes is no NTFS attribute word.
    if (const ssize_t n = host::Live().fgetxattr(fd, kNtfsName, b, sizeof b); n != 4)
        return n < 0 ? HostError("fgetxattr") : Error{EIO};
    const DWORD old = FromBigEndian(b);
    const DWORD word = NtfsMerged(old, attrs);
    if (word == old) return {};
    ToBigEndian(word, b);
    return HostStatus(host::Live().fsetxattr(fd, kNtfsName, b, sizeof b, 0), "fsetxattr");
}

Status WriteFat(int fd, const struct stat&, DWORD attrs) {
    uint32_t bits = 0;
    if (Status s = FatGet(fd, bits); !s) return s;
    bits = (bits & ~kSettable) | (attrs & kSettable);
    return HostStatus(host::Live().ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &bits), "ioctl");
}

// ParseHexText: "0x" and up to 32 bits of hex to NUL or end; anything else reads as none.
bool ParseHexText(const char* value, size_t textLen, DWORD& out) {
    if (textLen < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) return false;
    const auto [end, ec] = std::from_chars(value + 2, value + textLen, out, 16);
    return ec == std::errc() && end == value + textLen;
}

}  // namespace

DWORD ParseDosAttrib(const char* value, size_t size) {
    const size_t textLen = strnlen(value, size);
    if (DWORD word = 0; ParseHexText(value, textLen, word)) return word;
    // Binary record after the NUL: u16 version twice, attributes at 4 (v1, v2) or at 8 (v3 on).
    if (textLen + 1 >= size) return 0;
    const auto* rec = reinterpret_cast<const unsigned char*>(value) + textLen + 1;
    const size_t recLen = size - textLen - 1;
    auto u32 = [&](size_t at) {
        return static_cast<DWORD>(rec[at] | rec[at + 1] << 8 | rec[at + 2] << 16 |
                                  rec[at + 3] << 24);
    };
    if (recLen < 8) return 0;
    unsigned version = rec[0] | rec[1] << 8;
    if (version == 1 || version == 2) return u32(4);
    if (version >= 3 && version <= 5 && recLen >= 12) return u32(8);
    return 0;
}

long ParseNtfsAttrib(const unsigned char* value, size_t size) {
    return size == 4 ? static_cast<long>(FromBigEndian(value) & kSettable) : -1;
}

namespace {

// The bits kept as the owner's write permission and user.DOSATTRIB.
Status ReadPermXattr(const Location& where, const struct stat& st, const fsinfo::Traits& t,
                     DWORD& out) {
    DWORD word = 0;
    if (!Recall(where, st, word)) {
        if (Status s = DosAttribWord(&where, -1, st.st_dev, word); !s) return s;
        Remember(where, st, t, word);
    }
    out = (S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0) |
          ((st.st_mode & S_IWUSR) == 0 ? FILE_ATTRIBUTE_READONLY : 0) | (word & kHiddenSystem);
    return {};
}

// WritePermXattr grants write before the xattr, revokes after, and restores it on failure.
Status WritePermXattr(int fd, const struct stat&, DWORD attrs) {
    struct stat now {};
    if (host::FStat(fd, &now) != 0) return HostError("fstat");
    const bool readOnly = attrs & FILE_ATTRIBUTE_READONLY;
    if (!readOnly)
        if (Status s = WriteMode(fd, now, false); !s) return s;
    if (Status s = WriteXattr(fd, now, attrs & kHiddenSystem); !s) {
        if (!readOnly && !S_ISDIR(now.st_mode)) host::Live().fchmod(fd, now.st_mode & 07777);
        return s;
    }
    return readOnly ? WriteMode(fd, now, true) : Status();
}

// A bit the filesystem cannot keep is dropped, the first refusal remembered: the copy goes on.
Status WriteNewPermXattr(int fd, const struct stat& st, DWORD attrs) {
    const dev_t dev = st.st_dev;
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", attrs & kHiddenSystem);
    using fsinfo::Feature;
    if ((attrs & kHiddenSystem) && !fsinfo::Refused(dev, Feature::UserXattr)) {
        const int err =
            host::Live().fsetxattr(fd, kXattrName, text, size_t(len), 0) == 0 ? 0 : errno;
        if (Status s = fsinfo::Tried(dev, Feature::UserXattr, "fsetxattr", err); !s) return s;
    }
    if ((attrs & FILE_ATTRIBUTE_READONLY) && !fsinfo::Refused(dev, Feature::Chmod)) {
        const int err =
            host::Live().fchmod(fd, st.st_mode & 07777 & ~mode_t{0222}) == 0 ? 0 : errno;
        return fsinfo::Tried(dev, Feature::Chmod, "fchmod", err);
    }
    return {};
}

// ReadFat opens the entry seen: on a swapped-in device or pipe the ioctl would mean else.
Status ReadFat(const Location& where, const struct stat& st, const fsinfo::Traits& t, DWORD& out) {
    if (Recall(where, st, out)) return {};
    host::Fd fd;
    if (Status s = ns::OpenChecked(where, st, O_RDONLY, fd); !s) return s;
    uint32_t fat = 0;
    if (Status s = FatGet(fd.get(), fat); !s) return s;
    out = fat & kFatKept;
    Remember(where, st, t, out);
    return {};
}

// NTFS's word is remembered as the DOSATTRIB one is: on FUSE every read is a driver round trip.
Status ReadNtfs(const Location& where, const struct stat& st, const fsinfo::Traits& t, DWORD& out) {
    DWORD word = 0;
    if (!Recall(where, st, word)) {
        if (Status s = NtfsWord(where, word); !s) return s;
        word &= kSettable;
        Remember(where, st, t, word);
    }
    out = (S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0) | word;
    return {};
}

// Backend per fsinfo::AttrStore, in its order; both writes go through a descriptor of the entry.
struct Backend {
    Status (*read)(const Location&, const struct stat&, const fsinfo::Traits&, DWORD& out);
    Status (*write)(int fd, const struct stat& st, DWORD attrs);
    Status (*writeNew)(int fd, const struct stat& st, DWORD attrs);
};
constexpr Backend kBackends[] = {
    {ReadPermXattr, WritePermXattr, WriteNewPermXattr},  // Xattr
    {ReadFat, WriteFat, WriteFat},                       // FatIoctl
    {ReadNtfs, WriteNtfs, WriteNtfs},                    // NtfsXattr
};

}  // namespace

Status Read(const Location& where, const struct stat& st, DWORD& out) {
    const fsinfo::Traits t = fsinfo::TraitsOf(st.st_dev, where.dirfd, where.name);
    const Status s = kBackends[static_cast<unsigned>(t.store)].read(where, st, t, out);
    // A word with no bit set reads as "normal", as the device reports it.
    if (s && out == 0) out = FILE_ATTRIBUTE_NORMAL;
    return s;
}

Status Write(const Location& where, const struct stat& st, DWORD attrs) {
    if (attrs & FILE_ATTRIBUTE_NORMAL) attrs = 0;
    // Through a descriptor of the entry the look-up saw: a name swapped for a link leads nowhere.
    host::Fd fd;
    if (Status s = ns::OpenChecked(where, st, O_RDONLY, fd); !s) return s;
    if (where.node != nullptr) where.node->entries.erase(where.name);
    const fsinfo::Traits t = fsinfo::TraitsOf(st.st_dev, where.dirfd, where.name);
    return kBackends[static_cast<unsigned>(t.store)].write(fd.get(), st, attrs);
}

Status WriteOpen(int fd, const struct stat& st, DWORD attrs) {
    fsinfo::Traits t;
    if (!fsinfo::KnownTraits(st.st_dev, t)) return Error{ESTALE};  // known once the entry was read
    return kBackends[static_cast<unsigned>(t.store)].write(fd, st, attrs);
}

Status WriteNew(int fd, const struct stat& st, DWORD attrs) {
    attrs &= kSettable;
    if (attrs == 0) return {};
    const fsinfo::Traits t = fsinfo::TraitsOf(st.st_dev, fd, "");
    return kBackends[static_cast<unsigned>(t.store)].writeNew(fd, st, attrs);
}

}  // namespace wce::kernel::attrs
