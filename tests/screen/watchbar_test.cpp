// The watch bar on screen 0 (no OS window): the 26th drop refused with the
// limit line and no change; drops by thirds of a cell (new cells left and
// right, the middle replaced); issuers dropped as their stock; a cell of
// another bar refused; a click giving a cell to the quote pop window and
// making it special, the special index following its cell; the stored form
// of scan, watchlist and instrument cells read back; and a deleted watchlist
// taking its cycling cell off the bar that holds it.
#include "screen/watchbar.h"

#include <gtest/gtest.h>

#include <string>

#include "barstest.h"
#include "undo.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);

class Watchbar : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_select(0);
    bar = screen_get(0)->watchbar;
    ASSERT_NE(nullptr, bar);
    watchbar_clear(bar);
    mini_quote_set_remove_now(1);
  }
  void TearDown() override {
    watchbar_clear(bar);
    mini_quote_set_remove_now(0);
  }
  // Lays the cells out 100 pixels apart, as a 100-wide strip each.
  void place() {
    for (int32_t i = 0; i < watchbar_count(bar); i++) watchbar_cell(bar, i)->r = {i * 100, 0, 100, 20};
  }
  std::string codes() {
    std::string t;
    for (widget *w = watchbar_iter_begin(bar); w; w = watchbar_iter_next(bar)) {
      instr *in = mini_quote_get_instr(w);
      t += (in ? in->code : std::string("-")) + " ";
    }
    return t;
  }
  widget *bar = nullptr;
};

TEST_F(Watchbar, TheTwentySixthDropIsRefusedAndChangesNothing) {
  ss_stock *s = bars_stock("TWS", 100);
  for (int i = 0; i < kWatchbarMax; i++) ASSERT_EQ(0, watchbar_append_instr(bar, s)) << i;
  EXPECT_EQ(kWatchbarMax, watchbar_count(bar));
  place();
  LogCapture log;
  const uint32_t pushed = undo_pushed_count();
  EXPECT_EQ(0, watchbar_drop_object(bar, 50, 1, s, nullptr));
  EXPECT_TRUE(log.has("can't have more than 25 items in watchbar"));
  EXPECT_EQ(kWatchbarMax, watchbar_count(bar));
  EXPECT_EQ(pushed, undo_pushed_count());  // no empty undo step
  EXPECT_EQ(-1, watchbar_append_instr(bar, s));
}

TEST_F(Watchbar, DropsByThirdsOfACell) {
  ss_stock *a = bars_stock("TAA", 100), *b = bars_stock("TBB", 100), *x = bars_stock("TXX", 100);
  ss_stock *y = bars_stock("TYY", 100), *z = bars_stock("TZZ", 100);
  ASSERT_EQ(0, watchbar_append_instr(bar, a));
  ASSERT_EQ(0, watchbar_append_instr(bar, b));
  place();
  // Left third of cell 1: a new cell before it.
  EXPECT_EQ(1, mini_quote_drop_object(watchbar_cell(bar, 1), 110, 1, x, nullptr));
  EXPECT_EQ("TAA TXX TBB ", codes());
  place();
  // Middle third of cell 2: its content replaced.
  EXPECT_EQ(1, mini_quote_drop_object(watchbar_cell(bar, 2), 250, 1, y, nullptr));
  EXPECT_EQ("TAA TXX TYY ", codes());
  place();
  // Right third of cell 0: a new cell after it (before cell 1, whose centre
  // is right of the point).
  EXPECT_EQ(1, mini_quote_drop_object(watchbar_cell(bar, 0), 90, 1, z, nullptr));
  EXPECT_EQ("TAA TZZ TXX TYY ", codes());
  place();
  // Its own instrument on a cell changes nothing; past the last cell appends.
  EXPECT_EQ(0, mini_quote_drop_object(watchbar_cell(bar, 0), 50, 1, a, nullptr));
  EXPECT_EQ(1, watchbar_drop_object(bar, 1000, 2, bars_index("TIX", 10, 20), nullptr));
  EXPECT_EQ("TAA TZZ TXX TYY TIX ", codes());
}

TEST_F(Watchbar, IssuersBecomeTheirStockAndOtherKindsAreIgnored) {
  ss_stock *s = bars_stock("ISU", 100);
  ss_issuer *is = ssmodel_get_issuer(ssmodel_exchange(0), "ISU");
  ss_issuer *lone = ssmodel_get_issuer(ssmodel_exchange(0), "LNE");
  ASSERT_NE(nullptr, is);
  EXPECT_EQ(1, watchbar_drop_object(bar, 0, 3, is, nullptr));
  EXPECT_EQ(1, watchbar_drop_object(bar, 500, 5, is, nullptr));
  EXPECT_EQ(0, watchbar_drop_object(bar, 500, 3, lone, nullptr));  // no stock of that code
  EXPECT_EQ(0, watchbar_drop_object(bar, 500, 8, s, nullptr));
  EXPECT_EQ("ISU ISU ", codes());
  EXPECT_EQ(-1, watchbar_append_instr(bar, is));  // an issuer is not a cell's instrument
}

