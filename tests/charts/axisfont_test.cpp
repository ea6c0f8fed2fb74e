// The axes on the real font atlas (chart font 4, its value font 5): the
// seam measures as the atlas does, and laid-out time and value labels keep
// apart and inside the plot with real glyph widths.
#include "charts/axisfont.h"

#include <gtest/gtest.h>

#include "axis_fixture.h"
#include "charts/util.h"
#include "charts/yaxis.h"
#include "lib/font.h"
#include "lib/glrecord.h"
#include "lib/tex.h"

namespace {

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new ChartRuntime);

class AtlasAxes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rec_ = new glrecord_scope;
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
  }
  static void TearDownTestSuite() {
    tex_fini();
    delete rec_;
  }
  static glrecord_scope* rec_;
};
glrecord_scope* AtlasAxes::rec_ = nullptr;

TEST_F(AtlasAxes, MeasuresAsTheAtlas) {
  chart_fonts f = axisfont_atlas(4, 5);
  int32_t digit = 0, ascent = 0, descent = 0;
  font_metrics(nullptr, &digit, &ascent, &descent, 4);
  ASSERT_GT(digit, 0);
  EXPECT_EQ(chart_text_width(&f, 0, "0"), digit);
  EXPECT_EQ(chart_text_width(&f, 0, "2025"), 4 * digit);  // digits are of one width
  EXPECT_EQ(f.line_height(f.ctx, 0), ascent + descent);
  // In the value font 'a'..'j' are small digits, narrower than the digits.
  EXPECT_LT(chart_text_width(&f, 1, "a"), chart_text_width(&f, 1, "0"));
  EXPECT_EQ(chart_text_width(&f, 1, "12.fa"), chart_text_width(&f, 1, "12.af"));
}

void expect_apart(const chart_plot& p, const chart_list<chart_label>& l) {
  ASSERT_FALSE(l.items.empty());
  for (size_t i = 0; i < l.items.size(); i++) {
    EXPECT_GT(l.items[i].w, 0);
    EXPECT_LE(l.items[i].x + l.items[i].w, p.plot_x + p.plot_w);
    if (i) {
      EXPECT_GE(l.items[i].x, l.items[i - 1].x + l.items[i - 1].w) << l.items[i].text;
    }
  }
}

TEST_F(AtlasAxes, TimeLabelsKeepApart) {
  for (int32_t width : {200, 600, 1200}) {
    SCOPED_TRACE(width);
    std::vector<ss_time> t;
    for (ss_time d = sstime_pack_date(1, 7, 2020); d <= sstime_pack_date(30, 6, 2025); d = sstime_add_days(d, 1))
      if (!sstime_is_weekend(d)) t.push_back(d);
    AxisPlot plot(t, spread((int32_t)t.size(), width), width);
    plot->eod = 1;
    chart_axes a{};
    a.fonts = axisfont_atlas(4, 5);
    ASSERT_EQ(util_time_labels(plot.get(), &a), 0);
    expect_apart(plot.p, a.time.labels);
  }
}

TEST_F(AtlasAxes, ValueLabelsInTheSmallFont) {
  AxisPlot plot({1}, {10}, 500);
  plot->plot_y = 0;
  plot->value_low = 10;
  plot->value_high = 11;
  chart_axes a{};
  a.fonts = axisfont_atlas(4, 5);
  ASSERT_EQ(yaxis_compute(plot.get(), &a), 0);
  ASSERT_FALSE(a.value.labels.items.empty());
  int32_t lh = a.fonts.line_height(a.fonts.ctx, 0);
  const auto& l = a.value.labels.items;
  for (size_t i = 1; i < l.size(); i++) EXPECT_GE(l[i - 1].y - l[i].y, lh);  // upwards, a line apart
}

}  // namespace
