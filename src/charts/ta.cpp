// Technical-analysis registry: two tables of definitions, overlays (ids
// 0-14) and indicators (ids 0-40), filled once at class set-up and read-only
// afterwards. Ids the tables do not list have no definition, and the lookups
// answer null for them: ids come from configuration kept on the server, so
// they are checked rather than trusted.
#include "charts/ta.h"

#include <cstring>

#include "charts/alloc.h"
#include "charts/ta_indicator.h"
#include "charts/ta_overlay.h"
#include "dalloc.h"
#include "log.h"

static const char kSrc[] = "src/charts/ta";

static struct {
  ta_def* overlays;    // kTaOverlaySlots, name null = not defined
  ta_def* indicators;  // kTaIndicatorSlots
  char caption[64];
} g;

static void reset_def(ta_def* d) {
  memset(d, 0, sizeof *d);
  d->merge_range = 1;
  d->fixed_min = kTaNoBound;
  d->fixed_max = kTaNoBound;
  d->label_kind = 3;
  for (auto& p : d->params) p = {nullptr, (float)kTaNoBound, 0, 0, 1, 0};
  for (auto& l : d->lines) l = {nullptr, -1, TA_LINE, 0, TA_FMT_PRICE};
  for (int i = 0; i < 3; i++) d->line_order[i] = i;
}

// The builder the tables below are written with.
namespace {
struct builder {
  ta_def* d;
  builder& names(const char* name, const char* short_name = nullptr) {
    d->name = name;
    d->short_name = short_name ? short_name : name;
    return *this;
  }
  builder& flags(int32_t merge, int32_t zero, int32_t label) {
    d->merge_range = merge;
    d->from_zero = zero;
    d->label_kind = label;
    return *this;
  }
  builder& fixed(double lo, double hi = kTaNoBound) {
    d->fixed_min = lo;
    d->fixed_max = hi;
    return *this;
  }
  builder& param(const char* name, float def, double min, double max, double step, int32_t decimals) {
    d->params[d->param_count++] = {name, def, min, max, step, decimals};
    return *this;
  }
  builder& period(const char* name, float def, double min = 2) { return param(name, def, min, kTaNoBound, 1, 0); }
  builder& toggle(const char* name, float def) { return param(name, def, 0, 1, 0, 0); }
  // The parameter sets several entries share.
  builder& band(const char* name = "Multiplier") { return period("Period", 20).param(name, 2, 0.25, 25, 0.25, 2); }
  builder& fast_slow(float fast, float slow, float trigger = 0) {
    period("Fast Period", fast).period("Slow Period", slow);
    return trigger ? period("Trigger Period", trigger) : *this;
  }
  builder& stochastic_lines() {
    return line("Fast", 4, TA_LINE, 1, TA_FMT_FLOAT1).line("Slow", 7, TA_LINE, 1, TA_FMT_FLOAT1);
  }
  builder& line(const char* name, int32_t colour, int32_t style, int32_t kind, ta_format fmt) {
    ta_line& l = d->lines[d->line_count++];
    l = {d->short_name, colour, style, kind, fmt};
    if (name) l.name = name;
    return *this;
  }
  builder& order(int32_t a, int32_t b, int32_t c) {
    d->line_order[0] = a;
    d->line_order[1] = b;
    d->line_order[2] = c;
    return *this;
  }
  builder& compute(ta_compute_fn fn) {
    d->compute = fn;
    return *this;
  }
  builder& caption(ta_caption_fn fn) {
    d->caption = fn;
    return *this;
  }
};
}  // namespace

static builder def(ta_def* table, int32_t id) {
  reset_def(&table[id]);
  return builder{&table[id]};
}

