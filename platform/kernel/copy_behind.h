// Copies that finish behind the caller. Where the device allows it (DeviceConfig::copyBehind),
// a copy onto a new name, on a filesystem with unnamed files and nothing to write back, is
// opened and checked by the caller, who also makes the unnamed file for it in the target folder,
// and then handed to a worker thread, which writes the data and links the file under its name
// (the work of a copy falls about evenly on the two threads). A walk that copies many small files so keeps
// both processors busy: the caller looks up and shows the next files while the worker copies.
//
// What the caller sees stays the device's:
// - A call that looks at or changes a name a queued copy will create waits for that copy first
//   (Touches, Settle): nobody sees a target missing that an earlier call reported copied.
// - The worker takes only the plain path. Anything else (a name taken meanwhile, a feature the
//   filesystem refuses, an error) stops it at that copy, and the caller makes that copy and every
//   later one again, in order, the usual way: refusals are learnt and errors reported there.
//   The first failure drops the copies after it, unwritten. No copy ever leaves a torn file: an
//   unnamed file that is not linked vanishes.
// - A failure is reported by the caller's next copy (its own error) or flush
//   (ERROR_LOST_WRITEBEHIND_DATA), whichever comes first; the copy it arrives at is not made.
// - With faults armed, host calls replaced, or one processor, nothing is queued.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/kernel/host_ops.h"
#include "platform/kernel/namespace.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::behind {

struct Job {
    std::u16string from, to;  // the caller's paths: a copy handed back is made again from them
    BOOL failIfExists = FALSE;
    host::Fd in;              // the open source
    host::Fd out;             // the unnamed file made for it in the target folder
    off_t size = 0;           // its size when opened
    bool clone = false;       // try a clone first
    bool range = false;       // else copy_file_range; else read and write
    std::string dir, name;    // the target's folder and name on the host
};

// Whether a copy may be queued now (the device allows it, two processors, the real host calls,
// no faults armed).
bool Available();
// Queues a checked copy (taking job's contents); waits while the queue is full. False, with job
// as it was, when no worker can be had (the caller copies) or when making room turned up a
// failure of an earlier copy (TakeFailure has it).
bool Queue(Job& job);

// Takes in what the worker finished (telling the name tables) and makes again, here, what it
// handed back: without wait, only once there is enough to take (a handed-back copy or half a
// queue); with wait, everything, after waiting for every queued copy. A failure is kept for
// TakeFailure.
void Settle(bool wait);
// The first failure of a queued copy not yet reported, if any; cleared.
Status TakeFailure();
// Whether copies are queued: the enumeration helper then leaves the second processor to them.
bool Busy();
// Whether a queued copy will create name in the host folder dir (any name, for an empty one).
bool Touches(std::string_view dir, std::string_view name);
// ns::Resolve, after any queued copy onto the entry's name has been made.
Status Resolve(std::u16string_view path, ns::HostEntry& e);
// ns::OpenExisting, the same way.
Status OpenExisting(std::u16string_view path, ns::HostEntry& e, host::Fd& fd, int flags);

// The caller's own copy, made at once (copy_posix.cpp): what a handed-back copy runs through.
Status CopyNow(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
// The caller's plain data copy, from pos to the end, read and written (copy_posix.cpp).
Status CopyByReadWrite(int in, int out, off_t pos);

}  // namespace wce::kernel::behind
