// Drag and drop of instruments, lists and news between windows.
#pragma once

int dnd_init(void);  // 0: nothing to prepare
void dnd_fini(void);
