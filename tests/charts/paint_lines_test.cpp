// The layers over the price plot: lines by style (through the GL recorder),
// the caption, legend and data-box texts as tables, the data boxes' placement,
// and the hover's cross-hair and boxes.
#include "charts/paint_lines.h"

#include <gtest/gtest.h>

#include <cstring>

#include "charts/paint.h"
#include "lib/colour.h"
#include "lib/font.h"
#include "chart_model.h"
#include "paint_fixture.h"
#include "ui/widget.h"

namespace {

::testing::Environment* const kEnv = ::testing::AddGlobalTestEnvironment(new PaintRuntime);

std::string caption(const chart_plot* p) {
  char b[160];
  paint_caption_text(p, b, sizeof b);
  return b;
}

std::string legend(const chart_plot* p, const chart_ta* ta, size_t* values_at = nullptr) {
  char b[256];
  const ta_def* d = ta->is_overlay ? ta_overlay_def(ta->type) : ta_indicator_def(ta->type);
  paint_legend_text(p, ta, d, b, sizeof b, values_at);
  return b;
}

std::vector<std::string> table(int32_t n) {
  std::vector<std::string> v;
  for (int32_t i = 0; i < n; i++) v.push_back(paint_data_string(i));
  return v;
}

// --- Texts ---

TEST(PaintText, CaptionPerPeriodKindAndCount) {
  struct Case {
    int32_t kind, count;
    const char* want;
  } cases[] = {
      {1, 1, "BHP per Second: 12.5"},   {1, 30, "BHP every 30 Seconds: 12.5"}, {2, 1, "BHP per Minute: 12.5"},
      {2, 5, "BHP every 5 Minutes: 12.5"}, {3, 1, "BHP per Hour: 12.5"},       {3, 2, "BHP every 2 Hours: 12.5"},
      {4, 1, "BHP per Session: 12.5"},  {4, 2, "BHP every 2 Sessions: 12.5"}, {5, 1, "BHP Daily: 12.5"},
      {5, 3, "BHP every 3 Days: 12.5"}, {6, 1, "BHP Weekly: 12.5"},          {6, 2, "BHP every 2 Weeks: 12.5"},
      {7, 1, "BHP Monthly: 12.5"},      {7, 6, "BHP every 6 Months: 12.5"},  {8, 1, "BHP Yearly: 12.5"},
      {8, 3, "BHP every 3 Years: 12.5"}, {0, 1, "BHP: 12.5"},                {9, 1, "BHP: 12.5"},
      {12, 1, "BHP: 12.5"},
  };
  PaintPlot p;
  p.closes({10, 11, 12.5});
  for (const Case& c : cases) {
    p->eff_period = c.kind;
    p->eff_count = c.count;
    EXPECT_EQ(caption(p.get()), c.want) << c.kind << " x " << c.count;
  }
  // Without a visible sample: no close.
  p->last_visible = -1;
  p->eff_period = 5;
  p->eff_count = 1;
  EXPECT_EQ(caption(p.get()), "BHP Daily");
  // The text never passes its buffer.
  char small[8];
  EXPECT_EQ(paint_caption_text(p.get(), small, sizeof small), 7u);
  EXPECT_STREQ(small, "BHP Dai");
}

TEST(PaintText, Legends) {
  PaintPlot p;
  p.closes({10, 11, 12});
  chart_ta* boll = p.add(true, 4, {{11, 11, 11.25}, {12, 12, 13.5}, {10, 10, 9}});
  chart_ta* sma = p.add(true, 2, {{10.5, 11, 11.5}});
  chart_ta* vol = p.add(true, 9, {{1000, 2000, 1234567}});
  chart_ta* news = p.add(true, 13, {{0, 2, 1}});
  chart_ta* hist = p.add(false, 6, {{0.1, 0.2, 0.1}, {0.5, 0.6, 0.5}, {0.4, 0.4, 0.4}});
  chart_ta* vema = p.add(false, 3, {{1000, 900, 800}, {950, 900, 880}});
  chart_ta* gap = p.add(true, 2, {{10.5, 11, kChartNoValue}});
  EXPECT_EQ(legend(p.get(), boll), "Bollinger Bands (20,2.00) Mid: 11.25, Upper: 13.5, Lower: 9");
  EXPECT_EQ(legend(p.get(), sma), "SMA (50) 11.5");
  EXPECT_EQ(legend(p.get(), vol), "Volume 1,234,567");  // a caption routine without text: no parameters
  EXPECT_EQ(legend(p.get(), news), "News");             // news values are never listed
  news->params[0] = 1;
  news->params[2] = 0;
  EXPECT_EQ(legend(p.get(), news), "News (Sensitive Only,No Related)");
  EXPECT_EQ(legend(p.get(), hist), "MACD Hist (12,26,9) Fast: 0.50, Smoothed: 0.40, Diff: 0.10");
  EXPECT_EQ(legend(p.get(), vema), "Volume + EMA (20) 800, EMA: 880");
  EXPECT_EQ(legend(p.get(), gap), "SMA (50)");  // no value at the last visible sample
  size_t at = 0;
  std::string full = legend(p.get(), boll, &at);
  EXPECT_EQ(full.substr(0, at), "Bollinger Bands (20,2.00)");
  // Without samples no values.
  p->count = 0;
  EXPECT_EQ(legend(p.get(), sma), "SMA (50)");
}

TEST(PaintText, FormattersOfLines) {
  PaintPlot p;
  p.closes({1});
  struct Case {
    int32_t format;
    double v;
    const char* want;
  } cases[] = {{TA_FMT_PRICE, 12.34, "12.34"}, {TA_FMT_VOLUME, 1234567, "1,234,567"}, {TA_FMT_PERCENT, 12.345, "12.35%"},
               {TA_FMT_FLOAT0, 2.6, "3"},      {TA_FMT_FLOAT1, 2.25, "2.2"},          {TA_FMT_FLOAT2, 1.5, "1.50"},
               {TA_FMT_FLOAT3, 0.1234, "0.123"}};
  for (const Case& c : cases) EXPECT_STREQ(paint_format_value(p.get(), c.format, c.v), c.want) << c.format;
  EXPECT_EQ(paint_format_value(p.get(), TA_FMT_NONE, 1), nullptr);
}

TEST(PaintText, PriceBoxRows) {
  ss_time today = sstime_pack_date(10, 12, 2026);
  ss_time other = sstime_pack_date(9, 12, 2026);
  struct Case {
    const char* name;
    int32_t eod, period;
    ss_time t;
    bool index;
    std::vector<std::string> want;
  } cases[] = {
      {"daily bar at midnight", 1, 5, other, false,
       {" 9 Dec 2026", "", "Open", "10", "High", "13", "Low", "9", "Close", "12", "Volume", "1,000"}},
      {"daily bar of today", 1, 5, today, false,
       {"10 Dec 2026", "", "Open", "10", "High", "13", "Low", "9", "Close", "12", "Volume", "1,000"}},
      {"intraday today", 0, 2, today + 37815, false,
       {"10:30:15", "", "Open", "10", "High", "13", "Low", "9", "Close", "12", "Volume", "1,000"}},
      {"intraday another day", 0, 2, other + 37815, false,
       {" 9 Dec 2026", "", "10:30:15", "", "Open", "10", "High", "13", "Low", "9", "Close", "12", "Volume",
        "1,000"}},
      {"period 0", 0, 0, today + 37815, false, {"10:30:15", "", "Close", "12"}},
      {"an index", 1, 5, other, true, {" 9 Dec 2026", "", "Open", "10", "High", "13", "Low", "9", "Close", "12"}},
  };
  for (const Case& c : cases) {
    PaintPlot p;
    p.bars({10}, {13}, {9}, {12});
    p->times[0] = c.t;
    p->eod = c.eod;
    p->eff_period = c.period;
    p.stock.kind = c.index ? kKindIndex : kKindStock;
    EXPECT_EQ(table(paint_price_box_rows(p.get(), 0)), c.want) << c.name;
  }
}

TEST(PaintText, PriceBoxOverlaysAndTheCap) {
  PaintPlot p;
  p.bars({10, 10}, {13, 13}, {9, 9}, {12, 12});
  p->times[1] = sstime_pack_date(9, 12, 2026);
  p.add(true, 2, {{11, 11.5}});
  p.add(true, 13, {{1, 1}});                  // News: never in the box
  chart_ta* flat = p.add(true, 2, {{11, 11}});  // no range: left out
  flat->value_high = flat->value_low;
  p.add(true, 7, {{12, 12.5}, {9, kChartNoValue}});  // Price Channels: Lower has no value at 1
  p.add(true, 7, {{12, kChartNoValue}, {9, 9.5}});   // no value on line 0: left out
  std::vector<std::string> rows = table(paint_price_box_rows(p.get(), 1));
  std::vector<std::string> tail(rows.end() - 8, rows.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"SMA", "", "SMA", "11.5", "Price Channels", "", "Upper", "12.5"}));
  // The cap: twenty Bollinger Bands need 172 strings.
  PaintPlot q;
  q.bars({10}, {13}, {9}, {12});
  for (int k = 0; k < 20; k++) q.add(true, 4, {{11}, {12}, {10}});
  LogCapture log;
  EXPECT_EQ(paint_price_box_rows(q.get(), 0), kPaintDataStrings);
  EXPECT_EQ(log.count("too many data strings!"), 1);
  EXPECT_STREQ(paint_data_string(92), "Bollinger Bands");  // the first 100: 12 of the price, 8 a band
  EXPECT_STREQ(paint_data_string(98), "Lower");
  EXPECT_STREQ(paint_data_string(99), "10");
}

