// Writing record headers. The writer keeps the same header state on the
// exchange that the reader keeps on its side (current code, current time,
// highest time seen), so it can choose the shortest form that the reader will
// resolve to the same instrument: the same code, the next code, a step along
// the current list, a speed, and only then the full code. A writer decides
// the whole header before it touches that state, so a refusal changes
// nothing.
#include "enchdr.h"

#include <cstring>

#include "encblk.h"
#include "encode.h"
#include "log.h"

static const char kSrc[] = "src/enchdr";

namespace {

constexpr uint32_t kMaxType = 255;
constexpr int32_t kMaxIndexSpeed = 255;
constexpr int32_t kMaxStockSpeed = 65535;
constexpr int32_t kMaxStreamByte = 255;  // stock-stream class 6 seconds

// Writes the type into the head byte's bits or the byte after it; returns
// the bytes the type takes, or -1 for a type that has no encoding.
int put_type(uint8_t* out, uint32_t type) {
  if (type == 0 || type > kMaxType) {
    log(LOG_ERROR, kSrc, "can't encode record type %u", type);
    return -1;
  }
  if (type <= kHeaderTypeBits) {
    out[0] = uint8_t(type);
    return 1;
  }
  out[0] = 0;
  out[1] = uint8_t(type);
  return 2;
}

bool same_code(const char* a, const char* b) { return strncmp(a, b, kCodeMax) == 0; }

// True when `code` is the current code with its last character raised by one.
bool is_following(const char* current, const char* code) {
  const size_t len = strnlen(current, kCodeMax);
  if (len == 0 || strnlen(code, kCodeSize) != len) return false;
  if (strncmp(current, code, len - 1) != 0) return false;
  return uint8_t(code[len - 1]) == uint8_t(current[len - 1]) + 1;
}

// The speed field when the table entry at `speed` is the instrument named.
int put_speed(uint8_t* out, const ss_exchange* ex, uint32_t type, const char* code, int32_t speed) {
  if (speed < 0) return 0;
  if (dechdr_is_index_type(type)) {
    if (speed > kMaxIndexSpeed || uint32_t(speed) >= ex->index_speed_count || !ex->index_speeds[speed] ||
        !same_code(ex->index_speeds[speed]->code, code))
      return 0;
    out[0] = uint8_t(speed);
    return 1;
  }
  if (speed > kMaxStockSpeed || uint32_t(speed) >= ex->speed_count || !ex->speeds[speed] ||
      !same_code(ex->speeds[speed]->code, code))
    return 0;
  out[0] = uint8_t(speed >> 8);
  out[1] = uint8_t(speed);
  return 2;
}

// How many places on from the current code `code` stands in the current
// stock list: 1 to kHeaderMaxSteps, or 0 when it is not within reach.
int32_t steps_to(ss_exchange* ex, const char* code) {
  ss_stock* s = static_cast<ss_stock*>(dechdr_step(ex, 0, 1));
  for (int32_t k = 1; s && k <= kHeaderMaxSteps; k++) {
    if (same_code(s->code, code)) return k;
    s = ssmodel_load(s->current.next);
  }
  return 0;
}

void move_state(ss_exchange* ex, const char* code, ss_time time) {
  if (code[0]) {
    strncpy(ex->cur_code, code, kCodeMax);
    ex->cur_code[kCodeMax] = '\0';
  }
  ex->cur_time = time;
  if (time != 0 && time < kSstimeFirstInvalid && time > ex->high_time) ex->high_time = time;
}

}  // namespace

int enchdr_encode_exchange(uint8_t* out, uint32_t type, int32_t speed, const char* code) {
  int used = put_type(out, type);
  if (used < 0) return -1;
  if (speed > kMaxIndexSpeed) {
    log(LOG_ERROR, kSrc, "can't encode speed %d in a byte", speed);
    return -1;
  }
  if (speed >= 0) out[used++] = uint8_t(speed);
  if (code) {
    const int r = encode_code(out + used, code);
    if (r < 0) return -1;
    used += r;
  }
  return used;
}

