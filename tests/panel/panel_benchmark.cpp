// Frames per second of the sample panel, as a live view would make them: every gauge changes
// each frame (engine needles, marker lamps, autopilot switch and the six levers through their
// variables; cowl flaps, feather buttons and the HI/LO lever through clicks), then GaugeUpdate of
// all eleven, the window is drawn and encoded as PNG. One thread.
#include <benchmark/benchmark.h>

#include <vector>

#include "panel/panel.h"
#include "panel/picture.h"

namespace {

// A press and release at a gauge's own pixel (gx, gy).
void Click(panel::Panel& p, const panel::Placement& g, int gx, int gy) {
  const render::Image& f = g.module->frame();
  const int x = g.x + (2 * gx + 1) * g.w / (2 * f.width), y = g.y + (2 * gy + 1) * g.h / (2 * f.height);
  p.press(0, x, y);
  p.release(0, x, y);
}

const panel::Placement& Find(panel::Panel& p, const char* deliverable) {
  for (const auto& g : p.windows()[0].gauges)
    if (g.module && g.module->deliverable() == deliverable) return g;
  throw std::runtime_error(std::string("the sample panel has no ") + deliverable);
}

template <typename Encode>
void PanelFrame(benchmark::State& state, Encode encode) {
  auto p = panel::Panel::Load(SAMPLE_PANEL, GAUGE_DIR);
  if (!p->warnings().empty()) {
    state.SkipWithError(p->warnings()[0].text().c_str());
    return;
  }
  host::Simulator& s = p->simulator();
  const auto& cowl = Find(*p, "cowl_flaps");
  const auto& featherA = Find(*p, "prop_feather_a");
  const auto& featherB = Find(*p, "prop_feather_b");
  const auto& markerA = Find(*p, "marker_lights_a");
  int64_t frame = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    const double t = static_cast<double>(frame % 64) / 64.0;  // 0 .. 1, then again
    for (uint32_t id : {0x98u, 0xBBu}) s.setVariable(id, 8000 + 60000 * t + (id == 0xBB ? 900 : 0));
    for (uint32_t id : {0x88u, 0xABu}) s.setVariable(id, 4000 + 20000 * t + (id == 0xAB ? 500 : 0));
    s.setVariable(0x162, static_cast<double>(frame % 4));
    s.setVariable(0x67, static_cast<double>(frame % 2));
    for (uint32_t id : {0x80u, 0xA3u}) s.setVariable(id, -4096 + 20480 * t);
    for (uint32_t id : {0x81u, 0xA4u, 0x82u, 0xA5u}) s.setVariable(id, 16384 * (1 - t));
    const bool odd = frame % 2 != 0;
    Click(*p, cowl, odd ? 100 : 10, 100);            // left lever OPEN / CLOSE
    Click(*p, cowl, odd ? 280 : 190, 100);           // right lever likewise
    Click(*p, featherA, 20, odd ? 10 : 40);          // out / in
    Click(*p, featherB, 20, odd ? 40 : 10);
    Click(*p, markerA, odd ? 80 : 130, 170);         // HI / LO
    s.clearEvents();
    p->update();
    const render::Image image = p->draw(0);
    bytes = encode(image).size();
    benchmark::DoNotOptimize(bytes);
    ++frame;
  }
  state.counters["frames_per_second"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["png_bytes"] = static_cast<double>(bytes);
}

// Everything but the PNG: what the gauges and the compositing cost.
void PanelFrameUnencoded(benchmark::State& state) {
  PanelFrame(state, [](const render::Image& image) { return std::vector<uint8_t>(1, static_cast<uint8_t>(image.width)); });
}

void PanelFramePng(benchmark::State& state) { PanelFrame(state, render::encodePng); }

BENCHMARK(PanelFramePng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PanelFrameUnencoded)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
