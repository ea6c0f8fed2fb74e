// The chart widget without a window: what each setter puts into the change
// mask and how often it redraws, the span setters, overlay and indicator
// errors, the watched style going away, the overview selection and the
// news-mark hit test as plain functions, the export's text, and many charts
// made and deleted leaving no private style behind.
#include "windows/nuchart.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "charts/cstyle.h"
#include "charts/nuchart.h"
#include "charts/ta.h"
#include "charts/update.h"
#include "export/clipboard.h"
#include "log.h"
#include "ssmodel.h"
#include "style.h"
#include "windows/nuchart_internal.h"
#include "testlog.h"
#include "testmodel.h"
#include "lib/fade.h"
#include "ui/flyaway.h"
#include "ui/key.h"
#include "undo.h"
#include "uitest.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Chart : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(cstyle_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
    c = nuchart_cast(nuchart_new(nullptr));
    ASSERT_NE(c, nullptr);
  }
  void TearDown() override {
    if (c) widget_delete(c);
    WidgetTest::TearDown();
  }
  // The mask and redraws from here on.
  void settle() {
    c->plot.dirty = 0;
    c->redraws = 0;
  }
  nuchart *c = nullptr;
};

TEST_F(Chart, StartsMarkedAndOnAPrivateStyle) {
  EXPECT_EQ(c->plot.dirty, 0xFFFFu);
  EXPECT_EQ(c->plot.eod, 1);
  ASSERT_NE(c->plot.style, nullptr);
  EXPECT_EQ(cstyle_get_id(c->plot.style), 0) << "private";
  EXPECT_EQ(c->plot.style->watcher_count, 1);
  EXPECT_EQ(c->plot.options, 0x11007u) << "the default style's options";
  EXPECT_EQ(c->plot.marked.from_px, -1);
  EXPECT_EQ(c->plot.cursor.index, -1);
  EXPECT_EQ(c->sel_from, -1);
  size s{};
  c->cls->reqsize(c, &s);
  EXPECT_EQ(s.w, 75);
  EXPECT_EQ(s.h, 50);
}

