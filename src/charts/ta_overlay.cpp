// Series helpers and overlay computations of the technical analysis.
//
// Every value array uses kChartNoValue for "no value here"; a NaN counts as a
// value. Routines borrow work slots of alloc_work_values (0-2; the price
// channels 0-3) and keep nothing in them between calls. Every routine is a
// few linear passes: the Bollinger deviation slides its sums (summing a
// window directly only where the sliding form would lose digits) and the
// channels take window extremes block-wise instead of rescanning.
#include "charts/ta_overlay.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "charts/alloc.h"
#include "charts/history.h"
#include "charts/ta.h"
#include "ssevent.h"
#include "ssmodel.h"

static inline bool is_value(double v) { return v != kChartNoValue; }

static int32_t period_of(float p) {
  if (!(p >= -2e9f && p <= 2e9f)) return 0;  // NaN and huge parameters
  return (int32_t)p;
}

int ta_fill_empty(double* out, int32_t n) {
  for (int32_t i = 0; i < n; i++) out[i] = kChartNoValue;
  return 0;
}

int ta_clear_lines(chart_plot* chart, chart_ta* inst) {
  const ta_def* d = inst->is_overlay ? ta_overlay_def(inst->type) : ta_indicator_def(inst->type);
  int lines = d ? d->line_count : kTaMaxLines;
  for (int l = 0; l < lines; l++)
    if (inst->lines[l]) ta_fill_empty(inst->lines[l], chart->count);
  return 0;
}

static int32_t first_value(const double* in, int32_t n) {
  int32_t f = 0;
  while (f < n && !is_value(in[f])) f++;
  return f;
}

int ta_sma(double* out, const double* in, int32_t n, int32_t period) {
  if (period < 1 || period > n) return ta_fill_empty(out, n);
  int32_t f = first_value(in, n);
  ta_fill_empty(out, std::min(n, f + period - 1));
  double s = 0;
  for (int32_t i = f; i < n && i < f + period - 1; i++)
    if (is_value(in[i])) s += in[i];
  for (int32_t i = f + period - 1; i < n; i++) {
    if (is_value(in[i])) s += in[i];
    if (i - period >= f && is_value(in[i - period])) s -= in[i - period];
    out[i] = s / period;
  }
  return 0;
}

int ta_ema(double* out, const double* in, int32_t n, int32_t period) {
  ta_ema_stream ema(period, n);
  for (int32_t i = 0; i < n; i++) out[i] = ema.step(in[i]);
  return 0;
}

int ta_close(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  if (n < 1) return ta_clear_lines(chart, inst);
  double last = chart->close[n - 1];
  for (int32_t i = 0; i < n; i++) inst->lines[0][i] = last;
  return 0;
}

int ta_prev_close(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  if (n < 1) return ta_clear_lines(chart, inst);
  double prev;
  const instr* in = chart->main;
  if (in && in->kind == 1) {
    uint32_t c = static_cast<const ss_stock*>(in)->close;
    prev = (c == kNoPrice) ? 0 : c / 100.0;
  } else if (in && in->kind == 2) {
    const auto* ix = static_cast<const ss_index*>(in);
    prev = ((double)ix->value - (double)ix->change) / 100.0;
  } else {
    prev = chart->close[0];
  }
  if (prev == 0) return ta_clear_lines(chart, inst);
  for (int32_t i = 0; i < n; i++) inst->lines[0][i] = prev;
  return 0;
}

int ta_sma_overlay(chart_plot* chart, chart_ta* inst) {
  return ta_sma(inst->lines[0], chart->close, chart->count, period_of(inst->params[0]));
}

int ta_ema_overlay(chart_plot* chart, chart_ta* inst) {
  return ta_ema(inst->lines[0], chart->close, chart->count, period_of(inst->params[0]));
}

