// The currency codes the terminal knows, as one list in byte order (the empty
// code, which stands for "no currency", first).
#pragma once
#include <cstdint>

constexpr int kCurrencies = 15;
constexpr int kCurrencyCodeSize = 4;  // three letters and a NUL

// Builds the sorted list; the model's start calls it. Always 0.
int sscurrency_init(void);
void sscurrency_fini(void);
// The number of codes in the list: kCurrencies after init, 0 before.
int32_t sscurrency_count(void);
// The code at `index` of the sorted list; null outside 0..count-1.
const char* sscurrency_code(int32_t index);
// The index of `code` in the sorted list; -1 when it is not there.
int32_t sscurrency_find(const char* code);
