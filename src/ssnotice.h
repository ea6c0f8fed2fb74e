// Exchange notices: names, aliases, capital, options, constituents,
// adjustments and other static data of instruments, sent one by one or as a
// list and kept per exchange.
// Minimal version: replaced when exchange notices are built.
#pragma once
#include <cstdint>

// Minimal version: replaced when exchange notices are built.
int ssnotice_init(void);
void ssnotice_fini(void);
