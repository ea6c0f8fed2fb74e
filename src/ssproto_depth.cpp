// Stock depth, quote and trade messages (types 1-39 but 27 and 31).
//
// One message changes one thing about one stock. The side is part of the
// type (bid types and their offer twins), and prices are left out where the
// receiver can work them out: relative to the stock's running reference, to
// the side's top price, or as ticks from the top.
#include <cstdint>

#include "log.h"
#include "ssevent.h"
#include "ssnotify.h"
#include "ssproto_int.h"

static const char kSrc[] = "src/ssproto";
static proto_state& P = ssproto_state;

namespace {

enum depth_op : uint8_t {
  kOpAdd,          // one order appended at its price (ssevent_apply_depth_summary)
  kOpAmend,        // the order at a position gets a new volume
  kOpRepeatAmend,  // the head order gets the exchange side's last amended volume
  kOpDelete,       // the order at a position goes
  kOpChangeTop,    // the head order is replaced
};

enum depth_price : uint8_t {
  kPriceNone,   // no price (amend, delete)
  kPriceRef,    // a price field against the stock's running reference
  kPriceTop,    // a price field against a copy of the side's top price
  kPriceTicks,  // derived: the side's top price moved by `ticks`
};

enum depth_position : uint8_t {
  kPosHead,   // position 1, not sent
  kPosByte,   // one byte
  kPosShort,  // 16 bits
};

// The bid form of a depth message; the offer twin reads the same fields. A
// `better` row moves its ticks towards the better price of its side (up for
// bids, down for offers); otherwise +ticks is up on either side.
struct depth_row {
  uint8_t type;  // the bid type
  depth_op op;
  depth_price price;
  int8_t ticks;
  bool better;
  depth_position position;
  bool volume;     // a volume field (else: none for add, unchanged for change top)
  bool broker;     // a broker field, under the broker rule
  bool offset;     // moves the exchange's time offset towards the header time
  const char* error;
};

constexpr depth_row kDepthRows[] = {
    {1, kOpAdd, kPriceRef, 0, false, kPosHead, true, true, false, "can't add %s %s depth head"},
    {2, kOpAdd, kPriceTicks, 1, true, kPosHead, true, true, true, "can't add %s %s depth head/1"},
    {3, kOpAdd, kPriceTicks, 0, false, kPosHead, true, true, true, "can't add %s %s depth head/tail"},
    {4, kOpAmend, kPriceNone, 0, false, kPosHead, true, false, true, "can't amend %s %s depth head"},
    {5, kOpRepeatAmend, kPriceNone, 0, false, kPosHead, false, false, true, "can't amend %s %s depth head"},
    {6, kOpDelete, kPriceNone, 0, false, kPosHead, false, false, true, "can't delete %s %s depth top"},
    {7, kOpDelete, kPriceNone, 0, false, kPosByte, false, false, false, "can't delete %s %s depth %d"},
    {8, kOpChangeTop, kPriceTop, 0, false, kPosHead, false, true, true, "can't change top %s %s depth"},
    {9, kOpChangeTop, kPriceTop, 0, false, kPosHead, true, true, true, "can't change top %s %s depth"},
    {10, kOpChangeTop, kPriceTicks, 1, false, kPosHead, false, true, true, "can't change top %s %s depth"},
    {11, kOpChangeTop, kPriceTicks, 1, false, kPosHead, true, true, true, "can't change top %s %s depth"},
    {12, kOpChangeTop, kPriceTicks, -1, false, kPosHead, false, true, true, "can't change top %s %s depth"},
    {13, kOpChangeTop, kPriceTicks, -1, false, kPosHead, true, true, true, "can't change top %s %s depth"},
    {32, kOpAdd, kPriceTicks, 2, true, kPosHead, true, true, true, "can't add %s %s depth head/2"},
    {34, kOpDelete, kPriceNone, 0, false, kPosShort, false, false, false, "can't delete %s %s depth %d"},
    {36, kOpAmend, kPriceNone, 0, false, kPosByte, true, false, false, "can't amend %s %s depth %d"},
    {38, kOpAmend, kPriceNone, 0, false, kPosShort, true, false, false, "can't amend %s %s depth %d"},
};

constexpr uint32_t kOfferTwinStep = 13;  // offer type of bid types 1-13
constexpr uint32_t kTypeTrade = 29;  // a trade with its price (30: at the last price)
constexpr uint8_t kDeleteWithLength = 7;  // its error line is followed by the side's length

struct depth_entry {
  const depth_row* row;
  int side;
};

// The row and side of every depth type (null row for the others).
struct depth_table {
  depth_entry by_type[256] = {};
  constexpr depth_table() {
    for (const depth_row& r : kDepthRows) {
      by_type[r.type] = {&r, 0};
      const uint32_t twin = r.type <= kOfferTwinStep ? r.type + kOfferTwinStep : r.type + 1u;
      by_type[twin] = {&r, 1};
    }
  }
};

constexpr depth_table kDepth;

// Quote prices by flag bit, in order: previous close, open, high, low, last.
constexpr uint8_t kQuoteBits[] = {0x01, 0x02, 0x04, 0x08, 0x10};
constexpr int kQuotePrices = 5;

// The live stream's stamps move the exchange clock; saved data read again
// is old and must not.
void track_offset(const ssproto_msg* m, ss_stock* s) {
  if (m->nesting == 0 && m->time != 0 && !P.replay) ssmodel_track_offset(s->exchange, m->time);
}

uint32_t side_length(const ss_stock* s, int side) {
  uint32_t n = 0;
  for (const ss_depth_level* l = s->levels[side]; l; l = l->next) n += l->count;
  return n;
}

}  // namespace

