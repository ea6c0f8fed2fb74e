// The screen's toolbars and window bar on screens without OS windows: list
// paging as a pure function and through the "More" buttons; the button
// callback fed synthetic state words (drops on Speed Pad slots, slot swaps,
// drags onto "Remove" for every kind and for a gone object, watch-bar thirds
// over cells of unequal widths, a reorder across an unnamed scan); the
// toggles, spacer, Undo and screen buttons per bar mask; hidden sections
// saved and loaded; and the window bar's ids, icon and colours.
#include "tools/toolbar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "barstest.h"
#include "drawstart.h"
#include "screen/desktop.h"
#include "ui/gui_internal.h"
#include "ui/gui_plat-linux.h"
#include "windows/window.h"
#include "charts/cstyle.h"
#include "dnd.h"
#include "log.h"
#include "quick9.h"
#include "rss/rss.h"
#include "screen/miniquote.h"
#include "screen/watchbar.h"
#include "ui/button.h"
#include "ui/flyaway.h"
#include "ui/box.h"
#include "undo.h"

namespace {

// The bars' environment with what the application starts for drawing (the
// atlas, fades and a visual style), so that buttons have their sizes.
class ToolbarEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("toolbar_test"));
    ASSERT_TRUE(drawstart_up());
    gui_set_maximise_supported(1);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(0, start_terminal_model());
    ASSERT_EQ(0, scan_init());
    ASSERT_EQ(0, undo_init());
    ASSERT_EQ(0, cstyle_init());
    ASSERT_EQ(0, rss_init());
    ASSERT_EQ(screen_init(), 0);
  }
  void TearDown() override {
    screen_shutdown();
    rss_shutdown();
    cstyle_fini();
    undo_fini();
    scan_fini();
    ssmodel_fini();
    config_shutdown();
    drawstart_down();
    gui_shutdown();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolbarEnv);

void drain_undo() {
  while (undo_count() > 0)
    if (undo_cancel() < 0) break;
}

class Toolbar : public ::testing::Test {
 protected:
  void SetUp() override {
    screen_select(0);
    tb = screen_get(0)->toolbars[0];
    ASSERT_NE(nullptr, tb);
    drain_undo();
    clear_lists();
    quick9_clear();
    mini_quote_set_remove_now(1);
    watchbar_clear(screen_get(0)->watchbar);
  }
  void TearDown() override {
    watchbar_clear(screen_get(0)->watchbar);
    mini_quote_set_remove_now(0);
    dnd_clear();
    drain_undo();
    clear_lists();
    quick9_clear();
  }
  static void clear_lists() {
    std::vector<wlist *> wls;
    for (wlist *w = wlist_iter_begin(); w; w = wlist_iter_next()) wls.push_back(w);
    for (wlist *w : wls) {
      wlist_unlink(w);
      wlist_delete(w);
    }
    std::vector<scan *> scans;
    for (scan *s = scan_iter_begin(); s; s = scan_iter_next()) scans.push_back(s);
    for (scan *s : scans) {
      scan_unlink(s);
      scan_delete(s);
    }
  }
  // The texts of a list's entry buttons.
  std::string entries(int list) {
    toolbar_rebuild_watchlists(tb);
    toolbar_rebuild_scans(tb);
    button *b[16];
    const int n = toolbar_list_entries(tb, list, b, 16);
    std::string t;
    for (int i = 0; i < n && i < 16; i++) t += std::string(b[i]->text) + " ";
    return t;
  }
  widget *tb = nullptr;
};

// ---- paging ----

TEST(ToolbarPage, OffsetCountToText) {
  struct {
    int32_t o, n;
    int32_t offset;
    bool hidden;
    const char *text;
    int32_t spacers;
  } cases[] = {
      {0, 5, 0, true, "", 0},          {10, 5, 0, true, "", 0},         {20, 5, 0, true, "", 0},
      {0, 10, 0, true, "", 0},         {10, 10, 0, true, "", 0},        {20, 10, 0, true, "", 0},
      {0, 11, 0, false, ">11-11", 0},  {10, 11, 10, false, ">1-10", 9}, {20, 11, 0, false, ">11-11", 0},
      {0, 12, 0, false, ">11-12", 0},  {10, 12, 10, false, ">1-10", 8}, {20, 12, 0, false, ">11-12", 0},
      {0, 20, 0, false, ">11-20", 0},  {10, 20, 10, false, ">1-10", 0}, {20, 20, 0, false, ">11-20", 0},
      {0, 21, 0, false, ">11-20", 0},  {10, 21, 10, false, ">21-21", 0},
      {20, 21, 20, false, ">1-10", 9},
  };
  for (auto &c : cases) {
    const toolbar_page p = toolbar_page_of(c.o, c.n);
    SCOPED_TRACE(std::to_string(c.o) + " of " + std::to_string(c.n));
    EXPECT_EQ(c.offset, p.offset);
    EXPECT_EQ(c.hidden, p.paging_hidden);
    if (!c.hidden) EXPECT_STREQ(c.text, p.text);
    EXPECT_EQ(c.spacers, p.spacers);
  }
}

TEST(ToolbarPage, ListOfAnId) {
  EXPECT_EQ(-1, toolbar_list_of_id(99));
  EXPECT_EQ(0, toolbar_list_of_id(kToolbarWatchlistBase + 7));
  EXPECT_EQ(1, toolbar_list_of_id(kToolbarScanBase));
  EXPECT_EQ(2, toolbar_list_of_id(kToolbarCstyleBase + 9999999));
  EXPECT_EQ(3, toolbar_list_of_id(kToolbarFeedBase + 1));
  EXPECT_EQ(-1, toolbar_list_of_id(kToolbarHideShowBase));
}

