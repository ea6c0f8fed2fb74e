// Minimal version of the sizer: registered as a bin subclass with its
// fields and its requested size (the fixed size where set, else the child's,
// the scale applied to the height, then the padding). Its layout is the
// bin's: the child fills the sizer.
#include "ui/sizer.h"

namespace {

void s_reqsize(widget *self, size *out) {
  auto *s = static_cast<sizer *>(self);
  size r = {0, 0};
  if (s->child) s->child->cls->reqsize(s->child, &r);
  if (s->width > 0) r.w = s->width;
  if (s->height > 0) r.h = s->height;
  if (s->scale != 1.0f) r.h = int32_t(s->scale * float(r.w));
  r.w += s->pad.left + s->pad.right;
  r.h += s->pad.top + s->pad.bottom;
  *out = r;
}

void sizer_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = s_reqsize;
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
