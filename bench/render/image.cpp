// Bitmap decoding and compositing for the bench.
#include "render/image.h"

#include <png.h>

#include <csetjmp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <stdexcept>

namespace render {

static_assert(sizeof(Rgba) == 4, "Rgba must be four packed bytes (PNG rows use it directly)");

Rgba& Image::at(int x, int y) {
  if (!contains(x, y))
    throw std::out_of_range("pixel (" + std::to_string(x) + "," + std::to_string(y) +
                            ") outside a " + std::to_string(width) + "x" +
                            std::to_string(height) + " image");
  return pixels[static_cast<size_t>(y) * width + x];
}

const Rgba& Image::at(int x, int y) const { return const_cast<Image&>(*this).at(x, y); }

Image makeImage(int width, int height, Rgba fill) {
  constexpr int kMaxSide = 1 << 15;
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide)
    throw std::invalid_argument("image size " + std::to_string(width) + "x" +
                                std::to_string(height) + " is not usable");
  return Image{width, height, std::vector<Rgba>(static_cast<size_t>(width) * height, fill)};
}

// ---------------------------------------------------------------------------------------------
// DIB decoding

namespace {

constexpr size_t kInfoHeaderSize = 40;

[[noreturn]] void malformed(const std::string& what) {
  throw std::runtime_error("malformed bitmap: " + what);
}

// Little-endian reads that check the range first.
struct Bytes {
  std::span<const uint8_t> data;

  void need(size_t at, size_t count, const char* what) const {
    if (at > data.size() || count > data.size() - at)
      malformed(std::string(what) + " needs bytes " + std::to_string(at) + ".." +
                std::to_string(at + count) + " but only " + std::to_string(data.size()) +
                " are there");
  }
  uint32_t u16(size_t at, const char* what) const {
    need(at, 2, what);
    return data[at] | (data[at + 1] << 8);
  }
  uint32_t u32(size_t at, const char* what) const {
    need(at, 4, what);
    return data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
           (static_cast<uint32_t>(data[at + 3]) << 24);
  }
};

Rgba keyed(uint8_t r, uint8_t g, uint8_t b) {
  return {r, g, b, static_cast<uint8_t>((r | g | b) ? 255 : 0)};
}

// Decodes the DIB in `dib`. The pixel bits follow the palette, unless a file header said where
// they are (`bitsAt`, counted from the start of the DIB).
Image decode(std::span<const uint8_t> dib, std::optional<uint64_t> bitsAt) {
  const Bytes in{dib};
  const uint32_t headerSize = in.u32(0, "the info header size");
  if (headerSize < kInfoHeaderSize)
    malformed("info header of " + std::to_string(headerSize) +
              " bytes (only BITMAPINFOHEADER and its successors are read)");
  in.need(0, headerSize, "the info header");
  const auto width = static_cast<int32_t>(in.u32(4, "the width"));
  const auto height = static_cast<int32_t>(in.u32(8, "the height"));
  const uint32_t planes = in.u16(12, "the plane count");
  const uint32_t bitCount = in.u16(14, "the bit count");
  const uint32_t compression = in.u32(16, "the compression");
  const uint32_t colorsUsed = in.u32(32, "the palette size");

  if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min())
    malformed("size " + std::to_string(width) + "x" + std::to_string(height));
  if (planes != 1) malformed(std::to_string(planes) + " planes");
  if (bitCount != 8 && bitCount != 24)
    malformed(std::to_string(bitCount) + " bits per pixel (8 and 24 are read)");
  if (compression != 0) malformed("compression " + std::to_string(compression) + " (only BI_RGB)");

  // 8-bit: 0 means a full palette. 24-bit may carry an optional palette too; it is skipped.
  uint64_t paletteEntries = colorsUsed;
  if (bitCount == 8) {
    if (colorsUsed > 256) malformed("palette of " + std::to_string(colorsUsed) + " entries");
    if (colorsUsed == 0) paletteEntries = 256;
  }
  const uint64_t paletteBytes = paletteEntries * 4;
  if (paletteBytes > dib.size() - headerSize) malformed("palette runs past the end of the data");
  const uint64_t headersEnd = headerSize + paletteBytes;
  const uint64_t bits = bitsAt.value_or(headersEnd);
  if (bits < headersEnd) malformed("pixel bits start inside the headers");

  const int rows = height < 0 ? -height : height;
  const bool topDown = height < 0;
  const uint64_t stride = ((static_cast<uint64_t>(width) * bitCount + 31) / 32) * 4;
  if (bits > dib.size() || (dib.size() - bits) / stride < static_cast<uint64_t>(rows))
    malformed(std::to_string(width) + "x" + std::to_string(rows) + " pixels need " +
              std::to_string(stride * rows) + " bytes of bits, " +
              std::to_string(bits > dib.size() ? 0 : dib.size() - bits) + " are there");
  if (static_cast<uint64_t>(width) * rows > (uint64_t{1} << 28)) malformed("picture too large");

