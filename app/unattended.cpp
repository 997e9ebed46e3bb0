// What a run without a person needs to know of this program: what its messages mean, the causes
// that follow them on standard error, and the keys behind its list.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "platform/display/automation.h"
#include "platform/display/install_record.h"
#include "platform/kernel/device.h"
#include "platform/kernel/files.h"

namespace {

std::string& CatalogueCause() {
    static std::string cause;
    return cause;
}

std::string CurrentFolder() {
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? cwd : "";
}

// The folders where the catalogue was looked for, as the device's medium is chosen.
std::string WhereNotFound() {
    const std::string medium = wce::kernel::CurrentDevice().hostMedium;
    if (wce::kernel::HoldsCatalogue(medium))
        return "SETUP.INI: its path in " + medium + " is longer than the device's paths can be";
    const char* setting = std::getenv("WCE_MEDIUM");
    if (setting != nullptr && *setting != '\0')
        return "SETUP.INI: not in " + medium + " (WCE_MEDIUM or --medium)";
    const std::string cwd = CurrentFolder();
    if (cwd.empty() || cwd == medium)
        return "SETUP.INI: not in " + medium + " (the program's folder and the current folder)";
    return "SETUP.INI: not in " + medium + " (the program's folder) nor in " + cwd +
           " (the current folder); set WCE_MEDIUM to the medium's folder";
}

// Asks the device again why the catalogue does not open; the host path only names it.
std::string WhyNotOpened() {
    const auto& device = wce::kernel::CurrentDevice();
    const std::u16string devicePath = u"\\" + device.mediumName + u"\\SETUP.INI";
    const auto path = wce::kernel::HostPathOf(devicePath);
    if (!path) return "";
    const HANDLE file = CreateFileW(devicePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL_OPEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return "SETUP.INI: cannot open " + *path + ": it opens now; it did not when first read";
    }
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(devicePath.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return "SETUP.INI: cannot open " + *path + ": " +
           (folder ? "it is a folder" : wce::display::DeviceErrorWords(code));
}

std::vector<std::u16string> ListedKeys() {
    std::vector<std::u16string> keys;
    CWinApp* app = AfxGetApp();
    auto* dlg = app ? dynamic_cast<CSetupDlg*>(app->m_pMainWnd) : nullptr;
    if (dlg == nullptr || dlg->m_lbProducts.m_hWnd == nullptr) return keys;
    const int count = dlg->m_lbProducts.GetCount();
    for (int i = 0; i < count && i < MAX_PRODUCTS; ++i) keys.emplace_back(dlg->m_aszProductKeys[i]);
    return keys;
}

void Declare() {
    using wce::display::MessageMeaning;
    using wce::display::Outcome;
    wce::display::DeclareMessages({
        MessageMeaning{u"Installation has been completed.", Outcome::Succeeded, nullptr},
        MessageMeaning{u"Failed in copying files.", Outcome::Failed,
                       wce::display::CopyFailureCause},
        MessageMeaning{u"Not found SETUP.INI", Outcome::StartupFailed, WhereNotFound},
        MessageMeaning{u"Failed in opening SETUP.INI", Outcome::StartupFailed, WhyNotOpened},
        MessageMeaning{u"Invalid SETUP.INI", Outcome::StartupFailed,
                       [] { return CatalogueCause(); }},
        MessageMeaning{u"Failed in allocating memory.", Outcome::StartupFailed,
                       [] { return std::string("out of memory"); }},
    });
    wce::display::DeclareListKeys(ListedKeys);
    wce::display::DeclarePackageCheck([] {
        CWinApp* app = AfxGetApp();
        auto* dlg = app ? dynamic_cast<CSetupDlg*>(app->m_pMainWnd) : nullptr;
        return dlg != nullptr && dlg->CheckPackage() != FALSE;
    });
    wce::display::DeclareFileCounter([]() -> std::pair<int, int> {
        CWinApp* app = AfxGetApp();
        auto* dlg = app ? dynamic_cast<CSetupDlg*>(app->m_pMainWnd) : nullptr;
        return dlg ? std::pair{dlg->m_nCopiedFiles, dlg->m_nTotalFiles} : std::pair{0, 0};
    });
    catalogue::SetNoteSink([](catalogue::NoteKind kind, const std::string& line) {
        if (kind == catalogue::NoteKind::Cause)
            CatalogueCause() = line;
        else
            wce::display::Report(line);
    });
}

[[maybe_unused]] const bool g_declared = (Declare(), true);

}  // namespace
