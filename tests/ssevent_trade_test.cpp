// Trade events: the alert-code table, the value arithmetic against known
// answers (a product that overflows 64 bits included), the average price
// against a volume-weighted reference, cancels matched by number with all or
// only the latest trades held (the totals recomputed from a plain list of
// the live trades), cancels with totals, the requests a failed match makes,
// runs of trades, the rankings kept sorted, and brokers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lazyfree.h"
#include "log.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "ssevent.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

struct Alert {
  uint32_t code;
  void* object;
};
std::vector<Alert> g_alerts;
void on_alert(instr*, ss_time, uint32_t code, void* object) { g_alerts.push_back({code, object}); }

class Trades : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    g_alerts.clear();
    ssevent_set_alert_hook(on_alert);
    bhp = ssmodel_get_stock(asx, "BHP");
    ASSERT_NE(nullptr, bhp);
  }
  void TearDown() override {
    ssevent_set_alert_hook(nullptr);
    ssmodel_fini();
    ssclient_private_clear();
  }
  static ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 10, 2, 2014); }
  // A plain trade: sets the last, counts for high and low, volume and value,
  // and the second volume.
  static int trade(ss_stock* s, ss_time t, uint32_t price, uint64_t volume) {
    return ssevent_apply_trade(s, t, price, volume, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
  }
  static std::vector<uint32_t> requests() {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < ssclient_private_count(); i++) out.push_back(ssclient_private_entry(i)->kind);
    return out;
  }
  static std::vector<ss_trade*> listed(const ss_stock* s) {
    std::vector<ss_trade*> out;
    for (ss_trade* t = s->trades.head; t; t = t->next) out.push_back(t);
    return out;
  }
  ss_exchange* asx = nullptr;
  ss_stock* bhp = nullptr;
};

TEST_F(Trades, AlertCodeTable) {
  struct Row {
    const char* name;
    uint32_t last;
    uint32_t price;
    int sets_last;
    int high_low;
    uint32_t code;
  } rows[] = {
      {"below the last", 1000, 990, 1, 1, 0x160005},
      {"below the last, not for high and low", 1000, 990, 1, 0, 0x120005},
      {"above the last", 1000, 1010, 1, 1, 0x160003},
      {"above the last, not for high and low", 1000, 1010, 1, 0, 0x120003},
      {"at the last", 1000, 1000, 1, 1, 0x60000},
      {"at the last, not for high and low", 1000, 1000, 1, 0, 0x20000},
      {"without a price", 1000, kNoPrice, 1, 1, 0xA0000},
      {"not setting the last", 1000, 990, 0, 1, 0x20000},
      {"the first trade", 0, 990, 1, 1, 0x160003},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("T" + std::to_string(n++)).c_str());
    s->last = row.last;
    g_alerts.clear();
    ASSERT_EQ(0, ssevent_apply_trade(s, at(10, 0, 0), row.price, 10, row.sets_last, row.high_low, 1, 0, 0, 0, 0,
                                     nullptr, nullptr));
    ASSERT_EQ(1u, g_alerts.size());
    EXPECT_EQ(row.code, g_alerts[0].code);
    EXPECT_EQ(s->trades.tail, g_alerts[0].object);
  }
}

