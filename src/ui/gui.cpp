// Gui windows and the redraw queue. The gui owns a fixed table of 16
// windows, known to callers by index; each holds its root widget, its frame
// on the screen and a queue of updates in request order. The queue keeps a
// widget at most once (its dirty bit says it is queued), so a burst of
// redraw requests costs one entry. The platform layer is started here and
// given the gui's entry points, so it never calls upward by name.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/glapi.h"
#include "lib/splash.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "log.h"
#include "plat.h"
#include "ui/container.h"
#include "ui/gui_internal.h"
#include "ui/object.h"

static const char kSrc[] = "src/ui/gui";
static constexpr int kUpdateStep = 128;
static constexpr int kMaxFrameW = 5000, kMaxFrameH = 2000;
static constexpr int kMinOpenSize = 51;

gui_state G;

static int in_range(int i) { return i >= 0 && i < kGuiWindows; }
static gui_win *win_at(int i) { return in_range(i) ? &G.wins[i] : nullptr; }
static gui_win *open_win(int i) {
  gui_win *w = win_at(i);
  return w && w->in_use ? w : nullptr;
}

// ---- platform entry points ----

static int32_t software_rendering(void) { return G.software; }
static void plat_flip(int32_t on) { gui_set_flip(on); }
static void plat_maximise(int32_t on) { gui_set_maximise_supported(on); }
static void plat_exposed(int32_t win) { gui_invalidate_window(win); }
static void plat_quit(void) { gui_quit(); }
static void plat_motion(int32_t w, int32_t x, int32_t y) { gui_motion_event(w, x, y); }
static void plat_button(int32_t w, int32_t b, int32_t d) { gui_button_event(w, b, d); }
static void plat_wheel(int32_t w, int32_t p) { gui_wheel_event(w, p); }
static void plat_key(int32_t w, int32_t c, int32_t d) { gui_key_event(w, c, d); }
static void plat_focus(int32_t w, int32_t f) { gui_focus_changed(w, f); }
static void plat_crossing(int32_t w, int32_t i) { gui_pointer_crossing(w, i); }
static void plat_moved(int32_t w, const rect *r, int32_t f) { gui_window_moved(w, r, f); }
static int32_t plat_close_request(int32_t w) { return gui_window_close_request(w); }
static void plat_closed(int32_t w) { gui_window_closed(w); }
static void plat_state(int32_t w, int32_t s) { gui_window_state_changed(w, s); }

static const gui_plat_events kEvents = {
    plat_motion, plat_button,        plat_wheel,  plat_key,      plat_focus,
    plat_crossing, plat_moved,       plat_close_request, plat_closed, plat_exposed,
    plat_quit,   gui_add_monitor,    plat_flip,   plat_maximise, gui_set_video_driver,
    software_rendering, plat_state,
};

// ---- start and stop ----

int gui_init(const char *app_name) {
  gui_set_app_name(app_name);
  for (gui_win &w : G.wins) {
    memset(&w, 0, sizeof w);
    w.state = -1;
  }
  if (!G.video_driver[0]) snprintf(G.video_driver, sizeof G.video_driver, "<unknown>");
  G.current = -1;
  G.maximise_supported = 1;
  G.quality = 1;
  G.frame_interval = 10;
  G.frame_mode = 1;
  G.idle_slowdown = 1;
  G.quit = G.shutting_down = 0;
  object_init();
  timer_init();
  if (gui_draw_init() != 0) {
    log(LOG_ERROR, kSrc, "can't alloc %d saved updates", 128);
    return -1;
  }
  if (!G.promise_pool_ready) {
    pool_init(&G.promise_pool, 8, (int32_t)sizeof(gui_promise_item));
    G.promise_pool_ready = 1;
  }
  G.before = G.after = gui_promise_list{};
  G.monitor_count = 0;
  G.bounds = rect{0, 0, 0, 0};
  gui_input_reset();
  int cpus = plat_cpu_count();
  log(LOG_INFO, kSrc, "%d %s", cpus, cpus == 1 ? "CPU" : "CPUs");
  gui_plat_set_events(&kEvents);
  if (gui_plat_init() != 0) {
    log(LOG_ERROR, kSrc, "unable to initialize gui platform");
    return -1;
  }
  gui_plat_menu_build(G.app_name);
  log(LOG_INFO, kSrc, "%d monitor%s: %d,%d %dx%d", G.monitor_count,
      G.monitor_count == 1 ? "" : "s", G.bounds.x, G.bounds.y, G.bounds.w, G.bounds.h);
  G.initialised = 1;
  return 0;
}

