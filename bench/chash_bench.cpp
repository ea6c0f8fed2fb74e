// chash against std::unordered_set<std::string_view> on 100k instrument-like
// codes: building the table (in code order, in random order, without keeping
// the sorted array, and presized) and finding present and absent codes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "chash.h"
#include "dalloc.h"
#include "log.h"
#include "plat.h"

namespace {

constexpr int kCodes = 100000;

// Three to six upper-case letters and digits, like exchange codes with their
// option and warrant suffixes; distinct, returned in code order.
const std::vector<std::string>& codes() {
  static const std::vector<std::string> all = [] {
    std::mt19937 rng(1234);
    const char alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::unordered_set<std::string> seen;
    std::vector<std::string> out;
    while (static_cast<int>(out.size()) < kCodes) {
      std::string c;
      for (int i = 0; i < 3; i++) c += static_cast<char>('A' + rng() % 26);
      int extra = rng() % 4;
      for (int i = 0; i < extra; i++) c += alnum[rng() % 36];
      if (seen.insert(c).second) out.push_back(c);
    }
    std::sort(out.begin(), out.end());
    return out;
  }();
  return all;
}

std::vector<std::string> shuffled() {
  std::vector<std::string> v = codes();
  std::shuffle(v.begin(), v.end(), std::mt19937(99));
  return v;
}

// Same key text, different address: a lookup must compare strings.
std::vector<std::string> misses() {
  std::vector<std::string> v;
  for (const std::string& c : codes()) v.push_back(c + "Z9");
  return v;
}

void start() {
  static bool done = [] {
    plat_init();
    log_init();
    dalloc_init();
    return true;
  }();
  (void)done;
}

void* rec(const std::string& s) { return const_cast<char*>(s.c_str()); }

// Builds a table from `keys` every iteration: with chash_add, which keeps the
// sorted array, or with chash_insert without it into a table sized beforehand
// for `expected` records.
void build_chash(benchmark::State& state, const std::vector<std::string>& keys, uint32_t expected, bool sorted) {
  for (auto _ : state) {
    chash t;
    chash_init(&t, expected);
    if (sorted)
      for (const std::string& k : keys) chash_add(&t, rec(k));
    else
      for (const std::string& k : keys) chash_insert(&t, rec(k), 0);
    benchmark::DoNotOptimize(t.count);
    chash_free(&t);
  }
  state.SetItemsProcessed(state.iterations() * kCodes);
}

void BM_ChashAddInCodeOrder(benchmark::State& state) {
  start();
  build_chash(state, codes(), 0, true);
}
BENCHMARK(BM_ChashAddInCodeOrder)->Unit(benchmark::kMillisecond);

void BM_ChashAddInRandomOrder(benchmark::State& state) {
  start();
  build_chash(state, shuffled(), 0, true);
}
BENCHMARK(BM_ChashAddInRandomOrder)->Unit(benchmark::kMillisecond);

void BM_ChashInsertUnsortedPresized(benchmark::State& state) {
  start();
  build_chash(state, shuffled(), 2 * kCodes, false);
}
BENCHMARK(BM_ChashInsertUnsortedPresized)->Unit(benchmark::kMillisecond);

void BM_UnorderedSetInsertRandomOrder(benchmark::State& state) {
  const auto keys = shuffled();
  for (auto _ : state) {
    std::unordered_set<std::string_view> s;
    for (const std::string& k : keys) s.insert(k);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetItemsProcessed(state.iterations() * kCodes);
}
BENCHMARK(BM_UnorderedSetInsertRandomOrder)->Unit(benchmark::kMillisecond);

// Looks every probe up in a table of all the codes, every iteration. The
// probes are separate copies of their text, so a lookup must compare strings.
void find_in_chash(benchmark::State& state, const std::vector<std::string>& probes) {
  chash t;
  chash_init(&t, 0);
  for (const std::string& k : codes()) chash_add(&t, rec(k));
  for (auto _ : state) {
    size_t found = 0;
    for (const std::string& p : probes) found += chash_find(&t, p.c_str()) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kCodes);
  chash_free(&t);
}

void BM_ChashFindHit(benchmark::State& state) {
  start();
  find_in_chash(state, shuffled());
}
BENCHMARK(BM_ChashFindHit)->Unit(benchmark::kMillisecond);

void BM_ChashFindMiss(benchmark::State& state) {
  start();
  find_in_chash(state, misses());
}
BENCHMARK(BM_ChashFindMiss)->Unit(benchmark::kMillisecond);

// The same lookups in a std::unordered_set of views of the codes.
void find_in_set(benchmark::State& state, const std::vector<std::string>& probes) {
  std::unordered_set<std::string_view> s;
  for (const std::string& k : codes()) s.insert(k);
  for (auto _ : state) {
    size_t found = 0;
    for (const std::string& p : probes) found += s.count(p);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kCodes);
}

void BM_UnorderedSetFindHit(benchmark::State& state) { find_in_set(state, shuffled()); }
BENCHMARK(BM_UnorderedSetFindHit)->Unit(benchmark::kMillisecond);

void BM_UnorderedSetFindMiss(benchmark::State& state) { find_in_set(state, misses()); }
BENCHMARK(BM_UnorderedSetFindMiss)->Unit(benchmark::kMillisecond);

}  // namespace