// Population deviation of the closes of each window about that window's
// average (the middle band), from sample p on. Written as sliding sums of
// the closes less a shift K, which is reset to a recent close every p
// samples (the sums are then taken afresh, so rounding never builds up over
// more than p steps). Where the sum of squares comes out small beside the
// terms that went through the sums since then, the subtraction has lost
// digits: that sample is summed directly (flat runs mostly). Calls
// emit(i, deviation) for every sample, no value before sample p.
template <class Emit>
static void bollinger_deviation(const double* close, const double* mid, int32_t n, int32_t p, Emit emit) {
  for (int32_t i = 0; i < std::min(n, p); i++) emit(i, kChartNoValue);
  double k = 0, s1 = 0, s2 = 0, peak = 0;
  int32_t cnt = 0, fresh = 0;
  for (int32_t i = p; i < n; i++) {
    if (--fresh < 0) {
      fresh = p - 1;
      k = is_value(close[i]) ? close[i] : k;
      s1 = s2 = peak = 0;
      cnt = 0;
      for (int32_t j = i - p + 1; j <= i; j++) {
        if (!is_value(close[j])) continue;
        double y = close[j] - k;
        s1 += y;
        s2 += y * y;
        peak = std::max(peak, y * y);
        cnt++;
      }
    } else {
      // One addition a sum per sample: what comes in less what goes out.
      double yin = 0, yout = 0;
      if (is_value(close[i])) {
        yin = close[i] - k;
        peak = std::max(peak, yin * yin);
        cnt++;
      }
      if (is_value(close[i - p])) {
        yout = close[i - p] - k;
        cnt--;
      }
      s1 += yin - yout;
      s2 += yin * yin - yout * yout;
    }
    double m = mid[i];
    if (!is_value(m) || cnt == 0) {
      emit(i, kChartNoValue);
      continue;
    }
    double d = m - k;
    double scale = s2 + cnt * d * d + p * peak;
    double ss = s2 - 2 * d * s1 + cnt * d * d;
    if (!(ss > 1e-4 * scale)) {
      ss = 0;
      for (int32_t j = i - p + 1; j <= i; j++)
        if (is_value(close[j])) ss += (close[j] - m) * (close[j] - m);
    }
    emit(i, std::sqrt(ss / cnt));
  }
}

// Bollinger bands (overlay 4) and their width (28) and position (29).
int ta_bollinger(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  bool overlay = inst->is_overlay;
  if ((overlay && inst->type != 4) || (!overlay && inst->type != 28 && inst->type != 29) || p < 1 || p > n)
    return ta_clear_lines(chart, inst);
  double* mid = overlay ? inst->lines[0] : alloc_work_values(0, n);
  if (!mid) return ta_clear_lines(chart, inst);
  const double* close = chart->close;
  ta_sma(mid, close, n, p);
  double mult = inst->params[1];
  double** lines = inst->lines;
  int32_t type = inst->type;
  bollinger_deviation(close, mid, n, p, [=](int32_t i, double dev) {
    bool ok = is_value(dev);
    double up = ok ? mid[i] + dev * mult : kChartNoValue;
    double lo = ok ? mid[i] - dev * mult : kChartNoValue;
    if (overlay) {
      lines[1][i] = up;
      lines[2][i] = lo;
    } else if (type == 28) {
      // Width in percent of the middle band.
      lines[0][i] = (ok && mid[i] != 0) ? (up - lo) * 100 / mid[i] : kChartNoValue;
    } else {
      // Where the close sits between the bands, in percent.
      bool c = ok && is_value(close[i]) && up != lo;
      lines[0][i] = c ? (close[i] - lo) * 100 / (up - lo) : kChartNoValue;
    }
  });
  return 0;
}

int ta_ma_envelopes(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  if (p < 1 || p > n) return ta_clear_lines(chart, inst);
  double* mid = inst->lines[0];
  ta_sma(mid, chart->close, n, p);
  double pct = inst->params[1] / 100.0;
  bool bands = pct > 0 && pct < 1;
  for (int32_t i = 0; i < n; i++) {
    bool ok = bands && is_value(mid[i]);
    inst->lines[1][i] = ok ? mid[i] * (1 + pct) : kChartNoValue;
    inst->lines[2][i] = ok ? mid[i] * (1 - pct) : kChartNoValue;
  }
  return 0;
}

int ta_keltner(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  int32_t pb = period_of(inst->params[0]), pm = period_of(inst->params[1]);
  double* typical = alloc_work_values(0, n);
  double* range = alloc_work_values(1, n);
  double* band = alloc_work_values(2, n);
  if (!typical || !range || !band || pb < 1 || pb > n || pm < 1 || pm > n) return ta_clear_lines(chart, inst);
  // A sample without a price gives no typical price or range (the averages
  // skip it) and no value on any line: a sum with the no-value marker in it
  // would be a number near 1e38.
  const double *high = chart->high, *low = chart->low, *close = chart->close;
  for (int32_t i = 0; i < n; i++) {
    bool hl = is_value(high[i]) && is_value(low[i]);
    typical[i] = hl && is_value(close[i]) ? (high[i] + low[i] + close[i]) / 3 : kChartNoValue;
    range[i] = hl ? high[i] - low[i] : kChartNoValue;
  }
  ta_sma(band, range, n, pb);
  double* mid = inst->lines[1];
  ta_sma(mid, typical, n, pm);
  for (int32_t i = 0; i < n; i++) {
    if (!is_value(close[i])) mid[i] = kChartNoValue;
    bool ok = is_value(mid[i]) && is_value(band[i]);
    inst->lines[0][i] = ok ? mid[i] + band[i] : kChartNoValue;
    inst->lines[2][i] = ok ? mid[i] - band[i] : kChartNoValue;
  }
  return 0;
}

