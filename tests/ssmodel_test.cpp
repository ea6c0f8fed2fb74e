// The market model: exchange rows and lookups, the code rules as a table,
// instruments and aliases, the current list against a sorted reference, names,
// capital and the derived figures as tables, every instrument list (depth,
// breaks, trades, aggregates, ticks, members, adjustments, news), and the life
// cycle: repeated start and stop of a populated model, a failing start-up step
// at every place, and the work sets. Deferred freeing is checked with
// AddressSanitizer: a freed record is poisoned, so a read after the delay must
// crash while a read before it must not. The Concurrency suite walks the current list without the lock while another
// thread adds stocks under a mutex standing in for the core lock.
#include "ssmodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chunk.h"
#include "dalloc.h"
#include "fast_reset.h"
#include "gics.h"
#include "growbuf.h"
#include "lazyfree.h"
#include "ssbroker.h"
#include "sscurrency.h"
#include "ssevent.h"
#include "ssproto.h"
#include "sstime.h"
#include "ssuser.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }

ss_time at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return sstime_pack(s, mi, h, d, mo, y); }

std::vector<std::string> current_codes(const ss_exchange* ex) {
  std::vector<std::string> out;
  for (ss_stock* s = ssmodel_load(ex->current.head); s; s = ssmodel_load(s->current.next)) out.push_back(s->code);
  return out;
}

// Forward and backward walks agree and match the count.
template <class T, class Next, class Prev>
bool list_consistent(const ss_list<T>& l, Next next, Prev prev) {
  std::vector<T*> fwd, back;
  for (T* x = l.head; x; x = next(x)) fwd.push_back(x);
  for (T* x = l.tail; x; x = prev(x)) back.push_back(x);
  std::reverse(back.begin(), back.end());
  return fwd == back && fwd.size() == l.count;
}

template <class T>
bool plain_consistent(const ss_list<T>& l) {
  return list_consistent(l, [](T* x) { return x->next; }, [](T* x) { return x->prev; });
}

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

class Model : public ::testing::Test {
 protected:
  virtual uint32_t options() const { return kTerminalModelOptions; }
  void SetUp() override {
    ASSERT_EQ(0, ssmodel_init(options()));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ex[i] = ssmodel_new_exchange(i, kTerminalExchangeFlags));
    asx = ex[0];
    nzx = ex[1];
    glb = ex[2];
    axo = ex[3];
  }
  void TearDown() override {
    ssmodel_fini();
    ssuser_set(0, 0, 0);
  }
  // Runs every deferred free that is due after the delay.
  void run_deferred() {
    g_now_ms += 60000;
    lazyfree_tick();
  }
  ss_exchange* ex[kExchanges] = {};
  ss_exchange *asx = nullptr, *nzx = nullptr, *glb = nullptr, *axo = nullptr;
};

// ---------------------------------------------------------------------------
// Exchanges

TEST_F(Model, ExchangeRowsAndCreation) {
  struct Row {
    int index;
    const char* name;
    const char* display;
    uint32_t constant;
    uint32_t stock_slots_at_least;
  } rows[] = {{0, "ASX", "ASX", 1200, 75000},
              {1, "NZX", "NZX", 1200, 2000},
              {2, "GLB", "GLOBAL", 0, 100},
              {3, "AXO", "AXO", 1200, 100000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ss_exchange* e = ssmodel_exchange(r.index);
    ASSERT_EQ(ex[r.index], e);
    EXPECT_STREQ(r.name, e->name);
    EXPECT_STREQ(r.name, ssmodel_exchange_name(r.index));
    EXPECT_STREQ(r.display, ssmodel_exchange_display_name(r.index));
    EXPECT_EQ((uint32_t)r.index, e->index);
    EXPECT_EQ(r.constant, e->constant);
    EXPECT_EQ(kTerminalExchangeFlags, e->flags);
    EXPECT_EQ(-1, e->notice_seq);
    EXPECT_GE(e->stocks.size, r.stock_slots_at_least);
    EXPECT_EQ(0, e->stream.maxlen);  // no streams without flag 0x1
    EXPECT_EQ(0u, e->speed_count);
    EXPECT_EQ(e, ssmodel_new_exchange(r.index, 0));  // the existing record
  }
  EXPECT_EQ(nullptr, ssmodel_new_exchange(4, 0));
  EXPECT_EQ(nullptr, ssmodel_exchange(4));
  EXPECT_EQ(nullptr, ssmodel_exchange(-1));
  EXPECT_EQ(nullptr, ssmodel_exchange_name(4));
  EXPECT_EQ(nullptr, ssmodel_exchange_display_name(4));
}

TEST_F(Model, ExchangeByName) {
  struct {
    const char* text;
    int32_t index;
  } cases[] = {{"ASX", 0}, {"asx", 0},    {"NZX", 1},  {"GLB", 2},    {"AXO", 3},   {"a", 0},
               {"N", 1},   {"i", 2},      {"I", 2},    {"o", 3},      {"NZSE", 1},  {"nzse", 1},
               {"asxopt", 3}, {"ASXOPT", 3}, {"XYZ", -1}, {"GLOBAL", -1}, {"", -1}, {"B", -1}};
  for (const auto& c : cases) EXPECT_EQ(c.index, ssmodel_exchange_by_name(c.text)) << c.text;
  EXPECT_EQ(-1, ssmodel_exchange_by_name(nullptr));
}

TEST_F(Model, SetDateKeepsTheDateAndLogsChanges) {
  LogCapture log;
  ssmodel_set_date(asx, at(2014, 2, 10, 10, 30, 5));
  EXPECT_EQ(at(2014, 2, 10), asx->date);
  ssmodel_set_date(asx, at(2014, 2, 10, 16, 0, 0));  // same date: silent
  EXPECT_EQ(1, log.count("set ASX date 2014-02-10"));
  EXPECT_EQ(at(2014, 2, 10), ssmodel_exchange_date(0));
  ssmodel_set_signature(1, 77);
  EXPECT_EQ(77u, ssmodel_exchange_signature(1));
  EXPECT_EQ(1, log.count("set NZX sig 77"));
  EXPECT_EQ(0u, ssmodel_exchange_signature(7));
}

TEST_F(Model, StreamBuffersWhenKept) {
  ssmodel_fini();
  ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
  ss_exchange* g = ssmodel_new_exchange(2, 0x1);
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(1000000, g->stream.maxlen);
  EXPECT_EQ(65536, g->zstream.maxlen);
  LogCapture log;
  std::vector<uint8_t> bytes(1000001, 7);
  ASSERT_EQ(0, growbuf_append(&g->stream, bytes.data(), (uint32_t)bytes.size()));
  EXPECT_EQ(1, log.count("reallocate exchange buffer from"));
}

// ---------------------------------------------------------------------------
// Instruments and code rules

TEST_F(Model, StockCodeRules) {
  struct {
    const char* code;
    const char* key;  // null: refused
    bool logs;
  } cases[] = {
      {"BHP", "BHP", false},
      {"1AB", "1AB", false},
      {"ABC_CX", "ABC_CX", false},
      {"", nullptr, false},
      {"abc", nullptr, true},       // lower case first letter
      {"_ABC", nullptr, true},      // underscore first, no _CX
      {"_ABC_CX", nullptr, false},  // underscore first with _CX: silent
      {"#X_CX", nullptr, false},
      {"AB__C", nullptr, false},  // two underscores in a row
      {"ABCDEFGHIJKLMNO", "ABCDEFGHIJK", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    LogCapture log;
    ss_stock* s = ssmodel_add_stock(asx, c.code);
    if (!c.key) {
      EXPECT_EQ(nullptr, s);
    } else {
      ASSERT_NE(nullptr, s);
      EXPECT_STREQ(c.key, s->code);
    }
    EXPECT_EQ(c.logs ? 1 : 0, log.count("won't add stock with code"));
  }
}

TEST_F(Model, LongCodesFindWhatAddMade) {
  ss_stock* s = ssmodel_get_stock(nzx, "ABCDEFGHIJKLMNOP");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(s, ssmodel_find_stock(nzx, "ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(s, ssmodel_find_stock(nzx, "ABCDEFGHIJKXYZ"));  // same first 11
  LogCapture log;
  EXPECT_EQ(s, ssmodel_get_stock(nzx, "ABCDEFGHIJKLMNOP"));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(1u, nzx->stocks.count);
  ss_index* x = ssmodel_get_index(nzx, "LONGINDEXCODE99");
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(x, ssmodel_get_index(nzx, "LONGINDEXCODE99"));
  EXPECT_EQ(1u, nzx->indices.count);
}

TEST_F(Model, NewStockFields) {
  ss_stock* s = ssmodel_add_stock(nzx, "FBU");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(kKindStock, s->kind);
  EXPECT_EQ(nzx, s->exchange);
  EXPECT_EQ(-1, s->id);
  EXPECT_EQ(-1, s->speed);
  EXPECT_EQ(s->code, s->name1);
  EXPECT_EQ(s->code, s->name2);
  EXPECT_STREQ("FBU", s->issuer);
  EXPECT_EQ(0u, s->flags & kInRequestBits);
  ss_issuer* is = ssmodel_find_issuer(nzx, "FBU");
  ASSERT_NE(nullptr, is);
  EXPECT_EQ(kKindIssuer, is->kind);
  // The issuer is the first three characters.
  ssmodel_add_stock(nzx, "FBUHA");
  EXPECT_STREQ("FBU", ssmodel_find_stock(nzx, "FBUHA")->issuer);
  EXPECT_EQ(1u, nzx->issuers.count);
  EXPECT_EQ(nullptr, ssmodel_add_stock(nzx, "FBU"));  // already there
}

class AllRequested : public Model {
  uint32_t options() const override { return 1; }
};

TEST_F(AllRequested, NewInstrumentsAreRequested) {
  EXPECT_TRUE(ssmodel_all_requested());
  EXPECT_TRUE(ssmodel_extended());
  EXPECT_EQ(kInRequestBits, ssmodel_add_stock(asx, "BHP")->flags & kInRequestBits);
  EXPECT_EQ(kInRequestBits, ssmodel_add_index(asx, "XJO")->flags & kInRequestBits);
  EXPECT_FALSE(ssmodel_is_main_index("XAO"));
}

TEST_F(Model, CxAndPmStocksTakeTheBaseNames) {
  ss_stock* base = ssmodel_add_stock(asx, "ABC");
  ssmodel_set_stock_names(base, "ABC LIMITED", "ABC LTD");
  ss_stock* pm = ssmodel_add_stock(asx, "ABC_PM");
  EXPECT_STREQ("ABC LIMITED", pm->name1);
  EXPECT_STREQ("ABC LTD", pm->name2);
  ss_stock* lone = ssmodel_add_stock(asx, "XYZ_CX");  // no base
  EXPECT_STREQ("XYZ_CX", lone->name1);
  ssmodel_add_stock(nzx, "ABC");
  ssmodel_set_stock_names(ssmodel_find_stock(nzx, "ABC"), "N", "N");
  EXPECT_STREQ("ABC_PM", ssmodel_add_stock(nzx, "ABC_PM")->name1);  // ASX only
}

TEST_F(Model, IssuersOfAxoLiveWithAsx) {
  ss_issuer* is = ssmodel_add_issuer(asx, "BHP");
  ASSERT_NE(nullptr, is);
  EXPECT_EQ(is, ssmodel_find_issuer(axo, "BHP"));
  ss_issuer* made = ssmodel_get_issuer(axo, "XYZ");
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(asx, made->exchange);
  EXPECT_EQ(made, ssmodel_find_issuer(asx, "XYZ"));
  EXPECT_EQ(0u, axo->issuers.count);
  ssmodel_add_stock(axo, "BHPZZ9");  // its issuer BHP is ASX's
  EXPECT_EQ(2u, asx->issuers.count);
  LogCapture log;
  EXPECT_EQ(nullptr, ssmodel_add_issuer(asx, "bad"));
  EXPECT_EQ(1, log.count("won't add issuer with code bad"));
}

TEST_F(Model, IndicesSectorAndGlobalCurrent) {
  ss_index* xpj = ssmodel_add_index(asx, "XPJ");
  ASSERT_NE(nullptr, xpj);
  EXPECT_EQ(0x60101000u, xpj->sector);
  EXPECT_EQ(kKindIndex, xpj->kind);
  EXPECT_EQ(-1, xpj->speed);
  EXPECT_EQ(0u, xpj->flags & kInCurrent);
  EXPECT_EQ(0u, ssmodel_add_index(asx, "ZZZ")->sector);
  EXPECT_EQ(kInCurrent, ssmodel_add_index(glb, "DJI")->flags & kInCurrent);
  EXPECT_EQ(nullptr, ssmodel_add_index(asx, ""));
}

// ---------------------------------------------------------------------------
// Aliases

TEST_F(Model, AliasOperations) {
  ss_stock* abc = ssmodel_add_stock(nzx, "ABCD");
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "ABCD", "WXYZ"));
  ss_stock* wxyz = ssmodel_find_stock(nzx, "WXYZ");
  ASSERT_NE(nullptr, wxyz);  // the target is made
  EXPECT_EQ(wxyz, ssmodel_find_stock_or_alias(nzx, "ABCD"));
  ss_alias* a = ssmodel_find_alias(nzx, "ABCD");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(abc, a->stock);
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "ABCD", "WXYZ"));  // same target
  EXPECT_EQ(1u, nzx->aliases.count);
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "ABCD", "QRST"));  // retarget
  EXPECT_EQ(ssmodel_find_stock(nzx, "QRST"), ssmodel_find_stock_or_alias(nzx, "ABCD"));
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "QRST", "ABCD"));  // drops the reverse alias
  EXPECT_EQ(nullptr, ssmodel_find_alias(nzx, "ABCD"));
  EXPECT_EQ(abc, ssmodel_find_stock_or_alias(nzx, "QRST"));
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "QRST", "QRST"));  // from = to removes it
  EXPECT_EQ(nullptr, ssmodel_find_alias(nzx, "QRST"));
  EXPECT_EQ(0u, nzx->aliases.count);
  EXPECT_EQ(0, ssmodel_add_alias(nzx, "NEW", "NEW"));
  EXPECT_EQ(0u, nzx->aliases.count);
  // A code that is not an alias finds itself.
  EXPECT_EQ(abc, ssmodel_find_stock_or_alias(nzx, "ABCD"));
  EXPECT_EQ(-1, ssmodel_add_alias(nzx, "OLD", "_bad"));  // the target can't be made
}

