// Scan refresh over a large market: 20 scans with different orders
// evaluated over N current stocks, full and incremental (after a tenth of
// the stocks changed), beside a brute-force reference (filter into a vector,
// std::sort, cut) over the same stocks. The terminal gives all watched scans
// one second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "config/config.h"
#include "lib/scan.h"
#include "lib/scan_refresh.h"
#include "lib/timer.h"
#include "ssmodel.h"
#include "testlog.h"
#include "testmodel.h"

namespace {

struct Market {
  std::vector<ss_stock*> stocks;
  std::vector<scan*> scans;
  std::mt19937 rng{7};

  void randomise(ss_stock* s) {
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    s->volume = pick(0, 4) == 0 ? 0 : pick(1, 100000) * 100ull;
    s->value = pick(0, 1000000) * 100ull;
    s->last = pick(1, 200000);
    s->disp_price = s->last;
    s->bid = pick(0, 200000);
    s->offer = pick(0, 200000);
    s->average_price = pick(0, 200000);
    s->high = pick(100000, 200000);
    s->low = pick(1, 100000);
    s->change = (int32_t)pick(0, 2000) - 1000;
    s->change_pct = (int32_t)pick(0, 2000) - 1000;
    s->market_cap = pick(0, 1000000) * 1000ull;
  }

  void start(int n) {
    start_runtime(TestStderr::kOff);
    start_terminal_model();
    config_init();
    timer_init();
    scan_init();
    char code[8];
    for (int i = 0; (int)stocks.size() < n; i++) {
      snprintf(code, sizeof code, "%c%c%c%c", 'A' + i % 26, 'A' + (i / 26) % 26, 'A' + (i / 676) % 26,
               'A' + (i / 17576) % 26);
      ss_stock* s = ssmodel_get_stock(ssmodel_exchange(0), code);
      ssmodel_stock_make_current(s);
      randomise(s);
      stocks.push_back(s);
    }
    static const uint32_t orders[] = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16, 17, 18, 19, 2, 3, 5, 6, 13};
    for (int i = 0; i < 20; i++) {
      scan* s = scan_new_temp();
      scan_set_order(s, orders[i]);
      scan_set_reversed(s, i >= 15);
      scan_set_vcmp(s, 0);
      scan_set_limit(s, 100);
      scan_reserve_results(s, 100);
      scans.push_back(s);
    }
  }

  void stop() {
    for (scan* s : scans) scan_delete(s);
    scan_fini();
    timer_fini();
    config_shutdown();
    ssmodel_fini();
  }
};

void BM_ScanRefresh20(benchmark::State& state) {
  Market m;
  m.start((int)state.range(0));
  bool full = state.range(1) != 0;
  for (scan* s : m.scans) scan_refresh(s, 1);
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t k = 0; k < m.stocks.size() / 10; k++) m.randomise(m.stocks[m.rng() % m.stocks.size()]);
    state.ResumeTiming();
    for (scan* s : m.scans) scan_refresh(s, full ? 1 : 0);
  }
  state.counters["stocks"] = (double)m.stocks.size();
  m.stop();
}
BENCHMARK(BM_ScanRefresh20)
    ->ArgsProduct({{20000, 30000}, {1, 0}})
    ->ArgNames({"stocks", "full"})
    ->Unit(benchmark::kMillisecond);

// The reference: the same 20 rankings by percent change, each a filter into
// a vector, a full std::sort and a cut to 100.
void BM_BruteForce20(benchmark::State& state) {
  Market m;
  m.start((int)state.range(0));
  std::vector<ss_stock*> v;
  for (auto _ : state) {
    for (int i = 0; i < 20; i++) {
      v.clear();
      for (ss_stock* s : m.stocks)
        if (s->volume) v.push_back(s);
      std::sort(v.begin(), v.end(), [](const ss_stock* a, const ss_stock* b) {
        if (a->change_pct != b->change_pct) return a->change_pct > b->change_pct;
        return strcmp(a->code, b->code) < 0;
      });
      v.resize(std::min<size_t>(v.size(), 100));
      benchmark::DoNotOptimize(v.data());
    }
  }
  m.stop();
}
BENCHMARK(BM_BruteForce20)->Arg(20000)->Arg(30000)->ArgName("stocks")->Unit(benchmark::kMillisecond);

}  // namespace
