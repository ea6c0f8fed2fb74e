// Event records: the market events the io thread applies to the model, kept
// on every instrument as a list, newest at the newest end, plus the ring of
// alert events. Event lists follow the model's rules for lists another thread
// may walk (see ssmodel.h): links are published with a full barrier and cut or
// detached events go back to their pools only through deferred freeing.
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

// Day records ----------------------------------------------------------------------
// Minimal version: replaced when exchange days and day records are built.
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
