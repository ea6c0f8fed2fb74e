// The marking table of the model: 24989 bucket heads and a pool of chained
// items. No operation adds marks in this build, so the table stays empty; it
// is still built and torn down properly so a chained item is never leaked
// once marks exist.

#include "mmark.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "pool.h"

static const char kSrc[] = "src/mmark";

namespace {

// The chain link is the third field; the first two are free for the mark.
struct mmark_item {
  void* key;
  void* value;
  mmark_item* next;
};
static_assert(sizeof(mmark_item) == 24, "mark items are 24 bytes");

struct mmark_state {
  mmark_item** buckets;  // kMmarkBuckets heads, null when not initialised
  pool items;
};

mmark_state st;

}  // namespace

int mmark_init(void) {
  if (st.buckets) return 0;
  // dalloc ends the process rather than fail, so the table always comes.
  st.buckets = (mmark_item**)dalloc_alloc((int32_t)(kMmarkBuckets * sizeof(mmark_item*)));
  memset(st.buckets, 0, kMmarkBuckets * sizeof(mmark_item*));
  if (pool_init(&st.items, kMmarkItemsPerPage, (int32_t)sizeof(mmark_item)) != 0) {
    log(LOG_ERROR, kSrc, "can't alloc mmark pool");
    dalloc_free(st.buckets);
    st.buckets = nullptr;
    return -1;
  }
  return 0;
}

void mmark_fini(void) {
  if (!st.buckets) return;
  for (int b = 0; b < kMmarkBuckets; b++) {
    mmark_item* it = st.buckets[b];
    while (it) {
      mmark_item* next = it->next;
      pool_free(&st.items, it);
      it = next;
    }
  }
  dalloc_free(st.buckets);
  st.buckets = nullptr;
  pool_destroy(&st.items);
}
