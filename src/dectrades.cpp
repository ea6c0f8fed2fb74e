// Trade list reader: groups of trades at one price (a count, the price, then
// each trade's time, optional flag block, volume and brokers), applied to a
// stock's trade list, and past days folded into one-minute bars.
//
// Each group is read twice, first only stepping over it, so that a group cut
// short or carrying a bad field adds none of its trades; a list stops at the
// first group that fails and leaves the stock's loaded bits alone, so the
// client asks again rather than believing a half list is whole.
#include "dectrades.h"

#include <cstdio>

#include "decguard.h"
#include "decode.h"
#include "kludge.h"
#include "log.h"
#include "ssbroker.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"

static const char kSrc[] = "src/dectrades.c";

namespace {

constexpr uint8_t kFlagConditions = 0x10;
constexpr uint8_t kFlagSecond = 0x20;
constexpr uint8_t kFlagAsAt = 0x40;
constexpr uint8_t kFlagBars = 0x06;  // sets the last price or counts for high and low
constexpr uint32_t kSecondsOfDay = 0x1FFFF;
constexpr int32_t kNoMinute = -1;

struct trades_state {
  int bars_only = 0;
  ss_day_bars* bars = nullptr;
  int32_t last_minute = kNoMinute;
};

trades_state T;

// One trade as read.
struct trade_fields {
  ss_time time;
  uint8_t flags;
  uint64_t conditions;
  uint64_t second;
  ss_time as_at;
  bool no_as_at;  // the flags promised an as-at date that read as 0
  uint64_t volume;
  char buyer[kCodecCodeBytes];
  char seller[kCodecCodeBytes];
};

int read_trade(const uint8_t* in, int32_t n, const ss_stock* s, ss_time* running, bool brokers, trade_fields* f) {
  int32_t used = 0;
  int r = decode_time_offset(in, n, running, &f->time);
  if (r <= 0) return r;
  used += r;
  f->flags = kTradeFlagDefault;
  f->conditions = f->second = 0;
  f->as_at = 0;
  f->no_as_at = false;
  f->buyer[0] = f->seller[0] = '\0';
  if (used >= n) return 0;
  if (in[used] == 0) {
    if (used + 2 > n) return 0;
    uint8_t b = in[used + 1];
    used += 2;
    // Before the flag rule changed, bit 7 was not sent: it follows bit 1.
    if (!kludge_after_20080304(f->time)) b = static_cast<uint8_t>((b & 0x7F) | ((b & 0x02) << 6));
    f->flags = b;
    if (b & kFlagConditions) {
      if ((r = decode_vlong(in + used, n - used, &f->conditions)) <= 0) return r;
      used += r;
      kludge_trade_in(static_cast<int32_t>(s->exchange->index), s->code, &f->conditions);
    }
    if (b & kFlagSecond) {
      if ((r = decode_vlong(in + used, n - used, &f->second)) <= 0) return r;
      used += r;
    }
    if (b & kFlagAsAt) {
      if ((r = decode_date16(in + used, n - used, &f->as_at)) <= 0) return r;
      used += r;
      if (f->as_at == 0) {
        f->no_as_at = true;
        f->flags = static_cast<uint8_t>(f->flags & ~kFlagAsAt);
      }
    }
  }
  if ((r = decode_volume(in + used, n - used, &f->volume)) <= 0) return r;
  used += r;
  if (brokers) {
    if ((r = decode_broker(in + used, n - used, f->buyer, sizeof f->buyer)) <= 0) return r;
    used += r;
    if ((r = decode_broker(in + used, n - used, f->seller, sizeof f->seller)) <= 0) return r;
    used += r;
  }
  return used;
}

// The broker's record; a full broker table keeps the trade without it.
ss_broker* broker_of(const char* code) {
  if (!*code) return nullptr;
  ss_broker* b = ssbroker_add(code);
  if (!b) log(LOG_ERROR, kSrc, "can't add broker %s", code);
  return b;
}

void add_to_bars(const trade_fields& f, uint32_t price) {
  ss_day_bars* bars = T.bars;
  if (!bars || !(f.flags & kFlagBars) || price == 0 || f.volume == 0) return;
  const int32_t minute = static_cast<int32_t>((f.time & kSecondsOfDay) / 60);
  if (minute == T.last_minute && bars->count > 0) {
    ss_day_bar& b = bars->bars[bars->count - 1];
    if (price > b.high) b.high = price;
    if (price < b.low) b.low = price;
    b.close = price;
    b.volume += f.volume;
    return;
  }
  if (bars->count >= kTradeBarsMax) return;
  ss_day_bar& b = bars->bars[bars->count++];
  b = ss_day_bar{f.time, price, price, price, price, 0, f.volume};
  T.last_minute = minute;
}

int apply_trade(ss_stock* s, const trade_fields& f, uint32_t price) {
  add_to_bars(f, price);
  if (T.bars_only && T.bars) return 0;
  ss_trade* t = ssmodel_add_trade(s, f.time, price, f.volume);
  if (!t) {
    log(LOG_ERROR, kSrc, "can't alloc %s %s trade", s->exchange->name, s->code);
    return -1;
  }
  t->bits = f.flags;
  const ss_broker* buy = broker_of(f.buyer);
  const ss_broker* sell = broker_of(f.seller);
  if (f.conditions || f.second || f.as_at || buy || sell) {
    if (!ssmodel_set_trade_detail(t, f.conditions, f.second, f.as_at, reinterpret_cast<uintptr_t>(buy),
                                  reinterpret_cast<uintptr_t>(sell))) {
      log(LOG_ERROR, kSrc, "can't alloc %s %s trade detail", s->exchange->name, s->code);
      return -1;
    }
  }
  if (s->exchange->flags & kExRecord) {
    ss_event* ev = ssevent_add_event(s, kEvTrade, t);
    if (ev) ssnotify_record(s, kChangeTrade, ev);
  }
  return 0;
}

// report: log what is wrong with a trade (the last of the passes over a group).
int read_group(const uint8_t* in, int32_t n, ss_stock* s, uint32_t* ref, ss_time* running, bool brokers, bool skip,
               bool report) {
  uint32_t k, price, r2 = *ref;
  ss_time run = *running;
  int32_t used = 0;
  int r = decode_vint(in, n, &k);
  if (r <= 0) return r;
  used += r;
  if (k == 0) return used;
  if ((r = decode_price(in + used, n - used, &price, &r2)) <= 0) return r;
  used += r;
  for (uint32_t i = 0; i < k; i++) {
    trade_fields f;
    if ((r = read_trade(in + used, n - used, s, &run, brokers, &f)) <= 0) return r;
    used += r;
    if (report && f.no_as_at) log(LOG_ERROR, kSrc, "%s: no as at date?", s->code);
    if (!skip && apply_trade(s, f, price) < 0) return -1;
  }
  *ref = r2;
  *running = run;
  return used;
}

bool carries_brokers(const ss_stock* s) {
  return (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
}

// Reads groups to the end; the number read in *groups. n, or -1 when a
// group fails or is cut short (the list is framed: short is bad).
int read_groups(ss_stock* s, const uint8_t* in, int32_t n, uint32_t ref, ss_time running, bool brokers, bool skip,
                int32_t* groups) {
  int32_t used = 0;
  *groups = 0;
  while (used < n) {
    int r = dectrades_decode_one(in + used, n - used, s, &ref, &running, brokers, skip);
    if (r <= 0) return -1;
    used += r;
    ++*groups;
  }
  return n;
}

// What recent and all trades share. all: the day's whole list.
int decode_list(ss_stock* s, const uint8_t* in, int32_t n, bool all) {
  const uint32_t not_needed = all ? kRqEventsLoaded : kRqTradesLoaded;
  const bool skip = (s->flags & not_needed) != 0;
  if (skip) log(LOG_WARN, kSrc, all ? "%s trades not required" : "%s recent trades not required", s->code);
  decguard_record_off record_off(s->exchange);
  decguard_loading loading(s);
  const uint32_t count = s->trade_count;
  if (!skip) {
    ssevent_free_events(s);
    ssmodel_free_trades(s);
  }
  int32_t groups;
  if (read_groups(s, in, n, s->last, s->exchange->date, carries_brokers(s), skip, &groups) < 0) {
    log(LOG_ERROR, kSrc, "can't decode %s %s %s trades after %d groups", s->exchange->name, s->code,
        all ? "all" : "recent", groups);
    return -1;
  }
  if (all) {
    s->flags &= ~(kRqRecentLoaded | kRqTradesLoaded | kRqRecent | kRqTrades);
    s->flags |= kRqRecentLoaded | kRqTradesLoaded;
  } else {
    s->flags &= ~(kRqRecentLoaded | kRqRecent);
    s->flags |= kRqRecentLoaded;
    if (groups < kTradeGroupsRecentMax) s->flags |= kRqTradesLoaded;
    if (!skip) s->trade_count = count;
  }
  return n;
}

}  // namespace

int dectrades_decode_one(const uint8_t* in, int32_t n, ss_stock* s, uint32_t* ref, ss_time* running, int brokers,
                         int skip) {
  uint32_t ref_copy = *ref;
  ss_time running_copy = *running;
  int r = read_group(in, n, s, &ref_copy, &running_copy, brokers != 0, true, skip != 0);
  if (r == 0) return -1;  // cut short
  if (r < 0 || skip) {
    if (r > 0) {
      *ref = ref_copy;
      *running = running_copy;
    }
    return r;
  }
  return read_group(in, n, s, ref, running, brokers != 0, false, true);
}

int dectrades_decode_recent(ss_stock* s, const uint8_t* in, int32_t n) { return decode_list(s, in, n, false); }
int dectrades_decode_all(ss_stock* s, const uint8_t* in, int32_t n) { return decode_list(s, in, n, true); }

int dectrades_decode_prevday(ss_stock* s, ss_time date, const uint8_t* in, int32_t n) {
  decguard_record_off record_off(s->exchange);
  decguard_loading loading(s);
  ssevent_free_events(s);
  if (!T.bars) T.bars = ssevent_new_day_record();
  T.bars->count = 0;
  T.last_minute = kNoMinute;
  int32_t groups;
  if (read_groups(s, in, n, 0, date, false, false, &groups) < 0) {
    sstime_parts p = {};
    sstime_unpack(&p, date);
    char text[16];
    snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.mon, p.mday);
    log(LOG_ERROR, kSrc, "can't decode %s %s", s->code, text);
    ssevent_free_events(s);
    return -1;
  }
  s->flags &= ~(kRqRecentLoaded | kRqTradesLoaded | kRqRecent | kRqTrades);
  s->flags |= kRqRecentLoaded | kRqTradesLoaded;
  return n;
}

