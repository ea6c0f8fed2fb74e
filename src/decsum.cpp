// Summary readers: the snapshot of an exchange, decoded into the model.
//
// The stock and index summaries list every instrument in speed order, so the
// reader checks each entry's position against the exchange's speed table and
// gives new instruments the next speed: afterwards both ends of the stream
// name the same instrument by the same number. The sparse lists that follow
// name stocks by speed as steps from the previous entry; every index taken
// from the wire (a list's size, a step, the depth-only table's size) is
// bounded before it touches a table.
#include "decsum.h"

#include <atomic>
#include <cstring>

#include "dalloc.h"
#include "deccursor.h"
#include "decdepth.h"
#include "decguard.h"
#include "dechdr.h"
#include "decnews.h"
#include "decode.h"
#include "dectrack.h"
#include "log.h"
#include "plat.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "sstrack.h"
#include "ssutil.h"

static const char kSrc[] = "src/decsum";

namespace {

struct decsum_state {
  decsum_hooks hooks = {nullptr, nullptr};
  // The depth-only table of the last 48/195 message: one byte per speed
  // below its size, `rest` for the speeds after it.
  uint8_t* depth_only = nullptr;
  uint32_t depth_only_n = 0;
  uint8_t depth_only_rest = 0;
  const ss_exchange* depth_only_ex = nullptr;
  std::atomic<uint32_t> decoded{0};
  std::atomic<uint32_t> expected{0};
  int64_t started_ms = 0;
  std::atomic<uint32_t> last_ms{0};
};

decsum_state S;

void free_depth_only() {
  if (S.depth_only) dalloc_free(S.depth_only);
  S.depth_only = nullptr;
  S.depth_only_n = 0;
  S.depth_only_rest = 0;
  S.depth_only_ex = nullptr;
}

bool aborted() { return S.hooks.aborted && S.hooks.aborted(); }

// Whether the depth-only table speaks for the exchange's stocks: without one
// the stocks keep the out-of-order flags they have (a summary sent without
// the list changes no stock's depth layout).
bool depth_only_table(const ss_exchange* ex) { return S.depth_only && S.depth_only_ex == ex; }

bool depth_only_marked(int32_t i) {
  return static_cast<uint32_t>(i) < S.depth_only_n ? S.depth_only[i] != 0 : S.depth_only_rest != 0;
}

// The entry at position i names `in`; c is the exchange's speed count and
// `at` the instrument the table has at i (when i < c). 0, or -1 after ERROR.
int speed_check(const ss_exchange* ex, const instr* in, int32_t speed, int32_t i, uint32_t c, const instr* at) {
  if (static_cast<uint32_t>(i) < c && at != in) {
    log(LOG_ERROR, kSrc, "%s %s speed mismatch 1: %d should be %s", ex->name, in->code, i, at ? at->code : "?");
    return -1;
  }
  if (speed >= 0 && speed != i) {
    log(LOG_ERROR, kSrc, "%s %s speed mismatch 2: %d should be %d", ex->name, in->code, i, speed);
    return -1;
  }
  if (static_cast<uint32_t>(i) > c) {
    log(LOG_ERROR, kSrc, "%s %s speed mismatch 3: %d should be %d", ex->name, in->code, i, static_cast<int32_t>(c));
    return -1;
  }
  return 0;
}

// Turns the exchange's rankings off while it lives.
class rankings_off {
 public:
  explicit rankings_off(ss_exchange* ex) : ex_(ex), had_((ex->flags & kExRankings) != 0) { ex_->flags &= ~kExRankings; }
  ~rankings_off() {
    if (had_) ex_->flags |= kExRankings;
  }
  rankings_off(const rankings_off&) = delete;
  rankings_off& operator=(const rankings_off&) = delete;

