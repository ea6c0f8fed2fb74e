// Input dispatch: the platform's events become widget operations. The gui
// tracks the widget under the pointer (sending leave and enter through the
// nearest common ancestor), the keyboard focus, the press that a release
// belongs to, a drag protocol that starts once the pointer moves 2 pixels
// with the left button down, and the moving and resizing of widgets by
// their top band and edges. All coordinates are window pixels, y downward.
//
// The drag's motion is not sent on every pointer event: the latest position
// waits as a pending motion and the frame loop delivers it once a pass, so a
// slow drop target costs one call a frame, not one per event.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "ui/gui_internal.h"
#include "ui/tooltip.h"
#include "ui/key.h"

static const char kSrc[] = "src/ui/gui_input";
static constexpr int kMaxAncestors = 32;
static constexpr int kDragThreshold = 2;
static constexpr int kEdgeBand = 5;
static constexpr int kModeMove = 256;

static struct {
  int win;           // window under the pointer, -1 none
  int32_t x, y;      // pointer in it, -1 -1 outside
  int buttons;       // 1 left, 2 right
  widget *hover, *entered, *focus, *pressed, *release_target;
  int32_t press_x, press_y;
  int armed, dragging;
  widget *source, *motion_target, *drop_target;
  int32_t pend_x, pend_y, pend_n;
  int pending;
  int label_showing;
  widget *moving;
  int mode;
  int32_t grab_dx, grab_dy, grab_bottom, grab_right;
  int cursor, default_cursor, band_cursor;
  int drag_mode;
  int move_band;
  int key_window;
  drag_record rec;
} I;

void gui_input_reset(void) {
  memset(&I, 0, sizeof I);
  I.win = -1;
  I.x = I.y = -1;
  I.move_band = 20;
}

// ---- small helpers ----

void gui_make_current(int index) {
  if (index < -1 || index >= kGuiWindows) {
    log(LOG_ERROR, kSrc, "won't set current window to %d", index);
    index = -1;
  }
  G.current = index;
  if (G.current_hook) G.current_hook(index);
}

int gui_current_window(void) { return G.current; }
void gui_set_current_window(int index) { gui_make_current(index); }

static void activity(void) { G.last_activity = gui_time_ms(); }

static widget *root_of(int win) {
  gui_win *w = gui_window_record(win);
  return w && w->in_use ? w->root : nullptr;
}

// The widget under the pointer; it becomes the hover widget and the drag
// record's widget.
static widget *find_under(void) {
  widget *root = root_of(I.win);
  widget *w = root ? (root)->cls->find_at(root, I.x, I.y) : nullptr;
  I.hover = w;
  I.rec.w = w;
  return w;
}

static void mark_window_draw(int win) {
  if (gui_win *w = gui_window_record(win)) w->needs_draw = 1;
}

void gui_add_sample(int32_t x, int32_t y) {
  G.samples[G.sample_next][0] = x;
  G.samples[G.sample_next][1] = y;
  G.sample_next = (G.sample_next + 1) % 12;
  if (G.sample_count < 12) G.sample_count++;
}

// ---- enter and leave ----

static int chain(widget *w, widget **out) {
  int n = 0;
  for (; w; w = w->parent) {
    if (n == kMaxAncestors) return -1;
    out[n++] = w;
  }
  return n;
}

static void walk(widget *a, widget *b) {
  if (a == b) {
    log(LOG_WARN, kSrc, "asked to traverse the same %s object",
        a ? object_type_name(widget_obj(a)) : "null");
    return;
  }
  widget *ca[kMaxAncestors], *cb[kMaxAncestors];
  int na = chain(a, ca), nb = chain(b, cb);
  if (na < 0 || nb < 0) {
    widget *bad = na < 0 ? a : b;
    log(LOG_ERROR, kSrc, "%s has too many ancestors!", object_type_name(widget_obj(bad)));
    return;
  }
  // The nearest common ancestor: index in a's chain and in b's chain.
  int ia = -1, ib = -1;
  for (int i = 0; i < na && ia < 0; i++)
    for (int j = 0; j < nb; j++)
      if (ca[i] == cb[j]) {
        ia = i;
        ib = j;
        break;
      }
  int leave_to = ia >= 0 ? ia : na - 1;
  for (int i = 0; i <= leave_to && na > 0; i++) (ca[i])->cls->leave(ca[i]);
  if (I.dragging && I.drag_mode) return;
  int enter_from = ib >= 0 ? ib : nb - 1;
  for (int j = enter_from; j >= 0; j--) (cb[j])->cls->enter(cb[j]);
}

