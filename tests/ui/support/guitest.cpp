// The gui tests' widget: a container with fixed child rects that records
// the operations the input dispatch and the window draw call on it.
#include "guitest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "lib/gfx.h"
#include "pixeltest.h"
#include "testlog.h"
#include "testpeers.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <png.h>

namespace {

std::vector<std::string> g_log;
bool g_draws;

tw *as_tw(widget *w) { return static_cast<tw *>(w); }

void note(widget *w, const char *what) {
  g_log.push_back(std::string(as_tw(w)->name) + ":" + what);
}
void note(widget *w, const char *op, int a, int b, int c) {
  char buf[96];
  snprintf(buf, sizeof buf, "%s(%d,%d,%d)", op, a, b, c);
  note(w, buf);
}

void t_apply_children(widget *self, widget_apply_fn fn, void *arg, int n) {
  tw *t = as_tw(self);
  for (int i = 0; i < t->nkids; i++) fn(t->kids[i], arg, n);
}
int t_child_count(widget *self) { return as_tw(self)->nkids; }
widget *t_get_child(widget *self, int i) {
  tw *t = as_tw(self);
  return i >= 0 && i < t->nkids ? t->kids[i] : nullptr;
}
void t_reqsize(widget *self, size *out) { *out = as_tw(self)->req; }
widget *t_find_at(widget *self, int32_t x, int32_t y) {
  if (!widget_default_find_at(self, x, y)) return nullptr;
  tw *t = as_tw(self);
  for (int i = t->nkids - 1; i >= 0; i--)  // later children lie on top
    if ((t->kids[i]->flags & WIDGET_SHOWN))
      if (widget *hit = t->kids[i]->cls->find_at(t->kids[i], x, y)) return hit;
  return self;
}
void t_draw(widget *self) {
  tw *t = as_tw(self);
  t->draws++;
  if (g_draws) note(self, "draw");
  if (t->fill) gfx_fill_rect(self->r.x, self->r.y, self->r.w, self->r.h, t->fill);
  for (int i = 0; i < t->nkids; i++)
    if (t->kids[i]->flags & WIDGET_SHOWN) widget_draw(t->kids[i]);
}
void t_layout(container *) {}  // children keep the rects the test set
int t_add(container *self, widget *child) {
  tw *t = as_tw(self);
  if (t->nkids == 64) return -1;
  t->kids[t->nkids++] = child;
  container_attach(self, child);
  return 0;
}
widget *t_remove(container *self, widget *child) {
  tw *t = as_tw(self);
  for (int i = 0; i < t->nkids; i++)
    if (t->kids[i] == child) {
      for (int j = i; j + 1 < t->nkids; j++) t->kids[j] = t->kids[j + 1];
      t->nkids--;
      container_detach(self, child);
      return child;
    }
  return nullptr;
}
void t_delete_children(container *self) {
  tw *t = as_tw(self);
  while (t->nkids) {
    widget *c = t->kids[t->nkids - 1];
    t_remove(self, c);
    widget_delete(c);
  }
}
int t_drag_begin(widget *self, int32_t x, int32_t y, int n, drag_record *) {
  note(self, "drag_begin", x, y, n);
  return as_tw(self)->drag_answer;
}
void t_drag_motion(widget *self, int32_t x, int32_t y, int n, drag_record *) {
  note(self, "drag_motion", x, y, n);
}
int t_drag_release(widget *self, widget *target, int32_t x, int32_t y, int, drag_record *) {
  note(self, (std::string("drag_release:") + (target ? as_tw(target)->name : "null")).c_str(), x,
       y, 0);
  return as_tw(self)->release_answer;
}
void t_drop(widget *self, int32_t x, int32_t y, int b, drag_record *) { note(self, "drop", x, y, b); }
void t_press(widget *self, int32_t x, int32_t y, int b) {
  note(self, "press", x, y, b);
  if (as_tw(self)->focus_on_press) gui_set_focus(self);
}
void t_after_press(widget *self, int32_t x, int32_t y, int b) { note(self, "after_press", x, y, b); }
void t_release(widget *self, int32_t x, int32_t y, int b) { note(self, "release", x, y, b); }
void t_after_release(widget *self, int32_t x, int32_t y, int b) {
  note(self, "after_release", x, y, b);
}
void t_wheel(widget *self, int steps) { note(self, "wheel", steps, 0, 0); }
void t_motion(widget *self, int32_t x, int32_t y) { note(self, "motion", x, y, 0); }
void t_enter(widget *self) { note(self, "enter"); }
void t_leave(widget *self) { note(self, "leave"); }
void t_key_press(widget *self, key_event *k) { note(self, "key_press", k->code, k->ch, (int)k->mods); }
void t_key_release(widget *self, key_event *k) {
  note(self, "key_release", k->code, k->ch, (int)k->mods);
}

void tw_class_init(object_class *rec) {
  auto *c = static_cast<container_class *>(rec);
  c->apply_children = t_apply_children;
  c->child_count = t_child_count;
  c->get_child = t_get_child;
  c->reqsize = t_reqsize;
  c->find_at = t_find_at;
  c->draw = t_draw;
  c->layout = t_layout;
  c->add = t_add;
  c->remove = t_remove;
  c->delete_children = t_delete_children;
  c->drag_begin = t_drag_begin;
  c->drag_motion = t_drag_motion;
  c->drag_release = t_drag_release;
  c->drop = t_drop;
  c->press = t_press;
  c->after_press = t_after_press;
  c->release = t_release;
  c->after_release = t_after_release;
  c->wheel = t_wheel;
  c->motion = t_motion;
  c->enter = t_enter;
  c->leave = t_leave;
  c->key_press = t_key_press;
  c->key_release = t_key_release;
}

// Children are deleted with their parent.
void tw_fini(object *o) { t_delete_children(reinterpret_cast<tw *>(o)); }

typeid_t register_tw() {
  return object_register_class("tw", container_type(), sizeof(tw), nullptr, tw_fini,
                               sizeof(container_class), tw_class_init, nullptr);
}

}  // namespace

