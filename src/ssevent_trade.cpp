// Trade events: trades, cancels and runs of trades on a stock, with the
// day's prices and totals they move, the rankings and the price track.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "dalloc.h"
#include "kludge.h"
#include "lazyfree.h"
#include "log.h"
#include "pool.h"
#include "ssalert.h"
#include "ssbroker.h"
#include "ssclient.h"  // the request bits of instruments
#include "ssevent.h"
#include "ssevent_int.h"
#include "ssnotify.h"
#include "ssstate.h"
#include "sstrack.h"
#include "ssutil.h"

static const char kSrc[] = "src/ssevent";

using namespace ssevent_detail;

// Trades

namespace {

constexpr uint32_t kAlertTrade = 0x20000;
constexpr uint32_t kAlertTradeNoPrice = 0xA0000;
constexpr uint32_t kAlertTradeHighLow = 0x60000;  // a last-setting trade that counts for high and low
constexpr uint32_t kAlertTradeDown = 0x100005;
constexpr uint32_t kAlertTradeUp = 0x100003;

constexpr int kRankChange = 0;
constexpr int kRankVolume = 1;
constexpr int kRankValue = 2;

void set_average(ss_stock* s) {
  s->average_price = s->second_volume ? average_price(s->second_value, s->second_volume) : s->close;
}

using rank_compare = int (*)(const ss_stock*, const ss_stock*);
const rank_compare kRankCompare[3] = {ssmodel_rank_change_compare, ssmodel_rank_volume_compare,
                                      ssmodel_rank_value_compare};

// Moves a ranked stock to its place: towards the head while it ranks before
// its neighbour, else towards the tail while it ranks after it. A reader
// standing on the stock follows its new links, as in every relink.
void rank_move(ss_stock* s, int i) {
  ss_exchange* ex = s->exchange;
  ss_list<ss_stock>& list = ex->rank[i];
  if (!s->rank[i].prev && list.head != s) return;  // not ranked
  rank_compare cmp = kRankCompare[i];
  ss_stock* prev = s->rank[i].prev;
  ss_stock* next = s->rank[i].next;
  ss_stock* after;  // the new predecessor; null for the head
  if (prev && cmp(s, prev) < 0) {
    after = prev;
    while (after && cmp(s, after) < 0) after = after->rank[i].prev;
  } else if (next && cmp(s, next) > 0) {
    after = next;
    while (after->rank[i].next && cmp(s, after->rank[i].next) > 0) after = after->rank[i].next;
  } else {
    return;
  }
  if (prev)
    ssmodel_publish(prev->rank[i].next, next);
  else
    ssmodel_publish(list.head, next);
  if (next)
    ssmodel_publish(next->rank[i].prev, prev);
  else
    ssmodel_publish(list.tail, prev);
  ss_stock* before = after ? after->rank[i].next : list.head;
  ssmodel_publish(s->rank[i].prev, after);
  ssmodel_publish(s->rank[i].next, before);
  if (before)
    ssmodel_publish(before->rank[i].prev, s);
  else
    ssmodel_publish(list.tail, s);
  if (after)
    ssmodel_publish(after->rank[i].next, s);
  else
    ssmodel_publish(list.head, s);
}

// The trade a cancel names: `number` counts the day's trades from 0. With
// only the latest trades held, the list's live trades are the last of the
// day's count.
ss_trade* find_trade(ss_stock* s, int32_t number) {
  int64_t index = number;
  if (!(s->flags & kRqTradesLoaded)) {
    int64_t live = 0;
    for (ss_trade* t = s->trades.head; t; t = t->next)
      if (!(t->bits & kTradeCancelled)) live++;
    index = live + number - static_cast<int64_t>(s->trade_count);
  }
  if (index < 0) return nullptr;
  for (ss_trade* t = s->trades.head; t; t = t->next) {
    if (t->bits & kTradeCancelled) continue;
    if (index-- == 0) return t;
  }
  return nullptr;
}

void drop_trade_count(ss_stock* s) {
  if (s->trade_count) s->trade_count--;
}

// Everything but the value fields when the stock's value is not the trades'.
void refold_trades(ss_stock* s) {
  bool values = !ssutil_nzx_special_code(s);
  uint32_t open = 0, last = 0, high = 0, low = 0;
  uint64_t volume = 0, value = 0, second_volume = 0, second_value = 0;
  for (const ss_trade* t = s->trades.head; t; t = t->next) {
    if (t->bits & kTradeCancelled) continue;
    if (t->bits & kTradeSetsLast) {
      if (!open) open = t->price;
      last = t->price;
    }
    if ((t->bits & kTradeHighLow) && t->price) {
      if (t->price > high) high = t->price;
      if (!low || t->price < low) low = t->price;
    }
    if (t->bits & kTradeVolume) {
      volume = add_sat(volume, t->volume);
      value = add_sat(value, trade_value(s, t->price, t->volume));
    }
    if (t->bits & kTradeSecond) {
      second_volume = add_sat(second_volume, t->volume);
      second_value = add_sat(second_value, trade_value(s, t->price, t->volume));
    }
  }
  s->open = open;
  s->last = last;
  s->high = high;
  s->low = low;
  s->volume = volume;
  s->second_volume = second_volume;
  if (values) {
    s->value = value;
    s->second_value = second_value;
  }
  set_average(s);
  ssmodel_stock_derive(s);
}

// After a cancel: the track hears the new last price, or the previous close
// when no last is left.
void track_after_cancel(ss_stock* s, ss_time time, uint32_t old_last) {
  if (scratch(s) || s->last == old_last) return;
  if (s->last != 0 && s->last != kNoPrice)
    sstrack_track_stock(s, time, s->last);
  else if (s->close != 0 && s->close != kNoPrice)
    sstrack_track_stock(s, time, s->close);
}

void cancel_event(ss_stock* s, ss_time time, ss_trade* t, bool totals) {
  auto* p = new_payload<ss_ev_trade_cancel>(kEvTradeCancel);
  if (p) {
    p->time = time;
    if (totals) copy_day_figures(p, s);
    p->trade = t;
  }
  emit(s, kEvTradeCancel, p, kChangeTradeCancel);
}

}  // namespace

