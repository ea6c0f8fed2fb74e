// Indicator computations against TA-Lib and Tulip Indicators (vectors in
// ta_reference.txt) where the definitions agree, and against hand-worked
// tables where the chart's definition differs from theirs.
#include "charts/ta_indicator.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "chart_fixture.h"
#include "charts/ta_overlay.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

// The reference series as a chart's samples.
void load_series(TestPlot& plot) {
  const Reference& r = Reference::get();
  plot.set_bars(r["open"], r["high"], r["low"], r["close"], r["volume"]);
}

chart_ta* indicator(TestPlot& plot, int32_t type, std::vector<float> params) {
  chart_ta* ta = alloc_add_indicator(plot.get(), type);
  EXPECT_NE(ta, nullptr);
  for (size_t i = 0; i < params.size(); i++) ta->params[i] = params[i];
  EXPECT_EQ(ta_indicator_def(type)->compute(plot.get(), ta), 0);
  return ta;
}

using Expect = std::function<double(int32_t)>;

Expect ref(const std::string& label) {
  const std::vector<double>* v = &Reference::get()[label];
  return [v](int32_t i) { return (*v)[i]; };
}

// ours - theirs composed from two reference vectors.
Expect diff(const std::string& a, const std::string& b) {
  Expect fa = ref(a), fb = ref(b);
  return [fa, fb](int32_t i) { return fa(i) - fb(i); };
}

// The reference with samples [from, to) left out.
Expect except(Expect e, int32_t from, int32_t to) {
  return [e, from, to](int32_t i) { return i >= from && i < to ? NAN : e(i); };
}

// DPO composed from the reference average: close[i] - sma[i - p/2 - 1].
Expect dpo(const std::string& sma, int32_t p) {
  Expect c = ref("close"), s = ref(sma);
  int32_t back = p / 2 + 1;
  return [c, s, back](int32_t i) { return i < back ? NAN : c(i) - s(i - back); };
}

struct Case {
  const char* what;
  int32_t type;
  std::vector<float> params;
  int line;
  Expect expected;
  int32_t from;   // first sample compared
  int32_t first;  // first sample of ours with a value
  bool gap_is_zero;
};