TEST(PaintText, IndicatorBoxRows) {
  PaintPlot p;
  p.closes({10, 11});
  chart_ta* hist = p.add(false, 6, {{0.1, 0.2}, {0.5, kChartNoValue}, {0.4, 0.3}});
  EXPECT_EQ(table(paint_indicator_box_rows(p.get(), hist, 1)),
            (std::vector<std::string>{"Diff", "0.20", "Smoothed", "0.30"}));
  chart_ta* empty = p.add(false, 4, {{kChartNoValue, kChartNoValue}});
  EXPECT_EQ(paint_indicator_box_rows(p.get(), empty, 1), 0);
}

// --- The box's layout and placement ---

TEST(PaintBox, LayoutSizesAndTheCloseRow) {
  PaintPlot p;
  p.bars({10}, {13}, {9}, {12});
  int32_t n = paint_price_box_rows(p.get(), 0);  // date, Open, High, Low, Close, Volume
  int32_t size[2] = {0, 0}, close = -1;
  paint_data_box_layout(nullptr, n, size, &close);
  chart_theme th = paint_theme();
  int32_t lh = th.line_height;
  EXPECT_EQ(size[1], 6 * lh + 4);
  EXPECT_EQ(close, 2 + 4 * lh + lh / 2);
  int32_t s[2];
  font_text_size(s, th.font_main, "Volume");
  int32_t wv = s[0];
  font_text_size(s, th.font_main, "1,000");
  EXPECT_GE(size[0], wv + s[0] + 12);
  // A wider box is kept; the glyphs are laid into the list.
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  int32_t wide[2] = {size[0] + 50, 0};
  paint_data_box_layout(&m, n, wide, &close);
  EXPECT_EQ(wide[0], size[0] + 50);
  EXPECT_GT(gmap_count(&m), 0);
  gmap_release(&m);
}

