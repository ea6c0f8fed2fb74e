// The gui core as the widget layer calls it: the redraw queue, focus, the
// forgetting of deleted widgets, promises and the quit and resize states.
// Minimal version: only the entry points the widget and container classes
// call, until the window core, frame loop and input dispatch are built in
// this module (they replace gui.cpp and extend this header).
#pragma once

#include "ui/widget.h"

using gui_promise_fn = void (*)(void *arg, int n);

// Queues a redraw of `r` (null: the widget's own rect) for w's window; 0, or
// -1 when the queue cannot grow. Nothing while quitting, for an empty rect
// or a hidden widget, or when w is already dirty (only its 0x2 bit is
// cleared then).
int gui_queue_update(widget *w, const rect *r, widget_update_fn fn, int n);
// Forgets every queued redraw of w (its fini).
void gui_drop_updates(widget *w);
// Takes the keyboard focus from w when it has it.
void gui_unfocus(widget *w);
// Makes the window core forget w (pointer, press, drag and focus state).
void gui_forget_widget(widget *w);
// Cancels every promise of arg (and fn, when given); 0 when one was removed.
int gui_promise_cancel(gui_promise_fn fn, void *arg);
// The frame time in milliseconds: when the current pass of the frame loop
// started. Minimal version: reads the platform clock (plat_ms) at each call,
// so a test clock installed with plat_set_test_clock drives it; the frame
// loop will latch it once per pass.
int64_t gui_time_ms();
float gui_time_seconds();
// 1 once the gui is quitting.
int gui_quitting();
void gui_set_quitting();
// 1 while a live window resize or a widget edge-resize is in progress.
int gui_resizing();
