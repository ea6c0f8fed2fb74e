// The sizer. Its request is the child's with the fixed size put in where
// set and the height made a share of the width when scaled; its layout
// clamps the child to what fits inside the padding, stretches it by the fill
// flags and places it by the alignment flags.
//
// Slots: reqsize, layout.
#include "ui/sizer.h"

#include <algorithm>

namespace {

sizer *as_sizer(widget *w) { return static_cast<sizer *>(w); }

void s_reqsize(widget *self, size *out) {
  sizer *s = as_sizer(self);
  size r = {0, 0};
  if (s->child) s->child->cls->reqsize(s->child, &r);
  if (s->width > 0) r.w = s->width;
  if (s->height > 0) r.h = s->height;
  if (s->scale != 1.0f) r.h = int32_t(s->scale * float(r.w));
  r.w += s->pad.left + s->pad.right;
  r.h += s->pad.top + s->pad.bottom;
  *out = r;
}

void s_layout(container *self) {
  sizer *s = as_sizer(self);
  widget *ch = s->child;
  if (!ch) return;
  const rect b = s->r;
  const uint32_t f = s->flags;
  size r = {0, 0};
  ch->cls->reqsize(ch, &r);
  if (s->scale != 0.0f && s->scale != 1.0f) r.h = int32_t(s->scale * float(r.w));
  r.w = std::min(r.w, b.w);
  r.h = std::min(r.h, b.h);
  const int32_t ph = s->pad.left + s->pad.right, pv = s->pad.top + s->pad.bottom;
  if ((b.w - ph < r.w || (f & SIZER_FILL_W)) && !(f & (SIZER_CENTRE_H | SIZER_RIGHT)))
    r.w = b.w - ph;
  if ((b.h - pv < r.h || (f & SIZER_FILL_H)) && !(f & (SIZER_CENTRE_V | SIZER_BOTTOM)))
    r.h = b.h - pv;
  r.w = std::min(r.w, b.w);
  r.h = std::min(r.h, b.h);
  rect out = {b.x + s->pad.left, b.y + s->pad.top, r.w, r.h};
  if (r.w < b.w) {
    if (f & SIZER_CENTRE_H)
      out.x = b.x + (b.w - (r.w + ph)) / 2 + s->pad.left;
    else if (f & SIZER_RIGHT)
      out.x = b.x + b.w - r.w - s->pad.right;
  }
  if (r.h < b.h) {
    if (f & SIZER_CENTRE_V)
      out.y = b.y + (b.h - (r.h + pv)) / 2 + s->pad.top;
    else if (f & SIZER_BOTTOM)
      out.y = b.y + b.h - r.h - s->pad.bottom;
  }
  ch->r = out;
}

void sizer_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = s_reqsize;
  c->layout = s_layout;
}

typeid_t register_sizer() {
  return object_register_class("sizer", bin_type(), sizeof(sizer), nullptr, nullptr,
                               sizeof(container_class), sizer_class_init, nullptr);
}

}  // namespace

typeid_t sizer_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_sizer);
}

sizer *sizer_new(widget *parent, uint32_t flags, const size *fixed, const padding *pad,
                 float scale) {
  auto *s = static_cast<sizer *>(widget_new(parent, sizer_type()));
  if (!s) return nullptr;
  s->flags = flags;
  s->width = fixed ? fixed->w : 0;
  s->height = fixed ? fixed->h : 0;
  padding_copy(&s->pad, pad);
  s->scale = scale > 0 ? scale : 1.0f;
  return s;
}