 private:
  ss_exchange* ex_;
  bool had_;
};

// One stock summary entry's fields before its stock is known.
struct stock_entry {
  uint8_t f = 0;
  char code[kCodeSize] = "";
  uint32_t close = 0, last = 0, open = 0, high = 0, low = 0, first = 0;
  uint64_t volume = 0, value = 0, volume2 = 0, value2 = 0;
  uint32_t trades = 0;
  ss_time trade_time = 0;
};

bool read_stock_fields(deccursor* c, stock_entry* e, uint32_t* ref) {
  if (!c->byte(&e->f) || !c->code(e->code) || !c->price(&e->close, ref)) return false;
  if (e->f & kSumTraded) {
    if (e->f & kSumLastIsClose)
      e->last = e->close;
    else if (!c->price(&e->last, ref))
      return false;
  }
  if (e->last == 0) {
    if (!c->price(&e->first, ref)) return false;
  } else {
    if (e->f & kSumOpenIsLast)
      e->open = e->last;
    else if (!c->price(&e->open, ref))
      return false;
    if (e->f & kSumHighIsLast)
      e->high = e->last;
    else if (e->f & kSumHighIsOpen)
      e->high = e->open;
    else if (!c->price(&e->high, ref))
      return false;
    if (e->f & kSumLowIsLast)
      e->low = e->last;
    else if (e->f & kSumLowIsOpen)
      e->low = e->open;
    else if (!c->price(&e->low, ref))
      return false;
    if (!c->price(&e->first, ref)) return false;
  }
  if (e->f & kSumTraded) {
    if (!c->vlong(&e->volume) || !c->vlong(&e->value) || !c->vint(&e->trades) || !c->when(&e->trade_time))
      return false;
  }
  if (e->f & kSumSecondPair) return c->vlong(&e->volume2) && c->vlong(&e->value2);
  e->volume2 = e->volume;
  e->value2 = e->value;
  return true;
}

// value is in cents and prices in hundredths of a cent: value * 100 / volume,
// rounded, in 128 bits so that no day's turnover overflows it.
uint32_t average_price(uint64_t value, uint64_t volume, uint32_t fallback) {
  if (!volume) return fallback;
  const unsigned __int128 avg = (static_cast<unsigned __int128>(value) * 100 + volume / 2) / volume;
  return avg > 0xFFFFFFFEu ? 0xFFFFFFFEu : static_cast<uint32_t>(avg);
}

void store_stock(ss_stock* s, const stock_entry& e) {
  ss_exchange* ex = s->exchange;
  s->bid = s->offer = 0;
  s->close = e.close;
  s->open = e.open;
  s->high = e.high;
  s->low = e.low;
  s->last = e.last;
  s->volume = e.volume;
  s->first_price = e.first;
  s->trade_count = e.trades;
  ex->trades_today += e.trades;
  s->last_trade_time = e.trade_time;
  // The special codes' value is not the trades' value: neither value figure
  // (nor the second volume, which goes with its value) is taken.
  if (!ssutil_nzx_special_code(s)) {
    s->value = e.value;
    s->second_volume = e.volume2;
    s->second_value = e.value2;
  }
  s->average_price = average_price(s->second_value, s->second_volume, s->close);
}

// The indicative auction fields follow only for a crossed or touching book
// (and never for NZX numbered codes); the writer asks the same question.
bool auction_follows(const ss_stock* s, uint32_t bid, uint32_t offer) {
  if (ssutil_nzx_numbered_code(s)) return false;
  return bid != 0 && bid >= offer;
}

int fail_stock() {
  log(LOG_ERROR, kSrc, "can't decode stock");
  return -1;
}

// Reads the entries; 1 when all were read, 0 when stopped by an abort, -1.
int read_stocks(ss_exchange* ex, const uint8_t* data, int32_t n) {
  const bool tracks = !(decsum_options() & kSumOptNoTracks);
  deccursor c{data, n};
  uint32_t ref = 0;
  for (int32_t i = 0; !c.done(); i++) {
    const int32_t start = c.at;
    stock_entry e;
    if (!read_stock_fields(&c, &e, &ref)) return fail_stock();
    ss_stock* s = ssmodel_find_stock(ex, e.code);
    if (!s) s = ssmodel_add_stock(ex, e.code);
    if (!s) {
      log(LOG_WARN, kSrc, "can't add %s %s", ex->name, e.code);
      return fail_stock();
    }
    const uint32_t count = ex->speed_count;
    if (speed_check(ex, s, s->speed, i, count, static_cast<uint32_t>(i) < count ? ex->speeds[i] : nullptr) < 0)
      return fail_stock();
    if (static_cast<uint32_t>(i) == count && dechdr_add_stock_speed(s) < 0) {
      log(LOG_ERROR, kSrc, "%s %s speed table full at %d", ex->name, s->code, i);
      return fail_stock();
    }
    store_stock(s, e);
    if (depth_only_table(ex)) {
      if (depth_only_marked(i))
        s->flags |= kInOutOfOrder;
      else
        s->flags &= ~kInOutOfOrder;
    }
    for (int side = 0; side < 2; side++) {
      int r = decdepth_decode(s, side, c.p + c.at, c.n - c.at);
      if (r <= 0) return fail_stock();
      c.at += r;
    }
    ssmodel_auction_clear(&s->auction);
    if (auction_follows(s, s->bid, s->offer)) {
      uint32_t price;
      uint64_t volume = 0;
      if (!c.price(&price, &ref)) return fail_stock();
      if (price && !c.volume(&volume)) return fail_stock();
      s->auction.price = price;
      s->auction.matched = price ? volume : 0;
    }
    ssmodel_stock_derive(s);
    if (tracks && e.last) {
      uint32_t track_value;  // kept by the server for its own track; not used here
      if (!c.u32(&track_value)) return fail_stock();
      int r = dectrack_decode_stock(c.p + c.at, c.n - c.at, s);
      if (r <= 0) return fail_stock();
      c.at += r;
      sstrack_track_price(s);
    }
    s->flags |= kInCurrent;
    ssnotify_record(s, kChangeSummary, nullptr);
    S.decoded.fetch_add(static_cast<uint32_t>(c.at - start));
    if (aborted()) return 0;
  }
  return 1;
}

}  // namespace