TEST(TaIndicator, MatchesReferenceLibraries) {
  const int32_t n = Reference::get().n;
  ASSERT_GT(n, 100);
  const std::vector<Case> cases = {
      {"Price", 0, {}, 0, ref("close"), 0, 0, false},
      {"Vol + EMA volume", 3, {20}, 0, ref("volume"), 0, 0, false},
      {"Vol + EMA ema", 3, {20}, 1, ref("ema_volume_20"), 19, 19, false},
      // RSI over change[] with change[0] = 0 sums the same p changes.
      {"RSI 14 TA-Lib", 4, {14}, 0, ref("rsi_14_talib"), 14, 14, false},
      {"RSI 14 Tulip", 4, {14}, 0, ref("rsi_14_tulip"), 14, 14, false},
      {"RSI 2 TA-Lib", 4, {2}, 0, ref("rsi_2_talib"), 2, 2, false},
      {"RSI 5 Tulip", 4, {5}, 0, ref("rsi_5_tulip"), 5, 5, false},
      // Before 2p - 1 the window still holds warm-up entries (hand table
      // below). Over the flat run (samples 60-71) the RSI is constant in
      // exact arithmetic, so the window's spread is rounding noise in either
      // computation: those samples are left out.
      {"StochRSI 14", 18, {14}, 0, except(ref("stochrsi_14"), 60, 72 + 14), 27, 14, false},
      {"StochRSI 5", 18, {5}, 0, except(ref("stochrsi_5"), 60, 72 + 5), 9, 5, false},
      {"MACD", 5, {12, 26, 9}, 0, ref("macd_12_26_9_m"), 0, 25, false},
      {"MACD signal", 5, {12, 26, 9}, 1, ref("macd_12_26_9_signal"), 0, 33, false},
      {"MACD Hist fast", 6, {3, 5, 2}, 1, ref("macd_3_5_2_m"), 0, 4, false},
      {"MACD Hist smoothed", 6, {3, 5, 2}, 2, ref("macd_3_5_2_signal"), 0, 5, false},
      {"MACD Hist diff", 6, {12, 26, 9}, 0, diff("macd_12_26_9_m", "macd_12_26_9_signal"), 0, 33, false},
      // Our %K windows are partial at the start; the libraries start once
      // every window is whole.
      {"Full Stochastic fast", 15, {14, 3, 3}, 0, ref("stoch_14_3_3_k"), 15, 2, false},
      {"Full Stochastic slow", 15, {14, 3, 3}, 1, ref("stoch_14_3_3_d"), 17, 4, false},
      {"Full Stochastic 5 2 4", 15, {5, 2, 4}, 1, ref("stoch_5_2_4_d"), 8, 4, false},
      {"Slow Stochastic fast", 16, {14, 3}, 0, ref("stoch_14_3_3_k"), 15, 2, false},
      {"Slow Stochastic slow", 16, {14, 3}, 1, ref("stoch_14_3_3_d"), 17, 4, false},
      {"Fast Stochastic fast", 17, {14, 3}, 0, ref("stochf_14_3_k"), 13, 0, true},
      {"Fast Stochastic slow", 17, {14, 3}, 1, ref("stochf_14_3_d"), 15, 2, false},
      {"Fast Stochastic 5 2", 17, {5, 2}, 1, ref("stochf_5_2_d"), 5, 1, false},
      {"Accum Dist", 20, {}, 0, ref("ad"), 0, 0, false},
      {"PVO", 23, {12, 26}, 0, ref("pvo_12_26"), 0, 25, false},
      {"PVO 3 7", 23, {3, 7}, 0, ref("pvo_3_7"), 0, 6, false},
      {"PVO Hist osc", 38, {12, 26, 9}, 2, ref("pvo_12_26"), 0, 25, false},
      {"PVO Hist trigger", 38, {12, 26, 9}, 1, ref("pvo_12_26_9_trigger"), 0, 33, false},
      {"PVO Hist diff", 38, {12, 26, 9}, 0, diff("pvo_12_26", "pvo_12_26_9_trigger"), 0, 33, false},
      {"Av True Range 14", 25, {14}, 0, ref("atr_14"), 0, 13, false},
      {"ATR 10", 40, {10}, 0, ref("atr_10"), 0, 9, false},
      {"ATR 1", 40, {1}, 0, ref("tr"), 0, 0, false},
      {"ATR 2", 40, {2}, 0, ref("atr_2"), 0, 1, false},
      {"ADR 10", 39, {10}, 0, ref("adr_10"), 0, 9, false},
      {"ADR 2", 39, {2}, 0, ref("adr_2"), 0, 1, false},
      {"Momentum 20", 33, {20}, 0, ref("momentum_20"), 0, 20, false},
      {"Momentum 1", 33, {1}, 0, ref("momentum_1"), 0, 1, false},
      {"Momentum 5", 33, {5}, 0, ref("momentum_5"), 0, 5, false},
      {"APO 10 30", 35, {10, 30}, 0, ref("apo_10_30"), 0, 29, false},
      {"APO 3 7", 35, {3, 7}, 0, ref("apo_3_7"), 0, 6, false},
      {"PPO 12 26", 36, {12, 26}, 0, ref("ppo_12_26"), 0, 25, false},
      {"PPO 10 30", 36, {10, 30}, 0, ref("ppo_10_30"), 0, 29, false},
      {"PPO Hist osc", 37, {12, 26, 9}, 2, ref("ppo_12_26"), 0, 25, false},
      {"PPO Hist trigger", 37, {12, 26, 9}, 1, ref("ppo_12_26_9_trigger"), 0, 33, false},
      {"PPO Hist diff", 37, {12, 26, 9}, 0, diff("ppo_12_26", "ppo_12_26_9_trigger"), 0, 33, false},
      // DPO: the close less the average h + 1 samples back.
      {"DPO 20", 8, {20}, 0, dpo("sma_close_20", 20), 0, 30, false},
      {"DPO 5", 8, {5}, 0, dpo("sma_close_5", 5), 0, 7, false},
  };
  for (const Case& c : cases) {
    TestPlot plot;
    load_series(plot);
    chart_ta* ta = indicator(plot, c.type, c.params);
    expect_matches(RefCheck{ta->lines[c.line], n, c.from, c.first, c.gap_is_zero}, c.expected, c.what);
  }
}

}  // namespace

