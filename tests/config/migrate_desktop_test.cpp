// Desktop migration: the worked cases (two side by side, a 2 x 2 grid,
// overlapping windows trimmed by the cheapest cut), the corrections with
// their log lines, the refused 257th window, the even split's shape, and
// columns of identical windows, whose backtracking must end within the work
// budget. Every tree is checked against the table: each window once, each
// ratio inside (0, 1), and the layout text reads back through the desktop's
// own reader.
#include "config/migrate_desktop.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "screen/layouttext.h"
#include "testlog.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

struct R {
  int32_t x, y, w, h;
};

void fill(const std::vector<R>& rs) {
  migrate_desktop_reset();
  for (size_t i = 0; i < rs.size(); i++)
    ASSERT_EQ(0, migrate_desktop_add(reinterpret_cast<void*>(i + 1), rs[i].x, rs[i].y, rs[i].w, rs[i].h));
}

// Each table index exactly once among the leaves; every ratio in (0, 1).
void check_tree(const migrate_tree& t, int n) {
  ASSERT_GE(t.root, 0);
  std::multiset<int32_t> leaves;
  std::vector<int32_t> stack{t.root};
  while (!stack.empty()) {
    int32_t i = stack.back();
    stack.pop_back();
    ASSERT_LT(size_t(i), t.nodes.size());
    const migrate_node& nd = t.nodes[size_t(i)];
    if (nd.win >= 0) {
      leaves.insert(nd.win);
    } else {
      EXPECT_GT(nd.ratio, 0.0);
      EXPECT_LT(nd.ratio, 1.0);
      stack.push_back(nd.a);
      stack.push_back(nd.b);
    }
  }
  ASSERT_EQ(int(leaves.size()), n);
  for (int i = 0; i < n; i++) EXPECT_EQ(leaves.count(i), 1u) << i;
  layout_tree lt;
  EXPECT_EQ(0, layout_text_parse(migrate_desktop_text(t).c_str(), n, &lt)) << migrate_desktop_text(t);
}

TEST(MigrateDesktop, WorkedCases) {
  struct Case {
    const char* what;
    std::vector<R> rs;
    const char* text;
  } cases[] = {
      // The first spans the full height: its right cut at 502 of 1000.
      {"side by side", {{0, 0, 500, 700}, {500, 0, 500, 700}}, "W0 W1 H0.502"},
      // Windows 4 apart, none spans the width or height: the clean cut
      // below the first (398 + 2) separates the rows, each row is cut at 400.
      {"2 x 2 grid",
       {{0, 0, 398, 398}, {402, 0, 398, 398}, {0, 402, 398, 398}, {402, 402, 398, 398}},
       "W0 W1 H0.500 W2 W3 H0.500 V0.500"},
      // A full-width top window: the cut below it, then the bottom pair.
      {"top and two below", {{0, 0, 1000, 300}, {0, 300, 500, 400}, {500, 300, 500, 400}},
       "W0 W1 W2 H0.502 V0.431"},
  };
  for (const Case& c : cases) {
    fill(c.rs);
    migrate_tree t;
    ASSERT_EQ(0, migrate_desktop_build(2, kMigrateBudget, &t));
    check_tree(t, int(c.rs.size()));
    EXPECT_EQ(migrate_desktop_text(t), c.text) << c.what;
    EXPECT_EQ(t.even, 0) << c.what;
  }
}

TEST(MigrateDesktop, OverlapTakesTheCheapestCutAndTrims) {
  // Three windows overlapping so no cut is clean: a (0,0,600,500),
  // b (550,0,450,500), c (0,450,1000,300). Straddled cuts are priced by the
  // smaller piece they cut off; the cheapest is taken and the rest split.
  fill({{0, 0, 600, 500}, {550, 0, 450, 500}, {0, 450, 1000, 300}});
  migrate_tree t;
  ASSERT_EQ(0, migrate_desktop_build(2, kMigrateBudget, &t));
  check_tree(t, 3);
  EXPECT_EQ(t.even, 0);
  // The cut below a (502, cost 52: c loses its top 52) is the cheapest;
  // c is moved below it to start at 504. The top pair then splits right of a
  // (602 of 1000); the top node stacks at 502 of 750.
  EXPECT_EQ(migrate_desktop_text(t), "W0 W1 H0.602 W2 V0.669");
}

