#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "platform/kernel/attributes.h"
#include "platform/kernel/host_ops.h"

namespace wce::kernel::attrs {
namespace {

constexpr DWORD kFatKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

std::unordered_map<dev_t, bool>& FatByDevice() {
    static std::unordered_map<dev_t, bool> m;
    return m;
}

// One statfs per device, remembered, so the common case costs nothing.
bool OnFat(const Location& where, dev_t dev) {
    auto& m = FatByDevice();
    if (auto it = m.find(dev); it != m.end()) return it->second;
    struct statfs sf {};
    bool fat = host::StatFs(where.Full().c_str(), &sf) == 0 && sf.f_type == MSDOS_SUPER_MAGIC;
    m.emplace(dev, fat);
    return fat;
}

int FatGet(int fd, uint32_t& bits) {
    return host::Ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &bits) == 0 ? 0 : errno;
}

int FatOpen(const Location& where, host::Fd& fd) {
    fd.reset(host::OpenAt(where.dirfd, where.name, O_RDONLY | O_NOFOLLOW));
    return fd.valid() ? 0 : errno;
}

DWORD Word(DWORD bits) { return bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits; }

// DOSATTRIB bits last read per inode, trusted while the inode's change time stays the same:
// every attribute write moves it. Inodes changed within the last second are not remembered,
// since a coarse clock could give a later change the same time stamp.
struct Remembered {
    timespec ctime;
    DWORD bits;
};
struct InodeKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const InodeKey&) const = default;
};
struct InodeHash {
    size_t operator()(const InodeKey& k) const { return std::hash<ino_t>{}(k.ino) * 31 + k.dev; }
};
constexpr size_t kMaxRemembered = 1 << 18;

std::unordered_map<InodeKey, Remembered, InodeHash>& Remembers() {
    static std::unordered_map<InodeKey, Remembered, InodeHash> m;
    return m;
}

bool Settled(const struct stat& st) {
    timespec now {};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return st.st_ctim.tv_sec + 1 < now.tv_sec;
}

bool Recall(const struct stat& st, DWORD& bits) {
    auto it = Remembers().find({st.st_dev, st.st_ino});
    if (it == Remembers().end() || it->second.ctime.tv_sec != st.st_ctim.tv_sec ||
        it->second.ctime.tv_nsec != st.st_ctim.tv_nsec)
        return false;
    bits = it->second.bits;
    return true;
}

void Remember(const struct stat& st, DWORD bits) {
    if (!Settled(st)) return;
    if (Remembers().size() >= kMaxRemembered) Remembers().clear();
    Remembers()[{st.st_dev, st.st_ino}] = {st.st_ctim, bits};
}

// Whether the running kernel has getxattrat; asked once, by the first read (of any thread).
std::atomic<bool>& NoXattrAt() {
    static std::atomic<bool> none{false};
    return none;
}

ssize_t GetXattr(const Location& where, char* buf, size_t size) {
    if (!NoXattrAt().load(std::memory_order_relaxed)) {
        ssize_t n = host::GetXattrAt(where.dirfd, where.name, AT_SYMLINK_NOFOLLOW, kXattrName, buf, size);
        if (n >= 0 || errno != ENOSYS) return n;
        NoXattrAt().store(true, std::memory_order_relaxed);
    }
    return host::LGetXattr(where.Full().c_str(), kXattrName, buf, size);
}

}  // namespace

long XattrBits(const Location& where) {
    char buf[256];
    ssize_t n = GetXattr(where, buf, sizeof buf);
    if (n >= 0) return static_cast<long>(ParseDosAttrib(buf, static_cast<size_t>(n)));
    if (errno == ENODATA || errno == ENOTSUP || errno == ERANGE) return 0;
    return -1;
}

namespace {

int WriteXattr(const std::string& path, DWORD hs) {
    long old = XattrBits(Location{AT_FDCWD, path.c_str(), {}});
    if (old < 0) return errno;
    DWORD value = (static_cast<DWORD>(old) & ~kSettable) | hs;
    if (value == static_cast<DWORD>(old)) return 0;
    if (value == 0) return host::LRemoveXattr(path.c_str(), kXattrName) == 0 || errno == ENODATA ? 0 : errno;
    char text[16];
    int len = std::snprintf(text, sizeof text, "0x%x", value);
    if (host::LSetXattr(path.c_str(), kXattrName, text, static_cast<size_t>(len), 0) == 0) return 0;
    return errno == EOPNOTSUPP ? ENOTSUP : errno;
}

int WriteMode(const std::string& path, const struct stat& st, bool readOnly) {
    if (S_ISDIR(st.st_mode)) return 0;
    mode_t mode = st.st_mode & 07777;
    mode_t want = readOnly ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (want == mode) return 0;
    return host::FChmodAt(AT_FDCWD, path.c_str(), want) == 0 ? 0 : errno;
}

int WriteFat(int fd, DWORD attrs) {
    uint32_t bits = 0;
    if (int err = FatGet(fd, bits)) return err;
    bits = (bits & ~kSettable) | (attrs & kSettable);
    return host::Ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &bits) == 0 ? 0 : errno;
}

}  // namespace

