// The chart data block: capacity steps, growth with instances attached, the
// point-count messages, and the fills from hand-made instrument records.
#include "charts/alloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "chart_fixture.h"
#include "chart_model.h"
#include "charts/history.h"
#include "charts/ta_overlay.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

TEST(Alloc, CapacitySteps) {
  struct Row {
    int32_t n;
    int32_t capacity;
  };
  // Each row allocates on top of the one before.
  const Row rows[] = {{1, 1024}, {1020, 1024}, {1021, 2048}, {500, 2048}, {2044, 2048}, {2045, 3072}};
  TestPlot plot;
  for (const Row& r : rows) {
    ASSERT_EQ(alloc_chart_values(plot.get(), r.n), 0);
    EXPECT_EQ(plot->capacity, r.capacity) << r.n;
    plot->times[r.capacity - 1] = 1;  // the whole capacity is writable
    plot->close[r.capacity - 1] = 1;
    plot->y_close[r.capacity - 1] = 1;
  }
}

// Growing the capacity re-makes every instance's arrays: a three-line
// overlay computed over the larger count writes in bounds (ASan watches).
TEST(Alloc, GrowthRemakesInstanceArrays) {
  TestPlot plot;
  ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
  chart_ta* bb = alloc_add_overlay(plot.get(), 4);
  ASSERT_NE(bb, nullptr);
  ASSERT_NE(bb->lines[2], nullptr);
  std::vector<double> closes(3000);
  for (size_t i = 0; i < closes.size(); i++) closes[i] = 100 + (double)(i % 17);
  plot.set_closes(closes);
  EXPECT_EQ(plot->capacity, 3072);
  ASSERT_EQ(ta_bollinger(plot.get(), bb), 0);
  EXPECT_FALSE(no_value(bb->lines[2][2999]));
  bb->pixels[2][3071] = 0;
}

TEST(Alloc, PointCountMessages) {
  struct Row {
    int32_t n;
    const char* line;
  };
  const Row rows[] = {{0, "probably shouldn't allocate 0 points"},
                      {3000001, "attempting to allocate 3000001 points"},
                      {10000001, "probably shouldn't allocate 10000001 points"}};
  for (const Row& r : rows) {
    chart_plot plot{};
    plot.capacity = 7;
    LogCapture log;
    alloc_check_points(&plot, r.n);
    EXPECT_TRUE(log.has(r.line)) << r.n;
    EXPECT_TRUE(log.has("instr:  none"));
    EXPECT_TRUE(log.has("count:  0/7"));
  }
  LogCapture log;
  chart_plot plot{};
  alloc_check_points(&plot, 20000000);
  alloc_check_points(&plot, 20000000);
  EXPECT_EQ(log.count("max 20000000 points"), 1);
}

TEST(Alloc, WorkSlotsAndInstances) {
  double* w = alloc_work_values(4, 5000);
  ASSERT_NE(w, nullptr);
  w[5000 - 1] = 1;
  EXPECT_EQ(alloc_work_values(5, 10), nullptr);
  EXPECT_EQ(alloc_work_values(-1, 10), nullptr);

  TestPlot plot;
  chart_ta* a = alloc_add_overlay(plot.get(), 13);
  chart_ta* b = alloc_add_overlay(plot.get(), 13);
  chart_ta* sma = alloc_add_overlay(plot.get(), 2);
  EXPECT_EQ(sma->params[0], 50);
  EXPECT_EQ(plot->news, 1);
  EXPECT_EQ(alloc_remove_overlay(plot.get(), a), 0);
  EXPECT_EQ(plot->news, 1);  // b is still a News overlay
  EXPECT_EQ(alloc_remove_overlay(plot.get(), b), 0);
  EXPECT_EQ(plot->news, 0);
  LogCapture log;
  EXPECT_EQ(alloc_remove_indicator(plot.get(), sma), -1);
  EXPECT_TRUE(log.has("indicator not found to free"));
  EXPECT_EQ(plot->overlay_count, 1);
}

