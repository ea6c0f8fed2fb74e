// The scan panel on real scans: what every id does, the cascades when the
// relative volume or the delta time go away, what the panel shows for each
// kind of scan, the summary, the file actions (Save and Rename, New,
// Remove, ">Watchlist") and the ranges with their typed amounts.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "lib/fmt.h"
#include "sstime.h"
#include "testlog.h"
#include "toolstest.h"
#include "ui/flyaway.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "windows/titlebar.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class ScanPanel : public Panels {
 protected:
  window *win = nullptr;
  scantools *p = nullptr;

  // One watchlist window showing s, with its scan panel.
  void open(scan *s) {
    win = window_new(root, 0);
    win->r = {0, 0, 900, 400};
    window_set_role(win, kRoleWatchlist);
    if (s) watchlist_set_scan(list_of(win), s);
    p = panel_of(win);
    ASSERT_NE(p, nullptr);
    tools_refresh_now(p);
  }
  void close() {
    if (!win) return;
    watchlist_set_scan(list_of(win), nullptr);
    container_cls(root)->remove(root, win);
    widget_delete(win);
    win = nullptr;
  }
  void TearDown() override {
    close();
    Panels::TearDown();
  }
  scan *shown() { return watchlist_get_scan(list_of(win)); }
  static int32_t active_id(button_group *g) { return g->active ? g->active->id : -1; }
  void type_into(textbox *t, const char *text, int code) {
    textbox_set_text(t, text);
    t->callback(t, code, t->arg, t->id);
  }
};

// ---- ids on a real scan -----------------------------------------------------

TEST_F(ScanPanel, IdEffectsTable) {
  using check = std::function<bool(const scan *)>;
  struct row {
    int32_t id;
    int on;
    std::function<void(scan *)> before;
    check want;
  } rows[] = {
      {2, 1, nullptr, [](const scan *s) { return (s->instr_filter & 2) != 0; }},
      {2, 0, [](scan *s) { scan_change_instr_filter(s, 2, 1); }, [](const scan *s) { return !(s->instr_filter & 2); }},
      {3, 1, nullptr, [](const scan *s) { return (s->instr_filter & 32) != 0; }},
      {4, 1, nullptr, [](const scan *s) { return (s->instr_filter & 4) != 0; }},
      {5, 1, nullptr, [](const scan *s) { return (s->instr_filter & 8) != 0; }},
      {62, 1, nullptr, [](const scan *s) { return (s->instr_filter & 256) != 0; }},
      {6, 0, [](scan *s) { scan_change_instr_filter(s, 1, 0); },
       [](const scan *s) { return (s->instr_filter & 1) && s->time_filter == 0; }},
      {7, 0, nullptr, [](const scan *s) { return (s->instr_filter & 1) && s->time_filter == 1; }},
      {8, 0, nullptr, [](const scan *s) { return s->time_filter == 2; }},
      {9, 0, nullptr, [](const scan *s) { return s->time_filter == 3; }},
      {67, 0, nullptr, [](const scan *s) { return s->time_filter == 4; }},
      {68, 0, nullptr, [](const scan *s) { return s->time_filter == 5; }},
      {72, 0, nullptr, [](const scan *s) { return s->time_filter == 9; }},
      {10, 0, [](scan *s) { scan_set_time_filter(s, 3); },
       [](const scan *s) { return !(s->instr_filter & 1) && s->time_filter == 0; }},
      {11, 0, nullptr, [](const scan *s) { return s->price_filter == 1; }},
      {16, 0, nullptr, [](const scan *s) { return s->price_filter == 6; }},
      {18, 0, nullptr, [](const scan *s) { return s->price_filter == 8; }},
      {19, 0, [](scan *s) { scan_set_price_filter(s, 4); }, [](const scan *s) { return s->price_filter == 0; }},
      {20, 0, nullptr, [](const scan *s) { return s->change_filter == 1; }},
      {21, 0, nullptr, [](const scan *s) { return s->change_filter == 2; }},
      {39, 0, nullptr, [](const scan *s) { return s->change_filter == 3; }},
      {40, 0, nullptr, [](const scan *s) { return s->change_filter == 4; }},
      {22, 0, [](scan *s) { scan_set_change_filter(s, 2); }, [](const scan *s) { return s->change_filter == 0; }},
      {30, 1, nullptr, [](const scan *s) { return s->reversed != 0; }},
      {35, 1, nullptr, [](const scan *s) { return scan_is_frozen(s) != 0; }},
      {35, 0, [](scan *s) { scan_freeze(s); }, [](const scan *s) { return scan_is_frozen(s) == 0; }},
      {35, 1, [](scan *s) { scan_freeze(s); }, [](const scan *s) { return scan_is_frozen(s) != 0; }},
      {37, 0, nullptr, [](const scan *s) { return s->exchanges[0] == 0; }},
      {38, 1, nullptr, [](const scan *s) { return s->exchanges[1] != 0; }},
      {59, 0, nullptr, [](const scan *s) { return s->vcmp == 1; }},
      {61, 0, [](scan *s) { scan_set_vcmp(s, 2); }, [](const scan *s) { return s->vcmp == -1; }},
  };
  for (const row &r : rows) {
    scan *s = scan_create("T", 0);
    if (r.before) r.before(s);
    EXPECT_GE(scantools_apply_id(s, r.id, r.on), 0) << r.id;
    EXPECT_TRUE(r.want(s)) << "id " << r.id << " on " << r.on;
    scan_delete(s);
  }
  EXPECT_EQ(scantools_apply_id(nullptr, 27, 0), -1);
  scan *s = scan_create("T", 0);
  EXPECT_EQ(scantools_apply_id(s, 999, 0), -1);
  EXPECT_EQ(scantools_apply_id(s, 58, 0), 1) << "a new comparison asks for a re-run";
  EXPECT_EQ(scantools_apply_id(s, 58, 0), 0) << "the same one does not";
  scan_delete(s);
}

