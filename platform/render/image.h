// The emulated screen as an image the renderer draws into and the displays present.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/user/winuser.h"

namespace wce::render {

// 0x00RRGGBB, the same layout as the icon palettes.
using Color = std::uint32_t;

class Image {
  public:
    Image(int width = SCREEN_WIDTH, int height = SCREEN_HEIGHT, Color fill = 0);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Out-of-range reads give 0; out-of-range writes are dropped.
    Color At(int x, int y) const;
    void Set(int x, int y, Color c);
    // Rows top first, Width() pixels a row.
    const Color* Row(int y) const { return &pixels_[static_cast<size_t>(y) * width_]; }
    Color* Row(int y) { return &pixels_[static_cast<size_t>(y) * width_]; }
    const std::vector<Color>& Pixels() const { return pixels_; }

    // Fills r (right and bottom exclusive) intersected with the image and with clip.
    void Fill(const RECT& r, Color c, const RECT& clip);
    void Fill(const RECT& r, Color c) { Fill(r, c, Bounds()); }
    RECT Bounds() const { return RECT{0, 0, width_, height_}; }

  private:
    int width_, height_;
    std::vector<Color> pixels_;
};

// Geometry helpers on half-open rectangles.
RECT Intersect(const RECT& a, const RECT& b);
bool IsEmpty(const RECT& r);
RECT Inset(const RECT& r, int d);

}  // namespace wce::render
