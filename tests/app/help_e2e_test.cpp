// The help window over a live market, under Xvfb against the simulator's
// demo scenario after a real sign-on: four windows of the live stock change
// under the panel while it shows. The key "h" shows the panel without laying
// the screen out again, the changes under it are drawn in partial frames,
// and the panel stays whole in both buffers; with the market stopped, the
// window shown with the panel and again after "h" hides it is what a full
// redraw paints.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appscript.h"
#include "ssmodel.h"

namespace {

// Every 5th pixel of `r` in the first screen's window, leaving out those
// under `skip` (the window bar, drawn over the panel).
std::vector<uint32_t> sample(const rect &r, const rect &skip) {
  std::vector<uint32_t> px = guitest_window_pixels(demo_app::xwin(0), r);
  std::vector<uint32_t> points;
  if (px.empty()) return points;
  for (int32_t y = 0; y < r.h; y += 5)
    for (int32_t x = 0; x < r.w; x += 5) {
      const int32_t ax = r.x + x, ay = r.y + y;
      if (skip.w > 0 && ax >= skip.x && ax < skip.x + skip.w && ay >= skip.y && ay < skip.y + skip.h) continue;
      points.push_back(px[size_t(y) * size_t(r.w) + size_t(x)]);
    }
  return points;
}

size_t differing(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b) {
  if (a.size() != b.size() || a.empty()) return ~size_t(0);
  size_t n = 0;
  for (size_t i = 0; i < a.size(); i++)
    if (!guitest_near(a[i], b[i], 2)) n++;
  return n;
}

TEST(HelpEndToEnd, PanelStaysWholeOverALiveMarketAndLeavesNothingStale) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("help"));
  app_script P;
  const std::string code = sim_market_code(1);
  ss_stock *stock = nullptr;
  int64_t frame_mark = 0, quiet_since = 0;
  gui_loop_stats_rec st0{}, st1{};
  bool relaid_out = true;
  rect help_r{}, winbar_r{}, whole{};
  std::vector<uint32_t> shown_a, shown_b, shown_full, still_help, still_help_full, hidden, hidden_full;
  auto frames_since_mark = [&] { return gui_frame_count() - frame_mark; };
  auto help_shown = [] { return (screen_bars_shown() & BAR_HELP) != 0; };
  auto mark = [&] { frame_mark = gui_frame_count(); };
  // The screens hold still: the market stopped, no fade running.
  auto still = [&](int64_t frames) {
    if (fade_timer_running()) quiet_since = gui_frame_count();
    return frames_since_mark() >= frames && gui_frame_count() - quiet_since >= 10;
  };
  auto full_redraw = [&] {
    gui_invalidate_window(-1);
    mark();
  };

  P.steps.push_back({"online with the live stock traded",
                     [&] {
                       stock = ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
                       return demo_app::signed_on_and_settled() && stock && stock->trades.head;
                     },
                     [&] {
                       desktop *d = screen_current_desktop();
                       ASSERT_NE(desktop_split(d, desktop_get_focus(d), 2, 2), nullptr);
                       const uint32_t roles[] = {kRoleWatchlist, kRoleDepth, kRoleTradelist, kRoleTradelist};
                       std::vector<window *> ws = desktop_windows(d);
                       for (size_t i = 0; i < ws.size(); i++) {
                         window_set_instrument(ws[i], stock);
                         window_set_role(ws[i], roles[i % 4]);
                       }
                       mark();
                     }});
  P.steps.push_back({"the four windows laid out and drawn",
                     [&] { return frames_since_mark() >= 20 && !screen_relayout_pending(); },
                     [&] { demo_app::xdo("key h"); }});
  P.steps.push_back({"the help window shown by its key",
                     [&] { return help_shown(); },
                     [&] {
                       // Placed by itself: no layout of the whole screen is waiting.
                       relaid_out = screen_relayout_pending();
                       screen *s = screen_get(0);
                       help_r = s->helpwin->r;
                       winbar_r = (s->bars & BAR_WINBAR) ? s->winbar->r : rect{};
                       // The desktop's rows across the window: the ticker
                       // and the clock above and below keep moving.
                       const desktop *d = screen_current_desktop();
                       whole = rect{0, d->r.y, s->r.w, d->r.h};
                       gui_loop_stats(&st0);
                       mark();
                     }});
  P.steps.push_back({"the live market changing the windows under the panel",
                     [&] { return frames_since_mark() >= 40; },
                     [&] {
                       gui_loop_stats(&st1);
                       shown_a = sample(help_r, winbar_r);
                       mark();
                     }});
  // The next frame is drawn into the other buffer.
  P.steps.push_back({"one frame more",
                     [&] { return frames_since_mark() >= 1; },
                     [&] {
                       shown_b = sample(help_r, winbar_r);
                       full_redraw();
                     }});
  P.steps.push_back({"a full redraw with the panel",
                     [&] { return frames_since_mark() >= 10; },
                     [&] {
                       shown_full = sample(help_r, winbar_r);
                       app.stop_live();
                       mark();
                     }});
  P.steps.push_back({"the market stopped with the panel shown",
                     [&] { return still(20); },
                     [&] {
                       still_help = sample(whole, rect{});
                       full_redraw();
                     }});
  P.steps.push_back({"a full redraw of the still screen with the panel",
                     [&] { return frames_since_mark() >= 10; },
                     [&] {
                       still_help_full = sample(whole, rect{});
                       demo_app::xdo("key h");
                       mark();
                     }});
  P.steps.push_back({"the help window hidden by its key",
                     [&] { return !help_shown() && still(20); },
                     [&] {
                       hidden = sample(whole, rect{});
                       full_redraw();
                     }});
  P.steps.push_back({"a full redraw without the panel",
                     [&] { return frames_since_mark() >= 10; },
                     [&] {
                       hidden_full = sample(whole, rect{});
                       gui_quit();
                     }});
  app.run(&P);
  start_cleanup();
  app.stop();

  ASSERT_TRUE(P.failed.empty()) << P.failed << " (step " << P.at << ")";
  EXPECT_FALSE(relaid_out) << "showing the help window laid the whole screen out again";
  ASSERT_GT(help_r.w, 0);
  // The market changed the windows in partial frames while the panel showed.
  const int64_t frames = st1.frames - st0.frames, full = st1.full_frames - st0.full_frames;
  EXPECT_GE(frames, 40);
  EXPECT_GT(frames - full, frames / 2) << full << " of " << frames << " frames drawn in full under the panel";
  EXPECT_EQ(differing(shown_a, shown_full), 0u) << "points of the panel changed by the market (one buffer)";
  EXPECT_EQ(differing(shown_b, shown_full), 0u) << "points of the panel changed by the market (the other buffer)";
  EXPECT_EQ(differing(still_help, still_help_full), 0u) << "points of the still screen with the panel differ from a full redraw";
  EXPECT_EQ(differing(hidden, hidden_full), 0u) << "points of the screen after the panel is hidden differ from a full redraw";
  // The panel really went: the screen without it differs where it was.
  EXPECT_GT(differing(still_help_full, hidden_full), 0u);
}

}  // namespace
