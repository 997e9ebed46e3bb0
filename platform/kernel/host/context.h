// What the kernel runs against, held by one object: the table of host calls (host_ops.h), with
// any layer a test puts over it (faults.h), and the clock every cache reads (fsinfo::Now). The
// kernel has no threads of its own: every call runs on its caller's thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/host/host_ops.h"

namespace wce::kernel {

class Context {
  public:
    // The table the calls go through: the layer over the host's table where one is put, else it.
    const host::Ops& ops() const { return *live_.load(std::memory_order_relaxed); }
    // The host's table, whose entries tests may replace (host::Table, host::RestoreOps).
    host::Ops& Table() { return table_; }
    void RestoreOps() { table_ = host::RealOps(); }
    void Layer(const host::Ops* over) {
        live_.store(over != nullptr ? over : &table_, std::memory_order_relaxed);
    }

    // The clock of fsinfo::Now: nanoseconds of real time; nullptr is the coarse real-time clock.
    using ClockFn = int64_t (*)();
    int64_t Now() const;
    void SetClock(ClockFn clock) { clock_.store(clock, std::memory_order_relaxed); }

  private:
    host::Ops table_ = host::RealOps();
    std::atomic<const host::Ops*> live_{&table_};
    std::atomic<ClockFn> clock_{nullptr};
};

Context& Ctx();

}  // namespace wce::kernel
