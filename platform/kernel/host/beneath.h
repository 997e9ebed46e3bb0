// What lies beneath a filesystem, down to what the card's reader shows the host: for a FUSE
// filesystem the block device or image file its driver writes through the host's caches, and
// for a loop device its backing file. A flush has to reach those layers, and a read-back has to
// get past their cached pages, or it proves only what the host remembers.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace wce::kernel::beneath {

struct Stack {
    bool fuse = false;
    std::string mountPoint;           // where the filesystem is mounted, for the words below
    std::vector<std::string> layers;  // host paths, topmost first
    // Why a layer beneath a FUSE filesystem could not be found, in words; empty when none is
    // missing. A flush then has to flush every filesystem, and a read-back may be served from
    // the host's cache.
    std::string unreachable;
};

// Looks dev up in the mount table (libmount) and, for a FUSE filesystem whose table entry does
// not name its medium, among the open files of its driver (the /dev/fuse descriptor's
// fuse_connection in /proc, Linux 6.x). Reads only the mount table, /proc and /sys.
Stack Inspect(dev_t dev);

}  // namespace wce::kernel::beneath
