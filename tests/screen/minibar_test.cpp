// The minibar of screen 0: the mini desktop's size rule, the labels by
// instrument, role and scan with their cuts, cells mapped from a split
// desktop and redrawn only on change; the keypad's size and its placement
// and clamps over a target, over the zoom and the quick window; and under
// Xvfb an xdotool click on a mini desktop that switches desktops.
#include "screen/minibar.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "barstest.h"
#include "lib/scan.h"
#include "lib/font.h"
#include "screen/desktop.h"
#include "style.h"
#include "windows/watchlist.h"
#include "ui/gui_internal.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);

TEST(MiniDesktop, SizeFitsTenInFiveNinthsOfTheWindow) {
  struct {
    int32_t w, h, u, s;
    size want;
  } cases[] = {
      {1600, 1000, 14, 2, {76, 48}},   // 10*76 + 18 = 778 < 888
      {1000, 1000, 14, 2, {48, 48}},   // 498 < 555
      {2400, 600, 14, 2, {131, 48}},   // 192 wide would need 1938 > 1333: narrowed by ceil(60.5)
      {1600, 1000, 20, 4, {85, 66}},   // 105: 1086 > 888, minus ceil(198/10) = 20
  };
  for (auto &c : cases) {
    const size got = mini_desktop_size(c.w, c.h, c.u, c.s);
    EXPECT_EQ(c.want.w, got.w) << c.w << "x" << c.h;
    EXPECT_EQ(c.want.h, got.h) << c.w << "x" << c.h;
    EXPECT_LE(10 * got.w + 9 * c.s, 5 * c.w / 9 + 1);
  }
}

TEST(MiniDesktop, LabelsByInstrumentRoleAndScan) {
  ss_stock *s = bars_stock("LBLSTOCK", 100);
  scan *turnover = scan_new_temp(), *rises = scan_new_temp(), *falls = scan_new_temp(), *vol = scan_new_temp();
  scan_set_order(turnover, 6);
  scan_set_order(vol, 5);
  scan_set_order(rises, 3);
  scan_set_order(falls, 3);
  scan_set_reversed(falls, 1);
  wlist *w1 = wlist_create("L1", 501), *w2 = wlist_create("L2", 502), *w3 = wlist_create("L3", 503);
  scan *third = scan_new_temp();
  scan_set_source(third, w3);
  scan *reg = scan_create("Reg", 504);
  struct {
    uint32_t role;
    const instr *in;
    const scan *sc;
    const char *want;
  } cases[] = {
      {kRoleDepth, s, nullptr, "LBLSTOCK"}, {kRoleWatchlist, nullptr, turnover, "$V"},
      {kRoleWatchlist, nullptr, vol, "V"},  {kRoleWatchlist, nullptr, rises, "R"},
      {kRoleWatchlist, nullptr, falls, "F"}, {kRoleWatchlist, nullptr, third, "W3"},
      {kRoleWatchlist, nullptr, nullptr, "S"}, {kRoleIndexlist, nullptr, nullptr, "I"},
      {kRoleNewstoday, nullptr, nullptr, "N"}, {kRoleSearch, nullptr, nullptr, "S"},
      {kRoleRss, nullptr, nullptr, "RSS"},   {kRoleTerminal, nullptr, nullptr, ">"},
      {kRoleLog, nullptr, nullptr, "LOG"},   {kRoleForexlist, nullptr, nullptr, "FX"},
      {kRoleOptionlist, nullptr, nullptr, "OPT"}, {kRoleAlerts, nullptr, nullptr, "A"},
      {kRoleDepth, nullptr, nullptr, ""},
  };
  for (auto &c : cases) {
    char out[kMiniDesktopLabel + 1];
    mini_desktop_label(out, c.role, c.in, c.sc, 200, 6);
    EXPECT_STREQ(c.want, out) << c.role;
  }
  char out[kMiniDesktopLabel + 1];
  mini_desktop_label(out, kRoleWatchlist, nullptr, reg, 200, 6);
  EXPECT_EQ("S" + std::to_string(scan_position(reg) + 1), out);
  // Cuts: 8 characters in 30 pixels of 6-pixel characters keep 5; twelve
  // or more characters of room cut nothing.
  mini_desktop_label(out, kRoleDepth, s, nullptr, 30, 6);
  EXPECT_STREQ("LBLST", out);
  mini_desktop_label(out, kRoleDepth, s, nullptr, 72, 6);
  EXPECT_STREQ("LBLSTOCK", out);
  mini_desktop_label(out, kRoleDepth, s, nullptr, 5, 6);
  EXPECT_STREQ("", out);
  for (scan *x : {turnover, rises, falls, vol, third}) scan_delete(x);
  scan_delete(reg);
  for (wlist *w : {w1, w2, w3}) wlist_delete(w);
}

