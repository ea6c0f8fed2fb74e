// The intraday bars of a stored past day, as the chart fills and the VWAP
// read them. The model's history records own them.
#pragma once
#include <cstdint>

#include "sstime.h"

struct ss_day;

// One intraday bar; prices in the model's units, the volume last.
struct chart_bar {
  ss_time time;
  uint32_t open, high, low, close;
  uint64_t volume;
};

// The bars of a day (oldest first) and their count, or null with *count 0
// when the day has none.
const chart_bar* history_day_bars(const ss_day* day, int32_t* count);
// Installs the reader of the day records; null puts back the empty one.
void history_set_day_bars_reader(const chart_bar* (*fn)(const ss_day* day, int32_t* count));