TEST_F(Chart, SettersMarkTheMask) {
  struct Row {
    const char *what;
    std::function<void(nuchart *)> prepare, act;
    uint32_t mask;
    uint32_t redraws;
  };
  const float news_defaults[3] = {kCstyleUnset, kCstyleUnset, kCstyleUnset};
  const std::vector<Row> rows = {
      {"range twice", [](nuchart *x) { nuchart_set_range(x, 4, 1); },
       [](nuchart *x) {
         nuchart_set_range(x, 3, 5);
         nuchart_set_range(x, 3, 5);
       },
       0x2, 1},
      {"period twice", [](nuchart *x) { nuchart_set_period(x, 5, 1); },
       [](nuchart *x) {
         nuchart_set_period(x, 6, 1);
         nuchart_set_period(x, 6, 1);
       },
       0x4, 1},
      {"type twice", [](nuchart *x) { nuchart_set_type(x, 1); },
       [](nuchart *x) {
         nuchart_set_type(x, 4);
         nuchart_set_type(x, 4);
       },
       0x8, 1},
      {"options twice", [](nuchart *x) { nuchart_set_options(x, 0x7); },
       [](nuchart *x) {
         nuchart_set_options(x, 0x1007);
         nuchart_set_options(x, 0x1007);
       },
       0x400, 1},
      {"day to 5 minutes on one month",
       [](nuchart *x) {
         nuchart_set_range(x, 6, 1);
         nuchart_set_period(x, 5, 1);
       },
       [](nuchart *x) { nuchart_set_period(x, 2, 5); }, 0x5, 1},
      {"day to week on one month",
       [](nuchart *x) {
         nuchart_set_range(x, 6, 1);
         nuchart_set_period(x, 5, 1);
       },
       [](nuchart *x) { nuchart_set_period(x, 6, 1); }, 0x4, 1},
      {"all on one day needs intraday",
       [](nuchart *x) {
         nuchart_set_range(x, 5, 1);
         nuchart_set_period(x, 5, 1);
       },
       [](nuchart *x) { nuchart_set_period(x, 9, 1); }, 0x5, 1},
      {"clearing Adjust", [](nuchart *x) { nuchart_set_options(x, 0x11007); },
       [](nuchart *x) { nuchart_clear_option_bits(x, 0x10000); }, 0x401, 1},
      {"setting Colorize", [](nuchart *x) { nuchart_set_options(x, 0x10007); },
       [](nuchart *x) { nuchart_set_option_bits(x, 0x1000); }, 0x400, 1},
      {"setting a set bit", [](nuchart *x) { nuchart_set_options(x, 0x11007); },
       [](nuchart *x) { nuchart_set_option_bits(x, 0x1); }, 0, 0},
      {"News overlay", [](nuchart *x) { nuchart_clear_overlays(x); },
       [&](nuchart *x) { nuchart_add_overlay(x, 13, news_defaults); }, 0x21, 1},
      {"another overlay", [](nuchart *x) { nuchart_clear_overlays(x); },
       [](nuchart *x) { nuchart_add_overlay(x, 2, nullptr); }, 0x20, 1},
      {"indicator", [](nuchart *x) { nuchart_clear_indicators(x); },
       [](nuchart *x) { nuchart_add_indicator(x, 4, nullptr); }, 0x40, 1},
      {"clearing no overlays", [](nuchart *x) { nuchart_clear_overlays(x); },
       [](nuchart *x) { nuchart_clear_overlays(x); }, 0, 0},
      {"background", nullptr, [](nuchart *x) { nuchart_set_background(x, 0xFF102030); }, 0, 0},
      {"marker", nullptr, [](nuchart *x) { nuchart_set_marker_at(x, sstime_pack_date(1, 2, 2026)); }, 0x80, 1},
      {"cursor twice", nullptr,
       [](nuchart *x) {
         nuchart_set_cursor(x, sstime_pack_date(1, 2, 2026));
         nuchart_set_cursor(x, sstime_pack_date(1, 2, 2026));
       },
       0x100, 1},
      {"times", nullptr, [](nuchart *x) { nuchart_set_times(x, 1, sstime_pack_date(1, 2, 2026), 5, 0); }, 0x2, 1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    if (r.prepare) r.prepare(c);
    settle();
    r.act(c);
    EXPECT_EQ(c->plot.dirty, r.mask);
    EXPECT_EQ(c->redraws, r.redraws);
  }
}

TEST_F(Chart, NewsOverlayKeepsTheRegistrysDefaultsAndSetsTheFlag) {
  nuchart_clear_overlays(c);
  EXPECT_EQ(c->plot.news, 0);
  const float unset[3] = {kCstyleUnset, kCstyleUnset, kCstyleUnset};
  ASSERT_EQ(nuchart_add_overlay(c, 13, unset), 0);
  EXPECT_EQ(c->plot.news, 1);
  const ta_def *def = ta_overlay_def(13);
  float params[3];
  ASSERT_EQ(nuchart_find_overlay(c, 0, params), 13);
  for (int i = 0; i < 3; i++) EXPECT_EQ(params[i], def->params[i].def);
  // A given parameter overrides, an unset one keeps the default.
  const float some[3] = {1.0f, kCstyleUnset, kCstyleUnset};
  ASSERT_EQ(nuchart_replace_overlay(c, 0, 13, some), 0);
  ASSERT_EQ(nuchart_find_overlay(c, 0, params), 13);
  EXPECT_EQ(params[0], 1.0f);
  EXPECT_EQ(params[1], def->params[1].def);
  nuchart_clear_overlays(c);
  EXPECT_EQ(c->plot.news, 0);
}

TEST_F(Chart, OverlayAndIndicatorErrors) {
  nuchart_clear_overlays(c);
  nuchart_clear_indicators(c);
  ASSERT_EQ(nuchart_add_overlay(c, 2, nullptr), 0);  // SMA: one parameter
  ASSERT_EQ(nuchart_add_overlay(c, 4, nullptr), 0);
  ASSERT_EQ(nuchart_add_indicator(c, 4, nullptr), 0);
  int32_t sma_params = ta_overlay_def(2)->param_count;
  struct Row {
    const char *what;
    std::function<int()> call;
    const char *logged;
  };
  const std::vector<Row> rows = {
      {"param number equal to the count", [&] { return nuchart_set_overlay_param(c, 0, sma_params, 5.0f); },
       "can't set overlay 2 param"},
      {"no such overlay", [&] { return nuchart_remove_overlay(c, 7); }, "can't find overlay 7"},
      {"no such overlay to replace", [&] { return nuchart_replace_overlay(c, 2, 3, nullptr); },
       "can't find overlay 2"},
      {"no such overlay to find", [&] { return (int)nuchart_find_overlay(c, 5, nullptr); }, "can't find overlay 5"},
      {"overlay type not defined", [&] { return nuchart_add_overlay(c, 12, nullptr); }, "can't alloc overlay"},
      {"no such indicator", [&] { return nuchart_set_indicator_param(c, 3, 0, 1.0f); }, "can't find indicator 3"},
      {"indicator param", [&] { return nuchart_set_indicator_param(c, 0, 3, 1.0f); }, "can't set indicator 4 param 3"},
      {"indicator type not defined", [&] { return nuchart_add_indicator(c, 7, nullptr); },
       "can't alloc indicator"},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    uint64_t since = log_count();
    settle();
    EXPECT_EQ(r.call(), -1);
    EXPECT_TRUE(logged_since(since, r.logged)) << logged_since(since);
    EXPECT_EQ(c->plot.dirty, 0u) << "a failed operation leaves the chart unchanged";
    EXPECT_EQ(c->plot.overlay_count, 2);
    EXPECT_EQ(c->plot.indicator_count, 1);
  }
  // The list keeps its order through a replace and a remove.
  ASSERT_EQ(nuchart_replace_overlay(c, 0, 3, nullptr), 0);
  EXPECT_EQ(nuchart_find_overlay(c, 0, nullptr), 3);
  EXPECT_EQ(nuchart_find_overlay(c, 1, nullptr), 4);
  ASSERT_EQ(nuchart_remove_overlay(c, 0), 0);
  EXPECT_EQ(nuchart_find_overlay(c, 0, nullptr), 4);
  EXPECT_EQ(nuchart_set_overlay_param(c, 0, 0, 30.0f), 0);
  float p[3];
  nuchart_find_overlay(c, 0, p);
  EXPECT_EQ(p[0], 30.0f);
}

TEST_F(Chart, SetTimesAndItsRange) {
  const ss_time d1 = sstime_pack_date(2, 3, 2026), d2 = sstime_pack_date(20, 3, 2026);
  struct Row {
    const char *what;
    std::function<void(nuchart *)> act;
    int32_t range, count, from_type, to_type;
    ss_time from, to;
  };
  const std::vector<Row> rows = {
      {"the holders' preset keeps a day", [](nuchart *x) { nuchart_set_times(x, -1, 0, 5, 0); }, 5, 1, -1, 5, 0, 0},
      {"both ends now keep the range", [](nuchart *x) { nuchart_set_times(x, 5, 0, 5, 0); }, 5, 1, 5, 5, 0, 0},
      {"a fixed from end", [&](nuchart *x) { nuchart_set_times(x, 1, d1, 5, 0); }, 11, 0, 1, 5, d1, 0},
      {"both fixed", [&](nuchart *x) { nuchart_set_times(x, 1, d1, 1, d2); }, 11, 0, 1, 1, d1, d2},
      {"-1 keeps an end",
       [&](nuchart *x) {
         nuchart_set_times(x, 1, d1, 1, d2);
         nuchart_set_times(x, -1, 0, 5, 0);
       },
       11, 0, 1, 5, d1, 0},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    nuchart_set_range(c, 5, 1);
    r.act(c);
    EXPECT_EQ(c->plot.range, r.range);
    EXPECT_EQ(c->plot.range_count, r.count);
    EXPECT_EQ(c->plot.from_type, r.from_type);
    EXPECT_EQ(c->plot.to_type, r.to_type);
    EXPECT_EQ(c->plot.from, r.from);
    EXPECT_EQ(c->plot.to, r.to);
    EXPECT_EQ(c->plot.mid_type, -1);
  }
}

TEST_F(Chart, CenterOnKeepsTheSpan) {
  const ss_time d1 = sstime_pack_date(2, 3, 2026), d11 = sstime_pack_date(12, 3, 2026);
  // Whole days: a 10-day span centred on the 22nd.
  nuchart_set_times(c, 1, d1, 1, d11);
  nuchart_center_on(c, 1, sstime_pack_date(22, 3, 2026));
  EXPECT_EQ(c->plot.from, sstime_pack_date(17, 3, 2026));
  EXPECT_EQ(c->plot.to, sstime_pack_date(27, 3, 2026));
  EXPECT_EQ(c->plot.range, 11);
  EXPECT_EQ(c->plot.mid_type, -1);
  // Seconds when an end has a time of day: two hours around 14:00.
  nuchart_set_times(c, 1, sstime_pack(0, 0, 10, 2, 3, 2026), 1, sstime_pack(0, 0, 12, 2, 3, 2026));
  nuchart_center_on(c, 1, sstime_pack(0, 0, 14, 4, 3, 2026));
  EXPECT_EQ(c->plot.from, sstime_pack(0, 0, 13, 4, 3, 2026));
  EXPECT_EQ(c->plot.to, sstime_pack(0, 0, 15, 4, 3, 2026));
  // Another range: the time becomes the mid end, the others are cleared.
  nuchart_set_range(c, 6, 1);
  settle();
  nuchart_center_on(c, 1, d11);
  EXPECT_EQ(c->plot.mid, d11);
  EXPECT_EQ(c->plot.mid_type, 1);
  EXPECT_EQ(c->plot.from_type, -1);
  EXPECT_EQ(c->plot.to_type, -1);
  EXPECT_EQ(c->plot.from, 0u);
  EXPECT_EQ(c->plot.range, 6);
  EXPECT_EQ(c->plot.dirty, 0x2u);
  // A range set with a mid end keeps it and leaves the to end unset.
  nuchart_set_range(c, 6, 3);
  EXPECT_EQ(c->plot.mid, d11);
  EXPECT_EQ(c->plot.to_type, -1);
}

TEST_F(Chart, DeletingTheWatchedStyleLeavesAPrivateCopy) {
  cstyle *s = cstyle_new("Swing", 0);
  ASSERT_NE(s, nullptr);
  int32_t privates = cstyle_private_count();
  nuchart_set_cstyle(c, s);
  EXPECT_EQ(cstyle_private_count(), privates - 1) << "the chart's own private style is freed";
  EXPECT_EQ(nuchart_get_cstyle(c), s);
  nuchart_set_options(c, 0x1207);
  nuchart_set_range(c, 6, 3);
  cstyle_apply(s, &c->plot);
  settle();
  cstyle_unlink(s);  // announced as deleted
  cstyle *now = nuchart_get_cstyle(c);
  ASSERT_NE(now, s);
  EXPECT_EQ(cstyle_get_id(now), 0);
  EXPECT_STREQ(cstyle_name(now), "");
  EXPECT_EQ(now->options, 0x1207u);
  EXPECT_EQ(now->range, 6);
  EXPECT_EQ(now->range_count, 3);
  EXPECT_EQ(c->plot.dirty, 0xFFFFu);
  EXPECT_GE(c->redraws, 1u);
  EXPECT_EQ(s->watcher_count, 0);
  cstyle_delete(s);
  widget_delete(c);
  c = nullptr;
  EXPECT_EQ(cstyle_private_count(), privates - 1) << "the copy went with the chart";
}

TEST_F(Chart, ApplyStyleSharesARegisteredOneAndClonesAPrivateOne) {
  nuchart *other = nuchart_cast(nuchart_new(nullptr));
  nuchart_set_options(other, 0x2007);
  cstyle_apply(other->plot.style, &other->plot);
  nuchart_apply_cstyle(c, other);
  EXPECT_NE(nuchart_get_cstyle(c), nuchart_get_cstyle(other)) << "a private style is copied";
  EXPECT_EQ(c->plot.options, 0x2007u);
  cstyle *s = cstyle_new("Shared", 0);
  nuchart_set_cstyle(other, s);
  nuchart_apply_cstyle(c, other);
  EXPECT_EQ(nuchart_get_cstyle(c), s);
  EXPECT_EQ(s->watcher_count, 2);
  widget_delete(other);
  nuchart_unbind(c);
}

TEST(NuchartSelection, SpanByMode) {
  const ss_time first = sstime_pack_date(1, 6, 2025), last = sstime_pack_date(10, 12, 2026);
  const ss_time a = sstime_pack_date(1, 3, 2026), b = sstime_pack_date(1, 9, 2026);
  const ss_time now = sstime_pack(0, 0, 15, 10, 12, 2026), earliest = sstime_pack_date(1, 1, 1970);
  struct Row {
    const char *what;
    int32_t x0, x1, mode;
    ss_time t0, t1;
    int32_t eod, range, from_type_in;
    int32_t action, from_type, to_type;
    ss_time from, to, centre;
  };
  const std::vector<Row> rows = {
      {"inside the data", 40, 120, 0, a, b, 1, 6, 1, 1, 1, 1, a, b, 0},
      {"to end at the edge, end-of-day", 40, 299, 1, a, last, 1, 6, 1, 1, 1, 6, a, 0, 0},
      {"to end at the edge, intraday", 40, 299, 1, a, last, 0, 6, 1, 1, 1, 5, a, 0, 0},
      {"from end at the first sample", 0, 120, 2, first, b, 1, 6, 1, 1, 6, 1, 0, b, 0},
      {"started left of the axis", 0, 120, 4, first, b, 1, 6, 1, 1, 6, 1, 0, b, 0},
      {"started right of the axis", 120, 299, 8, b, last, 1, 6, 1, 1, 1, 6, b, 0, 0},
      {"two pixels recentre", 100, 102, 0, a, b, 1, 6, 1, 2, 1, 1, 0, 0, b},
      {"a point recentres", 100, 100, 0, a, a, 1, 6, 1, 2, 1, 1, 0, 0, a},
      {"same times recentre", 100, 140, 0, a, a, 1, 6, 1, 2, 1, 1, 0, 0, a},
      {"a point at the axis end opens to now", 299, 299, 0, last, last, 1, 1, 6, 3, 6, 5, 0, 0, 0},
      {"a point at the end, fixed range", 299, 299, 0, last, last, 1, 6, 1, 2, 1, 1, 0, 0, last},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    nuchart_selection_in in{};
    in.x0 = r.x0;
    in.x1 = r.x1;
    in.mode = r.mode;
    in.t0 = r.t0;
    in.t1 = r.t1;
    in.first = first;
    in.last = last;
    in.earliest = earliest;
    in.now = now;
    in.axis_end = 299;
    in.eod = r.eod;
    in.controlled_range = r.range;
    in.controlled_from_type = r.from_type_in;
    nuchart_selection_out out = nuchart_selection_span(in);
    EXPECT_EQ(out.action, r.action);
    EXPECT_EQ(out.from_type, r.from_type);
    EXPECT_EQ(out.to_type, r.to_type);
    if (r.action == 1) {
      EXPECT_EQ(out.from, r.from);
      EXPECT_EQ(out.to, r.to);
    }
    if (r.action == 2) {
      EXPECT_EQ(out.centre, r.centre);
    }
  }
}

// A pane from row 10, 100 rows high, icons 9 high (10 rows a mark).
TEST(NuchartNews, MarksAreHitAsPainted) {
  struct Row {
    const char *what;
    double count;
    int32_t y;
    int32_t mark;
  };
  const std::vector<Row> rows = {
      {"above the pane", 3, 10, -1},
      {"first mark", 3, 11, 0},
      {"third mark", 3, 31, 2},
      {"below the third", 3, 41, -1},
      {"sensitive then plain: the lowest plain mark", 2003, 51, 4},
      {"past the fifth of 2003", 2003, 61, -1},
      {"a thousand sensitive items", 1000, 11, 0},
      {"more marks than room: the last that fits", 40, 10 + 1 + 9 * 10, 9},
      {"more marks than room: none past the pane", 40, 10 + 1 + 10 * 10, -1},
      {"no news", 0, 11, -1},
      {"no value", kChartNoValue, 11, -1},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(nuchart_news_mark_at(r.count, 10, 100, 9, r.y), r.mark);
  }
}

// A chart filled by hand: three samples, one overlay of one line, one of
// three lines (exported in the registry's line order), one indicator.
class ChartExport : public Chart {
 protected:
  void SetUp() override {
    Chart::SetUp();
    snprintf(bhp.code, sizeof bhp.code, "BHP");
    bhp.kind = kKindStock;
    snprintf(xjo.code, sizeof xjo.code, "XJO");
    xjo.kind = kKindIndex;
  }
  void TearDown() override {
    if (c) c->plot.main = nullptr;  // the records are the test's own
    Chart::TearDown();
  }
  ss_stock bhp{};
  ss_index xjo{};
  void fill(instr *in, int32_t eod) {
    c->plot.main = in;
    c->plot.eod = eod;
    nuchart_clear_overlays(c);
    nuchart_clear_indicators(c);
    ASSERT_EQ(alloc_chart_values(&c->plot, 3), 0);
    c->plot.count = 3;
    c->plot.first_visible = 1;  // the first sample is scrolled off
    c->plot.last_visible = 2;
    const ss_time t[3] = {sstime_pack(0, 0, 10, 8, 12, 2026), sstime_pack(0, 30, 10, 9, 12, 2026),
                          sstime_pack(5, 0, 14, 10, 12, 2026)};
    const double o[3] = {40, 41.5, 42}, h[3] = {41, 42.25, 43}, l[3] = {39, 41, 41.9}, cl[3] = {40.5, 42, 42.5};
    const double v[3] = {100, 1234567, 0};
    for (int i = 0; i < 3; i++) {
      c->plot.times[i] = t[i];
      c->plot.open[i] = o[i];
      c->plot.high[i] = h[i];
      c->plot.low[i] = l[i];
      c->plot.close[i] = cl[i];
      c->plot.volume[i] = v[i];
    }
  }
  void with_lines() {
    ASSERT_EQ(nuchart_add_overlay(c, 2, nullptr), 0);   // SMA
    ASSERT_EQ(nuchart_add_overlay(c, 4, nullptr), 0);   // Bollinger Bands: Mid, Upper, Lower
    ASSERT_EQ(nuchart_add_overlay(c, 13, nullptr), 0);  // News: no formatter
    ASSERT_EQ(nuchart_add_indicator(c, 4, nullptr), 0);  // RSI
    ASSERT_EQ(alloc_chart_values(&c->plot, 3), 0);
    c->plot.count = 3;
    chart_ta *sma = c->plot.overlays, *boll = sma->next, *rsi = c->plot.indicators;
    for (int i = 0; i < 3; i++) {
      sma->lines[0][i] = i == 1 ? kChartNoValue : 41.0 + i;
      boll->lines[0][i] = 41.0;
      boll->lines[1][i] = 43.5;
      boll->lines[2][i] = 39.25;
      rsi->lines[0][i] = 55.5 + i;
    }
  }
  static std::string lines(std::vector<std::string> rows) {
    std::string s;
    for (auto &r : rows) s += r + "\n";
    return s;
  }
};

TEST_F(ChartExport, EndOfDayStock) {
  fill(&bhp, 1);
  std::string text = nuchart_export_text(c);
  EXPECT_EQ(text, lines({"Date\tOpen\tHigh\tLow\tClose\tVolume", "2026-12-09\t41.5\t42.25\t41\t42\t1,234,567",
                         "2026-12-10\t42\t43\t41.9\t42.5\t0"}));
}

TEST_F(ChartExport, IntradayStockWithLines) {
  fill(&bhp, 0);
  with_lines();
  const ta_def *boll = ta_overlay_def(4);
  std::string head = "Date\tTime\tOpen\tHigh\tLow\tClose\tVolume\tSMA";
  for (int k = 0; k < 3; k++) head += std::string("\tBollinger Bands/") + boll->lines[boll->line_order[k]].name;
  head += "\tRSI";
  const char *boll_values[3] = {"41", "43.5", "39.25"};
  std::string b;
  for (int k = 0; k < 3; k++) b += std::string("\t") + boll_values[boll->line_order[k]];
  std::string text = nuchart_export_text(c);
  EXPECT_EQ(text, lines({head, "2026-12-09\t10:30:00\t41.5\t42.25\t41\t42\t1,234,567\t" + b + "\t56.50%",
                         "2026-12-10\t14:00:05\t42\t43\t41.9\t42.5\t0\t43" + b + "\t57.50%"}));
}

TEST_F(ChartExport, IndexHasPlainPricesAndNoVolume) {
  fill(&xjo, 1);
  std::string text = nuchart_export_text(c);
  EXPECT_EQ(text, lines({"Date\tOpen\tHigh\tLow\tClose\tVolume", "2026-12-09\t41.5\t42.25\t41\t42\t",
                         "2026-12-10\t42\t43\t41.9\t42.5\t"}));
}

TEST_F(Chart, ManyChartsLeaveNoPrivateStyle) {
  ASSERT_EQ(start_terminal_model(), 0);
  ss_exchange *ex = ssmodel_exchange(0);
  instr *bhp = ssmodel_get_stock(ex, "BHP");
  int32_t privates = cstyle_private_count();
  cstyle *shared = cstyle_new("Many", 0);
  std::vector<nuchart *> charts;
  for (int i = 0; i < 100; i++) {
    nuchart *x = nuchart_cast(nuchart_new(nullptr));
    nuchart_bind(x, bhp);
    nuchart_add_overlay(x, 2, nullptr);
    if (i % 2) nuchart_set_cstyle(x, shared);
    nuchart_set_options(x, 0x1007);
    x->cls->restyle(x);
    charts.push_back(x);
  }
  EXPECT_EQ(cstyle_private_count(), privates + 50) << "each chart not on the shared style has its own";
  for (nuchart *x : charts) widget_delete(x);
  EXPECT_EQ(cstyle_private_count(), privates);
  EXPECT_EQ(shared->watcher_count, 0);
  cstyle_delete(shared);
  widget_delete(c);
  c = nullptr;
  EXPECT_EQ(cstyle_private_count(), privates - 1) << "the fixture's chart's went with it";
  ssmodel_fini();
}

}  // namespace

