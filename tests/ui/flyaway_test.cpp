// Flyaways and the flyaway box: entry states and stamps through opening,
// closing and layout (the one opened longest ago closes when space runs
// short; the one closed most recently reopens when the box grows and it
// fits), flyaways opened behind the box's back cut short, a box without
// area, flexible fill, the sweep drag, "can't find flyaway", and the size
// animation of a shown flyaway against a hidden one's immediate change.
#include "ui/flyaway.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/fade.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "plat.h"
#include "testlog.h"
#include "ui/gui.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// The clock of the fades and timers, moved by the tests.
int64_t g_now = 100000;
int64_t virtual_clock() { return g_now; }

class Flyaway : public WidgetTest {
 public:
  static void SetUpTestSuite() {
    WidgetTest::SetUpTestSuite();
    plat_set_test_clock(virtual_clock);
  }
  static void TearDownTestSuite() {
    plat_set_test_clock(nullptr);
    WidgetTest::TearDownTestSuite();
  }

 protected:
  fbox *box = nullptr;
  int32_t strip = 0;  // a closed flyaway's height: the font's line plus the strip margins
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(fade_init(), 0);
    int32_t ascent = 0, descent = 0;
    font_metrics(nullptr, nullptr, &ascent, &descent, 0);
    strip = ascent + descent + 4;
    box = fbox_new(nullptr, 2, 0);
  }
  void TearDown() override {
    widget_delete(box);
    fade_fini();
    WidgetTest::TearDown();
  }
  flyaway *add(const char *title, int32_t content_h) {
    flyaway *f = flyaway_new(box, title, 0, 0, 0xff404040u, 0, nullptr);
    probe_new(f, title, 40, content_h);
    return f;
  }
  void lay(int32_t h) {
    box->r = {0, 0, 100, h};
    box->cls->geometry_changed(box);
  }
  int state(flyaway *f) { return fbox_entry_of(box, f)->state; }
  std::string states(const std::vector<flyaway *> &fs) {
    std::string s;
    for (flyaway *f : fs) s += char('0' + state(f));
    return s;
  }
};

TEST_F(Flyaway, ClosedAndOpenSizes) {
  flyaway *f = add("Depth", 50);
  size c = flyaway_closed_size(f), o = flyaway_open_size(f);
  EXPECT_EQ(c.h, strip);
  EXPECT_EQ(o.h, strip + 50);
  int32_t wh[2];
  font_text_size(wh, 0, "Depth");
  EXPECT_EQ(c.w, wh[0] + 8);
  EXPECT_STREQ(f->caption, "DEPTH");
}

TEST_F(Flyaway, HorizontalBoxClosesToCaptionColumns) {
  fbox *row = fbox_new(nullptr, 1, 0);
  flyaway *a = flyaway_new(row, "ab", 1, 0, 0, 0, nullptr);
  probe_new(a, "a", 80, 10);
  flyaway *b = flyaway_new(row, "cd", 1, 0, 0, 0, nullptr);
  probe_new(b, "b", 80, 10);
  int32_t em = 0;
  font_metrics(&em, nullptr, nullptr, nullptr, 0);
  const int32_t closed_w = em + 8, open_w = 80 + 0;  // content wider than the strip
  row->r = {0, 0, open_w + closed_w, 40};
  row->cls->geometry_changed(row);
  EXPECT_EQ(fbox_entry_of(row, a)->state, FBOX_OPEN);
  EXPECT_EQ(fbox_entry_of(row, b)->state, FBOX_CLOSED);  // added last: opened longest ago
  EXPECT_EQ(b->r.w, closed_w);
  EXPECT_EQ(b->r.h, 40);  // a closed column is as high as the box
  EXPECT_EQ(b->r.x, open_w);
  EXPECT_EQ(a->r.w, open_w);
  widget_delete(row);
}

