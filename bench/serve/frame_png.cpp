#include "frame_png.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace serve {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                            static_cast<uint8_t>(v)};
  out.insert(out.end(), bytes, bytes + 4);
}

void Chunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
  Put32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size != 0) out.insert(out.end(), data, data + size);
  Put32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

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
  const int width = x1 - x0, height = y1 - y0;

  // Filtered rows: a filter byte (1, Sub), then each byte minus the same byte of the pixel on its left.
  const size_t stride = static_cast<size_t>(width) * 3 + 1;
  std::vector<uint8_t> raw(stride * height);
  for (int y = 0; y < height; ++y) {
    uint8_t* out = &raw[stride * y];
    const render::Rgba* in = &image.pixels[static_cast<size_t>(y0 + y) * image.width + x0];
    *out++ = 1;
    render::Rgba left{0, 0, 0, 0};
    for (int x = 0; x < width; ++x) {
      *out++ = static_cast<uint8_t>(in[x].r - left.r);
      *out++ = static_cast<uint8_t>(in[x].g - left.g);
      *out++ = static_cast<uint8_t>(in[x].b - left.b);
      left = in[x];
    }
  }

  z_stream z{};
  if (deflateInit(&z, Z_BEST_SPEED) != Z_OK) throw std::runtime_error("EncodeFramePng: deflateInit failed");
  std::vector<uint8_t> packed(deflateBound(&z, static_cast<uLong>(raw.size())));
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  const int status = deflate(&z, Z_FINISH);
  const size_t packedSize = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw std::runtime_error("EncodeFramePng: deflate failed");

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png.reserve(packedSize + 64);
  std::vector<uint8_t> header;
  Put32(header, static_cast<uint32_t>(width));
  Put32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
  Chunk(png, "IHDR", header.data(), header.size());
  Chunk(png, "IDAT", packed.data(), packedSize);
  Chunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace serve
