// Fast reset: the daily reset of a large exchange moves every stock's depth
// and event fields into queued records, which housekeeping frees in slices.
// Minimal version: replaced when alert filters and fast reset are built.
#pragma once
#include <cstdint>

struct ss_exchange;

// Minimal version: replaced when alert filters and fast reset are built.
int fast_reset_init(void);
void fast_reset_fini(void);
// Switches fast reset on or off; off after init.
void fast_reset_enable(int on);
int fast_reset_enabled(void);
// Moves the exchange's stock depth and event data into the queue; 0 when fast
// reset is off (the caller then frees those lists itself).
int fast_reset_queue(ss_exchange* ex);
// Frees a slice of the queue: 0 when it was empty, else 1.
int fast_reset_free(void);
