// News summary items: the writer. An item never passes kNewsItemMax bytes:
// the headline is cut to what the model keeps of it.
//
// Minimal version: replaced when the news records are built. It holds only
// the item writer that the simulator and the tests of the history and news
// messages need.
#include "encnews.h"

#include <cstring>

#include "encode.h"
#include "log.h"
#include "ssmodel.h"

static const char kSrc[] = "src/encnews";

namespace {

constexpr int kTypesMax = 14;
constexpr size_t kHeadlineWritten = kHeadlineSize - 1;

}  // namespace

// Minimal version: replaced when the news records are built.
int encnews_encode(uint8_t* out, const char* code, uint32_t number, ss_time time, const uint32_t* codes,
                   uint32_t flags, const char* headline) {
  int count = 0;
  while (codes && count < kNewsCodes && codes[count]) count++;
  if (count > kTypesMax) {
    log(LOG_ERROR, kSrc, "can't encode %d types", count);
    return -1;
  }
  for (int i = 0; i < count; i++) {
    if (codes[i] > 0xFF) {
      log(LOG_ERROR, kSrc, "can't encode news type %u", codes[i]);
      return -1;
    }
  }
  int used = 0;
  int r;
  if (code) {
    if ((r = encode_code(out, code)) < 0) return -1;
    used += r;
  }
  used += encode_uint32(out + used, number);
  used += encode_uint32(out + used, time);
  uint32_t t = static_cast<uint32_t>(count) | ((flags & kNewsFlag4) ? 0x40u : 0u) | ((flags & kNewsFlag1) ? 0x80u : 0u);
  used += encode_byte(out + used, t);
  for (int i = 0; i < count; i++) used += encode_byte(out + used, codes[i]);
  char text[kHeadlineWritten + 1] = "";
  if (headline) strncpy(text, headline, kHeadlineWritten);
  used += encode_string(out + used, text);
  return used;
}

// Minimal version: replaced when the news records are built.
int encnews_encode_summary(growbuf* gb, const char* code, uint32_t number, ss_time time, const uint32_t* codes,
                           uint32_t flags, const char* headline) {
  uint8_t* p = growbuf_reserve(gb, kNewsItemMax);
  if (!p) {
    log(LOG_ERROR, kSrc, "can't make room for news item");
    return -1;
  }
  const int r = encnews_encode(p, code, number, time, codes, flags, headline);
  if (r < 0) return -1;
  return growbuf_commit(gb, static_cast<uint32_t>(r));
}

int encnews_max_size(void) { return kNewsItemMax; }
