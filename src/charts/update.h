// Chart update: a chart's settings and the market-data model made into a
// ready-to-paint data block (data requested once, filled, scaled, bucketed,
// laid out, placed on the time axis, computed, ranged, both axes built); and
// the live list, which keeps the charts whose end is "now" moving with the
// clock. User-interface thread only, with the model's core lock held.
#pragma once
#include <cstdint>

#include "sstime.h"

struct chart_plot;
struct chart_axes;
struct instr;
struct ss_exchange;

constexpr int64_t kUpdateLiveTickMs = 100;
constexpr uint32_t kUpdateWatchMask = 0x17b000;  // trades, cancels, backfills, history, ticks
constexpr uint32_t kUpdateOptTimeLabels = 0x1;
constexpr uint32_t kUpdateOptValueLabels = 0x2;
constexpr int32_t kUpdateScalePercent = 9;
constexpr int32_t kUpdateScaleCumulative = 10;
constexpr int32_t kUpdateVolumeOverlay = 9;
constexpr int32_t kUpdatePricePerformance = 1;

// What the update needs of the chart widget, its window, the desktops and
// the chart tool panel, which sit above the charts' data side. Every field
// may be null: the default does nothing (a chart is not shown, has no panel
// and no window). The widget fills the table when its class is set up.
struct update_hooks {
  int (*shown)(chart_plot* plot);    // the chart widget is shown
  void (*redraw)(chart_plot* plot);  // queue the widget's redraw
  int (*desktop_changing)(void);
  void (*request_relayout)(void);
  int (*has_panel)(chart_plot* plot);               // the chart belongs to a chart tool panel
  void (*set_eod)(chart_plot* plot, int eod);       // the panel learns the end-of-day flag
  void (*set_marker)(chart_plot* plot, ss_time from, ss_time to);  // the panel's overview chart
  void (*refresh_panel)(chart_plot* plot);          // the panel refreshes later
  void* (*title_window)(chart_plot* plot);          // the shown window to retitle, or null
  void (*update_title)(void* window);
  float (*now_seconds)(void);                       // the UI clock (default gui_time_seconds)
  ss_time (*exchange_now)(const ss_exchange* ex);   // default the exchange's clamped now
};
void update_set_hooks(const update_hooks* hooks);  // null: the defaults

// 0, or -1 when the chart can't be updated (no instrument, no size, an
// instrument neither a stock nor an index, range kind 0, or no arrays).
// axes may be null: the axes are then not built.
int chart_update(chart_plot* plot, chart_axes* axes);
// Span in days by the range kind (-1 for kind 0 or an unknown kind).
int32_t update_span_days(chart_plot* plot);
// The panes: label cell, plot rectangle, price pane, indicator panes.
void update_layout(chart_plot* plot, chart_axes* axes);
// The value ranges of the main pane, every overlay and indicator.
void update_ranges(chart_plot* plot);

// The live list.
void update_live_init(void);
void update_live_stop(void);
int update_live_add(chart_plot* plot);     // -1 when already on the list
int update_live_remove(chart_plot* plot);  // -1 when not on it
int update_live_count(void);
int update_live_tick(void* arg, uint32_t n, int64_t elapsed_ms, float elapsed_seconds);
int32_t update_live_timer(void);  // -1 when none runs

// Model changes: the chart is marked for a reload and redrawn when shown.
int update_watch(chart_plot* plot, instr* in);
int update_unwatch(chart_plot* plot, instr* in);
// The queued title refresh of a window.
void update_refresh_window(void* window, int n);
