// Fast reset: the daily reset of a large exchange moves every stock's depth
// and event fields into queued records in one move per stock; housekeeping on
// the io thread then frees the queue in slices of at most 250 ms.
//
// Filled by the reset and drained by housekeeping, both on the io thread under
// the core lock.
#pragma once
#include <cstdint>

struct ss_exchange;

// A slice of fast_reset_free stops once this many milliseconds have passed.
constexpr int64_t kFastResetSliceMs = 250;

// Makes the record pool and empties the queue; 0. Fast reset starts off.
int fast_reset_init(void);
// Frees every queued record's lists and the pool.
void fast_reset_fini(void);
// Switches fast reset on or off.
void fast_reset_enable(int on);
int fast_reset_enabled(void);
// Moves the exchange's stock depth and event data into the queue (the
// stocks' fields zeroed); 0 when fast reset is off (the caller then frees
// those lists itself), else the number of stocks queued.
int fast_reset_queue(ss_exchange* ex);
// Frees a slice of the queue: 0 when it was empty, else 1 after the "freed"
// line.
int fast_reset_free(void);
// Records waiting to be freed.
int fast_reset_pending(void);
