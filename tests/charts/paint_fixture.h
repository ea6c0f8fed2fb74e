// Test support for chart painting: a chart block filled directly (samples,
// x positions, bar widths, pane geometry, rows mapped by the chart's own
// value mapping), the built-in atlas for text, and readers of the recorded
// GL calls.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "chart_fixture.h"
#include "charts/axislist.h"
#include "charts/nuchart.h"
#include "charts/paint.h"
#include "charts/paint_lines.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "ssmodel.h"

// The runtime, pools, registry, colour table, atlas and drawing lists.
class PaintRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    start_runtime(TestStderr::kOff);
    ASSERT_EQ(alloc_init(), 0);
    ASSERT_EQ(ta_init(), 0);
    chart_colours_init();
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
  }
};

// A chart of w x h at (0, 0): the plot and the price pane inside it as the
// chart update lays them out without axes (1 right, 3 down, 12 narrower).
struct PaintPlot : TestPlot {
  chart_view view;
  chart_axes axes{};
  ss_exchange exchange{};
  ss_stock stock{};

  PaintPlot(int32_t w = 300, int32_t h = 200) {
    chart_view_init(&view);
    view.axes = &axes;
    p.view = &view;
    p.chart_x = 0;
    p.chart_y = 0;
    p.chart_w = w;
    p.chart_h = h - 1;  // as the widget records it
    p.plot_x = 1;
    p.plot_y = 3;
    p.plot_w = w - 12;
    p.plot_h = h - 6;
    p.pane_x = 1;
    p.pane_y = 3;
    p.pane_w = w - 12;
    p.pane_h = h - 6;
    p.zero_y = -1;
    p.marked.from_px = p.marked.to_px = -1;
    p.cursor.index = -1;
    p.type = 4;
    p.eff_period = 5;
    p.eff_count = 1;
    p.eod = 1;
    snprintf(stock.code, sizeof stock.code, "%s", "BHP");
    stock.kind = kKindStock;
    stock.exchange = &exchange;
    exchange.date = sstime_pack_date(10, 12, 2026);
    p.main = &stock;
  }
  ~PaintPlot() {
    chart_view_release(&view);
  }

  // Bars at evenly spread columns `step` apart from x0, each `width` wide;
  // the value range is the bars' and the rows come from the chart mapping.
  void bars(const std::vector<double>& open, const std::vector<double>& high, const std::vector<double>& low,
            const std::vector<double>& close, int32_t x0 = 20, int32_t step = 10, int32_t width = 5) {
    set_bars(open, high, low, close, std::vector<double>(close.size(), 1000));
    double lo = *std::min_element(low.begin(), low.end()), hi = *std::max_element(high.begin(), high.end());
    p.value_low = lo;
    p.value_high = hi > lo ? hi : lo + 1;
    for (int32_t i = 0; i < p.count; i++) {
      p.xpos[i] = (uint32_t)(x0 + i * step);
      p.bar_width[i] = (uint32_t)width;
      p.times[i] = sstime_pack_date(1 + i % 28, 1 + i / 28 % 12, 2025);
    }
    map();
  }
  void closes(const std::vector<double>& c, int32_t x0 = 20, int32_t step = 10, int32_t width = 5) {
    bars(c, c, c, c, x0, step, width);
  }
  void map() { nuchart_map_values(&p); }
  // An overlay or indicator with its lines filled from vectors (the rest no
  // value) and its range from them.
  chart_ta* add(bool overlay, int32_t type, const std::vector<std::vector<double>>& lines) {
    chart_ta* ta = overlay ? alloc_add_overlay(&p, type) : alloc_add_indicator(&p, type);
    EXPECT_NE(ta, nullptr);
    if (!ta) return nullptr;
    EXPECT_EQ(alloc_chart_values(&p, p.count), 0);
    double lo = 1e300, hi = -1e300;
    for (size_t l = 0; l < lines.size(); l++) {
      for (int32_t i = 0; i < p.capacity; i++) ta->lines[l][i] = kChartNoValue;
      for (size_t i = 0; i < lines[l].size(); i++) {
        ta->lines[l][i] = lines[l][i];
        if (lines[l][i] != kChartNoValue) {
          lo = std::min(lo, lines[l][i]);
          hi = std::max(hi, lines[l][i]);
        }
      }
    }
    ta->value_low = lo;
    ta->value_high = hi > lo ? hi : lo + 1;
    if (overlay) {
      p.overlay_count++;
    } else {
      p.indicator_count++;
    }
    return ta;
  }
  // Indicator panes stacked under a shortened price pane, each h high.
  void indicator_panes(int32_t h) {
    int32_t n = 0;
    for (chart_ta* ta = p.indicators; ta; ta = ta->next) n++;
    p.pane_h -= n * h;
    int32_t y = p.pane_y + p.pane_h;
    for (chart_ta* ta = p.indicators; ta; ta = ta->next, y += h) {
      ta->pane_x = p.pane_x;
      ta->pane_y = y;
      ta->pane_w = p.pane_w;
      ta->pane_h = h;
    }
    map();
  }
};

