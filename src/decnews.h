// News summary items: the reader of one item (an announcement's number,
// time, type codes, flags and headline), as news history records, the news
// of the day and the exchange's news summary list carry it.
// Minimal version: replaced when the news records are built.
#pragma once
#include <cstdint>

#include "ssmodel.h"
#include "sstime.h"

constexpr int kNewsTypesMax = 14;       // type codes one item may carry
constexpr int kNewsHeadlineRead = 100;  // headline buffer: at most 99 characters + NUL

// One item: the packed code first when `code` is not null (kCodeSize bytes),
// then number, time, the count-and-flags byte, the type codes and the
// headline. codes receives kNewsCodes entries, those past the count 0; flags
// gets 0x4 and 0x1 from the byte's bits 6 and 7; headline is
// kNewsHeadlineRead bytes. Bytes used, 0 while incomplete, -1 after an ERROR
// line (a count of 15 or more, a headline that does not fit).
// Minimal version: replaced when the news records are built.
int decnews_decode_summary(char* code, uint32_t* number, ss_time* time, uint32_t codes[kNewsCodes], uint32_t* flags,
                           char* headline, const uint8_t* data, int32_t n);
