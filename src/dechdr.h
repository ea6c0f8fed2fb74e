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
#include <cstdint>

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
int dechdr_is_index_type(uint32_t type);

// code: kCodeSize bytes. speed: the speed the header carried, else -1.
int dechdr_decode_exchange_header(const uint8_t* data, int32_t n, ss_exchange* ex, int stepped, uint32_t* type,
                                  ss_time* time, char* code, int32_t* speed);
int dechdr_decode_timed(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t* type, ss_time* time, char* code,
                        int32_t* speed);
int dechdr_decode_stepped(const uint8_t* data, int32_t n, ss_exchange* ex, uint32_t* type, ss_time* time,
                          char* code, int32_t* speed);
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
void dechdr_save(dechdr_state* st, ss_exchange* ex, ss_stock* stock);
void dechdr_restore(const dechdr_state* st);
