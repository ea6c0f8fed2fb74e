// A window's frame across a restart, under a real window manager (openbox on
// the private Xvfb): the frame the program stores when it stops
// (gui_window_frame) given back to a new window at the next start must put
// the window's content where it was, not lower by the manager's title bar.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "guitest.h"
#include "testlog.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"

namespace {

bool pump_until(const std::function<bool()> &done, int ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    gui_plat_pump_events();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

TEST(FrameRestart, StoredFrameReopensInPlace) {
  ASSERT_TRUE(guitest_start_window_manager());
  ASSERT_TRUE(guitest_start_gui("Ambit"));
  rect frame = {140, 160, 420, 300};
  for (int run = 0; run < 3; run++) {
    widget *root = tw_new(nullptr, "root", rect{0, 0, frame.w, frame.h}, 0xff303030u);
    const int win = gui_window_open(root, &frame, 0);
    ASSERT_GE(win, 0);
    const uint64_t xw = gui_plat_x11_window(&G.wins[win].plat);
    rect got = {};
    // The manager has placed and decorated the window once its content
    // stands where the frame says (or the wait runs out: the check below
    // shows where it stood).
    pump_until([&] {
      rect ext;
      return guitest_window_viewable(xw) && guitest_frame_extents(xw, &ext) && ext.y > 0 &&
             guitest_window_root_rect(xw, &got) && got.x == frame.x && got.y == frame.y;
    });
    ASSERT_TRUE(guitest_window_root_rect(xw, &got));
    EXPECT_EQ(got.x, frame.x) << "run " << run;
    EXPECT_EQ(got.y, frame.y) << "run " << run << ": the content moved by the decorations";
    EXPECT_EQ(got.w, frame.w);
    EXPECT_EQ(got.h, frame.h);
    // What the program stores at its stop, given to the next start.
    pump_until([&] {
      rect f;
      gui_window_frame(win, &f);
      return f.x == got.x && f.y == got.y;
    });
    gui_window_frame(win, &frame);
    gui_window_close(win);
    widget_delete(root);
    gui_plat_pump_events();
  }
  gui_shutdown();
}

}  // namespace
