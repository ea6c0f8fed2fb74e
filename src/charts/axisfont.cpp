// The measuring seam of the chart axes bound to the font atlas. The two font
// numbers travel in the seam's context word, so the binding needs no storage
// and any number of charts may use different fonts at once.
#include "charts/axisfont.h"

#include <cstdint>

#include "lib/font.h"

static int32_t pick(void* ctx, int32_t small) {
  uintptr_t v = (uintptr_t)ctx;
  return (int32_t)(small ? (v & 0xFF) : (v >> 8) & 0xFF);
}

static void atlas_text_size(void* ctx, int32_t small, const char* text, int32_t* w, int32_t* h) {
  int32_t font = pick(ctx, small);
  int32_t size[2];
  font_text_size(size, font, text);
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, font);
  *w = size[0];
  *h = ascent + descent;
}

static int32_t atlas_line_height(void* ctx, int32_t small) {
  int32_t ascent = 0, descent = 0;
  font_metrics(nullptr, nullptr, &ascent, &descent, pick(ctx, small));
  return ascent + descent;
}

chart_fonts axisfont_atlas(int32_t font, int32_t small_font) {
  uintptr_t ctx = ((uintptr_t)(font & 0xFF) << 8) | (uintptr_t)(small_font & 0xFF);
  return chart_fonts{(void*)ctx, atlas_text_size, atlas_line_height};
}
