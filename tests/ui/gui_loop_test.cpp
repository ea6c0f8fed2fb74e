// The frame loop with a clock seam: the loop's sleeps advance a test clock,
// so passes, pauses and the active hook's values are exact. Promises are
// run by real passes of the loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guitest.h"
#include "pixeltest.h"
#include "plat.h"
#include "testlog.h"
#include "lib/timer.h"
#include "ui/gui_internal.h"

namespace {

int64_t g_now = 1000000;
int64_t test_clock() { return g_now; }
std::vector<int> g_sleeps;
void test_sleep(int32_t ms) {
  g_sleeps.push_back(ms);
  g_now += ms;
}
std::vector<int> g_active;
void active_hook(int on) { g_active.push_back(on); }

// Runs the loop for `passes` passes: a promise after each draw counts them.
int g_passes_left;
void count_pass(void *, int) {
  if (--g_passes_left <= 0)
    gui_set_quitting();
  else
    gui_promise_after_draw(count_pass, nullptr, 0);
}
void run_passes(int passes) {
  g_passes_left = passes;
  gui_promise_after_draw(count_pass, nullptr, 0);
  gui_main_loop();
}

class Loop : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    plat_set_test_clock(test_clock);
    gui_set_sleep(test_sleep);
    gui_set_active_hook(active_hook);
  }
  static void TearDownTestSuite() {
    gui_set_active_hook(nullptr);
    gui_set_sleep(nullptr);
    plat_set_test_clock(nullptr);
    gui_shutdown();
  }

 protected:
  void SetUp() override {
    g_sleeps.clear();
    g_active.clear();
    gui_set_quality(1);
    gui_set_stack_mode(0, 1);
  }
};

TEST_F(Loop, IdlePassesSleepByQualityAndRest) {
  struct {
    int quality, slowdown;
    int sleep;
  } cases[] = {{1, 1, 50}, {0, 0, 50}, {1, 0, 10}, {2, 0, 5}};
  for (auto &c : cases) {
    gui_set_quality(c.quality);
    gui_set_stack_mode(0, c.slowdown);
    g_sleeps.clear();
    g_active.clear();
    int64_t t0 = g_now;
    run_passes(4);
    EXPECT_EQ(g_sleeps, std::vector<int>(4, c.sleep)) << "quality " << c.quality;
    EXPECT_EQ(g_now - t0, 4 * c.sleep);
    // The active hook: 1 at the start, 0 and 1 around every sleep, 0 at the end.
    std::vector<int> want = {1};
    for (int i = 0; i < 4; i++) want.insert(want.end(), {0, 1});
    want.push_back(0);
    EXPECT_EQ(g_active, want);
  }
}

TEST_F(Loop, DrawnPassesReleaseTheHookAroundSwapAndSleep) {
  static int active_in_draw = -1;
  tw *root = tw_new(nullptr, "root", {0, 0, 120, 80}, 0xff202020);
  int w = gui_window_open(root, nullptr, 0);
  ASSERT_GE(w, 0);
  // Every pass draws: a promise before the draw queues the root again.
  static tw *r;
  r = root;
  struct redraw {
    static void again(void *, int) {
      active_in_draw = G.active;
      widget_redraw(r);
      gui_promise(again, nullptr, 0);
    }
  };
  gui_promise(redraw::again, nullptr, 0);
  g_active.clear();
  run_passes(3);
  gui_promise_cancel(redraw::again, nullptr);
  EXPECT_EQ(active_in_draw, 1);
  // Per drawn pass: 0 for the swap, 1 after it, 0 for the sleep, 1 after it.
  std::vector<int> want = {1};
  for (int i = 0; i < 3; i++) want.insert(want.end(), {0, 1, 0, 1});
  want.push_back(0);
  EXPECT_EQ(g_active, want);
  for (size_t i = 1; i < g_active.size(); i++) EXPECT_NE(g_active[i], g_active[i - 1]) << i;
  gui_window_close(w);
  G.quit = 0;
  widget_delete(root);
}

std::vector<std::string> g_calls;
void note_a(void *arg, int n) { g_calls.push_back("a" + std::to_string((long)arg) + ":" + std::to_string(n)); }
void note_b(void *arg, int n) { g_calls.push_back("b" + std::to_string((long)arg) + ":" + std::to_string(n)); }
void cleanup(void *arg, int n) { g_calls.push_back("cleanup" + std::to_string((long)arg) + ":" + std::to_string(n)); }
void queues_another(void *, int) {
  g_calls.push_back("outer");
  gui_promise(note_a, (void *)9, 9);
}

