// Market events: the operations the io thread applies the server's depth,
// trade, quote, index, state, news and auction changes with, and the event
// records they leave on every instrument as a list, newest at the newest end,
// plus the ring of alert events. Depth levels, orders, event lists and the
// other lists here follow the model's rules for lists another thread may walk
// (see ssmodel.h): links are published with a release store and whatever is
// cut or detached goes back to its pool only through deferred freeing.
#pragma once
#include <cstdint>

#include "ssmodel.h"
#include "sstime.h"

// Event kinds.
constexpr uint32_t kEvDepthAdd = 1;
constexpr uint32_t kEvDepthAmend = 2;
constexpr uint32_t kEvDepthDelete = 3;
constexpr uint32_t kEvDepthClear = 4;
constexpr uint32_t kEvTrade = 5;  // payload: the stock's ss_trade
constexpr uint32_t kEvTradeCancel = 6;
constexpr uint32_t kEvNews = 7;       // payload: the instrument's ss_news
constexpr uint32_t kEvAlert = 8;      // lives in the alert ring only
constexpr uint32_t kEvIndexTick = 9;  // payload: the index's ss_tick
constexpr uint32_t kEvState = 10;
constexpr uint32_t kEvQuoteBasis = 11;
constexpr uint32_t kEvTopOfBook = 12;  // listed, never recorded as a change
constexpr uint32_t kEvAuction = 13;
constexpr uint32_t kEvOpenBalance = 14;
constexpr uint32_t kEvExchangeMark = 15;  // reserved: never made
constexpr uint32_t kEvQuote = 16;
constexpr uint32_t kEvKinds = 16;

constexpr uint32_t kEventTrimKeep = 100;  // events kept beyond the keep point
constexpr uint32_t kAlertRingSize = 50000;

// Alert code bits that say what the alert's object is.
constexpr uint32_t kAlertCodeTrade = 0x20000;
constexpr uint32_t kAlertCodeNews = 0x200000;

struct ss_event {
  uint32_t kind;
  void* payload;
  ss_event* older;  // null at the oldest
  ss_event* newer;  // null at the newest
};

// Payloads owned by their event. Every one starts with its time, so
// ssevent_event_time can read it. Sides: 0 bid, 1 offer.
struct ss_ev_depth_add {  // kind 1
  ss_time time;
  uint32_t side;
  uint32_t position;  // 1-based place in the side's queue
  uint32_t count;     // 1 for an order; a summary's count
  uint32_t price;
  uint64_t volume;
  int32_t ahead;  // orders ahead at the same price; -1 for a summary
};

struct ss_ev_depth_amend {  // kind 2
  ss_time time;
  uint32_t side;
  uint32_t position;
  uint32_t price;  // 0 when no order stood at the position
  uint64_t volume;
  uint64_t old_volume;
};

struct ss_ev_depth_delete {  // kind 3
  ss_time time;
  uint32_t side;
  uint32_t position;
  uint32_t price;   // 0 when nothing was deleted
  uint64_t volume;  // deleted volume
};

struct ss_ev_depth_clear {  // kind 4
  ss_time time;
  uint32_t sides;  // 0 bid, 1 offer, 2 both
};

struct ss_ev_trade_cancel {  // kind 6; totals all 0 when the cancel had none
  ss_time time;
  uint32_t open, low, high, last;
  uint64_t volume;
  uint64_t value;
  ss_trade* trade;
};

struct ss_ev_state {  // kind 10
  ss_time time;
  uint32_t state;
  uint32_t old_state;
};

struct ss_ev_quote_basis {  // kind 11
  ss_time time;
  uint64_t basis;
};

struct ss_ev_top {  // kind 12; 0 price and volume for an empty side
  ss_time time;
  uint32_t side;  // the side whose change made the event
  uint32_t bid;
  uint64_t bid_volume;
  uint32_t offer;
  uint64_t offer_volume;
};

struct ss_ev_auction {  // kind 13: the block after the change
  ss_time time;
  ss_auction auction;
};

