// Writers of the codec's field encodings, the exact mirror of decode.cpp:
// the terminal's requests, cache files and snapshot, and the market
// simulator's streams, are all made with these.
//
// Where a field has several forms the writer picks the shortest that carries
// the value exactly, and where a form depends on the writer's running state
// (reference price, reference time) the state is updated just as the reader
// will update its own, so the two stay in step byte for byte.
#include "encode.h"

#include <cstring>

#include "decode.h"
#include "log.h"
#include "ssbroker.h"

static const char kSrc[] = "src/encode";

namespace {

// Module state: the writers' running reference time of the time-delta field.
struct encode_state {
  ss_time ref_date;
};

encode_state S;

constexpr uint64_t kVlongLimit = 1ull << 61;
constexpr uint32_t kPriceShortLimit = 0x1400000;  // prices below this may take the 1-3 byte forms
constexpr uint32_t kPriceWide = 1u << 28;         // prices from here need the wide form
constexpr uint64_t kVolumeLimit = 1ull << 37;
constexpr uint64_t kNoVolume = ~0ull;
constexpr uint32_t kIndexLimit = 1u << 30;
constexpr int32_t kIndexChange1Min = -62, kIndexChange1Max = 64;
constexpr int32_t kIndexChange2Min = -8190, kIndexChange2Max = 8192;
constexpr int32_t kIndexChange3Min = -2097150, kIndexChange3Max = 2097152;
constexpr int32_t kTimeDeltaLong = 1 << 27;  // moves from here on are written as absolute times

// Character -> alphabet index; 0 for a character the alphabet lacks.
struct alphabet_index {
  uint8_t v[256];
  constexpr alphabet_index() : v() {
    for (int i = 1; i < 64; i++) v[static_cast<uint8_t>(kCodecAlphabet[i])] = static_cast<uint8_t>(i);
  }
};

constexpr alphabet_index kIndex;

inline void put_le32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 24);
}

inline int put_be32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
  return 4;
}

// Writes w's low `bytes` bytes big-endian.
inline void put_be(uint8_t* out, uint64_t w, int bytes) {
  for (int i = bytes - 1; i >= 0; i--, w >>= 8) out[i] = static_cast<uint8_t>(w);
}

}  // namespace

// Fixed-width fields ----------------------------------------------------------

int encode_byte(uint8_t* out, uint32_t value) {
  if (value >= 256) {
    log(LOG_ERROR, kSrc, "can't encode %u as a byte", value);
    return -1;
  }
  out[0] = static_cast<uint8_t>(value);
  return 1;
}

int encode_short(uint8_t* out, uint32_t value) {
  if (value >= 65536) {
    log(LOG_ERROR, kSrc, "can't encode %u as a short", value);
    return -1;
  }
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
  return 2;
}

int encode_int32(uint8_t* out, uint32_t value) { return put_be32(out, value); }
int encode_uint32(uint8_t* out, uint32_t value) { return put_be32(out, value); }
int encode_uint32_alt(uint8_t* out, uint32_t value) { return put_be32(out, value); }

int encode_raw(uint8_t* out, const void* src, int32_t n) {
  if (n < 1) return n;
  memcpy(out, src, static_cast<size_t>(n));
  return n;
}

// Variable-length integers ----------------------------------------------------

int encode_vint(uint8_t* out, uint32_t v) {
  if (v < (1u << 7)) {
    out[0] = static_cast<uint8_t>(v);
    return 1;
  }
  if (v < (1u << 14)) {
    out[0] = static_cast<uint8_t>(0x80 | (v & 0x3F));
    out[1] = static_cast<uint8_t>(v >> 6);
    return 2;
  }
  if (v < (1u << 21)) {
    out[0] = static_cast<uint8_t>(0xC0 | (v & 0x1F));
    out[1] = static_cast<uint8_t>(v >> 5);
    out[2] = static_cast<uint8_t>(v >> 13);
    return 3;
  }
  if (v < (1u << 28)) {
    out[0] = static_cast<uint8_t>(0xE0 | (v & 0x0F));
    out[1] = static_cast<uint8_t>(v >> 4);
    out[2] = static_cast<uint8_t>(v >> 12);
    out[3] = static_cast<uint8_t>(v >> 20);
    return 4;
  }
  out[0] = 0xF0;
  put_le32(out + 1, v);
  return 5;
}

