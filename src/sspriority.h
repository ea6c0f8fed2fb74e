// Order priority and firm orders: per-order details (identifier, number and
// two texts) attached to the depth of the extended model.
// Minimal version: replaced when order priority is built.
#pragma once
#include <cstdint>

struct ss_stock;

// Minimal version: replaced when order priority is built.
int sspriority_init(void);
void sspriority_fini(void);
// Frees the stock's waiting order-info records (every exchange reset).
void sspriority_clear(ss_stock* stock);
