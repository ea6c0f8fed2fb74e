// The screen's two toolbars (left and right) and the window bar shown while a screen is maximised.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

constexpr int32_t kToolbarWidth = 48;
// side 0 left, 1 right.
widget *toolbar_new(widget *screen, int side);
void toolbar_update(widget *tb);
void toolbar_update_logout(widget *tb);
void toolbar_open(widget *tb);   // a drag began
void toolbar_close(widget *tb);  // the drag ended
widget *toolbar_remove_button(widget *tb);
// How many updates a toolbar was asked for (checks of the backstop).
int32_t toolbar_updates(widget *tb);
widget *winbar_new(widget *screen);
void winbar_set_maximised(widget *wb, int on);
int winbar_maximised(widget *wb);
