// End to end: a fresh terminal loads a whole exchange from the simulator's
// catch-up snapshot. The simulator generates 5,000 stocks and 200 indices on
// exchange 0 (and a smaller exchange 3, whose depth-only list is inverted),
// serves them as summary messages before the streams, and the client signs
// on, reaches Online and must hold every stock and index exactly as
// generated: day values, depth, states, quote bases, resume times, open
// balances and auction figures. The load time and the process's peak memory
// are printed.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "decsum.h"
#include "plat.h"
#include "sim.h"
#include "sim_snapshot.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "testclient.h"
#include "testclock.h"
#include "testsnapshot.h"

namespace {

int short_sleep(int32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int32_t>(ms, 5)));
  return 0;
}

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

const ss_time kDay = sstime_pack_date(12, 3, 2014);
constexpr uint8_t kState = 50;

struct core_lock {
  core_lock() { ssclient_block(); }
  ~core_lock() { ssclient_unblock(); }
};

TEST(Snapshot, AFreshTerminalLoadsAWholeExchange) {
  const sim_snapshot big = sim_snapshot_generate(kExchangeAsx, kDay, kState, 11, 5000, 200, true);
  const sim_snapshot small = sim_snapshot_generate(kExchangeAxo, kDay, kState, 12, 300, 20);
  std::vector<uint8_t> big_bytes, small_bytes;
  ASSERT_EQ(0, sim_snapshot_write(big, &big_bytes));
  ASSERT_EQ(0, sim_snapshot_write(small, &small_bytes));

  sim_server* sim = sim_create(sim_options{});
  sim_user u;
  u.name = "alice";
  u.password = "secret";
  ASSERT_EQ(0, sim_add_user(sim, u));
  for (const sim_snapshot* snap : {&big, &small}) {
    sim_exchange e;
    e.index = snap->index;
    e.name = ssmodel_exchange_name(int32_t(snap->index));
    e.date = kDay;
    e.time = sstime_pack(0, 0, 11, 12, 3, 2014);
    e.state = kState;
    e.brokers = snap->brokers;
    ASSERT_EQ(0, sim_add_exchange(sim, e));
  }
  ASSERT_EQ(0, sim_set_snapshot(sim, kExchangeAsx, big_bytes));
  ASSERT_EQ(0, sim_set_snapshot(sim, kExchangeAxo, small_bytes));
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);

  ASSERT_EQ(0, ssclient_init(0, 12, 0x112));
  ssclient_enable_locking();
  ssclient_set_login_site("desk");
  ssclient_set_login("alice", "secret");
  ssclient_set_sleep_hook(short_sleep);
  ssio_set_servers(0);
  ssio_set_server("127.0.0.1", port);
  std::atomic<bool> done{false};
  struct run_arg {
    std::atomic<bool>* done;
  } arg{&done};
  const auto started = std::chrono::steady_clock::now();
  const int32_t thread = plat_thread_create(
      [](void* a) {
        ssclient_run();
        static_cast<run_arg*>(a)->done->store(true);
      },
      &arg);
  ASSERT_GE(thread, 0);
  const bool online = wait_for(
      [] {
        core_lock lock;
        ssclient_deliver();
        return ssclient_is_online() != 0;
      },
      60000);
  const auto loaded = std::chrono::steady_clock::now();
  EXPECT_TRUE(online);
  if (online) {
    core_lock lock;
    for (const sim_snapshot* snap : {&big, &small}) {
      SCOPED_TRACE(snap->index);
      ss_exchange* ex = ssmodel_exchange(int32_t(snap->index));
      EXPECT_TRUE(ex->flags & kExStockSummary);
      EXPECT_TRUE(ex->flags & kExIndexSummary);
      EXPECT_TRUE(ex->flags & kExNewsSummary);
      EXPECT_EQ(kState, ex->state);
      ASSERT_EQ(snap->stocks.size(), ex->speed_count);
      ASSERT_EQ(snap->indices.size(), ex->index_speed_count);
      EXPECT_EQ(snap->stocks.size(), ex->current.count);
      EXPECT_EQ(snap->indices.size(), ex->current_indices.count);
      for (size_t i = 0; i < snap->stocks.size(); i++) {
        expect_snapshot_stock(ssmodel_find_stock(ex, snap->stocks[i].code.c_str()), snap->stocks[i], int32_t(i));
        if (HasFailure()) break;
      }
      for (size_t i = 0; i < snap->indices.size(); i++)
        expect_snapshot_index(ssmodel_find_index(ex, snap->indices[i].code.c_str()), snap->indices[i], int32_t(i));
    }
  }
  rusage ru = {};
  getrusage(RUSAGE_SELF, &ru);
  printf("snapshot: %zu + %zu bytes, online after %lld ms, exchange 0 stock summary %u ms, peak rss %ld KB\n",
         big_bytes.size(), small_bytes.size(),
         static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(loaded - started).count()),
         decsum_last_duration_ms(), ru.ru_maxrss);

  ssclient_stop();
  EXPECT_TRUE(wait_for([&done] { return done.load(); }, 10000));
  plat_thread_join(thread);
  sim_destroy(sim);
  ssclient_fini();
}

}  // namespace
