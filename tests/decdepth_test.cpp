// Depth lists and order queues: known-answer bytes of the writer, round trips
// of a stock's book through the writer into a second stock (per order with
// and without brokers, level totals), the level limits and the loaded bit,
// and the reader contract on every cut-short prefix and on bad bytes (the
// side stays as it was).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "decdepth.h"
#include "decqueue.h"
#include "encdepth.h"
#include "encode.h"
#include "growbuf.h"
#include "lazyfree.h"
#include "log.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "ssevent.h"
#include "testlog.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }
const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

// A side flattened: per level price, count, total, then per order volume and
// broker code.
struct Order {
  uint64_t volume;
  std::string broker;
  bool operator==(const Order& o) const { return volume == o.volume && broker == o.broker; }
};
struct Level {
  uint32_t price, count;
  uint64_t volume;
  std::vector<Order> orders;
  bool operator==(const Level& o) const {
    return price == o.price && count == o.count && volume == o.volume && orders == o.orders;
  }
};
void PrintTo(const Level& l, std::ostream* os) {
  *os << "{" << l.price << " x" << l.count << " =" << l.volume << ":";
  for (const Order& o : l.orders) *os << " " << o.volume << "/" << o.broker;
  *os << "}";
}

std::vector<Level> side_of(const ss_stock* s, int side) {
  std::vector<Level> out;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    Level v{l->price, l->count, l->volume, {}};
    for (const ss_depth_order* o = l->orders; o; o = o->next) v.orders.push_back({o->volume, o->broker ? o->broker->code : ""});
    out.push_back(v);
  }
  return out;
}

std::vector<uint8_t> bytes_of(const growbuf& g) { return std::vector<uint8_t>(g.data, g.data + g.len); }

class DepthList : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, ssmodel_init(12));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ssmodel_new_exchange(i, 0x112));
    lazyfree_set_delay(10);
    ASSERT_EQ(0, growbuf_init(&out, 4096, 4096));
    ex = ssmodel_exchange(0);
    a = ssmodel_get_stock(ex, "BHP");
    b = ssmodel_get_stock(ex, "RIO");
    a->close = b->close = 990;
  }
  void TearDown() override {
    growbuf_free(&out);
    ssmodel_fini();
    ssclient_private_clear();
  }
  // Orders at each price, in the given order; brokers cycle through a list.
  void build(ss_stock* s, int side, const std::vector<std::pair<uint32_t, std::vector<uint64_t>>>& levels) {
    static const char* kBrokers[] = {"UBS", "ZQ3", "ABCDEF", "MQ"};
    int i = 0;
    for (const auto& [price, vols] : levels)
      for (uint64_t v : vols) {
        const char* br = (ex->flags & kExBrokers) ? kBrokers[i++ % 4] : nullptr;
        ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, side, price, v, 1, br));
      }
  }
  ss_exchange* ex;
  ss_stock* a;
  ss_stock* b;
  growbuf out{};
};

TEST_F(DepthList, KnownAnswerBytes) {
  build(a, 0, {{1000, {1000, 2000, 2050}}});
  ASSERT_EQ(7, encdepth_encode_levels(&out, a, 0, 0));
  EXPECT_EQ((std::vector<uint8_t>{0x03, 0x81, 0x14, 0x28, 0x82, 0x40, 0x00}), bytes_of(out));
}

TEST_F(DepthList, TwoHundredOrdersTakeATwoByteCount) {
  std::vector<uint64_t> vols(200, 1000);
  build(a, 0, {{1000, vols}});
  ASSERT_GT(encdepth_encode_levels(&out, a, 0, 0), 0);
  EXPECT_EQ(0xC8, out.data[0]);
  EXPECT_EQ(0x01, out.data[1]);
  ASSERT_EQ(out.len, decdepth_decode_whole(b, 0, out.data, out.len));
  EXPECT_EQ(side_of(a, 0), side_of(b, 0));
}

TEST_F(DepthList, CountsAboveTheFieldAreRefused) {
  std::vector<uint64_t> vols(kDepthCountMax + 1, 50);
  build(a, 1, {{2000, vols}});
  LogCapture log;
  EXPECT_EQ(-1, encdepth_encode_levels(&out, a, 1, 0));
  EXPECT_EQ(0, out.len);
  EXPECT_TRUE(log.has("can't write a level of 32768 orders"));
}

