// Chart update against the market simulator: a stock's daily chart, its
// five-day chart of trades and an index's three-day chart ask for their data
// once (the simulator's transcript shows every request) and, once the
// replies are in, hold exactly what the simulator generated. The charts are
// updated the way the widget does it: when the model's change callback of
// update_watch has marked them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axis_fixture.h"
#include "charts/align.h"
#include "charts/alloc.h"
#include "charts/period.h"
#include "charts/ta.h"
#include "charts/update.h"
#include "sim.h"
#include "sim_days.h"
#include "sim_history.h"
#include "sim_snapshot.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "testclient.h"
#include "testclock.h"
#include "testdataroot.h"
#include "testsimclient.h"
#include "update_fixture.h"

namespace {

// The wall clock stands at the simulator's day.
const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime(nullptr, sim_day_wall));

const ss_time kDay = sstime_pack_date(12, 3, 2014);
constexpr uint64_t kSeed = 1;  // the simulator's default seed

class ChartSim : public SimClientTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(make_test_sim(&sim, 50));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, "BHP"));
    ASSERT_EQ(0, sim_add_instrument(sim, 0, "XJO"));
    ASSERT_NO_FATAL_FAILURE(before_start());
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(init_test_client());
    ASSERT_EQ(0, dir.use());
    point_test_client(port);
    ssclient_enable_requests(1);
    ASSERT_NO_FATAL_FAILURE(run_until_online());
    ASSERT_EQ(0, alloc_init());
    ASSERT_EQ(0, ta_init());
    update_set_hooks(nullptr);
    axes = fixed_axes();
  }
  void TearDown() override {
    {
      core_lock lock;
      for (TestPlot* p : plots) update_unwatch(p->get(), (*p)->main);
    }
    stop(10000);
    ssclient_fini();
    sim_destroy(sim);
  }

  // What a fixture adds to the simulator before it starts.
  virtual void before_start() {}

  // A chart of `in` on 800 x 400 pixels, watching its instrument.
  void chart(TestPlot& p, instr* in, int32_t range, int32_t count, int32_t period, int32_t to_type) {
    chart_settings(p.get(), in, range, count, period, to_type, 800, 400);
    ASSERT_EQ(0, update_watch(p.get(), in));
    plots.push_back(&p);
  }

  // Delivers changes as the user interface does and updates the chart each
  // time its change callback marked it, until `done` holds.
  template <class Done>
  bool settle(TestPlot& p, Done done) {
    return wait_for(
        [&] {
          core_lock lock;
          ssclient_deliver();
          if (p->dirty) chart_update(p.get(), &axes);
          return done();
        },
        10000);
  }

  // The transcript's requests of `kind` about `code`.
  std::vector<sim_entry> requests(int32_t kind, const char* code) {
    std::vector<sim_entry> out;
    for (const sim_entry& e : sim_transcript(sim))
      if (e.kind == kind && e.code == code) out.push_back(e);
    return out;
  }

  ss_stock* stock() { return ssmodel_get_stock(ssmodel_exchange(0), "BHP"); }
  ss_index* index() { return ssmodel_get_index(ssmodel_exchange(0), "XJO"); }

  TempDataRoot dir{"ambit-chart-sim"};
  chart_axes axes{};
  std::vector<TestPlot*> plots;
};

TEST_F(ChartSim, DailyChartAsksOnceAndEqualsTheHistory) {
  const std::vector<ss_stock_point> want = sim_stock_history(kSeed, 0, "BHP", kDay, 0);
  TestPlot p;
  {
    core_lock lock;
    ASSERT_NO_FATAL_FAILURE(chart(p, stock(), kRangeAll, 1, kPeriodDays, kSpanFallback));
    ASSERT_EQ(0, chart_update(p.get(), &axes));
    EXPECT_EQ(1, p->eod);
  }
  ASSERT_TRUE(settle(p, [&] { return p->count == (int32_t)want.size(); })) << p->count;
  {
    core_lock lock;
    for (size_t i = 0; i < want.size(); i++) {
      EXPECT_EQ(want[i].date, p->times[i]) << i;
      EXPECT_DOUBLE_EQ(want[i].close * 0.01, p->close[i]) << i;
      EXPECT_DOUBLE_EQ(want[i].high * 0.01, p->high[i]) << i;
    }
    EXPECT_EQ(0, p->first_visible);
    EXPECT_EQ((int32_t)want.size() - 1, p->last_visible);
    // More updates ask for nothing more.
    for (int i = 0; i < 3; i++) {
      p->dirty = kChartDirtyAll;
      chart_update(p.get(), &axes);
    }
  }
  ASSERT_GE(sim_wait_entry(sim, 30, 0, 5000, nullptr), 0);
  EXPECT_EQ(1u, requests(30, "BHP").size());
}

