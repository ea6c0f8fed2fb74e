// The button. Its look is a colour set shared by many buttons (usually the
// visual style's); the state picks one of 17 entries. The text is laid out
// into the button's drawing list only when it, the rect or the entry's font
// changed. Radio groups are caller-owned records; a member leaves its group
// when it is deleted. The release callback runs under the registry's
// deletion watch, so a callback that deletes its own button is survived.
//
// Slots: reqsize, geometry_changed, restyle, draw, press, release, motion,
// enter, leave, drag_begin, drag_release, drop.
#include "ui/button.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/font.h"
#include "lib/tex.h"
#include "log.h"
#include "ui/gui.h"
#include "ui/tooltip.h"

static const char kSrc[] = "src/ui/button";

namespace {

struct {
  int32_t style_font;
} B;

button *as_button(widget *w) { return static_cast<button *>(w); }

widget_class *parent_class() {
  return static_cast<widget_class *>(object_class_record(widget_type()));
}

void call(button *b, uint32_t state) {
  if (b->callback) b->callback(b, state, b->arg, b->id);
}

// Calls back under the registry's deletion watch; false when the callback
// deleted the button (then nothing may touch it).
bool call_watched(button *b) {
  int killed = 0;
  object_watch(widget_obj(b), &killed);
  call(b, b->state);
  if (killed) {
    log(LOG_WARN, kSrc, "button killed during callback");
    return false;
  }
  object_unwatch(widget_obj(b));
  return true;
}

void dirty_redraw(button *b) {
  b->dirty = 1;
  widget_redraw(b);
}

bool inside(const button *b, int32_t x, int32_t y) {
  return x >= b->r.x && x < b->r.x + b->r.w && y >= b->r.y && y < b->r.y + b->r.h;
}

int32_t entry_font(const button *b, const button_entry &e) {
  return (b->style & BUTTON_STYLE_FONT) ? B.style_font : (int32_t)e.font;
}

void make_active(button_group *g, button *b) {
  if (g->active && g->active != b) {
    g->active->state &= ~BUTTON_ACTIVE;
    if (g->active->text2[0]) g->active->dirty = 1;
    widget_redraw(g->active);
  }
  g->active = b;
  if (b) {
    b->state |= BUTTON_ACTIVE;
    if (b->text2[0]) b->dirty = 1;
    widget_redraw(b);
  }
}

void b_reqsize(widget *self, size *out) {
  button *b = as_button(self);
  out->w = out->h = 0;
  if (!b->colours) return;
  static const int kMeasured[] = {0, 1, 2, 4, 6, 8, 9, 16};
  int32_t icon[2] = {0, 0};
  if (b->icon >= 0) tex_size(icon, b->icon);
  for (int k : kMeasured) {
    const button_entry &e = b->colours->entry[k];
    int32_t font = entry_font(b, e);
    int32_t w = 0, h = 0;
    if (font || (b->style & BUTTON_STYLE_FONT)) {
      int32_t ascent = 0, descent = 0, a[2] = {0, 0}, c[2] = {0, 0};
      font_metrics(nullptr, nullptr, &ascent, &descent, font);
      if (b->style & BUTTON_FIXED_SIZE) {
        font_text_size(a, font, "A");
      } else {
        font_text_size(a, font, b->text);
        font_text_size(c, font, b->text2);
      }
      w = std::max(a[0], c[0]);
      h = ascent + descent;
    }
    if (b->icon >= 0) {
      w += icon[0] + (w ? 2 : 0);
      h = std::max(h, icon[1]);
    }
    out->w = std::max(out->w, w);
    out->h = std::max(out->h, h);
  }
  const padding &p = b->colours->pad;
  out->w += p.left + p.right;
  out->h += p.top + p.bottom;
}

void b_geometry_changed(widget *self) { dirty_redraw(as_button(self)); }
void b_restyle(widget *self) { dirty_redraw(as_button(self)); }

void layout(button *b, int32_t font, const padding &p, int32_t x0) {
  const rect &r = b->r;
  const char *src = (b->text2[0] && !(b->state & BUTTON_ACTIVE)) ? b->text2 : b->text;
  char shown[80];
  snprintf(shown, sizeof shown, "%s", src);
  int32_t n = (int32_t)strlen(shown);
  int32_t room = r.x + r.w - p.right - x0;
  int32_t wh[2] = {0, 0};
  font_text_size(wh, font, shown);
  while (n > 0 && wh[0] > room) {
    shown[--n] = 0;
    font_text_size(wh, font, shown);
  }
  uint32_t flags = 0;
  int32_t x = x0, y = r.y + r.h - 1 - p.bottom;
  if (b->style & BUTTON_CENTRE_X) {
    x = x0 + (r.x + r.w - p.right - x0) / 2;
    flags |= 2;
  }
  if (b->style & BUTTON_CENTRE_Y) {
    y = r.y + r.h / 2;
    flags |= 0x40;
  }
  gmap_begin(&b->list, (uint32_t)(n * 4 + 12));
  rect out;
  font_layout(&b->list, shown, x, y, flags, font, &out);
  gmap_end(&b->list);
  b->dirty = 0;
  b->laid_font = font;
  b->laid_rect = r;
}

void b_draw(widget *self) {
  button *b = as_button(self);
  if (!b->colours) return;
  const button_entry &e = b->colours->entry[button_state_entry(b)];
  const padding &p = b->colours->pad;
  const rect &r = b->r;
  if (e.outline == 0) {
    if (e.fill) gfx_fill_rect(r.x, r.y, r.w, r.h, e.fill);
  } else {
    colour bg = 0;
    if (!(b->style & BUTTON_OWN_BACKGROUND) && b->parent &&
        object_is_a(widget_obj(b->parent), container_type()))
      bg = container_get_bg(static_cast<container *>(b->parent));
    int relief = (b->state & (BUTTON_HELD | BUTTON_ACTIVE)) ? 0 : 1;
    panel_draw(&r, e.fill, e.outline, bg, relief);
  }
  int32_t icon[2] = {0, 0};
  if (b->icon >= 0) tex_size(icon, b->icon);
  int32_t x0 = r.x + p.left;
  if (b->icon >= 0 && b->text[0]) x0 += icon[0] + 2;
  int32_t font = entry_font(b, e);
  if (b->text[0] && (font || (b->style & BUTTON_STYLE_FONT)) && e.text) {
    if (b->dirty || font != b->laid_font || memcmp(&r, &b->laid_rect, sizeof r) != 0)
      layout(b, font, p, x0);
    gfx_colour(e.text);
    gmap_draw(&b->list);
  }
  if (b->icon >= 0) {
    // The icon sits at the left padding before a text, or in the middle
    // of a button without one; tinted with the entry's text colour.
    int32_t ix = b->text[0] ? r.x + p.left : r.x + (r.w - icon[0]) / 2;
    int32_t iy = r.y + (r.h - icon[1]) / 2;
    gfx_colour(e.text ? e.text : 0xffffffff);
    tex_draw(b->icon, ix, iy, icon[0], icon[1]);
  }
}

void b_press(widget *self, int32_t, int32_t, int button_no) {
  button *b = as_button(self);
  if (button_no != 1 || (b->state & BUTTON_INSENSITIVE)) return;
  b->state |= BUTTON_PRESSED | BUTTON_HELD;
  call(b, b->state);
  widget_redraw(b);
}

void b_release(widget *self, int32_t x, int32_t y, int button_no) {
  button *b = as_button(self);
  if (b->state & BUTTON_INSENSITIVE) return;
  if (!inside(b, x, y)) {
    b->state &= ~(BUTTON_PRESSED | BUTTON_HELD);
    widget_redraw(b);
    return;
  }
  if (button_no != 1) return;
  if ((b->style & BUTTON_TOGGLE) && (b->state & BUTTON_PRESSED)) b->state ^= BUTTON_ACTIVE;
  b->state &= ~(BUTTON_PRESSED | BUTTON_HELD);
  if (b->group) make_active(b->group, b);
  b->state |= BUTTON_IN_CALLBACK;
  if (!call_watched(b)) return;
  b->state &= ~BUTTON_IN_CALLBACK;
  if (b->text2[0]) b->dirty = 1;
  widget_redraw(b);
}

void b_motion(widget *self, int32_t, int32_t) {
  button *b = as_button(self);
  if (gui_dragging() || (b->state & (BUTTON_HOVER | BUTTON_INSENSITIVE))) return;
  b->state |= BUTTON_HOVER;
  widget_redraw(b);
}

void b_enter(widget *self) {
  button *b = as_button(self);
  if (b->state & BUTTON_INSENSITIVE) return;
  b->state |= BUTTON_HOVER;
  if (b->state & BUTTON_HELD) b->state |= BUTTON_PRESSED;
  widget_redraw(b);
}

void b_leave(widget *self) {
  button *b = as_button(self);
  if (b->state & BUTTON_INSENSITIVE) return;
  b->state &= ~BUTTON_HOVER;
  if (b->state & BUTTON_HELD) b->state &= ~BUTTON_PRESSED;
  widget_redraw(b);
}

int b_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *d) {
  button *b = as_button(self);
  if (!(b->style & BUTTON_DRAG_SOURCE)) return parent_class()->drag_begin(self, x, y, n, d);
  if (n != 1 || (b->state & BUTTON_INSENSITIVE)) return 0;
  if (b->text[0])
    tooltip_show_text(b->text);
  else
    tooltip_show_number(b->icon);
  if (d) d->w = self;
  return 1;
}

