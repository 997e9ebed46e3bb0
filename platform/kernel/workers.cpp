#include "platform/kernel/workers.h"

#include <array>
#include <atomic>

namespace wce::kernel::workers {
namespace {

// Two kinds of thread exist (the enumeration helper and the copy worker); room for a few more.
std::array<std::atomic<QuiesceFn>, 4> g_registered{};

}  // namespace

void Register(QuiesceFn quiesce) {
    for (auto& slot : g_registered) {
        QuiesceFn none = nullptr;
        if (slot.load() == quiesce || slot.compare_exchange_strong(none, quiesce)) return;
    }
}

void QuiesceAll() {
    for (auto& slot : g_registered)
        if (QuiesceFn f = slot.load()) f();
}

}  // namespace wce::kernel::workers
