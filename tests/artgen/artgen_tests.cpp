// Tests of artgen: the see-through rule through rendering and quantizing, the BMP files it
// writes, mirroring, and the command line.
#include "art.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace artgen {
namespace {

namespace fs = std::filesystem;

constexpr Rgb kRed{255, 0, 0}, kWhite{255, 255, 255};

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

RgbImage render(const std::string& svg, int w, int h) { return renderSvg(bytesOf(svg), w, h); }

uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (uint32_t(v[at + 3]) << 24);
}

// --- the see-through rule -------------------------------------------------------------------

TEST(SeeThroughRule, KeysByAlphaAndLiftsDarkOpaqueColours) {
  struct Case {
    const char* name;
    uint8_t r, g, b, a;  // premultiplied, as cairo stores them
    Rgb expected;
  };
  const Case cases[] = {
      {"nothing drawn", 0, 0, 0, 0, kSeeThrough},
      {"just under half covered", 127, 0, 0, 127, kSeeThrough},
      {"half covered red", 128, 0, 0, 128, kRed},
      {"half covered dark red, un-premultiplied", 64, 0, 0, 128, {128, 0, 0}},
      {"opaque black", 0, 0, 0, 255, kNearBlack},
      {"black at half cover", 0, 0, 0, 200, kNearBlack},
      {"too dark for 5-bit colour", 7, 3, 7, 255, kNearBlack},
      {"dark but not black in red", 8, 0, 0, 255, {8, 0, 0}},
      {"ordinary colour", 200, 100, 50, 255, {200, 100, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keyedColour(c.r, c.g, c.b, c.a), c.expected);
  }
}

TEST(RenderSvg, AppliesTheRuleToWhatIsDrawn) {
  // Four columns: opaque black, red at 40%, red at 60%, nothing.
  const RgbImage image = render(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 4 1">
      <rect x="0" width="1" height="1" fill="#000000"/>
      <rect x="1" width="1" height="1" fill="#ff0000" fill-opacity="0.4"/>
      <rect x="2" width="1" height="1" fill="#ff0000" fill-opacity="0.6"/>
    </svg>)",
                                4, 1);
  EXPECT_EQ(image.pixels, (std::vector<Rgb>{kNearBlack, kSeeThrough, kRed, kSeeThrough}));
}

TEST(RenderSvg, StretchesTheViewBoxOverTheWholeSurface) {
  // A 2:1 viewBox onto a square: no letterboxing, the left half of the box fills the left half
  // of every row.
  const RgbImage image = render(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="10 0 2 1">
      <rect x="10" y="0" width="1" height="1" fill="#ffffff"/></svg>)",
                                4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(image.pixels[y * 4 + x], x < 2 ? kWhite : kSeeThrough) << x << "," << y;
}

