// Save scheduling on the platform's monotonic clock seam: the urgency
// levels, a less urgent call never postponing, out-of-range levels, making
// the save due at once and cancelling it.
#include "config/autosave.h"

#include <gtest/gtest.h>

#include "plat.h"
#include "testlog.h"

namespace {

int64_t g_now_ms = 1000000;
int64_t test_clock() { return g_now_ms; }

const auto* g_env = ::testing::AddGlobalTestEnvironment(new QuietRuntime(test_clock));

class Autosave : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now_ms = 1000000;
    config_autosave_cancel();
  }
  void advance(int64_t seconds) { g_now_ms += seconds * 1000; }
};

TEST_F(Autosave, LevelsSetTheDelay) {
  const struct {
    int32_t level;
    int64_t delay;
  } cases[] = {{0, 300}, {1, 60}, {2, 5}, {7, 300}, {-1, 300}, {INT32_MIN, 300}, {3, 300}};
  for (const auto& c : cases) {
    config_autosave_cancel();
    EXPECT_EQ(-1, config_autosave_remaining());
    config_set_dirty(c.level);
    EXPECT_EQ(c.delay, config_autosave_remaining()) << c.level;
  }
}

TEST_F(Autosave, LessUrgentCallsNeverPostpone) {
  config_set_dirty(0);
  config_set_dirty(2);
  config_set_dirty(0);
  EXPECT_EQ(5, config_autosave_remaining());
  advance(4);
  config_set_dirty(1);  // now + 60 lies after the pending deadline
  EXPECT_EQ(1, config_autosave_remaining());
  EXPECT_FALSE(config_autosave_due());
  advance(1);
  EXPECT_TRUE(config_autosave_due());
}

TEST_F(Autosave, ClearMakesItDueAndCancelDropsIt) {
  EXPECT_FALSE(config_autosave_pending());
  config_set_dirty(1);
  EXPECT_FALSE(config_autosave_due());
  config_clear_dirty();
  EXPECT_EQ(0, config_autosave_remaining());
  EXPECT_TRUE(config_autosave_due());
  config_autosave_cancel();
  EXPECT_FALSE(config_autosave_pending());
  EXPECT_FALSE(config_autosave_due());
}

TEST_F(Autosave, ClearWorksAtClockZero) {
  g_now_ms = 0;  // a deadline of "now" is still a pending save
  config_clear_dirty();
  EXPECT_TRUE(config_autosave_due());
}

}  // namespace
