// Change recording and delivery at the feed's peak: 200,000 events a second
// over 5,000 watched stocks, delivered every 10 ms, so one tick is 2,000
// events (each listed on its stock and recorded as a change) and one
// delivery. Reports nanoseconds per record (with and without making the
// event), the delivery time of a tick, the io thread's trim and deferred-free
// pass every 5 simulated seconds, the process's peak memory and the bytes one
// event costs; beside it, the cost of recording on a stock nobody watches.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_support.h"
#include "dalloc.h"
#include "lazyfree.h"
#include "plat.h"
#include "ssevent.h"
#include "ssmodel.h"
#include "ssnotify.h"

namespace {

constexpr int kInstruments = 5000;
constexpr int kEventsPerSecond = 200000;
constexpr int kTickMs = 10;
constexpr int kEventsPerTick = kEventsPerSecond / 1000 * kTickMs;
constexpr int kTicksPerTrim = 5000 / kTickMs;  // the io thread trims every 5 s

// The clock of the deferred frees follows the simulated ticks, so events cut
// by trimming are freed after the same simulated delay as in the terminal.
int64_t g_sim_ms = 1000;
int64_t sim_clock() { return g_sim_ms; }

std::vector<instr*> make_model() {
  bench_model_start();
  ssevent_init();
  ssnotify_init();
  std::vector<instr*> ins;
  for (int i = 0; i < kInstruments; i++) {
    char code[8];
    snprintf(code, sizeof code, "B%04d", i);
    ins.push_back(ssmodel_add_stock(ssmodel_exchange(0), code));
  }
  return ins;
}

void stop_model() {
  ssnotify_fini();
  ssmodel_fini();
  ssevent_fini();
}

uint64_t g_seen = 0;
void reading_call(const ss_change* c, void*, uint64_t, uint32_t) {
  for (uint32_t i = 0; i < c->count; i++) g_seen += ssevent_event_time(c->events[i]);
}

// One quote event listed on a stock and recorded as its change.
void quote(instr* in, ss_time t) {
  auto* p = static_cast<ss_ev_quote*>(ssevent_new_payload(kEvQuote));
  p->time = t;
  p->last = t;
  ssnotify_record(in, kChangeQuote, ssevent_add_event(in, kEvQuote, p));
}

void BM_RecordAndDeliverTick(benchmark::State& state) {
  runtime_once();
  std::vector<instr*> ins = make_model();
  for (instr* in : ins) ssnotify_add(in, ~0u, reading_call, nullptr, 0, 0);
  // The stocks of a tick, drawn with a skew: a few stocks trade most.
  std::mt19937 rng(7);
  std::vector<int> picks(1 << 16);
  std::geometric_distribution<int> skew(0.002);
  for (int& p : picks) p = std::min(skew(rng), kInstruments - 1);
  dalloc_mem_stats_rec before{}, peak{};
  dalloc_mem_stats(&before);
  double record_ns = 0, deliver_ns = 0, trim_ns = 0, free_ns = 0;
  uint64_t ticks = 0, records = 0, trims = 0;
  uint32_t pick = 0;
  ss_time t = 1;
  plat_set_test_clock(sim_clock);
  lazyfree_set_delay(10);
  for (auto _ : state) {
    g_sim_ms += kTickMs;
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < kEventsPerTick; k++) quote(ins[picks[pick++ & 0xffff]], t++);
    auto t1 = std::chrono::steady_clock::now();
    ssnotify_deliver();
    auto t2 = std::chrono::steady_clock::now();
    record_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    deliver_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
    records += kEventsPerTick;
    if (++ticks % kTicksPerTrim == 0) {
      auto t3 = std::chrono::steady_clock::now();
      ssevent_trim_due();
      auto t4 = std::chrono::steady_clock::now();
      lazyfree_tick();
      auto t5 = std::chrono::steady_clock::now();
      trim_ns += std::chrono::duration<double, std::nano>(t4 - t3).count();
      free_ns += std::chrono::duration<double, std::nano>(t5 - t4).count();
      trims++;
      dalloc_mem_stats_rec now{};
      dalloc_mem_stats(&now);
      peak.resident_size = std::max(peak.resident_size, now.resident_size);
      peak.virtual_size = std::max(peak.virtual_size, now.virtual_size);
    }
  }
  dalloc_mem_stats_rec after{};
  dalloc_mem_stats(&after);
  peak.resident_size = std::max(peak.resident_size, after.resident_size);
  peak.virtual_size = std::max(peak.virtual_size, after.virtual_size);
  uint64_t listed = 0;
  for (instr* in : ins) listed += in->events.count;
  state.counters["ns_per_record"] = record_ns / static_cast<double>(records);
  state.counters["deliver_us_per_tick"] = deliver_ns / static_cast<double>(ticks) / 1000.0;
  if (trims) {
    state.counters["trim_ms_per_pass"] = trim_ns / static_cast<double>(trims) / 1e6;
    state.counters["free_ms_per_pass"] = free_ns / static_cast<double>(trims) / 1e6;
  }
  state.counters["peak_rss_MB"] = static_cast<double>(peak.resident_size) / 1e6;
  state.counters["rss_growth_MB"] = static_cast<double>(peak.resident_size - before.resident_size) / 1e6;
  state.counters["events_listed"] = static_cast<double>(listed);
  state.SetItemsProcessed(static_cast<int64_t>(records));
  benchmark::DoNotOptimize(g_seen);
  stop_model();
  plat_set_test_clock(nullptr);
}
BENCHMARK(BM_RecordAndDeliverTick)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// Change recording alone: the same 2,000 events (made once, on the same
// skewed stocks) are recorded and delivered every tick.
void BM_NotifyOnlyTick(benchmark::State& state) {
  runtime_once();
  std::vector<instr*> ins = make_model();
  for (instr* in : ins) ssnotify_add(in, ~0u, reading_call, nullptr, 0, 0);
  std::mt19937 rng(7);
  std::geometric_distribution<int> skew(0.002);
  std::vector<std::pair<instr*, ss_event*>> tick;
  for (int k = 0; k < kEventsPerTick; k++) {
    instr* in = ins[std::min(skew(rng), kInstruments - 1)];
    auto* p = static_cast<ss_ev_quote*>(ssevent_new_payload(kEvQuote));
    p->time = static_cast<ss_time>(k + 1);
    tick.emplace_back(in, ssevent_add_event(in, kEvQuote, p));
  }
  double record_ns = 0, deliver_ns = 0;
  uint64_t ticks = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (auto& [in, ev] : tick) ssnotify_record(in, kChangeQuote, ev);
    auto t1 = std::chrono::steady_clock::now();
    ssnotify_deliver();
    auto t2 = std::chrono::steady_clock::now();
    record_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    deliver_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
    ticks++;
  }
  state.counters["ns_per_record"] = record_ns / static_cast<double>(ticks * kEventsPerTick);
  state.counters["deliver_us_per_tick"] = deliver_ns / static_cast<double>(ticks) / 1000.0;
  state.SetItemsProcessed(static_cast<int64_t>(ticks * kEventsPerTick));
  benchmark::DoNotOptimize(g_seen);
  stop_model();
}
BENCHMARK(BM_NotifyOnlyTick)->Unit(benchmark::kMicrosecond);