TEST(RenderSvg, EmptyDrawingIsAllBlackAndBadInputThrows) {
  const RgbImage empty = render(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 8 8"/>)", 5, 3);
  EXPECT_EQ(empty.pixels, std::vector<Rgb>(15, kSeeThrough));
  EXPECT_THROW(render("this is not svg", 4, 4), ArtError);
  EXPECT_THROW(render("<svg xmlns=\"http://www.w3.org/2000/svg\"><rect", 4, 4), ArtError);
  EXPECT_THROW(render(R"(<svg xmlns="http://www.w3.org/2000/svg"/>)", 0, 4), ArtError);
  EXPECT_THROW(renderSvgFile("/nonexistent/art.svg", 4, 4), ArtError);
}

// --- palettes -------------------------------------------------------------------------------

// What libimagequant gets wrong on its own: lots of near-black next to see-through black, plus
// more colours than a palette holds.
RgbImage hardPicture(bool withSeeThrough) {
  RgbImage image{96, 96, {}};
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 96; ++x) {
      Rgb c;
      if (withSeeThrough && (x / 4 + y / 4) % 3 == 0) {
        c = kSeeThrough;
      } else if (y < 48) {  // the darkest colours the rule lets through
        c = liftFromKey({uint8_t(x % 12), uint8_t(y % 9), uint8_t((x + y) % 10)});
      } else {  // a colourful gradient
        c = {uint8_t(x * 2 + 40), uint8_t(y * 2), uint8_t(255 - x - y)};
      }
      image.pixels.push_back(c);
    }
  return image;
}

void expectKeyKept(const RgbImage& source, const IndexedImage& out) {
  ASSERT_EQ(out.indices.size(), source.pixels.size());
  EXPECT_EQ(out.palette[0], kSeeThrough);
  for (int i = 1; i < 256; ++i) EXPECT_NE(out.palette[i], kSeeThrough) << "entry " << i;
  size_t wrong = 0;
  for (size_t i = 0; i < source.pixels.size(); ++i)
    wrong += (source.pixels[i] == kSeeThrough) != (out.indices[i] == 0);
  EXPECT_EQ(wrong, 0u) << "pixels whose see-through state changed";
}

TEST(Quantize, KeepsTheKeyAndIsRepeatable) {
  for (bool withSeeThrough : {true, false}) {
    SCOPED_TRACE(withSeeThrough ? "with see-through pixels" : "all opaque");
    const RgbImage source = hardPicture(withSeeThrough);
    const IndexedImage out = quantize(source);
    expectKeyKept(source, out);
    const IndexedImage again = quantize(source);
    EXPECT_EQ(again.palette, out.palette);
    EXPECT_EQ(again.indices, out.indices);
  }
}

TEST(Quantize, FewColoursComeThroughExactly) {
  const RgbImage source{3, 1, {kRed, kSeeThrough, kNearBlack}};
  const IndexedImage out = quantize(source);
  expectKeyKept(source, out);
  EXPECT_EQ(out.palette[out.indices[0]], kRed);
  EXPECT_EQ(out.palette[out.indices[2]], kNearBlack);
}

TEST(Quantize, PostPassRepairsWhatTheQuantizerGotWrong) {
  // The quantizer's failures: an opaque entry that is pure black, an opaque pixel put on the
  // transparent entry, a see-through pixel put on an opaque entry.
  const QuantizedColour palette[] = {{0, 0, 0, 0}, {0, 0, 0, 255}, {250, 0, 0, 255}, {3, 3, 3, 255}};
  const RgbImage source{5, 1, {kNearBlack, {240, 10, 0}, kSeeThrough, {9, 9, 9}, kSeeThrough}};
  const uint8_t remapped[] = {1, 0, 2, 3, 0};
  const IndexedImage out = keyPalette(source, palette, remapped);
  expectKeyKept(source, out);
  EXPECT_EQ(out.palette[out.indices[0]], kNearBlack) << "black entry lifted";
  EXPECT_EQ(out.palette[out.indices[1]], (Rgb{250, 0, 0})) << "nearest opaque entry";
  EXPECT_EQ(out.palette[out.indices[3]], kNearBlack);

  // Nothing opaque in the palette at all: the pixel gets an entry of its own.
  const QuantizedColour onlyClear[] = {{0, 0, 0, 0}};
  const RgbImage lone{2, 1, {kSeeThrough, kRed}};
  const uint8_t zeros[] = {0, 0};
  const IndexedImage alone = keyPalette(lone, onlyClear, zeros);
  expectKeyKept(lone, alone);
  EXPECT_EQ(alone.palette[alone.indices[1]], kRed);
}

// --- BMP files ------------------------------------------------------------------------------

TEST(Bmp, EightBitFileLayout) {
  IndexedImage image{3, 2, {}, {1, 2, 0, 0, 0, 1}};
  image.palette.fill(kNearBlack);
  image.palette[0] = kSeeThrough;
  image.palette[1] = {10, 20, 30};
  image.palette[2] = kWhite;
  const std::vector<uint8_t> bmp = encodeBmp8(image);
  const size_t bits = 14 + 40 + 256 * 4;
  ASSERT_EQ(bmp.size(), bits + 2 * 4);  // two rows of 3, padded to 4
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(get32(bmp, 2), bmp.size());
  EXPECT_EQ(get32(bmp, 10), bits);
  EXPECT_EQ(get32(bmp, 14), 40u);
  EXPECT_EQ(get32(bmp, 18), 3u);
  EXPECT_EQ(get32(bmp, 22), 2u);       // positive: bottom-up
  EXPECT_EQ(get32(bmp, 28), 8u);       // planes 1 is in the low half of word 26
  EXPECT_EQ(get32(bmp, 30), 0u);       // BI_RGB
  EXPECT_EQ(get32(bmp, 46), 256u);
  EXPECT_EQ(get32(bmp, 14 + 40 + 4), 0x000A141Eu);  // entry 1 stored B, G, R, 0
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + bits, bmp.end()),
            (std::vector<uint8_t>{0, 0, 1, 0, 1, 2, 0, 0}));  // bottom row first
}

TEST(Bmp, TwentyFourBitFileLayout) {
  const RgbImage image{1, 2, {{1, 2, 3}, {4, 5, 6}}};
  const std::vector<uint8_t> bmp = encodeBmp24(image);
  ASSERT_EQ(bmp.size(), 54u + 2 * 4u);
  EXPECT_EQ(get32(bmp, 10), 54u);
  EXPECT_EQ(get32(bmp, 28), 24u);
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.end()),
            (std::vector<uint8_t>{6, 5, 4, 0, 3, 2, 1, 0}));
}