TEST_F(Loop, PromisesRunOnceInOrderAndQueueIntoTheNextPass) {
  g_calls.clear();
  EXPECT_EQ(gui_promise(note_a, (void *)1, 1), 0);
  EXPECT_EQ(gui_promise(note_a, (void *)1, 1), 0);  // the same: kept once
  EXPECT_EQ(gui_promise(note_a, (void *)1, 2), 0);  // another n: kept
  EXPECT_EQ(gui_promise(queues_another, nullptr, 0), 0);
  EXPECT_EQ(gui_promise_after_draw(note_b, (void *)1, 0), 0);
  run_passes(1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"a1:1", "a1:2", "outer", "b1:0"}));
  g_calls.clear();
  run_passes(1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"a9:9"}));  // queued while list A ran
}

TEST_F(Loop, CancellingCallsCleanupsAndAnswersWhetherAnyWent) {
  g_calls.clear();
  gui_promise(note_a, (void *)5, 1);
  gui_promise(note_b, (void *)5, 2);
  gui_promise(note_a, (void *)6, 1);
  gui_promise_after_draw_cleanup(note_a, (void *)5, 3, cleanup);
  gui_promise_after_draw_cleanup(note_b, (void *)5, 4, cleanup);
  EXPECT_EQ(gui_promise_cancel_before(note_a, (void *)5, 2), -1);  // no such n
  EXPECT_EQ(gui_promise_cancel(nullptr, (void *)5), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"cleanup5:3", "cleanup5:4"}));
  EXPECT_EQ(gui_promise_cancel(nullptr, (void *)5), -1);
  g_calls.clear();
  run_passes(1);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"a6:1"}));
}

TEST_F(Loop, FrameRateRegulationPicksThePause) {
  struct {
    int rate;
    int pause;
  } cases[] = {{120, 5}, {87, 2}, {70, 1}, {50, 5}, {61, 0}};
  for (auto &c : cases) {
    G.frame_rate = 60;
    G.baseline = 0;
    G.drawn_since_baseline = 0;
    G.pause = 0;
    G.last_diff = 0;
    // Drawn passes evenly spaced at `rate` a second, up to the first
    // measurement that counts (60 passes).
    for (int k = 1; k <= 60; k++) gui_regulate((int64_t)k * 1000 / c.rate);
    EXPECT_EQ(gui_frame_pause(), c.pause) << c.rate << " frames a second";
  }
}

int g_timer_calls;
int quitting_timer(void *, uint32_t, int64_t, float) {
  if (++g_timer_calls < 3) return 1;
  gui_set_quitting();
  gui_promise(note_a, (void *)7, 7);  // the loop leaves before list A runs
  return 0;
}

TEST_F(Loop, TimersRunEachPassAndQuitLeavesAtOnce) {
  g_calls.clear();
  g_timer_calls = 0;
  int64_t t0 = g_now;
  ASSERT_GE(timer_start(100, quitting_timer, nullptr, 0), 0);
  gui_main_loop();
  EXPECT_EQ(g_timer_calls, 3);
  EXPECT_GE(g_now - t0, 300);
  EXPECT_LT(g_now - t0, 350);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(gui_promise_cancel(note_a, (void *)7), 0);  // still queued
}

TEST_F(Loop, ARestingPointerIsLookedAtAgain) {
  tw *root = tw_new(nullptr, "root", {0, 0, 120, 80}, 0xff202020);
  tw_new(root, "a", {20, 20, 40, 40}, 0xff0000ff);
  // In a corner, away from the real pointer (the screen's centre), so that
  // only the scripted motion moves the gui's pointer.
  rect corner = {0, 0, 120, 80};
  int w = gui_window_open(root, &corner, 0);
  ASSERT_GE(w, 0);
  gui_focus_changed(w, 1);  // one of ours has the keyboard
  static int win;
  win = w;
  gui_promise([](void *, int) { gui_motion_event(win, 30, 30); }, nullptr, 0);
  tw_log().clear();
  g_sleeps.clear();
  run_passes(40);
  int motions = 0;
  for (const std::string &l : tw_log()) motions += l == "a:motion(30,30,0)";
  EXPECT_EQ(motions, 2);  // the event's, and the one 300 ms later
  EXPECT_EQ(g_sleeps.back(), 50);  // at rest: the idle sleep is long again
  gui_window_close(w);
  G.quit = 0;
  widget_delete(root);
}

TEST_F(Loop, QualityIsClampedAndLogged) {
  LogCapture logs;
  gui_set_quality(7);
  EXPECT_EQ(gui_quality(), 2);
  EXPECT_TRUE(logs.has("set quality 2 (5 ms)"));
  gui_set_quality(-1);
  EXPECT_EQ(gui_quality(), 0);
  EXPECT_TRUE(logs.has("set quality 0 (50 ms)"));
}

