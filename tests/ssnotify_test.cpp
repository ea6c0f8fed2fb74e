// Change notification: registration tables (replace, remove, wild masks),
// recording and delivery through the two buffers, removal and re-adding from
// inside callbacks, global bits and the reset pass, holding delivery, and the
// full-entry rules (held, on the delivering thread, inside a callback, the io
// thread's wait and its abort). The Concurrency suite runs an io thread that
// records numbered events under the core lock against a user-interface thread
// that delivers every millisecond, and checks each delivery against what the
// io thread recorded since the previous one.
#include "ssnotify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lazyfree.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

// One callback call as the test saw it.
struct Call {
  std::string owner;
  std::string code;  // empty for a global change
  uint32_t mask;
  std::vector<uint32_t> kinds;
  uint64_t argument;
  uint32_t flags;
};

std::vector<Call> g_calls;

// Owners are named by C strings so a table can name them.
void record_call(const ss_change* c, void* owner, uint64_t argument, uint32_t flags) {
  Call call{static_cast<const char*>(owner), c->instrument ? c->instrument->code : "", c->mask, {}, argument, flags};
  for (uint32_t i = 0; i < c->count; i++) call.kinds.push_back(c->events[i]->kind);
  g_calls.push_back(call);
}

class Notify : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_EQ(0, start_terminal_model());
    asx = ssmodel_exchange(0);
    ASSERT_EQ(0, ssevent_init());
    ASSERT_EQ(0, ssnotify_init());
    bhp = ssmodel_add_stock(asx, "BHP");
    cba = ssmodel_add_stock(asx, "CBA");
    nab = ssmodel_add_stock(asx, "NAB");
    ASSERT_TRUE(bhp && cba && nab);
    bhp_i = bhp;
    cba_i = cba;
    nab_i = nab;
    g_calls.clear();
  }
  void TearDown() override {
    ssnotify_fini();
    ssmodel_fini();
    ssevent_fini();
  }
  // An event of a kind with its own payload, linked on the instrument.
  ss_event* event(instr* in, uint32_t kind, ss_time time = 1) {
    void* p = ssevent_new_payload(kind);
    if (p) *static_cast<ss_time*>(p) = time;
    return ssevent_add_event(in, kind, p);
  }
  ss_event* event_for(instr* in) { return event(in, kEvState); }
  std::vector<std::string> owners() const {
    std::vector<std::string> out;
    for (const Call& c : g_calls) out.push_back(c.owner + "@" + c.code);
    return out;
  }
  ss_exchange* asx = nullptr;
  ss_stock *bhp = nullptr, *cba = nullptr, *nab = nullptr;
  instr *bhp_i = nullptr, *cba_i = nullptr, *nab_i = nullptr;
};

// ---------------------------------------------------------------------------
// Registrations

char A[] = "A", B[] = "B", W[] = "W", W2[] = "W2";

struct Op {
  char kind;  // a: add on BHP, r: remove on BHP, w: add wild, x: remove wild
  char* owner;
  uint32_t mask;
  int rc;
};

