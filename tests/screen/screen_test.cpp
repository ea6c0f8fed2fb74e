// The screens, first without OS windows (bars before the first draw, titles,
// the screen stack with closed screens and its depth, desktop switching,
// layout rectangles per bar mask), then as four OS windows under Xvfb with
// openbox managing them:
// open and close, maximise and restore, the minimum-size warning, the
// backstop's redraw decisions on a test clock, pixels of a split desktop
// and of the logged-out dimming, and an xdotool drag of a divider.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "guitest.h"
#include "lib/glapi.h"
#include "lib/tex.h"
#include "config/config.h"
#include "config/configbox.h"
#include "screen/minibar.h"
#include "screen/screen.h"
#include "lib/fade.h"
#include "screen/splitter.h"
#include "screen/tickbar.h"
#include "style.h"
#include "testlog.h"
#include "tools/toolbar.h"
#include "tools/winbar.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "undo.h"

namespace {

int64_t g_now = 1000000;
int64_t test_clock() { return g_now; }
int g_online = 1;
int test_online() { return g_online; }

class ScreenEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    // The manager first: the platform layer looks for one when it starts.
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("screen_test"));
    // The built-in atlas, as the program loads it: the window frame and the
    // window bar's backdrop are drawn from its pictures.
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(config_init(), 0);  // each screen's configuration dialog reads the local settings
    gui_set_maximise_supported(1);
    screen_set_online_query(test_online);
    ASSERT_EQ(screen_init(), 0);
  }
  void TearDown() override {
    screen_shutdown();
    undo_fini();  // windows the tests removed are held by undo records
    config_shutdown();
    gui_shutdown();
    tex_fini();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ScreenEnv);

// ---- without OS windows (these run before any screen is drawn) ----


// The width a screen's toolbars ask for (both sides alike).
int32_t toolbar_width(int n) {
  widget *t = screen_get(n)->toolbars[0];
  size q = {0, 0};
  t->cls->reqsize(t, &q);
  return q.w;
}

TEST(ScreenBars, BeforeTheFirstDrawOnlyRecorded) {
  ASSERT_FALSE(screens_up());
  screen_select(0);
  EXPECT_EQ(screen_bars_shown(), kScreenBarsInitial);
  screen_show_bars(BAR_QUICK);
  EXPECT_EQ(screen_bars_shown(), kScreenBarsInitial | BAR_QUICK);
  EXPECT_FALSE(widget_is_shown(screen_quick_window()));
  screen_hide_bars(BAR_QUICK | BAR_TOOLBAR0 | BAR_TOOLBAR1);
  EXPECT_EQ(screen_bars_shown(), kScreenBarsInitial & ~0x180u);
  struct { int i; uint32_t bits; } cases[] = {{0, 0x80}, {1, 0x100}, {2, 0x180}, {3, 0}, {7, 0}};
  for (auto &c : cases) {
    screen_hide_bars(0x180);
    screen_show_toolbar(c.i);
    EXPECT_EQ(screen_bars_shown() & 0x180, c.bits) << c.i;
  }
  screen_show_bars(0x180);
  EXPECT_EQ(screen_bars_shown(), kScreenBarsInitial);
}

TEST(ScreenTitle, BaseAndText) {
  struct { int n; const char *text; const char *want; } cases[] = {
      {0, nullptr, "Ambit"},          {1, nullptr, "Ambit (2)"},
      {2, nullptr, "Ambit (3)"},      {3, "", "Ambit (4)"},
      {2, "BHP depth", "Ambit (3): BHP depth"}, {-1, "x", "Ambit: x"},
  };
  for (auto &c : cases) EXPECT_STREQ(screen_title_for(c.n, c.text), c.want) << c.n;
}

TEST(ScreenStack, ClosedScreensAndDepth) {
  screen_select(0);
  const int depth = screen_stack_depth();
  EXPECT_FALSE(screen_push(2));  // closed
  EXPECT_EQ(screen_stack_depth(), depth);
  {
    LogCapture log;
    screen_force_context(4);
    EXPECT_TRUE(log.has("can't force context 4"));
    EXPECT_EQ(screen_stack_depth(), depth);
  }
  // Eight forced contexts fill the stack; a ninth is refused and its pop
  // does not take an entry of the others.
  for (int i = 0; i < 8; i++) screen_force_context(i % 4);
  EXPECT_EQ(screen_current_index(), 3);
  LogCapture log;
  screen_force_context(1);
  EXPECT_TRUE(log.has("screen stack overflow"));
  EXPECT_EQ(screen_current_index(), 3);
  screen_pop();  // the refused one
  EXPECT_EQ(screen_stack_depth(), 8);
  for (int i = 0; i < 8; i++) screen_pop();
  EXPECT_EQ(screen_current_index(), 0);
  EXPECT_FALSE(log.has("underflow"));
  screen_pop();
  EXPECT_TRUE(log.has("underflow"));
  EXPECT_EQ(screen_current_index(), 0);
}