// ---- bands (move and resize) ----

static void band_cursor_default(void) {
  if (I.band_cursor) {
    I.band_cursor = 0;
    gui_set_cursor(I.default_cursor);
  }
}

static int band_hit(widget *w, int32_t x, int32_t y, widget **which) {
  for (widget *W = w; W; W = W->parent) {
    if (W->flags & WIDGET_RESIZABLE) {
      int code = 0;
      if (y < W->r.y + kEdgeBand)
        code = 16;
      else if (y > W->r.y + W->r.h - 1 - kEdgeBand)
        code = 32;
      if (x < W->r.x + kEdgeBand)
        code += 1;
      else if (x > W->r.x + W->r.w - 1 - kEdgeBand)
        code += 2;
      if (code) {
        *which = W;
        return code;
      }
    }
    if ((W->flags & WIDGET_MOVABLE) && y < W->r.y + I.move_band) {
      band_cursor_default();
      *which = W;
      return kModeMove;
    }
  }
  band_cursor_default();
  *which = nullptr;
  return 0;
}

static void band_set_cursor(int code) {
  int c;
  switch (code) {
    case 1: c = 4; break;
    case 2: c = 6; break;
    case 16: c = 3; break;
    case 17: c = 7; break;
    case 18: c = 8; break;
    case 32: c = 5; break;
    case 33: c = 9; break;
    case 34: c = 10; break;
    default: return;
  }
  gui_set_cursor(c);
  I.band_cursor = 1;
}

static int32_t clamp_len(int32_t v, int32_t lo, int32_t hi) {
  if (lo && v < lo) v = lo;
  if (hi && v > hi) v = hi;
  return v;
}

static void move_or_resize(int32_t x, int32_t y) {
  widget *W = I.moving;
  widget *root = root_of(I.win);
  if (!root) return;
  const rect &R = root->r;
  if (I.mode == kModeMove) {
    W->r.x = x - I.grab_dx;
    W->r.y = y - I.grab_dy;
    if (W->r.x + W->r.w <= 20)
      W->r.x = 20 - W->r.w;
    else if (W->r.x > R.x + R.w - 21)
      W->r.x = R.x + R.w - 21;
    if (W->r.y < 4)
      W->r.y = 4;
    else if (W->r.y > R.y + R.h - 21)
      W->r.y = R.y + R.h - 21;
  } else {
    size mn = {0, 0}, mx = {0, 0};
    (W)->cls->size_limits(W, &mn, &mx);
    if (mx.w) mx.w = mx.w < R.w ? mx.w : R.w;
    if (mx.h) mx.h = mx.h < R.h ? mx.h : R.h;
    int32_t yy = y > 4 ? y : 4;
    if (I.mode & 16) {
      int32_t bottom = W->r.y + W->r.h;
      W->r.h = clamp_len(bottom - (yy - I.grab_dy), mn.h, mx.h);
      W->r.y = bottom - W->r.h;
    }
    if (I.mode & 32) W->r.h = clamp_len(yy - W->r.y + I.grab_bottom + 1, mn.h, mx.h);
    if (I.mode & 1) {
      int32_t right = W->r.x + W->r.w;
      W->r.w = clamp_len(right - (x - I.grab_dx), mn.w, mx.w);
      W->r.x = right - W->r.w;
    }
    if (I.mode & 2) W->r.w = clamp_len(x - W->r.x + I.grab_right + 1, mn.w, mx.w);
  }
  (W)->cls->geometry_changed(W);
  if (gui_win *w = gui_window_record(I.win)) {
    w->needs_draw = w->full_redraw = 1;
    w->extra_full_redraws = 2;
  }
}

// ---- entry points ----

