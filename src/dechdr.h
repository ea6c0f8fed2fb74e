// Readers of record headers: the record's type, the instrument it is about
// and its time, told relative to header state kept on the exchange (current
// code, current time, highest time seen, speed tables) or, for the saved
// stream of one stock, relative to the stock's stream time.
//
// Every reader returns the bytes it used, 0 while the header is incomplete,
// or -1 after an ERROR line on bad data; on 0 and -1 no state has changed.
// On success the exchange (or stock) state moves on as the header says. An
// exchange or stock given as null makes a reader step over the bytes; what
// needs the exchange's state then fails. Out-parameters may be null.
//
// Head byte: bits 4-0 the type (0: the type follows in the next byte), bits
// 7-5 the code relation (timed form: bit 5 the time flag, bits 7-6 the
// relation), the step (stepped form) or the time class (stock-stream form).
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "decode.h"
#include "growbuf.h"
#include "ssmodel.h"

constexpr uint32_t kHeaderTypeBits = 0x1F;  // types 1-31 fit the head byte
constexpr uint32_t kHeaderRunType = 27;     // a run block of stepped records
constexpr uint32_t kHeaderTimeFlag = 0x20;  // timed form: a 4-byte time follows
constexpr int32_t kHeaderMaxSteps = 259;    // stepped form: 1-4 in the head, 5 + byte up to 259
constexpr int kHeaderRoom = 18;             // longest header: 2 type, 12 code, 4 time

// Timed-form code relations (bits 7-6).
constexpr int kRelSame = 0;
constexpr int kRelNext = 1;  // last character of the current code plus one
constexpr int kRelSpeed = 2;
constexpr int kRelCode = 3;
// Stepped-form codes (bits 7-5) beyond the plain steps 1-4.
constexpr int kStepByte = 5;  // a byte m follows: m + 4 places on
constexpr int kStepSpeed = 6;
constexpr int kStepCode = 7;
// Stock-stream time classes (bits 7-5).
constexpr int kClassByte = 6;  // a byte of seconds follows
constexpr int kClassTime = 7;  // the time follows as 4 bytes

// Index records name their index by a one-byte index speed and never step.
inline int dechdr_is_index_type(uint32_t type) { return type == 31 || type == 80 || type == 83; }

// Copies a code of at most kCodeMax characters, zero-filled to kCodeSize (as
// every code field the headers write is, so whole fields compare and copy
// alike). The source field may hold anything past its NUL (a record keyed
// from a shorter code keeps whatever its key buffer held there), so it is
// read as two words and everything from the first NUL on is masked off: a
// dozen instructions and no loop. dst may be src.
inline void dechdr_code_field(char* dst, const char* src) {
  static_assert(std::endian::native == std::endian::little, "the masks count bytes from the low end");
  static_assert(kCodeSize == 12 && kCodeMax == 11);
  uint64_t lo;
  uint32_t hi;
  memcpy(&lo, src, sizeof lo);
  memcpy(&hi, src + sizeof lo, sizeof hi);
  hi &= 0x00FFFFFFu;  // the twelfth byte is never a character
  // The lowest flagged byte of a word is its first zero byte (a borrow only
  // moves upwards, so only flags above a real zero byte can be false).
  const uint64_t lo_zero = (lo - 0x0101010101010101ull) & ~lo & 0x8080808080808080ull;
  if (lo_zero) {
    lo &= (uint64_t(1) << (std::countr_zero(lo_zero) - 7)) - 1;
    hi = 0;
  } else {
    const uint32_t hi_zero = (hi - 0x01010101u) & ~hi & 0x80808080u;  // never 0: the top byte is
    hi &= (uint32_t(1) << (std::countr_zero(hi_zero) - 7)) - 1;
  }
  memcpy(dst, &lo, sizeof lo);
  memcpy(dst + sizeof lo, &hi, sizeof hi);
}

// Whether a record's code field (NUL-terminated within kCodeSize, anything
// after it) holds the code of a zero-filled field: strncmp over kCodeSize
// says the same, for a fraction of the instructions.
inline bool dechdr_same_code(const char* record, const char* field) {
  char own[kCodeSize];
  dechdr_code_field(own, record);
  return memcmp(own, field, kCodeSize) == 0;
}

// The type from the head byte, or from the byte after it when the head's
// type bits are 0 (any header form). Bytes used, or 0 while incomplete.
inline int dechdr_read_type(const uint8_t* data, int32_t n, uint32_t* type) {
  if (n < 1) return 0;
  if (data[0] & kHeaderTypeBits) {
    *type = data[0] & kHeaderTypeBits;
    return 1;
  }
  if (n < 2) return 0;
  *type = data[1];
  return 2;
}

// Starts fetching an instrument record's first kBytes. A speed names the
// instrument the message is about, and its handler goes on to touch those
// fields; fetched now, those misses overlap the one on its code instead of
// stalling one after another later. Only a hint: nothing is read. One
// prefetch per line, unrolled.
template <size_t kBytes>
inline void dechdr_warm(const void* record) {
  constexpr size_t kLine = 64;
  const char* p = static_cast<const char*>(record);
#pragma GCC unroll 16
  for (size_t off = 0; off < kBytes; off += kLine) __builtin_prefetch(p + off, 1);
}

