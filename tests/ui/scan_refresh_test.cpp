// Scan evaluation against a brute-force reference: a seeded model of stocks
// is filtered and sorted by a plain key-and-code ordering written here, cut
// to the limit, and compared with the evaluator's result for all twenty
// orders in both directions, for full and incremental refreshes under
// random market changes; the published events, applied to the old result
// row by row (found by instrument), must give the new one.
#include "lib/scan_refresh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/scan.h"
#include "listsmodel.h"
#include "sstrack.h"
#include "ssutil.h"

namespace {

// The rows a watcher keeps by applying the events.
struct Rows {
  std::vector<instr*> rows;
  std::vector<int> kinds;
  bool bad = false;
};

void apply(scan* s, int event, int32_t index, instr* in, void* owner, void* arg, uint32_t n) {
  (void)s;
  (void)owner;
  (void)n;
  Rows* r = static_cast<Rows*>(arg);
  r->kinds.push_back(event);
  auto at = std::find(r->rows.begin(), r->rows.end(), in);
  switch (event) {
    case kScanInserted:
      if (at != r->rows.end() || index > (int32_t)r->rows.size()) r->bad = true;
      else r->rows.insert(r->rows.begin() + index, in);
      break;
    case kScanMoved:
      if (at == r->rows.end()) { r->bad = true; break; }
      r->rows.erase(at);
      if (index > (int32_t)r->rows.size()) r->bad = true;
      else r->rows.insert(r->rows.begin() + index, in);
      break;
    case kScanRemoved:
      if (at == r->rows.end()) r->bad = true;
      else r->rows.erase(at);
      break;
    case kScanCleared:
      if (!r->rows.empty()) r->bad = true;  // every row was removed first
      break;
  }
}

class ScanRefresh : public ListsTest {
 protected:
  std::mt19937 rng{20261209};
  std::vector<ss_stock*> stocks;

  uint32_t pick(uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); }

  // Small value ranges so that ties are common.
  void randomise(ss_stock* s) {
    s->volume = pick(0, 5) == 0 ? 0 : pick(1, 50) * 1000;
    s->value = pick(0, 40) * 10000;
    s->last = pick(0, 8) == 0 ? 0 : pick(90, 120) * 100;
    s->disp_price = pick(0, 9) == 0 ? 0 : s->last;
    s->bid = pick(0, 6) == 0 ? 0 : pick(85, 125) * 100;
    s->offer = pick(0, 6) == 0 ? 0 : pick(85, 125) * 100;
    s->average_price = pick(0, 5) == 0 ? 0 : pick(90, 120) * 100;
    s->high = pick(100, 125) * 100;
    s->low = pick(85, 100) * 100;
    s->change = (int32_t)pick(0, 20) - 10;
    s->change_pct = (int32_t)pick(0, 20) - 10;
    s->market_cap = pick(0, 30) * 1000000ull;
    s->trade_count = pick(0, 50);
    for (int i = 0; i < 3; i++) {
      s->vcmp_diff[i] = (int64_t)pick(0, 20) - 10;
      s->vcmp_pct[i] = (int32_t)pick(0, 20) - 10;
    }
    s->last_trade_time = pick(0, 4) == 0 ? 0 : ssmodel_exchange_day_start(s->exchange) + pick(0, 30) * 60;
  }

  void build(int n) {
    static const char letters[] = "ABCDEFGHJKLMNPRSTUVWXYZ";
    for (int i = 0; stocks.size() < (size_t)n; i++) {
      char code[5] = {letters[i % 23], letters[(i / 23) % 23], letters[(i / 529) % 23], 0, 0};
      if (i % 3 == 0) code[3] = 'X';
      ss_stock* s = stock(0, code);
      ASSERT_NE(nullptr, s);
      char name[16];
      snprintf(name, sizeof name, "N%02u", pick(0, 40));
      ssmodel_set_stock_names(s, name, name);
      randomise(s);
      stocks.push_back(s);
    }
  }

  void feed_tracks(scan* s) {
    scan_track_resolve(s);
    for (ss_stock* st : stocks)
      for (int i = 0; i < 2; i++)
        if (s->tracks[i].client >= 0)
          sstrack_test_set_client_value(st, s->tracks[i].client, pick(0, 8) == 0 ? 0 : pick(90, 120) * 100);
  }

