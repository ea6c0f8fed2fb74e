// The chart panel on a real chart window's chart, nothing drawn: which
// preset buttons a chart's range and period select, what each button sets,
// the sensitivity of Adjust and the overlay buttons per instrument, data
// kind and overlays, the overlay and indicator rows kept in step with the
// chart (a float parameter the spinner cannot show is not rebuilt), rows
// dragged onto each other, the intraday / end-of-day round trip with its
// saved views, Save and Rename, every edit's undo record, two charts on one
// saved style, and the summary at a fixed "now".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "action.h"
#include "charts/alloc.h"
#include "charts/cstyle.h"
#include "sstime.h"
#include "testlog.h"
#include "toolstest.h"
#include "tools/charttools.h"
#include "ui/deck.h"
#include "ui/flyaway.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "windows/nuchart.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class ChartPanel : public Panels {
 protected:
  std::vector<window *> wins;

  void SetUp() override {
    Panels::SetUp();
    ASSERT_EQ(cstyle_init(), 0);
  }

  // A chart window with its panel; the chart shows stock s when given.
  window *open(instr *in = nullptr) {
    window *w = window_new(root, 0);
    w->r = {0, 0, 900, 400};
    window_set_role(w, kRoleChart);
    wins.push_back(w);
    if (in) nuchart_bind_any(chart_of(w), in);
    return w;
  }
  static nuchart *chart_of(window *w) { return nuchart_cast(window_get_content(w, kRoleChart)); }
  static charttools *panel_of(window *w) {
    widget *p = window_get_tools(w, kRoleChart);
    return charttools_is(p) ? static_cast<charttools *>(p) : nullptr;
  }
  static int32_t active(const button_group &g) { return g.active ? g.active->id : -1; }
  static void refresh(charttools *p) { tools_refresh_now(p); }
  // The records pushed since the ring held `from`, newest first, without
  // the group marks.
  static std::vector<int> pushed(int from) {
    std::vector<int> out;
    for (int i = 0; i < undo_count() - from; i++)
      if (undo_type_at(i) > int(UNDO_GROUP_END)) out.push_back(undo_type_at(i));
    return out;
  }
  // After an edit, the frames that run its after-draw step both times.
  static void two_frames() {
    redraw_passes();
    redraw_passes();
  }

  // Samples at the given times (the chart's own arrays), the view over all.
  static void give_samples(nuchart *c, const std::vector<ss_time> &times) {
    ASSERT_EQ(alloc_chart_values(&c->plot, int32_t(times.size()) + 2), 0);
    for (size_t i = 0; i < times.size(); i++) c->plot.times[i] = times[i];
    c->plot.count = int32_t(times.size());
    c->plot.first_visible = 0;
    c->plot.last_visible = int32_t(times.size()) - 1;
  }
  void type_name(charttools *p, const char *text, int code) {
    textbox_set_text(p->name, text);
    p->name->callback(p->name, code, p->name->arg, p->name->id);
  }
};

// ---- presets ----------------------------------------------------------------

TEST_F(ChartPanel, RangeSelectsItsPresetByDataKind) {
  window *w = open();
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  ASSERT_NE(p, nullptr);
  struct row {
    int32_t kind, count, eod, want;
  } rows[] = {
      {6, 3, 1, 16},  {6, 3, 0, 16},  // three months selects "3"
      {9, 0, 1, 22},  {9, 7, 0, 22},  // "All", whatever the count
      {6, 1, 0, 24},  {6, 1, 1, 15},  // "Month" on the page of the data kind
      {1, 5, 0, 0},                   // "Best Fit" takes any count
      {3, 5, 0, 3},   {4, 2, 0, 8},   {5, 7, 1, 13}, {7, 5, 1, 21},
      {3, 7, 0, -1},  {11, 0, 0, -1}, // nothing matches: none selected
  };
  for (const row &r : rows) {
    nuchart_set_range(c, r.kind, r.count);
    c->plot.eod = r.eod;
    refresh(p);
    EXPECT_EQ(active(p->range_group), r.want) << r.kind << "/" << r.count << " eod " << r.eod;
    EXPECT_EQ(active(p->data_group), r.eod ? 22 : 15);
    EXPECT_EQ(deck_current_page(p->range_deck), r.eod ? 1 : 0);
    EXPECT_EQ(deck_current_page(p->period_deck), r.eod ? 1 : 0);
  }
}

