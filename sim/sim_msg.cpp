// The market simulator's message writers: the bytes of every server message
// it sends, built from the codec's own field, block and header writers.
//
// Each writer reserves room for the longest form of its message, writes
// header and fields into it and commits only when every field encoded, so a
// refused field leaves the caller's buffer untouched. Blocks are framed with
// a deflate stream made for the call, never the codec's shared one, so the
// simulator can run beside a client in the same process.
#include "sim_msg.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "crypt.h"
#include "dechdr.h"
#include "decode.h"
#include "encblk.h"
#include "enchdr.h"
#include "encode.h"
#include "log.h"
#include "ssbroker.h"
#include "ssmodel.h"

static const char kSrc[] = "sim/sim_msg";

namespace {

constexpr uint32_t kMsgRoom = 64;  // any fixed-field message fits
constexpr uint32_t kTypeBits = 0x1F;  // types up to 31 sit in the head byte
constexpr uint32_t kMaxType = 255;

// The header of a message about no instrument: code relation "same", no
// time flag, so the head byte carries only the type, or 0 and then the type.
// (The codec's header writers keep their state on the client's exchange
// records and link the whole model; the server side needs only this form.)
int put_header(uint8_t* out, uint32_t type) {
  if (type == 0 || type > kMaxType) {
    log(LOG_ERROR, kSrc, "can't write message type %u", type);
    return -1;
  }
  if (type <= kTypeBits) return encode_byte(out, type);
  const int r = encode_byte(out, 0);
  return r < 0 ? -1 : r + encode_byte(out + r, type);
}

// One message being written: room reserved at the end of the growbuf, a
// cursor, and a failure mark that any field sets.
struct msg_writer {
  growbuf* gb;
  uint8_t* base = nullptr;
  int32_t used = 0;
  bool failed = false;

