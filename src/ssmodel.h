// The in-memory market: four exchanges and, under each, string-keyed tables of
// stocks, indices, issuers and code aliases, with the lists that hang off an
// instrument (depth, trades, ticks, constituents, adjustments, news).
//
// Threads. The io thread changes the model while it holds the core lock; the
// user-interface thread reads it under the same lock. Two kinds of read may
// happen without the lock, or across a hand-over of it, and the model is
// written so that both are safe:
//  - following the links and counts of any list in this header. Every link and
//    count of such a list is written with ssmodel_publish (publish_link: a
//    release store; publish.h says why no full barrier is needed) and must be
//    read with ssmodel_load (load_link: an acquire load); a reader that loads a link sees the record
//    it names complete. Records unlinked from a list keep their own links (the
//    current lists, whose stocks live on, clear them), and records and
//    detached lists are returned to their pools only through deferred
//    freeing, so a reader standing on one may keep walking for the deferral
//    delay.
//  - reading the fields that never change after a record is published: the
//    code, exchange and kind of an instrument, the fields of a list entry set
//    before it was linked.
// Every other field (prices, flags, names, counters) is read under the lock.
#pragma once
#include <cstdint>

#include "chash.h"
#include "growbuf.h"
#include "publish.h"
#include "sstime.h"

struct ss_event;     // an applied market event (event module)
struct ss_event_run; // a run of events kept by the event module
struct ss_notify;    // a change registration (change notification)
struct ss_change;    // a change entry of one notification buffer
struct ss_notice;    // an exchange notice (notices module)
struct ss_resume_node;  // a stock waiting to resume trading (event module)
struct ss_day_bars;  // the minute bars of a past day (trade reader)
struct ss_exchange;
struct ss_broker;     // a broker code record (broker table)

constexpr int kExchanges = 4;
constexpr int kExchangeAsx = 0;
constexpr int kExchangeNzx = 1;
constexpr int kExchangeGlb = 2;
constexpr int kExchangeAxo = 3;

constexpr int kCodeSize = 12;  // instrument codes: at most 11 significant + NUL
constexpr int kCodeMax = 11;
constexpr int kHeadlineSize = 80;  // at most 79 kept + NUL
constexpr int kNewsCodes = 15;
constexpr uint32_t kStockSpeeds = 65536;
constexpr uint32_t kIndexSpeeds = 256;

// Instrument kinds.
constexpr uint32_t kKindStock = 1;
constexpr uint32_t kKindIndex = 2;
constexpr uint32_t kKindIssuer = 3;

// Exchange flag bits.
constexpr uint32_t kExStreams = 0x1;        // keep event streams (stream buffers sized)
constexpr uint32_t kExRecord = 0x2;         // record events, name and alias changes
constexpr uint32_t kExRankings = 0x8;       // keep the three rankings of current stocks
constexpr uint32_t kExAlerts = 0x10;        // offer depth and trade changes to the alerts
constexpr uint32_t kExBrokers = 0x40;       // depth and trade messages carry brokers
constexpr uint32_t kExClientTracks = 0x100; // committed track changes kept for clients
constexpr uint32_t kExTrackStreams = 0x200; // keep track streams
constexpr uint32_t kExMarked = 0x1000;
constexpr uint32_t kExStockSummary = 0x2000;
constexpr uint32_t kExIndexSummary = 0x4000;
constexpr uint32_t kExNewsSummary = 0x8000;
constexpr uint32_t kExBatch = 0x10000;  // inside a batch of updates

// Instrument flag bits.
constexpr uint32_t kInRequestBits = 0x1F;     // request bits kept by the client
constexpr uint32_t kInHistory = 0x20;         // daily history (issuer: news list) loaded
constexpr uint32_t kInRequestedBits = 0x3FC0; // requested bits of the request senders
constexpr uint32_t kInMuted = 0x8000;         // change recording skips the instrument
constexpr uint32_t kInLoading = 0x10000;      // a list is being loaded / scratch copy
constexpr uint32_t kInNewsPlain = 0x40000;    // issuer: news today without flag 4
constexpr uint32_t kInNewsFlag4 = 0x80000;    // issuer: news today with flag 4
constexpr uint32_t kInNewsFlag1 = 0x100000;   // issuer: news today with flag 1
constexpr uint32_t kInNewsBits = kInNewsPlain | kInNewsFlag4 | kInNewsFlag1;
constexpr uint32_t kInHeld = 0x200000;        // in a watchlist
constexpr uint32_t kInOutOfOrder = 0x400000;  // depth kept as one entry per level
constexpr uint32_t kInCurrent = 0x800000;
constexpr uint32_t kInNamed = 0x1000000;
constexpr uint32_t kInBenchmark = 0x10000000;  // member of the benchmark index