int ssevent_apply_trade(ss_stock* s, ss_time time, uint32_t price, uint64_t volume, int sets_last, int high_low,
                        int counts_volume, int counts_second, uint64_t conditions, uint64_t second_value, uint32_t date,
                        const char* buyer, const char* seller) {
  warm_event_list(s);
  __builtin_prefetch(s->trades.tail, 1);  // the trade is linked after it
  __builtin_prefetch(s->track, 1);        // its price track takes the new last price
  uint32_t p = price == kNoPrice ? 0 : price;
  uint32_t old_last = s->last;
  ss_trade* t = ssmodel_add_trade(s, time, p, volume);
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc %s %s trade", ex_name(s), s->code);
    return -1;
  }
  uint64_t bits = 0;
  if (sets_last) bits |= kTradeSetsLast;
  if (high_low) bits |= kTradeHighLow;
  if (counts_volume) bits |= kTradeVolume;
  if (counts_second) bits |= kTradeSecond;
  if (conditions) bits |= kTradeConditions;
  if (second_value) bits |= kTradeSecondValue;
  if (date) bits |= kTradeDate;
  t->bits |= bits;

  ss_broker* buy = nullptr;
  ss_broker* sell = nullptr;
  // A stock whose depth is kept as level totals has no broker fields on the
  // wire, trades included, so only ordinary stocks must name both brokers;
  // for the others the codes are taken when given, as on an exchange
  // without brokers.
  if ((s->exchange->flags & kExBrokers) && !out_of_order(s)) {
    if (!buyer || !*buyer) {
      log(LOG_ERROR, kSrc, "expecting a buy broker code");
      return -1;
    }
    if (!seller || !*seller) {
      log(LOG_ERROR, kSrc, "expecting a sell broker code");
      return -1;
    }
    if (!(buy = ssbroker_add(buyer))) {
      log(LOG_ERROR, kSrc, "can't add broker %s", buyer);
      return -1;
    }
    if (!(sell = ssbroker_add(seller))) {
      log(LOG_ERROR, kSrc, "can't add broker %s", seller);
      return -1;
    }
  } else {
    if (buyer && *buyer) buy = ssbroker_add(buyer);
    if (seller && *seller) sell = ssbroker_add(seller);
  }
  if (conditions || second_value || date || buy || sell) {
    if (!ssmodel_set_trade_detail(t, conditions, second_value, date, reinterpret_cast<uintptr_t>(buy),
                                  reinterpret_cast<uintptr_t>(sell))) {
      log(LOG_ERROR, kSrc, "can't alloc %s %s trade detail", ex_name(s), s->code);
      return -1;
    }
  }

  bool values = !ssutil_nzx_special_code(s);
  uint64_t value = values ? trade_value(s, p, volume) : 0;
  if (counts_volume) {
    s->volume = add_sat(s->volume, volume);
    s->value = add_sat(s->value, value);
  }
  if (counts_second) {
    s->second_volume = add_sat(s->second_volume, volume);
    s->second_value = add_sat(s->second_value, value);
    if (s->second_volume) s->average_price = average_price(s->second_value, s->second_volume);
  }
  if (time > s->last_trade_time) s->last_trade_time = time;
  raise_last(s, time);
  // The walk only ever sets the bit, and it can be long (a list of trades at
  // one price is walked to its end), so a stock that has the bit is spared it.
  if (!scratch(s) && !(s->flags & kRqRecentLoaded) && ssmodel_trades_vary(s)) s->flags |= kRqRecentLoaded;
  if (records(s)) emit(s, kEvTrade, t, kChangeTrade);

  uint32_t code = 0;
  if (s->exchange->flags & kExAlerts) {
    code = p == 0 ? kAlertTradeNoPrice : kAlertTrade;
    if (sets_last && p) {
      code = high_low ? kAlertTradeHighLow : kAlertTrade;
      if (p < old_last)
        code += kAlertTradeDown;
      else if (p > old_last)
        code += kAlertTradeUp;
    }
  }
  if (sets_last && p) {
    if (!s->open) s->open = p;
    if (!scratch(s)) {
      ssstate_push_trade_move(s, p);
      sstrack_track_stock(s, time, p);
    }
    s->last = p;
  }
  if (high_low && p) {
    if (!s->low || s->low > p) s->low = p;
    if (s->high < p) s->high = p;
  }
  ssmodel_stock_derive(s);
  fire_alert(s, time, code, t);
  if (s->exchange->flags & kExRankings) {
    if (sets_last) rank_move(s, kRankChange);
    if (counts_volume) {
      rank_move(s, kRankVolume);
      rank_move(s, kRankValue);
    }
  }
  return 0;
}

