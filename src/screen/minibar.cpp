// The minibar along the bottom of a screen (with its mini desktop) and the keypad, the typed-command overlay.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "screen/minibar.h"

#include "screen/placeholder.h"

widget *minibar_new(widget *screen) {
  return placeholder_new(screen, "minibar", {100, 24}, 0xff800080u);
}
void minibar_refresh(widget *mb) { static_cast<placeholder *>(mb)->state[0]++; }
int32_t minibar_refreshes(widget *mb) { return static_cast<placeholder *>(mb)->state[0]; }
widget *keypad_new(widget *screen) {
  return placeholder_new(screen, "keypad", {200, 40}, 0xff404040u);
}
bool keypad_visible(widget *kp) { return kp && (kp->flags & WIDGET_SHOWN); }
