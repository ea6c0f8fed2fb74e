// The alert and ticker panels end to end, under Xvfb against the
// simulator's demo scenario with its live market, in the real frame loop
// after a real sign-on. xdotool shows the alerts window's panel (drawn
// under the grid, a pixel sampled), types a
// live stock's code and a high trigger just above its last price; the
// simulator trades through it and the alert fires once, its row showing the
// time. The Ticker section's button hides the alerts ticker with the bar,
// shows it again (pixels sampled where it stands) and Super+Z takes it away
// again. A right click on the ticker shows the ticker panel: "Alerts"
// leaves only the "Show" section, "Ticker 2" brings the others back.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "appscript.h"
#include "lib/fmt.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "ssmodel.h"
#include "tools/alerttools.h"
#include "tools/panelkit.h"
#include "tools/tickertools.h"
#include "ui/flyaway.h"
#include "ui/textbox.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"

namespace {

// hh:mm:ss, the hour's first digit blank below 10
bool is_time(const std::string &s) {
  if (s.size() != 8 || s[2] != ':' || s[5] != ':') return false;
  if (s[0] != ' ' && !isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (size_t i : {1, 3, 4, 6, 7})
    if (!isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// High-price alert items of an instrument in a ticker, shown or waiting.
int high_items(const ticker *t, const instr *in) {
  int n = 0;
  for (const ticker_item *i = t->first; i; i = i->next) n += i->instrument == in && i->kind == TICK_ALERT_HIGH;
  for (const ticker_item *i = t->queue_first; i; i = i->next)
    n += i->instrument == in && i->kind == TICK_ALERT_HIGH;
  return n;
}

TEST(AlertPanelEndToEnd, TypedHighTriggerFiresOnceAndTheTickerPanelsFollow) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("alertpanel"));
  app_script P;
  const auto xdo = demo_app::xdo;
  const auto move_to = demo_app::move_to;
  const auto focused = demo_app::focused;
  const std::string code = sim_market_code(1);  // the live market's first stock
  window *win = nullptr;
  widget *grid = nullptr;
  alerttools *panel = nullptr;
  ss_stock *stock = nullptr;
  alert *a = nullptr;
  uint32_t trigger = 0;
  ss_time fired = 0;
  rect strip{};  // where the alerts ticker stands when shown
  ticktools *tpanel = nullptr;

  const auto click_on = [&](const widget *w) {
    move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
    xdo("click 1");
  };
  const auto type_into = [&](textbox *t, const std::string &text) {
    click_on(t);
    std::string clear = "key End";  // the box keeps no selection: empty it from the end
    for (int i = 0; i < 24; i++) clear += " BackSpace";
    xdo(clear);
    xdo("type --delay 20 " + text);
    xdo("key Return");
  };
  const auto open_section = [&](flyaway *f) {
    if (flyaway_is_open(f)) return;
    move_to(f->r.x + 4, f->r.y + f->r.h / 2);
    xdo("click 1");
  };
  const auto settled = [](flyaway *const *fs, int n) {
    for (int i = 0; i < n; i++)
      if (fs[i] && flyaway_animating(fs[i])) return false;
    return true;
  };
  const auto on_screen = [](const widget *w) { return widget_is_shown(w) && w->r.w > 0 && w->r.h > 0; };
  const auto tickbar = [] { return screen_tickbar(); };
  const auto alerts_ticker = [&] { return tickbar_alert_ticker(tickbar()); };
  // The strip's top row, sampled at four points: all the ticker's
  // background (shown) or none of it (hidden).
  const auto strip_is_ticker = [&](bool shown) {
    const style *st = style_cur();
    const uint32_t bg = style_colour(st, SC_BACKGROUND) | 0xff000000u;
    char b[120];
    P.diag = "pixels";
    int near = 0;
    for (int k = 1; k <= 4; k++) {
      const uint32_t px = guitest_window_pixel(demo_app::xwin(0), strip.x + strip.w * k / 5, strip.y);
      near += guitest_near(px, bg);
      snprintf(b, sizeof b, " %08x", px);
      P.diag += b;
    }
    snprintf(b, sizeof b, " bg %08x", bg);
    P.diag += b;
    return shown ? near == 4 : near == 0;
  };

  P.steps = {
      {"online with the first screen up and a focused window", demo_app::signed_on_and_settled,
       [&] {
         win = focused();
         window_set_role(win, kRoleAlerts);
         grid = window_get_content(win, kRoleAlerts);
         const rect r = win->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("keydown ctrl click 1 keyup ctrl");
       }},
      {"the alert panel shown and the live stock priced",
       [&] {
         panel = static_cast<alerttools *>(window_get_tools(win, kRoleAlerts));
         stock = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
         P.diag = "panel " + std::to_string(panel && on_screen(panel)) + " last " +
                  std::to_string(stock ? stock->last : 0);
         return win->show_tools && panel && on_screen(panel) && stock && stock->last > 0 &&
                settled(panel->section, kAlerttoolsSections);
       },
       nullptr},
      {"the panel drawn under the grid: its bare end in the panel colour",
       [&] {
         const uint32_t want = style_colour(style_cur(), SC_PANEL) | 0xff000000u;
         const uint32_t px =
             guitest_window_pixel(demo_app::xwin(0), panel->r.x + panel->r.w - 4, panel->r.y + panel->r.h / 2);
         char b[64];
         snprintf(b, sizeof b, "pixel %08x want %08x", px, want);
         P.diag = b;
         return guitest_near(px, want);
       },
       [&] { open_section(panel->section[ALERTTOOLS_TRIGGERS]); }},
      {"the Triggers section open",
       [&] {
         flyaway *f = panel->section[ALERTTOOLS_TRIGGERS];
         return flyaway_is_open(f) && !flyaway_animating(f) && on_screen(panel->code) &&
                panel->code->r.x >= f->r.x && panel->max_price->r.x + panel->max_price->r.w <= f->r.x + f->r.w;
       },
       [&] { type_into(panel->code, code); }},
      {"an alert on the stock, current",
       [&] {
         a = alerts_find(stock);
         return a && alerts_get_current(grid) == a && !strcmp(textbox_text(panel->code), code.c_str());
       },
       [&] {
         // Just above the last price, in the hundredths the box shows.
         trigger = stock->last + 1;
         char text[48];
         panelkit_format_hundredths(text, sizeof text, trigger);
         type_into(panel->max_price, text);
       }},
      {"the high trigger set from the typed text",
       [&] {
         P.diag = "max " + std::to_string(a->max_price) + " want " + std::to_string(trigger) + " box " +
                  textbox_text(panel->max_price);
         return a->max_price == trigger;
       },
       [&] { ASSERT_EQ(0, sim_live_trade(app.live(), code.c_str(), trigger + 50, 1000)); }},
      {"the alert fired, its row showing the time",
       [&] {
         if (!a->high_fired) return false;
         fired = a->high_fired;
         const std::string cell = alerts_cell_text(grid, a, 11);
         P.diag = "cell " + cell;
         return is_time(cell) && cell == fmt_time_hms(fired);
       },
       [&] {
         EXPECT_EQ(1, high_items(alerts_ticker(), stock)) << "posted to the alerts ticker once";
         ASSERT_EQ(0, sim_live_trade(app.live(), code.c_str(), trigger + 120, 1000));
       }},
      {"a second trade through the trigger seen",
       [&] {
         for (const ss_trade *t = stock->trades.head; t; t = t->next)
           if (t->price == trigger + 120) return true;
         return false;
       },
       [&] {
         EXPECT_EQ(fired, a->high_fired) << "fires once";
         EXPECT_LE(high_items(alerts_ticker(), stock), 1);
         strip = alerts_ticker()->r;
         open_section(panel->section[ALERTTOOLS_TICKER]);
       }},
      {"the Ticker section open, its button showing the ticker",
       [&] {
         flyaway *f = panel->section[ALERTTOOLS_TICKER];
         P.diag = "strip h " + std::to_string(strip.h) + " active " + std::to_string(panel->ticker->state);
         return strip.h > 0 && flyaway_is_open(f) && !flyaway_animating(f) && on_screen(panel->ticker) &&
                (panel->ticker->state & BUTTON_ACTIVE) && !strncmp(panel->ticker->text, "Show", 4);
       },
       [&] { click_on(panel->ticker); }},
      {"the alerts ticker and the bar hidden",
       [&] {
         return !tickbar_alert_ticker_visible(tickbar()) && !tickbar_is_on(tickbar()) &&
                !widget_is_shown(tickbar()) && !screen_relayout_pending() && !(panel->ticker->state & BUTTON_ACTIVE) &&
                on_screen(panel->ticker) && strip_is_ticker(false);
       },
       [&] { click_on(panel->ticker); }},
      {"Show: the alerts ticker drawn where it stood",
       [&] {
         return tickbar_alert_ticker_visible(tickbar()) && widget_is_shown(alerts_ticker()) &&
                !screen_relayout_pending() && (panel->ticker->state & BUTTON_ACTIVE) && strip_is_ticker(true);
       },
       [&] { xdo("key super+z"); }},
      {"Super+Z: the bar off again, the ticker gone from the screen",
       [&] { return !tickbar_is_on(tickbar()) && !screen_relayout_pending() && strip_is_ticker(false); },
       [&] {
         tools_refresh_now(panel);
         EXPECT_FALSE(panel->ticker->state & BUTTON_ACTIVE) << "the panel follows the undo";
         click_on(panel->ticker);
       }},
      {"the alerts ticker back",
       [&] { return widget_is_shown(alerts_ticker()) && !screen_relayout_pending() && strip_is_ticker(true); },
       [&] {
         const rect r = alerts_ticker()->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("click 3");
       }},
      {"the ticker panel shown under the tickers",
       [&] {
         tpanel = ticktools_is(tickbar_of(tickbar())->tools) ? static_cast<ticktools *>(tickbar_of(tickbar())->tools)
                                                             : nullptr;
         P.diag = "panel " + std::to_string(tpanel != nullptr) + " shown " + std::to_string(tickbar_tools_shown(tickbar()));
         if (!tpanel || !tickbar_tools_shown(tickbar()) || !on_screen(tpanel) || screen_relayout_pending()) return false;
         button *alerts = ticktools_button(tpanel, 34);
         P.diag += " alerts " + std::to_string(alerts->r.x) + "," + std::to_string(alerts->r.y) + "," +
                   std::to_string(alerts->r.w) + "," + std::to_string(alerts->r.h);
         return on_screen(alerts) && settled(tpanel->section, kTicktoolsSections) &&
                ticktools_section_shown(tpanel, TICKTOOLS_NEWS);
       },
       [&] { click_on(ticktools_button(tpanel, 34)); }},
      {"Alerts: only the Show section left",
       [&] {
         if (tpanel->ticker != kTicktoolsAlerts) return false;
         for (int k = TICKTOOLS_SELECT; k < kTicktoolsSections; k++)
           if (ticktools_section_shown(tpanel, k)) return false;
         return ticktools_section_shown(tpanel, TICKTOOLS_SHOW) && button_is_sensitive(tpanel->when_open) == 0;
       },
       [&] { click_on(ticktools_button(tpanel, 1)); }},
      {"Ticker 2: every section back",
       [&] {
         if (tpanel->ticker != 1) return false;
         for (int k = 0; k < kTicktoolsSections; k++)
           if (!ticktools_section_shown(tpanel, k)) return false;
         return button_is_sensitive(tpanel->when_open) != 0;
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  start_cleanup();
  // The alerts leave the model before the harness stops the client (the
  // program itself stops the gui, and with it the alerts, first).
  alerts_fini();
  app.stop();
}

}  // namespace
