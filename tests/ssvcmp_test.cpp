// Volume comparison: quarters of the clock, sets made by hand after the wire
// layout and applied second by second under a wall clock the test moves
// (a 125-unit minute, factor minutes against the factor table worked out
// here, the running sum's cap), catch-up bounded to the quarter and applied
// once, promotion of next sets, the set requests, refused sets, an item count
// that claims more than the payload holds, and message 214 end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "encblk.h"
#include "encode.h"
#include "log.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "ssuser.h"
#include "ssvcmp.h"
#include "sstime.h"
#include "testclient.h"
#include "testlog.h"
#include "testmodel.h"
#include "testwire.h"

namespace {

using namespace testwire;

// Local time is UTC here, so the wall clock below reads as exchange time.
const bool g_utc = [] {
  setenv("TZ", "UTC", 1);
  tzset();
  return true;
}();

constexpr time_t kMidnight = 1391990400;  // 2014-02-10 00:00:00 UTC
time_t g_wall = kMidnight;
time_t wall() { return g_wall; }
void set_clock(int h, int m, int s) { g_wall = kMidnight + h * 3600 + m * 60 + s; }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, wall));

int no_sleep(int32_t) { return 0; }

// Requests the module made: exchange, quarter, init.
std::vector<std::vector<uint32_t>> g_requests;
int record_request(int32_t ex, uint32_t quarter, int init) {
  g_requests.push_back({uint32_t(ex), quarter, uint32_t(init)});
  return 0;
}
int logged_in() { return 1; }
const ssvcmp_hooks kHooks = {record_request, logged_in};

// Fields of a set.
Bytes u32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes vlong(uint64_t v) {
  uint64_t high = v >> 5;
  Bytes rest;
  while (high) {
    rest.push_back(uint8_t(high));
    high >>= 8;
  }
  Bytes b = {uint8_t(rest.size() << 5 | (v & 31))};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}
struct item {
  const char* code;
  uint64_t base;   // init sets only
  uint64_t total;
  uint16_t mask;
  Bytes factors;   // one per marked minute but the last
};
Bytes section(const std::vector<item>& items, bool init) {
  Bytes b = u32(uint32_t(items.size()));
  for (const item& i : items) {
    b = cat({b, code3(i.code)});
    if (init) b = cat({b, vlong(i.base)});
    b = cat({b, vlong(i.total)});
    if (i.total) b = cat({b, {uint8_t(i.mask >> 8), uint8_t(i.mask)}, i.factors});
  }
  return b;
}
// A set with one section per reference given.
Bytes set_bytes(uint32_t announced, const std::vector<std::vector<item>>& refs, bool init) {
  Bytes b = announced < 0x80 ? Bytes{uint8_t(announced)}
                             : Bytes{0xF0, uint8_t(announced), uint8_t(announced >> 8), uint8_t(announced >> 16),
                                     uint8_t(announced >> 24)};
  for (const auto& r : refs) b = cat({b, section(r, init)});
  return b;
}

class Vcmp : public ::testing::Test {
 protected:
  void SetUp() override {
    set_clock(10, 30, 0);
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_yield(0);
    ssclient_set_sleep_hook(no_sleep);
    sstime_refresh(1);
    ssuser_set(1, 0, 0x1 | 0x4);  // exchanges 0 and 3
    ex = ssmodel_exchange(0);
    ASSERT_NE(nullptr, ex);
    ssmodel_set_date(ex, sstime_pack_date(10, 2, 2014));
    ssmodel_set_date(ssmodel_exchange(3), sstime_pack_date(10, 2, 2014));
    bhp = ssmodel_get_stock(ex, "BHP");
    rio = ssmodel_get_stock(ex, "RIO");
    ASSERT_TRUE(bhp && rio);
    ssvcmp_set_hooks(&kHooks);
    g_requests.clear();
    ssvcmp_start();
  }
  void TearDown() override { ssclient_fini(); }
  int apply(const Bytes& b, uint32_t quarter, int init, int32_t version = 1, ss_exchange* e = nullptr) {
    return ssvcmp_apply(e ? e : ex, 0, quarter, init, b.data(), int32_t(b.size()), version);
  }
  // Moves the clock one second at a time up to h:m:s, ticking each second.
  void run_to(int h, int m, int s) {
    const time_t end = kMidnight + h * 3600 + m * 60 + s;
    while (g_wall < end) {
      g_wall++;
      ssvcmp_tick();
    }
  }
  ss_exchange* ex = nullptr;
  ss_stock* bhp = nullptr;
  ss_stock* rio = nullptr;
};

