// Flyaways and the flyaway box. A flyaway's size along its box's axis is a
// fade value: opening or closing a shown flyaway fades it to its new size
// over 0.3 s while a timer that runs on every pass relays the box out, and
// stops itself when the fade ends. The box decides which flyaways are open
// from stamps of use: opening takes the next value of a rising counter,
// closing the next of a falling one (both shared by all boxes), so the
// smallest stamp among open entries is the one opened longest ago and the
// largest among closed ones the one closed most recently.
//
// Slots: flyaway: reqsize, layout, draw, show_children, press.
//        fbox: reqsize, layout, add, remove, drag_begin, drag_motion.
#include "ui/flyaway.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lib/colour.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/timer.h"
#include "log.h"
#include "ui/gui.h"

namespace {

const char kSrc[] = "src/ui/flyaway";

struct flyaway_state {
  int32_t open_counter = 0;   // rising: stamps of opening
  int32_t close_counter = 0;  // falling: stamps of closing
  fbox *laying_out = nullptr; // the box whose layout is running
};
flyaway_state S;

flyaway *as_fly(widget *w) { return static_cast<flyaway *>(w); }
fbox *as_fbox(widget *w) { return static_cast<fbox *>(w); }
box_class *box_record() { return static_cast<box_class *>(object_class_record(box_type())); }

bool is_fbox(widget *w) { return w && object_is_a(widget_obj(w), fbox_type()); }
bool horizontal(flyaway *f) { return f->orientation == 1; }
int32_t along(flyaway *f, size s) { return horizontal(f) ? s.w : s.h; }

// ---- sizes ----

size strip_size(flyaway *f) {
  int32_t wh[2] = {0, 0}, ascent = 0, descent = 0;
  font_text_size(wh, f->font, f->title);
  font_metrics(nullptr, nullptr, &ascent, &descent, f->font);
  int32_t h = ascent + descent;
  int32_t w = wh[0] + (f->highlight ? h : 0);
  return {w + f->inner.left + f->inner.right, h + f->inner.top + f->inner.bottom};
}

int32_t current_along(flyaway *f) {
  if (f->size_fade.state) return f->size_fade.shown.i;
  return along(f, f->open ? flyaway_open_size(f) : flyaway_closed_size(f));
}

void set_inner(flyaway *f) {
  f->inner = {f->pad.top + 2, f->pad.left + 4, f->pad.bottom + 2, f->pad.right + 4};
}

void mark_transparent(widget *w, void *, int) {
  w->flags |= WIDGET_TRANSPARENT;
  w->cls->apply_children(w, mark_transparent, nullptr, 0);
}

void relayout_box(flyaway *f) {
  widget *p = f->parent;
  if (!p || p == S.laying_out) return;
  p->cls->geometry_changed(p);
}

int animate_tick(void *arg, uint32_t, int64_t, float) {
  flyaway *f = static_cast<flyaway *>(arg);
  bool done = f->size_fade.state == nullptr;
  relayout_box(f);
  if (!done) return 1;
  f->timer = -1;
  if (!f->open && f->child) widget_hide(f->child);
  return 0;
}

void stop_animation(flyaway *f) {
  if (f->timer >= 0) timer_stop(f->timer);
  f->timer = -1;
  fade_set(&f->size_fade, current_along(f));
  fade_stop(&f->size_fade);
}

// The length an opening flyaway grows to: the box's fill when it is
// flexible there, else its open size.
int32_t open_target(flyaway *f) {
  if (is_fbox(f->parent)) {
    fbox_entry *e = fbox_entry_of(as_fbox(f->parent), f);
    if (e && e->flexible && as_fbox(f->parent)->fill > 0) return as_fbox(f->parent)->fill;
  }
  return along(f, flyaway_open_size(f));
}

// ---- flyaway slots ----

void f_reqsize(widget *self, size *out) {
  flyaway *f = as_fly(self);
  size s = f->open ? flyaway_open_size(f) : flyaway_closed_size(f);
  if (f->size_fade.state) (horizontal(f) ? s.w : s.h) = f->size_fade.shown.i;
  *out = s;
}

void f_layout(container *self) {
  flyaway *f = as_fly(self);
  widget *ch = f->child;
  if (!ch) return;
  const rect &r = f->r;
  size st = strip_size(f);
  if (horizontal(f) && !f->open) {
    ch->r = {r.x, r.y, 0, 0};
    return;
  }
  size req = {0, 0};
  ch->cls->reqsize(ch, &req);
  int32_t w = std::max(r.w - f->pad.left - f->pad.right, 0);
  // While an animation shrinks the flyaway the content keeps its own height
  // and is clipped by the flyaway's draw.
  int32_t h = std::max(req.h, r.h - st.h - f->pad.bottom);
  ch->r = {r.x + f->pad.left, r.y + st.h, w, std::max(h, 0)};
}

void f_show_children(widget *self) {
  flyaway *f = as_fly(self);
  if (f->child && (f->open || f->size_fade.state)) widget_show(f->child);
}

void f_draw(widget *self) {
  flyaway *f = as_fly(self);
  const rect &r = f->r;
  container_fill_bg(f);
  size st = strip_size(f);
  uint32_t bg = f->bg ? f->bg : container_get_bg(f);
  uint32_t ink = colour_lighten(bg, 160) | 0xff000000u;
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, f->font);
  if (horizontal(f) && !f->open) {
    // One character a line, as many lines as the strip holds: the caption
    // never runs past the flyaway into what lies below it.
    char shown[sizeof f->caption];
    const int32_t line = ascent + descent;
    const int32_t room = r.h - f->inner.top - f->inner.bottom - descent;
    size_t fit = line > 0 && room > 0 ? size_t(room / line) : 0;
    fit = std::min(fit, strlen(f->caption));
    memcpy(shown, f->caption, fit);
    shown[fit] = 0;
    font_draw(shown, r.x + r.w / 2, r.y + f->inner.top, 2 | kFontVertical | 0x10, f->font, ink, nullptr);
  } else {
    int32_t mid = r.y + st.h / 2;
    if (f->open)
      gfx_triangle_down(r.x + f->inner.left / 2 + 1, mid, 3, ink);
    else
      gfx_triangle_right(r.x + f->inner.left / 2 + 1, mid, 3, ink);
    font_draw(f->title, r.x + f->inner.left + 2, r.y + f->inner.top + ascent, 0, f->font, ink,
              nullptr);
  }
  widget *ch = f->child;
  if (ch && (ch->flags & WIDGET_SHOWN) && ch->r.w >= 1 && ch->r.h >= 1) {
    rect prev;
    gfx_set_clip(&r, &prev);
    widget_draw(ch);
    gfx_set_clip(prev.w > 0 ? &prev : nullptr, nullptr);
  }
}