TEST_F(Toolbar, TwelveWatchlistsPageThroughTheMoreButton) {
  for (int i = 1; i <= 12; i++) ASSERT_NE(nullptr, wlist_create(("W" + std::to_string(i)).c_str(), 100 + i));
  EXPECT_EQ("W1 W2 W3 W4 W5 W6 W7 W8 W9 W10 ", entries(0));
  button *more = toolbar_button(tb, kToolbarPagingFirst);
  ASSERT_NE(nullptr, more);
  EXPECT_STREQ(">11-12", more->text);
  EXPECT_EQ(kToolbarWatchlistBase + 101, toolbar_list_entries(tb, 0, nullptr, 0) ? [&] {
    button *b[1];
    toolbar_list_entries(tb, 0, b, 1);
    return b[0]->id;
  }() : 0);
  toolbar_on_button(more, BUTTON_IN_CALLBACK, tb, kToolbarPagingFirst);
  EXPECT_EQ(10, toolbar_offset(tb, 0));
  button *b[16];
  ASSERT_EQ(2, toolbar_list_entries(tb, 0, b, 16));
  EXPECT_STREQ("W11", b[0]->text);
  EXPECT_STREQ(">1-10", more->text);
  // Eight spacers keep the page ten rows high.
  int rows = 0;
  for (box_node *n = static_cast<box *>(toolbar_list_box(tb, 0))->first; n; n = n->next) rows++;
  EXPECT_EQ(10, rows);
  // Past the end: back to the first page.
  toolbar_on_button(more, BUTTON_IN_CALLBACK, tb, kToolbarPagingFirst);
  EXPECT_EQ(0, toolbar_offset(tb, 0));
  EXPECT_EQ(10, toolbar_list_entries(tb, 0, nullptr, 0));
}

TEST_F(Toolbar, TenOrFewerEntriesHaveNoPagingButtonAndUnnamedScansAreSkipped) {
  ASSERT_NE(nullptr, scan_create("Alpha", 501));
  ASSERT_NE(nullptr, scan_create("", 502));
  ASSERT_NE(nullptr, scan_create("Beta", 503));
  EXPECT_EQ("Alpha Beta ", entries(1));
  button *more = toolbar_button(tb, kToolbarPagingFirst + 1);
  ASSERT_NE(nullptr, more);
  EXPECT_FALSE(widget_is_shown(more) && false);
  EXPECT_EQ(0, toolbar_offset(tb, 1));
}

TEST_F(Toolbar, AnObjectIdPastItsRangeIsNotListed) {
  LogCapture log;
  ASSERT_NE(nullptr, wlist_create("Good", 7));
  ASSERT_NE(nullptr, wlist_create("Damaged", kToolbarRangeWidth + 3));
  EXPECT_EQ("Good ", entries(0));
  EXPECT_TRUE(log.has("out of range"));
}

// ---- the callback on synthetic state words ----

// Undo puts records back on their own screen only while it is open.
void open_screen0() {
  screen_select(0);
  if (!screen_is_open(0)) ASSERT_EQ(0, screen_open(0));
  ASSERT_TRUE(guitest_wait_for([] {
    gui_tick();
    return screens_up() && !screen_relayout_pending();
  }));
}

button *slot_button(widget *tb, int slot) { return toolbar_button(tb, kToolbarSpeedPadFirst + slot); }

TEST_F(Toolbar, ASlotTakesADroppedInstrumentButNotAScan) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  ss_stock *s = bars_stock("SPA", 100);
  ASSERT_NE(nullptr, s);
  dnd_begin_stock(s);
  toolbar_on_button(slot_button(tb, 2), BUTTON_DROPPED_ON, tb, kToolbarSpeedPadFirst + 2);
  EXPECT_EQ(static_cast<instr *>(s), quick9_get(2));
  toolbar_update(tb);
  EXPECT_STREQ("SPA", slot_button(tb, 2)->text);
  EXPECT_TRUE(slot_button(tb, 2)->style & BUTTON_DRAG_SOURCE);
  EXPECT_EQ(0u, slot_button(tb, 3)->style & BUTTON_DRAG_SOURCE);
  // A scan dropped on slot 3 is refused.
  scan *sc = scan_create("Held", 601);
  ASSERT_NE(nullptr, sc);
  dnd_begin_scan(sc);
  toolbar_on_button(slot_button(tb, 3), BUTTON_DROPPED_ON, tb, kToolbarSpeedPadFirst + 3);
  EXPECT_EQ(nullptr, quick9_get(3));
  dnd_clear();
  // One undo empties slot 2 again.
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ(nullptr, quick9_get(2));
}

TEST_F(Toolbar, SlotsSwapInOneUndoStepAndTheSameSlotChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  ss_stock *a = bars_stock("SWA", 100), *b = bars_stock("SWB", 100);
  quick9_set(0, a);
  quick9_set(4, b);
  const int held = undo_count();
  toolbar_dropped(tb, slot_button(tb, 0), kToolbarSpeedPadFirst, slot_button(tb, 0), 0, 0);
  EXPECT_EQ(held, undo_count());
  EXPECT_EQ(static_cast<instr *>(a), quick9_get(0));
  toolbar_dropped(tb, slot_button(tb, 0), kToolbarSpeedPadFirst, slot_button(tb, 4), 0, 0);
  EXPECT_EQ(static_cast<instr *>(b), quick9_get(0));
  EXPECT_EQ(static_cast<instr *>(a), quick9_get(4));
  ASSERT_EQ(0, undo_perform());
  EXPECT_EQ(static_cast<instr *>(a), quick9_get(0));
  EXPECT_EQ(static_cast<instr *>(b), quick9_get(4));
  EXPECT_FALSE(undo_can_undo());
}

