// The charts' view of a stored day's intraday bars.
//
// Minimal version: the model's history records, which will hold the bars of
// each stored day, are built later; until then a day has bars only when a
// reader is installed (the tests install one over records they make).
#include "charts/history.h"

static struct { const chart_bar* (*reader)(const ss_day*, int32_t*); } g;

const chart_bar* history_day_bars(const ss_day* day, int32_t* count) {
  *count = 0;
  if (!g.reader || !day) return nullptr;
  const chart_bar* bars = g.reader(day, count);
  if (!bars) *count = 0;
  return bars;
}

void history_set_day_bars_reader(const chart_bar* (*fn)(const ss_day*, int32_t*)) { g.reader = fn; }
