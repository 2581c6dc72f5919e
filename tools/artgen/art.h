// artgen: build-time rasterizer for gauge art.
//
// The host draws element bitmaps with pure black (0,0,0) as the see-through colour, so every
// bitmap artgen writes obeys one rule: a pixel is (0,0,0) exactly when it is meant to be
// see-through. Rendering applies the rule (keyedColour), quantizing keeps it (quantize), and the
// BMP writers store what they are given.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace artgen {

// Every failure artgen reports: a one-line message for the user.
struct ArtError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kSeeThrough{0, 0, 0};
// Where an opaque colour too dark to survive the host's key test goes. (8,8,8) is the darkest
// grey that stays non-black when the host reduces colours to 5 bits per channel (16-bit modes).
inline constexpr Rgb kNearBlack{8, 8, 8};

// A keyed true-colour picture, top row first. (0,0,0) means see-through and nothing else.
struct RgbImage {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
};

// A keyed palette picture, top row first. Entry 0 is (0,0,0) and is the only black entry.
struct IndexedImage {
  int width = 0, height = 0;
  std::array<Rgb, 256> palette{};
  std::vector<uint8_t> indices;
};

// --- rendering (svg_raster.cpp) ---

// The see-through rule for one premultiplied cairo pixel: alpha below half becomes (0,0,0);
// anything else is un-premultiplied and lifted to kNearBlack if it would reduce to black.
Rgb keyedColour(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
// An opaque colour made safe from the key: any colour darker than kNearBlack in every channel
// becomes kNearBlack.
Rgb liftFromKey(Rgb c);

// Renders an SVG onto exactly width x height pixels, its viewBox stretched over the whole
// surface, and applies the see-through rule. `source` only names the input in error messages.
RgbImage renderSvg(std::span<const uint8_t> svg, int width, int height,
                   const std::string& source = "SVG");
RgbImage renderSvgFile(const std::string& path, int width, int height);

// --- palette (quantize.cpp) ---

// Reduces to 256 colours with libimagequant, then enforces the key: see-through pixels on index
// 0, no other pixel on it, no other entry black. Deterministic for a given input.
IndexedImage quantize(const RgbImage& image);

// One entry of a quantizer's palette, alpha included.
struct QuantizedColour {
  uint8_t r, g, b, a;
};
// quantize's post-pass, on a quantizer's palette (at most 255 entries) and the picture remapped
// onto it: builds the final palette (key at 0, then the entries of alpha >= 128, lifted off black)
// and puts every see-through pixel on 0 and every other pixel on its entry, or on the nearest
// opaque entry where the quantizer chose a transparent one.
IndexedImage keyPalette(const RgbImage& image, std::span<const QuantizedColour> palette,
                        std::span<const uint8_t> remapped);

// --- BMP files (bmp.cpp) ---

// Windows BMP: 14-byte file header, BITMAPINFOHEADER, bottom-up rows padded to 4 bytes, BI_RGB.
std::vector<uint8_t> encodeBmp24(const RgbImage& image);
std::vector<uint8_t> encodeBmp8(const IndexedImage& image);

// Where the parts of a BMP file lie, after checking every offset against the file's size.
struct BmpLayout {
  int width = 0, height = 0;  // height is positive; topDown says the row order
  bool topDown = false;
  int bitsPerPixel = 0;       // 8 or 24
  size_t paletteOffset = 0;   // 8-bit only
  int paletteEntries = 0;     // 8-bit only
  size_t bitsOffset = 0;
  size_t stride = 0;
};
BmpLayout parseBmp(std::span<const uint8_t> file);

// The exact left-right mirror of an 8- or 24-bit BMP file: same headers, palette and row order,
// each row's pixels reversed.
std::vector<uint8_t> mirrorBmp(std::span<const uint8_t> file);

// The picture of a BMP file as RGBA, top row first, (0,0,0) see-through (alpha 0).
std::vector<uint8_t> bmpToRgba(std::span<const uint8_t> file, int& width, int& height);

// --- files (files.cpp) ---

std::vector<uint8_t> readFile(const std::string& path);
// Writes through a temporary beside `path` and renames, so a failed run leaves no half file.
void writeFile(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> encodePngRgba(const std::vector<uint8_t>& rgba, int width, int height);

}  // namespace artgen
