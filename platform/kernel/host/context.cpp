#include "platform/kernel/host/context.h"

namespace wce::kernel {

std::atomic<const host::Ops*> g_liveOps{nullptr};
std::atomic<ClockFn> g_clock{nullptr};

// Never destroyed: static objects may still make host calls while the process exits.
Context& Ctx() {
    static Context* c = new Context;
    return *c;
}

}  // namespace wce::kernel