TEST(Mirror, ReversesEveryRowAndKeepsEverythingElse) {
  IndexedImage indexed{3, 2, {}, {1, 2, 3, 4, 5, 6}};
  for (int i = 0; i < 256; ++i) indexed.palette[i] = {uint8_t(i), uint8_t(255 - i), 7};
  const RgbImage rgb{3, 1, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
  struct Case {
    const char* name;
    std::vector<uint8_t> file, mirroredBits;
  };
  const Case cases[] = {
      {"8-bit", encodeBmp8(indexed), {6, 5, 4, 0, 3, 2, 1, 0}},
      {"24-bit", encodeBmp24(rgb), {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> mirrored = mirrorBmp(c.file);
    const size_t bits = get32(c.file, 10);
    ASSERT_EQ(mirrored.size(), c.file.size());
    EXPECT_TRUE(std::equal(c.file.begin(), c.file.begin() + bits, mirrored.begin()))
        << "headers and palette must be untouched";
    EXPECT_EQ(std::vector<uint8_t>(mirrored.begin() + bits, mirrored.end()), c.mirroredBits);
    EXPECT_EQ(mirrorBmp(mirrored), c.file);
  }
}

TEST(Mirror, MalformedFilesThrow) {
  const std::vector<uint8_t> good = encodeBmp24(RgbImage{3, 2, std::vector<Rgb>(6, kRed)});
  for (size_t size = 0; size < good.size(); ++size) {
    SCOPED_TRACE(size);
    EXPECT_THROW(mirrorBmp(std::span(good).first(size)), ArtError);
  }
  std::vector<uint8_t> bad = good;
  bad[28] = 32;  // 32 bits per pixel
  EXPECT_THROW(mirrorBmp(bad), ArtError);
  bad = good;
  bad[30] = 1;  // RLE
  EXPECT_THROW(mirrorBmp(bad), ArtError);
}

// --- the command line -----------------------------------------------------------------------

class CommandLine : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("artgen_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write("dial.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 40 20">
        <circle cx="10" cy="10" r="9" fill="#101010" stroke="#505050"/>
        <text x="30" y="15" font-family="DejaVu Sans" font-size="12" fill="#ffffff">7</text>
      </svg>)");
    write("junk.svg", "this is not svg");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::vector<uint8_t> read(const std::string& name) { return readFile(path(name)); }

  // Runs artgen in the test folder; returns its exit status and what it printed on stderr.
  std::pair<int, std::string> run(const std::string& args) {
    const std::string command = "cd '" + dir_.string() + "' && '" ARTGEN_EXE "' " + args +
                                " 2> stderr.txt > /dev/null";
    const int status = std::system(command.c_str());
    const std::vector<uint8_t> err = read("stderr.txt");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(err.begin(), err.end())};
  }

  fs::path dir_;
};

TEST_F(CommandLine, SvgRunsGiveTheSameBytesAndAPreview) {
  for (const char* format : {"pal8", "rgb24"}) {
    SCOPED_TRACE(format);
    const std::string args = std::string("svg dial.svg out.bmp --size 40x20 --format ") + format;
    ASSERT_EQ(run(args + " --preview out.png").first, 0);
    const std::vector<uint8_t> first = read("out.bmp");
    ASSERT_EQ(run(args).first, 0);
    EXPECT_EQ(read("out.bmp"), first);
    EXPECT_EQ(get32(first, 18), 40u);
    EXPECT_EQ(get32(first, 22), 20u);
    const std::vector<uint8_t> png = read("out.png");
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
  }
  ASSERT_EQ(run("mirror out.bmp mirrored.bmp --preview mirrored.png").first, 0);
  EXPECT_EQ(mirrorBmp(read("mirrored.bmp")), read("out.bmp"));
  EXPECT_TRUE(fs::exists(path("mirrored.png")));
}

TEST_F(CommandLine, BadInputFailsWithOneLineAndNoOutput) {
  const char* cases[] = {
      "svg missing.svg out.bmp --size 4x4 --format pal8",
      "svg junk.svg out.bmp --size 4x4 --format pal8",
      "svg dial.svg out.bmp --size 0x4 --format pal8",
      "svg dial.svg out.bmp --size 4 --format pal8",
      "svg dial.svg out.bmp --size 4x4x4 --format pal8",
      "svg dial.svg out.bmp --size -4x4 --format pal8",
      "svg dial.svg out.bmp --size 99999x4 --format pal8",
      "svg dial.svg out.bmp --size 4x4 --format pal4",
      "svg dial.svg out.bmp --size 4x4",
      "svg dial.svg out.bmp --format pal8",
      "svg dial.svg out.bmp --size 4x4 --format pal8 --dither",
      "svg dial.svg --size 4x4 --format pal8",
      "mirror dial.svg out.bmp",
      "mirror missing.bmp out.bmp",
      "paint dial.svg out.bmp",
  };
  for (const char* args : cases) {
    SCOPED_TRACE(args);
    const auto [status, err] = run(args);
    EXPECT_NE(status, 0);
    EXPECT_EQ(err.rfind("artgen: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(path("out.bmp")));
  }
}

}  // namespace
}  // namespace artgen
