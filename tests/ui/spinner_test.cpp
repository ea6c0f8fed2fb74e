// Spinners: rounding and clamping through the printf/scanf round trip,
// stepping by arrow clicks within the range, typing and committing, and the
// time spinner's arithmetic as tables (borrow and carry at the hour and the
// day's ends, typed h:mm and hhmm entries, the afternoon rule), the hover
// zones, focus loss, and the blink on the timer clock seam.
#include "ui/spinner.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

#include "atlasref.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "ui/box.h"
#include "ui/gui.h"
#include "ui/key.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

int g_calls;
void count(spinner *, void *, int32_t) { g_calls++; }
void count_time(time_spinner *, void *, int32_t) { g_calls++; }

// Digits, '.', ':' (shift and ';'), {BS} and {ENTER}.
void type(widget *w, const std::string &script) {
  for (size_t i = 0; i < script.size(); i++) {
    key_event k = {kKeyCharacter, script[i], 0};
    if (script.compare(i, 4, "{BS}") == 0) {
      k = {1002, 8, 0};
      i += 3;
    } else if (script.compare(i, 7, "{ENTER}") == 0) {
      k = {1001, 13, 0};
      i += 6;
    } else if (script[i] == ':') {
      k = {kKeyCharacter, ';', KEY_MOD_SHIFT};
    }
    w->cls->key_press(w, &k);
  }
}

void click(widget *w, int32_t x) {
  w->cls->press(w, x, w->r.y + 5, 1);
  w->cls->release(w, x, w->r.y + 5, 1);
}

class Spinner : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    g_calls = 0;
  }
  spinner *spin(float value, float lo, float hi, float step, int decimals) {
    spinner *s = spinner_new(root, "", decimals, nullptr, nullptr, count, nullptr, 0, value, lo,
                             hi, step);
    s->r = {0, 0, 100, 20};
    widget_show(s);
    return s;
  }
  time_spinner *tspin(int value, int lo, int hi, int step = 5) {
    time_spinner *s =
        time_spinner_new(root, "", value, lo, hi, nullptr, nullptr, count_time, nullptr, 0);
    time_spinner_set_step(s, step);
    s->r = {0, 0, 100, 20};
    widget_show(s);
    return s;
  }
};

TEST_F(Spinner, SetValueRoundsAndClamps) {
  struct row {
    int decimals;
    float lo, hi, value;
    const char *text;
    int ret;
  } rows[] = {
      {2, 0, 100, 3.14159f, "3.14", 0},
      {2, 0, 10, 12, "10.00", -1},
      {1, 0, 10, -5, "0.0", -1},
      {0, 0, 100, 2.5f, "2", 0},      // printf rounds half to even
      {2, 0, 100, 0.125f, "0.12", 0},  // likewise
      {2, 0, 100, 2.675f, "2.67", 0},  // the float lies just below 2.675
      {3, -FLT_MAX, FLT_MAX, -123456.5f, "-123456.500", 0},  // unbounded
  };
  for (const row &r : rows) {
    spinner *s = spin(0, r.lo, r.hi, 1, r.decimals);
    EXPECT_EQ(spinner_set_value(s, r.value), r.ret) << r.text;
    EXPECT_STREQ(s->text, r.text);
    float back = 0;
    sscanf(r.text, "%f", &back);
    EXPECT_EQ(spinner_value(s), back) << "the value is what is shown";
  }
}

TEST_F(Spinner, ValueIntTruncatesAndRangeReformats) {
  spinner *s = spin(-2.75f, -10, 10, 1, 2);
  EXPECT_EQ(spinner_value_int(s), -2);
  spinner_set_range(s, 1, 0, 5, 0.5f);
  EXPECT_STREQ(s->text, "0.0");  // pulled into the new range
  EXPECT_EQ(spinner_decimals(s), 1);
}

TEST_F(Spinner, ArrowClicksStepWithinTheRange) {
  spinner *s = spin(9, 0, 10, 1, 0);
  click(s, 95);
  EXPECT_EQ(spinner_value(s), 10);
  EXPECT_EQ(g_calls, 1);
  click(s, 95);  // at the maximum: nothing happens
  EXPECT_EQ(spinner_value(s), 10);
  EXPECT_EQ(g_calls, 1);
  click(s, 3);
  click(s, 3);
  EXPECT_EQ(spinner_value(s), 8);
  EXPECT_STREQ(s->text, "8");
  EXPECT_EQ(g_calls, 3);
  spinner *f = spin(0.2f, 0, 1, 0.1f, 1);
  for (int i = 0; i < 8; i++) click(f, 95);
  EXPECT_STREQ(f->text, "1.0");  // 0.2 + 8 x 0.1, rounded at every step
  click(f, 95);
  EXPECT_STREQ(f->text, "1.0");
}

