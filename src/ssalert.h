// Alert filters: the tickers' subscriptions to market alerts, each alert
// tested against every registered filter.
// Minimal version: replaced when alert filters and fast reset are built.
#pragma once
#include <cstdint>

// Minimal version: replaced when alert filters and fast reset are built.
int ssalert_init(void);
void ssalert_fini(void);
