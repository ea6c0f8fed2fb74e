// Chart class: mapping a chart's values to pixel rows, and the chart colour
// table of the three colour schemes.
//
// Pixel rows are unsigned and 0xFFFFFFFF means "not drawn". A value is first
// checked (no value, NaN and infinities are not drawn) and clamped to a band
// around its pane, so that a wild value can never overflow the conversion to
// an integer.
#include "charts/nuchart.h"

#include <algorithm>
#include <cmath>

#include "charts/alloc.h"
#include "charts/ta.h"

static struct { uint32_t colours[kChartColourSets][kChartColours]; } g;

namespace {
// One pane's mapping of values to rows.
struct pane_map {
  bool drawn;
  double low, scale, bottom, top_clamp, bottom_clamp;

  pane_map(double lo, double hi, int32_t y, int32_t h) {
    double span = hi - lo;
    drawn = h >= 11 && span >= 1e-5 && std::isfinite(span);
    low = lo;
    scale = drawn ? h / span : 0;
    bottom = (double)y + h;
    top_clamp = std::max(0.0, (double)y - h);
    bottom_clamp = bottom + h;
  }
  uint32_t row(double v) const {
    if (!drawn || v == kChartNoValue || !std::isfinite(v)) return kChartNoPixel;
    double r = std::clamp(bottom - (v - low) * scale, top_clamp, bottom_clamp);
    return (uint32_t)std::lround(std::floor(r));
  }
  int32_t zero(double lo, double hi) const {
    if (!drawn || !(lo <= 0 && hi >= 0)) return -1;
    return (int32_t)(bottom + lo * scale);
  }
};
}  // namespace

static void map_ta(chart_plot* plot, chart_ta* ta, int32_t first, int32_t last) {
  const ta_def* def = ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
  if (!def) return;
  bool main_range = ta->is_overlay && def->merge_range;
  double lo = main_range ? plot->value_low : ta->value_low;
  double hi = main_range ? plot->value_high : ta->value_high;
  bool own_pane = ta->pane_h > 0 || !ta->is_overlay;
  pane_map m(lo, hi, own_pane ? ta->pane_y : plot->pane_y, own_pane ? ta->pane_h : plot->pane_h);
  ta->zero_y = m.zero(lo, hi);
  for (int l = 0; l < def->line_count; l++) {
    if (!ta->lines[l] || !ta->pixels[l]) continue;
    for (int32_t i = first; i <= last; i++) ta->pixels[l][i] = m.row(ta->lines[l][i]);
  }
}

void nuchart_map_values(chart_plot* plot) {
  if (plot->count < 1) return;
  int32_t first = std::max(plot->first_visible, 0), last = std::min(plot->last_visible, plot->count - 1);
  pane_map m(plot->value_low, plot->value_high, plot->pane_y, plot->pane_h);
  plot->zero_y = m.zero(plot->value_low, plot->value_high);
  for (int32_t i = first; i <= last; i++) {
    plot->y_open[i] = m.row(plot->open[i]);
    plot->y_high[i] = m.row(plot->high[i]);
    plot->y_low[i] = m.row(plot->low[i]);
    plot->y_close[i] = m.row(plot->close[i]);
  }
  for (chart_ta* ta = plot->overlays; ta; ta = ta->next) map_ta(plot, ta, first, last);
  for (chart_ta* ta = plot->indicators; ta; ta = ta->next) map_ta(plot, ta, first, last);
}

// The four colours the chart table takes from the current visual style,
// as the painter's theme reports them (the default style's until a style
// installs its theme source).
static uint32_t g_style_colours[4] = {0xFF3C78D8, 0xFF808080, 0xFF2A2A2A, 0xFFF0F0F0};

static uint32_t visual_style_colour(int k) { return g_style_colours[(k - 1) & 3]; }

void chart_colours_follow(const uint32_t style_colours[4]) {
  if (std::equal(style_colours, style_colours + 4, g_style_colours)) return;
  std::copy(style_colours, style_colours + 4, g_style_colours);
  chart_colours_init();
}

