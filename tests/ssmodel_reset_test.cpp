// The exchange clock and the day reset. The clock is driven by a fake wall
// clock in UTC and checked against <ctime>'s own calendar (gmtime), across
// midnight, month, leap-day and year ends. The reset runs on a small
// populated exchange and every field it must clear is checked, together with
// what it must leave alone; the lists it detaches must still be readable
// until deferred freeing runs and poisoned after it (AddressSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "growbuf.h"
#include "lazyfree.h"
#include "plat.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "sstime.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
int64_t test_clock() { return g_now_ms.load(); }

std::atomic<time_t> g_wall{0};
time_t test_wall() { return g_wall.load(); }

// Seconds since the epoch of a UTC date and time (the oracle's side).
time_t epoch(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  struct tm tm = {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return timegm(&tm);
}

// The packed form of an instant, built from gmtime and the documented bit
// layout, not from the time module.
ss_time packed(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  return (ss_time)(tm.tm_year + 1900 - 1970) << 26 | (ss_time)(tm.tm_mon + 1) << 22 | (ss_time)tm.tm_mday << 17 |
         (ss_time)(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
}

ss_time at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return packed(epoch(y, mo, d, h, mi, s)); }

class Env : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    start_runtime(TestStderr::kOff);
    plat_set_test_clock(test_clock);
    g_wall = epoch(2014, 2, 10, 12);
    sstime_set_test_wallclock(test_wall);
  }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new Env);

class Model : public ::testing::Test {
 protected:
  virtual uint32_t options() const { return 8; }  // aggregates on, fast reset on
  void SetUp() override {
    g_wall = epoch(2014, 2, 10, 12);
    ASSERT_EQ(0, ssmodel_init(options()));
    for (int i = 0; i < kExchanges; i++) ASSERT_NE(nullptr, ex[i] = ssmodel_new_exchange(i, kTerminalExchangeFlags));
  }
  void TearDown() override { ssmodel_fini(); }
  void run_deferred() {
    g_now_ms += 60000;
    lazyfree_tick();
  }
  // Makes local now `t` (UTC).
  void set_local(time_t t) { g_wall = t; }
  ss_exchange* ex[kExchanges] = {};
};

// ---------------------------------------------------------------------------
// Exchange clock

using Clock = Model;

TEST_F(Clock, ExchangeNowFollowsTheDeltaAcrossDateBoundaries) {
  struct Row {
    time_t local;
    int32_t delta;
  } rows[] = {
      {epoch(2014, 1, 31, 23, 59, 50), 15},        // into the next month
      {epoch(2014, 3, 1, 0, 0, 5), -10},           // back into February
      {epoch(2012, 2, 28, 23, 59, 59), 1},         // leap day
      {epoch(2013, 2, 28, 23, 59, 59), 1},         // no leap day
      {epoch(2013, 12, 31, 23, 0, 0), 3600},       // into the next year
      {epoch(2014, 1, 1, 0, 30, 0), -3600},        // back into the last year
      {epoch(2014, 2, 10, 10, 0, 0), -86400 * 40}, // forty days back
      {epoch(2014, 6, 30, 12, 0, 0), 43200},       // midnight exactly
  };
  ss_exchange* e = ex[kExchangeNzx];
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(sstime_format_datetime(packed(r.local))) + " " + std::to_string(r.delta));
    set_local(r.local);
    ssmodel_set_delta(e, packed(r.local + r.delta));
    EXPECT_EQ(r.delta, e->delta);
    EXPECT_EQ(packed(r.local + r.delta), ssmodel_exchange_now(e));
    set_local(r.local + 20);  // the clock runs on with the same delta
    EXPECT_EQ(packed(r.local + 20 + r.delta), ssmodel_exchange_now(e));
  }
  EXPECT_EQ(packed(g_wall), ssmodel_exchange_now(nullptr));
}

