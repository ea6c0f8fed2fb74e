// Containers and the bin: child handling, background colours and the fill
// cache, relayout, the drawing calls of a small tree (through the GL call
// recorder) and the pixels of one drawn under Xvfb.
#include "ui/container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/gfx.h"
#include "lib/glrecord.h"
#include "log.h"
#include "pixeltest.h"
#include "ui/box.h"
#include "ui/sizer.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

const uint32_t kRed = 0xff0000ffu, kGreen = 0xff00ff00u, kBlue = 0xffff0000u,
               kWhite = 0xffffffffu, kGrey = 0xff404040u;

TEST(Bin, HoldsOneChild) {
  bin *b = bin_new(nullptr);
  widget_show(b);
  b->r = {5, 5, 50, 40};
  EXPECT_EQ(b->cls->child_count(b), 0);
  size s = {9, 9};
  b->cls->reqsize(b, &s);
  EXPECT_EQ(s.w | s.h, 0);
  EXPECT_EQ(b->cls->find_at(b, 10, 10), b);

  probe *p = probe_new(b, "p", 12, 7);
  EXPECT_EQ(b->child, p);
  EXPECT_TRUE(p->flags & WIDGET_SHOWN);  // joined a shown container
  b->cls->reqsize(b, &s);
  EXPECT_EQ(s.w, 12);
  EXPECT_EQ(s.h, 7);
  EXPECT_EQ(b->cls->get_child(b, 0), p);
  EXPECT_EQ(b->cls->get_child(b, 1), nullptr);
  container_cls(b)->layout(b);
  EXPECT_EQ(p->r.x, 5);
  EXPECT_EQ(p->r.w, 50);
  EXPECT_EQ(b->cls->find_at(b, 10, 10), p);
  EXPECT_EQ(b->cls->find_at(b, 60, 10), nullptr);
  widget_hide(p);
  EXPECT_EQ(b->cls->find_at(b, 10, 10), b);

  EXPECT_EQ(container_cls(b)->remove(b, p), p);
  EXPECT_EQ(b->child, nullptr);
  EXPECT_EQ(p->parent, nullptr);
  widget_delete(p);
  probe_new(b, "q", 1, 1);
  container_cls(b)->delete_children(b);
  EXPECT_EQ(b->child, nullptr);
  widget_delete(b);
}

TEST(Bin, RefusalsAreFatal) {
  bin *b = bin_new(nullptr);
  probe *stranger = probe_new(nullptr, "s", 1, 1);
  EXPECT_EXIT((log_set_stderr(1), container_cls(b)->remove(b, stranger)),
              ::testing::ExitedWithCode(1), "bin has no child");
  probe_new(b, "p", 1, 1);
  EXPECT_EXIT((log_set_stderr(1), widget_new(b, probe_type())), ::testing::ExitedWithCode(1),
              "bin already has a child");
  EXPECT_EXIT((log_set_stderr(1), container_cls(b)->remove(b, stranger)),
              ::testing::ExitedWithCode(1), "bin does not have this child");
  widget_delete(stranger);
  widget_delete(b);  // the bin's fini deletes its child
}

TEST(Container, OperationsMissingInAConcreteClassAreFatal) {
  auto *c = static_cast<container *>(widget_new(nullptr, container_type()));
  EXPECT_EXIT((log_set_stderr(1), container_cls(c)->layout(c)), ::testing::ExitedWithCode(1),
              "container_layout unimplemented");
  EXPECT_EXIT((log_set_stderr(1), container_cls(c)->add(c, nullptr)),
              ::testing::ExitedWithCode(1), "container_add unimplemented");
  EXPECT_EXIT((log_set_stderr(1), c->cls->show_children(c)), ::testing::ExitedWithCode(1),
              "container_apply_children unimplemented");
  c->flags |= WIDGET_HIDDEN;  // deleting hides: keep it from asking for children
  widget_delete(c);
}

std::vector<widget *> g_queued;
int take_request(widget *w, const rect *, widget_update_fn, int) {
  g_queued.push_back(w);
  return 0;
}

