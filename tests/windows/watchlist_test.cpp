// The instrument grid without a window system: rows following a watchlist
// scan through inserts, moves and removals (the watchlist itself is the
// oracle), the add-position table, a deleted scan resetting the window's
// role, the scan limit and scroll range, the flash table through real
// change deliveries, the column fit per mode, hidden columns, the typed-code
// parser and lookup, and the exact export text.
#include "windows/watchlist.h"

#include <gtest/gtest.h>

#include "gridtest.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "export/clipboard.h"
#include "lib/fade.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "sstrack.h"
#include "style.h"
#include "dnd.h"
#include "undo.h"
#include "testlog.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

TEST_F(Grid, RowsFollowTheWatchlistThroughInsertsMovesAndRemovals) {
  wlist *wl = wlist_create("Mine", 0);
  const char *names[] = {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"};
  ss_stock *s[6];
  for (int i = 0; i < 6; i++) s[i] = stock(names[i]);
  for (int i = 0; i < 4; i++) wlist_add_item(wl, s[i]);
  watchlist *w = grid(0);
  ASSERT_EQ(watchlist_set_source(w, wl), 0);
  EXPECT_EQ(codes(w), codes(wl));
  struct step {
    const char *what;
    void (*run)(wlist *wl, ss_stock **s);
  } steps[] = {
      {"append", [](wlist *l, ss_stock **x) { wlist_add_item(l, x[4]); }},
      {"insert at the head", [](wlist *l, ss_stock **x) { wlist_insert_at(l, x[5], 0); }},
      {"insert in the middle", [](wlist *l, ss_stock **x) {
         wlist_remove(l, x[5]);
         wlist_insert_at(l, x[5], 3);
       }},
      {"move the last to the head", [](wlist *l, ss_stock **x) {
         wlist_remove(l, x[4]);
         wlist_insert_at(l, x[4], 0);
       }},
      {"move the head to the end", [](wlist *l, ss_stock **x) {
         wlist_remove(l, x[4]);
         wlist_add_item(l, x[4]);
       }},
      {"remove from the middle", [](wlist *l, ss_stock **x) { wlist_remove(l, x[2]); }},
      {"remove the head", [](wlist *l, ss_stock **) { wlist_remove(l, wlist_item_at(l, 0)); }},
  };
  for (const step &st : steps) {
    st.run(wl, s);
    EXPECT_EQ(codes(w), codes(wl)) << st.what;
    EXPECT_EQ(watchlist_row_count(w), wlist_count(wl)) << st.what;
  }
  // A hidden grid ignores the events; showing it again rebuilds.
  widget_hide(w);
  wlist_remove(wl, wlist_item_at(wl, 0));
  EXPECT_NE(codes(w), codes(wl));
  widget_show(w);
  EXPECT_EQ(codes(w), codes(wl));
}

// Drops from another window (the drag did not begin in this grid): a held
// instrument stays where it is; a new one goes before the row under the
// pointer, or to the end below the rows; something that is not a stock or
// an index is passed to the parent.
TEST_F(Grid, DropsFromElsewhere) {
  struct row {
    const char *dragged;
    int target_row;  // -1 below the rows
    const char *want;
  } rows[] = {
      {"BBB", 0, "AAA BBB CCC"},
      {"NEW", 0, "NEW AAA BBB CCC"},
      {"NEW", 2, "AAA BBB NEW CCC"},
      {"NEW", -1, "AAA BBB CCC NEW"},
  };
  for (const row &r : rows) {
    wlist *wl = wlist_create("D", 0);
    for (const char *c : {"AAA", "BBB", "CCC"}) wlist_add_item(wl, stock(c));
    watchlist *w = grid(0);
    watchlist_set_source(w, wl);
    ASSERT_EQ(watchlist_row_count(w), 3);
    dnd_begin_instr(stock(r.dragged));
    int32_t y = r.target_row < 0 ? 3 * w->row_h + 2 : r.target_row * w->row_h + 2;
    drag_record rec{0, 0, 10, y, nullptr};
    w->cls->drop(w, 10, w->r.y + y, 1, &rec);
    dnd_clear();
    std::string got;
    for (const std::string &c : codes(wl)) got += (got.empty() ? "" : " ") + c;
    EXPECT_EQ(got, r.want) << r.dragged << " onto " << r.target_row;
    EXPECT_EQ(codes(w), codes(wl));
    watchlist_set_source(w, nullptr);
    wlist_delete(wl);
  }
}

TEST_F(Grid, AddPositionTable) {
  struct row {
    int32_t position;
    const char *want;
  } rows[] = {
      {-1, "A B C N"}, {0, "N A B C"}, {-7, "N A B C"}, {1, "A N B C"},
      {2, "A B N C"},  {3, "A B C N"}, {99, "A B C N"},
  };
  for (const row &r : rows) {
    watchlist *w = grid(0, 10, true);
    for (const char *c : {"A", "B", "C"}) ASSERT_NE(watchlist_add_instr(w, stock(c), 0, -1), nullptr);
    ASSERT_NE(watchlist_add_instr(w, stock("N"), 0, r.position), nullptr) << r.position;
    std::string got;
    for (const std::string &c : codes(w)) got += (got.empty() ? "" : " ") + c;
    EXPECT_EQ(got, r.want) << r.position;
    EXPECT_EQ(watchlist_add_instr(w, stock("B"), 0, 0), nullptr) << "an instrument already there";
    EXPECT_EQ(watchlist_row_count(w), 4);
    widget_delete(w);
  }
}

TEST_F(Grid, DeletedScanResetsTheWindowRoleAndDropsTheRows) {
  window *win = window_new(root, 0);
  win->r = {0, 0, 600, 300};
  window_set_role(win, kRoleWatchlist);
  auto *w = static_cast<watchlist *>(win->child[kWinWatchlist]);
  ASSERT_TRUE(watchlist_is(w));
  w->r = {0, 20, 600, 280};
  widget_show(w);
  scan *s = scan_create("Top", 0);
  scan_set_order(s, 5);
  for (const char *c : {"AAA", "BBB"}) {
    ss_stock *st = stock(c);
    st->last = 100;
    st->volume = 10;
  }
  watchlist_set_scan(w, s);
  scan_refresh_now(s);
  EXPECT_GT(watchlist_row_count(w), 0);
  scan_unlink(s);  // event 6
  EXPECT_EQ(win->role, kRoleNone);
  EXPECT_EQ(watchlist_get_scan(w), nullptr);
  EXPECT_EQ(watchlist_row_count(w), 0);
  scan_delete(s);
}

TEST_F(Grid, ScanLimitAndScrollRange) {
  for (int i = 0; i < 40; i++) {
    char code[8];
    snprintf(code, sizeof code, "S%02d", i);
    ss_stock *st = stock(code);
    st->last = 100 + i;
    st->volume = 1000 + i;
  }
  window *win = window_new(root, 0);
  win->r = {0, 0, 600, 300};
  window_set_role(win, kRoleWatchlist);
  auto *w = static_cast<watchlist *>(win->child[kWinWatchlist]);
  w->r = {0, 0, 600, 10 * w->row_h};
  widget_show(w);
  w->cls->geometry_changed(w);
  ASSERT_EQ(w->visible, 10);
  scan *s = scan_create("Vol", 0);
  scan_set_order(s, 5);
  watchlist_set_scan(w, s);
  // The sole enabled watcher of a scan without source: scroll + visible + 5.
  EXPECT_EQ(s->limit, 15u);
  scan_refresh_now(s);
  EXPECT_EQ(watchlist_row_count(w), 15);
  EXPECT_EQ(win->row_limit, 5u) << "shown count minus the visible rows";
  window_select_row(win, 3);
  EXPECT_EQ(s->limit, 18u) << "the scroll position moves the limit";
  // A second enabled watcher: the scan's maximum.
  int other;
  scan_watch(s, [](scan *, int, int32_t, instr *, void *, void *, uint32_t) {}, &other, nullptr, 0);
  watchlist_update_limit(w);
  EXPECT_EQ(s->limit, kScanMaxLimit);
  scan_watch_disable(s, &other);
  watchlist_update_limit(w);
  EXPECT_EQ(s->limit, 18u);
  scan_unwatch(s, &other);
  // Mode 5 never ties the limit to the view, nor does a watchlist scan.
  watchlist *opt = grid(5);
  scan *s5 = scan_create("Opt", 0);
  watchlist_set_scan(opt, s5);
  EXPECT_EQ(s5->limit, kScanMaxLimit);
  watchlist *src = grid(0);
  wlist *wl = wlist_create("L", 0);
  watchlist_set_source(src, wl);
  EXPECT_EQ(watchlist_get_scan(src)->limit, kScanMaxLimit);
  watchlist_set_scan(w, nullptr);
  watchlist_set_scan(opt, nullptr);
  scan_delete(s);
  scan_delete(s5);
}

// Flash table: one market change per row, delivered through the model's
// change notification, and the style code each cell then holds.
TEST_F(Grid, FlashTable) {
  enum F { BID, OFFER, LAST, HIGH, LOW, VOLUME };
  struct row {
    const char *name;
    F field;
    uint64_t old_v, new_v;
    int32_t change;  // the stock's change after it
    std::vector<std::pair<int, int>> want;  // cell, code
  } rows[] = {
      {"bid up", BID, 100, 101, 0, {{WC_BID_BG, 133}, {WC_BID_TEXT, 140}, {WC_ROW, 129}, {WC_VOLUME_BG, 130}, {WC_TREND, 137}}},
      {"bid down", BID, 100, 99, 0, {{WC_BID_BG, 135}, {WC_BID_TEXT, 140}, {WC_ROW, 129}}},
      {"bid from 0", BID, 0, 99, 0, {{WC_BID_BG, 93}, {WC_BID_TEXT, 82}, {WC_ROW, 93}}},
      {"offer up", OFFER, 200, 205, 0, {{WC_OFFER_BG, 133}, {WC_OFFER_TEXT, 141}, {WC_ROW, 129}}},
      {"offer down", OFFER, 200, 150, 0, {{WC_OFFER_BG, 135}, {WC_OFFER_TEXT, 141}}},
      {"offer from 0", OFFER, 0, 150, 0, {{WC_OFFER_BG, 93}, {WC_OFFER_TEXT, 83}}},
      {"last up, change up", LAST, 300, 310, 10, {{WC_LAST_BG, 142}, {WC_CHANGE_TEXT, 144}, {WC_ROW, 129}}},
      {"last down, change down", LAST, 300, 290, -10, {{WC_LAST_BG, 143}, {WC_CHANGE_TEXT, 145}}},
      {"last down, change up", LAST, 300, 290, 5, {{WC_LAST_BG, 143}, {WC_CHANGE_TEXT, 144}}},
      {"last from 0", LAST, 0, 290, -3, {{WC_LAST_BG, 93}, {WC_CHANGE_TEXT, 83}, {WC_ROW, 93}}},
      {"new high", HIGH, 400, 420, 0, {{WC_HIGH_BG, 142}, {WC_HIGH_TEXT, 144}, {WC_ROW, 129}}},
      {"high from 0", HIGH, 0, 420, 0, {{WC_HIGH_BG, 93}, {WC_HIGH_TEXT, 82}}},
      {"new low", LOW, 400, 380, 0, {{WC_LOW_BG, 143}, {WC_LOW_TEXT, 145}, {WC_ROW, 129}}},
      {"low from 0", LOW, 0, 380, 0, {{WC_LOW_BG, 93}, {WC_LOW_TEXT, 83}}},
      {"volume up", VOLUME, 1000, 1500, 0, {{WC_VOLUME_BG, 130}, {WC_ROW, 129}, {WC_BID_BG, 93}}},
      {"volume from 0", VOLUME, 0, 1500, 0, {{WC_VOLUME_BG, 111}, {WC_ROW, 93}}},
  };
  watchlist *w = grid(0);
  int n = 0;
  for (const row &r : rows) {
    char code[16];
    snprintf(code, sizeof code, "F%02d", n++);
    ss_stock *s = stock(code);
    auto set = [&](uint64_t v) {
      switch (r.field) {
        case BID: s->bid = (uint32_t)v; break;
        case OFFER: s->offer = (uint32_t)v; break;
        case LAST: s->last = (uint32_t)v; break;
        case HIGH: s->high = (uint32_t)v; break;
        case LOW: s->low = (uint32_t)v; break;
        case VOLUME: s->volume = v; break;
      }
    };
    set(r.old_v);
    watchlist_row *row = watchlist_add_instr(w, s, 0, 0);  // at the head: in view
    ASSERT_NE(row, nullptr);
    set(r.new_v);
    s->change = r.change;
    ASSERT_EQ(ssnotify_record(s, kChangeQuote | kChangeTrade, nullptr), 0);
    ssnotify_deliver();
    for (auto [cell, code_want] : r.want) {
      EXPECT_EQ(row->code[cell], code_want) << r.name << " cell " << cell;
      bool flashing = code_want >= 129;
      EXPECT_EQ(row->fade[cell].state != nullptr, flashing) << r.name << " cell " << cell;
    }
    // A flashing cell starts at its flash's first colour.
    if (row->fade[WC_ROW].state) {
      EXPECT_EQ(watchlist_cell_colour(row, WC_ROW), style_colour(style_cur(), 73) | 0xff000000u) << r.name;
    }
  }
  // A global event refreshes every row without flashing.
  ss_stock *g = stock("GLOBAL");
  g->bid = 500;
  watchlist_row *row = watchlist_add_instr(w, g, 0, 0);
  g->bid = 600;
  ASSERT_EQ(ssnotify_record_global(kGlobalMarked), 0);
  ssnotify_deliver();
  EXPECT_EQ(row->bid, 600u) << "the snapshot follows";
  EXPECT_EQ(row->code[WC_BID_BG], 93);
  EXPECT_EQ(row->fade[WC_BID_BG].state, nullptr);
  // A change outside the flash mask refreshes without flashing.
  g->bid = 700;
  ASSERT_EQ(ssnotify_record(g, kChangeSummary, nullptr), 0);
  ssnotify_deliver();
  EXPECT_EQ(row->bid, 700u);
  EXPECT_EQ(row->fade[WC_BID_BG].state, nullptr);
  // A row out of view does not flash.
  for (int i = 0; i < 20; i++) {
    char code[8];
    snprintf(code, sizeof code, "P%02d", i);
    watchlist_add_instr(w, stock(code), 0, 0);
  }
  ss_stock *out = stock("OUT");
  out->bid = 1000;
  watchlist_row *last = watchlist_add_instr(w, out, 0, -1);
  ASSERT_GE(watchlist_row_count(w), w->visible + 1);
  out->bid = 1100;
  ASSERT_EQ(ssnotify_record(out, kChangeQuote, nullptr), 0);
  ssnotify_deliver();
  EXPECT_EQ(last->bid, 1100u);
  EXPECT_EQ(last->fade[WC_BID_BG].state, nullptr) << "below the view";
  EXPECT_EQ(last->code[WC_BID_BG], 93);
}

TEST_F(Grid, IndexRowFlashesAndZeroValueClearsTheSnapshot) {
  watchlist *w = grid(3);
  ss_index *x = ssmodel_get_index(ex0, "XJO");
  x->value = 7000;
  x->high = 7100;
  x->low = 6900;
  watchlist_row *r = watchlist_add_instr(w, x, 0, -1);
  x->value = 7050;
  x->change = 50;
  ssnotify_record(x, kChangeIndexTick, nullptr);
  ssnotify_deliver();
  EXPECT_EQ(r->code[WC_LAST_BG], 142);
  EXPECT_EQ(r->code[WC_CHANGE_TEXT], 144);
  EXPECT_EQ(r->code[WC_ROW], 129);
  x->value = 0;
  ssnotify_record(x, kChangeIndexTick, nullptr);
  ssnotify_deliver();
  EXPECT_EQ(r->last, 0u);
  EXPECT_EQ(r->high, 0u);
}

// Column fit per mode at several widths with the atlas's metrics.
TEST_F(Grid, ColumnFitPerMode) {
  int32_t em = 0, digit = 0;
  font_metrics(&em, &digit, nullptr, nullptr, style_cur()->font[0]);
  ASSERT_GT(digit, 0);
  auto set = [](std::initializer_list<int> ks) {
    uint64_t m = 0;
    for (int k : ks) m |= 1ull << k;
    return m;
  };
  watchlist *w0 = grid(0);
  // Wide: the widest set without the hidden track and relative-volume columns.
  uint64_t widest = watchlist_fit(w0, 100000, em, digit);
  EXPECT_EQ(widest, set({0, 2, 6, 8, 10, 11, 12, 13, 14, 22, 23, 24, 25, 26, 30, 31, 32, 33, 34, 35, 36}));
  // The narrow sets of mode 0: code, last, change, % change; then code alone.
  int32_t code_last = (4 * em + 1) + (8 * digit + 1) + (7 * digit + 1) + (8 * digit + 1);
  EXPECT_EQ(watchlist_fit(w0, code_last, em, digit), set({1, 10, 11, 12}));
  EXPECT_EQ(watchlist_fit(w0, code_last - 8 * digit - 1, em, digit), set({1, 10, 11}));
  EXPECT_EQ(watchlist_fit(w0, 4 * em + 1, em, digit), set({1}));
  // Every width gives a set that fits (only the last, one-column set may overflow).
  for (int mode = 0; mode < kWatchModes; mode++) {
    watchlist *w = grid(mode);
    for (int32_t width = 2000; width >= 20; width -= 37) {
      uint64_t shown = watchlist_fit(w, width, em, digit);
      int n = __builtin_popcountll(shown);
      EXPECT_GE(n, 1) << "mode " << mode << " width " << width;
      EXPECT_EQ(shown & watchlist_hidden_columns(w), 0u) << "mode " << mode;
      int32_t natural = 0;
      for (int k = 0; k < w->columns.count; k++)
        if (shown >> k & 1) natural += w->columns.col[k].pixels + w->columns.col[k].ems * em + w->columns.col[k].digits * digit + 1;
      if (n > 1) {
        EXPECT_LE(natural, width) << "mode " << mode << " width " << width;
      }
    }
  }
}

TEST_F(Grid, HiddenColumns) {
  watchlist *w = grid(0);
  const uint64_t track = 7ull << 27, relvol = 7ull << 17;
  EXPECT_EQ(watchlist_hidden_columns(w), track | relvol) << "without a scan";
  scan *s = scan_create("H", 0);
  watchlist_set_scan(w, s);
  EXPECT_EQ(watchlist_hidden_columns(w), track | relvol);
  scan_set_vcmp(s, 1);
  EXPECT_EQ(watchlist_hidden_columns(w), track);
  scan_set_track(s, 0, 600, 0);
  EXPECT_EQ(watchlist_hidden_columns(w), 0u);
  // The quote bar with an index hides the stock-only columns.
  watchlist *q = grid(1);
  ss_index *x = ssmodel_get_index(ex0, "XAO");
  watchlist_add_index_row(q, x);
  uint64_t h = watchlist_hidden_columns(q);
  for (int k : {6, 7, 8, 9, 13, 14, 15, 16, 23, 24, 25, 31}) EXPECT_TRUE(h >> k & 1) << k;
  for (int k : {0, 2, 10, 11, 12, 22, 26, 33}) EXPECT_FALSE(h >> k & 1) << k;
  EXPECT_FALSE(q->columns.shown & (1ull << 6)) << "laid out again on the add";
  watchlist_clear_rows(q);
  watchlist_add_stock_row(q, stock("BHP"));
  EXPECT_FALSE(watchlist_hidden_columns(q) >> 6 & 1);
  watchlist_set_scan(w, nullptr);
  scan_delete(s);
}

TEST_F(Grid, TypedCodeSplitter) {
  struct row {
    const char *text;
    std::vector<std::string> want;
  } rows[] = {
      {"bhp rio", {"BHP", "RIO"}},
      {"bhp,rio;anz\nwbc", {"BHP", "RIO", "ANZ", "WBC"}},
      {"bhp.asx x_y", {"BHP.ASX", "X_Y"}},
      {".bhp _rio", {"BHP", "RIO"}},
      {"ABCDEFGHIJK", {"ABCDEFGHIJK"}},
      {"ABCDEFGHIJKL bhp", {"BHP"}},
      {"ABCDEFGHIJKLMNOPQ,rio", {"RIO"}},
      {"  ", {}},
  };
  for (const row &r : rows) {
    std::vector<std::string> got;
    LogCapture cap;
    int n = watchlist_split_codes(r.text, [](const char *c, void *a) {
      static_cast<std::vector<std::string> *>(a)->push_back(c);
    }, &got);
    EXPECT_EQ(got, r.want) << r.text;
    EXPECT_EQ(n, (int)r.want.size()) << r.text;
    bool overrun = strlen(r.text) > 11 && std::string(r.text).find("ABCDEFGHIJKL") != std::string::npos;
    EXPECT_EQ(cap.has("overrun"), overrun) << r.text;
  }
}

TEST_F(Grid, TypedCodesMakeAWatchlistAndLookUpByExchange) {
  ss_stock *bhp0 = stock("BHP", 0);
  ss_stock *bhp1 = stock("BHP", 1);
  ss_stock *nz = stock("FPH", 1);
  ss_index *xjo = ssmodel_get_index(ex0, "XJO");
  EXPECT_EQ(watchlist_lookup_code("BHP"), bhp0) << "the default exchange first";
  EXPECT_EQ(watchlist_lookup_code("BHP.NZX"), bhp1);
  EXPECT_EQ(watchlist_lookup_code("FPH"), nz) << "then the others";
  EXPECT_EQ(watchlist_lookup_code("FPH.ASX"), nullptr) << "a named exchange only";
  EXPECT_EQ(watchlist_lookup_code("XJO"), xjo);
  action_set_default_exchange(1);
  EXPECT_EQ(watchlist_lookup_code("BHP"), bhp1);
  action_set_default_exchange(0);

  watchlist *w = grid(0);
  EXPECT_EQ(watchlist_get_source(w), nullptr);
  ASSERT_EQ(watchlist_add_codes(w, "bhp, bhp.nzx xjo nosuch"), 0);
  wlist *wl = watchlist_get_source(w);
  ASSERT_NE(wl, nullptr);
  EXPECT_STREQ(wlist_name(wl), "New Watchlist");
  EXPECT_EQ(wlist_count(wl), 3);
  EXPECT_EQ(codes(w), codes(wl));
  EXPECT_EQ(wlist_item_at(wl, 1), bhp1);
  int depth = undo_depth();
  ASSERT_EQ(watchlist_remove_codes(w, "xjo"), 0);
  EXPECT_EQ(undo_depth(), depth) << "the group is closed";
  EXPECT_EQ(wlist_count(wl), 2);
  EXPECT_EQ(codes(w), codes(wl));
  ASSERT_EQ(watchlist_add_codes(w, "nothing here"), 0);
  EXPECT_EQ(wlist_count(wl), 2);
  EXPECT_EQ(wlist_total(), 1) << "the grid keeps its watchlist";
  // Each typing is one step: undoing the removal brings XJO back at its
  // place, undoing the first typing empties the watchlist.
  int held = undo_count();
  ASSERT_EQ(watchlist_add_codes(w, "nothing here"), 0);
  EXPECT_EQ(undo_count(), held) << "an empty group is dropped";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(codes(wl), (std::vector<std::string>{"BHP", "BHP", "XJO"}));
  EXPECT_EQ(codes(w), codes(wl));
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(wlist_count(wl), 0);
  EXPECT_EQ(watchlist_row_count(w), 0);
}

TEST_F(Grid, UndoPutsTheGridsScanBack) {
  for (const char *c : {"AAA", "BBB"}) {
    ss_stock *st = stock(c);
    st->last = 100;
    st->volume = 10;
  }
  watchlist *w = grid(0);
  scan *a = scan_create("A", 0), *b = scan_create("B", 0);
  scan_set_order(a, 5);
  watchlist_set_scan(w, a);
  ASSERT_EQ(undo_push_watchlist_scan(w), 0);
  scan_set_order(a, 7);  // the settings as they were are restored too
  watchlist_set_scan(w, b);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(watchlist_get_scan(w), a);
  EXPECT_EQ(a->order, 5u);
  // A watchlist scan comes back as its copy, on the same watchlist.
  wlist *wl = wlist_create("W", 0);
  wlist_add_item(wl, stock("AAA"));
  watchlist_set_source(w, wl);
  ASSERT_EQ(undo_push_watchlist_scan(w), 0);
  watchlist_set_scan(w, b);
  ASSERT_EQ(undo_perform(), 0);
  ASSERT_NE(watchlist_get_scan(w), nullptr);
  EXPECT_EQ(watchlist_get_source(w), wl);
  EXPECT_EQ(codes(w), codes(wl));
  wlist_add_item(wl, stock("BBB"));
  EXPECT_EQ(codes(w), codes(wl)) << "the copy watches its watchlist again";
  watchlist_set_scan(w, nullptr);
  scan_delete(a);
  scan_delete(b);
}

TEST_F(Grid, ExportText) {
  watchlist *w = grid(4);
  ss_stock *a = stock("BHP");
  ssmodel_set_stock_names(a, "BHP", "BHP Group Limited");
  a->last = 4567;
  a->change = -33;
  a->change_pct = -72;
  a->state = 20;
  ex0->phase = 20;
  ss_index *x = ssmodel_get_index(ex0, "XJO");
  ssmodel_set_names(x, "ASX 200", "S&P/ASX 200");
  x->value = 712345;
  x->change = 1234;
  x->change_pct = 17;
  watchlist_add_instr(w, a, 0, -1);
  watchlist_add_instr(w, x, 0, -1);
  watchlist_fit(w, 100000, 8, 7);
  watchlist_export(w);
  std::string want =
      "Company\tCode\tLast\tChange\t% Change\tName\tQuote Bases\tState\n"
      "BHP\tBHP\t45.67\t-0.33\t-0.72%\tBHP Group Limited\t\t\n"
      "ASX 200\tXJO\t7123.45\t+12.34\t+0.17%\tS&P/ASX 200\t\t\n";
  EXPECT_EQ(std::string(clipboard_text()), want);

  // Mode 0 with a track: "Last @" carries the time; the narrow turnover
  // follows the contract size; trend and VWAP are left out.
  watchlist *g = grid(5);
  scan *s = scan_create("T", 0);
  watchlist_set_scan(g, s);
  g->columns.shown = (1ull << 2) | (1ull << 16) | (1ull << 21) | (1ull << 22) | (1ull << 24) | (1ull << 27);
  g->hidden = 0;
  watchlist_export(g);
  EXPECT_EQ(std::string(clipboard_text()), "Code\tContract Size\tTurnover\tLast @ Delta\n");
  watchlist_set_scan(g, nullptr);
  scan_delete(s);
}

TEST_F(Grid, TooltipsDescribeTheColumnForTheRowsKind) {
  watchlist *w = grid(3);
  watchlist_add_instr(w, stock("BHP"), 0, -1);
  watchlist_add_instr(w, ssmodel_get_index(ex0, "XJO"), 0, -1);
  cols_fit(&w->columns, w->r.x, 2000, style_cur()->font[0]);
  auto at = [&](int k, int row) {
    const cols_col &c = w->columns.col[k];
    return watchlist_tooltip(w, (c.x0 + c.x1) / 2, w->r.y + row * w->row_h + 1);
  };
  struct row {
    int k, row;
    const char *want;
  } rows[] = {
      {0, 0, "Short Company Name"}, {0, 1, "Short Index Name"}, {10, 0, "Last Traded Price"},
      {10, 1, "Last Index Value"},  {11, 1, "Change"},           {26, 0, "Time of Last Trade today"},
      {26, 1, "Time of Last Value"}, {36, 1, "Highest Index Value Today"},
  };
  for (const row &r : rows) {
    ASSERT_TRUE(w->columns.shown >> r.k & 1) << r.k;
    const char *got = at(r.k, r.row);
    ASSERT_NE(got, nullptr) << r.k;
    EXPECT_STREQ(got, r.want) << r.k << " row " << r.row;
  }
  EXPECT_EQ(watchlist_tooltip(w, 5, w->r.y + 5 * w->row_h), nullptr) << "below the rows";
}

TEST_F(Grid, RotatingLineAdvancesEveryTwoAndAHalfSeconds) {
  watchlist *w = grid(2, 1);
  for (const char *c : {"AAA", "BBB", "CCC"}) watchlist_add_instr(w, stock(c), 0, -1);
  ASSERT_EQ(w->current, w->rows);
  std::vector<std::string> seen;
  for (int step = 0; step < 4; step++) {
    seen.push_back(w->current->in->code);
    g_grid_now += 1000;
    timer_run(g_grid_now);
    EXPECT_EQ(w->current->in->code, seen.back()) << "not before 2.5 s";
    g_grid_now += 1600;
    timer_run(g_grid_now);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"AAA", "BBB", "CCC", "AAA"}));
  for (watchlist_row *r = w->rows; r; r = r->next) EXPECT_EQ(r->y, 0) << "all on the top line";
}

TEST_F(Grid, ChangeSinceWithoutAReferencePriceIsEmpty) {
  watchlist *w = grid(0);
  scan *s = scan_create("T", 0);
  watchlist_set_scan(w, s);
  scan_set_track(s, 0, 600, 0);
  ss_stock *a = stock("ZZZ");
  a->last = 500;
  watchlist_row *r = watchlist_add_instr(w, a, 0, -1);
  ASSERT_NE(r, nullptr);
  char buf[128];
  // No price at the track's time: no division by it, empty cells.
  EXPECT_STREQ(watchlist_cell_text(w, r, 28, buf), "");
  EXPECT_STREQ(watchlist_cell_text(w, r, 29, buf), "");
  watchlist_set_scan(w, nullptr);
  scan_delete(s);
}

}  // namespace
