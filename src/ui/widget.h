// The widget base class: the instance fields the window core reads, the
// record of 27 operations every widget class starts from (subclasses copy
// it and override slots in their class_init), the flag bits, and the helpers
// that create, show, hide and redraw widgets. A widget never draws on its
// own: it queues a redraw and the window's draw pass draws it. Main thread.
#pragma once

#include <cstdint>

#include "ui/object.h"

struct rect {
  int32_t x, y, w, h;
};

struct size {
  int32_t w, h;
};

struct widget;
struct widget_class;

// What the input dispatch hands to drag operations: the press point, the
// current point, and a widget (the one under the pointer, the candidate
// source while a drag is being asked for, then the source).
struct drag_record {
  int32_t press_x, press_y;
  int32_t x, y;
  widget *w;
};

// A key as the input dispatch delivers it: the key code, the character it
// types (0 for none) and the modifier bits (1 control, 2 alt, 4 shift,
// 8 command).
struct key_event {
  int32_t code;
  int32_t ch;
  uint32_t mods;
};

// Flag bits of widget::flags.
enum : uint32_t {
  WIDGET_DIRTY = 0x1,        // a redraw is queued and not yet drawn
  WIDGET_REPEAT = 0x2,       // the queued redraw is the window core's repeat
  WIDGET_SHOWN = 0x4,
  WIDGET_HIDDEN = 0x8,       // a new widget has neither 0x4 nor 0x8
  WIDGET_INSENSITIVE = 0x10, // find_at never returns it
  WIDGET_KEEP_POINTER = 0x20,
  WIDGET_KEEP_KEYS = 0x40,
  WIDGET_TRANSPARENT = 0x80, // redraws go to the nearest opaque ancestor
  WIDGET_MOVABLE = 0x200,
  WIDGET_RESIZABLE = 0x400,
};

struct widget {
  widget_class *cls;
  widget *parent;  // null for a tree's root
  widget *root;    // the top of the tree, set when added to a container
  rect r;          // window pixels, origin at the window's top left
  rect prev;       // the rect at the end of the last relayout
  void *user;
  uint32_t level;  // stacking: higher levels are drawn later
  uint32_t flags;
};

using widget_apply_fn = void (*)(widget *w, void *arg, int n);
// The callback stored with a queued redraw (carried, never called by drawing).
using widget_update_fn = void (*)(widget *w, int n);

// The operations, in slot order. Passing to the parent means calling the
// parent's same operation with the same arguments (nothing without one).
struct widget_class : object_class {
  void (*apply)(widget *self, widget_apply_fn fn, void *arg, int n);           // 1
  void (*apply_children)(widget *self, widget_apply_fn fn, void *arg, int n);  // 2
  int (*child_count)(widget *self);                                            // 3
  widget *(*get_child)(widget *self, int index);                               // 4
  void (*geometry_changed)(widget *self);                                      // 5
  void (*reqsize)(widget *self, size *out);                                    // 6
  void (*size_limits)(widget *self, size *min, size *max);                     // 7
  widget *(*find_at)(widget *self, int32_t x, int32_t y);                      // 8
  void (*draw)(widget *self);                                                  // 9
  void (*draw_area)(widget *self, const rect *area);                           // 10
  void (*restyle)(widget *self);                                               // 11
  void (*show_children)(widget *self);                                         // 12
  void (*hide_children)(widget *self);                                         // 13
  int (*drag_begin)(widget *self, int32_t x, int32_t y, int n, drag_record *d);  // 14
  void (*drag_motion)(widget *self, int32_t x, int32_t y, int n, drag_record *d);  // 15
  int (*drag_release)(widget *self, widget *target, int32_t x, int32_t y, int buttons,
                      drag_record *d);                                         // 16
  void (*drop)(widget *self, int32_t x, int32_t y, int buttons, drag_record *d);  // 17
  void (*press)(widget *self, int32_t x, int32_t y, int button);                // 18
  void (*after_press)(widget *self, int32_t x, int32_t y, int button);          // 19
  void (*release)(widget *self, int32_t x, int32_t y, int button);              // 20
  void (*after_release)(widget *self, int32_t x, int32_t y, int button);        // 21
  void (*wheel)(widget *self, int steps);                                       // 22
  void (*motion)(widget *self, int32_t x, int32_t y);                           // 23
  void (*enter)(widget *self);                                                  // 24
  void (*leave)(widget *self);                                                  // 25
  void (*key_press)(widget *self, key_event *k);                                // 26
  void (*key_release)(widget *self, key_event *k);                              // 27
};

constexpr int kWidgetSlots = 27;

inline object *widget_obj(widget *w) { return reinterpret_cast<object *>(w); }

// The "widget" class (parent "object"), registered on first use.
typeid_t widget_type();
// object_new(type); with a parent, the parent container's add operation
// takes it, and when that refuses (-1) the new widget is deleted and null
// returned.
widget *widget_new(widget *parent, typeid_t type);
// object_delete for widgets (the owner removes it from its parent first).
void widget_delete(widget *w);

void widget_redraw(widget *w);
void widget_redraw_rect(widget *w, const rect *r, widget_update_fn fn, int n);
// Calls w's draw and clears its dirty bit.
void widget_draw(widget *w);
void widget_show(widget *w);
void widget_hide(widget *w);
void widget_set_visible(widget *w, int on);
void widget_show_subtree(widget *w);
void widget_hide_subtree(widget *w);
void widget_set_insensitive(widget *w, int on);
void widget_set_level(widget *w, uint32_t level);
void widget_set_user(widget *w, void *user);

inline bool widget_is_shown(const widget *w) { return w->flags & WIDGET_SHOWN; }
inline bool widget_is_hidden(const widget *w) { return w->flags & WIDGET_HIDDEN; }

// Where redraw requests go: gui_queue_update unless a test installs its own
// (to see every request without windows). Returns the previous one.
using widget_queue_fn = int (*)(widget *w, const rect *r, widget_update_fn fn, int n);
widget_queue_fn widget_set_queue(widget_queue_fn fn);

// The default operations, for subclasses that extend rather than replace
// one (call the widget default from their own).
void widget_default_apply(widget *self, widget_apply_fn fn, void *arg, int n);
widget *widget_default_find_at(widget *self, int32_t x, int32_t y);
void widget_default_draw_area(widget *self, const rect *area);

// The global widget style value the visual style hands to the toolkit
// (its last field); 0 until a style is selected.
void widget_set_style_value(int32_t v);
int32_t widget_style_value();
