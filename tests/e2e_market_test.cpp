// End to end: the market simulator streams a scripted market (several
// stocks on two exchanges, depth changes of every kind, trades and quotes)
// and the client's model must end up holding exactly the simulator's own
// reference books and figures.
//
// MarketDecode feeds the simulator's bytes to the dispatcher in pieces cut at
// random places, for several seeds and with and without brokers and speed
// numbers. MarketConcurrency runs the real io thread against the simulator on
// loopback, through sign-on, catch-up and live data, while this thread plays
// the user interface: it delivers changes to a registered callback, which
// must see every trade and quote of every stock, in order, and the depth bit
// of every stock whose book moved.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "plat.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "sspriority.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testsimclient.h"
#include "testclock.h"
#include "testmodel.h"

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

// The client's stock against the simulator's reference: both books order by
// order, best prices, quote prices, volume, trade count, price reference.
void expect_same_stock(const ss_stock* s, const sim_stock_ref& r) {
  SCOPED_TRACE(r.code);
  ASSERT_NE(nullptr, s);
  for (int side = 0; side < 2; side++) {
    SCOPED_TRACE(side ? "offers" : "bids");
    std::vector<sim_level> got;
    for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
      sim_level v;
      v.price = l->price;
      uint64_t total = 0;
      for (const ss_depth_order* o = l->orders; o; o = o->next) {
        v.orders.push_back(o->volume);
        total += o->volume;
      }
      EXPECT_EQ(l->count, v.orders.size());
      EXPECT_EQ(l->volume, total);
      got.push_back(v);
    }
    ASSERT_EQ(r.sides[side].size(), got.size());
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(r.sides[side][i].price, got[i].price) << "level " << i;
      EXPECT_EQ(r.sides[side][i].orders, got[i].orders) << "level " << i;
    }
    EXPECT_EQ(r.top(side), side ? s->offer : s->bid);
  }
  EXPECT_EQ(r.close, s->close);
  EXPECT_EQ(r.open, s->open);
  EXPECT_EQ(r.high, s->high);
  EXPECT_EQ(r.low, s->low);
  EXPECT_EQ(r.last, s->last);
  EXPECT_EQ(r.volume, s->volume);
  EXPECT_EQ(r.trades, s->trades.count);
  EXPECT_EQ(r.price_ref, s->price_ref);
}

// A book deep enough for the 16-bit positions (types 34, 35, 38, 39): 300
// orders a side, then amends and deletes far down both queues.
void deep_book(sim_market* m, const char* code, ss_time* t) {
  for (int side = 0; side < 2; side++) {
    for (uint32_t i = 0; i < 300; i++) {
      const uint32_t price = side ? 20100 + 100 * (i % 6) : 19900 - 100 * (i % 6);
      ASSERT_GT(sim_market_add(m, code, *t, side, price, 100 + i), 0);
    }
    ASSERT_EQ(side ? 39 : 38, sim_market_amend(m, code, *t, side, 280, 7777));
    ASSERT_EQ(side ? 35 : 34, sim_market_delete(m, code, *t, side, 299));
    ASSERT_EQ(side ? 20 : 7, sim_market_delete(m, code, *t, side, 255));
    *t = sstime_add_seconds(*t, 1);
  }
}

std::vector<std::string> codes_from(uint32_t first, uint32_t n) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < n; i++) out.push_back(sim_market_code(first + i * 37));
  return out;
}

// ---------------------------------------------------------------------------
// The simulator's bytes straight into the dispatcher.

class MarketDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(short_sleep);
  }
  void TearDown() override { ssclient_fini(); }
};

