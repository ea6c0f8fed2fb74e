// The market-data client's face towards the rest of the terminal: start and
// stop, login fields and settings, the core lock, and the request senders
// whose requests cross from the user-interface thread to the io thread
// through a lock-free ring of 256 slots.
#pragma once
#include <cstdint>

#include "sstime.h"

struct growbuf;
struct instr;
struct ss_exchange;
struct ss_index;
struct ss_issuer;
struct ss_stock;
struct ssio_progress;

// One ring slot and one private-list entry: what a request is about
// (instrument, exchange, record or null) and three arguments.
struct ss_request {
  uint32_t kind;
  void* pointer;
  uint64_t a;
  uint64_t b;
  uint64_t c;
};

constexpr int kRequestRingSlots = 256;  // at most 255 filled at once
constexpr int kPrivateRequestsMax = 512;

// Request kinds (their wire form is written by ssclient_encode).
constexpr uint32_t kReqSaveData = 1;
constexpr uint32_t kReqSignOff = 2;
constexpr uint32_t kReqChangePassword = 3;
constexpr uint32_t kReqPartialBid = 10;
constexpr uint32_t kReqPartialOffer = 11;
constexpr uint32_t kReqFullBid = 12;
constexpr uint32_t kReqFullOffer = 13;
constexpr uint32_t kReqEvents = 20;
constexpr uint32_t kReqIndexEvents = 21;
constexpr uint32_t kReqStockHistory = 30;
constexpr uint32_t kReqIndexHistory = 31;
constexpr uint32_t kReqNewsHistory = 32;
constexpr uint32_t kReqNewsSummaries = 34;
constexpr uint32_t kReqAllTrades = 50;
constexpr uint32_t kReqRecentTrades = 51;
constexpr uint32_t kReqQueuesAllTrades = 60;
constexpr uint32_t kReqQueuesRecentTrades = 61;
constexpr uint32_t kReqDayEvents = 62;
constexpr uint32_t kReqDayTrades = 63;
constexpr uint32_t kReqDaysTrades = 64;
constexpr uint32_t kReqIndexDay = 70;
constexpr uint32_t kReqFundamentals = 80;
constexpr uint32_t kReqVcmp = 81;
constexpr uint32_t kReqHeartbeat = 90;
constexpr uint32_t kReqAck = 92;
constexpr uint32_t kReqUnstall = 93;
constexpr uint32_t kReqLogNews = 110;
constexpr uint32_t kReqLogProfile = 111;
constexpr uint32_t kReqSendBlock = 130;
constexpr uint32_t kReqHttp = 256;
constexpr uint32_t kReqHttpCancel = 257;
constexpr uint32_t kReqPrevdayTrades = 262;
constexpr uint32_t kReqKindMax = 264;

// Instrument and day-record request bits the senders read and set.
constexpr uint32_t kRqBidLoaded = 0x1;
constexpr uint32_t kRqOfferLoaded = 0x2;
constexpr uint32_t kRqRecentLoaded = 0x4;
constexpr uint32_t kRqTradesLoaded = 0x8;
constexpr uint32_t kRqEventsLoaded = 0x10;
constexpr uint32_t kRqHistoryLoaded = 0x20;
constexpr uint32_t kRqFullBid = 0x40;
constexpr uint32_t kRqPartialBid = 0x80;
constexpr uint32_t kRqFullOffer = 0x100;
constexpr uint32_t kRqPartialOffer = 0x200;
constexpr uint32_t kRqRecent = 0x400;
constexpr uint32_t kRqTrades = 0x800;
constexpr uint32_t kRqEvents = 0x1000;
constexpr uint32_t kRqHistory = 0x2000;
constexpr uint32_t kRqAllRequested = 0x3fc0;
constexpr uint32_t kDayPrevdayWanted = 0x20000000;

// Options word bits sent at sign on.
constexpr uint32_t kClientOptReconnected = 0x1;
constexpr uint32_t kClientOptResumed = 0x4;
constexpr uint32_t kClientOptNoUpdate = 0x10;

// A reply body handler of an HTTP side request (io thread): returns the bytes
// it used, or -1 to end the request.
typedef int32_t (*ss_http_handler)(const uint8_t* data, int32_t length, void* context, uint32_t argument);

// Longest URL a side request takes ("http://", host, ":" port, path).
constexpr int32_t kSsHttpUrlMax = 1115;

// An HTTP side request on its way through the ring (the client's item pool).
// The URL is copied in when the request is made: the caller may free its
// text as soon as the call returns.
struct ss_http_request {
  char url[kSsHttpUrlMax + 1];
  ss_http_handler handler;
  void* context;
  uint32_t argument;
  ssio_progress* progress;  // the caller's, may be null
  int32_t id;
};

// The platform sleep's replacement (milliseconds); returns the sleep's result.
typedef int (*ssclient_sleep_fn)(int32_t ms);

// Start and stop (user-interface thread) -------------------------------------