TEST_F(ScanPanel, OrderIdsToOrdersAndBack) {
  const struct { int32_t id; uint32_t order; } table[] = {
      {23, 1}, {24, 2}, {25, 3}, {26, 4}, {27, 5}, {28, 6}, {29, 0}, {32, 7}, {33, 8}, {34, 11},
      {41, 9}, {42, 10}, {55, 13}, {56, 15}, {57, 14}, {63, 16}, {64, 17}, {65, 18}, {66, 19}};
  scan *s = scan_create("T", 0);
  for (auto &t : table) {
    ASSERT_EQ(scantools_apply_id(s, t.id, 0), 0);
    EXPECT_EQ(s->order, t.order) << t.id;
    EXPECT_EQ(scantools_order_id(t.order), t.id);
  }
  EXPECT_EQ(scantools_order_id(12), -1) << "order 12 selects no button";
  scan_delete(s);
}

TEST_F(ScanPanel, OnlyAClickEdits) {
  struct { const char *name; uint32_t state; bool edits; } rows[] = {
      {"a click", kClick, true},
      {"a press", BUTTON_PRESSED | BUTTON_HELD, false},
      {"dragged out", kClick | kDragged, false},
      {"dropped on", kDroppedOn, false},
  };
  for (auto &r : rows) {
    scan *s = scan_create("C", 0);
    open(s);
    button *b = scantools_button(p, 27);
    ASSERT_NE(b, nullptr);
    int held = undo_count();
    b->callback(b, r.state, b->arg, b->id);
    EXPECT_EQ(s->order == 5, r.edits) << r.name;
    EXPECT_EQ(undo_count() > held, r.edits) << r.name;
    close();
    scan_delete(s);
  }
}

// ---- cascades, through the panel's own buttons ---------------------------------

TEST_F(ScanPanel, RelativeVolumeOffFallsBackFromItsOrders) {
  struct { uint32_t order; uint32_t want; } rows[] = {{15, 3}, {14, 2}, {5, 5}};
  for (auto &r : rows) {
    scan *s = scan_create("R", 0);
    scan_set_vcmp(s, 1);
    scan_set_order(s, r.order);
    open(s);
    click(button_group_member(&p->relvol_group, 61));
    EXPECT_EQ(s->vcmp, -1);
    EXPECT_EQ(s->order, r.want) << r.order;
    close();
    scan_delete(s);
  }
}

