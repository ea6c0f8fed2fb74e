// Time placement: span ends on a fixed clock, bar widths, the span for each
// range kind and set of ends, automatic packing, days side by side, and the
// widening of the price range.
#include "charts/align.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "chart_fixture.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

time_t g_wall;
time_t fake_wall() { return g_wall; }

// Local time is UTC here, and the wall clock is the test's.
class AlignRuntime : public ChartRuntime {
 public:
  void SetUp() override {
    ChartRuntime::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_EQ(sstime_init(), 0);
    sstime_set_test_wallclock(fake_wall);
  }
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new AlignRuntime);

void set_now(int day, int hour, int min) {
  struct tm tm {};
  tm.tm_year = 2025 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  g_wall = timegm(&tm);
  ASSERT_EQ(sstime_set_base(1), 0);
}

ss_time at(int day, int hour, int min = 0, int sec = 0) { return sstime_pack(sec, min, hour, day, 3, 2025); }
ss_time day(int d) { return sstime_pack_date(d, 3, 2025); }

// An exchange opening 10:00, closing 16:00, its day 08:00 to 19:00.
instr* glb_stock() {
  static ss_stock stock{};
  stock.kind = 1;
  stock.exchange = bare_exchange(2);
  bare_exchange(2)->date = day(20);
  return &stock;
}

TEST(Align, SpanEnds) {
  instr* in = glb_stock();
  struct Row {
    int now_hour;
    int32_t type;
    const instr* in;
    ss_time t, fallback;
    uint32_t options;
    ss_time want;
  };
  const Row rows[] = {
      {12, kSpanTime, in, at(3, 14, 5), 0, 0, at(3, 14, 5)},
      {12, kSpanTime, in, 0, at(4, 9), 0, at(4, 9)},  // the fallback for a stored 0
      {12, kSpanDate, in, at(3, 14, 5), 0, 0, day(3)},
      {12, kSpanDay10, in, at(3, 14, 5), 0, 0, at(3, 10)},
      {12, kSpanDay17, in, at(3, 14, 5), 0, 0, at(3, 17)},
      {12, kSpanFallback, in, at(3, 14, 5), at(9, 1), 0, at(9, 1)},
      {12, 9, in, at(3, 14, 5), 0, 0, 0},
      {12, kSpanNow, nullptr, 0, 0, 0, at(20, 12)},  // local now
      {21, kSpanNow, nullptr, 0, 0, 0, at(20, 21)},
      {21, kSpanNow, in, 0, 0, 0, at(20, 19)},  // held within the trading day
      {7, kSpanNow, in, 0, 0, 0, at(20, 8)},
      {21, kSpanNow, in, 0, 0, kChartOptOpenClamp, at(20, 16)},
      {7, kSpanNow, in, 0, 0, kChartOptOpenClamp, at(20, 10)},
      {21, kSpanNow, in, 0, 0, kChartOptDayClamp, at(20, 19)},
  };
  for (const Row& r : rows) {
    set_now(20, r.now_hour, 0);
    EXPECT_EQ(align_span_end(r.type, r.in, r.t, r.fallback, r.options), r.want)
        << "type " << r.type << " now " << r.now_hour << " options " << r.options;
  }
}

// Daily samples on every day of March, at 00:00.
void march(TestPlot& plot, int32_t pane_w = 600) {
  std::vector<double> closes(31, 10.0), volume(31, 100.0);
  plot.set_closes(closes, volume);
  for (int i = 0; i < 31; i++) plot->times[i] = day(i + 1);
  plot->eod = 1;
  plot->pane_x = 0;
  plot->pane_w = pane_w;
}

