// Chart data throughput: filling, bucketing and placing 200,000 trades over
// five days, and 5,000 daily bars (samples per second in items_per_second).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "bench_series.h"
#include "charts/align.h"
#include "charts/period.h"
#include "ssevent.h"

namespace {

struct Market {
  ss_stock stock{};
  std::vector<ss_day> days;
  std::vector<ss_trade> trades;
  ss_stock_history* history = nullptr;

  Market(int32_t trades_per_day, int32_t day_count, int32_t history_bars) {
    charts_bench_start();
    static ss_exchange ex{};
    ex.index = 2;
    ex.date = sstime_pack_date(14, 3, 2025);
    stock.kind = 1;
    stock.exchange = &ex;
    std::mt19937 rng(11);
    days.resize(day_count - 1);
    trades.resize((size_t)trades_per_day * day_count);
    uint32_t price = 100000;
    size_t t = 0;
    for (int32_t d = 0; d < day_count; d++) {
      ss_time date = sstime_pack_date(10 + d, 3, 2025);
      size_t first = t;
      for (int32_t i = 0; i < trades_per_day; i++, t++) {
        price = (uint32_t)std::max<int64_t>(1000, (int64_t)price + (int64_t)(rng() % 21) - 10);
        trades[t] = {};
        trades[t].time = date + 36000 + (ss_time)((int64_t)i * 21600 / trades_per_day);
        trades[t].price = price;
        trades[t].volume = 1 + rng() % 1000;
        trades[t].bits = kTradeSetsLast | kTradeVolume;
      }
      for (size_t k = first; k < t; k++) {
        trades[k].prev = k > first ? &trades[k - 1] : nullptr;
        trades[k].next = k + 1 < t ? &trades[k + 1] : nullptr;
      }
      ss_list<ss_trade> list{(uint32_t)(t - first), &trades[first], &trades[t - 1]};
      if (d < day_count - 1) {
        days[d].date = date;
        days[d].trades = list;
      } else {
        stock.trades = list;
      }
    }
    for (size_t d = 0; d < days.size(); d++) {
      days[d].prev = d ? &days[d - 1] : nullptr;
      days[d].next = d + 1 < days.size() ? &days[d + 1] : nullptr;
    }
    stock.days = {(uint32_t)days.size(), days.empty() ? nullptr : &days.front(), days.empty() ? nullptr : &days.back()};
    history = (ss_stock_history*)calloc(1, sizeof(ss_stock_history) + history_bars * sizeof(ss_stock_point));
    history->count = history->capacity = (uint32_t)history_bars;
    ss_time date = sstime_pack_date(1, 1, 2005);
    for (int32_t i = 0; i < history_bars; i++) {
      uint32_t p = 10000 + (uint32_t)(rng() % 5000);
      history->points[i] = {date, p, p + 50, p - 50, p + 10, 10, 1000};
      date = sstime_add_days(date, 1);
    }
    stock.history = history;
  }
  ~Market() { free(history); }
};

void setup_plot(chart_plot* p) {
  p->range = 9;
  p->pane_w = 1000;
  p->pane_h = 400;
  p->plot_w = 1000;
  p->type = 4;
}

void BM_IntradayFillBucketPlace(benchmark::State& state) {
  Market m(40000, 5, 0);
  chart_plot p{};
  setup_plot(&p);
  p.period = kPeriodMinutes;
  p.period_count = 5;
  for (auto _ : state) {
    alloc_chart_values(&p, 200000);
    chart_fill_ticks(&p, &m.stock);
    period_bucket(&p);
    p.first_visible = p.last_visible = 0;
    align_time_axis(&p);
    benchmark::DoNotOptimize(p.xpos[p.count - 1]);
  }
  state.SetItemsProcessed(state.iterations() * 200000);
  alloc_free_values(&p);
}
BENCHMARK(BM_IntradayFillBucketPlace)->Unit(benchmark::kMillisecond);

void BM_DailyFillBucketPlace(benchmark::State& state) {
  Market m(1, 1, 5000);
  chart_plot p{};
  setup_plot(&p);
  p.eod = 1;
  p.period = kPeriodWeeks;
  for (auto _ : state) {
    alloc_chart_values(&p, 5000);
    chart_fill_bars(&p, &m.stock);
    period_bucket(&p);
    p.first_visible = p.last_visible = 0;
    align_time_axis(&p);
    benchmark::DoNotOptimize(p.xpos[p.count - 1]);
  }
  state.SetItemsProcessed(state.iterations() * 5000);
  alloc_free_values(&p);
}
BENCHMARK(BM_DailyFillBucketPlace)->Unit(benchmark::kMicrosecond);

}  // namespace
