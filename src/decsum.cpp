// Summary reader: the codec's readers of the exchange snapshot messages, which
// the protocol dispatcher calls with each unpacked payload.
//
// Minimal version: replaced when the summary records are built. It holds only
// the start and stop the model's life cycle calls.
#include "decsum.h"

// Minimal version: replaced when the summary records are built.
int decsum_init(void) { return 0; }

// Minimal version: replaced when the summary records are built.
void decsum_fini(void) {}
