// Series helpers and overlay computations: against the reference libraries
// where the definitions agree (SMA, EMA, Bollinger from sample p, composed
// Keltner and envelopes), by hand elsewhere.
#include "charts/ta_overlay.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "chart_fixture.h"
#include "chart_model.h"
#include "charts/history.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);
constexpr double NV = kChartNoValue;

void expect_series(const double* got, const std::vector<double>& want) {
  for (size_t i = 0; i < want.size(); i++) {
    if (no_value(want[i]) || no_value(got[i]))
      EXPECT_EQ(got[i], want[i]) << "sample " << i;
    else
      EXPECT_NEAR(got[i], want[i], 1e-12 * std::max(1.0, std::fabs(want[i]))) << "sample " << i;
  }
}

chart_ta* overlay(TestPlot& plot, int32_t type, std::vector<float> params = {}) {
  chart_ta* ta = alloc_add_overlay(plot.get(), type);
  EXPECT_NE(ta, nullptr);
  for (size_t i = 0; i < params.size(); i++) ta->params[i] = params[i];
  EXPECT_EQ(ta_overlay_def(type)->compute(plot.get(), ta), 0);
  return ta;
}

TEST(TaOverlay, MovingAveragesMatchReference) {
  const Reference& r = Reference::get();
  const std::vector<double>& close = r["close"];
  int32_t n = r.n;
  std::vector<double> out(n);
  for (int32_t p : {2, 5, 20, n}) {
    ta_sma(out.data(), close.data(), n, p);
    expect_matches(RefCheck{out.data(), n, 0, p - 1}, [&](int32_t i) { return r["sma_close_" + std::to_string(p)][i]; },
                   "SMA " + std::to_string(p));
    ta_ema(out.data(), close.data(), n, p);
    expect_matches(RefCheck{out.data(), n, 0, p - 1}, [&](int32_t i) { return r["ema_close_" + std::to_string(p)][i]; },
                   "EMA " + std::to_string(p));
  }
}

