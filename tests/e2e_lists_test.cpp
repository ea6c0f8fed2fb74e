// End to end: whole lists of one stock between the simulator and the client.
//
// A window opens a stock the client holds nothing of while the market moves
// it: the request for its queues and trades is answered by the simulator
// from its own books, and the client's book (orders with their brokers) and
// trade list must end equal to the simulator's, through more live changes.
// Then a model reset in the middle of the stream, followed by a replay from
// the start: the client must rebuild every book without stalling a side and
// asking for partial queues, exactly as a fresh client does, and end equal to
// the simulator's books.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "log.h"
#include "plat.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testsimclient.h"
#include "testbook.h"
#include "testclock.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

// The client's book and trades against the simulator's: order by order with
// brokers, best prices, and trade by trade with brokers.
void expect_same_lists(const ss_stock* s, const sim_stock_ref& r, bool trades) {
  SCOPED_TRACE(r.code);
  ASSERT_NE(nullptr, s);
  for (int side = 0; side < 2; side++) {
    SCOPED_TRACE(side ? "offers" : "bids");
    expect_same_book(r.sides[side], client_book(s, side));
    for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
      uint32_t n = 0;
      for (const ss_depth_order* o = l->orders; o; o = o->next) n++;
      EXPECT_EQ(l->count, n);
    }
    EXPECT_EQ(r.top(side), side ? s->offer : s->bid);
  }
  EXPECT_EQ(r.last, s->last);
  EXPECT_EQ(r.volume, s->volume);
  if (!trades) return;
  std::vector<sim_trade> got;
  for (const ss_trade* t = s->trades.head; t; t = t->next) {
    sim_trade v{t->time, t->price, t->volume, "", ""};
    if (const ss_trade_detail* d = t->detail) {
      v.buyer = d->buyer ? reinterpret_cast<const ss_broker*>(uintptr_t(d->buyer))->code : "";
      v.seller = d->seller ? reinterpret_cast<const ss_broker*>(uintptr_t(d->seller))->code : "";
    }
    got.push_back(v);
  }
  ASSERT_EQ(r.trade_list.size(), got.size());
  for (size_t i = 0; i < got.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.trade_list[i].time, got[i].time);
    EXPECT_EQ(r.trade_list[i].price, got[i].price);
    EXPECT_EQ(r.trade_list[i].volume, got[i].volume);
    EXPECT_EQ(r.trade_list[i].buyer, got[i].buyer);
    EXPECT_EQ(r.trade_list[i].seller, got[i].seller);
  }
}

size_t count_kind(sim_server* sim, size_t from, int32_t kind) {
  const std::vector<sim_entry> t = sim_transcript(sim);
  size_t n = 0;
  for (size_t i = from; i < t.size(); i++) n += t[i].kind == kind;
  return n;
}

class ListsConcurrency : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim));
    ASSERT_EQ(0, sim_add_exchange(sim, test_exchange(0, at(9, 0, 0), 50, true)));
    sim_market_options o;
    o.index = 0;
    o.brokers = true;
    o.date = kDay;
    market = sim_market_create(o);
    for (uint32_t i = 0; i < 10; i++) codes.push_back(sim_market_code(40 + i * 11));
    for (const std::string& c : codes) ASSERT_EQ(0, sim_add_instrument(sim, 0, c.c_str()));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, kOpen));

    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ssclient_set_yield(2000, 1);
  }
  void TearDown() override {
    stop(10000);
    sim_destroy(sim);
    ssclient_fini();
    sim_market_destroy(market);
  }
  void pump() {
    core_lock lock;
    ssclient_deliver();
  }
  void units(int n, int ops, uint64_t seed, const std::vector<std::string>& on) {
    for (int u = 0; u < n; u++) {
      ASSERT_EQ(ops, sim_market_script(market, seed + uint64_t(u), on, ops, &t));
      ASSERT_EQ(0, sim_market_flush(market, sim));
      pump();
    }
  }
  void start() {
    ASSERT_NO_FATAL_FAILURE(start_sim_until_online());
  }
  bool caught_up() {
    pump();
    return ssproto_exchange_position(0) == sim_stream_length(sim, 0);
  }

  static constexpr const char* kOpen = "OPEN";
  sim_market* market = nullptr;
  std::vector<std::string> codes;
  ss_time t = at(10, 0, 0);
};

