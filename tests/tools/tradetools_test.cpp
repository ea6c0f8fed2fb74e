// The course-of-sales panel on real trade lists: the group-by ids and the
// intervals both ways, the summary (with the intervals that have no text),
// what the panel shows for each grouping, the chart preset and its ranges,
// and Shift clicks and chart clicks that reach every course-of-sales window
// of the desktop as one undo step.
#include <gtest/gtest.h>

#include <string>

#include "sstime.h"
#include "testlog.h"
#include "toolstest.h"
#include "tools/tradetools.h"
#include "windows/nuchart.h"
#include "windows/tradelist.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

struct group_row {
  int32_t id;
  int kind;  // 1 by price, 0 interval or none
  uint32_t seconds;
  const char *summary;  // with VWAP off
};
constexpr group_row kGroups[] = {
    {1, 1, 0, "GROUPED BY PRICE"},      {2, 0, 300, "IN 5 MIN INTERVALS"},    {3, 0, 600, "IN 10 MIN INTERVALS"},
    {4, 0, 900, "IN 15 MIN INTERVALS"}, {5, 0, 1200, "IN 20 MIN INTERVALS"},  {6, 0, 1800, "IN 30 MIN INTERVALS"},
    {7, 0, 3600, "IN 1 HOUR INTERVALS"}, {8, 0, 7200, "IN 2 HOUR INTERVALS"}, {9, 0, 14400, "IN 4 HOUR INTERVALS"},
    {16, 0, 86400, "DAILY"},            {10, 0, 0, ""},
};

TEST(TradeGroups, IdsToSecondsAndBack) {
  for (const group_row &r : kGroups) {
    uint32_t seconds = 99;
    EXPECT_EQ(tradetools_group_of(r.id, &seconds), r.kind) << r.id;
    EXPECT_EQ(seconds, r.seconds) << r.id;
    EXPECT_EQ(tradetools_group_id(r.kind == 1, r.seconds), r.id) << r.id;
    EXPECT_STREQ(tradetools_summary_of(0, r.kind == 1, r.seconds), r.summary) << r.id;
  }
  uint32_t s = 0;
  for (int32_t bad : {0, 11, 12, 15, 17, -1}) EXPECT_EQ(tradetools_group_of(bad, &s), -1) << bad;
  EXPECT_EQ(tradetools_group_id(0, 60), -1);
  EXPECT_EQ(tradetools_group_id(1, 3600), 1) << "price wins over a stale interval";
}

TEST(TradeGroups, SummaryWithVwapAndABadInterval) {
  EXPECT_STREQ(tradetools_summary_of(1, 0, 3600), "VWAP TRADES ONLY, IN 1 HOUR INTERVALS");
  EXPECT_STREQ(tradetools_summary_of(1, 0, 0), "VWAP TRADES ONLY");
  EXPECT_STREQ(tradetools_summary_of(1, 1, 0), "VWAP TRADES ONLY, GROUPED BY PRICE");
  LogCapture cap;
  EXPECT_STREQ(tradetools_summary_of(0, 0, 45), "");
  EXPECT_TRUE(cap.has("bad interval"));
}

class TradePanel : public Panels {
 protected:
  std::vector<window *> ws;

  void open(int n) { windows_of_role(kRoleTradelist, n, &ws); }
  static tradelist *list(window *w) { return tradelist_cast(w->child[kWinTradelist]); }
  static tradetools *panel(window *w) {
    widget *p = window_get_tools(w, kRoleTradelist);
    return tradetools_is(p) ? static_cast<tradetools *>(p) : nullptr;
  }
  static void press(tradetools *p, int section, int32_t id) {
    button *b = tradetools_button(p, section, id);
    ASSERT_NE(b, nullptr) << "section " << section << " id " << id;
    click(b);
  }
};

TEST_F(TradePanel, ChartPresetAndRanges) {
  open(1);
  tradetools *p = panel(ws[0]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->owner, ws[0]->child[kWinTradelist]);
  ASSERT_NE(p->chart, nullptr);
  const chart_plot &c = p->chart->plot;
  EXPECT_EQ(c.range, 5);
  EXPECT_EQ(c.range_count, 1);
  EXPECT_EQ(c.period, 9);
  EXPECT_EQ(c.type, 16);
  EXPECT_EQ(c.options, kTradetoolsChartOptions);
  float params[3];
  EXPECT_EQ(nuchart_find_overlay(p->chart, 0, params), 9);
  EXPECT_EQ(nuchart_find_overlay(p->chart, 1, params), 13);
  EXPECT_EQ(nuchart_find_overlay(p->chart, 2, params), -1);
  EXPECT_EQ(active(&p->range_group), 12) << "All day";
  struct row {
    int32_t id, range, count;
    bool bit64;
  } rows[] = {{13, 5, 7, false}, {14, 6, 1, false}, {11, 5, 1, false}, {12, 5, 1, true}};
  for (const row &r : rows) {
    press(p, TRADETOOLS_RANGE, r.id);
    EXPECT_EQ(c.range, r.range) << r.id;
    EXPECT_EQ(c.range_count, r.count) << r.id;
    EXPECT_EQ((c.options & 64) != 0, r.bit64) << r.id;
    EXPECT_EQ((c.options & 128) != 0, !r.bit64) << r.id;
    EXPECT_EQ(c.from_type, -1);
    EXPECT_EQ(c.to_type, 5);
  }
  // The list's marker reaches the chart.
  ss_time a = sstime_pack(0, 0, 11, 8, 12, 2026), b = sstime_pack(0, 5, 11, 8, 12, 2026);
  tradetools_set_marker(p, int32_t(a), int32_t(b));
  EXPECT_EQ(c.marked.from, a);
  EXPECT_EQ(c.marked.to, b);
}