static void build_overlays(ta_def* t) {
  def(t, 0).names("Close").flags(1, 0, 3).line("Close", 17, TA_LEVEL, 0, TA_FMT_PRICE).compute(ta_close);
  def(t, 1)
      .names("Prev Close")
      .flags(1, 0, 3)
      .line("Prev Close", 17, TA_LEVEL_DOTTED, 0, TA_FMT_PRICE)
      .compute(ta_prev_close);
  def(t, 2)
      .names("SMA")
      .flags(1, 0, 3)
      .period("Period", 50)
      .line("SMA", 5, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_sma_overlay);
  def(t, 3)
      .names("EMA")
      .flags(1, 0, 3)
      .period("Period", 20)
      .line("EMA", 6, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_ema_overlay);
  def(t, 4)
      .names("Bollinger Bands", "Boll Bands")
      .flags(1, 0, 3)
      .band()
      .line("Mid", 10, TA_POINTS, 0, TA_FMT_PRICE)
      .line("Upper", 9, TA_LINE, 0, TA_FMT_PRICE)
      .line("Lower", 9, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_bollinger);
  def(t, 5)
      .names("MA Envelopes", "MA Env")
      .flags(1, 0, 3)
      .period("Period", 20)
      .param("%", 2.5, 0.25, 25, 0.25, 2)
      .line("Mid", 11, TA_LINE, 0, TA_FMT_PRICE)
      .line("Upper", 12, TA_LINE, 0, TA_FMT_PRICE)
      .line("Lower", 12, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_ma_envelopes);
  def(t, 6)
      .names("Keltner Channels", "Keltner")
      .flags(1, 0, 3)
      .period("Band MA", 10)
      .period("Middle MA", 10)
      .line("Upper", 2, TA_LINE, 0, TA_FMT_PRICE)
      .line("Mid", 11, TA_LINE, 0, TA_FMT_PRICE)
      .line("Lower", 3, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_keltner);
  def(t, 7)
      .names("Price Channels", "Price Chan")
      .flags(1, 0, 3)
      .period("Period", 20)
      .line("Upper", 2, TA_LINE, 0, TA_FMT_PRICE)
      .line("Lower", 3, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_price_channels);
  def(t, 8)
      .names("Parabolic SAR", "Parabolic")
      .flags(1, 0, 3)
      .param("% Step", 2, 1, 10, 0.1, 1)
      .param("Max Step", 20, 1, 25, 0.1, 1)
      .line("Parabolic", 8, TA_POINTS, 0, TA_FMT_PRICE)
      .compute(ta_parabolic_sar);
  def(t, 9)
      .names("Volume")
      .flags(0, 0, 2)
      .fixed(0)
      .toggle("Colorize", 0)
      .line("Volume", 13, TA_BARS, 0, TA_FMT_VOLUME)
      .compute(ta_volume)
      .caption(ta_volume_caption);
  def(t, 10)
      .names("Volume by Price")
      .flags(0, 0, 3)
      .line("Volume by Price", 13, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_clear_lines);
  def(t, 13)
      .names("News")
      .flags(0, 0, 4)
      .fixed(0)
      .toggle("Sensitive", 0)
      .toggle("Regular", 1)
      .toggle("Related", 1)
      .line("News", 15, TA_NEWS, 0, TA_FMT_NONE)
      .compute(ta_news)
      .caption(ta_news_caption);
  def(t, 14).names("VWAP").flags(1, 0, 3).line("VWAP", 16, TA_LINE, 0, TA_FMT_PRICE).compute(ta_vwap);
}

