// Packed-time costs on the codec's paths (split, pack, the time-delta round
// trip, formatting) and of the news-feed date parser.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sstime.h"

namespace {

// A fixed spread of valid times across the packed range.
std::vector<ss_time> sample_times(size_t n) {
  std::vector<ss_time> out;
  uint32_t x = 2463534242u;
  while (out.size() < n) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ss_time t = sstime_pack(x % 60, x / 60 % 60, x / 3600 % 24, x / 86400 % 28 + 1, x / 2419200 % 12 + 1,
                            1970 + static_cast<int>(x % 64));
    if (t) out.push_back(t);
  }
  return out;
}

void BM_Unpack(benchmark::State& state) {
  std::vector<ss_time> ts = sample_times(1024);
  size_t i = 0;
  sstime_parts p;
  for (auto _ : state) {
    benchmark::DoNotOptimize(sstime_unpack(&p, ts[i++ & 1023]));
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Unpack);

void BM_Pack(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(sstime_pack(i % 60, 30, 10, i % 31 + 1, i % 12 + 1, 2014));
    i++;
  }
}
BENCHMARK(BM_Pack);

// What one time-delta field costs each side: the difference, then the sum.
void BM_DeltaRoundTrip(benchmark::State& state) {
  std::vector<ss_time> ts = sample_times(1024);
  size_t i = 0;
  for (auto _ : state) {
    ss_time r = ts[i & 1023], t = ts[(i + 1) & 1023];
    benchmark::DoNotOptimize(sstime_add_seconds(r, sstime_diff_seconds(t, r)));
    i++;
  }
}
BENCHMARK(BM_DeltaRoundTrip);

// The common stream case: a trade a few seconds after the previous one.
void BM_DeltaSameDay(benchmark::State& state) {
  ss_time r = sstime_pack(0, 0, 10, 10, 2, 2014);
  for (auto _ : state) {
    ss_time t = sstime_add_seconds(r, 7);
    benchmark::DoNotOptimize(sstime_diff_seconds(t, r));
    r = t;
    if ((r & kSstimeSecondsMask) > 80000) r = sstime_pack(0, 0, 10, 10, 2, 2014);
  }
}
BENCHMARK(BM_DeltaSameDay);

void BM_FormatDatetime(benchmark::State& state) {
  std::vector<ss_time> ts = sample_times(1024);
  char buf[kSstimeDatetimeLen];
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(sstime_format_datetime_into(buf, ts[i++ & 1023]));
}
BENCHMARK(BM_FormatDatetime);

void BM_ParseMailDate(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(sstime_parse_mail_date("Mon, 10 Feb 2014 10:30:00 +1100"));
}
BENCHMARK(BM_ParseMailDate);

}  // namespace
