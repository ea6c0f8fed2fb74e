// Indicator computations: each family is one routine over the chart's
// samples, picking its lines by the instance's type id. Warm-up samples and
// divisions by zero give kChartNoValue; a routine that cannot compute (a bad
// period, a work array that cannot be had, a foreign id) clears its lines.
#include "charts/ta_indicator.h"

#include <algorithm>
#include <cmath>

#include "charts/alloc.h"
#include "charts/ta_overlay.h"

static inline bool is_value(double v) { return v != kChartNoValue; }

static int32_t period_of(float p) {
  if (!(p >= -2e9f && p <= 2e9f)) return 0;
  return (int32_t)p;
}

int ta_price(chart_plot* chart, chart_ta* inst) {
  std::copy(chart->close, chart->close + std::max(chart->count, 0), inst->lines[0]);
  return 0;
}

int ta_performance(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  const double* close = chart->close;
  double* out = inst->lines[0];
  ta_fill_empty(out, n);
  int32_t i = std::max(chart->first_visible, 0);
  while (i < n && !(is_value(close[i]) && close[i] > 0)) i++;
  if (i >= n) return 0;
  double base = close[i];
  out[i] = 0;
  for (i++; i < n; i++) out[i] = is_value(close[i]) ? (close[i] - base) * 100 / base : kChartNoValue;
  return 0;
}

// Wilder's RSI over change[], and its stochastic (18).
int ta_rsi(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  if ((inst->type != 4 && inst->type != 18) || p < 1 || p > n) return ta_clear_lines(chart, inst);
  double* r = inst->type == 4 ? inst->lines[0] : alloc_work_values(2, n);
  if (!r) return ta_clear_lines(chart, inst);
  const double* ch = chart->change;
  double g = 0, l = 0;
  for (int32_t i = 0; i < p; i++) {
    if (ch[i] > 0) g += ch[i];
    if (ch[i] < 0) l -= ch[i];
    r[i] = kChartNoValue;
  }
  if (p < n) {
    if (ch[p] > 0) g += ch[p];
    if (ch[p] < 0) l -= ch[p];
    g /= p;
    l /= p;
    r[p] = l == 0 ? 100 : 100 - 100 / (1 + g / l);
    for (int32_t i = p + 1; i < n; i++) {
      g = (g * (p - 1) + (ch[i] > 0 ? ch[i] : 0)) / p;
      l = (l * (p - 1) + (ch[i] < 0 ? -ch[i] : 0)) / p;
      r[i] = l == 0 ? 100 : 100 - 100 / (1 + g / l);
    }
  }
  if (inst->type == 4) return 0;
  // The no-value entries of the warm-up take part as the largest number, so
  // the first p - 1 stochastic values after it sit near 0.
  double* out = inst->lines[0];
  for (int32_t i = 0; i < n; i++) {
    double hi = r[i], lo = r[i];
    for (int32_t k = std::max(0, i - p + 1); k < i; k++) {
      hi = std::max(hi, r[k]);
      lo = std::min(lo, r[k]);
    }
    out[i] = hi > lo ? (r[i] - lo) * 100 / (hi - lo) : kChartNoValue;
  }
  return 0;
}

// The three averages run side by side in one pass.
int ta_macd(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  if (inst->type != 5 && inst->type != 6) return ta_clear_lines(chart, inst);
  ta_ema_stream fast(period_of(inst->params[0]), n), slow(period_of(inst->params[1]), n);
  ta_ema_stream trigger(period_of(inst->params[2]), n);
  bool hist = inst->type == 6;
  double* m = hist ? inst->lines[1] : inst->lines[0];
  double* sig = hist ? inst->lines[2] : inst->lines[1];
  double* diff = hist ? inst->lines[0] : nullptr;
  const double* close = chart->close;
  for (int32_t i = 0; i < n; i++) {
    double f = fast.step(close[i]), s = slow.step(close[i]);
    double mi = is_value(f) && is_value(s) ? f - s : kChartNoValue;
    double si = trigger.step(mi);
    m[i] = mi;
    sig[i] = si;
    if (diff) diff[i] = is_value(mi) && is_value(si) ? mi - si : kChartNoValue;
  }
  return 0;
}