void decsum_set_hooks(const decsum_hooks* hooks) {
  S.hooks = hooks ? *hooks : decsum_hooks{nullptr, nullptr};
}

uint32_t decsum_options(void) { return S.hooks.options ? S.hooks.options() : 0; }

int decsum_init(void) { return 0; }

void decsum_fini(void) { free_depth_only(); }

void decsum_reset_progress(void) {
  S.decoded.store(0);
  S.expected.store(0);
}

void decsum_progress(uint32_t* decoded, uint32_t* expected) {
  *decoded = S.decoded.load();
  *expected = S.expected.load();
}

uint32_t decsum_last_duration_ms(void) { return S.last_ms.load(); }

int decsum_decode_stock(ss_exchange* ex, const uint8_t* data, int32_t n) {
  if (ex->index == kExchangeAsx) {
    S.decoded.store(0);
    S.expected.store(static_cast<uint32_t>(n));
    S.started_ms = plat_ms();
  }
  int r;
  {
    rankings_off ranks(ex);
    ssmodel_clear_current(ex);
    decguard_ref_date when(ex->date);
    ex->trades_today = 0;
    r = read_stocks(ex, data, n);
  }
  if (r < 0) return -1;
  if (r == 0) return 0;  // told to stop: the model is dropped with the link
  sstrack_reset_after_sort();
  ssmodel_rebuild_current(ex);
  ex->flags |= kExStockSummary;
  log(LOG_INFO, kSrc, "%s %d stocks", ex->name, static_cast<int32_t>(ex->speed_count));
  free_depth_only();
  if (ex->index == kExchangeAsx) S.last_ms.store(static_cast<uint32_t>(plat_ms() - S.started_ms));
  return 0;
}

