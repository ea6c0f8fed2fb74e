// The time axis on fixed font metrics: label sequences (text and x) for
// end-of-day and intraday spans, replacement of an overlapped label, dropped
// minute marks and the right-edge drop; a seeded property run over spans and
// widths; and the time / sample / pixel conversions both ways.
#include "charts/util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "axis_fixture.h"
#include "charts/period.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

class UtilRuntime : public ChartRuntime {
 public:
  void SetUp() override {
    ChartRuntime::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
  }
};
::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new UtilRuntime);

using Seq = std::vector<std::pair<std::string, int32_t>>;

ss_time date(int y, int m, int d) { return sstime_pack_date(d, m, y); }
ss_time at(ss_time day, int hour, int min = 0) { return day | (ss_time)(hour * 3600 + min * 60); }

// Every weekday from a to b.
std::vector<ss_time> weekdays(ss_time a, ss_time b) {
  std::vector<ss_time> v;
  for (ss_time t = a; t && t <= b; t = sstime_add_days(t, 1))
    if (!sstime_is_weekend(t)) v.push_back(t);
  return v;
}

// The first sample of each (date, text) boundary, as (text, its x + 2).
Seq expect_at(const AxisPlot& plot, const std::vector<std::pair<ss_time, std::string>>& rows) {
  Seq out;
  const chart_plot& p = plot.p;
  for (const auto& r : rows) {
    int32_t i = 0;
    while (i < p.count && p.times[i] < r.first) i++;
    out.push_back({r.second, (int32_t)p.xpos[i] + 2});
  }
  return out;
}