int ssevent_cancel_trade(ss_stock* s, ss_time time, int32_t number, uint32_t price, uint64_t volume) {
  uint32_t p = price == kNoPrice ? 0 : price;
  bool all = (s->flags & kRqTradesLoaded) != 0;
  ss_trade* t = find_trade(s, number);
  if (!t) {
    if (all) log(LOG_ERROR, kSrc, "can't find %s %s trade #%d to cancel", ex_name(s), s->code, number);
    wish_events(s);
    return 0;
  }
  if (t->price != p || t->volume != volume) {
    log(LOG_ERROR, kSrc, "%s %s cancel trade mismatch #%d %u/%u %llu/%llu", ex_name(s), s->code, number, p, t->price,
        static_cast<unsigned long long>(volume), static_cast<unsigned long long>(t->volume));
    wish_events(s);
    return 0;
  }
  uint32_t old_last = s->last;
  t->bits |= kTradeCancelled;
  drop_trade_count(s);
  if (all) refold_trades(s);
  rank_all(s);
  raise_last(s, time);
  track_after_cancel(s, time, old_last);
  if (records(s)) {
    log(LOG_WARN, kSrc, "%s:%s old cancel trade", ex_name(s), s->code);
    cancel_event(s, time, t, false);
  }
  return 0;
}

