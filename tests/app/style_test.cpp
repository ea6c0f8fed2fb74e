// Visual styles: the record's field positions, the documented fixed values
// of every style, the palettes, sizes (clamping, fonts, line metrics, the
// screens' refresh), selection, the scale and its ramps, and widgets drawn
// from the current style under Xvfb before and after a style change.
#include "style.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "lib/fade.h"
#include "lib/font.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/label.h"
#include "ui/tooltip.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

const int32_t kFonts[9][5] = {
    {4, 6, 8, 9, 11},     {5, 7, 7, 10, 12},    {0, 1, 4, 6, 9},
    {18, 18, 19, 19, 19}, {4, 6, 8, 9, 11},     {13, 14, 15, 16, 17},
    {19, 19, 20, 20, 20}, {4, 6, 8, 9, 9},      {18, 19, 20, 20, 20},
};

class Style : public PixelTest {
 protected:
  static void SetUpTestSuite() {
    PixelTest::SetUpTestSuite();
    tex_init();
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(style_init(), 0);
    tex_context_new(0);
  }
  static void TearDownTestSuite() {
    style_fini();
    tex_context_forget(0);
    gmap_fini();
    fade_fini();
    tex_fini();
    PixelTest::TearDownTestSuite();
  }
  void SetUp() override {
    PixelTest::SetUp();
    gfx_reset();
    gfx_set_viewport(kWidth, kHeight);
    tex_select_context(0);
  }
  void TearDown() override { gfx_flush(); }
};

TEST_F(Style, FieldPositions) {
  struct {
    const char *name;
    size_t offset;
    int field;
  } fields[] = {
      {"fonts", offsetof(style, font), 0},
      {"extra fonts", offsetof(style, font_extra), 9},
      {"size table", offsetof(style, size_table), 11},
      {"line height", offsetof(style, line_height), 56},
      {"line unit", offsetof(style, line_unit), 57},
      {"fade parameters", offsetof(style, fade_param), 58},
      {"colours", offsetof(style, colour), 60},
      {"panel textures", offsetof(style, panel_texture), 128},
      {"tooltip", offsetof(style, tooltip_offset), 132},
      {"button colour set", offsetof(style, buttons), 142},
      {"ramps", offsetof(style, ramp), 231},
      {"small numbers", offsetof(style, small), 249},
      {"per-size 1", offsetof(style, per_size1), 256},
      {"per-size 1 table", offsetof(style, per_size1_table), 257},
      {"per-size 2", offsetof(style, per_size2), 262},
      {"per-size 2 table", offsetof(style, per_size2_table), 263},
      {"numbers", offsetof(style, numbers), 268},
      {"reals", offsetof(style, real), 291},
      {"widget value", offsetof(style, widget_style), 294},
  };
  for (auto &f : fields) EXPECT_EQ(f.offset, (size_t)f.field * 4) << f.name;
  EXPECT_EQ(sizeof(style), 295u * 4);
}

TEST_F(Style, FixedValuesOfEveryStyle) {
  const int32_t small[] = {1, 2, 3, 4, 5, 6, 3};
  const int32_t t1[] = {8, 8, 10, 10, 12}, t2[] = {4, 4, 6, 8, 10};
  const int32_t numbers[] = {7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 27, 26,
                             28, 29, 30, 31, 33, 32, 38, 37, 34, 35, 36};
  for (int n = 0; n < kStyles; n++) {
    const style *s = style_get(n);
    ASSERT_NE(s, nullptr);
    const int32_t *f = reinterpret_cast<const int32_t *>(s);
    for (int k = 0; k < 9; k++)
      for (int z = 0; z < 5; z++) EXPECT_EQ(f[11 + 5 * k + z], kFonts[k][z]) << n << " " << k;
    EXPECT_EQ(f[9], 2);
    EXPECT_EQ(f[10], 3);
    EXPECT_EQ(memcmp(f + 249, small, sizeof small), 0) << n;
    EXPECT_EQ(memcmp(f + 257, t1, sizeof t1), 0) << n;
    EXPECT_EQ(memcmp(f + 263, t2, sizeof t2), 0) << n;
    EXPECT_EQ(memcmp(f + 268, numbers, sizeof numbers), 0) << n;
    EXPECT_EQ(s->real[0], 7.0f);
    EXPECT_EQ(s->real[1], 2.0f);
    EXPECT_EQ(s->real[2], 15.0f);
    EXPECT_EQ(f[294], 12);
    const int32_t tex[] = {39, -1, 41, 42}, off[] = {0, -2, -1};
    EXPECT_EQ(memcmp(s->panel_texture, tex, sizeof tex), 0);
    EXPECT_EQ(memcmp(s->tooltip_offset, off, sizeof off), 0);
    EXPECT_EQ(s->tooltip_style[0], 39u);
    EXPECT_EQ(s->tooltip_style[2], 3u);
    EXPECT_EQ(s->tooltip_style[3], 0xc8000000u);
    EXPECT_EQ(s->tooltip_style[5], 0xff000000u);
    EXPECT_EQ(s->tooltip_style[6], 6u);
    for (int r = 0; r < kStyleRamps; r++) EXPECT_GE(s->ramp[r], 0) << n << " ramp " << r;
  }
}