TEST(VcmpQuarter, QuarterOfTheDay) {
  const struct {
    int32_t s;
    uint32_t q;
  } cases[] = {{0, 0}, {10 * 3600 + 37 * 60 + 12, 1030}, {10 * 3600 + 45 * 60, 1045}, {10 * 3600 + 44 * 60 + 59, 1030},
               {18 * 3600 + 59 * 60 + 59, 1845}, {23 * 3600 + 59 * 60 + 59, 2345}, {8 * 3600, 800}};
  for (const auto& c : cases) EXPECT_EQ(c.q, ssvcmp_quarter(c.s)) << c.s;
}

TEST_F(Vcmp, StartAsksForTheCurrentSetsOfTheComparedExchanges) {
  EXPECT_EQ((std::vector<std::vector<uint32_t>>{{0, 1030, 1}, {3, 1030, 1}}), g_requests);
  // Outside the trading day the fallback set.
  g_requests.clear();
  set_clock(20, 0, 0);
  ssvcmp_request_current();
  EXPECT_EQ((std::vector<std::vector<uint32_t>>{{0, kVcmpFallbackSet, 1}, {3, kVcmpFallbackSet, 1}}), g_requests);
  // The next sets: the quarter after the clock's.
  g_requests.clear();
  set_clock(10, 37, 12);
  ssvcmp_request_next();
  EXPECT_EQ((std::vector<std::vector<uint32_t>>{{0, 1045, 0}, {3, 1045, 0}}), g_requests);
}

// 125 units in one minute: 2 a second for 55 seconds, then 3, ending exactly
// at the end value at second 59.
TEST_F(Vcmp, AMinuteOf125SpreadsTwoThenThree) {
  set_clock(10, 29, 59);
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 1000, 125, 0x0001, {}}}}, true), 1030, 1));
  EXPECT_EQ(1000u, bhp->vcmp_volume[0]);
  std::vector<uint64_t> steps;
  uint64_t before = bhp->vcmp_volume[0];
  for (int s = 0; s < 60; s++) {
    run_to(10, 30, s);
    steps.push_back(bhp->vcmp_volume[0] - before);
    before = bhp->vcmp_volume[0];
  }
  for (int s = 0; s < 55; s++) EXPECT_EQ(2u, steps[size_t(s)]) << s;
  for (int s = 55; s < 60; s++) EXPECT_EQ(3u, steps[size_t(s)]) << s;
  EXPECT_EQ(1125u, bhp->vcmp_volume[0]);
  // The difference and percent follow the stock's volume (0 here).
  EXPECT_EQ(-1125, bhp->vcmp_diff[0]);
  EXPECT_EQ(-10000, bhp->vcmp_pct[0]);
  // A stock without comparison volume shows 0 percent.
  EXPECT_EQ(0, rio->vcmp_pct[0]);
}

// Minutes from factors: lrint(total x factor) for each marked minute but the
// last, the last takes the rest; the running sum never passes the total.
TEST_F(Vcmp, FactorMinutesAndTheirCap) {
  set_clock(10, 29, 59);
  const uint64_t m0 = uint64_t(std::llrint(1000.0 * double(kVcmpFactors[128])));
  const uint64_t m1 = uint64_t(std::llrint(1000.0 * double(kVcmpFactors[200])));
  ASSERT_EQ(46u, m0);  // the table's values as written
  ASSERT_EQ(200u, m1);
  const Bytes b = set_bytes(2,
                            {{{"BHP", 0, 1000, 0x0007, {128, 200}}, {"RIO", 0, 1000, 0x0103, {255, 255}}}},
                            true);
  ASSERT_EQ(0, apply(b, 1030, 1));
  const struct {
    int minute;
    uint64_t bhp, rio;
  } ends[] = {{0, m0, 1000}, {1, m0 + m1, 1000}, {2, 1000, 1000}, {8, 1000, 1000}, {14, 1000, 1000}};
  for (const auto& e : ends) {
    run_to(10, 30 + e.minute, 59);
    EXPECT_EQ(e.bhp, bhp->vcmp_volume[0]) << e.minute;
    EXPECT_EQ(e.rio, rio->vcmp_volume[0]) << e.minute;
  }
}

// A set that arrives mid-quarter catches up to the clock once; a clock past
// the quarter is bounded to it.
TEST_F(Vcmp, CatchUpIsBoundedAndAppliedOnce) {
  set_clock(10, 37, 12);
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 1000, 125, 1u << 7, {}}, {"RIO", 0, 60, 1u << 2, {}}}}, true), 1030, 1));
  EXPECT_EQ(1000u + 13 * 2, bhp->vcmp_volume[0]);  // seconds 0-12 of minute 7
  EXPECT_EQ(60u, rio->vcmp_volume[0]);              // minute 2 is over
  ssvcmp_tick();                                    // the same second again
  EXPECT_EQ(1000u + 13 * 2, bhp->vcmp_volume[0]);
  run_to(10, 37, 13);
  EXPECT_EQ(1000u + 14 * 2, bhp->vcmp_volume[0]);
  run_to(10, 37, 59);
  EXPECT_EQ(1125u, bhp->vcmp_volume[0]);

  set_clock(10, 50, 0);
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 500, 125, 1u << 14, {}}}}, true), 1030, 1));
  EXPECT_EQ(625u, bhp->vcmp_volume[0]);
}

