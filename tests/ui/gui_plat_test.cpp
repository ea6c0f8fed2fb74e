// The Linux window layer against a real X server: windows with their own GL
// contexts draw and present, xdotool input arrives translated, the clipboard
// round-trips through xclip, and the opener, alerts and PDF pages work.
// Every wait is on a condition with a deadline.
#include <gtest/gtest.h>
#include <png.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lib/glapi.h"
#include "localdata.h"
#include "pixeltest.h"
#include "testlog.h"
#include "testpeers.h"
#include "ui/gui_plat-linux.h"
#include "ui/launch-linux.h"
#include "ui/x11clip.h"

// X and SDL last: Xlib's macros (None, Bool) would break gtest's headers.
#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// ---- what the layer reported ----

struct ev {
  std::string kind;
  int win, a, b, c;
  bool operator==(const ev &o) const {
    return kind == o.kind && win == o.win && a == o.a && b == o.b && c == o.c;
  }
};
std::ostream &operator<<(std::ostream &os, const ev &e) {
  return os << e.kind << "(" << e.win << "," << e.a << "," << e.b << "," << e.c << ")";
}

struct recorder {
  std::vector<ev> events;
  std::vector<rect> monitors;
  int flip = -1, maximise = -1, quits = 0, allow_close = 1;
  std::string driver;
  std::vector<ev> of(const std::string &kind) const {
    std::vector<ev> out;
    for (const ev &e : events)
      if (e.kind == kind) out.push_back(e);
    return out;
  }
} R;

void r_motion(int32_t w, int32_t x, int32_t y) { R.events.push_back({"motion", w, x, y, 0}); }
void r_button(int32_t w, int32_t b, int32_t d) { R.events.push_back({"button", w, b, d, 0}); }
void r_wheel(int32_t w, int32_t p) { R.events.push_back({"wheel", w, p, 0, 0}); }
void r_key(int32_t w, int32_t c, int32_t d) { R.events.push_back({"key", w, c, d, 0}); }
void r_focus(int32_t w, int32_t f) { R.events.push_back({"focus", w, f, 0, 0}); }
void r_crossing(int32_t w, int32_t i) { R.events.push_back({"crossing", w, i, 0, 0}); }
void r_moved(int32_t w, const rect *r, int32_t f) {
  R.events.push_back({"moved", w, r->x, r->y, r->w * 10000 + r->h});
  (void)f;
}
int32_t r_close_request(int32_t w) {
  R.events.push_back({"close_request", w, 0, 0, 0});
  return R.allow_close;
}
void r_closed(int32_t w) { R.events.push_back({"closed", w, 0, 0, 0}); }
void r_exposed(int32_t) {}
void r_quit() { R.quits++; }
void r_monitor(const rect *f, const rect *) { R.monitors.push_back(*f); }
void r_flip(int32_t on) { R.flip = on; }
void r_max(int32_t on) { R.maximise = on; }
void r_driver(const char *n, const char *) { R.driver = n; }

const gui_plat_events kRecorder = {r_motion, r_button,   r_wheel, r_key,   r_focus,
                                   r_crossing, r_moved,  r_close_request, r_closed, r_exposed,
                                   r_quit,   r_monitor,  r_flip,  r_max,   r_driver,
                                   nullptr};