// Extremes of every window of w samples ending at each index, without a
// branch on the data (van Herk / Gil-Werman): within blocks of w samples, a
// running extreme from each block's start (pre) and to each block's end
// (suf); the window [j - w + 1, j] spans at most two blocks, so its extreme
// is that of suf at its start and pre at its end.
template <class Pick>
static void block_extremes(const double* v, int32_t n, int32_t w, double* pre, double* suf, Pick pick) {
  for (int32_t b = 0; b < n; b += w) {
    int32_t end = std::min(n, b + w);
    pre[b] = v[b];
    for (int32_t j = b + 1; j < end; j++) pre[j] = pick(pre[j - 1], v[j]);
    suf[end - 1] = v[end - 1];
    for (int32_t j = end - 2; j >= b; j--) suf[j] = pick(suf[j + 1], v[j]);
  }
}

// Each side takes the bar's own extreme when it passes the channel, else
// the extreme of the period - 1 samples before it (fewer at the start;
// just the sample before for a period of 1 or 2).
int ta_price_channels(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count, p = period_of(inst->params[0]);
  int32_t w = std::max(p - 1, 1);
  double* hpre = alloc_work_values(0, n);
  double* hsuf = alloc_work_values(1, n);
  double* lpre = alloc_work_values(2, n);
  double* lsuf = alloc_work_values(3, n);
  if (n < 1 || p < 1 || p > n || !hpre || !hsuf || !lpre || !lsuf) return ta_clear_lines(chart, inst);
  const double *high = chart->high, *low = chart->low;
  auto hi = [](double a, double b) { return std::max(a, b); };
  auto lo = [](double a, double b) { return std::min(a, b); };
  block_extremes(high, n, w, hpre, hsuf, hi);
  block_extremes(low, n, w, lpre, lsuf, lo);
  double *up = inst->lines[0], *dn = inst->lines[1];
  up[0] = high[0];
  dn[0] = low[0];
  double run_hi = high[0], run_lo = low[0];  // over [0, i - 1] while the window is not whole
  for (int32_t i = 1; i < n; i++) {
    int32_t a = i - w;  // the window before sample i: [a, i - 1]
    double mh = a >= 0 ? hi(hsuf[a], hpre[i - 1]) : run_hi;
    double ml = a >= 0 ? lo(lsuf[a], lpre[i - 1]) : run_lo;
    up[i] = high[i] >= up[i - 1] ? high[i] : mh;
    dn[i] = low[i] <= dn[i - 1] ? low[i] : ml;
    run_hi = hi(run_hi, high[i]);
    run_lo = lo(run_lo, low[i]);
  }
  return 0;
}

// Parabolic SAR with its reversal points at the highest high or lowest low
// since the last reversal. Sample 0 has no value.
int ta_parabolic_sar(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  if (n < 1) return ta_clear_lines(chart, inst);
  const double *high = chart->high, *low = chart->low;
  double* out = inst->lines[0];
  double s = inst->params[0] / 100.0, c = inst->params[1] / 100.0;
  bool longt = chart->change[0] >= 0;
  double sar = longt ? low[0] : high[0];
  double ep = longt ? high[0] : low[0];
  double a = s, hh = high[0], ll = low[0];
  out[0] = kChartNoValue;
  for (int32_t j = 1; j < n; j++) {
    sar += a * (ep - sar);
    double o = sar;
    if (longt) {
      if (sar >= low[j]) {
        o = sar = hh;
        ep = ll;
        hh = high[j];
        ll = low[j];
        longt = false;
        a = s;
      } else {
        if (high[j] > ep) {
          ep = high[j];
          a = std::min(a + s, c);
        }
        if (sar >= low[j - 1]) o = sar = std::min(low[j - 1], low[j]);
      }
    } else {
      if (high[j] >= sar) {
        o = sar = ll;
        ep = hh;
        hh = high[j];
        ll = low[j];
        longt = true;
        a = s;
      } else {
        if (low[j] < ep) {
          ep = low[j];
          a = std::min(a + s, c);
        }
        if (high[j - 1] >= sar) o = sar = std::max(high[j - 1], high[j]);
      }
    }
    out[j] = o;
    hh = std::max(hh, high[j]);
    ll = std::min(ll, low[j]);
  }
  return 0;
}

int ta_volume(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  bool ok = inst->is_overlay ? inst->type == 9 : (inst->type == 2 || inst->type == 3);
  if (!ok) return ta_clear_lines(chart, inst);
  // Volume + EMA (3) with its period outside 1..n can't compute: both lines
  // are cleared, as for any routine that can't.
  const bool ema = !inst->is_overlay && inst->type == 3;
  const int32_t p = period_of(inst->params[0]);
  if (ema && (p < 1 || p > n)) return ta_clear_lines(chart, inst);
  std::copy(chart->volume, chart->volume + std::max(n, 0), inst->lines[0]);
  if (ema) ta_ema(inst->lines[1], chart->volume, n, p);
  return 0;
}

