// Terminal sessions.
#pragma once

int tt_init(void);  // 0 / -1
void tt_shutdown(void);