TEST(ScreenStack, CurrentFromWidget) {
  LogCapture log;
  desktop *d = screen_get(2)->desktops[1];
  EXPECT_EQ(screen_set_current_from(d), 1);
  EXPECT_EQ(screen_current_index(), 2);
  EXPECT_EQ(screen_index_of(d), 2);
  EXPECT_EQ(screen_index_of(screen_get(3)), 3);
  hbox *loose = hbox_new(nullptr, 0, 0);
  window *w = window_new(loose, 0);
  EXPECT_EQ(screen_set_current_from(w), 0);
  EXPECT_TRUE(log.has("window root hbox is not a screen"));
  EXPECT_EQ(screen_set_current_from(loose), -1);
  EXPECT_TRUE(log.has("hbox has no gui root"));
  EXPECT_EQ(screen_index_of(w), -1);
  EXPECT_EQ(screen_current_index(), 2);
  widget_delete(loose);
  screen_select(0);
}

TEST(ScreenDesktops, SwitchAndWrap) {
  screen_select(0);
  screen_switch_desktop(0);
  screen_prev_desktop();
  EXPECT_EQ(screen_desktop_index(), 9);
  screen_next_desktop();
  EXPECT_EQ(screen_desktop_index(), 0);
  screen_switch_desktop(4);
  EXPECT_EQ(screen_current_desktop(), screen_get_desktop(4));
  EXPECT_EQ(screen_desktop_index_of(screen_get_desktop(7)), 7);
  EXPECT_EQ(screen_get_desktop(10), nullptr);
  // Selecting the shown desktop again does nothing: popups stay recorded.
  screen_show_bars(BAR_HOVER);
  screen_switch_desktop(4);
  EXPECT_TRUE(screen_bars_shown() & BAR_HOVER);
  screen_switch_desktop(5);
  EXPECT_FALSE(screen_bars_shown() & BAR_HOVER);
  screen_switch_desktop(0);
}

TEST(ScreenLayout, RectanglesPerMask) {
  // Tickbar one ticker high (th), toolbars their requested width (T); the minibar asks for its
  // mini desktops' height (m; the watchbar takes the same).
  screen *s = screen_get(1);
  const uint32_t saved = s->bars;
  tickbar *tb = tickbar_of(s->tickbar);
  ASSERT_NE(tb, nullptr);
  const uint32_t saved_visible = tb->visible;
  tb->visible = kTickbarAlertsBit;
  size q = {0, 0};
  tb->cls->reqsize(tb, &q);
  const int32_t th = q.h;
  ASSERT_GT(th, 0);
  s->minibar->cls->reqsize(s->minibar, &q);
  const int32_t m = q.h;
  ASSERT_GT(m, 0);
  s->toolbars[0]->cls->reqsize(s->toolbars[0], &q);
  const int32_t T = q.w;
  ASSERT_GE(T, kToolbarWidth);
  struct { uint32_t mask; rect desk; } cases[] = {
      {0x1CB, {T, m + th, 1000 - 2 * T, 800 - 2 * m - th}}, {0x40, {0, 0, 1000, 800}}, {0x42, {0, th, 1000, 800 - th}},
      {0xC8, {T, 0, 1000 - T, 800 - m}}, {0x141, {0, m, 1000 - T, 800 - m}}, {0x43, {0, m + th, 1000, 800 - m - th}},
  };
  for (auto &c : cases) {
    s->bars = c.mask;
    s->r = {0, 0, 1000, 800};
    container_cls(s)->layout(s);
    const rect d = screen_get(1)->desktops[3]->r;
    EXPECT_EQ(d.x, c.desk.x) << std::hex << c.mask;
    EXPECT_EQ(d.y, c.desk.y) << std::hex << c.mask;
    EXPECT_EQ(d.w, c.desk.w) << std::hex << c.mask;
    EXPECT_EQ(d.h, c.desk.h) << std::hex << c.mask;
  }
  EXPECT_EQ(s->watchbar->r.h, s->minibar->r.h);
  tb->visible = saved_visible;
  s->bars = saved;
}

