// Layers beneath a filesystem down to what the card reader shows (a FUSE driver's device or image,
// a loop's backing file): flushes and read-backs must reach them, not the host's cache.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace wce::kernel::beneath {

struct Stack {
    bool fuse = false;
    std::string mountPoint;           // where the filesystem is mounted, for the words below
    std::vector<std::string> layers;  // host paths, topmost first
    // unreachable: why a layer beneath FUSE was not found (flush all; cache may answer), else "".
    std::string unreachable;
};

// Inspect reads only libmount's mount table, /proc and /sys (fdinfo fuse_connection, Linux 6.x).
Stack Inspect(dev_t dev);

}  // namespace wce::kernel::beneath