TEST(Align, BarWidths) {
  struct Row {
    int32_t type;
    uint32_t options;
    int32_t samples, pane_w;
    uint32_t want;
  };
  const Row rows[] = {
      {2, 0, 10, 100, 8},                 // 2 grows by 1 while below 100/10 - 1
      {4, 0, 10, 100, 7},                 // 3 by 2: 5, 7, 9 reaches, back to 7
      {4, kChartOptThick, 10, 100, 6},    // 6 by 2 below 10 - 2
      {3, 0, 50, 100, 1},                 // no room to grow
      {0, 0, 10, 100, 8},                 // other types: base = step = gap
      {7, kChartOptThick, 4, 100, 21},    // 6 by 3 below 25 - 2: 21
      {4, kChartOptThin, 10, 100, 1},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    plot.set_closes(std::vector<double>(r.samples, 1.0));
    plot->range = kRangeAll;
    plot->type = r.type;
    plot->options = r.options;
    plot->pane_w = r.pane_w;
    align_time_axis(plot.get());
    ASSERT_EQ(plot->last_visible - plot->first_visible + 1, r.samples);
    EXPECT_EQ(plot->bar_width[0], r.want) << "type " << r.type << " options " << r.options;
  }
}

TEST(Align, VolumeWidths) {
  struct Row {
    int32_t type;
    uint32_t options;
    std::vector<double> volume;
    std::vector<uint32_t> want;
  };
  const std::vector<Row> rows = {
      {5, 0, {0, 5, 10, 50, 95, 100}, {3, 3, 5, 13, 21, 21}},
      {11, kChartOptThick, {0, 5, 10, 50, 95, 100}, {4, 4, 6, 14, 22, 22}},
      {5, 0, {0, 0, 0}, {3, 3, 3}},  // an index: no volumes
      {5, kChartOptThin, {0, 100}, {1, 1}},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    plot.set_closes(std::vector<double>(r.volume.size(), 1.0), r.volume);
    plot->range = kRangeAll;
    plot->type = r.type;
    plot->options = r.options;
    plot->pane_w = 600;
    align_time_axis(plot.get());
    for (size_t i = 0; i < r.want.size(); i++) EXPECT_EQ(plot->bar_width[i], r.want[i]) << i;
  }
}

// Each range kind with each set of ends present.
TEST(Align, SpanMatrix) {
  instr* in = glb_stock();
  struct Row {
    const char* what;
    int32_t range, count;
    int32_t from_type, mid_type, to_type;
    ss_time from, mid, to;
    ss_time fallback_from, fallback_to;
    int32_t first, last;
  };
  const Row rows[] = {
      {"from, 3 days", kRangeDays, 3, kSpanDate, 0, 0, at(10, 9), 0, 0, 0, 0, 9, 12},
      {"from, 2 hours meet", kRangeHours, 2, kSpanTime, 0, 0, at(10, 1), 0, 0, 0, 0, 9, 10},
      {"from, automatic", kRangeAuto, 1, kSpanDate, 0, 0, day(25), 0, 0, 0, 0, 24, 30},
      {"from, 1 month", kRangeMonths, 1, kSpanDate, 0, 0, day(1), 0, 0, 0, 0, 0, 30},
      {"from, 90000 seconds", kRangeSeconds, 90000, kSpanTime, 0, 0, at(10, 1), 0, 0, 0, 0, 9, 10},
      {"from, 2880 minutes", kRangeMinutes, 2880, kSpanDate, 0, 0, day(10), 0, 0, 0, 0, 9, 11},
      {"from, 1 year", kRangeYears, 1, kSpanDate, 0, 0, day(29), 0, 0, 0, 0, 28, 30},
      {"from, to the end of its year", kRangeYearToDate, 1, kSpanDate, 0, 0, day(29), 0, 0, 0, 0, 28, 30},
      {"to, 3 days", kRangeDays, 3, 0, 0, kSpanDate, 0, 0, day(20), 0, 0, 17, 19},
      {"to, 1 month", kRangeMonths, 1, 0, 0, kSpanDate, 0, 0, day(20), 0, 0, 0, 19},
      {"to, 1 year", kRangeYears, 1, 0, 0, kSpanDate, 0, 0, day(20), 0, 0, 0, 19},
      {"to, year to date", kRangeYearToDate, 1, 0, 0, kSpanDate, 0, 0, day(20), 0, 0, 0, 19},
      {"to now, 2 days", kRangeDays, 2, 0, 0, kSpanNow, 0, 0, 0, 0, 0, 18, 19},
      {"to, 36 hours", kRangeHours, 36, 0, 0, kSpanTime, 0, 0, at(20, 12), 0, 0, 18, 19},
      {"mid, 4 days", kRangeDays, 4, 0, kSpanTime, 0, 0, at(15, 12), 0, 0, 0, 13, 16},
      {"mid, 10 days from the start", kRangeDays, 10, 0, kSpanTime, 0, 0, day(2), 0, day(1), 0, 0, 10},
      {"mid, 10 days to the end", kRangeDays, 10, 0, kSpanTime, 0, 0, day(30), 0, day(1), day(31), 20, 30},
      {"mid, automatic", kRangeAuto, 1, 0, kSpanTime, 0, 0, day(15), 0, 0, 0, 0, 30},
      {"mid, 48 hours", kRangeHours, 48, 0, kSpanTime, 0, 0, at(15, 12), 0, 0, 0, 14, 15},
      {"mid, 1 month of 32 days", kRangeMonths, 1, 0, kSpanTime, 0, 0, day(16), 0, day(1), day(31), 0, 30},
      {"mid, 1 year of 365 days", kRangeYears, 1, 0, kSpanTime, 0, 0, day(16), 0, day(2), day(30), 1, 29},
      {"mid, year", kRangeYearToDate, 1, 0, kSpanTime, 0, 0, day(15), 0, day(3), day(28), 2, 27},
      {"all", kRangeAll, 1, kSpanDate, 0, kSpanDate, day(2), 0, day(4), day(5), day(25), 4, 24},
      {"no ends", kRangeDays, 3, 0, 0, 0, 0, 0, 0, day(6), day(8), 5, 7},
  };
  for (const Row& r : rows) {
    set_now(20, 12, 0);
    TestPlot plot;
    march(plot);
    plot->main = in;
    plot->range = r.range;
    plot->range_count = r.count;
    plot->from_type = r.from_type;
    plot->mid_type = r.mid_type;
    plot->to_type = r.to_type;
    plot->from = r.from;
    plot->mid = r.mid;
    plot->to = r.to;
    plot->fallback_from = r.fallback_from;
    plot->fallback_to = r.fallback_to;
    plot->first_visible = plot->last_visible = 0;  // none set yet
    align_time_axis(plot.get());
    EXPECT_EQ(plot->first_visible, r.first) << r.what;
    EXPECT_EQ(plot->last_visible, r.last) << r.what;
  }
}