// Pumps the layer until `done` holds or `ms` pass.
bool pump_until(const std::function<bool()> &done, int ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    gui_plat_pump_events();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string run(const std::string &cmd) { return peer_command_output(cmd); }

// Runs a command on another thread while this one keeps pumping, for
// clients (xclip) that talk to us through the X server.
std::string run_pumping(const std::string &cmd, int ms = 8000) {
  auto fut = std::async(std::launch::async, [cmd] { return run(cmd); });
  pump_until([&] { return fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
             ms);
  return fut.get();
}

void xdo(const std::string &args) { ASSERT_EQ(system(("xdotool " + args).c_str()), 0) << args; }

class Layer : public ::testing::Test {
 public:
  static gui_plat_data plat[2];
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOff);
    std::string why;
    ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
    gui_plat_set_events(&kRecorder);
    ASSERT_EQ(gui_plat_init(), 0);
    // Keep SDL's display open past the layer's shutdown: closing it unloads
    // Mesa's driver, whose process-long allocations the leak checker would
    // then report without names.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
  }
  static void TearDownTestSuite() {
    gui_plat_shutdown();
    gui_plat_set_events(nullptr);
  }

 protected:
  void open(int index, rect frame, uint32_t flags = 0) {
    gui_plat_window w = {index, frame, flags, "test", &plat[index]};
    ASSERT_EQ(gui_plat_window_create(&w), 0);
    // Mapped and focused before the test drives it.
    uint64_t xw = gui_plat_x11_window(&plat[index]);
    ASSERT_NE(xw, 0u);
    xdo("windowfocus --sync " + std::to_string(xw));
    pump_until([&] { return !R.of("focus").empty(); }, 2000);
  }
  void TearDown() override {
    for (gui_plat_data &p : plat) gui_plat_window_destroy(&p);
    gui_plat_pump_events();
    R.events.clear();
  }
  std::string xid(int i) { return std::to_string(gui_plat_x11_window(&plat[i])); }
};
gui_plat_data Layer::plat[2];

// ---- start-up facts ----

TEST_F(Layer, StartReportsTheScreenWithoutFlippingOrMaximising) {
  Display *d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  int w = DisplayWidth(d, DefaultScreen(d)), h = DisplayHeight(d, DefaultScreen(d));
  XCloseDisplay(d);
  ASSERT_EQ(R.monitors.size(), 1u);
  EXPECT_EQ(R.monitors[0].x, 0);
  EXPECT_EQ(R.monitors[0].y, 0);
  EXPECT_EQ(R.monitors[0].w, w);
  EXPECT_EQ(R.monitors[0].h, h);
  EXPECT_EQ(R.flip, 0);
  EXPECT_EQ(R.maximise, 0);
  // The stop signals are the layer's own (SDL installs none): one handler
  // for all three.
  struct sigaction term;
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &term), 0);
  EXPECT_NE(term.sa_handler, SIG_DFL);
  EXPECT_NE(term.sa_handler, SIG_IGN);
  for (int sig : {SIGINT, SIGHUP}) {
    struct sigaction sa;
    ASSERT_EQ(sigaction(sig, nullptr, &sa), 0);
    EXPECT_EQ(sa.sa_handler, term.sa_handler) << "signal " << sig;
  }
}

// A stop signal is the application's quit, handed on once by the next pump.
TEST_F(Layer, AStopSignalIsAQuit) {
  R.quits = 0;
  ASSERT_EQ(raise(SIGHUP), 0);
  EXPECT_EQ(R.quits, 0);  // nothing happens inside the handler
  gui_plat_pump_events();
  EXPECT_EQ(R.quits, 1);
  gui_plat_pump_events();
  EXPECT_EQ(R.quits, 1);
}

// ---- windows, contexts, presenting ----

// Reads a pixel of the X window as the server shows it (after a swap).
uint32_t screen_pixel(uint64_t xw, int x, int y) {
  Display *d = XOpenDisplay(nullptr);
  XImage *img = XGetImage(d, (Window)xw, x, y, 1, 1, AllPlanes, ZPixmap);
  unsigned long p = img ? XGetPixel(img, 0, 0) : 0xdeadbeef;
  if (img) XDestroyImage(img);
  XCloseDisplay(d);
  return (uint32_t)(p & 0xffffff);
}

