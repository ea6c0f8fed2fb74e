// Trade groups: known-answer bytes of the writer, the flag block rules, round
// trips of a stock's trades (brokers, conditions, second values, as-at dates)
// through the writer into a second stock, the loaded bits of recent and all
// trades, failed groups, past days folded into minute bars, and the
// amendment reader leaving the live first price alone.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "dectrades.h"
#include "enctrades.h"
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

struct Trade {
  ss_time time;
  uint32_t price;
  uint64_t volume;
  uint64_t bits;
  uint64_t conditions, second;
  uint32_t as_at;
  std::string buyer, seller;
  bool operator==(const Trade& o) const {
    return time == o.time && price == o.price && volume == o.volume && bits == o.bits && conditions == o.conditions &&
           second == o.second && as_at == o.as_at && buyer == o.buyer && seller == o.seller;
  }
};
void PrintTo(const Trade& t, std::ostream* os) {
  *os << "{" << t.time << " " << t.price << " " << t.volume << " f" << t.bits << " c" << t.conditions << " s"
      << t.second << " d" << t.as_at << " " << t.buyer << "/" << t.seller << "}";
}

std::string code_of(uint64_t b) { return b ? reinterpret_cast<const ss_broker*>(uintptr_t(b))->code : ""; }

std::vector<Trade> trades_of(const ss_stock* s) {
  std::vector<Trade> out;
  for (const ss_trade* t = s->trades.head; t; t = t->next) {
    Trade v{t->time, t->price, t->volume, t->bits & 0xFF, 0, 0, 0, "", ""};
    if (const ss_trade_detail* d = t->detail) {
      v.conditions = d->conditions;
      v.second = d->second_value;
      v.as_at = d->date;
      v.buyer = code_of(d->buyer);
      v.seller = code_of(d->seller);
    }
    out.push_back(v);
  }
  return out;
}

class Trades : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, ssmodel_init(12));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ssmodel_new_exchange(i, 0x112));
    lazyfree_set_delay(10);
    ASSERT_EQ(0, growbuf_init(&out, 4096, 4096));
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, day);
    a = ssmodel_get_stock(ex, "BHP");
    b = ssmodel_get_stock(ex, "RIO");
    a->last = b->last = 990;
  }
  void TearDown() override {
    dectrades_set_mode(0);
    ssevent_free_day_record(dectrades_take_bars());
    growbuf_free(&out);
    ssmodel_fini();
    ssclient_private_clear();
  }
  static ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 10, 2, 2014); }
  const ss_time day = sstime_pack(0, 0, 0, 10, 2, 2014);
  // n groups of one trade each, prices alternating so no two runs merge.
  void groups(int n) {
    for (int i = 0; i < n; i++) {
      enctrades_trade t = {at(10, 0, i), uint32_t(1000 + 10 * (i % 2)), 1000, kTradeFlagDefault, 0, 0, 0, nullptr,
                           nullptr};
      uint32_t ref = i ? uint32_t(1000 + 10 * ((i - 1) % 2)) : 990;
      ss_time run = i ? at(10, 0, i - 1) : day;
      ASSERT_GT(enctrades_encode_one(&out, &t, 1, &ref, &run, 0), 0);
    }
  }
  ss_exchange* ex;
  ss_stock* a;
  ss_stock* b;
  growbuf out{};
};

TEST_F(Trades, KnownAnswerBytes) {
  enctrades_trade t = {at(10, 0, 5), 1000, 1000, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr};
  uint32_t ref = 990;
  ss_time run = at(10, 0, 0);
  ASSERT_EQ(4, enctrades_encode_one(&out, &t, 1, &ref, &run, 0));
  EXPECT_EQ((std::vector<uint8_t>{0x01, 0x81, 0x05, 0x14}), std::vector<uint8_t>(out.data, out.data + out.len));
  EXPECT_EQ(1000u, ref);
  EXPECT_EQ(at(10, 0, 5), run);
  // Read back: the trade without a flag block has flag 142.
  uint32_t r2 = 990;
  ss_time run2 = at(10, 0, 0);
  ASSERT_EQ(4, dectrades_decode_one(out.data, out.len, b, &r2, &run2, 0, 0));
  EXPECT_EQ((std::vector<Trade>{{at(10, 0, 5), 1000, 1000, 142, 0, 0, 0, "", ""}}), trades_of(b));
}

TEST_F(Trades, AnEmptyGroupIsOneByte) {
  const uint8_t zero = 0;
  uint32_t ref = 990;
  ss_time run = day;
  EXPECT_EQ(1, dectrades_decode_one(&zero, 1, b, &ref, &run, 0, 0));
  EXPECT_EQ(0u, b->trades.count);
}

