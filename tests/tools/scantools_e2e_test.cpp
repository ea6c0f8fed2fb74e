// The scan panel end to end, under Xvfb against the simulator's demo
// scenario with its live market, in the real frame loop after a real
// sign-on: the first desktop is split into three watchlist windows, each
// showing a list of its own; xdotool Control-clicks the top window to show
// its panel, opens the "Order" section, Shift-clicks "Volume", and every
// window's title ends in "BY VOLUME"; one Super+Z restores all three.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "guitest.h"
#include "keyboard.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/scan.h"
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
#include "tools/scantools.h"
#include "ui/flyaway.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "undo.h"
#include "windows/titlebar.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

constexpr int64_t kStepMs = 20000;

struct Step {
  const char *what;
  std::function<bool()> ready;
  std::function<void()> act;
};

std::string g_diag;  // what the step waiting now last saw

struct Script {
  std::vector<Step> steps;
  size_t at = 0;
  int64_t deadline = 0;
  std::string failed;
} P;

// Each step waits for its condition (on every pass of the frame loop, under
// a deadline) and then acts.
int script_tick(void *, uint32_t, int64_t, float) {
  if (!P.failed.empty() || P.at >= P.steps.size()) return 1;
  Step &s = P.steps[P.at];
  if (!P.deadline) P.deadline = plat_ms() + kStepMs;
  if (s.ready()) {
    if (s.act) s.act();
    P.at++;
    P.deadline = 0;
  } else if (plat_ms() > P.deadline) {
    P.failed = std::string("timed out waiting: ") + s.what + " (" + g_diag + ")";
    gui_set_quitting();
  }
  return 1;
}

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