TEST_F(ChartPanel, PeriodSelectsItsPresetAndAnUnmatchedOneLogs) {
  window *w = open();
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  // Presets without a button (quarters, years, all) match but show none.
  struct row {
    int32_t kind, count, want;
    bool logs;
  } rows[] = {{0, 4, 23, false}, {1, 1, 1, false},  {2, 5, 3, false},   {2, 30, 6, false}, {3, 1, 7, false},
              {4, 1, 10, false}, {5, 1, 11, false}, {6, 1, 13, false},  {7, 1, 15, false}, {7, 3, -1, false},
              {9, 3, -1, false}, {2, 7, -1, true},  {5, 2, -1, true},   {6, 4, -1, true}};
  for (const row &r : rows) {
    LogCapture log;
    nuchart_set_period(c, r.kind, r.count);
    refresh(p);
    EXPECT_EQ(active(p->period_group), r.want) << r.kind << "/" << r.count;
    std::string line = "didn't find match for period " + std::to_string(r.kind);
    EXPECT_EQ(log.has(line), r.logs) << r.kind << "/" << r.count;
  }
}

TEST_F(ChartPanel, ButtonsSetTheirPresets) {
  struct row {
    int32_t id, kind, count;
  } ranges[] = {{0, 1, 1}, {3, 3, 5}, {24, 6, 1}, {15, 6, 1}, {16, 6, 3}, {22, 9, 1}, {19, 7, 1}, {1, 1, 1}, {99, 1, 1}},
    periods[] = {{23, 0, 1}, {1, 1, 1}, {3, 2, 5}, {10, 4, 1}, {15, 7, 1}, {22, 9, 1}, {8, 9, 1}};
  for (const row &r : ranges) {
    int32_t k = -1, n = -1;
    charttools_range_of(r.id, &k, &n);
    EXPECT_EQ(k, r.kind) << "range id " << r.id;
    EXPECT_EQ(n, r.count) << "range id " << r.id;
  }
  for (const row &r : periods) {
    int32_t k = -1, n = -1;
    charttools_period_of(r.id, &k, &n);
    EXPECT_EQ(k, r.kind) << "period id " << r.id;
    EXPECT_EQ(n, r.count) << "period id " << r.id;
  }
  // Through the buttons: a range clears the chart's explicit times.
  window *w = open();
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  c->plot.eod = 1;
  refresh(p);
  nuchart_set_times(c, 1, sstime_pack_date(2, 3, 2026), 1, sstime_pack_date(20, 3, 2026));
  ASSERT_EQ(c->plot.range, kNuchartRangeSpan);
  click(button_group_member(&p->range_group, 16));
  EXPECT_EQ(c->plot.range, 6);
  EXPECT_EQ(c->plot.range_count, 3);
  EXPECT_EQ(c->plot.from_type, -1);
  EXPECT_EQ(c->plot.to_type, 5);
  EXPECT_EQ(c->plot.from, 0u);
  click(button_group_member(&p->period_group, 13));
  EXPECT_EQ(c->plot.period, 6);
  EXPECT_EQ(c->plot.period_count, 1);
}

TEST_F(ChartPanel, EverySectionCarriesItsIds) {
  charttools *p = panel_of(open());
  struct row {
    int section;
    std::vector<int32_t> ids;
  } rows[] = {
      {CHARTTOOLS_FILE, {0, -1, -4}},
      {CHARTTOOLS_TYPE, {1, 16, 3, 4, 6, 5, 7, 11, 2, 0x1000, 0x10000}},
      {CHARTTOOLS_OVERLAYS, {2, 4, 3, 5, 14, 8, 9, 6, 13, 7}},
      {CHARTTOOLS_INDICATORS, {2, 3, 1, 5, 6, 4, 33, 15, 16, 17, 39, 40}},
      {CHARTTOOLS_RANGE, {15, 22, 0, 3, 5, 6, 7, 8, 11, 13, 24, 16, 17, 19, 20, 21}},
      {CHARTTOOLS_PERIOD, {23, 1, 2, 3, 4, 5, 6, 7, 10, 11, 13, 15}},
      {CHARTTOOLS_DISPLAY, {0x200000, 0x200, 4}},
  };
  for (const row &r : rows) {
    for (int32_t id : r.ids) EXPECT_NE(charttools_button(p, r.section, id), nullptr) << r.section << " id " << id;
    EXPECT_EQ(charttools_button(p, r.section, 12345), nullptr);
  }
  EXPECT_STREQ(charttools_button(p, CHARTTOOLS_DISPLAY, 0x200000)->text, "Black");
  EXPECT_STREQ(charttools_button(p, CHARTTOOLS_DISPLAY, 0x200000)->text2, "White");
  EXPECT_STREQ(p->section[CHARTTOOLS_OVERLAYS]->caption, "OVERLAYS");
}

// ---- sensitivity -----------------------------------------------------------------

