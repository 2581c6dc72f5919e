// The cost of a warm click in every clicking gauge: the sound player alone (PlayWaveResource
// with the buffer cached) and a whole press of the gauge's first mouse area.
//
// Counters (exact and repeatable): guest_instructions per call (host traps' own int/ret
// included, the bench's call thunk excluded), directsound_calls and resource_calls per call.
// Run: build/tests/sound/sound_benchmarks
#include <benchmark/benchmark.h>

#include "layout.h"
#include "sound_support.h"

namespace {

using namespace sound_test;

struct PerCall {
  uint64_t directSound = 0, resource = 0;
};

PerCall CountSince(const Player& p, size_t mark) {
  PerCall n;
  for (const win32::ApiCall& c : p.LogSince(mark)) {
    n.directSound += IsDirectSoundCall(c.name);
    n.resource += IsResourceCall(c.name);
  }
  return n;
}

void Report(benchmark::State& state, uint64_t instructions, PerCall n) {
  state.counters["guest_instructions"] = static_cast<double>(instructions);
  state.counters["directsound_calls"] = static_cast<double>(n.directSound);
  state.counters["resource_calls"] = static_cast<double>(n.resource);
}

void WarmPlayWaveResource(benchmark::State& state, ClickingGauge g) {
  Player p(g.deliverable);
  if (p.Play(g.resourceId) != 0) return state.SkipWithError("the first click did not play");
  uint64_t instructions = 0;
  PerCall n;
  for (auto _ : state) {
    const size_t mark = p.Log().size();
    benchmark::DoNotOptimize(p.Play(g.resourceId));
    instructions = p.instructions;
    n = CountSince(p, mark);
    p.Platform().apiLog.clear();
    p.m->simulator().clearEvents();
  }
  Report(state, instructions, n);
}

void WarmClick(benchmark::State& state, ClickingGauge g) {
  Player p(g.deliverable);
  testing_support::Start(*p.m);
  const host::MouseAreaView* area = nullptr;
  for (const host::MouseAreaView& a : p.m->mouseAreas())
    if (a.kind == layout::mouse_area::kChild && area == nullptr) area = &a;
  if (area == nullptr) return state.SkipWithError("no mouse area");
  const int32_t x = area->x + area->width / 2, y = area->y + area->height / 2;
  p.m->press(x, y);  // the first click makes the device and the buffer (and may move a lever)
  p.m->release(x, y);
  uint64_t instructions = 0;
  PerCall n;
  for (auto _ : state) {
    const size_t mark = p.Log().size();
    p.m->press(x, y);
    p.m->release(x, y);
    instructions = p.m->lastInstructions();
    n = CountSince(p, mark);
    p.Platform().apiLog.clear();
    p.m->simulator().clearEvents();
  }
  Report(state, instructions, n);
}

void Register() {
  for (const ClickingGauge& g : kClickingGauges) {
    benchmark::RegisterBenchmark((std::string("WarmPlayWaveResource/") + g.deliverable).c_str(), WarmPlayWaveResource, g)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("WarmClick/") + g.deliverable).c_str(), WarmClick, g)
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