  // The reference key of an order, larger first (order 12: ascending name).
  static double key(const scan* s, int order, const ss_stock* x) {
    auto delta = [&](int t) -> double {
      uint32_t then = scan_track_value(s, t, x);
      return x->last && then ? (double)((int64_t)x->last - then) : 0.0;
    };
    auto pct = [&](int t) -> double {
      uint32_t then = scan_track_value(s, t, x);
      return x->last && then ? (double)(((int64_t)x->last - then) * 10000 / (int64_t)then) : 0.0;
    };
    auto gapf = [&](uint32_t other, int sign) -> double {
      uint32_t l = x->disp_price;
      if (!l || l == 0xFFFFFFFFu || !other || other == 0xFFFFFFFFu) return 999999.0;
      return (double)(sign * ((float)l - (float)other) / (float)l);
    };
    switch (order) {
      case 2: return x->change;
      case 3: return x->change_pct;
      case 4: {
        uint32_t v = x->average_price;
        if (!v) return 0;
        if (x->bid > v) return x->bid - v;
        if (x->offer && v > x->offer) return v - x->offer;
        return 0;
      }
      case 5: return (double)x->volume;
      case 6: return (double)x->value;
      case 7: case 8: return delta(order - 7);
      case 9: case 10: return pct(order - 9);
      case 11: return x->last_trade_time ? (double)(x->last_trade_time - ssmodel_exchange_day_start(x->exchange)) : 0;
      case 13: return (double)x->market_cap;
      case 14: return (double)x->vcmp_diff[s->vcmp];
      case 15: return x->vcmp_pct[s->vcmp];
      case 16: {
        if (x->high == x->low || !x->last) return 0.5;
        if (x->last <= x->low) return 0;
        if (x->last >= x->high) return 1;
        return (float)(x->last - x->low) / (float)(x->high - x->low);
      }
      case 17: return gapf(x->bid, 1);
      case 18: return gapf(x->offer, -1);
      case 19: return gapf(x->average_price, 1);
    }
    return 0;
  }

  // Brute force: every current, traded stock that the order can rank, sorted
  // by key (descending; reversed ascending), then code ascending, then cut.
  std::vector<instr*> reference(const scan* s, int order) {
    std::vector<ss_stock*> pass;
    for (ss_stock* x : stocks) {
      if (!x->volume) continue;
      if (order == 17 && (!x->bid || !x->disp_price)) continue;
      if (order == 18 && (!x->offer || !x->disp_price)) continue;
      if (order == 19 && (!x->average_price || !x->disp_price)) continue;
      pass.push_back(x);
    }
    std::sort(pass.begin(), pass.end(), [&](const ss_stock* a, const ss_stock* b) {
      int c = strcmp(a->code, b->code);
      if (order == 1) return s->reversed ? c > 0 : c < 0;
      if (order == 12) {
        int n = strcmp(a->name2, b->name2);
        if (n) return s->reversed ? n > 0 : n < 0;
        return c < 0;
      }
      double ka = key(s, order, a), kb = key(s, order, b);
      if (ka != kb) return s->reversed ? ka < kb : ka > kb;
      return c < 0;
    });
    std::vector<instr*> out(pass.begin(), pass.end());
    if (out.size() > s->limit) out.resize(s->limit);
    return out;
  }

  static std::vector<instr*> result(const scan* s) {
    return std::vector<instr*>(s->results, s->results + s->result_count);
  }

  static void refresh(scan* s, int full) {
    ASSERT_EQ(0, scan_reserve_results(s, (int32_t)s->limit));
    ASSERT_EQ(0, scan_refresh(s, full));
  }
};

