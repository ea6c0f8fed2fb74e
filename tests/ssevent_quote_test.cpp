// Quote, index, state, news and auction events: tables of quotes and their
// alert bits, index ticks (the opening rule, the NZX jump filter, the change
// and its percentage, the alert codes), stock and exchange states, the
// resume list against the exchange clock, quote bases, open balances, news,
// and the auction block against known answers, including its recompute after
// every depth change.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "lazyfree.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }
std::atomic<time_t> g_wall{1392000000};
time_t test_wall() { return g_wall.load(); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

struct Alert {
  instr* in;
  uint32_t code;
  void* object;
};
std::vector<Alert> g_alerts;
void on_alert(instr* in, ss_time, uint32_t code, void* object) { g_alerts.push_back({in, code, object}); }

class Quotes : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    ssmodel_set_date(asx, sstime_pack_date(10, 2, 2014));
    g_alerts.clear();
    ssevent_set_alert_hook(on_alert);
    bhp = ssmodel_get_stock(asx, "BHP");
    ASSERT_NE(nullptr, bhp);
  }
  void TearDown() override {
    ssevent_set_alert_hook(nullptr);
    sstime_set_test_wallclock(nullptr);
    ssmodel_fini();
  }
  static ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 10, 2, 2014); }
  static std::vector<uint32_t> codes() {
    std::vector<uint32_t> out;
    for (const Alert& a : g_alerts) out.push_back(a.code);
    return out;
  }
  ss_exchange* asx = nullptr;
  ss_stock* bhp = nullptr;
};

// ---------------------------------------------------------------------------
// Quotes

TEST_F(Quotes, QuoteTable) {
  constexpr uint32_t N = kNoPrice;
  constexpr uint64_t NV = kNoVolume;
  struct Row {
    const char* name;
    uint32_t close, open, high, low, last;
    uint64_t volume, value;
    bool recorded;
    std::vector<uint32_t> alerts;
  } rows[] = {
      {"every value repeated", 90, 95, 110, 95, 100, 1000, 5000, false, {}},
      {"nothing given", N, N, N, N, N, NV, NV, false, {}},
      {"the last rises", N, N, N, N, 105, NV, NV, true, {0x3}},
      {"the last falls to a new low", N, N, N, 94, 94, NV, NV, true, {0x15}},
      {"only the high", N, N, 120, N, N, NV, NV, true, {0x8}},
      {"only the close", 91, N, N, N, N, NV, NV, true, {}},
      {"only the volume", N, N, N, N, N, 1200, NV, true, {}},
      {"a last of 0 is a value", N, N, N, N, 0, NV, NV, true, {0x5}},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("Q" + std::to_string(n++)).c_str());
    s->close = 90, s->open = 95, s->high = 110, s->low = 95, s->last = 100, s->volume = 1000, s->value = 5000;
    ssmodel_stock_derive(s);
    g_alerts.clear();
    ss_time t = at(10, 0, 0);
    ASSERT_EQ(0, ssevent_apply_quote(s, t, row.close, row.open, row.high, row.low, row.last, row.volume, row.value));
    EXPECT_EQ(row.alerts, codes());
    EXPECT_EQ(row.recorded ? 1u : 0u, s->events.count);
    EXPECT_EQ(row.recorded ? t : 0u, s->last_time);
    // The derived figures follow what was stored.
    EXPECT_EQ(s->volume, s->disp_volume);
    if (s->last) {
      EXPECT_EQ(int32_t(s->last) - int32_t(s->close), s->change);
    }
    if (!row.recorded) continue;
    auto* p = static_cast<ss_ev_quote*>(s->events.newest->payload);
    ASSERT_EQ(kEvQuote, s->events.newest->kind);
    EXPECT_EQ(t, p->time);
    EXPECT_EQ((std::vector<uint64_t>{s->close, s->open, s->low, s->high, s->last, s->volume, s->value}),
              (std::vector<uint64_t>{p->close, p->open, p->low, p->high, p->last, p->volume, p->value}));
  }
}

