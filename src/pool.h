// Fixed-size item pools carved from anonymous page mappings.
#pragma once
#include <cstdint>

struct pool {
  int32_t items_per_page;
  int32_t item_size;
  void* free_head;  // each free item holds the next free item in its first word
  void* pages;      // each page starts with the link to the next page
};

int pool_init(pool* p, int32_t items_per_page, int32_t item_size);
void* pool_alloc(pool* p);  // null on failure, after an ERROR line
void pool_free(pool* p, void* item);
void pool_destroy(pool* p);
