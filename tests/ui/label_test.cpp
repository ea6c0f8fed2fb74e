// The label under Xvfb: layout only when something changed, the cut with
// "..." checked against FreeType's advances, background and text pixels,
// a label without text colour drawing only its background, the shadow
// drawn first, the size request, and the link's click.
#include "ui/label.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/font.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "uitest.h"
#include "widgetpix.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);
using Calls = std::vector<std::string>;

class Label : public WidgetPixelTest {
 protected:
  label *make(const char *text, rect r, uint32_t align, int32_t font, colour bg, colour fg,
              const padding *pad = nullptr) {
    label *l = label_new(nullptr, text, align, font, bg, fg, pad);
    made.push_back(l);
    l->r = r;
    widget_show(l);
    return l;
  }
  // Whether some pixel of r is within tolerance of c.
  static bool any_pixel(const rect &r, uint32_t c, int tol = 40) {
    for (int y = r.y; y < r.y + r.h; y++)
      for (int x = r.x; x < r.x + r.w; x++)
        if (pixeltest_colour_at(x, y, c, tol)) return true;
    return false;
  }
};

TEST_F(Label, LaysOutOnlyWhenSomethingChanged) {
  label *l = make("Last", {10, 10, 120, 20}, 0, 4, 0, 0xffffffff);
  widget_draw(l);
  ASSERT_EQ(l->layouts, 1u);
  struct {
    const char *what;
    void (*change)(label *);
    uint32_t layouts;  // after the next draw
    int queued;        // redraw requests
  } steps[] = {
      {"same text", [](label *x) { label_set_text(x, "Last"); }, 1, 0},
      {"draw again", [](label *) {}, 1, 0},
      {"new text", [](label *x) { label_set_text(x, "Bid"); }, 2, 1},
      {"printf of the same", [](label *x) { label_printf(x, "%s", "Bid"); }, 2, 0},
      {"colour", [](label *x) { label_set_colour(x, 0xff00ff00); }, 2, 1},
      {"background", [](label *x) { label_set_bg(x, 0xff202020); }, 2, 1},
      {"font", [](label *x) { label_set_font(x, 6); }, 3, 1},
      {"align", [](label *x) { label_set_align(x, 2); }, 4, 1},
      {"geometry", [](label *x) { x->cls->geometry_changed(x); }, 5, 1},
      {"restyle", [](label *x) { x->cls->restyle(x); }, 6, 1},
  };
  for (auto &s : steps) {
    queued = 0;
    l->flags &= ~WIDGET_DIRTY;
    s.change(l);
    EXPECT_EQ(queued, s.queued) << s.what;
    widget_draw(l);
    EXPECT_EQ(l->layouts, s.layouts) << s.what;
  }
  label_printf(l, "%d.%02d", 12, 5);
  EXPECT_STREQ(label_text(l), "12.05");
  label_set_text(l, nullptr);
  EXPECT_STREQ(label_text(l), "");
  std::string big(300, 'x');
  label_set_text(l, big.c_str());
  EXPECT_EQ(std::string(label_text(l)), std::string(kLabelText, 'x'));
}

TEST_F(Label, TooLongTextEndsInDotsMeasuredByFreeType) {
  const int font = 4;
  FontRef ft(font);
  ASSERT_TRUE(ft.ok());
  const char *text = "ABCDEFGHIJKL";
  int room = 5 * ft.advance('M');
  padding pad = {0, 3, 0, 3};
  label *l = make(text, {10, 10, room + 6, 20}, 0, font, 0, 0xffffffff, &pad);
  widget_draw(l);
  // The reference: the longest start whose advances and "..." fit the room.
  int dots = 3 * ft.advance('.');
  int n = 0, width = 0;
  while (text[n] && width + ft.advance(text[n]) + dots <= room) width += ft.advance(text[n++]);
  ASSERT_GT(n, 0);
  ASSERT_LT(n, 12);
  EXPECT_EQ(l->text_rect.w, width + dots) << n << " characters kept";
  EXPECT_EQ(l->text_rect.x, 13);
  EXPECT_LE(l->text_rect.x + l->text_rect.w, 10 + 3 + room);
  EXPECT_STREQ(label_text(l), text);  // the label keeps the whole text
}

TEST_F(Label, BackgroundAndTextPixels) {
  const colour kBg = 0xff803010, kFg = 0xffffffff;
  label *l = make("MMMM", {20, 30, 100, 24}, 0x40, 9, kBg, kFg);
  widget_draw(l);
  gfx_flush();
  EXPECT_TRUE(pixeltest_colour_at(21, 31, kBg));
  EXPECT_TRUE(pixeltest_colour_at(118, 52, kBg));
  EXPECT_TRUE(pixeltest_colour_at(19, 31, 0xff000000));  // outside: untouched
  EXPECT_TRUE(any_pixel(l->text_rect, kFg, 10));
}

