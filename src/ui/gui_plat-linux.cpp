// The Linux window layer: SDL2 windows, each with a legacy OpenGL context of
// its own (no sharing, swap interval 0 because the frame loop paces itself),
// and the translation of SDL's events into the gui's input entry points.
//
// Keys travel in two steps so that the toolkit sees the same codes on every
// platform: an SDL scancode becomes the platform virtual key code of the same
// physical key, and a fixed 128-entry table turns that into a toolkit code.
// Modifier keys never reach that table: like a native flags-changed event,
// a change of the Control, Shift or Alt state sends 1042, 1044 or 1040 (the
// right-hand keys send the left code) and Super (standing for Command) sends
// nothing but enables the key equivalents. Where SDL lacks something (the
// stacking order of windows) Xlib answers.
#include "ui/gui_plat-linux.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib/glapi.h"
#include "log.h"
#include "ui/launch-linux.h"
#include "ui/x11clip.h"

static const char kSrc[] = "src/ui/gui_plat-linux";
static constexpr int kMaxWindows = 16;

// Toolkit key codes of the platform virtual key codes 0-127; -1 ignored.
static const int16_t kKeyMap[128] = {
    65,   83,   68,   70,   72,   71,   90,   88,    // 0-7
    67,   86,   -1,   66,   81,   87,   69,   82,    // 8-15
    89,   84,   49,   50,   51,   52,   54,   53,    // 16-23
    61,   57,   55,   45,   56,   48,   93,   79,    // 24-31
    85,   91,   73,   80,   1001, 76,   74,   39,    // 32-39
    75,   59,   92,   44,   47,   78,   77,   46,    // 40-47
    1006, 1004, 96,   1002, -1,   1005, -1,   -1,    // 48-55
    1044, -1,   1040, 1042, 1045, 1041, 1043, -1,    // 56-63
    -1,   46,   -1,   42,   -1,   43,   -1,   -1,    // 64-71
    -1,   -1,   -1,   47,   1001, -1,   45,   -1,    // 72-79
    -1,   61,   48,   49,   50,   51,   52,   53,    // 80-87
    54,   55,   -1,   56,   57,   -1,   -1,   -1,    // 88-95
    1024, 1025, 1026, 1022, 1027, 1028, -1,   1030,  // 96-103
    -1,   -1,   -1,   -1,   -1,   1029, -1,   1031,  // 104-111
    -1,   -1,   -1,   1007, 1009, 1003, 1023, 1008,  // 112-119
    1021, 1010, 1020, 1013, 1014, 1012, 1011, -1,    // 120-127
};