TEST_F(Layer, TwoWindowsDrawAndPresentWithTheirOwnContexts) {
  open(0, {40, 60, 200, 120});
  open(1, {300, 60, 160, 100});
  ASSERT_NE(plat[0].context, plat[1].context);
  EXPECT_EQ(plat[0].back_kept, 1);  // Mesa keeps a frame of ours in the back buffer
  EXPECT_FALSE(R.driver.empty());  // GL_RENDERER of the first context
  struct {
    int win;
    float r, g, b;
    uint32_t x_pixel;  // as the X server stores it: 0xRRGGBB
  } cases[] = {{0, 1, 0, 0, 0xff0000}, {1, 0, 0, 1, 0x0000ff}};
  for (auto &c : cases) {
    ASSERT_EQ(gui_plat_lock(&plat[c.win]), 0);
    EXPECT_EQ(plat[c.win].locked, 1);
    rect f;
    ASSERT_EQ(gui_plat_native_frame(&plat[c.win], &f), 0);
    gl->Viewport(0, 0, f.w, f.h);
    gl->ClearColor(c.r, c.g, c.b, 1);
    gl->Clear(GL_COLOR_BUFFER_BIT);
    // A green square in the top-left corner, drawn with a top-left projection.
    gl->MatrixMode(GL_PROJECTION);
    gl->LoadIdentity();
    gl->Ortho(0, f.w, f.h, 0, 0, 1);
    gl->Color4ub(0, 255, 0, 255);
    gl->Rectf(0, 0, 10, 10);
    gui_plat_swap(&plat[c.win]);
    EXPECT_EQ(plat[c.win].locked, 0);
  }
  for (auto &c : cases) {
    uint64_t xw = gui_plat_x11_window(&plat[c.win]);
    EXPECT_TRUE(pump_until([&] { return screen_pixel(xw, 50, 50) == c.x_pixel; }, 3000))
        << "window " << c.win << " shows " << std::hex << screen_pixel(xw, 50, 50);
    EXPECT_EQ(screen_pixel(xw, 2, 2), 0x00ff00u) << "window " << c.win;
  }
  // Each native window sits where the gui asked.
  rect r;
  ASSERT_EQ(gui_plat_native_frame(&plat[1], &r), 0);
  EXPECT_EQ(r.x, 300);
  EXPECT_EQ(r.y, 60);
  EXPECT_EQ(r.w, 160);
  EXPECT_EQ(r.h, 100);
}

TEST_F(Layer, ProgrammaticFramesAreEchoedAndDestroyReportsOnce) {
  open(0, {10, 10, 100, 80});
  R.events.clear();
  rect f = {120, 140, 260, 150};
  gui_plat_set_frame(&plat[0], &f);
  auto moved = R.of("moved");
  ASSERT_FALSE(moved.empty());
  EXPECT_EQ(moved.back(), (ev{"moved", 0, 120, 140, 260 * 10000 + 150}));
  rect n;
  pump_until([&] { return gui_plat_native_frame(&plat[0], &n) == 0 && n.x == 120 && n.w == 260; });
  EXPECT_EQ(n.y, 140);
  EXPECT_EQ(n.h, 150);
  gui_plat_window_destroy(&plat[0]);
  gui_plat_window_destroy(&plat[0]);
  EXPECT_EQ(R.of("closed").size(), 1u);
  EXPECT_EQ(gui_plat_lock(&plat[0]), -1);  // no context any more
}

TEST_F(Layer, WindowAtFollowsTheStackingOrder) {
  open(0, {100, 100, 200, 200});
  open(1, {200, 200, 200, 200});
  // Window 1 was raised last.
  EXPECT_EQ(gui_plat_window_at(250, 250), 1);
  EXPECT_EQ(gui_plat_window_at(150, 150), 0);
  EXPECT_EQ(gui_plat_window_at(350, 350), 1);
  EXPECT_EQ(gui_plat_window_at(50, 50), -1);
  xdo("windowraise " + xid(0));
  EXPECT_TRUE(pump_until([] { return gui_plat_window_at(250, 250) == 0; }, 2000));
}

// ---- keys ----

