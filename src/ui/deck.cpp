// The deck. Pages live in the box's child list; the current page is kept by
// index, so removing a page before it moves the index down with it. The
// box's own layout (every child over the whole rect) is the deck's.
//
// Slots: show_children, hide_children, reqsize, add, remove.
#include "ui/deck.h"

#include <algorithm>

namespace {

deck *as_deck(widget *w) { return static_cast<deck *>(w); }

box_class *box_record() { return static_cast<box_class *>(object_class_record(box_type())); }

widget *page(deck *d, int i) { return d->cls->get_child(d, i); }

int index_of(deck *d, widget *child) {
  int i = 0;
  for (box_node *n = d->first; n; n = n->next, i++)
    if (n->child == child) return i;
  return -1;
}

void d_show_children(widget *self) {
  deck *d = as_deck(self);
  if (widget *p = d->current >= 0 ? page(d, d->current) : nullptr) widget_show(p);
}

void d_hide_children(widget *self) {
  for (box_node *n = as_deck(self)->first; n; n = n->next) widget_hide(n->child);
}

void d_reqsize(widget *self, size *out) {
  deck *d = as_deck(self);
  widget *cur = d->current >= 0 ? page(d, d->current) : nullptr;
  if (d->fit_current && cur) {
    cur->cls->reqsize(cur, out);
    return;
  }
  size m = {0, 0};
  for (box_node *n = d->first; n; n = n->next) {
    size r = {0, 0};
    n->child->cls->reqsize(n->child, &r);
    m.w = std::max(m.w, r.w);
    m.h = std::max(m.h, r.h);
  }
  *out = m;
}

int d_add(container *self, widget *child) {
  deck *d = as_deck(self);
  if (box_record()->add(self, child) < 0) return -1;
  if (d->current < 0) {
    d->current = int32_t(d->count) - 1;
    if (widget_is_shown(d)) widget_show(child);
  } else {
    widget_hide(child);
  }
  return 0;
}

widget *d_remove(container *self, widget *child) {
  deck *d = as_deck(self);
  int i = index_of(d, child);
  widget *out = box_record()->remove(self, child);
  if (out && i >= 0) {
    if (i == d->current)
      d->current = -1;
    else if (i < d->current)
      d->current--;
  }
  return out;
}

void deck_class_init(object_class *rec) {
  auto *c = static_cast<box_class *>(rec);
  c->show_children = d_show_children;
  c->hide_children = d_hide_children;
  c->reqsize = d_reqsize;
  c->add = d_add;
  c->remove = d_remove;
}

void deck_init(object *obj) { reinterpret_cast<deck *>(obj)->current = -1; }

typeid_t register_deck() {
  return object_register_class("deck", box_type(), sizeof(deck), deck_init, nullptr,
                               sizeof(box_class), deck_class_init, nullptr);
}

}  // namespace

typeid_t deck_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_deck);
}

deck *deck_new(widget *parent) { return static_cast<deck *>(widget_new(parent, deck_type())); }

void deck_set_bg(deck *d, uint32_t colour) {
  if (d->bg == colour) return;
  d->bg = colour;
  widget_redraw(d);
}

int deck_show_page(deck *d, int i) {
  if (i < 0 || i >= int(d->count)) return -1;
  if (widget *old = d->current >= 0 ? page(d, d->current) : nullptr) widget_hide(old);
  d->current = i;
  if (widget_is_shown(d)) widget_show(page(d, i));
  widget_redraw(d);
  return 0;
}

int deck_current_page(deck *d) { return d->current; }
