// Checks of the gauge bitmaps the build rasterizes, read back from the asset folder: each has the
// size and depth its module's resources expect, pure black appears only where the host is meant
// to see through, mirrored builds are exact mirrors, and the moving pictures (lit lamps, levers,
// knobs) lie where the gauge places them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

bool seeThrough(Rgb c) { return c == Rgb{}; }

// A BMP file as stored: BITMAPINFOHEADER, 8-bit palette or 24-bit, rows read top row first.
struct Bitmap {
  int width = 0, height = 0, bitsPerPixel = 0;
  std::vector<Rgb> palette;      // 8-bit only
  std::vector<uint8_t> indices;  // 8-bit only
  std::vector<Rgb> pixels;

  Rgb at(int x, int y) const { return pixels.at(static_cast<size_t>(y) * width + x); }
};

uint32_t le(const std::vector<uint8_t>& d, size_t at, int bytes) {
  if (at + bytes > d.size()) throw std::runtime_error("BMP file cut short");
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t(d[at + i]) << (8 * i);
  return v;
}

Bitmap readBitmap(const std::string& name) {
  const std::string path = std::string(ASSET_DIR) + "/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  const std::vector<uint8_t> d{std::istreambuf_iterator<char>(in), {}};
  if (le(d, 0, 2) != 0x4D42) throw std::runtime_error(name + ": not a BMP file");
  const size_t bitsAt = le(d, 10, 4);
  const uint32_t headerSize = le(d, 14, 4);
  Bitmap bmp;
  bmp.width = static_cast<int32_t>(le(d, 18, 4));
  const int32_t rawHeight = static_cast<int32_t>(le(d, 22, 4));
  bmp.height = std::abs(rawHeight);
  bmp.bitsPerPixel = static_cast<int>(le(d, 28, 2));
  if (headerSize != 40 || le(d, 30, 4) != 0 || bmp.width <= 0 || bmp.height == 0)
    throw std::runtime_error(name + ": not a plain BITMAPINFOHEADER BI_RGB bitmap");
  if (bmp.bitsPerPixel != 8 && bmp.bitsPerPixel != 24)
    throw std::runtime_error(name + ": neither 8 nor 24 bits per pixel");
  if (bmp.bitsPerPixel == 8) {
    const uint32_t used = le(d, 46, 4);
    const uint32_t entries = used ? used : 256;
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = 14 + headerSize + 4 * i;
      bmp.palette.push_back({uint8_t(le(d, at + 2, 1)), uint8_t(le(d, at + 1, 1)),
                             uint8_t(le(d, at, 1))});
    }
  }
  const size_t stride = ((size_t(bmp.width) * bmp.bitsPerPixel + 31) / 32) * 4;
  for (int y = 0; y < bmp.height; ++y) {
    const size_t row = bitsAt + stride * size_t(rawHeight < 0 ? y : bmp.height - 1 - y);
    for (int x = 0; x < bmp.width; ++x) {
      if (bmp.bitsPerPixel == 8) {
        const uint8_t index = uint8_t(le(d, row + x, 1));
        if (index >= bmp.palette.size()) throw std::runtime_error(name + ": index past palette");
        bmp.indices.push_back(index);
        bmp.pixels.push_back(bmp.palette[index]);
      } else {
        const size_t at = row + 3 * size_t(x);
        bmp.pixels.push_back({uint8_t(le(d, at + 2, 1)), uint8_t(le(d, at + 1, 1)),
                              uint8_t(le(d, at, 1))});
      }
    }
  }
  return bmp;
}

// Inclusive pixel rectangle.
struct Box {
  int x0, x1, y0, y1;
  friend bool operator==(const Box&, const Box&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << "x " << b.x0 << ".." << b.x1 << ", y " << b.y0 << ".." << b.y1;
  }
};

// The smallest box around the pixels that pass `keep`, if any do.
template <class Pred>
std::optional<Box> boundsOf(const Bitmap& bmp, Pred keep) {
  std::optional<Box> box;
  for (int y = 0; y < bmp.height; ++y)
    for (int x = 0; x < bmp.width; ++x) {
      if (!keep(bmp.at(x, y))) continue;
      if (!box) box = Box{x, x, y, y};
      box->x0 = std::min(box->x0, x), box->x1 = std::max(box->x1, x);
      box->y0 = std::min(box->y0, y), box->y1 = std::max(box->y1, y);
    }
  return box;
}