struct key_case {
  const char *keysym;  // as xdotool names it (the key's unshifted symbol)
  int code;            // toolkit code, -1 for keys that give nothing
};
// Every physical key of the key map, and a few that the map ignores.
const key_case kKeys[] = {
    {"a", 65},   {"s", 83},   {"d", 68},   {"f", 70},   {"h", 72},   {"g", 71},
    {"z", 90},   {"x", 88},   {"c", 67},   {"v", 86},   {"b", 66},   {"q", 81},
    {"w", 87},   {"e", 69},   {"r", 82},   {"y", 89},   {"t", 84},   {"1", 49},
    {"2", 50},   {"3", 51},   {"4", 52},   {"6", 54},   {"5", 53},   {"equal", 61},
    {"9", 57},   {"7", 55},   {"minus", 45}, {"8", 56}, {"0", 48},   {"bracketright", 93},
    {"o", 79},   {"u", 85},   {"bracketleft", 91}, {"i", 73}, {"p", 80}, {"Return", 1001},
    {"l", 76},   {"j", 74},   {"apostrophe", 39}, {"k", 75}, {"semicolon", 59},
    {"backslash", 92}, {"comma", 44}, {"slash", 47}, {"n", 78}, {"m", 77}, {"period", 46},
    {"Tab", 1006}, {"space", 1004}, {"grave", 96}, {"BackSpace", 1002}, {"Escape", 1005},
    {"KP_Delete", 46}, {"KP_Multiply", 42}, {"KP_Add", 43}, {"KP_Divide", 47},
    {"KP_Enter", 1001}, {"KP_Subtract", 45}, {"KP_Insert", 48}, {"KP_End", 49},
    {"KP_Down", 50}, {"KP_Next", 51}, {"KP_Left", 52}, {"KP_Begin", 53}, {"KP_Right", 54},
    {"KP_Home", 55}, {"KP_Up", 56}, {"KP_Prior", 57},
    {"F5", 1024}, {"F6", 1025}, {"F7", 1026}, {"F3", 1022}, {"F8", 1027}, {"F9", 1028},
    {"F11", 1030}, {"F10", 1029}, {"F12", 1031}, {"Home", 1007}, {"Prior", 1009},
    {"Delete", 1003}, {"F4", 1023}, {"End", 1008}, {"F2", 1021}, {"Next", 1010},
    {"F1", 1020}, {"Left", 1013}, {"Right", 1014}, {"Down", 1012}, {"Up", 1011},
    // Ignored: Insert (the help key's place), F13.
    {"Insert", -1}, {"F13", -1},
};

TEST_F(Layer, EveryKeyOfTheMapArrivesAsItsToolkitCode) {
  open(0, {50, 50, 200, 150});
  R.events.clear();
  std::string keys;
  std::vector<ev> want;
  for (const key_case &k : kKeys) {
    keys += std::string(" ") + k.keysym;
    if (k.code >= 0) {
      want.push_back({"key", 0, k.code, 1, 0});
      want.push_back({"key", 0, k.code, 0, 0});
    }
  }
  xdo("key --delay 1" + keys);
  pump_until([&] { return R.of("key").size() >= want.size(); });
  std::vector<ev> got = R.of("key");
  std::string diff;
  for (size_t i = 0; i < std::max(got.size(), want.size()); i++) {
    std::ostringstream a, b;
    if (i < got.size()) a << got[i];
    if (i < want.size()) b << want[i];
    if (a.str() != b.str()) diff += "#" + std::to_string(i) + " got " + a.str() + " want " + b.str() + "\n";
  }
  EXPECT_EQ(diff, "");
}

TEST_F(Layer, UnknownCursorsAreRefused) {
  LogCapture logs;
  for (int code : {0, 2, 3, 4, 12, 13}) gui_plat_set_cursor(code);
  EXPECT_TRUE(logs.empty());
  gui_plat_set_cursor(14);
  EXPECT_TRUE(logs.has("unknown cursor 14"));
}

