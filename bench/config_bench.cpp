// The configuration text model on a user configuration of realistic shape:
// 2000 window blocks of 8 keys each, quoted strings, rectangles and times.
// Parse (copy, split, tree) and write (measure, format, append) are set
// against a plain reference that only finds the line ends and the blanks of
// the same text, the floor of any parser of it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench_support.h"
#include "config/config.h"
#include "sstime.h"

namespace {

constexpr int kWindows = 2000;

void config_once() {
  runtime_once();
  static bool done = false;
  if (!done) done = config_init() == 0;
}

void write_windows() {
  config_out_reset();
  const int32_t rect[4] = {10, 20, 640, 480};
  const ss_time t = sstime_pack(15, 30, 10, 5, 3, 2014);
  for (int i = 0; i < kWindows; i++) {
    config_printf("window");
    config_out_push("window");
    config_printf("role %s", "chart");
    config_printf("rect %R", rect);
    config_printf("title %s", "BHP \"daily\" chart");
    config_printf("when %T", t);
    config_printf("id %d", i);
    config_printf("flags %x %b %b", 0xbeefu, 1, 0);
    config_printf("volume %Lu", (uint64_t)i * 1000003u);
    config_printf("scale %f", 1.25);
    config_out_pop();
  }
}

std::string sample_text() {
  config_once();
  write_windows();
  int32_t len = 0;
  const char* out = config_out_buffer(&len);
  return std::string(out, (size_t)len);
}

void BM_ConfigParse(benchmark::State& state) {
  const std::string text = sample_text();
  for (auto _ : state) {
    config_load_buffer(text.data(), (int32_t)text.size());
    benchmark::DoNotOptimize(config_get("window"));
  }
  config_reset();
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
}
BENCHMARK(BM_ConfigParse);

void BM_ConfigWrite(benchmark::State& state) {
  config_once();
  int32_t len = 0;
  for (auto _ : state) {
    write_windows();
    benchmark::DoNotOptimize(config_out_buffer(&len));
  }
  state.SetBytesProcessed((int64_t)state.iterations() * len);
}
BENCHMARK(BM_ConfigWrite);

// Reference: one pass over a copy that cuts lines and words, nothing built.
void BM_ConfigSplitReference(benchmark::State& state) {
  const std::string text = sample_text();
  std::string copy;
  for (auto _ : state) {
    copy = text;
    size_t words = 0;
    for (char& c : copy) {
      if (c == '\n' || c == ' ') {
        c = '\0';
        words++;
      }
    }
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
}
BENCHMARK(BM_ConfigSplitReference);

}  // namespace