// ---------------------------------------------------------------------------
// Fills

ss_time day(int d) { return sstime_pack_date(d, 3, 2025); }

struct StockHistory {
  std::unique_ptr<ss_stock> stock = std::make_unique<ss_stock>();
  ss_stock_history* h = nullptr;
  std::vector<ss_adjustment> adj;
  explicit StockHistory(const std::vector<ss_stock_point>& points) {
    h = (ss_stock_history*)calloc(1, sizeof(ss_stock_history) + points.size() * sizeof(ss_stock_point));
    h->count = h->capacity = (uint32_t)points.size();
    for (size_t i = 0; i < points.size(); i++) h->points[i] = points[i];
    stock->kind = 1;
    stock->history = h;
    stock->exchange = bare_exchange(2);
    bare_exchange(2)->date = day(20);
  }
  ~StockHistory() { free(h); }
  void adjustments(std::vector<ss_adjustment> a) {
    adj = std::move(a);
    for (size_t i = 0; i < adj.size(); i++) {
      adj[i].prev = i ? &adj[i - 1] : nullptr;
      adj[i].next = i + 1 < adj.size() ? &adj[i + 1] : nullptr;
    }
    stock->adjustments = {(uint32_t)adj.size(), &adj.front(), &adj.back()};
  }
};

TEST(Fill, DailyBars) {
  // close 0 and all ones are skipped; an all-ones low takes the close.
  StockHistory s({{day(17), 1000, 1200, 900, 1100, 100, 5},
                  {day(18), 1100, 1100, 1100, 0, 0, 7},
                  {day(18), 1100, 1100, 1100, kNoPrice, 0, 7},
                  {day(19), 1100, 1300, kNoPrice, 1250, 150, 9}});
  TestPlot plot;
  ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
  chart_fill_bars(plot.get(), s.stock.get());
  ASSERT_EQ(plot->count, 2);
  EXPECT_EQ(plot->times[0], day(17));
  EXPECT_DOUBLE_EQ(plot->open[0], 10);
  EXPECT_DOUBLE_EQ(plot->high[0], 12);
  EXPECT_DOUBLE_EQ(plot->low[0], 9);
  EXPECT_DOUBLE_EQ(plot->close[0], 11);
  EXPECT_DOUBLE_EQ(plot->change[0], 1);
  EXPECT_DOUBLE_EQ(plot->volume[0], 5);
  EXPECT_DOUBLE_EQ(plot->low[1], 12.5);

  // Today's quote: appended on a new date, replacing on the same date.
  struct Row {
    ss_time exchange_date;
    int32_t count;
  };
  for (const Row& r : {Row{day(20), 3}, Row{day(19), 2}}) {
    bare_exchange(2)->date = r.exchange_date;
    s.stock->last = 1400;
    s.stock->open = 1300;
    s.stock->high = 1500;
    s.stock->low = 0;  // no low yet: the close
    s.stock->change = 150;
    s.stock->volume = 77;
    chart_fill_bars(plot.get(), s.stock.get());
    ASSERT_EQ(plot->count, r.count);
    int32_t k = r.count - 1;
    EXPECT_EQ(plot->times[k], r.exchange_date);
    EXPECT_DOUBLE_EQ(plot->close[k], 14);
    EXPECT_DOUBLE_EQ(plot->low[k], 14);
    EXPECT_DOUBLE_EQ(plot->volume[k], 77);
  }
}

