// The trading tables: start with each pool failing in turn, the broker
// check as a table of accounts (a negative broker number included), the
// lists emptied at stop, and the order list view's rows and columns.
#include "trading/trading.h"

#include <gtest/gtest.h>

#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"
#include "uitest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

TEST(Trading, EachPoolFailureStopsTheStart) {
  for (int n = 0; n < 4; n++) {
    trading_fail_pool(n);
    EXPECT_EQ(trading_init(), -1) << n;
    EXPECT_EQ(trading_add_order(0, "BHP"), nullptr) << "no pool is left made: " << n;
    trading_fini();
  }
  ASSERT_EQ(trading_init(), 0) << "the seam fails one start only";
  EXPECT_NE(trading_add_order(0, "BHP"), nullptr);
  trading_fini();
}

TEST(Trading, BrokerCheck) {
  struct Case {
    int32_t broker, state;
    bool missing;
  } cases[] = {
      {0, 0, false}, {2, 1, false}, {1, 0, true},   // slot 1 is empty
      {3, 0, true},  {-1, 0, true},                 // outside the table
      {7, -1, false},                               // not in use: not checked
  };
  ASSERT_EQ(trading_init(), 0);
  ASSERT_EQ(trading_set_broker(0, "first"), 0);
  ASSERT_EQ(trading_set_broker(2, "third"), 0);
  EXPECT_EQ(trading_set_broker(3, "none"), -1);
  EXPECT_EQ(trading_set_broker(-1, "none"), -1);
  for (const Case &c : cases) {
    ASSERT_NE(trading_add_account(c.broker, c.state, "acct"), nullptr);
    LogCapture log;
    int missing = trading_check_brokers();
    char line[64];
    snprintf(line, sizeof line, "can't find broker #%d", c.broker);
    EXPECT_EQ(log.has(line), c.missing) << c.broker << " " << c.state;
    trading_fini();
    ASSERT_EQ(trading_init(), 0);
    trading_set_broker(0, "first");
    trading_set_broker(2, "third");
    EXPECT_EQ(missing, c.missing ? 1 : 0);
  }
  trading_fini();
  EXPECT_EQ(trading_broker_at(0), nullptr) << "the broker records go at stop";
}

TEST(Trading, StopEmptiesTheLists) {
  ASSERT_EQ(trading_init(), 0);
  for (int i = 0; i < 5; i++) {
    trading_add_account(0, 0, "a");
    trading_add_item();
  }
  EXPECT_EQ(trading_accounts()->count, 5u);
  EXPECT_EQ(trading_items()->count, 5u);
  trading_fini();
  EXPECT_EQ(trading_accounts()->count, 0u);
  EXPECT_EQ(trading_items()->count, 0u);
  EXPECT_EQ(trading_accounts()->head, nullptr);
  // The account pool holds 10 a page and grows: 25 accounts are fine.
  ASSERT_EQ(trading_init(), 0);
  for (int i = 0; i < 25; i++) ASSERT_NE(trading_add_account(1, 0, "b"), nullptr);
  trading_fini();
}

class Orderlist : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(trading_init(), 0);
    bhp = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
  }
  void TearDown() override {
    trading_fini();
    ssmodel_fini();
    WidgetTest::TearDown();
  }
  ss_stock *bhp = nullptr;
};

TEST_F(Orderlist, OneRowPerOrderWhileShown) {
  trading_add_order(0, "BHP");
  trading_add_order(0, "NOPE");
  trading_add_order(1, "BHP");
  auto *v = static_cast<orderlist *>(orderlist_new(nullptr));
  v->r = {10, 20, 1300, 400};
  orderlist_rebuild(v);
  EXPECT_EQ(orderlist_row_count(v), 0) << "hidden: nothing is built";
  LogCapture log;
  widget_show(v);
  ASSERT_EQ(orderlist_row_count(v), 3);
  EXPECT_TRUE(log.has("orderlist 0 0"));
  EXPECT_EQ(v->rows->stock, bhp);
  EXPECT_EQ(v->rows->y, 20);
  EXPECT_EQ(v->rows->next->stock, nullptr) << "an unknown code has no stock";
  EXPECT_EQ(v->rows->next->y, 20 + v->row_height);
  EXPECT_EQ(v->rows->next->next->stock, nullptr) << "BHP is not on exchange 1";
  LogCapture log2;
  orderlist_set_view_a(v, 3);
  orderlist_set_view_b(v, 5);
  EXPECT_TRUE(log2.has("orderlist 0 3"));
  EXPECT_TRUE(log2.has("orderlist 5 3"));
  EXPECT_EQ(orderlist_row_count(v), 3) << "the settings do not filter";
  EXPECT_STREQ(orderlist_column_name(v, 10), "Account");
  EXPECT_STREQ(orderlist_column_name(v, 10 + 80 * 14 + 1), "Name of Stock");
  EXPECT_EQ(orderlist_column_name(v, 10 + 80 * 15), nullptr);
  EXPECT_EQ(orderlist_column_name(v, 5), nullptr);
  widget_delete(v);
}

}  // namespace