TEST_F(Spinner, TypingKeepsOnePointAndCommitsOnEnter) {
  spinner *s = spin(5, 0, 100, 1, 2);
  click(s, 50);
  ASSERT_EQ(s->editing, 1);
  EXPECT_EQ(gui_focus(), s);
  EXPECT_GE(s->timer, 0);
  type(s, "1.2.3");
  EXPECT_STREQ(s->text, "1.23");
  type(s, "{BS}9");
  EXPECT_STREQ(s->text, "1.29");
  type(s, "{ENTER}");
  EXPECT_EQ(s->editing, 0);
  EXPECT_EQ(gui_focus(), nullptr);
  EXPECT_EQ(s->timer, -1);
  EXPECT_STREQ(s->text, "1.29");
  EXPECT_EQ(g_calls, 1);
  // A typed value beyond the range is clamped; an arrow click commits.
  click(s, 50);
  type(s, "500");
  click(s, 3);
  EXPECT_STREQ(s->text, "100.00");
  EXPECT_EQ(g_calls, 2);
  // Nothing readable keeps the value.
  click(s, 50);
  type(s, "{ENTER}");
  EXPECT_STREQ(s->text, "100.00");
}

TEST_F(Spinner, TypedTextStopsAt64Characters) {
  spinner *s = spin(0, -FLT_MAX, FLT_MAX, 1, 0);
  click(s, 50);
  type(s, std::string(80, '7'));
  EXPECT_EQ(strlen(s->text), 64u);
}

TEST_F(Spinner, ReadOnlyCommitsAndIgnoresClicks) {
  spinner *s = spin(1, 0, 10, 1, 0);
  click(s, 50);
  type(s, "7");
  spinner_set_editable(s, 0);
  EXPECT_EQ(spinner_value(s), 7);
  EXPECT_EQ(s->editing, 0);
  click(s, 95);
  click(s, 50);
  EXPECT_EQ(spinner_value(s), 7);
  EXPECT_EQ(s->editing, 0);
}

TEST_F(Spinner, FocusTakenElsewhereCommits) {
  spinner *s = spin(1, 0, 10, 1, 0);
  click(s, 50);
  type(s, "4");
  gui_unfocus(s);
  EXPECT_EQ(s->editing, 0);
  EXPECT_EQ(spinner_value(s), 4);
}

TEST_F(Spinner, HoverZones) {
  spinner *s = spin(1, 0, 10, 1, 0);
  struct row {
    int x, zone;
  } rows[] = {{0, SPIN_LEFT}, {8, SPIN_LEFT}, {9, SPIN_MIDDLE}, {90, SPIN_MIDDLE},
              {91, SPIN_RIGHT}, {99, SPIN_RIGHT}};
  for (const row &r : rows) {
    s->cls->motion(s, r.x, 5);
    EXPECT_EQ(s->hover, r.zone) << r.x;
  }
  s->cls->press(s, 50, 5, 1);
  s->cls->leave(s);
  EXPECT_EQ(s->hover, 0);
  EXPECT_EQ(s->pressed, 0);
}

TEST_F(Spinner, BlinkOnTheTimerClock) {
  spinner *s = spin(1, 0, 10, 1, 0);
  click(s, 50);
  int64_t t0 = gui_time_ms();  // at or after the timer's start
  int phase = s->cursor_phase;
  timer_run(t0 + kSpinnerBlinkMs);
  EXPECT_NE(s->cursor_phase, phase);
  timer_run(t0 + 2 * kSpinnerBlinkMs);
  EXPECT_EQ(s->cursor_phase, phase);
  widget_hide(s);
  EXPECT_EQ(s->timer, -1);
  widget_show(s);  // still editing: blinking again
  EXPECT_GE(s->timer, 0);
}

