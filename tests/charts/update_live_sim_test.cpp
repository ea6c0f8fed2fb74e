// A chart whose end is "now" against the simulator's live market (as
// `ambit-sim --live` runs it): the model's change callback marks the chart,
// and each update's open end is the stock's latest trade, moving on as the
// market trades.
#include <gtest/gtest.h>

#include <string>

#include "axis_fixture.h"
#include "charts/align.h"
#include "charts/alloc.h"
#include "charts/period.h"
#include "charts/ta.h"
#include "charts/update.h"
#include "sim.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"
#include "testsimclient.h"
#include "update_fixture.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

constexpr uint32_t kStocks = 3;

class ChartLive : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 300, 7, kStocks, &port));
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    ssclient_enable_requests(1);
    ASSERT_NO_FATAL_FAILURE(run_until_online());
    ASSERT_EQ(0, alloc_init());
    ASSERT_EQ(0, ta_init());
    update_set_hooks(nullptr);
    axes = fixed_axes();
  }
  void TearDown() override {
    if (watched) {
      core_lock lock;
      update_unwatch(p.get(), p->main);
    }
    stop(10000);
    sim_live_stop(live);
    sim_destroy(sim);
    ssclient_fini();
  }

  // The stock's latest trade a chart shows (one that sets the last price or
  // the high and low), null when none. Its price, not the stock's last: a
  // quote message may set the last price apart from any trade.
  static const ss_trade* latest_trade(const ss_stock* s) {
    for (const ss_trade* t = s->trades.tail; t; t = t->prev)
      if (!(t->bits & kTradeCancelled) && (t->bits & (kTradeSetsLast | kTradeHighLow))) return t;
    return nullptr;
  }

  // Delivers and updates the chart when marked, until its open end is the
  // stock's latest trade and later than `after`. What it saw at that moment
  // (under the same lock: the market moves on as soon as it is let go) is
  // kept for the checks.
  bool follows(ss_stock* s, ss_time after) {
    return wait_for(
        [&] {
          core_lock lock;
          ssclient_deliver();
          if (p->dirty) chart_update(p.get(), &axes);
          const ss_trade* last = latest_trade(s);
          if (!(p->count > 0 && last && last->time > after && p->times[p->count - 1] == last->time)) return false;
          seen_end = p->times[p->count - 1];
          seen_count = p->count;
          seen_close = p->close[p->count - 1];
          seen_price = last->price * 0.01;
          return true;
        },
        10000);
  }
  ss_time seen_end = 0;
  int32_t seen_count = 0;
  double seen_close = 0, seen_price = 0;

  sim_live* live = nullptr;
  chart_axes axes{};
  TestPlot p;
  bool watched = false;
};

TEST_F(ChartLive, TheOpenEndFollowsTrades) {
  ss_stock* s;
  {
    core_lock lock;
    s = ssmodel_get_stock(ssmodel_exchange(0), sim_market_code(1).c_str());
    ASSERT_NE(nullptr, s);
    chart_settings(p.get(), s, kRangeHours, 2, kPeriodNone, kSpanNow, 800, 400);
    p->type = 1;
    ASSERT_EQ(0, update_watch(p.get(), s));
    watched = true;
    ASSERT_EQ(0, chart_update(p.get(), &axes));
  }
  ASSERT_TRUE(follows(s, 0));
  const ss_time first_end = seen_end;
  const int32_t first_count = seen_count;
  EXPECT_DOUBLE_EQ(seen_price, seen_close);
  // The market trades on: the chart's end moves with it.
  ASSERT_TRUE(follows(s, first_end));
  EXPECT_GT(seen_count, first_count);
  EXPECT_GT(seen_end, first_end);
  EXPECT_DOUBLE_EQ(seen_price, seen_close);
}

}  // namespace
