// The word lives per filesystems.h: FAT ioctls, NTFS-FUSE system.ntfs_attrib_be, else mode plus
// user.DOSATTRIB hex; FAT-FUSE keeps none. Folders never go read-only (no new files then).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/kernel/files.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/wintypes.h"

namespace wce::kernel::attrs {

inline constexpr char kXattrName[] = "user.DOSATTRIB";
inline constexpr DWORD kSettable =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

using ns::Location;

// Read: the entry's word into out; fails when it cannot be read (vanished after st was taken).
Status Read(const Location& where, const struct stat& st, DWORD& out);
// Write sets read-only/hidden/system (NORMAL clears); ENOTSUP for hidden/system without xattrs.
// What the folder node knew of the entry is forgotten.
Status Write(const Location& where, const struct stat& st, DWORD attrs);
// WriteOpen is Write through a descriptor of the entry st describes.
Status WriteOpen(int fd, const struct stat& st, DWORD attrs);
// Gives a just-created file (open as fd) the settable bits of attrs.
Status WriteNew(int fd, const struct stat& st, DWORD attrs);
// A host time as the device counts it: 100 ns intervals since 1601.
inline FILETIME FileTimeOf(const timespec& t) {
    const auto ticks = static_cast<std::uint64_t>(t.tv_sec + 11644473600LL) * 10000000ULL +
                       static_cast<std::uint64_t>(t.tv_nsec / 100);
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
// The hidden / system bits held in a user.DOSATTRIB value (text or binary form).
DWORD ParseDosAttrib(const char* value, size_t size);
// ParseNtfsAttrib: system.ntfs_attrib_be is 4 bytes, most significant first; -1 for other sizes.
long ParseNtfsAttrib(const unsigned char* value, size_t size);
}  // namespace wce::kernel::attrs