TEST_F(ChartPanel, SensitivityPerInstrumentDataAndOverlays) {
  ss_stock *s = stock("BHP");
  ss_index *ix = ssmodel_get_index(ex0, "XJO");
  ASSERT_NE(ix, nullptr);
  struct row {
    bool index;
    int eod;
    std::vector<int32_t> overlays;
    bool adjust, volume, news, vwap;
  } rows[] = {
      {false, 0, {}, true, true, true, true},
      {false, 1, {}, true, true, true, false},        // VWAP is intraday only
      {false, 0, {9}, true, false, true, true},       // Volume once
      {false, 0, {2, 13}, true, true, false, true},   // News once
      {false, 0, {14, 9}, true, false, true, false},  // VWAP once
      {true, 0, {}, false, false, false, false},      // an index: none of them
      {true, 1, {2}, false, false, false, false},
  };
  for (const row &r : rows) {
    window *w = open(r.index ? static_cast<instr *>(ix) : static_cast<instr *>(s));
    nuchart *c = chart_of(w);
    charttools *p = panel_of(w);
    for (int32_t t : r.overlays) nuchart_add_overlay(c, t, nullptr);
    c->plot.eod = r.eod;
    refresh(p);
    std::string what = std::string(r.index ? "index" : "stock") + " eod " + std::to_string(r.eod) + " overlays " +
                       std::to_string(r.overlays.size());
    EXPECT_EQ(button_is_sensitive(p->adjust) != 0, r.adjust) << what;
    EXPECT_EQ(button_is_sensitive(p->ov_volume) != 0, r.volume) << what;
    EXPECT_EQ(button_is_sensitive(p->ov_news) != 0, r.news) << what;
    EXPECT_EQ(button_is_sensitive(p->ov_vwap) != 0, r.vwap) << what;
  }
  // Removing the Volume overlay gives the button back.
  window *w = open(s);
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  nuchart_add_overlay(c, 9, nullptr);
  refresh(p);
  EXPECT_FALSE(button_is_sensitive(p->ov_volume));
  nuchart_remove_overlay(c, 0);
  refresh(p);
  EXPECT_TRUE(button_is_sensitive(p->ov_volume));
}

// ---- rows ------------------------------------------------------------------------

TEST_F(ChartPanel, RowsFollowTheChartsLists) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  refresh(p);
  EXPECT_EQ(charttools_row_count(p, 0), 0);
  // Add: one row per item, overlays before the Indicators header.
  nuchart_add_indicator(c, 4, nullptr);
  nuchart_add_overlay(c, 2, nullptr);
  nuchart_add_overlay(c, 4, nullptr);
  refresh(p);
  EXPECT_TRUE(p->rows_changed);
  ASSERT_EQ(charttools_row_count(p, 0), 2);
  ASSERT_EQ(charttools_row_count(p, 1), 1);
  EXPECT_EQ(charttools_row_type(charttools_row(p, 0, 0)), 2);
  EXPECT_EQ(charttools_row_type(charttools_row(p, 0, 1)), 4);
  EXPECT_EQ(charttools_row_type(charttools_row(p, 1, 0)), 4);
  flyaway *boll = charttools_row(p, 0, 1);
  EXPECT_STREQ(boll->title, "Bollinger Bands");
  EXPECT_STREQ(boll->caption, "BOLL BANDS");
  // Controls per parameter: Bollinger's period and multiplier are spinners
  // showing the defaults; the News overlay's are toggles.
  auto *period = static_cast<spinner *>(charttools_row_control(boll, 0));
  auto *mult = static_cast<spinner *>(charttools_row_control(boll, 1));
  ASSERT_NE(period, nullptr);
  ASSERT_NE(mult, nullptr);
  EXPECT_FLOAT_EQ(spinner_value(period), 20.0f);
  EXPECT_FLOAT_EQ(spinner_value(mult), 2.0f);
  EXPECT_EQ(mult->decimals, 2);
  EXPECT_EQ(charttools_row_control(boll, 2), nullptr);
  // Nothing changed: nothing rebuilt.
  refresh(p);
  EXPECT_FALSE(p->rows_changed);
  EXPECT_EQ(charttools_row_control(boll, 0), period);
  // A parameter changed on the chart: that row is rebuilt with it.
  nuchart_set_overlay_param(c, 1, 0, 30.0f);
  refresh(p);
  EXPECT_TRUE(p->rows_changed);
  ASSERT_NE(charttools_row_control(boll, 0), nullptr);
  EXPECT_FLOAT_EQ(spinner_value(static_cast<spinner *>(charttools_row_control(boll, 0))), 30.0f);
  // Retype: the row takes the new type's short name and controls.
  const float news[3] = {1, 0, 1};
  nuchart_replace_overlay(c, 1, 13, news);
  refresh(p);
  EXPECT_TRUE(p->rows_changed);
  EXPECT_EQ(charttools_row_type(boll), 13);
  EXPECT_STREQ(boll->title, "News");
  auto *sensitive = static_cast<button *>(charttools_row_control(boll, 0));
  auto *regular = static_cast<button *>(charttools_row_control(boll, 1));
  ASSERT_TRUE(sensitive && object_is_a(widget_obj(sensitive), button_type()));
  EXPECT_TRUE(sensitive->state & BUTTON_ACTIVE);
  EXPECT_FALSE(regular->state & BUTTON_ACTIVE);
  // Remove: the extra row goes.
  nuchart_remove_overlay(c, 0);
  refresh(p);
  EXPECT_EQ(charttools_row_count(p, 0), 1);
  EXPECT_EQ(charttools_row_type(charttools_row(p, 0, 0)), 13);
  EXPECT_EQ(charttools_row_count(p, 1), 1);
}