TEST(PaintBox, PlacementOfThePriceBox) {
  PaintPlot p(300, 200);  // chart 0..300 x 0..199, price pane 1..289 x 3..197
  struct Case {
    int32_t x, close_row, width, h, offset;
    int32_t want_x, want_y, shown;
  } cases[] = {
      {200, 100, 80, 60, 30, 90, 70, 1},    // left of the sample
      {114, 100, 80, 60, 30, 4, 70, 1},     // exactly width + 34 to its left: still left
      {113, 100, 80, 60, 30, 147, 70, 1},   // less: right, 34 out
      {100, 100, 80, 60, 30, 130, 70, 1},   // far less: right, 30 out
      {100, 100, 200, 60, 30, 89, 70, 1},   // ends at the pane's right edge
      {100, 100, 400, 60, 30, 0, 70, 1},    // never left of the chart
      {200, 190, 80, 60, 30, 90, 137, 1},   // ends at the pane's bottom
      {200, 10, 80, 60, 30, 90, 4, 1},      // never above the top + 4
      {200, 100, 80, 250, 30, 90, 4, 0},    // taller than the chart: not shown
  };
  for (const Case& c : cases) {
    paint_box_rect b{0, 0, 0, c.h, 0};
    paint_place_price_box(p.get(), c.x, c.close_row, c.width, c.offset, &b);
    EXPECT_EQ(b.x, c.want_x) << c.x << "," << c.width;
    EXPECT_EQ(b.y, c.want_y) << c.close_row;
    EXPECT_EQ(b.shown, c.shown);
    EXPECT_EQ(b.w, c.width);
  }
}

