// The chart panel end to end, under Xvfb against the simulator's demo
// scenario with its live market, in the real frame loop after a real
// sign-on: the first desktop is split into two chart windows of one stock,
// side by side,
// on one saved chart style, daily over three months. xdotool clicks "RSI" in
// the top window's panel: an RSI pane appears under its candles (its line's
// pixels read back from the X server) and the other chart, on the same
// style, takes the indicator too; Super+Z takes it off both. A click on
// "Bars" in the other window's panel turns the first chart into bars. A drag
// across the first panel's overview chart narrows its chart to the dragged
// span. An SMA put on the chart gets a row in the panel, and the row
// dragged onto the toolbar's "Remove" takes the SMA off the chart.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "appscript.h"
#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/paint.h"
#include "charts/ta.h"
#include "sim.h"
#include "ssmodel.h"
#include "tools/charttools.h"
#include "tools/toolbar.h"
#include "ui/flyaway.h"
#include "windows/nuchart.h"

namespace {

constexpr int kRsi = 4;
constexpr int kBars = 3;
constexpr int kSma = 2;

nuchart *chart_of(window *w) { return nuchart_cast(window_get_content(w, kRoleChart)); }
charttools *panel_of(window *w) { return static_cast<charttools *>(window_get_tools(w, kRoleChart)); }

// The RSI line's points as painted (sample column, line row), away from the
// legend over the pane's top left corner.
std::vector<std::pair<int32_t, int32_t>> rsi_points(nuchart *c) {
  std::vector<std::pair<int32_t, int32_t>> out;
  const chart_plot &p = c->plot;
  const chart_ta *ta = p.indicators;
  if (!ta || ta->type != kRsi || !ta->pixels[0] || !p.xpos || ta->pane_h <= 0) return out;
  for (int32_t i = p.first_visible; i <= p.last_visible; i++) {
    uint32_t y = ta->pixels[0][i];
    if (y == kChartNoPixel || int32_t(y) <= ta->pane_y || int32_t(y) >= ta->pane_y + ta->pane_h - 1) continue;
    if (int32_t(p.xpos[i]) < ta->pane_x + 150) continue;  // the legend's corner
    out.push_back({int32_t(p.xpos[i]), int32_t(y)});
  }
  return out;
}

// How many of the points the X server shows in colour `want`.
int matching(const std::vector<std::pair<int32_t, int32_t>> &pts, uint32_t want) {
  int n = 0;
  for (auto [x, y] : pts)
    if (guitest_near(guitest_window_pixel(demo_app::xwin(0), x, y), want, 24)) n++;
  return n;
}

// Opens a closed section by a click on its strip (again only after a
// second of loop passes: the click toggles); true when it is open and
// settled.
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

// What the panel's sections look like (for a step that times out).
std::string sections(charttools *p) {
  char b[200];
  snprintf(b, sizeof b, "panel %d,%d,%d,%d box %d,%d,%d,%d", p->r.x, p->r.y, p->r.w, p->r.h, p->box->r.x,
           p->box->r.y, p->box->r.w, p->box->r.h);
  std::string out = b;
  for (int k = 0; k < kCharttoolsSections; k++) {
    fbox_entry *e = fbox_entry_of(p->box, p->section[k]);
    snprintf(b, sizeof b, " [%d: x%d w%d st%d open%d]", k, p->section[k]->r.x, p->section[k]->r.w, e ? e->state : -1,
             flyaway_is_open(p->section[k]));
    out += b;
  }
  return out;
}

bool on_screen(button *b, flyaway *f) {
  return b && widget_is_shown(b) && b->r.w > 0 && b->r.h > 0 && b->r.x >= f->r.x && b->r.x + b->r.w <= f->r.x + f->r.w;
}

void click_centre(widget *w) {
  demo_app::move_to(w->r.x + w->r.w / 2, w->r.y + w->r.h / 2);
  demo_app::xdo("click 1");
}

TEST(ChartPanelEndToEnd, RsiPaneSharedStyleUndoAndOverviewDrag) {
  demo_app app;
  ASSERT_NO_FATAL_FAILURE(app.start("chartpanel"));
  app_script P;
  window *wa = nullptr, *wb = nullptr;
  cstyle *shared = nullptr;
  uint32_t rsi_colour = 0;
  std::vector<std::pair<int32_t, int32_t>> points;
  int32_t span_days = 0;
  const auto focused = demo_app::focused;
  const auto both = [&](auto pred) { return pred(chart_of(wa)) && pred(chart_of(wb)); };
  const auto has_rsi = [](nuchart *c) { return nuchart_find_indicator(c, 0, nullptr) == kRsi; };
  const auto samples = [](nuchart *c) { return c->plot.count > 20 && c->plot.eod; };
  int passes = 0;  // loop passes seen, for the diagnostics
  P.steps = {
      {"online with the first screen up and a focused window",
       demo_app::signed_on_and_settled,
       [&] {
         desktop *d = screen_current_desktop();
         // The top and the bottom window, each the desktop's width: a chart
         // panel opens its sections only where they have room.
         window **got = desktop_split(d, focused(), 2, 1);
         ASSERT_NE(got, nullptr);
         wa = got[0];
         wb = got[1];
         ss_stock *s = ssmodel_find_stock(ssmodel_exchange(0), sim_market_code(1).c_str());
         ASSERT_NE(s, nullptr);
         shared = cstyle_new("Panel Shared", 0);
         ASSERT_NE(shared, nullptr);
         for (window *w : {wa, wb}) {
           window_set_role(w, kRoleChart);
           nuchart_set_cstyle(chart_of(w), shared);
         }
         // Daily candles over three months, given to the style so both
         // charts take them.
         nuchart *a = chart_of(wa);
         nuchart_set_range(a, 6, 3);
         nuchart_set_period(a, 5, 1);
         nuchart_set_type(a, 4);
         nuchart_clear_indicators(a);
         cstyle_apply(shared, &a->plot);
         for (window *w : {wa, wb}) window_set_instrument(w, s);
         window_show_tools(wa);
         desktop_relayout(d);
       }},
      {"both charts hold daily samples and the top panel is shown",
       [&] {
         passes++;
         charttools *p = panel_of(wa);
         return both(samples) && p && widget_is_shown(p) && p->r.h > 0 && !screen_relayout_pending();
       },
       nullptr},
      {"the Indicators section open with RSI on screen",
       [&] {
         passes++;
         charttools *p = panel_of(wa);
         flyaway *f = p->section[CHARTTOOLS_INDICATORS];
         button *rsi = charttools_button(p, CHARTTOOLS_INDICATORS, kRsi);
         P.diag = sections(p);
         return section_open(f, passes) && on_screen(rsi, f);
       },
       [&] { click_centre(charttools_button(panel_of(wa), CHARTTOOLS_INDICATORS, kRsi)); }},
      {"an RSI pane under the top chart's candles, the bottom chart on it too",
       [&] {
         passes++;
         nuchart *a = chart_of(wa);
         if (!has_rsi(a) || !has_rsi(chart_of(wb))) return false;
         rsi_colour = chart_colour(paint_colour_set(a->plot.options), 18 + ta_indicator_def(kRsi)->lines[0].colour);
         points = rsi_points(a);
         int seen = matching(points, rsi_colour);
         const chart_ta *ta = a->plot.indicators;
         char b[200];
         snprintf(b, sizeof b, " pane %d,%d,%d,%d pixels %d lines %d vis %d..%d y0 %u chart %d,%d,%d,%d",
                  ta->pane_x, ta->pane_y, ta->pane_w, ta->pane_h, ta->pixels[0] != nullptr, ta->lines[0] != nullptr,
                  a->plot.first_visible, a->plot.last_visible,
                  ta->pixels[0] ? ta->pixels[0][a->plot.last_visible] : 0u, a->r.x, a->r.y, a->r.w, a->r.h);
         P.diag = std::to_string(seen) + " of " + std::to_string(points.size()) + " points in the RSI colour" + b;
         widget_redraw(a);
         return points.size() >= 10 && seen * 10 >= int(points.size()) * 8;
       },
       [&] { demo_app::xdo("key super+z"); }},
      {"the undo takes RSI off both charts and its pane off the screen",
       [&] {
         passes++;
         if (both(has_rsi) || chart_of(wa)->plot.indicators || chart_of(wb)->plot.indicators) return false;
         int seen = matching(points, rsi_colour);
         P.diag = std::to_string(seen) + " of " + std::to_string(points.size()) + " former points in the RSI colour";
         widget_redraw(chart_of(wa));
         return seen * 10 <= int(points.size()) * 2;
       },
       [&] { window_show_tools(wb); }},
      {"the bottom panel's Type section open with Bars on screen",
       [&] {
         passes++;
         charttools *p = panel_of(wb);
         if (!p || !widget_is_shown(p) || p->r.h <= 0) return false;
         flyaway *f = p->section[CHARTTOOLS_TYPE];
         P.diag = sections(p);
         return section_open(f, passes) && on_screen(charttools_button(p, CHARTTOOLS_TYPE, kBars), f);
       },
       [&] { click_centre(charttools_button(panel_of(wb), CHARTTOOLS_TYPE, kBars)); }},
      {"the top chart follows the bottom one's edit",
       [&] {
         passes++;
         return chart_of(wb)->plot.type == kBars && chart_of(wa)->plot.type == kBars;
       },
       nullptr},
      {"the top panel's overview shows the chart's span",
       [&] {
         passes++;
         charttools *p = panel_of(wa);
         flyaway *f = p->section[CHARTTOOLS_RANGE];
         P.diag = sections(p);
         if (!section_open(f, passes)) return false;
         nuchart *ov = charttools_overview(p);
         char b[160];
         snprintf(b, sizeof b, "overview %d,%d,%d,%d count %d", ov->r.x, ov->r.y, ov->r.w, ov->r.h, ov->plot.count);
         P.diag = b;
         widget_redraw(ov);
         return widget_is_shown(ov) && ov->r.w > 60 && ov->r.h > 20 && ov->plot.count > 20 && ov->plot.xpos;
       },
       [&] {
         nuchart *a = chart_of(wa);
         ss_time first = 0, last = 0;
         nuchart_get_visible_span(a, &first, &last);
         span_days = sstime_diff_days(last, first);
         // From 30% to 60% of the chart's own span as the overview shows it.
         nuchart *ov = charttools_overview(panel_of(wa));
         const chart_plot &o = ov->plot;
         int32_t i0 = 0;
         while (i0 < o.count - 1 && o.times[i0] < first) i0++;
         int32_t i1 = o.count - 1;
         int32_t x0 = int32_t(o.xpos[i0 + (i1 - i0) * 3 / 10]), x1 = int32_t(o.xpos[i0 + (i1 - i0) * 6 / 10]);
         int32_t y = ov->r.y + ov->r.h / 2;
         demo_app::move_to(x0, y);
         demo_app::xdo("mousedown 1");
         for (int32_t x = x0 + 4; x < x1; x += 4) demo_app::move_to(x, y);
         demo_app::move_to(x1, y);
         demo_app::xdo("mouseup 1");
       }},
      {"the drag narrows the top chart to the dragged span",
       [&] {
         passes++;
         nuchart *a = chart_of(wa);
         ss_time first = 0, last = 0;
         nuchart_get_visible_span(a, &first, &last);
         int32_t days = first && last ? sstime_diff_days(last, first) : -1;
         P.diag = "range " + std::to_string(a->plot.range) + " days " + std::to_string(days) + " of " +
                  std::to_string(span_days);
         return a->plot.range == kNuchartRangeSpan && days > 0 && days * 10 < span_days * 6;
       },
       [&] {
         // An SMA on the chart (as another window's edit would put it there)
         // gives the panel a row.
         nuchart *a = chart_of(wa);
         ASSERT_EQ(nuchart_add_overlay(a, kSma, nullptr), 0);
         cstyle_apply(a->plot.style, &a->plot);
       }},
      {"an SMA row in the panel",
       [&] {
         passes++;
         charttools *p = panel_of(wa);
         flyaway *row = charttools_row(p, 0, 0);
         P.diag = sections(p);
         return nuchart_find_overlay(chart_of(wa), 0, nullptr) == kSma && row && widget_is_shown(row) &&
                row->r.w > 0 && !flyaway_animating(row) && !screen_relayout_pending();
       },
       [&] {
         // The row dragged by its title strip onto the toolbar's "Remove".
         flyaway *row = charttools_row(panel_of(wa), 0, 0);
         widget *remove = toolbar_remove_button(screen_get(0)->toolbars[0]);
         ASSERT_NE(remove, nullptr);
         int32_t x0 = row->r.x + 4, y0 = row->r.y + 6;
         int32_t x1 = remove->r.x + remove->r.w / 2, y1 = remove->r.y + remove->r.h / 2;
         demo_app::move_to(x0, y0);
         demo_app::xdo("mousedown 1");
         for (int k = 1; k <= 10; k++) demo_app::move_to(x0 + (x1 - x0) * k / 10, y0 + (y1 - y0) * k / 10);
         demo_app::xdo("mouseup 1");
       }},
      {"the row dropped on Remove takes the SMA off the chart",
       [&] {
         passes++;
         return chart_of(wa)->plot.overlays == nullptr && charttools_row_count(panel_of(wa), 0) == 0;
       },
       [] { gui_quit(); }},
  };
  app.run(&P);
  EXPECT_EQ(P.failed, "");
  EXPECT_EQ(P.at, P.steps.size());
  start_cleanup();
  app.stop();
}

}  // namespace
