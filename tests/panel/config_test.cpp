// Reading panel.cfg: sections, comments, letter case, gauge lines, and the warnings for what
// cannot be read, each with its line.
#include <gtest/gtest.h>

#include <sstream>

#include "panel/config.h"

namespace {

panel::Config Parse(const std::string& text) {
  std::istringstream in(text);
  return panel::ParseConfig(in, "test.cfg");
}

std::string AllWarnings(const panel::Config& c) {
  std::string s;
  for (const auto& w : c.warnings) s += w.text() + "\n";
  return s;
}

TEST(PanelConfig, SectionsCommentsCaseAndSpacing) {
  const auto c = Parse(
      "\xEF\xBB\xBF// Main panel\r\n"                      // 1
      "[Window Titles]\r\n"                                // 2
      "Window00 = Main Panel   // the big one\r\n"         // 3
      "WINDOW01=Radio Stack\r\n"                           // 4
      "\r\n"                                               // 5
      "[VIEWS]\r\n"                                        // 6
      "VIEW_FORWARD_WINDOWS=MAIN_PANEL\r\n"                // 7: the simulator's, skipped quietly
      "not even a key in someone else's section\r\n"       // 8
      "[window01]\r\n"                                     // 9
      "FILE = radio.bmp\r\n"                               // 10
      "size_mm = 200 , 100\r\n"                            // 11
      "visible=0\r\n"                                      // 12
      "[ WINDOW00 ]\r\n"                                   // 13
      "File=Main.bmp\r\n"                                  // 14
      "Size_MM=640,480\r\n"                                // 15
      "Window_Size_Ratio= 0.75\r\n"                        // 16
      "Position=7\r\n"                                     // 17
      "Ident=MAIN_PANEL\r\n"                               // 18
      "\tgauge00 = KT7-Quad , 1 , 2   // quadrant\r\n"     // 19
      "   // gauge01=commented, 5, 5\r\n"                  // 20
      "Gauge02=VOLMAR.PILOT.AP.SWITCH,3,4,25\r\n"          // 21
      "background_color=0,0,0\r\n");                       // 22: the simulator's, skipped quietly
  EXPECT_TRUE(c.warnings.empty()) << AllWarnings(c);
  ASSERT_EQ(c.windows.size(), 2u);

  const auto& main = c.windows[0];  // ordered by window number, not by appearance
  EXPECT_EQ(main.number, 0);
  EXPECT_EQ(main.line, 13);
  EXPECT_EQ(main.title, "Main Panel");
  EXPECT_EQ(main.file, "Main.bmp");
  EXPECT_EQ(main.sizeMmW, 640);
  EXPECT_EQ(main.sizeMmH, 480);
  EXPECT_DOUBLE_EQ(main.sizeRatio, 0.75);
  EXPECT_EQ(main.positionCode, 7);
  EXPECT_EQ(main.ident, "MAIN_PANEL");
  EXPECT_TRUE(main.visible);
  ASSERT_EQ(main.gauges.size(), 2u);
  EXPECT_EQ(main.gauges[0].name, "KT7-Quad");
  EXPECT_EQ(main.gauges[0].line, 19);
  EXPECT_EQ(main.gauges[1].name, "VOLMAR.PILOT.AP.SWITCH");
  EXPECT_EQ(main.gauges[1].line, 21);
  EXPECT_EQ(main.gauges[1].w, 25);

  const auto& radio = c.windows[1];
  EXPECT_EQ(radio.number, 1);
  EXPECT_EQ(radio.title, "Radio Stack");
  EXPECT_EQ(radio.file, "radio.bmp");
  EXPECT_EQ(radio.sizeMmW, 200);
  EXPECT_EQ(radio.sizeMmH, 100);
  EXPECT_FALSE(radio.visible);
  EXPECT_TRUE(radio.gauges.empty());
}

// One gauge line in a window section, as written after "gauge07=".
TEST(PanelConfig, GaugeLines) {
  struct Case {
    const char* value;
    bool placed;  // kept as a placement (its position read)
    const char* name;
    int x, y;
    std::optional<int> w, h;
    const char* error;    // the placement's error, "" when usable
    const char* warning;  // a warning on line 2 containing this, "" for none
  };
  const Case cases[] = {
      {"KT7-Quad, 10, 20", true, "KT7-Quad", 10, 20, {}, {}, "", ""},
      {"KT7-Quad,10,20,100", true, "KT7-Quad", 10, 20, 100, {}, "", ""},
      {"  KT7-Quad ,\t10 , 20 , 100 , 50  ", true, "KT7-Quad", 10, 20, 100, 50, "", ""},
      {"quadrant!KT7-Quad, -5, +7", true, "quadrant!KT7-Quad", -5, 7, {}, {}, "", ""},
      {"ap_switch.VOLMAR.PILOT.AP.SWITCH, 1, 2 // on the left", true, "ap_switch.VOLMAR.PILOT.AP.SWITCH", 1, 2, {}, {}, "", ""},
      {"KT7-Quad, 10, 20, 100, 50, 3", true, "KT7-Quad", 10, 20, 100, 50, "", "1 field(s) after the height ignored"},
      {"KT7-Quad, 10, 20, 0", true, "KT7-Quad", 10, 20, {}, {}, "width \"0\"", "width \"0\""},
      {"KT7-Quad, 10, 20, 100, tall", true, "KT7-Quad", 10, 20, 100, {}, "height \"tall\"", "height \"tall\""},
      {"KT7-Quad, 10, 20, , 50", true, "KT7-Quad", 10, 20, {}, {}, "width \"\"", "width \"\""},
      {", 10, 20", true, "", 10, 20, {}, {}, "no gauge name", "no gauge name"},
      {"KT7-Quad, 10", false, "", 0, 0, {}, {}, "", "expected NAME, x, y"},
      {"KT7-Quad", false, "", 0, 0, {}, {}, "", "expected NAME, x, y"},
      {"KT7-Quad, ten, 20", false, "", 0, 0, {}, {}, "", "is not two whole numbers"},
      {"KT7-Quad, 1.5, 20", false, "", 0, 0, {}, {}, "", "is not two whole numbers"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.value);
    const auto c = Parse(std::string("[Window00]\ngauge07=") + k.value + "\n");
    ASSERT_EQ(c.windows.size(), 1u);
    if (*k.warning != '\0') {
      ASSERT_EQ(c.warnings.size(), 1u) << AllWarnings(c);
      EXPECT_EQ(c.warnings[0].line, 2);
      EXPECT_NE(c.warnings[0].message.find(k.warning), std::string::npos) << c.warnings[0].message;
      EXPECT_EQ(c.warnings[0].text().rfind("test.cfg:2: gauge07: ", 0), 0u) << c.warnings[0].text();
    } else {
      EXPECT_TRUE(c.warnings.empty()) << AllWarnings(c);
    }
    if (!k.placed) {
      EXPECT_TRUE(c.windows[0].gauges.empty());
      continue;
    }
    ASSERT_EQ(c.windows[0].gauges.size(), 1u);
    const auto& g = c.windows[0].gauges[0];
    EXPECT_EQ(g.name, k.name);
    EXPECT_EQ(g.x, k.x);
    EXPECT_EQ(g.y, k.y);
    EXPECT_EQ(g.w, k.w);
    EXPECT_EQ(g.h, k.h);
    EXPECT_EQ(g.line, 2);
    if (*k.error == '\0') {
      EXPECT_EQ(g.error, "");
    } else {
      EXPECT_NE(g.error.find(k.error), std::string::npos) << g.error;
    }
  }
}

TEST(PanelConfig, EveryUnreadableLineWarnsWithItsLineAndTheRestIsKept) {
  const auto c = Parse(
      "stray=1\n"                  // 1
      "[Window00\n"                // 2
      "file=skipped.bmp\n"         // 3: inside the malformed section, skipped with it
      "[Window00]\n"               // 4
      "size_mm=640\n"              // 5
      "visible=maybe\n"            // 6
      "window_size_ratio=-1\n"     // 7
      "position=left\n"            // 8
      "just some words\n"          // 9
      "gauge=KT7-Quad, 1, 2\n"     // 10
      "gauge01=KT7-Quad, 1\n"      // 11
      "gauge02=KT7-Quad, 5, 6\n"   // 12: fine
      "[WindowX]\n"                // 13
      "gauge03=KT7-Quad, 7, 8\n"   // 14: skipped with its section
      "[Window Titles]\n"          // 15
      "window05=Nowhere\n"         // 16
      "[window00]\n"               // 17
      "file=main.bmp\n");          // 18: adds to window 0
  const std::pair<int, const char*> expected[] = {
      {1, "stray= lies outside every section"},
      {2, "malformed section header"},
      {5, "size_mm wants W,H"},
      {6, "visible wants 1 or 0"},
      {7, "window_size_ratio wants a positive number"},
      {8, "position wants a whole number"},
      {9, "expected KEY=VALUE, got \"just some words\""},
      {10, "\"gauge\" is not gaugeNN"},
      {11, "gauge01: expected NAME, x, y"},
      {13, "[WindowX] is not [WindowNN]"},
      {17, "[window00] appears again (first at line 4)"},
      {16, "window05 has a title but no [Window05] section"},
  };
  ASSERT_EQ(c.warnings.size(), std::size(expected)) << AllWarnings(c);
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(c.warnings[i].line, expected[i].first) << c.warnings[i].text();
    EXPECT_NE(c.warnings[i].message.find(expected[i].second), std::string::npos) << c.warnings[i].text();
    EXPECT_EQ(c.warnings[i].text().rfind("test.cfg:" + std::to_string(expected[i].first) + ": ", 0), 0u);
  }
  ASSERT_EQ(c.windows.size(), 1u);
  EXPECT_EQ(c.windows[0].file, "main.bmp");
  EXPECT_FALSE(c.windows[0].sizeMmW.has_value());
  EXPECT_TRUE(c.windows[0].visible);
  ASSERT_EQ(c.windows[0].gauges.size(), 1u);
  EXPECT_EQ(c.windows[0].gauges[0].line, 12);
}

}  // namespace
