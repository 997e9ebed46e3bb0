// Fault injection at the host boundary: every host system call of the kernel part goes through
// one table, so a test can fail the n-th call of an operation with an errno of its choice.
#pragma once

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
    Count_
};

// Fails the nth call (1-based, counted from this call) of op with err; with persistent, that
// call and every later one fail.
void InjectFault(HostOp op, int nth, int err, bool persistent = false);
void ClearFaults();
// Calls of op since the last ClearFaults() (counted only from the first InjectFault or
// ClearFaults of the process on, so that the program itself never counts).
int HostCallCount(HostOp op);
// Calls of op failed by an injected fault since the last ClearFaults(): a test proves with it
// that its fault happened, not only that the outcome looked like one.
int FaultsFired(HostOp op);
// Whether any fault is armed; work is then kept on the calling thread, where faults fire in order.
bool FaultsArmed();

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
