// Placeholder children of a screen. Each kind is its own class registered
// under the real type name, so type checks and logs read as they will once
// the real module replaces it; all share this one slot table.
//
// Slots: reqsize, size_limits, draw.
#include "screen/placeholder.h"

#include <cstring>

#include "lib/gfx.h"

namespace {

void p_reqsize(widget *self, size *out) { *out = static_cast<placeholder *>(self)->req; }

void p_size_limits(widget *self, size *min, size *max) {
  *min = {0, 0};
  (void)self;
  if (max) *max = {0, 0};
}

void p_draw(widget *self) {
  auto *p = static_cast<placeholder *>(self);
  if (p->fill) gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, p->fill);
}

void p_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->reqsize = p_reqsize;
  c->size_limits = p_size_limits;
  c->draw = p_draw;
}

}  // namespace

placeholder *placeholder_new(widget *parent, const char *type_name, size req, uint32_t fill) {
  typeid_t t = object_register_class(type_name, bin_type(), sizeof(placeholder), nullptr, nullptr,
                                     sizeof(container_class), p_class_init, nullptr);
  if (t < 0) return nullptr;
  auto *p = static_cast<placeholder *>(widget_new(parent, t));
  if (!p) return nullptr;
  p->req = req;
  p->fill = fill;
  return p;
}

bool placeholder_is(const widget *w) {
  return w && w->cls->reqsize == p_reqsize;
}