// Change bits this module records.
constexpr uint32_t kChangeNames = 0x4;
constexpr uint32_t kChangeIssuer = 0x8;
constexpr uint32_t kChangeHistory = 0x20000;
constexpr uint32_t kChangeNewsList = 0x40000;
constexpr uint32_t kChangeAlias = 0x20000000;

// News item flags.
constexpr uint32_t kNewsFlag1 = 0x1;
constexpr uint32_t kNewsWithdrawn = 0x2;
constexpr uint32_t kNewsFlag4 = 0x4;

// Model options (ssmodel_init).
constexpr uint32_t kOptAllRequested = 0x1;  // all-requested mode (implies extended)
constexpr uint32_t kOptExtended = 0x2;      // records with order-priority fields
constexpr uint32_t kOptNoTradeBreaks = 0x4; // per-price trade aggregates off
constexpr uint32_t kOptFastReset = 0x8;

// Lock-free access to list links and counts (see the top of this file and
// publish.h, which says why the orders are what they are).
template <class T>
inline T ssmodel_load(const T& field) {
  return load_link(field);
}
template <class T, class V>
inline void ssmodel_publish(T& field, V value) {
  publish_link(field, static_cast<T>(value));
}

// A doubly linked list: count, head (oldest / first), tail (newest / last).
template <class T>
struct ss_list {
  uint32_t count;
  T* head;
  T* tail;
};

// Hands a whole list to another owner: `to` takes from's links, published
// for lock-free readers, and `from` is left empty. Whatever `to` held must
// have been kept elsewhere by the caller (it is freed from there).
template <class T>
inline void ssmodel_move_list(ss_list<T>& to, ss_list<T>& from) {
  ssmodel_publish(to.count, from.count);
  ssmodel_publish(to.head, from.head);
  ssmodel_publish(to.tail, from.tail);
  from = ss_list<T>{};
}

// Event lists of an instrument or a past day: newest at the newest end.
struct ss_event_list {
  uint32_t count;
  ss_event* oldest;
  ss_event* newest;
};

// ---------------------------------------------------------------------------
// List records

struct ss_depth_order {
  uint64_t volume;
  uint32_t value;  // a 32-bit value of the depth message
  ss_depth_order* next;
  const ss_broker* broker;  // where the exchange carries brokers, else null
};

// The extended model's depth order: order-priority details after the fields
// every order has.
// The two texts hold up to 16 characters and always their NUL.
constexpr int kOrderTextSize = 17;
struct ss_depth_order_ext : ss_depth_order {
  uint32_t position;
  uint8_t identifier[8];
  uint32_t number;
  char text1[kOrderTextSize];
  char text2[kOrderTextSize];
};

struct ss_depth_level {
  uint32_t count;  // orders
  uint32_t price;
  uint64_t volume;  // total
  ss_depth_order* orders;
  ss_depth_level* next;
  // The writer's own bookkeeping, read under the lock only: the last of
  // `orders` (null when none), so an order joins the level's tail at once.
  ss_depth_order* last;
};

// The event module's index of a stock's first depth levels (its own type).
struct ss_depth_prefix;

struct ss_depth_break {
  int32_t position;
  uint32_t value;
  ss_depth_break* prev;
  ss_depth_break* next;
};

struct ss_trade_detail {
  uint64_t conditions;
  uint64_t second_value;
  uint32_t date;
  uint64_t buyer;
  uint64_t seller;
};

struct ss_trade {
  ss_time time;
  uint32_t price;
  uint64_t volume;
  uint64_t bits;  // flag byte and fields of the trade events
  ss_trade_detail* detail;
  ss_trade* prev;
  ss_trade* next;
};

// Per-price aggregate of a stock's trades (kept only with aggregates on).
struct ss_trade_break {
  ss_time first;
  ss_time last;
  uint32_t price;
  uint64_t volume;
  uint32_t count;
  ss_trade_break* prev;
  ss_trade_break* next;
};

