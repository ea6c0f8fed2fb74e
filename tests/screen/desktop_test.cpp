// Desktops and the layout text without windows on screen: the window map's
// order, focus wrap, split refusals and the tree of every split code (read
// back as layout text in map order), pane rectangles of layout texts worked
// out by hand from the pane rule, snapping, keep-only, the reader's cases,
// bad texts that must leave the old tree (no window leaked), and a seeded
// round trip of random trees with links.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "screen/desktop.h"
#include "screen/layouttext.h"
#include "screen/splitter.h"
#include "testlog.h"
#include "undo.h"
#include "uitest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

struct Desk {
  desktop *d;
  explicit Desk(rect r = {0, 0, 904, 704}) {
    d = desktop_new(nullptr);
    d->r = r;
  }
  ~Desk() { widget_delete(d); }
  // n fresh windows, laid out by text.
  int load(const char *text, int n) {
    std::vector<window *> ws;
    for (int i = 0; i < n; i++) ws.push_back(window_new(nullptr, 0));
    return desktop_layout_apply(d, nullptr, text, ws.data(), n);
  }
  std::string text() { return desktop_layout_text(d); }
  std::vector<window *> map() { return desktop_windows(d->child); }
};

std::string r2s(const rect &r) {
  char b[64];
  snprintf(b, sizeof b, "%d,%d,%d,%d", r.x, r.y, r.w, r.h);
  return b;
}

TEST(DesktopMap, OrderIsTopThenLeft) {
  // Windows placed by hand under one box: equal tops go left first, a top
  // one pixel higher goes before both.
  Desk k;
  hbox *holder = hbox_new(nullptr, 0, 0);
  struct { rect r; int want; } cases[] = {
      {{300, 10, 50, 50}, 2}, {{100, 10, 50, 50}, 1}, {{500, 9, 50, 50}, 0}, {{0, 200, 50, 50}, 3}};
  std::vector<window *> ws;
  for (auto &c : cases) {
    window *w = window_new(holder, 0);
    w->r = c.r;
    ws.push_back(w);
  }
  desktop_map_begin(holder);
  std::vector<window *> got;
  while (window *w = desktop_map_next()) got.push_back(w);
  desktop_map_end();
  ASSERT_EQ(got.size(), 4u);
  for (size_t i = 0; i < 4; i++) EXPECT_EQ(got[size_t(cases[i].want)], ws[i]) << i;
  widget_delete(holder);
}

TEST(DesktopText, PaneRectanglesFromText) {
  // Desktop 504 x 404 at the origin, G = 4: the root gets (2, 2, 500, 400).
  // Side by side, T = 500, f = round(250) - 2 = 248, s = 500 - 248 - 4 = 248.
  // Stacked, T = 400, f = 198, s = 198. Ratio 0.05 of 500: f = 23 -> 60.
  struct { const char *text; int n; std::vector<std::string> panes; } cases[] = {
      {"W0", 1, {"2,2,500,400"}},
      {"W0 W1 H0.500", 2, {"2,2,248,400", "254,2,248,400"}},
      {"W0 W1 V0.500", 2, {"2,2,500,198", "2,204,500,198"}},
      {"W0 W1 H0.050", 2, {"2,2,60,400", "66,2,436,400"}},
      {"W0 W1 H0.500 W2 W3 H0.500 V0.500", 4,
       {"2,2,248,198", "254,2,248,198", "2,204,248,198", "254,204,248,198"}},
      {"W0 W1 W2 H0.500 H0.250", 3, {"2,2,123,400", "129,2,185,400", "318,2,184,400"}},
  };
  for (auto &c : cases) {
    Desk k({0, 0, 504, 404});
    ASSERT_EQ(k.load(c.text, c.n), 0) << c.text;
    std::vector<std::string> got;
    for (window *w : k.map()) got.push_back(r2s(w->r));
    EXPECT_EQ(got, c.panes) << c.text;
    EXPECT_EQ(k.text(), c.text);
  }
}

