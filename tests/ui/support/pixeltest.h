// Pixel tests of the toolkit: a real X server, an SDL2 window with a legacy
// (compatibility) OpenGL context on Mesa's software rasteriser, an
// orthographic pixel projection with the origin at the top left (as the
// toolkit's window draw sets it), and colour read-back at sample points.
//
// With DISPLAY unset, the first call that needs X starts one private Xvfb for
// the whole test process (found through -displayfd, DISPLAY set for the
// process and its children such as xdotool, killed at exit). SDL and X
// headers stay inside this module and the platform layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Makes sure an X server is reachable, starting the private Xvfb when DISPLAY
// is unset. False with the reason in *why when none can be had. Idempotent.
bool pixeltest_ensure_display(std::string *why = nullptr);
// The private server's display (":N"), or "" when DISPLAY came from outside.
std::string pixeltest_private_display();

// Opens the test window of w x h pixels with its GL context current, the
// viewport and glOrtho(0, w, h, 0, 0, 1) set, blending on, and the back
// buffer cleared to black. One window at a time; opening again while open
// closes the old one first. False with the reason in *why on failure.
bool pixeltest_open(int w, int h, std::string *why = nullptr);
void pixeltest_close();
bool pixeltest_is_open();
// Clears the back buffer to a colour (u32, red in the low byte).
void pixeltest_clear(uint32_t colour);
// Presents the back buffer (the next frame starts undefined: read first).
void pixeltest_swap();
// Pumps the window's pending events (so X state such as a mapped window
// settles); returns the number of events taken.
int pixeltest_pump();
// Pumps events until cond() holds or timeout_ms pass (waiting for events in
// between, never sleeping blindly); whether cond() held. For input sent by
// xdotool and similar tools.
bool pixeltest_wait_for(const std::function<bool()> &cond, int timeout_ms = 5000);
// The pointer's position in the test window as SDL last saw it.
void pixeltest_pointer(int *x, int *y);
// The X window id of the test window (for xdotool), 0 when none is open.
unsigned long pixeltest_x11_window();

struct pixeltest_rgba {
  uint8_t r, g, b, a;
};
// The pixel at window coordinates (x, y), origin top left, read from the back
// buffer after glFinish. Alpha is whatever the framebuffer holds (255 when it
// has no alpha channel).
pixeltest_rgba pixeltest_pixel(int x, int y);

// One sample point and the colour expected there (u32, red in the low byte;
// alpha is not compared).
struct pixeltest_sample {
  int x, y;
  uint32_t colour;
};
// Passes when the pixel's red, green and blue each lie within `tolerance` of
// the expected colour; the failure names the point, the wanted and the seen.
::testing::AssertionResult pixeltest_colour_at(int x, int y, uint32_t colour, int tolerance = 2);
// Every sample of the list, one failure text naming each point that differs.
::testing::AssertionResult pixeltest_check(const std::vector<pixeltest_sample> &samples,
                                           int tolerance = 2);

// A fixture whose test suite shares one window of kWidth x kHeight; each test
// starts with a black back buffer. Tests derive from it:
//   class MyDraw : public PixelTest {};  TEST_F(MyDraw, ...) { ... }
// A test suite fails (not skips) when no window can be had.
class PixelTest : public ::testing::Test {
 public:
  static constexpr int kWidth = 320;
  static constexpr int kHeight = 240;
  static void SetUpTestSuite();
  static void TearDownTestSuite();

 protected:
  void SetUp() override;
};
