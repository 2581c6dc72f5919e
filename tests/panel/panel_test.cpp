// Whole panels on the real modules: finding gauges by name, sizing them on the window, routing
// the pointer, one simulator for all gauges, failures drawn as placeholders, the command, and the
// shipped sample panel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "commands.h"
#include "gauges.h"
#include "layout.h"
#include "panel/command.h"
#include "panel/panel.h"
#include "pe/pe.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "panel_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A 24-bit .bmp of one colour.
void WriteBmp(const fs::path& path, int width, int height, render::Rgba colour) {
  const int stride = (width * 3 + 3) & ~3;
  std::vector<uint8_t> f(54 + static_cast<size_t>(stride) * height, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  f[0] = 'B', f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  f[26] = 1, f[28] = 24;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &f[54 + static_cast<size_t>(y) * stride + 3 * x];
      p[0] = colour.b, p[1] = colour.g, p[2] = colour.r;
    }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
}

constexpr render::Rgba kGrey{60, 62, 66, 255};

// A panel.cfg with one window on a 600 x 300 grey background of 300 x 150 mm (2 pixels a mm),
// and these lines after the window keys (the first of them is line 4).
std::unique_ptr<panel::Panel> LoadWindow(const TempDir& dir, const std::string& gaugeLines,
                                         const std::string& gaugesDir = GAUGE_DIR) {
  WriteBmp(dir / "back.bmp", 600, 300, kGrey);
  WriteText(dir / "panel.cfg", "[Window00]\nfile=back.bmp\nsize_mm=300,150\n" + gaugeLines);
  return panel::Panel::Load((dir / "panel.cfg").string(), gaugesDir);
}

std::string AllWarnings(const panel::Panel& p) {
  std::string s;
  for (const auto& w : p.warnings()) s += w.text() + "\n";
  return s;
}

std::vector<host::Event> KeyEvents(host::Simulator& s) {
  std::vector<host::Event> keys;
  for (const auto& e : s.events())
    if (e.kind == host::Event::Kind::Key) keys.push_back(e);
  s.clearEvents();
  return keys;
}

// The box of the window picture that a placement covers, as a copy.
render::Image Region(const render::Image& image, const panel::Placement& p) {
  render::Image out = render::makeImage(p.w, p.h);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) out.at(x, y) = image.at(p.x + x, p.y + y);
  return out;
}

TEST(Panel, FindsGaugesByNameModuleBangGaugeAndModuleDotGauge) {
  struct Case {
    const char* name;
    const char* deliverable;  // the module that must be loaded, or nullptr
    const char* error;        // else: the reason given
  };
  const Case cases[] = {
      {"KT7-Quad", "quadrant", nullptr},
      {"kt7-QUAD", "quadrant", nullptr},
      {"VOLMAR.PILOT.AP.SWITCH", "ap_switch", nullptr},
      {"ZAF-M8V-Prop-Feather-v1s", "prop_feather_b", nullptr},
      {"ZAF-M8V-Prop-Feather2-v1s", "prop_feather_a", nullptr},
      {"quadrant!KT7-Quad", "quadrant", nullptr},
      {"QUADRANT.gau!KT7-Quad", "quadrant", nullptr},
      {"marker_lights_b!", "marker_lights_b", nullptr},
      {"ap_switch.VOLMAR.PILOT.AP.SWITCH", "ap_switch", nullptr},
      {"rpm_gauge.ZAF-M8V-RPM2-v1s", "rpm_gauge", nullptr},
      {"rpm_gauge!KT7-Quad", nullptr, "rpm_gauge.gau holds the gauge \"ZAF-M8V-RPM2-v1s\", not \"KT7-Quad\""},
      {"nosuch!KT7-Quad", nullptr, "no module file nosuch.gau in"},
      {"rpm_gauge.KT7-Quad", nullptr, "holds a gauge named \"rpm_gauge.KT7-Quad\""},
      {"No-Such-Gauge", nullptr, "holds a gauge named \"No-Such-Gauge\""},
  };
  std::string lines;
  for (size_t i = 0; i < std::size(cases); ++i) lines += "gauge" + std::to_string(i) + "=" + cases[i].name + ", 0, 0, 20\n";
  TempDir dir;
  auto p = LoadWindow(dir, lines);
  auto& gauges = p->windows().at(0).gauges;
  ASSERT_EQ(gauges.size(), std::size(cases));
  size_t failures = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const auto& g = gauges[i];
    EXPECT_EQ(g.name, cases[i].name);
    EXPECT_EQ(g.line, static_cast<int>(4 + i));
    if (cases[i].deliverable != nullptr) {
      ASSERT_NE(g.module, nullptr) << g.error;
      EXPECT_EQ(g.module->deliverable(), cases[i].deliverable);
      EXPECT_TRUE(g.module->installed());
      continue;
    }
    EXPECT_EQ(g.module, nullptr);
    EXPECT_NE(g.error.find(cases[i].error), std::string::npos) << g.error;
    ASSERT_LT(failures, p->warnings().size());
    const auto& w = p->warnings()[failures++];
    EXPECT_EQ(w.line, g.line);
    EXPECT_EQ(w.file, (dir / "panel.cfg").string());
    EXPECT_NE(w.message.find(cases[i].error), std::string::npos) << w.message;
  }
  EXPECT_EQ(p->warnings().size(), failures) << AllWarnings(*p);
}