TEST_F(Vcmp, NextSetIsPromotedAtItsQuarter) {
  set_clock(10, 44, 0);
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 1000, 60, 1u << 14, {}}}}, true), 1030, 1));
  // The next set's base is the current set's end value for the stock.
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 0, 120, 1u << 0, {}}}}, false), 1045, 0));
  run_to(10, 44, 59);
  EXPECT_EQ(1030u, ssvcmp_current_quarter(0));
  EXPECT_EQ(1060u, bhp->vcmp_volume[0]);
  run_to(10, 45, 0);
  EXPECT_EQ(1045u, ssvcmp_current_quarter(0));
  EXPECT_EQ(0u, ssvcmp_next_quarter(0));
  EXPECT_EQ(1062u, bhp->vcmp_volume[0]);
  run_to(10, 45, 59);
  EXPECT_EQ(1180u, bhp->vcmp_volume[0]);
}

TEST_F(Vcmp, NextSetAfterItsQuarterBeganIsPromotedWithoutACurrentSet) {
  set_clock(10, 46, 0);
  ssvcmp_tick();
  ASSERT_EQ(0, apply(set_bytes(1, {{{"BHP", 0, 60, 1u << 1, {}}}}, false), 1045, 0));
  run_to(10, 46, 1);
  EXPECT_EQ(1045u, ssvcmp_current_quarter(0));
  run_to(10, 46, 59);
  EXPECT_EQ(60u, bhp->vcmp_volume[0]);
}

TEST_F(Vcmp, RefusedSets) {
  LogCapture log;
  const Bytes b = set_bytes(1, {{{"BHP", 1000, 125, 1, {}}}}, true);
  EXPECT_EQ(0, apply(b, 1030, 1, 2));
  EXPECT_EQ(1, log.count("ignoring vcmp version 2"));
  EXPECT_EQ(0u, bhp->vcmp_volume[0]);
  EXPECT_EQ(-1, apply(b, 1030, 1, 1, ssmodel_exchange(2)));
  EXPECT_EQ(1, log.count("not doing GLB vcmp"));
  EXPECT_EQ(0u, ssvcmp_current_quarter(2));
  // A count that claims far more items than the bytes hold is sized by the
  // bytes; every update record comes back when the set goes.
  EXPECT_EQ(0, apply(set_bytes(0xFFFFFFF0u, {{{"BHP", 1000, 125, 1, {}}}}, true), 1030, 1));
  EXPECT_EQ(1002u, bhp->vcmp_volume[0]);  // caught up to 10:30:00: one second of 2
  EXPECT_EQ(kVcmpUpdatePool - 1, ssvcmp_free_updates());
  ssvcmp_reset_exchange(ex);
  EXPECT_EQ(kVcmpUpdatePool, ssvcmp_free_updates());
  EXPECT_EQ(0u, bhp->vcmp_volume[0]);
  EXPECT_EQ(1, log.count("vcmps"));
}

TEST_F(Vcmp, Message214ThroughTheDispatcher) {
  const Bytes select = {0x00, 53};  // exchange 1 current
  ASSERT_EQ(2, ssproto_decode(select.data(), 2));
  const Bytes payload = set_bytes(1, {{{"BHP", 1000, 125, 1, {}}}}, true);
  growbuf gb;
  ASSERT_EQ(0, growbuf_init(&gb, 256, 256));
  ASSERT_EQ(0, encblk_write(&gb, payload.data(), int32_t(payload.size())));
  const ss_time date = sstime_pack_date(10, 2, 2014);
  // Exchange 0, version 1, the date, 10:30 as 1030, initial load, the block.
  Bytes m = {0x00, 214, 0, 1};
  uint8_t d[4];
  const int n = encode_date16(d, date);
  m.insert(m.end(), d, d + n);
  m = cat({m, {uint8_t(1030 >> 8), uint8_t(1030 & 0xff), 1}, Bytes(gb.data, gb.data + gb.len)});
  growbuf_free(&gb);
  LogCapture log;
  ASSERT_EQ(int(m.size()), ssproto_decode(m.data(), int32_t(m.size())));
  EXPECT_TRUE(log.has("ASX 2014-02-10 1030 init vcmp"));
  EXPECT_EQ(1030u, ssvcmp_current_quarter(0));
  EXPECT_EQ(1002u, bhp->vcmp_volume[0]);  // caught up to 10:30:00
  EXPECT_EQ(ssmodel_exchange(1), ssproto_current_exchange());
  for (int i = 0; i < 4; i++) EXPECT_EQ(kProtoPositionNone, ssproto_exchange_position(i));
}

}  // namespace
