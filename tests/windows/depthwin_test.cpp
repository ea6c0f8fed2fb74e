// The depth window's book and replay over a model built in the test: a
// seeded random day of adds, amends, deletes and clears made through the
// model's own depth operations is caught up from the live queues, played
// to now, and sought event by event, and the bars' and the table's models
// are compared with a brute-force book kept as vectors of orders. Then the
// rollover build against a vector-of-queues model, the catch-up's load cap
// and the delivery rule (no sleep inside a change delivery), the change
// handler's routing, requests on show, grouping, visibility and the mode-3
// split, the age reference, step mode and the next-day prefetch.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "export/clipboard.h"
#include "lib/fade.h"
#include "lib/timer.h"
#include "log.h"
#include "plat.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/depthbars.h"
#include "windows/depthtable.h"
#include "undo.h"
#include "windows/depthwin.h"
#include "depthsteps.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// A frozen wall clock: 2026-12-08 (a Tuesday) 06:00 UTC.
time_t frozen_wall() { return 1796709600; }

struct Calls {
  int events = 0, stock_events = 0, sleeps = 0;
  std::vector<ss_time> days;
  double now = 1000.0;
  int sleeps_in_delivery = 0;
} g;

int on_events(instr *) { return ++g.events, 0; }
int on_stock_events(ss_stock *) { return ++g.stock_events, 0; }
int on_day(instr *, ss_time d) { return g.days.push_back(d), 0; }
void on_sleep(int32_t) {
  g.sleeps++;
  if (ssnotify_in_delivery()) g.sleeps_in_delivery++;
}
double on_now() { return g.now; }

depthwin_services test_services() {
  depthwin_services s{};
  s.request_events = on_events;
  s.request_stock_events = on_stock_events;
  s.request_events_for_day = on_day;
  s.sleep = on_sleep;
  s.now_seconds = on_now;
  return s;
}
const depthwin_services kTestServices = test_services();

constexpr uint32_t kAllLoaded = 0x7 | 0x10;

ss_time at(int h, int m, int s, int day = 8) { return sstime_pack(s, m, h, day, 12, 2026); }

// ---- the brute-force book ----

using Order = std::pair<uint32_t, uint64_t>;  // price, volume

struct Book {
  std::vector<Order> side[2];  // queue order
  void apply(const ss_event *e) {
    switch (e->kind) {
      case kEvDepthAdd: {
        auto *p = static_cast<const ss_ev_depth_add *>(e->payload);
        auto &q = side[p->side];
        q.insert(q.begin() + std::min<size_t>(p->position - 1, q.size()), Order{p->price, p->volume});
        break;
      }
      case kEvDepthAmend: {
        auto *p = static_cast<const ss_ev_depth_amend *>(e->payload);
        side[p->side].at(p->position - 1).second = p->volume;
        break;
      }
      case kEvDepthDelete: {
        auto *p = static_cast<const ss_ev_depth_delete *>(e->payload);
        auto &q = side[p->side];
        q.erase(q.begin() + (p->position - 1));
        break;
      }
      case kEvDepthClear: {
        auto *p = static_cast<const ss_ev_depth_clear *>(e->payload);
        if (p->sides != 1) side[0].clear();
        if (p->sides != 0) side[1].clear();
        break;
      }
      default:
        break;
    }
  }
};

class DepthWin : public WidgetTest {
 protected:
  ss_exchange *ex = nullptr;
  ss_stock *stock = nullptr;

