// Test support for chart update: the settings of a chart as its style would
// write them, on a chart of a given size.
#pragma once
#include <cstdint>

#include "charts/align.h"
#include "charts/alloc.h"

// A candlestick chart of `in` with time and value labels; no span ends but
// the last one; the period also the effective one.
inline void chart_settings(chart_plot* p, instr* in, int32_t range, int32_t count, int32_t period, int32_t to_type,
                           int32_t width = 400, int32_t height = 300) {
  p->main = in;
  p->range = range;
  p->range_count = count;
  p->period = p->eff_period = period;
  p->period_count = p->eff_count = 1;
  p->from_type = p->mid_type = -1;
  p->to_type = to_type;
  p->type = 4;
  p->options = 0x3;
  p->chart_w = width;
  p->chart_h = height;
}
