// State-change list reader. Entries mostly step along the exchange's list of
// current stocks (the list is in code order, so a run of neighbouring stocks
// costs a byte each); a code entry names a stock outright and restarts the
// walk from it.
#include "decstate.h"

#include "decblk.h"
#include "decode.h"
#include "log.h"
#include "ssevent.h"

static const char kSrc[] = "src/decstate.c";

namespace {

// One walk over the entries: each stock named is looked up (or stepped to)
// and, when `state` is given, takes it. -1 after an ERROR line.
int walk(ss_exchange* ex, ss_time time, const uint32_t* state, const uint8_t* p, int32_t len) {
  ss_stock* prev = nullptr;
  for (int32_t at = 0; at < len;) {
    uint32_t k;
    int r = decode_vint(p + at, len - at, &k);
    if (r <= 0) {
      log(LOG_ERROR, kSrc, "%s state list cut short", ex->name);
      return -1;
    }
    at += r;
    if (k == 0) {
      char code[kCodeSize];
      if ((r = decode_code(p + at, len - at, code, sizeof code)) <= 0) {
        log(LOG_ERROR, kSrc, "%s state list cut short", ex->name);
        return -1;
      }
      at += r;
      prev = ssmodel_find_stock(ex, code);
      if (!prev) {
        log(LOG_ERROR, kSrc, "can't find %s:%s", ex->name, code);
        return -1;
      }
    } else {
      uint32_t left = k;
      ss_stock* s = prev;
      while (s && left > 0) {
        s = ssmodel_load(s->current.next);
        if (s) left--;
      }
      if (!prev || left > 0) {
        log(LOG_ERROR, kSrc, "need %d more %s stocks!", static_cast<int>(prev ? left : k), ex->name);
        return -1;
      }
      prev = s;
    }
    if (state && ssevent_set_stock_state(prev, time, *state) < 0) return -1;
  }
  return 0;
}

}  // namespace

int decstate_decode(ss_exchange* ex, ss_time time, uint32_t state, const uint8_t* data, int32_t n) {
  growbuf* work = ssmodel_work_buffer(kStateWorkSet, 1);
  if (!ex || !work) return -1;
  const int used = decblk_read(data, n, work);
  if (used <= 0) return used;
  // The first walk only resolves the entries, so that a bad list changes no
  // stock; the second sets the states.
  if (walk(ex, time, nullptr, work->data, work->len) < 0) return -1;
  ssevent_state_block_begin(ex, time, state);
  const int r = walk(ex, time, &state, work->data, work->len);
  ssevent_state_block_end(ex, time, state);
  return r < 0 ? -1 : used;
}
