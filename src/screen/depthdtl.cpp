// The depth detail popup.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/depthdtl.h"

#include "screen/placeholder.h"

widget *depthdtl_new(widget *screen) {
  return placeholder_new(screen, "depthdtl", {200, 100}, 0xff603030u);
}
