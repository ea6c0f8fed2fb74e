// The technical-analysis registry: every entry as one line of text in the
// notation of the design tables, lookups of undefined ids, and the order
// and error handling of computing a chart's overlays and indicators.
#include "charts/ta.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "chart_fixture.h"
#include "charts/ta_overlay.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

std::string num(double v) {
  if (v == kTaNoBound) return "-";
  char buf[32];
  snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

const char* fmt_name(ta_format f) {
  static const char* names[] = {"none", "price", "volume", "percent", "0dp", "1dp", "2dp", "3dp"};
  return names[f];
}

// "name (short) | merge zero label [min max] | params | lines | order".
std::string describe(const ta_def* d) {
  std::string s = std::string(d->name) + " (" + d->short_name + ") | " + std::to_string(d->merge_range) + " " +
                  std::to_string(d->from_zero) + " " + std::to_string(d->label_kind) + " [" + num(d->fixed_min) + " " +
                  num(d->fixed_max) + "] |";
  for (int i = 0; i < d->param_count; i++) {
    const ta_param& p = d->params[i];
    s += " " + std::string(p.name) + " " + num(p.def) + " [" + num(p.min) + "-" + num(p.max) + "," + num(p.step) +
         "," + std::to_string(p.decimals) + "];";
  }
  s += " |";
  for (int i = 0; i < d->line_count; i++) {
    const ta_line& l = d->lines[i];
    s += " " + std::string(l.name) + "/" + std::to_string(l.colour) + "/" + std::to_string(l.style) + "/" +
         std::to_string(l.value_kind) + "/" + fmt_name(l.format) + ";";
  }
  s += " | " + std::to_string(d->line_order[0]) + std::to_string(d->line_order[1]) + std::to_string(d->line_order[2]);
  if (d->caption) s += " caption";
  return s;
}

struct Entry {
  int overlay;
  int32_t id;
  const char* text;
};

TEST(Ta, EveryEntry) {
  const Entry entries[] = {
      {1, 0, "Close (Close) | 1 0 3 [- -] | | Close/17/4/0/price; | 012"},
      {1, 1, "Prev Close (Prev Close) | 1 0 3 [- -] | | Prev Close/17/5/0/price; | 012"},
      {1, 2, "SMA (SMA) | 1 0 3 [- -] | Period 50 [2--,1,0]; | SMA/5/0/0/price; | 012"},
      {1, 3, "EMA (EMA) | 1 0 3 [- -] | Period 20 [2--,1,0]; | EMA/6/0/0/price; | 012"},
      {1, 4, "Bollinger Bands (Boll Bands) | 1 0 3 [- -] | Period 20 [2--,1,0]; Multiplier 2 [0.25-25,0.25,2]; | "
             "Mid/10/1/0/price; Upper/9/0/0/price; Lower/9/0/0/price; | 012"},
      {1, 5, "MA Envelopes (MA Env) | 1 0 3 [- -] | Period 20 [2--,1,0]; % 2.5 [0.25-25,0.25,2]; | "
             "Mid/11/0/0/price; Upper/12/0/0/price; Lower/12/0/0/price; | 012"},
      {1, 6, "Keltner Channels (Keltner) | 1 0 3 [- -] | Band MA 10 [2--,1,0]; Middle MA 10 [2--,1,0]; | "
             "Upper/2/0/0/price; Mid/11/0/0/price; Lower/3/0/0/price; | 012"},
      {1, 7, "Price Channels (Price Chan) | 1 0 3 [- -] | Period 20 [2--,1,0]; | Upper/2/0/0/price; "
             "Lower/3/0/0/price; | 012"},
      {1, 8, "Parabolic SAR (Parabolic) | 1 0 3 [- -] | % Step 2 [1-10,0.1,1]; Max Step 20 [1-25,0.1,1]; | "
             "Parabolic/8/1/0/price; | 012"},
      {1, 9, "Volume (Volume) | 0 0 2 [0 -] | Colorize 0 [0-1,0,0]; | Volume/13/3/0/volume; | 012 caption"},
      {1, 10, "Volume by Price (Volume by Price) | 0 0 3 [- -] | | Volume by Price/13/0/0/price; | 012"},
      {1, 13, "News (News) | 0 0 4 [0 -] | Sensitive 0 [0-1,0,0]; Regular 1 [0-1,0,0]; Related 1 [0-1,0,0]; | "
              "News/15/6/0/none; | 012 caption"},
      {1, 14, "VWAP (VWAP) | 1 0 3 [- -] | | VWAP/16/0/0/price; | 012"},
      {0, 0, "Price (Price) | 1 0 3 [- -] | | Price/4/0/0/price; | 012"},
      {0, 1, "Price Performance (Performance) | 0 0 1 [- -] | | Performance/4/0/2/percent; | 012"},
      {0, 2, "Volume (Volume) | 0 1 2 [0 -] | Colorize 0 [0-1,0,0]; | Volume/13/3/0/volume; | 012 caption"},
      {0, 3, "Volume + EMA (Vol + EMA) | 0 1 2 [0 -] | Period 20 [2--,1,0]; | Volume/13/3/0/volume; "
             "EMA/5/0/0/volume; | 012"},
      {0, 4, "RSI (RSI) | 0 0 1 [0 100] | Period 14 [2--,1,0]; | RSI/4/0/1/percent; | 012"},
      {0, 5, "MACD (MACD) | 1 0 3 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 [2--,1,0]; Trigger Period 9 "
             "[2--,1,0]; | Fast/2/0/2/2dp; Smoothed/3/0/2/2dp; | 012"},
      {0, 6, "MACD Hist (MACD Hist) | 1 1 3 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 [2--,1,0]; Trigger "
             "Period 9 [2--,1,0]; | Diff/14/3/2/2dp; Fast/2/0/2/2dp; Smoothed/3/0/2/2dp; | 120"},
      {0, 8, "Detrended Price Oscillator (DPO) | 1 0 3 [- -] | Period 10 [2--,1,0]; | DPO/5/0/2/2dp; | 012"},
      {0, 15, "Full Stochastic (STO Full) | 0 0 1 [0 100] | %K 14 [2--,1,0]; %K (smooth) 3 [2--,1,0]; %D 3 "
              "[2--,1,0]; | Fast/4/0/1/1dp; Slow/7/0/1/1dp; | 012"},
      {0, 16, "Slow Stochastic (STO Slow) | 0 0 1 [0 100] | %K 14 [2--,1,0]; %D 3 [2--,1,0]; | Fast/4/0/1/1dp; "
              "Slow/7/0/1/1dp; | 012"},
      {0, 17, "Fast Stochastic (STO Fast) | 0 0 1 [0 100] | %K 14 [2--,1,0]; %D 3 [2--,1,0]; | Fast/4/0/1/1dp; "
              "Slow/7/0/1/1dp; | 012"},
      {0, 18, "Stochastic RSI (STO RSI) | 0 0 1 [0 100] | Period 14 [2--,1,0]; | RSI/4/0/1/1dp; | 012"},
      {0, 19, "On Balance Volume (On Bal Vol) | 1 0 3 [- -] | | On Bal Vol/5/0/0/volume; | 012"},
      {0, 20, "Accumulation Distribution (Accum Dist) | 1 0 3 [- -] | | Accum Dist/5/0/0/0dp; | 012"},
      {0, 23, "% Volume Oscillator (PVO) | 0 0 1 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 [2--,1,0]; | "
              "PVO/5/0/2/2dp; | 012"},
      {0, 25, "Average True Range (Av True Range) | 1 0 3 [- -] | Period 14 [2--,1,0]; | "
              "Av True Range/5/0/2/2dp; | 012"},
      {0, 28, "Bollinger Band Width (Boll Band Width) | 1 0 3 [- -] | Period 20 [2--,1,0]; Multiplier 2 "
              "[0.25-25,0.25,2]; | Width/9/0/2/1dp; | 012"},
      {0, 29, "Bollinger Band % (Boll Band %) | 0 0 1 [- -] | Period 20 [2--,1,0]; Multiplier 2 [0.25-25,0.25,2]; | "
              "% Width/9/0/2/percent; | 012"},
      {0, 33, "Momentum (Momentum) | 1 0 3 [- -] | Period 20 [2--,1,0]; | Momentum/5/0/3/3dp; | 012"},
      {0, 35, "Absolute Price Oscillator (APO) | 1 0 3 [- -] | Fast Period 10 [2--,1,0]; Slow Period 30 [2--,1,0]; | "
              "APO/5/0/2/2dp; | 012"},
      {0, 36, "% Price Oscillator (PPO) | 0 0 1 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 [2--,1,0]; | "
              "PPO/5/0/2/2dp; | 012"},
      {0, 37, "% Price Oscillator Hist (PPO Hist) | 0 1 1 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 "
              "[2--,1,0]; Trigger Period 9 [2--,1,0]; | Diff/14/3/2/2dp; Fast/5/0/2/2dp; Slow/6/0/2/2dp; | 120"},
      {0, 38, "% Volume Oscillator Hist (PVO Hist) | 0 1 1 [- -] | Fast Period 12 [2--,1,0]; Slow Period 26 "
              "[2--,1,0]; Trigger Period 9 [2--,1,0]; | PVO Hist/14/3/2/2dp; PVO Hist/5/0/2/2dp; "
              "PVO Hist/6/0/2/2dp; | 120"},
      {0, 39, "Avg Daily Range (ADR) | 1 0 3 [- -] | Period 10 [1--,1,0]; | ADR/4/0/0/price; | 012"},
      {0, 40, "Avg True Range (ATR) | 1 0 3 [- -] | Period 10 [1--,1,0]; | ATR/4/0/0/price; | 012"},
  };
  int overlays = 0, indicators = 0;
  for (const Entry& e : entries) {
    const ta_def* d = e.overlay ? ta_overlay_def(e.id) : ta_indicator_def(e.id);
    ASSERT_NE(d, nullptr) << (e.overlay ? "overlay " : "indicator ") << e.id;
    EXPECT_EQ(describe(d), e.text);
    EXPECT_NE(d->compute, nullptr) << e.text;
    (e.overlay ? overlays : indicators)++;
  }
  // Every other id has no definition, and nothing can be made of it.
  int defined_overlays = 0, defined_indicators = 0;
  for (int32_t id = -2; id < kTaIndicatorSlots + 2; id++) {
    defined_overlays += ta_overlay_def(id) != nullptr;
    defined_indicators += ta_indicator_def(id) != nullptr;
  }
  EXPECT_EQ(defined_overlays, overlays);
  EXPECT_EQ(defined_indicators, indicators);
  TestPlot plot;
  LogCapture log;
  EXPECT_EQ(alloc_add_overlay(plot.get(), 11), nullptr);
  EXPECT_EQ(alloc_add_indicator(plot.get(), 7), nullptr);
  EXPECT_EQ(alloc_add_indicator(plot.get(), 41), nullptr);
  EXPECT_EQ(plot->overlay_count + plot->indicator_count, 0);
  EXPECT_EQ(log.count("no overlay 11"), 1);
}

// A failing routine makes the result -1 without stopping the others.
TEST(Ta, ComputeAllGoesOnPastAFailure) {
  TestPlot plot;
  plot.set_closes({1, 2, 3, 4});
  chart_ta* bad = alloc_add_overlay(plot.get(), 2);
  chart_ta* ema = alloc_add_overlay(plot.get(), 3);
  chart_ta* price = alloc_add_indicator(plot.get(), 0);
  ema->params[0] = 2;
  bad->type = 12;  // an id whose definition went away: no routine to run
  EXPECT_EQ(ta_compute_all(plot.get()), -1);
  EXPECT_EQ(ema->lines[0][1], 1.5);
  EXPECT_EQ(price->lines[0][3], 4);
  bad->type = 2;
}

}  // namespace
