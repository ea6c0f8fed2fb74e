// The layers painted over the price plot: overlay and indicator lines by
// their drawing style, band fills, zero lines, news marks, the caption and
// legends, and while the pointer hovers over a sample the cross-hair and
// the data boxes. Runs inside paint_chart, on the user-interface thread.
#pragma once
#include <cstddef>
#include <cstdint>

#include "charts/paint.h"

struct chart_plot;
struct chart_ta;
struct ta_def;
struct gmap;

constexpr int32_t kPaintDataStrings = 100;
constexpr int32_t kPaintDataStringSize = 50;  // 49 characters and the NUL

// The SMA and EMA counters of one paint back to 0.
void paint_lines_reset(void);

// Line `line` (0-2) of an overlay or indicator by its style.
void paint_ta_line(chart_plot* plot, chart_ta* ta, const ta_def* def, int32_t line);
// Styles 4 and 5: a level line across the price pane at the first visible
// sample's row (nothing when it has none).
void paint_level_line(chart_plot* plot, const uint32_t* rows, colour c);
// Every overlay (band fill, then its lines) and every indicator pane higher
// than 10 pixels (zero line, then its lines).
void paint_overlays(chart_plot* plot);
void paint_indicators(chart_plot* plot);
// Caption and legends (option 0x4) over a background.
void paint_caption_and_legends(chart_plot* plot, colour background);
// One legend line at (pane x + 2, top + row x line height + 2) over a box in
// `box` with alpha 180.
void paint_legend(chart_plot* plot, chart_ta* ta, int32_t top, int32_t row, colour box);

// Texts. Each writes at most n - 1 characters and a NUL and returns the
// length written.
// The caption: code, period words and ": <last close>".
size_t paint_caption_text(const chart_plot* plot, char* out, size_t n);
// The legend of an instance: name, parameter text, then the values at the
// last visible sample. *values_at (when given) gets the length of the text
// before the values (the legend cut to it when it does not fit).
size_t paint_legend_text(const chart_plot* plot, const chart_ta* ta, const ta_def* def, char* out, size_t n,
                         size_t* values_at);
// A line's value through its formatter; null when the line has none.
const char* paint_format_value(const chart_plot* plot, int32_t format, double v);

// The data-box string table: pairs (label, value); an empty value makes the
// label a header row.
const char* paint_data_string(int32_t i);
// Fills the table with the price box of sample h; the count of strings
// (ERROR "too many data strings!" and the first 100 when more were needed).
int32_t paint_price_box_rows(const chart_plot* plot, int32_t h);
// An indicator's box at sample h (no header); 0 when it has no row.
int32_t paint_indicator_box_rows(const chart_plot* plot, const chart_ta* ta, int32_t h);
// Lays `count` strings of the table out as rows into a quad list at (0, 0);
// the box size to size[2] and the offset of the "Close" row (-1 none) to
// *close_offset. With a null map only measures.
void paint_data_box_layout(gmap* map, int32_t count, int32_t* size, int32_t* close_offset);

// Placement of the price box of a sample at column x whose close is at row
// close_row; `width` the widest box of this hover.
void paint_place_price_box(const chart_plot* plot, int32_t x, int32_t close_row, int32_t width,
                           int32_t close_offset, paint_box_rect* box);
// An indicator box centred on row `centre`, beside the sample at column x
// (right of it when the price box is), kept under the box above it.
void paint_place_indicator_box(const chart_plot* plot, int32_t x, int32_t right, int32_t centre,
                               const paint_box_rect* above, paint_box_rect* box);

// Builds the data boxes and the cross-hair of the hovered sample into the
// view (when it asks for a rebuild), and draws the cross-hair / the boxes.
void paint_hover_build(chart_plot* plot);
void paint_cross_hair(chart_plot* plot);
void paint_data_boxes(chart_plot* plot);
