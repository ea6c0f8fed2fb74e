// The pixel-test harness: one private Xvfb per test process, one SDL2 window
// with a compatibility GL context, and glReadPixels at sample points. The
// harness's own GL calls go to the real dispatch table (glapi_real), not
// through `gl`, so a test may record the code under test (with or without
// forwarding) and still set up and read the window.
#include "pixeltest.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/glapi.h"
#include "testexit.h"
#include "testpeers.h"

// Mesa, X and SDL keep allocations for the life of the process (driver
// tables, the display connection's caches), and so does fontconfig under
// poppler's page renderer (its font caches); they are not the toolkit's leaks.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libGLX\nleak:libGLX_mesa\nleak:libGL.so\nleak:libX11\nleak:libxcb\n"
         "leak:libSDL2\nleak:swrast_dri\nleak:libgallium\nleak:libLLVM\nleak:libdbus\n"
         "leak:libglapi\nleak:libfontconfig\nleak:_dl_\n";
}

namespace {

struct harness {
  pid_t xvfb = -1;
  std::string display;  // ":N" of the private server
  bool display_ok = false;
  SDL_Window *window = nullptr;
  SDL_GLContext context = nullptr;
  int w = 0, h = 0;
};
harness H;

void stop_xvfb() {
  stop_child(H.xvfb);
  H.xvfb = -1;
}

void at_exit() {
  pixeltest_close();
  stop_xvfb();
}

// Starts Xvfb on a free display and waits (up to 15 s) for it to write the
// display number on the pipe, which it does once it accepts connections.
bool start_xvfb(std::string *why) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    if (why) *why = "pipe failed";
    return false;
  }
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    if (why) *why = "fork failed";
    return false;
  }
  if (pid == 0) {
    // The server dies with the test process, even when that one crashes.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int out = fds[1];
    if (out < 3) out = dup(out);  // keep it clear of stdio
    fcntl(out, F_SETFD, 0);       // inherited by Xvfb
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    char fdtext[16];
    snprintf(fdtext, sizeof fdtext, "%d", out);
    execlp("Xvfb", "Xvfb", "-displayfd", fdtext, "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", "-noreset", (char *)nullptr);
    _exit(127);
  }
  close(fds[1]);
  H.xvfb = pid;
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  bool done = false;
  while (!done) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd p = {fds[0], POLLIN, 0};
    int r = poll(&p, 1, int(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char c;
    ssize_t n = read(fds[0], &c, 1);
    if (n <= 0) break;  // the server ended without a number
    if (c == '\n')
      done = true;
    else
      number += c;
  }
  close(fds[0]);
  if (!done || number.empty()) {
    stop_xvfb();
    if (why) *why = "Xvfb did not start (is it installed?)";
    return false;
  }
  H.display = ":" + number;
  setenv("DISPLAY", H.display.c_str(), 1);
  return true;
}

}  // namespace

bool pixeltest_ensure_display(std::string *why) {
  test_exit_check_link();  // a window test must end with its threads stopped
  if (H.display_ok) return true;
  // Mesa's software rasteriser draws on the calling thread: no worker threads
  // compete with parallel test processes, and none is still running when the
  // leak checker stops the process at exit (its tracer crashed on them).
  setenv("LP_NUM_THREADS", "0", 0);
  const char *d = getenv("DISPLAY");
  if (!d || !*d) {
    if (!start_xvfb(why)) return false;
  }
  static bool registered = false;
  if (!registered) {
    atexit(at_exit);
    registered = true;
  }
  H.display_ok = true;
  return true;
}

std::string pixeltest_private_display() { return H.display; }

bool pixeltest_open(int w, int h, std::string *why) {
  if (H.window) pixeltest_close();
  if (!pixeltest_ensure_display(why)) return false;
  // Mesa's software rasteriser: the same pixels on every machine.
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  setenv("SDL_VIDEODRIVER", "x11", 0);
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (why) *why = std::string("SDL video: ") + SDL_GetError();
    return false;
  }
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
  H.window = SDL_CreateWindow("pixeltest", 0, 0, w, h, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  if (!H.window) {
    if (why) *why = std::string("SDL window: ") + SDL_GetError();
    return false;
  }
  H.context = SDL_GL_CreateContext(H.window);
  if (!H.context || SDL_GL_MakeCurrent(H.window, H.context) != 0) {
    if (why) *why = std::string("GL context: ") + SDL_GetError();
    pixeltest_close();
    return false;
  }
  SDL_GL_SetSwapInterval(0);
  H.w = w;
  H.h = h;
  const gl_api &g = glapi_real;
  g.Viewport(0, 0, w, h);
  g.MatrixMode(GL_PROJECTION);
  g.LoadIdentity();
  g.Ortho(0, w, h, 0, 0, 1);
  g.MatrixMode(GL_MODELVIEW);
  g.LoadIdentity();
  g.Disable(GL_DEPTH_TEST);
  g.Enable(GL_BLEND);
  g.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  g.DrawBuffer(GL_BACK);
  g.ReadBuffer(GL_BACK);
  pixeltest_pump();
  pixeltest_clear(0xff000000u);
  return true;
}