namespace {

constexpr double NV = kChartNoValue;

struct HandCase {
  const char* what;
  int32_t type;
  std::vector<float> params;
  std::vector<double> close;   // open = high = low = close unless bars given
  std::vector<double> high;    // empty: the close
  std::vector<double> low;     // empty: the close
  std::vector<double> volume;  // empty: zeros
  int line;
  std::vector<double> expected;
};

// Hand-worked cases where the chart's definition is its own.
TEST(TaIndicator, HandWorkedCases) {
  const std::vector<HandCase> cases = {
      // OBV restarts at the volume of an unchanged sample; sample 0 counts
      // only its own direction (change 0 there).
      {"OBV", 19, {}, {10, 11, 11, 10, 12}, {}, {}, {100, 20, 30, 40, 50}, 0, {0, 20, 30, -10, 40}},
      {"OBV falls", 19, {}, {10, 9, 8}, {}, {}, {5, 6, 7}, 0, {0, -6, -13}},
      // RSI: only rises, and a flat series, give 100 from sample p on.
      {"RSI rises", 4, {2}, {1, 2, 3, 4, 5}, {}, {}, {}, 0, {NV, NV, 100, 100, 100}},
      {"RSI flat", 4, {2}, {7, 7, 7, 7}, {}, {}, {}, 0, {NV, NV, 100, 100}},
      // changes 0, +2, -1, +3; p = 2: sums 2 and 1 over three changes, /2
      // each; then avgG (1 + 3) / 2 = 2, avgL 0.5 / 2 = 0.25.
      {"RSI p 2", 4, {2}, {10, 12, 11, 14}, {}, {}, {}, 0, {NV, NV, 100 - 100 / (1 + 2.0), 100 - 100 / (1 + 8.0)}},
      {"RSI p = n has none", 4, {3}, {1, 2, 3}, {}, {}, {}, 0, {NV, NV, NV}},
      {"RSI p > n clears", 4, {4}, {1, 2, 3}, {}, {}, {}, 0, {NV, NV, NV}},
      // StochRSI p = 3 on closes 10 12 11 14 16 15: RSI 100 - 100/6 (s3),
      // 100 - 100/9 (s4), 100 - 100/(1 + 32/13) (s5). Sample 4's window
      // holds a warm-up entry as the largest number: a value just above 0.
      {"StochRSI warm-up", 18, {3}, {10, 12, 11, 14, 16, 15}, {}, {}, {}, 0,
       {NV, NV, NV, 0, ((100 - 100 / 9.0) - (100 - 100 / 6.0)) * 100 / (NV - (100 - 100 / 6.0)), 0}},
      // Fast %K: a close on the window's low is a gap; Full smooths over it
      // dividing by its period all the same.
      {"%K gap", 17, {2, 2}, {10, 8, 9}, {10, 10, 10}, {8, 8, 8}, {}, 0, {100, NV, 50}},
      {"Full over gap", 15, {2, 2, 2}, {10, 8, 9}, {10, 10, 10}, {8, 8, 8}, {}, 0, {NV, 50, 25}},
      // A sample without a price: no %K there, and its no-value high and low
      // take no part in the windows after it.
      {"%K no close", 17, {2, 2}, {10, NV, 9}, {10, NV, 10}, {8, NV, 8}, {}, 0, {100, NV, 50}},
      {"%K no close, high and low kept", 17, {2, 2}, {10, NV, 9}, {10, 11, 10}, {8, 7, 8}, {}, 0,
       {100, NV, 50}},
      {"Full over no close", 15, {2, 2, 2}, {10, NV, 9}, {10, NV, 10}, {8, NV, 8}, {}, 0, {NV, NV, 25}},
      // Raw %K 100, -, 50, 50; line 0 NV, (gap), 25, 50; line 1 their mean.
      {"Slow over no close", 16, {2, 2}, {10, NV, 9, 9}, {10, NV, 10, 10}, {8, NV, 8, 8}, {}, 1,
       {NV, NV, NV, 37.5}},
      {"Accum Dist no close", 20, {}, {9, NV, 7}, {10, NV, 8}, {8, NV, 4}, {100, 50, 10}, 0, {0, NV, 5}},
      // Volume + EMA with its period outside 1..n clears both lines.
      {"Volume + EMA period above n", 3, {4}, {1, 2, 3}, {}, {}, {10, 20, 30}, 0, {NV, NV, NV}},
      {"Volume + EMA period above n, EMA", 3, {4}, {1, 2, 3}, {}, {}, {10, 20, 30}, 1, {NV, NV, NV}},
      {"Volume + EMA period 0", 3, {0}, {1, 2, 3}, {}, {}, {10, 20, 30}, 0, {NV, NV, NV}},
      // Momentum of a flat series is 0.01; a zero close earlier has no ratio.
      {"Momentum flat", 33, {2}, {5, 5, 5, 5}, {}, {}, {}, 0, {NV, NV, 0.01, 0.01}},
      {"Momentum zero base", 33, {1}, {0, 5, 10}, {}, {}, {}, 0, {NV, NV, 0.02}},
      // PPO over a zero slow average has no value.
      {"PPO slow 0", 36, {2, 3}, {0, 0, 0, 3}, {}, {}, {}, 0, {NV, NV, NV, (1.5 - 1) * 100 / 1}},
      // A/D per sample, sample 0 included; a bar with high = low gives 0.
      {"Accum Dist", 20, {}, {9, 5, 6}, {10, 5, 8}, {8, 5, 4}, {100, 50, 10}, 0, {0, 0, 0}},
      {"Accum Dist up", 20, {}, {10, 7}, {10, 8}, {8, 4}, {100, 40}, 0, {100, 20}},
      // ATR: TR 2, max(1, |5-3|=2... ) as the range or the gap to the close.
      {"ATR 1", 40, {1}, {4, 6}, {5, 7}, {3, 6.5}, {}, 0, {2, 3}},
      {"Foreign id in a shared routine", 7, {14}, {1, 2, 3}, {}, {}, {}, 0, {NV, NV, NV}},
  };
  for (const HandCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestPlot plot;
    size_t n = c.close.size();
    plot.set_bars(c.close, c.high.empty() ? c.close : c.high, c.low.empty() ? c.close : c.low, c.close,
                  c.volume.empty() ? std::vector<double>(n, 0.0) : c.volume);
    chart_ta* ta;
    if (c.type == 7) {
      // No indicator 7 exists: run the RSI routine on an instance marked 7.
      ta = alloc_add_indicator(plot.get(), 4);
      ta->type = 7;
      ta_rsi(plot.get(), ta);
      ta->type = 4;
    } else {
      ta = indicator(plot, c.type, c.params);
    }
    for (size_t i = 0; i < n; i++) {
      double a = ta->lines[c.line][i], b = c.expected[i];
      if (no_value(b) || no_value(a))
        EXPECT_EQ(a, b) << "sample " << i;
      else
        // Relative only: the warm-up values near 0 must not pass as 0.
        EXPECT_NEAR(a, b, 1e-12 * std::max(std::fabs(a), std::fabs(b))) << "sample " << i;
    }
  }
}

// Performance: from the first visible sample with a close above 0.
TEST(TaIndicator, PerformanceFromFirstVisiblePositiveClose) {
  struct Row {
    std::vector<double> close;
    int32_t first_visible;
    std::vector<double> expected;
  };
  const std::vector<Row> rows = {
      {{5, 10, 12, 15}, 1, {NV, 0, 20, 50}},
      {{5, 0, 4, 2}, 0, {0, -100, -20, -60}},
      {{5, 0, NV, 4, 2}, 1, {NV, NV, NV, 0, -50}},
      {{0, 0, NV}, 0, {NV, NV, NV}},
  };
  for (const Row& r : rows) {
    TestPlot plot;
    plot.set_closes(r.close);
    plot->first_visible = r.first_visible;
    chart_ta* ta = indicator(plot, 1, {});
    for (size_t i = 0; i < r.close.size(); i++) EXPECT_DOUBLE_EQ(ta->lines[0][i], r.expected[i]) << i;
  }
}

// Price Performance is left to chart update; every other instance runs.
TEST(TaIndicator, ComputeAllSkipsPerformance) {
  TestPlot plot;
  plot.set_closes({1, 2, 3});
  chart_ta* perf = alloc_add_indicator(plot.get(), 1);
  chart_ta* price = alloc_add_indicator(plot.get(), 0);
  chart_ta* close = alloc_add_overlay(plot.get(), 0);
  EXPECT_EQ(ta_compute_all(plot.get()), 0);
  EXPECT_TRUE(no_value(perf->lines[0][2]));
  EXPECT_EQ(price->lines[0][2], 3);
  EXPECT_EQ(close->lines[0][0], 3);
}

}  // namespace

