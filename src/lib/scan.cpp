// Minimal version: scans, filters and watchlists are built by their own
// issue; the application main starts and stops them, with no scan yet.
#include "lib/scan.h"

int scan_init(void) { return 0; }
void scan_fini(void) {}
