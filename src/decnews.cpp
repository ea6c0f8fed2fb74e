// News summary items: reader and writer of one item of the day's news
// summary. The writer cuts the headline so that every item fits the fixed
// room callers reserve (encnews_max_size), which is why the reader's
// headline buffer is larger than any headline it can meet from this writer.
#include "decnews.h"

#include <cstring>

#include "decode.h"
#include "encode.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/decnews";

namespace {
constexpr uint8_t kTypeCountBits = 0x3F;
constexpr uint8_t kTypeFlag4 = 0x40;
constexpr uint8_t kTypeFlag1 = 0x80;
constexpr int32_t kHeadlineWritten = kNewsHeadlineRead - 1;
}  // namespace

int decnews_decode_summary(char* code, uint32_t* number, ss_time* time, uint32_t types[kNewsTypeSlots],
                           uint32_t* flags, char* headline, const uint8_t* data, int32_t n) {
  int32_t used = 0;
  int r;
  char own[kCodeSize] = "";
  if (code) {
    r = decode_code(data, n, code, kCodeSize);
    if (r <= 0) return r;
    used += r;
    memcpy(own, code, kCodeSize);
  }
  uint32_t num, when;
  if ((r = decode_uint32(data + used, n - used, &num)) <= 0) return r;
  used += r;
  if ((r = decode_uint32(data + used, n - used, &when)) <= 0) return r;
  used += r;
  uint8_t t;
  if ((r = decode_byte(data + used, n - used, &t)) <= 0) return r;
  used += r;
  const int count = t & kTypeCountBits;
  if (count > kNewsMaxTypes) {
    log(LOG_ERROR, kSrc, "%s:%d news can't have %d types", code ? own : "?", static_cast<int>(num), count);
    return -1;
  }
  if (n - used < count) return 0;
  for (int i = 0; i < kNewsTypeSlots; i++) types[i] = i < count ? data[used + i] : 0;
  used += count;
  int32_t size = kNewsHeadlineRead;
  r = decode_string(data + used, n - used, headline, &size);
  if (r < 0) {
    log(LOG_ERROR, kSrc, "failed");
    return -1;
  }
  if (r == 0) return 0;
  used += r;
  *number = num;
  *time = when;
  *flags = ((t & kTypeFlag4) ? kNewsFlag4 : 0) | ((t & kTypeFlag1) ? kNewsFlag1 : 0);
  return used;
}

int encnews_encode(uint8_t* out, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                   uint32_t flags, const char* headline) {
  int count = 0;
  while (types && count < kNewsTypeSlots && types[count]) count++;
  if (count > kNewsMaxTypes) {
    log(LOG_ERROR, kSrc, "can't encode %d types", count);
    return -1;
  }
  int32_t used = 0;
  if (code) {
    int r = encode_code(out, code);
    if (r < 0) return -1;
    used += r;
  }
  used += encode_uint32(out + used, number);
  used += encode_uint32(out + used, time);
  uint8_t t = static_cast<uint8_t>(count);
  if (flags & kNewsFlag4) t |= kTypeFlag4;
  if (flags & kNewsFlag1) t |= kTypeFlag1;
  out[used++] = t;
  for (int i = 0; i < count; i++) {
    if (types[i] > 0xFF) {
      log(LOG_ERROR, kSrc, "news type %u does not fit a byte", types[i]);
      return -1;
    }
    out[used++] = static_cast<uint8_t>(types[i]);
  }
  // The headline is cut to what the reader takes and the item's room allows.
  int32_t room = kNewsMaxItem - used - 1;
  int32_t len = headline ? static_cast<int32_t>(strnlen(headline, kHeadlineWritten)) : 0;
  if (len > room) len = room;
  out[used++] = static_cast<uint8_t>(len);
  if (len > 0) memcpy(out + used, headline, static_cast<size_t>(len));
  return used + len;
}

int encnews_encode_summary(growbuf* gb, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                           uint32_t flags, const char* headline) {
  uint8_t item[kNewsMaxItem];
  int r = encnews_encode(item, code, number, time, types, flags, headline);
  if (r < 0) return -1;
  return growbuf_append(gb, item, static_cast<uint32_t>(r)) < 0 ? -1 : 0;
}

int encnews_max_size(void) { return kNewsMaxItem; }
