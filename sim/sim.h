// The market simulator: a market-data server on loopback, driven by a
// scenario (users, exchanges with their message streams, instruments) and a
// seed, for tests and for running the terminal without the real service.
//
// A scenario is built with the calls below, then sim_start listens on
// 127.0.0.1. Each connection runs on its own thread: greeting, challenge,
// sign-on check, the accept sequence with the catch-up of every exchange's
// stream, then live stream data and answers to requests. Every request
// received is kept in a transcript that tests read and wait on. All calls
// are thread-safe; every wait is bounded by its caller's timeout.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sstime.h"

struct sim_server;

constexpr int kSimExchanges = 4;
constexpr int32_t kSimReplyBytes = 308;       // server reply to the greeting
constexpr int32_t kSimNameBytes = 16;         // server name at the reply's start
constexpr int32_t kSimChallengeBytes = 256;   // then the challenge
constexpr int32_t kSimSessionOffset = 272;    // then the session value, big-endian
constexpr uint32_t kSimProtocolVersion = 6;

// Server error codes the simulator sends in message 255.
constexpr uint32_t kSimErrLinkLost = 1;  // sub-code: 1 another login, 3 disabled, 4 logged out, 5 for a while
constexpr uint32_t kSimErrUnknownUser = 10;
constexpr uint32_t kSimErrBadPassword = 11;
constexpr uint32_t kSimErrTryAgain = 12;
constexpr uint32_t kSimErrResubscribe = 13;
constexpr uint32_t kSimErrDisabled = 15;
constexpr uint32_t kSimErrUpdate = 18;
constexpr uint32_t kSimErrRequest = 20;  // sub-code: the failed request's kind

// Transcript kinds besides the request kinds 1-264.
constexpr int32_t kSimGreeting = 1000;
constexpr int32_t kSimSignOn = 1001;
constexpr int32_t kSimBadInput = 1002;  // bytes that are no request; the link is closed

struct sim_options {
  uint64_t seed = 1;
  std::string name = "ambit-sim";  // server name in the reply, at most 16 bytes
  // A second login of the same user ends the first one with error 1, sub-code 1.
  bool single_session = false;
  // The monotonic clock (milliseconds) the exchanges' clocks run by; null:
  // the steady clock. A test seam.
  int64_t (*clock_ms)(void) = nullptr;
};

struct sim_user {
  std::string name;
  std::string password;
  uint8_t kind = 0;
  uint32_t id = 1;
  uint32_t exchange_bits = 0x7;  // bit 0 exchange 0, bit 1 exchange 1, bit 2 exchange 3
  uint32_t refuse_code = 0;      // nonzero: every login of the user is refused with it
  uint32_t refuse_sub = 0;
};

struct sim_exchange {
  uint32_t index = 0;  // 0-3; exchange 2 is sent to every user
  std::string name;
  ss_time date = 0;
  // The server's time when the exchange is added. Its clock runs on from
  // there: message 54 at a sign-on carries the time then (0 stays 0).
  ss_time time = 0;
  int32_t offset = 0;
  bool brokers = false;
  uint8_t state = 0;  // trading state sent at sign-on (170)
};

enum sim_mode : int {
  SIM_NORMAL = 0,
  SIM_SILENT,       // reads and records everything, sends nothing
  SIM_CLOSE_AFTER,  // closes the link once `bytes` bytes have been sent
  SIM_GARBAGE,      // after the accept sequence sends an unknown message and random bytes
  SIM_NO_READ,      // after the accept sequence never reads again
  SIM_DRIP,         // sends one byte per write, `delay_ms` apart
  SIM_REFUSE,       // refuses every login with `code` and `sub`
};

struct sim_misbehaviour {
  sim_mode mode = SIM_NORMAL;
  int32_t bytes = 100;
  int32_t delay_ms = 1;
  uint32_t code = kSimErrTryAgain;
  uint32_t sub = 0;
};

struct sim_file {
  std::string name;
  uint8_t md5[16];
};

