// A cursor over one complete payload for the record readers that read many
// fields in a row (summaries, fundamentals). Each read takes a whole field or
// fails; since the payload is complete, a field cut short is as bad as a
// broken one, and once a read has failed every later read fails too, so a
// reader may chain reads and test once.
#pragma once
#include <cstdint>

#include "decode.h"
#include "ssmodel.h"

struct deccursor {
  const uint8_t* p;
  int32_t n;
  int32_t at = 0;
  bool ok = true;

  template <class F>
  bool read(F f) {
    if (!ok) return false;
    int r = f(p + at, n - at);
    if (r <= 0) {
      ok = false;
      return false;
    }
    at += r;
    return true;
  }
  bool byte(uint8_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_byte(q, m, v); }); }
  bool u32(uint32_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_uint32(q, m, v); }); }
  bool vint(uint32_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_vint(q, m, v); }); }
  bool vlong(uint64_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_vlong(q, m, v); }); }
  bool slong(int64_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_vlong_signed(q, m, v); }); }
  bool code(char* c) { return read([c](const uint8_t* q, int32_t m) { return decode_code(q, m, c, kCodeSize); }); }
  bool date(ss_time* d) { return read([d](const uint8_t* q, int32_t m) { return decode_date16(q, m, d); }); }
  // A price against *ref (null: no reference), which moves as the codec says.
  bool price(uint32_t* v, uint32_t* ref) {
    return read([v, ref](const uint8_t* q, int32_t m) { return decode_price(q, m, v, ref); });
  }
  bool volume(uint64_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_volume(q, m, v); }); }
  bool index(uint32_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_index(q, m, v); }); }
  bool change(int32_t* v) { return read([v](const uint8_t* q, int32_t m) { return decode_index_change(q, m, v); }); }
  bool when(ss_time* v) { return read([v](const uint8_t* q, int32_t m) { return decode_time_delta(q, m, v); }); }
  // A string into t, which holds `size` bytes with the NUL.
  bool text(char* t, int32_t size) {
    return read([t, size](const uint8_t* q, int32_t m) {
      int32_t s = size;
      return decode_string(q, m, t, &s);
    });
  }
  bool done() const { return at >= n; }
};