TEST(Panel, SizesByHeaderWord11AgainstSizeMmOrByTheLine) {
  struct Case {
    const char* line;  // after "gaugeNN="
    int w, h;
  };
  // 2 background pixels a millimetre; word 11 is the design width in mm; the height follows the
  // gauge's root image unless given.
  const Case cases[] = {
      {"ZAF-M8V-Manifold-Pressure2-v1s, 5, 6", 200, 200},   // 100 mm, 302 x 302
      {"KT7-Quad, 5, 6", 200, 72},                          // 100 mm, 190 x 68: 71.6
      {"VOLMAR.PILOT.AP.SWITCH, 5, 6", 50, 109},            // 25 mm, 32 x 70: 109.4
      {"ZAF-M8V-Cowlflaps-v3s, 5, 6", 80, 31},              // 40 mm, 300 x 117: 31.2
      {"ZAF-M8V-Panel-Switch2-v1s, 5, 6", 80, 70},          // 40 mm, 32 x 28
      {"KT7-Quad, 5, 6, 95", 95, 34},
      {"KT7-Quad, 5, 6, 95, 50", 95, 50},
      {"ZAF-M8V-Cowlflaps-v3s, 5, 6, 300", 300, 117},
  };
  std::string lines;
  for (size_t i = 0; i < std::size(cases); ++i) lines += "gauge" + std::to_string(i) + "=" + cases[i].line + "\n";
  TempDir dir;
  auto p = LoadWindow(dir, lines);
  EXPECT_TRUE(p->warnings().empty()) << AllWarnings(*p);
  const auto& w = p->windows().at(0);
  EXPECT_EQ(w.background.width, 600);
  EXPECT_EQ(w.background.height, 300);
  EXPECT_EQ(w.sizeMmW, 300);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].line);
    EXPECT_EQ(w.gauges[i].x, 5);
    EXPECT_EQ(w.gauges[i].y, 6);
    EXPECT_EQ(w.gauges[i].w, cases[i].w);
    EXPECT_EQ(w.gauges[i].h, cases[i].h);
  }
}

TEST(Panel, AGaugeAtItsOwnSizeIsDrawnPixelForPixelOverTheBackground) {
  TempDir dir;
  auto p = LoadWindow(dir, "gauge00=ZAF-M8V-RPM2-v1s, 40, -20, 302\n");
  p->simulator().setVariable(0x88, 15000);
  p->update();
  const render::Image image = p->draw(0);
  ASSERT_EQ(image.width, 600);
  const auto& g = p->windows()[0].gauges[0];
  const render::Image& frame = g.module->frame();
  int seeThrough = 0;
  for (int y = 20; y < frame.height; ++y)  // the top 20 rows lie above the window
    for (int x = 0; x < frame.width; ++x) {
      const render::Rgba want = frame.at(x, y).a == 0 ? kGrey : frame.at(x, y);
      seeThrough += frame.at(x, y).a == 0;
      ASSERT_EQ(image.at(40 + x, y - 20), want) << x << ", " << y;
    }
  EXPECT_GT(seeThrough, 0);  // the dial's corners show the panel
  EXPECT_EQ(image.at(599, 299), kGrey);
}

