// Protocol framing and dispatch: the server's stream is one run of typed
// messages (a record header, then the fields its type defines); the decode
// loops cut bytes into messages and ssproto_dispatch sends each through one
// table of all 256 types to its handler.
//
// A message that is not complete yet must leave no trace, since the same bytes
// are decoded again when more arrive: dispatch snapshots all decoder state
// before the header and puts it back on 0 or -1.
#include "ssproto.h"
#include "ssproto_queue.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "dalloc.h"
#include "dechdr.h"
#include "decode.h"
#include "log.h"
#include "ssclient.h"
#include "ssevent.h"
#include "sserr.h"
#include "ssmsg.h"
#include "ssnotify.h"
#include "ssuser.h"

static const char kSrc[] = "src/ssproto";

namespace {

constexpr int kNestingLevels = 2;           // work buffers and scratch stocks
constexpr uint32_t kAddedStockFlags = 31;   // request bits of a stock the stream adds
constexpr int32_t kHexDumpMax = 256;
constexpr int32_t kHexDumpLine = 16;
constexpr int32_t kHexDumpBack = 96;        // bytes shown before a failing message
constexpr uint8_t kUserMaskWideVersion = 3;  // message 41 carries a 32-bit mask from here

// Table flags.
constexpr uint8_t kCounts = 0x1;   // advances the exchange's stream position
constexpr uint8_t kNoRaise = 0x2;  // leaves the stock's last-message time alone

struct handler_row {
  ssproto_handler fn;
  uint8_t flags;
};

struct proto_state {
  bool ready = false;
  int32_t version = kProtoVersion;
  int32_t depth = -1;  // nesting of the message being dispatched
  growbuf work[kNestingLevels] = {};
  growbuf save = {};
  uint8_t* multi = nullptr;
  ss_stock* scratch[kNestingLevels] = {};
  ss_exchange* current = nullptr;
  std::atomic<uint32_t> positions[kProtoPositions] = {kProtoPositionNone, kProtoPositionNone, kProtoPositionNone,
                                                      kProtoPositionNone};
  std::atomic<uint32_t> master{0};
  std::atomic<uint32_t> expected{0};
  uint8_t counting = 0;
  uint8_t replay = 0;
  ssproto_counter counters[kProtoCounterPairs] = {};
  ssproto_msg* msg = nullptr;  // innermost message being dispatched
  ssproto_handler test_handlers[256] = {};
};

// Constant-initialised, so that a model started from another file's static
// initialisation finds it ready and does not see it reset afterwards.
constinit proto_state P;

// Trace the failing check at this source line, then fail.
#define PROTO_FAIL() (ssproto_trace(__LINE__), -1)
// Read one field; on 0 or -1 end the handler with it (a trace on -1).
#define PROTO_FIELD(call)                        \
  do {                                           \
    int field_r_ = (call);                       \
    if (field_r_ <= 0) {                         \
      if (field_r_ < 0) ssproto_trace(__LINE__); \
      return field_r_;                           \
    }                                            \
  } while (0)

// The unknown-type path: one ERROR line, the trace, -1.
int unknown_type(ssproto_msg* m) {
  log(LOG_ERROR, kSrc, "unknown type %d (len=%d, slen=%d, nesting=%d)", static_cast<int>(m->type), m->avail,
      m->header + m->avail, m->nesting);
  return PROTO_FAIL();
}

// Handlers of message families still to be built answer like an unknown type.
int not_built(ssproto_msg* m) { return unknown_type(m); }

ss_exchange* exchange_or_log(uint32_t index) {
  ss_exchange* ex = ssmodel_exchange(static_cast<int32_t>(index));
  if (!ex) log(LOG_ERROR, kSrc, "no such exchange %d", static_cast<int>(index));
  return ex;
}

// ===========================================================================
// Stream control and exchange messages

// 40: the size of the catch-up that follows; positions stop advancing.
int do_expecting(ssproto_msg* m) {
  uint32_t count;
  PROTO_FIELD(ssproto_read_u32(m, &count));
  P.expected.store(count);
  log(LOG_INFO, kSrc, "expecting %db", static_cast<int32_t>(count));
  P.counting = 0;
  return ssproto_used(m);
}

// 41: the user's kind, id and permitted exchanges.
int do_user(ssproto_msg* m) {
  uint8_t kind;
  uint32_t value, mask, dropped;
  PROTO_FIELD(ssproto_read_byte(m, &kind));
  PROTO_FIELD(ssproto_read_u32(m, &value));
  if (P.version >= kUserMaskWideVersion) {
    PROTO_FIELD(ssproto_read_u32(m, &mask));
  } else {
    uint8_t narrow;
    PROTO_FIELD(ssproto_read_byte(m, &narrow));
    mask = narrow;
  }
  PROTO_FIELD(ssproto_read_u32(m, &dropped));
  ssuser_set(kind, value, mask);
  ssnotify_record_global(kGlobalUser);
  return ssproto_used(m);
}

// 49: catch-up done: counting resumes and the client is online.
int do_proceeding(ssproto_msg* m) {
  uint32_t first, second;
  PROTO_FIELD(ssproto_read_u32(m, &first));
  PROTO_FIELD(ssproto_read_u32(m, &second));
  log(LOG_INFO, kSrc, "proceeding");
  P.counting = 1;
  ssclient_online_followups();
  ssnotify_record_global(kGlobalOnline);
  ssmsg_set("Online");
  return ssproto_used(m);
}

// 51 (index byte), 52 (exchange 0), 53 (exchange 1), 59 (exchange 3).
int do_select_exchange(ssproto_msg* m) {
  uint32_t index;
  switch (m->type) {
    case 51: {
      uint8_t b;
      PROTO_FIELD(ssproto_read_byte(m, &b));
      index = b;
      break;
    }
    case 52: index = kExchangeAsx; break;
    case 53: index = kExchangeNzx; break;
    default: index = kExchangeAxo; break;
  }
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  P.current = ex;
  return ssproto_used(m);
}

// 54: exchange date, server clock, offset and broker flag.
int do_exchange_date(ssproto_msg* m) {
  uint8_t index, brokers;
  uint32_t date, now, offset;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_u32(m, &date));
  PROTO_FIELD(ssproto_read_u32(m, &now));
  PROTO_FIELD(ssproto_read_vint(m, &offset));
  PROTO_FIELD(ssproto_read_byte(m, &brokers));
  ss_exchange* ex = exchange_or_log(index);
  if (!ex) return PROTO_FAIL();
  P.current = ex;
  char text[kSstimeDatetimeLen];
  log(LOG_INFO, kSrc, "set %s", ex->name);
  log(LOG_INFO, kSrc, "    date %s", sstime_format_date_into(text, date));
  log(LOG_INFO, kSrc, "    time %s", sstime_format_datetime_into(text, now));
  log(LOG_INFO, kSrc, "  offset %d", static_cast<int32_t>(offset));
  ssmodel_set_date(ex, date);
  ssmodel_set_offset(ex, static_cast<int32_t>(offset));
  ssmodel_set_delta(ex, now);
  // Only ever set here: an exchange that carries brokers keeps carrying them.
  if (brokers) ssmodel_exchange_set_flags(ex, kExBrokers);
  return ssproto_used(m);
}

