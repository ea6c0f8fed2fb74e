// The course of sales over a model built in the test: rows against a plain
// bucketing of the same trades (every grouping, random days, the full
// build, an older day appended and new trades merged in at the top), the
// interval edge cases, skip rules and hidden columns as tables, the routing
// of change bits with a counting client, and the exact export text.
#include "windows/tradelist.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "export/clipboard.h"
#include "lib/glrecord.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"
#include "dnd.h"
#include "uitest.h"
#include "undo.h"
#include "windows/depthwin.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// A trade as the tests describe it.
struct T {
  int h, m, s;
  uint32_t price;
  uint64_t volume;
  uint64_t bits = kTradeSetsLast | kTradeVolume;
  uint64_t codes = 0;
};

// One expected row: what a plain bucketing of the kept trades gives.
struct Row {
  ss_time from, to;
  uint32_t first, high, low, last, vwap;
  uint64_t volume, value, codes;
  uint32_t count;
};

struct Requests {
  int events = 0, days = 0;
  ss_time last_day = 0;
} g_req;
int count_events(instr *) { return ++g_req.events, 0; }
int count_days(instr *, ss_time d) {
  g_req.days++;
  g_req.last_day = d;
  return 0;
}
const tradelist_client kCounting = {count_events, count_days};

class Tradelist : public WidgetTest {
 public:
  ss_exchange *ex = nullptr;
  ss_stock *bhp = nullptr;
  tradelist *list = nullptr;
  ss_time today = 0;

 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(clipboard_init(), 0);
    ASSERT_EQ(fade_init(), 0);
    ssevent_enable_day_records(1);
    ex = ssmodel_exchange(0);
    today = sstime_pack_date(13, 6, 2024);  // a Thursday, in the past
    ssmodel_set_date(ex, today);
    bhp = ssmodel_get_stock(ex, "BHP");
    ASSERT_NE(bhp, nullptr);
    g_req = {};
    tradelist_set_client(&kCounting);
    list = tradelist_cast(tradelist_new(nullptr));
    ASSERT_NE(list, nullptr);
    list->r = {0, 0, 600, 2000};
    tradelist_set_instrument(list, bhp);
  }
  void TearDown() override {
    widget_delete(list);
    tradelist_set_client(nullptr);
    clipboard_shutdown();
    fade_fini();
    ssmodel_fini();
    WidgetTest::TearDown();
  }

  static ss_time at(ss_time date, int h, int m, int s) { return date + uint32_t(h * 3600 + m * 60 + s); }

  ss_trade *add(ss_stock *s, ss_time date, const T &t) {
    ss_trade *tr = ssmodel_add_trade(s, at(date, t.h, t.m, t.s), t.price, t.volume);
    tr->bits = t.bits | (t.codes ? kTradeConditions : 0);
    if (t.codes) ssmodel_set_trade_detail(tr, t.codes, 0, 0, 0, 0);
    return tr;
  }
  void add_today(const std::vector<T> &v) {
    for (const T &t : v) add(bhp, today, t);
    bhp->flags |= kRqTradesLoaded;
  }
  // A past day's trades, stored as the client stores a backfill.
  void add_day(ss_time date, const std::vector<T> &v) {
    ss_stock *scratch = ssmodel_scratch_stock_for(0, ex, "BHP");
    for (const T &t : v) add(scratch, date, t);
    ASSERT_EQ(ssevent_store_day_trades(bhp, date, scratch, nullptr), 0);
  }

  std::vector<const tradelist_row *> rows() const {
    std::vector<const tradelist_row *> out;
    for (const tradelist_row *r = list->first_row; r; r = r->older) out.push_back(r);
    return out;
  }
};

