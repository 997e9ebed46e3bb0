// A filesystem's batch: the work a flush still owes it. Copies start to the medium at once, kept
// within ~0.25 s of its writing (write-behind), so progress follows the medium and the last flush
// is short; after the flush the copies are reread past caches and compared (read-back), so a card
// losing writes fails. The flush owns the batches and ends them all.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/host/beneath.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::batch {

// kBound: unwritten data per filesystem until the medium shows its pace, then 0.25 s of it (min).
inline constexpr off_t kBound = 4 << 20;
// A file copied in pieces no larger than this starts the write-back of each piece in turn.
inline constexpr off_t kPiece = 2 << 20;

struct Range {
    host::Fd fd;
    off_t pos = 0, len = 0;
};
struct ReadBack {
    std::u16string from, to;
    off_t size;
    struct timespec mtime;  // the source's, when copied
};
struct Batch {
    host::Fd watch;  // the filesystem, open since before its first write
    bool watched = false;
    bool looked = false;     // its layers' caches dropped for a read-back since the last flush
    beneath::Stack beneath;  // what lies under the filesystem, open since before its first write
    std::deque<Range> ranges;
    off_t bytes = 0;    // started and not yet waited for, in ranges
    off_t small = 0;    // of small files, since the last flush
    off_t done = 0;     // waited for since first
    int64_t first = 0;  // when the first range was started
    std::vector<ReadBack> readBacks;
    // Folders (inode) swept of dead temporaries: each is swept before its first temporary.
    std::set<ino_t> swept;
};
// The batch of dev, opened where none is.
Batch& Open(dev_t dev);
// The flush is done (or failed): every batch ends, read-backs and all.
void CloseAll();
// A new device mapping: every batch ends; read-back: 0 off, 1 on, -1 where not in memory.
void Configure(int readBack);

// WritesBehind: whether files on dev (traits t) get written behind: not in memory, not on FUSE
// (its writes reach the driver at once), not where refused.
bool WritesBehind(dev_t dev, const fsinfo::Traits& t);
// Start begins write-back of [pos, pos + len) of fd on dev and waits for older data over the bound;
// small files settle by one flush. A write-back error (this file or earlier) fails the call.
Status Start(int fd, dev_t dev, off_t pos, off_t len);
// Watch opens dev (through a folder dirfd on it) and its layers before writes: one opened later
// misses errors.
void Watch(dev_t dev, int dirfd);
// The filesystems written since they were last settled.
std::vector<dev_t> Watched();
// Flush: syncfs via Watch's descriptor (else fd), then fsync each layer beneath FUSE (this card,
// its errors); sync (no errors) where syncfs is refused or a layer unreachable. Fails with errno.
Status Flush(dev_t dev, int fd);
// A file whose copy failed is let go of before it is removed, so no descriptor keeps it alive.
void Untrack(int fd);
void Untrack(int dirfd, const char* name);

// ReadsBack: as the setting says, else where dev is not known to be in memory (a copy learnt it).
bool ReadsBack(dev_t dev);
// A copy from one device path to another onto dev completed: it is read back at dev's flush.
// source: the source's status when copied; a source changed since fails as the source's.
void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to,
                   const struct stat& source);
// Check drops cached layers beneath dev and rereads the copies of its batch.
// Fails as "read back" on the path: Kind::Differs, ESTALE (replaced), or the read's error.
// The idle hook (activity.h) runs between files and blocks.
Status Check(dev_t dev);
// ReadPastCaches: what is read next of fd (a file on dev in the folder dirfd) comes from the card:
// its pages and, once per flush, those of the layers beneath dev are dropped.
void ReadPastCaches(int fd, dev_t dev, int dirfd);
// AlreadyThere: dst on dev, open in placed, when it holds the source's bytes (read past caches as
// Check reads) and its size and times stayed as looked up across the compare; else no descriptor.
// Fails with the read's error where it cannot be read.
Status AlreadyThere(int source, const ns::Entry& dst, dev_t dev, host::Fd& placed);

}  // namespace wce::kernel::batch
