// The grid's cost per frame under a change flood: four grids of 200 rows
// (800 stocks) changing their bid, last and volume before each frame, every
// stock or one in ten; a frame delivers the changes, advances the fades and
// draws the four grids, against the GL recorder (which counts the GL calls
// a frame makes) and against Mesa's llvmpipe under a private Xvfb. The
// references in the same run draw the same frames whole (every row in view
// painted and laid out again), as a grid without kept rows would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../bench_support.h"
#include "config/config.h"
#include "dalloc.h"
#include "lib/fade.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "log.h"
#include "pixeltest.h"
#include "plat.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "testmodel.h"
#include "ui/object.h"
#include "windows/watchlist.h"

namespace {

constexpr int kGrids = 4, kRows = 200, kW = 1400, kH = 900;

bool g_ready = false, g_window = false;
int64_t g_now = 1000000;
int64_t bench_clock() { return g_now; }
int drop_request(widget *, const rect *, widget_update_fn, int) { return 0; }
watchlist *g_grid[kGrids];
std::vector<ss_stock *> g_stocks;

void setup_once() {
  if (g_ready) return;
  g_ready = true;
  runtime_once();
  plat_set_test_clock(bench_clock);
  object_init();
  tex_init();
  tex_load_builtin();
  gmap_init(kGmapBudget);
  fade_init();
  style_init();
  style_select(0);
  std::string why;
  g_window = pixeltest_open(kW, kH, &why);
  if (g_window) {
    gfx_reset();
    gfx_set_viewport(kW, kH);
    tex_context_new(0);
    tex_select_context(0);
  }
  widget_set_queue(drop_request);
  start_terminal_model();
  config_init();
  timer_init();
  scan_init();
  ss_exchange *ex = ssmodel_exchange(0);
  for (int g = 0; g < kGrids; g++) {
    char name[16];
    snprintf(name, sizeof name, "L%d", g);
    wlist *wl = wlist_create(name, 0);
    for (int i = 0; i < kRows; i++) {
      char code[12];
      snprintf(code, sizeof code, "S%d%03d", g, i);
      ss_stock *s = ssmodel_get_stock(ex, code);
      ssmodel_stock_make_current(s);
      s->bid = 1000 + i;
      s->offer = 1010 + i;
      s->last = 1005 + i;
      s->high = 1200 + i;
      s->low = 900;
      s->volume = 10000;
      s->value = 1000000;
      wlist_add_item(wl, s);
      g_stocks.push_back(s);
    }
    watchlist *w = watchlist_new(nullptr, 0);
    w->r = {(g % 2) * kW / 2, (g / 2) * kH / 2, kW / 2, kH / 2};
    widget_show(w);
    w->cls->geometry_changed(w);
    watchlist_set_source(w, wl);
    g_grid[g] = w;
  }
}

bool use_target(benchmark::State &state, int target) {
  setup_once();
  if (target == 1 && !g_window) {
    state.SkipWithError("no X server for llvmpipe");
    return false;
  }
  if (target == 0) glrecord_start();
  gfx_reset();
  gfx_set_viewport(kW, kH);
  tex_context_new(target == 0 ? 1 : 0);
  tex_select_context(target == 0 ? 1 : 0);
  return true;
}

void end_target(int target) {
  gfx_flush();
  if (target == 0) {
    tex_context_forget(1);
    glrecord_stop();
  } else {
    gl->Finish();
  }
}

// One frame: `every`-th stock changes, changes delivered, 16 ms of fades,
// the four grids drawn.
size_t g_calls = 0;

void frame(int every, bool whole, int target, uint32_t tick) {
  for (size_t i = 0; i < g_stocks.size(); i += (size_t)every) {
    ss_stock *s = g_stocks[i];
    bool up = (tick + i) & 1;
    s->bid += up ? 1 : -1;
    s->last += up ? 2 : -2;
    s->volume += 100;
    ssnotify_record(s, kChangeQuote | kChangeTrade, nullptr);
  }
  ssnotify_deliver();
  g_now += 16;
  timer_run(g_now);
  for (watchlist *w : g_grid) {
    if (whole) {
      for (watchlist_row *r = w->rows; r; r = r->next) r->stale = 1;
      w->full = 1;
    }
    w->cls->draw(w);
  }
  if (target == 0) {
    g_calls += glrecord_calls().size();
    glrecord_clear();
  }
}

void run(benchmark::State &state, int every, bool whole) {
  const int target = int(state.range(0));
  if (!use_target(state, target)) return;
  uint32_t tick = 0;
  // Steady state first: the flashes of the previous benchmark's frames end
  // (1.5 s of frame time) and this flood's own are running.
  for (int i = 0; i < 120; i++) frame(every, whole, target, tick++);
  uint32_t built = 0, drawn = 0;
  for (watchlist *w : g_grid) built += w->rebuilds, drawn += w->row_draws;
  g_calls = 0;
  for (auto _ : state) frame(every, whole, target, tick++);
  end_target(target);
  uint32_t after = 0, drawn_after = 0;
  for (watchlist *w : g_grid) after += w->rebuilds, drawn_after += w->row_draws;
  state.counters["rows_drawn_per_frame"] =
      benchmark::Counter(double(drawn_after - drawn) / double(state.iterations() ? state.iterations() : 1));
  state.counters["rows_laid_out_per_frame"] =
      benchmark::Counter(double(after - built) / double(state.iterations() ? state.iterations() : 1));
  if (target == 0)
    state.counters["gl_calls_per_frame"] =
        benchmark::Counter(double(g_calls) / double(state.iterations() ? state.iterations() : 1));
  state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_FourGridsFlood(benchmark::State &state) { run(state, 1, false); }
void BM_FourGridsFloodWhole(benchmark::State &state) { run(state, 1, true); }
void BM_FourGridsTenthChanging(benchmark::State &state) { run(state, 10, false); }
void BM_FourGridsTenthChangingWhole(benchmark::State &state) { run(state, 10, true); }

// Process CPU time: llvmpipe rasterises on threads of its own.
#define GRID_BENCH(fn) \
  BENCHMARK(fn)->Arg(0)->Arg(1)->ArgName("llvmpipe")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
GRID_BENCH(BM_FourGridsFlood);
GRID_BENCH(BM_FourGridsFloodWhole);
GRID_BENCH(BM_FourGridsTenthChanging);
GRID_BENCH(BM_FourGridsTenthChangingWhole);

}  // namespace
