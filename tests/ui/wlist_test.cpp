// Watchlists: naming and ids, held flags through issuers, deletion with and
// without obedient watchers, moves, relinks and the configuration round trip.
#include "lib/wlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/autosave.h"
#include "listsmodel.h"

namespace {

using Wlist = ListsTest;

std::vector<std::string> names_in_order() {
  std::vector<std::string> out;
  for (wlist* w = wlist_iter_begin(); w; w = wlist_iter_next()) out.push_back(w->name);
  return out;
}

TEST_F(Wlist, NamingTable) {
  struct Row {
    std::vector<const char*> existing;
    const char* requested;
    const char* expected;
  } rows[] = {
      {{"X"}, "X", "X (2)"},
      {{"X", "X (3)"}, "X", "X (4)"},
      {{"X (3)", "X"}, "X", "X (4)"},
      {{"X (3)"}, "X", "X (4)"},
      {{}, "Y (3)", "Y (3)"},
      {{"Y"}, "Y (3)", "Y (2)"},
      {{"X (4)"}, "X (2)", "X (5)"},
      {{"A(b) (3)"}, "A(b)", "A(b) (4)"},  // the number after the cut's " (", not the first "("
      {{"(1) x"}, "(1) x", "(1) x (2)"},   // " (" at the start does not cut
      {{}, nullptr, "New Watchlist"},
      {{"New Watchlist"}, nullptr, "New Watchlist (2)"},
      {{}, "0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
  };
  for (const Row& r : rows) {
    for (const char* n : r.existing) wlist_rename(wlist_create(nullptr, 0), n);
    wlist* w = wlist_create(r.requested, 0);
    ASSERT_NE(nullptr, w);
    EXPECT_STREQ(r.expected, w->name) << (r.requested ? r.requested : "(null)");
    while (wlist* x = wlist_iter_begin()) wlist_delete(x);
  }
}

TEST_F(Wlist, IdsTakenAndHandedOut) {
  ASSERT_NE(nullptr, wlist_create("a", 7));
  LogCapture log;
  EXPECT_EQ(nullptr, wlist_create("b", 7));
  EXPECT_TRUE(log.has("wlist id 7 in use"));
  ASSERT_NE(nullptr, wlist_create("c", 9));
  wlist* d = wlist_create("d", 0);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(10, d->id);
  EXPECT_EQ(d, wlist_find(10));
  EXPECT_EQ(3, wlist_total());
  EXPECT_EQ(10, wlist_id_at(2));
  EXPECT_EQ(-1, wlist_id_at(3));
}

// A stored configuration may hold the largest id there is: a new list then
// takes the lowest free id instead of running past it.
TEST_F(Wlist, AfterTheLargestIdTheLowestFreeIsHandedOut) {
  wlist* one = wlist_create("one", 0);
  ASSERT_NE(nullptr, one);
  ASSERT_NE(nullptr, wlist_create("two", 0));
  ASSERT_NE(nullptr, wlist_create("top", INT32_MAX));
  wlist* three = wlist_create("three", 0);
  ASSERT_NE(nullptr, three);
  EXPECT_EQ(3, three->id);
  wlist_delete(one);
  wlist* again = wlist_create("again", 0);
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, again->id);
  EXPECT_EQ(again, wlist_find(1));
  EXPECT_EQ(4, wlist_create("four", -1)->id);
  EXPECT_EQ(5, wlist_total());
}

TEST_F(Wlist, ItemsInsertAndRefuseDuplicates) {
  wlist* w = wlist_create("w", 0);
  ss_stock *a = stock(0, "AAA"), *b = stock(0, "BBB"), *c = stock(0, "CCC"), *d = stock(0, "DDD");
  ASSERT_EQ(0, wlist_add_item(w, a));
  ASSERT_EQ(0, wlist_insert_before(w, b, a));   // b a
  ASSERT_EQ(0, wlist_insert_after(w, c, b));    // b c a
  ASSERT_EQ(0, wlist_insert_at(w, d, 3));       // b c a d
  LogCapture log;
  EXPECT_EQ(-1, wlist_add_item(w, a));
  EXPECT_TRUE(log.has("w already has AAA"));
  EXPECT_EQ(-1, wlist_insert_before(w, c, d));  // held: unchanged
  EXPECT_EQ(-1, wlist_insert_at(w, stock(0, "EEE"), 9));
  std::string order;
  for (instr* in = wlist_item_begin(w); in; in = wlist_item_next()) order += in->code[0];
  EXPECT_EQ("BCAD", order);
  EXPECT_EQ(-1, wlist_remove(w, stock(0, "FFF")));
  EXPECT_EQ(0, wlist_remove(w, c));
  EXPECT_EQ(2, wlist_index_of(w, d));
}

TEST_F(Wlist, HeldFlagsFollowStocksAndIssuers) {
  ss_issuer* is = issuer(0, "ABC");
  ss_stock* s1 = stock(0, "ABC");
  ss_stock* s2 = stock(0, "ABCO", "ABC");
  wlist* w1 = wlist_create("one", 0);
  wlist* w2 = wlist_create("two", 0);
  wlist_add_item(w1, s1);
  wlist_add_item(w2, s2);
  EXPECT_TRUE(s1->flags & kInHeld);
  EXPECT_TRUE(is->flags & kInHeld);
  EXPECT_TRUE(wlist_contains(w1, is));
  wlist_remove(w1, s1);
  EXPECT_FALSE(s1->flags & kInHeld);
  EXPECT_TRUE(is->flags & kInHeld) << "another stock of the issuer is still held";
  EXPECT_FALSE(wlist_contains(w1, is));
  // Unlinking a list releases what only it held; relinking holds it again.
  wlist_unlink(w2);
  EXPECT_FALSE(s2->flags & kInHeld);
  EXPECT_FALSE(is->flags & kInHeld);
  wlist_relink(w2);
  EXPECT_TRUE(s2->flags & kInHeld);
  EXPECT_TRUE(is->flags & kInHeld);
  wlist_delete(w2);
  EXPECT_FALSE(s2->flags & kInHeld);
}

struct Seen {
  std::vector<std::pair<int, std::string>> events;
  bool obedient = true;
};

void record(wlist* wl, int event, instr* in, void* owner, void* arg, uint32_t n) {
  (void)n;
  Seen* seen = static_cast<Seen*>(arg);
  seen->events.push_back({event, in ? in->code : ""});
  // Iterating the lists inside a callback is safe.
  int total = 0;
  for (wlist* w = wlist_iter_begin(); w; w = wlist_iter_next()) total++;
  EXPECT_EQ(wlist_total(), total);
  if (event == kWlistDeleted && seen->obedient) wlist_unwatch(wl, owner);
}

TEST_F(Wlist, WatchersToldEveryChangeAndDeleteWithObedientWatchers) {
  wlist* w = wlist_create("w", 0);
  Seen a, b;
  int owner_a, owner_b;
  ASSERT_EQ(0, wlist_watch(w, record, &owner_a, &a, 0));
  ASSERT_EQ(0, wlist_watch(w, record, &owner_b, &b, 0));
  ss_stock* s = stock(0, "XYZ");
  wlist_add_item(w, s);
  wlist_rename(w, "renamed");
  wlist_rename(w, "renamed");  // equal: nothing
  wlist_remove(w, s);
  int32_t id = w->id;
  LogCapture log;
  wlist_delete(w);
  std::vector<std::pair<int, std::string>> want = {{0, "XYZ"}, {2, ""}, {1, "XYZ"}, {3, ""}};
  EXPECT_EQ(want, a.events);
  EXPECT_EQ(want, b.events);
  EXPECT_EQ(nullptr, wlist_find(id));
  EXPECT_TRUE(log.empty());
}

TEST_F(Wlist, DeleteRefusedWhileAWatcherStays) {
  wlist* w = wlist_create("kept", 0);
  wlist_create("other", 0);
  Seen stubborn;
  stubborn.obedient = false;
  int owner;
  wlist_watch(w, record, &owner, &stubborn, 0);
  LogCapture log;
  wlist_delete(w);
  EXPECT_TRUE(log.has("shouldn't be watching after a delete"));
  EXPECT_TRUE(log.has("can't delete wlist kept because people are watching"));
  EXPECT_FALSE(wlist_is_in_use(w));  // survives, unlinked
  EXPECT_EQ(1, wlist_total());
  EXPECT_EQ(0, wlist_unwatch(w, &owner));
  wlist_delete(w);
  EXPECT_EQ(-1, wlist_unwatch(wlist_iter_begin(), &owner));
}

TEST_F(Wlist, MoveTable) {
  struct Row {
    uint32_t from, to;
    const char* expected;
  } rows[] = {{0, 9, "BCDA"}, {0, 3, "BCDA"}, {3, 0, "DABC"}, {1, 2, "ACBD"}, {2, 2, "ABCD"}, {9, 0, "ABCD"}};
  for (const Row& r : rows) {
    for (const char* n : {"A", "B", "C", "D"}) wlist_create(n, 0);
    wlist_move(r.from, r.to);
    std::string got;
    for (const std::string& n : names_in_order()) got += n;
    EXPECT_EQ(r.expected, got) << r.from << "->" << r.to;
    uint32_t i = 0;
    for (wlist* w = wlist_iter_begin(); w; w = wlist_iter_next()) EXPECT_EQ(i++, w->position);
    while (wlist* x = wlist_iter_begin()) wlist_delete(x);
  }
}

TEST_F(Wlist, RelinkRestoresTheKeptPosition) {
  for (const char* n : {"A", "B", "C", "D"}) wlist_create(n, 0);
  struct Row {
    int which;
    std::vector<std::string> expected;
  } rows[] = {{0, {"A", "B", "C", "D"}}, {1, {"A", "B", "C", "D"}}, {3, {"A", "B", "C", "D"}}};
  for (const Row& r : rows) {
    wlist* w = wlist_find(wlist_id_at((uint32_t)r.which));
    ASSERT_NE(nullptr, w);
    wlist_unlink(w);
    EXPECT_EQ(3, wlist_total());
    wlist_relink(w);
    EXPECT_EQ(r.expected, names_in_order());
  }
}

TEST_F(Wlist, SaveAndLoadRoundTripThroughConfigText) {
  ss_stock* a = stock(0, "AAA");
  ss_index* x = index(0, "XJO");
  ss_stock* n = stock(1, "NZB");
  wlist* one = wlist_create("Banks and more", 4);
  wlist_add_item(one, n);
  wlist_add_item(one, a);
  wlist_add_item(one, x);
  wlist_create("X (2)", 9);
  wlist_rename(wlist_create(nullptr, 2), "X");  // stored names come back as they were
  config_out_reset();
  wlist_save();
  std::string text = take_config_text();
  EXPECT_NE(std::string::npos, text.find("watchlist 4 \"Banks and more\"\nwatchlist.instr S:NZX:NZB\n")) << text;
  wlist_fini();
  ASSERT_EQ(0, wlist_init());
  ASSERT_EQ(0, config_load_buffer(text.data(), (int32_t)text.size()));
  config_autosave_cancel();
  EXPECT_EQ(3, wlist_load());
  EXPECT_FALSE(config_autosave_pending()) << "loading is no change to save";
  wlist_add_item(wlist_find(9), a);
  EXPECT_TRUE(config_autosave_pending());
  wlist_remove(wlist_find(9), a);
  EXPECT_EQ((std::vector<std::string>{"Banks and more", "X (2)", "X"}), names_in_order());
  wlist* back = wlist_find(4);
  ASSERT_NE(nullptr, back);
  ASSERT_EQ(3, back->count);
  EXPECT_EQ((instr*)n, back->items[0]);
  EXPECT_EQ((instr*)a, back->items[1]);
  EXPECT_EQ((instr*)x, back->items[2]);
  EXPECT_NE(nullptr, wlist_find(9));
  EXPECT_EQ(10, wlist_create(nullptr, 0)->id);
  // Saving the loaded lists writes the same text.
  wlist_delete(wlist_find(10));
  wlist_save();
  EXPECT_EQ(text, take_config_text());
}

}  // namespace