TEST_F(Trades, FoldingIntoTheStock) {
  ss_time t = at(10, 0, 0);
  ASSERT_EQ(0, trade(bhp, t, 1000, 100));
  EXPECT_EQ(1000u, bhp->open);
  EXPECT_EQ(1000u, bhp->last);
  EXPECT_EQ(1000u, bhp->high);
  EXPECT_EQ(1000u, bhp->low);
  ASSERT_EQ(0, trade(bhp, t + 5, 990, 50));
  ASSERT_EQ(0, trade(bhp, t + 9, 1020, 50));
  // A trade that does not count for high and low or set the last.
  ASSERT_EQ(0, ssevent_apply_trade(bhp, t + 12, 500, 7, 0, 0, 1, 0, 0, 0, 0, nullptr, nullptr));
  EXPECT_EQ(1000u, bhp->open);
  EXPECT_EQ(1020u, bhp->last);
  EXPECT_EQ(1020u, bhp->high);
  EXPECT_EQ(990u, bhp->low);
  EXPECT_EQ(207u, bhp->volume);
  EXPECT_EQ(200u, bhp->second_volume);
  EXPECT_EQ(t + 12, bhp->last_trade_time);
  EXPECT_EQ(t + 12, bhp->last_time);
  EXPECT_EQ(4u, bhp->trade_count);
  // Each trade listed as a kind-5 event naming it.
  std::vector<ss_trade*> from_events;
  for (ss_event* e = bhp->events.oldest; e; e = e->newer)
    if (e->kind == kEvTrade) from_events.push_back(static_cast<ss_trade*>(e->payload));
  EXPECT_EQ(listed(bhp), from_events);
  EXPECT_EQ(kTradeSetsLast | kTradeHighLow | kTradeVolume | kTradeSecond, listed(bhp)[0]->bits);
  EXPECT_EQ(kTradeVolume, listed(bhp)[3]->bits);
}

TEST_F(Trades, ValueArithmetic) {
  struct Row {
    const char* name;
    uint32_t price;
    uint64_t volume;
    uint32_t multiplier;
    uint64_t value;
  } rows[] = {
      {"multiplier 0 counts as 1", 1000, 100, 0, 1000},
      {"a negative multiplier counts as 1", 1000, 100, 0x80000000u, 1000},
      {"multiplier 5", 1000, 100, 5, 5000},
      {"cents rounded down", 1234, 1, 1, 12},
      {"a product past 64 bits", 4000000000u, 10000000000ull, 1, 400000000000000000ull},
      {"a value past 64 bits saturates", 0xFFFFFFFEu, UINT64_MAX, 0x7FFFFFFF, UINT64_MAX},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("V" + std::to_string(n++)).c_str());
    s->multiplier = row.multiplier;
    ASSERT_EQ(0, trade(s, at(10, 0, 0), row.price, row.volume));
    EXPECT_EQ(row.value, s->value);
    EXPECT_EQ(row.value, s->second_value);
  }
  // The numbered and special NZX codes keep their value out of the trades.
  ss_stock* special = ssmodel_get_stock(ssmodel_exchange(1), "ABCFX");
  ASSERT_EQ(0, trade(special, at(10, 0, 0), 1000, 100));
  EXPECT_EQ(0u, special->value);
  EXPECT_EQ(100u, special->volume);
}

TEST_F(Trades, AveragePriceIsVolumeWeighted) {
  std::mt19937 rng(7);
  uint64_t volume = 0;
  uint64_t cents = 0;  // each trade's value is kept in whole cents
  for (int i = 0; i < 50; i++) {
    uint32_t price = 900 + rng() % 300;
    uint64_t v = 1 + rng() % 5000;
    ASSERT_EQ(0, trade(bhp, at(10, 0, i), price, v));
    volume += v;
    cents += price * v / 100;
    // The average in hundredths of a cent, to the nearest.
    long double exact = static_cast<long double>(cents) * 100 / volume;
    ASSERT_LE(std::fabs(static_cast<long double>(bhp->average_price) - exact), 0.5L) << i;
  }
}

// The figures a list of live trades gives, folded the plain way.
struct Totals {
  uint32_t open = 0, last = 0, high = 0, low = 0;
  uint64_t volume = 0, value = 0;
  bool operator==(const Totals& o) const {
    return open == o.open && last == o.last && high == o.high && low == o.low && volume == o.volume && value == o.value;
  }
};