  Image image{width, rows, std::vector<Rgba>(static_cast<size_t>(width) * rows)};
  for (int y = 0; y < rows; ++y) {
    const size_t row = static_cast<size_t>(bits + stride * static_cast<uint64_t>(topDown ? y : rows - 1 - y));
    Rgba* out = &image.pixels[static_cast<size_t>(y) * width];
    if (bitCount == 24) {
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = &dib[row + 3 * static_cast<size_t>(x)];
        out[x] = keyed(p[2], p[1], p[0]);
      }
    } else {
      for (int x = 0; x < width; ++x) {
        const uint8_t index = dib[row + x];
        if (index >= paletteEntries)
          malformed("pixel (" + std::to_string(x) + "," + std::to_string(y) +
                    ") uses palette entry " + std::to_string(index) + " of " +
                    std::to_string(paletteEntries));
        const uint8_t* p = &dib[headerSize + 4 * static_cast<size_t>(index)];
        out[x] = keyed(p[2], p[1], p[0]);
      }
    }
  }
  return image;
}

}  // namespace

Image decodeDib(std::span<const uint8_t> dib) { return decode(dib, std::nullopt); }

Image decodeBmpFile(std::span<const uint8_t> file) {
  constexpr size_t kFileHeaderSize = 14;
  const Bytes in{file};
  in.need(0, kFileHeaderSize, "the file header");
  if (file[0] != 'B' || file[1] != 'M') malformed("no 'BM' signature");
  const uint32_t bitsOffset = in.u32(10, "the bits offset");
  if (bitsOffset < kFileHeaderSize) malformed("pixel bits start inside the file header");
  return decode(file.subspan(kFileHeaderSize), uint64_t{bitsOffset} - kFileHeaderSize);
}

// ---------------------------------------------------------------------------------------------
// Compositing

namespace {

// [from, to) of dst columns or rows covered by [start, start + length), clipped to [0, limit).
std::pair<int, int> clipSpan(int64_t start, int64_t length, int limit) {
  const int64_t from = std::max<int64_t>(start, 0);
  const int64_t to = std::min<int64_t>(start + length, limit);
  return {static_cast<int>(from), static_cast<int>(std::max(from, to))};
}

// The blits index pixels directly, so an image whose vector does not match its size is refused.
void checkShape(const Image& image, const char* role) {
  if (image.width < 0 || image.height < 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height))
    throw std::invalid_argument(std::string(role) + " image: " + std::to_string(image.width) + "x" +
                                std::to_string(image.height) + " with " +
                                std::to_string(image.pixels.size()) + " pixels");
}

void put(Image& dst, int x, int y, const Rgba& c) {
  if (c.a != 0) dst.pixels[static_cast<size_t>(y) * dst.width + x] = c;
}

}  // namespace

void blit(Image& dst, const Image& src, int x, int y) {
  checkShape(dst, "destination");
  checkShape(src, "source");
  const auto [x0, x1] = clipSpan(x, src.width, dst.width);
  const auto [y0, y1] = clipSpan(y, src.height, dst.height);
  for (int dy = y0; dy < y1; ++dy)
    for (int dx = x0; dx < x1; ++dx)
      put(dst, dx, dy,
          src.pixels[static_cast<size_t>(dy - int64_t{y}) * src.width + (dx - int64_t{x})]);
}

void blitScaled(Image& dst, const Image& src, int x, int y, int w, int h) {
  checkShape(dst, "destination");
  checkShape(src, "source");
  if (w <= 0 || h <= 0 || src.width <= 0 || src.height <= 0) return;
  const auto [x0, x1] = clipSpan(x, w, dst.width);
  const auto [y0, y1] = clipSpan(y, h, dst.height);
  for (int dy = y0; dy < y1; ++dy) {
    // Sample the source at the centre of each destination pixel.
    const int64_t sy = ((2 * (dy - int64_t{y}) + 1) * src.height) / (2 * int64_t{h});
    for (int dx = x0; dx < x1; ++dx) {
      const int64_t sx = ((2 * (dx - int64_t{x}) + 1) * src.width) / (2 * int64_t{w});
      put(dst, dx, dy, src.pixels[static_cast<size_t>(sy) * src.width + sx]);
    }
  }
}

