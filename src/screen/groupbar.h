// The group bar: a floating bar of a window group.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

widget *groupbar_new(widget *screen);