namespace {

// A chart of n end-of-day samples laid by hand on a 300-pixel plot from
// x = 10, one every 10 pixels, shown at (0, 0).
void lay_out(nuchart *c, int32_t n) {
  chart_plot &p = c->plot;
  ASSERT_EQ(alloc_chart_values(&p, n), 0);
  p.count = n;
  p.first_visible = 0;
  p.last_visible = n - 1;
  p.eod = 1;
  p.plot_x = p.pane_x = 10;
  p.plot_y = p.pane_y = 5;
  p.plot_w = p.pane_w = 300;
  p.plot_h = p.pane_h = 200;
  for (int32_t i = 0; i < n; i++) {
    p.times[i] = sstime_add_days(sstime_pack_date(1, 6, 2026), i);
    p.xpos[i] = (uint32_t)(10 + 10 * i);
    p.y_close[i] = (uint32_t)(50 + i);
    p.y_open[i] = p.y_high[i] = p.y_low[i] = kChartNoPixel;
  }
}

TEST_F(Chart, APureMoveShiftsEveryStoredPixel) {
  c->r = {0, 0, 400, 300};
  c->cls->geometry_changed(c);
  c->flags |= WIDGET_SHOWN;
  lay_out(c, 4);
  c->plot.marked.from_px = 30;
  c->plot.marked.to_px = -1;
  c->plot.zero_y = -1;
  settle();
  c->r = {25, 7, 400, 300};
  c->cls->geometry_changed(c);
  EXPECT_EQ(c->plot.xpos[0], 35u);
  EXPECT_EQ(c->plot.xpos[3], 65u);
  EXPECT_EQ(c->plot.y_close[2], 59u);
  EXPECT_EQ(c->plot.y_open[2], kChartNoPixel) << "-1 stays";
  EXPECT_EQ(c->plot.marked.from_px, 55);
  EXPECT_EQ(c->plot.marked.to_px, -1);
  EXPECT_EQ(c->plot.zero_y, -1);
  EXPECT_EQ(c->plot.pane_x, 35);
  EXPECT_EQ(c->plot.chart_x, 25);
  EXPECT_EQ(c->plot.dirty, 0u) << "a move needs no update";
  // A new size marks the layout instead; the marked span's pixels go.
  c->flags &= ~WIDGET_SHOWN;
  c->plot.marked.from = sstime_pack_date(2, 6, 2026);
  c->r = {25, 7, 420, 300};
  c->cls->geometry_changed(c);
  EXPECT_EQ(c->plot.dirty, 0x180u);
  EXPECT_EQ(c->plot.marked.from_px, -1);
  c->r = {25, 7, 420, 310};
  c->cls->geometry_changed(c);
  EXPECT_EQ(c->plot.dirty & 0x300u, 0x300u);
}

TEST_F(Chart, HidingFreesTheValuesAndLeavesTheLiveList) {
  lay_out(c, 3);
  ASSERT_EQ(update_live_add(&c->plot), 0);
  int live = update_live_count();
  c->cls->hide_children(c);
  EXPECT_EQ(c->plot.count, 0);
  EXPECT_EQ(c->plot.times, nullptr);
  EXPECT_EQ(update_live_count(), live - 1);
}

TEST_F(Chart, ArrowKeysStepTheCursorAndPassTheEdgeOn) {
  lay_out(c, 3);
  c->cursor_active = 1;
  c->view.hovering = 1;
  c->view.hover_index = 1;
  key_event later{kNuchartKeyLater, 0, KEY_MOD_CONTROL};
  key_event earlier{kNuchartKeyEarlier, 0, KEY_MOD_CONTROL};
  c->cls->key_press(c, &later);
  EXPECT_EQ(c->view.hover_index, 2);
  c->cls->key_press(c, &later);  // the edge: to the parent (none here)
  EXPECT_EQ(c->view.hover_index, 2);
  c->cls->key_press(c, &earlier);
  c->cls->key_press(c, &earlier);
  EXPECT_EQ(c->view.hover_index, 0);
}

TEST_F(Chart, OverviewDragsSteerTheControlledChart) {
  ASSERT_EQ(undo_init(), 0);
  nuchart *target = nuchart_cast(nuchart_new(nullptr));
  nuchart_set_range(target, 6, 3);
  lay_out(c, 30);  // columns 10 .. 300
  c->plot.controlled = target;
  c->plot.marked.from_px = 60;
  c->plot.marked.to_px = 200;
  drag_record d{};
  uint32_t pushed = undo_pushed_count();
  struct Row {
    const char *what;
    int32_t press, release;
    int32_t mode;
    int32_t from_type, to_type;
    ss_time from, to;
  };
  const ss_time day0 = sstime_pack_date(1, 6, 2026);
  const std::vector<Row> rows = {
      {"a new span inside the data", 100, 150, 0, 1, 1, sstime_add_days(day0, 9), sstime_add_days(day0, 14)},
      {"the to end grabbed and dragged past the data", 202, 400, 1, 1, 6, sstime_add_days(day0, 5), 0},
      {"the from end grabbed and dragged before the data", 58, 0, 2, 6, 1, 0, sstime_add_days(day0, 19)},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_EQ(c->cls->drag_begin(c, r.press, 50, 1, &d), 1);
    EXPECT_EQ(c->sel_mode, r.mode);
    c->cls->drag_motion(c, r.release, 50, 1, &d);
    c->cls->drag_release(c, nullptr, r.release, 50, 1, &d);
    EXPECT_EQ(target->plot.range, 11);
    EXPECT_EQ(target->plot.range_count, 0);
    EXPECT_EQ(target->plot.from_type, r.from_type);
    EXPECT_EQ(target->plot.to_type, r.to_type);
    if (r.from_type == 1) {
      EXPECT_EQ(target->plot.from, r.from);
    }
    if (r.to_type == 1) {
      EXPECT_EQ(target->plot.to, r.to);
    }
    EXPECT_EQ(c->sel_from, -1) << "the selection is cleared";
    EXPECT_EQ(target->plot.style->range, 11) << "the controlled chart's style follows";
  }
  EXPECT_GT(undo_pushed_count(), pushed) << "the controlled chart's style went to undo first";
  // A click without a callback recentres a span of fixed ends on the
  // clicked day (column 150: the 15th sample), keeping its ten days.
  nuchart_set_times(target, 1, sstime_add_days(day0, 2), 1, sstime_add_days(day0, 12));
  c->cls->release(c, 150, 50, 1);
  EXPECT_EQ(target->plot.from, sstime_add_days(day0, 9));
  EXPECT_EQ(target->plot.to, sstime_add_days(day0, 19));
  widget_delete(target);
  c->plot.controlled = nullptr;
  undo_fini();
}

TEST_F(Chart, AClickGoesToTheCallback) {
  lay_out(c, 5);
  static ss_time clicked;
  clicked = 0;
  nuchart_set_client_callback(c, [](nuchart *, ss_time t, void *, int) { clicked = t; }, nullptr, 0);
  c->cls->release(c, 30, 50, 1);
  EXPECT_EQ(clicked, c->plot.times[2]);
  c->cls->release(c, 500, 50, 1);  // outside the plot: no time
  EXPECT_EQ(clicked, c->plot.times[2]);
}

}  // namespace

