// The pointer and the window frame end to end, under Xvfb against the
// simulator's demo scenario with its live market, in the real frame loop
// after a real sign-on, driven by xdotool: a click focuses the pane under it
// (the frame's outer ring shows it at sample pixels, and the next typed code
// lands there); the wheel scrolls the grid of 200 live stocks and the
// course of sales under the pointer, not the focused window; a grid row's
// hover preview goes when the pointer leaves its window quickly, when the
// pointer leaves the preview itself, on a click elsewhere and on Escape;
// the frame takes the colours the chart, the trade chart and the document
// ask for, and the panel colour beside a shown tool panel; dragged onto the
// toolbar's "Remove", a watchlist grid's row leaves the watchlist, an
// alerts row loses its alert, a watch bar cell leaves the bar and a
// minibar cell empties.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appscript.h"
#include "chash.h"
#include "dnd.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/miniquote.h"
#include "screen/minibar.h"
#include "screen/watchbar.h"
#include "ssmodel.h"
#include "tools/toolbar.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"
#include "style.h"
#include "windows/titlebar.h"
#include "windows/docwin.h"
#include "windows/histnews.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"

namespace {

using P_steps = std::vector<app_step>;

uint32_t colour_of(int field) { return style_colour(style_cur(), field) | 0xff000000u; }
uint32_t focus_ring() { return colour_of(SC_LINK); }

// The outer ring's pixel on a window's left edge, in its title bar's row
// (which only the title bar and the frame paint).
uint32_t left_ring(const window *w, int inner = 0) {
  return guitest_window_pixel(demo_app::xwin(0), w->r.x + inner, w->r.y + titlebar_height() / 2);
}

// Splits the focused window into rows of n panes, returned in the split's
// order (the source first); the first stays focused.
std::vector<window *> split_row(int n, int rows = 1) {
  desktop *d = screen_current_desktop();
  window *f = demo_app::focused();
  window **got = desktop_split(d, f, rows, n);
  std::vector<window *> ws;
  if (!got) return ws;
  for (int i = 0; i < n * rows; i++) ws.push_back(got[i]);
  desktop_set_focus(d, ws[0]);
  desktop_relayout(d);
  return ws;
}

bool laid_out(const std::vector<window *> &ws) {
  if (ws.empty() || screen_relayout_pending()) return false;
  for (const window *w : ws)
    if (!widget_is_shown(w) || w->r.w < 100 || w->r.h < 100) return false;
  return true;
}

// Every stock of the first exchange (the live market's), in code order.
std::vector<ss_stock *> live_stocks() {
  std::vector<ss_stock *> out;
  ss_exchange *ex = ssmodel_exchange(0);
  int32_t cursor = 0;
  while (auto *s = static_cast<ss_stock *>(chash_sorted_next(&ex->stocks, &cursor))) out.push_back(s);
  return out;
}

void run_script(demo_app &app, app_script &P, void (*before_stop)() = nullptr) {
  app.run(&P);
  start_cleanup();
  if (before_stop) before_stop();
  app.stop();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
}

TEST(WindowPointerEndToEnd, AClickFocusesThePaneTheFrameShowsItAndTheTypedCodeLandsThere) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("clickfocus"));
  app_script P;
  const std::string code = sim_market_code(1);
  std::vector<window *> ws;
  instr *left_before = nullptr;
  bool left_kept = false;
  char diag[200];
  const auto xdo = demo_app::xdo;
  P.steps = {
      {"online with a focused window", [] { return demo_app::signed_on_and_settled(); },
       [&] {
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         window_set_role(ws[1], kRoleLog);
         left_before = ws[0]->instrument;
       }},
      {"the left pane's ring in the focus colour, the right pane's not",
       [&] {
         if (!laid_out(ws)) return false;
         const uint32_t a = left_ring(ws[0]), b = left_ring(ws[1]);
         snprintf(diag, sizeof diag, "left %08x right %08x focus %08x", a, b, focus_ring());
         P.diag = diag;
         return guitest_near(a, focus_ring()) && !guitest_near(b, focus_ring(), 8);
       },
       [&] {
         const rect r = ws[1]->r;
         demo_app::move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 1");
       }},
      {"the clicked pane focused and showing it, the other not",
       [&] {
         const uint32_t a = left_ring(ws[0]), b = left_ring(ws[1]);
         snprintf(diag, sizeof diag, "focused %p left %08x right %08x", static_cast<void *>(demo_app::focused()), a, b);
         P.diag = diag;
         return demo_app::focused() == ws[1] && guitest_near(b, focus_ring()) && !guitest_near(a, focus_ring(), 8);
       },
       [&] {
         xdo("key Return");
         xdo("type --delay 30 " + code);
         xdo("key Return");
       }},
      {"the typed code in the clicked pane, the other pane as it was",
       [&] {
         const window *b = ws[1];
         return b->instrument && code == b->instrument->code && b->role == kRoleDepth && !keyboard_is_active();
       },
       [&] {
         left_kept = ws[0]->instrument == left_before;
         gui_quit();
       }},
  };
  ASSERT_NO_FATAL_FAILURE(run_script(app, P));
  EXPECT_TRUE(left_kept) << "the typed code reached the pane that was focused before the click";
}

