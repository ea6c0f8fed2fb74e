// The watch bar: mini quotes across the top of a screen.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/watchbar.h"

#include "screen/placeholder.h"

widget *watchbar_new(widget *screen) {
  return placeholder_new(screen, "watchbar", {100, 24}, 0xff008080u);
}