TEST(PaintBox, IndicatorBoxesStack) {
  PaintPlot p(300, 200);
  paint_box_rect above{90, 50, 80, 40, 1};
  struct Case {
    int32_t right, centre, h;
    paint_box_rect* above;
    int32_t want_x, want_y, shown;
  } cases[] = {
      {0, 120, 30, &above, 200 - 30 - 80, 105, 1},  // centred on its row
      {1, 120, 30, &above, 230, 105, 1},            // right of the sample
      {0, 60, 30, &above, 90, 91, 1},               // moved under the box above
      {0, 195, 30, nullptr, 90, 169, 1},            // kept above the chart bottom
      {0, 0, 30, nullptr, 90, 4, 1},                // and under the top + 4
  };
  for (const Case& c : cases) {
    paint_box_rect b{0, 0, 80, c.h, 0};
    paint_place_indicator_box(p.get(), 200, c.right, c.centre, c.above, &b);
    EXPECT_EQ(b.x, c.want_x);
    EXPECT_EQ(b.y, c.want_y) << c.centre;
    EXPECT_EQ(b.shown, c.shown);
  }
  // Pushed under a low box, it would pass the bottom: dropped.
  paint_box_rect low{90, 150, 80, 40, 1};
  paint_box_rect b{0, 0, 80, 30, 0};
  paint_place_indicator_box(p.get(), 200, 0, 170, &low, &b);
  EXPECT_EQ(b.shown, 0);
}

// --- Lines through the recorder ---

std::vector<std::string> strip_colours(const std::vector<Prim>& prims) {
  std::vector<std::string> out;
  for (const Prim& p : prims)
    if (p.kind == "GL_LINE_STRIP") out.push_back(p.colours.front());
  return out;
}

TEST(PaintLines, SmaAndEmaOverlaysLightenPerEarlierOne) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->type = 12;  // no price plot
  for (int k = 0; k < 3; k++) p.add(true, 2, {{10.5, 11, 11.5}});
  p.add(true, 3, {{10.5, 11, 11.5}});
  p.add(true, 3, {{10.5, 11, 11.5}});
  p.map();
  for (int pass = 0; pass < 2; pass++) {  // the counters start again every paint
    std::vector<std::string> got = strip_colours(primitives(record_paint(p.get())));
    uint32_t sma = chart_colour(0, 18 + 5), ema = chart_colour(0, 18 + 6);
    ASSERT_EQ(sma, 0xFFB246D5u);
    EXPECT_EQ(got, (std::vector<std::string>{colour_call(0xFFB246D5), colour_call(0xFFF286FF),
                                             colour_call(0xFFFFC6FF), colour_call(ema),
                                             colour_call(colour_lighten(ema, 40))}));
  }
}

