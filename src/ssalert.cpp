// Alert filters: a global list of filters, each naming the alert kinds it
// wants and conditions on the instrument; every alert the events raise is
// recorded once per matching filter.
//
// Minimal version: replaced when alert filters and fast reset are built. It
// holds only the start and stop the model's life cycle calls.
#include "ssalert.h"

// Minimal version: replaced when alert filters and fast reset are built.
int ssalert_init(void) { return 0; }

// Minimal version: replaced when alert filters and fast reset are built.
void ssalert_fini(void) {}

// Minimal version: replaced when alert filters and fast reset are built. No
// filter can be registered yet, so nothing matches.
int ssalert_fire(instr* in, ss_time time, uint32_t bits, void* payload) {
  (void)in;
  (void)time;
  (void)bits;
  (void)payload;
  return 0;
}
