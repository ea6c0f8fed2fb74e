// The splitter. The first pane is f = round(T * ratio) - G/2 pixels of the
// extent T, held at min_pane unless there is no room at all, when a pane
// collapses to nothing (and is removed once a drag ends). A drag moves the
// ratio and lays the desktop out again; a move that would push any pane
// below its minimum is taken back whole, so a drag never leaves a squeezed
// layout behind.
//
// Slots: geometry_changed, size_limits, find_at, draw, restyle, drag_begin,
// drag_motion, drag_release, press, release, motion, leave, layout, remove.
#include "screen/splitter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "lib/gfx.h"
#include "log.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "style.h"
#include "ui/gui.h"
#include "undo.h"

static const char kSrc[] = "src/screen/splitter";

namespace {

struct saved_geometry {
  splitter *s;
  rect r;
  double ratio;
};

// The process-wide drag state.
struct {
  splitter *dragging;
  bool clamped;
  bool collapsed;
} S;

splitter *as_splitter(widget *w) { return static_cast<splitter *>(w); }

uint32_t highlight_colour() {
  const style *st = style_cur();
  return st ? style_colour(st, SC_SELECTION) | 0xff000000u : 0xffff8000u;
}

void set_pane_visible(splitter *s, widget *ch, bool room) {
  if (!ch) return;
  if (!(s->flags & WIDGET_SHOWN)) return;
  if (room && !(ch->flags & WIDGET_SHOWN))
    widget_show_subtree(ch);
  else if (!room && (ch->flags & WIDGET_SHOWN))
    widget_hide_subtree(ch);
}

void sp_layout(container *self) {
  splitter *s = as_splitter(self);
  const rect b = s->r;
  widget *a = s->child_a, *c = s->child_b;
  if (!a || !c) {
    widget *only = a ? a : c;
    if (only) only->r = b;
    return;
  }
  const int32_t G = splitter_gap();
  const int32_t T = s->orientation ? b.h : b.w;
  if (S.dragging && S.dragging != s && T > 0) {
    const int32_t ext = s->orientation ? a->r.h : a->r.w;
    double r = double(ext + G / 2) / double(T);
    if (r > 0 && r < 1) s->ratio = r;
  }
  int32_t f = int32_t(std::lround(double(T) * s->ratio)) - G / 2;
  int32_t sec;
  if (f <= 0) {
    S.collapsed = true;
    f = 0;
    sec = T;
  } else {
    if (f < s->min_pane) {
      f = s->min_pane;
      S.clamped = true;
    }
    sec = T - f - G;
    if (sec < 1) {
      S.collapsed = true;
      sec = 0;
      f = T;
    } else if (sec < s->min_pane) {
      sec = s->min_pane;
      S.clamped = true;
      f = T - sec - G;
      if (f <= 0) {
        S.collapsed = true;
        f = 0;
        sec = T;
      }
    }
  }
  s->first_collapsed = f == 0;
  s->second_collapsed = sec == 0;
  set_pane_visible(s, a, f > 0);
  set_pane_visible(s, c, sec > 0);
  if (s->orientation) {
    a->r = {b.x, b.y, b.w, f};
    c->r = {b.x, b.y + b.h - sec, b.w, sec};
  } else {
    a->r = {b.x, b.y, f, b.h};
    c->r = {b.x + b.w - sec, b.y, sec, b.h};
  }
}

void sp_size_limits(widget *self, size *min, size *max) {
  splitter *s = as_splitter(self);
  size m[2] = {{kSplitterMinPane, kSplitterMinPane}, {kSplitterMinPane, kSplitterMinPane}};
  widget *ch[2] = {s->child_a, s->child_b};
  for (int i = 0; i < 2; i++) {
    if (!ch[i]) continue;
    size lo = {0, 0}, hi = {0, 0};
    ch[i]->cls->size_limits(ch[i], &lo, &hi);
    m[i].w = std::max(lo.w, kSplitterMinPane);
    m[i].h = std::max(lo.h, kSplitterMinPane);
  }
  const int32_t G = splitter_gap();
  if (s->orientation)
    *min = {std::max(m[0].w, m[1].w), m[0].h + m[1].h + G};
  else
    *min = {m[0].w + m[1].w + G, std::max(m[0].h, m[1].h)};
  if (max) *max = {0, 0};
}

void sp_draw(widget *self) {
  splitter *s = as_splitter(self);
  const rect b = s->r;
  const int32_t G = splitter_gap();
  const uint32_t bg = desktop_bg_colour();
  gfx_fill_rect(b.x, b.y, b.w, G, bg);
  gfx_fill_rect(b.x, b.y + b.h - G, b.w, G, bg);
  gfx_fill_rect(b.x, b.y, G, b.h, bg);
  gfx_fill_rect(b.x + b.w - G, b.y, G, b.h, bg);
  widget *a = s->child_a, *c = s->child_b;
  if (a && c && !s->first_collapsed && !s->second_collapsed) {
    if (!s->active) {
      if (s->orientation)
        gfx_fill_rect(b.x, a->r.y + a->r.h, b.w, G, bg);
      else
        gfx_fill_rect(a->r.x + a->r.w, b.y, G, b.h, bg);
    } else {
      const uint32_t hl = highlight_colour();
      const uint32_t white = 0xffffffffu;
      if (s->orientation) {
        int32_t y = a->r.y + a->r.h + G / 2 - 2;
        gfx_fill_rect(b.x + 3, y, b.w - 6, 4, hl);
        int32_t mid = b.x + b.w / 2;
        gfx_triangle_left(mid - 10, y + 2, 4, white);
        gfx_triangle_right(mid + 10, y + 2, 4, white);
      } else {
        int32_t x = a->r.x + a->r.w + G / 2 - 2;
        gfx_fill_rect(x, b.y + 3, 4, b.h - 6, hl);
        int32_t mid = b.y + b.h / 2;
        gfx_triangle_down(x + 2, mid - 10, 4, white);
        gfx_triangle_up(x + 2, mid + 10, 4, white);
      }
    }
  }
  for (widget *ch : {a, c})
    if (ch && (ch->flags & WIDGET_SHOWN) && ch->r.w > 0 && ch->r.h > 0) widget_draw(ch);
}

void sp_restyle(widget *self) {
  splitter *s = as_splitter(self);
  container_set_bg(s, desktop_bg_colour());
  for (widget *ch : {s->child_a, s->child_b})
    if (ch) ch->cls->restyle(ch);
}

void sp_geometry_changed(widget *self) {
  // The parent class lays out, then runs each child's geometry change.
  static_cast<container_class *>(object_class_record(box_type()))->geometry_changed(self);
}

widget *sp_find_at(widget *self, int32_t x, int32_t y) {
  splitter *s = as_splitter(self);
  if (!widget_default_find_at(self, x, y)) return nullptr;
  for (widget *ch : {s->child_a, s->child_b}) {
    if (!ch || !(ch->flags & WIDGET_SHOWN)) continue;
    widget *hit = ch->cls->find_at(ch, x, y);
    if (hit) return hit;
  }
  return self;
}

int sp_drag_begin(widget *self, int32_t, int32_t, int, drag_record *) {
  return splitter_drag_begin(as_splitter(self));
}
void sp_drag_motion(widget *self, int32_t x, int32_t y, int, drag_record *) {
  splitter_drag_move(as_splitter(self), x, y);
}
int sp_drag_release(widget *self, widget *, int32_t, int32_t, int, drag_record *) {
  splitter_drag_end(as_splitter(self));
  return 0;
}

void set_active(splitter *s, uint32_t on) {
  if (s->active == on) return;
  s->active = on;
  widget_redraw(s);
}

void sp_press(widget *self, int32_t, int32_t, int button) {
  if (button == 1) set_active(as_splitter(self), 1);
}
void sp_release(widget *self, int32_t, int32_t, int button) {
  if (button == 1) set_active(as_splitter(self), 0);
}
void sp_motion(widget *self, int32_t, int32_t) {
  if (S.dragging) return;
  splitter *s = as_splitter(self);
  if (gui_mouse_buttons() & 1) set_active(s, 1);
  gui_set_cursor(s->orientation ? 3 : 4);
}
void sp_leave(widget *self) {
  if (S.dragging) return;
  set_active(as_splitter(self), 0);
  gui_reset_cursor();
}

widget *sp_remove(container *self, widget *child) {
  splitter *s = as_splitter(self);
  widget *got = static_cast<container_class *>(object_class_record(box_type()))->remove(self, child);
  if (got) {
    if (s->child_a == child) s->child_a = nullptr;
    if (s->child_b == child) s->child_b = nullptr;
  }
  return got;
}

void sp_init(object *obj) {
  auto *s = reinterpret_cast<splitter *>(obj);
  s->ratio = 0.5;
  s->min_pane = kSplitterMinPane;
}

void sp_fini(object *obj) {
  auto *s = reinterpret_cast<splitter *>(obj);
  if (S.dragging == s) S.dragging = nullptr;
  desktop_layout_free(s->drag_layout);
  s->drag_layout = nullptr;
  s->child_a = s->child_b = nullptr;
}

void splitter_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->geometry_changed = sp_geometry_changed;
  c->size_limits = sp_size_limits;
  c->find_at = sp_find_at;
  c->draw = sp_draw;
  c->restyle = sp_restyle;
  c->drag_begin = sp_drag_begin;
  c->drag_motion = sp_drag_motion;
  c->drag_release = sp_drag_release;
  c->press = sp_press;
  c->release = sp_release;
  c->motion = sp_motion;
  c->leave = sp_leave;
  c->layout = sp_layout;
  c->remove = sp_remove;
}

