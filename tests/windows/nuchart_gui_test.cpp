// End to end under Xvfb: chart windows in a real gui window, the client
// signed on to the simulator's demo scenario with its live market (what
// `ambit-sim --scenario demo --live` runs, here in-process). A chart window
// draws a stock's candles (pixels read back from the X server at each
// candle's close), its last candle follows the trades the market makes,
// Control held over it shows the cross-hair and the data box and turns the
// pointer into the cross-hair shape, its export reaches the system
// clipboard (read back by xclip), and the trade chart holder draws the
// day's line. A daily chart's news marks give their day's news span under
// the pointer and a click opens its first announcement; an intraday chart's
// single news item is pointed at, opened and dragged. The mini quote's
// preset draws the day's line. On a screen with two chart windows, Shift and Control held
// over one mirror its cursor into the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/paint.h"
#include "charts/util.h"
#include "config/config.h"
#include "dnd.h"
#include "export/clipboard.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "plat.h"
#include "screen/desktop.h"
#include "screen/gendtl.h"
#include "screen/screen.h"
#include "sim.h"
#include "sim_history.h"
#include "sim_live.h"
#include "sim_scenario.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "style.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "testsimclient.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/histnews.h"
#include "windows/nuchart.h"
#include "windows/tradechart.h"
#include "windows/window.h"

namespace {

constexpr int kW = 800, kH = 400;
constexpr uint8_t kState = 50;

// The simulator's demo market with its live trading and a client signed on
// to it from its own thread, a gui with a window manager (for the screens),
// the atlas, fades, drawing lists, a visual style and the chart styles.
class ChartSim : public SimClientTest {
 public:
  static void SetUpTestSuite() {
    // The process's local time (the simulator's market and the client's
    // exchange clocks both read it) is put near noon, inside the trading
    // day, whatever the hour the test runs at.
    time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    int offset = 12 - utc.tm_hour;  // hours east of UTC
    if (offset < -11) offset += 24;
    char tz[16];
    snprintf(tz, sizeof tz, "AMB%+d", -offset);
    setenv("TZ", tz, 1);
    tzset();
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ssio_set_default_host("");
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    ASSERT_EQ(cstyle_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
  }
  static void TearDownTestSuite() {
    style_fini();
    gmap_fini();
    // fade_fini is left out: the screens' watch bar stops its rows' fades
    // while the gui is quitting, when fade_stop returns without unlinking
    // them, and the fade list would then point into the freed rows.
    tex_fini();
  }

 protected:
  void SetUp() override {
    sim_options o;
    o.name = "ambit-sim";
    sim = sim_create(o);
    sim_user u;
    u.name = "alice";
    u.password = "secret";
    ASSERT_EQ(0, sim_add_user(sim, u));
    ASSERT_EQ(0, sim_build_scenario(sim, "demo", sim_local_now(), kState));
    code = sim_market_code(1);
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ASSERT_NO_FATAL_FAILURE(run_until_online());
    // The day opens (its date from the demo stream), then the market trades.
    ASSERT_TRUE(wait_for([] {
      core_lock lock;
      ssclient_deliver();
      ss_exchange *ex = ssmodel_exchange(0);
      return ex && ex->date != 0;
    }));
    sim_live_options lo;
    lo.index = 0;
    lo.brokers = sim_scenario_has_brokers(0);
    lo.rate = 200;
    lo.seed = 3;
    lo.stocks = 4;
    live = sim_live_start(sim, lo);
    ASSERT_NE(live, nullptr);
    ASSERT_TRUE(wait_for(
        [this] {
          core_lock lock;
          ssclient_deliver();
          ss_exchange *ex = ssmodel_exchange(0);
          stock = ex ? ssmodel_find_stock(ex, code.c_str()) : nullptr;
          return stock && stock->trades.count > 0;
        },
        15000));
  }

  void TearDown() override {
    guitest_xdo("keyup ctrl shift");
    stop(10000);
    sim_live_stop(live);
    sim_destroy(sim);
    if (client) ssclient_fini();
  }

  // One pass of the frame loop after the model's changes are delivered, as
  // the terminal runs them: under the core lock.
  void pass() {
    core_lock lock;
    ssclient_deliver();
    gui_tick();
  }
  bool until(const std::function<bool()> &cond, int ms = 15000) {
    return guitest_wait_for(
        [&] {
          pass();
          core_lock lock;
          return cond();
        },
        ms);
  }

  sim_live *live = nullptr;
  std::string code;
  ss_stock *stock = nullptr;
  bool client = false;
};

// Two windows side by side in a root of the test's own: a chart window and
// the trade chart holder.
class ChartGui : public ChartSim {
 protected:
  void TearDown() override {
    if (root) {
      core_lock lock;
      guitest_window::close_all();
      widget_delete(root);
      window_destroy_all();
    }
    ChartSim::TearDown();
  }

