// Texture fonts: measuring, immediate drawing and layout into drawing lists.
//
// A glyph's advance is its bitmap width (bearings are baked into the
// bitmaps), so measuring is a sum of widths and drawing is one textured quad
// per glyph from the one atlas texture -- a whole run of text is one GL_QUADS
// primitive. Immediate text draws its glyphs one pixel lower than laid-out
// text (y + bearing + 1); the two placement tables differ accordingly.
#include "lib/font.h"

#include <cstring>

#include "lib/gmap.h"
#include "lib/tex.h"
#include "log.h"
#include "ui/widget.h"

static const char kSrc[] = "src/lib/font";

static const tex_subtex *glyph(const tex_font *f, int c) { return f->glyph[unsigned(c) & 0x7F]; }

static struct {
  font_text_watch watch;
  void *watch_arg;
} S;

void font_set_text_watch(font_text_watch fn, void *arg) {
  S.watch = fn;
  S.watch_arg = arg;
}

bool font_has_small_digits(int32_t font) {
  const tex_font *f = tex_font_get(font);
  if (!f) return false;
  const tex_subtex *first = glyph(f, 'a');
  if (!first || first == glyph(f, 'A')) return false;
  for (int d = 0; d < 10; d++) {
    const tex_subtex *small = glyph(f, 'a' + d), *full = glyph(f, '0' + d);
    if (!small || !full || small->width != first->width || small->height >= full->height) return false;
  }
  return true;
}

void font_metrics(int32_t *em, int32_t *digit, int32_t *ascent, int32_t *descent, int32_t font) {
  const tex_font *f = tex_font_get(font);
  if (!f) {
    if (em) *em = 0;
    if (digit) *digit = 0;
    if (ascent) *ascent = 0;
    if (descent) *descent = 0;
    return;
  }
  if (em) {
    const tex_subtex *m = glyph(f, 'M');
    *em = m ? m->width : f->fallback;
  }
  if (digit) {
    const tex_subtex *zero = glyph(f, '0'), *four = glyph(f, '4');
    if (!zero) {
      *digit = f->fallback;
    } else {
      *digit = zero->width;
      if (four && four->width > *digit) *digit = four->width;
    }
  }
  if (ascent) *ascent = f->ascent;
  if (descent) *descent = f->descent;
}

void font_text_size(int32_t *size, int32_t font, const char *text) {
  size[0] = size[1] = 0;
  const tex_font *f = tex_font_get(font);
  if (!f || !text) return;
  for (const char *p = text; *p; p++) {
    const tex_subtex *g = glyph(f, *p);
    if (!g) continue;
    size[0] += g->width;
    if (-g->bearing_y > size[1]) size[1] = -g->bearing_y;
  }
}

int32_t font_glyph_width(int c, int32_t font) {
  const tex_font *f = tex_font_get(font);
  const tex_subtex *g = f ? glyph(f, c) : nullptr;
  return g ? g->width : 0;
}

int32_t font_glyph_height(int c, int32_t font) {
  const tex_font *f = tex_font_get(font);
  const tex_subtex *g = f ? glyph(f, c) : nullptr;
  return g ? g->height : 0;
}

// Draws one glyph; returns its advance (0 without a glyph). Blank glyphs
// (spaces, fillers) advance without drawing.
static int32_t draw_glyph(const tex_font *f, int c, int32_t x, int32_t y) {
  const tex_subtex *g = glyph(f, c);
  if (!g) return 0;
  if (g->width > 0 && g->height > 0)
    tex_draw_part(g, x + g->bearing_x, y + g->bearing_y + 1, g->width, g->height);
  return g->width;
}

void font_draw_char(int c, int32_t x, int32_t y, int32_t font) {
  const tex_font *f = tex_font_get(font);
  if (f) draw_glyph(f, c, x, y);
}

void font_draw_run(const char *text, int32_t x, int32_t y, int32_t font) {
  const tex_font *f = tex_font_get(font);
  if (!f || !text) return;
  for (const char *p = text; *p; p++) x += draw_glyph(f, *p, x, y);
}

int32_t font_char_quad(int c, int32_t x, int32_t y, int32_t font, int32_t *texture, float *texcoords,
                       int32_t *vertices) {
  const tex_font *f = tex_font_get(font);
  const tex_subtex *g = f ? glyph(f, c) : nullptr;
  if (!g) return 0;
  int32_t x0 = x + g->bearing_x, y0 = y + g->bearing_y;
  int32_t x1 = x0 + g->width, y1 = y0 + g->height;
  const int32_t v[8] = {x0, y1, x1, y1, x1, y0, x0, y0};
  const float t[8] = {g->left, g->bottom, g->right, g->bottom, g->right, g->top, g->left, g->top};
  memcpy(vertices, v, sizeof v);
  memcpy(texcoords, t, sizeof t);
  if (texture) *texture = int32_t(tex_current_name());
  return 8;
}

int32_t font_text_quads(const char *text, int32_t x, int32_t y, int32_t font, int32_t *texture,
                        float *texcoords, int32_t *vertices) {
  int32_t n = 0;
  for (const char *p = text; *p; p++) {
    int32_t k = font_char_quad(*p, x, y, font, texture, texcoords + n, vertices + n);
    if (k) x += font_glyph_width(*p, font);
    n += k;
  }
  return n;
}

// The x of a character in a vertical column of width em.
static int32_t column_x(uint32_t align, int32_t x, int32_t em, int32_t gw) {
  if (align == 2) return x + em / 2 - gw / 2;
  if (align == 1) return x + em - gw;
  return x;
}

