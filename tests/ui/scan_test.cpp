// Scans: clamping setters, the refresh queue on the 100 ms timer driven
// through the clock seam, temporary scan lifetime, clones, the source
// watchlist coupling and the configuration round trip.
#include "lib/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/autosave.h"
#include "lib/filter.h"
#include "lib/scan_refresh.h"
#include "listsmodel.h"
#include "sstrack.h"

namespace {

using Scan = ListsTest;

void count_prepare(scan* s, void* a, void* b) {
  (void)s;
  (void)b;
  ++*static_cast<int*>(a);
}

struct Events {
  std::vector<int> kinds;
};
void on_event(scan* s, int event, int32_t index, instr* in, void* owner, void* arg, uint32_t n) {
  (void)s;
  (void)index;
  (void)in;
  (void)owner;
  (void)n;
  static_cast<Events*>(arg)->kinds.push_back(event);
}

TEST_F(Scan, DefaultsAndClampingSetters) {
  scan* s = scan_new_temp();
  EXPECT_EQ(1u, s->instr_filter);
  EXPECT_EQ(7u, s->index_filter);
  EXPECT_EQ(1u, s->order);
  EXPECT_EQ(100u, s->limit);
  EXPECT_EQ(-1, s->vcmp);
  EXPECT_EQ(1, s->exchanges[0]);
  struct U32Row {
    void (*set)(scan*, uint32_t);
    uint32_t scan::*field;
    uint32_t in, out;
  } u32s[] = {
      {scan_set_limit, &scan::limit, 0, 500},         {scan_set_limit, &scan::limit, 501, 500},
      {scan_set_limit, &scan::limit, 1, 1},           {scan_set_limit, &scan::limit, 500, 500},
      {scan_set_min_price, &scan::min_price, 20000000, 10000000},
      {scan_set_min_price, &scan::min_price, kScanNoPrice, kScanNoPrice},
      {scan_set_max_price, &scan::max_price, 1234, 1234},
      {scan_set_instr_filter, &scan::instr_filter, 8, 12},
      {scan_set_order, &scan::order, 19, 19},         {scan_set_order, &scan::order, 20, 19},
      {scan_set_price_filter, &scan::price_filter, 9, 0},
      {scan_set_time_filter, &scan::time_filter, 9, 9},
  };
  for (const U32Row& r : u32s) {
    r.set(s, r.in);
    EXPECT_EQ(r.out, s->*r.field) << r.in;
  }
  scan_change_instr_filter(s, kScanNews, 0);  // clearing bit 2 also clears bit 3
  EXPECT_EQ(0u, s->instr_filter);
  struct I32Row {
    void (*set)(scan*, int32_t);
    int32_t scan::*field;
    int32_t in, out;
  } i32s[] = {{scan_set_min_trades, &scan::min_trades, -5, 0},
              {scan_set_min_trades, &scan::min_trades, -1, -1},
              {scan_set_max_trades, &scan::max_trades, 2000000, 1000000}};
  for (const I32Row& r : i32s) {
    r.set(s, r.in);
    EXPECT_EQ(r.out, s->*r.field) << r.in;
  }
  scan_set_max_mktcap(s, 2000000000000ull);
  EXPECT_EQ(1000000000000ull, s->max_mktcap);
  scan_set_min_turnover(s, kScanNoU64);
  EXPECT_EQ(kScanNoU64, s->min_turnover);
  EXPECT_EQ(1, scan_set_vcmp(s, 2));
  EXPECT_EQ(0, scan_set_vcmp(s, 3));
  EXPECT_EQ(0, scan_set_vcmp(s, 2));
  EXPECT_EQ(2, s->vcmp);
  scan_set_keyword(s, "0123456789012345678901234567890123456789");
  EXPECT_EQ(31u, strlen(s->keyword));
  scan_set_underlying(s, "ABCDEFGHIJKLMNOP");
  EXPECT_STREQ("ABCDEFGHIJK", s->underlying);
  scan_set_limit(s, 20);
  scan_pin_instr(s, stock(0, "PIN"));
  scan_set_limit(s, 30);
  EXPECT_EQ(20u, s->limit) << "a pinned scan keeps its limit";
  scan_delete(s);
}

TEST_F(Scan, QueueRefreshesOncePerSecondWithinATenthPerTick) {
  int refreshes = 0;
  scan* s = scan_create("q", 0);
  scan_set_prepare_hook(s, count_prepare, &refreshes, nullptr);
  int owner;
  Events ev;
  scan_watch(s, on_event, &owner, &ev, 0);
  EXPECT_EQ(1, scan_queue_count());
  int64_t t = g_lists_now += kScanTimerMs;  // the timer's first run is one interval after its start
  timer_run(t);
  EXPECT_EQ(1, refreshes);
  // Two changes within one tick: one refresh, and the settings event once.
  scan_set_order(s, 5);
  scan_set_reversed(s, 1);
  g_lists_now = t += 100;
  timer_run(t);
  EXPECT_EQ(2, refreshes);
  EXPECT_EQ(1, std::count(ev.kinds.begin(), ev.kinds.end(), kScanSettings));
  // Not again before a second has passed.
  for (int i = 1; i <= 9; i++) {
    g_lists_now = t + 100 * i;
    timer_run(g_lists_now);
  }
  EXPECT_EQ(2, refreshes);
  g_lists_now = t + 1000;
  timer_run(g_lists_now);
  EXPECT_EQ(3, refreshes);
  scan_unwatch(s, &owner);
  EXPECT_EQ(0, scan_queue_count());
  EXPECT_EQ(s, scan_find(s->id)) << "a registered scan stays without watchers";

  // 25 due scans: 25/10 + 1 = 3 refresh per tick, the queue rotating.
  int many = 0;
  int owners[25];
  for (int i = 0; i < 25; i++) {
    scan* x = scan_create(nullptr, 0);
    scan_set_prepare_hook(x, count_prepare, &many, nullptr);
    scan_watch(x, on_event, &owners[i], &ev, 0);
  }
  std::vector<int> per_tick;
  for (int k = 0; k < 9; k++) {
    int before = many;
    g_lists_now += 100;
    timer_run(g_lists_now);
    per_tick.push_back(many - before);
  }
  EXPECT_EQ((std::vector<int>{3, 3, 3, 3, 3, 3, 3, 3, 1}), per_tick);
  // A tick with nothing due refreshes nothing.
  g_lists_now += 100;
  int before = many;
  timer_run(g_lists_now);
  EXPECT_EQ(before, many);
  for (scan* x = scan_iter_begin(); x; x = scan_iter_next())
    for (int i = 0; i < 25; i++)
      if (scan_is_watched_by(x, &owners[i])) scan_unwatch(x, &owners[i]);
}

TEST_F(Scan, TemporaryScanDiesWithItsLastWatcher) {
  wlist* wl = wlist_create("src", 0);
  scan* t = scan_new_temp();
  scan_set_source(t, wl);
  EXPECT_STREQ("src", t->name);
  int a, b;
  Events ev;
  scan_watch(t, on_event, &a, &ev, 0);
  scan_watch(t, on_event, &b, &ev, 0);
  EXPECT_EQ(1, wl->watcher_count);
  scan_unwatch(t, &a);
  EXPECT_EQ(1, wl->watcher_count);
  scan_unwatch(t, &b);  // deleted: it no longer watches its source
  EXPECT_EQ(0, wl->watcher_count);
  EXPECT_EQ(0, scan_queue_count());
}

TEST_F(Scan, DeletingTheSourceWatchlistTellsTheWatchers) {
  wlist* wl = wlist_create("src", 0);
  scan* s = scan_create(nullptr, 0);
  scan_set_source(s, wl);
  int owner;
  Events ev;
  scan_watch(s, on_event, &owner, &ev, 0);
  wlist_rename(wl, "renamed");
  EXPECT_STREQ("renamed", s->name);
  wlist_delete(wl);
  EXPECT_EQ(nullptr, s->source);
  EXPECT_EQ((std::vector<int>{kScanRenamed, kScanDeleted}), ev.kinds);
  LogCapture log;
  EXPECT_EQ(-1, scan_delete(s));
  EXPECT_TRUE(log.has("because people are watching"));
  scan_unwatch(s, &owner);
  EXPECT_EQ(0, scan_delete(s));
}

TEST_F(Scan, CloneNaming) {
  scan* b = scan_create("B", 0);
  scan_set_order(b, 13);
  scan_filter(b);
  filter_add_code(b->group_filter, 0x10000000);
  scan* c = scan_clone(b);
  ASSERT_NE(nullptr, c);
  EXPECT_STREQ("B (2)", c->name);
  EXPECT_GT(c->id, b->id);
  EXPECT_TRUE(scan_equal(b, c));
  EXPECT_NE(b->group_filter, c->group_filter);
  scan* t = scan_clone_temp(b);
  EXPECT_STREQ("B", t->name);
  EXPECT_EQ(0, t->id);
  EXPECT_EQ(2, scan_count());
  scan* p = scan_new_preset("Top Rises");
  scan* reg = scan_clone_ex(p, 0, 1);
  EXPECT_STREQ("Top Rises", reg->name);
  EXPECT_EQ(1, p->fixed);
  EXPECT_EQ(0, reg->fixed);
  EXPECT_EQ(3, scan_count());
  EXPECT_EQ(-1, scan_id_at(3));
  scan_move(0, 9);
  EXPECT_EQ(b->id, scan_id_at(2));
}

// A stored configuration may hold the largest id there is: a new scan, made
// or registered from a temporary one, then takes the lowest free id.
TEST_F(Scan, AfterTheLargestIdTheLowestFreeIsHandedOut) {
  scan* one = scan_create("one", 0);
  ASSERT_NE(nullptr, one);
  ASSERT_EQ(1, one->id);
  ASSERT_NE(nullptr, scan_create("top", INT32_MAX));
  scan* two = scan_create("two", 0);
  ASSERT_NE(nullptr, two);
  EXPECT_EQ(2, two->id);
  scan* temp = scan_new_temp();
  ASSERT_NE(nullptr, temp);
  scan_register(temp);
  EXPECT_EQ(3, temp->id);
  EXPECT_EQ(temp, scan_find(3));
  ASSERT_EQ(0, scan_delete(one));
  scan* again = scan_create("again", 0);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, again->id);
  EXPECT_EQ(4, scan_count());
}

