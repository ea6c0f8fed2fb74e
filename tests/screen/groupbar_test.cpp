// The group bar without OS windows: the industry table, sensitivity of the
// finer codes under their sector and of the watchlist buttons under "At
// least one" / "Not in any", a toggle as one undo group that undo restores,
// and a watchlist created while the bar is up getting its button at the
// next deferred run.
#include "screen/groupbar.h"

#include <gtest/gtest.h>

#include <cstring>

#include "lib/filter.h"
#include "lib/wlist.h"
#include "screen/ticker.h"
#include "testlog.h"
#include "ui/button.h"
#include "undo.h"
#include "lib/scan.h"
#include "windows/watchlist.h"
#include "uitest.h"

namespace {

class GroupbarEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    object_init();
    ASSERT_EQ(filter_init(), 0);
    ASSERT_EQ(wlist_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(undo_init(), 0);
  }
};
const auto *const env = ::testing::AddGlobalTestEnvironment(new GroupbarEnv);

bool active(button *b) { return b && (b->state & BUTTON_ACTIVE); }
bool sensitive(button *b) { return b && button_is_sensitive(b); }

TEST(GroupbarTable, CodesAndLabels) {
  const groupbar_industry *t = groupbar_industries();
  EXPECT_STREQ(t[0].label, "Energy");
  EXPECT_EQ(t[0].code, 0x10000000u);
  EXPECT_STREQ(t[kGroupbarIndustries - 1].label, "Utilities");
  EXPECT_EQ(t[kGroupbarIndustries - 1].code, 0x55000000u);
  int sectors = 0;
  for (int i = 0; i < kGroupbarIndustries; i++)
    if (!(t[i].code & 0x00FFFFFF)) sectors++;
  EXPECT_EQ(sectors, 11);
}

TEST(GroupbarSensitivity, FinerCodesUnderTheirSector) {
  filter *f = filter_alloc();
  ASSERT_NE(f, nullptr);
  struct {
    uint32_t checked;  // 0 none
    uint32_t code;
    bool want;
  } cases[] = {
      {0, 0x40100000, true},          {0x40000000, 0x40100000, false}, {0x40000000, 0x40200000, false},
      {0x40000000, 0x40300000, false}, {0x40000000, 0x40000000, true}, {0x40000000, 0x45100000, true},
      {0x15000000, 0x15104000, false}, {0x15100000, 0x15104000, true}, {0x60000000, 0x60101000, false},
  };
  for (auto &c : cases) {
    filter_clear(f);
    if (c.checked) filter_add_code(f, c.checked);
    EXPECT_EQ(groupbar_code_sensitive(f, c.code), c.want) << std::hex << c.checked << " " << c.code;
  }
  filter_clear(f);
  EXPECT_TRUE(groupbar_wlists_sensitive(f));
  filter_set_wild(&f->flags, 1);
  EXPECT_FALSE(groupbar_wlists_sensitive(f));
  filter_set_wild(&f->flags, 0);
  filter_set_anti_wild(&f->flags, 1);
  EXPECT_FALSE(groupbar_wlists_sensitive(f));
  filter_free(f);
}

class Groupbar : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = wlist_create("Alpha", -1);
    b_ = wlist_create("Beta", -1);
    ASSERT_TRUE(a_ && b_);
    t_ = ticker_new(nullptr, 0);
    ASSERT_NE(t_, nullptr);
    bar_ = groupbar_new(nullptr);
    ASSERT_NE(bar_, nullptr);
    groupbar_set_target_ticker(bar_, t_);
    groupbar_schedule_rebuild(bar_);
    groupbar_run_pending(bar_);
  }
  void TearDown() override {
    widget_delete(bar_);
    widget_delete(t_);
    wlist_delete(a_);
    wlist_delete(b_);
  }
  wlist *a_ = nullptr, *b_ = nullptr;
  ticker *t_ = nullptr;
  widget *bar_ = nullptr;
};

