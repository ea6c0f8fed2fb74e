// The group bar: a floating bar of a window group.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/groupbar.h"

#include "screen/placeholder.h"

widget *groupbar_new(widget *screen) {
  return placeholder_new(screen, "groupbar", {300, 30}, 0xff606000u);
}
