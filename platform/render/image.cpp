#include "platform/render/image.h"

#include <algorithm>

namespace wce::render {

Image::Image(int width, int height, Color fill)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), fill) {}

Color Image::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return Row(y)[x];
}

void Image::Set(int x, int y, Color c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    Row(y)[x] = c;
}

void Image::Fill(const RECT& r, Color c, const RECT& clip) {
    const RECT f = Intersect(Intersect(r, clip), Bounds());
    if (IsEmpty(f)) return;
    for (LONG y = f.top; y < f.bottom; ++y) std::fill(Row(y) + f.left, Row(y) + f.right, c);
}

RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

RECT Inset(const RECT& r, int d) {
    return RECT{r.left + d, r.top + d, r.right - d, r.bottom - d};
}

}  // namespace wce::render
