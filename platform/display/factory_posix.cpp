// Choosing the display from WCE_DISPLAY and the session.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/render/font.h"
#include "platform/render/screen.h"

namespace wce::display {
namespace {

[[noreturn, maybe_unused]] void NotBuilt(const char* name) {
    std::fprintf(stderr, "WCE_DISPLAY=%s: this build has no %s display (use headless)\n", name,
                 name);
    std::exit(2);
}

std::unique_ptr<wce::user::Display> Terminal(std::unique_ptr<Script> script) {
#ifdef WCE_HAVE_TERMINAL
    return MakeTerminalDisplay(std::move(script));
#else
    (void)script;
    NotBuilt("terminal");
#endif
}

bool Set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

std::unique_ptr<wce::user::Display> Window(std::unique_ptr<Script> script) {
#ifdef WCE_HAVE_WINDOW
    // A window asked for where no desktop is would show nobody anything; a video driver named
    // outright (SDL_VIDEODRIVER=dummy) is the caller's choice.
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("SDL_VIDEODRIVER")) {
        std::fprintf(stderr,
                     "SETUP: WCE_DISPLAY=window: there is no desktop to open the window on: "
                     "neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set (use WCE_DISPLAY=terminal or headless)\n");
        std::exit(2);
    }
    return MakeWindowDisplay(std::move(script));
#else
    (void)script;
    NotBuilt("window");
#endif
}

bool WindowAvailable() {
#ifdef WCE_HAVE_WINDOW
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool session = (x11 && *x11) || (wayland && *wayland);
    return session && WindowDisplayCanOpen();
#else
    return false;
#endif
}

// A window without its font would show a dialog with no words; the terminal serves better.
bool WindowCanDrawText() {
    std::string error;
    const std::string file = wce::render::FindDialogFontFile(&error);
    if (!file.empty() && wce::render::DialogFont(wce::render::DeviceDpi(), &error)) return true;
    std::fprintf(stderr, "the window display cannot draw text: %s; not using it\n", error.c_str());
    return false;
}

// A font file asked for by name is a setting like any other: one that cannot be used stops the
// program before it shows a window without words (or screenshots without them).
void CheckFontFileSetting() {
    const char* file = std::getenv("WCE_FONT_FILE");
    if (file == nullptr || *file == '\0') return;
    std::string error;
    if (wce::render::ScreenRenderOptions(&error).font) return;
    std::fprintf(stderr, "SETUP: the setting WCE_FONT_FILE=%s cannot be used: %s\n", file,
                 error.c_str());
    std::exit(2);
}

void CheckDisplaySetting(const std::string& name) {
    if (!name.empty() && name != "headless" && name != "terminal" && name != "window") {
        std::fprintf(stderr,
                     "WCE_DISPLAY=\"%s\" is not valid: expected headless, terminal or window\n",
                     name.c_str());
        std::exit(2);
    }
}

bool TerminalBuilt() {
#ifdef WCE_HAVE_TERMINAL
    return true;
#else
    return false;
#endif
}

}  // namespace

std::unique_ptr<wce::user::Display> MakeDisplayFromEnvironment() {
    const char* envName = std::getenv("WCE_DISPLAY");
    const std::string name = envName ? envName : "";
    CheckDisplaySetting(name);
    CheckFontFileSetting();
    const char* scriptVar = std::getenv("WCE_SCRIPT");
    std::unique_ptr<Script> script = (scriptVar && *scriptVar) ? LoadScript(scriptVar) : nullptr;
    SetScripted(script != nullptr);
    if (name == "headless") return MakeHeadlessDisplay(std::move(script));
    if (name == "terminal") return Terminal(std::move(script));
    if (name == "window") return Window(std::move(script));
    if (script) return MakeHeadlessDisplay(std::move(script));
    if (WindowAvailable() && WindowCanDrawText()) return Window(nullptr);
    const bool interactive = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    if (interactive && TerminalBuilt()) return Terminal(nullptr);
    return MakeHeadlessDisplay(nullptr);
}

std::unique_ptr<wce::user::Display> MakeCommandDisplay(std::vector<ScriptAction> actions,
                                                       const std::string& source) {
    const char* envName = std::getenv("WCE_DISPLAY");
    CheckDisplaySetting(envName ? envName : "");
    CheckFontFileSetting();
    if (const char* scriptVar = std::getenv("WCE_SCRIPT"); scriptVar && *scriptVar) {
        std::fprintf(stderr, "SETUP: %s and WCE_SCRIPT both say what to do; give one of them\n",
                     source.c_str());
        std::exit(2);
    }
    SetScripted(true);
    return MakeHeadlessDisplay(MakeScript(std::move(actions), source));
}

}  // namespace wce::display