TEST_F(Clock, SetOffsetMovesExchangeTimeByTheChangeOfOffset) {
  ss_exchange* e = ex[kExchangeAsx];
  time_t local = epoch(2014, 1, 31, 23, 59, 50);
  set_local(local);
  ssmodel_set_delta(e, packed(local + 5));
  ASSERT_EQ(5, e->delta);
  struct Row {
    int32_t offset;
    int32_t delta;  // expected
    const char* offset_line;
    const char* delta_line;
  } rows[] = {
      {36000, 36005, "set ASX offset +36000s (2014-01-31 23:59:55)", "set ASX delta +36005s +36000s (2014-02-01 09:59:55)"},
      {39600, 39605, "set ASX offset +39600s (2014-02-01 09:59:55)", "set ASX delta +39605s +39600s (2014-02-01 10:59:55)"},
      {-3600, -3595, "set ASX offset -3600s (2014-02-01 10:59:55)", "set ASX delta -3595s -3600s (2014-01-31 22:59:55)"},
      {-3600, -3595, "set ASX offset -3600s (2014-01-31 22:59:55)", "set ASX delta -3595s -3600s (2014-01-31 22:59:55)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.offset);
    LogCapture log;
    ssmodel_set_offset(e, r.offset);
    EXPECT_EQ(r.offset, e->offset);
    EXPECT_EQ(r.delta, e->delta);
    EXPECT_EQ(packed(local + r.delta), ssmodel_exchange_now(e));
    EXPECT_TRUE(log.has(r.offset_line));
    EXPECT_TRUE(log.has(r.delta_line));
  }
}

TEST_F(Clock, BadStampsLeaveTheDelta) {
  ss_exchange* e = ex[kExchangeNzx];
  e->delta = 42;
  for (ss_time stamp : {(ss_time)0, (ss_time)36000, (ss_time)0xFFFFFFF5u}) {
    ssmodel_set_delta(e, stamp);
    ssmodel_track_offset(e, stamp);
    EXPECT_EQ(42, e->delta) << stamp;
  }
  // An offset change that would leave the packed range is refused too.
  e->offset = 0;
  ssmodel_set_offset(e, INT32_MAX);
  EXPECT_EQ(42, e->delta);
  EXPECT_EQ(INT32_MAX, e->offset);
}

TEST_F(Clock, TrackOffsetStepsOneSecondTowardTheStamp) {
  // Local now is five seconds before midnight; the stamps lie either side.
  time_t local = epoch(2014, 1, 31, 23, 59, 55);
  struct Row {
    int32_t delta;
    int32_t ahead;  // stamp = local now + ahead
    int32_t want;
  } rows[] = {
      {0, 1, 0},        // one second off a whole delta: left alone
      {5, 6, 6},        // one second off: taken
      {5, 15, 6},       // further off: one step
      {0, 10, 1},       // across midnight
      {5, 5, 5},        // equal
      {5, 4, 4},        // one behind
      {5, -20, 4},      // far behind
      {100, 101, 100},  // whole hundreds are not nudged by one second
      {100, 99, 100},
      {-200, -201, -200},
      {-5, -6, -6},
      {37, 38, 38},
      {-86400, -86390, -86399},  // a day behind, from the day before
  };
  ss_exchange* e = ex[kExchangeGlb];
  set_local(local);
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.delta) + " " + std::to_string(r.ahead));
    e->delta = r.delta;
    ssmodel_track_offset(e, packed(local + r.ahead));
    EXPECT_EQ(r.want, e->delta);
  }
}

// Exchange time is remembered per exchange for the local second and delta it
// came from: a delta or a clock that moves within that second, and exchanges
// asked in turn, must each get their own time at once.
TEST_F(Clock, ExchangeNowFollowsEveryChangeOfDeltaOrSecond) {
  struct Step {
    int index;
    time_t local;
    int32_t delta;
  } steps[] = {
      {kExchangeAsx, epoch(2014, 1, 31, 23, 0, 0), 36000},        // over midnight and the month end
      {kExchangeNzx, epoch(2014, 1, 31, 23, 0, 0), 43200},        // another exchange, the same second
      {kExchangeAsx, epoch(2014, 1, 31, 23, 0, 0), 36001},        // the delta nudged within the second
      {kExchangeAsx, epoch(2014, 1, 31, 23, 0, 1), 36001},        // the clock moves on
      {kExchangeNzx, epoch(2014, 1, 31, 23, 0, 1), 43200},
      {kExchangeGlb, epoch(2014, 1, 31, 23, 0, 1), -86400 * 365}, // a year back
      {kExchangeAsx, epoch(2014, 1, 31, 23, 0, 1), 0},            // back to local time
      {kExchangeAsx, epoch(2013, 12, 31, 23, 59, 59), 1},         // the clock steps back a month
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(std::string(sstime_format_datetime(packed(st.local))) + " " + std::to_string(st.delta));
    set_local(st.local);
    ex[st.index]->delta = st.delta;
    EXPECT_EQ(packed(st.local + st.delta), ssmodel_exchange_now(ex[st.index]));
    EXPECT_EQ(packed(st.local + st.delta), ssmodel_exchange_now(ex[st.index]));  // asked again
  }
}

