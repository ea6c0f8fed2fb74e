// Runs the news item reader over arbitrary bytes, with and without a code
// (the first byte picks), and checks the reader contract:
//  - the result is -1, 0 or a byte count no larger than what was given;
//  - an item read with r bytes reads the same with exactly r available and
//    is incomplete (0) with any fewer;
//  - the item written again by the writer reads back with the same number,
//    time, type codes and flags, and a headline that starts the one read.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decnews.h"
#include "fuzz_client.h"
#include "ssmodel.h"

namespace {

struct item {
  char code[kCodeSize];
  uint32_t number, flags, types[kNewsTypeSlots];
  ss_time time;
  char headline[kNewsHeadlineRead];
};

int read(const uint8_t* p, int32_t n, bool with_code, item* it) {
  memset(it, 0, sizeof *it);
  return decnews_decode_summary(with_code ? it->code : nullptr, &it->number, &it->time, it->types, &it->flags,
                                it->headline, p, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = fuzz_start_runtime();
  FUZZ_CHECK(ready);
  if (size < 1) return 0;
  const bool with_code = data[0] & 1;
  const uint8_t* p = data + 1;
  const int32_t n = int32_t(size - 1);
  item a, b;
  const int r = read(p, n, with_code, &a);
  FUZZ_CHECK(r >= -1 && r <= n);
  if (r <= 0) return 0;
  FUZZ_CHECK(read(p, r, with_code, &b) == r);
  FUZZ_CHECK(memcmp(&a, &b, sizeof a) == 0);
  for (int32_t cut = 0; cut < r; cut++) FUZZ_CHECK(read(p, cut, with_code, &b) == 0);
  uint8_t out[kNewsMaxItem];
  const int w = encnews_encode(out, with_code ? a.code : nullptr, a.number, a.time, a.types, a.flags, a.headline);
  // A literal code the writer cannot carry is refused, nothing else is;
  // type codes after a 0 are not written.
  if (w < 0 && with_code) return 0;
  FUZZ_CHECK(w > 0 && w <= kNewsMaxItem);
  FUZZ_CHECK(read(out, w, with_code, &b) == w);
  FUZZ_CHECK(a.number == b.number && a.time == b.time && a.flags == b.flags);
  if (with_code) FUZZ_CHECK(strcmp(a.code, b.code) == 0);
  for (int i = 0; i < kNewsTypeSlots; i++) {
    if (a.types[i] == 0) break;
    FUZZ_CHECK(a.types[i] == b.types[i]);
  }
  FUZZ_CHECK(strncmp(a.headline, b.headline, strlen(b.headline)) == 0);
  return 0;
}
