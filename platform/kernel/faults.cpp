#include "platform/kernel/faults.h"

#include <array>
#include <atomic>

#include "platform/kernel/host_ops.h"
#include "platform/kernel/workers.h"

namespace wce::kernel {
namespace {

struct Fault {
    int remaining = 0;  // calls left before the failing one; 0 = none armed
    int err = 0;
    bool persistent = false;
    bool firing = false;
};

constexpr auto kOps = static_cast<size_t>(HostOp::Count_);
// Counted from any thread (enumerations are described ahead on a second one); faults are armed
// and fired on the calling thread only, see FaultsArmed().
// One cache line per counter: three threads count their calls, mostly of different operations.
struct alignas(64) Counter {
    std::atomic<int> n{0};
};
std::array<Counter, kOps> g_calls{};
std::array<std::atomic<int>, kOps> g_fired{};
std::array<Fault, kOps> g_faults{};
std::atomic<bool> g_anyFault{false};

}  // namespace

void InjectFault(HostOp op, int nth, int err, bool persistent) {
    // Armed first, so the helper thread stops making calls; the faults are written once it has.
    g_anyFault = true;
    workers::QuiesceAll();
    auto& f = g_faults[static_cast<size_t>(op)];
    f = Fault{nth < 1 ? 1 : nth, err, persistent, false};
}

void ClearFaults() {
    for (auto& c : g_calls) c.n.store(0, std::memory_order_relaxed);
    for (auto& c : g_fired) c.store(0, std::memory_order_relaxed);
    g_faults.fill(Fault{});
    g_anyFault = false;
}

int HostCallCount(HostOp op) { return g_calls[static_cast<size_t>(op)].n.load(std::memory_order_relaxed); }

int FaultsFired(HostOp op) { return g_fired[static_cast<size_t>(op)].load(std::memory_order_relaxed); }

bool FaultsArmed() { return g_anyFault.load(std::memory_order_relaxed); }

int host::Tick(HostOp op) {
    auto i = static_cast<size_t>(op);
    g_calls[i].n.fetch_add(1, std::memory_order_relaxed);
    if (!g_anyFault.load(std::memory_order_relaxed)) return 0;
    auto& f = g_faults[i];
    if (!f.firing) {
        if (f.remaining == 0 || --f.remaining > 0) return 0;
        f.firing = f.persistent;
    }
    g_fired[i].fetch_add(1, std::memory_order_relaxed);
    return f.err;
}

}  // namespace wce::kernel
