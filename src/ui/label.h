// The label: one line (or one column of vertical text) in a font, colour
// and alignment, with an optional background, padding and click callback.
// It lays its text into its own drawing list only when the text, font,
// alignment or size changed, and cuts text that does not fit with "...".
// With a click callback it behaves like a link. Main thread only.
#pragma once

#include <cstdint>

#include "lib/gfx.h"  // colour
#include "lib/gmap.h"
#include "ui/container.h"  // padding
#include "ui/widget.h"

constexpr int kLabelText = 200;  // characters

struct label;
using label_click_fn = void (*)(label *l, void *arg, int n);

struct label : widget {
  char text[kLabelText + 4];
  char sizing[kLabelText + 4];  // measured instead of text when not empty
  uint32_t align;               // font layout flags; 0x1000 draws a shadow
  int32_t font;
  colour background;  // 0 none
  colour fg;          // 0: the text is not drawn
  padding pad;
  gmap list;
  int dirty;
  int32_t anchor_x, anchor_y;
  label_click_fn click;
  void *click_arg;
  int click_n;
  rect text_rect;
  uint32_t layouts;  // times the text was laid out (for checks)
};

typeid_t label_type();
label *label_new(widget *parent, const char *text, uint32_t align, int32_t font,
                 colour background, colour fg, const padding *pad);
void label_set_text(label *l, const char *text);
void label_printf(label *l, const char *format, ...) __attribute__((format(printf, 2, 3)));
void label_set_colour(label *l, colour c);
void label_set_bg(label *l, colour c);
void label_set_font(label *l, int32_t font);
void label_set_align(label *l, uint32_t align);
void label_set_click(label *l, label_click_fn fn, void *arg, int n);
// Keeps the current text's width for later, shorter texts.
void label_remember_size(label *l);
const char *label_text(label *l);
