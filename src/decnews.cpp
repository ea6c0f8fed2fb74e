// News summary items: one reader shared by the news history, the news of the
// day and the exchange's news summary list, and its writer. The type count
// is checked before any type byte is read, so a hostile count cannot run
// past the item; the writer cuts the headline so that no item passes
// kNewsMaxItem bytes.
//
// Minimal version: replaced when the news records are built. It holds only
// the item reader and writer that the history and news messages, the
// simulator and their tests need.
#include "decnews.h"

#include <cstring>

#include "decode.h"
#include "encode.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/decnews";

namespace {

constexpr uint8_t kCountBits = 0x3F;
constexpr uint8_t kBitFlag4 = 0x40;
constexpr uint8_t kBitFlag1 = 0x80;

}  // namespace

// Minimal version: replaced when the news records are built.
int decnews_decode_summary(char* code, uint32_t* number, ss_time* time, uint32_t types[kNewsTypeSlots],
                           uint32_t* flags, char* headline, const uint8_t* data, int32_t n) {
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
  if (count > kNewsMaxTypes) {
    log(LOG_ERROR, kSrc, "%s:%d news can't have %d types", code ? c : "?", static_cast<int>(num), count);
    return -1;
  }
  if (n - used < count) return 0;
  uint32_t read[kNewsTypeSlots] = {};
  for (int i = 0; i < count; i++) read[i] = data[used + i];
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
  memcpy(types, read, sizeof read);
  *flags = ((t & kBitFlag4) ? kNewsFlag4 : 0) | ((t & kBitFlag1) ? kNewsFlag1 : 0);
  memcpy(headline, text, static_cast<size_t>(size) + 1);
  return used;
}

namespace {

constexpr size_t kHeadlineWritten = kHeadlineSize - 1;

}  // namespace

// Minimal version: replaced when the news records are built.
int encnews_encode(uint8_t* out, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                   uint32_t flags, const char* headline) {
  int count = 0;
  while (types && count < kNewsTypeSlots && types[count]) count++;
  if (count > kNewsMaxTypes) {
    log(LOG_ERROR, kSrc, "can't encode %d types", count);
    return -1;
  }
  for (int i = 0; i < count; i++) {
    if (types[i] > 0xFF) {
      log(LOG_ERROR, kSrc, "can't encode news type %u", types[i]);
      return -1;
    }
  }
  int used = 0;
  if (code) {
    int r = encode_code(out, code);
    if (r < 0) return -1;
    used += r;
  }
  used += encode_uint32(out + used, number);
  used += encode_uint32(out + used, time);
  const uint32_t t =
      static_cast<uint32_t>(count) | ((flags & kNewsFlag4) ? kBitFlag4 : 0u) | ((flags & kNewsFlag1) ? kBitFlag1 : 0u);
  used += encode_byte(out + used, t);
  for (int i = 0; i < count; i++) used += encode_byte(out + used, types[i]);
  char text[kHeadlineWritten + 1] = "";
  if (headline) strncpy(text, headline, kHeadlineWritten);
  used += encode_string(out + used, text);
  return used;
}

// Minimal version: replaced when the news records are built.
int encnews_encode_summary(growbuf* gb, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                           uint32_t flags, const char* headline) {
  uint8_t* p = growbuf_reserve(gb, kNewsMaxItem);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make room for news item");
    return -1;
  }
  const int r = encnews_encode(p, code, number, time, types, flags, headline);
  if (r < 0) return -1;
  return growbuf_commit(gb, static_cast<uint32_t>(r));
}

int encnews_max_size(void) { return kNewsMaxItem; }
