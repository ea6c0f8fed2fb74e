// What the tool panels build their controls with: sections (flyaways of the
// panels' look in a flyaway box) filled column by column with buttons, the
// label look, finding a button by id, showing a group's selection and a
// bound amount. Every panel has the same shape, so these are written once.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/box.h"
#include "ui/button.h"

struct fbox;
struct flyaway;
struct label;
struct textbox;

// Builds a panel's sections: each a flyaway holding a row of columns of
// two controls each; `fn` and `arg` are what every button reports to.
struct panelkit_builder {
  button_fn fn;
  void *arg;
  hbox *row = nullptr;
  vbox *col = nullptr;
  int in_col = 0;

  // A new section titled `title` in `box`; the columns start afresh.
  flyaway *section(fbox *box, const char *title);
  // The column the next control goes in (a new one after two controls).
  widget *slot();
  // Starts a new column with the next control.
  void new_column() { col = nullptr; }
  // A button in `parent` (null: the next slot): plain, of a group, or with
  // style bits (BUTTON_TOGGLE).
  button *add(const char *text, int32_t id, button_group *g = nullptr, uint32_t bits = 0,
              widget *parent = nullptr);
  button *toggle(const char *text, int32_t id, widget *parent = nullptr) {
    return add(text, id, nullptr, BUTTON_TOGGLE, parent);
  }
  // A toggle that reads `on` while active and `off` while not.
  button *two_state(const char *on, const char *off, int32_t id, widget *parent = nullptr);
  // A caption in the panels' label look (align as label_new takes it).
  label *caption(widget *parent, const char *text, uint32_t align = 0);
};

// The panels' label look: the panel font on the flyaway colour, given to
// every label below w (a panel's restyle calls it after the base's).
void panelkit_label_look(widget *w);
// The first button below w whose id is `id`, or null.
button *panelkit_find_button(widget *w, int32_t id);
// A toggle's state (nothing for null).
void panelkit_set_toggle(button *b, int on);
// Selects the group's member of `id`; none for a negative id or one the
// group lacks.
void panelkit_select(button_group *g, int32_t id);
// Whether the box shows the section (its entry not removed).
bool panelkit_section_shown(fbox *box, flyaway *section);
// Hundredths as the fields show them: 126 -> "1.26", 250 -> "2.5", 300 -> "3".
void panelkit_format_hundredths(char *out, size_t n, uint64_t v);
// A bound field shows v (hundredths or a whole count), or nothing when
// `none`; a field with the keyboard focus is left as the user types it.
void panelkit_show_amount(textbox *t, uint64_t v, bool none, bool hundredths);
