// Generated history and news, and the simulator's replies to the history
// and news requests. Every value comes from a small hash of (seed,
// exchange, code, day), not from a running generator, so a history asked
// for from a date holds exactly the days of the whole history from that
// date on.
#include "sim_history.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "encblk.h"
#include "enchdr.h"
#include "enchist.h"
#include "decnews.h"
#include "encode.h"
#include "enctrades.h"
#include "dectrades.h"
#include "log.h"
#include "sim_msg.h"

static const char kSrc[] = "sim/sim_history";

namespace {

constexpr uint32_t kReplyStock = 110;
constexpr uint32_t kReplyIndex = 111;
constexpr uint32_t kReplyNews = 120;
constexpr uint32_t kReplySummary = 122;
constexpr uint32_t kNewsToday = 121;
constexpr int kFieldRoom = 24;  // exchange, code, date

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t key(uint64_t seed, uint32_t index, const std::string& code) {
  uint64_t h = mix(seed ^ (uint64_t(index) << 56));
  for (char c : code) h = mix(h ^ uint8_t(c));
  return h;
}

// The weekdays before `exchange_date`, oldest first.
std::vector<ss_time> trading_days(ss_time exchange_date, int n) {
  ss_time d = exchange_date & ~kSstimeSecondsMask;
  if (!d) d = sstime_now() & ~kSstimeSecondsMask;
  std::vector<ss_time> out(size_t(n), 0);
  for (int i = n - 1; i >= 0; i--) {
    do d = sstime_sub_days(d, 1);
    while (sstime_is_weekend(d));
    out[size_t(i)] = d;
  }
  return out;
}

// The reply's head: the message header, exchange, code and date.
int reply_head(growbuf* gb, uint32_t type, uint32_t index, const char* code, ss_time date, bool with_code) {
  if (sim_msg_header(gb, type) < 0) return -1;
  uint8_t* p = growbuf_reserve(gb, kFieldRoom);
  if (!p) return -1;
  int n = encode_byte(p, index);
  if (with_code) {
    int r = encode_code(p + n, code);
    if (r < 0) return -1;
    n += r;
  }
  n += encode_date16(p + n, date);
  return growbuf_commit(gb, uint32_t(n));
}

// A reply: head, then the record bytes the writer put into a buffer of
// their own, framed as one block.
template <class Write>
int reply(growbuf* out, uint32_t type, uint32_t index, const char* code, ss_time date, bool with_code, Write write) {
  growbuf rec = {};
  if (growbuf_init(&rec, 4096, 4096) < 0) return -1;
  const int32_t start = out->len;
  int r = write(&rec);
  if (r == 0) r = reply_head(out, type, index, code, date, with_code);
  if (r == 0) r = encblk_write(out, rec.data, rec.len);
  growbuf_free(&rec);
  if (r < 0) {
    log(LOG_ERROR, kSrc, "can't write reply %u for %s", type, code);
    growbuf_truncate(out, start);
  }
  return r;
}

}  // namespace

std::vector<ss_stock_point> sim_stock_history(uint64_t seed, uint32_t index, const std::string& code,
                                              ss_time exchange_date, ss_time from, uint32_t last_close) {
  const uint64_t k = key(seed, index, code);
  uint32_t close = 5000 + uint32_t(k % 400000);  // $0.50 to $40.50
  std::vector<ss_stock_point> out;
  const std::vector<ss_time> days = trading_days(exchange_date, kSimHistoryDays);
  // Each day's close is a step of up to 2% either way from the day before.
  // Without a given last close the walk starts from the hash; with one it
  // is walked back from there, so it ends exactly on it.
  std::vector<uint32_t> closes(days.size());
  if (last_close && !days.empty()) {
    closes.back() = last_close;
    for (size_t i = days.size() - 1; i > 0; i--) {
      const int64_t step = int64_t(mix(k ^ days[i]) % 41) - 20;
      closes[i - 1] = uint32_t(std::max<int64_t>(1, int64_t(closes[i]) * 1000 / (1000 + step)));
    }
    const int64_t step = int64_t(mix(k ^ days[0]) % 41) - 20;
    close = uint32_t(std::max<int64_t>(1, int64_t(closes[0]) * 1000 / (1000 + step)));
  } else {
    uint32_t c = close;
    for (size_t i = 0; i < days.size(); i++) {
      const int32_t step = int32_t(mix(k ^ days[i]) % 41) - 20;
      c = std::max<uint32_t>(100, uint32_t(int64_t(c) + int64_t(c) * step / 1000));
      closes[i] = c;
    }
  }
  for (size_t i = 0; i < days.size(); i++) {
    const ss_time d = days[i];
    const uint64_t h = mix(k ^ d);
    const uint32_t prev = close;
    close = closes[i];
    // The day's range: steps of 10 on the generated walk, of a two
    // thousandth of the price on one given its end.
    const uint32_t tick = last_close ? std::max<uint32_t>(1, close / 2000) : 10;
    uint32_t open = (h >> 8) % 4 ? prev : close;
    uint32_t high = std::max(open, close) + uint32_t((h >> 12) % 50) * tick;
    uint32_t low = std::min(open, close) - std::min(std::min(open, close) / 2, uint32_t((h >> 20) % 50) * tick);
    ss_stock_point p = {d, open, high, low, close, 0, 1000 + (h >> 28) % 5000000};
    if (!from || sstime_date_compare(d, from) >= 0) out.push_back(p);
  }
  for (size_t i = 1; i < out.size(); i++) out[i].change = int32_t(out[i].close) - int32_t(out[i - 1].close);
  return out;
}