// The loop's own counters: every pass counted, drawn passes apart, and the
// time of a slow active hook (the core lock) counted as waiting for it.
void slow_hook(int on) {
  if (on) plat_sleep_ms(20);
}
TEST_F(Loop, CountersSplitPassesAndTheWaitsForTheLock) {
  gui_loop_stats_rec a, b;
  gui_loop_stats(&a);
  run_passes(3);
  gui_loop_stats(&b);
  EXPECT_EQ(b.passes - a.passes, 3);
  EXPECT_EQ(b.drawn - a.drawn, 0);
  gui_set_active_hook(slow_hook);
  run_passes(2);
  gui_set_active_hook(active_hook);
  gui_loop_stats(&a);
  EXPECT_EQ(a.passes - b.passes, 2);
  // The start and one wake a pass, 20 ms each at least.
  EXPECT_GE(a.lock_us - b.lock_us, 3 * 20000);
}

// The frame mode says whether something animates; it never changes the
// user's quality, and while it is 0 the loop keeps the quality's pace.
TEST_F(Loop, FrameModeKeepsTheUsersQualityAndOnlyHoldsOffTheRestingPace) {
  struct {
    int quality, mode, slowdown;
    int sleep;
  } cases[] = {
      {2, 0, 1, 5},   // a fade under "High": 5 ms passes, not 50
      {2, 1, 1, 50},  // still, pointer at rest: the resting pace
      {1, 0, 1, 10},
      {1, 1, 0, 10},
      {0, 0, 1, 50},  // "Low" is the user's: 50 ms either way
      {0, 1, 1, 50},
  };
  for (auto &c : cases) {
    gui_set_quality(c.quality);
    gui_set_stack_mode(0, c.slowdown);
    gui_set_frame_mode(c.mode);
    g_sleeps.clear();
    run_passes(3);
    EXPECT_EQ(g_sleeps, std::vector<int>(3, c.sleep)) << "quality " << c.quality << " mode " << c.mode;
    EXPECT_EQ(gui_quality(), c.quality);
    EXPECT_EQ(gui_frame_mode(), c.mode);
  }
  LogCapture logs;
  for (int i = 0; i < 10; i++) gui_set_frame_mode(i & 1);
  EXPECT_FALSE(logs.has("set quality")) << "the frame mode is not the quality";
  gui_set_frame_mode(1);
}

// Frames that no input asked for (every pass has a redraw queued, as under a
// live market) come 50 ms apart whatever the quality; after a key the loop
// draws at the quality's pace for a quarter of a second, then goes back.
TEST_F(Loop, UnaskedFramesComeAtTheQuietPaceAndInputRestoresTheQualitysPace) {
  tw *root = tw_new(nullptr, "root", {0, 0, 120, 80}, 0xff202020);
  int w = gui_window_open(root, nullptr, 0);
  ASSERT_GE(w, 0);
  static tw *r;
  static int win, pass, key_at;
  r = root;
  win = w;
  struct redraw {
    static void again(void *, int) {
      if (++pass == key_at) gui_key_event(win, 'x', 1);
      widget_redraw(r);
      gui_promise(again, nullptr, 0);
    }
  };
  struct {
    int quality, key_at;
    std::vector<int> sleeps;
  } cases[] = {
      {1, 0, std::vector<int>(6, 50)},
      {2, 0, std::vector<int>(6, 50)},
      {0, 0, std::vector<int>(6, 50)},
      // The key in the third pass: 25 passes of 10 ms (0 to 240 ms after
      // it), then the quiet pace again.
      {1, 3, [] {
         std::vector<int> v = {50, 50};
         v.insert(v.end(), 25, 10);
         v.insert(v.end(), 3, 50);
         return v;
       }()},
      {2, 3, [] {
         std::vector<int> v = {50, 50};
         v.insert(v.end(), 50, 5);
         v.insert(v.end(), 3, 50);
         return v;
       }()},
  };
  // The new window's own events (mapping, exposure, focus) first.
  for (int i = 0; i < 50 && gui_plat_wait_events(20) != 0; i++) gui_plat_pump_events();
  for (auto &c : cases) {
    gui_set_quality(c.quality);
    gui_set_frame_mode(0);  // something animates
    // Start well clear of any earlier input.
    g_now += 1000;
    G.last_activity = G.last_input_ms = 0;
    pass = 0;
    key_at = c.key_at;
    gui_promise(redraw::again, nullptr, 0);
    g_sleeps.clear();
    run_passes((int)c.sleeps.size());
    gui_promise_cancel(redraw::again, nullptr);
    EXPECT_EQ(g_sleeps, c.sleeps) << "quality " << c.quality << " key at pass " << c.key_at;
  }
  gui_set_frame_mode(1);
  gui_window_close(w);
  G.quit = 0;
  widget_delete(root);
}

