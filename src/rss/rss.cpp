// Minimal version: news feeds are built by their own issue; the application
// main starts and stops them, with no feed registered yet.
#include "rss/rss.h"

int rss_init(void) { return 0; }
void rss_shutdown(void) {}