// One transcript entry. Fields not named for a kind stay 0, empty or -1.
//   greeting:        a = protocol version
//   sign-on:         text = user, site, a = options, b = master number,
//                    c = platform code, files, data = the 32-byte response,
//                    signatures/positions by exchange index (position
//                    0xffffffff when the exchange was not sent)
//   1 save config:   a = flag, data = the configuration bytes
//   2 sign off:      a = restart flag
//   3 password:      data = the 64-byte block, text = the new password when the
//                    block decrypted with the link's sign-on key to a valid one
//   10-13, 20, 21, 50, 51, 60, 61, 111: exchange, code
//   30, 31, 32, 62, 63, 70: exchange, code, date
//   34:              exchange, date
//   64:              exchange, code, date (first day), date2 (last day)
//   80:              exchange, a = position field
//   81:              exchange, a = comparison set, b = flag
//   90 heartbeat, 92 acknowledgement request: nothing
//   93 unstall:      positions of exchanges 0-3
//   110:             exchange, code, a = news number
//   130:             a = block number, data = the encrypted block (vint and bytes)
//   bad input:       data = up to 64 of the bytes that could not be read
struct sim_entry {
  int32_t conn = 0;  // connection number, from 1 in accept order
  int32_t kind = 0;
  int32_t exchange = -1;
  std::string code;
  std::string text;
  std::string site;
  ss_time date = 0;
  ss_time date2 = 0;
  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t c = 0;
  uint32_t signatures[kSimExchanges] = {0, 0, 0, 0};
  uint32_t positions[kSimExchanges] = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
  std::vector<sim_file> files;
  std::vector<uint8_t> data;
};

struct sim_stats {
  int32_t connections = 0;  // accepted
  int32_t greetings = 0;
  int32_t sign_ons = 0;     // complete sign-on messages read
  int32_t logins = 0;       // accepted and sent the accept sequence
  int32_t refusals = 0;     // answered with error 255 and closed
  int32_t online = 0;       // links open now after an accepted login
  int32_t closed = 0;       // links closed, for any reason
  int64_t bytes_sent = 0;   // bytes written to the links
  int64_t writes = 0;       // writes that moved at least one byte
  int64_t pauses = 0;       // pauses taken between the bytes of a drip
  int32_t snapshots = 0;    // exchange snapshots served: streams read from their start
};

// Life. sim_create never fails; sim_destroy stops a running server first.
sim_server* sim_create(const sim_options& options);
void sim_destroy(sim_server* sim);
// Listens on 127.0.0.1:port (0: an ephemeral port). Returns the port, or -1
// after an ERROR line. sim_stop closes every link and joins every thread.
int sim_start(sim_server* sim, uint16_t port);
void sim_stop(sim_server* sim);
int sim_port(sim_server* sim);

// Scenario. Adding a user or exchange that exists replaces its settings (an
// exchange keeps its stream). 0, or -1 after an ERROR line.
int sim_add_user(sim_server* sim, const sim_user& user);
// Replaces the configuration kept for a user added before (sent to it at
// its next sign-on as message 42). -1 for an unknown user.
int sim_set_user_config(sim_server* sim, const std::string& name, const std::vector<uint8_t>& config);
int sim_add_exchange(sim_server* sim, const sim_exchange& exchange);
// An instrument the server knows; requests about any other are refused with
// error 20 and the request kind as sub-code.
int sim_add_instrument(sim_server* sim, uint32_t index, const char* code);
// A stock's name: an exchange notice of the name kind (1), numbered after
// the exchange's notices so far (from 1). The request for the exchange's
// notices (80, from a number: the client's position plus one) is answered
// with those from that number on (0 counts as 1) as message 211, whose
// position is the last number; with none, nothing is sent. 0, or -1 after an ERROR line (unknown exchange, a name too
// long for a notice).
int sim_set_stock_name(sim_server* sim, uint32_t index, const char* code, const std::string& name);
// An earlier day of a stock: its saved stream (a sim_market with
// stock_stream taken), answered to the request for that day's events. 0, or
// -1 after an ERROR line.
int sim_set_past_day(sim_server* sim, uint32_t index, const char* code, ss_time date,
                     const std::vector<uint8_t>& stream);
// Applies to connections accepted from now on.
void sim_set_misbehaviour(sim_server* sim, const sim_misbehaviour& how);
// "normal", "silent", "close:N", "garbage", "no-read", "drip:MS",
// "refuse:CODE[:SUB]"; 0, or -1 for a text it does not know.
int sim_parse_misbehaviour(const char* text, sim_misbehaviour* out);