// Physical keys: SDL scancode -> platform virtual key code.
struct scan_vcode {
  SDL_Scancode scan;
  int16_t vcode;
};
static const scan_vcode kScanVcodes[] = {
    {SDL_SCANCODE_A, 0},           {SDL_SCANCODE_S, 1},
    {SDL_SCANCODE_D, 2},           {SDL_SCANCODE_F, 3},
    {SDL_SCANCODE_H, 4},           {SDL_SCANCODE_G, 5},
    {SDL_SCANCODE_Z, 6},           {SDL_SCANCODE_X, 7},
    {SDL_SCANCODE_C, 8},           {SDL_SCANCODE_V, 9},
    {SDL_SCANCODE_NONUSBACKSLASH, 10},
    {SDL_SCANCODE_B, 11},          {SDL_SCANCODE_Q, 12},
    {SDL_SCANCODE_W, 13},          {SDL_SCANCODE_E, 14},
    {SDL_SCANCODE_R, 15},          {SDL_SCANCODE_Y, 16},
    {SDL_SCANCODE_T, 17},          {SDL_SCANCODE_1, 18},
    {SDL_SCANCODE_2, 19},          {SDL_SCANCODE_3, 20},
    {SDL_SCANCODE_4, 21},          {SDL_SCANCODE_6, 22},
    {SDL_SCANCODE_5, 23},          {SDL_SCANCODE_EQUALS, 24},
    {SDL_SCANCODE_9, 25},          {SDL_SCANCODE_7, 26},
    {SDL_SCANCODE_MINUS, 27},      {SDL_SCANCODE_8, 28},
    {SDL_SCANCODE_0, 29},          {SDL_SCANCODE_RIGHTBRACKET, 30},
    {SDL_SCANCODE_O, 31},          {SDL_SCANCODE_U, 32},
    {SDL_SCANCODE_LEFTBRACKET, 33},{SDL_SCANCODE_I, 34},
    {SDL_SCANCODE_P, 35},          {SDL_SCANCODE_RETURN, 36},
    {SDL_SCANCODE_L, 37},          {SDL_SCANCODE_J, 38},
    {SDL_SCANCODE_APOSTROPHE, 39}, {SDL_SCANCODE_K, 40},
    {SDL_SCANCODE_SEMICOLON, 41},  {SDL_SCANCODE_BACKSLASH, 42},
    {SDL_SCANCODE_COMMA, 43},      {SDL_SCANCODE_SLASH, 44},
    {SDL_SCANCODE_N, 45},          {SDL_SCANCODE_M, 46},
    {SDL_SCANCODE_PERIOD, 47},     {SDL_SCANCODE_TAB, 48},
    {SDL_SCANCODE_SPACE, 49},      {SDL_SCANCODE_GRAVE, 50},
    {SDL_SCANCODE_BACKSPACE, 51},  {SDL_SCANCODE_ESCAPE, 53},
    {SDL_SCANCODE_RGUI, 54},       {SDL_SCANCODE_LGUI, 55},
    {SDL_SCANCODE_LSHIFT, 56},     {SDL_SCANCODE_CAPSLOCK, 57},
    {SDL_SCANCODE_LALT, 58},       {SDL_SCANCODE_LCTRL, 59},
    {SDL_SCANCODE_RSHIFT, 60},     {SDL_SCANCODE_RALT, 61},
    {SDL_SCANCODE_RCTRL, 62},      {SDL_SCANCODE_F17, 64},
    {SDL_SCANCODE_KP_PERIOD, 65},  {SDL_SCANCODE_KP_MULTIPLY, 67},
    {SDL_SCANCODE_KP_PLUS, 69},    {SDL_SCANCODE_NUMLOCKCLEAR, 71},
    {SDL_SCANCODE_VOLUMEUP, 72},   {SDL_SCANCODE_VOLUMEDOWN, 73},
    {SDL_SCANCODE_MUTE, 74},       {SDL_SCANCODE_KP_DIVIDE, 75},
    {SDL_SCANCODE_KP_ENTER, 76},   {SDL_SCANCODE_KP_MINUS, 78},
    {SDL_SCANCODE_F18, 79},        {SDL_SCANCODE_F19, 80},
    {SDL_SCANCODE_KP_EQUALS, 81},  {SDL_SCANCODE_KP_0, 82},
    {SDL_SCANCODE_KP_1, 83},       {SDL_SCANCODE_KP_2, 84},
    {SDL_SCANCODE_KP_3, 85},       {SDL_SCANCODE_KP_4, 86},
    {SDL_SCANCODE_KP_5, 87},       {SDL_SCANCODE_KP_6, 88},
    {SDL_SCANCODE_KP_7, 89},       {SDL_SCANCODE_F20, 90},
    {SDL_SCANCODE_KP_8, 91},       {SDL_SCANCODE_KP_9, 92},
    {SDL_SCANCODE_F5, 96},         {SDL_SCANCODE_F6, 97},
    {SDL_SCANCODE_F7, 98},         {SDL_SCANCODE_F3, 99},
    {SDL_SCANCODE_F8, 100},        {SDL_SCANCODE_F9, 101},
    {SDL_SCANCODE_F11, 103},       {SDL_SCANCODE_F13, 105},
    {SDL_SCANCODE_F16, 106},       {SDL_SCANCODE_F14, 107},
    {SDL_SCANCODE_F10, 109},       {SDL_SCANCODE_F12, 111},
    {SDL_SCANCODE_F15, 113},       {SDL_SCANCODE_INSERT, 114},
    {SDL_SCANCODE_HOME, 115},      {SDL_SCANCODE_PAGEUP, 116},
    {SDL_SCANCODE_DELETE, 117},    {SDL_SCANCODE_F4, 118},
    {SDL_SCANCODE_END, 119},       {SDL_SCANCODE_F2, 120},
    {SDL_SCANCODE_PAGEDOWN, 121},  {SDL_SCANCODE_F1, 122},
    {SDL_SCANCODE_LEFT, 123},      {SDL_SCANCODE_RIGHT, 124},
    {SDL_SCANCODE_DOWN, 125},      {SDL_SCANCODE_UP, 126},
};

// Modifier state bits as the layer tracks them between key events.
enum : uint32_t { MOD_CTRL = 1, MOD_SHIFT = 2, MOD_ALT = 4 };

static struct {
  int video;                           // SDL video started by us
  int gl_loaded;                       // our hold on SDL's GL library
  gui_plat_events ev;
  gui_plat_data *wins[kMaxWindows];    // our native windows, by slot
  int16_t scan_vcode[SDL_NUM_SCANCODES];
  int scan_ready;
  uint32_t mods;                       // Control/Shift/Alt last reported
  uint8_t swallow_up[SDL_NUM_SCANCODES];  // key-ups of consumed chords
  int32_t pressed_button[8];           // what each SDL button's press sent
  SDL_Cursor *cursors[SDL_NUM_SYSTEM_CURSORS];
  int32_t cursor;
  int32_t root_x, root_y;              // the pointer on the screen, per X event
  int driver_named;
  char menu_app[64];
  gui_plat_menu menus[2];
  int stop_taken;                      // the stop signal was handed on
} st;

