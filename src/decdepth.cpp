// Depth list reader: the levels of one side of a stock, read from a summary
// or a depth answer and applied through the depth events.
//
// Every list is read twice: once stepping over the bytes, which finds an
// incomplete or bad list before anything is touched, and once applying. So a
// list that is cut short leaves the side as it was (the reader's 0 really
// means "nothing happened"), and a framed record whose list does not fit is
// refused instead of leaving a half-replaced side behind.
#include "decdepth.h"

#include "decguard.h"
#include "decode.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"

static const char kSrc[] = "src/decdepth.c";

namespace {

constexpr uint32_t kLoadedBit[2] = {kRqBidLoaded, kRqOfferLoaded};
constexpr uint32_t kSideRequestBits[2] = {kRqFullBid | kRqPartialBid, kRqFullOffer | kRqPartialOffer};
constexpr uint8_t kTwoByteCount = 0x80;

bool carries_brokers(const ss_stock* s) {
  return s->exchange && (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
}

bool out_of_order(const ss_stock* s) { return (s->flags & kInOutOfOrder) != 0; }

// A level's order count: one byte below 128, else 0x80 | the low 7 bits and
// then the count >> 7.
int read_count(const uint8_t* in, int32_t n, uint32_t* count) {
  if (n < 1) return 0;
  if (!(in[0] & kTwoByteCount)) {
    *count = in[0];
    return 1;
  }
  if (n < 2) return 0;
  *count = (in[0] & 0x7Fu) | (static_cast<uint32_t>(in[1]) << 7);
  return 2;
}

// One entry of the level-totals layout: count, price, total volume.
int read_total(ss_stock* s, int side, const uint8_t* in, int32_t n, uint32_t* ref, uint32_t* count, bool skip) {
  uint32_t c, price, r2 = *ref;
  uint64_t volume;
  int32_t used = 0;
  int r = decode_vint(in, n, &c);
  if (r <= 0) return r;
  used += r;
  *count = c;
  if (c == 0) return used;
  if ((r = decode_price(in + used, n - used, &price, &r2)) <= 0) return r;
  used += r;
  if ((r = decode_volume(in + used, n - used, &volume)) <= 0) return r;
  used += r;
  if (!skip && ssevent_apply_depth_summary(s, 0, side, price, volume, c, nullptr) < 0) return -1;
  *ref = r2;
  return used;
}

// The whole list; *levels gets the levels read, *ended whether the list
// stopped at an end marker (or, for level totals, was complete).
int read_list(ss_stock* s, int side, const uint8_t* in, int32_t n, int32_t limit, bool skip, int32_t* levels,
              bool* ended) {
  uint32_t ref = s->close;
  int32_t used = 0;
  *levels = 0;
  *ended = false;
  const bool totals = out_of_order(s);
  const int32_t cap = totals ? kDepthSummaryLevels : limit;
  while (cap <= 0 || *levels < cap) {
    uint32_t count;
    int r = totals ? read_total(s, side, in + used, n - used, &ref, &count, skip)
                   : decdepth_decode_level(s, side, in + used, n - used, &ref, &count, skip);
    if (r <= 0) return r;
    used += r;
    if (count == 0) {
      *ended = true;
      return used;
    }
    ++*levels;
  }
  if (totals) *ended = true;  // five entries make a whole list
  return used;
}

}  // namespace

int decdepth_decode_level(ss_stock* s, int side, const uint8_t* in, int32_t n, uint32_t* ref, uint32_t* count,
                          int skip) {
  uint32_t c, price, r2 = *ref;
  int32_t used = 0;
  int r = read_count(in, n, &c);
  if (r <= 0) return r;
  used += r;
  *count = c;
  if (c == 0) return used;
  if ((r = decode_price(in + used, n - used, &price, &r2)) <= 0) return r;
  used += r;
  const bool brokers = carries_brokers(s);
  for (uint32_t i = 0; i < c; i++) {
    uint64_t volume;
    char broker[kCodecCodeBytes] = "";
    if ((r = decode_volume(in + used, n - used, &volume)) <= 0) return r;
    used += r;
    if (brokers) {
      if ((r = decode_broker(in + used, n - used, broker, sizeof broker)) <= 0) return r;
      used += r;
      if (!broker[0]) return -1;  // an order of the exchange names its broker
    }
    if (!skip && ssevent_apply_depth_summary(s, 0, side, price, volume, 1, brokers ? broker : nullptr) < 0) return -1;
  }
  *ref = r2;
  return used;
}

namespace {

// Reads a list of at most `limit` levels (0: no limit). A summary's list
// (`fresh`) replaces the side whatever its loaded bit says; the bit is
// cleared only once the list is known to be whole, so an incomplete read
// leaves the stock as it was.
int decode_levels(ss_stock* s, int side, const uint8_t* in, int32_t n, int32_t limit, bool fresh) {
  if (side != 0 && side != 1) {
    log(LOG_ERROR, kSrc, "%s: bad depth side %d", s->code, side);
    return -1;
  }
  int32_t levels;
  bool ended;
  int used = read_list(s, side, in, n, limit, true, &levels, &ended);
  if (used <= 0) {
    if (used < 0) log(LOG_ERROR, kSrc, "bad %s %s depth list", s->exchange->name, s->code);
    return used;
  }
  const uint32_t had = s->flags & kLoadedBit[side];
  if (fresh) s->flags &= ~kLoadedBit[side];
  if (s->flags & kLoadedBit[side]) {
    log(LOG_WARN, kSrc, "%s partial depth not required", s->code);
    return used;
  }
  {
    decguard_hold hold;
    decguard_record_off record_off(s->exchange);
    decguard_loading loading(s);
    decguard_side replaced(s, side);
    int r = read_list(s, side, in, n, limit, false, &levels, &ended);
    if (r != used) {
      log(LOG_ERROR, kSrc, "can't apply %s %s depth list", s->exchange->name, s->code);
      s->flags |= had;
      return -1;
    }
    replaced.commit();
  }
  if (ended || limit <= 0) s->flags |= kLoadedBit[side];
  s->flags &= ~kSideRequestBits[side];
  // The side was emptied before the list was read: with no levels its best
  // price is 0, not the one the old book had.
  (side ? s->offer : s->bid) = s->levels[side] ? s->levels[side]->price : 0;
  return used;
}

}  // namespace

int decdepth_decode_levels(ss_stock* s, int side, const uint8_t* in, int32_t n, int32_t limit) {
  return decode_levels(s, side, in, n, limit, false);
}

int decdepth_decode(ss_stock* s, int side, const uint8_t* in, int32_t n) {
  return decode_levels(s, side, in, n, kDepthSummaryLevels, true);
}

int decdepth_decode_limited(ss_stock* s, int side, const uint8_t* in, int32_t n) {
  return decdepth_decode_levels(s, side, in, n, kDepthPartialLevels);
}

int decdepth_decode_whole(ss_stock* s, int side, const uint8_t* in, int32_t n) {
  return decdepth_decode_levels(s, side, in, n, 0);
}