TEST(DesktopSplit, EveryCodeWritesItsTree) {
  // The text is in map order: code 23 fills column by column, so its
  // windows are numbered across the rows.
  struct { int rows, cols; const char *text; } cases[] = {
      {1, 2, "W0 W1 H0.500"},
      {1, 3, "W0 W1 W2 H0.500 H0.333"},
      {2, 1, "W0 W1 V0.500"},
      {2, 2, "W0 W1 H0.500 W2 W3 H0.500 V0.500"},
      {2, 3, "W0 W3 V0.500 W1 W4 V0.500 W2 W5 V0.500 H0.500 H0.333"},
      {3, 1, "W0 W1 W2 V0.500 V0.333"},
      {3, 2, "W0 W1 H0.500 W2 W3 H0.500 W4 W5 H0.500 V0.500 V0.333"},
      {3, 3, "W0 W1 W2 H0.500 H0.333 W3 W4 W5 H0.500 H0.333 W6 W7 W8 H0.500 H0.333 V0.500 "
             "V0.333"},
  };
  for (auto &c : cases) {
    Desk k;
    ASSERT_EQ(k.load("W0", 1), 0);
    window *src = k.map()[0];
    window **got = desktop_split(k.d, src, c.rows, c.cols);
    ASSERT_NE(got, nullptr) << c.rows << "x" << c.cols;
    EXPECT_EQ(got[0], src);
    EXPECT_EQ(got[c.rows * c.cols], nullptr);
    EXPECT_EQ(k.text(), c.text) << c.rows << "x" << c.cols;
  }
}

TEST(DesktopSplit, SplitsInsideASplitterKeepTheSlot) {
  Desk k;
  ASSERT_EQ(k.load("W0 W1 H0.500", 2), 0);
  window *right = k.map()[1];
  ASSERT_NE(desktop_split(k.d, right, 2, 1), nullptr);
  EXPECT_EQ(k.text(), "W0 W1 W2 V0.500 H0.500");
}

TEST(DesktopSplit, RefusalsLeaveTheTree) {
  struct { int rows, cols; rect win; const char *log; } cases[] = {
      {1, 1, {0, 0, 900, 700}, "won't do 1x1 split"},
      {0, 2, {0, 0, 900, 700}, "won't do 2x0 split"},
      {4, 1, {0, 0, 900, 700}, "won't do 1x4 split"},
      {2, 4, {0, 0, 900, 700}, "won't do 4x2 split"},
      // 2 columns need 60 + 4 + 60 = 124 pixels.
      {1, 2, {0, 0, 104, 704}, "window too narrow for split"},
      {2, 1, {0, 0, 904, 104}, "window too short for split"},
  };
  for (auto &c : cases) {
    Desk k(c.win);
    ASSERT_EQ(k.load("W0", 1), 0);
    const int before = window_count();
    LogCapture log;
    EXPECT_EQ(desktop_split(k.d, k.map()[0], c.rows, c.cols), nullptr);
    EXPECT_TRUE(log.has(c.log)) << c.log;
    EXPECT_EQ(k.text(), "W0");
    EXPECT_EQ(window_count(), before);
  }
  desktop *empty = desktop_new(nullptr);
  window *loose = window_new(nullptr, 0);
  LogCapture log;
  EXPECT_EQ(desktop_split(empty, loose, 1, 2), nullptr);
  EXPECT_TRUE(log.has("trying to split an empty desktop"));
  widget_delete(loose);
  widget_delete(empty);
}

TEST(DesktopSplit, MinimumSizeOfTwoPanes) {
  Desk k;
  ASSERT_EQ(k.load("W0 W1 H0.500", 2), 0);
  size m = {0, 0}, hi;
  k.d->cls->size_limits(k.d, &m, &hi);
  EXPECT_EQ(m.w, 124);
  EXPECT_EQ(m.h, 60);
}

TEST(DesktopFocus, WrapsInMapOrder) {
  Desk k;
  ASSERT_EQ(k.load("W0 W1 H0.500 W2 W3 H0.500 V0.500", 4), 0);
  std::vector<window *> m = k.map();
  EXPECT_EQ(desktop_get_focus(k.d), m[0]);
  EXPECT_EQ(desktop_focus_prev(k.d), m[3]);
  EXPECT_EQ(desktop_focus_next(k.d), m[0]);
  EXPECT_EQ(desktop_focus_next(k.d), m[1]);
  desktop_set_focus(k.d, m[3]);
  EXPECT_EQ(desktop_focus_next(k.d), m[0]);
  // Forgetting the focused window moves the focus to the first other one.
  desktop_forget_window(k.d, m[0]);
  EXPECT_EQ(desktop_get_focus(k.d), m[1]);
}