TEST_F(MarketDecode, ModelEqualsTheSimulatorsBooks) {
  struct variant {
    uint64_t seed;
    bool brokers;
    bool speeds;
  };
  const variant variants[] = {{1, false, false}, {2, true, false}, {3, false, true}, {4, true, true}};
  std::vector<uint32_t> types(256, 0);
  for (const variant& v : variants) {
    SCOPED_TRACE(testing::Message() << "seed " << v.seed << " brokers " << v.brokers << " speeds " << v.speeds);
    TearDown();
    SetUp();
    sim_market_options o;
    o.index = 0;
    o.brokers = v.brokers;
    o.speeds = v.speeds;
    sim_market* m = sim_market_create(o);

    // The exchange's selection and date (with its broker flag), then the
    // market, in units of a few dozen messages.
    growbuf gb;
    growbuf_init(&gb, 256, 256);
    ASSERT_EQ(0, sim_msg_select(&gb, 0));
    ASSERT_EQ(0, sim_msg_exchange_date(&gb, 0, kDay, at(9, 0, 0), 36000, v.brokers));
    Bytes stream(gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    ss_time t = at(10, 0, 0);
    const std::vector<std::string> codes = codes_from(v.seed * 100, 12);
    deep_book(m, "DEEP", &t);
    sim_market_take(m, &stream);
    for (int unit = 0; unit < 40; unit++) {
      ASSERT_EQ(60, sim_market_script(m, v.seed * 1000 + unit, codes, 60, &t));
      sim_market_take(m, &stream);
    }
    const std::vector<uint32_t>& counts = sim_market_type_counts(m);
    for (size_t i = 0; i < counts.size(); i++) types[i] += counts[i];

    // Fed in pieces of 1 to 64 bytes: each call uses the complete messages
    // and the rest waits for more bytes.
    uint64_t cut = v.seed;
    Bytes pending;
    size_t at_byte = 0;
    while (at_byte < stream.size()) {
      cut = cut * 6364136223846793005ull + 1442695040888963407ull;
      const size_t n = std::min<size_t>(1 + (cut >> 33) % 64, stream.size() - at_byte);
      pending.insert(pending.end(), stream.begin() + long(at_byte), stream.begin() + long(at_byte + n));
      at_byte += n;
      const int used = ssproto_decode(pending.data(), int32_t(pending.size()));
      ASSERT_GE(used, 0) << "at byte " << at_byte;
      pending.erase(pending.begin(), pending.begin() + used);
    }
    EXPECT_TRUE(pending.empty());

    ss_exchange* ex = ssmodel_exchange(0);
    for (const std::string& code : sim_market_codes(m))
      expect_same_stock(ssmodel_find_stock(ex, code.c_str()), *sim_market_stock(m, code.c_str()));
    if (v.speeds) {
      EXPECT_EQ(sim_market_codes(m).size(), ex->speed_count);
    }
    sim_market_destroy(m);
  }
  // Every type of the family was written.
  for (uint32_t t = 1; t <= 39; t++) {
    if (t == 27 || t == 31) continue;  // a run, an index tick
    EXPECT_GT(types[t], 0u) << "type " << t;
  }
}

// The extended model: the simulator's order-priority block (enciphered, as
// the server sends it) names orders of a stock the client does not know yet;
// the depth adds that follow pick up the details of their own position and
// side, and a late record annotates an order already in the book. The
// standard model reads the same stream to the same book and keeps nothing.
TEST_F(MarketDecode, ExtendedModelAttachesOrderDetails) {
  auto info = [](uint8_t type, int side, uint32_t position, uint32_t number, const char* text) {
    sim_order_info r;
    r.type = type;
    r.code = "PRI";
    r.side = uint8_t(side);
    r.position = position;
    for (int i = 0; i < 8; i++) r.id[i] = uint8_t(number + i);
    r.number = number;
    r.first = text;
    r.second = "desk";
    return r;
  };
  for (bool extended : {true, false}) {
    SCOPED_TRACE(extended ? "extended" : "standard");
    TearDown();
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions | (extended ? kOptExtended : 0), kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(short_sleep);
    sim_market_options o;
    o.index = 0;
    sim_market* m = sim_market_create(o);
    growbuf gb;
    growbuf_init(&gb, 256, 256);
    ASSERT_EQ(0, sim_msg_select(&gb, 0));
    ASSERT_EQ(0, sim_msg_exchange_date(&gb, 0, kDay, at(9, 0, 0), 36000, false));
    Bytes waiting;
    ASSERT_EQ(0, sim_priority_payload({info(1, 0, 1, 11, "bid one"), info(1, 1, 2, 22, "offer two")}, &waiting));
    ASSERT_EQ(0, sim_msg_priority(&gb, 0, waiting.data(), int32_t(waiting.size())));
    Bytes stream(gb.data, gb.data + gb.len);
    ss_time t = at(10, 0, 0);
    ASSERT_GT(sim_market_add(m, "PRI", t, 0, 1000, 100), 0);
    ASSERT_GT(sim_market_add(m, "PRI", t, 1, 1100, 200), 0);
    ASSERT_GT(sim_market_add(m, "PRI", t, 1, 1200, 300), 0);
    ASSERT_GT(sim_market_add(m, "PRI", t, 0, 900, 400), 0);
    sim_market_take(m, &stream);
    growbuf_reset(&gb);
    Bytes late;
    ASSERT_EQ(0, sim_priority_payload({info(2, 0, 2, 33, "late bid")}, &late));
    ASSERT_EQ(0, sim_msg_priority(&gb, 0, late.data(), int32_t(late.size())));
    stream.insert(stream.end(), gb.data, gb.data + gb.len);
    growbuf_free(&gb);
    ASSERT_EQ(int(stream.size()), ssproto_decode(stream.data(), int32_t(stream.size())));

    ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), "PRI");
    expect_same_stock(s, *sim_market_stock(m, "PRI"));
    sim_market_destroy(m);
    if (!extended) continue;
    struct Want {
      int side;
      int level;  // one order a level here
      uint32_t position;
      uint32_t number;
      const char* text;
    } wants[] = {
        {0, 0, 1, 11, "bid one"}, {0, 1, 2, 33, "late bid"}, {1, 0, 1, 0, ""}, {1, 1, 2, 22, "offer two"}};
    for (const Want& w : wants) {
      SCOPED_TRACE(testing::Message() << "side " << w.side << " level " << w.level);
      const ss_depth_level* l = s->levels[w.side];
      for (int i = 0; i < w.level && l; i++) l = l->next;
      ASSERT_TRUE(l && l->orders);
      const auto* o = static_cast<const ss_depth_order_ext*>(l->orders);
      EXPECT_EQ(w.number, o->number);
      EXPECT_STREQ(w.text, o->text1);
      EXPECT_STREQ(w.number ? "desk" : "", o->text2);
      EXPECT_EQ(w.number ? uint8_t(w.number + 7) : 0, o->identifier[7]);
    }
    // The late record found its order by counting; the waiting ones were
    // taken when their orders came, and none is left waiting.
    EXPECT_EQ(2u, static_cast<const ss_depth_order_ext*>(s->levels[1]->next->orders)->position);
    EXPECT_EQ(0, sspriority_queued());
  }
}