static void build_indicators(ta_def* t) {
  def(t, 0).names("Price").flags(1, 0, 3).line("Price", 4, TA_LINE, 0, TA_FMT_PRICE).compute(ta_price);
  def(t, 1)
      .names("Price Performance", "Performance")
      .flags(0, 0, 1)
      .line("Performance", 4, TA_LINE, 2, TA_FMT_PERCENT)
      .compute(ta_performance);
  def(t, 2)
      .names("Volume")
      .flags(0, 1, 2)
      .fixed(0)
      .toggle("Colorize", 0)
      .line("Volume", 13, TA_BARS, 0, TA_FMT_VOLUME)
      .compute(ta_volume)
      .caption(ta_volume_caption);
  def(t, 3)
      .names("Volume + EMA", "Vol + EMA")
      .flags(0, 1, 2)
      .fixed(0)
      .period("Period", 20)
      .line("Volume", 13, TA_BARS, 0, TA_FMT_VOLUME)
      .line("EMA", 5, TA_LINE, 0, TA_FMT_VOLUME)
      .compute(ta_volume);
  def(t, 4)
      .names("RSI")
      .flags(0, 0, 1)
      .fixed(0, 100)
      .period("Period", 14)
      .line("RSI", 4, TA_LINE, 1, TA_FMT_PERCENT)
      .compute(ta_rsi);
  def(t, 5)
      .names("MACD")
      .flags(1, 0, 3)
      .fast_slow(12, 26, 9)
      .line("Fast", 2, TA_LINE, 2, TA_FMT_FLOAT2)
      .line("Smoothed", 3, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_macd);
  def(t, 6)
      .names("MACD Hist")
      .flags(1, 1, 3)
      .fast_slow(12, 26, 9)
      .line("Diff", 14, TA_BARS, 2, TA_FMT_FLOAT2)
      .line("Fast", 2, TA_LINE, 2, TA_FMT_FLOAT2)
      .line("Smoothed", 3, TA_LINE, 2, TA_FMT_FLOAT2)
      .order(1, 2, 0)
      .compute(ta_macd);
  def(t, 8)
      .names("Detrended Price Oscillator", "DPO")
      .flags(1, 0, 3)
      .period("Period", 10)
      .line("DPO", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_dpo);
  def(t, 15)
      .names("Full Stochastic", "STO Full")
      .flags(0, 0, 1)
      .fixed(0, 100)
      .period("%K", 14)
      .period("%K (smooth)", 3)
      .period("%D", 3)
      .stochastic_lines()
      .compute(ta_stochastic);
  def(t, 16)
      .names("Slow Stochastic", "STO Slow")
      .flags(0, 0, 1)
      .fixed(0, 100)
      .period("%K", 14)
      .period("%D", 3)
      .stochastic_lines()
      .compute(ta_stochastic);
  def(t, 17)
      .names("Fast Stochastic", "STO Fast")
      .flags(0, 0, 1)
      .fixed(0, 100)
      .period("%K", 14)
      .period("%D", 3)
      .stochastic_lines()
      .compute(ta_stochastic);
  def(t, 18)
      .names("Stochastic RSI", "STO RSI")
      .flags(0, 0, 1)
      .fixed(0, 100)
      .period("Period", 14)
      .line("RSI", 4, TA_LINE, 1, TA_FMT_FLOAT1)
      .compute(ta_rsi);
  def(t, 19)
      .names("On Balance Volume", "On Bal Vol")
      .flags(1, 0, 3)
      .line("On Bal Vol", 5, TA_LINE, 0, TA_FMT_VOLUME)
      .compute(ta_obv);
  def(t, 20)
      .names("Accumulation Distribution", "Accum Dist")
      .flags(1, 0, 3)
      .line("Accum Dist", 5, TA_LINE, 0, TA_FMT_FLOAT0)
      .compute(ta_accum_dist);
  def(t, 23)
      .names("% Volume Oscillator", "PVO")
      .flags(0, 0, 1)
      .fast_slow(12, 26)
      .line("PVO", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_pvo);
  def(t, 25)
      .names("Average True Range", "Av True Range")
      .flags(1, 0, 3)
      .period("Period", 14)
      .line("Av True Range", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_average_true_range);
  def(t, 28)
      .names("Bollinger Band Width", "Boll Band Width")
      .flags(1, 0, 3)
      .band()
      .line("Width", 9, TA_LINE, 2, TA_FMT_FLOAT1)
      .compute(ta_bollinger);
  def(t, 29)
      .names("Bollinger Band %", "Boll Band %")
      .flags(0, 0, 1)
      .band()
      .line("% Width", 9, TA_LINE, 2, TA_FMT_PERCENT)
      .compute(ta_bollinger);
  def(t, 33)
      .names("Momentum")
      .flags(1, 0, 3)
      .period("Period", 20)
      .line("Momentum", 5, TA_LINE, 3, TA_FMT_FLOAT3)
      .compute(ta_momentum);
  def(t, 35)
      .names("Absolute Price Oscillator", "APO")
      .flags(1, 0, 3)
      .fast_slow(10, 30)
      .line("APO", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_apo);
  def(t, 36)
      .names("% Price Oscillator", "PPO")
      .flags(0, 0, 1)
      .fast_slow(12, 26)
      .line("PPO", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .compute(ta_ppo);
  def(t, 37)
      .names("% Price Oscillator Hist", "PPO Hist")
      .flags(0, 1, 1)
      .fast_slow(12, 26, 9)
      .line("Diff", 14, TA_BARS, 2, TA_FMT_FLOAT2)
      .line("Fast", 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .line("Slow", 6, TA_LINE, 2, TA_FMT_FLOAT2)
      .order(1, 2, 0)
      .compute(ta_ppo);
  def(t, 38)
      .names("% Volume Oscillator Hist", "PVO Hist")
      .flags(0, 1, 1)
      .fast_slow(12, 26, 9)
      .line("PVO Hist", 14, TA_BARS, 2, TA_FMT_FLOAT2)
      .line(nullptr, 5, TA_LINE, 2, TA_FMT_FLOAT2)
      .line(nullptr, 6, TA_LINE, 2, TA_FMT_FLOAT2)
      .order(1, 2, 0)
      .compute(ta_pvo);
  def(t, 39)
      .names("Avg Daily Range", "ADR")
      .flags(1, 0, 3)
      .period("Period", 10, 1)
      .line("ADR", 4, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_adr);
  def(t, 40)
      .names("Avg True Range", "ATR")
      .flags(1, 0, 3)
      .period("Period", 10, 1)
      .line("ATR", 4, TA_LINE, 0, TA_FMT_PRICE)
      .compute(ta_average_true_range);
}

int ta_init(void) {
  if (g.overlays) return 0;
  g.overlays = (ta_def*)dalloc_alloc(kTaOverlaySlots * (int32_t)sizeof(ta_def));
  memset(g.overlays, 0, kTaOverlaySlots * sizeof(ta_def));
  g.indicators = (ta_def*)dalloc_alloc(kTaIndicatorSlots * (int32_t)sizeof(ta_def));
  memset(g.indicators, 0, kTaIndicatorSlots * sizeof(ta_def));
  build_overlays(g.overlays);
  build_indicators(g.indicators);
  return 0;
}

void ta_fini(void) {
  if (g.overlays) dalloc_free(g.overlays);
  if (g.indicators) dalloc_free(g.indicators);
  g.overlays = nullptr;
  g.indicators = nullptr;
}

static const ta_def* lookup(const ta_def* table, int32_t slots, int32_t id) {
  if (!table || id < 0 || id >= slots || !table[id].name) return nullptr;
  return &table[id];
}

const ta_def* ta_overlay_def(int32_t id) { return lookup(g.overlays, kTaOverlaySlots, id); }
const ta_def* ta_indicator_def(int32_t id) { return lookup(g.indicators, kTaIndicatorSlots, id); }

static int run(chart_plot* chart, chart_ta* ta) {
  const ta_def* d = ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
  if (!d || !d->compute) return -1;
  return d->compute(chart, ta);
}

int ta_compute_all(chart_plot* chart) {
  int rc = 0;
  for (chart_ta* ta = chart->overlays; ta; ta = ta->next)
    if (run(chart, ta) < 0) rc = -1;
  for (chart_ta* ta = chart->indicators; ta; ta = ta->next) {
    if (ta->type == 1) continue;  // Price Performance: chart update runs it first
    if (run(chart, ta) < 0) rc = -1;
  }
  return rc;
}

const char* ta_volume_caption(const chart_ta*) { return nullptr; }

const char* ta_news_caption(const chart_ta* inst) {
  g.caption[0] = 0;
  if (inst->params[0] == 1) strcat(g.caption, ",Sensitive Only");
  if (inst->params[2] == 0) strcat(g.caption, ",No Related");
  if (inst->params[1] == 0) strcat(g.caption, ",No Regular");
  return g.caption[0] ? g.caption + 1 : nullptr;
}
