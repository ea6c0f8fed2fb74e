// CPU per frame of the window draw: a window of 500 small widgets, each a
// filled cell with a price in the built-in font, of which a tenth change
// every frame. Partial frames (queue the changed cells, lay out their text,
// draw them and the repeat of the previous frame's cells) beside full
// redraws of the same window; once on Mesa under Xvfb and once against the
// GL call recorder (no driver work at all).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "guitest.h"
#include "lib/font.h"
#include "lib/glrecord.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/gui_internal.h"

namespace {

// A cell: a fill and a right-aligned price.
struct cell : widget {
  colour fill;
  char text[16];
};

void cell_draw(widget *self) {
  cell *c = static_cast<cell *>(self);
  gfx_fill_rect(c->r.x, c->r.y, c->r.w, c->r.h, c->fill);
  int32_t sz[2];
  font_text_size(sz, 0, c->text);
  font_draw(c->text, c->r.x + c->r.w - sz[0] - 2, c->r.y + 2, 0, 0, 0xffffffff, nullptr);
}
void cell_reqsize(widget *self, size *out) { *out = {self->r.w, self->r.h}; }
void cell_class_init(object_class *rec) {
  auto *c = static_cast<widget_class *>(rec);
  c->draw = cell_draw;
  c->reqsize = cell_reqsize;
}
typeid_t cell_type() {
  static object_type_cache cache;
  return object_cached_type(&cache, [] {
    return object_register_class("benchcell", widget_type(), sizeof(cell), nullptr, nullptr,
                                 sizeof(widget_class), cell_class_init, nullptr);
  });
}

// A GL table that does nothing: what is left is the toolkit's own work.
template <typename R, typename... A>
void set(R (*&slot)(A...)) {
  slot = [](A...) -> R { return R(); };
}
gl_api make_null_gl() {
  gl_api t{};
    set(t.Begin); set(t.End); set(t.Vertex2i); set(t.Vertex2f); set(t.Vertex2d);
    set(t.TexCoord2f); set(t.TexCoord2i); set(t.Color4ub); set(t.Color4f); set(t.Rectf);
    set(t.LineWidth); set(t.PointSize); set(t.LineStipple); set(t.ShadeModel); set(t.Hint);
    set(t.Enable); set(t.Disable); set(t.BlendFunc); set(t.AlphaFunc); set(t.Scissor);
    set(t.Viewport); set(t.ColorMask); set(t.StencilFunc); set(t.StencilOp); set(t.StencilMask);
    set(t.ClearStencil); set(t.ClearColor); set(t.Clear); set(t.GetIntegerv); set(t.GetString);
    set(t.GetError); set(t.MatrixMode); set(t.LoadIdentity); set(t.Ortho); set(t.Translatef);
    set(t.Scalef); set(t.PushMatrix); set(t.PopMatrix); set(t.GenTextures); set(t.DeleteTextures);
    set(t.BindTexture); set(t.TexImage2D); set(t.TexSubImage2D); set(t.TexParameteri);
    set(t.TexParameterf); set(t.TexEnvi); set(t.PixelStorei); set(t.ReadBuffer);
    set(t.DrawBuffer); set(t.ReadPixels); set(t.CopyTexSubImage2D); set(t.Flush); set(t.Finish);
    set(t.DepthMask); set(t.PixelTransferi); set(t.PixelTransferf); set(t.WindowPos2i);
    set(t.DrawPixels);
  return t;
}
const gl_api kNullGl = make_null_gl();

struct bench_window {
  int win = -1;
  tw *root = nullptr;
  std::vector<cell *> cells;
  std::mt19937 rng{7};
};
bench_window B;

bool setup() {
  if (B.win >= 0) return true;
  if (!guitest_start_gui("bench")) return false;
  tex_init();
  if (tex_load_builtin() != 0) return false;
  const int cols = 25, rows = 20, cw = 40, ch = 16;
  B.root = tw_new(nullptr, "root", {0, 0, cols * cw, rows * ch}, 0xff000000);
  for (int y = 0; y < rows; y++) {
    tw *row = tw_new(B.root, "row", {0, y * ch, cols * cw, ch});
    for (int x = 0; x < cols; x++) {
      auto *c = reinterpret_cast<cell *>(object_new(cell_type()));
      c->r = {x * cw, y * ch, cw - 1, ch - 1};
      c->fill = 0xff302010;
      snprintf(c->text, sizeof c->text, "%d.%02d", x + y, x * 3 % 100);
      static_cast<container_class *>(row->cls)->add(row, c);
      B.cells.push_back(c);
    }
  }
  rect frame = {20, 20, cols * cw, rows * ch};
  B.win = gui_window_open(B.root, &frame, GUI_WIN_BORDERLESS);
  while (G.wins[B.win].needs_draw) gui_draw_window(B.win);
  return B.win >= 0;
}

void change_tenth() {
  for (size_t i = 0; i < B.cells.size() / 10; i++) {
    cell *c = B.cells[B.rng() % B.cells.size()];
    c->fill = 0xff000000 | (B.rng() & 0x7f7f7f);
    snprintf(c->text, sizeof c->text, "%u.%02u", (unsigned)(B.rng() % 100), (unsigned)(B.rng() % 100));
    widget_redraw(c);
  }
}

// One frame a iteration: a tenth of the cells change, then the window
// draws them (partial) or everything (full). Arg: 0 Mesa, 1 the recorder,
// 2 a GL table that does nothing.
void run_frames(benchmark::State &state, bool full) {
  if (!setup()) return state.SkipWithError("no display");
  int mode = (int)state.range(0);
  const gl_api *old = gl;
  if (mode == 1) glrecord_start(false);
  if (mode == 2) glapi_install(&kNullGl);
  for (auto _ : state) {
    change_tenth();
    if (full) G.wins[B.win].needs_draw = G.wins[B.win].full_redraw = 1;
    if (mode == 1) glrecord_clear();
    benchmark::DoNotOptimize(gui_draw_window(B.win));
  }
  if (mode == 1) glrecord_stop();
  if (mode == 2) glapi_install(old);
  while (G.wins[B.win].needs_draw) gui_draw_window(B.win);
  static const char *const kLabels[] = {"mesa", "recorder", "no GL"};
  state.SetLabel(kLabels[mode]);
}

void BM_PartialFrame(benchmark::State &state) { run_frames(state, false); }
void BM_FullFrame(benchmark::State &state) { run_frames(state, true); }
BENCHMARK(BM_PartialFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The presentation alone (the platform's buffer swap of this window), the
// part of every frame that is the driver's and the X server's.
void BM_SwapOnly(benchmark::State &state) {
  if (!setup()) return state.SkipWithError("no display");
  for (auto _ : state) {
    gui_plat_lock(&G.wins[B.win].plat);
    gui_plat_swap(&G.wins[B.win].plat);
  }
}
BENCHMARK(BM_SwapOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