int b_drag_release(widget *self, widget *, int32_t, int32_t, int, drag_record *) {
  button *b = as_button(self);
  b->state = (b->state & ~(BUTTON_PRESSED | BUTTON_HELD | BUTTON_DRAGGED_OUT)) | BUTTON_DRAGGED_OUT;
  if (!call_watched(b)) return 0;
  b->state &= ~BUTTON_DRAGGED_OUT;
  widget_redraw(b);
  return 0;  // the target receives no drop
}

void b_drop(widget *self, int32_t x, int32_t y, int buttons, drag_record *d) {
  button *b = as_button(self);
  if (!(b->style & BUTTON_ACCEPTS_DROPS) || (b->state & BUTTON_INSENSITIVE)) {
    parent_class()->drop(self, x, y, buttons, d);
    return;
  }
  b->drop_x = x;
  b->drop_y = y;
  b->state |= BUTTON_DROPPED_ON;
  if (!call_watched(b)) return;
  b->state &= ~BUTTON_DROPPED_ON;
}

void leave_group(button *b) {
  button_group *g = b->group;
  if (!g) return;
  for (button **p = &g->first; *p; p = &(*p)->next_member)
    if (*p == b) {
      *p = b->next_member;
      break;
    }
  if (g->active == b) g->active = nullptr;
  b->group = nullptr;
}

