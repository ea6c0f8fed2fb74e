// Boxes: the hbox and vbox arithmetic as tables of child requests, modes and
// box rects -> child rects (worked out by hand from the layout rules), the
// requested sizes, and the list operations of the plain box.
#include "ui/box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testlog.h"
#include "ui/sizer.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

enum kind {
  P,   // a probe requesting w x h
  PH,  // the same, hidden
  SX,  // an expanding sizer (fill width / expand vertically) around a w x h probe
  SXF, // in an hbox: expanding and full height
  HB,  // an hbox holding one w x h probe
};

struct kid {
  kind k;
  int32_t w, h;
};

struct layout_case {
  const char *what;
  bool vertical;
  uint32_t mode, spacing;
  rect box;
  std::vector<kid> kids;
  std::vector<rect> want;
};

const rect kUntouched = {-1, -1, -1, -1};

widget *make_kid(box *b, const kid &k, bool vertical) {
  switch (k.k) {
    case P:
    case PH: {
      probe *p = probe_new(b, "k", k.w, k.h);
      if (k.k == PH) widget_hide(p);
      return p;
    }
    case SX:
    case SXF: {
      uint32_t f = vertical ? SIZER_EXPAND_V : SIZER_FILL_W;
      if (k.k == SXF) f |= SIZER_EXPAND_V;
      sizer *s = sizer_new(b, f, nullptr, nullptr, 1.0f);
      probe_new(s, "in", k.w, k.h);
      return s;
    }
    case HB: {
      hbox *h = hbox_new(b, 0, 0);
      probe_new(h, "in", k.w, k.h);
      return h;
    }
  }
  return nullptr;
}

std::string show(const rect &r) {
  return "{" + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
         std::to_string(r.h) + "}";
}

void run(const layout_case &c) {
  hbox *b = c.vertical ? vbox_new(nullptr, c.mode, c.spacing) : hbox_new(nullptr, c.mode, c.spacing);
  widget_show(b);
  b->r = c.box;
  std::vector<widget *> kids;
  for (const kid &k : c.kids) {
    widget *w = make_kid(b, k, c.vertical);
    w->r = kUntouched;
    kids.push_back(w);
  }
  container_cls(b)->layout(b);
  ASSERT_EQ(kids.size(), c.want.size()) << c.what;
  for (size_t i = 0; i < kids.size(); i++)
    EXPECT_EQ(show(kids[i]->r), show(c.want[i])) << c.what << ", child " << i;
  widget_delete(b);
}

TEST(HboxLayout, NaturalMode) {
  const layout_case cases[] = {
      {"three of 20 in 101 with spacing 2: raw 12, first bonus 13", false, 0, 2,
       {0, 0, 101, 50}, {{P, 20, 10}, {P, 20, 10}, {P, 20, 10}},
       {{0, 0, 33, 10}, {35, 0, 32, 10}, {69, 0, 32, 10}}},
      {"spare shared evenly, box offset", false, 0, 0,
       {10, 5, 100, 40}, {{P, 30, 7}, {P, 30, 9}},
       {{10, 5, 50, 7}, {60, 5, 50, 9}}},
      {"an expanding sizer takes the spare", false, 0, 4,
       {0, 0, 100, 30}, {{P, 20, 5}, {SX, 0, 6}, {P, 30, 5}},
       {{0, 0, 20, 5}, {24, 0, 42, 6}, {70, 0, 30, 5}}},
      {"two expanding sizers share, the first takes the remainder", false, 0, 0,
       {0, 0, 101, 30}, {{SX, 0, 3}, {SX, 0, 3}, {P, 10, 3}},
       {{0, 0, 46, 3}, {46, 0, 45, 3}, {91, 0, 10, 3}}},
      {"a sizer marked vertical gets the full height", false, 0, 0,
       {0, 0, 100, 50}, {{P, 10, 5}, {SXF, 0, 7}},
       {{0, 0, 10, 5}, {10, 0, 90, 50}}},
      {"hidden children count in natural mode", false, 0, 0,
       {0, 0, 100, 20}, {{P, 10, 5}, {PH, 10, 5}},
       {{0, 0, 50, 5}, {50, 0, 50, 5}}},
      {"too wide: the child cut below its request gets 0", false, 0, 0,
       {0, 0, 50, 20}, {{P, 20, 5}, {P, 20, 5}, {P, 20, 5}},
       {{0, 0, 20, 5}, {20, 0, 20, 5}, {40, 0, 0, 5}}},
      {"the first child cut: every later one at the last column", false, 0, 0,
       {0, 0, 10, 20}, {{P, 20, 5}, {P, 5, 5}},
       {{0, 0, 0, 5}, {9, 0, 0, 5}}},
      {"an hbox child is cut, not emptied", false, 0, 0,
       {0, 0, 30, 20}, {{P, 20, 5}, {HB, 20, 5}},
       {{0, 0, 20, 5}, {20, 0, 9, 5}}},
  };
  for (const layout_case &c : cases) run(c);
}

