// Read-back: after a filesystem has been flushed, every file copied onto it is read again from
// the medium (its cached pages let go of first) and compared with the file it was copied from,
// so that a card that drops or garbles writes fails the install instead of passing it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace wce::kernel::verify {

// Whether files copied onto the filesystem dev are read back: as the setting says, else wherever
// the filesystem is not known to be in memory (a copy there has learnt what it is).
bool Applies(dev_t dev);
// A copy from one device path to another onto dev completed: it is read back at dev's flush.
void ReadBackLater(dev_t dev, std::u16string_view from, std::u16string_view to);
// A copy failed: the work it belonged to has failed already, and what waited to be read back is
// forgotten (it may be changed or gone by the next flush).
void Untrack();
// Reads back and compares every file copied onto dev since its last flush, and forgets them,
// after the cached pages of the layers beneath dev were let go of (writeback::DropCached; where
// one cannot be reached the listener is told so in words). Fails as "read back" on the file's
// device path: Kind::Differs where it holds other bytes, ESTALE where another entry replaced it
// since, else as its read failed. The idle hook (activity.h) runs between files and blocks.
Status Check(dev_t dev);

// Before a copy onto the existing regular file dst (confined, on dev) of the source's size:
// whether the card already holds the open source's bytes there, read past the host's caches as
// a read-back reads (the layers beneath dev dropped at the first look after each flush, the
// file's own pages before it is read). False
// for a difference, the read's error where the file cannot be read.
Result<bool> AlreadyThere(int source, const ns::HostEntry& dst, dev_t dev);

}  // namespace wce::kernel::verify