// A list rebuilt while the toolbar is on screen shows its new entries at
// once, each with a place of its own: not blank until something else lays
// the screen out again.
TEST_F(Toolbar, ARebuiltListShowsItsEntriesAtOnce) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  rss_feed *feed = rss_feed_create_registered("http://127.0.0.1/shown", 60, 45);
  ASSERT_NE(feed, nullptr);
  ASSERT_TRUE(widget_is_shown(tb));
  toolbar_rebuild_feeds(tb);
  button *entry[1];
  ASSERT_EQ(1, toolbar_list_entries(tb, 3, entry, 1));
  EXPECT_TRUE(widget_is_shown(entry[0]));
  EXPECT_GT(entry[0]->r.w, 0);
  EXPECT_GT(entry[0]->r.h, 0);
  rss_feed_delete(feed);
  toolbar_rebuild_feeds(tb);
}

TEST_F(Toolbar, RemoveDeletesEveryKindAndUndoBringsItBack) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  widget *remove = toolbar_remove_button(tb);
  ASSERT_NE(nullptr, remove);
  wlist *wl = wlist_create("Gone", 41);
  scan *sc = scan_create("GoneScan", 42);
  cstyle *cs = cstyle_new("GoneStyle", 43);
  rss_feed *feed = rss_feed_create_registered("http://127.0.0.1/feed", 60, 44);
  ASSERT_TRUE(wl && sc && cs && feed);
  // A feed without a name or title is listed by its display name.
  toolbar_rebuild_feeds(tb);
  button *feed_entry[1];
  ASSERT_EQ(1, toolbar_list_entries(tb, 3, feed_entry, 1));
  EXPECT_STREQ(rss_feed_display_name(feed), feed_entry[0]->text);
  EXPECT_EQ(kToolbarFeedBase + 44, feed_entry[0]->id);
  struct {
    int32_t id;
    bool (*gone)();
  } cases[] = {
      {kToolbarWatchlistBase + 41, [] { return wlist_find(41) == nullptr; }},
      {kToolbarScanBase + 42, [] { return scan_find(42) == nullptr; }},
      {kToolbarCstyleBase + 43, [] { return cstyle_find(43) == nullptr; }},
      {kToolbarFeedBase + 44, [] { return rss_feed_find(44) == nullptr; }},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_FALSE(c.gone());
    toolbar_dropped(tb, nullptr, c.id, remove, 0, 0);
    EXPECT_TRUE(c.gone());
    ASSERT_TRUE(undo_can_undo());
    undo_perform();
    EXPECT_FALSE(c.gone());
  }
  // The current desktop is a remover too; a slot is emptied, one undo refills it.
  ss_stock *s = bars_stock("RMS", 100);
  quick9_set(5, s);
  toolbar_dropped(tb, slot_button(tb, 5), kToolbarSpeedPadFirst + 5, screen_current_desktop(), 0, 0);
  EXPECT_EQ(nullptr, quick9_get(5));
  undo_perform();
  EXPECT_EQ(static_cast<instr *>(s), quick9_get(5));
  cstyle_unlink(cs);
  cstyle_delete(cs);
  rss_feed_release(feed);
}

// The level of the newest memory-log line that contains `needle`, or -1.
int newest_level_of(const std::string &needle) {
  void *cursor = nullptr;
  const char *text = nullptr;
  int level = -1;
  while (log_walk_older(nullptr, &level, &text, &cursor))
    if (text && std::string(text).find(needle) != std::string::npos) return level;
  return -1;
}

TEST_F(Toolbar, RemovingAGoneObjectIsLoggedAndChangesNothing) {
  LogCapture log;
  const struct {
    int32_t id;
    const char *line;
  } cases[] = {
      {kToolbarWatchlistBase + 991, "can't find watchlist 991 to delete"},
      {kToolbarScanBase + 992, "can't find scan 992 to delete"},
      {kToolbarCstyleBase + 993, "can't find chart style 993 to delete"},
      {kToolbarFeedBase + 994, "can't find rss feed 994 to delete"},
  };
  for (auto &c : cases) {
    toolbar_dropped(tb, nullptr, c.id, toolbar_remove_button(tb), 0, 0);
    EXPECT_EQ(1, log.count(c.line)) << c.line;
    EXPECT_EQ(LOG_ERROR, newest_level_of(c.line)) << c.line;
  }
  EXPECT_FALSE(undo_can_undo());
}

// Cells of widths 60, 150 and 90 laid side by side from x = 0.
void lay_out(widget *bar) {
  const int32_t w[] = {60, 150, 90, 90, 90};
  int32_t x = 0;
  for (int32_t i = 0; i < watchbar_count(bar); i++) {
    watchbar_cell(bar, i)->r = {x, 0, w[i % 5], 20};
    x += w[i % 5];
  }
}

std::string cells(widget *bar) {
  std::string t;
  for (int32_t i = 0; i < watchbar_count(bar); i++) {
    widget *c = watchbar_cell(bar, i);
    if (scan *s = mini_quote_get_scan(c)) t += s->source ? std::string("W:") + wlist_name(s->source) : "S";
    else if (instr *in = mini_quote_get_instr(c)) t += in->code;
    t += " ";
  }
  return t;
}

