// The screen's two toolbars (left and right) and the window bar shown while a screen is maximised.
// Minimal version: a fixed-size placeholder filled with one colour, so the
// screen's layout, stacking, hit tests and pixels can be checked.
#include "tools/toolbar.h"

#include "screen/placeholder.h"

widget *toolbar_new(widget *screen, int side) {
  return placeholder_new(screen, "toolbar", {kToolbarWidth, 100},
                         side ? 0xff806040u : 0xff406080u);
}
void toolbar_update(widget *tb) { static_cast<placeholder *>(tb)->state[0]++; }
void toolbar_update_logout(widget *tb) { static_cast<placeholder *>(tb)->state[1]++; }
void toolbar_open(widget *tb) { static_cast<placeholder *>(tb)->state[2] = 1; }
void toolbar_close(widget *tb) { static_cast<placeholder *>(tb)->state[2] = 0; }
widget *toolbar_remove_button(widget *) { return nullptr; }
int32_t toolbar_updates(widget *tb) { return static_cast<placeholder *>(tb)->state[0]; }
widget *winbar_new(widget *screen) {
  return placeholder_new(screen, "winbar", {120, 20}, 0xff00c0c0u);
}
void winbar_set_maximised(widget *wb, int on) { static_cast<placeholder *>(wb)->state[0] = on; }
int winbar_maximised(widget *wb) { return static_cast<placeholder *>(wb)->state[0]; }