// ---- as OS windows ----

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

class ScreenGui : public ::testing::Test {
 protected:
  void SetUp() override {
    g_online = 1;
    screen_select(0);
    if (!screen_is_open(0)) ASSERT_EQ(screen_open(0), 0);
    ASSERT_TRUE(draw_until([] { return screens_up() && !screen_relayout_pending(); }));
  }
};

TEST_F(ScreenGui, FourOpenAndClose) {
  for (int n = 1; n < 4; n++) ASSERT_EQ(screen_open(n), 0) << n;
  EXPECT_EQ(screen_count_open(), 4);
  {
    LogCapture log;
    EXPECT_EQ(screen_open(2), -1);
    EXPECT_TRUE(log.has("screen 2 is already displayed"));
  }
  ASSERT_TRUE(draw_until([] { return !screen_relayout_pending(); }));
  EXPECT_STREQ(gui_window_title(screen_get(0)->os_window), "Ambit");
  EXPECT_STREQ(gui_window_title(screen_get(2)->os_window), "Ambit (3)");
  // Cascaded: each screen 20 pixels right and down of the one before.
  EXPECT_EQ(screen_get(2)->frame.x - screen_get(1)->frame.x, 20);
  // Every open screen shows its bars after the first draw.
  for (int n = 0; n < 4; n++) {
    screen *s = screen_get(n);
    EXPECT_TRUE(widget_is_shown(s->tickbar)) << n;
    EXPECT_TRUE(widget_is_shown(s->toolbars[1])) << n;
    EXPECT_TRUE(widget_is_shown(s->desktops[s->current_desktop])) << n;
  }
  const rect before = screen_get(3)->frame;
  for (int n = 3; n > 0; n--) EXPECT_EQ(screen_close(n), 0) << n;
  EXPECT_EQ(screen_close(3), -1);
  EXPECT_EQ(screen_count_open(), 1);
  // Reopened where it was.
  ASSERT_EQ(screen_open(3), 0);
  rect now;
  gui_window_frame(screen_get(3)->os_window, &now);
  EXPECT_EQ(now.w, before.w);
  EXPECT_EQ(now.h, before.h);
  EXPECT_EQ(screen_close(3), 0);
}

TEST_F(ScreenGui, SavedPlaceIsUsedAtOpen) {
  screen_select(2);
  rect place = {120, 90, 820, 620};
  screen_set_rect(&place);  // what the configuration reader does
  screen_get(2)->normal_frame = {0, 0, 0, 0};
  ASSERT_EQ(screen_open(2), 0);
  rect got;
  gui_window_frame(screen_get(2)->os_window, &got);
  EXPECT_EQ(got.w, 820);
  EXPECT_EQ(got.h, 620);
  screen_close(2);
  screen_select(0);
}

