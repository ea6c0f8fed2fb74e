// A window's role changes and titles over a model built in the test: a
// window without an exchange takes the default one; leaving the watchlist
// role lets the grid's list go; an unnamed list titles its window "New
// Watchlist" or "New Smartlist"; a feed window without a feed is "RSS";
// two watchlist windows are equal exactly when their lists are; an alerts
// window's price trend says whether any alert has fired.
#include <gtest/gtest.h>

#include "action.h"
#include "gridtest.h"
#include "lib/scan.h"
#include "lib/wlist.h"
#include "windows/alertlist.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class WindowRoles : public Grid {
 protected:
  void TearDown() override {
    window_destroy_all();
    alerts_fini();
    Grid::TearDown();
  }
  static watchlist *list_of(window *w) { return static_cast<watchlist *>(window_get_content(w, kRoleWatchlist)); }
};

TEST_F(WindowRoles, LeavingTheWatchlistRoleLetsTheListGoAndUnnamedListsAreTitled) {
  window *w = window_new(nullptr, 0);
  EXPECT_EQ(w->exchange, nullptr);
  window_set_role(w, kRoleAlerts);
  EXPECT_EQ(w->exchange, action_default_exchange_record()) << "the default exchange when it had none";
  window_set_role(w, kRoleWatchlist);
  EXPECT_EQ(w->exchange, nullptr) << "a list has no exchange of its own";
  EXPECT_STREQ(window_title_text(w), "") << "no list yet";

  wlist *unnamed = wlist_create(nullptr, 0);
  ASSERT_NE(unnamed, nullptr);
  wlist_add_item(unnamed, stock("AAA"));
  ASSERT_EQ(window_set_list_source(w, unnamed), 0);
  EXPECT_STREQ(window_title_text(w), "New Watchlist");
  wlist *named = wlist_create("Banks", 0);
  ASSERT_EQ(window_set_list_source(w, named), 0);
  EXPECT_STREQ(window_title_text(w), "Banks");

  scan *s = scan_new_temp();
  ASSERT_NE(s, nullptr);
  scan_set_name(s, nullptr);
  ASSERT_EQ(window_set_wlist(w, s), 0);
  EXPECT_STREQ(window_title_text(w), "New Smartlist");
  ASSERT_NE(watchlist_get_scan(list_of(w)), nullptr);

  window_set_role(w, kRoleDepth);
  EXPECT_EQ(watchlist_get_scan(list_of(w)), nullptr) << "the grid gave its list up with the role";

  window_set_role(w, kRoleRss);
  EXPECT_STREQ(window_title_text(w), "RSS") << "a feed window without a feed";
  scan_delete(s);
}

TEST_F(WindowRoles, WatchlistWindowsAreEqualWhenTheirListsAre) {
  scan *s = scan_new_temp();
  ASSERT_NE(s, nullptr);
  window *a = window_new(nullptr, 0), *b = window_new(nullptr, 0), *c = window_new(nullptr, 0);
  for (window *w : {a, b, c}) window_set_role(w, kRoleWatchlist);
  EXPECT_FALSE(window_equal(a, b)) << "neither has a list";
  ASSERT_EQ(window_set_wlist(a, s), 0);
  ASSERT_EQ(window_set_wlist(b, s), 0);
  EXPECT_TRUE(window_equal(a, b)) << "copies of one list";
  EXPECT_FALSE(window_equal(a, c)) << "one has no list";
  scan_set_order(watchlist_get_scan(list_of(b)), s->order + 1);
  EXPECT_FALSE(window_equal(a, b)) << "another order";
  scan_delete(s);
}

TEST_F(WindowRoles, AnAlertsWindowsTrendSaysWhetherAnAlertFired) {
  ASSERT_EQ(alerts_init(), 0);
  window *w = window_new(nullptr, 0);
  window_set_role(w, kRoleAlerts);
  EXPECT_EQ(window_price_trend(w), -1) << "no alerts";
  ASSERT_EQ(alerts_add_default(stock("AAA")), 0);
  EXPECT_EQ(window_price_trend(w), -1) << "none fired";
  alerts_find(stock("AAA"))->low_fired = sstime_pack(0, 0, 11, 2, 3, 2026);
  EXPECT_EQ(window_price_trend(w), 3);
}

}  // namespace
