// The trading tables: broker table and order lists.
#pragma once

// 0, or -1 when a pool can't be made.
int trading_init(void);
void trading_fini(void);