TEST_F(Layer, KeyMapTableEdges) {
  EXPECT_EQ(gui_plat_key_code(0), 65);
  EXPECT_EQ(gui_plat_key_code(10), -1);
  EXPECT_EQ(gui_plat_key_code(127), -1);
  EXPECT_EQ(gui_plat_key_code(128), -1);
  EXPECT_EQ(gui_plat_key_code(-1), -1);
}

struct chord_case {
  const char *name;
  const char *xdotool;  // arguments after "xdotool"
  std::vector<ev> keys;
  int quits;
};

TEST_F(Layer, ModifiersAndCommandChords) {
  const chord_case cases[] = {
      {"left control", "keydown Control_L keyup Control_L",
       {{"key", 0, 1042, 1, 0}, {"key", 0, 1042, 0, 0}}, 0},
      {"right keys send the left code", "keydown Control_R keyup Control_R keydown Shift_R keyup Shift_R",
       {{"key", 0, 1042, 1, 0}, {"key", 0, 1042, 0, 0}, {"key", 0, 1044, 1, 0},
        {"key", 0, 1044, 0, 0}}, 0},
      {"both controls: one change each way",
       "keydown Control_L keydown Control_R keyup Control_L keyup Control_R",
       {{"key", 0, 1042, 1, 0}, {"key", 0, 1042, 0, 0}}, 0},
      {"alt", "keydown Alt_L keyup Alt_L", {{"key", 0, 1040, 1, 0}, {"key", 0, 1040, 0, 0}}, 0},
      {"shifted letter", "keydown Shift_L key a keyup Shift_L",
       {{"key", 0, 1044, 1, 0}, {"key", 0, 65, 1, 0}, {"key", 0, 65, 0, 0},
        {"key", 0, 1044, 0, 0}}, 0},
      {"super alone sends nothing", "keydown Super_L keyup Super_L", {}, 0},
      {"copy", "key super+c",
       {{"key", 0, 1046, 1, 0}, {"key", 0, 67, 1, 0}, {"key", 0, 67, 0, 0},
        {"key", 0, 1046, 0, 0}}, 0},
      {"paste", "key super+v",
       {{"key", 0, 1046, 1, 0}, {"key", 0, 86, 1, 0}, {"key", 0, 86, 0, 0},
        {"key", 0, 1046, 0, 0}}, 0},
      {"undo", "key super+z",
       {{"key", 0, 1046, 1, 0}, {"key", 0, 90, 1, 0}, {"key", 0, 90, 0, 0},
        {"key", 0, 1046, 0, 0}}, 0},
      {"command with shift is no equivalent", "keydown Super_L keydown Shift_L key c keyup Shift_L keyup Super_L",
       {{"key", 0, 1044, 1, 0}, {"key", 0, 67, 1, 0}, {"key", 0, 67, 0, 0},
        {"key", 0, 1044, 0, 0}}, 0},
      {"other command keys reach the gui", "key super+k",
       {{"key", 0, 75, 1, 0}, {"key", 0, 75, 0, 0}}, 0},
      {"quit from its chord", "key super+q", {}, 1},
  };
  open(0, {50, 50, 200, 150});
  for (const chord_case &c : cases) {
    R.events.clear();
    R.quits = 0;
    xdo(c.xdotool);
    // The chord's last X event is a release; wait until every key is up.
    pump_until([&] { return R.of("key").size() >= c.keys.size() && R.quits >= c.quits; }, 3000);
    pump_until([] { return false; }, 50);  // nothing more may follow
    EXPECT_EQ(R.of("key"), c.keys) << c.name;
    EXPECT_EQ(R.quits, c.quits) << c.name;
  }
}

// ---- pointer ----

