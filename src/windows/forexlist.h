// The forex list: every currency pair of the four exchanges in a grid of
// mode 3, ordered by one of the scan's orders. Main thread only.
#pragma once

#include "windows/watchlist.h"

struct forexlist : watchlist {
  uint32_t index_filter;  // 7
  uint32_t order;         // 1
  uint32_t reversed;      // 0
};

typeid_t forexlist_type();
forexlist *forexlist_cast(widget *w);
// Builds the list's scan again and binds the grid to it.
void forexlist_rebuild(forexlist *f);
void forexlist_set_index_filter(forexlist *f, uint32_t v);
void forexlist_set_order(forexlist *f, uint32_t v);
void forexlist_set_reversed(forexlist *f, uint32_t v);
uint32_t forexlist_get_index_filter(const forexlist *f);
uint32_t forexlist_get_order(const forexlist *f);
uint32_t forexlist_get_reversed(const forexlist *f);
void forexlist_export(forexlist *f);