TEST_F(Trades, AnAsAtDateOfZeroIsDropped) {
  // k=1, price, +5 s, flag block with bit 6 and a zero date, volume.
  const uint8_t g[] = {0x01, 0x81, 0x05, 0x00, 0x4E, 0x00, 0x00, 0x14};
  uint32_t ref = 990;
  ss_time run = at(10, 0, 0);
  LogCapture log;
  ASSERT_EQ(int(sizeof g), dectrades_decode_one(g, sizeof g, b, &ref, &run, 0, 0));
  ASSERT_EQ(1u, b->trades.count);
  EXPECT_EQ(0x0Eu, b->trades.head->bits);
  EXPECT_EQ(nullptr, b->trades.head->detail);
  // A group is framed whole: a cut anywhere inside it is bad (-1), adds
  // nothing and moves neither reference.
  for (int n = 0; n < int(sizeof g); n++) {
    uint32_t r = 990;
    ss_time t = at(10, 0, 0);
    EXPECT_EQ(-1, dectrades_decode_one(g, n, b, &r, &t, 0, 0)) << n;
    EXPECT_EQ(990u, r) << n;
    EXPECT_EQ(at(10, 0, 0), t) << n;
  }
  EXPECT_EQ(1u, b->trades.count);
  // Logged once for the trade read, not for the cut copies nor twice for the
  // reader's check and apply passes.
  EXPECT_EQ(1, log.count(std::string(b->code) + ": no as at date?"));
}

TEST_F(Trades, RoundTripIntoASecondStockWithBrokers) {
  ex->flags |= kExBrokers;
  struct T {
    int s;
    uint32_t price;
    uint64_t volume;
    int sets_last, high_low, counts;
    uint64_t conditions, second;
    uint32_t date;
    const char *buyer, *seller;
  } rows[] = {
      {1, 1000, 1000, 1, 1, 1, 0, 0, 0, "UBS", "MQ"},
      {1, 1000, 0, 1, 1, 1, 0, 0, 0, "UBS", "MQ"},  // a zero volume needs a flag block
      {9, 1005, 12345, 0, 1, 1, 0x123456789ull, 0, 0, "ABCDEF", "ZQ3"},
      {40, 1005, 500, 1, 0, 1, 0, 77777, 0, "MQ", "UBS"},
      {3600, 880, 50, 1, 1, 0, 5, 6, sstime_pack(0, 0, 0, 7, 2, 2014), "UBS", "UBS"},
  };
  for (const T& r : rows)
    ASSERT_EQ(0, ssevent_apply_trade(a, at(10, 0, 0) + r.s, r.price, r.volume, r.sets_last, r.high_low, r.counts,
                                     r.counts, r.conditions, r.second, r.date, r.buyer, r.seller));
  ASSERT_GT(enctrades_encode_stock(&out, a, b->last, ex->date), 0);
  ASSERT_EQ(out.len, dectrades_decode_all(b, out.data, out.len));
  EXPECT_EQ(trades_of(a), trades_of(b));
  EXPECT_EQ(5u, b->trade_count);
  EXPECT_EQ(kRqRecentLoaded | kRqTradesLoaded, b->flags & (kRqRecentLoaded | kRqTradesLoaded | kRqTrades));
}

TEST_F(Trades, RecentTradesLoadedBits) {
  struct Case {
    int groups;
    uint32_t bits;
  } cases[] = {{9, kRqRecentLoaded | kRqTradesLoaded}, {10, kRqRecentLoaded}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.groups);
    TearDown();
    SetUp();
    b->trade_count = 77;
    groups(c.groups);
    ASSERT_EQ(out.len, dectrades_decode_recent(b, out.data, out.len));
    EXPECT_EQ(c.bits, b->flags & (kRqRecentLoaded | kRqTradesLoaded));
    EXPECT_EQ(uint32_t(c.groups), b->trades.count);
    EXPECT_EQ(77u, b->trade_count);  // recent trades leave the day's count
  }
}

TEST_F(Trades, AFailedGroupSetsNoLoadedBits) {
  groups(3);
  std::vector<uint8_t> cut(out.data, out.data + out.len - 1);
  LogCapture log;
  EXPECT_EQ(-1, dectrades_decode_all(b, cut.data(), int32_t(cut.size())));
  EXPECT_TRUE(log.has("can't decode ASX RIO all trades after 2 groups"));
  EXPECT_EQ(0u, b->flags & (kRqRecentLoaded | kRqTradesLoaded));
  EXPECT_EQ(0u, b->flags & kInLoading);
  EXPECT_TRUE(ex->flags & kExRecord);  // recording is back on
}

