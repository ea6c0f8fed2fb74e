// The value axis on fixed font metrics (chart font lines 12 pixels, so a
// pane of 24 x n pixels has n label rows): the step table, tick and label
// tables for price, percent and volume panes, the price-step filter, small
// panes, the range refusal and a range that rounding would never cross.
#include "charts/yaxis.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "axis_fixture.h"
#include "charts/ta.h"
#include "ssmodel.h"
#include "testmodel.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

TEST(ValueAxis, StepTable) {
  struct Row {
    int32_t row;
    double step;
    int32_t per_major, decimals, magnitude;
  } rows[] = {
      {0, 1e10, 10, 0, 9},   {3, 2e9, 5, 0, 9},      {4, 1e9, 10, 0, 6},      {16, 1e6, 10, 0, 6},
      {17, 5e5, 2, 0, 3},    {18, 2.5e5, 4, 0, 3},   {27, 2000, 5, 0, 3},     {28, 1000, 10, 0, 1},
      {38, 2.5, 4, 1, 1},    {39, 2, 5, 0, 1},       {40, 1, 10, 0, 1},       {41, 0.5, 2, 1, 1},
      {42, 0.25, 4, 2, 1},   {43, 0.2, 5, 1, 1},     {44, 0.1, 10, 1, 1},     {45, 0.05, 2, 2, 1},
      {46, 0.025, 4, 3, 1},  {50, 0.0025, 4, 4, 1},  {54, 0.00025, 4, 5, 1},  {57, 0.00005, 2, 5, 1},
      {58, 0.000025, 4, 6, 1}, {59, 0.00002, 5, 5, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.row);
    const yaxis_row* t = yaxis_step_row(r.row);
    ASSERT_NE(t, nullptr);
    EXPECT_DOUBLE_EQ(t->step, r.step);
    EXPECT_EQ(t->per_major, r.per_major);
    EXPECT_EQ(t->decimals, r.decimals);
    EXPECT_EQ(t->magnitude, r.magnitude);
  }
  EXPECT_EQ(yaxis_step_row(60)->step, 0.0);
  for (int32_t r = 1; r < kYaxisRows; r++) EXPECT_LT(yaxis_step_row(r)->step, yaxis_step_row(r - 1)->step);
  // Row picks: the first step not above r / n.
  EXPECT_EQ(yaxis_pick_row(1, 10), 44);
  EXPECT_EQ(yaxis_pick_row(1, 15), 45);
  EXPECT_EQ(yaxis_pick_row(4e6, 10), 18);
  EXPECT_EQ(yaxis_pick_row(1e-9, 10), 59);
  EXPECT_EQ(yaxis_pick_row(5, 0), 0);
}

struct Pane {
  std::vector<std::string> labels;
  std::vector<int32_t> major, minor;
  int32_t decimals;
};

// One pane at y 20 of height h, after `exchange` (or none).
Pane ticks(int32_t kind, double lo, double hi, int32_t h, int32_t exchange = -1) {
  AxisPlot plot({1}, {10}, 500);
  plot->plot_y = 0;
  static ss_stock stock{};
  if (exchange >= 0) {
    stock.exchange = bare_exchange(exchange);
    plot->main = &stock;
  }
  chart_axes a = fixed_axes();
  a.value.major.begin(1000);
  a.value.minor.begin(1000);
  a.value.labels.begin(100000);
  yaxis_ticks(plot.get(), &a, 10, 20, 500, h, kind, lo, hi);
  Pane out;
  for (const chart_label& l : a.value.labels.items) {
    out.labels.push_back(l.text);
    EXPECT_EQ(l.x, 10 + 500 + 12);
    EXPECT_EQ(l.small, 1);
  }
  out.major = a.value.major.items;
  out.minor = a.value.minor.items;
  out.decimals = a.decimals;
  return out;
}

using Texts = std::vector<std::string>;

