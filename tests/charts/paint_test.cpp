// Chart painting through the GL call recorder (the order of layers, the price
// plot of each chart type, colours, primitives) and, under Xvfb on Mesa's
// llvmpipe, sample pixels of a painted chart of each type.
#include "charts/paint.h"

#include <gtest/gtest.h>

#include "charts/paint_lines.h"
#include "lib/colour.h"
#include "lib/gfx.h"
#include "lib/glapi.h"
#include "paint_fixture.h"
#include "atlasref.h"
#include "ui/widget.h"

namespace {

::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new PaintRuntime);

constexpr uint32_t kColorize = 0x1000;
constexpr uint32_t kLight4 = 0xFFF2F0F0, kDark4 = 0xFF19190F;

// --- The recorder ---

TEST(PaintRecord, SmallChartPaintsOnlyItsBackgroundAndReportsIt) {
  PaintPlot p(300, 40);  // 39 pixels high as the widget records it
  p.closes({1, 2, 3});
  p->options = 0x7 | kColorize;
  uint32_t bg = 0;
  Calls calls = record_paint(p.get(), &bg);
  EXPECT_EQ(bg, kLight4);
  EXPECT_EQ(calls, (Calls{"Begin(GL_QUADS)", colour_call(kLight4), vi(0, 0), vi(0, 40), vi(300, 40), vi(300, 0),
                          "End()"}));
}

TEST(PaintRecord, ColourTableChoice) {
  struct Case {
    uint32_t options, own, want;
  } cases[] = {
      {0, 0, kLight4},
      {0x200000, 0, kDark4},
      {0x2000 | 0x200000, 0, chart_colour(2, 4)},
      {0x2000, 0, chart_colour(2, 4)},
      {0x200000, 0xFF123456, 0xFF123456},
  };
  for (const Case& c : cases) {
    PaintPlot p;
    p.closes({1, 2});
    p->options = c.options;
    p->background = c.own;
    uint32_t bg = 0;
    Calls calls = record_paint(p.get(), &bg);
    EXPECT_EQ(bg, c.want) << std::hex << c.options;
    EXPECT_EQ(paint_colour_set(c.options), c.options & 0x2000 ? 2 : c.options & 0x200000 ? 1 : 0);
    EXPECT_TRUE(balanced(calls));
  }
}

TEST(PaintRecord, TypeTwelvePaintsEverythingButThePricePlotAndWarns) {
  for (int32_t type : {1, 12}) {
    PaintPlot p;
    p.closes({10, 11, 12, 11});
    p->type = type;
    p->options = 0x1 | 0x2 | 0x4;
    p.axes.time.major.begin(4);
    p.axes.time.major.add(50);
    p.axes.value.major.begin(4);
    p.axes.value.major.add(100);
    p.add(true, 2, {{10.5, 11, 11.5, 11.5}});  // SMA
    p.map();
    LogCapture log;
    Calls calls = record_paint(p.get());
    std::vector<Prim> prims = primitives(calls);
    int strips = 0;
    for (const Prim& pr : prims) strips += pr.kind == "GL_LINE_STRIP";
    EXPECT_EQ(strips, type == 12 ? 1 : 2) << type;  // the SMA, and the close line of type 1
    EXPECT_EQ(log.count("todo"), type == 12 ? 1 : 0);
    // Grids: the time line from one row below the top to the bottom, the
    // value line from the left edge to 10 past the pane.
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(50.5, 1.5)), colour_call(chart_colour(0, 1)));
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(50.5, 199.5)), colour_call(chart_colour(0, 1)));
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(0.5, 100.5)), colour_call(chart_colour(0, 1)));
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(299.5, 100.5)), colour_call(chart_colour(0, 1)));
    // Caption and legend: textured glyph quads in entry 0.
    EXPECT_GT(count_prefix(calls, "TexCoord2f"), 8);
    EXPECT_TRUE(balanced(calls));
  }
}