// A stored parameter the spinner cannot show (2.1 on a whole-number
// period; a multiplier beyond its maximum or with more decimals) used to
// differ from the spinner at every refresh, so the row was rebuilt each
// time (and a spinner being typed in lost its focus).
TEST_F(ChartPanel, AParameterTheSpinnerCannotShowIsNotRebuilt) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  const float sma[3] = {2.1f, kCstyleUnset, kCstyleUnset};
  const float boll[3] = {20.0f, 31.0f, kCstyleUnset};   // above the maximum 25
  const float env3[3] = {20.0f, 2.333f, kCstyleUnset};  // two decimals shown
  nuchart_add_overlay(c, 2, sma);
  nuchart_add_overlay(c, 4, boll);
  nuchart_add_overlay(c, 5, env3);
  refresh(p);
  ASSERT_EQ(charttools_row_count(p, 0), 3);
  std::vector<widget *> before;
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 2; k++) before.push_back(charttools_row_control(charttools_row(p, 0, i), k));
  EXPECT_FLOAT_EQ(spinner_value(static_cast<spinner *>(before[0])), 2.0f) << "the spinner shows what it can";
  EXPECT_FLOAT_EQ(spinner_value(static_cast<spinner *>(before[3])), 25.0f);
  EXPECT_FLOAT_EQ(spinner_value(static_cast<spinner *>(before[5])), 2.33f);
  for (int n = 0; n < 10; n++) {
    refresh(p);
    EXPECT_FALSE(p->rows_changed) << "refresh " << n;
  }
  std::vector<widget *> after;
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 2; k++) after.push_back(charttools_row_control(charttools_row(p, 0, i), k));
  EXPECT_EQ(before, after);
  // The chart keeps its own value.
  float got[3];
  nuchart_find_overlay(c, 0, got);
  EXPECT_FLOAT_EQ(got[0], 2.1f);
  // What the spinner shows, as a table.
  struct row {
    float v;
    int32_t decimals;
    double lo, hi;
    float want;
  } shown[] = {{2.1f, 0, 2, 1e30, 2.0f}, {2.6f, 0, 2, 1e30, 3.0f}, {1.0f, 0, 2, 1e30, 2.0f},
               {31.f, 2, 0.25, 25, 25.0f}, {2.333f, 2, 0.25, 25, 2.33f}, {0.1f, 1, 0, 10, 0.1f}};
  for (const row &r : shown) EXPECT_FLOAT_EQ(charttools_shown_value(r.v, r.decimals, r.lo, r.hi), r.want) << r.v;
}

TEST_F(ChartPanel, SpinnerAndToggleEditTheChartAsOneUndoStepEach) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  nuchart_add_overlay(c, 4, nullptr);
  nuchart_add_indicator(c, 2, nullptr);
  refresh(p);
  auto *mult = static_cast<spinner *>(charttools_row_control(charttools_row(p, 0, 0), 1));
  auto *colorize = static_cast<button *>(charttools_row_control(charttools_row(p, 1, 0), 0));
  ASSERT_NE(mult, nullptr);
  ASSERT_NE(colorize, nullptr);
  int n = undo_count();
  spinner_set_value(mult, 3.5f);
  mult->callback(mult, mult->arg, mult->id);
  float got[3];
  nuchart_find_overlay(c, 0, got);
  EXPECT_FLOAT_EQ(got[1], 3.5f);
  EXPECT_EQ(pushed(n), std::vector<int>{int(UNDO_CHART_STYLE)});
  click(colorize);
  nuchart_find_indicator(c, 0, got);
  EXPECT_FLOAT_EQ(got[0], 1.0f);
  EXPECT_EQ(pushed(n), (std::vector<int>{int(UNDO_CHART_STYLE), int(UNDO_CHART_STYLE)}));
}

