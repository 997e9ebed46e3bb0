// Write-behind: a copied file's data is sent to its medium as soon as it is written, and the data
// still unwritten on a filesystem is kept under a bound (about a quarter second of the medium's
// writing) by waiting for the oldest of it before more is copied. Progress shown per file then
// follows what has reached the medium, and the flush at the end of a tree is short. Filesystems in
// memory are left alone, and so are FUSE filesystems, whose writes reach their driver at once;
// where the host cannot start a write-back, nothing is done and the copy goes on.
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

// Data not yet on the medium that a copy may leave behind it, per filesystem, until the medium
// has shown its pace; then a quarter second of writing at that pace (at least this much).
inline constexpr off_t kBound = 4 << 20;
// A file copied in pieces no larger than this starts the write-back of each piece in turn.
inline constexpr off_t kPiece = 2 << 20;

// Whether files on a filesystem with traits t get written behind.
bool Applies(dev_t dev, const fsinfo::Traits& t);
// Bytes [pos, pos + len) of the new file fd on dev have been written: starts their write-back
// and waits for older data of dev until no more than the bound is left unwritten; small files
// are settled together by a flush of the filesystem. A write-back error met on the way (of this
// file or an earlier one) is the caller's failure: that data did not reach the medium.
Status Start(int fd, dev_t dev, off_t pos, off_t len);
// Before the first write onto dev: keeps a descriptor of that filesystem, opened from the folder
// dirfd/dir, and of each layer beneath it (beneath.h), whose flush then reports every write-back
// error from that moment on (a descriptor opened at the flush would see none of those).
void Watch(dev_t dev, int dirfd, const char* dir);
// The filesystems written since they were last settled.
std::vector<dev_t> Watched();
// Writes what was written onto dev out to its card: syncfs of the filesystem (through the
// descriptor Watch keeps, else fd), then, beneath a FUSE filesystem, an fsync of each layer,
// which waits for this card alone and reports its write-back errors. Only where syncfs is
// refused or a layer beneath FUSE cannot be reached is every filesystem flushed (sync, which
// reports no error). Fails with the errno of the flush that failed.
Status Flush(dev_t dev, int fd);
// Lets go of the clean cached pages of every layer beneath dev, so that what is read next comes
// from the card. Returns, in words, why a read may still be served from the host's cache
// (a layer beneath FUSE that could not be reached), or "".
std::string DropCached(dev_t dev);
// True the first time it is asked for dev (watched) since dev was last settled.
bool FirstLookSinceFlush(dev_t dev);
// Everything of dev has been flushed (or is no longer of interest): lets go of what is tracked.
void Settled(dev_t dev);
// A file whose copy failed is let go of before it is removed, so no descriptor keeps it alive.
void Untrack(int fd);
void Untrack(int dirfd, const char* name);

}  // namespace wce::kernel::writeback