TEST_F(ScanPanel, DeltaOffFallsBackFromItsOrdersAndFilters) {
  struct { uint32_t order, change; uint32_t want_order, want_change; } rows[] = {
      {9, 3, 3, 1}, {10, 4, 3, 2}, {7, 0, 2, 0}, {8, 1, 2, 1}, {5, 2, 5, 2}};
  for (auto &r : rows) {
    scan *s = scan_create("D", 0);
    scan_set_track(s, 0, 300, 0);
    scan_set_order(s, r.order);
    scan_set_change_filter(s, r.change);
    open(s);
    ASSERT_EQ(active_id(&p->delta_group), 2) << "a 5-minute delta shows as 5 Min";
    click(button_group_member(&p->delta_group, 10));
    EXPECT_FALSE(scan_track_set(s, 0));
    EXPECT_EQ(s->order, r.want_order) << r.order;
    EXPECT_EQ(s->change_filter, r.want_change) << r.change;
    close();
    scan_delete(s);
  }
}

TEST_F(ScanPanel, DeltaButtonsAndCustomTime) {
  const uint32_t secs[10] = {0, 60, 300, 600, 900, 1200, 1800, 3600, 7200, 14400};
  scan *s = scan_create("D", 0);
  for (int id = 1; id <= 9; id++) {
    scantools_apply_delta(s, id, 0);
    EXPECT_EQ(s->tracks[0].delta_seconds, secs[id]) << id;
    EXPECT_EQ(s->tracks[0].fixed_point, 0u) << id;
  }
  scantools_apply_delta(s, 0, 1030);
  EXPECT_EQ(s->tracks[0].delta_seconds, 0u);
  EXPECT_EQ(s->tracks[0].fixed_point, sstime_pack(0, 30, 10, 1, 1, 1970)) << "10:30 on 1 January 1970";
  open(s);
  EXPECT_EQ(active_id(&p->delta_group), 0) << "a fixed point shows as Custom";
  EXPECT_EQ(time_spinner_value(p->delta_time), 1030);
  EXPECT_TRUE(button_is_sensitive(p->pct_delta));
  close();
  scantools_apply_delta(s, 10, 0);
  open(s);
  EXPECT_EQ(active_id(&p->delta_group), 10);
  for (button *b : {p->pct_delta, p->delta, p->up_delta, p->down_delta}) EXPECT_FALSE(button_is_sensitive(b));
  close();
  scan_delete(s);
}

// ---- refresh by kind of scan ----------------------------------------------------

TEST_F(ScanPanel, RefreshMatrixByKindOfScan) {
  wlist *wl = wlist_create("Mine", 0);
  struct row {
    const char *kind;
    std::function<scan *()> make;
    bool order_shown, others_shown, name_editable;
    const char *save_text;
    bool new_on, to_wlist_on, remove_on, manual_on;
  } rows[] = {
      {"temporary without a name", [] { return scan_new_temp(); }, true, true, true, "Save", false, true, false,
       false},
      {"registered", [] { return scan_create("Reg", 0); }, true, true, true, "Rename", true, true, true, false},
      {"fixed preset", [] { return scan_new_preset("Top"); }, false, true, false, "Save", true, true, false, false},
      {"watchlist source", nullptr, true, false, true, "Rename", true, false, true, true},
  };
  for (const row &r : rows) {
    scan *s = nullptr;
    if (r.make) {
      s = r.make();
      scan_set_order(s, 5);
      open(s);
    } else {
      open(nullptr);
      watchlist_set_source(list_of(win), wl);
      s = shown();
      tools_refresh_now(p);
    }
    EXPECT_EQ(scantools_section_shown(p, SCANTOOLS_ORDER), r.order_shown) << r.kind;
    for (int k : {SCANTOOLS_SELECT, SCANTOOLS_TRADED, SCANTOOLS_CHANGE, SCANTOOLS_LEVELS, SCANTOOLS_RANGES})
      EXPECT_EQ(scantools_section_shown(p, k), r.others_shown) << r.kind << " section " << k;
    EXPECT_TRUE(scantools_section_shown(p, SCANTOOLS_FILE)) << r.kind;
    EXPECT_EQ(textbox_is_editable(p->name) != 0, r.name_editable) << r.kind;
    EXPECT_STREQ(p->save->text, r.save_text) << r.kind;
    EXPECT_FALSE(button_is_sensitive(p->save)) << r.kind << ": nothing typed yet";
    EXPECT_EQ(button_is_sensitive(p->make_new) != 0, r.new_on) << r.kind;
    EXPECT_EQ(button_is_sensitive(p->to_wlist) != 0, r.to_wlist_on) << r.kind;
    EXPECT_EQ(button_is_sensitive(p->remove) != 0, r.remove_on) << r.kind;
    EXPECT_EQ(button_is_sensitive(p->manual) != 0, r.manual_on) << r.kind;
    EXPECT_EQ(active_id(&p->order), r.make ? 27 : scantools_order_id(s->order)) << r.kind;
    EXPECT_STREQ(textbox_text(p->name), s->name) << r.kind;
    bool registered = s->registered;
    close();  // a temporary scan dies with its last watcher
    if (r.make && registered) scan_delete(s);
  }
}

