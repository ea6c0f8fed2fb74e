// Laying out the chart axes: the time axis of five years of daily bars and
// of two days of one-minute bars on 1200 pixels, the value axis of a price
// pane and two indicator-sized panes (layouts per second in items_per_second).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "charts/alloc.h"
#include "charts/util.h"
#include "charts/yaxis.h"

namespace {

void fixed_size(void*, int32_t small, const char* text, int32_t* w, int32_t* h) {
  *w = (int32_t)strlen(text) * (small ? 5 : 8);
  *h = small ? 8 : 12;
}
int32_t fixed_height(void*, int32_t small) { return small ? 8 : 12; }

struct Chart {
  chart_plot p{};
  chart_axes a{};
  std::vector<ss_time> times;
  std::vector<uint32_t> xpos;

  Chart(std::vector<ss_time> t, int32_t width, int32_t eod) : times(std::move(t)) {
    int32_t n = (int32_t)times.size();
    for (int32_t i = 0; i < n; i++) xpos.push_back((uint32_t)(10 + (2 * i + 1) * width / (2 * n)));
    p.times = times.data();
    p.xpos = xpos.data();
    p.count = n;
    p.first_visible = 0;
    p.last_visible = n - 1;
    p.eod = eod;
    p.eff_period = 2;
    p.eff_count = 1;
    p.plot_x = p.pane_x = 10;
    p.plot_y = p.pane_y = 20;
    p.plot_w = p.pane_w = width;
    p.plot_h = p.pane_h = 600;
    p.axis_y = 622;
    p.axis_h = 20;
    a.fonts = {nullptr, fixed_size, fixed_height};
    a.today = sstime_pack_date(1, 1, 2030);
  }
};

std::vector<ss_time> daily_five_years() {
  std::vector<ss_time> v;
  for (ss_time d = sstime_pack_date(1, 7, 2020); d <= sstime_pack_date(30, 6, 2025); d = sstime_add_days(d, 1))
    if (!sstime_is_weekend(d)) v.push_back(d);
  return v;
}

std::vector<ss_time> minutes_two_days() {
  std::vector<ss_time> v;
  for (int day : {3, 4})
    for (int m = 600; m <= 960; m++) v.push_back(sstime_pack_date(day, 3, 2025) | (ss_time)(m * 60));
  return v;
}

void BM_TimeAxisDailyFiveYears(benchmark::State& state) {
  Chart c(daily_five_years(), 1200, 1);
  for (auto _ : state) benchmark::DoNotOptimize(util_time_labels(&c.p, &c.a));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimeAxisDailyFiveYears);

void BM_TimeAxisMinutesTwoDays(benchmark::State& state) {
  Chart c(minutes_two_days(), 1200, 0);
  for (auto _ : state) benchmark::DoNotOptimize(util_time_labels(&c.p, &c.a));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimeAxisMinutesTwoDays);

void BM_ValueAxisThreePanes(benchmark::State& state) {
  Chart c({sstime_pack_date(3, 3, 2025)}, 1200, 1);
  c.p.value_low = 10.25;
  c.p.value_high = 13.75;
  for (auto _ : state) {
    c.a.value.major.begin(120);
    c.a.value.minor.begin(120);
    c.a.value.labels.begin(2400);
    yaxis_ticks(&c.p, &c.a, 10, 20, 1200, 400, 0, 10.25, 13.75);
    yaxis_ticks(&c.p, &c.a, 10, 430, 1200, 100, 2, 0, 4.2e6);
    yaxis_ticks(&c.p, &c.a, 10, 540, 1200, 80, 1, -3.5, 5.5);
    benchmark::DoNotOptimize(c.a.value.labels.items.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ValueAxisThreePanes);

}  // namespace