TEST_F(ChartPanel, ARowDroppedOnAnotherSwapsAndElsewhereDoesNothing) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  const float sma[3] = {10, kCstyleUnset, kCstyleUnset};
  const float ema[3] = {30, kCstyleUnset, kCstyleUnset};
  nuchart_add_overlay(c, 2, sma);
  nuchart_add_overlay(c, 3, ema);
  nuchart_add_indicator(c, 4, nullptr);
  cstyle_apply(c->plot.style, &c->plot);  // as the after-draw step leaves it
  refresh(p);
  flyaway *first = charttools_row(p, 0, 0), *second = charttools_row(p, 0, 1);
  // Onto a control inside the other row: the two overlays swap with their
  // parameters, as one undo step.
  int n = undo_count();
  EXPECT_EQ(charttools_row_dropped(second, charttools_row_control(first, 0)), 1);
  float got[3];
  EXPECT_EQ(nuchart_find_overlay(c, 0, got), 3);
  EXPECT_FLOAT_EQ(got[0], 30.0f);
  EXPECT_EQ(nuchart_find_overlay(c, 1, got), 2);
  EXPECT_FLOAT_EQ(got[0], 10.0f);
  EXPECT_EQ(pushed(n), std::vector<int>{int(UNDO_CHART_STYLE)});
  EXPECT_EQ(charttools_row_type(charttools_row(p, 0, 0)), 3);
  EXPECT_FLOAT_EQ(spinner_value(static_cast<spinner *>(charttools_row_control(charttools_row(p, 0, 0), 0))), 30.0f);
  // Onto a row of the other list, onto itself, onto a plain control, onto
  // nothing: no change, no undo record.
  for (widget *target : {static_cast<widget *>(charttools_row(p, 1, 0)), static_cast<widget *>(second),
                         static_cast<widget *>(p->name), static_cast<widget *>(nullptr)})
    EXPECT_EQ(charttools_row_dropped(charttools_row(p, 0, 1), target), 0);
  EXPECT_EQ(pushed(n).size(), 1u);
  EXPECT_EQ(nuchart_find_overlay(c, 0, nullptr), 3);
  EXPECT_EQ(nuchart_find_indicator(c, 0, nullptr), 4);
  // Undo puts the order back.
  ASSERT_EQ(undo_perform(), 0);
  redraw_passes();
  EXPECT_EQ(nuchart_find_overlay(c, 0, got), 2);
  EXPECT_FLOAT_EQ(got[0], 10.0f);
}

TEST_F(ChartPanel, AddingOpensTheRowAndPushesTheStyleFirst) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  refresh(p);
  int n = undo_count();
  click(charttools_button(p, CHARTTOOLS_INDICATORS, 4));  // RSI
  redraw_passes();
  EXPECT_EQ(nuchart_find_indicator(c, 0, nullptr), 4);
  ASSERT_EQ(charttools_row_count(p, 1), 1);
  EXPECT_TRUE(fbox_flyaway_is_open(p->box, charttools_row(p, 1, 0)));
  EXPECT_EQ(pushed(n), std::vector<int>{int(UNDO_CHART_STYLE)});
  // Performance has no parameters: its row stays closed.
  click(charttools_button(p, CHARTTOOLS_INDICATORS, 1));
  redraw_passes();
  ASSERT_EQ(charttools_row_count(p, 1), 2);
  EXPECT_FALSE(flyaway_is_open(charttools_row(p, 1, 1)));
  click(charttools_button(p, CHARTTOOLS_OVERLAYS, 2));
  ASSERT_EQ(charttools_row_count(p, 0), 1);
  EXPECT_TRUE(fbox_flyaway_is_open(p->box, charttools_row(p, 0, 0)));
  redraw_passes();
  // Undo takes the overlay back off and keeps the indicators.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(c->plot.overlays, nullptr);
  EXPECT_EQ(nuchart_find_indicator(c, 1, nullptr), 1);
}