struct ss_ev_open_balance {  // kind 14
  ss_time time;
  uint32_t balance;
};

struct ss_ev_quote {  // kind 16: the figures after the change
  ss_time time;
  uint32_t close;  // previous close
  uint32_t open, low, high, last;
  uint64_t volume;
  uint64_t value;
};

// Kind 8, in the alert ring. A stock's snapshot has its best bid, best offer,
// last, change and volume and index value 0; an index's has 0, 0, 0, its
// change, volume 0 and its value.
struct ss_ev_alert {
  ss_time time;
  uint32_t code;  // event bits of the alerts module
  uint32_t bid;
  uint32_t offer;
  uint32_t last;
  int32_t change;
  uint64_t volume;
  uint32_t index_value;
  ss_trade* trade;  // when code has kAlertCodeTrade
  ss_news* news;    // when code has kAlertCodeNews
  void* filter;     // the alert filter that matched
};

// Life ---------------------------------------------------------------------------

// Makes the record pools and the alert ring. 0, or -1 after an ERROR line.
int ssevent_init(void);
// Frees the ring and every pool. Run the deferred frees first: queued event
// lists are returned to these pools.
void ssevent_fini(void);

// Records and lists (io thread, core lock held) ----------------------------------

// A zeroed payload record of an event kind that owns its payload (1-4, 6,
// 10-14, 16), or null (the pool cannot grow, or the kind has no own payload).
void* ssevent_new_payload(uint32_t kind);
// Links a new event at the newest end of the instrument's list; null after
// ERROR "can't alloc event". Callers make events only while the instrument's
// exchange records them (kExRecord) and pass each on to ssnotify_record with
// its change bit (kind 12 is only listed).
ss_event* ssevent_add_event(instr* in, uint32_t kind, void* payload);
// The event's time; 0 for an unknown kind or a missing payload.
ss_time ssevent_event_time(const ss_event* ev);
// Returns an own payload and the record to their pools now. Kinds 5, 7 and 9
// leave their payloads to their owners; ring records are left alone.
void ssevent_free_event(ss_event* ev);
// Frees a detached list from its oldest event along the newer links.
void ssevent_free_event_list(ss_event* oldest);
// Detaches the instrument's whole list and frees it after the deferral delay.
void ssevent_free_events(instr* in);
// A held instrument keeps every event until the model is reset.
void ssevent_hold(instr* in);

// Trimming: instruments with more than 100 events, not held and not in a
// watchlist, keep what a pending change still names and 100 older events
// beyond it. Returns the number of events cut.
uint32_t ssevent_trim_table(chash* table);
// Stock, issuer and index tables of exchanges 0 to 3; the flag changes nothing.
void ssevent_trim_all(int flag);
void ssevent_trim_due(void);      // the housekeeping pass
void ssevent_trim_all_now(void);  // the local trim request

// Fills the next alert ring slot (the oldest is overwritten once the ring is
// full) and records it as change 0x200000. The result of ssnotify_record, or
// 0 when the exchange does not record events.
int ssevent_record_alert(instr* in, void* filter, ss_time time, uint32_t code, void* object);
// The slot the next alert will take (0 to 49,999); for diagnostics and tests.
uint32_t ssevent_alert_next(void);

// Exchange days ---------------------------------------------------------------------
// The server's day control of one exchange. Each returns 0.

// Sets the exchange's date and opens a batch of updates.
int ssevent_exchange_begin(ss_exchange* ex, ss_time date);
// Closes the batch (the price tracks are refreshed).
int ssevent_exchange_end(ss_exchange* ex);
// Date, offset, and the exchange's day reset (through the reset hook the
// client installs; the model cannot reset the modules above it); global
// change 0x2 when the exchange records events. value is not used.
int ssevent_exchange_reset(ss_exchange* ex, ss_time date, uint32_t value, int32_t offset);
int ssevent_set_offset(ss_exchange* ex, int32_t offset);
typedef void (*ssevent_reset_fn)(ss_exchange* ex, ss_time date);
void ssevent_set_reset_hook(ssevent_reset_fn fn);