TEST_F(Trades, PastDaysFoldIntoMinuteBars) {
  // Trades at 00:00:10 and 00:00:50 (minute 0), 00:01:00 (minute 1).
  const ss_time d = sstime_pack(0, 0, 0, 7, 2, 2014);
  enctrades_trade t[] = {
      {d + 10, 1000, 100, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr},
      {d + 50, 1010, 200, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr},
      {d + 60, 990, 300, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr},
      {d + 61, 1000, 400, 0x01, 0, 0, 0, nullptr, nullptr},  // neither sets the last nor high-low
  };
  uint32_t ref = 0;
  ss_time run = d;
  for (auto& x : t) ASSERT_GT(enctrades_encode_one(&out, &x, 1, &ref, &run, 0), 0);
  ASSERT_EQ(out.len, dectrades_decode_prevday(b, d, out.data, out.len));
  ss_day_bars* bars = dectrades_take_bars();
  ASSERT_NE(nullptr, bars);
  ASSERT_EQ(2u, bars->count);
  EXPECT_EQ(d + 10, bars->bars[0].time);
  EXPECT_EQ((std::vector<uint64_t>{1000, 1010, 1000, 1010, 300}),
            (std::vector<uint64_t>{bars->bars[0].open, bars->bars[0].high, bars->bars[0].low, bars->bars[0].close,
                                   bars->bars[0].volume}));
  EXPECT_EQ(990u, bars->bars[1].open);
  EXPECT_EQ(300u, bars->bars[1].volume);
  ssevent_free_day_record(bars);
}

TEST_F(Trades, BarsStopAtSixHundred) {
  const ss_time d = sstime_pack(0, 0, 0, 7, 2, 2014);
  uint32_t ref = 0;
  ss_time run = d;
  for (int i = 0; i < 601; i++) {
    enctrades_trade x = {d + 60 * i, 1000, 100, kTradeFlagDefault, 0, 0, 0, nullptr, nullptr};
    ASSERT_GT(enctrades_encode_one(&out, &x, 1, &ref, &run, 0), 0);
  }
  dectrades_set_mode(1);
  ASSERT_EQ(out.len, dectrades_decode_prevday(b, d, out.data, out.len));
  ss_day_bars* bars = dectrades_take_bars();
  ASSERT_NE(nullptr, bars);
  EXPECT_EQ(600u, bars->count);
  EXPECT_EQ(100u, bars->bars[599].volume);  // the 601st minute went nowhere
  EXPECT_EQ(0u, b->trades.count);            // bars only
  ssevent_free_day_record(bars);
}

TEST_F(Trades, TheAmendReaderLeavesTheFirstPrice) {
  ASSERT_EQ(0, ssevent_apply_trade(b, at(10, 0, 0), 1000, 1000, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
  b->first_price = 990;
  // Trade 0, price 1000 against 990, volume 1000.
  const uint8_t m[] = {0x00, 0x00, 0x81, 0x14};
  EXPECT_EQ(0, dectrades_decode_amend(b, at(10, 1, 0), m, 3, 3));
  EXPECT_EQ(4, dectrades_decode_amend(b, at(10, 1, 0), m, 4, 3));
  EXPECT_EQ(990u, b->first_price);
  EXPECT_TRUE(b->trades.head->bits & kTradeCancelled);
}

}  // namespace

namespace {

// Before 2008-03-04 bit 7 of a sent flag byte follows its bit 1.
TEST_F(Trades, TheOldFlagRule) {
  struct Case {
    ss_time day;
    uint8_t sent;
    uint64_t stored;
  } cases[] = {
      {sstime_pack_date(3, 3, 2008), 0x06, 0x86},
      {sstime_pack_date(3, 3, 2008), 0x84, 0x04},
      {sstime_pack_date(4, 3, 2008), 0x06, 0x06},
      {sstime_pack_date(4, 3, 2008), 0x84, 0x84},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.day << " " << int(c.sent));
    ssmodel_free_trades(b);
    // One trade at 10:00 of the day with a flag block.
    uint32_t ref = 990;
    ss_time run = c.day;
    enctrades_trade t = {c.day + 36000, 1000, 1000, c.sent, 0, 0, 0, nullptr, nullptr};
    growbuf_reset(&out);
    ASSERT_GT(enctrades_encode_one(&out, &t, 1, &ref, &run, 0), 0);
    ref = 990;
    run = c.day;
    ASSERT_EQ(out.len, dectrades_decode_one(out.data, out.len, b, &ref, &run, 0, 0));
    ASSERT_EQ(1u, b->trades.count);
    EXPECT_EQ(c.stored, b->trades.head->bits);
  }
}

}  // namespace
