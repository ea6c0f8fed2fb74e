// The index list: exchanges at creation and by permission (the global
// exchange always), setters that rebuild only on a change, and the scan it
// binds (class 96, the chosen exchanges, order and filter).
#include "windows/indexlist.h"

#include <gtest/gtest.h>

#include "gridtest.h"
#include "ssuser.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Indices : public Grid {
 protected:
  void TearDown() override {
    ssuser_set(1, 0, 0);
    Grid::TearDown();
  }
};

TEST_F(Indices, ExchangesFollowPermissionExceptTheGlobalOne) {
  ssuser_set(7, 0, 0x1);  // the first exchange only
  auto *l = indexlist_cast(indexlist_new(root));
  ASSERT_NE(l, nullptr);
  int want_new[4] = {1, 0, 0, 0};
  for (int i = 0; i < 4; i++) EXPECT_EQ(indexlist_get_exchange_shown(l, i), want_new[i]) << i;
  indexlist_include_exchange(l, 1);
  EXPECT_EQ(indexlist_get_exchange_shown(l, 1), 0) << "not permitted";
  indexlist_include_exchange(l, 2);
  EXPECT_EQ(indexlist_get_exchange_shown(l, 2), 1) << "the global exchange needs no permission";
  indexlist_clear_exchanges(l);
  for (int i = 0; i < 4; i++) EXPECT_EQ(indexlist_get_exchange_shown(l, i), 0) << i;
  indexlist_show_all_exchanges(l, 1);
  int want_all[4] = {1, 0, 1, 0};
  for (int i = 0; i < 4; i++) EXPECT_EQ(indexlist_get_exchange_shown(l, i), want_all[i]) << i;
}

TEST_F(Indices, SettersRebuildOnlyOnAChangeWhileShown) {
  ssuser_set(7, 0, 0x3);
  auto *l = indexlist_cast(indexlist_new(root));
  l->r = {0, 0, 600, 300};
  indexlist_set_order(l, 4);
  EXPECT_EQ(indexlist_rebuilds(l), 0u) << "hidden: stored only";
  widget_show(l);
  uint32_t n = indexlist_rebuilds(l);
  EXPECT_GE(n, 1u);
  scan *s = watchlist_get_scan(l);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->instr_filter, 96u);
  EXPECT_EQ(s->order, 4u);
  EXPECT_EQ(s->index_filter, 7u);
  EXPECT_EQ(s->exchanges[0], 1);
  EXPECT_EQ(s->exchanges[1], 1);
  EXPECT_EQ(s->exchanges[2], 0);
  indexlist_set_index_filter(l, 7);
  EXPECT_EQ(indexlist_rebuilds(l), n) << "the same filter again does nothing";
  indexlist_set_filter_bits(l, 0x1, 1);
  EXPECT_EQ(indexlist_rebuilds(l), n) << "a bit already set";
  indexlist_set_filter_bits(l, 0x2, 0);
  EXPECT_EQ(indexlist_rebuilds(l), n + 1);
  EXPECT_EQ(watchlist_get_scan(l)->index_filter, 5u);
  indexlist_set_reversed(l, 1);
  EXPECT_EQ(watchlist_get_scan(l)->reversed, 1);
  indexlist_hide_exchange(l, 1);
  EXPECT_EQ(watchlist_get_scan(l)->exchanges[1], 0);
  widget_hide(l);
}

TEST_F(Indices, UndoRestoresTheSettings) {
  ssuser_set(7, 0, 0x3);
  auto *l = indexlist_cast(indexlist_new(root));
  ASSERT_EQ(undo_push_indexlist(l), 0);
  indexlist_hide_exchange(l, 0);
  indexlist_include_exchange(l, 2);
  indexlist_set_index_filter(l, 3);
  indexlist_set_order(l, 9);
  indexlist_set_reversed(l, 1);
  ASSERT_EQ(undo_perform(), 0);
  int want[4] = {1, 1, 0, 0};
  for (int i = 0; i < 4; i++) EXPECT_EQ(indexlist_get_exchange_shown(l, i), want[i]) << i;
  EXPECT_EQ(indexlist_get_index_filter(l), 7u);
  EXPECT_EQ(indexlist_get_order(l), 1u);
  EXPECT_EQ(indexlist_get_reversed(l), 0u);
}

TEST_F(Indices, RowsAreTheExchangesIndices) {
  ssuser_set(7, 0, 0x1);
  for (const char *c : {"XJO", "XAO", "XTO"}) {
    ss_index *x = ssmodel_add_index(ex0, c);
    ssmodel_link_index_current(x);
    x->value = 1000;
    x->base = 990;
  }
  ss_index *nz = ssmodel_add_index(ssmodel_exchange(1), "NZ50");
  ssmodel_link_index_current(nz);
  nz->base = 100;
  auto *l = indexlist_cast(indexlist_new(root));
  l->r = {0, 0, 600, 300};
  widget_show(l);
  scan_refresh_now(watchlist_get_scan(l));
  std::vector<std::string> got;
  for (watchlist_row *r = l->rows; r; r = r->next) got.push_back(r->in->code);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"XAO", "XJO", "XTO"}));
  widget_hide(l);
}

}  // namespace
