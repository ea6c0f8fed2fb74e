// The small kit the tool panels build with: a flyaway box of sections, each
// section a row of columns of two controls, buttons and captions in the
// panels' look, and what a refresh needs to show a setting (a toggle on or
// off, a radio group's member by id, a bound amount). Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/tools.h"
#include "ui/box.h"
#include "ui/button.h"
#include "ui/flyaway.h"

struct label;
struct textbox;

// A panel class named `name` over tools: its record's three operations.
typeid_t panelkit_register(const char *name, size_t size, void (*class_init)(object_class *));
void panelkit_set_ops(object_class *rec, const char *(*summary)(tools *), void (*refresh)(tools *),
                      widget *(*build)(tools *));
// A panel of `type` under parent (its window) editing owner, set up with a
// strip that fills the panel's height; null when it cannot be made.
tools *panelkit_new_panel(widget *parent, typeid_t type, widget *owner);

// A panel's sections under construction.
struct panelkit {
  fbox *box = nullptr;      // the sections' box (the panel's build result)
  hbox *row = nullptr;      // the current section's row of columns
  vbox *col = nullptr;      // the current column
  int in_col = 0;           // controls in the current column
  void *arg = nullptr;      // what every button's callback gets
};

// Starts the box (the panel's build result).
fbox *panelkit_begin(panelkit *k, void *arg);
// A new section titled `title` at the end of the box.
flyaway *panelkit_section(panelkit *k, const char *title);
// The parent of the next control: the current column, or a new one when it
// holds two.
widget *panelkit_slot(panelkit *k);
// A button in the next slot; `style` adds BUTTON_TOGGLE for a toggle; a
// null fn makes an inert button.
button *panelkit_button(panelkit *k, const char *text, int32_t id, button_group *g, uint32_t style,
                        button_fn fn);
// The same in a parent of the caller's (null: the next slot).
button *panelkit_button_in(panelkit *k, widget *parent, const char *text, int32_t id, button_group *g,
                           uint32_t style, button_fn fn);
// A toggle that reads `on` while active and `off` while not.
button *panelkit_two_state(panelkit *k, widget *parent, const char *on, const char *off, int32_t id,
                           button_fn fn);
// A caption in the panels' label look (align as label_new takes it).
label *panelkit_caption(widget *parent, const char *text, uint32_t align);

// A click the panels act on: released inside, not dragged out or dropped on.
bool panelkit_is_click(uint32_t state);
// The toggle's state after the click (or the group member's).
int panelkit_is_on(const button *b);
// Refresh helpers: a toggle that may not exist; a group's member by id
// (none selected for an id below 0 or not in the group).
void panelkit_show_on(button *b, int on);
void panelkit_select(button_group *g, int32_t id);

// The panels' label look: the panel font on the flyaway colour, given to
// every label below w (a panel's restyle calls it after the base's).
void panelkit_label_look(widget *w);
// The first button below w whose id is `id`, or null.
button *panelkit_find_button(widget *w, int32_t id);
// Whether the box shows the section (its entry not removed).
bool panelkit_section_shown(fbox *box, flyaway *section);
// Hundredths as the fields show them: 126 -> "1.26", 250 -> "2.5", 300 -> "3".
void panelkit_format_hundredths(char *out, size_t n, uint64_t v);
// A bound field shows v (hundredths or a whole count), or nothing when
// `none`; a field with the keyboard focus is left as the user types it.
void panelkit_show_amount(textbox *t, uint64_t v, bool none, bool hundredths);
