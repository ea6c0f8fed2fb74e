// The screen tour, under Xvfb against the simulator's demo scenario with its
// live market, after a real sign-on: every window role in turn is given to
// the windows of the first desktop with the live stock, with its tool panel
// shown, then the help window and the configuration dialog are opened. On
// the way every text laid out or drawn is held against its font's glyphs
// (small digits only in a formatter's values, never letters in their place),
// every GL call goes through the recorder (forwarded to Mesa) to catch calls
// GL refuses where they are made, and every frame is checked for GL errors.
// With AMBIT_TOUR_DIR set each stop is also saved there as a PNG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "appscript.h"
#include "glyphcheck.h"
#include "lib/glrecord.h"
#include "action.h"
#include "screen/minibar.h"
#include "ssmodel.h"

namespace {

struct stop {
  const char *name;
  std::vector<uint32_t> roles;  // given to the desktop's windows in turn
  bool tools;                   // with the tool panels shown
  bool presets = false;         // the market lists (rises, falls, volume, value) instead
};

const std::vector<stop> kStops = {
    {"grids", {kRoleWatchlist, kRoleDepth, kRoleTradelist, kRoleAlerts}, false},
    {"market-lists", {kRoleWatchlist}, false, true},
    {"news", {kRoleNewstoday, kRoleHistnews, kRoleRss, kRoleDocument}, false},
    {"charts", {kRoleTradechart, kRoleChart, kRoleIndexchart, kRoleIndexlist}, false},
    {"lists", {kRoleSearch, kRoleForexlist, kRoleOptionlist, kRoleLog}, false},
    {"grids-tools", {kRoleWatchlist, kRoleDepth, kRoleTradelist, kRoleAlerts}, true},
    {"news-tools", {kRoleNewstoday, kRoleHistnews, kRoleRss, kRoleChart}, true},
};

// Frames the program draws at a stop before it is looked at: enough for the
// live market to change what the windows show.
constexpr int64_t kFramesAtStop = 40;

std::string shots_dir() {
  const char *d = getenv("AMBIT_TOUR_DIR");
  return d && *d ? d : "";
}

void save_shot(const char *name) {
  const std::string dir = shots_dir();
  if (dir.empty()) return;
  rect r;
  if (!guitest_window_root_rect(demo_app::xwin(0), &r)) return;
  std::vector<uint32_t> px = guitest_window_pixels(demo_app::xwin(0), rect{0, 0, r.w, r.h});
  guitest_save_png(dir + "/" + name + ".png", px, r.w, r.h);
}

TEST(TourEndToEnd, EveryRoleReadableWithoutGlErrors) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("tour"));
  app_script P;
  const std::string code = sim_market_code(1);
  glyph_watch glyphs;
  std::vector<std::string> misuse;
  int64_t errors_before = 0, frame_mark = 0;
  size_t stop_at = 0;
  std::set<std::string> mini_labels;
  uint32_t mini_empty = 0, mini_bar = 0;
  ss_stock *stock = nullptr;

  auto frames_since_mark = [&] { return gui_frame_count() - frame_mark; };
  // The recorder keeps every call as text: drop them at every look, keep
  // the refused ones.
  auto collect_misuse = [&] {
    for (const std::string &m : glrecord_misuse())
      if (misuse.size() < 20) misuse.push_back(m);
    glrecord_clear_misuse();
    glrecord_clear();
  };
  auto give_roles = [&](const stop &s) {
    std::vector<window *> ws = desktop_windows(screen_current_desktop());
    for (size_t i = 0; i < ws.size(); i++) {
      // The stock first: a list role given a stock would move to depth.
      window_set_instrument(ws[i], stock);
      window_set_role(ws[i], s.roles[i % s.roles.size()]);
      if (s.presets) action_open_preset(ws[i], 10 + int32_t(i % 4));
      if (s.tools)
        window_show_tools(ws[i]);
      else
        window_hide_tools(ws[i]);
    }
    frame_mark = gui_frame_count();
  };
  std::function<void()> next_stop;
  P.steps.push_back({"online with the first screen up and the live stock traded",
                     [&] {
                       stock = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
                       return demo_app::signed_on_and_settled() && stock && stock->trades.head;
                     },
                     [&] {
                       // Four windows at once, each a quarter of the desktop.
                       desktop *d = screen_current_desktop();
                       ASSERT_NE(desktop_split(d, desktop_get_focus(d), 2, 2), nullptr);
                       glyphs.install();
                       glrecord_start(true);
                       errors_before = gui_frame_gl_errors();
                       give_roles(kStops[0]);
                     }});
  for (size_t k = 0; k < kStops.size(); k++) {
    P.steps.push_back({kStops[k].name,
                       [&, k] {
                         collect_misuse();
                         return frames_since_mark() >= kFramesAtStop && !screen_relayout_pending();
                       },
                       [&, k] {
                         save_shot(kStops[k].name);
                         // The current miniature names the windows' roles
                         // as they are now, with no desktop switch.
                         if (!strcmp(kStops[k].name, "lists")) {
                           mini_desktop *md = minibar_desktop(screen_get(0)->minibar, 0);
                           for (int i = 0; md && i < md->count; i++) mini_labels.insert(md->cells[i].label);
                           // A miniature of an empty desktop shows its frame.
                           mini_empty = guitest_window_pixel(demo_app::xwin(0), minibar_desktop(screen_get(0)->minibar, 4)->r.x + 1,
                                                             minibar_desktop(screen_get(0)->minibar, 4)->r.y + 1);
                           mini_bar = guitest_window_pixel(demo_app::xwin(0), minibar_desktop(screen_get(0)->minibar, 4)->r.x - 1,
                                                           minibar_desktop(screen_get(0)->minibar, 4)->r.y + 1);
                         }
                         stop_at = k + 1;
                         if (k + 1 < kStops.size()) {
                           give_roles(kStops[k + 1]);
                         } else {
                           screen_show_help(0);
                           frame_mark = gui_frame_count();
                         }
                       }});
  }
  // The windows behind the dialog: every sample point of the desktop and
  // the toolbars as the program left them after the dialog closed, and as a
  // full redraw of the window paints them.
  std::vector<uint32_t> after_close;
  rect sampled{};
  int64_t quiet_since = 0;
  auto sample = [&] {
    std::vector<uint32_t> px = guitest_window_pixels(demo_app::xwin(0), sampled);
    std::vector<uint32_t> points;
    for (int32_t y = 0; y < sampled.h; y += 7)
      for (int32_t x = 0; x < sampled.w; x += 7)
        if (!px.empty()) points.push_back(px[size_t(y) * size_t(sampled.w) + size_t(x)]);
    return points;
  };
  P.steps.push_back({"the help window",
                     [&] {
                       collect_misuse();
                       return frames_since_mark() >= kFramesAtStop;
                     },
                     [&] {
                       save_shot("help");
                       screen_hide_help();
                       // The market stops so that what the windows show
                       // holds still while they are compared.
                       app.stop_live();
                       frame_mark = gui_frame_count();
                     }});
  P.steps.push_back({"the screens still: no fade running",
                     [&] {
                       collect_misuse();
                       if (fade_timer_running()) quiet_since = gui_frame_count();
                       return frames_since_mark() >= kFramesAtStop && gui_frame_count() - quiet_since >= 10;
                     },
                     [&] {
                       screen_show_configbox();
                       glyphs.check_overlaps = false;  // the dialog stands over the windows
                       frame_mark = gui_frame_count();
                     }});
  P.steps.push_back({"the configuration dialog",
                     [&] {
                       collect_misuse();
                       return screen_configbox_shown() && frames_since_mark() >= kFramesAtStop;
                     },
                     [&] {
                       save_shot("config");
                       screen_hide_configbox();
                       frame_mark = gui_frame_count();
                     }});
  P.steps.push_back({"the dialog gone",
                     [&] {
                       collect_misuse();
                       return !screen_configbox_shown() && frames_since_mark() >= kFramesAtStop / 2 &&
                              !fade_timer_running();
                     },
                     [&] {
                       save_shot("after-config");
                       desktop *d = screen_current_desktop();
                       sampled = rect{0, d->r.y, screen_get(0)->r.w, d->r.h};
                       after_close = sample();
                       gui_invalidate_window(-1);
                       frame_mark = gui_frame_count();
                     }});
  std::vector<uint32_t> redrawn;
  P.steps.push_back({"a full redraw",
                     [&] {
                       collect_misuse();
                       return frames_since_mark() >= 10;
                     },
                     [&] {
                       save_shot("full-redraw");
                       redrawn = sample();
                       gui_quit();
                     }});
  app.run(&P);
  collect_misuse();
  glrecord_stop();
  glyph_watch::remove();
  const int64_t errors = gui_frame_gl_errors() - errors_before;
  start_cleanup();
  app.stop();

  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ", stop " << stop_at << ")";
  EXPECT_GT(glyphs.small_texts, 0u) << "no formatter's small digits were laid out: the tour showed no prices";
  EXPECT_GT(glyphs.value_texts, 0u);
  EXPECT_TRUE(glyphs.faults.empty()) << "texts drawn with the wrong glyphs:\n" << glyphs.report();
  EXPECT_TRUE(glyphs.overlaps.empty()) << "texts printed over each other:\n" << glyphs.overlap_report();
  std::string m;
  for (const std::string &s : misuse) m += "  " + s + "\n";
  EXPECT_TRUE(misuse.empty()) << "GL calls refused where they were made:\n" << m;
  EXPECT_EQ(errors, 0) << "frames that ended with a GL error";
  EXPECT_TRUE(mini_labels.count("LOG") && mini_labels.count("FX")) << "the miniature follows the roles";
  EXPECT_FALSE(guitest_near(mini_empty, mini_bar, 4)) << "an empty desktop's miniature stands out from the bar";
  ASSERT_FALSE(after_close.empty());
  ASSERT_EQ(after_close.size(), redrawn.size());
  size_t differ = 0;
  for (size_t i = 0; i < redrawn.size(); i++)
    if (!guitest_near(after_close[i], redrawn[i], 2)) differ++;
  EXPECT_EQ(differ, 0u) << "of " << redrawn.size() << " points behind the dialog, these differ from a full redraw";
}

}  // namespace