TEST(PaintRecord, RisingCandlesAreHollowFallingOnesSolid) {
  for (uint32_t opt : {kColorize, 0u}) {
    PaintPlot p;
    // Rising at x 20, falling at x 30; range 9..13 maps 13 -> 3, 12 -> 51,
    // 10 -> 148, 9 -> 197.
    p.bars({10, 12}, {13, 13}, {9, 9}, {12, 10});
    p->options = opt;
    ASSERT_EQ(p->y_close[0], 51u);
    ASSERT_EQ(p->y_open[0], 148u);
    Calls calls = record_paint(p.get());
    std::vector<Prim> prims = primitives(calls);
    uint32_t up = opt ? chart_colour(0, 6) : chart_colour(0, 10);
    uint32_t down = opt ? chart_colour(0, 7) : chart_colour(0, 10);
    // The rising candle: an outline over x 18..22 and rows 51..148 ...
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(18.5, 51.5)), colour_call(up));
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(23.5, 148.5)), colour_call(up));
    // ... filled with the background one pixel inside.
    EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(19, 52)), colour_call(kLight4));
    EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(22, 148)), colour_call(kLight4));
    // The falling one: a solid body from x 28 to 33, the close row to the open row.
    EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(28, 51)), colour_call(down));
    EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(33, 149)), colour_call(down));
    // Wicks: both candles have a high above the body and a low below it.
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(20.5, 3.5)), colour_call(up));
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(30.5, 198.5)), colour_call(down));
    EXPECT_TRUE(balanced(calls));
  }
}

// One pixel wide, a candle is its column from high to low: one line in its
// colour, the pixels the three passes would cover together.
TEST(PaintRecord, OnePixelCandlesAreSingleLines) {
  PaintPlot p;
  p.bars({10, 12}, {13, 12.5}, {9, 9.5}, {12, 10}, 20, 10, 1);
  p->options = kColorize;
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  ASSERT_EQ(prims.size(), 2u);
  EXPECT_EQ(prims[1].kind, "GL_LINES");
  EXPECT_EQ(prims[1].vertices, (std::vector<std::string>{vf(20.5, p->y_high[0] + 0.5), vf(20.5, p->y_low[0] + 1.5),
                                                          vf(30.5, p->y_high[1] + 0.5), vf(30.5, p->y_low[1] + 1.5)}));
  EXPECT_EQ(prims[1].colours, (std::vector<std::string>{colour_call(chart_colour(0, 6)), colour_call(chart_colour(0, 6)),
                                                         colour_call(chart_colour(0, 7)), colour_call(chart_colour(0, 7))}));
}

TEST(PaintRecord, OhlcTicksAtBarWidthOne) {
  PaintPlot p;
  p.bars({11}, {13}, {9}, {12}, 20, 10, 1);
  p->type = 7;
  uint32_t o = p->y_open[0], c = p->y_close[0], hi = p->y_high[0], lo = p->y_low[0];
  Calls calls = record_paint(p.get());
  std::vector<Prim> prims = primitives(calls);
  ASSERT_EQ(prims.size(), 2u);  // the background, then one run of lines
  EXPECT_EQ(prims[1].kind, "GL_LINES");
  EXPECT_EQ(prims[1].vertices, (std::vector<std::string>{vf(20.5, hi + 0.5), vf(20.5, lo + 1.5),  // high-low
                                                          vf(18.5, o + 0.5), vf(20.5, o + 0.5),   // open, 1 long
                                                          vf(20.5, c + 0.5), vf(22.5, c + 0.5)}));  // close, 2
  // Bars and HLC: fewer ticks.
  for (auto [type, n] : {std::pair{3, 2u}, std::pair{6, 4u}}) {
    p->type = type;
    prims = primitives(record_paint(p.get()));
    ASSERT_EQ(prims.size(), 2u);
    EXPECT_EQ(prims[1].vertices.size(), n) << type;
  }
}

