// Write-behind: copies start to the medium at once, kept within ~0.25 s of its writing, so progress
// follows the medium and the last flush is short; not in memory, on FUSE, or where refused.
#pragma once

#include <sys/types.h>

#include <cstdint>
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
// Everything of dev has been flushed (or is no longer of interest): lets go of what is tracked.
void Settled(dev_t dev);
// A file whose copy failed is let go of before it is removed, so no descriptor keeps it alive.
void Untrack(int fd);
void Untrack(int dirfd, const char* name);

}  // namespace wce::kernel::writeback
