// The undo ring: every change the user makes is recorded before it is made.
#pragma once

// 0, or -1 when the ring can't be had.
int undo_init(void);
void undo_fini(void);