// Makes the buffers and pools and starts the data directory, large-data
// slots, out-of-band queue, side channel, model and io, then the four
// exchanges. 0, or -1 after an ERROR line naming the part that failed.
int ssclient_init(uint32_t options, uint32_t model_mode, uint32_t exchange_flags);
void ssclient_fini(void);
// Makes the core lock when there is none yet.
void ssclient_enable_locking(void);
void ssclient_stop(void);
void ssclient_request_abort(void);
int ssclient_is_stopping(void);
int ssclient_abort_requested(void);
// 0 once the client is offline; -1 when `seconds` pass first, or on abort,
// stop or a server error. Polls every 50 ms with ssclient_sleep.
int ssclient_wait_disconnect(int32_t seconds);

// Settings ---------------------------------------------------------------------

// Login fields keep at most 31 characters. A null argument leaves its field.
void ssclient_set_login_site(const char* site);
const char* ssclient_get_login_site(void);
void ssclient_set_login(const char* user, const char* password);
// Each out-pointer (may be null) gets its field, or null when it is empty.
// -1 when the user or the password is empty.
int ssclient_get_login(const char** site, const char** user, const char** password);
void ssclient_set_reconnect_timeout(int32_t seconds);
int32_t ssclient_reconnect_timeout(void);
void ssclient_set_auto_reconnect(int on);
int ssclient_auto_reconnect(void);
// Replaces the platform sleep in ssclient_sleep and ssclient_io_sleep; null
// restores it.
void ssclient_set_sleep_hook(ssclient_sleep_fn fn);
// 0 keeps every queued request where it is until requests are enabled again.
void ssclient_enable_requests(int on);
int ssclient_requests_enabled(void);
void ssclient_set_restart(int on);
void ssclient_set_yield(uint32_t threshold, uint32_t pause_ms);
void ssclient_enable_yield(int on);
int ssclient_yield_enabled(void);

// Getters ----------------------------------------------------------------------

uint32_t ssclient_session_value(void);
int ssclient_restart_pending(void);
uint32_t ssclient_options(void);
int ssclient_logged_in(void);
int ssclient_connecting(void);
int ssclient_is_online(void);
int ssclient_login_done(void);
int ssclient_may_reconnect(void);
int ssclient_signed_off_flag(void);
int ssclient_dropped(void);
void ssclient_set_dropped(int on);
ss_time ssclient_last_data_time(void);
uint32_t ssclient_ack_count(void);
// Percent of the initial load; 99 and above read as 100, 0 without a total.
int32_t ssclient_load_progress(void);

// Core lock --------------------------------------------------------------------

// User-interface thread: take and release the core lock (the gui active hook).
void ssclient_block(void);
void ssclient_unblock(void);
// User-interface thread: sleeps with the core lock released when it holds it.
void ssclient_sleep(int32_t ms);
// Io thread: sleeps with the core lock released when it holds it.
void ssclient_io_sleep(int32_t ms);
// Io thread: take and release the core lock (ERROR when the io thread already
// holds it, or does not). Releasing zeroes the work counter.
void ssclient_io_lock(void);
void ssclient_io_unlock(void);
int ssclient_io_has_lock(void);
int ssclient_ui_has_lock(void);
int ssclient_ui_waits(void);  // the user-interface thread is waiting for the lock
// Io thread, holding the core lock, once per decoded message: counts work
// and now and then gives the lock to the user-interface thread.
void ssclient_yield_point(uint32_t units);
// User-interface thread, from the 10 ms timer: side-channel delivery, then
// change delivery.
void ssclient_deliver(void);

// Request ring -----------------------------------------------------------------

// User-interface thread: queues a request. -1 while stopping, or when the ring
// is full (after a 500 ms pause with the core lock released, except inside a
// change delivery, which must not release it and fails at once).
int ssclient_enqueue(uint32_t kind, void* pointer, uint64_t a, uint64_t b, uint64_t c);
// Requests waiting in the ring (either thread; a snapshot).
int32_t ssclient_ring_count(void);


// Request senders (user-interface thread, core lock held) -----------------------
// Each returns 0 (also when the request is already made or not needed) or -1
// after an ERROR line.

int ssclient_request_events(instr* in);
// Depth and recent trades of a stock; with all_trades, depth and all trades.
int ssclient_request_stock_events(ss_stock* stock, int all_trades = 0);
int ssclient_request_events_for_day(instr* in, ss_time date);
int ssclient_request_trades_for_day(instr* in, ss_time date);
// Trades of the days from `from` to `to` (0: not given), one month back at most.
int ssclient_request_day_trades(ss_stock* stock, ss_time from, ss_time to);
int ssclient_request_prevday_trades(ss_stock* stock, ss_time from, ss_time to);
int ssclient_request_stock_history(ss_stock* stock);
int ssclient_request_index_events(ss_index* index);
int ssclient_request_index_day(ss_index* index, ss_time date);
int ssclient_request_index_history(ss_index* index);
int ssclient_request_history(ss_issuer* issuer);
int ssclient_save_data(int flag);
int ssclient_change_password(const char* text);
int ssclient_sign_off(int flag);
// The news number's value travels with the request; the caller's variable may
// go away at once.
int ssclient_log_news_item(instr* in, const uint32_t* number);
int ssclient_log_profile(instr* in);
// Returns the request's id (from 1), or -1.
int32_t ssclient_request_http(const char* url, ss_http_handler handler, void* context, uint32_t argument,
                              ssio_progress* progress);
