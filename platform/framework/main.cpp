// The process entry: host arguments, device, profile, display, then the application's start hook.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/display/install_record.h"
#include "platform/framework/internal.h"
#include "platform/kernel/device.h"
#include "platform/user/console.h"
#include "platform/user/device_profile.h"
#include "platform/user/text.h"
#include "platform/user/window_tree.h"

extern char** environ;

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
        "Usage: %s [--root DIR] [--medium DIR] [--list | --install KEY | --check KEY]\n"
        "       %s --help | --version\n"
        "Shows the installer's dialog, or without one:\n"
        "  --list             prints each package of the catalogue as KEY<TAB>NAME\n"
        "  --install KEY      installs the package with that key unattended onto the device --root "
        "or\n"
        "                     WCE_ROOT names (exit 0 done, 3 failed, 2 no such key or no device "
        "named,\n"
        "                     130/143/129 interrupted by SIGINT/SIGTERM/SIGHUP after the file in "
        "flight)\n"
        "  --check KEY        compares the device with that package and changes nothing: lists "
        "each\n"
        "                     file missing or different (exit 0 the device holds it, 4 it does "
        "not)\n"
        "  --root DIR         the device's host folder, as WCE_ROOT\n"
        "  --medium DIR       the medium's host folder, as WCE_MEDIUM\n"
        "Settings:\n"
        "  WCE_ROOT=DIR       host folder that stands for the device (a dialog started by hand: "
        "default\n"
        "                     ~/.local/share/wce-device; --install, --check and scripts need it "
        "named)\n"
        "  WCE_MEDIUM=DIR     the medium: SETUP.INI and the PRODUCT<key> folders (default: beside "
        "the\n"
        "                     program, else the current folder)\n"
        "  WCE_CODEPAGE=N     code page of SETUP.INI (default 932; 65001 for UTF-8)\n"
        "  WCE_VERIFY=0|1     read every file written back from the card and compare (default 1, "
        "but 0\n"
        "                     on a filesystem in memory)\n"
        "  WCE_DISPLAY=NAME   window, terminal or headless\n"
        "  WCE_SCRIPT=FILE    actions to take unattended, one a line (- for standard input)\n"
        "  WCE_LOG=FILE       appends a record of each install: what, when, every file and folder, "
        "the\n"
        "                     outcome (- for standard error)\n"
        "  WCE_DPI=N          the display's pixels per inch (default 96)\n"
        "  WCE_FONT=WxH       the dialog font's average character width and height (default 8x15)\n"
        "  WCE_FONT_FILE=FILE the font file the window display draws with\n"
        "Exit status: 0 closed (a script: installed, or no install made), 1 start-up failed,\n"
        "2 a setting, an argument or the script is wrong, 3 a script's install failed in copying "
        "files,\n"
        "4 --check found the package not on the device, 128+N ended by signal N during an "
        "install.\n"
        "Manual: man %s\n",
        name.c_str(), name.c_str(), name.c_str());
}

void PrintVersion(const std::string& name) {
    const VersionRecord* v = wce::g_moduleResources.version;
    const std::string version =
        v && v->productVersion ? wce::user::Utf16ToUtf8(v->productVersion) : "";
    std::printf("%s %s\n", name.c_str(), version.c_str());
}

// What the command line asks for beside the settings.
struct Command {
    bool list = false;
    std::string installKey;  // "" unless --install or --check
    bool install = false;
    bool check = false;  // --check: compare the device with the package, change nothing
};

[[noreturn]] void ArgumentError(const std::string& name, const std::string& what) {
    std::fprintf(stderr, "%s: %s (see %s --help)\n", name.c_str(), what.c_str(), name.c_str());
    std::exit(2);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --help and --version alone; else the options, which stand for settings or give the actions of
// an unattended run. Anything else is an error before the program starts.
Command HandleArguments(int argc, char** argv) {
    Command command;
    if (argc < 2) return command;
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
    if (first == "--help" || first == "--version")
        ArgumentError(name, "unexpected argument \"" + std::string(argv[2]) + "\": " + first +
                                " stands alone");
    bool root = false, medium = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        const bool takesValue =
            arg == "--root" || arg == "--medium" || arg == "--install" || arg == "--check";
        const bool action = arg == "--list" || arg == "--install" || arg == "--check";
        const bool acted = command.list || command.install || command.check;
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) ArgumentError(name, arg + " needs a value");
            value = argv[++i];
        } else if (!takesValue && hasValue) {
            ArgumentError(name, arg + " takes no value");
        }
        if (arg == "--list" && !acted) {
            command.list = true;
        } else if ((arg == "--install" || arg == "--check") && !acted) {
            if (value.empty()) ArgumentError(name, arg + " needs the key of a package");
            (arg == "--install" ? command.install : command.check) = true;
            command.installKey = value;
        } else if ((arg == "--root" && !root) || (arg == "--medium" && !medium)) {
            (arg == "--root" ? root : medium) = true;
            if (!IsFolder(value))
                ArgumentError(name, arg + " \"" + value + "\" names no existing folder");
            // The option stands for the setting, so everything that reads the setting agrees.
            setenv(arg == "--root" ? "WCE_ROOT" : "WCE_MEDIUM", value.c_str(), 1);
        } else if (action || arg == "--root" || arg == "--medium") {
            ArgumentError(name, arg + (action ? ": give one of --list, --install and --check, once"
                                              : " is given twice"));
        } else {
            ArgumentError(
                name,
                "unexpected argument \"" + std::string(argv[i]) +
                    "\": the program takes --root, --medium, --list, --install, --check, --help or "
                    "--version, and is set up through WCE_ settings");
        }
    }
    return command;
}

