// The table behind HANDLE values: enumerations and open files.
#pragma once

#include <memory>

#include "platform/kernel/wintypes.h"

namespace wce::kernel::handles {

struct Object {
    virtual ~Object() = default;
};

HANDLE Add(std::unique_ptr<Object> object);
Object* Lookup(HANDLE h);
template <class T>
T* Get(HANDLE h) {
    return dynamic_cast<T*>(Lookup(h));
}
// False when h is not an open handle.
bool Remove(HANDLE h);
int Count();

}  // namespace wce::kernel::handles