TEST_F(Toolbar, WatchBarDropsByThirdsOverCellsOfUnequalWidths) {
  widget *bar = screen_get(0)->watchbar;
  ss_stock *a = bars_stock("WA", 100), *b = bars_stock("WB", 100), *c = bars_stock("WC", 100);
  ASSERT_EQ(0, watchbar_append_instr(bar, a));
  ASSERT_EQ(0, watchbar_append_instr(bar, b));
  ASSERT_EQ(0, watchbar_append_instr(bar, c));
  lay_out(bar);
  ss_stock *x = bars_stock("WX", 100);
  quick9_set(0, x);
  // Right third of the narrow first cell (x 41..59): before the wide second.
  toolbar_dropped(tb, slot_button(tb, 0), kToolbarSpeedPadFirst, bar, 55, 5);
  EXPECT_EQ("WA WX WB WC ", cells(bar));
  lay_out(bar);  // 0-60 WA, 60-210 WX, 210-300 WB, 300-390 WC
  // Right third of the last cell: appended.
  toolbar_dropped(tb, slot_button(tb, 0), kToolbarSpeedPadFirst, bar, 385, 5);
  EXPECT_EQ("WA WX WB WC WX ", cells(bar));
  lay_out(bar);
  // Left third of WB (210..240): before it.
  quick9_set(1, a);
  toolbar_dropped(tb, slot_button(tb, 1), kToolbarSpeedPadFirst + 1, bar, 215, 5);
  EXPECT_EQ("WA WX WA WB WC WX ", cells(bar));
  lay_out(bar);  // 0-60, 60-210, 210-300, 300-390, 390-480, 480-540
  // Middle third of the cell at 60-210 (110..159): a watchlist rebinds it, a
  // scan goes before it.
  wlist *wl = wlist_create("Mid", 77);
  scan *sc = scan_create("MidScan", 78);
  toolbar_dropped(tb, nullptr, kToolbarWatchlistBase + 77, bar, 130, 5);
  EXPECT_EQ("WA W:Mid WA WB WC WX ", cells(bar));
  lay_out(bar);
  toolbar_dropped(tb, nullptr, kToolbarScanBase + 78, bar, 130, 5);
  EXPECT_EQ("WA S W:Mid WA WB WC WX ", cells(bar));
  // Chart styles and an empty slot are ignored.
  lay_out(bar);
  toolbar_dropped(tb, nullptr, kToolbarCstyleBase + 1, bar, 130, 5);
  toolbar_dropped(tb, slot_button(tb, 8), kToolbarSpeedPadFirst + 8, bar, 130, 5);
  EXPECT_EQ(7, watchbar_count(bar));
  (void)wl;
  (void)sc;
}

TEST_F(Toolbar, AReorderAcrossAnUnnamedScanMovesTheDraggedScan) {
  ASSERT_NO_FATAL_FAILURE(open_screen0());
  ASSERT_NE(nullptr, scan_create("A", 801));
  ASSERT_NE(nullptr, scan_create("", 802));
  ASSERT_NE(nullptr, scan_create("B", 803));
  ASSERT_NE(nullptr, scan_create("C", 804));
  ASSERT_EQ("A B C ", entries(1));
  // Rows 20 pixels high from y = 100.
  widget *list = toolbar_list_box(tb, 1);
  button *rows[3];
  ASSERT_EQ(3, toolbar_list_entries(tb, 1, rows, 3));
  list->r = {0, 100, 100, 200};
  for (int i = 0; i < 3; i++) rows[i]->r = {0, 100 + 20 * i, 100, 20};
  // C dropped on A's row: C first, the unnamed scan still after A.
  toolbar_dropped(tb, rows[2], rows[2]->id, tb, 10, 105);
  std::vector<int32_t> order;
  for (scan *s = scan_iter_begin(); s; s = scan_iter_next()) order.push_back(scan_id(s));
  EXPECT_EQ((std::vector<int32_t>{804, 801, 802, 803}), order);
  EXPECT_EQ("C A B ", entries(1));
  // One undo puts it back.
  ASSERT_EQ(0, undo_perform());
  order.clear();
  for (scan *s = scan_iter_begin(); s; s = scan_iter_next()) order.push_back(scan_id(s));
  EXPECT_EQ((std::vector<int32_t>{801, 802, 803, 804}), order);
  // A drop below the list is no reorder.
  toolbar_dropped(tb, rows[0], kToolbarScanBase + 801, tb, 10, 400);
  EXPECT_FALSE(undo_can_undo());
}

// ---- update per bar mask ----

TEST_F(Toolbar, TogglesFollowTheBarMask) {
  screen *s = screen_get(0);
  const uint32_t saved = s->bars;
  struct {
    uint32_t mask;
    bool left, right, minis, ticker, watch;
  } cases[] = {
      {0x1CB, true, true, true, true, true},
      {0x40, false, false, false, false, false},
      {BAR_TOOLBAR0 | BAR_WATCHBAR, true, false, false, false, true},
      {BAR_TOOLBAR1 | BAR_TICKBAR | BAR_MINIBAR, false, true, true, true, false},
  };
  const int32_t ids[5] = {41, 42, 37, 38, 39};
  for (auto &c : cases) {
    s->bars = c.mask;
    toolbar_update(tb);
    const bool want[5] = {c.left, c.right, c.minis, c.ticker, c.watch};
    for (int i = 0; i < 5; i++)
      EXPECT_EQ(want[i], (toolbar_button(tb, ids[i])->state & BUTTON_ACTIVE) != 0)
          << std::hex << c.mask << " id " << std::dec << ids[i];
  }
  s->bars = saved;
}

