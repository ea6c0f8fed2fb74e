// Chart update: spans by range kind, the requests the client receives (read
// back from its real request ring) once per instrument, the value ranges,
// the pane layout, both scales against the unscaled fill, and the live list's
// tick with a test clock.
#include "charts/update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "axis_fixture.h"
#include "chart_fixture.h"
#include "charts/align.h"
#include "charts/period.h"
#include "charts/ta.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testclient.h"
#include "update_fixture.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

// The test clocks: the exchange's "now" and the UI seconds.
ss_time g_exchange_now = 0;
float g_ui_now = 0;
std::set<chart_plot*> g_shown;
std::vector<std::pair<chart_plot*, float>> g_redraws;
std::vector<std::pair<chart_plot*, int>> g_eods;

ss_time exchange_now(const ss_exchange*) { return g_exchange_now; }
float ui_now(void) { return g_ui_now; }
int shown(chart_plot* c) { return g_shown.count(c) ? 1 : 0; }
void redraw(chart_plot* c) { g_redraws.push_back({c, g_ui_now}); }
int panel(chart_plot*) { return 1; }
void set_eod(chart_plot* c, int eod) { g_eods.push_back({c, eod}); }

ss_time day(int y, int m, int d) { return sstime_pack_date(d, m, y); }
ss_time at(int y, int m, int d, int h, int mi, int s = 0) { return sstime_pack(s, mi, h, d, m, y); }

struct Req {
  uint32_t kind;
  uint64_t a, b;
  bool operator==(const Req& o) const { return kind == o.kind && a == o.a && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Req& r) {
  return os << "{" << r.kind << " " << sstime_format_date(r.a) << " " << sstime_format_date(r.b) << "}";
}

class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_set_sleep_hook(no_sleep);
    asx = ssmodel_exchange(kExchangeAsx);
    glb = ssmodel_exchange(kExchangeGlb);
    ssmodel_set_date(asx, day(2014, 3, 12));  // a Wednesday
    ssmodel_set_date(glb, day(2014, 3, 12));
    stock = ssmodel_add_stock(asx, "BHP");
    index = ssmodel_add_index(asx, "XJO");
    glb_index = ssmodel_add_index(glb, "DJI");
    issuer = ssmodel_get_issuer(asx, "BHP");
    g_exchange_now = at(2014, 3, 12, 14, 30);
    g_ui_now = 100;
    g_shown.clear();
    g_redraws.clear();
    g_eods.clear();
    update_hooks h{};
    h.exchange_now = exchange_now;
    h.now_seconds = ui_now;
    h.shown = shown;
    h.redraw = redraw;
    update_set_hooks(&h);
    update_live_init();
    axes = fixed_axes();
  }
  void TearDown() override {
    update_live_stop();
    update_set_hooks(nullptr);
    ssclient_fini();
  }

  // Takes every queued request off the ring, as the io thread would.
  std::vector<Req> drain() {
    std::vector<Req> out;
    uint32_t tail, head;
    ssclient_ring_span(&tail, &head);
    for (uint32_t i = tail; i != head; i = (i + 1) % kRequestRingSlots) {
      const ss_request* r = ssclient_ring_slot(i);
      out.push_back({r->kind, r->a, r->b});
    }
    ssclient_ring_consume(head);
    return out;
  }

  void setup(TestPlot& p, instr* in, int32_t range, int32_t count, int32_t period) {
    chart_settings(p.get(), in, range, count, period, kSpanNow);
  }

  // Daily history of n points from `first`, one a calendar day apart.
  void history(ss_stock* s, int n, ss_time first, double base = 1000) {
    ssmodel_free_history(s);
    ASSERT_EQ(0, ssmodel_reserve_history(s, (uint32_t)n));
    for (int i = 0; i < n; i++) {
      uint32_t c = (uint32_t)(base + 10 * i + (i % 3) * 7);
      s->history->points[i] = {sstime_add_days(first, i), c - 5, c + 20, c - 15, c, 10, (uint64_t)(100 + i)};
    }
    s->history->count = (uint32_t)n;
  }

  ss_exchange* asx = nullptr;
  ss_exchange* glb = nullptr;
  ss_stock* stock = nullptr;
  ss_index* index = nullptr;
  ss_index* glb_index = nullptr;
  ss_issuer* issuer = nullptr;
  chart_axes axes{};
};

