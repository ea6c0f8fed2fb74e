// Summary writer: the mirror of the summary readers. Each message is a
// compact header (0 and the type byte) and one block framed with a deflate
// stream made for the call, so the writer may run while the shared stream is
// in use. Stock flags F are chosen so that every price equal to another one
// already written costs no bytes; the second volume and value pair is written
// only when either of them differs from the day's volume and value.
#include "encsum.h"

#include <cstring>

#include "decsum.h"
#include "encblk.h"
#include "encdepth.h"
#include "encode.h"
#include "decnews.h"
#include "log.h"
#include "sstrack.h"
#include "ssutil.h"

static const char kSrc[] = "src/encsum";

namespace {

constexpr int32_t kScratchSize = 65536;

// A payload being written: fields go to the scratch buffer; a failure sticks.
struct writer {
  growbuf* gb;
  const char* what;  // for "failed encoding %s"
  bool ok = true;
  template <class F>
  void put(uint32_t room, F f) {
    if (!ok) return;
    uint8_t* p = growbuf_reserve(gb, room);
    if (!p) {
      log(LOG_ERROR, kSrc, "failed encoding %s", what);
      ok = false;
      return;
    }
    int r = f(p);
    if (r < 0) {
      ok = false;
      return;
    }
    growbuf_commit(gb, static_cast<uint32_t>(r));
  }
  void byte(uint32_t v) { put(1, [v](uint8_t* p) { return encode_byte(p, v); }); }
  void u32(uint32_t v) { put(4, [v](uint8_t* p) { return encode_uint32(p, v); }); }
  void vint(uint32_t v) { put(kEncodeRoomVint, [v](uint8_t* p) { return encode_vint(p, v); }); }
  void vlong(uint64_t v) { put(kEncodeRoomVlong, [v](uint8_t* p) { return encode_vlong(p, v); }); }
  void slong(int64_t v) { put(kEncodeRoomVlongSigned, [v](uint8_t* p) { return encode_vlong_signed(p, v); }); }
  void code(const char* c) { put(kEncodeRoomCode, [c](uint8_t* p) { return encode_code(p, c); }); }
  void price(uint32_t v, uint32_t* ref) { put(kEncodeRoomVint, [v, ref](uint8_t* p) { return encode_price(p, v, ref); }); }
  void volume(uint64_t v) { put(kEncodeRoomVint, [v](uint8_t* p) { return encode_volume(p, v); }); }
  void index(uint32_t v) { put(kEncodeRoomVint, [v](uint8_t* p) { return encode_index(p, v); }); }
  void change(int32_t v) { put(kEncodeRoomVint, [v](uint8_t* p) { return encode_index_change(p, v); }); }
  void when(ss_time t) { put(kEncodeRoomVint, [t](uint8_t* p) { return encode_time_delta(p, t); }); }
};

// A scratch payload buffer for the length of one call.
class scratch {
 public:
  scratch() { growbuf_init(&gb_, kScratchSize, kScratchSize); }
  ~scratch() { growbuf_free(&gb_); }
  growbuf* get() { return &gb_; }
  scratch(const scratch&) = delete;
  scratch& operator=(const scratch&) = delete;