  void SetUp() override {
    WidgetTest::SetUp();
    sstime_set_test_wallclock(frozen_wall);
    sstime_set_base(1);
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(fade_init(), 0);
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, at(0, 0, 0));
    ssmodel_set_delta(ex, at(17, 0, 0));
    ASSERT_EQ(ssmodel_exchange_date(0), at(0, 0, 0));
    stock = ssmodel_get_stock(ex, "BHP");
    ASSERT_NE(stock, nullptr);
    stock->flags |= kAllLoaded;
    g = Calls{};
    depthwin_set_services(&kTestServices);
  }
  void TearDown() override {
    depthwin_set_services(nullptr);
    depthwin_set_catchup_hook(nullptr);
    fade_fini();
    ssmodel_fini();
    sstime_set_test_wallclock(nullptr);
    WidgetTest::TearDown();
  }

  widget *make(int32_t h = 300) {
    widget *w = depthwin_new(root);
    w->r = {0, 0, 400, h};
    w->cls->geometry_changed(w);
    return w;
  }

  void drop(widget *w) {
    container_cls(root)->remove(root, w);
    widget_delete(w);
  }

  // A seeded day on `s`: adds through summaries (the model places them),
  // amends and deletes at random positions, now and then a clear, one
  // second apart from `start`.
  void random_day(ss_stock *s, uint32_t seed, int n, ss_time start) {
    std::mt19937 rng(seed);
    ss_time t = start;
    for (int i = 0; i < n; i++, t = sstime_add_seconds(t, 1)) {
      int side = int(rng() % 2);
      uint32_t orders = 0;
      for (const ss_depth_level *l = s->levels[side]; l; l = l->next) orders += l->count;
      uint32_t op = rng() % 100;
      if (orders == 0 || op < 45) {
        uint32_t price = side == 0 ? 1000 - rng() % 40 : 1005 + rng() % 40;
        ASSERT_EQ(0, ssevent_apply_depth_summary(s, t, side, price, 100 + rng() % 900, 1, nullptr));
      } else if (op < 70) {
        ASSERT_EQ(0, ssevent_amend_depth(s, t, side, 1 + rng() % orders, 100 + rng() % 900));
      } else if (op < 99) {
        ASSERT_EQ(0, ssevent_delete_depth(s, t, side, 1 + rng() % orders));
      } else {
        ASSERT_EQ(0, ssevent_clear_depth(s, t, int(rng() % 3)));
      }
    }
  }

  // The live book of the model as orders.
  Book live_book(const ss_stock *s) {
    Book b;
    for (int side = 0; side < 2; side++)
      for (const ss_depth_level *l = s->levels[side]; l; l = l->next)
        for (const ss_depth_order *o = l->orders; o; o = o->next) b.side[side].push_back({l->price, o->volume});
    return b;
  }

  void expect_models(widget *w, const Book &want, uint32_t group, const char *what) {
    depthwin_child *bars = depthwin_get_child(w, 1), *table = depthwin_get_child(w, 2);
    for (int side = 0; side < 2; side++) {
      std::vector<DepthStep> rows, blocks;
      expected_steps(want.side[side], group, &rows, &blocks);
      EXPECT_EQ(table_steps(table, side), rows) << what << " table side " << side;
      EXPECT_EQ(bar_steps(bars, side), blocks) << what << " bars side " << side;
    }
  }
};

// ---- the oracle ----

class DepthOracle : public DepthWin, public ::testing::WithParamInterface<int32_t> {};

TEST_P(DepthOracle, PlayingToNowEqualsCatchingUpAndSeeksEqualBruteForce) {
  int32_t group_by = GetParam();
  random_day(stock, 20261208u + uint32_t(group_by), 1500, at(10, 0, 0));
  uint32_t group = depthwin_group_step_for(group_by, true, stock->last);
  const Book live = live_book(stock);

  widget *a = make();
  depthwin_set_group_by(a, group_by);
  depthwin_set_instrument(a, stock);
  ASSERT_TRUE(widget_is_shown(a));
  expect_models(a, live, group, "catch-up");

  widget *b = make();
  depthwin_set_group_by(b, group_by);
  depthwin_set_instrument(b, stock);
  depthwin_play_to_live(b, at(16, 0, 0), 1, 1);
  EXPECT_FALSE(depthwin_is_replaying(b)) << "the end of today's list goes live";
  expect_models(b, live, group, "played to now");

  // Seeks to event k against events 1..k applied by brute force; near
  // seeks (within 23 events of the last) go on from the cursor.
  std::vector<ss_event *> evs;
  for (ss_event *e = stock->events.oldest; e; e = e->newer) evs.push_back(e);
  ASSERT_GT(evs.size(), 1000u);
  std::mt19937 rng(7);
  std::vector<size_t> ks = {0, 1, 2, 30, 31, 45, evs.size() / 2, evs.size() / 2 + 23, evs.size() - 1};
  for (int i = 0; i < 6; i++) ks.push_back(rng() % evs.size());
  for (size_t k : ks) {
    Book ref;
    for (size_t i = 0; i <= k; i++) ref.apply(evs[i]);
    depthwin_seek_event(b, evs[k], 0);
    EXPECT_EQ(depthwin_get_book(b)->cursor, evs[k]) << k;
    EXPECT_EQ(depthwin_get_position(b), ssevent_event_time(evs[k]));
    expect_models(b, ref, group, ("seek " + std::to_string(k)).c_str());
  }
  drop(a);
  drop(b);
}

INSTANTIATE_TEST_SUITE_P(Groupings, DepthOracle, ::testing::Values(0, 5));