TEST_F(Update, SpanInDaysByRangeKind) {
  struct Case {
    int32_t range, count, period;
    int history;  // points a day apart... or -1: 10 points over 14 days
    int32_t days;
  } cases[] = {
      {2, 3600, 2, 0, 0},     {2, 86400, 2, 0, 1}, {3, 1440, 2, 0, 1},  {3, 2879, 2, 0, 1},
      {4, 48, 2, 0, 2},       {5, 3, 5, 0, 3},     {6, 2, 5, 0, 60},    {7, 1, 5, 0, 364},
      {8, 1, 5, 0, 71},       {9, 1, 5, 0, 999},   {9, 1, 0, 1, 1},     {9, 1, 5, -1, 10},
      {1, 1, 2, 0, 30},       {1, 1, 4, 0, 30},    {1, 1, 5, 0, 999},   {10, 1, 2, 0, 1},
      {0, 1, 5, 0, -1},       {12, 1, 5, 0, -1},
  };
  for (const Case& c : cases) {
    TestPlot p;
    setup(p, stock, c.range, c.count, c.period);
    ssmodel_free_history(stock);
    if (c.history > 0) history(stock, c.history, day(2014, 3, 1));
    if (c.history < 0) {
      // Ten trading days over two calendar weeks: Mon 3 Mar .. Mon 17 Mar.
      const int mday[10] = {3, 4, 5, 6, 7, 10, 11, 12, 13, 17};
      history(stock, 10, day(2014, 3, 3));
      for (int i = 0; i < 10; i++) stock->history->points[i].date = day(2014, 3, mday[i]);
    }
    EXPECT_EQ(c.days, update_span_days(p.get())) << c.range << "/" << c.count << " period " << c.period;
  }
  ssmodel_free_history(stock);
  // From-to: both dates counted; without a from date 0 days and a warning.
  TestPlot p;
  setup(p, stock, kRangeFromTo, 1, 5);
  p->from = at(2014, 3, 1, 10, 0);
  p->to = at(2014, 3, 10, 16, 0);
  EXPECT_EQ(10, update_span_days(p.get()));
  p->to = 0;  // to the exchange's date
  EXPECT_EQ(12, update_span_days(p.get()));
  p->from = 0;
  p->to = at(2014, 3, 10, 16, 0);
  LogCapture log;
  EXPECT_EQ(0, update_span_days(p.get()));
  EXPECT_TRUE(log.has("spec range has no from date (to="));
}

TEST_F(Update, EndOfDayFlagFollowsPeriodAndSpan) {
  struct Case {
    int32_t range, count, period;
    int eod;
  } cases[] = {
      {9, 1, 0, 1},  // all, no history yet: 999 days
      {9, 1, 9, 1}, {5, 30, 0, 0}, {5, 31, 0, 1}, {5, 400, 2, 0}, {2, 60, 5, 1}, {6, 1, 4, 0},
  };
  for (const Case& c : cases) {
    TestPlot p;
    setup(p, stock, c.range, c.count, c.period);
    update_hooks h{};
    h.exchange_now = exchange_now;
    h.has_panel = panel;
    h.set_eod = set_eod;
    update_set_hooks(&h);
    g_eods.clear();
    chart_update(p.get(), &axes);
    EXPECT_EQ(c.eod, p->eod) << c.range << "/" << c.count << " period " << c.period;
    EXPECT_EQ(c.eod ? 1u : 0u, g_eods.size());
    drain();
  }
}

