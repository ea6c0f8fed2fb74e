// The two geometry records shared by the drawing library and the toolkit:
// a rectangle in window pixels (origin at the top left, y growing downward)
// and a width/height pair.
#pragma once

#include <cstdint>

struct rect {
  int32_t x, y, w, h;
};

struct size {
  int32_t w, h;
};