TEST_F(ScanPanel, RefreshShowsFiltersAndBounds) {
  scan *s = scan_create("F", 0);
  scan_change_instr_filter(s, kScanDerivatives | kScanNews, 1);
  scan_set_time_filter(s, 0);
  scan_set_price_filter(s, 6);
  scan_set_change_filter(s, 4);
  scan_set_min_price(s, 250);
  scan_set_max_trades(s, 1500);
  scan_set_order(s, 12);
  open(s);
  EXPECT_TRUE(p->derivs->state & BUTTON_ACTIVE);
  EXPECT_TRUE(p->news->state & BUTTON_ACTIVE);
  EXPECT_FALSE(p->indices->state & BUTTON_ACTIVE);
  EXPECT_EQ(active_id(&p->traded), 6) << "filter 0 with bit 1 shows Today";
  EXPECT_EQ(active_id(&p->levels), 16);
  EXPECT_EQ(active_id(&p->change), 40);
  EXPECT_EQ(active_id(&p->order), -1) << "order 12 selects none";
  EXPECT_EQ(active_id(&p->relvol_group), 61);
  EXPECT_FALSE(button_is_sensitive(p->pct_relvol));
  EXPECT_STREQ(textbox_text(p->range[0]), "2.5");
  EXPECT_STREQ(textbox_text(p->range[1]), "");
  EXPECT_STREQ(textbox_text(p->range[7]), "1500");
  close();
  scan_delete(s);
}

// ---- the summary ----------------------------------------------------------------

