// The splitter without windows on screen: pane sizes by the pane rule
// (worked out by hand), minimum panes and collapse, and the divider drag as
// the input dispatch drives it: a move that would squeeze a pane is taken
// back whole, a good move changes the ratio, the end leaves one undo step,
// and a collapsed pane is culled with its windows freed.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "screen/desktop.h"
#include "screen/splitter.h"
#include "testlog.h"
#include "uitest.h"
#include "undo.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

TEST(SplitterLayout, PaneSizes) {
  // T = 500 (or 400 stacked), G = 4, min_pane 60.
  struct { uint32_t orient; double ratio; int first, second; bool clamped, collapsed; } cases[] = {
      {0, 0.5, 248, 248, false, false},
      {0, 0.05, 60, 436, true, false},
      {0, 0.95, 436, 60, true, false},
      {0, 0.003, 0, 500, false, true},   // round(1.5) - 2 = 0: no room
      {0, 0.999, 500, 0, false, true},   // 498 leaves -2 for the second pane
      {1, 0.5, 198, 198, false, false},
      {1, 0.25, 98, 298, false, false},
  };
  for (auto &c : cases) {
    window *a = window_new(nullptr, 0), *b = window_new(nullptr, 0);
    splitter *s = splitter_new(nullptr, c.orient, a, b, c.ratio);
    s->r = {10, 20, 500, 400};
    splitter_reset_flags();
    s->cls->geometry_changed(s);
    const int fa = c.orient ? a->r.h : a->r.w, fb = c.orient ? b->r.h : b->r.w;
    EXPECT_EQ(fa, c.first) << c.ratio;
    EXPECT_EQ(fb, c.second) << c.ratio;
    EXPECT_EQ(splitter_clamped(), c.clamped) << c.ratio;
    EXPECT_EQ(splitter_collapsed(), c.collapsed) << c.ratio;
    EXPECT_EQ(s->first_collapsed != 0, c.first == 0);
    EXPECT_EQ(s->second_collapsed != 0, c.second == 0);
    widget_delete(s);
  }
}

TEST(SplitterLayout, RatiosOutsideTheOpenIntervalAreRefused) {
  splitter *s = splitter_new(nullptr, 0, nullptr, nullptr, 0.5);
  for (double r : {0.0, 1.0, -0.5, 2.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(splitter_set_ratio(s, r), -1) << r;
    EXPECT_DOUBLE_EQ(splitter_get_ratio(s), 0.5);
  }
  EXPECT_EQ(splitter_set_ratio(s, 0.25), 0);
  widget_delete(s);
}

struct DragDesk {
  desktop *d;
  DragDesk(const char *text, int n) {
    d = desktop_new(nullptr);
    d->r = {0, 0, 504, 404};
    std::vector<window *> ws;
    for (int i = 0; i < n; i++) ws.push_back(window_new(nullptr, 0));
    EXPECT_EQ(desktop_layout_apply(d, nullptr, text, ws.data(), n), 0);
  }
  ~DragDesk() { widget_delete(d); }
  splitter *root() { return static_cast<splitter *>(d->child); }
};

TEST(SplitterDrag, ClampedMoveIsTakenBack) {
  DragDesk k("W0 W1 H0.500 W2 V0.500", 3);
  splitter *inner = static_cast<splitter *>(k.root()->child_a);
  ASSERT_TRUE(splitter_is(inner));
  const std::string before = desktop_layout_text(k.d);
  const uint32_t pushed = undo_pushed_count();
  ASSERT_EQ(splitter_drag_begin(inner), 1);
  EXPECT_NE(inner->drag_layout, nullptr);
  // 20 px into a 500 px splitter: the first pane would be 18 px.
  splitter_drag_move(inner, inner->r.x + 20, inner->r.y + 10);
  EXPECT_TRUE(splitter_clamped());
  EXPECT_EQ(desktop_layout_text(k.d), before);
  // 150 px: a good move.
  splitter_drag_move(inner, inner->r.x + 150, inner->r.y + 10);
  EXPECT_FALSE(splitter_clamped());
  EXPECT_EQ(desktop_layout_text(k.d), "W0 W1 H0.300 W2 V0.500");
  splitter_drag_end(inner);
  EXPECT_EQ(undo_pushed_count(), pushed + 1);  // one snapshot, one step
  EXPECT_EQ(inner->drag_layout, nullptr);
  EXPECT_EQ(splitter_dragging(), nullptr);
}

TEST(SplitterDrag, ZeroSizedSplitterIgnoresMoves) {
  DragDesk k("W0 W1 H0.500", 2);
  splitter *s = k.root();
  s->r.w = 0;
  splitter_drag_begin(s);
  splitter_drag_move(s, 100, 100);
  EXPECT_DOUBLE_EQ(s->ratio, 0.5);
  splitter_drag_end(s);
}

TEST(SplitterCull, CollapsedPaneIsRemovedHeldByUndoAndFreed) {
  const int base = window_count();
  {
    DragDesk k("W0 W1 W2 V0.500 H0.500", 3);
    splitter *s = k.root();
    splitter_drag_begin(s);
    splitter_drag_move(s, s->r.x + s->r.w + 10, s->r.y + 5);  // past the right edge
    EXPECT_TRUE(splitter_collapsed());
    EXPECT_TRUE(s->second_collapsed);
    desktop_layout *snap = s->drag_layout;
    s->drag_layout = nullptr;
    splitter_drag_end(s);  // logs "no saved layout?": the snapshot was taken out
    splitter_cull(snap);   // what the queued call after the draw does
    EXPECT_EQ(desktop_layout_text(k.d), "W0");
    EXPECT_EQ(window_count(), base + 3);  // the culled two are held by undo
    // Undo puts them back where they were.
    EXPECT_EQ(undo_perform(), 0);
    EXPECT_EQ(desktop_layout_text(k.d), "W0 W1 W2 V0.500 H0.500");
    // Culled again, the ring's shutdown frees them.
    splitter_drag_begin(s = k.root());
    splitter_drag_move(s, s->r.x + s->r.w + 10, s->r.y + 5);
    snap = s->drag_layout;
    s->drag_layout = nullptr;
    splitter_drag_end(s);
    splitter_cull(snap);
    EXPECT_EQ(desktop_layout_text(k.d), "W0");
    undo_fini();
    EXPECT_EQ(window_count(), base + 1);
    ASSERT_EQ(undo_init(), 0);
  }
  EXPECT_EQ(window_count(), base);
}

TEST(SplitterCull, NothingToCull) {
  DragDesk k("W0", 1);
  LogCapture log;
  splitter_cull(desktop_layout_save(k.d));
  EXPECT_TRUE(log.has("no splitter to cull?"));
}

}  // namespace
