// Support of the gui core's tests: `tw`, a container widget whose children
// keep the rects the test gives them, that fills its rect with a colour and
// logs every input operation the gui calls on it ("a:press(10,20,1)"), and
// helpers to give the gui a window without going through the platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lib/gfx.h"  // colour
#include "ui/container.h"

struct tw : container {
  const char *name;
  colour fill;          // 0 draws nothing of its own
  size req;
  widget *kids[64];
  int nkids;
  int drag_answer;      // what drag_begin answers
  int release_answer;   // what drag_release answers
  int focus_on_press;   // press takes the keyboard focus
  int draws;            // how many times draw ran
};

typeid_t tw_type();
// A test widget at `r` inside `parent` (null: a root).
tw *tw_new(widget *parent, const char *name, rect r, colour fill = 0);

// The shared log (cleared by the caller); draw calls are logged only while
// tw_log_draws(true).
std::vector<std::string> &tw_log();
void tw_log_draws(bool on);

// The runtime (quiet), the private X server and the gui, for a test suite's
// set-up. SDL's display is held open past gui_shutdown: closing it unloads
// Mesa's driver, whose process-long allocations the leak checker would then
// report without names.
::testing::AssertionResult guitest_start_gui(const char *app_name);

// A window manager (openbox) on the private X server, started once per
// process and stopped at exit; returns once the manager has announced itself
// on the root window (_NET_SUPPORTING_WM_CHECK), within 15 s. On a display
// that came from outside it only checks that a manager is already running.
::testing::AssertionResult guitest_start_window_manager();

// Geometry of an X window as the server holds it: the client area in root
// coordinates, the decorations the manager added around it (left, right,
// top, bottom in a rect's x, w, y, h) and the root's work area.
bool guitest_window_root_rect(uint64_t xwindow, rect *out);
bool guitest_frame_extents(uint64_t xwindow, rect *ltrb);
bool guitest_work_area(rect *out);
// Whether the window is mapped and all its ancestors are (shown on screen).
bool guitest_window_viewable(uint64_t xwindow);
// Asks the window manager, as a task bar would, to add (or remove) one or
// two _NET_WM_STATE states ("_NET_WM_STATE_MAXIMIZED_VERT"...) of a window;
// whether the request was sent.
bool guitest_wm_state(uint64_t xwindow, bool add, const char *first, const char *second = nullptr);

// Input through xdotool and pixels read from the X server, for tests of
// gui windows driven from outside.
//
// Pumps the platform's events (and a pending drag motion) until done()
// holds or ms pass; whether it held. No blind sleeps: a 1 ms polling pace.
bool guitest_wait_for(const std::function<bool()> &done, int ms = 5000);
// Runs a shell command while the gui keeps answering the X server (so that
// a command reading our clipboard gets its answer); its standard output.
std::string guitest_run_pumping(const std::string &cmd, int ms = 8000);
// Runs "xdotool <args>"; a failure of the test when it fails.
void guitest_xdo(const std::string &args);
// The pixels of a window's rect as the X server shows them, row by row, as
// colours (red in the low byte, alpha 255); empty when the server refuses
// (the window not viewable, the rect outside it).
std::vector<uint32_t> guitest_window_pixels(uint64_t xwindow, const rect &r);
uint32_t guitest_window_pixel(uint64_t xwindow, int x, int y);
// Writes pixels as guitest_window_pixels gives them (w x h) to a PNG file;
// false when the file can't be written.
bool guitest_save_png(const std::string &path, const std::vector<uint32_t> &pixels, int w, int h);
// Red, green and blue each within tol.
bool guitest_near(uint32_t a, uint32_t b, int tol = 3);

// A gui window opened on a widget tree for input from xdotool.
struct guitest_window {
  int win = -1;
  uint64_t xw = 0;  // the X window
  // Opens the window at `frame`, draws what is queued and gives it the
  // keyboard.
  ::testing::AssertionResult open(widget *root, rect frame);
  // Draws until nothing is queued (at most 20 passes).
  void settle();
  // xdotool's " --window W x y" for a point of the window.
  std::string at(int x, int y) const;
  // Closes every gui window and clears the quit flag for the next test.
  static void close_all();
};