typeid_t tw_type() {
  static object_type_cache c;
  return object_cached_type(&c, register_tw);
}

tw *tw_new(widget *parent, const char *name, rect r, colour fill) {
  auto *t = reinterpret_cast<tw *>(object_new(tw_type()));
  t->name = name;
  t->fill = fill;
  t->r = r;
  t->req = {r.w, r.h};
  t->release_answer = 1;
  if (parent) {
    auto *c = static_cast<container *>(parent);
    if (container_cls(c)->add(c, t) < 0) {
      widget_delete(t);
      return nullptr;
    }
  }
  return t;
}

std::vector<std::string> &tw_log() { return g_log; }
void tw_log_draws(bool on) { g_draws = on; }

::testing::AssertionResult guitest_start_gui(const char *app_name) {
  start_runtime(TestStderr::kOff);
  std::string why;
  if (!pixeltest_ensure_display(&why)) return ::testing::AssertionFailure() << why;
  if (gui_init(app_name) != 0) return ::testing::AssertionFailure() << "gui_init failed";
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
    return ::testing::AssertionFailure() << "SDL video: " << SDL_GetError();
  return ::testing::AssertionSuccess();
}

namespace {

pid_t g_wm = -1;
std::string g_wm_dir;

void stop_window_manager() {
  stop_child(g_wm);
  g_wm = -1;
  if (!g_wm_dir.empty()) {
    unlink((g_wm_dir + "/rc.xml").c_str());
    rmdir(g_wm_dir.c_str());
    g_wm_dir.clear();
  }
}

// The window a manager names on the root through _NET_SUPPORTING_WM_CHECK,
// when that window exists and names itself back; 0 otherwise.
Window wm_check_window(Display *d) {
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  auto read = [&](Window on) -> Window {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    Window got = 0;
    if (XGetWindowProperty(d, on, check, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
      if (type == XA_WINDOW && format == 32 && n == 1) got = *(Window *)data;
      XFree(data);
    }
    return got;
  };
  Window w = read(DefaultRootWindow(d));
  return w && read(w) == w ? w : 0;
}

// An X error (the named check window gone mid-read) is not fatal here.
int ignore_x_error(Display *, XErrorEvent *) { return 0; }

}  // namespace

::testing::AssertionResult guitest_start_window_manager() {
  std::string why;
  if (!pixeltest_ensure_display(&why)) return ::testing::AssertionFailure() << why;
  Display *d = XOpenDisplay(nullptr);
  if (!d) return ::testing::AssertionFailure() << "no X display";
  auto old_handler = XSetErrorHandler(ignore_x_error);
  Window root = DefaultRootWindow(d);
  XSelectInput(d, root, PropertyChangeMask);
  XSync(d, False);
  bool running = wm_check_window(d) != 0;
  if (!running && g_wm < 0) {
    if (pixeltest_private_display().empty()) {
      XSetErrorHandler(old_handler);
      XCloseDisplay(d);
      return ::testing::AssertionFailure() << "no window manager on the outside display";
    }
    char dir[] = "/tmp/ambit-wm-XXXXXX";
    if (!mkdtemp(dir)) {
      XSetErrorHandler(old_handler);
      XCloseDisplay(d);
      return ::testing::AssertionFailure() << "mkdtemp failed";
    }
    g_wm_dir = dir;
    // Defaults throughout: no margins, no panels, one desktop.
    if (FILE *f = fopen((g_wm_dir + "/rc.xml").c_str(), "w")) {
      fputs("<?xml version=\"1.0\"?>\n"
            "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
            "  <desktops><number>1</number></desktops>\n"
            "  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>\n"
            "</openbox_config>\n",
            f);
      fclose(f);
    }
    const std::string config = g_wm_dir + "/rc.xml";
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
      XSetErrorHandler(old_handler);
      XCloseDisplay(d);
      return ::testing::AssertionFailure() << "fork failed";
    }
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the test process
      if (getppid() != parent) _exit(127);
      int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
      }
      setenv("XDG_CONFIG_HOME", g_wm_dir.c_str(), 1);
      execlp("openbox", "openbox", "--sm-disable", "--config-file", config.c_str(),
             (char *)nullptr);
      _exit(127);
    }
    g_wm = pid;
    static bool registered = false;
    if (!registered) {
      atexit(stop_window_manager);  // runs before the X server is stopped
      registered = true;
    }
  }
  // Wait for the announcement: every property change on the root wakes us.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!running) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
    }
    if (wm_check_window(d)) {
      running = true;
      break;
    }
    if (g_wm > 0 && waitpid(g_wm, nullptr, WNOHANG) == g_wm) {
      g_wm = -1;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd p = {ConnectionNumber(d), POLLIN, 0};
    poll(&p, 1, int(left < 100 ? left : 100));
  }
  XSetErrorHandler(old_handler);
  XCloseDisplay(d);
  if (!running) {
    stop_window_manager();
    return ::testing::AssertionFailure() << "openbox did not start (is it installed?)";
  }
  return ::testing::AssertionSuccess();
}