TEST_F(Notify, RegistrationTable) {
  struct Row {
    const char* name;
    std::vector<Op> ops;
    uint32_t bits;
    std::vector<std::string> expect;  // owner@code, in call order
    uint32_t wild_mask;
  } rows[] = {
      {"one registration meets", {{'a', A, 0x1000, 0}}, 0x1000, {"A@BHP"}, 0},
      {"mask does not meet", {{'a', A, 0x1000, 0}}, 0x200, {}, 0},
      {"same owner replaces", {{'a', A, 0x1000, 0}, {'a', A, 0x200, 0}}, 0x1000, {}, 0},
      {"replaced mask is used", {{'a', A, 0x1000, 0}, {'a', A, 0x200, 0}}, 0x200, {"A@BHP"}, 0},
      {"order of adding", {{'a', B, 0x200, 0}, {'a', A, 0x200, 0}}, 0x200, {"B@BHP", "A@BHP"}, 0},
      {"remove one of two", {{'a', A, 0x200, 0}, {'a', B, 0x200, 0}, {'r', A, 0, 0}}, 0x200, {"B@BHP"}, 0},
      {"remove unknown owner", {{'a', A, 0x200, 0}, {'r', B, 0, -1}}, 0x200, {"A@BHP"}, 0},
      {"remove twice", {{'a', A, 0x200, 0}, {'r', A, 0, 0}, {'r', A, 0, -1}}, 0x200, {}, 0},
      {"wild hears any instrument", {{'w', W, 0x100, 0}}, 0x100, {"W@BHP"}, 0x100},
      {"wild after own", {{'w', W, 0x100, 0}, {'a', A, 0x100, 0}}, 0x100, {"A@BHP", "W@BHP"}, 0x100},
      {"wild widened", {{'w', W, 0x100, 0}, {'w', W, 0x1100, 0}}, 0x1000, {"W@BHP"}, 0x1100},
      {"wild narrowed", {{'w', W, 0x1100, 0}, {'w', W, 0x100, 0}}, 0x1000, {}, 0x100},
      {"wild union of two", {{'w', W, 0x100, 0}, {'w', W2, 0x1000, 0}}, 0x1000, {"W2@BHP"}, 0x1100},
      {"wild removed recomputes",
       {{'w', W, 0x100, 0}, {'w', W2, 0x1000, 0}, {'x', W2, 0, 0}},
       0x1000,
       {},
       0x100},
      {"remove unknown wild", {{'x', W, 0, -1}}, 0x100, {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(0, ssnotify_init());  // a fresh registration state per row
    g_calls.clear();
    for (const Op& op : row.ops) {
      int rc = 0;
      switch (op.kind) {
        case 'a': rc = ssnotify_add(bhp, op.mask, record_call, op.owner, 7, 9); break;
        case 'r': rc = ssnotify_remove(bhp, op.owner); break;
        case 'w': rc = ssnotify_add_wild(op.mask, record_call, op.owner, 7, 9); break;
        case 'x': rc = ssnotify_remove_wild(op.owner); break;
      }
      EXPECT_EQ(op.rc, rc) << op.kind << " " << op.owner;
    }
    EXPECT_EQ(row.wild_mask, ssnotify_wild_mask());
    ASSERT_EQ(0, ssnotify_record(bhp, row.bits, nullptr));
    ASSERT_EQ(0, ssnotify_deliver());
    EXPECT_EQ(row.expect, owners());
    for (const Call& c : g_calls) {
      EXPECT_EQ(row.bits, c.mask);
      EXPECT_EQ(7u, c.argument);
      EXPECT_EQ(9u, c.flags);
    }
  }
}

TEST_F(Notify, ReplacingKeepsOneRegistrationPerOwner) {
  ASSERT_EQ(0, ssnotify_add(bhp, 0x1, record_call, A, 1, 0));
  ASSERT_EQ(0, ssnotify_add(bhp, 0x2, record_call, A, 2, 0));
  ASSERT_EQ(0, ssnotify_add(bhp, 0x4, record_call, B, 3, 0));
  EXPECT_EQ(2u, bhp->notify.count);
  ASSERT_EQ(0, ssnotify_remove(bhp, A));
  ASSERT_EQ(0, ssnotify_remove(bhp, B));
  EXPECT_EQ(0u, bhp->notify.count);
  EXPECT_EQ(nullptr, bhp->notify.head);
  EXPECT_EQ(nullptr, bhp->notify.tail);
}

// ---------------------------------------------------------------------------
// Recording and delivery

TEST_F(Notify, EventsInOrderAndDepthBitsOnly) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  // Depth kinds 1 to 4 set their bit but are not listed; the rest are.
  for (uint32_t kind : {kEvDepthAdd, kEvState, kEvDepthAmend, kEvQuote, kEvDepthDelete, kEvDepthClear, kEvAuction})
    ASSERT_EQ(0, ssnotify_record(bhp, kind <= 4 ? kChangeDepth : kChangeQuote, event(bhp, kind)));
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeTrade, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(kChangeDepth | kChangeQuote | kChangeTrade, g_calls[0].mask);
  EXPECT_EQ((std::vector<uint32_t>{kEvState, kEvQuote, kEvAuction}), g_calls[0].kinds);
  // Delivered entries are gone: the next delivery calls nobody.
  g_calls.clear();
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(nullptr, bhp_i->change[0]);
  EXPECT_EQ(nullptr, bhp_i->change[1]);
}

TEST_F(Notify, DepthEventAloneSetsItsBitWithNoEvent) {
  ASSERT_EQ(0, ssnotify_add(bhp, kChangeDepth, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeDepth, event(bhp, kEvDepthAdd)));
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(kChangeDepth, g_calls[0].mask);
  EXPECT_TRUE(g_calls[0].kinds.empty());
}

TEST_F(Notify, EntriesInOrderTakenAcrossBuffersAndGrowth) {
  // More instruments than one block of entries, recorded in a shuffled order
  // over three deliveries: each delivery calls them in the order recorded.
  std::vector<ss_stock*> stocks;
  for (int i = 0; i < 300; i++) {
    char code[8];
    snprintf(code, sizeof code, "S%03d", i);
    stocks.push_back(ssmodel_add_stock(asx, code));
  }
  ASSERT_EQ(0, ssnotify_add_wild(kChangeQuote, record_call, W, 0, 0));
  std::mt19937 rng(3);
  for (int round = 0; round < 3; round++) {
    std::shuffle(stocks.begin(), stocks.end(), rng);
    std::vector<std::string> want;
    for (ss_stock* s : stocks) {
      ASSERT_EQ(0, ssnotify_record(s, kChangeQuote, event(s, kEvQuote)));
      ASSERT_EQ(0, ssnotify_record(s, kChangeQuote, event(s, kEvQuote)));
      want.push_back(std::string("W@") + s->code);
    }
    g_calls.clear();
    ASSERT_EQ(0, ssnotify_deliver());
    EXPECT_EQ(want, owners());
    for (const Call& c : g_calls) EXPECT_EQ(2u, c.kinds.size());
  }
}

TEST_F(Notify, NothingRecordedWhenOffPausedMutedOrUnwatched) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  struct Row {
    const char* name;
    void (*before)(instr*);
    void (*after)(instr*);
  } rows[] = {
      {"paused", [](instr*) { ssnotify_set_paused(1); }, [](instr*) { ssnotify_set_paused(0); }},
      {"disabled", [](instr*) { ssnotify_set_enabled(0); }, [](instr*) { ssnotify_set_enabled(1); }},
      {"muted", [](instr* in) { ssnotify_mark_instr(in, 0); }, [](instr* in) { ssnotify_mark_instr(in, 1); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_calls.clear();
    row.before(bhp);
    EXPECT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
    row.after(bhp);
    ASSERT_EQ(0, ssnotify_deliver());
    EXPECT_TRUE(g_calls.empty());
    // Back on, it records again.
    EXPECT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
    ASSERT_EQ(0, ssnotify_deliver());
    EXPECT_EQ(1u, g_calls.size());
  }
  // Nobody watches CBA: no entry is taken.
  EXPECT_EQ(0, ssnotify_record(cba, kChangeQuote, nullptr));
  EXPECT_EQ(nullptr, cba_i->change[0]);
  EXPECT_EQ(nullptr, cba_i->change[1]);
  // A null instrument is refused with a log line but not as a failure.
  LogCapture log;
  EXPECT_EQ(0, ssnotify_record(nullptr, kChangeQuote, nullptr));
  EXPECT_EQ(1, log.count("instr is NULL"));
}

TEST_F(Notify, DisableIsForGood) {
  ssnotify_mark_instr(bhp, 0);
  ssnotify_disable();
  ssnotify_set_enabled(1);
  ssnotify_mark_instr(bhp, 1);
  EXPECT_NE(0u, bhp->flags & kInMuted);
  ASSERT_EQ(0, ssnotify_add(cba, ~0u, record_call, A, 0, 0));
  EXPECT_EQ(0, ssnotify_record(cba, kChangeQuote, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(g_calls.empty());
}

// ---------------------------------------------------------------------------
// Changes to registrations from inside callbacks

// What one callback does when it is called (once).
struct Action {
  char kind;  // r: remove on instrument, x: remove wild, a: add on instrument, d: deliver, h: hold
  instr* in;
  char* owner;
  int rc = 99;
  bool done = false;
  int in_delivery = -1;
};
Action g_action;

void acting_call(const ss_change* c, void* owner, uint64_t argument, uint32_t flags) {
  record_call(c, owner, argument, flags);
  Action& a = g_action;
  a.in_delivery = ssnotify_in_delivery();
  if (a.done) return;
  a.done = true;
  switch (a.kind) {
    case 'r': a.rc = ssnotify_remove(a.in, a.owner); break;
    case 'x': a.rc = ssnotify_remove_wild(a.owner); break;
    case 'a': a.rc = ssnotify_add(a.in, ~0u, record_call, a.owner, 0, 0); break;
    case 'R':  // remove and add back at once
      a.rc = ssnotify_remove(a.in, a.owner);
      if (a.rc == 0) a.rc = ssnotify_add(a.in, ~0u, acting_call, a.owner, 0, 0);
      break;
    case 'd': a.rc = ssnotify_deliver(); break;
  }
}

TEST_F(Notify, PostponedRemovalTable) {
  // Registrations: A (acting) and B on BHP, B on CBA, W wild. Changes are
  // recorded on BHP, then CBA, then NAB, and delivered once; then once more.
  struct Row {
    const char* name;
    char kind;
    instr* Notify::*in;
    char* owner;
    int rc;
    std::vector<std::string> first;
    std::vector<std::string> second;
  } rows[] = {
      {"remove a later one on the same instrument", 'r', &Notify::bhp_i, B, 0,
       {"A@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}, {"A@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}},
      {"remove on an instrument still to come", 'r', &Notify::cba_i, B, 0,
       {"A@BHP", "B@BHP", "W@BHP", "W@CBA", "W@NAB"}, {"A@BHP", "B@BHP", "W@BHP", "W@CBA", "W@NAB"}},
      {"remove itself", 'r', &Notify::bhp_i, A, 0,
       {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}, {"B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}},
      {"remove the wild one", 'x', nullptr, W, 0,
       {"A@BHP", "B@BHP", "B@CBA"}, {"A@BHP", "B@BHP", "B@CBA"}},
      {"remove and add back", 'R', &Notify::bhp_i, A, 0,
       {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"},
       {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}},
      {"remove an owner that has none", 'r', &Notify::nab_i, B, -1,
       {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"},
       {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}},
      {"an added one waits for the next delivery", 'a', &Notify::bhp_i, W2,
       0, {"A@BHP", "B@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"},
       {"A@BHP", "B@BHP", "W2@BHP", "W@BHP", "B@CBA", "W@CBA", "W@NAB"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(0, ssnotify_init());
    ASSERT_EQ(0, ssnotify_add(bhp, ~0u, acting_call, A, 0, 0));
    ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, B, 0, 0));
    ASSERT_EQ(0, ssnotify_add(cba, ~0u, record_call, B, 0, 0));
    ASSERT_EQ(0, ssnotify_add_wild(kChangeQuote, record_call, W, 0, 0));
    g_action = Action{row.kind, row.in ? this->*row.in : nullptr, row.owner};
    for (int pass = 0; pass < 2; pass++) {
      for (instr* in : {bhp_i, cba_i, nab_i}) ASSERT_EQ(0, ssnotify_record(in, kChangeQuote, nullptr));
      g_calls.clear();
      ASSERT_EQ(0, ssnotify_deliver());
      EXPECT_EQ(pass == 0 ? row.first : row.second, owners()) << "pass " << pass;
    }
    EXPECT_EQ(row.rc, g_action.rc);
    EXPECT_EQ(1, g_action.in_delivery);
  }
  EXPECT_EQ(0, ssnotify_in_delivery());
}

TEST_F(Notify, CallbackCannotDeliver) {
  LogCapture log;
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, acting_call, A, 0, 0));
  g_action = Action{'d', nullptr, nullptr};
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(-1, g_action.rc);
  EXPECT_EQ(1, log.count("can't deliver from inside a change callback"));
}

// A callback that records a change on the instrument it hears of: the change
// goes to the next delivery.
void recording_call(const ss_change* c, void* owner, uint64_t argument, uint32_t flags) {
  record_call(c, owner, argument, flags);
  if (c->mask & kChangeQuote) {
    EXPECT_EQ(0, ssnotify_record(c->instrument, kChangeTrade, nullptr));
  }
}

TEST_F(Notify, ChangeRecordedInCallbackGoesToNextDelivery) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, recording_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(2u, g_calls.size());
  EXPECT_EQ(kChangeQuote, g_calls[0].mask);
  EXPECT_EQ(kChangeTrade, g_calls[1].mask);
}

// ---------------------------------------------------------------------------
// Global changes

TEST_F(Notify, GlobalBitsGoToMeetingWildRegistrations) {
  ASSERT_EQ(0, ssnotify_add_wild(kGlobalOnline | kGlobalNotices, record_call, W, 0, 0));
  ASSERT_EQ(0, ssnotify_add_wild(kGlobalServerError, record_call, W2, 0, 0));
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u & ~kGlobalReset, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_record_global(kGlobalOnline));
  ASSERT_EQ(0, ssnotify_record_global(kGlobalMarked));
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ("W", g_calls[0].owner);
  EXPECT_EQ("", g_calls[0].code);
  EXPECT_EQ(kGlobalOnline | kGlobalMarked, g_calls[0].mask);
  // The bits were cleared by the delivery.
  g_calls.clear();
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(Notify, ResetCallsEveryInstrumentRegistration) {
  ss_exchange* nzx = ssmodel_exchange(1);
  ss_issuer* issuer = ssmodel_get_issuer(asx, "BHP");
  ss_index* xjo = ssmodel_get_index(asx, "XJO");
  ss_stock* air = ssmodel_get_stock(nzx, "AIR");
  ASSERT_TRUE(issuer && xjo && air);
  // None of these masks has bit 0x2.
  ASSERT_EQ(0, ssnotify_add(xjo, kChangeIndexTick, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_add(air, kChangeQuote, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_add(issuer, kChangeNews, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_add(nab, kChangeQuote, record_call, B, 0, 0));
  ASSERT_EQ(0, ssnotify_add(bhp, kChangeQuote, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_add(bhp, kChangeQuote, record_call, B, 0, 0));
  ASSERT_EQ(0, ssnotify_add_wild(kGlobalReset, record_call, W, 0, 0));
  ASSERT_EQ(0, ssnotify_record_global(kGlobalReset));
  ASSERT_EQ(0, ssnotify_deliver());
  // The wild change first, then per exchange stocks, issuers, indices in code order.
  EXPECT_EQ((std::vector<std::string>{"W@", "A@BHP", "B@BHP", "B@NAB", "A@BHP", "A@XJO", "A@AIR"}), owners());
  for (const Call& c : g_calls) {
    EXPECT_EQ(kGlobalReset, c.mask);
    EXPECT_TRUE(c.kinds.empty());
  }
}

// ---------------------------------------------------------------------------
// Holding delivery

TEST_F(Notify, HoldDefersDeliveryAndCountsNested) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  ssnotify_hold(1);
  ssnotify_hold(1);
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeQuote, event(bhp, kEvQuote)));
  ASSERT_EQ(0, ssnotify_deliver());
  ssnotify_hold(0);
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeTrade, event(bhp, kEvState)));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_TRUE(g_calls.empty());
  ssnotify_hold(0);
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(kChangeQuote | kChangeTrade, g_calls[0].mask);
  EXPECT_EQ((std::vector<uint32_t>{kEvQuote, kEvState}), g_calls[0].kinds);

  LogCapture log;
  ssnotify_hold(0);
  EXPECT_EQ(1, log.count("prevention underflow!"));
  // The count stayed at 0: delivery is not held.
  g_calls.clear();
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(1u, g_calls.size());
}

// ---------------------------------------------------------------------------
// A full change entry

void fill_entry(Notify* t, instr* in) {
  for (int i = 0; i < kChangeEvents; i++) ASSERT_EQ(0, ssnotify_record(in, kChangeState, t->event_for(in)));
}

TEST_F(Notify, FullEntryWhileHeldFails) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  fill_entry(this, bhp);
  ssnotify_hold(1);
  LogCapture log;
  EXPECT_EQ(-1, ssnotify_record(bhp, kChangeState, event(bhp, kEvState)));
  EXPECT_EQ(1, log.count("can't record BHP event and locked"));
  // A change without an event still fits.
  EXPECT_EQ(0, ssnotify_record(bhp, kChangeTrade, nullptr));
  ssnotify_hold(0);
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(1u, g_calls.size());
  EXPECT_EQ(static_cast<size_t>(kChangeEvents), g_calls[0].kinds.size());
  EXPECT_EQ(kChangeState | kChangeTrade, g_calls[0].mask);
}

TEST_F(Notify, FullEntryOnTheDeliveringThreadFailsAtOnce) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_deliver());  // this thread is now the delivering one
  fill_entry(this, bhp);
  LogCapture log;
  EXPECT_EQ(-1, ssnotify_record(bhp, kChangeState, event(bhp, kEvState)));
  EXPECT_EQ(1, log.count("can't record BHP event on the delivering thread"));
  EXPECT_EQ(0, log.count("pausing"));
}

// Fills the entry of the instrument it hears of and then records one more.
int g_overflow_rc = 99;
Notify* g_fixture = nullptr;
void overflowing_call(const ss_change* c, void* owner, uint64_t argument, uint32_t flags) {
  record_call(c, owner, argument, flags);
  if (g_overflow_rc != 99) return;
  for (int i = 0; i < kChangeEvents; i++) ssnotify_record(c->instrument, kChangeState, g_fixture->event_for(c->instrument));
  g_overflow_rc = ssnotify_record(c->instrument, kChangeState, g_fixture->event_for(c->instrument));
}

TEST_F(Notify, FullEntryInsideCallbackFailsAtOnce) {
  g_fixture = this;
  g_overflow_rc = 99;
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, overflowing_call, A, 0, 0));
  ASSERT_EQ(0, ssnotify_record(bhp, kChangeQuote, nullptr));
  LogCapture log;
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(-1, g_overflow_rc);
  EXPECT_EQ(1, log.count("on the delivering thread"));
  // The 1024 recorded inside the callback arrive with the next delivery.
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(2u, g_calls.size());
  EXPECT_EQ(static_cast<size_t>(kChangeEvents), g_calls[1].kinds.size());
}