TEST(DesktopSnap, RelativeDistance) {
  struct { double in, want; } cases[] = {
      {0.47, 0.5}, {0.3, 0.333}, {0.95, 0.9}, {0.5, 0.5}, {0.7, 0.666}, {0.05, 0.05}, {0.22, 0.2}};
  for (auto &c : cases) EXPECT_DOUBLE_EQ(desktop_snap_ratio(c.in), c.want) << c.in;
  Desk k;
  ASSERT_EQ(k.load("W0 W1 H0.470 W2 V0.300", 3), 0);
  desktop_snap_ratios(k.d);
  EXPECT_EQ(k.text(), "W0 W1 H0.500 W2 V0.333");
}

TEST(DesktopKeep, KeepsOneWindowAndFreesTheRest) {
  const int before = window_count();
  {
    Desk k;
    ASSERT_EQ(k.load("W0 W1 H0.500 W2 V0.500 P0,1", 3), 0);
    window *keep = k.map()[1];
    EXPECT_EQ(desktop_keep_only(k.d, keep), 0);
    EXPECT_EQ(k.d->child, keep);
    EXPECT_EQ(keep->link, nullptr);
    EXPECT_EQ(window_count(), before + 3);  // the other two are held by undo
    EXPECT_EQ(desktop_get_focus(k.d), keep);
    undo_fini();  // the ring's shutdown frees them
    EXPECT_EQ(window_count(), before + 1);
    ASSERT_EQ(undo_init(), 0);
  }
  EXPECT_EQ(window_count(), before);
}

TEST(DesktopEdges, WhichBarAReleaseToggles) {
  Desk k({100, 50, 800, 600});
  struct { int x, y; uint32_t bar; } cases[] = {
      {100, 300, 0x80}, {103, 300, 0x80}, {104, 300, 0},  {895, 300, 0x100}, {894, 300, 0},
      {500, 50, 0x1},   {500, 53, 0x1},   {500, 54, 0},   {500, 645, 0x8},   {500, 644, 0},
  };
  for (auto &c : cases) EXPECT_EQ(desktop_edge_bar(k.d, c.x, c.y), c.bar) << c.x << "," << c.y;
}

TEST(DesktopText, ReaderCases) {
  {
    Desk k;
    EXPECT_EQ(k.load("W0 W1 H", 2), 0);
    ASSERT_TRUE(splitter_is(k.d->child));
    auto *s = static_cast<splitter *>(k.d->child);
    EXPECT_EQ(s->orientation, 0u);
    EXPECT_DOUBLE_EQ(s->ratio, 0.5);
  }
  {
    const int before = window_count();
    Desk k;
    LogCapture log;
    EXPECT_EQ(k.load("W0 W7", 2), 0);
    EXPECT_TRUE(log.has("can't find window 7/2"));
    EXPECT_EQ(k.text(), "W0");
    EXPECT_EQ(window_count(), before + 1);  // the unused window is not left ownerless
  }
}

// Texts that must be refused. A desktop holding a tree keeps it; a desktop
// being loaded (holding none of the listed windows) gets a default split.
TEST(DesktopText, BadTextsKeepTheOldTree) {
  const char *bad[] = {"W0 H0.5",     "W0 W1",        "W0 W0 H0.5",  "W0 W1 P0,0 H",
                       "W0 W1 H0",    "W0 W1 H1",     "W0 W1 Hnan",  "W0 W1 H-0.5",
                       "W0 W1 H1e400", "W0 W1 Hinf",  "W0 W1 H0.5x", "Wx W1 H",
                       "W0 W1 P0,",   "W99999999999 W1 H", ""};
  const char *logs[] = {"underflow", "top is 2", "window 0 used twice", "can't follow itself",
                        "ratio out of range", "ratio out of range", "ratio out of range",
                        "ratio out of range", "ratio out of range", "ratio out of range",
                        "bad ratio", "bad window token", "bad link token", "bad window token",
                        "top is 0"};
  const int base = window_count();
  for (size_t i = 0; i < sizeof bad / sizeof *bad; i++) {
    Desk k;
    ASSERT_EQ(k.load("W0 W1 V0.250 P1,0", 2), 0);
    std::vector<window *> m = k.map();
    window *list[2] = {m[0], m[1]};
    LogCapture log;
    EXPECT_EQ(desktop_layout_apply(k.d, nullptr, bad[i], list, 2), -1) << bad[i];
    EXPECT_TRUE(log.has(logs[i])) << bad[i] << " wants " << logs[i];
    EXPECT_EQ(k.text(), "W0 W1 V0.250 P1,0") << bad[i];
    EXPECT_EQ(window_count(), base + 2);
  }
  EXPECT_EQ(window_count(), base);
  // Loading into an empty desktop: the windows still get a place.
  Desk k;
  EXPECT_EQ(k.load("W0 W0 W1", 3), -1);
  EXPECT_EQ(k.text(), "W0 W1 H0.500 W2 H0.667");
  EXPECT_EQ(window_count(), base + 3);
}

