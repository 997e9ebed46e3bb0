// The process entry: device, profile, display, then the application's start hook.
#include <cstdio>
#include <cstdlib>

#include "platform/display/displays.h"
#include "platform/framework/internal.h"
#include "platform/kernel/device.h"
#include "platform/user/device_profile.h"

namespace {

// Runs on every exit, exit(1) of a stop path included, so the host terminal is always restored.
void ShutdownDisplay() { wce::user::CurrentDisplay().Shutdown(); }

}  // namespace

int main(int, char** argv) {
    wce::kernel::ConfigureDevice(wce::kernel::DeviceConfigFromEnvironment(argv[0]));
    wce::user::ConfigureProfileFromEnvironment();
    wce::user::SetDisplay(wce::display::MakeDisplayFromEnvironment());
    std::atexit(ShutdownDisplay);
    CWinApp* app = AfxGetApp();
    if (!app) {
        std::fputs("the program defines no application object\n", stderr);
        return 2;
    }
    wce::framework::InitApplication(*app);
    const int status = app->InitInstance() ? app->Run() : app->ExitInstance();
    return status;
}
