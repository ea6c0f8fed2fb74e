// The chart holders: the preset sequence each gives its chart, the subject
// the window hands it bound as the chart's instrument (stock) or
// comparison instrument (index), the chart filling the holder, and the
// frame colours its draw sets on the window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/glrecord.h"
#include "ssmodel.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/tradechart.h"
#include "windows/window.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class ChartHolder : public WidgetTest {
 protected:
  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(start_terminal_model(), 0);
    ex = ssmodel_exchange(0);
    bhp = ssmodel_get_stock(ex, "BHP");
    xjo = ssmodel_get_index(ex, "XJO");
  }
  void TearDown() override {
    window_destroy_all();
    ssmodel_fini();
    WidgetTest::TearDown();
  }
  ss_exchange *ex = nullptr;
  instr *bhp = nullptr, *xjo = nullptr;
};

TEST_F(ChartHolder, Presets) {
  struct Case {
    widget *(*make)(widget *);
    std::vector<int32_t> overlays, indicators;
  } cases[] = {
      {tradechart_new, {}, {2}},
      {indexchart_new, {1, 0}, {}},
  };
  for (const Case &c : cases) {
    widget *h = c.make(nullptr);
    ASSERT_NE(h, nullptr);
    nuchart *chart = chartholder_chart(h);
    ASSERT_NE(chart, nullptr);
    const chart_plot &p = chart->plot;
    EXPECT_EQ(p.range, 5) << "a day: opening the end to now keeps the range";
    EXPECT_EQ(p.range_count, 1);
    EXPECT_EQ(p.period, 9);
    EXPECT_EQ(p.period_count, 1);
    EXPECT_EQ(p.type, 16);
    EXPECT_EQ(p.options, kHolderChartOptions);
    EXPECT_EQ(p.from_type, -1);
    EXPECT_EQ(p.to_type, 5);
    if (!c.overlays.empty()) {
      std::vector<int32_t> got;
      for (const chart_ta *ta = p.overlays; ta; ta = ta->next) got.push_back(ta->type);
      EXPECT_EQ(got, c.overlays);
    }
    std::vector<int32_t> ind;
    for (const chart_ta *ta = p.indicators; ta; ta = ta->next) ind.push_back(ta->type);
    EXPECT_EQ(ind, c.indicators);
    EXPECT_TRUE(chart->flags & WIDGET_TRANSPARENT);
    EXPECT_EQ(chart->parent, h);
    widget_delete(h);
  }
}

TEST_F(ChartHolder, TheWindowsSubjectIsBound) {
  window *w = window_new(nullptr, 0);
  window_set_role(w, kRoleTradechart);
  window_set_instrument(w, bhp);
  nuchart *trade = chartholder_chart(w->child[kWinTradechart]);
  nuchart *index = chartholder_chart(w->child[kWinIndexchart]);
  EXPECT_EQ(trade->plot.main, bhp);
  EXPECT_EQ(index->plot.main, nullptr);
  window_set_instrument(w, xjo);
  EXPECT_EQ(w->role, kRoleIndexchart);
  EXPECT_EQ(index->plot.main, xjo) << "the index is bound as the chart's instrument";
  EXPECT_EQ(trade->plot.main, nullptr);
}

TEST_F(ChartHolder, ChartFillsAndFrameColours) {
  window *w = window_new(nullptr, 0);
  window_set_role(w, kRoleIndexchart);
  w->r = {0, 0, 400, 300};
  w->cls->geometry_changed(w);
  widget *h = w->child[kWinIndexchart];
  nuchart *chart = chartholder_chart(h);
  EXPECT_GT(h->r.w, 0);
  EXPECT_EQ(chart->r.x, h->r.x);
  EXPECT_EQ(chart->r.y, h->r.y);
  EXPECT_EQ(chart->r.w, h->r.w);
  EXPECT_EQ(chart->r.h, h->r.h);
  glrecord_start();
  widget_draw(h);
  glrecord_stop();
  EXPECT_EQ(w->frame_colours[0], kIndexchartFrame);
  EXPECT_EQ(w->frame_colours[1], kIndexchartFrame);
  widget *t = w->child[kWinTradechart];
  glrecord_start();
  widget_draw(t);
  glrecord_stop();
  EXPECT_NE(w->frame_colours[0], kIndexchartFrame);
  EXPECT_EQ(w->frame_colours[0], w->frame_colours[1]);
}

}  // namespace
