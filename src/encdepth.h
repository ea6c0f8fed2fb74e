// Writer of depth lists in the layout the depth readers (decdepth.h) take.
#pragma once
#include <cstdint>

#include "decdepth.h"
#include "growbuf.h"
#include "ssmodel.h"

// Appends the side's list from the best level, the stock's previous close as
// the first reference: per order with each order's broker where the exchange
// carries brokers, or level totals. With a limit above 0 at most that many
// levels and no end marker once it is reached. Bytes written, or -1 (output
// as it was) after an ERROR line: a level of more than 32767 orders, an order
// with no broker where one is due, a value no field carries.
int encdepth_encode_levels(growbuf* out, const ss_stock* stock, int side, int32_t limit);
int encdepth_encode(growbuf* out, const ss_stock* stock, int side);  // limit 5
