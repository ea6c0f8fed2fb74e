// The instrument hash of the quick slots and small tables: an item pool
// and a sort array made at start and freed at stop.
#pragma once
#include <cstdint>

constexpr int32_t kPhashItemSize = 24;
constexpr int32_t kPhashItemsPerPage = 100;
constexpr int32_t kPhashSortEntries = 124;

int phash_init(void);  // 0; -1 when the pool or the sort array can't be made
void phash_fini(void);
int32_t phash_capacity(void);  // the sort array's entries; 0 when stopped