TEST_F(ChartPanel, TypeAndOptionEditsReachTheChartAndTheOverview) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  nuchart *ov = charttools_overview(p);
  ASSERT_NE(ov, nullptr);
  EXPECT_EQ(ov->plot.controlled, c);
  EXPECT_EQ(ov->plot.type, 1);
  EXPECT_EQ(ov->plot.options, 0x1029B1u);
  ASSERT_NE(ov->plot.overlays, nullptr);
  EXPECT_EQ(ov->plot.overlays->type, 9);
  EXPECT_EQ(ov->plot.main, c->plot.main) << "the overview shows the chart's instrument";
  refresh(p);
  int n = undo_count();
  click(charttools_button(p, CHARTTOOLS_TYPE, 4));
  EXPECT_EQ(c->plot.type, 4);
  struct row {
    int32_t bit;
  } bits[] = {{0x1000}, {0x200000}, {0x200}, {0x4}};
  for (const row &r : bits) {
    bool was = c->plot.options & uint32_t(r.bit);
    int section = r.bit == 0x1000 ? CHARTTOOLS_TYPE : CHARTTOOLS_DISPLAY;
    click(charttools_button(p, section, r.bit));
    EXPECT_NE((c->plot.options & uint32_t(r.bit)) != 0, was) << std::hex << r.bit;
  }
  bool adjust = c->plot.options & 0x10000;
  click(p->adjust);
  EXPECT_NE((c->plot.options & 0x10000) != 0, adjust);
  EXPECT_EQ((ov->plot.options & 0x10000) != 0, (c->plot.options & 0x10000) != 0);
  EXPECT_EQ(pushed(n).size(), 6u) << "one record a click";
  refresh(p);
  EXPECT_EQ(active(p->type_group), 4);
  EXPECT_EQ((p->black->state & BUTTON_ACTIVE) != 0, (c->plot.options & 0x200000) != 0);
}

TEST_F(ChartPanel, TwoChartsOnOneSavedStyleFollowAnEditInEither) {
  cstyle *shared = cstyle_new("Shared Two", 0);
  ASSERT_NE(shared, nullptr);
  window *a = open(stock("BHP")), *b = open(stock("RIO"));
  nuchart_set_cstyle(chart_of(a), shared);
  nuchart_set_cstyle(chart_of(b), shared);
  refresh(panel_of(a));
  refresh(panel_of(b));
  click(charttools_button(panel_of(a), CHARTTOOLS_TYPE, 11));
  two_frames();
  EXPECT_EQ(chart_of(b)->plot.type, 11);
  click(charttools_button(panel_of(b), CHARTTOOLS_INDICATORS, 4));
  two_frames();
  EXPECT_EQ(nuchart_find_indicator(chart_of(a), 0, nullptr), 4);
  refresh(panel_of(a));
  EXPECT_EQ(charttools_row_count(panel_of(a), 1), 1);
}

// ---- the data switch -------------------------------------------------------------

TEST_F(ChartPanel, IntradayAndEndOfDayRestoreTheirSavedViews) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  c->plot.eod = 0;
  charttools_set_eod(p, 0);
  refresh(p);
  click(button_group_member(&p->range_group, 7));   // Hour
  click(button_group_member(&p->period_group, 3));  // 5 minutes
  EXPECT_EQ(c->plot.range, 4);
  EXPECT_EQ(c->plot.period, 2);
  int n = undo_count();
  click(button_group_member(&p->data_group, 22));  // End of day
  EXPECT_EQ(undo_count(), n) << "the data switch records nothing";
  EXPECT_EQ(p->mode, 1);
  EXPECT_EQ(deck_current_page(p->range_deck), 1);
  EXPECT_EQ(deck_current_page(p->period_deck), 1);
  EXPECT_EQ(c->plot.period, 5);
  EXPECT_EQ(c->plot.range, 1) << "the end-of-day view starts at Best Fit";
  EXPECT_EQ(active(p->period_group), 11);
  nuchart *ov = charttools_overview(p);
  EXPECT_EQ(ov->plot.range, 9);
  c->plot.eod = 1;
  refresh(p);
  click(button_group_member(&p->range_group, 19));  // Year
  EXPECT_EQ(c->plot.range, 7);
  click(button_group_member(&p->data_group, 15));  // Intraday
  EXPECT_EQ(p->mode, 0);
  EXPECT_EQ(c->plot.range, 4);
  EXPECT_EQ(c->plot.range_count, 1);
  EXPECT_EQ(c->plot.period, 2);
  EXPECT_EQ(c->plot.period_count, 5);
  EXPECT_EQ(ov->plot.range, 6);
  // Explicit times shown when switching come back with the mode.
  c->plot.eod = 0;
  refresh(p);
  ss_time t0 = sstime_pack(0, 30, 10, 9, 3, 2026), t1 = sstime_pack(0, 0, 14, 10, 3, 2026);
  give_samples(c, {t0, sstime_pack(0, 0, 12, 9, 3, 2026), t1});
  nuchart_set_times(c, 1, t0, 1, t1);
  refresh(p);
  EXPECT_EQ(active(p->range_group), -1);
  click(button_group_member(&p->data_group, 22));
  EXPECT_EQ(c->plot.range, 7) << "back to the end-of-day Year";
  c->plot.eod = 1;
  refresh(p);
  click(button_group_member(&p->data_group, 15));
  EXPECT_EQ(c->plot.range, kNuchartRangeSpan);
  EXPECT_EQ(c->plot.from_type, 1);
  EXPECT_EQ(c->plot.from, t0);
  EXPECT_EQ(c->plot.to, t1);
}

