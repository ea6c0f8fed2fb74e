// Placeholders for the children a screen owns whose own modules come later
// (toolbars, bars, popups, the configuration box): a leaf widget of a given
// type name that asks for a fixed size and fills its rectangle with one
// colour, so layout, stacking, hit tests and pixels can be checked.
#pragma once

#include <cstdint>

#include "ui/container.h"

struct placeholder : bin {
  size req;
  uint32_t fill;     // 0 draws nothing
  int32_t state[8];  // small per-kind state (a tickbar's ticker show states)
};

// A placeholder of class `type_name` (registered under that name on first
// use, as a subclass of "bin"), in parent when given.
placeholder *placeholder_new(widget *parent, const char *type_name, size req, uint32_t fill);
bool placeholder_is(const widget *w);