TEST(PaintRecord, OneLinePerColumnOverFiveHundredSamples) {
  PaintPlot p(400, 200);
  std::vector<double> c(500);
  for (int i = 0; i < 500; i++) c[i] = 10 + (i * 37 % 11);
  p.closes(c);
  for (int i = 0; i < 500; i++) {
    p->xpos[i] = (uint32_t)(10 + i / 5 * 3);
    p->bar_width[i] = 1;
  }
  p->type = 8;
  p->options = 0x100;
  Calls calls = record_paint(p.get());
  std::vector<Prim> prims = primitives(calls);
  ASSERT_EQ(prims.back().kind, "GL_LINES");
  EXPECT_EQ(prims.back().vertices.size(), 200u);
  // Each column's line starts at its run's highest close.
  uint32_t best = *std::min_element(p->y_close, p->y_close + 5);
  EXPECT_EQ(prims.back().vertices[0], vf(10.5, best + 0.5));
  EXPECT_EQ(prims.back().vertices[1], vf(10.5, p->pane_y + p->pane_h + 0.5));
  // Without the option: one quad per sample.
  p->options = 0;
  prims = primitives(record_paint(p.get()));
  EXPECT_EQ(prims.back().vertices.size(), 2000u);
}

TEST(PaintRecord, ColorizeKeepsTheColourOverAFlatBar) {
  PaintPlot p;
  // Down, flat, up, flat.
  p.bars({12, 11, 10, 12}, {13, 13, 13, 13}, {9, 9, 9, 9}, {10, 11, 12, 12});
  p->type = 3;
  p->options = kColorize;
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  std::string down = colour_call(chart_colour(0, 7)), up = colour_call(chart_colour(0, 6));
  float hi = p->y_high[0] + 0.5f;
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(20.5, hi)), down);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(30.5, hi)), down);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(40.5, hi)), up);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(50.5, hi)), up);
  // Colorize off: every bar in entry 10.
  p->options = 0;
  prims = primitives(record_paint(p.get()));
  for (int x : {20, 30, 40, 50}) EXPECT_EQ(colour_of(prims, "GL_LINES", vf(x + 0.5, hi)), colour_call(chart_colour(0, 10)));
}

// A flat first bar takes "up" at the start of every paint, whatever the paint
// before it left behind.
TEST(PaintRecord, EveryPaintStartsWithTheUpColour) {
  PaintPlot falling;
  falling.bars({12}, {13}, {9}, {10});
  falling->type = 3;
  falling->options = kColorize;
  PaintPlot flat;
  flat.bars({11, 12}, {13, 13}, {9, 9}, {11, 10});
  flat->type = 3;
  flat->options = kColorize;
  flat->change[0] = -1;  // a change that is not 0, so no other rule picks "up"
  record_paint(falling.get());
  std::vector<Prim> prims = primitives(record_paint(flat.get()));
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(20.5, flat->y_high[0] + 0.5)), colour_call(chart_colour(0, 6)));
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(30.5, flat->y_high[1] + 0.5)), colour_call(chart_colour(0, 7)));
}

TEST(PaintRecord, DotsAndThickDots) {
  PaintPlot p;
  p.closes({10, 12});
  p->type = 2;
  uint32_t r = p->y_close[1];
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(30, r)), colour_call(chart_colour(0, 10)));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(32, r + 2)), colour_call(chart_colour(0, 10)));
  p->options = 0x200;
  Calls calls = record_paint(p.get());
  prims = primitives(calls);
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(28, r - 2)), colour_call(chart_colour(0, 10)));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(33, r + 3)), colour_call(chart_colour(0, 10)));
}