TEST(WindowPointerEndToEnd, TheWheelScrollsTheGridAndTheCourseOfSalesUnderThePointer) {
  demo_app app;
  app.live_stocks = 200;
  ASSERT_NO_FATAL_FAILURE(app.start("wheel"));
  app_script P;
  std::vector<window *> ws;
  watchlist *grid = nullptr;
  tradelist *cos = nullptr;
  wlist *wl = nullptr;
  char diag[200];
  const auto xdo = demo_app::xdo;
  const auto point_at = [](const window *w) { demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h * 2 / 3); };
  P.steps = {
      {"online with the 200 live stocks",
       [&] {
         snprintf(diag, sizeof diag, "%zu stocks", live_stocks().size());
         P.diag = diag;
         return demo_app::signed_on_and_settled() && live_stocks().size() >= 200;
       },
       [&] {
         ASSERT_EQ(scan_init(), 0);
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         wl = wlist_create("Two hundred", 0);
         for (ss_stock *s : live_stocks()) wlist_add_item(wl, s);
         window_set_role(ws[0], kRoleWatchlist);
         ASSERT_EQ(window_set_list_source(ws[0], wl), 0);
         window_set_instrument(ws[1], live_stocks()[0]);
         window_set_role(ws[1], kRoleTradelist);
         grid = static_cast<watchlist *>(window_get_content(ws[0], kRoleWatchlist));
         cos = tradelist_cast(window_get_content(ws[1], kRoleTradelist));
       }},
      {"the grid lists the 200 stocks and the course of sales some trades",
       [&] {
         int trades = 0;
         for (tradelist_row *r = cos ? cos->first_row : nullptr; r; r = r->older) trades++;
         snprintf(diag, sizeof diag, "grid rows %d limit %u trades %d visible %d shown %d", grid ? watchlist_row_count(grid) : -1,
                  ws.empty() ? 0 : ws[0]->row_limit, trades, grid ? grid->visible : -1, grid && grid->sc ? scan_shown_count(grid->sc) : -1);
         P.diag = diag;
         return laid_out(ws) && watchlist_row_count(grid) >= 200 && ws[0]->row_limit > 100 &&
                ws[0]->row_limit != 0xFFFFFFFFu && trades >= 8 && ws[0]->selection == 0 && ws[1]->selection == 0;
       },
       [&] {
         // The focused window is the grid: the wheel goes to the window
         // under the pointer all the same.
         desktop_set_focus(screen_current_desktop(), ws[0]);
         point_at(ws[1]);
         xdo("click --repeat 3 --delay 40 5");
       }},
      {"the course of sales three rows down, the grid unmoved",
       [&] {
         snprintf(diag, sizeof diag, "cos %u grid %u top %u", ws[1]->selection, ws[0]->selection, cos->top_index);
         P.diag = diag;
         return ws[1]->selection == 3 && cos->top_index == 3 && cos->top_row && cos->top_row != cos->first_row &&
                ws[0]->selection == 0;
       },
       [&] {
         point_at(ws[0]);
         xdo("click --repeat 5 --delay 40 5");
       }},
      {"the grid five rows down",
       [&] {
         snprintf(diag, sizeof diag, "grid %u", ws[0]->selection);
         P.diag = diag;
         return ws[0]->selection == 5 && grid->first_shown == watchlist_row_at(grid, 5) && ws[1]->selection == 3;
       },
       [&] { xdo("click --repeat 2 --delay 40 4"); }},
      {"the wheel up: two rows back", [&] { return ws[0]->selection == 3 && grid->first_shown == watchlist_row_at(grid, 3); },
       [] { gui_quit(); }},
  };
  ASSERT_NO_FATAL_FAILURE(run_script(app, P));
}