void b_init(object *obj) {
  button *b = reinterpret_cast<button *>(obj);
  gmap_setup(&b->list, GMAP_QUADS, 60, 0);
  b->icon = -1;
  b->dirty = 1;
  b->laid_font = -1;
}

void b_fini(object *obj) {
  button *b = reinterpret_cast<button *>(obj);
  leave_group(b);
  gmap_release(&b->list);
}

void b_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = b_reqsize;
  c->geometry_changed = b_geometry_changed;
  c->restyle = b_restyle;
  c->draw = b_draw;
  c->press = b_press;
  c->release = b_release;
  c->motion = b_motion;
  c->enter = b_enter;
  c->leave = b_leave;
  c->drag_begin = b_drag_begin;
  c->drag_release = b_drag_release;
  c->drop = b_drop;
}

typeid_t register_button() {
  return object_register_class("button", widget_type(), sizeof(button), b_init, b_fini,
                               sizeof(widget_class), b_class_init, nullptr);
}

}  // namespace

typeid_t button_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_button);
}

int button_state_entry(const button *b) {
  uint32_t s = b->state;
  bool active = s & BUTTON_ACTIVE;
  if ((s & BUTTON_INSENSITIVE) && !active) return 16;
  if (s & BUTTON_PRESSED) return 1;
  if (s & BUTTON_HOVER) return active ? (b->group ? 6 : 9) : 2;
  if (active) return b->group ? 4 : 8;
  if (b->group) return 3;
  if (b->style & BUTTON_TOGGLE) return 7;
  return 0;
}