// Day records ----------------------------------------------------------------------
// Day-record flags (the request bits are the client's).
constexpr uint32_t kDayFlagTradesLoaded = 0x8;
constexpr uint32_t kDayFlagEventsLoaded = 0x10;
constexpr uint32_t kDayFlagTradesRequested = 0x800;
constexpr uint32_t kDayFlagEventsRequested = 0x1000;

void ssevent_enable_day_records(int on);
// The record of the date; a missing one is made only while day records are on.
ss_day* ssevent_find_day(instr* in, ss_time date);
// The record of the date, made when missing (a weekend day is made with its
// trades and events marked loaded, 0x18). Null after ERROR "can't alloc prevday".
ss_day* ssevent_get_day(instr* in, ss_time date);
// Unlinks the record of the date and frees it with its lists after the
// deferral delay. -1 when there is none (and day records are off).
int ssevent_remove_day(instr* in, ss_time date);
void ssevent_remove_days(instr* in);  // every record of the instrument
// The record of the date (made as ssevent_get_day), its trades and events
// marked loaded whatever the day; null when it cannot be made.
ss_day* ssevent_mark_day_complete(instr* in, ss_time date);
// Move what a reader decoded into a scratch copy of the instrument into the
// day record of the date (found, or made while day records are on; else
// ERROR "prevday %s %s not available" and -1). The scratch is left empty;
// lists the day held before are freed after the deferral delay. bars: the
// day's minute bars (dectrades_take_bars) or null; the day takes them.
int ssevent_store_day_events(instr* in, ss_time date, instr* scratch, ss_day_bars* bars);
int ssevent_store_day_trades(ss_stock* stock, ss_time date, ss_stock* scratch, ss_day_bars* bars);
// The day's open, high, low, last, volume and (with a stock) average price
// from its trades. Cancelled trades count for nothing; trades at price 0 are
// no low.
void ssevent_summarise_day(const ss_stock* stock, ss_day* day);
// A zeroed minute-bar record for the past-day trade reader; the caller owns
// it until it is stored in a day record.
ss_day_bars* ssevent_new_day_record(void);
// Frees a bar record after the deferral delay (null is ignored).
void ssevent_free_day_record(ss_day_bars* bars);

// ===========================================================================
// Depth events (io thread, core lock held)
//
// A side is 0 (bid) or 1 (offer); positions count orders from 1 at the head of
// the side, or levels in out-of-order depth (kInOutOfOrder). Every operation
// returns 0 or -1 after an ERROR line; a disagreement with a side whose queue
// is not loaded is not a failure: the operation changes nothing (or asks the
// io thread for the queue) and returns 0. broker is a broker code or null; it
// is required where the exchange carries brokers (kExBrokers).

// "No price" and "not given": all ones. For the u32 arguments of quotes and
// index ticks kNoPrice means not given (for index values 0 too).
constexpr uint32_t kNoPrice = 0xFFFFFFFFu;
constexpr uint64_t kNoVolume = UINT64_MAX;

// Stock flag bits of the client's requests that the depth and trade events
// read: the whole side known, and the requests that make a side pending.
constexpr uint32_t kDepthPendingBid = 0x10C0;    // events, full bid, partial bid
constexpr uint32_t kDepthPendingOffer = 0x1300;  // events, full offer, partial offer

// One entry at a price: an order appended at the end of the price's level, or
// in out-of-order depth the level's order count and total volume.
int ssevent_apply_depth_summary(ss_stock* stock, ss_time time, int side, uint32_t price, uint64_t volume,
                                uint32_t count, const char* broker);
// An order inserted at a queue position.
int ssevent_add_depth(ss_stock* stock, ss_time time, int side, uint32_t price, uint64_t volume, uint32_t position,
                      const char* broker);