int dectrades_decode_amend(ss_stock* s, ss_time time, const uint8_t* in, int32_t n, int32_t version) {
  uint16_t number;
  // The prices are told against a copy: the live first price is the stock's
  // own and changes only through the events.
  uint32_t ref = s->first_price;
  uint32_t price;
  uint64_t volume;
  uint32_t prices[4] = {};
  uint64_t values[4] = {};
  int32_t used = 0;
  int r = decode_short(in, n, &number);
  if (r <= 0) return r;
  used += r;
  if ((r = decode_price(in + used, n - used, &price, &ref)) <= 0) goto field;
  used += r;
  if ((r = decode_volume(in + used, n - used, &volume)) <= 0) goto field;
  used += r;
  if (version >= kTradeAmendFullVersion) {
    for (uint32_t& p : prices) {
      if ((r = decode_price(in + used, n - used, &p, &ref)) <= 0) goto field;
      used += r;
    }
    for (uint64_t& v : values) {
      if ((r = decode_vlong(in + used, n - used, &v)) <= 0) goto field;
      used += r;
    }
    if (ssevent_cancel_trade_totals(s, time, number, price, volume, prices[0], prices[1], prices[2], prices[3],
                                    values[0], values[1], values[2], values[3]) < 0)
      return -1;
  } else if (ssevent_cancel_trade(s, time, number, price, volume) < 0) {
    return -1;
  }
  return used;
field:
  if (r < 0) log(LOG_ERROR, kSrc, "failed");
  return r;
}

void dectrades_set_mode(int bars_only) { T.bars_only = bars_only ? 1 : 0; }

ss_day_bars* dectrades_take_bars(void) {
  ss_day_bars* b = T.bars;
  T.bars = nullptr;
  T.last_minute = kNoMinute;
  return b;
}
