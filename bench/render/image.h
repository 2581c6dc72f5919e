// The bench's pictures: decoding the bitmaps a gauge module carries, compositing them the way the
// host draws elements, and writing frames as PNG.
//
// Pure black (0,0,0) in a gauge bitmap is see-through. Decoding turns that into alpha 0 and every
// other pixel into alpha 255; the blits then skip alpha-0 source pixels, so whatever lies below
// shows through. Coordinates are pixels, x to the right and y down, origin at the top left.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace render {

struct Rgba {
  uint8_t r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

inline constexpr Rgba kSeeThrough{0, 0, 0, 0};

struct Image {
  int width = 0, height = 0;
  std::vector<Rgba> pixels;  // row-major, top row first

  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  // Checked access: throws std::out_of_range outside the picture.
  Rgba& at(int x, int y);
  const Rgba& at(int x, int y) const;
};

// A width x height picture filled with `fill`; negative or huge sizes throw
// std::invalid_argument.
Image makeImage(int width, int height, Rgba fill = kSeeThrough);

// Decode a bare DIB as stored in a BITMAP resource (BITMAPINFOHEADER + palette + bits): 8-bit
// palette (biClrUsed 0 = 256) and 24-bit, bottom-up or top-down, BI_RGB only. Pure black (0,0,0)
// pixels get alpha 0 (see-through), all others alpha 255. Every read is bounds-checked: malformed
// input throws std::runtime_error with a clear message, never reads out of bounds.
Image decodeDib(std::span<const uint8_t> dib);
// The same for a .bmp file, which puts a 14-byte file header (with the offset of the bits)
// in front of the DIB.
Image decodeBmpFile(std::span<const uint8_t> file);

// Copies src with its top-left corner at (x, y). Alpha-0 source pixels leave dst unchanged;
// whatever falls outside dst is clipped.
void blit(Image& dst, const Image& src, int x, int y);
// Stretches src over the w x h rectangle at (x, y), nearest neighbour, same see-through rule.
// An empty rectangle or source draws nothing.
void blitScaled(Image& dst, const Image& src, int x, int y, int w, int h);
// Draws src turned by `angle` radians about its point (pivotX, pivotY), placing that point at
// (atX, atY) in dst. Angle 0 leaves src as is; positive angles turn clockwise on screen. Points are
// pixel-centred: (i, j) is the centre of pixel (i, j), so the pivot pixel lands exactly on the
// (atX, atY) pixel at every angle. Inverse mapping, nearest neighbour; see-through stays
// see-through; clipped. Non-finite arguments throw std::invalid_argument.
void blitRotated(Image& dst, const Image& src, double pivotX, double pivotY, double atX,
                 double atY, double angle);

// One row of a needle's calibration table: the needle points at gauge pixel (x, y) for `value`.
struct CalibrationPoint {
  double x, y, value;
};

// The angle (atan2(dy, dx) in screen coordinates, radians, in (-pi, pi]) at which a needle turning
// about (cx, cy) points for `value`. Each row gives the direction from (cx, cy) to its point; rows
// are in increasing value. Between two rows the angle moves linearly in value, sweeping clockwise
// (increasing screen angle, through 2*pi if need be) from the lower row's direction to the higher
// row's. Below the first row, or NaN: the first row's direction; above the last: the last row's.
// An empty table, a non-finite row value or rows out of order throw std::invalid_argument.
double needleAngle(std::span<const CalibrationPoint> rows, double cx, double cy, double value);

// PNG in memory, fast rather than small (RGB when no pixel is see-through, else RGBA). An empty
// image throws std::runtime_error (PNG has no 0-pixel pictures).
std::vector<uint8_t> encodePng(const Image& image);
// Writes encodePng's bytes to `path`; throws std::runtime_error naming the path on failure.
void writePng(const Image& image, const std::string& path);

}  // namespace render
