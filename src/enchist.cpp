// History records: the writers. The flag byte of each day says which fields
// are copies of others (open of close, high of open or close, low of high,
// open or close) and whether the date is the next trading day; only the
// other fields are written. Used by the market simulator and the tests.
#include "enchist.h"

#include "decnews.h"
#include "encode.h"
#include "log.h"

static const char kSrc[] = "src/enchist";

namespace {

constexpr uint32_t kCountMax = 0xFFFF;
constexpr int kFriday = 5;
constexpr int32_t kIndexChangeMin = -2097150;
constexpr int32_t kIndexChangeMax = 2097152;

ss_time next_trading_day(ss_time d) {
  if (!d) return 0;
  return sstime_add_days(d, sstime_weekday(d) == kFriday ? 3 : 1);
}

// The flag bit 0 or the date field.
uint8_t date_flag(const enchist_state* st, ss_time date) {
  return st->prev_date && date == next_trading_day(st->prev_date) ? 0x01 : 0;
}

// An index change of v from base, or -1.
int index_change(uint8_t* out, uint32_t base, uint32_t v) {
  int64_t ch = static_cast<int64_t>(v) - base;
  if (ch < kIndexChangeMin || ch > kIndexChangeMax) {
    log(LOG_ERROR, kSrc, "can't encode index change %lld", static_cast<long long>(ch));
    return -1;
  }
  return encode_index_change(out, static_cast<int32_t>(ch));
}

// One day being written: each field goes on at the cursor until one fails.
struct day_writer {
  uint8_t* out;
  int used;
  template <class F>
  void field(F write) {
    if (used < 0) return;
    int r = write(out + used);
    used = r < 0 ? -1 : used + r;
  }
};

// Appends n records written by `one` behind a 16-bit count.
template <class P, class F>
int encode_record(growbuf* gb, const P* points, uint32_t n, int room, F one) {
  if (n > kCountMax) {
    log(LOG_ERROR, kSrc, "can't encode %u days", n);
    return -1;
  }
  const int32_t start = gb->len;
  uint8_t* p = growbuf_reserve(gb, 2);
  if (!p || growbuf_commit(gb, static_cast<uint32_t>(encode_short(p, n))) < 0) return -1;
  enchist_state st = {};
  for (uint32_t i = 0; i < n; i++) {
    uint8_t* q = growbuf_reserve(gb, static_cast<uint32_t>(room));
    int r = q ? one(&st, q, &points[i]) : -1;
    if (r < 0) {
      growbuf_truncate(gb, start);
      return -1;
    }
    growbuf_commit(gb, static_cast<uint32_t>(r));
  }
  return 0;
}

}  // namespace

int enchist_encode_stock_day(enchist_state* st, uint8_t* out, const ss_stock_point* p) {
  if (p->high < p->low || (st->prev_date && p->date < st->prev_date)) {
    log(LOG_ERROR, kSrc, "can't encode stock day %s", sstime_format_date(p->date));
    return -1;
  }
  uint8_t f = date_flag(st, p->date);
  if (p->open == p->close) f |= 0x02;
  if (p->high == p->open)
    f |= 0x20;
  else if (p->high == p->close)
    f |= 0x08;
  if (p->low == p->high)
    f |= 0x04;
  else if (p->low == p->open)
    f |= 0x40;
  else if (p->low == p->close)
    f |= 0x10;
  day_writer w{out, encode_byte(out, f)};
  uint32_t ref = st->ref;
  if (!(f & 0x01)) w.field([&](uint8_t* q) { return encode_date16(q, p->date); });
  w.field([&](uint8_t* q) { return encode_price(q, p->close, &ref); });
  if (!(f & 0x02)) w.field([&](uint8_t* q) { return encode_price(q, p->open, &ref); });
  if (!(f & 0x28)) w.field([&](uint8_t* q) { return encode_price(q, p->high, &ref); });
  if (!(f & 0x54)) w.field([&](uint8_t* q) { return encode_price(q, p->low, &ref); });
  w.field([&](uint8_t* q) { return encode_vlong(q, p->volume); });
  if (w.used < 0) return -1;
  st->ref = ref;
  st->prev_date = p->date;
  st->prev_close = p->close;
  return w.used;
}

int enchist_encode_index_day(enchist_state* st, uint8_t* out, const ss_index_point* p) {
  if (st->prev_date && p->date < st->prev_date) {
    log(LOG_ERROR, kSrc, "can't encode index day %s", sstime_format_date(p->date));
    return -1;
  }
  uint8_t f = date_flag(st, p->date);
  if (st->prev_date && p->base == st->prev_close) f |= 0x02;
  const bool none = !p->close && !p->open && !p->high && !p->low;
  if (none) {
    f |= 0x80;
  } else {
    if (p->open == p->base) f |= 0x04;
    if (p->high == p->open)
      f |= 0x08;
    else if (p->high == p->close)
      f |= 0x20;
    if (p->low == p->open)
      f |= 0x10;
    else if (p->low == p->close)
      f |= 0x40;
  }
  day_writer w{out, encode_byte(out, f)};
  if (!(f & 0x01)) w.field([&](uint8_t* q) { return encode_date16(q, p->date); });
  if (!(f & 0x02)) w.field([&](uint8_t* q) { return encode_index(q, p->base); });
  if (!none) {
    w.field([&](uint8_t* q) { return index_change(q, p->base, p->close); });
    if (!(f & 0x04)) w.field([&](uint8_t* q) { return index_change(q, p->base, p->open); });
    if (!(f & 0x28)) w.field([&](uint8_t* q) { return index_change(q, p->base, p->high); });
    if (!(f & 0x50)) w.field([&](uint8_t* q) { return index_change(q, p->base, p->low); });
  }
  if (w.used < 0) return -1;
  st->prev_date = p->date;
  st->prev_close = p->close;
  return w.used;
}

int enchist_encode_stock(growbuf* gb, const ss_stock_point* points, uint32_t n) {
  return encode_record(gb, points, n, kEnchistStockDayMax, enchist_encode_stock_day);
}

int enchist_encode_index(growbuf* gb, const ss_index_point* points, uint32_t n) {
  return encode_record(gb, points, n, kEnchistIndexDayMax, enchist_encode_index_day);
}

int enchist_encode_news(growbuf* gb, const ss_news* items, uint32_t n) {
  if (n > kCountMax) {
    log(LOG_ERROR, kSrc, "can't encode %u news items", n);
    return -1;
  }
  const int32_t start = gb->len;
  uint8_t* p = growbuf_reserve(gb, 2);
  if (!p || growbuf_commit(gb, static_cast<uint32_t>(encode_short(p, n))) < 0) return -1;
  for (uint32_t i = 0; i < n; i++) {
    const ss_news& it = items[i];
    if (encnews_encode_summary(gb, nullptr, it.number, it.time, it.codes, it.flags, it.headline) < 0) {
      growbuf_truncate(gb, start);
      return -1;
    }
  }
  return 0;
}