window *focused() {
  return screen_is_up() && screen_is_open(0) ? desktop_get_focus(screen_current_desktop()) : nullptr;
}

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ScanPanelEndToEnd, ShiftClickVolumeResortsEveryWatchlistWindowAndOneUndoRestores) {
  ASSERT_TRUE(guitest_start_window_manager());
  ASSERT_TRUE(guitest_start_gui("Ambit"));
  ASSERT_EQ(tex_init(), 0);
  ASSERT_EQ(tex_load_builtin(), 0);
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
  panel_set_textures(39, 40, 41, 42);
  ssio_set_default_host("");
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_locking();
  char tmpl[] = "/tmp/ambit-scanpanel-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string root = tmpl;
  ASSERT_EQ(0, localdata_set_root((root + "/data").c_str()));
  ASSERT_EQ(0, config_init());
  ASSERT_EQ(0, site_init());
  ASSERT_EQ(0, undo_init());
  ASSERT_EQ(0, keyboard_init());

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

  std::vector<window *> ws;
  std::vector<scan *> lists;
  scantools *panel = nullptr;
  button *volume = nullptr;
  const auto xdo = [](const std::string &keys) {
    guitest_xdo("windowfocus --sync " + std::to_string(xwin(0)));
    guitest_xdo(keys);
  };
  const auto move_to = [](int32_t x, int32_t y) {
    guitest_xdo("mousemove --window " + std::to_string(xwin(0)) + " " + std::to_string(x) + " " + std::to_string(y));
  };
  const auto all_sorted = [&](uint32_t order) {
    for (scan *s : lists)
      if (s->order != order) return false;
    return true;
  };
  P.steps = {
      {"online with the first screen up and a focused window",
       [&] {
         return ssclient_is_online() && screens_up() && !screen_relayout_pending() && focused() &&
                !screen_configbox_shown();
       },
       [&] {
         // Three watchlist windows one above the other, each on a list of
         // its own whose summary is its order alone. The scans start here,
         // with the frame loop's timers running (the program's module order
         // does not start them yet).
         ASSERT_EQ(scan_init(), 0);
         desktop *d = screen_current_desktop();
         window **got = desktop_split(d, focused(), 3, 1);
         ASSERT_NE(got, nullptr);
         for (int i = 0; i < 3; i++) {
           ws.push_back(got[i]);
           scan *s = scan_create(("List " + std::to_string(i + 1)).c_str(), 0);
           scan_change_instr_filter(s, kScanDerivatives | kScanIndices, 1);
           scan_set_all_exchanges(s);
           scan_set_order(s, 1);
           lists.push_back(s);
           window_set_role(ws[i], kRoleWatchlist);
           watchlist_set_scan(static_cast<watchlist *>(ws[i]->child[kWinWatchlist]), s);
         }
         desktop_relayout(d);
       }},
      {"three watchlist windows laid out",
       [&] {
         for (window *w : ws)
           if (w->r.h < 100 || !widget_is_shown(w)) return false;
         return !screen_relayout_pending();
       },
       [&] {
         const rect r = ws[0]->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("keydown ctrl click 1 keyup ctrl");
       }},
      {"the top window's scan panel shown",
       [&] {
         panel = static_cast<scantools *>(window_get_tools(ws[0], kRoleWatchlist));
         char b[200];
         snprintf(b, sizeof b, "show_tools %u shown %d panel %d,%d,%d,%d window %d,%d,%d,%d order %d", ws[0]->show_tools,
                  panel && widget_is_shown(panel), panel ? panel->r.x : -1, panel ? panel->r.y : -1,
                  panel ? panel->r.w : -1, panel ? panel->r.h : -1, ws[0]->r.x, ws[0]->r.y, ws[0]->r.w, ws[0]->r.h,
                  panel ? panel->section[SCANTOOLS_ORDER]->r.w : -1);
         g_diag = b;
         if (panel) {
           snprintf(b, sizeof b, " fbox %d,%d,%d,%d sizer %d,%d,%d,%d", panel->box->r.x, panel->box->r.y, panel->box->r.w,
                    panel->box->r.h, panel->child->r.x, panel->child->r.y, panel->child->r.w, panel->child->r.h);
           g_diag += b;
           for (int k = 0; k < kScantoolsSections; k++) {
             fbox_entry *e = fbox_entry_of(panel->box, panel->section[k]);
             snprintf(b, sizeof b, " [%d: w%d st%d sh%d]", k, panel->section[k]->r.w, e ? e->state : -1,
                      widget_is_shown(panel->section[k]) ? 1 : 0);
             g_diag += b;
           }
         }
         return ws[0]->show_tools && panel && widget_is_shown(panel) && panel->r.h > 0 &&
                panel->section[SCANTOOLS_ORDER]->r.w > 0;
       },
       nullptr},
      {"the panel's sections settled",
       [&] {
         for (flyaway *f : panel->section)
           if (flyaway_animating(f)) return false;
         return true;
       },
       [&] {
         // Sections start closed and the box reopens what fits: the Order
         // section is opened by a click on its title strip when it is shut.
         flyaway *f = panel->section[SCANTOOLS_ORDER];
         if (flyaway_is_open(f)) return;
         move_to(f->r.x + 4, f->r.y + f->r.h / 2);
         xdo("click 1");
       }},
      {"the Order section open with Volume on screen",
       [&] {
         flyaway *f = panel->section[SCANTOOLS_ORDER];
         volume = scantools_button(panel, 27);
         char b[160];
         snprintf(b, sizeof b, "open %d animating %d section w %d volume %d,%d,%d,%d", flyaway_is_open(f),
                  flyaway_animating(f), f->r.w, volume->r.x, volume->r.y, volume->r.w, volume->r.h);
         g_diag = b;
         return flyaway_is_open(f) && !flyaway_animating(f) && widget_is_shown(volume) && volume->r.w > 0 &&
                volume->r.h > 0 && volume->r.x >= f->r.x && volume->r.x + volume->r.w <= f->r.x + f->r.w;
       },
       [&] {
         const rect r = volume->r;
         move_to(r.x + r.w / 2, r.y + r.h / 2);
         xdo("keydown shift click 1 keyup shift");
       }},
      {"every list sorted by volume, every title ending in BY VOLUME",
       [&] {
         char b[200];
         flyaway *f = panel->section[SCANTOOLS_ORDER];
         snprintf(b, sizeof b, "orders %u %u %u volume %d,%d,%d,%d order section %d,%d,%d,%d", lists[0]->order,
                  lists[1]->order, lists[2]->order, volume->r.x, volume->r.y, volume->r.w, volume->r.h, f->r.x, f->r.y,
                  f->r.w, f->r.h);
         g_diag = b;
         for (window *w : ws) g_diag += std::string(" [") + window_get_titlebar(w)->caption + "]";
         if (!all_sorted(5)) return false;
         for (window *w : ws)
           if (!ends_with(window_get_titlebar(w)->caption, "BY VOLUME")) return false;
         return true;
       },
       [&] { xdo("key super+z"); }},
      {"one undo restores all three", [&] { return all_sorted(1); }, [] { gui_quit(); }},
  };
  const int32_t t = timer_start(20, script_tick, nullptr, 0);
  ASSERT_GE(t, 0);
  ASSERT_EQ(0, start_main("", "alice", "secret", "127.0.0.1", port));
  gui_main_loop();
  timer_stop(t);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  for (window *w : ws) {
    const char *cap = window_get_titlebar(w)->caption;
    EXPECT_FALSE(ends_with(cap, "BY VOLUME")) << "titles follow the undo: " << cap;
  }
  for (window *w : ws) watchlist_set_list(static_cast<watchlist *>(w->child[kWinWatchlist]), nullptr);
  start_cleanup();
  scan_fini();

  keyboard_fini();
  undo_fini();
  sim_live_stop(live);
  sim_destroy(sim);
  site_fini();
  config_shutdown();
  ssclient_fini();
  panel_set_textures(-1, -1, -1, -1);
}

}  // namespace
