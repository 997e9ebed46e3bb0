// Which host folders stand for the device and its medium: the user's setting, kept apart from
// what is learnt of them (it survives Forget). Only ns/ includes it.
#pragma once

#include <string>

#include "platform/kernel/host/result.h"

namespace wce::kernel::ns {

struct Mapping {
    std::string rootHost, mediumHost;  // as configured
    std::string rootReal, mediumReal;  // with their links resolved, for links that name them
    std::u16string mediumName;
};
Mapping& Mapped();

// Canonical follows every link of a host path, one component at a time: for the mapping only.
Status Canonical(const std::string& in, std::string& out);

}  // namespace wce::kernel::ns
