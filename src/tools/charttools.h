// The chart panel: the tool panel of a chart window. It edits the chart's
// style through the chart widget's setters (type, overlays and indicators
// with their parameters, display options, range, period, intraday or end of
// day) and the style's name (Save, Rename, New, Remove), and owns a small
// overview chart of the same instrument whose span drag steers the chart.
// Every edit is one undo step of the chart's style; after the next redraw
// the style takes the chart's settings so every chart on it follows. Main
// thread only.
#pragma once

#include <cstdint>
#include <string>

#include "sstime.h"
#include "tools/tools.h"
#include "ui/button.h"

struct deck;
struct fbox;
struct flyaway;
struct instr;
struct nuchart;
struct textbox;

// Sections of the panel, in their order in the section box (the overlay
// and indicator rows sit between their headers and the next section).
enum charttools_section : int {
  CHARTTOOLS_FILE, CHARTTOOLS_TYPE, CHARTTOOLS_OVERLAYS, CHARTTOOLS_INDICATORS, CHARTTOOLS_RANGE,
  CHARTTOOLS_PERIOD, CHARTTOOLS_DISPLAY, kCharttoolsSections = 7,
};

constexpr int32_t kCharttoolsRangeSpan = 11;  // a saved view of explicit times
constexpr int kCharttoolsSectionButtons = 24;  // buttons a section's build makes, at most

// What one data mode (0 intraday, 1 end of day) last showed.
struct charttools_view {
  int32_t range, range_count;
  ss_time from, to;
  int32_t period, period_count;
};

struct charttools : tools {
  nuchart *overview;
  fbox *box;
  flyaway *section[kCharttoolsSections];
  deck *range_deck, *period_deck;
  button_group type_group, range_group, period_group, data_group;
  button *adjust, *colorize, *black, *thick, *legends;
  button *ov_volume, *ov_news, *ov_vwap;
  textbox *name;
  button *save, *make_new, *remove;
  int32_t mode;  // 0 intraday, 1 end of day
  charttools_view view[2];
  int32_t rows_changed;  // the last row sync added, removed or rebuilt a row
  // The buttons each section's build made (not the rows' toggles).
  button *made[kCharttoolsSections][kCharttoolsSectionButtons];
  int32_t made_count[kCharttoolsSections];
};

typeid_t charttools_type();
inline bool charttools_is(const widget *w) {
  return w && object_is_a(reinterpret_cast<const object *>(w), charttools_type());
}
// The panel of a chart window (parent) editing its chart; null on failure.
charttools *charttools_new(widget *parent, widget *chart);
// The chart the overview steers (null: none).
void charttools_set_chart(tools *panel, nuchart *chart);
nuchart *charttools_overview(tools *panel);
// Binds the overview to the instrument (main, comparison or the stock of
// an issuer) and refreshes the panel later.
void charttools_set_instrument(tools *panel, instr *in);
// The chart switched its data kind by itself: the data buttons, decks,
// overview and mode follow; no undo step, the chart is left alone.
void charttools_set_eod(tools *panel, int on);
// The chart is going away: the panel and its overview let go of it.
void charttools_forget_chart(tools *panel);

// The preset id showing a range (kind, count), -1 when none matches; the
// one-month preset is 24 while intraday and 15 otherwise.
int32_t charttools_range_id(int32_t kind, int32_t count, int eod);
// The preset id showing a period, -1 when none matches.
int32_t charttools_period_id(int32_t kind, int32_t count);
// What a range button id (24 read as 15) or period button id sets; an id
// without a preset gives range 1 count 1, respectively period 9 count 1.
void charttools_range_of(int32_t id, int32_t *kind, int32_t *count);
void charttools_period_of(int32_t id, int32_t *kind, int32_t *count);
// Whether a period (with the range, for periods 0 and 9) is intraday (0)
// or end of day (1).
int charttools_period_class(int32_t period, int32_t range);

// The value a spinner shows for a stored parameter: clamped to its bounds
// and rounded to its decimals, as the spinner itself would settle it.
float charttools_shown_value(float value, int32_t decimals, double minimum, double maximum);

// The title-bar summary from plain facts, so it can be checked at any
// "now". Dates and times are packed times.
struct charttools_summary_in {
  int32_t style_id;
  const char *style_name;
  int32_t period, period_count;
  int has_span;          // the chart has data and its displayed ends are known
  ss_time start, end;    // the displayed start and end
  ss_time today;         // the instrument's current date
  ss_time latest;        // the instrument's latest time
  ss_time close;         // the exchange's closing time on the start's day
  int view_at_first;     // the view begins at the chart's first bar
  int end_is_live;       // the end follows the live time (end type 5)
};
std::string charttools_summary_text(const charttools_summary_in &in);

// Tests and actions: a button by its section and id (null when none), the
// overlay (0) or indicator (1) rows, and a row's controls.
button *charttools_button(charttools *p, int section, int32_t id);
int32_t charttools_row_count(charttools *p, int list);
flyaway *charttools_row(charttools *p, int list, int32_t index);
int32_t charttools_row_type(flyaway *row);
widget *charttools_row_control(flyaway *row, int n);
// A row drag ended over target: a row of the same list swaps, a remover
// removes; 1 when something was done.
int charttools_row_dropped(flyaway *row, widget *target);