TEST_F(Model, IssuerAliasMovesRecentNews) {
  ssmodel_set_date(nzx, at(2014, 2, 10));
  ss_issuer* old_is = ssmodel_get_issuer(nzx, "OLD");
  const uint32_t codes[] = {13, 0};
  ssmodel_add_news(old_is, 5, at(2014, 2, 10, 9), codes, 0, "first");
  ssmodel_add_news(old_is, 6, at(2014, 2, 10, 10), nullptr, 1, "second");
  ssmodel_add_news(ssmodel_get_issuer(nzx, "ZZZ"), 9, at(2014, 2, 10, 11), nullptr, 0, "other");
  ASSERT_EQ(3u, nzx->news.count);
  ASSERT_EQ(0, ssmodel_add_alias(nzx, "OLD", "NEW"));
  ss_issuer* new_is = ssmodel_find_issuer(nzx, "NEW");
  ASSERT_NE(nullptr, new_is);
  ASSERT_EQ(2u, new_is->news.count);
  EXPECT_STREQ("first", new_is->news.head->headline);
  EXPECT_EQ(13u, new_is->news.head->codes[0]);
  EXPECT_EQ(1u, new_is->news.tail->flags);
  std::set<std::string> codes_left;
  for (ss_exchange_news* e = nzx->news.head; e; e = e->next) codes_left.insert(e->code);
  EXPECT_EQ((std::set<std::string>{"NEW", "ZZZ"}), codes_left);
  EXPECT_EQ(3u, nzx->news.count);
  EXPECT_TRUE(plain_consistent(nzx->news));
}

// ---------------------------------------------------------------------------
// Current list

TEST_F(Model, CurrentListMatchesSortedReferenceForAnyInsertionOrder) {
  std::mt19937 rng(20140210);
  for (int round = 0; round < 20; round++) {
    SCOPED_TRACE(round);
    ssmodel_fini();
    ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
    ss_exchange* e = ssmodel_new_exchange(1, kTerminalExchangeFlags);
    std::vector<std::string> codes;
    std::uniform_int_distribution<int> len(1, 6), letter(0, 35);
    std::set<std::string> all;
    while (all.size() < 300) {
      std::string c;
      for (int i = len(rng); i > 0; i--) c += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"[letter(rng)];
      all.insert(c);
    }
    codes.assign(all.begin(), all.end());
    std::shuffle(codes.begin(), codes.end(), rng);
    // Even rounds: all stocks are in the table first. Odd rounds: each is
    // added just before it may become current, as the stream first names
    // them, so the neighbours it links after may still wait behind the
    // table's ordered part. A random half become current, one by one, some
    // of them twice.
    const bool as_named = round % 2 == 1;
    if (!as_named)
      for (const auto& c : codes) ASSERT_NE(nullptr, ssmodel_add_stock(e, c.c_str()));
    std::set<std::string> reference;
    for (const auto& c : codes) {
      if (as_named) ASSERT_NE(nullptr, ssmodel_add_stock(e, c.c_str()));
      if (rng() % 2) continue;
      ss_stock* s = ssmodel_find_stock(e, c.c_str());
      ssmodel_stock_make_current(s);
      if (rng() % 4 == 0) ssmodel_stock_make_current(s);
      reference.insert(c);
      ASSERT_EQ(reference.size(), e->current.count);
    }
    EXPECT_EQ(std::vector<std::string>(reference.begin(), reference.end()), current_codes(e));
    EXPECT_TRUE(list_consistent(
        e->current, [](ss_stock* s) { return s->current.next; }, [](ss_stock* s) { return s->current.prev; }));
  }
}

