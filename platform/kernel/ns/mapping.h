// Which host folders stand for the device and its medium: the user's setting, kept apart from
// what is learnt of them (it survives Forget). Only ns/ includes it.
#pragma once

#include <string>

namespace wce::kernel::ns {

struct Mapping {
    std::string rootHost, mediumHost;  // as configured
    std::string rootReal, mediumReal;  // with their links resolved, for links that name them
    std::u16string mediumName;
};
// Never destroyed: exiting statics may still resolve a path.
extern Mapping& g_mapping;

}  // namespace wce::kernel::ns
