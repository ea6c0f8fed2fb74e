// OpenGL drawing primitives and panels: filled and shaded rectangles, lines,
// line strips, marker triangles, the rounded-corner stencil mask, the scissor
// clip, the sub-pixel nudge, and the bevelled panels drawn from four atlas
// images of the current visual style. Every call goes through the GL dispatch
// table (lib/glapi.h). Main thread only, inside a window's draw pass.
#pragma once

#include <cstdint>

// A rectangle in window pixels (x, y, w, h; origin top left, y growing
// downward): the widget header's record (ui/widget.h).
struct rect;

// u32 RGBA, red in the low byte. In every drawing call a colour of 0 means
// "keep the current colour", not transparent black.
typedef uint32_t colour;

// Drawing flag: shift drawing by 0.3 pixel (gfx_translate).
constexpr uint32_t kGfxNudge = 1;

// Bits of the enabled-capability mask the state shadow keeps.
constexpr uint32_t kGfxBlend = 1;
constexpr uint32_t kGfxTexture = 2;
constexpr uint32_t kGfxScissor = 4;

// Per-window set-up and the end of a draw pass.
void gfx_reset();
void gfx_flush();
void gfx_set_viewport(int32_t w, int32_t h);
// The size last given to gfx_set_viewport (the window being drawn).
void gfx_viewport(int32_t *w, int32_t *h);
int32_t gfx_max_texture_size();

uint32_t gfx_flags();
void gfx_flags_set(uint32_t bits);
void gfx_flags_clear(uint32_t bits);
void gfx_translate();
void gfx_untranslate();

// Sets the scissor clip to `r` (null: none), first copying the current clip
// into `previous` when given. Callers restore the previous clip afterwards.
void gfx_set_clip(const rect *r, rect *previous);
// The current clip (all 0 = none).
rect gfx_clip();

void gfx_fill_rect(int32_t x, int32_t y, int32_t w, int32_t h, colour c);
void gfx_gradient_rect(int32_t x, int32_t y, int32_t w, int32_t h, colour a, colour b);
void gfx_gradient_rect_h(int32_t x, int32_t y, int32_t w, int32_t h, colour a, colour b);
void gfx_begin_lines(colour c);
void gfx_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void gfx_end_lines();
void gfx_line_strip_point(int32_t x, int32_t y, colour c);
void gfx_vertex_centred(int32_t x, int32_t y);
void gfx_triangle_right(int32_t x, int32_t y, int32_t s, colour c);
void gfx_triangle_left(int32_t x, int32_t y, int32_t s, colour c);
void gfx_triangle_up(int32_t x, int32_t y, int32_t s, colour c);
void gfx_triangle_down(int32_t x, int32_t y, int32_t s, colour c);
// Masks off the four corners of the rect (radius 3 or 6) for everything
// drawn until gfx_stencil_off.
void gfx_round_rect(int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius);
void gfx_round_rect_in(const rect *r, int32_t radius);
void gfx_stencil_off();
void gfx_image_with_frame(int32_t image, colour c, int32_t frame, colour frame_colour,
                          colour surround, const rect *r);

// Panels: fill, highlight, shadow and outline atlas images (-1 = none).
void panel_set_textures(int32_t fill, int32_t highlight, int32_t shadow, int32_t outline);
// relief 1 raised, 0 sunken, anything else flat.
void panel_draw(const rect *r, colour fill, colour outline, colour background, int32_t relief);
void panel_draw_nudged(const rect *r, colour fill, colour outline, colour background);
void panel_draw_bar(const rect *r, colour fill, colour bar, colour outline, colour background,
                    int32_t relief, int32_t kind, int32_t width);

// The shared steps of the state shadow, for the texture and text drawing
// that lives beside this module (lib/tex.cpp, lib/gmap.cpp).
void gfx_end();                       // ends an open primitive
void gfx_untexture();                 // forgets the bound texture, disables texturing
void gfx_colour(colour c);            // issues c unless 0 or already current
colour gfx_current_colour();          // the colour cache (0 = unknown)
void gfx_begin(uint32_t kind);        // opens primitive `kind` unless it is open
bool gfx_primitive_open();
// Binds texture `name` unless it is the bound one: ends the open primitive
// and enables texturing first.
void gfx_bind_texture(uint32_t name);
uint32_t gfx_bound_texture();
// Enables texturing unless it is known to be on.
void gfx_enable_texturing();
// Issues glEnable/glDisable(GL_TEXTURE_2D) whatever the shadow says (for a
// context whose state the shadow may not know) and records it; turning it
// off also forgets the bound texture.
void gfx_texturing(bool on);