// The order (out-of-order: the level) at a position gets a new volume.
int ssevent_amend_depth(ss_stock* stock, ss_time time, int side, uint32_t position, uint64_t volume);
// Amends position 1 with the volume last amended on the stock's exchange and side.
int ssevent_repeat_amend(ss_stock* stock, ss_time time, int side);
// The order (out-of-order: the level) at a position goes.
int ssevent_delete_depth(ss_stock* stock, ss_time time, int side, uint32_t position);
// Replaces the head order; price kNoPrice keeps the head price, volume
// kNoVolume the head order's volume (out-of-order: the level's volume and
// order count). The replaced order goes to the end of its price level.
int ssevent_change_top(ss_stock* stock, ss_time time, int side, uint32_t price, uint64_t volume, const char* broker);
// Deletes that many head orders of each side (a count below 1 leaves a side).
int ssevent_delete_top(ss_stock* stock, ss_time time, int32_t bids, int32_t offers);
// 1 done, 0 stalled (the side ran empty and is not loaded), -1 error.
int ssevent_delete_top_side(ss_stock* stock, ss_time time, int side, int32_t n);
// Clears side 0, 1 or both (2). Time 0 records nothing (the queue loaders).
int ssevent_clear_depth(ss_stock* stock, ss_time time, int sides);
// Both sides of every stock of the exchange, in code order; value is ignored.
int ssevent_clear_exchange_depth(ss_exchange* ex, ss_time time, uint32_t value);
void ssevent_set_out_of_order(ss_stock* stock);
// Lists a top-of-book event (nothing for time 0 or inside change top).
void ssevent_top_changed(ss_stock* stock, int side, ss_time time);
// Forgets where the last summary went, so the next one walks the side. Every
// detach of a stock's depth must call it (the memo points into the levels).
void ssevent_clear_pending(void);
// Forgets the stock's index of its first depth levels, so the next depth
// change rebuilds it from the lists. Whatever replaces or moves a stock's
// levels other than the depth events here must call it.
void ssevent_forget_depth(ss_stock* stock);
// Writes one side to standard error.
void ssevent_dump_queue(const ss_stock* stock, int side);

// The price step of the tick-relative depth messages at top price p.
uint32_t ssevent_tick_size(uint32_t price);
// The side's top price moved by `ticks` steps (negative: down). -1 when the
// side has no top (0 or kNoPrice) or the result leaves 1..0xFFFFFFFE: the
// message is bad data and the queue must be fetched again.
int ssevent_top_plus_ticks(const ss_stock* stock, int side, int32_t ticks, uint32_t* price);

// ===========================================================================
// Trade events (io thread, core lock held)

// The flag byte kept in ss_trade::bits.
constexpr uint64_t kTradeCancelled = 0x1;
constexpr uint64_t kTradeSetsLast = 0x2;
constexpr uint64_t kTradeHighLow = 0x4;
constexpr uint64_t kTradeVolume = 0x8;
constexpr uint64_t kTradeConditions = 0x10;
constexpr uint64_t kTradeSecondValue = 0x20;
constexpr uint64_t kTradeDate = 0x40;
constexpr uint64_t kTradeSecond = 0x80;

// Adds a trade and folds it into the stock. price kNoPrice means no price.
// The trade detail keeps the broker records (ss_broker*) as its buyer and
// seller values. -1 after an ERROR line; the trade stays listed when only the
// brokers or the detail fail.
int ssevent_apply_trade(ss_stock* stock, ss_time time, uint32_t price, uint64_t volume, int sets_last, int high_low,
                        int counts_volume, int counts_second, uint64_t conditions, uint64_t second_value, uint32_t date,
                        const char* buyer, const char* seller);
// Cancels the day's trade `number` (from 0). Never fails: a trade that cannot
// be matched makes the io thread ask for the stock's events again.
int ssevent_cancel_trade(ss_stock* stock, ss_time time, int32_t number, uint32_t price, uint64_t volume);
// Cancels and sets the stock's totals as given.
int ssevent_cancel_trade_totals(ss_stock* stock, ss_time time, int32_t number, uint32_t price, uint64_t volume,
                                uint32_t open, uint32_t high, uint32_t low, uint32_t last, uint64_t total_volume,
                                uint64_t value, uint64_t second_volume, uint64_t second_value);