// A stop asked of the process from outside (SIGTERM, SIGINT, SIGHUP) is the
// application's quit, as the menu's: the handler only notes the signal and
// the next event pump hands it to the session, which saves, signs off and
// ends the frame loop in its usual order. A second signal while that runs
// ends the process at once, as the signal would have without us.
static volatile sig_atomic_t stop_signal;
static constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

static void on_stop_signal(int sig) {
  if (stop_signal) {
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  stop_signal = sig;
}

static void set_stop_handlers(bool on) {
  struct sigaction sa{};
  sa.sa_handler = on ? on_stop_signal : SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : kStopSignals) sigaction(sig, &sa, nullptr);
}

static void take_stop_signal(void) {
  if (!stop_signal || st.stop_taken || !st.ev.quit) return;
  st.stop_taken = 1;
  log(LOG_WARN, kSrc, "signal %d: quitting", int(stop_signal));
  st.ev.quit();
}

void gui_plat_set_events(const gui_plat_events *events) {
  if (events)
    st.ev = *events;
  else
    memset(&st.ev, 0, sizeof st.ev);
}

int32_t gui_plat_key_code(int32_t vcode) {
  if (vcode < 0 || vcode >= 128) return -1;
  return kKeyMap[vcode];
}

int32_t gui_plat_scancode_vcode(int32_t scancode) {
  if (!st.scan_ready) {
    for (int16_t &v : st.scan_vcode) v = -1;
    for (const scan_vcode &e : kScanVcodes) st.scan_vcode[e.scan] = e.vcode;
    st.scan_ready = 1;
  }
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return -1;
  return st.scan_vcode[scancode];
}

static gui_plat_data *find_window(uint32_t id) {
  if (!id) return nullptr;
  for (gui_plat_data *p : st.wins)
    if (p && p->window_id == id) return p;
  return nullptr;
}

// A window's place is its content's (SDL reads and sets it so once it
// knows the manager's borders). A window placed before its manager has
// decorated it lands with its frame at the place and its content lower by
// the title bar; a frame read back and set again at each start then crept
// down. So the place asked for is kept until the window stands there, and
// set once more when the manager has moved it.
static void ask_place(gui_plat_data *p, int32_t x, int32_t y) {
  SDL_SetWindowPosition((SDL_Window *)p->window, x, y);
  p->place_pending = 1;
  p->want_x = x;
  p->want_y = y;
}

static void settle_place(gui_plat_data *p) {
  if (!p->place_pending || !p->window) return;
  SDL_Window *w = (SDL_Window *)p->window;
  int x = 0, y = 0;
  SDL_GetWindowPosition(w, &x, &y);
  if (x == p->want_x && y == p->want_y) {
    p->place_pending = 0;
    return;
  }
  int top = 0, left = 0, bottom = 0, right = 0;
  if (SDL_GetWindowBordersSize(w, &top, &left, &bottom, &right) != 0 || (top == 0 && left == 0)) return;
  p->place_pending = 0;  // one correction: the user may move it afterwards
  SDL_SetWindowPosition(w, p->want_x, p->want_y);
}

static void content_rect(const gui_plat_data *p, rect *out) {
  SDL_Window *w = (SDL_Window *)p->window;
  SDL_GetWindowPosition(w, &out->x, &out->y);
  SDL_GetWindowSize(w, &out->w, &out->h);
}

int gui_plat_native_frame(const gui_plat_data *plat, rect *out) {
  if (!plat || !plat->window) return -1;
  content_rect(plat, out);
  return 0;
}

uint64_t gui_plat_x11_window(const gui_plat_data *plat) {
  if (!plat || !plat->window) return 0;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo((SDL_Window *)plat->window, &info) || info.subsystem != SDL_SYSWM_X11)
    return 0;
  return (uint64_t)info.info.x11.window;
}

// ---- start and stop ----

int gui_plat_init(void) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");       // the crash handler owns them
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");  // the gui decides
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    log(LOG_ERROR, kSrc, "can't start video: %s", SDL_GetError());
    return -1;
  }
  st.video = 1;
  // SDL unloads the GL library with the last GL window; hold it for the
  // life of the process so that closing every window and opening one again
  // does not reload Mesa (and the driver's own process-long allocations
  // stay attributable).
  if (!st.gl_loaded) st.gl_loaded = SDL_GL_LoadLibrary(nullptr) == 0;
  SDL_StopTextInput();  // keys arrive as codes; characters come from the key helpers
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);  // the X events carry screen positions
  if (st.ev.set_flip) st.ev.set_flip(0);  // top-left origin, like the gui
  if (st.ev.set_maximise_supported) st.ev.set_maximise_supported(0);
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; i++) {
    SDL_Rect f, v;
    if (SDL_GetDisplayBounds(i, &f) != 0) continue;
    if (SDL_GetDisplayUsableBounds(i, &v) != 0) v = f;
    rect fr = {f.x, f.y, f.w, f.h}, vr = {v.x, v.y, v.w, v.h};
    if (st.ev.add_monitor) st.ev.add_monitor(&fr, &vr);
  }
  st.cursor = 0;
  stop_signal = 0;
  st.stop_taken = 0;
  set_stop_handlers(true);
  return 0;
}

