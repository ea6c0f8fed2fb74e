// Input dispatch driven at its entry points: scripts of motion, button,
// wheel and key events against a small tree, compared with the operations
// the widgets saw, in order. No display is needed: the window is a slot of
// the gui's table with a root and no native window.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "guitest.h"
#include "testlog.h"
#include "ui/gui_internal.h"
#include "ui/key.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

struct step {
  char op;  // m motion, p press, r release, w wheel, k key down, K key up, d deliver drag motion
  int a, b;
};

class Input : public ::testing::Test {
 protected:
  tw *r, *p, *a, *b, *c, *m, *z;
  void SetUp() override {
    r = tw_new(nullptr, "r", {0, 0, 400, 300});
    p = tw_new(r, "p", {10, 10, 200, 200});
    a = tw_new(p, "a", {20, 20, 50, 50});
    b = tw_new(p, "b", {100, 20, 50, 50});
    c = tw_new(r, "c", {250, 10, 100, 100});
    m = tw_new(r, "m", {250, 150, 100, 100});
    m->flags |= WIDGET_MOVABLE;
    z = tw_new(r, "z", {50, 220, 100, 60});
    z->flags |= WIDGET_RESIZABLE;
    gui_win &w = G.wins[0];
    free(w.updates);
    memset(&w, 0, sizeof w);
    w.in_use = 1;
    w.root = r;
    w.frame = {0, 0, 400, 300};
    widget_show(r);
    gui_input_reset();
    key_reset();
    gui_set_drag_start_hook([](widget *w, drag_record *) {
      tw_log().push_back(std::string("hook:start:") + static_cast<tw *>(w)->name);
    });
    gui_set_drop_hook([](widget *w, drag_record *) {
      tw_log().push_back(std::string("hook:drop:") + (w ? static_cast<tw *>(w)->name : "null"));
    });
  }
  void TearDown() override {
    gui_set_drag_start_hook(nullptr);
    gui_set_drop_hook(nullptr);
    G.wins[0].in_use = 0;
    G.wins[0].root = nullptr;
    widget_delete(r);
    free(G.wins[0].updates);
    G.wins[0].updates = nullptr;
    G.wins[0].update_count = G.wins[0].update_cap = 0;
    gui_input_reset();
  }
  // Puts the pointer at (x, y) and forgets what that logged.
  void start_at(int x, int y) {
    gui_motion_event(0, x, y);
    tw_log().clear();
  }
  std::vector<std::string> run(const std::vector<step> &script) {
    for (const step &s : script) switch (s.op) {
        case 'm': gui_motion_event(0, s.a, s.b); break;
        case 'p': gui_button_event(0, s.a, 1); break;
        case 'r': gui_button_event(0, s.a, 0); break;
        case 'w': gui_wheel_event(0, s.a); break;
        case 'k': gui_key_event(0, s.a, 1); break;
        case 'K': gui_key_event(0, s.a, 0); break;
        case 'd': gui_deliver_drag_motion(); break;
      }
    return tw_log();
  }
};

