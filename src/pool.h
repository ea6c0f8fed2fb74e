// Fixed-size item pools carved from anonymous page mappings.
#pragma once
#include <cstdint>

struct pool {
  int32_t items_per_page;
  int32_t item_size;
  void* free_head;  // each free item holds the next free item in its first word
  void* pages;      // each page starts with the link to the next page
  char* fresh;      // the newest page's items never handed out, from here
  char* fresh_end;  // to here
};

// Sets up an empty pool (nothing mapped yet). The page is rounded up to whole
// system pages and the slack becomes extra items, so p->items_per_page may
// exceed the request. -1 after an ERROR line for an item size below 8 or a
// page that would not fit in 2 GB.
int pool_init(pool* p, int32_t items_per_page, int32_t item_size);
void* pool_alloc(pool* p);  // null on failure, after an ERROR line
void pool_free(pool* p, void* item);  // no checks: the item must be p's
void pool_destroy(pool* p);  // unmaps every page; the pool can be used again
