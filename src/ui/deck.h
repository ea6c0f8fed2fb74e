// The deck: a box that shows one of its children at a time (pages). Every
// page is laid over the deck's whole rect; only the current one is shown.
// Main thread only.
#pragma once

#include <cstdint>

#include "ui/box.h"

struct deck : box {
  int32_t current;      // index of the current page, -1 none
  int32_t fit_current;  // 1: request the current page's size; 0: the largest page's
};

typeid_t deck_type();
deck *deck_new(widget *parent);
// Sets the background colour (0 none); redraws when it changes.
void deck_set_bg(deck *d, uint32_t colour);
// Hides the current page and shows page i (when the deck is shown). 0, or
// -1 unless 0 <= i < the number of children.
int deck_show_page(deck *d, int i);
// The index of the current page, -1 when none.
int deck_current_page(deck *d);