// The exchange's header state moves on to a header read whole: its code (a
// whole field; empty: the code stays) and its time.
inline void dechdr_commit(ss_exchange* ex, const char* code, ss_time time) {
  if (code[0]) memcpy(ex->cur_code, code, kCodeSize);
  ex->cur_time = time;
  // An invalid time would stick as the highest forever.
  if (time != 0 && time < kSstimeFirstInvalid && time > ex->high_time) ex->high_time = time;
}

// code: kCodeSize bytes. speed: the speed the header carried, else -1.
int dechdr_decode_exchange_header(const uint8_t* data, int32_t n, ss_exchange* ex, int stepped, uint32_t* type,
                                  ss_time* time, char* code, int32_t* speed);

// Most records of a live stream have a timed header with the type in the
// head byte and a stock named by its speed, at the same time or a time given
// in full: that form is read inline, exactly as the full reader reads it.
// Bytes used, or 0 for any other header, a speed the table lacks or too few
// bytes, all left to the full reader (which then says which it is); nothing
// is written then.
inline int dechdr_decode_timed_speed(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t* type_out,
                                     ss_time* time_out, char* code_out, int32_t* speed_out) {
  constexpr int kSpeedHeader = 3, kTimedSpeedHeader = 7;  // head, speed, and the time
  if (n < kSpeedHeader || !ex) return 0;
  const uint8_t head = data[0];
  const uint32_t type = head & kHeaderTypeBits;
  if (type == 0 || head >> 6 != kRelSpeed || dechdr_is_index_type(type)) return 0;
  const bool timed = head & kHeaderTimeFlag;
  if (timed && n < kTimedSpeedHeader) return 0;
  const uint32_t speed = uint32_t(data[1]) << 8 | data[2];
  if (speed >= ex->speed_count || !ex->speeds[speed]) return 0;
  const ss_stock* in = ex->speeds[speed];
  dechdr_warm<kStockHotBytes>(in);
  char code[kCodeSize];
  dechdr_code_field(code, in->code);
  ss_time time = ex->cur_time;
  if (timed) decode_uint32(data + kSpeedHeader, n - kSpeedHeader, &time);
  dechdr_commit(ex, code, time);
  if (type_out) *type_out = type;
  if (time_out) *time_out = time;
  if (code_out) memcpy(code_out, code, kCodeSize);
  if (speed_out) *speed_out = int32_t(speed);
  return timed ? kTimedSpeedHeader : kSpeedHeader;
}

inline int dechdr_decode_timed(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t* type, ss_time* time,
                               char* code, int32_t* speed) {
  const int r = dechdr_decode_timed_speed(data, n, ex, type, time, code, speed);
  return r ? r : dechdr_decode_exchange_header(data, n, ex, 0, type, time, code, speed);
}
inline int dechdr_decode_stepped(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t* type, ss_time* time,
                                 char* code, int32_t* speed) {
  return dechdr_decode_exchange_header(data, n, ex, 1, type, time, code, speed);
}
// Starts fetching the stock record that the timed-form header at `data` names
// by its speed: called on the message after the one being applied, so that
// its misses overlap this one's work. Only a hint: reads the header bytes and
// the speed table, changes nothing.
void dechdr_warm_next(const uint8_t* data, int32_t n, const ss_exchange* ex);
// The stock's stream time becomes the header's time.
int dechdr_decode_stock_header(const uint8_t* data, int32_t n, ss_stock* stock, uint32_t* type, ss_time* time);

// The code of the stock k places (k >= 1) after the exchange's current code
// in its current-stock list; 0, or -1 after an ERROR when the list ends
// first, the current code is not in the list or there is no exchange.
int dechdr_next_code(char* out, ss_exchange* ex, int32_t k);
// The instrument k places (k >= 0) after the current code's instrument in
// the current-stock list (current-index list when `index` is set); null when
// the list ends first or the current code names no instrument in the list.
instr* dechdr_step(ss_exchange* ex, int index, int32_t k);

// A timed run header (type 27) and the framed block after it, whose payload
// (records with stepped headers) is appended to `records`.
int dechdr_decode_run(const uint8_t* data, int32_t n, ss_exchange* ex, growbuf* records, ss_time* time);

// Speed tables: give the instrument the next free speed of its exchange
// unless it has one. Returns its speed, or -1 when the table is full.
int32_t dechdr_add_stock_speed(ss_stock* stock);
int32_t dechdr_add_index_speed(ss_index* index);

// Everything a header or the message after it may move: the exchange's
// current code, current time, highest time seen and speed-table counts, and
// a stock's stream time. Restoring takes back the speeds given since the
// save (the instruments' speeds go back to -1). Either pointer may be null.
struct dechdr_state {
  ss_exchange* exchange;
  char cur_code[kCodeSize];
  ss_time cur_time;
  ss_time high_time;
  uint32_t speed_count;
  uint32_t index_speed_count;
  ss_stock* stock;
  ss_time stream_time;
};
// Inline: the dispatcher saves a header state before every message. Plain
// fixed-size copies of the fields, no clearing and no string handling; the
// code field goes back byte for byte as it was.
inline void dechdr_save(dechdr_state* st, ss_exchange* ex, ss_stock* stock) {
  st->exchange = ex;
  if (ex) {
    memcpy(st->cur_code, ex->cur_code, kCodeSize);
    st->cur_time = ex->cur_time;
    st->high_time = ex->high_time;
    st->speed_count = ex->speed_count;
    st->index_speed_count = ex->index_speed_count;
  }
  st->stock = stock;
  if (stock) st->stream_time = stock->stream_time;
}
void dechdr_restore(const dechdr_state* st);
