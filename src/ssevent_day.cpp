// Exchange days and day records. The server opens, closes and resets an
// exchange's day; past days of an instrument are kept as day records, filled
// from a scratch copy that a reader decoded a day into. A day's lists are
// walked by the user-interface thread when it replays a day, so every list a
// store replaces, and every minute-bar record, is freed after the deferral
// delay, and the scratch is always left empty once its lists moved.
#include <cmath>
#include <cstring>

#include "dalloc.h"
#include "dectrades.h"
#include "lazyfree.h"
#include "log.h"
#include "ssevent.h"
#include "ssevent_int.h"
#include "ssnotify.h"
#include "ssutil.h"

using namespace ssevent_detail;

static const char kSrc[] = "src/ssevent";

namespace {

struct day_state {
  ssevent_reset_fn reset = nullptr;
};

day_state D;

void free_bars(void* p) { dalloc_free(p); }
void free_event_chain(void* oldest) { ssevent_free_event_list(static_cast<ss_event*>(oldest)); }

// The day of the date, made while day records are on; else the ERROR line.
ss_day* day_for_store(instr* in, ss_time date) {
  ss_day* d = ssevent_find_day(in, date);
  if (!d) {
    char text[kSstimeDateLen];
    log(LOG_ERROR, kSrc, "prevday %s %s not available", in->code, sstime_format_date_into(text, date));
  }
  return d;
}

// The scratch's events become the day's; the day's old ones go later.
void take_events(ss_day* d, instr* scratch) {
  ss_event* old = d->events.oldest;
  ssmodel_publish(d->events.count, scratch->events.count);
  ssmodel_publish(d->events.oldest, scratch->events.oldest);
  ssmodel_publish(d->events.newest, scratch->events.newest);
  scratch->events = ss_event_list{};
  if (old) lazyfree_later(free_event_chain, old);
}

// The scratch stock's trades become the day's; the day's old trades go
// later (through a record holding them), the scratch is left empty.
void take_trades(ss_day* d, ss_stock* scratch) {
  ss_day old = {};
  old.trades = d->trades;
  old.trade_breaks = d->trade_breaks;
  ssmodel_move_list(d->trades, scratch->trades);
  d->trade_breaks = scratch->trade_breaks;
  scratch->trade_breaks = ss_trade_breaks{};
  ssmodel_free_day_trades(&old);
  ssmodel_free_trades(scratch);
}

void take_bars(ss_day* d, ss_day_bars* bars) {
  if (!bars) return;
  ss_day_bars* old = d->bars;
  ssmodel_publish(d->bars, bars);
  ssevent_free_day_record(old);
}

}  // namespace

// ===========================================================================
// Exchange days

int ssevent_exchange_begin(ss_exchange* ex, ss_time date) {
  ssmodel_set_date(ex, date);
  ssmodel_batch_begin(ex);
  return 0;
}

int ssevent_exchange_end(ss_exchange* ex) {
  ssmodel_batch_end(ex);
  return 0;
}

int ssevent_exchange_reset(ss_exchange* ex, ss_time date, uint32_t value, int32_t offset) {
  (void)value;
  ssmodel_set_date(ex, date);
  ssmodel_set_offset(ex, offset);
  if (D.reset) D.reset(ex, date);
  ex->reset_since_signature = 1;
  if (ex->flags & kExRecord) ssnotify_record_global(kGlobalReset);
  return 0;
}

int ssevent_set_offset(ss_exchange* ex, int32_t offset) {
  ssmodel_set_offset(ex, offset);
  if (ex->flags & kExRecord) ssnotify_record_global(kGlobalReset);
  return 0;
}

void ssevent_set_reset_hook(ssevent_reset_fn fn) { D.reset = fn; }

// ===========================================================================
// Day records

ss_day* ssevent_mark_day_complete(instr* in, ss_time date) {
  ss_day* d = ssevent_get_day(in, date);
  if (d) d->flags |= kDayFlagTradesLoaded | kDayFlagEventsLoaded;
  return d;
}

int ssevent_store_day_events(instr* in, ss_time date, instr* scratch, ss_day_bars* bars) {
  ss_day* d = day_for_store(in, date);
  if (!d) {
    ssevent_free_day_record(bars);
    return -1;
  }
  take_events(d, scratch);
  if (in->kind == kKindIndex) {
    ss_day old = {};
    old.ticks = d->ticks;
    ssmodel_move_list(d->ticks, static_cast<ss_index*>(scratch)->ticks);
    ssmodel_free_day_ticks(&old);
  } else if (in->kind == kKindStock) {
    take_trades(d, static_cast<ss_stock*>(scratch));
    d->flags |= kDayFlagTradesLoaded;
  }
  take_bars(d, bars);
  ssevent_summarise_day(in->kind == kKindStock ? static_cast<const ss_stock*>(in) : nullptr, d);
  d->flags &= ~(kDayFlagTradesRequested | kDayFlagEventsRequested);
  d->flags |= kDayFlagEventsLoaded;
  return 0;
}

int ssevent_store_day_trades(ss_stock* stock, ss_time date, ss_stock* scratch, ss_day_bars* bars) {
  ss_day* d = day_for_store(stock, date);
  if (!d) {
    ssevent_free_day_record(bars);
    return -1;
  }
  if (d->flags & kDayFlagEventsLoaded) {
    char text[kSstimeDateLen];
    log(LOG_WARN, kSrc, "not replacing %s %s trades because it has all events", stock->code,
        sstime_format_date_into(text, date));
    ssmodel_free_trades(scratch);
    ssevent_free_day_record(bars);
    return 0;
  }
  take_trades(d, scratch);
  take_bars(d, bars);
  ssevent_summarise_day(stock, d);
  d->flags &= ~kDayFlagTradesRequested;
  d->flags |= kDayFlagTradesLoaded;
  return 0;
}

void ssevent_summarise_day(const ss_stock* stock, ss_day* d) {
  uint32_t open = 0, last = 0, high = 0, low = 0;
  uint64_t volume = 0, second_volume = 0, second_value = 0;
  bool opened = false;
  for (const ss_trade* t = d->trades.head; t; t = t->next) {
    // A cancelled trade did not happen: it sets no price and adds no volume.
    if (t->bits & kTradeCancelled) continue;
    if (t->bits & kTradeSetsLast) {
      if (!opened) open = t->price;
      opened = true;
      last = t->price;
    }
    if (t->bits & kTradeHighLow) {
      if (t->price > high) high = t->price;
      if (t->price && (!low || t->price < low)) low = t->price;
    }
    if (t->bits & kTradeVolume) volume += t->volume;
    if (stock && (t->bits & kTradeSecond)) {
      second_volume += t->volume;
      second_value += trade_value(stock, t->price, t->volume);
    }
  }
  d->open = open;
  d->last = last;
  d->high = high;
  d->low = low;
  d->volume = volume;
  if (stock && !ssutil_nzx_special_code(stock)) d->average = second_volume ? average_price(second_value, second_volume) : 0;
}

// ===========================================================================
// Minute-bar records

ss_day_bars* ssevent_new_day_record(void) {
  auto* b = static_cast<ss_day_bars*>(dalloc_alloc(sizeof(ss_day_bars)));
  memset(b, 0, sizeof *b);
  return b;
}

void ssevent_free_day_record(ss_day_bars* bars) {
  if (bars) lazyfree_later(free_bars, bars);
}