// 166: the server's signature and stream position of one exchange.
int do_signature(ssproto_msg* m) {
  uint8_t index;
  uint32_t sig, pos;
  PROTO_FIELD(ssproto_read_byte(m, &index));
  PROTO_FIELD(ssproto_read_u32(m, &sig));
  PROTO_FIELD(ssproto_read_u32(m, &pos));
  if (index >= kProtoPositions) {
    log(LOG_ERROR, kSrc, "no such exchange %d", index);
    return PROTO_FAIL();
  }
  const char* name = ssmodel_exchange_name(index);
  uint32_t old_sig = ssmodel_exchange_signature(index);
  if (sig != old_sig) {
    log(LOG_INFO, kSrc, "changing %s sig from %u to %u", name, old_sig, sig);
    ssmodel_set_signature(index, sig);
  }
  uint32_t old = ssproto_exchange_position(index);
  if (pos != old) {
    if (pos == 0)
      log(LOG_INFO, kSrc, "reseting %s pos from %u to 0", name, old);
    else if (old == kProtoPositionNone)
      log(LOG_INFO, kSrc, "setting %s pos to %u", name, pos);
    else
      log(LOG_WARN, kSrc, "changing %s pos by %d from %u to %u", name, static_cast<int32_t>(pos - old), old, pos);
    ssproto_set_exchange_position(index, pos);
  }
  return ssproto_used(m);
}

// ===========================================================================
// Control messages

// 242: acknowledgement; the first since "Online" raises a global bit.
int do_ack(ssproto_msg* m) {
  ssclient_acked();
  if (ssclient_ack_count() == 1) ssnotify_record_global(kGlobalFirstAck);
  return ssproto_used(m);
}

void signed_off() {
  ssclient_signed_off();
  ssnotify_record_global(kGlobalSignedOff);
}

// 251: the server dropped this client.
int do_dropped(ssproto_msg* m) {
  log(LOG_WARN, kSrc, "dropped");
  ssclient_set_dropped(1);
  signed_off();
  return ssproto_used(m);
}