TEST_F(Layer, ClicksDragsAndTheWheel) {
  open(0, {100, 100, 300, 200});
  std::string w = " --window " + xid(0);
  struct {
    const char *name;
    std::string xdotool;
    std::vector<ev> want;  // of kinds button, wheel, and the last motion
  } cases[] = {
      {"left click", "mousemove" + w + " 10 20 click 1",
       {{"motion", 0, 10, 20, 0}, {"button", 0, 1, 1, 0}, {"button", 0, 1, 0, 0}}},
      {"right click", "mousemove" + w + " 30 40 click 3",
       {{"motion", 0, 30, 40, 0}, {"button", 0, 2, 1, 0}, {"button", 0, 2, 0, 0}}},
      {"control+left is button 2", "mousemove" + w + " 31 40 keydown Control_L click 1 keyup Control_L",
       {{"motion", 0, 31, 40, 0}, {"button", 0, 2, 1, 0}, {"button", 0, 2, 0, 0}}},
      {"drag", "mousemove" + w + " 50 50 mousedown 1 mousemove" + w + " 80 90 mouseup 1",
       {{"motion", 0, 50, 50, 0}, {"button", 0, 1, 1, 0}, {"motion", 0, 80, 90, 0},
        {"button", 0, 1, 0, 0}}},
      {"wheel accumulates", "mousemove" + w + " 60 60 click 4 click 4 click 5",
       {{"motion", 0, 60, 60, 0}, {"wheel", 0, 1, 0, 0}, {"wheel", 0, 2, 0, 0},
        {"wheel", 0, 1, 0, 0}}},
  };
  for (auto &c : cases) {
    R.events.clear();
    xdo(c.xdotool);
    size_t n_end = 0;
    for (const ev &e : c.want) n_end += e.kind != "motion";
    pump_until([&] { return R.of("button").size() + R.of("wheel").size() >= n_end; }, 3000);
    // Collapse runs of motion to their last position, drop key and crossing.
    std::vector<ev> got;
    for (const ev &e : R.events) {
      if (e.kind == "key" || e.kind == "crossing" || e.kind == "focus" || e.kind == "moved") continue;
      if (e.kind == "motion" && !got.empty() && got.back().kind == "motion") got.pop_back();
      got.push_back(e);
    }
    EXPECT_EQ(got, c.want) << c.name;
  }
}

TEST_F(Layer, FractionalWheelStepsRoundTheAccumulatedPosition) {
  open(0, {100, 100, 300, 200});
  R.events.clear();
  for (float step : {0.6f, 0.6f, -0.3f}) {
    SDL_Event e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = plat[0].window_id;
    e.wheel.preciseY = step;
    e.wheel.y = 0;
    SDL_PushEvent(&e);
  }
  pump_until([] { return R.of("wheel").size() >= 3; });
  EXPECT_EQ(R.of("wheel"),
            (std::vector<ev>{{"wheel", 0, 1, 0, 0}, {"wheel", 0, 1, 0, 0}, {"wheel", 0, 1, 0, 0}}));
}

TEST_F(Layer, DraggingInTheDragAreaMovesTheWindowSilently) {
  open(0, {100, 100, 300, 200});
  rect area = {0, 0, 300, 20};
  gui_plat_set_drag_area(&plat[0], &area);
  std::string w = " --window " + xid(0);
  xdo("mousemove" + w + " 50 10");
  pump_until([] { return !R.of("motion").empty(); });
  R.events.clear();
  xdo("mousedown 1 mousemove_relative 30 25 mouseup 1");
  pump_until([] { return R.of("button").size() >= 2; });
  EXPECT_TRUE(R.of("motion").empty());
  rect r;
  pump_until([&] { return gui_plat_native_frame(&plat[0], &r) == 0 && r.x == 130; });
  EXPECT_EQ(r.x, 130);
  EXPECT_EQ(r.y, 125);
  ASSERT_FALSE(R.of("moved").empty());
  EXPECT_EQ(R.of("moved").back(), (ev{"moved", 0, 130, 125, 300 * 10000 + 200}));
  // Outside the area a drag is ordinary motion.
  gui_plat_clear_drag_area(&plat[0]);
  R.events.clear();
  xdo("mousedown 1 mousemove_relative 5 5 mouseup 1");
  pump_until([] { return R.of("button").size() >= 2; });
  EXPECT_FALSE(R.of("motion").empty());
  gui_plat_native_frame(&plat[0], &r);
  EXPECT_EQ(r.x, 130);
}

