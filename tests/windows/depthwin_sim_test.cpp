// End to end: a depth window follows a stock of the market simulator while
// its book moves. The client's io thread reads the simulator's stream on
// loopback; this thread plays the user interface, delivering changes to the
// window. After every delivery that caught up with the stream, the window's
// table and bars equal the simulator's own book, price step by price step
// and order by order. Then the window is played back to earlier moments of
// the day, and each replayed book equals the simulator's book as it stood
// then.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "lib/fade.h"
#include "lib/timer.h"
#include "sim.h"
#include "sim_msg.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testsimclient.h"
#include "ui/box.h"
#include "ui/object.h"
#include "windows/depthbars.h"
#include "windows/depthtable.h"
#include "windows/depthwin.h"
#include "depthsteps.h"

namespace {

class Env : public ClientRuntime {
 public:
  void SetUp() override {
    ClientRuntime::SetUp();
    object_init();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new Env);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
ss_time at(int h, int mi, int s) { return sstime_pack(s, mi, h, 12, 3, 2014); }
int no_redraw(widget *, const rect *, widget_update_fn, int) { return 0; }

// The simulator's book of the stock and the moment it stood so.
struct Snapshot {
  ss_time time;
  sim_stock_ref book;
};

class DepthSim : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_alice_sim(&sim));
    ASSERT_EQ(0, sim_add_exchange(sim, test_exchange(0, at(9, 0, 0), 50, true)));
    sim_market_options o;
    o.index = 0;
    o.brokers = true;
    o.date = kDay;
    market = sim_market_create(o);
    ASSERT_EQ(0, sim_add_instrument(sim, 0, kCode));
    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ssclient_set_yield(2000, 1);
    old_queue = widget_set_queue(no_redraw);
    timer_init();
    ASSERT_EQ(fade_init(), 0);
  }
  void TearDown() override {
    {
      core_lock lock;
      if (root) widget_delete(root);
    }
    stop(10000);
    sim_destroy(sim);
    fade_fini();
    timer_fini();
    widget_set_queue(old_queue);
    ssclient_fini();
    sim_market_destroy(market);
  }
  void pump() {
    core_lock lock;
    ssclient_deliver();
  }
  bool caught_up() {
    pump();
    return ssproto_exchange_position(0) == sim_stream_length(sim, 0);
  }
  void unit(uint64_t seed, int ops) {
    ASSERT_EQ(ops, sim_market_script(market, seed, {kCode}, ops, &t));
    ASSERT_EQ(0, sim_market_flush(market, sim));
  }
  void expect_window_equals(const sim_stock_ref &r, const char *what) {
    depthwin_child *table = depthwin_get_child(win, 2), *bars = depthwin_get_child(win, 1);
    for (int side = 0; side < 2; side++) {
      std::vector<std::pair<uint32_t, uint64_t>> orders;
      for (const sim_level &l : r.sides[side])
        for (uint64_t v : l.orders) orders.push_back({l.price, v});
      std::vector<DepthStep> rows, blocks;
      expected_steps(orders, 1, &rows, &blocks);
      EXPECT_EQ(table_steps(table, side), rows) << what << " table side " << side;
      EXPECT_EQ(bar_steps(bars, side), blocks) << what << " bars side " << side;
    }
  }

  // A shown depth window on the stock (core lock held).
  void open_window(ss_stock *stock) {
    root = widget_new(nullptr, vbox_type());
    widget_show(root);
    win = depthwin_new(root);
    win->r = {0, 0, 500, 300};
    win->cls->geometry_changed(win);
    depthwin_set_instrument(win, stock);
  }

  static constexpr const char *kCode = "DPTH";
  sim_market *market = nullptr;
  ss_time t = at(10, 0, 0);
  widget_queue_fn old_queue = nullptr;
  widget *root = nullptr;
  widget *win = nullptr;
};