void gui_plat_shutdown(void) {
  for (gui_plat_data *p : st.wins)
    if (p) gui_plat_window_destroy(p);
  for (SDL_Cursor *&c : st.cursors) {
    if (c) SDL_FreeCursor(c);
    c = nullptr;
  }
  x11clip_shutdown();
  if (st.video) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  st.video = 0;
  st.driver_named = 0;
  set_stop_handlers(false);
}

// ---- windows ----

static void set_gl_attributes(int software) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 1);
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);  // legacy context
  if (software) {
    log(LOG_WARN, kSrc, "choosing software renderer");
    SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 0);
  }
}

// What a swap leaves in the back buffer: red is drawn and presented, then
// green; a copy swap leaves green behind, an exchange gives red back. Either
// way every pixel holds a frame of ours; anything else means the driver
// leaves the buffer undefined and only full redraws are safe.
static int32_t probe_back_buffer(SDL_Window *w) {
  static const float kColours[2][3] = {{1, 0, 0}, {0, 1, 0}};
  for (const float *c : kColours) {
    gl->ClearColor(c[0], c[1], c[2], 1);
    gl->Clear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(w);
  }
  GLubyte px[4] = {0, 0, 0, 0};
  gl->ReadBuffer(GL_BACK);
  gl->ReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
  gl->ClearColor(0, 0, 0, 1);
  gl->Clear(GL_COLOR_BUFFER_BIT);
  int green = px[0] < 16 && px[1] > 240 && px[2] < 16;
  int red = px[0] > 240 && px[1] < 16 && px[2] < 16;
  if (!green && !red)
    log(LOG_WARN, kSrc, "back buffer not kept by swaps (%d,%d,%d): drawing in full", px[0], px[1],
        px[2]);
  return green || red;
}

int gui_plat_window_create(gui_plat_window *win) {
  gui_plat_data *p = win->plat;
  if (win->index < 0 || win->index >= kMaxWindows) return -1;
  memset(p, 0, sizeof *p);
  p->index = win->index;
  int software = st.ev.software_rendering ? st.ev.software_rendering() : 0;
  set_gl_attributes(software);
  uint32_t flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  flags |= (win->flags & 0x2) ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_RESIZABLE;
  SDL_Window *w = SDL_CreateWindow(win->title ? win->title : "", win->frame.x, win->frame.y,
                                   win->frame.w > 0 ? win->frame.w : 1,
                                   win->frame.h > 0 ? win->frame.h : 1, flags);
  if (!w) {
    // Some X servers offer no visual with destination alpha; draw without.
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    w = SDL_CreateWindow(win->title ? win->title : "", win->frame.x, win->frame.y,
                         win->frame.w > 0 ? win->frame.w : 1, win->frame.h > 0 ? win->frame.h : 1,
                         flags);
  }
  if (!w) {
    // SDL picks the visual (the pixel format) while it makes the window.
    log(LOG_ERROR, kSrc, "can't init pixel format");
    log(LOG_ERROR, kSrc, "SDL: %s", SDL_GetError());
    return -1;
  }
  SDL_GLContext ctx = SDL_GL_CreateContext(w);
  if (!ctx) {
    log(LOG_ERROR, kSrc, "can't init gl context");
    SDL_DestroyWindow(w);
    return -1;
  }
  p->window = w;
  p->context = ctx;
  p->window_id = SDL_GetWindowID(w);
  SDL_GL_SetSwapInterval(0);
  st.wins[win->index] = p;
  if (!st.driver_named) {
    const char *r = (const char *)gl->GetString(GL_RENDERER);
    if (r && st.ev.set_video_driver) st.ev.set_video_driver(r, nullptr);
    st.driver_named = 1;
  }
  SDL_ShowWindow(w);
  SDL_RaiseWindow(w);
  SDL_SetWindowInputFocus(w);  // without a window manager nobody else gives focus
  ask_place(p, win->frame.x, win->frame.y);
  p->back_kept = probe_back_buffer(w);
  return 0;
}

