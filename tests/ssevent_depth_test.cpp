// Depth events: a seeded differential run of summaries, adds, amends,
// deletes, top changes and clears against a reference book kept as vectors,
// comparing the book, the best prices, every event payload and every alert
// code after each step, for ordinary, out-of-order and reversed-direction
// depth; then known-answer cases for the alert table, the memo, the queue
// disagreements and the requests they make of the io thread, the change-top
// volumes and the tick arithmetic.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lazyfree.h"
#include "log.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssclient_int.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

std::vector<uint32_t> g_alerts;
void on_alert(instr*, ss_time, uint32_t code, void*) { g_alerts.push_back(code); }

// Standard error goes to a file while a guard lives: the queue dumps of the
// failing operations are wanted by operators, not in the test output.
class StderrTo {
 public:
  explicit StderrTo(FILE* f) : saved_(dup(2)) {
    fflush(stderr);
    dup2(fileno(f), 2);
  }
  ~StderrTo() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_;
};

// An event flattened for comparison: its kind and its payload's fields.
struct Ev {
  uint32_t kind;
  std::vector<uint64_t> f;
  bool operator==(const Ev& o) const { return kind == o.kind && f == o.f; }
};

void PrintTo(const Ev& e, std::ostream* os) {
  *os << "{" << e.kind << ":";
  for (uint64_t v : e.f) *os << " " << v;
  *os << "}";
}

Ev flatten(const ss_event* e) {
  switch (e->kind) {
    case kEvDepthAdd: {
      auto* p = static_cast<const ss_ev_depth_add*>(e->payload);
      return {e->kind, {p->time, p->side, p->position, p->count, p->price, p->volume, uint64_t(int64_t(p->ahead))}};
    }
    case kEvDepthAmend: {
      auto* p = static_cast<const ss_ev_depth_amend*>(e->payload);
      return {e->kind, {p->time, p->side, p->position, p->price, p->volume, p->old_volume}};
    }
    case kEvDepthDelete: {
      auto* p = static_cast<const ss_ev_depth_delete*>(e->payload);
      return {e->kind, {p->time, p->side, p->position, p->price, p->volume}};
    }
    case kEvDepthClear: {
      auto* p = static_cast<const ss_ev_depth_clear*>(e->payload);
      return {e->kind, {p->time, p->sides}};
    }
    case kEvTopOfBook: {
      auto* p = static_cast<const ss_ev_top*>(e->payload);
      return {e->kind, {p->time, p->side, p->bid, p->bid_volume, p->offer, p->offer_volume}};
    }
    default:
      return {e->kind, {}};
  }
}

// The events listed after `mark` (from the oldest when null), oldest first.
std::vector<Ev> events_after(const instr* in, const ss_event* mark) {
  std::vector<Ev> out;
  for (const ss_event* e = mark ? mark->newer : in->events.oldest; e; e = e->newer) out.push_back(flatten(e));
  return out;
}

// ---------------------------------------------------------------------------
// The reference book: levels of orders in plain vectors.

struct RefLevel {
  uint32_t price;
  uint32_t count;
  uint64_t volume;
  std::vector<uint64_t> orders;  // empty in out-of-order depth
  bool operator==(const RefLevel& o) const {
    return price == o.price && count == o.count && volume == o.volume && orders == o.orders;
  }
};

void PrintTo(const RefLevel& l, std::ostream* os) {
  *os << l.count << "@" << l.price << "=" << l.volume << "[";
  for (uint64_t v : l.orders) *os << " " << v;
  *os << " ]";
}

std::vector<RefLevel> side_of(const ss_stock* s, int side) {
  std::vector<RefLevel> out;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    RefLevel r{l->price, l->count, l->volume, {}};
    for (const ss_depth_order* o = l->orders; o; o = o->next) r.orders.push_back(o->volume);
    out.push_back(r);
  }
  return out;
}

struct Outcome {
  int rc = 0;
  std::vector<Ev> events;
  std::vector<uint32_t> alerts;
};

uint32_t add_code(int side, uint32_t old_best, uint32_t now, uint64_t volume) {
  if (side == 0) return (old_best == 0 ? 0x4A0 : now > old_best ? 0x5A0 : 0x400) | (volume ? 0 : 0x800);
  return (old_best == 0 ? 0x9020 : now < old_best ? 0xD020 : 0x8000) | (volume ? 0 : 0x10000);
}

uint32_t delete_code(int side, uint32_t old_best, uint32_t now) {
  if (side == 0) return old_best == 0 ? 0x4A0 : now < old_best ? 0x6A0 : 0x400;
  return old_best == 0 ? 0x9020 : now <= old_best ? 0x8000 : 0xB020;
}

struct RefBook {
  bool summary = false;   // out-of-order depth: positions count levels
  bool reversed = false;  // bids ascending and offers descending
  std::vector<RefLevel> side[2];
  uint64_t last_amended[2] = {0, 0};

  bool better(int s, uint32_t a, uint32_t b) const { return ((s == 0) != reversed) ? a > b : a < b; }
  uint32_t best(int s) const { return side[s].empty() ? 0 : side[s][0].price; }
  uint32_t span(const RefLevel& l) const { return summary ? 1 : l.count; }
  uint32_t positions(int s) const {
    uint32_t n = 0;
    for (const RefLevel& l : side[s]) n += span(l);
    return n;
  }
  // The level holding position p and p's place in it; false past the end.
  bool find(int s, uint32_t p, size_t* level, uint32_t* k) const {
    uint32_t start = 1;
    for (size_t i = 0; i < side[s].size(); i++) {
      uint32_t n = span(side[s][i]);
      if (p >= start && p < start + n) {
        *level = i;
        *k = p - start;
        return true;
      }
      start += n;
    }
    return false;
  }
  Ev top(ss_time t, int s) const {
    return {kEvTopOfBook,
            {t, uint64_t(s), best(0), side[0].empty() ? 0 : side[0][0].volume, best(1),
             side[1].empty() ? 0 : side[1][0].volume}};
  }

