// The keyboard end to end, under Xvfb against the simulator's demo scenario
// with its live market (the same code as `ambit-sim --scenario demo
// --live`), in the real frame loop after a real sign-on: xdotool presses
// Enter, types a demo stock's code and presses Enter, and the focused window
// shows that stock in depth; F2 switches to the second desktop; two
// Super+Z take both steps back.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "guitest.h"
#include "keyboard.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "localdata.h"
#include "plat.h"
#include "screen/desktop.h"
#include "screen/screen.h"
#include "sim.h"
#include "sim_live.h"
#include "sim_scenario.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "ssmodel.h"
#include "sstime.h"
#include "startup/start.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "undo.h"
#include "windows/window.h"

namespace {

constexpr int64_t kStepMs = 20000;

struct Step {
  const char *what;
  std::function<bool()> ready;
  std::function<void()> act;
};

struct Script {
  std::vector<Step> steps;
  size_t at = 0;
  int64_t deadline = 0;
  std::string failed;
} P;

// Each step waits for its condition (on every pass of the frame loop, under
// a deadline) and then acts; the last one quits the loop.
int script_tick(void *, uint32_t, int64_t, float) {
  if (!P.failed.empty() || P.at >= P.steps.size()) return 1;
  Step &s = P.steps[P.at];
  if (!P.deadline) P.deadline = plat_ms() + kStepMs;
  if (s.ready()) {
    if (s.act) s.act();
    P.at++;
    P.deadline = 0;
  } else if (plat_ms() > P.deadline) {
    P.failed = std::string("timed out waiting: ") + s.what;
    gui_set_quitting();
  }
  return 1;
}

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

window *focused() {
  return screen_is_up() && screen_is_open(0) ? desktop_get_focus(screen_current_desktop()) : nullptr;
}

TEST(KeyboardEndToEnd, TypedCodeDesktopKeyAndTwoUndos) {
  ASSERT_TRUE(guitest_start_window_manager());
  ASSERT_TRUE(guitest_start_gui("Ambit"));
  ASSERT_EQ(tex_init(), 0);
  ASSERT_EQ(tex_load_builtin(), 0);
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
  panel_set_textures(39, 40, 41, 42);
  ssio_set_default_host("");
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_locking();
  char tmpl[] = "/tmp/ambit-keys-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string root = tmpl;
  ASSERT_EQ(0, localdata_set_root((root + "/data").c_str()));
  ASSERT_EQ(0, config_init());
  ASSERT_EQ(0, site_init());
  ASSERT_EQ(0, undo_init());
  ASSERT_EQ(0, keyboard_init());

  // The demo scenario with a live market of four stocks on ASX.
  sim_options o;
  o.name = "ambit-sim";
  sim_server *sim = sim_create(o);
  sim_user u;
  u.name = "alice";
  u.password = "secret";
  ASSERT_EQ(0, sim_add_user(sim, u));
  ASSERT_EQ(0, sim_build_scenario(sim, "demo", sstime_now(), 50));
  sim_live_options lo;
  lo.brokers = sim_scenario_has_brokers(0);
  lo.rate = 20;
  lo.stocks = 4;
  sim_live *live = sim_live_start(sim, lo);
  ASSERT_NE(live, nullptr);
  const int port = sim_start(sim, 0);
  ASSERT_GT(port, 0);
  const std::string code = sim_market_code(1);  // the live market's first stock

  window *w = nullptr;
  instr *before = nullptr;
  int steps_held = 0;
  uint32_t role_before = 0;
  const auto xdo = [](const std::string &keys) {
    guitest_xdo("windowfocus --sync " + std::to_string(xwin(0)));
    guitest_xdo(keys);
  };
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
         guitest_xdo("mousemove --window " + std::to_string(xwin(0)) + " " + std::to_string(r.x + r.w / 2) +
                     " " + std::to_string(r.y + r.h / 2));
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
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "alice", "secret", "127.0.0.1", port));
  gui_main_loop();
  timer_stop(t);
  start_cleanup();
  const bool undone = !undo_can_undo();

  keyboard_fini();
  undo_fini();
  sim_live_stop(live);
  sim_destroy(sim);
  site_fini();
  config_shutdown();
  ssclient_fini();
  panel_set_textures(-1, -1, -1, -1);
  gui_shutdown();
  gmap_fini();
  tex_fini();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);

  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_EQ(P.at, P.steps.size());
  EXPECT_TRUE(undone) << "both steps taken back";
  EXPECT_GT(steps_held, 0);
  EXPECT_FALSE(before && code == before->code) << "the window showed the stock already";
}

}  // namespace
