// Writers of record headers, the mirror of dechdr.h: each picks the shortest
// form the reader can resolve from the same header state, and moves that
// state on as the reader will. Writers take room the caller reserved
// (kHeaderRoom bytes suffice) and return the bytes written, or -1 after an
// ERROR line when the header cannot be written (nothing has changed then).
#pragma once
#include <cstdint>

#include "dechdr.h"
#include "growbuf.h"
#include "ssmodel.h"

// The compact exchange header: the type (one byte, or 0 and the type from
// 32 on), a speed byte when speed is 0 or more, a packed code when code is
// not null. Types 1-255; speeds 0-255.
int enchdr_encode_exchange(uint8_t* out, uint32_t type, int32_t speed, const char* code);

// A timed header for a record of `type` about `code` (empty: no instrument)
// at `time`. speed: the instrument's speed, or -1; the writer names the
// instrument by it only when neither "same" nor "next" applies.
int enchdr_encode_timed(uint8_t* out, ss_exchange* ex, uint32_t type, ss_time time, const char* code, int32_t speed);
// A stepped header (inside a run: the time is the run's). Stocks up to 259
// places on in the current list are named by their step.
int enchdr_encode_stepped(uint8_t* out, ss_exchange* ex, uint32_t type, const char* code, int32_t speed);
// A stock-stream header: the time as 0-255 seconds after the stock's stream
// time, or whole.
int enchdr_encode_stock_header(uint8_t* out, ss_stock* stock, uint32_t type, ss_time time);

// A run block: the run header (27, or 59 and the 4-byte time when `time` is
// not the exchange's current time) and one framed block (shared deflate
// stream) of n bytes of records written with enchdr_encode_stepped. Appends
// to gb; 0 or -1.
int enchdr_encode_run(growbuf* gb, ss_exchange* ex, ss_time time, const void* records, int32_t n);
