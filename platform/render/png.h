// Screenshots of the emulated screen as PNG files.
#pragma once

#include <string>

#include "platform/render/image.h"

namespace wce::render {

// Writes `image` as an 8-bit RGB PNG. False with *error naming the path and the cause when the
// file cannot be created or written; a partly written file is removed.
bool WritePng(const Image& image, const std::string& path, std::string* error);

enum class ScreenshotOf {
    Screen,         // everything shown now
    BelowMessages,  // without the message boxes on top: the screen as it was when they opened
};

// Renders the screen as it is now (SnapshotScreen) with the dialog font at the device's density
// and writes it to `path`. False with *error set when the font or the file fails.
bool WriteScreenshotPng(const std::string& path, std::string* error,
                        ScreenshotOf what = ScreenshotOf::Screen);

}  // namespace wce::render
