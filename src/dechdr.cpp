// Reading record headers. Consecutive records mostly concern the same or the
// next instrument at the same second, so a header names its instrument
// relative to the exchange's current code (same, next, some places on in the
// current list, a speed number or the full code) and its time relative to
// the current time. Every reader decodes into locals first and writes the
// exchange or stock only once the whole header has been read and checked, so
// an incomplete or bad header leaves all state as it was.
#include "dechdr.h"

#include <cstring>

#include "decblk.h"
#include "decode.h"
#include "chash.h"
#include "log.h"

static const char kSrc[] = "src/dechdr";

namespace {

bool stock_linked(const ss_exchange* ex, const ss_stock* s) {
  return ssmodel_load(s->current.prev) != nullptr || ssmodel_load(ex->current.head) == s;
}

bool index_linked(const ss_exchange* ex, const ss_index* x) {
  return ssmodel_load(x->cur_prev) != nullptr || ssmodel_load(ex->current_indices.head) == x;
}

// The instrument k places after the current code's own in its list. The
// current code is read from the exchange's own tables: it is at most 11
// characters already, so the model's lookup (which cuts a code to 11 first)
// would find the same record, and the codec calls nothing in the model. A
// current code that is not in the list (an index code before a stock step, a
// stock that is not current, no code at all) has no place to step from.
instr* step_stocks(ss_exchange* ex, int32_t k) {
  ss_stock* s = static_cast<ss_stock*>(chash_find(&ex->stocks, ex->cur_code));
  if (!s || !stock_linked(ex, s)) return nullptr;
  for (int32_t i = 0; s && i < k; i++) s = ssmodel_load(s->current.next);
  return s;
}

instr* step_indices(ss_exchange* ex, int32_t k) {
  ss_index* x = static_cast<ss_index*>(chash_find(&ex->indices, ex->cur_code));
  if (!x || !index_linked(ex, x)) return nullptr;
  for (int32_t i = 0; x && i < k; i++) x = ssmodel_load(x->cur_next);
  return x;
}

// A speed field of the form that `type` takes, resolved to its code. The
// timed form and index speeds use one message for a speed out of range, the
// stepped form's stock speeds another.
int read_speed(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t type, bool stepped, int32_t* speed,
               char* code) {
  const bool index = dechdr_is_index_type(type);
  int used;
  if (index) {
    uint8_t b;
    used = decode_byte(data, n, &b);
    *speed = b;
  } else {
    uint16_t v;
    used = decode_short(data, n, &v);
    *speed = v;
  }
  if (used <= 0 || !ex) return used;
  const uint32_t count = index ? ex->index_speed_count : ex->speed_count;
  const instr* in = nullptr;
  if (uint32_t(*speed) < count)
    in = index ? static_cast<const instr*>(ex->index_speeds[*speed]) : static_cast<const instr*>(ex->speeds[*speed]);
  if (in) {
    if (index)
      dechdr_warm<sizeof(ss_index)>(in);
    else
      dechdr_warm<kStockHotBytes>(in);
  }
  if (!in) {
    if (stepped && !index)
      log(LOG_ERROR, kSrc, "bad %s speed %d/%d (%p)", ex->name, *speed, int32_t(count), static_cast<void*>(ex));
    else
      log(LOG_ERROR, kSrc, "bad %s speed %d/%d", ex->name, *speed, int32_t(count));
    return -1;
  }
  dechdr_code_field(code, in->code);
  return used;
}

// The code k places on in the list of the type's kind.
int step_code(char* out, ss_exchange* ex, uint32_t type, int32_t k) {
  if (!ex) {
    log(LOG_ERROR, kSrc, "no prior code to fetch next+%d code", k);
    return -1;
  }
  const bool index = dechdr_is_index_type(type);
  const instr* in = dechdr_step(ex, index, k);
  if (!in) {
    if (dechdr_step(ex, index, 0))
      log(LOG_ERROR, kSrc, "not enough codes: %d needed from %s", k, ex->cur_code);
    else
      log(LOG_ERROR, kSrc, "no current %s %s to step from", index ? "index" : "stock", ex->cur_code);
    return -1;
  }
  dechdr_code_field(out, in->code);
  return 0;
}

// The current code with its last character raised by one.
int following_code(char* out, const ss_exchange* ex) {
  if (!ex) {
    log(LOG_ERROR, kSrc, "no prior code to fetch next+%d code", 1);
    return -1;
  }
  const size_t len = strnlen(ex->cur_code, kCodeMax);
  // Without a current code there is no last character to raise, and a last
  // character of 255 has no successor.
  if (len == 0 || uint8_t(ex->cur_code[len - 1]) == 0xFF) {
    log(LOG_ERROR, kSrc, "no code follows \"%s\"", ex->cur_code);
    return -1;
  }
  dechdr_code_field(out, ex->cur_code);
  out[len - 1] = char(uint8_t(out[len - 1]) + 1);
  return 0;
}

}  // namespace

