// Runtime core: item pools against the heap, the guarded allocator against
// plain malloc, chunk arenas, and log lines per second into a file with the
// memory log on and the echo off.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "chunk.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"
#include "pool.h"

namespace {

constexpr int32_t kItemSize = 64;

void BM_PoolAllocFreePair(benchmark::State& state) {
  pool p;
  pool_init(&p, 100, kItemSize);
  pool_free(&p, pool_alloc(&p));  // the first page is mapped outside the loop
  for (auto _ : state) {
    void* item = pool_alloc(&p);
    benchmark::DoNotOptimize(item);
    pool_free(&p, item);
  }
  state.SetItemsProcessed(state.iterations());
  pool_destroy(&p);
}
BENCHMARK(BM_PoolAllocFreePair);

// N items taken and then all given back; the pages stay mapped between
// rounds, as in a pool that has reached its working size.
void BM_PoolBulk(benchmark::State& state) {
  const int n = (int)state.range(0);
  pool p;
  pool_init(&p, 100, kItemSize);
  std::vector<void*> items((size_t)n);
  for (auto _ : state) {
    for (int i = 0; i < n; i++) items[(size_t)i] = pool_alloc(&p);
    benchmark::ClobberMemory();
    for (int i = 0; i < n; i++) pool_free(&p, items[(size_t)i]);
  }
  state.SetItemsProcessed(state.iterations() * n);
  pool_destroy(&p);
}
BENCHMARK(BM_PoolBulk)->Arg(1000)->Arg(100000);

void BM_MallocBulk(benchmark::State& state) {
  const int n = (int)state.range(0);
  std::vector<void*> items((size_t)n);
  for (auto _ : state) {
    for (int i = 0; i < n; i++) items[(size_t)i] = malloc(kItemSize);
    benchmark::ClobberMemory();
    for (int i = 0; i < n; i++) free(items[(size_t)i]);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MallocBulk)->Arg(1000)->Arg(100000);

void BM_DallocAllocFree(benchmark::State& state) {
  const int32_t size = (int32_t)state.range(0);
  for (auto _ : state) {
    void* p = dalloc_alloc(size);
    benchmark::DoNotOptimize(p);
    dalloc_free(p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DallocAllocFree)->Arg(16)->Arg(256)->Arg(4096);

void BM_MallocFree(benchmark::State& state) {
  const size_t size = (size_t)state.range(0);
  for (auto _ : state) {
    void* p = malloc(size);
    benchmark::DoNotOptimize(p);
    free(p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MallocFree)->Arg(16)->Arg(256)->Arg(4096);

void BM_ChunkAlloc(benchmark::State& state) {
  chunk_init();
  int64_t since_reset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(chunk_alloc(0, 24));
    if (++since_reset == 1000000) {  // bounds the memory a long run holds
      state.PauseTiming();
      chunk_fini();
      chunk_init();
      since_reset = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  chunk_fini();
}
BENCHMARK(BM_ChunkAlloc);

void BM_LogLine(benchmark::State& state) {
  plat_init();
  log_init();
  log_set_stderr(0);
  log_set_memory(1);
  std::string path = "/tmp/ambit_core_bench_" + std::to_string(getpid()) + ".log";
  log_set_filename(path.c_str());
  log_start();
  int64_t n = 0;
  for (auto _ : state) log(LOG_INFO, "src/bench", "quote %s bid %u ask %u seq %lld", "BHP", 4512u, 4515u, (long long)n++);
  state.SetItemsProcessed(state.iterations());
  log_fini();  // closes the file and drops the memory log
  unlink(path.c_str());
}
BENCHMARK(BM_LogLine);

}  // namespace
