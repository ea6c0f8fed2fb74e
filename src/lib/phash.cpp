// The instrument hash kept ready at start: an item pool of 24-byte entries
// and a sort array of 124 entries. Nothing reads or fills it yet; it only
// holds its memory between the start and stop of the application, so a
// later user finds the pool and array made.
#include "lib/phash.h"

#include <cstdlib>

#include "log.h"
#include "pool.h"

static const char kSrc[] = "src/lib/phash";

namespace {

struct {
  pool items;
  int items_ready;
  void *sort;
  int32_t capacity;
} S;

}  // namespace

int phash_init(void) {
  if (pool_init(&S.items, kPhashItemsPerPage, kPhashItemSize) < 0) return -1;
  S.items_ready = 1;
  S.sort = calloc(kPhashSortEntries, kPhashItemSize);
  if (!S.sort) {
    log(LOG_ERROR, kSrc, "can't alloc phash sort");
    pool_destroy(&S.items);
    S.items_ready = 0;
    return -1;
  }
  S.capacity = kPhashSortEntries;
  return 0;
}

void phash_fini(void) {
  if (S.items_ready) pool_destroy(&S.items);
  S.items_ready = 0;
  free(S.sort);
  S.sort = nullptr;
  S.capacity = 0;
}

int32_t phash_capacity(void) { return S.capacity; }