// The bulk path against adding one by one: the same records found by code,
// both ordered walks (stocks, issuers) in code order, codes already present
// found rather than added, refused codes null.
TEST_F(Model, BulkAddMatchesOneByOne) {
  std::mt19937 rng(20140211);
  std::vector<std::string> codes;
  std::set<std::string> all;
  std::uniform_int_distribution<int> len(1, 5), letter(0, 25);
  while (all.size() < 3000) {
    std::string c;
    for (int i = len(rng); i > 0; i--) c += char('A' + letter(rng));
    all.insert(c);
  }
  codes.assign(all.begin(), all.end());
  std::shuffle(codes.begin(), codes.end(), rng);
  ASSERT_NE(nullptr, ssmodel_add_stock(nzx, codes[7].c_str()));  // present before
  codes.push_back("bad");                                         // refused: not upper case
  codes.push_back(codes[3]);                                      // twice in one call
  std::vector<const char*> names;
  for (const auto& c : codes) names.push_back(c.c_str());
  std::vector<ss_stock*> out(names.size());
  const uint64_t size_before = nzx->stocks.size;
  EXPECT_EQ(int32_t(all.size()) - 1, ssmodel_add_stocks(nzx, names.data(), int32_t(names.size()), out.data()));
  EXPECT_GT(nzx->stocks.size, size_before);
  EXPECT_EQ(all.size(), nzx->stocks.count);
  for (size_t i = 0; i < all.size(); i++) {
    ASSERT_NE(nullptr, out[i]) << codes[i];
    EXPECT_EQ(out[i], ssmodel_find_stock(nzx, codes[i].c_str()));
    EXPECT_STREQ(codes[i].c_str(), out[i]->code);
    EXPECT_NE(nullptr, ssmodel_find_issuer(nzx, out[i]->issuer));
  }
  EXPECT_EQ(nullptr, out[all.size()]);
  EXPECT_EQ(out[3], out[all.size() + 1]);
  const auto walk = [](const chash& t) {
    std::vector<std::string> w;
    int32_t cursor = 0;
    while (void* r = chash_sorted_next(&t, &cursor)) w.emplace_back(static_cast<const char*>(r));
    return w;
  };
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.end()), walk(nzx->stocks));
  std::set<std::string> issuers;
  for (const auto& c : all) issuers.insert(c.substr(0, 3));
  EXPECT_EQ(std::vector<std::string>(issuers.begin(), issuers.end()), walk(nzx->issuers));
  // One by one after the bulk add: the stock waits behind the ordered part
  // until a merge puts it in its place.
  ASSERT_NE(nullptr, ssmodel_add_stock(nzx, "AAAAAA"));
  all.insert("AAAAAA");
  EXPECT_EQ(nzx->stocks.count - 1, nzx->stocks.ordered);
  ASSERT_EQ(0, chash_settle(&nzx->stocks));
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.end()), walk(nzx->stocks));
}

TEST_F(Model, CurrentIssuersClearAndRebuild) {
  ss_stock* bhp = ssmodel_add_stock(asx, "BHP");
  ss_stock* anz = ssmodel_add_stock(asx, "ANZ");
  ss_stock* opt = ssmodel_add_stock(axo, "BHPKOA");
  ssmodel_stock_make_current(bhp);
  ssmodel_stock_make_current(opt);
  EXPECT_TRUE(ssmodel_find_issuer(asx, "BHP")->flags & kInCurrent);
  EXPECT_FALSE(ssmodel_find_issuer(asx, "ANZ")->flags & kInCurrent);
  LogCapture log;
  ssmodel_set_issuer_code(anz, "");
  ssmodel_stock_make_current(anz);
  EXPECT_EQ(1, log.count("no issuer to make ASX:ANZ current"));

  ssmodel_clear_current(asx);
  EXPECT_EQ(0u, asx->current.count);
  EXPECT_EQ(nullptr, asx->current.head);
  EXPECT_FALSE(bhp->flags & kInCurrent);
  EXPECT_EQ(nullptr, bhp->current.next);
  EXPECT_EQ(nullptr, anz->current.prev);

  // The summary reader sets bits; the rebuild links them in code order.
  bhp->flags |= kInCurrent;
  anz->flags |= kInCurrent;
  ssmodel_set_issuer_code(anz, "ANZ");
  ssmodel_rebuild_current(asx);
  EXPECT_EQ((std::vector<std::string>{"ANZ", "BHP"}), current_codes(asx));
  EXPECT_TRUE(ssmodel_find_issuer(asx, "ANZ")->flags & kInCurrent);
  // Rebuilding AXO keeps the bits that ASX's current stocks give the shared
  // issuers.
  ssmodel_rebuild_current(axo);
  EXPECT_TRUE(ssmodel_find_issuer(asx, "ANZ")->flags & kInCurrent);
  EXPECT_EQ((std::vector<std::string>{"BHPKOA"}), current_codes(axo));
  ssmodel_clear_current(nzx);
  LogCapture none;
  ssmodel_rebuild_current(nzx);
  EXPECT_EQ(1, none.count("no stocks in NZX"));
}

TEST_F(Model, CurrentIndices) {
  const char* codes[] = {"XJO", "XAO", "XPJ", "XTO", "XDJ"};
  for (const char* c : codes) ssmodel_link_index_current(ssmodel_add_index(asx, c));
  ssmodel_link_index_current(ssmodel_find_index(asx, "XAO"));
  std::vector<std::string> got;
  for (ss_index* x = asx->current_indices.head; x; x = x->cur_next) got.push_back(x->code);
  EXPECT_EQ((std::vector<std::string>{"XAO", "XDJ", "XJO", "XPJ", "XTO"}), got);
  ssmodel_clear_index_current(asx);
  EXPECT_EQ(0u, asx->current_indices.count);
  ssmodel_find_index(asx, "XTO")->flags |= kInCurrent;
  ssmodel_find_index(asx, "XDJ")->flags |= kInCurrent;
  ssmodel_rebuild_index_current(asx);
  got.clear();
  for (ss_index* x = asx->current_indices.head; x; x = x->cur_next) got.push_back(x->code);
  EXPECT_EQ((std::vector<std::string>{"XDJ", "XTO"}), got);
}

TEST_F(Model, RankingsFollowTheirOrderings) {
  ssmodel_exchange_set_flags(nzx, kExRankings);
  struct {
    const char* code;
    uint32_t close, last;
    uint64_t volume, value;
  } rows[] = {{"AAA", 10000, 11000, 500, 9}, {"BBB", 10000, 9000, 100, 9}, {"CCC", 20000, 22000, 100, 1},
              {"DDD", 0, 0, 700, 4},         {"EEE", 10000, 10000, 0, 0}, {"FFF", 5000, 5500, 300, 2}};
  std::vector<ss_stock*> stocks;
  for (const auto& r : rows) {
    ss_stock* s = ssmodel_add_stock(nzx, r.code);
    s->close = r.close;
    s->last = r.last;
    s->volume = r.volume;
    s->value = r.value;
    ssmodel_stock_derive(s);
    stocks.push_back(s);
  }
  for (ss_stock* s : stocks) ssmodel_stock_make_current(s);
  auto ranked = [&](int i) {
    std::vector<ss_stock*> out;
    for (ss_stock* s = nzx->rank[i].head; s; s = s->rank[i].next) out.push_back(s);
    return out;
  };
  int (*cmp[3])(const ss_stock*, const ss_stock*) = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare,
                                                     ssmodel_rank_value_compare};
  for (int i = 0; i < 3; i++) {
    std::vector<ss_stock*> expect = stocks;
    std::stable_sort(expect.begin(), expect.end(), [&](auto* a, auto* b) { return cmp[i](a, b) < 0; });
    EXPECT_EQ(expect, ranked(i)) << "ranking " << i;
  }
  // AAA, CCC and FFF all rose 10%: a positive tie orders by code descending.
  std::vector<std::string> change_order;
  for (ss_stock* s : ranked(0)) change_order.push_back(s->code);
  EXPECT_EQ((std::vector<std::string>{"BBB", "DDD", "EEE", "FFF", "CCC", "AAA"}), change_order);
  ssmodel_rebuild_current(nzx);
  for (int i = 0; i < 3; i++) EXPECT_EQ(stocks.size(), ranked(i).size());
}

// ---------------------------------------------------------------------------
// Names, fundamentals, derived values

TEST_F(Model, NamesAreCopiedAndPropagated) {
  ss_stock* s = ssmodel_add_stock(asx, "ABC");
  ss_stock* cx = ssmodel_add_stock(asx, "ABC_CX");
  char buf1[64], buf2[64];
  strcpy(buf1, "ABC MINING LIMITED");
  strcpy(buf2, "ABC MINING");
  ssmodel_set_stock_names(s, buf1, buf2);
  memset(buf1, 'x', sizeof buf1 - 1);  // the decoder's text goes away
  memset(buf2, 0, sizeof buf2);
  EXPECT_STREQ("ABC MINING LIMITED", s->name1);
  EXPECT_STREQ("ABC MINING", s->name2);
  EXPECT_TRUE(s->flags & kInNamed);
  EXPECT_STREQ("ABC MINING LIMITED", cx->name1);
  // Empty names and names equal to the code change nothing.
  ssmodel_set_stock_names(s, "", "ABC");
  EXPECT_STREQ("ABC MINING LIMITED", s->name1);
  EXPECT_STREQ("ABC MINING", s->name2);
  std::string huge(5000, 'N');
  ssmodel_set_stock_names(s, huge.c_str(), nullptr);
  EXPECT_EQ(255u, strlen(s->name1));
  // A code of 8 or more characters does not reach its CX twin.
  ss_stock* longer = ssmodel_add_stock(asx, "ABCDEFGH");
  ss_stock* twin = ssmodel_add_stock(asx, "ABCDEFGH_CX");
  EXPECT_STREQ("ABCDEFGH", twin->name1);  // the base's name at the time: its code
  ssmodel_set_stock_names(longer, "LONG NAME", nullptr);
  EXPECT_STREQ("LONG NAME", longer->name1);
  EXPECT_STREQ("ABCDEFGH", twin->name1);
}