// The settings the program reads; a variable that looks like one of them but is not is named,
// since the program would otherwise go on with a default (a device folder nobody looks at).
constexpr const char* kSettings[] = {"WCE_ROOT",    "WCE_MEDIUM",   "WCE_CODEPAGE", "WCE_VERIFY",
                                     "WCE_DISPLAY", "WCE_SCRIPT",   "WCE_LOG",      "WCE_DPI",
                                     "WCE_FONT",    "WCE_FONT_FILE"};

std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::toupper(static_cast<unsigned char>(a[i - 1])) == b[j - 1];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

void CheckUnknownSettings(const std::string& name) {
    bool misspelt = false;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string variable = entry.substr(0, entry.find('='));
        if (strncasecmp(variable.c_str(), "WCE_", 4) != 0) continue;
        const char* nearest = nullptr;
        std::size_t best = std::string::npos;
        for (const char* setting : kSettings) {
            if (variable == setting) {
                best = 0;
                nearest = nullptr;
                break;
            }
            if (const std::size_t d = Distance(variable, setting); d < best) {
                best = d;
                nearest = setting;
            }
        }
        if (best == 0 && nearest == nullptr) continue;
        // A near miss would send the run to a default (a device folder nobody looks at): stop.
        if (best <= 2) {
            std::fprintf(stderr, "%s: %s is not a setting; did you mean %s? (nothing was done)\n",
                         name.c_str(), variable.c_str(), nearest);
            misspelt = true;
            continue;
        }
        std::fprintf(stderr, "%s: %s is not a setting; see %s --help for the settings\n",
                     name.c_str(), variable.c_str(), name.c_str());
    }
    if (misspelt) std::exit(2);
}

// A run nobody watches installs only onto a device someone named: the default device folder is
// for the dialog started by hand, where the person sees where it goes.
void RequireNamedDevice(const std::string& name, const Command& command) {
    const char* root = std::getenv("WCE_ROOT");
    if (root != nullptr && *root != '\0') return;
    const char* script = std::getenv("WCE_SCRIPT");
    std::string run;
    if (command.install || command.check)
        run = (command.install ? "--install \"" : "--check \"") +
              wce::user::Escaped(wce::user::Utf8ToUtf16(command.installKey), "\"") + "\"";
    else if (script != nullptr && *script != '\0')
        run = "a scripted run (WCE_SCRIPT)";
    else
        return;
    std::fprintf(stderr,
                 "%s: %s needs the device named: give --root DIR or set WCE_ROOT=DIR to the host "
                 "folder that "
                 "stands for the device (a mounted card's folder); nothing was done\n",
                 name.c_str(), run.c_str());
    std::exit(2);
}

// The actions of --list and --install, as a script would give them.
std::vector<wce::display::ScriptAction> CommandActions(const Command& command) {
    if (command.list) return {{"list", "", 0, 0}, {"close", "", 0, 0}};
    if (command.check)
        return {{"select", "key=" + command.installKey, 0, 0},
                {"check", "", 0, 0},
                {"close", "", 0, 0}};
    return {{"select", "key=" + command.installKey, 0, 0},
            {"click", "1001", 1001, 0},
            {"ok", "", 0, 0},
            {"close", "", 0, 0}};
}

}  // namespace

int main(int argc, char** argv) {
    const Command command = HandleArguments(argc, argv);
    CheckUnknownSettings(ProgramName(argv[0]));
    RequireNamedDevice(ProgramName(argv[0]), command);
    wce::kernel::DeviceConfig device;
    if (std::string problem; !wce::kernel::DeviceConfigFromEnvironment(argv[0], device, problem)) {
        std::fprintf(stderr, "SETUP: %s\n", problem.c_str());
        return 2;
    }
    wce::kernel::ConfigureDevice(device);
    wce::user::ConfigureProfileFromEnvironment();
    wce::display::StartInstallRecord();
    if (command.list || command.install || command.check) {
        const std::string key =
            "\"" + wce::user::Escaped(wce::user::Utf8ToUtf16(command.installKey), "\"") + "\"";
        const std::string source =
            command.list ? "--list" : (command.install ? "--install " : "--check ") + key;
        wce::user::SetDisplay(wce::display::MakeCommandDisplay(CommandActions(command), source));
    } else {
        wce::user::SetDisplay(wce::display::MakeDisplayFromEnvironment());
    }
    std::atexit(ShutdownDisplay);
    wce::user::CatchStopSignals();
    CWinApp* app = AfxGetApp();
    if (!app) {
        std::fputs("the program defines no application object\n", stderr);
        return 2;
    }
    wce::framework::InitApplication(*app);
    const int status = app->InitInstance() ? app->Run() : app->ExitInstance();
    return wce::display::ExitStatus(status);
}