TEST(DesktopText, CapsAreEnforced) {
  std::string deep;
  for (int i = 0; i < 257; i++) deep += "W" + std::to_string(i) + " ";
  layout_tree t;
  LogCapture log;
  EXPECT_EQ(layout_text_parse(deep.c_str(), 256, &t), -1);
  EXPECT_EQ(layout_text_parse(deep.c_str(), 257, &t), -1);
  std::string big(kLayoutTextMax + 1, ' ');
  EXPECT_EQ(layout_text_parse(big.c_str(), 1, &t), -1);
  EXPECT_TRUE(log.has("layout text too long"));
}

// Random trees over n windows with random links, written and read back:
// the tree (windows compared by identity), ratios to three decimals and
// the links survive.
std::string random_text(std::mt19937 &rng, int n) {
  std::vector<int> order(static_cast<size_t>(n));
  for (int i = 0; i < n; i++) order[size_t(i)] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::string s;
  int depth = 0, next = 0;
  char buf[32];
  while (next < n || depth > 1) {
    bool push = next < n && (depth < 2 || rng() % 2);
    if (push) {
      snprintf(buf, sizeof buf, "W%d ", order[size_t(next++)]);
      depth++;
    } else {
      snprintf(buf, sizeof buf, "%c%.3f ", rng() % 2 ? 'V' : 'H', 0.2 + (rng() % 601) / 1000.0);
      depth--;
    }
    s += buf;
  }
  for (int k = 0; k < n / 2; k++) {
    int a = int(rng() % unsigned(n)), b = int(rng() % unsigned(n));
    if (a == b) continue;
    snprintf(buf, sizeof buf, "P%d,%d ", a, b);
    s += buf;
  }
  s.pop_back();
  return s;
}

// The tree under w as text with windows named by their place in `names`.
std::string shape(widget *w, const std::map<window *, int> &names) {
  if (window_is(w)) {
    auto *win = static_cast<window *>(w);
    return "w" + std::to_string(names.at(win)) +
           (win->link ? ">" + std::to_string(names.at(win->link)) : "");
  }
  auto *s = static_cast<splitter *>(w);
  char buf[32];
  snprintf(buf, sizeof buf, "%c%.3f", s->orientation ? 'V' : 'H', s->ratio);
  return "(" + shape(s->child_a, names) + " " + shape(s->child_b, names) + " " + buf + ")";
}

TEST(DesktopText, RandomTreesRoundTrip) {
  std::mt19937 rng(20261209);
  const int base = window_count();
  // The round trip proper: write, read into the same windows, compare.
  for (int round = 0; round < 300; round++) {
    const int n = 1 + int(rng() % 9);
    Desk k({0, 0, 6000, 5000});
    std::vector<window *> ws;
    std::map<window *, int> names;
    for (int i = 0; i < n; i++) {
      ws.push_back(window_new(nullptr, 0));
      names[ws.back()] = i;
    }
    const std::string text = random_text(rng, n);
    ASSERT_EQ(desktop_layout_apply(k.d, nullptr, text.c_str(), ws.data(), n), 0) << text;
    const std::string want = shape(k.d->child, names);
    desktop_layout *snap = desktop_layout_save(k.d);
    ASSERT_NE(snap, nullptr);
    // Another tree over the same windows in between, then the snapshot back.
    std::string chain = "W0";
    for (int i = 1; i < n; i++) chain += " W" + std::to_string(i) + " V0.500";
    ASSERT_EQ(desktop_layout_apply(k.d, nullptr, chain.c_str(), snap->windows, n), 0);
    ASSERT_EQ(desktop_layout_restore(snap), 0) << snap->text;
    EXPECT_EQ(shape(k.d->child, names), want) << text << " -> " << snap->text;
    EXPECT_EQ(desktop_layout_text(k.d), std::string(snap->text));
    desktop_layout_free(snap);
  }
  EXPECT_EQ(window_count(), base);
}

}  // namespace