TEST(ValueAxis, TicksAndLabels) {
  struct Row {
    const char* name;
    int32_t kind;
    double lo, hi;
    int32_t height, exchange;
    Texts labels;
    size_t majors;
    int32_t decimals;
  } rows[] = {
      {"price 10-11, n 10", 0, 10, 11, 240, 2,
       {"10", "10.b", "10.c", "10.d", "10.e", "10.f", "10.g", "10.h", "10.i", "10.j", "11"}, 2, 1},
      {"price 10-11, n 15", 0, 10, 11, 360, 2,
       {"10",    "10.af", "10.ba", "10.bf", "10.ca", "10.cf", "10.da", "10.df", "10.ea", "10.ef", "10.fa",
        "10.ff", "10.ga", "10.gf", "10.ha", "10.hf", "10.ia", "10.if", "10.ja", "10.jf", "11"},
       11, 2},
      {"percent -3..5, n 5", 1, -3, 5, 120, -1,
       {"-3%", "-2%", "-1%", " 0%", "+1%", "+2%", "+3%", "+4%", "+5%"}, 1, 0},
      {"volume 0-4,000,000, n 10", 2, 0, 4e6, 240, -1,
       {"0K", "250K", "500K", "750K", "1000K", "1250K", "1500K", "1750K", "2000K", "2250K", "2500K", "2750K",
        "3000K", "3250K", "3500K", "3750K", "4000K"},
       5, 0},
      // Exchange 0 has half-cent steps from 10 cents: 10.1 .. 10.4 are no prices.
      {"price 10-11 on exchange 0", 0, 10, 11, 240, 0, {"10", "10.f", "11"}, 2, 1},
      // Below 0 (a band under 0 on the price pane) the filter does not apply;
      // read as an unsigned price, -3 would fall off the steps.
      {"price -3..3 on exchange 0", 0, -3, 3, 144, 0, {"-3", "-2", "-1", "0", "1", "2", "3"}, 1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Pane p = ticks(r.kind, r.lo, r.hi, r.height, r.exchange);
    EXPECT_EQ(p.labels, r.labels);
    EXPECT_EQ(p.major.size(), r.majors);
    EXPECT_EQ(p.decimals, r.decimals);
  }
}

TEST(ValueAxis, LinePositions) {
  // 10-11 over 240 pixels from y 20: majors at the ends, minors between.
  Pane p = ticks(0, 10, 11, 240, 2);
  EXPECT_EQ(p.major, (std::vector<int32_t>{260, 20}));
  ASSERT_EQ(p.minor.size(), 9u);
  for (size_t i = 0; i < p.minor.size(); i++) EXPECT_NEAR(p.minor[i], 260 - 24 * (int32_t)(i + 1), 1);
  // Volume: majors at every 1000K.
  p = ticks(2, 0, 4e6, 240);
  EXPECT_EQ(p.major, (std::vector<int32_t>{260, 200, 140, 80, 20}));
}

TEST(ValueAxis, LabelsKeepOffTheChartTop) {
  AxisPlot plot({1}, {10}, 500);
  plot->plot_y = 20;
  chart_axes a = fixed_axes();
  a.value.major.begin(100);
  a.value.minor.begin(100);
  a.value.labels.begin(1000);
  yaxis_ticks(plot.get(), &a, 10, 20, 500, 240, 0, 10, 11);
  EXPECT_EQ(a.value.major.items.size(), 2u);
  ASSERT_EQ(a.value.labels.items.size(), 10u);  // 11 at y 20 gets a line, no label
  EXPECT_EQ(a.value.labels.items.back().text, "10.j");
}

TEST(ValueAxis, RefusalsAndSmallPanes) {
  LogCapture log;
  Pane p = ticks(2, 0, 2e11, 240);
  EXPECT_TRUE(p.labels.empty() && p.major.empty() && p.minor.empty());
  EXPECT_TRUE(log.has("won't do range 200000000000"));
  EXPECT_TRUE(ticks(0, FLT_MAX, FLT_MAX, 240).major.empty());
  EXPECT_TRUE(ticks(0, 5, 5, 240).major.empty());

  // The whole update: a pane of 9 pixels gets nothing, of 10 an axis.
  for (int32_t h : {9, 10}) {
    AxisPlot plot({1}, {10}, 500);
    plot->pane_h = h;
    plot->value_low = 10;
    plot->value_high = 11;
    chart_axes a = fixed_axes();
    a.decimals = 7;
    EXPECT_EQ(yaxis_compute(plot.get(), &a), 0);
    EXPECT_EQ(a.value.major.items.empty() && a.value.minor.items.empty(), h < 10) << h;
  }
  // No range: decimals 0, lists cleared.
  AxisPlot flat({1}, {10}, 500);
  flat->value_low = flat->value_high = 3;
  chart_axes a = fixed_axes();
  a.decimals = 7;
  a.value.major.begin(4);
  a.value.major.add(3);
  EXPECT_EQ(yaxis_compute(flat.get(), &a), 0);
  EXPECT_EQ(a.decimals, 0);
  EXPECT_TRUE(a.value.major.items.empty());
}

TEST(ValueAxis, ComputeCoversThePriceAndIndicatorPanes) {
  // A percent-scaled price pane and a volume-labelled indicator pane.
  int32_t volume_id = -1;
  for (int32_t id = 0; id < 256 && volume_id < 0; id++) {
    const ta_def* def = ta_indicator_def(id);
    if (def && def->label_kind == 2) volume_id = id;
  }
  ASSERT_GE(volume_id, 0);
  AxisPlot plot({1}, {10}, 500);
  plot->plot_y = 0;
  plot->plot_h = 500;
  plot->pane_h = 120;
  plot->scale = 9;
  plot->value_low = -3;
  plot->value_high = 5;
  chart_ta* ta = alloc_add_indicator(plot.get(), volume_id);
  ASSERT_NE(ta, nullptr);
  ta->pane_x = 10;
  ta->pane_y = 150;
  ta->pane_w = 500;
  ta->pane_h = 240;
  ta->value_low = 0;
  ta->value_high = 4e6;
  chart_axes a = fixed_axes();
  ASSERT_EQ(yaxis_compute(plot.get(), &a), 0);
  std::vector<std::string> texts;
  for (const chart_label& l : a.value.labels.items) texts.push_back(l.text);
  ASSERT_EQ(texts.size(), 9u + 17u);
  EXPECT_EQ(texts.front(), "-3%");
  EXPECT_EQ(texts[8], "+5%");
  EXPECT_EQ(texts[9], "0K");
  EXPECT_EQ(texts.back(), "4000K");
  EXPECT_EQ(a.value.major.items.size(), 1u + 5u);
  EXPECT_EQ(a.value.major.room, (size_t)(2 * 50));
  EXPECT_EQ(a.value.labels.room, (size_t)(40 * 50));
  // A pane under 10 pixels is passed over; the other still gets its axis.
  ta->pane_h = 9;
  ASSERT_EQ(yaxis_compute(plot.get(), &a), 0);
  EXPECT_EQ(a.value.labels.items.size(), 9u);
}

TEST(ValueAxis, RangeRoundingCannotCrossEnds) {
  // Near 1e12 a step of 1e-4 is below the spacing of doubles: adding it
  // would never move a tick. The count ends within its cap.
  Pane p = ticks(3, 1e12, 1e12 + 0.001, 240);
  EXPECT_LE(p.major.size() + p.minor.size(), (size_t)(2 * 10 + 2));
  EXPECT_FALSE(p.major.empty() && p.minor.empty());
}

}  // namespace
