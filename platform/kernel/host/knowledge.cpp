#include "platform/kernel/host/knowledge.h"

namespace wce::kernel {

Knowledge& Known() {
    static Knowledge* k = new Knowledge;
    return *k;
}

}  // namespace wce::kernel
