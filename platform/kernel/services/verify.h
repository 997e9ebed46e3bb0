// Read-back: after a flush, copies are reread past caches and compared; a card losing writes fails.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::verify {

// Applies: as the setting says, else where dev is not known to be in memory (a copy learnt it).
bool Applies(dev_t dev);
// A copy from one device path to another onto dev completed: it is read back at dev's flush.
// source: the source's status when copied; a source changed since fails as the source's.
void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to,
                   const struct stat& source);
// Check drops cached layers beneath dev (writeback::DropCached) and rereads the copies of its
// batch; the flush then closes the batch.
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

}  // namespace wce::kernel::verify