Totals fold(const std::vector<std::pair<uint32_t, uint64_t>>& live) {
  Totals t;
  for (const auto& [p, v] : live) {
    if (!t.open) t.open = p;
    t.last = p;
    t.high = std::max(t.high, p);
    t.low = t.low ? std::min(t.low, p) : p;
    t.volume += v;
    t.value += uint64_t(p) * v / 100;
  }
  return t;
}

Totals totals_of(const ss_stock* s) { return {s->open, s->last, s->high, s->low, s->volume, s->value}; }

TEST_F(Trades, CancelWithAllTradesRecomputes) {
  bhp->flags |= kRqTradesLoaded;
  bhp->close = 900;
  std::vector<std::pair<uint32_t, uint64_t>> live = {{1000, 10}, {1050, 20}, {980, 30}, {1010, 40}, {990, 50}};
  for (size_t i = 0; i < live.size(); i++) ASSERT_EQ(0, trade(bhp, at(10, 0, int(i)), live[i].first, live[i].second));
  // Numbers count the live trades, so cancelling 2 and then 0 takes the
  // third and the first.
  ASSERT_EQ(0, ssevent_cancel_trade(bhp, at(10, 1, 0), 2, 980, 30));
  live.erase(live.begin() + 2);
  EXPECT_EQ(fold(live), totals_of(bhp));
  ASSERT_EQ(0, ssevent_cancel_trade(bhp, at(10, 1, 1), 0, 1000, 10));
  live.erase(live.begin());
  EXPECT_EQ(fold(live), totals_of(bhp));
  EXPECT_EQ(3u, bhp->trade_count);
  EXPECT_EQ(kTradeCancelled, listed(bhp)[0]->bits & kTradeCancelled);
  EXPECT_EQ(kTradeCancelled, listed(bhp)[2]->bits & kTradeCancelled);
  // The cancel event names the trade and carries no totals.
  ss_event* e = bhp->events.newest;
  ASSERT_EQ(kEvTradeCancel, e->kind);
  auto* p = static_cast<ss_ev_trade_cancel*>(e->payload);
  EXPECT_EQ(listed(bhp)[0], p->trade);
  EXPECT_EQ(0u, p->last);
  EXPECT_EQ(0u, p->volume);
  EXPECT_EQ(at(10, 1, 1), p->time);
}

TEST_F(Trades, CancellingTheOnlyTradeLeavesThePreviousClose) {
  bhp->flags |= kRqTradesLoaded;
  bhp->close = 900;
  ASSERT_EQ(0, trade(bhp, at(10, 0, 0), 1000, 10));
  ASSERT_EQ(0, ssevent_cancel_trade(bhp, at(10, 0, 1), 0, 1000, 10));
  EXPECT_EQ(0u, bhp->last);
  EXPECT_EQ(0u, bhp->open);
  EXPECT_EQ(0u, bhp->second_volume);
  EXPECT_EQ(900u, bhp->average_price);
}

TEST_F(Trades, CancelWithTheLatestTradesOnly) {
  for (int i = 0; i < 20; i++) ASSERT_EQ(0, trade(bhp, at(10, 0, i), 1000 + i, 1 + i));
  bhp->trade_count = 120;  // the day's count; the list holds numbers 100 to 119
  ASSERT_EQ(0, ssevent_cancel_trade(bhp, at(10, 1, 0), 105, 1005, 6));
  std::vector<ss_trade*> all = listed(bhp);
  for (int i = 0; i < 20; i++) EXPECT_EQ(i == 5, (all[i]->bits & kTradeCancelled) != 0) << i;
  EXPECT_EQ(119u, bhp->trade_count);
  // The next number down is now the sixth live trade again.
  ASSERT_EQ(0, ssevent_cancel_trade(bhp, at(10, 1, 1), 104, 1004, 5));
  EXPECT_TRUE(all[4]->bits & kTradeCancelled);
  EXPECT_TRUE(requests().empty());
}

