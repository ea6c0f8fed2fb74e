// The rectangle every layer shares: drawing, widgets and windows.
#pragma once

#include <cstdint>

// A rectangle in window pixels, origin top left, y growing downward.
struct rect {
  int32_t x, y, w, h;
};