TEST(Container, BackgroundColourIsInherited) {
  vbox *outer = vbox_new(nullptr, 0, 0);
  hbox *inner = hbox_new(outer, 0, 0);
  bin *leafbin = bin_new(inner);
  EXPECT_EQ(container_get_bg(leafbin), 0u);
  container_set_bg(outer, kRed);
  EXPECT_EQ(container_get_bg(leafbin), kRed);
  container_set_bg(inner, kGreen);
  EXPECT_EQ(container_get_bg(leafbin), kGreen);
  EXPECT_EQ(container_get_bg(outer), kRed);
  widget_queue_fn old = widget_set_queue(take_request);
  g_queued.clear();
  outer->r = {0, 0, 10, 10};
  container_set_bg(outer, kWhite);  // a new colour redraws the container
  widget_set_queue(old);
  ASSERT_EQ(g_queued.size(), 1u);
  EXPECT_EQ(g_queued[0], outer);
  container_set_bg_all(outer, kBlue);
  for (container *c : {static_cast<container *>(outer), static_cast<container *>(inner),
                       static_cast<container *>(leafbin)})
    EXPECT_EQ(c->bg, kBlue);
  widget_delete(outer);
}

TEST(Container, RelayoutClampsAndRemembersRects) {
  vbox *v = vbox_new(nullptr, 0, 0);
  widget_show(v);
  v->r = {0, 0, 40, 20};
  probe *a = probe_new(v, "a", 5, 30);
  sizer *s = sizer_new(v, SIZER_EXPAND_V, nullptr, nullptr, 1.0f);
  probe *in = probe_new(s, "in", 5, 0);
  std::vector<std::string> log;
  probe_set_log(&log);
  widget_queue_fn old = widget_set_queue(take_request);

  container_set_relayout(0);
  v->cls->geometry_changed(v);
  EXPECT_TRUE(log.empty());  // switched off: nothing
  container_set_relayout(1);

  g_queued.clear();
  v->cls->geometry_changed(v);
  // The sizer's share is 20 - 30 = -10: clamped to 0 before its own relayout.
  EXPECT_EQ(s->r.h, 0);
  EXPECT_EQ(s->r.y, 30);
  EXPECT_EQ(in->r.h, 0);  // the sizer relaid out its child with the clamped rect
  for (widget *w : {static_cast<widget *>(a), static_cast<widget *>(s), static_cast<widget *>(in)}) {
    EXPECT_EQ(w->prev.x, w->r.x);
    EXPECT_EQ(w->prev.y, w->r.y);
    EXPECT_EQ(w->prev.w, w->r.w);
    EXPECT_EQ(w->prev.h, w->r.h);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"a:geometry", "in:geometry"}));
  ASSERT_FALSE(g_queued.empty());
  EXPECT_EQ(g_queued.back(), v);  // a shown container redraws itself last
  widget_set_queue(old);
  probe_set_log(nullptr);
  widget_delete(v);
}

// A vbox with a grey background (spacing 4) holding an hbox of equal cells
// with a blue background (spacing 10; a red, a green and a hidden yellow
// probe) above a white probe. Laid out in 320 x 240 it comes to:
//   vbox natural heights: requests 30 and 40, used 74, raw 83, first bonus 83:
//     hbox 0,0 320x113; white probe 0,117 320x123; grey gap at y 113..116
//   hbox cells: (320 - 20) / 3 = 100: red x 0..99, green 110..209, the hidden
//     one not drawn, so blue shows at x 100..109 and 210..319
struct tree {
  vbox *root;
  hbox *row;
  probe *red, *green, *yellow, *white;
};

tree build_tree() {
  tree t;
  t.root = vbox_new(nullptr, 0, 4);
  container_set_bg(t.root, kGrey);
  widget_show(t.root);
  t.row = hbox_new(t.root, 1, 10);
  container_set_bg(t.row, kBlue);
  t.red = probe_new(t.row, "red", 20, 30, kRed);
  t.green = probe_new(t.row, "green", 20, 30, kGreen);
  t.yellow = probe_new(t.row, "yellow", 20, 30, 0xff00ffffu);
  widget_hide(t.yellow);
  t.white = probe_new(t.root, "white", 50, 40, kWhite);
  t.root->r = {0, 0, 320, 240};
  t.root->cls->geometry_changed(t.root);
  return t;
}

void draw_tree(tree &t) {
  container_reset_bg_cache();
  gfx_reset();
  widget_draw(t.root);
  gfx_flush();
}