namespace {

TEST_F(Chart, ASmallChartWaitsForItsFlyawayToLand) {
  ASSERT_EQ(fade_init(), 0);
  fbox *box = fbox_new(nullptr, 2, 0);
  flyaway *f = flyaway_new(box, "chart", 0, 0, 0xff404040u, 0, nullptr);
  nuchart *small = nuchart_cast(nuchart_new(f));
  box->r = {0, 0, 200, 400};
  box->cls->geometry_changed(box);
  fbox_close_flyaway(box, f);
  widget_show(box);
  fbox_open_flyaway(box, f);
  ASSERT_TRUE(flyaway_animating(f));
  // A shown chart's new size is taken by an update at once (which finds the
  // mask set); a small chart inside a flying section is left alone.
  struct Row {
    uint32_t options;
    int32_t updated;
  } rows[] = {{0x2000, 0}, {0x0, 1}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.options);
    small->plot.options = r.options;
    small->plot.dirty = 0;
    small->plot.changed = 0;
    small->r.w += 5;
    small->r.h += 5;
    small->cls->geometry_changed(small);
    EXPECT_EQ(small->plot.changed, r.updated);
    EXPECT_EQ(small->plot.dirty, 0u);
  }
  widget_delete(box);
  fade_fini();
}

}  // namespace

TEST_F(Chart, UpdatesBeforeAnyVisualStyleMeasuringWithTheAtlas) {
  ASSERT_EQ(style_cur(), nullptr) << "the fixture selects no visual style";
  ASSERT_EQ(start_terminal_model(), 0);
  instr *bhp = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
  ASSERT_NE(bhp, nullptr);
  c->r = {0, 0, 400, 300};
  nuchart_bind(c, bhp);
  nuchart_run_update(c);  // measured its time labels with no fonts before
  EXPECT_NE(c->axes.fonts.text_size, nullptr);
  EXPECT_EQ(c->plot.dirty, 0u);
  widget_delete(c);
  c = nullptr;
  ssmodel_fini();
}