TEST_F(Flyaway, ShortSpaceClosesTheOneOpenedLongestAgo) {
  flyaway *a = add("a", 50), *b = add("b", 50), *c = add("c", 50);
  // Room for two open and one closed.
  lay(2 * (strip + 50) + strip);
  EXPECT_EQ(states({a, b, c}), "330");  // the last added counts as opened longest ago
  EXPECT_FALSE(flyaway_is_open(c));
  EXPECT_EQ(c->r.h, strip);
  EXPECT_EQ(c->r.y, 2 * (strip + 50));
  ASSERT_EQ(fbox_open_flyaway(box, c), 0);
  EXPECT_EQ(states({a, b, c}), "303");  // now b is the oldest open one
  ASSERT_EQ(fbox_open_flyaway(box, b), 0);
  EXPECT_EQ(states({a, b, c}), "033");
  EXPECT_TRUE(flyaway_is_open(b));
  EXPECT_FALSE(flyaway_is_open(a));
}

TEST_F(Flyaway, GrowingReopensTheMostRecentlyClosedWhenItFits) {
  flyaway *a = add("a", 50), *b = add("b", 50), *c = add("c", 50);
  lay(3 * strip);  // room for none open
  EXPECT_EQ(states({a, b, c}), "000");
  // Closed order: c first (oldest), then b, then a: a is the most recent.
  lay(3 * strip + 49);  // too small for any to open
  EXPECT_EQ(states({a, b, c}), "000");
  lay(3 * strip + 50);  // exactly one fits: the most recently closed
  EXPECT_EQ(states({a, b, c}), "300");
  box->cls->geometry_changed(box);  // an exact fit stays open on relayout
  EXPECT_EQ(states({a, b, c}), "300");
  lay(3 * strip + 150);
  EXPECT_EQ(states({a, b, c}), "333");
}

TEST_F(Flyaway, ClosedByTheUserStaysClosed) {
  flyaway *a = add("a", 50), *b = add("b", 50);
  lay(400);
  ASSERT_EQ(fbox_close_flyaway(box, a), 0);
  EXPECT_EQ(states({a, b}), "13");
  lay(500);  // growing does not reopen a kept-closed flyaway
  EXPECT_EQ(states({a, b}), "13");
  ASSERT_EQ(fbox_touch_flyaway(box, a), 0);
  EXPECT_EQ(state(a), FBOX_CLOSED);
  lay(600);
  EXPECT_EQ(states({a, b}), "33");
}

TEST_F(Flyaway, OpenedBehindTheBoxsBackIsCutShort) {
  flyaway *a = add("a", 50);
  lay(400);
  fbox_close_flyaway(box, a);
  flyaway_set_open(a, 1);  // not through the box
  box->cls->geometry_changed(box);
  EXPECT_FALSE(flyaway_is_open(a));
  EXPECT_EQ(state(a), FBOX_KEPT_CLOSED);
  EXPECT_FALSE(flyaway_animating(a));
  EXPECT_TRUE(a->child->flags & WIDGET_INSENSITIVE);
}

TEST_F(Flyaway, NoAreaClosesAndHidesEverything) {
  flyaway *a = add("a", 50), *b = add("b", 50);
  (void)b;
  widget_show(box);
  lay(400);
  fbox_close_flyaway(box, b);
  box->r = {0, 0, 0, 0};
  box->cls->geometry_changed(box);
  EXPECT_EQ(states({a, b}), "01");
  EXPECT_FALSE(flyaway_is_open(a));
  EXPECT_TRUE(widget_is_hidden(a));
  EXPECT_EQ(a->r.w, 0);
}

TEST_F(Flyaway, HiddenEntriesLeaveTheLayout) {
  flyaway *a = add("a", 50), *b = add("b", 50);
  lay(400);
  ASSERT_EQ(fbox_hide_flyaway(box, a), 0);
  EXPECT_EQ(fbox_flyaway_is_open(box, a), 0);
  EXPECT_EQ(b->r.y, 0);  // b moves up into a's place
  ASSERT_EQ(fbox_show_flyaway_on(box, a), 0);
  EXPECT_EQ(fbox_flyaway_is_open(box, a), 1);
  EXPECT_EQ(b->r.y, strip + 50);
}

