// Growable byte buffers: the encoders write into them and the connections read
// into them. Capacity grows in whole page-rounded steps and always ends strictly
// above the length asked for, so a buffer that has just grown has room for at
// least one more byte. All size arithmetic is done in 64 bits and a buffer never
// grows past the allocator's largest block, so a request near 2^31 is refused
// with a log line instead of wrapping around or ending the process.
#include "growbuf.h"

#include <cstring>

#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/growbuf";

// The largest block the allocator hands out; a capacity above it is refused.
constexpr int64_t kMaxCapacity = kDallocMax;
constexpr uint32_t kStringLength = 0xffffffffu;  // growbuf_append: n means "strlen"

namespace {

int64_t page_round(int64_t n) {
  int64_t page = dalloc_page_size();
  if (page < 1) page = 4096;
  return (n + page - 1) / page * page;
}

// The growth step in use; a zeroed or unset step counts as one page.
int64_t step_of(const growbuf* gb) { return gb->incr > 0 ? gb->incr : page_round(1); }

// Makes room for n more bytes. `force` grows even when the bytes fit, used when
// there is no data block yet and the caller needs a valid write pointer.
int grow(growbuf* gb, uint32_t n, bool force) {
  int64_t need = static_cast<int64_t>(gb->len) + n;
  if (need <= gb->maxlen && !force) return 0;
  int64_t step = step_of(gb);
  int64_t cap = gb->maxlen;
  if (need >= cap) cap += ((need - cap) / step + 1) * step;
  if (cap > kMaxCapacity) {
    log(LOG_ERROR, kSrc, "can't realloc growbuf by %ub to %lldb", n, static_cast<long long>(cap));
    return -1;
  }
  uint8_t* old = gb->data;
  int32_t old_len = gb->len;
  void* p = old ? dalloc_realloc(old, static_cast<int32_t>(cap)) : dalloc_alloc(static_cast<int32_t>(cap));
  gb->data = static_cast<uint8_t*>(p);
  gb->maxlen = static_cast<int32_t>(cap);
  if (gb->relocate) gb->relocate(gb, old, old_len);
  return 0;
}

}  // namespace

int growbuf_init(growbuf* gb, int32_t initial, int32_t step) {
  if (initial < 0 || step < 0) {
    log(LOG_ERROR, kSrc, "bad growbuf sizes %d/%d", initial, step);
    return -1;
  }
  int64_t init_rounded = page_round(initial);
  int64_t step_rounded = page_round(step > 0 ? step : 1);  // a step of 0 would never grow
  if (init_rounded > kMaxCapacity || step_rounded > kMaxCapacity) {
    log(LOG_ERROR, kSrc, "can't alloc %db growbuf", initial);
    return -1;
  }
  gb->len = 0;
  gb->maxlen = 0;
  gb->initsize = static_cast<int32_t>(init_rounded);
  gb->incr = static_cast<int32_t>(step_rounded);
  gb->data = nullptr;
  gb->relocate = nullptr;
  gb->context = nullptr;
  if (initial >= 1) {
    gb->data = static_cast<uint8_t*>(dalloc_alloc(initial));
    gb->maxlen = initial;
  }
  return 0;
}

void growbuf_reset(growbuf* gb) { gb->len = 0; }

int growbuf_shrink(growbuf* gb) {
  if (gb->maxlen == gb->initsize) return 0;
  if (gb->data) dalloc_free(gb->data);
  gb->data = nullptr;
  gb->len = 0;
  gb->maxlen = 0;
  gb->relocate = nullptr;
  gb->context = nullptr;
  // With an initial size of 0 the buffer keeps no data until it is written to.
  if (gb->initsize >= 1) {
    gb->data = static_cast<uint8_t*>(dalloc_alloc(gb->initsize));
    gb->maxlen = gb->initsize;
  }
  return 0;
}

void growbuf_free(growbuf* gb) {
  if (gb->data) dalloc_free(gb->data);
  gb->data = nullptr;
  gb->maxlen = 0;
  gb->len = 0;
}

int growbuf_truncate(growbuf* gb, int32_t n) {
  if (n < 0 || n > gb->len) {
    log(LOG_ERROR, kSrc, "can't truncate %db growbuf to %db", gb->len, n);
    return -1;
  }
  gb->len = n;
  return 0;
}

void growbuf_set_relocate(growbuf* gb, growbuf_relocate_fn fn, void* context) {
  gb->relocate = fn;
  gb->context = context;
}

uint8_t* growbuf_reserve(growbuf* gb, uint32_t n) {
  if (grow(gb, n, gb->data == nullptr) < 0) return nullptr;
  return gb->data + gb->len;
}

int growbuf_commit(growbuf* gb, uint32_t n) {
  int64_t len = static_cast<int64_t>(gb->len) + n;
  if (len > gb->maxlen) {
    log(LOG_FATAL, kSrc, "overrun: len=%d maxlen=%d size=%u incr=%d", gb->len, gb->maxlen, n, gb->incr);
    return -1;
  }
  gb->len = static_cast<int32_t>(len);
  return 0;
}

int growbuf_append(growbuf* gb, const void* bytes, uint32_t n) {
  if (n == kStringLength) {
    size_t sl = strlen(static_cast<const char*>(bytes));
    if (sl >= kStringLength) {
      log(LOG_ERROR, kSrc, "can't realloc growbuf by %zub to %db", sl, gb->maxlen);
      return -1;
    }
    n = static_cast<uint32_t>(sl);
  }
  if (grow(gb, n, false) < 0) return -1;
  if (n > 0) memcpy(gb->data + gb->len, bytes, n);
  gb->len += static_cast<int32_t>(n);
  return 0;
}

int growbuf_copy(growbuf* dst, const growbuf* src) {
  if (dst == src) return 0;
  dst->len = 0;  // so the relocate callback sees an old length of 0
  uint32_t n = static_cast<uint32_t>(src->len);
  if (grow(dst, n, false) < 0) {
    log(LOG_ERROR, kSrc, "can't copy %db growbuf", src->len);
    return -1;
  }
  if (n > 0) memcpy(dst->data, src->data, n);
  dst->len = src->len;
  return 0;
}
