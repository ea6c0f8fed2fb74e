// Auction, multi-trade and depth-clear messages from bytes written by hand
// after the wire layouts: the stock's auction, open balance, runs of trades
// and the change bits they record, the clears per side, per stock and per
// exchange, and incomplete messages leaving the price reference alone.
#include <gtest/gtest.h>

#include <vector>

#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"
#include "testwire.h"

namespace {

using namespace testwire;

time_t fixed_wall() { return 1392000000; }  // 2014-02-10

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, fixed_wall));

const ss_time kDay = sstime_pack_date(10, 2, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 10, 2, 2014); }

// vlong below 32: one byte; signed vlong: a sign byte, then the magnitude.
Bytes small_vlong(uint32_t v) { return {uint8_t(v)}; }
Bytes signed_vlong(int32_t v) { return {uint8_t(v < 0 ? 1 : 0), uint8_t(v < 0 ? -v : v)}; }
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

std::vector<uint32_t> g_masks;  // change masks delivered, per instrument
int g_owner;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (c->instrument) g_masks.push_back(c->mask);
}

class Auction : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_direct_client());
    ssproto_reset_counters();
    ex = ssmodel_exchange(0);
    ASSERT_NE(nullptr, ex);
    ssmodel_set_date(ex, kDay);
    const Bytes select = {0x00, 52};  // exchange 0 becomes current
    ASSERT_EQ(2, ssproto_decode(select.data(), 2));
    g_masks.clear();
    ASSERT_EQ(0, ssnotify_add_wild(0xffffffffu, on_change, &g_owner, 0, 0));
  }
  void TearDown() override {
    ssnotify_remove_wild(&g_owner);
    ssclient_fini();
  }
  int decode(const Bytes& b) { return ssproto_decode(b.data(), int32_t(b.size())); }
  ss_stock* stock(const char* code) {
    ss_stock* s = ssmodel_get_stock(ex, code);
    EXPECT_NE(nullptr, s);
    s->flags = 31;
    return s;
  }
  // The masks recorded since the last call.
  std::vector<uint32_t> masks() {
    ssnotify_deliver();
    std::vector<uint32_t> m = g_masks;
    g_masks.clear();
    return m;
  }
  ss_exchange* ex = nullptr;
};

// The auction follows the book: a crossed book with both sides loaded. The
// stock fed by the message must end as its twin given the same values
// through the model's own operations.
TEST_F(Auction, AuctionFromPriceBlockAndClear) {
  ss_stock* s = stock("BHP");
  ss_stock* twin = stock("RIO");
  for (ss_stock* x : {s, twin}) {
    ASSERT_EQ(0, ssevent_apply_depth_summary(x, 0, 0, 10100, 800, 1, nullptr));
    ASSERT_EQ(0, ssevent_apply_depth_summary(x, 0, 1, 10000, 700, 1, nullptr));
  }
  const Bytes m220 = cat({header(220, "BHP", at(10, 0, 0)), plain(10050), vol(500)});
  ASSERT_EQ(int(m220.size()), decode(m220));
  ASSERT_EQ(0, ssevent_auction_from_price(twin, at(10, 0, 0), 10050, 500));
  EXPECT_NE(0u, s->auction.price);
  EXPECT_FALSE(ssmodel_auction_differs(&s->auction, &twin->auction));

  // 222: price, matched, signed surplus, bid price and volume, offer price
  // and volume; the surplus is negative.
  const Bytes m222 = cat({header(222, "BHP", at(10, 0, 1)), plain(10060), vol(700), signed_vlong(-7), plain(10050),
                          vol(300), plain(10150), vol(307)});
  ASSERT_EQ(int(m222.size()), decode(m222));
  ss_auction block;
  ssmodel_auction_clear(&block);
  block.price = 10060;
  block.matched = 700;
  block.surplus = -7;
  block.bid_price = 10050;
  block.bid_volume = 300;
  block.offer_price = 10150;
  block.offer_volume = 307;
  ASSERT_EQ(0, ssevent_auction_from_block(twin, at(10, 0, 1), &block));
  EXPECT_EQ(10060u, s->auction.price);
  EXPECT_FALSE(ssmodel_auction_differs(&s->auction, &twin->auction));

  const Bytes m223 = header(223, "BHP", at(10, 0, 2));
  ASSERT_EQ(int(m223.size()), decode(m223));
  EXPECT_EQ(0u, s->auction.price);
  EXPECT_EQ(0u, s->auction.matched);

  // A clear of a stock without an auction succeeds and leaves none.
  ss_stock* other = stock("ANZ");
  const Bytes clear_other = header(223, "ANZ", at(10, 0, 3));
  ASSERT_EQ(int(clear_other.size()), decode(clear_other));
  EXPECT_EQ(0u, other->auction.price);
}

// A new day (160) forgets yesterday's auction and its second volume and
// value: kept, they would show as today's indicative price and feed today's
// average price until the first auction message of the new day.
TEST_F(Auction, ANewDayForgetsYesterdaysAuction) {
  ss_stock* s = stock("BHP");
  ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 0, 10100, 800, 1, nullptr));
  ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 1, 10000, 700, 1, nullptr));
  const Bytes m220 = cat({header(220, "BHP", at(10, 0, 0)), plain(10050), vol(500)});
  ASSERT_EQ(int(m220.size()), decode(m220));
  ASSERT_NE(0u, s->auction.price);
  s->second_volume = 300;
  s->second_value = 3015000;
  const Bytes m160 = cat({{0x00, 160}, be32(sstime_pack_date(11, 2, 2014)), be32(at(7, 0, 0)), vint(0)});
  ASSERT_EQ(int(m160.size()), decode(m160));
  EXPECT_EQ(0u, s->auction.price);
  EXPECT_EQ(0u, s->auction.matched);
  EXPECT_EQ(0, s->auction.surplus);
  EXPECT_EQ(0u, s->second_volume);
  EXPECT_EQ(0u, s->second_value);
  EXPECT_EQ(sstime_pack_date(11, 2, 2014), ex->date);
}

