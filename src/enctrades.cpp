// Trade group writer. A trade is written without a flag block when its flag
// byte is the default and its volume does not begin with a 0 byte (which a
// reader would take for the start of a flag block); otherwise the block
// carries the flag byte and the fields its bits announce.
#include "enctrades.h"

#include "dectrades.h"
#include "encode.h"
#include "log.h"
#include "ssbroker.h"

static const char kSrc[] = "src/enctrades.c";

namespace {

constexpr uint8_t kFlagConditions = 0x10;
constexpr uint8_t kFlagSecond = 0x20;
constexpr uint8_t kFlagAsAt = 0x40;
constexpr uint32_t kTradeRoom = kEncodeRoomVint * 2 + 2 + kEncodeRoomVlong * 2 + 2 + kEncodeRoomCode * 2;

int write_trade(uint8_t* p, const enctrades_trade& t, ss_time* running, bool brokers, enctrades_broker_fn put_broker) {
  int32_t n = 0;
  int r = encode_time_offset(p, t.time, running);
  if (r < 0) return -1;
  n += r;
  uint8_t vol[kEncodeRoomVint];
  const int vn = encode_volume(vol, t.volume);
  if (vn < 0) return -1;
  uint8_t f = t.flags;
  if (!t.as_at) f = static_cast<uint8_t>(f & ~kFlagAsAt);
  if (f != kTradeFlagDefault || vol[0] == 0) {
    p[n++] = 0;
    p[n++] = f;
    if (f & kFlagConditions) {
      if ((r = encode_vlong(p + n, t.conditions)) < 0) return -1;
      n += r;
    }
    if (f & kFlagSecond) {
      if ((r = encode_vlong(p + n, t.second)) < 0) return -1;
      n += r;
    }
    if (f & kFlagAsAt) {
      if ((r = encode_date16(p + n, t.as_at)) < 0) return -1;
      n += r;
    }
  }
  for (int i = 0; i < vn; i++) p[n++] = vol[i];
  if (brokers) {
    if (!t.buyer || !*t.buyer || !t.seller || !*t.seller) {
      log(LOG_ERROR, kSrc, "trade at %u has no broker", t.price);
      return -1;
    }
    if ((r = put_broker(p + n, t.buyer)) < 0) return -1;
    n += r;
    if ((r = put_broker(p + n, t.seller)) < 0) return -1;
    n += r;
  }
  return n;
}

const char* broker_code(uint64_t record) {
  return record ? reinterpret_cast<const ss_broker*>(static_cast<uintptr_t>(record))->code : nullptr;
}

enctrades_trade from_model(const ss_trade* t) {
  enctrades_trade e = {t->time, t->price, t->volume, static_cast<uint8_t>(t->bits & 0xFF), 0, 0, 0, nullptr, nullptr};
  if (const ss_trade_detail* d = ssmodel_load(t->detail)) {
    e.conditions = d->conditions;
    e.second = d->second_value;
    e.as_at = d->date;
    e.buyer = broker_code(d->buyer);
    e.seller = broker_code(d->seller);
  }
  return e;
}

}  // namespace

int enctrades_encode_one(growbuf* out, const enctrades_trade* trades, uint32_t k, uint32_t* ref, ss_time* running,
                         int brokers, enctrades_broker_fn put_broker) {
  if (!put_broker) put_broker = encode_broker;
  const int32_t start = out->len;
  uint32_t r2 = *ref;
  ss_time run = *running;
  uint8_t* p = growbuf_reserve(out, 2 * kEncodeRoomVint);
  if (!p) return -1;
  int32_t n = encode_vint(p, k);
  if (k > 0) {
    int r = encode_price(p + n, trades[0].price, &r2);
    if (r < 0) return -1;
    n += r;
  }
  growbuf_commit(out, static_cast<uint32_t>(n));
  for (uint32_t i = 0; i < k; i++) {
    if (trades[i].price != trades[0].price) {
      log(LOG_ERROR, kSrc, "group at %u holds a trade at %u", trades[0].price, trades[i].price);
      growbuf_truncate(out, start);
      return -1;
    }
    uint8_t* q = growbuf_reserve(out, kTradeRoom);
    int r = q ? write_trade(q, trades[i], &run, brokers != 0, put_broker) : -1;
    if (r < 0) {
      growbuf_truncate(out, start);
      return -1;
    }
    growbuf_commit(out, static_cast<uint32_t>(r));
  }
  *ref = r2;
  *running = run;
  return out->len - start;
}

int enctrades_encode_stock(growbuf* out, const ss_stock* s, uint32_t ref, ss_time running) {
  const int32_t start = out->len;
  const int brokers = (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
  constexpr uint32_t kBatch = 64;  // trades of one group written at a time
  enctrades_trade batch[kBatch];
  const ss_trade* t = ssmodel_load(s->trades.head);
  while (t) {
    uint32_t k = 0;
    const uint32_t price = t->price;
    while (t && t->price == price && k < kBatch) {
      batch[k++] = from_model(t);
      t = ssmodel_load(t->next);
    }
    if (enctrades_encode_one(out, batch, k, &ref, &running, brokers) < 0) {
      growbuf_truncate(out, start);
      return -1;
    }
  }
  return out->len - start;
}
