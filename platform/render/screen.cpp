#include "platform/render/screen.h"

#include "platform/render/png.h"
#include "platform/user/window_tree.h"

namespace wce::render {

namespace {

// The image of a resource icon closest to size x size pixels, never a larger one.
const IconImage* IconPixels(HICON icon, int size) {
    if (!icon || !icon->resource) return nullptr;
    const IconImage* best = nullptr;
    for (const IconImage& img : icon->resource->images) {
        if (img.width > size) continue;
        if (!best || img.width > best->width) best = &img;
    }
    return best;
}

}  // namespace

int DeviceDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

RenderOptions ScreenRenderOptions(std::string* error) {
    RenderOptions options;
    // The picture draws the very font the dialog units were measured with.
    const wce::user::FontMetrics profile = wce::user::DialogFont();
    options.font = DialogFont(profile.avgWidth, profile.height, error);
    options.icons = &IconPixels;
    return options;
}

bool WriteScreenshotPng(const std::string& path, std::string* error, ScreenshotOf what) {
    const RenderOptions options = ScreenRenderOptions(error);
    if (!options.font) {
        if (error) *error = "cannot write the screenshot " + path + ": " + *error;
        return false;
    }
    std::vector<wce::user::WindowView> screen = wce::user::SnapshotScreen();
    while (what == ScreenshotOf::BelowMessages && !screen.empty() &&
           screen.back().kind == wce::user::WindowKind::MessageBox)
        screen.pop_back();
    Image image;
    RenderScreen(screen, options, image);
    return WritePng(image, path, error);
}

}  // namespace wce::render