TEST_F(Model, CapitalAndOptionSetters) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  s->close = 400000;
  ssmodel_set_capital(s, 1, 2, 3, 1000);
  EXPECT_EQ(400000u * 1000 / 100, s->market_cap);
  s->last = 500000;
  ssmodel_set_capital(s, 0x7fffffff, 9, 0x7fffffff, UINT64_MAX);
  EXPECT_EQ((std::vector<uint32_t>{1, 9, 3}), std::vector<uint32_t>(s->capital, s->capital + 3));
  EXPECT_EQ(1000u, s->shares);
  EXPECT_EQ(4000000u, s->market_cap);  // shares unchanged: not recomputed
  ssmodel_set_capital(s, 0x7fffffff, 0x7fffffff, 0x7fffffff, 2000);
  EXPECT_EQ(10000000u, s->market_cap);
  s->last = 0xFFFFFFF0u;
  ssmodel_set_capital(s, 0x7fffffff, 0x7fffffff, 0x7fffffff, UINT64_MAX - 1);
  EXPECT_EQ(UINT64_MAX, s->market_cap);  // clamped, not wrapped

  ssmodel_set_option(s, "BHPUNDERLYINGXX", 3, at(2014, 6, 26), 11, 100);
  EXPECT_STREQ("BHPUNDERLYI", s->underlying);
  EXPECT_EQ(100u, s->multiplier);
  ssmodel_set_option(s, nullptr, 0, 0, 0, 0);
  EXPECT_STREQ("", s->underlying);
}

TEST_F(Model, UnderlyingsAndMainIndex) {
  ss_stock* o = ssmodel_add_stock(asx, "BHPXYZ");
  ssmodel_set_option(o, "BHP", 1, 0, 0, 0);
  ss_stock* p = ssmodel_add_stock(axo, "RIOXYZ");
  ssmodel_set_option(p, "RIO", 2, 0, 0, 0);
  EXPECT_TRUE(ssmodel_is_underlying(asx, "BHP"));
  EXPECT_FALSE(ssmodel_is_underlying(asx, "RIO"));
  EXPECT_TRUE(ssmodel_is_underlying(axo, "RIO"));
  EXPECT_TRUE(ssmodel_is_underlying(axo, "BHP"));  // AXO looks at ASX too
  EXPECT_FALSE(ssmodel_is_underlying(nzx, "BHP"));
  ssmodel_set_option(o, "BHP", 0, 0, 0, 0);
  EXPECT_FALSE(ssmodel_is_underlying(asx, "BHP"));

  ssuser_set(1, 0, 0x1);
  EXPECT_TRUE(ssmodel_is_main_index("XAO"));
  EXPECT_FALSE(ssmodel_is_main_index("NZ50"));
  EXPECT_FALSE(ssmodel_is_main_index("XJO"));
  ssuser_set(1, 0, 0x2);
  EXPECT_FALSE(ssmodel_is_main_index("XAO"));
  EXPECT_TRUE(ssmodel_is_main_index("NZ50"));
}

TEST_F(Model, DeriveTable) {
  struct Case {
    const char* what;
    uint32_t close, open, last;
    uint64_t volume, value;
    uint32_t indicative;
    uint64_t matched;
    uint32_t multiplier;
    uint64_t shares;
    // expected
    int32_t change, pct;
    uint32_t disp_price;
    int32_t disp_change, disp_pct;
    uint64_t disp_volume, disp_value, cap;
  } cases[] = {
      {"no last, no auction: previous close", 10000, 0, 0, 5, 50, 0, 0, 0, 10, 0, 0, 10000, 0, 0, 5, 50, 1000},
      {"last against close", 10000, 0, 10500, 7, 70, 0, 0, 0, 0, 500, 500, 10500, 500, 500, 7, 70, 0},
      {"last against open without close", 0, 20000, 19000, 0, 0, 0, 0, 0, 0, -1000, -500, 19000, -1000, -500, 0,
       0, 0},
      {"last without any base", 0, 0, 19000, 0, 0, 0, 0, 0, 0, 0, 0, 19000, 0, 0, 0, 0, 0},
      {"rounding to nearest", 30000, 0, 30001, 0, 0, 0, 0, 0, 0, 1, 0, 30001, 1, 0, 0, 0, 0},
      {"rounding up", 20000, 0, 20001, 0, 0, 0, 0, 0, 0, 1, 1, 20001, 1, 1, 0, 0, 0},
      // indicative 1000 x 100 shares, multiplier 0 counts as 1: 1000*100*100/10000
      {"auction", 900, 0, 0, 10, 5, 1000, 100, 0, 0, 0, 0, 1000, 100, 1111, 110, 1005, 0},
      {"auction with multiplier", 0, 0, 0, 0, 0, 1000, 100, 10, 0, 0, 0, 1000, 0, 0, 100, 10000, 0},
      {"huge change saturates", 1, 0, 0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, INT32_MAX, INT32_MAX, 0xFFFFFFFFu,
       INT32_MAX, INT32_MAX, 0, 0, 0},
      {"huge auction value saturates", 0, 0, 0, UINT64_MAX - 5, UINT64_MAX - 5, 0xFFFFFFFFu, UINT64_MAX,
       0xFFFFFFFFu, UINT64_MAX, 0, 0, 0xFFFFFFFFu, 0, 0, UINT64_MAX, UINT64_MAX, UINT64_MAX},
  };
  ss_stock* s = ssmodel_add_stock(asx, "TST");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s->close = c.close;
    s->open = c.open;
    s->last = c.last;
    s->volume = c.volume;
    s->value = c.value;
    s->auction.price = c.indicative;
    s->auction.matched = c.matched;
    s->multiplier = c.multiplier;
    s->shares = c.shares;
    ssmodel_stock_derive(s);
    EXPECT_EQ(c.change, s->change);
    EXPECT_EQ(c.pct, s->change_pct);
    EXPECT_EQ(c.disp_price, s->disp_price);
    EXPECT_EQ(c.disp_change, s->disp_change);
    EXPECT_EQ(c.disp_pct, s->disp_change_pct);
    EXPECT_EQ(c.disp_volume, s->disp_volume);
    EXPECT_EQ(c.disp_value, s->disp_value);
    EXPECT_EQ(c.cap, s->market_cap);
  }
  // The volume comparison follows: 150 against a reference of 100 is +50%.
  s->last = 1;
  s->volume = 150;
  s->vcmp_volume[0] = 100;
  s->vcmp_volume[1] = 300;
  ssmodel_stock_derive(s);
  EXPECT_EQ(50, s->vcmp_diff[0]);
  EXPECT_EQ(5000, s->vcmp_pct[0]);
  EXPECT_EQ(-150, s->vcmp_diff[1]);
  EXPECT_EQ(-5000, s->vcmp_pct[1]);
  EXPECT_EQ(0, s->vcmp_pct[2]);
}

TEST_F(Model, AuctionHelpers) {
  ss_auction a{1000, 50, -5, 990, 10, 1010, 20}, b;
  ssmodel_auction_copy(&b, &a);
  EXPECT_FALSE(ssmodel_auction_differs(&a, &b));
  for (int field = 0; field < 7; field++) {
    ss_auction c = a;
    reinterpret_cast<uint64_t*>(&c)[field] ^= 1;
    EXPECT_TRUE(ssmodel_auction_differs(&a, &c)) << field;
  }
  ss_stock* live = ssmodel_add_stock(asx, "LIV");
  ss_stock* scratch = ssmodel_add_stock(asx, "SCR");
  live->auction = a;
  ssmodel_stock_copy_auction(live, scratch);
  EXPECT_FALSE(ssmodel_auction_differs(&live->auction, &scratch->auction));
  ssmodel_stock_clear_auction(live);
  ss_auction zero{};
  EXPECT_FALSE(ssmodel_auction_differs(&zero, &live->auction));
}

TEST_F(Model, HistoryArrays) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  ASSERT_EQ(0, ssmodel_reserve_history(s, 3));
  ASSERT_NE(nullptr, s->history);
  EXPECT_GE(s->history->capacity, 3u);
  for (int d = 1; d <= 3; d++) s->history->points[s->history->count++] = {at(2014, 3, d), 0, 0, 0, (uint32_t)d, 0, 1};
  ss_stock_history* old = s->history;
  ASSERT_EQ(0, ssmodel_reserve_history(s, 1000));
  EXPECT_NE(old, s->history);
  EXPECT_EQ(3u, old->count);  // the old array stays readable until the delay
  EXPECT_EQ(3u, s->history->count);
  EXPECT_EQ(3u, s->history->points[2].close);
  LogCapture log;
  EXPECT_EQ(-1, ssmodel_reserve_history(s, 0xFFFFFFF0u));
  EXPECT_EQ(1, log.count("prices"));
  s->flags |= kInHistory;
  ssmodel_set_history_from(s, at(2014, 3, 2));
  ASSERT_EQ(2u, s->history->count);
  EXPECT_EQ(at(2014, 3, 2), s->history->points[0].date);
  EXPECT_EQ(at(2014, 3, 2), s->history_from);
  ssmodel_free_history(s);
  EXPECT_EQ(nullptr, s->history);
  EXPECT_FALSE(s->flags & kInHistory);

  ss_index* x = ssmodel_add_index(asx, "XJO");
  ASSERT_EQ(0, ssmodel_reserve_index_history(x, 2));
  x->history->points[x->history->count++] = {at(2014, 3, 1), 1, 2, 3, 4, 5, 6};
  ssmodel_set_history_from(x, at(2014, 3, 5));
  EXPECT_EQ(0u, x->history->count);
  ssmodel_free_index_history(x);
  run_deferred();
}

// ---------------------------------------------------------------------------
// Depth

