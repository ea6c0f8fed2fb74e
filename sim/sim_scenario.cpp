// The simulator's built-in scenarios (see sim_scenario.h).
#include "sim_scenario.h"

#include <cstring>

#include "growbuf.h"
#include "log.h"
#include "sim_msg.h"

static const char kSrc[] = "sim/scenario";

int sim_build_scenario(sim_server* sim, const char* name, ss_time now, uint8_t state) {
  const bool demo = strcmp(name, "demo") == 0;
  if (!demo && strcmp(name, "standard") != 0) {
    log(LOG_ERROR, kSrc, "unknown scenario %s", name);
    return -1;
  }
  static const char* const kNames[kSimExchanges] = {"ASX", "NZX", "GLB", "AXO"};
  const ss_time date = now & ~kSstimeSecondsMask;
  for (uint32_t i = 0; i < uint32_t(kSimExchanges); i++) {
    sim_exchange ex;
    ex.index = i;
    ex.name = kNames[i];
    ex.date = date;
    ex.time = now;
    ex.brokers = sim_scenario_has_brokers(i);
    ex.state = state;
    if (sim_add_exchange(sim, ex) < 0) return -1;
    if (!demo) continue;
    growbuf gb{};
    growbuf_init(&gb, 256, 256);
    int r = sim_msg_begin_day(&gb, date, sim_signature(sim, i));
    if (r == 0) r = sim_msg_exchange_state(&gb, state);
    if (r == 0) r = sim_append(sim, i, gb.data, gb.len);
    growbuf_free(&gb);
    if (r < 0) return -1;
  }
  return 0;
}
