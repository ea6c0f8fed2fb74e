// The gui core: a fixed table of 16 top-level windows, each showing one
// widget tree in one OpenGL context with a queue of pending redraws; the one
// frame loop of the program with its deferred calls (promises) and hooks;
// the input dispatch that routes the platform's events to widgets (focus,
// enter/leave, press/release, the drag protocol, moving and resizing); and
// the window draw that paints what was queued into both buffers.
//
// A widget never draws on its own: it queues an update and the frame loop
// draws it. Main thread only; other threads reach the gui only through data
// handed over under the application's core lock, which the loop's active
// hook lets the application take (1) and release (0).
#pragma once

#include <cstdint>

#include "ui/gui_plat-linux.h"
#include "ui/widget.h"

constexpr int kGuiWindows = 16;
constexpr int kGuiMonitors = 16;

using gui_promise_fn = void (*)(void *arg, int n);

// One pending redraw. The callback and int travel with the entry into the
// saved list of the draw; drawing never calls them.
struct gui_update {
  widget *w;  // null once the widget is forgotten
  rect r;
  widget_update_fn fn;
  int n;
};

struct gui_win {
  int32_t in_use;
  widget *root;
  rect frame;       // on the screen; w, h the content size
  rect prev_frame;  // the frame while in the normal state
  uint32_t flags;   // 0x1 centre at open, 0x2 borderless
  char title[100];
  int32_t needs_draw;
  int32_t full_redraw;
  int32_t extra_full_redraws;
  int32_t reset;
  int32_t state;  // 0 normal, 1 minimised, 2 maximised, -1 closed
  size sizes[2];
  int32_t resize_check_ms;
  int32_t update_count, update_cap;
  gui_update *updates;
  gui_plat_data plat;
};

enum : uint32_t { GUI_WIN_CENTRE = 0x1, GUI_WIN_BORDERLESS = 0x2 };

// ---- start and stop ----
int gui_init(const char *app_name);
void gui_shutdown(void);

// ---- windows ----
int gui_window_open(widget *root, const rect *r, uint32_t flags);  // index or -1
void gui_window_close(int index);  // -1: every open window
void gui_window_set_title(int index, const char *text);
const char *gui_window_title(int index);
int gui_set_default_title(const char *text);
void gui_window_set_frame(int index, const rect *r);
void gui_window_frame(int index, rect *out);
void gui_window_prev_frame(int index, rect *out);
void gui_window_size(int index, int32_t *w, int32_t *h);
void gui_widget_window_size(widget *w, int32_t *width, int32_t *height);
void gui_window_set_min_size(int index, const size *min);
int gui_window_has_border(int index);
void gui_window_set_border(int index);
void gui_window_set_borderless(int index);
void gui_set_maximise_supported(int on);
void gui_window_set_state(int index, int state);
int gui_window_state(int index);
void gui_window_set_drag_area(int index, const rect *r);
void gui_window_clear_drag_area(int index);
int gui_window_lock(int index);
int gui_window_unlock(int index);
widget *gui_window_root(int index);
int gui_window_index(widget *w);
widget *gui_widget_root(widget *w);
gui_win *gui_window_of_widget(widget *w);
gui_win *gui_window_record(int index);  // null when out of range
int gui_window_dirty(int index);
int gui_window_needs_redraw(int index);
void gui_invalidate_window(int index);  // -1: all
void gui_relayout_window(int index);    // -1: all
rect *gui_monitor_rect(int i, rect *out);
int gui_monitor_count(void);
void gui_add_monitor(const rect *frame, const rect *visible);
void gui_clamp_to_screen(rect *r);
void gui_clamp_widget_to_window(widget *w);
void gui_set_flip(int on);
void gui_flip_rect(rect *r);

// ---- the redraw queue ----
int gui_queue_update(widget *w, const rect *r, widget_update_fn fn, int n);
void gui_drop_updates(widget *w);
// Draws what is queued for the window; the number of entries drawn.
int gui_draw_window(int index);
// Frames that ended with a GL error pending, since start (each logged; a
// debug build names the error). Tests hold it at 0.
int64_t gui_frame_gl_errors(void);

// ---- options and names ----
void gui_set_app_name(const char *name);
const char *gui_app_name(void);
void gui_set_video_driver(const char *name, const char *second);
const char *gui_video_driver(void);
int gui_intel_hd3000_quirk(void);
int gui_driver_quirk(void);
void gui_set_software_rendering(int on);
void gui_set_delete_contexts(int on);
void gui_set_swap_any(int on);
void gui_set_render_option(int on);
// The driver workarounds in force (what the setters above last set).
int gui_software_rendering(void);
int gui_delete_contexts(void);
int gui_swap_any(void);
int gui_render_option(void);