TEST_F(DepthWin, PlayingToAnEarlierMomentOfTodayShowsTheBookThen) {
  random_day(stock, 99, 600, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  ss_time t = at(10, 5, 0);  // 300 events in
  depthwin_play_to(w, t, 1);
  Book ref;
  ss_event *last = nullptr;
  for (ss_event *e = stock->events.oldest; e && ssevent_event_time(e) < t; e = e->newer) ref.apply(last = e);
  EXPECT_TRUE(depthwin_is_replaying(w));
  EXPECT_EQ(depthwin_get_book(w)->cursor, last);
  expect_models(w, ref, 1, "10:05");
  // Playing on within today continues from the cursor.
  ss_time t2 = at(10, 8, 0);
  depthwin_play_to(w, t2, 0);
  for (ss_event *e = last->newer; e && ssevent_event_time(e) < t2; e = e->newer) ref.apply(e);
  expect_models(w, ref, 1, "10:08");
  drop(w);
}

TEST_F(DepthWin, AThrottledPassAppliesAtMost2500Events) {
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_book *b = depthwin_get_book(w);
  ASSERT_EQ(b->throttle, 1u);
  ss_event *from = stock->events.newest;
  random_day(stock, 5, 3000, at(10, 0, 0));
  depthwin_advance(w);
  ss_event *e = from ? from->newer : stock->events.oldest;
  if (!from) e = e->newer;  // a list that starts empty: the first event is applied alone, then 2500
  for (int i = 1; i < 2500; i++) e = e->newer;
  EXPECT_EQ(b->cursor, e);
  depthwin_advance(w);
  EXPECT_EQ(b->cursor, stock->events.newest);
  expect_models(w, live_book(stock), 1, "after the second pass");
  drop(w);
}

// ---- step mode, marks ----

TEST_F(DepthWin, StepModeMovesOneEventWhateverTheCount) {
  random_day(stock, 3, 100, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  ss_event *e = stock->events.oldest->newer->newer;
  depthwin_seek_event(w, e, 1);
  depthwin_set_non_realtime(w, 1);
  depthwin_step_forward(w, 5);
  EXPECT_EQ(depthwin_get_book(w)->cursor, e->newer);
  depthwin_step_back(w, 5);
  EXPECT_EQ(depthwin_get_book(w)->cursor, e);
  // The tick steps one event per delay.
  depthwin_book *b = depthwin_get_book(w);
  b->next_step_wall = 0;
  depthwin_tick(w);
  EXPECT_EQ(b->cursor, e->newer);
  depthwin_tick(w);  // before the delay has passed: nothing
  EXPECT_EQ(b->cursor, e->newer);
  g.now += 1.0;
  depthwin_tick(w);
  EXPECT_EQ(b->cursor, e->newer->newer);
  drop(w);
}

TEST_F(DepthWin, ReplayTimeKeepsMillisecondsAfterDaysOfUptime) {
  random_day(stock, 6, 100, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  g.now = 3 * 86400.0 + 0.25;  // three days of frame time
  depthwin_set_speedup(w, 1000.0f);
  depthwin_play_to(w, at(10, 0, 10), 1);
  ASSERT_TRUE(depthwin_is_replaying(w));
  g.now += 0.02;  // 20 ms: 20 replay seconds at 1000 x
  depthwin_tick(w);
  EXPECT_EQ(depthwin_get_position(w), at(10, 0, 30));
  drop(w);
}

TEST_F(DepthWin, AMarkRefusesEvents) {
  random_day(stock, 4, 50, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_play_to(w, at(10, 0, 20), 1);
  depthwin_book *b = depthwin_get_book(w);
  ss_event *cur = b->cursor;
  depthwin_set_mark(w, 1);
  EXPECT_EQ(depthwin_apply(b, cur->newer), 0);
  EXPECT_EQ(b->cursor, cur);
  depthwin_release_mark(w);
  EXPECT_FALSE(depthwin_has_mark(w));
  EXPECT_EQ(b->anchor_position, at(10, 0, 20));
  // Events past the position are refused while replaying.
  ss_event *late = cur;
  while (late && ssevent_event_time(late) <= b->position) late = late->newer;
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(depthwin_apply(b, late), 0);
  drop(w);
}

// ---- catch-up: the load cap and the delivery rule ----

// Between loads a new event arrives, as the io thread would add one while
// the core lock is given up.
void keep_moving(depthwin_book *b, int) {
  auto *s = static_cast<ss_stock *>(b->instrument);
  ssevent_apply_depth_summary(s, at(11, 0, 0), 0, 990, 100, 1, nullptr);
}

TEST_F(DepthWin, CatchUpStopsAfter21LoadsAndLogsOnce) {
  widget *w = make();
  depthwin_set_catchup_hook(keep_moving);
  LogCapture logs;
  depthwin_set_instrument(w, stock);
  EXPECT_EQ(depthwin_last_catchup_loads(), 21);
  EXPECT_EQ(logs.count("couldn't accurately catchup (todo)"), 1);
  EXPECT_EQ(logs.count("trying to catchup again"), 20);
  EXPECT_EQ(g.sleeps, 19) << "from the third attempt on";
  depthwin_set_catchup_hook(nullptr);
  drop(w);
}

int g_hook_calls = 0;
widget *g_deliver_to = nullptr;
void catchup_in_delivery(const ss_change *, void *, uint64_t, uint32_t) {
  g_hook_calls++;
  depthwin_catchup(g_deliver_to);
}

TEST_F(DepthWin, ACatchUpInsideADeliveryNeverSleepsAndResumesOnTheTick) {
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_set_catchup_hook(keep_moving);
  g_deliver_to = w;
  g.sleeps = 0;
  int owner;
  ASSERT_EQ(0, ssnotify_add(stock, kChangeDepth, catchup_in_delivery, &owner, 0, 0));
  ssnotify_record(stock, kChangeDepth, nullptr);
  ASSERT_EQ(0, ssnotify_deliver());
  EXPECT_EQ(g_hook_calls, 1);
  EXPECT_EQ(g.sleeps_in_delivery, 0);
  EXPECT_EQ(g.sleeps, 0);
  EXPECT_EQ(depthwin_get_book(w)->catchup_pending, 1u);
  depthwin_set_catchup_hook(nullptr);
  depthwin_tick(w);
  EXPECT_EQ(depthwin_get_book(w)->catchup_pending, 0u);
  expect_models(w, live_book(stock), 1, "after the tick");
  ssnotify_remove(stock, &owner);
  drop(w);
}

// ---- requests, the change handler ----

TEST_F(DepthWin, NoRequestWhileHiddenOneOnShow) {
  widget *w = make();
  widget_hide(w);
  depthwin_set_instrument(w, stock);
  EXPECT_EQ(g.events, 0);
  widget_show(w);
  EXPECT_EQ(g.events, 1);
  drop(w);
}

TEST_F(DepthWin, ChangeHandlerRouting) {
  random_day(stock, 11, 200, at(10, 0, 0));
  struct Case {
    const char *name;
    uint32_t mask;
    bool awaiting, pinned, target, replaying;
    // What the handler did: the cursor after, the requests made.
    bool cursor_cleared, live, request;
  } cases[] = {
      {"depth change while live advances", kChangeDepth, false, false, false, false, false, true, false},
      {"reset clears and catches up", kGlobalReset, false, false, false, false, false, true, true},
      {"queues reload catches up", kChangeQueues, false, false, false, false, false, true, false},
      {"history while awaiting goes live", kChangeBackfill, true, false, false, false, false, true, false},
      {"history while replaying stays", kChangeBackfill, false, false, false, true, false, false, false},
  };
  for (const Case &c : cases) {
    widget *w = make();
    depthwin_set_instrument(w, stock);
    depthwin_book *b = depthwin_get_book(w);
    if (c.replaying) depthwin_play_to(w, at(10, 1, 0), 1);
    b->awaiting_history = c.awaiting;
    g.events = 0;
    ss_change ch{};
    ch.mask = c.mask;
    ch.instrument = stock;
    depthwin_changed(&ch, w, 0, 0);
    EXPECT_EQ(b->cursor == nullptr, c.cursor_cleared) << c.name;
    EXPECT_EQ(!depthwin_is_replaying(w), c.live) << c.name;
    EXPECT_EQ(g.events > 0, c.request) << c.name;
    if (c.live) expect_models(w, live_book(stock), 1, c.name);
    drop(w);
  }
}

// ---- settings ----

TEST_F(DepthWin, AutomaticGrouping) {
  const struct {
    int32_t g;
    bool instrument;
    uint32_t last, step;
  } rows[] = {{0, true, 50, 1},        {7, true, 50, 7},          {-1, false, 0, 1},
              {-1, true, 99999, 0},    {-1, true, 100000, 1000},  {-1, true, 399999, 1000},
              {-1, true, 400000, 5000}, {-1, true, 599999, 5000}, {-1, true, 600000, 10000}};
  for (const auto &r : rows) EXPECT_EQ(depthwin_group_step_for(r.g, r.instrument, r.last), r.step) << r.last;
  // A step's price: halves round upwards.
  EXPECT_EQ(depthwin_step_of(101, 5), 100u);
  EXPECT_EQ(depthwin_step_of(102, 5), 100u);
  EXPECT_EQ(depthwin_step_of(103, 5), 105u);
  EXPECT_EQ(depthwin_step_of(103, 1), 103u);
  EXPECT_EQ(depthwin_step_of(103, 0), 103u);
  widget *w = make();
  stock->last = 50000;
  depthwin_set_group_by(w, -1);
  depthwin_set_instrument(w, stock);
  EXPECT_EQ(depthwin_get_group_step(w), 0u) << "below 100000 gives 0, not 1";
  drop(w);
}

TEST_F(DepthWin, ChildrenVisibilityAndTheMode3Split) {
  const struct {
    uint32_t mode;
    int32_t h;
    uint32_t current, want;
  } rows[] = {{3, 60, 3, 2}, {3, 61, 0, 3}, {1, 60, 2, 1}, {2, 60, 1, 1},
              {2, 60, 2, 2}, {1, 200, 2, 1}, {2, 200, 1, 2}};
  for (const auto &r : rows)
    EXPECT_EQ(depthwin_visible_children(r.mode, r.h, r.current), r.want) << r.mode << " " << r.h;
  widget *w = make(60);
  depthwin_child *bars = depthwin_get_child(w, 1), *table = depthwin_get_child(w, 2);
  EXPECT_FALSE(widget_is_shown(bars));
  EXPECT_TRUE(widget_is_shown(table));
  w->r = {0, 0, 400, 61};
  w->cls->geometry_changed(w);
  EXPECT_TRUE(widget_is_shown(bars));
  EXPECT_TRUE(widget_is_shown(table));
  // A share below 60 pixels gives the table the whole window.
  EXPECT_EQ(table->r.h, 61);
  EXPECT_EQ(bars->r.h, 0);
  w->r = {0, 0, 400, 400};
  w->cls->geometry_changed(w);
  EXPECT_EQ(table->r.y + table->r.h, 400);
  EXPECT_EQ(bars->r.h + table->r.h, 400);
  EXPECT_LE(table->r.h, 200);
  EXPECT_GE(table->r.h, 60);
  drop(w);
}

TEST_F(DepthWin, AgeReference) {
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_book *b = depthwin_get_book(w);
  b->position = at(14, 30, 45);
  const struct {
    uint32_t type, count;
    ss_time want;
  } rows[] = {{0, 15, at(14, 30, 45)},  {1, 1015, at(10, 15, 0)}, {2, 0, at(12, 0, 0)},
              {3, 0, at(10, 0, 0)},     {4, 15, at(14, 15, 45)},  {5, 2, at(12, 30, 45)},
              {6, 3, at(14, 30, 45, 6)}};
  for (const auto &r : rows) {
    b->age_split_type = r.type;
    b->age_split_count = r.count;
    depthwin_update_age_ref(b);
    EXPECT_EQ(b->age_ref, r.want) << r.type;
  }
  b->age_split_type = 7;
  ss_time before = b->age_ref;
  depthwin_update_age_ref(b);
  EXPECT_EQ(b->age_ref, before) << "7 and above: unchanged";
  uint32_t type = 9, count = 9;
  EXPECT_EQ(depthwin_get_age_split(w, 1, &type, &count), -1);
  depthwin_set_age_split(w, 1, 0, 0);
  EXPECT_EQ(depthwin_get_age_split(w, 0, &type, &count), 0);
  EXPECT_EQ(type, 7u);
  drop(w);
}

TEST_F(DepthWin, InitialValues) {
  widget *w = make();
  depthwin_book *b = depthwin_get_book(w);
  EXPECT_EQ(b->owner, static_cast<depthwin *>(w));
  EXPECT_EQ(b->speedup, 60.0f);
  EXPECT_EQ(b->delay, 1.0f);
  EXPECT_EQ(b->show_mode, 3u);
  EXPECT_EQ(b->throttle, 1u);
  EXPECT_EQ(b->age_split_type, 4u);
  EXPECT_EQ(b->age_split_count, 15u);
  EXPECT_EQ(b->height, 999999u);
  EXPECT_EQ(b->realtime, 1u);
  EXPECT_EQ(b->show_trades, 1u);
  EXPECT_STREQ(object_type_name(widget_obj(b->bars)), "depthbars");
  EXPECT_STREQ(object_type_name(widget_obj(b->table)), "depthtbl");
  EXPECT_EQ(b->bars->book, b);
  EXPECT_EQ(b->table->book, b);
  EXPECT_EQ(ssnotify_wild_mask() & 3u, 3u);
  depthwin_set_instrument(w, stock);
  EXPECT_TRUE(stock->flags & 0 || stock->hold) << "the instrument is held";
  uint32_t mask = 0;
  for (ss_notify *r = stock->notify.head; r; r = r->next)
    if (r->owner == w) mask = r->mask;
  EXPECT_EQ(mask, 0x1D510u);
  drop(w);
}

TEST_F(DepthWin, ExportWritesTheLiveBook) {
  for (uint32_t p : {1000u, 999u, 998u}) ssevent_apply_depth_summary(stock, at(10, 0, 0), 0, p, 1000, 1, nullptr);
  for (uint32_t p : {1001u, 1002u, 1003u, 1004u, 1005u})
    ssevent_apply_depth_summary(stock, at(10, 0, 0), 1, p, 2000, 1, nullptr);
  ssevent_apply_depth_summary(stock, at(10, 0, 0), 1, 1001, 500, 1, nullptr);
  ASSERT_EQ(clipboard_init(), 0);
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_export(w);
  std::string text = clipboard_text();
  std::vector<std::string> lines;
  for (size_t s = 0, e; s < text.size(); s = e + 1) {
    e = text.find('\n', s);
    if (e == std::string::npos) e = text.size();
    lines.push_back(text.substr(s, e - s));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_EQ(lines[0], "Bid Count\tBid Price\tBid Volume\tAsk Count\tAsk Price\tAsk Volume");
  EXPECT_EQ(lines[1].substr(0, 2), "1\t");
  EXPECT_NE(lines[1].find("\t2\t"), std::string::npos) << "two offers at the best offer: " << lines[1];
  EXPECT_EQ(lines[4].substr(0, 3), "\t\t\t") << "bids ran out: " << lines[4];
  EXPECT_EQ(lines[5].substr(0, 3), "\t\t\t");
  drop(w);
  clipboard_shutdown();
}

// ---- past days, prefetch, rollover ----

// Moves today's list of `s` into a new day record of `date` (marked loaded).
ss_day *store_as_day(ss_stock *s, ss_time date) {
  ssevent_enable_day_records(1);
  ss_day *d = ssevent_mark_day_complete(s, date);
  d->events = s->events;
  s->events = {};
  return d;
}

TEST_F(DepthWin, PastDaysPlayRollOverAndPrefetch) {
  // Friday the 4th and Monday the 7th; today (Tuesday) is empty so far.
  random_day(stock, 21, 400, at(10, 0, 0, 4));
  Book friday_close = live_book(stock);
  store_as_day(stock, at(0, 0, 0, 4));
  ssevent_clear_depth(stock, 0, 2);
  random_day(stock, 22, 400, at(10, 0, 0, 7));
  std::vector<ss_event *> monday;
  for (ss_event *e = stock->events.oldest; e; e = e->newer) monday.push_back(e);
  store_as_day(stock, at(0, 0, 0, 7));
  ssevent_clear_depth(stock, 0, 2);
  // Saturday and Sunday records are known and empty.
  ssevent_get_day(stock, at(0, 0, 0, 5));
  ssevent_get_day(stock, at(0, 0, 0, 6));

  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_play_to(w, at(15, 0, 0, 4), 1);
  expect_models(w, friday_close, 1, "friday at 15:00");
  // A day known to be empty moves on a day at the same time of day.
  depthwin_play_to(w, at(11, 0, 0, 6), 1);
  EXPECT_EQ(depthwin_get_position(w), at(11, 0, 0, 7));
  // The prefetch timer asks for the next day after 5000 ms.
  depthwin_book *b = depthwin_get_book(w);
  EXPECT_GE(b->prefetch_timer, 0);

  // Rolling Friday's closing book over to Monday (as the promise queued at
  // the end of Friday's list does): the synthetic events turn it into
  // Monday's opening run, and the replay goes on from there.
  depthwin_play_to(w, at(15, 0, 0, 4), 1);
  b->rollover_date = at(0, 0, 0, 4);
  b->cursor = nullptr;
  depthwin_play_to(w, at(0, 0, 0, 7), 0);
  Book ref;
  size_t run = 0;
  bool added = false;
  for (; run < monday.size(); run++) {
    uint32_t k = monday[run]->kind;
    if (k == kEvDepthAdd) added = true;
    if (k == kEvDepthAdd || k == kEvDepthClear || k == kEvTopOfBook) {
      ref.apply(monday[run]);
      continue;
    }
    if (added) break;
  }
  ASSERT_GT(run, 1u);
  EXPECT_EQ(b->cursor, monday[run - 1]);
  EXPECT_EQ(depthwin_get_position(w), at(10, 0, 0, 7)) << "the rollover time: Monday's first event";
  expect_models(w, ref, 1, "rolled over to Monday's opening");
  depthwin_play_to(w, at(10, 4, 0, 7), 0);
  for (size_t i = run; i < monday.size() && ssevent_event_time(monday[i]) < at(10, 4, 0, 7); i++)
    ref.apply(monday[i]);
  expect_models(w, ref, 1, "Monday at 10:04");
  drop(w);
}

TEST_F(DepthWin, APrefetchFromASaturdayAsksForThreeDays) {
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_play_to(w, at(12, 0, 0, 4), 1);  // Friday, not loaded: asked for
  ASSERT_EQ(g.days.size(), 1u);
  EXPECT_EQ(g.days[0], at(0, 0, 0, 4));
  EXPECT_EQ(depthwin_get_book(w)->awaiting_history, 1u);
  g.days.clear();
  // The prefetch for Saturday the 5th asks for the 5th, 6th and 7th.
  timer_run(plat_ms() + 6000);
  ASSERT_EQ(g.days.size(), 3u);
  EXPECT_EQ(g.days[0], at(0, 0, 0, 5));
  EXPECT_EQ(g.days[1], at(0, 0, 0, 6));
  EXPECT_EQ(g.days[2], at(0, 0, 0, 7));
  drop(w);
}

// The rollover build's synthetic events, captured.
std::vector<std::vector<uint64_t>> g_synth;
int capture(depthwin_book *, ss_event *e) {
  switch (e->kind) {
    case kEvDepthAdd: {
      auto *p = static_cast<ss_ev_depth_add *>(e->payload);
      g_synth.push_back({1, p->side, p->position, p->price, p->volume});
      break;
    }
    case kEvDepthAmend: {
      auto *p = static_cast<ss_ev_depth_amend *>(e->payload);
      g_synth.push_back({2, p->side, p->position, p->price, p->volume, p->old_volume});
      break;
    }
    case kEvDepthDelete: {
      auto *p = static_cast<ss_ev_depth_delete *>(e->payload);
      g_synth.push_back({3, p->side, p->position, p->price, p->volume});
      break;
    }
    default:
      g_synth.push_back({e->kind});
  }
  return 1;
}

class Rollover : public DepthWin {
 protected:
  // Yesterday's (the 7th) closing queues and today's (the 8th) opening run,
  // each side a list of (price, volume) in queue order.
  using Queue = std::vector<std::pair<uint32_t, uint64_t>>;
  void day(const Queue q[2], int d) {
    for (int side = 0; side < 2; side++)
      for (auto [p, v] : q[side]) ssevent_apply_depth_summary(stock, at(9, 0, 0, d), side, p, v, 1, nullptr);
  }
  std::vector<std::vector<uint64_t>> build(const Queue closing[2], const Queue opening[2], ss_time *t) {
    day(closing, 7);
    store_as_day(stock, at(0, 0, 0, 7));
    ssevent_clear_depth(stock, 0, 2);
    day(opening, 8);
    g_synth.clear();
    depthwin_rollover_build(stock, at(0, 0, 0, 7), at(0, 0, 0, 8), capture, nullptr, t);
    // The top-of-book events of the opening run follow; keep the depth.
    std::vector<std::vector<uint64_t>> depth;
    for (const auto &e : g_synth)
      if (e[0] <= 3) depth.push_back(e);
    return depth;
  }
};

TEST_F(Rollover, ThePartsCases) {
  ss_time t;
  Queue c1[2] = {{{1000, 100}}, {}}, o1[2] = {{{1000, 150}}, {}};
  auto got = build(c1, o1, &t);
  EXPECT_EQ(got, (std::vector<std::vector<uint64_t>>{{2, 0, 1, 1000, 150, 100}}));
  EXPECT_EQ(t, at(9, 0, 0, 8));
}

TEST_F(Rollover, AddThenDeleteWhenTheBestMoves) {
  ss_time t;
  Queue c[2] = {{{990, 100}}, {}}, o[2] = {{{1000, 100}}, {}};
  auto got = build(c, o, &t);
  EXPECT_EQ(got, (std::vector<std::vector<uint64_t>>{{1, 0, 1, 1000, 100}, {3, 0, 2, 990, 100}}));
}

TEST_F(Rollover, RandomQueuesRollIntoTheOpening) {
  std::mt19937 rng(3);
  for (int round = 0; round < 30; round++) {
    auto random_queue = [&](int side) {
      std::vector<uint32_t> prices;
      int n = int(rng() % 8);
      for (int i = 0; i < n; i++) prices.push_back(side == 0 ? 1000 - rng() % 10 : 1001 + rng() % 10);
      std::sort(prices.begin(), prices.end());
      if (side == 0) std::reverse(prices.begin(), prices.end());
      Queue q;
      for (uint32_t p : prices) q.push_back({p, 100 * (1 + rng() % 3)});
      return q;
    };
    Queue c[2] = {random_queue(0), random_queue(1)}, o[2] = {random_queue(0), random_queue(1)};
    ssmodel_fini();
    ASSERT_EQ(start_terminal_model(), 0);
    ex = ssmodel_exchange(0);
    ssmodel_set_date(ex, at(0, 0, 0));
    stock = ssmodel_get_stock(ex, "BHP");
    ss_time t;
    auto got = build(c, o, &t);
    // The synthetic events turn the closing queues into the opening ones.
    Queue q[2] = {c[0], c[1]};
    for (const auto &e : got) {
      if (e[0] > 3) continue;
      Queue &s = q[e[1]];
      size_t pos = e[2] - 1;
      if (e[0] == 1)
        s.insert(s.begin() + long(pos), {uint32_t(e[3]), e[4]});
      else if (e[0] == 2)
        s.at(pos).second = e[4];
      else
        s.erase(s.begin() + long(pos));
    }
    EXPECT_EQ(q[0], o[0]) << round;
    EXPECT_EQ(q[1], o[1]) << round;
  }
}

TEST_F(DepthWin, ARolloverWithoutADayRecordStartsFromAnEmptyBook) {
  random_day(stock, 8, 200, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  depthwin_book *b = depthwin_get_book(w);
  // A rollover from a day the model has no record of.
  b->rollover_date = at(0, 0, 0, 3);
  LogCapture logs;
  depthwin_play_to(w, at(10, 2, 0), 0);
  EXPECT_TRUE(logs.has("(yesterday)"));
  Book ref;
  for (ss_event *e = stock->events.oldest; e && ssevent_event_time(e) < at(10, 2, 0); e = e->newer) ref.apply(e);
  expect_models(w, ref, 1, "no doubled orders");
  drop(w);
}

// ---- undo ----

TEST_F(DepthWin, UndoPutsTheSettingsAndTheReplayedMomentBack) {
  ASSERT_EQ(undo_init(), 0);
  random_day(stock, 31, 300, at(10, 0, 0));
  widget *w = make();
  depthwin_set_instrument(w, stock);
  ASSERT_NE(undo_type_ops(UNDO_DEPTHWIN), nullptr) << "the window registers its record type";
  depthwin_set_group_by(w, 5);
  depthwin_set_show_age(w, 1);
  depthwin_set_speedup(w, 10.0f);
  depthwin_play_to(w, at(10, 2, 0), 1);
  depthbars_set_thickness(depthwin_get_child(w, 1), 7);
  const ss_time before = depthwin_get_position(w);
  ASSERT_EQ(undo_begin(), 0);
  ASSERT_EQ(undo_push_depthwin(w), 0);
  ASSERT_EQ(undo_end(), 0);
  depthwin_set_group_by(w, 0);
  depthwin_set_show_age(w, 0);
  depthwin_set_speedup(w, 120.0f);
  depthwin_set_age_split(w, 0, 2, 0);
  depthbars_set_thickness(depthwin_get_child(w, 1), 12);
  depthwin_restart(w);
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(depthwin_get_group_by(w), 5);
  EXPECT_EQ(depthwin_get_show_age(w), 1u);
  EXPECT_EQ(depthwin_get_speedup(w), 10.0f);
  uint32_t type, count;
  depthwin_get_age_split(w, 0, &type, &count);
  EXPECT_EQ(type, 4u);
  EXPECT_EQ(count, 15u);
  EXPECT_EQ(depthbars_get_thickness(depthwin_get_child(w, 1)), 7);
  EXPECT_TRUE(depthwin_is_replaying(w));
  EXPECT_EQ(depthwin_get_position(w), before);
  Book ref;
  for (ss_event *e = stock->events.oldest; e && ssevent_event_time(e) < before; e = e->newer) ref.apply(e);
  expect_models(w, ref, 5, "undone");
  drop(w);
  undo_fini();
}

}  // namespace
