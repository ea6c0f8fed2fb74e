// Fixed-size item pools for records that are made and dropped often. Items
// are carved from anonymous page mappings and kept on an intrusive free list
// (the first pointer-sized word of a free item links to the next), so a pool
// allocation or free is one pointer pop or push with no heap call and no
// per-item header. Memory goes back to the system only in pool_destroy.
// Page sizes are computed in 64 bits and a pool whose page would not fit in
// 2 GB is refused at init rather than wrapping.

#include "pool.h"

#include <cstring>
#include <sys/mman.h>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/pool";

namespace {

constexpr int64_t kPageLinkSize = 8;  // each page starts with the next-page link
constexpr int64_t kMaxPageBytes = INT32_MAX;

static_assert(sizeof(void*) <= kPageLinkSize, "the page link must fit its header");

// Links are read and written with memcpy: an item size that is not a multiple
// of the pointer size leaves items unaligned.
void* get_link(const void* at) {
  void* next;
  memcpy(&next, at, sizeof next);
  return next;
}

void set_link(void* at, void* next) { memcpy(at, &next, sizeof next); }

// The mapping size of one page: items and the link, rounded to whole pages.
int64_t page_bytes(int64_t items, int64_t size) {
  int64_t raw = items * size + kPageLinkSize;
  int64_t page = dalloc_page_size();
  return (raw + page - 1) / page * page;
}

}  // namespace

int pool_init(pool* p, int32_t items_per_page, int32_t item_size) {
  if (item_size < (int32_t)sizeof(void*)) {
    log(LOG_ERROR, kSrc, "%d is less than pointer size", item_size);
    return -1;
  }
  if (items_per_page < 0 || page_bytes(items_per_page, item_size) > kMaxPageBytes) {
    log(LOG_ERROR, kSrc, "%dx%db items won't fit a pool page", items_per_page, item_size);
    return -1;
  }
  // The slack left by rounding the page up becomes extra items.
  int64_t bytes = page_bytes(items_per_page, item_size);
  p->items_per_page = (int32_t)((bytes - kPageLinkSize) / item_size);
  p->item_size = item_size;
  p->free_head = nullptr;
  p->pages = nullptr;
  return 0;
}

void* pool_alloc(pool* p) {
  while (!p->free_head) {
    if (p->items_per_page < 1) {
      log(LOG_ERROR, kSrc, "%d members?", p->items_per_page);
      return nullptr;
    }
    size_t bytes = (size_t)page_bytes(p->items_per_page, p->item_size);
    void* page = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) {
      log(LOG_ERROR, kSrc, "can't alloc %dx%db item pool", p->items_per_page, p->item_size);
      return nullptr;
    }
    // Items are linked in address order, the last to the old head.
    char* first = (char*)page + kPageLinkSize;
    for (int32_t i = 0; i < p->items_per_page; i++) {
      char* item = first + (int64_t)i * p->item_size;
      set_link(item, i + 1 < p->items_per_page ? item + p->item_size : p->free_head);
    }
    p->free_head = first;
    set_link(page, p->pages);
    p->pages = page;
  }
  void* item = p->free_head;
  p->free_head = get_link(item);
  return item;
}

void pool_free(pool* p, void* item) {
  // No check: a double free or a foreign item is the caller's fault.
  set_link(item, p->free_head);
  p->free_head = item;
}

void pool_destroy(pool* p) {
  size_t bytes = p->items_per_page > 0 ? (size_t)page_bytes(p->items_per_page, p->item_size) : 0;
  void* page = p->pages;
  while (page) {
    void* next = get_link(page);
    munmap(page, bytes);
    page = next;
  }
  p->pages = nullptr;
  p->free_head = nullptr;
}