TEST_F(Toolbar, TheSpacerShowsOnlyOnTheRightOfAMaximisedScreenWithoutTopBars) {
  screen *s = screen_get(0);
  const uint32_t saved = s->bars, max = s->maximised;
  widget *right = s->toolbars[1];
  struct {
    uint32_t maximised, mask;
    bool right_spacer;
  } cases[] = {
      {1, BAR_TOOLBAR0 | BAR_TOOLBAR1, true},
      {1, BAR_TOOLBAR1 | BAR_WATCHBAR, false},
      {1, BAR_TOOLBAR1 | BAR_TICKBAR, false},
      {0, BAR_TOOLBAR1, false},
  };
  for (auto &c : cases) {
    s->maximised = c.maximised;
    s->bars = c.mask;
    toolbar_update(right);
    toolbar_update(tb);
    EXPECT_EQ(c.right_spacer, toolbar_spacer_shown(right)) << std::hex << c.mask;
    EXPECT_FALSE(toolbar_spacer_shown(tb));
  }
  s->bars = saved;
  s->maximised = max;
}

TEST_F(Toolbar, UndoFollowsTheRingAndTheOwnScreenButtonIsDisabled) {
  toolbar_update(tb);
  EXPECT_FALSE(button_is_sensitive(toolbar_button(tb, 43)));
  undo_push_toolbar_entry(0, nullptr);
  toolbar_update_undo(tb);
  EXPECT_TRUE(button_is_sensitive(toolbar_button(tb, 43)));
  drain_undo();
  toolbar_update(tb);
  EXPECT_FALSE(button_is_sensitive(toolbar_button(tb, 43)));
  EXPECT_FALSE(button_is_sensitive(toolbar_button(tb, 60)));
  EXPECT_TRUE(button_is_sensitive(toolbar_button(tb, 61)));
  widget *other = screen_get(2)->toolbars[0];
  toolbar_update(other);
  EXPECT_FALSE(button_is_sensitive(toolbar_button(other, 62)));
  EXPECT_TRUE(button_is_sensitive(toolbar_button(other, 60)));
}

TEST_F(Toolbar, OpenShowsRemoveAndCloseGoesBack) {
  EXPECT_EQ(0, toolbar_deck_page(tb));
  toolbar_open(tb);
  EXPECT_EQ(1, toolbar_deck_page(tb));
  EXPECT_FALSE(toolbar_logo_shown(tb));
  const int32_t before = toolbar_updates(tb);
  toolbar_close(tb);
  EXPECT_EQ(0, toolbar_deck_page(tb));
  EXPECT_EQ(before + 1, toolbar_updates(tb));
  toolbar_close(tb);  // already on page 0: no update
  EXPECT_EQ(before + 1, toolbar_updates(tb));
}

// ---- sections ----

TEST_F(Toolbar, SectionsInOrderAndTheHideShowToggle) {
  const char *const titles[] = {"Speed Pad", "Stock Tools", "Charts", "Watchlists", "Smartlists",
                                "Market", "RSS Feeds", "Layout", "Display", "Hide/Show Tools"};
  for (int i = 0; i < 10; i++) EXPECT_STREQ(titles[i], toolbar_item_by_key(tb, i));
  EXPECT_EQ(nullptr, toolbar_item_by_key(tb, 10));
  EXPECT_TRUE(toolbar_is_tool_hidden(tb, "No Such"));
  EXPECT_FALSE(toolbar_is_tool_hidden(tb, "Market"));
  button *market = toolbar_button(tb, kToolbarHideShowBase + 5);
  ASSERT_NE(nullptr, market);
  toolbar_tool_toggle(market, BUTTON_IN_CALLBACK, tb, kToolbarHideShowBase + 5);
  EXPECT_TRUE(toolbar_is_tool_hidden(tb, "Market"));
  EXPECT_FALSE(market->state & BUTTON_ACTIVE);
  toolbar_tool_toggle(market, BUTTON_IN_CALLBACK, tb, kToolbarHideShowBase + 5);
  EXPECT_FALSE(toolbar_is_tool_hidden(tb, "Market"));
  LogCapture log;
  toolbar_tool_toggle(nullptr, BUTTON_IN_CALLBACK, tb, kToolbarHideShowBase + 99);
  EXPECT_EQ(1, log.count("can't find flyaway #99 to hide/unhide"));
  EXPECT_EQ(LOG_ERROR, newest_level_of("can't find flyaway #99 to hide/unhide"));
}