TEST_F(ListsConcurrency, OpeningAStockLoadsItsQueuesAndTrades) {
  units(4, 60, 10, codes);
  ASSERT_NO_FATAL_FAILURE(start());
  units(6, 40, 300, {kOpen});
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  ss_stock* open;
  {
    core_lock lock;
    open = ssmodel_find_stock(ssmodel_exchange(0), kOpen);
    ASSERT_NE(nullptr, open);
  }
  // The client drops what it holds of the stock (as when its lists were never
  // loaded): only the answers can bring the book and the trades back.
  const size_t before = sim_transcript(sim).size();
  {
    core_lock lock;
    ASSERT_GT(open->trades.count, 0u);
    ASSERT_EQ(0, ssevent_clear_depth(open, 0, 2));
    ssmodel_free_trades(open);
    open->flags &= ~kInRequestBits;
    ASSERT_EQ(0, ssclient_request_stock_events(open, 1));
  }
  ASSERT_GE(sim_wait_entry(sim, kReqQueuesAllTrades, before, 10000, nullptr), 0);
  ASSERT_TRUE(wait_for(
      [&] {
        pump();
        core_lock lock;
        const uint32_t want = kRqBidLoaded | kRqOfferLoaded | kRqTradesLoaded;
        return (open->flags & want) == want;
      },
      10000));
  units(6, 40, 700, {kOpen, codes[0]});
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  core_lock lock;
  expect_same_lists(open, *sim_market_stock(market, kOpen), true);
  EXPECT_GT(sim_market_stock(market, kOpen)->trade_list.size(), 5u);
  EXPECT_GT(open->levels[0] ? open->levels[0]->count : 0u, 0u);
}

TEST_F(ListsConcurrency, AResetMidStreamRebuildsEveryBookWithoutStalling) {
  units(6, 80, 20, codes);
  ASSERT_NO_FATAL_FAILURE(start());
  units(6, 60, 200, codes);
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));

  // Reset the model and restart the streams, as the client does after it
  // gave up on a link; the next connection replays the streams from the start.
  const size_t before = sim_transcript(sim).size();
  const uint64_t lines = log_count();
  ssclient_set_reset_flags(kResetAfterGiveUp);
  ASSERT_TRUE(wait_for([] { return ssclient_reset_flags() == 0; }, 10000));
  ASSERT_TRUE(wait_for([this] { return ssproto_exchange_position(0) == kProtoPositionNone; }, 10000));
  ASSERT_EQ(1, sim_disconnect(sim, nullptr));
  ASSERT_TRUE(wait_for([this] { return sim_get_stats(sim).logins == 2; }, 20000));
  units(6, 60, 500, codes);
  ASSERT_TRUE(wait_for([this] { return caught_up() && ssclient_is_online(); }, 20000));

  EXPECT_EQ(0u, count_kind(sim, before, kReqPartialBid) + count_kind(sim, before, kReqPartialOffer))
      << "partial queues were asked for";
  EXPECT_FALSE(logged_since(lines, "stalling"));
  core_lock lock;
  for (const std::string& code : sim_market_codes(market))
    expect_same_lists(ssmodel_find_stock(ssmodel_exchange(0), code.c_str()), *sim_market_stock(market, code.c_str()),
                      false);
}

}  // namespace

namespace {

// A side the client does not hold whole runs empty under a delete: the
// client stalls it and asks for the partial queue, the simulator answers
// from its books, and the side is whole again.
TEST_F(ListsConcurrency, AStalledSideRefillsFromThePartialQueue) {
  units(2, 40, 30, codes);
  for (uint32_t i = 0; i < 12; i++) ASSERT_GT(sim_market_add(market, kOpen, t, 0, 2000 - 10 * (i % 6), 100 + i), 0);
  ASSERT_EQ(0, sim_market_flush(market, sim));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  ss_stock* open;
  {
    core_lock lock;
    open = ssmodel_find_stock(ssmodel_exchange(0), kOpen);
    ASSERT_NE(nullptr, open);
    ASSERT_EQ(0, ssevent_clear_depth(open, 0, 0));
    open->flags &= ~(kRqBidLoaded | kRqEventsLoaded);  // the bids are not held whole any more
  }
  const size_t before = sim_transcript(sim).size();
  ASSERT_EQ(int(kSimDepthDeleteHead), sim_market_delete(market, kOpen, t, 0, 1));
  ASSERT_EQ(0, sim_market_flush(market, sim));
  ASSERT_GE(sim_wait_entry(sim, kReqPartialBid, before, 10000, nullptr), 0);
  ASSERT_TRUE(wait_for(
      [&] {
        pump();
        core_lock lock;
        return (open->flags & kRqBidLoaded) != 0;
      },
      10000));
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  core_lock lock;
  expect_same_lists(open, *sim_market_stock(market, kOpen), false);
}

}  // namespace
