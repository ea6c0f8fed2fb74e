// The out-of-band queue: a doubly linked list of messages under its own mutex,
// pushed on the io thread and popped by the one consumer on the user-interface
// thread. Each message carries a copy of its bytes in the same allocation; a
// popped message is kept until the next pop, so the consumer can read its data
// without copying it out.
#include "oob.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"
#include "plat.h"

static const char kSrc[] = "src/oob";

// The largest block the allocator hands out.
constexpr int64_t kMaxBlock = kDallocMax;

namespace {

struct oob_msg {
  int32_t type;
  int32_t length;
  oob_msg* older;
  oob_msg* newer;
  // the data bytes follow the header in the same allocation
};

uint8_t* data_of(oob_msg* m) { return reinterpret_cast<uint8_t*>(m + 1); }

}  // namespace

static struct {
  plat_slot lock = -1;
  oob_msg* oldest;
  oob_msg* newest;
  int32_t count;
  oob_msg* popped;  // handed out by the last pop; freed by the next
} S;

namespace {


void free_all() {
  oob_msg* m = S.oldest;
  while (m) {
    oob_msg* next = m->newer;
    dalloc_free(m);
    m = next;
  }
  S.oldest = S.newest = nullptr;
  S.count = 0;
  if (S.popped) dalloc_free(S.popped);
  S.popped = nullptr;
}

}  // namespace

int oob_init(void) {
  if (S.lock >= 0) oob_fini();
  S.lock = plat_mutex_create();
  if (S.lock < 0) {
    log(LOG_ERROR, kSrc, "can't create oob lock");
    return -1;
  }
  S.oldest = S.newest = nullptr;
  S.count = 0;
  S.popped = nullptr;
  return 0;
}

void oob_fini(void) {
  free_all();
  if (S.lock >= 0) plat_mutex_destroy(S.lock);
  S.lock = -1;
}

int oob_push(int32_t type, const void* data, int32_t n) {
  int64_t bytes = static_cast<int64_t>(sizeof(oob_msg)) + n;
  if (n < 0 || bytes > kMaxBlock) {
    log(LOG_ERROR, kSrc, "can't alloc %db for oob", n);
    return -1;
  }
  if (S.lock < 0) {
    log(LOG_ERROR, kSrc, "oob queue not started, message %d lost", type);
    return -1;
  }
  oob_msg* m = static_cast<oob_msg*>(dalloc_alloc(static_cast<int32_t>(bytes)));
  m->type = type;
  m->length = n;
  m->newer = nullptr;
  if (n > 0) memcpy(data_of(m), data, static_cast<size_t>(n));
  plat_lock_guard hold(S.lock);
  m->older = S.newest;
  if (S.newest)
    S.newest->newer = m;
  else
    S.oldest = m;
  S.newest = m;
  S.count++;
  return 0;
}

int oob_pop(int32_t* type, const uint8_t** data, int32_t* length) {
  if (S.popped) dalloc_free(S.popped);
  S.popped = nullptr;
  oob_msg* m = nullptr;
  if (S.lock >= 0) {
    plat_lock_guard hold(S.lock);
    m = S.oldest;
    if (m) {
      S.oldest = m->newer;
      if (S.oldest)
        S.oldest->older = nullptr;
      else
        S.newest = nullptr;
      S.count--;
    }
  }
  if (!m) {
    *type = -1;
    *data = nullptr;
    *length = 0;
    return 0;
  }
  S.popped = m;
  *type = m->type;
  *data = data_of(m);
  *length = m->length;
  return 1;
}
