// Rendering the live screen of the window system (the displays' and the screenshot's source).
#pragma once

#include <string>

#include "platform/render/renderer.h"

namespace wce::render {

// Options for the live screen: the dialog font at the device profile's metrics and the window
// system's icons. options.font stays nullptr, with *error set, when the font cannot be opened.
RenderOptions ScreenRenderOptions(std::string* error);

// The device's vertical logical pixels per inch, as the program's GetDeviceCaps reads it.
int DeviceDpi();

}  // namespace wce::render
