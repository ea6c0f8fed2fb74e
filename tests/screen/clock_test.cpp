// The clock with the connection state and the multi-exchange permission
// given by seams: the page for every state of pointer, connection and
// permission; the state texts and their colours; the sizing texts kept
// while the texts change; the single-exchange row naming the default
// exchange; the phase table's texts and colour kinds; and the refresh timer
// running only while the clock is shown.
#include "screen/clock.h"

#include <gtest/gtest.h>

#include <string>

#include "barstest.h"
#include "action.h"
#include "lib/timer.h"
#include "ssuser.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);

int g_connected, g_connecting, g_multi;
int q_connected() { return g_connected; }
int q_connecting() { return g_connecting; }
int q_multi() { return g_multi; }

class Clock : public ::testing::Test {
 protected:
  void SetUp() override {
    g_connected = 1, g_connecting = 0, g_multi = 1;
    clock_set_state_query(q_connected, q_connecting, q_multi);
    c = clock_new(nullptr);
    ASSERT_NE(nullptr, c);
  }
  void TearDown() override {
    widget_delete(c);
    clock_set_state_query(nullptr, nullptr, nullptr);
  }
  clock_widget *c = nullptr;
};

TEST_F(Clock, PagesByPointerConnectionAndPermission) {
  struct {
    int indicator, connected, multi, page;
  } cases[] = {
      {0, 1, 1, CLOCK_PAGE_TIME},      {0, 0, 1, CLOCK_PAGE_STATE},  {1, 1, 1, CLOCK_PAGE_EXCHANGES},
      {1, 0, 1, CLOCK_PAGE_EXCHANGES}, {1, 1, 0, CLOCK_PAGE_DEFAULT}, {1, 0, 0, CLOCK_PAGE_DEFAULT},
      {0, 1, 0, CLOCK_PAGE_TIME},
  };
  for (auto &k : cases) {
    g_connected = k.connected, g_multi = k.multi;
    clock_state_changed(c);
    clock_set_indicator(c, k.indicator);
    EXPECT_EQ(k.page, deck_current_page(c->pages)) << k.indicator << k.connected << k.multi;
    clock_set_indicator(c, 0);
  }
  // Motion rests the pointer on it; leaving takes it off.
  g_connected = 1, g_multi = 1;
  clock_state_changed(c);
  c->cls->motion(c, 1, 1);
  EXPECT_EQ(CLOCK_PAGE_EXCHANGES, deck_current_page(c->pages));
  c->cls->leave(c);
  EXPECT_EQ(CLOCK_PAGE_TIME, deck_current_page(c->pages));
}

TEST_F(Clock, StateTextsAndColours) {
  struct {
    int connected, connecting;
    const char *error, *state;
  } cases[] = {{1, 0, "", "Connected"}, {1, 1, "", "Connected"}, {0, 1, "Error", "Reconnecting"}, {0, 0, "", "Relogin"}};
  for (auto &k : cases) {
    g_connected = k.connected, g_connecting = k.connecting;
    clock_state_changed(c);
    EXPECT_STREQ(k.error, label_text(c->error));
    EXPECT_STREQ(k.state, label_text(c->state));
    EXPECT_EQ(0xff0000ffu, c->error->fg);  // red 255, 0, 0, 255
    EXPECT_EQ(0xffffffffu, c->state->fg);
  }
  // The sizing texts stay the first ones.
  EXPECT_STREQ("Reconnecting", c->state->sizing);
  EXPECT_STREQ("12:34", c->time->sizing);
  EXPECT_STREQ("12:34:56x", c->rows[0][1]->sizing);
  EXPECT_STREQ("MMMMMMMMM", c->rows[1][2]->sizing);
}

TEST_F(Clock, RowsShowTimesPhasesAndTheDefaultExchangesName) {
  ss_exchange *ex = ssmodel_exchange(0);
  ex->phase = 20;
  ssmodel_exchange(1)->phase = 140;
  clock_refresh(c);
  EXPECT_STREQ("OPEN", label_text(c->rows[0][2]));
  EXPECT_STREQ("SUSPEND", label_text(c->rows[1][2]));
  EXPECT_EQ(clock_phase_colour(20), c->rows[0][0]->fg);
  EXPECT_EQ(clock_phase_colour(140), c->rows[1][1]->fg);
  EXPECT_STREQ(ssmodel_exchange_display_name(0), label_text(c->single[0]));
  // Another default exchange: the single row names it (its sizing text stays).
  ssuser_set(1, 0, 0x7);
  action_set_default_exchange(1);
  clock_refresh(c);
  EXPECT_STREQ(ssmodel_exchange_display_name(1), label_text(c->single[0]));
  EXPECT_STRNE(label_text(c->single[0]), label_text(c->rows[0][0]));
  EXPECT_STREQ(clock_phase_text(140), label_text(c->single[2]));
  action_set_default_exchange(0);
  EXPECT_EQ(8u, strlen(label_text(c->single[1])));  // hh:mm:ss
  EXPECT_EQ(5u, strlen(label_text(c->time)));       // hh:mm
}

TEST(ClockPhases, TextsAndColourKinds) {
  struct {
    uint32_t phase;
    const char *text;
    int kind;
  } cases[] = {
      {10, "PRE OPEN", 1}, {20, "OPEN", 2},      {30, "PRE CSPA", 1},  {40, "CSPA", 2},     {50, "ADJUST", 0},
      {60, "ADJUST ON", 0}, {70, "ENQUIRE", 2},  {80, "PURGE", 0},     {90, "SYSMAINT", 0}, {100, "LATE TRD", 0},
      {110, "PRE NT", 0},  {120, "OPEN NT", 0},  {130, "CLOSED", 0},   {140, "SUSPEND", 3}, {141, "PRE NOTICE", 0},
      {142, "ABB AUCT", 0}, {143, "HALT", 3},    {0, "", 0},           {15, "", 0},         {144, "", 0},
  };
  for (auto &k : cases) {
    EXPECT_STREQ(k.text, clock_phase_text(k.phase)) << k.phase;
    EXPECT_EQ(k.kind, clock_phase_kind(k.phase)) << k.phase;
  }
  // Enquiry is coloured like an open market, a pre-notice like a closed one.
  EXPECT_EQ(clock_phase_colour(20), clock_phase_colour(70));
  EXPECT_EQ(clock_phase_colour(130), clock_phase_colour(141));
}

TEST_F(Clock, TheTimerRunsOnlyWhileShown) {
  EXPECT_EQ(-1, c->timer);
  widget_show(c);
  EXPECT_GE(c->timer, 0);
  clock_set_indicator(c, 1);
  widget_hide(c);
  EXPECT_EQ(-1, c->timer);
  EXPECT_EQ(0, c->indicator);
}

}  // namespace