int ssclient_cancel_http(int32_t id);
int ssclient_send_block(uint32_t number, const void* data, int32_t length);


// Usage log: entries of news items and profiles opened in the last day.
int32_t ssclient_usage_count(void);

// Io thread ----------------------------------------------------------------------

// The io thread's own requests: at most 512, an entry equal in kind, pointer,
// a and b to a listed one is not added again (kind 256 excepted).
int ssclient_private_request(uint32_t kind, void* pointer, uint64_t a, uint64_t b);


// Private twins of the senders, called while the io thread applies messages.
int ssclient_private_trades(ss_stock* stock);
int ssclient_private_depth(ss_stock* stock);
int ssclient_private_partial_depth(ss_stock* stock, int side);
int ssclient_private_events(instr* in);
int ssclient_private_stock_history(ss_stock* stock);
int ssclient_private_history(ss_issuer* issuer);
int ssclient_private_vcmp(int32_t exchange, uint32_t set, int flag);


// Test seams: the client state the io thread keeps for itself. Nothing in the
// engine calls these; tests set the state directly with them.
void ssclient_set_online(int on);
void ssclient_set_logged_in(int on);
void ssclient_set_connecting(int on);
void ssclient_set_login_done(int on);
void ssclient_set_session_value(uint32_t value);
void ssclient_set_last_data_time(ss_time t);
void ssclient_set_options(uint32_t bits);
// Bytes received on the server link when the sign on went.
void ssclient_set_signon_bytes(uint64_t received);

// Io thread: connection, sign-on, heartbeat and reconnect ------------------------

constexpr int32_t kSignOnReplyBytes = 308;   // the server's answer to the greeting
constexpr int32_t kServerNameBytes = 16;     // at its start: the server's name
constexpr int32_t kSessionValueOffset = 272; // after the 256-byte challenge
constexpr int32_t kSignOnRoom = 8192;        // reserved for the sign-on message
constexpr int kProgramFilesMax = 16;         // program files listed at sign on

// Reset flags, applied under the core lock before the next poll pass.
constexpr uint32_t kResetKeepPositions = 0x1;  // reset the model, keep stream positions
constexpr uint32_t kResetRealtime = 0x2;       // reset the model, restart the real-time streams
constexpr uint32_t kResetStreams = 0x4;        // restart every stream from the beginning
constexpr uint32_t kResetAfterGiveUp = kResetRealtime | kResetStreams;

// The io thread's body: connects, signs on, polls the link and reconnects
// with back-off. -1 when it gives up or lacks login details; 0 when stopped,
// aborted or signed off.
int ssclient_run(void);
// One connection attempt (io thread): 0, or -1 with WARN "set login details"
// when the user or password is empty.
int ssclient_connect(void);
// The link's data handler until sign on: 0 while fewer than 308 bytes are
// there, 308 once the sign-on went, -1 when it could not be written.
int32_t ssclient_handshake(const uint8_t* data, int32_t length);
// The link's data handler after sign on: the bytes of complete messages used,
// or -1 (protocol error: the model and stream positions are reset).
int32_t ssclient_on_data(const uint8_t* data, int32_t length);
// One pass of an established link: 0, or -1 when the link is to be dropped.
int ssclient_poll(void);
// Waits `ms` in 500 ms slices, running an encoding pass before each; returns
// early when the client stops or aborts.
void ssclient_backoff_wait(int32_t ms);

// Called by the dispatcher on the io thread, core lock held.
int ssclient_online_followups(void);  // message 49 "Online"; -1 when stopping
void ssclient_signed_off(void);       // messages 251 and 254
void ssclient_unstall(void);          // message 167
void ssclient_acked(void);            // message 242
// Clears the requested bits (0x3fc0) of every instrument and day record.
void ssclient_clear_requested(void);

// Reset flags and the link's state, for the io thread and for tests.
uint32_t ssclient_reset_flags(void);
void ssclient_set_reset_flags(uint32_t flags);  // test seam
void ssclient_apply_reset_flags(uint32_t flags);  // core lock held
int ssclient_acknowledged(void);
int ssclient_heartbeat_outstanding(void);
// The heartbeat limit in seconds for an exchange by its state and clock (0:
// the exchange does not ask for heartbeats).
int32_t ssclient_heartbeat_limit(const ss_exchange* ex, int proxy);