// The plain bucketing: kept trades newest first, consecutive ones with the
// same key in one row. Keys: none (each its own), (date, second / n), date,
// price.
std::vector<Row> bucket(const std::vector<std::pair<ss_time, T>> &trades, uint32_t seconds, bool by_price,
                        uint32_t off_market, bool vwap_only) {
  std::vector<Row> out;
  std::vector<unsigned __int128> pv;
  auto key = [&](ss_time t, const T &x) -> int64_t {
    if (by_price) return x.price;
    if (seconds == 86400) return t >> 17;
    if (seconds) return int64_t(t >> 17) * 1000000 + (t & 0x1FFFF) / seconds;
    return -1;
  };
  int64_t prev_key = -2;
  for (auto it = trades.rbegin(); it != trades.rend(); ++it) {
    const ss_time t = it->first;
    const T &x = it->second;
    if ((x.bits & kTradeCancelled) || x.price == 0) continue;
    if (x.codes && !off_market) continue;
    if (vwap_only && !(x.bits & kTradeSecond)) continue;
    int64_t k = key(t, x);
    if (out.empty() || k == -1 || k != prev_key) {
      out.push_back({t, t, x.price, x.price, x.price, x.price, 0, 0, 0, 0, 0});
      pv.push_back(0);
    }
    Row &r = out.back();
    unsigned __int128 &p = pv.back();
    r.from = t;
    r.first = x.price;
    r.high = std::max(r.high, x.price);
    r.low = std::min(r.low, x.price);
    r.volume += x.volume;
    r.count++;
    r.codes |= x.codes;
    p += (unsigned __int128)x.price * x.volume;
    r.value = uint64_t(p / 100);
    r.vwap = r.volume ? uint32_t((p + r.volume / 2) / r.volume) : 0;
    prev_key = k;
  }
  for (Row &r : out) {
    ss_time date = r.from & ~0x1FFFFu;
    if (seconds == 86400) {
      r.from = date;
      r.to = date + 86399;
    } else if (seconds) {
      uint32_t start = (r.from & 0x1FFFF) / seconds * seconds;
      r.from = date + start;
      r.to = date + std::min<uint32_t>(start + seconds, 86399);
    }
  }
  return out;
}

std::vector<T> random_day(std::mt19937 &rng, int n) {
  std::vector<T> v;
  int sec = 10 * 3600;
  for (int i = 0; i < n; i++) {
    sec += int(rng() % 40);
    T t{sec / 3600, sec / 60 % 60, sec % 60, 4500u + uint32_t(rng() % 4) * 5, 1 + rng() % 5000};
    uint32_t roll = rng() % 20;
    if (roll == 0) t.bits |= kTradeCancelled;
    if (roll == 1) t.price = 0;
    if (roll == 2) t.codes = 1ull << (rng() % 8);
    if (roll < 10) t.bits |= kTradeSecond;
    v.push_back(t);
  }
  return v;
}

void expect_rows(const std::vector<const tradelist_row *> &got, const std::vector<Row> &want, const char *what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size(); i++) {
    const tradelist_row &g = *got[i];
    const Row &w = want[i];
    SCOPED_TRACE(std::string(what) + " row " + std::to_string(i));
    EXPECT_EQ(g.from, w.from);
    EXPECT_EQ(g.to, w.to);
    EXPECT_EQ(g.first, w.first);
    EXPECT_EQ(g.last, w.last);
    EXPECT_EQ(g.high, w.high);
    EXPECT_EQ(g.low, w.low);
    EXPECT_EQ(g.volume, w.volume);
    EXPECT_EQ(g.value, w.value);
    EXPECT_EQ(g.vwap, w.vwap);
    EXPECT_EQ(g.count, w.count);
    EXPECT_EQ(g.codes, w.codes);
    if (i + 1 < got.size()) {
      EXPECT_EQ(g.change, int32_t(w.last - want[i + 1].last));
      EXPECT_EQ(g.vwap_change, int32_t(w.vwap - want[i + 1].vwap));
      EXPECT_EQ(g.has_older, 1u);
    } else {
      EXPECT_EQ(g.has_older, 0u) << "the oldest row has no change";
    }
  }
}