  void do_summary(Outcome& o, ss_time t, int s, uint32_t price, uint64_t volume, uint32_t count, bool compound) {
    uint32_t old_best = best(s);
    std::vector<RefLevel>& L = side[s];
    size_t i = 0;
    uint32_t pos = 1;
    while (i < L.size() && better(s, L[i].price, price)) pos += span(L[i++]);
    if (i < L.size() && L[i].price == price) {
      if (summary) {
        L[i].count = count;
        L[i].volume = volume;
      } else {
        pos += L[i].count;
        L[i].orders.push_back(volume);
        L[i].count++;
        L[i].volume += volume;
      }
    } else {
      L.insert(L.begin() + long(i),
               summary ? RefLevel{price, count, volume, {}} : RefLevel{price, 1, volume, {volume}});
    }
    o.events.push_back({kEvDepthAdd, {t, uint64_t(s), pos, count, price, volume, uint64_t(int64_t(-1))}});
    uint32_t now = best(s);
    if ((now != old_best || old_best == 0) && !compound) o.events.push_back(top(t, s));
    o.alerts.push_back(add_code(s, old_best, now, volume));
  }

  Outcome summary_op(ss_time t, int s, uint32_t price, uint64_t volume, uint32_t count) {
    Outcome o;
    do_summary(o, t, s, price, volume, count, false);
    return o;
  }

  Outcome add(ss_time t, int s, uint32_t price, uint64_t volume, uint32_t p) {
    Outcome o;
    if (summary) return {-1, {}, {}};
    std::vector<RefLevel>& L = side[s];
    uint32_t old_best = best(s);
    uint32_t n = positions(s);
    int64_t ahead = -1;
    size_t i;
    uint32_t k;
    if (L.empty()) {
      if (p != 1) return {-1, {}, {}};
      L.push_back({price, 1, volume, {volume}});
      ahead = 0;
    } else if (p == n + 1) {
      RefLevel& last = L.back();
      if (last.price == price) {
        ahead = int64_t(last.orders.size());
        last.orders.push_back(volume);
        last.count++;
        last.volume += volume;
      } else if (better(s, last.price, price)) {
        L.push_back({price, 1, volume, {volume}});
        ahead = 0;
      } else {
        return {-1, {}, {}};
      }
    } else if (find(s, p, &i, &k)) {
      if (L[i].price == price) {
        L[i].orders.insert(L[i].orders.begin() + k, volume);
        L[i].count++;
        L[i].volume += volume;
        ahead = k;
      } else if (k == 0 && i > 0 && L[i - 1].price == price) {
        ahead = int64_t(L[i - 1].orders.size());
        L[i - 1].orders.push_back(volume);
        L[i - 1].count++;
        L[i - 1].volume += volume;
      } else if (k == 0 && better(s, price, L[i].price) && (i == 0 || better(s, L[i - 1].price, price))) {
        L.insert(L.begin() + long(i), RefLevel{price, 1, volume, {volume}});
        ahead = 0;
      } else {
        return {-1, {}, {}};
      }
    } else {
      return {-1, {}, {}};
    }
    o.events.push_back({kEvDepthAdd, {t, uint64_t(s), p, 1, price, volume, uint64_t(ahead)}});
    uint32_t now = best(s);
    if (now != old_best || old_best == 0) o.events.push_back(top(t, s));
    o.alerts.push_back(add_code(s, old_best, now, volume));
    return o;
  }

  Outcome amend(ss_time t, int s, uint32_t p, uint64_t volume) {
    size_t i;
    uint32_t k;
    if (!find(s, p, &i, &k)) return {-1, {}, {}};
    RefLevel& l = side[s][i];
    uint64_t old;
    if (summary) {
      old = l.volume;
      l.volume = volume;
    } else {
      old = l.orders[k];
      l.volume += volume - old;
      l.orders[k] = volume;
    }
    last_amended[s] = volume;
    return {0, {{kEvDepthAmend, {t, uint64_t(s), p, l.price, volume, old}}}, {}};
  }

  int do_delete(Outcome& o, ss_time t, int s, uint32_t p, bool compound) {
    uint32_t old_best = best(s);
    size_t i;
    uint32_t k;
    if (!find(s, p, &i, &k)) return -1;
    std::vector<RefLevel>& L = side[s];
    uint32_t price = L[i].price;
    uint64_t gone;
    if (summary) {
      gone = L[i].volume;
      L.erase(L.begin() + long(i));
    } else {
      gone = L[i].orders[k];
      L[i].orders.erase(L[i].orders.begin() + k);
      L[i].count--;
      L[i].volume -= gone;
      if (!L[i].count) L.erase(L.begin() + long(i));
    }
    o.events.push_back({kEvDepthDelete, {t, uint64_t(s), p, price, gone}});
    uint32_t now = best(s);
    if (p == 1 && now != old_best && !compound) o.events.push_back(top(t, s));
    o.alerts.push_back(delete_code(s, old_best, now));
    return 0;
  }

  Outcome remove(ss_time t, int s, uint32_t p) {
    Outcome o;
    o.rc = do_delete(o, t, s, p, false);
    return o;
  }

  Outcome change_top(ss_time t, int s, uint32_t price, uint64_t volume) {
    Outcome o;
    if (side[s].empty()) return {-1, {}, {}};
    const RefLevel& head = side[s][0];
    uint32_t count = 1;
    if (price == kNoPrice) price = head.price;
    if (volume == kNoVolume) {
      volume = summary ? head.volume : head.orders[0];
      if (summary) count = head.count;
    }
    uint32_t noted = best(s);
    do_delete(o, t, s, 1, true);
    do_summary(o, t, s, price, volume, count, true);
    if (best(s) != noted) o.events.push_back(top(t, s));
    return o;
  }

  Outcome delete_top(ss_time t, int32_t bids, int32_t offers) {
    Outcome o;
    const int32_t n[2] = {bids, offers};
    for (int s = 0; s < 2; s++) {
      if (n[s] < 1) continue;
      uint32_t noted = best(s);
      for (int32_t i = 0; i < n[s]; i++) {
        if (side[s].empty()) {
          o.rc = -1;
          return o;
        }
        do_delete(o, t, s, 1, true);
      }
      if (best(s) != noted) o.events.push_back(top(t, s));
    }
    return o;
  }

  Outcome clear(ss_time t, int sides) {
    bool named[2] = {sides != 1, sides != 0};
    if ((!named[0] || side[0].empty()) && (!named[1] || side[1].empty())) return {};
    for (int s = 0; s < 2; s++)
      if (named[s]) side[s].clear();
    return {0, {{kEvDepthClear, {t, uint64_t(sides)}}}, {}};
  }
};

// ---------------------------------------------------------------------------