TEST_F(Watchbar, ACellOfAnotherBarIsNotRemoved) {
  widget *other = screen_get(1)->watchbar;
  ASSERT_NE(other, bar);
  ASSERT_EQ(0, watchbar_append_instr(other, bars_stock("FOR", 100)));
  LogCapture log;
  EXPECT_EQ(-1, watchbar_remove(bar, watchbar_cell(other, 0)));
  EXPECT_TRUE(log.has("mini quote not found"));
  EXPECT_EQ(1, watchbar_count(other));
  EXPECT_EQ(0, watchbar_remove(other, watchbar_cell(other, 0)));
  EXPECT_EQ(-1, watchbar_remove_last(other));
}

TEST_F(Watchbar, ClickOpensTheQuotePopWindowAndTheSpecialFollowsItsCell) {
  ss_stock *s[5];
  const char *names[5] = {"CK0", "CK1", "CK2", "CK3", "CK4"};
  for (int i = 0; i < 5; i++) ASSERT_EQ(0, watchbar_append_instr(bar, s[i] = bars_stock(names[i], 100)));
  place();
  screen *sc = screen_get(0);
  sc->r = {0, 0, 1000, 800};
  bar->r = {0, 0, 1000, 20};
  EXPECT_EQ(-1, watchbar_click(bar, 9));
  ASSERT_EQ(0, watchbar_click(bar, 3));
  EXPECT_EQ(3, watchbar_get_special(bar));
  EXPECT_EQ(static_cast<instr *>(s[3]), sc->quote_popwin->instrument);
  EXPECT_TRUE(screen_bars_shown() & BAR_QUOTE_POPWIN);
  EXPECT_EQ(watchbar_cell(bar, 3)->r.x, sc->quote_popwin->r.x);  // under the cell
  EXPECT_EQ(bar->r.y + bar->r.h, sc->quote_popwin->r.y);
  screen_hide_bars(BAR_QUOTE_POPWIN);
  // A cell before it moves it on; removing one before it moves it back;
  // removing the special cell itself ends it.
  ASSERT_NE(nullptr, watchbar_insert(bar, watchbar_cell(bar, 1)));
  EXPECT_EQ(4, watchbar_get_special(bar));
  ASSERT_NE(nullptr, watchbar_insert(bar, nullptr));
  EXPECT_EQ(4, watchbar_get_special(bar));
  ASSERT_EQ(0, watchbar_remove(bar, watchbar_cell(bar, 0)));
  EXPECT_EQ(3, watchbar_get_special(bar));
  EXPECT_EQ(static_cast<instr *>(s[3]), mini_quote_get_instr(watchbar_cell(bar, 3)));
  ASSERT_EQ(0, watchbar_remove(bar, watchbar_cell(bar, 3)));
  EXPECT_EQ(-1, watchbar_get_special(bar));
  // The item at a point: the first cell whose right edge lies beyond it.
  place();
  EXPECT_EQ(watchbar_cell(bar, 1), watchbar_item_at(bar, 100));
  EXPECT_EQ(nullptr, watchbar_item_at(bar, 100000));
}

TEST_F(Watchbar, ClickingAListCellShowsTheListInTheQuotePopWindow) {
  wlist *wl = wlist_create("Popped", 415);
  ASSERT_NE(nullptr, wl);
  wlist_add_item(wl, bars_stock("PP1", 100));
  ASSERT_EQ(0, watchbar_append_wlist(bar, wl));
  place();
  screen *sc = screen_get(0);
  sc->r = {0, 0, 1000, 800};
  bar->r = {0, 0, 1000, 20};
  ASSERT_EQ(0, watchbar_click(bar, 0));
  EXPECT_EQ(uint32_t(kRoleWatchlist), sc->quote_popwin->role);
  widget *c = sc->quote_popwin->child[kWinWatchlist];
  ASSERT_TRUE(watchlist_is(c));
  EXPECT_EQ(wl, watchlist_get_source(static_cast<watchlist *>(c)));
  screen_hide_bars(BAR_QUOTE_POPWIN);
  watchlist_set_scan(static_cast<watchlist *>(c), nullptr);
  watchbar_clear(bar);
  wlist_delete(wl);
}