// ---------------------------------------------------------------------------
// The whole client against the simulator on loopback.

struct seen_event {
  uint32_t kind;
  uint32_t price;
  uint64_t volume;
  uint32_t close, open, high, low, last;
  bool operator==(const seen_event& o) const {
    return kind == o.kind && price == o.price && volume == o.volume && close == o.close && open == o.open &&
           high == o.high && low == o.low && last == o.last;
  }
};

// Written by the callback, which runs on this thread inside a delivery.
struct seen {
  std::map<std::string, std::vector<seen_event>> events;  // by "exchange:code"
  std::set<std::string> depth;
  int deliveries = 0;
};

void on_change(const ss_change* c, void* owner, uint64_t, uint32_t) {
  seen* s = static_cast<seen*>(owner);
  if (!c->instrument || c->instrument->kind != kKindStock) return;
  s->deliveries++;
  const std::string key = std::to_string(c->instrument->exchange->index) + ":" + c->instrument->code;
  if (c->mask & kChangeDepth) s->depth.insert(key);
  for (uint32_t i = 0; i < c->count; i++) {
    const ss_event* ev = c->events[i];
    seen_event e{};
    e.kind = ev->kind;
    if (ev->kind == kEvTrade) {
      const ss_trade* t = static_cast<const ss_trade*>(ev->payload);
      e.price = t->price;
      e.volume = t->volume;
    } else if (ev->kind == kEvQuote) {
      const ss_ev_quote* q = static_cast<const ss_ev_quote*>(ev->payload);
      e.close = q->close;
      e.open = q->open;
      e.high = q->high;
      e.low = q->low;
      e.last = q->last;
    } else {
      continue;
    }
    s->events[key].push_back(e);
  }
}