TEST_F(ChartSim, FiveDayChartOfTradesAsksOnceAndEqualsThePastDays) {
  // Five days back from Wednesday 12 March: from Saturday 8 March; the
  // weekend asks for nothing, Monday and Tuesday come in one request.
  std::vector<sim_trade> want;
  for (int d : {10, 11})
    for (const sim_trade& t : sim_day_trades(kSeed, 0, "BHP", kDay, sstime_pack_date(d, 3, 2014))) want.push_back(t);
  ASSERT_EQ(2u * kSimDayTrades, want.size());
  TestPlot p;
  {
    core_lock lock;
    ASSERT_NO_FATAL_FAILURE(chart(p, stock(), kRangeDays, 5, kPeriodNone, kSpanNow));
    ASSERT_EQ(0, chart_update(p.get(), &axes));
    EXPECT_EQ(0, p->eod);
  }
  ASSERT_TRUE(settle(p, [&] { return p->count == (int32_t)want.size(); })) << p->count;
  {
    core_lock lock;
    for (size_t i = 0; i < want.size(); i++) {
      EXPECT_EQ(want[i].time, p->times[i]) << i;
      EXPECT_DOUBLE_EQ(want[i].price * 0.01, p->close[i]) << i;
      EXPECT_DOUBLE_EQ((double)want[i].volume, p->volume[i]) << i;
    }
    for (int i = 0; i < 3; i++) {
      p->dirty = kChartDirtyAll;
      chart_update(p.get(), &axes);
    }
  }
  ASSERT_GE(sim_wait_entry(sim, 64, 0, 5000, nullptr), 0);
  std::vector<sim_entry> days = requests(64, "BHP");
  ASSERT_EQ(1u, days.size());
  EXPECT_EQ(sstime_pack_date(10, 3, 2014), days[0].date);
  EXPECT_EQ(sstime_pack_date(11, 3, 2014), days[0].date2);
  EXPECT_EQ(1u, requests(20, "BHP").size());
  EXPECT_EQ(0u, requests(63, "BHP").size());
}

TEST_F(ChartSim, IndexChartAsksForEachPastDayOnce) {
  // Three days back: Tuesday, Monday and Sunday (born complete).
  std::vector<sim_index_tick> want;
  for (int d : {10, 11})
    for (const sim_index_tick& t : sim_index_day(kSeed, 0, "XJO", kDay, sstime_pack_date(d, 3, 2014)))
      want.push_back(t);
  TestPlot p;
  {
    core_lock lock;
    ASSERT_NO_FATAL_FAILURE(chart(p, index(), kRangeDays, 3, kPeriodMinutes, kSpanNow));
    ASSERT_EQ(0, chart_update(p.get(), &axes));
  }
  // One-minute bars of one tick each: the ticks themselves.
  ASSERT_TRUE(settle(p, [&] { return p->count == (int32_t)want.size(); })) << p->count;
  {
    core_lock lock;
    for (size_t i = 0; i < want.size(); i++) {
      EXPECT_EQ(want[i].time, p->times[i]) << i;
      EXPECT_DOUBLE_EQ(want[i].value * 0.01, p->close[i]) << i;
    }
    p->dirty = kChartDirtyAll;
    chart_update(p.get(), &axes);
  }
  ASSERT_GE(sim_wait_entry(sim, 70, 0, 5000, nullptr), 0);
  std::vector<sim_entry> days = requests(70, "XJO");
  ASSERT_EQ(2u, days.size());
  EXPECT_EQ(sstime_pack_date(11, 3, 2014), days[0].date);
  EXPECT_EQ(sstime_pack_date(10, 3, 2014), days[1].date);
  EXPECT_EQ(1u, requests(21, "XJO").size());
}

// The exchange's summary at sign-on carries the index's track of the day:
// its first chart after sign-on shows those values and asks the server for
// no ticks of today (it still asks for the past days it shows).
class IndexTrackChartSim : public ChartSim {
 protected:
  void before_start() override {
    sim_snapshot snap = sim_snapshot_generate(0, kDay, 50, kSeed, 0, 0);
    sim_snap_index x;
    x.code = "XJO";
    x.base = 500000;
    x.open = 500100;
    for (int m = 0; m < 5; m++) x.track.push_back({sstime_pack(0, m, 10, 12, 3, 2014), 500100 + 50 * uint32_t(m)});
    x.value = x.high = x.track.back().second;
    x.low = x.open;
    x.time = x.track.back().first;
    track = x.track;
    snap.indices.push_back(x);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(0, sim_snapshot_write(snap, &bytes));
    ASSERT_EQ(0, sim_set_snapshot(sim, 0, bytes));
  }
  std::vector<std::pair<ss_time, uint32_t>> track;
};

TEST_F(IndexTrackChartSim, TheSummarysTrackIsNotAskedForAgain) {
  TestPlot p;
  {
    core_lock lock;
    ASSERT_EQ(track.size(), index()->ticks.count);
    ASSERT_NO_FATAL_FAILURE(chart(p, index(), kRangeDays, 1, kPeriodMinutes, kSpanNow));
    ASSERT_EQ(0, chart_update(p.get(), &axes));
  }
  ASSERT_TRUE(settle(p, [&] { return p->count == int32_t(track.size()); })) << p->count;
  {
    core_lock lock;
    for (size_t i = 0; i < track.size(); i++) {
      EXPECT_EQ(track[i].first, p->times[i]) << i;
      EXPECT_DOUBLE_EQ(track[i].second * 0.01, p->close[i]) << i;
    }
    p->dirty = kChartDirtyAll;
    chart_update(p.get(), &axes);
  }
  // A request sent after the chart's would follow it on the link: once the
  // simulator has this one, it has everything the chart asked for.
  size_t from = sim_transcript(sim).size();
  {
    core_lock lock;
    ASSERT_EQ(0, ssclient_request_stock_history(stock()));
  }
  ASSERT_GE(sim_wait_entry(sim, 30, from, 5000, nullptr), 0);
  EXPECT_EQ(0u, requests(21, "XJO").size());
}

}  // namespace