void toggle_promise(void *arg, int n) { flyaway_set_open_in_fbox(static_cast<flyaway *>(arg), n); }

bool in_strip(flyaway *f, int32_t x, int32_t y) {
  const rect &r = f->r;
  if (horizontal(f) && !f->open) return x >= r.x && x < r.x + r.w;
  return y >= r.y && y < r.y + strip_size(f).h;
}

void f_press(widget *self, int32_t x, int32_t y, int button) {
  flyaway *f = as_fly(self);
  if (button == 1 && in_strip(f, x, y)) {
    gui_promise(toggle_promise, f, f->open ? 0 : 1);
    return;
  }
  static_cast<widget_class *>(object_class_record(widget_type()))->press(self, x, y, button);
}

void flyaway_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = f_reqsize;
  c->layout = f_layout;
  c->draw = f_draw;
  c->show_children = f_show_children;
  c->press = f_press;
}

void flyaway_init(object *obj) {
  flyaway *f = reinterpret_cast<flyaway *>(obj);
  f->open = 1;
  f->timer = -1;
  fade_clear(&f->size_fade);
}

void flyaway_fini(object *obj) {
  flyaway *f = reinterpret_cast<flyaway *>(obj);
  if (f->timer >= 0) timer_stop(f->timer);
  f->timer = -1;
  // Even while the gui quits: the fade must not outlive the flyaway.
  fade_forget(&f->size_fade);
}

typeid_t register_flyaway() {
  return object_register_class("flyaway", bin_type(), sizeof(flyaway), flyaway_init,
                               flyaway_fini, sizeof(container_class), flyaway_class_init,
                               nullptr);
}

// ---- the box ----

fbox_entry *entry(box_node *n) { return reinterpret_cast<fbox_entry *>(n->data); }

bool fbox_vertical(fbox *b) { return b->mode == 2; }
int32_t axis(fbox *b, size s) { return fbox_vertical(b) ? s.h : s.w; }
int32_t axis(fbox *b, const rect &r) { return fbox_vertical(b) ? r.h : r.w; }