TEST_F(DepthSim, TheWindowFollowsTheSimulatorsBookAndReplaysIt) {
  ASSERT_NO_FATAL_FAILURE(start_sim_until_online());
  // The stock's first orders come with the stream; the window then opens it
  // and asks for today's events, which the simulator answers from its books.
  ASSERT_NO_FATAL_FAILURE(unit(99, 30));
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  ss_stock *stock;
  {
    core_lock lock;
    stock = ssmodel_find_stock(ssmodel_exchange(0), kCode);
    ASSERT_NE(stock, nullptr);
    open_window(stock);
  }
  ASSERT_TRUE(wait_for(
      [&] {
        pump();
        core_lock lock;
        return (stock->flags & 0x13) == 0x13;
      },
      10000));
  std::vector<Snapshot> snaps;
  int compared = 0, both_sides = 0;
  for (int u = 0; u < 12; u++) {
    ASSERT_NO_FATAL_FAILURE(unit(100 + uint64_t(u), 30));
    ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
    pump();
    core_lock lock;
    const sim_stock_ref *r = sim_market_stock(market, kCode);
    ASSERT_NE(r, nullptr);
    if (!r->sides[0].empty() && !r->sides[1].empty()) both_sides++;
    expect_window_equals(*r, ("after unit " + std::to_string(u)).c_str());
    compared++;
    // The next unit starts at least a second later: the book as of `t`.
    t = sstime_add_seconds(t, 1);
    snaps.push_back({t, *r});
  }
  EXPECT_EQ(compared, 12);
  EXPECT_GT(both_sides, 6) << "books with orders on both sides were compared";
  // The client read the stock's whole day from the stream's start, so its
  // event list is today's.
  core_lock lock;
  ASSERT_GT(stock->events.count, 100u);
  ssmodel_set_delta(ssmodel_exchange(0), sstime_add_seconds(t, 3600));
  for (size_t k : {size_t(0), size_t(3), size_t(7), snaps.size() - 2}) {
    depthwin_play_to(win, snaps[k].time, 1);
    ASSERT_TRUE(depthwin_is_replaying(win)) << k;
    expect_window_equals(snaps[k].book, ("replayed to snapshot " + std::to_string(k)).c_str());
  }
}

// An earlier day: the simulator keeps the stock's saved stream of the day
// before (a market of its own, written as a past day's fill carries it) and
// answers the window's request for that day's events with it.
TEST_F(DepthSim, APastDayReplaysToTheSimulatorsBookThen) {
  const ss_time yesterday = sstime_pack_date(11, 3, 2014);
  sim_market_options po;
  po.index = 0;
  po.brokers = true;
  po.date = yesterday;
  po.stock_stream = true;
  sim_market *past = sim_market_create(po);
  ss_time pt = sstime_pack(0, 0, 10, 11, 3, 2014);
  std::vector<Snapshot> snaps;
  std::vector<uint8_t> stream;
  for (int u = 0; u < 8; u++) {
    ASSERT_EQ(25, sim_market_script(past, 500 + uint64_t(u), {kCode}, 25, &pt));
    sim_market_take(past, &stream);
    pt = sstime_add_seconds(pt, 1);
    snaps.push_back({pt, *sim_market_stock(past, kCode)});
  }
  ASSERT_EQ(0, sim_set_past_day(sim, 0, kCode, yesterday, stream));
  ASSERT_NO_FATAL_FAILURE(start_sim_until_online());
  ASSERT_NO_FATAL_FAILURE(unit(99, 10));
  ASSERT_TRUE(wait_for([this] { return caught_up(); }, 20000));
  ss_stock *stock;
  {
    core_lock lock;
    stock = ssmodel_find_stock(ssmodel_exchange(0), kCode);
    ASSERT_NE(stock, nullptr);
    ssevent_enable_day_records(1);
    open_window(stock);
    depthwin_play_to(win, snaps[2].time, 1);
    EXPECT_EQ(depthwin_get_book(win)->awaiting_history, 1u) << "the day is asked for";
  }
  // The answer arrives; the change handler resumes the play.
  ASSERT_TRUE(wait_for(
      [&] {
        pump();
        core_lock lock;
        return depthwin_get_book(win)->awaiting_history == 0;
      },
      10000));
  core_lock lock;
  ASSERT_TRUE(depthwin_is_replaying(win));
  const ss_day *day = nullptr;
  for (const ss_day *d = stock->days.head; d; d = d->next)
    if (d->date == yesterday) day = d;
  ASSERT_NE(day, nullptr);
  EXPECT_TRUE(day->flags & kDayFlagEventsLoaded);
  EXPECT_GT(day->events.count, 100u) << "the day's events came from the simulator's stream";
  for (const Snapshot &sn : snaps) ASSERT_FALSE(sn.book.sides[0].empty() && sn.book.sides[1].empty());
  expect_window_equals(snaps[2].book, "yesterday, snapshot 2");
  for (size_t k : {size_t(5), size_t(0), snaps.size() - 1}) {
    depthwin_play_to(win, snaps[k].time, 1);
    expect_window_equals(snaps[k].book, ("yesterday, snapshot " + std::to_string(k)).c_str());
  }
  sim_market_destroy(past);
}

}  // namespace