// The window manager changes the state by itself (its keys, a task bar):
// the gui records it and the screen follows. A screen minimised there is
// known as minimised (so a screen toggle brings it back instead of closing
// it); maximised there, it shows the window bar in place of the border;
// restored there, it has its border back.
TEST_F(ScreenGui, TheWindowManagersOwnStateChangesReachTheScreen) {
  const uint64_t xw = xwin(0);
  const int os = screen_get(0)->os_window;
  ASSERT_EQ(gui_window_state(os), 0);
  guitest_xdo("windowminimize " + std::to_string(xw));
  EXPECT_TRUE(draw_until([&] { return gui_window_state(os) == 1; }));
  EXPECT_TRUE(screen_is_minimised());
  EXPECT_FALSE(guitest_window_viewable(xw));
  guitest_xdo("windowactivate " + std::to_string(xw));
  EXPECT_TRUE(draw_until([&] { return gui_window_state(os) == 0 && guitest_window_viewable(xw); }));
  EXPECT_FALSE(screen_is_minimised());

  ASSERT_TRUE(guitest_wm_state(xw, true, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"));
  EXPECT_TRUE(draw_until([&] { return screen_get(0)->maximised == 1u; }));
  EXPECT_EQ(gui_window_state(os), 2);
  EXPECT_TRUE(screen_bars_shown() & BAR_WINBAR);
  EXPECT_EQ(winbar_maximised(screen_get(0)->winbar), 1);
  EXPECT_FALSE(gui_window_has_border(os));
  ASSERT_TRUE(guitest_wm_state(xw, false, "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"));
  EXPECT_TRUE(draw_until([&] { return gui_window_state(os) == 0; }));
  EXPECT_EQ(screen_get(0)->maximised, 0u);
  EXPECT_FALSE(screen_bars_shown() & BAR_WINBAR);
  EXPECT_TRUE(gui_window_has_border(os));
  EXPECT_TRUE(draw_until([&] { return guitest_window_viewable(xw); }));
}

TEST_F(ScreenGui, MaximiseAndRestoreRoundTrip) {
  const uint64_t xw = xwin(0);
  rect before;
  ASSERT_TRUE(guitest_window_root_rect(xw, &before));
  rect area;
  ASSERT_TRUE(guitest_work_area(&area));
  ASSERT_GT(area.w, before.w);  // room to grow, or the check below proves nothing
  screen_maximise();
  EXPECT_EQ(screen_window_state(0), 2);
  EXPECT_TRUE(screen_is_maximised());
  EXPECT_TRUE(screen_bars_shown() & BAR_WINBAR);
  EXPECT_EQ(winbar_maximised(screen_get(0)->winbar), 1);
  // The window manager fills the work area: the client plus its decorations.
  rect got = {}, ext = {};
  auto fills = [&] {
    if (!guitest_window_root_rect(xw, &got) || !guitest_frame_extents(xw, &ext)) return false;
    return got.x - ext.x == area.x && got.y - ext.y == area.y &&
           got.w + ext.x + ext.w == area.w && got.h + ext.y + ext.h == area.h;
  };
  EXPECT_TRUE(draw_until(fills)) << got.x << "," << got.y << " " << got.w << "x" << got.h
                                 << " extents " << ext.x << "," << ext.w << "," << ext.y << ","
                                 << ext.h << " area " << area.w << "x" << area.h;
  // The gui's own record follows the server's.
  EXPECT_TRUE(draw_until([&] {
    int32_t w = 0, h = 0;
    gui_window_size(screen_get(0)->os_window, &w, &h);
    return w == got.w && h == got.h;
  }));
  // The window bar's backdrop: the panel texture in the bar's dark colour,
  // a tab from the bar's right edge kWinbarBackdropInset wide whose
  // bottom-left corner is rounded off (what lies beneath shows there) and
  // whose other edges run square into the bar's top and right edges.
  const rect *bar = nullptr;
  ASSERT_TRUE(draw_until([&] {
    bar = &screen_get(0)->winbar->r;
    return !gui_window_record(screen_get(0)->os_window)->needs_draw && bar->w > 0 && bar->h > 8 &&
           !screen_relayout_pending();
  })) << bar->x << "," << bar->y << " " << bar->w << "x" << bar->h << " needs draw "
      << gui_window_record(screen_get(0)->os_window)->needs_draw << " relayout " << screen_relayout_pending();
  const int32_t x0 = bar->x + bar->w - kWinbarBackdropInset, bottom = bar->y + bar->h - 1;
  if (getenv("AMBIT_SAVE_WINBAR")) {
    const rect area = {x0 - 10, bar->y, kWinbarBackdropInset + 10, bar->h + 4};
    guitest_save_png(getenv("AMBIT_SAVE_WINBAR"), guitest_window_pixels(xw, area), area.w, area.h);
  }
  const uint32_t dark = 0xFF19190Fu;
  const struct {
    int32_t x, y;
    bool backdrop;
    const char *where;
  } probes[] = {{x0 + 1, bar->y + bar->h / 2, true, "left edge"},
                {x0 + 1, bar->y, true, "top-left, square"},
                {bar->x + bar->w - 1, bar->y, true, "top-right, square"},
                {bar->x + bar->w - 1, bottom, true, "bottom-right, square"},
                {x0 + 8, bottom, true, "bottom edge"},
                {x0, bottom, false, "bottom-left, rounded off"},
                {x0 - 1, bar->y + bar->h / 2, false, "left of the backdrop"}};
  for (const auto &p : probes) {
    const uint32_t px = guitest_window_pixel(xw, p.x, p.y);
    EXPECT_EQ(guitest_near(px, dark, 2), p.backdrop) << p.where << " " << std::hex << px;
  }
  screen_restore();
  EXPECT_EQ(screen_window_state(0), 0);
  EXPECT_FALSE(screen_bars_shown() & BAR_WINBAR);
  EXPECT_EQ(screen_get(0)->maximised, 0u);
  // Back at the saved size, as the server holds it. The place comes back
  // within 2 pixels: each round trip under this manager moves the window by
  // its border (the platform layer's position and the server's differ by it).
  EXPECT_TRUE(draw_until([&] {
    return guitest_window_root_rect(xw, &got) && got.w == before.w && got.h == before.h &&
           abs(got.x - before.x) <= 2 && abs(got.y - before.y) <= 2;
  })) << got.x << "," << got.y << " " << got.w << "x" << got.h << " want " << before.x << ","
      << before.y << " " << before.w << "x" << before.h;
  rect after;
  gui_window_frame(screen_get(0)->os_window, &after);
  EXPECT_EQ(after.w, before.w);
  EXPECT_EQ(after.h, before.h);
  screen_set_state(0, 1);
  EXPECT_EQ(screen_window_state(0), 1);
  // Iconified by the manager, and the platform told so, before the restore.
  SDL_Window *sw = (SDL_Window *)G.wins[screen_get(0)->os_window].plat.window;
  EXPECT_TRUE(draw_until([&] {
    return !guitest_window_viewable(xw) && (SDL_GetWindowFlags(sw) & SDL_WINDOW_MINIMIZED);
  }));
  screen_set_state(0, 0);
  EXPECT_EQ(screen_window_state(0), 0);
  // Shown again by the manager before the next test reads its pixels.
  EXPECT_TRUE(draw_until([&] { return guitest_window_viewable(xw); }));
}

TEST_F(ScreenGui, MinimumSizeWarnedOncePerSize) {
  desktop *d = screen_current_desktop();
  rect small = {50, 50, 700, 500};
  gui_window_set_frame(screen_get(0)->os_window, &small);
  ASSERT_TRUE(draw_until([] {
    int32_t w = 0, h = 0;
    gui_window_size(screen_get(0)->os_window, &w, &h);
    return w == 700 && h == 500;
  }));
  LogCapture log;
  window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
  // 60 / 0.07 = 857, + 4 = 861, + two toolbars.
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.070", ws, 2), 0);
  screen_update_min_size();
  screen_update_min_size();
  const std::string warning =
      "700x500 too small to set min size to " + std::to_string(861 + 2 * toolbar_width(0)) + "x480";
  EXPECT_EQ(log.count(warning.c_str()), 1);
  EXPECT_EQ(screen_min_size_set(0).w, 800);
  EXPECT_EQ(screen_min_size_set(0).h, 480);
  window *one = desktop_windows(d->child)[0];
  desktop_keep_only(d, one);
  rect back = {50, 50, 900, 700};
  gui_window_set_frame(screen_get(0)->os_window, &back);
  ASSERT_TRUE(draw_until([] {
    int32_t w = 0, h = 0;
    gui_window_size(screen_get(0)->os_window, &w, &h);
    return w == 900;
  }));
  screen_update_min_size();
  EXPECT_EQ(screen_min_size_set(0).w, 640);
}

TEST_F(ScreenGui, BackstopRedrawRules) {
  screen_set_clock(test_clock);
  screen *s = screen_get(0);
  gui_win *gw = gui_window_record(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gw->needs_draw && !gw->full_redraw; }));
  // Relayout: every open screen's toolbars are updated.
  const int32_t updates = toolbar_updates(s->toolbars[0]);
  screen_request_redraw();
  screen_backstop();
  EXPECT_FALSE(screen_relayout_pending());
  EXPECT_EQ(toolbar_updates(s->toolbars[0]), updates + 1);
  // Changed desktops: every open screen's minibar refreshes once.
  const int32_t refreshes = minibar_refreshes(s->minibar);
  screen_desktops_changed();
  screen_backstop();
  screen_backstop();
  EXPECT_EQ(minibar_refreshes(s->minibar), refreshes + 1);
  EXPECT_FALSE(screen_desktops_changed_pending());
  // The configuration box animates the screen: the frame mode is 0 while it
  // is shown, and the user's quality is never touched.
  for (int q : {2, 0}) {
    gui_set_quality(q);
    screen_show_bars_ex(BAR_CONFIGBOX, 0);
    screen_backstop();
    EXPECT_EQ(gui_frame_mode(), 0);
    EXPECT_EQ(gui_quality(), q);
    screen_hide_bars_ex(BAR_CONFIGBOX, 0);
    screen_backstop();
    // Still unless a fade runs (the bars' fades here run on).
    EXPECT_EQ(gui_frame_mode(), fade_timer_running() ? 0 : 1);
    EXPECT_EQ(gui_quality(), q);
  }
  gui_set_quality(1);
  ASSERT_TRUE(draw_until([&] { return !gw->needs_draw && !gw->full_redraw; }));
  // Partial updates with only the bars: the window is not redrawn whole,
  // but a whole redraw is owed; it comes after 5000 ms.
  widget_redraw(s->minibar);
  ASSERT_GT(gw->update_count, 0);
  screen_backstop();
  EXPECT_EQ(gw->full_redraw, 0);
  EXPECT_EQ(s->full_redraw_pending, 1u);
  s->last_full_redraw = int32_t(g_now);
  ASSERT_TRUE(draw_until([&] { return !gw->needs_draw; }));
  g_now += 5000;
  screen_backstop();
  EXPECT_EQ(gw->full_redraw, 0);
  g_now += 1;
  screen_backstop();
  EXPECT_EQ(gw->full_redraw, 1);
  EXPECT_EQ(s->full_redraw_pending, 0u);
  ASSERT_TRUE(draw_until([&] { return !gw->needs_draw && !gw->full_redraw; }));
  // With a floating child shown, partial updates redraw the whole window.
  screen_show_bars_ex(BAR_QUICK, 0);
  ASSERT_TRUE(draw_until([&] { return !gw->needs_draw && !gw->full_redraw; }));
  widget_redraw(s->minibar);
  screen_backstop();
  EXPECT_EQ(gw->full_redraw, 1);
  screen_hide_bars_ex(BAR_QUICK, 0);
  screen_set_clock(nullptr);
}

