#include "platform/kernel/host/context.h"

#include <time.h>

namespace wce::kernel {

// Never destroyed: static objects may still make host calls while the process exits.
Context& Ctx() {
    static Context* c = new Context;
    return *c;
}

host::Ops& Context::Table() {
    replaced_.store(true, std::memory_order_relaxed);
    return ops_;
}

void Context::RestoreOps() {
    ops_ = host::RealOps();
    replaced_.store(false, std::memory_order_relaxed);
}

void Context::Inject(HostOp op, int nth, int err, bool persistent) {
    observed_.store(true, std::memory_order_relaxed);
    anyFault_.store(true, std::memory_order_relaxed);
    faults_[Index(op)] = Fault{nth < 1 ? 1 : nth, err, persistent, false};
}

void Context::ClearFaults() {
    observed_.store(true, std::memory_order_relaxed);
    for (auto& c : calls_) c.n.store(0, std::memory_order_relaxed);
    for (auto& c : fired_) c.store(0, std::memory_order_relaxed);
    faults_.fill(Fault{});
    anyFault_.store(false, std::memory_order_relaxed);
}

int Context::Tick(HostOp op) {
    // Calls are counted only once a test has asked for faults or counts: the program pays nothing.
    if (!observed_.load(std::memory_order_relaxed)) return 0;
    const size_t i = Index(op);
    calls_[i].n.fetch_add(1, std::memory_order_relaxed);
    if (!anyFault_.load(std::memory_order_relaxed)) return 0;
    Fault& f = faults_[i];
    if (!f.firing) {
        if (f.remaining == 0 || --f.remaining > 0) return 0;
        f.firing = f.persistent;
    }
    fired_[i].fetch_add(1, std::memory_order_relaxed);
    return f.err;
}

int64_t Context::Now() const {
    if (ClockFn c = clock_.load(std::memory_order_relaxed)) return c();
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// The public forms (faults.h, host_ops.h, filesystems.h).
void InjectFault(HostOp op, int nth, int err, bool persistent) {
    Ctx().Inject(op, nth, err, persistent);
}
void ClearFaults() {
    Ctx().ClearFaults();
}
int HostCallCount(HostOp op) {
    return Ctx().Calls(op);
}
int FaultsFired(HostOp op) {
    return Ctx().Fired(op);
}
bool FaultsArmed() {
    return Ctx().Armed();
}

}  // namespace wce::kernel
