// The state-change list of an exchange: the stocks that take a new trading
// state at once, as one framed block of entries. Io thread, core lock held.
#pragma once
#include <cstdint>

#include "ssmodel.h"
#include "sstime.h"

constexpr int32_t kStateWorkSet = 3;  // the model's work set the block is read into

// data holds the framed block. Each entry of its payload is a vint k: 0 and a
// packed code name a stock; k >= 1 names the stock k places after the
// previous entry's stock in the exchange's current (code-ordered) list. Every
// stock named takes `state`. All entries are resolved before any state is
// set, so a list that fails changes nothing. Bytes used (the block), 0 when
// the block is not complete, -1 after an ERROR line.
int decstate_decode(ss_exchange* ex, ss_time time, uint32_t state, const uint8_t* data, int32_t n);