namespace {

// A property of 32-bit cardinals (at most n of them); how many were read.
int read_cardinals(Display *d, Window w, const char *name, long *out, int n) {
  Atom a = XInternAtom(d, name, False);
  Atom type;
  int format;
  unsigned long got = 0, after;
  unsigned char *data = nullptr;
  int count = 0;
  if (XGetWindowProperty(d, w, a, 0, n, False, XA_CARDINAL, &type, &format, &got, &after,
                         &data) == Success &&
      data) {
    if (type == XA_CARDINAL && format == 32) {
      count = (int)got;
      for (int i = 0; i < count; i++) out[i] = ((long *)data)[i];
    }
    XFree(data);
  }
  return count;
}

}  // namespace

bool guitest_window_root_rect(uint64_t xwindow, rect *out) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return false;
  XWindowAttributes a;
  Window child;
  int x = 0, y = 0;
  bool ok = XGetWindowAttributes(d, (Window)xwindow, &a) &&
            XTranslateCoordinates(d, (Window)xwindow, DefaultRootWindow(d), 0, 0, &x, &y,
                                  &child);
  if (ok) *out = rect{x, y, a.width, a.height};
  XCloseDisplay(d);
  return ok;
}

bool guitest_frame_extents(uint64_t xwindow, rect *ltrb) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return false;
  long v[4];
  bool ok = read_cardinals(d, (Window)xwindow, "_NET_FRAME_EXTENTS", v, 4) == 4;
  if (ok) *ltrb = rect{(int32_t)v[0], (int32_t)v[2], (int32_t)v[1], (int32_t)v[3]};
  XCloseDisplay(d);
  return ok;
}

bool guitest_window_viewable(uint64_t xwindow) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return false;
  auto old_handler = XSetErrorHandler(ignore_x_error);
  XWindowAttributes a;
  bool ok = XGetWindowAttributes(d, (Window)xwindow, &a) && a.map_state == IsViewable;
  XSetErrorHandler(old_handler);
  XCloseDisplay(d);
  return ok;
}