TEST_F(ChartPanel, TheChartsOwnDataSwitchMovesThePanelWithoutUndo) {
  window *w = open(stock("BHP"));
  charttools *p = panel_of(w);
  nuchart *ov = charttools_overview(p);
  int n = undo_count();
  charttools_set_eod(p, 1);
  EXPECT_EQ(active(p->data_group), 22);
  EXPECT_EQ(ov->plot.range, 9);
  EXPECT_EQ(ov->plot.period, 5);
  EXPECT_EQ(p->mode, 1);
  charttools_set_eod(p, 0);
  EXPECT_EQ(active(p->data_group), 15);
  EXPECT_EQ(ov->plot.range, 6);
  EXPECT_EQ(ov->plot.period, 2);
  EXPECT_EQ(deck_current_page(p->period_deck), 0);
  EXPECT_EQ(undo_count(), n);
}

// ---- the style's name -------------------------------------------------------------

TEST_F(ChartPanel, SaveThenRename) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  refresh(p);
  cstyle *st = c->plot.style;
  EXPECT_EQ(st->id, 0);
  EXPECT_STREQ(p->save->text, "Save");
  EXPECT_FALSE(button_is_sensitive(p->save)) << "an empty name is not free";
  EXPECT_FALSE(button_is_sensitive(p->make_new));
  EXPECT_FALSE(button_is_sensitive(p->remove));
  type_name(p, "Panel Saved", TEXTBOX_CHANGED);
  EXPECT_TRUE(button_is_sensitive(p->save));
  int n = undo_count();
  click(p->save);
  EXPECT_GT(st->id, 0);
  EXPECT_STREQ(st->name, "Panel Saved");
  EXPECT_EQ(action_last_chart_style(), st->id);
  EXPECT_EQ(pushed(n), (std::vector<int>{int(UNDO_CSTYLE_CREATED), int(UNDO_CHART_STYLE)}));
  EXPECT_EQ(undo_type_at(0), int(UNDO_GROUP_END)) << "one group";
  EXPECT_STREQ(p->save->text, "Rename");
  EXPECT_FALSE(button_is_sensitive(p->save));
  EXPECT_TRUE(button_is_sensitive(p->make_new));
  EXPECT_TRUE(button_is_sensitive(p->remove));
  refresh(p);
  EXPECT_STREQ(p->save->text, "Rename");
  EXPECT_FALSE(button_is_sensitive(p->save)) << "its own name is taken";
  // Confirming while Save is insensitive puts the name back.
  type_name(p, "Panel Saved", TEXTBOX_ENTER);
  EXPECT_STREQ(textbox_text(p->name), "Panel Saved");
  // A free name, confirmed: renamed, still registered under its id.
  int32_t id = st->id;
  type_name(p, "Panel Renamed", TEXTBOX_CHANGED);
  EXPECT_TRUE(button_is_sensitive(p->save));
  type_name(p, "Panel Renamed", TEXTBOX_ENTER);
  EXPECT_STREQ(st->name, "Panel Renamed");
  EXPECT_EQ(st->id, id);
  EXPECT_STREQ(cstyle_name(cstyle_find(id)), "Panel Renamed");
  // A name another style has is not free.
  ASSERT_NE(cstyle_new("Panel Other", 0), nullptr);
  type_name(p, "Panel Other", TEXTBOX_CHANGED);
  EXPECT_FALSE(button_is_sensitive(p->save));
}

TEST_F(ChartPanel, NewAndRemove) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  cstyle *named = cstyle_new("Panel Removable", 0);
  ASSERT_NE(named, nullptr);
  nuchart_set_cstyle(c, named);
  nuchart_set_type(c, 7);
  cstyle_apply(named, &c->plot);  // as the after-draw step leaves it
  refresh(p);
  EXPECT_TRUE(button_is_sensitive(p->make_new));
  click(p->make_new);
  ASSERT_NE(c->plot.style, named);
  EXPECT_EQ(c->plot.style->id, 0);
  EXPECT_STREQ(c->plot.style->name, "");
  EXPECT_EQ(c->plot.type, 7) << "the new style is a copy";
  // Back on the named style, Remove unlinks it as one undo step.
  nuchart_set_cstyle(c, named);
  refresh(p);
  int32_t id = named->id;
  click(p->remove);
  EXPECT_EQ(cstyle_find(id), nullptr);
  EXPECT_NE(c->plot.style, named) << "the chart keeps its look on a private copy";
  EXPECT_EQ(undo_type_at(1), int(UNDO_CSTYLE_DELETED));
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_NE(cstyle_find(id), nullptr);
}