// A quadrant drawn at twice its size at (100, 50), and an autopilot switch at its own size on
// top of the quadrant's throttle strips at (210, 50).
constexpr const char* kStacked =
    "gauge00=KT7-Quad, 100, 50, 380\n"
    "gauge01=VOLMAR.PILOT.AP.SWITCH, 210, 50, 32\n";

TEST(Panel, APressGoesToTheTopmostGaugeWithAMouseAreaThereInItsOwnPixels) {
  struct Case {
    int x, y;
    uint32_t key;  // 0: nothing was hit
    int32_t value;
  };
  const Case cases[] = {
      {221, 60, 0x1002C, 1},       // switch pixel (11, 10): its upper half, over the quadrant
      {221, 80, 0x1011C, 11745},   // switch pixel (11, 30), its dead band: quadrant pixel (60, 15)
      {212, 60, 0x1011C, 14757},   // switch pixel (2, 10), left of its areas: quadrant (56, 5)
      {220, 91, 0x1011C, 10239},   // quadrant (60, 20): 41 / 2 floors to 20
      {301, 91, 0x1011D, 10239},   // quadrant (100, 20): the second throttle
      {200, 91, 0, 0},             // quadrant (50, 20): between the propellers and throttles
      {90, 60, 0, 0},              // no gauge at all
  };
  TempDir dir;
  auto p = LoadWindow(dir, kStacked);
  ASSERT_TRUE(p->warnings().empty()) << AllWarnings(*p);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "(" << k.x << ", " << k.y << ")");
    EXPECT_EQ(p->press(0, k.x, k.y), k.key != 0);
    p->release(0, k.x, k.y);
    const auto keys = KeyEvents(p->simulator());
    if (k.key == 0) {
      EXPECT_TRUE(keys.empty());
      continue;
    }
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].id, k.key);
    EXPECT_EQ(keys[0].value, k.value);
    EXPECT_EQ(keys[0].module, k.key == 0x1002C ? "ap_switch" : "quadrant");
    p->simulator().setVariable(0x67, 0);
    p->update();
  }
}

TEST(Panel, ADragStaysWithThePressedGaugeAndFloorsOutsideItsBox) {
  TempDir dir;
  auto p = LoadWindow(dir, kStacked);
  ASSERT_TRUE(p->press(0, 220, 91));  // quadrant (60, 20)
  EXPECT_EQ(p->pressedGauge(), 0);
  p->move(0, 220, 49);   // 1 pixel above the box: y -0.5 floors to -1 (16564, limited)
  p->move(0, 221, 60);   // over the switch's upper half: still the throttle, y 5
  p->move(0, 220, 226);  // far below: y 88, full reverse
  p->release(0, 220, 226);
  EXPECT_EQ(p->pressedGauge(), -1);
  p->move(0, 220, 91);   // button up: nobody hears it
  std::vector<int32_t> values;
  for (const auto& e : KeyEvents(p->simulator())) {
    EXPECT_EQ(e.id, 0x1011Cu);
    values.push_back(e.value);
  }
  EXPECT_EQ(values, (std::vector<int32_t>{10239, 16384, 14757, -4096}));
  EXPECT_EQ(p->simulator().variable(0x80), -4096);
}