// ---------------------------------------------------------------------------
// Index ticks

TEST_F(Quotes, IndexOpeningRule) {
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  // Before 09:59:00 a value only gives a missing base.
  ASSERT_EQ(0, ssevent_index_tick(xjo, at(9, 58, 59), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 5000000));
  EXPECT_EQ(5000000u, xjo->base);
  EXPECT_EQ(0u, xjo->value);
  EXPECT_EQ(0u, xjo->ticks.count);
  ASSERT_EQ(0, ssevent_index_tick(xjo, at(9, 59, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 5010000));
  EXPECT_EQ(5010000u, xjo->value);
  EXPECT_EQ(5010000u, xjo->open);
  EXPECT_EQ(5010000u, xjo->high);
  EXPECT_EQ(5010000u, xjo->low);
  ASSERT_EQ(1u, xjo->ticks.count);
  EXPECT_EQ(int32_t(at(9, 59, 0)), xjo->ticks.tail->time);
  // The tick is the kind-9 event's payload.
  ASSERT_EQ(kEvIndexTick, xjo->events.newest->kind);
  EXPECT_EQ(xjo->ticks.tail, xjo->events.newest->payload);
  // GLB has no such rule and keeps no ticks.
  ss_index* glb = ssmodel_get_index(ssmodel_exchange(kExchangeGlb), "DJI");
  ASSERT_EQ(0, ssevent_index_tick(glb, at(7, 0, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 1000000));
  EXPECT_EQ(1000000u, glb->value);
  EXPECT_EQ(0u, glb->ticks.count);
  EXPECT_EQ(0u, glb->events.count);
}

TEST_F(Quotes, IndexChangesAndAlerts) {
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  struct Step {
    uint32_t base, value;
    int32_t change, pct;
    std::vector<uint32_t> alerts;
  } steps[] = {
      {2000000, kNoPrice, 0, 0, {}},
      {kNoPrice, 2010000, 10000, 50, {}},  // the first value: no alert
      {kNoPrice, 2020000, 20000, 100, {0xC00000}},
      {kNoPrice, 1990000, -10000, -50, {0x1400000}},
      {0, 1990000, -10000, -50, {}},  // repeated: nothing moves
      {kNoPrice, 1990001, -9999, -50, {0xC00000}},
  };
  int i = 0;
  for (const Step& st : steps) {
    SCOPED_TRACE(i);
    g_alerts.clear();
    ASSERT_EQ(0, ssevent_index_tick(xjo, at(10, 0, i++), st.base, kNoPrice, kNoPrice, kNoPrice, st.value));
    EXPECT_EQ(st.change, xjo->change);
    EXPECT_EQ(st.pct, xjo->change_pct);
    EXPECT_EQ(st.alerts, codes());
  }
  EXPECT_EQ(2020000u, xjo->high);
  EXPECT_EQ(1990000u, xjo->low);
  // Given open, high and low replace the index's own.
  ASSERT_EQ(0, ssevent_index_tick(xjo, at(10, 1, 0), kNoPrice, 1995000, 2100000, 1900000, kNoPrice));
  EXPECT_EQ((std::vector<uint32_t>{1995000, 2100000, 1900000}),
            (std::vector<uint32_t>{xjo->open, xjo->high, xjo->low}));
}

TEST_F(Quotes, NzxJumpFilterAndBadTicks) {
  ss_index* nz50 = ssmodel_get_index(ssmodel_exchange(1), "NZ50");
  nz50->reference = 5000000;
  uint64_t lines = log_count();
  ASSERT_EQ(0, ssevent_index_tick(nz50, at(11, 0, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 5000000 + 0x200001));
  EXPECT_TRUE(logged_since(lines, "ignoring index movement from 5000000 to"));
  EXPECT_EQ(0u, nz50->value);
  ASSERT_EQ(0, ssevent_index_tick(nz50, at(11, 0, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 5000000 - 0x200001));
  EXPECT_EQ(0u, nz50->value);
  ASSERT_EQ(0, ssevent_index_tick(nz50, at(11, 0, 0), kNoPrice, kNoPrice, kNoPrice, kNoPrice, 5000000 - 0x200000));
  EXPECT_EQ(5000000u - 0x200000u, nz50->value);

  // The main indices' ticks of a known bad twenty seconds are dropped.
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  ss_time bad = sstime_pack(30, 13, 10, 28, 6, 2010);
  lines = log_count();
  ASSERT_EQ(0, ssevent_index_tick(xjo, bad, kNoPrice, kNoPrice, kNoPrice, kNoPrice, 4000000));
  EXPECT_TRUE(logged_since(lines, "ignoring XJO 4000000 @"));
  EXPECT_EQ(0u, xjo->value);
  ASSERT_EQ(0, ssevent_index_tick(xjo, bad + 11, kNoPrice, kNoPrice, kNoPrice, kNoPrice, 4000000));
  EXPECT_EQ(4000000u, xjo->value);
}

// ---------------------------------------------------------------------------
// States

uint32_t g_global;
void on_global(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) g_global |= c->mask;
}

TEST_F(Quotes, StockAndExchangeStates) {
  ss_stock* cba = ssmodel_get_stock(asx, "CBA");
  ss_time t = at(10, 0, 0);
  ASSERT_EQ(0, ssevent_set_stock_state(bhp, t, 3));
  ASSERT_EQ(0, ssevent_set_stock_state(bhp, t + 1, 3));  // equal: nothing
  ASSERT_EQ(1u, bhp->events.count);
  auto* p = static_cast<ss_ev_state*>(bhp->events.newest->payload);
  EXPECT_EQ((std::vector<uint32_t>{t, 3, 0}), (std::vector<uint32_t>{p->time, p->state, p->old_state}));
  EXPECT_EQ(t, bhp->last_time);

  ASSERT_EQ(0, ssnotify_add_wild(kGlobalExchangeState, on_global, this, 0, 0));
  g_global = 0;
  // The exchange's own state only.
  ASSERT_EQ(0, ssevent_set_exchange_state(asx, t + 2, 5, 0, 0));
  EXPECT_EQ(5u, asx->state);
  EXPECT_EQ(0u, cba->state);
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(kGlobalExchangeState, g_global & kGlobalExchangeState);
  // With every stock.
  ASSERT_EQ(0, ssevent_set_exchange_state(asx, t + 3, 6, 1, 0));
  EXPECT_EQ(6u, bhp->state);
  EXPECT_EQ(6u, cba->state);
  EXPECT_EQ(2u, bhp->events.count);
  // An equal exchange state visits no stock.
  bhp->state = 1;
  ASSERT_EQ(0, ssnotify_deliver());
  g_global = 0;
  ASSERT_EQ(0, ssevent_set_exchange_state(asx, t + 4, 6, 1, 0));
  EXPECT_EQ(1u, bhp->state);
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(0u, g_global);
  ssnotify_remove_wild(this);
}

TEST_F(Quotes, ResumeList) {
  sstime_set_test_wallclock(test_wall);
  sstime_set_base(1);
  ssmodel_set_delta(asx, at(10, 0, 0));
  ss_stock* cba = ssmodel_get_stock(asx, "CBA");
  ss_stock* nab = ssmodel_get_stock(asx, "NAB");
  ASSERT_EQ(0, ssevent_resume_track(bhp, at(10, 0, 0), at(10, 30, 0)));
  ASSERT_EQ(0, ssevent_resume_track(nab, at(10, 0, 0), at(10, 45, 0)));
  ASSERT_EQ(0, ssevent_resume_track(cba, at(10, 0, 1), at(10, 30, 0)));  // equal: before BHP
  auto order = [&] {
    std::vector<std::string> out;
    for (ss_resume_node* n = asx->resumes.head; n; n = n->next) out.push_back(n->stock->code);
    EXPECT_EQ(out.size(), asx->resumes.count);
    return out;
  };
  EXPECT_EQ((std::vector<std::string>{"CBA", "BHP", "NAB"}), order());
  // A new time moves the stock's node.
  ASSERT_EQ(0, ssevent_resume_track(bhp, at(10, 0, 2), at(10, 50, 0)));
  EXPECT_EQ((std::vector<std::string>{"CBA", "NAB", "BHP"}), order());
  EXPECT_EQ(at(10, 0, 2), bhp->last_time);

  ssevent_expire_resumes();
  EXPECT_EQ(3u, asx->resumes.count);
  g_wall += 30 * 60 - 1;  // 10:29:59
  ssevent_expire_resumes();
  EXPECT_EQ(at(10, 30, 0), cba->resume_time);
  g_wall += 1;  // 10:30:00
  ssevent_expire_resumes();
  EXPECT_EQ(0u, cba->resume_time);
  EXPECT_EQ((std::vector<std::string>{"NAB", "BHP"}), order());
  g_wall += 3600;
  ssevent_expire_resumes();
  EXPECT_TRUE(order().empty());
  EXPECT_EQ(nullptr, asx->resumes.tail);
  EXPECT_EQ(0u, bhp->resume_time);
}

TEST_F(Quotes, BasisBalanceAndNews) {
  ss_time t = at(10, 0, 0);
  ASSERT_EQ(0, ssevent_set_quote_basis(bhp, t, 0x1234));
  ASSERT_EQ(0, ssevent_set_quote_basis(bhp, t + 1, 0x1234));
  EXPECT_EQ(1u, bhp->events.count);
  EXPECT_EQ(0x1234u, static_cast<ss_ev_quote_basis*>(bhp->events.newest->payload)->basis);
  EXPECT_EQ(t, bhp->last_time);
  // An open balance is always recorded and does not move the last time.
  ASSERT_EQ(0, ssevent_set_open_balance(bhp, t + 5, 700));
  ASSERT_EQ(0, ssevent_set_open_balance(bhp, t + 6, 700));
  EXPECT_EQ(3u, bhp->events.count);
  EXPECT_EQ(700u, static_cast<ss_ev_open_balance*>(bhp->events.newest->payload)->balance);
  EXPECT_EQ(t, bhp->last_time);

  ss_issuer* is = ssmodel_get_issuer(asx, "BHP");
  const uint32_t kinds[] = {3, 0};
  ASSERT_EQ(0, ssevent_add_news(is, 41, at(9, 0, 0), kinds, 0, "Half year report"));
  ASSERT_EQ(1u, is->events.count);
  ss_news* item = static_cast<ss_news*>(is->events.newest->payload);
  EXPECT_EQ(41u, item->number);
  ASSERT_EQ(1u, g_alerts.size());
  EXPECT_EQ(0x200000u, g_alerts[0].code);
  EXPECT_EQ(item, g_alerts[0].object);
  // An item of an earlier day is kept but not listed as today's event.
  ASSERT_EQ(0, ssevent_add_news(is, 40, sstime_pack(0, 0, 9, 7, 2, 2014), kinds, 0, "Older"));
  EXPECT_EQ(1u, is->events.count);
  EXPECT_EQ(2u, is->news.count);
}

// ---------------------------------------------------------------------------
// Auctions

struct Book {
  std::vector<std::pair<uint32_t, uint64_t>> bids, offers;  // best first
};

void load(ss_stock* s, const Book& b) {
  ssevent_clear_depth(s, 0, 2);
  for (const auto& [p, v] : b.bids) ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 0, p, v, 1, nullptr));
  for (const auto& [p, v] : b.offers) ASSERT_EQ(0, ssevent_apply_depth_summary(s, 0, 1, p, v, 1, nullptr));
}

std::vector<uint64_t> fields(const ss_auction& a) {
  return {a.price, a.matched, uint64_t(a.surplus), a.bid_price, a.bid_volume, a.offer_price, a.offer_volume};
}

constexpr uint64_t kNone = UINT64_MAX;

TEST_F(Quotes, AuctionTable) {
  struct Row {
    const char* name;
    Book book;
    uint32_t flags;
    uint64_t price;
    int result;
    std::vector<uint64_t> block;
  } rows[] = {
      {"more bids than offers",
       {{{105, 100}, {104, 50}}, {{103, 120}}},
       0x3,
       104,
       1,
       {104, 120, 30, 104, 30, kNone, 0}},
      {"more offers than bids",
       {{{105, 100}}, {{103, 80}, {104, 70}, {106, 40}}},
       0x3,
       104,
       1,
       {104, 100, uint64_t(int64_t(-50)), kNone, 0, 104, 50}},
      {"matched exactly",
       {{{105, 100}, {103, 20}}, {{104, 100}, {107, 30}}},
       0x3,
       104,
       1,
       {104, 100, 0, 103, 20, 107, 30}},
      {"today's events loaded will do",
       {{{105, 100}, {104, 50}}, {{103, 120}}},
       0x10,
       104,
       1,
       {104, 120, 30, 104, 30, kNone, 0}},
      {"queues not loaded", {{{105, 100}}, {{103, 120}}}, 0x1, 104, 0, {104, 0, 0, 0, 0, 0, 0}},
      {"book not crossed", {{{103, 100}}, {{104, 120}}}, 0x3, 104, 1, {0, 0, 0, 0, 0, 0, 0}},
      {"no offers", {{{103, 100}}, {}}, 0x3, 104, 1, {0, 0, 0, 0, 0, 0, 0}},
      {"no indicative price", {{{105, 100}}, {{103, 120}}}, 0x3, 0, 1, {0, 0, 0, 0, 0, 0, 0}},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(asx, ("A" + std::to_string(n++)).c_str());
    load(s, row.book);
    s->flags |= row.flags;
    ss_auction block{};
    block.price = row.price;
    EXPECT_EQ(row.result, ssevent_compute_auction(s, &block));
    EXPECT_EQ(row.block, fields(block));
    // Completing a complete block changes nothing.
    if (row.price && row.result == 1 && block.price) {
      EXPECT_EQ(0, ssevent_compute_auction(s, &block));
    }
  }
  // The numbered NZX codes keep whatever they are given.
  ss_stock* numbered = ssmodel_get_stock(ssmodel_exchange(1), "ABC123");
  numbered->flags |= 0x3;
  ss_auction block{};
  block.price = 104;
  EXPECT_EQ(0, ssevent_compute_auction(numbered, &block));
  EXPECT_EQ(104u, block.price);
}

// Every depth change recomputes the auction. A clear one stays clear without
// an event, whether the book crosses or not; whatever is left of one over a
// book that does not cross (or without a price) is cleared with one event;
// the numbered NZX codes keep what they have.
TEST_F(Quotes, ADepthChangeClearsWhatIsLeftOfAnAuctionAndLeavesAClearOneAlone) {
  const Book crossed{{{105, 100}}, {{103, 120}}};
  const Book apart{{{103, 100}}, {{104, 120}}};
  const std::vector<uint64_t> clear(7, 0);
  struct Row {
    const char* name;
    int exchange;
    const char* code;
    Book book;
    std::vector<uint64_t> before, after;
    int events;
  } rows[] = {
      {"clear, book crossed", 0, "C1", crossed, clear, clear, 0},
      {"clear, book apart", 0, "C2", apart, clear, clear, 0},
      {"a volume without a price", 0, "C3", crossed, {0, 5, 0, 0, 0, 0, 0}, clear, 1},
      {"a surplus without a price", 0, "C4", apart, {0, 0, uint64_t(int64_t(-1)), 0, 0, 0, 0}, clear, 1},
      {"an offer level without a price", 0, "C5", crossed, {0, 0, 0, 0, 0, kNone, 0}, clear, 1},
      {"a price over a book apart", 0, "C6", apart, {104, 100, 0, 103, 20, 107, 30}, clear, 1},
      {"a numbered NZX code", 1, "ABC123", crossed, {0, 5, 0, 0, 0, 0, 0}, {0, 5, 0, 0, 0, 0, 0}, 0},
  };
  auto auction_events = [](const ss_stock* s) {
    int n = 0;
    for (const ss_event* e = s->events.oldest; e; e = e->newer) n += e->kind == kEvAuction;
    return n;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(ssmodel_exchange(row.exchange), row.code);
    ASSERT_NE(nullptr, s);
    s->flags |= kRqBidLoaded | kRqOfferLoaded;
    load(s, row.book);
    const std::vector<uint64_t>& b = row.before;
    s->auction = ss_auction{b[0], b[1], int64_t(b[2]), b[3], b[4], b[5], b[6]};
    const int before = auction_events(s);
    ASSERT_EQ(0, ssevent_apply_depth_summary(s, at(10, 0, 0), 0, 90, 10, 1, nullptr));
    EXPECT_EQ(row.after, fields(s->auction));
    EXPECT_EQ(row.events, auction_events(s) - before);
  }
}

TEST_F(Quotes, AuctionsFollowTheDepth) {
  bhp->flags |= kRqBidLoaded | kRqOfferLoaded;
  load(bhp, {{{105, 100}, {104, 50}}, {{103, 120}}});
  ss_time t = at(9, 59, 0);
  g_alerts.clear();
  ASSERT_EQ(0, ssevent_auction_from_price(bhp, t, 104, 0));
  EXPECT_EQ((std::vector<uint64_t>{104, 120, 30, 104, 30, kNone, 0}), fields(bhp->auction));
  EXPECT_EQ(104u, bhp->last_auction_price);
  EXPECT_EQ(104u, bhp->disp_price);  // no last yet: the indicative price shows
  EXPECT_EQ(std::vector<uint32_t>{0x2000000}, codes());
  ASSERT_EQ(kEvAuction, bhp->events.newest->kind);
  EXPECT_EQ(fields(bhp->auction), fields(static_cast<ss_ev_auction*>(bhp->events.newest->payload)->auction));

  // A new offer at 104 is recomputed into the block at once.
  uint32_t events = bhp->events.count;
  ASSERT_EQ(0, ssevent_add_depth(bhp, t + 1, 1, 104, 40, 2, nullptr));
  // bids 150 at or above 104, offers 160 at or below: 10 offered over.
  EXPECT_EQ((std::vector<uint64_t>{104, 150, uint64_t(int64_t(-10)), kNone, 0, 104, 10}), fields(bhp->auction));
  ASSERT_EQ(kEvAuction, bhp->events.newest->kind);
  EXPECT_LT(events, bhp->events.count);

  // An amend and a delete are followed as well.
  ASSERT_EQ(0, ssevent_amend_depth(bhp, t + 2, 0, 1, 110));
  EXPECT_EQ((std::vector<uint64_t>{104, 160, 0, kNone, 0, kNone, 0}), fields(bhp->auction));
  ASSERT_EQ(0, ssevent_delete_depth(bhp, t + 3, 1, 1));
  EXPECT_EQ((std::vector<uint64_t>{104, 40, 120, 104, 120, kNone, 0}), fields(bhp->auction));
  // Once the book no longer crosses, the auction is over.
  ASSERT_EQ(0, ssevent_clear_depth(bhp, t + 4, 1));
  EXPECT_EQ((std::vector<uint64_t>{0, 0, 0, 0, 0, 0, 0}), fields(bhp->auction));

  // Applying an equal block records nothing.
  events = bhp->events.count;
  ss_auction same = bhp->auction;
  ASSERT_EQ(0, ssevent_apply_auction(bhp, t + 5, &same, 1));
  EXPECT_EQ(events, bhp->events.count);
  // A block from the server is completed from the depth too.
  load(bhp, {{{105, 100}}, {{103, 80}, {104, 70}, {106, 40}}});
  ss_auction given{};
  given.price = 104;
  given.matched = 1;
  ASSERT_EQ(0, ssevent_auction_from_block(bhp, t + 6, &given));
  EXPECT_EQ((std::vector<uint64_t>{104, 100, uint64_t(int64_t(-50)), kNone, 0, 104, 50}), fields(bhp->auction));
}

}  // namespace