struct Grouping {
  const char *name;
  uint32_t seconds;
  bool price;
  bool vwap_only;
};
const Grouping kGroupings[] = {{"none", 0, false, false},   {"60 s", 60, false, false},
                               {"7 s", 7, false, false},    {"hour", 3600, false, false},
                               {"day", 86400, false, false}, {"price", 0, true, false},
                               {"vwap only", 0, false, true}};

void apply(tradelist *l, const Grouping &g) {
  l->group_by_seconds = g.seconds;
  l->group_by_price = g.price;
  l->vwap_only = g.vwap_only;
}

TEST_F(Tradelist, RowsEqualAPlainBucketingOfTheSameTrades) {
  std::mt19937 rng(34);
  std::vector<T> day = random_day(rng, 400);
  add_today(day);
  ss_time yesterday = sstime_sub_days(today, 1);
  std::vector<T> before = random_day(rng, 200);
  add_day(yesterday, before);
  std::vector<std::pair<ss_time, T>> all;
  for (const T &t : before) all.push_back({at(yesterday, t.h, t.m, t.s), t});
  for (const T &t : day) all.push_back({at(today, t.h, t.m, t.s), t});
  std::vector<std::pair<ss_time, T>> today_only(all.begin() + long(before.size()), all.end());
  for (const Grouping &g : kGroupings) {
    apply(list, g);
    tradelist_rebuild(list, 1);
    expect_rows(rows(), bucket(today_only, g.seconds, g.price, 1, g.vwap_only), g.name);
    tradelist_load_day(list, 0);
    EXPECT_EQ(list->oldest_day, yesterday) << g.name;
    expect_rows(rows(), bucket(all, g.seconds, g.price, 1, g.vwap_only), g.name);
  }
}

TEST_F(Tradelist, NewTradesMergeInAtTheTopAsAFullBuildWould) {
  std::mt19937 rng(7);
  std::vector<T> day = random_day(rng, 300);
  for (const Grouping &g : kGroupings) {
    ssmodel_free_trades(bhp);
    // Half the day first, then the rest arriving in small batches.
    size_t done = 150;
    add_today(std::vector<T>(day.begin(), day.begin() + long(done)));
    apply(list, g);
    tradelist_rebuild(list, 1);
    while (done < day.size()) {
      size_t next = std::min(day.size(), done + 1 + rng() % 7);
      for (size_t i = done; i < next; i++) add(bhp, today, day[i]);
      done = next;
      tradelist_rebuild(list, 0);
    }
    std::vector<std::pair<ss_time, T>> all;
    for (const T &t : day) all.push_back({at(today, t.h, t.m, t.s), t});
    expect_rows(rows(), bucket(all, g.seconds, g.price, 1, g.vwap_only), g.name);
  }
}

TEST_F(Tradelist, IntervalEdges) {
  add_today({{10, 0, 0, 100, 1}, {10, 0, 59, 101, 2}, {10, 1, 0, 102, 3}});
  list->group_by_seconds = 60;
  tradelist_rebuild(list, 1);
  auto r = rows();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0]->from, at(today, 10, 1, 0)) << "a trade at exactly 10:01:00 opens the next row";
  EXPECT_EQ(r[0]->to, at(today, 10, 2, 0));
  EXPECT_EQ(r[1]->from, at(today, 10, 0, 0));
  EXPECT_EQ(r[1]->to, at(today, 10, 1, 0));
  EXPECT_EQ(r[1]->volume, 3u);
  EXPECT_EQ(r[1]->first, 100u);
  EXPECT_EQ(r[1]->last, 101u);

  list->group_by_seconds = 86400;
  tradelist_rebuild(list, 1);
  r = rows();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0]->from, today);
  EXPECT_EQ(r[0]->to, at(today, 23, 59, 59));

  // Price grouping merges only neighbours in time.
  ssmodel_free_trades(bhp);
  add_today({{10, 0, 0, 100, 1}, {10, 0, 1, 100, 1}, {10, 0, 2, 105, 1}, {10, 0, 3, 100, 1}});
  list->group_by_seconds = 0;
  list->group_by_price = 1;
  tradelist_rebuild(list, 1);
  r = rows();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2]->count, 2u);
}