TEST(Fill, AdjustNewestToOldest) {
  StockHistory s({{day(10), 400, 400, 400, 400, 0, 1},
                  {day(11), 400, 400, 400, 400, 0, 1},
                  {day(12), 400, 400, 400, 400, 0, 1},
                  {day(13), 400, 400, 400, 400, 0, 1}});
  // Halved before the 12th, then doubled again before the 11th; a ratio of
  // 0 is ignored.
  s.adjustments({{(int32_t)day(12), 50000, nullptr, nullptr}, {(int32_t)day(11), 200000, nullptr, nullptr},
                 {(int32_t)day(13), 0, nullptr, nullptr}});
  TestPlot plot;
  ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
  plot->options = kChartOptAdjust;
  LogCapture log;
  chart_fill_bars(plot.get(), s.stock.get());
  ASSERT_EQ(plot->count, 4);
  const double want[] = {4, 2, 4, 4};
  for (int i = 0; i < 4; i++) {
    EXPECT_DOUBLE_EQ(plot->close[i], want[i]) << i;
    EXPECT_DOUBLE_EQ(plot->open[i], want[i]) << i;
    EXPECT_DOUBLE_EQ(plot->volume[i], 1) << i;
  }
  EXPECT_TRUE(log.has("ignoring adjustment ratio 0"));
  plot->options = 0;
  chart_fill_bars(plot.get(), s.stock.get());
  EXPECT_DOUBLE_EQ(plot->close[0], 4);
  EXPECT_DOUBLE_EQ(plot->close[1], 4);
}

TEST(Fill, StopsAtCapacityLessOne) {
  std::vector<ss_stock_point> points;
  for (int i = 0; i < 1100; i++) points.push_back({day(1) + (ss_time)i, 100, 100, 100, 100, 0, 1});
  StockHistory s(points);
  TestPlot plot;
  ASSERT_EQ(alloc_chart_values(plot.get(), 1), 0);
  chart_fill_bars(plot.get(), s.stock.get());
  EXPECT_EQ(plot->count, 1023);
}

TEST(Fill, IndexBars) {
  std::vector<ss_index_point> points = {{day(18), 0, 1000, 1200, 900, 1100, 0}, {day(19), 0, 1100, 1100, 1000, 0, 0}};
  auto* h = (ss_index_history*)calloc(1, sizeof(ss_index_history) + 2 * sizeof(ss_index_point));
  h->count = 2;
  h->points[0] = points[0];
  h->points[1] = points[1];
  auto index = std::make_unique<ss_index>();
  index->kind = 2;
  index->exchange = bare_exchange(2);
  bare_exchange(2)->date = day(20);
  TestPlot plot;
  ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
  chart_fill_index_bars(plot.get(), index.get());
  EXPECT_EQ(plot->count, 0);  // no history
  index->history = h;
  index->value = 1300;
  index->open = 1100;
  index->change = 200;
  index->last_tick_time = sstime_pack(0, 30, 11, 18, 3, 2025);  // the quote is of the 18th
  chart_fill_index_bars(plot.get(), index.get());
  ASSERT_EQ(plot->count, 1);
  EXPECT_DOUBLE_EQ(plot->close[0], 13);
  EXPECT_DOUBLE_EQ(plot->change[0], 2);
  EXPECT_DOUBLE_EQ(plot->volume[0], 0);
  index->last_tick_time = 0;
  chart_fill_index_bars(plot.get(), index.get());
  ASSERT_EQ(plot->count, 2);
  EXPECT_DOUBLE_EQ(plot->change[0], 1);  // close - open
  EXPECT_EQ(plot->times[1], day(20));
  free(h);
}