// ---- the frame loop ----
int gui_main_loop(void);
int gui_tick(void);
int gui_resize_tick_begin(void);
void gui_resize_tick_end(void);
int gui_promise(gui_promise_fn fn, void *arg, int n);
int gui_promise_after_draw(gui_promise_fn fn, void *arg, int n);
int gui_promise_after_draw_cleanup(gui_promise_fn fn, void *arg, int n, gui_promise_fn cleanup);
int gui_promise_cancel_before(gui_promise_fn fn, void *arg, int n);
int gui_promise_cancel_after(gui_promise_fn fn, void *arg, int n);
int gui_promise_cancel(gui_promise_fn fn, void *arg);
void gui_quit(void);
void gui_set_quitting(void);
int gui_quitting(void);
int gui_shutting_down(void);
// The user's drawing quality (0 low, 1 medium, 2 high): the loop's frame
// interval of 50, 10 or 5 ms. Nothing but the user's choice changes it.
void gui_set_quality(int q);
int gui_quality(void);
// The frame mode: 0 while something animates (fades, a moving ticker, the
// configuration box), which keeps the loop at the quality's pace instead of
// its resting one; 1 when the screens are still. Initially 1.
void gui_set_frame_mode(int mode);
int gui_frame_mode(void);
void gui_set_stack_mode(int ignored, int allowed);
int64_t gui_time_ms(void);
float gui_time_seconds(void);
int64_t gui_last_activity_ms(void);
int64_t gui_frame_count(void);
int gui_frame_rate(void);
void gui_set_frame_rate(int fps);
// Where the frame loop's wall time went since the process started
// (microseconds), and its passes; also logged (DEBUG, "loop: ...") every ten
// seconds while the loop runs.
struct gui_loop_stats_rec {
  int64_t passes, drawn;
  int64_t timers_us;  // due timers and the calls queued before the draw
  int64_t draw_us;    // drawing, less the waits for the core lock in it
  int64_t events_us;  // native events and hover checks
  int64_t lock_us;    // the active hook taking the core lock back
  int64_t sleep_us;
  // Window frames presented, those of them drawn in full, the widgets the
  // partial ones drew, and the time the presents took (within draw_us).
  int64_t frames, full_frames, widgets;
  int64_t swap_us;
  // Answers to input: from the pass that handled a key, button or wheel
  // event to the end of the next drawn pass (its presents done): how many,
  // their sum, and the longest since the last log line.
  int64_t answers, answer_us, answer_max_us;
};
void gui_loop_stats(gui_loop_stats_rec *out);
// Test seam: the loop's sleep (plat_sleep_ms when null). Returns the old one.
using gui_sleep_fn = void (*)(int32_t ms);
gui_sleep_fn gui_set_sleep(gui_sleep_fn fn);
// Test seam used with gui_set_sleep: after the test sleep, fn() says whether
// native input arrived during it (as the display wait would). Null: never.
void gui_set_input_waiting(int (*fn)(void));
// The pause the frame-rate regulation chose last (ms).
int gui_frame_pause(void);
// One regulation step for a drawn pass at time `now` (the loop calls it).
void gui_regulate(int64_t now);

// ---- hooks ----
void gui_set_active_hook(void (*fn)(int on));
void gui_set_last_close_query(int (*fn)(void));
void gui_set_quit_hook(int (*fn)(void));
void gui_set_window_closed_hook(void (*fn)(int index));
void gui_set_close_query(int (*fn)(int index));
void gui_set_crossing_hook(void (*fn)(int index, int inside));
void gui_set_current_window_hook(void (*fn)(int index));
void gui_set_drag_start_hook(void (*fn)(widget *pressed, drag_record *d));
void gui_set_drop_hook(void (*fn)(widget *target, drag_record *d));
void gui_set_spare_hook(void (*fn)(void));
// Called when the window manager changes a window's state by itself (the
// user minimised it from the task bar, or brought it back): index, state.
void gui_set_window_state_hook(void (*fn)(int index, int state));

// ---- input entry points (the platform layer calls these) ----
void gui_motion_event(int win, int32_t x, int32_t y);
void gui_button_event(int win, int button, int down);
void gui_wheel_event(int win, int32_t position);
void gui_key_event(int win, int32_t code, int down);
void gui_focus_changed(int win, int focused);
void gui_pointer_crossing(int win, int inside);
void gui_window_moved(int win, const rect *r, int final);
int gui_window_close_request(int win);
void gui_window_closed(int win);
// The window manager set `win`'s state (0 normal, 1 minimised, 2 maximised;
// 2 counts as 0 where maximising is not supported): recorded, the window is
// drawn again when it shows, and the state hook is told. A state the gui
// asked for itself is already recorded and changes nothing.
void gui_window_state_changed(int win, int state);

// ---- widget-side input operations ----
widget *gui_focus(void);
void gui_set_focus(widget *w);
void gui_unfocus(widget *w);
// A hook told of every shown, sensitive widget that loses the focus (by
// gui_unfocus or a press elsewhere), before it is redrawn; at most four.
void gui_add_unfocus_hook(void (*fn)(widget *w));
int gui_has_focus(widget *w);
void gui_forget_widget(widget *w);
void gui_mouse(int *win, int32_t *x, int32_t *y);
int gui_widget_mouse(widget *w, int32_t *x, int32_t *y);
int gui_current_window(void);
void gui_set_current_window(int index);
int gui_mouse_window(void);
int gui_mouse_buttons(void);
void gui_recheck_hover(void);
int gui_resizing(void);
int gui_dragging(void);
widget *gui_drag_source(void);
widget *gui_drag_data(void);
void gui_set_drag_mode(int on);
int gui_mouse_samples_on(void);
float gui_mouse_speed(void);
void gui_set_cursor(int code);
void gui_reset_cursor(void);
int gui_cursor(void);
void gui_set_move_band(int pixels);
// Delivers a pending drag motion to the drag-motion target (the loop calls it).
void gui_deliver_drag_motion(void);
// 1 while one of the gui's windows has the keyboard.
int gui_key_window(void);
