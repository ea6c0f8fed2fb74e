// The instrument hash of the quick slots and small tables.
#pragma once

int phash_init(void);  // 0 / -1
void phash_fini(void);
