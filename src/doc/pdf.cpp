// Minimal version: PDF views are built by their own issue; the application
// main starts and stops them, and no render thread runs yet.
#include "doc/pdf.h"

int pdf_init(void) { return 0; }
void pdf_shutdown(void) {}
