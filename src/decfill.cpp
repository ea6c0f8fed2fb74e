// Back-fill readers. The live stock (or index) is never written while a fill
// decodes: the fill goes into a scratch record of the model's work set, and
// only a fill that decoded whole is moved in. The lists the move replaces are
// detached from a byte copy of the live record (the backup) and freed through
// deferred freeing, since the user-interface thread may be walking them. The
// modes switched for the length of a fill (yield points off, delivery held,
// the dispatcher's current exchange) are guards, so every error path restores
// them.
#include "decfill.h"

#include <cstring>

#include "dalloc.h"
#include "decguard.h"
#include "decode.h"
#include "kludge.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssproto.h"

static const char kSrc[] = "src/decfill.c";

namespace {

constexpr uint32_t kStockComplete = kRqBidLoaded | kRqOfferLoaded | kRqRecentLoaded | kRqTradesLoaded | kRqEventsLoaded;
constexpr uint32_t kIndexComplete = kRqRecentLoaded | kRqTradesLoaded | kRqEventsLoaded;
constexpr uint32_t kNoValue = 0xFFFFFFFFu;
constexpr int64_t kAbsoluteAbovePercent = 90;

// Yield points off while it lives: the core lock must not be given up while
// a record is half replaced.
class yield_off {
 public:
  yield_off() : saved_(ssclient_yield_enabled()) { ssclient_enable_yield(0); }
  ~yield_off() { ssclient_enable_yield(saved_); }
  yield_off(const yield_off&) = delete;
  yield_off& operator=(const yield_off&) = delete;

 private:
  int saved_;
};

// A byte copy of a live record, whose list heads are the live lists a move
// replaced; freeing its lists frees those.
class backup_copy {
 public:
  explicit backup_copy(const void* live, int32_t size) : p_(dalloc_alloc(size)) { memcpy(p_, live, size); }
  ~backup_copy() { dalloc_free(p_); }
  backup_copy(const backup_copy&) = delete;
  backup_copy& operator=(const backup_copy&) = delete;
  template <class T>
  T* as() {
    return static_cast<T*>(p_);
  }

 private:
  void* p_;
};

// Frees whatever lists the fill built on the scratch stock and leaves it
// empty, whether the fill failed or its lists were moved out.
void empty_stock(ss_stock* s) {
  ssmodel_free_depth(s);
  ssmodel_free_depth_breaks(s);
  ssmodel_free_trades(s);
  ssevent_free_events(s);
}

// The scratch stock for a fill: the live stock's code, previous close and
// depth layout on a scratch exchange that carries the fill's date; no lists,
// no trading values, no state. Its sides count as whole (the fill carries
// the day from its start) and it is muted, current and loading, so the
// dispatcher neither records changes for it, lists it, nor asks for it.
ss_stock* scratch_for(const ss_stock* live, ss_time date) {
  ss_stock* s = ssmodel_scratch_stock_for(kFillWorkSet, live->exchange, live->code);
  if (!s) return nullptr;
  ss_exchange* sx = s->exchange;
  sx->date = date;
  sx->flags &= ~(kExAlerts | kExRankings);
  if (live->exchange->index == static_cast<uint32_t>(kExchangeNzx)) sx->flags &= ~kExBrokers;
  memcpy(s->issuer, live->issuer, sizeof s->issuer);
  s->close = live->close;
  s->speed = live->speed;
  s->flags = (live->flags & kInOutOfOrder) | kRqBidLoaded | kRqOfferLoaded | kInLoading | kInMuted | kInCurrent;
  return s;
}

template <class T>
void move_list(T& to, T& from) {
  ssmodel_publish(to, from);
  from = T{};
}

// The live record takes the scratch's events (the old ones stay on the
// backup, which frees them).
void move_events(instr* live, instr* scratch) {
  ssmodel_publish(live->events.count, scratch->events.count);
  ssmodel_publish(live->events.oldest, scratch->events.oldest);
  ssmodel_publish(live->events.newest, scratch->events.newest);
  scratch->events = ss_event_list{};
}

}  // namespace

