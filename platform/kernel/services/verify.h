// Read-back: after a flush, copies are reread past caches and compared; a card losing writes fails.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::verify {

// Applies: as the setting says, else where dev is not known to be in memory (a copy learnt it).
bool Applies(dev_t dev);
// A copy from one device path to another onto dev completed: it is read back at dev's flush.
void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to);
// Untrack: a copy failed, so its work has failed; what awaited read-back may be gone by the flush.
void Untrack();
// Check drops cached layers beneath dev (writeback::DropCached), rereads and forgets its copies.
// Fails as "read back" on the path: Kind::Differs, ESTALE (replaced), or the read's error.
// The idle hook (activity.h) runs between files and blocks.
Status Check(dev_t dev);

// AlreadyThere: dst on dev holds the source's bytes, read past caches as Check reads. False for
// a difference, the read's error where it cannot be read.
Result<bool> AlreadyThere(int source, const ns::HostEntry& dst, dev_t dev);

}  // namespace wce::kernel::verify