TEST_F(ScanPanel, SummaryTable) {
  auto base = [](int fixed) {
    scan *s = scan_create("S", 0);
    scan_change_instr_filter(s, kScanDerivatives | kScanIndices, 1);
    scan_set_exchange(s, 0, 1);
    scan_set_exchange(s, 1, 1);
    scan_set_fixed(s, fixed);
    return s;
  };
  const char *orders[20] = {"", "ALPHABETICAL", "BY CHANGE", "BY PCT CHANGE", "BY SPREAD", "BY VOLUME",
                            "BY TURNOVER", "BY DELTA", "BY DELTA 2", "BY PCT DELTA", "BY PCT DELTA2",
                            "BY LAST TRADE", "", "BY MARKET CAP", "BY REL VOL", "BY PCT REL VOL",
                            "BY RANGE POS", "BY BID GAP", "BY ASK GAP", "BY VWAP GAP"};
  for (uint32_t o = 0; o < 20; o++) {
    for (int fixed : {0, 1}) {
      scan *s = base(fixed);
      scan_set_order(s, o);
      EXPECT_EQ(std::string(scantools_summary(s)), fixed ? "" : orders[o]) << o << " fixed " << fixed;
      scan_delete(s);
    }
  }
  struct row {
    const char *name;
    int fixed;
    std::function<void(scan *)> set;
    std::string want;
  } rows[] = {
      {"reversed", 0, [](scan *s) { scan_set_reversed(s, 1); }, "ALPHABETICAL, REVERSED"},
      {"one exchange", 0, [](scan *s) { scan_set_exchange(s, 1, 0); }, "ALPHABETICAL, ASX ONLY"},
      {"the other", 0, [](scan *s) { scan_set_exchange(s, 0, 0); }, "ALPHABETICAL, NZX ONLY"},
      {"no derivatives, no indices, all venues", 0,
       [](scan *s) {
         scan_change_instr_filter(s, kScanDerivatives | kScanIndices, 0);
         scan_change_instr_filter(s, kScanAllVenues, 1);
       },
       "ALPHABETICAL, NO DERIVS, ALL VENUES, NO INDICES"},
      {"the same fixed", 1,
       [](scan *s) {
         scan_change_instr_filter(s, kScanDerivatives | kScanIndices, 0);
         scan_change_instr_filter(s, kScanAllVenues, 1);
       },
       ""},
      {"news", 0, [](scan *s) { scan_change_instr_filter(s, kScanNews, 1); }, "ALPHABETICAL, HAS NEWS"},
      {"sensitive wins over news", 1, [](scan *s) { scan_change_instr_filter(s, kScanNews | kScanSensitive, 1); },
       "HAS SENSITIVE NEWS"},
      {"in watchlists", 1, [](scan *s) { scan_change_instr_filter(s, kScanHeld, 1); }, "IN WATCHLISTS"},
      {"traded in the last hour", 1, [](scan *s) { scan_set_time_filter(s, 3); }, "TRADED IN LAST HOUR"},
      {"traded in the last 4 hours", 1, [](scan *s) { scan_set_time_filter(s, 9); }, "TRADED IN LAST 4 HOURS"},
      {"up today", 0, [](scan *s) { scan_set_change_filter(s, 1); }, "ALPHABETICAL, UP TODAY"},
      {"up today hidden by a fixed pct-change order", 1,
       [](scan *s) {
         scan_set_order(s, 3);
         scan_set_change_filter(s, 1);
       },
       ""},
      {"down since delta", 1, [](scan *s) { scan_set_change_filter(s, 4); }, "DOWN SINCE DELTA TIME"},
      {"levels", 1, [](scan *s) { scan_set_price_filter(s, 8); }, "AT LOW"},
      {"level 1", 1, [](scan *s) { scan_set_price_filter(s, 1); }, "BUY <= LAST"},
      {"frozen alone", 1, [](scan *s) { scan_freeze(s); }, "(FROZEN)"},
      {"frozen after the order", 0, [](scan *s) { scan_freeze(s); }, "ALPHABETICAL (FROZEN)"},
  };
  for (const row &r : rows) {
    scan *s = base(r.fixed);
    r.set(s);
    EXPECT_EQ(std::string(scantools_summary(s)), r.want) << r.name;
    scan_delete(s);
  }
  // Each bound, in the fixed order of the fragments.
  scan *s = base(1);
  scan_set_min_price(s, 250);
  scan_set_max_price(s, 1000);
  scan_set_min_mktcap(s, 100000000);
  scan_set_max_mktcap(s, 900000000);
  scan_set_min_turnover(s, 5000000);
  scan_set_max_turnover(s, 9000000);
  scan_set_min_trades(s, 10);
  scan_set_max_trades(s, 99);
  scan_set_price_filter(s, 5);
  std::string want = std::string("MIN PRICE ") + fmt_price(250);
  want += std::string(", MAX PRICE ") + fmt_price(1000);
  want += std::string(", MIN ") + fmt_money_float_short(100000000) + " MARKET CAP";
  want += std::string(", MAX ") + fmt_money_float_short(900000000) + " MARKET CAP";
  want += std::string(", MIN ") + fmt_money_short(5000000) + " TRADED";
  want += std::string(", MAX ") + fmt_money_short(9000000) + " TRADED";
  want += std::string(", MIN ") + fmt_int(10) + " TRADES";
  want += std::string(", MAX ") + fmt_int(99) + " TRADES";
  want += ", LAST <= VWAP";
  EXPECT_EQ(std::string(scantools_summary(s)), want);
  scan_delete(s);
  EXPECT_STREQ(scantools_summary(nullptr), "");
}