// Round trips through the writer into a second stock, per layout.
TEST_F(DepthList, RoundTripsIntoASecondStock) {
  struct Case {
    const char* name;
    bool brokers;
    bool totals;
  } cases[] = {{"orders", false, false}, {"orders with brokers", true, false}, {"level totals", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    if (c.brokers) ex->flags |= kExBrokers;
    if (c.totals) {
      ssevent_set_out_of_order(a);
      ssevent_set_out_of_order(b);
      for (uint32_t p : {1200u, 1100u, 1000u})
        ASSERT_EQ(0, ssevent_apply_depth_summary(a, 0, 0, p, p * 7, p / 100, nullptr));
    } else {
      build(a, 0, {{1010, {100, 3500000, 150}}, {990, {7}}, {12, {2000}}, {400000, {1, 2, 3}}});
    }
    ASSERT_GT(encdepth_encode_levels(&out, a, 0, 0), 0);
    ASSERT_EQ(out.len, decdepth_decode_whole(b, 0, out.data, out.len));
    EXPECT_EQ(side_of(a, 0), side_of(b, 0));
    EXPECT_EQ(a->levels[0]->price, b->bid);
    EXPECT_TRUE(b->flags & kRqBidLoaded);
    if (c.brokers) {
      EXPECT_EQ("ZQ3", side_of(b, 0)[0].orders[0].broker);  // the brokers came across
    }
  }
}

TEST_F(DepthList, TheLevelLimitAndTheLoadedBit) {
  struct Case {
    int levels;
    bool marker;
    bool loaded;
  } cases[] = {{10, false, false}, {9, true, true}, {0, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.levels);
    TearDown();
    SetUp();
    for (int i = 0; i < c.levels; i++) build(a, 1, {{uint32_t(1000 + 10 * i), {50}}});
    const int n = encdepth_encode_levels(&out, a, 1, kDepthPartialLevels);
    ASSERT_GT(n, 0);
    EXPECT_EQ(c.marker, out.data[n - 1] == 0);
    ASSERT_EQ(n, decdepth_decode_limited(b, 1, out.data, n));
    EXPECT_EQ(c.loaded, (b->flags & kRqOfferLoaded) != 0);
    EXPECT_EQ(side_of(a, 1), side_of(b, 1));
  }
}

TEST_F(DepthList, AnEmptyLevelTotalsSideIsOneZeroByte) {
  ssevent_set_out_of_order(a);
  ASSERT_EQ(1, encdepth_encode(&out, a, 0));
  EXPECT_EQ(0, out.data[0]);
}

// Every cut-short prefix is incomplete and changes nothing; bad bytes are
// refused and change nothing either.
TEST_F(DepthList, ShortAndBadListsLeaveTheSide) {
  ex->flags |= kExBrokers;
  build(a, 0, {{1010, {100, 150}}, {1000, {200}}});
  build(b, 0, {{500, {50}}});
  const std::vector<Level> before = side_of(b, 0);
  ASSERT_GT(encdepth_encode_levels(&out, a, 0, 0), 0);
  for (int32_t n = 0; n < out.len; n++) {
    SCOPED_TRACE(n);
    EXPECT_EQ(0, decdepth_decode_whole(b, 0, out.data, n));
    EXPECT_EQ(before, side_of(b, 0));
  }
  // The first order's broker: an id no table knows, and a packed code of no
  // characters (an order of the exchange must name its broker).
  for (uint8_t broker : {uint8_t(0x7F), uint8_t(0x80)}) {
    std::vector<uint8_t> bad(out.data, out.data + out.len);
    bad[3] = broker;
    EXPECT_EQ(-1, decdepth_decode_whole(b, 0, bad.data(), int32_t(bad.size()))) << int(broker);
    EXPECT_EQ(before, side_of(b, 0));
  }
}

TEST_F(DepthList, ALoadedSideIsSteppedOver) {
  build(a, 0, {{1000, {5}}});
  build(b, 0, {{900, {6}}});
  b->flags |= kRqBidLoaded;
  ASSERT_GT(encdepth_encode_levels(&out, a, 0, kDepthPartialLevels), 0);
  LogCapture log;
  EXPECT_EQ(out.len, decdepth_decode_limited(b, 0, out.data, out.len));
  EXPECT_TRUE(log.has("RIO partial depth not required"));
  EXPECT_EQ(900u, b->levels[0]->price);
}

// ---------------------------------------------------------------------------
// Order queues

// A queue in the stream's layout, from a level list (times 0 + i seconds).
std::vector<uint8_t> queue_bytes(const std::vector<std::pair<uint32_t, std::vector<uint64_t>>>& levels, uint32_t ref,
                                 bool timed, bool brokers, ss_time date) {
  std::vector<uint8_t> q;
  uint8_t p[32];
  encode_set_ref_date(date);
  int t = 0;
  for (const auto& [price, vols] : levels) {
    q.insert(q.end(), p, p + encode_price(p, price, &ref));
    q.push_back(uint8_t(vols.size()));
    for (uint64_t v : vols) {
      q.insert(q.end(), p, p + encode_volume(p, v));
      if (timed) q.insert(q.end(), p, p + encode_time_delta(p, date + 36000 + t++));
      if (brokers) q.insert(q.end(), p, p + encode_broker(p, "UBS"));
    }
  }
  return q;
}

TEST_F(DepthList, QueuesReadWholeWithTimesAndBrokers) {
  ex->flags |= kExBrokers;
  ssmodel_set_date(ex, sstime_pack(0, 0, 0, 10, 2, 2014));
  const auto q = queue_bytes({{1000, {100, 200}}, {990, {300}}}, 990, true, true, ex->date);
  uint32_t orders = 0;
  ASSERT_EQ(int(q.size()), decqueue_decode(b, 0, q.data(), int32_t(q.size()), 2, &orders));
  EXPECT_EQ(3u, orders);
  EXPECT_EQ((std::vector<Level>{{1000, 2, 300, {{100, "UBS"}, {200, "UBS"}}}, {990, 1, 300, {{300, "UBS"}}}}),
            side_of(b, 0));
  EXPECT_EQ(ex->date + 36000 + 1, b->levels[0]->orders->next->value);
  EXPECT_EQ(1000u, b->bid);
  EXPECT_TRUE(b->flags & kRqBidLoaded);
  // Every cut inside an order is incomplete and leaves the queue as read.
  const auto before = side_of(b, 0);
  const auto q2 = queue_bytes({{2000, {100, 200}}}, 990, true, true, ex->date);
  for (size_t n = 1; n < q2.size(); n++) {
    int r = decqueue_decode(b, 0, q2.data(), int32_t(n), 2, nullptr);
    EXPECT_EQ(0, r) << n;
    EXPECT_EQ(before, side_of(b, 0));
  }
  // Version 1 data carries no times.
  const auto q1 = queue_bytes({{1000, {100}}}, 990, false, true, ex->date);
  ASSERT_EQ(int(q1.size()), decqueue_decode(b, 1, q1.data(), int32_t(q1.size()), 1, nullptr));
  EXPECT_EQ((std::vector<Level>{{1000, 1, 100, {{100, "UBS"}}}}), side_of(b, 1));
}

// Emptying a side and the queue-loaded bit: an empty queue record and an
// empty depth list leave the side empty with best price 0 and loaded; a list
// that is not whole changes neither the side nor the bit.
TEST_F(DepthList, EmptiedSidesAndTheLoadedBit) {
  enum Reader { kQueue, kSummary, kWhole };
  enum Bytes { kNone, kEndMarker, kCut, kList };
  struct Case {
    const char* name;
    Reader reader;
    Bytes bytes;
    bool loaded_before;
    int result;  // -2: the whole list's length
    std::vector<Level> side;
    uint32_t bid;
    bool loaded;
  };
  const std::vector<Level> old_side = {{900, 1, 6, {{6, ""}}}};
  const std::vector<Level> new_side = {{1200, 1, 7, {{7, ""}}}};
  const Case cases[] = {
      {"empty queue record", kQueue, kNone, false, 0, {}, 0, true},
      {"empty queue record, side loaded", kQueue, kNone, true, 0, {}, 0, true},
      {"summary list of no levels", kSummary, kEndMarker, true, 1, {}, 0, true},
      {"full depth of no levels", kWhole, kEndMarker, false, 1, {}, 0, true},
      {"cut summary list, side loaded", kSummary, kCut, true, 0, old_side, 900, true},
      {"cut summary list, side not loaded", kSummary, kCut, false, 0, old_side, 900, false},
      {"whole summary list, side loaded", kSummary, kList, true, -2, new_side, 1200, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    build(a, 0, {{1200, {7}}});
    ASSERT_GT(encdepth_encode_levels(&out, a, 0, 0), 0);
    build(b, 0, {{900, {6}}});
    b->bid = 900;
    if (c.loaded_before) b->flags |= kRqBidLoaded;
    const uint8_t marker = 0;
    const uint8_t* data = c.bytes == kEndMarker ? &marker : out.data;
    const int32_t n = c.bytes == kNone ? 0 : c.bytes == kEndMarker ? 1 : c.bytes == kCut ? out.len - 1 : out.len;
    int r = c.reader == kQueue     ? decqueue_decode(b, 0, data, n, 2, nullptr)
            : c.reader == kSummary ? decdepth_decode(b, 0, data, n)
                                   : decdepth_decode_whole(b, 0, data, n);
    EXPECT_EQ(c.result == -2 ? out.len : c.result, r);
    EXPECT_EQ(c.side, side_of(b, 0));
    EXPECT_EQ(c.bid, b->bid);
    EXPECT_EQ(c.loaded, (b->flags & kRqBidLoaded) != 0);
  }
}

}  // namespace