typeid_t register_splitter() {
  return object_register_class("splitter", box_type(), sizeof(splitter), sp_init, sp_fini,
                               sizeof(box_class), splitter_class_init, nullptr);
}

void collect_splitters(widget *w, std::vector<saved_geometry> *out) {
  if (!splitter_is(w)) return;
  splitter *s = as_splitter(w);
  out->push_back({s, s->r, s->ratio});
  collect_splitters(s->child_a, out);
  collect_splitters(s->child_b, out);
}

void run_cull(void *arg, int) { splitter_cull(static_cast<desktop_layout *>(arg)); }
void drop_cull(void *arg, int) { desktop_layout_free(static_cast<desktop_layout *>(arg)); }

}  // namespace

typeid_t splitter_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_splitter);
}

int32_t splitter_gap() {
  const style *st = style_cur();
  return st && st->small[3] > 0 ? st->small[3] : 4;
}

splitter *splitter_new(widget *parent, uint32_t orientation, widget *a, widget *b, double ratio) {
  auto *s = static_cast<splitter *>(widget_new(parent, splitter_type()));
  if (!s) return nullptr;
  s->orientation = orientation ? 1 : 0;
  if (std::isfinite(ratio) && ratio > 0 && ratio < 1) s->ratio = ratio;
  container_set_bg(s, desktop_bg_colour());
  if (a && container_cls(s)->add(s, a) == 0) s->child_a = a;
  if (b && container_cls(s)->add(s, b) == 0) s->child_b = b;
  return s;
}