// ---- file actions ----------------------------------------------------------------

TEST_F(ScanPanel, SaveRegistersANamedTemporaryScanThenRenames) {
  scan *s = scan_new_temp();
  open(s);
  struct { const char *typed; bool save_on; } names[] = {{"", false}, {"Taken", false}, {"Fresh", true}};
  scan *taken = scan_create("Taken", 0);
  for (auto &n : names) {
    type_into(p->name, n.typed, TEXTBOX_CHANGED);
    EXPECT_EQ(button_is_sensitive(p->save) != 0, n.save_on) << '"' << n.typed << '"';
  }
  int held = undo_count();
  click(p->save);
  EXPECT_TRUE(s->registered);
  EXPECT_STREQ(s->name, "Fresh");
  EXPECT_STREQ(p->save->text, "Rename");
  EXPECT_FALSE(button_is_sensitive(p->save));
  EXPECT_TRUE(button_is_sensitive(p->make_new));
  EXPECT_TRUE(button_is_sensitive(p->to_wlist));
  EXPECT_GT(undo_count(), held);
  // Enter with Save disabled puts the name back.
  type_into(p->name, "Fresh", TEXTBOX_CHANGED);
  textbox_set_text(p->name, "Scratch");
  p->name->callback(p->name, TEXTBOX_ENTER, p->name->arg, p->name->id);
  EXPECT_STREQ(textbox_text(p->name), "Fresh");
  // Rename: the name changes, the registration stays.
  type_into(p->name, "Renamed", TEXTBOX_CHANGED);
  ASSERT_TRUE(button_is_sensitive(p->save));
  type_into(p->name, "Renamed", TEXTBOX_ENTER);
  EXPECT_STREQ(s->name, "Renamed");
  EXPECT_TRUE(s->registered);
  // One undo takes the rename back, the next the registration.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_STREQ(shown()->name, "Fresh");
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(scan_find(s->id), nullptr) << "the registration is undone: the scan is out of the list";
  close();
  // Undoing a registration unlinks the scan and nothing else frees it.
  EXPECT_EQ(scan_delete(s), 0);
  scan_delete(taken);
}

TEST_F(ScanPanel, ToWatchlistCopiesAtMost500AndRestoresTheLimit) {
  for (int i = 0; i < 620; i++) {
    char code[8];
    snprintf(code, sizeof code, "Q%03d", i);
    ss_stock *st = stock(code);
    st->last = 100 + uint32_t(i);
    st->volume = 10 + uint64_t(i);
  }
  scan *s = scan_create("Busy", 0);
  scan_set_order(s, 5);
  open(s);
  scan_set_limit(s, 20);
  scan_refresh_now(s);
  const int32_t lists = wlist_total();
  int held = undo_count();
  click(p->to_wlist);
  ASSERT_EQ(wlist_total(), lists + 1);
  wlist *wl = watchlist_get_source(list_of(win));
  ASSERT_NE(wl, nullptr);
  EXPECT_EQ(wlist_count(wl), 500);
  EXPECT_STREQ(wlist_name(wl), "Busy");
  EXPECT_EQ(s->limit, 20u) << "the scan's own limit is back";
  EXPECT_EQ(std::string(wlist_item_at(wl, 0)->code), "Q619") << "highest volume first";
  EXPECT_GT(undo_count(), held);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(shown(), s) << "undo shows the scan again";
  close();
  EXPECT_EQ(scan_delete(s), 0);
}

TEST_F(ScanPanel, NewGivesAnUnnamedCopyAndUndoBringsTheScanBack) {
  scan *s = scan_new_preset("Top");
  scan_set_order(s, 5);
  open(s);
  click(p->make_new);
  scan *c = shown();
  ASSERT_NE(c, s);
  EXPECT_FALSE(c->fixed);
  EXPECT_STREQ(c->name, "");
  EXPECT_EQ(c->order, 5u);
  // The preset was temporary and died with its window; undo brings back a
  // copy of it as it was.
  ASSERT_EQ(undo_perform(), 0);
  ASSERT_NE(shown(), nullptr);
  EXPECT_TRUE(shown()->fixed);
  EXPECT_STREQ(shown()->name, "Top");
  EXPECT_EQ(shown()->order, 5u);
}