void gui_motion_event(int win, int32_t x, int32_t y) {
  gui_make_current(win);
  widget *root = root_of(win);
  if (!root) return;
  if (!I.moving && (x < root->r.x || y < root->r.y || x >= root->r.x + root->r.w ||
                    y >= root->r.y + root->r.h)) {
    gui_win *from = gui_window_record(win);
    int other = gui_plat_window_at(from->frame.x + x, from->frame.y + y);
    gui_win *to = gui_window_record(other);
    if (other >= 0 && other != win && to && to->in_use && to->root) {
      x = from->frame.x + x - to->frame.x;
      y = from->frame.y + y - to->frame.y;
      win = other;
      gui_make_current(win);
    }
  }
  G.at_rest = 0;
  G.samples_on = 1;
  I.win = win;
  I.x = x;
  I.y = y;
  G.motion_in_pump = 1;
  G.hover_at = gui_time_ms() + 300;
  G.recheck_hover = 0;
  gui_add_sample(x, y);

  if (I.moving) {
    move_or_resize(x, y);
    return;
  }
  if (I.dragging) {
    widget *w = find_under();
    if (w) {
      if (w != I.entered) walk(I.entered, w);
      if (!I.drag_mode) (w)->cls->motion(w, x, y);
    }
    I.entered = w;
    if (I.source && I.motion_target) {
      I.pend_x = x;
      I.pend_y = y;
      I.pending = 1;
    }
    mark_window_draw(win);
    return;
  }
  if (I.buttons == 1 && I.pressed) {
    if (abs(x - I.press_x) >= kDragThreshold || abs(y - I.press_y) >= kDragThreshold) {
      if (!I.armed) return;  // the rest of this press is silent
      I.armed = 0;
      widget *p = I.pressed;
      I.rec = drag_record{I.press_x, I.press_y, I.press_x, I.press_y, I.hover};
      I.drop_target = nullptr;
      if (!(p)->cls->drag_begin(p, I.press_x, I.press_y, 1, &I.rec)) {
        (p)->cls->motion(p, x, y);
        return;
      }
      I.dragging = 1;
      I.source = I.rec.w;
      I.motion_target = I.rec.w;
      I.pend_x = I.press_x;
      I.pend_y = I.press_y;
      I.pend_n = 1;
      I.pending = 0;
      I.label_showing = tooltip_visible();
      if (G.drag_start_hook) G.drag_start_hook(p, &I.rec);
      mark_window_draw(win);
      return;
    }
  }
  widget *w = find_under();
  if (!w) {
    I.entered = nullptr;
    return;
  }
  if (w != I.entered) walk(I.entered, w);
  (w)->cls->motion(w, x, y);
  I.entered = w;
  if (!I.buttons) {
    widget *W;
    int code = band_hit(w, x, y, &W);
    if (code && code != kModeMove) band_set_cursor(code);
  }
}

// The controls that commit what was typed when the focus leaves them (the
// text box, the spinners) install a hook each; every hook is told of every
// widget that loses the focus and acts only on its own class.
static struct {
  void (*fn[4])(widget *w);
  int n;
} U;

void gui_add_unfocus_hook(void (*fn)(widget *w)) {
  for (int i = 0; i < U.n; i++)
    if (U.fn[i] == fn) return;
  if (U.n < 4) U.fn[U.n++] = fn;
}

static void focus_left(widget *old) {
  if (!widget_is_shown(old) || (old->flags & WIDGET_INSENSITIVE)) return;
  for (int i = 0; i < U.n; i++) U.fn[i](old);
  widget_redraw(old);
}

static void drop_focus_for(widget *w) {
  if (I.focus == w) return;
  widget *old = I.focus;
  I.focus = nullptr;
  if (old) focus_left(old);
}

static void end_drag(widget *target) {
  if (G.drop_hook) G.drop_hook(target, &I.rec);
  tooltip_hide_text();
  tooltip_hide_number();
  I.label_showing = 0;
  gui_invalidate_window(-1);
  I.dragging = 0;
  I.source = nullptr;
  I.drop_target = nullptr;
}

