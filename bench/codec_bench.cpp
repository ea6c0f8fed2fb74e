// Throughput of the codec's field readers and writers on a realistic mix:
// records of an instrument code, a time delta, a count, prices near their
// reference and volumes, the way depth and trade messages string them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decode.h"
#include "encode.h"

namespace {

constexpr ss_time kStart = (44u << 26) | (2u << 22) | (10u << 17) | 36000u;  // 2014-02-10 10:00:00
constexpr int kRecords = 20000;

const char* const kCodes[] = {"BHP", "CBA", "NAB", "ANZ", "WBC", "RIO", "TLS", "WOW", "QBE", "AMP",
                              "CSL", "WES", "FMG", "ORG", "STO", "BHPN", "XJO", "CBAPD", "NABHA", "IAG_X"};

// One record's values.
struct Record {
  const char* code;
  ss_time time;
  uint32_t count;
  uint32_t prices[3];
  uint64_t volumes[3];
  int32_t change;
};

std::vector<Record> make_records() {
  std::mt19937 rng(42);
  std::vector<Record> v(kRecords);
  ss_time t = kStart;
  uint32_t price = 45230;  // $4.523
  for (Record& r : v) {
    r.code = kCodes[rng() % std::size(kCodes)];
    t += rng() % 4 == 0 ? rng() % 10 : 0;
    r.time = t;
    r.count = rng() % 30;
    for (int i = 0; i < 3; i++) {
      // Mostly a few ticks from the last price, sometimes an odd fill.
      const int64_t step = static_cast<int64_t>(rng() % 9) - 4;
      price = static_cast<uint32_t>(static_cast<int64_t>(price) + step * 50);
      r.prices[i] = rng() % 20 == 0 ? price + 3 : price;
      const uint64_t lots[] = {100, 500, 1000, 2000, 5000, 10000, 25000, 100000};
      r.volumes[i] = rng() % 3 == 0 ? 1 + rng() % 50000 : lots[rng() % std::size(lots)];
    }
    r.change = static_cast<int32_t>(rng() % 400) - 200;
  }
  return v;
}

std::vector<uint8_t> encode_records(const std::vector<Record>& recs) {
  std::vector<uint8_t> out(recs.size() * 64);
  size_t n = 0;
  encode_set_ref_date(kStart);
  uint32_t ref = 0;
  for (const Record& r : recs) {
    n += encode_code(&out[n], r.code);
    n += encode_time_delta(&out[n], r.time);
    n += encode_vint(&out[n], r.count);
    for (int i = 0; i < 3; i++) {
      n += encode_price(&out[n], r.prices[i], &ref);
      n += encode_volume(&out[n], r.volumes[i]);
    }
    n += encode_index_change(&out[n], r.change);
  }
  out.resize(n);
  return out;
}

void BM_DecodeFieldMix(benchmark::State& state) {
  const std::vector<uint8_t> stream = encode_records(make_records());
  const int32_t len = static_cast<int32_t>(stream.size());
  for (auto _ : state) {
    decode_set_ref_date(kStart);
    uint32_t ref = 0;
    uint64_t sum = 0;
    int32_t pos = 0;
    char code[kCodecCodeBytes];
    while (pos < len) {
      const uint8_t* p = stream.data();
      ss_time t;
      uint32_t count, price;
      uint64_t vol;
      int32_t change;
      pos += decode_code(p + pos, len - pos, code, sizeof code);
      pos += decode_time_delta(p + pos, len - pos, &t);
      pos += decode_vint(p + pos, len - pos, &count);
      sum += t + count + static_cast<uint8_t>(code[0]);
      for (int i = 0; i < 3; i++) {
        pos += decode_price(p + pos, len - pos, &price, &ref);
        pos += decode_volume(p + pos, len - pos, &vol);
        sum += price + vol;
      }
      pos += decode_index_change(p + pos, len - pos, &change);
      sum += static_cast<uint32_t>(change);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
  state.counters["bytes_per_record"] = static_cast<double>(len) / kRecords;
  state.counters["fields/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kRecords * 10,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFieldMix);

void BM_EncodeFieldMix(benchmark::State& state) {
  const std::vector<Record> recs = make_records();
  int64_t bytes = 0;
  for (auto _ : state) {
    const std::vector<uint8_t> out = encode_records(recs);
    bytes += static_cast<int64_t>(out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_EncodeFieldMix);

void BM_DecodeVint(benchmark::State& state) {
  std::mt19937 rng(7);
  std::vector<uint8_t> stream(5 * 100000);
  size_t n = 0;
  for (int i = 0; i < 100000; i++) n += encode_vint(&stream[n], rng() >> (rng() % 32));
  stream.resize(n);
  const int32_t len = static_cast<int32_t>(n);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (int32_t pos = 0; pos < len;) {
      uint32_t v;
      pos += decode_vint(stream.data() + pos, len - pos, &v);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * len);
}
BENCHMARK(BM_DecodeVint);

}  // namespace