TEST_F(Input, ScriptsGiveTheOperationsInOrder) {
  struct {
    const char *name;
    int x, y;              // where the pointer starts
    int drag_answer, release_answer;
    std::vector<step> script;
    std::vector<std::string> want;
  } cases[] = {
      {"a click within 1 pixel", 30, 30, 1, 1,
       {{'p', 1, 0}, {'m', 31, 30}, {'r', 1, 0}},
       {"a:press(30,30,1)", "a:after_press(30,30,1)", "a:motion(31,30,0)", "a:release(31,30,1)",
        "a:after_release(31,30,1)"}},
      {"a refused drag leaves the press silent", 30, 30, 0, 1,
       {{'p', 1, 0}, {'m', 32, 30}, {'m', 40, 30}, {'m', 45, 31}, {'r', 1, 0}},
       {"a:press(30,30,1)", "a:after_press(30,30,1)", "a:drag_begin(30,30,1)", "a:motion(32,30,0)",
        "a:release(45,31,1)", "a:after_release(45,31,1)"}},
      {"a drag dropped on a sibling", 30, 30, 1, 1,
       {{'p', 1, 0}, {'m', 30, 32}, {'m', 33, 33}, {'m', 110, 30}, {'d', 0, 0}, {'r', 1, 0}},
       {"a:press(30,30,1)", "a:after_press(30,30,1)", "a:drag_begin(30,30,1)", "hook:start:a",
        "a:motion(33,33,0)", "a:leave", "p:leave", "p:enter", "b:enter", "b:motion(110,30,0)",
        "a:drag_motion(110,30,1)", "a:drag_release:b(110,30,0)", "b:drop(110,30,0)",
        "hook:drop:b"}},
      {"a drop the source refuses", 30, 30, 1, 0,
       {{'p', 1, 0}, {'m', 35, 30}, {'m', 260, 20}, {'r', 1, 0}},
       {"a:press(30,30,1)", "a:after_press(30,30,1)", "a:drag_begin(30,30,1)", "hook:start:a",
        "a:leave", "p:leave", "r:leave", "r:enter", "c:enter", "c:motion(260,20,0)",
        "a:drag_motion(260,20,1)", "a:drag_release:c(260,20,0)", "hook:drop:c"}},
      {"the right button never drags", 30, 30, 1, 1,
       {{'p', 2, 0}, {'m', 40, 30}, {'r', 2, 0}},
       {"a:press(30,30,2)", "a:after_press(30,30,2)", "a:motion(40,30,0)", "a:release(40,30,2)",
        "a:after_release(40,30,2)"}},
      {"a release elsewhere goes to the pressed widget alone", 30, 30, 0, 1,
       {{'p', 2, 0}, {'m', 110, 30}, {'r', 2, 0}},
       {"a:press(30,30,2)", "a:after_press(30,30,2)", "a:leave", "p:leave", "p:enter", "b:enter",
        "b:motion(110,30,0)", "a:release(110,30,2)"}},
      {"child to sibling: leave, leave, enter, enter", 30, 30, 1, 1,
       {{'m', 110, 30}},
       {"a:leave", "p:leave", "p:enter", "b:enter", "b:motion(110,30,0)"}},
      {"wheel to the widget under the pointer", 110, 30, 1, 1,
       {{'w', 3, 0}, {'w', 5, 0}},
       {"b:wheel(3,0,0)", "b:wheel(5,0,0)"}},
      {"keys without focus go to the widget under the pointer", 260, 20, 1, 1,
       {{'k', 1001, 0}, {'k', 1044, 0}, {'k', 'A', 0}, {'K', 'A', 0}, {'K', 1044, 0}},
       {"c:key_press(1001,13,0)", "c:key_press(1000,0,4)", "c:key_press(1015,65,4)",
        "c:key_release(1015,65,4)", "c:key_release(1000,0,0)"}},
  };
  for (auto &cs : cases) {
    a->drag_answer = cs.drag_answer;
    a->release_answer = cs.release_answer;
    gui_input_reset();
    start_at(cs.x, cs.y);
    EXPECT_EQ(run(cs.script), cs.want) << cs.name;
    EXPECT_EQ(gui_dragging(), 0) << cs.name;
    EXPECT_EQ(gui_mouse_buttons(), 0) << cs.name;
  }
}

TEST_F(Input, KeysGoToTheFocusWhereverThePointerIs) {
  a->focus_on_press = 1;
  start_at(30, 30);
  run({{'p', 1, 0}, {'r', 1, 0}});
  EXPECT_EQ(gui_focus(), a);
  gui_motion_event(0, 260, 20);
  tw_log().clear();
  EXPECT_EQ(run({{'k', 'Q', 0}, {'K', 'Q', 0}}),
            (std::vector<std::string>{"a:key_press(1015,81,0)", "a:key_release(1015,81,0)"}));
  // A press on another widget drops the focus.
  run({{'p', 1, 0}, {'r', 1, 0}});
  EXPECT_EQ(gui_focus(), nullptr);
}

