// The minibar along the bottom of a screen (with its mini desktop) and the keypad, the typed-command overlay.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

widget *minibar_new(widget *screen);
void minibar_refresh(widget *mb);
int32_t minibar_refreshes(widget *mb);
widget *keypad_new(widget *screen);
bool keypad_visible(widget *kp);
