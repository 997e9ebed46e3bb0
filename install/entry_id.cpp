// Identity through the platform: the volume and file index of the entry a path opens.
#include "install/entry_id.h"

#include "platform/kernel/files.h"

namespace install {

EntryId EntryIdOf(LPCWSTR pszDevicePath) {
    HANDLE hEntry = CreateFileW(pszDevicePath, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (hEntry == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL bKnown = GetFileInformationByHandle(hEntry, &info);
    CloseHandle(hEntry);
    if (!bKnown) return {};
    return {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, true};
}

}  // namespace install
