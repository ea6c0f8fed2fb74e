// The CPU side of pictures and fades: preparing a document page's tiles
// (padding, cutting, copying into power-of-two texture rectangles) against a
// plain copy of the same bytes, and one fade tick over many running fades.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dalloc.h"
#include "lib/fade.h"
#include "lib/splash.h"
#include "lib/timer.h"
#include "log.h"
#include "plat.h"

namespace {

struct Runtime {
  Runtime() {
    dalloc_init();
    plat_init();
    log_init();
    log_set_stderr(0);
    splash_init();
    timer_init();
    fade_init();
  }
};
Runtime &runtime() {
  static Runtime r;
  return r;
}

// A 1600 x 2000 page: 6 x 8 tiles of the padded picture.
constexpr int kW = 1600, kH = 2000;

void BM_SplashPrepare(benchmark::State &state) {
  runtime();
  std::vector<uint8_t> px((size_t)kW * kH * 4, 0x5a);
  splash *s = splash_new();
  for (auto _ : state) {
    splash_prepare(s, px.data(), kW, kH, 0);
    benchmark::DoNotOptimize(s->prep);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)px.size());
  splash_delete(s);
}
BENCHMARK(BM_SplashPrepare)->Unit(benchmark::kMillisecond);

// The reference: copying the picture's bytes once, as a plain upload would.
void BM_PlainCopy(benchmark::State &state) {
  std::vector<uint8_t> px((size_t)kW * kH * 4, 0x5a), out(px.size());
  for (auto _ : state) {
    memcpy(out.data(), px.data(), px.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)px.size());
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

// One tick with n fades running (they never finish: the clock stands).
void BM_FadeTick(benchmark::State &state) {
  runtime();
  std::vector<fade_value> v((size_t)state.range(0));
  for (fade_value &f : v) {
    fade_clear(&f);
    fade_to(&f, 0, 1000, nullptr, nullptr, 0, 1e6f);
  }
  static int64_t now = plat_ms();  // timers need a clock that never goes back
  for (auto _ : state) timer_run(now += 16);
  for (fade_value &f : v) fade_stop(&f);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FadeTick)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace
