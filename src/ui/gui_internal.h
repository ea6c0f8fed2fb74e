// State shared by the gui core's modules (windows and queue, frame loop,
// input dispatch, window draw). Nothing outside src/ui/gui*.cpp includes it.
#pragma once

#include <cstdint>

#include "pool.h"
#include "ui/gui.h"

struct gui_promise_item {
  gui_promise_fn fn;
  void *arg;
  int n;
  gui_promise_fn cleanup;
  gui_promise_item *next;
};

struct gui_promise_list {
  gui_promise_item *head, *tail;
};

struct gui_state {
  // windows and monitors (gui.cpp)
  gui_win wins[kGuiWindows];
  rect monitors[kGuiMonitors][2];
  int monitor_count;
  rect bounds;
  char app_name[64];
  char video_driver[128];
  char *default_title;
  int current;
  int flip;
  int maximise_supported;
  int software, delete_contexts, swap_any, render_option, quirk;
  int logged_gl;
  int closing;  // a close is tearing the native window down
  int initialised;

  // the loop (gui_loop.cpp)
  int64_t frame_ms, frame_count, last_activity;
  int frame_rate;
  int quality, frame_interval;
  int frame_mode;  // 0 while something animates, 1 when still
  int64_t last_input_ms;  // frame time of the last native input handled
  int64_t answer_from_us;  // when the oldest input not yet drawn was handled, 0 none
  int quit, shutting_down;
  int64_t relayout_at;
  int active;
  int idle_slowdown;
  int64_t hover_at;  // 0 none
  int at_rest;
  int resize_marker;
  int relayout_pending;  // a live resize left a relayout for its end
  pool promise_pool;
  int promise_pool_ready;
  gui_promise_list before, after;
  int64_t baseline;
  int drawn_since_baseline;
  int pause, last_diff;
  gui_sleep_fn sleep;
  int (*input_waiting)(void);  // test seam beside `sleep`
  // hooks
  void (*active_hook)(int);
  int (*last_close_query)(void);
  int (*quit_hook)(void);
  void (*window_closed_hook)(int);
  int (*close_query)(int);
  void (*crossing_hook)(int, int);
  void (*current_hook)(int);
  void (*drag_start_hook)(widget *, drag_record *);
  void (*drop_hook)(widget *, drag_record *);
  void (*spare_hook)(void);
  void (*state_hook)(int, int);

  // pointer samples (gui_input.cpp fills, the loop adds idle samples)
  int32_t samples[12][2];
  int sample_count, sample_next;
  int samples_on;
  int motion_in_pump;
  int recheck_hover;

  // the saved list and owner map (gui_draw.cpp)
  gui_update *saved;
  int saved_count, saved_cap;
  widget **owner_map;
  int64_t owner_cap;
};

extern gui_state G;
// The frame loop's counters (gui_loop_stats); the window draw adds its own.
extern gui_loop_stats_rec gui_stats;
// The steady clock in microseconds, for those figures.
int64_t gui_now_us(void);

// Makes `index` the current window, calling the current-window hook.
void gui_make_current(int index);
// The active hook, called only when the value changes.
void gui_set_active(int on);
// Runs a promise list (detached first).
void gui_run_promises(gui_promise_list *list);
// Records a pointer position in the sample ring.
void gui_add_sample(int32_t x, int32_t y);
// The hover check of the loop: enter/leave walk (and motion when asked).
void gui_hover_check(int with_motion);
// Input state reset at gui start.
void gui_input_reset(void);
// The drag label's area for the window draw: 1 when a label is showing.
int gui_drag_label_showing(void);
// Queues, through the owner map, every widget that shows in `area` of the
// window; the number queued, or -1 when the map cannot grow (every window
// is then invalidated).
int gui_queue_owners(int index, const rect *area);
// Forget the owner map and saved list (shutdown).
void gui_draw_fini(void);
int gui_draw_init(void);
