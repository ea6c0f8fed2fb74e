// The search window: the keyword cut to 31 characters with its upper-case
// copy, the class bits of the seven flags, exchange permission (the global
// exchange included), copying, and setters coalesced into one rerun per
// frame through the gui's deferred calls.
#include "windows/searchwin.h"

#include <gtest/gtest.h>

#include <cstring>

#include "gridtest.h"
#include "ssuser.h"
#include "guitest.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Search : public Grid {
 protected:
  void TearDown() override {
    ssuser_set(1, 0, 0);
    Grid::TearDown();
  }
};

TEST_F(Search, Keyword) {
  auto *s = searchwin_cast(searchwin_new(root));
  searchwin_set_keyword(s, "abcdefghijklmnopqrstuvwxyz0123456789ABCD");
  EXPECT_EQ(strlen(searchwin_get_keyword(s)), 31u);
  EXPECT_STREQ(searchwin_get_keyword_upper(s), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  searchwin_set_keyword(s, "b");
  EXPECT_FALSE(searchwin_has_keyword(s)) << "one character is not enough";
  searchwin_set_keyword(s, "bh");
  EXPECT_TRUE(searchwin_has_keyword(s));
  searchwin_clear_keyword(s);
  EXPECT_STREQ(searchwin_get_keyword(s), "");
}

TEST_F(Search, ClassBitsAndCopy) {
  auto *s = searchwin_cast(searchwin_new(root));
  EXPECT_EQ(searchwin_class_bits(s), kScanDerivatives | kScanIndices) << "defaults";
  struct row {
    void (*set)(searchwin *, uint32_t);
    uint32_t bit;
  } rows[] = {{searchwin_set_all_venues, 256}, {searchwin_set_traded_only, 1}, {searchwin_set_quoted_only, 128},
              {searchwin_set_news_only, 4},   {searchwin_set_sensitive_news_only, 8}};
  uint32_t want = kScanDerivatives | kScanIndices;
  for (const row &r : rows) {
    r.set(s, 1);
    want |= r.bit;
    EXPECT_EQ(searchwin_class_bits(s), want) << r.bit;
  }
  searchwin_set_derivatives(s, 0);
  searchwin_set_indices(s, 0);
  EXPECT_EQ(searchwin_class_bits(s), 256u + 1 + 128 + 4 + 8);
  searchwin_set_keyword(s, "gold");
  auto *t = searchwin_cast(searchwin_new(root));
  searchwin_copy(t, s);
  EXPECT_EQ(searchwin_class_bits(t), searchwin_class_bits(s));
  EXPECT_STREQ(searchwin_get_keyword_upper(t), "GOLD");
}

TEST_F(Search, UndoRestoresTheSettings) {
  ssuser_set(7, 0, 0x3);
  auto *s = searchwin_cast(searchwin_new(root));
  searchwin_set_keyword(s, "gold");
  ASSERT_EQ(undo_push_searchwin(s), 0);
  searchwin_set_keyword(s, "iron");
  searchwin_set_derivatives(s, 0);
  searchwin_set_news_only(s, 1);
  searchwin_hide_exchange(s, 1);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(searchwin_get_keyword(s), "gold");
  EXPECT_EQ(searchwin_get_derivatives(s), 1u);
  EXPECT_EQ(searchwin_get_news_only(s), 0u);
  EXPECT_EQ(searchwin_get_exchange_shown(s, 1), 1);
}

TEST_F(Search, TheGlobalExchangeNeedsPermissionHere) {
  ssuser_set(7, 0, 0x1);
  auto *s = searchwin_cast(searchwin_new(root));
  searchwin_show_all_exchanges(s, 1);
  int want[4] = {1, 0, 0, 0};
  for (int i = 0; i < 4; i++) EXPECT_EQ(searchwin_get_exchange_shown(s, i), want[i]) << i;
  searchwin_include_exchange(s, 2);
  EXPECT_EQ(searchwin_get_exchange_shown(s, 2), 0);
}

// The gui (started before the suite's registry use: starting it restarts
// the class registry) runs the deferred calls.
class SearchLoop : public Search {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    Grid::SetUpTestSuite();
  }
};

TEST_F(SearchLoop, SettersCoalesceIntoOneRerunBeforeTheNextFrame) {
  auto *s = searchwin_cast(searchwin_new(root));
  s->r = {0, 0, 500, 200};
  widget_show(s);
  uint32_t before = s->reruns;
  for (const char *k : {"g", "go", "gol", "gold"}) searchwin_set_keyword(s, k);
  searchwin_set_traded_only(s, 1);
  EXPECT_EQ(s->reruns, before) << "nothing runs inside the setters";
  gui_run_promises(&G.before);
  EXPECT_EQ(s->reruns, before + 1);
  EXPECT_STREQ(watchlist_get_scan(s)->keyword, "gold");
  EXPECT_EQ(watchlist_get_scan(s)->instr_filter & kScanTraded, kScanTraded);
  gui_run_promises(&G.before);
  EXPECT_EQ(s->reruns, before + 1) << "one rerun only";
  widget_hide(s);
}

}  // namespace