// Exchange streams. sim_append adds complete messages of the exchange's data
// stream (messages that count toward the client's stream position, and no
// exchange selection: the simulator selects the exchange itself) as one unit:
// a client may resume at the start of any unit. Sessions online get the
// bytes at once. 0, or -1 for an unknown exchange.
int sim_append(sim_server* sim, uint32_t index, const void* bytes, int32_t n);
// A new stream with a new signature. It opens with message 166 (the
// signature, position 0), sent at once to the sessions online after the
// exchange's selection; counted like any stream message, it leaves every
// client's position at the stream's length.
int sim_new_day(sim_server* sim, uint32_t index);
uint32_t sim_signature(sim_server* sim, uint32_t index);
// Summary messages (which do not count toward the stream position) served in
// the catch-up of every client that reads exchange `index`'s stream from its
// start, before the stream (sim_snapshot.h writes them). 0, or -1 for an
// unknown exchange.
int sim_set_snapshot(sim_server* sim, uint32_t index, const std::vector<uint8_t>& bytes);
uint32_t sim_stream_length(sim_server* sim, uint32_t index);
// A copy of exchange `index`'s stream as written so far (empty when unknown).
std::vector<uint8_t> sim_stream_bytes(sim_server* sim, uint32_t index);

// Sessions. `user` null means every session online. Each returns the
// number of sessions it reached.
// Queues control messages (not stream data) to the sessions; close_after
// closes each link once they are sent.
int sim_send(sim_server* sim, const char* user, const void* bytes, int32_t n, bool close_after);
// Error 255 with the code and sub-code, then the link is closed.
int sim_kick(sim_server* sim, const char* user, uint32_t code, uint32_t sub);
// Asks the user's sessions to restart, as a program update without files
// does (the version text, then the write). Sessions reached, or -1.
int sim_request_restart(sim_server* sim, const char* user);
// Closes the links at once, without a message.
int sim_disconnect(sim_server* sim, const char* user);

// Transcript and waits.
std::vector<sim_entry> sim_transcript(sim_server* sim);
sim_stats sim_get_stats(sim_server* sim);
// The index of the first entry of `kind` at or after `from`, copied to out
// (may be null); -1 when none came within timeout_ms.
int sim_wait_entry(sim_server* sim, int32_t kind, size_t from, int32_t timeout_ms, sim_entry* out);
// True once `logins` logins in all have been accepted, within timeout_ms.
bool sim_wait_logins(sim_server* sim, int32_t logins, int32_t timeout_ms);
// True once `closed` links in all have closed, within timeout_ms.
bool sim_wait_closed(sim_server* sim, int32_t closed, int32_t timeout_ms);

// Scripted market ---------------------------------------------------------------
//
// The stocks of one exchange whose depth, quotes and trades the simulator
// writes as the server's messages, with its own reference copy of each stock:
// the order book as the client must hold it, quote prices, last price,
// volume and trades. Each operation writes the shortest message type that
// carries it into the market's pending unit and applies it to the reference;
// a flush hands the unit to the exchange's stream (or to the caller). Every
// message is also kept in a journal, so a test can compare what the client
// reported. One thread at a time per market. Positions count orders from 1
// at the head of a side; bids are kept highest first, offers lowest first
// (the market is not meant for the reversed books of NZX numbered codes).

constexpr uint32_t kSimKeepPrice = 0xFFFFFFFFu;  // change top: the head's price
constexpr uint64_t kSimKeepVolume = UINT64_MAX;  // change top: the head order's volume

struct sim_market;

struct sim_market_options {
  uint32_t index = 0;    // the exchange (0-3)
  bool brokers = false;  // its depth and trades carry brokers
  bool speeds = false;   // name stocks by speed number once they have one
  bool journal = true;   // keep the journal of every message written
  ss_time date = 0;      // the exchange's date, which queue order times are told from
  // Written as the saved stream of one stock (stock-stream headers), as a
  // past day's fill carries it (sim_set_past_day): scripts of one code only.
  bool stock_stream = false;
};

struct sim_level {
  uint32_t price = 0;
  std::vector<uint64_t> orders;      // volumes, head of the queue first
  std::vector<std::string> brokers;  // each order's broker (with brokers), else empty
};

