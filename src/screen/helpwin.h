// The help window of a screen.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the help window comes with its own issue.
#pragma once

#include "ui/widget.h"

widget *helpwin_new(widget *screen);
void helpwin_set_topic(widget *hw, int topic);