size req_of(widget *w) {
  size s = {0, 0};
  w->cls->reqsize(w, &s);
  return s;
}

bool is_fly(widget *w) { return object_is_a(widget_obj(w), flyaway_type()); }

int32_t open_len(fbox *b, widget *w) { return axis(b, is_fly(w) ? flyaway_open_size(as_fly(w)) : req_of(w)); }
int32_t closed_len(fbox *b, widget *w) {
  return axis(b, is_fly(w) ? flyaway_closed_size(as_fly(w)) : req_of(w));
}

// Opening or closing a child as the box decides it.
void set_child_open(widget *w, int open) {
  if (is_fly(w)) flyaway_set_open(as_fly(w), open);
}

void cut_short(flyaway *f) {
  f->open = 0;
  stop_animation(f);
  fade_set(&f->size_fade, along(f, flyaway_closed_size(f)));
  fade_stop(&f->size_fade);
  if (f->child) {
    widget_set_insensitive(f->child, 1);
    widget_hide(f->child);
  }
}

void x_reqsize(widget *self, size *out) {
  fbox *b = as_fbox(self);
  int32_t sum = 0, across = 0;
  for (box_node *n = b->first; n; n = n->next) {
    size s = req_of(n->child);
    sum += axis(b, s);
    across = std::max(across, fbox_vertical(b) ? s.w : s.h);
  }
  if (b->count > 1) sum += int32_t(b->count - 1) * b->spacing;
  *out = fbox_vertical(b) ? size{across, sum} : size{sum, across};
}

void x_layout(container *self) {
  fbox *b = as_fbox(self);
  fbox *outer = S.laying_out;
  S.laying_out = b;
  const rect r = b->r;
  const int32_t L = axis(b, r);
  if (r.w <= 0 || r.h <= 0) {  // 1. no area
    for (box_node *n = b->first; n; n = n->next) {
      fbox_entry *e = entry(n);
      if (e->state != FBOX_KEPT_CLOSED && e->state != FBOX_REMOVED) e->state = FBOX_CLOSED;
      if (is_fly(n->child)) cut_short(as_fly(n->child));
      n->child->r = {r.x, r.y, 0, 0};
      widget_hide(n->child);
    }
    S.laying_out = outer;
    return;
  }
  // 2. flyaways open behind the box's back are closed at once.
  for (box_node *n = b->first; n; n = n->next) {
    fbox_entry *e = entry(n);
    if (is_fly(n->child) && as_fly(n->child)->open && e->state != FBOX_OPEN) {
      e->state = FBOX_KEPT_CLOSED;
      e->stamp = --S.close_counter;
      cut_short(as_fly(n->child));
    }
  }
  // 3. the total.
  int64_t total = 0;
  for (box_node *n = b->first; n; n = n->next) {
    fbox_entry *e = entry(n);
    if (e->state == FBOX_OPEN)
      total += open_len(b, n->child);
    else if (e->state != FBOX_REMOVED)
      total += closed_len(b, n->child);
  }
  if (b->count > 1) total += int64_t(b->count - 1) * b->spacing;
  // 4. close the oldest open ones while they do not fit.
  while (total > L) {
    box_node *pick = nullptr;
    for (box_node *n = b->first; n; n = n->next)
      if (entry(n)->state == FBOX_OPEN && (!pick || entry(n)->stamp < entry(pick)->stamp))
        pick = n;
    if (!pick) break;
    entry(pick)->state = FBOX_CLOSED;
    total -= open_len(b, pick->child) - closed_len(b, pick->child);
    set_child_open(pick->child, 0);
  }
  // 5. after a size change, reopen the most recently closed while they fit.
  if (L != b->last_len && total < L) {
    for (;;) {
      box_node *pick = nullptr;
      for (box_node *n = b->first; n; n = n->next)
        if (entry(n)->state == FBOX_CLOSED && (!pick || entry(n)->stamp > entry(pick)->stamp))
          pick = n;
      if (!pick) break;
      int64_t grown = total - closed_len(b, pick->child) + open_len(b, pick->child);
      if (grown > L) break;
      total = grown;
      entry(pick)->state = FBOX_OPEN;
      set_child_open(pick->child, 1);
    }
  }
  b->last_len = L;
  // 6. the fill of flexible flyaways.
  int flexible = 0;
  int64_t used = 0;
  for (box_node *n = b->first; n; n = n->next) {
    fbox_entry *e = entry(n);
    if (e->flexible && (e->state == FBOX_CLOSED || e->state == FBOX_OPEN)) flexible++;
    if (e->state != FBOX_REMOVED && !e->flexible) used += axis(b, req_of(n->child)) + b->spacing;
  }
  b->fill = flexible ? int32_t(std::max<int64_t>(L - b->spacing - used, 0)) : 0;
  // 7. place.
  int64_t pos = fbox_vertical(b) ? r.y : r.x, end = pos + L;
  for (box_node *n = b->first; n; n = n->next) {
    fbox_entry *e = entry(n);
    widget *c = n->child;
    e->prev_state = e->state;
    if (e->state == FBOX_REMOVED) {
      c->r = {r.x, r.y, 0, 0};
      widget_hide(c);
      continue;
    }
    bool animating = is_fly(c) && flyaway_animating(as_fly(c));
    int32_t len = e->flexible && e->state == FBOX_OPEN && !animating ? b->fill : axis(b, req_of(c));
    if (pos + len <= end) {
      c->r = fbox_vertical(b) ? rect{r.x, int32_t(pos), r.w, len} : rect{int32_t(pos), r.y, len, r.h};
      if (widget_is_shown(b)) widget_show(c);
      pos += len + b->spacing;
    } else {
      c->r = fbox_vertical(b) ? rect{r.x, int32_t(pos), r.w, 0} : rect{int32_t(pos), r.y, 0, r.h};
    }
  }
  S.laying_out = outer;
}

