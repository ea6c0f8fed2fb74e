// End to end: the client signs on to the simulator's live market (the
// market `ambit-sim --live` runs, here in-process) and a "Top Rises" scan is
// refreshed several times while the market moves. After each refresh, with
// the model standing still under the core lock, the scan's result must equal
// a brute-force ranking of the client's model written here: every current,
// traded stock of the exchange with a positive change, by percent change
// (largest first), equal changes by code, cut to the scan's limit. A watcher
// applying the published events row by row must hold the same rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "lib/scan.h"
#include "scanrows.h"
#include "lib/timer.h"
#include "plat.h"
#include "sim.h"
#include "sim_live.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "ssutil.h"
#include "testclient.h"
#include "testclock.h"
#include "testsim.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

constexpr uint32_t kStocks = 500;  // enough that more stocks rise than the limit keeps

class ScanLive : public ::testing::Test {
 protected:
  void SetUp() override {
    // The simulator as the program builds it, with the live market on ASX.
    int port = 0;
    ASSERT_NO_FATAL_FAILURE(start_live_today_sim(&sim, &live, 400, 31, kStocks, &port));
    for (uint32_t i = 0; i < kStocks; i++) codes.push_back(sim_market_code(1 + i * 37));

    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    client = true;
    ssclient_set_yield(2000, 1);  // hand the lock to this thread now and then
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, timer_init());
    ASSERT_EQ(0, scan_init());
    lists = true;

    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<ScanLive*>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  void TearDown() override {
    if (lists) {
      core_lock lock;
      scan_fini();
      timer_fini();
      config_shutdown();
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

  void pump() {
    core_lock lock;
    ssclient_deliver();
  }

  // Brute force over the client's model (call under the core lock).
  // `passing`: how many passed before the cut.
  std::vector<instr*> reference(const scan* s, size_t* passing) {
    ss_exchange* ex = ssmodel_exchange(0);
    std::vector<ss_stock*> pass;
    for (const std::string& code : codes) {
      ss_stock* x = ssmodel_find_stock(ex, code.c_str());
      if (!x || !(x->flags & kInCurrent)) continue;
      if (ssutil_is_cx_pm_code(x) || ssutil_nzx_plain_code(x)) continue;
      if (!x->volume || x->change <= 0) continue;
      pass.push_back(x);
    }
    std::sort(pass.begin(), pass.end(), [](const ss_stock* a, const ss_stock* b) {
      if (a->change_pct != b->change_pct) return a->change_pct > b->change_pct;
      return strcmp(a->code, b->code) < 0;
    });
    *passing = pass.size();
    std::vector<instr*> out(pass.begin(), pass.end());
    if (out.size() > s->limit) out.resize(s->limit);
    return out;
  }

  sim_server* sim = nullptr;
  sim_live* live = nullptr;
  std::vector<std::string> codes;
  bool client = false, lists = false;
  int32_t thread = -1;
  std::atomic<bool> done{false};
  int rc = 0;
};

TEST_F(ScanLive, TopRisesEqualsBruteForceRankingAfterEachRefresh) {
  ASSERT_TRUE(wait_for(
      [this] {
        pump();
        return ssclient_is_online() != 0;
      },
      10000));

  scan* s = nullptr;
  ScanRows rows;
  int owner = 0;
  {
    core_lock lock;
    s = scan_new_preset("Top Rises");
    ASSERT_NE(nullptr, s);
    scan_set_instr_filter(s, kScanTraded);
    scan_set_change_filter(s, 1);
    scan_set_order(s, 3);
    scan_set_reversed(s, 0);
    scan_clear_exchanges(s);
    scan_set_exchange(s, 0, 1);
    ASSERT_EQ(0, scan_watch(s, scan_rows_apply, &owner, &rows, 0));
    EXPECT_EQ(100u, s->limit);
  }

  constexpr int kRounds = 8;
  size_t cut = 0, ties = 0, changes = 0;
  std::vector<instr*> before;
  for (int round = 0; round < kRounds; round++) {
    SCOPED_TRACE(round);
    // Let the market move: the client must have taken in everything the
    // simulator had written some messages after the previous refresh.
    const uint64_t target = sim_live_count(live) + 60;
    ASSERT_TRUE(wait_for([&] { return sim_live_count(live) >= target; }, 10000));
    const uint64_t length = sim_stream_length(sim, 0);
    ASSERT_TRUE(wait_for(
        [&] {
          pump();
          return ssproto_exchange_position(0) >= length;
        },
        10000))
        << ssproto_exchange_position(0) << "/" << length;

    core_lock lock;
    ssclient_deliver();
    if (round % 3 == 0) scan_changed(s, kScanFull);  // a full evaluation now and then
    ASSERT_EQ(1, scan_refresh_now(s));
    const std::vector<instr*> got(s->results, s->results + s->result_count);
    size_t passing = 0;
    const std::vector<instr*> want = reference(s, &passing);
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); i++)
      EXPECT_EQ(want[i], got[i]) << "row " << i << ": want " << want[i]->code << " got " << got[i]->code;
    EXPECT_EQ(got, rows.rows);
    EXPECT_FALSE(rows.bad);
    EXPECT_EQ(passing, (size_t)s->matched);
    if (passing > s->limit) cut++;
    for (size_t i = 1; i < want.size(); i++)
      if (static_cast<ss_stock*>(want[i])->change_pct == static_cast<ss_stock*>(want[i - 1])->change_pct) ties++;
    if (round && got != before) changes++;
    before = got;
  }
  EXPECT_GT(cut, 0u) << "more stocks rose than the limit keeps";
  EXPECT_GT(ties, 0u) << "equal percent changes ranked by code";
  EXPECT_GT(changes, 0u) << "the ranking moved with the market";
  {
    core_lock lock;
    EXPECT_EQ(0, scan_unwatch(s, &owner));
  }
  EXPECT_EQ(1, sim_get_stats(sim).logins);
}

}  // namespace
