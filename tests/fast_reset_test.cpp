// Fast reset: off, queueing does nothing and the reset frees the lists
// itself; on, every stock's depth, breaks and events move to the queue in one
// reset and come back to the pools over several housekeeping slices (a test
// clock that moves 1 ms per reading makes the 250 ms slices short and
// deterministic), each logging its "freed" line, until the queue is empty;
// the freed records are poisoned under AddressSanitizer.
#include "fast_reset.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "lazyfree.h"
#include "plat.h"
#include "ssevent.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

std::atomic<int64_t> g_now_ms{1000000};
std::atomic<bool> g_ticking{false};
// Each reading moves the clock 1 ms while ticking.
int64_t test_clock() { return g_ticking ? g_now_ms.fetch_add(1) : g_now_ms.load(); }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

class FastReset : public ::testing::Test {
 protected:
  void start(uint32_t options) {
    ASSERT_EQ(0, start_terminal_model(options));
    lazyfree_set_delay(10);
    asx = ssmodel_exchange(0);
  }
  void TearDown() override {
    g_ticking = false;
    ssmodel_fini();
  }
  // n stocks, each with one order on both sides, a depth break and an event.
  void fill(int n) {
    char code[16];
    for (int i = 0; i < n; i++) {
      snprintf(code, sizeof code, "S%05d", i);
      ss_stock* s = ssmodel_get_stock(asx, code);
      ASSERT_NE(nullptr, s);
      for (int side = 0; side < 2; side++) {
        ss_depth_level* l = ssmodel_new_depth_level(100 + side);
        l->orders = ssmodel_new_depth_order(5, 1, l, nullptr);
        s->levels[side] = l;
        ssmodel_add_depth_break(s, side, 1, 99);
      }
      auto* p = static_cast<ss_ev_state*>(ssevent_new_payload(kEvState));
      p->time = 36000;
      ASSERT_NE(nullptr, ssevent_add_event(s, kEvState, p));
    }
  }
  void run_deferred() {
    g_now_ms += 60000;
    lazyfree_tick();
  }
  ss_exchange* asx = nullptr;
};

TEST_F(FastReset, OffQueuesNothing) {
  start(kOptNoTradeBreaks);  // fast reset off
  fill(3);
  EXPECT_EQ(0, fast_reset_queue(asx));
  EXPECT_EQ(0, fast_reset_pending());
  ss_stock* s = ssmodel_find_stock(asx, "S00001");
  EXPECT_NE(nullptr, s->levels[0]);  // left for the reset itself
  ssmodel_reset_exchange(asx, 0, 0);
  EXPECT_EQ(nullptr, s->levels[0]);
  EXPECT_EQ(0u, s->events.count);
  EXPECT_EQ(0, fast_reset_free());
}

TEST_F(FastReset, ThirtyThousandStocksFreedOverSeveralSlices) {
  start(kTerminalModelOptions);
  ASSERT_EQ(1, fast_reset_enabled());
  constexpr int kStocks = 30000;
  fill(kStocks);
  ss_stock* first = ssmodel_find_stock(asx, "S00000");
  ss_depth_level* level = first->levels[1];
  LogCapture log;
  ssmodel_reset_exchange(asx, 0, 0);
  EXPECT_TRUE(log.has("30000 stocks queued for reset in "));
  EXPECT_EQ(kStocks, fast_reset_pending());
  for (ss_stock* s : {first, ssmodel_find_stock(asx, "S29999")}) {
    EXPECT_EQ(nullptr, s->levels[0]);
    EXPECT_EQ(nullptr, s->levels[1]);
    EXPECT_EQ(0u, s->breaks[0].count);
    EXPECT_EQ(nullptr, s->breaks[1].head);
    EXPECT_EQ(0u, s->events.count);
    EXPECT_EQ(nullptr, s->events.oldest);
  }
  EXPECT_EQ(101u, level->price);  // queued, not freed

  g_ticking = true;
  int passes = 0;
  int left = kStocks;
  while (fast_reset_free() == 1) {
    passes++;
    int now = fast_reset_pending();
    ASSERT_LT(now, left);
    std::string line = "freed " + std::to_string(left - now) + "/" + std::to_string(left);
    EXPECT_TRUE(log.has(line)) << line;
    left = now;
    ASSERT_LT(passes, 1000);
  }
  g_ticking = false;
  EXPECT_GT(passes, 1);
  EXPECT_EQ(0, fast_reset_pending());
  EXPECT_EQ(0, fast_reset_free());
  run_deferred();
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_DEATH({ volatile uint64_t v = level->volume; (void)v; }, "use-after-poison");
#endif
}

// Records still queued at shutdown go with the model's pools (no leak under
// LeakSanitizer, no use of stopped modules).
TEST_F(FastReset, ShutdownWithAQueue) {
  start(kTerminalModelOptions);
  fill(50);
  EXPECT_EQ(50, fast_reset_queue(asx));
  EXPECT_EQ(50, fast_reset_pending());
}

}  // namespace