int ta_dpo(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  double* s = alloc_work_values(0, n);
  if (!s || p < 1 || p > n) return ta_clear_lines(chart, inst);
  ta_sma(s, chart->close, n, p);
  int32_t h = p / 2;
  int32_t f = 0;
  while (f < n && !is_value(s[f])) f++;
  double* out = inst->lines[0];
  int32_t start = std::min<int64_t>(n, (int64_t)f + std::max(h, 1) + 1);
  ta_fill_empty(out, start);
  for (int32_t i = start; i < n; i++) {
    double a = s[i - h - 1];
    out[i] = is_value(a) ? chart->close[i] - a : kChartNoValue;
  }
  return 0;
}

// Raw %K over a window of k samples (fewer at the start); no value where the
// window is flat, the close sits on its low or the sample has no close. Highs
// and lows without a value take no part in the window.
static void raw_k(const chart_plot* chart, double* out, int32_t k) {
  int32_t n = chart->count;
  for (int32_t i = 0; i < n; i++) {
    double hh = -HUGE_VAL, ll = HUGE_VAL;
    for (int32_t j = std::max(0, i - k + 1); j <= i; j++) {
      if (is_value(chart->high[j])) hh = std::max(hh, chart->high[j]);
      if (is_value(chart->low[j])) ll = std::min(ll, chart->low[j]);
    }
    double c = chart->close[i];
    bool ok = is_value(c) && std::isfinite(hh) && std::isfinite(ll) && hh > ll && c != ll;
    out[i] = ok ? (c - ll) * 100 / (hh - ll) : kChartNoValue;
  }
}

// No value on a line where the sample has no close.
static void gaps_of_close(const chart_plot* chart, double* line) {
  for (int32_t i = 0; i < chart->count; i++)
    if (!is_value(chart->close[i])) line[i] = kChartNoValue;
}

int ta_stochastic(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, k = period_of(inst->params[0]);
  int32_t p2 = period_of(inst->params[1]), p3 = period_of(inst->params[2]);
  if (k < 1 || (inst->type != 15 && inst->type != 16 && inst->type != 17)) return ta_clear_lines(chart, inst);
  // The averages skip a sample without a close; its own place on each line
  // stays empty.
  if (inst->type == 17) {
    raw_k(chart, inst->lines[0], k);
  } else {
    double* raw = alloc_work_values(0, n);
    if (!raw) return ta_clear_lines(chart, inst);
    raw_k(chart, raw, k);
    ta_sma(inst->lines[0], raw, n, p2);
    gaps_of_close(chart, inst->lines[0]);
  }
  ta_sma(inst->lines[1], inst->lines[0], n, inst->type == 15 ? p3 : p2);
  gaps_of_close(chart, inst->lines[1]);
  return 0;
}

int ta_obv(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  const double *ch = chart->change, *vol = chart->volume;
  double t = 0;
  for (int32_t i = 0; i < n; i++) {
    if (ch[i] > 0)
      t += vol[i];
    else if (ch[i] < 0)
      t -= vol[i];
    else
      t = i == 0 ? 0 : vol[i];  // unchanged: the total restarts
    inst->lines[0][i] = t;
  }
  return 0;
}

int ta_accum_dist(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  for (int32_t i = 0; i < n; i++) {
    double h = chart->high[i], l = chart->low[i], c = chart->close[i];
    if (!is_value(h) || !is_value(l) || !is_value(c)) {
      inst->lines[0][i] = kChartNoValue;  // no price at this sample
      continue;
    }
    inst->lines[0][i] = h != l ? ((c - l) - (h - c)) / (h - l) * chart->volume[i] : 0;
  }
  return 0;
}

// Two simple averages of one input in one pass, each as ta_sma gives it
// (the divisor is the period, no-value inputs skipped); calls
// out(i, fast has a value, fast sum, slow has a value, slow sum) for every
// sample, the division left to the caller.
template <class Out>
static void sma_pair(const double* in, int32_t n, int32_t pf, int32_t ps, Out out) {
  bool fast_ok = pf >= 1 && pf <= n, slow_ok = ps >= 1 && ps <= n;
  int32_t f = 0;
  while (f < n && !is_value(in[f])) out(f++, false, 0.0, false, 0.0);
  double sf = 0, ss = 0;
  for (int32_t i = f; i < n; i++) {
    double x = in[i];
    if (is_value(x)) {
      sf += x;
      ss += x;
    }
    if (fast_ok && i - pf >= f && is_value(in[i - pf])) sf -= in[i - pf];
    if (slow_ok && i - ps >= f && is_value(in[i - ps])) ss -= in[i - ps];
    out(i, fast_ok && i >= f + pf - 1, sf, slow_ok && i >= f + ps - 1, ss);
  }
}

