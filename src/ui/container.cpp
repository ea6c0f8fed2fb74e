// Containers and the bin. A container relays out its children when its
// geometry changes and fills its background; whether a fill is needed at all
// is decided against the one rect and colour filled last (children of the
// same colour inside a filled parent draw nothing), a cache the window draw
// pass resets at the start of each window. The five container operations
// are fatal until a concrete container overrides them.
//
// Slots written by the classes of this file:
//   container: apply_children (fatal), geometry_changed (relayout), draw
//              (background), layout/add/remove/delete_children (fatal),
//              set_bg
//   bin:       apply_children, child_count, get_child, reqsize, find_at,
//              draw, layout, add, remove, delete_children
#include "ui/container.h"

#include "lib/gfx.h"
#include "log.h"
#include "ui/gui.h"

namespace {

const char kSrc[] = "src/ui/container";

struct container_state {
  int relayout = 1;
  rect last_fill = {0, 0, 0, 0};
  uint32_t last_colour = 0;
};
container_state S;

// container

void c_apply_children(widget *, widget_apply_fn, void *, int) {
  log(LOG_FATAL, kSrc, "container_apply_children unimplemented");
}
void c_layout(container *) { log(LOG_FATAL, kSrc, "container_layout unimplemented"); }
int c_add(container *, widget *) {
  log(LOG_FATAL, kSrc, "container_add unimplemented");
  return -1;
}
widget *c_remove(container *, widget *) {
  log(LOG_FATAL, kSrc, "container_remove unimplemented");
  return nullptr;
}
void c_delete_children(container *) {
  log(LOG_FATAL, kSrc, "container_delete_children unimplemented");
}
void c_set_bg(container *self, uint32_t colour) {
  self->bg = colour;
  widget_redraw_rect(self, &self->r, nullptr, 0);
}

void relayout_child(widget *child, void *, int) {
  if (gui_resizing() && !(child->flags & WIDGET_SHOWN)) return;
  if (child->r.w < 0) child->r.w = 0;
  if (child->r.h < 0) child->r.h = 0;
  child->cls->geometry_changed(child);
  child->prev = child->r;
}

void c_geometry_changed(widget *self) {
  if (!S.relayout || gui_quitting()) return;
  auto *c = static_cast<container *>(self);
  container_cls(c)->layout(c);
  self->cls->apply_children(self, relayout_child, nullptr, 0);
  if (self->flags & WIDGET_SHOWN) widget_redraw_rect(self, &self->r, nullptr, 0);
}

void c_draw(widget *self) { container_fill_bg(static_cast<container *>(self)); }

void container_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->apply_children = c_apply_children;
  c->geometry_changed = c_geometry_changed;
  c->draw = c_draw;
  c->layout = c_layout;
  c->add = c_add;
  c->remove = c_remove;
  c->delete_children = c_delete_children;
  c->set_bg = c_set_bg;
}

typeid_t register_container() {
  return object_register_class("container", widget_type(), sizeof(container), nullptr, nullptr,
                               sizeof(container_class), container_class_init, nullptr);
}

// bin

bin *as_bin(widget *w) { return static_cast<bin *>(w); }

void b_apply_children(widget *self, widget_apply_fn fn, void *arg, int n) {
  if (as_bin(self)->child) fn(as_bin(self)->child, arg, n);
}
int b_child_count(widget *self) { return as_bin(self)->child ? 1 : 0; }
widget *b_get_child(widget *self, int i) { return i == 0 ? as_bin(self)->child : nullptr; }
void b_reqsize(widget *self, size *out) {
  widget *ch = as_bin(self)->child;
  if (ch)
    ch->cls->reqsize(ch, out);
  else
    *out = {0, 0};
}
widget *b_find_at(widget *self, int32_t x, int32_t y) {
  if (!widget_default_find_at(self, x, y)) return nullptr;
  widget *ch = as_bin(self)->child;
  if (ch && (ch->flags & WIDGET_SHOWN)) {
    widget *hit = ch->cls->find_at(ch, x, y);
    if (hit) return hit;
  }
  return self;
}
void b_draw(widget *self) {
  container_fill_bg(static_cast<container *>(self));
  widget *ch = as_bin(self)->child;
  if (ch && (ch->flags & WIDGET_SHOWN) && ch->r.w >= 1 && ch->r.h >= 1) widget_draw(ch);
}
void b_layout(container *self) {
  widget *ch = static_cast<bin *>(self)->child;
  if (ch) ch->r = self->r;
}
int b_add(container *self, widget *child) {
  bin *b = static_cast<bin *>(self);
  if (b->child) {
    log(LOG_FATAL, kSrc, "bin already has a child");
    return -1;
  }
  b->child = child;
  container_attach(self, child);
  return 0;
}
widget *b_remove(container *self, widget *child) {
  bin *b = static_cast<bin *>(self);
  if (!b->child) {
    log(LOG_FATAL, kSrc, "bin has no child");
    return nullptr;
  }
  if (b->child != child) {
    log(LOG_FATAL, kSrc, "bin does not have this child");
    return nullptr;
  }
  b->child = nullptr;
  container_detach(self, child);
  return child;
}
void b_delete_children(container *self) {
  bin *b = static_cast<bin *>(self);
  if (!b->child) return;
  widget *ch = b_remove(self, b->child);
  widget_delete(ch);
}

