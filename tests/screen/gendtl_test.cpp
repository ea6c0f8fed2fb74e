// The general detail popup's rows per kind (condition flags, trading state,
// news range, volume comparison, auction), its mask lists, the size of an
// empty popup and the refresh timer running only while shown.
#include "screen/gendtl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "condcode.h"
#include "lib/fmt.h"
#include "lib/timer.h"
#include "ssmodel.h"
#include "ssstate.h"
#include "style.h"
#include "testlog.h"
#include "uitest.h"

namespace {

class GendtlEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    object_init();
    ASSERT_EQ(timer_init(), 0);
  }
};
const auto *const env = ::testing::AddGlobalTestEnvironment(new GendtlEnv);

class Gendtl : public ::testing::Test {
 protected:
  void SetUp() override { w_ = gendtl_new(nullptr); ASSERT_NE(w_, nullptr); }
  void TearDown() override { widget_delete(w_); }
  gendtl *g() { return gendtl_cast(w_); }
  std::string cell(uint32_t r, int c) { return gendtl_cell(w_, r, c); }
  widget *w_ = nullptr;
};

TEST(GendtlMasks, PerKind) {
  uint32_t m[5];
  struct {
    uint32_t kind;
    int n;
    uint32_t first, last;
  } cases[] = {{1, 2, 0x3, 0x2},         {2, 2, 0xC, 0x8},  {3, 2, 0x30, 0x20},
               {4, 3, 0x1C0, 0x100},     {5, 5, 0x3E00, 0x0400}, {6, 1, 0xC000, 0xC000}, {9, 0, 0, 0}};
  for (auto &c : cases) {
    ASSERT_EQ(gendtl_mask_list(c.kind, m), c.n) << c.kind;
    if (!c.n) continue;
    EXPECT_EQ(m[0], c.first) << c.kind;
    EXPECT_EQ(m[c.n - 1], c.last) << c.kind;
  }
}

TEST_F(Gendtl, ConditionFlagsOneRowPerBitEmptyIsOneRowHigh) {
  gendtl_fill_flags(w_, 0, "BHP", 0);
  EXPECT_EQ(g()->kind, 1u);
  EXPECT_EQ(g()->row_count, 0u);
  size z;
  w_->cls->reqsize(w_, &z);
  const style *st = style_cur();
  const int32_t rh = st && st->line_height > 0 ? st->line_height : 16;
  EXPECT_EQ(z.h, rh + 1);
  gendtl_fill_flags(w_, 0, "BHP", (1ull << 0) | (1ull << 5) | (1ull << 40));
  ASSERT_EQ(g()->row_count, 3u);
  const char *want = condcode_text(0, "BHP", 1ull << 5);
  EXPECT_EQ(cell(1, 0), want ? want : "");
  w_->cls->reqsize(w_, &z);
  EXPECT_EQ(z.h, 3 * (rh + 1));
}

TEST_F(Gendtl, StateWithAndWithoutResume) {
  gendtl_fill_value(w_, 1, 0);
  ASSERT_EQ(g()->row_count, 1u);
  EXPECT_EQ(cell(0, 4), ssstate_short_name(1));
  EXPECT_EQ(cell(0, 5), ssstate_long_name(1));
  const ss_time t = sstime_pack(0, 30, 14, 10, 6, 2026);
  gendtl_fill_value(w_, 1, t);
  ASSERT_EQ(g()->row_count, 2u);
  EXPECT_EQ(cell(1, 4), fmt_time_hms(t));
  EXPECT_EQ(cell(1, 5), "Resumes Trading");
}

TEST_F(Gendtl, VolumeBarsAndCappedPercent) {
  ss_stock s{};
  s.kind = kKindStock;
  gendtl_fill_volume(w_, &s);
  ASSERT_EQ(g()->row_count, 4u);
  for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(g()->rows[i].fraction, 0.0f) << i;
  EXPECT_EQ(cell(0, 9), "Today");
  s.volume = 500;
  s.vcmp_volume[0] = 1000;  // yesterday
  s.vcmp_volume[1] = 250;
  s.vcmp_volume[2] = 100;
  s.vcmp_pct[0] = -5000;
  s.vcmp_pct[1] = 100000;
  s.vcmp_pct[2] = 150000;
  gendtl_fill_volume(w_, &s);
  EXPECT_FLOAT_EQ(g()->rows[0].fraction, 0.5f);
  EXPECT_FLOAT_EQ(g()->rows[1].fraction, 1.0f);
  EXPECT_EQ(cell(1, 13), fmt_change_percent(-5000));
  EXPECT_EQ(cell(2, 13), fmt_change_percent(100000));
  EXPECT_EQ(cell(3, 13), fmt_percent_capped(150000));
  EXPECT_EQ(cell(0, 13), "");  // today has no comparison
  // The tick follows today's volume.
  s.volume = 2000;
  gendtl_tick(w_);
  EXPECT_FLOAT_EQ(g()->rows[0].fraction, 1.0f);
  EXPECT_FLOAT_EQ(g()->rows[1].fraction, 0.5f);
}