// Every labelled button shows, once its section is open, inside the
// toolbar and at least as wide as its label and padding ask, so that no
// label is cut ("Volum", "Turnov") and no button of a row falls off its
// end (Minis, Right).
TEST_F(Toolbar, EveryLabelShowsWholeInsideTheStrip) {
  open_screen0();
  screen_show_bars(screen_get(0)->bars | BAR_TOOLBAR0 | BAR_TOOLBAR1);
  auto settle = [] {
    return guitest_wait_for([] {
      gui_tick();
      return !screen_relayout_pending();
    });
  };
  ASSERT_TRUE(settle());
  widget *right = screen_get(0)->toolbars[1];
  const int32_t ids[] = {3,  7,  82, 4,  2,  80, 1,  9,  10, 11, 14, 12, 140, 13, 48, 49, 29,
                         30, 35, 36, 39, 38, 37, 41, 42, 60, 61, 62, 63, 51,  52, 53, 50};
  for (widget *t : {tb, right}) {
    ASSERT_TRUE(widget_is_shown(t));
    for (int32_t id : ids) {
      button *b = toolbar_button(t, id);
      ASSERT_NE(nullptr, b) << id;
      // Its section open, as a click on the section's title opens it.
      widget *f = b->parent;
      while (f && !object_is_a(widget_obj(f), flyaway_type())) f = f->parent;
      ASSERT_NE(nullptr, f) << id;
      widget *box = f->parent;
      while (box && !object_is_a(widget_obj(box), fbox_type())) box = box->parent;
      ASSERT_NE(nullptr, box) << id;
      fbox_set_flyaway_open(reinterpret_cast<fbox *>(box), reinterpret_cast<flyaway *>(f), 1);
      ASSERT_TRUE(settle());
      EXPECT_TRUE(widget_is_shown(b)) << "\"" << b->text << "\" (" << id << ") is not shown";
      size want{0, 0};
      b->cls->reqsize(b, &want);
      EXPECT_GE(b->r.w, want.w) << "\"" << b->text << "\" (" << id << ") is cut: " << b->r.w << " of " << want.w;
      EXPECT_GE(b->r.x, t->r.x) << b->text;
      EXPECT_LE(b->r.x + b->r.w, t->r.x + t->r.w) << "\"" << b->text << "\" (" << id << ") reaches out of the strip";
    }
  }
}

TEST_F(Toolbar, HiddenSectionsAreSavedAndLoaded) {
  widget *right = screen_get(1)->toolbars[1];
  toolbar_hide_tool(right, "Layout");
  toolbar_hide_tool(right, "Market");
  config_out_reset();
  // A right toolbar hidden by a zoom is saved as shown.
  screen *s1 = screen_get(1);
  const uint32_t bars1 = s1->bars, zoomed1 = s1->bars_before_zoom;
  s1->bars &= ~BAR_TOOLBAR1;
  s1->bars_before_zoom = BAR_TOOLBAR1;
  toolbar_save(right);
  s1->bars = bars1;
  s1->bars_before_zoom = zoomed1;
  const std::string text = bars_take_config_text();
  EXPECT_EQ(
      "toolbar.right.show t\ntoolbar.right.hide_tool Market\ntoolbar.right.hide_tool Layout\n",
      text);
  // Another right toolbar takes them on load.
  widget *fresh = screen_get(3)->toolbars[1];
  ASSERT_FALSE(toolbar_is_tool_hidden(fresh, "Market"));
  ASSERT_EQ(0, config_load_buffer(text.data(), int32_t(text.size())));
  screen *s3 = screen_get(3);
  s3->bars &= ~BAR_TOOLBAR1;
  EXPECT_EQ(1, toolbar_load(fresh));
  EXPECT_TRUE(s3->bars & BAR_TOOLBAR1);
  EXPECT_TRUE(toolbar_is_tool_hidden(fresh, "Market"));
  EXPECT_TRUE(toolbar_is_tool_hidden(fresh, "Layout"));
  EXPECT_FALSE(toolbar_is_tool_hidden(fresh, "Display"));
  EXPECT_FALSE(toolbar_button(fresh, kToolbarHideShowBase + 7)->state & BUTTON_ACTIVE);
  // A left toolbar finds no block of its side and stays as it is.
  const uint32_t before = s3->bars;
  EXPECT_EQ(-1, toolbar_load(screen_get(3)->toolbars[0]));
  EXPECT_EQ(before, s3->bars);
  // "show f" hides it.
  const std::string hidden = "toolbar.left.show f\n";
  ASSERT_EQ(0, config_load_buffer(hidden.data(), int32_t(hidden.size())));
  EXPECT_EQ(0, toolbar_load(screen_get(3)->toolbars[0]));
  EXPECT_FALSE(s3->bars & BAR_TOOLBAR0);
  s3->bars |= BAR_TOOLBAR0;
}

// ---- the window bar ----

struct fake_screens {
  std::vector<std::string> calls;
} g_fake;
int fake_current(widget *w) {
  const int n = screen_index_of(w);
  g_fake.calls.push_back("current " + std::to_string(n));
  screen_select(n);
  return n;
}
void fake_min() { g_fake.calls.push_back("minimise"); }
void fake_restore() { g_fake.calls.push_back("restore"); }
void fake_max() { g_fake.calls.push_back("maximise"); }
int fake_close(int n) {
  g_fake.calls.push_back("close " + std::to_string(n));
  return 1;
}
const winbar_ops kFake = {fake_current, fake_min, fake_restore, fake_max, fake_close};

TEST(Winbar, EachIdIsAnOperationOnItsOwnScreen) {
  winbar_set_ops(&kFake);
  screen_select(0);
  widget *wb = screen_get(2)->winbar;
  button *mid = winbar_middle(wb);
  ASSERT_NE(nullptr, mid);
  winbar_set_maximised(wb, 0);
  const struct {
    int32_t id;
    const char *op;
  } cases[] = {{WINBAR_MINIMISE, "minimise"}, {WINBAR_RESTORE, "restore"},
               {WINBAR_MAXIMISE, "maximise"}, {WINBAR_CLOSE, "close 2"}};
  for (auto &c : cases) {
    screen_select(0);
    g_fake.calls.clear();
    winbar_on_button(mid, BUTTON_IN_CALLBACK, wb, c.id);
    EXPECT_EQ((std::vector<std::string>{"current 2", c.op}), g_fake.calls);
  }
  // Only clicks act.
  g_fake.calls.clear();
  winbar_on_button(mid, BUTTON_DRAGGED_OUT, wb, WINBAR_CLOSE);
  EXPECT_TRUE(g_fake.calls.empty());
  winbar_set_ops(nullptr);
  screen_select(0);
}

