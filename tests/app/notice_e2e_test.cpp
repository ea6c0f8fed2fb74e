// A code change end to end, under Xvfb against the simulator's demo scenario,
// in the real frame loop after a real sign-on: a stored list holds a live
// stock between two others; the simulator sends the exchange notice that
// makes its code an alias of a new one, and the list then holds the new
// stock in the old one's place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appscript.h"
#include "growbuf.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "sim_msg.h"
#include "ssmodel.h"

namespace {

TEST(CodeChangeEndToEnd, AListFollowsTheStockToItsNewCode) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("notice"));
  app_script P;
  const std::string before = sim_market_code(1);  // the live market's first stock
  const char *kNewCode = "ZNEW";
  wlist *wl = nullptr;
  ss_exchange *asx = nullptr;
  const auto codes = [&] {
    std::vector<std::string> out;
    for (int32_t i = 0; i < wlist_count(wl); i++) out.push_back(wlist_item_at(wl, i)->code);
    return out;
  };
  P.steps = {
      {"online with the first screen up and the stock in the model",
       [&] {
         asx = ssmodel_exchange(0);
         return demo_app::signed_on_and_settled() && ssmodel_find_stock(asx, before.c_str());
       },
       [&] {
         // The scans and lists start here, with the frame loop's timers running.
         ASSERT_EQ(scan_init(), 0);
         wl = wlist_create("Codes", 9001);
         ASSERT_NE(nullptr, wl);
         for (const char *c : {"AAA", before.c_str(), "BBB"}) ASSERT_GE(wlist_add_item(wl, ssmodel_get_stock(asx, c)), 0);
         sim_notice n;
         n.a = 6;  // an alias: the code becomes the text
         n.b = 0;
         n.code = before;
         n.text = kNewCode;
         growbuf gb;
         growbuf_init(&gb, 64, 64);
         ASSERT_EQ(0, sim_msg_notice(&gb, n));
         EXPECT_EQ(1, sim_send(app.sim(), "alice", gb.data, gb.len, false));
         growbuf_free(&gb);
       }},
      {"the list holds the new code in the old one's place",
       [&] {
         P.diag.clear();
         for (const std::string &c : codes()) P.diag += c + " ";
         return codes() == std::vector<std::string>{"AAA", kNewCode, "BBB"};
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  start_cleanup();
  app.stop();
  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
}

}  // namespace
