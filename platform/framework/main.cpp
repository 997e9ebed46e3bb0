// The process entry: host arguments, device, profile, display, then the application's start hook.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/display/install_record.h"
#include "platform/framework/internal.h"
#include "platform/kernel/device.h"
#include "platform/user/device_profile.h"
#include "platform/user/window_tree.h"

namespace {

// Runs on every exit, exit(1) of a stop path included, so the host terminal is always restored
// before the lines held back from it are written.
void ShutdownDisplay() {
    wce::user::CurrentDisplay().Shutdown();
    wce::display::ReleaseReports();
}

std::string ProgramName(const char* argv0) {
    const char* slash = argv0 ? std::strrchr(argv0, '/') : nullptr;
    return slash ? slash + 1 : argv0 ? argv0 : "SETUP";
}

void PrintUsage(const std::string& name) {
    std::printf(
        "Usage: %s [--help | --version]\n"
        "Shows the installer's dialog; it reads no other arguments, only these settings:\n"
        "  WCE_ROOT=DIR       host folder that stands for the device (default ~/.local/share/wce-device)\n"
        "  WCE_MEDIUM=DIR     the medium: SETUP.INI and the PRODUCT<key> folders (default: beside the\n"
        "                     program, else the current folder)\n"
        "  WCE_CODEPAGE=N     code page of SETUP.INI (default 932; 65001 for UTF-8)\n"
        "  WCE_DISPLAY=NAME   window, terminal or headless\n"
        "  WCE_SCRIPT=FILE    actions to take unattended, one a line (- for standard input)\n"
        "  WCE_LOG=FILE       a line for each file copied and folder created, then the outcome\n"
        "  WCE_DPI, WCE_FONT, WCE_FONT_FILE: how the window display draws; see the manual\n"
        "Exit status: 0 closed (a script: installed, or no install made), 1 start-up failed,\n"
        "2 a setting or the script is wrong, 3 a script's install failed in copying files.\n"
        "Manual: man %s\n",
        name.c_str(), name.c_str());
}

void PrintVersion(const std::string& name) {
    const VersionRecord* v = wce::g_moduleResources.version;
    const std::string version = v && v->productVersion ? wce::user::Utf16ToUtf8(v->productVersion) : "";
    std::printf("%s %s\n", name.c_str(), version.c_str());
}

// The program reads no command line; the host answers --help and --version before it starts.
void HandleArguments(int argc, char** argv) {
    if (argc < 2) return;
    const std::string name = ProgramName(argv[0]);
    const std::string first = argv[1];
    if (argc == 2 && first == "--help") {
        PrintUsage(name);
        std::exit(0);
    }
    if (argc == 2 && first == "--version") {
        PrintVersion(name);
        std::exit(0);
    }
    const bool firstKnown = first == "--help" || first == "--version";
    std::fprintf(stderr, "%s: unexpected argument \"%s\": the program takes none but --help or --version, "
                         "and is set up through WCE_ settings (see %s --help)\n",
                 name.c_str(), firstKnown ? argv[2] : argv[1], name.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    HandleArguments(argc, argv);
    wce::kernel::ConfigureDevice(wce::kernel::DeviceConfigFromEnvironment(argv[0]));
    wce::user::ConfigureProfileFromEnvironment();
    wce::display::StartInstallRecord();
    wce::user::SetDisplay(wce::display::MakeDisplayFromEnvironment());
    std::atexit(ShutdownDisplay);
    CWinApp* app = AfxGetApp();
    if (!app) {
        std::fputs("the program defines no application object\n", stderr);
        return 2;
    }
    wce::framework::InitApplication(*app);
    const int status = app->InitInstance() ? app->Run() : app->ExitInstance();
    return wce::display::ExitStatus(status);
}