// An announcement of only the regular report kinds.
static bool news_is_regular(const ss_news* item) {
  static const uint32_t kRegular[] = {13, 14, 18, 59, 60, 171, 174};
  for (int i = 0; i < kNewsCodes && item->codes[i]; i++)
    if (std::find(std::begin(kRegular), std::end(kRegular), item->codes[i]) == std::end(kRegular)) return false;
  return true;
}

int ta_news(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  if (!chart->issuer || n < 1) return ta_clear_lines(chart, inst);
  double* line = inst->lines[0];
  for (int32_t i = 0; i < n; i++) line[i] = 0;
  int32_t first = std::max(chart->first_visible, 0), last = std::min(chart->last_visible, n - 1);
  if (last < first) return 0;
  // The sample after the last visible one: the end sentinel past the last.
  ss_time end = chart->times[last + 1];
  int32_t cur = last;
  for (const ss_news* item = chart->issuer->news.tail; item; item = item->prev) {
    if (!item->time) continue;
    bool sensitive = item->flags & kNewsFlag1;
    if (inst->params[0] == 1 && !sensitive) continue;
    if (inst->params[1] != 1 && !sensitive && news_is_regular(item)) continue;
    if (inst->params[2] != 1 && (item->flags & kNewsFlag4)) continue;
    if (item->time > end) continue;
    while (cur >= first && chart->times[cur] > item->time) cur--;
    if (cur < first) break;
    line[cur] += sensitive ? 1001 : 1;
  }
  return 0;
}

namespace {
// The running VWAP sums, placed at the sample whose time bracket holds each
// contribution; samples passed take over the sums before them.
struct vwap_sums {
  const ss_time* times;
  int32_t n;
  double* value;
  double* volume;
  int32_t cur;
  bool restart;

  void add(ss_time t, uint32_t price, uint64_t qty) {
    while (cur + 1 < n && times[cur + 1] <= t) {
      cur++;
      value[cur] = value[cur - 1];
      volume[cur] = volume[cur - 1];
    }
    double v = (double)price * (double)qty / 100;
    if (restart) {
      value[cur] = v;
      volume[cur] = (double)qty;
      restart = false;
    } else {
      value[cur] += v;
      volume[cur] += (double)qty;
    }
  }
};
}  // namespace

int ta_vwap(chart_plot* chart, chart_ta* inst) {
  int32_t n = chart->count;
  instr* in = chart->main;
  if (n < 1 || !in || in->kind != 1 || chart->eod) return ta_clear_lines(chart, inst);
  auto* stock = static_cast<ss_stock*>(in);
  double* value = alloc_work_values(0, n);
  double* volume = alloc_work_values(1, n);
  if (!value || !volume) return ta_clear_lines(chart, inst);
  std::fill(value, value + n, 0.0);
  std::fill(volume, volume + n, 0.0);
  vwap_sums sums{chart->times, n, value, volume, 0, true};

  ss_time today = in->exchange ? in->exchange->date : 0;
  bool earlier = !((chart->range == 11 && sstime_date_compare(chart->from, today) >= 0) ||
                   (chart->range == 5 && chart->range_count == 1));
  if (earlier) {
    int32_t fv = std::clamp(chart->first_visible, 0, n - 1);
    ss_time first_time = chart->times[fv];
    bool want_bars =
        sstime_date_compare(first_time, today) < 0 && (chart->period >= 2 || (chart->options & kChartOptAutoPeriod));
    for (ss_day* day = in->days.head; day; day = day->next) {
      if (sstime_date_compare(day->date, first_time) < 0) continue;
      int32_t nbars = 0;
      const chart_bar* bars = history_day_bars(day, &nbars);
      sums.restart = true;
      if (nbars > 0 && (want_bars || day->trades.count == 0)) {
        for (int32_t b = 0; b < nbars; b++) sums.add(bars[b].time, (bars[b].high + bars[b].low) / 2, bars[b].volume);
      } else {
        for (ss_trade* t = day->trades.head; t; t = t->next)
          if (t->price != 0 && t->price != kNoPrice && (t->bits & kTradeVolume)) sums.add(t->time, t->price, t->volume);
      }
    }
  }
  sums.restart = true;
  for (ss_trade* t = stock->trades.head; t; t = t->next)
    if (t->price != 0 && t->price != kNoPrice && !(t->bits & kTradeCancelled) && (t->bits & kTradeVolume))
      sums.add(t->time, t->price, t->volume);

  double* line = inst->lines[0];
  for (int32_t i = 0; i < n; i++) line[i] = volume[i] > 0 ? value[i] / volume[i] : kChartNoValue;
  return 0;
}