struct ss_trade_breaks {
  uint32_t count;
  ss_trade_break* head;
  ss_trade_break* tail;
  ss_trade_break* cursor;  // the last one used
};

struct ss_tick {
  int32_t time;
  uint32_t value;
  ss_tick* prev;
  ss_tick* next;
};

struct ss_adjustment {
  int32_t date;
  int32_t factor;
  ss_adjustment* prev;
  ss_adjustment* next;
};

struct ss_index_member {
  char code[kCodeSize];
  uint64_t value;
  ss_index_member* prev;
  ss_index_member* next;
};

struct ss_news {
  uint32_t number;
  ss_time time;  // 0 for an item known only by its number
  uint32_t codes[kNewsCodes];  // ended by the first 0
  uint32_t flags;
  char headline[kHeadlineSize];
  char* body;  // owned by the item (dalloc), freed with it
  ss_news* prev;
  ss_news* next;
};

struct ss_news_removal {
  uint32_t number;
  ss_news_removal* prev;
  ss_news_removal* next;
};

struct ss_exchange_news {
  char code[kCodeSize];  // issuer code
  uint32_t number;
  ss_time time;
  uint32_t flags;
  uint32_t sequence;
  ss_exchange_news* prev;
  ss_exchange_news* next;
};

// Seven 64-bit fields; a price of all ones marks a missing level.
struct ss_auction {
  uint64_t price;    // indicative price (a u32 price)
  uint64_t matched;  // indicative volume
  int64_t surplus;   // bid volume minus offer volume
  uint64_t bid_price;
  uint64_t bid_volume;
  uint64_t offer_price;
  uint64_t offer_volume;
};

// Daily history points and the arrays that hold them.
struct ss_stock_point {
  ss_time date;
  uint32_t open;
  uint32_t high;
  uint32_t low;
  uint32_t close;
  int32_t change;
  uint64_t volume;
};

struct ss_index_point {
  ss_time date;
  uint32_t base;
  uint32_t open;
  uint32_t high;
  uint32_t low;
  uint32_t close;
  int32_t change;
};

struct ss_stock_history {
  uint32_t count;
  uint32_t capacity;
  ss_stock_point points[];
};

struct ss_index_history {
  uint32_t count;
  uint32_t capacity;
  ss_index_point points[];
};

// A past day of an instrument: its events, trades or ticks and a summary.
struct ss_day {
  uint32_t flags;
  ss_time date;
  uint32_t open, high, low, last, average;
  uint64_t volume;
  ss_event_list events;
  ss_list<ss_trade> trades;        // stocks
  ss_trade_breaks trade_breaks;    // stocks
  ss_list<ss_tick> ticks;          // indices
  ss_day_bars* bars;
  ss_day* prev;
  ss_day* next;
};

// ---------------------------------------------------------------------------
// Instruments

// The head shared by stocks, indices and issuers. The code is the table key
// and must stay the first field.
struct instr {
  char code[kCodeSize];
  ss_exchange* exchange;
  uint32_t kind;
  ss_list<ss_notify> notify;  // registrations
  ss_change* change[2];       // entry in each notification buffer
  uint32_t flags;
  uint32_t hold;
  int32_t id;  // -1 at creation, otherwise unused here
  ss_list<ss_event_run> runs;
  ss_event_list events;
  ss_list<ss_day> days;  // earliest first
  const char* name1;     // the code until set; else a copy this module owns
  const char* name2;
  ss_time history_from;
  void* track;  // price-track record (price tracks module)
  // Scratch of the scan evaluator: the instrument's index in the previous
  // and in the new result; -1 outside an evaluation.
  int32_t scan_old;
  int32_t scan_new;
};

struct ss_stock_links {
  struct ss_stock* prev;
  struct ss_stock* next;
};

