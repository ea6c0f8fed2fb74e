// The currency table: a fixed set of three-letter codes and the empty code,
// copied at start into a list sorted by byte order so that a code's place in
// the list is its stable number and lookups can bisect. The list is built
// once before any reader runs and is read-only afterwards.
#include "sscurrency.h"

#include <cstdlib>
#include <cstring>

namespace {

// In the order they are listed; the empty code means no currency.
const char* const kCodes[kCurrencies] = {"USD", "AUD", "CAD", "CHF", "DKK", "EUR", "GBP", "HKD",
                                         "JPY", "NOK", "NZD", "SEK", "SGD", "ZAR", ""};

// Module state: the sorted copies and how many are in use.
struct currency_state {
  char codes[kCurrencies][kCurrencyCodeSize];
  int32_t count;
};

currency_state C;

int compare_codes(const void* a, const void* b) {
  return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

}  // namespace

int sscurrency_init(void) {
  for (int i = 0; i < kCurrencies; i++) {
    memset(C.codes[i], 0, kCurrencyCodeSize);
    strncpy(C.codes[i], kCodes[i], kCurrencyCodeSize - 1);
  }
  qsort(C.codes, kCurrencies, kCurrencyCodeSize, compare_codes);
  C.count = kCurrencies;
  return 0;
}

void sscurrency_fini(void) { C.count = 0; }

int32_t sscurrency_count(void) { return C.count; }

const char* sscurrency_code(int32_t index) {
  if (index < 0 || index >= C.count) return nullptr;
  return C.codes[index];
}

int32_t sscurrency_find(const char* code) {
  if (!code || C.count == 0) return -1;
  const void* hit = bsearch(code, C.codes, C.count, kCurrencyCodeSize, compare_codes);
  if (!hit) return -1;
  return (int32_t)((static_cast<const char(*)[kCurrencyCodeSize]>(hit)) - C.codes);
}
