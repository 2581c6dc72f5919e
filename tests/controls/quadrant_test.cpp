// The engine control quadrant as built: lever values from the pointer height, limits, the six
// KeyEvents, the gaps between strips, the host's x87 state, a missing height, the closed loop.
#include <gtest/gtest.h>

#include "gauges.h"
#include "layout.h"

namespace {

using testing_support::LoadGauge;

struct Strip {
  int32_t x;  // a column inside the strip
  uint32_t keyEvent;
  bool throttle;
  uint32_t variable;
};

// Left to right as the knobs stand: propellers, throttles, mixtures.
const Strip kStrips[] = {
    {10, 0x10183, false, 0x81}, {30, 0x10184, false, 0xA4}, {60, 0x1011C, true, 0x80},
    {100, 0x1011D, true, 0xA3}, {150, 0x1017F, false, 0x82}, {170, 0x10180, false, 0xA5},
};

struct Height {
  int32_t y;
  int32_t throttle;
  int32_t lever;
};

// For the 68-pixel gauge. Throttle divides by 54.400000000000006, not by the idle line 54.
const Height kHeights[] = {
    {0, 16263, 16384},   {1, 15962, 16143},  {17, 11143, 12288}, {20, 10239, 11565},
    {37, 5119, 7469},    {54, 0, 3373},      {55, -301, 3132},   {67, -3915, 240},
    {68, -4096, 0},      {80, -4096, -2891}, {-10, 16384, 16384},
};

class Quadrant : public ::testing::Test {
 protected:
  void SetUp() override {
    m = LoadGauge("quadrant");
    testing_support::Start(*m);
    for (const host::MouseAreaView& a : m->mouseAreas())
      if (a.kind == layout::mouse_area::kChild) handlers.push_back(a.handler);
    ASSERT_EQ(handlers.size(), 6u);
  }
  // The last KeyEvent sent, after a press at (x, y0) dragged to y.
  std::pair<uint32_t, int32_t> Drag(int32_t x, int32_t y0, int32_t y) {
    m->simulator().clearEvents();
    EXPECT_TRUE(m->press(x, y0));
    m->move(x, y);
    m->release(x, y);
    const auto& events = m->simulator().events();
    EXPECT_EQ(events.size(), 2u) << "one KeyEvent on the press, one on the move";
    return {events.back().id, events.back().value};
  }
  std::unique_ptr<host::Module> m;
  std::vector<uint32_t> handlers;
};

TEST_F(Quadrant, EveryStripSendsItsValueForEveryHeight) {
  for (const Strip& s : kStrips) {
    for (const Height& h : kHeights) {
      SCOPED_TRACE("x " + std::to_string(s.x) + " y " + std::to_string(h.y));
      const auto [id, value] = Drag(s.x, 30, h.y);  // the drag goes on outside the strip
      EXPECT_EQ(id, s.keyEvent);
      EXPECT_EQ(value, s.throttle ? h.throttle : h.lever);
    }
  }
}

TEST_F(Quadrant, SameValuesWhateverTheHostLeftInTheControlWord) {
  for (uint16_t cw : {uint16_t{0x087F}, uint16_t{0x0F7F}, uint16_t{0x007F}}) {
    m->machine().setFpuControlWord(cw);
    for (const Height& h : kHeights) {
      SCOPED_TRACE("cw " + std::to_string(cw) + " y " + std::to_string(h.y));
      m->simulator().clearEvents();
      EXPECT_EQ(m->callMouseHandler(handlers[0], 60, h.y), 0u);  // throttle 1
      EXPECT_EQ(m->callMouseHandler(handlers[2], 10, h.y), 0u);  // propeller 1
      const auto& events = m->simulator().events();
      ASSERT_EQ(events.size(), 2u);
      EXPECT_EQ(events[0].value, h.throttle);
      EXPECT_EQ(events[1].value, h.lever);
    }
    EXPECT_EQ(m->machine().fpuControlWord(), cw);
  }
}

TEST_F(Quadrant, GapsBetweenStripsAnswerNoPress) {
  for (int32_t x : {0, 24, 25, 49, 53, 92, 93, 94, 133, 136, 162, 163, 189}) {
    SCOPED_TRACE(x);
    EXPECT_FALSE(m->press(x, 30));
    m->release(x, 30);
  }
  EXPECT_TRUE(m->simulator().events().empty());
}

TEST_F(Quadrant, NoHeightMeansNothingIsSent) {
  const uint32_t image = m->rootElement() + 4 * layout::static_image::image;
  const uint32_t record = m->machine().read32(image);
  for (int32_t height : {0, -68}) {
    m->machine().write32(record + 4 * layout::image_record::height, static_cast<uint32_t>(height));
    for (uint32_t h : handlers) EXPECT_EQ(m->callMouseHandler(h, 60, 20), 0u);
  }
  m->machine().write32(image, 0);  // no ImageRecord at all
  for (uint32_t h : handlers) EXPECT_EQ(m->callMouseHandler(h, 60, 20), 0u);
  EXPECT_TRUE(m->simulator().events().empty());
}

TEST_F(Quadrant, KnobsFollowTheirVariablesAfterADrag) {
  const auto sliders = m->elements();
  ASSERT_EQ(sliders.size(), 7u);
  // Throttle 1 is the first slider; dragging it to y 20 sends 10239, the simulator stores it,
  // and the next update shows it.
  Drag(60, 30, 20);
  EXPECT_EQ(m->simulator().variable(0x80), 10239.0);
  m->update();
  m->draw();
  EXPECT_EQ(m->shownValue(sliders[1].address, 1), 10239.0);
  EXPECT_EQ(m->shownValue(sliders[1].address, 0), 0.0) << "no horizontal movement";
  // Mixture below the gauge: the lever value goes negative, the simulator holds it at 0.
  Drag(150, 30, 80);
  EXPECT_EQ(m->simulator().variable(0x82), 0.0);
}

TEST_F(Quadrant, KnobStandsFortyTwoPixelsHigherAtFullTravel) {
  // The mixture 1 knob (red) at rest, then at full travel: its top edge moves up 42 rows.
  auto topRow = [&](int32_t x0, int32_t x1) {
    for (int y = 0; y < m->frame().height; ++y)
      for (int x = x0; x <= x1; ++x)
        if (m->frame().at(x, y).a != 0) return y;
    return -1;
  };
  m->update();
  m->draw();
  const int atRest = topRow(137, 161);
  m->simulator().setVariable(0x82, 16384);
  m->update();
  m->draw();
  ASSERT_GE(atRest, 42);
  EXPECT_EQ(atRest - topRow(137, 161), 42);
}

}  // namespace
