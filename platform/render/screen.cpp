#include "platform/render/screen.h"


#include "platform/render/png.h"

namespace wce::render {

const IconImage* ModuleIconImage(HICON icon, int size) {
    if (!icon) return nullptr;
    // Icons loaded from resources are shared: loading one again yields the same handle.
    for (const IconResource& res : wce::g_moduleResources.icons) {
        if (LoadIconW(nullptr, static_cast<int>(res.id)) != icon) continue;
        const IconImage* best = nullptr;
        for (const IconImage& img : res.images) {
            if (img.width == size && img.height == size) return &img;
            if (!best || img.width < best->width) best = &img;
        }
        return best && best->width <= size ? best : nullptr;
    }
    return nullptr;
}

int DeviceDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

RenderOptions ScreenRenderOptions(std::string* error) {
    RenderOptions options;
    options.font = DialogFont(DeviceDpi(), error);
    options.icons = &ModuleIconImage;
    return options;
}

bool WriteScreenshotPng(const std::string& path, std::string* error) {
    const RenderOptions options = ScreenRenderOptions(error);
    if (!options.font) {
        if (error) *error = "cannot write the screenshot " + path + ": " + *error;
        return false;
    }
    Image image;
    RenderScreen(wce::user::SnapshotScreen(), options, image);
    return WritePng(image, path, error);
}

}  // namespace wce::render
