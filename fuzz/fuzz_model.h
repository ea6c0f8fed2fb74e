// Shared by the record-reader fuzz targets: the check that ends the run, the
// runtime and a model started on the first input (not by a static
// initializer, so no module's state is used before it is constructed), and a
// side of a stock as text for before/after comparisons.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dalloc.h"
#include "lazyfree.h"
#include "log.h"
#include "plat.h"
#include "ssbroker.h"
#include "ssmodel.h"

#define CHECK(c)       \
  do {                 \
    if (!(c)) abort(); \
  } while (0)

// The runtime and a model with exchange `index`; null when a start failed.
// Deferred frees run at once: the target is the only thread.
inline ss_exchange* fuzz_start_model(int32_t index) {
  plat_init();
  log_init();
  log_set_stderr(0);
  dalloc_init();
  if (ssmodel_init(12) < 0) return nullptr;
  lazyfree_set_enabled(0);
  return ssmodel_new_exchange(index, 0x112);
}

// Levels, orders (volume, value, broker) of one side.
inline std::string fuzz_side_text(const ss_stock* s, int side) {
  std::string t;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) {
    t += std::to_string(l->price) + "x" + std::to_string(l->count) + "=" + std::to_string(l->volume) + ":";
    for (const ss_depth_order* o = l->orders; o; o = o->next)
      t += std::to_string(o->volume) + "@" + std::to_string(o->value) + "/" + (o->broker ? o->broker->code : "") + ",";
    t += ";";
  }
  return t;
}

// The exchange carries brokers, or not.
inline void fuzz_set_brokers(ss_exchange* ex, bool on) {
  if (on)
    ex->flags |= kExBrokers;
  else
    ex->flags &= ~kExBrokers;
}
