// The grid: placement tables (children with spans -> rects, worked out by
// hand from the cell arithmetic: equal cells, the first row and column
// taking the remainder, spans covering the spacing between their cells),
// the occupancy warning, the requested size, spans set afterwards, and the
// stop when the cells run out (a death test).
#include "ui/grid.h"

#include <gtest/gtest.h>

#include <vector>

#include "log.h"
#include "testlog.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

int no_queue(widget *, const rect *, widget_update_fn, int) { return 0; }

struct kid {
  int rs, cs;
};

struct place_case {
  const char *what;
  int rows, columns, spacing;
  rect box;
  std::vector<kid> kids;
  std::vector<rect> want;
  bool warns;
};

class Grid : public WidgetTest {};

TEST_F(Grid, PlacementTable) {
  const std::vector<place_case> cases = {
      {"2x2 equal", 2, 2, 0, {0, 0, 100, 50}, {{1, 1}, {1, 1}, {1, 1}, {1, 1}},
       {{0, 0, 50, 25}, {50, 0, 50, 25}, {0, 25, 50, 25}, {50, 25, 50, 25}}, false},
      {"first column and row take the remainder", 2, 3, 2, {10, 20, 101, 31},
       {{1, 1}, {1, 1}, {1, 1}, {1, 1}},
       // cw = (101 - 4) / 3 = 32, first = 101 - 2 * 34 = 33; ch = 29 / 2 = 14, first 15
       {{10, 20, 33, 15}, {45, 20, 32, 15}, {79, 20, 32, 15}, {10, 37, 33, 14}}, false},
      {"column span 2 pushes the next child to row 2", 2, 2, 0, {0, 0, 100, 50},
       {{1, 2}, {1, 1}}, {{0, 0, 100, 25}, {0, 25, 50, 25}}, false},
      {"spans cover the spacing", 3, 3, 4, {0, 0, 98, 98}, {{2, 2}, {1, 1}, {1, 1}, {1, 1}},
       // cells 30, first 30; a 2x2 block is 30 + 4 + 30
       {{0, 0, 64, 64}, {68, 0, 30, 30}, {68, 34, 30, 30}, {0, 68, 30, 30}}, false},
      {"a row span skips taken cells", 2, 2, 0, {0, 0, 20, 20}, {{2, 1}, {1, 1}, {1, 1}},
       {{0, 0, 10, 20}, {10, 0, 10, 10}, {10, 10, 10, 10}}, false},
      {"spans are cut at the grid's edge", 2, 2, 0, {0, 0, 20, 20}, {{1, 1}, {3, 3}},
       {{0, 0, 10, 10}, {10, 0, 10, 20}}, false},
      {"a block over a taken cell warns", 2, 2, 0, {0, 0, 20, 20}, {{1, 1}, {2, 1}, {1, 2}},
       // the third starts at (1, 0) and covers (1, 1), taken by the second
       {{0, 0, 10, 10}, {10, 0, 10, 20}, {0, 10, 20, 10}}, true},
  };
  for (const place_case &c : cases) {
    SCOPED_TRACE(c.what);
    grid *g = grid_new(nullptr, c.rows, c.columns, c.spacing);
    ASSERT_NE(g, nullptr);
    std::vector<probe *> ps;
    for (const kid &k : c.kids) {
      probe *p = probe_new(nullptr, "k", 5, 5);
      ASSERT_EQ(grid_add_span(g, p, k.rs, k.cs), 0);
      ps.push_back(p);
    }
    LogCapture log;
    g->r = c.box;
    container_cls(g)->layout(g);
    for (size_t i = 0; i < ps.size(); i++) {
      EXPECT_EQ(ps[i]->r.x, c.want[i].x) << i;
      EXPECT_EQ(ps[i]->r.y, c.want[i].y) << i;
      EXPECT_EQ(ps[i]->r.w, c.want[i].w) << i;
      EXPECT_EQ(ps[i]->r.h, c.want[i].h) << i;
    }
    EXPECT_EQ(log.has("bad grid layout"), c.warns);
    widget_delete(g);
  }
}

TEST_F(Grid, RequestedSizeDividesBySpans) {
  grid *g = grid_new(nullptr, 2, 3, 5);
  grid_add_span(g, probe_new(nullptr, "a", 60, 10), 1, 2);  // 30 a column
  grid_add(g, probe_new(nullptr, "b", 20, 40));            // 40 a row
  size s;
  g->cls->reqsize(g, &s);
  EXPECT_EQ(s.w, 30 * 3 + 2 * 5);
  EXPECT_EQ(s.h, 40 * 2 + 1 * 5);
  widget_delete(g);
}

TEST_F(Grid, SetSpanAndResize) {
  grid *g = grid_new(nullptr, 2, 2, 0);
  probe *a = probe_new(nullptr, "a", 1, 1);
  grid_add(g, a);
  int rs = 0, cs = 0;
  grid_span(g, a, &rs, &cs);
  EXPECT_EQ(rs, 1);
  EXPECT_EQ(cs, 1);
  EXPECT_EQ(grid_set_span(g, a, 2, 1), 0);
  grid_span(g, a, &rs, &cs);
  EXPECT_EQ(rs, 2);
  probe *stranger = probe_new(nullptr, "s", 1, 1);
  LogCapture log;
  EXPECT_EQ(grid_set_span(g, stranger, 1, 1), -1);
  EXPECT_TRUE(log.has("can't find child"));
  widget_delete(stranger);
  grid_resize(g, 3, 4);
  EXPECT_EQ(g->count, 0u);
  EXPECT_EQ(g->rows, 3);
  EXPECT_EQ(g->columns, 4);
  widget_delete(g);
}

TEST_F(Grid, MoreCellsThanTheMapRefused) {
  LogCapture log;
  EXPECT_EQ(grid_new(nullptr, 17, 16, 0), nullptr);
  EXPECT_TRUE(log.has("more than 256 cells"));
}

// Three children in a 1 x 2 grid: the layout runs out of cells.
void overfill() {
  log_set_stderr(1);
  widget_set_queue(no_queue);
  grid *g = grid_new(nullptr, 1, 2, 0);
  for (int i = 0; i < 3; i++) grid_add(g, probe_new(nullptr, "k", 1, 1));
  g->r = rect{0, 0, 10, 10};
  container_cls(g)->layout(g);
}

TEST(GridDeathTest, TooManyChildrenStops) {
  EXPECT_DEATH(overfill(), "too many children in grid");
}

}  // namespace
