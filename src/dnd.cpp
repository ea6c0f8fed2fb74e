// Minimal version: drag and drop is built by its own issue; the application
// main starts and stops it, and nothing is held between drags yet.
#include "dnd.h"

int dnd_init(void) { return 0; }
void dnd_fini(void) {}