TEST_F(Model, DepthLevelsAndOrders) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  ss_depth_level* l1 = ssmodel_new_depth_level(1000);
  ss_depth_level* l2 = ssmodel_new_depth_level(990);
  ASSERT_TRUE(l1 && l2);
  // Orders link in front of a given order.
  ss_depth_order* c = ssmodel_new_depth_order_at(300, 3, l1);
  ss_depth_order* a = ssmodel_new_depth_order(100, 1, l1, c);
  l1->orders = a;
  ss_depth_order* b = ssmodel_new_depth_order(200, 2, l1, c);
  a->next = b;
  ssmodel_new_depth_order(UINT64_MAX, 4, l1, nullptr);  // counted, volume not added
  EXPECT_EQ(4u, l1->count);
  EXPECT_EQ(600u, l1->volume);
  std::vector<uint64_t> vols;
  for (ss_depth_order* o = l1->orders; o; o = o->next) vols.push_back(o->volume);
  EXPECT_EQ((std::vector<uint64_t>{100, 200, 300}), vols);
  l2->orders = ssmodel_new_depth_order_at(50, 0, l2);
  l1->next = l2;
  s->levels[0] = l1;
  s->levels[1] = ssmodel_new_depth_level(1010);
  // Unlink one order and free it later; it stays readable until the delay.
  a->next = c;
  ssmodel_free_depth_order(b);
  EXPECT_EQ(200u, b->volume);
  ssmodel_free_depth(s);
  EXPECT_EQ(nullptr, s->levels[0]);
  EXPECT_EQ(nullptr, s->levels[1]);
  EXPECT_EQ(990u, l1->next->price);  // a reader that held the side walks on
  run_deferred();
  // The pool hands the freed records out again.
  std::set<void*> reused;
  for (int i = 0; i < 4; i++) reused.insert(ssmodel_new_depth_order_at(1, 0, nullptr));
  EXPECT_TRUE(reused.count(a) || reused.count(b) || reused.count(c));
}

TEST_F(Model, DepthBreaksKeepPositionOrderAndArrival) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  int32_t positions[] = {5, 1, 5, -3, 9, 5, 1};
  for (uint32_t i = 0; i < 7; i++) ASSERT_NE(nullptr, ssmodel_add_depth_break(s, 1, positions[i], i));
  std::vector<std::pair<int32_t, uint32_t>> got;
  for (ss_depth_break* b = s->breaks[1].head; b; b = b->next) got.push_back({b->position, b->value});
  std::vector<std::pair<int32_t, uint32_t>> want = {{-3, 3}, {1, 1}, {1, 6}, {5, 0}, {5, 2}, {5, 5}, {9, 4}};
  EXPECT_EQ(want, got);
  EXPECT_TRUE(plain_consistent(s->breaks[1]));
  EXPECT_EQ(0u, s->breaks[0].count);
  EXPECT_EQ(nullptr, ssmodel_add_depth_break(s, 2, 1, 0));
  ssmodel_free_depth_breaks(s);
  EXPECT_EQ(0u, s->breaks[1].count);
  EXPECT_EQ(nullptr, s->breaks[1].head);
  run_deferred();
}

// ---------------------------------------------------------------------------
// Trades

TEST_F(Model, TradesInTimeOrderAndArrival) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  ssmodel_set_date(asx, at(2014, 2, 10));
  struct {
    ss_time time;
    uint32_t price;
  } in[] = {{at(2014, 2, 10, 10, 0, 0), 1}, {at(2014, 2, 10, 10, 0, 5), 2}, {at(2014, 2, 10, 10, 0, 0), 3},
            {at(2014, 2, 10, 9, 59, 0), 4}, {at(2014, 2, 9, 15, 0, 0), 5},   {at(2014, 2, 10, 10, 0, 5), 6}};
  for (const auto& t : in) ASSERT_NE(nullptr, ssmodel_add_trade(s, t.time, t.price, 100));
  std::vector<uint32_t> order;
  for (ss_trade* t = s->trades.head; t; t = t->next) order.push_back(t->price);
  EXPECT_EQ((std::vector<uint32_t>{5, 4, 1, 3, 2, 6}), order);
  EXPECT_TRUE(plain_consistent(s->trades));
  EXPECT_EQ(6u, s->trade_count);
  EXPECT_EQ(5u, asx->trades_today);  // the one of the day before does not count
  EXPECT_EQ(0u, s->trades.head->bits);
  EXPECT_EQ(nullptr, ssmodel_trade_detail(s->trades.head));
  ss_trade_detail* d = ssmodel_set_trade_detail(s->trades.head, 1, 2, 3, 4, 5);
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(d, ssmodel_trade_detail(s->trades.head));
  EXPECT_EQ((std::vector<uint64_t>{1, 2, 3, 4, 5}),
            (std::vector<uint64_t>{d->conditions, d->second_value, d->date, d->buyer, d->seller}));
  ssmodel_free_trades(s);
  EXPECT_EQ(0u, s->trades.count);
  EXPECT_EQ(0u, s->trade_count);
  run_deferred();
}

TEST_F(Model, TradesVary) {
  struct {
    std::vector<uint32_t> prices;
    bool vary;
  } cases[] = {
      {{}, false},
      {{100, 101, 100, 101, 100, 101, 100, 101, 100, 101}, true},  // ten changes after ten trades
      {{100, 101, 100, 101, 100, 101, 100, 101, 100}, false},
      {{100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100}, false},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, false},  // the walk starts from price 0
  };
  ss_stock* s = ssmodel_add_stock(asx, "VAR");
  for (const auto& c : cases) {
    ssmodel_free_trades(s);
    ss_time t = at(2014, 2, 10, 10);
    for (uint32_t p : c.prices) ssmodel_add_trade(s, t++, p, 1);
    EXPECT_EQ(c.vary, ssmodel_trades_vary(s) != 0) << c.prices.size();
  }
}

// The running count of price changes against the plain walk, with trades
// arriving out of time order (linked into the middle), over a freed and
// refilled list.
TEST_F(Model, TradesVaryFollowsInsertsAnywhere) {
  ss_stock* s = ssmodel_add_stock(asx, "VAS");
  std::mt19937 rng(7);
  const auto walked = [s] {
    uint32_t prev = 0, changes = 0;
    for (const ss_trade* t = s->trades.tail; t; t = t->prev) {
      if (t->price != prev) changes++;
      prev = t->price;
    }
    return changes >= 10;
  };
  for (int round = 0; round < 3; round++) {
    ssmodel_free_trades(s);
    EXPECT_FALSE(ssmodel_trades_vary(s));
    int seen_vary = 0;
    for (int i = 0; i < 400; i++) {
      const ss_time t = at(2014, 2, 10, 10, 0, int(rng() % 3000));
      // Mostly one price, now and then another: the answer flips both ways.
      const uint32_t p = rng() % 9 == 0 ? 100 + rng() % 3 : (rng() % 3 == 0 ? 0 : 100);
      ASSERT_NE(nullptr, ssmodel_add_trade(s, t, p, 1));
      ASSERT_EQ(walked(), ssmodel_trades_vary(s) != 0) << round << " " << i;
      seen_vary += walked();
    }
    EXPECT_GT(seen_vary, 0);
  }
}

class WithTradeBreaks : public Model {
  uint32_t options() const override { return 8; }
};

TEST_F(WithTradeBreaks, AggregatesPerPrice) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  ASSERT_TRUE(ssmodel_trade_breaks_on());
  struct {
    int sec;
    uint32_t price;
    uint64_t volume;
  } in[] = {{10, 500, 1}, {5, 300, 2}, {20, 500, 4}, {1, 400, 8}, {30, 300, 16}, {2, 600, 32}};
  for (const auto& t : in) ssmodel_add_trade(s, at(2014, 2, 10, 10, 0, t.sec), t.price, t.volume);
  EXPECT_EQ(6u, s->trade_count);  // each trade counted once
  std::vector<uint32_t> prices;
  for (ss_trade_break* b = s->trade_breaks.head; b; b = b->next) prices.push_back(b->price);
  EXPECT_EQ((std::vector<uint32_t>{300, 400, 500, 600}), prices);
  ss_trade_break* b = ssmodel_find_trade_break(s, 300);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(s->trade_breaks.cursor, b);
  EXPECT_EQ(2u, b->count);
  EXPECT_EQ(18u, b->volume);
  EXPECT_EQ(at(2014, 2, 10, 10, 0, 5), b->first);
  EXPECT_EQ(at(2014, 2, 10, 10, 0, 30), b->last);
  EXPECT_EQ(nullptr, ssmodel_find_trade_break(s, 450));
  EXPECT_EQ(0, ssmodel_remove_trade_break(s, 400));
  LogCapture log;
  EXPECT_EQ(-1, ssmodel_remove_trade_break(s, 400));
  EXPECT_EQ(1, log.count("can't find BHP trade break @ 400 to remove"));
  EXPECT_EQ(3u, s->trade_breaks.count);
  EXPECT_NE(nullptr, ssmodel_find_trade_break(s, 600));
  EXPECT_NE(nullptr, ssmodel_find_trade_break(s, 300));  // backwards from the cursor
  ssmodel_free_trades(s);
  EXPECT_EQ(0u, s->trade_breaks.count);
  EXPECT_EQ(nullptr, s->trade_breaks.cursor);
  run_deferred();
}

TEST_F(Model, DayListsAreFreedLater) {
  ss_day day{};
  ss_stock* s = ssmodel_add_stock(asx, "DAY");
  ssmodel_add_trade(s, at(2014, 2, 7, 10), 1, 1);
  ssmodel_add_trade(s, at(2014, 2, 7, 11), 2, 1);
  day.trades = s->trades;  // a day record takes a loaded list over
  s->trades = {};
  ss_index* x = ssmodel_add_index(asx, "XJO");
  ssmodel_add_index_tick(x, 1, 10);
  day.ticks = x->ticks;
  x->ticks = {};
  ssmodel_free_day_trades(&day);
  ssmodel_free_day_ticks(&day);
  EXPECT_EQ(0u, day.trades.count);
  EXPECT_EQ(nullptr, day.ticks.head);
  run_deferred();
}

// ---------------------------------------------------------------------------
// Ticks, members, adjustments

