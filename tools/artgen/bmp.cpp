// Windows BMP files: writing the 8- and 24-bit bitmaps, reading them back for mirroring and
// previews.
#include "art.h"

#include <algorithm>

namespace artgen {

namespace {

constexpr size_t kFileHeader = 14, kInfoHeader = 40;
constexpr int kMaxSide = 65535;

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get16(std::span<const uint8_t> in, size_t at) { return in[at] | (in[at + 1] << 8); }
uint32_t get32(std::span<const uint8_t> in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (static_cast<uint32_t>(in[at + 3]) << 24);
}

size_t rowStride(int width, int bitsPerPixel) {
  return (static_cast<size_t>(width) * bitsPerPixel / 8 + 3) & ~size_t{3};
}

// File header, info header and (8-bit) palette space; the caller fills palette and rows.
std::vector<uint8_t> startBmp(int width, int height, int bitsPerPixel) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
    throw ArtError("bitmap size " + std::to_string(width) + "x" + std::to_string(height) +
                   " cannot be written");
  const size_t paletteBytes = bitsPerPixel == 8 ? 256 * 4 : 0;
  const size_t bitsOffset = kFileHeader + kInfoHeader + paletteBytes;
  const size_t imageBytes = rowStride(width, bitsPerPixel) * height;
  std::vector<uint8_t> out(bitsOffset + imageBytes, 0);
  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, static_cast<uint32_t>(out.size()));
  put32(out, 10, static_cast<uint32_t>(bitsOffset));
  put32(out, 14, kInfoHeader);
  put32(out, 18, static_cast<uint32_t>(width));
  put32(out, 22, static_cast<uint32_t>(height));  // positive: bottom-up rows
  put16(out, 26, 1);                               // planes
  put16(out, 28, static_cast<uint32_t>(bitsPerPixel));
  put32(out, 30, 0);  // BI_RGB
  put32(out, 34, static_cast<uint32_t>(imageBytes));
  put32(out, 38, 2835);  // 72 dpi, both ways
  put32(out, 42, 2835);
  put32(out, 46, bitsPerPixel == 8 ? 256 : 0);  // palette entries
  put32(out, 50, 0);                            // all entries matter
  return out;
}

}  // namespace

