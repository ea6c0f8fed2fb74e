// Global index values. The record is read whole before anything is applied,
// so an incomplete record leaves the model as it was. Each index's change in
// percent is taken against its previous value, as the summaries and the index
// ticks take it, so the same index shows the same figure whichever message
// brought it.
#include "decglobal.h"

#include "decode.h"
#include "encode.h"
#include "log.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssutil.h"

static const char kSrc[] = "src/decglobal";
static const char kEncSrc[] = "src/encglobal";

namespace {

constexpr uint32_t kIndexRoom = 34;   // longest index entry
constexpr uint32_t kRecordRoom = 36;  // header and count

struct global_index {
  char code[kCodeSize];
  uint32_t base, first, high, low, last;
  ss_time time;
};

// One entry; bytes used, 0 or -1.
int read_entry(const uint8_t* data, int32_t n, global_index* g) {
  int32_t used = 0;
  int r = decode_code(data, n, g->code, kCodeSize);
  if (r <= 0) return r;
  used += r;
  if ((r = decode_index(data + used, n - used, &g->base)) <= 0) return r;
  used += r;
  uint32_t* values[4] = {&g->first, &g->high, &g->low, &g->last};
  for (uint32_t* v : values) {
    int32_t change;
    if ((r = decode_index_change(data + used, n - used, &change)) <= 0) return r;
    used += r;
    *v = static_cast<uint32_t>(static_cast<int64_t>(g->base) + change);
  }
  if ((r = decode_uint32(data + used, n - used, &g->time)) <= 0) return r;
  return used + r;
}

void store(ss_exchange* ex, const global_index& g) {
  if (ssmodel_is_main_index(g.code)) return;
  ss_index* x = ssmodel_get_index(ex, g.code);
  if (!x) return;
  x->base = g.base;
  x->open = g.first;
  x->high = g.high;
  x->low = g.low;
  x->value = g.last;
  x->last_tick_time = g.time;
  const bool both = g.last && g.base;
  x->change = both ? static_cast<int32_t>(static_cast<int64_t>(g.last) - g.base) : 0;
  x->change_pct = ssutil_change_pct(g.last, g.base);
  x->flags |= kInCurrent;
}

}  // namespace

int decglobal_decode(const uint8_t* data, int32_t n) {
  uint32_t count;
  int r = decode_vint(data, n, &count);
  if (r <= 0) return r;
  const int32_t head = r;
  // Read through once to know the record is whole, then again to apply it.
  int32_t used = head;
  for (uint32_t i = 0; i < count; i++) {
    global_index g;
    r = read_entry(data + used, n - used, &g);
    if (r < 0) log(LOG_ERROR, kSrc, "failed");
    if (r <= 0) return r;
    used += r;
  }
  ss_exchange* ex = ssmodel_exchange(kExchangeGlb);
  for (int32_t at = head; ex && at < used;) {
    global_index g;
    at += read_entry(data + at, used - at, &g);
    store(ex, g);
  }
  return used;
}

int decglobal_decode_index(const uint8_t* data, int32_t n) {
  global_index g;
  const int r = read_entry(data, n, &g);
  if (r < 0) log(LOG_ERROR, kSrc, "failed");
  if (r <= 0) return r;
  ss_exchange* ex = ssmodel_exchange(kExchangeGlb);
  if (!ex) return r;
  ss_index* x = ssmodel_get_index(ex, g.code);
  if (!x || ssevent_index_tick(x, g.time, g.base, g.first, g.high, g.low, g.last) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s index", ex->name, g.code);
    return -1;
  }
  x->last_tick_time = g.time;
  x->flags |= kInCurrent;
  return r;
}

int encglobal_encode(growbuf* gb) {
  ss_exchange* ex = ssmodel_exchange(kExchangeGlb);
  if (!ex) {
    log(LOG_ERROR, kEncSrc, "can't find global exchange");
    return -1;
  }
  const int32_t start = gb->len;
  const uint32_t count = static_cast<uint32_t>(ex->indices.count);
  uint8_t* p = growbuf_reserve(gb, kRecordRoom + kIndexRoom * count);
  if (!p) {
    log(LOG_ERROR, kEncSrc, "failed encoding global values");
    return -1;
  }
  int32_t n = 0;
  p[n++] = 0;
  p[n++] = static_cast<uint8_t>(kGlobalValuesType);
  n += encode_vint(p + n, count);
  for (uint32_t i = 0; i < count; i++) {
    const ss_index* x = static_cast<const ss_index*>(ex->indices.sorted[i]);
    int r = encode_code(p + n, x->code);
    int b = r < 0 ? -1 : encode_index(p + n + r, x->base);
    if (b < 0) {
      growbuf_truncate(gb, start);
      return -1;
    }
    n += r + b;
    for (uint32_t v : {x->open, x->high, x->low, x->value}) {
      r = encode_index_change(p + n, static_cast<int32_t>(static_cast<int64_t>(v) - x->base));
      if (r < 0) {
        growbuf_truncate(gb, start);
        return -1;
      }
      n += r;
    }
    n += encode_uint32(p + n, x->last_tick_time);
  }
  growbuf_commit(gb, static_cast<uint32_t>(n));
  return 0;
}
