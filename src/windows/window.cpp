// Market windows. Minimal version: an empty pane widget with the fields the
// screen frame reads and writes (kind, role, link), drawn as a flat fill of
// the panel colour; the content kinds, title bar, tool panels and subject
// come with the window frame. The live count lets the frame's tests see
// that every pane it creates is owned and freed.
#include "windows/window.h"

#include "lib/gfx.h"
#include "style.h"

namespace {

struct {
  int alive;
} S;

void w_init(object *) { S.alive++; }
void w_fini(object *) { S.alive--; }

void w_draw(widget *self) {
  auto *w = static_cast<window *>(self);
  uint32_t c = w->fill;
  if (!c) {
    const style *st = style_cur();
    c = st ? style_colour(st, SC_PANEL) : 0xff404040u;
  }
  gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, c | 0xff000000u);
}

void window_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->draw = w_draw;
}

typeid_t register_window() {
  return object_register_class("window", bin_type(), sizeof(window), w_init, w_fini,
                               sizeof(container_class), window_class_init, nullptr);
}

}  // namespace

typeid_t window_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_window);
}

window *window_new(widget *parent, int32_t kind) {
  auto *w = static_cast<window *>(widget_new(parent, window_type()));
  if (w) w->kind = kind;
  return w;
}

void window_link(window *w, window *to) { w->link = to == w ? nullptr : to; }
void window_unlink(window *w) { w->link = nullptr; }
window *window_linked_to(const window *w) { return w->link; }
void window_copy_from(window *w, const window *src) {
  w->kind = src->kind;
  w->role = src->role;
}
void window_set_role(window *w, int32_t role) { w->role = role; }
void window_hide_tools(window *w) { w->tools_hidden = 1; }
const char *window_title_text(const window *) { return ""; }
int window_count() { return S.alive; }
void window_destroy_all(void) {}
