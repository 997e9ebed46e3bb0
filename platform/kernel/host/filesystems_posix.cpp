#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/kernel/host/context.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"

namespace wce::kernel::fsinfo {
namespace {

constexpr long kFuseMagic = 0x65735546;
constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kXfsMagic = 0x58465342;
constexpr long kF2fsMagic = static_cast<long>(0xF2F52010);
constexpr int64_t kCoarseWindow = 2'000'000'000;  // FAT's 2-second modification times

// What each filesystem offers, keyed by device.
struct FsFacts {
    std::unordered_map<dev_t, Traits> traits;
    std::map<std::pair<dev_t, dev_t>, unsigned> refused;  // (device, source device): feature bits
};
FsFacts& g_facts = NewPart<FsFacts>();

thread_local int existingEntries = 0;

Traits Probe(int dirfd, const char* name) {
    Traits t;
    struct statfs sf {};
    host::Fd entry(*name ? host::OpenAt(dirfd, name, O_PATH | O_NOFOLLOW) : -1);
    const int fd = *name ? entry.get() : dirfd;
    if (host::Live().fstatfs(fd, &sf) != 0) return t;
    const long type = static_cast<long>(sf.f_type);
    t.fuse = type == kFuseMagic;
    t.memoryBacked = type == TMPFS_MAGIC || type == RAMFS_MAGIC;
    t.fineStamps = type == TMPFS_MAGIC || type == EXT4_SUPER_MAGIC || type == kXfsMagic ||
                   type == BTRFS_SUPER_MAGIC || type == kF2fsMagic;
    t.unordered = type == MSDOS_SUPER_MAGIC || type == kExfatMagic;
    if (type == MSDOS_SUPER_MAGIC) {
        t.store = AttrStore::FatIoctl;
        t.foldsCase = 1;
    }
    // These fold case per folder (chattr +F): one folder that folds says nothing of the others, so
    // names there are matched through the name tables, as on any filesystem that keeps case.
    if (type == EXT4_SUPER_MAGIC || type == kF2fsMagic || type == TMPFS_MAGIC) t.foldsCase = 0;
    // The FUSE NTFS driver shows the attribute word Windows keeps; other FUSE drivers refuse it.
    unsigned char word[4];
    // Its time stamps are NTFS's own, in 100 ns, set on every change that passes the mount.
    // Read through a descriptor that is no O_PATH one: a folder's (the entry's, else the one
    // holding it), so nothing else is opened.
    host::Fd dir(t.fuse ? host::OpenAt(fd, ".", O_RDONLY | O_DIRECTORY) : -1);
    if (t.fuse && !dir.valid() && *name)
        dir.reset(host::OpenAt(dirfd, ".", O_RDONLY | O_DIRECTORY));
    if (dir.valid() &&
        host::Live().fgetxattr(dir.get(), "system.ntfs_attrib_be", word, sizeof word) == 4) {
        t.store = AttrStore::NtfsXattr;
        t.fineStamps = true;
    }
    return t;
}

}  // namespace

ExistingEntry::ExistingEntry() {
    ++existingEntries;
}
ExistingEntry::~ExistingEntry() {
    --existingEntries;
}

bool Refused(dev_t dev, Feature f, dev_t srcDev) {
    const auto& refused = g_facts.refused;
    auto it = refused.find({dev, srcDev});
    return it != refused.end() && ((it->second >> static_cast<unsigned>(f)) & 1u);
}

bool NoteRefusal(dev_t dev, Feature f, int err, dev_t srcDev) {
    // Links and permissions answer EPERM on filesystems that have none (FAT through FUSE); on a
    // file that exists already, it may be that file's alone (immutable), so nothing is learnt.
    const bool notHere = err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == ENOTTY ||
                         err == EXDEV ||
                         (err == EPERM && existingEntries == 0 &&
                          (f == Feature::HardLink || f == Feature::LinkUnnamed ||
                           f == Feature::Chmod || f == Feature::Times));
    if (!notHere) return false;
    g_facts.refused[{dev, srcDev}] |= 1u << static_cast<unsigned>(f);
    return true;
}

Status Tried(dev_t dev, Feature f, const char* what, int err, dev_t srcDev) {
    if (err == 0 || NoteRefusal(dev, f, err, srcDev)) return {};
    Error e{err};
    e.call = what;
    return e;
}

Traits TraitsOf(dev_t dev, int dirfd, const char* name) {
    Traits t;
    if (KnownTraits(dev, t)) return t;
    return g_facts.traits.emplace(dev, Probe(dirfd, name)).first->second;
}

bool KnownTraits(dev_t dev, Traits& out) {
    const auto& traits = g_facts.traits;
    auto it = traits.find(dev);
    if (it == traits.end()) return false;
    out = it->second;
    return true;
}

void NoteFoldsCase(dev_t dev, bool folds) {
    auto& traits = g_facts.traits;
    if (auto it = traits.find(dev); it != traits.end()) it->second.foldsCase = folds ? 1 : 0;
}

int64_t Now() {
    if (const ClockFn clock = g_clock.load(std::memory_order_relaxed)) return clock();
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

void SetClock(ClockFn clock) {
    Ctx().SetClock(clock);
}

int64_t Tick() {
    static const int64_t tick = [] {
        timespec res{};
        clock_getres(CLOCK_REALTIME_COARSE, &res);
        return res.tv_sec == 0 && res.tv_nsec > 0 ? static_cast<int64_t>(res.tv_nsec) : 4'000'000LL;
    }();
    return tick;
}

int64_t StampWindow(const Traits& t) {
    return t.fineStamps ? Tick() : kCoarseWindow;
}

int64_t OwnChangeCheck(const Traits& t) {
    return std::max<int64_t>(StampWindow(t), 50'000'000);
}

bool Fresh(const View& v, int64_t window, const struct stat* st) {
    if (st != nullptr && (v.stamp.dev != st->st_dev || v.stamp.ino != st->st_ino)) return false;
    if (st != nullptr && v.stamp.settled && v.stamp.Unchanged(*st)) return true;
    return Now() - v.at < window;
}

Stamp Stamp::Of(const struct stat& st, const Traits* t, int64_t now) {
    constexpr int64_t kSecond = 1'000'000'000;
    Stamp s{st.st_dev, st.st_ino, st.st_mtim.tv_sec * kSecond + st.st_mtim.tv_nsec,
            st.st_ctim.tv_sec * kSecond + st.st_ctim.tv_nsec, false};
    s.settled = t != nullptr && now - std::max(s.mtime, s.ctime) >= StampWindow(*t);
    return s;
}

bool Stamp::Unchanged(const struct stat& st) const {
    const Stamp now = Of(st);
    return dev == st.st_dev && ino == st.st_ino && mtime == now.mtime && ctime == now.ctime;
}

}  // namespace wce::kernel::fsinfo