TEST(WindowPointerEndToEnd, AHoverPreviewGoesWhenThePointerLeavesAndOnEscape) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("hover"));
  app_script P;
  std::vector<window *> ws;
  widget *alerts = nullptr;
  alert *current_before = nullptr;
  int32_t wander_x = 0, wander_y = 0;
  char diag[200];
  const auto xdo = demo_app::xdo;
  const auto shown = [] { return (screen_bars_shown() & BAR_HOVER) != 0; };
  // The pointer at rest on the code of the alerts' first row, then nudged a
  // pixel: a slow motion, which opens the stock's preview (its depth).
  const auto row_point = [&](int32_t *x, int32_t *y) {
    alerts_grid *g = alerts_grid_of(alerts);
    const cols_col &code = g->columns.col[g->columns.col[2].shown ? 2 : 1];
    *x = code.x0 + code.width / 3;
    *y = alerts->r.y + g->row_h / 2;
    for (alerts_row *r = g->rows; r; r = r->next)  // row tops are window coordinates
      if (r->shown) {
        *y = r->y + g->row_h / 2;
        break;
      }
  };
  const auto rest_on_row = [&] {
    int32_t x, y;
    row_point(&x, &y);
    demo_app::move_to(x, y);
  };
  const auto at_rest = [&] {
    snprintf(diag, sizeof diag, "speed %.2f", static_cast<double>(gui_mouse_speed()));
    P.diag = diag;
    return gui_mouse_speed() < 1.0f;
  };
  const auto nudge = [&] { xdo("mousemove_relative 1 0"); };
  const auto far_away = [&] {
    const window *b = ws[1];
    demo_app::move_to(b->r.x + b->r.w - 20, b->r.y + b->r.h - 20);
  };
  const auto reopen = [&](const char *what) {
    return std::vector<app_step>{
        {what, [&] { return !shown(); }, rest_on_row},
        {"the pointer at rest on the row", at_rest, nudge},
        {"the preview shown again", shown, nullptr},
    };
  };
  std::vector<app_step> steps = {
      {"online with the live stocks",
       [&] { return demo_app::signed_on_and_settled() && live_stocks().size() >= 4; },
       [&] {
         ASSERT_EQ(scan_init(), 0);
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         for (ss_stock *s : live_stocks()) ASSERT_EQ(alerts_add_default(s), 0);
         window_set_role(ws[0], kRoleAlerts);
         window_set_role(ws[1], kRoleLog);
         alerts = window_get_content(ws[0], kRoleAlerts);
       }},
      {"the alerts' rows laid out", [&] { return laid_out(ws) && alerts_shown_count(alerts) >= 4; }, rest_on_row},
      {"the pointer at rest on the row", at_rest, nudge},
      {"the row's preview shown", shown,
       [&] {
         // A slow wander about the row: right, down, left.
         gui_widget_mouse(alerts, &wander_x, &wander_y);
         demo_app::move_to(wander_x + 1, wander_y);
         demo_app::move_to(wander_x + 1, wander_y + 1);
         demo_app::move_to(wander_x, wander_y + 1);
       }},
      {"kept while the pointer moves about in its window",
       [&] {
         int32_t x = 0, y = 0;
         gui_widget_mouse(alerts, &x, &y);
         snprintf(diag, sizeof diag, "pointer %d,%d from %d,%d shown %d", x, y, wander_x, wander_y, shown());
         P.diag = diag;
         return x == wander_x && y == wander_y + 1 && shown() && popups_owned_by(ws[0]);
       },
       [&] {
         current_before = alerts_get_current(alerts);
         xdo("click 1");
       }},
      {"gone on a click outside the preview (the clicked row current)",
       [&] {
         alert *now = alerts_get_current(alerts);
         return now && now != current_before && !shown();
       },
       nullptr},
  };
  for (app_step &s : reopen("the preview gone")) steps.push_back(s);
  steps.push_back({"(pointer away quickly)", [] { return true; }, far_away});
  steps.push_back({"gone when the pointer left the alerts' window quickly", [&] { return !shown(); }, nullptr});
  for (app_step &s : reopen("the preview gone")) steps.push_back(s);
  steps.push_back({"(pointer into the preview)", [] { return true; },
                   [&] {
                     const window *p = screen_popup_window();
                     demo_app::move_to(p->r.x + p->r.w / 2, p->r.y + p->r.h / 2);
                   }});
  steps.push_back({"the pointer inside the preview, which stays",
                   [&] {
                     const window *p = screen_popup_window();
                     int32_t x, y;
                     return gui_widget_mouse(const_cast<window *>(p), &x, &y) && x >= p->r.x && x < p->r.x + p->r.w &&
                            y >= p->r.y && y < p->r.y + p->r.h && shown();
                   },
                   far_away});
  steps.push_back({"gone when the pointer left the preview quickly", [&] { return !shown(); }, nullptr});
  for (app_step &s : reopen("the preview gone")) steps.push_back(s);
  steps.push_back({"(Escape)", [] { return true; }, [&] { xdo("key Escape"); }});
  steps.push_back({"gone on Escape", [&] { return !shown(); }, [] { gui_quit(); }});
  P.steps = steps;
  ASSERT_NO_FATAL_FAILURE(run_script(app, P, alerts_fini));  // the alerts let go of the model before it goes
}

