// The charts' view of a stored day's intraday bars: the minute bars the
// trade reader folded a past day's trades into, kept on the model's day
// record (ss_day::bars) and read in place, oldest first.
#include "charts/history.h"

#include "ssmodel.h"

namespace {

const chart_bar* model_bars(const ss_day* day, int32_t* count) {
  const ss_day_bars* b = day->bars;
  if (!b || b->count == 0) return nullptr;
  *count = int32_t(b->count < kTradeBarsMax ? b->count : kTradeBarsMax);
  return b->bars;
}

struct {
  const chart_bar* (*reader)(const ss_day*, int32_t*) = model_bars;
} g;

}  // namespace

const chart_bar* history_day_bars(const ss_day* day, int32_t* count) {
  *count = 0;
  if (!day) return nullptr;
  const chart_bar* bars = g.reader(day, count);
  if (!bars) *count = 0;
  return bars;
}

void history_set_day_bars_reader(const chart_bar* (*fn)(const ss_day*, int32_t*)) {
  g.reader = fn ? fn : model_bars;
}