  window *open_window(int32_t x, int32_t w, uint32_t role) {
    window *win = window_new(root, 0);
    win->r = {x, 0, w, kH};
    window_set_role(win, role);
    return win;
  }

  void open_windows() {
    core_lock lock;
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
    chart_win = open_window(0, kW / 2, kRoleChart);
    holder_win = open_window(kW / 2, kW / 2, kRoleTradechart);
    ASSERT_TRUE(gw.open(root, {40, 40, kW, kH}));
    widget_show_subtree(root);
    for (window *win : {chart_win, holder_win}) {
      container_cls(win)->layout(win);
      win->cls->show_children(win);
    }
    chart = nuchart_cast(window_get_content(chart_win, kRoleChart));
    ASSERT_TRUE(nuchart_is(chart));
    // Candles of one second each over today, on the light colours.
    nuchart_set_range(chart, 5, 1);
    nuchart_set_period(chart, 1, 1);
    nuchart_set_type(chart, 4);
    window_set_instrument(chart_win, stock);
    window_set_instrument(holder_win, stock);
    ASSERT_TRUE(widget_is_shown(chart));
  }

  // The colour a candle is painted in: rising, falling, or (flat) either.
  static bool candle_colour_ok(const chart_plot &p, int32_t i, uint32_t seen) {
    // The scheme the chart paints with: the dark style's for a chart that
    // asks for none of its own.
    const int32_t set = paint_colour_set(p.options);
    uint32_t up = chart_colour(set, 6), down = chart_colour(set, 7);
    if (p.close[i] > p.open[i]) return guitest_near(seen, up, 8);
    if (p.close[i] < p.open[i]) return guitest_near(seen, down, 8);
    return guitest_near(seen, up, 8) || guitest_near(seen, down, 8);
  }

  // Every visible candle's close pixel in its colour; how many were checked.
  int32_t check_candles() {
    widget_redraw(root);
    gw.settle();
    core_lock lock;
    const chart_plot &p = chart->plot;
    int32_t checked = 0;
    for (int32_t i = p.first_visible; i <= p.last_visible; i++) {
      if (p.y_close[i] == kChartNoPixel) continue;
      // The caption and legends are written over the top rows.
      if ((int32_t)p.y_close[i] < p.pane_y + 24) continue;
      uint32_t seen = guitest_window_pixel(gw.xw, (int32_t)p.xpos[i], (int32_t)p.y_close[i]);
      EXPECT_TRUE(candle_colour_ok(p, i, seen))
          << "candle " << i << " at " << p.xpos[i] << "," << p.y_close[i] << " seen " << std::hex << seen;
      checked++;
    }
    return checked;
  }