TEST(Panel, AllGaugesShareOneSimulatorSoAControlShowsOnItsTwin) {
  TempDir dir;
  auto p = LoadWindow(dir,
                      "gauge00=ap_switch!VOLMAR.PILOT.AP.SWITCH, 0, 0, 32\n"
                      "gauge01=VOLMAR.PILOT.AP.SWITCH, 40, 0, 32\n"
                      "gauge02=KT7-Quad, 0, 100, 190\n"
                      "gauge03=quadrant!KT7-Quad, 200, 100, 190\n");
  auto& g = p->windows()[0].gauges;
  ASSERT_TRUE(p->warnings().empty()) << AllWarnings(*p);
  for (const auto& placement : g) EXPECT_EQ(&placement.module->simulator(), &p->simulator());
  EXPECT_NE(&g[0].module->machine(), &g[1].module->machine());  // each gauge in its own guest

  const render::Image before = p->draw(0);
  ASSERT_TRUE(p->press(0, 11, 10));  // the first switch's upper half
  p->release(0, 11, 10);
  ASSERT_TRUE(p->press(0, 60, 120));  // the first quadrant's throttle 1 at its y 20
  p->release(0, 60, 120);
  EXPECT_EQ(p->simulator().variable(0x67), 1);
  EXPECT_EQ(p->simulator().variable(0x80), 10239);
  p->update();
  const render::Image after = p->draw(0);

  const auto shown = [](const panel::Placement& pl, size_t element, int axis) {
    return pl.module->shownValue(pl.module->elements().at(element).address, axis);
  };
  EXPECT_EQ(shown(g[1], 0, 0), 1.0);      // the second switch shows ON
  EXPECT_EQ(shown(g[3], 1, 1), 10239.0);  // the second quadrant's throttle 1 moved
  EXPECT_EQ(shown(g[3], 2, 1), 0.0);      // its throttle 2 did not
  EXPECT_FALSE(Region(before, g[1]).pixels == Region(after, g[1]).pixels);
  EXPECT_FALSE(Region(before, g[3]).pixels == Region(after, g[3]).pixels);
}

// A copy of a module whose GaugeInstall routine lies at address 0.
void WriteModuleFaultingOnInstall(const fs::path& from, const fs::path& to) {
  pe::Image image = pe::load(from.string());
  const auto fileOffset = [&](uint32_t rva) -> size_t {
    const pe::Section* s = image.sectionAt(rva);
    if (s == nullptr) throw std::runtime_error("rva outside the sections");
    return s->rawOffset + (rva - s->virtualAddress);
  };
  uint32_t header;
  std::memcpy(&header, &image.file[fileOffset(image.findExport("Linkage")->rva + 4 * layout::linkage::gaugeList)], 4);
  const size_t install = fileOffset(header - image.imageBase + 4 * layout::gauge_header::install);
  std::memset(&image.file[install], 0, 4);
  std::ofstream(to, std::ios::binary).write(reinterpret_cast<const char*>(image.file.data()), static_cast<std::streamsize>(image.file.size()));
}