TEST(WindowPointerEndToEnd, TheFrameTakesEachContentsColours) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("frames"));
  app_script P;
  std::vector<window *> ws;
  wlist *wl = nullptr;
  char diag[400];
  // The rings on the window's left edge at a row.
  const auto inner_at = [](const window *w, int32_t y) {
    return guitest_window_pixel(demo_app::xwin(0), w->r.x + 1, y);
  };
  const auto outer_at = [](const window *w, int32_t y) { return guitest_window_pixel(demo_app::xwin(0), w->r.x, y); };
  P.steps = {
      {"online with the live stocks",
       [&] { return demo_app::signed_on_and_settled() && live_stocks().size() >= 4; },
       [&] {
         ASSERT_EQ(scan_init(), 0);
         ws = split_row(2, 2);
         ASSERT_EQ(ws.size(), 4u);
         // The first, focused: a grid of the live stocks; then a chart, a
         // trade chart and a document window without a document.
         wl = wlist_create("Live", 0);
         for (ss_stock *s : live_stocks()) wlist_add_item(wl, s);
         window_set_role(ws[0], kRoleWatchlist);
         ASSERT_EQ(window_set_list_source(ws[0], wl), 0);
         window_set_instrument(ws[1], live_stocks()[0]);
         window_set_role(ws[1], kRoleChart);
         window_set_instrument(ws[2], live_stocks()[1]);
         window_set_role(ws[2], kRoleTradechart);
         window_set_role(ws[3], kRoleDocument);
       }},
      {"each unfocused frame in its content's colour, not the default",
       [&] {
         if (!laid_out(ws)) return false;
         const uint32_t panel = colour_of(SC_PANEL);
         std::string d;
         bool ok = true;
         for (int i = 1; i < 4; i++) {
           const window *w = ws[size_t(i)];
           const int32_t y = w->r.y + w->r.h / 2;
           const uint32_t want = w->frame_colours[1] | 0xff000000u, in = inner_at(w, y), out = outer_at(w, y);
           char b[100];
           snprintf(b, sizeof b, " [%d want %08x inner %08x outer %08x]", i, want, in, out);
           d += b;
           ok = ok && w->frame_colours[1] && !guitest_near(want, panel, 2) && guitest_near(in, want) &&
                guitest_near(out, w->frame_colours[0] | 0xff000000u);
         }
         P.diag = d;
         return ok;
       },
       nullptr},
      {"every frame ring on all four sides in its colours, the focused window's outer ring in the focus colour, "
       "the content untouched inside the rings",
       [&] {
         std::string d;
         bool ok = true;
         for (int i = 0; i < 4; i++) {
           window *w = ws[size_t(i)];
           uint32_t outer = 0, inner = 0;
           window_frame_look(w, &outer, &inner);
           if (i == 0 && !guitest_near(outer, focus_ring())) return false;  // the focus shows at once
           const rect r = w->r;
           const int32_t mx = r.x + r.w / 2, my = r.y + r.h / 2;
           // Outer ring, inner ring: left, right, top, bottom, and the
           // square top-left corner.
           const struct {
             int32_t x, y;
             uint32_t want;
             const char *where;
           } at[] = {{r.x, my, outer, "left"},
                     {r.x + r.w - 1, my, outer, "right"},
                     {mx, r.y, outer, "top"},
                     {mx, r.y + r.h - 1, outer, "bottom"},
                     {r.x, r.y, outer, "corner"},
                     {r.x + 1, my, inner, "inner left"},
                     {r.x + r.w - 2, my, inner, "inner right"},
                     {mx, r.y + 1, inner, "inner top"},
                     {mx, r.y + r.h - 2, inner, "inner bottom"}};
           for (const auto &a : at) {
             const uint32_t got = guitest_window_pixel(demo_app::xwin(0), a.x, a.y);
             if (!guitest_near(got, a.want)) {
               char b[160];
               snprintf(b, sizeof b, " [%d %s %08x want %08x]", i, a.where, got, a.want);
               d += b;
               ok = false;
             }
           }
           if (i > 0 && guitest_near(outer, focus_ring(), 8)) {
             d += " [unfocused window in the focus colour]";
             ok = false;
           }
         }
         // Inside the rings the content as it drew it: the frame touches two
         // pixels only, however often the live grid and the charts redraw
         // beside it (the texture's translucent inner line is not drawn).
         for (int i : {0, 1, 2}) {
           const window *w = ws[size_t(i)];
           const int32_t y = w->r.y + w->r.h * 3 / 4;
           const uint32_t edge = guitest_window_pixel(demo_app::xwin(0), w->r.x + 2, y);
           const uint32_t beside = guitest_window_pixel(demo_app::xwin(0), w->r.x + 3, y);
           if (!guitest_near(edge, beside, 2)) {
             char b[120];
             snprintf(b, sizeof b, " [%d inside the rings %08x beside %08x]", i, edge, beside);
             d += b;
             ok = false;
           }
         }
         P.diag = d;
         return ok;
       },
       [&] {
         // The chart's tool panel: the frame beside it in the panel colour,
         // beside the chart still in the chart's.
         window_show_tools(ws[1]);
       }},
      {"the edges beside the shown panel in the panel colour",
       [&] {
         const window *w = ws[1];
         widget *panel = window_get_current_tools(const_cast<window *>(w));
         if (!panel || !widget_is_shown(panel) || panel->r.h < 8 || screen_relayout_pending()) return false;
         const int32_t by_panel = panel->r.y + panel->r.h / 2, by_chart = panel->r.y - 20;
         const uint32_t p = inner_at(w, by_panel), c = inner_at(w, by_chart);
         snprintf(diag, sizeof diag, "beside panel %08x (panel %08x) beside chart %08x (chart %08x)", p,
                  colour_of(SC_PANEL), c, w->frame_colours[1] | 0xff000000u);
         P.diag = diag;
         return guitest_near(p, colour_of(SC_PANEL)) && guitest_near(c, w->frame_colours[1] | 0xff000000u);
       },
       [] { gui_quit(); }},
  };
  ASSERT_NO_FATAL_FAILURE(run_script(app, P));
}