TEST_F(Update, RequestsOncePerInstrument) {
  ss_time first_walk = day(2014, 2, 12);  // the client goes a month back at most
  ss_time mar10 = day(2014, 3, 10), mar11 = day(2014, 3, 11);
  struct Case {
    const char* name;
    int in;  // 0 stock, 1 index, 2 global index
    int32_t range, count, period;
    uint32_t options;
    int32_t to_type;
    int news;
    std::vector<Req> expected;
  } cases[] = {
      {"daily stock", 0, 9, 1, 5, 0, 5, 0, {{kReqStockHistory, 0, 0}}},
      {"daily stock with news", 0, 9, 1, 5, 0, 5, 1, {{kReqStockHistory, 0, 0}, {kReqNewsHistory, 0, 0}}},
      {"daily index", 1, 7, 1, 5, 0, 5, 0, {{kReqIndexHistory, 0, 0}}},
      {"stock, hours", 0, 4, 3, 2, 0, 5, 0, {{kReqEvents, 0, 0}}},
      {"stock, 3 days of bars", 0, 5, 3, 2, 0, 5, 0, {{kReqEvents, 0, 0}, {kReqPrevdayTrades, mar10, mar11}}},
      {"stock, 3 days of trades", 0, 5, 3, 1, 0, 5, 0, {{kReqEvents, 0, 0}, {kReqDaysTrades, mar10, mar11}}},
      {"stock, automatic period", 0, 5, 3, 1, kChartOptAutoPeriod, 5, 0,
       {{kReqEvents, 0, 0}, {kReqPrevdayTrades, mar10, mar11}}},
      {"stock, 2 days in minutes", 0, 3, 2880, 2, 0, 5, 0, {{kReqEvents, 0, 0}, {kReqPrevdayTrades, mar10, mar11}}},
      {"stock, end not now", 0, 5, 3, 2, 0, 6, 0, {{kReqEvents, 0, 0}, {kReqPrevdayTrades, first_walk, mar11}}},
      {"index, one day", 1, 4, 5, 2, 0, 5, 0, {{kReqIndexEvents, 0, 0}}},
      {"global index, 3 days", 2, 5, 3, 2, 0, 5, 0, {}},  // the client loads no global index
  };
  for (const Case& c : cases) {
    ssclient_clear_requested();
    for (instr* in : {(instr*)stock, (instr*)index, (instr*)glb_index})
      ssevent_remove_days(in);
    TestPlot p;
    instr* in = c.in == 0 ? (instr*)stock : c.in == 1 ? (instr*)index : (instr*)glb_index;
    setup(p, in, c.range, c.count, c.period);
    p->options |= c.options;
    p->to_type = c.to_type;
    p->news = c.news;
    p->issuer = issuer;
    ASSERT_EQ(0, chart_update(p.get(), &axes)) << c.name;
    EXPECT_EQ(c.expected, drain()) << c.name;
    // The next update (still without data) asks for nothing again.
    p->dirty |= kChartDirtyAll;
    chart_update(p.get(), &axes);
    EXPECT_EQ(std::vector<Req>{}, drain()) << c.name;
  }
}

TEST_F(Update, DaysAskedForAndNotInAreAskedForAgain) {
  TestPlot p;
  setup(p, stock, kRangeDays, 3, kPeriodSeconds);
  ASSERT_EQ(0, chart_update(p.get(), &axes));
  EXPECT_EQ((std::vector<Req>{{kReqEvents, 0, 0}, {kReqDaysTrades, day(2014, 3, 10), day(2014, 3, 11)}}), drain());
  {
    LogCapture log;
    p->dirty |= kChartDirtyReload;
    chart_update(p.get(), &axes);
    EXPECT_TRUE(log.has("rerequesting BHP"));
    EXPECT_EQ(std::vector<Req>{}, drain());  // still on its way: the client asks once
  }
  // Once the days are in, the fill is complete.
  for (ss_day* d = stock->days.head; d; d = d->next) d->flags |= kRqTradesLoaded;
  LogCapture log;
  p->dirty |= kChartDirtyReload;
  chart_update(p.get(), &axes);
  EXPECT_FALSE(log.has("rerequesting"));
  EXPECT_EQ(std::vector<Req>{}, drain());
}