TEST_F(Tradelist, SecondsGroupingKeepsDatesApart) {
  add_today({{10, 0, 5, 200, 1}});
  add_day(sstime_sub_days(today, 1), {{10, 0, 6, 300, 1}});
  list->group_by_seconds = 60;
  tradelist_rebuild(list, 1);
  tradelist_load_day(list, 0);
  ASSERT_EQ(rows().size(), 2u) << "the same minute of two days is two rows";
}

TEST_F(Tradelist, ExactValueAndVwap) {
  // price x volume x 100 passes 2^64 here; the sum stays exact.
  const uint64_t big = 40000000000000000ull;
  add_today({{10, 0, 0, 4000000000u, big}, {10, 0, 1, 3, 2}, {10, 0, 2, 4, 2}});
  list->group_by_seconds = 60;
  tradelist_rebuild(list, 1);
  auto r = rows();
  ASSERT_EQ(r.size(), 1u);
  unsigned __int128 pv = (unsigned __int128)4000000000u * big + 3 * 2 + 4 * 2;
  EXPECT_EQ(r[0]->value, uint64_t(pv / 100));
  EXPECT_EQ(r[0]->volume, big + 4);
  EXPECT_EQ(r[0]->vwap, uint32_t((pv + (big + 4) / 2) / (big + 4)));
  // Small trades: 3 x 2 + 4 x 2 = 14 over 4 is 3.5, rounded up.
  ssmodel_free_trades(bhp);
  add_today({{10, 0, 1, 3, 2}, {10, 0, 2, 4, 2}});
  tradelist_rebuild(list, 1);
  EXPECT_EQ(rows()[0]->vwap, 4u);
  list->group_by_seconds = 0;
  tradelist_rebuild(list, 1);
  EXPECT_EQ(rows()[0]->vwap, 4u) << "a single trade's VWAP is its price";
}

TEST_F(Tradelist, SkipRules) {
  struct Case {
    const char *name;
    T trade;
    uint32_t off_market, vwap_only;
    ss_time from, to;  // range, as seconds of today; 0 open
    int skipped;
  } cases[] = {
      {"plain", {10, 0, 0, 100, 1}, 1, 0, 0, 0, 0},
      {"cancelled", {10, 0, 0, 100, 1, kTradeCancelled}, 1, 0, 0, 0, 1},
      {"price 0", {10, 0, 0, 0, 1}, 1, 0, 0, 0, 1},
      {"codes, off market on", {10, 0, 0, 100, 1, kTradeVolume, 0x2}, 1, 0, 0, 0, 0},
      {"codes, off market 0", {10, 0, 0, 100, 1, kTradeVolume, 0x2}, 0, 0, 0, 0, 1},
      {"vwap only without 0x80", {10, 0, 0, 100, 1}, 1, 1, 0, 0, 1},
      {"vwap only with 0x80", {10, 0, 0, 100, 1, kTradeSecond}, 1, 1, 0, 0, 0},
      {"before the range", {9, 59, 59, 100, 1}, 1, 0, 36000, 0, 1},
      {"at the range start", {10, 0, 0, 100, 1}, 1, 0, 36000, 0, 0},
      {"after the range", {11, 0, 1, 100, 1}, 1, 0, 0, 39600, 1},
  };
  for (const Case &c : cases) {
    ssmodel_free_trades(bhp);
    ss_trade *tr = add(bhp, today, c.trade);
    list->off_market = c.off_market;
    list->vwap_only = c.vwap_only;
    list->range_from = c.from ? today + c.from : 0;
    list->range_to = c.to ? today + c.to : 0;
    EXPECT_EQ(tradelist_skips(list, tr), c.skipped) << c.name;
  }
  tradelist_set_off_market(list, 0);
  EXPECT_EQ(list->off_market, 1u) << "0 is stored as 1";
}

