// Auction and multi-trade messages (types 220-223, 230, 231).
//
// An auction message replaces the stock's auction (from a price and volume,
// or from a whole block, or clears it); a multi-trade message is one run of
// trades at a single price, applied as a begin, one add per volume and an end
// so that the stock's derived values are settled once for the whole run.
#include <cstdint>

#include "decode.h"
#include "log.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr uint32_t kTypeAuctionClear = 223;
constexpr uint32_t kTypeMultiAtPrice = 230;  // 231: at the stock's last price
constexpr uint32_t kChangeLastMoved = 0x800;  // with kChangeTrade: the run moved the last price

// The block that 222 fills, kept as module state and refilled each time.
static struct {
  ss_auction block;
} S;

int read_signed_vlong(ssproto_msg* m, int64_t* value) {
  int r = decode_vlong_signed(m->data + m->used, m->avail - m->used, value);
  if (r > 0) m->used += r;
  return r;
}

}  // namespace

namespace ssproto_handlers {

// 220: auction price and matched volume; 223: the auction is cleared.
int do_auction(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint32_t price = 0;
  uint64_t volume = 0;
  if (m->type != kTypeAuctionClear) {
    PROTO_FIELD(ssproto_read_price(m, &price, &s->price_ref));
    PROTO_FIELD(ssproto_read_volume(m, &volume));
  }
  if (ssevent_auction_from_price(s, m->time, price, volume) < 0) {
    log(LOG_ERROR, kSrc, m->type == kTypeAuctionClear ? "can't clear %s %s auction" : "can't do %s %s auction",
        s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 221: the open balance.
int do_open_balance(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint32_t balance;
  PROTO_FIELD(ssproto_read_vint(m, &balance));
  if (ssevent_set_open_balance(s, m->time, balance) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s open balance", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 222: the whole auction block.
int do_auction_block(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  ss_auction& a = S.block;
  ssmodel_auction_clear(&a);
  uint32_t price, bid, offer;
  PROTO_FIELD(ssproto_read_price(m, &price, &s->price_ref));
  PROTO_FIELD(ssproto_read_volume(m, &a.matched));
  PROTO_FIELD(read_signed_vlong(m, &a.surplus));
  PROTO_FIELD(ssproto_read_price(m, &bid, &s->price_ref));
  PROTO_FIELD(ssproto_read_volume(m, &a.bid_volume));
  PROTO_FIELD(ssproto_read_price(m, &offer, &s->price_ref));
  PROTO_FIELD(ssproto_read_volume(m, &a.offer_volume));
  a.price = price;
  a.bid_price = bid;
  a.offer_price = offer;
  if (ssevent_auction_from_block(s, m->time, &a) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s auction", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 230: a run of trades at a price; 231: a run at the stock's last price.
int do_multi_trade(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint32_t price = 0;
  if (m->type == kTypeMultiAtPrice) PROTO_FIELD(ssproto_read_price(m, &price, &s->price_ref));
  uint8_t n;
  PROTO_FIELD(ssproto_read_byte(m, &n));
  // n is a byte, so the 256 entries of the scratch array always suffice.
  static_assert(kProtoMultiScratchSize / sizeof(uint64_t) >= 256);
  uint64_t* volumes = reinterpret_cast<uint64_t*>(ssproto_multi_scratch());
  for (uint32_t i = 0; i < n; i++) PROTO_FIELD(ssproto_read_volume(m, &volumes[i]));

  const uint32_t last_before = s->last;
  if (m->type != kTypeMultiAtPrice) price = s->last;
  const char* ex = s->exchange->name;
  if (ssevent_multi_trade_begin(s, m->time, price, n) < 0) {
    log(LOG_ERROR, kSrc, "can't begin multi %s %s trade", ex, s->code);
    return -1;
  }
  for (uint32_t i = 0; i < n; i++) {
    if (ssevent_multi_trade_add(s, volumes[i]) < 0) {
      log(LOG_ERROR, kSrc, "can't add multi %s %s trade", ex, s->code);
      return -1;
    }
  }
  if (ssevent_multi_trade_end(s) < 0) {
    log(LOG_ERROR, kSrc, "can't end multi %s %s trade", ex, s->code);
    return -1;
  }
  uint32_t bits = kChangeTrade;
  if (m->type == kTypeMultiAtPrice && s->last != last_before) bits |= kChangeLastMoved;
  ssnotify_record(s, bits, nullptr);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
