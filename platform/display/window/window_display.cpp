// The graphical display: the emulated screen in a host window, mouse and keyboard as the
// device's input.
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/display/automation.h"
#include "platform/display/displays.h"
#include "platform/display/frame_pacer.h"
#include "platform/display/window/window_input.h"
#include "platform/render/screen.h"
#include "platform/user/device_profile.h"

namespace wce::display {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Presentation is throttled so long copies are not slowed by drawing; the program's own
// repaints still reach the emulated screen at once. Where presenting is slow (a software
// renderer on a remote or virtual X server) frames are spaced so that drawing takes at most
// about 1/kFrameCostShare of the time.
constexpr milliseconds kFrameInterval{40};
constexpr int kFrameCostShare = 30;
constexpr milliseconds kPumpInterval{10};
// Script actions follow each other at a pace a person can watch.
constexpr milliseconds kScriptPace{150};

struct SdlDeleter {
    void operator()(SDL_Window* w) const { SDL_DestroyWindow(w); }
    void operator()(SDL_Renderer* r) const { SDL_DestroyRenderer(r); }
    void operator()(SDL_Texture* t) const { SDL_DestroyTexture(t); }
};

[[noreturn]] void FailToOpen(const std::string& what) {
    std::fprintf(stderr, "SETUP: WCE_DISPLAY=window: cannot open the window: %s: %s\n",
                 what.c_str(), SDL_GetError());
    std::exit(2);
}

// The largest whole scale that leaves some of the host screen free.
int ChooseScale() {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0 || mode.w <= 0 || mode.h <= 0) return 2;
    const int byWidth = mode.w * 9 / 10 / SCREEN_WIDTH;
    const int byHeight = mode.h * 9 / 10 / SCREEN_HEIGHT;
    return std::clamp(std::min(byWidth, byHeight), 1, 8);
}

class WindowDisplay final : public wce::user::Display {
  public:
    explicit WindowDisplay(std::unique_ptr<Script> script);
    ~WindowDisplay() override { Shutdown(); }
    void WaitForInput() override;
    void Poll() override;
    void ScreenChanged() override { dirty_ = true; }
    void Repainted() override;
    void Flush() override;
    void Shutdown() override;

  private:
    void Present();
    bool PumpEvents();
    bool Handle(const SDL_Event& e);
    void WaitForPerson();
    void PaceScript();

    std::unique_ptr<Script> script_;
    std::unique_ptr<SDL_Window, SdlDeleter> window_;
    std::unique_ptr<SDL_Renderer, SdlDeleter> renderer_;
    std::unique_ptr<SDL_Texture, SdlDeleter> texture_;
    wce::render::RenderOptions options_;
    wce::render::Image image_;
    std::string title_;
    bool sdlStarted_ = false;
    bool unattended_ = false;  // no person can act on this window (the dummy video driver)
    bool closeRequested_ = false;
    bool dirty_ = true;
    Clock::time_point lastPump_{}, lastScript_{};
    FramePacer pacer_{kFrameInterval};
};

WindowDisplay::WindowDisplay(std::unique_ptr<Script> script) : script_(std::move(script)) {
    // Ctrl-C in the starting terminal must still end the process.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) FailToOpen("no usable video driver");
    sdlStarted_ = true;
    const char* driver = SDL_GetCurrentVideoDriver();
    unattended_ = driver && (std::string(driver) == "dummy" || std::string(driver) == "offscreen");
    // SDL falls back to a driver without a screen where no other starts: nobody would see the
    // window.
    const char* named = std::getenv("SDL_VIDEODRIVER");
    if (unattended_ && (named == nullptr || *named == '\0')) {
        std::fprintf(
            stderr,
            "SETUP: WCE_DISPLAY=window: no usable video driver: SDL could start only \"%s\", which "
            "shows nothing (is the desktop in DISPLAY or WAYLAND_DISPLAY running?)\n",
            driver);
        SDL_Quit();
        std::exit(2);
    }
    const int scale = ChooseScale();
    window_.reset(SDL_CreateWindow("SETUP", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                   SCREEN_WIDTH * scale, SCREEN_HEIGHT * scale,
                                   SDL_WINDOW_RESIZABLE));
    if (!window_) FailToOpen("window");
    renderer_.reset(SDL_CreateRenderer(window_.get(), -1, 0));
    if (!renderer_) renderer_.reset(SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE));
    if (!renderer_) FailToOpen("renderer");
    SDL_RenderSetLogicalSize(renderer_.get(), SCREEN_WIDTH, SCREEN_HEIGHT);
    SDL_RenderSetIntegerScale(renderer_.get(), SDL_TRUE);
    texture_.reset(SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_RGB888,
                                     SDL_TEXTUREACCESS_STREAMING, SCREEN_WIDTH, SCREEN_HEIGHT));
    if (!texture_) FailToOpen("texture");
    // The font is drawn at the profile's metrics, so the dialog units already fit it.
    std::string error;
    options_ = wce::render::ScreenRenderOptions(&error);
    if (!options_.font)
        std::fprintf(stderr, "WCE_DISPLAY=window: %s; texts are not drawn\n", error.c_str());
}