TEST(Panel, FailedGaugesAreWarnedAboutAndDrawnAsPlaceholdersWhileTheRestWorks) {
  TempDir dir, gauges;
  for (const auto& e : fs::directory_iterator(GAUGE_DIR)) fs::create_symlink(e.path(), gauges / e.path().filename().string());
  WriteText(gauges / "broken.gau", "MZ but nothing else");
  WriteModuleFaultingOnInstall(testing_support::GaugePath("ap_switch"), gauges / "faulty.gau");
  auto p = LoadWindow(dir,
                      "gauge00=KT7-Quad, 10, 10, 190\n"                          // 4
                      "gauge01=No-Such-Gauge, 300, 10, 60, 40\n"                 // 5
                      "gauge02=broken!Anything, 400, 10\n"                       // 6
                      "gauge03=faulty!VOLMAR.PILOT.AP.SWITCH, 500, 10\n"         // 7
                      "gauge04=KT7-Quad, 20, 150, 0\n"                           // 8
                      "gauge05=KT7-Quad, 1\n"                                    // 9
                      "gauge06=ZAF-M8V-RPM2-v1s, 250, 100, 151\n",               // 10
                      gauges.path().string());
  const std::pair<int, const char*> expected[] = {
      {8, "gauge04: the width \"0\""},
      {9, "gauge05: expected NAME, x, y"},
      {5, "\"No-Such-Gauge\": no module in"},
      {6, "\"broken!Anything\": "},
      {7, "\"faulty!VOLMAR.PILOT.AP.SWITCH\": "},
  };
  ASSERT_EQ(p->warnings().size(), std::size(expected)) << AllWarnings(*p);
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(p->warnings()[i].line, expected[i].first) << p->warnings()[i].text();
    EXPECT_NE(p->warnings()[i].message.find(expected[i].second), std::string::npos) << p->warnings()[i].text();
  }
  EXPECT_NE(p->warnings()[3].message.find("broken.gau"), std::string::npos) << p->warnings()[3].message;
  EXPECT_NE(p->warnings()[4].message.find("GaugeInstall"), std::string::npos) << p->warnings()[4].message;

  auto& g = p->windows()[0].gauges;
  ASSERT_EQ(g.size(), 6u);  // the line without a position places nothing
  struct Box {
    bool failed;
    int x, y, w, h;
  };
  const Box boxes[] = {
      {false, 10, 10, 190, 68},
      {true, 300, 10, 60, 40},   // as written
      {true, 400, 10, 80, 80},   // size unknown: a 40 mm square
      {true, 500, 10, 50, 50},   // the module's 25 mm, square
      {true, 20, 150, 80, 80},
      {false, 250, 100, 151, 151},
  };
  for (size_t i = 0; i < g.size(); ++i) {
    SCOPED_TRACE(g[i].name);
    EXPECT_EQ(g[i].module == nullptr, boxes[i].failed);
    EXPECT_EQ(!g[i].error.empty(), boxes[i].failed);
    EXPECT_EQ(g[i].x, boxes[i].x);
    EXPECT_EQ(g[i].y, boxes[i].y);
    EXPECT_EQ(g[i].w, boxes[i].w);
    EXPECT_EQ(g[i].h, boxes[i].h);
  }

  p->simulator().setVariable(0x88, 20000);
  p->update();
  const render::Image image = p->draw(0);
  const render::Rgba red{230, 40, 40, 255};
  for (size_t i : {1, 2, 3, 4}) {
    SCOPED_TRACE(g[i].name);
    EXPECT_EQ(image.at(g[i].x, g[i].y), red);                               // outline
    EXPECT_EQ(image.at(g[i].x + g[i].w - 1, g[i].y + g[i].h - 1), red);
    const render::Rgba inside = image.at(g[i].x + g[i].w / 2, g[i].y + 4);  // tinted, off the cross
    EXPECT_GT(inside.r, inside.g + 20);
  }
  // The working gauges are drawn: the quadrant's knobs at their own size, the dial's needles.
  const render::Image& quadrant = g[0].module->frame();
  for (int y = 0; y < quadrant.height; ++y)
    for (int x = 0; x < quadrant.width; ++x)
      if (quadrant.at(x, y).a != 0) {
        ASSERT_EQ(image.at(10 + x, 10 + y), quadrant.at(x, y)) << x << ", " << y;
      }
  EXPECT_NE(Region(image, g[5]).pixels, render::makeImage(151, 151, kGrey).pixels);
  EXPECT_FALSE(p->press(0, 310, 20));  // a placeholder takes no press
}

TEST(Panel, AMissingConfigurationIsAnErrorAndAMissingBackgroundAWarning) {
  TempDir dir;
  try {
    panel::Panel::Load((dir / "nope.cfg").string(), GAUGE_DIR);
    FAIL() << "loaded a missing file";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("nope.cfg"), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }

  WriteText(dir / "panel.cfg", "[Window00]\nfile=gone.bmp\nsize_mm=320,200\ngauge00=KT7-Quad, 0, 0\n");
  auto p = panel::Panel::Load((dir / "panel.cfg").string(), GAUGE_DIR);
  ASSERT_EQ(p->warnings().size(), 1u) << AllWarnings(*p);
  EXPECT_EQ(p->warnings()[0].line, 1);
  EXPECT_NE(p->warnings()[0].message.find("gone.bmp not found"), std::string::npos) << p->warnings()[0].text();
  const auto& w = p->windows()[0];
  EXPECT_EQ(w.background.width, 320);
  EXPECT_EQ(w.background.height, 200);
  const render::Rgba c = w.background.at(5, 5);
  EXPECT_EQ(c.a, 255);
  EXPECT_GT(c.r, 0);  // dark, not black
  EXPECT_LT(c.r, 80);
  EXPECT_EQ(w.gauges[0].w, 100);  // 1 pixel a millimetre on the plain background
  EXPECT_NE(w.gauges[0].module, nullptr);
}

