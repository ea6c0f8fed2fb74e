// Runs every codec field reader over arbitrary bytes, read as a stream of
// (selector byte, field) pairs with the reference price, the reference time
// and a running time carried from field to field, the way a record reader
// carries them. Each call is checked against the reader contract:
//  - the result is -1, 0 or a byte count no larger than what was available;
//  - 0 and -1 leave the reference price and times exactly as they were;
//  - a field read with n bytes reads the same with exactly n available (it
//    does not look past itself) and is incomplete (0) with n - 1;
//  - a value read, written again by the matching writer, reads back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dalloc.h"
#include "decode.h"
#include "encode.h"
#include "log.h"
#include "plat.h"
#include "ssbroker.h"

namespace {

enum Reader {
  kByte, kShort, kInt24, kInt32, kRaw, kVint, kVlong, kSigned, kString, kBlob, kCode, kBroker, kDate16, kDelta,
  kOffset, kPrice, kPriceNoRef, kVolume, kIndex, kIndexChange, kReaders
};

#define CHECK(c) \
  do {           \
    if (!(c)) abort(); \
  } while (0)

// The state a reader may move, and everything it may output.
struct State {
  uint32_t ref;
  ss_time ref_date;
  ss_time running;
  bool operator==(const State&) const = default;
};

struct Result {
  int r;
  uint64_t v;     // numeric value (signed as two's complement)
  int32_t size;   // string and blob length
  uint8_t text[300];  // text and blob bytes, zero-filled beyond
  State after;
};

// Runs reader `which` on n bytes from the given state.
Result run(int which, const uint8_t* in, int32_t n, int32_t cap, const State& st) {
  Result o;
  memset(&o, 0, sizeof o);
  uint32_t ref = st.ref;
  ss_time running = st.running;
  decode_set_ref_date(st.ref_date);
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  int32_t i32 = 0;
  uint64_t u64 = 0;
  int64_t i64 = 0;
  char* text = reinterpret_cast<char*>(o.text);
  int32_t size = cap;
  switch (which) {
    case kByte: o.r = decode_byte(in, n, &u8); o.v = u8; break;
    case kShort: o.r = decode_short(in, n, &u16); o.v = u16; break;
    case kInt24: o.r = decode_int24(in, n, &u32); o.v = u32; break;
    case kInt32: o.r = decode_int32(in, n, &u32); o.v = u32; break;
    case kRaw: o.r = decode_raw(in, n, o.text, cap); break;
    case kVint: o.r = decode_vint(in, n, &u32); o.v = u32; break;
    case kVlong: o.r = decode_vlong(in, n, &u64); o.v = u64; break;
    case kSigned: o.r = decode_vlong_signed(in, n, &i64); o.v = static_cast<uint64_t>(i64); break;
    case kString: o.r = decode_string(in, n, text, &size); o.size = size; break;
    case kBlob: o.r = decode_vbytes(in, n, o.text, &size); o.size = size; break;
    case kCode: o.r = decode_code(in, n, text, cap); break;
    case kBroker: o.r = decode_broker(in, n, text, cap); break;
    case kDate16: o.r = decode_date16(in, n, &u32); o.v = u32; break;
    case kDelta: o.r = decode_time_delta(in, n, &u32); o.v = u32; break;
    case kOffset: o.r = decode_time_offset(in, n, &running, &u32); o.v = u32; break;
    case kPrice: o.r = decode_price(in, n, &u32, &ref); o.v = u32; break;
    case kPriceNoRef: o.r = decode_price(in, n, &u32, nullptr); o.v = u32; break;
    case kVolume: o.r = decode_volume(in, n, &u64); o.v = u64; break;
    case kIndex: o.r = decode_index(in, n, &u32); o.v = u32; break;
    case kIndexChange: o.r = decode_index_change(in, n, &i32); o.v = static_cast<uint64_t>(static_cast<int64_t>(i32)); break;
  }
  o.after = State{ref, decode_ref_date(), running};
  return o;
}

// Writes the value just read with the matching writer from the state before
// the read, reads it back, and checks value and state agree with the read.
void check_rewrite(int which, const Result& got, int32_t cap, const State& before) {
  uint8_t buf[300];
  uint32_t ref = before.ref;
  ss_time running = before.running;
  const uint32_t v32 = static_cast<uint32_t>(got.v);
  int w = 0;
  switch (which) {
    case kVint: w = encode_vint(buf, v32); break;
    case kVlong: w = encode_vlong(buf, got.v); break;
    case kSigned: w = encode_vlong_signed(buf, static_cast<int64_t>(got.v)); break;
    case kString: w = encode_string(buf, reinterpret_cast<const char*>(got.text)); break;
    case kBlob: w = encode_vbytes(buf, got.text, static_cast<uint32_t>(got.size)); break;
    case kCode: w = encode_code(buf, reinterpret_cast<const char*>(got.text)); break;
    case kBroker: w = encode_broker(buf, reinterpret_cast<const char*>(got.text)); break;
    case kDate16: w = encode_date16(buf, v32); break;
    case kDelta: encode_set_ref_date(before.ref_date); w = encode_time_delta(buf, v32); break;
    case kOffset:
      // From a running time that is no time at all (a second of the day past
      // 86399 without a date) the offset read may not be reachable again.
      if (running != 0 && !decode_time_is_valid(running) && (running >> 17 != 0 || running >= 86400)) return;
      w = encode_time_offset(buf, v32, &running);
      break;
    case kPrice: w = encode_price(buf, v32, &ref); break;
    case kPriceNoRef: w = encode_price(buf, v32, nullptr); break;
    case kVolume: w = encode_volume(buf, got.v); break;
    case kIndex: w = encode_index(buf, v32); break;
    case kIndexChange: {
      const int32_t c = static_cast<int32_t>(static_cast<int64_t>(got.v));
      if (c == -2097151) return;  // readable, but outside the writer's range
      w = encode_index_change(buf, c);
      break;
    }
    default: return;
  }
  CHECK(w > 0);
  const Result back = run(which, buf, w, which == kString || which == kBlob ? 300 : cap, before);
  CHECK(back.r == w);
  CHECK(back.v == got.v);
  if (which == kBlob) {
    CHECK(back.size == got.size && memcmp(back.text, got.text, sizeof back.text) == 0);
  } else {
    // Texts are compared as C strings: a literal code or a string may hold a
    // NUL, and the text before it is what was written again.
    CHECK(strcmp(reinterpret_cast<const char*>(back.text), reinterpret_cast<const char*>(got.text)) == 0);
  }
  // The writer may choose another form than the one read (an up step to a
  // price the writer would send wide), so its reference is checked against
  // the reader of its own bytes.
  if (which == kPrice) CHECK(ref == back.after.ref);
  if (which == kOffset) CHECK(running == got.after.running && back.after.running == got.after.running);
  if (which == kDelta) CHECK(encode_ref_date() == got.after.ref_date && back.after.ref_date == got.after.ref_date);
}

bool started = [] {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  return ssbroker_init() == 0;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!started) abort();
  // The first bytes seed the state; then selector and field pairs follow.
  State st{0, 0, 0};
  size_t pos = 0;
  if (size >= 12) {
    memcpy(&st.ref, data, 4);
    memcpy(&st.ref_date, data + 4, 4);
    memcpy(&st.running, data + 8, 4);
    pos = 12;
  }
  while (pos < size) {
    const uint8_t sel = data[pos++];
    const int which = sel % kReaders;
    // The high bits choose a capacity, so the capacity checks are reached.
    const int32_t caps[] = {kCodecCodeBytes, 256, 300, 1, 3, 5, 8, 16};
    int32_t cap = caps[sel >> 5];
    if (which == kRaw) cap = sel >> 5;
    const int32_t avail = static_cast<int32_t>(size - pos);
    const uint8_t* in = data + pos;
    const Result got = run(which, in, avail, cap, st);
    CHECK(got.r >= -1 && got.r <= avail);
    if (got.r <= 0) {
      CHECK(got.after == st);
      pos++;
      continue;
    }
    // Exactly the field's bytes give the same answer; one fewer is "not yet".
    const Result exact = run(which, in, got.r, cap, st);
    CHECK(exact.r == got.r && exact.v == got.v && exact.size == got.size && exact.after == got.after);
    CHECK(memcmp(exact.text, got.text, sizeof got.text) == 0);
    const Result shorter = run(which, in, got.r - 1, cap, st);
    CHECK(shorter.r == 0 && shorter.after == st);
    check_rewrite(which, got, cap, st);
    st = got.after;
    pos += static_cast<size_t>(got.r);
  }
  return 0;
}