TEST_F(Style, Palettes) {
  const style *dark = style_get(0), *light = style_get(1);
  auto has = [](const style *s, uint32_t c) {
    for (uint32_t v : s->colour)
      if (v == c) return true;
    return false;
  };
  for (uint32_t c : {0xff282828u, 0xff343232u, 0xfff0f0f0u, 0xff45c627u, 0xff5543d9u})
    EXPECT_TRUE(has(dark, c)) << std::hex << c;
  for (uint32_t c : {0xffcecece, 0xffb69b76, 0xffc2ad8a, 0xff000000})
    EXPECT_TRUE(has(light, c)) << std::hex << c;
  int differ = 0;
  for (int i = 0; i < kStyleColours; i++) differ += dark->colour[i] != light->colour[i];
  EXPECT_GE(differ, 25);
  EXPECT_LE(differ, 35);
  EXPECT_NE(memcmp(&dark->buttons, &light->buttons, sizeof dark->buttons), 0);
  for (int n : {2, 3}) EXPECT_EQ(memcmp(style_get(n)->colour, dark->colour, sizeof dark->colour), 0);
  // The dark style's background is darker than its text; the light one's not.
  EXPECT_LT(style_colour(dark, SC_BACKGROUND) & 0xff, style_colour(dark, SC_TEXT) & 0xff);
  EXPECT_GT(style_colour(light, SC_BACKGROUND) & 0xff, style_colour(light, SC_TEXT) & 0xff);
  const int32_t *f = reinterpret_cast<const int32_t *>(dark);
  EXPECT_EQ((uint32_t)f[82], 0xff45c627u);  // the up and down colours' fields
  EXPECT_EQ((uint32_t)f[83], 0xff5543d9u);
  // Texts drawn over a chart (the mini quotes' code, bid, offer and last)
  // stand out from the chart's background in every style.
  auto luma = [](uint32_t c) { return 0.299 * (c & 0xff) + 0.587 * (c >> 8 & 0xff) + 0.114 * (c >> 16 & 0xff); };
  for (int n = 0; n < 4; n++) {
    const style *s = style_get(n);
    const double bg = luma(style_colour(s, SC_CHART_BACKGROUND));
    for (int field : {int(SC_TEXT), int(SC_BID_TEXT), int(SC_OFFER_TEXT)})
      EXPECT_GT(std::abs(luma(style_colour(s, field)) - bg), 60.0) << "style " << n << " field " << field;
    // Bid and offer read as the rising and falling colours, not as greys.
    EXPECT_EQ(style_colour(s, SC_BID_TEXT), style_colour(s, SC_UP)) << n;
    EXPECT_EQ(style_colour(s, SC_OFFER_TEXT), style_colour(s, SC_DOWN)) << n;
  }
}

