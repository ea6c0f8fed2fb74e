// Painting cost: one paint of a 900 x 500 chart of 2,000 candles with three
// overlays (SMA, EMA, Bollinger Bands), two indicator panes (Volume, MACD)
// and the cross-hair with its data boxes, against the GL call recorder (the
// CPU the painter and the drawing layer spend, plus the recorder's own text
// formatting of every call) and against Mesa's llvmpipe under a private Xvfb.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "bench_series.h"
#include "charts/axislist.h"
#include "charts/nuchart.h"
#include "charts/paint.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "ssmodel.h"

namespace {

constexpr int32_t kW = 900, kH = 500, kSamples = 2000;

struct bench_chart {
  chart_plot p{};
  chart_view view{};
  chart_axes axes{};
  ss_exchange exchange{};
  ss_stock stock{};
};

bool g_ready = false;
bool g_window = false;
bench_chart* g_chart = nullptr;

// The range of every line of an instance over the visible samples.
void range_of(chart_ta* ta, int32_t n) {
  double lo = 1e300, hi = -1e300;
  for (int l = 0; l < kTaMaxLines; l++) {
    if (!ta->lines[l]) continue;
    for (int32_t i = 0; i < n; i++) {
      double v = ta->lines[l][i];
      if (v == kChartNoValue) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  ta->value_low = lo < hi ? lo : 0;
  ta->value_high = lo < hi ? hi : 1;
}

// Two placements of the samples. 0: as the automatic range places candles
// (3 pixels wide, one apart, from the last sample leftwards while they fit:
// the newest ~210 of the 2,000 are visible). 1: every sample visible, one
// pixel a bar, several to a column (the most a paint can be asked to draw).
void layout(bench_chart* c, int all) {
  chart_plot* p = &c->p;
  int32_t right = p->pane_x + p->pane_w - 3;
  p->last_visible = kSamples - 1;
  p->first_visible = 0;
  for (int32_t i = kSamples - 1; i >= 0; i--) {
    if (all) {
      p->xpos[i] = (uint32_t)(p->pane_x + 1 + (int64_t)i * (p->pane_w - 2) / kSamples);
      p->bar_width[i] = 1;
      continue;
    }
    int32_t x = right - (kSamples - 1 - i) * 4;
    p->bar_width[i] = 3;
    p->xpos[i] = (uint32_t)std::max(x, 0);
    if (x < p->pane_x + 2 && p->first_visible == 0) p->first_visible = i + 1;
  }
  double lo = 1e300, hi = -1e300;
  for (int32_t i = p->first_visible; i <= p->last_visible; i++) {
    lo = std::min(lo, p->low[i]);
    hi = std::max(hi, p->high[i]);
  }
  p->value_low = lo;
  p->value_high = hi;
  for (chart_ta* ta = p->indicators; ta; ta = ta->next) range_of(ta, kSamples);
  nuchart_map_values(p);
  c->view.rebuild = 1;
}

void build_chart() {
  bench_chart* c = new bench_chart;
  chart_plot* p = &c->p;
  fill_walk(p, kSamples);
  chart_colours_init();
  c->stock.kind = kKindStock;
  c->stock.exchange = &c->exchange;
  c->exchange.date = sstime_pack_date(10, 12, 2026);
  for (int32_t i = 0; i < kSamples; i++) p->times[i] = sstime_add_days(sstime_pack_date(1, 1, 2019), i);
  p->main = &c->stock;
  p->eod = 1;
  p->type = 4;
  p->eff_period = 5;
  p->eff_count = 1;
  p->options = 0x4 | 0x1 | 0x2 | 0x1000;
  p->chart_x = 0;
  p->chart_y = 0;
  p->chart_w = kW;
  p->chart_h = kH - 1;
  p->marked.from_px = p->marked.to_px = -1;
  p->cursor.index = -1;
  // Panes as the layout gives them: the price pane over two indicator panes.
  int32_t plot_w = kW - 14 - 40, plot_h = kH - 10 - 14;
  int32_t ind_h = plot_h / 5;
  p->plot_x = p->pane_x = 1;
  p->plot_y = p->pane_y = 3;
  p->plot_w = p->pane_w = plot_w;
  p->plot_h = plot_h;
  p->pane_h = plot_h - 2 * ind_h;
  alloc_add_overlay(p, 2);
  alloc_add_overlay(p, 3);
  alloc_add_overlay(p, 4);
  alloc_add_indicator(p, 2);
  alloc_add_indicator(p, 5);
  p->overlay_count = 3;
  p->indicator_count = 2;
  alloc_chart_values(p, kSamples);
  ta_compute_all(p);
  int32_t y = p->pane_y + p->pane_h;
  for (chart_ta* ta = p->indicators; ta; ta = ta->next, y += ind_h) {
    ta->pane_x = p->pane_x;
    ta->pane_y = y + 28;
    ta->pane_w = p->pane_w;
    ta->pane_h = ind_h - 28;
    range_of(ta, kSamples);
  }
  for (chart_ta* ta = p->overlays; ta; ta = ta->next) range_of(ta, kSamples);
  // Axis lists: a grid line every 60 pixels, a value line every 40.
  c->axes.time.major.begin(64);
  c->axes.time.minor.begin(64);
  c->axes.value.major.begin(64);
  c->axes.value.minor.begin(64);
  for (int32_t x = 30; x < p->pane_w; x += 60) (x % 120 ? c->axes.time.minor : c->axes.time.major).add(x);
  for (int32_t yy = 20; yy < kH - 20; yy += 40) (yy % 80 ? c->axes.value.minor : c->axes.value.major).add(yy);
  chart_view_init(&c->view);
  c->view.axes = &c->axes;
  c->view.hovering = 1;
  c->view.hover_index = kSamples - 100;
  p->view = &c->view;
  layout(c, 0);
  g_chart = c;
}

void setup_once() {
  if (g_ready) return;
  g_ready = true;
  charts_bench_start();
  tex_init();
  tex_load_builtin();
  gmap_init(kGmapBudget);
  build_chart();
  std::string why;
  g_window = pixeltest_open(kW, kH, &why);
  if (g_window) {
    gfx_reset();
    gfx_set_viewport(kW, kH);
    tex_context_new(0);
    tex_select_context(0);
  }
}

// 0 the recorder, 1 llvmpipe (every paint finished with glFinish).
void BM_PaintChart(benchmark::State& state) {
  const int target = int(state.range(0));
  const bool rebuild = state.range(1) != 0;
  setup_once();
  layout(g_chart, int(state.range(2)));
  if (target == 1 && !g_window) {
    state.SkipWithError("no X server for llvmpipe");
    return;
  }
  if (target == 0) glrecord_start();
  tex_context_new(target == 0 ? 1 : 0);
  tex_select_context(target == 0 ? 1 : 0);
  gfx_reset();
  gfx_set_viewport(kW, kH);
  uint32_t bg = 0;
  size_t calls = 0;
  for (auto _ : state) {
    g_chart->view.rebuild = rebuild ? 1 : 0;
    paint_chart(&g_chart->p, &bg);
    gfx_flush();
    if (target == 0) {
      calls = glrecord_calls().size();
      glrecord_clear();
    } else {
      gl->Finish();
    }
  }
  if (target == 0) {
    state.counters["gl_calls"] = (double)calls;
    tex_context_forget(1);
    glrecord_stop();
  }
}
BENCHMARK(BM_PaintChart)
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 1}})
    ->ArgNames({"llvmpipe", "rebuild", "all"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// The reference for the recorder rows: the same number of GL calls as one
// paint makes (the gl_calls counter above), each a Vertex2f inside one
// primitive, so the recorder's own cost per call is known in the same run.
void BM_RecorderFloor(benchmark::State& state) {
  setup_once();
  const int64_t n = state.range(0);
  glrecord_start();
  for (auto _ : state) {
    gl->Begin(GL_LINES);
    for (int64_t i = 0; i < n - 2; i++) gl->Vertex2f((float)(i & 1023) + 0.5f, 10.5f);
    gl->End();
    glrecord_clear();
  }
  glrecord_stop();
}
BENCHMARK(BM_RecorderFloor)->Arg(8763)->Arg(35951)->Unit(benchmark::kMicrosecond);

}  // namespace
