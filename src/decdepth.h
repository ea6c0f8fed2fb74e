// Depth lists: a side's best levels as a summary carries them, as a partial
// (10 levels) or full depth answer carries them, and the writer of the same
// layout. Two layouts: per order (a count, the level's price, then each
// order's volume and, where the exchange carries brokers, its broker) and
// level totals for stocks whose depth is kept per level (kInOutOfOrder).
//
// Readers run on the io thread under the core lock. Each takes the input and
// the bytes available and returns the bytes used, 0 when the list is not
// complete (the stock untouched), or -1 on bad data or a refusal of the
// events code (after an ERROR line). A list is checked whole before anything
// is applied, so 0 and bad data never leave a side half replaced.
#pragma once
#include <cstdint>

#include "ssmodel.h"

constexpr int32_t kDepthSummaryLevels = 5;
constexpr int32_t kDepthPartialLevels = 10;
constexpr uint32_t kDepthCountMax = 32767;  // orders one level's count field carries

// A summary's list: at most 5 levels, applied whatever the side's
// queue-loaded bit says; the bit is cleared once the list is whole (a list
// that is not whole leaves it as it was).
int decdepth_decode(ss_stock* stock, int side, const uint8_t* data, int32_t n);
// A partial depth answer (at most 10 levels) and a full one (no limit).
int decdepth_decode_limited(ss_stock* stock, int side, const uint8_t* data, int32_t n);
int decdepth_decode_whole(ss_stock* stock, int side, const uint8_t* data, int32_t n);
// limit 0: no limit. Replaces the side's levels; an empty list leaves the
// side empty with best price 0. When the side's queue is
// already loaded the list is stepped over (WARN) and nothing changes.
int decdepth_decode_levels(ss_stock* stock, int side, const uint8_t* data, int32_t n, int32_t limit);
// One level of the per-order layout against *ref (the running reference),
// its order count in *count (0: the end marker). With skip the bytes are only
// stepped over. On 0 or -1, *ref is as it was.
int decdepth_decode_level(ss_stock* stock, int side, const uint8_t* data, int32_t n, uint32_t* ref, uint32_t* count,
                          int skip);
