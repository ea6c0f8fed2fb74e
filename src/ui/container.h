// Widgets that hold other widgets. `container` adds a background colour,
// five operations (layout, add, remove, delete_children, set_bg) after the
// 27 widget slots, relayout on geometry change and the background fill.
// `bin` holds exactly one child. The box family (box, hbox, vbox) is in
// box.h. Main thread.
#pragma once

#include <cstdint>

#include "ui/widget.h"

struct container : widget {
  uint32_t bg;  // 0 none; bytes from the low end: red, green, blue, alpha
};

struct container_class : widget_class {
  void (*layout)(container *self);                       // 28
  int (*add)(container *self, widget *child);            // 29: 0 or -1
  widget *(*remove)(container *self, widget *child);     // 30: the child or null
  void (*delete_children)(container *self);              // 31
  void (*set_bg)(container *self, uint32_t colour);      // 32
};

struct bin : container {
  widget *child;  // null when empty
};

// Four insets: top, left, bottom, right (the first and third vertical).
struct padding {
  int32_t top, left, bottom, right;
};

inline container_class *container_cls(const container *c) {
  return static_cast<container_class *>(c->cls);
}

typeid_t container_type();
typeid_t bin_type();
// widget_new of a container class.
widget *container_new(widget *parent, typeid_t type);
bin *bin_new(widget *parent);

void container_set_bg(container *c, uint32_t colour);
// c's colour when set, else the first set colour among its ancestors while
// they are containers, else 0.
uint32_t container_get_bg(container *c);
// Sets the colour of every container in w's subtree through its set_bg.
void container_set_bg_all(widget *w, uint32_t colour);
// The global relayout switch (initially on); off while the gui is quitting.
void container_set_relayout(int on);
// Forgets the last background filled, so the next fill draws.
void container_reset_bg_cache();
// The container background fill (nothing for colour 0; nothing when the
// rect lies inside the last fill of the same colour).
void container_fill_bg(container *c);

// Attaching and detaching a child, for container classes' add and remove.
void container_attach(container *c, widget *child);
void container_detach(container *c, widget *child);

void padding_set(padding *p, int32_t top, int32_t left, int32_t bottom, int32_t right);
// Copies src into dst, or zeroes dst when src is null.
void padding_copy(padding *dst, const padding *src);
// A static record holding the four values (overwritten by the next call).
padding *padding_make(int32_t top, int32_t left, int32_t bottom, int32_t right);
