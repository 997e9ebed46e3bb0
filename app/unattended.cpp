// What a run without a person needs to know of this program: what its messages mean, the causes
// that follow them on standard error, and the keys behind its list.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "platform/display/automation.h"
#include "platform/display/install_record.h"
#include "platform/kernel/device.h"

namespace {

std::string& CatalogueCause() {
    static std::string cause;
    return cause;
}

bool HoldsCatalogue(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (const dirent* e = readdir(dir)) found = found || strcasecmp(e->d_name, "SETUP.INI") == 0;
    closedir(dir);
    return found;
}

std::string CurrentFolder() {
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? cwd : "";
}

// The folders where the catalogue was looked for, as the device's medium is chosen.
std::string WhereNotFound() {
    const std::string medium = wce::kernel::CurrentDevice().hostMedium;
    if (HoldsCatalogue(medium))
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

std::string WhyNotOpened() {
    const auto& device = wce::kernel::CurrentDevice();
    const auto path = wce::kernel::HostPathOf(u"\\" + device.mediumName + u"\\SETUP.INI");
    if (!path) return "";
    struct stat st {};
    const int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
    const int err = fd < 0 ? errno : fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (fd >= 0) close(fd);
    return "SETUP.INI: cannot open " + *path + ": " +
           (err ? std::strerror(err) : "refused by the device");
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
