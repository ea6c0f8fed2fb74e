// Exchanges typed at the keyboard end to end, under Xvfb against the
// simulator's demo scenario, in the real frame loop after a real sign-on.
// A second live market moves the same first stock code on NZX as the demo's
// on ASX, so a search for that code finds one stock on each. xdotool types
// "CODE.N?": the focused window searches NZX only; "." shows every exchange
// (both stocks); ".A" narrows it to ASX.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "appscript.h"
#include "lib/scan.h"
#include "ssmodel.h"
#include "ssuser.h"
#include "windows/searchwin.h"

namespace {

TEST(ExchangeKeysEndToEnd, TypedExchangesNarrowTheSearch) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("exchange"));
  sim_live_options lo;
  lo.index = 1;
  lo.brokers = sim_scenario_has_brokers(1);
  lo.rate = 10;
  lo.stocks = 1;
  sim_live *nzx = sim_live_start(app.sim(), lo);
  ASSERT_NE(nullptr, nzx);
  const std::string code = sim_market_code(1);  // each live market's first stock
  app_script P;
  window *w = nullptr;
  const auto xdo = demo_app::xdo;
  // Types a command into the focused window and ends it with Enter. A dot
  // key opens typed entry itself; other text needs Enter to open it.
  const auto type = [&](const std::string &text) {
    const rect r = w->r;
    demo_app::move_to(r.x + r.w / 2, r.y + r.h / 2);
    if (text[0] != '.') xdo("key Return");
    xdo("type --delay 30 '" + text + "'");
    xdo("key Return");
  };
  // What the search window lists, as "exchange:code", once its rows are built.
  const auto listed = [&] {
    std::set<std::string> out;
    auto *sw = searchwin_cast(window_get_content(w, kRoleSearch));
    if (!sw || w->role != kRoleSearch) return out;
    for (watchlist_row *r = sw->rows; r; r = r->next)
      out.insert(std::to_string(r->in->exchange->index) + ":" + r->in->code);
    P.diag = "keyword '" + std::string(searchwin_get_keyword(sw)) + "' exchanges";
    for (int i = 0; i < 4; i++) P.diag += " " + std::to_string(searchwin_get_exchange_shown(sw, i));
    P.diag += " rows";
    for (const std::string &c : out) P.diag += " " + c;
    return out;
  };
  const auto current = [&](int exchange) {
    const ss_stock *s = ssmodel_find_stock(ssmodel_exchange(exchange), code.c_str());
    return s && (s->flags & kInCurrent);
  };
  const std::string asx = "0:" + code, nz = "1:" + code;
  P.steps = {
      {"online with the first screen up and the stock current on both exchanges",
       [&] {
         w = demo_app::focused();
         return demo_app::signed_on_and_settled() && w && current(0) && current(1) && ssuser_multi_exchange();
       },
       [&] {
         // The scans start here, with the frame loop's timers running.
         ASSERT_EQ(scan_init(), 0);
         type(code + ".N?");
       }},
      {"the search on NZX only", [&] { return listed() == std::set<std::string>{nz} && !keyboard_is_active(); },
       [&] { type("."); }},
      {"every exchange", [&] { return listed() == std::set<std::string>{asx, nz} && !keyboard_is_active(); },
       [&] { type(".A"); }},
      {"ASX only", [&] { return listed() == std::set<std::string>{asx} && !keyboard_is_active(); },
       [&] {
         EXPECT_EQ(ssmodel_exchange(0), w->exchange);
         gui_quit();
       }},
  };
  app.run(&P);
  start_cleanup();
  sim_live_stop(nzx);
  app.stop();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
}

}  // namespace
