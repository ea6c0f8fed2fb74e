// Text drawing costs: glyphs measured, and glyphs laid out and emitted per
// second through font_draw, against the GL recorder and against Mesa's
// llvmpipe under a private Xvfb; and a drawing list replayed against laying
// the same text out again every frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "dalloc.h"
#include "lib/font.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "log.h"
#include "pixeltest.h"
#include "plat.h"

namespace {

// A screenful of quote rows: 20 lines of 40 characters.
constexpr int kLines = 20;
const char *const kLine = "BHP  45.67  +0.12  1,234,567  10:45:03 AM";

bool g_ready = false;
bool g_window = false;

// The runtime, the atlas and, when an X server can be had, a window whose
// context holds the atlas (context 0); the recorder gets context 1.
void setup_once() {
  if (g_ready) return;
  g_ready = true;
  dalloc_init();
  plat_init();
  log_init();
  log_set_stderr(0);
  tex_init();
  tex_load_builtin();
  gmap_init(kGmapBudget);
  std::string why;
  g_window = pixeltest_open(640, 480, &why);
  if (g_window) {
    gfx_reset();
    gfx_set_viewport(640, 480);
    tex_context_new(0);
    tex_select_context(0);
  }
}

// Selects the GL target: 0 the recorder (its call list cleared every
// iteration), 1 llvmpipe. False when the target is not available.
bool use_target(benchmark::State &state, int target) {
  setup_once();
  if (target == 1 && !g_window) {
    state.SkipWithError("no X server for llvmpipe");
    return false;
  }
  if (target == 0) glrecord_start();
  gfx_reset();
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

size_t glyphs_per_screen() { return size_t(kLines) * strlen(kLine); }

void BM_FontTextSize(benchmark::State &state) {
  setup_once();
  int32_t size[2];
  for (auto _ : state) {
    font_text_size(size, 8, kLine);
    benchmark::DoNotOptimize(size);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(strlen(kLine)));
}
BENCHMARK(BM_FontTextSize);

// One screen of text drawn at once; items are glyphs.
void BM_FontDraw(benchmark::State &state) {
  const int target = int(state.range(0));
  if (!use_target(state, target)) return;
  for (auto _ : state) {
    for (int i = 0; i < kLines; i++) font_draw(kLine, 4, 16 + i * 20, 0, 8, 0xFFFFFFFFu, nullptr);
    gfx_flush();
    if (target == 0) glrecord_clear();
    else gl->Finish();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(glyphs_per_screen()));
  end_target(target);
}
BENCHMARK(BM_FontDraw)->Arg(0)->Arg(1)->ArgName("llvmpipe");

// The same screen from a drawing list laid out once (replay), or laid out
// again before every draw (relayout).
void text_list(benchmark::State &state, bool relayout) {
  const int target = int(state.range(0));
  if (!use_target(state, target)) return;
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, kLines);
  auto lay = [&m] {
    gmap_begin(&m, uint32_t(4 * glyphs_per_screen()));
    for (int i = 0; i < kLines; i++) {
      font_layout(&m, kLine, 4, 16 + i * 20, 0, 8, nullptr);
      gmap_mark(&m);
    }
    gmap_end(&m);
  };
  lay();
  for (auto _ : state) {
    if (relayout) lay();
    gfx_colour(0xFFFFFFFFu);
    gmap_draw(&m);
    gfx_flush();
    if (target == 0) glrecord_clear();
    else gl->Finish();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(glyphs_per_screen()));
  gmap_release(&m);
  end_target(target);
}

void BM_ListReplay(benchmark::State &state) { text_list(state, false); }
void BM_ListRelayout(benchmark::State &state) { text_list(state, true); }
BENCHMARK(BM_ListReplay)->Arg(0)->Arg(1)->ArgName("llvmpipe");
BENCHMARK(BM_ListRelayout)->Arg(0)->Arg(1)->ArgName("llvmpipe");

// Laying out alone, without drawing: the work a replay saves.
void BM_FontLayoutOnly(benchmark::State &state) {
  setup_once();
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  for (auto _ : state) {
    gmap_begin(&m, uint32_t(4 * glyphs_per_screen()));
    for (int i = 0; i < kLines; i++) font_layout(&m, kLine, 4, 16 + i * 20, 0, 8, nullptr);
    gmap_end(&m);
    benchmark::DoNotOptimize(m.vertices[0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(glyphs_per_screen()));
  gmap_release(&m);
}
BENCHMARK(BM_FontLayoutOnly);

}  // namespace