bool opaque(Rgb c) { return !seeThrough(c); }
bool red(Rgb c) { return c.r > 100 && c.r > 2 * c.g && c.r > 2 * c.b; }

// --- every bitmap: size, depth, see-through black ---

struct Asset {
  const char* file;
  int width, height, bits;
};

void PrintTo(const Asset& a, std::ostream* os) { *os << a.file; }

const Asset kAssets[] = {
    {"ap_switch/switch_down.bmp", 32, 70, 8},
    {"ap_switch/switch_up.bmp", 32, 70, 8},
    {"quadrant/background.bmp", 190, 68, 8},
    {"quadrant/throttle_knob.bmp", 38, 25, 8},
    {"quadrant/propeller_knob.bmp", 23, 29, 8},
    {"quadrant/mixture_knob.bmp", 25, 29, 8},
    {"cowl_flaps/placard.bmp", 300, 117, 8},
    {"cowl_flaps/lever_open.bmp", 110, 110, 24},
    {"cowl_flaps/lever_trail.bmp", 110, 110, 24},
    {"cowl_flaps/lever_close.bmp", 110, 110, 24},
    {"prop_feather/background.bmp", 53, 59, 8},
    {"prop_feather/button_out_a.bmp", 53, 59, 8},
    {"prop_feather/button_in_a.bmp", 53, 59, 8},
    {"prop_feather/button_out_b.bmp", 53, 59, 8},
    {"prop_feather/button_in_b.bmp", 53, 59, 8},
    {"marker_lights/face.bmp", 217, 213, 8},
    {"marker_lights/lamps_off.bmp", 217, 120, 8},
    {"marker_lights/lamp_o.bmp", 217, 120, 8},
    {"marker_lights/lamp_a.bmp", 217, 120, 8},
    {"marker_lights/lamp_i.bmp", 217, 120, 8},
    {"marker_lights/lever_hi.bmp", 78, 60, 8},
    {"marker_lights/lever_lo.bmp", 78, 60, 8},
    {"panel_switch/button_a.bmp", 32, 28, 8},
    {"panel_switch/button_b.bmp", 32, 28, 8},
    {"panel_switch/overlay.bmp", 18, 20, 8},
};

class EveryBitmap : public testing::TestWithParam<Asset> {};

TEST_P(EveryBitmap, HasItsSizeAndDepth) {
  const Bitmap bmp = readBitmap(GetParam().file);
  EXPECT_EQ(bmp.width, GetParam().width);
  EXPECT_EQ(bmp.height, GetParam().height);
  EXPECT_EQ(bmp.bitsPerPixel, GetParam().bits);
}

// Pure black is the host's see-through colour, so a drawn pixel must stay visibly off it, also
// when the host cuts colours to 5 bits a channel; in a palette only entry 0 may be black.
TEST_P(EveryBitmap, KeepsDrawnPixelsOffBlack) {
  const Bitmap bmp = readBitmap(GetParam().file);
  for (size_t i = 0; i < bmp.pixels.size(); ++i) {
    const Rgb c = bmp.pixels[i];
    if (seeThrough(c)) {
      if (!bmp.indices.empty()) {
        ASSERT_EQ(bmp.indices[i], 0) << "black on another entry at " << i;
      }
      continue;
    }
    ASSERT_GE(std::max({c.r, c.g, c.b}), 8) << "pixel " << i << " would turn see-through";
  }
}

INSTANTIATE_TEST_SUITE_P(Assets, EveryBitmap, testing::ValuesIn(kAssets));

// --- pictures that must be entirely see-through ---

class AllBlack : public testing::TestWithParam<const char*> {};

