// Readers of the codec's field encodings. Every byte of market data the
// terminal receives or loads is made of these fields, so each reader is a
// few lines of bit arithmetic on the bytes in place, with no allocation.
//
// The one rule every reader keeps: nothing (output, reference price, running
// reference time) is written until the whole field is present, so a reader
// that returns 0 can simply be called again once more bytes have arrived;
// and the references move only after a field has proved valid, so a -1
// leaves them as they were.
#include "decode.h"

#include <climits>
#include <cstring>

#include "log.h"
#include "ssbroker.h"

static const char kSrc[] = "src/decode";

namespace {

// Module state: the readers' running reference time of the time-delta field.
struct decode_state {
  ss_time ref_date;
};

decode_state S;

// Bit fields of a packed time (sstime.h): year index, month, day.
constexpr int kTimeYearShift = 26;
constexpr int kTimeMonthShift = 22;
constexpr int kTimeDayShift = 17;
constexpr int32_t kSecondsPerDay = 86400;

constexpr uint32_t kVolumeBadHead = 110;  // one-byte volume heads from here to 127 are invalid

inline uint32_t be16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }
inline uint32_t be24(const uint8_t* p) { return be16(p) << 8 | p[2]; }
inline uint32_t be32(const uint8_t* p) { return be24(p) << 8 | p[3]; }
inline uint32_t le32(const uint8_t* p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Writes the indices (6 at most, each below 64) as text; index 0 ends it.
// -1 after an ERROR line when the text would not fit cap bytes.
int indices_to_text(const uint8_t* idx, int count, char* dst, int32_t cap) {
  int len = 0;
  while (len < count && idx[len] != 0) len++;
  if (len + 1 > cap) {
    log(LOG_ERROR, kSrc, "code of %d characters does not fit %d bytes", len, cap);
    return -1;
  }
  for (int i = 0; i < len; i++) dst[i] = kCodecAlphabet[idx[i]];
  dst[len] = '\0';
  return 0;
}

// The relative step of the up and down price forms, in tenths.
inline uint32_t price_rel_step(uint32_t r) { return r < 100 ? 1 : r <= 999 ? 5 : 10; }

// The step of the two-byte price form, in tenths.
inline uint32_t price_abs_step(const uint32_t* ref) {
  if (ref == nullptr) return 5;
  uint32_t r = *ref / 10;
  return r < 500 ? 1 : r < 5000 ? 5 : r < 100000 ? 10 : 100;
}

}  // namespace

bool decode_time_is_valid(ss_time t) {
  if (t >= kSstimeFirstInvalid || (t >> kTimeDayShift) == 0) return false;
  const int32_t year = kSstimeFirstYear + static_cast<int32_t>(t >> kTimeYearShift);
  const int32_t month = static_cast<int32_t>((t >> kTimeMonthShift) & 15);
  const int32_t day = static_cast<int32_t>((t >> kTimeDayShift) & 31);
  if (month < 1 || month > 12 || day < 1) return false;
  if ((t & kSstimeSecondsMask) >= static_cast<ss_time>(kSecondsPerDay)) return false;
  // The packer lowers a day beyond the month's length, so a date that packs
  // back to itself is a real one.
  return sstime_pack_date(day, month, year) == (t & ~kSstimeSecondsMask);
}

// Fixed-width fields ----------------------------------------------------------

// decode_byte and decode_short are inline (decode.h).

int decode_int24(const uint8_t* in, int32_t avail, uint32_t* value) {
  if (avail < 3) return 0;
  *value = be24(in);
  return 3;
}

int decode_int32(const uint8_t* in, int32_t avail, uint32_t* value) { return decode_uint32(in, avail, value); }
int decode_uint32_alt(const uint8_t* in, int32_t avail, uint32_t* value) { return decode_uint32(in, avail, value); }
int decode_index_value32(const uint8_t* in, int32_t avail, uint32_t* value) { return decode_uint32(in, avail, value); }

