// The side channel: blocks for the terminal's subsystems cross from the io
// thread to the user-interface thread through an incoming buffer under a lock.
//
// Minimal version: replaced when the side channel is built. It holds only the
// start, stop and delivery calls the client makes, with nothing to deliver.
#include "subsys.h"

// Minimal version: replaced when the side channel is built.
int subsys_init(void) { return 0; }

// Minimal version: replaced when the side channel is built.
void subsys_fini(void) {}

// Minimal version: replaced when the side channel is built.
int subsys_deliver(void) { return 0; }