TEST_F(Update, IndexDaysAreCappedAndAskedOnce) {
  struct Case {
    int32_t count;
    size_t days;
  } cases[] = {{3, 3}, {20, 20}, {400, (size_t)kChartMaxDays}};
  for (const Case& c : cases) {
    ssclient_clear_requested();
    ssevent_remove_days(index);
    TestPlot p;
    setup(p, index, kRangeDays, c.count, kPeriodMinutes);
    ASSERT_EQ(0, chart_update(p.get(), &axes));
    // The previous days, newest first; the client skips weekends (their
    // records are born loaded).
    std::vector<Req> want{{kReqIndexEvents, 0, 0}};
    for (int32_t k = 1; k <= (int32_t)c.days; k++) {
      ss_time d = sstime_sub_days(day(2014, 3, 12), k);
      if (!sstime_is_weekend(d)) want.push_back({kReqIndexDay, d, 0});
    }
    EXPECT_EQ(want, drain()) << c.count;
    EXPECT_EQ((int32_t)c.days, (int32_t)index->days.count) << c.count;
    ssclient_clear_requested();  // even with the marks gone (a new link)
    p->dirty |= kChartDirtyAll;
    chart_update(p.get(), &axes);
    EXPECT_EQ((std::vector<Req>{{kReqIndexEvents, 0, 0}}), drain());  // only today's events again
  }
}

TEST_F(Update, DailyChartEqualsItsHistory) {
  history(stock, 40, day(2014, 1, 20));
  TestPlot p;
  setup(p, stock, kRangeAll, 1, kPeriodDays);
  ASSERT_EQ(0, chart_update(p.get(), &axes));
  ASSERT_EQ(40, p->count);
  for (int i = 0; i < 40; i++) {
    EXPECT_EQ(stock->history->points[i].date, p->times[i]);
    EXPECT_DOUBLE_EQ(stock->history->points[i].close * 0.01, p->close[i]);
  }
  EXPECT_EQ(0u, p->dirty);
  EXPECT_EQ(1, p->changed);
  EXPECT_LE(p->value_low, 9.85);
  EXPECT_GE(p->value_high, 14.14);
}

TEST_F(Update, MainRangeOfAFlatSeries) {
  struct Case {
    double v, lo, hi;
  } cases[] = {{5, 5, 6}, {50, 50, 60}, {500, 500, 600}, {0, 0, 1}, {10, 10, 11}, {100, 100, 110}};
  for (const Case& c : cases) {
    TestPlot p;
    p.set_closes(std::vector<double>(6, c.v));
    p->options = kChartOptNoPad;
    update_ranges(p.get());
    EXPECT_DOUBLE_EQ(c.lo, p->value_low) << c.v;
    EXPECT_DOUBLE_EQ(c.hi, p->value_high) << c.v;
  }
  // align_pad_range then widens by a tenth of the span.
  TestPlot p;
  p.set_closes(std::vector<double>(6, 50));
  update_ranges(p.get());
  EXPECT_DOUBLE_EQ(49, p->value_low);
  EXPECT_DOUBLE_EQ(61, p->value_high);
  // No samples: every range is (0, 0).
  TestPlot none;
  alloc_add_indicator(none.get(), 0);
  none->value_low = 3;
  update_ranges(none.get());
  EXPECT_EQ(0, none->value_low);
  EXPECT_EQ(0, none->indicators->value_high);
}