// Laid out hot first: the fields a stream message (depth, trade, quote)
// works on follow the instrument head, so that with the head they fill the
// first kStockHotBytes of the record and one message touches few lines; the
// rest (display copies, rankings, history, options, volume comparison) lies
// after them.
struct ss_stock : instr {
  // Hot: prices, book and stream bookkeeping.
  uint32_t state;
  uint32_t bid;    // best bid
  uint32_t offer;  // best offer
  uint32_t close;  // previous close (base price)
  uint32_t open, high, low, last;
  uint64_t volume;
  uint64_t value;  // cents
  ss_depth_level* levels[2];  // bid, offer
  // The event module's index of the first levels of each side, so that a
  // depth change finds its level without walking the side: io thread only,
  // and only while `depth_prefix_gen` names the event module's current start
  // (a zeroed record has none).
  ss_depth_prefix* depth_prefix;
  uint32_t depth_prefix_gen;
  int32_t speed;              // -1 when none
  uint32_t price_ref;         // running reference price of the stream's price fields
  // Kept here for the event, codec and protocol modules.
  ss_time last_time;
  ss_time last_trade_time;
  ss_time stream_time;  // of the last stock-stream header
  uint32_t trade_count;  // the day's trades
  uint64_t last_amend;   // old minus new volume of the latest amend
  uint64_t second_volume;
  uint64_t second_value;
  uint32_t average_price;
  uint32_t first_price;
  // Price changes along `trades` (see ssmodel_trades_vary), valid while the
  // list still has the tail and count they were counted for.
  uint32_t trade_changes;
  uint32_t changes_count;
  const ss_trade* changes_tail;
  // Cold from here.
  ss_list<ss_trade> trades;
  ss_trade_breaks trade_breaks;
  ss_list<ss_depth_break> breaks[2];  // bid, offer
  char issuer[kCodeSize];
  int32_t change;
  int32_t change_pct;  // hundredths of a percent
  uint64_t quote_basis;
  ss_auction auction;
  uint32_t disp_price;
  int32_t disp_change;
  int32_t disp_change_pct;
  uint64_t disp_volume;
  uint64_t disp_value;
  uint32_t movement;  // price-movement history
  ss_stock_links current;      // current-stock list
  ss_stock_links rank[3];      // change, volume, value rankings
  ss_stock_history* history;
  ss_list<ss_adjustment> adjustments;
  uint32_t capital[3];
  uint64_t shares;
  uint64_t market_cap;  // cents, derived
  uint32_t option_kind;
  char underlying[kCodeSize];
  ss_time expiry;
  uint32_t option_number;
  uint32_t multiplier;  // second number of the option message
  growbuf scratch;
  uint64_t vcmp_volume[3];  // reference volumes: yesterday, weekly, monthly
  int64_t vcmp_diff[3];     // volume minus reference
  int32_t vcmp_pct[3];      // hundredths of a percent
  ss_time resume_time;
  uint32_t open_balance;
  uint32_t last_auction_price;
  uint8_t partial_requests;  // partial-queue requests the io thread made (saturates)
};

// The leading bytes of a stock record that hold the instrument head and the
// hot fields: what a stream message fetches ahead.
constexpr size_t kStockHotBytes = 320;
static_assert(sizeof(instr) <= 200, "the instrument head grew: review the stock's hot bytes");

// The extended model's stock: waiting order-info records after the rest.
struct ss_stock_ext : ss_stock {
  uint32_t info_count;
  void* info_head;
  void* info_tail;
};

struct ss_index : instr {
  uint32_t sector;  // industry classification code
  uint32_t base;    // previous value
  uint32_t open, high, low;
  uint32_t value;  // current
  int32_t change;
  int32_t change_pct;
  ss_time last_tick_time;
  uint32_t reference;  // set by the index back-fill
  ss_index_history* history;
  ss_list<ss_tick> ticks;
  ss_list<ss_index_member> members;  // code order
  uint32_t movement;
  int32_t speed;  // -1 when none
  growbuf scratch;
  ss_index* cur_prev;  // current-index list
  ss_index* cur_next;
};

struct ss_issuer : instr {
  uint32_t sector;  // industry classification code, 0 when unknown
  ss_list<ss_news> news;  // ascending by (time, number), time 0 first
  ss_list<ss_news_removal> removals;  // ascending numbers
};

struct ss_alias {
  char from[kCodeSize];  // the table key
  char to[kCodeSize];
  ss_stock* stock;    // the stock of the from-code when it was made
  ss_issuer* issuer;  // the issuer of the from-code
};

// ---------------------------------------------------------------------------
// Exchanges

struct ss_exchange_row {
  char letter;
  const char* name;
  const char* display_name;
  uint32_t stocks, issuers, indices, aliases;  // initial table sizes
  int32_t stream_size;
  uint32_t constant;
};

