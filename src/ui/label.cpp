// The label. The laid-out glyph quads live in the label's drawing list and
// are drawn every frame; layout happens only when `dirty` is set (text,
// font, alignment, size or style changed), so a label whose text ticks at
// market speed costs one layout per change and nothing per frame.
//
// Slots: reqsize, geometry_changed, restyle, draw, release, motion, leave.
#include "ui/label.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/font.h"
#include "ui/gui.h"

namespace {

label *as_label(widget *w) { return static_cast<label *>(w); }

void relayout(label *l) {
  l->dirty = 1;
  widget_redraw(l);
}

bool over_text(label *l, int32_t x, int32_t y) {
  const rect &t = l->text_rect;
  return x >= t.x && x < t.x + t.w && y >= t.y && y < t.y + t.h;
}

void l_reqsize(widget *self, size *out) {
  label *l = as_label(self);
  int32_t em = 0, ascent = 0, descent = 0;
  font_metrics(&em, nullptr, &ascent, &descent, l->font);
  const char *t = l->sizing[0] ? l->sizing : l->text;
  if (l->align & kFontVertical) {
    out->w = em;
    out->h = (int32_t)strlen(t) * (ascent + descent);
  } else {
    int32_t wh[2] = {0, 0};
    font_text_size(wh, l->font, t);
    out->w = wh[0];
    out->h = ascent + descent;
  }
  if (l->align & 0x1000) out->w += 1;
  out->w += l->pad.left + l->pad.right;
  out->h += l->pad.top + l->pad.bottom;
}

void l_geometry_changed(widget *self) { relayout(as_label(self)); }
void l_restyle(widget *self) { relayout(as_label(self)); }

void layout(label *l) {
  const rect &r = l->r;
  int32_t n = (int32_t)strlen(l->text);
  gmap_begin(&l->list, (uint32_t)(n * 4 + 12));
  uint32_t align = l->align & ~kFontShadow;
  if ((align & kFontAlign) == 2)
    l->anchor_x = r.x + r.w / 2 - 1;
  else if ((align & kFontAlign) == 1)
    l->anchor_x = r.x + r.w - 1 - l->pad.right;
  else
    l->anchor_x = r.x + l->pad.left;
  if (align & 0x40)
    l->anchor_y = r.y + r.h / 2;
  else if (align & 0x10)
    l->anchor_y = r.y + l->pad.top;
  else
    l->anchor_y = r.y + r.h - l->pad.bottom;
  char shown[kLabelText + 4];
  memcpy(shown, l->text, (size_t)n + 1);
  int32_t room = r.w - l->pad.left - l->pad.right;
  int32_t wh[2] = {0, 0};
  font_text_size(wh, l->font, shown);
  if (wh[0] > room && !(align & kFontVertical)) {
    // Cut so that the text and its "..." both fit: the mark must show.
    int32_t dots[2] = {0, 0};
    font_text_size(dots, l->font, "...");
    while (n > 0 && wh[0] + dots[0] > room) {
      shown[--n] = 0;
      font_text_size(wh, l->font, shown);
    }
    memcpy(shown + n, "...", 4);
  }
  font_layout(&l->list, shown, l->anchor_x, l->anchor_y, align, l->font, &l->text_rect);
  gmap_end(&l->list);
  l->dirty = 0;
  l->layouts++;
}

void l_draw(widget *self) {
  label *l = as_label(self);
  const rect &r = l->r;
  if (l->background) gfx_fill_rect(r.x, r.y, r.w, r.h, l->background);
  if (l->fg) {
    if (l->dirty) layout(l);
    if (l->align & 0x1000) {
      gfx_colour(0xff000000);
      gmap_draw_at(&l->list, 1, 1);
    }
    gfx_colour(l->fg);
    gmap_draw(&l->list);
  }
  int32_t x, y;
  if (l->click && l->text[0] && gui_widget_mouse(self, &x, &y) && over_text(l, x, y)) {
    gfx_begin_lines(l->fg);
    gfx_line(l->text_rect.x - 1, r.y + r.h - 1, l->text_rect.x + l->text_rect.w, r.y + r.h - 1);
    gfx_end_lines();
  }
}

widget_class *parent_class() {
  return static_cast<widget_class *>(object_class_record(widget_type()));
}

void l_release(widget *self, int32_t x, int32_t y, int button) {
  label *l = as_label(self);
  if (l->click && button == 1 && over_text(l, x, y)) {
    l->click(l, l->click_arg, l->click_n);
    return;
  }
  parent_class()->release(self, x, y, button);
}

void l_motion(widget *self, int32_t x, int32_t y) {
  if (as_label(self)->click) widget_redraw(self);
  parent_class()->motion(self, x, y);
}

void l_leave(widget *self) {
  if (as_label(self)->click) widget_redraw(self);
}

void l_init(object *obj) {
  label *l = reinterpret_cast<label *>(obj);
  gmap_setup(&l->list, GMAP_QUADS, 800, 0);
  l->dirty = 1;
}

void l_fini(object *obj) { gmap_release(&reinterpret_cast<label *>(obj)->list); }

void l_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->reqsize = l_reqsize;
  c->geometry_changed = l_geometry_changed;
  c->restyle = l_restyle;
  c->draw = l_draw;
  c->release = l_release;
  c->motion = l_motion;
  c->leave = l_leave;
}

typeid_t register_label() {
  return object_register_class("label", widget_type(), sizeof(label), l_init, l_fini,
                               sizeof(widget_class), l_class_init, nullptr);
}

}  // namespace

typeid_t label_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_label);
}

label *label_new(widget *parent, const char *text, uint32_t align, int32_t font,
                 colour background, colour fg, const padding *pad) {
  auto *l = static_cast<label *>(widget_new(parent, label_type()));
  if (!l) return nullptr;
  l->align = align;
  l->font = font;
  l->background = background;
  l->fg = fg;
  padding_copy(&l->pad, pad);
  label_set_text(l, text);
  relayout(l);
  return l;
}

void label_set_text(label *l, const char *text) {
  char copy[kLabelText + 1];
  snprintf(copy, sizeof copy, "%s", text ? text : "");
  if (strcmp(copy, l->text) == 0) return;
  memcpy(l->text, copy, sizeof copy);
  relayout(l);
}

void label_printf(label *l, const char *format, ...) {
  char buf[kLabelText + 1];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  label_set_text(l, buf);
}

void label_set_colour(label *l, colour c) {
  l->fg = c;
  widget_redraw(l);
}

void label_set_bg(label *l, colour c) {
  l->background = c;
  widget_redraw(l);
}

void label_set_font(label *l, int32_t font) {
  l->font = font;
  relayout(l);
}

void label_set_align(label *l, uint32_t align) {
  l->align = align;
  relayout(l);
}

void label_set_click(label *l, label_click_fn fn, void *arg, int n) {
  l->click = fn;
  l->click_arg = arg;
  l->click_n = n;
}

void label_remember_size(label *l) { memcpy(l->sizing, l->text, sizeof l->sizing); }
const char *label_text(label *l) { return l->text; }
