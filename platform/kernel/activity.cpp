#include "platform/kernel/activity.h"

namespace wce::kernel {

Activity* g_activity = nullptr;
void (*g_idle)() = nullptr;

void SetActivity(Activity* listener) {
    g_activity = listener;
}

void SetIdleHook(void (*hook)()) {
    g_idle = hook;
}

void ReportFailure(const Activity::Failure& failure) {
    if (g_activity != nullptr) g_activity->Failed(failure);
}

void ReportNotice(std::string_view sentence) {
    if (g_activity != nullptr) g_activity->Noticed(sentence);
}

}  // namespace wce::kernel