struct ss_exchange {
  char name[kCodeSize];
  uint32_t index;
  ss_time date;
  int32_t offset;  // seconds, as last given by the server
  int32_t delta;   // seconds added to the local clock to get exchange time
  uint32_t constant;
  uint32_t state;
  uint32_t trades_today;
  uint32_t phase;
  chash stocks, indices, issuers, aliases;
  ss_list<ss_stock> current;  // code order
  ss_list<ss_index> current_indices;
  ss_list<ss_stock> rank[3];  // change, volume, value
  ss_list<ss_exchange_news> news;  // by (date, minute, sequence)
  uint32_t flags;
  int32_t notice_seq;  // -1 until a notice with a sequence is stored
  uint32_t notice_count;
  ss_notice* notice_tail;
  ss_notice* notice_head;
  uint32_t signature;
  // Set when the exchange starts a new day (160) and cleared when a stream
  // signature is set: a new signature may follow a reset, never replace a
  // stream whose day the model still holds.
  uint8_t reset_since_signature;
  growbuf stream;
  growbuf zstream;
  // Record headers: the instrument and time of the last header.
  char cur_code[kCodeSize];
  ss_time cur_time;
  ss_time high_time;  // latest time any header carried
  uint32_t index_speed_count;
  ss_index* index_speeds[kIndexSpeeds];
  // Resume point the protocol keeps.
  char resume_code[kCodeSize];
  uint32_t resume_number;
  uint32_t resume_counter;
  ss_list<ss_resume_node> resumes;  // stocks waiting to resume trading
  int32_t fun_position;  // fundamentals position, -1 none
  int32_t fun_date;      // fundamentals date, -1 none
  uint32_t speed_count;
  ss_stock* speeds[kStockSpeeds];
};

// ---------------------------------------------------------------------------
// Life: main thread only, before the io thread starts and after it ends.

// Starts the model: options, item pools, work sets, an empty exchange array,
// then every other model module in its order (deferred freeing first). 0, or
// -1 at the first step that fails, after its ERROR line; whatever had started
// is stopped again. A running model is stopped first.
int ssmodel_init(uint32_t options);
// Ends deferred freeing (running what is pending), turns change recording off
// for good, frees the exchanges and everything they own, stops the modules and
// drops the work sets and pools. Safe to call when not started.
void ssmodel_fini(void);
uint32_t ssmodel_options(void);  // as given, with bit 0 implying bit 1
int ssmodel_extended(void);
int ssmodel_all_requested(void);
int ssmodel_trade_breaks_on(void);
// Bytes of a stock record of the running model: an ss_stock_ext in the
// extended model, else an ss_stock. Callers that need a stock-sized scratch
// record allocate this much.
int32_t ssmodel_stock_size(void);
// Test seam: while set, start-up fails at the step of this name (a module as
// named in ssclient_engine.cpp, or "work" for the last work buffer). Null
// clears it.
void ssmodel_set_test_failure(const char* step);

// The record store's own part of start and stop, called by ssmodel_init and
// ssmodel_fini (ssclient_engine.cpp), which start and stop the other modules
// around them. Store init takes the options and makes the pools, the work
// sets and an empty exchange array (-1 after an ERROR line); freeing the
// exchanges runs after deferred freeing has ended; store fini drops the work
// sets and pools.
int ssmodel_store_init(uint32_t options);
void ssmodel_free_exchanges(void);
void ssmodel_store_fini(void);
// 1 while the test seam names `step`.
int ssmodel_test_fails(const char* step);

// Work sets of the record readers (io thread, core lock). Each of the four
// holds a scratch exchange, stock, index and issuer and a 1 MB buffer; set is
// 0 to 3, any other gives null. The plain forms return the record zeroed. The
// _for forms also copy the exchange's name, index and flags into the set's
// scratch exchange and give the record that scratch exchange, the code (cut to
// 11 characters), its kind, names referring to the code and, for stocks and
// indices, speed -1 and an empty scratch buffer. Lists left on a scratch
// record are not freed by the next call: whoever fills one empties it.
constexpr int kWorkSets = 4;
constexpr int32_t kWorkBufferSize = 1048576;
constexpr int32_t kWorkBufferStep = 65536;
ss_exchange* ssmodel_scratch_exchange(int32_t set);
ss_stock* ssmodel_scratch_stock(int32_t set);
ss_index* ssmodel_scratch_index(int32_t set);
ss_stock* ssmodel_scratch_stock_for(int32_t set, const ss_exchange* ex, const char* code);
ss_index* ssmodel_scratch_index_for(int32_t set, const ss_exchange* ex, const char* code);
ss_issuer* ssmodel_scratch_issuer_for(int32_t set, const ss_exchange* ex, const char* code);
// Work buffer i (0 to 3), emptied first when `empty`; null for another i.
growbuf* ssmodel_work_buffer(int32_t i, int empty);

