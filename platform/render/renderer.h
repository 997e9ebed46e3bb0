// Draws the emulated screen: the window tree as displays see it, into a 320 x 240 image.
#pragma once

#include <vector>

#include "platform/render/font.h"
#include "platform/render/image.h"
#include "platform/user/dialogs.h"
#include "platform/user/display.h"

namespace wce::render {

// The device's system colours.
namespace colors {
inline constexpr Color kDesktop = 0x3A6EA5;
inline constexpr Color kFace = 0xC0C0C0;    // dialogs, buttons, static texts
inline constexpr Color kWindow = 0xFFFFFF;  // list box background
inline constexpr Color kText = 0x000000;
inline constexpr Color kGrayText = 0x808080;   // disabled text
inline constexpr Color kHighlight = 0x000080;  // selected list entry
inline constexpr Color kHighlightText = 0xFFFFFF;
inline constexpr Color kCaption = 0x000080;
inline constexpr Color kCaptionText = 0xFFFFFF;
inline constexpr Color kLight = 0xFFFFFF;  // lit edge of raised parts
inline constexpr Color kLight2 = 0xDFDFDF;
inline constexpr Color kShadow = 0x808080;
inline constexpr Color kDarkShadow = 0x000000;
inline constexpr Color kBorder = 0x000000;  // WS_BORDER
inline constexpr Color kScrollTrack = 0xE0E0E0;
inline constexpr Color kInfoIcon = 0x0000FF;
}  // namespace colors

inline constexpr int kScrollBarWidth = 13;
inline constexpr int kSmallIconSize = 16;
inline constexpr int kInfoIconSize = 32;
// The information icon sits this far inside a message box's client area.
inline constexpr int kInfoIconMargin = 8;

// The pixels of an icon at a size (16 or 32); nullptr when unknown. The window system owns
// icons, so whoever renders supplies the lookup.
using IconSource = const IconImage* (*)(HICON icon, int size);

struct RenderOptions {
    const Font* font = nullptr;  // without a font no text is drawn
    IconSource icons = nullptr;  // without a source icons are left out
};

// Draws every visible window of `screen` (bottom of the stacking order first) over the
// desktop; hidden windows and their children leave no pixels.
void RenderScreen(const std::vector<wce::user::WindowView>& screen, const RenderOptions& options,
                  Image& image);

}  // namespace wce::render