TEST_F(ScanRefresh, EveryOrderBothWaysEqualsTheBruteForceRanking) {
  // More candidates than the 600 an incremental refresh may gather past its
  // threshold, and a limit that keeps many: the threshold does turn some away.
  build(2500);
  for (int order = 1; order < kScanOrders; order++) {
    for (int reversed = 0; reversed < 2; reversed++) {
      scan* s = scan_new_temp();
      scan_set_order(s, (uint32_t)order);
      scan_set_reversed(s, reversed);
      scan_set_limit(s, order % 2 ? 37 : 450);
      scan_set_vcmp(s, order % 3);
      scan_set_track(s, 0, 300, 0);
      scan_set_track(s, 1, 900, 0);
      feed_tracks(s);
      Rows rows;
      int owner;
      scan_watch(s, apply, &owner, &rows, 0);
      refresh(s, 1);
      EXPECT_EQ(reference(s, order), result(s)) << "order " << order << " reversed " << reversed;
      EXPECT_EQ(result(s), rows.rows);
      EXPECT_FALSE(rows.bad);
      // Random changes: the incremental refresh equals the full one and the
      // brute force, and the events keep the watcher's rows equal.
      for (int round = 0; round < 4; round++) {
        for (int k = 0; k < 60; k++) randomise(stocks[pick(0, (uint32_t)stocks.size() - 1)]);
        refresh(s, 0);
        std::vector<instr*> want = reference(s, order);
        EXPECT_EQ(want, result(s)) << "incremental, order " << order << " reversed " << reversed;
        EXPECT_EQ(result(s), rows.rows);
        EXPECT_FALSE(rows.bad);
      }
      scan_unwatch(s, &owner);
    }
  }
}

TEST_F(ScanRefresh, OrderZeroKeepsTableOrderAndPublishesDifferences) {
  build(200);
  scan* s = scan_new_temp();
  scan_set_order(s, 0);
  scan_set_limit(s, 500);
  Rows rows;
  int owner;
  scan_watch(s, apply, &owner, &rows, 0);
  refresh(s, 1);
  size_t traded = std::count_if(stocks.begin(), stocks.end(), [](ss_stock* x) { return x->volume != 0; });
  EXPECT_EQ(traded, (size_t)s->result_count);
  EXPECT_EQ(result(s), rows.rows);
  // Nothing passes: every row is removed, then the clear event.
  for (ss_stock* x : stocks) x->volume = 0;
  rows.kinds.clear();
  refresh(s, 1);
  EXPECT_EQ(0, s->result_count);
  ASSERT_FALSE(rows.kinds.empty());
  EXPECT_EQ(kScanCleared, rows.kinds.back());
  EXPECT_EQ(traded, (size_t)std::count(rows.kinds.begin(), rows.kinds.end(), kScanRemoved));
  EXPECT_FALSE(rows.bad);
  scan_unwatch(s, &owner);
}

TEST_F(ScanRefresh, UnsetTrackFallsBackToPercentChange) {
  build(100);
  scan* s = scan_new_temp();
  scan_set_order(s, 9);
  LogCapture log;
  refresh(s, 1);
  EXPECT_TRUE(log.has("attempt to order by unset track"));
  EXPECT_EQ(reference(s, 3), result(s));
  scan_delete(s);
}