int decode_raw(const uint8_t* in, int32_t avail, void* dst, int32_t n) {
  if (n < 0) {
    log(LOG_ERROR, kSrc, "can't decode %d raw bytes", n);
    return -1;
  }
  if (avail < n) return 0;
  if (n > 0) memcpy(dst, in, static_cast<size_t>(n));
  return n;
}

// Variable-length integers ----------------------------------------------------

int decode_vint(const uint8_t* in, int32_t avail, uint32_t* value) {
  if (avail < 1) return 0;
  const uint32_t b0 = in[0];
  if (b0 < 0x80) {
    *value = b0;
    return 1;
  }
  if (b0 < 0xC0) {
    if (avail < 2) return 0;
    *value = (b0 & 0x3F) | static_cast<uint32_t>(in[1]) << 6;
    return 2;
  }
  if (b0 < 0xE0) {
    if (avail < 3) return 0;
    *value = (b0 & 0x1F) | static_cast<uint32_t>(in[1]) << 5 | static_cast<uint32_t>(in[2]) << 13;
    return 3;
  }
  if (b0 < 0xF0) {
    if (avail < 4) return 0;
    *value = (b0 & 0x0F) | static_cast<uint32_t>(in[1]) << 4 | static_cast<uint32_t>(in[2]) << 12 |
             static_cast<uint32_t>(in[3]) << 20;
    return 4;
  }
  // Any 1111xxxx head: the low four bits are not part of the value.
  if (avail < 5) return 0;
  *value = le32(in + 1);
  return 5;
}

int decode_vlong(const uint8_t* in, int32_t avail, uint64_t* value) {
  if (avail < 1) return 0;
  const int k = in[0] >> 5;
  if (avail < 1 + k) return 0;
  uint64_t high = 0;
  for (int i = k; i >= 1; i--) high = high << 8 | in[i];
  // k <= 7, so high < 2^56 and the shifted value stays below 2^61.
  *value = (high << 5) | (in[0] & 0x1F);
  return 1 + k;
}

int decode_vlong_signed(const uint8_t* in, int32_t avail, int64_t* value) {
  if (avail < 2) return 0;
  uint64_t mag;
  const int used = decode_vlong(in + 1, avail - 1, &mag);
  if (used <= 0) return used;
  // mag < 2^61, so both signs fit.
  *value = in[0] != 0 ? -static_cast<int64_t>(mag) : static_cast<int64_t>(mag);
  return 1 + used;
}

// Strings and blobs -------------------------------------------------------------

int decode_string(const uint8_t* in, int32_t avail, char* dst, int32_t* size) {
  if (avail < 1) return 0;
  const int32_t n = in[0];
  // The capacity is checked on the length alone: the answer cannot change
  // as more bytes arrive, so there is no point waiting for them.
  if (n + 1 > *size) {
    log(LOG_ERROR, kSrc, "string of %d bytes does not fit %d", n, *size);
    *size = n;
    return -1;
  }
  if (avail < n + 1) return 0;
  memcpy(dst, in + 1, static_cast<size_t>(n));
  dst[n] = '\0';
  *size = n;
  return n + 1;
}

int decode_vbytes(const uint8_t* in, int32_t avail, void* dst, int32_t* size) {
  uint32_t n;
  const int head = decode_vint(in, avail, &n);
  if (head == 0) {
    *size = -1;
    return 0;
  }
  // Capacity before completeness: a length no buffer can take would
  // otherwise keep the caller waiting for bytes that never make a field.
  if (static_cast<int64_t>(n) > static_cast<int64_t>(*size)) {
    log(LOG_ERROR, kSrc, "blob of %u bytes does not fit %d", n, *size);
    *size = n > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
    return -1;
  }
  if (static_cast<int64_t>(head) + n > static_cast<int64_t>(avail)) {
    *size = -1;
    return 0;
  }
  if (n > 0) memcpy(dst, in + head, n);
  *size = static_cast<int32_t>(n);
  return head + static_cast<int32_t>(n);
}

