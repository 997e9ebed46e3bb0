// Layers beneath a filesystem down to what the card reader shows (a FUSE driver's device or image,
// a loop's backing file): flushes and read-backs must reach them, not the host's cache.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/kernel/host/host_ops.h"

namespace wce::kernel::beneath {

// One layer, opened read-only and non-blocking once its type and identity were checked.
struct Layer {
    std::string path;  // for the words only: nothing is opened by it
    host::Fd fd;
};

struct Stack {
    bool fuse = false;
    std::string mountPoint;     // where the filesystem is mounted, for the words below
    std::vector<Layer> layers;  // topmost first
    // unreachable: why a layer beneath FUSE was not acted on (flush all; cache may answer), else
    // "".
    std::string unreachable;
};

// Inspect reads libmount's mount table, /proc and /sys, and opens only regular files and block
// devices of root's or this user's, reached through the driver's descriptors or the loop's record:
// no name another user can change is followed, and nothing is waited on (fdinfo, Linux 6.x).
Stack Inspect(dev_t dev);

}  // namespace wce::kernel::beneath
