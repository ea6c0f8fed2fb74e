// Readers of the codec's field encodings: fixed-width integers, variable
// length integers, strings and blobs, instrument and broker codes, dates,
// times, prices, volumes and index values.
//
// Every reader takes the input position and the number of bytes available
// from there and returns the bytes it used, 0 when the available bytes do not
// yet hold the whole field (outputs, the reference price and the reference
// time are then as they were), or -1 after an ERROR line when the bytes are
// not a valid field (the reference price and time are then also unchanged).
// Multi-byte fixed-width integers are big-endian.
#pragma once
#include <cstdint>

#include "sstime.h"

constexpr int kCodecCodeChars = 11;                  // characters of an instrument code
constexpr int kCodecCodeBytes = kCodecCodeChars + 1;  // a code field with its NUL
constexpr int kCodecBrokerPackedChars = 7;           // characters of the packed broker form
constexpr int32_t kTimeOffsetMaxSeconds = 86400;     // larger offsets are absolute times

// Characters of instrument codes by their 6-bit index: 0 ends a code, 1-26
// "A"-"Z", 27 space, 28-37 "0"-"9", 38-63 "a"-"z".
inline constexpr char kCodecAlphabet[65] = "\0ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789abcdefghijklmnopqrstuvwxyz";

// Fixed-width fields. The byte, short and uint32 readers sit in every
// record header, so they are inline.
inline int decode_byte(const uint8_t* in, int32_t avail, uint8_t* value) {
  if (avail < 1) return 0;
  *value = in[0];
  return 1;
}
inline int decode_short(const uint8_t* in, int32_t avail, uint16_t* value) {
  if (avail < 2) return 0;
  *value = static_cast<uint16_t>(in[0] << 8 | in[1]);
  return 2;
}
int decode_int24(const uint8_t* in, int32_t avail, uint32_t* value);
// Four big-endian bytes; the four names are the same reader.
int decode_int32(const uint8_t* in, int32_t avail, uint32_t* value);
inline int decode_uint32(const uint8_t* in, int32_t avail, uint32_t* value) {
  if (avail < 4) return 0;
  *value = static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
           static_cast<uint32_t>(in[2]) << 8 | in[3];
  return 4;
}
int decode_uint32_alt(const uint8_t* in, int32_t avail, uint32_t* value);
int decode_index_value32(const uint8_t* in, int32_t avail, uint32_t* value);
// Copies n bytes to dst; 0 while fewer are available, -1 for n < 0.
int decode_raw(const uint8_t* in, int32_t avail, void* dst, int32_t n);

// Variable-length integers: vint (1-5 bytes, unsigned 32-bit), vlong
// (1-8 bytes, below 2^61) and the signed 64-bit form (a sign byte and a vlong).
int decode_vint(const uint8_t* in, int32_t avail, uint32_t* value);
int decode_vlong(const uint8_t* in, int32_t avail, uint64_t* value);
int decode_vlong_signed(const uint8_t* in, int32_t avail, int64_t* value);

// A length byte and that many bytes. *size is the capacity of dst on entry
// and the text length on return; the text is NUL-terminated. A text that
// does not fit with its NUL is -1 (size set to its length) as soon as the
// length byte is read.
int decode_string(const uint8_t* in, int32_t avail, char* dst, int32_t* size);
// A vint length n and n bytes, copied without terminator. *size is the
// capacity on entry; on return n, or -1 while incomplete. A length above the
// capacity is -1 (size set to n, saturated at INT32_MAX) as soon as the
// length is read, so a hostile length cannot stall the stream.
int decode_vbytes(const uint8_t* in, int32_t avail, void* dst, int32_t* size);

// An instrument code of 0-11 characters into dst (cap bytes, NUL included;
// kCodecCodeBytes always suffices). -1 when the code would not fit dst or a
// literal code claims more than 11 characters.
int decode_code(const uint8_t* in, int32_t avail, char* dst, int32_t cap);
// A broker: a one-byte id of the broker table (ssbroker.h) or the packed
// form of up to 7 characters. -1 for an id the table does not know or a code
// that does not fit cap bytes.
int decode_broker(const uint8_t* in, int32_t avail, char* dst, int32_t cap);

// The date of a packed time (second of the day 0) from two bytes.
int decode_date16(const uint8_t* in, int32_t avail, ss_time* date);

// A time told from the readers' running reference time, which becomes the
// time read. The reference is process-wide and not locked: only the thread
// that decodes the stream uses it.
int decode_time_delta(const uint8_t* in, int32_t avail, ss_time* time);
void decode_set_ref_date(ss_time t);
ss_time decode_ref_date(void);

// A vint read as signed v: -86400..86400 is that many seconds from *running,
// any other value is an absolute packed time (-1 when it is not a valid
// dated time; *out then receives v). *running and *out become the time.
int decode_time_offset(const uint8_t* in, int32_t avail, ss_time* running, ss_time* out);
// True when t is a real second of a real day (month 1-12, a day within the
// month, second of the day below 86400): the absolute times a time offset
// may carry.
bool decode_time_is_valid(ss_time t);

// A price in hundredths of a cent. ref (may be null) is the caller's running
// reference price: the relative forms need it, and every form but the wide
// one replaces it with the price read when that price is not 0.
int decode_price(const uint8_t* in, int32_t avail, uint32_t* price, uint32_t* ref);
// A share count; the one-byte forms carry round counts.
int decode_volume(const uint8_t* in, int32_t avail, uint64_t* volume);
// An index value below 2^30 in 2-4 bytes.
int decode_index(const uint8_t* in, int32_t avail, uint32_t* value);
// A signed index change in 1-3 bytes.
int decode_index_change(const uint8_t* in, int32_t avail, int32_t* change);
