#include "platform/kernel/activity.h"

namespace wce::kernel {
namespace {
Activity* g_listener = nullptr;
}

void SetActivity(Activity* listener) {
    g_listener = listener;
}
Activity* CurrentActivity() {
    return g_listener;
}

namespace {
void (*g_idle)() = nullptr;
}

void SetIdleHook(void (*hook)()) {
    g_idle = hook;
}
void Idle() {
    if (g_idle != nullptr) g_idle();
}

void ReportFailure(std::string_view action, std::u16string_view path, int err) {
    if (g_listener != nullptr) g_listener->Failed(action, path, err);
}

void ReportNotice(std::string_view sentence) {
    if (g_listener != nullptr) g_listener->Noticed(sentence);
}

}  // namespace wce::kernel
