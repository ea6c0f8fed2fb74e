// The chart holders of the window frame: a bin whose one child is a chart
// preset for a stock's (tradechart) or an index's (indexchart) intraday
// course. Main thread only.
#pragma once

#include "windows/content.h"
#include "windows/nuchart.h"

constexpr uint32_t kHolderChartOptions = 0x200083;
constexpr uint32_t kIndexchartFrame = 0xFF19190F;

struct chartholder : content {
  nuchart *chart;
};

typeid_t tradechart_type();
typeid_t indexchart_type();
widget *tradechart_new(widget *parent);
widget *indexchart_new(widget *parent);
// Binds the stock (or none) as the chart's instrument and redraws.
void tradechart_set_stock(widget *holder, instr *stock);
// Binds the index (or none) as the chart's comparison instrument.
void indexchart_set_index(widget *holder, instr *index);
inline nuchart *chartholder_chart(widget *holder) { return static_cast<chartholder *>(holder)->chart; }

// The shared shape: the class of a holder by name; a new holder with its
// chart child and the preset's first steps (range, period, type); the last
// steps (options, times).
typeid_t chartholder_register(const char *name);
chartholder *chartholder_new(widget *parent, typeid_t type, const char *name);
void chartholder_finish_preset(chartholder *h);