TEST_F(Input, MovingAndResizingByTheBands) {
  // Far left: 20 pixels of the widget stay inside.
  start_at(260, 155);  // in m's 20-pixel top band
  run({{'p', 1, 0}, {'m', -500, 160}, {'r', 1, 0}});
  EXPECT_EQ(m->r.x, 20 - m->r.w);
  EXPECT_EQ(m->r.y, 155);
  EXPECT_TRUE(tw_log().empty());  // the press went to no widget
  // Far right and low: kept 21 pixels inside the root, top at most 4 down.
  m->r = {250, 150, 100, 100};
  start_at(260, 155);
  run({{'p', 1, 0}, {'m', 1000, 2}, {'r', 1, 0}});
  EXPECT_EQ(m->r.x, 400 - 21);
  EXPECT_EQ(m->r.y, 4);

  // The bottom-right corner: the cursor says so, and the size follows the
  // pointer exactly.
  struct {
    int x, y, cursor, dx, dy;
    rect want;
  } cases[] = {
      {148, 278, 10, 10, 5, {50, 220, 110, 65}},   // bottom right grows
      {51, 221, 7, -6, -4, {44, 216, 106, 64}},    // top left grows up and left
      {100, 278, 5, 0, -20, {50, 220, 100, 40}},   // bottom edge shrinks
  };
  for (auto &cs : cases) {
    z->r = {50, 220, 100, 60};
    gui_input_reset();
    start_at(cs.x, cs.y);
    EXPECT_EQ(gui_cursor(), cs.cursor) << cs.x << "," << cs.y;
    run({{'p', 1, 0}, {'m', cs.x + cs.dx, cs.y + cs.dy}});
    EXPECT_EQ(gui_resizing(), 1);
    run({{'r', 1, 0}});
    EXPECT_EQ(gui_resizing(), 0);
    EXPECT_EQ(memcmp(&z->r, &cs.want, sizeof(rect)), 0)
        << cs.x << "," << cs.y << " got " << z->r.x << "," << z->r.y << " " << z->r.w << "x"
        << z->r.h;
    EXPECT_EQ(gui_cursor(), 0);  // back to the arrow
  }
}

TEST_F(Input, ForgettingTheSourceEndsTheDrag) {
  a->drag_answer = 1;
  start_at(30, 30);
  run({{'p', 1, 0}, {'m', 40, 30}});
  ASSERT_EQ(gui_dragging(), 1);
  EXPECT_EQ(gui_drag_source(), a);
  tw_log().clear();
  gui_forget_widget(a);
  EXPECT_EQ(tw_log(), (std::vector<std::string>{"hook:drop:null"}));
  EXPECT_EQ(gui_dragging(), 0);
  EXPECT_EQ(gui_drag_source(), nullptr);
  // The release then reaches nobody that was forgotten.
  tw_log().clear();
  gui_motion_event(0, 110, 30);
  run({{'r', 1, 0}});
  for (const std::string &l : tw_log()) EXPECT_EQ(l.rfind("a:", 0), std::string::npos) << l;
}

TEST_F(Input, LeavingTheWindowAndWindowMoves) {
  static std::vector<std::string> crossings;
  gui_set_crossing_hook([](int w, int in) {
    crossings.push_back(std::to_string(w) + (in ? " in" : " out"));
  });
  start_at(30, 30);
  gui_pointer_crossing(0, 0);
  EXPECT_EQ(tw_log(), (std::vector<std::string>{"a:leave", "p:leave", "r:leave"}));
  EXPECT_EQ(crossings, std::vector<std::string>{"0 out"});
  int win;
  int32_t x, y;
  gui_mouse(&win, &x, &y);
  EXPECT_EQ(win, -1);
  EXPECT_EQ(x, -1);
  gui_set_crossing_hook(nullptr);

  // A new size becomes the root's rect and asks for a relayout.
  gui_win &w = G.wins[0];
  w.needs_draw = w.full_redraw = w.reset = 0;
  rect moved = {30, 40, 500, 320};
  gui_window_moved(0, &moved, 1);
  EXPECT_EQ(memcmp(&w.frame, &moved, sizeof moved), 0);
  EXPECT_EQ(memcmp(&w.prev_frame, &moved, sizeof moved), 0);
  EXPECT_EQ(r->r.w, 500);
  EXPECT_EQ(r->r.h, 320);
  EXPECT_EQ(w.reset, 1);
  EXPECT_EQ(w.extra_full_redraws, 2);
  // A move alone only invalidates.
  w.reset = 0;
  rect moved2 = {60, 40, 500, 320};
  gui_window_moved(0, &moved2, 1);
  EXPECT_EQ(w.frame.x, 60);
  EXPECT_EQ(w.reset, 0);
  EXPECT_EQ(w.full_redraw, 1);
}

TEST_F(Input, PointerSpeedFromTheSamples) {
  gui_input_reset();
  G.samples_on = 0;
  G.sample_count = G.sample_next = 0;
  EXPECT_FLOAT_EQ(gui_mouse_speed(), 999.0f);
  gui_motion_event(0, 0, 0);
  EXPECT_FLOAT_EQ(gui_mouse_speed(), 0.0f);  // one sample
  gui_motion_event(0, 3, 4);
  gui_motion_event(0, 3, 10);
  EXPECT_FLOAT_EQ(gui_mouse_speed(), (5.0f + 6.0f) / 3.0f);
}

}  // namespace
