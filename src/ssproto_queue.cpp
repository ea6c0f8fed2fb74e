// Protocol handlers for whole lists of one stock (order queues in the
// exchange's stream, depth and trade-list answers to requests) and for the
// index ticks and trade variants.
//
// A list inside a message is framed by a length (or a block), so the list
// reader is given exactly its bytes: a reader that finds it incomplete there
// is looking at bad data, and the message fails rather than waiting for bytes
// that will never come.
#include "ssproto.h"
#include "ssproto_int.h"

#include <cstring>

#include "decblk.h"
#include "decdepth.h"
#include "dechdr.h"
#include "decode.h"
#include "decqueue.h"
#include "dectrades.h"
#include "kludge.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr uint32_t kTypeAllTrades = 75;
constexpr uint32_t kTypeCrossing = 70;
constexpr uint32_t kNoValue = 0xFFFFFFFFu;

template <class Reader>
int field(ssproto_msg* m, Reader reader) {
  int r = reader(m->data + m->used, m->avail - m->used);
  if (r > 0) m->used += r;
  return r;
}

int read_int24(ssproto_msg* m, uint32_t* v) {
  return field(m, [v](const uint8_t* p, int32_t n) { return decode_int24(p, n, v); });
}
int read_vlong(ssproto_msg* m, uint64_t* v) {
  return field(m, [v](const uint8_t* p, int32_t n) { return decode_vlong(p, n, v); });
}
int read_index(ssproto_msg* m, uint32_t* v) {
  return field(m, [v](const uint8_t* p, int32_t n) { return decode_index(p, n, v); });
}
int read_change(ssproto_msg* m, int32_t* v) {
  return field(m, [v](const uint8_t* p, int32_t n) { return decode_index_change(p, n, v); });
}

// Waits until `length` bytes follow the cursor; then *list points at them
// and the cursor moves past them.
int take_bytes(ssproto_msg* m, uint32_t length, const uint8_t** list) {
  if (static_cast<int64_t>(m->avail - m->used) < length) return 0;
  *list = m->data + m->used;
  m->used += static_cast<int32_t>(length);
  return 1;
}

int side_of(const ssproto_msg* m) { return m->type & 1; }

// The request bits an answer loads: its side's queue, or the trade lists
// (and, for all trades, what makes a list "not required").
uint32_t answer_loads(uint32_t type) {
  switch (type) {
    case 64: case 66: return kRqBidLoaded;
    case 65: case 67: return kRqOfferLoaded;
    case 75: return kRqRecentLoaded | kRqTradesLoaded | kRqEventsLoaded;
    default: return kRqRecentLoaded | kRqTradesLoaded;
  }
}

// The stock an answer names: exchange index and code, outside the stream. A
// stock the answer adds gets the bits of a stock the stream adds, except
// those of what the answer itself loads: with them set the list would be
// "not required" and the new stock would stay empty.
ss_stock* answer_stock(ssproto_msg* m, int* r) {
  uint8_t index;
  char code[kCodeSize];
  *r = ssproto_read_byte(m, &index);
  if (*r <= 0) return nullptr;
  *r = ssproto_read_code(m, code);
  if (*r <= 0) return nullptr;
  ss_exchange* ex = ssmodel_exchange(index);
  if (!ex) {
    log(LOG_ERROR, kSrc, "can't find exchange %d", index);
    *r = -1;
    return nullptr;
  }
  ss_stock* s = ssmodel_find_stock(ex, code);
  if (!s) {
    s = ssmodel_add_stock(ex, code);
    if (!s) {
      log(LOG_ERROR, kSrc, "can't add %s to %s", code, ex->name);
      *r = -1;
      return nullptr;
    }
    s->flags = kAddedStockFlags & ~answer_loads(m->type);
  }
  return s;
}

// Steps after a successful tick: the index is seen, listed in code order and
// given a speed number while the table has room.
void index_listed(ss_index* x, ss_time time) {
  ssmodel_link_index_current(x);  // returns at once when already listed
  if (x->speed < 0) dechdr_add_index_speed(x);
  if (time > x->last_tick_time) x->last_tick_time = time;
}

int tick(ssproto_msg* m, ss_index* x, uint32_t ref, uint32_t first, uint32_t high, uint32_t low, uint32_t last) {
  if (ssevent_index_tick(x, m->time, ref, first, high, low, last) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s index", x->exchange->name, x->code);
    return PROTO_FAIL();
  }
  index_listed(x, m->time);
  return ssproto_used(m);
}