TEST(Winbar, TheMiddleButtonSwitchesBetweenMaximiseAndRestore) {
  widget *wb = screen_get(1)->winbar;
  button *mid = winbar_middle(wb);
  winbar_set_maximised(wb, 1);
  EXPECT_EQ(WINBAR_RESTORE, mid->id);
  EXPECT_TRUE(winbar_maximised(wb));
  const int32_t restore_icon = mid->icon;
  winbar_set_maximised(wb, 0);
  EXPECT_EQ(WINBAR_MAXIMISE, mid->id);
  EXPECT_FALSE(winbar_maximised(wb));
  EXPECT_GE(restore_icon, 0) << "a picture, not a character";
  EXPECT_GE(mid->icon, 0);
  EXPECT_NE(restore_icon, mid->icon);
}

TEST(Winbar, ColoursAreLightenedPerChannel) {
  EXPECT_EQ(0xFF69695Fu, winbar_lighten(0xFF19190Fu, 80));
  EXPECT_EQ(0xFF4B4B41u, winbar_lighten(0xFF19190Fu, 50));
  EXPECT_EQ(0x80FFF010u, winbar_lighten(0x80F0E000u, 16));  // blue clamped at 255
  const button_colours *c = winbar_colours();
  EXPECT_EQ(0xFF69695Fu, c->entry[11].fill);
  EXPECT_EQ(0xFFFFFFFFu, c->entry[12].fill);
  EXPECT_EQ(0xFF4B4B41u, c->entry[6].fill);
  EXPECT_EQ(0xFF19190Fu, c->entry[0].fill);
  // Every window-bar button draws from that set.
  EXPECT_EQ(c, winbar_middle(screen_get(0)->winbar)->colours);
}

}  // namespace

namespace {

TEST_F(Toolbar, RemoversAndTheListFanOut) {
  screen *s = screen_current();
  EXPECT_TRUE(screen_is_remover(screen_current_desktop()));
  EXPECT_TRUE(screen_is_remover(toolbar_remove_button(s->toolbars[0])));
  EXPECT_TRUE(screen_is_remover(toolbar_remove_button(s->toolbars[1])));
  EXPECT_FALSE(screen_is_remover(toolbar_remove_button(screen_get(2)->toolbars[0])));
  EXPECT_FALSE(screen_is_remover(s->desktops[(s->current_desktop + 1) % kDesktops]));
  EXPECT_FALSE(screen_is_remover(s->watchbar));
  // A new watchlist reaches the toolbars of every screen, open or not.
  ASSERT_NE(nullptr, wlist_create("Everywhere", 61));
  screen_toolbars_rebuild_list0();
  for (int i = 0; i < kScreens; i++)
    for (widget *t : screen_get(i)->toolbars) {
      button *b[2];
      ASSERT_EQ(1, toolbar_list_entries(t, 0, b, 2)) << i;
      EXPECT_EQ(kToolbarWatchlistBase + 61, b[0]->id);
    }
  // An entry and a filled slot may end on "Remove"; an empty slot or an
  // action button may not.
  toolbar_rebuild_watchlists(tb);
  button *entry[1];
  ASSERT_EQ(1, toolbar_list_entries(tb, 0, entry, 1));
  EXPECT_TRUE(toolbar_drag_removable(entry[0]));
  EXPECT_FALSE(toolbar_drag_removable(slot_button(tb, 6)));
  quick9_set(6, bars_stock("RMV", 100));
  EXPECT_TRUE(toolbar_drag_removable(slot_button(tb, 6)));
  EXPECT_FALSE(toolbar_drag_removable(toolbar_button(tb, 3)));
}

}  // namespace

// ---- under Xvfb with openbox, by xdotool ----

