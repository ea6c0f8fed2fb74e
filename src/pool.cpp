// Fixed-size item pools for records that are made and dropped often. Items
// come from anonymous page mappings and freed ones are kept on an intrusive
// free list (the first pointer-sized word of a free item links to the next),
// so a pool allocation or free is one pointer pop or push with no heap call
// and no per-item header. A new page is not carved into a list: its items are
// handed out in address order from a cursor, so nothing touches an item
// before its owner does (a carve would write every item's line once, long
// before the item is taken, and the read of its link would miss again).
// Memory goes back to the system only in pool_destroy.
// Page sizes are computed in 64 bits and a pool whose page would not fit in
// 2 GB is refused at init rather than wrapping.

#include "pool.h"

#include <cstring>
#include <sys/mman.h>

#include "dalloc.h"
#include "log.h"

// Under AddressSanitizer the leak checker scans the heap, stacks and globals
// but not anonymous mappings, so records that live only in pool pages (and
// heap blocks that only they point to, such as frees still waiting in the
// deferred queue) would be reported as leaked. Each page is registered as a
// root region while it is mapped.
#if defined(__SANITIZE_ADDRESS__)
#define POOL_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_LSAN 1
#endif
#endif
#ifdef POOL_LSAN
#include <sanitizer/lsan_interface.h>
#define POOL_PAGE_MAPPED(p, n) __lsan_register_root_region((p), (n))
#define POOL_PAGE_UNMAPPED(p, n) __lsan_unregister_root_region((p), (n))
#else
#define POOL_PAGE_MAPPED(p, n) ((void)(p), (void)(n))
#define POOL_PAGE_UNMAPPED(p, n) ((void)(p), (void)(n))
#endif

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
  p->fresh = p->fresh_end = nullptr;
  return 0;
}

void* pool_alloc(pool* p) {
  if (void* item = p->free_head) {
    p->free_head = get_link(item);
    // Freed items go back in whatever order their owners drop them, so the
    // next one is often far from this one and cold; fetching it now overlaps
    // that miss with the caller's work instead of stalling the next
    // allocation. A prefetch never faults, so a null head is fine.
    __builtin_prefetch(p->free_head, 1);
    return item;
  }
  if (p->fresh == p->fresh_end) {
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
    POOL_PAGE_MAPPED(page, bytes);
    set_link(page, p->pages);
    p->pages = page;
    p->fresh = (char*)page + kPageLinkSize;
    p->fresh_end = p->fresh + (int64_t)p->items_per_page * p->item_size;
  }
  void* item = p->fresh;
  p->fresh += p->item_size;
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
    POOL_PAGE_UNMAPPED(page, bytes);
    munmap(page, bytes);
    page = next;
  }
  p->pages = nullptr;
  p->free_head = nullptr;
  p->fresh = p->fresh_end = nullptr;
}
