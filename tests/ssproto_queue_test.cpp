// The list, index tick and trade variant messages through the dispatcher,
// written by the market simulator's own writers: order queues that wait for
// their length and then replace a side, depth and trade-list answers that add
// their stock to the exchange they name and leave the stream's exchange
// alone, the word that is skipped, the table of index ticks (and a change to
// an index with no value refused), indices listed in code order whatever the
// order of arrival, and the trade variants with their optional fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "growbuf.h"
#include "encode.h"
#include "kludge.h"
#include "sim.h"
#include "sim_lists.h"
#include "sim_msg.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testbook.h"
#include "testclient.h"

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

void expect_book(const std::vector<sim_level>& want, const ss_stock* s, int side) {
  expect_same_book(want, client_book(s, side));
}

class ProtoLists : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, 12, 0x112));
    ssclient_enable_yield(0);
    growbuf_init(&gb, 4096, 4096);
    hdr = sim_hdr_create(false);
    ASSERT_EQ(0, sim_msg_select(&gb, 0));
    ASSERT_EQ(0, sim_msg_exchange_date(&gb, 0, kDay, at(9, 0, 0), 36000, 1));
    ASSERT_EQ(gb.len, decode());
  }
  void TearDown() override {
    sim_hdr_destroy(hdr);
    growbuf_free(&gb);
    ssclient_fini();
  }
  // Decodes what was written since the last call.
  int decode() {
    const int r = ssproto_decode(gb.data + done, gb.len - done);
    if (r > 0) done += r;
    return r;
  }
  ss_exchange* ex(int i) { return ssmodel_exchange(i); }

  growbuf gb{};
  int32_t done = 0;
  sim_hdr* hdr = nullptr;
};

TEST_F(ProtoLists, AQueueWaitsForItsLengthThenReplacesTheSide) {
  sim_market_options o;
  o.brokers = true;
  o.date = kDay;
  sim_market* m = sim_market_create(o);
  for (uint32_t i = 0; i < 30; i++) {
    ASSERT_GT(sim_market_add(m, "QQQ", at(10, 0, 0), 0, 1000 - 10 * (i % 4), 100 * (i + 1)), 0);
    ASSERT_GT(sim_market_add(m, "QQQ", at(10, 0, 0), 1, 1100 + 10 * (i % 3), 50 * (i + 1)), 0);
  }
  Bytes unseen;
  sim_market_take(m, &unseen);  // the client never sees the orders one by one
  ASSERT_EQ(60, sim_market_queue(m, "QQQ", at(10, 1, 0), 0));
  Bytes q;
  sim_market_take(m, &q);
  const int32_t first = int32_t(q.size());
  ASSERT_EQ(61, sim_market_queue(m, "QQQ", at(10, 1, 0), 1));
  sim_market_take(m, &q);
  growbuf_append(&gb, q.data(), uint32_t(q.size()));
  for (int32_t n = 1; n < first; n++) ASSERT_EQ(0, ssproto_decode(gb.data + done, n)) << n;
  const ss_stock* early = ssmodel_find_stock(ex(0), "QQQ");
  EXPECT_TRUE(!early || !early->levels[0]) << "an incomplete queue applies nothing";
  ASSERT_EQ(first, ssproto_decode(gb.data + done, first + 3));
  done += first;
  const int32_t rest = gb.len - done;
  ASSERT_EQ(rest, decode());
  ss_stock* s = ssmodel_find_stock(ex(0), "QQQ");
  ASSERT_NE(nullptr, s);
  for (int side = 0; side < 2; side++) {
    SCOPED_TRACE(side);
    expect_book(sim_market_stock(m, "QQQ")->sides[side], s, side);
  }
  EXPECT_EQ(kRqBidLoaded | kRqOfferLoaded, s->flags & (kRqBidLoaded | kRqOfferLoaded));
  EXPECT_EQ(1000u, s->bid);
  EXPECT_EQ(1100u, s->offer);
  sim_market_destroy(m);
}

