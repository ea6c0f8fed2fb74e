// The widget base class: flags, show and hide, redraw requests with the
// transparent climb, events passed up the tree, the default operations and
// the order of callbacks over a widget's life. Redraw requests are taken at
// the queue seam, so no window is needed.
#include "ui/widget.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log.h"
#include "testlog.h"
#include "ui/box.h"
#include "ui/container.h"
#include "ui/gui.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

struct queued {
  widget *w;
  rect r;
};
std::vector<queued> g_queue;

// Keeps every request and sets the dirty bit as the window core's queue
// does (it refuses a dirty widget, clearing only its repeat bit).
int take_request(widget *w, const rect *r, widget_update_fn, int) {
  w->flags &= ~WIDGET_REPEAT;
  if (w->flags & WIDGET_DIRTY) return 0;
  w->flags |= WIDGET_DIRTY;
  g_queue.push_back({w, *r});
  return 0;
}

bool same(const rect &a, const rect &b) {
  return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

class Widget : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = widget_set_queue(take_request);
    g_queue.clear();
    log_.clear();
    probe_set_log(&log_);
  }
  void TearDown() override {
    probe_set_log(nullptr);
    widget_set_queue(old_);
  }
  widget *bare(rect r, widget *parent = nullptr, uint32_t flags = 0) {
    auto *w = reinterpret_cast<widget *>(object_new(widget_type()));
    w->r = r;
    w->parent = parent;
    w->flags = flags;
    made_.push_back(w);
    return w;
  }
  void clean() {
    for (widget *w : made_) {
      w->parent = nullptr;
      w->flags |= WIDGET_HIDDEN;
    }
    for (widget *w : made_) widget_delete(w);
    made_.clear();
  }
  widget_queue_fn old_;
  std::vector<std::string> log_;
  std::vector<widget *> made_;
};

TEST_F(Widget, NewWidgetIsNeitherShownNorHidden) {
  widget *w = bare({0, 0, 0, 0});
  EXPECT_EQ(w->flags, 0u);
  EXPECT_EQ(w->parent, nullptr);
  EXPECT_EQ(w->root, nullptr);
  EXPECT_EQ(w->level, 0u);
  EXPECT_STREQ(object_type_name(widget_obj(w)), "widget");
  EXPECT_TRUE(object_is_a(widget_obj(w), widget_type()));
  clean();
}

TEST_F(Widget, ShowQueuesItselfHideQueuesTheParent) {
  widget *p = bare({0, 0, 100, 50});
  widget *w = bare({10, 10, 20, 20}, p);
  widget_show(w);
  EXPECT_EQ(w->flags & (WIDGET_SHOWN | WIDGET_HIDDEN), WIDGET_SHOWN);
  ASSERT_EQ(g_queue.size(), 1u);
  EXPECT_EQ(g_queue[0].w, w);
  EXPECT_TRUE(same(g_queue[0].r, w->r));

  widget_show(w);  // already shown: nothing
  EXPECT_EQ(g_queue.size(), 1u);

  w->flags |= WIDGET_REPEAT;  // a repeat request is pending; own requests clear it
  widget_redraw(w);
  EXPECT_EQ(w->flags & WIDGET_REPEAT, 0u);
  EXPECT_EQ(g_queue.size(), 1u);  // dirty already: nothing new

  widget_hide(w);
  EXPECT_EQ(w->flags & (WIDGET_SHOWN | WIDGET_HIDDEN), WIDGET_HIDDEN);
  ASSERT_EQ(g_queue.size(), 2u);
  EXPECT_EQ(g_queue[1].w, p);
  EXPECT_TRUE(same(g_queue[1].r, p->r));
  widget_hide(w);
  EXPECT_EQ(g_queue.size(), 2u);
  clean();
}

