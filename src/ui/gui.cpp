// Minimal version: the gui core's entry points that the widget and
// container classes call, with the least behaviour they need while no
// window, frame loop or input dispatch exists. The window core replaces this
// file: requests are then kept per window and drawn by its draw pass.
#include "ui/gui.h"

#include "plat.h"

namespace {

struct gui_state {
  int quitting = 0;
};
gui_state G;

}  // namespace

// Minimal version: no window holds a queue yet, so a request only marks the
// widget dirty (clearing its repeat bit) under the queue's own conditions.
int gui_queue_update(widget *w, const rect *, widget_update_fn, int) {
  if (G.quitting || w->r.w < 1 || w->r.h < 1 || (w->flags & WIDGET_HIDDEN)) return 0;
  w->flags &= ~WIDGET_REPEAT;
  if (w->flags & WIDGET_DIRTY) return 0;
  w->flags |= WIDGET_DIRTY;
  return 0;
}

// Minimal version: no queue keeps widget pointers yet.
void gui_drop_updates(widget *) {}

// Minimal version: no widget holds the keyboard focus yet.
void gui_unfocus(widget *) {}

// Minimal version: no pointer, press or drag state refers to widgets yet.
void gui_forget_widget(widget *) {}

// Minimal version: no promise list exists yet, so nothing is ever removed.
int gui_promise_cancel(gui_promise_fn, void *) { return -1; }

// Minimal version: no frame loop latches the time yet.
int64_t gui_time_ms() { return plat_ms(); }

float gui_time_seconds() { return float(gui_time_ms()) / 1000.0f; }

int gui_quitting() { return G.quitting; }

void gui_set_quitting() { G.quitting = 1; }

// Minimal version: no window is ever resized live yet.
int gui_resizing() { return 0; }
