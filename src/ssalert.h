// Alert filters: the tickers' subscriptions to market alerts, each alert
// tested against every registered filter.
// Minimal version: replaced when alert filters and fast reset are built.
#pragma once
#include <cstdint>

#include "sstime.h"

struct instr;

// Minimal version: replaced when alert filters and fast reset are built.
int ssalert_init(void);
void ssalert_fini(void);
// Tests the alert against every registered filter and records it once per
// match; returns the number of matches.
// Minimal version: replaced when alert filters and fast reset are built.
int ssalert_fire(instr* in, ss_time time, uint32_t bits, void* payload);