// A trade the market wrote, as the client's trade list must hold it.
struct sim_trade {
  ss_time time = 0;
  uint32_t price = 0;
  uint64_t volume = 0;
  std::string buyer, seller;  // with brokers
};

struct sim_stock_ref {
  std::string code;
  std::vector<sim_level> sides[2];  // bid, offer; the better price first
  uint32_t price_ref = 0;           // running reference of the price fields
  uint32_t close = 0, open = 0, high = 0, low = 0, last = 0;
  uint64_t volume = 0;
  uint32_t trades = 0;
  std::vector<sim_trade> trade_list;  // in the order written
  uint32_t top(int side) const { return sides[side].empty() ? 0 : sides[side].front().price; }
  uint32_t orders(int side) const;
};

// One message written. Depth messages change the book only (the client lists
// no event for them, it sets the depth change bit); a trade lists a trade
// event; a quote lists a quote event only when it changed a price (`quoted`).
struct sim_journal_entry {
  std::string code;
  uint32_t type = 0;
  ss_time time = 0;
  uint32_t price = 0;  // trade price; quote: the last price after it
  uint64_t volume = 0;
  bool quoted = false;
  uint32_t close = 0, open = 0, high = 0, low = 0, last = 0;  // quote: the figures after it
};

sim_market* sim_market_create(const sim_market_options& options);
void sim_market_destroy(sim_market* m);

// Each returns the message type written, or -1 after an ERROR line when the
// operation does not fit the reference (nothing is written then). Brokers
// are written only with options.brokers (null: the market picks one).
int sim_market_add(sim_market* m, const char* code, ss_time time, int side, uint32_t price, uint64_t volume,
                   const char* broker = nullptr);
int sim_market_amend(sim_market* m, const char* code, ss_time time, int side, uint32_t position, uint64_t volume);
int sim_market_delete(sim_market* m, const char* code, ss_time time, int side, uint32_t position);
// The head order of a side goes to the end of the level of `price` (or of
// its own price) with `volume` (or its own volume).
int sim_market_change_top(sim_market* m, const char* code, ss_time time, int side, uint32_t price, uint64_t volume,
                          const char* broker = nullptr);
// prices: previous close, open, high, low, last for the flag bits 0x01-0x10.
int sim_market_quote(sim_market* m, const char* code, ss_time time, uint8_t flags, const uint32_t prices[5]);
// A trade at the stock's last price is written as type 30.
int sim_market_trade(sim_market* m, const char* code, ss_time time, uint32_t price, uint64_t volume,
                     const char* buyer = nullptr, const char* seller = nullptr);

// The stock's whole queue of one side as one message (60 bids, 61 offers),
// its orders stamped `time`: what a client's side is after it. The type, or
// -1 (a queue too long for one message, no such stock).
int sim_market_queue(sim_market* m, const char* code, ss_time time, int side);

// n random operations of every kind over the stocks named (added to the
// market as needed), zero to two seconds apart from *time on, which moves
// on. The same seed writes the same messages. Returns n, or -1 when an
// operation could not be written.
int32_t sim_market_script(sim_market* m, uint64_t seed, const std::vector<std::string>& codes, int32_t n,
                          ss_time* time);
// The i-th made-up stock code of a script (three capitals, then four).
std::string sim_market_code(uint32_t i);

// The pending unit: flush appends it to exchange options.index of the server
// (0, -1 when sim_append refuses) and, under the same lock, gives the server
// the market's books as they stand after it: the server answers depth and
// trade-list requests (kinds 10-13, 50, 51, 60, 61) from them, so an answer
// always matches the stream sent before it. take appends the unit to `out`. Either way the
// next message names its stock and time in full, so a client may start
// reading at the unit's first byte.
int sim_market_flush(sim_market* m, sim_server* sim);
void sim_market_take(sim_market* m, std::vector<uint8_t>* out);
size_t sim_market_pending(const sim_market* m);

const sim_stock_ref* sim_market_stock(const sim_market* m, const char* code);
std::vector<std::string> sim_market_codes(const sim_market* m);
const std::vector<sim_journal_entry>& sim_market_journal(const sim_market* m);
// Messages written so far, by type (index 0-255).
const std::vector<uint32_t>& sim_market_type_counts(const sim_market* m);