int decsum_decode_index(ss_exchange* ex, const uint8_t* data, int32_t n) {
  const bool tracks = !(decsum_options() & kSumOptNoTracks);
  ssmodel_clear_index_current(ex);
  if (n > 0) sstrack_reset_exchange(ex);
  decguard_ref_date when(ex->date);
  deccursor c{data, n};
  for (int32_t i = 0; !c.done(); i++) {
    char code[kCodeSize];
    uint32_t base, last, first = 0, high = 0, low = 0;
    int32_t d1 = 0, d2 = 0, d3 = 0;
    ss_time t;
    if (!c.code(code) || !c.index(&base) || !c.index(&last)) break;
    if (last && (!c.change(&d1) || !c.change(&d2) || !c.change(&d3))) break;
    if (!c.when(&t)) break;
    if (last) {
      first = static_cast<uint32_t>(static_cast<int64_t>(base) + d1);
      high = static_cast<uint32_t>(static_cast<int64_t>(base) + d2);
      low = static_cast<uint32_t>(static_cast<int64_t>(base) + d3);
    }
    ss_index* x = ssmodel_find_index(ex, code);
    if (!x) x = ssmodel_add_index(ex, code);
    if (!x) {
      // The entry's length is known only after its track part, which cannot
      // be read without the index: the rest of the summary is lost.
      log(LOG_WARN, kSrc, "can't add %s %s", ex->name, code);
      c.ok = false;
      break;
    }
    const uint32_t count = ex->index_speed_count;
    if (speed_check(ex, x, x->speed, i, count, static_cast<uint32_t>(i) < count ? ex->index_speeds[i] : nullptr) <
        0) {
      c.ok = false;
      break;
    }
    if (static_cast<uint32_t>(i) == count && dechdr_add_index_speed(x) < 0) {
      log(LOG_ERROR, kSrc, "%s %s index speed table full at %d", ex->name, x->code, i);
      c.ok = false;
      break;
    }
    x->base = base;
    x->open = first;
    x->high = high;
    x->low = low;
    x->value = last;
    x->change = last && base ? static_cast<int32_t>(static_cast<int64_t>(last) - base) : 0;
    x->change_pct = ssutil_change_pct(last, base);
    x->last_tick_time = t;
    if (tracks && last) {
      uint32_t track_value;
      if (!c.u32(&track_value)) break;
      int r = dectrack_decode_index(c.p + c.at, c.n - c.at, x);
      if (r <= 0) {
        c.ok = false;
        break;
      }
      c.at += r;
    }
    x->flags |= kInCurrent;
    ssnotify_record(x, kChangeSummary, nullptr);
  }
  if (!c.ok) {
    log(LOG_ERROR, kSrc, "can't decode index");
    return -1;
  }
  ssmodel_rebuild_index_current(ex);
  ex->flags |= kExIndexSummary;
  return 0;
}

int decsum_decode_depth_only(ss_exchange* ex, const uint8_t* data, int32_t n, int inverted) {
  deccursor c{data, n};
  uint32_t count;
  if (!c.vint(&count)) {
    log(LOG_ERROR, kSrc, "depth-only list without its size");
    return -1;
  }
  if (count > kStockSpeeds) {
    log(LOG_ERROR, kSrc, "depth-only list of %u stocks", count);
    return -1;
  }
  free_depth_only();
  const uint8_t named = inverted ? 0 : 1;
  S.depth_only = static_cast<uint8_t*>(dalloc_alloc(count ? count : 1));
  memset(S.depth_only, named ^ 1, count ? count : 1);
  S.depth_only_n = count;
  S.depth_only_rest = named ^ 1;
  S.depth_only_ex = ex;
  int64_t speed = -1;
  while (!c.done()) {
    uint32_t step;
    if (!c.vint(&step)) break;
    if (step == 0) {
      log(LOG_ERROR, kSrc, "step of 0 after %d", static_cast<int32_t>(speed));
      free_depth_only();
      return -1;
    }
    speed += step;
    if (speed >= count) {
      log(LOG_ERROR, kSrc, "ran off the end: %d > %d", static_cast<int32_t>(speed), static_cast<int32_t>(count));
      break;
    }
    S.depth_only[speed] = named;
  }
  return 0;
}

namespace {

// Reads a sparse list: [vint N,] then steps each followed by the fields
// `apply` reads (true when it read them). The bound is N (at most the
// exchange's speed count) or the speed count.
template <class Apply>
int read_sparse(ss_exchange* ex, const uint8_t* data, int32_t n, bool sized, Apply apply) {
  deccursor c{data, n};
  uint32_t bound = ex->speed_count;
  if (sized) {
    uint32_t count;
    if (!c.vint(&count)) return 0;
    if (count > kStockSpeeds) {
      log(LOG_ERROR, kSrc, "list of %u stocks", count);
      return -1;
    }
    if (count < bound) bound = count;
  }
  int64_t speed = -1;
  while (!c.done()) {
    uint32_t step;
    if (!c.vint(&step)) return 0;
    if (step == 0) {
      log(LOG_ERROR, kSrc, "step of 0 after %d", static_cast<int32_t>(speed));
      return -1;
    }
    speed += step;
    if (speed >= bound) {
      log(LOG_ERROR, kSrc, "ran off the end: %d > %d", static_cast<int32_t>(speed), static_cast<int32_t>(bound));
      return 0;
    }
    if (!apply(&c, ex->speeds[speed])) return 0;
  }
  return 0;
}

}  // namespace

