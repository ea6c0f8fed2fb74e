// Minimal version: the document manager is built by its own issue; the
// application main starts and stops it, with no download yet.
#include "doc/docmgr.h"

int docmgr_init(void) { return 0; }
void docmgr_shutdown(void) {}
