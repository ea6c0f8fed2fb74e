// The tool panels' building kit. The sections, columns and buttons it makes
// are those of the panels' shared look (the base class colours flyaways and
// boxes once the panel is set up); the helpers read the style when called,
// so a panel built before a style change takes the new look at its restyle.
#include "tools/panelkit.h"

#include <cstdio>
#include <cstring>

#include "style.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/label.h"
#include "ui/object.h"
#include "ui/textbox.h"

static uint32_t flyaway_colour() {
  const style *st = style_cur();
  return st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u;
}

static int32_t panel_font() {
  const style *st = style_cur();
  return st ? st->font[0] : 0;
}

flyaway *panelkit_builder::section(fbox *box, const char *title) {
  padding pad;
  padding_set(&pad, 4, 4, 3, 4);
  flyaway *f = flyaway_new(box, title, 1, panel_font(), flyaway_colour(), 0, &pad);
  row = hbox_new(f, 0, 2);
  col = nullptr;
  in_col = 0;
  return f;
}

widget *panelkit_builder::slot() {
  if (!col || in_col == 2) {
    col = vbox_new(row, 0, 1);
    in_col = 0;
  }
  in_col++;
  return col;
}

button *panelkit_builder::add(const char *text, int32_t id, button_group *g, uint32_t bits, widget *parent) {
  return button_new(parent ? parent : slot(), text, -1, 0,
                    bits | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y, g, style_button_colours(), fn,
                    arg, id);
}

button *panelkit_builder::two_state(const char *on, const char *off, int32_t id, widget *parent) {
  button *b = toggle(on, id, parent);
  button_set_text2(b, off);
  return b;
}

label *panelkit_builder::caption(widget *parent, const char *text, uint32_t align) {
  return label_new(parent, text, align, panel_font(), flyaway_colour(), 0xffffffffu, nullptr);
}

static void label_look(widget *w, void *, int) {
  if (!object_is_a(widget_obj(w), label_type())) {
    w->cls->apply_children(w, label_look, nullptr, 0);
    return;
  }
  if (!style_cur()) return;
  label_set_font(static_cast<label *>(w), panel_font());
  label_set_bg(static_cast<label *>(w), flyaway_colour());
}

void panelkit_label_look(widget *w) { w->cls->apply_children(w, label_look, nullptr, 0); }

namespace {
struct find_args {
  int32_t id;
  button *found;
};
void find_button(widget *w, void *arg, int) {
  auto *a = static_cast<find_args *>(arg);
  if (a->found) return;
  if (object_is_a(widget_obj(w), button_type())) {
    if (static_cast<button *>(w)->id == a->id) a->found = static_cast<button *>(w);
    return;
  }
  w->cls->apply_children(w, find_button, arg, 0);
}
}  // namespace

button *panelkit_find_button(widget *w, int32_t id) {
  find_args a{id, nullptr};
  w->cls->apply_children(w, find_button, &a, 0);
  return a.found;
}

void panelkit_set_toggle(button *b, int on) {
  if (b) button_set_active(b, on);
}

void panelkit_select(button_group *g, int32_t id) {
  if (id < 0 || button_group_select(g, id) < 0) button_group_set_active(g, nullptr);
}

bool panelkit_section_shown(fbox *box, flyaway *section) {
  if (!box || !section) return false;
  fbox_entry *e = fbox_entry_of(box, section);
  return e && e->state != FBOX_REMOVED;
}

void panelkit_format_hundredths(char *out, size_t n, uint64_t v) {
  snprintf(out, n, "%llu.%02llu", (unsigned long long)(v / 100), (unsigned long long)(v % 100));
  size_t l = strlen(out);
  while (l && out[l - 1] == '0') out[--l] = 0;  // no trailing zeros after the point
  if (l && out[l - 1] == '.') out[--l] = 0;
}

void panelkit_show_amount(textbox *t, uint64_t v, bool none, bool hundredths) {
  if (!t || gui_has_focus(t)) return;
  char b[48] = "";
  if (!none) {
    if (hundredths) panelkit_format_hundredths(b, sizeof b, v);
    else snprintf(b, sizeof b, "%llu", (unsigned long long)v);
  }
  textbox_set_text(t, b);
}