  tw *root = nullptr;
  window *chart_win = nullptr, *holder_win = nullptr;
  nuchart *chart = nullptr;
  guitest_window gw;
};

TEST_F(ChartGui, CandlesFollowTradesCrossHairAndExport) {
  ASSERT_NO_FATAL_FAILURE(open_windows());
  ASSERT_TRUE(until([&] { return chart->plot.count >= 4 && chart->plot.eod == 0; }))
      << "samples " << chart->plot.count;
  EXPECT_GT(check_candles(), 0);

  // The last candle follows the market: a later second, closing at the
  // stock's last price.
  ss_time before;
  {
    core_lock lock;
    before = chart->plot.times[chart->plot.last_visible];
  }
  ASSERT_TRUE(until([&] {
    const chart_plot &p = chart->plot;
    if (p.count <= 0) return false;
    return p.times[p.last_visible] > before && std::llround(p.close[p.last_visible] * 100) == stock->last;
  })) << "samples " << chart->plot.count << ", visible " << chart->plot.first_visible << "-"
      << chart->plot.last_visible;
  EXPECT_GT(check_candles(), 0);

  // Control held over the chart: the cross-hair shape, the hovered sample,
  // its column and the data box drawn over the background.
  int32_t x, y, top, bottom;
  {
    core_lock lock;
    const chart_plot &p = chart->plot;
    int32_t i = (p.first_visible + p.last_visible) / 2;
    x = (int32_t)p.xpos[i];
    y = p.pane_y + p.pane_h - 10;
    top = p.pane_y + 30;
    bottom = p.pane_y + p.pane_h - 30;
  }
  guitest_xdo("keydown ctrl");
  guitest_xdo("mousemove" + gw.at(x, y));
  ASSERT_TRUE(until([&] { return chart->view.hovering && chart->view.hover_index >= 0; }, 5000));
  EXPECT_EQ(gui_cursor(), kNuchartCrossHair);
  widget_redraw(root);
  gw.settle();
  int32_t hx;
  paint_box_rect box;
  {
    core_lock lock;
    hx = (int32_t)chart->plot.xpos[chart->view.hover_index];
    box = chart->view.price_box;
  }
  std::vector<uint32_t> column = guitest_window_pixels(gw.xw, {hx, top, 1, bottom - top});
  ASSERT_EQ(column.size(), (size_t)(bottom - top));
  uint32_t bg = chart_colour(0, 4);
  int32_t inked = 0;
  for (uint32_t px : column) inked += !guitest_near(px, bg, 6);
  EXPECT_GT(inked, (bottom - top) / 2) << "the cross-hair's vertical line";
  EXPECT_TRUE(box.shown);
  if (box.shown) {
    uint32_t inside = guitest_window_pixel(gw.xw, box.x + box.w / 2, box.y + box.h / 2);
    EXPECT_FALSE(guitest_near(inside, bg, 3)) << std::hex << inside;
  }
  // Control let go: the cursor goes.
  guitest_xdo("keyup ctrl");
  guitest_xdo("mousemove" + gw.at(x + 1, y));
  ASSERT_TRUE(until([&] { return !chart->view.hovering; }, 5000));
  EXPECT_NE(gui_cursor(), kNuchartCrossHair);

  // The export reaches the system clipboard.
  std::string text;
  int32_t rows;
  {
    core_lock lock;
    text = nuchart_export_text(chart);
    rows = chart->plot.last_visible - chart->plot.first_visible + 1;
    ASSERT_EQ(nuchart_export(chart), 0);
  }
  std::string got = guitest_run_pumping("xclip -o -selection clipboard");
  EXPECT_EQ(got, text);
  EXPECT_EQ(got.rfind("Date\tTime\tOpen\tHigh\tLow\tClose\tVolume", 0), 0u) << got.substr(0, 80);
  EXPECT_EQ((int32_t)std::count(got.begin(), got.end(), '\n'), rows + 1);

  // The trade chart holder draws the day's line.
  nuchart *day = chartholder_chart(window_get_content(holder_win, kRoleTradechart));
  ASSERT_TRUE(until([&] { return day->plot.count > 0 && widget_is_shown(day); }));
  widget_redraw(root);
  gw.settle();
  {
    core_lock lock;
    const chart_plot &p = day->plot;
    uint32_t dark_bg = p.background ? p.background : chart_colour(1, 4);
    int32_t i = p.last_visible;
    ASSERT_NE(p.y_close[i], kChartNoPixel);
    int32_t inked_day = 0;
    for (int32_t dy = -1; dy <= 1; dy++)
      inked_day += !guitest_near(guitest_window_pixel(gw.xw, (int32_t)p.xpos[i], (int32_t)p.y_close[i] + dy),
                                 dark_bg, 6);
    EXPECT_GT(inked_day, 0) << "the line at the last sample";
  }
}

}  // namespace

namespace {

// A daily chart of three months with the News overlay: the issuer's
// announcements (the simulator's generated history) stack marks over their
// days; the pointer over a mark (xdotool) gives the span of that day's news.
TEST_F(ChartGui, NewsMarksOpenTheirDaysSpan) {
  ASSERT_NO_FATAL_FAILURE(open_windows());
  {
    core_lock lock;
    nuchart_set_range(chart, 6, 3);
    nuchart_set_period(chart, 5, 1);
    nuchart_clear_overlays(chart);
    ASSERT_EQ(nuchart_add_overlay(chart, 13, nullptr), 0);
  }
  int32_t mark = -1;
  ASSERT_TRUE(until([&] {
    const chart_plot &p = chart->plot;
    const chart_ta *news = p.overlays;
    if (!p.eod || p.count < 2 || !news || !news->lines[0] || !p.issuer) return false;
    // A day with news, not the first visible one (whose span starts at its
    // day start) and away from the caption over the top left.
    for (int32_t i = p.last_visible; i > p.first_visible; i--)
      if (news->lines[0][i] >= 1 && news->lines[0][i] < 1000 && p.xpos[i] > (uint32_t)p.pane_x + 120) {
        mark = i;
        return true;
      }
    return false;
  }, 20000)) << "samples " << chart->plot.count << " issuer " << (chart->plot.issuer != nullptr);
  widget_redraw(root);
  gw.settle();
  int32_t x, y, h;
  ss_time from, to;
  {
    core_lock lock;
    const chart_plot &p = chart->plot;
    const style *s = style_cur();
    int32_t size[2] = {0, 0};
    tex_size(size, s->numbers[11]);
    h = size[1];
    x = (int32_t)p.xpos[mark];
    y = p.pane_y + 1 + h / 2;
    from = p.times[mark];
    to = mark + 1 < p.count ? p.times[mark + 1] : 0;
  }
  ASSERT_GT(h, 0);
  // The mark is drawn over the chart's background.
  int32_t inked = 0;
  for (int32_t dy = -1; dy <= 1; dy++)
    inked += !guitest_near(guitest_window_pixel(gw.xw, x, y + dy), chart_colour(0, 4), 6);
  EXPECT_GT(inked, 0);
  guitest_xdo("mousemove" + gw.at(x, y));
  ASSERT_TRUE(until([&] { return chart->news_from != 0; }, 5000));
  EXPECT_EQ(chart->news_from, from);
  if (to) {
    EXPECT_EQ(chart->news_to, to);
  }
  EXPECT_EQ(chart->news_hover, mark);
  // A click opens the first of the issuer's announcements of that day.
  const ss_news *first = nullptr;
  {
    core_lock lock;
    for (const ss_news *item = chart->plot.issuer->news.head; item && !first; item = item->next)
      if (item->time >= from && (!to || item->time < to)) first = item;
  }
  ASSERT_NE(first, nullptr);
  guitest_xdo("click 1");
  ASSERT_TRUE(until([&] { return news_last_open() && news_last_open()->number == first->number; }, 5000));
  EXPECT_EQ(news_last_open()->issuer, chart->plot.issuer);
  // Below the stack: nothing.
  guitest_xdo("mousemove" + gw.at(x, y + 2 * h + 4 + h * (int32_t)chart->plot.overlays->lines[0][mark]));
  EXPECT_TRUE(until([&] { return chart->news_from == 0; }, 5000));
}

}  // namespace

namespace {

// A screen with two chart windows of one stock on its current desktop.
class ChartFollow : public ChartSim {
 protected:
  void SetUp() override {
    ChartSim::SetUp();
    if (HasFatalFailure()) return;
    core_lock lock;
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, screen_init());
    screens = true;
  }
  void TearDown() override {
    if (screens) {
      core_lock lock;
      screen_shutdown();
      config_shutdown();
    }
    ChartSim::TearDown();
  }
  static bool pass_until(const std::function<bool()> &cond, int ms = 15000) {
    return guitest_wait_for(
        [&] {
          {
            core_lock lock;
            ssclient_deliver();
            gui_tick();
          }
          core_lock lock;
          return cond();
        },
        ms);
  }
  bool screens = false;
};

TEST_F(ChartFollow, ShiftMirrorsTheCursorIntoTheOtherChartWindow) {
  ASSERT_TRUE(pass_until([&] { return stock->trades.count > 20; }));
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
    if (k + 1 < b->plot.count) {
      EXPECT_GT(b->plot.times[k + 1], ta);
    }
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

namespace {

// The mini quote's small day chart: the preset's line of today's trades on
// the visual style's chart background.
TEST_F(ChartGui, MiniQuotePresetDrawsTheDaysLine) {
  nuchart *mini = nullptr;
  {
    core_lock lock;
    root = tw_new(nullptr, "root", {0, 0, 240, 80}, 0xff202020u);
    mini = nuchart_cast(nuchart_new(root));
    mini->r = {10, 10, 220, 60};
    ASSERT_TRUE(gw.open(root, {40, 40, 240, 80}));
    widget_show_subtree(root);
    mini->cls->geometry_changed(mini);
    nuchart_preset_mini_quote(mini);
    nuchart_bind_any(mini, stock);
  }
  EXPECT_EQ(mini->plot.range, 5) << "the day, its end now";
  EXPECT_EQ(mini->plot.to_type, 5);
  EXPECT_EQ(mini->plot.type, 16);
  EXPECT_EQ(mini->plot.overlay_count, 2);
  EXPECT_EQ(mini->plot.news, 1);
  ASSERT_TRUE(until([&] { return mini->plot.count >= 6 && !mini->plot.eod; }));
  widget_redraw(root);
  gw.settle();
  core_lock lock;
  const chart_plot &p = mini->plot;
  const uint32_t bg = style_colour(style_cur(), SC_CHART_BACKGROUND) | 0xFF000000u;
  // The background: most of the top row (news marks and the line's highest
  // steps may cross it).
  std::vector<uint32_t> row = guitest_window_pixels(gw.xw, {p.chart_x, p.chart_y + 1, p.chart_w, 1});
  ASSERT_EQ(row.size(), (size_t)p.chart_w);
  EXPECT_GT(std::count_if(row.begin(), row.end(), [&](uint32_t px) { return guitest_near(px, bg, 6); }),
            p.chart_w / 2);
  int32_t inked = 0, checked = 0;
  for (int32_t i = p.first_visible; i <= p.last_visible; i++) {
    if (p.y_close[i] == kChartNoPixel) continue;
    checked++;
    // The line passes within a pixel of each close (a line's last pixel is
    // not drawn).
    bool ink = false;
    for (int32_t dx = -1; dx <= 1 && !ink; dx++)
      for (int32_t dy = -1; dy <= 1 && !ink; dy++)
        ink = !guitest_near(guitest_window_pixel(gw.xw, (int32_t)p.xpos[i] + dx, (int32_t)p.y_close[i] + dy), bg, 6);
    inked += ink;
  }
  EXPECT_GT(checked, 0);
  EXPECT_GT(inked, checked / 2) << "the line passes the samples' closes";
}

}  // namespace

namespace {

// An intraday chart held to the session marks today's single announcements
// along the top of its pane: one the simulator publishes is pointed at,
// opened by a click and dragged as a news item (xdotool).
TEST_F(ChartGui, IntradayNewsItemsPointClickAndDrag) {
  ASSERT_NO_FATAL_FAILURE(open_windows());
  ss_news item{};
  {
    core_lock lock;
    nuchart_set_type(chart, 1);
    nuchart_set_option_bits(chart, 0x80);
    nuchart_clear_overlays(chart);
    ASSERT_EQ(nuchart_add_overlay(chart, 13, nullptr), 0);
  }
  // A few seconds of the day first, so the item falls inside the time axis.
  ASSERT_TRUE(until([&] {
    const chart_plot &p = chart->plot;
    return p.count >= 2 && !p.eod && sstime_diff_seconds(p.times[p.last_visible], p.times[p.first_visible]) >= 3;
  }));
  {
    core_lock lock;
    item.number = 4242;
    item.time = ssmodel_exchange_now(stock->exchange);
    item.flags = 0x1;
    snprintf(item.headline, sizeof item.headline, "%s", "Chart test");
    ASSERT_EQ(sim_news_today(sim, 0, stock->issuer, item), 0);
  }
  const ss_news *got = nullptr;
  ASSERT_TRUE(until([&] {
    const chart_plot &p = chart->plot;
    if (!p.issuer || p.count < 2 || p.eod) return false;
    for (const ss_news *n = p.issuer->news.head; n; n = n->next)
      if (n->number == item.number) got = n;
    return got != nullptr;
  }, 20000));
  widget_redraw(root);
  gw.settle();
  int32_t x, y;
  {
    core_lock lock;
    const chart_plot &p = chart->plot;
    int32_t size[2] = {0, 0};
    tex_size(size, style_cur()->numbers[10]);
    x = util_sample_at(&p, got->time);
    y = p.pane_y + 1 + size[1] / 2;
    ASSERT_GE(x, p.pane_x);
    ASSERT_LE(x, p.pane_x + p.pane_w);
  }
  guitest_xdo("mousemove" + gw.at(x, y));
  ASSERT_TRUE(until([&] { return chart->news_item == got; }, 5000));
  guitest_xdo("click 1");
  ASSERT_TRUE(until([&] { return news_last_open() && news_last_open()->number == item.number; }, 5000));
  // A drag from the mark carries the item.
  guitest_xdo("mousedown 1");
  guitest_xdo("mousemove" + gw.at(x - 30, y + 40));
  EXPECT_TRUE(until([&] { return dnd_kind() == DND_NEWS && dnd_news_item() == got; }, 5000));
  guitest_xdo("mouseup 1");
}

}  // namespace

namespace {

// A daily chart window with the News overlay on a screen, against the
// simulator's generated history: the pointer over a day's marks (xdotool)
// lists the issuer's announcements of that day's span in the screen's
// general detail popup; below the stack and off the chart it goes.
TEST_F(ChartFollow, NewsMarksListTheirSpansNewsInTheDetailPopup) {
  screen_select(0);
  ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(pass_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  nuchart *c = nullptr;
  {
    core_lock lock;
    window *w = window_new(nullptr, 0);
    ASSERT_EQ(0, desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1));
    window_set_role(w, kRoleChart);
    c = nuchart_cast(window_get_content(w, kRoleChart));
    ASSERT_NE(c, nullptr);
    nuchart_set_range(c, 6, 3);
    nuchart_set_period(c, 5, 1);
    nuchart_clear_overlays(c);
    ASSERT_EQ(nuchart_add_overlay(c, 13, nullptr), 0);
    window_set_instrument(w, stock);
  }
  int32_t mark = -1;
  ASSERT_TRUE(pass_until([&] {
    const chart_plot &p = c->plot;
    const chart_ta *news = p.overlays;
    if (!widget_is_shown(c) || !p.eod || p.count < 2 || !news || !news->lines[0] || !p.issuer) return false;
    for (int32_t i = p.last_visible - 1; i > p.first_visible; i--)
      if (news->lines[0][i] >= 1 && news->lines[0][i] < 1000 && p.xpos[i] > (uint32_t)p.pane_x + 120) {
        mark = i;
        return true;
      }
    return false;
  }, 20000)) << "samples " << c->plot.count << " issuer " << (c->plot.issuer != nullptr);
  pass();
  int32_t x, y, h;
  std::vector<const ss_news *> want;
  {
    core_lock lock;
    const chart_plot &p = c->plot;
    int32_t size[2] = {0, 0};
    tex_size(size, style_cur()->numbers[11]);
    h = size[1];
    x = (int32_t)p.xpos[mark];
    y = p.pane_y + 1 + h / 2;
    const ss_time from = p.times[mark], to = p.times[mark + 1];
    for (const ss_news *item = p.issuer->news.head; item; item = item->next)
      if (item->time && item->time >= from && item->time < to) want.push_back(item);
  }
  ASSERT_GT(h, 0);
  ASSERT_FALSE(want.empty());
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  auto move = [&](int32_t mx, int32_t my) {
    guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(mx) + " " + std::to_string(my));
  };
  auto listed = [&] {
    std::vector<const ss_news *> got;
    const gendtl *g = gendtl_cast(s->gendtl);
    for (uint32_t i = 0; g && g->kind == 4 && i < g->row_count; i++) got.push_back(g->rows[i].news);
    return got;
  };
  move(x, y);
  ASSERT_TRUE(pass_until([&] { return (s->bars & BAR_GENDTL) && listed() == want; }, 5000))
      << "bars " << std::hex << s->bars << std::dec << " listed " << listed().size() << " want " << want.size()
      << " span " << c->news_from;
  EXPECT_EQ(gendtl_cast(s->gendtl)->instrument, static_cast<instr *>(c->plot.issuer));
  // Below the stack: closed.
  move(x, y + 2 * h + 4 + h * (int32_t)c->plot.overlays->lines[0][mark]);
  EXPECT_TRUE(pass_until([&] { return !(s->bars & BAR_GENDTL) && c->news_from == 0; }, 5000));
  // Back on the mark, then off the chart: closed.
  move(x, y);
  ASSERT_TRUE(pass_until([&] { return (s->bars & BAR_GENDTL) != 0; }, 5000));
  move(c->r.x + c->r.w / 2, c->r.y - 4);
  EXPECT_TRUE(pass_until([&] { return !(s->bars & BAR_GENDTL); }, 5000));
}

// An intraday chart window on a screen: the pointer over an announcement's
// mark along the top of the pane shows that item in the general detail
// popup; off it the popup goes.
TEST_F(ChartFollow, IntradayNewsItemShowsInTheDetailPopup) {
  screen_select(0);
  ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(pass_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  nuchart *c = nullptr;
  {
    core_lock lock;
    window *w = window_new(nullptr, 0);
    ASSERT_EQ(0, desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1));
    window_set_role(w, kRoleChart);
    c = nuchart_cast(window_get_content(w, kRoleChart));
    ASSERT_NE(c, nullptr);
    nuchart_set_range(c, 5, 1);
    nuchart_set_period(c, 1, 1);
    nuchart_set_type(c, 1);
    nuchart_set_option_bits(c, 0x80);
    nuchart_clear_overlays(c);
    ASSERT_EQ(nuchart_add_overlay(c, 13, nullptr), 0);
    window_set_instrument(w, stock);
  }
  ASSERT_TRUE(pass_until([&] {
    const chart_plot &p = c->plot;
    return widget_is_shown(c) && p.count >= 2 && !p.eod &&
           sstime_diff_seconds(p.times[p.last_visible], p.times[p.first_visible]) >= 3;
  }));
  ss_news item{};
  {
    core_lock lock;
    item.number = 4343;
    item.time = ssmodel_exchange_now(stock->exchange);
    item.flags = 0x1;
    snprintf(item.headline, sizeof item.headline, "%s", "Detail popup test");
    ASSERT_EQ(sim_news_today(sim, 0, stock->issuer, item), 0);
  }
  const ss_news *got = nullptr;
  ASSERT_TRUE(pass_until([&] {
    const chart_plot &p = c->plot;
    if (!p.issuer || p.count < 2 || p.eod) return false;
    for (const ss_news *n = p.issuer->news.head; n; n = n->next)
      if (n->number == item.number) got = n;
    return got != nullptr;
  }, 20000));
  pass();
  int32_t x, y;
  {
    core_lock lock;
    const chart_plot &p = c->plot;
    int32_t size[2] = {0, 0};
    tex_size(size, style_cur()->numbers[10]);
    x = util_sample_at(&p, got->time);
    y = p.pane_y + 1 + size[1] / 2;
    ASSERT_GE(x, p.pane_x);
    ASSERT_LE(x, p.pane_x + p.pane_w);
  }
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  auto move = [&](int32_t mx, int32_t my) {
    guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(mx) + " " + std::to_string(my));
  };
  auto listed = [&] {
    std::vector<uint32_t> numbers;
    const gendtl *g = gendtl_cast(s->gendtl);
    for (uint32_t i = 0; g && g->kind == 4 && i < g->row_count; i++) numbers.push_back(g->rows[i].news->number);
    return numbers;
  };
  move(x, y);
  ASSERT_TRUE(pass_until([&] { return c->news_item == got && (s->bars & BAR_GENDTL); }, 5000));
  EXPECT_EQ(listed(), (std::vector<uint32_t>{item.number}));
  // Down into the pane, away from the marks: closed.
  move(x, y + 60);
  EXPECT_TRUE(pass_until([&] { return !(s->bars & BAR_GENDTL) && !c->news_item; }, 5000));
}

}  // namespace