void gui_button_event(int win, int button, int down) {
  gui_make_current(win);
  activity();
  if (I.win < 0) return;
  widget *w = find_under();
  drop_focus_for(w);
  if (down) {
    I.buttons |= button;
    if (I.buttons == 1 && w) {
      widget *W;
      int mode = band_hit(w, I.x, I.y, &W);
      if (mode) {
        I.moving = W;
        I.mode = mode;
        I.grab_dx = I.x - W->r.x;
        I.grab_dy = I.y - W->r.y;
        I.grab_bottom = W->r.y + W->r.h - I.y - 1;
        I.grab_right = W->r.x + W->r.w - I.x - 1;
        return;
      }
    }
    I.armed = 1;
    if (w) {
      I.pressed = w;
      I.press_x = I.x;
      I.press_y = I.y;
      I.release_target = w;
      (w)->cls->press(w, I.x, I.y, button);
      (w)->cls->after_press(w, I.x, I.y, button);
    }
    return;
  }
  I.buttons &= ~button;
  if (I.moving && !(I.buttons & 1)) {
    widget *W = I.moving;
    I.moving = nullptr;
    I.mode = 0;
    (W)->cls->geometry_changed(W);
    gui_reset_cursor();
    return;
  }
  I.armed = 0;
  if (!w) return;
  if (I.dragging) {
    gui_deliver_drag_motion();
    I.drop_target = w;
    if (I.source) {
      if ((I.source)->cls->drag_release(I.source, w, I.x, I.y, I.buttons, &I.rec))
        (w)->cls->drop(w, I.x, I.y, I.buttons, &I.rec);
    } else {
      log(LOG_ERROR, kSrc, "nothing to drop");
    }
    end_drag(w);
    return;
  }
  if (I.pressed && I.pressed != w) {
    if (I.release_target) (I.release_target)->cls->release(I.release_target, I.x, I.y, button);
  } else if (I.release_target == w) {
    (w)->cls->release(w, I.x, I.y, button);
    (w)->cls->after_release(w, I.x, I.y, button);
  }
}

void gui_wheel_event(int win, int32_t position) {
  gui_make_current(win);
  activity();
  if (I.win < 0) return;
  if (widget *w = find_under()) (w)->cls->wheel(w, position);
}

void gui_key_event(int win, int32_t code, int down) {
  gui_make_current(win);
  activity();
  key_event k;
  key_translate(&k, code, down);
  widget *t = I.focus;
  if (!t && I.win == win) t = find_under();
  if (!t) t = root_of(win);
  if (!t) return;
  if (down)
    (t)->cls->key_press(t, &k);
  else
    (t)->cls->key_release(t, &k);
}

void gui_focus_changed(int win, int focused) {
  gui_make_current(win);
  focused = focused ? 1 : 0;
  if (I.key_window == focused) return;
  I.key_window = focused;
  gui_invalidate_window(win);
}

int gui_key_window(void) { return I.key_window; }

void gui_pointer_crossing(int win, int inside) {
  gui_make_current(win);
  if (!inside) {
    for (widget *w = I.entered; w; w = w->parent) (w)->cls->leave(w);
    I.entered = nullptr;
    I.win = -1;
    I.x = I.y = -1;
  }
  if (G.crossing_hook) G.crossing_hook(win, inside);
}

void gui_window_moved(int win, const rect *r, int final) {
  gui_make_current(win);
  activity();
  gui_win *w = gui_window_record(win);
  if (!w || !w->in_use) return;
  if (r->w != 0 && r->h != 0) {
    w->frame = *r;
    if (w->state == 0) w->prev_frame = *r;
  }
  widget *root = w->root;
  if (!root) return;
  if (root->r.w == r->w && root->r.h == r->h) {
    if (!final) {
      gui_invalidate_window(win);
    } else if (G.relayout_pending) {
      G.relayout_pending = 0;
      (root)->cls->geometry_changed(root);
      gui_relayout_window(win);
    } else {
      gui_invalidate_window(win);
    }
    return;
  }
  if (root->prev.w == 0 && root->prev.h == 0) root->prev = rect{0, 0, r->w, r->h};
  root->r = rect{0, 0, r->w, r->h};
  if (!final) G.relayout_pending = 1;
  (root)->cls->geometry_changed(root);
  if (final)
    gui_relayout_window(win);
  else
    gui_invalidate_window(win);
}

int gui_window_close_request(int win) {
  gui_make_current(win);
  activity();
  return G.close_query ? G.close_query(win) : 1;
}

void gui_window_closed(int win) {
  if (G.closing) return;  // our own close is tearing the native window down
  gui_make_current(win);
  activity();
  gui_window_close(win);
}

// ---- widget-side operations ----

widget *gui_focus(void) { return I.focus; }
void gui_set_focus(widget *w) { I.focus = w; }
int gui_has_focus(widget *w) { return w && I.focus == w; }

void gui_unfocus(widget *w) {
  if (!w || I.focus != w) return;
  I.focus = nullptr;
  focus_left(w);
}