// v + c as an index value, or -1 when it leaves the values' range.
int64_t plus(uint32_t v, int32_t c) {
  const int64_t r = static_cast<int64_t>(v) + c;
  return r < 0 || r >= kNoValue ? -1 : r;
}

}  // namespace

namespace ssproto_handlers {

// 60, 61: short length L and L bytes of the side's order queue.
int do_queue(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint16_t length;
  const uint8_t* list;
  PROTO_FIELD(ssproto_read_short(m, &length));
  PROTO_FIELD(take_bytes(m, length, &list));
  uint32_t orders = 0;
  if (decqueue_decode(s, side_of(m), list, length, ssproto_version(), &orders) != length) {
    log(LOG_ERROR, kSrc, "can't decode %s %s depth queue", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  ssclient_yield_point(orders);
  return ssproto_used(m);
}

// 62, 63: one framed block holding the side's order queue.
int do_queue_block(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  growbuf* work = ssproto_work_buffer(m->nesting);
  if (!work) return PROTO_FAIL();
  const int32_t mark = work->len;
  int r = decblk_read(m->data + m->used, m->avail - m->used, work);
  if (r <= 0) {
    if (r < 0) log(LOG_ERROR, kSrc, "can't decode %s %s depth queue", s->exchange->name, s->code);
    return r < 0 ? PROTO_FAIL() : 0;
  }
  m->used += r;
  const int32_t n = work->len - mark;
  uint32_t orders = 0;
  const int q = decqueue_decode(s, side_of(m), work->data + mark, n, ssproto_version(), &orders);
  growbuf_truncate(work, mark);
  if (q != n) {
    log(LOG_ERROR, kSrc, "can't decode %s %s depth queue", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  ssclient_yield_point(orders);
  return ssproto_used(m);
}

// 64, 65 partial and 66, 67 full depth of one side, answering a request.
int do_depth_answer(ssproto_msg* m) {
  int r;
  ss_stock* s = answer_stock(m, &r);
  if (!s) return r < 0 ? PROTO_FAIL() : r;
  uint16_t length;
  const uint8_t* list;
  PROTO_FIELD(ssproto_read_short(m, &length));
  PROTO_FIELD(take_bytes(m, length, &list));
  const int side = side_of(m);
  const bool full = m->type >= 66;
  log(LOG_INFO, kSrc, "%s %s %s %db", full ? "full" : "partial", s->code, side ? "offers" : "bids",
      static_cast<int>(length));
  const uint32_t ref = *ssproto_price_ref(s);
  r = full ? decdepth_decode_whole(s, side, list, length) : decdepth_decode_limited(s, side, list, length);
  if (r != length) {
    *ssproto_price_ref(s) = ref;
    log(LOG_ERROR, kSrc, "can't decode %s %s %s depth", s->exchange->name, s->code, full ? "full" : "partial");
    return PROTO_FAIL();
  }
  ssnotify_record(s, kChangeQueues, nullptr);
  return ssproto_used(m);
}

// 68: the stock's depth is kept as level totals from now on.
int do_out_of_order(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  ssevent_set_out_of_order(s);
  return ssproto_used(m);
}

// 69: a word read and dropped.
int do_skip_word(ssproto_msg* m) {
  uint32_t word;
  PROTO_FIELD(ssproto_read_u32(m, &word));
  return ssproto_used(m);
}

// 75 all trades, 76 recent trades: int24 length and the trade groups. A list
// that fails stays consumed (its bytes are known); the stock's loaded bits
// stay clear, so it is asked for again.
int do_trade_list(ssproto_msg* m) {
  int r;
  ss_stock* s = answer_stock(m, &r);
  if (!s) return r < 0 ? PROTO_FAIL() : r;
  uint32_t length;
  const uint8_t* list;
  PROTO_FIELD(read_int24(m, &length));
  PROTO_FIELD(take_bytes(m, length, &list));
  const bool all = m->type == kTypeAllTrades;
  const int32_t n = static_cast<int32_t>(length);
  if (all) {
    log(LOG_INFO, kSrc, "all trades %s %db", s->code, n);
    if (dectrades_decode_all(s, list, n) == n) ssnotify_record(s, kChangeAllTrades, nullptr);
  } else {
    log(LOG_INFO, kSrc, "recent trades %s %db", s->code, n);
    if (dectrades_decode_recent(s, list, n) == n) ssnotify_record(s, kChangeQueues, nullptr);
  }
  ssclient_yield_point(s->trades.count);
  return ssproto_used(m);
}

// 31: a change to the index's current value.
int do_index_tick(ssproto_msg* m) {
  ss_index* x = ssproto_take_index(m);
  if (!x) return PROTO_FAIL();
  int32_t c;
  PROTO_FIELD(read_change(m, &c));
  if (x->value == 0 || x->value == kNoValue) {
    log(LOG_ERROR, kSrc, "%s %s: index change with no value to change", x->exchange->name, x->code);
    return PROTO_FAIL();
  }
  const int64_t last = plus(x->value, c);
  if (last < 0) return PROTO_FAIL();
  return tick(m, x, kNoValue, kNoValue, kNoValue, kNoValue, static_cast<uint32_t>(last));
}

// 80-83: an index value and up to four changes from it.
int do_index_values(ssproto_msg* m) {
  ss_index* x = ssproto_take_index(m);
  if (!x) return PROTO_FAIL();
  uint32_t v;
  PROTO_FIELD(read_index(m, &v));
  const int changes = m->type == 83 ? 0 : m->type == 80 ? 1 : m->type == 81 ? 3 : 4;
  uint32_t at[4];
  for (int i = 0; i < changes; i++) {
    int32_t c;
    PROTO_FIELD(read_change(m, &c));
    const int64_t r = plus(v, c);
    if (r < 0) return PROTO_FAIL();
    at[i] = static_cast<uint32_t>(r);
  }
  switch (m->type) {
    case 83: return tick(m, x, v, kNoValue, kNoValue, kNoValue, kNoValue);
    case 80: return tick(m, x, v, kNoValue, kNoValue, kNoValue, at[0]);
    case 81: return tick(m, x, kNoValue, v, at[0], at[1], at[2]);
    default: return tick(m, x, v, at[0], at[1], at[2], at[3]);
  }
}

// 70 a crossing, 71 a trade with conditions, second value and date.
int do_trade_variant(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint32_t price;
  uint64_t volume, conditions = 0, second = 0;
  ss_time date = 0;
  uint8_t flags = 0;
  char buyer[kCodeSize], seller[kCodeSize];
  PROTO_FIELD(ssproto_read_price(m, &price, ssproto_price_ref(s)));
  PROTO_FIELD(ssproto_read_volume(m, &volume));
  const bool crossing = m->type == kTypeCrossing;
  if (!crossing) {
    PROTO_FIELD(ssproto_read_byte(m, &flags));
    if (flags & 0x08) PROTO_FIELD(read_vlong(m, &conditions));
    if (flags & 0x10) PROTO_FIELD(read_vlong(m, &second));
    if (flags & 0x20) PROTO_FIELD(ssproto_read_date(m, &date));
  }
  PROTO_FIELD(read_broker_field(m, s, buyer));
  PROTO_FIELD(read_broker_field(m, s, seller));
  int r;
  if (crossing) {
    r = ssevent_apply_trade(s, m->time, price, volume, 1, 1, 1, 1, 1, 0, 0, buyer, seller);
  } else {
    kludge_trade_in(static_cast<int32_t>(s->exchange->index), s->code, &conditions);
    r = ssevent_apply_trade(s, m->time, price, volume, flags & 0x01, flags & 0x02, flags & 0x04, flags & 0x40,
                            conditions, second, date, buyer, seller);
  }
  if (r < 0) {
    log(LOG_ERROR, kSrc, crossing ? "can't add %s %s trade crossing" : "can't add %s %s extended trade",
        s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  ssnotify_record(s, kChangeTrade, nullptr);
  return ssproto_used(m);
}

// 72: a cancellation or amendment of one of the stock's trades.
int do_trade_amend(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  int r = field(m, [m, s](const uint8_t* p, int32_t n) {
    return dectrades_decode_amend(s, m->time, p, n, ssproto_version());
  });
  if (r <= 0) return r < 0 ? PROTO_FAIL() : 0;
  ssnotify_record(s, kChangeTradeCancel, nullptr);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