// What the callback must have seen of a market, from its journal on from
// entry `from` (changes applied before the client is online are not
// recorded).
void expected_events(const sim_market* m, uint32_t index, size_t from,
                     std::map<std::string, std::vector<seen_event>>* events, std::set<std::string>* depth) {
  const std::vector<sim_journal_entry>& journal = sim_market_journal(m);
  for (size_t i = from; i < journal.size(); i++) {
    const sim_journal_entry& j = journal[i];
    const std::string key = std::to_string(index) + ":" + j.code;
    seen_event e{};
    if (j.type == kSimMsgTrade || j.type == kSimMsgTradeAtLast) {
      e.kind = kEvTrade;
      e.price = j.price;
      e.volume = j.volume;
    } else if (j.type == kSimMsgQuote) {
      if (!j.quoted) continue;
      e.kind = kEvQuote;
      e.close = j.close;
      e.open = j.open;
      e.high = j.high;
      e.low = j.low;
      e.last = j.last;
    } else {
      depth->insert(key);
      continue;
    }
    (*events)[key].push_back(e);
  }
}

class MarketConcurrency : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim));
    for (uint32_t i : {0u, 3u}) {
      const sim_exchange e = test_exchange(i, at(9, 0, 0), 50, i == 0);
      ASSERT_EQ(0, sim_add_exchange(sim, e));
      sim_market_options o;
      o.index = i;
      o.brokers = e.brokers;
      markets[i == 0 ? 0 : 1] = sim_market_create(o);
    }
    codes[0] = codes_from(1, 8);
    codes[1] = codes_from(500, 5);
    for (int k = 0; k < 2; k++)
      for (const std::string& c : codes[k]) ASSERT_EQ(0, sim_add_instrument(sim, k ? 3 : 0, c.c_str()));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, "DEEP"));

    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ssclient_set_yield(2000, 1);  // hand the lock to this thread now and then
  }

  void TearDown() override {
    stop(10000);
    sim_destroy(sim);
    ssclient_fini();
    for (sim_market* m : markets) sim_market_destroy(m);
  }

  // Delivery, as the user interface's timer does it.
  void pump() {
    core_lock lock;
    ssclient_deliver();
  }

  // `units` units of `ops` scripted operations on each exchange.
  void stream_units(int units, int ops, uint64_t seed) {
    for (int u = 0; u < units; u++) {
      for (int k = 0; k < 2; k++) {
        ASSERT_EQ(ops, sim_market_script(markets[k], seed + uint64_t(u) * 2 + uint64_t(k), codes[k], ops, &t[k]));
        ASSERT_EQ(0, sim_market_flush(markets[k], sim));
      }
      pump();
    }
  }

  bool caught_up() {
    return ssproto_exchange_position(0) == sim_stream_length(sim, 0) &&
           ssproto_exchange_position(3) == sim_stream_length(sim, 3);
  }

  sim_market* markets[2] = {};
  std::vector<std::string> codes[2];
  ss_time t[2] = {at(10, 0, 0), at(10, 0, 0)};
};