void gui_shutdown(void) {
  gfx_flush();
  // The platform tears down the windows still open; nothing of it may come
  // back into a gui that is going away.
  gui_plat_set_events(nullptr);
  gui_plat_shutdown();
  if (G.promise_pool_ready) pool_destroy(&G.promise_pool);
  G.promise_pool_ready = 0;
  G.before = G.after = gui_promise_list{};
  object_shutdown();
  timer_fini();
  gui_draw_fini();
  for (gui_win &w : G.wins) {
    free(w.updates);
    w.updates = nullptr;
    w.update_count = w.update_cap = 0;
    w.in_use = 0;
    w.state = -1;
  }
  free(G.default_title);
  G.default_title = nullptr;
  G.initialised = 0;
}

// ---- opening and closing ----

static void centre_on_first_monitor(rect *f, int32_t w, int32_t h) {
  const rect &m = G.monitors[0][0];
  f->w = w;
  f->h = h;
  f->x = m.x + (m.w - w) / 2;
  f->y = m.y + (m.h - h) / 2;
}

int gui_window_open(widget *root, const rect *r, uint32_t flags) {
  int index = -1;
  for (int i = 0; i < kGuiWindows; i++)
    if (!G.wins[i].in_use) {
      index = i;
      break;
    }
  if (index < 0) {
    log(LOG_ERROR, kSrc, "can't have more than %d windows", kGuiWindows);
    return -1;
  }
  size want = {0, 0};
  if (root) (root)->cls->reqsize(root, &want);
  gui_win *w = &G.wins[index];
  free(w->updates);
  memset(w, 0, sizeof *w);
  w->in_use = 1;
  w->root = root;
  w->flags = flags;
  snprintf(w->title, sizeof w->title, "%s", G.default_title ? G.default_title : "Window");
  if (((flags & GUI_WIN_CENTRE) && G.monitor_count > 0) || !r || r->w < kMinOpenSize ||
      r->h < kMinOpenSize) {
    if (G.monitor_count > 0)
      centre_on_first_monitor(&w->frame, want.w, want.h);
    else
      w->frame = rect{0, 0, want.w, want.h};
  } else {
    w->frame = *r;
    if (w->frame.w > kMaxFrameW) {
      log(LOG_WARN, kSrc, "truncating width from %d to %d", w->frame.w, kMaxFrameW);
      w->frame.w = kMaxFrameW;
    }
    if (w->frame.h > kMaxFrameH) {
      log(LOG_WARN, kSrc, "truncating height from %d to %d", w->frame.h, kMaxFrameH);
      w->frame.h = kMaxFrameH;
    }
  }
  w->prev_frame = w->frame;
  w->needs_draw = w->full_redraw = 1;
  w->extra_full_redraws = 2;
  w->reset = 1;  // a new context has no state of ours yet
  // The root spans the content: the frame's size, which is the given
  // rect's only when that rect was used as it was.
  if (root && (r || (root->r.w < 1 && root->r.h < 1)))
    root->r = rect{0, 0, w->frame.w, w->frame.h};
  gui_plat_window pw = {index, w->frame, flags, w->title, &w->plat};
  w->state = 0;
  if (gui_plat_window_create(&pw) != 0) {
    w->in_use = 0;
    w->state = -1;
    w->root = nullptr;
    return -1;
  }
  if (!G.logged_gl) {
    const char *v = (const char *)gl->GetString(GL_VERSION);
    const char *vd = (const char *)gl->GetString(GL_VENDOR);
    const char *rd = (const char *)gl->GetString(GL_RENDERER);
    log(LOG_INFO, kSrc, "GL Version: %s", v ? v : "?");
    log(LOG_INFO, kSrc, "GL Vendor: %s", vd ? vd : "?");
    log(LOG_INFO, kSrc, "GL Renderer: %s", rd ? rd : "?");
    G.logged_gl = 1;
  }
  gui_make_current(index);
  if (root) widget_show(root);
  gui_relayout_window(-1);
  return index;
}