TEST_F(TradePanel, RefreshShowsEveryGroupingAndLogsABadOne) {
  open(1);
  tradetools *p = panel(ws[0]);
  tradelist *t = list(ws[0]);
  for (const group_row &r : kGroups) {
    if (r.kind == 1) tradelist_set_group_by_price(t, 1);
    else if (r.seconds) tradelist_set_group_by_seconds(t, r.seconds);
    else tradelist_set_no_grouping(t);
    tools_refresh_now(p);
    EXPECT_EQ(active(&p->group_group), r.id) << r.id;
    EXPECT_STREQ(tools_summary(p), r.summary) << r.id;
  }
  tradelist_set_group_by_seconds(t, 45);
  LogCapture cap;
  tools_refresh_now(p);
  EXPECT_TRUE(cap.has("bad time 45"));
  EXPECT_EQ(active(&p->group_group), 10) << "left as it was";
  tradelist_set_vwap_only(t, 1);
  tradelist_set_group_by_seconds(t, 3600);
  tools_refresh_now(p);
  EXPECT_TRUE(p->vwap_only->state & BUTTON_ACTIVE);
  EXPECT_STREQ(tools_summary(p), "VWAP TRADES ONLY, IN 1 HOUR INTERVALS");
}

TEST_F(TradePanel, ShiftGroupsEveryListAsOneUndoStep) {
  open(3);
  for (window *w : ws) tradelist_set_group_by_price(list(w), 1);
  shift(true);
  press(panel(ws[1]), TRADETOOLS_GROUP, 2);
  shift(false);
  for (window *w : ws) {
    EXPECT_EQ(tradelist_get_group_by_seconds(list(w)), 300u);
    EXPECT_EQ(tradelist_get_group_by_price(list(w)), 0u);
  }
  EXPECT_EQ(undo_perform(), 0);
  for (window *w : ws) EXPECT_EQ(tradelist_get_group_by_price(list(w)), 1u);
  // VWAP Only without Shift: the panel's own list.
  press(panel(ws[0]), TRADETOOLS_SELECT, 4);
  EXPECT_EQ(tradelist_get_vwap_only(list(ws[0])), 1u);
  EXPECT_EQ(tradelist_get_vwap_only(list(ws[1])), 0u);
  press(panel(ws[0]), TRADETOOLS_GROUP, 10);
  EXPECT_EQ(tradetools_group_id(tradelist_get_group_by_price(list(ws[0])),
                                tradelist_get_group_by_seconds(list(ws[0]))), 10);
}

TEST_F(TradePanel, AChartClickPositionsEveryLinkedList) {
  open(2);
  tradetools *p = panel(ws[0]);
  ss_time t = sstime_pack(0, 15, 13, 8, 12, 2026);
  shift(true);
  p->chart->click_fn(p->chart, t, p->chart->click_ctx, p->chart->click_n);
  shift(false);
  for (window *w : ws) EXPECT_EQ(list(w)->position, t);
  // A zero time does nothing.
  p->chart->click_fn(p->chart, 0, p->chart->click_ctx, p->chart->click_n);
  for (window *w : ws) EXPECT_EQ(list(w)->position, t);
  EXPECT_EQ(undo_perform(), 0);
  for (window *w : ws) EXPECT_EQ(list(w)->position, 0u) << "one undo step for both";
}

// A shown list whose selection was below the top keeps the time it is moved
// to: the selection goes to the top first (moving it makes the list follow
// its top row, the newest), then the time is set.
TEST_F(TradePanel, AShownListKeepsTheClickedTimeWhateverItsSelection) {
  open(1);
  widget_show(ws[0]);
  ASSERT_TRUE(widget_is_shown(list(ws[0])));
  window_set_row_count(ws[0], -1);
  window_select_row(ws[0], 3);
  ASSERT_EQ(ws[0]->selection, 3u);
  tradetools *p = panel(ws[0]);
  ss_time t = sstime_pack(0, 0, 14, 8, 12, 2026);
  p->chart->click_fn(p->chart, t, p->chart->click_ctx, p->chart->click_n);
  EXPECT_EQ(ws[0]->selection, 0u);
  EXPECT_EQ(list(ws[0])->position, t);
  widget_hide(ws[0]);
}

}  // namespace
