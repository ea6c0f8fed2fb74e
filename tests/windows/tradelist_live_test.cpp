// End to end under Xvfb: a market window of role tradelist in a real gui
// window, its client signed on to the simulator's live market (the market
// `ambit-sim --live` runs, here in-process). The list asks for the stock's
// events and lists them; its rows' volumes sum to the model's volume less
// the trades it skips; a trade that arrives flashes its row (pixels read
// from the X server); grouped by minute, every row's VWAP equals one
// computed here from the model's trades; scrolled past its oldest row it
// loads the previous trading day from the simulator, whose trades it
// generated from its seed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "plat.h"
#include "sim.h"
#include "sim_days.h"
#include "sim_history.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssio.h"
#include "ssmodel.h"
#include "style.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "ui/gui.h"
#include "windows/tradelist.h"
#include "windows/window.h"

namespace {

constexpr int kW = 640, kH = 400;

class TradelistLive : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ssio_set_default_host("");
    ASSERT_TRUE(drawstart_up());
  }
  static void TearDownTestSuite() {
    drawstart_down();
  }

 protected:
  void SetUp() override {
    int port = 0;
    ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 150, 34, 3, &port));
    code = sim_market_code(1);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ssclient_set_yield(2000, 1);
    thread = plat_thread_create(
        [](void *arg) {
          auto *self = static_cast<TradelistLive *>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
    ASSERT_TRUE(wait_for(
        [this] {
          core_lock lock;
          ssclient_deliver();
          ss_exchange *ex = ssmodel_exchange(0);
          stock = ex ? ssmodel_find_stock(ex, code.c_str()) : nullptr;
          return ssclient_is_online() && stock && stock->trades.count > 0;
        },
        15000));
  }

  void TearDown() override {
    if (root) {
      core_lock lock;
      guitest_window::close_all();
      widget_delete(root);
      window_destroy_all();
    }
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }, 10000));
      plat_thread_join(thread);
      plat_thread_cancel(thread);
    }
    sim_live_stop(live);
    sim_destroy(sim);
    if (client) ssclient_fini();
  }

  // One pass of the frame loop after the model's changes are delivered,
  // as the terminal runs them: under the core lock.
  void pass() {
    core_lock lock;
    ssclient_deliver();
    gui_tick();
  }
  bool until(const std::function<bool()> &cond, int ms = 15000) {
    return wait_for(
        [&] {
          pass();
          core_lock lock;
          return cond();
        },
        ms);
  }

  void open_window() {
    core_lock lock;
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, kW, kH};
    window_set_role(w, kRoleTradelist);
    ASSERT_TRUE(gw.open(root, {40, 40, kW, kH}));
    widget_show_subtree(root);
    container_cls(w)->layout(w);
    w->cls->show_children(w);
    window_set_instrument(w, stock);
    list = tradelist_cast(window_get_content(w, kRoleTradelist));
    ASSERT_TRUE(widget_is_shown(list));
  }

  sim_server *sim = nullptr;
  sim_live *live = nullptr;
  std::string code;
  ss_stock *stock = nullptr;
  bool client = false;
  int32_t thread = -1;
  std::atomic<bool> done{false};
  int rc = 0;
  tw *root = nullptr;
  window *w = nullptr;
  tradelist *list = nullptr;
  guitest_window gw;
};

uint32_t brute_vwap(const std::vector<const ss_trade *> &trades) {
  unsigned __int128 pv = 0;
  uint64_t v = 0;
  for (const ss_trade *t : trades) {
    pv += (unsigned __int128)t->price * t->volume;
    v += t->volume;
  }
  return v ? uint32_t((pv + v / 2) / v) : 0;
}

