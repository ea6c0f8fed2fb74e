// The simulator's built-in scenarios: the four exchanges ASX, NZX, GLB and
// AXO dated `now`'s day and in trading state `state`. "standard" leaves
// their streams empty; "demo" opens each stream's day (message 57 with the
// stream's signature, then the exchange's state, 170). Shared by ambit-sim
// and the tests that run the same scenario in-process.
#pragma once
#include <cstdint>

#include "sim.h"
#include "sstime.h"

// Only ASX's depth and trades carry brokers in the built-in scenarios.
inline bool sim_scenario_has_brokers(uint32_t index) { return index == 0; }

// 0, or -1 for an unknown name or a refused exchange or stream (logged).
int sim_build_scenario(sim_server* sim, const char* name, ss_time now, uint8_t state);
