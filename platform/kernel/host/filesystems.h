// What the kernel knows about each host filesystem it meets, keyed by device: which optional
// calls it refused, where it keeps attributes, how fine its time stamps are and whether its
// lookups ignore case. Every optional feature is tried until its first refusal on a device,
// which is remembered, so no file pays for a call that cannot work there.
//
// The freshness rule that every cache of host state follows (folder name tables, remembered
// attributes; each records and checks it through Stamp below):
//   A cached view of an entry is trusted while the entry's stamps (device, inode, modification
//   and change time) equal those recorded when the view was filled, and those recorded stamps
//   were settled then: older than the filesystem's stamp window (one tick of the coarse clock
//   on filesystems with fine stamps, NTFS through its FUSE driver among them; 2 s on FAT, other
//   FUSE filesystems and anything unknown, whose stamps or attribute caches are coarse).
//   Inside the window a later change could leave the stamps as they were, so an unsettled view
//   is filled again once the window has passed. A view that this process changed itself is kept
//   up to date in place and checked against the host again after one window, and at least 50 ms
//   apart (OwnChangeCheck), so a change another process makes meanwhile is seen within that
//   time; checking a folder this process fills at every clock tick would cost a listing of it
//   for every few files. Likewise an entry an enumeration has just delivered answers a query of
//   its attributes without a check while its read is less than those 50 ms old (kSeenWithin)
//   and this process has changed nothing since (attrs::Recent).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace wce::kernel::fsinfo {

enum class Feature : unsigned {
    RenameNoReplace,  // renameat2(RENAME_NOREPLACE)
    Unnamed,          // open(O_TMPFILE)
    LinkUnnamed,      // naming an unnamed file (linkat by descriptor or through /proc)
    HardLink,         // linkat of a named file
    Clone,            // ioctl(FICLONE), per source and target device
    CopyRange,        // copy_file_range, per source and target device
    UserXattr,        // user.* extended attributes
    Chmod,            // permission bits
    SyncFs,           // syncfs
    SyncRange,        // sync_file_range
    DirectRead,       // open(O_DIRECT) for reading
    Times,            // setting a file's modification time (futimens)
    Count_
};

// Where an entry's read-only, hidden and system bits live on a filesystem.
enum class AttrStore : unsigned char {
    Xattr,      // read-only in the owner's write bit, hidden / system in user.DOSATTRIB
    FatIoctl,   // the FAT attribute byte, through the kernel driver's ioctls
    NtfsXattr,  // the NTFS attribute word, system.ntfs_attrib_be (FUSE NTFS driver)
};

struct Traits {
    AttrStore store = AttrStore::Xattr;
    bool fineStamps = false;    // stamps that move on every change, at the coarse clock's tick
    bool fuse = false;          // data passes through a user-space driver
    bool memoryBacked = false;  // tmpfs and the like: nothing to write back
    int8_t foldsCase = -1;      // lookups ignore case: 1 yes, 0 no, -1 not known yet
};

// Whether f was refused on dev (for Clone and CopyRange: from srcDev to dev).
bool Refused(dev_t dev, Feature f, dev_t srcDev = 0);
// True, remembering it, when err from a call of f on dev means "not on this filesystem":
// EINVAL, ENOSYS, EOPNOTSUPP/ENOTSUP, ENOTTY, EXDEV, and EPERM for links and permissions.
bool NoteRefusal(dev_t dev, Feature f, int err, dev_t srcDev = 0);

// The traits of the filesystem holding hostPath (an entry on device dev); one statfs per device.
Traits TraitsOf(dev_t dev, const char* hostPath);
// The traits of dev when they are known already; cheap enough for every entry of a walk.
bool KnownTraits(dev_t dev, Traits& out);
// Records that lookups on dev ignore case (or not), once found out.
void NoteFoldsCase(dev_t dev, bool folds);

// The clock every cache reads, in nanoseconds of real time (file stamps are real time); tests
// replace it to step through the freshness rule without sleeping.
using ClockFn = int64_t (*)();
int64_t Now();
void SetClock(ClockFn clock);  // nullptr: the coarse real-time clock
// The clock's tick, the granularity of stamps on filesystems with fine ones.
int64_t Tick();
// The stamp window of a filesystem (see the rule above).
int64_t StampWindow(const Traits& t);
// The longest another process's change may stay unseen where this process is busy (see above).
inline constexpr int64_t kSeenWithin = 50'000'000;
// How long a view this process keeps changing may answer before it is checked again.
int64_t OwnChangeCheck(const Traits& t);

// What a cache records of an entry when it fills its view of it, and the rule above by which the
// view is trusted later: every cache of host state keeps one of these.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t mtime = 0, ctime = 0;  // in nanoseconds: a remembered entry per file, kept small
    bool settled = false;  // both times were older than the filesystem's stamp window when read

    // The stamps of st read at time now, on a filesystem with traits t.
    static Stamp Of(const struct stat& st, const Traits& t, int64_t now);
    // The stamps of st taken in provisionally: never trusted before they are read again.
    static Stamp Unsettled(const struct stat& st);
    bool SameEntry(const struct stat& st) const { return dev == st.st_dev && ino == st.st_ino; }
    bool Unchanged(const struct stat& st) const;
    // Whether the view may answer for the entry whose status is now st without being filled again.
    bool Trusted(const struct stat& st) const { return settled && Unchanged(st); }
};

}  // namespace wce::kernel::fsinfo