TEST_F(Tradelist, HiddenColumnsFollowTheGrouping) {
  struct Case {
    uint32_t seconds, price;
    uint64_t hidden;
  } cases[] = {{0, 0, 0x1F82}, {60, 0, 0x2}, {86400, 0, 0x6}, {0, 1, 0x1F02}};
  for (const Case &c : cases) {
    list->group_by_seconds = c.seconds;
    list->group_by_price = c.price;
    EXPECT_EQ(tradelist_hidden_columns(list), c.hidden) << c.seconds << " " << c.price;
  }
  tradelist_set_group_by_seconds(list, 60);
  tradelist_set_group_by_price(list, 1);
  EXPECT_EQ(list->group_by_seconds, 0u) << "price grouping turns the seconds off";
  tradelist_set_group_by_seconds(list, 300);
  EXPECT_EQ(list->group_by_price, 0u);
}

ss_change change_of(uint32_t mask, instr *in) {
  ss_change c;
  c.mask = mask;
  c.instrument = in;
  c.count = 0;
  return c;
}

TEST_F(Tradelist, ChangeBitsRouteToTheirRebuilds) {
  // Handed nothing, then the stock again (as the window does): held once.
  tradelist_set_instrument(list, nullptr);
  tradelist_set_instrument(list, bhp);
  EXPECT_EQ(bhp->hold, 1u);
  // Not loaded: showing the list asks for today's events once.
  widget_show(list);
  EXPECT_EQ(g_req.events, 1);
  EXPECT_EQ(rows().size(), 0u);
  add_today({{10, 0, 0, 100, 1}, {10, 0, 1, 101, 1}});
  ss_change c = change_of(0x8000, bhp);  // all trades arrived
  tradelist_changed(&c, list, 0, 0);
  EXPECT_EQ(rows().size(), 2u);

  // A new trade: merged in at the top and flashing.
  add(bhp, today, {10, 0, 2, 102, 1});
  c = change_of(0x1000, bhp);
  tradelist_changed(&c, list, 0, 0);
  ASSERT_EQ(rows().size(), 3u);
  EXPECT_EQ(rows()[0]->last, 102u);
  EXPECT_NE(rows()[0]->fades[0].state, nullptr) << "the new row flashes";
  EXPECT_GE(list->timer, 0) << "a timer redraws while it fades";

  // A past day: asked once, loaded when it arrives.
  c = change_of(0x10000, bhp);
  tradelist_changed(&c, list, 0, 0);
  ss_time yesterday = sstime_sub_days(today, 1);
  EXPECT_EQ(g_req.days, 1);
  EXPECT_EQ(g_req.last_day, yesterday);
  tradelist_load_day(list, 0);
  EXPECT_EQ(g_req.days, 1) << "each day is asked for once";
  add_day(yesterday, {{15, 0, 0, 90, 5}});
  tradelist_changed(&c, list, 0, 0);
  ASSERT_EQ(rows().size(), 4u);
  EXPECT_EQ(rows().back()->last, 90u);
  EXPECT_EQ(list->oldest_day, yesterday);

  // Scrolled into the older day: new trades do not move the rows.
  list->position = at(yesterday, 15, 0, 0);
  add(bhp, today, {10, 0, 3, 103, 1});
  c = change_of(0x1000, bhp);
  tradelist_changed(&c, list, 0, 0);
  EXPECT_EQ(rows().size(), 4u);
  // A reset rebuilds in full, at the position's day.
  c = change_of(0x2, bhp);
  tradelist_changed(&c, list, 0, 0);
  ASSERT_EQ(rows().size(), 1u);
  EXPECT_EQ(rows()[0]->last, 90u);
  list->position = 0;
  tradelist_changed(&c, list, 0, 0);
  EXPECT_EQ(rows().size(), 4u) << "today again, with the new trade";

  // Hidden: nothing happens.
  widget_hide(list);
  add(bhp, today, {10, 0, 4, 104, 1});
  c = change_of(0x1000, bhp);
  tradelist_changed(&c, list, 0, 0);
  EXPECT_EQ(rows().size(), 4u);
}

