// The UI builder's cost: a form of 10 rows (an hbox with a label, a text box
// and a spinner each; 41 widgets) built from a token stream, beside the same
// tree made by calling the constructors directly, so the ratio of the two is
// the interpreter's own overhead. Each iteration deletes the tree it made.
#include <benchmark/benchmark.h>

#include "lib/gmap.h"
#include "lib/timer.h"
#include "testlog.h"
#include "ui/box.h"
#include "ui/label.h"
#include "ui/object.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "ui/uib.h"

namespace {

constexpr int kRows = 10;

int drop_request(widget *, const rect *, widget_update_fn, int) { return 0; }

void setup_once() {
  static bool done = false;
  if (done) return;
  start_runtime(TestStderr::kOff);
  object_init();
  gmap_init(kGmapBudget);
  timer_init();
  widget_set_queue(drop_request);
  done = true;
}

// The rows come from a loop, so the stream is fed in pieces: the vbox stays
// open between the calls (uib_build would end the build at its end).
widget *built() {
  uib_reset();
  uib_build_more(UIB_VBOX, 0, 2, UIB_END);
  for (int i = 0; i < kRows; i++)
    uib_build_more(UIB_HBOX, 0, 4,
                     UIB_LABEL, "Quantity",
                     UIB_TEXTBOX, "100", 12, TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE, i,
                     UIB_SPINNER, "Limit", 1.5, 0.0, 100.0, 0.5, 2, i,
                   UIB_CLOSE, UIB_END);
  uib_build_more(UIB_CLOSE);
  return uib_result();
}

// Both ways must make the same tree: 41 widgets in rows of three.
int count(widget *w) {
  int n = 1;
  for (int i = 0; i < w->cls->child_count(w); i++) n += count(w->cls->get_child(w, i));
  return n;
}

widget *direct() {
  vbox *v = vbox_new(nullptr, 0, 2);
  for (int i = 0; i < kRows; i++) {
    hbox *h = hbox_new(v, 0, 4);
    label_new(h, "Quantity", 0, 0, 0, 0, nullptr);
    textbox_new(h, "100", 12, TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE, nullptr, nullptr, nullptr,
                nullptr, i);
    spinner_new(h, "Limit", 2, nullptr, nullptr, nullptr, nullptr, i, 1.5f, 0.0f, 100.0f, 0.5f);
  }
  return v;
}

void BM_FormFromTokens(benchmark::State &state) {
  setup_once();
  widget *check = built();
  if (count(check) != 4 * kRows + 1) state.SkipWithError("the stream made another tree");
  widget_delete(check);
  for (auto _ : state) {
    widget *w = built();
    benchmark::DoNotOptimize(w);
    widget_delete(w);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * (4 * kRows + 1));
}
BENCHMARK(BM_FormFromTokens);

void BM_FormDirect(benchmark::State &state) {
  setup_once();
  widget *check = direct();
  if (count(check) != 4 * kRows + 1) state.SkipWithError("the calls made another tree");
  widget_delete(check);
  for (auto _ : state) {
    widget *w = direct();
    benchmark::DoNotOptimize(w);
    widget_delete(w);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * (4 * kRows + 1));
}
BENCHMARK(BM_FormDirect);

}  // namespace