int encode_vlong(uint8_t* out, uint64_t v) {
  if (v >= kVlongLimit) {
    log(LOG_ERROR, kSrc, "can't encode %llu as longlong", static_cast<unsigned long long>(v));
    return -1;
  }
  uint64_t high = v >> 5;
  int k = 0;
  while (high != 0) {
    out[1 + k++] = static_cast<uint8_t>(high);
    high >>= 8;
  }
  out[0] = static_cast<uint8_t>(k << 5 | (v & 0x1F));
  return 1 + k;
}

int encode_vlong_signed(uint8_t* out, int64_t v) {
  // The magnitude of INT64_MIN does not fit int64_t; it is refused below.
  const uint64_t mag = v > 0 ? static_cast<uint64_t>(v) : 0 - static_cast<uint64_t>(v);
  if (mag >= kVlongLimit) {
    log(LOG_ERROR, kSrc, "can't encode %llu as longlong", static_cast<unsigned long long>(mag));
    return -1;
  }
  out[0] = v > 0 ? 0 : 1;
  return 1 + encode_vlong(out + 1, mag);
}

// Strings and blobs -------------------------------------------------------------

int encode_string(uint8_t* out, const char* text) {
  const size_t n = strlen(text);
  if (n >= 256) {
    log(LOG_ERROR, kSrc, "can't encode %db as bytes", static_cast<int>(n));
    return -1;
  }
  out[0] = static_cast<uint8_t>(n);
  memcpy(out + 1, text, n);
  return static_cast<int>(n) + 1;
}

int encode_vbytes(uint8_t* out, const void* data, uint32_t n) {
  if (n > static_cast<uint32_t>(INT32_MAX - kEncodeRoomVint)) {
    log(LOG_ERROR, kSrc, "can't encode %ub as a blob", n);
    return -1;
  }
  const int head = encode_vint(out, n);
  if (n > 0) memcpy(out + head, data, n);
  return head + static_cast<int>(n);
}

// Codes ---------------------------------------------------------------------------

int encode_code(uint8_t* out, const char* code) {
  const size_t len = strlen(code);
  if (len > static_cast<size_t>(kCodecCodeChars)) {
    log(LOG_ERROR, kSrc, "can't encode %db code %.12s as code", static_cast<int>(len), code);
    return -1;
  }
  uint64_t idx[6] = {0, 0, 0, 0, 0, 0};
  bool missing = len > 6;
  bool wide = false;
  for (size_t i = 0; i < len && !missing; i++) {
    idx[i] = kIndex.v[static_cast<uint8_t>(code[i])];
    if (idx[i] == 0) missing = true;
    if (idx[i] >= 32) wide = true;
  }
  if (missing) {  // 0000nnnn and the characters as they are
    out[0] = static_cast<uint8_t>(len);
    memcpy(out + 1, code, len);
    return 1 + static_cast<int>(len);
  }
  if (wide) {  // 0001 + six 6-bit indices
    uint64_t w = 1;
    for (int i = 0; i < 6; i++) w = w << 6 | idx[i];
    put_be(out, w, 5);
    return 5;
  }
  if (len <= 3) {  // 1 + three 5-bit indices
    put_be(out, 1u << 15 | idx[0] << 10 | idx[1] << 5 | idx[2], 2);
    return 2;
  }
  if (len == 4) {  // 001 + four 5-bit indices + a 0 bit
    put_be(out, 1u << 21 | idx[0] << 16 | idx[1] << 11 | idx[2] << 6 | idx[3] << 1, 3);
    return 3;
  }
  uint64_t w = 1;  // 01 + six 5-bit indices
  for (int i = 0; i < 6; i++) w = w << 5 | idx[i];
  put_be(out, w, 4);
  return 4;
}

int encode_broker(uint8_t* out, const char* code) {
  const int32_t id = ssbroker_id(code);
  if (id >= 0 && id < 128) {
    out[0] = static_cast<uint8_t>(id);
    return 1;
  }
  // The packed form carries alphabet indices below 32 only: "A"-"Z", space
  // and "0"-"3". Anything else would read back as another character or end
  // the code, so the code is cut there instead.
  int n = 0;
  uint64_t w = 0;
  for (; n < kCodecBrokerPackedChars && code[n] != '\0'; n++) {
    const uint8_t ix = kIndex.v[static_cast<uint8_t>(code[n])];
    if (ix == 0 || ix >= 32) {
      log(LOG_WARN, kSrc, "broker %s: can't pack '%c', cut to %d characters", code, code[n], n);
      break;
    }
    w = w << 5 | ix;
  }
  const int used = (5 * n + 11) / 8;
  // The head's 1nnn above the values, then zero bits up to a whole byte.
  w |= static_cast<uint64_t>(8 | n) << (5 * n);
  w <<= used * 8 - 4 - 5 * n;
  put_be(out, w, used);
  return used;
}