// A run of trades at one time and price: begin opens it, each add applies one
// trade of the run (-1 when no run is open or it names another stock), end
// closes it.
int ssevent_multi_trade_begin(ss_stock* stock, ss_time time, uint32_t price, uint32_t count);
int ssevent_multi_trade_add(ss_stock* stock, uint64_t volume);
int ssevent_multi_trade_end(ss_stock* stock);

// ===========================================================================
// Quote, index, state, news and auction events (io thread, core lock held)

// A stock waiting to resume trading, on its exchange's list (earliest first).
struct ss_resume_node {
  ss_stock* stock;
  ss_resume_node* prev;
  ss_resume_node* next;
};

int ssevent_apply_quote(ss_stock* stock, ss_time time, uint32_t close, uint32_t open, uint32_t high, uint32_t low,
                        uint32_t last, uint64_t volume, uint64_t value);
int ssevent_index_tick(ss_index* index, ss_time time, uint32_t base, uint32_t open, uint32_t high, uint32_t low,
                       uint32_t value);
int ssevent_set_stock_state(ss_stock* stock, ss_time time, uint32_t state);
// all = 1 also sets every stock of the exchange to the state (message 171);
// 0 changes the exchange's own state only. value is ignored.
int ssevent_set_exchange_state(ss_exchange* ex, ss_time time, uint32_t state, int all, uint32_t value);
int ssevent_resume_track(ss_stock* stock, ss_time time, ss_time resume);
// Takes every stock whose resume time has come off its exchange's list (io
// thread, every pass).
void ssevent_expire_resumes(void);
int ssevent_set_quote_basis(ss_stock* stock, ss_time time, uint64_t basis);
int ssevent_set_open_balance(ss_stock* stock, ss_time time, uint32_t balance);
int ssevent_add_news(instr* in, uint32_t number, ss_time time, const uint32_t* codes, uint32_t flags,
                     const char* headline);
// Applies an auction block; full is ignored.
int ssevent_apply_auction(ss_stock* stock, ss_time time, const ss_auction* block, int full);
int ssevent_auction_from_price(ss_stock* stock, ss_time time, uint32_t price, uint64_t volume);
int ssevent_auction_from_block(ss_stock* stock, ss_time time, const ss_auction* block);
void ssevent_recompute_auction(ss_stock* stock, ss_time time);
// Completes the block from the stock's depth at its indicative price: 1 when
// the block was changed or is clear, else 0.
int ssevent_compute_auction(const ss_stock* stock, ss_auction* block);
// Around a list of stock states; no effect.
int ssevent_state_block_begin(ss_exchange* ex, ss_time time, uint32_t state);
int ssevent_state_block_end(ss_exchange* ex, ss_time time, uint32_t state);

// The requests the market events wish (io thread, core lock held): the
// client's private senders, installed by the engine's start-up
// (ssclient_engine.cpp), so that the model calls nothing above it. Each
// returns 0, or -1 after an ERROR line, as the senders do. Until a table is
// installed the events ask for nothing. The table must outlive the model.
struct ssevent_requests {
  int (*depth)(ss_stock* stock);                  // full queues of the loaded sides
  int (*partial_depth)(ss_stock* stock, int side);
  int (*events)(instr* in);
  int (*trades)(ss_stock* stock);                 // all of the day's trades
};
void ssevent_set_requests(const ssevent_requests* table);

// Test seam: while set, fn sees every alert the events offer to the alerts
// module (after the exchange's kExAlerts test). Null clears it.
typedef void (*ssevent_alert_fn)(instr* in, ss_time time, uint32_t code, void* object);
void ssevent_set_alert_hook(ssevent_alert_fn fn);