class Depth : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();  // an empty private list and fresh partial-request counts
    ASSERT_EQ(0, start_terminal_model());
    lazyfree_set_delay(10);
    g_alerts.clear();
    ssevent_set_alert_hook(on_alert);
    bhp = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
    ASSERT_NE(nullptr, bhp);
  }
  void TearDown() override {
    ssevent_set_alert_hook(nullptr);
    ssmodel_fini();
    ssclient_private_clear();
  }
  static ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 10, 2, 2014); }
  void run_deferred() {
    g_now_ms += 60000;
    lazyfree_tick();
  }
  // The kinds of the io thread's requests queued so far.
  static std::vector<uint32_t> requests() {
    std::vector<uint32_t> out;
    for (int32_t i = 0; i < ssclient_private_count(); i++) out.push_back(ssclient_private_entry(i)->kind);
    return out;
  }
  // Builds a side of ordinary depth from (price, volumes) with summaries.
  void build(ss_stock* s, int side, const std::vector<std::pair<uint32_t, std::vector<uint64_t>>>& levels) {
    for (const auto& [price, orders] : levels)
      for (uint64_t v : orders) ASSERT_EQ(0, ssevent_apply_depth_summary(s, at(9, 0, 0), side, price, v, 1, nullptr));
  }
  ss_stock* bhp = nullptr;
};

// Structural invariants of the live book, independent of the reference.
void expect_sound(const ss_stock* s, bool summary, bool reversed) {
  for (int side = 0; side < 2; side++) {
    const ss_depth_level* first = s->levels[side];
    EXPECT_EQ(first ? first->price : 0u, side ? s->offer : s->bid) << "side " << side;
    for (const ss_depth_level* l = first; l; l = l->next) {
      if (!summary) {
        uint32_t n = 0;
        uint64_t sum = 0;
        for (const ss_depth_order* o = l->orders; o; o = o->next, n++) sum += o->volume;
        EXPECT_EQ(l->count, n) << "count of level " << l->price;
        EXPECT_EQ(l->volume, sum) << "volume of level " << l->price;
      } else {
        EXPECT_EQ(nullptr, l->orders);
      }
      if (l->next) {
        bool up = (side == 0) != reversed;
        EXPECT_TRUE(up ? l->price > l->next->price : l->price < l->next->price)
            << "side " << side << ": " << l->price << " then " << l->next->price;
      }
    }
  }
}