// Dates and times -----------------------------------------------------------------

int encode_date16(uint8_t* out, ss_time date) {
  out[0] = static_cast<uint8_t>(date >> 24);
  out[1] = static_cast<uint8_t>((date >> 16) & 0xFE);
  return 2;
}

int encode_time_delta(uint8_t* out, ss_time t) { return encode_time_delta_from(out, t, &S.ref_date); }

int encode_time_delta_from(uint8_t* out, ss_time t, ss_time* ref) {
  const int32_t d = sstime_diff_seconds(t, *ref);
  const bool earlier = d < 0;
  const uint32_t m = earlier ? 0u - static_cast<uint32_t>(d) : static_cast<uint32_t>(d);
  // The difference does not always lead back to t (a time of day against a
  // dated reference, an invalid value): then the time goes as it is.
  const bool exact = sstime_add_seconds(*ref, d) == t;
  const uint8_t sign = earlier ? 0x80 : 0;
  int used;
  if (!exact || m >= static_cast<uint32_t>(kTimeDeltaLong)) {
    out[0] = earlier ? 0xF8 : 0x78;
    put_le32(out + 1, t);
    used = 5;
  } else if (m < (1u << 6)) {
    out[0] = static_cast<uint8_t>(sign | m);
    used = 1;
  } else if (m < (1u << 13)) {
    out[0] = static_cast<uint8_t>(sign | 0x40 | (m & 0x1F));
    out[1] = static_cast<uint8_t>(m >> 5);
    used = 2;
  } else if (m < (1u << 20)) {
    out[0] = static_cast<uint8_t>(sign | 0x60 | (m & 0x0F));
    out[1] = static_cast<uint8_t>(m >> 4);
    out[2] = static_cast<uint8_t>(m >> 12);
    used = 3;
  } else {
    out[0] = static_cast<uint8_t>(sign | 0x70 | (m & 0x07));
    out[1] = static_cast<uint8_t>(m >> 3);
    out[2] = static_cast<uint8_t>(m >> 11);
    out[3] = static_cast<uint8_t>(m >> 19);
    used = 4;
  }
  *ref = t;
  return used;
}

void encode_set_ref_date(ss_time t) { S.ref_date = t; }

ss_time encode_ref_date(void) { return S.ref_date; }

int encode_time_offset(uint8_t* out, ss_time t, ss_time* running) {
  const int32_t d = sstime_diff_seconds(t, *running);
  int used;
  if (d >= -kTimeOffsetMaxSeconds && d <= kTimeOffsetMaxSeconds && sstime_add_seconds(*running, d) == t) {
    used = encode_vint(out, static_cast<uint32_t>(d));
  } else if (decode_time_is_valid(t)) {
    used = encode_vint(out, t);
  } else {
    log(LOG_ERROR, kSrc, "can't encode time %u as an offset from %u", t, *running);
    return -1;
  }
  *running = t;
  return used;
}

// Prices, volumes, index values -----------------------------------------------------

