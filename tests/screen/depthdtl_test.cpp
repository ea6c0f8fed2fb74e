// The depth detail popup against the engine's depth book: after seeded runs
// of adds, amends and deletes made through the model's own event operations,
// the popup replayed to the newest event lists exactly the orders of the
// model's level at each step, on both sides; the same holds when it was
// built at an earlier event and followed; a better-priced add moves the
// place; a deleted row stays while its fade runs; following backwards
// rebuilds; a missing day is requested with the old rows gone.
#include "screen/depthdtl.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "lib/fade.h"
#include "lib/timer.h"
#include "lazyfree.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"
#include "ui/object.h"

namespace {

class DepthdtlEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    object_init();
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(fade_init(), 0);
  }
};
const auto *const env = ::testing::AddGlobalTestEnvironment(new DepthdtlEnv);

ss_time at(int h, int m, int s) { return sstime_pack(s, m, h, 10, 2, 2014); }

std::vector<uint64_t> level_orders(const ss_stock *s, int side, uint32_t price) {
  std::vector<uint64_t> v;
  for (const ss_depth_level *l = s->levels[side]; l; l = l->next)
    if (l->price == price)
      for (const ss_depth_order *o = l->orders; o; o = o->next) v.push_back(o->volume);
  return v;
}

std::vector<uint64_t> rows(widget *w) {
  uint64_t buf[512];
  uint32_t n = depthdtl_volumes(w, buf, 512);
  return std::vector<uint64_t>(buf, buf + std::min<uint32_t>(n, 512));
}

class Depthdtl : public ::testing::Test {
 protected:
  void SetUp() override {
    ssclient_fini();
    ASSERT_EQ(0, start_terminal_model());
    s_ = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
    ASSERT_NE(s_, nullptr);
    w_ = depthdtl_new(nullptr);
    ASSERT_NE(w_, nullptr);
  }
  void TearDown() override {
    widget_delete(w_);
    ssmodel_fini();
  }
  // Orders on a side before the level of `price` (better levels), and at it.
  void counts(int side, uint32_t price, uint32_t *ahead, uint32_t *at_level, uint32_t *total) {
    *ahead = *at_level = *total = 0;
    for (const ss_depth_level *l = s_->levels[side]; l; l = l->next) {
      const bool better = side == 0 ? l->price > price : l->price < price;
      if (better) *ahead += l->count;
      if (l->price == price) *at_level = l->count;
      *total += l->count;
    }
  }
  // One random operation through the model; true when the model took it.
  bool random_op(std::mt19937 &rng, int t) {
    const int side = int(rng() % 2);
    const uint32_t price = side == 0 ? 1000 - 5 * (rng() % 5) : 1010 + 5 * (rng() % 5);
    uint32_t ahead, at_level, total;
    counts(side, price, &ahead, &at_level, &total);
    const int op = int(rng() % 10);
    const ss_time when = at(10, t / 60 % 60, t % 60);
    if (op < 5 || total == 0) {
      const uint32_t pos = ahead + 1 + uint32_t(rng() % (at_level + 1));
      return ssevent_add_depth(s_, when, side, price, 1 + rng() % 500, pos, nullptr) == 0;
    }
    const uint32_t pos = 1 + uint32_t(rng() % total);
    if (op < 8) return ssevent_amend_depth(s_, when, side, pos, 1 + rng() % 500) == 0;
    return ssevent_delete_depth(s_, when, side, pos) == 0;
  }
  void expect_every_step_matches(ss_event *until, const char *what) {
    for (int side = 0; side < 2; side++)
      for (int k = 0; k < 5; k++) {
        const uint32_t price = side == 0 ? 1000 - 5 * k : 1010 + 5 * k;
        depthdtl_show_price(w_, s_, 0, side, price, until);
        EXPECT_EQ(rows(w_), level_orders(s_, side, price)) << what << " side " << side << " price " << price;
      }
  }
  ss_stock *s_ = nullptr;
  widget *w_ = nullptr;
};

TEST_F(Depthdtl, ReplayedRowsEqualTheModelsLevel) {
  for (uint32_t seed : {1u, 7u, 42u, 1234u}) {
    std::mt19937 rng(seed);
    int applied = 0;
    for (int t = 0; t < 400; t++) applied += random_op(rng, t);
    ASSERT_GT(applied, 200) << seed;
    ASSERT_NE(s_->events.newest, nullptr);
    expect_every_step_matches(s_->events.newest, "replay");
    ssevent_clear_depth(s_, at(11, 0, 0), 2);
    ASSERT_EQ(s_->levels[0], nullptr);
  }
}

