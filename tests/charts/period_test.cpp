// Chart periods: a table of bucketing cases, the end sentinel, the automatic
// choice, and a seeded comparison with a brute-force group-by.
#include "charts/period.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

#include "chart_fixture.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

ss_time at(int d, int h, int m, int s = 0, int mon = 3, int y = 2025) { return sstime_pack(s, m, h, d, mon, y); }

struct Sample {
  ss_time t;
  double close;
  double volume = 1;
};

struct Bar {
  ss_time t;
  double open, high, low, close, volume;
};

void fill(TestPlot& plot, const std::vector<Sample>& s) {
  std::vector<double> c, v;
  for (const Sample& x : s) {
    c.push_back(x.close);
    v.push_back(x.volume);
  }
  plot.set_closes(c, v);
  for (size_t i = 0; i < s.size(); i++) {
    plot->times[i] = s[i].t;
    plot->high[i] = s[i].close + 1;  // so that high and low are told apart
    plot->low[i] = s[i].close - 1;
  }
}

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

TEST(Period, BucketTable) {
  const double nan = NAN;
  struct Row {
    const char* what;
    int32_t kind, count;
    int32_t eod;
    std::vector<Sample> in;
    std::vector<Bar> out;
  };
  const std::vector<Row> rows = {
      {"5 minutes", kPeriodMinutes, 5, 0,
       {{at(3, 10, 3, 20), 1, 2}, {at(3, 10, 4, 59), 3, 5}, {at(3, 10, 5, 0), 2, 7}},
       {{at(3, 10, 0), 1, 4, 0, 3, 7}, {at(3, 10, 5), 2, 3, 1, 2, 7}}},
      {"minutes across midnight", kPeriodMinutes, 60, 0,
       {{at(3, 23, 59, 30), 1}, {at(4, 0, 0, 10), 2}},
       {{at(3, 23, 0), 1, 2, 0, 1, 1}, {at(4, 0, 0), 2, 3, 1, 2, 1}}},
      {"seconds on two days", kPeriodSeconds, 1, 0,
       {{at(3, 10, 0, 0), 1}, {at(3, 10, 0, 0), 2}, {at(4, 10, 0, 0), 3}},
       {{at(3, 10, 0, 0), 1, 3, 0, 2, 2}, {at(4, 10, 0, 0), 3, 4, 2, 3, 1}}},
      {"sessions split at noon", kPeriodSessions, 1, 0,
       {{at(3, 10, 30, 0), 1}, {at(3, 11, 59, 59), 2}, {at(3, 12, 0, 0), 3}},
       {{at(3, 10, 0), 1, 3, 0, 2, 2}, {at(3, 12, 0), 3, 4, 2, 3, 1}}},
      {"hours ignore the count", kPeriodHours, 3, 0,
       {{at(3, 10, 10), 1}, {at(3, 11, 20), 2}},
       {{at(3, 10, 0), 1, 2, 0, 1, 1}, {at(3, 11, 0), 2, 3, 1, 2, 1}}},
      {"seconds ignore the count", kPeriodSeconds, 5, 0,
       {{at(3, 10, 0, 0), 1}, {at(3, 10, 0, 1), 2}},
       {{at(3, 10, 0, 0), 1, 2, 0, 1, 1}, {at(3, 10, 0, 1), 2, 3, 1, 2, 1}}},
      {"days ignore the count", kPeriodDays, 2, 1,
       {{at(3, 0, 0), 1}, {at(4, 0, 0), 2}},
       {{at(3, 0, 0), 1, 2, 0, 1, 1}, {at(4, 0, 0), 2, 3, 1, 2, 1}}},
      {"months keep the first time, across a year", kPeriodMonths, 1, 1,
       {{at(5, 0, 0, 0, 3, 2024), 1}, {at(20, 0, 0, 0, 3, 2024), 2}, {at(7, 0, 0, 0, 2, 2025), 3}},
       {{at(5, 0, 0, 0, 3, 2024), 1, 3, 0, 2, 2}, {at(7, 0, 0, 0, 2, 2025), 3, 4, 2, 3, 1}}},
      // 8 March 2025 is a Saturday: weeks run Saturday to Friday.
      {"weeks", kPeriodWeeks, 1, 1,
       {{at(7, 0, 0), 1}, {at(8, 0, 0), 2}, {at(14, 0, 0), 3}, {at(15, 0, 0), 4}},
       {{at(7, 0, 0), 1, 2, 0, 1, 1}, {at(8, 0, 0), 2, 4, 1, 3, 2}, {at(15, 0, 0), 4, 5, 3, 4, 1}}},
      {"years", kPeriodYears, 1, 1,
       {{at(5, 0, 0, 0, 3, 2024), 1}, {at(5, 0, 0, 0, 12, 2024), 2}, {at(2, 0, 0, 0, 1, 2025), 3}},
       {{at(5, 0, 0, 0, 3, 2024), 1, 3, 0, 2, 2}, {at(2, 0, 0, 0, 1, 2025), 3, 4, 2, 3, 1}}},
      {"none", kPeriodNone, 1, 0,
       {{at(3, 10, 0), 1}, {at(3, 10, 0), 5}, {at(3, 10, 0), 4}},
       {{at(3, 10, 0), 1, 2, 0, 1, 1}, {at(3, 10, 0), 5, 6, 4, 5, 1}, {at(3, 10, 0), 4, 5, 3, 4, 1}}},
      {"NaN closes keep a minute together without the split", kPeriodMinutes, 1, 0,
       {{at(3, 10, 0, 1), nan}, {at(3, 10, 0, 2), nan}},
       {{at(3, 10, 0), nan, nan, nan, nan, 2}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    TestPlot plot;
    fill(plot, r.in);
    plot->period = r.kind;
    plot->period_count = r.count;
    plot->eod = r.eod;
    ASSERT_EQ(period_bucket(plot.get()), 0);
    ASSERT_EQ(plot->count, (int32_t)r.out.size());
    for (size_t k = 0; k < r.out.size(); k++) {
      const Bar& b = r.out[k];
      EXPECT_EQ(plot->times[k], b.t) << k;
      EXPECT_TRUE(same(plot->open[k], b.open)) << k << " open " << plot->open[k];
      EXPECT_TRUE(same(plot->close[k], b.close)) << k << " close " << plot->close[k];
      EXPECT_TRUE(same(plot->volume[k], b.volume)) << k;
      if (!std::isnan(b.high)) {
        EXPECT_EQ(plot->high[k], b.high) << k;
        EXPECT_EQ(plot->low[k], b.low) << k;
      }
      // Grouped bars: close - open for bars 0 and 1, then close - previous
      // close (the weeks row shows the difference); ungrouped samples keep
      // their own change.
      double want_change = k < 2 ? b.close - b.open : b.close - r.out[k - 1].close;
      if (r.kind == kPeriodNone) want_change = k ? b.close - r.out[k - 1].close : 0;
      EXPECT_TRUE(same(plot->change[k], want_change)) << k;
    }
  }
}

TEST(Period, CloseSplit) {
  TestPlot plot;
  fill(plot, {{at(3, 10, 0, 1), 1}, {at(3, 10, 0, 2), 1}, {at(3, 10, 0, 3), NAN}, {at(3, 10, 0, 4), NAN},
              {at(3, 10, 0, 5), 2}});
  period_group(plot.get(), 1, true, period_same_minute, period_minute_key);
  // A flat run merges; every change of price, and every NaN, starts a bar.
  ASSERT_EQ(plot->count, 4);
  EXPECT_EQ(plot->volume[0], 2);
  EXPECT_TRUE(std::isnan(plot->close[1]));
  EXPECT_TRUE(std::isnan(plot->close[2]));
  EXPECT_EQ(plot->close[3], 2);
}

TEST(Period, SentinelAndRange) {
  struct Row {
    int32_t kind, eod;
    ss_time sentinel;
    bool range_reset;
  };
  const Row rows[] = {
      {kPeriodMinutes, 0, at(3, 10, 6, 30), true},
      {kPeriodDays, 1, at(4, 10, 5, 30), true},
      {kPeriodNone, 0, at(3, 10, 6, 30), false},
      {kPeriodAll, 1, at(4, 10, 5, 30), false},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    fill(plot, {{at(3, 10, 5, 0), 1}, {at(3, 10, 5, 30), 2}});
    plot->period = r.kind;
    plot->period_count = 1;
    plot->eod = r.eod;
    plot->value_low = 1;
    plot->value_high = 2;
    ASSERT_EQ(period_bucket(plot.get()), 0);
    EXPECT_EQ(plot->times[plot->count], r.sentinel) << r.kind;
    EXPECT_EQ(plot->value_low, r.range_reset ? kChartNoValue : 1) << r.kind;
    EXPECT_EQ(plot->value_high, r.range_reset ? -kChartNoValue : 2) << r.kind;
  }
  // An empty plot: no sentinel, the range reset.
  TestPlot empty;
  ASSERT_EQ(alloc_chart_values(empty.get(), 4), 0);
  empty->period = kPeriodMinutes;
  empty->times[0] = 77;
  ASSERT_EQ(period_bucket(empty.get()), 0);
  EXPECT_EQ(empty->count, 0);
  EXPECT_EQ(empty->times[0], 77u);
  EXPECT_EQ(empty->value_low, kChartNoValue);
  // An unknown kind changes nothing.
  TestPlot bad;
  fill(bad, {{at(3, 10, 5, 0), 1}, {at(3, 10, 5, 0), 2}});
  bad->period = 10;
  bad->times[2] = 5;
  LogCapture log;
  EXPECT_EQ(period_bucket(bad.get()), -1);
  EXPECT_TRUE(log.has("unknown period 10"));
  EXPECT_EQ(bad->count, 2);
  EXPECT_EQ(bad->times[2], 5u);
}

TEST(Period, AutomaticOn600Pixels) {
  ss_stock stock{};
  stock.kind = 1;
  stock.exchange = bare_exchange(2);
  bare_exchange(2)->date = sstime_pack_date(20, 3, 2025);
  struct Row {
    const char* what;
    int32_t range, count;
    std::vector<Sample> in;
    int32_t bars;
  };
  const std::vector<Row> rows = {
      // One day over 36000 s: 60 s a pixel, seconds with the close split.
      {"one day",
       5,
       1,
       {{at(20, 8, 0), 1}, {at(20, 10, 0), 1}, {at(20, 10, 0), 2}, {at(20, 12, 0), 3}, {at(20, 12, 0), 3},
        {at(20, 18, 0), 4}},
       5},
      // 30 days: 1800 s a pixel, 30-minute bars without the split.
      {"thirty days",
       5,
       30,
       {{at(20, 10, 0), 1}, {at(20, 10, 29), 2}, {at(20, 10, 30), 3}, {at(20, 10, 59, 59), 4}},
       2},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    fill(plot, r.in);
    plot->main = &stock;
    plot->range = r.range;
    plot->range_count = r.count;
    plot->plot_w = 600;
    plot->options = kChartOptAutoPeriod;
    plot->period = 77;  // not looked at
    ASSERT_EQ(period_bucket(plot.get()), 0);
    EXPECT_EQ(plot->count, r.bars) << r.what;
  }
  TestPlot plot;
  fill(plot, {{at(20, 10, 0), 1}});
  plot->main = &stock;
  plot->range = 7;
  plot->plot_w = 600;
  plot->options = kChartOptAutoPeriod;
  LogCapture log;
  EXPECT_EQ(period_bucket(plot.get()), 0);
  EXPECT_TRUE(log.has("not expecting range 7"));
}

// Bucketing equals a brute-force group-by on calendar fields read with
// sstime_unpack, over seeded random intraday samples on several days.
TEST(Period, MatchesBruteForceGroupBy) {
  std::mt19937 rng(4242);
  using Key = std::tuple<int, int, int, int, int, int>;
  for (int round = 0; round < 40; round++) {
    int32_t kind = 1 + (int32_t)(rng() % 7);  // seconds .. months
    int32_t count = 1 + (int32_t)(rng() % 15);
    std::vector<Sample> in;
    ss_time t = at(1 + (int)(rng() % 5), 9, 0);
    int n = 50 + (int)(rng() % 400);
    for (int i = 0; i < n; i++) {
      t = sstime_add_seconds(t, (int32_t)(rng() % (kind >= kPeriodDays ? 200000 : 900)));
      in.push_back({t, (double)(rng() % 50), (double)(rng() % 9)});
    }
    auto key = [&](ss_time x) -> Key {
      sstime_parts p;
      sstime_unpack(&p, x);
      switch (kind) {
        case kPeriodSeconds:
          return {p.year, p.mon, p.mday, p.hour, p.min, p.sec};
        case kPeriodMinutes:
          return {p.year, p.mon, p.mday, p.hour, p.min - p.min % (count >= 2 ? count : 1), 0};
        case kPeriodHours:
          return {p.year, p.mon, p.mday, p.hour, 0, 0};
        case kPeriodSessions:
          return {p.year, p.mon, p.mday, p.hour < 12, 0, 0};
        case kPeriodDays:
          return {p.year, p.mon, p.mday, 0, 0, 0};
        case kPeriodWeeks:
          return {sstime_week_number(x), 0, 0, 0, 0, 0};
        default:
          return {p.year, p.mon, 0, 0, 0, 0};
      }
    };
    std::vector<Bar> want;
    Key last{};
    for (size_t i = 0; i < in.size(); i++) {
      const Sample& s = in[i];
      Key k = key(s.t);
      if (i == 0 || k != last) {
        want.push_back({s.t, s.close, s.close + 1, s.close - 1, s.close, s.volume});
      } else {
        Bar& b = want.back();
        b.high = std::max(b.high, s.close + 1);
        b.low = std::min(b.low, s.close - 1);
        b.close = s.close;
        b.volume += s.volume;
      }
      last = k;
    }
    TestPlot plot;
    fill(plot, in);
    plot->period = kind;
    plot->period_count = count;
    plot->eod = kind >= kPeriodDays;
    ASSERT_EQ(period_bucket(plot.get()), 0);
    ASSERT_EQ(plot->count, (int32_t)want.size()) << "kind " << kind << " count " << count;
    for (size_t k = 0; k < want.size(); k++) {
      if (kind >= kPeriodDays) EXPECT_EQ(plot->times[k], want[k].t);  // the first sample's time
      else
        EXPECT_EQ(key(plot->times[k]), key(want[k].t));
      EXPECT_EQ(plot->open[k], want[k].open);
      EXPECT_EQ(plot->high[k], want[k].high);
      EXPECT_EQ(plot->low[k], want[k].low);
      EXPECT_EQ(plot->close[k], want[k].close);
      EXPECT_EQ(plot->volume[k], want[k].volume);
    }
  }
}

}  // namespace