// An announcement dragged from a pane's list of announcements is read, not
// removed: the toolbars' "Remove" stays hidden through the drag, and the
// pane it is dropped on shows it.
TEST(WindowPointerEndToEnd, AnAnnouncementDraggedShowsNoRemoveAndOpensWhereItIsDropped) {
  demo_app app;
  app.news_seconds = 3;
  ASSERT_NO_FATAL_FAILURE(app.start("newsdrag"));
  app_script P;
  std::vector<window *> ws;
  histnews *list = nullptr;
  ss_news *item = nullptr;
  int32_t from_x = 0, from_y = 0;
  bool remove_seen = false;
  char diag[200];
  const auto remove_shown = [] {
    for (int i = 0; i < 2; i++) {
      widget *rm = toolbar_remove_button(screen_toolbar(i));
      if (rm && widget_is_shown(rm)) return true;
    }
    return false;
  };
  P.steps = {
      {"online with the live stocks",
       [&] { return demo_app::signed_on_and_settled() && live_stocks().size() >= 4; },
       [&] {
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         window_set_role(ws[1], kRoleLog);
       }},
      {"a live stock with an announcement, its list in the left pane",
       [&] {
         for (ss_stock *st : live_stocks()) {
           ss_issuer *is = ssmodel_find_issuer(st->exchange, st->issuer[0] ? st->issuer : st->code);
           if (!is || !is->news.tail) continue;
           if (ws[0]->role != kRoleHistnews || ws[0]->instrument != is) {
             window_set_instrument(ws[0], st);
             window_set_role(ws[0], kRoleHistnews);
             list = static_cast<histnews *>(window_get_content(ws[0], kRoleHistnews));
           }
           return true;
         }
         return false;
       },
       nullptr},
      {"the list shows an announcement row",
       [&] {
         if (!laid_out(ws) || !list || !widget_is_shown(list) || remove_shown()) return false;
         for (histnews_row *r = list->rows; r; r = r->next)
           if (r->item && r->y >= 0 && r->y + list->row_height <= list->r.h) {
             item = r->item;
             from_x = list->r.x + list->r.w / 3;
             from_y = list->r.y + r->y + list->row_height / 2;
             return true;
           }
         return false;
       },
       [&] {
         demo_app::move_to(from_x, from_y);
         demo_app::xdo("mousedown 1");
         for (int step = 1; step <= 3; step++) demo_app::move_to(from_x + 4 * step, from_y + 2 * step);
       }},
      {"dragging the announcement",
       [&] {
         snprintf(diag, sizeof diag, "dragging %d kind %u", gui_dragging(), dnd_kind());
         P.diag = diag;
         remove_seen = remove_seen || remove_shown();
         return gui_dragging() && dnd_kind() == DND_NEWS && dnd_news_item() == item;
       },
       [&] {
         remove_seen = remove_seen || remove_shown();
         const rect r = ws[1]->r;
         for (int step = 1; step <= 6; step++)
           demo_app::move_to(from_x + (r.x + r.w / 2 - from_x) * step / 6, from_y + (r.y + r.h / 2 - from_y) * step / 6);
         remove_seen = remove_seen || remove_shown();
         demo_app::xdo("mouseup 1");
       }},
      {"the right pane shows the announcement",
       [&] {
         remove_seen = remove_seen || remove_shown();
         const ss_news *shown = ws[1]->role == kRoleDocument ? docwin_get_news_item(window_get_content(ws[1], kRoleDocument)) : nullptr;
         snprintf(diag, sizeof diag, "role %u shown %s", ws[1]->role, shown ? shown->headline : "-");
         P.diag = diag;
         return !gui_dragging() && shown && shown->number == item->number;
       },
       [] { gui_quit(); }},
  };
  ASSERT_NO_FATAL_FAILURE(run_script(app, P));
  EXPECT_FALSE(remove_seen) << "\"Remove\" showed for an announcement";
}

