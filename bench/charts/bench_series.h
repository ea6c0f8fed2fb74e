// Shared by the chart benchmarks: the runtime, the pools and the registry
// started once, and a seeded random walk of bars filled into a plot.
#pragma once
#include <algorithm>
#include <random>

#include "../bench_support.h"
#include "charts/alloc.h"
#include "charts/ta.h"

static inline void charts_bench_start() {
  runtime_once();
  alloc_init();
  ta_init();
}

// n bars of a walk from 1000 with wicks and volumes; change as the fills give it.
static inline void fill_walk(chart_plot* p, int32_t n) {
  charts_bench_start();
  alloc_chart_values(p, n);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> step(-4, 4), wick(0, 3), vol(1000, 50000);
  double last = 1000;
  for (int32_t i = 0; i < n; i++) {
    double open = last, close = std::max(10.0, open + step(rng));
    p->times[i] = (ss_time)i;
    p->open[i] = open;
    p->close[i] = close;
    p->high[i] = std::max(open, close) + wick(rng);
    p->low[i] = std::min(open, close) - wick(rng);
    p->volume[i] = vol(rng);
    p->change[i] = i ? close - last : 0;
    last = close;
  }
  p->count = n;
  p->first_visible = 0;
  p->last_visible = n - 1;
}
