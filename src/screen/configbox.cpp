// The configuration box (login and logout pages, settings) and the help window of a screen.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/configbox.h"

#include "screen/placeholder.h"

widget *configbox_new(widget *screen) {
  return placeholder_new(screen, "configbox", {400, 300}, 0xffc0c0c0u);
}
void configbox_set_page(widget *cb, int page) { static_cast<placeholder *>(cb)->state[0] = page; }
int configbox_page(widget *cb) { return static_cast<placeholder *>(cb)->state[0]; }
widget *helpwin_new(widget *screen) {
  return placeholder_new(screen, "helpwin", {400, 300}, 0xffe0e0a0u);
}
void helpwin_set_topic(widget *hw, int topic) { static_cast<placeholder *>(hw)->state[0] = topic; }
