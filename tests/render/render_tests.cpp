// Tests of the bench's bitmap decoding, compositing, needle angles and PNG output.
#include "render/image.h"

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>

namespace render {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr Rgba kRed{255, 0, 0, 255}, kWhite{255, 255, 255, 255}, kBlue{0, 0, 255, 255},
    kGrey{100, 100, 100, 255};

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = uint8_t(x);
  v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}

// A BITMAPINFOHEADER DIB. `rows` are top row first; `topDown` picks the stored order.
// For 8 bits a row holds palette indices, for 24 bits RGB triples.
std::vector<uint8_t> makeDib(int width, const std::vector<std::vector<uint8_t>>& rows, int bits,
                             bool topDown, const std::vector<std::array<uint8_t, 3>>& palette = {},
                             uint32_t colorsUsed = 0) {
  const int height = static_cast<int>(rows.size());
  const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
  const size_t bitsAt = 40 + 4 * palette.size();
  std::vector<uint8_t> dib(bitsAt + stride * height, 0);
  put32(dib, 0, 40);
  put32(dib, 4, uint32_t(width));
  put32(dib, 8, uint32_t(topDown ? -height : height));
  put16(dib, 12, 1);
  put16(dib, 14, uint32_t(bits));
  put32(dib, 32, colorsUsed);
  for (size_t i = 0; i < palette.size(); ++i) {  // stored B, G, R, 0
    dib[40 + 4 * i] = palette[i][2];
    dib[40 + 4 * i + 1] = palette[i][1];
    dib[40 + 4 * i + 2] = palette[i][0];
  }
  for (int y = 0; y < height; ++y) {
    const size_t at = bitsAt + stride * (topDown ? y : height - 1 - y);
    if (bits == 8) {
      std::copy(rows[y].begin(), rows[y].end(), dib.begin() + at);
    } else {
      for (int x = 0; x < width; ++x) {  // stored B, G, R
        dib[at + 3 * x] = rows[y][3 * x + 2];
        dib[at + 3 * x + 1] = rows[y][3 * x + 1];
        dib[at + 3 * x + 2] = rows[y][3 * x];
      }
    }
  }
  return dib;
}

// 3 x 2 (odd width: every row is padded), palette 0 black, 1 red, 2 white, 3 blue.
std::vector<uint8_t> smallDib8(bool topDown = false) {
  return makeDib(3, {{1, 0, 2}, {3, 3, 1}}, 8, topDown,
                 {{0, 0, 0}, {255, 0, 0}, {255, 255, 255}, {0, 0, 255}}, 4);
}

void expectPixels(const Image& image, int width, const std::vector<Rgba>& expected) {
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, int(expected.size()) / width);
  EXPECT_EQ(image.pixels, expected);
}

// --- decoding -------------------------------------------------------------------------------

TEST(DecodeDib, EightBitPaletteInEitherRowOrder) {
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    expectPixels(decodeDib(smallDib8(topDown)), 3,
                 {kRed, kSeeThrough, kWhite, kBlue, kBlue, kRed});
  }
}

TEST(DecodeDib, TwentyFourBitInEitherRowOrder) {
  // Width 3: 9 bytes of pixels padded to 12. (1,0,0) is a colour, only (0,0,0) is see-through.
  const std::vector<std::vector<uint8_t>> rows = {{255, 0, 0, 0, 0, 0, 1, 0, 0},
                                                  {0, 0, 255, 10, 20, 30, 255, 255, 255}};
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    expectPixels(decodeDib(makeDib(3, rows, 24, topDown)), 3,
                 {kRed, kSeeThrough, {1, 0, 0, 255}, kBlue, {10, 20, 30, 255}, kWhite});
  }
}

TEST(DecodeDib, ZeroColorsUsedMeansAFullPalette) {
  std::vector<std::array<uint8_t, 3>> palette(256, {7, 7, 7});
  palette[255] = {1, 2, 3};
  expectPixels(decodeDib(makeDib(1, {{255}}, 8, false, palette, 0)), 1, {{1, 2, 3, 255}});
}

