// Depth list writer: a side's levels in the layout decdepth reads, for the
// summary writer and for the market simulator's depth answers.
//
// Where the exchange carries brokers each order is followed by its broker,
// under the same rule the reader applies; a list without them would not read
// back. Each level is written into reserved room and committed only when it
// is whole, and a failure truncates the output to where it was.
#include "encdepth.h"

#include "encode.h"
#include "log.h"
#include "ssbroker.h"

static const char kSrc[] = "src/encdepth.c";

namespace {

constexpr uint32_t kOneByteCountBelow = 128;

bool carries_brokers(const ss_stock* s) {
  return s->exchange && (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
}

int fail(growbuf* out, int32_t start) {
  growbuf_truncate(out, start);
  return -1;
}

// Count, price and orders of one level.
int write_level(growbuf* out, const ss_stock* s, const ss_depth_level* l, uint32_t* ref, bool brokers) {
  uint32_t listed = 0;
  for (const ss_depth_order* o = ssmodel_load(l->orders); o; o = ssmodel_load(o->next)) listed++;
  if (listed == 0 || listed > kDepthCountMax) {
    log(LOG_ERROR, kSrc, "%s %s: can't write a level of %u orders", s->exchange->name, s->code, listed);
    return -1;
  }
  const uint32_t per_order = kEncodeRoomVint + (brokers ? kEncodeRoomCode : 0);
  uint8_t* p = growbuf_reserve(out, 2 + kEncodeRoomVint + listed * per_order);
  if (!p) return -1;
  int32_t n = 0;
  if (listed < kOneByteCountBelow) {
    p[n++] = static_cast<uint8_t>(listed);
  } else {
    p[n++] = static_cast<uint8_t>(0x80 | (listed & 0x7F));
    p[n++] = static_cast<uint8_t>(listed >> 7);
  }
  int r = encode_price(p + n, l->price, ref);
  if (r < 0) return -1;
  n += r;
  for (const ss_depth_order* o = ssmodel_load(l->orders); o; o = ssmodel_load(o->next)) {
    if ((r = encode_volume(p + n, o->volume)) < 0) return -1;
    n += r;
    if (!brokers) continue;
    if (!o->broker) {
      log(LOG_ERROR, kSrc, "%s %s: order at %u has no broker", s->exchange->name, s->code, l->price);
      return -1;
    }
    if ((r = encode_broker(p + n, o->broker->code)) < 0) return -1;
    n += r;
  }
  growbuf_commit(out, static_cast<uint32_t>(n));
  return n;
}

// One entry of the level-totals layout.
int write_total(growbuf* out, const ss_depth_level* l, uint32_t* ref) {
  uint8_t* p = growbuf_reserve(out, 3 * kEncodeRoomVint);
  if (!p) return -1;
  int32_t n = 0;
  int r = encode_vint(p, l->count ? l->count : 1);
  if (r < 0) return -1;
  n += r;
  if ((r = encode_price(p + n, l->price, ref)) < 0) return -1;
  n += r;
  if ((r = encode_volume(p + n, l->volume)) < 0) return -1;
  n += r;
  growbuf_commit(out, static_cast<uint32_t>(n));
  return n;
}

}  // namespace

int encdepth_encode_levels(growbuf* out, const ss_stock* s, int side, int32_t limit) {
  if (side != 0 && side != 1) {
    log(LOG_ERROR, kSrc, "%s: bad depth side %d", s->code, side);
    return -1;
  }
  const int32_t start = out->len;
  const bool totals = (s->flags & kInOutOfOrder) != 0;
  const bool brokers = carries_brokers(s);
  const int32_t cap = totals ? kDepthSummaryLevels : limit;
  uint32_t ref = s->close;
  int32_t levels = 0;
  for (const ss_depth_level* l = ssmodel_load(s->levels[side]); l && (cap <= 0 || levels < cap);
       l = ssmodel_load(l->next)) {
    int r = totals ? write_total(out, l, &ref) : write_level(out, s, l, &ref, brokers);
    if (r < 0) return fail(out, start);
    levels++;
  }
  if (cap <= 0 || levels < cap) {
    const uint8_t end = 0;
    if (growbuf_append(out, &end, 1) < 0) return fail(out, start);
  }
  return out->len - start;
}

int encdepth_encode(growbuf* out, const ss_stock* s, int side) {
  return encdepth_encode_levels(out, s, side, kDepthSummaryLevels);
}
