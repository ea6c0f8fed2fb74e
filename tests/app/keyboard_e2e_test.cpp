// The keyboard end to end, under Xvfb against the simulator's demo scenario
// with its live market (the same code as `ambit-sim --scenario demo
// --live`), in the real frame loop after a real sign-on: xdotool presses
// Enter, types a demo stock's code and presses Enter, and the focused window
// shows that stock in depth; F2 switches to the second desktop; two
// Super+Z take both steps back.
#include <gtest/gtest.h>

#include <string>

#include "appscript.h"
#include "ssmodel.h"

namespace {

TEST(KeyboardEndToEnd, TypedCodeDesktopKeyAndTwoUndos) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("keys"));
  app_script P;
  const std::string code = sim_market_code(1);  // the live market's first stock

  window *w = nullptr;
  instr *before = nullptr;
  int steps_held = 0;
  uint32_t role_before = 0;
  const auto xdo = demo_app::xdo;
  const auto focused = demo_app::focused;
  P.steps = {
      {"online with the first screen up, a focused window and the stock in the model",
       [&] {
         w = focused();
         return ssclient_is_online() && screens_up() && !screen_relayout_pending() && w &&
                ssmodel_find_stock(ssmodel_exchange(0), code.c_str()) && !screen_configbox_shown();
       },
       [&] {
         before = w->instrument;
         role_before = w->role;
         const rect r = w->r;
         demo_app::move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("key Return");
         xdo("type --delay 30 " + code);
         xdo("key Return");
       }},
      {"the stock in depth in the focused window",
       [&] {
         return w->instrument && code == w->instrument->code && w->role == kRoleDepth && !keyboard_is_active();
       },
       [&] { xdo("key F2"); }},
      {"the second desktop", [] { return screen_desktop_index() == 1; },
       [&] {
         steps_held = undo_count();
         xdo("key super+z");
       }},
      {"back on the first desktop", [] { return screen_desktop_index() == 0; },
       [&] { xdo("key super+z"); }},
      {"the window as it was",
       [&] { return w->instrument == before && w->role == role_before; },
       [] { gui_quit(); }},
  };
  app.run(&P);
  start_cleanup();
  const bool undone = !undo_can_undo();
  app.stop();

  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_TRUE(undone) << "both steps taken back";
  EXPECT_GT(steps_held, 0);
  EXPECT_FALSE(before && code == before->code) << "the window showed the stock already";
}

}  // namespace