// A key that arrives while a drawn pass sleeps is handled right after the
// sleep, before the next pass draws; the sleep is a wait on the display that
// the key cuts short. Without the second pump the key would wait for a
// whole further pass (draw and sleep) before anything saw it.
std::vector<std::string> *g_order;
int key_during_sleep(void) {
  static int sent = 0;
  if (sent++ == 1) {
    g_order->push_back("sent");
    guitest_xdo("key x");
    // The real wait: it returns 1 once the key is in the display's queue.
    const int r = gui_plat_wait_events(5000);
    g_order->push_back("woken " + std::to_string(r));
    return r;
  }
  return 0;
}

TEST_F(Loop, AKeyDuringADrawnPassSleepIsHandledBeforeTheNextDraw) {
  tw *root = tw_new(nullptr, "root", {0, 0, 120, 80}, 0xff202020);
  guitest_window gw;
  ASSERT_TRUE(gw.open(root, {0, 0, 120, 80}));
  gui_set_focus(root);
  // The window's own events (mapping, focus, exposure) are handled first;
  // then nothing is pending and the wait runs out.
  int pending = 1;
  for (int i = 0; i < 50 && pending; i++) {
    gui_plat_pump_events();
    pending = gui_plat_wait_events(20);
  }
  EXPECT_EQ(pending, 0) << "the wait runs out with nothing pending";
  static tw *r;
  r = root;
  struct redraw {
    static void again(void *, int) {
      widget_redraw(r);
      gui_promise(again, nullptr, 0);
    }
  };
  std::vector<std::string> order;
  g_order = &order;
  gui_promise(redraw::again, nullptr, 0);
  gui_set_input_waiting(key_during_sleep);
  tw_log().clear();
  tw_log_draws(true);
  run_passes(4);
  tw_log_draws(false);
  gui_set_input_waiting(nullptr);
  gui_promise_cancel(redraw::again, nullptr);
  // Where the key landed among the draws: the log's draw lines and key line.
  int draws_before_key = -1, draws = 0;
  for (const std::string &l : tw_log()) {
    if (l.rfind("root:key_press", 0) == 0 && draws_before_key < 0) draws_before_key = draws;
    if (l.rfind("root:draw", 0) == 0) draws++;
  }
  EXPECT_EQ(order, (std::vector<std::string>{"sent", "woken 1"}));
  // The key was sent in the sleep after the second draw.
  EXPECT_EQ(draws_before_key, 2) << ::testing::PrintToString(tw_log());
  guitest_window::close_all();
  widget_delete(root);
}

// A key that arrives while a pass draws is handled by the events after the
// draw, and the pass then does not sleep: the next pass draws the key's
// effect at once. Passes without input sleep as before.
int g_send_at, g_pass_no;
TEST_F(Loop, AKeyHandledAfterADrawIsDrawnWithoutASleep) {
  tw *root = tw_new(nullptr, "root", {0, 0, 120, 80}, 0xff202020);
  guitest_window gw;
  ASSERT_TRUE(gw.open(root, {0, 0, 120, 80}));
  gui_set_focus(root);
  for (int i = 0; i < 50 && gui_plat_wait_events(20) != 0; i++) gui_plat_pump_events();
  static tw *r;
  r = root;
  struct redraw {
    static void again(void *, int) {
      widget_redraw(r);
      if (++g_pass_no == g_send_at) {
        // Sent before this pass draws; in the display's queue when it does.
        guitest_xdo("key x");
        gui_plat_wait_events(5000);
      }
      gui_promise(again, nullptr, 0);
    }
  };
  gui_set_quality(1);
  g_now += 1000;
  G.last_activity = G.last_input_ms = 0;
  g_pass_no = 0;
  g_send_at = 3;
  gui_promise(redraw::again, nullptr, 0);
  g_sleeps.clear();
  tw_log().clear();
  run_passes(5);
  gui_promise_cancel(redraw::again, nullptr);
  int keys = 0;
  for (const std::string &l : tw_log()) keys += l.rfind("root:key_press", 0) == 0;
  EXPECT_EQ(keys, 1);
  // Quiet, quiet, the key's pass (no sleep), then the quality's pace.
  EXPECT_EQ(g_sleeps, (std::vector<int>{50, 50, 0, 10, 10}));
  guitest_window::close_all();
  widget_delete(root);
}

}  // namespace