void bin_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->apply_children = b_apply_children;
  c->child_count = b_child_count;
  c->get_child = b_get_child;
  c->reqsize = b_reqsize;
  c->find_at = b_find_at;
  c->draw = b_draw;
  c->layout = b_layout;
  c->add = b_add;
  c->remove = b_remove;
  c->delete_children = b_delete_children;
}

void bin_fini(object *obj) {
  bin *b = reinterpret_cast<bin *>(obj);
  if (b->child) {
    widget *ch = b->child;
    b->child = nullptr;
    widget_delete(ch);
  }
}

typeid_t register_bin() {
  return object_register_class("bin", container_type(), sizeof(bin), nullptr, bin_fini,
                               sizeof(container_class), bin_class_init, nullptr);
}

void set_bg_one(widget *w, void *arg, int) {
  container_set_bg_all(w, uint32_t(reinterpret_cast<uintptr_t>(arg)));
}

bool inside(const rect &a, const rect &b) {  // a within b
  return a.x >= b.x && a.y >= b.y && a.x + a.w <= b.x + b.w && a.y + a.h <= b.y + b.h;
}

}  // namespace

typeid_t container_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_container);
}

typeid_t bin_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_bin);
}

widget *container_new(widget *parent, typeid_t type) { return widget_new(parent, type); }

bin *bin_new(widget *parent) { return static_cast<bin *>(widget_new(parent, bin_type())); }

void container_set_bg(container *c, uint32_t colour) { container_cls(c)->set_bg(c, colour); }

uint32_t container_get_bg(container *c) {
  typeid_t ct = container_type();
  for (widget *w = c; w && object_is_a(widget_obj(w), ct); w = w->parent) {
    uint32_t bg = static_cast<container *>(w)->bg;
    if (bg) return bg;
  }
  return 0;
}

void container_set_bg_all(widget *w, uint32_t colour) {
  if (object_is_a(widget_obj(w), container_type())) container_set_bg(static_cast<container *>(w), colour);
  w->cls->apply_children(w, set_bg_one, reinterpret_cast<void *>(uintptr_t(colour)), 0);
}

void container_set_relayout(int on) { S.relayout = on; }

void container_reset_bg_cache() {
  S.last_fill = {0, 0, 0, 0};
  S.last_colour = 0;
}

void container_fill_bg(container *c) {
  if (!c->bg) return;
  if (c->bg == S.last_colour && inside(c->r, S.last_fill)) return;
  gfx_fill_rect(c->r.x, c->r.y, c->r.w, c->r.h, c->bg);
  S.last_fill = c->r;
  S.last_colour = c->bg;
}

void container_attach(container *c, widget *child) {
  child->parent = c;
  child->root = c->root ? c->root : c;
  widget_set_level(child, c->level);
  if (c->flags & WIDGET_SHOWN)
    widget_show(child);
  else
    widget_hide(child);
}

void container_detach(container *, widget *child) {
  if (!gui_quitting()) widget_hide(child);
  child->root = nullptr;
  child->parent = nullptr;
}

void padding_set(padding *p, int32_t top, int32_t left, int32_t bottom, int32_t right) {
  *p = {top, left, bottom, right};
}

void padding_copy(padding *dst, const padding *src) {
  if (src)
    *dst = *src;
  else
    *dst = {0, 0, 0, 0};
}

padding *padding_make(int32_t top, int32_t left, int32_t bottom, int32_t right) {
  static padding p;
  p = {top, left, bottom, right};
  return &p;
}
