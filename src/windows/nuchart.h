// The chart widget: a widget bound to one instrument that watches one chart
// style, keeps its chart data block and is painted by the chart painter. Its
// setters only store a value, set bits of the block's change mask and queue
// a redraw; the next draw brings the data up to date through chart update.
// It also owns the cross-hair cursor, the marked span, the news marks'
// pointer behaviour, an overview chart's span selection and the text export
// of its samples. The content of the chart role and the child of the chart
// holders. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "charts/alloc.h"
#include "charts/axislist.h"
#include "charts/paint.h"
#include "windows/content.h"

struct instr;
struct cstyle;
struct tools;
struct nuchart;

// Change-mask bits (chart_plot::dirty).
constexpr uint32_t kNuchartReload = 0x1;
constexpr uint32_t kNuchartSpan = 0x2;
constexpr uint32_t kNuchartPeriod = 0x4;
constexpr uint32_t kNuchartType = 0x8;
constexpr uint32_t kNuchartOverlays = 0x20;
constexpr uint32_t kNuchartIndicators = 0x40;
constexpr uint32_t kNuchartMarks = 0x80;
constexpr uint32_t kNuchartWidth = 0x100;
constexpr uint32_t kNuchartHeight = 0x200;
constexpr uint32_t kNuchartOptions = 0x400;
constexpr uint32_t kNuchartAll = 0xFFFF;

// Option bits the widget itself reads.
constexpr uint32_t kNuchartOptSmall = 0x2000;   // no cursor, one news mark a sample
constexpr uint32_t kNuchartOptParent = 0x4000;  // pointer and drags go to the parent
constexpr uint32_t kNuchartOptAdjust = 0x10000;

constexpr int32_t kNuchartRangeSpan = 11;  // the range of a span with fixed ends
constexpr int32_t kNuchartNewsOverlay = 13;
constexpr int32_t kNuchartCrossHair = 12;  // the pointer shape of the cursor
constexpr int32_t kNuchartKeyLater = 1014;
constexpr int32_t kNuchartKeyEarlier = 1013;

using nuchart_time_fn = void (*)(nuchart *chart, ss_time time, void *context, int n);

struct nuchart : content {
  chart_plot plot;  // plot.style is the watched style
  chart_view view;
  chart_axes axes;
  uint32_t colour;  // background, 0 the scheme's
  nuchart_time_fn click_fn;
  void *click_ctx;
  int click_n;
  nuchart_time_fn drag_fn;
  void *drag_ctx;
  int drag_n;
  rect plot_rect;  // x, y, w, h - 1 as recorded by geometry_changed
  int32_t sel_from, sel_to, sel_mode;  // the overview selection, -1 -1 0 when none
  int32_t cursor_moved;
  int32_t pointer_x, pointer_y;  // -1 outside the plot
  int32_t cursor_active, follow;
  ss_time news_from, news_to;    // the news span pointed at, 0 when none
  int32_t news_hover;            // the sample whose marks the pointer is over, -1 none
  struct ss_news *news_item;     // the single item pointed at (intraday charts), or null
  uint32_t redraws;              // redraws asked for by the chart's own changes
  int32_t live;                  // on the live list
};

typeid_t nuchart_type();
widget *nuchart_new(widget *parent);
inline nuchart *nuchart_cast(widget *w) { return static_cast<nuchart *>(w); }
bool nuchart_is(const widget *w);

// Binding.
void nuchart_bind(nuchart *c, instr *stock);
void nuchart_bind_index(nuchart *c, instr *index);
// The comparison instrument of the chart holders: the index is bound as the
// chart's main instrument.
void nuchart_bind_compare(nuchart *c, instr *index);
void nuchart_bind_any(nuchart *c, instr *in);
void nuchart_unbind(nuchart *c);

// The specification; each does nothing when the value is unchanged.
void nuchart_set_range(nuchart *c, int32_t kind, int32_t count);
void nuchart_set_period(nuchart *c, int32_t kind, int32_t count);
void nuchart_set_type(nuchart *c, int32_t type);
void nuchart_set_options(nuchart *c, uint32_t mask);
void nuchart_set_option_bits(nuchart *c, uint32_t bits);
void nuchart_clear_option_bits(nuchart *c, uint32_t bits);
void nuchart_set_background(nuchart *c, uint32_t colour);
// A type of -1 keeps that end.
void nuchart_set_times(nuchart *c, int32_t from_type, ss_time from, int32_t to_type, ss_time to);
void nuchart_center_on(nuchart *c, int32_t type, ss_time time);
void nuchart_get_end_types(nuchart *c, int32_t *from_type, int32_t *mid_type, int32_t *to_type);
void nuchart_get_span(nuchart *c, ss_time *from, ss_time *to);
void nuchart_get_visible_span(nuchart *c, ss_time *first, ss_time *last);
// Whether a period needs intraday data under the chart's range.
bool nuchart_needs_intraday(int32_t period, int32_t period_count, int32_t range, int32_t range_count);