// The stamp's distance from local time is kept for the pair: a stamp repeated
// in one second keeps stepping the delta toward it, and the clock moving on
// under the same stamp changes the distance.
TEST_F(Clock, TrackOffsetStepsOnUnderARepeatedStamp) {
  ss_exchange* e = ex[kExchangeAsx];
  const time_t local = epoch(2014, 2, 10, 23, 59, 58);
  set_local(local);
  e->delta = 1;
  const ss_time stamp = packed(local + 5);
  const int32_t want[] = {2, 3, 4, 5, 5};
  for (int32_t w : want) {
    ssmodel_track_offset(e, stamp);
    EXPECT_EQ(w, e->delta);
  }
  set_local(local + 3);  // over midnight: the same stamp is now two seconds ahead
  ssmodel_track_offset(e, stamp);
  EXPECT_EQ(4, e->delta);
  ssmodel_track_offset(e, stamp);
  EXPECT_EQ(3, e->delta);
  ssmodel_track_offset(e, stamp);
  EXPECT_EQ(2, e->delta);
}

TEST_F(Clock, FixedTimesOfTheExchangeDay) {
  auto hm = [](ss_time date, int h, int m) { return date + (ss_time)(h * 3600 + m * 60); };
  struct Row {
    int index;
    ss_time date;
    int start_h;
    int close_h, close_m;
    int end_h, end_m;
  } rows[] = {
      {kExchangeAsx, at(2014, 2, 10), 7, 16, 11, 19, 0},  // the calendar's day start moved to 07:00
      {kExchangeAsx, at(2012, 6, 1), 8, 16, 11, 19, 0},
      {kExchangeNzx, at(2014, 2, 10), 8, 17, 0, 18, 30},
      {kExchangeGlb, at(2014, 2, 10), 8, 16, 0, 19, 0},
      {kExchangeAxo, at(2014, 2, 10), 7, 16, 0, 19, 0},
      {kExchangeAxo, at(2012, 6, 1), 8, 16, 0, 19, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.index) + " " + sstime_format_date(r.date));
    ss_exchange* e = ex[r.index];
    ssmodel_set_date(e, r.date + 12345);  // the time of day is dropped
    EXPECT_EQ(hm(r.date, 8, 0), ssmodel_exchange_preopen_time(e));
    EXPECT_EQ(hm(r.date, 10, 0), ssmodel_exchange_open_time(e));
    EXPECT_EQ(hm(r.date, r.close_h, r.close_m), ssmodel_exchange_close_time(e));
    EXPECT_EQ(hm(r.date, r.end_h, r.end_m), ssmodel_exchange_day_end(e));
    EXPECT_EQ(hm(r.date, r.start_h, 0), ssmodel_exchange_day_start(e));
    EXPECT_EQ(hm(r.date, r.start_h, 0), ssmodel_day_start_for(r.index, r.date + 999));
  }
}