TEST_P(AllBlack, IsEntirelySeeThrough) {
  const Bitmap bmp = readBitmap(GetParam());
  EXPECT_EQ(boundsOf(bmp, opaque), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Assets, AllBlack,
                         testing::Values("quadrant/background.bmp", "prop_feather/background.bmp",
                                         "marker_lights/lamps_off.bmp",
                                         "panel_switch/overlay.bmp"));

// --- dark surfaces that must not have see-through holes ---

struct SolidArea {
  const char* file;
  Box box;
};

void PrintTo(const SolidArea& a, std::ostream* os) { *os << a.file << " " << a.box; }

class SolidAreas : public testing::TestWithParam<SolidArea> {};

TEST_P(SolidAreas, HaveNoSeeThroughPixel) {
  const Bitmap bmp = readBitmap(GetParam().file);
  const Box b = GetParam().box;
  for (int y = b.y0; y <= b.y1; ++y)
    for (int x = b.x0; x <= b.x1; ++x) ASSERT_TRUE(opaque(bmp.at(x, y))) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Assets, SolidAreas,
    testing::Values(SolidArea{"cowl_flaps/placard.bmp", {0, 299, 0, 116}},
                    // the square bezel, short of its slightly rounded corners
                    SolidArea{"marker_lights/face.bmp", {3, 213, 3, 209}},
                    SolidArea{"marker_lights/face.bmp", {0, 216, 10, 202}},
                    // the dark bar along the switch's left edge
                    SolidArea{"ap_switch/switch_down.bmp", {0, 4, 0, 69}},
                    SolidArea{"ap_switch/switch_up.bmp", {0, 4, 0, 69}},
                    // the lever hub, under the selector's screw
                    SolidArea{"cowl_flaps/lever_open.bmp", {50, 60, 50, 60}},
                    SolidArea{"cowl_flaps/lever_trail.bmp", {50, 60, 50, 60}},
                    SolidArea{"cowl_flaps/lever_close.bmp", {50, 60, 50, 60}}));

// --- the second builds' mirrored pictures ---

struct MirrorPair {
  const char* original;
  const char* mirror;
};

void PrintTo(const MirrorPair& p, std::ostream* os) { *os << p.mirror; }

class Mirrors : public testing::TestWithParam<MirrorPair> {};

TEST_P(Mirrors, AreExactLeftRightMirrorsWithTheSamePalette) {
  const Bitmap a = readBitmap(GetParam().original), b = readBitmap(GetParam().mirror);
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.bitsPerPixel, b.bitsPerPixel);
  EXPECT_EQ(a.palette, b.palette);
  bool symmetric = true;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const size_t i = size_t(y) * a.width + x, m = size_t(y) * a.width + (a.width - 1 - x);
      ASSERT_EQ(a.indices.at(i), b.indices.at(m)) << x << "," << y;
      symmetric = symmetric && a.pixels[i] == a.pixels[m];
    }
  EXPECT_FALSE(symmetric) << "the picture is its own mirror: the two builds look the same";
}

INSTANTIATE_TEST_SUITE_P(
    Assets, Mirrors,
    testing::Values(MirrorPair{"prop_feather/button_out_a.bmp", "prop_feather/button_out_b.bmp"},
                    MirrorPair{"prop_feather/button_in_a.bmp", "prop_feather/button_in_b.bmp"},
                    MirrorPair{"panel_switch/button_a.bmp", "panel_switch/button_b.bmp"}));

// --- coloured parts where the gauges expect them ---

struct Feature {
  const char* file;
  const char* what;
  bool (*keep)(Rgb);
  Box box;  // exact bounds of the pixels that pass `keep`
};

void PrintTo(const Feature& f, std::ostream* os) { *os << f.file << ": " << f.what; }

class Features : public testing::TestWithParam<Feature> {};

TEST_P(Features, LieExactlyWhereTheGaugeExpectsThem) {
  EXPECT_EQ(boundsOf(readBitmap(GetParam().file), GetParam().keep), GetParam().box);
}

