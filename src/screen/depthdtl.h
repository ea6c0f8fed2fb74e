// The depth detail popup.
//
// Minimal version: a placeholder of the real type name and size (see
// screen/placeholder.h); the module itself comes with its own issue.
#pragma once

#include <cstdint>

#include "ui/widget.h"

widget *depthdtl_new(widget *screen);