TEST_F(Depthdtl, FollowedRowsEqualTheModelsLevel) {
  std::mt19937 rng(99);
  for (int t = 0; t < 150; t++) random_op(rng, t);
  ss_event *mid = s_->events.newest;
  for (int t = 150; t < 400; t++) random_op(rng, t);
  for (int side = 0; side < 2; side++)
    for (int k = 0; k < 5; k++) {
      const uint32_t price = side == 0 ? 1000 - 5 * k : 1010 + 5 * k;
      depthdtl_show_price(w_, s_, 0, side, price, mid);
      depthdtl_follow(w_, s_->events.newest);
      EXPECT_EQ(rows(w_), level_orders(s_, side, price)) << "side " << side << " price " << price;
    }
}

TEST_F(Depthdtl, LiveLevelWithoutAnEvent) {
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 0), 0, 1000, 10, 1, nullptr));
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 1), 0, 1000, 20, 2, nullptr));
  depthdtl_show_price(w_, s_, 0, 0, 1000, nullptr);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{10, 20}));
  LogCapture cap;
  depthdtl_show_price(w_, s_, 0, 0, 990, nullptr);
  EXPECT_TRUE(rows(w_).empty());
  EXPECT_TRUE(cap.has("can't find 990"));
}

TEST_F(Depthdtl, BetterAddMovesThePlaceDeleteFadesFollowBackRebuilds) {
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 0), 0, 1000, 10, 1, nullptr));
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 1), 0, 1000, 20, 2, nullptr));
  ss_event *first = s_->events.newest;
  depthdtl_show_price(w_, s_, 0, 0, 1000, first);
  EXPECT_EQ(depthdtl_cast(w_)->place, 0u);
  // A better bid: every later position is one further from the rows.
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 2), 0, 1005, 5, 1, nullptr));
  ASSERT_EQ(0, ssevent_amend_depth(s_, at(10, 0, 3), 0, 3, 25));  // the second order at 1000
  depthdtl_follow(w_, s_->events.newest);
  EXPECT_EQ(depthdtl_cast(w_)->place, 1u);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{10, 25}));
  // A delete while fades run: the row stays until its fade ends.
  ASSERT_EQ(0, ssevent_delete_depth(s_, at(10, 0, 4), 0, 2));
  depthdtl_follow(w_, s_->events.newest);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{25}));
  EXPECT_EQ(depthdtl_cast(w_)->row_count, 2u);
  fade_hold();  // finishing every fade at once would be a timer's job; a
  fade_stop_owner(&depthdtl_cast(w_)->removals);  // stop drops it silently
  fade_release();
  // Following back to an older event rebuilds to it.
  depthdtl_follow(w_, first);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{10, 20}));
  EXPECT_EQ(depthdtl_cast(w_)->row_count, 2u);
}

TEST_F(Depthdtl, TradeFormListsTheTradesOfTheStepFromTheTrade) {
  const uint32_t prices[4] = {1000, 1005, 1000, 1000};
  for (int i = 0; i < 4; i++)
    ASSERT_EQ(0, ssevent_apply_trade(s_, at(10, 1, i), prices[i], 100 + uint64_t(i), 1, 1, 1, 0, 0, 0, 0,
                                     nullptr, nullptr));
  ASSERT_EQ(s_->trades.count, 4u);
  ss_trade *first = s_->trades.head, *third = first->next->next;
  depthdtl_show_entry(w_, s_, 0, first, nullptr);
  EXPECT_EQ(depthdtl_cast(w_)->side, -1);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{100, 102, 103}));
  EXPECT_EQ(depthdtl_cast(w_)->place, 0u);
  depthdtl_show_entry(w_, s_, 0, third, nullptr);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{102, 103}));
  EXPECT_EQ(depthdtl_cast(w_)->place, 2u);
  // With depth events recorded and the window's event given, the trade
  // form still lists trades.
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 2, 0), 0, 1000, 10, 1, nullptr));
  depthdtl_show_entry(w_, s_, 0, first->next, s_->events.newest);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{101}));
  // Following: a later trade of the step joins, one of another step not.
  ASSERT_EQ(0, ssevent_apply_trade(s_, at(10, 3, 0), 1005, 7, 1, 1, 1, 0, 0, 0, 0, nullptr, nullptr));
  ASSERT_EQ(0, ssevent_apply_trade(s_, at(10, 3, 1), 1000, 8, 1, 1, 1, 0, 0, 0, 0, nullptr, nullptr));
  depthdtl_follow(w_, s_->events.newest);
  EXPECT_EQ(rows(w_), (std::vector<uint64_t>{101, 7}));
}

