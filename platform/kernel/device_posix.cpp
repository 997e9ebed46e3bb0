#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel/codepage.h"
#include "platform/kernel/device.h"
#include "platform/kernel/errors.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/host_ops.h"
#include "platform/kernel/host/knowledge.h"
#include "platform/kernel/host/result.h"
#include "platform/kernel/ns/namespace.h"
#include "platform/kernel/ns/paths.h"
#include "platform/kernel/services/batch.h"

namespace wce::kernel {

namespace {

DeviceConfig g_current;  // as ConfigureDevice took it last

// A setting that cannot be taken: what the caller tells the user (it decides how to stop).
struct SettingError {
    std::string message;
    SettingError(const char* variable, const std::string& value, const std::string& why)
        : message("the setting " + std::string(variable) + "=" + value + " " + why) {}
    explicit SettingError(std::string m) : message(std::move(m)) {}
};

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return host::Live().fstatat(AT_FDCWD, path.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

// A setting that must name an existing folder, taken once as the folder it leads to: links on the
// way are resolved here, so that confinement below it never meets them.
std::string FolderSetting(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr) return {};
    std::string path = Absolute(value);
    if (path.empty()) throw SettingError(variable, value, "is empty; it must name a folder");
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        const int err = errno;
        struct stat st {};
        const bool dangling = err == ENOENT && host::Live().fstatat(AT_FDCWD, path.c_str(), &st,
                                                                    AT_SYMLINK_NOFOLLOW) == 0;
        const std::string why = dangling ? "is a symbolic link to a folder that does not exist"
                                : err == ENOENT ? "names no existing folder"
                                : err == ELOOP
                                    ? "cannot be taken: its symbolic links go round in a loop"
                                    : std::string("cannot be taken: ") + std::strerror(err);
        throw SettingError(variable, value, why);
    }
    path = resolved;
    if (!IsDirectory(path)) throw SettingError(variable, value, "names a file, not a folder");
    return path;
}

std::string DefaultDeviceRoot() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/wce-device";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/share/wce-device";
    throw SettingError("neither WCE_ROOT, XDG_DATA_HOME nor HOME is set");
}

// Creates the standard folders of a fresh device; existing ones are left as they are.
void PrepareFreshDevice(const std::string& root) {
    static const char* const kFolders[] = {
        "",          "/ROMDisk",          "/ROMDisk/PROGRAM",        "/ROMDisk/PROGRAM/TAV",
        "/ROMDisk2", "/ROMDisk2/PROGRAM", "/ROMDisk2/PROGRAM/SETAPP"};
    std::string parent = root.substr(0, root.rfind('/'));
    if (!IsDirectory(parent)) {
        // The data folder itself may be missing on a fresh account: create its chain.
        for (size_t i = 1; i <= parent.size(); ++i)
            if (i == parent.size() || parent[i] == '/')
                host::Live().mkdirat(AT_FDCWD, parent.substr(0, i).c_str(), 0700);
    }
    for (const char* f : kFolders) {
        std::string path = root + f;
        if (host::Live().mkdirat(AT_FDCWD, path.c_str(), 0777) == 0) continue;
        if (const int err = HostError("mkdirat").err; err != EEXIST)
            throw SettingError("cannot create the device folder " + path + ": " +
                               std::strerror(err));
    }
}

std::u16string ExeNameOf(const std::string& hostExe) {
    std::string file = hostExe.substr(hostExe.rfind('/') + 1);
    std::u16string name;
    paths::HostToDevice(file, name);
    if (file.find('.') == std::string::npos) name += u".exe";
    return name;
}

}  // namespace

bool HoldsCatalogue(const std::string& folder) {
    ns::DirListing listing;
    // Not a folder of the device (there is none yet): opened as it is.
    host::Fd fd(host::OpenAt(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY));
    if (!fd.valid() || !ns::ReadListing(fd.get(), listing)) return false;
    for (const auto& e : listing.entries)
        if (strcasecmp(std::string(listing.name(e)).c_str(), "SETUP.INI") == 0) return true;
    return false;
}

namespace {

// DefaultMedium: the exe's folder, or a cwd holding a catalogue (cd /media/card && SETUP).
std::string DefaultMedium(const std::string& exe) {
    std::string own = exe.substr(0, std::max<size_t>(exe.rfind('/'), 1));
    if (HoldsCatalogue(own)) return own;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) != nullptr && HoldsCatalogue(cwd)) return cwd;
    return own;
}

std::string SelfExecutable(const char* argv0) {
    char buf[4096];
    ssize_t n = host::Live().readlinkat(AT_FDCWD, "/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, static_cast<size_t>(n));
    return Absolute(argv0 != nullptr ? argv0 : "SETUP");
}

}  // namespace

void ConfigureDevice(const DeviceConfig& config) {
    g_current = config;
    ns::SetMapping(config.hostRoot, config.hostMedium, config.mediumName);
    batch::Configure(config.verify);
    ForgetHost();
    ResetCodePage();
}

void ForgetHost() {
    Known().Forget();
}

const DeviceConfig& CurrentDevice() {
    return g_current;
}

bool DeviceConfigFromEnvironment(const char* argv0, DeviceConfig& c, std::string& problem) try {
    c = DeviceConfig{};
    std::string exe = SelfExecutable(argv0);
    c.exeName = ExeNameOf(exe);
    c.hostMedium = FolderSetting("WCE_MEDIUM");
    if (c.hostMedium.empty()) c.hostMedium = DefaultMedium(exe);
    c.hostRoot = FolderSetting("WCE_ROOT");
    if (c.hostRoot.empty()) {
        c.hostRoot = DefaultDeviceRoot();
        PrepareFreshDevice(c.hostRoot);
    }
    if (const char* cp = std::getenv("WCE_CODEPAGE")) {
        char* end = nullptr;
        unsigned long value = std::strtoul(cp, &end, 10);
        if (*cp == '\0' || *end != '\0' || IconvNameOf(static_cast<UINT>(value)) == nullptr)
            throw SettingError("WCE_CODEPAGE", cp,
                               "is not a known code page (932, 1252, 65001, ...)");
        c.codePage = static_cast<UINT>(value);
    }
    if (const char* v = std::getenv("WCE_VERIFY")) {
        const std::string_view value(v);
        if (value != "0" && value != "1")
            throw SettingError("WCE_VERIFY", v, "must be 0 (no read-back) or 1 (read back)");
        c.verify = value == "1";
    }
    return true;
} catch (const SettingError& e) {
    problem = e.message;
    return false;
}

std::optional<std::string> HostPathOf(const std::u16string& devicePath) {
    ns::Entry e;
    if (!ns::Resolve(devicePath, e)) return std::nullopt;
    return e.HostPath();
}

}  // namespace wce::kernel

DWORD GetModuleFileNameW(HMODULE /*hModule*/, LPWSTR lpFilename, DWORD nSize) {
    const auto& c = wce::kernel::CurrentDevice();
    std::u16string path = u"\\" + c.mediumName + u"\\" + c.exeName;
    using wce::kernel::FailWith;
    if (lpFilename == nullptr || nSize == 0) return FailWith(0, ERROR_INSUFFICIENT_BUFFER);
    if (path.size() + 1 > nSize) {
        path.copy(lpFilename, nSize - 1);
        lpFilename[nSize - 1] = 0;
        return FailWith(nSize, ERROR_INSUFFICIENT_BUFFER);
    }
    path.copy(lpFilename, path.size());
    lpFilename[path.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}