TEST_F(Update, OverlayAndIndicatorRanges) {
  const double nv = kChartNoValue;
  struct Case {
    const char* name;
    int overlay;  // 1 overlay, 0 indicator
    int32_t type;
    std::vector<double> values;
    double lo, hi;
  } cases[] = {
      {"indicator constant v", 0, 0, {4, 4, 4, 4}, 4, 4.4},
      {"indicator constant -v", 0, 0, {-20, -20, -20, -20}, -20, -18},
      {"indicator constant small -v", 0, 0, {-2, -2, -2, -2}, -2, -1},
      {"indicator constant 0", 0, 0, {0, 0, 0, 0}, 0, 1},
      {"indicator padded", 0, 0, {1, 3, 2, 11}, 0, 12},
      {"indicator none", 0, 0, {nv, nv, nv, nv}, 0, 1},
      {"from zero", 0, 2, {5, 10, 5, 10}, 0, 11},  // Volume: from 0, padded, fixed at 0
      {"fixed both", 0, 15, {20, 30, 40, 90}, 0, 100},
      {"overlay constant", 1, 10, {7, 7, nv, 7}, 7, 7.7},
      {"overlay none", 1, 10, {nv, nv, nv, nv}, 0, 1},
      {"overlay fixed min", 1, 9, {3, 9, 6, nv}, 0, 9},
  };
  for (const Case& c : cases) {
    TestPlot p;
    p.set_closes({10, 11, 12, 13});
    p->options = kChartOptNoPad;
    chart_ta* t = c.overlay ? alloc_add_overlay(p.get(), c.type) : alloc_add_indicator(p.get(), c.type);
    ASSERT_NE(nullptr, t);
    ASSERT_NE(nullptr, t->lines[0]) << c.name;
    for (int i = 0; i < 4; i++) t->lines[0][i] = c.values[i];
    update_ranges(p.get());
    EXPECT_NEAR(c.lo, t->value_low, 1e-9) << c.name;
    EXPECT_NEAR(c.hi, t->value_high, 1e-9) << c.name;
    EXPECT_DOUBLE_EQ(10, p->value_low) << c.name;  // the main range is left alone
  }
  // A merging overlay widens the main range.
  TestPlot p;
  p.set_closes({10, 11, 12, 13});
  p->options = kChartOptNoPad;
  chart_ta* sma = alloc_add_overlay(p.get(), 2);
  for (int i = 0; i < 4; i++) sma->lines[0][i] = i == 2 ? 20 : nv;
  update_ranges(p.get());
  EXPECT_DOUBLE_EQ(10, p->value_low);
  EXPECT_DOUBLE_EQ(20, p->value_high);
}

TEST_F(Update, LayoutOfZeroToSixIndicators) {
  const int32_t price_of_k[] = {278, 223, 167, 112, 111, 111, 111};
  for (int32_t k = 0; k <= 6; k++) {
    TestPlot p;
    p->chart_x = 5;
    p->chart_y = 7;
    p->chart_w = 400;
    p->chart_h = 300;
    p->options = 0x3;
    alloc_add_overlay(p.get(), kUpdateVolumeOverlay);
    alloc_add_overlay(p.get(), 2);
    for (int32_t i = 0; i < k; i++) alloc_add_indicator(p.get(), 0);
    update_layout(p.get(), &axes);
    const int32_t cell_w = 7 * kGlyphW, cell_h = kGlyphH;
    EXPECT_EQ(6, p->plot_x);
    EXPECT_EQ(10, p->plot_y);
    EXPECT_EQ(400 - 14 - cell_w, p->plot_w);
    int32_t H = 300 - 10 - cell_h;
    EXPECT_EQ(H, p->plot_h);
    EXPECT_EQ(price_of_k[k], p->pane_h) << k;
    EXPECT_EQ(p->plot_y, p->pane_y) << k;  // none above the price pane
    // The panes tile the plot: price, then each indicator with its caption.
    int32_t y = p->pane_y + p->pane_h, i = 0, first_h = 0, last_h = 0;
    for (chart_ta* t = p->indicators; t; t = t->next, i++) {
      int32_t h = t->pane_h + 2 * cell_h;
      EXPECT_EQ(y + 2 * cell_h, t->pane_y) << k << "/" << i;
      if (i == 0) first_h = h;
      last_h = h;
      y += h;
    }
    EXPECT_EQ(p->plot_y + H, y) << k;
    EXPECT_LE(first_h - last_h, 1);
    EXPECT_GE(first_h, last_h);
    // Volume in the bottom third; other overlays on the whole price pane.
    chart_ta* vol = p->overlays;
    EXPECT_EQ(p->pane_h / 3, vol->pane_h);
    EXPECT_EQ(p->pane_y + p->pane_h, vol->pane_y + vol->pane_h);
    EXPECT_EQ(p->pane_h, vol->next->pane_h);
  }
  // Without labels the plot takes the room.
  TestPlot p;
  p->chart_w = 200;
  p->chart_h = 100;
  update_layout(p.get(), &axes);
  EXPECT_EQ(188, p->plot_w);
  EXPECT_EQ(97, p->plot_h);
}

