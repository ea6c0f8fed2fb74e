// The harness of the tool panels' tests: the grids' fixture (style, model
// with its exchanges, scans, watchlists, undo, redraws dropped) plus what a
// panel needs around it: the gui's promise lists with a runner that plays
// "after the next redraw", desktops of market windows, the Shift key, an
// undo probe, and button clicks made through the button's own press and
// release (state words 32 click, 64 dragged out, 128 dropped on).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "../windows/gridtest.h"
#include "pool.h"
#include "screen/desktop.h"
#include "tools/scantools.h"
#include "tools/tools.h"
#include "ui/button.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "ui/key.h"
#include "windows/window.h"

constexpr uint32_t kClick = BUTTON_IN_CALLBACK;       // 32
constexpr uint32_t kDragged = BUTTON_DRAGGED_OUT;     // 64
constexpr uint32_t kDroppedOn = BUTTON_DROPPED_ON;    // 128

class Panels : public Grid {
 protected:
  std::vector<desktop *> desks;

  void SetUp() override {
    Grid::SetUp();
    key_reset();
    if (!G.promise_pool_ready) {
      pool_init(&G.promise_pool, 8, int32_t(sizeof(gui_promise_item)));
      G.promise_pool_ready = 1;
      own_pool_ = true;
    }
  }
  void TearDown() override {
    key_reset();
    for (desktop *d : desks) widget_delete(d);
    desks.clear();
    gui_promise_cancel_all();
    Grid::TearDown();
    if (own_pool_) {
      pool_destroy(&G.promise_pool);
      G.promise_pool_ready = 0;
      own_pool_ = false;
    }
  }

  // The promise runner: what the frame loop runs before and after a draw.
  static void redraw_passes() {
    gui_run_promises(&G.before);
    gui_run_promises(&G.after);
  }
  static int pending_after() {
    int n = 0;
    for (gui_promise_item *p = G.after.head; p; p = p->next) n++;
    return n;
  }
  static void gui_promise_cancel_all() {
    while (G.before.head) gui_promise_cancel(nullptr, G.before.head->arg);
    while (G.after.head) gui_promise_cancel(nullptr, G.after.head->arg);
  }

  // A desktop holding n watchlist windows side by side in one row, each
  // showing the given scan (null: none).
  desktop *desk_of(const std::vector<scan *> &lists, std::vector<window *> *out) {
    desktop *d = desktop_new(nullptr);
    d->r = {0, 0, 300 * int32_t(lists.size()), 300};
    desks.push_back(d);
    hbox *row = hbox_new(d, 0, 0);
    row->r = d->r;
    for (size_t i = 0; i < lists.size(); i++) {
      window *w = window_new(row, 0);
      w->r = {int32_t(300 * i), 0, 300, 300};
      window_set_role(w, kRoleWatchlist);
      if (lists[i]) watchlist_set_scan(list_of(w), lists[i]);
      out->push_back(w);
    }
    return d;
  }
  // n windows of `role` side by side on a desktop of their own, each
  // width x height.
  std::vector<window *> desk_of_role(uint32_t role, int n, int32_t width = 300, int32_t height = 300) {
    desktop *d = desktop_new(nullptr);
    d->r = {0, 0, width * n, height};
    desks.push_back(d);
    hbox *row = hbox_new(d, 0, 0);
    row->r = d->r;
    std::vector<window *> out;
    for (int i = 0; i < n; i++) {
      window *w = window_new(row, 0);
      w->r = {width * i, 0, width, height};
      window_set_role(w, role);
      out.push_back(w);
    }
    return out;
  }
  // The same, each 700 x 400, their panels refreshed, appended to *out.
  void windows_of_role(uint32_t role, int n, std::vector<window *> *out) {
    for (window *w : desk_of_role(role, n, 700, 400)) {
      tools_refresh_now(window_get_tools(w, role));
      out->push_back(w);
    }
  }
  static watchlist *list_of(window *w) { return static_cast<watchlist *>(w->child[kWinWatchlist]); }
  static scantools *panel_of(window *w) {
    widget *p = window_get_tools(w, kRoleWatchlist);
    return scantools_is(p) ? static_cast<scantools *>(p) : nullptr;
  }

  // Shift as the keyboard module tracks it (the left Shift key's code).
  static void shift(bool down) {
    key_event e;
    key_translate(&e, 1044, down ? 1 : 0);
  }

  // A click (press and release inside) through the button's own handlers.
  static void click(button *b) {
    ASSERT_NE(b, nullptr);
    b->r = {1, 1, 40, 16};
    b->cls->press(b, 5, 5, 1);
    b->cls->release(b, 5, 5, 1);
  }
  // The id of a group's selected member, or -99 with none.
  static int32_t active(button_group *g) { return g->active ? g->active->id : -99; }

  // The undo probe: records held and the newest types.
  static std::vector<int> undo_types(int n) {
    std::vector<int> t;
    for (int i = 0; i < n; i++) t.push_back(undo_type_at(i));
    return t;
  }

 private:
  bool own_pool_ = false;
};
