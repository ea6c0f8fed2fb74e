// Texture fonts: the atlas's bitmap fonts (lib/tex.h), measured, drawn at
// once as textured quads, or laid out into a drawing list (lib/gmap.h) to be
// drawn later. Fonts are named by their number in the atlas; character codes
// are taken modulo 128, and characters without a glyph are skipped and
// measure 0. Main thread only.
//
// The 21 fonts of the embedded atlas: regular text 0, 1, 4, 6, 8, 9, 11 in
// growing sizes; the terminal's regular and bold monospace 2 and 3; the
// value fonts 5, 7, 10, 12, where 'a'-'j' are small raised digits 0-9, the
// backquote an invisible filler as wide as '.', and the blank as wide as a
// small digit (lower case from 'k' falls back to capitals); header fonts
// 13-17 and large figures 18-20 with capitals, digits and some punctuation.
// Every font's digits are of one width.
#pragma once

#include <cstdint>

#include "lib/gfx.h"

struct gmap;

// Layout flags of font_draw and font_layout.
constexpr uint32_t kFontAlign = 0x0F;     // 0 left edge at x, 1 right edge at x, 2 centred
constexpr uint32_t kFontPlace = 0xF0;     // 0 y is the baseline; 0x10, 0x20, 0x40, 0x80
constexpr uint32_t kFontVertical = 0x100; // one character per line
constexpr uint32_t kFontRtl = 0x200;      // right to left: not supported, draws nothing
constexpr uint32_t kFontShadow = 0xF000;  // 0x1000, 0x2000, 0x3000 (font_draw only)

// Any pointer may be null. em: width of 'M'; digit: the wider of '0' and
// '4'; each falls back to the font's fallback width without those glyphs.
void font_metrics(int32_t *em, int32_t *digit, int32_t *ascent, int32_t *descent, int32_t font);
// size[0] the summed widths, size[1] the largest rise above the baseline.
void font_text_size(int32_t *size, int32_t font, const char *text);
int32_t font_glyph_width(int c, int32_t font);
int32_t font_glyph_height(int c, int32_t font);
// Draws glyph c with its top-left at (x + bearing x, y + bearing y + 1).
void font_draw_char(int c, int32_t x, int32_t y, int32_t font);
void font_draw_run(const char *text, int32_t x, int32_t y, int32_t font);
// Write 8 texture and 8 vertex coordinates per glyph (bottom-left,
// bottom-right, top-right, top-left) and the current context's texture
// name; return the coordinates written.
int32_t font_char_quad(int c, int32_t x, int32_t y, int32_t font, int32_t *texture, float *texcoords,
                       int32_t *vertices);
int32_t font_text_quads(const char *text, int32_t x, int32_t y, int32_t font, int32_t *texture,
                        float *texcoords, int32_t *vertices);
// Draws text in colour c (0: only computes the rect), placed by flags; the
// text's rectangle goes to out when given.
void font_draw(const char *text, int32_t x, int32_t y, uint32_t flags, int32_t font, colour c, rect *out);
// Appends the glyph quads to a GMAP_QUADS list at its count (growing it as
// needed), sets the list's texture and fills out. 0, or -1 when the list is
// not a quad list or can't grow.
int font_layout(gmap *m, const char *text, int32_t x, int32_t y, uint32_t flags, int32_t font, rect *out);

// True when the font draws 'a'-'j' as small digits (the value fonts): read
// from the glyphs themselves, each lower than its full digit and all of one
// width, so a font that only falls back to capitals never counts.
bool font_has_small_digits(int32_t font);

// Test seam: told of every text that font_layout lays (with its list) or
// font_draw draws in a colour (list null), with its font and the rect it
// takes: a list's rects are in the list's own coordinates. Null: nobody.
using font_text_watch = void (*)(const char *text, int32_t font, const rect &r, const gmap *list, void *arg);
void font_set_text_watch(font_text_watch fn, void *arg);
