// Size pairs. Tiny value helpers kept in one place so that every widget
// combines its children's sizes the same way.
#include "ui/size.h"

#include <algorithm>

size *size_make(int32_t w, int32_t h) {
  static size s;
  s = {w, h};
  return &s;
}

void size_join_horizontal(size *out, const size *a, const size *b) { *out = {a->w + b->w, std::max(a->h, b->h)}; }
void size_grow_horizontal(size *s, const size *b) { size_join_horizontal(s, s, b); }
void size_join_vertical(size *out, const size *a, const size *b) { *out = {std::max(a->w, b->w), a->h + b->h}; }
void size_grow_vertical(size *s, const size *b) { size_join_vertical(s, s, b); }

void size_add(size *s, int32_t dw, int32_t dh) {
  s->w += dw;
  s->h += dh;
}

int32_t size_scale(size *s, float fx, float fy) {
  s->w = static_cast<int32_t>(static_cast<float>(s->w) * fx);
  s->h = static_cast<int32_t>(static_cast<float>(s->h) * fy);
  return s->h;
}

void size_set_flag(int) {}