namespace {

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

void xdo_move(int n, int x, int y) {
  guitest_xdo("mousemove --window " + std::to_string(xwin(n)) + " " + std::to_string(x) + " " +
              std::to_string(y));
}

// Presses at the centre of `from`, moves in steps to the centre of the rect
// `to()` gives (read while dragging: what shows only during a drag is laid
// out then) and releases.
void xdo_drag(widget *from, const std::function<rect()> &to) {
  const int x0 = from->r.x + from->r.w / 2, y0 = from->r.y + from->r.h / 2;
  xdo_move(0, x0, y0);
  guitest_xdo("mousedown 1");
  for (int step = 1; step <= 3; step++) xdo_move(0, x0 + 4 * step, y0 + 4 * step);
  ASSERT_TRUE(draw_until([] { return gui_dragging() != 0; }));
  draw_until([] { return !screen_relayout_pending(); });
  const rect r = to();
  for (int step = 1; step <= 6; step++)
    xdo_move(0, x0 + (r.x + r.w / 2 - x0) * step / 6, y0 + (r.y + r.h / 2 - y0) * step / 6);
  for (int i = 0; i < 3; i++) gui_tick();
  guitest_xdo("mouseup 1");
  ASSERT_TRUE(draw_until([] { return !gui_dragging(); }));
}

// The window manager has given screen 0 its new size and the screen has
// been laid out in it.
bool settled() {
  rect root{};
  int32_t w = 0, h = 0;
  gui_window_size(screen_get(0)->os_window, &w, &h);
  return guitest_window_root_rect(xwin(0), &root) && root.w == w && root.h == h &&
         screen_get(0)->r.w == w && !screen_relayout_pending();
}

bool listed(widget *t, int32_t id) {
  button *b[16];
  const int n = toolbar_list_entries(t, 0, b, 16);
  for (int i = 0; i < n && i < 16; i++)
    if (b[i]->id == id) return true;
  return false;
}

class ToolbarGui : public Toolbar {
 protected:
  void SetUp() override {
    Toolbar::SetUp();
    ASSERT_NO_FATAL_FAILURE(open_screen0());
    rect big = {40, 40, 1100, 900};
    gui_window_set_frame(screen_get(0)->os_window, &big);
    screen_request_redraw();
    ASSERT_TRUE(draw_until([] { return !screen_relayout_pending(); }));
  }
};

TEST_F(ToolbarGui, AWatchlistDraggedOntoRemoveLeavesBothToolbarsAndUndoBringsItBack) {
  screen *s = screen_get(0);
  ASSERT_NE(nullptr, wlist_create("Dragged", 71));
  screen_request_redraw();
  for (widget *t : s->toolbars) toolbar_focus_1(t);
  ASSERT_TRUE(draw_until([&] {
    button *b[1];
    return !screen_relayout_pending() && toolbar_list_entries(tb, 0, b, 1) == 1 && b[0]->r.h > 0 &&
           !flyaway_animating(static_cast<flyaway *>(toolbar_section(tb, "Watchlists")));
  }));
  ASSERT_TRUE(listed(s->toolbars[0], kToolbarWatchlistBase + 71));
  ASSERT_TRUE(listed(s->toolbars[1], kToolbarWatchlistBase + 71));
  button *entry[1];
  toolbar_list_entries(tb, 0, entry, 1);
  ASSERT_NO_FATAL_FAILURE(xdo_drag(entry[0], [&] { return toolbar_remove_button(tb)->r; }));
  ASSERT_TRUE(draw_until([&] {
    return wlist_find(71) == nullptr && !screen_relayout_pending() &&
           !listed(s->toolbars[0], kToolbarWatchlistBase + 71) &&
           !listed(s->toolbars[1], kToolbarWatchlistBase + 71);
  }));
  EXPECT_EQ(0, toolbar_deck_page(tb));
  // The Undo button, clicked: the watchlist is back in both lists.
  ASSERT_TRUE(draw_until([&] { return button_is_sensitive(toolbar_button(tb, 43)) != 0; }));
  button *undo_b = toolbar_button(tb, 43);
  xdo_move(0, undo_b->r.x + undo_b->r.w / 2, undo_b->r.y + undo_b->r.h / 2);
  guitest_xdo("click 1");
  EXPECT_TRUE(draw_until([&] {
    return wlist_find(71) != nullptr && !screen_relayout_pending() &&
           listed(s->toolbars[0], kToolbarWatchlistBase + 71) &&
           listed(s->toolbars[1], kToolbarWatchlistBase + 71);
  }));
}

TEST_F(ToolbarGui, DepthDroppedOnAWindowMakesItADepthWindow) {
  desktop *d = screen_current_desktop();
  window *w = window_new(nullptr, 0);
  ASSERT_EQ(0, desktop_layout_apply(d, nullptr, "W0", &w, 1));
  window_set_instrument(w, bars_stock("DPT", 100));
  toolbar_focus_1(tb);
  fbox_open_flyaway(reinterpret_cast<fbox *>(toolbar_section(tb, "Stock Tools")->parent),
                    static_cast<flyaway *>(toolbar_section(tb, "Stock Tools")));
  screen_request_redraw();
  button *depth = toolbar_button(tb, 3);
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && depth->r.h > 0 &&
           !flyaway_animating(static_cast<flyaway *>(toolbar_section(tb, "Stock Tools")));
  }));
  ASSERT_NO_FATAL_FAILURE(xdo_drag(depth, [&] { return w->r; }));
  EXPECT_TRUE(draw_until([&] { return w->role == kRoleDepth; })) << w->role;
}

TEST_F(ToolbarGui, TheWindowBarRestoresAMaximisedScreenAndCloseOnTheLastShowsSettings) {
  screen *s = screen_get(0);
  for (int n = 1; n < kScreens; n++) screen_close(n);
  screen_maximise();
  ASSERT_TRUE(draw_until([&] { return screen_is_maximised() && settled(); }));
  ASSERT_TRUE(winbar_maximised(s->winbar));
  button *mid = winbar_middle(s->winbar);
  ASSERT_TRUE(draw_until([&] { return mid->r.w > 0 && !screen_relayout_pending(); }));
  xdo_move(0, mid->r.x + mid->r.w / 2, mid->r.y + mid->r.h / 2);
  guitest_xdo("click 1");
  ASSERT_TRUE(draw_until([&] { return !screen_is_maximised(); }));
  EXPECT_FALSE(winbar_maximised(s->winbar));
  EXPECT_EQ(WINBAR_MAXIMISE, mid->id);
  // Close on the only open screen keeps it and shows the settings box.
  screen_maximise();
  ASSERT_TRUE(draw_until([&] { return screen_is_maximised() && settled(); }));
  button *close_b = toolbar_button(s->winbar, WINBAR_CLOSE);
  ASSERT_NE(nullptr, close_b);
  xdo_move(0, close_b->r.x + close_b->r.w / 2, close_b->r.y + close_b->r.h / 2);
  guitest_xdo("click 1");
  EXPECT_TRUE(draw_until([] { return screen_configbox_shown(); }));
  EXPECT_TRUE(screen_is_open(0));
  screen_hide_configbox();
  screen_restore();
  draw_until([] { return !screen_is_maximised(); });
}

}  // namespace