TEST_F(Tradelist, ExtremesAreMarkedAmongTheShownRows) {
  add_today({{10, 0, 0, 100, 5}, {10, 0, 1, 120, 1}, {10, 0, 2, 90, 9}});
  tradelist_rebuild(list, 1);
  auto r = rows();
  ASSERT_EQ(r.size(), 3u);
  // Newest first: 90 x 9, 120 x 1, 100 x 5.
  EXPECT_TRUE(r[0]->marks & (1u << kTlLast)) << "smallest last";
  EXPECT_TRUE(r[1]->marks & (1u << kTlLast)) << "largest last";
  EXPECT_FALSE(r[2]->marks & (1u << kTlLast));
  EXPECT_TRUE(r[0]->marks & (1u << kTlVolume));
  EXPECT_FALSE(r[1]->marks & (1u << kTlVolume));
  EXPECT_FALSE(r[2]->marks & (1u << kTlChange)) << "the oldest row has no change to compare";
}

TEST_F(Tradelist, AClickOnARowReplaysDepthAtItsTime) {
  add_today({{10, 0, 0, 100, 1}, {10, 5, 0, 101, 1}, {10, 9, 30, 102, 1}});
  window *w = window_new(nullptr, 0);
  window_set_role(w, kRoleTradelist);
  w->r = {0, 0, 600, 400};
  widget_show(w);
  w->cls->show_children(w);
  w->cls->geometry_changed(w);
  window_set_instrument(w, bhp);
  auto *tl = tradelist_cast(window_get_content(w, kRoleTradelist));
  ASSERT_TRUE(widget_is_shown(tl));
  ASSERT_EQ(tl->row_count, 3u);
  const tradelist_row *second = tl->first_row->older;
  ASSERT_GE(second->y, 0);
  tl->cls->release(tl, tl->r.x + 20, second->y + 1, 1);
  EXPECT_EQ(w->role, kRoleDepth);
  EXPECT_EQ(tradelist_last_played_to(), at(today, 10, 5, 0));
  EXPECT_EQ(w->show_tools, 1u);
  widget *depth = window_get_content(w, kRoleDepth);
  const depthwin_book *b = depthwin_get_book(depth);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->target == at(today, 10, 5, 0) || depthwin_get_position(depth) == at(today, 10, 5, 0))
      << "the depth window plays to the row's end";
  // The window's selection scrolls: the top row follows it, the position
  // the top row's time.
  window_set_role(w, kRoleTradelist);
  window_select_row(w, 2);
  EXPECT_EQ(tl->top_row, tl->last_row);
  EXPECT_EQ(tl->position, at(today, 10, 0, 0));
  window_select_row(w, 0);
  EXPECT_EQ(tl->top_row, tl->first_row);
  EXPECT_EQ(tl->position, 0u);
  window_destroy_all();
}

TEST_F(Tradelist, SettingsComeBackThroughUndo) {
  ASSERT_EQ(undo_init(), 0);
  tradelist_set_group_by_seconds(list, 300);
  tradelist_set_vwap_only(list, 1);
  tradelist_set_range(list, at(today, 10, 0, 0), at(today, 12, 0, 0));
  undo_begin();
  EXPECT_EQ(undo_push_tradelist(list), 0);
  undo_end();
  tradelist_set_group_by_price(list, 1);
  tradelist_set_vwap_only(list, 0);
  tradelist_set_range(list, 0, 0);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(list->group_by_seconds, 300u);
  EXPECT_EQ(list->group_by_price, 0u);
  EXPECT_EQ(list->vwap_only, 1u);
  EXPECT_EQ(list->range_from, at(today, 10, 0, 0));
  EXPECT_EQ(list->range_to, at(today, 12, 0, 0));
  undo_fini();
}