TEST(PaintLines, BandFillBetweenTheLastTwoLines) {
  struct Case {
    int32_t type;
    int a, b;  // the lines the band lies between
  } cases[] = {{4, 1, 2}, {6, 1, 2}, {7, 0, 1}};  // Bollinger, Keltner (Mid to Lower), Price Channels
  for (const Case& c : cases) {
    PaintPlot p;
    p.closes({10, 11, 12, 11});
    p->type = 12;
    p->options = 0x800;
    std::vector<std::vector<double>> lines = {{10.5, 11, 11.5, 11}, {12, 12.5, 13, kChartNoValue}, {9, 9.5, 10, 10}};
    if (c.type == 7) lines.pop_back();
    chart_ta* ta = p.add(true, c.type, lines);
    p.map();
    std::vector<Prim> prims = primitives(record_paint(p.get()));
    const Prim* band = nullptr;
    for (const Prim& pr : prims)
      if (pr.kind == "GL_QUAD_STRIP") band = &pr;
    ASSERT_NE(band, nullptr) << c.type;
    std::vector<std::string> want;
    int32_t last = -1;
    for (int32_t i = 0; i < 4; i++) {
      uint32_t ra = ta->pixels[c.a][i], rb = ta->pixels[c.b][i];
      if (ra == kChartNoPixel || rb == kChartNoPixel) continue;
      want.push_back(vf(p->xpos[i] + 0.5, ra + 0.5));
      want.push_back(vf(p->xpos[i] + 0.5, rb + 0.5));
      last = i;
    }
    want.push_back(vf(p->xpos[last] + 0.5, ta->pixels[c.a][last] + 0.5));  // the last pair once more
    want.push_back(vf(p->xpos[last] + 0.5, ta->pixels[c.b][last] + 0.5));
    EXPECT_EQ(band->vertices, want) << c.type;
    EXPECT_EQ(band->colours.front(), colour_call(chart_colour(0, 11)));
  }
}

TEST(PaintLines, LevelLineAtTheFirstVisibleValue) {
  PaintPlot p;
  p.closes({10, 11, 12, 13});
  p->type = 12;
  chart_ta* close = p.add(true, 0, {{10, 11, 12, 13}});  // "Close", style 4
  chart_ta* prev = p.add(true, 1, {{9, 9, 9, 9}});       // "Prev Close", style 5 (dotted)
  p.map();
  for (int32_t first : {0, 2}) {
    p->first_visible = first;
    Calls calls = record_paint(p.get());
    std::vector<Prim> prims = primitives(calls);
    float y = close->pixels[0][first] + 0.5f;
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(1, y)), colour_call(chart_colour(0, 18 + 17))) << first;
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(289, y)), colour_call(chart_colour(0, 18 + 17)));
    EXPECT_NE(colour_of(prims, "GL_LINES", vf(1, prev->pixels[0][first] + 0.5f)), "");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "LineStipple(1,0x8888)"), calls.end());
    EXPECT_TRUE(balanced(calls));
  }
}

TEST(PaintLines, PointsDashesAndColumnBases) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->type = 12;
  chart_ta* boll = p.add(true, 4, {{10.5, 11, 11.5}, {12, 12, 12}, {9, 9, 9}});  // Mid as 2 x 2 marks
  chart_ta* hist = p.add(false, 6, {{-0.5, 0.5, 1.0}, {1, 1, 1}, {0.2, 0.2, 0.2}});  // Diff as columns
  chart_ta* vol = p.add(false, 2, {{100, 200, 300}});                                // columns on a 0 minimum
  p.indicator_panes(40);
  Calls calls = record_paint(p.get());
  std::vector<Prim> prims = primitives(calls);
  uint32_t r = boll->pixels[0][1];
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vf(30.5, r + 0.5)), colour_call(chart_colour(0, 18 + 10)));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vf(32.5, r + 2.5)), colour_call(chart_colour(0, 18 + 10)));
  // MACD Hist's Diff columns reach down to the zero row, drawn in colour 14.
  ASSERT_NE(hist->zero_y, -1);
  int32_t left = 30 - 2;  // bar width 5: x - (w - 1) / 2
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(left, hist->zero_y)), colour_call(chart_colour(0, 18 + 14)));
  // Its zero line is dotted (its fixed minimum is not 0); Volume's is not drawn.
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(hist->pane_x, hist->zero_y + 0.5)), colour_call(chart_colour(0, 3)));
  // Volume's columns start one row above its pane's bottom.
  EXPECT_NE(colour_of(prims, "GL_QUADS", vi(left, vol->pane_y + vol->pane_h - 1)), "");
  if (vol->zero_y != -1) {
    EXPECT_EQ(colour_of(prims, "GL_LINES", vf(vol->pane_x, vol->zero_y + 0.5)), "");
  }
  // Colorize of Volume: direction colours 18 and 19.
  vol->params[0] = 1;
  prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(left, vol->pixels[0][1])), colour_call(chart_colour(0, 18)));
  EXPECT_TRUE(balanced(calls));
}