// 254: the server signed this client off.
int do_signed_off(ssproto_msg* m) {
  log(LOG_INFO, kSrc, "signed off");
  signed_off();
  return ssproto_used(m);
}

// 253: the header alone.
int do_noop(ssproto_msg* m) { return ssproto_used(m); }

// 255: the server's error report.
int do_server_error(ssproto_msg* m) {
  uint32_t code, sub;
  uint8_t exchange;
  char text[kCodeSize];
  ss_time date;
  PROTO_FIELD(ssproto_read_vint(m, &code));
  PROTO_FIELD(ssproto_read_vint(m, &sub));
  PROTO_FIELD(ssproto_read_byte(m, &exchange));
  PROTO_FIELD(ssproto_read_code(m, text));
  PROTO_FIELD(ssproto_read_date(m, &date));
  sserr_report(static_cast<int32_t>(code), sub, exchange, text, date);
  return ssproto_used(m);
}

// ===========================================================================
// Stock depth, quote and trade messages
//
// One message changes one thing about one stock. The side is part of the
// type (bid types and their offer twins), and prices are left out where the
// receiver can work them out: relative to the stock's running reference, to
// the side's top price, or as ticks from the top.

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

// The broker field is sent only where the exchange carries brokers and the
// stock's depth is kept as orders.
bool carries_broker(const ss_stock* s) {
  return (s->exchange->flags & kExBrokers) && !(s->flags & kInOutOfOrder);
}

int read_broker_field(ssproto_msg* m, const ss_stock* s, char* broker) {
  broker[0] = '\0';
  return carries_broker(s) ? ssproto_read_broker(m, broker) : 1;
}

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
  // A plain trade: it sets the last price, counts for high and low, for the
  // volume and value and for the average price; no conditions, no date.
  if (ssevent_apply_trade(s, m->time, price, volume, 1, 1, 1, 1, 0, 0, 0, buyer, seller) < 0) {
    log(LOG_ERROR, kSrc, "can't add %s %s trade", s->exchange->name, s->code);
    return PROTO_FAIL();
  }
  ssnotify_record(s, kChangeTrade, nullptr);
  return ssproto_used(m);
}

// ===========================================================================
// Families still to be built. Each keeps its place in the table.