  msg_writer(growbuf* g, uint32_t type, uint32_t room = kMsgRoom) : gb(g) {
    if (reserve(type, room)) add(put_header(base, type));
  }
  // Room only: the caller writes the header.
  struct no_header {};
  msg_writer(growbuf* g, uint32_t type, no_header, uint32_t room = kMsgRoom) : gb(g) { reserve(type, room); }
  bool reserve(uint32_t type, uint32_t room) {
    base = growbuf_reserve(gb, room);
    if (!base) {
      log(LOG_ERROR, kSrc, "can't make room for message %u", type);
      failed = true;
    }
    return !failed;
  }
  void add(int r) {
    if (failed) return;
    if (r < 0) {
      failed = true;
      return;
    }
    used += r;
  }
  uint8_t* at() { return base + used; }
  void byte(uint32_t v) {
    if (!failed) add(encode_byte(at(), v));
  }
  void u32(uint32_t v) {
    if (!failed) add(encode_uint32(at(), v));
  }
  void vint(uint32_t v) {
    if (!failed) add(encode_vint(at(), v));
  }
  void code(const char* c) {
    if (!failed) add(encode_code(at(), c ? c : ""));
  }
  void date16(ss_time d) {
    if (!failed) add(encode_date16(at(), d));
  }
  void u16(uint32_t v) {
    if (!failed) add(encode_short(at(), v));
  }
  void price(uint32_t p, uint32_t* ref) {
    if (!failed) add(encode_price(at(), p, ref));
  }
  void volume(uint64_t v) {
    if (!failed) add(encode_volume(at(), v));
  }
  void broker(const char* code);
  int finish() {
    if (failed) return -1;
    return growbuf_commit(gb, uint32_t(used));
  }
};

int header_only(growbuf* gb, uint32_t type) {
  msg_writer w(gb, type);
  return w.finish();
}

// A header followed by one framed block of `data`.
int with_block(growbuf* gb, uint32_t type, const void* data, int32_t n) {
  const int32_t start = gb->len;
  if (header_only(gb, type) < 0) return -1;
  if (encblk_write(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

}  // namespace

int sim_msg_header(growbuf* gb, uint32_t type) { return header_only(gb, type); }

// Stream control and exchange messages ---------------------------------------

int sim_msg_expecting(growbuf* gb, uint32_t count) {
  msg_writer w(gb, kSimMsgExpecting);
  w.u32(count);
  return w.finish();
}

int sim_msg_user(growbuf* gb, uint8_t kind, uint32_t id, uint32_t exchange_bits) {
  msg_writer w(gb, kSimMsgUser);
  w.byte(kind);
  w.u32(id);
  w.u32(exchange_bits);
  w.u32(0);  // read and dropped by the client
  return w.finish();
}

int sim_msg_user_config(growbuf* gb, const void* data, int32_t n) {
  return with_block(gb, kSimMsgUserConfig, data, n);
}

int sim_msg_proceeding(growbuf* gb, uint32_t a, uint32_t b) {
  msg_writer w(gb, kSimMsgProceeding);
  w.u32(a);
  w.u32(b);
  return w.finish();
}

int sim_msg_select(growbuf* gb, uint32_t index) {
  switch (index) {
    case 0:
      return header_only(gb, kSimMsgSelect0);
    case 1:
      return header_only(gb, kSimMsgSelect1);
    case 3:
      return header_only(gb, kSimMsgSelect3);
    default: {
      msg_writer w(gb, kSimMsgSelect);
      w.byte(index);
      return w.finish();
    }
  }
}

int sim_msg_exchange_date(growbuf* gb, uint32_t index, ss_time date, ss_time server_time, int32_t offset,
                          int brokers) {
  msg_writer w(gb, kSimMsgExchangeDate);
  w.byte(index);
  w.u32(date);
  w.u32(server_time);
  w.vint(uint32_t(offset));  // read back as a signed 32-bit value
  w.byte(brokers ? 1 : 0);
  return w.finish();
}

int sim_msg_params(growbuf* gb, uint32_t index, const char* code, ss_time time) {
  msg_writer w(gb, kSimMsgParams);
  w.byte(index);
  w.code(code);
  w.u32(time);
  return w.finish();
}

int sim_msg_begin_day(growbuf* gb, ss_time date, uint32_t signature) {
  msg_writer w(gb, kSimMsgBeginDay);
  w.date16(date);
  w.u32(signature);
  return w.finish();
}

int sim_msg_end_day(growbuf* gb) { return header_only(gb, kSimMsgEndDay); }

int sim_msg_block(growbuf* gb, const void* records, int32_t n) { return with_block(gb, kSimMsgBlock, records, n); }

// Exchange control messages ---------------------------------------------------

int sim_msg_reset(growbuf* gb, ss_time date, ss_time server_time, int32_t offset) {
  msg_writer w(gb, kSimMsgReset);
  w.u32(date);
  w.u32(server_time);
  w.vint(uint32_t(offset));
  return w.finish();
}

int sim_msg_offset(growbuf* gb, int32_t offset) {
  msg_writer w(gb, kSimMsgOffset);
  w.vint(uint32_t(offset));
  return w.finish();
}

int sim_msg_padding(growbuf* gb, uint32_t n) {
  if (n > kSimPaddingMax) {
    log(LOG_ERROR, kSrc, "can't pad %u bytes", n);
    return -1;
  }
  msg_writer w(gb, kSimMsgPadding, kMsgRoom + n);
  w.u32(n);
  if (!w.failed) {
    memset(w.at(), 0, n);
    w.used += int32_t(n);
  }
  return w.finish();
}

int sim_msg_position(growbuf* gb, uint32_t index, uint32_t signature, uint32_t position) {
  msg_writer w(gb, kSimMsgPosition);
  w.byte(index);
  w.u32(signature);
  w.u32(position);
  return w.finish();
}

int sim_msg_stall(growbuf* gb) { return header_only(gb, kSimMsgStall); }

int sim_msg_exchange_state(growbuf* gb, uint8_t state) {
  msg_writer w(gb, kSimMsgExchangeState);
  w.byte(state);
  return w.finish();
}

// Control messages ------------------------------------------------------------

int sim_msg_password_reply(growbuf* gb, uint8_t result) {
  msg_writer w(gb, kSimMsgPasswordReply);
  w.byte(result);
  return w.finish();
}

int sim_msg_side_channel(growbuf* gb, uint32_t subsystem, uint32_t flag, const void* data, int32_t n) {
  if (n < 0 || n > kSimSideChannelMax) {
    log(LOG_ERROR, kSrc, "can't send %db side-channel block", n);
    return -1;
  }
  msg_writer w(gb, kSimMsgSideChannel, kMsgRoom + uint32_t(n));
  w.vint(subsystem);
  w.vint(flag);
  if (!w.failed) w.add(encode_vbytes(w.at(), data, uint32_t(n)));
  return w.finish();
}

int sim_msg_ack(growbuf* gb) { return header_only(gb, kSimMsgAck); }
int sim_msg_dropped(growbuf* gb) { return header_only(gb, kSimMsgDropped); }
int sim_msg_noop(growbuf* gb) { return header_only(gb, kSimMsgNoop); }
int sim_msg_signed_off(growbuf* gb) { return header_only(gb, kSimMsgSignedOff); }

int sim_msg_debug(growbuf* gb, uint32_t number) {
  msg_writer w(gb, kSimMsgDebug);
  w.vint(number);
  return w.finish();
}

int sim_msg_error(growbuf* gb, uint32_t code, uint32_t sub, uint8_t exchange, const char* instrument,
                  ss_time date) {
  msg_writer w(gb, kSimMsgError);
  w.vint(code);
  w.vint(sub);
  w.byte(exchange);
  w.code(instrument);
  w.date16(date);
  return w.finish();
}

// Stock depth, quote and trade messages ------------------------------------------

namespace {

constexpr uint32_t kTickSmallBelow = 20000;
constexpr uint32_t kTickMediumBelow = 200000;
constexpr uint32_t kTickSmall = 50;
constexpr uint32_t kTickMedium = 100;
constexpr uint32_t kTickLarge = 1000;
constexpr uint32_t kBidTwinLast = 13;       // bid types 1-13 have their twin 13 on
constexpr uint32_t kWideDepthFirst = 32;    // bid types 32, 34, 36, 38: twin one on
constexpr uint32_t kWideDepthLast = 39;
constexpr uint32_t kMaxSpeeds = 65536;
constexpr int kBrokerPackedBits = 5;
constexpr uint32_t kBrokerPackedHead = 8;   // 1nnn above the packed characters
constexpr uint32_t kBrokerPackedIndexEnd = 32;  // indices 1-31 pack: "A"-"Z", space, "0"-"3"

// Alphabet index of a character of an instrument code; 0 when it has none.
uint32_t alphabet_index(char c) {
  for (uint32_t i = 1; i < 64; i++)
    if (kCodecAlphabet[i] == c) return i;
  return 0;
}

// A broker as the client reads it: the one-byte id of a built-in broker, or
// the packed form. The codec's own writer asks the broker table, which the
// client's io thread changes as it learns codes; built-in ids are fixed, so
// the server side needs only them.
int put_broker(uint8_t* out, const char* code) {
  for (int32_t id = 0; id < kBrokerBuiltins; id++)
    if (strcmp(ssbroker_code(id), code) == 0) return encode_byte(out, uint32_t(id));
  const size_t len = strlen(code);
  if (len > size_t(kCodecBrokerPackedChars)) {
    log(LOG_ERROR, kSrc, "can't pack broker %s: longer than %d", code, kCodecBrokerPackedChars);
    return -1;
  }
  const int n = int(len);
  uint64_t w = kBrokerPackedHead | uint64_t(n);
  for (int i = 0; i < n; i++) {
    const uint32_t ix = alphabet_index(code[i]);
    if (ix == 0 || ix >= kBrokerPackedIndexEnd) {
      log(LOG_ERROR, kSrc, "can't pack broker %s: '%c'", code, code[i]);
      return -1;
    }
    w = w << kBrokerPackedBits | ix;
  }
  const int used = (kBrokerPackedBits * n + 11) / 8;
  w <<= used * 8 - 4 - kBrokerPackedBits * n;  // zero bits up to a whole byte
  for (int i = 0; i < used; i++) out[i] = uint8_t(w >> (8 * (used - 1 - i)));
  return used;
}

}  // namespace

void msg_writer::broker(const char* code) {
  if (!failed) add(put_broker(at(), code ? code : ""));
}

struct sim_hdr {
  // Only the header fields of the record are used: current code, current
  // time, highest time and the stock speed table.
  std::unique_ptr<ss_exchange> ex = std::make_unique<ss_exchange>();
  std::vector<std::unique_ptr<ss_stock>> named;  // the records the speed table points at
  std::unordered_map<std::string, int32_t> speeds;
  bool use_speeds = false;
  // A saved stream of one stock: its headers step from this record's
  // stream time instead of naming the stock.
  std::unique_ptr<ss_stock> stream_stock;
};

namespace {

struct hdr_saved {
  char code[kCodeSize];
  ss_time cur;
  ss_time high;
  ss_time stream;
};

hdr_saved hdr_save(const sim_hdr* h) {
  hdr_saved s;
  memcpy(s.code, h->ex->cur_code, kCodeSize);
  s.cur = h->ex->cur_time;
  s.high = h->ex->high_time;
  s.stream = h->stream_stock ? h->stream_stock->stream_time : 0;
  return s;
}

void hdr_restore(sim_hdr* h, const hdr_saved& s) {
  memcpy(h->ex->cur_code, s.code, kCodeSize);
  h->ex->cur_time = s.cur;
  h->ex->high_time = s.high;
  if (h->stream_stock) h->stream_stock->stream_time = s.stream;
}

int32_t speed_of(const sim_hdr* h, const char* code) {
  if (!h->use_speeds) return -1;
  auto it = h->speeds.find(code);
  return it == h->speeds.end() ? -1 : it->second;
}

// The client numbers a stock at its first message that succeeds; so does
// the server, after the message is written.
void note_speed(sim_hdr* h, const char* code) {
  if (!h->use_speeds || h->speeds.count(code) || h->ex->speed_count >= kMaxSpeeds) return;
  auto s = std::make_unique<ss_stock>();
  strncpy(s->code, code, kCodeMax);
  s->speed = int32_t(h->ex->speed_count);
  h->ex->speeds[h->ex->speed_count++] = s.get();
  h->speeds[code] = s->speed;
  h->named.push_back(std::move(s));
}

// A stock message: the timed header, then the fields `body` writes. On any
// refusal the buffer, the header state and the price reference are as they
// were.
template <class Body>
int stock_msg(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t* ref, Body body,
              uint32_t room = kMsgRoom) {
  if (!h || !code || !code[0]) {
    log(LOG_ERROR, kSrc, "message %u: no stock", type);
    return -1;
  }
  const hdr_saved saved = hdr_save(h);
  const uint32_t saved_ref = ref ? *ref : 0;
  msg_writer w(gb, type, msg_writer::no_header{}, room);
  if (!w.failed) {
    if (h->stream_stock)
      w.add(enchdr_encode_stock_header(w.at(), h->stream_stock.get(), type, time));
    else
      w.add(enchdr_encode_timed(w.at(), h->ex.get(), type, time, code, speed_of(h, code)));
  }
  body(w);
  if (w.finish() < 0) {
    hdr_restore(h, saved);
    if (ref) *ref = saved_ref;
    return -1;
  }
  note_speed(h, code);
  return 0;
}

}  // namespace

int sim_depth_side(uint32_t type) {
  if (type >= 1 && type <= kBidTwinLast) return 0;
  if (type > kBidTwinLast && type <= 2 * kBidTwinLast) return 1;
  if (type >= kWideDepthFirst && type <= kWideDepthLast) return type % 2 ? 1 : 0;
  return -1;
}

uint32_t sim_depth_twin(uint32_t bid_type) {
  if (bid_type >= 1 && bid_type <= kBidTwinLast) return bid_type + kSimOfferTwin;
  if (bid_type >= kWideDepthFirst && bid_type < kWideDepthLast && bid_type % 2 == 0) return bid_type + 1;
  return 0;
}

uint32_t sim_tick(uint32_t price) {
  return price < kTickSmallBelow ? kTickSmall : price < kTickMediumBelow ? kTickMedium : kTickLarge;
}

sim_hdr* sim_hdr_create(bool speeds) {
  sim_hdr* h = new sim_hdr;
  h->use_speeds = speeds;
  return h;
}

void sim_hdr_set_stock_stream(sim_hdr* h) {
  h->stream_stock = std::make_unique<ss_stock>();
  h->use_speeds = false;
}

void sim_hdr_destroy(sim_hdr* h) { delete h; }

void sim_hdr_restart(sim_hdr* h) {
  h->ex->cur_code[0] = '\0';
  h->ex->cur_time = 0;
}

int sim_msg_depth(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const sim_depth& d,
                  uint32_t* ref, bool brokers) {
  const int side = sim_depth_side(type);
  if (side < 0) {
    log(LOG_ERROR, kSrc, "%u is no depth type", type);
    return -1;
  }
  // The bid form of the type says which fields follow.
  const uint32_t bid = side == 0 ? type : type <= 2 * kBidTwinLast ? type - kSimOfferTwin : type - 1;
  if (bid == kSimDepthHead && !ref) {
    log(LOG_ERROR, kSrc, "depth head of %s: no price reference", code ? code : "");
    return -1;
  }
  return stock_msg(gb, h, type, time, code, ref, [&](msg_writer& w) {
    uint32_t top = d.top;
    switch (bid) {
      case kSimDepthHead:
        w.price(d.price, ref);
        w.volume(d.volume);
        break;
      case kSimDepthHeadBetter:
      case kSimDepthHeadTop:
      case kSimDepthHeadBetter2:
      case kSimDepthAmendHead:
      case kSimDepthTopUpVol:
      case kSimDepthTopDownVol:
        w.volume(d.volume);
        break;
      case kSimDepthDelete:
        w.byte(d.position);
        break;
      case kSimDepthDeleteShort:
        w.u16(d.position);
        break;
      case kSimDepthAmend:
        w.byte(d.position);
        w.volume(d.volume);
        break;
      case kSimDepthAmendShort:
        w.u16(d.position);
        w.volume(d.volume);
        break;
      case kSimDepthTopPrice:
        w.price(d.price, &top);  // against a copy: the stock's reference stays
        break;
      case kSimDepthTopPriceVol:
        w.price(d.price, &top);
        w.volume(d.volume);
        break;
      default:  // 5, 6, 10, 12: nothing before the broker
        break;
    }
    const bool has_broker = bid == kSimDepthHead || bid == kSimDepthHeadBetter || bid == kSimDepthHeadTop ||
                            bid == kSimDepthHeadBetter2 || (bid >= kSimDepthTopPrice && bid <= kSimDepthTopDownVol);
    if (has_broker && brokers) w.broker(d.broker);
  });
}

int sim_msg_quote(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t flags, const uint32_t prices[5],
                  uint32_t* ref) {
  if (!ref && flags) {
    log(LOG_ERROR, kSrc, "quote of %s: no price reference", code ? code : "");
    return -1;
  }
  return stock_msg(gb, h, kSimMsgQuote, time, code, ref, [&](msg_writer& w) {
    w.byte(flags);
    for (int i = 0; i < 5; i++)
      if (flags & (1u << i)) w.price(prices[i], ref);
  });
}

int sim_msg_trade(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                  uint64_t volume, const char* buyer, const char* seller, uint32_t* ref, bool brokers) {
  if (type != kSimMsgTrade && type != kSimMsgTradeAtLast) {
    log(LOG_ERROR, kSrc, "%u is no trade type", type);
    return -1;
  }
  if (type == kSimMsgTrade && !ref) {
    log(LOG_ERROR, kSrc, "trade of %s: no price reference", code ? code : "");
    return -1;
  }
  return stock_msg(gb, h, type, time, code, ref, [&](msg_writer& w) {
    if (type == kSimMsgTrade) w.price(price, ref);
    w.volume(volume);
    if (brokers) {
      w.broker(buyer);
      w.broker(seller);
    }
  });
}

// ---------------------------------------------------------------------------
// Depth queue and trade-list messages

int sim_put_broker(uint8_t* out, const char* code) { return put_broker(out, code ? code : ""); }

int sim_msg_queue(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const void* list,
                  int32_t n) {
  if ((type != kSimMsgQueueBid && type != kSimMsgQueueBid + 1) || n < 0 || n > kSimShortListMax) {
    log(LOG_ERROR, kSrc, "queue message %u of %d bytes", type, n);
    return -1;
  }
  if (stock_msg(gb, h, type, time, code, nullptr, [&](msg_writer& w) { w.u16(uint32_t(n)); }) < 0) return -1;
  return growbuf_append(gb, list, uint32_t(n)) < 0 ? -1 : 0;
}

int sim_msg_queue_block(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, const void* list,
                        int32_t n) {
  if ((type != kSimMsgQueueBid + 2 && type != kSimMsgQueueBid + 3) || n < 0) {
    log(LOG_ERROR, kSrc, "queue block message %u of %d bytes", type, n);
    return -1;
  }
  const int32_t start = gb->len;
  if (stock_msg(gb, h, type, time, code, nullptr, [](msg_writer&) {}) < 0) return -1;
  if (encblk_write(gb, list, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

int sim_msg_out_of_order(growbuf* gb, sim_hdr* h, ss_time time, const char* code) {
  return stock_msg(gb, h, 68, time, code, nullptr, [](msg_writer&) {});
}

namespace {

// An answer: the type, exchange index, code, a length of `width` bytes and
// the list.
int answer_msg(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* list, int32_t n, int width) {
  const int32_t limit = width == 2 ? kSimShortListMax : kSimLongListMax;
  if (n < 0 || n > limit) {
    log(LOG_ERROR, kSrc, "answer %u of %d bytes", type, n);
    return -1;
  }
  msg_writer w(gb, type);
  w.byte(index);
  w.code(code);
  if (width == 2) {
    w.u16(uint32_t(n));
  } else {
    w.byte(uint32_t(n) >> 16);
    w.u16(uint32_t(n) & 0xFFFF);
  }
  if (w.finish() < 0) return -1;
  return growbuf_append(gb, list, uint32_t(n)) < 0 ? -1 : 0;
}

}  // namespace

int sim_msg_depth_answer(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* list, int32_t n) {
  if (type < kSimMsgPartialBids || type > kSimMsgFullBids + 1) return -1;
  return answer_msg(gb, type, index, code, list, n, 2);
}

int sim_msg_trade_list(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* list, int32_t n) {
  if (type != kSimMsgAllTrades && type != kSimMsgRecentTrades) return -1;
  return answer_msg(gb, type, index, code, list, n, 3);
}

// ---------------------------------------------------------------------------
// Index tick and trade variant messages

int sim_msg_index(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t value,
                  const int32_t* changes) {
  int n;
  switch (type) {
    case kSimMsgIndexChange: n = 1; break;
    case kSimMsgIndexLast: n = 1; break;
    case kSimMsgIndexRange: n = 3; break;
    case kSimMsgIndexAll: n = 4; break;
    case kSimMsgIndexValue: n = 0; break;
    default:
      log(LOG_ERROR, kSrc, "%u is no index type", type);
      return -1;
  }
  return stock_msg(gb, h, type, time, code, nullptr, [&](msg_writer& w) {
    if (type != kSimMsgIndexChange && !w.failed) w.add(encode_index(w.at(), value));
    for (int i = 0; i < n; i++)
      if (!w.failed) w.add(encode_index_change(w.at(), changes[i]));
  });
}

int sim_msg_trade_variant(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code,
                          const sim_trade_fields& f, uint32_t* ref, bool brokers) {
  if ((type != kSimMsgCrossing && type != kSimMsgTradeExtended) || !ref) {
    log(LOG_ERROR, kSrc, "trade variant %u", type);
    return -1;
  }
  return stock_msg(gb, h, type, time, code, ref, [&](msg_writer& w) {
    w.price(f.price, ref);
    w.volume(f.volume);
    if (type == kSimMsgTradeExtended) {
      w.byte(f.flags);
      if ((f.flags & 0x08) && !w.failed) w.add(encode_vlong(w.at(), f.conditions));
      if ((f.flags & 0x10) && !w.failed) w.add(encode_vlong(w.at(), f.second));
      if (f.flags & 0x20) w.date16(f.date);
    }
    if (brokers) {
      w.broker(f.buyer);
      w.broker(f.seller);
    }
  });
}

int sim_msg_trade_amend(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t number, uint32_t price,
                        uint64_t volume, uint32_t first, const uint32_t* prices, const uint64_t* values) {
  return stock_msg(gb, h, kSimMsgTradeAmend, time, code, nullptr, [&](msg_writer& w) {
    uint32_t ref = first;  // a copy: the reader tells these against its own copy
    w.u16(number);
    w.price(price, &ref);
    w.volume(volume);
    if (!prices || !values) return;
    for (int i = 0; i < 4; i++) w.price(prices[i], &ref);
    for (int i = 0; i < 4; i++)
      if (!w.failed) w.add(encode_vlong(w.at(), values[i]));
  });
}

// Auction, multi-trade and depth-clear messages

int sim_msg_auction(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t price, uint64_t volume,
                    uint32_t* ref) {
  return stock_msg(gb, h, kSimMsgAuction, time, code, ref, [&](msg_writer& w) {
    w.price(price, ref);
    w.volume(volume);
  });
}

int sim_msg_open_balance(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint32_t balance) {
  return stock_msg(gb, h, kSimMsgOpenBalance, time, code, nullptr, [&](msg_writer& w) { w.vint(balance); });
}

int sim_msg_auction_block(growbuf* gb, sim_hdr* h, ss_time time, const char* code, const sim_auction& a,
                          uint32_t* ref) {
  return stock_msg(gb, h, kSimMsgAuctionBlock, time, code, ref, [&](msg_writer& w) {
    w.price(a.price, ref);
    w.volume(a.matched);
    if (!w.failed) w.add(encode_vlong_signed(w.at(), a.surplus));
    w.price(a.bid_price, ref);
    w.volume(a.bid_volume);
    w.price(a.offer_price, ref);
    w.volume(a.offer_volume);
  });
}

int sim_msg_auction_clear(growbuf* gb, sim_hdr* h, ss_time time, const char* code) {
  return stock_msg(gb, h, kSimMsgAuctionClear, time, code, nullptr, [](msg_writer&) {});
}

int sim_msg_multi_trade(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                        const std::vector<uint64_t>& volumes, uint32_t* ref) {
  if ((type != kSimMsgMultiTrade && type != kSimMsgMultiAtLast) || volumes.size() > 255 ||
      (type == kSimMsgMultiTrade && !ref)) {
    log(LOG_ERROR, kSrc, "can't write multi-trade %u of %zu", type, volumes.size());
    return -1;
  }
  const uint32_t room = kMsgRoom + 9 * uint32_t(volumes.size());
  return stock_msg(
      gb, h, type, time, code, ref,
      [&](msg_writer& w) {
        if (type == kSimMsgMultiTrade) w.price(price, ref);
        w.byte(uint32_t(volumes.size()));
        for (uint64_t v : volumes) w.volume(v);
      },
      room);
}

int sim_msg_clear_depth(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code) {
  if (type < kSimMsgClearBid || type > kSimMsgClearBoth) {
    log(LOG_ERROR, kSrc, "%u is no stock clear", type);
    return -1;
  }
  return stock_msg(gb, h, type, time, code, nullptr, [](msg_writer&) {});
}

int sim_msg_clear_exchange(growbuf* gb) { return header_only(gb, kSimMsgClearExchange); }

// ---------------------------------------------------------------------------
// Program updates and large transfers

namespace {

int text_msg(growbuf* gb, uint32_t type, const std::string& text, int32_t max) {
  if (int32_t(text.size()) > max) {
    log(LOG_ERROR, kSrc, "message %u: text of %zu bytes", type, text.size());
    return -1;
  }
  msg_writer w(gb, type);
  if (!w.failed) w.add(encode_string(w.at(), text.c_str()));
  return w.finish();
}

}  // namespace

int sim_msg_update_begin(growbuf* gb, const std::string& version) {
  return text_msg(gb, kSimMsgUpdateBegin, version, kSimUpdateVersionMax);
}

int sim_msg_update_store(growbuf* gb, const std::string& name, uint32_t id) {
  if (int32_t(name.size()) > kSimUpdateNameMax) {
    log(LOG_ERROR, kSrc, "update file name of %zu bytes", name.size());
    return -1;
  }
  msg_writer w(gb, kSimMsgUpdateStore);
  if (!w.failed) w.add(encode_string(w.at(), name.c_str()));
  w.vint(id);
  return w.finish();
}

int sim_msg_update_write(growbuf* gb) { return text_msg(gb, kSimMsgUpdateWrite, "", kSimUpdateVersionMax); }

int sim_msg_bigdata_open(growbuf* gb, uint32_t id, uint32_t total) {
  msg_writer w(gb, kSimMsgBigdataOpen);
  w.vint(id);
  w.vint(total);
  return w.finish();
}

int sim_msg_bigdata_piece(growbuf* gb, uint32_t id, const void* data, int32_t n) {
  const int32_t start = gb->len;
  msg_writer w(gb, kSimMsgBigdataPiece);
  w.vint(id);
  if (w.finish() < 0 || encblk_write(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

int sim_msg_program_update(growbuf* gb, const std::string& version, const std::vector<sim_program_file>& files,
                           int32_t piece) {
  const int32_t start = gb->len;
  auto fail = [&]() {
    growbuf_truncate(gb, start);
    return -1;
  };
  if (piece < 1 || sim_msg_update_begin(gb, version) < 0) return fail();
  uint32_t id = 1;
  for (const sim_program_file& f : files) {
    if (sim_msg_bigdata_open(gb, id, uint32_t(f.data.size())) < 0) return fail();
    for (size_t at = 0; at < f.data.size(); at += size_t(piece)) {
      const int32_t n = int32_t(std::min(f.data.size() - at, size_t(piece)));
      if (sim_msg_bigdata_piece(gb, id, f.data.data() + at, n) < 0) return fail();
    }
    if (sim_msg_update_store(gb, f.name, id) < 0) return fail();
    id++;
  }
  return sim_msg_update_write(gb) < 0 ? fail() : 0;
}

// ---------------------------------------------------------------------------
// Volume comparison

int sim_msg_vcmp(growbuf* gb, uint32_t index, ss_time date, uint32_t quarter, bool init, const void* data,
                 int32_t n) {
  const int32_t start = gb->len;
  msg_writer w(gb, kSimMsgVcmp);
  w.byte(index);
  w.byte(1);  // format version
  w.date16(date);
  w.u16(quarter);
  w.byte(init ? 1 : 0);
  if (w.finish() < 0 || encblk_write(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

int sim_msg_backfill_day(growbuf* gb, uint32_t index, const char* code, ss_time date, uint32_t version,
                         const void* stream, int32_t n) {
  msg_writer w(gb, kSimMsgBackfillDay);
  w.byte(index);
  w.code(code);
  w.date16(date);
  w.vint(version);
  if (w.finish() < 0) return -1;
  return encblk_write(gb, stream, n) < 0 ? -1 : 0;
}

// ---------------------------------------------------------------------------
// Further stream, exchange-control, backfill, update and notice messages

namespace {

constexpr int32_t kFirmListMax = 0xFFFFFF;  // a 24-bit list length

// A header followed by the fields `fields` writes, then one framed block of
// `data`: all or nothing.
template <class Fields>
int fields_and_block(growbuf* gb, uint32_t type, Fields fields, const void* data, int32_t n) {
  const int32_t start = gb->len;
  msg_writer w(gb, type);
  fields(w);
  if (w.finish() < 0 || encblk_write(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

// A framed block of `data`, enciphered with the codec's block key: a vint
// length (a multiple of 16) and the ciphertext, the frame zero-padded.
int put_encrypted(growbuf* gb, const void* data, int32_t n) {
  growbuf stage = {};
  if (growbuf_init(&stage, 256, 4096) < 0) return -1;
  int r = encblk_write(&stage, data, n);
  const int32_t padded = r < 0 ? -1 : crypt_padded_len(stage.len);
  uint8_t* o = padded < 0 ? nullptr : growbuf_reserve(gb, uint32_t(padded) + 8);
  r = -1;
  if (o) {
    const int head = encode_vint(o, uint32_t(padded));
    if (head > 0 && crypt_encrypt(o + head, stage.data, uint32_t(stage.len), encblk_key()) == padded)
      r = growbuf_commit(gb, uint32_t(head + padded));
  }
  growbuf_free(&stage);
  if (r < 0) log(LOG_ERROR, kSrc, "can't encipher a block of %d bytes", n);
  return r < 0 ? -1 : 0;
}

bool text_fits(const std::string& s, int32_t max, const char* what) {
  if (int32_t(s.size()) <= max) return true;
  log(LOG_ERROR, kSrc, "%s of %zu bytes", what, s.size());
  return false;
}

// One order-info record's fields after its side (the part both blocks share).
bool put_order_info(std::vector<uint8_t>* out, const sim_order_info& r) {
  if (!text_fits(r.first, kSimPriorityTextMax, "order text") || !text_fits(r.second, kSimPriorityTextMax, "order text"))
    return false;
  uint8_t b[64];
  int n = encode_vint(b, r.position);
  n += encode_raw(b + n, r.id, 8);
  n += encode_vint(b + n, r.number);
  out->insert(out->end(), b, b + n);
  for (const std::string* t : {&r.first, &r.second}) {
    n = encode_string(b, t->c_str());
    if (n < 0) return false;
    out->insert(out->end(), b, b + n);
  }
  return true;
}

}  // namespace

int sim_msg_run(growbuf* gb, sim_hdr* h, ss_time time, const std::vector<sim_run_item>& items) {
  if (!h) return -1;
  const hdr_saved saved = hdr_save(h);
  const int32_t start = gb->len;
  growbuf records = {};
  if (growbuf_init(&records, 256, 1024) < 0) return -1;
  int r = 0;
  // The run's header first: it sets the time the stepped headers inside use.
  uint8_t* head = growbuf_reserve(gb, kHeaderRoom);
  int used = head ? enchdr_encode_timed(head, h->ex.get(), kSimMsgRun, time, "", -1) : -1;
  if (used < 0 || growbuf_commit(gb, uint32_t(used)) < 0) r = -1;
  for (const sim_run_item& it : items) {
    if (r < 0) break;
    uint8_t* p = growbuf_reserve(&records, kHeaderRoom + uint32_t(it.fields.size()));
    int n = p ? enchdr_encode_stepped(p, h->ex.get(), it.type, it.code.c_str(), -1) : -1;
    if (n < 0) {
      r = -1;
      break;
    }
    if (!it.fields.empty()) memcpy(p + n, it.fields.data(), it.fields.size());
    r = growbuf_commit(&records, uint32_t(n) + uint32_t(it.fields.size()));
  }
  if (r >= 0) r = encblk_write(gb, records.data, records.len);
  growbuf_free(&records);
  if (r < 0) {
    log(LOG_ERROR, kSrc, "can't write a run of %zu messages", items.size());
    growbuf_truncate(gb, start);
    hdr_restore(h, saved);
    return -1;
  }
  return 0;
}

int sim_msg_sync(growbuf* gb, uint8_t value) {
  msg_writer w(gb, kSimMsgSync);
  w.byte(value);
  return w.finish();
}

int sim_msg_server_position(growbuf* gb, uint8_t kind, uint8_t index, uint32_t position, uint32_t second) {
  msg_writer w(gb, kSimMsgServerPosition);
  w.byte(kind);
  w.byte(index);
  if (kind == 0 || kind == 1 || kind == 7 || kind == 8) w.u32(position);
  if (kind == 8) w.u32(second);
  return w.finish();
}

int sim_msg_skip_word(growbuf* gb, uint32_t word) {
  msg_writer w(gb, kSimMsgSkipWord);
  w.u32(word);
  return w.finish();
}

int sim_msg_set_position(growbuf* gb, uint32_t a, uint32_t b, uint32_t c) {
  msg_writer w(gb, kSimMsgSetPosition);
  w.u32(a);
  w.u32(b);
  w.u32(c);
  return w.finish();
}

int sim_msg_exchange_state_all(growbuf* gb, uint8_t state) {
  msg_writer w(gb, kSimMsgExchangeStateAll);
  w.byte(state);
  return w.finish();
}

int sim_msg_stock_state(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t state) {
  return stock_msg(gb, h, kSimMsgStockState, time, code, nullptr, [&](msg_writer& w) { w.byte(state); });
}

int sim_msg_resume(growbuf* gb, sim_hdr* h, ss_time time, const char* code, ss_time resume) {
  return stock_msg(gb, h, kSimMsgResume, time, code, nullptr, [&](msg_writer& w) { w.u32(resume); });
}

int sim_msg_quote_basis(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint64_t basis) {
  return stock_msg(gb, h, kSimMsgQuoteBasis, time, code, nullptr, [&](msg_writer& w) {
    if (!w.failed) w.add(encode_vlong(w.at(), basis));
  });
}

int sim_msg_state_list(growbuf* gb, uint8_t state, const void* list, int32_t n) {
  return fields_and_block(gb, kSimMsgStateList, [&](msg_writer& w) { w.byte(state); }, list, n);
}

int sim_msg_quote_ex(growbuf* gb, sim_hdr* h, ss_time time, const char* code, uint8_t flags, const uint32_t prices[5],
                     uint64_t volume, uint64_t value, uint32_t* ref) {
  if (!ref || ((flags & 0x1F) && !prices)) return -1;
  return stock_msg(gb, h, kSimMsgQuoteEx, time, code, ref, [&](msg_writer& w) {
    w.byte(flags);
    for (int i = 0; i < 5; i++)
      if (flags & (1u << i)) w.price(prices[i], ref);
    if ((flags & 0x20) && !w.failed) w.add(encode_vlong(w.at(), volume));
    if ((flags & 0x40) && !w.failed) w.add(encode_vlong(w.at(), value));
  });
}

int sim_msg_depth_change(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t price,
                         uint64_t volume, uint32_t count, const char* broker, uint32_t* ref, bool brokers) {
  if ((type != 200 && type != 201 && type != 205 && type != 206) || !ref) {
    log(LOG_ERROR, kSrc, "%u is no depth change type", type);
    return -1;
  }
  return stock_msg(gb, h, type, time, code, ref, [&](msg_writer& w) {
    w.price(price, ref);
    w.volume(volume);
    w.vint(count);
    if (brokers) w.broker(broker);
  });
}

int sim_msg_delete_top(growbuf* gb, sim_hdr* h, uint32_t type, ss_time time, const char* code, uint32_t bids,
                       uint32_t offers) {
  if (type < 202 || type > 204) {
    log(LOG_ERROR, kSrc, "%u is no delete-top type", type);
    return -1;
  }
  return stock_msg(gb, h, type, time, code, nullptr, [&](msg_writer& w) {
    if (type != 204) w.vint(bids);
    if (type != 203) w.vint(offers);
  });
}

int sim_msg_backfill_today(growbuf* gb, uint32_t type, uint32_t index, const char* code, const void* data, int32_t n) {
  if (type != kSimMsgBackfillStock && type != kSimMsgBackfillIndex) return -1;
  return fields_and_block(
      gb, type,
      [&](msg_writer& w) {
        w.byte(index);
        w.code(code);
      },
      data, n);
}

int sim_priority_payload(const std::vector<sim_order_info>& records, std::vector<uint8_t>* out) {
  std::vector<uint8_t> b;
  for (const sim_order_info& r : records) {
    uint8_t head[32];
    int n = encode_byte(head, r.type);
    const int c = encode_code(head + n, r.code.c_str());
    if (c < 0) return -1;
    n += c;
    n += encode_byte(head + n, r.side);
    b.insert(b.end(), head, head + n);
    if (!put_order_info(&b, r)) return -1;
  }
  out->insert(out->end(), b.begin(), b.end());
  return 0;
}

int sim_firm_payload(const std::vector<sim_order_info>& bids, const std::vector<sim_order_info>& offers,
                     std::vector<uint8_t>* out) {
  std::vector<uint8_t> side[2];
  for (int s = 0; s < 2; s++)
    for (const sim_order_info& r : s == 0 ? bids : offers)
      if (!put_order_info(&side[s], r)) return -1;
  if (int32_t(side[0].size()) > kFirmListMax || int32_t(side[1].size()) > kFirmListMax) return -1;
  for (const std::vector<uint8_t>& s : side) {
    const uint32_t len = uint32_t(s.size());
    out->push_back(uint8_t(len >> 16));
    out->push_back(uint8_t(len >> 8));
    out->push_back(uint8_t(len));
  }
  for (const std::vector<uint8_t>& s : side) out->insert(out->end(), s.begin(), s.end());
  return 0;
}

int sim_msg_priority(growbuf* gb, uint32_t index, const void* data, int32_t n) {
  const int32_t start = gb->len;
  msg_writer w(gb, kSimMsgPriority);
  w.byte(index);
  if (w.finish() < 0 || put_encrypted(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

int sim_msg_firm_orders(growbuf* gb, uint32_t index, const char* code, const void* data, int32_t n) {
  const int32_t start = gb->len;
  msg_writer w(gb, kSimMsgFirmOrders);
  w.byte(index);
  w.code(code);
  if (w.finish() < 0 || put_encrypted(gb, data, n) < 0) {
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}

int sim_msg_update_test(growbuf* gb, const std::string& name, const void* data, int32_t n) {
  if (!text_fits(name, kSimUpdateTestNameMax, "test name")) return -1;
  return fields_and_block(
      gb, kSimMsgUpdateTest, [&](msg_writer& w) {
        if (!w.failed) w.add(encode_string(w.at(), name.c_str()));
      },
      data, n);
}

int sim_msg_update_test_delta(growbuf* gb, const std::string& name, const void* data, int32_t n) {
  if (!text_fits(name, kSimUpdateTestNameMax, "test name") || n < 0) return -1;
  msg_writer w(gb, kSimMsgUpdateTestDelta, kMsgRoom + uint32_t(n));
  if (!w.failed) w.add(encode_string(w.at(), name.c_str()));
  w.vint(uint32_t(n));
  if (!w.failed) w.add(encode_raw(w.at(), data, n));
  return w.finish();
}

int sim_msg_notice(growbuf* gb, const sim_notice& n) {
  if (!text_fits(n.text, kSimNoticeTextMax, "notice")) return -1;
  msg_writer w(gb, kSimMsgNotice, kMsgRoom + uint32_t(n.text.size()));
  w.vint(n.a);
  w.vint(n.b);
  w.byte(n.c);
  w.code(n.code.c_str());
  if (!w.failed) w.add(encode_string(w.at(), n.text.c_str()));
  return w.finish();
}

int sim_msg_notice_list(growbuf* gb, uint32_t index, uint32_t position, const std::vector<sim_notice>& items) {
  std::vector<uint8_t> list;
  for (const sim_notice& it : items) {
    if (!text_fits(it.text, kSimNoticeTextMax, "notice")) return -1;
    uint8_t b[kSimNoticeTextMax + 32];
    int n = encode_vint(b, it.a);
    int c = encode_code(b + n, it.code.c_str());
    int t = c < 0 ? -1 : encode_string(b + n + c, it.text.c_str());
    if (t < 0) return -1;
    list.insert(list.end(), b, b + n + c + t);
  }
  return fields_and_block(
      gb, kSimMsgNoticeList,
      [&](msg_writer& w) {
        w.byte(index);
        w.vint(position);
      },
      list.data(), int32_t(list.size()));
}

namespace {

void put_global_index(msg_writer& w, const sim_global_index& x) {
  w.code(x.code.c_str());
  if (!w.failed) w.add(encode_index(w.at(), x.previous));
  for (uint32_t v : {x.first, x.high, x.low, x.last})
    if (!w.failed) w.add(encode_index_change(w.at(), int32_t(int64_t(v) - int64_t(x.previous))));
  w.u32(x.time);
}

constexpr uint32_t kGlobalIndexRoom = 40;

}  // namespace

int sim_msg_global_values(growbuf* gb, const std::vector<sim_global_index>& indices) {
  msg_writer w(gb, kSimMsgGlobalValues, kMsgRoom + kGlobalIndexRoom * uint32_t(indices.size()));
  w.vint(uint32_t(indices.size()));
  for (const sim_global_index& x : indices) put_global_index(w, x);
  return w.finish();
}

int sim_msg_global_index(growbuf* gb, const sim_global_index& x) {
  msg_writer w(gb, kSimMsgGlobalIndex);
  put_global_index(w, x);
  return w.finish();
}