void restamp(fbox *b) {
  // Last entry first, so the first entry holds the newest stamp.
  std::vector<box_node *> v;
  for (box_node *n = b->first; n; n = n->next) v.push_back(n);
  for (auto it = v.rbegin(); it != v.rend(); ++it)
    if (entry(*it)->state == FBOX_OPEN) entry(*it)->stamp = ++S.open_counter;
}

int x_add(container *self, widget *child) {
  fbox *b = as_fbox(self);
  if (box_record()->add(self, child) < 0) return -1;
  fbox_entry *e = entry(box_last_node(b));
  *e = {++S.open_counter, FBOX_OPEN, FBOX_OPEN, 0};
  restamp(b);
  return 0;
}

widget *x_remove(container *self, widget *child) {
  widget *out = box_record()->remove(self, child);
  if (out) self->cls->geometry_changed(self);
  return out;
}

// The sweep: a drag along the box opens flyaways the pointer passes going
// forward and closes them going back.
int32_t pointer_along(fbox *b, int32_t x, int32_t y) { return fbox_vertical(b) ? y : x; }
int32_t middle(fbox *b, widget *c) {
  return fbox_vertical(b) ? c->r.y + c->r.h / 2 : c->r.x + c->r.w / 2;
}

int x_drag_begin(widget *self, int32_t x, int32_t y, int, drag_record *d) {
  fbox *b = as_fbox(self);
  int32_t p = pointer_along(b, x, y);
  b->sweep_pos = p;
  b->sweep_current = nullptr;
  for (box_node *n = b->first; n; n = n->next)
    if (middle(b, n->child) > p) {
      b->sweep_current = n->child;
      break;
    }
  if (d) d->w = self;
  return 1;
}

void x_drag_motion(widget *self, int32_t x, int32_t y, int, drag_record *) {
  fbox *b = as_fbox(self);
  int32_t p = pointer_along(b, x, y);
  if (p > b->sweep_pos) {
    bool after = b->sweep_current == nullptr;
    for (box_node *n = b->first; n; n = n->next) {
      if (!after) {
        after = n->child == b->sweep_current;
        continue;
      }
      if (entry(n)->state == FBOX_OPEN || entry(n)->state == FBOX_REMOVED) continue;
      if (p > middle(b, n->child)) {
        entry(n)->state = FBOX_OPEN;
        entry(n)->stamp = ++S.open_counter;
        set_child_open(n->child, 1);
        b->sweep_current = n->child;
        self->cls->geometry_changed(self);
      }
      break;
    }
  } else if (p < b->sweep_pos) {
    box_node *last_open = nullptr;
    for (box_node *n = b->first; n && n->child != b->sweep_current; n = n->next)
      if (entry(n)->state == FBOX_OPEN) last_open = n;
    if (last_open && p < middle(b, last_open->child)) {
      entry(last_open)->state = FBOX_CLOSED;
      entry(last_open)->stamp = --S.close_counter;
      set_child_open(last_open->child, 0);
      b->sweep_current = last_open->child;
      self->cls->geometry_changed(self);
    }
  }
  b->sweep_pos = p;
}

