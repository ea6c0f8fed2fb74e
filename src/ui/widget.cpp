// The widget base class. Its class_init writes the 27 default operations
// into the record that every widget class copies; the defaults pass pointer
// and key events up to the parent, draw nothing, and treat a widget as a
// leaf. Redraw requests climb past transparent widgets to the nearest opaque
// ancestor and go to the window core's queue (gui_queue_update).
#include "ui/widget.h"

#include "log.h"
#include "ui/container.h"
#include "ui/gui.h"

namespace {

const char kSrc[] = "src/ui/widget";

struct widget_state {
  widget_queue_fn queue = gui_queue_update;
};
widget_state S;

// The default operations, in slot order.
void apply_children(widget *, widget_apply_fn, void *, int) {}
int child_count(widget *) { return 0; }
widget *get_child(widget *, int) {
  log(LOG_FATAL, kSrc, "widget_get_child unimplemented");
  return nullptr;
}
void geometry_changed(widget *self) { widget_redraw(self); }
void reqsize(widget *self, size *out) {
  log(LOG_WARN, kSrc, "%s widget_reqsize unimplemented", object_type_name(widget_obj(self)));
  out->w = 0;
  out->h = 0;
}
void size_limits(widget *, size *min, size *max) {
  *min = {0, 0};
  *max = {0, 0};
}
void draw(widget *) {}
void restyle_one(widget *w, void *, int) { w->cls->restyle(w); }
void restyle(widget *self) { self->cls->apply_children(self, restyle_one, nullptr, 0); }
void show_one(widget *w, void *, int) { widget_show(w); }
void show_children(widget *self) { self->cls->apply_children(self, show_one, nullptr, 0); }
void hide_one(widget *w, void *, int) { widget_hide(w); }
void hide_children(widget *self) { self->cls->apply_children(self, hide_one, nullptr, 0); }
int drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  if ((self->flags & WIDGET_KEEP_POINTER) || !self->parent) return 0;
  widget *p = self->parent;
  widget *before = d ? d->w : nullptr;
  if (!p->cls->drag_begin(p, x, y, n, d)) return 0;
  // The parent becomes the candidate source unless an ancestor above it
  // already named itself (a default widget in between is never a source).
  if (d && d->w == before) d->w = p;
  return 1;
}
void drag_motion(widget *, int32_t, int32_t, int, drag_record *) {}
int drag_release(widget *, widget *, int32_t, int32_t, int, drag_record *) { return 1; }
void drop(widget *self, int32_t x, int32_t y, int buttons, drag_record *d) {
  if (self->parent) self->parent->cls->drop(self->parent, x, y, buttons, d);
}
void press(widget *self, int32_t x, int32_t y, int button) {
  if (!(self->flags & WIDGET_KEEP_POINTER) && self->parent)
    self->parent->cls->press(self->parent, x, y, button);
}
void after_press(widget *self, int32_t x, int32_t y, int button) {
  if (self->parent) self->parent->cls->after_press(self->parent, x, y, button);
}
void release(widget *self, int32_t x, int32_t y, int button) {
  if (!(self->flags & WIDGET_KEEP_POINTER) && self->parent)
    self->parent->cls->release(self->parent, x, y, button);
}
void after_release(widget *self, int32_t x, int32_t y, int button) {
  if (self->parent) self->parent->cls->after_release(self->parent, x, y, button);
}
void wheel(widget *self, int steps) {
  if (self->parent) self->parent->cls->wheel(self->parent, steps);
}
void motion(widget *self, int32_t x, int32_t y) {
  if (!(self->flags & WIDGET_KEEP_POINTER) && self->parent)
    self->parent->cls->motion(self->parent, x, y);
}
void enter(widget *) {}
void leave(widget *) {}
void key_press(widget *self, key_event *k) {
  if (!(self->flags & WIDGET_KEEP_KEYS) && self->parent)
    self->parent->cls->key_press(self->parent, k);
}
void key_release(widget *self, key_event *k) {
  if (!(self->flags & WIDGET_KEEP_KEYS) && self->parent)
    self->parent->cls->key_release(self->parent, k);
}

void class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->apply = widget_default_apply;
  c->apply_children = apply_children;
  c->child_count = child_count;
  c->get_child = get_child;
  c->geometry_changed = geometry_changed;
  c->reqsize = reqsize;
  c->size_limits = size_limits;
  c->find_at = widget_default_find_at;
  c->draw = draw;
  c->draw_area = widget_default_draw_area;
  c->restyle = restyle;
  c->show_children = show_children;
  c->hide_children = hide_children;
  c->drag_begin = drag_begin;
  c->drag_motion = drag_motion;
  c->drag_release = drag_release;
  c->drop = drop;
  c->press = press;
  c->after_press = after_press;
  c->release = release;
  c->after_release = after_release;
  c->wheel = wheel;
  c->motion = motion;
  c->enter = enter;
  c->leave = leave;
  c->key_press = key_press;
  c->key_release = key_release;
}

void instance_init(object *obj) {
  auto *w = reinterpret_cast<widget *>(obj);
  w->parent = nullptr;
  w->root = nullptr;
  w->level = 0;
}

