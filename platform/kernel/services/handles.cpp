#include "platform/kernel/services/handles.h"

#include <cstdint>
#include <vector>

#include "platform/kernel/files.h"

namespace wce::kernel::handles {
namespace {

// Handle values keep clear of 0 and -1 and of small integers that a caller might confuse.
constexpr std::uintptr_t kBase = 0x10000;
constexpr std::uintptr_t kStep = 0x10;

struct Table {
    std::vector<std::unique_ptr<Object>> slots;
    std::vector<size_t> free;
    int live = 0;
};

Table& Slots() {
    static Table t;
    return t;
}

bool IndexOf(HANDLE h, size_t& index) {
    auto v = reinterpret_cast<std::uintptr_t>(h);
    if (v < kBase || (v - kBase) % kStep != 0) return false;
    index = (v - kBase) / kStep;
    return index < Slots().slots.size() && Slots().slots[index] != nullptr;
}

}  // namespace

HANDLE Add(std::unique_ptr<Object> object) {
    auto& t = Slots();
    size_t index = t.slots.size();
    if (!t.free.empty()) {
        index = t.free.back();
        t.free.pop_back();
        t.slots[index] = std::move(object);
    } else {
        t.slots.push_back(std::move(object));
    }
    ++t.live;
    return reinterpret_cast<HANDLE>(kBase + index * kStep);
}

Object* Lookup(HANDLE h) {
    size_t index = 0;
    return IndexOf(h, index) ? Slots().slots[index].get() : nullptr;
}

bool Remove(HANDLE h) {
    size_t index = 0;
    if (!IndexOf(h, index)) return false;
    Slots().slots[index].reset();
    Slots().free.push_back(index);
    --Slots().live;
    return true;
}

int Count() {
    return Slots().live;
}

}  // namespace wce::kernel::handles

int wce::kernel::OpenHandleCount() {
    return handles::Count();
}
