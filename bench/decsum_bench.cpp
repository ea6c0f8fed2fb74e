// The stock summary reader against the floor of what it does: an exchange of
// 5,000 stocks (day values and three levels of two orders a side) read from
// its summary payload, against the same values stored straight into the
// stocks and the same orders applied straight through the depth events. The
// ratio is the price of parsing the summary and checking speeds.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_support.h"
#include "decblk.h"
#include "decsum.h"
#include "dechdr.h"
#include "encsum.h"
#include "lazyfree.h"
#include "ssevent.h"

namespace {

constexpr int kStocks = 5000;
constexpr int kLevels = 3;
constexpr int kOrders = 2;

uint32_t price_of(int i) { return 1000 + 10 * static_cast<uint32_t>(i % 997); }

struct Fixture {
  ss_exchange* ex = nullptr;
  growbuf payload = {};
  Fixture() {
    runtime_once();
    bench_model_start();
    lazyfree_set_enabled(0);
    ex = ssmodel_exchange(0);
    ex->flags &= ~(kExRecord | kExClientTracks);
    ssmodel_set_date(ex, sstime_pack_date(12, 3, 2014));
    for (int i = 0; i < kStocks; i++) {
      char code[kCodeSize];
      snprintf(code, sizeof code, "S%05d", i);
      ss_stock* s = ssmodel_get_stock(ex, code);
      dechdr_add_stock_speed(s);
      fill(s, i);
    }
    growbuf all;
    growbuf_init(&all, 1 << 20, 1 << 20);
    growbuf_init(&payload, 1 << 20, 1 << 20);
    encsum_encode_stock(&all, ex, decsum_options());  // as the reader will run
    // The stock summary's payload: after the index summary and the
    // depth-only list, each a 2-byte head and a block.
    int32_t at = 0;
    for (int m = 0; m < 3; m++) {
      const uint8_t type = all.data[at + 1];
      growbuf_reset(&payload);
      at += 2 + decblk_inflate(all.data + at + 2, all.len - at - 2, &payload);
      if (type == kSumStocks) break;
    }
    growbuf_free(&all);
  }
  ~Fixture() {
    growbuf_free(&payload);
    ssmodel_fini();
  }
  static void fill(ss_stock* s, int i) {
    const uint32_t p = price_of(i);
    s->close = p;
    s->open = p + 10;
    s->high = p + 30;
    s->low = p - 10;
    s->last = p + 20;
    s->first_price = p + 10;
    s->volume = s->second_volume = 1000 * (i + 1);
    s->value = s->second_value = s->volume * s->last / 100;
    s->trade_count = 10;
    s->last_trade_time = sstime_pack(0, 0, 15, 12, 3, 2014);
    ssevent_clear_depth(s, 0, 2);
    for (int l = 0; l < kLevels; l++)
      for (int o = 0; o < kOrders; o++) {
        ssevent_apply_depth_summary(s, 0, 0, p - 10 * (l + 1), 100 * (o + 1), 1, nullptr);
        ssevent_apply_depth_summary(s, 0, 1, p + 10 * (l + 3), 100 * (o + 1), 1, nullptr);
      }
  }
};

void BM_StockSummaryRead(benchmark::State& state) {
  Fixture f;
  if (decsum_decode_stock(f.ex, f.payload.data, f.payload.len) != 0 || f.ex->speed_count != kStocks) {
    state.SkipWithError("the summary does not read back");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(decsum_decode_stock(f.ex, f.payload.data, f.payload.len));
  state.SetItemsProcessed(state.iterations() * kStocks);
  state.SetBytesProcessed(state.iterations() * f.payload.len);
}

void BM_StockSummaryStoreReference(benchmark::State& state) {
  Fixture f;
  for (auto _ : state)
    for (uint32_t i = 0; i < f.ex->speed_count; i++) Fixture::fill(f.ex->speeds[i], static_cast<int>(i));
  state.SetItemsProcessed(state.iterations() * kStocks);
}

BENCHMARK(BM_StockSummaryRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StockSummaryStoreReference)->Unit(benchmark::kMillisecond);

}  // namespace