TEST_F(ScreenGui, ForcedFirstTicker) {
  widget *tb = screen_tickbar();
  screen_hide_tickbar();
  for (int i = 0; i < kTickers; i++) tickbar_set_ticker_show(tb, i, TICKER_HIDE);
  LogCapture log;
  screen_show_tickbar();
  EXPECT_EQ(log.count("forced to show first ticker"), 1);
  EXPECT_EQ(tickbar_ticker_show(tb, 1), TICKER_SHOW);
}

// Pixels of a split desktop: pane interiors in the window colour, the
// dividers in the desktop background, and the dimming while logged out.
TEST_F(ScreenGui, SplitDesktopPixelsAndDimming) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *ws[4];
  for (auto &w : ws) {
    w = window_new(nullptr, 0);
    w->fill = 0xff30c030u;
  }
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.500 W2 W3 H0.500 V0.500", ws, 4), 0);
  gui_invalidate_window(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  const uint64_t xw = xwin(0);
  const rect dr = d->r;
  const int32_t G = splitter_gap();
  splitter *root = static_cast<splitter *>(d->child);
  splitter *top = static_cast<splitter *>(root->child_a);
  const window *w0 = static_cast<window *>(top->child_a);
  const uint32_t bg = container_get_bg(d) | 0xff000000u;
  // Pane centres.
  for (window *w : desktop_windows(d->child))
    EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w->r.x + w->r.w / 2, w->r.y + w->r.h / 2),
                             0xff30c030u))
        << w->r.x << "," << w->r.y;
  // The vertical divider of the top row and the horizontal one between rows.
  const int vx = w0->r.x + w0->r.w + G / 2;
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, vx, w0->r.y + 20), bg));
  const int hy = w0->r.y + w0->r.h + G / 2;
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w0->r.x + 30, hy), bg));
  // The pane edge: its frame's two rings (the outer one in the focus
  // colour on the focused pane, else the outline colour), then the pane;
  // one pixel outside, the gap.
  uint32_t outer = 0, inner = 0;
  window_frame_look(const_cast<window *>(w0), &outer, &inner);
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w0->r.x + w0->r.w - 1, w0->r.y + 20), outer));
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w0->r.x + w0->r.w - 2, w0->r.y + 20), inner));
  EXPECT_FALSE(guitest_near(outer, 0xff30c030u)) << "the ring differs from the pane";
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w0->r.x + w0->r.w - 3, w0->r.y + 20), 0xff30c030u));
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, w0->r.x + w0->r.w, w0->r.y + 20), bg));
  EXPECT_EQ(dr.x + G / 2, w0->r.x);
  // Logged out: black at alpha 100 over everything but the configuration box.
  g_online = 0;
  gui_invalidate_window(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  const uint32_t dim = guitest_window_pixel(xw, w0->r.x + w0->r.w / 2, w0->r.y + w0->r.h / 2);
  // 0x30c030 * (255 - 100) / 255 = 0x1d751d.
  EXPECT_TRUE(guitest_near(dim, 0xff1d751du, 4)) << std::hex << dim;
  g_online = 1;
  gui_invalidate_window(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
}

// A real divider drag: xdotool presses on the gap between the two top panes
// and moves right; the pane widens, one snapshot becomes one undo step.
TEST_F(ScreenGui, DividerDragWithXdotool) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
  for (window *w : ws) w->fill = 0xff3030c0u;
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.500", ws, 2), 0);
  gui_invalidate_window(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  splitter *sp = static_cast<splitter *>(d->child);
  window *left = static_cast<window *>(sp->child_a);
  const int32_t w_before = left->r.w;
  const int x = left->r.x + left->r.w + splitter_gap() / 2, y = left->r.y + left->r.h / 2;
  const uint32_t pushed = undo_pushed_count();
  const uint64_t xw = xwin(0);
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " +
              std::to_string(y));
  guitest_xdo("mousedown 1");
  for (int step = 1; step <= 8; step++)
    guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x + 10 * step) +
                " " + std::to_string(y));
  ASSERT_TRUE(draw_until([&] { return left->r.w >= w_before + 70; })) << left->r.w;
  guitest_xdo("mouseup 1");
  ASSERT_TRUE(draw_until([&] { return splitter_dragging() == nullptr && !gui_dragging(); }));
  EXPECT_EQ(undo_pushed_count(), pushed + 1);
  EXPECT_EQ(sp->drag_layout, nullptr);
  EXPECT_NEAR(left->r.w, w_before + 80, 2);
  // The window shows it: the old divider place is now pane.
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, x, y), 0xff3030c0u));
}

}  // namespace