static void close_one(int index) {
  gui_win *w = open_win(index);
  if (w) {
    w->in_use = 0;
    w->state = -1;
    if (G.window_closed_hook) G.window_closed_hook(index);
    if (gui_plat_lock(&w->plat) == 0) {
      if (w->root) widget_hide_subtree(w->root);
      w->root = nullptr;
      tex_context_forget(index);
      splash_forget_window(index);
      gui_plat_unlock(&w->plat);
    }
    w->root = nullptr;
    G.closing++;
    gui_plat_window_destroy(&w->plat);
    G.closing--;
    free(w->updates);
    w->updates = nullptr;
    w->update_count = w->update_cap = 0;
    if (G.current == index) G.current = -1;
    gui_relayout_window(-1);
    G.relayout_at = plat_ms() + 1000;
  }
}

void gui_window_close(int index) {
  if (index == -1) {
    for (int i = 0; i < kGuiWindows; i++)
      if (G.wins[i].in_use) close_one(i);
  } else {
    close_one(index);
  }
  for (const gui_win &o : G.wins)
    if (o.in_use) return;
  if (G.last_close_query && G.last_close_query() == 0) {
    log(LOG_WARN, kSrc, "app says don't close");
    return;
  }
  G.quit = 1;
}

// ---- window-level setters and queries ----

void gui_window_set_title(int index, const char *text) {
  gui_win *w = open_win(index);
  if (!w) return;
  snprintf(w->title, sizeof w->title, "%s", text ? text : "");
  gui_plat_set_title(&w->plat, w->title);
}

const char *gui_window_title(int index) {
  gui_win *w = win_at(index);
  return w ? w->title : "";
}

int gui_set_default_title(const char *text) {
  char *copy = strdup(text ? text : "");
  if (!copy) {
    log(LOG_ERROR, kSrc, "can't dup %s", text ? text : "");
    return -1;
  }
  free(G.default_title);
  G.default_title = copy;
  return 0;
}

void gui_window_set_frame(int index, const rect *r) {
  gui_win *w = open_win(index);
  if (!w) return;
  if (!memcmp(&w->frame, r, sizeof *r)) return;
  rect f = *r;
  if (f.w > kMaxFrameW) {
    log(LOG_INFO, kSrc, "truncating width from %d to %d", f.w, kMaxFrameW);
    f.w = kMaxFrameW;
  }
  if (f.h > kMaxFrameH) {
    log(LOG_INFO, kSrc, "truncating height from %d to %d", f.h, kMaxFrameH);
    f.h = kMaxFrameH;
  }
  gui_plat_set_frame(&w->plat, &f);  // comes back through gui_window_moved
}

void gui_window_frame(int index, rect *out) {
  gui_win *w = win_at(index);
  *out = w ? w->frame : rect{0, 0, 0, 0};
}

void gui_window_prev_frame(int index, rect *out) {
  gui_win *w = win_at(index);
  *out = w ? w->prev_frame : rect{0, 0, 0, 0};
}

void gui_window_size(int index, int32_t *wd, int32_t *ht) {
  gui_win *w = win_at(index);
  *wd = w ? w->frame.w : 0;
  *ht = w ? w->frame.h : 0;
}

void gui_widget_window_size(widget *wd, int32_t *width, int32_t *height) {
  gui_window_size(gui_window_index(wd), width, height);
}

void gui_window_set_min_size(int index, const size *min) {
  if (gui_win *w = open_win(index)) gui_plat_set_min_size(&w->plat, min);
}

int gui_window_has_border(int index) {
  gui_win *w = win_at(index);
  return w && !(w->flags & GUI_WIN_BORDERLESS);
}
void gui_window_set_border(int index) {
  if (gui_win *w = win_at(index)) w->flags &= ~GUI_WIN_BORDERLESS;
}
void gui_window_set_borderless(int index) {
  if (gui_win *w = win_at(index)) w->flags |= GUI_WIN_BORDERLESS;
}

void gui_set_maximise_supported(int on) { G.maximise_supported = on; }

void gui_window_set_state(int index, int state) {
  gui_win *w = open_win(index);
  if (!w) return;
  if (!G.maximise_supported && state == 2) state = 0;
  if (state == w->state) return;
  gui_plat_set_state(&w->plat, state);
  w->state = state;
  log(LOG_INFO, kSrc, "start resize check");
  w->resize_check_ms = (int32_t)(plat_ms() + 1000);
}

