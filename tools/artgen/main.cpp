// artgen: the build's rasterizer for gauge bitmaps.
//
//   artgen svg IN.svg OUT.bmp --size WxH --format pal8|rgb24 [--preview OUT.png]
//   artgen mirror IN.bmp OUT.bmp [--preview OUT.png]
//
// Same input, same bytes out. Any failure: one line on stderr and exit status 1 (2 for usage).
#include "art.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <optional>

namespace {

constexpr const char* kUsage =
    "usage: artgen svg IN.svg OUT.bmp --size WxH --format pal8|rgb24 [--preview OUT.png]\n"
    "       artgen mirror IN.bmp OUT.bmp [--preview OUT.png]\n";

struct UsageError : artgen::ArtError {
  using ArtError::ArtError;
};

struct Command {
  std::string verb;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

Command parseCommand(int argc, char** argv, const std::vector<std::string>& allowed) {
  Command c;
  c.verb = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0) {
      c.positional.push_back(arg);
      continue;
    }
    if (std::find(allowed.begin(), allowed.end(), arg) == allowed.end())
      throw UsageError("unknown option " + arg + " for '" + c.verb + "'");
    if (i + 1 >= argc) throw UsageError(arg + " needs a value");
    if (!c.options.emplace(arg, argv[++i]).second) throw UsageError(arg + " given twice");
  }
  if (c.positional.size() != 2)
    throw UsageError("'" + c.verb + "' takes an input and an output file");
  return c;
}

std::string required(const Command& c, const std::string& option) {
  auto it = c.options.find(option);
  if (it == c.options.end()) throw UsageError("'" + c.verb + "' needs " + option);
  return it->second;
}

// "WxH", each side a whole number from 1 to 16384.
std::pair<int, int> parseSize(const std::string& text) {
  const auto bad = [&] { return UsageError("bad --size '" + text + "' (want WxH, e.g. 302x302)"); };
  const size_t x = text.find('x');
  if (x == std::string::npos) throw bad();
  auto side = [&](std::string_view s) {
    int v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < 1 || v > 16384)
      throw bad();
    return v;
  };
  return {side(std::string_view(text).substr(0, x)), side(std::string_view(text).substr(x + 1))};
}

void writePreview(const Command& c, const std::vector<uint8_t>& bmp) {
  auto it = c.options.find("--preview");
  if (it == c.options.end()) return;
  int w = 0, h = 0;
  const std::vector<uint8_t> rgba = artgen::bmpToRgba(bmp, w, h);
  artgen::writeFile(it->second, artgen::encodePngRgba(rgba, w, h));
}

void runSvg(const Command& c) {
  const auto [width, height] = parseSize(required(c, "--size"));
  const std::string format = required(c, "--format");
  if (format != "pal8" && format != "rgb24")
    throw UsageError("unknown --format '" + format + "' (want pal8 or rgb24)");
  const artgen::RgbImage image = artgen::renderSvgFile(c.positional[0], width, height);
  const std::vector<uint8_t> bmp = format == "pal8" ? artgen::encodeBmp8(artgen::quantize(image))
                                                    : artgen::encodeBmp24(image);
  artgen::writeFile(c.positional[1], bmp);
  writePreview(c, bmp);
}

void runMirror(const Command& c) {
  const std::vector<uint8_t> in = artgen::readFile(c.positional[0]);
  std::vector<uint8_t> out;
  try {
    out = artgen::mirrorBmp(in);
  } catch (const artgen::ArtError& e) {
    throw artgen::ArtError(c.positional[0] + ": " + e.what());
  }
  artgen::writeFile(c.positional[1], out);
  writePreview(c, out);
}

}  // namespace

// Fontconfig (reached through librsvg and pango for text) keeps its font caches until exit and
// never frees them; in builds with LeakSanitizer that would fail every art step. Our own
// allocations are still checked.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    const std::string verb = argv[1];
    if (verb == "svg") {
      runSvg(parseCommand(argc, argv, {"--size", "--format", "--preview"}));
    } else if (verb == "mirror") {
      runMirror(parseCommand(argc, argv, {"--preview"}));
    } else {
      throw UsageError("unknown command '" + verb + "' (want svg or mirror)");
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "artgen: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "artgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
