// Minimal version: the broker table and order lists are built by their own
// issue; the application main starts and stops them, empty until then.
#include "trading/trading.h"

int trading_init(void) { return 0; }
void trading_fini(void) {}
