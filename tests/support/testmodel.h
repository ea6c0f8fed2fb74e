// Test support for the model: the configuration the terminal starts it with,
// that configuration applied, and, for code that reads instrument records
// without the model, exchange records to hang hand-made instruments on.
// Header-only and free of the test framework, so the fuzz targets use it
// too, and test executables that never include it do not depend on the
// model's header.
#pragma once
#include <cstdint>

#include "ssmodel.h"

// The terminal's model options: no trade breaks, fast reset.
constexpr uint32_t kTerminalModelOptions = kOptNoTradeBreaks | kOptFastReset;
// The flags of the terminal's exchanges: recorded, alerting, tracked by the
// client.
constexpr uint32_t kTerminalExchangeFlags = kExRecord | kExAlerts | kExClientTracks;
static_assert(kTerminalModelOptions == 12 && kTerminalExchangeFlags == 0x112);

// ssmodel_init with `options`, then the four exchanges with the terminal's
// flags: 0, or -1 when a step failed.
inline int start_terminal_model(uint32_t options = kTerminalModelOptions) {
  if (ssmodel_init(options) < 0) return -1;
  for (int32_t i = 0; i < kExchanges; i++)
    if (!ssmodel_new_exchange(i, kTerminalExchangeFlags)) return -1;
  return 0;
}

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
