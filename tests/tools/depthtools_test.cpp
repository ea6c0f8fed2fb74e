// The depth panel on real depth windows: the speed steps with their edges,
// the bars and table buttons over every show mode, the age presets both
// ways, the summary's groupings (with the fractions an integer division
// lost), the chart range that leaves no undo step, the labels written only
// on change, the window's custom age time kept by the panel, and a Shift
// click that reaches every depth window of the desktop as one undo step.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sstime.h"
#include "toolstest.h"
#include "tools/depthtools.h"
#include "ui/label.h"
#include "ui/spinner.h"
#include "windows/depthbars.h"
#include "windows/depthwin.h"
#include "windows/nuchart.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// ---- pure steps -------------------------------------------------------------

TEST(DepthSpeed, FasterAndSlowerByTimeWithTheirEdges) {
  struct row {
    float from, faster, slower;
  } rows[] = {
      {1, 2, 0.5f},         {2, 5, 1},       {0.1f, 0.25f, 0.1f}, {0.25f, 0.5f, 0.1f}, {1800, 3600, 600},
      {3600, 3600, 1800},   {60, 120, 30},   {45, 60, 30},        {5000, 3600, 3600},  {0.05f, 0.1f, 0.1f},
  };
  for (const row &r : rows) {
    EXPECT_FLOAT_EQ(depthtools_faster_speedup(r.from), r.faster) << r.from;
    EXPECT_FLOAT_EQ(depthtools_slower_speedup(r.from), r.slower) << r.from;
  }
}

TEST(DepthSpeed, FasterAndSlowerByEventWithTheirEdges) {
  struct row {
    float from, faster, slower;
  } rows[] = {
      {1.0f, 0.5f, 1.0f},  {0.5f, 0.3333f, 1.0f}, {0.2f, 0.1f, 0.25f}, {0.1f, 0.1f, 0.2f},
      {0.25f, 0.2f, 0.3333f}, {2.0f, 1.0f, 1.0f}, {0.05f, 0.1f, 0.1f},
  };
  for (const row &r : rows) {
    EXPECT_FLOAT_EQ(depthtools_faster_delay(r.from), r.faster) << r.from;
    EXPECT_FLOAT_EQ(depthtools_slower_delay(r.from), r.slower) << r.from;
  }
}

TEST(DepthSpeed, BarsAndTableNeverBothHidden) {
  // mode -> after Show Bars, after Show Table
  struct row {
    uint32_t mode, bars, table;
  } rows[] = {{1, 1, 3}, {2, 3, 2}, {3, 2, 1}};
  for (const row &r : rows) {
    EXPECT_EQ(depthtools_toggle_bars(r.mode), r.bars) << r.mode;
    EXPECT_EQ(depthtools_toggle_table(r.mode), r.table) << r.mode;
    EXPECT_NE(depthtools_toggle_bars(r.mode) & 3, 0u);
    EXPECT_NE(depthtools_toggle_table(r.mode) & 3, 0u);
  }
}

TEST(DepthSpeed, AgePresetsBothWays) {
  struct row {
    int32_t id;
    uint32_t kind, count;
  } rows[] = {{0, 1, 1015}, {1, 2, 1},  {2, 3, 1},  {3, 4, 5},  {4, 4, 15}, {5, 4, 30}, {6, 5, 1}, {7, 5, 2},
              {8, 5, 4},    {9, 6, 1},  {10, 6, 2}, {11, 6, 5}, {12, 6, 10}, {13, 6, 15}, {14, 0, 1}, {99, 0, 1}};
  for (const row &r : rows) {
    uint32_t kind = 99, count = 99;
    depthtools_age_split(r.id, 1015, &kind, &count);
    EXPECT_EQ(kind, r.kind) << r.id;
    EXPECT_EQ(count, r.count) << r.id;
    if (r.id <= 13) {
      EXPECT_EQ(depthtools_age_id(kind, count), r.id) << r.id;
    }
  }
  EXPECT_EQ(depthtools_age_id(2, 7), 1) << "kinds 2 and 3 match any count";
  EXPECT_EQ(depthtools_age_id(4, 7), -1);
  EXPECT_EQ(depthtools_age_id(0, 1), -1);
}

