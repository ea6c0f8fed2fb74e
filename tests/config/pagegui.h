// Shared support of the settings pages' checks in the running terminal,
// under Xvfb against the market simulator: the suite's start (gui, atlas,
// client, configuration on a temporary data root, the simulator with one
// user) and end, a scripted user whose steps wait for a condition under a
// deadline on every pass of the frame loop and then act, and xdotool clicks
// on widgets wherever their window is.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "config/config.h"
#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "localdata.h"
#include "plat.h"
#include "script.h"
#include "sim.h"
#include "site.h"
#include "ssclient.h"
#include "ssio.h"
#include "testmodel.h"
#include "testsim.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"

struct PageGuiWorld {
  std::string root;
  sim_server *sim = nullptr;
  int port = 0;
};
inline PageGuiWorld g_world;

// Call through ASSERT_NO_FATAL_FAILURE from SetUpTestSuite.
inline void page_gui_start(const char *user, const char *password) {
  ASSERT_TRUE(guitest_start_gui("Ambit"));
  ASSERT_EQ(tex_init(), 0);
  ASSERT_EQ(tex_load_builtin(), 0);
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
  panel_set_textures(39, 40, 41, 42);  // the atlas's panel images, as the styles set them
  ssio_set_default_host("");           // no name lookups
  ASSERT_EQ(0, ssclient_init(0, kTerminalModelOptions, kTerminalExchangeFlags));
  ssclient_enable_locking();
  char tmpl[] = "/tmp/ambit-pagegui-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  g_world.root = tmpl;
  ASSERT_EQ(0, localdata_set_root((g_world.root + "/data").c_str()));
  ASSERT_EQ(0, config_init());
  ASSERT_EQ(0, site_init());
  ASSERT_NO_FATAL_FAILURE(make_test_sim(&g_world.sim, 50));
  sim_user u;
  u.name = user;
  u.password = password;
  u.id = 2;
  ASSERT_EQ(0, sim_add_user(g_world.sim, u));
  g_world.port = sim_start(g_world.sim, 0);
  ASSERT_GT(g_world.port, 0);
}

inline void page_gui_stop() {
  sim_destroy(g_world.sim);
  site_fini();
  config_shutdown();
  ssclient_fini();
  panel_set_textures(-1, -1, -1, -1);
  gui_shutdown();
  gmap_fini();
  tex_fini();
  std::error_code ec;
  std::filesystem::remove_all(g_world.root, ec);
}

using Step = app_step;
inline app_script g_script;

// The frame loop's timer: the current step acts once it is ready; a step
// that is not ready within 20 s ends the loop with the failure.
inline int script_tick(void *, uint32_t id, int64_t now, float dt) { return app_script::tick(&g_script, id, now, dt); }

inline uint64_t x_window_of(widget *w) {
  return gui_plat_x11_window(&gui_window_record(gui_window_index(w))->plat);
}

inline void xclick(widget *w) {
  char args[160];
  snprintf(args, sizeof args, "mousemove --window %llu %d %d click 1",
           static_cast<unsigned long long>(x_window_of(w)), w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
  guitest_xdo(args);
}

// The page is shown, the part of it laid out and the window drawn since.
inline bool drawn(widget *page, widget *part) {
  if (!page || !widget_is_shown(page) || part->r.w <= 0) return false;
  const int win = gui_window_index(page);
  return win >= 0 && !gui_window_needs_redraw(win);
}