TEST(Panel, CommandWritesOnePngPerVisibleWindowAndPrintsTheWarnings) {
  for (auto [n, want] : std::initializer_list<std::pair<int, const char*>>{{1, "out/p.png"}, {2, "out/p-2.png"}, {3, "out/p-3.png"}})
    EXPECT_EQ(panel::WindowOutputPath("out/p.png", n), want);

  TempDir dir;
  WriteBmp(dir / "a.bmp", 200, 100, kGrey);
  WriteText(dir / "panel.cfg",
            "[Window Titles]\nwindow00=Main\nwindow01=Hidden\nwindow02=Radios\n"
            "[Window00]\nfile=a.bmp\nsize_mm=200,100\ngauge00=KT7-Quad, 0, 0\ngauge01=Nope, 100, 0, 20\n"
            "[Window01]\nfile=a.bmp\nvisible=0\n"
            "[Window02]\nfile=a.bmp\ngauge00=VOLMAR.PILOT.AP.SWITCH, 0, 0, 32\n");
  std::ostringstream out;
  const std::string png = (dir / "shot.png").string();
  EXPECT_EQ(cli::Run("panel", {(dir / "panel.cfg").string(), "--gauges", GAUGE_DIR, "-o", png, "--set", "0x67=1"}, out), 0);
  const std::string text = out.str();
  EXPECT_NE(text.find(":9: \"Nope\": no module in"), std::string::npos) << text;
  EXPECT_NE(text.find("wrote " + png + " (200 x 100): [Window00] Main, 1 of 2 gauges"), std::string::npos) << text;
  EXPECT_NE(text.find("wrote " + (dir / "shot-2.png").string() + " (200 x 100): [Window02] Radios, 1 of 1 gauges"), std::string::npos) << text;
  EXPECT_TRUE(fs::exists(dir / "shot.png"));
  EXPECT_TRUE(fs::exists(dir / "shot-2.png"));
  EXPECT_FALSE(fs::exists(dir / "shot-3.png"));

  EXPECT_THROW(cli::Run("panel", {(dir / "panel.cfg").string(), "-o", png}, out), cli::UsageError);
  EXPECT_THROW(cli::Run("panel", {(dir / "none.cfg").string(), "--gauges", GAUGE_DIR, "-o", png}, out), std::runtime_error);
}

TEST(SamplePanel, LoadsEveryGaugeCleanlyLaidOutWithoutOverlaps) {
  auto p = panel::Panel::Load(SAMPLE_PANEL, GAUGE_DIR);
  EXPECT_TRUE(p->warnings().empty()) << AllWarnings(*p);
  ASSERT_EQ(p->windows().size(), 1u);
  const auto& w = p->windows()[0];
  EXPECT_EQ(w.title, "Main Panel");
  EXPECT_TRUE(w.visible);
  std::set<std::string> deliverables;
  for (size_t i = 0; i < w.gauges.size(); ++i) {
    const auto& a = w.gauges[i];
    SCOPED_TRACE(a.name);
    ASSERT_NE(a.module, nullptr) << a.error;
    deliverables.insert(a.module->deliverable());
    EXPECT_GE(a.x, 0);
    EXPECT_GE(a.y, 0);
    EXPECT_LE(a.x + a.w, w.background.width);
    EXPECT_LE(a.y + a.h, w.background.height);
    for (size_t j = 0; j < i; ++j) {
      const auto& b = w.gauges[j];
      EXPECT_FALSE(a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h) << "overlaps " << b.name;
    }
  }
  EXPECT_EQ(deliverables.size(), 11u);
  // Dark grey, not black, where no gauge lies (the top left corner below the glareshield).
  const render::Rgba panelColour = w.background.at(4, 120);
  EXPECT_GT(panelColour.r, 30);
  EXPECT_LT(panelColour.r, 110);
}

}  // namespace