TEST_F(Trades, CancelsThatDoNotMatch) {
  struct Row {
    const char* name;
    bool all;
    int32_t number;
    uint32_t price;
    uint64_t volume;
    const char* error;  // logged, or null
  } rows[] = {
      {"price differs", true, 1, 1001, 20, "cancel trade mismatch #1 1001/1010 20/20"},
      {"volume differs", false, 1, 1010, 21, "cancel trade mismatch"},
      {"no such trade, all held", true, 7, 1010, 20, "can't find ASX X2 trade #7 to cancel"},
      {"no such trade, latest held", false, -40, 1010, 20, nullptr},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("X" + std::to_string(n++)).c_str());
    ASSERT_EQ(0, trade(s, at(10, 0, 0), 1000, 10));
    ASSERT_EQ(0, trade(s, at(10, 0, 1), 1010, 20));
    if (row.all) s->flags |= kRqTradesLoaded;
    Totals before = totals_of(s);
    uint32_t events = s->events.count;
    ssclient_private_clear();
    uint64_t lines = log_count();
    EXPECT_EQ(0, ssevent_cancel_trade(s, at(10, 1, 0), row.number, row.price, row.volume));
    if (row.error) {
      EXPECT_TRUE(logged_since(lines, row.error));
    }
    EXPECT_EQ(std::vector<uint32_t>{kReqEvents}, requests());
    EXPECT_EQ(before, totals_of(s));
    EXPECT_EQ(2u, s->trade_count);
    EXPECT_EQ(events, s->events.count);
    for (ss_trade* t : listed(s)) EXPECT_FALSE(t->bits & kTradeCancelled);
  }
}