// Codes ---------------------------------------------------------------------------

int decode_code(const uint8_t* in, int32_t avail, char* dst, int32_t cap) {
  if (avail < 1) return 0;
  const uint8_t b0 = in[0];
  uint8_t idx[6] = {0, 0, 0, 0, 0, 0};
  int count;
  int used;
  if (b0 & 0x80) {  // 1 + three 5-bit indices
    if (avail < 2) return 0;
    const uint32_t w = be16(in);
    for (int i = 0; i < 3; i++) idx[i] = (w >> (10 - 5 * i)) & 31;
    count = 3;
    used = 2;
  } else if (b0 & 0x40) {  // 01 + six 5-bit indices
    if (avail < 4) return 0;
    const uint32_t w = be32(in);
    for (int i = 0; i < 6; i++) idx[i] = (w >> (25 - 5 * i)) & 31;
    count = 6;
    used = 4;
  } else if (b0 & 0x20) {  // 001 + four 5-bit indices + a 0 bit
    if (avail < 3) return 0;
    const uint32_t w = be24(in);
    for (int i = 0; i < 4; i++) idx[i] = (w >> (16 - 5 * i)) & 31;
    count = 4;
    used = 3;
  } else if (b0 & 0x10) {  // 0001 + six 6-bit indices
    if (avail < 5) return 0;
    const uint64_t w = static_cast<uint64_t>(be32(in)) << 8 | in[4];
    for (int i = 0; i < 6; i++) idx[i] = (w >> (30 - 6 * i)) & 63;
    count = 6;
    used = 5;
  } else {  // 0000nnnn + n literal characters
    const int n = b0 & 0x0F;
    if (n > kCodecCodeChars) {
      log(LOG_ERROR, kSrc, "bad code length %d", n);
      return -1;
    }
    if (n + 1 > cap) {
      log(LOG_ERROR, kSrc, "code of %d characters does not fit %d bytes", n, cap);
      return -1;
    }
    if (avail < 1 + n) return 0;
    memcpy(dst, in + 1, static_cast<size_t>(n));
    dst[n] = '\0';
    return 1 + n;
  }
  if (indices_to_text(idx, count, dst, cap) != 0) return -1;
  return used;
}

int decode_broker(const uint8_t* in, int32_t avail, char* dst, int32_t cap) {
  if (avail < 1) return 0;
  const uint8_t b0 = in[0];
  if (b0 < 0x80) {
    const char* code = ssbroker_code(b0);
    if (code == nullptr) {
      log(LOG_ERROR, kSrc, "unknown broker id %d", b0);
      return -1;
    }
    const int32_t len = static_cast<int32_t>(strlen(code));
    if (len + 1 > cap) {
      log(LOG_ERROR, kSrc, "broker %s does not fit %d bytes", code, cap);
      return -1;
    }
    memcpy(dst, code, static_cast<size_t>(len) + 1);
    return 1;
  }
  // 1nnn, then n 5-bit values from bit 3 of the head on.
  const int n = (b0 >> 4) & 7;
  const int used = (5 * n + 11) / 8;
  if (avail < used) return 0;
  uint64_t w = 0;
  for (int i = 0; i < used; i++) w = w << 8 | in[i];
  uint8_t idx[kCodecBrokerPackedChars];
  for (int i = 0; i < n; i++) idx[i] = (w >> (used * 8 - 4 - 5 * (i + 1))) & 31;
  if (indices_to_text(idx, n, dst, cap) != 0) return -1;
  return used;
}

// Dates and times -----------------------------------------------------------------

int decode_date16(const uint8_t* in, int32_t avail, ss_time* date) {
  if (avail < 2) return 0;
  *date = static_cast<ss_time>(in[0]) << 24 | static_cast<ss_time>(in[1] & 0xFE) << 16;
  return 2;
}