TEST(MiniDesktop, CellsFromASplitDesktopRedrawOnlyOnChange) {
  screen_select(0);
  screen *sc = screen_get(0);
  desktop *d = sc->desktops[6];
  d->r = {0, 0, 804, 404};
  window *ws[2] = {window_new(nullptr, 0), window_new(nullptr, 0)};
  ws[0]->role = kRoleLog;
  ASSERT_EQ(0, desktop_layout_apply(d, nullptr, "W0 W1 H0.500", ws, 2));
  desktop_relayout_now(d);
  mini_desktop *md = minibar_desktop(sc->minibar, 6);
  ASSERT_NE(nullptr, md);
  md->r = {10, 10, 86, 49};  // inner area 80 x 40 at (13, 14)
  EXPECT_TRUE(mini_desktop_layout(md));
  ASSERT_EQ(2, md->count);
  EXPECT_EQ(13, md->cells[0].left);
  EXPECT_EQ(14, md->cells[0].top);
  EXPECT_EQ(13 + 79, md->cells[1].right);
  EXPECT_EQ(14 + 39, md->cells[1].bottom);
  EXPECT_LT(md->cells[0].right, md->cells[1].left);
  EXPECT_NEAR(md->cells[0].right - md->cells[0].left, 39, 2);
  EXPECT_FALSE(mini_desktop_layout(md));  // nothing changed
  // Stacked instead of side by side: the cells change.
  ASSERT_EQ(0, desktop_layout_apply(d, nullptr, "W0 W1 V0.500", ws, 2));
  desktop_relayout_now(d);
  EXPECT_TRUE(mini_desktop_layout(md));
  EXPECT_FALSE(mini_desktop_layout(md));
  // The pointer maps back into the desktop's window under it.
  int32_t x, y;
  mini_desktop_map_point(md, 13 + 40, 14 + 30, &x, &y);
  EXPECT_EQ(ws[1], desktop_window_at(d, x, y));
  mini_desktop_map_point(md, 13 + 40, 14 + 5, &x, &y);
  EXPECT_EQ(ws[0], desktop_window_at(d, x, y));
  EXPECT_EQ(6, mini_desktop_index_of(md));
}

// Cells labelled from the windows: a list window by its watchlist's place,
// the log window by its role, a stock window by its code cut to the cell.
TEST(MiniDesktop, CellsLabelledFromTheirWindows) {
  screen_select(0);
  screen *sc = screen_get(0);
  desktop *d = sc->desktops[7];
  d->r = {0, 0, 1204, 404};
  wlist *w1 = wlist_create("C1", 701), *w2 = wlist_create("C2", 702), *w3 = wlist_create("C3", 703);
  window *ws[3] = {window_new(nullptr, 0), window_new(nullptr, 0), window_new(nullptr, 0)};
  window_set_role(ws[0], kRoleWatchlist);
  watchlist_set_source(static_cast<watchlist *>(ws[0]->child[kWinWatchlist]), w3);
  window_set_role(ws[1], kRoleLog);
  window_set_role(ws[2], kRoleDepth);
  window_set_instrument(ws[2], bars_stock("LONGCODE", 100));
  ASSERT_EQ(0, desktop_layout_apply(d, nullptr, "W0 W1 H0.500 W2 H0.500", ws, 3));
  desktop_relayout_now(d);
  mini_desktop *md = minibar_desktop(sc->minibar, 7);
  md->r = {0, 0, 126, 49};
  mini_desktop_layout(md);
  ASSERT_EQ(3, md->count);
  int32_t digit = 0;
  font_metrics(nullptr, &digit, nullptr, nullptr, style_cur() ? style_cur()->font[2] : 0);
  ASSERT_GT(digit, 0);
  EXPECT_STREQ("W3", md->cells[0].label);
  EXPECT_STREQ("LOG", md->cells[1].label);
  const int32_t n = (md->cells[2].right - md->cells[2].left + 1) / digit;
  EXPECT_EQ(std::string("LONGCODE").substr(0, size_t(std::min(n, 8))), md->cells[2].label);
  watchlist_set_scan(static_cast<watchlist *>(ws[0]->child[kWinWatchlist]), nullptr);
  for (wlist *w : {w1, w2, w3}) wlist_delete(w);
}