int decfill_decode_trades(ss_stock* live, ss_time date, const uint8_t* data, int32_t n) {
  yield_off yield;
  decguard_hold hold;
  ssproto_current_guard current;
  ss_stock* s = scratch_for(live, date);
  if (!s) {
    log(LOG_ERROR, kSrc, "error filling up %s", live->code);
    return -1;
  }
  const int used = n > 0 ? ssproto_decode_saved_for(s, data, n) : 0;
  if (used != n) {
    log(LOG_ERROR, kSrc, "error filling up %s", live->code);
    empty_stock(s);
    return -1;
  }
  log(LOG_INFO, kSrc, "decoded %s %d/%d", live->code, used, n);
  ss_exchange* ex = live->exchange;
  if (s->trade_count != live->trade_count && sstime_date_compare(date, ex->date) == 0) {
    log(LOG_WARN, kSrc, "changing %s ntrades from %d to %d", live->code, static_cast<int>(live->trade_count),
        static_cast<int>(s->trade_count));
    ex->trades_today += s->trade_count - live->trade_count;
  }
  backup_copy backup(live, ssmodel_stock_size());
  // The lists: the live record takes the scratch's, the backup keeps the old.
  ssevent_clear_pending();
  move_events(live, s);
  ssmodel_move_list(live->runs, s->runs);
  ssevent_forget_depth(live);
  for (int side = 0; side < 2; side++) {
    move_list(live->levels[side], s->levels[side]);
    ssmodel_move_list(live->breaks[side], s->breaks[side]);
  }
  ssmodel_move_list(live->trades, s->trades);
  live->trade_breaks = s->trade_breaks;
  s->trade_breaks = ss_trade_breaks{};
  live->trade_count = s->trade_count;
  s->trade_count = 0;
  // The figures the fill's messages made; the live first price and stream
  // time stay.
  ssmodel_auction_copy(&live->auction, &s->auction);
  live->bid = s->bid;
  live->offer = s->offer;
  live->open = s->open;
  live->high = s->high;
  live->low = s->low;
  live->last = s->last;
  live->volume = s->volume;
  live->value = s->value;
  live->second_volume = s->second_volume;
  live->second_value = s->second_value;
  live->average_price = s->average_price;
  live->last_trade_time = s->last_trade_time;
  live->flags |= kStockComplete;
  // What the live record held before, freed later.
  empty_stock(backup.as<ss_stock>());
  empty_stock(s);
  return 0;
}

int decfill_decode_index_ticks(ss_index* live, ss_time date, const uint8_t* data, int32_t n) {
  yield_off yield;
  decguard_hold hold;
  ss_index* x = ssmodel_scratch_index_for(kFillWorkSet, live->exchange, live->code);
  if (!x) return -1;
  x->exchange->date = date;
  x->exchange->flags &= ~(kExAlerts | kExRankings);
  x->flags |= kInLoading | kInMuted | kInCurrent;
  const bool tenths = kludge_before_20090610(date) != 0;
  const bool absolute = kludge_within_20090612(date) != 0;
  auto fail = [&](const char* why) {
    log(LOG_ERROR, kSrc, "error filling up %s: %s", live->code, why);
    ssmodel_free_index_ticks(x);
    ssevent_free_events(x);
    return -1;
  };
  uint32_t t, v;
  int32_t used = 0;
  int r = decode_uint32(data, n, &t);
  if (r <= 0) return fail("no first tick");
  used += r;
  if ((r = decode_index(data + used, n - used, &v)) <= 0) return fail("no first value");
  used += r;
  // 64-bit running value: tenths and the absolute-change rule must not wrap.
  int64_t running = static_cast<int64_t>(v) * (tenths ? 10 : 1);
  // A running value of exactly 0 is "no value given": that tick is skipped and
  // the rest of the fill still applies.
  if (running >= kNoValue || (running != 0 && ssevent_index_tick(x, t, kNoValue, kNoValue, kNoValue, kNoValue,
                                                                 static_cast<uint32_t>(running)) < 0))
    return fail("bad first tick");
  while (used < n) {
    int32_t c;
    if ((r = decode_uint32(data + used, n - used, &t)) <= 0) return fail("cut short");
    used += r;
    if ((r = decode_index_change(data + used, n - used, &c)) <= 0) return fail("cut short");
    used += r;
    int64_t change = static_cast<int64_t>(c) * (tenths ? 10 : 1);
    if (absolute && change > 0 && change > running * kAbsoluteAbovePercent / 100)
      running = change;
    else
      running += change;
    if (running < 0 || running >= kNoValue) return fail("value out of range");
    if (running == 0) continue;
    if (ssevent_index_tick(x, t, kNoValue, kNoValue, kNoValue, kNoValue, static_cast<uint32_t>(running)) < 0)
      return fail("tick refused");
  }
  struct figure {
    const char* name;
    uint32_t* live;
    uint32_t fill;
  } figures[] = {{"first", &live->open, x->open}, {"high", &live->high, x->high}, {"low", &live->low, x->low},
                 {"last", &live->value, x->value}};
  for (figure& f : figures) {
    if (*f.live == f.fill) continue;
    if (*f.live) log(LOG_WARN, kSrc, "changing %s %s from %u to %u", live->code, f.name, *f.live, f.fill);
    *f.live = f.fill;
  }
  backup_copy backup(live, sizeof(ss_index));
  move_events(live, x);
  ssmodel_move_list(live->ticks, x->ticks);
  live->flags |= kIndexComplete;
  ssmodel_free_index_ticks(backup.as<ss_index>());
  ssevent_free_events(backup.as<ss_index>());
  return 0;
}
