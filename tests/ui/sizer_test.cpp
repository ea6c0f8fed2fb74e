// The sizer: requested sizes (fixed size, scale, padding) and the layout by
// flags as a table of child requests, flags and sizer rects -> child rects,
// each worked out by hand from the placement rules.
#include "ui/sizer.h"

#include <gtest/gtest.h>

#include <vector>

#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Sizer : public WidgetTest {};

TEST_F(Sizer, RequestTable) {
  struct row {
    const char *what;
    size fixed;
    padding pad;
    float scale;
    size child, want;
  } rows[] = {
      {"child's size", {0, 0}, {0, 0, 0, 0}, 1.0f, {30, 20}, {30, 20}},
      {"fixed width", {50, 0}, {0, 0, 0, 0}, 1.0f, {30, 20}, {50, 20}},
      {"fixed both, padded", {50, 8}, {1, 2, 3, 4}, 1.0f, {30, 20}, {56, 12}},
      {"scaled height", {0, 0}, {0, 0, 0, 0}, 0.5f, {31, 20}, {31, 15}},
      {"scale not above 0 is 1", {0, 0}, {0, 0, 0, 0}, -2.0f, {30, 20}, {30, 20}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    sizer *s = sizer_new(nullptr, 0, &r.fixed, &r.pad, r.scale);
    probe_new(s, "c", r.child.w, r.child.h);
    size got;
    s->cls->reqsize(s, &got);
    EXPECT_EQ(got.w, r.want.w);
    EXPECT_EQ(got.h, r.want.h);
    widget_delete(s);
  }
}

TEST_F(Sizer, LayoutTable) {
  struct row {
    const char *what;
    uint32_t flags;
    padding pad;
    float scale;
    size child;
    rect want;  // the sizer is at (10, 20), 100 x 50
  } rows[] = {
      {"top left", 0, {0, 0, 0, 0}, 1.0f, {30, 20}, {10, 20, 30, 20}},
      {"centred horizontally", SIZER_CENTRE_H, {0, 0, 0, 0}, 1.0f, {30, 20}, {45, 20, 30, 20}},
      {"right-aligned with padding", SIZER_RIGHT, {0, 0, 0, 6}, 1.0f, {30, 20}, {74, 20, 30, 20}},
      {"fill the width inside padding", SIZER_FILL_W, {0, 3, 0, 7}, 1.0f, {30, 20},
       {13, 20, 90, 20}},
      {"centred vertically", SIZER_CENTRE_V, {0, 0, 0, 0}, 1.0f, {30, 20}, {10, 35, 30, 20}},
      {"bottom-aligned", SIZER_BOTTOM, {0, 0, 4, 0}, 1.0f, {30, 20}, {10, 46, 30, 20}},
      {"fill the height", SIZER_FILL_H, {2, 0, 2, 0}, 1.0f, {30, 20}, {10, 22, 30, 46}},
      {"too wide is cut to the sizer less padding", 0, {0, 5, 0, 5}, 1.0f, {300, 20},
       {15, 20, 90, 20}},
      {"centred in both", SIZER_CENTRE_H | SIZER_CENTRE_V, {0, 0, 0, 0}, 1.0f, {20, 10},
       {50, 40, 20, 10}},
      {"scaled", 0, {0, 0, 0, 0}, 0.5f, {40, 5}, {10, 20, 40, 20}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    sizer *s = sizer_new(nullptr, r.flags, nullptr, &r.pad, r.scale);
    probe *c = probe_new(s, "c", r.child.w, r.child.h);
    s->r = {10, 20, 100, 50};
    container_cls(s)->layout(s);
    EXPECT_EQ(c->r.x, r.want.x);
    EXPECT_EQ(c->r.y, r.want.y);
    EXPECT_EQ(c->r.w, r.want.w);
    EXPECT_EQ(c->r.h, r.want.h);
    widget_delete(s);
  }
}

}  // namespace
