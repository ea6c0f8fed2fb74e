// News summary items: the writer, the mirror of decnews.h.
// Minimal version: replaced when the news records are built.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "sstime.h"

constexpr int kNewsItemMax = 115;  // bytes of the longest item written

// One item into `out` (kNewsItemMax bytes of room): the code when not null,
// number, time, the byte of the type count (leading non-zero codes, at most
// 14) and flags 0x4 / 0x1, the type bytes and the headline (its first 79
// characters). The length, or -1 after an ERROR line (15 types, a type code
// above 255). codes may be null.
// Minimal version: replaced when the news records are built.
int encnews_encode(uint8_t* out, const char* code, uint32_t number, ss_time time, const uint32_t* codes,
                   uint32_t flags, const char* headline);
// The same appended to a growbuf: 0, or -1 with the growbuf as it was.
int encnews_encode_summary(growbuf* gb, const char* code, uint32_t number, ss_time time, const uint32_t* codes,
                           uint32_t flags, const char* headline);
int encnews_max_size(void);