TEST_F(Auction, OpenBalance) {
  ss_stock* s = stock("BHP");
  const Bytes m = cat({header(221, "BHP", at(10, 0, 0)), {0x45}});  // vint 69
  ASSERT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(69u, s->open_balance);
}

TEST_F(Auction, IncompleteAuctionBlockWaitsWithTheReferenceRestored) {
  ss_stock* s = stock("BHP");
  s->price_ref = 4321;
  const Bytes m222 = cat({header(222, "BHP", at(10, 0, 1)), plain(10100), vol(700), signed_vlong(-7), plain(10050),
                          vol(300), plain(10150), vol(307)});
  for (size_t cut = 1; cut < m222.size(); cut++) {
    SCOPED_TRACE(cut);
    EXPECT_EQ(0, ssproto_decode(m222.data(), int32_t(cut)));
    EXPECT_EQ(4321u, s->price_ref);
    EXPECT_EQ(0u, s->auction.price);
  }
}

// Runs of trades: the volumes, last price and change bits.
struct run_case {
  const char* name;
  uint32_t type;
  uint32_t price;                 // 230 only
  std::vector<uint32_t> volumes;
  uint32_t last_after;
  uint64_t volume_after;
  uint32_t bits;
};

TEST_F(Auction, MultiTradeRuns) {
  const run_case cases[] = {
      {"230 empty run", 230, 10000, {}, 9000, 50, 0x1000},
      {"230 at the last price", 230, 9000, {10, 20}, 9000, 80, 0x1000},
      {"230 at a new price", 230, 10000, {10, 20, 30}, 10000, 110, 0x1800},
      {"231 at the last price", 231, 0, {5, 6}, 9000, 61, 0x1000},
  };
  for (const run_case& c : cases) {
    SCOPED_TRACE(c.name);
    ss_stock* s = stock("BHP");
    ASSERT_EQ(0, ssevent_apply_trade(s, at(9, 59, 0), 9000, 50, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
    masks();
    Bytes m = header(c.type, "BHP", at(10, 0, 0));
    if (c.type == 230) m = cat({m, plain(c.price)});
    m.push_back(uint8_t(c.volumes.size()));
    for (uint32_t v : c.volumes) m = cat({m, vol(v)});
    ASSERT_EQ(int(m.size()), decode(m));
    EXPECT_EQ(c.last_after, s->last);
    EXPECT_EQ(c.volume_after, s->volume);
    EXPECT_EQ(std::vector<uint32_t>{c.bits}, masks());
    ssmodel_reset_exchange(ex, kDay, 0);
    masks();
  }
}

TEST_F(Auction, MultiTradeCutShortWaits) {
  ss_stock* s = stock("BHP");
  s->price_ref = 777;
  const Bytes m = cat({header(230, "BHP", at(10, 0, 0)), plain(10000), {3}, vol(10), vol(20), vol(30)});
  EXPECT_EQ(0, ssproto_decode(m.data(), int32_t(m.size() - 1)));
  EXPECT_EQ(777u, s->price_ref);
  EXPECT_EQ(0u, s->volume);
  EXPECT_EQ(int(m.size()), decode(m));
  EXPECT_EQ(60u, s->volume);
}

// Depth clears: which sides of which stocks are emptied, and whether a change
// is recorded.
struct clear_case {
  const char* name;
  uint32_t type;
  bool bid, offer;  // the sides BHP has before the message
  bool bid_after, offer_after, rio_after;
  size_t changes;
};

TEST_F(Auction, DepthClears) {
  const clear_case cases[] = {
      {"130 bid", 130, true, true, false, true, true, 1},
      {"131 offer", 131, true, true, true, false, true, 1},
      {"132 both", 132, true, true, false, false, true, 1},
      {"132 offer only", 132, false, true, false, false, true, 1},
      {"130 on an empty bid side", 130, false, true, false, true, true, 0},
      {"133 the exchange", 133, true, true, false, false, false, 2},
  };
  for (const clear_case& c : cases) {
    SCOPED_TRACE(c.name);
    ss_stock* s = stock("BHP");
    ss_stock* rio = stock("RIO");
    if (c.bid) ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 0, 9000, 10, 1, nullptr));
    if (c.offer) ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 1, 9100, 10, 1, nullptr));
    ASSERT_EQ(0, ssevent_apply_depth_summary(rio, 0, 0, 500, 10, 1, nullptr));
    masks();
    const uint32_t before = ssproto_exchange_position(0);
    const Bytes m = c.type == 133 ? Bytes{0x00, 133} : header(c.type, "BHP", at(10, 0, 0));
    ASSERT_EQ(int(m.size()), decode(m));
    EXPECT_EQ(c.bid_after, s->levels[0] != nullptr);
    EXPECT_EQ(c.offer_after, s->levels[1] != nullptr);
    EXPECT_EQ(c.rio_after, rio->levels[0] != nullptr);
    if (!c.bid_after) EXPECT_EQ(0u, s->bid);
    const std::vector<uint32_t> got = masks();
    EXPECT_EQ(c.changes, got.size());
    for (uint32_t bits : got) EXPECT_EQ(kChangeDepth, bits & kChangeDepth);
    (void)before;
    ssmodel_reset_exchange(ex, kDay, 0);
    masks();
  }
}

}  // namespace
