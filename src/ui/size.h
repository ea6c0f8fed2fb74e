// Size pairs that widgets combine when they ask for their sizes. Main thread.
#pragma once

#include "ui/widget.h"

// A static size, overwritten by the next call.
size *size_make(int32_t w, int32_t h);
// (a.w + b.w, max(a.h, b.h)); the grow form in place.
void size_join_horizontal(size *out, const size *a, const size *b);
void size_grow_horizontal(size *s, const size *b);
// (max(a.w, b.w), a.h + b.h); the grow form in place.
void size_join_vertical(size *out, const size *a, const size *b);
void size_grow_vertical(size *s, const size *b);
void size_add(size *s, int32_t dw, int32_t dh);
// Each multiplied and truncated toward zero; returns the new height.
int32_t size_scale(size *s, float fx, float fy);
// Kept for the screen frame's calls; nothing follows from it.
void size_set_flag(int flag);