namespace {

// The market window holding a hit widget (a window answers through the
// content child under the point).
widget *holder(widget *hit) {
  while (hit && !window_is(hit)) hit = hit->parent;
  return hit;
}

// True when hit is w or lies inside it (a bar answers through its children).
bool within(widget *hit, widget *w) {
  for (; hit; hit = hit->parent)
    if (hit == w) return true;
  return false;
}

TEST_F(ScreenGui, HitTestOrder) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *w = window_new(nullptr, 0);
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0", &w, 1), 0);
  screen_show_bars_ex(BAR_QUICK | BAR_POPUP_DOCUMENT, 1);
  s->popup_document->r = s->quick_window->r;
  const rect q = s->quick_window->r;
  const int x = q.x + q.w / 2, y = q.y + q.h / 2;
  s->front_popup = BAR_POPUP_DOCUMENT;
  EXPECT_EQ(holder(s->cls->find_at(s, x, y)), s->popup_document);
  s->front_popup = BAR_QUICK;
  EXPECT_EQ(holder(s->cls->find_at(s, x, y)), s->quick_window);
  screen_hide_bars_ex(BAR_QUICK | BAR_POPUP_DOCUMENT, 1);
  EXPECT_EQ(holder(s->cls->find_at(s, x, y)), w);
  // The bars come before the desktop; the toolbar before the screen itself.
  EXPECT_TRUE(within(s->cls->find_at(s, 5, s->r.h / 2), s->toolbars[0]));
  // The tickbar or the ticker it shows there.
  widget *top = s->cls->find_at(s, s->r.w / 2, 5);
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(top == s->tickbar || top->parent == s->tickbar);
  // A shown configuration box while logged out: nothing beside it is hit.
  screen_show_configbox();
  g_online = 0;
  const rect c = s->config_box->r;
  EXPECT_EQ(s->cls->find_at(s, c.x + 5, c.y + 5), s->config_box);
  EXPECT_EQ(s->cls->find_at(s, x, 2), nullptr);
  g_online = 1;
  EXPECT_TRUE(within(s->cls->find_at(s, 5, s->r.h / 2), s->toolbars[0]));
  screen_hide_configbox();
  // A shown zoom window answers for everything below it.
  screen_show_bars_ex(BAR_ZOOM, 1);
  EXPECT_EQ(holder(s->cls->find_at(s, x, y)), s->zoom_window);
  screen_hide_bars_ex(BAR_ZOOM, 1);
}

