// A generated trading day through the dispatcher into the model: a number of
// stocks (20,000 by default), three million depth, trade and quote messages
// (the mix of a busy day: most messages move depth, the popular stocks get
// most of them), cut
// into blocks of about 16 KB and deflated as the server sends them. The day
// is written once with the codec's writers against plain vector books, so
// that every message is one the model accepts; each iteration decodes it
// into a fresh model. Beside it: merely inflating the same blocks, on the
// same run, and the process's resident memory before and after. The io
// thread's housekeeping (event trimming and deferred frees, every five
// seconds) runs every 1/20 of the day, as it would on a day spread over hours.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "dalloc.h"
#include "decblk.h"
#include "encblk.h"
#include "enchdr.h"
#include "encode.h"
#include "growbuf.h"
#include "lazyfree.h"
#include "plat.h"
#include "ssclient.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssproto.h"
#include "sstime.h"

namespace {

constexpr uint32_t kDayMessages = 3000000;
constexpr int32_t kBlockBytes = 16000;     // messages per block: until this many bytes
constexpr uint32_t kMessagesPerSecond = 140;
constexpr int kMessageRoom = 64;
constexpr size_t kHousekeepings = 20;
constexpr int64_t kHousekeepingStepMs = 60000;  // clock moved on at each: past the deferral delay

int64_t g_bench_ms = 1000000;
int64_t bench_clock() { return g_bench_ms; }

// splitmix64
struct rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

uint32_t tick(uint32_t p) { return p < 20000 ? 50 : p < 200000 ? 100 : 1000; }
bool better(int side, uint32_t a, uint32_t b) { return side ? a < b : a > b; }

struct level {
  uint32_t price;
  std::vector<uint64_t> orders;
};

struct book_stock {
  std::string code;
  std::vector<level> sides[2];
  uint32_t ref = 0;  // the running price reference, as the client keeps it
  uint32_t last = 0;
  uint32_t base = 0;
  uint32_t orders(int side) const {
    uint32_t n = 0;
    for (const level& l : sides[side]) n += uint32_t(l.orders.size());
    return n;
  }
  uint32_t top(int side) const { return sides[side].empty() ? 0 : sides[side].front().price; }
};

struct day {
  std::vector<std::vector<uint8_t>> blocks;  // framed, deflated
  std::vector<uint8_t> preamble;             // exchange selection and date
  std::vector<std::string> codes;            // every stock's code
  uint64_t messages = 0;
  uint64_t raw_bytes = 0;
  uint64_t framed_bytes = 0;
};

// The writer's side of the stream: header state and speed numbers.
class writer {
 public:
  writer() : ex_(std::make_unique<ss_exchange>()) {}

  void begin(uint32_t type, ss_time time, book_stock& s, int32_t index) {
    p_ = out_;
    const int32_t speed = index < int32_t(named_.size()) && named_[index] ? int32_t(named_[index]->speed) : -1;
    p_ += enchdr_encode_timed(p_, ex_.get(), type, time, s.code.c_str(), speed);
    if (speed < 0 && ex_->speed_count < kStockSpeeds) {  // the client's table refuses more too
      auto rec = std::make_unique<ss_stock>();
      strncpy(rec->code, s.code.c_str(), kCodeMax);
      rec->speed = int32_t(ex_->speed_count);
      ex_->speeds[ex_->speed_count++] = rec.get();
      if (int32_t(named_.size()) <= index) named_.resize(size_t(index) + 1);
      named_[index] = std::move(rec);
    }
  }
  void price(uint32_t p, uint32_t* ref) { p_ += encode_price(p_, p, ref); }
  void volume(uint64_t v) { p_ += encode_volume(p_, v); }
  void byte(uint32_t v) { p_ += encode_byte(p_, v); }
  void end(std::vector<uint8_t>* raw) { raw->insert(raw->end(), out_, p_); }