struct Kind {
  const char* name;
  int exchange;
  const char* code;
  bool summary;
  bool reversed;
  // Prices the run draws from: more than the depth events index per side
  // makes most changes land past the index and move levels in and out of it.
  uint32_t prices = 12;
  uint32_t add_share = 20;  // in percent, of the adds at a position
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

class DepthDifferential : public Depth, public ::testing::WithParamInterface<Kind> {};

TEST_P(DepthDifferential, RandomOperationsMatchTheReference) {
  const Kind& kind = GetParam();
  ss_stock* s = ssmodel_get_stock(ssmodel_exchange(kind.exchange), kind.code);
  ASSERT_NE(nullptr, s);
  if (kind.summary) ssevent_set_out_of_order(s);
  s->flags |= kRqBidLoaded | kRqOfferLoaded;  // every disagreement is an error
  RefBook ref;
  ref.summary = kind.summary;
  ref.reversed = kind.reversed;

  FILE* sink = tmpfile();
  ASSERT_NE(nullptr, sink);
  StderrTo quiet(sink);
  std::mt19937 rng(20140210u + static_cast<unsigned>(kind.exchange) * 7 + (kind.summary ? 1 : 0));
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  auto price = [&] { return 1000 + 10 * pick(kind.prices); };
  auto volume = [&]() -> uint64_t { return pick(10) == 0 ? 0 : 1 + pick(1000); };
  ss_time t = at(10, 0, 0);
  int failures_seen = 0;
  for (int step = 0; step < 4000; step++, t++) {
    int side = static_cast<int>(pick(2));
    uint32_t span = ref.positions(side);
    uint32_t pos = pick(span + 3);  // 0 and beyond the end now and then
    uint32_t op = pick(100);
    const ss_event* mark = s->events.newest;
    g_alerts.clear();
    Outcome want;
    int got;
    std::string what;
    if (op < 30) {
      uint32_t p = price(), c = 1 + pick(4);
      uint64_t v = volume();
      if (!kind.summary) c = 1;
      what = "summary " + std::to_string(p);
      want = ref.summary_op(t, side, p, v, c);
      got = ssevent_apply_depth_summary(s, t, side, p, v, c, nullptr);
    } else if (op < 30 + kind.add_share) {
      uint32_t p = price();
      uint64_t v = volume();
      what = "add " + std::to_string(p) + " #" + std::to_string(pos);
      want = ref.add(t, side, p, v, pos);
      got = ssevent_add_depth(s, t, side, p, v, pos, nullptr);
    } else if (op < 62) {
      uint64_t v = volume();
      what = "amend #" + std::to_string(pos);
      want = ref.amend(t, side, pos, v);
      got = ssevent_amend_depth(s, t, side, pos, v);
    } else if (op < 66) {
      what = "repeat amend";
      want = ref.amend(t, side, 1, ref.last_amended[side]);
      got = ssevent_repeat_amend(s, t, side);
    } else if (op < 82) {
      what = "delete #" + std::to_string(pos);
      want = ref.remove(t, side, pos);
      got = ssevent_delete_depth(s, t, side, pos);
    } else if (op < 92) {
      uint32_t p = pick(3) == 0 ? kNoPrice : price();
      uint64_t v = pick(3) == 0 ? kNoVolume : volume();
      what = "change top";
      want = ref.change_top(t, side, p, v);
      got = ssevent_change_top(s, t, side, p, v, nullptr);
    } else if (op < 98) {
      int32_t b = static_cast<int32_t>(pick(4)), o = static_cast<int32_t>(pick(4));
      what = "delete top " + std::to_string(b) + "/" + std::to_string(o);
      want = ref.delete_top(t, b, o);
      got = ssevent_delete_top(s, t, b, o);
    } else {
      int sides = static_cast<int>(pick(3));
      what = "clear " + std::to_string(sides);
      want = ref.clear(t, sides);
      got = ssevent_clear_depth(s, t, sides);
    }
    SCOPED_TRACE("step " + std::to_string(step) + " side " + std::to_string(side) + ": " + what);
    if (want.rc < 0) failures_seen++;
    ASSERT_EQ(want.rc, got);
    ASSERT_EQ(ref.side[0], side_of(s, 0));
    ASSERT_EQ(ref.side[1], side_of(s, 1));
    ASSERT_EQ(ref.best(0), s->bid);
    ASSERT_EQ(ref.best(1), s->offer);
    ASSERT_EQ(want.events, events_after(s, mark));
    ASSERT_EQ(want.alerts, g_alerts);
    expect_sound(s, kind.summary, kind.reversed);
    if (HasFailure()) return;
  }
  fclose(sink);
  // The run reached both the successful and the refused paths.
  EXPECT_GT(failures_seen, 100);
  EXPECT_GT(s->events.count, 2000u);
}

INSTANTIATE_TEST_SUITE_P(Books, DepthDifferential,
                         ::testing::Values(Kind{"ordinary", 0, "BHP", false, false},
                                           Kind{"outoforder", 0, "WOW", true, false},
                                           Kind{"reversed", 1, "FBU123", false, true},
                                           Kind{"reversedoutoforder", 1, "AIR456", true, true},
                                           Kind{"deep", 0, "BHP", false, false, 40, 2},
                                           Kind{"deepoutoforder", 0, "WOW", true, false, 40, 2}),
                         [](const ::testing::TestParamInfo<Kind>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Known answers

TEST_F(Depth, AlertCodeTable) {
  struct Row {
    const char* name;
    int side;
    std::vector<std::pair<uint32_t, uint64_t>> before;  // summaries first
    int op;                                             // 0 summary, 1 add at 1, 2 delete at 1
    uint32_t price;
    uint64_t volume;
    uint32_t code;
  } rows[] = {
      {"bid into an empty side", 0, {}, 1, 1000, 5, 0x4A0},
      {"bid better", 0, {{1000, 5}}, 0, 1010, 5, 0x5A0},
      {"bid at the best", 0, {{1000, 5}}, 0, 1000, 5, 0x400},
      {"bid worse", 0, {{1000, 5}}, 0, 990, 5, 0x400},
      {"bid of no volume", 0, {{1000, 5}}, 0, 1010, 0, 0xDA0},
      {"offer into an empty side", 1, {}, 0, 1000, 5, 0x9020},
      {"offer better", 1, {{1000, 5}}, 1, 990, 5, 0xD020},
      {"offer worse", 1, {{1000, 5}}, 0, 1010, 5, 0x8000},
      {"offer of no volume", 1, {}, 0, 1000, 0, 0x19020},
      {"bid delete lowers the best", 0, {{1000, 5}, {990, 5}}, 2, 0, 0, 0x6A0},
      {"bid delete within the level", 0, {{1000, 5}, {1000, 6}}, 2, 0, 0, 0x400},
      {"offer delete raises the best", 1, {{1000, 5}, {1010, 5}}, 2, 0, 0, 0xB020},
      {"offer delete within the level", 1, {{1000, 5}, {1000, 6}}, 2, 0, 0, 0x8000},
      {"offer delete empties the side", 1, {{1000, 5}}, 2, 0, 0, 0x8000},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(ssmodel_exchange(0), ("S" + std::to_string(n++)).c_str());
    for (const auto& [p, v] : row.before)
      ASSERT_EQ(0, ssevent_apply_depth_summary(s, at(10, 0, 0), row.side, p, v, 1, nullptr));
    g_alerts.clear();
    int rc = row.op == 0   ? ssevent_apply_depth_summary(s, at(10, 0, 1), row.side, row.price, row.volume, 1, nullptr)
             : row.op == 1 ? ssevent_add_depth(s, at(10, 0, 1), row.side, row.price, row.volume, 1, nullptr)
                           : ssevent_delete_depth(s, at(10, 0, 1), row.side, 1);
    ASSERT_EQ(0, rc);
    EXPECT_EQ(std::vector<uint32_t>{row.code}, g_alerts);
  }
  // Without the exchange's alert flag nothing is offered.
  ss_exchange* nzx = ssmodel_exchange(1);
  nzx->flags &= ~kExAlerts;
  g_alerts.clear();
  ASSERT_EQ(0, ssevent_apply_depth_summary(ssmodel_get_stock(nzx, "AIR"), at(10, 0, 0), 0, 1000, 5, 1, nullptr));
  EXPECT_TRUE(g_alerts.empty());
}

TEST_F(Depth, FirstAddMakesTheBestBid) {
  ASSERT_EQ(0, ssevent_add_depth(bhp, at(10, 0, 0), 0, 4500, 300, 1, nullptr));
  EXPECT_EQ(4500u, bhp->bid);
  EXPECT_EQ((std::vector<RefLevel>{{4500, 1, 300, {300}}}), side_of(bhp, 0));
  ss_time t = at(10, 0, 0);
  EXPECT_EQ((std::vector<Ev>{{kEvDepthAdd, {t, 0, 1, 1, 4500, 300, 0}}, {kEvTopOfBook, {t, 0, 4500, 300, 0, 0}}}),
            events_after(bhp, nullptr));
  EXPECT_EQ(std::vector<uint32_t>{0x4A0}, g_alerts);
  EXPECT_EQ(t, bhp->last_time);
}

TEST_F(Depth, SummariesPlaceAndChainOrders) {
  build(bhp, 0, {{1000, {5}}, {980, {6}}});
  // A new price between two levels makes a level between them.
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 0), 0, 990, 7, 1, nullptr));
  // Consecutive summaries at one price chain after each other (positions 3, 4).
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 1), 0, 990, 8, 1, nullptr));
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 2), 0, 990, 9, 1, nullptr));
  // An equal price further on appends at the end of that level.
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 3), 0, 1000, 10, 1, nullptr));
  EXPECT_EQ((std::vector<RefLevel>{{1000, 2, 15, {5, 10}}, {990, 3, 24, {7, 8, 9}}, {980, 1, 6, {6}}}),
            side_of(bhp, 0));
  std::vector<uint64_t> positions;
  for (const Ev& e : events_after(bhp, nullptr))
    if (e.kind == kEvDepthAdd) positions.push_back(e.f[2]);
  EXPECT_EQ((std::vector<uint64_t>{1, 2, 2, 3, 4, 2}), positions);
}

TEST_F(Depth, AnAddBetweenSummariesKeepsTheChainAtTheLevelEnd) {
  build(bhp, 1, {{2000, {1, 2}}});
  ASSERT_EQ(0, ssevent_add_depth(bhp, at(10, 0, 0), 1, 2000, 3, 3, nullptr));  // at the end
  ASSERT_EQ(0, ssevent_add_depth(bhp, at(10, 0, 0), 1, 2000, 4, 1, nullptr));  // at the head
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 1), 1, 2000, 5, 1, nullptr));
  EXPECT_EQ((std::vector<RefLevel>{{2000, 5, 15, {4, 1, 2, 3, 5}}}), side_of(bhp, 1));
  Ev last = events_after(bhp, nullptr).back();
  EXPECT_EQ((Ev{kEvDepthAdd, {at(10, 0, 1), 1, 5, 1, 2000, 5, uint64_t(int64_t(-1))}}), last);
}