TEST(PaintLines, DashedIndicatorLine) {
  // No registry line is dashed by default: give one a dashed style through a
  // private copy of a definition.
  PaintPlot p;
  p.closes({10, 11, 12});
  chart_ta* sma = p.add(true, 2, {{10.5, 11, 11.5}});
  p.map();
  ta_def d = *ta_overlay_def(2);
  d.lines[0].style = TA_DASHED;
  record_paint(p.get());  // sets the colour table of a paint
  glrecord_scope rec;
  gfx_reset();
  glrecord_clear();
  paint_ta_line(p.get(), sma, &d, 0);
  Calls calls = glrecord_calls();
  auto at = [&](const std::string& s) { return std::find(calls.begin(), calls.end(), s) - calls.begin(); };
  EXPECT_LT(at("LineStipple(2,0xF8F8)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_LT(at("Enable(GL_LINE_STIPPLE)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_GT(at("Disable(GL_LINE_STIPPLE)"), at("Begin(GL_LINE_STRIP)"));
  EXPECT_LT(at("Disable(GL_LINE_STIPPLE)"), (long)calls.size());
  EXPECT_TRUE(balanced(calls));
}

// The marks of image `image`: one TexCoord2f of its top-left corner a quad.
int marks_of(const Calls& calls, int32_t image) {
  tex_image* im = tex_image_get(image);
  if (!im || !im->part[0]) return -1;
  char s[64];
  snprintf(s, sizeof s, "TexCoord2f(%g,%g)", im->part[0]->left, im->part[0]->top);
  return count_of(calls, s);
}

TEST(PaintLines, NewsCountsStackImportantOverPlain) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->type = 12;
  p.add(true, 13, {{kChartNoValue, 2003, 0}});
  p.map();
  chart_theme th = paint_theme();
  ASSERT_NE(marks_of({}, th.news_sensitive), -1);
  Calls calls = record_paint(p.get());
  EXPECT_EQ(marks_of(calls, th.news_sensitive), 2);
  EXPECT_EQ(marks_of(calls, th.news_plain), 3);
  EXPECT_EQ(count_of(calls, colour_call(0xFFFFFFFF)) > 0, true);  // drawn white
  int32_t s[2];
  tex_size(s, th.news_sensitive);
  // The first mark one row below the pane top, centred on the sample.
  EXPECT_EQ(count_of(calls, vi(30 - s[0] / 2, p->pane_y + 1)), 1);
  EXPECT_TRUE(balanced(calls));
  // A short pane stops the stack at the first mark that would pass its bottom.
  p->pane_h = s[1] * 2 + 3;
  calls = record_paint(p.get());
  EXPECT_EQ(marks_of(calls, th.news_sensitive) + marks_of(calls, th.news_plain), 2);
}

// Intraday with option 0x80: single items along the top of the pane, at the
// column of their time; one before the opening is pinned at the left edge;
// an item close to the one before it stacks under it.
TEST(PaintLines, NewsItemsAlongThePaneTop) {
  PaintPlot p;
  ss_time today = p.exchange.date;
  auto at = [&](int h, int m) { return today + (ss_time)(h * 3600 + m * 60); };
  p.closes({10, 11, 12});
  for (int i = 0; i < 3; i++) p->times[i] = at(11 + i, 0);
  p->eod = 0;
  p->type = 12;
  p->options = 0x80;
  p->day_count = 1;
  p->days[0] = chart_day{today, at(10, 0), at(16, 0), 0, 6 * 3600};
  std::vector<ss_news> items = {make_news(sstime_pack_date(9, 12, 2026) + 36000, 0x1, 1),  // yesterday: skipped
                                make_news(at(9, 0), 0, 1), make_news(at(13, 0), 0x1, 1),
                                make_news(at(13, 1), 0x4, 1), make_news(at(15, 0), 0x2, 1)};
  ss_issuer issuer{};
  link_list(items, &issuer.news);
  p->issuer = &issuer;
  p.add(true, 13, {{0, 1, 1}});
  p.map();
  chart_theme th = paint_theme();
  int32_t plain[2], important[2], related[2];
  tex_size(plain, th.news_plain);
  tex_size(important, th.news_sensitive);
  tex_size(related, th.news_related);
  int32_t top = p->pane_y + 1;
  // Each quad's last vertex is its top-left corner.
  auto corner = [&](const int32_t* s, int32_t x, int32_t y) { return vi(x - s[0] / 2, y); };
  Calls calls = record_paint(p.get());
  EXPECT_EQ(marks_of(calls, th.news_sensitive), 1);
  EXPECT_EQ(marks_of(calls, th.news_related), 1);
  EXPECT_EQ(marks_of(calls, th.news_plain), 2);
  EXPECT_EQ(count_of(calls, corner(plain, p->pane_x + plain[0] / 2, top)), 1);  // 09:00: pinned at the left
  EXPECT_EQ(count_of(calls, corner(important, 144, top)), 1);                  // 13:00 at its column
  EXPECT_EQ(count_of(calls, corner(related, 145, top + important[1] + 1)), 1);  // 13:01 stacked under it
  EXPECT_EQ(count_of(calls, corner(plain, 240, top)), 1);                      // 15:00
  EXPECT_TRUE(balanced(calls));
  // Small charts draw every item at the top.
  p->options = 0x80 | 0x2000;
  calls = record_paint(p.get());
  EXPECT_EQ(count_of(calls, corner(related, 145, top)), 1);
  // Without 0x40 and 0x80 the per-sample counts are drawn instead.
  p->options = 0;
  calls = record_paint(p.get());
  EXPECT_EQ(marks_of(calls, th.news_plain), 2);  // one mark for each of the two samples with a value
  EXPECT_EQ(marks_of(calls, th.news_related), 0);
}

TEST(PaintLines, LegendsAreCutThenDropped) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->type = 12;
  p->options = 0x4;
  chart_ta* boll = p.add(true, 4, {{11, 11, 11.25}, {12, 12, 13.5}, {10, 10, 9}});
  p.map();
  chart_theme th = paint_theme();
  size_t at = 0;
  std::string full = legend(p.get(), boll, &at);
  int32_t s[2];
  font_text_size(s, th.font_main, full.c_str());
  int32_t wfull = s[0];
  font_text_size(s, th.font_main, full.substr(0, at).c_str());
  int32_t wcut = s[0];
  // The legend's box: background at alpha 180, from x 1 (pane x + 2 - 2).
  std::string box = colour_call((chart_colour(0, 4) & 0xFFFFFF) | 0xB4000000u);
  int32_t y = p->pane_y + 1 + th.line_height + 2 - 2;
  auto box_width = [&](int32_t pane_w) {
    p->pane_w = pane_w;
    std::vector<Prim> prims = primitives(record_paint(p.get()));
    for (const Prim& pr : prims)
      for (size_t i = 0; pr.kind == "GL_QUADS" && i + 2 < pr.vertices.size(); i += 4)
        if (pr.colours[i] == box && pr.vertices[i] == vi(1, y)) {
          int x2 = 0, y2 = 0;
          sscanf(pr.vertices[i + 2].c_str(), "Vertex2i(%d,%d)", &x2, &y2);
          return x2 - 1;
        }
    return -1;
  };
  EXPECT_EQ(box_width(wfull + 4), wfull + 4);   // fits
  EXPECT_EQ(box_width(wfull + 3), wcut + 4);    // values cut off
  EXPECT_EQ(box_width(wcut + 3), -1);           // dropped
}

