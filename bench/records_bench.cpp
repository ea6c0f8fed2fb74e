// The list readers against the floor of what they do: a side of 10 levels of
// 20 orders read by the depth list reader (which checks the whole list, then
// replaces the side) against the same 200 orders applied straight through the
// depth events; and 1000 trades read by the all-trades reader against the
// same trades added straight to the stock's list. The ratio is the price of
// parsing and of reading each list twice.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "decdepth.h"
#include "dectrades.h"
#include "encdepth.h"
#include "enctrades.h"
#include "lazyfree.h"
#include "ssclient.h"
#include "ssevent.h"

namespace {

constexpr int kLevels = 10;
constexpr int kOrders = 20;
constexpr int kTrades = 1000;

struct Fixture {
  ss_stock* from = nullptr;
  ss_stock* into = nullptr;
  growbuf list = {};
  Fixture() {
    runtime_once();
    bench_model_start();
    lazyfree_set_enabled(0);
    ss_exchange* ex = ssmodel_exchange(0);
    ex->flags &= ~kExRecord;
    from = ssmodel_get_stock(ex, "BHP");
    into = ssmodel_get_stock(ex, "RIO");
    from->close = into->close = 10000;
    growbuf_init(&list, 65536, 65536);
  }
  ~Fixture() {
    growbuf_free(&list);
    ssmodel_fini();
  }
};

void BM_DepthListRead(benchmark::State& state) {
  Fixture f;
  for (int l = 0; l < kLevels; l++)
    for (int o = 0; o < kOrders; o++) ssevent_apply_depth_summary(f.from, 0, 0, 10000 - 10 * l, 100 * (o + 1), 1, nullptr);
  encdepth_encode_levels(&f.list, f.from, 0, 0);
  for (auto _ : state) {
    f.into->flags &= ~kRqBidLoaded;
    benchmark::DoNotOptimize(decdepth_decode_whole(f.into, 0, f.list.data, f.list.len));
  }
  state.SetItemsProcessed(state.iterations() * kLevels * kOrders);
}

void BM_DepthApplyReference(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    ssevent_clear_depth(f.into, 0, 0);
    for (int l = 0; l < kLevels; l++)
      for (int o = 0; o < kOrders; o++)
        benchmark::DoNotOptimize(ssevent_apply_depth_summary(f.into, 0, 0, 10000 - 10 * l, 100 * (o + 1), 1, nullptr));
  }
  state.SetItemsProcessed(state.iterations() * kLevels * kOrders);
}

void BM_TradeListRead(benchmark::State& state) {
  Fixture f;
  ss_time t = sstime_pack(0, 0, 10, 14, 3, 2014);
  ssmodel_set_date(ssmodel_exchange(0), sstime_pack_date(14, 3, 2014));
  for (int i = 0; i < kTrades; i++)
    ssevent_apply_trade(f.from, t + i, 10000 + 10 * (i % 7), 100 * (i % 13 + 1), 1, 1, 1, 1, 0, 0, 0, nullptr, nullptr);
  enctrades_encode_stock(&f.list, f.from, 0, ssmodel_exchange(0)->date);
  for (auto _ : state) {
    f.into->flags &= ~kRqEventsLoaded;
    f.into->last = 0;
    benchmark::DoNotOptimize(dectrades_decode_all(f.into, f.list.data, f.list.len));
  }
  state.SetItemsProcessed(state.iterations() * kTrades);
}

void BM_TradeAddReference(benchmark::State& state) {
  Fixture f;
  ss_time t = sstime_pack(0, 0, 10, 14, 3, 2014);
  for (auto _ : state) {
    ssmodel_free_trades(f.into);
    for (int i = 0; i < kTrades; i++) {
      ss_trade* x = ssmodel_add_trade(f.into, t + i, 10000 + 10 * (i % 7), 100 * (i % 13 + 1));
      x->bits = kTradeFlagDefault;
      benchmark::DoNotOptimize(x);
    }
  }
  state.SetItemsProcessed(state.iterations() * kTrades);
}

BENCHMARK(BM_DepthListRead);
BENCHMARK(BM_DepthApplyReference);
BENCHMARK(BM_TradeListRead);
BENCHMARK(BM_TradeAddReference);

}  // namespace