void gui_window_state_changed(int index, int state) {
  gui_win *w = open_win(index);
  if (!w) return;
  if (!G.maximise_supported && state == 2) state = 0;
  if (state == w->state) return;  // what the gui asked for itself, or nothing new
  log(LOG_INFO, kSrc, "window %d state %d", index, state);
  w->state = state;
  if (state != 1) gui_invalidate_window(index);
  if (G.state_hook) G.state_hook(index, state);
}

int gui_window_state(int index) {
  gui_win *w = win_at(index);
  return w ? w->state : -1;
}

void gui_window_set_drag_area(int index, const rect *r) {
  if (gui_win *w = open_win(index)) gui_plat_set_drag_area(&w->plat, r);
}
void gui_window_clear_drag_area(int index) {
  if (gui_win *w = open_win(index)) gui_plat_clear_drag_area(&w->plat);
}

int gui_window_lock(int index) {
  gui_win *w = open_win(index);
  return w ? gui_plat_lock(&w->plat) : -1;
}
int gui_window_unlock(int index) {
  gui_win *w = open_win(index);
  return w ? gui_plat_unlock(&w->plat) : -1;
}

widget *gui_window_root(int index) {
  gui_win *w = open_win(index);
  return w ? w->root : nullptr;
}

static widget *top_of(widget *w) {
  while (w && w->parent) w = w->parent;
  return w;
}

int gui_window_index(widget *w) {
  widget *top = top_of(w);
  if (!top) return -1;
  for (int i = 0; i < kGuiWindows; i++)
    if (G.wins[i].in_use && G.wins[i].root == top) return i;
  return -1;
}

widget *gui_widget_root(widget *w) { return gui_window_root(gui_window_index(w)); }

gui_win *gui_window_of_widget(widget *w) { return open_win(gui_window_index(w)); }

gui_win *gui_window_record(int index) { return win_at(index); }

int gui_window_dirty(int index) {
  gui_win *w = open_win(index);
  return w && (w->update_count > 0 || w->full_redraw);
}

int gui_window_needs_redraw(int index) {
  gui_win *w = open_win(index);
  return w && w->full_redraw;
}

void gui_invalidate_window(int index) {
  for (int i = 0; i < kGuiWindows; i++) {
    if (index != -1 && i != index) continue;
    gui_win *w = &G.wins[i];
    if (!w->in_use) continue;
    w->needs_draw = w->full_redraw = 1;
    w->extra_full_redraws = 2;
  }
}

void gui_relayout_window(int index) {
  for (int i = 0; i < kGuiWindows; i++) {
    if (index != -1 && i != index) continue;
    gui_win *w = &G.wins[i];
    if (!w->in_use) continue;
    if (w->root) (w->root)->cls->geometry_changed(w->root);
    w->needs_draw = w->full_redraw = w->reset = 1;
    w->extra_full_redraws = 2;
  }
}

// ---- monitors and clamping ----

rect *gui_monitor_rect(int i, rect *out) {
  if (i < 0 || i >= G.monitor_count) return nullptr;
  *out = G.monitors[i][0];
  return out;
}

int gui_monitor_count(void) { return G.monitor_count; }

void gui_add_monitor(const rect *frame, const rect *visible) {
  if (G.monitor_count >= kGuiMonitors) {
    log(LOG_ERROR, kSrc, "can't handle more than %d monitors", kGuiMonitors);
    return;
  }
  int i = G.monitor_count++;
  G.monitors[i][0] = *frame;
  G.monitors[i][1] = *visible;
  if (i == 0) {
    G.bounds = *frame;
  } else {
    int32_t x2 = G.bounds.x + G.bounds.w, y2 = G.bounds.y + G.bounds.h;
    int32_t fx2 = frame->x + frame->w, fy2 = frame->y + frame->h;
    G.bounds.x = frame->x < G.bounds.x ? frame->x : G.bounds.x;
    G.bounds.y = frame->y < G.bounds.y ? frame->y : G.bounds.y;
    G.bounds.w = (fx2 > x2 ? fx2 : x2) - G.bounds.x;
    G.bounds.h = (fy2 > y2 ? fy2 : y2) - G.bounds.y;
  }
  log(LOG_INFO, kSrc, "monitor %d: %d,%d %dx%d (%d,%d %dx%d)", i, frame->x, frame->y, frame->w,
      frame->h, visible->x, visible->y, visible->w, visible->h);
}