// Exchange clock ---------------------------------------------------------------
// Clock changes run under the core lock; exchange-now may be read anywhere.

// Local time now (sstime_now) plus the exchange's delta; local time for null.
ss_time ssmodel_exchange_now(const ss_exchange* ex);
// The server's offset: exchange time moves by the change of offset.
void ssmodel_set_offset(ss_exchange* ex, int32_t offset);
// The server's clock: exchange time becomes `stamp` (a dated time).
void ssmodel_set_delta(ss_exchange* ex, ss_time stamp);
// One step of following the stamps of the stream: the delta moves at most one
// second toward stamp - local now. Stamps without a date are ignored.
void ssmodel_track_offset(ss_exchange* ex, ss_time stamp);

// Fixed times of the exchange day, on the exchange's date.
ss_time ssmodel_exchange_preopen_time(const ss_exchange* ex);  // 08:00
ss_time ssmodel_exchange_open_time(const ss_exchange* ex);     // 10:00
ss_time ssmodel_exchange_close_time(const ss_exchange* ex);    // ASX 16:11, NZX 17:00, else 16:00
ss_time ssmodel_exchange_day_end(const ss_exchange* ex);       // NZX 18:30, else 19:00
ss_time ssmodel_exchange_day_start(const ss_exchange* ex);
// NZX and GLB 08:00; ASX and AXO the calendar's day start of that date.
ss_time ssmodel_day_start_for(int32_t index, ss_time date);
ss_time ssmodel_exchange_clamp_time(const ss_exchange* ex, ss_time t);     // into [day start, day end]
ss_time ssmodel_exchange_clamp_to_open(const ss_exchange* ex, ss_time t);  // into [10:00, close]
ss_time ssmodel_exchange_clamped_now(const ss_exchange* ex);

// Batches, marks and resets (io thread, core lock) ------------------------------

// Sets kExBatch; the end clears it and refreshes the price tracks.
void ssmodel_batch_begin(ss_exchange* ex);
void ssmodel_batch_end(ss_exchange* ex);
// Sets kExMarked on every exchange and records global change 0x4.
void ssmodel_mark_all_exchanges(void);
// Clears the exchange's day for a new trading day (ssclient_engine.cpp: it
// also resets the price tracks, volume comparison, fast reset and cache). With a date (not 0) the
// date is set and the cut-off for old news and day records is a month before
// it. Mode 0 sets the client's request bits again, any other mode clears
// them. Every detached list is freed through deferred freeing.
void ssmodel_reset_exchange(ss_exchange* ex, ss_time date, int32_t mode);
void ssmodel_reset_exchange_keep_date(ss_exchange* ex, ss_time date);  // mode 0
// Resets exchanges 0 to 3 at their own dates and records global change 0x2.
void ssmodel_reset_all(int32_t mode);
// The store's part of an exchange reset: with a date (not 0) sets it and
// returns the cut-off a month before it (else 0); then clears the records of
// the exchange (stocks, indices, issuers, lists, old news) for the mode.
ss_time ssmodel_reset_date(ss_exchange* ex, ss_time date);
void ssmodel_reset_records(ss_exchange* ex, int32_t mode, ss_time cutoff);
// Every stock and index loses its speed index, every exchange its speed count;
// the streams' running references (stock prices and stream times, each
// exchange's header code and time) start from nothing again.
void ssmodel_clear_speeds(void);
// Frees one slice of the fast reset's queue (housekeeping); 0 when empty.
int ssmodel_fast_reset_free(void);

