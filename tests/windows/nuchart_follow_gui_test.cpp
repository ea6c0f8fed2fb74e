// The chart cursor mirrored across chart windows, end to end under Xvfb: a
// screen shows two chart windows of one stock from the simulator's live
// market; with Shift and Control held over the first (xdotool), the second
// hovers its sample at the same time and draws its cross-hair there; letting
// go clears both.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "config/config.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "plat.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "sim.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "style.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/nuchart.h"
#include "windows/window.h"

namespace {

class ChartFollow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Local time near noon, inside the trading day (see nuchart_gui_test).
    time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    int offset = 12 - utc.tm_hour;
    if (offset < -11) offset += 24;
    char tz[16];
    snprintf(tz, sizeof tz, "AMB%+d", -offset);
    setenv("TZ", tz, 1);
    tzset();
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("nuchart_follow_gui_test"));
    ssio_set_default_host("");
    tex_init();
    ASSERT_EQ(0, tex_load_builtin());
    ASSERT_EQ(0, fade_init());
    ASSERT_EQ(0, gmap_init(kGmapBudget));
    ASSERT_EQ(0, style_init());
    ASSERT_EQ(0, style_select(0));
    ASSERT_EQ(0, cstyle_init());
  }
  static void TearDownTestSuite() {
    style_fini();
    gmap_fini();
    // fade_fini is left out: the watch bar's rows stop their fades while the
    // gui is quitting, when fade_stop returns without unlinking them, and the
    // fade list would then point into the freed rows.
    tex_fini();
  }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_today_sim(&sim, 50));
    sim_live_options lo;
    lo.index = 0;
    lo.brokers = true;
    lo.rate = 200;
    lo.seed = 5;
    lo.stocks = 3;
    live = sim_live_start(sim, lo);
    ASSERT_NE(nullptr, live);
    code = sim_market_code(1);
    const int port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, screen_init());
    screens = true;
    thread = plat_thread_create(
        [](void *arg) {
          auto *self = static_cast<ChartFollow *>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }
  void TearDown() override {
    guitest_xdo("keyup ctrl shift");
    if (screens) {
      core_lock lock;
      screen_shutdown();
      config_shutdown();
    }
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }, 10000));
      plat_thread_join(thread);
      plat_thread_cancel(thread);
    }
    sim_live_stop(live);
    sim_destroy(sim);
    if (client) ssclient_fini();
  }
  static void pass() {
    core_lock lock;
    ssclient_deliver();
    gui_tick();
  }
  static bool pass_until(const std::function<bool()> &cond, int ms = 15000) {
    return guitest_wait_for(
        [&] {
          pass();
          core_lock lock;
          return cond();
        },
        ms);
  }

  sim_server *sim = nullptr;
  sim_live *live = nullptr;
  std::string code;
  bool client = false, screens = false;
  int32_t thread = -1;
  std::atomic<bool> done{false};
  int rc = 0;
};

TEST_F(ChartFollow, ShiftMirrorsTheCursorIntoTheOtherChartWindow) {
  ss_stock *stock = nullptr;
  ASSERT_TRUE(pass_until([&] {
    ss_exchange *ex = ssmodel_exchange(0);
    stock = ex && ex->date ? ssmodel_find_stock(ex, code.c_str()) : nullptr;
    return ssclient_is_online() && stock && stock->trades.count > 20;
  }));
  screen_select(0);
  ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(pass_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  nuchart *a = nullptr, *b = nullptr;
  {
    core_lock lock;
    window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
    ASSERT_EQ(0, desktop_layout_apply(screen_current_desktop(), nullptr, "W0 W1 H0.500", ws, 2));
    for (window *w : ws) {
      window_set_role(w, kRoleChart);
      nuchart *c = nuchart_cast(window_get_content(w, kRoleChart));
      nuchart_set_range(c, 5, 1);
      nuchart_set_period(c, 1, 1);
      nuchart_set_type(c, 4);
      window_set_instrument(w, stock);
    }
    a = nuchart_cast(window_get_content(ws[0], kRoleChart));
    b = nuchart_cast(window_get_content(ws[1], kRoleChart));
  }
  ASSERT_TRUE(pass_until([&] {
    return widget_is_shown(a) && widget_is_shown(b) && a->plot.count > 4 && b->plot.count > 4 && !a->plot.eod;
  }));
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  int32_t x, y;
  {
    core_lock lock;
    x = a->plot.pane_x + a->plot.pane_w / 2;
    y = a->plot.pane_y + a->plot.pane_h - 10;
  }
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y));
  guitest_xdo("keydown shift ctrl");
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x + 2) + " " + std::to_string(y));
  ASSERT_TRUE(pass_until(
      [&] { return a->view.hovering && a->follow && b->view.hovering && b->view.hover_index >= 0; }, 8000))
      << "a hovering " << a->view.hovering << " follow " << a->follow << " b hovering " << b->view.hovering;
  {
    core_lock lock;
    ss_time ta = a->plot.times[a->view.hover_index];
    int32_t k = b->view.hover_index;
    // b's sample is the one at a's time: at or before it, the next after it.
    EXPECT_LE(b->plot.times[k], ta);
    if (k + 1 < b->plot.count) EXPECT_GT(b->plot.times[k + 1], ta);
  }
  // b draws its cross-hair: its hovered column is inked down the pane.
  pass();
  gui_invalidate_window(s->os_window);
  pass();
  int32_t bx, top, bottom;
  {
    core_lock lock;
    bx = (int32_t)b->plot.xpos[b->view.hover_index];
    top = b->plot.pane_y + 30;
    bottom = b->plot.pane_y + b->plot.pane_h - 30;
  }
  std::vector<uint32_t> column = guitest_window_pixels(xw, {bx, top, 1, bottom - top});
  ASSERT_EQ(column.size(), (size_t)(bottom - top));
  int32_t inked = 0;
  for (uint32_t px : column) inked += !guitest_near(px, chart_colour(0, 4), 6);
  EXPECT_GT(inked, (bottom - top) / 2);
  // Letting go clears the mirrored cursor.
  guitest_xdo("keyup ctrl shift");
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y));
  EXPECT_TRUE(pass_until([&] { return !a->view.hovering && !b->view.hovering; }, 8000));
}

}  // namespace
