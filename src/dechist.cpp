// History records: reads a stock's or index's daily history and an issuer's
// news history into the model.
//
// A record is a 16-bit count and that many day records, each told against
// the previous one (next trading day, copies of open/high/low, prices
// against a running reference). The count is checked against the bytes
// present before the array grows, so a hostile count cannot make the model
// allocate what the record cannot fill. Points are stored by date: the
// server may resend days the cache already gave.
#include "dechist.h"

#include <algorithm>
#include <cstring>

#include "decnews.h"
#include "decode.h"
#include "log.h"

static const char kSrc[] = "src/dechist";

namespace {

// Flag byte F of a stock day.
constexpr uint8_t kDateNext = 0x01;
constexpr uint8_t kOpenIsClose = 0x02;
constexpr uint8_t kLowIsHigh = 0x04;
constexpr uint8_t kHighIsClose = 0x08;
constexpr uint8_t kLowIsClose = 0x10;
constexpr uint8_t kHighIsOpen = 0x20;
constexpr uint8_t kLowIsOpen = 0x40;
// Flag byte F of an index day (bit 0 as for stocks).
constexpr uint8_t kBaseIsPrev = 0x02;
constexpr uint8_t kSecondIsBase = 0x04;
constexpr uint8_t kThirdIsSecond = 0x08;
constexpr uint8_t kFourthIsSecond = 0x10;
constexpr uint8_t kThirdIsClose = 0x20;
constexpr uint8_t kFourthIsClose = 0x40;
constexpr uint8_t kNoValues = 0x80;

// The request senders' "history requested" bit of the instrument flags.
constexpr uint32_t kHistoryRequested = 0x2000;

// The fewest bytes a day record or news item can take: the count of a
// record is refused when the bytes present cannot hold that many.
constexpr int32_t kStockDayMin = 3;   // F, close, volume
constexpr int32_t kIndexDayMin = 1;   // F alone (next day, previous base, no values)
constexpr int32_t kNewsItemMin = 10;  // number, time, count byte, empty headline

constexpr int kFriday = 5;

int32_t clamp_change(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The trading day after `date` (whose parts are given): one day later, or
// three after a Friday.
ss_time next_trading_day(ss_time date, const sstime_parts& parts) {
  return sstime_add_days(date, parts.wday == kFriday ? 3 : 1);
}

// Whether `before` is the trading day just before `date`.
bool day_before(ss_time before, ss_time date) {
  sstime_parts parts;
  return before && sstime_unpack(&parts, before) == 0 && next_trading_day(before, parts) == date;
}

// The date of a day record: read, or the next trading day after the
// previous one. Bytes used, 0 short, -1 bad.
int read_date(const dechist_state* st, uint8_t f, const uint8_t* data, int32_t n, ss_time* date, const char* what) {
  if (!(f & kDateNext)) return decode_date16(data, n, date);
  if (!st->prev_date) {
    log(LOG_ERROR, kSrc, "no previous date for date next");
    return -1;
  }
  sstime_parts parts;
  if (sstime_unpack(&parts, st->prev_date) < 0) {
    log(LOG_ERROR, kSrc, "%s history is corrupt", what);
    return -1;
  }
  *date = next_trading_day(st->prev_date, parts);
  if (!*date) {
    log(LOG_ERROR, kSrc, "%s history is corrupt", what);
    return -1;
  }
  return 0;  // no bytes
}

// A cursor over one day record; the first field that is short or bad
// stops it.
struct cursor {
  const uint8_t* data;
  int32_t n;
  int32_t used = 0;
  int st = 1;  // 1 reading, 0 short, -1 bad
  template <class F>
  void field(F read) {
    if (st != 1) return;
    int r = read(data + used, n - used);
    if (r <= 0) {
      st = r;
      return;
    }
    used += r;
  }
  int result() const { return st == 1 ? used : st; }
};

// The index value base + change, or -1 when it would fall below 0.
int index_add(uint32_t base, int32_t change, uint32_t* out) {
  int64_t v = static_cast<int64_t>(base) + change;
  if (v < 0) {
    log(LOG_ERROR, kSrc, "index value %u%+d is below zero", base, change);
    return -1;
  }
  *out = static_cast<uint32_t>(v);
  return 0;
}

// Where a point of `date` goes in a history array of `count` points: its
// slot, and whether it replaces the point there.
template <class P>
uint32_t place_of(const P* points, uint32_t count, ss_time date, bool* replace) {
  *replace = false;
  if (!count || points[count - 1].date < date) return count;
  uint32_t i = static_cast<uint32_t>(
      std::lower_bound(points, points + count, date, [](const P& p, ss_time d) { return p.date < d; }) - points);
  *replace = points[i].date == date;
  return i;
}

// Stores p in date order; the slot it took. The array has room.
template <class H, class P>
uint32_t store_point(H* h, const P& p) {
  bool replace;
  uint32_t count = h->count;
  uint32_t i = place_of(h->points, count, p.date, &replace);
  if (replace) {
    h->points[i] = p;
    return i;
  }
  if (i < count) memmove(&h->points[i + 1], &h->points[i], (count - i) * sizeof(P));
  h->points[i] = p;
  ssmodel_publish(h->count, count + 1);
  return i;
}

// Reads a record's count and checks it against the bytes present.
int read_count(const instr* in, const uint8_t* data, int32_t n, int32_t min_day, const char* what, uint16_t* count) {
  if (n < 2 || decode_short(data, n, count) != 2) {
    log(LOG_ERROR, kSrc, "%s:%s %s history is corrupt", in->exchange ? in->exchange->name : "?", in->code, what);
    return -1;
  }
  if (static_cast<int64_t>(*count) * min_day > n - 2) {
    log(LOG_ERROR, kSrc, "%s:%s %s history of %d days in %db is corrupt", in->exchange ? in->exchange->name : "?",
        in->code, what, static_cast<int>(*count), n - 2);
    return -1;
  }
  return 0;
}

void corrupt(const instr* in, const char* what) {
  log(LOG_ERROR, kSrc, "%s:%s %s history is corrupt", in->exchange ? in->exchange->name : "?", in->code, what);
}

void finish(instr* in, int complete) {
  if (!complete) return;
  in->flags |= kInHistory;
  in->flags &= ~kHistoryRequested;
}

}  // namespace

int dechist_decode_stock_day(dechist_state* st, const uint8_t* data, int32_t n, ss_stock_point* out) {
  uint8_t f;
  if (decode_byte(data, n, &f) <= 0) return -1;
  cursor c{data, n, 1};
  ss_stock_point p = {};
  int d = read_date(st, f, data + c.used, n - c.used, &p.date, "stock");
  if (d < 0 || (d == 0 && !(f & kDateNext))) return -1;
  c.used += d;
  uint32_t ref = st->ref;
  c.field([&](const uint8_t* q, int32_t m) { return decode_price(q, m, &p.close, &ref); });
  if (f & kOpenIsClose)
    p.open = p.close;
  else
    c.field([&](const uint8_t* q, int32_t m) { return decode_price(q, m, &p.open, &ref); });
  if (f & kHighIsOpen)
    p.high = p.open;
  else if (f & kHighIsClose)
    p.high = p.close;
  else
    c.field([&](const uint8_t* q, int32_t m) { return decode_price(q, m, &p.high, &ref); });
  if (f & kLowIsHigh)
    p.low = p.high;
  else if (f & kLowIsOpen)
    p.low = p.open;
  else if (f & kLowIsClose)
    p.low = p.close;
  else
    c.field([&](const uint8_t* q, int32_t m) { return decode_price(q, m, &p.low, &ref); });
  c.field([&](const uint8_t* q, int32_t m) { return decode_vlong(q, m, &p.volume); });
  if (c.result() <= 0) return -1;
  if (p.high < p.low) {
    p.high = std::max(p.open, p.close);
    p.low = std::min(p.open, p.close);
  }
  p.change = p.close && st->prev_close ? clamp_change(static_cast<int64_t>(p.close) - st->prev_close) : 0;
  st->prev_close = p.close;
  st->prev_date = p.date;
  st->ref = ref;
  *out = p;
  return c.used;
}

int dechist_decode_index_day(dechist_state* st, const uint8_t* data, int32_t n, ss_index_point* out) {
  uint8_t f;
  if (decode_byte(data, n, &f) <= 0) return -1;
  cursor c{data, n, 1};
  ss_index_point p = {};
  int d = read_date(st, f, data + c.used, n - c.used, &p.date, "index");
  if (d < 0 || (d == 0 && !(f & kDateNext))) return -1;
  c.used += d;
  if (f & kBaseIsPrev)
    p.base = st->prev_close;
  else
    c.field([&](const uint8_t* q, int32_t m) { return decode_index(q, m, &p.base); });
  // Each of the four values: a copy, or base plus a change.
  auto value = [&](uint32_t* v) {
    int32_t ch = 0;
    c.field([&](const uint8_t* q, int32_t m) { return decode_index_change(q, m, &ch); });
    if (c.st == 1 && index_add(p.base, ch, v) < 0) c.st = -1;
  };
  if (!(f & kNoValues)) {
    value(&p.close);
    if (f & kSecondIsBase)
      p.open = p.base;
    else
      value(&p.open);
    if (f & kThirdIsSecond)
      p.high = p.open;
    else if (f & kThirdIsClose)
      p.high = p.close;
    else
      value(&p.high);
    if (f & kFourthIsSecond)
      p.low = p.open;
    else if (f & kFourthIsClose)
      p.low = p.close;
    else
      value(&p.low);
  }
  if (c.result() <= 0) return -1;
  p.change = p.close ? clamp_change(static_cast<int64_t>(p.close) - p.base) : 0;
  st->prev_close = p.close;
  st->prev_date = p.date;
  *out = p;
  return c.used;
}

namespace {

// Reads a whole history record into the array at `slot` (the instrument's,
// reallocated by `reserve`): `day` reads one record, `keep` decides whether
// a day read is stored, `stored` runs on the slot it took (and is told
// whether the day was the record's first).
template <class P, class H, class Reserve, class Day, class Keep, class Stored>
int read_history(instr* in, H* const& slot, const uint8_t* data, int32_t n, int complete, int32_t min_day,
                 const char* what, Reserve reserve, Day day, Keep keep, Stored stored) {
  uint16_t count;
  if (read_count(in, data, n, min_day, what, &count) < 0) return -1;
  if (reserve(count) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc space for %s history", in->code);
    in->flags &= ~kHistoryRequested;
    return -1;
  }
  dechist_state st = {};
  int32_t used = 2;
  uint32_t i = 0;
  for (; i < count && used < n; i++) {
    P p;
    int r = day(&st, data + used, n - used, &p);
    if (r <= 0) break;
    used += r;
    if (!keep(p) || p.date < in->history_from) continue;
    stored(slot, store_point(slot, p), i == 0);
  }
  if (i < count || used < n) {
    corrupt(in, what);
    return -1;
  }
  finish(in, complete);
  return 0;
}

}  // namespace

int dechist_decode_stock(ss_stock* stock, const uint8_t* data, int32_t n, int complete) {
  return read_history<ss_stock_point>(
      stock, stock->history, data, n, complete, kStockDayMin, "stock",
      [stock](uint32_t count) { return ssmodel_reserve_history(stock, count); }, dechist_decode_stock_day,
      [](const ss_stock_point& p) { return p.volume != 0; },
      [](ss_stock_history* h, uint32_t slot, bool first) {
        // A day with no change of its own takes it from the point before
        // it. The record's first day only when that point is the trading
        // day just before it: a stored point may be days older (a gap the
        // cache never filled), and a change across the gap would be wrong;
        // but a reply that starts at the newest cached day (as the client
        // asks) must not wipe that day's change either.
        ss_stock_point& s = h->points[slot];
        if (s.change == 0 && slot > 0 && s.close && h->points[slot - 1].close &&
            (!first || day_before(h->points[slot - 1].date, s.date)))
          s.change = clamp_change(static_cast<int64_t>(s.close) - h->points[slot - 1].close);
      });
}

int dechist_decode_index(ss_index* index, const uint8_t* data, int32_t n, int complete) {
  return read_history<ss_index_point>(
      index, index->history, data, n, complete, kIndexDayMin, "index",
      [index](uint32_t count) { return ssmodel_reserve_index_history(index, count); }, dechist_decode_index_day,
      [](const ss_index_point&) { return true; }, [](ss_index_history*, uint32_t, bool) {});
}

int dechist_decode_news(instr* in, const uint8_t* data, int32_t n, int complete) {
  uint16_t count;
  if (read_count(in, data, n, kNewsItemMin, "news", &count) < 0) return -1;
  int32_t used = 2;
  uint32_t i = 0;
  for (; i < count && used < n; i++) {
    uint32_t number, codes[kNewsCodes], flags;
    ss_time time;
    char headline[kNewsHeadlineRead];
    int r = decnews_decode_summary(nullptr, &number, &time, codes, &flags, headline, data + used, n - used);
    if (r <= 0) break;
    used += r;
    if (time < in->history_from) continue;
    if (!ssmodel_add_news(in, number, time, codes, flags, headline)) return -1;
  }
  if (i < count || used < n) {
    corrupt(in, "news");
    return -1;
  }
  if (complete) {
    if (in->kind == kKindIssuer) ssmodel_apply_news_removals(static_cast<ss_issuer*>(in));
    finish(in, complete);
  }
  return 0;
}
