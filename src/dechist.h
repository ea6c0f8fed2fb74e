// History records: the daily history of a stock or an index (one point per
// trading day) and the news history of an issuer, read into the
// instrument's history array or news list. The protocol dispatcher and the
// data cache call the readers with a whole record. Io thread, core lock held.
#pragma once
#include <cstdint>

#include "ssmodel.h"

// The running state of one history record: the previous day's date and
// close, and the price reference of the stock records' price fields.
struct dechist_state {
  ss_time prev_date;
  uint32_t prev_close;
  uint32_t ref;
};

// One day record into *out: bytes used, or -1 (state as it was) when the
// bytes do not hold the whole record (a history record frames its days, so a
// cut day is bad), or after an ERROR line (a next-day date without a previous
// date, an index value that would fall below 0).
int dechist_decode_stock_day(dechist_state* state, const uint8_t* data, int32_t n, ss_stock_point* out);
int dechist_decode_index_day(dechist_state* state, const uint8_t* data, int32_t n, ss_index_point* out);

// A whole history record (a 16-bit count, then the day records) into the
// instrument's history array, kept in date order (a day of a date already
// held replaces it). Days of volume 0 (stocks) and days before the
// instrument's history-from date are read and not kept. 0, or -1 after an
// ERROR line when a day fails or the count and the bytes do not end
// together; the points read before the failure stay. With `complete` a
// success sets the history-loaded flag and clears the history-requested
// flag.
int dechist_decode_stock(ss_stock* stock, const uint8_t* data, int32_t n, int complete);
int dechist_decode_index(ss_index* index, const uint8_t* data, int32_t n, int complete);
// A news history (a 16-bit count, then news summary items without codes)
// into the issuer's news list; items before its history-from date are
// skipped. With `complete`, withdrawn numbers are applied and the flags set
// as above.
int dechist_decode_news(instr* in, const uint8_t* data, int32_t n, int complete);
