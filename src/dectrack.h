// Track records: the tail of a stock or index summary entry that replays the
// instrument's price track of the day (pairs of time and price or value),
// handed to the price tracks. The writer is encsum_encode_stock_blob.
#pragma once
#include <cstdint>

#include "ssmodel.h"

// Each reads a vint length L and L bytes. Bytes used (always the vint plus
// L, whatever the points held), 0 while the L bytes are not all present, or
// -1 after an ERROR line (a bad price or value).
int dectrack_decode_stock(const uint8_t* data, int32_t n, ss_stock* stock);
int dectrack_decode_index(const uint8_t* data, int32_t n, ss_index* index);