TEST_F(Scan, SaveAndLoadRoundTrip) {
  ss_stock* a = stock(0, "AAA");
  ss_stock* z = stock(1, "ZZZ");
  wlist* wl = wlist_create("list", 0);
  scan* s = scan_create("Everything set", 0);
  scan_set_instr_filter(s, kScanTraded | kScanSensitive | kScanIndices);
  scan_set_index_filter(s, 3);
  scan_set_price_filter(s, 6);
  scan_set_time_filter(s, 4);
  scan_set_change_filter(s, 2);
  scan_set_order(s, 14);
  scan_set_reversed(s, 1);
  scan_set_exchange(s, 1, 1);
  scan_set_exchange(s, 0, 0);
  scan_set_min_price(s, 100);
  scan_set_max_price(s, 900000);
  scan_set_min_turnover(s, 5000);
  scan_set_max_mktcap(s, 123456789012ull);
  scan_set_min_trades(s, 3);
  scan_set_vcmp(s, 1);
  scan_set_keyword(s, "gold mines");
  scan_set_underlying(s, "BHP");
  filter_add_code(scan_filter(s), 0x40100000);
  filter_set_anti_wild(&scan_filter(s)->flags, 1);
  scan_set_track(s, 0, 300, 0);
  ss_time fixed = 11 * 3600 + 30 * 60;  // a time of day
  scan_set_track(s, 1, 0, fixed);
  scan_append_result(s, z);
  scan_append_result(s, a);
  scan_freeze(s);
  scan* w = scan_create("by list", 0);
  scan_set_source(w, wl);
  scan_set_order(w, 0);
  scan_set_fixed(w, 1);
  config_out_reset();
  scan_save_all();
  std::string text = take_config_text();
  for (const char* key : {"scan.instr_filter 2d", "scan.keyword \"gold mines\"", "scan.exchange NZX",
                          "scan.group_filter.anti_wild_watchlists t", "scan.group_filter.gics.code 40100000",
                          "scan.frozen.instr S:NZX:ZZZ", "scan.track 0 t\nscan.track.delta_seconds 300",
                          "scan.track 1 t\nscan.track.fixed_point", "scan.source "})
    EXPECT_NE(std::string::npos, text.find(key)) << key << "\n" << text;
  int32_t sid = s->id, wid = w->id;
  scan_delete(s);
  scan_delete(w);
  ASSERT_EQ(0, config_load_buffer(text.data(), (int32_t)text.size()));
  config_autosave_cancel();
  ASSERT_EQ(2, scan_load_all());
  EXPECT_FALSE(config_autosave_pending()) << "loading is no change to save";
  EXPECT_EQ(0, scan_queue_count());
  scan* s2 = scan_find(sid);
  scan* w2 = scan_find(wid);
  ASSERT_TRUE(s2 && w2);
  EXPECT_STREQ("Everything set", s2->name);
  EXPECT_EQ(wl, w2->source);
  EXPECT_EQ(1, w2->fixed);
  EXPECT_EQ(0u, w2->order);
  EXPECT_EQ(kScanTraded | kScanNews | kScanSensitive | kScanIndices, s2->instr_filter);
  EXPECT_EQ(0, s2->exchanges[0]);
  EXPECT_EQ(1, s2->exchanges[1]);
  EXPECT_EQ(1, s2->frozen);
  ASSERT_EQ(2, s2->result_count);
  EXPECT_EQ((instr*)z, s2->results[0]);
  EXPECT_EQ((instr*)a, s2->results[1]);
  EXPECT_EQ(300u, s2->tracks[0].delta_seconds);
  EXPECT_EQ(fixed, s2->tracks[1].fixed_point);
  EXPECT_EQ(kScanNoU64, s2->min_volume);
  config_out_reset();
  // Equal settings and equal text when written again (the watched-list scan
  // keeps its source; the group filter is compared by value).
  scan* s3 = scan_new_temp();
  EXPECT_FALSE(scan_equal(s2, s3));
  scan_delete(s3);
  scan_save_all();
  EXPECT_EQ(text, take_config_text());
}

}  // namespace
