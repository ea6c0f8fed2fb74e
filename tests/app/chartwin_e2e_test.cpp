// Chart windows end to end, under Xvfb against the simulator's demo scenario
// with its live market, in the real frame loop after a real sign-on, driven
// as a user drives them: a typed code shows a stock, the chart key ("c")
// turns the window into a chart of it; a click on "RSI" in its panel adds the indicator; "/v" splits
// the window and the new pane shows the same chart; "z" zooms it, the zoom
// is edited (bars) and "z" again takes the edit back to the window;
// Cmd-C puts the chart's samples on the X clipboard (read with xclip); a
// chart style of the toolbar's Charts list, clicked, becomes the focused
// chart's; a depth window replaying on the same desktop moves the chart's
// cursor to its moment; and the logout writes the chart (its own style with
// the RSI and the bars) into the configuration the simulator keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "appscript.h"
#include "charts/cstyle.h"
#include "decblk.h"
#include "export/clipboard.h"
#include "growbuf.h"
#include "sim.h"
#include "ssmodel.h"
#include "tools/charttools.h"
#include "tools/toolbar.h"
#include "ui/button.h"
#include "ui/flyaway.h"
#include "windows/depthwin.h"
#include "windows/nuchart.h"

namespace {

constexpr int kRsi = 4;
constexpr int kBars = 3;
constexpr int32_t kSaveKind = 1;  // the simulator's transcript kind of a configuration save

nuchart *chart_of(window *w) { return nuchart_cast(window_get_content(w, kRoleChart)); }
charttools *panel_of(window *w) { return static_cast<charttools *>(window_get_tools(w, kRoleChart)); }
bool has_rsi(window *w) { return w && w->role == kRoleChart && nuchart_find_indicator(chart_of(w), 0, nullptr) == kRsi; }
bool style_has_rsi(const cstyle *s) { return s && s->indicators && s->indicators->type == kRsi; }

// Opens a closed section of a panel by a click on its strip (again only
// after a second of loop passes: the click toggles); true when it is open
// and settled.
bool section_open(flyaway *f, int passes) {
  static flyaway *clicked = nullptr;
  static int at = -1000;
  if (flyaway_animating(f)) return false;
  if (flyaway_is_open(f)) return f->r.w > 0;
  if (f->r.w <= 0 || (clicked == f && passes - at < 50)) return false;
  clicked = f;
  at = passes;
  demo_app::move_to(f->r.x + 4, f->r.y + f->r.h / 2);
  demo_app::xdo("click 1");
  return false;
}

bool inside(const widget *b, const widget *f) {
  return b && widget_is_shown(b) && b->r.w > 0 && b->r.h > 0 && b->r.x >= f->r.x && b->r.x + b->r.w <= f->r.x + f->r.w &&
         b->r.y >= f->r.y && b->r.y + b->r.h <= f->r.y + f->r.h;
}

void click_centre(const widget *w) {
  demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
  demo_app::xdo("click 1");
}

// A command's standard output (run on another thread while the frame loop
// serves the clipboard).
std::string run(const std::string &cmd) {
  std::string out;
  FILE *f = popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

std::vector<window *> panes() { return desktop_windows(screen_current_desktop()->child); }

std::string inflate(const std::vector<uint8_t> &block) {
  growbuf gb{};
  if (growbuf_init(&gb, int32_t(block.size()) * 8 + 64, 1024) < 0) return "";
  std::string s;
  if (decblk_inflate(block.data(), int32_t(block.size()), &gb) == int32_t(block.size()))
    s.assign(reinterpret_cast<const char *>(gb.data), size_t(gb.len));
  growbuf_free(&gb);
  return s;
}

// The lines of the saved text's first chart window, from its role line to
// the next window.
std::vector<std::string> chart_window_lines(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  std::string line;
  bool on = false;
  while (std::getline(in, line)) {
    if (line == "screen.desktop.window.role chart") on = true;
    else if (on && (line == "screen.desktop.window" || line.rfind("screen.desktop.current", 0) == 0)) break;
    if (on) out.push_back(line);
  }
  return out;
}

bool holds(const std::vector<std::string> &lines, const std::string &want) {
  for (const std::string &l : lines)
    if (l == want) return true;
  return false;
}

TEST(ChartWindowEndToEnd, KeyPanelSplitZoomCopyToolbarReplayAndLogout) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("chartwin"));
  ASSERT_EQ(clipboard_init(), 0);  // started by the program's main, which the harness stands in for
  app_script P;
  window *w = nullptr, *other = nullptr;
  cstyle *weekly = nullptr;
  std::future<std::string> clip;
  std::string clip_text;
  size_t transcript_mark = 0;
  ss_time replay_at = 0;
  int passes = 0;
  const auto xdo = demo_app::xdo;
  const std::string code = sim_market_code(1);  // the live market's first stock
  P.steps = {
      {"online with the first screen up, a focused window and the stock in the model",
       [&] {
         return demo_app::signed_on_and_settled() && ssmodel_find_stock(ssmodel_exchange(0), code.c_str());
       },
       [&] {
         w = demo_app::focused();
         demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
         xdo("key Return");
         xdo("type --delay 30 " + code);
         xdo("key Return");
       }},
      {"the typed code shows the stock",
       [&] { return w->instrument && code == w->instrument->code && !keyboard_is_active(); },
       [&] { xdo("key c"); }},
      {"the chart key made the window a chart with daily samples",
       [&] {
         nuchart *c = chart_of(w);
         P.diag = "role " + std::to_string(w->role) + " instr " + (w->instrument ? w->instrument->code : "-") +
                  " samples " + std::to_string(c->plot.count);
         return w->role == kRoleChart && w->instrument && c->plot.count > 20 && !screen_relayout_pending();
       },
       [&] {
         window_show_tools(w);
         desktop_relayout(screen_current_desktop());
       }},
      {"the panel's Indicators section open with RSI on screen",
       [&] {
         passes++;
         charttools *p = panel_of(w);
         if (!p || !widget_is_shown(p) || p->r.h <= 0) return false;
         flyaway *f = p->section[CHARTTOOLS_INDICATORS];
         return section_open(f, passes) && inside(charttools_button(p, CHARTTOOLS_INDICATORS, kRsi), f);
       },
       [&] { click_centre(charttools_button(panel_of(w), CHARTTOOLS_INDICATORS, kRsi)); }},
      {"the chart and its own style hold the RSI",
       [&] { return has_rsi(w) && style_has_rsi(window_get_chart(w)) && cstyle_get_id(window_get_chart(w)) == 0; },
       [&] {
         demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
         xdo("type --delay 40 /v");
       }},
      {"the split's new pane shows the same chart on a copy of the style",
       [&] {
         std::vector<window *> ws = panes();
         if (ws.size() != 2 || screen_relayout_pending()) return false;
         other = ws[0] == w ? ws[1] : ws[0];
         P.diag = "role " + std::to_string(other->role);
         return has_rsi(other) && window_get_chart(other) != window_get_chart(w) &&
                other->instrument == w->instrument &&
                chart_of(other)->plot.period == chart_of(w)->plot.period && !keyboard_is_active();
       },
       [&] {
         desktop_set_focus(screen_current_desktop(), w);
         xdo("key z");
       }},
      {"the zoom shows the chart with its RSI",
       [&] {
         window *z = screen_zoom_window_get();
         return z && screen_zoom_source() == w && has_rsi(z);
       },
       [&] {
         // The zoom's chart turned into bars, as its panel's "Bars" does.
         nuchart *zc = chart_of(screen_zoom_window_get());
         nuchart_set_type(zc, kBars);
         cstyle_apply(zc->plot.style, &zc->plot);
         EXPECT_NE(chart_of(w)->plot.type, kBars) << "the zoom edits a copy";
         xdo("key z");
       }},
      {"the unzoom brought the bars back to the window, the RSI kept",
       [&] { return !screen_zoom_source() && chart_of(w)->plot.type == kBars && has_rsi(w); },
       [&] {
         desktop_set_focus(screen_current_desktop(), w);
         demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
         xdo("key super+c");
         clip = std::async(std::launch::async, [] { return run("xclip -o -selection clipboard"); });
       }},
      {"the clipboard holds the chart's samples with the RSI column",
       [&] {
         if (clip.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
         clip_text = clip.get();
         P.diag = "xclip \"" + clip_text.substr(0, 100) + "\" built \"" + std::string(clipboard_text()).substr(0, 100) + "\"";
         if (clip_text.rfind("Date\tOpen\tHigh\tLow\tClose\tVolume\tRSI", 0) != 0) {
           // xclip may have asked before the copy landed: ask again.
           clip = std::async(std::launch::async, [] { return run("xclip -o -selection clipboard"); });
           return false;
         }
         return true;
       },
       [&] {
         size_t rows = 0, tabs = 5;
         std::istringstream in(clip_text);
         std::string line;
         while (std::getline(in, line)) {
           if (rows++ > 0) EXPECT_EQ(size_t(std::count(line.begin(), line.end(), '\t')), tabs + 1) << line;
         }
         EXPECT_GT(rows, 20u);
         // A registered style in the toolbar's Charts list.
         weekly = cstyle_new("Toolbar Weekly", 0);
         ASSERT_NE(weekly, nullptr);
         weekly->period = 6;
         weekly->type = 2;
         screen_toolbars_rebuild_list2();
         toolbar_focus_3(screen_get(0)->toolbars[0]);
         desktop_set_focus(screen_current_desktop(), other);
       }},
      {"the style's entry on screen in the left toolbar",
       [&] {
         widget *tb = screen_get(0)->toolbars[0];
         button *b = toolbar_button(tb, kToolbarCstyleBase + cstyle_get_id(weekly));
         widget *section = toolbar_section(tb, "Charts");
         return b && section && inside(b, tb) && widget_is_shown(b) && !screen_relayout_pending();
       },
       [&] { click_centre(toolbar_button(screen_get(0)->toolbars[0], kToolbarCstyleBase + cstyle_get_id(weekly))); }},
      {"the focused chart took the toolbar's style, the other kept its own",
       [&] {
         return window_get_chart(other) == weekly && chart_of(other)->plot.period == 6 &&
                window_get_chart(w) != weekly && has_rsi(w);
       },
       [&] {
         // The other pane becomes a depth window of the chart's stock,
         // paused at a moment a minute back.
         window_set_role(other, kRoleDepth);
         window_set_instrument(other, w->instrument);
         widget *d = window_get_content(other, kRoleDepth);
         replay_at = sstime_add_seconds(ssmodel_exchange_now(w->instrument->exchange), -60);
         depthwin_set_mark(d, 1);
         depthwin_play_to(d, replay_at, 1);
       }},
      {"the replay moved the chart's cursor to its moment",
       [&] {
         const depthwin_book *b = depthwin_get_book(window_get_content(other, kRoleDepth));
         const ss_time cursor = chart_of(w)->plot.cursor.time;
         P.diag = "position " + std::to_string(b->position) + " cursor " + std::to_string(cursor);
         return b->position && cursor == b->position;
       },
       [&] {
         transcript_mark = sim_transcript(app.sim()).size();
         start_logout();
       }},
      {"the logout saved the configuration",
       [&] {
         std::vector<sim_entry> t = sim_transcript(app.sim());
         for (size_t i = transcript_mark; i < t.size(); i++)
           if (t[i].kind == kSaveKind) return true;
         return false;
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());

  // The saved text holds the chart window with its own style: the bars and
  // the RSI; and the toolbar's style in the chart list.
  std::string text;
  std::vector<sim_entry> t = sim_transcript(app.sim());
  for (size_t i = transcript_mark; i < t.size(); i++)
    if (t[i].kind == kSaveKind) text = inflate(t[i].data);
  const std::vector<std::string> lines = chart_window_lines(text);
  EXPECT_TRUE(holds(lines, "screen.desktop.window.anon_chart")) << text.substr(0, 400);
  EXPECT_TRUE(holds(lines, "screen.desktop.window.anon_chart.type 3"));
  EXPECT_TRUE(holds(lines, "screen.desktop.window.anon_chart.indicator.type 4"));
  EXPECT_NE(text.find("\nchart " + std::to_string(weekly ? cstyle_get_id(weekly) : -1) + " \"Toolbar Weekly\"\n"),
            std::string::npos);
  start_cleanup();
  clipboard_shutdown();
  app.stop();
}

}  // namespace