TEST_F(ScanRefresh, ComparatorTable) {
  ss_stock* a = stock(0, "AAA");
  ss_stock* b = stock(0, "BBB");
  struct Row {
    int order, reversed;
    void (*setup)(ss_stock*, ss_stock*);
    int sign;  // of compare(a, b)
  } rows[] = {
      {2, 0, [](ss_stock* x, ss_stock* y) { x->change = 5; y->change = 5; }, -1},   // tie: code
      {2, 1, [](ss_stock* x, ss_stock* y) { x->change = 5; y->change = 5; }, -1},   // still ascending
      {2, 1, [](ss_stock* x, ss_stock* y) { x->change = 9; y->change = 5; }, 1},
      {1, 1, [](ss_stock*, ss_stock*) {}, 1},
      {5, 0, [](ss_stock* x, ss_stock* y) { x->volume = 1ull << 40; y->volume = 1; }, -1},
      {16, 0, [](ss_stock* x, ss_stock* y) { x->high = x->low = 5; x->last = 5; y->high = 10; y->low = 0; y->last = 6; }, 1},
      {16, 0, [](ss_stock* x, ss_stock* y) { x->high = 10; x->low = 5; x->last = 4; y->high = 10; y->low = 0; y->last = 0; }, 1},
      {17, 0, [](ss_stock* x, ss_stock* y) { x->disp_price = 100; x->bid = 0; y->disp_price = 100; y->bid = 99; }, -1},
      {17, 0, [](ss_stock* x, ss_stock* y) { x->disp_price = 0xFFFFFFFFu; x->bid = 50; y->disp_price = 100; y->bid = 1; }, -1},
      {4, 0, [](ss_stock* x, ss_stock* y) { x->average_price = 100; x->bid = 110; y->average_price = 100; y->offer = 95; y->bid = 0; }, -1},
      {15, 0, [](ss_stock* x, ss_stock* y) { x->vcmp_pct[0] = -5; y->vcmp_pct[0] = 3; }, 1},
  };
  for (const Row& r : rows) {
    for (ss_stock* x : {a, b}) {
      x->bid = x->offer = x->last = x->high = x->low = x->disp_price = x->average_price = 0;
      x->volume = 0;
      x->change = 0;
      x->vcmp_pct[0] = 0;
    }
    r.setup(a, b);
    scan* s = scan_new_temp();
    scan_set_order(s, (uint32_t)r.order);
    scan_set_reversed(s, r.reversed);
    scan_set_vcmp(s, 0);
    scan_refresh_prepare(s);
    int c = scan_compare(s, a, b);
    EXPECT_EQ(r.sign, (c > 0) - (c < 0)) << "order " << r.order << " reversed " << r.reversed;
    EXPECT_EQ(-r.sign, (scan_compare(s, b, a) > 0) - (scan_compare(s, b, a) < 0));
    scan_delete(s);
  }
  // Percent delta: 0 when the earlier price is 0 (no division), 64-bit products.
  scan* s = scan_new_temp();
  scan_set_order(s, 9);
  scan_set_track(s, 0, 60, 0);
  scan_track_resolve(s);
  a->last = 4000000000u;
  sstrack_test_set_client_value(a, s->tracks[0].client, 1);
  b->last = 100;
  sstrack_test_set_client_value(b, s->tracks[0].client, 0);
  scan_refresh_prepare(s);
  EXPECT_LT(scan_compare(s, a, b), 0);
  scan_delete(s);
}

TEST_F(ScanRefresh, StockTestsTable) {
  ss_stock* st = stock(0, "ABC");
  struct Row {
    uint32_t instr_filter, price_filter, change_filter;
    const char* keyword;
    void (*setup)(ss_stock*);
    bool pass;
  } rows[] = {
      {1, 1, 0, "", [](ss_stock* x) { x->bid = 120; x->last = 100; }, false},  // bid above last
      {1, 2, 0, "", [](ss_stock* x) { x->bid = 120; x->last = 100; }, true},
      {1, 1, 0, "", [](ss_stock* x) { x->bid = 90; x->last = 100; }, true},
      {1, 7, 0, "", [](ss_stock* x) { x->last = 100; x->high = 100; x->low = 100; }, false},
      {1, 0, 1, "", [](ss_stock* x) { x->change = 0; }, false},
      {1, 0, 2, "", [](ss_stock* x) { x->change = -1; }, true},
      {0x81, 0, 0, "", [](ss_stock* x) { x->bid = x->offer = 0; }, false},
      {kScanEverything, 0, 0, "", [](ss_stock* x) { x->volume = 0; }, true},
      {1, 0, 0, "abc", [](ss_stock*) {}, true},
      {1, 0, 0, "ACB", [](ss_stock*) {}, true},
      {1, 0, 0, "ABZ", [](ss_stock*) {}, true},
      {1, 0, 0, "XYZ", [](ss_stock*) {}, false},
      {1, 0, 0, "ABX", [](ss_stock*) {}, true},   // first and second letters equal
      {1, 0, 0, "gold", [](ss_stock* x) { ssmodel_set_stock_names(x, "Big Gold Mines", "BGM"); }, true},
  };
  for (const Row& r : rows) {
    st->volume = 10;
    st->last = 100;
    st->bid = st->offer = 50;
    st->change = 1;
    r.setup(st);
    scan* s = scan_new_temp();
    s->instr_filter = r.instr_filter;
    s->price_filter = r.price_filter;
    s->change_filter = r.change_filter;
    scan_set_keyword(s, r.keyword);
    scan_refresh_prepare(s);
    EXPECT_EQ(r.pass, scan_test_stock(s, st) != 0) << r.instr_filter << " " << r.price_filter << " " << r.keyword;
    scan_delete(s);
  }
  for (const char* code : {"ABC", "ABCX", "XABC"}) {
    ss_stock* other = stock(0, code);
    scan* s = scan_new_temp();
    scan_set_keyword(s, "ABC");
    scan_refresh_prepare(s);
    EXPECT_TRUE(scan_keyword_match(other, nullptr)) << code;
    scan_delete(s);
  }
  ss_index* nz = index(1, "NZ20G");
  nz->base = 100;
  scan* s = scan_new_temp();
  s->instr_filter = kScanEverything;
  scan_refresh_prepare(s);
  EXPECT_FALSE(scan_test_index(s, nz));
  scan_delete(s);
}