TEST_F(Trades, CancelsWithTotals) {
  // With all trades held the client sees no need to fetch them again, so a
  // failed match asks only while the latest are held.
  struct Row {
    const char* name;
    bool all;
    int32_t number;
    uint32_t price;
    bool marked;
    bool event;
    std::vector<uint32_t> asked;
    const char* logged;
  } rows[] = {
      {"matching", true, 1, 1010, true, true, {}, nullptr},
      {"mismatch", false, 1, 1011, false, true, {kReqAllTrades}, "cancel trade mismatch #1 1011/1010"},
      {"missing, all held", true, 9, 1010, false, false, {}, "can't find ASX Y2 trade #9 to cancel"},
      {"missing, latest held", false, -50, 1010, false, false, {}, nullptr},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("Y" + std::to_string(n++)).c_str());
    ASSERT_EQ(0, trade(s, at(10, 0, 0), 1000, 10));
    ASSERT_EQ(0, trade(s, at(10, 0, 1), 1010, 20));
    if (row.all) s->flags |= kRqTradesLoaded;
    ssclient_private_clear();
    const ss_event* mark = s->events.newest;
    uint64_t lines = log_count();
    ASSERT_EQ(0, ssevent_cancel_trade_totals(s, at(10, 1, 0), row.number, row.price, 20, 1000, 1000, 1000, 1000, 10,
                                             100, 10, 100));
    EXPECT_EQ(row.marked, (listed(s)[1]->bits & kTradeCancelled) != 0);
    EXPECT_EQ(row.asked, requests());
    if (row.logged) {
      EXPECT_TRUE(logged_since(lines, row.logged));
    }
    // The totals are taken whatever the match.
    EXPECT_EQ((Totals{1000, 1000, 1000, 1000, 10, 100}), totals_of(s));
    EXPECT_EQ(1000u, s->average_price);
    EXPECT_EQ(1u, s->trade_count);
    if (row.event) {
      ASSERT_NE(mark, s->events.newest);
      auto* p = static_cast<ss_ev_trade_cancel*>(s->events.newest->payload);
      EXPECT_EQ(listed(s)[1], p->trade);
      EXPECT_EQ(1000u, p->last);
      EXPECT_EQ(100u, p->value);
    } else {
      EXPECT_EQ(mark, s->events.newest);
    }
  }
  // The day's count never wraps below 0.
  ss_stock* s = ssmodel_get_stock(asx, "EMPTY");
  ASSERT_EQ(0, ssevent_cancel_trade_totals(s, at(10, 1, 0), 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(0u, s->trade_count);
}

TEST_F(Trades, RunsOfTrades) {
  ss_stock* other = ssmodel_get_stock(asx, "CBA");
  EXPECT_EQ(-1, ssevent_multi_trade_add(bhp, 5));  // no run open
  ASSERT_EQ(0, ssevent_multi_trade_begin(bhp, at(10, 0, 0), 1000, 3));
  EXPECT_EQ(0, ssevent_multi_trade_add(bhp, 5));
  EXPECT_EQ(0, ssevent_multi_trade_add(bhp, 6));
  EXPECT_EQ(-1, ssevent_multi_trade_add(other, 7));  // not this run's stock
  EXPECT_EQ(0, ssevent_multi_trade_add(bhp, 7));
  EXPECT_EQ(0, ssevent_multi_trade_end(bhp));
  EXPECT_EQ(-1, ssevent_multi_trade_add(bhp, 8));  // the run is over
  std::vector<ss_trade*> all = listed(bhp);
  ASSERT_EQ(3u, all.size());
  for (ss_trade* t : all) {
    EXPECT_EQ(at(10, 0, 0), t->time);
    EXPECT_EQ(1000u, t->price);
    EXPECT_EQ(kTradeSetsLast | kTradeHighLow | kTradeVolume | kTradeSecond, t->bits);
  }
  EXPECT_EQ(18u, bhp->volume);
  EXPECT_EQ(nullptr, other->trades.head);
}

TEST_F(Trades, RankingsStaySorted) {
  asx->flags |= kExRankings;
  std::vector<ss_stock*> stocks;
  for (int i = 0; i < 12; i++) {
    ss_stock* s = ssmodel_get_stock(asx, ("R" + std::to_string(i)).c_str());
    s->close = 1000;
    ssmodel_stock_make_current(s);
    stocks.push_back(s);
  }
  using rank_fn = int (*)(const ss_stock*, const ss_stock*);
  const rank_fn compare[3] = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare, ssmodel_rank_value_compare};
  std::mt19937 rng(11);
  for (int step = 0; step < 300; step++) {
    ss_stock* s = stocks[rng() % stocks.size()];
    uint32_t price = 900 + rng() % 200;
    if (step % 7 == 6)
      ASSERT_EQ(
          0, ssevent_apply_quote(s, at(10, 0, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, price, kNoVolume, kNoVolume));
    else
      ASSERT_EQ(0, trade(s, at(10, 0, step % 60), price, 1 + rng() % 1000));
    for (int r = 0; r < 3; r++) {
      std::vector<ss_stock*> order;
      for (ss_stock* c = asx->rank[r].head; c; c = c->rank[r].next) {
        EXPECT_EQ(order.empty() ? nullptr : order.back(), c->rank[r].prev);
        order.push_back(c);
      }
      ASSERT_EQ(stocks.size(), order.size()) << "ranking " << r;
      ASSERT_EQ(order.size(), asx->rank[r].count);
      ASSERT_EQ(order.back(), asx->rank[r].tail);
      ASSERT_TRUE(std::is_sorted(order.begin(), order.end(),
                                 [&](const ss_stock* a, const ss_stock* b) { return compare[r](a, b) < 0; }))
          << "ranking " << r << " after step " << step;
    }
  }
}

TEST_F(Trades, BrokersAndDetails) {
  asx->flags |= kExBrokers;
  uint64_t lines = log_count();
  EXPECT_EQ(-1, ssevent_apply_trade(bhp, at(10, 0, 0), 1000, 5, 1, 1, 1, 1, 0, 0, 0, nullptr, "SB1"));
  EXPECT_TRUE(logged_since(lines, "expecting a buy broker code"));
  EXPECT_EQ(-1, ssevent_apply_trade(bhp, at(10, 0, 0), 1000, 5, 1, 1, 1, 1, 0, 0, 0, "BB1", nullptr));
  EXPECT_TRUE(logged_since(lines, "expecting a sell broker code"));
  EXPECT_EQ(2u, bhp->trades.count);  // refused trades stay listed
  ASSERT_EQ(0, ssevent_apply_trade(bhp, at(10, 0, 1), 1000, 5, 1, 1, 1, 1, 0x44, 777, 20140207, "BB1", "SB1"));
  ss_trade* t = bhp->trades.tail;
  EXPECT_EQ(kTradeConditions | kTradeSecondValue | kTradeDate,
            t->bits & (kTradeConditions | kTradeSecondValue | kTradeDate));
  const ss_trade_detail* d = ssmodel_trade_detail(t);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(0x44u, d->conditions);
  EXPECT_EQ(777u, d->second_value);
  EXPECT_EQ(20140207u, d->date);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ssbroker_find("BB1")), d->buyer);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ssbroker_find("SB1")), d->seller);
  // Without brokers, conditions and dates there is no detail.
  asx->flags &= ~kExBrokers;
  ASSERT_EQ(0, trade(bhp, at(10, 0, 2), 1000, 5));
  EXPECT_EQ(nullptr, ssmodel_trade_detail(bhp->trades.tail));
}

