// What the kernel may spend in host calls on a piece of work, in one table: a test counts from a
// ClearFaults() over the work a row names and checks it with ExpectWithin. A bound is the promise
// of its row's why; raising one is a decision about cost, not a fix of a test.
#pragma once

#include <gtest/gtest.h>

#include "platform/kernel/host/faults.h"

namespace wce::test {

struct CallBudget {
    const char* what;
    unsigned ops;  // a bit per HostOp, counted together
    int most;
    const char* why;
    int least = 0;  // fewer means a cache answered what it must ask the host again
};

constexpr unsigned Ops(auto... op) {
    return ((1u << unsigned(op)) | ...);
}

namespace budget {
using kernel::HostOp;
inline constexpr CallBudget kCloneTriedOnce{
    "two copies between the same devices, clones refused", Ops(HostOp::Ioctl), 1,
    "a refusal is remembered per device pair: no file pays for a call that cannot work"};
inline constexpr CallBudget kOnePlacingCallEach{
    "two copies into a folder this process made, no exclusive rename, no unnamed files",
    Ops(HostOp::Rename, HostOp::Link, HostOp::Unlink), 2,
    "a rename places each file: linking and unlinking cost a FUSE driver two more round trips"};
inline constexpr CallBudget kReplacingListsOnce{
    "four copies onto existing files of one folder, 60 ms apart", Ops(HostOp::ReadDir), 2,
    "names found as spelled need no table: the folder is listed once, for dead temporaries"};
inline constexpr CallBudget kKeptIsNotWritten{
    "a copy onto a target the card already holds right, read-back on",
    Ops(HostOp::Write, HostOp::CopyRange, HostOp::Rename), 0,
    "the target is proven by reading it: a reinstall costs a read, not a write"};
inline constexpr CallBudget kFatBitsOnly{
    "attributes set and read on a FAT medium", Ops(HostOp::SetXattr), 0,
    "the medium's own bits hold them; nothing is written beside them"};
inline constexpr CallBudget kOneStatFsPerDevice{
    "attributes set and read on one device", Ops(HostOp::StatFs), 1,
    "a filesystem's traits are looked up once per device", 1};
inline constexpr CallBudget kNodesKeptWithinATick{
    "twenty look-ups two folders deep within one tick, the folders walked once before",
    Ops(HostOp::Open), 0, "a folder node is trusted within its tick: no folder is opened again"};
inline constexpr CallBudget kNodesComparedAfterATick{
    "one look-up two folders deep after a tick", Ops(HostOp::Stat), 2,
    "past its tick the folder holding the file is compared with the host and the file looked at; "
    "the folders above it wait for their own window (50 ms)",
    2};
inline constexpr CallBudget kNodesUpComparedAfterTheirWindow{
    "one look-up two folders deep after 50 ms", Ops(HostOp::Stat), 4,
    "past their window the folders above are compared too (root, one folder), then the folder "
    "holding the file, then the file",
    4};
inline constexpr CallBudget kReadBackDropsCaches{
    "three copies read back at the flush", Ops(HostOp::Advise), 3,
    "each placed file's cached pages are dropped before it is reread: the bytes come from the "
    "card",
    3};
inline constexpr CallBudget kEnumeratedAttributes{
    "one entry enumerated and queried, no relative attribute call", Ops(HostOp::GetXattr), 2,
    "one refused relative call, one path call; the query right after is answered by the listing"};
}  // namespace budget

inline void ExpectWithin(const CallBudget& b) {
    int calls = 0;
    for (unsigned op = 0; op < unsigned(kernel::HostOp::Count_); ++op)
        if (b.ops & (1u << op)) calls += kernel::HostCallCount(kernel::HostOp(op));
    EXPECT_LE(calls, b.most) << b.what << ": " << b.why;
    EXPECT_GE(calls, b.least) << b.what << ": " << b.why;
}

}  // namespace wce::test
