// The hider. Hiding hides the child; showing shows it only when the hider
// itself is shown, so a hider inside a hidden page stays quiet until the page
// is shown. A hider that gives up its space asks its parent to lay out
// again when it changes, since its request changed.
//
// Slots: reqsize, show_children, layout.
#include "ui/hider.h"

namespace {

hider *as_hider(widget *w) { return static_cast<hider *>(w); }

void h_reqsize(widget *self, size *out) {
  hider *h = as_hider(self);
  if ((h->hidden && !h->keep_space) || !h->child) {
    *out = {0, 0};
    return;
  }
  h->child->cls->reqsize(h->child, out);
}

void h_show_children(widget *self) {
  hider *h = as_hider(self);
  if (!h->hidden && h->child) widget_show(h->child);
}

void h_layout(container *self) {
  hider *h = as_hider(self);
  widget *ch = h->child;
  if (!ch) return;
  if (h->fill) {
    ch->r = h->r;
    return;
  }
  size r = {0, 0};
  ch->cls->reqsize(ch, &r);
  if (r.w == 0 || r.w > h->r.w) r.w = h->r.w;
  if (r.h == 0 || r.h > h->r.h) r.h = h->r.h;
  ch->r = {h->r.x, h->r.y, r.w, r.h};
}

void hider_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = h_reqsize;
  c->show_children = h_show_children;
  c->layout = h_layout;
}

void hider_init(object *obj) {
  hider *h = reinterpret_cast<hider *>(obj);
  h->hidden = 1;
  h->fill = 1;
}

typeid_t register_hider() {
  return object_register_class("hider", bin_type(), sizeof(hider), hider_init, nullptr,
                               sizeof(container_class), hider_class_init, nullptr);
}

void changed(hider *h) {
  if (!h->keep_space && h->parent) h->parent->cls->geometry_changed(h->parent);
  widget_redraw(h);
}

}  // namespace

typeid_t hider_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_hider);
}

hider *hider_new(widget *parent, int keep_space) {
  auto *h = static_cast<hider *>(widget_new(parent, hider_type()));
  if (h) h->keep_space = keep_space ? 1 : 0;
  return h;
}

void hider_set_hidden(hider *h, int on) {
  on = on ? 1 : 0;
  if (on == h->hidden) return;
  h->hidden = on;
  if (h->child) {
    if (on)
      widget_hide(h->child);
    else if (widget_is_shown(h))
      widget_show(h->child);
  }
  changed(h);
}

int hider_is_hidden(hider *h) { return h->hidden; }

void hider_set_fill(hider *h, int on) {
  h->fill = on ? 1 : 0;
  container_cls(h)->layout(h);
  widget_redraw(h);
}
