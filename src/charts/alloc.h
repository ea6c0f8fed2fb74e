// The chart data block: what a chart draws (samples, overlay and indicator
// instances, value ranges, pane geometry and pixel positions), the making and
// freeing of its arrays, and the filling of the samples from an instrument.
// User-interface thread only.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;
struct ss_stock;
struct ss_index;
struct ss_issuer;
struct cstyle;  // the watched chart style
struct tools;   // the attached chart tool panel
struct gmap;    // a textured drawing list
struct chart_view;  // the widget's painting state (charts/paint.h)

// The no-value mark of every chart value array: the largest float, as a double.
constexpr double kChartNoValue = 3.4028234663852886e38;
constexpr int kChartMaxDays = 32;
constexpr int kChartWorkSlots = 5;
constexpr int kTaMaxLines = 3;

// Option bits of chart_plot::options.
constexpr uint32_t kChartOptNoPad = 0x10;
constexpr uint32_t kChartOptThin = 0x20;       // every bar one pixel wide
constexpr uint32_t kChartOptDayClamp = 0x40;   // "now" held within the day
constexpr uint32_t kChartOptOpenClamp = 0x80;  // "now" held between 10:00 and the close
constexpr uint32_t kChartOptThick = 0x200;
constexpr uint32_t kChartOptAdjust = 0x10000;
constexpr uint32_t kChartOptAllTrades = 0x20000;
constexpr uint32_t kChartOptAutoPeriod = 0x100000;

// One overlay or indicator of a chart (pool item).
struct chart_ta {
  int32_t type;  // registry number
  float params[3];
  int32_t is_overlay;          // 1 overlay, 0 indicator
  double* lines[kTaMaxLines];  // value per sample, kChartNoValue = none
  double value_low, value_high;
  int32_t pane_x, pane_y, pane_w, pane_h;
  int32_t zero_y;                 // y of the value 0, -1 when outside
  uint32_t* pixels[kTaMaxLines];  // y per sample, 0xFFFFFFFF = not drawn
  gmap* draw_list;                // owned by painting
  chart_ta* next;
  // The data box of an indicator under the hovering pointer (painting's).
  int32_t box_x, box_y, box_w, box_h;
  int32_t box_shown;
};

// A day of intraday data laid side by side with the others.
struct chart_day {
  ss_time date;
  ss_time first, last;  // times of the day's first and last data
  int64_t offset;       // seconds of the earlier days before this one
  int64_t length;       // seconds from first to last
};

struct chart_plot {
  cstyle* style;
  tools* panel;
  instr* main;
  instr* second;
  ss_issuer* issuer;
  ss_time fallback_from, fallback_to;
  int32_t eod;  // 1 daily history data, 0 intraday data
  int32_t range, range_count;
  ss_time from, mid, to;
  int32_t from_type, mid_type, to_type;
  int32_t period, period_count;
  int32_t eff_period, eff_count;
  int32_t scale;
  uint32_t background;
  int32_t count;     // samples
  int32_t capacity;  // length of every sample array
  int32_t first_visible, last_visible;
  struct {
    ss_time from, to;
    int32_t from_px, to_px;
  } marked;
  struct {
    ss_time time;
    int32_t index;
  } cursor;
  uint32_t* xpos;
  uint32_t* bar_width;
  double value_low, value_high;  // the price pane's range
  int32_t type;                  // chart type
  ss_time* times;
  double* open;
  double* high;
  double* low;
  double* close;
  double* change;
  double* volume;
  int32_t pane_x, pane_y, pane_w, pane_h;
  int32_t zero_y;
  uint32_t* y_open;
  uint32_t* y_high;
  uint32_t* y_low;
  uint32_t* y_close;
  int32_t overlay_count;
  chart_ta* overlays;
  int32_t news;  // a News overlay is present
  int32_t indicator_count;
  chart_ta* indicators;
  uint32_t options;
  int32_t plot_x, plot_y, plot_w, plot_h;
  int32_t axis_y, axis_h;
  void* controlled;
  int32_t day_count;
  chart_day days[kChartMaxDays];
  chart_plot* live_prev;
  chart_plot* live_next;
  // Chart update's state (src/charts/update).
  void* widget;                 // the chart widget that owns the block, for its hooks
  uint32_t dirty;               // kChartDirty* bits: what changed since the last update
  int32_t changed;              // the last update found something changed
  int32_t chart_x, chart_y, chart_w, chart_h;  // the widget's rectangle
  int32_t indicators_above;     // indicator panes above the price pane
  float live_refreshed;         // UI seconds of the last live refresh
  ss_time start;                // first day the intraday data is wanted from
  int32_t want_bars;            // intraday days read as bars
  ss_time first_day;            // date of the first visible sample after the last update
  instr* days_for;              // index and exchange date whose past days were requested
  ss_time days_date;
  chart_view* view;  // hover, selection and axis lists; null paints none
};

// Dirty bits of chart_plot::dirty.
constexpr uint32_t kChartDirtyReload = 0x1;
constexpr uint32_t kChartDirtyClock = 0x2;
constexpr uint32_t kChartDirtyRefill = 0x4;
constexpr uint32_t kChartDirtySettings = 0x8;
constexpr uint32_t kChartDirtyMarks = 0x80;
constexpr uint32_t kChartDirtyAll = 0xFFFF;

int alloc_init(void);
void alloc_fini(void);
// Room for n samples; 0, or -1 after an ERROR line (the chart then has none).
int alloc_chart_values(chart_plot* plot, int32_t n);
void alloc_check_points(chart_plot* plot, int32_t n);
void alloc_dump(chart_plot* plot);
// Work array of slot 0..4 with room for n doubles, kept between calls; null
// after an ERROR line.
double* alloc_work_values(int32_t slot, int32_t n);
void alloc_free_values(chart_plot* plot);
// A zeroed instance with the registry's default parameters, appended; null
// when the pool is exhausted or the id is not defined.
chart_ta* alloc_add_overlay(chart_plot* plot, int32_t type);
chart_ta* alloc_add_indicator(chart_plot* plot, int32_t type);
int alloc_remove_overlay(chart_plot* plot, chart_ta* ta);
int alloc_remove_indicator(chart_plot* plot, chart_ta* ta);
void alloc_clear_overlays(chart_plot* plot);
void alloc_clear_indicators(chart_plot* plot);

// Fills from an instrument's data; each sets plot->count.
void chart_fill_bars(chart_plot* plot, ss_stock* stock);
void chart_fill_index_bars(chart_plot* plot, ss_index* index);
void chart_fill_ticks(chart_plot* plot, instr* in);
void chart_fill_line(chart_plot* plot, instr* in);
