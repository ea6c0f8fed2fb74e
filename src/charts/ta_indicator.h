// The indicator compute routines. A routine shared by several ids picks its
// lines by the instance's type; any other id clears the lines. Each returns 0.
#pragma once

struct chart_plot;
struct chart_ta;

int ta_price(chart_plot* chart, chart_ta* inst);
int ta_performance(chart_plot* chart, chart_ta* inst);
int ta_rsi(chart_plot* chart, chart_ta* inst);   // 4 RSI, 18 Stochastic RSI
int ta_macd(chart_plot* chart, chart_ta* inst);  // 5, 6
int ta_dpo(chart_plot* chart, chart_ta* inst);
int ta_stochastic(chart_plot* chart, chart_ta* inst);  // 15 full, 16 slow, 17 fast
int ta_obv(chart_plot* chart, chart_ta* inst);
int ta_accum_dist(chart_plot* chart, chart_ta* inst);
int ta_pvo(chart_plot* chart, chart_ta* inst);                 // 23, 38
int ta_average_true_range(chart_plot* chart, chart_ta* inst);  // 25, 40
int ta_momentum(chart_plot* chart, chart_ta* inst);
int ta_apo(chart_plot* chart, chart_ta* inst);
int ta_ppo(chart_plot* chart, chart_ta* inst);  // 36, 37
int ta_adr(chart_plot* chart, chart_ta* inst);
