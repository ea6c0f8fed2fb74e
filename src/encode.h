// Writers of the codec's field encodings, the mirror of decode.h.
//
// Every writer takes the output position and the value, and returns the
// bytes written or -1 after an ERROR line when the value cannot be encoded
// (the output is then undefined and the caller abandons the record). The
// caller reserves room for the longest form of the field: the kEncodeRoom*
// constants below.
#pragma once
#include <cstdint>

#include "sstime.h"

constexpr int kEncodeRoomVint = 5;  // also price, volume, time delta, index
constexpr int kEncodeRoomVlong = 8;
constexpr int kEncodeRoomVlongSigned = 9;
constexpr int kEncodeRoomCode = 12;  // also broker
constexpr int kEncodeRoomString = 256;

// Fixed-width fields, big-endian. byte and short refuse values that do not
// fit; the three 32-bit names are the same writer.
int encode_byte(uint8_t* out, uint32_t value);
int encode_short(uint8_t* out, uint32_t value);
int encode_int32(uint8_t* out, uint32_t value);
int encode_uint32(uint8_t* out, uint32_t value);
int encode_uint32_alt(uint8_t* out, uint32_t value);
// Copies n bytes; n < 1 writes nothing and returns n.
int encode_raw(uint8_t* out, const void* src, int32_t n);

int encode_vint(uint8_t* out, uint32_t value);
int encode_vlong(uint8_t* out, uint64_t value);  // refuses 2^61 and above
// Sign byte (0 above zero, 1 for zero and below) and the magnitude as a vlong.
int encode_vlong_signed(uint8_t* out, int64_t value);

// A NUL-terminated text of at most 255 bytes behind a length byte.
int encode_string(uint8_t* out, const char* text);
// A vint length and n bytes.
int encode_vbytes(uint8_t* out, const void* data, uint32_t n);

// An instrument code of 0-11 characters in the shortest form that carries it.
int encode_code(uint8_t* out, const char* code);
// A broker: its one-byte id when the broker table has one, else the packed
// form, which carries the first 7 characters and only "A"-"Z", space and
// "0"-"3"; a code is cut (with a WARN line) at the first other character.
int encode_broker(uint8_t* out, const char* code);

int encode_date16(uint8_t* out, ss_time date);

// A time told from the writers' running reference time, which becomes t.
// Process-wide and not locked: one writer at a time.
int encode_time_delta(uint8_t* out, ss_time t);
void encode_set_ref_date(ss_time t);
// The same against the caller's own running reference *ref (any thread).
int encode_time_delta_from(uint8_t* out, ss_time t, ss_time* ref);
ss_time encode_ref_date(void);

// A time as decode_time_offset reads it: seconds from *running when that
// reproduces t exactly, else t itself (a dated time). *running becomes t.
// -1 when t is neither reachable from *running nor a valid dated time.
int encode_time_offset(uint8_t* out, ss_time t, ss_time* running);

// A price in hundredths of a cent; ref (may be null) is the caller's running
// reference price, updated as decode_price updates it.
int encode_price(uint8_t* out, uint32_t price, uint32_t* ref);
// A share count below 2^37, or all ones (no volume, written as 0).
int encode_volume(uint8_t* out, uint64_t volume);
int encode_index(uint8_t* out, uint32_t value);          // below 2^30
int encode_index_change(uint8_t* out, int32_t change);  // -2097150..2097152
