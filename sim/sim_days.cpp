// Generated past days and the simulator's replies to the day requests. A
// stock's day walks from its history's open to its close inside the day's
// high and low; an index's day from the previous value to the day's close.
// Values come from a hash of (seed, exchange, code, date), so asking again
// gives the same day.
#include "sim_days.h"

#include <algorithm>

#include "encblk.h"
#include "encode.h"
#include "enctrades.h"
#include "log.h"
#include "sim_history.h"
#include "sim_msg.h"

static const char kSrc[] = "sim/sim_days";

namespace {

constexpr uint32_t kReplyIndexDay = 103;
constexpr uint32_t kReplyDayTrades = 104;
constexpr uint32_t kDayVersion = 6;  // the protocol version the day's block is written in
constexpr uint8_t kPlainTrade = 142;  // sets the last price, high-low, volume
constexpr int32_t kOpen = 36000;      // 10:00
constexpr int32_t kClose = 57600;     // 16:00
constexpr int kFieldRoom = 32;        // exchange, code, date, version
constexpr int kTickRoom = 16;

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t key(uint64_t seed, uint32_t index, const std::string& code, ss_time date) {
  uint64_t h = mix(seed ^ (uint64_t(index) << 56) ^ 0xD4A5u);
  for (char c : code) h = mix(h ^ uint8_t(c));
  return mix(h ^ (date & ~kSstimeSecondsMask));
}

ss_time date_of(ss_time t) { return t & ~kSstimeSecondsMask; }

// Head of a reply: header, exchange, code, date, version.
int reply_head(growbuf* gb, uint32_t type, uint32_t index, const char* code, ss_time date) {
  if (sim_msg_header(gb, type) < 0) return -1;
  uint8_t* p = growbuf_reserve(gb, kFieldRoom);
  if (!p) return -1;
  int n = encode_byte(p, index);
  int r = encode_code(p + n, code);
  if (r < 0) return -1;
  n += r;
  n += encode_date16(p + n, date);
  n += encode_vint(p + n, kDayVersion);
  return growbuf_commit(gb, uint32_t(n));
}

// A reply: head, then the records `write` put into a buffer of their own,
// as one block.
template <class Write>
int reply(growbuf* out, uint32_t type, uint32_t index, const std::string& code, ss_time date, Write write) {
  growbuf rec = {};
  if (growbuf_init(&rec, 4096, 4096) < 0) return -1;
  int r = write(&rec);
  if (r >= 0) r = reply_head(out, type, index, code.c_str(), date);
  if (r >= 0) r = encblk_write(out, rec.data, rec.len);
  growbuf_free(&rec);
  return r < 0 ? -1 : 0;
}

int stock_day(growbuf* out, uint64_t seed, uint32_t index, const std::string& code, ss_time exchange_date,
              ss_time date, uint32_t close) {
  std::vector<sim_trade> trades = sim_day_trades(seed, index, code, exchange_date, date, close);
  if (trades.empty()) return 0;
  return reply(out, kReplyDayTrades, index, code, date, [&](growbuf* rec) {
    uint32_t ref = 0;
    ss_time running = date;
    std::vector<enctrades_trade> group;
    for (size_t i = 0; i < trades.size();) {
      group.clear();
      const uint32_t price = trades[i].price;
      for (; i < trades.size() && trades[i].price == price; i++)
        group.push_back({trades[i].time, price, trades[i].volume, kPlainTrade, 0, 0, 0, nullptr, nullptr});
      if (enctrades_encode_one(rec, group.data(), uint32_t(group.size()), &ref, &running, 0, sim_put_broker) < 0)
        return -1;
    }
    return 0;
  });
}

int index_day(growbuf* out, uint64_t seed, uint32_t index, const std::string& code, ss_time exchange_date,
              ss_time date) {
  std::vector<sim_index_tick> ticks = sim_index_day(seed, index, code, exchange_date, date);
  if (ticks.empty()) return 0;
  return reply(out, kReplyIndexDay, index, code, date, [&](growbuf* rec) { return sim_index_ticks(rec, ticks); });
}

}  // namespace