// A stock whose depth is kept as level totals gets no broker fields from the
// wire, so its trades stand without brokers even where the exchange has them;
// codes that are given are still kept.
TEST_F(Trades, OutOfOrderStockTradesNeedNoBrokers) {
  asx->flags |= kExBrokers;
  ss_stock* s = ssmodel_get_stock(asx, "ANZ");
  ssevent_set_out_of_order(s);
  LogCapture log;
  ASSERT_EQ(0, ssevent_apply_trade(s, at(10, 0, 0), 1000, 5, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
  ASSERT_EQ(0, ssevent_apply_trade(s, at(10, 0, 1), 1010, 7, 1, 1, 1, 1, 0, 0, 0, "", ""));
  EXPECT_FALSE(log.has("broker code"));
  EXPECT_EQ(2u, s->trades.count);
  EXPECT_EQ(1010u, s->last);
  EXPECT_EQ(12u, s->volume);
  EXPECT_EQ(nullptr, ssmodel_trade_detail(s->trades.tail));
  ASSERT_EQ(0, ssevent_apply_trade(s, at(10, 0, 2), 1010, 1, 1, 1, 1, 1, 0, 0, 0, "OB1", "OS1"));
  const ss_trade_detail* d = ssmodel_trade_detail(s->trades.tail);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ssbroker_find("OB1")), d->buyer);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(ssbroker_find("OS1")), d->seller);
  // An ordinary stock of the same exchange still must name both.
  EXPECT_EQ(-1, ssevent_apply_trade(bhp, at(10, 0, 3), 1000, 5, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(log.has("expecting a buy broker code"));
}

TEST_F(Trades, VaryingPricesMarkRecentTradesLoaded) {
  for (int i = 0; i < 9; i++) ASSERT_EQ(0, trade(bhp, at(10, 0, i), 1000 + 10 * (i % 2), 1));
  EXPECT_FALSE(bhp->flags & kRqRecentLoaded);
  ASSERT_EQ(0, trade(bhp, at(10, 0, 9), 1050, 1));
  EXPECT_TRUE(bhp->flags & kRqRecentLoaded);
  // A scratch copy being filled is left alone.
  ss_stock* s = ssmodel_get_stock(asx, "NAB");
  s->flags |= kInLoading;
  for (int i = 0; i < 12; i++) ASSERT_EQ(0, trade(s, at(10, 0, i), 1000 + 10 * (i % 2), 1));
  EXPECT_FALSE(s->flags & kRqRecentLoaded);
}

}  // namespace