std::vector<ss_index_point> sim_index_history(uint64_t seed, uint32_t index, const std::string& code,
                                              ss_time exchange_date, ss_time from) {
  const uint64_t k = key(seed, index, code);
  uint32_t value = 300000 + uint32_t(k % 500000);
  std::vector<ss_index_point> out;
  for (ss_time d : trading_days(exchange_date, kSimHistoryDays)) {
    const uint64_t h = mix(k ^ d);
    const uint32_t base = value;
    value = uint32_t(int64_t(base) + int64_t(h % 8001) - 4000);
    const uint32_t open = (h >> 16) % 3 ? base : value;
    ss_index_point p = {d,
                        base,
                        open,
                        std::max(open, value) + uint32_t((h >> 24) % 900),
                        std::min(open, value) - uint32_t((h >> 34) % 900),
                        value,
                        int32_t(value) - int32_t(base)};
    if (!from || sstime_date_compare(d, from) >= 0) out.push_back(p);
  }
  return out;
}

std::vector<ss_news> sim_news_history(uint64_t seed, uint32_t index, const std::string& code,
                                      ss_time exchange_date) {
  const uint64_t k = key(seed, index, code);
  std::vector<ss_time> days = trading_days(exchange_date, 40);
  std::vector<ss_news> out;
  for (int i = 0; i < kSimNewsItems; i++) {
    const uint64_t h = mix(k + uint64_t(i));
    ss_news n = {};
    n.number = 100000 + uint32_t(k % 1000) * 100 + uint32_t(i);
    n.time = days[size_t(i) * days.size() / kSimNewsItems] + 36000 + uint32_t(h % 20000);
    n.codes[0] = 1 + uint32_t(h % 30);
    if (i % 3 == 0) n.codes[1] = 40 + uint32_t((h >> 8) % 20);
    n.flags = (h >> 16) % 4 == 0 ? kNewsFlag4 : 0;
    snprintf(n.headline, sizeof n.headline, "%s announcement %d", code.c_str(), i + 1);
    out.push_back(n);
  }
  return out;
}

std::vector<sim_news_summary_item> sim_news_summary(uint64_t seed, uint32_t index,
                                                    const std::set<std::string>& codes, ss_time exchange_date) {
  std::vector<sim_news_summary_item> out;
  ss_time d = exchange_date & ~kSstimeSecondsMask;
  for (const std::string& code : codes) {
    const uint64_t h = mix(key(seed, index, code) ^ d);
    sim_news_summary_item it;
    it.code = code;
    it.item = {};
    it.item.number = 500000 + uint32_t(h % 100000);
    it.item.time = d + 30000 + uint32_t(h % 20000);
    it.item.codes[0] = 2;
    snprintf(it.item.headline, sizeof it.item.headline, "%s today", code.c_str());
    out.push_back(it);
  }
  return out;
}

int sim_news_today(sim_server* sim, uint32_t index, const char* code, const ss_news& item) {
  // Header state of its own, empty: the header names the issuer and the time
  // in full, so a client may start reading at this unit.
  auto mirror = std::make_unique<ss_exchange>();
  uint8_t msg[kHeaderRoom + kNewsMaxItem];
  const int h = enchdr_encode_timed(msg, mirror.get(), kNewsToday, item.time, code, -1);
  const int n = h < 0 ? -1 : encnews_encode(msg + h, nullptr, item.number, item.time, item.codes, item.flags,
                                            item.headline);
  if (n < 0) {
    log(LOG_ERROR, kSrc, "can't write news of %s", code);
    return -1;
  }
  return sim_append(sim, index, msg, h + n);
}

int sim_answer_history(growbuf* gb, const sim_entry& e, uint64_t seed, ss_time exchange_date,
                       const std::set<std::string>& codes, uint32_t close) {
  const uint32_t index = uint32_t(e.exchange);
  const char* code = e.code.c_str();
  switch (e.kind) {
    case 30:
      return reply(gb, kReplyStock, index, code, e.date, true, [&](growbuf* rec) {
        std::vector<ss_stock_point> p = sim_stock_history(seed, index, e.code, exchange_date, e.date, close);
        return enchist_encode_stock(rec, p.data(), uint32_t(p.size()));
      });
    case 31:
      return reply(gb, kReplyIndex, index, code, e.date, true, [&](growbuf* rec) {
        std::vector<ss_index_point> p = sim_index_history(seed, index, e.code, exchange_date, e.date);
        return enchist_encode_index(rec, p.data(), uint32_t(p.size()));
      });
    case 32:
      return reply(gb, kReplyNews, index, code, e.date, true, [&](growbuf* rec) {
        std::vector<ss_news> n = sim_news_history(seed, index, e.code, exchange_date);
        if (e.date) {  // only what is newer than the client's newest day
          std::vector<ss_news> keep;
          for (const ss_news& x : n)
            if (sstime_date_compare(x.time, e.date) >= 0) keep.push_back(x);
          n = keep;
        }
        return enchist_encode_news(rec, n.data(), uint32_t(n.size()));
      });
    case 34:
      return reply(gb, kReplySummary, index, "", exchange_date & ~kSstimeSecondsMask, false, [&](growbuf* rec) {
        for (const sim_news_summary_item& it : sim_news_summary(seed, index, codes, exchange_date))
          if (encnews_encode_summary(rec, it.code.c_str(), it.item.number, it.item.time, it.item.codes,
                                     it.item.flags, it.item.headline) < 0)
            return -1;
        return 0;
      });
    default:
      log(LOG_ERROR, kSrc, "request %d is no history request", e.kind);
      return -1;
  }
}

