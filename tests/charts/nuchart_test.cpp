// Values to pixel rows, and spot checks of the chart colour table.
#include "charts/nuchart.h"

#include <gtest/gtest.h>

#include <cmath>

#include "chart_fixture.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

constexpr uint32_t X = kChartNoPixel;

TEST(Nuchart, MapsPriceRows) {
  struct Row {
    const char* what;
    double low, high;
    int32_t y, h;
    std::vector<double> closes;
    std::vector<uint32_t> rows;
    int32_t zero;
  };
  const double inf = INFINITY;
  const std::vector<Row> rows = {
      {"0 to 10 on 100 px", 0, 10, 0, 100, {5, 10, 0, 2.5}, {50, 0, 100, 75}, 100},
      {"offset pane, zero inside", -5, 5, 10, 100, {0, 5, -5}, {60, 10, 110}, 60},
      {"zero outside", 1, 2, 0, 100, {1.5}, {50}, -1},
      {"no value and non-finite", 0, 10, 0, 100, {kChartNoValue, NAN, inf, -inf}, {X, X, X, X}, 100},
      // Wild values are held within a pane's height of the pane.
      {"huge values clamped", 0, 10, 100, 100, {1e300, -1e300}, {0, 300}, 200},
      {"10 px pane draws nothing", 0, 10, 0, 10, {5}, {X}, -1},
      {"flat span draws nothing", 5, 5, 0, 100, {5}, {X}, -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    TestPlot plot;
    plot.set_closes(r.closes);
    plot->value_low = r.low;
    plot->value_high = r.high;
    plot->pane_y = r.y;
    plot->pane_h = r.h;
    nuchart_map_values(plot.get());
    for (size_t i = 0; i < r.rows.size(); i++) {
      EXPECT_EQ(plot->y_close[i], r.rows[i]) << i;
      EXPECT_EQ(plot->y_high[i], r.rows[i]) << i;
    }
    EXPECT_EQ(plot->zero_y, r.zero);
  }
}

TEST(Nuchart, OverlaysAndIndicatorsUseTheirRange) {
  TestPlot plot;
  plot.set_closes({2, 4, 6});
  plot->value_low = 0;
  plot->value_high = 10;
  plot->pane_y = 0;
  plot->pane_h = 100;
  chart_ta* sma = alloc_add_overlay(plot.get(), 2);  // merges into the main range
  chart_ta* vol = alloc_add_overlay(plot.get(), 9);  // a range of its own
  chart_ta* rsi = alloc_add_indicator(plot.get(), 4);
  for (int i = 0; i < 3; i++) sma->lines[0][i] = vol->lines[0][i] = rsi->lines[0][i] = 5;
  sma->lines[0][0] = kChartNoValue;
  vol->value_low = 0;
  vol->value_high = 20;
  rsi->value_low = 0;
  rsi->value_high = 100;
  rsi->pane_y = 200;
  rsi->pane_h = 50;
  nuchart_map_values(plot.get());
  EXPECT_EQ(sma->pixels[0][0], X);
  EXPECT_EQ(sma->pixels[0][1], 50u);
  EXPECT_EQ(vol->pixels[0][1], 75u);
  EXPECT_EQ(rsi->pixels[0][1], 247u);  // 250 - 5 x 0.5, truncated
  EXPECT_EQ(rsi->zero_y, 250);
}

TEST(Nuchart, ColourTable) {
  chart_colours_init();
  auto darker = [](uint32_t c, int n) {
    uint32_t out = c & 0xFF000000u;
    for (int s = 0; s < 24; s += 8) out |= (uint32_t)std::max(0, (int)((c >> s) & 0xFF) - n) << s;
    return out;
  };
  struct Row {
    int32_t set, entry;
    uint32_t want;
  };
  const Row rows[] = {
      {0, 0, 0xFF282828}, {1, 0, 0xFFA0A0A0}, {2, 0, 0xFFA0A0A0},  // set 2 keeps set 1's
      {0, 5, 0xFFEFEDED},                                        // F2F0F0 darkened by 3
      {1, 5, 0xFF1E1E14},                                        // 19190F lightened by 5
      {1, 14, 0x328A3110}, {2, 12, 0xFFFAFAFA}, {2, 17, 0x28000000}, {0, 33, 0xFFC8C8C8},
      {2, 31, 0xFF6E6664}, {1, 32, 0xFF4D595E}, {2, 32, 0xFF4D595E}, {0, 36, 0}, {3, 0, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(chart_colour(r.set, r.entry), r.want) << r.set << "/" << r.entry;
  EXPECT_EQ(darker(0xFFF2F0F0, 3), chart_colour(0, 5));
  // Style colour 1 with its own alpha in set 2; the same colour in sets 0 and 1.
  EXPECT_EQ(chart_colour(2, 13) & 0xFFFFFF, chart_colour(0, 13) & 0xFFFFFF);
  EXPECT_EQ(chart_colour(2, 13) >> 24, 0xB4u);
  EXPECT_EQ(chart_colour(2, 14) >> 24, 0x19u);
  EXPECT_EQ(chart_colour(1, 17) >> 24, 0xEBu);
  EXPECT_EQ(chart_colour(0, 35), chart_colour(0, 13));
}

}  // namespace
