// The chart's value axis: horizontal grid lines and value labels on the
// price pane and every indicator pane. Runs at the end of every chart update,
// on the UI thread.
#pragma once
#include <cstdint>

#include "charts/axislist.h"

struct chart_plot;

constexpr int32_t kYaxisRows = 60;
constexpr double kYaxisMaxRange = 1e11;

// One row of the step table (row 0 the largest step).
struct yaxis_row {
  double step;
  int32_t per_major;  // steps from one major line to the next
  int32_t decimals;
  int32_t magnitude;  // 9, 6, 3 or 1
};
const yaxis_row* yaxis_step_row(int32_t row);
// The first row whose step is not above r / n (59 when none; 0 for n <= 0).
int32_t yaxis_pick_row(double r, int32_t n);

// Restarts axes->value and lays out every pane at least 10 pixels high;
// clears the lists and sets the decimals to 0 when the chart has no samples
// or no main range. Always 0.
int yaxis_compute(chart_plot* plot, chart_axes* axes);
// One pane: label kind 0 the price pane (ticks off the instrument's price
// steps left out), 1 percent, others as the indicator's labels.
void yaxis_ticks(chart_plot* plot, chart_axes* axes, int32_t px, int32_t py, int32_t pw, int32_t ph,
                 int32_t label_kind, double min, double max);
