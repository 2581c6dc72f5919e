#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace panel {
namespace {

struct Tap {
  int index;
  float weight;
};

// For each of the n destination pixels along one axis, the source pixels it draws from and
// their weights (which add up to 1): the covered span when shrinking, the two nearest when
// enlarging. taps[first[d] .. first[d + 1]) belong to pixel d.
struct Axis {
  std::vector<Tap> taps;
  std::vector<int> first;
};

Axis MakeAxis(int source, int n) {
  Axis a;
  a.first.reserve(static_cast<size_t>(n) + 1);
  const double step = static_cast<double>(source) / n;
  for (int d = 0; d < n; ++d) {
    a.first.push_back(static_cast<int>(a.taps.size()));
    if (source > n) {
      const double from = d * step, to = (d + 1) * step;
      for (int i = static_cast<int>(std::floor(from)); i < static_cast<int>(std::ceil(to)) && i < source; ++i) {
        const double covered = std::min(to, i + 1.0) - std::max(from, static_cast<double>(i));
        if (covered > 0) a.taps.push_back({i, static_cast<float>(covered / step)});
      }
    } else {
      const double centre = (d + 0.5) * step - 0.5;
      const int i = static_cast<int>(std::floor(centre));
      const float f = static_cast<float>(centre - i);
      a.taps.push_back({std::clamp(i, 0, source - 1), 1.0f - f});
      if (f > 0) a.taps.push_back({std::clamp(i + 1, 0, source - 1), f});
    }
  }
  a.first.push_back(static_cast<int>(a.taps.size()));
  return a;
}

uint8_t Channel(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l)); }

void Blend(render::Rgba& d, float r, float g, float b, float cover) {
  if (cover >= 0.999f) {
    d = {Channel(r), Channel(g), Channel(b), 255};
    return;
  }
  const float keep = 1.0f - cover;
  d = {Channel(r * cover + d.r * keep), Channel(g * cover + d.g * keep), Channel(b * cover + d.b * keep),
       Channel(255.0f * cover + d.a * keep)};
}

void Line(render::Image& dst, int x0, int y0, int x1, int y1, render::Rgba colour) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  for (int err = dx + dy;;) {
    for (int t = 0; t <= 1; ++t)
      if (dst.contains(x0 + t, y0)) dst.pixels[static_cast<size_t>(y0) * dst.width + x0 + t] = colour;
    if (x0 == x1 && y0 == y1) return;
    const int e2 = 2 * err;
    if (e2 >= dy) err += dy, x0 += sx;
    if (e2 <= dx) err += dx, y0 += sy;
  }
}


}  // namespace

void drawScaled(render::Image& dst, const render::Image& src, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0 || src.width <= 0 || src.height <= 0) return;
  if (w == src.width && h == src.height) {
    render::blit(dst, src, x, y);
    return;
  }
  const int x0 = std::max(0, x), x1 = static_cast<int>(std::min<int64_t>(dst.width, int64_t{x} + w));
  const int y0 = std::max(0, y), y1 = static_cast<int>(std::min<int64_t>(dst.height, int64_t{y} + h));
  if (x0 >= x1 || y0 >= y1) return;
  const Axis ax = MakeAxis(src.width, w), ay = MakeAxis(src.height, h);
  for (int dy = y0; dy < y1; ++dy) {
    const int ry = dy - y;
    for (int dx = x0; dx < x1; ++dx) {
      const int rx = dx - x;
      float r = 0, g = 0, b = 0, cover = 0;
      for (int j = ay.first[ry]; j < ay.first[ry + 1]; ++j) {
        const Tap ty = ay.taps[j];
        const render::Rgba* row = &src.pixels[static_cast<size_t>(ty.index) * src.width];
        for (int i = ax.first[rx]; i < ax.first[rx + 1]; ++i) {
          const Tap tx = ax.taps[i];
          const render::Rgba p = row[tx.index];
          if (p.a == 0) continue;
          const float weight = tx.weight * ty.weight * (p.a / 255.0f);
          r += p.r * weight, g += p.g * weight, b += p.b * weight, cover += weight;
        }
      }
      if (cover < 1.0f / 512) continue;
      Blend(dst.pixels[static_cast<size_t>(dy) * dst.width + dx], r / cover, g / cover, b / cover, cover);
    }
  }
}

void drawPlaceholder(render::Image& dst, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) return;
  const render::Rgba red{230, 40, 40, 255};
  for (int py = std::max(0, y); py < std::min(dst.height, y + h); ++py)
    for (int px = std::max(0, x); px < std::min(dst.width, x + w); ++px)
      Blend(dst.pixels[static_cast<size_t>(py) * dst.width + px], 110, 16, 16, 0.45f);
  const int right = x + w - 1, bottom = y + h - 1;
  for (int t = 0; t < 2; ++t) {
    Line(dst, x, y + t, right - 1, y + t, red);
    Line(dst, x, bottom - t, right - 1, bottom - t, red);
    Line(dst, x + t, y, x + t, bottom, red);
    Line(dst, right - 1 - t, y, right - 1 - t, bottom, red);
  }
  Line(dst, x, y, right - 1, bottom, red);
  Line(dst, x, bottom, right - 1, y, red);
}

}  // namespace panel