// A right-button release on a desktop's edge toggles the bar on that side.
TEST_F(ScreenGui, EdgeClickTogglesTheToolbar) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  ASSERT_TRUE(screen_bars_shown() & BAR_TOOLBAR0);
  const uint64_t xw = xwin(0);
  auto click_left_edge = [&] {
    ASSERT_TRUE(draw_until([&] { return !screen_relayout_pending(); }));
    const int x = d->r.x + 1, y = d->r.y + d->r.h / 2;
    guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " +
                std::to_string(y) + " click 3");
  };
  click_left_edge();
  ASSERT_TRUE(draw_until([&] { return !(s->bars & BAR_TOOLBAR0); }));
  EXPECT_EQ(d->r.x, 0);
  click_left_edge();
  ASSERT_TRUE(draw_until([&] { return (s->bars & BAR_TOOLBAR0) != 0; }));
  ASSERT_TRUE(draw_until([&] { return d->r.x == toolbar_width(0); }));
}

// Closing the last open screen keeps it and shows the logout page instead.
TEST_F(ScreenGui, ClosingTheLastScreenShowsTheLogoutPage) {
  for (int n = 1; n < 4; n++) screen_close(n);
  ASSERT_EQ(screen_count_open(), 1);
  screen_hide_configbox();
  EXPECT_EQ(gui_window_close_request(screen_get(0)->os_window), 0);
  EXPECT_TRUE(screen_is_open(0));
  EXPECT_TRUE(screen_configbox_shown());
  EXPECT_EQ(screen_configbox()->mode, CONFIGBOX_LOGOUT);
  screen_hide_configbox();
  // With another screen open, a close request closes that screen.
  ASSERT_EQ(screen_open(1), 0);
  EXPECT_EQ(gui_window_close_request(screen_get(1)->os_window), 0);
  EXPECT_FALSE(screen_is_open(1));
  screen_select(0);
}

}  // namespace

