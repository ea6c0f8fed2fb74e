// Global index values: the record written with encglobal reads back into a
// fresh model; each index's change in percent is against its previous value
// (not its first value of the day); an incomplete record changes nothing.
#include <gtest/gtest.h>

#include <vector>

#include "decglobal.h"
#include "ssclient.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

struct Row {
  const char* code;
  uint32_t base, first, high, low, last;
  int32_t change, pct;  // expected: last - base, and its hundredths of a percent of base
};

const Row kRows[] = {
    {"DJI", 1000000, 900000, 1200000, 890000, 1100000, 100000, 1000},
    {"FTSE", 650000, 651000, 652000, 640000, 645000, -5000, -77},  // -76.92 rounds to -77
    {"N225", 1500000, 1500000, 1500000, 1500000, 1500000, 0, 0},
};

TEST(GlobalValues, RoundTripAndPercentAgainstThePreviousValue) {
  ssclient_fini();
  ASSERT_NO_FATAL_FAILURE(start_terminal_model());
  ss_exchange* ex = ssmodel_exchange(kExchangeGlb);
  for (const Row& r : kRows) {
    ss_index* x = ssmodel_get_index(ex, r.code);
    x->base = r.base;
    x->open = r.first;
    x->high = r.high;
    x->low = r.low;
    x->value = r.last;
    x->last_tick_time = sstime_pack(0, 0, 16, 12, 3, 2014);
  }
  growbuf gb;
  growbuf_init(&gb, 4096, 4096);
  ASSERT_EQ(0, encglobal_encode(&gb));
  std::vector<uint8_t> bytes(gb.data, gb.data + gb.len);
  growbuf_free(&gb);
  ssmodel_fini();
  ASSERT_NO_FATAL_FAILURE(start_terminal_model());
  ex = ssmodel_exchange(kExchangeGlb);
  ASSERT_EQ(0, bytes[0]);
  ASSERT_EQ(kGlobalValuesType, bytes[1]);
  const uint8_t* body = bytes.data() + 2;
  const int32_t n = int32_t(bytes.size() - 2);
  for (int32_t cut = 0; cut < n; cut++) EXPECT_EQ(0, decglobal_decode(body, cut)) << cut;
  EXPECT_EQ(0u, ex->indices.count);
  ASSERT_EQ(n, decglobal_decode(body, n));
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.code);
    ss_index* x = ssmodel_find_index(ex, r.code);
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(r.base, x->base);
    EXPECT_EQ(r.first, x->open);
    EXPECT_EQ(r.high, x->high);
    EXPECT_EQ(r.low, x->low);
    EXPECT_EQ(r.last, x->value);
    EXPECT_EQ(sstime_pack(0, 0, 16, 12, 3, 2014), x->last_tick_time);
    EXPECT_EQ(r.change, x->change);
    EXPECT_EQ(r.pct, x->change_pct);
    EXPECT_TRUE(x->flags & kInCurrent);
  }
  ssmodel_fini();
}

}  // namespace