TEST_F(Watchbar, StoredScanWatchlistAndInstrumentCellsReadBack) {
  scan *reg = scan_create("Bars S", 411);
  ASSERT_NE(nullptr, reg);
  wlist *wl = wlist_create("Bars W", 412);
  ASSERT_NE(nullptr, wl);
  ss_stock *s = bars_stock("STR", 100);
  ss_index *x = bars_index("STX", 100, 110);
  scan *temp = scan_new_temp();  // a temporary scan of its own: not saved
  ASSERT_EQ(0, watchbar_append_scan(bar, reg));
  ASSERT_EQ(0, watchbar_append_wlist(bar, wl));
  ASSERT_EQ(0, watchbar_append_instr(bar, s));
  ASSERT_EQ(0, watchbar_append_instr(bar, x));
  ASSERT_EQ(0, watchbar_append_scan(bar, temp));
  place();
  ASSERT_EQ(0, watchbar_click(bar, 2));
  screen_hide_bars(BAR_QUOTE_POPWIN);
  config_out_reset();
  LogCapture log;
  watchbar_save(bar, 1);
  EXPECT_TRUE(log.has("shouldn't be saving an anon list"));
  const std::string text = bars_take_config_text();
  EXPECT_EQ(
      "watchbar.show t\nwatchbar.item S 411\nwatchbar.item W 412\nwatchbar.item I S:ASX:STR\n"
      "watchbar.item I I:ASX:STX\nwatchbar.special 2\n",
      text);
  watchbar_clear(bar);
  ASSERT_EQ(0, config_load_buffer(text.data(), int32_t(text.size())));
  EXPECT_EQ(1, watchbar_load(bar));
  ASSERT_EQ(4, watchbar_count(bar));
  EXPECT_EQ(reg, mini_quote_get_scan(watchbar_cell(bar, 0)));
  ASSERT_NE(nullptr, mini_quote_get_scan(watchbar_cell(bar, 1)));
  EXPECT_EQ(wl, mini_quote_get_scan(watchbar_cell(bar, 1))->source);
  EXPECT_EQ(static_cast<instr *>(s), mini_quote_get_instr(watchbar_cell(bar, 2)));
  EXPECT_EQ(static_cast<instr *>(x), mini_quote_get_instr(watchbar_cell(bar, 3)));
  EXPECT_EQ(2, watchbar_get_special(bar));
  watchbar_clear(bar);
  wlist_delete(wl);
  scan_delete(reg);
}

TEST_F(Watchbar, ADeletedWatchlistTakesItsCellOffItsOwnBar) {
  // The bar of screen 1, while screen 0 is current.
  widget *other = screen_get(1)->watchbar;
  wlist *wl = wlist_create("Gone", 413);
  ASSERT_NE(nullptr, wl);
  wlist_add_item(wl, bars_stock("GN1", 100));
  ASSERT_EQ(0, watchbar_append_instr(other, bars_stock("GN2", 100)));
  ASSERT_EQ(0, watchbar_append_wlist(other, wl));
  ASSERT_EQ(0, watchbar_append_wlist(bar, wl));
  ASSERT_EQ(2, watchbar_count(other));
  wlist_delete(wl);
  EXPECT_EQ(1, watchbar_count(other));
  EXPECT_EQ(0, watchbar_count(bar));
  EXPECT_EQ(nullptr, mini_quote_get_scan(watchbar_cell(other, 0)));
  watchbar_clear(other);
}

// Undo puts records back on their own screen only while it is open.
void open_screen0() {
  screen_select(0);
  if (!screen_is_open(0)) ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(guitest_wait_for([] {
    gui_tick();
    return screens_up() && !screen_relayout_pending();
  }));
}

TEST_F(Watchbar, DeletingACycledWatchlistRemovesItsCellAndOneUndoBringsItBack) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  wlist *wl = wlist_create("Undone", 414);
  ASSERT_NE(nullptr, wl);
  wlist_add_item(wl, bars_stock("UD1", 100));
  ASSERT_EQ(0, watchbar_append_instr(bar, bars_stock("UD0", 100)));
  ASSERT_EQ(0, watchbar_append_wlist(bar, wl));
  ASSERT_EQ(0, watchbar_append_instr(bar, bars_stock("UD2", 100)));
  // The deletion as the user makes it: one step.
  undo_begin();
  undo_push_wlist_deleted(wl);
  wlist_unlink(wl);
  undo_end();
  EXPECT_EQ("UD0 UD2 ", codes());
  ASSERT_EQ(0, undo_perform());
  gui_tick();  // cells whose list comes back in the same step are made next turn
  ASSERT_EQ(3, watchbar_count(bar));
  scan *s = mini_quote_get_scan(watchbar_cell(bar, 1));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(wl, s->source);
  EXPECT_EQ("UD0 UD1 UD2 ", codes());
  watchbar_clear(bar);
  wlist_delete(wl);
}

TEST_F(Watchbar, ADropOnTheMiddleIsOneUndoStep) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  ss_stock *a = bars_stock("MUA", 100), *b = bars_stock("MUB", 100);
  ASSERT_EQ(0, watchbar_append_instr(bar, a));
  place();
  EXPECT_EQ(1, mini_quote_drop_object(watchbar_cell(bar, 0), 50, 1, b, nullptr));
  EXPECT_EQ("MUB ", codes());
  EXPECT_EQ(1, watchbar_drop_object(bar, 500, 1, a, nullptr));
  EXPECT_EQ("MUB MUA ", codes());
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ("MUB ", codes());
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ("MUA ", codes());
}

}  // namespace
