// Value formatter costs: a price with small-digit cents, an abbreviated
// volume and a grouped volume per call, against a plain snprintf of the
// same number as the reference in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "lib/fmt.h"

namespace {

// Prices and volumes spread over the cases the formatters branch on.
constexpr uint32_t kPrices[] = {12345, 12350, 12300, 50, 999999, 7, 100000, 4321};
constexpr uint64_t kVolumes[] = {999, 1500, 1234567, 2000000, 12500000, 12340000000ull, 42, 987654321};

void BM_SnprintfReference(benchmark::State &state) {
  char buf[32];
  size_t i = 0;
  for (auto _ : state) {
    uint32_t v = kPrices[i++ & 7];
    snprintf(buf, sizeof buf, "%u.%02u", v / 100, v % 100);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_SnprintfReference);

void BM_PriceSmallCents(benchmark::State &state) {
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(fmt_price_small_cents(kPrices[i++ & 7]));
}
BENCHMARK(BM_PriceSmallCents);

void BM_VolumeShort(benchmark::State &state) {
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(fmt_volume_short(kVolumes[i++ & 7]));
}
BENCHMARK(BM_VolumeShort);

void BM_VolumeGrouped(benchmark::State &state) {
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(fmt_volume(kVolumes[i++ & 7]));
}
BENCHMARK(BM_VolumeGrouped);

}  // namespace