// Minimal version: replaced when stream control and block messages are built.
int do_run(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_block(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_user_config(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_stock_summary(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_index_summary(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_news_today(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_depth_summary(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_sync(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_exchange_params(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_server_position(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_day_begin(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when stream control and block messages are built.
int do_day_end(ssproto_msg* m) { return not_built(m); }


// Minimal version: replaced when backfill, priority and firm-order messages are built.
int do_priority(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when backfill, priority and firm-order messages are built.
int do_backfill(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when backfill, priority and firm-order messages are built.
int do_earlier_date(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when backfill, priority and firm-order messages are built.
int do_firm_orders(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when history and news messages are built.
int do_history(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when history and news messages are built.
int do_news_history(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when history and news messages are built.
int do_news_item(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when history and news messages are built.
int do_news_summaries(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when depth-clear, program-update and transfer messages are built.
int do_depth_clear(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when depth-clear, program-update and transfer messages are built.
int do_program_update(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when depth-clear, program-update and transfer messages are built.
int do_transfer(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when exchange control and stock state messages are built.
int do_exchange_reset(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_time_offset(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_setpos(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_padding(ssproto_msg* m) { return not_built(m); }
// 167: the server stalled this client; ask it to send the streams again.
int do_stall(ssproto_msg* m) {
  ssclient_unstall();
  return ssproto_used(m);
}
// 170 / 171: the trading state of the current exchange; 171 also gives it to
// every stock of the exchange. The sign-on sends 170 for each exchange.
int do_exchange_state(ssproto_msg* m) {
  uint8_t state;
  PROTO_FIELD(ssproto_read_byte(m, &state));
  if (P.current == nullptr) {
    log(LOG_ERROR, kSrc, "state %d with no current exchange", state);
    return PROTO_FAIL();
  }
  if (ssevent_set_exchange_state(P.current, m->time, state, m->type == 171 ? 1 : 0, 0) < 0) return PROTO_FAIL();
  return ssproto_used(m);
}
// Minimal version: replaced when exchange control and stock state messages are built.
int do_stock_state(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_state_list(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_resume(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_quote_basis(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when exchange control and stock state messages are built.
int do_quote_ex(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when summary-list and depth-change messages are built.
int do_summary_list(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when summary-list and depth-change messages are built.
int do_exchange_state_dated(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when summary-list and depth-change messages are built.
int do_depth_head(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when summary-list and depth-change messages are built.
int do_delete_top(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when summary-list and depth-change messages are built.
int do_depth_at(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when notice, global-value and volume-comparison messages are built.
int do_notice(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when notice, global-value and volume-comparison messages are built.
int do_notice_list(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when notice, global-value and volume-comparison messages are built.
int do_global_values(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when notice, global-value and volume-comparison messages are built.
int do_global_index(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when notice, global-value and volume-comparison messages are built.
int do_vcmp(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when auction and multi-trade messages are built.
int do_auction(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when auction and multi-trade messages are built.
int do_multi_trade(ssproto_msg* m) { return not_built(m); }

// Minimal version: replaced when the remaining control messages are built.
int do_password(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when the remaining control messages are built.
int do_side_channel(ssproto_msg* m) { return not_built(m); }
// Minimal version: replaced when the remaining control messages are built.
int do_debug(ssproto_msg* m) { return not_built(m); }

// ===========================================================================
// The table

struct type_range {
  uint32_t lo, hi;
  ssproto_handler fn;
  uint8_t flags;
};

// Every type with a handler; the rest take the unknown-type path. Messages
// of an exchange's data stream count toward its position; control messages
// and answers to requests do not.
constexpr type_range kHandlers[] = {
    {1, 26, do_depth, kCounts},
    {27, 27, do_run, kCounts},
    {28, 28, do_quote, kCounts},
    {29, 30, do_trade, kCounts},
    {31, 31, ssproto_do_index_tick, kCounts},
    {32, 39, do_depth, kCounts},
    {40, 40, do_expecting, 0},
    {41, 41, do_user, 0},
    {42, 42, do_user_config, 0},
    {44, 44, do_stock_summary, 0},
    {45, 45, do_index_summary, 0},
    {46, 46, do_news_today, 0},
    {48, 48, do_depth_summary, 0},
    {49, 49, do_proceeding, 0},
    {50, 50, do_sync, 0},
    {51, 53, do_select_exchange, 0},
    {54, 54, do_exchange_date, 0},
    {55, 55, do_exchange_params, 0},
    {56, 56, do_server_position, 0},
    {57, 57, do_day_begin, kCounts},
    {58, 58, do_day_end, kCounts},
    {59, 59, do_select_exchange, 0},
    {60, 61, ssproto_do_queue, kCounts},
    {62, 63, ssproto_do_queue_block, kCounts},
    {64, 67, ssproto_do_depth_answer, 0},
    {68, 68, ssproto_do_out_of_order, kCounts},
    {69, 69, ssproto_do_skip_word, 0},
    {70, 71, ssproto_do_trade_variant, kCounts},
    {72, 72, ssproto_do_trade_amend, kCounts},
    {75, 76, ssproto_do_trade_list, 0},
    {80, 83, ssproto_do_index_values, kCounts},
    {90, 90, do_block, kCounts},
    {91, 91, do_priority, 0},
    {100, 101, do_backfill, 0},
    {102, 104, do_earlier_date, 0},
    {105, 105, do_firm_orders, 0},
    {110, 111, do_history, 0},
    {120, 120, do_news_history, 0},
    {121, 121, do_news_item, kCounts},
    {122, 122, do_news_summaries, 0},
    {130, 133, do_depth_clear, kCounts},
    {140, 144, do_program_update, 0},
    {150, 151, do_transfer, 0},
    {160, 160, do_exchange_reset, kCounts},
    {161, 161, do_time_offset, kCounts},
    {162, 162, do_setpos, kCounts},
    {165, 165, do_padding, 0},
    {166, 166, do_signature, kCounts},
    {167, 167, do_stall, 0},
    {170, 171, do_exchange_state, kCounts},
    {172, 172, do_stock_state, kCounts},
    {173, 173, do_state_list, kCounts},
    {174, 174, do_resume, kCounts},
    {180, 180, do_quote_basis, kCounts},
    {181, 181, do_quote_ex, kCounts},
    {190, 190, do_summary_list, 0},
    {191, 191, do_exchange_state_dated, 0},
    {192, 194, do_summary_list, 0},
    {195, 195, do_depth_summary, 0},
    {196, 196, do_summary_list, 0},
    {200, 201, do_depth_head, kCounts},
    {202, 204, do_delete_top, kCounts},
    {205, 206, do_depth_at, kCounts},
    {210, 210, do_notice, 0},
    {211, 211, do_notice_list, 0},
    {212, 212, do_global_values, 0},
    {213, 213, do_global_index, 0},
    {214, 214, do_vcmp, 0},
    {220, 223, do_auction, kCounts},
    {230, 231, do_multi_trade, kCounts},
    {240, 240, do_password, 0},
    {241, 241, do_side_channel, 0},
    {242, 242, do_ack, 0},
    {251, 251, do_dropped, 0},
    {252, 252, do_debug, 0},
    {253, 253, do_noop, 0},
    {254, 254, do_signed_off, 0},
    {255, 255, do_server_error, 0},
};

struct type_span {
  uint32_t lo, hi;
};

// Types whose success does not raise their stock's last-message time.
constexpr type_span kNoRaiseTypes[] = {
    {40, 40}, {44, 46}, {48, 68}, {75, 76}, {90, 90}, {100, 103}, {110, 111}, {120, 121}, {140, 144}, {150, 151},
    {160, 160}, {162, 162}, {166, 167}, {170, 173}, {190, 192}, {195, 196}, {210, 214}, {241, 242}, {251, 251},
    {254, 255},
};

struct handler_table {
  handler_row rows[256] = {};
  constexpr handler_table() {
    for (handler_row& r : rows) r = {unknown_type, 0};
    for (const type_range& t : kHandlers)
      for (uint32_t i = t.lo; i <= t.hi; i++) rows[i] = {t.fn, t.flags};
    for (const type_span& t : kNoRaiseTypes)
      for (uint32_t i = t.lo; i <= t.hi; i++) rows[i].flags |= kNoRaise;
  }
};

constexpr handler_table kTable;

// ===========================================================================
// Dispatch helpers

// Everything a message may move before it completes.
struct decoder_snapshot {
  ss_exchange* current;
  dechdr_state headers[kExchanges];
  dechdr_state given_header;  // the given stock's stream time
  ss_time ref_time;
  ss_stock* given;
  uint32_t given_ref;
};

void snapshot_take(decoder_snapshot* s, ss_stock* given) {
  s->current = P.current;
  for (int i = 0; i < kExchanges; i++) dechdr_save(&s->headers[i], ssmodel_exchange(i), nullptr);
  dechdr_save(&s->given_header, nullptr, given);
  s->ref_time = decode_ref_date();
  s->given = given;
  s->given_ref = given ? *ssproto_price_ref(given) : 0;
}

void snapshot_restore(const decoder_snapshot* s, const ssproto_msg* m) {
  // The stock's reference first: when it is also the given stock, the
  // given stock's saved value (older) wins below.
  if (m->stock) *ssproto_price_ref(m->stock) = m->stock_ref;
  if (s->given) *ssproto_price_ref(s->given) = s->given_ref;
  for (const dechdr_state& h : s->headers) dechdr_restore(&h);
  dechdr_restore(&s->given_header);
  decode_set_ref_date(s->ref_time);
  P.current = s->current;
}

// Makes `m` the message the trace describes while it is dispatched.
class current_msg_guard {
 public:
  explicit current_msg_guard(ssproto_msg* m) : outer_(P.msg) { P.msg = m; }
  ~current_msg_guard() { P.msg = outer_; }

 private:
  ssproto_msg* outer_;
};

// One more nesting level for the length of a decode loop.
class depth_guard {
 public:
  depth_guard() { P.depth++; }
  ~depth_guard() { P.depth--; }
};

// Step after a stock message succeeded: the stock joins the current list,
// gets a speed index while the table has room, and its last-message time
// follows the header.
void stock_succeeded(ssproto_msg* m, uint8_t flags) {
  ss_stock* s = m->stock;
  if (!(s->flags & kInCurrent)) ssmodel_stock_make_current(s);
  if (s->speed < 0) dechdr_add_stock_speed(s);  // refuses a full table
  if (!(flags & kNoRaise) && m->time > s->last_time) s->last_time = m->time;
}

enum loop_kind { kLoopLive, kLoopSaved, kLoopRun };

int decode_loop(const uint8_t* bytes, int32_t length, loop_kind kind, int stepped, ss_stock* instrument) {
  if (length <= 0) return 0;
  int32_t used = 0;
  while (used < length) {
    const uint8_t* p = bytes + used;
    const int32_t remaining = length - used;
    int r;
    {
      depth_guard d;
      r = ssproto_dispatch(p, remaining, P.depth, stepped, instrument);
    }
    const int32_t back = used < kHexDumpBack ? used : kHexDumpBack;
    if (kind == kLoopRun && r < 1) {
      if (!ssclient_abort_requested()) {
        log(LOG_ERROR, kSrc, "aborting with code %d at byte %d, %d remaining", r, used, remaining);
        ssproto_hex_dump(p - back, remaining + back);
      }
      return -1;
    }
    if (r == 0) break;
    if (r < 0) {
      if (kind == kLoopLive && !ssclient_abort_requested()) {
        log(LOG_ERROR, kSrc, "aborting at byte %d, %d remaining", used, remaining);
        ssproto_hex_dump(p - back, remaining + back);
      }
      log(LOG_ERROR, kSrc, "error at offset %d/%d", used, length);
      return -1;
    }
    used += r;
  }
  P.counters[0].first += static_cast<uint32_t>(used);
  return used;
}

}  // namespace

// ===========================================================================
// Life

int ssproto_init(void) {
  if (P.ready) ssproto_fini();
  for (growbuf& w : P.work) {
    if (growbuf_init(&w, kProtoWorkBufferSize, kProtoWorkBufferStep) < 0) {
      log(LOG_ERROR, kSrc, "can't alloc work buffer");
      ssproto_fini();
      return -1;
    }
  }
  if (growbuf_init(&P.save, kProtoWorkBufferSize, kProtoWorkBufferStep) < 0) {
    log(LOG_ERROR, kSrc, "can't alloc save buffer");
    ssproto_fini();
    return -1;
  }
  P.multi = static_cast<uint8_t*>(dalloc_alloc(kProtoMultiScratchSize));
  memset(P.multi, 0, kProtoMultiScratchSize);
  const int32_t stock_size = ssmodel_stock_size();
  for (ss_stock*& s : P.scratch) {
    s = static_cast<ss_stock*>(dalloc_alloc(stock_size));
    memset(static_cast<void*>(s), 0, stock_size);
  }
  for (auto& pos : P.positions) pos.store(kProtoPositionNone);
  P.current = nullptr;
  P.depth = -1;
  P.msg = nullptr;
  P.version = kProtoVersion;
  P.counting = 0;
  P.replay = 0;
  P.ready = true;
  return 0;
}

void ssproto_fini(void) {
  for (growbuf& w : P.work)
    if (w.data) growbuf_free(&w);
  if (P.save.data) growbuf_free(&P.save);
  memset(P.work, 0, sizeof P.work);
  memset(&P.save, 0, sizeof P.save);
  if (P.multi) dalloc_free(P.multi);
  P.multi = nullptr;
  for (ss_stock*& s : P.scratch) {
    if (s) dalloc_free(s);
    s = nullptr;
  }
  P.current = nullptr;
  P.msg = nullptr;
  P.ready = false;
}

void ssproto_reset_counters(void) {
  P.expected.store(0);
  P.current = nullptr;
  memset(P.counters, 0, sizeof P.counters);
}

// ===========================================================================
// Decoding

int ssproto_decode(const uint8_t* bytes, int32_t length) { return ssproto_decode_messages(bytes, length, 0, nullptr); }

int ssproto_decode_messages(const uint8_t* bytes, int32_t length, int saved, ss_stock* instrument) {
  return decode_loop(bytes, length, saved ? kLoopSaved : kLoopLive, 0, instrument);
}

int ssproto_decode_saved(const uint8_t* bytes, int32_t length) {
  return decode_loop(bytes, length, kLoopSaved, 0, nullptr);
}

int ssproto_decode_saved_for(ss_stock* instrument, const uint8_t* bytes, int32_t length) {
  return decode_loop(bytes, length, kLoopSaved, 0, instrument);
}

int ssproto_decode_run(const uint8_t* bytes, int32_t length, int stepped) {
  return decode_loop(bytes, length, kLoopRun, stepped, nullptr);
}

int32_t ssproto_max_pending(void) { return kProtoMaxPending; }

int ssproto_dispatch(const uint8_t* bytes, int32_t length, int32_t nesting, int stepped, ss_stock* instrument) {
  if (nesting >= kProtoNestingLimit) {
    log(LOG_ERROR, kSrc, "nested %d", nesting);
    return -1;
  }
  ssproto_msg m = {};
  m.speed = -1;
  m.nesting = nesting;
  m.stepped = stepped;
  m.given = instrument;
  current_msg_guard guard(&m);

  decoder_snapshot snap;
  snapshot_take(&snap, instrument);

  int h;
  if (stepped) {
    h = dechdr_decode_stepped(bytes, length, P.current, &m.type, &m.time, m.code, &m.speed);
  } else if (instrument) {
    h = dechdr_decode_stock_header(bytes, length, instrument, &m.type, &m.time);
    if (h > 0) {
      memcpy(m.code, instrument->code, kCodeSize);
      m.speed = instrument->speed;
    }
  } else {
    h = dechdr_decode_timed(bytes, length, P.current, &m.type, &m.time, m.code, &m.speed);
  }
  if (h <= 0) {
    if (h < 0) {
      m.avail = length;
      ssproto_trace(__LINE__);
    }
    snapshot_restore(&snap, &m);
    // A failed header of a single-stock stream starts its prices afresh; an
    // incomplete one leaves them as they were, to be read again.
    if (h < 0 && instrument) *ssproto_price_ref(instrument) = 0;
    return h;
  }
  m.header = h;
  m.data = bytes + h;
  m.avail = length - h;

  ssclient_yield_point(1);

  const bool counting = P.counting != 0;
  uint8_t flags = 0;
  int r;
  if (m.type == 0 || m.type > 255) {
    r = unknown_type(&m);
  } else {
    flags = kTable.rows[m.type].flags;
    ssproto_handler fn = P.test_handlers[m.type] ? P.test_handlers[m.type] : kTable.rows[m.type].fn;
    r = fn(&m);
  }

  if (r > 0) {
    P.counters[0].second++;
    if (m.stock) stock_succeeded(&m, flags);
    if (nesting == 0 && !instrument && counting && (flags & kCounts) && P.current)
      P.positions[P.current->index].fetch_add(static_cast<uint32_t>(r));
    return r;
  }
  if (r == 0 && length >= kProtoMaxPending) {
    log(LOG_ERROR, kSrc, "message still incomplete after %d bytes", length);
    ssproto_trace(__LINE__);
    r = -1;
  }
  snapshot_restore(&snap, &m);
  return r;
}

// ===========================================================================
// For handlers

void ssproto_trace(int check) {
  if (ssclient_abort_requested()) return;
  const ssproto_msg* m = P.msg;
  const ss_exchange* ex = P.current;
  char when[kSstimeDatetimeLen];
  sstime_format_datetime_into(when, m ? m->time : 0);
  log(LOG_ERROR, kSrc, "(line %d) %d %s \"%s\" %s %d (%db/%db)", check, m ? static_cast<int>(m->type) : 0,
      ex ? ex->name : "xxx", when, m ? m->code : "", m ? m->speed : -1, m ? m->avail : 0,
      m ? m->header + m->avail : 0);
  if (ex)
    log(LOG_ERROR, kSrc, "state %s %s", ex->cur_code, sstime_format_datetime(ex->cur_time));
  else
    log(LOG_ERROR, kSrc, "state %s %s", "xxx", "xxx");
}

void ssproto_hex_dump(const uint8_t* bytes, int32_t length) {
  if (!bytes || length <= 0) return;
  if (length > kHexDumpMax) length = kHexDumpMax;
  char line[kHexDumpLine * 3 + 1];
  int32_t n = 0;
  for (int32_t i = 0; i < length; i++) {
    if (i && i % kHexDumpLine == 0) {
      log(LOG_INFO, kSrc, "%s", line);
      n = 0;
    }
    n += snprintf(line + n, sizeof line - n, "%02x ", bytes[i]);
  }
  if (n) log(LOG_INFO, kSrc, "%s", line);
}

int ssproto_used(const ssproto_msg* m) { return m->header + m->used; }

namespace {

template <class Reader>
int read_field(ssproto_msg* m, Reader reader) {
  int r = reader(m->data + m->used, m->avail - m->used);
  if (r > 0) m->used += r;
  return r;
}

}  // namespace

int ssproto_read_byte(ssproto_msg* m, uint8_t* value) {
  return read_field(m, [value](const uint8_t* p, int32_t n) { return decode_byte(p, n, value); });
}

int ssproto_read_u32(ssproto_msg* m, uint32_t* value) {
  return read_field(m, [value](const uint8_t* p, int32_t n) { return decode_uint32(p, n, value); });
}

int ssproto_read_vint(ssproto_msg* m, uint32_t* value) {
  return read_field(m, [value](const uint8_t* p, int32_t n) { return decode_vint(p, n, value); });
}

int ssproto_read_code(ssproto_msg* m, char* code) {
  return read_field(m, [code](const uint8_t* p, int32_t n) { return decode_code(p, n, code, kCodeSize); });
}

int ssproto_read_date(ssproto_msg* m, ss_time* date) {
  return read_field(m, [date](const uint8_t* p, int32_t n) { return decode_date16(p, n, date); });
}

int ssproto_read_short(ssproto_msg* m, uint16_t* value) {
  return read_field(m, [value](const uint8_t* p, int32_t n) { return decode_short(p, n, value); });
}

int ssproto_read_price(ssproto_msg* m, uint32_t* price, uint32_t* ref) {
  return read_field(m, [price, ref](const uint8_t* p, int32_t n) { return decode_price(p, n, price, ref); });
}

int ssproto_read_volume(ssproto_msg* m, uint64_t* volume) {
  return read_field(m, [volume](const uint8_t* p, int32_t n) { return decode_volume(p, n, volume); });
}

int ssproto_read_broker(ssproto_msg* m, char* broker) {
  return read_field(m, [broker](const uint8_t* p, int32_t n) { return decode_broker(p, n, broker, kCodeSize); });
}

namespace {

// The exchange a header instrument is looked up in, or null after the log.
ss_exchange* lookup_exchange(ssproto_msg* m) {
  if (m->given) P.current = m->given->exchange;
  if (!P.current) log(LOG_ERROR, kSrc, "exchange is null when looking for %s", m->code);
  return P.current;
}

constexpr size_t kCacheLine = 64;

// Starts fetching every line of the stock record at once. A message touches
// fields all over the record (flags, depth heads, event list, prices,
// running reference), and with thousands of stocks the record is mostly
// cold: fetched together the misses overlap instead of stalling one after
// another as the handler reaches each field. Only a hint; nothing is read.
void warm_stock(const ss_stock* s) {
  const char* p = reinterpret_cast<const char*>(s);
  for (size_t off = 0; off < sizeof(ss_stock); off += kCacheLine) __builtin_prefetch(p + off, 1);
}

}  // namespace

ss_stock* ssproto_take_stock(ssproto_msg* m) {
  if (m->stock) return m->stock;
  ss_exchange* ex = lookup_exchange(m);
  if (!ex) return nullptr;
  ss_stock* s = m->given;
  if (!s) s = ssmodel_find_stock(ex, m->code);
  if (!s) {
    s = ssmodel_add_stock(ex, m->code);
    if (!s) {
      log(LOG_ERROR, kSrc, "can't add %s to %s", m->code, ex->name);
      return nullptr;
    }
    s->flags = kAddedStockFlags;
  } else if (!m->given && !(s->flags & (kInCurrent | kInRequestBits))) {
    // The stream names a stock for the first time since the model started or
    // was reset (a reset leaves the record, not current, with no request
    // bits). From here the stream carries its whole book, as for a stock it
    // adds: without these bits a replay after a reset would stall every side
    // that runs empty and ask for queues a fresh client never needs.
    s->flags |= kAddedStockFlags;
  }
  warm_stock(s);
  m->stock = s;
  m->stock_ref = *ssproto_price_ref(s);
  return s;
}

ss_index* ssproto_take_index(ssproto_msg* m) {
  ss_exchange* ex = lookup_exchange(m);
  if (!ex) return nullptr;
  ss_index* x = ssmodel_find_index(ex, m->code);
  if (!x) x = ssmodel_add_index(ex, m->code);
  if (!x) log(LOG_ERROR, kSrc, "can't add %s to %s", m->code, ex->name);
  return x;
}

uint32_t* ssproto_price_ref(ss_stock* stock) { return &stock->price_ref; }

growbuf* ssproto_work_buffer(int32_t nesting) {
  return nesting >= 0 && nesting < kNestingLevels ? &P.work[nesting] : nullptr;
}

growbuf* ssproto_save_buffer(void) { return &P.save; }
uint8_t* ssproto_multi_scratch(void) { return P.multi; }

ss_stock* ssproto_scratch_stock(int32_t nesting) {
  return nesting >= 0 && nesting < kNestingLevels ? P.scratch[nesting] : nullptr;
}

// ===========================================================================
// State

ss_exchange* ssproto_current_exchange(void) { return P.current; }

uint32_t ssproto_exchange_position(int32_t i) {
  return i >= 0 && i < kProtoPositions ? P.positions[i].load() : kProtoPositionNone;
}

void ssproto_set_exchange_position(int32_t i, uint32_t value) {
  if (i >= 0 && i < kProtoPositions) P.positions[i].store(value);
}

namespace {

void set_positions(uint32_t value) {
  for (int i = 0; i < kProtoPositions; i++) {
    P.positions[i].store(value);
    ssmodel_set_signature(i, 0);
  }
  P.master.store(0);
}

}  // namespace

void ssproto_reset_positions(void) { set_positions(kProtoPositionNone); }
void ssproto_zero_positions(void) { set_positions(0); }
uint32_t ssproto_master_position(void) { return P.master.load(); }
void ssproto_set_master_position(uint32_t value) { P.master.store(value); }
uint32_t ssproto_expected_bytes(void) { return P.expected.load(); }
int32_t ssproto_version(void) { return P.version; }
void ssproto_set_version(int32_t version) { P.version = version; }

void ssproto_get_counters(ssproto_counter out[kProtoCounterPairs]) {
  memcpy(out, P.counters, sizeof P.counters);
}

void ssproto_add_counter(int pair, uint32_t first, uint32_t second) {
  if (pair < 0 || pair >= kProtoCounterPairs) return;
  P.counters[pair].first += first;
  P.counters[pair].second += second;
}

void ssproto_set_replay(void) { P.replay = 1; }
void ssproto_set_live(void) { P.replay = 0; }
int ssproto_replaying(void) { return P.replay; }

void ssproto_set_test_handler(uint32_t type, ssproto_handler fn) {
  if (type < 256) P.test_handlers[type] = fn;
}
