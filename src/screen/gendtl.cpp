// The general detail popup.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/gendtl.h"

#include "screen/placeholder.h"

widget *gendtl_new(widget *screen) {
  return placeholder_new(screen, "gendtl", {200, 100}, 0xff303060u);
}
