// The depth and course-of-sales panels end to end, under Xvfb against the
// simulator's demo scenario with its live market, in the real frame loop
// after a real sign-on. The first desktop is split into a depth window and
// two course-of-sales windows on one live stock, each with its panel shown.
// xdotool presses the depth panel's "Pause" and clicks on its replay chart:
// the window plays to the clicked time and holds there, and its table then
// equals the simulator's own book as it stood at that moment (the live
// market keeps its books second by second). A Shift click on the first
// course-of-sales panel's chart moves both lists to one clicked time.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../windows/depthsteps.h"
#include "appscript.h"
#include "sim.h"
#include "sim_live.h"
#include "ssmodel.h"
#include "tools/depthtools.h"
#include "tools/tradetools.h"
#include "ui/flyaway.h"
#include "windows/depthwin.h"
#include "charts/util.h"
#include "windows/nuchart.h"
#include "windows/tradelist.h"

namespace {

// The chart is laid out, shown and has samples to click on.
bool chart_ready(nuchart *c, int32_t samples) {
  return c && widget_is_shown(c) && c->r.w > 0 && c->plot.plot_w > 20 && c->plot.plot_h > 4 &&
         c->plot.count >= samples;
}

// A day's chart spaces its samples by time over the exchange's session
// (option bits 64 and 128); before the session opens on the wall clock the
// live market's trades lie left of that axis and every column is a time
// still to come. With both bits cleared the columns are the samples, so
// the test clicks on data whatever the time of day it runs at.
constexpr uint32_t kDayClamps = 64 | 128;

// A point of the chart's plot on its newest sample (a trade of the live
// market, whose books are kept from its first message): the middle of the
// columns showing that sample, `shift` columns to the left (to step off a
// news mark), in the lower half of the plot (news marks stack from the top).
void point_in(nuchart *c, int32_t shift, int32_t *x, int32_t *y) {
  const chart_plot &p = c->plot;
  std::vector<int32_t> xs;
  for (int32_t cx = p.plot_x; cx < p.plot_x + p.plot_w; cx++)
    if (p.count > 1 && util_time_at_x(&p, cx) == p.times[p.count - 1] && p.times[p.count - 1] > p.times[0])
      xs.push_back(cx);
  *x = xs.empty() ? p.plot_x : xs[xs.size() / 2] - shift;
  if (*x < p.plot_x) *x = p.plot_x;
  *y = p.plot_y + p.plot_h * 3 / 4;
}

// The chart's newest sample is in the past (a click on it plays to it
// rather than back to live).
bool newest_past(nuchart *c) {
  const chart_plot &p = c->plot;
  return p.count > 0 && ssmodel_exchange_now(ssmodel_exchange(0)) > sstime_add_seconds(p.times[p.count - 1], 1);
}

// Where the replay click goes: `shift` pixels into the first sample later
// than the chart's first second (the live market's opening, from which its
// books are kept), in the lower half of the plot; false until that sample
// starts in the left half of the plot.
//
// Not on the newest sample: the live market trades on between the aim and
// the click being handled, and the chart, which spaces its samples evenly,
// takes each trade at once. The plot's last pixel always shows the newest
// trade, which can bear the exchange's current second, and a click there
// rightly goes live. Every new trade moves a pixel at a fraction g of the
// plot by about g of a sample, so a pixel in the left half passes the
// samples there at the aim only after more new trades than the chart held,
// and those samples are all in the past (`newest_past`).
bool replay_aim(nuchart *c, int32_t shift, int32_t *x, int32_t *y, ss_time *at) {
  const chart_plot &p = c->plot;
  if (p.count < 2) return false;
  int32_t cx = p.plot_x;
  while (cx < p.plot_x + p.plot_w && util_time_at_x(&p, cx) <= p.times[0]) cx++;
  cx += shift;
  if (cx - p.plot_x > p.plot_w / 2) return false;
  *x = cx;
  *y = p.plot_y + p.plot_h * 3 / 4;
  *at = util_time_at_x(&p, cx);
  return *at > p.times[0];
}

// Opens a closed section (through its box: a click on its title strip
// races the box, which reopens what fits and may move a button under the
// pointer); true once open and settled.
bool section_open(fbox *box, flyaway *f) {
  if (!f || flyaway_animating(f)) return false;
  if (flyaway_is_open(f)) return true;
  fbox_open_flyaway(box, f);
  return false;
}

TEST(DepthPanelEndToEnd, ChartClickPlaysTheWindowToTheSimulatorsBookAndMovesLinkedLists) {
  demo_app app;
  app.keep_books = true;
  ASSERT_NO_FATAL_FAILURE(app.start("depthpanel"));
  app_script P;
  std::vector<window *> ws;
  const std::string code = sim_market_code(1);
  ss_stock *stock = nullptr;
  depthtools *dp = nullptr;
  tradetools *tp = nullptr;
  widget *depth = nullptr;
  ss_time clicked = 0, list_time = 0;
  ss_time aimed = 0;                 // the sample under the pointer at the replay click
  int32_t tries = 0, aim_x = -1, aim_y = -1;
  std::string click_diag;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  const auto focused = demo_app::focused;
  const auto list = [&](int i) { return tradelist_cast(ws[size_t(i) + 1]->child[kWinTradelist]); };

  P.steps = {
      {"online with the first screen up and the live stock known",
       [&] {
         if (!demo_app::signed_on_and_settled()) return false;
         stock = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
         return stock != nullptr;
       },
       [&] {
         desktop *d = screen_current_desktop();
         window **got = desktop_split(d, focused(), 3, 1);
         ASSERT_NE(got, nullptr);
         for (int i = 0; i < 3; i++) ws.push_back(got[i]);
         window_set_role(ws[0], kRoleDepth);
         window_set_role(ws[1], kRoleTradelist);
         window_set_role(ws[2], kRoleTradelist);
         for (window *w : ws) {
           window_set_instrument(w, stock);
           window_show_tools(w);
         }
         depth = ws[0]->child[kWinDepth];
         depthwin_set_group_by(depth, 0);
         dp = static_cast<depthtools *>(window_get_tools(ws[0], kRoleDepth));
         tp = static_cast<tradetools *>(window_get_tools(ws[1], kRoleTradelist));
         ASSERT_TRUE(depthtools_is(dp));
         ASSERT_TRUE(tradetools_is(tp));
         desktop_relayout(d);
       }},
      {"the depth panel's Replay section open",
       [&] {
         P.diag = "panel " + std::to_string(widget_is_shown(dp)) + " h " + std::to_string(dp->r.h);
         return widget_is_shown(dp) && dp->r.h > 0 && section_open(dp->box, dp->section[DEPTHTOOLS_REPLAY]);
       },
       [&] {
         // "Today" by a click: a range button reaches the chart (option
         // 128 on, 64 off); the test then clears both day clamps.
         button *today = depthtools_button(dp, kDepthtoolsRange, 5);
         ASSERT_NE(today, nullptr);
         const rect r = today->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 1");
       }},
      {"the chart on Today", [&] { return depthtools_get_chart_range(dp) == 0; },
       [&] { nuchart_clear_option_bits(dp->chart, kDayClamps); }},
      {"the window live on the stock's full book and the chart with samples",
       [&] {
         char b[200];
         snprintf(b, sizeof b, "flags %x chart shown %d w %d plot %d count %d replaying %d", stock->flags,
                  widget_is_shown(dp->chart), dp->chart->r.w, dp->chart->plot.plot_w, dp->chart->plot.count,
                  depthwin_is_replaying(depth));
         P.diag = b;
         return (stock->flags & 0x13) == 0x13 && chart_ready(dp->chart, 4) && !depthwin_is_replaying(depth) &&
                widget_is_shown(dp->pause) && dp->pause->r.w > 0;
       },
       [&] {
         const rect r = dp->pause->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 1");
       }},
      {"Pause holds the window",
       [&] {
         char b[200];
         const rect r = dp->pause->r;
         snprintf(b, sizeof b, "pos %u awaiting %u mark %u state %x pause %d,%d,%d,%d panel %d,%d,%d,%d", depthwin_get_book(depth)->position, depthwin_get_book(depth)->awaiting_history, depthwin_get_book(depth)->mark,
                  dp->pause->state, r.x, r.y, r.w, r.h, dp->r.x, dp->r.y, dp->r.w, dp->r.h);
         P.diag = b;
         return depthwin_has_mark(depth) && (dp->pause->state & BUTTON_ACTIVE);
       },
       [&] { clicked = depthwin_get_position(depth); }},  // the held live moment, before the click
      {"the pointer on an early sample of the chart, not over a news mark",
       [&] {
         nuchart *c = dp->chart;
         int32_t x, y;
         ss_time at;
         char b[200];
         snprintf(b, sizeof b, "n %d newest past %d aim %d at %d,%d pointer %d,%d tries %d", c->plot.count,
                  newest_past(c), replay_aim(c, tries, &x, &y, &at), aim_x, aim_y, c->pointer_x, c->pointer_y,
                  tries);
         P.diag = b;
         if (!newest_past(c) || !replay_aim(c, tries, &x, &y, &at)) return false;
         if (x != aim_x || y != aim_y) {
           // The aim moves as the chart takes trades: follow it.
           aim_x = x;
           aim_y = y;
           move_to(x, y);
           return false;
         }
         // The chart has seen the pointer there (its news hover is current).
         if (c->pointer_x != x || c->pointer_y != y) return false;
         if (c->news_from || c->news_item) {
           // Off the marks: a little to the right.
           tries++;
           return false;
         }
         aimed = at;
         return true;
       },
       [&] {
         const chart_plot &c = dp->chart->plot;
         char b[300];
         snprintf(b, sizeof b, "click %d,%d plot %d,%d,%d,%d n %d first %u last %u at %u now %u range %d/%d opt %x",
                  aim_x, aim_y, c.plot_x, c.plot_y, c.plot_w, c.plot_h, c.count, c.count ? c.times[0] : 0,
                  c.count ? c.times[c.count - 1] : 0, aimed, ssmodel_exchange_now(ssmodel_exchange(0)), c.range,
                  c.range_count, c.options);
         click_diag = b;
         for (int32_t k = 0; k < c.plot_w; k += 15) click_diag += " " + std::to_string(util_time_at_x(&c, c.plot_x + k) & 0x1FFFF);
         click_diag += " times";
         for (int32_t k = 0; k < c.count; k++) click_diag += " " + std::to_string(c.times[k] & 0x1FFFF);
         click_diag += " vis " + std::to_string(c.first_visible) + "-" + std::to_string(c.last_visible);
         xdo("click 1");
       }},
      {"the window replaying, held at the clicked time",
       [&] {
         const depthwin_book *b = depthwin_get_book(depth);
         char s[200];
         const chart_plot &c = dp->chart->plot;
         snprintf(s, sizeof s, "replaying %d mark %u position %u was %u awaiting %u chart n %d last %u",
                  depthwin_is_replaying(depth), b->mark, b->position, clicked, b->awaiting_history, c.count,
                  c.count ? c.times[c.count - 1] : 0);
         P.diag = s + (" " + click_diag);
         // Played to the sample aimed at, or to a later one of the chart's
         // when trades came in before the click was handled: a replayed
         // moment, held, not live. Pause alone holds the window without
         // replaying; only the click starts a replay.
         return depthwin_is_replaying(depth) && b->mark && !b->awaiting_history && b->position >= aimed &&
                b->position < ssmodel_exchange_now(ssmodel_exchange(0));
       },
       [&] {
         const depthwin_book *b = depthwin_get_book(depth);
         clicked = b->position;
         EXPECT_EQ(b->mark, b->position) << "held at the clicked time";
         EXPECT_EQ(dp->chart->plot.marked.from, clicked) << "the chart marks it";
         sim_stock_ref then;
         ASSERT_EQ(0, sim_live_book_before(app.live(), code.c_str(), clicked, &then));
         uint32_t group = depthwin_get_group_step(depth);
         int orders = 0;
         for (int side = 0; side < 2; side++) {
           std::vector<std::pair<uint32_t, uint64_t>> want;
           for (const sim_level &l : then.sides[side])
             for (uint64_t v : l.orders) want.push_back({l.price, v});
           orders += int(want.size());
           std::vector<DepthStep> rows, blocks;
           expected_steps(want, group, &rows, &blocks);
           EXPECT_EQ(table_steps(depthwin_get_child(depth, 2), side), rows) << "table side " << side;
         }
         EXPECT_GT(orders, 0) << "a book with orders was compared";
       }},
      {"the first course-of-sales panel's Range section open",
       [&] {
         P.diag = "panel " + std::to_string(widget_is_shown(tp)) + " h " + std::to_string(tp->r.h);
         return widget_is_shown(tp) && tp->r.h > 0 && section_open(tp->box, tp->section[TRADETOOLS_RANGE]);
       },
       [&] {
         button *today = tradetools_button(tp, TRADETOOLS_RANGE, 11);
         ASSERT_NE(today, nullptr);
         const rect r = today->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 1");
       }},
      {"the trade chart on Today",
       [&] { return tp->range_group.active && tp->range_group.active->id == 11 && tp->chart->plot.range_count == 1 &&
                    (tp->chart->plot.options & 128); },
       [&] { nuchart_clear_option_bits(tp->chart, kDayClamps); }},
      {"the trade chart with samples",
       [&] {
         P.diag = "count " + std::to_string(tp->chart->plot.count) + " plot w " + std::to_string(tp->chart->plot.plot_w) +
                  " shown " + std::to_string(widget_is_shown(list(0))) + std::to_string(widget_is_shown(list(1)));
         return chart_ready(tp->chart, 4) && list(0)->position == 0 && list(1)->position == 0;
       },
       [&] {
         tries = 0;
         int32_t x, y;
         point_in(tp->chart, 0, &x, &y);
         move_to(x, y);
       }},
      {"the pointer over the trade chart, not over a news mark",
       [&] {
         if (!newest_past(tp->chart)) return false;
         if (tp->chart->news_from || tp->chart->news_item) {
           tries++;
           int32_t x, y;
           point_in(tp->chart, tries, &x, &y);
           move_to(x, y);
           return false;
         }
         return true;
       },
       [&] { xdo("keydown shift click 1 keyup shift"); }},
      {"both lists moved to one clicked time",
       [&] {
         P.diag = "positions " + std::to_string(list(0)->position) + " " + std::to_string(list(1)->position);
         return list(0)->position != 0 && list(0)->position == list(1)->position;
       },
       [&] {
         list_time = list(0)->position;
         gui_quit();
       }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_NE(clicked, 0u);
  EXPECT_NE(list_time, 0u);
  if (list_time) {
    // The lists show the day up to the clicked time: the rows at their tops
    // are not later than it (the live market goes on adding newer rows
    // above, out of view).
    for (int i = 0; i < 2; i++) {
      const tradelist_row *top = list(i)->top_row;
      if (top) {
        EXPECT_LE(top->from, list_time) << "list " << i;
      }
    }
  }
  start_cleanup();
  app.stop();
}

}  // namespace
