// Series helpers of the technical analysis (moving averages, the no-value
// fill, clearing an instance's lines) and the overlay compute routines. Each
// routine reads the chart's samples and writes one instance's lines; one that
// cannot compute clears its lines and still returns 0.
#pragma once
#include <cstdint>

struct chart_plot;
struct chart_ta;

constexpr double kTaNoValue = 3.4028234663852886e38;  // kChartNoValue

// out and in must not overlap. A period below 1 or above n gives no values.
int ta_sma(double* out, const double* in, int32_t n, int32_t period);
// Seeded with the plain mean of the first `period` values; a no-value input
// gives a no-value output and leaves the average as it was.
int ta_ema(double* out, const double* in, int32_t n, int32_t period);
int ta_fill_empty(double* out, int32_t n);

// ta_ema one sample at a time, for routines that fuse several averages into
// one pass: step() takes the next input and gives the output ta_ema would
// write there. A period outside 1..n (n the series length) gives no values.
struct ta_ema_stream {
  int32_t period = 0;
  double k = 0, sum = 0, e = 0;
  int32_t have = 0;
  bool seeded = false, off = true;

  ta_ema_stream(int32_t p, int32_t n) : period(p), k(2.0 / (p + 1)), off(p < 1 || p > n) {}
  double step(double x) {
    if (seeded) {
      if (x == kTaNoValue) return kTaNoValue;  // no value, the average kept
      e += (x - e) * k;
      return e;
    }
    return seed(x);
  }

 private:
  // The seed is the mean of `period` values in a row; a no-value inside the
  // window moves the seed on past it.
  double seed(double x) {
    if (off) return kTaNoValue;
    if (x == kTaNoValue) {
      have = 0;
      sum = 0;
      return kTaNoValue;
    }
    sum += x;
    if (++have < period) return kTaNoValue;
    seeded = true;
    e = sum / period;
    return e;
  }
};
int ta_clear_lines(chart_plot* chart, chart_ta* inst);

int ta_close(chart_plot* chart, chart_ta* inst);
int ta_prev_close(chart_plot* chart, chart_ta* inst);
int ta_sma_overlay(chart_plot* chart, chart_ta* inst);
int ta_ema_overlay(chart_plot* chart, chart_ta* inst);
int ta_bollinger(chart_plot* chart, chart_ta* inst);  // overlay 4, indicators 28 and 29
int ta_ma_envelopes(chart_plot* chart, chart_ta* inst);
int ta_keltner(chart_plot* chart, chart_ta* inst);
int ta_price_channels(chart_plot* chart, chart_ta* inst);
int ta_parabolic_sar(chart_plot* chart, chart_ta* inst);
int ta_volume(chart_plot* chart, chart_ta* inst);  // overlay 9, indicators 2 and 3
int ta_news(chart_plot* chart, chart_ta* inst);
int ta_vwap(chart_plot* chart, chart_ta* inst);
