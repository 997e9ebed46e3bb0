// Identity of a file or folder on the host, to recognise one entry reached by two paths.
#pragma once

#include <cstdint>

#include "platform/kernel/wintypes.h"

namespace install {

struct EntryId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool valid = false;
    bool operator==(const EntryId& o) const {
        return valid && o.valid && dev == o.dev && ino == o.ino;
    }
};

// Follows links. An invalid id (equal to nothing) when the path does not resolve or cannot be read.
EntryId EntryIdOf(LPCWSTR pszDevicePath);

}  // namespace install
