// The model's hot paths: adding 100k stocks in sorted, random and reverse code
// order (plain, and made current so the code-ordered list is kept by
// insertion; one by one and through the bulk path), finding stocks by code, building depth, appending trades, and
// the bytes a stock, a depth level and a depth order cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "lazyfree.h"
#include "ssmodel.h"

namespace {

constexpr int kStocks = 100000;

// Distinct codes of up to 6 characters, in code order.
const std::vector<std::string>& sorted_codes() {
  static std::vector<std::string> codes;
  if (codes.empty()) {
    for (int i = 0; i < kStocks; i++) {
      char c[8];
      int v = i;
      int n = 0;
      do {
        c[n++] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[v % 36];
        v /= 36;
      } while (v);
      while (n < 4) c[n++] = '0';
      std::reverse(c, c + n);
      c[n] = 0;
      codes.push_back(c);
    }
    std::sort(codes.begin(), codes.end());
  }
  return codes;
}

std::vector<std::string> codes_in_order(int order) {
  std::vector<std::string> codes = sorted_codes();
  if (order == 1) std::shuffle(codes.begin(), codes.end(), std::mt19937(42));
  if (order == 2) std::reverse(codes.begin(), codes.end());
  return codes;
}

// The exchange whose tables are sized for 100k stocks (its issuers live with
// exchange 0, which is made first).
ss_exchange* fresh_model() {
  ssmodel_init(kBenchModelOptions);
  ssmodel_new_exchange(0, kBenchExchangeFlags);
  return ssmodel_new_exchange(3, kBenchExchangeFlags);
}

void BM_AddStocks(benchmark::State& state) {
  runtime_once();
  std::vector<std::string> codes = codes_in_order((int)state.range(0));
  const bool current = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    ss_exchange* ex = fresh_model();
    state.ResumeTiming();
    for (const auto& c : codes) {
      ss_stock* s = ssmodel_add_stock(ex, c.c_str());
      if (current) ssmodel_stock_make_current(s);
    }
    benchmark::DoNotOptimize(ex->current.count);
    state.PauseTiming();
    ssmodel_fini();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)codes.size());
  state.SetLabel(std::string(state.range(0) == 0 ? "sorted" : state.range(0) == 1 ? "random" : "reverse") +
                 (current ? " +current" : ""));
}
BENCHMARK(BM_AddStocks)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The bulk path: the same 100k codes in one call, sorted or random order.
void BM_AddStocksBulk(benchmark::State& state) {
  runtime_once();
  std::vector<std::string> codes = codes_in_order((int)state.range(0));
  std::vector<const char*> names;
  for (const auto& c : codes) names.push_back(c.c_str());
  int32_t added = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ss_exchange* ex = fresh_model();
    state.ResumeTiming();
    added = ssmodel_add_stocks(ex, names.data(), int32_t(names.size()), nullptr);
    benchmark::DoNotOptimize(ex->stocks.count);
    state.PauseTiming();
    ssmodel_fini();
    state.ResumeTiming();
  }
  if (added != int32_t(names.size())) state.SkipWithError("not every stock was added");
  state.SetItemsProcessed(state.iterations() * (int64_t)codes.size());
  state.SetLabel(state.range(0) == 0 ? "sorted" : state.range(0) == 1 ? "random" : "reverse");
}
BENCHMARK(BM_AddStocksBulk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FindStock(benchmark::State& state) {
  runtime_once();
  ss_exchange* ex = fresh_model();
  std::vector<std::string> codes = codes_in_order(1);
  for (const auto& c : codes) ssmodel_add_stock(ex, c.c_str());
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ssmodel_find_stock(ex, codes[i].c_str()));
    if (++i == codes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  ssmodel_fini();
}
BENCHMARK(BM_FindStock);

// One side of 100 levels of 20 orders each, built and then freed.
void BM_DepthBuild(benchmark::State& state) {
  runtime_once();
  ss_exchange* ex = fresh_model();
  ss_stock* s = ssmodel_add_stock(ex, "BHP");
  lazyfree_set_enabled(0);  // free at once, so the pools are reused
  for (auto _ : state) {
    ss_depth_level* first = nullptr;
    ss_depth_level** link = &first;
    for (uint32_t l = 0; l < 100; l++) {
      ss_depth_level* level = ssmodel_new_depth_level(10000 - l);
      ss_depth_order* prev = nullptr;
      for (int o = 0; o < 20; o++) {
        ss_depth_order* order = ssmodel_new_depth_order_at(100, 0, level);
        if (prev)
          ssmodel_publish(prev->next, order);
        else
          ssmodel_publish(level->orders, order);
        prev = order;
      }
      ssmodel_publish(*link, level);
      link = &level->next;
    }
    ssmodel_publish(s->levels[0], first);
    ssmodel_free_depth(s);
  }
  state.SetItemsProcessed(state.iterations() * 2100);  // records made
  ssmodel_fini();
}
BENCHMARK(BM_DepthBuild);

void BM_AppendTrades(benchmark::State& state) {
  runtime_once();
  ss_exchange* ex = fresh_model();
  ss_stock* s = ssmodel_add_stock(ex, "BHP");
  lazyfree_set_enabled(0);
  ss_time t = 1;
  int n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ssmodel_add_trade(s, t++, 1000, 100));
    if (++n == 100000) {
      ssmodel_free_trades(s);
      n = 0;
    }
  }
  state.SetItemsProcessed(state.iterations());
  ssmodel_fini();
}
BENCHMARK(BM_AppendTrades);

// Bytes per record: the pool item itself, and for a stock also its share of
// the two arrays (slots and sorted) of the hash table at 100k stocks.
void BM_Footprint(benchmark::State& state) {
  runtime_once();
  ss_exchange* ex = fresh_model();
  for (const auto& c : sorted_codes()) ssmodel_add_stock(ex, c.c_str());
  double table_bytes = 2.0 * sizeof(void*) * (double)ex->stocks.size / (double)ex->stocks.count;
  for (auto _ : state) benchmark::DoNotOptimize(ex->stocks.count);
  state.counters["stock_record"] = sizeof(ss_stock);
  state.counters["stock_with_table"] = sizeof(ss_stock) + table_bytes;
  state.counters["depth_level"] = sizeof(ss_depth_level);
  state.counters["depth_order"] = sizeof(ss_depth_order);
  state.counters["trade"] = sizeof(ss_trade);
  ssmodel_fini();
}
BENCHMARK(BM_Footprint)->Iterations(1);

}  // namespace
