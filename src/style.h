// Visual styles: four records of 295 32-bit fields (fonts per text kind and
// size, metrics, colours, textures, the button colour set, the tooltip's
// look and the fade ramps); one is current, and every widget reads it when
// it lays out and draws. A size (0-4) picks the fonts and a few metrics; a
// scale (1-99, seconds) sets how long the scale-dependent colour fades run.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/button.h"

constexpr int kStyles = 4;
constexpr int kStyleSizes = 5;
constexpr int kStyleKinds = 9;
constexpr int kStyleFields = 295;
constexpr int kStyleRamps = 17;       // 13 made at start-up, then 4 by the scale
constexpr int kStyleScaleRamps = 4;

// Colours are named by their field number (60-127); style_colour reads one.
enum : int {
  SC_BACKGROUND = 60, SC_PANEL = 61, SC_PANEL_LIGHT = 62, SC_TEXT = 63, SC_TEXT_DIM = 64,
  SC_GRID = 65, SC_SELECTION = 66, SC_OUTLINE = 67, SC_TOOLTIP = 68, SC_LINK = 69,
  SC_HEADER = 70, SC_HEADER_TEXT = 71, SC_ALT_ROW = 72, SC_FLASH = 73, SC_WARNING = 74,
  SC_BUTTON_TEXT = 75, SC_UP_HIGHLIGHT = 76, SC_DOWN_HIGHLIGHT = 77, SC_UP = 82, SC_DOWN = 83,
  SC_GRID_BACKGROUND = 93, SC_WATCHED = 96, SC_CHART_BACKGROUND = 99, SC_BAND = 111,
  SC_AUCTION = 127,
  SC_BID_TEXT = 86, SC_OFFER_TEXT = 87,  // the mini quotes' bid and offer
  kStyleFirstColour = 60,
  kStyleColours = 68,
};

struct style {
  int32_t font[kStyleKinds];          // 0-8: by the current size
  int32_t font_extra[2];              // 9-10: fonts 2 and 3
  int32_t size_table[kStyleKinds * kStyleSizes];  // 11-55: kind k, size s at 5k + s
  int32_t line_height;                // 56: kind-0 font's ascent + descent + 3
  int32_t line_unit;                  // 57: kind-0 font's ascent + descent + 5
  int32_t fade_param[2];              // 58-59: ramps 0 -> line height + 1 and back
  uint32_t colour[kStyleColours];     // 60-127
  int32_t panel_texture[4];           // 128-131: fill, highlight, shadow, outline
  int32_t tooltip_offset[3];          // 132-134: pointer image, dx, dy
  uint32_t tooltip_style[7];          // 135-141: box, background, frame, frame colour,
                                      //          font, text colour, margin
  button_colours buttons;             // 142-230
  int32_t ramp[kStyleRamps];          // 231-247: fade ramp indices
  uint32_t spare;                     // 248
  int32_t small[7];                   // 249-255: 1, 2, 3, 4, 5, 6, 3
  int32_t per_size1;                  // 256
  int32_t per_size1_table[kStyleSizes];  // 257-261
  int32_t per_size2;                  // 262
  int32_t per_size2_table[kStyleSizes];  // 263-267
  int32_t numbers[23];                // 268-290
  float real[3];                      // 291-293: 7.0, 2.0, 15.0
  int32_t widget_style;               // 294
};
static_assert(sizeof(style) == kStyleFields * 4, "a style is 295 32-bit fields");
static_assert(offsetof(style, buttons) == 142 * 4, "the button set starts at field 142");
static_assert(offsetof(style, small) == 249 * 4, "field 249");

inline uint32_t style_colour(const style *s, int field) {
  return s->colour[field - kStyleFirstColour];
}
static_assert(offsetof(style, widget_style) == 294 * 4, "the widget value is field 294");

// Loads the built-in textures, makes the four records and their ramps; no
// style is current afterwards. 0, or -1 after an ERROR line.
int style_init();
void style_fini();
// 0, or -1 ("bad style %d") for n >= 4. The current style does nothing.
int style_select(int n);
// The current style record (null before the first select), and its number.
const style *style_cur();
int style_current();
// A record by number (null out of range).
const style *style_get(int n);
// The button colour set of the current style and size, in one place that
// buttons point at, so that a style or size change reaches every button.
const button_colours *style_button_colours();
// What a style or size change asks of the windows: the screens install
// their refresh here at start (null: none). The count is of the requests.
void style_set_refresh_hook(void (*fn)());
uint32_t style_refresh_count();
// Clamped to 0-4; 1 when it changed (the screens refresh), 0 when not.
int style_set_size(int size);
int style_size();
int style_size_up();
int style_size_down();
// 1-99 (else -1, unchanged); rebuilds the scale-dependent ramps.
int style_set_scale(int scale);
int style_scale();
