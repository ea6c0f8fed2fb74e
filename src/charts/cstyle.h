// Chart styles: the named chart specifications charts share.
#pragma once

int cstyle_init(void);  // 0 / -1
void cstyle_fini(void);
