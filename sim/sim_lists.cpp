// Lists of one stock from the simulator's books, and the answers to the
// requests that ask for them. The depth list mirrors the client's reader:
// a count (one byte below 128, else two), the level's price against the
// running reference, each order's volume and broker; trades go through the
// engine's trade group writer with the simulator's own broker writer.
#include "sim_lists.h"

#include <algorithm>
#include <vector>

#include "encode.h"
#include "enctrades.h"
#include "log.h"
#include "sim_msg.h"

static const char kSrc[] = "sim/sim_lists";

namespace {

constexpr uint32_t kCountMax = 32767;
constexpr uint32_t kOneByteBelow = 128;
constexpr uint8_t kPlainTradeFlags = 142;  // sets the last price, high-low, volume, second volume
constexpr uint32_t kListRoom = 32;         // one order or field at most

int put_count(uint8_t* p, uint32_t c) {
  if (c < kOneByteBelow) {
    p[0] = uint8_t(c);
    return 1;
  }
  p[0] = uint8_t(0x80 | (c & 0x7F));
  p[1] = uint8_t(c >> 7);
  return 2;
}

// Appends one field written by fn into reserved room; false on failure.
template <class Fn>
bool put(growbuf* gb, Fn fn) {
  uint8_t* p = growbuf_reserve(gb, kListRoom);
  if (!p) return false;
  const int r = fn(p);
  if (r < 0) return false;
  growbuf_commit(gb, uint32_t(r));
  return true;
}

bool put_order(growbuf* gb, const sim_level& l, size_t i, bool brokers) {
  if (!put(gb, [&](uint8_t* p) { return encode_volume(p, l.orders[i]); })) return false;
  if (!brokers) return true;
  const char* b = i < l.brokers.size() ? l.brokers[i].c_str() : "";
  return put(gb, [&](uint8_t* p) { return sim_put_broker(p, b); });
}

int fail(growbuf* gb, int32_t start, const char* what, const std::string& code) {
  log(LOG_ERROR, kSrc, "can't write the %s of %s", what, code.c_str());
  growbuf_truncate(gb, start);
  return -1;
}

}  // namespace

int sim_list_depth(growbuf* gb, const sim_stock_ref& s, int side, int32_t limit, bool brokers) {
  const int32_t start = gb->len;
  uint32_t ref = s.close;
  int32_t levels = 0;
  for (const sim_level& l : s.sides[side]) {
    if (limit > 0 && levels == limit) break;
    if (l.orders.empty() || l.orders.size() > kCountMax) return fail(gb, start, "depth", s.code);
    if (!put(gb, [&](uint8_t* p) { return put_count(p, uint32_t(l.orders.size())); }) ||
        !put(gb, [&](uint8_t* p) { return encode_price(p, l.price, &ref); }))
      return fail(gb, start, "depth", s.code);
    for (size_t i = 0; i < l.orders.size(); i++)
      if (!put_order(gb, l, i, brokers)) return fail(gb, start, "depth", s.code);
    levels++;
  }
  if (limit <= 0 || levels < limit) {
    if (!put(gb, [](uint8_t* p) { return encode_byte(p, 0); })) return fail(gb, start, "depth", s.code);
  }
  return 0;
}

int sim_list_queue(growbuf* gb, const sim_stock_ref& s, int side, ss_time time, ss_time date, bool brokers) {
  const int32_t start = gb->len;
  uint32_t ref = s.close;
  ss_time running = date;
  for (const sim_level& l : s.sides[side]) {
    // One price group holds at most 255 orders; a longer level takes more.
    for (size_t first = 0; first < l.orders.size(); first += 255) {
      const size_t n = std::min<size_t>(255, l.orders.size() - first);
      if (!put(gb, [&](uint8_t* p) { return encode_price(p, l.price, &ref); }) ||
          !put(gb, [&](uint8_t* p) { return encode_byte(p, uint32_t(n)); }))
        return fail(gb, start, "queue", s.code);
      for (size_t i = first; i < first + n; i++) {
        if (!put(gb, [&](uint8_t* p) { return encode_volume(p, l.orders[i]); }) ||
            !put(gb, [&](uint8_t* p) { return encode_time_delta_from(p, time, &running); }))
          return fail(gb, start, "queue", s.code);
        if (brokers) {
          const char* b = i < l.brokers.size() ? l.brokers[i].c_str() : "";
          if (!put(gb, [&](uint8_t* p) { return sim_put_broker(p, b); })) return fail(gb, start, "queue", s.code);
        }
      }
    }
  }
  return 0;
}

