// Exchange days and day records: records kept in date order with weekend
// days complete, the day-record switch, storing a scratch copy's events and
// trades into a day (the scratch left empty, a day with all its events keeps
// its trades), the summary of a day's trades against a plain recount, and
// the exchange reset through the client's hook.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "dectrades.h"
#include "lazyfree.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "testlog.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

ss_time day(int d, int m = 3) { return sstime_pack_date(d, m, 2014); }

class Days : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, ssmodel_init(12));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ssmodel_new_exchange(i, 0x112));
    ex = ssmodel_exchange(0);
    s = ssmodel_get_stock(ex, "BHP");
    scratch = ssmodel_scratch_stock_for(1, ex, "BHP");
    ASSERT_NE(nullptr, scratch);
  }
  void TearDown() override {
    ssevent_enable_day_records(0);
    ssevent_set_reset_hook(nullptr);
    ssmodel_fini();
  }
  // A trade on the scratch with its flag byte.
  void trade(ss_time t, uint32_t price, uint64_t volume, uint64_t bits) {
    ss_trade* x = ssmodel_add_trade(scratch, t, price, volume);
    ASSERT_NE(nullptr, x);
    x->bits = bits;
  }
  ss_exchange* ex;
  ss_stock* s;
  ss_stock* scratch;
};

TEST_F(Days, RecordsLieInDateOrderAndWeekendsAreComplete) {
  for (int d : {3, 1, 2}) ASSERT_NE(nullptr, ssevent_get_day(s, day(d)));
  std::vector<ss_time> order;
  for (const ss_day* d = s->days.head; d; d = d->next) order.push_back(d->date);
  EXPECT_EQ((std::vector<ss_time>{day(1), day(2), day(3)}), order);
  EXPECT_EQ(3u, s->days.count);
  // 8 March 2014 is a Saturday.
  EXPECT_EQ(nullptr, ssevent_find_day(s, day(8)));
  ss_day* sat = ssevent_get_day(s, day(8));
  ASSERT_NE(nullptr, sat);
  EXPECT_EQ(0x18u, sat->flags);
  EXPECT_EQ(sat, ssevent_find_day(s, day(8)));
  EXPECT_EQ(0u, ssevent_get_day(s, day(3))->flags);
  EXPECT_EQ(0x18u, ssevent_mark_day_complete(s, day(3))->flags);
  // The switch: finding a missing day makes it only while it is on.
  EXPECT_EQ(-1, ssevent_remove_day(s, day(20)));
  ssevent_enable_day_records(1);
  EXPECT_NE(nullptr, ssevent_find_day(s, day(21)));
  EXPECT_EQ(0, ssevent_remove_day(s, day(21)));
  EXPECT_EQ(4u, s->days.count);
}

TEST_F(Days, StoringTradesLeavesTheScratchEmpty) {
  ssevent_enable_day_records(1);
  trade(day(4) + 36000, 1000, 100, 0x8E);
  trade(day(4) + 36060, 1010, 200, 0x8E);
  ss_day_bars* bars = ssevent_new_day_record();
  bars->count = 1;
  ASSERT_EQ(0, ssevent_store_day_trades(s, day(4), scratch, bars));
  ss_day* d = ssevent_find_day(s, day(4));
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(2u, d->trades.count);
  EXPECT_EQ(bars, d->bars);
  EXPECT_EQ(0u, scratch->trades.count);
  EXPECT_EQ(nullptr, scratch->trades.head);
  EXPECT_EQ(kDayFlagTradesLoaded, d->flags);
  EXPECT_EQ(1000u, d->open);
  EXPECT_EQ(1010u, d->last);
  EXPECT_EQ(300u, d->volume);
  // A second store replaces the trades (the old ones are freed later).
  trade(day(4) + 37000, 990, 50, 0x8E);
  ASSERT_EQ(0, ssevent_store_day_trades(s, day(4), scratch, nullptr));
  EXPECT_EQ(1u, d->trades.count);
  EXPECT_EQ(bars, d->bars) << "no new bars: the day keeps its own";
}

