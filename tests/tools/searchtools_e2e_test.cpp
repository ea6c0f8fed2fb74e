// The search and option panels end to end, under Xvfb against the
// simulator's demo scenario with its live market, in the real frame loop
// after a real sign-on. The first desktop is split into a search window
// and two option-list windows; the search action leaves the keyword field
// with the keyboard. xdotool clicks the search panel's keyword
// field, types a keyword and Return: the list narrows to the instruments
// that match and the title reads "LIKE ...". Then it Shift-clicks "Puts" in
// the first option list's panel: both option lists drop puts and say so in
// their titles, and one Super+Z restores both.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "action.h"
#include "appscript.h"
#include "lib/scan.h"
#include "tools/listtools.h"
#include "tools/panelkit.h"
#include "tools/searchtools.h"
#include "ui/flyaway.h"
#include "ui/textbox.h"
#include "windows/optionlist.h"
#include "windows/searchwin.h"
#include "windows/titlebar.h"

namespace {

std::string upper(std::string s) {
  for (char &c : s) c = char(toupper(static_cast<unsigned char>(c)));
  return s;
}

bool has(const std::string &s, const std::string &part) { return s.find(part) != std::string::npos; }

TEST(SearchAndOptionPanelsEndToEnd, KeywordNarrowsTheSearchAndShiftPutsReachesBothOptionListsUndoneAtOnce) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("searchpanel"));
  app_script P;
  std::vector<window *> ws;
  searchtools *sp = nullptr;
  searchwin *list = nullptr;
  optiontools *op = nullptr;
  button *puts = nullptr;
  int32_t all_rows = 0;
  bool action_focused_field = false;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  const auto focused = demo_app::focused;
  const auto title = [&](int i) { return std::string(window_get_titlebar(ws[i])->caption); };
  const auto options = [&](int i) { return optionlist_cast(window_get_content(ws[i], kRoleOptionlist)); };
  const auto rows_match = [&](const char *kw) {
    int32_t n = 0;
    for (watchlist_row *r = list->rows; r; r = r->next, n++)
      if (!has(upper(r->in->name1 ? r->in->name1 : ""), upper(kw))) return -1;
    return n;
  };
  // Opens a closed section by a click on its title strip.
  const auto open_section = [&](flyaway *f) {
    if (flyaway_is_open(f)) return;
    move_to(f->r.x + 4, f->r.y + f->r.h / 2);
    xdo("click 1");
  };
  const auto on_screen = [](widget *w, flyaway *f) {
    return flyaway_is_open(f) && !flyaway_animating(f) && widget_is_shown(w) && w->r.w > 0 && w->r.h > 0 &&
           w->r.x >= f->r.x && w->r.x + w->r.w <= f->r.x + f->r.w;
  };
  P.steps = {
      {"online with the first screen up and a focused window",
       [] { return demo_app::signed_on_and_settled(); },
       [&] {
         // The scans start here, with the frame loop's timers running.
         ASSERT_EQ(scan_init(), 0);
         desktop *d = screen_current_desktop();
         window **got = desktop_split(d, focused(), 3, 1);
         ASSERT_NE(got, nullptr);
         for (int i = 0; i < 3; i++) ws.push_back(got[i]);
         // The search action shows the search window with its panel.
         ASSERT_EQ(action_search(ws[0]), 1);
         sp = static_cast<searchtools *>(window_get_tools(ws[0], kRoleSearch));
         action_focused_field = sp && gui_has_focus(sp->keyword);
         for (int i = 1; i < 3; i++) window_set_role(ws[i], kRoleOptionlist);
         window_show_tools(ws[1]);
         desktop_relayout(d);
       }},
      {"the search panel shown and the list filled with the live stocks",
       [&] {
         sp = static_cast<searchtools *>(window_get_tools(ws[0], kRoleSearch));
         list = searchwin_cast(window_get_content(ws[0], kRoleSearch));
         char b[160];
         snprintf(b, sizeof b, "panel %d shown %d rows %d", sp != nullptr, sp && widget_is_shown(sp),
                  list ? watchlist_row_count(list) : -1);
         P.diag = b;
         if (!sp || !list || !ws[0]->show_tools || !widget_is_shown(sp) || sp->r.h <= 0) return false;
         for (window *w : ws)
           if (w->r.h < 60) return false;
         all_rows = rows_match("");
         return all_rows >= 2 && !screen_relayout_pending() && !flyaway_animating(sp->search);
       },
       [&] { open_section(sp->search); }},
      {"the keyword field on screen",
       [&] {
         char b[300];
         flyaway *f = sp->search;
         snprintf(b, sizeof b, "field %d,%d,%d,%d section %d,%d,%d,%d open %d anim %d panel %d,%d,%d,%d box %d,%d,%d,%d",
                  sp->keyword->r.x, sp->keyword->r.y, sp->keyword->r.w, sp->keyword->r.h, f->r.x, f->r.y, f->r.w,
                  f->r.h, flyaway_is_open(f), flyaway_animating(f), sp->r.x, sp->r.y, sp->r.w, sp->r.h,
                  sp->box->r.x, sp->box->r.y, sp->box->r.w, sp->box->r.h);
         P.diag = b;
         return on_screen(sp->keyword, sp->search);
       },
       [&] {
         const rect r = sp->keyword->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 1");
       }},
      {"the keyword field focused",
       [&] { return gui_has_focus(sp->keyword); },
       [&] {
         xdo("key ctrl+a BackSpace");
         xdo("type --delay 30 energy");
         xdo("key Return");
       }},
      {"the list narrowed to the matches, the title LIKE ENERGY",
       [&] {
         int32_t n = rows_match("energy");
         P.diag = "keyword [" + std::string(searchwin_get_keyword(list)) + "] rows " + std::to_string(n) + " of " +
                  std::to_string(all_rows) + " title [" + title(0) + "]";
         return n >= 1 && n < all_rows && title(0) == "LIKE ENERGY";
       },
       [&] {
         gui_set_focus(nullptr);
         op = static_cast<optiontools *>(window_get_tools(ws[1], kRoleOptionlist));
       }},
      {"the first option list's panel shown",
       [&] {
         if (!op || !ws[1]->show_tools || !widget_is_shown(op) || op->r.h <= 0 || screen_relayout_pending())
           return false;
         for (button *b : op->toggle)
           if (b && b->id == 2) puts = b;
         flyaway *select = static_cast<flyaway *>(puts->parent->parent->parent);
         return !flyaway_animating(select);
       },
       [&] { open_section(static_cast<flyaway *>(puts->parent->parent->parent)); }},
      {"Puts on screen with both lists showing puts",
       [&] {
         flyaway *select = static_cast<flyaway *>(puts->parent->parent->parent);
         P.diag = "puts " + std::to_string(puts->r.x) + "," + std::to_string(puts->r.y) + " w " +
                  std::to_string(puts->r.w) + " open " + std::to_string(flyaway_is_open(select));
         return on_screen(puts, select) && (optionlist_get_filter(options(1)) & OPT_PUTS) &&
                (optionlist_get_filter(options(2)) & OPT_PUTS) && panelkit_is_on(puts);
       },
       [&] {
         const rect r = puts->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("keydown shift click 1 keyup shift");
       }},
      {"both option lists without puts, both titles saying so",
       [&] {
         P.diag = "filters " + std::to_string(optionlist_get_filter(options(1))) + " " +
                  std::to_string(optionlist_get_filter(options(2))) + " titles [" + title(1) + "] [" + title(2) + "]";
         return !(optionlist_get_filter(options(1)) & OPT_PUTS) && !(optionlist_get_filter(options(2)) & OPT_PUTS) &&
                has(title(1), "NO PUTS") && has(title(2), "NO PUTS");
       },
       [&] { xdo("key super+z"); }},
      {"one undo restores both",
       [&] {
         P.diag = "titles [" + title(1) + "] [" + title(2) + "]";
         return (optionlist_get_filter(options(1)) & OPT_PUTS) && (optionlist_get_filter(options(2)) & OPT_PUTS) &&
                !has(title(1), "NO PUTS") && !has(title(2), "NO PUTS");
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_TRUE(action_focused_field) << "the search action hands the keyboard to the keyword field";
  if (list) {
    EXPECT_STREQ(searchwin_get_keyword(list), "energy") << "the undo took the option edit only";
  }
  start_cleanup();
  scan_fini();
  app.stop();
}

}  // namespace