// Exchanges ------------------------------------------------------------------
const ss_exchange_row* ssmodel_exchange_row(int32_t index);  // null past 3
ss_exchange* ssmodel_new_exchange(int32_t index, uint32_t flags);
ss_exchange* ssmodel_exchange(int32_t index);  // null past 3 or not made
const char* ssmodel_exchange_name(int32_t index);
const char* ssmodel_exchange_display_name(int32_t index);
int32_t ssmodel_exchange_by_name(const char* text);  // -1 when unknown
void ssmodel_exchange_set_flags(ss_exchange* ex, uint32_t bits);
void ssmodel_set_date(ss_exchange* ex, ss_time t);
ss_time ssmodel_exchange_date(int32_t index);
int32_t ssmodel_exchange_offset(int32_t index);
uint32_t ssmodel_exchange_phase(int32_t index);
uint32_t ssmodel_exchange_signature(int32_t index);
void ssmodel_set_signature(int32_t index, uint32_t value);

// Instruments ----------------------------------------------------------------
// Codes are cut to 11 characters by every operation here. Find returns null
// when absent; add returns null when the code is refused.
ss_stock* ssmodel_find_stock(ss_exchange* ex, const char* code);
ss_stock* ssmodel_get_stock(ss_exchange* ex, const char* code);
ss_stock* ssmodel_add_stock(ss_exchange* ex, const char* code);
// Many stocks at once, in any order: the table is sized for all of them
// first, each is appended (its issuer too, where new) and the ordered arrays
// are sorted once at the end, O(n log n) where adding one by one in random
// order is O(n) each. out[i] (when given) is the stock of codes[i], found or
// added, or null where it was refused. Returns how many were added.
int32_t ssmodel_add_stocks(ss_exchange* ex, const char* const* codes, int32_t n, ss_stock** out);
ss_index* ssmodel_find_index(ss_exchange* ex, const char* code);
ss_index* ssmodel_get_index(ss_exchange* ex, const char* code);
ss_index* ssmodel_add_index(ss_exchange* ex, const char* code);
// AXO issuers live in ASX's issuer table.
ss_issuer* ssmodel_find_issuer(ss_exchange* ex, const char* code);
ss_issuer* ssmodel_get_issuer(ss_exchange* ex, const char* code);
ss_issuer* ssmodel_add_issuer(ss_exchange* ex, const char* code);
ss_stock* ssmodel_find_stock_or_alias(ss_exchange* ex, const char* code);
ss_issuer* ssmodel_find_issuer_or_alias(ss_exchange* ex, const char* code);
ss_alias* ssmodel_find_alias(ss_exchange* ex, const char* code);
int ssmodel_add_alias(ss_exchange* ex, const char* from, const char* to);
int ssmodel_code_compare(const char* a, const char* b);

// Current lists. make_current sets the bit, links the stock at its code place
// (ssmodel_link_current), ranks it and marks its issuer current.
void ssmodel_stock_make_current(ss_stock* stock);
void ssmodel_link_current(ss_stock* stock);
void ssmodel_link_index_current(ss_index* index);  // sets the bit and links
void ssmodel_clear_current(ss_exchange* ex);
void ssmodel_rebuild_current(ss_exchange* ex);
void ssmodel_clear_index_current(ss_exchange* ex);
void ssmodel_rebuild_index_current(ss_exchange* ex);
int ssmodel_rank_change_compare(const ss_stock* a, const ss_stock* b);
int ssmodel_rank_volume_compare(const ss_stock* a, const ss_stock* b);
int ssmodel_rank_value_compare(const ss_stock* a, const ss_stock* b);

// Names are copied: the caller's texts may be short-lived.
void ssmodel_set_stock_names(ss_stock* stock, const char* name1, const char* name2);
// The same for any instrument (indices and issuers: no sibling codes).
void ssmodel_set_names(instr* in, const char* name1, const char* name2);
void ssmodel_set_issuer_code(ss_stock* stock, const char* code);
void ssmodel_set_capital(ss_stock* stock, uint32_t a, uint32_t b, uint32_t c, uint64_t shares);
void ssmodel_set_option(ss_stock* stock, const char* underlying, uint32_t kind, ss_time expiry,
                        uint32_t first, uint32_t second);
void ssmodel_set_sector(instr* in, uint32_t number);
void ssmodel_set_history_from(instr* in, ss_time date);
int ssmodel_is_underlying(ss_exchange* ex, const char* code);
int ssmodel_is_main_index(const char* code);
void ssmodel_stock_derive(ss_stock* stock);

void ssmodel_auction_clear(ss_auction* a);
void ssmodel_auction_copy(ss_auction* dst, const ss_auction* src);
int ssmodel_auction_differs(const ss_auction* a, const ss_auction* b);
void ssmodel_stock_copy_auction(const ss_stock* live, ss_stock* scratch);
void ssmodel_stock_clear_auction(ss_stock* stock);

