// The window display under SDL's dummy video driver, and its host-input mapping.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/display/displays.h"
#include "platform/display/window/window_input.h"

namespace wce {
// These tests load no dialogs or icons.
const ModuleResources g_moduleResources{};
}  // namespace wce

namespace {

using namespace wce::display;

class CountingScript final : public Script {
  public:
    explicit CountingScript(int actions, int* delivered) : left_(actions), delivered_(delivered) {}
    bool DeliverNext() override {
        if (left_ == 0) return false;
        --left_;
        ++*delivered_;
        return true;
    }
    bool Exhausted() const override { return left_ == 0; }

  private:
    int left_;
    int* delivered_;
};

TEST(WindowDisplay, HostKeysBecomeDeviceKeys) {
    struct Row {
        SDL_Keycode key;
        Uint16 mod;
        std::optional<KeyPress> want;
    };
    const Row rows[] = {
        {SDLK_RETURN, 0, KeyPress{VK_RETURN, false}},
        {SDLK_KP_ENTER, 0, KeyPress{VK_RETURN, false}},
        {SDLK_TAB, KMOD_LSHIFT, KeyPress{VK_TAB, true}},
        {SDLK_ESCAPE, 0, KeyPress{VK_ESCAPE, false}},
        {SDLK_PAGEUP, 0, KeyPress{VK_PRIOR, false}},
        {SDLK_PAGEDOWN, 0, KeyPress{VK_NEXT, false}},
        {SDLK_DOWN, 0, KeyPress{VK_DOWN, false}},
        {SDLK_a, 0, std::nullopt},
        {SDLK_F1, 0, std::nullopt},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.key);
        const std::optional<KeyPress> got = MapKey(r.key, r.mod);
        ASSERT_EQ(got.has_value(), r.want.has_value());
        if (got) {
            EXPECT_EQ(got->vk, r.want->vk);
            EXPECT_EQ(got->shift, r.want->shift);
        }
    }
}

TEST(WindowDisplay, ClicksOutsideTheEmulatedScreenAreDropped) {
    for (auto [x, y] : {std::pair{-1, 10}, {320, 10}, {10, 240}}) {
        SDL_Event e{};
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.x = x;
        e.button.y = y;
        EXPECT_FALSE(InjectHostInput(e)) << x << "," << y;
    }
}

TEST(WindowDisplay, TitlesReachTheHostAsUtf8) {
    struct Row {
        std::u16string in;
        std::string out;
    };
    const Row rows[] = {
        {u"SETUP", "SETUP"},
        {u"日本語", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {std::u16string(1, u'\xD800') + u"x", "\xEF\xBF\xBDx"},
    };
    for (const Row& r : rows) {
        wce::user::WindowView v{};
        v.text = r.in;
        EXPECT_EQ(TitleOf(v), r.out);
    }
}

TEST(WindowDisplay, StartsDeliversItsScriptAndEndsUnderTheDummyDriver) {
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    int delivered = 0;
    auto display = MakeWindowDisplay(std::make_unique<CountingScript>(2, &delivered));
    ASSERT_NE(display, nullptr);
    display->WaitForInput();
    display->ScreenChanged();
    display->Poll();
    display->WaitForInput();
    EXPECT_EQ(delivered, 2);
    // Used up, with nobody at the window: answered as an absent user, never a hang.
    display->WaitForInput();
    EXPECT_EQ(delivered, 2);
    display->Shutdown();
    display->Shutdown();
}

}  // namespace