TEST_F(Widget, RedrawClimbsPastTransparentWidgets) {
  const uint32_t T = WIDGET_TRANSPARENT;
  struct row {
    const char *what;
    uint32_t flags[3];  // widget, parent, grandparent
    int queued;         // 0 widget, 1 parent, 2 grandparent
    uint32_t dirty[3];
  } rows[] = {
      {"opaque widget", {0, 0, 0}, 0, {1, 0, 0}},
      {"transparent widget", {T, 0, 0}, 1, {1, 1, 0}},
      {"transparent parent too", {T, T, 0}, 2, {1, 1, 1}},
      {"transparent parent only", {0, T, 0}, 0, {1, 0, 0}},
      {"all transparent", {T, T, T}, 2, {1, 1, 1}},
  };
  for (const row &r : rows) {
    g_queue.clear();
    widget *g = bare({0, 0, 300, 300}, nullptr, r.flags[2]);
    widget *p = bare({10, 10, 100, 100}, g, r.flags[1]);
    widget *w = bare({20, 30, 40, 50}, p, r.flags[0]);
    widget *chain[3] = {w, p, g};
    widget_redraw(w);
    ASSERT_EQ(g_queue.size(), 1u) << r.what;
    EXPECT_EQ(g_queue[0].w, chain[r.queued]) << r.what;
    EXPECT_TRUE(same(g_queue[0].r, w->r)) << r.what;  // the widget's own rect
    for (int i = 0; i < 3; i++)
      EXPECT_EQ(chain[i]->flags & WIDGET_DIRTY, r.dirty[i]) << r.what << " level " << i;
    widget_redraw(w);  // before the frame: nothing new
    EXPECT_EQ(g_queue.size(), 1u) << r.what;
    clean();
  }
}

TEST_F(Widget, RedrawRectCarriesTheGivenRect) {
  widget *w = bare({0, 0, 100, 100});
  rect part = {5, 6, 7, 8};
  widget_redraw_rect(w, &part, nullptr, 3);
  ASSERT_EQ(g_queue.size(), 1u);
  EXPECT_TRUE(same(g_queue[0].r, part));
  widget_draw(w);
  EXPECT_EQ(w->flags & WIDGET_DIRTY, 0u);
  clean();
}

TEST_F(Widget, PointerAndKeyEventsPassUpTheTree) {
  // top (a probe that handles presses) <- mid <- leaf; the flags of mid
  // decide how far events go.
  struct row {
    uint32_t mid_flags;
    bool press_reaches, key_reaches;
  } rows[] = {
      {0, true, true},
      {WIDGET_KEEP_POINTER, false, true},
      {WIDGET_KEEP_KEYS, true, false},
  };
  for (const row &r : rows) {
    log_.clear();
    probe *top = probe_new(nullptr, "top", 0, 0);
    top->keeps_press = 1;
    widget *mid = bare({0, 0, 10, 10}, top, r.mid_flags);
    widget *leaf = bare({0, 0, 10, 10}, mid);
    leaf->cls->press(leaf, 1, 2, 1);
    leaf->cls->release(leaf, 1, 2, 1);
    key_event k = {65, 'A', 0};
    leaf->cls->key_press(leaf, &k);
    std::vector<std::string> want;
    if (r.press_reaches) want = {"top:press", "top:release"};
    if (r.key_reaches) want.push_back("top:key");
    EXPECT_EQ(log_, want) << r.mid_flags;
    clean();
    top->flags |= WIDGET_HIDDEN;
    widget_delete(top);
  }
}

int g_drag_answer = 0;
int answering_drag_begin(widget *, int32_t, int32_t, int, drag_record *) { return g_drag_answer; }

