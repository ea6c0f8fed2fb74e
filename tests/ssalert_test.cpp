// Alert filters: a table of filters (kinds, require, exclude) against a stock,
// an ordinary-code stock, an index and held instruments, checked against a
// plain reference predicate; fire counts and records one alert per match;
// registration order, unregistering and the event path that raises alerts.
#include "ssalert.h"

#include <gtest/gtest.h>

#include <vector>

#include "ssevent.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

class Alerts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    bhp = ssmodel_get_stock(asx, "BHP");
    opt = ssmodel_get_stock(asx, "BHPZZ9");
    opt->option_kind = 1;  // an option: an ordinary code
    xjo = ssmodel_get_index(asx, "XJO");
    ASSERT_TRUE(bhp && opt && xjo);
  }
  void TearDown() override { ssmodel_fini(); }
  // Alerts recorded since `from` (the ring's next slot moves once per record).
  static uint32_t recorded_since(uint32_t from) { return (ssevent_alert_next() + kAlertRingSize - from) % kAlertRingSize; }
  ss_exchange* asx = nullptr;
  ss_stock* bhp = nullptr;
  ss_stock* opt = nullptr;
  ss_index* xjo = nullptr;
};

// The reference: the conditions written out one by one.
bool expect_match(uint32_t kinds, uint32_t req, uint32_t exc, uint32_t bits, bool is_index, bool plain, bool held) {
  if (!(kinds & bits)) return false;
  bool cond[3] = {is_index, plain, held};
  for (int i = 0; i < 3; i++) {
    if ((req >> i & 1) && !cond[i]) return false;
    if ((exc >> i & 1) && cond[i]) return false;
  }
  return true;
}

TEST_F(Alerts, FilterTableAgainstReference) {
  struct row {
    uint32_t kinds, req, exc;
  };
  const row filters[] = {
      {0, 0, 0},   {0xffffffff, 0, 0}, {0x1, 0, 0},   {0x2, 0, 0},   {0x3, 0x1, 0}, {0x3, 0x1, 0x1},
      {0x3, 0x2, 0}, {0x3, 0, 0x2},    {0x3, 0x4, 0}, {0x3, 0, 0x4}, {0x3, 0x4, 0x1}, {0x3, 0x6, 0},
  };
  bhp->flags &= ~kInHeld;
  xjo->flags |= kInHeld;
  opt->flags |= kInHeld;
  struct target {
    instr* in;
    bool is_index, plain, held;
  };
  const target targets[] = {{bhp, false, false, false}, {opt, false, true, true}, {xjo, true, false, true}};
  for (const row& r : filters)
    for (const target& t : targets)
      for (uint32_t bits : {0x1u, 0x2u, 0x4u}) {
        ssalert_filter* f = ssalert_new();
        ASSERT_NE(nullptr, f);
        ssalert_clear_types(f);
        ssalert_add_types(f, r.kinds);
        ssalert_clear_kinds(f);
        ssalert_add_kinds(f, r.req);
        ssalert_clear_conds(f);
        ssalert_add_conds(f, r.exc);
        uint32_t before = ssevent_alert_next();
        int got = ssalert_match(f, t.in, 100, bits, nullptr);
        bool want = expect_match(r.kinds, r.req, r.exc, bits, t.is_index, t.plain, t.held);
        EXPECT_EQ(want ? 1 : 0, got) << r.kinds << "/" << r.req << "/" << r.exc << " on " << t.in->code << " bits "
                                     << bits;
        EXPECT_EQ(want ? 1u : 0u, recorded_since(before));
      }
}

TEST_F(Alerts, FireCountsEveryMatchingRegistration) {
  ssalert_filter* a = ssalert_new();
  ssalert_filter* b = ssalert_new();
  ssalert_filter* idx = ssalert_new();
  ssalert_add_types(a, 0x10);
  ssalert_add_types(b, 0x30);
  ssalert_add_types(idx, 0x10);
  ssalert_add_kinds(idx, kAlertCondIndex);
  for (ssalert_filter* f : {a, b, idx}) ASSERT_EQ(0, ssalert_register(f));
  EXPECT_EQ(3, ssalert_count());

  uint32_t before = ssevent_alert_next();
  EXPECT_EQ(2, ssalert_fire(bhp, 5, 0x10, nullptr));
  EXPECT_EQ(2u, recorded_since(before));
  EXPECT_EQ(3, ssalert_fire(xjo, 5, 0x10, nullptr));
  EXPECT_EQ(1, ssalert_fire(bhp, 5, 0x20, nullptr));
  EXPECT_EQ(0, ssalert_fire(bhp, 5, 0x40, nullptr));

  // Unregistering: the first registration goes; an unregistered filter
  // gives -1 and leaves the list alone.
  EXPECT_EQ(0, ssalert_unregister(b));
  EXPECT_EQ(-1, ssalert_unregister(b));
  EXPECT_EQ(2, ssalert_count());
  EXPECT_EQ(1, ssalert_fire(bhp, 5, 0x30, nullptr));
  // Registered twice: fires twice, and one unregister leaves one.
  ASSERT_EQ(0, ssalert_register(a));
  EXPECT_EQ(2, ssalert_fire(bhp, 5, 0x10, nullptr));
  EXPECT_EQ(0, ssalert_unregister(a));
  EXPECT_EQ(1, ssalert_fire(bhp, 5, 0x10, nullptr));
  EXPECT_EQ(0, ssalert_unregister(a));
  EXPECT_EQ(0, ssalert_unregister(idx));
  EXPECT_EQ(0, ssalert_count());
  EXPECT_EQ(0, ssalert_fire(xjo, 5, 0xffffffff, nullptr));
}

// A trade applied through the trade events reaches a registered filter.
TEST_F(Alerts, TradeEventFiresThroughFilters) {
  ssalert_filter* f = ssalert_new();
  ssalert_add_types(f, 0xffffffff);
  ASSERT_EQ(0, ssalert_register(f));
  uint32_t before = ssevent_alert_next();
  ASSERT_EQ(0, ssevent_apply_trade(bhp, 36000, 500, 10, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
  EXPECT_GE(recorded_since(before), 1u);
  ASSERT_EQ(0, ssalert_unregister(f));
  before = ssevent_alert_next();
  ASSERT_EQ(0, ssevent_apply_trade(bhp, 36001, 510, 10, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr));
  EXPECT_EQ(0u, recorded_since(before));
}

}  // namespace
