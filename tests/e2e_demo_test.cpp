// End to end against the simulator's demo scenario, built in-process by the
// same code as `ambit-sim --scenario demo`: every stream opens its day and
// states the exchange's trading state. The client signs on with the
// terminal's options on loopback, must stay on its one link through the
// catch-up, take the day's date and state, read the live market the
// simulator writes onto ASX's stream, and resume after a dropped link.
#include <gtest/gtest.h>

#include <atomic>

#include "plat.h"
#include "sim.h"
#include "sim_live.h"
#include "sim_scenario.h"
#include "ssclient.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"
#include "testclient.h"
#include "testclock.h"
#include "testmodel.h"

namespace {

const auto* g_env = ::testing::AddGlobalTestEnvironment(new ClientRuntime);

constexpr uint8_t kState = 50;

class DemoScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_options o;
    o.name = "ambit-sim";
    sim = sim_create(o);
    sim_user u;
    u.name = "alice";
    u.password = "secret";
    ASSERT_EQ(0, sim_add_user(sim, u));
    now = sstime_now();
    ASSERT_EQ(0, sim_build_scenario(sim, "demo", now, kState));
    port = sim_start(sim, 0);
    ASSERT_GT(port, 0);
    ASSERT_NO_FATAL_FAILURE(start_test_client(port));
    thread = plat_thread_create(
        [](void* arg) {
          auto* self = static_cast<DemoScenario*>(arg);
          self->rc = ssclient_run();
          self->done = true;
        },
        this);
    ASSERT_GE(thread, 0);
  }

  void TearDown() override {
    sim_live_stop(live);
    if (thread >= 0) {
      ssclient_stop();
      EXPECT_TRUE(wait_for([this] { return done.load(); }));
      plat_thread_join(thread);
      plat_thread_cancel(thread);
    }
    sim_destroy(sim);
    ssclient_fini();
  }

  // Online on the first link with every stream read to its end.
  void expect_caught_up_on_one_link() {
    ASSERT_TRUE(sim_wait_logins(sim, 1, 5000));
    ASSERT_TRUE(wait_for([] { return ssclient_is_online() != 0; }));
    for (int32_t i : {0, 1, 3})
      EXPECT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, uint32_t(i)); }))
          << "exchange " << i;
    const sim_stats st = sim_get_stats(sim);
    EXPECT_EQ(1, st.connections);
    EXPECT_EQ(1, st.logins);
    EXPECT_EQ(1, st.online);
    EXPECT_EQ(0, st.closed);
    EXPECT_NE(0, ssclient_is_online());
    EXPECT_FALSE(done.load()) << "the io thread ended with " << rc.load();
  }

  sim_server* sim = nullptr;
  sim_live* live = nullptr;
  ss_time now = 0;
  int port = 0;
  plat_slot thread = -1;
  std::atomic<bool> done{false};
  std::atomic<int> rc{99};
};

TEST_F(DemoScenario, SignOnKeepsTheLinkAndTakesTheDaysOpening) {
  ASSERT_NO_FATAL_FAILURE(expect_caught_up_on_one_link());
  for (int32_t i : {0, 1, 3}) {
    SCOPED_TRACE(i);
    EXPECT_GT(sim_stream_length(sim, uint32_t(i)), 0u) << "the demo stream opens its day";
    core_lock lock;
    const ss_exchange* ex = ssmodel_exchange(i);
    ASSERT_NE(nullptr, ex);
    EXPECT_EQ(uint32_t(kState), ex->state);
    EXPECT_EQ(now & ~kSstimeSecondsMask, ex->date);
  }
}

TEST_F(DemoScenario, LiveMarketArrivesOnTheSameLink) {
  ASSERT_NO_FATAL_FAILURE(expect_caught_up_on_one_link());
  sim_live_options lo;
  lo.index = 0;
  lo.brokers = sim_scenario_has_brokers(0);
  lo.rate = 200;
  lo.seed = 3;
  lo.stocks = 4;
  live = sim_live_start(sim, lo);
  ASSERT_NE(nullptr, live);
  // The live market's stocks reach the model, with books and trades.
  EXPECT_TRUE(wait_for(
      [] {
        core_lock lock;
        const ss_exchange* ex = ssmodel_exchange(0);
        if (!ex || ex->stocks.count < 4) return false;
        uint64_t trades = 0, books = 0;
        for (uint64_t i = 0; i < ex->stocks.count; i++) {
          const auto* s = static_cast<const ss_stock*>(ex->stocks.sorted[i]);
          trades += s->trades.count;
          books += (s->levels[0] || s->levels[1]) ? 1 : 0;
        }
        return trades > 0 && books > 0;
      },
      10000));
  const sim_stats st = sim_get_stats(sim);
  EXPECT_EQ(1, st.connections);
  EXPECT_EQ(0, st.closed);
  EXPECT_NE(0, ssclient_is_online());
}

// A trade asked of the live market reaches the model with the price and
// volume asked for; a code the market does not move is refused.
TEST_F(DemoScenario, LiveMarketWritesATradeAskedFor) {
  ASSERT_NO_FATAL_FAILURE(expect_caught_up_on_one_link());
  sim_live_options lo;
  lo.brokers = sim_scenario_has_brokers(0);
  lo.rate = 50;
  lo.stocks = 2;
  live = sim_live_start(sim, lo);
  ASSERT_NE(nullptr, live);
  const std::string code = sim_market_code(1);
  EXPECT_EQ(-1, sim_live_trade(live, "NOPE", 100, 1));
  EXPECT_EQ(-1, sim_live_trade(nullptr, code.c_str(), 100, 1));
  ASSERT_EQ(0, sim_live_trade(live, code.c_str(), 987654, 4321));
  EXPECT_TRUE(wait_for(
      [&] {
        core_lock lock;
        const ss_stock* s = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
        for (const ss_trade* t = s ? s->trades.head : nullptr; t; t = t->next)
          if (t->price == 987654 && t->volume == 4321) return true;
        return false;
      },
      10000));
}

// After a dropped link the client signs on again at its stream positions and
// reads the demo's opening of exchange 2 (served to every user) once more
// without dropping the new link.
TEST_F(DemoScenario, ReconnectResumesAndStaysOnline) {
  ASSERT_NO_FATAL_FAILURE(expect_caught_up_on_one_link());
  ASSERT_EQ(1, sim_disconnect(sim, nullptr));
  ASSERT_TRUE(sim_wait_logins(sim, 2, 5000));
  ASSERT_TRUE(wait_for([&] { return sim_get_stats(sim).online == 1 && ssclient_is_online() != 0; }));
  for (int32_t i : {0, 1, 3})
    EXPECT_TRUE(wait_for([&] { return ssproto_exchange_position(i) == sim_stream_length(sim, uint32_t(i)); })) << i;
  const sim_stats st = sim_get_stats(sim);
  EXPECT_EQ(2, st.connections);
  EXPECT_EQ(1, st.closed) << "only the link the simulator dropped";
  EXPECT_FALSE(done.load()) << "the io thread ended with " << rc.load();
}

}  // namespace