TEST_F(Update, ScalesApplyFromTheFirstVisibleSample) {
  history(stock, 30, day(2014, 1, 20));
  for (int32_t range_count : {1000, 10}) {  // all visible, then the last days
    TestPlot plain, percent, cumulative;
    for (TestPlot* p : {&plain, &percent, &cumulative}) setup(*p, stock, kRangeDays, range_count, kPeriodDays);
    percent->scale = kUpdateScalePercent;
    cumulative->scale = kUpdateScaleCumulative;
    for (TestPlot* p : {&plain, &percent, &cumulative}) ASSERT_EQ(0, chart_update(p->get(), &axes));
    int32_t n = plain->count, f = plain->first_visible;
    ASSERT_EQ(30, n);
    ASSERT_EQ(f, percent->first_visible);
    if (range_count == 10) {
      EXPECT_GT(f, 0);
    }
    double b = plain->open[f];
    for (int32_t i = 0; i < n; i++) {
      double want[4] = {plain->open[i], plain->high[i], plain->low[i], plain->close[i]};
      double got[4] = {percent->open[i], percent->high[i], percent->low[i], percent->close[i]};
      for (int k = 0; k < 4; k++) {
        EXPECT_NEAR(i < f ? 0 : (want[k] - b) * 100 / b, got[k], 1e-9) << i;
      }
      if (i > f) {
        EXPECT_NEAR(percent->close[i] - percent->close[i - 1], percent->change[i], 1e-9);
      }
      if (i < f) {
        EXPECT_EQ(0, percent->change[i]);
      }
    }
    EXPECT_NEAR(plain->change[f], percent->change[f], 1e-12);
    // Running sums after the first visible sample.
    double sum = 0;
    for (int32_t i = 0; i < n; i++) {
      if (i <= f) {
        EXPECT_EQ(0, cumulative->close[i]);
        continue;
      }
      sum += plain->close[i];
      EXPECT_NEAR(sum, cumulative->close[i], 1e-6) << i;
    }
  }
}

TEST_F(Update, NoInstrumentOrSizeIsRefused) {
  TestPlot p;
  setup(p, stock, kRangeAll, 1, kPeriodDays);
  p->main = nullptr;
  EXPECT_EQ(-1, chart_update(p.get(), &axes));
  setup(p, stock, kRangeAll, 1, kPeriodDays);
  p->chart_w = 0;
  EXPECT_EQ(-1, chart_update(p.get(), &axes));
  setup(p, stock, 0, 1, kPeriodDays);
  EXPECT_EQ(-1, chart_update(p.get(), &axes));
  EXPECT_EQ(std::vector<Req>{}, drain());
}

// ---------------------------------------------------------------------------
// The live list

class Live : public Update {
 protected:
  // A shown live chart with one day of data from 10:00 to `last`.
  void live(TestPlot& p, ss_time last, uint32_t options) {
    setup(p, stock, kRangeHours, 2, kPeriodMinutes);
    p->options = options;
    p->plot_w = 100;
    p->day_count = 1;
    p->days[0] = {day(2014, 3, 12), at(2014, 3, 12, 10, 0), last, 0,
                  (int64_t)sstime_diff_seconds(last, at(2014, 3, 12, 10, 0))};
    g_shown.insert(p.get());
    ASSERT_EQ(0, update_live_add(p.get()));
  }
};

