// Protocol framing and dispatch: cuts the server's byte stream (and streams
// saved from it) into messages, hands each to the handler of its type and
// keeps what every handler shares: the current exchange, the per-exchange
// stream positions, nesting, counters, and the restore of decoder state when
// a message is not complete yet.
//
// Everything here runs under the core lock, on the io thread or on the thread
// that replays saved streams. The stream positions, master position and
// expected byte count may also be read from other threads.
#pragma once
#include <cstdint>

#include "decode.h"
#include "growbuf.h"
#include "ssmodel.h"
#include "sstime.h"

constexpr int32_t kProtoVersion = 6;          // the protocol version this client speaks
constexpr int32_t kProtoNestingLimit = 2;     // messages at this nesting and deeper are refused
constexpr int32_t kProtoWorkBufferSize = 64000;  // work and save buffers: first size
constexpr int32_t kProtoWorkBufferStep = 8000;   // and growth step
constexpr int32_t kProtoMultiScratchSize = 2048;
constexpr int kProtoCounterPairs = 6;
constexpr int kProtoPositions = 4;            // one stream position per exchange index
constexpr uint32_t kProtoPositionNone = 0xffffffffu;
// A message that is still incomplete with this many bytes pending is refused
// as a protocol error, so garbage that claims a huge length cannot make the
// caller buffer without bound.
constexpr int32_t kProtoMaxPending = 64 * 1024 * 1024;

// The message being dispatched, as its handler sees it.
struct ssproto_msg {
  uint32_t type;
  ss_time time;            // header time
  char code[kCodeSize];    // header code
  int32_t speed;           // speed index the header used, else -1
  int32_t nesting;
  int stepped;
  ss_stock* given;         // the instrument of a saved single-stock stream, else null
  const uint8_t* data;     // the bytes after the header
  int32_t avail;           // how many of them are present
  int32_t header;          // header bytes
  int32_t used;            // bytes after the header read so far (the field readers move it)
  // Set by ssproto_take_stock: the header's stock and its price reference as
  // it was before the message, put back when the message does not complete.
  ss_stock* stock;
  uint32_t stock_ref;
};

// A handler reads its fields after the header, applies the message and
// returns the bytes of the whole message (ssproto_used: header included, so
// never 0 on success), 0 while the message is not complete (nothing applied),
// or -1 on bad data (after ssproto_trace, unless its message says otherwise).
typedef int (*ssproto_handler)(ssproto_msg* m);

// Life -------------------------------------------------------------------------

// Makes the work buffers, the save buffer and the scratch records, and sets
// the four stream positions to -1. 0, or -1 after an ERROR line. Called by
// the model's init.
int ssproto_init(void);
void ssproto_fini(void);
// Clears the expected byte count, the current exchange and all counters.
void ssproto_reset_counters(void);

// Decoding -----------------------------------------------------------------------

// The live stream: bytes used (complete messages only; the rest stays with
// the caller), or -1 on a protocol error.
int ssproto_decode(const uint8_t* bytes, int32_t length);
int ssproto_decode_messages(const uint8_t* bytes, int32_t length, int saved, ss_stock* instrument);
// A complete saved stream with timed headers, one nesting level deeper than
// the caller.
int ssproto_decode_saved(const uint8_t* bytes, int32_t length);
// The saved stream of one stock, with stock-stream headers.
int ssproto_decode_saved_for(ss_stock* instrument, const uint8_t* bytes, int32_t length);
// Every message of a block (stepped headers when `stepped`); an incomplete
// message inside is an error.
int ssproto_decode_run(const uint8_t* bytes, int32_t length, int stepped);
// One message: bytes used (> 0), 0 while incomplete (every piece of decoder
// state as it was), -1 on an error.
int ssproto_dispatch(const uint8_t* bytes, int32_t length, int32_t nesting, int stepped, ss_stock* instrument);
// The pending-input cap above (kProtoMaxPending), for the io thread's buffer.
int32_t ssproto_max_pending(void);

// For handlers -------------------------------------------------------------------

// Two ERROR lines naming the failing check (a source line), the message and
// the current exchange's header state; nothing while the connection attempt
// is being aborted.
void ssproto_trace(int check);
// Up to 256 bytes as INFO lines of 16 "%02x " each.
void ssproto_hex_dump(const uint8_t* bytes, int32_t length);
// Bytes of the whole message so far: header plus the fields read.
inline int ssproto_used(const ssproto_msg* m) { return m->header + m->used; }
// Called by a handler once its fields are read and before it applies them:
// starts fetching what the next message of the buffer names (see
// dechdr_warm_next). Only a hint.
void ssproto_warm_next(const ssproto_msg* m);

namespace ssproto_detail {
// The codec reader at the message's cursor, the cursor moved past the field
// on success; the reader's result.
template <class... Out, class... Extra>
inline int read(ssproto_msg* m, int (*reader)(const uint8_t*, int32_t, Out...), Extra... out) {
  const int r = reader(m->data + m->used, m->avail - m->used, out...);
  if (r > 0) m->used += r;
  return r;
}
}  // namespace ssproto_detail

