// Free space and cluster geometry of the filesystem that holds a device folder.
#include <sys/statfs.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/kernel/device.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"

namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kMaxDword = 0xFFFFFFFF;

// The host filesystem's figures for a device folder ("\ROMDisk\" or "\ROMDisk").
bool StatOf(LPCWSTR lpPath, struct statfs& st) {
    if (lpPath == nullptr) return wce::kernel::Fail(ERROR_INVALID_PARAMETER);
    std::u16string path(lpPath);
    while (path.size() > 1 && path.back() == u'\\') path.pop_back();
    wce::kernel::ns::NodeRef folder;
    if (!wce::kernel::ns::ResolveFolder(path, folder))
        return wce::kernel::Fail(ERROR_PATH_NOT_FOUND);
    if (wce::kernel::host::Live().fstatfs(folder->fd.get(), &st) != 0)
        return wce::kernel::Fail(wce::kernel::HostError("fstatfs"));
    return true;
}

std::uint64_t UnitBytes(const struct statfs& st) {
    return static_cast<std::uint64_t>(st.f_frsize > 0 ? st.f_frsize : st.f_bsize);
}

void Put(ULARGE_INTEGER* out, std::uint64_t value) {
    if (out != nullptr) out->QuadPart = value;
}

}  // namespace

BOOL GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, ULARGE_INTEGER* lpFreeBytesAvailableToCaller,
                         ULARGE_INTEGER* lpTotalNumberOfBytes,
                         ULARGE_INTEGER* lpTotalNumberOfFreeBytes) {
    struct statfs st {};
    if (!StatOf(lpDirectoryName, st)) return FALSE;
    const std::uint64_t unit = UnitBytes(st);
    Put(lpFreeBytesAvailableToCaller, unit * st.f_bavail);
    Put(lpTotalNumberOfBytes, unit * st.f_blocks);
    Put(lpTotalNumberOfFreeBytes, unit * st.f_bfree);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetDiskFreeSpaceW(LPCWSTR lpRootPathName, DWORD* lpSectorsPerCluster, DWORD* lpBytesPerSector,
                       DWORD* lpNumberOfFreeClusters, DWORD* lpTotalNumberOfClusters) {
    struct statfs st {};
    if (!StatOf(lpRootPathName, st)) return FALSE;
    const std::uint64_t unit = UnitBytes(st);
    // A unit that is no whole number of 512-byte sectors is one sector of its own size.
    const bool sectors = unit >= kSectorBytes && unit % kSectorBytes == 0;
    if (lpSectorsPerCluster != nullptr)
        *lpSectorsPerCluster = static_cast<DWORD>(sectors ? unit / kSectorBytes : 1);
    if (lpBytesPerSector != nullptr)
        *lpBytesPerSector = static_cast<DWORD>(sectors ? kSectorBytes : unit);
    if (lpNumberOfFreeClusters != nullptr)
        *lpNumberOfFreeClusters =
            static_cast<DWORD>(std::min<std::uint64_t>(st.f_bavail, kMaxDword));
    if (lpTotalNumberOfClusters != nullptr)
        *lpTotalNumberOfClusters =
            static_cast<DWORD>(std::min<std::uint64_t>(st.f_blocks, kMaxDword));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
