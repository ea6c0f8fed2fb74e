// History records: the writers, the mirror of dechist.h. Each day is written
// in its shortest form against the previous one; the reader gives back the
// same points (a stock day's change is the reader's to compute).
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "ssmodel.h"

// The writers' running state, as the reader keeps it.
struct enchist_state {
  ss_time prev_date;
  uint32_t prev_close;
  uint32_t ref;
};

constexpr int kEnchistStockDayMax = 32;  // room one stock day can take
constexpr int kEnchistIndexDayMax = 28;

// One day into `out` (the room above): the bytes written, or -1 after an
// ERROR line (a stock day whose high is below its low, an index value or
// change the codec cannot carry, a date before the previous one).
int enchist_encode_stock_day(enchist_state* state, uint8_t* out, const ss_stock_point* p);
int enchist_encode_index_day(enchist_state* state, uint8_t* out, const ss_index_point* p);

// A whole record of n points (at most 65535, oldest first) appended to gb:
// 0, or -1 with gb as it was.
int enchist_encode_stock(growbuf* gb, const ss_stock_point* points, uint32_t n);
int enchist_encode_index(growbuf* gb, const ss_index_point* points, uint32_t n);
// A news history: the count and each item without its code (next links are
// not followed: `items` is an array).
int enchist_encode_news(growbuf* gb, const ss_news* items, uint32_t n);
