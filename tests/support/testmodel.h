// Test support for code that reads instrument records without the model:
// exchange records to hang hand-made instruments on. Header-only, so test
// executables that never include it do not depend on the model's header.
#pragma once
#include <cstdint>

#include "ssmodel.h"

// A zeroed exchange record with only its index set, one per index, made on
// first use and never freed (instruments in static tables may outlive a
// test). Nothing registers it with the model.
inline ss_exchange* bare_exchange(int32_t index) {
  static ss_exchange* ex[kExchanges];
  if (!ex[index]) {
    ex[index] = new ss_exchange{};
    ex[index]->index = (uint32_t)index;
  }
  return ex[index];
}
