// Back-fills: a stock's day decoded from saved stock messages replaces its
// book, trades and figures only when the whole fill decodes; every way a fill
// can fail leaves the live stock byte for byte as it was, with yield points,
// the dispatcher's current exchange and change recording as before. The
// index fill: the tenths period, the absolute-change rule and the figures it
// corrects.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decfill.h"
#include "encode.h"
#include "enchdr.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"

namespace {

using Bytes = std::vector<uint8_t>;

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }

// Saved messages of one stock, with stock-stream headers, written against a
// record of the writer's own.
class Saved {
 public:
  Saved() { strcpy(w_.code, "BHP"); }
  Saved& depth(ss_time t, uint32_t price, uint64_t volume) {  // type 1: a bid at its price
    head(1, t);
    return field(encode_price(b_, price, &ref_)).field(encode_volume(b_, volume));
  }
  Saved& trade(ss_time t, uint32_t price, uint64_t volume) {  // type 29
    head(29, t);
    return field(encode_price(b_, price, &ref_)).field(encode_volume(b_, volume));
  }
  Saved& raw(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
  Bytes bytes;

 private:
  void head(uint32_t type, ss_time t) {
    const int n = enchdr_encode_stock_header(b_, &w_, type, t);
    bytes.insert(bytes.end(), b_, b_ + n);
  }
  Saved& field(int n) {
    bytes.insert(bytes.end(), b_, b_ + n);
    return *this;
  }
  ss_stock w_{};
  uint32_t ref_ = 0;
  uint8_t b_[32];
};

class Fill : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, ssclient_init(0, 12, 0x112));
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, kDay);
    live = ssmodel_get_stock(ex, "BHP");
    live->close = 990;
    live->first_price = 995;
    ASSERT_EQ(0, ssevent_apply_depth_summary(live, at(10, 0, 0), 0, 1000, 500, 1, nullptr));
    ASSERT_EQ(0, ssevent_apply_depth_summary(live, at(10, 0, 0), 1, 1010, 700, 1, nullptr));
    ASSERT_EQ(0, ssevent_apply_trade(live, at(10, 0, 1), 1005, 300, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
    ssproto_set_current_exchange(ex);
  }
  void TearDown() override { ssclient_fini(); }
  Bytes record() const {
    const auto* p = reinterpret_cast<const uint8_t*>(live);
    return Bytes(p, p + ssmodel_stock_size());
  }
  ss_exchange* ex;
  ss_stock* live;
};

TEST_F(Fill, AWholeFillReplacesTheDay) {
  Saved f;
  f.depth(at(10, 0, 0), 1000, 100).depth(at(10, 0, 2), 990, 200).trade(at(10, 5, 0), 1000, 50).trade(at(10, 9, 0),
                                                                                                       990, 60);
  LogCapture log;
  ASSERT_EQ(0, decfill_decode_trades(live, kDay, f.bytes.data(), int32_t(f.bytes.size())));
  EXPECT_TRUE(log.has("decoded BHP " + std::to_string(f.bytes.size()) + "/" + std::to_string(f.bytes.size())));
  EXPECT_TRUE(log.has("changing BHP ntrades from 1 to 2"));
  ASSERT_NE(nullptr, live->levels[0]);
  EXPECT_EQ(1000u, live->levels[0]->price);
  EXPECT_EQ(100u, live->levels[0]->volume);
  ASSERT_NE(nullptr, live->levels[0]->next);
  EXPECT_EQ(990u, live->levels[0]->next->price);
  EXPECT_EQ(nullptr, live->levels[1]) << "the fill holds no offers";
  ASSERT_EQ(2u, live->trades.count);
  EXPECT_EQ(990u, live->trades.tail->price);
  EXPECT_EQ(2u, live->trade_count);
  EXPECT_EQ(990u, live->last);
  EXPECT_EQ(110u, live->volume);
  EXPECT_EQ(995u, live->first_price) << "the live first price stays";
  EXPECT_EQ(1000u, live->bid);
  EXPECT_EQ(0u, live->flags & kInLoading);
}

TEST_F(Fill, AFailedFillLeavesTheLiveStockByteForByte) {
  Saved good;
  good.depth(at(10, 0, 0), 1000, 100).trade(at(10, 5, 0), 1000, 50);
  struct Case {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"cut short", Bytes(good.bytes.begin(), good.bytes.end() - 1)},
      {"a type no stock stream has", Saved(good).raw({0x00, 0xFE, 1, 2, 3}).bytes},
      {"a bad price", Saved(good).raw({0x1D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).bytes},
  };
  ssclient_enable_yield(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes before = record();
    const uint32_t ex_flags = ex->flags;
    LogCapture log;
    EXPECT_EQ(-1, decfill_decode_trades(live, kDay, c.bytes.data(), int32_t(c.bytes.size())));
    EXPECT_TRUE(log.has("error filling up BHP"));
    EXPECT_TRUE(before == record()) << "the live stock changed";
    EXPECT_EQ(ex_flags, ex->flags);
    EXPECT_EQ(1, ssclient_yield_enabled());
    EXPECT_EQ(ex, ssproto_current_exchange());
  }
}

TEST_F(Fill, IndexTicks) {
  struct Case {
    const char* name;
    ss_time date;
    uint32_t first;
    std::vector<int32_t> changes;
    uint32_t last;
    uint32_t ticks;  // 0: one per value
  } cases[] = {
      {"plain", sstime_pack_date(12, 3, 2014), 1234, {10, -4}, 1240, 0},
      {"tenths", sstime_pack_date(2, 3, 2008), 1234, {1}, 12350, 0},
      // Within the absolute period a rise above 90% of the value is the value.
      {"absolute", sstime_pack_date(18, 6, 2009), 2000, {1900, -100}, 1800, 0},
      {"small rise", sstime_pack_date(18, 6, 2009), 2000, {1700}, 3700, 0},
      // A running value of exactly 0 gives no value: that tick is skipped,
      // the ticks after it are applied.
      {"a zero in the middle", sstime_pack_date(12, 3, 2014), 1234, {-1234, 1300, 6}, 1306, 3},
      {"a zero first value", sstime_pack_date(12, 3, 2014), 0, {500, 20}, 520, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ss_index* x = ssmodel_get_index(ex, (std::string("X") + c.name).substr(0, 11).c_str());
    x->value = 77;  // a live last that the fill corrects
    Bytes b;
    uint8_t f[8];
    const ss_time t0 = c.date + 36000;
    b.insert(b.end(), f, f + encode_uint32(f, t0));
    b.insert(b.end(), f, f + encode_index(f, c.first));
    for (size_t i = 0; i < c.changes.size(); i++) {
      b.insert(b.end(), f, f + encode_uint32(f, t0 + 60 * uint32_t(i + 1)));
      b.insert(b.end(), f, f + encode_index_change(f, c.changes[i]));
    }
    LogCapture log;
    ASSERT_EQ(0, decfill_decode_index_ticks(x, c.date, b.data(), int32_t(b.size())));
    EXPECT_EQ(c.last, x->value);
    EXPECT_EQ(c.ticks ? c.ticks : c.changes.size() + 1, x->ticks.count);
    EXPECT_TRUE(log.has("from 77 to " + std::to_string(c.last)));
    // Cut short: refused, the index as it was.
    const uint32_t ticks = x->ticks.count;
    EXPECT_EQ(-1, decfill_decode_index_ticks(x, c.date, b.data(), int32_t(b.size()) - 1));
    EXPECT_EQ(c.last, x->value);
    EXPECT_EQ(ticks, x->ticks.count);
  }
}

}  // namespace