instr* dechdr_step(ss_exchange* ex, int index, int32_t k) {
  if (!ex || k < 0) return nullptr;
  return index ? step_indices(ex, k) : step_stocks(ex, k);
}

int dechdr_next_code(char* out, ss_exchange* ex, int32_t k) { return step_code(out, ex, 0, k); }

void dechdr_warm_next(const uint8_t* data, int32_t n, const ss_exchange* ex) {
  // Runs once a message, so the header is read inline: the speed form (its
  // two bits first, the cheapest refusal), a type in the head byte or the
  // byte after it, not an index type, then the two-byte speed.
  if (n < 3 || !ex || data[0] >> 6 != kRelSpeed) return;
  uint32_t type = data[0] & kHeaderTypeBits;
  const uint8_t* at = data + 1;
  if (!type) {
    if (n < 4) return;
    type = *at++;
  }
  if (dechdr_is_index_type(type)) return;
  const uint32_t speed = uint32_t{at[0]} << 8 | at[1];
  if (speed >= ex->speed_count) return;
  if (const ss_stock* s = ex->speeds[speed]) dechdr_warm<kStockHotBytes>(s);
}

int dechdr_decode_exchange_header(const uint8_t* data, int32_t n, ss_exchange* ex, int stepped, uint32_t* type_out,
                                  ss_time* time_out, char* code_out, int32_t* speed_out) {
  uint32_t type;
  int used = dechdr_read_type(data, n, &type);
  if (used == 0) return 0;
  const uint8_t head = data[0];
  char code[kCodeSize] = "";
  int32_t speed = -1;
  int how;  // the code field, as one of the stepped form's codes
  if (stepped) {
    how = head >> 5;
  } else {
    static const int kTimedToStep[] = {0, -1, kStepSpeed, kStepCode};
    how = kTimedToStep[head >> 6];
  }
  switch (how) {
    case 0:
      if (ex) dechdr_code_field(code, ex->cur_code);
      break;
    case -1:
      if (following_code(code, ex) < 0) return -1;
      break;
    case 1:
    case 2:
    case 3:
    case 4:
      if (step_code(code, ex, type, how) < 0) return -1;
      break;
    case kStepByte: {
      uint8_t m;
      if (decode_byte(data + used, n - used, &m) == 0) return 0;
      used++;
      if (step_code(code, ex, type, m + 4) < 0) return -1;
      break;
    }
    case kStepSpeed: {
      const int r = read_speed(data + used, n - used, ex, type, stepped, &speed, code);
      if (r <= 0) return r;
      used += r;
      break;
    }
    default: {
      const int r = decode_code(data + used, n - used, code, kCodeSize);
      if (r <= 0) return r;
      used += r;
      dechdr_code_field(code, code);  // a literal code may carry a NUL of its own
      break;
    }
  }

  ss_time time = ex ? ex->cur_time : 0;
  if (!stepped && (head & kHeaderTimeFlag)) {
    if (decode_uint32(data + used, n - used, &time) == 0) return 0;
    used += 4;
  }

  // `code` is a whole field now: the copies out are plain ones.
  if (ex) dechdr_commit(ex, code, time);
  if (type_out) *type_out = type;
  if (time_out) *time_out = time;
  if (code_out) memcpy(code_out, code, kCodeSize);
  if (speed_out) *speed_out = speed;
  return used;
}

