// Minimal version: terminal sessions are built by their own issue; the
// application main starts and stops them, with no session open yet.
#include "term/tt.h"

int tt_init(void) { return 0; }
void tt_shutdown(void) {}