TEST(PaintRecord, ThickLinesAreSmoothedAndReset) {
  PaintPlot p;
  p.closes({10, 12, 11});
  p->type = 1;
  p->options = 0x200;
  Calls calls = record_paint(p.get());
  auto at = [&](const std::string& s) { return std::find(calls.begin(), calls.end(), s) - calls.begin(); };
  ASSERT_LT(at("LineWidth(2.5)"), (long)calls.size());
  EXPECT_LT(at("LineWidth(2.5)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_LT(at("Enable(GL_LINE_SMOOTH)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_GT(at("LineWidth(1)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_GT(at("Disable(GL_LINE_SMOOTH)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_TRUE(balanced(calls));
}

TEST(PaintRecord, StepLineAndItsFill) {
  PaintPlot p;
  p.closes({10, 12, 11});
  p->type = 16;
  p->options = 0x800;
  uint32_t r0 = p->y_close[0], r1 = p->y_close[1], r2 = p->y_close[2];
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  int strip = -1, fill = -1;
  for (int i = 0; i < (int)prims.size(); i++) {
    if (prims[i].kind == "GL_LINE_STRIP") strip = i;
    if (prims[i].kind == "GL_QUAD_STRIP") fill = i;
  }
  ASSERT_GE(strip, 0);
  ASSERT_GE(fill, 0);
  EXPECT_LT(fill, strip);  // the fill lies under the line
  EXPECT_EQ(prims[strip].vertices,
            (std::vector<std::string>{vf(20.5, r0 + 0.5), vf(30.5, r0 + 0.5), vf(30.5, r1 + 0.5), vf(40.5, r1 + 0.5),
                                      vf(40.5, r2 + 0.5)}));
  float bottom = p->pane_y + p->pane_h;
  EXPECT_EQ(prims[fill].vertices.front(), vf(20.5, r0 + 0.5));
  EXPECT_EQ(prims[fill].vertices[1], vf(20.5, bottom));
  EXPECT_EQ(prims[fill].colours.front(), colour_call(chart_colour(0, 11)));
}

TEST(PaintRecord, EquiVolumeBoxes) {
  PaintPlot p;
  p.bars({10}, {13}, {9}, {12}, 20, 10, 6);
  p->type = 11;
  uint32_t hi = p->y_high[0], lo = p->y_low[0];
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  // h = 3: columns 17 .. 22, rows high .. low.
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(17.5, hi + 0.5)), colour_call(chart_colour(0, 10)));
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(23.5, lo + 0.5)), colour_call(chart_colour(0, 10)));
}

TEST(PaintRecord, MarkersSelectionAndZeroLine) {
  PaintPlot p;
  p.closes({-1, 2, 3});
  p->marked.from_px = 40;
  p->marked.to_px = 60;
  p->cursor.time = p->times[1];
  p->cursor.index = 1;
  p.view.select_from = 90;
  p.view.select_to = 80;
  Calls calls = record_paint(p.get());
  std::vector<Prim> prims = primitives(calls);
  std::string e13 = colour_call(chart_colour(0, 13)), e14 = colour_call(chart_colour(0, 14));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(40, 1)), e14);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(40.5, 1.5)), e13);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(60.5, 1.5)), e13);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(30.5, 1.5)), e13);  // the time marker at sample 1
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(80, 0)), e14);
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(90.5, 0.5)), e13);
  ASSERT_NE(p->zero_y, -1);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "LineStipple(2,0x5555)"), calls.end());
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(1.5, p->zero_y + 0.5)), colour_call(chart_colour(0, 3)));
  EXPECT_TRUE(balanced(calls));
}

TEST(PaintRecord, ShadingOfEveryOtherIndicatorPane) {
  PaintPlot p;
  p.closes({10, 11, 12});
  for (int k = 0; k < 3; k++) p.add(false, 4, {{30, 50, 70}});  // RSI
  p.indicator_panes(30);
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  chart_ta* a = p->indicators;
  chart_ta* b = a->next;
  chart_ta* c = b->next;
  std::string e5 = colour_call(chart_colour(0, 5));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(0, a->pane_y)), e5);
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(300, c->pane_y + c->pane_h)), e5);
  int shaded = 0;
  for (const Prim& pr : prims)
    for (size_t i = 0; i < pr.vertices.size(); i++) shaded += pr.kind == "GL_QUADS" && pr.colours[i] == e5;
  EXPECT_EQ(shaded, 8);  // the first and the third pane, not the second
  (void)b;
}

