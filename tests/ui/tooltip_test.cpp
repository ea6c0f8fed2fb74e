// The tooltip under Xvfb: where the tip is placed for pointers across the
// window (below, above near the bottom, moved left at the right edge, not
// at all off the window), its size from its lines, images and margin, the
// frame insets, and the show and hide rules.
#include "ui/tooltip.h"

#include <gtest/gtest.h>

#include "atlasref.h"
#include "lib/font.h"
#include "lib/tex.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

class Tooltip : public AtlasPixelTest {
 protected:
  static constexpr int kFont = 4, kMargin = 6;
  static constexpr colour kBg = 0xff30c0f0, kText = 0xff000000;
  int32_t w1 = 0, h1 = 0;
  void SetUp() override {
    AtlasPixelTest::SetUp();
    tooltip_set_style(0, kBg, 0, 0, kFont, kText, kMargin);
    tooltip_set_offset(0, 0, 0);
    int32_t wh[2], ascent, descent;
    font_text_size(wh, kFont, "Last price");
    font_metrics(nullptr, nullptr, &ascent, &descent, kFont);
    w1 = wh[0] + 2 * kMargin;
    h1 = ascent + descent + 2 * kMargin;
  }
  void TearDown() override {
    gfx_flush();  // no primitive left open for the next test's clear
    tooltip_show_text(nullptr);
  }
};

TEST_F(Tooltip, Placement) {
  tooltip_show_text("Last price");
  const int W = kWidth, H = kHeight;
  struct {
    const char *name;
    int32_t x, y;
    bool drawn;
    int32_t bx, by;
  } cases[] = {
      {"below the pointer", 50, 50, true, 50, 66},
      {"near the bottom: above", 50, H - 20, true, 50, H - 20 - 4 - h1},
      {"right edge: moved left", W - 10, 50, true, W - w1, 66},
      {"top edge allowed", 10, -16, true, 10, 0},
      {"left of the window", -1, 50, false, 0, 0},
      {"too high", 10, -17, false, 0, 0},
      {"right of the window", W, 50, false, 0, 0},
      {"bottom band", 10, H - 16, false, 0, 0},
  };
  for (auto &c : cases) {
    rect out = {-1, -1, -1, -1};
    int rc = tooltip_draw(c.x, c.y, &out);
    EXPECT_EQ(rc == 0, c.drawn) << c.name;
    if (!c.drawn) continue;
    EXPECT_EQ(out.x, c.bx) << c.name;
    EXPECT_EQ(out.y, c.by) << c.name;
    EXPECT_EQ(out.w, w1) << c.name;
    EXPECT_EQ(out.h, h1) << c.name;
  }
}

TEST_F(Tooltip, PixelsAndTheOffset) {
  tooltip_set_offset(0, 20, 10);
  tooltip_show_text("Last price");
  rect out;
  ASSERT_EQ(tooltip_draw(40, 40, &out), 0);
  gfx_flush();
  EXPECT_EQ(out.x, 60);
  EXPECT_EQ(out.y, 66);
  EXPECT_TRUE(pixeltest_colour_at(out.x + 1, out.y + 1, kBg));
  EXPECT_TRUE(pixeltest_colour_at(out.x + out.w - 1, out.y + out.h - 1, kBg));
  EXPECT_TRUE(pixeltest_colour_at(out.x - 1, out.y + 1, 0xff000000));
  int dark = 0;  // the text, in black, inside the margin
  for (int y = out.y + kMargin; y < out.y + out.h - kMargin; y++)
    for (int x = out.x + kMargin; x < out.x + out.w - kMargin; x++)
      dark += pixeltest_colour_at(x, y, kText, 40) ? 1 : 0;
  EXPECT_GT(dark, 10);
}

TEST_F(Tooltip, TwoLinesAndAnImage) {
  int32_t wa[2], wb[2], ascent, descent;
  font_text_size(wa, kFont, "Bid");
  font_text_size(wb, kFont, "Volume 12,000");
  font_metrics(nullptr, nullptr, &ascent, &descent, kFont);
  tooltip_show_text("Bid");
  tooltip_set_text2("Volume 12,000");
  rect out;
  ASSERT_EQ(tooltip_draw(10, 10, &out), 0);
  EXPECT_EQ(out.w, wb[0] + 2 * kMargin);
  EXPECT_EQ(out.h, 2 * (ascent + descent) + kMargin + 2 * kMargin);
  tooltip_set_text("Bid");  // line 1 clears line 2
  ASSERT_EQ(tooltip_draw(10, 10, &out), 0);
  EXPECT_EQ(out.w, wa[0] + 2 * kMargin);
  EXPECT_EQ(out.h, ascent + descent + 2 * kMargin);

  int32_t img[2];
  tex_size(img, 3);
  tooltip_show_number(3);
  ASSERT_EQ(tooltip_draw(10, 10, &out), 0);
  EXPECT_EQ(out.w, img[0] + 2 * kMargin);
  EXPECT_EQ(out.h, img[1] + 2 * kMargin);
}

TEST_F(Tooltip, ShowAndHide) {
  EXPECT_FALSE(tooltip_visible());
  tooltip_show_text("a");
  EXPECT_TRUE(tooltip_visible());
  tooltip_show_number(3);
  EXPECT_TRUE(tooltip_visible());
  tooltip_hide_text();  // the image was shown instead of the text
  EXPECT_TRUE(tooltip_visible());
  tooltip_hide_number();
  EXPECT_FALSE(tooltip_visible());
  tooltip_show_number(3);
  tooltip_show_text(nullptr);  // hides both
  EXPECT_FALSE(tooltip_visible());
  rect out;
  EXPECT_EQ(tooltip_draw(10, 10, &out), 0);  // hidden tips still measure; the draw pass asks
}

TEST_F(Tooltip, FrameInsets) {
  // A nine-part image of the atlas as the frame: insets from its parts.
  int frame = -1;
  for (int i = 0; i < 60 && frame < 0; i++) {
    tex_image *img = tex_image_get(i);
    if (img && img->parts == 9) frame = i;
  }
  ASSERT_GE(frame, 0);
  int32_t parts[18];
  tex_part_sizes(parts, frame);
  tooltip_set_style(frame, kBg, frame, 0xc8000000, kFont, kText, kMargin);
  tooltip_show_text("Last price");
  rect out;
  ASSERT_EQ(tooltip_draw(50, 50, &out), 0);
  EXPECT_EQ(out.x, 50 + parts[6] + 2);
  EXPECT_EQ(out.y, 66 + parts[3] + 2);
  EXPECT_EQ(out.w, w1 - (parts[6] + 2) - (parts[10] + 2));
  EXPECT_EQ(out.h, h1 - (parts[3] + 2) - (parts[15] + 2));
}

}  // namespace