button *button_new(widget *parent, const char *text, int32_t icon, uint64_t widget_flags,
                   uint32_t flags, button_group *group, const button_colours *colours,
                   button_fn callback, void *arg, int32_t id) {
  auto *b = static_cast<button *>(widget_new(parent, button_type()));
  if (!b) return nullptr;
  snprintf(b->text, sizeof b->text, "%s", text ? text : "");
  b->icon = icon;
  b->widget_flags = widget_flags;
  b->flags |= (uint32_t)widget_flags;
  b->state = flags & 0xff0000ffu;
  b->style = flags & 0x00ffff00u;
  b->colours = colours;
  b->callback = callback;
  b->arg = arg;
  b->id = id;
  if (group) {
    b->group = group;
    b->next_member = group->first;
    bool first = group->first == nullptr;
    group->first = b;
    if (first || (b->state & BUTTON_ACTIVE)) make_active(group, b);
  }
  dirty_redraw(b);
  return b;
}

void button_set_text(button *b, const char *text) {
  snprintf(b->text, sizeof b->text, "%s", text ? text : "");
  dirty_redraw(b);
}
void button_set_text2(button *b, const char *text) {
  snprintf(b->text2, sizeof b->text2, "%s", text ? text : "");
  dirty_redraw(b);
}
void button_set_style(button *b, uint32_t style) {
  b->style = style & 0x00ffff00u;
  dirty_redraw(b);
}
void button_set_id(button *b, int32_t id) { b->id = id; }
void button_set_icon(button *b, int32_t icon) {
  b->icon = icon;
  dirty_redraw(b);
}
void button_set_image(button *b, const button_colours *colours) {
  b->colours = colours;
  dirty_redraw(b);
}
void button_set_callback(button *b, button_fn fn, void *arg, int32_t id) {
  b->callback = fn;
  b->arg = arg;
  b->id = id;
}

void button_set_active(button *b, int on) {
  if (on) b->state |= BUTTON_ACTIVE; else b->state &= ~BUTTON_ACTIVE;
  if (b->text2[0]) b->dirty = 1;
  widget_redraw(b);
}

void button_set_sensitive(button *b, int on) {
  if (on) {
    b->state &= ~BUTTON_INSENSITIVE;
  } else {
    b->state |= BUTTON_INSENSITIVE;
    b->state &= ~(BUTTON_PRESSED | BUTTON_HELD | BUTTON_HOVER | BUTTON_ACTIVE);
    if (b->group && b->group->active == b) b->group->active = nullptr;
  }
  dirty_redraw(b);
}
void button_enable(button *b) { button_set_sensitive(b, 1); }
void button_disable(button *b) { button_set_sensitive(b, 0); }
int button_is_sensitive(button *b) { return !(b->state & BUTTON_INSENSITIVE); }

void button_set_colours(button_colours *set, uint32_t font, uint32_t fill, uint32_t text,
                        uint32_t outline, uint32_t extra) {
  for (button_entry &e : set->entry) e = {font, fill, text, outline, extra};
}
void button_set_all_colours(button_colours *set, uint32_t font) {
  for (button_entry &e : set->entry) e.font = font;
}
void button_set_default_font(int32_t font) { B.style_font = font; }

void button_group_init(button_group *g) { g->active = g->first = nullptr; }

void button_group_set_active(button_group *g, button *b) {
  if (!b && g->active) {
    g->active->state &= ~BUTTON_ACTIVE;
    widget_redraw(g->active);
    g->active = nullptr;
    return;
  }
  make_active(g, b);
}

button *button_group_member(button_group *g, int32_t id) {
  for (button *b = g->first; b; b = b->next_member)
    if (b->id == id) return b;
  return nullptr;
}

int button_group_select(button_group *g, int32_t id) {
  button *b = button_group_member(g, id);
  if (!b) {
    button_group_set_active(g, nullptr);
    return -1;
  }
  make_active(g, b);
  return 0;
}

void button_group_set_sensitive_all(button_group *g, int on) {
  for (button *b = g->first; b; b = b->next_member) button_set_sensitive(b, on);
}

int button_group_set_sensitive(button_group *g, int32_t id, int on) {
  button *b = button_group_member(g, id);
  if (!b) return -1;
  button_set_sensitive(b, on);
  return 0;
}