void gui_plat_window_destroy(gui_plat_data *p) {
  if (!p || !p->window) return;
  SDL_Window *w = (SDL_Window *)p->window;
  if (p->index >= 0 && p->index < kMaxWindows && st.wins[p->index] == p) st.wins[p->index] = nullptr;
  SDL_HideWindow(w);
  if (SDL_GL_GetCurrentContext() == p->context) SDL_GL_MakeCurrent(w, nullptr);
  SDL_GL_DeleteContext((SDL_GLContext)p->context);
  SDL_DestroyWindow(w);
  p->window = nullptr;
  p->context = nullptr;
  p->window_id = 0;
  p->locked = 0;
  p->dragging = 0;
  if (st.ev.closed) st.ev.closed(p->index);
}

void gui_plat_set_title(gui_plat_data *p, const char *title) {
  if (p && p->window) SDL_SetWindowTitle((SDL_Window *)p->window, title ? title : "");
}

static void echo_frame(gui_plat_data *p) {
  rect r;
  content_rect(p, &r);
  if (st.ev.moved) st.ev.moved(p->index, &r, 1);
}

void gui_plat_set_frame(gui_plat_data *p, const rect *frame) {
  if (!p || !p->window) return;
  SDL_Window *w = (SDL_Window *)p->window;
  SDL_SetWindowSize(w, frame->w > 0 ? frame->w : 1, frame->h > 0 ? frame->h : 1);
  ask_place(p, frame->x, frame->y);
  echo_frame(p);
}

void gui_plat_set_min_size(gui_plat_data *p, const size *min) {
  if (p && p->window) SDL_SetWindowMinimumSize((SDL_Window *)p->window, min->w, min->h);
}

void gui_plat_set_drag_area(gui_plat_data *p, const rect *area) {
  if (p) p->drag_area = *area;
}

void gui_plat_clear_drag_area(gui_plat_data *p) {
  if (p) p->drag_area = rect{0, 0, 0, 0};
}

void gui_plat_set_state(gui_plat_data *p, int32_t state) {
  if (!p || !p->window) return;
  if (state == 1) SDL_MinimizeWindow((SDL_Window *)p->window);
  if (state == 2) SDL_MaximizeWindow((SDL_Window *)p->window);
  if (state == 0) SDL_RestoreWindow((SDL_Window *)p->window);
}

void gui_plat_set_cursor(int32_t code) {
  SDL_SystemCursor id;
  switch (code) {
    case 0: case 1: case 7: case 8: case 9: case 10: case 11: id = SDL_SYSTEM_CURSOR_ARROW; break;
    case 2: id = SDL_SYSTEM_CURSOR_HAND; break;
    case 3: case 5: id = SDL_SYSTEM_CURSOR_SIZENS; break;
    case 4: case 6: id = SDL_SYSTEM_CURSOR_SIZEWE; break;
    case 12: id = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
    case 13: id = SDL_SYSTEM_CURSOR_IBEAM; break;
    default: log(LOG_ERROR, kSrc, "unknown cursor %d", code); return;
  }
  st.cursor = code;
  if (!st.video) return;
  if (!st.cursors[id]) st.cursors[id] = SDL_CreateSystemCursor(id);
  if (st.cursors[id]) SDL_SetCursor(st.cursors[id]);
}

int gui_plat_lock(gui_plat_data *p) {
  if (!p || !p->context) return -1;
  if (SDL_GL_MakeCurrent((SDL_Window *)p->window, (SDL_GLContext)p->context) != 0) {
    log(LOG_OSERR, kSrc, "can't lock context");
    return -1;
  }
  p->locked = 1;
  return 0;
}

int gui_plat_unlock(gui_plat_data *p) {
  if (!p || !p->context) return -1;
  p->locked = 0;  // an SDL context has no lock of its own to release
  return 0;
}

void gui_plat_swap(gui_plat_data *p) {
  if (!p || !p->window) return;
  if (p->locked) gui_plat_unlock(p);
  SDL_Window *w = (SDL_Window *)p->window;
  if (SDL_GL_GetCurrentWindow() != w) SDL_GL_MakeCurrent(w, (SDL_GLContext)p->context);
  SDL_GL_SwapWindow(w);
}

// The top-level X window (child of the root) that holds `w`.
static Window toplevel_of(Display *d, Window w) {
  for (;;) {
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return w;
    if (kids) XFree(kids);
    if (parent == root || parent == 0) return w;
    w = parent;
  }
}