INSTANTIATE_TEST_SUITE_P(
    Assets, Features,
    testing::Values(
        // Each lit lamp fills the face lamp it lights: the lamp picture lies 28 rows down on
        // the face, whose lamp glasses are O x 21..67 y 94..140, A x 82..131 y 34..81,
        // I x 145..194 y 96..144.
        Feature{"marker_lights/lamp_o.bmp", "lit O lamp", opaque, {21, 67, 66, 112}},
        Feature{"marker_lights/lamp_a.bmp", "lit A lamp", opaque, {82, 131, 6, 53}},
        Feature{"marker_lights/lamp_i.bmp", "lit I lamp", opaque, {145, 194, 68, 116}},
        // The red push-button cap, and its mirror in the other build.
        Feature{"panel_switch/button_a.bmp", "red cap", red, {12, 22, 6, 17}},
        Feature{"panel_switch/button_b.bmp", "red cap", red, {9, 19, 6, 17}},
        // The feather knob: pulled out its top is row 30, pushed in row 23.
        Feature{"prop_feather/button_out_a.bmp", "red knob", red, {12, 40, 30, 53}},
        Feature{"prop_feather/button_in_a.bmp", "red knob", red, {12, 40, 23, 46}}));

// The face's lamps lie under the lit ones: each lamp box is drawn solid on the face.
TEST(MarkerFace, HasALampUnderEachLitLamp) {
  const Bitmap face = readBitmap("marker_lights/face.bmp");
  const char* lamps[] = {"marker_lights/lamp_o.bmp", "marker_lights/lamp_a.bmp",
                         "marker_lights/lamp_i.bmp"};
  for (const char* lamp : lamps) {
    const Bitmap lit = readBitmap(lamp);
    for (int y = 0; y < lit.height; ++y)
      for (int x = 0; x < lit.width; ++x)
        if (opaque(lit.at(x, y))) {
          ASSERT_TRUE(opaque(face.at(x, y + 28))) << lamp << " at " << x << "," << y;
        }
  }
}

// The two feather pictures share their housing: the same outline, and outside rows 23..54,
// where the knob moves, the same picture (up to the few levels each palette may round).
TEST(FeatherButton, PicturesDifferOnlyWhereTheKnobMoves) {
  const Bitmap out = readBitmap("prop_feather/button_out_a.bmp");
  const Bitmap in = readBitmap("prop_feather/button_in_a.bmp");
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      const Rgb a = out.at(x, y), b = in.at(x, y);
      ASSERT_EQ(seeThrough(a), seeThrough(b)) << "outline differs at " << x << "," << y;
      if (y >= 23 && y <= 54) continue;
      ASSERT_LE(std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)}), 12)
          << x << "," << y;
    }
}

// --- levers pointing the right way ---

struct Pointer {
  const char* file;
  double pivotX, pivotY;
  double degrees;  // direction on screen of the drawn pixel farthest from the pivot: 0 right,
                   // 90 down
  int firstColumn = 0;  // columns left of it hold no part of the lever
};

void PrintTo(const Pointer& p, std::ostream* os) { *os << p.file; }

class Pointers : public testing::TestWithParam<Pointer> {};

TEST_P(Pointers, PointTheWayTheirPositionSays) {
  const Bitmap bmp = readBitmap(GetParam().file);
  double best = -1, angle = 0;
  for (int y = 0; y < bmp.height; ++y)
    for (int x = GetParam().firstColumn; x < bmp.width; ++x) {
      if (!opaque(bmp.at(x, y))) continue;
      const double dx = x - GetParam().pivotX, dy = y - GetParam().pivotY;
      if (dx * dx + dy * dy > best)
        best = dx * dx + dy * dy, angle = std::atan2(dy, dx) * 180 / std::numbers::pi;
    }
  ASSERT_GE(best, 0) << "nothing drawn";
  EXPECT_NEAR(angle, GetParam().degrees, 12);
}

INSTANTIATE_TEST_SUITE_P(
    Assets, Pointers,
    testing::Values(
        // cowl flap selectors, turning about the picture's centre
        Pointer{"cowl_flaps/lever_open.bmp", 55, 55, 45},
        Pointer{"cowl_flaps/lever_trail.bmp", 55, 55, 90},
        Pointer{"cowl_flaps/lever_close.bmp", 55, 55, 135},
        // HI/LO toggle, pivot over face x 109
        Pointer{"marker_lights/lever_hi.bmp", 38, 20, 160},
        Pointer{"marker_lights/lever_lo.bmp", 38, 20, 20},
        // autopilot switch, right of its edge bar: the knob down for off, up for on
        Pointer{"ap_switch/switch_down.bmp", 18, 35, 90, 5},
        Pointer{"ap_switch/switch_up.bmp", 18, 35, -90, 5}));

}  // namespace