void instance_fini(object *obj) { gui_drop_updates(reinterpret_cast<widget *>(obj)); }

void predelete(object *obj) {
  auto *w = reinterpret_cast<widget *>(obj);
  widget_hide(w);
  gui_forget_widget(w);
  gui_promise_cancel(nullptr, w);
}

typeid_t register_widget() {
  typeid_t t = object_register_class("widget", 0, sizeof(widget), instance_init, instance_fini,
                                     sizeof(widget_class), class_init, nullptr);
  if (t >= 0) object_set_predelete(t, predelete);
  return t;
}

// The redraw request: climb past transparent widgets, marking each dirty,
// to the first opaque ancestor, and queue that one with the rect. A
// transparent top of the tree is queued itself and is not marked first, so
// that the queue does not take it for already queued.
void request(widget *w, const rect *r, widget_update_fn fn, int n) {
  if (w->flags & WIDGET_DIRTY) {
    w->flags &= ~WIDGET_REPEAT;
    return;
  }
  widget *q = w;
  while ((q->flags & WIDGET_TRANSPARENT) && q->parent) {
    q->flags |= WIDGET_DIRTY;
    q = q->parent;
  }
  rect copy = *r;
  S.queue(q, &copy, fn, n);
}

void insensitive_one(widget *w, void *arg, int) {
  widget_set_insensitive(w, arg != nullptr);
}

void level_one(widget *w, void *, int n) {
  if (w->level != uint32_t(n)) widget_set_level(w, uint32_t(n));
}

}  // namespace

typeid_t widget_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_widget);
}

void widget_default_apply(widget *self, widget_apply_fn fn, void *arg, int n) {
  fn(self, arg, n);
  self->cls->apply_children(self, fn, arg, n);
}

widget *widget_default_find_at(widget *self, int32_t x, int32_t y) {
  if (self->flags & WIDGET_INSENSITIVE) return nullptr;
  if (x >= self->r.x && x < self->r.x + self->r.w && y >= self->r.y && y < self->r.y + self->r.h)
    return self;
  return nullptr;
}

void widget_default_draw_area(widget *self, const rect *) {
  if (self->r.w >= 1 && self->r.h >= 1) {
    self->cls->draw(self);
    self->flags &= ~WIDGET_DIRTY;
  }
}

widget *widget_new(widget *parent, typeid_t type) {
  auto *w = reinterpret_cast<widget *>(object_new(type));
  if (!w || !parent) return w;
  if (!object_is_a(widget_obj(parent), container_type())) {
    log(LOG_ERROR, kSrc, "%s can't hold children", object_type_name(widget_obj(parent)));
    object_delete(widget_obj(w));
    return nullptr;
  }
  auto *c = static_cast<container *>(parent);
  if (container_cls(c)->add(c, w) < 0) {
    object_delete(widget_obj(w));
    return nullptr;
  }
  return w;
}

void widget_delete(widget *w) { object_delete(widget_obj(w)); }

void widget_redraw(widget *w) { request(w, &w->r, nullptr, 0); }

void widget_redraw_rect(widget *w, const rect *r, widget_update_fn fn, int n) {
  request(w, r ? r : &w->r, fn, n);
}

void widget_draw(widget *w) {
  w->cls->draw(w);
  w->flags &= ~WIDGET_DIRTY;
}

void widget_show(widget *w) {
  if (w->flags & WIDGET_SHOWN) return;
  w->flags = (w->flags | WIDGET_SHOWN) & ~WIDGET_HIDDEN;
  w->cls->show_children(w);
  widget_redraw(w);
}

void widget_hide(widget *w) {
  if (w->flags & WIDGET_HIDDEN) return;
  w->flags = (w->flags | WIDGET_HIDDEN) & ~WIDGET_SHOWN;
  w->cls->hide_children(w);
  gui_unfocus(w);
  if (w->parent) widget_redraw(w->parent);
}

void widget_set_visible(widget *w, int on) {
  if (on)
    widget_show(w);
  else
    widget_hide(w);
}

void widget_show_subtree(widget *w) {
  w->cls->show_children(w);
  w->flags = (w->flags | WIDGET_SHOWN) & ~WIDGET_HIDDEN;
}

void widget_hide_subtree(widget *w) {
  w->cls->hide_children(w);
  w->flags = (w->flags | WIDGET_HIDDEN) & ~WIDGET_SHOWN;
}

void widget_set_insensitive(widget *w, int on) {
  if (on)
    w->flags |= WIDGET_INSENSITIVE;
  else
    w->flags &= ~WIDGET_INSENSITIVE;
  w->cls->apply_children(w, insensitive_one, on ? w : nullptr, 0);
}

void widget_set_level(widget *w, uint32_t level) {
  w->level = level;
  w->cls->apply_children(w, level_one, nullptr, int(level));
}

void widget_set_user(widget *w, void *user) { w->user = user; }

widget_queue_fn widget_set_queue(widget_queue_fn fn) {
  widget_queue_fn old = S.queue;
  S.queue = fn ? fn : gui_queue_update;
  return old;
}

static int32_t g_style_value;
void widget_set_style_value(int32_t v) { g_style_value = v; }
int32_t widget_style_value() { return g_style_value; }
