#include "platform/kernel/context.h"

#include <time.h>

#include <cstdlib>

namespace wce::kernel {

// Never destroyed: the threads it stops at exit read it until they end.
Context& Ctx() {
    static Context* c = new Context;
    return *c;
}

host::Ops& Context::Table() {
    replaced_.store(true, std::memory_order_relaxed);
    QuiesceAll();
    return ops_;
}

void Context::RestoreOps() {
    replaced_.store(true, std::memory_order_relaxed);
    QuiesceAll();
    ops_ = host::RealOps();
    replaced_.store(false, std::memory_order_relaxed);
}

void Context::Inject(HostOp op, int nth, int err, bool persistent) {
    // Armed first, so the threads stop making calls; the fault is written once they have.
    anyFault_.store(true, std::memory_order_relaxed);
    QuiesceAll();
    faults_[Index(op)] = Fault{nth < 1 ? 1 : nth, err, persistent, false};
}

void Context::ClearFaults() {
    for (auto& c : calls_) c.n.store(0, std::memory_order_relaxed);
    for (auto& c : fired_) c.store(0, std::memory_order_relaxed);
    faults_.fill(Fault{});
    anyFault_.store(false, std::memory_order_relaxed);
}

int Context::Tick(HostOp op) {
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

void Context::Adopt(Thread* t) {
    for (size_t k = 0; k < threads_.size(); ++k) {
        Thread* none = nullptr;
        if (threads_[k].load() == t) return;
        if (threads_[k].compare_exchange_strong(none, t)) {
            if (k == 0) std::atexit([] { Ctx().StopAll(); });
            return;
        }
    }
    std::abort();  // more kinds of thread than slots: a programming error
}

void Context::QuiesceAll() {
    for (auto& slot : threads_)
        if (Thread* t = slot.load()) t->Quiesce();
}

void Context::StopAll() {
    for (size_t k = threads_.size(); k-- > 0;)
        if (Thread* t = threads_[k].load()) t->Stop();
}

void Context::SetSharing(Sharing s) {
    QuiesceAll();
    sharing_.store(s, std::memory_order_relaxed);
}

// The public forms (faults.h, host_ops.h, filesystems.h).
void InjectFault(HostOp op, int nth, int err, bool persistent) { Ctx().Inject(op, nth, err, persistent); }
void ClearFaults() { Ctx().ClearFaults(); }
int HostCallCount(HostOp op) { return Ctx().Calls(op); }
int FaultsFired(HostOp op) { return Ctx().Fired(op); }
bool FaultsArmed() { return Ctx().Armed(); }

}  // namespace wce::kernel