// --- Hover ---

TEST(PaintHover, CrossHairAndBoxes) {
  PaintPlot p(400, 300);
  p.bars({10, 11, 12, 11}, {13, 13, 13, 13}, {9, 9, 9, 9}, {11, 12, 11, 12}, 100, 50, 5);
  p.add(true, 2, {{10.5, 11, 11.5, 11.5}});
  chart_ta* rsi = p.add(false, 4, {{30, 50, 70, 60}});
  p.indicator_panes(60);
  p.view.hovering = 1;
  p.view.hover_index = 2;
  p.view.rebuild = 1;
  Calls calls = record_paint(p.get());
  EXPECT_EQ(p.view.rebuild, 0);
  EXPECT_TRUE(p.view.price_box.shown);
  EXPECT_TRUE(rsi->box_shown);
  // The price box left of the sample (x 200), its Close row level with the close.
  EXPECT_EQ(p.view.price_box.x, 200 - p.view.price_box.w - 30);
  EXPECT_EQ(p.view.price_box.y + p.view.close_offset, (int32_t)p->y_close[2]);
  // The indicator box on the same side, under the price box when they meet.
  EXPECT_EQ(rsi->box_x, 200 - 30 - rsi->box_w);
  EXPECT_GE(rsi->box_y, p.view.price_box.y + p.view.price_box.h);  // the boxes do not overlap
  // Cross-hair: a vertical 3 pixels wide and a horizontal at the close, in entry 16.
  std::vector<Prim> prims = primitives(calls);
  std::string e16 = colour_call(chart_colour(0, 16));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(199, 0)), e16);
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(202, 0)), e16);
  int32_t cy = (int32_t)p->y_close[2];
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(p->pane_x, cy - 1)), e16);
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(p->pane_x + p->pane_w + 10, cy + 2)), e16);
  // Segments: vertical, close, the SMA, RSI's line.
  EXPECT_EQ(gmap_count(&p.view.cross), 4 * 4);
  // The boxes' text in entry 15, after the cross-hair.
  EXPECT_GT(count_of(calls, colour_call(chart_colour(0, 15))), 0);
  EXPECT_TRUE(balanced(calls));
  // A highlighted segment and those after it are faint.
  p.view.highlight = 1;
  prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(p->pane_x, cy - 1)),
            colour_call((chart_colour(0, 16) & 0xFFFFFF) | 0x64000000u));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(199, 0)), e16);
  // The pointer moved to another sample: the lists follow without being asked.
  p.view.highlight = -1;
  p.view.hover_index = 1;
  prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(149, 0)), e16);
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(199, 0)), "");
  // Off the visible samples: nothing of the hover.
  p.view.hover_index = 9;
  prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_QUADS", vi(199, 0)), "");
}

TEST(PaintHover, GridsWhileHovering) {
  PaintPlot p;
  p.closes({10, 11, 12});
  p->options = 0x3;
  p.axes.time.major.begin(2);
  p.axes.time.major.add(50);
  p.axes.time.minor.begin(2);
  p.axes.time.minor.add(60);
  p.axes.value.major.begin(2);
  p.axes.value.major.add(100);
  p.view.hovering = 1;
  p.view.hover_index = 1;
  p.view.rebuild = 1;
  std::vector<Prim> prims = primitives(record_paint(p.get()));
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(50.5, 1.5)), colour_call(chart_colour(0, 2)));  // major in entry 2
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(60.5, 1.5)), "");                              // no minor
  EXPECT_EQ(colour_of(prims, "GL_LINES", vf(0.5, 100.5)), "");                             // no value grid
}

}  // namespace