DWORD ParseDosAttrib(const char* value, size_t size) {
    size_t textLen = strnlen(value, size);
    if (textLen > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        char text[32] = {};
        std::memcpy(text, value, textLen < sizeof text - 1 ? textLen : sizeof text - 1);
        return static_cast<DWORD>(std::strtoul(text + 2, nullptr, 16));
    }
    // Binary record after the NUL: version (u16), its repetition, then the attributes at 4
    // (versions 1 and 2) or after a flags word at 8 (versions 3 and later).
    const auto* rec = reinterpret_cast<const unsigned char*>(value) + textLen + 1;
    size_t recLen = textLen + 1 < size ? size - textLen - 1 : 0;
    auto u32 = [&](size_t at) {
        return static_cast<DWORD>(rec[at] | rec[at + 1] << 8 | rec[at + 2] << 16 | rec[at + 3] << 24);
    };
    if (recLen < 8) return 0;
    unsigned version = rec[0] | rec[1] << 8;
    if (version == 1 || version == 2) return u32(4);
    if (version >= 3 && version <= 5 && recLen >= 12) return u32(8);
    return 0;
}

std::string Location::Full() const {
    if (dirfd == AT_FDCWD) return name;
    std::string full(dir);
    return full.append("/").append(name);
}

DWORD Read(const Location& where, const struct stat& st) { return ReadWith(where, st, kNotRead); }

DWORD ReadWith(const Location& where, const struct stat& st, long bits) {
    if (OnFat(where, st.st_dev)) {
        host::Fd fd;
        uint32_t fat = 0;
        if (FatOpen(where, fd) != 0 || FatGet(fd.get(), fat) != 0) return INVALID_FILE_ATTRIBUTES;
        return Word(fat & kFatKept);
    }
    DWORD a = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if ((st.st_mode & S_IWUSR) == 0) a |= FILE_ATTRIBUTE_READONLY;
    DWORD hs = 0;
    if (!Recall(st, hs)) {
        if (bits == kNotRead) bits = XattrBits(where);
        if (bits < 0) return INVALID_FILE_ATTRIBUTES;
        hs = static_cast<DWORD>(bits) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        Remember(st, hs);
    }
    return Word(a | hs);
}

int Write(const std::string& path, const struct stat& st, DWORD attrs) {
    if (attrs & FILE_ATTRIBUTE_NORMAL) attrs = 0;
    const Location where{AT_FDCWD, path.c_str(), {}};
    if (OnFat(where, st.st_dev)) {
        host::Fd fd;
        if (int err = FatOpen(where, fd)) return err;
        return WriteFat(fd.get(), attrs);
    }
    bool readOnly = attrs & FILE_ATTRIBUTE_READONLY;
    // Write permission first when it is being given, last when taken, so the xattr can be set;
    // a failed xattr puts the old permission back so the call changes nothing.
    if (!readOnly)
        if (int err = WriteMode(path, st, false)) return err;
    if (int err = WriteXattr(path, attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
        if (!readOnly && !S_ISDIR(st.st_mode)) host::FChmodAt(AT_FDCWD, path.c_str(), st.st_mode & 07777);
        return err;
    }
    return readOnly ? WriteMode(path, st, true) : 0;
}

int WriteNew(int fd, const std::string& path, const struct stat& st, DWORD attrs) {
    attrs &= kSettable;
    if (attrs == 0) return 0;
    if (OnFat(Location{AT_FDCWD, path.c_str(), {}}, st.st_dev)) return WriteFat(fd, attrs);
    if (DWORD hs = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
        char text[16];
        int len = std::snprintf(text, sizeof text, "0x%x", hs);
        if (host::FSetXattr(fd, kXattrName, text, static_cast<size_t>(len), 0) != 0)
            return errno == EOPNOTSUPP ? ENOTSUP : errno;
    }
    if (attrs & FILE_ATTRIBUTE_READONLY)
        if (host::FChmod(fd, st.st_mode & 07777 & ~mode_t{0222}) != 0) return errno;
    return 0;
}

void ResetMediaCache() {
    FatByDevice().clear();
    NoXattrAt() = false;
    Remembers().clear();
}

}  // namespace wce::kernel::attrs
