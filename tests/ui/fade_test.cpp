// Fades on a virtual clock: the ease-out of int and float fades, owners told
// once at the end, the hold counter, stops without notification, ramps of
// integers and colours (found again by content), table fades stepping every
// hundredth, restarts that continue from the matching point, the timer
// stopping when idle, and callbacks that start fades during a tick.
#include "lib/fade.h"

#include <gtest/gtest.h>

#include <vector>

#include "lib/timer.h"
#include "testlog.h"

namespace {

int64_t g_now = 0;
int64_t virtual_clock() { return g_now; }
::testing::Environment *const kRuntime =
    ::testing::AddGlobalTestEnvironment(new QuietRuntime(virtual_clock));

struct Told {
  fade_value *v;
  void *arg;
  uint32_t number;
};
std::vector<Told> g_told;
void told(fade_value *v, void *arg, uint32_t number) { g_told.push_back({v, arg, number}); }

class Fade : public ::testing::Test {
 protected:
  fade_owner owner{};
  void SetUp() override {
    g_now = 100000;
    g_told.clear();
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(fade_init(), 0);
    fade_owner_add(&owner, told);
  }
  void TearDown() override {
    fade_owner_remove(&owner);
    fade_fini();
    timer_fini();
  }
  // Moves the clock to `ms` after the start and runs one pass of timers.
  void at(int64_t ms) {
    g_now = 100000 + ms;
    timer_run(g_now);
  }
};

TEST_F(Fade, IntegerEaseOut) {
  fade_value v;
  fade_clear(&v);
  ASSERT_EQ(fade_to(&v, 0, 100, &owner, &v, 7, 1.0f), 0);
  EXPECT_EQ(v.shown.i, 0);
  EXPECT_EQ(fade_percent_left(&v), 100);
  struct {
    int64_t ms;
    int32_t shown;
    size_t told;
  } steps[] = {{0, 0, 0},    {50, 10, 0},   {150, 28, 0},   {250, 44, 0},  {450, 70, 0},
               {650, 88, 0}, {850, 98, 0},  {950, 100, 0},  {1000, 100, 1}, {1500, 100, 1}};
  for (auto &s : steps) {
    at(s.ms);
    EXPECT_EQ(v.shown.i, s.shown) << s.ms;  // 100 - trunc(f*f*100), f = 1 - t
    EXPECT_EQ(g_told.size(), s.told) << s.ms;
  }
  EXPECT_EQ(v.state, nullptr);
  ASSERT_EQ(g_told.size(), 1u);
  EXPECT_EQ(g_told[0].v, &v);
  EXPECT_EQ(g_told[0].arg, &v);
  EXPECT_EQ(g_told[0].number, 7u);
  // The first tick with nothing to do stopped the timer.
  EXPECT_FALSE(fade_timer_running());
  fade_to(&v, 0, 1, nullptr, nullptr, 0, 1.0f);
  EXPECT_TRUE(fade_timer_running());
}

TEST_F(Fade, DownwardIntegerAndFloatFades) {
  fade_value a, b;
  fade_clear(&a);
  fade_clear(&b);
  fade_to(&a, 100, 0, nullptr, nullptr, 0, 2.0f);
  fade_to_float(&b, &owner, nullptr, 1, 1.0f, 3.0f, 0.5f);
  at(250);
  EXPECT_EQ(a.shown.i, 0 - (int)(0.875 * 0.875 * -100));  // 76
  EXPECT_FLOAT_EQ(b.shown.f, 3.0f - 0.25f * 2.0f);
  EXPECT_EQ(fade_percent_left(&a), 87);
  at(500);
  EXPECT_FLOAT_EQ(b.shown.f, 3.0f);
  EXPECT_EQ(g_told.size(), 1u);
  EXPECT_EQ(fade_changed_count(), 1);
}

TEST_F(Fade, HoldMakesFadesInstantAndTellsAtOnce) {
  fade_value v, w;
  fade_clear(&v);
  fade_clear(&w);
  fade_to(&w, 0, 10, &owner, nullptr, 2, 1.0f);  // running when the hold comes
  fade_hold();
  EXPECT_EQ(fade_hold_count(), 1);
  fade_to(&v, 5, 50, &owner, nullptr, 1, 1.0f);
  EXPECT_EQ(v.shown.i, 50);
  EXPECT_EQ(v.state, nullptr);
  fade_to(&w, 0, 20, &owner, nullptr, 3, 1.0f);  // finishes the running one, with notice
  EXPECT_EQ(w.shown.i, 20);
  EXPECT_EQ(w.state, nullptr);
  ASSERT_EQ(g_told.size(), 2u);
  EXPECT_EQ(g_told[0].number, 1u);
  EXPECT_EQ(g_told[1].number, 3u);
  fade_release();
  EXPECT_EQ(fade_hold_count(), 0);
  fade_to(&v, 0, 10, &owner, nullptr, 4, 0.0f);  // zero seconds: instant as well
  EXPECT_EQ(v.shown.i, 10);
  EXPECT_EQ(g_told.size(), 3u);
}

TEST_F(Fade, StopsDoNotNotify) {
  fade_value a, b, c;
  fade_clear(&a);
  fade_clear(&b);
  fade_clear(&c);
  fade_to(&a, 0, 100, &owner, nullptr, 0, 1.0f);
  fade_to(&b, 0, 100, &owner, nullptr, 0, 1.0f);
  fade_to(&c, 0, 100, nullptr, nullptr, 0, 1.0f);
  at(500);
  EXPECT_EQ(fade_stop(&a), 100);
  EXPECT_EQ(a.shown.i, 100);
  EXPECT_EQ(a.state, nullptr);
  fade_set(&c, 33);
  EXPECT_EQ(c.old.i, 33);
  EXPECT_EQ(c.shown.i, 33);
  EXPECT_EQ(c.to.i, 33);
  EXPECT_EQ(c.state, nullptr);
  fade_stop_owner(&owner);
  EXPECT_EQ(b.shown.i, 100);
  EXPECT_EQ(b.state, nullptr);
  at(2000);
  EXPECT_TRUE(g_told.empty());
}

TEST_F(Fade, BadOwnerIsLoggedAndTheStopGoesOn) {
  fade_value v, copy;
  fade_clear(&v);
  fade_to(&v, 0, 100, nullptr, nullptr, 0, 1.0f);
  copy = v;  // a value moved in memory while running
  LogCapture logs;
  fade_stop(&copy);
  EXPECT_EQ(logs.count("bad owner"), 1);
  EXPECT_EQ(copy.state, nullptr);
  EXPECT_NE(v.state, nullptr);  // the real value's fade still runs
  at(1000);
  EXPECT_EQ(v.shown.i, 100);
}

TEST_F(Fade, Ramps) {
  int32_t r = fade_colour_ramp(0xff000000, 0xff0000ff, 0.04f);
  ASSERT_GE(r, 0);
  ASSERT_EQ(fade_ramp_count(r), 4u);
  const uint32_t *c = fade_ramp_values(r);
  uint32_t want[] = {0xff000000, 0xff000055, 0xff0000aa, 0xff0000ff, 0xff0000ff};
  for (int i = 0; i < 5; i++) EXPECT_EQ(c[i], want[i]) << i;
  EXPECT_EQ(fade_colour_ramp(0xff000000, 0xff0000ff, 0.04f), r);  // found again
  EXPECT_NE(fade_colour_ramp(0xff000000, 0xff0000ff, 0.05f), r);
  EXPECT_NE(fade_ramp((int32_t)0xff000000, (int32_t)0xff0000ff, 0.04f), r);  // another kind

  // Falling channels truncate toward zero; a 0.5 s ramp has 50 steps plus
  // the last again.
  int32_t d = fade_ramp(10, 0, 0.5f);
  ASSERT_EQ(fade_ramp_count(d), 50u);
  const uint32_t *v = fade_ramp_values(d);
  EXPECT_EQ(v[0], 10u);
  EXPECT_EQ(v[1], 10u);  // 10 + (1 * -10) / 49 = 10
  EXPECT_EQ(v[5], 9u);   // 10 - 50 / 49
  EXPECT_EQ(v[49], 0u);
  EXPECT_EQ(v[50], 0u);
  // Shorter than a step: one entry, the end value.
  int32_t t = fade_ramp(3, 8, 0.0f);
  ASSERT_EQ(fade_ramp_count(t), 1u);
  EXPECT_EQ(fade_ramp_values(t)[0], 8u);
  EXPECT_EQ(fade_ramp(3, 8, 0.0f), t);
}

TEST_F(Fade, TableFadeStepsEveryHundredth) {
  int32_t r = fade_ramp(0, 100, 1.0f);  // 100 entries: i * 100 / 99
  fade_value v;
  fade_clear(&v);
  ASSERT_EQ(fade_start_style(&v, r, &owner, nullptr, 5), 0);
  EXPECT_EQ(v.shown.i, 0);
  EXPECT_EQ(v.to.i, 100);
  struct {
    int64_t ms;
    int32_t shown;
  } steps[] = {{10, 1}, {500, 50}, {990, 100}, {1000, 100}};
  for (auto &s : steps) {
    at(s.ms);
    EXPECT_EQ(v.shown.i, s.shown) << s.ms;
  }
  EXPECT_EQ(g_told.size(), 1u);
}

TEST_F(Fade, RestartContinuesFromTheMatchingPoint) {
  int32_t up = fade_ramp(0, 99, 1.0f);    // entry i = i
  int32_t down = fade_ramp(99, 0, 1.0f);  // entry i = 99 - i
  fade_value v;
  fade_clear(&v);
  fade_restart_style(&v, up, nullptr, nullptr, 0);  // at rest: a plain start
  at(300);
  EXPECT_EQ(v.shown.i, 30);
  fade_restart_style(&v, down, nullptr, nullptr, 0);
  EXPECT_EQ(v.shown.i, 29);  // down's entry 70: 0.7 s in, not back at 99
  at(400);
  EXPECT_EQ(v.shown.i, 19);
  at(600);
  EXPECT_EQ(v.shown.i, 0);
  EXPECT_EQ(v.state, nullptr);
}

// An owner callback that starts another fade while the tick runs.
fade_value g_chain;
void chain(fade_value *, void *, uint32_t n) {
  g_told.push_back({nullptr, nullptr, n});
  if (n == 1) fade_to(&g_chain, 0, 10, nullptr, nullptr, 2, 0.5f);
}

TEST_F(Fade, CallbacksMayStartFadesDuringATick) {
  fade_owner o{};
  fade_owner_add(&o, chain);
  fade_value v;
  fade_clear(&v);
  fade_clear(&g_chain);
  fade_to(&v, 0, 1, &o, nullptr, 1, 0.25f);
  at(250);
  EXPECT_EQ(v.shown.i, 1);
  ASSERT_NE(g_chain.state, nullptr);
  EXPECT_EQ(g_chain.shown.i, 0);
  at(500);
  EXPECT_EQ(g_chain.shown.i, 8);  // 10 - trunc(0.25 * 10)
  at(750);
  EXPECT_EQ(g_chain.shown.i, 10);
  EXPECT_EQ(g_chain.state, nullptr);
  fade_owner_remove(&o);
}

// Owners' running counts: each owner counts its own running fades on every
// tick (a fade that ends in a tick is still counted in it), an owner whose
// fades ended (or were stopped) goes back to 0 while
// many idle owners stay at 0, and an owner removed while busy is never
// touched again (the address checker would see a write into the freed one).
TEST_F(Fade, OwnersCountTheirRunningFadesAmongManyIdleOnes) {
  std::vector<fade_owner> idle(500);
  for (fade_owner &o : idle) fade_owner_add(&o, told);
  fade_owner a{}, b{};
  fade_owner_add(&a, told);
  fade_owner_add(&b, told);
  auto *gone = new fade_owner{};
  fade_owner_add(gone, told);
  fade_value va[3], vb, vg;
  for (fade_value &v : va) fade_clear(&v);
  fade_clear(&vb);
  fade_clear(&vg);
  fade_to(&va[0], 0, 1, &a, nullptr, 0, 0.5f);
  fade_to(&va[1], 0, 1, &a, nullptr, 0, 1.0f);
  fade_to(&va[2], 0, 1, &a, nullptr, 0, 1.0f);
  fade_to(&vb, 0, 1, &b, nullptr, 0, 2.0f);
  fade_to(&vg, 0, 1, gone, nullptr, 0, 2.0f);
  struct {
    int64_t ms;
    uint32_t a, b;
  } steps[] = {{10, 3, 1}, {600, 3, 1}, {1100, 2, 1}, {1500, 0, 0}, {2100, 0, 0}};
  for (auto &st : steps) {
    if (st.ms == 1500) fade_stop_owner(&b);
    if (st.ms == 600) {
      fade_owner_remove(gone);
      delete gone;
    }
    at(st.ms);
    EXPECT_EQ(a.running, st.a) << st.ms;
    EXPECT_EQ(b.running, st.b) << st.ms;
    for (const fade_owner &o : idle) ASSERT_EQ(o.running, 0u) << st.ms;
  }
  EXPECT_EQ(vg.shown.i, 1);  // its fade ran on without an owner
  EXPECT_FALSE(fade_timer_running());
  fade_owner_remove(&a);
  fade_owner_remove(&b);
  for (fade_owner &o : idle) fade_owner_remove(&o);
}

}  // namespace