TEST_F(Widget, DragBeginNamesTheAncestorThatAccepts) {
  // A class whose drag_begin answers g_drag_answer, at the top of a chain of
  // two default widgets.
  typeid_t t = object_register_class("drag_source", widget_type(), sizeof(widget), nullptr,
                                     nullptr, sizeof(widget_class), [](object_class *rec) {
                                       static_cast<widget_class *>(rec)->drag_begin =
                                           answering_drag_begin;
                                     },
                                     nullptr);
  auto *src = reinterpret_cast<widget *>(object_new(t));
  made_.push_back(src);
  widget *mid = bare({0, 0, 10, 10}, src);
  widget *leaf = bare({0, 0, 10, 10}, mid);
  struct row {
    int answer;
    widget *from;
    int result;
    widget *named;
  } rows[] = {
      {1, mid, 1, src},   // the accepting parent is named
      {1, leaf, 1, src},  // through a default widget: still the one that accepts
      {0, leaf, 0, leaf},
  };
  for (const row &r : rows) {
    g_drag_answer = r.answer;
    drag_record d = {1, 1, 3, 3, r.from};
    EXPECT_EQ(r.from->cls->drag_begin(r.from, 3, 3, 0, &d), r.result);
    EXPECT_EQ(d.w, r.named);
  }
  leaf->flags |= WIDGET_KEEP_POINTER;
  g_drag_answer = 1;
  drag_record d = {0, 0, 0, 0, leaf};
  EXPECT_EQ(leaf->cls->drag_begin(leaf, 0, 0, 0, &d), 0);
  clean();
}

TEST_F(Widget, DefaultOperations) {
  widget *w = bare({10, 20, 30, 40});
  struct hit {
    int x, y;
    bool in;
  } hits[] = {{10, 20, true}, {39, 59, true}, {40, 20, false}, {10, 60, false}, {9, 30, false}};
  for (const hit &h : hits)
    EXPECT_EQ(w->cls->find_at(w, h.x, h.y) == w, h.in) << h.x << "," << h.y;
  widget_set_insensitive(w, 1);
  EXPECT_EQ(w->cls->find_at(w, 15, 25), nullptr);
  widget_set_insensitive(w, 0);
  EXPECT_EQ(w->cls->find_at(w, 15, 25), w);

  EXPECT_EQ(w->cls->child_count(w), 0);
  size mn = {5, 5}, mx = {5, 5};
  w->cls->size_limits(w, &mn, &mx);
  EXPECT_EQ(mn.w | mn.h | mx.w | mx.h, 0);
  EXPECT_EQ(w->cls->drag_release(w, nullptr, 0, 0, 1, nullptr), 1);

  LogCapture cap;
  size s = {9, 9};
  w->cls->reqsize(w, &s);
  EXPECT_EQ(s.w | s.h, 0);
  EXPECT_TRUE(cap.has("widget widget_reqsize unimplemented"));

  w->cls->geometry_changed(w);  // the default redraws
  ASSERT_EQ(g_queue.size(), 1u);
  EXPECT_EQ(g_queue[0].w, w);
  EXPECT_EXIT((log_set_stderr(1), w->cls->get_child(w, 0)), ::testing::ExitedWithCode(1),
              "widget_get_child unimplemented");
  clean();
}

TEST_F(Widget, LevelAndInsensitivityReachTheWholeSubtree) {
  hbox *root = hbox_new(nullptr, 0, 0);
  probe *a = probe_new(root, "a", 1, 1);
  vbox *inner = vbox_new(root, 0, 0);
  probe *b = probe_new(inner, "b", 1, 1);
  widget_set_level(root, 3);
  for (widget *w : {static_cast<widget *>(root), static_cast<widget *>(a),
                    static_cast<widget *>(inner), static_cast<widget *>(b)})
    EXPECT_EQ(w->level, 3u);
  widget_set_insensitive(root, 1);
  EXPECT_TRUE(b->flags & WIDGET_INSENSITIVE);
  widget_set_insensitive(root, 0);
  EXPECT_FALSE(b->flags & WIDGET_INSENSITIVE);
  // A child added later takes its container's level.
  probe *c = probe_new(inner, "c", 1, 1);
  EXPECT_EQ(c->level, 3u);
  EXPECT_EQ(c->root, root);
  widget_delete(root);
}

