// End to end under Xvfb: the client signs on to the simulator's live market
// (as `ambit-sim --live` runs it, here in-process) and a screen shows an
// alerts window and the alerts ticker. An alert set just above a stock's
// price fires once when the market trades through it: one item in the
// alerts ticker, its time in the alerts window (and the status cell drawn
// in the fired colour), no second item while the price stays above. The
// ticker item's left edge at two frames of a test clock lies speed x
// elapsed time apart in the pixels the X server shows. The alert survives a
// save and load of the configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fmt.h"
#include "plat.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "screen/tickbar.h"
#include "sim.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/alerts.h"
#include "windows/window.h"

namespace {

constexpr uint32_t kStocks = 6;

int64_t g_ticker_ms = 0;
int64_t ticker_clock() { return g_ticker_ms; }

class AlertsLive : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("alerts_live_test"));
    ssio_set_default_host("");
    // What the application main starts before the screens: the atlas, fades,
    // drawing lists and a style.
    ASSERT_TRUE(drawstart_up());
  }
  static void TearDownTestSuite() { drawstart_down(); }

  void SetUp() override {
    int port = 0;
    ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 300, 7, kStocks, &port));
    for (uint32_t i = 0; i < kStocks; i++) codes.push_back(sim_market_code(1 + i * 37));
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ssclient_set_yield(2000, 1);
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, screen_init());
    screens = true;
    thread = plat_thread_create(
        [](void *arg) {
          auto *self = static_cast<AlertsLive *>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  void TearDown() override {
    ticker_set_clock(nullptr);
    if (screens) {
      core_lock lock;
      alerts_fini();  // the alerts drop their registrations while the model stands
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

  // One pass of the user interface: model changes delivered, then a frame,
  // all under the core lock as the frame loop's active hook holds it.
  static void pass() {
    core_lock lock;
    ssclient_deliver();
    gui_tick();
  }
  static bool pass_until(const std::function<bool()> &cond, int ms = 10000) {
    return guitest_wait_for(
        [&] {
          pass();
          core_lock lock;
          return cond();
        },
        ms);
  }

  // Items of the instrument in the alerts ticker (visible and queued).
  static int ticker_items_of(ticker *t, const instr *in) {
    int n = 0;
    for (ticker_item *lists : {t->first, t->queue_first})
      for (ticker_item *it = lists; it; it = it->next) n += it->instrument == in;
    return n;
  }

  // The left-most column of the band whose pixel differs from the ticker's
  // background, or -1.
  static int32_t left_edge(uint64_t xw, const rect &band, uint32_t bg) {
    const rect row = {band.x, band.y, band.w, band.h};
    std::vector<uint32_t> px = guitest_window_pixels(xw, row);
    if (px.size() != size_t(row.w) * size_t(row.h)) return -2;
    int32_t best = -1;
    for (int32_t y = 0; y < row.h; y++)
      for (int32_t x = 0; x < row.w; x++)
        if (!guitest_near(px[size_t(y) * size_t(row.w) + size_t(x)], bg, 8)) {
          if (best < 0 || x < best) best = x;
          break;
        }
    return best < 0 ? -1 : row.x + best;
  }

  sim_server *sim = nullptr;
  sim_live *live = nullptr;
  std::vector<std::string> codes;
  bool client = false, screens = false;
  int32_t thread = -1;
  std::atomic<bool> done{false};
  int rc = 0;
};

TEST_F(AlertsLive, AlertFiresOncePostsOneTickerItemShowsItsTimeAndSurvivesSaveAndLoad) {
  ASSERT_TRUE(pass_until([] { return ssclient_is_online() != 0; }));
  screen_select(0);
  ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(pass_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  window *w = nullptr;
  widget *grid = nullptr;
  {
    core_lock lock;
    w = window_new(nullptr, 0);
    ASSERT_EQ(0, desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1));
    window_set_role(w, kRoleAlerts);
    grid = window_get_content(w, kRoleAlerts);
  }
  ASSERT_NE(nullptr, alerts_grid_of(grid));
  ASSERT_TRUE(pass_until([&] { return tickbar_alert_ticker_visible(s->tickbar) && widget_is_shown(grid); }));
  ticker *at = tickbar_alert_ticker(s->tickbar);

  // Every live stock with a price gets an alert one cent above it.
  ss_stock *st = nullptr;
  uint32_t trigger = 0;
  ASSERT_TRUE(pass_until([&] {
    ss_exchange *ex = ssmodel_exchange(0);
    for (const std::string &code : codes) {
      ss_stock *x = ssmodel_find_stock(ex, code.c_str());
      if (x && x->last && x->last != kAlertNoPrice && !alerts_find(x))
        EXPECT_NE(nullptr, alerts_set_alert(x, kAlertNoPrice, x->last + 1, kAlertNoVolume, 0, 0));
    }
    return alerts_count() == int32_t(kStocks);
  }));
  // The first to fire.
  alert *a = nullptr;
  ASSERT_TRUE(pass_until(
      [&] {
        for (alert *x = alerts_first(); x; x = x->next)
          if (x->high_fired) a = x;
        return a != nullptr;
      },
      60000))
      << "no price went up a cent in a minute";
  ss_time fired;
  {
    core_lock lock;
    st = static_cast<ss_stock *>(a->instrument);
    trigger = a->max_price;
    fired = a->high_fired;
    EXPECT_GE(st->last, trigger);
    EXPECT_EQ(1, ticker_items_of(at, st)) << "one ticker item";
    EXPECT_EQ(uint32_t(ALERT_HIGH), alerts_fired_bits(a));
    EXPECT_EQ(0.0f, a->high_dist);
  }
  // The market goes on trading: no second post, the fired time stays.
  const uint64_t later = sim_live_count(live) + 300;
  ASSERT_TRUE(pass_until([&] { return sim_live_count(live) >= later; }));
  {
    core_lock lock;
    EXPECT_EQ(fired, a->high_fired);
    EXPECT_EQ(1, ticker_items_of(at, st)) << "fired once";
    // The alerts window shows the fired time in the high status column.
    EXPECT_STREQ(fmt_time_hms(fired), alerts_cell_text(grid, a, 11));
  }
  // Only the fired alert shown, so its row is the top one: its status cell
  // is drawn in the fired colour.
  alerts_set_fired_filter(grid, 2);
  gui_invalidate_window(s->os_window);
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  {
    alerts_grid *g = alerts_grid_of(grid);
    const cols_col &c = g->columns.col[11];
    ASSERT_TRUE(c.shown);
    ASSERT_GE(alerts_shown_count(grid), 1);
    alerts_row *top = nullptr;
    for (alerts_row *r = g->rows; r; r = r->next)
      if (r->shown && (!top || r->y < top->y)) top = r;
    ASSERT_NE(nullptr, top);
    ASSERT_FALSE(guitest_near(style_colour(style_cur(), SC_WARNING), style_colour(style_cur(), SC_GRID_BACKGROUND), 8));
    uint32_t px = 0;
    EXPECT_TRUE(pass_until([&] {
      // Three pixels in from the cell's top left: clear of the window
      // frame's two rings where the row meets the window's edge.
      px = guitest_window_pixel(xw, c.x0 + 3, top->y + 3);
      return guitest_near(px, style_colour(style_cur(), SC_WARNING), 8);
    })) << std::hex << px;
  }

  // The ticker on a test clock: the item's left edge moves speed x elapsed.
  {
    core_lock lock;
    for (alert *x = alerts_first(); x; x = x->next)
      if (x != a) ticker_mark_alert_seen(at, x->instrument);
    g_ticker_ms = gui_time_ms();
    ticker_set_clock(ticker_clock);
    ticker_reset(at);
    ticker_add_alert_high(at, st, trigger);
  }
  const rect band = at->r;
  ASSERT_GT(band.h, 0);
  const uint32_t bg = style_colour(style_cur(), SC_BACKGROUND);
  // The clock stands still between frames: the image settles once the
  // frame of that time is on screen (two reads agree, the item shows).
  auto edge_at = [&](int64_t ms) {
    g_ticker_ms = ms;
    gui_invalidate_window(s->os_window);
    int32_t last = -3, now = -4;
    bool ok = pass_until([&] {
      last = now;
      now = left_edge(xw, band, bg);
      return now > band.x && now == last;
    });
    return ok ? now : -1;
  };
  const int64_t t0 = g_ticker_ms;
  pass();  // enters at the right edge
  const int32_t x1 = edge_at(t0 + 3000);
  const float speed = at->speed;
  const int32_t x2 = edge_at(t0 + 3500);
  ASSERT_GT(x1, band.x) << "the item is on screen";
  ASSERT_GT(x2, band.x);
  EXPECT_NEAR(double(x1 - x2), 0.5 * speed, 1.0) << x1 << " " << x2 << " at " << speed;
  ticker_set_clock(nullptr);

  // Save and load: the alert comes back with its triggers, in the window.
  std::string text;
  {
    core_lock lock;
    config_out_reset();
    alerts_save();
    int32_t len = 0;
    const char *data = config_out_buffer(&len);
    text.assign(data, size_t(len));
    alerts_fini();
    EXPECT_EQ(0, alerts_shown_count(grid));
    ASSERT_EQ(0, alerts_init());
    ASSERT_EQ(0, config_load_buffer(text.data(), int32_t(text.size())));
    EXPECT_EQ(int32_t(kStocks), alerts_load());
    const alert *back = alerts_find(st);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(trigger, back->max_price);
    EXPECT_EQ(kAlertNoPrice, back->min_price);
    alerts_set_fired_filter(grid, 4);
    EXPECT_EQ(int32_t(kStocks), alerts_shown_count(grid));
  }
  EXPECT_NE(std::string::npos, text.find("alert.instr S:ASX:" + std::string(st->code))) << text;
}

}  // namespace