TEST_F(Groupbar, FinancialChecksOffItsGroupsAndBack) {
  button *bank = groupbar_industry_button(bar_, 0x40100000);
  button *div = groupbar_industry_button(bar_, 0x40200000);
  button *ins = groupbar_industry_button(bar_, 0x40300000);
  ASSERT_TRUE(bank && div && ins);
  groupbar_toggle(bar_, kGroupbarCode, 0x40100000, 1);  // Banks on first
  groupbar_run_pending(bar_);
  EXPECT_TRUE(active(bank));
  groupbar_toggle(bar_, kGroupbarCode, 0x40000000, 1);
  groupbar_run_pending(bar_);
  EXPECT_TRUE(active(groupbar_industry_button(bar_, 0x40000000)));
  for (button *b : {bank, div, ins}) EXPECT_FALSE(sensitive(b));
  EXPECT_TRUE(sensitive(groupbar_industry_button(bar_, 0x45100000)));
  groupbar_toggle(bar_, kGroupbarCode, 0x40000000, 0);
  groupbar_run_pending(bar_);
  for (button *b : {bank, div, ins}) EXPECT_TRUE(sensitive(b));
  EXPECT_TRUE(active(bank));  // its own state kept
  EXPECT_FALSE(active(div));
}

TEST_F(Groupbar, WildMakesEveryWatchlistInsensitive) {
  button *wa = groupbar_wlist_button(bar_, wlist_id(a_));
  button *wb = groupbar_wlist_button(bar_, wlist_id(b_));
  ASSERT_TRUE(wa && wb);
  EXPECT_TRUE(sensitive(wa));
  groupbar_toggle(bar_, kGroupbarWlist, uint32_t(wlist_id(a_)), 1);
  groupbar_run_pending(bar_);
  EXPECT_TRUE(active(wa));
  EXPECT_TRUE(filter_has_watchlist(ticker_group_filter(t_), wlist_id(a_)));
  groupbar_toggle(bar_, kGroupbarWild, 0, 1);
  groupbar_run_pending(bar_);
  EXPECT_FALSE(sensitive(wa));
  EXPECT_FALSE(sensitive(wb));
  groupbar_toggle(bar_, kGroupbarWild, 0, 0);
  groupbar_toggle(bar_, kGroupbarAntiWild, 0, 1);
  groupbar_run_pending(bar_);
  EXPECT_FALSE(sensitive(wa));
  EXPECT_TRUE(filter_anti_wild(ticker_group_filter(t_)->flags));
}

TEST_F(Groupbar, ToggleIsOneUndoGroupThatRestores) {
  // A watchlist grid's scan as the target: its undo record holds the scan.
  watchlist *w = watchlist_new(nullptr, 0);
  ASSERT_NE(w, nullptr);
  scan *s = scan_alloc();
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(watchlist_set_scan(w, s), 0);
  groupbar_set_target_list(bar_, w);
  groupbar_run_pending(bar_);
  const int before = undo_count();
  groupbar_toggle(bar_, kGroupbarCode, 0x10000000, 1);
  EXPECT_EQ(undo_depth(), 0);
  EXPECT_GT(undo_count(), before);
  scan *now = watchlist_get_scan(w);
  ASSERT_NE(now, nullptr);
  EXPECT_TRUE(filter_has_code(scan_filter(now), 0x10000000));
  groupbar_run_pending(bar_);
  EXPECT_TRUE(active(groupbar_industry_button(bar_, 0x10000000)));
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(undo_count(), before);
  EXPECT_FALSE(filter_has_code(scan_filter(watchlist_get_scan(w)), 0x10000000));
  groupbar_set_target_ticker(bar_, t_);
  groupbar_run_pending(bar_);
  widget_delete(w);
}

TEST_F(Groupbar, NewWatchlistGetsItsButtonAtTheNextRun) {
  wlist *c = wlist_create("Gamma", -1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(groupbar_wlist_button(bar_, wlist_id(c)), nullptr);
  groupbar_schedule_rebuild(bar_);
  groupbar_run_pending(bar_);
  button *b = groupbar_wlist_button(bar_, wlist_id(c));
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(b->text, "Gamma");
  wlist_delete(c);
}

}  // namespace