void WindowDisplay::Shutdown() {
    texture_.reset();
    renderer_.reset();
    window_.reset();
    if (sdlStarted_) SDL_Quit();
    sdlStarted_ = false;
}

void WindowDisplay::Present() {
    if (!renderer_) return;
    const Clock::time_point start = Clock::now();
    const std::vector<wce::user::WindowView> screen = wce::user::SnapshotScreen();
    wce::render::RenderScreen(screen, options_, image_);
    SDL_UpdateTexture(texture_.get(), nullptr, image_.Row(0),
                      SCREEN_WIDTH * static_cast<int>(sizeof(wce::render::Color)));
    SDL_RenderClear(renderer_.get());
    SDL_RenderCopy(renderer_.get(), texture_.get(), nullptr, nullptr);
    SDL_RenderPresent(renderer_.get());
    // The host window carries the title of the dialog at the bottom of the stack.
    if (!screen.empty() && TitleOf(screen.front()) != title_) {
        title_ = TitleOf(screen.front());
        SDL_SetWindowTitle(window_.get(), title_.c_str());
    }
    dirty_ = false;
    const Clock::time_point end = Clock::now();
    pacer_.SetInterval(std::max<Clock::duration>(kFrameInterval, (end - start) * kFrameCostShare));
    pacer_.Presented(end);
}

bool WindowDisplay::Handle(const SDL_Event& e) {
    if (e.type == SDL_QUIT) {
        closeRequested_ = true;
        return false;
    }
    if (e.type == SDL_WINDOWEVENT) {
        dirty_ = true;
        return false;
    }
    return InjectHostInput(e);
}

bool WindowDisplay::PumpEvents() {
    lastPump_ = Clock::now();
    bool injected = false;
    SDL_Event e;
    while (SDL_PollEvent(&e)) injected = Handle(e) || injected;
    return injected;
}

void WindowDisplay::Poll() {
    const Clock::time_point now = Clock::now();
    if (now - lastPump_ >= kPumpInterval) PumpEvents();
    if (pacer_.Poll(now) && dirty_) Present();
}

void WindowDisplay::Repainted() {
    if (dirty_ && pacer_.Repainted(Clock::now())) Present();
}

void WindowDisplay::Flush() {
    if (dirty_) Present();
}

void WindowDisplay::PaceScript() {
    while (!unattended_ && !closeRequested_ && Clock::now() - lastScript_ < kScriptPace) {
        PumpEvents();
        if (dirty_) Present();
        std::this_thread::sleep_for(milliseconds(10));
    }
    lastScript_ = Clock::now();
}

void WindowDisplay::WaitForPerson() {
    SDL_Event e;
    while (!closeRequested_) {
        if (dirty_) Present();
        if (SDL_WaitEventTimeout(&e, 100) && Handle(e)) return;
    }
    AnswerAsAbsentUser();
}

void WindowDisplay::WaitForInput() {
    ObserveScreen();
    Present();
    if (PumpEvents()) return;
    // Closing the host window ends the run as an absent user would, script or not.
    if (closeRequested_) return AnswerAsAbsentUser();
    if (script_ && !script_->Exhausted()) {
        PaceScript();
        script_->DeliverNext();
        return;
    }
    // With the dummy video driver nobody can act on the window.
    if (unattended_) return AnswerAsAbsentUser();
    WaitForPerson();
}

}  // namespace

bool WindowDisplayCanOpen() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    SDL_Quit();
    return true;
}

std::unique_ptr<wce::user::Display> MakeWindowDisplay(std::unique_ptr<Script> script) {
    return std::make_unique<WindowDisplay>(std::move(script));
}

}  // namespace wce::display
