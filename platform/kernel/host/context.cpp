#include "platform/kernel/host/context.h"

#include <time.h>

namespace wce::kernel {

std::atomic<const host::Ops*> g_liveOps{nullptr};

// Never destroyed: static objects may still make host calls while the process exits.
Context& Ctx() {
    static Context* c = new Context;
    return *c;
}

int64_t Context::Now() const {
    if (ClockFn c = clock_.load(std::memory_order_relaxed)) return c();
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

}  // namespace wce::kernel