TEST_F(Tradelist, ARowDraggedOntoAWindowShowsDepthAtItsTimeAsOneStep) {
  ASSERT_EQ(undo_init(), 0);
  add_today({{10, 0, 0, 100, 1}, {10, 5, 0, 101, 1}});
  list->r = {0, 0, 600, 400};
  widget_show(list);
  ASSERT_EQ(list->row_count, 2u);
  const tradelist_row *older = list->first_row->older;
  drag_record d = {};
  ASSERT_EQ(list->cls->drag_begin(list, 20, older->y + 1, 1, &d), 1);
  EXPECT_EQ(dnd_kind(), uint32_t(DND_STOCK));
  EXPECT_EQ(dnd_instrument(), bhp);
  EXPECT_EQ(dnd_time(), at(today, 10, 0, 0));
  window *w = window_new(nullptr, 0);
  window_set_role(w, kRoleWatchlist);
  EXPECT_EQ(list->cls->drag_release(list, w, 10, 10, 1, &d), 1);
  EXPECT_EQ(w->role, kRoleDepth);
  EXPECT_EQ(w->instrument, bhp);
  EXPECT_EQ(tradelist_last_played_to(), at(today, 10, 0, 0));
  EXPECT_EQ(w->show_tools, 1u);
  // One step takes it all back.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(w->role, kRoleWatchlist);
  EXPECT_EQ(w->instrument, nullptr);
  EXPECT_FALSE(undo_can_undo());
  dnd_clear();
  window_destroy_all();
  undo_fini();
}

// The draw, call by call: one highlight fill per marked cell, the news
// strip only on a row with news, nothing below the last whole row.
TEST_F(Tradelist, DrawingRecorded) {
  add_today({{10, 0, 0, 100, 5}, {10, 0, 1, 120, 1}, {10, 0, 2, 90, 9}});
  ss_issuer *is = ssmodel_get_issuer(ex, "BHP");
  ASSERT_NE(is, nullptr);
  ssmodel_add_news(is, 7, at(today, 10, 0, 1), nullptr, kNewsFlag1, "results");
  list->r = {0, 0, 600, 3 * 16 + 10};
  tradelist_rebuild(list, 1);
  auto count = [](const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
  };
  int marks = 0, news_rows = 0;
  for (const tradelist_row *r = list->first_row; r; r = r->older) {
    marks += __builtin_popcount(r->marks & ~uint32_t(tradelist_hidden_columns(list)));
    news_rows += r->news[0] + r->news[1] + r->news[2] ? 1 : 0;
  }
  EXPECT_EQ(news_rows, 1) << "the news lies in the middle row's interval";
  glrecord_scope rec;
  list->cls->draw(list);
  const std::string text = glrecord_text();
  // Without a style: the mark fill 0xff503020, the up colour 0xff00c000
  // (the news icon of a flag-1 item, and positive changes' text).
  // A fill is its colour followed by its four corners.
  EXPECT_EQ(count(text, "Color4ub(32,48,80,255)\nVertex2i"), marks) << text;
  EXPECT_GT(marks, 0);
  EXPECT_EQ(count(text, "Color4ub(0,192,0,255)\nVertex2i"), 1) << "one news icon";
}

TEST_F(Tradelist, ExportText) {
  add_today({{10, 0, 0, 4500, 100}, {10, 0, 30, 4510, 200}, {10, 1, 5, 4490, 1000, kTradeVolume, 0}});
  list->group_by_seconds = 60;
  tradelist_rebuild(list, 1);
  tradelist_export(list);
  const std::string want =
      "Date\tTo\tFirst\tLast\tChange\tVolume\tTurnover\tCount\tVWAP\tVWAP Change\tLow\tHigh\tCond Codes\n"
      "2024-06-13\t10:02:00\t44.9\t44.9\t-.2\t1,000\t$449\t1\t44.9\t-.17\t44.9\t44.9\t\n"
      "2024-06-13\t10:01:00\t45\t45.1\t\t300\t$135\t2\t45.07\t\t45\t45.1\t\n";
  EXPECT_EQ(std::string(clipboard_text()), want);
}

}  // namespace
