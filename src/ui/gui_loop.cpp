// The frame loop, promises and hooks. One loop runs the whole interface:
// each pass fires due timers, runs the deferred calls queued for before the
// draw, draws every window with pending work, pumps the platform's events
// and sleeps, then runs the calls queued for after the draw. The loop paces
// itself (swap interval 0): an idle pass sleeps the quality's interval, or
// 50 ms once the pointer has rested while nothing animates; a drawn pass
// sleeps the pause that the frame-rate regulation picked, at least the
// quality's interval. The quality is the user's alone and paces the answer
// to the user: for a moment after any input the loop draws at that pace.
// Frames nobody asked for (a live market's changes, fades, a scrolling
// ticker) come at the lowest quality's pace, 50 ms apart, whatever the
// quality; a market that changes every few milliseconds would otherwise
// redraw four grids a hundred times a second. The frame mode (0 while
// something animates, 1 when the screens are still) only keeps the loop
// from its resting pace. Every sleep is a wait on the display that input
// cuts short, and input that arrives during it is handled before the next
// draw, so neither a slow pace nor a long draw delays a key's effect by
// more than one pass. The active hook hears 1 when the loop works and 0
// around every sleep and swap, so the application can hold its core lock
// exactly while the interface runs.
#include <chrono>
#include <cstdlib>

#include "lib/timer.h"
#include "log.h"
#include "plat.h"
#include "ui/gui_internal.h"

static const char kSrc[] = "src/ui/gui_loop";
static constexpr int kIdleSleepMs = 50;
static constexpr int kHoverMs = 300;

static const int kQualityInterval[3] = {50, 10, 5};
// The pace of frames that no input asked for, and how long after an input
// the loop keeps the quality's pace (for the input's own effects, which may
// take a pass or two to reach the screen, and for the next key).
static constexpr int kQuietFrameMs = 50;
static constexpr int kAnswerMs = 250;
static constexpr int64_t kAnswerGiveUpUs = 1000000;
static constexpr int64_t kStatsLogMs = 10000;

// ---- where the loop's time goes ----
// Wall time by stage, kept for the whole run and logged once a minute while
// the loop runs: due timers (the delivery of the model's changes among
// them), drawing (layout and GL, without waits for the core lock), native
// events, waits for the core lock (the active hook), and sleeps; and what the
// window draws did (gui_draw.cpp counts those).
gui_loop_stats_rec gui_stats;
static gui_loop_stats_rec &g_stats = gui_stats;
static int64_t g_stats_logged_ms;