TEST(DecodeDib, MalformedHeadersThrow) {
  struct Case {
    const char* name;
    size_t offset;
    uint32_t value;  // planes and bit count share one 32-bit write at offset 12
  };
  const Case cases[] = {
      {"core header (12 bytes)", 0, 12},    {"header larger than the data", 0, 4096},
      {"width 0", 4, 0},                    {"negative width", 4, uint32_t(-3)},
      {"height 0", 8, 0},                   {"height INT_MIN", 8, 0x80000000u},
      {"huge width", 4, 0x7fffffffu},       {"huge height", 8, 0x7fffffffu},
      {"two planes", 12, 0x00080002u},      {"4 bits per pixel", 12, 0x00040001u},
      {"32 bits per pixel", 12, 0x00200001u}, {"RLE8 compression", 16, 1},
      {"bitfields compression", 16, 3},     {"257 colours", 32, 257},
      {"palette past the end", 32, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> dib = smallDib8();
    put32(dib, c.offset, c.value);
    EXPECT_THROW(decodeDib(dib), std::runtime_error);
  }
}

TEST(DecodeDib, EveryTruncationThrows) {
  for (const auto& full : {smallDib8(), makeDib(3, {{1, 2, 3, 4, 5, 6, 7, 8, 9}}, 24, true)}) {
    for (size_t size = 0; size < full.size(); ++size) {
      SCOPED_TRACE(size);
      EXPECT_THROW(decodeDib(std::span(full).first(size)), std::runtime_error);
    }
  }
}

TEST(DecodeDib, PixelOutsideThePaletteThrows) {
  // Two palette entries, a pixel using entry 5.
  EXPECT_THROW(decodeDib(makeDib(1, {{5}}, 8, false, {{1, 1, 1}, {2, 2, 2}}, 2)),
               std::runtime_error);
}

TEST(DecodeBmpFile, ReadsBitsWhereTheFileHeaderSays) {
  // A .bmp with 6 spare bytes between the palette and the bits.
  const std::vector<uint8_t> dib = smallDib8();
  const size_t bitsInDib = 40 + 4 * 4;
  std::vector<uint8_t> file(14, 0);
  file[0] = 'B', file[1] = 'M';
  file.insert(file.end(), dib.begin(), dib.begin() + bitsInDib);
  file.insert(file.end(), 6, 0xEE);
  file.insert(file.end(), dib.begin() + bitsInDib, dib.end());
  put32(file, 2, uint32_t(file.size()));
  put32(file, 10, uint32_t(14 + bitsInDib + 6));
  expectPixels(decodeBmpFile(file), 3, {kRed, kSeeThrough, kWhite, kBlue, kBlue, kRed});

  std::vector<uint8_t> bad = file;
  bad[0] = 'X';
  EXPECT_THROW(decodeBmpFile(bad), std::runtime_error) << "no signature";
  bad = file;
  put32(bad, 10, uint32_t(file.size()));
  EXPECT_THROW(decodeBmpFile(bad), std::runtime_error) << "bits at the end of the file";
  bad = file;
  put32(bad, 10, 20);
  EXPECT_THROW(decodeBmpFile(bad), std::runtime_error) << "bits inside the headers";
  EXPECT_THROW(decodeBmpFile(std::span(file).first(13)), std::runtime_error) << "short header";
}

// --- blits ----------------------------------------------------------------------------------

// 2 x 2: red, see-through / see-through, blue.
Image checker() { return Image{2, 2, {kRed, kSeeThrough, kSeeThrough, kBlue}}; }

TEST(Blit, SeeThroughKeepsTheDestinationAndEdgesClip) {
  struct Case {
    int x, y;
    std::vector<Rgba> expected;  // 3 x 3 grey destination afterwards
  };
  const Rgba G = kGrey;
  const Case cases[] = {
      {0, 0, {kRed, G, G, G, kBlue, G, G, G, G}},
      {1, 1, {G, G, G, G, kRed, G, G, G, kBlue}},
      {2, 2, {G, G, G, G, G, G, G, G, kRed}},  // clipped right and bottom
      {-1, -1, {kBlue, G, G, G, G, G, G, G, G}},  // clipped left and top
      {3, 0, {G, G, G, G, G, G, G, G, G}},
      {INT_MAX, INT_MIN, {G, G, G, G, G, G, G, G, G}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "at " << c.x << "," << c.y);
    Image dst = makeImage(3, 3, kGrey);
    blit(dst, checker(), c.x, c.y);
    EXPECT_EQ(dst.pixels, c.expected);
  }
}

TEST(Blit, ScaledIsNearestNeighbourWithTheSameRules) {
  const Rgba G = kGrey;
  Image dst = makeImage(4, 4, kGrey);
  blitScaled(dst, checker(), 0, 0, 4, 4);
  EXPECT_EQ(dst.pixels, (std::vector<Rgba>{kRed, kRed, G, G, kRed, kRed, G, G,  //
                                           G, G, kBlue, kBlue, G, G, kBlue, kBlue}));
  dst = makeImage(4, 4, kGrey);
  blitScaled(dst, checker(), -3, 1, 6, 2);  // 3 wide per source column, left part clipped
  EXPECT_EQ(dst.pixels, (std::vector<Rgba>{G, G, G, G, G, G, G, G,  //
                                           kBlue, kBlue, kBlue, G, G, G, G, G}));
  dst = makeImage(4, 4, kGrey);
  blitScaled(dst, checker(), 0, 0, 0, 4);
  blitScaled(dst, checker(), 0, 0, -4, 4);
  EXPECT_EQ(dst.pixels, makeImage(4, 4, kGrey).pixels) << "empty rectangles draw nothing";
}

TEST(Blit, RefusesImagesWhosePixelsDoNotMatchTheirSize) {
  Image dst = makeImage(3, 3);
  const Image broken{5, 5, std::vector<Rgba>(3)};
  EXPECT_THROW(blit(dst, broken, 0, 0), std::invalid_argument);
  EXPECT_THROW(blitRotated(dst, broken, 0, 0, 1, 1, 0.3), std::invalid_argument);
}

// A 7 x 3 "needle": pivot pixel (1,1) white, a red pixel at the tip (6,1), the rest see-through
// except a blue pixel at (1,0), above the pivot.
Image needle() {
  Image n = makeImage(7, 3);
  n.at(1, 1) = kWhite;
  n.at(6, 1) = kRed;
  n.at(1, 0) = kBlue;
  return n;
}

TEST(BlitRotated, KnownPixelsLandWhereExpected) {
  struct Case {
    const char* name;
    double angle;
    int tipX, tipY, blueX, blueY;  // where (6,1) and (1,0) land; the pivot lands on (10,10)
  };
  const Case cases[] = {
      {"0", 0, 15, 10, 10, 9},
      {"90 clockwise", kPi / 2, 10, 15, 11, 10},
      {"180", kPi, 5, 10, 10, 11},
      {"-90 (counter-clockwise)", -kPi / 2, 10, 5, 9, 10},
      {"450 = 90", 2.5 * kPi, 10, 15, 11, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image dst = makeImage(20, 20, kGrey);
    blitRotated(dst, needle(), 1, 1, 10, 10, c.angle);
    EXPECT_EQ(dst.at(10, 10), kWhite);
    EXPECT_EQ(dst.at(c.tipX, c.tipY), kRed);
    EXPECT_EQ(dst.at(c.blueX, c.blueY), kBlue);
    int changed = 0;
    for (const Rgba& p : dst.pixels) changed += p != kGrey;
    EXPECT_EQ(changed, 3) << "see-through pixels must leave the destination alone";
  }
}

TEST(BlitRotated, TurnedSquareHasNoHoles) {
  const Image square = makeImage(21, 21, kWhite);
  Image dst = makeImage(40, 40);
  blitRotated(dst, square, 10, 10, 20, 20, 0.5236);  // 30 degrees
  // Everything within the square's inscribed circle (radius 10.5) must be covered.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      if (std::hypot(x - 20, y - 20) < 9.5) {
        EXPECT_EQ(dst.at(x, y), kWhite) << x << "," << y;
      }
}

TEST(BlitRotated, ClipsAtTheEdgesAndRejectsNonFiniteInput) {
  Image dst = makeImage(8, 8, kGrey);
  blitRotated(dst, needle(), 1, 1, 7, 0, kPi / 2);  // tip would land at (7,5); blue off the right
  EXPECT_EQ(dst.at(7, 0), kWhite);
  EXPECT_EQ(dst.at(7, 5), kRed);
  blitRotated(dst, needle(), 1, 1, 1e300, -1e300, 1.0);  // far away: nothing, no overflow
  blitRotated(dst, needle(), -1e300, 1, 4, 4, 0.0);
  int changed = 0;
  for (const Rgba& p : dst.pixels) changed += p != kGrey;
  EXPECT_EQ(changed, 2);
  EXPECT_THROW(blitRotated(dst, needle(), 1, 1, 4, 4, NAN), std::invalid_argument);
  EXPECT_THROW(blitRotated(dst, needle(), 1, 1, INFINITY, 4, 0), std::invalid_argument);
}

// --- needle angles --------------------------------------------------------------------------

// Around (10,10): value 0 points right, 10 down, 20 left, 30 up.
const CalibrationPoint kCompass[] = {{20, 10, 0}, {10, 20, 10}, {0, 10, 20}, {10, 0, 30}};
// A sweep that crosses three o'clock: up (-90 deg) at 0, then right+down (45 deg) at 100.
// Clockwise from up to 45 deg is 135 degrees.
const CalibrationPoint kAcrossThree[] = {{10, 0, 0}, {20, 20, 100}};
// Just above nine o'clock at 0, just below it at 10: clockwise that is nearly a full turn.
const CalibrationPoint kNearlyATurn[] = {{0, 9, 0}, {0, 11, 10}};
// Lower left (135 deg) at 0, upper right (-45 deg) at 100: the sweep crosses nine o'clock.
const CalibrationPoint kThroughNine[] = {{0, 20, 0}, {20, 0, 100}};

TEST(NeedleAngle, FollowsTheTableClockwise) {
  struct Case {
    const char* name;
    std::span<const CalibrationPoint> rows;
    double value, expected;  // expected in degrees
  };
  const double down = 90, up = -90;
  const Case cases[] = {
      {"first row", kCompass, 0, 0},
      {"a middle row", kCompass, 20, 180},
      {"last row", kCompass, 30, up},
      {"between rows", kCompass, 5, 45},
      {"across the +-pi seam", kCompass, 25, -135},  // 180 -> 270 clockwise, halfway 225
      {"across three o'clock", kAcrossThree, 50, -22.5},
      {"exactly at nine o'clock", kThroughNine, 25, 180},
      {"past nine o'clock", kThroughNine, 50, -135},
      {"three quarters across", kAcrossThree, 75, 11.25},
      {"below the first row", kCompass, -7, 0},
      {"minus infinity", kCompass, -INFINITY, 0},
      {"NaN", kCompass, NAN, 0},
      {"above the last row", kCompass, 31, up},
      {"plus infinity", kCompass, INFINITY, up},
      {"single row", std::span(kCompass).subspan(1, 1), 1000, down},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double angle = needleAngle(c.rows, 10, 10, c.value);
    EXPECT_GT(angle, -kPi - 1e-12);
    EXPECT_LE(angle, kPi);
    EXPECT_NEAR(angle * 180 / kPi, c.expected, 1e-9);
  }
}

TEST(NeedleAngle, ShortCounterClockwiseGapMeansALongClockwiseSweep) {
  // From just above nine o'clock to just below it: clockwise that is almost a full turn, so
  // halfway lies near three o'clock, not at nine.
  const double halfway = needleAngle(kNearlyATurn, 10, 10, 5);
  EXPECT_NEAR(halfway, 0.0, 1e-6);
}

TEST(NeedleAngle, RejectsUnusableTables) {
  EXPECT_THROW(needleAngle({}, 0, 0, 1), std::invalid_argument);
  const CalibrationPoint descending[] = {{1, 0, 10}, {0, 1, 5}};
  EXPECT_THROW(needleAngle(descending, 0, 0, 7), std::invalid_argument);
  const CalibrationPoint notANumber[] = {{1, 0, 0}, {0, 1, NAN}};
  EXPECT_THROW(needleAngle(notANumber, 0, 0, 7), std::invalid_argument);
}

// --- PNG ------------------------------------------------------------------------------------

TEST(Png, RoundTripsThroughLibpng) {
  const Image image{3, 2, {kRed, kSeeThrough, {1, 2, 3, 128}, kBlue, kWhite, {9, 8, 7, 255}}};
  const std::vector<uint8_t> png = encodePng(image);
  ASSERT_GE(png.size(), 8u);
  EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));

  png_image read;
  std::memset(&read, 0, sizeof read);
  read.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&read, png.data(), png.size())) << read.message;
  read.format = PNG_FORMAT_RGBA;
  ASSERT_EQ(read.width, 3u);
  ASSERT_EQ(read.height, 2u);
  std::vector<Rgba> pixels(6);
  ASSERT_TRUE(png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr)) << read.message;
  EXPECT_EQ(pixels, image.pixels);
}

TEST(Png, FailuresAreReported) {
  EXPECT_THROW(encodePng(Image{}), std::runtime_error);
  const std::string path = "/nonexistent-folder/frame.png";
  try {
    writePng(makeImage(1, 1, kRed), path);
    FAIL() << "writing into a missing folder succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace render
