// Minimal version: the clipboard export is built by its own issue; the
// application main starts and stops it, and no table is being written yet.
#include "export/clipboard.h"

int clipboard_init(void) { return 0; }
void clipboard_shutdown(void) {}