// The labels of the current desktop's miniature, in the minibar.
std::vector<std::string> mini_labels() {
  std::vector<std::string> out;
  auto *mb = static_cast<minibar *>(screen_minibar());
  const int i = screen_desktop_index();
  if (!mb || i < 0 || i >= 10 || !mb->desktops[i]) return out;
  const mini_desktop *md = mb->desktops[i];
  for (int32_t k = 0; k < md->count; k++) out.emplace_back(md->cells[k].label);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(WindowPointerEndToEnd, ARoleKeyShowsOnTheMiniDesktopAtOnce) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("roleminidesk"));
  app_script P;
  std::vector<window *> ws;
  uint32_t redraws = 0;
  bool marked_at_once = false;
  char diag[200];
  const auto labels = [&] {
    std::string d;
    for (const std::string &l : mini_labels()) d += "[" + l + "]";
    return d;
  };
  const auto mini = [] {
    auto *mb = static_cast<minibar *>(screen_minibar());
    return mb->desktops[screen_desktop_index()];
  };
  P.steps = {
      {"online with a focused window", [] { return demo_app::signed_on_and_settled(); },
       [&] {
         // Two panes that show no instrument, so that no price change marks
         // the desktops changed behind the role change's back.
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         window_set_role(ws[0], kRoleLog);
         window_set_role(ws[1], kRoleLog);
       }},
      {"both panes' cells labelled as logs, nothing pending",
       [&] {
         snprintf(diag, sizeof diag, "labels %s pending %d", labels().c_str(), screen_desktops_changed_pending());
         P.diag = diag;
         return laid_out(ws) && !ws[0]->instrument && !ws[1]->instrument &&
                mini_labels() == std::vector<std::string>{"LOG", "LOG"} && !screen_desktops_changed_pending();
       },
       [&] {
         const rect r = ws[1]->r;
         demo_app::move_to(r.x + r.w / 2, r.y + r.h / 2);
         demo_app::xdo("click 1");
       }},
      {"the right pane focused", [&] { return demo_app::focused() == ws[1] && !screen_desktops_changed_pending(); },
       [&] {
         redraws = mini()->redraws;
         demo_app::xdo("key i");
       }},
      {"the right pane lists indices and its cell says so",
       [&] {
         snprintf(diag, sizeof diag, "role %u labels %s", ws[1]->role, labels().c_str());
         P.diag = diag;
         return ws[1]->role == kRoleIndexlist && mini_labels() == std::vector<std::string>{"I", "LOG"} &&
                mini()->redraws != redraws;
       },
       nullptr},
      {"nothing pending",
       [&] { return !screen_desktops_changed_pending() && !screen_relayout_pending(); },
       [&] {
         // The role change itself marks the desktops changed, before any
         // relayout or redraw could.
         window_set_role(ws[0], kRoleForexlist);
         marked_at_once = screen_desktops_changed_pending();
       }},
      {"the left pane's cell follows", [&] { return mini_labels() == std::vector<std::string>{"FX", "I"}; },
       [] { gui_quit(); }},
  };
  ASSERT_NO_FATAL_FAILURE(run_script(app, P));
  EXPECT_TRUE(marked_at_once) << "the role change left the desktops unmarked";
}

