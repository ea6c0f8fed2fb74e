// News summary items: one news item of an issuer as the day's news summary and
// the news files carry it (number, time, type codes, flags, headline), and the
// writer of the same layout.
//
// Layout: [packed code] news number (4 bytes), time (4 bytes), a byte T whose
// low 6 bits count the type codes (at most 14), bit 6 flag 4 and bit 7 flag 1,
// that many type bytes, the headline as a string.
#pragma once
#include <cstdint>

#include "growbuf.h"
#include "sstime.h"

constexpr int kNewsMaxTypes = 14;      // type codes one item carries
constexpr int kNewsTypeSlots = 15;     // the caller's array: unread codes are 0
constexpr int kNewsHeadlineRead = 100; // the reader's headline buffer (99 + NUL)
constexpr int kNewsMaxItem = 115;      // the writer's longest item

// One item. code: kCodeSize bytes, or null when the item carries no code.
// types: kNewsTypeSlots values. headline: kNewsHeadlineRead bytes. Bytes used,
// 0 while incomplete, -1 after an ERROR line (15 or more types, a headline
// that does not fit, a bad field).
int decnews_decode_summary(char* code, uint32_t* number, ss_time* time, uint32_t types[kNewsTypeSlots],
                           uint32_t* flags, char* headline, const uint8_t* data, int32_t n);
// Writes one item into out (kNewsMaxItem bytes of room) and returns its
// length, or -1 after an ERROR line. types: up to 15 values, the leading
// non-zero ones are written; a headline longer than 99 bytes is cut.
int encnews_encode(uint8_t* out, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                   uint32_t flags, const char* headline);
// Appends one item to gb; 0 or -1.
int encnews_encode_summary(growbuf* gb, const char* code, uint32_t number, ss_time time, const uint32_t* types,
                           uint32_t flags, const char* headline);
int encnews_max_size(void);