TEST_F(Model, IndexTicksAndMembers) {
  ss_index* x = ssmodel_add_index(asx, "XJO");
  int32_t times[] = {30, 10, 20, 10, 40};
  for (uint32_t i = 0; i < 5; i++) ssmodel_add_index_tick(x, times[i], i);
  std::vector<uint32_t> values;
  for (ss_tick* t = x->ticks.head; t; t = t->next) values.push_back(t->value);
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 2, 0, 4}), values);
  ssmodel_free_index_ticks(x);
  EXPECT_EQ(0u, x->ticks.count);

  ss_stock* bhp = ssmodel_add_stock(asx, "BHP");
  ssmodel_add_stock(asx, "ANZ");
  LogCapture log;
  for (const char* c : {"BHP", "ANZ", "WOW", "CBA"}) ssmodel_add_index_member(x, c, 1);
  ssmodel_add_index_member(x, "BHP", 99);
  std::vector<std::string> codes;
  for (ss_index_member* m = x->members.head; m; m = m->next) codes.push_back(m->code);
  EXPECT_EQ((std::vector<std::string>{"ANZ", "BHP", "CBA", "WOW"}), codes);
  EXPECT_EQ(99u, x->members.head->next->value);
  EXPECT_TRUE(bhp->flags & kInBenchmark);
  EXPECT_EQ(1, log.count("can't find ASX:WOW to set benchmark flag"));
  ssmodel_remove_index_member(x, "BHP");
  EXPECT_FALSE(bhp->flags & kInBenchmark);
  ssmodel_remove_index_member(x, "WOW");
  EXPECT_EQ(1, log.count("can't find ASX:WOW to clear benchmark flag"));
  EXPECT_EQ(2u, x->members.count);
  EXPECT_TRUE(plain_consistent(x->members));
  // Only XJO and NZ50 carry the benchmark bit.
  ss_index* xao = ssmodel_add_index(asx, "XAO");
  ssmodel_add_index_member(xao, "BHP", 1);
  EXPECT_FALSE(bhp->flags & kInBenchmark);
  ss_index* nz50 = ssmodel_add_index(nzx, "NZ50");
  ss_stock* fph = ssmodel_add_stock(nzx, "FPH");
  ssmodel_add_index_member(nz50, "FPH", 1);
  EXPECT_TRUE(fph->flags & kInBenchmark);
  run_deferred();
}

TEST_F(Model, Adjustments) {
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  EXPECT_EQ(0, ssmodel_add_adjustment(s, 300, 2));
  EXPECT_EQ(0, ssmodel_add_adjustment(s, 100, 3));
  EXPECT_EQ(0, ssmodel_add_adjustment(s, 200, 4));
  EXPECT_EQ(0, ssmodel_add_adjustment(s, 200, 5));  // same date: takes the factor
  std::vector<std::pair<int, int>> got;
  for (ss_adjustment* a = s->adjustments.head; a; a = a->next) got.push_back({a->date, a->factor});
  EXPECT_EQ((std::vector<std::pair<int, int>>{{100, 3}, {200, 5}, {300, 2}}), got);
  EXPECT_EQ(-1, ssmodel_remove_adjustment(s, 200, 4));
  EXPECT_EQ(0, ssmodel_remove_adjustment(s, 200, 5));
  EXPECT_EQ(-1, ssmodel_remove_adjustment(s, 200, 5));
  EXPECT_EQ(2u, s->adjustments.count);
  EXPECT_TRUE(plain_consistent(s->adjustments));
  run_deferred();
}

// ---------------------------------------------------------------------------
// News

class News : public Model {
 protected:
  void SetUp() override {
    Model::SetUp();
    ssmodel_set_date(nzx, at(2014, 2, 10));
    is = ssmodel_get_issuer(nzx, "FBU");
  }
  std::vector<uint32_t> numbers() const {
    std::vector<uint32_t> out;
    for (ss_news* n = is->news.head; n; n = n->next) out.push_back(n->number);
    return out;
  }
  ss_issuer* is = nullptr;
};

TEST_F(News, OrderReplaceAndBareItems) {
  ssmodel_add_news(is, 20, at(2014, 2, 10, 11), nullptr, 0, "b");
  ssmodel_add_news(is, 10, at(2014, 2, 10, 10), nullptr, 0, "a");
  ssmodel_add_bare_news(is, 99);
  ssmodel_add_news(is, 15, at(2014, 2, 10, 11), nullptr, 0, "c");  // same time, smaller number
  ssmodel_add_bare_news(is, 50);
  EXPECT_EQ((std::vector<uint32_t>{50, 99, 10, 15, 20}), numbers());
  EXPECT_TRUE(plain_consistent(is->news));

  const uint32_t codes[] = {13, 14, 0, 77};
  ss_news* again = ssmodel_add_news(is, 10, at(2014, 2, 10, 10), codes, 1, "a, corrected");
  EXPECT_EQ(5u, is->news.count);
  EXPECT_STREQ("a, corrected", again->headline);
  EXPECT_EQ(1u, again->flags);
  EXPECT_EQ((std::vector<uint32_t>{13, 14, 0, 0}), std::vector<uint32_t>(again->codes, again->codes + 4));
  EXPECT_EQ(again, ssmodel_find_news(is, 10));

  LogCapture log;
  ss_news* bare = ssmodel_add_bare_news(is, 99);
  EXPECT_EQ(1, log.count("no need to add temp FBU news item"));
  EXPECT_EQ(bare, ssmodel_find_news(is, 99));
  EXPECT_EQ(5u, is->news.count);

  std::string long_headline(200, 'H');
  ss_news* n = ssmodel_add_news(is, 30, at(2014, 2, 10, 12), nullptr, 0, long_headline.c_str());
  EXPECT_EQ(79u, strlen(n->headline));
  EXPECT_EQ(nullptr, ssmodel_find_news(is, 31));
  EXPECT_EQ(nullptr, ssmodel_add_news(ssmodel_add_stock(nzx, "FBU"), 1, 1, nullptr, 0, "x"));
}

TEST_F(News, RecentNewsEntriesAndIssuerBits) {
  ssmodel_add_news(is, 1, at(2014, 2, 10, 10, 0, 5), nullptr, 0x4, "today, flag 4");
  EXPECT_EQ(kInNewsFlag4, is->flags & kInNewsBits);
  ssmodel_add_news(is, 2, at(2014, 2, 10, 10, 0, 30), nullptr, 0x1, "today, flag 1");
  EXPECT_EQ(kInNewsBits, is->flags & kInNewsBits);
  ss_issuer* other = ssmodel_get_issuer(nzx, "AIR");
  ssmodel_add_news(other, 1, at(2014, 2, 10, 10, 0, 0), nullptr, 0, "same minute, other code");
  ssmodel_add_news(other, 3, at(2014, 1, 20, 10), nullptr, 0, "last month: old entry");
  ssmodel_add_news(other, 4, at(2014, 1, 5, 10), nullptr, 0, "too old for an entry");
  EXPECT_EQ(kInNewsPlain, other->flags & kInNewsBits);  // only today's news counts
  std::vector<std::pair<std::string, uint32_t>> entries;
  for (ss_exchange_news* e = nzx->news.head; e; e = e->next) entries.push_back({e->code, e->number});
  // By date and minute, then by the order entries were made.
  std::vector<std::pair<std::string, uint32_t>> want = {{"AIR", 3}, {"FBU", 1}, {"FBU", 2}, {"AIR", 1}};
  EXPECT_EQ(want, entries);
  // A re-sent item in the same minute makes no second entry.
  ssmodel_add_news(is, 1, at(2014, 2, 10, 10, 0, 40), nullptr, 0x4, "again");
  EXPECT_EQ(4u, nzx->news.count);
  EXPECT_TRUE(plain_consistent(nzx->news));

  ssmodel_recount_news_flags(nzx);
  EXPECT_EQ(kInNewsBits, is->flags & kInNewsBits);
  EXPECT_EQ(kInNewsPlain, other->flags & kInNewsBits);
}

TEST_F(News, WithdrawingTheOnlyItemClearsTheBits) {
  ssmodel_add_news(is, 7, at(2014, 2, 10, 10), nullptr, 0x5, "only");
  EXPECT_EQ(kInNewsFlag4 | kInNewsFlag1, is->flags & kInNewsBits);
  EXPECT_EQ(0, ssmodel_remove_news(is, 7));
  EXPECT_EQ(0u, is->flags & kInNewsBits);
  EXPECT_TRUE(ssmodel_find_news(is, 7)->flags & kNewsWithdrawn);
  EXPECT_EQ(0, ssmodel_remove_news(is, 7));
  EXPECT_EQ(0, ssmodel_remove_news(is, 3));
  EXPECT_EQ(0, ssmodel_remove_news(is, 5));
  std::vector<uint32_t> removed;
  for (ss_news_removal* r = is->removals.head; r; r = r->next) removed.push_back(r->number);
  EXPECT_EQ((std::vector<uint32_t>{3, 5, 7}), removed);
  // An item arriving after its withdrawal is marked by the apply pass.
  ssmodel_add_news(is, 5, at(2014, 2, 10, 11), nullptr, 0, "late");
  EXPECT_EQ(kInNewsPlain, is->flags & kInNewsBits);
  ssmodel_apply_news_removals(is);
  EXPECT_TRUE(ssmodel_find_news(is, 5)->flags & kNewsWithdrawn);
  EXPECT_EQ(0u, is->flags & kInNewsBits);
  // The exchange-wide recount skips withdrawn items as well.
  is->flags |= kInNewsBits;
  ssmodel_recount_news_flags(nzx);
  EXPECT_EQ(0u, is->flags & kInNewsBits);
  // An item re-sent after its withdrawal (still withdrawn) adds no bits.
  ssmodel_add_news(is, 7, at(2014, 2, 10, 10), nullptr, 0x5 | kNewsWithdrawn, "only, again");
  EXPECT_EQ(0u, is->flags & kInNewsBits);
  ssmodel_add_news(is, 8, at(2014, 2, 10, 12), nullptr, 0x4, "another");
  ssmodel_recount_news_flags(nzx);
  EXPECT_EQ(kInNewsFlag4, is->flags & kInNewsBits);
}