void gui_clamp_widget_to_window(widget *w) {
  widget *root = gui_widget_root(w);
  if (!root) return;
  const rect &R = root->r;
  if (w->r.y < R.y) w->r.y = R.y;
  if (w->r.y > R.y + R.h - 50) w->r.y = R.y + R.h - 50;
  if (w->r.x < R.x) {
    w->r.x = R.x;
    w->r.y += 10;
  }
  if (w->r.x > R.x + R.w - 60) w->r.x = R.x + R.w - 60;
}

void gui_clamp_to_screen(rect *r) {
  const rect &B = G.bounds;
  if (!G.flip) {
    if (r->y < B.y + 40) r->y = B.y + 40;
    if (r->y > B.y + B.h - 60) r->y = B.y + B.h - 60;
  } else {
    if (r->y + r->h < B.y + 90) r->y = B.y + 90 - r->h;
    // A top above the bounds' top edge would leave the window's title out
    // of reach; bring it down inside the bounding rectangle.
    if (r->y + r->h > B.y + B.h - 10) r->y = B.y + B.h - 10 - r->h;
  }
  if (r->x < B.x + 10) {
    r->x = B.x + 10;
    r->y += 10;
  }
  if (r->x > B.x + B.w - 70) r->x = B.x + B.w - 70;
}

void gui_set_flip(int on) { G.flip = on; }

void gui_flip_rect(rect *r) {
  if (!G.flip) return;
  r->y = G.bounds.y + G.bounds.h - r->y - r->h;
}

// ---- the queue ----

int gui_queue_update(widget *w, const rect *r, widget_update_fn fn, int n) {
  if (G.quit || w->r.w < 1 || w->r.h < 1 || (w->flags & WIDGET_HIDDEN)) return 0;
  gui_win *win = gui_window_of_widget(w);
  if (!win || win->state == 1) return 0;
  win->needs_draw = 1;
  w->flags &= ~WIDGET_REPEAT;
  if (w->flags & WIDGET_DIRTY) return 0;
  if (win->update_count >= win->update_cap) {
    int cap = win->update_cap + kUpdateStep;
    auto *grown = (gui_update *)realloc(win->updates, (size_t)cap * sizeof(gui_update));
    if (!grown) {
      free(win->updates);
      win->updates = nullptr;
      win->update_count = win->update_cap = 0;
      return -1;
    }
    win->updates = grown;
    win->update_cap = cap;
  }
  w->flags |= WIDGET_DIRTY;
  win->updates[win->update_count++] = gui_update{w, r ? *r : w->r, fn, n};
  return 0;
}

void gui_drop_updates(widget *w) {
  for (gui_win &win : G.wins) {
    if (!win.in_use) continue;
    for (int i = 0; i < win.update_count; i++)
      if (win.updates[i].w == w) win.updates[i].w = nullptr;
  }
}

// ---- options and names ----

void gui_set_app_name(const char *name) {
  snprintf(G.app_name, sizeof G.app_name, "%s", name ? name : "");
}
const char *gui_app_name(void) { return G.app_name; }

void gui_set_video_driver(const char *name, const char *second) {
  if (second)
    snprintf(G.video_driver, sizeof G.video_driver, "%s %s", name, second);
  else
    snprintf(G.video_driver, sizeof G.video_driver, "%s", name);
  log(LOG_INFO, kSrc, "Video Driver: %s", G.video_driver);
  if (strstr(plat_os_description(), "10.8.0") && !strcmp(G.video_driver, "Intel HD Graphics 3000"))
    G.quirk = 1;
}
const char *gui_video_driver(void) {
  return G.video_driver[0] ? G.video_driver : "<unknown>";
}
int gui_intel_hd3000_quirk(void) { return G.quirk; }
int gui_driver_quirk(void) { return G.quirk; }

void gui_set_software_rendering(int on) {
  G.software = on;
  log(LOG_INFO, kSrc, "%s software rendering", on ? "enabling" : "disabling");
}
void gui_set_delete_contexts(int on) {
  G.delete_contexts = on;
  log(LOG_INFO, kSrc, "%s delete contexts", on ? "won't" : "will");
}
void gui_set_swap_any(int on) {
  G.swap_any = on;
  log(LOG_INFO, kSrc, on ? "allow all double buf swap methods" : "require swap copy double bufs");
}
void gui_set_render_option(int on) { G.render_option = on; }
int gui_software_rendering(void) { return G.software; }
int gui_delete_contexts(void) { return G.delete_contexts; }
int gui_swap_any(void) { return G.swap_any; }
int gui_render_option(void) { return G.render_option; }
