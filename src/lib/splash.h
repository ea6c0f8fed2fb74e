// Pictures of any size up to 4088 x 4088 pixels (a splash, a rendered
// document page) drawn with OpenGL 1.x textures, which must be powers of
// two no larger than the card's limit: the picture is cut into overlapping
// power-of-two tiles, uploaded lazily in the window that first draws them,
// and drawn scaled into any rectangle. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/gfx.h"
#include "ui/widget.h"  // size

constexpr int kSplashMaxTiles = 256;
constexpr int kSplashMargin = 4;    // white pixels around the picture
constexpr int kSplashOverlap = 8;   // tiles overlap by this much
constexpr int kSplashMaxPadded = 4096;

// Flags of splash_set_picture.
enum : uint32_t {
  SPLASH_BOTTOM_UP = 1,  // the rows are given bottom row first
  SPLASH_BGRA = 2,       // the pixels are in BGRA order
};

struct splash_tile {
  int32_t name;        // GL texture, -1 none
  int32_t name2;
  int32_t x, y;        // in the padded picture
  int32_t pw, ph;      // the part of the tile that holds picture
  int32_t tw, th;      // texture size (powers of two)
  double fu, fv;       // fraction of the texture used across and down
  size_t offset;       // of its pixels in the prepared buffer
};

struct splash {
  int32_t w, h;
  const uint8_t *pixels;  // the caller's
  uint32_t flags;
  int32_t cols, rows, count;
  splash_tile tiles[kSplashMaxTiles];
  uint8_t *prep;
  size_t prep_size;
  int32_t window;  // where it was uploaded
  int uploaded;
  int owns;
  splash *prev, *next;
};

int splash_init();
void splash_fini();
splash *splash_new();
void splash_delete(splash *s);
// Prepares the tiles (textures are made at the next draw); -1 when the
// picture can't be prepared (it then keeps no tiles and draws nothing).
int splash_set_picture(splash *s, const uint8_t *pixels, int32_t w, int32_t h, uint32_t flags);
int splash_prepare(splash *s, const uint8_t *pixels, int32_t w, int32_t h, uint32_t flags);
// Draws the picture scaled by w / sw across and h / sh down at (x, y -
// scroll), cut to the rows y .. y + h, in opaque white.
void splash_draw(splash *s, int32_t x, int32_t y, int32_t w, int32_t h, int32_t scroll,
                 int32_t sw, int32_t sh);
// Makes the textures of the tiles that have none; 0, or -1 on a GL error.
int splash_upload(splash *s);
void splash_size(size *out, const splash *s);
// Deletes the textures of every splash uploaded in that window.
void splash_forget_window(int32_t window);
// The tile sizes for one padded length; their count, or -1 above 256.
int splash_split(int32_t *sizes, int32_t length);
// Live splashes (for checks).
int splash_count();

// The splash file: width and height as big-endian 16-bit numbers, then the
// RGBA pixels, rows top first. Reading gives a new dalloc block.
int splash_file_read(const void *data, size_t len, uint8_t **pixels, int32_t *w, int32_t *h);
// A PNG file as 8-bit RGBA, rows top first, in a new dalloc block.
int picture_load_png(const char *path, uint8_t **pixels, int32_t *w, int32_t *h);