// Today up to now: now is held at the day's end (19:00), yet trades of the
// same date stamped later are shown; a sample of a later date is not.
TEST(Align, TodayReachesTheLateTradesOfItsDate) {
  instr* in = glb_stock();
  struct Row {
    const char* what;
    std::vector<ss_time> times;
    int32_t last;
  };
  const Row rows[] = {
      {"within the day", {at(20, 10), at(20, 15), at(20, 18)}, 2},
      {"after the day's end", {at(20, 10), at(20, 15), at(20, 20), at(20, 21)}, 3},
      {"a later date", {at(20, 10), at(20, 15), at(20, 21), at(21, 10)}, 2},
  };
  for (const Row& r : rows) {
    set_now(20, 21, 30);
    TestPlot plot;
    plot.set_closes(std::vector<double>(r.times.size(), 10.0));
    for (size_t i = 0; i < r.times.size(); i++) plot->times[i] = r.times[i];
    plot->pane_x = 0;
    plot->pane_w = 600;
    plot->main = in;
    plot->range = kRangeDays;
    plot->range_count = 1;
    plot->to_type = kSpanNow;
    plot->first_visible = plot->last_visible = 0;
    align_time_axis(plot.get());
    EXPECT_EQ(plot->first_visible, 0) << r.what;
    EXPECT_EQ(plot->last_visible, r.last) << r.what;
  }
}

TEST(Align, AutomaticPacking) {
  // 30 bars 3 wide in 40 pixels: 3 pixels apart from the right edge at 38
  // while they stay right of pixel 1; the first visible moves up.
  TestPlot plot;
  plot.set_closes(std::vector<double>(30, 1.0));
  plot->range = kRangeAuto;
  plot->type = 4;
  plot->pane_w = 40;
  align_time_axis(plot.get());
  EXPECT_EQ(plot->first_visible, 18);
  EXPECT_EQ(plot->last_visible, 29);
  EXPECT_EQ(plot->xpos[29], 38u);
  EXPECT_EQ(plot->xpos[18], 5u);
  // Five bars fit with room to spare: spread evenly over the usable width.
  TestPlot few;
  few.set_closes(std::vector<double>(5, 1.0));
  few->range = kRangeAuto;
  few->type = 4;
  few->pane_w = 40;
  align_time_axis(few.get());
  EXPECT_EQ(few->first_visible, 0);
  const uint32_t want[] = {2, 11, 20, 29, 38};
  for (int i = 0; i < 5; i++) EXPECT_EQ(few->xpos[i], want[i]) << i;
}

