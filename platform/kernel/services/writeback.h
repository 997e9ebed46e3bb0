// Write-behind: copies start to the medium at once, kept within ~0.25 s of its writing, so progress
// follows the medium and the last flush is short; not in memory, on FUSE, or where refused.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/kernel/host/beneath.h"
#include "platform/kernel/host/filesystems.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"

namespace wce::kernel::writeback {

// kBound: unwritten data per filesystem until the medium shows its pace, then 0.25 s of it (min).
inline constexpr off_t kBound = 4 << 20;
// A file copied in pieces no larger than this starts the write-back of each piece in turn.
inline constexpr off_t kPiece = 2 << 20;

// Whether files on traits t get written behind (not on FUSE: its writes reach the driver at once).
bool Applies(dev_t dev, const fsinfo::Traits& t);
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
// DropCached lets go of clean pages beneath dev; returns why cache may still answer, else "".
std::string DropCached(dev_t dev);
// True the first time it is asked for dev (watched) since dev was last settled.
bool FirstLookSinceFlush(dev_t dev);
// A filesystem's batch: what was started of its writing, and the copies that await read-back.
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
    bool looked = false;     // FirstLookSinceFlush asked
    beneath::Stack beneath;  // what lies under the filesystem, open since before its first write
    std::deque<Range> ranges;
    off_t bytes = 0;    // started and not yet waited for, in ranges
    off_t small = 0;    // of small files, since the last flush
    off_t done = 0;     // waited for since first
    int64_t first = 0;  // when the first range was started
    std::vector<ReadBack> readBacks;
};
// The batch of dev, opened where none is.
Batch& Open(dev_t dev);
// The flush of dev is done (or failed): its batch ends, read-backs and all.
void Close(dev_t dev);
// A new device mapping: every batch ends.
void CloseAll();
// A file whose copy failed is let go of before it is removed, so no descriptor keeps it alive.
void Untrack(int fd);
void Untrack(int dirfd, const char* name);

}  // namespace wce::kernel::writeback
