// End-to-end tests of the program under Xvfb: the program's services
// started as the process entry starts them, the simulator's demo scenario
// with its live market, a real sign-on, and a script of steps that the frame
// loop runs on a 20 ms timer. Each step waits for its condition (on every
// pass of the loop, under a deadline) and then acts, with xdotool or
// directly; the last step quits the loop. Header only: the tests that use it
// link the application (and through the test support, the simulator).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "guitest.h"
#include "keyboard.h"
#include "lib/fade.h"
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
#include "script.h"
#include "sstime.h"
#include "startup/start.h"
#include "style.h"
#include "testmodel.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "undo.h"
#include "windows/window.h"

// The program signed on to the demo scenario as alice: start, run a script
// in the frame loop, stop.
class demo_app {
 public:
  std::string root;  // the data directory's parent (removed by stop)
  int port = 0;
  double news_seconds = 0;  // set before start: the live market's announcements
  bool keep_books = false;  // the live market keeps its books (sim_live_book_before)
  // Set before start: alice signs on as a new user and gets the first-run
  // layout. Otherwise the server keeps a plain configuration for her (one
  // empty window a desktop), the screen the scripts lay out themselves.
  bool first_run_layout = false;
  uint32_t live_stocks = 4;  // set before start: the live market's stocks

  // Call as ASSERT_NO_FATAL_FAILURE(app.start("name")).
  void start(const char *name) {
    ASSERT_TRUE(guitest_start_window_manager());
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(fade_init(), 0);  // before the styles: their colour ramps are fade ranges
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    panel_set_textures(39, 40, 41, 42);
    ssio_set_default_host("");
    ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
    ssclient_enable_locking();
    std::string tmpl = std::string("/tmp/ambit-") + name + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    ASSERT_NE(nullptr, mkdtemp(buf.data()));
    root = buf.data();
    ASSERT_EQ(0, localdata_set_root((root + "/data").c_str()));
    ASSERT_EQ(0, config_init());
    ASSERT_EQ(0, site_init());
    ASSERT_EQ(0, undo_init());
    ASSERT_EQ(0, keyboard_init());
    // The look the program starts with (the process entry selects it).
    ASSERT_EQ(0, style_init());
    ASSERT_EQ(0, style_select(0));
    style_set_size(0);
    // The demo scenario with a live market on ASX (four stocks unless set).
    sim_options o;
    o.name = "ambit-sim";
    sim_ = sim_create(o);
    sim_user u;
    u.name = "alice";
    u.password = "secret";
    ASSERT_EQ(0, sim_add_user(sim_, u));
    if (!first_run_layout) {
      static const char kPlain[] = "version 2\nupgrade 1\nscreen 0\nscreen.visible t\n";
      ASSERT_EQ(0, sim_set_user_config(sim_, "alice", std::vector<uint8_t>(kPlain, kPlain + sizeof kPlain - 1)));
    }
    ASSERT_EQ(0, sim_build_scenario(sim_, "demo", sstime_now(), 50));
    sim_live_options lo;
    lo.brokers = sim_scenario_has_brokers(0);
    lo.rate = 20;
    lo.stocks = live_stocks;
    lo.news_seconds = news_seconds;
    lo.keep_books = keep_books;
    live_ = sim_live_start(sim_, lo);
    ASSERT_NE(live_, nullptr);
    port = sim_start(sim_, 0);
    ASSERT_GT(port, 0);
  }

  // Signs on and runs the frame loop until the script quits it.
  void run(app_script *script) {
    const int32_t t = timer_start(20, app_script::tick, script, 0);
    ASSERT_GE(t, 0);
    ASSERT_EQ(0, start_main("", "alice", "secret", "127.0.0.1", port));
    gui_main_loop();
    timer_stop(t);
  }

  // The program's own stop (start_cleanup), which callers may want to look
  // around before, then the services in reverse.
  void stop() {
    // The fades are not stopped, as the program does not stop them: windows
    // freed while the gui quit may have left running fades naming them.
    style_fini();
    keyboard_fini();
    undo_fini();
    if (live_) sim_live_stop(live_);
    if (sim_) sim_destroy(sim_);
    live_ = nullptr;
    sim_ = nullptr;
    site_fini();
    config_shutdown();
    ssclient_fini();
    panel_set_textures(-1, -1, -1, -1);
    gui_shutdown();
    gmap_fini();
    tex_fini();
    std::error_code ec;
    if (!root.empty()) std::filesystem::remove_all(root, ec);
  }

  // The simulator and its live market (to ask it for a trade; null before
  // start and after stop).
  sim_server *sim() const { return sim_; }
  sim_live *live() const { return live_; }
  // Stops the live market early (the screens then hold still).
  void stop_live() {
    if (live_) sim_live_stop(live_);
    live_ = nullptr;
  }

  // The first screen's X window, and its focused window (null before the
  // screens are up).
  static uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }
  static window *focused() {
    return screen_is_up() && screen_is_open(0) ? desktop_get_focus(screen_current_desktop()) : nullptr;
  }
  // Signed on with the first screen up, laid out and focused on a window,
  // the login box gone: where a script's first step waits.
  static bool signed_on_and_settled() {
    return ssclient_is_online() && screens_up() && !screen_relayout_pending() && focused() &&
           !screen_configbox_shown();
  }
  // xdotool after focusing the first screen's window.
  static void xdo(const std::string &args) {
    guitest_xdo("windowfocus --sync " + std::to_string(xwin(0)));
    guitest_xdo(args);
  }
  static void move_to(int32_t x, int32_t y) {
    guitest_xdo("mousemove --window " + std::to_string(xwin(0)) + " " + std::to_string(x) + " " + std::to_string(y));
  }

 private:
  sim_server *sim_ = nullptr;
  sim_live *live_ = nullptr;
};