TEST(Align, NightsAndWeekendsTakeNoRoom) {
  // Friday 14 March 10:00 and 16:00, Monday 17 March 10:00, 13:00, 16:00:
  // two six-hour days on 120 pixels ending at 130.
  TestPlot plot;
  plot.set_closes({1, 2, 3, 4, 5});
  const ss_time times[] = {at(14, 10), at(14, 16), at(17, 10), at(17, 13), at(17, 16)};
  for (int i = 0; i < 5; i++) plot->times[i] = times[i];
  align_day_positions(plot.get(), 130, 120, at(17, 16));
  const uint32_t want[] = {10, 70, 70, 100, 130};
  for (int i = 0; i < 5; i++) EXPECT_EQ(plot->xpos[i], want[i]) << i;
  EXPECT_EQ(plot->day_count, 2);
  EXPECT_EQ(plot->days[1].offset, 21600);

  // An open end holds the last day at now: Monday runs to 19:00.
  plot->to_type = kSpanNow;
  align_day_positions(plot.get(), 130, 120, at(17, 19));
  EXPECT_EQ(plot->xpos[4], (uint32_t)(130 - 3 * 3600 * 120 / (6 * 3600 + 9 * 3600)));

  // One sample a day: nothing to spread.
  TestPlot flat;
  flat.set_closes({1, 2});
  flat->times[0] = at(14, 10);
  flat->times[1] = at(17, 10);
  LogCapture log;
  align_day_positions(flat.get(), 130, 120, at(17, 10));
  EXPECT_TRUE(log.has("range is zero"));
  EXPECT_EQ(flat->xpos[0], 130u);

  // More than 32 days keep the newest 32; the older days' samples find no
  // segment left.
  TestPlot many;
  std::vector<double> closes(80, 1.0);
  many.set_closes(closes);
  for (int i = 0; i < 80; i++) many->times[i] = sstime_add_seconds(sstime_add_days(at(1, 10), i / 2), 3600 * (i % 2));
  LogCapture log2;
  align_day_positions(many.get(), 500, 400, 0);
  EXPECT_TRUE(log2.has("should be more than 32 days"));
  EXPECT_TRUE(log2.has("underflowed?"));
  EXPECT_EQ(many->xpos[79], 500u);
  EXPECT_EQ(many->day_count, 32);
}

// An intraday chart with a clamped "now" places through the day table.
TEST(Align, IntradayUsesDayPositions) {
  set_now(17, 16, 0);
  TestPlot plot;
  plot.set_closes({1, 2, 3});
  const ss_time times[] = {at(14, 10), at(14, 16), at(17, 10)};
  for (int i = 0; i < 3; i++) plot->times[i] = times[i];
  plot->range = kRangeAll;
  plot->options = kChartOptDayClamp;
  plot->pane_w = 200;
  align_time_axis(plot.get());
  EXPECT_EQ(plot->day_count, 2);
  EXPECT_EQ(plot->xpos[1], plot->xpos[2]);  // Friday's close meets Monday's open
}

TEST(Align, PadRange) {
  struct Row {
    double low, high;
    uint32_t options;
    double want_low, want_high;
  };
  const Row rows[] = {
      {0, 10, 0, 0, 11}, {5, 15, 0, 4, 16}, {-10, 10, 0, -10, 12}, {5, 5, 0, 5, 5}, {5, 15, kChartOptNoPad, 5, 15},
  };
  for (const Row& r : rows) {
    chart_plot plot{};
    plot.value_low = r.low;
    plot.value_high = r.high;
    plot.options = r.options;
    align_pad_range(&plot);
    EXPECT_DOUBLE_EQ(plot.value_low, r.want_low);
    EXPECT_DOUBLE_EQ(plot.value_high, r.want_high);
  }
}

}  // namespace