// The trade form's rows carry the figures of each trade's break record as
// the model keeps them (conditions, second value, as-at date, brokers),
// from the list and from a followed trade event; a trade without one has
// none.
TEST_F(Depthdtl, TradeFormRowsCarryTheTradesBreakFigures) {
  struct {
    uint64_t conditions, second;
    uint32_t as_at;
    const char *buyer, *seller;
  } trades[] = {
      {0x2 | 0x80, 5000, sstime_pack(0, 0, 0, 7, 2, 2014), "ABC", "XYZ"},
      {0, 0, 0, nullptr, nullptr},
      {0x400, 0, 0, "ABC", nullptr},
  };
  for (int i = 0; i < 3; i++) {
    auto &t = trades[i];
    ASSERT_EQ(0, ssevent_apply_trade(s_, at(10, 1, i), 1000, 100 + uint64_t(i), 1, 1, 1, 0, t.conditions, t.second,
                                     t.as_at, t.buyer, t.seller));
  }
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 2, 0), 0, 1000, 10, 1, nullptr));
  depthdtl_show_entry(w_, s_, 0, s_->trades.head, s_->events.newest);
  // A later trade of the step, followed.
  ASSERT_EQ(0, ssevent_apply_trade(s_, at(10, 3, 0), 1000, 9, 1, 1, 1, 0, 0x1, 77, 0, nullptr, "QRS"));
  depthdtl_follow(w_, s_->events.newest);
  const depthdtl *d = depthdtl_cast(w_);
  std::vector<std::string> got;
  for (const depthdtl_row *r = d->rows; r; r = r->next)
    got.push_back(std::to_string(r->volume) + " " + std::to_string(r->conditions) + " " +
                  std::to_string(r->second_value) + " " + std::to_string(r->as_at) + " " + r->buyer + "/" + r->seller);
  // Each row against the model's record of its trade.
  std::vector<std::string> want;
  for (const ss_trade *t = s_->trades.head; t; t = t->next) {
    const ss_trade_detail *b = ssmodel_trade_detail(t);
    auto code = [](uint64_t broker) {
      return broker ? std::string(reinterpret_cast<const ss_broker *>(uintptr_t(broker))->code) : std::string();
    };
    want.push_back(std::to_string(t->volume) + " " + std::to_string(b ? b->conditions : 0) + " " +
                   std::to_string(b ? b->second_value : 0) + " " + std::to_string(b ? b->date : 0) + " " +
                   (b ? code(b->buyer) : "") + "/" + (b ? code(b->seller) : ""));
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(got, (std::vector<std::string>{"100 130 5000 " + std::to_string(trades[0].as_at) + " ABC/XYZ",
                                           "101 0 0 0 /", "102 1024 0 0 ABC/", "9 1 77 0 /QRS"}));
}

int g_requests = 0;
int fake_request(instr *, ss_time) { return ++g_requests, 0; }

TEST_F(Depthdtl, MissingDayRequestedOldRowsCleared) {
  ASSERT_EQ(0, ssevent_add_depth(s_, at(10, 0, 0), 0, 1000, 10, 1, nullptr));
  depthdtl_show_price(w_, s_, 0, 0, 1000, s_->events.newest);
  ASSERT_EQ(rows(w_).size(), 1u);
  depthdtl_set_day_request(fake_request);
  ss_stock *other = ssmodel_get_stock(ssmodel_exchange(0), "RIO");
  ASSERT_NE(other, nullptr);
  const ss_time earlier = sstime_pack_date(3, 2, 2014);
  depthdtl_show_price(w_, other, earlier, 0, 1000, nullptr);
  EXPECT_EQ(g_requests, 1);
  EXPECT_TRUE(rows(w_).empty());
  EXPECT_EQ(depthdtl_get_instr(w_), other);
  // A follow with the first stock's event does nothing while waiting.
  depthdtl_follow(w_, s_->events.newest);
  EXPECT_TRUE(rows(w_).empty());
  depthdtl_set_day_request(nullptr);
}

}  // namespace