int sim_list_trades(growbuf* gb, const sim_stock_ref& s, size_t first, ss_time date, bool brokers) {
  const int32_t start = gb->len;
  uint32_t ref = s.last;
  ss_time running = date;
  std::vector<enctrades_trade> group;
  for (size_t i = first; i < s.trade_list.size();) {
    group.clear();
    const uint32_t price = s.trade_list[i].price;
    for (; i < s.trade_list.size() && s.trade_list[i].price == price; i++) {
      const sim_trade& t = s.trade_list[i];
      group.push_back({t.time, t.price, t.volume, kPlainTradeFlags, 0, 0, 0, t.buyer.c_str(), t.seller.c_str()});
    }
    if (enctrades_encode_one(gb, group.data(), uint32_t(group.size()), &ref, &running, brokers, sim_put_broker) < 0)
      return fail(gb, start, "trades", s.code);
  }
  return 0;
}

int sim_list_states(growbuf* gb, const std::vector<std::string>& alpha, const std::vector<std::string>& codes) {
  const int32_t start = gb->len;
  long prev = -1;
  for (const std::string& c : codes) {
    const auto it = std::find(alpha.begin(), alpha.end(), c);
    const long at = it == alpha.end() ? -1 : long(it - alpha.begin());
    bool ok;
    if (prev >= 0 && at > prev) {
      ok = put(gb, [&](uint8_t* p) { return encode_vint(p, uint32_t(at - prev)); });
    } else {
      ok = put(gb, [](uint8_t* p) { return encode_vint(p, 0); }) &&
           put(gb, [&](uint8_t* p) { return encode_code(p, c.c_str()); });
    }
    if (!ok) return fail(gb, start, "state list", c);
    prev = at;
  }
  return 0;
}

void sim_answer_lists(growbuf* gb, const sim_entry& e, const sim_stock_ref* book, ss_time date, bool brokers) {
  static const sim_stock_ref kEmpty;
  const sim_stock_ref& s = book ? *book : kEmpty;
  growbuf list = {};
  if (growbuf_init(&list, 4096, 4096) < 0) return;
  const uint32_t index = uint32_t(e.exchange);
  auto depth = [&](int side, bool full) {
    growbuf_reset(&list);
    if (sim_list_depth(&list, s, side, full ? 0 : kSimPartialLevels, brokers) < 0) return;
    const uint32_t type = (full ? kSimMsgFullBids : kSimMsgPartialBids) + uint32_t(side);
    sim_msg_depth_answer(gb, type, index, e.code.c_str(), list.data, list.len);
  };
  auto trades = [&](bool all) {
    growbuf_reset(&list);
    const size_t n = s.trade_list.size();
    const size_t first = all || n <= kSimRecentTrades ? 0 : n - kSimRecentTrades;
    if (sim_list_trades(&list, s, first, date, brokers) < 0) return;
    sim_msg_trade_list(gb, all ? kSimMsgAllTrades : kSimMsgRecentTrades, index, e.code.c_str(), list.data, list.len);
  };
  switch (e.kind) {
    case 10: case 11: depth(e.kind - 10, false); break;
    case 12: case 13: depth(e.kind - 12, true); break;
    case 50: trades(true); break;
    case 51: trades(false); break;
    case 20:  // today's events: the books and every trade, as the client holds
              // them; the answer tells the client the day is loaded
    case 60: case 61:
      depth(0, true);
      depth(1, true);
      trades(e.kind != 61);
      break;
    default: break;
  }
  growbuf_free(&list);
}