uint32_t splitter_is_vertical(const splitter *s) { return s->orientation; }
double splitter_get_ratio(const splitter *s) { return s->ratio; }
int splitter_set_ratio(splitter *s, double ratio) {
  if (!std::isfinite(ratio) || ratio <= 0 || ratio >= 1) return -1;
  s->ratio = ratio;
  return 0;
}
int32_t splitter_get_min_pane(const splitter *s) { return s->min_pane; }
void splitter_set_min_pane(splitter *s, int32_t px) { s->min_pane = px; }
widget *splitter_get_child(const splitter *s, int i) { return i == 0 ? s->child_a : s->child_b; }

int splitter_replace_child(splitter *s, widget *old, widget *repl) {
  if (!old || (old != s->child_a && old != s->child_b)) {
    log(LOG_ERROR, kSrc, "child is not of this split");
    return -1;
  }
  const bool first = old == s->child_a;
  container_cls(s)->remove(s, old);
  if (repl && container_cls(s)->add(s, repl) == 0) (first ? s->child_a : s->child_b) = repl;
  s->cls->geometry_changed(s);
  widget_redraw(s);
  return 0;
}

splitter *splitter_dragging() { return S.dragging; }
bool splitter_clamped() { return S.clamped; }
bool splitter_collapsed() { return S.collapsed; }
void splitter_reset_flags() {
  S.clamped = false;
  S.collapsed = false;
}

int splitter_drag_begin(splitter *s) {
  desktop *d = desktop_of_widget(s);
  desktop_set_changing();
  desktop_layout_free(s->drag_layout);
  s->drag_layout = d ? desktop_layout_save(d) : nullptr;
  s->active = 1;
  widget_redraw(s);
  return 1;
}

