// Chart styles: the named chart set-ups that charts share.
#pragma once

int cstyle_init(void);  // 0 / -1
void cstyle_fini(void);
