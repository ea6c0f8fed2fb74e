// The hider: requested space by hidden and keep-space, the child's
// visibility following the hider, and the layout with and without fill.
#include "ui/hider.h"

#include <gtest/gtest.h>

#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Hider : public WidgetTest {};

TEST_F(Hider, RequestTable) {
  struct row {
    int keep, hidden;
    size want;
  } rows[] = {{0, 1, {0, 0}}, {1, 1, {40, 12}}, {0, 0, {40, 12}}, {1, 0, {40, 12}}};
  for (const row &r : rows) {
    hider *h = hider_new(nullptr, r.keep);
    probe_new(h, "c", 40, 12);
    EXPECT_EQ(hider_is_hidden(h), 1);  // hidden at creation
    hider_set_hidden(h, r.hidden);
    size s;
    h->cls->reqsize(h, &s);
    EXPECT_EQ(s.w, r.want.w) << r.keep << r.hidden;
    EXPECT_EQ(s.h, r.want.h) << r.keep << r.hidden;
    widget_delete(h);
  }
}

TEST_F(Hider, ChildFollowsTheHider) {
  hider *h = hider_new(nullptr, 1);
  probe *c = probe_new(h, "c", 40, 12);
  widget_show(h);
  EXPECT_FALSE(widget_is_shown(c));  // still hidden
  hider_set_hidden(h, 0);
  EXPECT_TRUE(widget_is_shown(c));
  hider_set_hidden(h, 1);
  EXPECT_TRUE(widget_is_hidden(c));
  widget_hide(h);
  hider_set_hidden(h, 0);
  EXPECT_FALSE(widget_is_shown(c));  // not shown inside a hidden hider
  widget_show(h);
  EXPECT_TRUE(widget_is_shown(c));
  widget_delete(h);
}

TEST_F(Hider, LayoutWithAndWithoutFill) {
  hider *h = hider_new(nullptr, 0);
  probe *c = probe_new(h, "c", 40, 0);
  h->r = {5, 6, 100, 30};
  container_cls(h)->layout(h);
  EXPECT_EQ(c->r.w, 100);
  EXPECT_EQ(c->r.h, 30);
  hider_set_fill(h, 0);
  EXPECT_EQ(c->r.x, 5);
  EXPECT_EQ(c->r.y, 6);
  EXPECT_EQ(c->r.w, 40);
  EXPECT_EQ(c->r.h, 30);  // a height of 0 becomes the hider's
  c->req = {300, 10};
  container_cls(h)->layout(h);
  EXPECT_EQ(c->r.w, 100);  // wider than the hider: the hider's width
  EXPECT_EQ(c->r.h, 10);
  widget_delete(h);
}

}  // namespace
