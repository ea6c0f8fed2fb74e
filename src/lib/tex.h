// The built-in texture atlas: one RGBA picture holding every glyph and
// interface image, compiled in as a zlib stream, parsed at start-up into
// sub-textures (rectangles of the atlas), images of one, three or nine
// stretching parts, and bitmap fonts (lib/font.h). The atlas is uploaded once
// into every window's GL context, lazily, the first time that window draws.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/gfx.h"

constexpr int kTexContexts = 16;   // one GL context per window
constexpr int kTexFontSlots = 128; // glyph slots of a font (codes modulo 128)

// The one atlas texture: its GL name in every context (-1 = not created),
// its power-of-two size and pixels (pw * ph * 4 bytes, RGBA, top row first).
struct tex_texture {
  int32_t names[kTexContexts];
  int32_t pw, ph;
  uint8_t *pixels;
};

// A rectangle of the atlas. For a glyph, bearing y is the glyph's top
// relative to the baseline (negative above it) and the width is its advance.
struct tex_subtex {
  tex_texture *texture;
  int32_t bearing_x, bearing_y;
  int32_t atlas_x, atlas_y, width, height;
  float top, left, bottom, right;  // texture coordinates
};

// Image kinds: 1 three parts side by side, 2 three parts stacked, 3 nine
// parts row by row; anything else one part.
struct tex_image {
  uint32_t kind;
  uint32_t parts;
  tex_subtex *part[9];
};

struct tex_font {
  uint8_t fallback;  // em and digit width when the glyphs that measure them are missing
  uint8_t size;      // header byte 0: the nominal pixel size the font was made at
  uint8_t ascent, descent;
  tex_subtex *glyph[kTexFontSlots];  // null = no glyph
};

// What the last successful parse built (for checks and tools).
struct tex_counts {
  int32_t width, height;  // of the atlas picture
  int32_t subtextures, images, fonts;
  size_t bytes;  // bytes of the uncompressed atlas that the parse consumed
};

// The images of the embedded atlas, by number. Nine-part (stretching):
// 1 data-box frame, 2 button frame, 3 tooltip frame, 4 popup frame,
// 5 flyaway frame, 6 window shadow, 39-42 the panel fill, highlight, shadow
// and outline. Single: 0 tooltip pointer, 7-15 the nine pane split layouts,
// 16 close cross, 17 tool-panel button picture, 18 the about panel's
// picture, 19 tick, 20 arrow right, 21 and 22 site pictures, 23 arrow down,
// 24 arrow up, 25 empty check box, 26-28 news marks (plain, important,
// other), 29-38 style icons (lock, link, star, bell, flag, plus, minus,
// resize grip, magnifier, chart line).
constexpr int32_t kTexTooltipPointer = 0;
constexpr int32_t kTexTooltipFrame = 3;
constexpr int32_t kTexPanelFill = 39;
constexpr int32_t kTexPanelHighlight = 40;
constexpr int32_t kTexPanelShadow = 41;
constexpr int32_t kTexPanelOutline = 42;

// The embedded atlas (generated at build time).
extern const unsigned char tex_atlas_zlib[];
extern const int tex_atlas_zlib_size;  // compressed bytes
extern const int tex_atlas_size;       // uncompressed bytes

int tex_init();
// Uncompresses and parses a zlib atlas; 0, or -1 after an ERROR line (the
// tables built so far stay in place).
int tex_load(const unsigned char *buffer, int32_t compressed_size, int32_t size);
// tex_load of the embedded atlas.
int tex_load_builtin();
int tex_parse(const unsigned char *buffer, size_t size);
void tex_fini();
tex_counts tex_stats();

// Per-window contexts (0-15).
void tex_context_new(int32_t ctx);
void tex_select_context(int32_t ctx);
void tex_context_forget(int32_t ctx);
int32_t tex_current_context();
// The atlas's GL name in the current context (0 when not created).
uint32_t tex_current_name();

// Lookups; null for an index out of range.
tex_image *tex_image_get(int32_t image);
tex_font *tex_font_get(int32_t font);
tex_subtex *tex_subtex_get(int32_t index);

// Images. Sizes are int32_t[2] (w, h); part sizes int32_t[2 * parts].
void tex_size(int32_t *size, int32_t image);
void tex_part_sizes(int32_t *sizes, int32_t image);
void tex_draw(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h);
void tex_draw_white(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h);
void tex_draw_rect(int32_t image, const rect *r);
// Cells: 1 top-left, 2 top, 4 top-right, 8 left, 16 centre, 32 right,
// 64 bottom-left, 128 bottom, 256 bottom-right.
void tex_draw_parts(int32_t image, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t mask);
void tex_draw_parts_rect(int32_t image, const rect *r, uint32_t mask);
void tex_draw_part(const tex_subtex *sub, int32_t x, int32_t y, int32_t w, int32_t h);
// n coordinates (n / 2 vertices), each a texture pair and an integer vertex.
void tex_draw_quads(uint32_t texture, int32_t n, const float *texcoords, const int32_t *vertices);
void tex_draw_quads_at(uint32_t texture, int32_t n, const float *texcoords, const int32_t *vertices,
                       int32_t dx, int32_t dy);