void pixeltest_close() {
  if (H.context) SDL_GL_DeleteContext(H.context);
  if (H.window) SDL_DestroyWindow(H.window);
  H.context = nullptr;
  H.window = nullptr;
  H.w = H.h = 0;
  // SDL's video subsystem stays up until the process ends: quitting it
  // closes the X display, which unloads Mesa's driver, and the leak checker
  // could then no longer tell the driver's lifetime allocations by name.
}

bool pixeltest_is_open() { return H.window != nullptr; }

void pixeltest_clear(uint32_t c) {
  glapi_real.ClearColor((c & 0xff) / 255.0f, ((c >> 8) & 0xff) / 255.0f,
                        ((c >> 16) & 0xff) / 255.0f, ((c >> 24) & 0xff) / 255.0f);
  glapi_real.Clear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

void pixeltest_swap() {
  if (H.window) SDL_GL_SwapWindow(H.window);
}

int pixeltest_pump() {
  int n = 0;
  SDL_Event e;
  while (SDL_PollEvent(&e)) n++;
  return n;
}

bool pixeltest_wait_for(const std::function<bool()> &cond, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pixeltest_pump();
    if (cond()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    // Wakes at the next event, or after a short while for conditions that
    // change outside the event queue (another process, a child's output);
    // the event is taken by the next pump like every other.
    SDL_WaitEventTimeout(nullptr, int(left < 10 ? left : 10));
  }
}

void pixeltest_pointer(int *x, int *y) {
  SDL_PumpEvents();
  SDL_GetMouseState(x, y);
}

unsigned long pixeltest_x11_window() {
  if (!H.window) return 0;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(H.window, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  return static_cast<unsigned long>(info.info.x11.window);
}

pixeltest_rgba pixeltest_pixel(int x, int y) {
  unsigned char px[4] = {0, 0, 0, 0};
  glapi_real.Finish();
  glapi_real.PixelStorei(GL_PACK_ALIGNMENT, 1);
  glapi_real.ReadBuffer(GL_BACK);
  // GL's rows count from the bottom.
  glapi_real.ReadPixels(x, H.h - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
  return {px[0], px[1], px[2], px[3]};
}

::testing::AssertionResult pixeltest_colour_at(int x, int y, uint32_t colour, int tolerance) {
  if (!H.window) return ::testing::AssertionFailure() << "no pixel-test window is open";
  if (x < 0 || y < 0 || x >= H.w || y >= H.h)
    return ::testing::AssertionFailure() << "(" << x << "," << y << ") is outside the window";
  pixeltest_rgba p = pixeltest_pixel(x, y);
  int want[3] = {int(colour & 0xff), int((colour >> 8) & 0xff), int((colour >> 16) & 0xff)};
  int got[3] = {p.r, p.g, p.b};
  for (int k = 0; k < 3; k++)
    if (std::abs(want[k] - got[k]) > tolerance) {
      char text[128];
      snprintf(text, sizeof text, "(%d,%d): want rgb(%d,%d,%d) got rgb(%d,%d,%d)", x, y, want[0],
               want[1], want[2], got[0], got[1], got[2]);
      return ::testing::AssertionFailure() << text;
    }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult pixeltest_check(const std::vector<pixeltest_sample> &samples,
                                           int tolerance) {
  std::string bad;
  for (const pixeltest_sample &s : samples) {
    ::testing::AssertionResult r = pixeltest_colour_at(s.x, s.y, s.colour, tolerance);
    if (!r) bad += std::string(bad.empty() ? "" : "; ") + r.message();
  }
  if (bad.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << bad;
}

void PixelTest::SetUpTestSuite() {
  std::string why;
  if (!pixeltest_open(kWidth, kHeight, &why)) ADD_FAILURE() << "no pixel-test window: " << why;
}

void PixelTest::TearDownTestSuite() { pixeltest_close(); }

void PixelTest::SetUp() {
  ASSERT_TRUE(pixeltest_is_open()) << "no pixel-test window";
  pixeltest_clear(0xff000000u);
}
