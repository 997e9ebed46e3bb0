// The host window's input as the device's input, and small helpers of the window display.
#pragma once

#include <SDL.h>

#include <optional>
#include <string>

#include "platform/user/display.h"

namespace wce::display {

struct KeyPress {
    WPARAM vk;
    bool shift;
};

// The device key for a host key; nullopt for keys the device has no use for.
std::optional<KeyPress> MapKey(SDL_Keycode key, Uint16 modifiers);

// Posts the device input for one host event (key press, left click in the emulated screen).
// True when something was posted.
bool InjectHostInput(const SDL_Event& event);

// A window's title as UTF-8, for the host window's title bar.
std::string TitleOf(const wce::user::WindowView& view);

}  // namespace wce::display