TEST_F(Widget, LifeCallbacksInOrder) {
  vbox *root = vbox_new(nullptr, 0, 0);
  root->r = {0, 0, 100, 100};
  probe_new(root, "a", 10, 10);  // joins a container that is not shown: hidden
  probe *b = probe_new(root, "b", 10, 10);
  widget_show(root);
  widget_hide(b);
  root->cls->geometry_changed(root);
  int nodes = box_nodes_in_use();
  widget_delete(root);
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "a:hide", "b:hide",                // attached to a container not shown
                      "a:show", "b:show",                // the root is shown
                      "b:hide",                          //
                      "a:geometry",                      // relayout: b is not shown, but
                      "b:geometry",                      // every child is relaid out
                      "a:hide",                          // the root's pre-delete hides it
                      "a:predelete", "a:fini",           // the box's fini deletes its
                      "b:predelete", "b:fini",           // children in order
                  }));
  EXPECT_EQ(box_nodes_in_use(), nodes - 2);
}

TEST_F(Widget, SubtreeShowAndHideQueueNothingForTheWidgetItself) {
  vbox *root = vbox_new(nullptr, 0, 0);
  root->r = {0, 0, 10, 10};
  probe *a = probe_new(root, "a", 1, 1);
  a->r = {0, 0, 5, 5};
  g_queue.clear();
  widget_show_subtree(root);
  EXPECT_TRUE(root->flags & WIDGET_SHOWN);
  EXPECT_TRUE(a->flags & WIDGET_SHOWN);
  for (const queued &q : g_queue) EXPECT_NE(q.w, root);
  widget_hide_subtree(root);
  EXPECT_TRUE(root->flags & WIDGET_HIDDEN);
  EXPECT_TRUE(a->flags & WIDGET_HIDDEN);
  EXPECT_EQ(log_, (std::vector<std::string>{"a:hide", "a:show", "a:hide"}));
  widget_set_visible(a, 1);
  EXPECT_TRUE(a->flags & WIDGET_SHOWN);
  widget_set_visible(a, 0);
  EXPECT_TRUE(a->flags & WIDGET_HIDDEN);
  widget_delete(root);
}

TEST_F(Widget, DrawAreaDrawsOnlyWhatHasArea) {
  probe *p = probe_new(nullptr, "p", 1, 1);
  rect any = {0, 0, 1, 1};
  for (rect r : {rect{0, 0, 0, 5}, rect{0, 0, 5, 5}}) {
    p->r = r;
    p->flags |= WIDGET_DIRTY;
    widget_default_draw_area(p, &any);
  }
  EXPECT_EQ(log_, (std::vector<std::string>{"p:draw"}));
  EXPECT_EQ(p->flags & WIDGET_DIRTY, 0u);
  p->flags |= WIDGET_HIDDEN;
  widget_delete(p);
}

TEST_F(Widget, WhileQuittingChildrenAreNotHiddenOnRemovalNorRelaidOut) {
  // The quit state cannot be undone, so this runs in a child process that
  // answers through its exit code.
  auto quitting = [] {
    vbox *v = vbox_new(nullptr, 0, 0);
    widget_show(v);
    v->r = {0, 0, 10, 10};
    probe *a = probe_new(v, "a", 3, 3);
    a->r = {7, 7, 7, 7};
    gui_set_quitting();
    v->cls->geometry_changed(v);
    int relaid = a->r.x != 7;
    container_cls(v)->remove(v, a);
    int hidden = (a->flags & WIDGET_HIDDEN) != 0;
    exit(relaid * 2 + hidden);
  };
  EXPECT_EXIT(quitting(), ::testing::ExitedWithCode(0), "");
}

typeid_t g_refuser = -1;
int refuse_add(container *, widget *) { return -1; }

TEST_F(Widget, RefusedChildLeavesNothingBehind) {
  g_refuser = object_register_class("refuser", bin_type(), sizeof(bin), nullptr, nullptr,
                                    sizeof(container_class), [](object_class *rec) {
                                      static_cast<container_class *>(rec)->add = refuse_add;
                                    },
                                    nullptr);
  widget *r = widget_new(nullptr, g_refuser);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(widget_new(r, probe_type()), nullptr);
  // Deleted at once: the pre-delete hook hides the never-shown widget, then
  // the probe's own hook and fini run.
  EXPECT_EQ(log_, (std::vector<std::string>{"?:hide", "?:predelete", "?:fini"}));
  widget_delete(r);
}

}  // namespace