TEST_F(MarketConcurrency, EveryChangeReachesTheUserInterfaceInOrder) {
  // Catch-up: the market before the client signs on.
  deep_book(markets[0], "DEEP", &t[0]);
  ASSERT_EQ(0, sim_market_flush(markets[0], sim));
  stream_units(8, 80, 100);
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  ssio_set_servers(0);
  ssio_set_server("127.0.0.1", port);

  seen got;
  {
    core_lock lock;
    ASSERT_EQ(0, ssnotify_add_wild(kChangeDepth | kChangeQuote | kChangeTrade, on_change, &got, 0, 0));
  }

  run();
  ASSERT_GE(thread, 0);
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return ssclient_is_online() != 0;
      },
      10000));

  // Live: units appended while the client is online. Everything before was
  // applied while change recording was paused for the catch-up.
  const size_t live[2] = {sim_market_journal(markets[0]).size(), sim_market_journal(markets[1]).size()};
  stream_units(20, 60, 900);
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return caught_up();
      },
      20000))
      << ssproto_exchange_position(0) << "/" << sim_stream_length(sim, 0) << " "
      << ssproto_exchange_position(3) << "/" << sim_stream_length(sim, 3);
  pump();  // what the last messages recorded

  std::map<std::string, std::vector<seen_event>> want;
  std::set<std::string> want_depth;
  expected_events(markets[0], 0, live[0], &want, &want_depth);
  expected_events(markets[1], 3, live[1], &want, &want_depth);
  EXPECT_GT(want.size(), 10u);

  core_lock lock;
  for (const auto& [key, events] : want) {
    SCOPED_TRACE(key);
    const std::vector<seen_event>& g = got.events[key];
    ASSERT_EQ(events.size(), g.size());
    for (size_t i = 0; i < events.size(); i++) EXPECT_TRUE(events[i] == g[i]) << "event " << i;
  }
  EXPECT_EQ(want_depth, got.depth);
  for (int k = 0; k < 2; k++) {
    ss_exchange* ex = ssmodel_exchange(k ? 3 : 0);
    for (const std::string& code : sim_market_codes(markets[k]))
      expect_same_stock(ssmodel_find_stock(ex, code.c_str()), *sim_market_stock(markets[k], code.c_str()));
  }
  EXPECT_EQ(1, sim_get_stats(sim).logins) << "no protocol error made the client start over";
}

// The simulator is killed and another one, with another seed and another
// market on the same codes, takes its port: the client, which still holds
// the first stream's day, signs on with that stream's signatures and must end
// up holding exactly the new market, nothing of the old one summed in.
TEST_F(MarketConcurrency, AServerRestartedWithAnotherStreamIsReadAfresh) {
  deep_book(markets[0], "DEEP", &t[0]);
  ASSERT_EQ(0, sim_market_flush(markets[0], sim));
  stream_units(8, 80, 100);
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  ssio_set_servers(0);
  ssio_set_server("127.0.0.1", port);
  run();
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return ssclient_is_online() != 0 && caught_up();
      },
      20000));
  const uint32_t old_sig = ssmodel_exchange_signature(0);

  sim_destroy(sim);
  for (sim_market*& m : markets) {
    sim_market_destroy(m);
    m = nullptr;
  }
  sim_options o;
  o.seed = 7;
  ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim, o));
  for (uint32_t i : {0u, 3u}) {
    const sim_exchange e = test_exchange(i, at(9, 0, 0), 50, i == 0);
    ASSERT_EQ(0, sim_add_exchange(sim, e));
    sim_market_options mo;
    mo.index = i;
    mo.brokers = e.brokers;
    markets[i == 0 ? 0 : 1] = sim_market_create(mo);
  }
  for (int k = 0; k < 2; k++)
    for (const std::string& c : codes[k]) ASSERT_EQ(0, sim_add_instrument(sim, k ? 3 : 0, c.c_str()));
  t[0] = t[1] = at(10, 0, 0);
  stream_units(6, 80, 5000);
  ASSERT_NE(old_sig, sim_signature(sim, 0));
  ASSERT_EQ(port, sim_start(sim, uint16_t(port)));
  ASSERT_TRUE(sim_wait_logins(sim, 1, 30000));
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return ssclient_is_online() != 0 && caught_up() && ssmodel_exchange_signature(0) == sim_signature(sim, 0);
      },
      20000));
  pump();
  core_lock lock;
  for (int k = 0; k < 2; k++) {
    ss_exchange* ex = ssmodel_exchange(k ? 3 : 0);
    for (const std::string& code : sim_market_codes(markets[k]))
      expect_same_stock(ssmodel_find_stock(ex, code.c_str()), *sim_market_stock(markets[k], code.c_str()));
  }
  // The old market's deep book is gone with its day.
  const ss_stock* deep = ssmodel_find_stock(ssmodel_exchange(0), "DEEP");
  if (deep) {
    EXPECT_EQ(nullptr, deep->levels[0]);
    EXPECT_EQ(nullptr, deep->levels[1]);
    EXPECT_EQ(0u, deep->volume);
  }
  EXPECT_EQ(1, sim_get_stats(sim).logins) << "the new server's reset needed no second sign-on";
}

}  // namespace
