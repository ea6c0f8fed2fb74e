// Fast reset: lets the daily reset of a large exchange hand every stock's
// depth and event lists to a queue in one move per stock; the io thread's
// housekeeping then frees the queue in slices of at most 250 ms.
//
// Minimal version: replaced when alert filters and fast reset are built. It
// keeps the on/off switch but never queues anything, so the model's reset
// frees those lists itself (through deferred freeing) and the queue is always
// empty.
#include "fast_reset.h"

static struct {
  int enabled;
} F;

// Minimal version: replaced when alert filters and fast reset are built.
int fast_reset_init(void) {
  F.enabled = 0;
  return 0;
}

// Minimal version: replaced when alert filters and fast reset are built.
void fast_reset_fini(void) { F.enabled = 0; }

void fast_reset_enable(int on) { F.enabled = on ? 1 : 0; }

int fast_reset_enabled(void) { return F.enabled; }

// Minimal version: replaced when alert filters and fast reset are built.
int fast_reset_queue(ss_exchange* ex) {
  (void)ex;
  return 0;
}

// Minimal version: replaced when alert filters and fast reset are built.
int fast_reset_free(void) { return 0; }
