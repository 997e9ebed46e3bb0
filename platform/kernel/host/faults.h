// Fault injection at the host boundary, for tests: a layer over the table of host calls
// (host_ops.h), put in place by the first InjectFault or ClearFaults, counts the calls of each
// operation and fails the n-th with an errno of the test's choice. The program itself never
// links it, so its own calls go straight to the table.
#pragma once

#include <functional>

namespace wce::kernel {

enum class HostOp {
    Open,
    Close,
    Read,
    Write,
    Stat,
    ReadDir,
    Mkdir,
    Unlink,
    Rename,
    Chmod,
    GetXattr,
    SetXattr,
    Ioctl,
    CopyRange,
    SyncFs,
    Realloc,
    StatFs,
    ReadLink,
    Link,
    SyncRange,
    Advise,  // posix_fadvise: counted, never failed (it answers an error number, not -1)
    Count_
};

// Fails the nth call (1-based, counted from this call) of op with err; with persistent, that
// call and every later one fail.
void InjectFault(HostOp op, int nth, int err, bool persistent = false);
void ClearFaults();
// Runs hook before each call of op, with the call's path (nullptr for a call on a descriptor),
// until it returns true: a test changes the host at the exact moment between two calls.
void BeforeCall(HostOp op, std::function<bool(const char* path)> hook);
// Calls of op since the last ClearFaults() (counted from the first InjectFault or ClearFaults on).
int HostCallCount(HostOp op);
// Calls of op failed by an injected fault since the last ClearFaults(): a test proves with it
// that its fault happened, not only that the outcome looked like one.
int FaultsFired(HostOp op);

// Clears all faults when it goes out of scope.
class FaultScope {
  public:
    FaultScope() = default;
    FaultScope(const FaultScope&) = delete;
    FaultScope& operator=(const FaultScope&) = delete;
    ~FaultScope() { ClearFaults(); }
    void Fail(HostOp op, int nth, int err, bool persistent = false) {
        InjectFault(op, nth, err, persistent);
    }
};

}  // namespace wce::kernel