int decode_time_delta(const uint8_t* in, int32_t avail, ss_time* time) {
  if (avail < 1) return 0;
  const uint8_t b0 = in[0];
  const bool earlier = (b0 & 0x80) != 0;
  uint32_t m;
  int used;
  if ((b0 & 0x78) == 0x78) {  // the absolute time; the sign bit is not looked at
    if (avail < 5) return 0;
    S.ref_date = le32(in + 1);
    *time = S.ref_date;
    return 5;
  }
  if ((b0 & 0x40) == 0) {
    m = b0 & 0x3F;
    used = 1;
  } else if ((b0 & 0x20) == 0) {
    if (avail < 2) return 0;
    m = (b0 & 0x1Fu) | static_cast<uint32_t>(in[1]) << 5;
    used = 2;
  } else if ((b0 & 0x10) == 0) {
    if (avail < 3) return 0;
    m = (b0 & 0x0Fu) | static_cast<uint32_t>(in[1]) << 4 | static_cast<uint32_t>(in[2]) << 12;
    used = 3;
  } else {
    if (avail < 4) return 0;
    m = (b0 & 0x07u) | static_cast<uint32_t>(in[1]) << 3 | static_cast<uint32_t>(in[2]) << 11 |
        static_cast<uint32_t>(in[3]) << 19;
    used = 4;
  }
  // m < 2^27, so the signed count cannot overflow.
  const int32_t d = earlier ? -static_cast<int32_t>(m) : static_cast<int32_t>(m);
  S.ref_date = sstime_add_seconds(S.ref_date, d);
  *time = S.ref_date;
  return used;
}

void decode_set_ref_date(ss_time t) { S.ref_date = t; }

ss_time decode_ref_date(void) { return S.ref_date; }

int decode_time_offset(const uint8_t* in, int32_t avail, ss_time* running, ss_time* out) {
  uint32_t v;
  const int used = decode_vint(in, avail, &v);
  if (used <= 0) return used;
  const int32_t sv = static_cast<int32_t>(v);
  ss_time t;
  if (sv >= -kTimeOffsetMaxSeconds && sv <= kTimeOffsetMaxSeconds) {
    t = sstime_add_seconds(*running, sv);
    // A dated time moved out of 1970-2033 comes back as 0, "no time":
    // no trade happened then, so the offset is bad rather than a blank time.
    if (t == 0 && *running < kSstimeFirstInvalid && (*running >> kTimeDayShift) != 0) {
      log(LOG_ERROR, kSrc, "bad time offset %d from %u", sv, *running);
      *out = v;
      return -1;
    }
  } else {
    // Every other value is an absolute time. Those of 2002 on have the top
    // bit set, so the sign of v says nothing about them.
    if (!decode_time_is_valid(v)) {
      log(LOG_ERROR, kSrc, "bad time offset %u", v);
      *out = v;
      return -1;
    }
    t = v;
  }
  *running = t;
  *out = t;
  return used;
}

// Prices, volumes, index values -----------------------------------------------------