TEST_F(News, AsxColonRuleBeforeCutOver) {
  ss_issuer* a = ssmodel_get_issuer(asx, "BHP");
  struct {
    ss_time time;
    uint32_t flags;
    const char* headline;
    uint32_t want;
  } cases[] = {{at(2010, 6, 5, 10), 1, "BHP: result", 5},      {at(2010, 6, 5, 10), 1, "BHPXX: result", 5},
               {at(2010, 6, 5, 10), 1, "BHPXXX: result", 1},   {at(2010, 6, 6, 10), 1, "BHP: result", 1},
               {at(2010, 6, 5, 10), 0, "BHP: result", 0},      {at(2010, 6, 5, 10), 3, "BHP: x", 7},
               {at(2010, 6, 5, 10), 5, "BHP: result", 5}};
  uint32_t number = 1;
  for (const auto& c : cases) {
    ss_news* n = ssmodel_add_news(a, number++, c.time, nullptr, c.flags, c.headline);
    EXPECT_EQ(c.want, n->flags) << c.headline;
  }
  ss_news* n = ssmodel_add_news(is, number, at(2010, 6, 5, 10), nullptr, 1, "FBU: nzx");
  EXPECT_EQ(1u, n->flags);
}

TEST_F(News, TrimTodayAndMonth) {
  ssmodel_add_bare_news(is, 1);
  ssmodel_add_news(is, 2, at(2014, 1, 5, 10), nullptr, 0, "old");
  ssmodel_add_news(is, 3, at(2014, 1, 20, 10), nullptr, 0, "this month");
  ssmodel_add_news(is, 4, at(2014, 2, 10, 10), nullptr, 0, "today");
  is->flags |= kInHistory;
  ss_news* old = is->news.head;
  ssmodel_trim_news_month(is);
  EXPECT_EQ((std::vector<uint32_t>{3, 4}), numbers());
  EXPECT_FALSE(is->flags & kInHistory);
  EXPECT_EQ(1u, old->number);  // freed later, still readable now
  EXPECT_TRUE(plain_consistent(is->news));
  is->flags |= kInHistory;
  ssmodel_trim_news_month(is);  // nothing older: only the bit goes
  EXPECT_EQ(2u, is->news.count);
  EXPECT_FALSE(is->flags & kInHistory);
  ssmodel_trim_news_today(is);
  EXPECT_EQ((std::vector<uint32_t>{4}), numbers());
  ssmodel_set_date(nzx, at(2014, 2, 11));
  ssmodel_trim_news_today(is);
  EXPECT_EQ(0u, is->news.count);
  EXPECT_EQ(nullptr, is->news.tail);
  run_deferred();
}

TEST_F(News, HistoryFromDropsOlderItems) {
  ssmodel_add_bare_news(is, 1);
  ssmodel_add_news(is, 2, at(2014, 1, 5, 10), nullptr, 0, "old");
  ssmodel_add_news(is, 3, at(2014, 2, 10, 10), nullptr, 0, "new");
  ssmodel_set_history_from(is, at(2014, 2, 1));
  EXPECT_EQ((std::vector<uint32_t>{3}), numbers());
  ssmodel_free_news_list(is);
  ssmodel_free_exchange_news(nzx);
  EXPECT_EQ(0u, is->news.count);
  EXPECT_EQ(0u, nzx->news.count);
  run_deferred();
}

// ---------------------------------------------------------------------------
// Life cycle and work sets

// Runs with the model stopped; every test starts and stops it itself.
class Life : public ::testing::Test {
 protected:
  void TearDown() override {
    ssmodel_set_test_failure(nullptr);
    ssmodel_fini();
  }
};

// A bit of every kind of list on every exchange, events and day records
// included, then a reset so that detached lists wait in deferred freeing.
void populate_all() {
  for (int i = 0; i < kExchanges; i++) {
    ss_exchange* e = ssmodel_new_exchange(i, kTerminalExchangeFlags);
    ASSERT_NE(nullptr, e);
    ssmodel_set_date(e, at(2014, 2, 10));
    ss_stock* s = ssmodel_add_stock(e, "BHP");
    ssmodel_set_stock_names(s, "BHP BILLITON", "BHP LTD");
    s->levels[0] = ssmodel_new_depth_level(100);
    s->levels[0]->orders = ssmodel_new_depth_order_at(5, 0, s->levels[0]);
    ssmodel_add_depth_break(s, 1, 2, 3);
    ssmodel_set_trade_detail(ssmodel_add_trade(s, at(2014, 2, 10, 10), 100, 5), 1, 2, 3, 4, 5);
    ssmodel_reserve_history(s, 10);
    ssmodel_add_adjustment(s, 20140101, 2);
    growbuf_append(&s->scratch, "scratch", 7);
    auto* p = static_cast<ss_ev_state*>(ssevent_new_payload(kEvState));
    ASSERT_NE(nullptr, p);
    ssevent_add_event(s, kEvState, p);
    ASSERT_NE(nullptr, ssevent_get_day(s, at(2014, 1, 5)));
    ss_index* x = ssmodel_add_index(e, "XJO");
    ssmodel_add_index_tick(x, 36000, 5000);
    ssmodel_add_index_member(x, "BHP", 1);
    ssmodel_reserve_index_history(x, 3);
    ss_issuer* is = ssmodel_get_issuer(e, "BHP");
    // AXO's issuers are ASX's: the numbers differ per exchange.
    ssmodel_add_news(is, 10 * i + 1, at(2014, 2, 10, 10), nullptr, 0, "news");
    ssmodel_add_news(is, 10 * i + 2, at(2014, 2, 10, 11), nullptr, 0, "news")->body =
        static_cast<char*>(dalloc_alloc(100));
    ssmodel_remove_news(is, 10 * i + 3);
    ssmodel_add_alias(e, "OLD", "BHP");
  }
  ssmodel_reset_all(0);
  ASSERT_GT(lazyfree_queue_shape(nullptr, 0), 0);
}

// Leaks show at the end of the run under AddressSanitizer; a pool destroyed
// before the pending deferred frees ran would crash in fini.
TEST_F(Life, RepeatedStartAndStopOfAPopulatedModel) {
  for (uint32_t options : {0u, 12u, 1u, 2u, 4u, 8u, 12u}) {
    SCOPED_TRACE(options);
    LogCapture log;
    ASSERT_EQ(0, ssmodel_init(options));
    EXPECT_EQ(0, log.count("free null"));  // starting frees nothing it never made
    EXPECT_EQ((options & 1) ? options | 2 : options, ssmodel_options());
    EXPECT_EQ((options & 3) ? (int32_t)sizeof(ss_stock_ext) : (int32_t)sizeof(ss_stock), ssmodel_stock_size());
    EXPECT_EQ((options & 8) ? 1 : 0, fast_reset_enabled());
    populate_all();
    ssmodel_fini();
    EXPECT_EQ(nullptr, ssmodel_exchange(0));
    EXPECT_EQ(nullptr, ssmodel_work_buffer(0, 0));
  }
  ssmodel_fini();  // a second stop changes nothing
}

TEST_F(Life, StartsAndStopsTheOtherModules) {
  ssproto_set_exchange_position(2, 5);
  ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
  EXPECT_EQ(kCurrencies, sscurrency_count());
  EXPECT_NE(nullptr, ssbroker_code(0));
  int32_t n = 0;
  const gics_entry* builtin = gics_builtin(&n);
  ASSERT_GT(n, 0);
  EXPECT_NE(nullptr, gics_name(builtin[0].code));
  EXPECT_EQ(0xffffffffu, ssproto_exchange_position(2));
  EXPECT_NE(nullptr, chunk_alloc(0, 10));
  EXPECT_NE(nullptr, ssevent_new_payload(kEvState));
  ss_exchange* e = ssmodel_new_exchange(1, kTerminalExchangeFlags);
  EXPECT_NE(0u, ssmodel_exchange_now(e));  // the time module runs
  // Deferred freeing runs: a freed list is queued, not freed at once.
  ss_stock* s = ssmodel_add_stock(e, "AIR");
  ssmodel_add_trade(s, 1, 1, 1);
  int32_t before = lazyfree_queue_shape(nullptr, 0);
  ssmodel_free_trades(s);
  EXPECT_EQ(before + 1, lazyfree_queue_shape(nullptr, 0));
  ssmodel_fini();
  EXPECT_EQ(0, sscurrency_count());
  EXPECT_EQ(0, fast_reset_enabled());
  EXPECT_EQ(nullptr, ssevent_new_payload(kEvState));
}