void gui_forget_widget(widget *w) {
  if (G.quit) return;
  int idx = gui_window_index(w);
  if (idx >= 0) {
    gui_win *win = gui_window_record(idx);
    if (win->root == w) log(LOG_WARN, kSrc, "ignoring screen %d", idx);
    for (int i = 0; i < win->update_count; i++)
      if (win->updates[i].w == w) win->updates[i].w = nullptr;
  } else {
    gui_drop_updates(w);
  }
  if (I.hover == w) I.hover = nullptr;
  if (I.focus == w) I.focus = nullptr;
  if (I.entered == w) I.entered = nullptr;
  // A deleted widget must not get the release of its press or be moved on.
  if (I.pressed == w) I.pressed = nullptr;
  if (I.release_target == w) I.release_target = nullptr;
  if (I.drop_target == w) I.drop_target = nullptr;
  if (I.rec.w == w) I.rec.w = nullptr;
  if (I.moving == w) {
    I.moving = nullptr;
    I.mode = 0;
  }
  if (I.source == w && I.dragging) {
    gui_deliver_drag_motion();
    end_drag(nullptr);
  }
  if (I.source == w) I.source = nullptr;
  if (I.motion_target == w) {
    I.motion_target = nullptr;
    I.pending = 0;
  }
}

void gui_deliver_drag_motion(void) {
  if (!I.pending || !I.motion_target) return;
  I.pending = 0;
  widget *t = I.motion_target;
  (t)->cls->drag_motion(t, I.pend_x, I.pend_y, I.pend_n, &I.rec);
  I.rec.x = I.pend_x;
  I.rec.y = I.pend_y;
}

void gui_mouse(int *win, int32_t *x, int32_t *y) {
  if (win) *win = I.win;
  if (x) *x = I.x;
  if (y) *y = I.y;
}

int gui_widget_mouse(widget *w, int32_t *x, int32_t *y) {
  *x = I.x;
  *y = I.y;
  return I.win >= 0 && gui_window_index(w) == I.win;
}

int gui_mouse_window(void) { return I.win; }
int gui_mouse_buttons(void) { return I.buttons; }
void gui_recheck_hover(void) { G.recheck_hover = 1; }
int gui_resizing(void) { return G.relayout_pending || (I.moving && I.mode != kModeMove); }
int gui_dragging(void) { return I.dragging; }
widget *gui_drag_source(void) { return I.source; }
widget *gui_drag_data(void) { return I.drop_target; }
void gui_set_drag_mode(int on) { I.drag_mode = on; }
int gui_mouse_samples_on(void) { return G.samples_on; }
int gui_drag_label_showing(void) { return I.label_showing; }

float gui_mouse_speed(void) {
  if (!G.samples_on) return 999.0f;
  int n = G.sample_count;
  if (n < 2) return 0.0f;
  int first = (G.sample_next - n + 12) % 12;
  double sum = 0;
  for (int i = 1; i < n; i++) {
    const int32_t *a = G.samples[(first + i - 1) % 12], *b = G.samples[(first + i) % 12];
    sum += std::hypot((double)(b[0] - a[0]), (double)(b[1] - a[1]));
  }
  return (float)(sum / n);
}

void gui_set_cursor(int code) {
  if (code == I.cursor) return;
  I.cursor = code;
  gui_plat_set_cursor(code);
}
void gui_reset_cursor(void) { gui_set_cursor(I.default_cursor); }
int gui_cursor(void) { return I.cursor; }
void gui_set_move_band(int pixels) { I.move_band = pixels; }

// The loop's hover work. with_motion 1: the pointer has rested for 300 ms:
// mark it at rest and, while a window of ours has the keyboard, re-find the
// widget under it with the walk and a motion call. with_motion 0: the
// recheck a widget asked for (walk only).
void gui_hover_check(int with_motion) {
  if (with_motion) {
    G.at_rest = 1;
    G.hover_at = 0;
    G.sample_count = G.sample_next = 0;
    if (!I.key_window) return;
  } else {
    G.recheck_hover = 0;
  }
  if (!root_of(I.win) || I.dragging || I.moving) return;
  gui_make_current(I.win);
  widget *w = find_under();
  if (w && w != I.entered) walk(I.entered, w);
  if (w && with_motion) (w)->cls->motion(w, I.x, I.y);
  if (w) I.entered = w;
}