TEST_F(Gendtl, AuctionRowsAndDashes) {
  ss_stock s{};
  s.kind = kKindStock;
  s.close = 1234;
  ss_auction a{};
  a.matched = 77;
  a.surplus = -5;
  gendtl_fill_auction(w_, &s, &a, nullptr);
  ASSERT_EQ(g()->row_count, 12u);
  const char *labels[12] = {"", "Prev Close", "Volume", "", "Exec Price", "Exec Volume", "Surplus Volume", "",
                            "Top Buy", "Top Buy Volume", "Top Sell", "Top Sell Volume"};
  for (uint32_t i = 0; i < 12; i++) EXPECT_EQ(cell(i, 14), labels[i]) << i;
  EXPECT_TRUE(g()->rows[0].heading);
  EXPECT_EQ(cell(0, 15), "Pre Auction");
  EXPECT_EQ(cell(1, 15), fmt_price_small_cents_blank(1234));
  EXPECT_EQ(cell(4, 15), "-");
  EXPECT_EQ(cell(8, 15), "-");
  EXPECT_EQ(cell(5, 15), fmt_volume(77));
  EXPECT_EQ(cell(6, 15), fmt_volume_signed(-5));
  // A last price, given by the caller, replaces the previous close.
  gendtl_last o = {2000, 99};
  gendtl_fill_auction(w_, &s, &a, &o);
  EXPECT_EQ(cell(1, 14), "Last");
  EXPECT_EQ(cell(1, 15), fmt_price_small_cents_blank(2000));
  EXPECT_EQ(cell(2, 15), fmt_volume(99));
}

TEST_F(Gendtl, NewsRangeDatesOnlyFromAnEarlierDay) {
  ss_exchange ex{};
  ex.date = sstime_pack_date(10, 6, 2026);
  ss_issuer is{};
  is.kind = kKindIssuer;
  is.exchange = &ex;
  ss_news n[3] = {};
  const ss_time times[3] = {sstime_pack(0, 0, 15, 9, 6, 2026), sstime_pack(0, 5, 10, 10, 6, 2026),
                            sstime_pack(0, 0, 12, 11, 6, 2026)};
  for (int i = 0; i < 3; i++) {
    n[i].time = times[i];
    snprintf(n[i].headline, sizeof n[i].headline, "item %d", i);
    n[i].prev = i ? &n[i - 1] : nullptr;
    n[i].next = i < 2 ? &n[i + 1] : nullptr;
  }
  is.news.head = &n[0];
  is.news.tail = &n[2];
  is.news.count = 3;
  gendtl_fill_range(w_, &is, times[0], times[1]);
  ASSERT_EQ(g()->row_count, 2u);  // stops after `to`
  EXPECT_TRUE(g()->shown_columns & (1u << 6));
  EXPECT_FALSE(g()->shown_columns & (1u << 7));
  EXPECT_NE(cell(0, 6).find(fmt_time_hm(times[0])), std::string::npos);
  EXPECT_GT(cell(0, 6).size(), std::string(fmt_time_hm(times[0])).size());  // date before the time
  EXPECT_EQ(cell(1, 6), fmt_time_hm(times[1]));
  EXPECT_EQ(cell(1, 8), "item 1");
  gendtl_fill_today_news(w_, &is);
  ASSERT_EQ(g()->row_count, 1u);
  EXPECT_FALSE(g()->shown_columns & (1u << 6));
  EXPECT_TRUE(g()->shown_columns & (1u << 7));
}

TEST_F(Gendtl, RefreshTimerOnlyWhileShown) {
  EXPECT_EQ(g()->refresh_timer, -1);
  w_->cls->show_children(w_);
  EXPECT_GE(g()->refresh_timer, 0);
  const int32_t id = g()->refresh_timer;
  w_->cls->show_children(w_);
  EXPECT_EQ(g()->refresh_timer, id);  // not started twice
  w_->cls->hide_children(w_);
  EXPECT_EQ(g()->refresh_timer, -1);
}

}  // namespace
