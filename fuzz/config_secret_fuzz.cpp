// Unscrambles arbitrary bytes: a refusal or a text of at most the stored
// size; a text that comes out scrambles again to the size rule and back to
// itself. The input itself, scrambled, unscrambles to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/config.h"
#include "config_fuzz.h"
#include "config/secret.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"

namespace {

void round_trip(const void* text, int32_t n) {
  char* s = nullptr;
  int32_t s_len = 0;
  CHECK(secret_scramble(text, n, &s, &s_len) == 0);
  CHECK(s_len == secret_scrambled_size(n));
  char* back = nullptr;
  int32_t back_len = 0;
  CHECK(secret_unscramble(s, s_len, &back, &back_len) == 0);
  CHECK(back_len == n && memcmp(back, text, (size_t)n) == 0);
  dalloc_free(back);
  dalloc_free(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = config_fuzz_start();
  CHECK(ready);
  if (size > (size_t)kSecretMaxScrambled + 64) return 0;
  char* text = nullptr;
  int32_t n = 0;
  if (secret_unscramble(data, (int32_t)size, &text, &n) == 0) {
    CHECK(n >= 1 && n <= kSecretMaxText && size == (size_t)secret_scrambled_size(n));
    CHECK(text[n] == '\0');
    round_trip(text, n);
    dalloc_free(text);
  }
  if (size >= 1 && size <= (size_t)kSecretMaxText) round_trip(data, (int32_t)size);
  return 0;
}