int decode_price(const uint8_t* in, int32_t avail, uint32_t* price, uint32_t* ref) {
  if (avail < 1) return 0;
  const uint8_t b0 = in[0];
  uint32_t p;
  int used;
  bool keep_ref = false;
  if (b0 & 0x80) {  // up (10) or down (11): k relative steps from the reference
    if (ref == nullptr) {
      log(LOG_ERROR, kSrc, "no reference for price");
      return -1;
    }
    const uint32_t r = *ref / 10;
    if (r == 0) {
      p = 0;
    } else {
      const int64_t k = b0 & 0x3F;
      const int64_t step = price_rel_step(r);
      const int64_t q = (b0 & 0x40) ? static_cast<int64_t>(r) - k * step : static_cast<int64_t>(r) + k * step;
      if (q < 0 || q * 10 > static_cast<int64_t>(UINT32_MAX)) {
        log(LOG_ERROR, kSrc, "price %s %d steps from %u is out of range", (b0 & 0x40) ? "down" : "up",
            static_cast<int>(k), *ref);
        return -1;
      }
      p = static_cast<uint32_t>(q * 10);
    }
    used = 1;
  } else if (b0 & 0x40) {  // stepped: 14 bits of q / t
    if (avail < 2) return 0;
    const uint32_t v = (b0 & 0x3Fu) | static_cast<uint32_t>(in[1]) << 6;
    p = v * price_abs_step(ref) * 10;
    used = 2;
  } else if (b0 & 0x20) {  // tenths: 21 bits of q
    if (avail < 3) return 0;
    const uint32_t q = (b0 & 0x1Fu) | static_cast<uint32_t>(in[1]) << 5 | static_cast<uint32_t>(in[2]) << 13;
    p = q * 10;
    used = 3;
  } else if (b0 & 0x10) {  // plain: 28 bits of p
    if (avail < 4) return 0;
    p = (b0 & 0x0Fu) | static_cast<uint32_t>(in[1]) << 4 | static_cast<uint32_t>(in[2]) << 12 |
        static_cast<uint32_t>(in[3]) << 20;
    used = 4;
  } else {  // wide: any 0000xxxx head, the price little-endian
    if (avail < 5) return 0;
    p = le32(in + 1);
    used = 5;
    keep_ref = true;
  }
  if (ref != nullptr && p != 0 && !keep_ref) *ref = p;
  *price = p;
  return used;
}

int decode_volume(const uint8_t* in, int32_t avail, uint64_t* volume) {
  if (avail < 1) return 0;
  const uint32_t b0 = in[0];
  if (b0 < 0x80) {
    uint64_t v;
    if (b0 < 40) {
      v = b0 * 50ull;
    } else if (b0 < 60) {
      v = b0 * 100ull - 2000;
    } else if (b0 < 76) {
      v = b0 * 1000ull - 56000;
    } else if (b0 < 92) {
      v = b0 * 5000ull - 360000;
    } else if (b0 < kVolumeBadHead) {
      v = b0 * 50000ull - 4500000;
    } else {
      log(LOG_ERROR, kSrc, "error decoding volume");
      return -1;
    }
    *volume = v;
    return 1;
  }
  // 100, 101, 110, 111: one to four further bytes above the head's low 5 bits.
  const int more = ((b0 >> 5) & 3) + 1;
  if (avail < 1 + more) return 0;
  uint64_t v = b0 & 0x1F;
  for (int i = 1; i <= more; i++) v |= static_cast<uint64_t>(in[i]) << (5 + 8 * (i - 1));
  *volume = v;
  return 1 + more;
}

int decode_index(const uint8_t* in, int32_t avail, uint32_t* value) {
  if (avail < 1) return 0;
  const uint32_t b0 = in[0];
  if (b0 < 0x80) {
    if (avail < 2) return 0;
    *value = (b0 & 0x7F) | static_cast<uint32_t>(in[1]) << 7;
    return 2;
  }
  const int more = (b0 & 0x40) ? 3 : 2;
  if (avail < 1 + more) return 0;
  uint32_t v = (b0 & 0x3F) | static_cast<uint32_t>(in[1]) << 6 | static_cast<uint32_t>(in[2]) << 14;
  if (more == 3) v |= static_cast<uint32_t>(in[3]) << 22;
  *value = v;
  return 1 + more;
}

int decode_index_change(const uint8_t* in, int32_t avail, int32_t* change) {
  if (avail < 1) return 0;
  const int32_t b0 = in[0];
  if (b0 < 0x80) {
    *change = (b0 & 0x7F) - 63;
    return 1;
  }
  if (b0 < 0xC0) {
    if (avail < 2) return 0;
    *change = ((b0 & 0x3F) | static_cast<int32_t>(in[1]) << 6) - 8191;
    return 2;
  }
  if (avail < 3) return 0;
  *change = ((b0 & 0x3F) | static_cast<int32_t>(in[1]) << 6 | static_cast<int32_t>(in[2]) << 14) - 2097151;
  return 3;
}