// Field readers at the message's cursor: the codec reader's result (bytes,
// 0 incomplete, -1 bad data), moving the cursor on success. Inline: every
// handler reads its fields through them, a few a message.
inline int ssproto_read_byte(ssproto_msg* m, uint8_t* value) { return ssproto_detail::read(m, decode_byte, value); }
inline int ssproto_read_u32(ssproto_msg* m, uint32_t* value) { return ssproto_detail::read(m, decode_uint32, value); }
inline int ssproto_read_vint(ssproto_msg* m, uint32_t* value) { return ssproto_detail::read(m, decode_vint, value); }
inline int ssproto_read_vlong(ssproto_msg* m, uint64_t* value) { return ssproto_detail::read(m, decode_vlong, value); }
// kCodeSize bytes.
inline int ssproto_read_code(ssproto_msg* m, char* code) {
  return ssproto_detail::read(m, decode_code, code, int32_t(kCodeSize));
}
inline int ssproto_read_date(ssproto_msg* m, ss_time* date) { return ssproto_detail::read(m, decode_date16, date); }
inline int ssproto_read_short(ssproto_msg* m, uint16_t* value) { return ssproto_detail::read(m, decode_short, value); }
// A price against *ref (null: absolute forms only), which moves as the codec
// says; on 0 or -1 *ref is as it was.
inline int ssproto_read_price(ssproto_msg* m, uint32_t* price, uint32_t* ref) {
  return ssproto_detail::read(m, decode_price, price, ref);
}
inline int ssproto_read_volume(ssproto_msg* m, uint64_t* volume) {
  return ssproto_detail::read(m, decode_volume, volume);
}
// kCodeSize bytes.
inline int ssproto_read_broker(ssproto_msg* m, char* broker) {
  return ssproto_detail::read(m, decode_broker, broker, int32_t(kCodeSize));
}
// The header's stock (or index) in the current exchange, found or added; an
// instrument given by the caller is used directly and its exchange becomes
// current. Null after an ERROR line (no current exchange, add refused). The
// stock's price reference is saved for the restore of an incomplete message,
// and the stock gets the success steps (made current, speed index, last time).
ss_stock* ssproto_take_stock(ssproto_msg* m);
ss_index* ssproto_take_index(ssproto_msg* m);
// The running price reference of a stock's price fields (kept on the stock).
uint32_t* ssproto_price_ref(ss_stock* stock);

// Work buffer of nesting level 0 or 1 (null for another), the save buffer,
// the multi-trade scratch bytes and the stock-sized scratch record of a
// nesting level.
growbuf* ssproto_work_buffer(int32_t nesting);
growbuf* ssproto_save_buffer(void);
uint8_t* ssproto_multi_scratch(void);
ss_stock* ssproto_scratch_stock(int32_t nesting);

// State --------------------------------------------------------------------------

ss_exchange* ssproto_current_exchange(void);
void ssproto_set_current_exchange(ss_exchange* ex);
// Puts the current exchange back at the end of a scope (a reader that
// decodes saved messages of another record makes that record's exchange
// current).
class ssproto_current_guard {
 public:
  ssproto_current_guard() : saved_(ssproto_current_exchange()) {}
  ~ssproto_current_guard() { ssproto_set_current_exchange(saved_); }
  ssproto_current_guard(const ssproto_current_guard&) = delete;
  ssproto_current_guard& operator=(const ssproto_current_guard&) = delete;

 private:
  ss_exchange* saved_;
};
// The stream position of exchange i (0 to 3); -1 (all ones) until known.
uint32_t ssproto_exchange_position(int32_t i);
void ssproto_set_exchange_position(int32_t i, uint32_t value);
// Positions to -1 (reset) or 0 (zero), every exchange's signature and the
// master position to 0: the next sign on asks for every stream again.
void ssproto_reset_positions(void);
void ssproto_zero_positions(void);
uint32_t ssproto_master_position(void);
void ssproto_set_master_position(uint32_t value);
// The byte count the server announced for the catch-up; 0 when none.
uint32_t ssproto_expected_bytes(void);
int32_t ssproto_version(void);
void ssproto_set_version(int32_t version);
// Holds another protocol version for the length of a scope.
class ssproto_version_guard {
 public:
  explicit ssproto_version_guard(int32_t version) : saved_(ssproto_version()) { ssproto_set_version(version); }
  ~ssproto_version_guard() { ssproto_set_version(saved_); }
  ssproto_version_guard(const ssproto_version_guard&) = delete;
  ssproto_version_guard& operator=(const ssproto_version_guard&) = delete;

 private:
  int32_t saved_;
};

struct ssproto_counter {
  uint32_t first;
  uint32_t second;
};
void ssproto_get_counters(ssproto_counter out[kProtoCounterPairs]);
void ssproto_add_counter(int pair, uint32_t first, uint32_t second);

// Replay: set while saved data is decoded again, so nothing is saved twice.
void ssproto_set_replay(void);
void ssproto_set_live(void);
int ssproto_replaying(void);

// Test seam: replaces the handler of one type (null puts the table's back).
void ssproto_set_test_handler(uint32_t type, ssproto_handler fn);

// Test seam: what the dispatcher did with one message a handler took. The
// positions are those of the exchange current after the message (-1: none),
// read before its handler ran and after its length was counted.
struct ssproto_observed {
  uint32_t type;
  int32_t nesting;
  int32_t used;       // the message's bytes
  bool counting;      // the counting flag when the message arrived
  bool single;        // from the saved stream of one instrument
  int32_t exchange;
  uint32_t before, after;
};
typedef void (*ssproto_observer)(const ssproto_observed* o);
// Calls fn for every message a handler took, at any nesting (null: none).
// Runs on the dispatching thread under the core lock.
void ssproto_set_test_observer(ssproto_observer fn);