TEST_F(Layer, CloseRequestIsAskedAndHonoured) {
  open(0, {100, 100, 200, 100});
  for (int allow : {0, 1}) {
    R.events.clear();
    R.allow_close = allow;
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = plat[0].window_id;
    SDL_PushEvent(&e);
    pump_until([] { return !R.of("close_request").empty(); });
    EXPECT_EQ(R.of("closed").size(), (size_t)allow);
    EXPECT_EQ(plat[0].window != nullptr, !allow);
  }
  R.allow_close = 1;
  // The last window gone, the process is not told to quit.
  R.quits = 0;
  pump_until([] { return false; }, 100);
  EXPECT_EQ(R.quits, 0);
}

// ---- clipboard ----

TEST_F(Layer, ClipboardTextRoundTripsThroughXclip) {
  ASSERT_EQ(launch_clipboard_set("bid\t4.52\nask\t4.53"), 0);
  EXPECT_EQ(run_pumping("xclip -o -selection clipboard"), "bid\t4.52\nask\t4.53");

  struct {
    const char *in, *out;
  } cases[] = {{"from xclip", "from xclip"}, {"caf\xc3\xa9 \xe2\x82\xac", "caf? ?"}};
  for (auto &c : cases) {
    std::string cmd = std::string("printf '%s' '") + c.in + "' | xclip -i -selection clipboard";
    ASSERT_EQ(system(cmd.c_str()), 0);
    // xclip claims the selection from a child it forks; wait for the claim.
    pump_until([&] {
      uint32_t n = 0;
      launch_clipboard_get(nullptr, &n);
      return n == strlen(c.out) + 1;
    }, 3000);
    uint32_t need = 0;
    EXPECT_EQ(launch_clipboard_get(nullptr, &need), -1);
    EXPECT_EQ(need, strlen(c.out) + 1);
    std::vector<char> buf(need);
    uint32_t size = need;
    ASSERT_EQ(launch_clipboard_get(buf.data(), &size), 0);
    EXPECT_STREQ(buf.data(), c.out);
  }
  // Take the selection back so the background xclip exits.
  launch_clipboard_set("");
  gui_plat_pump_events();
}

std::vector<uint8_t> decode_png(const std::string &bytes, int *w, int *h) {
  std::vector<uint8_t> out;
  png_image img = {};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size())) return out;
  img.format = PNG_FORMAT_RGBA;
  out.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) out.clear();
  *w = (int)img.width;
  *h = (int)img.height;
  return out;
}

TEST_F(Layer, ClipboardImageIsServedAsPng) {
  const int w = 3, h = 2;
  std::vector<uint8_t> rgba = {255, 0, 0, 255,   0, 255, 0, 255,   0, 0, 255, 255,
                               10, 20, 30, 255,  40, 50, 60, 128,  255, 255, 255, 0};
  ASSERT_EQ(launch_clipboard_set_image(rgba.data(), w, h), 0);
  std::string targets = run_pumping("xclip -o -selection clipboard -t TARGETS");
  EXPECT_NE(targets.find("image/png"), std::string::npos) << targets;
  std::string png = run_pumping("xclip -o -selection clipboard -t image/png");
  int gw = 0, gh = 0;
  EXPECT_EQ(decode_png(png, &gw, &gh), rgba);
  EXPECT_EQ(gw, w);
  EXPECT_EQ(gh, h);
  // Text put on the clipboard afterwards replaces the image.
  ASSERT_EQ(launch_clipboard_set("text again"), 0);
  EXPECT_TRUE(pump_until([] { return !x11clip_owned(); }, 3000));
}

}  // namespace
