// Minimal version: chart styles are built with the chart widgets; the
// application main starts and stops them, with no style in the list yet.
#include "charts/cstyle.h"

int cstyle_init(void) { return 0; }
void cstyle_fini(void) {}