static uint32_t with_alpha(uint32_t c, uint32_t a) { return (c & 0x00FFFFFFu) | (a << 24); }

static uint32_t shift_channels(uint32_t c, int n) {
  uint32_t out = c & 0xFF000000u;
  for (int s = 0; s < 24; s += 8) out |= (uint32_t)std::clamp((int)((c >> s) & 0xFF) + n, 0, 255) << s;
  return out;
}

void chart_colours_init(void) {
  static const uint32_t kSet0[kChartColours] = {
      0xFF282828, 0x14000000, 0x05000000, 0xFF646464, 0xFFF2F0F0, 0,          0xFF32B832, 0xFF0000CC, 0xFFFF7364,
      0xFF0000F0, 0xFF3C3C3C, 0x1E000000, 0xFF3C3C3C, 0,          0x328A3110, 0xFF282828, 0xFFE1DCDC, 0,
      0xFFBEE6BE, 0xFFAFAFEB, 0xFFFF7364, 0xFF0000F0, 0xFF505050, 0xFFB246D5, 0xFF56B8E6, 0xFF6464F0, 0xFF141414,
      0xFFF664FF, 0xFFE250EB, 0xFF0000F0, 0xFFFF7364, 0xFFC9B494, 0xFFBECCD2, 0xFFC8C8C8, 0,          0};
  uint32_t* s0 = g.colours[0];
  std::copy(kSet0, kSet0 + kChartColours, s0);
  s0[5] = shift_channels(s0[4], -3);
  s0[13] = visual_style_colour(1);
  s0[17] = with_alpha(visual_style_colour(2), 0xD2);
  s0[34] = visual_style_colour(3);
  s0[35] = visual_style_colour(1);

  // Each later set starts as a copy of the one before.
  uint32_t* s1 = g.colours[1];
  std::copy(s0, s0 + kChartColours, s1);
  const std::pair<int, uint32_t> set1[] = {
      {0, 0xFFA0A0A0},  {1, 0x23FFFFFF},  {2, 0x0AFFFFFF},  {3, 0xFFC8C8C8},  {4, 0xFF19190F},  {6, 0xFF60F860},
      {7, 0xFF0000F0},  {8, 0xFF0000FA},  {9, 0xFFFF7364},  {10, 0xFFF5F0F0}, {11, 0x32FFFFFF}, {12, 0xFFFAFAFA},
      {15, 0xFF0F0F0F}, {16, 0xFF3C3737}, {18, 0xFF44A224}, {19, 0xFF4444A0}, {22, 0xFFC8C8C8}, {24, 0xFF0EA5EC},
      {25, 0xFF1414F0}, {26, 0xFFFFFFFF}, {31, 0xFFAC9A7E}, {32, 0xFF4D595E}};
  for (auto [e, c] : set1) s1[e] = c;
  s1[5] = shift_channels(s1[4], 5);
  s1[17] = with_alpha(visual_style_colour(2), 0xEB);

  uint32_t* s2 = g.colours[2];
  std::copy(s1, s1 + kChartColours, s2);
  const std::pair<int, uint32_t> set2[] = {{1, 0xFF393931},  {2, 0xFF43433A},  {6, 0xFF0000F0},  {7, 0xFF60F860},
                                           {8, 0xFF0000F0},  {10, 0xFFEBEBEB}, {11, 0x32000000}, {16, 0xFFFF00FF},
                                           {17, 0x28000000}, {31, 0xFF6E6664}};
  for (auto [e, c] : set2) s2[e] = c;
  s2[4] = visual_style_colour(4);
  s2[5] = shift_channels(s2[4], 5);
  s2[13] = with_alpha(visual_style_colour(1), 0xB4);
  s2[14] = with_alpha(visual_style_colour(1), 0x19);
}

uint32_t chart_colour(int32_t set, int32_t entry) {
  if (set < 0 || set >= kChartColourSets || entry < 0 || entry >= kChartColours) return 0;
  return g.colours[set][entry];
}
