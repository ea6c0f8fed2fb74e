// The intraday bars of a stored past day, as the chart fills and the VWAP
// read them. The model's day records own them.
#pragma once
#include <cstdint>

#include "dectrades.h"
#include "sstime.h"

struct ss_day;

// One intraday bar as the model keeps it (the trade reader's minute bar):
// time, open, high, low, close in the model's units, then the volume.
using chart_bar = ss_day_bar;

// The bars of a day (oldest first) and their count, or null with *count 0
// when the day has none.
const chart_bar* history_day_bars(const ss_day* day, int32_t* count);
// Installs another reader of the day records (tests); null puts back the
// model's own, which reads the day's minute-bar record.
void history_set_day_bars_reader(const chart_bar* (*fn)(const ss_day* day, int32_t* count));
