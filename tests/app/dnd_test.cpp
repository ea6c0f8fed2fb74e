// The drag state: what each start holds and answers (a table over the start
// operations and every query), a start ending the previous drag, a held
// scan watched and its deletion ending the drag, and the trade labels of
// today and of an earlier day.
#include "dnd.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "lib/wlist.h"
#include "listsmodel.h"
#include "ui/tooltip.h"

namespace {

using Dnd = ListsTest;

// Wednesday 10 June 2026, 14:00:00 local time.
time_t fixed_wall() {
  struct tm t {};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 5;
  t.tm_mday = 10;
  t.tm_hour = 14;
  t.tm_isdst = -1;
  return mktime(&t);
}

struct Held {
  uint32_t kind;
  instr *instrument, *subject, *object;
  ss_news *news;
  int tool;
  const char *label, *label2;
};

void expect_held(const Held &h, const char *what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(h.kind, dnd_kind());
  EXPECT_EQ(h.instrument, dnd_instrument());
  EXPECT_EQ(h.subject, dnd_subject());
  EXPECT_EQ(h.object, dnd_object());
  EXPECT_EQ(h.news, dnd_news_item());
  EXPECT_EQ(nullptr, dnd_scan());
  EXPECT_EQ(h.tool, dnd_is_tool_entry());
  EXPECT_STREQ(h.label, dnd_label());
  EXPECT_STREQ(h.label2, dnd_label2());
  EXPECT_EQ(h.label[0] != 0, tooltip_visible() != 0);
}

TEST_F(Dnd, EachStartHoldsItsObjectAndLabel) {
  ss_stock *bhp = stock(0, "BHP");
  ss_index *xjo = index(0, "XJO");
  ss_issuer *is = issuer(0, "BHP");
  ssmodel_set_names(is, "BHP Group", nullptr);
  ss_issuer *unnamed = issuer(0, "ZZZ");
  ssmodel_set_names(unnamed, "", nullptr);
  uint32_t codes[1] = {0};
  ss_news *item = ssmodel_add_news(is, 7, sstime_now(), codes, 0, "Quarterly report");
  ASSERT_NE(nullptr, item);

  dnd_begin_instr(bhp);
  expect_held({DND_STOCK, bhp, nullptr, bhp, nullptr, 0, "BHP", ""}, "instr: stock");
  dnd_begin_instr(xjo);
  // An index is held in its own field: the instrument field stays empty.
  expect_held({DND_INDEX, nullptr, nullptr, xjo, nullptr, 0, "XJO", ""}, "instr: index");
  dnd_begin_instr(is);
  expect_held({DND_ISSUER, nullptr, is, is, nullptr, 0, "BHP Group", ""}, "instr: issuer");
  dnd_begin_issuer(unnamed);
  expect_held({DND_ISSUER, nullptr, unnamed, unnamed, nullptr, 0, "ZZZ", ""}, "unnamed issuer: code");
  dnd_begin_stock(xjo);  // any instrument given as a stock
  expect_held({DND_STOCK, xjo, nullptr, xjo, nullptr, 0, "XJO", ""}, "stock");
  dnd_begin_news(is, item);
  expect_held({DND_NEWS, nullptr, is, is, item, 0, "BHP Group", "Quarterly report"}, "news");
  dnd_begin_profile(is);
  expect_held({DND_PROFILE, nullptr, is, is, nullptr, 0, "BHP Group", ""}, "profile");
  dnd_begin_tool_entry();
  expect_held({DND_TOOL_ENTRY, nullptr, nullptr, nullptr, nullptr, 1, "", ""}, "tool entry");
  dnd_begin_instr(bhp);
  dnd_begin_instr(nullptr);
  expect_held({DND_NONE, nullptr, nullptr, nullptr, nullptr, 0, "", ""}, "no instrument ends the drag");
  dnd_begin_news(is, item);
  dnd_clear();
  expect_held({DND_NONE, nullptr, nullptr, nullptr, nullptr, 0, "", ""}, "clear");
  EXPECT_EQ(0u, dnd_time());
}

TEST_F(Dnd, ScanHeldIsWatchedAndItsDeletionEndsTheDrag) {
  scan *s = scan_create("Top Rises", 0);
  ASSERT_NE(nullptr, s);
  dnd_begin_scan(s);
  EXPECT_EQ(DND_SCAN, dnd_kind());
  EXPECT_EQ(s, dnd_scan());
  EXPECT_STREQ("Top Rises", dnd_label());
  EXPECT_EQ(1, scan_watcher_count(s));
  EXPECT_EQ(-1, scan_delete(s)) << "a held scan is watched";

  // A stock drag started over it lets the scan go first.
  dnd_begin_stock(stock(0, "CBA"));
  EXPECT_EQ(0, scan_watcher_count(s));
  EXPECT_EQ(nullptr, dnd_scan());

  dnd_begin_scan(s);
  ASSERT_TRUE(tooltip_visible());
  scan_unlink(s);  // announces event 6 to its watchers
  EXPECT_EQ(DND_NONE, dnd_kind());
  EXPECT_EQ(nullptr, dnd_scan());
  EXPECT_STREQ("", dnd_label());
  EXPECT_FALSE(tooltip_visible());
  EXPECT_EQ(0, scan_watcher_count(s));
  EXPECT_EQ(0, scan_delete(s));
}

TEST_F(Dnd, UnnamedScansAreLabelledByWhatTheyList) {
  scan *smart = scan_create(nullptr, 0);
  ASSERT_NE(nullptr, smart);
  smart->name[0] = 0;
  dnd_begin_scan(smart);
  EXPECT_STREQ("New Smartlist", dnd_label());
  wlist *wl = wlist_create("mine", 0);
  ASSERT_NE(nullptr, wl);
  scan *listed = scan_create(nullptr, 0);
  scan_set_source(listed, wl);
  listed->name[0] = 0;
  dnd_begin_scan(listed);
  EXPECT_STREQ("New Watchlist", dnd_label());
  EXPECT_EQ(0, scan_watcher_count(smart));
  dnd_clear();
  EXPECT_EQ(0, scan_watcher_count(listed));
  scan_delete(listed);
  scan_delete(smart);
}

TEST_F(Dnd, TradeLabelAddsWeekdayAndOrdinalDayForAnEarlierDay) {
  sstime_set_test_wallclock(fixed_wall);
  sstime_set_base(1);
  ss_stock *bhp = stock(0, "BHP");
  ss_exchange *ex = ssmodel_exchange(0);
  ssmodel_set_delta(ex, sstime_pack(0, 0, 14, 10, 6, 2026));
  struct Row {
    ss_time time;
    const char *label2;
  } rows[] = {
      {sstime_pack(5, 4, 11, 10, 6, 2026), "11:04:05"},            // today
      {sstime_pack(5, 4, 11, 9, 6, 2026), "11:04:05 Tue 9th"},     // yesterday
      {sstime_pack(0, 30, 9, 1, 6, 2026), " 9:30:00 Mon 1st"},     // earlier this month
      {sstime_pack(0, 30, 16, 22, 5, 2026), "16:30:00 Fri 22nd"},  // last month
      {(ss_time)sstime_seconds_of_day(5, 4, 11), "11:04:05"},       // no date: today's
  };
  for (const Row &r : rows) {
    dnd_begin_trade(bhp, r.time);
    EXPECT_EQ(DND_STOCK, dnd_kind());
    EXPECT_EQ(bhp, dnd_object());
    EXPECT_EQ(r.time, dnd_time());
    EXPECT_STREQ("BHP", dnd_label());
    EXPECT_STREQ(r.label2, dnd_label2());
  }
  dnd_begin_stock(bhp);
  EXPECT_EQ(0u, dnd_time()) << "a new start clears the time";
  dnd_clear();
  sstime_set_test_wallclock(nullptr);
  sstime_set_base(1);
}

}  // namespace