int ssevent_cancel_trade_totals(ss_stock* s, ss_time time, int32_t number, uint32_t price, uint64_t volume,
                                uint32_t open, uint32_t high, uint32_t low, uint32_t last, uint64_t total_volume,
                                uint64_t value, uint64_t second_volume, uint64_t second_value) {
  uint32_t p = price == kNoPrice ? 0 : price;
  ss_trade* t = find_trade(s, number);
  if (t && t->price == p && t->volume == volume) {
    t->bits |= kTradeCancelled;
  } else if (t) {
    log(LOG_WARN, kSrc, "%s %s cancel trade mismatch #%d %u/%u %llu/%llu", ex_name(s), s->code, number, p, t->price,
        static_cast<unsigned long long>(volume), static_cast<unsigned long long>(t->volume));
    wish_trades(s);
  } else if (s->flags & kRqTradesLoaded) {
    log(LOG_ERROR, kSrc, "can't find %s %s trade #%d to cancel", ex_name(s), s->code, number);
    wish_trades(s);
  }
  uint32_t old_last = s->last;
  drop_trade_count(s);
  s->open = open;
  s->high = high;
  s->low = low;
  s->last = last;
  s->volume = total_volume;
  s->second_volume = second_volume;
  if (!ssutil_nzx_special_code(s)) {
    s->value = value;
    s->second_value = second_value;
  }
  set_average(s);
  ssmodel_stock_derive(s);
  rank_all(s);
  raise_last(s, time);
  track_after_cancel(s, time, old_last);
  if (t && records(s)) cancel_event(s, time, t, true);
  return 0;
}

int ssevent_multi_trade_begin(ss_stock* s, ss_time time, uint32_t price, uint32_t count) {
  (void)count;
  E.run.open = true;
  E.run.stock = s;
  E.run.time = time;
  E.run.price = price;
  return 0;
}

int ssevent_multi_trade_add(ss_stock* s, uint64_t volume) {
  if (!E.run.open || (s && s != E.run.stock)) {
    log(LOG_ERROR, kSrc, "multi trade for %s without its begin", s ? s->code : "?");
    return -1;
  }
  return ssevent_apply_trade(E.run.stock, E.run.time, E.run.price, volume, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
}

int ssevent_multi_trade_end(ss_stock* s) {
  (void)s;
  E.run.open = false;
  E.run.stock = nullptr;
  return 0;
}

namespace ssevent_detail {

// The value a trade adds, in cents: price (hundredths of a cent) x volume x
// contract multiplier, over 100. The product is formed in 128 bits and
// saturates, so corrupt input cannot wrap it.
uint64_t trade_value(const ss_stock* s, uint32_t price, uint64_t volume) {
  int32_t m = static_cast<int32_t>(s->multiplier);
  unsigned __int128 mult = m < 1 ? 1 : static_cast<unsigned>(m);
  unsigned __int128 v = static_cast<unsigned __int128>(price) * volume * mult / 100;
  return v > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(v);
}

uint32_t average_price(uint64_t value, uint64_t volume) {
  double avg = std::rint(static_cast<double>(value) * 100.0 / static_cast<double>(volume));
  if (!(avg >= 0)) return 0;
  return avg >= 4294967295.0 ? 0xFFFFFFFEu : static_cast<uint32_t>(avg);
}


void rank_all(ss_stock* s) {
  if (!(s->exchange->flags & kExRankings)) return;
  for (int i = 0; i < 3; i++) rank_move(s, i);
}

}  // namespace ssevent_detail
