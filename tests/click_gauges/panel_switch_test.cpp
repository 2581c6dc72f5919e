// The panel switch as built, both builds through one table: the pair of KeyEvents in the
// build's order, the push area that reaches left of the button, and records no click changes.
#include "click_support.h"

namespace {

using namespace click_gauges;
using testing_support::LoadGauge;

constexpr uint32_t kClick = 3001;

struct Build {
  const char* deliverable;
  uint32_t first, second;
};
const Build kBuilds[] = {
    {"panel_switch_a", 0x10173, 0x10176},
    {"panel_switch_b", 0x10176, 0x10173},
};

// Both element records, word for word (the host-filled image words included: they do not move
// while the gauge is installed).
std::vector<uint8_t> ElementRecords(host::Module& m) {
  std::vector<uint8_t> bytes;
  for (const host::ElementView& e : m.elements()) {
    const auto record = m.machine().readBytes(e.address, 4 * layout::static_image::words);
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return bytes;
}

TEST(PanelSwitch, EveryClickSendsThePairInTheBuildsOrder) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    auto m = LoadGauge(b.deliverable);
    testing_support::Start(*m);
    const Log one = {Sound(kClick), Key(b.first), Key(b.second)};
    EXPECT_TRUE(Click(*m, 15, 10));
    EXPECT_EQ(TakeLog(*m), one);
    EXPECT_TRUE(Click(*m, 15, 10));
    EXPECT_TRUE(Click(*m, 0, 0));
    Log two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(TakeLog(*m), two) << "the same pair, in the same order, on every click";
  }
}

TEST(PanelSwitch, AreaReachesLeftOfTheButtonAndStopsShortOfItsRightAndBottom) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    auto m = LoadGauge(b.deliverable);
    testing_support::Start(*m);
    const std::pair<int32_t, int32_t> inside[] = {{-5, 10}, {-10, 0}, {29, 19}, {-10, 19}};
    for (auto [x, y] : inside) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_TRUE(Click(*m, x, y));
      EXPECT_EQ(TakeLog(*m), (Log{Sound(kClick), Key(b.first), Key(b.second)}));
    }
    const std::pair<int32_t, int32_t> outside[] = {{15, 24}, {31, 5}, {30, 0}, {-11, 10}, {0, 20}, {15, 27}};
    for (auto [x, y] : outside) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_FALSE(Click(*m, x, y));
    }
    EXPECT_EQ(TakeLog(*m), Log{}) << "no sound, no event";
  }
}

TEST(PanelSwitch, ClicksChangeNeitherElementRecord) {
  for (const Build& b : kBuilds) {
    SCOPED_TRACE(b.deliverable);
    auto m = LoadGauge(b.deliverable);
    testing_support::Start(*m);
    const auto before = ElementRecords(*m);
    const render::Image frame = m->frame();
    for (int i = 0; i < 3; ++i) Click(*m, 15, 10);
    Click(*m, -5, 10);
    m->update();
    m->draw();
    EXPECT_EQ(ElementRecords(*m), before);
    const auto e = m->elements();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].drawFlags, 0x40000007u);
    EXPECT_TRUE(m->frame().pixels == frame.pixels) << "the picture is the same before and after";
  }
}

TEST(PanelSwitch, BuildBsButtonIsBuildAsMirrorImage) {
  auto a = LoadGauge("panel_switch_a");
  auto b = LoadGauge("panel_switch_b");
  EXPECT_EQ(a->bitmap(1000).width, 32);
  EXPECT_EQ(a->bitmap(1000).height, 28);
  EXPECT_TRUE(IsMirrorImage(a->bitmap(1000), b->bitmap(1000)));
  EXPECT_TRUE(a->bitmap(1003).pixels == b->bitmap(1003).pixels);
}

}  // namespace