TEST_F(Depth, AddsThatDisagreeWithTheQueue) {
  struct Row {
    const char* name;
    bool empty;
    uint32_t price;
    uint32_t position;
    const char* where;  // the error's tag when the side is loaded
  } rows[] = {
      {"empty side, position 2", true, 1000, 2, "(A)"},
      {"beyond the end", false, 1000, 5, "(B)"},
      {"a price after a level's start", false, 990, 2, "(C)"},
      {"a better price at the tail", false, 1000, 4, "(C)"},
      {"a worse price before the head", false, 995, 1, "(C)"},
      {"a price between levels inside one", false, 995, 2, "(C)"},
      {"position 0", false, 1000, 0, "(C)"},
  };
  FILE* sink = tmpfile();
  ASSERT_NE(nullptr, sink);
  StderrTo quiet(sink);
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (int loaded = 0; loaded < 2; loaded++) {
      ss_stock* s = ssmodel_get_stock(ssmodel_exchange(0), ("D" + std::to_string(n++)).c_str());
      if (!row.empty) build(s, 0, {{1000, {5, 6}}, {990, {7}}});
      s->flags |= kRqOfferLoaded | (loaded ? kRqBidLoaded : 0);
      std::vector<RefLevel> before = side_of(s, 0);
      const ss_event* mark = s->events.newest;
      ssclient_private_clear();
      uint64_t lines = log_count();
      EXPECT_EQ(loaded ? -1 : 0, ssevent_add_depth(s, at(10, 1, 0), 0, row.price, 9, row.position, nullptr));
      EXPECT_EQ(before, side_of(s, 0));
      EXPECT_TRUE(events_after(s, mark).empty());
      EXPECT_EQ(loaded != 0, logged_since(lines, row.where));
      // A partial copy that contradicts the message is fetched again; one
      // that is merely short is not.
      bool refetch = !loaded && strcmp(row.where, "(C)") == 0;
      EXPECT_EQ(refetch ? std::vector<uint32_t>{kReqFullOffer} : std::vector<uint32_t>{}, requests());
    }
  }
  fclose(sink);
}

TEST_F(Depth, AddsThatFitTheQueue) {
  build(bhp, 0, {{1000, {5, 6}}, {990, {7}}});
  ss_time t = at(10, 1, 0);
  ASSERT_EQ(0, ssevent_add_depth(bhp, t, 0, 1000, 8, 3, nullptr));   // the end of the first level
  ASSERT_EQ(0, ssevent_add_depth(bhp, t, 0, 995, 9, 4, nullptr));    // a new level between
  ASSERT_EQ(0, ssevent_add_depth(bhp, t, 0, 990, 10, 5, nullptr));   // the head of a level
  ASSERT_EQ(0, ssevent_add_depth(bhp, t, 0, 980, 11, 7, nullptr));   // a new tail level
  ASSERT_EQ(0, ssevent_add_depth(bhp, t, 0, 1010, 12, 1, nullptr));  // a new head level
  EXPECT_EQ(
      (std::vector<RefLevel>{
          {1010, 1, 12, {12}}, {1000, 3, 19, {5, 6, 8}}, {995, 1, 9, {9}}, {990, 2, 17, {10, 7}}, {980, 1, 11, {11}}}),
      side_of(bhp, 0));
  std::vector<uint64_t> ahead;
  for (const Ev& e : events_after(bhp, nullptr))
    if (e.kind == kEvDepthAdd && e.f[0] == t) ahead.push_back(e.f[6]);
  EXPECT_EQ((std::vector<uint64_t>{2, 0, 0, 0, 0}), ahead);
  EXPECT_EQ(1010u, bhp->bid);
}

TEST_F(Depth, OutOfOrderDepthTakesNoAdds) {
  ssevent_set_out_of_order(bhp);
  uint64_t lines = log_count();
  EXPECT_EQ(-1, ssevent_add_depth(bhp, at(10, 0, 0), 0, 1000, 5, 1, nullptr));
  EXPECT_TRUE(logged_since(lines, "won't do BHP out-of-order summary depth"));
  // Summaries replace a level's count and volume; positions count levels.
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 1), 0, 1000, 50, 4, nullptr));
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 2), 0, 990, 20, 2, nullptr));
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 3), 0, 1000, 30, 3, nullptr));
  EXPECT_EQ((std::vector<RefLevel>{{1000, 3, 30, {}}, {990, 2, 20, {}}}), side_of(bhp, 0));
  Ev last = events_after(bhp, nullptr).back();
  EXPECT_EQ((Ev{kEvDepthAdd, {at(10, 0, 3), 0, 1, 3, 1000, 30, uint64_t(int64_t(-1))}}), last);
}

TEST_F(Depth, ChangeTopKeepsWhatTheCallerKeeps) {
  struct Row {
    const char* name;
    bool summary;
    uint32_t price;
    uint64_t volume;
    std::vector<RefLevel> after;
  } rows[] = {
      {"price and volume kept", false, kNoPrice, kNoVolume, {{1000, 3, 600, {200, 300, 100}}, {990, 1, 7, {7}}}},
      {"new volume", false, kNoPrice, 50, {{1000, 3, 550, {200, 300, 50}}, {990, 1, 7, {7}}}},
      {"new price", false, 1010, kNoVolume, {{1010, 1, 100, {100}}, {1000, 2, 500, {200, 300}}, {990, 1, 7, {7}}}},
      {"out of order, kept", true, kNoPrice, kNoVolume, {{1000, 4, 900, {}}, {990, 2, 7, {}}}},
      {"out of order, new volume", true, kNoPrice, 40, {{1000, 1, 40, {}}, {990, 2, 7, {}}}},
      {"out of order, new price", true, 995, kNoVolume, {{995, 4, 900, {}}, {990, 2, 7, {}}}},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ss_stock* s = ssmodel_get_stock(ssmodel_exchange(0), ("C" + std::to_string(n++)).c_str());
    if (row.summary) {
      ssevent_set_out_of_order(s);
      ASSERT_EQ(0, ssevent_apply_depth_summary(s, at(9, 0, 0), 0, 1000, 900, 4, nullptr));
      ASSERT_EQ(0, ssevent_apply_depth_summary(s, at(9, 0, 0), 0, 990, 7, 2, nullptr));
    } else {
      build(s, 0, {{1000, {100, 200, 300}}, {990, {7}}});
    }
    ASSERT_EQ(0, ssevent_change_top(s, at(10, 0, 0), 0, row.price, row.volume, nullptr));
    EXPECT_EQ(row.after, side_of(s, 0));
    EXPECT_EQ(row.after[0].price, s->bid);
  }
}

