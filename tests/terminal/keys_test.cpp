#include "platform/display/terminal/keys.h"

#include <curses.h>
#include <gtest/gtest.h>

namespace wce::terminal {
namespace {

TEST(TerminalKeys, MapsTheKeysTheDialogUsesAndNothingElse) {
    struct Row {
        bool function;
        std::uint32_t code;
        std::optional<DeviceKey> key;
    };
    const Row rows[] = {
        {true, KEY_UP, DeviceKey{VK_UP, false}},
        {true, KEY_DOWN, DeviceKey{VK_DOWN, false}},
        {true, KEY_HOME, DeviceKey{VK_HOME, false}},
        {true, KEY_END, DeviceKey{VK_END, false}},
        {true, KEY_PPAGE, DeviceKey{VK_PRIOR, false}},
        {true, KEY_NPAGE, DeviceKey{VK_NEXT, false}},
        {true, KEY_BTAB, DeviceKey{VK_TAB, true}},
        {true, KEY_ENTER, DeviceKey{VK_RETURN, false}},
        {false, '\t', DeviceKey{VK_TAB, false}},
        {false, '\r', DeviceKey{VK_RETURN, false}},
        {false, '\n', DeviceKey{VK_RETURN, false}},
        {false, ' ', DeviceKey{VK_SPACE, false}},
        {false, 0x1B, DeviceKey{VK_ESCAPE, false}},
        {false, 'q', std::nullopt},
        {false, KEY_UP, std::nullopt},  // a character that happens to share the code
        {true, KEY_F(1), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(MapTerminalKey(row.function, row.code), row.key);
    }
}

}  // namespace
}  // namespace wce::terminal
