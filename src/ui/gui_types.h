// Plain pixel geometry shared by the gui core and its platform layer: a
// rectangle and a size in 32-bit integer pixels with a top-left origin.
#pragma once
#include <cstdint>

#ifndef AMBIT_RECT_DEFINED
#define AMBIT_RECT_DEFINED
struct rect {
  int32_t x, y, w, h;
};
struct size {
  int32_t w, h;
};
#endif