// Percent oscillator of two simple averages, with an optional EMA trigger:
// PPO (36) and PPO Hist (37) on the close, PVO (23) and PVO Hist (38) on
// the volume.
static int percent_oscillator(chart_plot* chart, chart_ta* inst, const double* in, bool hist) {
  int32_t n = chart->count;
  double* o = hist ? inst->lines[2] : inst->lines[0];
  ta_ema_stream trigger(period_of(inst->params[2]), n);
  int32_t pf = period_of(inst->params[0]), ps = period_of(inst->params[1]);
  // (sf/pf - ss/ps) x 100 / (ss/ps) with one division a sample.
  double kf = (double)ps * 100, ks = (double)pf * 100, kd = pf;
  sma_pair(in, n, pf, ps, [&](int32_t i, bool fast_ok, double sf, bool slow_ok, double ss) {
    double v = slow_ok && ss != 0 && fast_ok ? (sf * kf - ss * ks) / (ss * kd) : kChartNoValue;
    o[i] = v;
    if (hist) {
      double t = trigger.step(v);
      inst->lines[1][i] = t;
      inst->lines[0][i] = is_value(v) && is_value(t) ? v - t : kChartNoValue;
    }
  });
  return 0;
}

int ta_pvo(chart_plot* chart, chart_ta* inst) {
  if (inst->type != 23 && inst->type != 38) return ta_clear_lines(chart, inst);
  return percent_oscillator(chart, inst, chart->volume, inst->type == 38);
}

int ta_ppo(chart_plot* chart, chart_ta* inst) {
  if (inst->type != 36 && inst->type != 37) return ta_clear_lines(chart, inst);
  return percent_oscillator(chart, inst, chart->close, inst->type == 37);
}

int ta_average_true_range(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  if ((inst->type != 25 && inst->type != 40) || p < 1 || p > n) return ta_clear_lines(chart, inst);
  double* tr = p == 1 ? inst->lines[0] : alloc_work_values(0, n);
  if (!tr) return ta_clear_lines(chart, inst);
  const double *h = chart->high, *l = chart->low, *c = chart->close;
  tr[0] = h[0] - l[0];
  for (int32_t i = 1; i < n; i++)
    tr[i] = std::max({h[i] - l[i], std::fabs(h[i] - c[i - 1]), std::fabs(l[i] - c[i - 1])});
  return p == 1 ? 0 : ta_sma(inst->lines[0], tr, n, p);
}

int ta_adr(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  if (p < 1 || p > n) return ta_clear_lines(chart, inst);
  double* range = p == 1 ? inst->lines[0] : alloc_work_values(0, n);
  if (!range) return ta_clear_lines(chart, inst);
  for (int32_t i = 0; i < n; i++) range[i] = chart->high[i] - chart->low[i];
  return p == 1 ? 0 : ta_sma(inst->lines[0], range, n, p);
}

int ta_momentum(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  if (p < 1 || p > n) return ta_clear_lines(chart, inst);
  const double* c = chart->close;
  double* out = inst->lines[0];
  ta_fill_empty(out, p);
  for (int32_t i = p; i < n; i++) {
    // A close of 0 (the percent and cumulative scales make them) or no value
    // has no ratio.
    bool ok = is_value(c[i]) && is_value(c[i - p]) && c[i - p] != 0;
    out[i] = ok ? c[i] / c[i - p] * 0.01 : kChartNoValue;
  }
  return 0;
}

int ta_apo(chart_plot* chart, chart_ta* inst) {
  double* out = inst->lines[0];
  int32_t pf = period_of(inst->params[0]), ps = period_of(inst->params[1]);
  sma_pair(chart->close, chart->count, pf, ps, [=](int32_t i, bool fast_ok, double sf, bool slow_ok, double ss) {
    out[i] = fast_ok && slow_ok ? sf / pf - ss / ps : kChartNoValue;
  });
  return 0;
}