int enchdr_encode_timed(uint8_t* out, ss_exchange* ex, uint32_t type, ss_time time, const char* code,
                        int32_t speed) {
  if (!ex) {
    log(LOG_ERROR, kSrc, "no exchange for a timed header");
    return -1;
  }
  if (!code) code = "";
  int used = put_type(out, type);
  if (used < 0) return -1;
  int rel;
  int r;
  if (!code[0] || same_code(code, ex->cur_code)) {
    rel = kRelSame;
  } else if (is_following(ex->cur_code, code)) {
    rel = kRelNext;
  } else if ((r = put_speed(out + used, ex, type, code, speed)) > 0) {
    rel = kRelSpeed;
    used += r;
  } else {
    rel = kRelCode;
    if ((r = encode_code(out + used, code)) < 0) return -1;
    used += r;
  }
  out[0] = uint8_t(out[0] | rel << 6);
  if (time != ex->cur_time) {
    out[0] |= kHeaderTimeFlag;
    used += encode_uint32(out + used, time);
  }
  move_state(ex, code, time);
  return used;
}

int enchdr_encode_stepped(uint8_t* out, ss_exchange* ex, uint32_t type, const char* code, int32_t speed) {
  if (!ex) {
    log(LOG_ERROR, kSrc, "no exchange for a stepped header");
    return -1;
  }
  if (!code) code = "";
  int used = put_type(out, type);
  if (used < 0) return -1;
  int step;
  int r;
  int32_t k;
  if (!code[0] || same_code(code, ex->cur_code)) {
    step = 0;
  } else if (!dechdr_is_index_type(type) && (k = steps_to(ex, code)) > 0) {
    if (k < kStepByte) {
      step = k;
    } else {
      step = kStepByte;
      out[used++] = uint8_t(k - 4);
    }
  } else if ((r = put_speed(out + used, ex, type, code, speed)) > 0) {
    step = kStepSpeed;
    used += r;
  } else {
    step = kStepCode;
    if ((r = encode_code(out + used, code)) < 0) return -1;
    used += r;
  }
  out[0] = uint8_t(out[0] | step << 5);
  move_state(ex, code, ex->cur_time);
  return used;
}

int enchdr_encode_stock_header(uint8_t* out, ss_stock* stock, uint32_t type, ss_time time) {
  if (!stock) {
    log(LOG_ERROR, kSrc, "no stock for a stock-stream header");
    return -1;
  }
  int used = put_type(out, type);
  if (used < 0) return -1;
  const ss_time base = stock->stream_time;
  const int32_t d = sstime_diff_seconds(time, base);
  // A class is used only when the reader's addition gives this very time.
  const bool reachable = d >= 0 && d <= kMaxStreamByte && sstime_add_seconds(base, d) == time;
  if (reachable && d < kClassByte) {
    out[0] = uint8_t(out[0] | d << 5);
  } else if (reachable) {
    out[0] = uint8_t(out[0] | kClassByte << 5);
    out[used++] = uint8_t(d);
  } else {
    out[0] = uint8_t(out[0] | kClassTime << 5);
    used += encode_uint32(out + used, time);
  }
  stock->stream_time = time;
  return used;
}

int enchdr_encode_run(growbuf* gb, ss_exchange* ex, ss_time time, const void* records, int32_t n) {
  if (!ex) {
    log(LOG_ERROR, kSrc, "no exchange for a run");
    return -1;
  }
  const int32_t start = gb->len;
  uint8_t lead[5] = {uint8_t(kHeaderRunType)};
  int used = 1;
  if (time != ex->cur_time) {
    lead[0] |= kHeaderTimeFlag;
    used += encode_uint32(lead + 1, time);
  }
  if (growbuf_append(gb, lead, uint32_t(used)) < 0) return -1;
  if (encblk_frame_shared(gb, records, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  move_state(ex, "", time);
  return 0;
}