TEST(TaOverlay, MovingAverageHandCases) {
  struct Row {
    const char* what;
    bool ema;
    std::vector<double> in;
    int32_t period;
    std::vector<double> want;
  };
  const std::vector<Row> rows = {
      // The SMA divides by the period over skipped no-values.
      {"sma gap", false, {1, NV, 3, 5}, 2, {NV, 0.5, 1.5, 4}},
      {"sma leading gap", false, {NV, 2, 4}, 2, {NV, NV, 3}},
      {"sma p 1", false, {3, 1, 4}, 1, {3, 1, 4}},
      {"sma p = n", false, {3, 1, 5}, 3, {NV, NV, 3}},
      {"sma p > n", false, {3, 1}, 3, {NV, NV}},
      {"sma p 0", false, {3, 1}, 0, {NV, NV}},
      {"ema p 1 copies", true, {3, 1, 4}, 1, {3, 1, 4}},
      {"ema p = n", true, {3, 1, 5}, 3, {NV, NV, 3}},
      {"ema p > n", true, {3, 1}, 3, {NV, NV}},
      // A no-value after the seed gives no value and keeps the average.
      {"ema gap keeps state", true, {2, 4, NV, 8}, 2, {NV, 3, NV, 3 + 5 * 2.0 / 3}},
      // A no-value inside the seed window moves the seed on.
      {"ema gap in seed", true, {2, NV, 4, 6, 9}, 2, {NV, NV, NV, 5, 5 + 4 * 2.0 / 3}},
      {"ema too few after gap", true, {2, NV, 4}, 2, {NV, NV, NV}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    std::vector<double> out(r.in.size(), 0.0);
    if (r.ema)
      ta_ema(out.data(), r.in.data(), (int32_t)r.in.size(), r.period);
    else
      ta_sma(out.data(), r.in.data(), (int32_t)r.in.size(), r.period);
    expect_series(out.data(), r.want);
  }
}

TEST(TaOverlay, BandsMatchReference) {
  const Reference& r = Reference::get();
  int32_t n = r.n;
  auto ref = [&](const std::string& label) { return [&r, label](int32_t i) { return r[label][i]; }; };
  struct Row {
    float p, m;
    std::string label;
  };
  for (const Row& row : std::vector<Row>{{20, 2, "bb_20_2"}, {5, 0.25, "bb_5_0.25"}, {2, 1, "bb_2_1"}}) {
    TestPlot plot;
    plot.set_bars(r["open"], r["high"], r["low"], r["close"], r["volume"]);
    chart_ta* bb = overlay(plot, 4, {row.p, row.m});
    int32_t p = (int32_t)row.p;
    // The middle line starts at p - 1, the bands one sample later.
    expect_matches(RefCheck{bb->lines[0], n, 0, p - 1}, ref("sma_close_" + std::to_string(p)), row.label + " mid");
    expect_matches(RefCheck{bb->lines[1], n, p, p}, ref(row.label + "_upper"), row.label + " upper");
    expect_matches(RefCheck{bb->lines[2], n, p, p}, ref(row.label + "_lower"), row.label + " lower");
  }
  for (int32_t p : {10, 4}) {
    TestPlot plot;
    plot.set_bars(r["open"], r["high"], r["low"], r["close"], r["volume"]);
    chart_ta* k = overlay(plot, 6, {(float)p, (float)p});
    std::string ps = std::to_string(p);
    auto mid = ref("sma_typical_" + ps), band = ref("sma_range_" + ps);
    expect_matches(RefCheck{k->lines[1], n, 0, p - 1}, mid, "Keltner mid " + ps);
    expect_matches(RefCheck{k->lines[0], n, 0, p - 1}, [&](int32_t i) { return mid(i) + band(i); }, "Keltner up");
    expect_matches(RefCheck{k->lines[2], n, 0, p - 1}, [&](int32_t i) { return mid(i) - band(i); }, "Keltner lo");
  }
  TestPlot plot;
  plot.set_bars(r["open"], r["high"], r["low"], r["close"], r["volume"]);
  chart_ta* env = overlay(plot, 5, {20, 2.5});
  auto sma = ref("sma_close_20");
  expect_matches(RefCheck{env->lines[1], n, 0, 19}, [&](int32_t i) { return sma(i) * 1.025; }, "Envelope up");
  expect_matches(RefCheck{env->lines[2], n, 0, 19}, [&](int32_t i) { return sma(i) * 0.975; }, "Envelope lo");
}

// Hand-worked overlays over small bar tables.
TEST(TaOverlay, HandWorkedOverlays) {
  struct Row {
    const char* what;
    int32_t type;
    std::vector<float> params;
    std::vector<double> high, low, close;
    int line;
    std::vector<double> want;
  };
  const std::vector<Row> rows = {
      // Bollinger p 2, M 2 on 1 3 5: mid 2 and 4; deviation from sample 2 only.
      {"bollinger mid", 4, {2, 2}, {}, {}, {1, 3, 5}, 0, {NV, 2, 4}},
      {"bollinger upper", 4, {2, 2}, {}, {}, {1, 3, 5}, 1, {NV, NV, 6}},
      {"bollinger lower", 4, {2, 2}, {}, {}, {1, 3, 5}, 2, {NV, NV, 2}},
      {"envelope 100% none", 5, {2, 100}, {}, {}, {1, 3, 5}, 1, {NV, NV, NV}},
      {"envelope 0% none", 5, {2, 0}, {}, {}, {1, 3, 5}, 2, {NV, NV, NV}},
      // The upper channel can sit below the bar's high (sample 3).
      {"channel upper", 7, {3}, {9, 5, 5, 6}, {1, 1, 1, 1}, {2, 2, 2, 2}, 0, {9, 9, 9, 5}},
      {"channel lower", 7, {3}, {9, 9, 9, 9, 9}, {3, 2, 4, 3, 2}, {5, 5, 5, 5, 5}, 1, {3, 2, 2, 2, 2}},
      // Step 10%, ceiling 20%: long, ceiling reached at sample 2, reversal
      // to the highest high at 3, to the lowest low at 5.
      {"parabolic", 8, {10, 20}, {10, 12, 13, 12, 11, 13}, {8, 9, 11, 8.5, 7, 10}, {9, 11, 12, 9, 8, 12}, 0,
       {NV, 8, 8.8, 13, 12.5, 7}},
      {"close level", 0, {}, {}, {}, {4, 6, 5}, 0, {5, 5, 5}},
      // A period outside 1..n can't compute: the lines are cleared.
      {"channel period above n", 7, {5}, {9, 5, 5, 6}, {1, 1, 1, 1}, {2, 2, 2, 2}, 0, {NV, NV, NV, NV}},
      {"channel period 0", 7, {0}, {9, 5, 5, 6}, {1, 1, 1, 1}, {2, 2, 2, 2}, 1, {NV, NV, NV, NV}},
      // Keltner band 2, middle 2 over a sample without a close: typical
      // 9, -, 11 and range 2, 2, 2; the averages skip the gap (and divide by
      // the period), the gap itself has no value on any line.
      {"keltner mid over no close", 6, {2, 2}, {10, 11, 12}, {8, 9, 10}, {9, NV, 11}, 1, {NV, NV, 5.5}},
      {"keltner upper over no close", 6, {2, 2}, {10, 11, 12}, {8, 9, 10}, {9, NV, 11}, 0, {NV, NV, 7.5}},
      {"keltner lower over no close", 6, {2, 2}, {10, 11, 12}, {8, 9, 10}, {9, NV, 11}, 2, {NV, NV, 3.5}},
      {"volume by price empty", 10, {}, {}, {}, {4, 6, 5}, 0, {NV, NV, NV}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    TestPlot plot;
    plot.set_bars(r.close, r.high.empty() ? r.close : r.high, r.low.empty() ? r.close : r.low, r.close,
                  std::vector<double>(r.close.size(), 0.0));
    chart_ta* ta = overlay(plot, r.type, r.params);
    expect_series(ta->lines[r.line], r.want);
  }
}

TEST(TaOverlay, BollingerWidthAndPercent) {
  TestPlot plot;
  plot.set_closes({1, 3, 5, 5, 5});
  chart_ta* width = alloc_add_indicator(plot.get(), 28);
  chart_ta* pct = alloc_add_indicator(plot.get(), 29);
  width->params[0] = pct->params[0] = 2;
  ASSERT_EQ(ta_bollinger(plot.get(), width), 0);
  ASSERT_EQ(ta_bollinger(plot.get(), pct), 0);
  // Sample 2: bands 6 and 2 about 4. Samples 3, 4: flat, the bands meet.
  expect_series(width->lines[0], {NV, NV, 100, 0, 0});
  expect_series(pct->lines[0], {NV, NV, 75, NV, NV});
}

TEST(TaOverlay, PrevCloseByInstrumentKind) {
  ss_stock stock{};
  stock.kind = 1;
  ss_index index{};
  index.kind = 2;
  index.value = 500000;
  index.change = 2000;
  ss_issuer issuer{};
  issuer.kind = 3;
  struct Row {
    instr* in;
    uint32_t stock_close;
    double want;
  };
  const std::vector<Row> rows = {{&stock, 12345, 123.45}, {&stock, 0, NV}, {&stock, kNoPrice, NV},
                                 {&index, 0, 4980}, {&issuer, 0, 4}, {nullptr, 0, 4}};
  for (const Row& r : rows) {
    stock.close = r.stock_close;
    TestPlot plot;
    plot.set_closes({4, 6});
    plot->main = r.in;
    chart_ta* ta = overlay(plot, 1);
    expect_series(ta->lines[0], {r.want, r.want});
  }
}

// News items hung on an issuer, oldest first as the model keeps them.
struct NewsList {
  ss_issuer issuer{};
  std::vector<ss_news> items;
  explicit NewsList(std::vector<ss_news> in) : items(std::move(in)) {
    issuer.kind = 3;
    link_list(items, &issuer.news);
  }
};

TEST(TaOverlay, NewsCountsPerSample) {
  auto at = [&](int h, int m) { return sstime_pack(0, m, h, 10, 3, 2025); };
  NewsList list({
      make_news(at(9, 0), 0, 99),                // before the first sample: ends the walk
      make_news(at(10, 30), 0, 13),              // regular, on sample 0 (10:00)
      make_news(0, kNewsFlag1, 99),              // no time: skipped
      make_news(at(12, 0), kNewsFlag1, 99),      // sensitive, on sample 2
      make_news(at(13, 0), kNewsFlag4, 99),      // related, on sample 3
      make_news(at(16, 0), kNewsFlag1, 99),      // after the end sentinel
  });
  struct Row {
    std::vector<float> params;
    std::vector<double> want;
  };
  const std::vector<Row> rows = {
      {{0, 1, 1}, {1, 0, 1001, 1, 0}},
      {{1, 1, 1}, {0, 0, 1001, 0, 0}},
      {{0, 0, 1}, {0, 0, 1001, 1, 0}},
      {{0, 1, 0}, {1, 0, 1001, 0, 0}},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    plot.set_closes({1, 2, 3, 4, 5});
    for (int i = 0; i < 5; i++) plot->times[i] = at(10 + i, 0);
    plot->times[5] = at(15, 0);  // the end sentinel
    plot->issuer = &list.issuer;
    chart_ta* ta = overlay(plot, 13, r.params);
    expect_series(ta->lines[0], r.want);
  }
  TestPlot plot;
  plot.set_closes({1, 2});
  chart_ta* ta = overlay(plot, 13);  // no issuer
  expect_series(ta->lines[0], {NV, NV});
}

TEST(TaOverlay, NewsCaption) {
  chart_ta inst{};
  struct Row {
    float p0, p1, p2;
    const char* want;
  };
  for (const Row& r : std::vector<Row>{{1, 0, 0, "Sensitive Only,No Related,No Regular"},
                                       {0, 1, 1, nullptr},
                                       {0, 0, 1, "No Regular"},
                                       {1, 1, 1, "Sensitive Only"}}) {
    inst.params[0] = r.p0;
    inst.params[1] = r.p1;
    inst.params[2] = r.p2;
    const char* got = ta_news_caption(&inst);
    if (!r.want)
      EXPECT_EQ(got, nullptr);
    else
      EXPECT_STREQ(got, r.want);
  }
}

const chart_bar* test_bars(const ss_day* day, int32_t* count) {
  static chart_bar bars[] = {{sstime_pack(0, 0, 11, 8, 3, 2025), 0, 30000, 20001, 0, 0, 10}};
  if (day->date != sstime_pack_date(8, 3, 2025)) return nullptr;
  *count = 1;
  return bars;
}

TEST(TaOverlay, VwapOverBarsPastTradesAndToday) {
  ss_exchange* ex = bare_exchange(0);
  ex->date = sstime_pack_date(10, 3, 2025);
  auto at = [](int d, int h, int m, int s) { return sstime_pack(s, m, h, d, 3, 2025); };
  ss_stock stock{};
  stock.kind = 1;
  stock.exchange = ex;
  ss_day bars_day{}, trades_day{};
  bars_day.date = sstime_pack_date(8, 3, 2025);
  trades_day.date = sstime_pack_date(9, 3, 2025);
  bars_day.next = &trades_day;
  trades_day.prev = &bars_day;
  stock.days = {2, &bars_day, &trades_day};
  std::vector<ss_trade> past{make_trade(at(9, 15, 0, 0), 20000, 10, kTradeVolume), make_trade(at(9, 15, 1, 0), 0, 10, kTradeVolume)};
  link_list(past, &trades_day.trades);
  std::vector<ss_trade> today{make_trade(at(10, 10, 0, 30), 10000, 100, kTradeVolume),
                make_trade(at(10, 10, 1, 10), 10200, 300, kTradeVolume | kTradeSetsLast),
                make_trade(at(10, 10, 1, 20), 50000, 100, kTradeVolume | kTradeCancelled),
                make_trade(at(10, 10, 1, 30), 0, 100, kTradeVolume), make_trade(at(10, 10, 1, 40), 90000, 100, 0)};
  link_list(today, &stock.trades);
  history_set_day_bars_reader(test_bars);

  TestPlot plot;
  plot.set_closes({1, 2, 3, 4, 5});
  const ss_time times[] = {at(8, 11, 0, 0), at(9, 15, 0, 0), at(10, 10, 0, 0), at(10, 10, 1, 0), at(10, 10, 2, 0)};
  for (int i = 0; i < 5; i++) plot->times[i] = times[i];
  plot->main = &stock;
  plot->range = 5;
  plot->range_count = 3;
  plot->period = 2;
  chart_ta* ta = overlay(plot, 14);
  // (30000 + 20001) / 2 = 25000 (integer halving) -> 250; 200 yesterday;
  // today restarts: 100, then (10000 + 30600) / 400 = 101.5; none after.
  expect_series(ta->lines[0], {250, 200, 100, 101.5, NV});

  // The last day alone: only today's trades.
  plot->range_count = 1;
  ASSERT_EQ(ta_vwap(plot.get(), ta), 0);
  expect_series(ta->lines[0], {NV, NV, 100, 101.5, NV});

  // End-of-day charts and indices have none.
  plot->range_count = 3;
  plot->eod = 1;
  ASSERT_EQ(ta_vwap(plot.get(), ta), 0);
  expect_series(ta->lines[0], {NV, NV, NV, NV, NV});
  history_set_day_bars_reader(nullptr);
}

}  // namespace

namespace {

// The deviation as first defined, summed directly over each window: the
// reference for the sliding sums the bands are computed with.
std::vector<double> direct_deviation(const std::vector<double>& close, const double* mid, int32_t p) {
  int32_t n = (int32_t)close.size();
  std::vector<double> dev(n, kChartNoValue);
  for (int32_t i = p; i < n; i++) {
    if (no_value(mid[i])) continue;
    double sum = 0;
    int count = 0;
    for (int32_t k = 0; k < p; k++) {
      if (no_value(close[i - k])) continue;
      sum += (close[i - k] - mid[i]) * (close[i - k] - mid[i]);
      count++;
    }
    if (count) dev[i] = std::sqrt(sum / count);
  }
  return dev;
}

TEST(TaOverlay, SlidingDeviationMatchesDirectSums) {
  std::mt19937 rng(99);
  for (int round = 0; round < 30; round++) {
    int32_t n = 300 + (int32_t)(rng() % 500);
    int32_t p = std::vector<int32_t>{2, 3, 5, 20, 50}[rng() % 5];
    double level = std::vector<double>{0.5, 1000, 2.5e6}[rng() % 3];
    std::vector<double> close(n);
    double x = level;
    for (int32_t i = 0; i < n; i++) {
      int r = (int)(rng() % 100);
      if (r < 70) x += level * 0.01 * ((double)(rng() % 2001) / 1000 - 1);  // a walk
      // else: the close repeats, making flat runs
      close[i] = (r == 99) ? kChartNoValue : x;  // and a few gaps
    }
    TestPlot plot;
    plot.set_closes(close);
    chart_ta* bb = overlay(plot, 4, {(float)p, 1});
    std::vector<double> want = direct_deviation(close, bb->lines[0], p);
    for (int32_t i = 0; i < n; i++) {
      if (no_value(want[i])) {
        EXPECT_TRUE(no_value(bb->lines[1][i])) << i;
        continue;
      }
      double got = bb->lines[1][i] - bb->lines[0][i];
      EXPECT_NEAR(got, want[i], 1e-9 * std::max(std::fabs(got), std::fabs(want[i])) + 1e-12 * level)
          << "round " << round << " p " << p << " sample " << i;
    }
  }
}

}  // namespace

namespace {

// The channels as first defined: a rescan of the earlier samples for every
// bar inside the channel; the reference for the queued extremes.
TEST(TaOverlay, PriceChannelsMatchRescans) {
  std::mt19937 rng(17);
  for (int round = 0; round < 40; round++) {
    int32_t n = 1 + (int32_t)(rng() % 300), p = 1 + (int32_t)(rng() % 25);
    std::vector<double> high(n), low(n);
    for (int32_t i = 0; i < n; i++) {
      double mid = 100 + (double)(rng() % 40);  // repeats on purpose
      high[i] = mid + (double)(rng() % 5);
      low[i] = mid - (double)(rng() % 5);
    }
    std::vector<double> up(n), lo(n);
    up[0] = high[0];
    lo[0] = low[0];
    for (int32_t i = 1; i < n; i++) {
      int32_t from = std::max(0, i - p + 1);
      double mh = high[i - 1], ml = low[i - 1];
      for (int32_t k = i - 2; k >= from; k--) {
        mh = std::max(mh, high[k]);
        ml = std::min(ml, low[k]);
      }
      up[i] = high[i] >= up[i - 1] ? high[i] : mh;
      lo[i] = low[i] <= lo[i - 1] ? low[i] : ml;
    }
    if (p > n) up = lo = std::vector<double>(n, kChartNoValue);  // a period beyond the samples
    TestPlot plot;
    plot.set_bars(high, high, low, low, std::vector<double>(n, 0.0));
    chart_ta* ch = overlay(plot, 7, {(float)p});
    for (int32_t i = 0; i < n; i++) {
      ASSERT_EQ(ch->lines[0][i], up[i]) << "p " << p << " sample " << i;
      ASSERT_EQ(ch->lines[1][i], lo[i]) << "p " << p << " sample " << i;
    }
  }
}

}  // namespace
