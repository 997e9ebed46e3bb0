// Host identity through the device namespace's own mapping.
#include "install/entry_id.h"

#include <sys/stat.h>

#include <string>

#include "platform/kernel/device.h"

namespace install {

EntryId EntryIdOf(LPCWSTR pszDevicePath)
{
    const auto host = wce::kernel::HostPathOf(std::u16string(pszDevicePath));
    struct stat st {};
    if (!host || ::stat(host->c_str(), &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), true};
}

bool SameEntry(LPCWSTR pszPathA, LPCWSTR pszPathB)
{
    return EntryIdOf(pszPathA) == EntryIdOf(pszPathB);
}

}  // namespace install