void splitter_drag_move(splitter *s, int32_t px, int32_t py) {
  const int32_t ext = s->orientation ? s->r.h : s->r.w;
  if (ext <= 0) return;  // nothing to divide yet
  const double old_ratio = s->ratio;
  double r = s->orientation ? double(py - s->r.y) / ext : double(px - s->r.x) / ext;
  if (!std::isfinite(r)) return;
  // Kept inside (0, 1): a point beyond an edge collapses that pane rather
  // than storing a ratio that could never be written back.
  r = std::clamp(r, 1e-6, 1 - 1e-6);
  desktop *d = desktop_of_widget(s);
  std::vector<saved_geometry> before;
  if (d) collect_splitters(d->child, &before);
  S.clamped = false;
  S.collapsed = false;
  S.dragging = s;
  s->ratio = r;
  widget *top = d ? static_cast<widget *>(d) : s;
  top->cls->geometry_changed(top);
  if (S.clamped) {
    bool changed = false;
    for (const saved_geometry &g : before) {
      if (g.s->ratio != g.ratio || std::memcmp(&g.s->r, &g.r, sizeof g.r) != 0) changed = true;
      g.s->ratio = g.ratio;
      g.s->r = g.r;
    }
    s->ratio = old_ratio;
    if (changed) {
      S.dragging = nullptr;  // lay out from the restored ratios as they are
      top->cls->geometry_changed(top);
      S.dragging = s;
    }
  }
  widget_redraw(top);
}

void splitter_drag_end(splitter *s) {
  desktop *d = desktop_of_widget(s);
  desktop_layout *snap = s->drag_layout;
  s->drag_layout = nullptr;
  if (!snap) {
    log(LOG_ERROR, kSrc, "no saved layout?");
  } else if (!S.collapsed) {
    undo_push_layout_snapshot(snap);
  } else {
    gui_promise_after_draw_cleanup(run_cull, snap, 0, drop_cull);
  }
  S.collapsed = false;
  S.dragging = nullptr;
  s->active = 0;
  if (d) {
    desktop_relayout_now(d);
    d->cls->geometry_changed(d);
    desktop_sanitize(d);
  }
  gui_reset_cursor();
}

static splitter *find_collapsed(widget *w) {
  if (!splitter_is(w)) return nullptr;
  splitter *s = as_splitter(w);
  if (splitter *x = find_collapsed(s->child_a)) return x;
  if (splitter *x = find_collapsed(s->child_b)) return x;
  if ((s->first_collapsed || s->second_collapsed) && s->child_a && s->child_b) return s;
  return nullptr;
}

static splitter *parent_splitter(widget *w) {
  return w && splitter_is(w->parent) ? as_splitter(w->parent) : nullptr;
}

void splitter_cull(desktop_layout *snapshot) {
  if (!snapshot) return;
  desktop *d = snapshot->d;
  if (!d || !splitter_is(d->child)) {
    log(LOG_WARN, kSrc, "no splitter to cull?");
    desktop_layout_free(snapshot);
    return;
  }
  undo_begin();
  undo_push_layout_snapshot(snapshot);
  splitter *s = find_collapsed(d->child);
  if (!s) {
    log(LOG_WARN, kSrc, "culled nothing?");
    undo_end();
    undo_cancel();
  } else {
    widget *victim = s->first_collapsed ? s->child_a : s->child_b;
    widget *keeper = victim == s->child_a ? s->child_b : s->child_a;
    splitter_remove_child(d, parent_splitter(s), s, keeper, victim);
    undo_end();
  }
  d->cls->geometry_changed(d);
  desktop_sanitize(d);
}

void splitter_remove_child(widget *dw, splitter *parent, splitter *s, widget *keeper,
                           widget *victim) {
  desktop *d = desktop_of_self(dw);
  if (!parent && !(d && d->child == s)) {
    log(LOG_ERROR, kSrc, "%s is not a desktop", dw ? object_type_name(widget_obj(dw)) : "null");
    return;  // nowhere to put the keeper: the tree stays as it is
  }
  for (window *w : desktop_windows(victim)) {
    if (d) desktop_forget_window(d, w);
  }
  // Keeper and victim leave the splitter; the victim's windows go to undo,
  // which owns (and in this build deletes) them.
  container_cls(s)->remove(s, victim);
  if (window_is(victim)) {
    undo_push_removed_window(static_cast<window *>(victim));
  } else {
    for (window *w : desktop_windows(victim)) {
      if (w->parent) container_cls(static_cast<container *>(w->parent))->remove(
          static_cast<container *>(w->parent), w);
      undo_push_removed_window(w);
    }
    widget_delete(victim);
  }
  container_cls(s)->remove(s, keeper);
  if (parent) {
    const bool first = parent->child_a == s;
    container_cls(parent)->remove(parent, s);
    if (container_cls(parent)->add(parent, keeper) == 0)
      (first ? parent->child_a : parent->child_b) = keeper;
  } else {
    container_cls(d)->remove(d, s);
    container_cls(d)->add(d, keeper);
  }
  widget_delete(s);
  if (keeper && keeper->parent && (keeper->parent->flags & WIDGET_SHOWN))
    widget_show_subtree(keeper);
}
