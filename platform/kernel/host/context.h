// What the kernel runs against, held by one object: the table of host calls (host_ops.h) with the
// faults a test arms around it (faults.h) and the clock every cache reads (fsinfo::Now). The
// kernel has no threads of its own: every call runs on its caller's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/kernel/host/faults.h"
#include "platform/kernel/host/host_ops.h"

namespace wce::kernel {

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

  private:
    static constexpr size_t Index(HostOp op) { return static_cast<size_t>(op); }
    static constexpr auto kOps = static_cast<size_t>(HostOp::Count_);
    struct Fault {
        int remaining = 0;  // calls left before the failing one; 0 = none armed
        int err = 0;
        bool persistent = false;
        bool firing = false;
    };
    struct Counter {
        std::atomic<int> n{0};
    };

    host::Ops ops_ = host::RealOps();
    std::atomic<bool> replaced_{false};
    std::array<Counter, kOps> calls_{};
    std::array<std::atomic<int>, kOps> fired_{};
    std::array<Fault, kOps> faults_{};
    std::atomic<bool> anyFault_{false};
    std::atomic<bool> observed_{false};  // a test has armed or cleared faults: calls are counted
    std::atomic<ClockFn> clock_{nullptr};
};

Context& Ctx();

}  // namespace wce::kernel