TEST_F(ScanRefresh, IndexClassesByIndexFilter) {
  std::vector<ss_index*> xs = {index(0, "XJO"), index(0, "XEJ"), index(0, "QQQQ"), index(1, "G3")};
  for (ss_index* x : xs) {
    x->base = 1000;
    x->value = 1010;
    x->high = 1020;
    x->low = 990;
  }
  int both_kinds = 0;
  for (uint32_t f = 0; f < 8; f++) {
    for (uint32_t instr_filter : {kScanIndices, kScanTraded}) {
      scan* s = scan_new_temp();
      s->instr_filter = instr_filter;
      s->index_filter = f;
      scan_refresh_prepare(s);
      for (ss_index* x : xs) {
        bool bench = ssutil_is_benchmark_index(x), sector = ssutil_is_sector_index(x);
        both_kinds |= (bench ? 1 : 0) | (sector ? 2 : 0) | (!bench && !sector ? 4 : 0);
        bool want = (instr_filter & kScanIndices) &&
                    (f == 7 || (bench && (f & 1)) || (sector && (f & 2)) || (!bench && !sector && (f & 4)));
        EXPECT_EQ(want, scan_test_index(s, x) != 0) << x->code << " filter " << f;
      }
      scan_delete(s);
    }
  }
  EXPECT_EQ(7, both_kinds) << "the indices cover benchmark, sector and other";
  // At the high (7) and at the low (8).
  scan* s = scan_new_temp();
  s->instr_filter = kScanIndices;
  s->price_filter = 7;
  scan_refresh_prepare(s);
  EXPECT_FALSE(scan_test_index(s, xs[0]));
  xs[0]->value = 1020;
  EXPECT_TRUE(scan_test_index(s, xs[0]));
  s->price_filter = 8;
  EXPECT_FALSE(scan_test_index(s, xs[0]));
  xs[0]->base = 0;  // no previous close: never shown
  s->price_filter = 0;
  EXPECT_FALSE(scan_test_index(s, xs[0]));
  scan_delete(s);
}

TEST_F(ScanRefresh, WatchlistScanOrderZeroReversedShowsBottomUp) {
  wlist* wl = wlist_create("w", 0);
  std::vector<instr*> items;
  for (int i = 0; i < 150; i++) {
    char code[8];
    snprintf(code, sizeof code, "W%03d", i);
    items.push_back(stock(0, code));
    wlist_add_item(wl, items.back());
  }
  scan* s = scan_new_temp();
  scan_set_source(s, wl);
  scan_set_order(s, 0);
  scan_set_reversed(s, 1);
  int owner;
  Rows rows;
  scan_watch(s, apply, &owner, &rows, 0);
  ASSERT_EQ(1, scan_refresh_now(s));
  std::vector<instr*> want(items.rbegin(), items.rbegin() + 100);
  EXPECT_EQ(want, result(s));
  EXPECT_EQ(want, rows.rows);
  scan_set_reversed(s, 0);
  ASSERT_EQ(1, scan_refresh_now(s));
  EXPECT_EQ(std::vector<instr*>(items.begin(), items.begin() + 100), rows.rows);
  // Removing an item from the watchlist refreshes at once.
  wlist_remove(wl, items[0]);
  EXPECT_EQ(items[1], rows.rows[0]);
  EXPECT_FALSE(rows.bad);
  scan_unwatch(s, &owner);
}

}  // namespace
