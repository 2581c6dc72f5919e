// The twin-needle engine gauges, run as built through the bench: the needle callback's scaling,
// fallback and folding, its independence from the host's x87 control word, and the needles
// following their own variables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "gauges.h"
#include "layout.h"

namespace {

using testing_support::LoadGauge;
using testing_support::MakeVariable;

// The callback's arithmetic, as IEEE doubles on the machine running the test.
double Reference(double v, double limit, double reciprocal) {
  double x = v * 0.006103515625;
  x = x * 24.0;
  if (!(x >= 0.0)) return 0.0;
  if (x <= limit) return x;
  const double y = x * reciprocal;
  const double fraction = y - std::trunc(y);
  return std::isnan(fraction) ? 0.0 : fraction * limit;
}

uint64_t Bits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}

struct GaugeCase {
  const char* deliverable;
  uint32_t engine1Variable;
  double limit;
  double reciprocal;
};

const GaugeCase kGauges[] = {
    {"manifold_gauge", 0x98, 10000.0, 0.0001},
    {"rpm_gauge", 0x88, 3500.0, 0.00028571428571428574},
};

class EngineNeedle : public ::testing::TestWithParam<GaugeCase> {
 protected:
  void SetUp() override {
    module = LoadGauge(GetParam().deliverable);
    module->install();
    // Both needles name the same callback; take it from the first Needle of the tree.
    for (const host::ElementView& e : module->elements()) {
      if (e.kind == layout::element::kNeedle) {
        callback = module->machine().read32(e.address + 4 * layout::needle::updateCallback);
        break;
      }
    }
    ASSERT_NE(callback, 0u);
  }
  double Call(double v) {
    const uint32_t variable = MakeVariable(*module, v);
    const double r = module->callUpdateCallback(callback, variable);
    // The callback writes nothing: `value` keeps the variable's own value.
    EXPECT_EQ(Bits(module->machine().readDouble(variable + 12)), Bits(v));
    module->machine().free(variable);
    return r;
  }
  std::unique_ptr<host::Module> module;
  uint32_t callback = 0;
};

// Inputs that exercise every path: zero, negatives, not-a-number, infinities, up to and
// beyond the wrap limit, and magnitudes no 32-bit truncation could fold.
std::vector<double> Inputs(const GaugeCase& g) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  return {0.0, -0.0, -1.0, -1e-300, -68266.0, nan, -nan, inf, -inf, 1.0, 1000.0, 23893.0, 35840.0,
          68266.0, 68267.0, 102400.0, 200000.0, 1e6, 123456789.0, 1e12, 1e300,
          g.limit / 0.146484375, std::nextafter(g.limit / 0.146484375, inf)};
}

TEST_P(EngineNeedle, MatchesIeeeDoubleArithmeticBitForBit) {
  const GaugeCase& g = GetParam();
  for (double v : Inputs(g)) {
    SCOPED_TRACE(v);
    EXPECT_EQ(Bits(Call(v)), Bits(Reference(v, g.limit, g.reciprocal)));
  }
}

TEST_P(EngineNeedle, SameResultsWhateverTheHostLeftInTheControlWord) {
  const GaugeCase& g = GetParam();
  // 24-bit precision with upward rounding, as a 3D renderer of the era might leave it; then
  // 64-bit precision with truncation.
  for (uint16_t cw : {uint16_t{0x087F}, uint16_t{0x0F7F}}) {
    module->machine().setFpuControlWord(cw);
    for (double v : Inputs(g)) {
      SCOPED_TRACE(v);
      EXPECT_EQ(Bits(Call(v)), Bits(Reference(v, g.limit, g.reciprocal)));
    }
    EXPECT_EQ(module->machine().fpuControlWord(), cw) << "the host's control word is given back";
  }
}

TEST_P(EngineNeedle, WrapLimitItselfIsNotFolded) {
  const GaugeCase& g = GetParam();
  // Find a variable value whose scaled value is exactly L.
  double v = g.limit / 0.146484375;
  bool found = false;
  for (int step = 0; step < 64 && !found; ++step) {
    if ((v * 0.006103515625) * 24.0 == g.limit) {
      found = true;
      break;
    }
    v = std::nextafter(v, (v * 0.006103515625) * 24.0 < g.limit ? INFINITY : 0.0);
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(Call(v), g.limit);
}

INSTANTIATE_TEST_SUITE_P(Gauges, EngineNeedle, ::testing::ValuesIn(kGauges),
                         [](const auto& info) { return std::string(info.param.deliverable); });

TEST(EngineNeedleValues, ListedExamples) {
  struct Case {
    const char* deliverable;
    double v;
    double expected;
    double tolerance;  // 0: exact
  };
  const Case cases[] = {
      {"manifold_gauge", 1000, 146.484375, 0},
      {"manifold_gauge", 68266, 9999.90234375, 0},
      {"manifold_gauge", 68267, 0.048828125, 1e-9},
      {"manifold_gauge", 102400, 5000.0, 1e-9},
      {"manifold_gauge", 200000, 9296.875, 1e-9},
      {"rpm_gauge", 1000, 146.484375, 0},
      {"rpm_gauge", 23893, 3499.951171875, 0},
      {"rpm_gauge", 35840, 1750.0, 1e-9},
      {"rpm_gauge", 102400, 1000.0, 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.deliverable) + " v=" + std::to_string(c.v));
    auto m = LoadGauge(c.deliverable);
    m->install();
    const uint32_t callback = m->machine().read32(m->elements()[1].address + 4 * layout::needle::updateCallback);
    const double r = m->callUpdateCallback(callback, MakeVariable(*m, c.v));
    if (c.tolerance == 0) {
      EXPECT_EQ(r, c.expected);
    } else {
      EXPECT_NEAR(r, c.expected, c.tolerance);
    }
  }
}

TEST(EngineNeedleValues, EachNeedleFollowsItsOwnEngine) {
  for (const GaugeCase& g : kGauges) {
    SCOPED_TRACE(g.deliverable);
    auto m = LoadGauge(g.deliverable);
    m->simulator().setVariable(g.engine1Variable, 1000);
    m->simulator().setVariable(g.engine1Variable + 0x23, 2000);
    testing_support::Start(*m);
    const auto elements = m->elements();
    ASSERT_EQ(elements.size(), 3u);
    const uint32_t needle2 = elements[1].address, needle1 = elements[2].address;
    EXPECT_EQ(m->shownValue(needle1), 146.484375);
    EXPECT_EQ(m->shownValue(needle2), 292.96875);
    // `value` holds the variable itself, refreshed by the host.
    EXPECT_EQ(m->machine().readDouble(needle1 + 4 * (layout::needle::variable + layout::host_variable::value)), 1000.0);
    m->simulator().setVariable(g.engine1Variable + 0x23, 0);
    m->update();
    EXPECT_EQ(m->shownValue(needle1), 146.484375);
    EXPECT_EQ(m->shownValue(needle2), 0.0);
  }
}

}  // namespace
