// The help window of a screen.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/helpwin.h"

#include "screen/placeholder.h"

widget *helpwin_new(widget *screen) {
  return placeholder_new(screen, "helpwin", {400, 300}, 0xffe0e0a0u);
}
void helpwin_set_topic(widget *hw, int topic) { static_cast<placeholder *>(hw)->state[0] = topic; }
