// Minimal version: keyboard bindings are built by their own issue; the
// application main starts and stops them, with nothing to prepare yet.
#include "keyboard.h"

int keyboard_init(void) { return 0; }
void keyboard_fini(void) {}
