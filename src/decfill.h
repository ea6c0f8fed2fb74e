// Back-fills: a stock's whole day decoded from saved stock messages, and an
// index's ticks of a day. Each is decoded into a scratch copy and moved into
// the live record only when the whole fill decoded; a fill that fails leaves
// the live record exactly as it was. Io thread, core lock held.
#pragma once
#include <cstdint>

#include "ssmodel.h"
#include "sstime.h"

constexpr int32_t kFillWorkSet = 2;  // the model's work set the fills use

// The payload is a run of saved messages of the stock (stock-stream
// headers). 0, or -1 after ERROR "error filling up %s".
int decfill_decode_trades(ss_stock* stock, ss_time date, const uint8_t* data, int32_t n);
// A 4-byte time and an index value, then pairs of 4-byte time and index
// change to the end. 0, or -1 after an ERROR line.
int decfill_decode_index_ticks(ss_index* index, ss_time date, const uint8_t* data, int32_t n);
