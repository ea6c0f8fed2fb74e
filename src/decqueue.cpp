// Order queue reader. The queue has no end marker: it runs to the end of the
// bytes its message frames. Like the depth reader it reads the queue twice,
// first only stepping over it, so that a queue cut short or carrying a bad
// field is refused before the side is touched.
//
// Order times are deltas against the exchange's date, through the readers'
// running reference time, which is put back afterwards.
#include "decqueue.h"

#include "decguard.h"
#include "decode.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssnotify.h"

static const char kSrc[] = "src/decqueue.c";

namespace {

constexpr uint32_t kLoadedBit[2] = {kRqBidLoaded, kRqOfferLoaded};
constexpr uint32_t kSideRequestBits[2] = {kRqFullBid | kRqPartialBid, kRqFullOffer | kRqPartialOffer};

bool carries_brokers(const ss_stock* s) {
  return s->exchange && (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
}

// The whole queue; with skip nothing is applied. *orders counts orders.
int read_queue(ss_stock* s, int side, const uint8_t* in, int32_t n, int32_t version, bool skip, uint32_t* orders) {
  decguard_ref_date ref_date(s->exchange->date);
  const bool totals = (s->flags & kInOutOfOrder) != 0;
  const bool brokers = carries_brokers(s);
  const bool timed = version >= kQueueTimedVersion;
  uint32_t ref = s->close;
  int32_t used = 0;
  *orders = 0;
  while (used < n) {
    int r;
    if (totals) {
      uint32_t count, price;
      uint64_t volume;
      if ((r = decode_vint(in + used, n - used, &count)) <= 0) return r;
      used += r;
      if ((r = decode_price(in + used, n - used, &price, &ref)) <= 0) return r;
      used += r;
      if ((r = decode_volume(in + used, n - used, &volume)) <= 0) return r;
      used += r;
      if (count == 0) {
        log(LOG_ERROR, kSrc, "%s: level of no orders", s->code);
        return -1;
      }
      *orders = *orders + count < *orders ? UINT32_MAX : *orders + count;  // saturates
      if (!skip && ssevent_apply_depth_summary(s, 0, side, price, volume, count, nullptr) < 0) return -2;
      continue;
    }
    uint32_t price;
    uint8_t count;
    if ((r = decode_price(in + used, n - used, &price, &ref)) <= 0) return r;
    used += r;
    if ((r = decode_byte(in + used, n - used, &count)) <= 0) return r;
    used += r;
    for (uint32_t i = 0; i < count; i++) {
      uint64_t volume;
      ss_time time = 0;
      char broker[kCodecCodeBytes] = "";
      if ((r = decode_volume(in + used, n - used, &volume)) <= 0) return r;
      used += r;
      if (timed) {
        if ((r = decode_time_delta(in + used, n - used, &time)) <= 0) return r;
        used += r;
      }
      if (brokers) {
        if ((r = decode_broker(in + used, n - used, broker, sizeof broker)) <= 0) return r;
        used += r;
        if (!broker[0]) return -1;  // an order of the exchange names its broker
      }
      ++*orders;
      if (!skip && ssevent_apply_depth_summary(s, time, side, price, volume, 1, brokers ? broker : nullptr) < 0)
        return -2;
    }
  }
  return used;
}

}  // namespace

int decqueue_decode(ss_stock* s, int side, const uint8_t* in, int32_t n, int32_t version, uint32_t* orders) {
  uint32_t count = 0;
  if (orders) *orders = 0;
  if (side != 0 && side != 1) {
    log(LOG_ERROR, kSrc, "%s: bad depth side %d", s->code, side);
    return -1;
  }
  if (n < 0) return -1;
  // An empty record is a whole queue of no orders: it empties the side.
  int r = read_queue(s, side, in, n, version, true, &count);
  if (r < 0 || (r == 0 && n > 0)) {
    if (r < 0) log(LOG_ERROR, kSrc, "failed");
    return r;
  }
  {
    decguard_record_off record_off(s->exchange);
    decguard_loading loading(s);
    decguard_side replaced(s, side);
    if (read_queue(s, side, in, n, version, false, &count) != r) {
      log(LOG_ERROR, kSrc, "error decoding initial %s queue", side ? "offer" : "bid");
      return -1;
    }
    replaced.commit();
  }
  (side ? s->offer : s->bid) = s->levels[side] ? s->levels[side]->price : 0;
  s->flags |= kLoadedBit[side];
  s->flags &= ~kSideRequestBits[side];
  if (s->exchange->flags & kExRecord) ssnotify_record(s, kChangeQueues, nullptr);
  if (orders) *orders = count;
  return r;
}
