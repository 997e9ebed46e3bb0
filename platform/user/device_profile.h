// The device profile the window system measures with: the dialog font and the display density.
#pragma once

#include <optional>
#include <string_view>

namespace wce::user {

struct FontSetting {
    int avgWidth;
    int height;
};

// "WxH" with both between 1 and 200 pixels; nullopt for anything else.
std::optional<FontSetting> ParseFontSetting(std::string_view text);
// A whole number of dots per inch between 1 and 2400; nullopt for anything else.
std::optional<int> ParseDpiSetting(std::string_view text);

// The device's dialog font at a density: 8 x 15 pixels at 96 dpi, in proportion elsewhere.
FontSetting DeviceFontAt(int dpi);

// Sets the dialog font the dialog units and the pictures use; WCE_FONT still wins.
void SetDialogFontMetrics(int avgWidth, int height);
bool DialogFontFixedByEnvironment();
void SetLogPixelsY(int dpi);

// Reads WCE_FONT and WCE_DPI; without WCE_FONT the dialog font is the device's at WCE_DPI.
// A malformed value is reported on stderr with the variable's name
// and the process exits with status 2.
void ConfigureProfileFromEnvironment();

}  // namespace wce::user
