// Large-buffer slots: each buffer is one allocation holding its header and its
// total size of data, kept in one list, newest first. The sizes come from the
// server, so they are checked in 64 bits before anything is allocated or
// copied: a negative size, or one that would pass the allocator's largest
// block, is refused.
#include "bigdata.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/bigdata";

// The largest block the allocator hands out.
constexpr int64_t kMaxBlock = kDallocMax;

namespace {

struct bigdata {
  int32_t id;
  int32_t total;
  int32_t filled;
  uint8_t* data;  // the bytes right after this header
  bigdata* next;
};

}  // namespace

static struct {
  bigdata* head;  // newest first
} S;

namespace {

bigdata* find(int32_t id, bigdata*** link_out = nullptr) {
  bigdata** link = &S.head;
  for (; *link; link = &(*link)->next) {
    if ((*link)->id == id) {
      if (link_out) *link_out = link;
      return *link;
    }
  }
  return nullptr;
}

void unlink_and_free(bigdata** link) {
  bigdata* b = *link;
  *link = b->next;
  dalloc_free(b);
}

}  // namespace

int bigdata_init(void) {
  bigdata_fini();
  return 0;
}

void bigdata_fini(void) {
  while (S.head) unlink_and_free(&S.head);
}

int32_t bigdata_create(int32_t id, int32_t total) {
  if (id == -1) {
    int64_t highest = 0;
    for (const bigdata* b = S.head; b; b = b->next)
      if (b->id > highest) highest = b->id;
    if (highest >= INT32_MAX) {
      log(LOG_ERROR, kSrc, "no bigdata id left after #%d", INT32_MAX);
      return -1;
    }
    id = static_cast<int32_t>(highest + 1);
  } else {
    bigdata** link = nullptr;
    bigdata* old = find(id, &link);
    if (old && old->filled < old->total) {
      log(LOG_ERROR, kSrc, "bigdata #%d exists", id);
      return -1;
    }
    if (old) {
      log(LOG_WARN, kSrc, "reusing bigdata #%d", id);
      unlink_and_free(link);
    }
  }
  int64_t bytes = static_cast<int64_t>(sizeof(bigdata)) + total;
  if (total < 0 || bytes > kMaxBlock) {
    log(LOG_ERROR, kSrc, "can't alloc %lldb for bigdata #%d", static_cast<long long>(bytes), id);
    return -1;
  }
  bigdata* b = static_cast<bigdata*>(dalloc_alloc(static_cast<int32_t>(bytes)));
  b->id = id;
  b->total = total;
  b->filled = 0;
  b->data = reinterpret_cast<uint8_t*>(b + 1);
  memset(b->data, 0, static_cast<size_t>(total));
  b->next = S.head;
  S.head = b;
  return id;
}

int bigdata_append(int32_t id, const void* bytes, int32_t n) {
  bigdata* b = find(id);
  if (!b) {
    log(LOG_ERROR, kSrc, "bigdata #%d not found", id);
    return -1;
  }
  if (n < 0 || static_cast<int64_t>(b->filled) + n > b->total) {
    log(LOG_ERROR, kSrc, "appending %db would overrun bigdata #%d", n, id);
    return -1;
  }
  if (n > 0) memcpy(b->data + b->filled, bytes, static_cast<size_t>(n));
  b->filled += n;
  return 0;
}

uint8_t* bigdata_get(int32_t id, int32_t* length) {
  bigdata* b = find(id);
  if (!b) {
    if (length) *length = 0;
    return nullptr;
  }
  int32_t len = b->filled;
  if (b->filled < b->total) {
    log(LOG_WARN, kSrc, "bigdata %d is incomplete (%d/%d)", id, b->filled, b->total);
    len = b->total;
  }
  if (length) *length = len;
  return b->data;
}

int64_t bigdata_bytes(void) {
  int64_t n = 0;
  for (const bigdata* b = S.head; b; b = b->next) n += b->total;
  return n;
}

int bigdata_progress(int32_t id, int32_t* filled, int32_t* total) {
  const bigdata* b = find(id);
  if (!b) return -1;
  *filled = b->filled;
  *total = b->total;
  return 0;
}

int bigdata_remove(int32_t id) {
  bigdata** link = nullptr;
  if (!find(id, &link)) {
    log(LOG_ERROR, kSrc, "bigdata #%d not found", id);
    return -1;
  }
  unlink_and_free(link);
  return 0;
}