TEST(DepthSummary, GroupingsWithTheirFractions) {
  struct row {
    uint32_t g;
    const char *want;
  } rows[] = {
      {0, ""},
      {1, ""},
      {2, "IN 0.02 CENT INTERVALS"},
      {50, "IN 0.5 CENT INTERVALS"},
      {99, "IN 0.99 CENT INTERVALS"},
      {100, "IN 1 CENT INTERVALS"},
      {250, "IN 2.5 CENT INTERVALS"},
      {500, "IN 5 CENT INTERVALS"},
      {5000, "IN 50 CENT INTERVALS"},
      {10000, "IN $1 INTERVALS"},
      {15000, "IN $1.50 INTERVALS"},
      {12345, "IN $1.2345 INTERVALS"},
      {20000, "IN $2 INTERVALS"},
  };
  for (const row &r : rows) EXPECT_STREQ(depthtools_summary_of(r.g), r.want) << r.g;
}

// ---- the panel on depth windows ---------------------------------------------------

class DepthPanel : public Panels {
 protected:
  std::vector<window *> ws;

  // n depth windows side by side on one desktop.
  void open(int n) { windows_of_role(kRoleDepth, n, &ws); }
  static widget *depth(window *w) { return w->child[kWinDepth]; }
  static depthtools *panel(window *w) {
    widget *p = window_get_tools(w, kRoleDepth);
    return depthtools_is(p) ? static_cast<depthtools *>(p) : nullptr;
  }
  static void press(depthtools *p, int section, int32_t id) {
    button *b = depthtools_button(p, section, id);
    ASSERT_NE(b, nullptr) << "section " << section << " id " << id;
    click(b);
  }
};

