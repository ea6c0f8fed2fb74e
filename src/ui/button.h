// The button: push, toggle and radio button with a text, an optional second
// text and an optional atlas icon, drawn on a panel whose look comes from a
// colour set entry chosen by the button's state. One callback receives
// presses, releases, drags out of the button and drops onto it, told apart
// by the state flags passed with it. A callback may delete its own button.
// Main thread only.
#pragma once

#include <cstdint>

#include "lib/gfx.h"  // colour
#include "lib/gmap.h"
#include "ui/container.h"  // padding
#include "ui/widget.h"

constexpr int kButtonText = 31;
constexpr int kButtonEntries = 17;

// State flags.
enum : uint32_t {
  BUTTON_PRESSED = 1,      // went down inside
  BUTTON_HELD = 2,         // the pointer button is still down
  BUTTON_HOVER = 4,
  BUTTON_ACTIVE = 8,       // toggled on, or its group's selected member
  BUTTON_INSENSITIVE = 16,
  BUTTON_IN_CALLBACK = 32,
  BUTTON_DRAGGED_OUT = 64,
  BUTTON_DROPPED_ON = 128,
};

// Style bits (bits 8-23 of the creation flags).
enum : uint32_t {
  BUTTON_TOGGLE = 0x100,
  BUTTON_DRAG_SOURCE = 0x200,
  BUTTON_ACCEPTS_DROPS = 0x400,
  BUTTON_CENTRE_X = 0x800,
  BUTTON_CENTRE_Y = 0x1000,
  BUTTON_OWN_BACKGROUND = 0x2000,  // do not ask the parent for a background
  BUTTON_STYLE_FONT = 0x10000,     // text in the visual style's font
  BUTTON_FIXED_SIZE = 0x20000,     // measure the text as "A"
};

// One look: font (0 none), fill, text colour, outline (0: a plain fill)
// and a fifth value, unused by the button itself.
struct button_entry {
  uint32_t font, fill, text, outline, extra;
};

struct button_colours {
  button_entry entry[kButtonEntries];
  padding pad;
};

struct button;
struct button_group {
  button *active;
  button *first;
};

using button_fn = void (*)(button *b, uint32_t state, void *arg, int32_t id);

struct button : widget {
  uint32_t state;
  char text[kButtonText + 1];
  char text2[kButtonText + 1];  // shown while not active, when set
  int32_t icon;                 // atlas image, -1 none
  uint64_t widget_flags;
  uint32_t style;
  button_group *group;
  button *next_member;
  const button_colours *colours;
  button_fn callback;
  void *arg;
  int32_t id;
  gmap list;
  int dirty;
  int32_t laid_font;
  rect laid_rect;
  int32_t drop_x, drop_y;  // where the last drop arrived
};

typeid_t button_type();
button *button_new(widget *parent, const char *text, int32_t icon, uint64_t widget_flags,
                   uint32_t flags, button_group *group, const button_colours *colours,
                   button_fn callback, void *arg, int32_t id);
void button_set_text(button *b, const char *text);
void button_set_text2(button *b, const char *text);
void button_set_style(button *b, uint32_t style);
void button_set_id(button *b, int32_t id);
void button_set_icon(button *b, int32_t icon);
void button_set_image(button *b, const button_colours *colours);
void button_set_callback(button *b, button_fn fn, void *arg, int32_t id);
void button_set_active(button *b, int on);
void button_set_sensitive(button *b, int on);
void button_enable(button *b);
void button_disable(button *b);
int button_is_sensitive(button *b);
// The entry drawn for the button's state.
int button_state_entry(const button *b);

// Colour sets: every entry alike; the first value (font) of every entry.
void button_set_colours(button_colours *set, uint32_t font, uint32_t fill, uint32_t text,
                        uint32_t outline, uint32_t extra);
void button_set_all_colours(button_colours *set, uint32_t font);
// The visual style's font (BUTTON_STYLE_FONT); the styles set it.
void button_set_default_font(int32_t font);

void button_group_init(button_group *g);
void button_group_set_active(button_group *g, button *b);
// The member with the id, or null.
button *button_group_member(button_group *g, int32_t id);
// 0, or -1 when no member has the id (the group then has none active).
int button_group_select(button_group *g, int32_t id);
void button_group_set_sensitive_all(button_group *g, int on);
int button_group_set_sensitive(button_group *g, int32_t id, int on);
