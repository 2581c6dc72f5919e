#include "frame_png.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace serve {
namespace {

bool SameRow(const render::Image& a, const render::Image& b, int y) {
  return std::memcmp(&a.pixels[static_cast<size_t>(y) * a.width], &b.pixels[static_cast<size_t>(y) * b.width],
                     sizeof(render::Rgba) * a.width) == 0;
}

}  // namespace

Rect ChangedRect(const render::Image& a, const render::Image& b) {
  if (a.width != b.width || a.height != b.height) return {0, 0, b.width, b.height};
  int top = 0, bottom = a.height - 1;
  while (top <= bottom && SameRow(a, b, top)) ++top;
  if (top > bottom) return {};
  while (bottom > top && SameRow(a, b, bottom)) --bottom;
  int left = a.width, right = -1;
  for (int y = top; y <= bottom; ++y) {
    const render::Rgba* pa = &a.pixels[static_cast<size_t>(y) * a.width];
    const render::Rgba* pb = &b.pixels[static_cast<size_t>(y) * b.width];
    for (int x = 0; x < left; ++x)
      if (!(pa[x] == pb[x])) {
        left = x;
        break;
      }
    for (int x = a.width - 1; x > right; --x)
      if (!(pa[x] == pb[x])) {
        right = x;
        break;
      }
  }
  return {left, top, right - left + 1, bottom - top + 1};
}

Rect Union(const Rect& a, const Rect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

std::vector<uint8_t> EncodeFramePng(const render::Image& image, Rect part) {
  const int x0 = std::max(part.x, 0), y0 = std::max(part.y, 0);
  const int x1 = std::min(part.x + part.width, image.width), y1 = std::min(part.y + part.height, image.height);
  if (x1 <= x0 || y1 <= y0)
    throw std::invalid_argument("EncodeFramePng: empty part " + std::to_string(part.width) + "x" + std::to_string(part.height));
  // The part, opaque: a window picture drawn over the page's copy must cover what it replaces.
  render::Image cut;
  cut.width = x1 - x0;
  cut.height = y1 - y0;
  cut.pixels.reserve(static_cast<size_t>(cut.width) * cut.height);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      render::Rgba p = image.pixels[static_cast<size_t>(y) * image.width + x];
      p.a = 255;
      cut.pixels.push_back(p);
    }
  }
  return render::encodePng(cut);
}

}  // namespace serve
