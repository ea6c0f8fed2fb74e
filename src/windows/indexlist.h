// The index list: the indices of the chosen exchanges in a grid of mode 3.
// Exchange 2 (the global one) can always be included; the others need the
// user's permission. Main thread only.
#pragma once

#include "windows/watchlist.h"

struct indexlist : watchlist {
  int exchange[4];        // included exchanges
  uint32_t index_filter;  // 7
  uint32_t order;         // 1
  uint32_t reversed;      // 0
  uint32_t rebuilt;       // rebuilds made
};

typeid_t indexlist_type();
indexlist *indexlist_cast(widget *w);
void indexlist_rebuild(indexlist *l);
void indexlist_set_exchange_shown(indexlist *l, int n, int on);
int indexlist_get_exchange_shown(const indexlist *l, int n);
void indexlist_hide_exchange(indexlist *l, int n);
void indexlist_include_exchange(indexlist *l, int n);
void indexlist_clear_exchanges(indexlist *l);
void indexlist_show_all_exchanges(indexlist *l, int on);
void indexlist_set_index_filter(indexlist *l, uint32_t v);
void indexlist_set_filter_bits(indexlist *l, uint32_t bits, int on);
void indexlist_set_order(indexlist *l, uint32_t v);
void indexlist_set_reversed(indexlist *l, uint32_t v);
uint32_t indexlist_get_index_filter(const indexlist *l);
uint32_t indexlist_get_order(const indexlist *l);
uint32_t indexlist_get_reversed(const indexlist *l);
uint32_t indexlist_rebuilds(const indexlist *l);
void indexlist_export(indexlist *l);
