// The tickbar: the alerts ticker and four market tickers across the top of a screen.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/tickbar.h"

#include "screen/placeholder.h"

widget *tickbar_new(widget *screen) {
  placeholder *p = placeholder_new(screen, "tickbar", {100, 20}, 0xff008000u);
  if (p) p->state[1] = TICKER_SHOW;  // market ticker 0
  return p;
}
int32_t tickbar_ticker_show(widget *tb, int i) {
  return i >= 0 && i < kTickers ? static_cast<placeholder *>(tb)->state[i] : TICKER_HIDE;
}
void tickbar_set_ticker_show(widget *tb, int i, int32_t state) {
  if (i >= 0 && i < kTickers) static_cast<placeholder *>(tb)->state[i] = state;
}
bool tickbar_any_visible(widget *tb) {
  for (int i = 0; i < kTickers; i++)
    if (tickbar_ticker_show(tb, i) != TICKER_HIDE) return true;
  return false;
}
bool tickbar_moving(widget *) { return false; }
void tickbar_step(widget *tb) { static_cast<placeholder *>(tb)->state[6]++; }