TEST_F(Flyaway, FlexibleTakesTheFill) {
  flyaway *a = add("a", 50), *b = add("b", 50);
  box->spacing = 2;
  ASSERT_EQ(fbox_set_flyaway_weight(box, b, 1), 0);
  lay(300);
  // fill = L - spacing - (a's size + spacing)
  EXPECT_EQ(box->fill, 300 - 2 - (strip + 50 + 2));
  EXPECT_EQ(a->r.h, strip + 50);
  EXPECT_EQ(b->r.h, box->fill);
  EXPECT_EQ(b->r.y, strip + 50 + 2);
}

TEST_F(Flyaway, SweepOpensGoingForwardAndClosesGoingBack) {
  flyaway *a = add("a", 50), *b = add("b", 50), *c = add("c", 50);
  lay(600);
  fbox_close_flyaway(box, b);
  fbox_close_flyaway(box, c);
  ASSERT_EQ(states({a, b, c}), "311");
  drag_record d = {};
  int32_t b_mid = b->r.y + b->r.h / 2, c_mid = c->r.y + c->r.h / 2;
  EXPECT_EQ(box->cls->drag_begin(box, 10, b->r.y + 1, 1, &d), 1);
  EXPECT_EQ(box->sweep_current, b);
  box->cls->drag_motion(box, 10, b_mid - 1, 1, &d);  // forward, not past c's middle
  EXPECT_EQ(states({a, b, c}), "311");
  c_mid = c->r.y + c->r.h / 2;
  box->cls->drag_motion(box, 10, c_mid + 1, 1, &d);
  EXPECT_EQ(states({a, b, c}), "313");
  EXPECT_EQ(box->sweep_current, c);
  // Back before a's middle: a, the last open one before c, closes.
  box->cls->drag_motion(box, 10, a->r.y + a->r.h / 2 - 1, 1, &d);
  EXPECT_EQ(states({a, b, c}), "013");
}

TEST_F(Flyaway, UnknownFlyawayIsLoggedAndNothingChanges) {
  flyaway *a = add("a", 50);
  flyaway *stranger = flyaway_new(nullptr, "x", 0, 0, 0, 0, nullptr);
  lay(400);
  LogCapture log;
  EXPECT_EQ(fbox_open_flyaway(box, stranger), -1);
  EXPECT_EQ(fbox_close_flyaway(box, stranger), -1);
  EXPECT_EQ(fbox_hide_flyaway(box, stranger), -1);
  EXPECT_EQ(fbox_touch_flyaway(box, stranger), -1);
  EXPECT_EQ(fbox_set_flyaway_weight(box, stranger, 1), -1);
  EXPECT_EQ(fbox_flyaway_is_open(box, stranger), 0);
  EXPECT_EQ(log.count("can't find flyaway"), 6);
  EXPECT_EQ(state(a), FBOX_OPEN);
  EXPECT_TRUE(flyaway_is_open(stranger));
  widget_delete(stranger);
}

TEST_F(Flyaway, HiddenChangesAtOnceShownAnimates) {
  flyaway *a = add("a", 50);
  lay(400);
  // Not shown: no animation, the size is final at once.
  fbox_close_flyaway(box, a);
  EXPECT_FALSE(flyaway_animating(a));
  EXPECT_EQ(a->timer, -1);
  size s;
  a->cls->reqsize(a, &s);
  EXPECT_EQ(s.h, strip);
  // Shown: the size fades from closed to open while the timer relays out.
  widget_show(box);
  fbox_open_flyaway(box, a);
  EXPECT_TRUE(flyaway_animating(a));
  EXPECT_GE(a->timer, 0);
  int32_t last = strip;
  for (int pass = 1; pass <= 100 && a->timer >= 0; pass++) {
    g_now += 10;
    timer_run(g_now);
    EXPECT_GE(a->r.h, last);  // never shrinks on the way open
    last = a->r.h;
  }
  EXPECT_EQ(a->timer, -1);
  EXPECT_FALSE(flyaway_animating(a));
  EXPECT_EQ(a->r.h, strip + 50);
  // Held fades make the change instant even when shown.
  fade_hold();
  fbox_close_flyaway(box, a);
  fade_release();
  EXPECT_FALSE(flyaway_animating(a));
  EXPECT_EQ(a->r.h, strip);
}

}  // namespace
