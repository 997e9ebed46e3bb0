// The kernel's own threads, as far as the host-call table and fault injection need to know them:
// before a test replaces host calls or arms a fault, every thread that makes host calls of its
// own is brought to rest, so faults fire on the caller's thread, in the caller's order.
#pragma once

namespace wce::kernel::workers {

using QuiesceFn = void (*)();
// A thread's owner registers how to bring it to rest (once, when the thread starts).
void Register(QuiesceFn quiesce);
// Brings every registered thread to rest; returns when none makes host calls.
void QuiesceAll();

}  // namespace wce::kernel::workers