TEST_F(Days, ADayWithAllItsEventsKeepsItsTrades) {
  ss_day* d = ssevent_get_day(s, day(5));
  d->flags = kDayFlagEventsLoaded | kDayFlagTradesRequested | kDayFlagEventsRequested;
  trade(day(5) + 36000, 1000, 100, 0x8E);
  LogCapture log;
  ASSERT_EQ(0, ssevent_store_day_trades(s, day(5), scratch, nullptr));
  EXPECT_TRUE(log.has("not replacing BHP 2014-03-05 trades because it has all events"));
  EXPECT_EQ(0u, d->trades.count);
  EXPECT_EQ(0u, scratch->trades.count);
  // Storing events takes the trades too and clears both pending requests.
  trade(day(5) + 36000, 1000, 100, 0x8E);
  ASSERT_EQ(0, ssevent_store_day_events(s, day(5), scratch, nullptr));
  EXPECT_EQ(1u, d->trades.count);
  EXPECT_EQ(kDayFlagEventsLoaded | kDayFlagTradesLoaded, d->flags);
  // Without a record and with the switch off there is nowhere to store.
  LogCapture log2;
  EXPECT_EQ(-1, ssevent_store_day_events(s, day(6), scratch, nullptr));
  EXPECT_TRUE(log2.has("prevday BHP 2014-03-06 not available"));
}

// The summary against a plain recount over the same rows.
TEST_F(Days, TheSummarySkipsCancelledTradesAndPriceZeroLows) {
  struct Row {
    uint32_t price;
    uint64_t volume;
    uint64_t bits;
  };
  struct Case {
    const char* name;
    std::vector<Row> rows;
    uint32_t open, high, low, last;
    uint64_t volume;
  } cases[] = {
      {"plain", {{1000, 100, 0x8E}, {1010, 50, 0x8E}, {990, 10, 0x8E}}, 1000, 1010, 990, 990, 160},
      {"cancelled", {{1000, 100, 0x8E}, {2000, 500, 0x8F}, {500, 5, 0x8F}}, 1000, 1000, 1000, 1000, 100},
      {"price 0", {{0, 100, 0x8E}, {1000, 50, 0x8E}}, 0, 1000, 1000, 1000, 150},
      {"no last", {{1000, 100, 0x0C}}, 0, 1000, 1000, 0, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ss_day d = {};
    ss_stock* holder = ssmodel_get_stock(ex, "ROWS");
    ssmodel_free_trades(holder);
    for (const Row& r : c.rows) ssmodel_add_trade(holder, day(7) + 36000, r.price, r.volume)->bits = r.bits;
    d.trades = holder->trades;
    ssevent_summarise_day(nullptr, &d);
    EXPECT_EQ((std::vector<uint64_t>{c.open, c.high, c.low, c.last, c.volume}),
              (std::vector<uint64_t>{d.open, d.high, d.low, d.last, d.volume}));
  }
}

ss_exchange* g_reset_ex;
ss_time g_reset_date;
void on_reset(ss_exchange* e, ss_time date) {
  g_reset_ex = e;
  g_reset_date = date;
}

TEST_F(Days, ExchangeDays) {
  ASSERT_EQ(0, ssevent_exchange_begin(ex, day(10)));
  EXPECT_EQ(day(10), ex->date);
  EXPECT_TRUE(ex->flags & kExBatch);
  ASSERT_EQ(0, ssevent_exchange_end(ex));
  EXPECT_FALSE(ex->flags & kExBatch);
  ssevent_set_reset_hook(on_reset);
  ASSERT_EQ(0, ssevent_exchange_reset(ex, day(11), 0, 36000));
  EXPECT_EQ(ex, g_reset_ex);
  EXPECT_EQ(day(11), g_reset_date);
  EXPECT_EQ(day(11), ex->date);
  EXPECT_EQ(36000, ex->offset);
}

}  // namespace
