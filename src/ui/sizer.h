// The sizer: a bin that gives its one child a fixed size, a height
// proportional to its width, padding and alignment. The hbox and vbox read
// its flags and fixed size to find their expanding children. Main thread.
#pragma once

#include <cstdint>

#include "ui/container.h"

// Sizer flags. Without 2 or 4 the child sits at the left, without 0x20 or
// 0x40 at the top.
enum : uint32_t {
  SIZER_CENTRE_H = 0x2,
  SIZER_RIGHT = 0x4,
  SIZER_FILL_W = 0x8,  // also what makes a sizer expand in an hbox
  SIZER_CENTRE_V = 0x20,
  SIZER_BOTTOM = 0x40,
  SIZER_FILL_H = 0x80,
  SIZER_EXPAND_V = 0x80000000u,  // expands in a vbox; full height in an hbox
};

struct sizer : bin {
  uint32_t flags;
  int32_t width, height;  // fixed size; 0 = the child's
  padding pad;
  float scale;  // values not above 0 become 1.0
};

typeid_t sizer_type();
// A sizer in parent; a null fixed size or padding means none.
sizer *sizer_new(widget *parent, uint32_t flags, const size *fixed, const padding *pad,
                 float scale);
