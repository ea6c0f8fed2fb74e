// Two figures of the engine as a whole. Model memory: four exchanges of
// 100,000 stocks each carrying a day's content (a five-level book on both
// sides, a skewed day of trades, every depth and trade event listed), as
// resident growth per phase, so the report says what dominates. Delivery:
// one 10 ms tick of 2,000 changes with 50 registered windows (each watching
// 40 stocks, as a watchlist or depth window does), the time ssnotify_deliver
// takes per tick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_support.h"
#include "dalloc.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"

namespace {

constexpr int kStocksPerExchange = 100000;
constexpr int kLevels = 5;  // per side
constexpr int kWindows = 50;
constexpr int kStocksPerWindow = 40;
constexpr int kEventsPerTick = 2000;

double rss_mb() {
  dalloc_mem_stats_rec m{};
  dalloc_mem_stats(&m);
  return static_cast<double>(m.resident_size) / 1e6;
}

// Trades of stock i: 1 in 100 trades busily, 1 in 10 a little, the rest
// (options and quiet lines) not at all.
int trades_of(int i) { return i % 100 == 0 ? 200 : (i % 10 == 0 ? 10 : 0); }

void BM_ModelMemoryFourExchangesDay(benchmark::State& state) {
  runtime_once();
  for (auto _ : state) {
    const double start = rss_mb();
    bench_model_start();
    const double empty = rss_mb();
    std::vector<ss_stock*> all;
    all.reserve(kExchanges * kStocksPerExchange);
    char code[12];
    for (int x = 0; x < kExchanges; x++)
      for (int i = 0; i < kStocksPerExchange; i++) {
        snprintf(code, sizeof code, "S%06d", i);
        ss_stock* s = ssmodel_add_stock(ssmodel_exchange(x), code);
        s->flags |= 0x1f;  // the whole book known, so depth events apply
        all.push_back(s);
      }
    const double stocks = rss_mb();
    ss_time t = 36000;
    for (ss_stock* s : all)
      for (int side = 0; side < 2; side++)
        for (int l = 0; l < kLevels; l++)
          ssevent_apply_depth_summary(s, t++, side, side ? 1010 + l : 1000 - l, 100, 1, nullptr);
    const double depth = rss_mb();
    uint64_t trades = 0;
    for (size_t i = 0; i < all.size(); i++)
      for (int k = trades_of(static_cast<int>(i)); k > 0; k--, trades++)
        ssevent_apply_trade(all[i], t++, 1000 + (k & 3), 10, 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
    const double day = rss_mb();
    uint64_t events = 0;
    for (ss_stock* s : all) events += s->events.count;
    state.counters["model_MB"] = day - start;
    state.counters["start_MB"] = empty - start;
    state.counters["stocks_MB"] = stocks - empty;
    state.counters["depth_MB"] = depth - stocks;
    state.counters["trades_MB"] = day - depth;
    state.counters["trades"] = static_cast<double>(trades);
    state.counters["events_listed"] = static_cast<double>(events);
    state.counters["goal_MB"] = 300;
    // The book's own records against what its events add.
    const double book_records = static_cast<double>(all.size()) * 2 * kLevels;
    state.counters["stock_record_B"] = ssmodel_stock_size();
    state.counters["book_lists_MB"] = book_records * (sizeof(ss_depth_level) + sizeof(ss_depth_order)) / 1e6;
    ssmodel_fini();
  }
}
BENCHMARK(BM_ModelMemoryFourExchangesDay)->Unit(benchmark::kMillisecond)->Iterations(1);

uint64_t g_seen = 0;
void window_call(const ss_change* c, void*, uint64_t, uint32_t) {
  g_seen += c->count + c->mask;
}

void BM_DeliveryTickFiftyWindows(benchmark::State& state) {
  runtime_once();
  bench_model_start();
  ssevent_init();
  ssnotify_init();
  std::vector<instr*> ins;
  char code[12];
  for (int i = 0; i < kWindows * kStocksPerWindow; i++) {
    snprintf(code, sizeof code, "W%05d", i);
    ins.push_back(ssmodel_add_stock(ssmodel_exchange(0), code));
  }
  static int owners[kWindows];
  for (int w = 0; w < kWindows; w++)
    for (int k = 0; k < kStocksPerWindow; k++)
      ssnotify_add(ins[w * kStocksPerWindow + k], ~0u, window_call, &owners[w], 0, 0);
  // A tick's changes, skewed toward a few busy stocks, with their events.
  std::mt19937 rng(11);
  std::geometric_distribution<int> skew(0.005);
  std::vector<std::pair<instr*, ss_event*>> tick;
  for (int k = 0; k < kEventsPerTick; k++) {
    instr* in = ins[std::min<size_t>(skew(rng), ins.size() - 1)];
    auto* p = static_cast<ss_ev_quote*>(ssevent_new_payload(kEvQuote));
    p->time = static_cast<ss_time>(k + 1);
    tick.emplace_back(in, ssevent_add_event(in, kEvQuote, p));
  }
  for (auto _ : state) {
    state.PauseTiming();
    for (auto& [in, ev] : tick) ssnotify_record(in, kChangeQuote, ev);
    state.ResumeTiming();
    ssnotify_deliver();
  }
  benchmark::DoNotOptimize(g_seen);
  state.SetItemsProcessed(state.iterations() * kEventsPerTick);
  ssnotify_fini();
  ssmodel_fini();
  ssevent_fini();
}
BENCHMARK(BM_DeliveryTickFiftyWindows)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