namespace ssproto_handlers {

// The broker field is sent only where the exchange carries brokers and the
// stock's depth is kept as orders.
int read_broker_field(ssproto_msg* m, const ss_stock* s, char* broker) {
  broker[0] = '\0';
  const bool carried = (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
  return carried ? ssproto_read_broker(m, broker) : 1;
}

// Types 1-26 and 32-39.
int do_depth(ssproto_msg* m) {
  const depth_entry e = kDepth.by_type[m->type & 0xff];
  if (!e.row) return unknown_type(m);
  const depth_row& row = *e.row;
  const int side = e.side;
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();

  uint32_t price = kNoPrice;
  uint64_t volume = kNoVolume;
  uint32_t position = 1;
  char broker[kCodeSize];
  broker[0] = '\0';
  if (row.position == kPosByte) {
    uint8_t b;
    PROTO_FIELD(ssproto_read_byte(m, &b));
    position = b;
  } else if (row.position == kPosShort) {
    uint16_t v;
    PROTO_FIELD(ssproto_read_short(m, &v));
    position = v;
  }
  if (row.price == kPriceRef) {
    PROTO_FIELD(ssproto_read_price(m, &price, &s->price_ref));
  } else if (row.price == kPriceTop) {
    uint32_t top = side ? s->offer : s->bid;
    PROTO_FIELD(ssproto_read_price(m, &price, &top));
  }
  if (row.volume) PROTO_FIELD(ssproto_read_volume(m, &volume));
  if (row.broker) PROTO_FIELD(read_broker_field(m, s, broker));

  ssproto_warm_next(m);

  if (row.price == kPriceTicks) {
    const int32_t ticks = row.better && side ? -row.ticks : row.ticks;
    // An empty side, a top of "no price" or a move past either end of the
    // price range: the message does not fit this book.
    if (ssevent_top_plus_ticks(s, side, ticks, &price) < 0) return PROTO_FAIL();
  }

  if (row.offset) track_offset(m, s);

  int r;
  switch (row.op) {
    case kOpAdd: r = ssevent_apply_depth_summary(s, m->time, side, price, volume, 1, broker); break;
    case kOpAmend: r = ssevent_amend_depth(s, m->time, side, position, volume); break;
    case kOpRepeatAmend: r = ssevent_repeat_amend(s, m->time, side); break;
    case kOpDelete: r = ssevent_delete_depth(s, m->time, side, position); break;
    default: r = ssevent_change_top(s, m->time, side, price, volume, broker); break;
  }
  if (r < 0) {
    const char* ex = s->exchange->name;
    if (row.position == kPosHead) {
      log(LOG_ERROR, kSrc, row.error, ex, s->code);
    } else {
      log(LOG_ERROR, kSrc, row.error, ex, s->code, static_cast<int>(position));
      if (row.type == kDeleteWithLength) log(LOG_ERROR, kSrc, "length %d", static_cast<int>(side_length(s, side)));
    }
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 28: up to five prices, chosen by a flag byte.
int do_quote(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint8_t flags;
  PROTO_FIELD(ssproto_read_byte(m, &flags));
  uint32_t p[kQuotePrices] = {kNoPrice, kNoPrice, kNoPrice, kNoPrice, kNoPrice};
  for (int i = 0; i < kQuotePrices; i++)
    if (flags & kQuoteBits[i]) PROTO_FIELD(ssproto_read_price(m, &p[i], &s->price_ref));
  ssproto_warm_next(m);
  if (ssevent_apply_quote(s, m->time, p[0], p[1], p[2], p[3], p[4], kNoVolume, kNoVolume) < 0) {
    log(LOG_ERROR, kSrc, "can't do %s %s quote", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  return ssproto_used(m);
}

// 29: a trade with its price; 30: a trade at the stock's last price.
int do_trade(ssproto_msg* m) {
  ss_stock* s = ssproto_take_stock(m);
  if (!s) return PROTO_FAIL();
  uint32_t price;
  uint64_t volume;
  char buyer[kCodeSize], seller[kCodeSize];
  if (m->type == kTypeTrade)
    PROTO_FIELD(ssproto_read_price(m, &price, &s->price_ref));
  else
    price = s->last;
  PROTO_FIELD(ssproto_read_volume(m, &volume));
  PROTO_FIELD(read_broker_field(m, s, buyer));
  PROTO_FIELD(read_broker_field(m, s, seller));
  ssproto_warm_next(m);
  // A plain trade: it sets the last price, counts for high and low, for the
  // volume and value and for the average price; no conditions, no date.
  if (ssevent_apply_trade(s, m->time, price, volume, 1, 1, 1, 1, 0, 0, 0, buyer, seller) < 0) {
    log(LOG_ERROR, kSrc, "can't add %s %s trade", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  ssnotify_record(s, kChangeTrade, nullptr);
  return ssproto_used(m);
}

}  // namespace ssproto_handlers
