// Timers: ids and their reuse, runs by interval on a virtual clock (no
// sleeping), stopping from callbacks, restart and advance, the backstop.
#include "lib/timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testlog.h"

namespace {

int64_t g_now = 0;
int64_t virtual_clock() { return g_now; }

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime(virtual_clock));

// What a callback saw: (arg tag, n, elapsed ms, elapsed seconds).
struct Run {
  int tag;
  uint32_t n;
  int64_t ms;
  float s;
};
std::vector<Run> g_runs;
int g_result = 1;

int record(void *arg, uint32_t n, int64_t ms, float s) {
  g_runs.push_back({*static_cast<int *>(arg), n, ms, s});
  return g_result;
}

class Timer : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    g_runs.clear();
    g_result = 1;
    timer_init();
  }
  void TearDown() override {
    timer_clear_backstop();
    timer_fini();
  }
  int a_ = 1, b_ = 2;
};

TEST_F(Timer, IdsAreReusedLowestFirst) {
  EXPECT_EQ(timer_start(100, record, &a_, 0), 0);
  EXPECT_EQ(timer_start(100, record, &a_, 0), 1);
  EXPECT_EQ(timer_start(100, record, &a_, 0), 2);
  timer_stop(0);
  EXPECT_EQ(timer_used(), 3);
  EXPECT_EQ(timer_start(100, record, &a_, 0), 0);
  timer_stop(1);
  EXPECT_EQ(timer_used(), 3);
  timer_stop(2);  // the highest: the used count drops past the free slot 1
  EXPECT_EQ(timer_used(), 1);
  EXPECT_EQ(timer_start(100, record, &a_, 0), 1);
}

TEST_F(Timer, BadIdsAreLoggedAndIgnored) {
  timer_start(100, record, &a_, 0);
  timer_start(100, record, &a_, 0);
  timer_stop(0);
  LogCapture log;
  for (int id : {-1, 0, 2, 500}) {
    timer_stop(id);
    timer_restart(id);
    timer_advance(id);
  }
  for (int id : {-1, 0, 2, 500}) EXPECT_EQ(log.count("bad id " + std::to_string(id)), 3) << id;
  EXPECT_EQ(timer_used(), 2);
  EXPECT_EQ(timer_start(10, nullptr, &a_, 0), -1);
  EXPECT_TRUE(log.has("timer without a callback"));
  EXPECT_EQ(timer_used(), 2);
}

TEST_F(Timer, RunsOnceAnIntervalHasPassed) {
  ASSERT_EQ(timer_start(100, record, &a_, 7), 0);
  // (now, expected runs so far); elapsed counts from the first pass (1040).
  struct Pass {
    int64_t now;
    size_t runs;
    int64_t elapsed;
  } passes[] = {{1040, 0, 0},   {1099, 0, 0},   {1100, 1, 60},  {1150, 1, 60},
                {1199, 1, 60},  {1200, 2, 160}, {1450, 3, 410}, {1549, 3, 410}, {1550, 4, 510}};
  for (const Pass &p : passes) {
    timer_run(p.now);
    ASSERT_EQ(g_runs.size(), p.runs) << "at " << p.now;
    if (p.runs) {
      EXPECT_EQ(g_runs.back().ms, p.elapsed);
      EXPECT_FLOAT_EQ(g_runs.back().s, float(p.elapsed) / 1000.0f);
      EXPECT_EQ(g_runs.back().n, 7u);
      EXPECT_EQ(g_runs.back().tag, 1);
    }
  }
}

TEST_F(Timer, IntervalZeroRunsEveryPass) {
  timer_start(0, record, &a_, 0);
  for (int i = 0; i < 5; i++) timer_run(1000 + i);
  EXPECT_EQ(g_runs.size(), 5u);
}

TEST_F(Timer, ZeroResultStopsTheTimer) {
  int id = timer_start(10, record, &a_, 0);
  g_result = 0;
  timer_run(1010);
  EXPECT_EQ(g_runs.size(), 1u);
  EXPECT_EQ(timer_used(), 0);
  timer_run(2000);
  EXPECT_EQ(g_runs.size(), 1u);
  EXPECT_EQ(timer_start(10, record, &a_, 0), id);
}