std::vector<uint8_t> encodeBmp24(const RgbImage& image) {
  if (image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    throw ArtError("bitmap size does not match its pixels");
  std::vector<uint8_t> out = startBmp(image.width, image.height, 24);
  const size_t bits = get32(out, 10), stride = rowStride(image.width, 24);
  for (int y = 0; y < image.height; ++y) {
    const size_t row = bits + static_cast<size_t>(image.height - 1 - y) * stride;
    for (int x = 0; x < image.width; ++x) {
      const Rgb c = image.pixels[static_cast<size_t>(y) * image.width + x];
      out[row + 3 * x + 0] = c.b;
      out[row + 3 * x + 1] = c.g;
      out[row + 3 * x + 2] = c.r;
    }
  }
  return out;
}

std::vector<uint8_t> encodeBmp8(const IndexedImage& image) {
  if (image.indices.size() != static_cast<size_t>(image.width) * image.height)
    throw ArtError("bitmap size does not match its pixels");
  std::vector<uint8_t> out = startBmp(image.width, image.height, 8);
  for (size_t i = 0; i < 256; ++i) {
    const size_t at = kFileHeader + kInfoHeader + 4 * i;
    out[at + 0] = image.palette[i].b;
    out[at + 1] = image.palette[i].g;
    out[at + 2] = image.palette[i].r;
  }
  const size_t bits = get32(out, 10), stride = rowStride(image.width, 8);
  for (int y = 0; y < image.height; ++y) {
    const size_t row = bits + static_cast<size_t>(image.height - 1 - y) * stride;
    std::copy_n(image.indices.begin() + static_cast<ptrdiff_t>(y) * image.width, image.width,
                out.begin() + static_cast<ptrdiff_t>(row));
  }
  return out;
}

BmpLayout parseBmp(std::span<const uint8_t> file) {
  if (file.size() < kFileHeader + kInfoHeader || file[0] != 'B' || file[1] != 'M')
    throw ArtError("not a BMP file");
  const uint32_t infoSize = get32(file, 14);
  if (infoSize < kInfoHeader || infoSize > file.size() - kFileHeader)
    throw ArtError("BMP header size " + std::to_string(infoSize) + " is not usable");
  const auto width = static_cast<int32_t>(get32(file, 18));
  const auto height = static_cast<int32_t>(get32(file, 22));
  const uint32_t planes = get16(file, 26), bpp = get16(file, 28), compression = get32(file, 30);
  if (width < 1 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
    throw ArtError("BMP size " + std::to_string(width) + "x" + std::to_string(height) +
                   " is not usable");
  if (planes != 1) throw ArtError("BMP has " + std::to_string(planes) + " planes, not 1");
  if (bpp != 8 && bpp != 24)
    throw ArtError("BMP has " + std::to_string(bpp) + " bits per pixel; only 8 and 24 are handled");
  if (compression != 0) throw ArtError("BMP is compressed; only BI_RGB is handled");

  BmpLayout l;
  l.width = width;
  l.height = height < 0 ? -height : height;
  l.topDown = height < 0;
  l.bitsPerPixel = static_cast<int>(bpp);
  l.stride = rowStride(width, l.bitsPerPixel);
  if (bpp == 8) {
    const uint32_t used = get32(file, 46);
    if (used > 256) throw ArtError("BMP palette of " + std::to_string(used) + " entries");
    l.paletteEntries = used == 0 ? 256 : static_cast<int>(used);
    l.paletteOffset = kFileHeader + infoSize;
    if (l.paletteOffset + 4 * static_cast<size_t>(l.paletteEntries) > file.size())
      throw ArtError("BMP palette runs past the end of the file");
  }
  l.bitsOffset = get32(file, 10);
  const size_t headersEnd = kFileHeader + infoSize + 4 * static_cast<size_t>(l.paletteEntries);
  if (l.bitsOffset < headersEnd || l.bitsOffset > file.size() ||
      (file.size() - l.bitsOffset) / l.stride < static_cast<size_t>(l.height))
    throw ArtError("BMP pixel rows run past the end of the file");
  return l;
}

std::vector<uint8_t> mirrorBmp(std::span<const uint8_t> file) {
  const BmpLayout l = parseBmp(file);
  std::vector<uint8_t> out(file.begin(), file.end());
  const size_t bytesPerPixel = l.bitsPerPixel / 8;
  for (int y = 0; y < l.height; ++y) {
    const size_t row = l.bitsOffset + static_cast<size_t>(y) * l.stride;
    for (int x = 0; x < l.width; ++x) {
      const size_t from = row + static_cast<size_t>(l.width - 1 - x) * bytesPerPixel;
      const size_t to = row + static_cast<size_t>(x) * bytesPerPixel;
      std::copy_n(file.begin() + static_cast<ptrdiff_t>(from), bytesPerPixel,
                  out.begin() + static_cast<ptrdiff_t>(to));
    }
  }
  return out;
}

std::vector<uint8_t> bmpToRgba(std::span<const uint8_t> file, int& width, int& height) {
  const BmpLayout l = parseBmp(file);
  width = l.width;
  height = l.height;
  std::vector<uint8_t> rgba(static_cast<size_t>(l.width) * l.height * 4);
  for (int y = 0; y < l.height; ++y) {
    const size_t row = l.bitsOffset + static_cast<size_t>(l.topDown ? y : l.height - 1 - y) * l.stride;
    for (int x = 0; x < l.width; ++x) {
      uint8_t b, g, r;
      if (l.bitsPerPixel == 24) {
        b = file[row + 3 * x];
        g = file[row + 3 * x + 1];
        r = file[row + 3 * x + 2];
      } else {
        const uint8_t index = file[row + x];
        if (index >= l.paletteEntries)
          throw ArtError("BMP pixel uses palette entry " + std::to_string(index) + " of " +
                         std::to_string(l.paletteEntries));
        const size_t at = l.paletteOffset + 4 * static_cast<size_t>(index);
        b = file[at];
        g = file[at + 1];
        r = file[at + 2];
      }
      uint8_t* p = &rgba[(static_cast<size_t>(y) * l.width + x) * 4];
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = (r | g | b) ? 255 : 0;
    }
  }
  return rgba;
}

}  // namespace artgen
