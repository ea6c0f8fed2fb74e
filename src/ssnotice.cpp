// Exchange notices: applies each typed notice to the model and keeps those
// with a sequence number in their exchange's notice list.
//
// Minimal version: replaced when exchange notices are built. It holds only
// the start and stop the model's life cycle calls.
#include "ssnotice.h"

// Minimal version: replaced when exchange notices are built.
int ssnotice_init(void) { return 0; }

// Minimal version: replaced when exchange notices are built.
void ssnotice_fini(void) {}
