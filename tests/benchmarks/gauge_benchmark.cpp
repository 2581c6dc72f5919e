// Guest instructions per call of the gauges' routines, and bench frames per second.
//
// Counters: "guest_instructions" is the exact number of guest instructions one call executes
// (host traps' own `int`/`ret` included, the bench's call thunk excluded).
#include <benchmark/benchmark.h>

#include "gauges.h"
#include "layout.h"

namespace {

using testing_support::LoadGauge;

void EngineNeedleValueCall(benchmark::State& state, const char* deliverable, double value) {
  auto m = LoadGauge(deliverable);
  m->install();
  const uint32_t callback = m->machine().read32(m->elements()[1].address + 4 * layout::needle::updateCallback);
  const uint32_t variable = testing_support::MakeVariable(*m, value);
  for (auto _ : state) benchmark::DoNotOptimize(m->callUpdateCallback(callback, variable));
  state.counters["guest_instructions"] = static_cast<double>(m->lastInstructions());
}
BENCHMARK_CAPTURE(EngineNeedleValueCall, manifold_in_range, "manifold_gauge", 20000.0);
BENCHMARK_CAPTURE(EngineNeedleValueCall, manifold_folded, "manifold_gauge", 102400.0);
BENCHMARK_CAPTURE(EngineNeedleValueCall, manifold_negative, "manifold_gauge", -5.0);
BENCHMARK_CAPTURE(EngineNeedleValueCall, rpm_folded, "rpm_gauge", 35840.0);

// One host frame: GaugeUpdate then GaugeDraw, with every needle moving.
void UpdateAndDraw(benchmark::State& state, const char* deliverable) {
  auto m = LoadGauge(deliverable);
  testing_support::Start(*m);
  double v = 0;
  uint64_t instructions = 0;
  for (auto _ : state) {
    v = v > 60000 ? 0 : v + 997;
    for (uint32_t id : {0x98u, 0xBBu, 0x88u, 0xABu}) m->simulator().setVariable(id, v);
    const uint64_t before = m->machine().totalInstructions();
    m->update();
    m->draw();
    instructions = m->machine().totalInstructions() - before;
  }
  state.counters["guest_instructions"] = static_cast<double>(instructions);
  state.counters["frames_per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(UpdateAndDraw, manifold_gauge, "manifold_gauge")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(UpdateAndDraw, rpm_gauge, "rpm_gauge")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(UpdateAndDraw, quadrant, "quadrant")->Unit(benchmark::kMicrosecond);

// One drag handler call: throttle (idle line and reverse limit) and propeller lever.
void DragHandlerCall(benchmark::State& state, unsigned child, int32_t y) {
  auto m = LoadGauge("quadrant");
  testing_support::Start(*m);
  std::vector<uint32_t> handlers;
  for (const auto& a : m->mouseAreas())
    if (a.kind == layout::mouse_area::kChild) handlers.push_back(a.handler);
  for (auto _ : state) {
    m->callMouseHandler(handlers[child], 60, y);
    m->simulator().clearEvents();
  }
  state.counters["guest_instructions"] = static_cast<double>(m->lastInstructions());
}
BENCHMARK_CAPTURE(DragHandlerCall, throttle_forward, 0, 20);
BENCHMARK_CAPTURE(DragHandlerCall, throttle_reverse_limit, 0, 68);
BENCHMARK_CAPTURE(DragHandlerCall, propeller, 2, 17);

// One autopilot click that sends its KeyEvent.
void AutopilotClick(benchmark::State& state) {
  auto m = LoadGauge("ap_switch");
  testing_support::Start(*m);
  const uint32_t up = m->mouseAreas()[2].handler;
  for (auto _ : state) {
    m->callMouseHandler(up, 10, 10);
    m->simulator().clearEvents();
  }
  state.counters["guest_instructions"] = static_cast<double>(m->lastInstructions());
}
BENCHMARK(AutopilotClick);

}  // namespace

BENCHMARK_MAIN();