std::vector<sim_trade> sim_day_trades(uint64_t seed, uint32_t index, const std::string& code, ss_time exchange_date,
                                      ss_time date, uint32_t last_close) {
  std::vector<sim_trade> out;
  date = date_of(date);
  if (!date || sstime_is_weekend(date)) return out;
  const uint64_t k = key(seed, index, code, date);
  // The day's prices from the generated history when it holds the date.
  uint32_t open = 1000 + uint32_t(k % 50000), close = open, high = open + 500, low = open > 500 ? open - 500 : 1;
  for (const ss_stock_point& p : sim_stock_history(seed, index, code, exchange_date, date, last_close)) {
    if (sstime_date_compare(p.date, date) != 0) continue;
    open = p.open;
    close = p.close;
    high = p.high;
    low = p.low;
  }
  uint32_t price = open;
  for (int i = 0; i < kSimDayTrades; i++) {
    const uint64_t h = mix(k + uint64_t(i));
    sim_trade t;
    t.time = date | ss_time(kOpen + i * (kClose - kOpen) / kSimDayTrades + int32_t(h % 30));
    if (i == kSimDayTrades - 1) {
      price = close;
    } else if (i > 0) {
      // A step toward the close with some noise, held inside the day's range.
      int64_t toward = (int64_t(close) - int64_t(price)) / std::max(1, kSimDayTrades - 1 - i);
      int64_t noise = int64_t(h >> 8) % 21 - 10;
      price = uint32_t(std::clamp<int64_t>(int64_t(price) + toward + noise, low, high));
    }
    t.price = price;
    t.volume = 100 + (h >> 20) % 5000;
    out.push_back(t);
  }
  return out;
}

std::vector<sim_index_tick> sim_index_day(uint64_t seed, uint32_t index, const std::string& code,
                                          ss_time exchange_date, ss_time date) {
  std::vector<sim_index_tick> out;
  date = date_of(date);
  if (!date || sstime_is_weekend(date)) return out;
  const uint64_t k = key(seed, index, code, date);
  uint32_t base = 300000 + uint32_t(k % 500000), close = base;
  for (const ss_index_point& p : sim_index_history(seed, index, code, exchange_date, date)) {
    if (sstime_date_compare(p.date, date) != 0) continue;
    base = p.base;
    close = p.close;
  }
  const int n = (kClose - kOpen) / kSimDayTickStep + 1;
  uint32_t value = base;
  for (int i = 0; i < n; i++) {
    const uint64_t h = mix(k + uint64_t(i));
    if (i == n - 1) {
      value = close;
    } else if (i > 0) {
      int64_t toward = (int64_t(close) - int64_t(value)) / (n - 1 - i);
      int64_t next = std::max<int64_t>(1000, int64_t(value) + toward + int64_t(h % 201) - 100);
      if (next == int64_t(value) || (i == n - 2 && next == int64_t(close))) next++;  // every tick moves the index
      value = uint32_t(next);
    }
    out.push_back({date | ss_time(kOpen + i * kSimDayTickStep), value});
  }
  return out;
}

int sim_index_ticks(growbuf* rec, const std::vector<sim_index_tick>& ticks) {
  const int32_t start = rec->len;
  for (size_t i = 0; i < ticks.size(); i++) {
    uint8_t* p = growbuf_reserve(rec, kTickRoom);
    int n = p ? encode_uint32(p, ticks[i].time) : -1;
    int v = n < 0 ? -1
            : i == 0 ? encode_index(p + n, ticks[i].value)
                     : encode_index_change(p + n, int32_t(ticks[i].value) - int32_t(ticks[i - 1].value));
    if (v < 0 || growbuf_commit(rec, uint32_t(n + v)) < 0) {
      growbuf_truncate(rec, start);
      return -1;
    }
  }
  return 0;
}

int sim_answer_days(growbuf* gb, const sim_entry& e, uint64_t seed, ss_time exchange_date, uint32_t close) {
  const int32_t start = gb->len;
  const uint32_t index = uint32_t(e.exchange);
  const ss_time today = date_of(exchange_date);
  auto before_today = [&](ss_time d) { return d && (!today || sstime_date_compare(d, today) < 0); };
  int r = 0;
  switch (e.kind) {
    case 63:
      if (!before_today(e.date)) break;
      r = stock_day(gb, seed, index, e.code, exchange_date, date_of(e.date), close);
      break;
    case 64: {
      if (!before_today(e.date) || !before_today(e.date2)) break;
      for (ss_time d = date_of(e.date); r == 0 && d && sstime_date_compare(d, e.date2) <= 0; d = sstime_add_days(d, 1))
        r = stock_day(gb, seed, index, e.code, exchange_date, d, close);
      break;
    }
    case 70:
      if (!before_today(e.date)) break;
      r = index_day(gb, seed, index, e.code, exchange_date, date_of(e.date));
      break;
    default:
      log(LOG_ERROR, kSrc, "request %d is no day request", e.kind);
      return -1;
  }
  if (r < 0) {
    log(LOG_ERROR, kSrc, "can't write day reply %d for %s", e.kind, e.code.c_str());
    growbuf_truncate(gb, start);
    return -1;
  }
  return 0;
}