// Overlays and indicators by 0-based position; params: three values, each
// kCstyleUnset (or params null) keeping the registry's default. 0 / -1.
int nuchart_clear_overlays(nuchart *c);
int nuchart_add_overlay(nuchart *c, int32_t type, const float *params);
int nuchart_remove_overlay(nuchart *c, int32_t index);
int nuchart_replace_overlay(nuchart *c, int32_t index, int32_t type, const float *params);
int nuchart_set_overlay_param(nuchart *c, int32_t index, int32_t n, float value);
// The type (-1 when none) and its three parameters.
int32_t nuchart_find_overlay(nuchart *c, int32_t index, float *params);
int nuchart_clear_indicators(nuchart *c);
int nuchart_add_indicator(nuchart *c, int32_t type, const float *params);
int nuchart_remove_indicator(nuchart *c, int32_t index);
int nuchart_replace_indicator(nuchart *c, int32_t index, int32_t type, const float *params);
int nuchart_set_indicator_param(nuchart *c, int32_t index, int32_t n, float value);
int32_t nuchart_find_indicator(nuchart *c, int32_t index, float *params);

// Styles.
void nuchart_set_cstyle(nuchart *c, cstyle *style);
void nuchart_apply_cstyle(nuchart *c, nuchart *other);
cstyle *nuchart_get_cstyle(nuchart *c);

// Marks.
void nuchart_set_marker(nuchart *c, ss_time from, ss_time to);
void nuchart_set_marker_at(nuchart *c, ss_time time);
void nuchart_set_cursor(nuchart *c, ss_time time);

// A shown chart is brought up to date at once.
void nuchart_update_now(nuchart *c);
void nuchart_set_client_callback(nuchart *c, nuchart_time_fn fn, void *context, int n);
void nuchart_set_drag_callback(nuchart *c, nuchart_time_fn fn, void *context, int n);
// The chart an overview chart steers (null: none).
void nuchart_set_controlled(nuchart *c, nuchart *controlled);
void nuchart_attach_tools(nuchart *c, tools *panel);

// The mini quote's small day chart: today's line with the previous close
// and the day's news, on the visual style's chart background, no cursor,
// its end now. Callers then bind an instrument with nuchart_bind_any.
void nuchart_preset_mini_quote(nuchart *c);

// The samples as clipboard table text (the export's rows), and the export
// that hands that text to the system clipboard (the platform's result).
std::string nuchart_export_text(nuchart *c);
int nuchart_export(nuchart *c);

// The overview selection made into a span of the controlled chart: the
// selected columns, the drag mode (1 to end, 2 from end, 4 from the axis's
// start, 8 to the axis's end, 0 a click) and the data's edges.
struct nuchart_selection_in {
  int32_t x0, x1;               // the two ends' columns
  int32_t mode;
  ss_time t0, t1;               // the times at x0 and x1
  ss_time first, last;          // the overview's first and last sample times
  ss_time earliest, now;        // mode 4's and mode 8's times
  int32_t axis_end;             // the time axis's last column
  int32_t eod;                  // the overview's data is end-of-day
  int32_t controlled_range;     // the controlled chart's range kind
  int32_t controlled_from_type; // its from type
};
struct nuchart_selection_out {
  int32_t action;  // 1 set both ends, 2 centre on `centre`, 3 open the to end to now
  int32_t from_type, to_type;
  ss_time from, to, centre;
};
nuchart_selection_out nuchart_selection_span(const nuchart_selection_in &in);

// The news marks of a sample as painted: marks stacked from the top of the
// pane, one icon and a pixel each, `count` carrying the price-sensitive
// items in thousands and the others below 1000, none past the pane's
// bottom. The mark index under row y (0 from the top), or -1.
int32_t nuchart_news_mark_at(double count, int32_t pane_y, int32_t pane_h, int32_t icon_h, int32_t y);