TEST(MigrateDesktop, CorrectionsAreLogged) {
  struct Case {
    R in;
    R out;
    const char* line;
  } cases[] = {
      {{-20, 5, 300, 200}, {0, 5, 300, 200}, "fudging window xpos from -20"},
      {{5, -1, 300, 200}, {5, 0, 300, 200}, "fudging window ypos from -1"},
      {{5, 5, 4001, 200}, {5, 5, 100, 200}, "fudging window width from 4001"},
      {{5, 5, -3, 200}, {5, 5, 100, 200}, "fudging window width from -3"},
      {{5, 5, 300, 3001}, {5, 5, 300, 100}, "fudging window height from 3001"},
      {{5, 5, 4000, 3000}, {5, 5, 4000, 3000}, nullptr},
  };
  for (const Case& c : cases) {
    LogCapture cap;
    migrate_desktop_reset();
    ASSERT_EQ(0, migrate_desktop_add(nullptr, c.in.x, c.in.y, c.in.w, c.in.h));
    int32_t r[4];
    migrate_desktop_rect(0, r);
    EXPECT_EQ(r[0], c.out.x);
    EXPECT_EQ(r[1], c.out.y);
    EXPECT_EQ(r[2], c.out.w);
    EXPECT_EQ(r[3], c.out.h);
    if (c.line)
      EXPECT_TRUE(cap.has(c.line)) << c.line;
    else
      EXPECT_FALSE(cap.has("fudging"));
  }
}

TEST(MigrateDesktop, The257thWindowIsRefused) {
  migrate_desktop_reset();
  for (int i = 0; i < kMigrateMaxWindows; i++) ASSERT_EQ(0, migrate_desktop_add(nullptr, 0, 0, 10, 10));
  LogCapture cap;
  EXPECT_EQ(-1, migrate_desktop_add(nullptr, 0, 0, 10, 10));
  EXPECT_TRUE(cap.has("too many windows"));
  EXPECT_EQ(migrate_desktop_count(), kMigrateMaxWindows);
}

TEST(MigrateDesktop, EvenSplitShapes) {
  struct Case {
    int n;
    const char* text;
  } cases[] = {
      {1, "W0"},
      {2, "W0 W1 V0.500"},
      {3, "W0 W1 W2 V0.500 V0.333"},
      {4, "W0 W1 H0.500 W2 W3 H0.500 V0.500"},
      {5, "W0 W1 H0.500 W2 W3 W4 H0.500 H0.333 V0.500"},
  };
  for (const Case& c : cases) {
    migrate_tree t;
    t.root = migrate_desktop_even(&t, 0, c.n, 1);
    EXPECT_EQ(migrate_desktop_text(t), c.text) << c.n;
  }
}

TEST(MigrateDesktop, IdenticalColumnsEndWithinTheBudget) {
  // Columns of identical overlapping windows: every clean cut fails below,
  // so the search backtracks; with 40 windows that would take ~3e10 calls.
  // The budget ends it and the even split is taken; smaller cases finish.
  struct Case {
    int n;
  } cases[] = {{4}, {16}, {40}, {256}};
  for (const Case& c : cases) {
    std::vector<R> rs;
    for (int i = 0; i < c.n; i++) rs.push_back({(i % 4) * 100, 0, 150, 600});
    fill(rs);
    migrate_tree t;
    ASSERT_EQ(0, migrate_desktop_build(2, kMigrateBudget, &t));
    check_tree(t, c.n);
    EXPECT_LE(t.work, kMigrateBudget + 256 * 4) << c.n;
  }
  // A small budget forces the fallback.
  std::vector<R> rs;
  for (int i = 0; i < 16; i++) rs.push_back({(i % 4) * 100, 0, 150, 600});
  fill(rs);
  migrate_tree t;
  ASSERT_EQ(0, migrate_desktop_build(2, 1000, &t));
  EXPECT_EQ(t.even, 1);
  check_tree(t, 16);
}

}  // namespace