int32_t gui_plat_window_at(int32_t x, int32_t y) {
  Display *d = nullptr;
  Window root = 0;
  int best = -1;
  long best_order = -1;
  Window *kids = nullptr;
  unsigned nkids = 0;
  for (gui_plat_data *p : st.wins) {
    if (!p || !p->window) continue;
    rect r;
    content_rect(p, &r);
    if (x < r.x || y < r.y || x >= r.x + r.w || y >= r.y + r.h) continue;
    if (SDL_GetWindowFlags((SDL_Window *)p->window) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED))
      continue;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    long order = 0;
    if (SDL_GetWindowWMInfo((SDL_Window *)p->window, &info) && info.subsystem == SDL_SYSWM_X11) {
      if (!d) {
        d = info.info.x11.display;
        root = DefaultRootWindow(d);
        Window r2, parent;
        XQueryTree(d, root, &r2, &parent, &kids, &nkids);
      }
      Window top = toplevel_of(d, info.info.x11.window);
      for (unsigned i = 0; i < nkids; i++)
        if (kids[i] == top) order = (long)i;  // bottom to top
    }
    if (order > best_order) {
      best_order = order;
      best = p->index;
    }
  }
  if (kids) XFree(kids);
  return best;
}

// ---- events ----

static uint32_t mods_of(uint16_t kmod) {
  uint32_t m = 0;
  if (kmod & KMOD_CTRL) m |= MOD_CTRL;
  if (kmod & KMOD_SHIFT) m |= MOD_SHIFT;
  if (kmod & KMOD_ALT) m |= MOD_ALT;
  return m;
}

static int is_modifier(SDL_Scancode s) {
  return s == SDL_SCANCODE_LCTRL || s == SDL_SCANCODE_RCTRL || s == SDL_SCANCODE_LSHIFT ||
         s == SDL_SCANCODE_RSHIFT || s == SDL_SCANCODE_LALT || s == SDL_SCANCODE_RALT ||
         s == SDL_SCANCODE_LGUI || s == SDL_SCANCODE_RGUI;
}

static void send_key(int32_t win, int32_t code, int32_t down) {
  if (st.ev.key) st.ev.key(win, code, down);
}

// Control, Shift and Alt changes become key events of the left-hand key.
static void flags_changed(int32_t win, uint16_t kmod) {
  uint32_t now = mods_of(kmod), was = st.mods;
  static const struct { uint32_t bit; int32_t code; } kMods[] = {
      {MOD_CTRL, 1042}, {MOD_SHIFT, 1044}, {MOD_ALT, 1040}};
  for (const auto &m : kMods)
    if ((now ^ was) & m.bit) send_key(win, m.code, (now & m.bit) ? 1 : 0);
  st.mods = now;
}

static void key_down(gui_plat_data *p, const SDL_KeyboardEvent &k) {
  SDL_Scancode s = k.keysym.scancode;
  if (is_modifier(s)) {
    flags_changed(p->index, k.keysym.mod);
    return;
  }
  int32_t code = gui_plat_key_code(gui_plat_scancode_vcode(s));
  uint16_t mod = k.keysym.mod;
  if (mod & KMOD_GUI) {
    // Copy, paste and undo: Command alone with C, V or Z gives the fixed
    // sequence whatever the toolkit's modifier state says.
    if (!(mod & (KMOD_CTRL | KMOD_SHIFT | KMOD_ALT)) && (code == 67 || code == 86 || code == 90)) {
      send_key(p->index, 1046, 1);
      send_key(p->index, code, 1);
      send_key(p->index, code, 0);
      send_key(p->index, 1046, 0);
      st.swallow_up[s] = 1;
      return;
    }
    if (code >= 'A' && code <= 'Z' &&
        gui_plat_menu_chord((char)(code - 'A' + 'a'), (mod & KMOD_ALT) ? GUI_PLAT_MOD_ALT : 0u)) {
      st.swallow_up[s] = 1;
      return;
    }
  }
  if (code < 0) return;
  send_key(p->index, code, 1);
}

static void key_up(gui_plat_data *p, const SDL_KeyboardEvent &k) {
  SDL_Scancode s = k.keysym.scancode;
  if (is_modifier(s)) {
    flags_changed(p->index, k.keysym.mod);
    return;
  }
  if (st.swallow_up[s]) {
    st.swallow_up[s] = 0;
    return;
  }
  int32_t code = gui_plat_key_code(gui_plat_scancode_vcode(s));
  if (code >= 0) send_key(p->index, code, 0);
}

static int in_drag_area(const gui_plat_data *p, int32_t x, int32_t y) {
  const rect &a = p->drag_area;
  return a.w > 0 && x >= a.x && y >= a.y && x < a.x + a.w && y < a.y + a.h;
}

