// The tickbar on real screens under Xvfb: an "auto" market ticker whose only
// enabled exchange leaves the open phases is hidden within a second (the
// check runs once a second on the ticker clock and the relayout follows the
// next draw), the tickbar shrinks with it, and relaying out the tickbar of
// one screen leaves another screen current; alerts go to the alerts ticker
// of every open screen.
#include <gtest/gtest.h>

#include <functional>

#include "config/config.h"
#include "guitest.h"
#include "drawstart.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "testmodel.h"
#include "ui/gui.h"

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

}  // namespace