TEST_F(Life, AFailingStepEndsStartUpAndStopsWhatHadStarted) {
  struct Row {
    const char* step;
    const char* line;  // logged by the model; null where the module logs
  } rows[] = {
      {"lazyfree", nullptr},
      {"kludge", nullptr},
      {"chunk", nullptr},
      {"gics", nullptr},
      {"sstime", nullptr},
      {"ssmsg", "can't init msg"},
      {"sspriority", "can't init priority"},
      {"ssevent", "can't init event"},
      {"ssalert", "can't init alert"},
      {"ssproto", "can't init proto"},
      {"ssnotice", nullptr},
      {"ssnotify", nullptr},
      {"sstrack", nullptr},
      {"ssvcmp", nullptr},
      {"ssbroker", nullptr},
      {"sscache", nullptr},
      {"sscurrency", nullptr},
      {"codec", nullptr},
      {"decsum", nullptr},
      {"fast_reset", nullptr},
      {"work", "can't alloc work buffer 3"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.step);
    ssmodel_set_test_failure(r.step);
    LogCapture log;
    EXPECT_EQ(-1, ssmodel_init(kTerminalModelOptions));
    if (r.line) {
      EXPECT_EQ(1, log.count(r.line));
    }
    EXPECT_EQ(0, sscurrency_count());
    EXPECT_EQ(nullptr, ssevent_new_payload(kEvState));
    EXPECT_EQ(nullptr, ssmodel_work_buffer(0, 0));
    EXPECT_EQ(0, fast_reset_enabled());
  }
  ssmodel_set_test_failure(nullptr);
  ASSERT_EQ(0, ssmodel_init(kTerminalModelOptions));
  EXPECT_EQ(kCurrencies, sscurrency_count());
  EXPECT_NE(nullptr, ssmodel_work_buffer(0, 0));
}

TEST_F(Model, WorkSets) {
  for (int32_t bad : {-1, kWorkSets}) {
    EXPECT_EQ(nullptr, ssmodel_work_buffer(bad, 1));
    EXPECT_EQ(nullptr, ssmodel_scratch_exchange(bad));
    EXPECT_EQ(nullptr, ssmodel_scratch_stock(bad));
    EXPECT_EQ(nullptr, ssmodel_scratch_index(bad));
    EXPECT_EQ(nullptr, ssmodel_scratch_stock_for(bad, nzx, "AIR"));
  }
  std::set<growbuf*> buffers;
  for (int i = 0; i < kWorkSets; i++) {
    growbuf* b = ssmodel_work_buffer(i, 0);
    ASSERT_NE(nullptr, b);
    EXPECT_GE(b->maxlen, kWorkBufferSize);
    EXPECT_EQ(kWorkBufferStep, b->incr);
    buffers.insert(b);
  }
  EXPECT_EQ((size_t)kWorkSets, buffers.size());
  growbuf_append(ssmodel_work_buffer(2, 0), "abc", 3);
  EXPECT_EQ(3, ssmodel_work_buffer(2, 0)->len);
  EXPECT_EQ(0, ssmodel_work_buffer(2, 1)->len);

  ssmodel_exchange_set_flags(nzx, 0x40);
  ss_stock* s = ssmodel_scratch_stock_for(1, nzx, "ABCDEFGHIJKLMNOP");
  ASSERT_NE(nullptr, s);
  EXPECT_STREQ("ABCDEFGHIJK", s->code);
  EXPECT_STREQ("ABC", s->issuer);
  EXPECT_EQ(kKindStock, s->kind);
  EXPECT_EQ(-1, s->id);
  EXPECT_EQ(-1, s->speed);
  EXPECT_EQ(s->code, s->name1);
  ss_exchange* sx = s->exchange;
  ASSERT_NE(nzx, sx);
  EXPECT_STREQ("NZX", sx->name);
  EXPECT_EQ(1u, sx->index);
  EXPECT_EQ(0x152u, sx->flags);
  EXPECT_EQ(nullptr, ssmodel_find_stock(nzx, "ABCDEFGHIJK"));  // nothing enters the model
  growbuf_append(&s->scratch, std::string(5000, 'x').data(), 5000);
  EXPECT_NE(s, ssmodel_scratch_stock(0));
  // Taking it again zeroes it and frees its buffer (a leak would show).
  ss_stock* again = ssmodel_scratch_stock(1);
  EXPECT_EQ(s, again);
  EXPECT_EQ(0, again->code[0]);
  EXPECT_EQ(nullptr, again->scratch.data);
  EXPECT_EQ(nullptr, again->exchange);

  ss_index* x = ssmodel_scratch_index_for(1, glb, "SPX");
  EXPECT_STREQ("SPX", x->code);
  EXPECT_EQ(kKindIndex, x->kind);
  EXPECT_EQ(-1, x->speed);
  EXPECT_EQ(sx, x->exchange);
  EXPECT_STREQ("GLB", sx->name);
  EXPECT_EQ(2u, sx->index);
  ss_issuer* is = ssmodel_scratch_issuer_for(3, axo, "BHP");
  EXPECT_EQ(kKindIssuer, is->kind);
  EXPECT_EQ(3u, is->exchange->index);
  EXPECT_NE(sx, is->exchange);

  ss_exchange* zx = ssmodel_scratch_exchange(1);
  EXPECT_EQ(sx, zx);
  EXPECT_EQ(0, zx->name[0]);
  EXPECT_EQ(0u, zx->index + zx->flags + zx->date);
  EXPECT_EQ(0, ssmodel_scratch_index(1)->code[0]);
}

TEST_F(AllRequested, ScratchStocksAreExtendedStocks) {
  ss_stock* s = ssmodel_scratch_stock_for(0, nzx, "AIR");
  ASSERT_EQ((int32_t)sizeof(ss_stock_ext), ssmodel_stock_size());
  auto* ext = static_cast<ss_stock_ext*>(s);
  EXPECT_EQ(0u, ext->info_count);
  ext->info_count = 1;  // within the record (AddressSanitizer would say otherwise)
  EXPECT_EQ(0u, static_cast<ss_stock_ext*>(ssmodel_scratch_stock(0))->info_count);
}

// ---------------------------------------------------------------------------
// Deferred freeing under AddressSanitizer

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAsan = true;
#else
constexpr bool kAsan = false;
#endif

using ModelDeathTest = Model;

TEST_F(ModelDeathTest, DetachedListsAreReadableUntilTheDelayThenPoisoned) {
  if (!kAsan) GTEST_SKIP() << "needs AddressSanitizer";
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  for (int i = 0; i < 50; i++) ssmodel_add_trade(s, at(2014, 2, 10, 10, 0, i), 100 + i, 1);
  ssmodel_set_trade_detail(s->trades.tail, 1, 2, 3, 4, 5);
  ss_trade* held = s->trades.head->next;  // a reader stands here
  ssmodel_free_trades(s);
  g_now_ms += 1000;
  lazyfree_tick();  // not yet due
  uint64_t sum = 0;
  for (ss_trade* t = held; t; t = t->next) sum += t->price;
  EXPECT_EQ((uint64_t)(101 + 149) * 49 / 2, sum);
  run_deferred();  // frees the chain: each link is read before its record goes
  // The first word of a freed record holds the pool's link and stays
  // readable; every field after it is poisoned.
  EXPECT_DEATH({ volatile uint64_t v = held->volume; (void)v; }, "use-after-poison");
}

TEST_F(ModelDeathTest, FreedDepthAndNewsArePoisonedOnlyAfterTheDelay) {
  if (!kAsan) GTEST_SKIP() << "needs AddressSanitizer";
  ss_stock* s = ssmodel_add_stock(asx, "BHP");
  ss_depth_level* l = ssmodel_new_depth_level(1000);
  l->orders = ssmodel_new_depth_order_at(5, 0, l);
  ASSERT_GE(offsetof(ss_depth_order, value), sizeof(void*));
  s->levels[0] = l;
  ss_depth_order* o = l->orders;
  ssmodel_free_depth(s);
  ss_issuer* is = ssmodel_get_issuer(asx, "BHP");
  ss_news* n = ssmodel_add_news(is, 1, 1, nullptr, 0, "x");
  ssmodel_free_news_list(is);
  EXPECT_EQ(0u, o->value);
  EXPECT_EQ('x', n->headline[0]);
  run_deferred();
  EXPECT_DEATH({ volatile uint32_t v = o->value; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ volatile char c = n->headline[0]; (void)c; }, "use-after-poison");
}

// ---------------------------------------------------------------------------
// Concurrency: one thread adds and links stocks under a mutex standing in for
// the core lock; another walks the current list without taking it.

using ModelConcurrency = Model;

TEST_F(ModelConcurrency, UnlockedWalkOfTheCurrentListWhileStocksAreAdded) {
  std::vector<std::string> codes;
  for (int i = 0; i < 3000; i++) {
    char c[8];
    snprintf(c, sizeof c, "C%05d", i * 7919 % 100000);
    codes.push_back(c);
  }
  std::mt19937 rng(7);
  std::shuffle(codes.begin(), codes.end(), rng);
  std::mutex core_lock;
  std::atomic<bool> done{false};
  std::atomic<int> disorder{0};
  std::atomic<int> walks{0};
  ss_exchange* e = nzx;

  std::thread reader([&] {
    while (!done.load()) {
      const char* prev = nullptr;
      uint32_t seen = 0;
      for (ss_stock* s = ssmodel_load(e->current.head); s; s = ssmodel_load(s->current.next)) {
        if (prev && strcmp(prev, s->code) >= 0) disorder++;
        prev = s->code;
        if (++seen > codes.size()) {
          disorder++;  // a cycle
          break;
        }
      }
      (void)ssmodel_load(e->current.count);
      walks++;
    }
  });
  std::thread writer([&] {
    for (const auto& c : codes) {
      std::lock_guard<std::mutex> g(core_lock);
      ss_stock* s = ssmodel_get_stock(e, c.c_str());
      if (s) ssmodel_stock_make_current(s);
    }
    done = true;
  });
  writer.join();
  reader.join();
  EXPECT_EQ(0, disorder.load());
  EXPECT_GT(walks.load(), 0);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, current_codes(e));
}

}  // namespace