// Vertical text: moves (x, y) to the first line's baseline and returns the
// column's rectangle. Shared by immediate and laid-out text.
static rect vertical_place(const tex_font *f, int32_t font, uint32_t flags, size_t n, int32_t *x,
                           int32_t *y) {
  int32_t em, a = f->ascent, d = f->descent;
  font_metrics(&em, nullptr, nullptr, nullptr, font);
  uint32_t align = flags & kFontAlign;
  if (align == 1) *x -= em;
  if (align == 2) *x -= em / 2;
  int32_t total = (a + d) * int32_t(n);
  switch ((flags & kFontPlace) >> 4) {
    case 1: *y += a; break;
    case 2: *y = *y - total - a; break;
    case 4: *y = *y - total / 2 - a; break;
    case 8: *y -= int32_t(n) * (a + d + 1) / 2; break;
    default: break;
  }
  return {*x, *y - a, em, d + total};
}

void font_draw(const char *text, int32_t x, int32_t y, uint32_t flags, int32_t font, colour c, rect *out) {
  if (!text) return;
  const tex_font *f = tex_font_get(font);
  if (!f) {
    if (out) *out = {0, 0, 0, 0};
    return;
  }
  // 1. The shadow, one pixel to the right, in translucent black.
  uint32_t shadow = flags & kFontShadow;
  if (shadow && c != 0) {
    colour sc = 0;
    if (shadow == 0x1000) sc = colour(20) << 24;
    if (shadow == 0x2000) sc = colour(48) << 24;
    if (shadow == 0x3000) {
      sc = ((c >> 24) / 2) << 24;
      if (sc == 0) c = 0;  // half of the alpha is nothing: the whole call draws nothing
    }
    if (sc != 0) font_draw(text, x + 1, y, flags & ~kFontShadow, font, sc, nullptr);
  }
  int32_t a = f->ascent, d = f->descent;
  uint32_t align = flags & kFontAlign;
  if (!(flags & kFontVertical)) {
    // 2. Horizontal text.
    int32_t size[2];
    font_text_size(size, font, text);
    if (align == 1) x -= size[0];
    if (align == 2) x -= (size[0] - 1) / 2;
    switch ((flags & kFontPlace) >> 4) {
      case 1: y += a; break;
      case 2: y -= a; break;
      case 4: y += a / 2; break;
      case 8: y += (a + d + 1) / 2; break;
      default: break;
    }
    if (out) *out = {x, y + 1 - size[1], size[0], size[1]};
    if (c == 0) return;
    if (S.watch) S.watch(text, font, rect{x, y + 1 - size[1], size[0], size[1]}, nullptr, S.watch_arg);
    gfx_colour(c);
    if (flags & kFontRtl) {
      log(LOG_ERROR, kSrc, "right to left not supported");
      return;
    }
    font_draw_run(text, x, y, font);
    return;
  }
  // 3. Vertical text, one character per line.
  size_t n = strlen(text);
  rect r = vertical_place(f, font, flags, n, &x, &y);
  if (out) *out = r;
  if (c == 0 || (flags & kFontRtl)) return;
  if (S.watch) S.watch(text, font, r, nullptr, S.watch_arg);
  gfx_colour(c);
  for (size_t i = 0; i < n; i++) {
    int ch = text[i];
    draw_glyph(f, ch, column_x(align, x, r.w, font_glyph_width(ch, font)), y + int32_t(i) * (a + d));
  }
}

int font_layout(gmap *m, const char *text, int32_t x, int32_t y, uint32_t flags, int32_t font, rect *out) {
  if (out) *out = {0, 0, 0, 0};
  const tex_font *f = tex_font_get(font);
  if (!text || (flags & kFontRtl) || !f) return 0;
  if (m->type != GMAP_QUADS) {
    log(LOG_ERROR, kSrc, "can't lay text into a list of type %d", int(m->type));
    return -1;
  }
  size_t n = strlen(text);
  // Room for four vertices a glyph: writing past the arrays is never allowed.
  if (gmap_grow(m, uint32_t(4 * n)) != 0) return -1;
  int32_t start = m->count;
  float *tc = m->texcoords + start;
  int32_t *v = m->vertices + start;
  int32_t a = f->ascent, d = f->descent;
  uint32_t align = flags & kFontAlign;
  int32_t texture = m->texture, k = 0;

  if (flags & kFontVertical) {
    rect r = vertical_place(f, font, flags, n, &x, &y);
    for (size_t i = 0; i < n; i++) {
      int ch = text[i];
      int32_t gx = column_x(align, x, r.w, font_glyph_width(ch, font));
      k += font_char_quad(ch, gx, y + int32_t(i) * (a + d), font, &texture, tc + k, v + k);
    }
    if (out) *out = r;
    if (S.watch) S.watch(text, font, r, m, S.watch_arg);
  } else {
    k = font_text_quads(text, x, y, font, &texture, tc, v);
    if (k > 0) {
      int32_t width = v[k - 8 + 2] - v[0];  // first glyph's left edge to the last one's right edge
      int32_t h1 = v[1] - v[7];              // the first glyph's height
      int32_t dx = 0, dy = 0;
      if (align == 1) dx = -width;
      if (align == 2) dx = -((width - 1) / 2);
      switch ((flags & kFontPlace) >> 4) {
        case 1: dy = a + d; break;
        case 2: dy = -d; break;
        case 4: dy = (a + 1) / 2; break;
        case 8: dy = (a + d + 1) / 2; break;
        default: break;
      }
      for (int32_t i = 0; i < k; i += 2) {
        v[i] += dx;
        v[i + 1] += dy;
      }
      if (out) *out = {x + dx, y + dy + 1 - h1, width, h1};
      if (S.watch) S.watch(text, font, rect{x + dx, y + dy + 1 - h1, width, h1}, m, S.watch_arg);
    }
  }
  if (k > 0) m->texture = texture;
  m->count += k;
  return 0;
}
