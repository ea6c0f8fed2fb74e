// Start-up shared by the model benchmarks: the runtime (allocator, platform
// layer, log kept off standard error) and a model with every exchange made.
// The functions are `static` on purpose: every benchmark file gets its own
// once-flag, as when each file carried its own copy. The benchmarks share one
// process and some of them end the log, so a later file must be free to start
// it again rather than trust a flag another file set.
#pragma once
#include <cstdint>

#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "ssmodel.h"

// The model options and exchange flags the benchmarks run the model with.
constexpr uint32_t kBenchModelOptions = 12;
constexpr uint32_t kBenchExchangeFlags = 0x112;

// Brings the runtime up the first time this benchmark file asks.
static inline void runtime_once() {
  static bool done = false;
  if (done) return;
  dalloc_init();
  plat_init();
  log_init();
  log_set_stderr(0);
  done = true;
}

// A fresh model holding exchanges 0 to 3; ssmodel_fini ends it.
static inline void bench_model_start() {
  ssmodel_init(kBenchModelOptions);
  for (int x = 0; x < kExchanges; x++) ssmodel_new_exchange(x, kBenchExchangeFlags);
}
