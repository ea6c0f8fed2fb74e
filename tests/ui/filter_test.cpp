// Instrument filters: matches over codes x flags x watchlist ids against a
// plain reference reading, self-healing of deleted ids, order-free
// equality, descriptions and the configuration round trip.
#include "lib/filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gics.h"
#include "listsmodel.h"

namespace {

using Filter = ListsTest;

constexpr uint32_t kEnergy = 0x10000000, kDrilling = 0x10101010, kBanks = 0x40100000;
constexpr uint32_t kBankSub = 0x40101010, kUnknown = 0x99000000;

// The reading the filter promises: in one of its codes, or (wild: held;
// anti-wild: not held; ids: in one of the listed watchlists; none: true
// unless codes were given).
bool reference(const std::vector<uint32_t>& codes, uint32_t flags, const std::vector<wlist*>& lists,
               const instr* in, uint32_t g) {
  for (uint32_t c : codes)
    if (g && (gics_level(c) & g) == c) return true;
  bool held = in->flags & kInHeld;
  if (flags & kFilterWild) return held;
  if (flags & kFilterAntiWild) return !held;
  if (lists.empty()) return codes.empty();
  for (wlist* w : lists)
    if (wlist_contains(w, in)) return true;
  return false;
}

TEST_F(Filter, MatchesCodesFlagsAndIdsLikeTheReference) {
  ss_issuer* oil = issuer(0, "OIL", kDrilling);
  ss_issuer* bnk = issuer(0, "BNK", kBankSub);
  ss_issuer* zed = issuer(0, "ZED", 0);
  ss_stock* s_oil = stock(0, "OIL", "OIL");
  ss_stock* s_bnk = stock(0, "BNK", "BNK");
  ss_stock* s_zed = stock(0, "ZED", "ZED");
  ss_index* x_energy = index(0, "XEJ");
  wlist* w1 = wlist_create("one", 0);
  wlist* w2 = wlist_create("two", 0);
  wlist_add_item(w1, s_oil);
  wlist_add_item(w2, s_zed);
  wlist_add_item(w2, x_energy);
  struct Target {
    const instr* in;
    uint32_t g;
  } targets[] = {{s_oil, kDrilling}, {s_bnk, kBankSub}, {s_zed, 0},           {oil, kDrilling},
                 {bnk, kBankSub},     {zed, 0},         {x_energy, kEnergy}};
  std::vector<std::vector<uint32_t>> code_sets = {{}, {kEnergy}, {kBanks}, {kUnknown}, {kEnergy, kBanks}};
  std::vector<uint32_t> flag_sets = {0, kFilterWild, kFilterAntiWild};
  std::vector<std::vector<wlist*>> id_sets = {{}, {w1}, {w2}, {w1, w2}};
  int cases = 0;
  for (auto& codes : code_sets)
    for (uint32_t flags : flag_sets)
      for (auto& ids : id_sets) {
        filter* f = filter_alloc();
        for (uint32_t c : codes) ASSERT_EQ(0, filter_add_code(f, c));
        f->flags = flags;
        for (wlist* w : ids) ASSERT_EQ(0, filter_add_watchlist(f, w->id));
        for (const Target& t : targets) {
          bool want = reference(codes, flags, ids, t.in, t.g);
          EXPECT_EQ(want, filter_match_instr(f, t.in) != 0)
              << t.in->code << " kind " << t.in->kind << " codes " << codes.size() << " flags " << flags
              << " ids " << ids.size();
          cases++;
        }
        filter_free(f);
      }
  EXPECT_EQ(420, cases);
  // A code of level 0 (unknown) never matches, not even an instrument coded 0.
  filter* f = filter_alloc();
  filter_add_code(f, kUnknown);
  EXPECT_FALSE(filter_match_instr(f, s_zed));
  filter_free(f);
}

TEST_F(Filter, DeletedWatchlistIsDroppedOnceAtTheNextMatch) {
  ss_stock* s = stock(0, "ABC");
  wlist* gone = wlist_create("gone", 0);
  wlist* kept = wlist_create("kept", 0);
  wlist_add_item(kept, s);
  filter* f = filter_alloc();
  filter_add_watchlist(f, gone->id);
  filter_add_watchlist(f, kept->id);
  int32_t id = gone->id;
  wlist_delete(gone);
  LogCapture log;
  EXPECT_TRUE(filter_match_instr(f, s));  // s is held: the walk reaches the missing id
  EXPECT_FALSE(filter_has_watchlist(f, id));
  EXPECT_TRUE(filter_has_watchlist(f, kept->id));
  filter_match_instr(f, s);
  EXPECT_EQ(1, log.count("wlist " + std::to_string(id) + " has been removed"));
  EXPECT_EQ(-1, filter_add_watchlist(f, id));
  EXPECT_TRUE(log.has("watchlist " + std::to_string(id) + " doesn't exist for filter"));
  filter_free(f);
}

TEST_F(Filter, EqualityIgnoresOrder) {
  wlist* a = wlist_create("a", 0);
  wlist* b = wlist_create("b", 0);
  struct Row {
    std::vector<uint32_t> codes1, codes2;
    std::vector<int32_t> ids1, ids2;
    uint32_t flags1, flags2;
    bool equal;
  } rows[] = {
      {{3, 1}, {1, 3}, {}, {}, 0, 0, true},
      {{1}, {1, 1}, {}, {}, 0, 0, true},  // adding a present value does nothing
      {{1}, {1, 2}, {}, {}, 0, 0, false},
      {{}, {}, {a->id, b->id}, {b->id, a->id}, 0, 0, true},
      {{}, {}, {a->id}, {b->id}, 0, 0, false},
      {{}, {}, {}, {}, kFilterWild, 0, false},
      {{5}, {5}, {a->id}, {a->id}, kFilterAntiWild, kFilterAntiWild, true},
  };
  for (const Row& r : rows) {
    filter *x = filter_alloc(), *y = filter_alloc();
    for (uint32_t c : r.codes1) filter_add_code(x, c);
    for (uint32_t c : r.codes2) filter_add_code(y, c);
    for (int32_t i : r.ids1) filter_add_watchlist(x, i);
    for (int32_t i : r.ids2) filter_add_watchlist(y, i);
    x->flags = r.flags1;
    y->flags = r.flags2;
    EXPECT_EQ(r.equal, filter_equal(x, y) != 0);
    filter* c = filter_clone(x);
    EXPECT_TRUE(filter_equal(c, x));
    filter_free(c);
    filter_free(x);
    filter_free(y);
  }
  filter* e = filter_alloc();
  filter_add_code(e, 7);
  filter_remove_code(e, 7);
  filter* empty = filter_alloc();
  EXPECT_TRUE(filter_equal(e, empty));  // an emptied list equals an absent one
  EXPECT_TRUE(filter_is_empty(e));
  filter_free(e);
  filter_free(empty);
}

TEST_F(Filter, DescribeTable) {
  wlist* a = wlist_create("Miners", 0);
  wlist* b = wlist_create("Banks list", 0);
  wlist* c = wlist_create("Gone", 0);
  int32_t gone = c->id;
  struct Row {
    uint32_t flags;
    std::vector<int32_t> ids;
    std::vector<uint32_t> codes;
    const char* expected;
  } rows[] = {
      {0, {}, {}, ""},
      {kFilterWild, {a->id}, {}, ", IN ANY WATCHLIST"},
      {kFilterAntiWild, {}, {kEnergy}, ", NOT IN ANY WATCHLIST, OR IN ENERGY"},
      {0, {a->id, b->id}, {kBanks}, ", IN MINERS OR BANKS LIST, OR IN BANKS"},
      {0, {}, {kEnergy, kBanks, kDrilling}, ", IN ENERGY, BANKS OR OIL AND GAS DRILLING"},
      // A listed id of a deleted watchlist prints nothing and picks no separator.
      {0, {a->id, b->id, gone}, {}, ", IN MINERS OR BANKS LIST"},
      {0, {gone}, {kEnergy}, ", IN ENERGY"},
  };
  std::vector<filter*> made;
  for (const Row& r : rows) {
    filter* f = filter_alloc();
    f->flags = r.flags;
    for (int32_t i : r.ids) filter_add_watchlist(f, i);
    for (uint32_t x : r.codes) filter_add_code(f, x);
    made.push_back(f);
  }
  wlist_delete(c);
  for (size_t i = 0; i < made.size(); i++) {
    EXPECT_EQ(std::string(rows[i].expected), filter_describe(made[i])) << i;
    filter_free(made[i]);
  }
  EXPECT_STREQ("", filter_describe(nullptr));
}

TEST_F(Filter, SaveAndLoadRoundTrip) {
  wlist* a = wlist_create("a", 0);
  wlist* b = wlist_create("b", 0);
  struct Row {
    uint32_t flags;
    std::vector<uint32_t> codes;
    std::vector<int32_t> ids;
  } rows[] = {{0, {}, {}}, {kFilterWild, {kEnergy}, {}}, {kFilterAntiWild, {}, {a->id}},
              {0, {kBanks, kDrilling}, {b->id, a->id}}};
  for (const Row& r : rows) {
    filter* f = filter_alloc();
    f->flags = r.flags;
    for (uint32_t c : r.codes) filter_add_code(f, c);
    for (int32_t i : r.ids) filter_add_watchlist(f, i);
    config_out_reset();
    config_out_push("owner");
    filter_save(f);
    config_out_pop();
    std::string text = take_config_text();
    ASSERT_EQ(0, config_load_buffer(text.data(), (int32_t)text.size()));
    filter* g = filter_alloc();
    if (config_enter("owner")) {
      filter_load(g);
      config_leave();
    }
    EXPECT_TRUE(filter_equal(f, g)) << text;
    filter_free(f);
    filter_free(g);
  }
}

}  // namespace
