// Summary reader: decodes the snapshot of an exchange (indices, stocks,
// depth, states, news of the day) that a fresh terminal builds its model from.
// Minimal version: replaced when the summary records are built.
#pragma once
#include <cstdint>

// Minimal version: replaced when the summary records are built.
int decsum_init(void);
void decsum_fini(void);