TEST(TimeAxis, EndOfDayFlags) {
  // Each level is tried in turn: one whose labels fit ends the choice, one
  // whose lines fit adds them and the next level is still tried.
  struct Row {
    int32_t days, width;
    uint32_t flags;
  } rows[] = {
      {2, 600, 0x25},          {13, 600, 0x25},         {30, 200, 38},           {181, 600, 0x2000 | 36},
      {600, 600, 0x4000 | 48}, {728, 600, 0x4000 | 48}, {1825, 600, 48},         {1000, 300, 0x8000 | 32},
      {1000, 150, 0x8000 | 64}, {1000, 100, 64},        {1000, 60, 128},         {3000, 100, 0x100},
      {3000, 60, 0x10000},     {0, 600, 0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(util_eod_flags(r.days, r.width, 8), r.flags) << r.days << " days on " << r.width;
}

TEST(TimeAxis, EndOfDaySpans) {
  struct Row {
    const char* name;
    int32_t width;
    ss_time from, to;
    std::vector<std::pair<ss_time, std::string>> labels;  // boundary date, text
  };
  std::vector<Row> rows = {
      {"3 days", 600, date(2025, 3, 3), date(2025, 3, 5), {{date(2025, 3, 4), "4"}, {date(2025, 3, 5), "5"}}},
      {"2 weeks",
       600,
       date(2025, 3, 3),
       date(2025, 3, 14),
       {{date(2025, 3, 4), "4"},
        {date(2025, 3, 5), "5"},
        {date(2025, 3, 6), "6"},
        {date(2025, 3, 7), "7"},
        {date(2025, 3, 10), "10"},
        {date(2025, 3, 11), "11"},
        {date(2025, 3, 12), "12"},
        {date(2025, 3, 13), "13"},
        {date(2025, 3, 14), "14"}}},
      {"6 months",
       600,
       date(2024, 10, 1),
       date(2025, 3, 31),
       {{date(2024, 11, 1), "Nov"},
        {date(2024, 12, 1), "Dec"},
        {date(2025, 1, 1), "2025"},
        {date(2025, 2, 1), "Feb"},
        {date(2025, 3, 1), "Mar"}}},
      {"2 years", 600, date(2023, 7, 3), date(2025, 6, 30), {{date(2024, 1, 1), "2024"}, {date(2025, 1, 1), "2025"}}},
      {"5 years",
       600,
       date(2020, 7, 1),
       date(2025, 6, 30),
       {{date(2021, 1, 1), "2021"},
        {date(2022, 1, 1), "2022"},
        {date(2023, 1, 1), "2023"},
        {date(2024, 1, 1), "2024"},
        {date(2025, 1, 1), "2025"}}},
      // Two-digit years divisible by four.
      {"11 years narrow",
       100,
       date(2015, 1, 1),
       date(2025, 12, 31),
       {{date(2016, 1, 1), "16"}, {date(2020, 1, 1), "20"}, {date(2024, 1, 1), "24"}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<ss_time> t = weekdays(r.from, r.to);
    AxisPlot plot(t, spread((int32_t)t.size(), r.width), r.width);
    plot->eod = 1;
    chart_axes a = fixed_axes();
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    EXPECT_EQ(label_seq(a.time), expect_at(plot, r.labels));
    int32_t q = r.width / kGlyphW;  // list rooms from the digit count
    EXPECT_EQ(a.time.major.room, (size_t)(2 * q + 20));
    EXPECT_EQ(a.time.labels.room, (size_t)(5 * (8 * q + 80)));
    EXPECT_FALSE(a.time.major.items.empty() && a.time.minor.items.empty());
  }
}

TEST(TimeAxis, EndOfDayLines) {
  // Three days: day lines are minor. Five years: a major line a year and a
  // minor one each July, no other month.
  std::vector<ss_time> t = weekdays(date(2025, 3, 3), date(2025, 3, 5));
  AxisPlot three(t, spread(3, 600), 600);
  three->eod = 1;
  chart_axes a = fixed_axes();
  ASSERT_EQ(util_time_labels(three.get(), &a), 0);
  EXPECT_EQ(a.time.minor.items, (std::vector<int32_t>{310, 510}));
  EXPECT_TRUE(a.time.major.items.empty());

  t = weekdays(date(2020, 7, 1), date(2025, 6, 30));
  AxisPlot five(t, spread((int32_t)t.size(), 600), 600);
  five->eod = 1;
  ASSERT_EQ(util_time_labels(five.get(), &a), 0);
  EXPECT_EQ(a.time.major.items.size(), 5u);
  EXPECT_EQ(a.time.minor.items.size(), 4u);  // July of 2021 .. 2024
}

TEST(TimeAxis, NothingToLabel) {
  chart_axes a = fixed_axes();
  a.time.major.begin(4);
  a.time.major.add(1);
  AxisPlot one_day({at(date(2025, 3, 3), 10), at(date(2025, 3, 3), 11)}, {100, 200}, 600);
  one_day->eod = 1;
  EXPECT_EQ(util_time_labels(one_day.get(), &a), -1);
  EXPECT_TRUE(a.time.major.items.empty());
  AxisPlot none({}, {}, 600);
  EXPECT_EQ(util_time_labels(none.get(), &a), -1);
  AxisPlot narrow({date(2025, 3, 3), date(2025, 3, 6)}, {10, 10}, 0);
  narrow->eod = 1;
  EXPECT_EQ(util_time_labels(narrow.get(), &a), -1);
}

TEST(TimeAxis, LaterBoundaryReplacesAndRightEdgeDrops) {
  // Days 24 pixels apart: "2025" (32 wide) is overlapped by the next day's
  // label, which replaces it; "3" at 108 would pass the clip's edge at 110.
  std::vector<ss_time> t;
  for (int d = 30; d <= 31; d++) t.push_back(date(2024, 12, d));
  for (int d = 1; d <= 3; d++) t.push_back(date(2025, 1, d));
  AxisPlot plot(t, {10, 34, 58, 82, 106}, 100);
  plot->eod = 1;
  chart_axes a = fixed_axes();
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(label_seq(a.time), (Seq{{"31", 36}, {"2", 84}}));
  EXPECT_EQ(a.time.major.items, (std::vector<int32_t>{58}));
  EXPECT_EQ(a.time.minor.items, (std::vector<int32_t>{34, 82, 106}));
}

TEST(TimeAxis, UtilLabelRightEdge) {
  chart_axes a = fixed_axes();
  chart_list<chart_label> list;
  list.begin(100);
  util_box last{0, 0, 0, 0};
  util_box clip{10, 0, 600, 20};
  struct Row {
    int32_t x, y;
    const char* text;
    int added;
  } rows[] = {
      {500, 0, "2025", 1},  // far from the edge: not measured
      {570, 0, "2025", 1},  // 570 + 32 = 602 inside
      {580, 0, "2025", 0},  // 612 leaves the clip
      {600, 10, "1", 0},    // 10 + 12 leaves the bottom
      {600, 8, "1", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.x);
    EXPECT_EQ(util_label(&list, r.text, r.x, r.y, 0, &a.fonts, &last, clip), r.added);
    if (r.added) {
      EXPECT_EQ(last.x, r.x);
    }
  }
  EXPECT_EQ(list.items.size(), 3u);
}

// Two hours of one-minute bars from 10:00.
std::vector<ss_time> two_hours() {
  std::vector<ss_time> t;
  for (int m = 0; m < 120; m++) t.push_back(at(date(2025, 3, 4), 10 + m / 60, m % 60));
  return t;
}

TEST(TimeAxis, IntradayMinuteMarks) {
  struct Row {
    const char* name;
    int32_t width, step;  // pixels per bar
    Seq labels;
  } rows[] = {
      {"wide",
       600,
       5,
       {{":ba", 62},
        {":ca", 112},
        {":da", 162},
        {":ea", 212},
        {":fa", 262},
        {"11", 312},
        {":ba", 362},
        {":ca", 412},
        {":da", 462},
        {":ea", 512},
        {":fa", 562}}},
      // A pixel a bar: overlapping marks are left out, the hour's label
      // replaces the mark it overlaps.
      {"narrow", 120, 1, {{":ba", 22}, {":da", 42}, {"11", 72}, {":ca", 92}, {":ea", 112}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<ss_time> t = two_hours();
    std::vector<int32_t> xs;
    for (int i = 0; i < 120; i++) xs.push_back(10 + r.step * i);
    AxisPlot plot(t, xs, r.width);
    plot->eff_period = kPeriodMinutes;
    plot->eff_count = 1;
    chart_axes a = fixed_axes();
    a.today = date(2025, 3, 4);
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    EXPECT_EQ(label_seq(a.time), r.labels);
    int32_t m = std::max(50, 2 * r.width / kGlyphW);
    EXPECT_EQ(a.time.minor.room, (size_t)(2 * m));
    EXPECT_EQ(a.time.labels.room, (size_t)(40 * m));
    EXPECT_EQ(a.time.major.items, (std::vector<int32_t>{10 + 60 * r.step}));
    EXPECT_EQ(a.time.minor.items.size(), 10u);
    for (const chart_label& l : a.time.labels.items) EXPECT_EQ(l.small, l.text[0] == ':' ? 1 : 0);
  }
}

TEST(TimeAxis, IntradayMarksBySpan) {
  // Fifty minutes of bars of a period other than minutes: marks every 5.
  std::vector<ss_time> t;
  std::vector<int32_t> xs;
  for (int m = 0; m < 50; m++) {
    t.push_back(at(date(2025, 3, 4), 10, m));
    xs.push_back(10 + 12 * m);
  }
  AxisPlot plot(t, xs, 600);
  plot->eff_period = kPeriodSeconds;
  plot->eff_count = 30;
  chart_axes a = fixed_axes();
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  std::vector<std::string> texts;
  for (const chart_label& l : a.time.labels.items) texts.push_back(l.text);
  EXPECT_EQ(texts, (std::vector<std::string>{":af", ":ba", ":bf", ":ca", ":cf", ":da", ":df", ":ea", ":ef"}));
  EXPECT_EQ(a.time.labels.items.front().x, 10 + 12 * 5 + 2);
}

TEST(TimeAxis, OneDayLabelOverMidnight) {
  // Friday night into Saturday starts a week: the day is labelled by its
  // hour when the chart lies after the exchange's date, else by its name.
  ss_time fri = date(2025, 3, 7), sat = date(2025, 3, 8);
  struct Row {
    ss_time today;
    const char* label;
  } rows[] = {{date(2025, 3, 1), "0"}, {fri, "Sat"}};
  for (const Row& r : rows) {
    AxisPlot plot({at(fri, 22), at(fri, 23), at(sat, 0), at(sat, 1)}, {100, 200, 300, 400}, 600);
    plot->eff_period = kPeriodHours;
    plot->eff_count = 1;
    chart_axes a = fixed_axes();
    a.today = r.today;
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    EXPECT_EQ(label_seq(a.time), (Seq{{"23", 202}, {r.label, 302}, {"1", 402}}));
    EXPECT_EQ(a.time.major.items, (std::vector<int32_t>{200, 300, 400}));
  }
}

TEST(TimeAxis, IntradayFiveDays) {
  // Hourly bars 10:00-16:00, Monday to Friday: names with room, letters
  // at four digit widths a day or less, nothing below two.
  std::vector<ss_time> t;
  for (int d = 3; d <= 7; d++)
    for (int h = 10; h <= 16; h++) t.push_back(at(date(2025, 3, d), h));
  struct Row {
    int32_t width;
    std::vector<std::string> texts;
  } rows[] = {
      {600, {"Tue", "Wed", "Thu", "Fri"}},
      {100, {"T", "W", "T", "F"}},
      {60, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.width);
    AxisPlot plot(t, spread((int32_t)t.size(), r.width), r.width);
    plot->eff_period = kPeriodHours;
    plot->eff_count = 1;
    chart_axes a = fixed_axes();
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    std::vector<std::string> texts;
    for (const chart_label& l : a.time.labels.items) texts.push_back(l.text);
    EXPECT_EQ(texts, r.texts);
    for (size_t i = 0; i < a.time.labels.items.size(); i++) {
      int32_t day_start = 7 * (int32_t)(i + 1);  // first bar of the day
      EXPECT_EQ(a.time.labels.items[i].x, (int32_t)plot->xpos[day_start] + 2);
    }
  }
}

// The days of a chart placed by time, as the data block lays them out.
void set_days(chart_plot* p, const std::vector<std::pair<ss_time, ss_time>>& days) {
  int64_t off = 0;
  p->day_count = (int32_t)days.size();
  for (size_t i = 0; i < days.size(); i++) {
    chart_day& d = p->days[i];
    d.date = days[i].first & ~kSstimeSecondsMask;
    d.first = days[i].first;
    d.last = days[i].second;
    d.offset = off;
    d.length = sstime_diff_seconds(d.last, d.first);
    off += d.length;
  }
}

TEST(TimeAxis, OneDayPlacedByTime) {
  ss_time day = date(2025, 3, 4);
  AxisPlot plot({at(day, 10), at(day, 16)}, {9, 609}, 600);
  plot->options = kChartOptDayClamp;
  set_days(plot.get(), {{at(day, 10), at(day, 16)}});
  chart_axes a = fixed_axes();
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  // Hours 100 pixels apart: "h:00" each hour, marks every 30 minutes; the
  // 16:00 label would pass the right edge.
  Seq want;
  for (int h = 10; h <= 15; h++) {
    want.push_back({std::to_string(h) + ":00", 11 + 100 * (h - 10)});
    want.push_back({":da", 61 + 100 * (h - 10)});
  }
  EXPECT_EQ(label_seq(a.time), want);
  EXPECT_EQ(a.time.major.items, (std::vector<int32_t>{9, 109, 209, 309, 409, 509, 609}));
  EXPECT_EQ(a.time.minor.items.size(), 6u);

  plot->options |= kChartOptEdgeCut;
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(a.time.major.items.front(), 109);
  EXPECT_EQ(a.time.labels.items.front().text, ":da");

  // Narrow hours: "%d" every 2 or 4 hours.
  plot->options = kChartOptDayClamp;
  plot->plot_w = 120;  // 20 pixels an hour, 5w = 25
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(a.time.labels.items.front().text, "10");
  EXPECT_EQ(a.time.major.items.size(), 7u);
  plot->plot_w = 40;  // 6.7 an hour: steps of 2
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(a.time.major.items.size(), 4u);
  plot->plot_w = 30;  // 5 an hour: steps of 4, labelled
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(a.time.major.items.size(), 2u);  // 12:00 and 16:00
  EXPECT_FALSE(a.time.labels.items.empty());
  plot->plot_w = 12;  // 2 an hour: steps of 4, unlabelled
  ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
  EXPECT_EQ(a.time.major.items.size(), 2u);
  EXPECT_TRUE(a.time.labels.items.empty());
}

TEST(TimeAxis, DaysPlacedByTime) {
  // Friday and Monday side by side: a line and a name at each day's start,
  // major where the week changes; letters when a day has four digits or less.
  ss_time fri = date(2025, 3, 7), mon = date(2025, 3, 10);
  struct Row {
    int32_t width;
    Seq labels;
    std::vector<int32_t> major, minor;
  } rows[] = {
      {600, {{"Fri", 11}, {"Mon", 311}}, {309}, {9}},
      {60, {{"F", 11}, {"M", 41}}, {39}, {9}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.width);
    AxisPlot plot({at(fri, 10), at(fri, 16), at(mon, 10), at(mon, 16)}, {9, 309, 309, 609}, r.width);
    plot->options = kChartOptOpenClamp;
    set_days(plot.get(), {{at(fri, 10), at(fri, 16)}, {at(mon, 10), at(mon, 16)}});
    chart_axes a = fixed_axes();
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    EXPECT_EQ(label_seq(a.time), r.labels);
    EXPECT_EQ(a.time.major.items, r.major);
    EXPECT_EQ(a.time.minor.items, r.minor);
  }
}

TEST(TimeAxis, MinuteStepsPlacedByTime) {
  // One day 10:00-16:00: the smallest step whose spacing passes five small
  // digits (25 pixels). "10:00" is 40 wide: the first mark after it overlaps
  // and is left out at the two finer steps.
  ss_time day = date(2025, 3, 4);
  struct Row {
    int32_t width;
    size_t marks;  // minor lines
    const char* second_label;
  } rows[] = {
      {600, 6, ":da"},    // 30 minutes = 50 px (15 would be exactly 25)
      {1000, 30, ":ca"},  // 10 minutes = 27.8 px
      {2000, 66, ":ba"},  // 5 minutes = 27.8 px
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.width);
    AxisPlot plot({at(day, 10), at(day, 16)}, {9, 609}, r.width);
    plot->options = kChartOptDayClamp;
    set_days(plot.get(), {{at(day, 10), at(day, 16)}});
    chart_axes a = fixed_axes();
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    EXPECT_EQ(a.time.minor.items.size(), r.marks);
    ASSERT_GE(a.time.labels.items.size(), 2u);
    EXPECT_EQ(a.time.labels.items[0].text, "10:00");
    EXPECT_EQ(a.time.labels.items[1].text, r.second_label);
  }
}

TEST(TimeAxis, LabelsNeverOverlap) {
  std::mt19937 rng(20250304);
  size_t seen[3] = {0, 0, 0};  // labels laid out per kind
  for (int round = 0; round < 300; round++) {
    SCOPED_TRACE(round);
    int kind = (int)(rng() % 3);  // end-of-day, intraday by sample, by time
    int32_t width = 40 + (int32_t)(rng() % 1500);
    std::vector<ss_time> t;
    std::vector<std::pair<ss_time, ss_time>> days;
    ss_time start = sstime_add_days(date(2015, 1, 1), (int32_t)(rng() % 3000));
    int32_t period = 0, count = 1;
    if (kind == 0) {
      int32_t span = 2 + (int32_t)(rng() % 4000);
      t = weekdays(start, sstime_add_days(start, span));
    } else {
      static const int32_t kCounts[] = {1, 5, 10, 15, 30, 60};
      count = kCounts[rng() % 6];
      period = count == 60 ? kPeriodHours : kPeriodMinutes;
      int32_t ndays = 1 + (int32_t)(rng() % (kind == 2 ? 3 : 6));
      int32_t from = 36000 + (int32_t)(rng() % 4) * 600, to = 57600 - (int32_t)(rng() % 4) * 600;
      for (ss_time d = start; (int32_t)days.size() < ndays; d = sstime_add_days(d, 1)) {
        if (sstime_is_weekend(d)) continue;
        days.push_back({d | (ss_time)from, d | (ss_time)to});
        for (int32_t s = from; s <= to; s += (count == 60 ? 3600 : count * 60)) t.push_back(d | (ss_time)s);
      }
    }
    if (t.size() < 2) continue;
    AxisPlot plot(t, spread((int32_t)t.size(), width), width);
    plot->eod = kind == 0;
    plot->eff_period = period;
    plot->eff_count = count;
    if (kind == 2) {
      plot->options = kChartOptOpenClamp;
      set_days(plot.get(), days);
      for (int32_t i = 0; i < plot->count; i++) plot->xpos[i] = (uint32_t)util_sample_at(plot.get(), t[i]);
    }
    chart_axes a = fixed_axes();
    if (util_time_labels(plot.get(), &a) != 0) continue;
    const auto& labels = a.time.labels.items;
    seen[kind] += labels.size();
    for (size_t i = 0; i < labels.size(); i++) {
      EXPECT_GE(labels[i].x, plot->plot_x);
      EXPECT_LE(labels[i].x + labels[i].w, plot->plot_x + width);
      if (i) {
        EXPECT_GE(labels[i].x, labels[i - 1].x + labels[i - 1].w) << labels[i].text;
      }
    }
    for (auto* list : {&a.time.major.items, &a.time.minor.items})
      EXPECT_TRUE(std::is_sorted(list->begin(), list->end()));
  }
  for (size_t n : seen) EXPECT_GT(n, 200u);
}

// ---------------------------------------------------------------------------
// Conversions

TEST(Conversions, IndexAtTime) {
  ss_time d = date(2025, 3, 4);
  ss_time t1 = at(d, 10), t2 = at(d, 11), t3 = at(d, 12);
  AxisPlot plot({t1, t2, t2, t2, t3}, {20, 30, 40, 50, 60}, 100);
  struct Row {
    ss_time t;
    int32_t dir, want;
  } rows[] = {
      {0, 1, 0},           {t3, -1, 4},          {at(d, 13), 1, 4},  // t = 0, at and past the end
      {t2, -1, 3},         {t2, 0, 3},           {t2, 1, 4},         // equal times
      {t1, -1, 0},         {t1, 1, 3},                               // forward over the equal run
      {at(d, 10, 30), -1, 0}, {at(d, 10, 30), 1, 3},
      {at(d, 9), -1, 0},   {at(d, 9), 1, 0},                          // before the first
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.t << " dir " << r.dir);
    EXPECT_EQ(util_index_at_time(plot.get(), r.t, r.dir), r.want);
  }
  AxisPlot none({}, {}, 100);
  EXPECT_EQ(util_index_at_time(none.get(), t1, 1), -1);
}

TEST(Conversions, IndexAtX) {
  AxisPlot plot({1, 2, 3}, {20, 30, 40}, 50);  // plot 10..59
  struct Row {
    int32_t x, want;
  } rows[] = {{25, 1}, {24, 0}, {26, 1}, {35, 2}, {10, 0}, {59, 2}, {60, -1}, {9, -1}};
  for (const Row& r : rows) EXPECT_EQ(util_index_at_x(plot.get(), r.x), r.want) << r.x;
  AxisPlot none({}, {}, 50);
  EXPECT_EQ(util_index_at_x(none.get(), 20), -1);
}

TEST(Conversions, SampleChart) {
  ss_time d = date(2025, 3, 4);
  AxisPlot plot({at(d, 10), at(d, 11), at(d, 12)}, {20, 30, 40}, 50);
  struct Row {
    ss_time t;
    int32_t x;
  } to_x[] = {{at(d, 9), 20}, {at(d, 10), 20}, {at(d, 10, 59), 20}, {at(d, 11), 30}, {at(d, 15), 40}};
  for (const Row& r : to_x) EXPECT_EQ(util_sample_at(plot.get(), r.t), r.x) << r.t;
  struct Back {
    int32_t x;
    ss_time t;
  } to_t[] = {{10, at(d, 10)}, {5, at(d, 10)}, {29, at(d, 10)}, {30, at(d, 11)}, {58, at(d, 12)}, {99, at(d, 12)}};
  for (const Back& r : to_t) EXPECT_EQ(util_time_at_x(plot.get(), r.x), r.t) << r.x;
  AxisPlot none({}, {}, 50);
  EXPECT_EQ(util_sample_at(none.get(), at(d, 10)), 10);
}

TEST(Conversions, TwoDaysPlacedByTime) {
  // Friday and Monday 10:00-16:00 side by side on 600 pixels: the night and
  // the weekend take no room.
  ss_time fri = date(2025, 3, 7), mon = date(2025, 3, 10);
  AxisPlot plot({at(fri, 10), at(fri, 16), at(mon, 10), at(mon, 16)}, {9, 309, 309, 609}, 600);
  plot->options = kChartOptDayClamp;
  static ss_stock stock{};
  stock.exchange = bare_exchange(2);
  plot->main = &stock;
  set_days(plot.get(), {{at(fri, 10), at(fri, 16)}, {at(mon, 10), at(mon, 16)}});
  struct Row {
    ss_time t;
    int32_t x;
  } rows[] = {
      {at(fri, 10), 9},  {at(fri, 13), 159}, {at(fri, 16), 309}, {at(mon, 10), 309},
      {at(mon, 16), 609}, {at(fri, 8), 9},   {at(mon, 18), 609}, {at(date(2025, 3, 8), 12), -1},
  };
  for (const Row& r : rows) EXPECT_EQ(util_sample_at(plot.get(), r.t), r.x) << sstime_format_datetime(r.t);
  // The ends: past the right edge the last day at the day's end, left of the
  // plot the first day at its start.
  EXPECT_EQ(util_time_at_x(plot.get(), 610), at(mon, 19));
  EXPECT_EQ(util_time_at_x(plot.get(), 9), at(fri, 8));
  // Time to x and back lands within a pixel.
  for (int32_t m = 0; m <= 720; m += 7) {
    ss_time t = m < 360 ? at(fri, 10 + m / 60, m % 60) : at(mon, 10 + (m - 360) / 60, (m - 360) % 60);
    if (m == 720) t = at(mon, 16);
    int32_t x = util_sample_at(plot.get(), t);
    int32_t back = util_sample_at(plot.get(), util_time_at_x(plot.get(), x));
    EXPECT_LE(std::abs(back - x), 1) << sstime_format_datetime(t);
  }
}

TEST(Conversions, DaysOfNoLength) {
  ss_time d = date(2025, 3, 4);
  AxisPlot plot({at(d, 10)}, {300}, 600);
  plot->options = kChartOptDayClamp;
  EXPECT_EQ(util_time_at_x(plot.get(), 100), 0u);  // empty day table
  set_days(plot.get(), {{at(d, 10), at(d, 10)}});
  LogCapture log;
  EXPECT_EQ(util_time_at_x(plot.get(), 100), 0u);
  EXPECT_TRUE(log.has("day range is 0"));
  EXPECT_EQ(util_sample_at(plot.get(), at(d, 10)), -1);
  EXPECT_TRUE(log.has("empty range"));
}

}  // namespace