void fbox_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->reqsize = x_reqsize;
  c->layout = x_layout;
  c->add = x_add;
  c->remove = x_remove;
  c->drag_begin = x_drag_begin;
  c->drag_motion = x_drag_motion;
}

void fbox_init(object *obj) { reinterpret_cast<fbox *>(obj)->last_len = -1; }

typeid_t register_fbox() {
  return object_register_class("fbox", box_type(), sizeof(fbox), fbox_init, nullptr,
                               sizeof(box_class), fbox_class_init, nullptr);
}

box_node *node_or_log(fbox *b, flyaway *f) {
  for (box_node *n = b->first; n; n = n->next)
    if (n->child == f) return n;
  log(LOG_ERROR, kSrc, "can't find flyaway");
  return nullptr;
}

void relayout(fbox *b) {
  if (b != S.laying_out) b->cls->geometry_changed(b);
}

}  // namespace

// ---- flyaway ----

typeid_t flyaway_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_flyaway);
}

flyaway *flyaway_new(widget *parent, const char *title, int orientation, int32_t font,
                     uint32_t background, int32_t fourth, const padding *pad) {
  auto *f = static_cast<flyaway *>(widget_new(parent, flyaway_type()));
  if (!f) return nullptr;
  f->orientation = orientation;
  f->font = font;
  f->fourth = fourth;
  f->bg = f->base_bg = background;
  padding_copy(&f->pad, pad);
  set_inner(f);
  flyaway_set_title(f, title);
  return f;
}

void flyaway_set_title(flyaway *f, const char *title) {
  snprintf(f->title, sizeof f->title, "%s", title ? title : "");
  flyaway_set_caption(f, f->title);
}

void flyaway_set_caption(flyaway *f, const char *text) {
  snprintf(f->caption, sizeof f->caption, "%s", text ? text : "");
  for (char *p = f->caption; *p; p++) *p = char(toupper((unsigned char)*p));
  widget_redraw(f);
}

void flyaway_set_font(flyaway *f, int32_t font) {
  f->font = font;
  relayout_box(f);
  widget_redraw(f);
}

void flyaway_set_bg_all(flyaway *f, uint32_t colour) {
  f->base_bg = colour;
  container_set_bg_all(f, colour);
}

void flyaway_set_bg(flyaway *f, uint32_t colour) {
  f->highlight = colour ? 1 : 0;
  f->bg = colour ? colour_lighten(colour, 15) : f->base_bg;
  widget_redraw(f);
}

void flyaway_set_callback(flyaway *f, flyaway_fn fn, void *arg1, void *arg2) {
  f->callback = fn;
  f->arg1 = arg1;
  f->arg2 = arg2;
}

int flyaway_is_open(flyaway *f) { return f->open; }

int flyaway_animating(flyaway *f) {
  return f->size_fade.state && f->size_fade.shown.i != f->size_fade.to.i;
}

size flyaway_closed_size(flyaway *f) {
  size st = strip_size(f);
  if (!horizontal(f)) return st;
  int32_t em = 0;
  font_metrics(&em, nullptr, nullptr, nullptr, f->font);
  int32_t h = f->parent ? f->parent->r.h : st.h;
  return {em + f->inner.left + f->inner.right, h};
}

size flyaway_open_size(flyaway *f) {
  size st = strip_size(f);
  size c = f->child ? req_of(f->child) : size{0, 0};
  return {std::max(st.w, c.w + f->pad.left + f->pad.right), st.h + c.h + f->pad.bottom};
}

void flyaway_set_open(flyaway *f, int open) {
  open = open ? 1 : 0;
  if (f->child) mark_transparent(f->child, nullptr, 0);
  if (open == f->open) return;
  int32_t from = current_along(f);
  f->open = open;
  int32_t to = open ? open_target(f) : along(f, flyaway_closed_size(f));
  if (f->child) {
    widget_set_insensitive(f->child, open ? 0 : 1);
    if (open && widget_is_shown(f)) widget_show(f->child);
  }
  if (widget_is_shown(f) && !fade_hold_count()) {
    fade_to(&f->size_fade, from, to, nullptr, f, 0, kFlyawaySeconds);
    if (f->timer < 0 && f->size_fade.state) f->timer = timer_start(0, animate_tick, f, 0);
  } else {
    fade_set(&f->size_fade, to);
    fade_stop(&f->size_fade);
  }
  if (!f->size_fade.state && !open && f->child) widget_hide(f->child);
  if (f->callback) f->callback(f, open, f->arg1, f->arg2);
  relayout_box(f);
  widget_redraw(f);
}