// ---- the summary -------------------------------------------------------------------

TEST_F(ChartPanel, SummaryAtAFixedNow) {
  const ss_time today = sstime_pack_date(10, 3, 2026);
  const ss_time now = sstime_pack(0, 15, 13, 10, 3, 2026);
  const ss_time close = sstime_pack(0, 11, 16, 10, 3, 2026);
  struct row {
    const char *what;
    int32_t id;
    const char *name;
    int32_t period, count;
    int has;
    ss_time start, end;
    int at_first, live;
    const char *want;
  } rows[] = {
      {"a day adds nothing", 0, "", 5, 1, 0, 0, 0, 1, 1, ""},
      {"two days", 0, "", 5, 2, 0, 0, 0, 1, 1, "EVERY 2 DAYS"},
      {"named, per minute", 3, "My Style", 2, 1, 0, 0, 0, 1, 1, "MY STYLE, PER MINUTE"},
      {"private names are not shown", 0, "Hidden", 7, 1, 0, 0, 0, 1, 1, "MONTHLY"},
      {"every 5 minutes", 0, "", 2, 5, 0, 0, 0, 1, 1, "EVERY 5 MINUTES"},
      {"weekly", 0, "", 6, 1, 0, 0, 0, 1, 1, "WEEKLY"},
      {"none adds nothing", 0, "", 0, 1, 0, 0, 0, 1, 1, ""},
      {"over days, to the latest", 0, "", 5, 1, 1, sstime_pack_date(2, 3, 2025), today, 1, 1, "FROM  2 MAR 2025"},
      {"over days, ended earlier", 0, "", 5, 1, 1, sstime_pack_date(2, 3, 2025), sstime_pack_date(28, 11, 2025), 1,
       0, "FROM  2 MAR 2025, TO 28 NOV 2025"},
      {"one earlier day", 0, "", 2, 1, 1, sstime_pack(0, 0, 10, 6, 3, 2026), sstime_pack(0, 0, 16, 6, 3, 2026), 1,
       0, "PER MINUTE, ON  6 MAR 2026"},
      {"today from the first bar, live", 0, "", 1, 1, 1, sstime_pack(0, 0, 10, 10, 3, 2026), now, 1, 1,
       "PER SECOND, TODAY"},
      {"today alone is nothing", 0, "", 9, 1, 1, sstime_pack(0, 0, 10, 10, 3, 2026), now, 1, 1, ""},
      {"today from a later bar", 0, "", 1, 1, 1, sstime_pack(0, 5, 11, 10, 3, 2026), now, 0, 1,
       "PER SECOND, TODAY, FROM 11:05"},
      {"today to a fixed time", 0, "", 2, 1, 1, sstime_pack(0, 0, 10, 10, 3, 2026), sstime_pack(0, 30, 12, 10, 3, 2026),
       1, 0, "PER MINUTE, TODAY, TO 12:30"},
      {"today to the close", 0, "", 2, 1, 1, sstime_pack(0, 0, 10, 10, 3, 2026), close, 1, 0, "PER MINUTE, TODAY"},
      {"named, today only", 4, "Intra", 9, 1, 1, sstime_pack(0, 0, 10, 10, 3, 2026), now, 1, 1, "INTRA, TODAY"},
  };
  for (const row &r : rows) {
    charttools_summary_in in{};
    in.style_id = r.id;
    in.style_name = r.name;
    in.period = r.period;
    in.period_count = r.count;
    in.has_span = r.has;
    in.start = r.start;
    in.end = r.end;
    in.today = today;
    in.latest = now;
    in.close = close;
    in.view_at_first = r.at_first;
    in.end_is_live = r.live;
    EXPECT_EQ(charttools_summary_text(in), r.want) << r.what;
  }
}

TEST_F(ChartPanel, TheWindowTitleReadsThePanelsSummary) {
  window *w = open(stock("BHP"));
  nuchart *c = chart_of(w);
  charttools *p = panel_of(w);
  cstyle *st = cstyle_new("Titled", 0);
  nuchart_set_cstyle(c, st);
  nuchart_set_period(c, 5, 2);
  EXPECT_STREQ(tools_summary(p), "TITLED, EVERY 2 DAYS");
}

}  // namespace