static void button(gui_plat_data *p, const SDL_MouseButtonEvent &b) {
  int down = b.type == SDL_MOUSEBUTTONDOWN;
  int32_t code;
  if (down) {
    if (b.button == SDL_BUTTON_LEFT)
      code = (st.mods & MOD_CTRL) ? 2 : 1;  // Control+left acts as the right button
    else if (b.button == SDL_BUTTON_RIGHT)
      code = 2;
    else
      return;
    if (b.button < 8) st.pressed_button[b.button] = code;
    if (b.button == SDL_BUTTON_LEFT && in_drag_area(p, b.x, b.y)) {
      p->drag_px = st.root_x;
      p->drag_py = st.root_y;
      SDL_GetWindowPosition((SDL_Window *)p->window, &p->drag_wx, &p->drag_wy);
      p->dragging = 1;
    }
  } else {
    if (b.button != SDL_BUTTON_LEFT && b.button != SDL_BUTTON_RIGHT) return;
    // A release names the button its press named, even when Control
    // changed in between, so the gui's button mask cannot stick.
    code = st.pressed_button[b.button];
    if (!code) code = b.button == SDL_BUTTON_LEFT ? 1 : 2;
    st.pressed_button[b.button] = 0;
    if (b.button == SDL_BUTTON_LEFT) p->dragging = 0;
  }
  if (st.ev.button) st.ev.button(p->index, code, down);
}

static void motion(gui_plat_data *p, const SDL_MouseMotionEvent &m) {
  if (p->dragging && (m.state & SDL_BUTTON_LMASK)) {
    // The window follows the pointer's screen position as each event saw it;
    // window-relative positions would fold the window's own movement back
    // into the pointer's, and asking the server now would skip what is queued.
    SDL_SetWindowPosition((SDL_Window *)p->window, p->drag_wx + st.root_x - p->drag_px,
                          p->drag_wy + st.root_y - p->drag_py);
    echo_frame(p);
    return;
  }
  p->dragging = 0;
  if (st.ev.motion) st.ev.motion(p->index, m.x, m.y);
}

static void wheel(gui_plat_data *p, const SDL_MouseWheelEvent &w) {
  float dy = w.preciseY;
  if (w.direction == SDL_MOUSEWHEEL_FLIPPED) dy = -dy;
  p->wheel += dy;
  if (st.ev.wheel) st.ev.wheel(p->index, (int32_t)lroundf(p->wheel));
}

static void window_event(gui_plat_data *p, const SDL_WindowEvent &w) {
  switch (w.event) {
    case SDL_WINDOWEVENT_CLOSE: {
      int allow = st.ev.close_request ? st.ev.close_request(p->index) : 1;
      if (allow) gui_plat_window_destroy(p);
      break;
    }
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (st.ev.focus) st.ev.focus(p->index, 1);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (st.ev.focus) st.ev.focus(p->index, 0);
      break;
    case SDL_WINDOWEVENT_MOVED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      settle_place(p);
      echo_frame(p);
      break;
    case SDL_WINDOWEVENT_SHOWN:
      settle_place(p);
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      if (st.ev.state) st.ev.state(p->index, 1);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED:
      if (st.ev.state) st.ev.state(p->index, 2);
      break;
    case SDL_WINDOWEVENT_RESTORED:
      if (st.ev.state) st.ev.state(p->index, 0);
      break;
    case SDL_WINDOWEVENT_ENTER:
      if (st.ev.crossing) st.ev.crossing(p->index, 1);
      break;
    case SDL_WINDOWEVENT_LEAVE:
      if (st.ev.crossing) st.ev.crossing(p->index, 0);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      settle_place(p);
      // An X window without a compositor loses what was covered.
      if (st.ev.exposed) st.ev.exposed(p->index);
      break;
    default:
      break;
  }
}

// Each X event comes first as itself, then as SDL's translation of it.
static void x_event(const SDL_SysWMmsg *m) {
  if (!m || m->subsystem != SDL_SYSWM_X11) return;
  const XEvent &x = m->msg.x11.event;
  if (x.type == MotionNotify) {
    st.root_x = x.xmotion.x_root;
    st.root_y = x.xmotion.y_root;
  } else if (x.type == ButtonPress || x.type == ButtonRelease) {
    st.root_x = x.xbutton.x_root;
    st.root_y = x.xbutton.y_root;
  }
}

static void dispatch(const SDL_Event &e) {
  switch (e.type) {
    case SDL_SYSWMEVENT:
      x_event(e.syswm.msg);
      return;
    case SDL_QUIT:
      if (st.ev.quit) st.ev.quit();  // the session asks; the gui shuts down its own way
      return;
    case SDL_WINDOWEVENT:
      if (gui_plat_data *p = find_window(e.window.windowID)) window_event(p, e.window);
      return;
    case SDL_KEYDOWN:
      if (gui_plat_data *p = find_window(e.key.windowID)) key_down(p, e.key);
      return;
    case SDL_KEYUP:
      if (gui_plat_data *p = find_window(e.key.windowID)) key_up(p, e.key);
      return;
    case SDL_MOUSEMOTION:
      if (e.motion.which == SDL_TOUCH_MOUSEID) return;
      if (gui_plat_data *p = find_window(e.motion.windowID)) motion(p, e.motion);
      return;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (e.button.which == SDL_TOUCH_MOUSEID) return;
      if (gui_plat_data *p = find_window(e.button.windowID)) button(p, e.button);
      return;
    case SDL_MOUSEWHEEL:
      if (gui_plat_data *p = find_window(e.wheel.windowID)) wheel(p, e.wheel);
      return;
    default:
      return;
  }
}