TEST_F(Depth, ChangeTopRecordsOneTopOfBook) {
  build(bhp, 0, {{1000, {100}}, {990, {7}}});
  build(bhp, 1, {{1020, {50}}});
  const ss_event* mark = bhp->events.newest;
  ss_time t = at(10, 0, 0);
  g_alerts.clear();
  ASSERT_EQ(0, ssevent_change_top(bhp, t, 0, 995, kNoVolume, nullptr));
  EXPECT_EQ((std::vector<Ev>{{kEvDepthDelete, {t, 0, 1, 1000, 100}},
                             {kEvDepthAdd, {t, 0, 1, 1, 995, 100, uint64_t(int64_t(-1))}},
                             {kEvTopOfBook, {t, 0, 995, 100, 1020, 50}}}),
            events_after(bhp, mark));
  EXPECT_EQ((std::vector<uint32_t>{0x6A0, 0x5A0}), g_alerts);
  // Back to the price it had: still one event of each.
  mark = bhp->events.newest;
  ASSERT_EQ(0, ssevent_change_top(bhp, t, 0, 995, 30, nullptr));
  EXPECT_EQ((std::vector<Ev>{{kEvDepthDelete, {t, 0, 1, 995, 100}},
                             {kEvDepthAdd, {t, 0, 1, 1, 995, 30, uint64_t(int64_t(-1))}}}),
            events_after(bhp, mark));
}

TEST_F(Depth, AmendAndDeleteWithinAShortLevel) {
  build(bhp, 0, {{1000, {5}}, {990, {7}}});
  bhp->levels[0]->count = 3;  // the level promises orders its list lacks
  ssevent_forget_depth(bhp);   // a change made beside the depth events
  FILE* sink = tmpfile();
  ASSERT_NE(nullptr, sink);
  {
    StderrTo quiet(sink);
    const ss_event* mark = bhp->events.newest;
    ASSERT_EQ(0, ssevent_amend_depth(bhp, at(10, 0, 0), 0, 2, 50));
    uint64_t lines = log_count();
    ASSERT_EQ(0, ssevent_delete_depth(bhp, at(10, 0, 1), 0, 3));
    EXPECT_TRUE(logged_since(lines, "bad"));
    EXPECT_EQ((std::vector<Ev>{{kEvDepthAmend, {at(10, 0, 0), 0, 2, 0, 50, 0}},
                               {kEvDepthDelete, {at(10, 0, 1), 0, 3, 0, 0}}}),
              events_after(bhp, mark));
  }
  fclose(sink);
  EXPECT_EQ((std::vector<RefLevel>{{1000, 3, 5, {5}}, {990, 1, 7, {7}}}), side_of(bhp, 0));
  // Position 4 is the next level's order.
  ASSERT_EQ(0, ssevent_amend_depth(bhp, at(10, 0, 2), 0, 4, 8));
  EXPECT_EQ(8u, bhp->levels[0]->next->orders->volume);
  EXPECT_EQ(static_cast<uint64_t>(7 - 8), bhp->last_amend);
}

TEST_F(Depth, DeletingTheLastOrderOfTheHeadMovesTheBest) {
  build(bhp, 1, {{1000, {5}}, {1010, {7, 8}}});
  const ss_event* mark = bhp->events.newest;
  ss_time t = at(10, 0, 0);
  ASSERT_EQ(0, ssevent_delete_depth(bhp, t, 1, 1));
  EXPECT_EQ(1010u, bhp->offer);
  EXPECT_EQ((std::vector<RefLevel>{{1010, 2, 15, {7, 8}}}), side_of(bhp, 1));
  EXPECT_EQ((std::vector<Ev>{{kEvDepthDelete, {t, 1, 1, 1000, 5}}, {kEvTopOfBook, {t, 1, 0, 0, 1010, 15}}}),
            events_after(bhp, mark));
}

TEST_F(Depth, ClearingSides) {
  ss_time t = at(10, 0, 0);
  build(bhp, 0, {{1000, {5}}});
  // Nothing on the offer side: nothing to do.
  const ss_event* mark = bhp->events.newest;
  ASSERT_EQ(0, ssevent_clear_depth(bhp, t, 1));
  EXPECT_TRUE(events_after(bhp, mark).empty());
  // Time 0 (a loader about to fill the side) clears without an event.
  ASSERT_EQ(0, ssevent_clear_depth(bhp, 0, 0));
  EXPECT_EQ(nullptr, bhp->levels[0]);
  EXPECT_EQ(0u, bhp->bid);
  EXPECT_TRUE(events_after(bhp, mark).empty());
  build(bhp, 0, {{1000, {5}}});
  build(bhp, 1, {{1010, {5}}});
  mark = bhp->events.newest;
  ASSERT_EQ(0, ssevent_clear_depth(bhp, t, 2));
  EXPECT_EQ(nullptr, bhp->levels[0]);
  EXPECT_EQ(nullptr, bhp->levels[1]);
  EXPECT_EQ(0u, bhp->offer);
  EXPECT_EQ((std::vector<Ev>{{kEvDepthClear, {t, 2}}}), events_after(bhp, mark));
  EXPECT_EQ(-1, ssevent_clear_depth(bhp, t, 3));

  ss_exchange* asx = ssmodel_exchange(0);
  ss_stock* cba = ssmodel_get_stock(asx, "CBA");
  build(bhp, 0, {{1000, {5}}});
  build(cba, 1, {{1010, {5}}});
  ASSERT_EQ(0, ssevent_clear_exchange_depth(asx, t, 0));
  EXPECT_EQ(nullptr, bhp->levels[0]);
  EXPECT_EQ(nullptr, cba->levels[1]);
}