TEST(Fill, ValuePointsAroundOpenAndClose) {
  auto at = [](int d, int h, int m) { return sstime_pack(0, m, h, d, 3, 2025); };
  auto index = std::make_unique<ss_index>();
  index->kind = 2;
  index->exchange = bare_exchange(2);  // opens 10:00, closes 16:00
  bare_exchange(2)->date = day(20);
  ss_day past{};
  past.date = day(19);
  std::vector<ss_tick> past_ticks = {make_tick(at(19, 15, 0), 1000)};
  link_list(past_ticks, &past.ticks);
  std::vector<ss_day> days = {past};
  link_list(days, &index->days);
  link_list(past_ticks, &days[0].ticks);
  std::vector<ss_tick> today = {make_tick(at(20, 9, 59), 500),   // before the open
                                make_tick(at(20, 10, 0), 1010),  // at the open
                                make_tick(at(20, 12, 0), 1020),
                                make_tick(at(20, 16, 5), 1020),   // a repeat after the close
                                make_tick(at(20, 16, 6), 1030)};  // a change after it
  link_list(today, &index->ticks);
  struct Row {
    int32_t range, count;
    std::vector<double> closes, changes;
  };
  const std::vector<Row> rows = {
      {5, 3, {10, 10.1, 10.2, 10.3}, {0, 0.1, 0.1, 0.1}},
      {5, 1, {10.1, 10.2, 10.3}, {0, 0.1, 0.1}},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
    plot->range = r.range;
    plot->range_count = r.count;
    chart_fill_line(plot.get(), index.get());
    ASSERT_EQ(plot->count, (int32_t)r.closes.size());
    for (size_t i = 0; i < r.closes.size(); i++) {
      EXPECT_NEAR(plot->close[i], r.closes[i], 1e-9) << i;
      EXPECT_NEAR(plot->change[i], r.changes[i], 1e-9) << i;
      EXPECT_EQ(plot->volume[i], 0);
    }
  }
}

TEST(Fill, TicksFromBarsPastTradesAndToday) {
  auto at = [](int d, int h, int m) { return sstime_pack(0, m, h, d, 3, 2025); };
  auto stock = std::make_unique<ss_stock>();
  stock->kind = 1;
  stock->exchange = bare_exchange(2);
  bare_exchange(2)->date = day(20);
  std::vector<ss_day> days(2);
  days[0].date = day(18);  // has minute bars on its record, as the trade reader leaves them
  static ss_day_bars minutes{};
  minutes.count = 2;
  minutes.bars[0] = {sstime_pack(0, 0, 11, 18, 3, 2025), 1000, 1100, 900, 1050, 0, 10};
  minutes.bars[1] = {sstime_pack(0, 1, 11, 18, 3, 2025), 1050, 1050, 1050, 1050, 0, 0};
  days[0].bars = &minutes;
  days[1].date = day(19);  // trades only
  link_list(days, &stock->days);
  std::vector<ss_trade> past = {make_trade(at(19, 11, 0), 1200, 5, 0), make_trade(at(19, 11, 1), 0, 5, 0)};
  link_list(past, &days[1].trades);
  std::vector<ss_trade> today = {make_trade(at(20, 10, 0), 1300, 1, kTradeSetsLast),
                                 make_trade(at(20, 10, 1), 1310, 2, kTradeSetsLast | kTradeCancelled),
                                 make_trade(at(20, 10, 2), 1320, 3, kTradeHighLow),
                                 make_trade(at(20, 10, 3), 1330, 4, kTradeVolume)};  // neither 0x2 nor 0x4
  link_list(today, &stock->trades);
  struct Row {
    int32_t period;
    uint32_t options;
    std::vector<double> closes;
    std::vector<double> changes;
  };
  const std::vector<Row> rows = {
      // Bars asked for: the 18th's bar with volume, the 19th's trades, today.
      {2, 0, {10.5, 12, 13, 13.2}, {0.5, 1.5, 1, 0.2}},
      // No bars asked for: the 18th has no trades, so nothing of it.
      {1, 0, {12, 13, 13.2}, {0, 1, 0.2}},
      // All trades of today but the cancelled one.
      {1, kChartOptAllTrades, {12, 13, 13.2, 13.3}, {0, 1, 0.2, 0.1}},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    ASSERT_EQ(alloc_chart_values(plot.get(), 10), 0);
    plot->range = 5;
    plot->range_count = 5;
    plot->period = r.period;
    plot->options = r.options;
    chart_fill_ticks(plot.get(), stock.get());
    ASSERT_EQ(plot->count, (int32_t)r.closes.size()) << r.period << " " << r.options;
    for (size_t i = 0; i < r.closes.size(); i++) {
      EXPECT_NEAR(plot->close[i], r.closes[i], 1e-9) << i;
      EXPECT_NEAR(plot->change[i], r.changes[i], 1e-9) << i;
    }
  }
}

}  // namespace
