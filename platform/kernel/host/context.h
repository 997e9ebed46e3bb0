// What the kernel runs against: the host call table (host_ops.h), any test layer (faults.h) and
// the clock caches read (fsinfo::Now). No threads of its own: calls run on the caller's.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/kernel/host/host_ops.h"

namespace wce::kernel {

// The table every call goes through, once the context exists (host::Live reads it directly).
extern std::atomic<const host::Ops*> g_liveOps;
// The clock of fsinfo::Now: nanoseconds of real time; nullptr is the coarse real-time clock.
using ClockFn = int64_t (*)();
extern std::atomic<ClockFn> g_clock;

class Context {
  public:
    Context() { g_liveOps.store(&table_, std::memory_order_relaxed); }
    // The table the calls go through: the layer over the host's table where one is put, else it.
    const host::Ops& ops() const { return *g_liveOps.load(std::memory_order_relaxed); }
    // The host's table, whose entries tests may replace (host::Table, host::RestoreOps).
    host::Ops& Table() { return table_; }
    void RestoreOps() { table_ = host::RealOps(); }
    void Layer(const host::Ops* over) {
        g_liveOps.store(over != nullptr ? over : &table_, std::memory_order_relaxed);
    }

    void SetClock(ClockFn clock) { g_clock.store(clock, std::memory_order_relaxed); }

  private:
    host::Ops table_ = host::RealOps();
};

Context& Ctx();

}  // namespace wce::kernel
