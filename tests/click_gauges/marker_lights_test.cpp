// The marker light gauge as built, both builds through one table: the lamp picture chosen by
// exact comparison of the marker value, and the HI/LO lever that lives only in the gauge.
#include <cmath>
#include <limits>

#include "click_support.h"

namespace {

using namespace click_gauges;
using testing_support::LoadGauge;

constexpr uint32_t kClick = 6001;
constexpr uint32_t kMarkerBeacon = 0x162;
const char* const kBuilds[] = {"marker_lights_a", "marker_lights_b"};

double FromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

struct Marker {
  std::unique_ptr<host::Module> m;
  uint32_t lamps = 0, lever = 0;

  explicit Marker(const char* deliverable) : m(LoadGauge(deliverable)) {
    testing_support::Start(*m);
    const auto e = m->elements();
    lamps = e.at(1).address;
    lever = e.at(2).address;
  }
  bool ClickAt(int32_t x, int32_t y) {
    const bool hit = Click(*m, x, y);
    m->update();
    return hit;
  }
  void ExpectLever(int32_t position, double picture) {
    EXPECT_EQ(ModuleWord(*m, "hiLoPosition"), position);
    EXPECT_EQ(IconValue(*m, lever), picture);
    EXPECT_EQ(m->shownValue(lever), picture);
  }
};

TEST(MarkerLights, LampPictureOnlyForExactlyOneTwoOrThree) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double marker;
    double picture;
  } cases[] = {
      {0.0, 0.0},
      {1.0, 1.0},
      {2.0, 2.0},
      {3.0, 3.0},
      {std::nextafter(1.0, 2.0), 0.0},  // the high word of 1.0 with a low word of 1
      {std::nextafter(1.0, 0.0), 0.0},
      {2.5, 0.0},
      {2.9999, 0.0},
      {4.0, 0.0},
      {-1.0, 0.0},  // 1.0 with the sign bit
      {-3.0, 0.0},
      {-0.0, 0.0},
      {nan, 0.0},
      {-nan, 0.0},
      {std::numeric_limits<double>::infinity(), 0.0},
      {FromBits(0x000000003FF00000), 0.0},  // 1.0's high word in the low word
  };
  for (const char* deliverable : kBuilds) {
    SCOPED_TRACE(deliverable);
    Marker g(deliverable);
    const uint32_t callback = g.m->machine().read32(g.lamps + 4 * layout::icon::updateCallback);
    // The host may leave the x87 in any precision and rounding: 53-bit nearest, 24-bit up,
    // 64-bit chop.
    for (uint16_t cw : {uint16_t{0x027F}, uint16_t{0x087F}, uint16_t{0x0F7F}}) {
      SCOPED_TRACE(cw);
      for (const auto& c : cases) {
        SCOPED_TRACE(c.marker);
        // Through the host's update, from the bound variable...
        g.m->simulator().setVariable(kMarkerBeacon, c.marker);
        g.m->machine().setFpuControlWord(cw);
        g.m->update();
        EXPECT_EQ(Bits(g.m->shownValue(g.lamps)), Bits(c.picture));
        // ...and called directly: the result is a whole picture number and `value` is left as it was.
        const uint32_t variable = testing_support::MakeVariable(*g.m, c.marker, kMarkerBeacon);
        EXPECT_EQ(Bits(g.m->callUpdateCallback(callback, variable)), Bits(c.picture));
        EXPECT_EQ(Bits(g.m->machine().readDouble(variable + 12)), Bits(c.marker));
        g.m->machine().free(variable);
      }
    }
  }
}

TEST(MarkerLights, LeverMovesOnlyWhenTheOtherSideIsClickedAndSendsNothing) {
  for (const char* deliverable : kBuilds) {
    SCOPED_TRACE(deliverable);
    Marker g(deliverable);
    g.ExpectLever(0, 0.0);
    // A HI click right after load sounds and does not write the lever's value: a value planted
    // there stays.
    g.m->machine().writeDouble(g.lever + 4 * (layout::icon::variable + layout::host_variable::value), -0.0);
    EXPECT_TRUE(g.ClickAt(85, 170));
    EXPECT_EQ(TakeLog(*g.m), Log{Sound(kClick)});
    EXPECT_EQ(Bits(IconValue(*g.m, g.lever)), Bits(-0.0)) << "value rewritten on a click that changed nothing";
    struct Step {
      const char* what;
      int32_t x;
      int32_t position;
      double picture;
    };
    const Step steps[] = {
        {"LO", 135, 2, 1.0}, {"LO again", 154, 2, 1.0}, {"HI", 65, 0, 0.0}, {"HI again", 104, 0, 0.0}, {"LO", 115, 2, 1.0},
    };
    for (const Step& s : steps) {
      SCOPED_TRACE(s.what);
      EXPECT_TRUE(g.ClickAt(s.x, 170));
      EXPECT_EQ(TakeLog(*g.m), Log{Sound(kClick)}) << "the lever sends no KeyEvent";
      g.ExpectLever(s.position, s.picture);
    }
    // Kill and install again: the lever stays where the last click left it.
    g.m->kill();
    testing_support::Start(*g.m);
    g.ExpectLever(2, 1.0);
  }
}

TEST(MarkerLights, ClicksBesideTheTwoBoxesDoNothing) {
  for (const char* deliverable : kBuilds) {
    SCOPED_TRACE(deliverable);
    Marker g(deliverable);
    const std::pair<int32_t, int32_t> outside[] = {{105, 170}, {110, 170}, {114, 189}, {85, 190}, {135, 200},
                                                   {85, 149}, {64, 170},  {155, 170}, {108, 60}};
    for (auto [x, y] : outside) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_FALSE(g.ClickAt(x, y));
    }
    EXPECT_EQ(TakeLog(*g.m), Log{}) << "no sound";
    g.ExpectLever(0, 0.0);
  }
}

}  // namespace