void gui_plat_pump_events(void) {
  take_stop_signal();
  x11clip_pump();
  if (!st.video) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) dispatch(e);
}

int gui_plat_wait_events(int32_t ms) {
  if (!st.video) return -1;
  // With a null event SDL waits on the display connection and leaves the
  // event it finds in the queue for the next pump.
  return SDL_WaitEventTimeout(nullptr, ms) ? 1 : 0;
}

// ---- the application menu ----

static void menu_about(void);
static void menu_hide(void) {
  for (gui_plat_data *p : st.wins)
    if (p && p->window) SDL_MinimizeWindow((SDL_Window *)p->window);
}
static void menu_show_all(void) {
  for (gui_plat_data *p : st.wins)
    if (p && p->window) SDL_RestoreWindow((SDL_Window *)p->window);
}
static void menu_nothing(void) {}  // no other applications to hide, no services
static void menu_quit(void) {
  if (st.ev.quit) st.ev.quit();
}
static gui_plat_data *key_window(void) {
  SDL_Window *k = SDL_GetKeyboardFocus();
  for (gui_plat_data *p : st.wins)
    if (p && p->window == k) return p;
  return nullptr;
}
static void menu_minimise(void) {
  if (gui_plat_data *p = key_window()) SDL_MinimizeWindow((SDL_Window *)p->window);
}
static void menu_zoom(void) {
  gui_plat_data *p = key_window();
  if (!p) return;
  SDL_Window *w = (SDL_Window *)p->window;
  if (SDL_GetWindowFlags(w) & SDL_WINDOW_MAXIMIZED)
    SDL_RestoreWindow(w);
  else
    SDL_MaximizeWindow(w);
}
static void menu_front(void) {
  for (gui_plat_data *p : st.wins)
    if (p && p->window) SDL_RaiseWindow((SDL_Window *)p->window);
}

static void add_item(gui_plat_menu *m, const char *title, char key, uint32_t mods,
                     void (*action)(void)) {
  gui_plat_menu_item &it = m->items[m->count++];
  memset(&it, 0, sizeof it);
  if (title)
    snprintf(it.title, sizeof it.title, "%s", title);
  else
    it.separator = 1;
  it.key = key;
  it.mods = mods;
  it.action = action;
}

const gui_plat_menu *gui_plat_menu_build(const char *app) {
  if (!app) app = "";
  snprintf(st.menu_app, sizeof st.menu_app, "%s", app);
  char t[80];
  gui_plat_menu *m = &st.menus[0];
  memset(m, 0, sizeof *m);
  snprintf(m->title, sizeof m->title, "%s", app);
  snprintf(t, sizeof t, "About %s", app);
  add_item(m, t, 0, 0, menu_about);
  add_item(m, app, 0, 0, menu_about);
  add_item(m, nullptr, 0, 0, nullptr);
  add_item(m, "Services", 0, 0, menu_nothing);
  add_item(m, nullptr, 0, 0, nullptr);
  snprintf(t, sizeof t, "Hide %s", app);
  add_item(m, t, 'h', 0, menu_hide);
  add_item(m, "Hide Others", 'h', GUI_PLAT_MOD_ALT, menu_nothing);
  add_item(m, "Show All", 0, 0, menu_show_all);
  add_item(m, nullptr, 0, 0, nullptr);
  snprintf(t, sizeof t, "Quit %s", app);
  add_item(m, t, 'q', 0, menu_quit);
  m = &st.menus[1];
  memset(m, 0, sizeof *m);
  snprintf(m->title, sizeof m->title, "Window");
  add_item(m, "Miniaturize", 'm', 0, menu_minimise);
  add_item(m, "Zoom", 0, 0, menu_zoom);
  add_item(m, nullptr, 0, 0, nullptr);
  add_item(m, "Bring All to Front", 0, 0, menu_front);
  return st.menus;
}

int gui_plat_menu_chord(char key, uint32_t mods) {
  if (!st.menus[0].count) gui_plat_menu_build(st.menu_app);
  for (const gui_plat_menu &m : st.menus)
    for (int i = 0; i < m.count; i++) {
      const gui_plat_menu_item &it = m.items[i];
      if (it.key && it.key == key && it.mods == mods && it.action) {
        it.action();
        return 1;
      }
    }
  return 0;
}

static void menu_about(void) { launch_about(st.menu_app); }