namespace {

// The fused one-pass routines agree with the averages composed one at a
// time, gaps included.
TEST(TaIndicator, FusedPassesEqualComposedAverages) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; round++) {
    int32_t n = 60 + (int32_t)(rng() % 200);
    std::vector<double> close(n);
    for (int32_t i = 0; i < n; i++) close[i] = (rng() % 13 == 0) ? kChartNoValue : 50 + (double)(rng() % 1000) / 10;
    int32_t pf = 1 + (int32_t)(rng() % 12), ps = pf + (int32_t)(rng() % 20), pt = 1 + (int32_t)(rng() % 9);
    TestPlot plot;
    plot.set_closes(close);
    std::vector<double> fast(n), slow(n), m(n), sig(n);
    ta_sma(fast.data(), close.data(), n, pf);
    ta_sma(slow.data(), close.data(), n, ps);
    chart_ta* apo = indicator(plot, 35, {(float)pf, (float)ps});
    chart_ta* ppo = indicator(plot, 37, {(float)pf, (float)ps, (float)pt});
    for (int32_t i = 0; i < n; i++) {
      bool ok = !no_value(fast[i]) && !no_value(slow[i]);
      EXPECT_EQ(apo->lines[0][i], ok ? fast[i] - slow[i] : NV) << i;
      m[i] = ok && slow[i] != 0 ? (fast[i] - slow[i]) * 100 / slow[i] : NV;
      // The oscillator divides once: equal to rounding.
      if (no_value(m[i]))
        EXPECT_EQ(ppo->lines[2][i], NV) << i;
      else
        EXPECT_NEAR(ppo->lines[2][i], m[i], 1e-12 * std::max(1.0, std::fabs(m[i]))) << i;
    }
    ta_ema(sig.data(), m.data(), n, pt);
    for (int32_t i = 0; i < n; i++) {
      if (no_value(sig[i]))
        EXPECT_EQ(ppo->lines[1][i], NV) << i;
      else
        EXPECT_NEAR(ppo->lines[1][i], sig[i], 1e-12 * std::max(1.0, std::fabs(sig[i]))) << i;
    }

    ta_ema(fast.data(), close.data(), n, pf);
    ta_ema(slow.data(), close.data(), n, ps);
    for (int32_t i = 0; i < n; i++)
      m[i] = !no_value(fast[i]) && !no_value(slow[i]) ? fast[i] - slow[i] : NV;
    ta_ema(sig.data(), m.data(), n, pt);
    chart_ta* macd = indicator(plot, 6, {(float)pf, (float)ps, (float)pt});
    for (int32_t i = 0; i < n; i++) {
      EXPECT_EQ(macd->lines[1][i], m[i]) << i;
      EXPECT_EQ(macd->lines[2][i], sig[i]) << i;
      EXPECT_EQ(macd->lines[0][i], !no_value(m[i]) && !no_value(sig[i]) ? m[i] - sig[i] : NV) << i;
    }
  }
}

}  // namespace

namespace {

// RSI reads the samples' own changes (a daily bar's change is from the
// previous day's close, also for the first bar shown), not close differences.
TEST(TaIndicator, RsiFollowsBarChanges) {
  TestPlot plot;
  plot.set_closes({10, 12, 11, 14});
  const double change[] = {5, 2, -1, 3};
  for (int i = 0; i < 4; i++) plot->change[i] = change[i];
  chart_ta* rsi = indicator(plot, 4, {2});
  // Sums 7 and 1 over the first three changes, /2: 3.5 and 0.5.
  EXPECT_DOUBLE_EQ(rsi->lines[0][2], 100 - 100 / (1 + 7.0));
  // Then (3.5 + 3) / 2 and 0.5 / 2.
  EXPECT_DOUBLE_EQ(rsi->lines[0][3], 100 - 100 / (1 + 3.25 / 0.25));
}

}  // namespace