TEST(PaintRecord, FromDateLabelAndThemePanel) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->options = 0x400000;
  std::string label = colour_call(0x60ffffff);
  p->from = sstime_pack_date(3, 11, 2026);
  EXPECT_EQ(count_of(record_paint(p.get()), label) > 0, true);
  p->from = p.exchange.date;  // a span starting today: no label
  EXPECT_EQ(count_of(record_paint(p.get()), label), 0);
  // The theme-following table frames the background as a panel: the
  // background darkened by 8 under it.
  p->options = 0x2000;
  uint32_t bg = 0;
  Calls calls = record_paint(p.get(), &bg);
  EXPECT_GT(count_of(calls, colour_call(colour_darken(bg, 8))), 0);
  EXPECT_TRUE(balanced(calls));
}

// Over the screen of Mesa's rasteriser: every chart type in the light and
// the dark table, sampled where the plot must have put its colours.
class PaintPixels : public AtlasPixelTest {
 protected:
  // Paints the chart into a black window; the background it reported.
  uint32_t paint_on_screen(chart_plot* plot) {
    pixeltest_clear(0xFF000000);
    gfx_reset();
    gfx_set_viewport(kWidth, kHeight);
    uint32_t bg = 0;
    paint_chart(plot, &bg);
    gfx_flush();
    return bg;
  }
};

struct TypeCase {
  int32_t type;
  const char* name;
};

TEST_F(PaintPixels, EveryChartTypeLightAndDark) {
  const TypeCase types[] = {{1, "Close"},  {2, "Dots"}, {3, "Bars"},     {4, "Candlestick"}, {5, "CandleVolume"},
                            {6, "HLC"},    {7, "OHLC"}, {8, "Columns"},  {11, "EquiVolume"}, {16, "Step"}};
  for (uint32_t dark : {0u, 0x200000u}) {
    for (const TypeCase& tc : types) {
      SCOPED_TRACE(std::string(tc.name) + (dark ? " dark" : " light"));
      PaintPlot p(300, 200);
      // Rising (10 -> 14) then falling (14 -> 10), wide bars 40 apart.
      p.bars({10, 14}, {15, 15}, {9, 9}, {14, 10}, 80, 100, 21);
      p->type = tc.type;
      p->options = dark | kColorize | 0x1;
      p.axes.time.major.begin(2);
      p.axes.time.major.add(130);
      uint32_t bg = paint_on_screen(p.get());
      uint32_t set = dark ? 1 : 0;
      uint32_t up = chart_colour(set, 6), down = chart_colour(set, 7);
      EXPECT_EQ(bg, dark ? kDark4 : kLight4);
      // Background far from the plot.
      EXPECT_TRUE(pixeltest_colour_at(250, 20, bg));
      uint32_t top1 = p->y_close[0], top2 = p->y_open[1];  // row of 14
      uint32_t row10 = p->y_open[0];
      int mid = (int)(top1 + row10) / 2;
      switch (tc.type) {
        case 4:
        case 5:
          // Hollow rising candle: outline up, background inside; solid falling one.
          EXPECT_TRUE(pixeltest_colour_at(80 - 10, mid, up));
          EXPECT_TRUE(pixeltest_colour_at(80, mid, bg));
          EXPECT_TRUE(pixeltest_colour_at(180, mid, down));
          EXPECT_TRUE(pixeltest_colour_at(180 - 8, mid, down));
          break;
        case 3:
        case 6:
        case 7:
          EXPECT_TRUE(pixeltest_colour_at(80, mid, up));
          EXPECT_TRUE(pixeltest_colour_at(180, mid, down));
          EXPECT_TRUE(pixeltest_colour_at(81, mid, bg));
          break;
        case 8:
          // Columns take their direction colours from entries 18 and 19.
          EXPECT_TRUE(pixeltest_colour_at(80, (int)p->y_close[0] + 5, chart_colour(set, 18)));
          EXPECT_TRUE(pixeltest_colour_at(180, (int)p->y_close[1] + 5, chart_colour(set, 19)));
          break;
        case 2:
          EXPECT_TRUE(pixeltest_colour_at(80, (int)top1, up));
          EXPECT_TRUE(pixeltest_colour_at(181, (int)p->y_close[1] + 1, down));
          break;
        case 11:
          // Box edges from high to low; inside the box the background.
          EXPECT_TRUE(pixeltest_colour_at(80 - 10, mid, up));
          EXPECT_TRUE(pixeltest_colour_at(80, mid, bg));
          break;
        case 1:
        case 16: {
          // The line leaves the first close; far below it the background.
          pixeltest_rgba at = pixeltest_pixel(80, (int)top1);
          uint32_t seen = at.r | (at.g << 8) | (at.b << 16) | 0xFF000000u;
          EXPECT_FALSE(pixeltest_colour_at(80, (int)top1, bg, 10)) << std::hex << seen;
          EXPECT_TRUE(pixeltest_colour_at(80, 190, bg));
          break;
        }
      }
      (void)top2;
      // The time grid column at x 130, below the top row (a light or dark tint).
      pixeltest_rgba g = pixeltest_pixel(130, 195);
      pixeltest_rgba b = pixeltest_pixel(131, 195);
      EXPECT_TRUE(g.r != b.r || g.g != b.g || g.b != b.b) << "no grid line at x 130";
    }
  }
}