int decsum_decode_open_balance(ss_exchange* ex, const uint8_t* data, int32_t n) {
  return read_sparse(ex, data, n, false, [](deccursor* c, ss_stock* s) {
    uint32_t v;
    if (!c->u32(&v)) return false;
    s->open_balance = v;
    return true;
  });
}

int decsum_decode_quote_bases(ss_exchange* ex, const uint8_t* data, int32_t n) {
  return read_sparse(ex, data, n, true, [](deccursor* c, ss_stock* s) {
    uint64_t v;
    if (!c->vlong(&v)) return false;
    s->quote_basis = v;
    return true;
  });
}

int decsum_decode_stock_states(ss_exchange* ex, const uint8_t* data, int32_t n) {
  for (uint32_t i = 0; i < ex->speed_count; i++) ex->speeds[i]->state = ex->state;
  return read_sparse(ex, data, n, true, [](deccursor* c, ss_stock* s) {
    uint8_t v;
    if (!c->byte(&v)) return false;
    s->state = v;
    return true;
  });
}

int decsum_decode_resume_times(ss_exchange* ex, const uint8_t* data, int32_t n) {
  for (uint32_t i = 0; i < ex->speed_count; i++) ex->speeds[i]->resume_time = 0;
  return read_sparse(ex, data, n, true, [ex](deccursor* c, ss_stock* s) {
    uint32_t v;
    if (!c->u32(&v)) return false;
    ssevent_resume_track(s, ex->date, v);
    return true;
  });
}

int decsum_decode_auction_info(ss_exchange* ex, const uint8_t* data, int32_t n) {
  return read_sparse(ex, data, n, true, [](deccursor* c, ss_stock* s) {
    int64_t surplus;
    uint32_t bid, offer;
    uint64_t bid_volume, offer_volume;
    if (!c->slong(&surplus) || !c->price(&bid, nullptr) || !c->vlong(&bid_volume) || !c->price(&offer, nullptr) ||
        !c->vlong(&offer_volume))
      return false;
    s->auction.surplus = surplus;
    s->auction.bid_price = bid;
    s->auction.bid_volume = bid_volume;
    s->auction.offer_price = offer;
    s->auction.offer_volume = offer_volume;
    return true;
  });
}

int decsum_decode_news(ss_exchange* ex, const uint8_t* data, int32_t n) {
  const ss_time cutoff = sstime_add_months(ex->date & ~kSstimeSecondsMask, -1);
  int32_t at = 0;
  while (at < n) {
    char code[kCodeSize];
    uint32_t number, flags, types[kNewsTypeSlots];
    ss_time time;
    char headline[kNewsHeadlineRead];
    int r = decnews_decode_summary(code, &number, &time, types, &flags, headline, data + at, n - at);
    if (r <= 0) {
      log(LOG_ERROR, kSrc, "unable to decode news summary");
      log(LOG_ERROR, kSrc, "can't decode news");
      return -1;
    }
    at += r;
    if (time < cutoff) continue;
    ss_issuer* is = ssmodel_get_issuer(ex, code);
    if (!is) {
      log(LOG_WARN, kSrc, "can't add %s %s", ex->name, code);
      continue;
    }
    // An item of an earlier day is history being filled in, not news: its
    // alerts must not make the io thread wait for a delivery (a full change
    // entry fails at once while delivery is held).
    int added;
    if (sstime_date_compare(time, ex->date & ~kSstimeSecondsMask) < 0) {
      decguard_hold hold;
      added = ssevent_add_news(is, number, time, types, flags, headline);
    } else {
      added = ssevent_add_news(is, number, time, types, flags, headline);
    }
    if (added < 0) {
      log(LOG_ERROR, kSrc, "can't decode news");
      return -1;
    }
  }
  ex->flags |= kExNewsSummary;
  ssmodel_recount_news_flags(ex);
  return 0;
}