using Calls = std::vector<std::string>;

// The calls of one paint from a fresh drawing state; the background too.
inline Calls record_paint(chart_plot* p, uint32_t* bg = nullptr) {
  glrecord_scope rec;
  gfx_reset();
  gfx_set_viewport(1000, 1000);
  glrecord_clear();
  uint32_t b = 0;
  paint_chart(p, &b);
  if (bg) *bg = b;
  return glrecord_calls();
}

inline std::string colour_call(uint32_t c) {
  char s[64];
  snprintf(s, sizeof s, "Color4ub(%u,%u,%u,%u)", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF, c >> 24);
  return s;
}

inline int count_of(const Calls& calls, const std::string& s) {
  return (int)std::count(calls.begin(), calls.end(), s);
}

inline int count_prefix(const Calls& calls, const std::string& prefix) {
  int n = 0;
  for (const std::string& c : calls) n += c.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// Whether every glBegin has its glEnd (no primitive left open).
inline ::testing::AssertionResult balanced(const Calls& calls) {
  int depth = 0;
  for (size_t i = 0; i < calls.size(); i++) {
    if (calls[i].rfind("Begin(", 0) == 0) {
      if (depth) return ::testing::AssertionFailure() << "Begin inside a primitive at call " << i;
      depth = 1;
    } else if (calls[i] == "End()") {
      if (!depth) return ::testing::AssertionFailure() << "End without Begin at call " << i;
      depth = 0;
    }
  }
  if (depth) return ::testing::AssertionFailure() << "a primitive is left open";
  return ::testing::AssertionSuccess();
}

// One primitive as recorded: its kind, and each vertex with the colour in
// force when it was sent.
struct Prim {
  std::string kind;
  std::vector<std::string> vertices;
  std::vector<std::string> colours;
};

inline std::vector<Prim> primitives(const Calls& calls) {
  std::vector<Prim> out;
  std::string colour;
  bool open = false;
  for (const std::string& c : calls) {
    if (c.rfind("Color4ub(", 0) == 0) {
      colour = c;
    } else if (c.rfind("Begin(", 0) == 0) {
      out.push_back({c.substr(6, c.size() - 7), {}, {}});
      open = true;
    } else if (c == "End()") {
      open = false;
    } else if (open && c.rfind("Vertex2", 0) == 0) {
      out.back().vertices.push_back(c);
      out.back().colours.push_back(colour);
    }
  }
  return out;
}

inline std::string vf(double x, double y) {
  char s[64];
  snprintf(s, sizeof s, "Vertex2f(%g,%g)", x, y);
  return s;
}
inline std::string vi(int x, int y) {
  char s[64];
  snprintf(s, sizeof s, "Vertex2i(%d,%d)", x, y);
  return s;
}

// The colour under which vertex v was sent in any primitive of `kind`;
// "" when it was not sent.
inline std::string colour_of(const std::vector<Prim>& prims, const std::string& kind, const std::string& v) {
  for (const Prim& p : prims) {
    if (p.kind != kind) continue;
    for (size_t i = 0; i < p.vertices.size(); i++)
      if (p.vertices[i] == v) return p.colours[i];
  }
  return "";
}
