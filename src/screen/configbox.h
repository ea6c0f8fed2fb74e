// The configuration box (login and logout pages, settings) and the help window of a screen.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

widget *configbox_new(widget *screen);
// 0 the login page, 1 the logout page.
void configbox_set_page(widget *cb, int page);
int configbox_page(widget *cb);
widget *helpwin_new(widget *screen);
void helpwin_set_topic(widget *hw, int topic);