int encode_price(uint8_t* out, uint32_t p, uint32_t* ref) {
  if (p == 0) {  // tenths form of 0; the reference stays
    out[0] = 0x20;
    out[1] = 0;
    out[2] = 0;
    return 3;
  }
  if (p % 10 != 0 || p >= kPriceShortLimit) {
    if (p >= kPriceWide) {  // the wide form leaves the reference alone
      out[0] = 0x00;
      put_le32(out + 1, p);
      return 5;
    }
    out[0] = static_cast<uint8_t>(0x10 | (p & 0x0F));
    out[1] = static_cast<uint8_t>(p >> 4);
    out[2] = static_cast<uint8_t>(p >> 12);
    out[3] = static_cast<uint8_t>(p >> 20);
    if (ref != nullptr) *ref = p;
    return 4;
  }
  const uint32_t q = p / 10;
  uint32_t t = 5;
  int used = 0;
  if (ref != nullptr) {
    const uint32_t r = *ref / 10;
    if (r != 0) {
      const uint32_t s = r < 100 ? 1 : r <= 999 ? 5 : 10;
      const uint32_t d = q >= r ? q - r : r - q;
      if (d < 32 * s && d % s == 0) {
        out[0] = static_cast<uint8_t>((q >= r ? 0x80 : 0xC0) | d / s);
        used = 1;
      }
    }
    t = r < 500 ? 1 : r < 5000 ? 5 : r < 100000 ? 10 : 100;
  }
  if (used == 0 && q % t == 0 && q < t * 16384) {
    const uint32_t v = q / t;
    out[0] = static_cast<uint8_t>(0x40 | (v & 0x3F));
    out[1] = static_cast<uint8_t>(v >> 6);
    used = 2;
  }
  if (used == 0) {  // q < 2^21 since p < kPriceShortLimit
    out[0] = static_cast<uint8_t>(0x20 | (q & 0x1F));
    out[1] = static_cast<uint8_t>(q >> 5);
    out[2] = static_cast<uint8_t>(q >> 13);
    used = 3;
  }
  if (ref != nullptr) *ref = p;
  return used;
}

int encode_volume(uint8_t* out, uint64_t v) {
  if (v == kNoVolume) {
    out[0] = 0;
    return 1;
  }
  // The one-byte rows: each a range of round counts with its own step.
  struct row {
    uint64_t below;
    uint64_t step;
    uint64_t bias;  // head = (v + bias) / step
  };
  static constexpr row kRows[] = {
      {2000, 50, 0}, {4000, 100, 2000}, {20000, 1000, 56000}, {100000, 5000, 360000}, {1000000, 50000, 4500000},
  };
  for (const row& r : kRows) {
    if (v < r.below) {
      if (v % r.step == 0) {
        out[0] = static_cast<uint8_t>((v + r.bias) / r.step);
        return 1;
      }
      break;
    }
  }
  if (v >= kVolumeLimit) {
    log(LOG_ERROR, kSrc, "can't encode volume %llu", static_cast<unsigned long long>(v));
    return -1;
  }
  const int more = v < (1u << 13) ? 1 : v < (1u << 21) ? 2 : v < (1u << 29) ? 3 : 4;
  out[0] = static_cast<uint8_t>(0x80 | (more - 1) << 5 | (v & 0x1F));
  for (int i = 1; i <= more; i++) out[i] = static_cast<uint8_t>(v >> (5 + 8 * (i - 1)));
  return 1 + more;
}

int encode_index(uint8_t* out, uint32_t v) {
  if (v >= kIndexLimit) {
    log(LOG_ERROR, kSrc, "can't encode index %u", v);
    return -1;
  }
  if (v < (1u << 15)) {
    out[0] = static_cast<uint8_t>(v & 0x7F);
    out[1] = static_cast<uint8_t>(v >> 7);
    return 2;
  }
  out[0] = static_cast<uint8_t>((v < (1u << 22) ? 0x80 : 0xC0) | (v & 0x3F));
  out[1] = static_cast<uint8_t>(v >> 6);
  out[2] = static_cast<uint8_t>(v >> 14);
  if (v < (1u << 22)) return 3;
  out[3] = static_cast<uint8_t>(v >> 22);
  return 4;
}

int encode_index_change(uint8_t* out, int32_t c) {
  if (c >= kIndexChange1Min && c <= kIndexChange1Max) {
    out[0] = static_cast<uint8_t>(c + 63);
    return 1;
  }
  if (c >= kIndexChange2Min && c <= kIndexChange2Max) {
    const uint32_t u = static_cast<uint32_t>(c + 8191);
    out[0] = static_cast<uint8_t>(0x80 | (u & 0x3F));
    out[1] = static_cast<uint8_t>(u >> 6);
    return 2;
  }
  if (c >= kIndexChange3Min && c <= kIndexChange3Max) {
    const uint32_t u = static_cast<uint32_t>(c + 2097151);
    out[0] = static_cast<uint8_t>(0xC0 | (u & 0x3F));
    out[1] = static_cast<uint8_t>(u >> 6);
    out[2] = static_cast<uint8_t>(u >> 14);
    return 3;
  }
  log(LOG_ERROR, kSrc, "can't encode index change %d", c);
  return -1;
}
