// Test support for the chart axes: fixed font metrics (every glyph of the
// chart font 8 x 12 pixels, of the small digit font 5 x 8) and a plot whose
// samples sit at given times and x positions.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "chart_fixture.h"
#include "charts/axislist.h"

constexpr int32_t kGlyphW = 8, kGlyphH = 12, kSmallW = 5, kSmallH = 8;

inline void fixed_text_size(void*, int32_t small, const char* text, int32_t* w, int32_t* h) {
  *w = (int32_t)strlen(text) * (small ? kSmallW : kGlyphW);
  *h = small ? kSmallH : kGlyphH;
}
inline int32_t fixed_line_height(void*, int32_t small) { return small ? kSmallH : kGlyphH; }

inline chart_axes fixed_axes() {
  chart_axes a{};
  a.fonts = {nullptr, fixed_text_size, fixed_line_height};
  return a;
}

// Samples at times and x positions inside a plot at x 10, y 20, axis below.
struct AxisPlot : TestPlot {
  AxisPlot(const std::vector<ss_time>& times, const std::vector<int32_t>& xs, int32_t width) {
    int32_t n = (int32_t)times.size();
    if (n > 0) {
      EXPECT_EQ(alloc_chart_values(&p, n), 0);
    }
    p.count = n;
    for (int32_t i = 0; i < n; i++) {
      p.times[i] = times[i];
      p.xpos[i] = (uint32_t)xs[i];
      p.close[i] = 1;
    }
    p.first_visible = 0;
    p.last_visible = n - 1;
    p.plot_x = p.pane_x = 10;
    p.plot_y = p.pane_y = 20;
    p.plot_w = p.pane_w = width;
    p.plot_h = p.pane_h = 240;
    p.axis_y = 262;
    p.axis_h = 20;
  }
};

// x of sample i of n spread evenly over a plot at x 10 (bar centres).
inline std::vector<int32_t> spread(int32_t n, int32_t width) {
  std::vector<int32_t> xs(n);
  for (int32_t i = 0; i < n; i++) xs[i] = 10 + (2 * i + 1) * width / (2 * n);
  return xs;
}

inline std::vector<std::pair<std::string, int32_t>> label_seq(const chart_axis_lists& l) {
  std::vector<std::pair<std::string, int32_t>> out;
  for (const chart_label& c : l.labels.items) out.push_back({c.text, c.x});
  return out;
}