TEST(HboxLayout, EqualCells) {
  std::vector<kid> twelve(12, kid{P, 0, 1});
  std::vector<rect> twelve_want;
  for (int i = 0; i < 12; i++) twelve_want.push_back(i < 9 ? rect{i, 0, 1, 4} : rect{9, 0, 0, 4});
  const layout_case cases[] = {
      {"three shown in 100: 34, 33, 33", false, 1, 0,
       {0, 0, 100, 10}, {{P, 5, 5}, {P, 5, 5}, {P, 5, 5}},
       {{0, 0, 34, 10}, {34, 0, 33, 10}, {67, 0, 33, 10}}},
      {"spacing 5, four cells of 21 and one bonus pixel", false, 1, 5,
       {0, 0, 100, 10}, {{P, 10, 5}, {P, 10, 5}, {P, 10, 5}, {P, 10, 5}},
       {{0, 0, 22, 10}, {27, 0, 21, 10}, {53, 0, 21, 10}, {79, 0, 21, 10}}},
      {"the widest request sets the cell; what does not fit gets 0", false, 1, 0,
       {0, 0, 100, 10}, {{P, 40, 5}, {P, 10, 5}, {P, 10, 5}},
       {{0, 0, 40, 10}, {40, 0, 40, 10}, {80, 0, 0, 10}}},
      {"leading hidden children are skipped", false, 1, 0,
       {0, 0, 90, 10}, {{PH, 5, 5}, {P, 5, 5}, {P, 5, 5}},
       {kUntouched, {0, 0, 30, 10}, {30, 0, 30, 10}}},
      {"children at the last column get width 0", false, 1, 0,
       {0, 0, 10, 4}, twelve, twelve_want},
  };
  for (const layout_case &c : cases) run(c);
}

TEST(VboxLayout, BothModes) {
  const layout_case cases[] = {
      {"natural: three of 20 in 100 with spacing 2", true, 0, 2,
       {0, 0, 50, 100}, {{P, 5, 20}, {P, 5, 20}, {P, 5, 20}},
       {{0, 0, 50, 32}, {0, 34, 50, 32}, {0, 68, 50, 32}}},
      {"natural: too tall gives negative extra, nothing cut", true, 0, 0,
       {3, 4, 50, 30}, {{P, 5, 20}, {P, 5, 20}},
       {{3, 4, 50, 20}, {3, 24, 50, 15}}},
      {"natural: an expanding sizer takes the spare", true, 0, 0,
       {0, 0, 40, 100}, {{P, 5, 10}, {SX, 5, 0}},
       {{0, 0, 40, 10}, {0, 10, 40, 90}}},
      {"natural: an expanding sizer's share may go negative", true, 0, 0,
       {0, 0, 40, 20}, {{P, 5, 30}, {SX, 5, 0}},
       {{0, 0, 40, 30}, {0, 30, 40, -10}}},
      {"cells: the first takes the remainder", true, 1, 5,
       {0, 0, 40, 101}, {{P, 5, 5}, {P, 5, 5}, {PH, 5, 5}},
       {{0, 0, 40, 31}, {0, 36, 40, 30}, {0, 71, 40, 30}}},
  };
  for (const layout_case &c : cases) run(c);
}

TEST(BoxReqsize, Table) {
  struct row {
    const char *what;
    typeid_t (*type)();
    uint32_t mode;
    bool shown;
    size want;
  } rows[] = {
      {"hbox natural, shown: hidden child skipped", hbox_type, 0, true, {46, 5}},
      {"hbox natural, not shown: all count", hbox_type, 0, false, {66, 8}},
      {"hbox cells", hbox_type, 1, false, {96, 8}},
      {"vbox natural", vbox_type, 0, true, {30, 21}},
      {"vbox cells", vbox_type, 1, true, {30, 30}},
      {"plain box: the largest of each", box_type, 0, true, {30, 8}},
  };
  for (const row &r : rows) {
    auto *b = static_cast<hbox *>(widget_new(nullptr, r.type()));
    if (r.type() != box_type()) {
      b->mode = r.mode;
      b->spacing = 3;
    }
    if (r.shown) widget_show(b);
    probe_new(b, "a", 10, 5);
    probe *h = probe_new(b, "b", 20, 8);
    probe_new(b, "c", 30, 2);
    widget_hide(h);
    size s = {-1, -1};
    b->cls->reqsize(b, &s);
    EXPECT_EQ(s.w, r.want.w) << r.what;
    EXPECT_EQ(s.h, r.want.h) << r.what;
    widget_delete(b);
  }
  hbox *empty = hbox_new(nullptr, 0, 7);
  size s = {-1, -1};
  empty->cls->reqsize(empty, &s);
  EXPECT_EQ(s.w, 0);  // no spacing without neighbours
  EXPECT_EQ(s.h, 0);
  widget_delete(empty);
}