namespace {

// Dragging a divider past the left edge collapses the first pane; after the
// drag ends and the next draw, that pane is gone and its window freed.
TEST_F(ScreenGui, DragToTheEdgeCullsThePane) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0 W1 H0.500", ws, 2), 0);
  gui_invalidate_window(s->os_window);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  const int alive = window_count();
  splitter *sp = static_cast<splitter *>(d->child);
  window *left = static_cast<window *>(sp->child_a);
  window *right = static_cast<window *>(sp->child_b);
  const int x = left->r.x + left->r.w + splitter_gap() / 2, y = left->r.y + left->r.h / 2;
  const std::string at = "mousemove --window " + std::to_string(xwin(0)) + " ";
  guitest_xdo(at + std::to_string(x) + " " + std::to_string(y));
  guitest_xdo("mousedown 1");
  for (int px = x - 20; px > 0; px -= 40) guitest_xdo(at + std::to_string(px) + " " + std::to_string(y));
  guitest_xdo(at + std::to_string(d->r.x) + " " + std::to_string(y));
  ASSERT_TRUE(draw_until([&] { return sp->first_collapsed != 0; }));
  guitest_xdo("mouseup 1");
  ASSERT_TRUE(draw_until([&] { return !splitter_is(d->child); }));
  EXPECT_EQ(d->child, static_cast<widget *>(right));
  EXPECT_EQ(desktop_layout_text(d), "W0");
  EXPECT_EQ(desktop_get_focus(d), static_cast<window *>(d->child));
  // The culled window is held by undo, and one undo puts the pane back.
  EXPECT_EQ(window_count(), alive);
  EXPECT_EQ(undo_perform(), 0);
  EXPECT_EQ(desktop_layout_text(d), "W0 W1 H0.500");
  ASSERT_TRUE(splitter_is(d->child));
  EXPECT_EQ(static_cast<splitter *>(d->child)->child_a, static_cast<widget *>(left));
}

}  // namespace