// The steps of one xdotool drag from a point onto the first toolbar's
// "Remove", which shows once the drag has begun.
std::vector<app_step> drag_to_remove(const char *what, std::function<void(int32_t *, int32_t *)> from) {
  auto start = std::make_shared<std::pair<int32_t, int32_t>>();
  return {
      {what, [] { return !gui_dragging() && !screen_relayout_pending(); },
       [from, start] {
         from(&start->first, &start->second);
         demo_app::move_to(start->first, start->second);
         demo_app::xdo("mousedown 1");
         for (int step = 1; step <= 3; step++) demo_app::move_to(start->first + 4 * step, start->second - 3 * step);
       }},
      {"(dragging, Remove shown)",
       [] {
         button *rm = static_cast<button *>(toolbar_remove_button(screen_toolbar(0)));
         return gui_dragging() && rm && widget_is_shown(rm) && rm->r.w > 0 && !screen_relayout_pending();
       },
       [start] {
         const rect r = toolbar_remove_button(screen_toolbar(0))->r;
         for (int step = 1; step <= 6; step++)
           demo_app::move_to(start->first + (r.x + r.w / 2 - start->first) * step / 6,
                             start->second + (r.y + r.h / 2 - start->second) * step / 6);
         demo_app::xdo("mouseup 1");
       }},
  };
}