std::vector<std::string> names(box *b) {
  std::vector<std::string> v;
  for (int i = 0; i < b->cls->child_count(b); i++)
    v.push_back(static_cast<probe *>(b->cls->get_child(b, i))->name);
  return v;
}

void remove_it(widget *w, void *arg, int) {
  auto *b = static_cast<box *>(arg);
  container_cls(b)->remove(b, w);
  widget_delete(w);
}

TEST(BoxList, InsertRemoveAndApply) {
  auto *b = static_cast<box *>(widget_new(nullptr, box_type()));
  int nodes = box_nodes_in_use();
  probe *c = probe_new(nullptr, "c", 1, 1);
  probe *a = probe_new(nullptr, "a", 1, 1);
  // An empty list takes the node whatever the position asked.
  EXPECT_EQ(box_cls(b)->add_before(b, c, a), 0);
  EXPECT_EQ(box_last_node(b)->child, c);
  EXPECT_EQ(box_cls(b)->add_before(b, a, c), 0);
  probe *d = probe_new(b, "d", 1, 1);
  probe *bb = probe_new(nullptr, "b", 1, 1);
  EXPECT_EQ(box_cls(b)->add_after(b, bb, a), 0);
  EXPECT_EQ(box_last_node(b)->child, bb);
  EXPECT_EQ(names(b), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(b->cls->get_child(b, 4), nullptr);
  EXPECT_EQ(box_nodes_in_use(), nodes + 4);
  EXPECT_EQ(d->parent, b);
  EXPECT_EQ(d->root, b);

  LogCapture cap;
  probe *x = probe_new(nullptr, "x", 1, 1);
  EXPECT_EQ(box_cls(b)->add_after(b, x, x), -1);
  EXPECT_EQ(box_cls(b)->add_before(b, x, x), -1);
  EXPECT_TRUE(cap.has("can't add widget after other widget"));
  EXPECT_TRUE(cap.has("can't add widget before other widget"));
  EXPECT_EQ(container_cls(b)->remove(b, x), nullptr);
  EXPECT_TRUE(cap.has("box does not have child"));
  EXPECT_EQ(box_nodes_in_use(), nodes + 4);  // failed insertions returned their nodes
  widget_delete(x);

  EXPECT_EQ(container_cls(b)->remove(b, bb), bb);
  EXPECT_EQ(bb->parent, nullptr);
  EXPECT_TRUE(bb->flags & WIDGET_HIDDEN);
  EXPECT_EQ(box_last_node(b), nullptr);  // the most recent child is gone
  widget_delete(bb);
  EXPECT_EQ(names(b), (std::vector<std::string>{"a", "c", "d"}));

  // apply_children reads the next link first, so the function may remove.
  b->cls->apply_children(b, remove_it, b, 0);
  EXPECT_EQ(b->count, 0u);
  EXPECT_EQ(box_nodes_in_use(), nodes);

  probe_new(b, "e", 1, 1);
  probe_new(b, "f", 1, 1);
  container_cls(b)->delete_children(b);
  EXPECT_EQ(b->count, 0u);
  EXPECT_EQ(box_nodes_in_use(), nodes);
  widget_delete(b);
}

TEST(BoxList, OverlayLayoutFindAndDrawArea) {
  auto *b = static_cast<box *>(widget_new(nullptr, box_type()));
  widget_show(b);
  b->r = {10, 10, 100, 100};
  probe *a = probe_new(b, "a", 1, 1);
  probe *c = probe_new(b, "c", 1, 1);
  container_cls(b)->layout(b);
  EXPECT_EQ(show(a->r), show(b->r));
  EXPECT_EQ(show(c->r), show(b->r));
  EXPECT_EQ(b->cls->find_at(b, 50, 50), a);  // the first shown child that answers
  widget_hide(a);
  EXPECT_EQ(b->cls->find_at(b, 50, 50), c);
  c->r = {10, 10, 5, 5};
  EXPECT_EQ(b->cls->find_at(b, 50, 50), b);
  EXPECT_EQ(b->cls->find_at(b, 5, 5), nullptr);

  std::vector<std::string> log;
  probe_set_log(&log);
  rect area = {12, 12, 2, 2};  // overlaps a (hidden too) and c
  b->cls->draw_area(b, &area);
  rect far = {80, 80, 5, 5};  // overlaps a only
  b->cls->draw_area(b, &far);
  probe_set_log(nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a:draw", "c:draw", "a:draw"}));
  widget_delete(b);
}

}  // namespace
