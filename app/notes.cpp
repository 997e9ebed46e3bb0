// The install's notes on standard error and in the log, with the host paths a person can look at.
#include "install/notes.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/display/automation.h"
#include "platform/display/install_record.h"
#include "platform/kernel/device.h"
#include "platform/user/console.h"
#include "platform/user/dialogs.h"
#include "platform/user/text.h"
#include "platform/user/window_tree.h"

namespace {

using wce::display::HostPathFor;
using wce::display::Report;

std::string Shown(std::u16string_view devicePath) {
    return wce::user::Escaped(devicePath);
}

// A host path as text for a terminal: its control bytes spelt out like a device path's.
std::string Shown(const std::string& hostPath) {
    std::string out;
    for (char c : hostPath) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
        } else {
            out += c;
        }
    }
    return out;
}

std::string Both(std::u16string_view devicePath, bool asSpelt = false) {
    const std::string host = HostPathFor(devicePath, asSpelt);
    return Shown(devicePath) + (host.empty() ? "" : " (" + Shown(host) + ")");
}

std::u16string LastName(std::u16string_view path) {
    return std::u16string(path.substr(path.rfind(u'\\') + 1));
}

// The program's version as its version record gives it ("1.02").
std::string Version() {
    const VersionRecord* v = wce::g_moduleResources.version;
    const std::string text =
        v && v->productVersion ? wce::user::Utf16ToUtf8(v->productVersion) : "";
    return text.starts_with("Ver ") ? text.substr(4) : text;
}

class InstallNotes final : public install::Notes {
  public:
    void Installing(LPCWSTR pszName, LPCWSTR pszKey, LPCWSTR) override {
        const auto& device = wce::kernel::CurrentDevice();
        wce::display::RecordInstallStart(pszKey, pszName, Version());
        Report("installing \"" + wce::user::Escaped(pszName, "\"") + "\" (key \"" +
               wce::user::Escaped(pszKey, "\"") + "\") from " + Shown(device.hostMedium) +
               " onto " + Shown(device.hostRoot));
        // A misspelt or forgotten WCE_ROOT would otherwise fill a folder nobody looks at.
        if (std::getenv("WCE_ROOT") == nullptr)
            Report("the device is the default device folder " + Shown(device.hostRoot) +
                   ", as WCE_ROOT is not set (set it, or give --root, to install onto another)");
    }

    void Missing(LPCWSTR pszProduct, bool bFolderExists) override {
        const std::string folder = Shown(LastName(pszProduct));
        const std::string line =
            bFolderExists
                ? folder + " " + Both(pszProduct) +
                      " holds neither SETAPP nor TAV, so the package counts as empty: nothing "
                      "is installed"
                : folder + " is missing: there is no " + Both(pszProduct) +
                      ", so the package counts as empty: nothing is installed";
        wce::display::RecordWarning(line);
        Report("warning: " + line);
    }

    void Skipped(LPCWSTR pszDir, LPCWSTR pszName) override {
        const std::u16string path = std::u16string(pszDir) + pszName;
        wce::display::RecordSkipped(path);
        Report("skipped " + Both(path) +
               ": a folder whose name begins with \".\" is not installed");
    }

    void Overlong(std::u16string_view dir, std::u16string_view name) override {
        const std::u16string path = std::u16string(dir) + std::u16string(name);
        const std::string limit = "the device's paths hold at most " +
                                  std::to_string(MAX_PATH - 1) + " (" + std::to_string(MAX_PATH) +
                                  " with the terminator)";
        // A folder that fits may still leave no room for the names inside it.
        const std::string length = std::to_string(path.size()) + " characters long";
        wce::display::RecordFailure("copy", path, HostPathFor(path, true),
                                    path.size() < MAX_PATH
                                        ? "the folder's path is " + length +
                                              ", leaving no room for the names in it: " + limit
                                        : "the path is " + length + ", and " + limit);
    }

    void NameClash(LPCWSTR pszDir, LPCWSTR pszName, LPCWSTR pszOther) override {
        const std::u16string path = std::u16string(pszDir) + pszName;
        wce::display::RecordFailure(
            "copy", path, HostPathFor(path, true),
            "its name differs only in case from \"" + wce::user::Escaped(pszOther, "\"") +
                "\" in the same folder, and the device takes both for one name; rename or "
                "remove one of them");
    }

    void NoRoom(LPCWSTR pszRoot, std::uint64_t need, std::uint64_t free, DWORD cluster) override {
        std::u16string path(pszRoot);
        if (path.size() > 1 && path.back() == u'\\') path.pop_back();
        wce::display::RecordFailure(
            "copy into", path, HostPathFor(path, true),
            "the card has " + std::to_string(free) + " bytes free and the package needs " +
                std::to_string(need) + " (its files and new folders in whole clusters of " +
                std::to_string(cluster) +
                " bytes, less what the files it replaces free); nothing was copied");
    }

    void Interrupted(DWORD dwCtrlType, int copied, int total, int newFiles) override {
        const char* signal = dwCtrlType == CTRL_C_EVENT       ? "SIGINT"
                             : dwCtrlType == CTRL_CLOSE_EVENT ? "SIGHUP"
                                                              : "SIGTERM";
        const std::string what = "after " + std::to_string(copied) + " / " + std::to_string(total) +
                                 " files (" + signal + ")";
        const std::string holds =
            "the card holds those " + std::to_string(copied) + " as the package's (" +
            std::to_string(newFiles) + " new, " + std::to_string(copied - newFiles) +
            " replacing its older ones); the " + std::to_string(total - copied) +
            " not reached are as they were, old files kept; install again to complete";
        wce::display::RecordInterrupted(what + "; " + holds);
        Report("interrupted " + what + ": " + holds);
    }

    void CheckMissing(LPCWSTR pszPath) override {
        wce::display::Answer("missing " + Both(pszPath));
    }

    void CheckDifferent(LPCWSTR pszPath, const char* pszWhy) override {
        wce::display::Answer("different " + Both(pszPath) + ": " + pszWhy);
    }

    void Checked(LPCWSTR pszName, LPCWSTR pszKey, int files, int missing, int different) override {
        const auto& device = wce::kernel::CurrentDevice();
        const std::string entry = "\"" + wce::user::Escaped(pszName, "\"") + "\" (key \"" +
                                  wce::user::Escaped(pszKey, "\"") + "\")";
        if (missing == 0 && different == 0) {
            Report("check: " + Shown(device.hostRoot) + " holds " + entry + ": its " +
                   std::to_string(files) + " files read back from the card are the package's");
            return;
        }
        Report("check: " + Shown(device.hostRoot) + " does not hold " + entry + ": of its " +
               std::to_string(files) + " files and their folders, " + std::to_string(missing) +
               " missing and " + std::to_string(different) +
               " different (listed on standard output); nothing was changed");
    }

    void NoDestination(LPCWSTR pszRoot) override {
        std::u16string path(pszRoot);
        if (path.size() > 1 && path.back() == u'\\') path.pop_back();
        const std::string host = HostPathFor(path, true);
        wce::display::RecordFailure(
            "copy into", path, host,
            "the device has no such folder, and a fresh device has it: make it (mkdir -p " +
                Shown(host) + ") or check that WCE_ROOT names the device");
    }
};

InstallNotes g_notes;
[[maybe_unused]] const bool g_set = (install::SetNotes(&g_notes), true);

}  // namespace