int g_self = -1;
int stop_self(void *, uint32_t, int64_t, float) {
  timer_stop(g_self);
  return 0;
}

TEST_F(Timer, CallbackStoppingItselfThenReturningZeroLogsOnce) {
  g_self = timer_start(10, stop_self, nullptr, 0);
  LogCapture log;
  timer_run(1010);
  EXPECT_EQ(log.count("bad id " + std::to_string(g_self)), 1);
  EXPECT_EQ(timer_used(), 0);
}

// Starts many timers from inside a callback: the table grows (and moves)
// while timer_run walks it.
int g_started = 0;
int start_many(void *arg, uint32_t, int64_t, float) {
  for (int i = 0; i < 300; i++) timer_start(1000000, record, arg, 0);
  g_started += 300;
  return 0;
}

TEST_F(Timer, TableMayGrowDuringARun) {
  timer_start(0, start_many, &a_, 0);
  timer_start(0, record, &b_, 0);
  timer_run(1000);
  EXPECT_EQ(g_started, 300);
  EXPECT_EQ(timer_used(), 302);  // slot 0 freed by the 0 result; slot 1 and 300 new ones
  ASSERT_EQ(g_runs.size(), 1u);
  EXPECT_EQ(g_runs[0].tag, 2);
  EXPECT_EQ(timer_start(5, record, &a_, 0), 0);
}

TEST_F(Timer, RestartAndAdvance) {
  int id = timer_start(100, record, &a_, 0);
  timer_run(1000);  // first pass: start = 1000
  g_now = 1250;
  timer_restart(id);  // elapsed counts from 1250 now; the interval keeps its phase
  timer_run(1300);
  ASSERT_EQ(g_runs.size(), 1u);
  EXPECT_EQ(g_runs[0].ms, 50);
  // Advance: the last run (1300) lies more than one interval after 0, so it
  // moves back one interval and the timer runs at the next pass.
  timer_advance(id);
  timer_run(1301);
  ASSERT_EQ(g_runs.size(), 2u);
  // With the last run not later than one interval, advance restarts the
  // elapsed time at the next pass instead.
  g_now = 50;
  int early = timer_start(100, record, &b_, 0);
  timer_run(60);
  timer_advance(early);
  timer_run(160);
  ASSERT_EQ(g_runs.size(), 3u);
  EXPECT_EQ(g_runs[2].tag, 2);
  EXPECT_EQ(g_runs[2].ms, 0);
}

int g_backstop_calls = 0;
float g_backstop_last = -1;
void backstop(void *arg, uint32_t n, float ms) {
  EXPECT_EQ(*static_cast<int *>(arg), 1);
  EXPECT_EQ(n, 3u);
  g_backstop_calls++;
  g_backstop_last = ms;
}
void other_backstop(void *, uint32_t, float) { ADD_FAILURE() << "the first backstop must stay"; }

TEST_F(Timer, BackstopRunsOnEveryPass) {
  g_backstop_calls = 0;
  ASSERT_EQ(timer_set_backstop(backstop, &a_, 3), 0);
  LogCapture log;
  EXPECT_EQ(timer_set_backstop(other_backstop, &b_, 0), -1);
  EXPECT_TRUE(log.has("backstop already defined"));
  timer_start(1000, record, &a_, 0);  // not due: the backstop runs anyway
  timer_run(2000);
  EXPECT_EQ(g_backstop_calls, 1);
  EXPECT_FLOAT_EQ(g_backstop_last, 0);
  timer_run(2016);
  timer_run(2033);
  EXPECT_EQ(g_backstop_calls, 3);
  EXPECT_FLOAT_EQ(g_backstop_last, 33);
  timer_clear_backstop();
  timer_run(2050);
  EXPECT_EQ(g_backstop_calls, 3);
  EXPECT_EQ(timer_set_backstop(backstop, &a_, 3), 0);
}

TEST_F(Timer, TracerIsNotEnabled) {
  LogCapture log;
  tracer_dump();
  EXPECT_TRUE(log.has("tracer not enabled"));
}

}  // namespace
