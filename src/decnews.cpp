// News summary items: one reader shared by the news history, the news of the
// day and the exchange's news summary list. The type count is checked before
// any type byte is read, so a hostile count cannot run past the item.
//
// Minimal version: replaced when the news records are built. It holds only
// the item reader that the history and news messages need.
#include "decnews.h"

#include <cstring>

#include "decode.h"
#include "log.h"

static const char kSrc[] = "src/decnews";

namespace {

constexpr uint8_t kCountBits = 0x3F;
constexpr uint8_t kBitFlag4 = 0x40;
constexpr uint8_t kBitFlag1 = 0x80;

}  // namespace

// Minimal version: replaced when the news records are built.
int decnews_decode_summary(char* code, uint32_t* number, ss_time* time, uint32_t codes[kNewsCodes], uint32_t* flags,
                           char* headline, const uint8_t* data, int32_t n) {
  int32_t used = 0;
  char c[kCodeSize] = "";
  int r;
  if (code) {
    r = decode_code(data, n, c, kCodeSize);
    if (r <= 0) return r;
    used += r;
  }
  uint32_t num, when;
  uint8_t t;
  if ((r = decode_uint32(data + used, n - used, &num)) <= 0) return r;
  used += r;
  if ((r = decode_uint32(data + used, n - used, &when)) <= 0) return r;
  used += r;
  if ((r = decode_byte(data + used, n - used, &t)) <= 0) return r;
  used += r;
  const int count = t & kCountBits;
  if (count > kNewsTypesMax) {
    log(LOG_ERROR, kSrc, "%s:%d news can't have %d types", code ? c : "?", static_cast<int>(num), count);
    return -1;
  }
  if (n - used < count) return 0;
  uint32_t types[kNewsCodes] = {};
  for (int i = 0; i < count; i++) types[i] = data[used + i];
  used += count;
  char text[kNewsHeadlineRead];
  int32_t size = kNewsHeadlineRead;
  r = decode_string(data + used, n - used, text, &size);
  if (r < 0) log(LOG_ERROR, kSrc, "failed");
  if (r <= 0) return r;
  used += r;
  if (code) memcpy(code, c, kCodeSize);
  *number = num;
  *time = when;
  memcpy(codes, types, sizeof types);
  *flags = ((t & kBitFlag4) ? kNewsFlag4 : 0) | ((t & kBitFlag1) ? kNewsFlag1 : 0);
  memcpy(headline, text, static_cast<size_t>(size) + 1);
  return used;
}
