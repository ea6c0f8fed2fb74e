// Technical-analysis computations: every overlay and indicator of the
// registry with its default parameters over a seeded random walk of bars,
// one benchmark each (bars per second in items_per_second), and all of them
// together over a chart-sized series. The reference libraries' speed on the
// same sizes comes from scripts/ta_reference/bench.js.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_series.h"

namespace {

struct BenchPlot {
  chart_plot p{};
  explicit BenchPlot(int32_t n) { fill_walk(&p, n); }
  ~BenchPlot() {
    alloc_clear_overlays(&p);
    alloc_clear_indicators(&p);
    alloc_free_values(&p);
  }
};

constexpr int32_t kBars = 1048576;

void BM_Ta(benchmark::State& state, int overlay, int32_t id) {
  BenchPlot plot(kBars);
  chart_ta* ta = overlay ? alloc_add_overlay(&plot.p, id) : alloc_add_indicator(&plot.p, id);
  const ta_def* def = overlay ? ta_overlay_def(id) : ta_indicator_def(id);
  for (auto _ : state) {
    def->compute(&plot.p, ta);
    benchmark::DoNotOptimize(ta->lines[0][kBars - 1]);
  }
  state.SetItemsProcessed(state.iterations() * kBars);
}

// Every overlay and indicator a chart carries, over 10,000 samples.
void BM_TaComputeAll(benchmark::State& state) {
  int32_t n = (int32_t)state.range(0);
  BenchPlot plot(n);
  for (int32_t id = 0; id < kTaOverlaySlots; id++)
    if (ta_overlay_def(id)) alloc_add_overlay(&plot.p, id);
  for (int32_t id = 0; id < kTaIndicatorSlots; id++)
    if (ta_indicator_def(id)) alloc_add_indicator(&plot.p, id);
  for (auto _ : state) benchmark::DoNotOptimize(ta_compute_all(&plot.p));
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_TaComputeAll)->Arg(10000);

// One benchmark per defined id, named "overlay/<id> <short name>".
int register_all() {
  charts_bench_start();
  for (int overlay = 1; overlay >= 0; overlay--) {
    int32_t slots = overlay ? kTaOverlaySlots : kTaIndicatorSlots;
    for (int32_t id = 0; id < slots; id++) {
      const ta_def* def = overlay ? ta_overlay_def(id) : ta_indicator_def(id);
      if (!def) continue;
      std::string name =
          std::string(overlay ? "BM_Overlay/" : "BM_Indicator/") + std::to_string(id) + " " + def->short_name;
      benchmark::RegisterBenchmark(name.c_str(), BM_Ta, overlay, id)->Unit(benchmark::kMillisecond);
    }
  }
  return 0;
}
const int registered = register_all();

}  // namespace
