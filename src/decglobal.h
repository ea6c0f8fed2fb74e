// Global index values: the indices of the global exchange (index 2) as one
// record of every index or one index at a time, and the writer of the record
// (the recovery snapshot keeps it).
#pragma once
#include <cstdint>

#include "growbuf.h"

constexpr uint32_t kGlobalValuesType = 212;

// The record's body (after its header): a vint count, then per index the
// packed code, previous value, four changes from it (first, high, low, last)
// and the 4-byte time. Bytes used, 0 while incomplete (nothing applied), -1
// after an ERROR on a bad field.
int decglobal_decode(const uint8_t* data, int32_t n);
// One index's fields, applied as an index tick. Bytes used, 0, or -1.
int decglobal_decode_index(const uint8_t* data, int32_t n);
// Appends the whole record, header included. 0, or -1 after an ERROR.
int encglobal_encode(growbuf* gb);