 private:
  growbuf gb_ = {};
};

// Appends the message: 0, the type, the framed payload.
int frame(growbuf* out, uint32_t type, const growbuf* payload, const char* failure) {
  const uint8_t head[2] = {0, static_cast<uint8_t>(type)};
  const int32_t start = out->len;
  if (growbuf_append(out, head, 2) < 0 || encblk_write(out, payload->data, payload->len) < 0) {
    growbuf_truncate(out, start);
    log(LOG_ERROR, kSrc, "%s", failure);
    return -1;
  }
  return 0;
}

int32_t clamp_change(uint32_t v, uint32_t base) { return static_cast<int32_t>(static_cast<int64_t>(v) - base); }

int write_indices(growbuf* out, ss_exchange* ex, bool tracks) {
  scratch s;
  writer w{s.get(), "index summary"};
  encode_set_ref_date(ex->date);
  for (uint32_t i = 0; i < ex->index_speed_count && w.ok; i++) {
    const ss_index* x = ex->index_speeds[i];
    if (!x || x->speed != static_cast<int32_t>(i)) {
      log(LOG_WARN, kSrc, "%s %s speedi mismatch at %d!", ex->name, x ? x->code : "?", static_cast<int32_t>(i));
      return -1;
    }
    w.code(x->code);
    w.index(x->base);
    w.index(x->value);
    if (x->value) {
      w.change(clamp_change(x->open, x->base));
      w.change(clamp_change(x->high, x->base));
      w.change(clamp_change(x->low, x->base));
    }
    w.when(x->last_tick_time);
    if (tracks && x->value) {
      w.u32(0);
      if (w.ok && encsum_encode_index_blob(w.gb, x) < 0) w.ok = false;
    }
  }
  if (!w.ok) return -1;
  return frame(out, kSumIndices, w.gb, "failed compressing index summary");
}

// The best price the reader will see after the side's depth list.
uint32_t best(const ss_stock* s, int side) {
  const ss_depth_level* l = ssmodel_load(s->levels[side]);
  return l ? l->price : 0;
}

bool auction_follows(const ss_stock* s) {
  if (ssutil_nzx_numbered_code(s)) return false;
  const uint32_t bid = best(s, 0);
  return bid != 0 && bid >= best(s, 1);
}

uint8_t choose_flags(const ss_stock* s) {
  uint8_t f = 0;
  if (s->last || s->volume) f |= kSumTraded;
  if ((f & kSumTraded) && s->last == s->close) f |= kSumLastIsClose;
  if (s->last) {
    if (s->open == s->last) f |= kSumOpenIsLast;
    if (s->high == s->last)
      f |= kSumHighIsLast;
    else if (s->high == s->open)
      f |= kSumHighIsOpen;
    if (s->low == s->last)
      f |= kSumLowIsLast;
    else if (s->low == s->open)
      f |= kSumLowIsOpen;
  }
  // Both halves of the pair: a second value that differs while the second
  // volume agrees must still be written.
  const uint64_t volume = (f & kSumTraded) ? s->volume : 0;
  const uint64_t value = (f & kSumTraded) ? s->value : 0;
  if (s->second_volume != volume || s->second_value != value) f |= kSumSecondPair;
  return f;
}

void write_stock(writer* w, const ss_stock* s, uint32_t* ref, bool tracks) {
  const uint8_t f = choose_flags(s);
  w->byte(f);
  w->code(s->code);
  w->price(s->close, ref);
  uint32_t last = 0;
  if (f & kSumTraded) {
    last = (f & kSumLastIsClose) ? s->close : s->last;
    if (!(f & kSumLastIsClose)) w->price(s->last, ref);
  }
  if (last == 0) {
    w->price(s->first_price, ref);
  } else {
    if (!(f & kSumOpenIsLast)) w->price(s->open, ref);
    if (!(f & (kSumHighIsLast | kSumHighIsOpen))) w->price(s->high, ref);
    if (!(f & (kSumLowIsLast | kSumLowIsOpen))) w->price(s->low, ref);
    w->price(s->first_price, ref);
  }
  if (f & kSumTraded) {
    w->vlong(s->volume);
    w->vlong(s->value);
    w->vint(s->trade_count);
    w->when(s->last_trade_time);
  }
  if (f & kSumSecondPair) {
    w->vlong(s->second_volume);
    w->vlong(s->second_value);
  }
  for (int side = 0; side < 2 && w->ok; side++)
    if (encdepth_encode(w->gb, s, side) < 0) w->ok = false;
  if (auction_follows(s)) {
    const uint32_t price = static_cast<uint32_t>(s->auction.price);
    w->price(price, ref);
    if (price) w->volume(s->auction.matched);
  }
  if (tracks && last) {
    w->u32(0);
    if (w->ok && encsum_encode_stock_blob(w->gb, s) < 0) w->ok = false;
  }
}

int write_stocks(growbuf* out, ss_exchange* ex, bool tracks) {
  scratch sc;
  writer w{sc.get(), "stock summary"};
  encode_set_ref_date(ex->date);
  uint32_t ref = 0;
  for (uint32_t i = 0; i < ex->speed_count && w.ok; i++) {
    const ss_stock* s = ex->speeds[i];
    if (!s || s->speed != static_cast<int32_t>(i)) {
      log(LOG_WARN, kSrc, "%s %s speed mismatch at %d!", ex->name, s ? s->code : "?", static_cast<int32_t>(i));
      return -1;
    }
    write_stock(&w, s, &ref, tracks);
  }
  if (!w.ok) return -1;
  return frame(out, kSumStocks, w.gb, "failed compressing stock summary");
}

// A sparse list over the speed table: [N,] then for every stock `pick`
// chooses, the step from the previous one and the fields `fields` writes.
// Nothing is written (0) when no stock is picked and `always` is not set.
template <class Pick, class Fields>
int write_sparse(growbuf* out, ss_exchange* ex, uint32_t type, bool sized, bool always, const char* failure,
                 Pick pick, Fields fields) {
  scratch sc;
  writer w{sc.get(), failure};
  if (sized) w.vint(ex->speed_count);
  int64_t prev = -1;
  for (uint32_t i = 0; i < ex->speed_count && w.ok; i++) {
    const ss_stock* s = ex->speeds[i];
    if (!pick(s)) continue;
    w.vint(static_cast<uint32_t>(i - prev));
    prev = i;
    fields(&w, s);
  }
  if (!w.ok) return -1;
  if (prev < 0 && !always) return 0;
  return frame(out, type, w.gb, failure);
}

int write_news(growbuf* out, ss_exchange* ex) {
  scratch sc;
  writer w{sc.get(), "news summary"};
  for (const ss_exchange_news* e = ex->news.head; e && w.ok; e = e->next) {
    if (e->time < ex->date) continue;
    ss_issuer* is = ssmodel_find_issuer(ex, e->code);
    if (!is) {
      log(LOG_ERROR, kSrc, "can't find issuer %s", e->code);
      continue;
    }
    const ss_news* item = ssmodel_find_news(is, e->number);
    if (!item) {
      log(LOG_ERROR, kSrc, "can't find news %s %d", e->code, static_cast<int32_t>(e->number));
      continue;
    }
    if (encnews_encode_summary(w.gb, e->code, item->number, item->time, item->codes, item->flags,
                               item->headline) < 0)
      w.ok = false;
  }
  if (!w.ok) return -1;
  return frame(out, kSumNews, w.gb, "failed compressing news summary");
}

bool has_auction_info(const ss_stock* s) {
  const ss_auction& a = s->auction;
  return a.price || a.surplus || a.bid_price || a.bid_volume || a.offer_price || a.offer_volume;
}

}  // namespace