TEST_F(Clock, ClampsToTheDayAndToTheOpenMarket) {
  ss_exchange* e = ex[kExchangeAsx];
  ssmodel_set_date(e, at(2014, 2, 10));
  struct Row {
    ss_time t;
    ss_time day;   // clamp into [07:00, 19:00]
    ss_time open;  // clamp into [10:00, 16:11]
  } rows[] = {
      {at(2014, 2, 10, 6, 0), at(2014, 2, 10, 7, 0), at(2014, 2, 10, 10, 0)},
      {at(2014, 2, 10, 12, 0), at(2014, 2, 10, 12, 0), at(2014, 2, 10, 12, 0)},
      {at(2014, 2, 10, 16, 30), at(2014, 2, 10, 16, 30), at(2014, 2, 10, 16, 11)},
      {at(2014, 2, 10, 20, 0), at(2014, 2, 10, 19, 0), at(2014, 2, 10, 16, 11)},
      {at(2014, 2, 9, 23, 0), at(2014, 2, 10, 7, 0), at(2014, 2, 10, 10, 0)},
      {at(2014, 2, 11, 1, 0), at(2014, 2, 10, 19, 0), at(2014, 2, 10, 16, 11)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(sstime_format_datetime(r.t));
    EXPECT_EQ(r.day, ssmodel_exchange_clamp_time(e, r.t));
    EXPECT_EQ(r.open, ssmodel_exchange_clamp_to_open(e, r.t));
  }
  set_local(epoch(2014, 2, 10, 20, 30));
  e->delta = 1800;  // exchange time 21:00
  EXPECT_EQ(at(2014, 2, 10, 19, 0), ssmodel_exchange_clamped_now(e));
  e->delta = -10 * 3600;  // 10:30
  EXPECT_EQ(at(2014, 2, 10, 10, 30), ssmodel_exchange_clamped_now(e));
}

// ---------------------------------------------------------------------------
// Batches and global changes

std::vector<uint32_t> g_global;
void on_global(const ss_change* c, void*, uint64_t, uint32_t) {
  if (!c->instrument) g_global.push_back(c->mask);
}

class Global : public Model {
 protected:
  void SetUp() override {
    Model::SetUp();
    g_global.clear();
    ASSERT_EQ(0, ssnotify_add_wild(0x6, on_global, this, 0, 0));
  }
  uint32_t delivered() {
    ssnotify_deliver();
    uint32_t bits = 0;
    for (uint32_t m : g_global) bits |= m;
    g_global.clear();
    return bits;
  }
};

TEST_F(Global, BatchesAndMarks) {
  ss_exchange* e = ex[kExchangeNzx];
  ssmodel_batch_begin(e);
  EXPECT_TRUE(e->flags & kExBatch);
  ssmodel_batch_begin(e);
  EXPECT_TRUE(e->flags & kExBatch);
  ssmodel_batch_end(e);
  EXPECT_FALSE(e->flags & kExBatch);
  EXPECT_EQ(kTerminalExchangeFlags, e->flags);

  EXPECT_EQ(0u, delivered());
  ssmodel_mark_all_exchanges();
  for (ss_exchange* x : ex) EXPECT_TRUE(x->flags & kExMarked);
  EXPECT_EQ(0x4u, delivered());
}

TEST_F(Global, ResetAllUsesEachExchangesDateAndRecordsTheReset) {
  ssmodel_set_date(ex[0], at(2014, 2, 10));
  ssmodel_set_date(ex[1], at(2014, 2, 11));
  // ex[2] and ex[3] have no date: reset without a cut-off.
  LogCapture log;
  ssmodel_reset_all(0);
  EXPECT_TRUE(log.has("reset ASX 2014-02-10"));
  EXPECT_TRUE(log.has("reset NZX 2014-02-11"));
  // stocks, indices, issuers, news, cache and four lines of the price tracks:
  // no date line
  EXPECT_EQ(9, log.count("reset GLB "));
  for (const char* name : {"ASX", "NZX", "GLB", "AXO"}) {
    EXPECT_TRUE(log.has(std::string("reset ") + name + " stocks"));
    EXPECT_TRUE(log.has(std::string("reset ") + name + " cache"));
  }
  EXPECT_EQ(at(2014, 2, 10), ex[0]->date);
  EXPECT_EQ(at(2014, 2, 11), ex[1]->date);
  EXPECT_EQ(0u, ex[2]->date);
  EXPECT_EQ(0x2u, delivered());
}

TEST_F(Model, ClearSpeeds) {
  ss_stock* s = ssmodel_add_stock(ex[0], "BHP");
  ss_index* x = ssmodel_add_index(ex[1], "NZ50");
  s->speed = 3;
  x->speed = 1;
  ex[0]->speed_count = 4;
  ex[1]->index_speed_count = 2;
  ssmodel_clear_speeds();
  EXPECT_EQ(-1, s->speed);
  EXPECT_EQ(-1, x->speed);
  EXPECT_EQ(0u, ex[0]->speed_count);
  EXPECT_EQ(0u, ex[1]->index_speed_count);
  EXPECT_EQ(0, ssmodel_fast_reset_free());  // nothing queued
}

// ---------------------------------------------------------------------------
// The day reset

// A small exchange with a day of data on everything the reset touches.
class Reset : public Model {
 protected:
  void SetUp() override {
    Model::SetUp();
    e = ex[kExchangeNzx];
    e->flags |= kExRankings;
    ssmodel_set_date(e, at(2014, 2, 10));
    build_stock();
    build_index();
    build_issuers();
    e->state = 5;
    e->speeds[0] = s;
    s->speed = 0;
    e->speed_count = 1;
    e->index_speeds[0] = x;
    x->speed = 0;
    e->index_speed_count = 1;
    strcpy(e->resume_code, "AAA");
    e->resume_number = 7;
    e->resume_counter = 3;
  }

  void build_stock() {
    s = ssmodel_add_stock(e, "AAA");
    other = ssmodel_add_stock(e, "AAB");
    s->bid = 100, s->offer = 110, s->close = 95, s->open = 96, s->high = 120, s->low = 90, s->last = 105;
    s->volume = 1000, s->value = 100000;
    s->change = 10, s->change_pct = 1052;
    s->disp_price = 105, s->disp_change = 10, s->disp_change_pct = 1052, s->disp_volume = 1000, s->disp_value = 5;
    s->quote_basis = 0x30;
    s->movement = 0x1234;
    for (int i = 0; i < 3; i++) s->vcmp_volume[i] = 7, s->vcmp_diff[i] = -3, s->vcmp_pct[i] = 44;
    s->shares = 5000;  // not day data: kept
    for (int side = 0; side < 2; side++) {
      ss_depth_level* l = ssmodel_new_depth_level(100 + 10 * side);
      l->orders = ssmodel_new_depth_order(5, 1, l, ssmodel_new_depth_order_at(6, 2, l));
      s->levels[side] = l;
      ssmodel_add_depth_break(s, side, 1, 99);
    }
    level = s->levels[0];
    order = level->orders->next;
    brk = s->breaks[1].head;
    for (int i = 0; i < 3; i++) ssmodel_add_trade(s, at(2014, 2, 10, 10, 0, i), 100 + i, 10);
    trade = s->trades.head;
    detail = ssmodel_set_trade_detail(s->trades.tail, 1, 2, 3, 4, 5);
    aggregate = s->trade_breaks.head;
    ASSERT_NE(nullptr, aggregate);
    trades_today = e->trades_today;
    ASSERT_EQ(3u, trades_today);
    auto* p = static_cast<ss_ev_state*>(ssevent_new_payload(kEvState));
    p->time = at(2014, 2, 10, 10);
    p->state = 2;
    event = ssevent_add_event(s, kEvState, p);
    ASSERT_NE(nullptr, event);
    growbuf_append(&s->scratch, std::string(3000, 'x').data(), 3000);
    ASSERT_GT(s->scratch.maxlen, s->scratch.initsize);
    ssmodel_stock_make_current(s);
    ssmodel_stock_make_current(other);
    s->flags |= kInRequestBits | kInHistory | kInNewsBits | kInHeld | kInNamed | 0x40;
    // Day records around the cut-off of a reset to 2014-02-11 (2014-01-11).
    for (ss_time d : {at(2014, 1, 3), at(2014, 1, 4), at(2014, 1, 10), at(2014, 1, 11), at(2014, 2, 7)}) {
      ss_day* day = ssevent_get_day(s, d);
      ASSERT_NE(nullptr, day);
      day->flags = 0x1010;  // events asked for and loaded
    }
  }

  void build_index() {
    x = ssmodel_add_index(e, "NZ50");
    x->base = 3000, x->open = 3001, x->high = 3050, x->low = 2990, x->value = 3020;
    x->change = 20, x->change_pct = 66, x->movement = 9;
    x->sector = 0x10;  // not day data: kept
    for (int i = 0; i < 3; i++) ssmodel_add_index_tick(x, 36000 + i, 3000 + i);
    tick = x->ticks.head;
    ssmodel_link_index_current(x);
    x->flags |= 0x1 | kInHistory;
    ssevent_get_day(x, at(2014, 1, 5))->flags = 0x1000;
    ssevent_get_day(x, at(2014, 2, 3))->flags = 0x1000;
  }

  void build_issuers() {
    is = ssmodel_get_issuer(e, "AAA");
    ssmodel_add_news(is, 1, at(2014, 1, 10, 12), nullptr, 0, "before the new cut-off");
    ssmodel_add_news(is, 2, at(2014, 1, 20, 10), nullptr, 0, "this month");
    ssmodel_add_news(is, 3, at(2014, 2, 10, 10), nullptr, kNewsFlag4, "yesterday after the reset");
    ssmodel_add_news(is, 4, at(2014, 2, 11, 9), nullptr, kNewsFlag1, "today after the reset");
    ssmodel_add_news(is, 5, at(2014, 2, 11, 9, 30), nullptr, kNewsFlag4, "withdrawn");
    ssmodel_remove_news(is, 5);
    other_is = ssmodel_get_issuer(e, "ZZZ");
    ssmodel_add_news(other_is, 9, at(2014, 2, 10, 11), nullptr, kNewsFlag4, "yesterday only");
    ASSERT_EQ(kInNewsBits, is->flags & kInNewsBits);
    ASSERT_EQ(kInNewsFlag4, other_is->flags & kInNewsBits);
    ASSERT_TRUE(is->flags & kInCurrent);
    old_entry = e->news.head;
    ASSERT_EQ(1u, old_entry->number);
    ASSERT_EQ(6u, e->news.count);
    auto* ev = ssevent_add_event(is, kEvNews, ssmodel_find_news(is, 4));
    ASSERT_NE(nullptr, ev);
  }

  std::vector<uint32_t> entry_numbers() const {
    std::vector<uint32_t> out;
    for (ss_exchange_news* n = e->news.head; n; n = n->next) out.push_back(n->number);
    return out;
  }
  std::vector<ss_time> day_dates(const instr* in) const {
    std::vector<ss_time> out;
    for (ss_day* d = in->days.head; d; d = d->next) out.push_back(d->date);
    return out;
  }

  ss_exchange* e = nullptr;
  ss_stock *s = nullptr, *other = nullptr;
  ss_index* x = nullptr;
  ss_issuer *is = nullptr, *other_is = nullptr;
  ss_depth_level* level = nullptr;
  ss_depth_order* order = nullptr;
  ss_depth_break* brk = nullptr;
  ss_trade* trade = nullptr;
  ss_trade_detail* detail = nullptr;
  ss_trade_break* aggregate = nullptr;
  ss_tick* tick = nullptr;
  ss_event* event = nullptr;
  ss_exchange_news* old_entry = nullptr;
  uint32_t trades_today = 0;
};

TEST_F(Reset, ClearsTheDayOfEveryInstrumentAndTheExchange) {
  LogCapture log;
  ssmodel_reset_exchange(e, at(2014, 2, 11, 6, 30), 0);

  std::vector<std::string> want_lines = {"reset NZX 2014-02-11",   "set NZX date 2014-02-11", "reset NZX stocks",
                                         "reset NZX indices",      "reset NZX issuers",       "reset NZX news",
                                         "reset NZX cache"};
  std::vector<std::string> got = log.lines();  // newest first
  size_t at_line = got.size();
  for (const std::string& w : want_lines) {  // in this order
    size_t i = at_line;
    while (i-- > 0 && got[i].find(w) == std::string::npos) {
    }
    ASSERT_LT(i, at_line) << w;
    at_line = i;
  }
  EXPECT_EQ(at(2014, 2, 11), e->date);

  // Stock: day values zero, lists detached, links and speed gone.
  EXPECT_EQ(0u, s->bid + s->offer + s->close + s->open + s->high + s->low + s->last);
  EXPECT_EQ(0u, s->volume + s->value);
  EXPECT_EQ(0, s->change);
  EXPECT_EQ(0, s->change_pct);
  EXPECT_EQ(0u, s->disp_price);
  EXPECT_EQ(0, s->disp_change);
  EXPECT_EQ(0, s->disp_change_pct);
  EXPECT_EQ(0u, s->disp_volume + s->disp_value);
  EXPECT_EQ(0u, s->quote_basis);
  EXPECT_EQ(0u, s->movement);
  EXPECT_EQ(0u, s->trade_count);
  EXPECT_EQ(nullptr, s->levels[0]);
  EXPECT_EQ(nullptr, s->levels[1]);
  for (const auto& b : s->breaks) EXPECT_TRUE(b.count == 0 && !b.head && !b.tail);
  EXPECT_TRUE(s->trades.count == 0 && !s->trades.head && !s->trades.tail);
  EXPECT_TRUE(s->trade_breaks.count == 0 && !s->trade_breaks.head && !s->trade_breaks.cursor);
  EXPECT_TRUE(s->events.count == 0 && !s->events.oldest && !s->events.newest);
  EXPECT_EQ(nullptr, s->current.prev);
  EXPECT_EQ(nullptr, s->current.next);
  for (const auto& r : s->rank) EXPECT_TRUE(!r.prev && !r.next);
  EXPECT_EQ(-1, s->speed);
  for (int i = 0; i < 3; i++) EXPECT_TRUE(s->vcmp_volume[i] == 0 && s->vcmp_diff[i] == 0 && s->vcmp_pct[i] == 0);
  EXPECT_EQ(kInHeld | kInNamed | 0x40u | 0x7u, s->flags);  // request bits 0x1-0x4 back; 0x8, 0x10 clear
  EXPECT_EQ(0, s->scratch.maxlen);
  EXPECT_EQ(5000u, s->shares);
  EXPECT_EQ((std::vector<ss_time>{at(2014, 1, 3), at(2014, 1, 11), at(2014, 2, 7)}), day_dates(s));
  for (ss_day* d = s->days.head; d; d = d->next) EXPECT_EQ(0x10u, d->flags);

  // Index.
  EXPECT_EQ(0u, x->base + x->open + x->high + x->low + x->value + x->movement);
  EXPECT_EQ(0, x->change);
  EXPECT_EQ(0, x->change_pct);
  EXPECT_TRUE(x->ticks.count == 0 && !x->ticks.head && !x->ticks.tail);
  EXPECT_EQ(0u, x->events.count);
  EXPECT_TRUE(!x->cur_prev && !x->cur_next);
  EXPECT_EQ(-1, x->speed);
  EXPECT_EQ(0x11u, x->flags);
  EXPECT_EQ(0x10u, x->sector);
  EXPECT_EQ((std::vector<ss_time>{at(2014, 2, 3)}), day_dates(x));
  for (ss_day* d = x->days.head; d; d = d->next) EXPECT_EQ(0u, d->flags);

  // Issuers: today's news again, without the withdrawn item.
  EXPECT_EQ(kInNewsPlain | kInNewsFlag1, is->flags & (kInNewsBits | kInCurrent));
  EXPECT_EQ(0u, other_is->flags & (kInNewsBits | kInCurrent));
  EXPECT_EQ(0u, is->events.count);
  EXPECT_EQ(5u, is->news.count);  // the issuer's own list is not the reset's

  // Exchange.
  EXPECT_EQ(0u, e->state);
  EXPECT_EQ(0u, e->speed_count);
  EXPECT_EQ(0u, e->index_speed_count);
  EXPECT_TRUE(e->current.count == 0 && !e->current.head && !e->current.tail);
  for (const auto& r : e->rank) EXPECT_TRUE(r.count == 0 && !r.head && !r.tail);
  EXPECT_TRUE(e->current_indices.count == 0 && !e->current_indices.head);
  EXPECT_EQ(0, e->resume_code[0]);
  EXPECT_EQ(0u, e->resume_number + e->resume_counter);
  EXPECT_EQ(trades_today, e->trades_today);
  EXPECT_EQ((std::vector<uint32_t>{2, 3, 9, 4, 5}), entry_numbers());
  EXPECT_EQ(nullptr, e->news.head->prev);
  EXPECT_EQ(5u, e->news.count);

  // The reset leaves the model usable: the stocks become current again.
  ssmodel_stock_make_current(other);
  ssmodel_stock_make_current(s);
  EXPECT_EQ(2u, e->current.count);
  EXPECT_EQ(s, e->current.head);
  EXPECT_EQ(2u, e->rank[0].count);
}

TEST_F(Reset, DetachedListsAreQueuedNotFreed) {
  int32_t before = lazyfree_queue_shape(nullptr, 0);
  ssmodel_reset_exchange(e, at(2014, 2, 11), 0);
  EXPECT_GT(lazyfree_queue_shape(nullptr, 0), before);
  // A reader that stood on any detached record still reads it whole.
  EXPECT_EQ(100u, level->price);
  EXPECT_EQ(6u, order->volume);
  EXPECT_EQ(99u, brk->value);
  EXPECT_EQ(100u, trade->price);
  EXPECT_EQ(3u, detail->date);
  EXPECT_EQ(100u, aggregate->price);
  EXPECT_EQ(3000u, tick->value);
  EXPECT_EQ(kEvState, event->kind);
  EXPECT_EQ(1u, old_entry->number);
  ASSERT_NE(nullptr, trade->next);  // its links are left as they were
  g_now_ms += 1000;
  lazyfree_tick();  // not due yet
  EXPECT_EQ(101u, trade->next->price);
  run_deferred();
  EXPECT_EQ(0, lazyfree_queue_shape(nullptr, 0));
}

TEST_F(Reset, RequestBitsByMode) {
  ssmodel_reset_exchange(e, 0, 1);
  EXPECT_EQ(0u, s->flags & kInRequestBits);
  EXPECT_EQ(0u, x->flags & kInRequestBits & 0x10);
  EXPECT_EQ(0x1u, x->flags & kInRequestBits);  // only bit 0x10 is the reset's
  ssmodel_reset_exchange_keep_date(e, e->date);
  EXPECT_EQ(0x7u, s->flags & kInRequestBits);
  EXPECT_EQ(0x11u, x->flags & kInRequestBits);
}

TEST_F(Reset, WithoutADateNothingIsCutOff) {
  LogCapture log;
  ssmodel_reset_exchange(e, 0, 0);
  EXPECT_FALSE(log.has("reset NZX 2"));
  EXPECT_EQ(at(2014, 2, 10), e->date);
  EXPECT_EQ(6u, e->news.count);
  EXPECT_EQ(5u, s->days.count);
  // The news of the exchange's own date count.
  EXPECT_EQ(kInNewsBits, is->flags & kInNewsBits);
  EXPECT_EQ(kInNewsFlag4, other_is->flags & kInNewsBits);
}

class ResetAllRequested : public Reset {
 protected:
  uint32_t options() const override { return 1; }
};

TEST_F(ResetAllRequested, RequestBitsByMode) {
  EXPECT_EQ(ssmodel_stock_size(), (int32_t)sizeof(ss_stock_ext));
  ssmodel_reset_exchange(e, e->date, 0);
  EXPECT_EQ(kInRequestBits, s->flags & kInRequestBits);
  EXPECT_EQ(0u, x->flags & 0x10);
  ssmodel_reset_exchange(e, e->date, 2);
  EXPECT_EQ(0u, s->flags & kInRequestBits);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAsan = true;
#else
constexpr bool kAsan = false;
#endif

using ResetDeathTest = Reset;

// Once deferred freeing has run, the detached records are back in their pools
// and poisoned: the reads that were fine before the delay now fail.
TEST_F(ResetDeathTest, DetachedRecordsArePoisonedAfterTheDelay) {
  if (!kAsan) GTEST_SKIP() << "needs AddressSanitizer";
  ssmodel_reset_exchange(e, at(2014, 2, 11), 0);
  // Fast reset is on: the depth and events wait in its queue until a
  // housekeeping slice hands them to deferred freeing.
  EXPECT_EQ(1, ssmodel_fast_reset_free());
  run_deferred();
  // A freed record keeps its first word (the pool's free link) readable, so
  // each read is of a field past it.
  static_assert(offsetof(ss_depth_level, volume) >= sizeof(void*) && offsetof(ss_depth_order, value) >= sizeof(void*) &&
                offsetof(ss_depth_break, prev) >= sizeof(void*) && offsetof(ss_trade, volume) >= sizeof(void*) &&
                offsetof(ss_trade_break, price) >= sizeof(void*) && offsetof(ss_tick, prev) >= sizeof(void*) &&
                offsetof(ss_exchange_news, number) >= sizeof(void*));
  EXPECT_DEATH({ volatile uint64_t v = level->volume; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ volatile uint32_t v = order->value; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ ss_depth_break* volatile v = brk->prev; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ volatile uint64_t v = trade->volume; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ volatile uint32_t v = aggregate->price; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ ss_tick* volatile v = tick->prev; (void)v; }, "use-after-poison");
  EXPECT_DEATH({ volatile uint32_t v = old_entry->number; (void)v; }, "use-after-poison");
}

// ---------------------------------------------------------------------------
// Concurrency: the io thread fills and resets an exchange under a mutex
// standing in for the core lock, while another thread walks the current list,
// a trade list and the recent news without it. Deferred freeing is not run
// until both are done, so any record the reset released at once would be
// poisoned under the reader (AddressSanitizer), and every link the reader
// follows must be published (ThreadSanitizer).

using ResetConcurrency = Model;

TEST_F(ResetConcurrency, UnlockedWalksWhileTheExchangeIsReset) {
  ss_exchange* e = ex[kExchangeAsx];
  ssmodel_set_date(e, at(2014, 2, 10));
  const char* codes[] = {"AAA", "BBB", "CCC", "DDD"};
  ss_stock* watched = ssmodel_add_stock(e, "BBB");
  ss_issuer* is = ssmodel_get_issuer(e, "BBB");
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::atomic<int> walks{0};

  std::thread reader([&] {
    while (!done.load()) {
      uint32_t n = 0;
      const char* prev = "";
      for (ss_stock* s = ssmodel_load(e->current.head); s && n < 100; s = ssmodel_load(s->current.next), n++) {
        if (strcmp(prev, s->code) >= 0) bad++;
        prev = s->code;
      }
      ss_time last = 0;
      n = 0;
      for (ss_trade* t = ssmodel_load(watched->trades.head); t && n < 100000; t = ssmodel_load(t->next), n++) {
        if (t->time < last || t->price == 0) bad++;
        last = t->time;
      }
      n = 0;
      for (ss_exchange_news* x = ssmodel_load(e->news.head); x && n < 100000; x = ssmodel_load(x->next), n++)
        if (strcmp(x->code, "BBB") != 0) bad++;
      walks++;
    }
  });

  // The rounds start once the reader is walking: on a loaded machine the
  // reader may not be scheduled before the rounds are over.
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       walks.load() == 0 && std::chrono::steady_clock::now() < until;)
    std::this_thread::yield();
  std::mutex core_lock;
  for (int round = 0; round < 150; round++) {
    std::lock_guard<std::mutex> g(core_lock);
    for (const char* c : codes) ssmodel_stock_make_current(ssmodel_get_stock(e, c));
    for (int i = 0; i < 20; i++) ssmodel_add_trade(watched, at(2014, 2, 10, 10, i), 100 + i, 1);
    ssmodel_add_news(is, (uint32_t)round + 1, at(2014, 2, 10, 11, round % 60), nullptr, 0, "n");
    ssmodel_reset_exchange(e, at(2014, 2, 10), round % 2);
  }
  done = true;
  reader.join();
  EXPECT_EQ(0, bad.load());
  EXPECT_GT(walks.load(), 0);
  EXPECT_EQ(150u, e->news.count);
  run_deferred();
}

}  // namespace
