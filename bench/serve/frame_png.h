// Window pictures as PNG for the page: only the part that changed, since a live panel sends many.
#pragma once

#include <cstdint>
#include <vector>

#include "render/image.h"

namespace serve {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The smallest rectangle holding every pixel that differs between two pictures of one size;
// empty when they are equal. Pictures of different sizes differ everywhere (b's whole area).
Rect ChangedRect(const render::Image& a, const render::Image& b);
Rect Union(const Rect& a, const Rect& b);

// `part` of `image` (clipped to it) as an 8-bit RGB PNG: windows are opaque, so alpha is dropped
// (see-through pixels show their colour, black). An empty part throws std::invalid_argument.
std::vector<uint8_t> EncodeFramePng(const render::Image& image, Rect part);

}  // namespace serve