TEST_F(DepthPanel, MadeWithTheWindowAndToldToIt) {
  open(1);
  depthtools *p = panel(ws[0]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(depthwin_get_book(depth(ws[0]))->tools, p);
  EXPECT_EQ(p->owner, depth(ws[0]));
  ASSERT_NE(p->chart, nullptr);
  const chart_plot &c = p->chart->plot;
  EXPECT_EQ(c.range, 5);
  EXPECT_EQ(c.range_count, 1);
  EXPECT_EQ(c.period, 9);
  EXPECT_EQ(c.type, 16);
  EXPECT_EQ(c.options, kDepthtoolsChartOptions);
  float params[3];
  EXPECT_EQ(nuchart_find_overlay(p->chart, 0, params), 9);
  EXPECT_EQ(nuchart_find_overlay(p->chart, 1, params), 13);
  EXPECT_EQ(nuchart_find_overlay(p->chart, 2, params), 1);
  EXPECT_EQ(nuchart_find_overlay(p->chart, 3, params), -1);
  EXPECT_EQ(active(&p->range_group), 6) << "All day";
  EXPECT_EQ(depthtools_get_chart_range(p), 1);
  EXPECT_STREQ(label_text(p->time_label), "");
  EXPECT_STREQ(label_text(p->speed_label), "");
  EXPECT_TRUE(p->live->state & BUTTON_ACTIVE);
}

// Every show mode against both buttons: what is shown, what is insensitive,
// and what a click leaves.
TEST_F(DepthPanel, BarsAndTableMatrix) {
  open(1);
  depthtools *p = panel(ws[0]);
  widget *d = depth(ws[0]);
  struct row {
    uint32_t mode;
    bool bars_on, table_on, bars_sensitive, table_sensitive;
    uint32_t after_bars, after_table;
  } rows[] = {
      {1, true, false, false, true, 1, 3},
      {2, false, true, true, false, 3, 2},
      {3, true, true, true, true, 2, 1},
  };
  for (const row &r : rows) {
    for (int which : {2, 3}) {
      depthwin_set_show_mode(d, r.mode);
      tools_refresh_now(p);
      EXPECT_EQ((p->show_bars->state & BUTTON_ACTIVE) != 0, r.bars_on) << r.mode;
      EXPECT_EQ((p->show_table->state & BUTTON_ACTIVE) != 0, r.table_on) << r.mode;
      EXPECT_EQ(button_is_sensitive(p->show_bars) != 0, r.bars_sensitive) << r.mode;
      EXPECT_EQ(button_is_sensitive(p->show_table) != 0, r.table_sensitive) << r.mode;
      // The handler itself, as a click on an insensitive button would reach it.
      p->show_bars->callback(which == 2 ? p->show_bars : p->show_table, kClick, p, which);
      EXPECT_EQ(depthwin_get_show_mode(d), which == 2 ? r.after_bars : r.after_table)
          << "mode " << r.mode << " button " << which;
    }
  }
}

TEST_F(DepthPanel, DisplayAggregateThicknessAndAgeThroughTheirOwnSections) {
  open(1);
  depthtools *p = panel(ws[0]);
  widget *d = depth(ws[0]);
  // Ids repeat across sections: each reaches only its own effect.
  uint32_t age = depthwin_get_show_age(d), trades = depthwin_get_show_trades(d);
  press(p, DEPTHTOOLS_DISPLAY, 0);
  EXPECT_EQ(depthwin_get_show_age(d), !age);
  EXPECT_EQ(depthwin_has_mark(d), false) << "Show Age is not Pause";
  press(p, DEPTHTOOLS_DISPLAY, 1);
  EXPECT_EQ(depthwin_get_show_trades(d), !trades);
  press(p, kDepthtoolsThickness, 9);
  EXPECT_EQ(depthbars_get_thickness(depthwin_get_child(d, 1)), 9);
  EXPECT_EQ(depthwin_get_show_mode(d), 3u) << "thickness 3 is not Show Table";
  press(p, DEPTHTOOLS_AGGREGATE, 500);
  EXPECT_EQ(depthwin_get_group_by(d), 500);
  EXPECT_STREQ(tools_summary(p), "IN 5 CENT INTERVALS");
  press(p, DEPTHTOOLS_AGGREGATE, 0);
  EXPECT_STREQ(tools_summary(p), "");
  press(p, DEPTHTOOLS_AGGREGATE, -1);
  EXPECT_EQ(depthwin_get_group_by(d), -1);
  tools_refresh_now(p);
  EXPECT_EQ(active(&p->aggregate_group), -1) << "Auto shown";
  press(p, DEPTHTOOLS_AGGREGATE, 10000);
  EXPECT_STREQ(tools_summary(p), "IN $1 INTERVALS");

  depthwin_set_show_age(d, 0);
  press(p, DEPTHTOOLS_AGE, 6);
  uint32_t kind = 0, count = 0;
  depthwin_get_age_split(d, 0, &kind, &count);
  EXPECT_EQ(kind, 5u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(depthwin_get_show_age(d), 1u) << "an age choice switches the colours on";
  tools_refresh_now(p);
  EXPECT_EQ(active(&p->age_group), 6);
  EXPECT_EQ(active(&p->thickness_group), 9);
  EXPECT_EQ(active(&p->aggregate_group), 10000);

  // The spinner: a custom split at its time, and the window keeps it.
  time_spinner_set_value(p->age_time, 1430);
  p->age_time->callback(p->age_time, p->age_time->arg, 0);
  depthwin_get_age_split(d, 0, &kind, &count);
  EXPECT_EQ(kind, 1u);
  EXPECT_EQ(count, 1430u);
  EXPECT_EQ(active(&p->age_group), 0);
  EXPECT_EQ(depthwin_get_age_split_custom(d, 0), 1430);
  // While a custom split is in force the spinner shows its time; under a
  // preset the window's stored custom time goes into the spinner, clamped.
  depthwin_set_age_split(d, 0, 4, 5);
  depthwin_set_age_split_custom(d, 0, 2300);
  EXPECT_EQ(depthtools_get_age_time(p, 0), 1900) << "clamped to 19:00";
  EXPECT_EQ(depthwin_get_age_split_custom(d, 0), 1900);
  EXPECT_EQ(depthtools_get_age_time(p, 1), 0);
  // A split of kind 1 shown: Custom with its time in the spinner.
  depthwin_set_age_split(d, 0, 1, 915);
  tools_refresh_now(p);
  EXPECT_EQ(active(&p->age_group), 0);
  EXPECT_EQ(time_spinner_value(p->age_time), 915);
  // A split no button shows: nothing selected.
  depthwin_set_age_split(d, 0, 6, 10);
  tools_refresh_now(p);
  EXPECT_EQ(active(&p->age_group), -99);
}

TEST_F(DepthPanel, ChartRangesChangeOnlyTheChartAndLeaveNoUndo) {
  open(1);
  depthtools *p = panel(ws[0]);
  press(p, DEPTHTOOLS_DISPLAY, 1);  // a step of the user's, to be kept
  int before = undo_count();
  ASSERT_GT(before, 0);
  struct row {
    int32_t id, range, count;
    bool bit64;
  } rows[] = {{5, 5, 1, false}, {7, 5, 7, false}, {8, 6, 1, false}, {6, 5, 1, true}};
  for (const row &r : rows) {
    press(p, kDepthtoolsRange, r.id);
    const chart_plot &c = p->chart->plot;
    EXPECT_EQ(c.range, r.range) << r.id;
    EXPECT_EQ(c.range_count, r.count) << r.id;
    EXPECT_EQ((c.options & 64) != 0, r.bit64) << r.id;
    EXPECT_EQ((c.options & 128) != 0, !r.bit64) << r.id;
    EXPECT_EQ(c.from_type, -1) << r.id;
    EXPECT_EQ(c.to_type, 5) << r.id;
    EXPECT_EQ(depthtools_get_chart_range(p), r.id - 5);
    EXPECT_EQ(undo_count(), before) << "no undo record for range " << r.id;
  }
  // The user's own step is still the one undone.
  uint32_t trades = depthwin_get_show_trades(depth(ws[0]));
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(depthwin_get_show_trades(depth(ws[0])), !trades);

  // The window's save and restore of the choice.
  depthtools_set_chart_range(p, 2);
  EXPECT_EQ(depthtools_get_chart_range(p), 2);
  EXPECT_EQ(active(&p->range_group), 7);
  EXPECT_EQ(p->chart->plot.range_count, 7);
  depthtools_set_chart_range(p, 4);
  EXPECT_EQ(depthtools_get_chart_range(p), 2) << "only 0 to 3";
}

TEST_F(DepthPanel, ACopiedWindowTakesTheChartRange) {
  open(2);
  for (int32_t choice : {0, 3, 1}) {
    depthtools_set_chart_range(panel(ws[0]), choice);
    depthwin_copy(depth(ws[1]), depth(ws[0]));
    EXPECT_EQ(depthtools_get_chart_range(panel(ws[1])), choice);
    EXPECT_EQ(panel(ws[1])->chart->plot.range, panel(ws[0])->chart->plot.range) << choice;
    EXPECT_EQ(panel(ws[1])->chart->plot.options, panel(ws[0])->chart->plot.options) << choice;
  }
}

// The chart's range follows the replay date: later than the instrument's
// latest date "All day", within the week before it "Week", else "Month".
TEST_F(DepthPanel, ChartRangeFollowsTheReplayDate) {
  open(1);
  depthtools *p = panel(ws[0]);
  depthwin_book *b = depthwin_get_book(depth(ws[0]));
  b->position = 0;
  depthtools_update_chart(p);
  EXPECT_EQ(depthtools_get_chart_range(p), 1) << "nothing without an instrument or a date";
  ss_stock *s = ssmodel_get_stock(ex0, "BHP");
  ASSERT_NE(s, nullptr);
  b->instrument = s;
  ssmodel_set_date(ex0, sstime_pack(0, 0, 0, 8, 12, 2026));
  const ss_time latest = ssmodel_exchange_date(0);
  ASSERT_EQ(latest, sstime_pack(0, 0, 0, 8, 12, 2026));
  struct row {
    int32_t days;  // the replay date against the latest
    int32_t choice, range, count;
  } rows[] = {{1, 1, 5, 1}, {0, 2, 5, 7}, {-6, 2, 5, 7}, {-7, 3, 6, 1}, {-30, 3, 6, 1}};
  for (const row &r : rows) {
    b->position = sstime_with_time_of_day(sstime_add_days(latest, r.days), sstime_pack(0, 0, 11, 1, 1, 1970));
    depthtools_update_chart(p);
    EXPECT_EQ(depthtools_get_chart_range(p), r.choice) << r.days;
    EXPECT_EQ(active(&p->range_group), r.choice + 5) << r.days;
    EXPECT_EQ(p->chart->plot.range, r.range) << r.days;
    EXPECT_EQ(p->chart->plot.range_count, r.count) << r.days;
  }
  b->instrument = nullptr;
}

TEST_F(DepthPanel, ReplayButtonsOnTheWindowsBook) {
  open(1);
  depthtools *p = panel(ws[0]);
  widget *d = depth(ws[0]);
  depthwin_book *b = depthwin_get_book(d);
  // A window replaying at 1800x: Faster twice stops at 3600.
  b->position = sstime_pack(0, 30, 11, 8, 12, 2026);
  b->anchor_position = b->position;
  b->speedup = 1800;
  tools_refresh_now(p);
  EXPECT_TRUE(button_is_sensitive(p->faster));
  EXPECT_FALSE(p->live->state & BUTTON_ACTIVE);
  press(p, DEPTHTOOLS_REPLAY, 3);
  EXPECT_FLOAT_EQ(b->speedup, 3600);
  press(p, DEPTHTOOLS_REPLAY, 3);
  EXPECT_FLOAT_EQ(b->speedup, 3600);
  press(p, DEPTHTOOLS_REPLAY, 4);
  EXPECT_FLOAT_EQ(b->speedup, 1800);
  // By event, then Faster works on the delay.
  press(p, DEPTHTOOLS_REPLAY, 9);
  EXPECT_EQ(b->realtime, 0u);
  b->delay = 0.2f;
  press(p, DEPTHTOOLS_REPLAY, 3);
  EXPECT_FLOAT_EQ(b->delay, 0.1f);
  press(p, DEPTHTOOLS_REPLAY, 4);
  EXPECT_FLOAT_EQ(b->delay, 0.2f);
  // One undo puts the delay back, the next the replay mode.
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_FLOAT_EQ(b->delay, 0.1f);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_FLOAT_EQ(b->delay, 0.2f);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(b->realtime, 1u) << "By Event undone";
  press(p, DEPTHTOOLS_REPLAY, 9);
  // Pause sets and releases the mark.
  press(p, DEPTHTOOLS_REPLAY, 0);
  EXPECT_TRUE(depthwin_has_mark(d));
  EXPECT_TRUE(p->pause->state & BUTTON_ACTIVE);
  press(p, DEPTHTOOLS_REPLAY, 0);
  EXPECT_FALSE(depthwin_has_mark(d));

  // Live: back to real time and live; the panel shows it.
  press(p, DEPTHTOOLS_REPLAY, 10);
  EXPECT_EQ(b->realtime, 1u);
  EXPECT_FALSE(depthwin_is_replaying(d));
  tools_refresh_now(p);
  EXPECT_TRUE(p->live->state & BUTTON_ACTIVE);
  for (button *k : {p->faster, p->slower, p->forward, p->mode}) EXPECT_FALSE(button_is_sensitive(k)) << k->text;
  EXPECT_TRUE(button_is_sensitive(p->back));
}

TEST_F(DepthPanel, SpeedLabelsWrittenOnlyWhenTheyChange) {
  open(1);
  depthtools *p = panel(ws[0]);
  depthwin_book *b = depthwin_get_book(depth(ws[0]));
  b->position = sstime_pack(56, 34, 12, 8, 12, 2026);
  b->anchor_position = b->position;
  b->speedup = 0.5f;
  depthtools_show_speed(p);
  EXPECT_STREQ(label_text(p->time_label), "12:34:56");
  EXPECT_STREQ(label_text(p->speed_label), "0.5x");
  EXPECT_EQ(p->chart->plot.marked.from, b->position);
  // Same time and speed: the labels are not written again (a sentinel put
  // into each stays).
  snprintf(p->time_label->text, sizeof p->time_label->text, "#");
  snprintf(p->speed_label->text, sizeof p->speed_label->text, "#");
  for (int i = 0; i < 5; i++) depthtools_show_speed(p);
  EXPECT_STREQ(label_text(p->time_label), "#");
  EXPECT_STREQ(label_text(p->speed_label), "#");
  b->speedup = 60;
  b->position = sstime_pack(5, 4, 9, 8, 12, 2026);
  depthtools_show_speed(p);
  EXPECT_STREQ(label_text(p->time_label), " 9:04:05");
  EXPECT_STREQ(label_text(p->speed_label), "60x");
  b->realtime = 0;
  b->delay = 0.25f;
  depthtools_show_speed(p);
  EXPECT_STREQ(label_text(p->speed_label), "4/s");
  EXPECT_FLOAT_EQ(p->shown_speed, -1);
  // Live again: both emptied once, Live shown, the marker cleared.
  b->anchor_position = 0;
  b->realtime = 1;
  depthtools_show_speed(p);
  EXPECT_STREQ(label_text(p->time_label), "");
  EXPECT_STREQ(label_text(p->speed_label), "");
  EXPECT_TRUE(p->live->state & BUTTON_ACTIVE);
  EXPECT_EQ(p->chart->plot.marked.from, 0u);
  EXPECT_FLOAT_EQ(p->shown_speed, 0);
}

TEST_F(DepthPanel, ShiftReachesEveryDepthWindowAsOneUndoStep) {
  open(3);
  for (window *w : ws) depthwin_set_group_by(depth(w), 0);
  depthwin_set_show_mode(depth(ws[1]), 2);
  shift(true);
  press(panel(ws[0]), DEPTHTOOLS_AGGREGATE, 2000);
  press(panel(ws[0]), DEPTHTOOLS_DISPLAY, 3);  // Show Table: each window by its own mode
  shift(false);
  for (window *w : ws) EXPECT_EQ(depthwin_get_group_by(depth(w)), 2000);
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[0])), 1u);
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[1])), 2u) << "never neither";
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[2])), 1u);
  for (window *w : ws) EXPECT_STREQ(tools_summary(panel(w)), "IN 20 CENT INTERVALS");
  // One undo: the table back everywhere; one more: the grouping.
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[0])), 3u);
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[1])), 2u);
  EXPECT_EQ(depthwin_get_show_mode(depth(ws[2])), 3u);
  for (window *w : ws) EXPECT_EQ(depthwin_get_group_by(depth(w)), 2000);
  EXPECT_EQ(undo_perform(), 0);
  for (window *w : ws) EXPECT_EQ(depthwin_get_group_by(depth(w)), 0);
  // Without Shift: the panel's own window only.
  press(panel(ws[2]), DEPTHTOOLS_AGGREGATE, 100);
  EXPECT_EQ(depthwin_get_group_by(depth(ws[2])), 100);
  EXPECT_EQ(depthwin_get_group_by(depth(ws[0])), 0);
  EXPECT_EQ(depthwin_get_group_by(depth(ws[1])), 0);
}

}  // namespace
