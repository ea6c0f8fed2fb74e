// Placement arithmetic of the floating windows, as tables: the anchor rule
// with every side, the hover popup's least size, far-edge and flip rules,
// the general detail popup above the pointer, the group bar's clamp, the
// quote pop window and the popup document by orientation.
#include <gtest/gtest.h>

#include "popups/place.h"

namespace {

const rect kOs = {0, 0, 800, 600};

TEST(PlaceAnchor, Table) {
  struct Case {
    rect a;
    uint32_t side;
    int32_t mx, my, pw, ph;
    int32_t x, y;
    const char *what;
  } cases[] = {
      // Centred and below, near the bottom: goes above the anchor.
      {{100, 580, 80, 16}, 35, 140, 585, 200, 100, 40, 482, "35 near the bottom"},
      {{100, 100, 80, 20}, 35, 140, 105, 200, 100, 40, 118, "35 with room below"},
      {{0, 100, 80, 20}, 35, 10, 105, 200, 100, 0, 118, "centred held at 0"},
      {{700, 100, 80, 20}, 35, 795, 105, 200, 100, 599, 118, "centred held at the right"},
      {{100, 100, 50, 20}, 1 | 32, 110, 105, 200, 100, 148, 118, "right of the anchor"},
      {{100, 100, 50, 20}, 1 | 32, 140, 105, 200, 100, 152, 118, "right, beside the pointer"},
      {{700, 100, 50, 20}, 1 | 32, 710, 105, 200, 100, 502, 118, "right flips to the left"},
      {{100, 100, 50, 20}, 1 | 32, 110, 125, 200, 100, 148, 133, "below, beside the pointer"},
      {{400, 100, 50, 20}, 0 | 32, 410, 105, 200, 100, 202, 118, "left of the anchor"},
      {{400, 100, 50, 20}, 0 | 32, 395, 105, 200, 100, 191, 118, "left, beside the pointer"},
      {{100, 100, 50, 20}, 0 | 32, 110, 105, 200, 100, 148, 118, "left without room: right"},
      {{700, 100, 50, 20}, 0 | 32, 710, 105, 750, 100, 49, 118, "left without room either side"},
      {{100, 300, 50, 20}, 1 | 16, 110, 305, 200, 100, 148, 201, "above, beside the pointer"},
      {{100, 300, 50, 20}, 1 | 16, 110, 320, 200, 100, 148, 202, "above the anchor"},
      {{100, 50, 50, 20}, 3 | 16, 120, 55, 200, 100, 20, 68, "above without room, centred: below"},
      {{100, 50, 50, 20}, 1 | 16, 110, 55, 200, 100, 148, 0, "above without room: top"},
      {{100, 580, 50, 16}, 1 | 32, 110, 585, 200, 100, 148, 499, "below without room: bottom"},
      {{100, 300, 50, 20}, 1, 110, 305, 200, 100, 148, 305, "at the pointer"},
      {{100, 550, 50, 20}, 1, 110, 555, 200, 100, 148, 499, "at the pointer, near the bottom"},
      {{100, 550, 50, 20}, 3, 120, 555, 200, 100, 20, 452, "centred at the pointer, near the bottom"},
  };
  for (const Case &c : cases) {
    int32_t x = -1, y = -1;
    place_by_anchor(c.a, c.side, c.mx, c.my, kOs, c.pw, c.ph, &x, &y);
    EXPECT_EQ(x, c.x) << c.what;
    EXPECT_EQ(y, c.y) << c.what;
  }
}

TEST(PlaceAnchor, ConsumedByUseSideKept) {
  screen_set_popup_anchor(100, 100, 50, 20, 35);
  EXPECT_TRUE(screen_popup_anchor_set());
  int32_t x, y;
  EXPECT_TRUE(screen_popup_position(&x, &y, {10, 10}));
  EXPECT_FALSE(screen_popup_anchor_set());
  EXPECT_FALSE(screen_popup_position(&x, &y, {10, 10}));
}

TEST(PlaceHover, LeastSize) {
  struct {
    int32_t ow, oh, u, w, h;
  } cases[] = {{1000, 800, 16, 500, 400}, {1600, 1200, 16, 576, 400}, {400, 300, 16, 200, 150},
               {2000, 2000, 20, 720, 500}};
  for (auto &c : cases) {
    size z = place_hover_min(c.ow, c.oh, c.u);
    EXPECT_EQ(z.w, c.w) << c.ow << "x" << c.oh;
    EXPECT_EQ(z.h, c.h) << c.ow << "x" << c.oh;
  }
}

TEST(PlaceHover, FarEdgesFlipsAndMargins) {
  struct {
    int32_t x, y, fx, fy, pw, ph, wx, wy;
    const char *what;
  } cases[] = {
      {-300, 50, -1, -1, 200, 100, 100, 50, "negative x: right edge at 300"},
      {50, -300, -1, -1, 200, 100, 50, 200, "negative y: bottom edge at 300"},
      {700, 50, 650, -1, 200, 100, 450, 50, "flip x"},
      {50, 560, -1, 540, 200, 100, 50, 440, "flip y"},
      {700, 50, -1, -1, 200, 100, 591, 50, "held inside the right margin"},
      {2, 2, -1, -1, 200, 100, 8, 8, "held inside the near margin"},
      {10, 10, -1, -1, 900, 100, 8, 10, "wider than the screen"},
  };
  for (auto &c : cases) {
    int32_t x = c.x, y = c.y;
    place_hover_free(&x, &y, c.pw, c.ph, c.fx, c.fy, kOs, kOs, 8);
    EXPECT_EQ(x, c.wx) << c.what;
    EXPECT_EQ(y, c.wy) << c.what;
  }
}

TEST(PlaceGendtl, AtMouseAndRightEdge) {
  struct {
    int32_t x, y;
    bool at_mouse;
    int32_t wx, wy;
    bool flag_after;
  } cases[] = {
      {100, 30, true, 100, 30, true},    // no room above: stays below, flag stays
      {100, 100, true, 100, 58, false},  // above the point, flag clears
      {100, 100, false, 100, 100, false},
      {2, 100, false, 8, 100, false},     // raised to the margin
      {750, 100, false, 634, 100, false}, // to the left of the point
  };
  for (auto &c : cases) {
    int32_t x = c.x, y = c.y;
    bool flag = c.at_mouse;
    place_gendtl_free(&x, &y, 100, 40, kOs, 8, &flag);
    EXPECT_EQ(x, c.wx) << c.x << "," << c.y;
    EXPECT_EQ(y, c.wy) << c.x << "," << c.y;
    EXPECT_EQ(flag, c.flag_after) << c.x << "," << c.y;
  }
}

TEST(PlaceGroupbar, ClampInside) {
  struct {
    int32_t x, y, wx, wy;
  } cases[] = {{-5, -5, 8, 8}, {750, 100, 691, 100}, {100, 580, 100, 391}, {300, 300, 300, 300}};
  for (auto &c : cases) {
    int32_t x = c.x, y = c.y;
    place_clamp_inside(&x, &y, 100, 200, kOs, 8);
    EXPECT_EQ(x, c.wx);
    EXPECT_EQ(y, c.wy);
  }
  int32_t x = 500;
  place_depthdtl_free(&x, 400, kOs, 8);
  EXPECT_EQ(x, 84);
}

TEST(PlaceQuotePopwin, SizeAndCorner) {
  const rect desk = {0, 30, 800, 570};
  rect r = place_quote_popwin(0, 0, kOs, desk, 16);
  EXPECT_EQ(r.w, 400);  // min(400, 300 * 144 / 100)
  EXPECT_EQ(r.h, 300);
  EXPECT_EQ(r.x, 8);
  EXPECT_EQ(r.y, 38);
  r = place_quote_popwin(700, 500, kOs, desk, 16);
  EXPECT_EQ(r.x, 799 - 408);
  EXPECT_EQ(r.y, 599 - 308);
  rect q = place_quick_default({0, 20, 1200, 860});
  EXPECT_EQ(q.x, 300);
  EXPECT_EQ(q.y, 235);
  EXPECT_EQ(q.w, 600);
  EXPECT_EQ(q.h, 430);
}

doc_place_in doc_base() {
  doc_place_in in = {};
  in.scr = {0, 0, 1200, 900};
  in.desk0 = {0, 20, 1200, 860};
  in.gap = 4;
  in.current = {0, 0, 0, 0};
  in.has_document = true;
  return in;
}

TEST(PlaceDocument, WaitingKeepsItsPlaceThenTakesItsSize) {
  doc_place_in in = doc_base();
  in.orientation = kDocOrientUnknown;
  doc_place_out out = place_popup_document(in);
  EXPECT_TRUE(out.waiting);
  EXPECT_FALSE(out.take);
  // The page size arrives: portrait A4 in points.
  in.orientation = kDocPortrait;
  in.page_w = 595;
  in.page_h = 842;
  out = place_popup_document(in);
  EXPECT_FALSE(out.waiting);
  ASSERT_TRUE(out.take);
  // AH = 881 - 18 = 863, w = 595 * 863 / 842 = 609, centred on desktop 0.
  EXPECT_EQ(out.r.w, 609);
  EXPECT_EQ(out.r.h, 863);
  EXPECT_EQ(out.r.x, 600 - 304);
  EXPECT_EQ(out.r.y, 450 - 431);
}

TEST(PlaceDocument, OnScreenOnlyClampedUnknownWithoutDocumentPlaced) {
  doc_place_in in = doc_base();
  in.current = {100, 100, 300, 400};
  in.orientation = kDocPortrait;
  in.page_w = 595;
  in.page_h = 842;
  doc_place_out out = place_popup_document(in);
  EXPECT_FALSE(out.take);
  // Without a document the unknown shape is laid out by the A4 ratio.
  in = doc_base();
  in.has_document = false;
  out = place_popup_document(in);
  EXPECT_FALSE(out.waiting);
  ASSERT_TRUE(out.take);
  EXPECT_EQ(out.r.w, 863 * 10000 / 14142);
}

TEST(PlaceDocument, LandscapeAndFitWidthWithoutPageHeight) {
  doc_place_in in = doc_base();
  in.orientation = kDocLandscape;
  in.page_w = 842;
  in.page_h = 595;
  doc_place_out out = place_popup_document(in);
  ASSERT_TRUE(out.take);
  // h = 595 * 1195 / 842 = 844, held at 863 * 4 / 5 = 690; w = AW - 4g.
  EXPECT_EQ(out.r.h, 690);
  EXPECT_EQ(out.r.w, 1195 - 8);
  // Fitting to width with the page height still 0 takes the A4 ratio.
  in.fit_width = true;
  in.page_w = 0;
  in.page_h = 0;
  out = place_popup_document(in);
  ASSERT_TRUE(out.take);
  EXPECT_EQ(out.r.h, 690);
  EXPECT_EQ(out.r.w, 690 * 14142 / 10000);
  // Another orientation gives nothing.
  in.orientation = 7;
  out = place_popup_document(in);
  EXPECT_EQ(out.r.w, 0);
  EXPECT_EQ(out.r.h, 0);
}

}  // namespace