void flyaway_set_open_in_fbox(flyaway *f, int open) {
  if (is_fbox(f->parent))
    fbox_set_flyaway_open(as_fbox(f->parent), f, open);
  else
    flyaway_set_open(f, open);
}

void flyaway_close(flyaway *f) { flyaway_set_open(f, 0); }

void flyaway_show_all(flyaway *f) {
  widget_show(f);
  if (f->child && f->open) widget_show_subtree(f->child);
}

// ---- fbox ----

typeid_t fbox_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_fbox);
}

fbox *fbox_new(widget *parent, int mode, int spacing) {
  auto *b = static_cast<fbox *>(widget_new(parent, fbox_type()));
  if (!b) return nullptr;
  b->mode = mode;
  b->spacing = spacing;
  if (parent) parent->flags |= WIDGET_TRANSPARENT;
  return b;
}

fbox_entry *fbox_entry_of(fbox *b, widget *f) {
  for (box_node *n = b->first; n; n = n->next)
    if (n->child == f) return entry(n);
  return nullptr;
}

int fbox_set_flyaway_open(fbox *b, flyaway *f, int open) {
  box_node *n = node_or_log(b, f);
  if (!n) return -1;
  if (open) {
    entry(n)->state = FBOX_OPEN;
    entry(n)->stamp = ++S.open_counter;
  } else {
    entry(n)->state = FBOX_KEPT_CLOSED;
    entry(n)->stamp = --S.close_counter;
  }
  fbox *outer = S.laying_out;
  S.laying_out = b;  // one relayout below, not one from the flyaway too
  flyaway_set_open(f, open);
  S.laying_out = outer;
  relayout(b);
  return 0;
}

int fbox_open_flyaway(fbox *b, flyaway *f) { return fbox_set_flyaway_open(b, f, 1); }
int fbox_close_flyaway(fbox *b, flyaway *f) { return fbox_set_flyaway_open(b, f, 0); }

int fbox_open_flyaway_locked(fbox *b, flyaway *f) {
  fade_hold();
  int r = fbox_set_flyaway_open(b, f, 1);
  fade_release();
  return r;
}

int fbox_show_flyaway(fbox *b, flyaway *f, int on) {
  box_node *n = node_or_log(b, f);
  if (!n) return -1;
  if (on) {
    if (entry(n)->state != FBOX_REMOVED) return 0;
    entry(n)->state = FBOX_OPEN;
    entry(n)->stamp = ++S.open_counter;
    fbox *outer = S.laying_out;
    S.laying_out = b;
    flyaway_set_open(f, 1);
    S.laying_out = outer;
  } else {
    // Closed at once first, so the layout does not take it for one opened
    // behind the box's back.
    cut_short(f);
    entry(n)->state = FBOX_REMOVED;
    widget_hide(f);
  }
  relayout(b);
  return 0;
}

int fbox_show_flyaway_on(fbox *b, flyaway *f) { return fbox_show_flyaway(b, f, 1); }
int fbox_hide_flyaway(fbox *b, flyaway *f) { return fbox_show_flyaway(b, f, 0); }

int fbox_flyaway_is_open(fbox *b, flyaway *f) {
  box_node *n = node_or_log(b, f);
  return n && entry(n)->state != FBOX_REMOVED ? 1 : 0;
}

int fbox_touch_flyaway(fbox *b, flyaway *f) {
  box_node *n = node_or_log(b, f);
  if (!n) return -1;
  if (entry(n)->state == FBOX_KEPT_CLOSED) entry(n)->state = FBOX_CLOSED;
  entry(n)->stamp = ++S.open_counter;
  return 0;
}

int fbox_set_flyaway_weight(fbox *b, flyaway *f, int flexible) {
  box_node *n = node_or_log(b, f);
  if (!n) return -1;
  if (entry(n)->flexible == flexible) return 0;
  entry(n)->flexible = flexible;
  relayout(b);
  return 0;
}
