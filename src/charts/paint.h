// Chart painting: draws one chart from its ready data block (samples placed
// on pixels, overlays and indicators computed, axis lists built) with the
// lazily opened primitives of the drawing layer. It computes nothing about
// the data: every position it uses was worked out by the chart update.
// User-interface thread only, inside a window's draw pass.
#pragma once
#include <cstdint>

#include "lib/gfx.h"
#include "lib/gmap.h"

struct chart_plot;
struct chart_axes;

// What painting takes from the current visual style: fonts (main, values,
// headers, date label), the font line height, two colours and the atlas
// images of the data-box frame and the news marks.
struct chart_theme {
  int32_t font_main, font_values, font_header, font_date;
  int32_t line_height;
  colour step_colour;  // the base of the Step line with option 0x4000
  colour box_frame_colour;
  int32_t box_image, box_frame;
  int32_t news_sensitive, news_plain, news_related;
  // The visual style's four colours of the chart colour table (accent,
  // panel, background, chart background) and whether the style is dark:
  // a chart that asks for no scheme of its own takes the style's.
  colour style_colour[4];
  int32_t dark;
};

// The style module installs its source at start-up (null: the built-in
// defaults, the default style's values at size 1).
void paint_set_theme_source(void (*fn)(chart_theme* out));
chart_theme paint_theme(void);

// One data box: its rectangle and whether it is shown this hover.
struct paint_box_rect {
  int32_t x, y, w, h;
  int32_t shown;
};

// What the chart widget keeps for painting beside the data block: the axis
// lists, the pointer's hover, the overview selection, and painting's own
// lists (the price box text and the cross-hair segments). The widget sets
// chart_plot::view; a plot without one paints no grids, labels or hover.
struct chart_view {
  const chart_axes* axes;
  int32_t hovering;     // the pointer is over the plot
  int32_t hover_index;  // the hovered sample, -1 none
  int32_t rebuild;      // the data boxes must be built again (cleared when built)
  int32_t highlight;    // cross-hair segments from this index are drawn faint, -1 none
  int32_t select_from, select_to;  // overview selection columns, from -1 = none
  // Painting's own.
  gmap price_text;  // GMAP_QUADS
  gmap cross;       // GMAP_LINES, two vertices a segment
  paint_box_rect price_box;
  int32_t close_offset;
  int32_t built_index;  // the sample the lists were built for, -1 none
};

// A view with nothing hovered and nothing selected; release gives the lists'
// arrays back.
void chart_view_init(chart_view* v);
void chart_view_release(chart_view* v);

// Paints the chart; the background colour used goes to *background before
// anything is drawn. Every exit closes the open primitive.
void paint_chart(chart_plot* plot, uint32_t* background);
// A line strip through (x + 0.5, row + 0.5) of every visible sample whose row
// is set; colour 0 takes direction colours by the sign of the change.
void paint_line(chart_plot* plot, const uint32_t* rows, colour c);
// High-low bars with optional open and close ticks; colour 0: direction
// colours, close against open.
void paint_bars(chart_plot* plot, colour c, int open_tick, int close_tick);
// Columns from each row to the base row; colour 0: direction colours of the
// change from entries 18 and 19.
void paint_columns(chart_plot* plot, const uint32_t* rows, int32_t base, colour c);
// A filled quad; colour 0 keeps the current colour. Closes its primitive.
void paint_box(int32_t x, int32_t y, int32_t w, int32_t h, colour c);

// The colour table of this paint: 2 theme-following (option 0x2000), 1 dark
// (0x200000), else 0 light.
int32_t paint_colour_set(uint32_t options);
// Entry e of the table chosen by the running paint.
colour paint_entry(int32_t e);

// Direction colours. The direction is remembered across the calls of one
// paint (a sample without one keeps it); paint_chart starts it at "up".
// sign > 0 up, < 0 down, 0 keeps; answers the colour of the direction.
colour paint_direction(double sign, colour up, colour down);
void paint_direction_reset(void);

// Thick lines: 2.5 wide, smoothed; and back to single-pixel lines.
void paint_thick_begin(const chart_plot* plot);
void paint_thick_end(const chart_plot* plot);
// Dotted or dashed lines: the stipple on, and off again.
void paint_stipple_begin(int32_t factor, uint16_t pattern);
void paint_stipple_end(void);
// Opens a primitive of `kind` for untextured drawing (ends a textured one).
void paint_begin(uint32_t kind);
