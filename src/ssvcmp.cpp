// Volume comparison: applies the server's quarter-hour comparison sets to the
// stocks of the exchanges the user may see, second by second on each
// exchange's clock.
//
// Minimal version: replaced when volume comparison is built. It holds no
// sets; the model's daily reset clears the stocks' comparison fields itself.
#include "ssvcmp.h"

// Minimal version: replaced when volume comparison is built.
int ssvcmp_init(void) { return 0; }

// Minimal version: replaced when volume comparison is built.
void ssvcmp_fini(void) {}

// Minimal version: replaced when volume comparison is built.
void ssvcmp_reset_exchange(ss_exchange* ex) { (void)ex; }
