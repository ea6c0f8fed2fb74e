// Volume comparison: each stock's volume done by this time of day yesterday,
// on a weekly and on a monthly average, applied second by second from the
// server's quarter-hour sets.
// Minimal version: replaced when volume comparison is built.
#pragma once
#include <cstdint>

struct ss_exchange;

// Minimal version: replaced when volume comparison is built.
int ssvcmp_init(void);
void ssvcmp_fini(void);
// At the exchange's daily reset: drops the sets and the stocks' comparison
// volumes.
void ssvcmp_reset_exchange(ss_exchange* ex);