// ---- keypad ----

const char *g_typed = "";
int g_typing = 0;
const char *typed() { return g_typed; }
int typing() { return g_typing; }

TEST(Keypad, PositionAndClamps) {
  const size k = {100, 30};
  struct {
    rect target;
    int32_t x, y;
  } cases[] = {
      {{200, 100, 400, 300}, 350, 107},   // centred, m below the top
      {{0, 100, 60, 300}, 7, 107},        // raised to m on the left
      {{900, 100, 100, 300}, 786, 107},   // past SR - m: x - 2m - width
      {{200, -50, 400, 300}, 350, 7},     // a top above the screen counts as 0
      {{200, 780, 400, 100}, 350, 763},   // past SB - m: SB - (m + height)
  };
  for (auto &c : cases) {
    int32_t x, y;
    keypad_position(&c.target, k, 1000, 800, 7, &x, &y);
    EXPECT_EQ(c.x, x) << c.target.x << "," << c.target.y;
    EXPECT_EQ(c.y, y) << c.target.x << "," << c.target.y;
  }
}

TEST(Keypad, PlacedOverTheZoomOrQuickWindowOrTheFocus) {
  screen_select(0);
  screen *s = screen_get(0);
  keypad_set_keyboard(typed, typing);
  s->r = {0, 0, 1000, 800};
  g_typed = "BHP";
  g_typing = 1;
  const uint32_t bars = s->bars;
  s->zoom_window->r = {100, 100, 300, 300};
  s->quick_window->r = {600, 200, 200, 200};
  s->bars |= BAR_ZOOM;
  screen_place_keypad();
  ASSERT_TRUE(keypad_visible(s->keypad));
  EXPECT_EQ(250, s->keypad->r.x + s->keypad->r.w / 2);
  const int32_t top = s->keypad->r.y;
  EXPECT_GT(top, 100);
  // The size follows the text, keeping the centre and top.
  const int32_t w = s->keypad->r.w;
  g_typed = "BHPXXXXXXXXXXXX";
  screen_place_keypad();
  EXPECT_GE(s->keypad->r.w, w);
  EXPECT_NEAR(250, s->keypad->r.x + s->keypad->r.w / 2, 1);
  EXPECT_EQ(top, s->keypad->r.y);
  // Not typing: hidden.
  g_typing = 0;
  screen_place_keypad();
  EXPECT_FALSE(keypad_visible(s->keypad));
  // The quick window when shown and not zoomed.
  g_typing = 1;
  g_typed = "A";
  s->bars = (bars & ~BAR_ZOOM) | BAR_QUICK;
  screen_place_keypad();
  ASSERT_TRUE(keypad_visible(s->keypad));
  EXPECT_NEAR(700, s->keypad->r.x + s->keypad->r.w / 2, 1);
  g_typing = 0;
  screen_place_keypad();
  s->bars = bars;
  keypad_set_keyboard(nullptr, nullptr);
}

// ---- under Xvfb ----

TEST(MinibarGui, AClickOnAMiniDesktopSwitchesToIt) {
  screen_select(0);
  if (!screen_is_open(0)) ASSERT_EQ(0, screen_open(0));
  auto draw_until = [](const std::function<bool()> &done) {
    return guitest_wait_for([&] {
      gui_tick();
      return done();
    });
  };
  ASSERT_TRUE(draw_until([] { return screens_up() && !screen_relayout_pending(); }));
  screen *s = screen_get(0);
  screen_switch_desktop(0);
  ASSERT_TRUE(draw_until([&] { return !gui_window_record(s->os_window)->needs_draw; }));
  mini_desktop *md = minibar_desktop(s->minibar, 3);
  ASSERT_NE(nullptr, md);
  ASSERT_TRUE(widget_is_shown(md));
  ASSERT_GT(md->r.w, 6);
  const uint64_t xw = gui_plat_x11_window(&G.wins[s->os_window].plat);
  const int x = md->r.x + md->r.w / 2, y = md->r.y + md->r.h / 2;
  guitest_xdo("mousemove --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y));
  guitest_xdo("click 1");
  EXPECT_TRUE(draw_until([] { return screen_desktop_index() == 3; })) << screen_desktop_index();
  // The miniature of the current desktop takes the current-desktop colour.
  ASSERT_TRUE(draw_until([&] { return md->current == 1; }));
  EXPECT_EQ(0, minibar_desktop(s->minibar, 0)->current);
}

}  // namespace
