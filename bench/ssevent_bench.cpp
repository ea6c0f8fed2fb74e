// Market events at stream rates: a day-like mix of depth summaries, adds,
// amends, deletes, top changes and trades spread over 3000 stocks with books
// of a few levels a side, applied with event recording and alerts on as the
// terminal runs, housekeeping trims included. The stream is made beforehand
// against plain vector books so that every operation is one the live book
// accepts; each iteration starts from the same books.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_support.h"
#include "lazyfree.h"
#include "plat.h"
#include "ssclient.h"
#include "ssevent.h"

namespace {

constexpr int kBookStocks = 3000;
constexpr int kStreamEvents = 400000;
constexpr int kHousekeepingEvery = 100000;
constexpr uint32_t kTick = 10;

int64_t g_bench_ms = 1000000;
int64_t bench_clock() { return g_bench_ms; }

enum Op : uint8_t { kSummary, kAdd, kAmend, kDelete, kChangeTop, kTrade };

struct Event {
  Op op;
  uint8_t side;
  uint16_t stock;
  uint32_t price;
  uint32_t position;
  uint64_t volume;
};

// A side as levels of order volumes, best first (bids descending).
struct Side {
  std::vector<std::pair<uint32_t, std::vector<uint64_t>>> levels;
  uint32_t orders() const {
    uint32_t n = 0;
    for (const auto& l : levels) n += static_cast<uint32_t>(l.second.size());
    return n;
  }
};

struct Book {
  Side side[2];
};

bool better(int s, uint32_t a, uint32_t b) { return s == 0 ? a > b : a < b; }

void insert_order(Side& sd, int s, uint32_t price, uint64_t v) {
  auto it = sd.levels.begin();
  while (it != sd.levels.end() && better(s, it->first, price)) ++it;
  if (it != sd.levels.end() && it->first == price)
    it->second.push_back(v);
  else
    sd.levels.insert(it, {price, {v}});
}

void delete_at(Side& sd, uint32_t p) {
  for (auto it = sd.levels.begin(); it != sd.levels.end(); ++it) {
    if (p <= it->second.size()) {
      it->second.erase(it->second.begin() + (p - 1));
      if (it->second.empty()) sd.levels.erase(it);
      return;
    }
    p -= static_cast<uint32_t>(it->second.size());
  }
}

// The initial book of stock i: five levels of two orders a side around a mid.
Book initial_book(int i) {
  Book b;
  uint32_t mid = 1000 + 10 * static_cast<uint32_t>(i % 500) * kTick;
  for (int l = 0; l < 5; l++) {
    b.side[0].levels.push_back({mid - kTick * (l + 1), {100, 200}});
    b.side[1].levels.push_back({mid + kTick * (l + 1), {150, 250}});
  }
  return b;
}

std::vector<Event> make_stream() {
  std::vector<Book> books;
  for (int i = 0; i < kBookStocks; i++) books.push_back(initial_book(i));
  std::mt19937 rng(2014);
  std::vector<Event> out;
  out.reserve(kStreamEvents);
  // Busy stocks trade more: a skewed pick.
  std::geometric_distribution<int> busy(0.002);
  while (static_cast<int>(out.size()) < kStreamEvents) {
    int i = std::min(busy(rng), kBookStocks - 1);
    int s = static_cast<int>(rng() % 2);
    Side& sd = books[i].side[s];
    Event e{kSummary, static_cast<uint8_t>(s), static_cast<uint16_t>(i), 0, 0, 1 + rng() % 1000};
    uint32_t n = sd.orders();
    uint32_t roll = rng() % 100;
    if (sd.levels.empty() || n < 6) roll = 0;  // refill thin books
    if (n > 40 && roll < 45) roll = 60;        // and thin out thick ones
    uint32_t top = sd.levels.empty() ? 0 : sd.levels[0].first;
    if (roll < 30) {
      // New orders near the top, now and then a new best.
      uint32_t base = top ? top : 2000;
      int32_t k = static_cast<int32_t>(rng() % 6) - 1;
      e.price = s == 0 ? base - k * kTick : base + k * kTick;
      insert_order(sd, s, e.price, e.volume);
    } else if (roll < 45) {
      // An add at a place: joining the level of the order there.
      e.op = kAdd;
      e.position = 1 + rng() % n;
      uint32_t p = e.position;
      for (auto& l : sd.levels) {
        if (p <= l.second.size()) {
          e.price = l.first;
          l.second.insert(l.second.begin() + (p - 1), e.volume);
          break;
        }
        p -= static_cast<uint32_t>(l.second.size());
      }
    } else if (roll < 60) {
      e.op = kAmend;
      e.position = 1 + rng() % std::min<uint32_t>(n, 10);
      uint32_t p = e.position;
      for (auto& l : sd.levels) {
        if (p <= l.second.size()) {
          l.second[p - 1] = e.volume;
          break;
        }
        p -= static_cast<uint32_t>(l.second.size());
      }
    } else if (roll < 80) {
      e.op = kDelete;
      e.position = 1 + rng() % std::min<uint32_t>(n, 8);
      delete_at(sd, e.position);
    } else if (roll < 88) {
      e.op = kChangeTop;
      e.price = kNoPrice;
      uint64_t v = e.volume;
      uint64_t kept = sd.levels[0].second[0];
      delete_at(sd, 1);
      insert_order(sd, s, top, v ? v : kept);
    } else {
      e.op = kTrade;
      e.price = top;
    }
    out.push_back(e);
  }
  return out;
}

void load_books(const std::vector<ss_stock*>& stocks) {
  for (size_t i = 0; i < stocks.size(); i++) {
    Book b = initial_book(static_cast<int>(i));
    for (int s = 0; s < 2; s++)
      for (const auto& l : b.side[s].levels)
        for (uint64_t v : l.second) ssevent_apply_depth_summary(stocks[i], 0, s, l.first, v, 1, nullptr);
  }
}

// Empties every stock's depth, events and trades and runs the frees.
void unload(const std::vector<ss_stock*>& stocks) {
  for (ss_stock* s : stocks) {
    ssevent_clear_depth(s, 0, 2);
    ssevent_free_events(s);
    ssmodel_free_trades(s);
  }
  g_bench_ms += 60000;
  lazyfree_tick();
}

void BM_MarketEvents(benchmark::State& state) {
  runtime_once();
  plat_set_test_clock(bench_clock);
  bench_model_start();
  ss_exchange* asx = ssmodel_exchange(0);
  ssmodel_set_date(asx, sstime_pack_date(10, 2, 2014));
  std::vector<ss_stock*> stocks;
  for (int i = 0; i < kBookStocks; i++) {
    char code[kCodeSize];
    snprintf(code, sizeof code, "S%d", 10000 + i);
    ss_stock* s = ssmodel_get_stock(asx, code);
    s->flags |= kRqBidLoaded | kRqOfferLoaded;
    stocks.push_back(s);
  }
  static const std::vector<Event> stream = make_stream();
  ss_time t0 = sstime_pack(0, 0, 10, 10, 2, 2014);
  int64_t failed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    unload(stocks);
    load_books(stocks);
    state.ResumeTiming();
    for (int i = 0; i < kStreamEvents; i++) {
      const Event& e = stream[i];
      ss_stock* s = stocks[e.stock];
      ss_time t = t0 + static_cast<ss_time>(i / 100);
      int rc = 0;
      switch (e.op) {
        case kSummary:
          rc = ssevent_apply_depth_summary(s, t, e.side, e.price, e.volume, 1, nullptr);
          break;
        case kAdd:
          rc = ssevent_add_depth(s, t, e.side, e.price, e.volume, e.position, nullptr);
          break;
        case kAmend:
          rc = ssevent_amend_depth(s, t, e.side, e.position, e.volume);
          break;
        case kDelete:
          rc = ssevent_delete_depth(s, t, e.side, e.position);
          break;
        case kChangeTop:
          rc = ssevent_change_top(s, t, e.side, e.price, e.volume ? e.volume : kNoVolume, nullptr);
          break;
        case kTrade:
          rc = ssevent_apply_trade(s, t, e.price, e.volume, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
          break;
      }
      failed += rc < 0;
      if ((i + 1) % kHousekeepingEvery == 0) {
        ssevent_trim_due();
        g_bench_ms += 11000;
        lazyfree_tick();
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kStreamEvents);
  state.counters["ns_per_event"] = benchmark::Counter(static_cast<double>(state.iterations()) * kStreamEvents,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["refused"] = static_cast<double>(failed);
  unload(stocks);
  ssmodel_fini();
  plat_set_test_clock(nullptr);
}
BENCHMARK(BM_MarketEvents)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