TEST_F(Depth, StalledQueuesAskForPartials) {
  FILE* sink = tmpfile();
  ASSERT_NE(nullptr, sink);
  StderrTo quiet(sink);
  // An empty side that is not loaded asks for a partial queue, once while
  // the request is pending; the fourth time the full queue instead.
  std::vector<uint32_t> made;
  for (int i = 0; i < 4; i++) {
    uint64_t lines = log_count();
    ASSERT_EQ(0, ssevent_delete_depth(bhp, at(10, 0, i), 0, 1));
    EXPECT_TRUE(logged_since(lines, "because the queue is empty, stalling"));
    ASSERT_EQ(0, ssevent_delete_depth(bhp, at(10, 0, i), 0, 1));  // pending: nothing more
    for (uint32_t k : requests()) made.push_back(k);
    ssclient_private_clear();
    bhp->flags &= ~(kRqPartialBid | kRqFullBid);  // the reply came
  }
  EXPECT_EQ((std::vector<uint32_t>{kReqPartialBid, kReqPartialBid, kReqPartialBid, kReqFullBid}), made);

  // A delete beyond a one-level side that is not loaded asks as well; beyond
  // a longer one it waits.
  ss_stock* s = ssmodel_get_stock(ssmodel_exchange(0), "NAB");
  build(s, 1, {{1000, {5}}});
  uint64_t lines = log_count();
  ASSERT_EQ(0, ssevent_delete_depth(s, at(10, 1, 0), 1, 3));
  EXPECT_TRUE(logged_since(lines, "can't delete ASX NAB offer #3 yet"));
  EXPECT_EQ(std::vector<uint32_t>{kReqPartialOffer}, requests());
  ssclient_private_clear();
  s->flags &= ~kRqPartialOffer;
  build(s, 1, {{1010, {6}}});
  ASSERT_EQ(0, ssevent_delete_depth(s, at(10, 1, 0), 1, 5));
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(2u, side_of(s, 1).size());

  // A delete that empties the side, and a change top on an empty side.
  ASSERT_EQ(0, ssevent_delete_top(s, at(10, 1, 1), 0, 2));
  lines = log_count();
  EXPECT_TRUE(requests() == std::vector<uint32_t>{kReqPartialOffer});
  ssclient_private_clear();
  s->flags &= ~kRqPartialOffer;
  ASSERT_EQ(0, ssevent_change_top(s, at(10, 1, 2), 1, 1000, 5, nullptr));
  EXPECT_TRUE(logged_since(lines, "queue is empty for change top, stalling"));
  EXPECT_EQ(std::vector<uint32_t>{kReqPartialOffer}, requests());

  // Loaded, the same operations are errors.
  s->flags |= kRqOfferLoaded;
  EXPECT_EQ(-1, ssevent_delete_depth(s, at(10, 1, 3), 1, 1));
  EXPECT_EQ(-1, ssevent_change_top(s, at(10, 1, 3), 1, 1000, 5, nullptr));
  EXPECT_EQ(-1, ssevent_delete_top(s, at(10, 1, 3), 0, 1));
  build(s, 1, {{1000, {5}}});
  lines = log_count();
  EXPECT_EQ(-1, ssevent_delete_depth(s, at(10, 1, 3), 1, 4));
  EXPECT_TRUE(logged_since(lines, "i=2"));
  fclose(sink);
}

TEST_F(Depth, DeleteTopStopsAtAStalledSide) {
  build(bhp, 0, {{1000, {5}}});
  build(bhp, 1, {{1010, {6}}, {1020, {7}}});
  FILE* sink = tmpfile();
  ASSERT_NE(nullptr, sink);
  {
    StderrTo quiet(sink);
    ASSERT_EQ(0, ssevent_delete_top(bhp, at(10, 0, 0), 2, 1));
  }
  fclose(sink);
  EXPECT_EQ(nullptr, bhp->levels[0]);
  EXPECT_EQ(2u, side_of(bhp, 1).size());  // the offers were not reached
  EXPECT_EQ(std::vector<uint32_t>{kReqPartialBid}, requests());
  // Both counts 0: nothing at all.
  const ss_event* mark = bhp->events.newest;
  ASSERT_EQ(0, ssevent_delete_top(bhp, at(10, 0, 1), 0, 0));
  EXPECT_TRUE(events_after(bhp, mark).empty());
}

TEST_F(Depth, TheMemoDoesNotOutliveTheLevels) {
  ss_exchange* asx = ssmodel_exchange(0);
  // A day reset detaches the depth; once the deferred frees ran, a summary at
  // the memo's price must make a new level rather than link into the old one
  // (which AddressSanitizer would report as a use after free).
  build(bhp, 0, {{1000, {5}}});
  ssmodel_reset_exchange(asx, 0, 0);
  run_deferred();
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 0), 0, 1000, 6, 1, nullptr));
  EXPECT_EQ((std::vector<RefLevel>{{1000, 1, 6, {6}}}), side_of(bhp, 0));
  // Clearing, deleting and switching to out-of-order depth drop it too.
  build(bhp, 1, {{2000, {1}}});
  ASSERT_EQ(0, ssevent_clear_depth(bhp, 0, 1));
  run_deferred();
  build(bhp, 1, {{2000, {2}}});
  EXPECT_EQ((std::vector<RefLevel>{{2000, 1, 2, {2}}}), side_of(bhp, 1));
  ASSERT_EQ(0, ssevent_delete_depth(bhp, at(10, 0, 1), 1, 1));
  run_deferred();
  build(bhp, 1, {{2000, {3}}});
  EXPECT_EQ((std::vector<RefLevel>{{2000, 1, 3, {3}}}), side_of(bhp, 1));
  // Freeing a stock's depth directly drops it as well.
  build(bhp, 0, {{1000, {7}}});
  ssmodel_free_depth(bhp);
  run_deferred();
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 2), 0, 1000, 8, 1, nullptr));
  EXPECT_EQ((std::vector<RefLevel>{{1000, 1, 8, {8}}}), side_of(bhp, 0));
}

TEST_F(Depth, Brokers) {
  ss_exchange* asx = ssmodel_exchange(0);
  asx->flags |= kExBrokers;
  uint64_t lines = log_count();
  EXPECT_EQ(-1, ssevent_apply_depth_summary(bhp, at(10, 0, 0), 0, 1000, 5, 1, nullptr));
  EXPECT_TRUE(logged_since(lines, "expecting a broker code"));
  EXPECT_EQ(0, ssevent_add_depth(bhp, at(10, 0, 1), 0, 1000, 6, 2, "ZQ9"));
  EXPECT_NE(nullptr, ssbroker_find("ZQ9"));
  EXPECT_EQ(-1, ssevent_apply_depth_summary(bhp, at(10, 0, 2), 0, 1000, 7, 1, "TOOLONGBROKERCODE"));
  // Out-of-order depth has no broker field.
  ss_stock* s = ssmodel_get_stock(asx, "WOW");
  ssevent_set_out_of_order(s);
  EXPECT_EQ(0, ssevent_apply_depth_summary(s, at(10, 0, 0), 0, 1000, 5, 2, nullptr));
}

TEST_F(Depth, NotRecordingStillChangesTheBook) {
  ss_exchange* asx = ssmodel_exchange(0);
  asx->flags &= ~kExRecord;
  build(bhp, 0, {{1000, {5}}});
  ASSERT_EQ(0, ssevent_delete_depth(bhp, at(10, 0, 0), 0, 1));
  build(bhp, 0, {{1000, {6}}});
  EXPECT_EQ(0u, bhp->events.count);
  EXPECT_EQ((std::vector<RefLevel>{{1000, 1, 6, {6}}}), side_of(bhp, 0));
  EXPECT_EQ(1000u, bhp->bid);
}

uint32_t g_masks;
void on_change(const ss_change* c, void*, uint64_t, uint32_t) {
  if (c->instrument) g_masks |= c->mask;
}

TEST_F(Depth, TimeZeroSummariesAreListedWithoutAChange) {
  ASSERT_EQ(0, ssnotify_add_wild(kChangeDepth, on_change, this, 0, 0));
  g_masks = 0;
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, 0, 0, 1000, 5, 1, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(0u, g_masks);
  EXPECT_EQ((std::vector<Ev>{{kEvDepthAdd, {0, 0, 1, 1, 1000, 5, uint64_t(int64_t(-1))}}}),
            events_after(bhp, nullptr));  // and no top of book for time 0
  ASSERT_EQ(0, ssevent_apply_depth_summary(bhp, at(10, 0, 0), 0, 1000, 5, 1, nullptr));
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(kChangeDepth, g_masks);
  ssnotify_remove_wild(this);
}

TEST_F(Depth, TickArithmetic) {
  struct Size {
    uint32_t top, tick;
  } sizes[] = {{1, 50}, {19999, 50}, {20000, 100}, {199999, 100}, {200000, 1000}, {0xFFFFFFFE, 1000}};
  for (const Size& row : sizes) EXPECT_EQ(row.tick, ssevent_tick_size(row.top)) << row.top;

  struct Move {
    uint32_t bid, offer;
    int side;
    int32_t ticks;
    int rc;
    uint32_t price;
  } moves[] = {
      {19950, 0, 0, 1, 0, 20000},                                  // one tick better on the bid side
      {0, 20000, 1, -1, 0, 19900},                                 // one tick better on the offer side
      {0, 20000, 1, 2, 0, 20200},  {0, 0, 0, 1, -1, 0},            // no top: nothing to move from
      {kNoPrice, 0, 0, -1, -1, 0},                                 // "no price" is not a top
      {0, 30, 1, -1, -1, 0},                                       // below 1 would wrap
      {0, 50, 1, -1, -1, 0},       {0xFFFFFF00u, 0, 0, 1, -1, 0},  // past the largest price
  };
  for (const Move& m : moves) {
    bhp->bid = m.bid;
    bhp->offer = m.offer;
    uint32_t price = 0;
    EXPECT_EQ(m.rc, ssevent_top_plus_ticks(bhp, m.side, m.ticks, &price)) << m.bid << "/" << m.offer;
    if (m.rc == 0) {
      EXPECT_EQ(m.price, price);
    }
  }
}

TEST_F(Depth, QueueDump) {
  build(bhp, 0, {{1000, {5, 6}}, {990, {7}}});
  bhp->levels[0]->next->count = 2;  // a level listing fewer orders than it counts
  ssevent_forget_depth(bhp);
  FILE* f = tmpfile();
  ASSERT_NE(nullptr, f);
  {
    StderrTo to(f);
    ssevent_dump_queue(bhp, 0);
    ssevent_dump_queue(bhp, 1);
  }
  rewind(f);
  std::string text;
  char buf[256];
  while (fgets(buf, sizeof buf, f)) text += buf;
  fclose(f);
  EXPECT_EQ(
      "BHP bids\n"
      "BHP B 2 1000 11: 5 6 (2) [2]\n"
      "BHP B 2 990 7: 7 (1) [4]\n"
      "BHP bid 4 (3) 1000 0\n"
      "BHP offers\n"
      "BHP offer 0 (0) 1000 0\n",
      text);
}

// A reader on another thread walks the bid side by its published links, as
// the user-interface thread may across a hand-over of the lock, while the io
// thread changes the book. Nothing is freed meanwhile (the deferred frees are
// not run), so every walk stays on records whose links were valid, and the
// prices it meets always fall.
class DepthConcurrency : public Depth {};

TEST_F(DepthConcurrency, ReadersWalkPublishedLinks) {
  std::atomic<bool> stop{false};
  std::atomic<int64_t> walks{0}, disorder{0};
  std::thread reader([&] {
    while (!stop.load()) {
      uint32_t prev = UINT32_MAX;
      for (const ss_depth_level* l = ssmodel_load(bhp->levels[0]); l; l = ssmodel_load(l->next)) {
        if (l->price >= prev) disorder++;
        prev = l->price;
        uint32_t n = 0;
        for (const ss_depth_order* o = ssmodel_load(l->orders); o && n < 1000000; o = ssmodel_load(o->next)) n++;
        (void)ssmodel_load(l->count);
      }
      walks++;
    }
  });
  {
    // The side is not loaded, so disagreements wait or ask quietly (no
    // dumps to standard error, where the thread checker reports).
    std::mt19937 rng(99);
    ss_time t = at(10, 0, 0);
    for (int i = 0; i < 20000; i++) {
      uint32_t price = 1000 + 10 * (rng() % 10);
      switch (rng() % 5) {
        case 0:
        case 1:
          ssevent_apply_depth_summary(bhp, t, 0, price, 1 + rng() % 100, 1, nullptr);
          break;
        case 2:
          ssevent_add_depth(bhp, t, 0, price, 1 + rng() % 100, 1 + rng() % 8, nullptr);
          break;
        case 3:
          ssevent_delete_depth(bhp, t, 0, 1 + rng() % 8);
          break;
        default:
          if (rng() % 50 == 0)
            ssevent_clear_depth(bhp, t, 0);
          else
            ssevent_change_top(bhp, t, 0, price, kNoVolume, nullptr);
      }
    }
  }
  stop = true;
  reader.join();
  EXPECT_EQ(0, disorder.load());
  EXPECT_GT(walks.load(), 0);
  run_deferred();
}

}  // namespace