bool guitest_work_area(rect *out) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return false;
  long v[4];
  bool ok = read_cardinals(d, DefaultRootWindow(d), "_NET_WORKAREA", v, 4) == 4;
  if (ok) *out = rect{(int32_t)v[0], (int32_t)v[1], (int32_t)v[2], (int32_t)v[3]};
  XCloseDisplay(d);
  return ok;
}

bool guitest_wm_state(uint64_t xwindow, bool add, const char *first, const char *second) {
  Display *d = XOpenDisplay(nullptr);
  if (!d) return false;
  XEvent e = {};
  e.xclient.type = ClientMessage;
  e.xclient.window = (Window)xwindow;
  e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = add ? 1 : 0;  // _NET_WM_STATE_ADD or _REMOVE
  e.xclient.data.l[1] = (long)XInternAtom(d, first, False);
  e.xclient.data.l[2] = second ? (long)XInternAtom(d, second, False) : 0;
  e.xclient.data.l[3] = 2;  // from a pager or task bar: the user's own request
  const Status sent = XSendEvent(d, DefaultRootWindow(d), False,
                                 SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return sent != 0;
}

bool guitest_wait_for(const std::function<bool()> &done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    gui_plat_pump_events();
    gui_deliver_drag_motion();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling pace, not a wait
  }
}

std::string guitest_run_pumping(const std::string &cmd, int ms) {
  auto fut = std::async(std::launch::async, [cmd] {
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    return out;
  });
  guitest_wait_for(
      [&] { return fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, ms);
  return fut.get();
}

void guitest_xdo(const std::string &args) {
  ASSERT_EQ(system(("xdotool " + args).c_str()), 0) << args;
}

std::vector<uint32_t> guitest_window_pixels(uint64_t xwindow, const rect &r) {
  std::vector<uint32_t> out;
  Display *d = XOpenDisplay(nullptr);
  if (!d) return out;
  auto old_handler = XSetErrorHandler(ignore_x_error);  // a refusal leaves `out` empty
  if (XImage *img = XGetImage(d, (Window)xwindow, r.x, r.y, (unsigned)r.w, (unsigned)r.h,
                              AllPlanes, ZPixmap)) {
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++) {
        unsigned long p = XGetPixel(img, x, y);
        out.push_back(0xff000000u | (uint32_t)((p >> 16) & 0xff) | (uint32_t)(p & 0xff00) |
                      (uint32_t)((p & 0xff) << 16));
      }
    XDestroyImage(img);
  }
  XSetErrorHandler(old_handler);
  XCloseDisplay(d);
  return out;
}

bool guitest_save_png(const std::string &path, const std::vector<uint32_t> &pixels, int w, int h) {
  if (w <= 0 || h <= 0 || pixels.size() != size_t(w) * size_t(h)) return false;
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(w) * 4);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      uint32_t c = pixels[size_t(y) * size_t(w) + size_t(x)];
      for (int k = 0; k < 4; k++) row[size_t(x) * 4 + size_t(k)] = uint8_t(c >> (8 * k));
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return fclose(f) == 0;
}

uint32_t guitest_window_pixel(uint64_t xwindow, int x, int y) {
  std::vector<uint32_t> p = guitest_window_pixels(xwindow, rect{x, y, 1, 1});
  return p.empty() ? 0xdeadbeefu : p[0];
}

bool guitest_near(uint32_t a, uint32_t b, int tol) {
  for (int sh = 0; sh < 24; sh += 8)
    if (abs((int)((a >> sh) & 0xff) - (int)((b >> sh) & 0xff)) > tol) return false;
  return true;
}

::testing::AssertionResult guitest_window::open(widget *root, rect frame) {
  win = gui_window_open(root, &frame, 0);
  if (win < 0) return ::testing::AssertionFailure() << "gui_window_open failed";
  settle();
  xw = gui_plat_x11_window(&G.wins[win].plat);
  if (system(("xdotool windowfocus --sync " + std::to_string(xw)).c_str()) != 0)
    return ::testing::AssertionFailure() << "xdotool windowfocus failed";
  return ::testing::AssertionSuccess();
}

void guitest_window::settle() {
  for (int n = 0; G.wins[win].needs_draw && n < 20; n++) gui_draw_window(win);
}

std::string guitest_window::at(int x, int y) const {
  return " --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y);
}

void guitest_window::close_all() {
  gui_window_close(-1);
  G.quit = 0;
}