TEST_F(Style, SizesSelectionAndScale) {
  ASSERT_EQ(style_select(0), 0);
  struct {
    int asked;
    int result;
    int size;
  } sizes[] = {{0, 1, 0}, {0, 0, 0}, {7, 1, 4}, {9, 0, 4}, {-2, 1, 0}, {2, 1, 2}};
  style_set_size(3);  // a known start that differs from the first row
  for (auto &c : sizes) {
    uint32_t refreshes = style_refresh_count();
    EXPECT_EQ(style_set_size(c.asked), c.result) << c.asked;
    EXPECT_EQ(style_size(), c.size) << c.asked;
    EXPECT_EQ(style_refresh_count() - refreshes, (uint32_t)c.result) << c.asked;
    const style *s = style_cur();
    for (int k = 0; k < 9; k++) EXPECT_EQ(s->font[k], kFonts[k][c.size]) << c.asked;
    int32_t ascent, descent;
    font_metrics(nullptr, nullptr, &ascent, &descent, kFonts[0][c.size]);
    EXPECT_EQ(s->line_height, ascent + descent + 3);
    EXPECT_EQ(s->line_unit, ascent + descent + 5);
    const int32_t t1[] = {8, 8, 10, 10, 12}, t2[] = {4, 4, 6, 8, 10};
    EXPECT_EQ(s->per_size1, t1[c.size]);
    EXPECT_EQ(s->per_size2, t2[c.size]);
    EXPECT_EQ(s->buttons.entry[0].font, (uint32_t)kFonts[7][c.size]);
    EXPECT_EQ(s->tooltip_style[4], (uint32_t)kFonts[4][c.size]);
    ASSERT_EQ(fade_ramp_count(s->fade_param[0]), 75u);
    EXPECT_EQ(fade_ramp_values(s->fade_param[0])[0], 0u);
    EXPECT_EQ(fade_ramp_values(s->fade_param[0])[74], (uint32_t)s->line_height + 1);
    EXPECT_EQ(fade_ramp_values(s->fade_param[1])[0], (uint32_t)s->line_height + 1);
  }
  EXPECT_EQ(style_size_up(), 1);
  EXPECT_EQ(style_size(), 3);
  EXPECT_EQ(style_size_down(), 1);
  EXPECT_EQ(style_size(), 2);

  uint32_t refreshes = style_refresh_count();
  LogCapture logs;
  EXPECT_EQ(style_select(4), -1);
  EXPECT_TRUE(logs.has("bad style 4"));
  EXPECT_EQ(style_select(0), 0);  // the current one: nothing
  EXPECT_EQ(style_refresh_count(), refreshes);
  EXPECT_EQ(style_select(1), 0);
  EXPECT_EQ(style_current(), 1);
  EXPECT_EQ(style_refresh_count(), refreshes + 1);  // the size applied to the new style
  EXPECT_EQ(style_cur()->font[0], kFonts[0][2]);
  EXPECT_EQ(widget_style_value(), 12);

  int scale = style_scale();
  EXPECT_EQ(style_set_scale(0), -1);
  EXPECT_EQ(style_set_scale(100), -1);
  EXPECT_EQ(style_scale(), scale);
  EXPECT_EQ(style_set_scale(20), 0);
  EXPECT_EQ(style_scale(), 20);
  for (int n = 0; n < kStyles; n++) {
    const style *s = style_get(n);
    for (int r = kStyleRamps - kStyleScaleRamps; r < kStyleRamps; r++)
      EXPECT_EQ(fade_ramp_count(s->ramp[r]), 2000u) << n << " " << r;
    EXPECT_EQ(fade_ramp_count(s->ramp[12]), 100u);  // a fixed one: 1 s
  }
  EXPECT_EQ(style_set_scale(20), 0);
  style_select(0);
}

TEST_F(Style, WidgetsDrawFromTheCurrentStyle) {
  style_select(0);
  style_set_size(2);
  widget_queue_fn old = widget_set_queue([](widget *, const rect *, widget_update_fn, int) {
    return 0;
  });
  button *b = button_new(nullptr, "", -1, 0, BUTTON_OWN_BACKGROUND, nullptr,
                         style_button_colours(), nullptr, nullptr, 0);
  b->r = {20, 20, 80, 30};
  widget_show(b);
  struct {
    int n;
    uint32_t panel, text;
  } cases[] = {{0, 0xff343232, 0xfff0f0f0}, {1, 0xffb69b76, 0xff000000}};
  for (auto &c : cases) {
    style_select(c.n);
    label *l = label_new(nullptr, "MMMM", 0x40, style_cur()->font[0],
                         0, style_colour(style_cur(), SC_TEXT), nullptr);
    l->r = {20, 80, 150, 30};
    widget_show(l);
    pixeltest_clear(0xff808080);
    widget_draw(b);
    widget_draw(l);
    gfx_flush();
    EXPECT_TRUE(pixeltest_colour_at(60, 35, c.panel, 24)) << "style " << c.n;
    int text = 0;
    for (int y = l->text_rect.y; y < l->text_rect.y + l->text_rect.h; y++)
      for (int x = l->text_rect.x; x < l->text_rect.x + l->text_rect.w; x++)
        text += pixeltest_colour_at(x, y, c.text, 8) ? 1 : 0;
    EXPECT_GT(text, 20) << "style " << c.n;
    widget_delete(l);
  }
  widget_delete(b);
  widget_set_queue(old);
  style_select(0);
}

}  // namespace