TEST(WindowPointerEndToEnd, DropsOnRemoveEmptyOrRemoveWhatWasDragged) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("removers"));
  app_script P;
  std::vector<window *> ws;
  watchlist *grid = nullptr;
  widget *alerts = nullptr;
  wlist *wl = nullptr;
  std::vector<ss_stock *> stocks;
  widget *bar = nullptr, *mini = nullptr;
  instr *gone_row = nullptr;
  int32_t cells_before = 0;
  char diag[200];
  std::vector<app_step> steps = {
      {"online with the live stocks",
       [&] {
         if (!demo_app::signed_on_and_settled() || live_stocks().size() < 4) return false;
         bar = screen_watchbar();
         mini = minibar_get_quote(screen_minibar(), 0);
         return bar && mini && toolbar_remove_button(screen_toolbar(0)) && (screen_bars_shown() & BAR_TOOLBAR0);
       },
       [&] {
         ASSERT_EQ(scan_init(), 0);
         ASSERT_EQ(alerts_init(), 0);
         stocks = live_stocks();
         ws = split_row(2);
         ASSERT_EQ(ws.size(), 2u);
         wl = wlist_create("Four", 0);
         for (ss_stock *s : stocks) wlist_add_item(wl, s);
         window_set_role(ws[0], kRoleWatchlist);
         ASSERT_EQ(window_set_list_source(ws[0], wl), 0);
         grid = static_cast<watchlist *>(window_get_content(ws[0], kRoleWatchlist));
         for (ss_stock *s : stocks) ASSERT_EQ(alerts_add_default(s), 0);
         window_set_role(ws[1], kRoleAlerts);
         alerts = window_get_content(ws[1], kRoleAlerts);
         watchbar_clear(bar);
         for (int i = 0; i < 3; i++) ASSERT_EQ(watchbar_append_instr(bar, stocks[size_t(i)]), 0);
         mini_quote_set_instr(mini, stocks[3]);
       }},
      {"the grid, the alerts, three watch bar cells and the minibar cell",
       [&] {
         snprintf(diag, sizeof diag, "grid %d alerts %d cells %d", grid ? watchlist_row_count(grid) : -1,
                  alerts ? alerts_shown_count(alerts) : -1, bar ? watchbar_count(bar) : -1);
         P.diag = diag;
         return laid_out(ws) && watchlist_row_count(grid) == 4 && watchlist_row_at(grid, 0) &&
                alerts_shown_count(alerts) == 4 && watchbar_count(bar) == 3 && watchbar_cell(bar, 1)->r.w > 0 &&
                mini->r.w > 0 && mini->r.h > 4;
       },
       [&] { gone_row = watchlist_row_at(grid, 0)->in; }},
  };
  for (app_step &s : drag_to_remove("a grid row onto Remove", [&](int32_t *x, int32_t *y) {
         *x = grid->r.x + grid->r.w / 3;
         *y = grid->r.y + watchlist_row_at(grid, 0)->y + grid->row_h / 2;
       }))
    steps.push_back(s);
  steps.push_back({"the row's stock left the watchlist, the others stay",
                   [&] { return !gui_dragging() && wlist_index_of(wl, gone_row) < 0 && wlist_count(wl) == 3; },
                   nullptr});
  instr *alert_gone = nullptr;
  for (app_step &s : drag_to_remove("an alerts row onto Remove", [&](int32_t *x, int32_t *y) {
         alert_gone = alerts_shown_at(alerts, 0)->instrument;
         *x = alerts->r.x + alerts->r.w / 3;
         alerts_grid *g = alerts_grid_of(alerts);
         *y = alerts->r.y + g->row_h / 2 + 1;
         for (alerts_row *r = g->rows; r; r = r->next)  // row tops are window coordinates
           if (r->shown && r->a && r->a->instrument == alert_gone) *y = r->y + g->row_h / 2;
       }))
    steps.push_back(s);
  steps.push_back({"that stock's alert removed, the others stay",
                   [&] {
                     snprintf(diag, sizeof diag, "alerts %d gone %s kind %u", alerts_count(),
                              alert_gone ? alert_gone->code : "-", dnd_kind());
                     P.diag = diag;
                     int kept = 0;
                     for (ss_stock *st : stocks) kept += alerts_find(st) != nullptr;
                     return !gui_dragging() && alert_gone && !alerts_find(alert_gone) && kept == 3;
                   },
                   [&] { cells_before = watchbar_count(bar); }});
  for (app_step &s : drag_to_remove("a watch bar cell onto Remove", [&](int32_t *x, int32_t *y) {
         widget *c = watchbar_cell(bar, 1);
         *x = c->r.x + c->r.w / 2;
         *y = c->r.y + c->r.h / 2;
       }))
    steps.push_back(s);
  steps.push_back({"the cell left the watch bar",
                   [&] { return !gui_dragging() && watchbar_count(bar) == cells_before - 1; }, nullptr});
  for (app_step &s : drag_to_remove("the minibar cell onto Remove", [&](int32_t *x, int32_t *y) {
         *x = mini->r.x + mini->r.w / 2;
         *y = mini->r.y + mini->r.h / 2;
       }))
    steps.push_back(s);
  steps.push_back({"the minibar cell emptied",
                   [&] { return !gui_dragging() && static_cast<mini_quote *>(mini)->in == nullptr; },
                   [] { gui_quit(); }});
  P.steps = steps;
  // The alerts' registrations go while the model is still there.
  ASSERT_NO_FATAL_FAILURE(run_script(app, P, alerts_fini));
}

}  // namespace