namespace {

// The instrument's recorded track as a vint length and the bytes, or the
// single byte 0 without one.
int write_blob(growbuf* gb, const instr* in) {
  const int32_t n = sstrack_stream_length(in);
  uint8_t* p = growbuf_reserve(gb, static_cast<uint32_t>(kEncodeRoomVint + n));
  if (!p) return -1;
  const int head = encode_vint(p, static_cast<uint32_t>(n));
  if (n > 0) sstrack_copy_stream(in, p + head);
  return growbuf_commit(gb, static_cast<uint32_t>(head + n));
}

}  // namespace

int encsum_encode_stock_blob(growbuf* gb, const ss_stock* stock) { return write_blob(gb, stock); }

int encsum_encode_index_blob(growbuf* gb, const ss_index* index) { return write_blob(gb, index); }

int encsum_encode_stock(growbuf* gb, ss_exchange* ex, uint32_t options) {
  const bool tracks = !(options & kSumOptNoTracks);
  if (write_indices(gb, ex, tracks) < 0) return -1;
  const bool inverted = ex->index == kExchangeAxo;
  if (write_sparse(
          gb, ex, inverted ? kSumDepthOnlyInverted : kSumDepthOnly, true, true,
          "failed compressing depth summary only stocks",
          [inverted](const ss_stock* s) { return ((s->flags & kInOutOfOrder) != 0) != inverted; },
          [](writer*, const ss_stock*) {}) < 0)
    return -1;
  if (write_stocks(gb, ex, tracks) < 0) return -1;
  if (write_sparse(
          gb, ex, kSumOpenBalances, false, false, "failed compressing open balance",
          [](const ss_stock* s) { return s->open_balance != 0; },
          [](writer* w, const ss_stock* s) { w->u32(s->open_balance); }) < 0)
    return -1;
  if (write_news(gb, ex) < 0) return -1;
  const uint8_t state[3] = {0, static_cast<uint8_t>(kSumMarketState), static_cast<uint8_t>(ex->state)};
  if (growbuf_append(gb, state, 3) < 0) {
    log(LOG_ERROR, kSrc, "failed compressing market state");
    return -1;
  }
  if (write_sparse(
          gb, ex, kSumStockStates, true, false, "failed compressing market state",
          [ex](const ss_stock* s) { return s->state != ex->state; },
          [](writer* w, const ss_stock* s) { w->byte(s->state); }) < 0)
    return -1;
  if (write_sparse(
          gb, ex, kSumQuoteBases, true, false, "failed compressing quote bases",
          [](const ss_stock* s) { return s->quote_basis != 0; },
          [](writer* w, const ss_stock* s) { w->vlong(s->quote_basis); }) < 0)
    return -1;
  if (write_sparse(
          gb, ex, kSumResumeTimes, true, false, "failed compressing countdowns",
          [](const ss_stock* s) { return s->resume_time != 0; },
          [](writer* w, const ss_stock* s) { w->u32(s->resume_time); }) < 0)
    return -1;
  if (write_sparse(gb, ex, kSumAuctionInfo, true, false, "failed compressing auction info", has_auction_info,
                   [](writer* w, const ss_stock* s) {
                     const ss_auction& a = s->auction;
                     w->slong(a.surplus);
                     w->price(static_cast<uint32_t>(a.bid_price), nullptr);
                     w->vlong(a.bid_volume);
                     w->price(static_cast<uint32_t>(a.offer_price), nullptr);
                     w->vlong(a.offer_volume);
                   }) < 0)
    return -1;
  return 0;
}