TEST_F(Label, NoTextColourDrawsOnlyTheBackground) {
  const colour kBg = 0xff00c000;
  label *l = make("MMMM", {20, 30, 100, 24}, 0x40, 9, kBg, 0);
  glrecord_scope rec(true);
  widget_draw(l);
  gfx_flush();
  for (const std::string &c : glrecord_calls()) {
    EXPECT_EQ(c.find("TexCoord"), std::string::npos) << c;
    EXPECT_EQ(c.find("TexCoordPointer"), std::string::npos) << c;
  }
  for (int x = 20; x < 120; x += 7)
    for (int y = 30; y < 54; y += 5) ASSERT_TRUE(pixeltest_colour_at(x, y, kBg));
}

TEST_F(Label, ShadowIsDrawnFirstOffsetInBlack) {
  label *l = make("MMMM", {20, 30, 120, 30}, 0x1040, 11, 0xff808080, 0xffffffff);
  glrecord_scope rec(true);
  widget_draw(l);
  gfx_flush();
  const Calls &calls = glrecord_calls();
  int black = -1, white = -1;
  for (size_t i = 0; i < calls.size(); i++) {
    if (calls[i] == "Color4ub(0,0,0,255)" && black < 0) black = (int)i;
    if (calls[i] == "Color4ub(255,255,255,255)" && white < 0) white = (int)i;
  }
  ASSERT_GE(black, 0);
  ASSERT_GT(white, black);
  // Below and right of the white glyphs lies their black shadow.
  rect t = l->text_rect;
  EXPECT_TRUE(any_pixel({t.x + 1, t.y + 1, t.w, t.h}, 0xff000000, 10));
  EXPECT_TRUE(any_pixel(t, 0xffffffff, 10));
  size s;
  l->cls->reqsize(l, &s);
  int32_t wh[2];
  font_text_size(wh, 11, "MMMM");
  EXPECT_EQ(s.w, wh[0] + 1);  // the shadow's pixel
}

TEST_F(Label, SizeRequest) {
  int32_t em, ascent, descent, wh[2];
  font_metrics(&em, nullptr, &ascent, &descent, 6);
  padding pad = {1, 2, 3, 4};
  label *h = make("Volume", {0, 0, 10, 10}, 0, 6, 0, 1, &pad);
  label *v = make("ABC", {0, 0, 10, 10}, 0x100, 6, 0, 1, &pad);
  size s;
  h->cls->reqsize(h, &s);
  font_text_size(wh, 6, "Volume");
  EXPECT_EQ(s.w, wh[0] + 6);
  EXPECT_EQ(s.h, ascent + descent + 4);
  v->cls->reqsize(v, &s);
  EXPECT_EQ(s.w, em + 6);
  EXPECT_EQ(s.h, 3 * (ascent + descent) + 4);
  // The remembered size holds for shorter texts.
  label_remember_size(h);
  label_set_text(h, "V");
  h->cls->reqsize(h, &s);
  EXPECT_EQ(s.w, wh[0] + 6);
}

struct Clicks {
  int n = 0;
  int last = 0;
};

TEST_F(Label, ClickOnTheTextOnly) {
  label *l = make("Open", {10, 10, 200, 20}, 0, 6, 0, 0xffffffff);
  static Clicks clicks;
  clicks = {};
  label_set_click(l, [](label *, void *arg, int n) {
    static_cast<Clicks *>(arg)->n++;
    static_cast<Clicks *>(arg)->last = n;
  }, &clicks, 42);
  widget_draw(l);
  rect t = l->text_rect;
  struct {
    int32_t x, y;
    int button;
    int clicks;
  } cases[] = {
      {t.x + 1, t.y + 1, 1, 1},
      {t.x + t.w + 20, t.y + 1, 1, 1},  // right of the text: inside the label only
      {t.x + 1, t.y + 1, 2, 1},         // another button
      {t.x + t.w - 1, t.y + t.h - 1, 1, 2},
  };
  for (auto &c : cases) {
    l->cls->release(l, c.x, c.y, c.button);
    EXPECT_EQ(clicks.n, c.clicks) << c.x << "," << c.y;
  }
  EXPECT_EQ(clicks.last, 42);
  queued = 0;
  l->flags &= ~WIDGET_DIRTY;
  l->cls->leave(l);  // the underline may have to go
  EXPECT_EQ(queued, 1);
}

}  // namespace