 private:
  std::unique_ptr<ss_exchange> ex_;
  std::vector<std::unique_ptr<ss_stock>> named_;
  uint8_t out_[kMessageRoom];
  uint8_t* p_ = out_;
};

void book_add(book_stock& s, int side, uint32_t price, uint64_t v) {
  auto& ls = s.sides[side];
  auto it = ls.begin();
  while (it != ls.end() && better(side, it->price, price)) ++it;
  if (it == ls.end() || it->price != price) it = ls.insert(it, level{price, {}});
  it->orders.push_back(v);
}

void book_delete(book_stock& s, int side, uint32_t position) {
  auto& ls = s.sides[side];
  for (size_t i = 0; i < ls.size(); i++) {
    if (position <= ls[i].orders.size()) {
      ls[i].orders.erase(ls[i].orders.begin() + (position - 1));
      if (ls[i].orders.empty()) ls.erase(ls.begin() + long(i));
      return;
    }
    position -= uint32_t(ls[i].orders.size());
  }
}

uint64_t& book_order(book_stock& s, int side, uint32_t position) {
  for (level& l : s.sides[side]) {
    if (position <= l.orders.size()) return l.orders[position - 1];
    position -= uint32_t(l.orders.size());
  }
  return s.sides[side].front().orders.front();
}

uint64_t volume(rng& r) {
  switch (r.below(4)) {
    case 0: return (1 + r.below(50)) * 100ull;
    case 1: return 1 + r.below(99999);
    case 2: return (1 + r.below(20)) * 1000ull;
    default: return (1 + r.below(10)) * 50000ull;
  }
}

// One message about stock `i`: an operation the book accepts, written in the
// shortest type that carries it, and applied to the book.
// `busy`: orders of the stock beyond which it deletes more.
void one_message(writer& w, rng& r, book_stock& s, int32_t i, ss_time t, uint64_t last_amended[2],
                 uint32_t busy, std::vector<uint8_t>* raw) {
  uint32_t op = r.below(100);
  if (s.orders(0) + s.orders(1) > busy && op < 35) op = 40;
  int side = int(r.below(2));
  if (op >= 35 && op < 77 && s.sides[side].empty()) side = 1 - side;
  if (op >= 35 && op < 77 && s.sides[side].empty()) op = 0;
  const uint32_t top = s.top(side);
  const uint32_t other = s.top(1 - side);
  const uint32_t tk = tick(top ? top : s.base);
  const auto twin = [side](uint32_t bid_type) { return side ? (bid_type <= 13 ? bid_type + 13 : bid_type + 1) : bid_type; };
  const auto crosses = [&](uint32_t p) { return other && !better(side, other, p); };

  if (op < 35) {  // an order: at a new price, one or two ticks better, at the top
    const uint64_t v = volume(r);
    uint32_t p;
    uint32_t type = 1;
    if (!top) {
      const uint32_t from = other ? other : s.base;
      p = side ? from + tick(from) * (1 + r.below(3)) : from - tick(from) * (1 + r.below(3));
    } else {
      const uint32_t mode = r.below(100);
      const int32_t k = mode < 20 ? 1 : mode < 30 ? 2 : mode < 50 ? 0 : -int32_t(1 + r.below(8));
      const int64_t moved = int64_t(top) + (side ? -1 : 1) * int64_t(k) * tk;
      p = moved > int64_t(tk) ? uint32_t(moved) : top;
      if (crosses(p)) p = top;
      type = p == top ? 3 : k == 1 && p != top ? 2 : k == 2 && p != top ? 32 : 1;
    }
    w.begin(twin(type), t, s, i);
    if (type == 1) w.price(p, &s.ref);
    w.volume(v);
    w.end(raw);
    book_add(s, side, p, v);
  } else if (op < 57) {  // a delete, mostly of the head
    const uint32_t n = s.orders(side);
    const uint32_t pos = r.below(100) < 45 ? 1 : std::min<uint32_t>(1 + r.below(n), 255);
    w.begin(twin(pos == 1 ? 6 : 7), t, s, i);
    if (pos > 1) w.byte(pos);
    w.end(raw);
    book_delete(s, side, pos);
  } else if (op < 67) {  // an amend
    const uint32_t n = s.orders(side);
    const uint32_t pos = r.below(100) < 40 ? 1 : std::min<uint32_t>(1 + r.below(n), 255);
    const uint64_t v = pos == 1 && last_amended[side] && r.below(4) == 0 ? last_amended[side] : volume(r);
    const uint32_t type = pos == 1 ? (v == last_amended[side] ? 5 : 4) : 36;
    w.begin(twin(type), t, s, i);
    if (type == 36) w.byte(pos);
    if (type != 5) w.volume(v);
    w.end(raw);
    book_order(s, side, pos) = v;
    last_amended[side] = v;
  } else if (op < 77) {  // the head replaced: a tick up or down, or at a price
    const uint64_t head = s.sides[side].front().orders.front();
    const bool keep = r.below(10) < 4;
    const uint64_t v = keep ? head : volume(r);
    const uint32_t mode = r.below(100);
    uint32_t p = mode < 25 ? top + tk : mode < 50 && top > tk ? top - tk : top;
    if (crosses(p)) p = top;
    uint32_t type = p == top + tk ? (keep ? 10 : 11) : p + tk == top ? (keep ? 12 : 13) : (keep ? 8 : 9);
    w.begin(twin(type), t, s, i);
    if (type == 8 || type == 9) {
      uint32_t copy = top;
      w.price(p, &copy);
    }
    if (type == 9 || type == 11 || type == 13) w.volume(v);
    w.end(raw);
    book_delete(s, side, 1);
    book_add(s, side, p, v);
  } else if (op < 92) {  // a trade, at the top or at the last price
    const uint64_t v = volume(r);
    const uint32_t p = s.last && r.below(3) == 0 ? s.last : (top ? top : other ? other : s.base);
    w.begin(p == s.last ? 30 : 29, t, s, i);
    if (p != s.last) w.price(p, &s.ref);
    w.volume(v);
    w.end(raw);
    s.last = p;
  } else {  // a quote of a few prices
    const uint8_t flags = uint8_t(1 + r.below(31));
    const uint32_t mid = top ? top : other ? other : s.base;
    w.begin(28, t, s, i);
    w.byte(flags);
    for (int b = 0; b < 5; b++)
      if (flags & (1u << b)) {
        const uint32_t p = mid + tick(mid) * r.below(5);
        w.price(p, &s.ref);
        if (b == 4) s.last = p;
      }
    w.end(raw);
  }
}

// The shape of a day: stocks, popular stocks (half of the messages are
// theirs) and the book size beyond which a stock deletes more.
struct day_shape {
  uint32_t stocks, popular, busy;
  bool operator==(const day_shape&) const = default;
};

day make_day(const day_shape shape) {
  {
    runtime_once();
    day out;
    // 52: exchange 0 becomes current; 54: its date, clock and offset.
    const ss_time date = sstime_pack_date(12, 3, 2014);
    uint8_t b[32];
    uint8_t* p = b;
    *p++ = 0;
    *p++ = 52;
    *p++ = 0;
    *p++ = 54;
    p += encode_byte(p, 0);
    p += encode_uint32(p, date);
    p += encode_uint32(p, sstime_pack(0, 0, 9, 12, 3, 2014));
    p += encode_vint(p, 36000);
    p += encode_byte(p, 0);
    out.preamble.assign(b, p);

    std::vector<book_stock> stocks(shape.stocks);
    const uint32_t bases[] = {5000, 15000, 60000, 180000, 450000};
    for (uint32_t i = 0; i < shape.stocks; i++) {
      uint32_t n = i;
      std::string c;
      const int letters = n < 26 * 26 * 26 ? 3 : 4;
      if (letters == 4) n -= 26 * 26 * 26;
      for (int k = 0; k < letters; k++, n /= 26) c.insert(c.begin(), char('A' + n % 26));
      stocks[i].code = c;
      out.codes.push_back(c);
      stocks[i].base = bases[i % 5] + (i / 5 % 20) * tick(bases[i % 5]);
    }
    writer w;
    rng r{42};
    uint64_t last_amended[2] = {0, 0};
    std::vector<uint8_t> raw;
    z_stream z{};
    encblk_deflate_init(&z, kBlockLevel);
    growbuf framed;
    growbuf_init(&framed, kBlockBytes, kBlockBytes);
    ss_time t = sstime_pack(0, 0, 10, 12, 3, 2014);
    const auto flush = [&] {
      growbuf_reset(&framed);
      encblk_frame(&framed, raw.data(), int32_t(raw.size()), &z);
      out.blocks.emplace_back(framed.data, framed.data + framed.len);
      out.raw_bytes += raw.size();
      out.framed_bytes += uint64_t(framed.len);
      raw.clear();
    };
    for (uint32_t m = 0; m < kDayMessages; m++) {
      const uint32_t i = r.below(2) ? r.below(shape.popular) : r.below(shape.stocks);
      one_message(w, r, stocks[i], int32_t(i), t, last_amended, shape.busy, &raw);
      if (m % kMessagesPerSecond == kMessagesPerSecond - 1) t = sstime_add_seconds(t, 1);
      if (int32_t(raw.size()) >= kBlockBytes) flush();
    }
    if (!raw.empty()) flush();
    deflateEnd(&z);
    growbuf_free(&framed);
    out.messages = kDayMessages;
    return out;
  }
}

// One day kept at a time: the days are large and each case runs alone.
const day& the_day(const day_shape shape) {
  static day_shape held{};
  static day d;
  if (!(held == shape)) {
    d = day{};
    d = make_day(shape);
    held = shape;
  }
  return d;
}

double thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

double resident_mb() {
  dalloc_mem_stats_rec m{};
  dalloc_mem_stats(&m);
  return double(m.resident_size) / (1024.0 * 1024.0);
}

// Every block inflated with a raw zlib stream of the caller's; with `decode`
// the payload goes through the dispatcher too. False on any failure.
bool run_blocks(const day& d, z_stream* z, growbuf* work, bool decode) {
  const size_t every = d.blocks.size() / kHousekeepings + 1;
  for (size_t i = 0; i < d.blocks.size(); i++) {
    const std::vector<uint8_t>& blk = d.blocks[i];
    growbuf_reset(work);
    if (decblk_unframe(z, blk.data(), int32_t(blk.size()), work) != int32_t(blk.size())) return false;
    if (!decode) continue;
    if (ssproto_decode(work->data, work->len) != work->len) return false;
    if (i % every == every - 1) {
      ssevent_trim_due();
      g_bench_ms += kHousekeepingStepMs;
      lazyfree_tick();
    }
  }
  return true;
}

// Arguments: stocks, popular stocks, book size beyond which deletes win, and
// whether the stocks are listed before the day starts (1, as a client that
// loaded the exchange's code list at sign-on has them: untimed, one bulk add)
// or added as the stream first names each (0, in the order the day does).
void BM_DecodeTradingDay(benchmark::State& state) {
  const day& d = the_day({uint32_t(state.range(0)), uint32_t(state.range(1)), uint32_t(state.range(2))});
  plat_set_test_clock(bench_clock);
  z_stream z{};
  inflateInit2(&z, kBlockWindowBits);
  growbuf work;
  growbuf_init(&work, kProtoWorkBufferSize, kProtoWorkBufferStep);
  double before = 0, after = 0, inflate_ns = 0, decode_ns = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ssclient_fini();
    if (ssclient_init(0, kBenchModelOptions, kBenchExchangeFlags) < 0 ||
        ssproto_decode(d.preamble.data(), int32_t(d.preamble.size())) != int32_t(d.preamble.size())) {
      state.SkipWithError("can't start the client");
      break;
    }
    ssclient_enable_yield(0);
    if (state.range(3)) {
      std::vector<const char*> codes;
      for (const std::string& c : d.codes) codes.push_back(c.c_str());
      if (ssmodel_add_stocks(ssmodel_exchange(0), codes.data(), int32_t(codes.size()), nullptr) != int32_t(codes.size())) {
        state.SkipWithError("can't list the stocks");
        break;
      }
    }
    before = resident_mb();
    state.ResumeTiming();
    const double d0 = thread_cpu_ns();
    if (!run_blocks(d, &z, &work, true)) {
      state.SkipWithError("the day did not decode");
      break;
    }
    decode_ns += thread_cpu_ns() - d0;
    state.PauseTiming();
    after = resident_mb();
    // The same blocks merely inflated, on the same run.
    const double t0 = thread_cpu_ns();
    run_blocks(d, &z, &work, false);
    inflate_ns += thread_cpu_ns() - t0;
    state.ResumeTiming();
  }
  ssclient_fini();
  plat_set_test_clock(nullptr);
  inflateEnd(&z);
  growbuf_free(&work);
  const double msgs = double(d.messages);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(d.messages));
  state.counters["messages"] = msgs;
  state.counters["blocks"] = double(d.blocks.size());
  state.counters["raw_MB"] = double(d.raw_bytes) / (1024.0 * 1024.0);
  state.counters["deflated_MB"] = double(d.framed_bytes) / (1024.0 * 1024.0);
  // Processor time of this thread per message, inflating included, and of
  // inflating alone: steadier than wall time on a busy machine.
  const double runs = double(std::max<int64_t>(1, int64_t(state.iterations())));
  state.counters["ns_per_msg"] = decode_ns / runs / msgs;
  state.counters["inflate_only_ns_per_msg"] = inflate_ns / runs / msgs;
  state.counters["x_inflate"] = inflate_ns > 0 ? decode_ns / inflate_ns : 0;
  state.counters["rss_before_MB"] = before;
  state.counters["rss_after_MB"] = after;
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  state.counters["peak_rss_MB"] = double(ru.ru_maxrss) / 1024.0;  // of the process so far
}
BENCHMARK(BM_DecodeTradingDay)
    ->ArgNames({"stocks", "popular", "book", "listed"})
    ->Args({1000, 50, 40, 0})
    ->Args({20000, 1000, 40, 0})
    ->Args({100000, 5000, 40, 0})
    ->Args({20000, 1000, 640, 0})
    ->Args({1000, 50, 40, 1})
    ->Args({100000, 5000, 40, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace
