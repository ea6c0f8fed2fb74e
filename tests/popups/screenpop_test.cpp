// The floating windows on a real screen under Xvfb: zoom and unzoom give
// back exactly the bars that were shown (and the window bar when
// maximised); the hover popup's far edge; the general detail popup above the
// pointer; a depth preview pushed through the real screens (stack depth
// kept, a closed owner refused); and slow xdotool motion over a grid row's
// volume opening the stock's volume details beside the cell, fast motion
// closing them.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "../screen/barstest.h"
#include "guitest.h"
#include "lib/wlist.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/desktop.h"
#include "screen/gendtl.h"
#include "screen/screen.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

class ScreenPop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bars_first_screen_up());
    popups_install_services();
    popups_reset();
  }
  void TearDown() override {
    screen_hide_popups(1);
    popups_set_ops(nullptr);
  }
};

TEST_F(ScreenPop, ZoomAndUnzoomRestoreTheBarsExactly) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *w = window_new(nullptr, 0);
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0", &w, 1), 0);
  struct {
    uint32_t bars;
    uint32_t maximised;
    uint32_t after;
  } cases[] = {
      {kScreenBarsInitial, 0, kScreenBarsInitial},
      {kScreenBarsInitial & ~BAR_TICKBAR, 0, kScreenBarsInitial & ~BAR_TICKBAR},
      {kScreenBarsInitial | BAR_QUICK, 0, kScreenBarsInitial | BAR_QUICK},
      {kScreenBarsInitial, 1, kScreenBarsInitial | BAR_WINBAR},
  };
  for (auto &c : cases) {
    screen_hide_bars_ex(~0u & ~c.bars, 1);
    screen_show_bars_ex(c.bars, 1);
    const uint32_t saved_max = s->maximised;
    s->maximised = c.maximised;
    ASSERT_EQ(screen_bars_shown(), c.bars);
    screen_zoom_window(w);
    EXPECT_EQ(screen_zoom_source(), w);
    EXPECT_TRUE(screen_bars_shown() & BAR_ZOOM);
    EXPECT_FALSE(screen_bars_shown() & (BAR_TICKBAR | BAR_DESKTOP | BAR_QUICK | BAR_WINBAR));
    EXPECT_EQ(window_get_bar_mode(s->zoom_window), 2u);
    screen_unzoom();
    EXPECT_EQ(screen_zoom_source(), nullptr);
    EXPECT_EQ(screen_bars_shown() & ~BAR_QUICK, c.after & ~BAR_QUICK) << std::hex << c.bars;
    s->maximised = saved_max;
    screen_hide_bars_ex(BAR_WINBAR | BAR_QUICK, 1);
  }
  screen_show_bars_ex(kScreenBarsInitial, 1);
}

TEST_F(ScreenPop, HoverFarEdgeAndGendtlAbovePointer) {
  screen *s = screen_get(0);
  screen_place_popup_ex(-300, 40, -1, -1, 200, 100, 0);
  EXPECT_TRUE(screen_bars_shown() & BAR_HOVER);
  EXPECT_EQ(s->hover_window->r.x + s->hover_window->r.w, 300);
  EXPECT_EQ(s->hover_window->r.y, 40);
  screen_hide_popup();
  EXPECT_FALSE(screen_bars_shown() & BAR_HOVER);

  gendtl_fill_value(s->gendtl, 1, sstime_pack(0, 0, 14, 10, 6, 2026));  // two rows
  size z;
  s->gendtl->cls->reqsize(s->gendtl, &z);
  ASSERT_GT(z.h, 0);
  screen_popup_at_mouse();
  screen_place_gendtl(100, z.h);  // no room above: stays, flag stays
  EXPECT_EQ(s->gendtl->r.y, z.h);
  EXPECT_TRUE(screen_gendtl_at_mouse());
  screen_place_gendtl(100, z.h + 60);
  EXPECT_EQ(s->gendtl->r.y, 58);
  EXPECT_FALSE(screen_gendtl_at_mouse());
  EXPECT_TRUE(screen_bars_shown() & BAR_GENDTL);
}

// Showing the panel of the popup document places it again: a popup
// document pushed mostly off the right edge is brought back (at least 60
// pixels of it inside the screen), as every placement does; the panel shows.
TEST_F(ScreenPop, ThePopupDocumentIsPlacedAgainWhenItsPanelShows) {
  screen *s = screen_get(0);
  window *p = s->popup_document;
  ASSERT_NE(p, nullptr);
  window_set_role(p, kRoleDocument);
  screen_show_bars_ex(BAR_POPUP_DOCUMENT, 0);
  ASSERT_TRUE(widget_is_shown(p));
  const rect os = s->r;
  ASSERT_GT(os.w, 400);
  p->r = {os.x + os.w - 30, os.y + 40, 400, 300};
  window_show_tools(p);
  EXPECT_TRUE(p->show_tools);
  widget *panel = window_get_current_tools(p);
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(widget_is_shown(panel));
  EXPECT_EQ(p->r.x, os.x + os.w - 60) << "not placed again";
  EXPECT_EQ(p->r.w, 400);
  // Another role's panel leaves the window where it stands.
  window_hide_tools(p);
  window_set_role(p, kRoleNewstoday);
  p->r = {os.x + os.w - 30, os.y + 40, 400, 300};
  window_show_tools(p);
  EXPECT_EQ(p->r.x, os.x + os.w - 30);
  window_hide_tools(p);
  window_set_role(p, kRoleNone);
  screen_hide_popup_document();
}

TEST_F(ScreenPop, DepthPreviewThroughTheRealScreens) {
  ss_stock *st = bars_stock("PRV", 1000, 990, 1010, 1000);
  ASSERT_NE(st, nullptr);
  screen *s = screen_get(0);
  const int depth = screen_stack_depth();
  popups_set_owner_index(0);
  popups_push_depth(st, 0);
  EXPECT_EQ(screen_stack_depth(), depth);
  EXPECT_TRUE(s->bars & BAR_HOVER);
  EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleDepth));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(st));
  LogCapture log;
  ASSERT_FALSE(screen_is_open(3));
  popups_set_owner_index(3);
  popups_push_depth(st, 100);
  EXPECT_TRUE(log.has("won't push 3"));
  EXPECT_EQ(screen_current(), s);
  EXPECT_EQ(screen_stack_depth(), depth);
  EXPECT_EQ(popups_get_state()->time, 0u);  // nothing rebuilt
}

TEST_F(ScreenPop, SlowMotionOverAGridCellOpensItsDetails) {
  screen *s = screen_get(0);
  desktop *d = screen_current_desktop();
  window *w = window_new(nullptr, 0);
  ASSERT_EQ(desktop_layout_apply(d, nullptr, "W0", &w, 1), 0);
  wlist *wl = wlist_create("Hover", -1);
  ASSERT_NE(wl, nullptr);
  ss_stock *a = bars_stock("HVA", 1000, 990, 1010, 1000);
  ss_stock *b = bars_stock("HVB", 2000, 1990, 2010, 2000);
  ASSERT_TRUE(a && b);
  wlist_add_item(wl, a);
  wlist_add_item(wl, b);
  window_set_role(w, kRoleWatchlist);
  ASSERT_EQ(window_set_list_source(w, wl), 0);
  auto *grid = static_cast<watchlist *>(window_get_content(w, kRoleWatchlist));
  ASSERT_NE(grid, nullptr);
  ASSERT_TRUE(draw_until([&] { return !screen_relayout_pending() && watchlist_find_row(grid, b) != nullptr; }));
  watchlist_row *row = watchlist_find_row(grid, b);
  ASSERT_NE(row, nullptr);
  ASSERT_TRUE(grid->columns.shown >> 13 & 1) << "the volume column";
  const int x = grid->columns.col[13].x0 + 2, y = grid->r.y + row->y + 3;
  const std::string at = "mousemove --window " + std::to_string(xwin(0)) + " ";
  // Slow: one pixel at a time, each move delivered before the next.
  for (int i = 0; i < 14; i++) {
    guitest_xdo(at + std::to_string(x + i) + " " + std::to_string(y));
    draw_until([&] { return true; });
  }
  const gendtl *g = gendtl_cast(s->gendtl);
  ASSERT_TRUE(draw_until([&] {
    return (s->bars & BAR_GENDTL) && g->kind == 5 && g->instrument == static_cast<instr *>(b);
  }));
  EXPECT_FALSE(s->bars & BAR_HOVER);
  // Beside the cell: below it, from its right edge.
  const rect p = s->gendtl->r;
  EXPECT_GE(p.y, grid->r.y + row->y + grid->row_h - 2);
  EXPECT_GE(p.x, grid->columns.col[13].x1 - 2);
  // Fast: long jumps close it.
  for (int i = 0; i < 14; i++) {
    guitest_xdo(at + std::to_string(x + (i % 2 ? 80 : -80) + 100) + " " + std::to_string(y));
    draw_until([&] { return true; });
  }
  EXPECT_TRUE(draw_until([&] { return !(s->bars & BAR_GENDTL); }));
}

}  // namespace