void blitRotated(Image& dst, const Image& src, double pivotX, double pivotY, double atX,
                 double atY, double angle) {
  for (double v : {pivotX, pivotY, atX, atY, angle})
    if (!std::isfinite(v)) throw std::invalid_argument("blitRotated: non-finite position or angle");
  checkShape(dst, "destination");
  checkShape(src, "source");
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return;
  const double c = std::cos(angle), s = std::sin(angle);

  // Destination box covered by the turned source (its pixel edges lie at -0.5 and size - 0.5).
  double minX = INFINITY, maxX = -INFINITY, minY = INFINITY, maxY = -INFINITY;
  for (double cx : {-0.5, src.width - 0.5})
    for (double cy : {-0.5, src.height - 0.5}) {
      const double px = cx - pivotX, py = cy - pivotY;
      const double X = atX + c * px - s * py, Y = atY + s * px + c * py;
      minX = std::min(minX, X), maxX = std::max(maxX, X);
      minY = std::min(minY, Y), maxY = std::max(maxY, Y);
    }
  // Clamp in floating point before converting, so far-away positions cannot overflow an int.
  const auto clampTo = [](double v, int limit) {
    return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
  };
  const int x0 = clampTo(std::floor(minX), dst.width), x1 = clampTo(std::ceil(maxX) + 1, dst.width);
  const int y0 = clampTo(std::floor(minY), dst.height), y1 = clampTo(std::ceil(maxY) + 1, dst.height);

  for (int dy = y0; dy < y1; ++dy) {
    const double v = dy - atY;
    for (int dx = x0; dx < x1; ++dx) {
      const double u = dx - atX;
      // Inverse turn: which source pixel lands here.
      const double sx = std::floor(pivotX + c * u + s * v + 0.5);
      const double sy = std::floor(pivotY - s * u + c * v + 0.5);
      if (!(sx >= 0 && sy >= 0 && sx < src.width && sy < src.height)) continue;
      put(dst, dx, dy,
          src.pixels[static_cast<size_t>(sy) * src.width + static_cast<size_t>(sx)]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Needles

double needleAngle(std::span<const CalibrationPoint> rows, double cx, double cy, double value) {
  if (rows.empty()) throw std::invalid_argument("needleAngle: empty calibration table");
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!std::isfinite(rows[i].value))
      throw std::invalid_argument("needleAngle: row " + std::to_string(i) + " has no finite value");
    if (i > 0 && rows[i].value < rows[i - 1].value)
      throw std::invalid_argument("needleAngle: row " + std::to_string(i) +
                                  " is below the row before it");
  }
  const auto direction = [&](const CalibrationPoint& p) { return std::atan2(p.y - cy, p.x - cx); };

  if (std::isnan(value) || value <= rows.front().value) return direction(rows.front());
  if (value >= rows.back().value) return direction(rows.back());
  // rows[i].value <= value < rows[i + 1].value
  size_t i = 0;
  while (rows[i + 1].value <= value) ++i;
  const CalibrationPoint &lo = rows[i], &hi = rows[i + 1];
  constexpr double kTurn = 2 * std::numbers::pi;
  const double from = direction(lo);
  double sweep = direction(hi) - from;  // clockwise on screen: 0 <= sweep < 2*pi
  if (sweep < 0) sweep += kTurn;
  const double t = (value - lo.value) / (hi.value - lo.value);
  double angle = std::remainder(from + t * sweep, kTurn);  // into [-pi, pi]
  if (angle <= -std::numbers::pi) angle += kTurn;
  return angle;
}

// ---------------------------------------------------------------------------------------------
// PNG

namespace {

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

}  // namespace

std::vector<uint8_t> encodePng(const Image& image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    throw std::runtime_error("encodePng: image of " + std::to_string(image.width) + "x" +
                             std::to_string(image.height) + " with " +
                             std::to_string(image.pixels.size()) + " pixels cannot be written");
  // Fast rather than small, for live panels: one pass, fastest deflate, Sub filter, and RGB
  // when no pixel is see-through.
  const bool opaque = std::all_of(image.pixels.begin(), image.pixels.end(), [](const Rgba& p) { return p.a == 255; });
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(image.width) * image.height / 4 + 1024);
  std::vector<uint8_t> row(static_cast<size_t>(image.width) * 3);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) throw std::runtime_error("encodePng: out of memory");
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("encodePng: libpng failed");
  }
  png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    const Rgba* src = &image.pixels[static_cast<size_t>(y) * image.width];
    if (opaque) {
      for (int x = 0; x < image.width; ++x) {
        row[3 * x] = src[x].r, row[3 * x + 1] = src[x].g, row[3 * x + 2] = src[x].b;
      }
      png_write_row(png, row.data());
    } else {
      png_write_row(png, reinterpret_cast<png_const_bytep>(src));
    }
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

void writePng(const Image& image, const std::string& path) {
  const std::vector<uint8_t> bytes = encodePng(image);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write PNG '" + path + "': " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int savedErrno = errno;
  if (std::fclose(f) != 0 || !written)
    throw std::runtime_error("cannot write PNG '" + path + "': " +
                             std::strerror(written ? errno : savedErrno));
}

}  // namespace render
