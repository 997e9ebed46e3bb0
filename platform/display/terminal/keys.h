// Terminal keys to the device's virtual keys.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/user/winuser.h"

namespace wce::terminal {

struct DeviceKey {
    WPARAM vk;
    bool shift;
    bool operator==(const DeviceKey&) const = default;
};

// isFunctionKey: the terminal library reported a key code (arrows, Home, Shift-Tab...) rather
// than a character. nullopt for keys the device has no use for.
std::optional<DeviceKey> MapTerminalKey(bool isFunctionKey, std::uint32_t code);

}  // namespace wce::terminal