// 62 and 63 carry a queue as a framed block; after 68 the stock's queue
// comes as level totals.
TEST_F(ProtoLists, QueueBlocksAndLevelTotals) {
  sim_stock_ref r;
  r.code = "BLK";
  r.close = 1000;
  r.sides[1] = {{1010, {5, 6}, {"UBS", "MQ"}}, {1020, {7}, {"UBS"}}};
  growbuf list = {};
  growbuf_init(&list, 256, 256);
  ASSERT_EQ(0, sim_list_queue(&list, r, 1, at(10, 0, 0), kDay, true));
  ASSERT_EQ(0, sim_msg_queue_block(&gb, hdr, 63, at(10, 0, 0), "BLK", list.data, list.len));
  const int32_t all = gb.len - done;
  ASSERT_EQ(all, decode());
  ss_stock* s = ssmodel_find_stock(ex(0), "BLK");
  ASSERT_NE(nullptr, s);
  expect_book(r.sides[1], s, 1);
  // Level totals: count, price, total volume per level.
  ASSERT_EQ(0, sim_msg_out_of_order(&gb, hdr, at(10, 0, 1), "BLK"));
  ASSERT_GT(decode(), 0);
  EXPECT_TRUE(s->flags & kInOutOfOrder);
  growbuf_reset(&list);
  uint8_t b[16];
  uint32_t ref = 1000;
  for (uint32_t level : {0u, 1u}) {
    growbuf_append(&list, b, uint32_t(encode_vint(b, 3 + level)));
    growbuf_append(&list, b, uint32_t(encode_price(b, 990 - 10 * level, &ref)));
    growbuf_append(&list, b, uint32_t(encode_volume(b, 3000)));
  }
  ASSERT_EQ(0, sim_msg_queue(&gb, hdr, 60, at(10, 0, 2), "BLK", list.data, list.len));
  ASSERT_GT(decode(), 0);
  ASSERT_NE(nullptr, s->levels[0]);
  EXPECT_EQ((std::vector<uint64_t>{990, 3, 3000, 980, 4, 3000}),
            (std::vector<uint64_t>{s->levels[0]->price, s->levels[0]->count, s->levels[0]->volume,
                                   s->levels[0]->next->price, s->levels[0]->next->count, s->levels[0]->next->volume}));
  growbuf_free(&list);
}

TEST_F(ProtoLists, AnswersAddTheirStockToTheExchangeTheyName) {
  sim_stock_ref r;
  r.code = "NEW";
  r.sides[0] = {{2000, {100, 200}, {}}, {1990, {300}, {}}};
  growbuf list = {};
  growbuf_init(&list, 256, 256);
  ASSERT_EQ(0, sim_list_depth(&list, r, 0, kSimPartialLevels, false));
  ASSERT_EQ(0, sim_msg_depth_answer(&gb, 64, 3, "NEW", list.data, list.len));
  ASSERT_GT(decode(), 0);
  ss_stock* s = ssmodel_find_stock(ex(3), "NEW");
  ASSERT_NE(nullptr, s);
  expect_book(r.sides[0], s, 0);
  EXPECT_TRUE(s->flags & kRqBidLoaded);
  EXPECT_EQ(ex(0), ssproto_current_exchange());
  EXPECT_EQ(nullptr, ssmodel_find_stock(ex(0), "NEW"));

  // An exchange that does not exist is an error, not a skip.
  ASSERT_EQ(0, sim_msg_depth_answer(&gb, 66, 9, "NEW", list.data, list.len));
  LogCapture log;
  EXPECT_EQ(-1, decode());
  EXPECT_TRUE(log.has("can't find exchange 9"));
  growbuf_free(&list);
}

TEST_F(ProtoLists, TradeListAnswersReplaceTheTrades) {
  struct Case {
    uint32_t type;
    int trades;
    uint32_t loaded;
  } cases[] = {
      {75, 12, kRqRecentLoaded | kRqTradesLoaded},  // all trades
      {76, 12, kRqRecentLoaded | kRqTradesLoaded},  // recent trades in fewer than 10 groups: all there is
      {76, 40, kRqRecentLoaded},                    // recent trades in 10 groups or more
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.trades);
    const std::string code = "T" + std::to_string(c.type) + std::to_string(c.trades);
    sim_stock_ref r;
    r.code = code;
    for (int i = 0; i < c.trades; i++)
      r.trade_list.push_back(
          sim_trade{at(10, 0, i), uint32_t(1000 + 5 * (i / 3)), uint64_t(100 * (i + 1)), "UBS", "MQ"});
    growbuf list = {};
    growbuf_init(&list, 256, 256);
    ASSERT_EQ(0, sim_list_trades(&list, r, 0, kDay, true));  // the exchange carries brokers
    ASSERT_EQ(0, sim_msg_trade_list(&gb, c.type, 0, code.c_str(), list.data, list.len));
    ASSERT_GT(decode(), 0);
    ss_stock* s = ssmodel_find_stock(ex(0), code.c_str());
    ASSERT_NE(nullptr, s);
    std::vector<uint64_t> got, want;
    for (const ss_trade* t = s->trades.head; t; t = t->next) got.insert(got.end(), {t->time, t->price, t->volume});
    for (const sim_trade& t : r.trade_list) want.insert(want.end(), {t.time, t.price, t.volume});
    EXPECT_EQ(want, got);
    EXPECT_EQ(c.loaded, s->flags & (kRqRecentLoaded | kRqTradesLoaded));
    growbuf_free(&list);
  }
}

TEST_F(ProtoLists, TheSkippedWordIsFourBytes) {
  ASSERT_EQ(0, sim_msg_header(&gb, 69));
  const uint8_t word[] = {1, 2, 3, 4};
  growbuf_append(&gb, word, sizeof word);
  ASSERT_EQ(0, sim_msg_noop(&gb));
  const int32_t skip = 2 + 4;  // the header and four bytes
  EXPECT_EQ(0, ssproto_decode(gb.data + done, skip - 1));
  EXPECT_EQ(skip, ssproto_decode(gb.data + done, skip + 1));
  const int32_t all = gb.len - done;
  EXPECT_EQ(all, decode());
}

