#include "platform/kernel/activity.h"

namespace wce::kernel {
namespace {
Activity* g_listener = nullptr;
void (*g_idle)() = nullptr;
}  // namespace

void SetActivity(Activity* listener) {
    g_listener = listener;
}
Activity* CurrentActivity() {
    return g_listener;
}

void SetIdleHook(void (*hook)()) {
    g_idle = hook;
}
void Idle() {
    if (g_idle != nullptr) g_idle();
}

void ReportFailure(const Activity::Failure& failure) {
    if (g_listener != nullptr) g_listener->Failed(failure);
}

void ReportNotice(std::string_view sentence) {
    if (g_listener != nullptr) g_listener->Noticed(sentence);
}

}  // namespace wce::kernel
