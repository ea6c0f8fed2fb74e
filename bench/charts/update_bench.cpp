// Chart update: a full update of 5,000 daily bars with four overlays and
// three indicators; of 200,000 trades over five days in one-minute bars; a
// live refresh (the tick that picks the chart and the update it causes); and,
// as the reference in the same run, the bare fills of the same data, so the
// ratio shows what the passes after the fill cost.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "charts/align.h"
#include "charts/alloc.h"
#include "charts/axislist.h"
#include "charts/period.h"
#include "charts/ta.h"
#include "charts/update.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"

namespace {

constexpr int kDailyBars = 5000;
constexpr int kDays = 5;
constexpr int kTradesPerDay = 40000;

void fixed_size(void*, int32_t small, const char* text, int32_t* w, int32_t* h) {
  *w = (int32_t)strlen(text) * (small ? 5 : 8);
  *h = small ? 8 : 12;
}
int32_t fixed_height(void*, int32_t small) { return small ? 8 : 12; }

ss_time g_now;
float g_ui;
ss_time exchange_now(const ss_exchange*) { return g_now; }
float ui_now(void) { return g_ui; }
int shown(chart_plot*) { return 1; }

struct World {
  ss_stock* daily = nullptr;
  ss_stock* intraday = nullptr;
  std::vector<std::vector<ss_trade>> trades;  // owned here, linked into the day records
  chart_axes axes{};

  World() {
    dalloc_init();
    plat_init();
    log_init();
    log_set_stderr(0);
    ssclient_init(0, 12, 0x112);
    alloc_init();
    ta_init();
    ss_exchange* asx = ssmodel_exchange(kExchangeAsx);
    ss_time today = sstime_pack_date(7, 3, 2025);  // a Friday
    ssmodel_set_date(asx, today);
    g_now = today | (ss_time)(14 * 3600);
    update_hooks h{};
    h.exchange_now = exchange_now;
    h.now_seconds = ui_now;
    h.shown = shown;
    update_set_hooks(&h);
    axes.fonts = {nullptr, fixed_size, fixed_height};

    daily = ssmodel_add_stock(asx, "DLY");
    daily->flags |= kRqAllRequested | kRqHistoryLoaded | kRqEventsLoaded;
    ssmodel_reserve_history(daily, kDailyBars);
    std::vector<ss_time> dates;
    for (ss_time d = sstime_sub_days(today, 1); (int)dates.size() < kDailyBars; d = sstime_sub_days(d, 1))
      if (!sstime_is_weekend(d)) dates.push_back(d);
    uint32_t price = 500000;
    for (int i = 0; i < kDailyBars; i++) {
      price = (uint32_t)((int64_t)price + ((i * 7919) % 2001) - 1000);
      daily->history->points[i] = {dates[kDailyBars - 1 - i], price - 300, price + 900, price - 800, price, 0,
                                   (uint64_t)(100000 + i % 977 * 13)};
    }
    daily->history->count = kDailyBars;

    intraday = ssmodel_add_stock(asx, "TRD");
    intraday->flags |= kRqAllRequested | kRqEventsLoaded | kRqTradesLoaded;
    trades.resize(kDays);
    int k = 0;
    for (ss_time d = sstime_sub_days(today, 1); k < kDays; d = sstime_sub_days(d, 1)) {
      if (sstime_is_weekend(d)) continue;
      ss_day* day = ssevent_get_day(intraday, d);
      day->flags |= kRqTrades | kRqTradesLoaded | kRqEventsLoaded;
      std::vector<ss_trade>& v = trades[k++];
      v.resize(kTradesPerDay);
      for (int i = 0; i < kTradesPerDay; i++) {
        v[i] = {};
        v[i].time = d | (ss_time)(36000 + i * 21600 / kTradesPerDay);
        v[i].price = 400000 + (uint32_t)(((int64_t)i * 104729) % 5000);
        v[i].volume = 100 + (uint64_t)(i % 50);
        v[i].prev = i ? &v[i - 1] : nullptr;
        v[i].next = i + 1 < kTradesPerDay ? &v[i + 1] : nullptr;
      }
      day->trades.count = kTradesPerDay;
      day->trades.head = &v.front();
      day->trades.tail = &v.back();
    }
    // The month before is asked for once; the walk marks those days.
    for (ss_time d = sstime_add_months(today, -1); sstime_date_compare(d, today) < 0; d = sstime_add_days(d, 1))
      ssevent_get_day(intraday, d)->flags |= kRqTrades | kRqTradesLoaded | kRqEventsLoaded;
  }

