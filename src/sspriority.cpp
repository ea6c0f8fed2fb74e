// Order priority and firm orders: applies the server's order-priority and
// firm-order blocks to the depth orders of the extended model.
//
// Minimal version: replaced when order priority is built. It decodes nothing,
// so no stock ever holds waiting order-info records and clearing them has
// nothing to free.
#include "sspriority.h"

// Minimal version: replaced when order priority is built.
int sspriority_init(void) { return 0; }

// Minimal version: replaced when order priority is built.
void sspriority_fini(void) {}

// Minimal version: replaced when order priority is built.
void sspriority_clear(ss_stock* stock) { (void)stock; }