TEST_F(ProtoLists, IndexTicks) {
  struct Case {
    uint32_t type;
    uint32_t value;
    std::vector<int32_t> changes;
    uint32_t base, last;  // the index's reference and current value after
  } cases[] = {
      {83, 5000, {}, 5000, 0},
      {80, 5000, {25}, 5000, 5025},
      {31, 0, {0}, 5000, 5025},  // a change of 0 keeps the value
      {31, 0, {-125}, 5000, 4900},
      {81, 4000, {10, -20, 30}, 5000, 4030},  // the reference stays
      {82, 6000, {1, 2, -3, 4}, 6000, 6004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_EQ(0, sim_msg_index(&gb, hdr, c.type, at(11, 0, 0), "XJO", c.value, c.changes.data()));
    ASSERT_GT(decode(), 0);
    ss_index* x = ssmodel_find_index(ex(0), "XJO");
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(c.base, x->base);
    EXPECT_EQ(c.last, x->value);
  }
}

TEST_F(ProtoLists, AChangeToAnIndexWithNoValueIsBadData) {
  const int32_t c = 5;
  ASSERT_EQ(0, sim_msg_index(&gb, hdr, 31, at(11, 0, 0), "XAO", 0, &c));
  LogCapture log;
  EXPECT_EQ(-1, decode());
  EXPECT_TRUE(log.has("index change with no value to change"));
}

TEST_F(ProtoLists, IndicesAreListedInCodeOrder) {
  for (const char* code : {"XKO", "XAO", "XJO", "XAA", "XZZ"}) {
    ASSERT_EQ(0, sim_msg_index(&gb, hdr, 83, at(11, 0, 0), code, 1000, nullptr));
    ASSERT_GT(decode(), 0);
  }
  std::vector<std::string> order;
  for (const ss_index* x = ex(0)->current_indices.head; x; x = x->cur_next) order.push_back(x->code);
  EXPECT_EQ((std::vector<std::string>{"XAA", "XAO", "XJO", "XKO", "XZZ"}), order);
  EXPECT_EQ(5u, ex(0)->current_indices.count);
  EXPECT_EQ(5u, ex(0)->index_speed_count);
}

TEST_F(ProtoLists, TradeVariants) {
  uint32_t ref = 0;
  sim_trade_fields plain;
  plain.price = 1000;
  plain.volume = 500;
  plain.buyer = "UBS";
  plain.seller = "MQ";
  ASSERT_EQ(0, sim_msg_trade_variant(&gb, hdr, 70, at(10, 0, 0), "VAR", plain, &ref, true));
  sim_trade_fields full = plain;
  full.price = 1010;
  full.flags = 0x38 | 0x07;
  full.conditions = 0x1234;
  full.second = 99;
  full.date = sstime_pack_date(10, 3, 2014);
  ASSERT_EQ(0, sim_msg_trade_variant(&gb, hdr, 71, at(10, 0, 1), "VAR", full, &ref, true));
  sim_trade_fields bare = plain;
  bare.price = 1020;
  bare.flags = 0;
  ASSERT_EQ(0, sim_msg_trade_variant(&gb, hdr, 71, at(10, 0, 2), "VAR", bare, &ref, true));
  const int32_t all = gb.len - done;
  ASSERT_EQ(all, decode());
  ss_stock* s = ssmodel_find_stock(ex(0), "VAR");
  ASSERT_NE(nullptr, s);
  ASSERT_EQ(3u, s->trades.count);
  const ss_trade* t = s->trades.head;
  ASSERT_NE(nullptr, t->detail);
  EXPECT_EQ(1u, t->detail->conditions);  // a crossing
  t = t->next;
  ASSERT_NE(nullptr, t->detail);
  uint64_t rewritten = 0x1234;
  kludge_trade_in(0, "VAR", &rewritten);  // the exchange's condition rule
  EXPECT_EQ(rewritten, t->detail->conditions);
  EXPECT_EQ(99u, t->detail->second_value);
  EXPECT_EQ(full.date, t->detail->date);
  EXPECT_EQ(1010u, s->last);
  t = t->next;
  EXPECT_EQ(0u, t->bits & (kTradeSetsLast | kTradeHighLow | kTradeVolume));
  EXPECT_EQ(1010u, s->last) << "flags 0: the trade sets nothing";
  EXPECT_EQ(1000u, s->volume);

  // 72 cancels the first trade; the live first price stays.
  s->first_price = 990;
  ASSERT_EQ(0, sim_msg_trade_amend(&gb, hdr, at(10, 1, 0), "VAR", 0, 1000, 500, 990, nullptr, nullptr));
  {
    ssproto_version_guard v(3);
    ASSERT_GT(decode(), 0);
  }
  EXPECT_TRUE(s->trades.head->bits & kTradeCancelled);
  EXPECT_EQ(990u, s->first_price);
}

}  // namespace