int64_t gui_now_us(void) {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void gui_loop_stats(gui_loop_stats_rec *out) { *out = g_stats; }

static void log_stats(int64_t now_ms) {
  static gui_loop_stats_rec last;
  const gui_loop_stats_rec &c = g_stats;
  log(LOG_DEBUG, kSrc,
      "loop: %lld passes (%lld drawn); ms in timers %lld, drawing %lld (presents %lld), events %lld, core lock %lld, "
      "sleep %lld; %lld window frames (%lld full), %lld widgets; %lld answers to input, %.1f ms each, at most %.1f",
      (long long)(c.passes - last.passes), (long long)(c.drawn - last.drawn),
      (long long)((c.timers_us - last.timers_us) / 1000), (long long)((c.draw_us - last.draw_us) / 1000),
      (long long)((c.swap_us - last.swap_us) / 1000), (long long)((c.events_us - last.events_us) / 1000),
      (long long)((c.lock_us - last.lock_us) / 1000), (long long)((c.sleep_us - last.sleep_us) / 1000),
      (long long)(c.frames - last.frames), (long long)(c.full_frames - last.full_frames),
      (long long)(c.widgets - last.widgets), (long long)(c.answers - last.answers),
      c.answers > last.answers ? (double)(c.answer_us - last.answer_us) / 1000.0 / (double)(c.answers - last.answers)
                               : 0.0,
      (double)c.answer_max_us / 1000.0);
  g_stats.answer_max_us = 0;
  last = c;
  g_stats_logged_ms = now_ms;
}

// ---- time and counters ----

int64_t gui_time_ms(void) { return G.frame_ms ? G.frame_ms : plat_ms(); }
float gui_time_seconds(void) { return (float)gui_time_ms() / 1000.0f; }
int64_t gui_last_activity_ms(void) { return G.last_activity; }
int64_t gui_frame_count(void) { return G.frame_count; }
int gui_frame_rate(void) { return G.frame_rate ? G.frame_rate : 60; }
void gui_set_frame_rate(int fps) { G.frame_rate = fps; }
int gui_frame_pause(void) { return G.pause; }

gui_sleep_fn gui_set_sleep(gui_sleep_fn fn) {
  gui_sleep_fn old = G.sleep;
  G.sleep = fn;
  return old;
}

// Sleeps ms, or less when input arrives: 1 when native input is waiting.
static int do_sleep(int32_t ms) {
  if (G.sleep) {
    G.sleep(ms);
    return G.input_waiting ? G.input_waiting() : 0;
  }
  int r = gui_plat_wait_events(ms);
  if (r >= 0) return r;
  plat_sleep_ms(ms);
  return 0;
}

void gui_set_input_waiting(int (*fn)(void)) { G.input_waiting = fn; }

// Handles the platform's pending events; notes the frame time when any of
// them was the user's (keys, buttons, the wheel, the pointer, the windows).
static void pump_events(void) {
  const int64_t activity = G.last_activity;
  const int moved = G.motion_in_pump;
  G.motion_in_pump = 0;
  gui_plat_pump_events();
  if (G.last_activity != activity || G.motion_in_pump) G.last_input_ms = G.frame_ms;
  if (G.last_activity != activity && !G.answer_from_us) G.answer_from_us = gui_now_us();
  G.motion_in_pump |= moved;
}

// The sleep after a drawn pass: none when the events handled after the draw
// held a key, button or wheel event (its effect is drawn at once); else the
// regulation's pause, at least the quality's interval; at least the quiet
// pace when no input came lately (the pointer's, or a key, button, wheel or
// window event).
static int drawn_pass_sleep(void) {
  if (G.answer_from_us) return 0;
  int ms = G.pause > G.frame_interval ? G.pause : G.frame_interval;
  const int64_t input = G.last_input_ms > G.last_activity ? G.last_input_ms : G.last_activity;
  if (G.frame_ms - input >= kAnswerMs && ms < kQuietFrameMs) ms = kQuietFrameMs;
  return ms;
}

void gui_set_quality(int q) {
  if (q < 0) q = 0;
  if (q > 2) q = 2;
  G.quality = q;
  G.frame_interval = kQualityInterval[q];
  log(LOG_INFO, kSrc, "set quality %d (%d ms)", q, G.frame_interval);
}
int gui_quality(void) { return G.quality; }
void gui_set_frame_mode(int mode) { G.frame_mode = mode ? 1 : 0; }
int gui_frame_mode(void) { return G.frame_mode; }
void gui_set_stack_mode(int, int allowed) { G.idle_slowdown = allowed; }

// ---- quitting ----

void gui_quit(void) {
  if (G.shutting_down) return;
  log(LOG_WARN, kSrc, "shutting down");
  G.shutting_down = 1;
  if (G.quit_hook)
    G.quit_hook();
  else
    G.quit = 1;
}
void gui_set_quitting(void) { G.quit = 1; }
int gui_quitting(void) { return G.quit; }
int gui_shutting_down(void) { return G.shutting_down; }

// ---- hooks ----

void gui_set_active_hook(void (*fn)(int)) { G.active_hook = fn; }
void gui_set_last_close_query(int (*fn)(void)) { G.last_close_query = fn; }
void gui_set_quit_hook(int (*fn)(void)) { G.quit_hook = fn; }
void gui_set_window_closed_hook(void (*fn)(int)) { G.window_closed_hook = fn; }
void gui_set_close_query(int (*fn)(int)) { G.close_query = fn; }
void gui_set_crossing_hook(void (*fn)(int, int)) { G.crossing_hook = fn; }
void gui_set_current_window_hook(void (*fn)(int)) { G.current_hook = fn; }
void gui_set_drag_start_hook(void (*fn)(widget *, drag_record *)) { G.drag_start_hook = fn; }
void gui_set_drop_hook(void (*fn)(widget *, drag_record *)) { G.drop_hook = fn; }
void gui_set_spare_hook(void (*fn)(void)) { G.spare_hook = fn; }
void gui_set_window_state_hook(void (*fn)(int, int)) { G.state_hook = fn; }

void gui_set_active(int on) {
  if (G.active == on) return;
  G.active = on;
  if (!G.active_hook) return;
  if (!on) {
    G.active_hook(0);
    return;
  }
  const int64_t t0 = gui_now_us();
  G.active_hook(1);
  g_stats.lock_us += gui_now_us() - t0;
}

// ---- promises ----

static int enqueue(gui_promise_list *l, gui_promise_fn fn, void *arg, int n,
                   gui_promise_fn cleanup) {
  for (gui_promise_item *p = l->head; p; p = p->next)
    if (p->fn == fn && p->arg == arg && p->n == n) return 0;
  auto *p = G.promise_pool_ready ? (gui_promise_item *)pool_alloc(&G.promise_pool) : nullptr;
  if (!p) {
    log(LOG_ERROR, kSrc, "can't alloc promise");
    return -1;
  }
  *p = gui_promise_item{fn, arg, n, cleanup, nullptr};
  if (l->tail)
    l->tail->next = p;
  else
    l->head = p;
  l->tail = p;
  return 0;
}

int gui_promise(gui_promise_fn fn, void *arg, int n) { return enqueue(&G.before, fn, arg, n, nullptr); }
int gui_promise_after_draw(gui_promise_fn fn, void *arg, int n) {
  return enqueue(&G.after, fn, arg, n, nullptr);
}
int gui_promise_after_draw_cleanup(gui_promise_fn fn, void *arg, int n, gui_promise_fn cleanup) {
  return enqueue(&G.after, fn, arg, n, cleanup);
}

// Removes every match (any n when any_n), restarting at the head after each
// removal as a cleanup may queue or cancel others. O(n^2) in the worst case;
// the lists hold a handful of entries.
static int cancel(gui_promise_list *l, gui_promise_fn fn, void *arg, int n, int any_n) {
  int removed = 0;
  for (;;) {
    gui_promise_item *prev = nullptr, *p = l->head;
    while (p && !((!fn || p->fn == fn) && p->arg == arg && (any_n || p->n == n))) {
      prev = p;
      p = p->next;
    }
    if (!p) break;
    if (prev)
      prev->next = p->next;
    else
      l->head = p->next;
    if (l->tail == p) l->tail = prev;
    gui_promise_item item = *p;
    pool_free(&G.promise_pool, p);
    removed++;
    if (item.cleanup) item.cleanup(item.arg, item.n);
  }
  return removed ? 0 : -1;
}

int gui_promise_cancel_before(gui_promise_fn fn, void *arg, int n) {
  return cancel(&G.before, fn, arg, n, 0);
}
int gui_promise_cancel_after(gui_promise_fn fn, void *arg, int n) {
  return cancel(&G.after, fn, arg, n, 0);
}
int gui_promise_cancel(gui_promise_fn fn, void *arg) {
  int a = cancel(&G.before, fn, arg, 0, 1);
  int b = cancel(&G.after, fn, arg, 0, 1);
  return a == 0 || b == 0 ? 0 : -1;
}

void gui_run_promises(gui_promise_list *list) {
  gui_promise_item *p = list->head;
  *list = gui_promise_list{};
  while (p) {
    gui_promise_item *next = p->next;
    gui_promise_fn fn = p->fn;
    void *arg = p->arg;
    int n = p->n;
    pool_free(&G.promise_pool, p);
    fn(arg, n);
    p = next;
  }
}

// ---- the loop ----

void gui_regulate(int64_t now) {
  int target = gui_frame_rate();
  if (G.drawn_since_baseline >= 8) {
    int k = G.drawn_since_baseline + 1;
    int64_t elapsed = now - G.baseline;
    int diff = elapsed > 0 ? (int)((int64_t)k * 1000 / elapsed) - target : 0;
    if (k >= target && abs(diff - G.last_diff) > 1) {
      if (diff > 49)
        G.pause = 5;
      else if (diff >= 25)
        G.pause = 2;
      else if (diff >= -3)
        G.pause = 1;
      else
        G.pause = 5;
      G.last_diff = diff;
    }
    if (k >= 10 * target) {
      G.baseline = now;
      G.drawn_since_baseline = 0;
      return;
    }
  }
  G.drawn_since_baseline++;
}

static int draw_all(void) {
  int drawn = 0;
  for (int i = 0; i < kGuiWindows; i++) {
    gui_win &w = G.wins[i];
    if (w.in_use && (w.state == 0 || w.state == 2)) drawn += gui_draw_window(i);
  }
  return drawn;
}

int gui_main_loop(void) {
  if (!G.frame_rate) G.frame_rate = 60;
  G.quit = 0;
  G.baseline = plat_ms();
  G.drawn_since_baseline = 0;
  G.pause = 0;
  G.last_diff = 0;
  G.at_rest = 1;
  G.hover_at = 0;
  G.sample_count = G.sample_next = 0;
  gui_set_active(1);
  g_stats_logged_ms = plat_ms();
  while (!G.quit) {
    G.frame_ms = plat_ms();
    G.frame_count++;
    g_stats.passes++;
    if (G.frame_ms - g_stats_logged_ms >= kStatsLogMs) log_stats(G.frame_ms);
    int64_t t = gui_now_us();
    if (G.relayout_at && G.frame_ms > G.relayout_at) {
      gui_relayout_window(-1);
      G.relayout_at = 0;
    }
    timer_run(G.frame_ms);
    if (G.quit) break;
    gui_run_promises(&G.before);
    if (G.quit) break;
    int64_t lock0 = g_stats.lock_us, t1 = gui_now_us();
    g_stats.timers_us += t1 - t;
    int drawn = draw_all();
    t = gui_now_us();
    g_stats.draw_us += (t - t1) - (g_stats.lock_us - lock0);
    if (drawn) {
      g_stats.drawn++;
      if (G.answer_from_us) {
        const int64_t us = t - G.answer_from_us;
        g_stats.answers++;
        g_stats.answer_us += us;
        if (us > g_stats.answer_max_us) g_stats.answer_max_us = us;
        G.answer_from_us = 0;
      }
    }
    if (!drawn) {
      // Input that has changed nothing on the screens for a second is not
      // waiting for an answer any more.
      if (G.answer_from_us && t - G.answer_from_us > kAnswerGiveUpUs) G.answer_from_us = 0;
      int ms = (G.idle_slowdown && G.at_rest && G.frame_mode) ? kIdleSleepMs : G.frame_interval;
      gui_set_active(0);
      t = gui_now_us();
      do_sleep(ms);
      g_stats.sleep_us += gui_now_us() - t;
      G.frame_ms = plat_ms();
      gui_set_active(1);
      t = gui_now_us();
      G.motion_in_pump = 0;
      pump_events();
      int win, x, y;
      gui_mouse(&win, &x, &y);
      if (win >= 0) gui_add_sample(x, y);
      gui_deliver_drag_motion();
      if (G.hover_at && G.frame_ms >= G.hover_at) gui_hover_check(1);
      g_stats.events_us += gui_now_us() - t;
    } else {
      G.frame_ms = plat_ms();
      G.motion_in_pump = 0;
      pump_events();
      gui_deliver_drag_motion();
      if (G.recheck_hover) {
        gui_hover_check(0);
      } else if (!G.motion_in_pump && G.hover_at && G.frame_ms >= G.hover_at) {
        gui_hover_check(1);
      }
      gui_regulate(G.frame_ms);
      gui_set_active(0);
      int64_t t2 = gui_now_us();
      g_stats.events_us += t2 - t;
      int input = do_sleep(drawn_pass_sleep());
      g_stats.sleep_us += gui_now_us() - t2;
      G.frame_ms = plat_ms();
      gui_set_active(1);
      // Input that came during the sleep is handled now, so what it changes
      // is drawn by the next pass rather than the one after.
      if (input) {
        t2 = gui_now_us();
        pump_events();
        gui_deliver_drag_motion();
        g_stats.events_us += gui_now_us() - t2;
      }
    }
    gui_run_promises(&G.after);
  }
  gui_set_active(0);
  return 0;
}

int gui_resize_tick_begin(void) {
  int old = G.resize_marker;
  G.resize_marker = 1;
  return old;
}
void gui_resize_tick_end(void) { G.resize_marker = 0; }

int gui_tick(void) {
  G.frame_ms = plat_ms();
  if (!G.resize_marker) {
    gui_run_promises(&G.before);
    if (G.quit) return -1;
  }
  G.resize_marker = 0;
  timer_run(G.frame_ms);
  if (G.quit) return -1;
  G.resize_marker = 1;
  int drawn = draw_all();
  G.resize_marker = 0;
  gui_run_promises(&G.after);
  return G.quit ? -1 : drawn;
}
