#include "platform/display/terminal/keys.h"
// After the device's types: curses defines TRUE and FALSE as macros.
#include <curses.h>

namespace wce::terminal {

std::optional<DeviceKey> MapTerminalKey(bool isFunctionKey, std::uint32_t code) {
    if (isFunctionKey) {
        switch (code) {
            case KEY_UP:
                return DeviceKey{VK_UP, false};
            case KEY_DOWN:
                return DeviceKey{VK_DOWN, false};
            case KEY_LEFT:
                return DeviceKey{VK_LEFT, false};
            case KEY_RIGHT:
                return DeviceKey{VK_RIGHT, false};
            case KEY_HOME:
                return DeviceKey{VK_HOME, false};
            case KEY_END:
                return DeviceKey{VK_END, false};
            case KEY_PPAGE:
                return DeviceKey{VK_PRIOR, false};
            case KEY_NPAGE:
                return DeviceKey{VK_NEXT, false};
            case KEY_BTAB:
                return DeviceKey{VK_TAB, true};
            case KEY_ENTER:
                return DeviceKey{VK_RETURN, false};
            default:
                return std::nullopt;
        }
    }
    switch (code) {
        case U'\t':
            return DeviceKey{VK_TAB, false};
        case U'\r':
        case U'\n':
            return DeviceKey{VK_RETURN, false};
        case U' ':
            return DeviceKey{VK_SPACE, false};
        case 0x1B:
            return DeviceKey{VK_ESCAPE, false};
        default:
            return std::nullopt;
    }
}

}  // namespace wce::terminal
