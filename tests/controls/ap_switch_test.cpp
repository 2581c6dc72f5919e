// The autopilot switch as built: clicks on both halves against the host variable, the dead
// band, the closed loop through the simulator, and its Icon root's size pair.
#include <gtest/gtest.h>

#include <sstream>

#include "gauges.h"
#include "layout.h"

namespace {

using testing_support::LoadGauge;

constexpr uint32_t kAutopilot = 0x67;
constexpr uint32_t kKeyEvent = 0x1002C;

std::vector<std::pair<uint32_t, int32_t>> Keys(host::Module& m) {
  std::vector<std::pair<uint32_t, int32_t>> keys;
  for (const auto& e : m.simulator().events()) keys.emplace_back(e.id, e.value);
  return keys;
}

TEST(ApSwitch, EachHalfActsOnlyAgainstTheOppositePosition) {
  struct Case {
    double value;
    std::vector<std::pair<uint32_t, int32_t>> up, down;
  };
  const Case cases[] = {
      {0.0, {{kKeyEvent, 1}}, {}},
      {1.0, {}, {{kKeyEvent, 0}}},
      {0.5, {}, {}},
      {2.0, {}, {}},
      {-1.0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    auto m = LoadGauge("ap_switch");
    m->simulator().setVariable(kAutopilot, c.value);
    testing_support::Start(*m);
    // With no simulator rule, the variable stays as set whatever is clicked.
    std::istringstream noRules;
    m->simulator().loadRules(noRules, "no rules");
    EXPECT_TRUE(m->press(15, 10));  // upper half
    m->release(15, 10);
    EXPECT_EQ(Keys(*m), c.up);
    m->simulator().clearEvents();
    EXPECT_TRUE(m->press(15, 60));  // lower half
    m->release(15, 60);
    EXPECT_EQ(Keys(*m), c.down);
  }
}

TEST(ApSwitch, RepeatedClicksBeforeTheVariableChangesEachSendAgain) {
  auto m = LoadGauge("ap_switch");
  testing_support::Start(*m);
  std::istringstream noRules;
  m->simulator().loadRules(noRules, "no rules");
  for (int i = 0; i < 3; ++i) {
    m->press(20, 20);
    m->release(20, 20);
  }
  EXPECT_EQ(Keys(*m), (std::vector<std::pair<uint32_t, int32_t>>(3, {kKeyEvent, 1})));
}

TEST(ApSwitch, BandBetweenHalvesLeftColumnsAndTopRowCallNothing) {
  auto m = LoadGauge("ap_switch");
  testing_support::Start(*m);
  for (auto [x, y] : std::vector<std::pair<int32_t, int32_t>>{{15, 25}, {15, 35}, {15, 45}, {4, 10}, {0, 60}, {15, 0}, {32, 10}, {15, 70}}) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    EXPECT_FALSE(m->press(x, y));
    m->release(x, y);
  }
  // The edges of the areas still answer.
  EXPECT_TRUE(m->press(5, 1));
  EXPECT_TRUE(m->press(31, 24));
  EXPECT_TRUE(m->press(5, 46));
  EXPECT_TRUE(m->press(31, 69));
  EXPECT_EQ(Keys(*m).size(), 2u) << "value 0: the two upper clicks send, the lower ones do not";
}

TEST(ApSwitch, ClickUpThenUpdateShowsTheLeverUp) {
  auto m = LoadGauge("ap_switch");
  testing_support::Start(*m);
  const uint32_t root = m->rootElement();
  EXPECT_EQ(m->shownValue(root), 0.0);
  const render::Image down = m->frame();
  EXPECT_TRUE(m->press(15, 10));
  EXPECT_EQ(m->simulator().variable(kAutopilot), 1.0);
  m->update();
  m->draw();
  EXPECT_EQ(m->shownValue(root), 1.0);
  EXPECT_TRUE(m->frame().pixels == m->bitmap(1003).pixels) << "picture 1 is bitmap 1003";
  EXPECT_TRUE(down.pixels == m->bitmap(1000).pixels);
  // And back down.
  EXPECT_TRUE(m->press(15, 60));
  m->update();
  EXPECT_EQ(m->shownValue(root), 0.0);
}

TEST(ApSwitch, InstallPassesTheFirstPicturesSizeAndKillUnregistersFirst) {
  auto m = LoadGauge("ap_switch");
  m->install();
  const auto& calls = m->serviceCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].name, "HostInstallElements");
  EXPECT_EQ(calls[1].name, "HostInstallMouseAreas");
  EXPECT_EQ(calls[2].name, "HostRegisterMouseAreas");
  const uint32_t pair = calls[1].args[2];
  EXPECT_EQ(m->machine().read32(pair), 32u);
  EXPECT_EQ(m->machine().read32(pair + 4), 70u);
  const uint32_t pictures = m->machine().read32(m->rootElement() + 4 * layout::icon::pictures);
  EXPECT_EQ(pair, m->machine().read32(pictures) + 4) << "word 1 of picture 0's ImageRecord";
  EXPECT_EQ(calls[1].args[1], m->gaugeHeader());
  m->serviceCalls().clear();
  m->kill();
  ASSERT_EQ(m->serviceCalls().size(), 2u);
  EXPECT_EQ(m->serviceCalls()[0].name, "HostUnregisterMouseAreas");
  EXPECT_EQ(m->serviceCalls()[1].name, "HostKillElements");
  EXPECT_FALSE(m->press(15, 10)) << "no handler runs after unregister";
}

TEST(ApSwitch, EntryStoresNothingAndModuleRoutinesAreDistinct) {
  auto m = LoadGauge("ap_switch");
  EXPECT_NE(m->machine().read32(m->linkage() + 4), m->machine().read32(m->linkage() + 8));
  const auto instance = m->symbolAddress("moduleInstance");
  ASSERT_TRUE(instance.has_value());
  EXPECT_EQ(m->machine().read32(*instance), 0u);
  auto q = LoadGauge("quadrant");
  EXPECT_NE(q->machine().read32(q->linkage() + 4), q->machine().read32(q->linkage() + 8));
  EXPECT_EQ(q->machine().read32(*q->symbolAddress("moduleInstance")), q->base());
}

}  // namespace
