// The attribute word on the host, kept where the filesystem keeps it (filesystems.h): on a FAT
// medium the medium's own attribute bits (the FAT attribute ioctls); on NTFS through its FUSE
// driver the word Windows keeps (system.ntfs_attrib_be); elsewhere read-only is the owner's write
// permission and hidden / system live in the user.DOSATTRIB extended attribute as hex text
// ("0x2"), which is also what file servers put first in their binary form. A filesystem with
// none of these (FAT through FUSE) keeps no attributes: its files read as plain ones. A folder is
// never made read-only on the host (that would stop files being created in it), so the read-only
// bit of a folder only reports its mode.
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

// The word of an existing entry; it fails when it cannot be read (for instance the file vanished
// after st was taken).
Result<DWORD> Read(const Location& where, const struct stat& st);
inline Result<DWORD> Read(const std::string& path, const struct stat& st) {
    return Read(Location{AT_FDCWD, path.c_str(), {}}, st);
}
// Sets read-only, hidden and system as in attrs (FILE_ATTRIBUTE_NORMAL clears them); fails with
// ENOTSUP when hidden or system is asked for where the filesystem keeps no user attributes.
Status Write(const Location& where, const struct stat& st, DWORD attrs);
// Write, for an entry e looked up: what was read of it before is out of date after.
Status Set(const ns::HostEntry& e, DWORD attrs);
// Gives a just-created file (open as fd) the settable bits of attrs.
Status WriteNew(int fd, const std::string& path, const struct stat& st, DWORD attrs);
// A host time as the device counts it: 100 ns intervals since 1601.
inline FILETIME FileTimeOf(const timespec& t) {
    const auto ticks = static_cast<std::uint64_t>(t.tv_sec + 11644473600LL) * 10000000ULL +
                       static_cast<std::uint64_t>(t.tv_nsec / 100);
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
// The hidden / system bits held in a user.DOSATTRIB value (text or binary form).
DWORD ParseDosAttrib(const char* value, size_t size);
// The read-only, hidden and system bits of an NTFS attribute word as the FUSE driver gives it
// (system.ntfs_attrib_be: four bytes, most significant first); -1 for a value of another size.
long ParseNtfsAttrib(const unsigned char* value, size_t size);
}  // namespace wce::kernel::attrs