TEST_F(Live, ThreeChartsShareASecond) {
  TestPlot a, b, c;
  for (TestPlot* p : {&a, &b, &c}) live(*p, at(2014, 3, 12, 14, 29), kUpdateOptTimeLabels);
  EXPECT_EQ(-1, update_live_add(a.get()));
  EXPECT_EQ(3, update_live_count());
  EXPECT_GE(update_live_timer(), 0);
  for (int t = 0; t < 60; t++) {
    g_ui_now = 100 + 0.1f * (float)t;
    EXPECT_EQ(1, update_live_tick(nullptr, 0, 0, 0));
  }
  std::map<chart_plot*, std::vector<float>> per;
  for (size_t i = 0; i < g_redraws.size(); i++) {
    per[g_redraws[i].first].push_back(g_redraws[i].second);
    if (i) {
      EXPECT_GE(g_redraws[i].second - g_redraws[i - 1].second, 1.0f / 3 - 0.05f - 1e-4f);
    }
  }
  ASSERT_EQ(3u, per.size());
  for (auto& [plot, times] : per) {
    EXPECT_GE(times.size(), 5u);
    for (size_t i = 1; i < times.size(); i++) EXPECT_GE(times[i] - times[i - 1], 1.0f - 1e-4f);
    EXPECT_NE(0u, plot->dirty & kChartDirtyClock);
  }
  // Oldest first: the first three refreshes go to a, b, c in list order.
  EXPECT_EQ(a.get(), g_redraws[0].first);
  EXPECT_EQ(b.get(), g_redraws[1].first);
  EXPECT_EQ(c.get(), g_redraws[2].first);
  for (TestPlot* p : {&a, &b, &c}) EXPECT_EQ(0, update_live_remove(p->get()));
  EXPECT_EQ(-1, update_live_remove(a.get()));
  EXPECT_EQ(-1, update_live_timer());
}

TEST_F(Live, DueByMinuteByPixelAndOnlyInHours) {
  struct Case {
    const char* name;
    ss_time now;
    ss_time last;
    uint32_t options;
    bool due;
  } cases[] = {
      {"same minute", at(2014, 3, 12, 11, 0, 50), at(2014, 3, 12, 11, 0, 10), kUpdateOptTimeLabels, false},
      {"next minute", at(2014, 3, 12, 11, 1, 0), at(2014, 3, 12, 11, 0, 10), kUpdateOptTimeLabels, true},
      {"under a pixel", at(2014, 3, 12, 11, 0, 10), at(2014, 3, 12, 11, 0, 0), 0, false},
      {"a pixel", at(2014, 3, 12, 11, 0, 37), at(2014, 3, 12, 11, 0, 0), 0, true},
      {"before the open", at(2014, 3, 12, 9, 30), at(2014, 3, 12, 9, 0), kUpdateOptTimeLabels, false},
      {"after the close", at(2014, 3, 12, 16, 30), at(2014, 3, 12, 11, 0), kUpdateOptTimeLabels, false},
      {"after the close, day hours", at(2014, 3, 12, 16, 30), at(2014, 3, 12, 11, 0),
       kUpdateOptTimeLabels | kChartOptDayClamp, true},
      {"after the day", at(2014, 3, 12, 19, 30), at(2014, 3, 12, 11, 0), kUpdateOptTimeLabels | kChartOptDayClamp,
       false},
  };
  for (const Case& c : cases) {
    update_live_init();
    g_redraws.clear();
    TestPlot p;
    live(p, c.last, c.options);
    g_exchange_now = c.now;
    g_ui_now += 10;
    update_live_tick(nullptr, 0, 0, 0);
    EXPECT_EQ(c.due ? 1u : 0u, g_redraws.size()) << c.name;
    update_live_remove(p.get());
  }
}

TEST_F(Live, AChartSwitchedToNowJoins) {
  TestPlot p;
  setup(p, stock, kRangeHours, 2, kPeriodMinutes);
  p->to_type = 6;
  g_shown.insert(p.get());
  chart_update(p.get(), &axes);
  EXPECT_EQ(0, update_live_count());
  p->to_type = kSpanNow;
  chart_update(p.get(), &axes);
  EXPECT_EQ(1, update_live_count());
  EXPECT_GE(update_live_timer(), 0);
  g_shown.clear();  // hidden
  chart_update(p.get(), &axes);
  EXPECT_EQ(0, update_live_count());
  EXPECT_EQ(-1, update_live_timer());
  drain();
}

}  // namespace
