// The tool panels' build kit. Every section is a flyaway of the
// panel's flyaway box holding a row of two-high columns, so a section is
// as tall as the panel strip and grows sideways as controls are added.
#include "tools/panelkit.h"

#include <cstdio>
#include <cstring>

#include "style.h"
#include "ui/box.h"
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

typeid_t panelkit_register(const char *name, size_t size, void (*class_init)(object_class *)) {
  return object_register_class(name, tools_class(), size, nullptr, nullptr, sizeof(tools_class_rec), class_init,
                               nullptr);
}

void panelkit_set_ops(object_class *rec, const char *(*summary)(tools *), void (*refresh)(tools *),
                      widget *(*build)(tools *)) {
  auto *c = static_cast<tools_class_rec *>(rec);
  c->summary = summary;
  c->refresh = refresh;
  c->build = build;
}

tools *panelkit_new_panel(widget *parent, typeid_t type, widget *owner) {
  auto *p = static_cast<tools *>(widget_new(parent, type));
  if (!p) return nullptr;
  // Filling the height too (136, not just the width, 8), as the scan panel
  // does: closed sections of a flyaway box take the box's height, so the
  // box must be given the panel's height; asked for its own it has none.
  tools_setup(p, 136, owner);
  return p;
}

fbox *panelkit_begin(panelkit *k, void *arg) {
  *k = panelkit{};
  k->arg = arg;
  k->box = fbox_new(nullptr, 1, 2);
  return k->box;
}

flyaway *panelkit_section(panelkit *k, const char *title) {
  padding pad;
  padding_set(&pad, 4, 4, 3, 4);
  flyaway *f = flyaway_new(k->box, title, 1, panel_font(), flyaway_colour(), 0, &pad);
  k->row = hbox_new(f, 0, 2);
  k->col = nullptr;
  k->in_col = 0;
  return f;
}

widget *panelkit_slot(panelkit *k) {
  if (!k->col || k->in_col == 2) {
    k->col = vbox_new(k->row, 0, 1);
    k->in_col = 0;
  }
  k->in_col++;
  return k->col;
}

button *panelkit_button(panelkit *k, const char *text, int32_t id, button_group *g, uint32_t style,
                        button_fn fn) {
  return panelkit_button_in(k, nullptr, text, id, g, style, fn);
}

button *panelkit_button_in(panelkit *k, widget *parent, const char *text, int32_t id, button_group *g,
                           uint32_t style, button_fn fn) {
  return button_new(parent ? parent : panelkit_slot(k), text, -1, 0,
                    style | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y, g, style_button_colours(), fn,
                    fn ? k->arg : nullptr, id);
}

button *panelkit_two_state(panelkit *k, widget *parent, const char *on, const char *off, int32_t id,
                           button_fn fn) {
  button *b = panelkit_button_in(k, parent, on, id, nullptr, BUTTON_TOGGLE, fn);
  button_set_text2(b, off);
  return b;
}

label *panelkit_caption(widget *parent, const char *text, uint32_t align) {
  return label_new(parent, text, align, panel_font(), flyaway_colour(), 0xffffffffu, nullptr);
}

bool panelkit_is_click(uint32_t state) {
  return (state & BUTTON_IN_CALLBACK) && !(state & (BUTTON_DRAGGED_OUT | BUTTON_DROPPED_ON));
}

int panelkit_is_on(const button *b) { return b && (b->state & BUTTON_ACTIVE) ? 1 : 0; }

void panelkit_show_on(button *b, int on) {
  if (b) button_set_active(b, on ? 1 : 0);
}

void panelkit_select(button_group *g, int32_t id) {
  if (id < 0 || button_group_select(g, id) < 0) button_group_set_active(g, nullptr);
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