TEST(ContainerDraw, CallSequence) {
  tree t = build_tree();
  ASSERT_EQ(t.row->r.h, 113);
  ASSERT_EQ(t.green->r.x, 110);
  glrecord_scope rec;
  container_reset_bg_cache();
  widget_draw(t.root);
  gfx_flush();
  EXPECT_EQ(glrecord_text(),
            "Color4ub(64,64,64,255)\n"  // the vbox background
            "Begin(GL_QUADS)\n"
            "Color4ub(64,64,64,255)\n"  // the colour again after Begin
            "Vertex2i(0,0)\nVertex2i(0,240)\nVertex2i(320,240)\nVertex2i(320,0)\n"
            "End()\n"                   // a new fill ends the open quad first
            "Color4ub(0,0,255,255)\n"   // the hbox background
            "Begin(GL_QUADS)\nColor4ub(0,0,255,255)\n"
            "Vertex2i(0,0)\nVertex2i(0,113)\nVertex2i(320,113)\nVertex2i(320,0)\n"
            "End()\nColor4ub(255,0,0,255)\nBegin(GL_QUADS)\nColor4ub(255,0,0,255)\n"
            "Vertex2i(0,0)\nVertex2i(0,113)\nVertex2i(100,113)\nVertex2i(100,0)\n"
            "End()\nColor4ub(0,255,0,255)\nBegin(GL_QUADS)\nColor4ub(0,255,0,255)\n"
            "Vertex2i(110,0)\nVertex2i(110,113)\nVertex2i(210,113)\nVertex2i(210,0)\n"
            "End()\nColor4ub(255,255,255,255)\nBegin(GL_QUADS)\nColor4ub(255,255,255,255)\n"
            "Vertex2i(0,117)\nVertex2i(0,240)\nVertex2i(320,240)\nVertex2i(320,117)\n"
            "End()\n");

  // Two fills of the same rect and colour draw once until the cache is reset.
  glrecord_clear();
  container_reset_bg_cache();
  container_fill_bg(t.row);
  container_fill_bg(t.row);
  gfx_flush();
  std::vector<std::string> calls = glrecord_calls();
  int begins = 0;
  for (const std::string &c : calls) begins += c == "Begin(GL_QUADS)";
  EXPECT_EQ(begins, 1);
  // Same colour, inside the last fill: nothing. Another colour: drawn.
  glrecord_clear();
  bin *inside = bin_new(nullptr);
  inside->r = {10, 10, 20, 20};
  inside->bg = kBlue;
  container_fill_bg(inside);
  EXPECT_TRUE(glrecord_calls().empty());
  inside->bg = kRed;
  container_fill_bg(inside);
  EXPECT_FALSE(glrecord_calls().empty());
  gfx_flush();
  widget_delete(inside);
  widget_delete(t.root);
}

class ContainerPixels : public PixelTest {};

TEST_F(ContainerPixels, SmallTreeUnderXvfb) {
  tree t = build_tree();
  draw_tree(t);
  EXPECT_TRUE(pixeltest_check({
      {50, 50, kRed},
      {0, 0, kRed},
      {99, 112, kRed},
      {105, 50, kBlue},     // spacing between cells
      {150, 50, kGreen},
      {209, 60, kGreen},
      {260, 50, kBlue},     // the hidden child's cell
      {319, 0, kBlue},
      {50, 114, kGrey},     // the vbox spacing
      {50, 117, kWhite},
      {319, 239, kWhite},
  }));
  // Hiding the white probe and drawing again leaves the vbox background.
  widget_hide(t.white);
  draw_tree(t);
  EXPECT_TRUE(pixeltest_colour_at(160, 200, kGrey));
  EXPECT_TRUE(pixeltest_colour_at(50, 50, kRed));
  widget_delete(t.root);
}

TEST(Padding, Helpers) {
  padding p;
  padding_set(&p, 1, 2, 3, 4);
  EXPECT_EQ(p.top + p.left * 10 + p.bottom * 100 + p.right * 1000, 4321);
  padding q = {9, 9, 9, 9};
  padding_copy(&q, &p);
  EXPECT_EQ(q.right, 4);
  padding_copy(&q, nullptr);
  EXPECT_EQ(q.top | q.left | q.bottom | q.right, 0);
  padding *m = padding_make(5, 6, 7, 8);
  EXPECT_EQ(m->top, 5);
  EXPECT_EQ(m->right, 8);
  EXPECT_EQ(padding_make(0, 0, 0, 1), m);  // one static record
}

}  // namespace