TEST_F(PaintPixels, LegendBoxAndCaptionOverThePlot) {
  PaintPlot p(300, 200);
  p.closes({10, 14, 12}, 80, 60, 5);
  p->type = 1;
  p->options = 0x4;
  p.add(true, 2, {{11, 12, 13}});
  p.map();
  uint32_t bg = paint_on_screen(p.get());
  // The caption's text in entry 0 somewhere in its first line; the box under
  // it blends the background over itself (the same colour).
  chart_theme th = paint_theme();
  int hits = 0;
  for (int x = 3; x < 60; x++)
    for (int y = 5; y < 5 + th.line_height; y++) hits += pixeltest_colour_at(x, y, chart_colour(0, 0), 40) ? 1 : 0;
  EXPECT_GT(hits, 5);
  // Right of the caption text: the background.
  EXPECT_TRUE(pixeltest_colour_at(280, 6, bg));
}

TEST_F(PaintPixels, CrossHairAndDataBoxUnderThePointer) {
  PaintPlot p(300, 200);
  p.bars({10, 11, 12, 11}, {13, 13, 13, 13}, {9, 9, 9, 9}, {11, 12, 11, 12}, 150, 30, 5);
  p->type = 1;
  p.view.hovering = 1;
  p.view.hover_index = 2;  // x 210
  p.view.rebuild = 1;
  uint32_t bg = paint_on_screen(p.get());
  ASSERT_TRUE(p.view.price_box.shown);
  const paint_box_rect& b = p.view.price_box;
  EXPECT_LT(b.x + b.w, 210);  // left of the pointer
  // The cross-hair: three columns at 209..211 in entry 16, the background beside.
  int32_t y = (int32_t)p->y_close[2] + 20;
  for (int x : {209, 210, 211}) EXPECT_TRUE(pixeltest_colour_at(x, y, chart_colour(0, 16)));
  EXPECT_TRUE(pixeltest_colour_at(213, y, bg));
  // The box: tinted, not the background, in its middle rows right of the labels.
  pixeltest_rgba in = pixeltest_pixel(b.x + b.w - 2, b.y + 1);
  EXPECT_FALSE(pixeltest_colour_at(b.x + b.w - 2, b.y + 1, bg, 4)) << int(in.r) << "," << int(in.g) << "," << int(in.b);
  // Its text in entry 15 somewhere on the Close row.
  int hits = 0;
  for (int x = b.x; x < b.x + b.w; x++)
    for (int dy = -4; dy <= 4; dy++) hits += pixeltest_colour_at(x, b.y + p.view.close_offset + dy, chart_colour(0, 15), 40);
  EXPECT_GT(hits, 3);
}

}  // namespace
