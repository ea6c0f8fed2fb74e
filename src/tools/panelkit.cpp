// The search and list panels' build kit. Every section is a flyaway of the
// panel's flyaway box holding a row of two-high columns, so a section is
// as tall as the panel strip and grows sideways as controls are added.
#include "tools/panelkit.h"

#include "style.h"
#include "ui/box.h"
#include "ui/flyaway.h"

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
  const style *st = style_cur();
  padding pad;
  padding_set(&pad, 4, 4, 3, 4);
  flyaway *f = flyaway_new(k->box, title, 1, st ? st->font[0] : 0,
                           st ? style_colour(st, SC_PANEL_LIGHT) | 0xff000000u : 0xff404040u, 0, &pad);
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
  return button_new(panelkit_slot(k), text, -1, 0, style | BUTTON_STYLE_FONT | BUTTON_CENTRE_X | BUTTON_CENTRE_Y,
                    g, style_button_colours(), fn, fn ? k->arg : nullptr, id);
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