  void daily_chart(chart_plot* p) {
    p->main = daily;
    p->range = kRangeAll;
    p->range_count = 1;
    p->period = p->eff_period = kPeriodDays;
    p->period_count = p->eff_count = 1;
    p->from_type = p->mid_type = -1;
    p->to_type = kSpanFallback;
    p->type = 4;
    p->options = 0x3;
    p->chart_w = 1200;
    p->chart_h = 800;
    for (int32_t t : {2, 3, 4, 9}) alloc_add_overlay(p, t);
    for (int32_t t : {2, 15, 1}) alloc_add_indicator(p, t);
  }

  void intraday_chart(chart_plot* p) {
    p->main = intraday;
    p->range = kRangeDays;
    p->range_count = kDays + 2;
    p->period = p->eff_period = kPeriodMinutes;
    p->period_count = p->eff_count = 1;
    p->from_type = p->mid_type = -1;
    p->to_type = kSpanNow;
    p->type = 4;
    p->options = 0x3 | kChartOptDayClamp;
    p->chart_w = 1200;
    p->chart_h = 800;
    alloc_add_overlay(p, 9);
  }
};

World& world() {
  static World w;
  return w;
}

void free_plot(chart_plot* p) {
  alloc_clear_overlays(p);
  alloc_clear_indicators(p);
  alloc_free_values(p);
}

void BM_UpdateDaily5000(benchmark::State& state) {
  World& w = world();
  chart_plot p{};
  w.daily_chart(&p);
  for (auto _ : state) {
    p.dirty = kChartDirtyAll;
    benchmark::DoNotOptimize(chart_update(&p, &w.axes));
  }
  state.counters["samples"] = p.count;
  free_plot(&p);
}
BENCHMARK(BM_UpdateDaily5000)->Unit(benchmark::kMicrosecond);

void BM_FillDaily5000(benchmark::State& state) {
  World& w = world();
  chart_plot p{};
  w.daily_chart(&p);
  alloc_chart_values(&p, kDailyBars + 2);
  for (auto _ : state) chart_fill_bars(&p, w.daily);
  free_plot(&p);
}
BENCHMARK(BM_FillDaily5000)->Unit(benchmark::kMicrosecond);

void BM_UpdateTrades200k(benchmark::State& state) {
  World& w = world();
  chart_plot p{};
  w.intraday_chart(&p);
  for (auto _ : state) {
    p.dirty = kChartDirtyAll;
    benchmark::DoNotOptimize(chart_update(&p, &w.axes));
  }
  state.counters["samples"] = p.count;
  free_plot(&p);
}
BENCHMARK(BM_UpdateTrades200k)->Unit(benchmark::kMicrosecond);

void BM_FillTrades200k(benchmark::State& state) {
  World& w = world();
  chart_plot p{};
  w.intraday_chart(&p);
  alloc_chart_values(&p, kDays * kTradesPerDay + 2);
  for (auto _ : state) chart_fill_ticks(&p, w.intraday);
  free_plot(&p);
}
BENCHMARK(BM_FillTrades200k)->Unit(benchmark::kMicrosecond);

// One live refresh: the tick marks the chart (the clock moved), then the
// redraw's update runs.
void BM_LiveRefresh(benchmark::State& state) {
  World& w = world();
  chart_plot p{};
  w.intraday_chart(&p);
  chart_update(&p, &w.axes);  // joins the live list
  int64_t refreshed = 0;
  for (auto _ : state) {
    g_ui += 2;
    g_now = sstime_add_seconds(g_now, 60);
    if ((g_now & kSstimeSecondsMask) > 15 * 3600) g_now = (g_now & ~kSstimeSecondsMask) | (ss_time)(11 * 3600);
    update_live_tick(nullptr, 0, 0, 0);
    if (p.dirty & kChartDirtyClock) refreshed++;
    chart_update(&p, &w.axes);
  }
  state.counters["refreshed"] = benchmark::Counter((double)refreshed / (double)state.iterations());
  update_live_remove(&p);
  free_plot(&p);
}
BENCHMARK(BM_LiveRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace
