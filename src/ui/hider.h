// The hider: a bin that shows or hides its one child, keeping the child's
// space while hidden or giving it up. Main thread only.
#pragma once

#include <cstdint>

#include "ui/container.h"

struct hider : bin {
  int32_t hidden;      // 1 at creation
  int32_t keep_space;  // request the child's size even while hidden
  int32_t fill;        // 1: the child gets the whole rect; 0: its own size
};

typeid_t hider_type();
hider *hider_new(widget *parent, int keep_space);
void hider_set_hidden(hider *h, int on);
int hider_is_hidden(hider *h);
void hider_set_fill(hider *h, int on);
