// Per-device filesystem traits: each optional call is tried until its first refusal, remembered, so
// no file pays for a call that cannot work. Folder nodes (namespace.h) judge theirs by Fresh.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

#include "platform/kernel/host/result.h"

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
    // FAT: table and entries reach the card in no fixed order, and renaming over frees at once.
    bool unordered = false;
    int8_t foldsCase = -1;  // lookups ignore case: 1 yes, 0 no, -1 not known yet
};

// Whether f was refused on dev (for Clone and CopyRange: from srcDev to dev).
bool Refused(dev_t dev, Feature f, dev_t srcDev = 0);
// NoteRefusal: true, remembered, for EINVAL ENOSYS ENOTSUP ENOTTY EXDEV, EPERM for links/modes.
bool NoteRefusal(dev_t dev, Feature f, int err, dev_t srcDev = 0);

// While one lives, EPERM is the entry's own refusal (immutable, another's), not its filesystem's.
class ExistingEntry {
  public:
    ExistingEntry();
    ~ExistingEntry();
    ExistingEntry(const ExistingEntry&) = delete;
    ExistingEntry& operator=(const ExistingEntry&) = delete;
};

// Tried: the outcome of the host call `what`, made as dev had not refused f: err is 0, or the
// errno it failed with. It fails with that error; a refusal is remembered and is no failure.
Status Tried(dev_t dev, Feature f, const char* what, int err, dev_t srcDev = 0);

// The traits of the filesystem holding name in dirfd (dirfd itself where name is empty), an entry
// on device dev; one statfs per device.
Traits TraitsOf(dev_t dev, int dirfd, const char* name);
// The traits of dev when they are known already; cheap enough for every entry of a walk.
bool KnownTraits(dev_t dev, Traits& out);
// Records that lookups on dev ignore case (or not), once found out.
void NoteFoldsCase(dev_t dev, bool folds);

// ClockFn gives real-time ns, as stamps are; tests swap it to step Fresh without sleeping.
using ClockFn = int64_t (*)();
int64_t Now();
void SetClock(ClockFn clock);  // nullptr: the coarse real-time clock
// The clock's tick, the granularity of stamps on filesystems with fine ones.
int64_t Tick();
// StampWindow: a change this soon may leave stamps as they were; a tick (NTFS via FUSE), FAT 2 s.
int64_t StampWindow(const Traits& t);
// OwnChangeCheck: a folder this process fills is relisted at most every 50 ms, not every few files.
int64_t OwnChangeCheck(const Traits& t);

// An entry's stamps as a cache recorded them when it filled its view; Stamp{} is none.
struct Stamp {
    dev_t dev;
    ino_t ino;
    int64_t mtime, ctime;  // in nanoseconds: a remembered entry per file, kept small
    bool settled;          // both times were older than the filesystem's stamp window when read

    // The stamps of st read at time now, on a filesystem with traits t; without t taken in
    // provisionally: never trusted before they are read again.
    static Stamp Of(const struct stat& st, const Traits* t = nullptr, int64_t now = 0);
    bool Unchanged(const struct stat& st) const;
};

// A cache's view of one entry: its stamps, and when it was last compared with the host.
struct View {
    Stamp stamp{};
    int64_t at = INT64_MIN / 2;
};

// Fresh: without st, while compared less than window ago; with st, while st is the same entry with
// the view's stamps, settled when recorded (a change in StampWindow may hide), else within window.
bool Fresh(const View& v, int64_t window, const struct stat* st = nullptr);

}  // namespace wce::kernel::fsinfo
