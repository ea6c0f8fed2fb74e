// The tickbar on real screens under Xvfb: an "auto" market ticker whose only
// enabled exchange leaves the open phases is hidden within a second (the
// check runs once a second on the ticker clock and the relayout follows the
// next draw), the tickbar shrinks with it, and relaying out the tickbar of
// one screen leaves another screen current; alerts go to the alerts ticker
// of every open screen; an xdotool click on an alert item marks it seen and
// selects its instrument in the alerts window.
#include <gtest/gtest.h>

#include <functional>

#include "config/config.h"
#include "guitest.h"
#include "drawstart.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "testmodel.h"
#include "screen/desktop.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/alerts.h"
#include "windows/window.h"

namespace {

int64_t g_ms = 0;
int64_t test_ms() { return g_ms; }
int all_permitted(int32_t) { return 1; }

class TickbarEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("tickbar_gui_test"));
    ASSERT_TRUE(drawstart_up());
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, screen_init());
  }
  void TearDown() override {
    screen_shutdown();
    config_shutdown();
    ssmodel_fini();
    drawstart_down();
    gui_shutdown();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new TickbarEnv);

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

TEST(TickbarGui, AutoTickerHiddenWithinASecondOnItsOwnScreen) {
  for (int n : {0, 1}) ASSERT_EQ(0, screen_open(n)) << n;
  ASSERT_TRUE(draw_until([] { return screens_up() && !screen_relayout_pending(); }));
  g_ms = 1000000;
  ticker_set_clock(test_ms);
  ticker_set_permission(all_permitted);  // no user has signed on here
  screen *s = screen_get(0);
  widget *tb = s->tickbar;
  ticker *t = tickbar_get_ticker(tb, 0);
  ASSERT_NE(nullptr, t);
  ASSERT_TRUE(draw_until([&] { return tickbar_alert_ticker_visible(tb) != 0; }));
  for (int i = 0; i < 4; i++) ticker_set_exchange(t, i, i == 0);
  ssmodel_exchange(0)->phase = 20;
  screen_push(0);
  ticker_set_show(t, TICKER_SHOW_AUTO);
  screen_pop();
  ASSERT_TRUE(draw_until([&] { return widget_is_shown(t) && !screen_relayout_pending(); }));
  const int32_t tall = tb->r.h;

  // Relaying out screen 0's tickbar leaves the current screen current.
  screen_select(1);
  tickbar_relayout(tb);
  EXPECT_EQ(1, screen_current_index()) << "pushed and popped";
  EXPECT_TRUE(widget_is_shown(t));
  screen_select(0);

  // The exchange leaves the open phases.
  ssmodel_exchange(0)->phase = 15;
  g_ms += 500;
  for (int i = 0; i < 5; i++) gui_tick();
  EXPECT_TRUE(widget_is_shown(t)) << "not re-tested before a second has passed";
  g_ms += 500;
  EXPECT_TRUE(draw_until([&] { return !widget_is_shown(t); })) << "hidden within a second";
  EXPECT_FALSE(tickbar_ticker_visible(tb, 0));
  ASSERT_TRUE(draw_until([&] { return !screen_relayout_pending() && tb->r.h < tall; }));

  // Back in an open phase: shown again at the next check.
  ssmodel_exchange(0)->phase = 40;
  g_ms += 1000;
  EXPECT_TRUE(draw_until([&] { return widget_is_shown(t); }));

  // Alerts reach the alerts ticker of every open screen.
  ss_stock *st = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
  ASSERT_TRUE(draw_until([] { return tickbar_alert_ticker_visible(screen_get(1)->tickbar) != 0; }));
  EXPECT_EQ(0, screen_alert_high(st, 1234));
  for (int n : {0, 1}) {
    ticker *at = tickbar_alert_ticker(screen_get(n)->tickbar);
    ASSERT_NE(nullptr, at->queue_last) << n;
    EXPECT_EQ(static_cast<instr *>(st), at->queue_last->instrument) << n;
    EXPECT_EQ(1234u, at->queue_last->price) << n;
  }
  ticker_set_show(t, TICKER_SHOW_HIDE);
  ticker_set_clock(nullptr);
  ticker_set_permission(nullptr);
  screen_select(0);
  EXPECT_EQ(0, screen_close(1));
}

// A click on an alert item in the alerts ticker: the item is seen (no more
// drawn) and the alerts window of the current desktop selects its
// instrument.
TEST(TickbarGui, ClickOnAnAlertItemSelectsItInTheAlertsWindow) {
  screen_select(0);
  if (!screen_is_open(0)) ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(draw_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  window *w = window_new(nullptr, 0);
  ASSERT_EQ(0, desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1));
  window_set_role(w, kRoleAlerts);
  widget *grid = window_get_content(w, kRoleAlerts);
  ss_stock *st = ssmodel_get_stock(ssmodel_exchange(0), "CBA");
  st->last = 10000;
  ASSERT_NE(nullptr, alerts_set_alert(st, 9000, kAlertNoPrice, kAlertNoVolume, 0, 0));
  ASSERT_TRUE(draw_until([&] { return tickbar_alert_ticker_visible(s->tickbar) && widget_is_shown(grid); }));
  EXPECT_EQ(nullptr, alerts_get_current(grid));

  ticker *at = tickbar_alert_ticker(s->tickbar);
  ticker_reset(at);
  g_ms = 2000000;
  ticker_set_clock(test_ms);
  st->last = 8900;
  alerts_evaluate(alerts_find(st));  // fires: one item for the alerts ticker
  ASSERT_NE(nullptr, at->queue_first);
  ASSERT_TRUE(draw_until([&] { return at->first != nullptr; }));
  g_ms += 2000;  // well inside the window
  ASSERT_TRUE(draw_until([&] { return at->first->x < at->r.x + at->r.w - at->first->width; }));
  ticker_item *it = at->first;
  const int x = it->x + it->width / 2, y = at->r.y + at->r.h / 2;
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y) +
              " click 1");
  EXPECT_TRUE(draw_until([&] { return it->seen != 0; })) << "the click reached the item";
  EXPECT_EQ(alerts_find(st), alerts_get_current(grid));
  ticker_set_clock(nullptr);
  alerts_fini();
}

}  // namespace