TEST_F(ScanPanel, RemoveUnlinksARegisteredScanAndUndoRelinksIt) {
  scan *s = scan_create("Gone", 0);
  open(s);
  const int32_t before = scan_count();
  click(p->remove);
  EXPECT_EQ(scan_count(), before - 1);
  EXPECT_NE(shown(), s);
  EXPECT_EQ(win->role, kRoleWatchlist) << "the window keeps a copy";
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(scan_count(), before);
  EXPECT_EQ(shown(), s);
  close();
  scan_delete(s);
}

// ---- ranges -------------------------------------------------------------------------

TEST_F(ScanPanel, RangesTakeTypedAmountsAsOneUndoStepEach) {
  scan *s = scan_create("R", 0);
  open(s);
  struct row {
    int field;
    const char *typed;
    std::function<bool(const scan *)> want;
  } rows[] = {
      {0, "2.5", [](const scan *x) { return x->min_price == 250; }},
      {0, "1.255", [](const scan *x) { return x->min_price == 126; }},
      {0, "nan", [](const scan *x) { return x->min_price == 126; }},  // refused: unchanged
      {0, "-1", [](const scan *x) { return x->min_price == 126; }},
      {1, "1e30", [](const scan *x) { return x->max_price == kScanMaxPrice; }},
      {0, "", [](const scan *x) { return x->min_price == kScanNoPrice; }},
      {2, "2m", [](const scan *x) { return x->min_turnover == 200000000ull; }},
      {5, "1.5b", [](const scan *x) { return x->max_mktcap == 150000000000ull; }},
      {6, "1.5k", [](const scan *x) { return x->min_trades == 1500; }},
      {7, "2.5", [](const scan *x) { return x->max_trades == 3; }},
  };
  for (const row &r : rows) {
    textbox *t = p->range[r.field];
    int held = undo_count();
    type_into(t, r.typed, TEXTBOX_ENTER);
    EXPECT_TRUE(r.want(s)) << r.field << " \"" << r.typed << '"';
    bool refused = std::string(r.typed) == "nan" || std::string(r.typed) == "-1";
    EXPECT_EQ(undo_count() - held, refused ? 0 : 4) << r.typed << ": a group of the panel and the scan";
  }
  // A key typed (not a commit) changes nothing.
  type_into(p->range[0], "9", TEXTBOX_CHANGED);
  EXPECT_EQ(s->min_price, kScanNoPrice);
  // Undo the last commit: max trades back to none.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(s->max_trades, kScanNoTrades);
  close();
  scan_delete(s);
}

TEST_F(ScanPanel, ShiftClickVolumeResortsOtherListsAndOneUndoRestoresAll) {
  scan *a = scan_create("A", 0), *b = scan_create("B", 0), *c = scan_create("C", 0);
  for (scan *s : {a, b, c}) {  // nothing else in the summary after the order
    scan_change_instr_filter(s, kScanDerivatives | kScanIndices, 1);
    scan_set_all_exchanges(s);
  }
  std::vector<window *> ws;
  desk_of({a, b, c}, &ws);
  for (window *w : ws) window_update_title(w);
  shift(true);
  click(scantools_button(panel_of(ws[0]), 27));
  shift(false);
  for (window *w : ws) {
    std::string cap = window_get_titlebar(w)->caption;
    EXPECT_EQ(cap.substr(cap.size() - 9), "BY VOLUME") << cap;
  }
  ASSERT_EQ(undo_perform(), 0);
  for (scan *s : {a, b, c}) EXPECT_EQ(s->order, 1u);
  for (window *w : ws) {
    std::string cap = window_get_titlebar(w)->caption;
    EXPECT_EQ(cap, "ALPHABETICAL") << "the titles follow the undo";
  }
  for (window *w : ws) watchlist_set_scan(list_of(w), nullptr);
  scan_delete(a);
  scan_delete(b);
  scan_delete(c);
}

}  // namespace