TEST_F(Spinner, RequestedSizeAgainstFreeTypeAdvances) {
  const int font = 4;
  FontRef ref(font);
  ASSERT_TRUE(ref.ok());
  int32_t style[kSpinnerStyle] = {font};
  padding pad = {1, 2, 3, 4};
  spinner *s = spinner_new(root, "Qty", 0, style, &pad, nullptr, nullptr, 0, 0, 0, 9, 1);
  time_spinner *t = time_spinner_new(root, "At", 900, 0, 2359, nullptr, &pad, nullptr, nullptr, 0);
  time_spinner_set_font(t, font);
  auto width = [&](const char *text) {
    int w = 0;
    for (const char *p = text; *p; p++) w += ref.advance(*p);
    return w;
  };
  size got;
  s->cls->reqsize(s, &got);
  EXPECT_EQ(got.w, width("Qty") + width("X: XXXX") + 2 * (2 + 4));  // horizontal padding twice
  EXPECT_EQ(got.h, ref.ascent() + ref.descent() - 1 + 1 + 3);
  t->cls->reqsize(t, &got);
  EXPECT_EQ(got.w, width("At") + width("X: XX:XX") + 2 * (2 + 4));
}

TEST_F(Spinner, TimeStepTable) {
  struct row {
    int value, step, lo, hi;
    bool up;
    int want, calls;  // calls: 0 when the step lands outside the range
  } rows[] = {
      {0, 5, 0, 2359, false, 0, 1},        // no hour to borrow: minutes 0
      {3, 5, 0, 2359, false, 0, 1},        // likewise
      {2358, 5, 0, 2359, true, 2359, 1},   // no hour to carry: minutes 59
      {1058, 5, 0, 2359, true, 1103, 1},   // carry
      {1055, 5, 0, 2359, true, 1100, 1},   // minutes 55 >= 60 - 5: carry to 11:00
      {1102, 5, 0, 2359, false, 1057, 1},  // borrow
      {1105, 5, 0, 2359, false, 1100, 1},
      {930, 15, 0, 2359, true, 945, 1},
      {900, 5, 900, 2359, false, 900, 0},  // below the minimum: nothing
      {1155, 5, 0, 1159, true, 1155, 0},   // above the maximum: nothing
  };
  for (const row &r : rows) {
    time_spinner *s = tspin(r.value, r.lo, r.hi, r.step);
    g_calls = 0;
    click(s, r.up ? 95 : 3);
    EXPECT_EQ(time_spinner_value(s), r.want) << r.value << (r.up ? " up" : " down");
    EXPECT_EQ(s->hours * 100 + s->minutes, r.want);
    EXPECT_EQ(g_calls, r.calls) << r.value;
  }
}

TEST_F(Spinner, TimeTypedTable) {
  struct row {
    int value, lo, hi;
    const char *typed;  // after the starting "h:mm" is cleared
    int want;
  } rows[] = {
      {1200, 0, 2359, "330", 330},
      {1200, 0, 2359, "3:30", 330},
      {1200, 900, 2359, "3:30", 1530},  // the afternoon rule
      {1200, 900, 1400, "3:30", 1400},  // then limited to the range
      {1200, 900, 2359, "10:15", 1015}, // not below the minimum's hour
      {1200, 0, 2359, "25:70", 2359},   // hours and minutes forced into range
      {1245, 0, 2359, "7:", 745},       // an unread part keeps the current one
      {1245, 0, 2359, ":05", 1205},
      {1200, 0, 2359, "123456", 2345},  // five characters at most: 12345
      {1200, 0, 2359, "{ENTER}", 1200}, // nothing typed: no change
  };
  for (const row &r : rows) {
    time_spinner *s = tspin(r.value, r.lo, r.hi);
    click(s, 50);
    char start[16];
    snprintf(start, sizeof start, "%d:%02d", r.value / 100, r.value % 100);
    ASSERT_STREQ(s->text, start);
    type(s, "{BS}{BS}{BS}{BS}{BS}");
    type(s, std::string(r.typed) + "{ENTER}");
    EXPECT_EQ(time_spinner_value(s), r.want) << r.typed;
    EXPECT_EQ(s->editing, 0);
  }
}

TEST_F(Spinner, TimeConstructionAndSetValue) {
  struct row {
    int value, want;
  } rows[] = {{2500, 2300}, {2400, 2300}, {1275, 1259}, {905, 905}};
  for (const row &r : rows) EXPECT_EQ(time_spinner_value(tspin(r.value, 0, 2359)), r.want);
  time_spinner *s = tspin(1000, 900, 1700);
  EXPECT_EQ(time_spinner_set_value(s, 1800), -1);
  EXPECT_EQ(time_spinner_value(s), 1700);
  EXPECT_EQ(time_spinner_set_value(s, 1230), 0);
  EXPECT_EQ(s->hours, 12);
  EXPECT_EQ(s->minutes, 30);
}

}  // namespace