// Daily history arrays: room for n more points; -1 after "can't alloc %d
// prices" when the total would pass the cap. Old arrays are freed later.
int ssmodel_reserve_history(ss_stock* stock, uint32_t n);
int ssmodel_reserve_index_history(ss_index* index, uint32_t n);
void ssmodel_free_history(ss_stock* stock);
void ssmodel_free_index_history(ss_index* index);

// Depth ----------------------------------------------------------------------
ss_depth_level* ssmodel_new_depth_level(uint32_t price);
// The order's next is `next`; the caller links it in. With a level, its order
// count steps and (unless the volume is all ones) its total grows.
ss_depth_order* ssmodel_new_depth_order(uint64_t volume, uint32_t value, ss_depth_level* level,
                                        ss_depth_order* next);
ss_depth_order* ssmodel_new_depth_order_at(uint64_t volume, uint32_t value, ss_depth_level* level);
void ssmodel_free_depth(ss_stock* stock);
void ssmodel_free_depth_levels(ss_depth_level* first);  // with their orders, later
void ssmodel_free_depth_level(ss_depth_level* level);   // the level alone, later
void ssmodel_free_depth_order(ss_depth_order* order);   // later
ss_depth_break* ssmodel_add_depth_break(ss_stock* stock, int side, int32_t position, uint32_t value);
void ssmodel_free_depth_breaks(ss_stock* stock);

// Trades ---------------------------------------------------------------------
ss_trade* ssmodel_add_trade(ss_stock* stock, ss_time time, uint32_t price, uint64_t volume);
ss_trade_break* ssmodel_find_trade_break(ss_stock* stock, uint32_t price);
int ssmodel_remove_trade_break(ss_stock* stock, uint32_t price);
ss_trade_detail* ssmodel_set_trade_detail(ss_trade* trade, uint64_t conditions, uint64_t second_value,
                                          uint32_t date, uint64_t buyer, uint64_t seller);
ss_trade_detail* ssmodel_trade_detail(const ss_trade* trade);
// The trade's break record as the windows call it (its first word holds the
// condition codes), or null: the detail record above.
inline ss_trade_detail* ssmodel_trade_break_of(const ss_trade* trade) { return ssmodel_trade_detail(trade); }
int ssmodel_trades_vary(const ss_stock* stock);
void ssmodel_free_trades(ss_stock* stock);
void ssmodel_free_day_trades(ss_day* day);
void ssmodel_free_day_ticks(ss_day* day);

// Index ticks and constituents ---------------------------------------------------
ss_tick* ssmodel_add_index_tick(ss_index* index, int32_t time, uint32_t value);
void ssmodel_free_index_ticks(ss_index* index);
ss_index_member* ssmodel_add_index_member(ss_index* index, const char* code, uint64_t value);
void ssmodel_remove_index_member(ss_index* index, const char* code);
void ssmodel_set_benchmark_flag(ss_index* index, const char* code, int on);

// Adjustments ------------------------------------------------------------------
int ssmodel_add_adjustment(ss_stock* stock, int32_t date, int32_t factor);
int ssmodel_remove_adjustment(ss_stock* stock, int32_t date, int32_t factor);

// News (on issuers; other instruments have no news list) -------------------------
// codes: up to 15, ended by a 0 (may be null); headline may be null.
ss_news* ssmodel_add_news(instr* in, uint32_t number, ss_time time, const uint32_t* codes,
                          uint32_t flags, const char* headline);
ss_news* ssmodel_add_bare_news(instr* in, uint32_t number);
ss_news* ssmodel_find_news(instr* in, uint32_t number);
int ssmodel_remove_news(ss_issuer* issuer, uint32_t number);
void ssmodel_apply_news_removals(ss_issuer* issuer);
void ssmodel_recompute_news_flags(ss_issuer* issuer);
void ssmodel_trim_news_today(instr* in);
void ssmodel_trim_news_month(instr* in);
void ssmodel_recount_news_flags(ss_exchange* ex);
void ssmodel_free_news_item(ss_news* item);  // with its body, later
void ssmodel_free_news_list(ss_issuer* issuer);
void ssmodel_free_exchange_news(ss_exchange* ex);