// Bytes of one listed quote event (record and payload from their pools) and
// of the change entry that carries up to 1,024 of them, measured as resident
// growth while a million events are listed without trimming.
void BM_BytesPerEvent(benchmark::State& state) {
  runtime_once();
  constexpr int kEvents = 1000000;
  for (auto _ : state) {
    std::vector<instr*> ins = make_model();
    dalloc_mem_stats_rec before{}, after{};
    dalloc_mem_stats(&before);
    for (int k = 0; k < kEvents; k++) quote(ins[k % kInstruments], static_cast<ss_time>(k + 1));
    dalloc_mem_stats(&after);
    state.counters["bytes_per_event"] =
        static_cast<double>(after.resident_size - before.resident_size) / static_cast<double>(kEvents);
    state.counters["record_bytes"] = static_cast<double>(sizeof(ss_event) + sizeof(ss_ev_quote));
    state.counters["entry_bytes"] = static_cast<double>(sizeof(ss_change));
    stop_model();
  }
}
BENCHMARK(BM_BytesPerEvent)->Unit(benchmark::kMillisecond)->Iterations(1);

// A stock nobody watches: recording costs one test.
void BM_RecordUnwatched(benchmark::State& state) {
  runtime_once();
  std::vector<instr*> ins = make_model();
  uint32_t i = 0;
  for (auto _ : state) {
    ssnotify_record(ins[i++ % kInstruments], kChangeQuote, nullptr);
  }
  stop_model();
}
BENCHMARK(BM_RecordUnwatched);

}  // namespace