int dechdr_decode_stock_header(const uint8_t* data, int32_t n, ss_stock* stock, uint32_t* type_out,
                               ss_time* time_out) {
  uint32_t type;
  int used = dechdr_read_type(data, n, &type);
  if (used == 0) return 0;
  const int cls = data[0] >> 5;
  const ss_time base = stock ? stock->stream_time : 0;
  ss_time time;
  if (cls < kClassByte) {
    time = sstime_add_seconds(base, cls);
  } else if (cls == kClassByte) {
    uint8_t d;
    if (decode_byte(data + used, n - used, &d) == 0) return 0;
    used++;
    time = sstime_add_seconds(base, d);
  } else {
    if (decode_uint32(data + used, n - used, &time) == 0) return 0;
    used += 4;
  }
  if (stock) stock->stream_time = time;
  if (type_out) *type_out = type;
  if (time_out) *time_out = time;
  return used;
}

int dechdr_decode_run(const uint8_t* data, int32_t n, ss_exchange* ex, growbuf* records, ss_time* time_out) {
  dechdr_state saved;
  dechdr_save(&saved, ex, nullptr);
  uint32_t type;
  ss_time time;
  const int head = dechdr_decode_timed(data, n, ex, &type, &time, nullptr, nullptr);
  if (head <= 0) return head;
  int r;
  if (type != kHeaderRunType) {
    log(LOG_ERROR, kSrc, "type %u is not a run", type);
    r = -1;
  } else {
    r = decblk_read(data + head, n - head, records);
  }
  if (r <= 0) {
    dechdr_restore(&saved);
    return r;
  }
  if (time_out) *time_out = time;
  return head + r;
}

int32_t dechdr_add_stock_speed(ss_stock* stock) {
  if (stock->speed >= 0) return stock->speed;
  ss_exchange* ex = stock->exchange;
  if (ex->speed_count >= kStockSpeeds) return -1;
  stock->speed = int32_t(ex->speed_count);
  ex->speeds[ex->speed_count++] = stock;
  return stock->speed;
}

int32_t dechdr_add_index_speed(ss_index* index) {
  if (index->speed >= 0) return index->speed;
  ss_exchange* ex = index->exchange;
  if (ex->index_speed_count >= kIndexSpeeds) return -1;
  index->speed = int32_t(ex->index_speed_count);
  ex->index_speeds[ex->index_speed_count++] = index;
  return index->speed;
}

void dechdr_restore(const dechdr_state* st) {
  if (ss_exchange* ex = st->exchange) {
    memcpy(ex->cur_code, st->cur_code, kCodeSize);
    ex->cur_time = st->cur_time;
    ex->high_time = st->high_time;
    for (uint32_t i = st->speed_count; i < ex->speed_count && i < kStockSpeeds; i++) {
      if (ex->speeds[i]) ex->speeds[i]->speed = -1;
      ex->speeds[i] = nullptr;
    }
    if (st->speed_count < ex->speed_count) ex->speed_count = st->speed_count;
    for (uint32_t i = st->index_speed_count; i < ex->index_speed_count && i < kIndexSpeeds; i++) {
      if (ex->index_speeds[i]) ex->index_speeds[i]->speed = -1;
      ex->index_speeds[i] = nullptr;
    }
    if (st->index_speed_count < ex->index_speed_count) ex->index_speed_count = st->index_speed_count;
  }
  if (st->stock) st->stock->stream_time = st->stream_time;
}