TEST_F(TradelistLive, ListsFlashesGroupsAndLoadsThePreviousDay) {
  // The client drops what it holds of the stock, as for a stock it never
  // loaded: only the answer to the list's request can bring the trades back.
  {
    core_lock lock;
    ASSERT_EQ(0, ssevent_clear_depth(stock, 0, 2));
    ssmodel_free_trades(stock);
    stock->flags &= ~(kInRequestBits | kRqAllRequested);
  }
  ASSERT_NO_FATAL_FAILURE(open_window());
  // The list asks for today's events and the simulator's answer (its books
  // and every trade of the stock) fills it.
  ASSERT_TRUE(until([&] { return list->first_row != nullptr && (stock->flags & kRqTradesLoaded); }));
  EXPECT_GE(sim_wait_entry(sim, 20, 0, 0, nullptr), 0) << "today's events were asked for";

  // Volumes: every kept trade is a row of its own.
  {
    core_lock lock;
    ssclient_deliver();
    uint64_t rows = 0, skipped = 0;
    for (const tradelist_row *r = list->first_row; r; r = r->older) rows += r->volume;
    for (const ss_trade *t = stock->trades.head; t; t = t->next)
      if ((t->bits & kTradeVolume) && tradelist_skips(list, t)) skipped += t->volume;
    EXPECT_GT(rows, 0u);
    EXPECT_EQ(rows, stock->volume - skipped);
  }

  // A new trade flashes its row.
  const tradelist_row *top = nullptr;
  {
    core_lock lock;
    top = list->first_row;
  }
  ASSERT_TRUE(until([&] { return list->first_row != top && list->first_row->fades[0].shown.i > 200; }));
  int32_t flash_y = 0, old_y = -1, lh = 0;
  uint32_t flash_c = 0, bg = 0;
  {
    core_lock lock;
    const style *st = style_cur();
    flash_c = style_colour(st, SC_FLASH);
    bg = style_colour(st, SC_GRID_BACKGROUND);
    lh = st->line_height;
    flash_y = list->first_row->y;
    // A row shown before whose own flash has ended.
    for (const tradelist_row *r = list->first_row; r && r->y >= 0; r = r->older)
      if (!r->fades[0].state && r->fades[0].shown.i == 0) {
        old_y = r->y;
        break;
      }
    widget_redraw(root);
    gw.settle();
  }
  ASSERT_GE(old_y, 0) << "a row at rest is shown";
  const int x = list->r.x + list->r.w - 3;
  uint32_t flashed = guitest_window_pixel(gw.xw, x, flash_y + lh / 2);
  uint32_t steady = guitest_window_pixel(gw.xw, x, old_y + lh / 2);
  EXPECT_TRUE(guitest_near(steady, bg, 6)) << std::hex << steady << " " << bg;
  EXPECT_FALSE(guitest_near(flashed, bg, 20)) << std::hex << flashed << " " << bg;
  EXPECT_TRUE(guitest_near(flashed, flash_c, 48)) << std::hex << flashed << " " << flash_c;

  // Grouped by minute: each row's VWAP from the model's trades.
  {
    core_lock lock;
    tradelist_set_group_by_seconds(list, 60);
  }
  ASSERT_TRUE(until([&] { return !list->rebuild_pending && list->first_row; }));
  {
    core_lock lock;
    ssclient_deliver();
    const ss_time today = stock->exchange->date & ~kSstimeSecondsMask;
    int rows = 0;
    for (const tradelist_row *r = list->first_row; r; r = r->older) {
      if ((r->from & ~kSstimeSecondsMask) != today) continue;
      std::vector<const ss_trade *> in;
      for (const ss_trade *t = stock->trades.head; t; t = t->next)
        if (!tradelist_skips(list, t) && t->time >= r->from && t->time < r->to) in.push_back(t);
      ASSERT_FALSE(in.empty());
      EXPECT_EQ(r->vwap, brute_vwap(in)) << r->from;
      EXPECT_EQ(r->count, in.size());
      rows++;
    }
    EXPECT_GT(rows, 0);
  }

  // Scrolled past its oldest row, the list loads the previous trading day.
  ss_time today = 0, previous = 0;
  {
    core_lock lock;
    today = stock->exchange->date & ~kSstimeSecondsMask;
    previous = sstime_sub_days(today, 1);
    while (sstime_is_weekend(previous)) previous = sstime_sub_days(previous, 1);
    window_select_row(w, 100000);
  }
  ASSERT_TRUE(until([&] { return list->oldest_day == previous; }, 20000));
  {
    core_lock lock;
    // The simulator's past day ends on the previous close its stream gives.
    ASSERT_NE(stock->close, 0u);
    std::vector<sim_trade> want = sim_day_trades(sim_options{}.seed, 0, code, today, previous, stock->close);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(want.back().price, stock->close) << "the previous day closes where today's market says";
    unsigned __int128 pv = 0;
    uint64_t volume = 0;
    for (const sim_trade &t : want) {
      pv += (unsigned __int128)t.price * t.volume;
      volume += t.volume;
    }
    uint64_t got_volume = 0;
    uint32_t got_count = 0;
    for (const tradelist_row *r = list->first_row; r; r = r->older) {
      if ((r->from & ~kSstimeSecondsMask) != previous) continue;
      got_volume += r->volume;
      got_count += r->count;
    }
    EXPECT_EQ(got_count, want.size());
    EXPECT_EQ(got_volume, volume);
    uint64_t value = 0;
    for (const tradelist_row *r = list->first_row; r; r = r->older)
      if ((r->from & ~kSstimeSecondsMask) == previous) value += r->value;
    EXPECT_LE(value, uint64_t(pv / 100));
    EXPECT_GE(value + 100, uint64_t(pv / 100)) << "rounded once per row";
  }
  EXPECT_GE(sim_wait_entry(sim, 63, 0, 0, nullptr), 0) << "the day was asked for";
}

}  // namespace
