// The tooltip. Its look comes from the visual style (tooltip_set_style);
// its lines are measured when set, so drawing only places and paints. The
// frame image's insets are taken from its nine parts: the left, top, right
// and bottom middle parts give the left, top, right and bottom insets, each
// plus 2; a frame of another kind gives 2 on every side.
#include "ui/tooltip.h"

#include <algorithm>
#include <cstring>

#include "lib/font.h"
#include "lib/tex.h"

static struct {
  int text_shown, image_shown;
  char line1[kTooltipLine + 1], line2[kTooltipLine + 1];
  int32_t size1[2], size2[2];
  int32_t image, image_size[2];
  int32_t box_image, frame_image, font, margin;
  colour background, frame_colour, text_colour;
  int32_t inset_left, inset_top, inset_right, inset_bottom;
  int32_t pointer_image, pointer_size[2], dx, dy;
  rect last;
} T;

static void measure(const char *line, int32_t *size) {
  size[0] = size[1] = 0;
  if (!line[0]) return;
  int32_t ascent = 0, descent = 0, wh[2] = {0, 0};
  font_metrics(nullptr, nullptr, &ascent, &descent, T.font);
  font_text_size(wh, T.font, line);
  size[0] = wh[0];
  size[1] = ascent + descent;
}

static void copy_line(char *dst, const char *src) {
  dst[0] = 0;
  if (src) {
    strncpy(dst, src, kTooltipLine);
    dst[kTooltipLine] = 0;
  }
}

void tooltip_set_style(int32_t box_image, colour background, int32_t frame_image,
                       colour frame_colour, int32_t font, colour text_colour, int32_t margin) {
  T.box_image = box_image;
  T.background = background;
  T.frame_image = frame_image;
  T.frame_colour = frame_colour;
  T.font = font;
  T.text_colour = text_colour;
  T.margin = margin;
  T.inset_left = T.inset_top = T.inset_right = T.inset_bottom = 2;
  tex_image *img = frame_image ? tex_image_get(frame_image) : nullptr;
  if (img && img->parts == 9) {
    int32_t sizes[18] = {};
    tex_part_sizes(sizes, frame_image);
    T.inset_left = sizes[2 * 3] + 2;
    T.inset_top = sizes[2 * 1 + 1] + 2;
    T.inset_right = sizes[2 * 5] + 2;
    T.inset_bottom = sizes[2 * 7 + 1] + 2;
  }
  measure(T.line1, T.size1);
  measure(T.line2, T.size2);
}

void tooltip_set_offset(int32_t pointer_image, int32_t dx, int32_t dy) {
  T.pointer_image = pointer_image;
  T.dx = dx;
  T.dy = dy;
  T.pointer_size[0] = T.pointer_size[1] = 0;
  if (pointer_image) tex_size(T.pointer_size, pointer_image);
}

void tooltip_set_text(const char *text) {
  copy_line(T.line1, text);
  T.line2[0] = 0;
  measure(T.line1, T.size1);
  measure(T.line2, T.size2);
}

void tooltip_set_text2(const char *text) {
  copy_line(T.line2, text);
  measure(T.line2, T.size2);
}

void tooltip_show_text(const char *text) {
  if (!text) {
    T.text_shown = T.image_shown = 0;
    return;
  }
  tooltip_set_text(text);
  T.text_shown = 1;
  T.image_shown = 0;
}

void tooltip_show_number(int32_t image) {
  T.image = image;
  T.image_size[0] = T.image_size[1] = 0;
  tex_size(T.image_size, image);
  T.image_shown = 1;
  T.text_shown = 0;
}

void tooltip_hide_text() { T.text_shown = 0; }
void tooltip_hide_number() { T.image_shown = 0; }
rect tooltip_last_box() { return T.last; }
int tooltip_visible() { return T.text_shown || T.image_shown; }

int tooltip_draw(int32_t x, int32_t y, rect *out) {
  int32_t W = 0, H = 0;
  gfx_viewport(&W, &H);
  int32_t px = x + T.dx, py = y + T.dy;
  int32_t w = 0, h = 0;
  if (T.image_shown) {
    w = T.image_size[0];
    h = T.image_size[1];
  }
  if (T.text_shown) {
    int32_t tw = T.size1[0], th = T.size1[1];
    if (T.line2[0]) {
      tw = std::max(tw, T.size2[0]);
      th += T.margin + T.size2[1];
    }
    if (T.image_shown) w += T.margin;
    w += tw;
    h = std::max(h, th);
  }
  w += 2 * T.margin;
  h += 2 * T.margin;
  if (px < 0 || py <= -17 || px >= W || py + 16 >= H) return -1;
  rect box = {px, py + 16, w, h};
  if (box.y + h > H) box.y = py - 4 - h;
  if (box.x + w > W) box.x = W - w;
  T.last = box;
  rect inner = box;
  if (!T.box_image) {
    gfx_fill_rect(box.x, box.y, box.w, box.h, T.background);
  } else {
    gfx_image_with_frame(T.box_image, T.background, T.frame_image, T.frame_colour, 0, &box);
    inner = {box.x + T.inset_left, box.y + T.inset_top, box.w - T.inset_left - T.inset_right,
             box.h - T.inset_top - T.inset_bottom};
  }
  if (out) *out = inner;
  int32_t cx = box.x + T.margin, cy = box.y + T.margin;
  if (T.image_shown) {
    gfx_colour(T.text_colour);
    tex_draw(T.image, cx, cy, T.image_size[0], T.image_size[1]);
    cx += T.image_size[0] + T.margin;
  }
  if (T.text_shown) {
    font_draw(T.line1, cx, cy, 0x10, T.font, T.text_colour, nullptr);
    if (T.line2[0])
      font_draw(T.line2, cx, cy + T.size1[1] + T.margin, 0x10, T.font, T.text_colour, nullptr);
  }
  if (T.pointer_image) {
    gfx_colour(0xffffffff);
    tex_draw(T.pointer_image, x, y, T.pointer_size[0], T.pointer_size[1]);
  }
  return 0;
}