TEST_F(Notify, FullEntryMakesTheIoThreadWaitForADelivery) {
  ASSERT_EQ(0, ssnotify_add(bhp, ~0u, record_call, A, 0, 0));
  fill_entry(this, bhp);
  ss_event* extra = event(bhp, kEvQuote);
  LogCapture log;
  std::atomic<int> rc{99};
  std::thread io([&] { rc = ssnotify_record(bhp, kChangeQuote, extra); });
  // Wait until the io thread says it pauses, then deliver.
  for (int i = 0; i < 2000 && log.count("can't record BHP event, pausing") == 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(99, rc.load());
  ASSERT_EQ(0, ssnotify_deliver());
  io.join();
  EXPECT_EQ(0, rc.load());
  ASSERT_EQ(0, ssnotify_deliver());
  ASSERT_EQ(2u, g_calls.size());
  EXPECT_EQ(static_cast<size_t>(kChangeEvents), g_calls[0].kinds.size());
  EXPECT_EQ(kChangeState | kChangeQuote, g_calls[0].mask);
  EXPECT_EQ((std::vector<uint32_t>{kEvQuote}), g_calls[1].kinds);
}

TEST_F(Notify, FullEntryWaitGivesUpOnAbort) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  // Aborting is for good in the client, so it runs in a child process.
  EXPECT_EXIT(
      {
        ssnotify_add(bhp, ~0u, record_call, A, 0, 0);
        fill_entry(this, bhp);
        ss_event* extra = event(bhp, kEvQuote);
        std::atomic<int> rc{99};
        std::thread io([&] { rc = ssnotify_record(bhp, kChangeQuote, extra); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ssclient_request_abort();
        io.join();
        exit(rc.load() == -1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

// ---------------------------------------------------------------------------
// Two threads

// What the io thread recorded since the last delivery (written by the io
// thread, read and cleared by the user-interface thread, both under the core
// lock) and what the callbacks of the current delivery saw.
struct Stress {
  static constexpr int kInstruments = 24;
  static constexpr uint32_t kBitOnly = kChangeQueues;  // recorded without an event
  std::vector<instr*> ins;
  std::vector<std::vector<uint32_t>> expected;
  std::vector<uint8_t> bit_only;
  std::vector<uint8_t> depth;
  std::vector<uint32_t> next_seq;
  uint64_t recorded = 0;

  std::vector<std::vector<uint32_t>> delivered;
  std::vector<uint32_t> mask;
  std::vector<uint64_t> own_events;
  std::vector<uint64_t> wild_events;
  uint64_t delivered_total = 0;
  std::thread::id ui;
  int wrong_thread = 0;
  int bad_kind = 0;
};
Stress* g_stress = nullptr;

void stress_wild(const ss_change* c, void*, uint64_t, uint32_t) {
  Stress& s = *g_stress;
  if (std::this_thread::get_id() != s.ui) s.wrong_thread++;
  if (!c->instrument) return;
  int i = c->instrument->id;
  s.mask[i] |= c->mask;
  for (uint32_t k = 0; k < c->count; k++) {
    const ss_event* ev = c->events[k];
    if (ev->kind != kEvState && ev->kind != kEvAlert) s.bad_kind++;
    s.delivered[i].push_back(ssevent_event_time(ev));
  }
  s.wild_events[i] += c->count;
  s.delivered_total += c->count;
}

void stress_own(const ss_change* c, void*, uint64_t, uint32_t) {
  Stress& s = *g_stress;
  if (std::this_thread::get_id() != s.ui) s.wrong_thread++;
  s.own_events[c->instrument->id] += c->count;
}

class NotifyConcurrency : public Notify {};

TEST_F(NotifyConcurrency, EveryEventDeliveredOnceInOrderWithItsBits) {
  ssclient_enable_locking();
  lazyfree_set_delay(0);  // trimmed events are freed at the next tick
  Stress s;
  g_stress = &s;
  s.ui = std::this_thread::get_id();
  for (int i = 0; i < Stress::kInstruments; i++) {
    char code[8];
    snprintf(code, sizeof code, "T%02d", i);
    instr* in = ssmodel_add_stock(asx, code);
    ASSERT_NE(nullptr, in);
    in->id = i;
    s.ins.push_back(in);
    if (i % 2 == 0) {
      ASSERT_EQ(0, ssnotify_add(in, ~0u, stress_own, &s, 0, 0));
    }
  }
  ASSERT_EQ(0, ssnotify_add_wild(~0u, stress_wild, &s, 0, 0));
  s.expected.assign(Stress::kInstruments, {});
  s.delivered.assign(Stress::kInstruments, {});
  s.bit_only.assign(Stress::kInstruments, 0);
  s.depth.assign(Stress::kInstruments, 0);
  s.mask.assign(Stress::kInstruments, 0);
  s.own_events.assign(Stress::kInstruments, 0);
  s.wild_events.assign(Stress::kInstruments, 0);
  s.next_seq.assign(Stress::kInstruments, 1);
  LogCapture log;

  constexpr int kBatches = 2500;
  std::atomic<bool> io_done{false};
  std::atomic<int> io_failures{0};
  std::thread io([&] {
    std::mt19937 rng(11);
    // One storable event: a state change or an alert, stamped with its
    // instrument's next number.
    auto record_one = [&](int i) {
      instr* in = s.ins[i];
      uint32_t seq = s.next_seq[i]++;
      int rc;
      if (rng() % 16 == 0) {
        rc = ssevent_record_alert(in, nullptr, seq, 0x1, nullptr);
      } else {
        auto* p = static_cast<ss_ev_state*>(ssevent_new_payload(kEvState));
        p->time = seq;
        rc = ssnotify_record(in, kChangeState, ssevent_add_event(in, kEvState, p));
      }
      if (rc != 0) io_failures++;
      s.expected[i].push_back(seq);
      s.recorded++;
    };
    for (int b = 0; b < kBatches; b++) {
      ssclient_io_lock();
      if (b % 250 == 125) {
        // More than one entry holds: the io thread must wait for a delivery.
        int i = static_cast<int>(rng() % Stress::kInstruments);
        for (int k = 0; k < kChangeEvents + 100; k++) record_one(i);
      }
      int n = 1 + static_cast<int>(rng() % 48);
      for (int k = 0; k < n; k++) {
        int i = static_cast<int>(rng() % Stress::kInstruments);
        switch (rng() % 8) {
          case 0:
            if (ssnotify_record(s.ins[i], Stress::kBitOnly, nullptr) != 0) io_failures++;
            s.bit_only[i] = 1;
            break;
          case 1: {
            auto* p = static_cast<ss_ev_depth_add*>(ssevent_new_payload(kEvDepthAdd));
            if (ssnotify_record(s.ins[i], kChangeDepth, ssevent_add_event(s.ins[i], kEvDepthAdd, p)) != 0)
              io_failures++;
            s.depth[i] = 1;
            break;
          }
          default:
            record_one(i);
        }
      }
      if (b % 20 == 0) {
        ssevent_trim_due();
        lazyfree_tick();
      }
      ssclient_io_unlock();
      std::this_thread::yield();
    }
    io_done = true;
  });

  int deliveries = 0, mismatches = 0;
  for (bool last = false; !last;) {
    last = io_done.load();
    ssclient_block();
    ASSERT_EQ(0, ssnotify_deliver());
    deliveries++;
    for (int i = 0; i < Stress::kInstruments; i++) {
      if (s.delivered[i] != s.expected[i]) mismatches++;
      if (((s.mask[i] & Stress::kBitOnly) != 0) != (s.bit_only[i] != 0)) mismatches++;
      if (((s.mask[i] & kChangeDepth) != 0) != (s.depth[i] != 0)) mismatches++;
      s.delivered[i].clear();
      s.expected[i].clear();
      s.mask[i] = 0;
      s.bit_only[i] = s.depth[i] = 0;
    }
    ssclient_unblock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  io.join();
  lazyfree_set_delay(10);

  EXPECT_EQ(0, mismatches);
  EXPECT_EQ(0, io_failures.load());
  EXPECT_EQ(0, s.wrong_thread);
  EXPECT_EQ(0, s.bad_kind);
  EXPECT_EQ(s.recorded, s.delivered_total);
  EXPECT_GT(deliveries, 10);
  EXPECT_GT(log.count("event, pausing"), 0);  // the full-entry wait ran
  // Instruments with their own registration heard every event the wild one
  // did; trimming ran while changes were pending.
  uint64_t listed = 0;
  for (int i = 0; i < Stress::kInstruments; i++) {
    if (i % 2 == 0) {
      EXPECT_EQ(s.wild_events[i], s.own_events[i]) << i;
    }
    listed += s.ins[i]->events.count;
  }
  EXPECT_LT(listed, s.recorded / 2);
  g_stress = nullptr;
}
