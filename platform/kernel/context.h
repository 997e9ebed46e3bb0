// What the kernel runs against, held by one object: the table of host calls (host_ops.h) with the
// faults a test arms around it (faults.h), the clock every cache reads (fsinfo::Now), and the
// threads that work beside the caller. The table, the clock and the faults change only through
// it, and it brings every thread to rest first: no thread ever runs against a table being
// replaced, and an armed fault fires on the caller's thread, in the caller's order. It stops and
// joins the threads when the process exits, the last started first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/kernel/faults.h"
#include "platform/kernel/host_ops.h"

namespace wce::kernel {

// A thread of the kernel's own, as the context sees it.
class Thread {
public:
    // Returns once the thread makes no host calls and holds nothing read from the host.
    virtual void Quiesce() = 0;
    // Ends the thread and waits for it (at exit).
    virtual void Stop() = 0;

protected:
    ~Thread() = default;
};

// How the enumeration helper shares a folder's entries with the caller; tests choose one to
// make each side's part happen for certain rather than by chance.
enum class Sharing : unsigned char {
    Racing,  // both read, each from its end, until they meet
    Ahead,   // the helper reads every entry before the caller is given the first
    Off,     // the caller reads everything
};

class Context {
public:
    // The live host calls (host::Table, host::RestoreOps).
    host::Ops& Table();
    void RestoreOps();
    bool OpsAreReal() const { return !replaced_.load(std::memory_order_relaxed); }
    const host::Ops& ops() const { return ops_; }

    // Faults (faults.h); Tick counts a call of op and gives the errno it is to fail with, or 0.
    void Inject(HostOp op, int nth, int err, bool persistent);
    void ClearFaults();
    int Calls(HostOp op) const { return calls_[Index(op)].n.load(std::memory_order_relaxed); }
    int Fired(HostOp op) const { return fired_[Index(op)].load(std::memory_order_relaxed); }
    bool Armed() const { return anyFault_.load(std::memory_order_relaxed); }
    int Tick(HostOp op);

    // The clock of fsinfo::Now: nanoseconds of real time; nullptr is the coarse real-time clock.
    using ClockFn = int64_t (*)();
    int64_t Now() const;
    void SetClock(ClockFn clock) { clock_.store(clock, std::memory_order_relaxed); }

    // A thread started: the context brings it to rest when asked, and stops it at exit.
    void Adopt(Thread* t);
    void QuiesceAll();
    Sharing sharing() const { return sharing_.load(std::memory_order_relaxed); }
    void SetSharing(Sharing s);

private:
    static constexpr size_t Index(HostOp op) { return static_cast<size_t>(op); }
    static constexpr auto kOps = static_cast<size_t>(HostOp::Count_);
    struct Fault {
        int remaining = 0;  // calls left before the failing one; 0 = none armed
        int err = 0;
        bool persistent = false;
        bool firing = false;
    };
    // One cache line per counter: up to three threads count their calls, mostly of different
    // operations.
    struct alignas(64) Counter {
        std::atomic<int> n{0};
    };
    void StopAll();

    host::Ops ops_ = host::RealOps();
    std::atomic<bool> replaced_{false};
    std::array<Counter, kOps> calls_{};
    std::array<std::atomic<int>, kOps> fired_{};
    std::array<Fault, kOps> faults_{};  // written with every thread at rest; read by the caller
    std::atomic<bool> anyFault_{false};
    std::atomic<ClockFn> clock_{nullptr};
    std::array<std::atomic<Thread*>, 4> threads_{};
    std::atomic<Sharing> sharing_{Sharing::Racing};
};

Context& Ctx();

}  // namespace wce::kernel
