// The chart's indicator computations beside the two reference libraries'
// (TA-Lib and Tulip Indicators, built from the sources scripts/ta_reference
// fetches; never part of the terminal) on the same 1,048,576 bars. Each
// benchmark reports bars per second; names pair up as
// "<indicator>/ours", "<indicator>/talib", "<indicator>/tulip".
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

#include "../charts/bench_series.h"

extern "C" {
#include "indicators.h"
}
#include "ta_libc.h"

namespace {

constexpr int32_t kBars = 1048576;

struct Series {
  chart_plot p{};
  std::vector<double> out[3];
  Series() {
    fill_walk(&p, kBars);
    TA_Initialize();
    for (auto& o : out) o.resize(kBars);
  }
  double* o(int k) { return out[k].data(); }
};

Series& series() {
  static Series s;
  return s;
}

void run(benchmark::State& state, const std::function<void()>& f) {
  for (auto _ : state) f();
  state.SetItemsProcessed(state.iterations() * kBars);
}

void ours(benchmark::State& state, int overlay, int32_t id, std::vector<float> params) {
  Series& s = series();
  chart_ta* ta = overlay ? alloc_add_overlay(&s.p, id) : alloc_add_indicator(&s.p, id);
  for (size_t i = 0; i < params.size(); i++) ta->params[i] = params[i];
  const ta_def* def = overlay ? ta_overlay_def(id) : ta_indicator_def(id);
  run(state, [&] { def->compute(&s.p, ta); });
  overlay ? alloc_remove_overlay(&s.p, ta) : alloc_remove_indicator(&s.p, ta);
}

int beg, nb;
const int kEnd = kBars - 1;

template <int N>
void tulip(int (*fn)(int, TI_REAL const* const*, TI_REAL const*, TI_REAL* const*), std::vector<const double*> in,
           std::vector<double> opts) {
  Series& s = series();
  TI_REAL* outs[3] = {s.o(0), s.o(1), s.o(2)};
  fn(kBars, in.data(), opts.data(), outs);
}

void add(const std::string& name, int overlay, int32_t id, std::vector<float> params, std::function<void()> talib,
         std::function<void()> tulip_fn) {
  benchmark::RegisterBenchmark((name + "/ours").c_str(), ours, overlay, id, params)->Unit(benchmark::kMillisecond);
  if (talib)
    benchmark::RegisterBenchmark((name + "/talib").c_str(), [talib](benchmark::State& st) {
      run(st, talib);
    })->Unit(benchmark::kMillisecond);
  if (tulip_fn)
    benchmark::RegisterBenchmark((name + "/tulip").c_str(), [tulip_fn](benchmark::State& st) {
      run(st, tulip_fn);
    })->Unit(benchmark::kMillisecond);
}

int register_all() {
  Series& s = series();
  const double *h = s.p.high, *l = s.p.low, *c = s.p.close, *v = s.p.volume;
  add(
      "SMA 50", 1, 2, {50}, [=] { TA_SMA(0, kEnd, c, 50, &beg, &nb, series().o(0)); },
      [=] { tulip<1>(ti_sma, {c}, {50}); });
  add(
      "EMA 20", 1, 3, {20}, [=] { TA_EMA(0, kEnd, c, 20, &beg, &nb, series().o(0)); },
      [=] { tulip<1>(ti_ema, {c}, {20}); });
  add(
      "Bollinger 20 2", 1, 4, {20, 2},
      [=] {
        Series& s = series();
        TA_BBANDS(0, kEnd, c, 20, 2, 2, TA_MAType_SMA, &beg, &nb, s.o(0), s.o(1), s.o(2));
      },
      [=] {
        tulip<3>(ti_bbands, {c}, {20, 2});
      });
  add(
      "RSI 14", 0, 4, {14}, [=] { TA_RSI(0, kEnd, c, 14, &beg, &nb, series().o(0)); },
      [=] { tulip<1>(ti_rsi, {c}, {14}); });
  add(
      "MACD 12 26 9", 0, 6, {12, 26, 9},
      [=] {
        Series& s = series();
        TA_MACD(0, kEnd, c, 12, 26, 9, &beg, &nb, s.o(0), s.o(1), s.o(2));
      },
      [=] {
        tulip<3>(ti_macd, {c}, {12, 26, 9});
      });
  add(
      "Full stochastic 14 3 3", 0, 15, {14, 3, 3},
      [=] {
        Series& s = series();
        TA_STOCH(0, kEnd, h, l, c, 14, 3, TA_MAType_SMA, 3, TA_MAType_SMA, &beg, &nb, s.o(0), s.o(1));
      },
      [=] {
        tulip<2>(ti_stoch, {h, l, c}, {14, 3, 3});
      });
  add(
      "Fast stochastic 14 3", 0, 17, {14, 3},
      [=] {
        Series& s = series();
        TA_STOCHF(0, kEnd, h, l, c, 14, 3, TA_MAType_SMA, &beg, &nb, s.o(0), s.o(1));
      },
      nullptr);
  add(
      "Stochastic RSI 14", 0, 18, {14},
      [=] {
        Series& s = series();
        TA_STOCHRSI(0, kEnd, c, 14, 14, 1, TA_MAType_SMA, &beg, &nb, s.o(0), s.o(1));
      },
      [=] { tulip<1>(ti_stochrsi, {c}, {14}); });
  add(
      "OBV", 0, 19, {}, [=] { TA_OBV(0, kEnd, c, v, &beg, &nb, series().o(0)); },
      [=] {
        tulip<1>(ti_obv, {c, v}, {});
      });
  add(
      "A/D", 0, 20, {}, [=] { TA_AD(0, kEnd, h, l, c, v, &beg, &nb, series().o(0)); },
      [=] {
        tulip<1>(ti_ad, {h, l, c, v}, {});
      });
  add("ATR 14 (SMA of TR)", 0, 25, {14}, nullptr, [=] {
    Series& s = series();
    tulip<1>(ti_tr, {h, l, c}, {});
    std::copy(s.out[0].begin(), s.out[0].end(), s.out[1].begin());
    const double* tr = s.o(1);
    tulip<1>(ti_sma, {tr}, {14});
  });
  add(
      "Momentum 20 (ROCR)", 0, 33, {20}, [=] { TA_ROCR(0, kEnd, c, 20, &beg, &nb, series().o(0)); }, nullptr);
  add(
      "APO 10 30", 0, 35, {10, 30}, [=] { TA_APO(0, kEnd, c, 10, 30, TA_MAType_SMA, &beg, &nb, series().o(0)); },
      nullptr);
  add(
      "PPO 12 26", 0, 36, {12, 26}, [=] { TA_PPO(0, kEnd, c, 12, 26, TA_MAType_SMA, &beg, &nb, series().o(0)); },
      nullptr);
  add("PVO 12 26", 0, 23, {12, 26}, nullptr, [=] { tulip<1>(ti_vosc, {v}, {12, 26}); });
  add(
      "Parabolic SAR", 1, 8, {2, 20}, [=] { TA_SAR(0, kEnd, h, l, 0.02, 0.2, &beg, &nb, series().o(0)); },
      [=] {
        tulip<1>(ti_psar, {h, l}, {0.02, 0.2});
      });
  add(
      "Price channel 20 (MAX, MIN)", 1, 7, {20},
      [=] {
        Series& s = series();
        TA_MAX(0, kEnd, h, 20, &beg, &nb, s.o(0));
        TA_MIN(0, kEnd, l, 20, &beg, &nb, s.o(1));
      },
      [=] {
        tulip<1>(ti_max, {h}, {20});
        Series& s = series();
        TI_REAL* outs[1] = {s.o(1)};
        const TI_REAL* in[1] = {l};
        const TI_REAL opt[1] = {20};
        ti_min(kBars, in, opt, outs);
      });
  return 0;
}
const int registered = register_all();

}  // namespace
