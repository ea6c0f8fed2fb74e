// Texture fonts: measuring against FreeType's advances, placement of drawn
// and laid-out text by every alignment and vertical flag, shadows, vertical
// text, the quads through the recorder, and glyph pixels under Xvfb.
#include "lib/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/gfx.h"
#include "atlasref.h"
#include "glyphcheck.h"
#include "lib/glrecord.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "testlog.h"
#include "ui/widget.h"

namespace {

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

using Calls = std::vector<std::string>;

class Font : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
  }
  static void TearDownTestSuite() {
    gmap_fini();
    tex_fini();
  }
  void SetUp() override {
    rec_ = new glrecord_scope;
    gfx_reset();
    tex_context_new(0);
    tex_select_context(0);
    glrecord_clear();
  }
  void TearDown() override {
    gfx_flush();
    tex_context_forget(0);
    delete rec_;
  }
  glrecord_scope *rec_ = nullptr;
};

// --- Which fonts carry small digits ---

// Read from the glyphs: the value fonts draw 'a'-'j' lower than the digits
// and all of one width; text, terminal, header and figure fonts do not.
TEST_F(Font, SmallDigitsOnlyInTheValueFonts) {
  for (int32_t font = 0; font < 21; font++) {
    const bool value = font == 5 || font == 7 || font == 10 || font == 12;
    EXPECT_EQ(font_has_small_digits(font), value) << "font " << font;
  }
  EXPECT_FALSE(font_has_small_digits(99)) << "no such font";
}

// The watch hears every text laid out or drawn in a colour, with its font
// and rect; measuring only (colour 0) is not drawing.
TEST_F(Font, TextWatchHearsLayoutAndDrawing) {
  struct seen_text {
    std::string text;
    int32_t font;
    rect r;
    const gmap *list;
  };
  std::vector<seen_text> seen;
  font_set_text_watch(
      [](const char *text, int32_t font, const rect &r, const gmap *list, void *arg) {
        static_cast<std::vector<seen_text> *>(arg)->push_back({text, font, r, list});
      },
      &seen);
  rect drawn;
  font_draw("Bid", 10, 30, 0, 4, 0xFFFFFFFFu, &drawn);
  font_draw("measured", 10, 30, 0, 4, 0, nullptr);
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  ASSERT_EQ(gmap_begin(&m, 0), 0);
  rect laid;
  ASSERT_EQ(font_layout(&m, "12.bc", 50, 60, 1, 5, &laid), 0);
  gmap_end(&m);
  gmap_release(&m);
  font_set_text_watch(nullptr, nullptr);
  font_draw("after", 10, 30, 0, 4, 0xFFFFFFFFu, nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text, "Bid");
  EXPECT_EQ(seen[0].font, 4);
  EXPECT_EQ(seen[0].r.x, drawn.x);
  EXPECT_EQ(seen[0].r.w, drawn.w);
  EXPECT_EQ(seen[0].list, nullptr);
  EXPECT_EQ(seen[1].list, &m);
  EXPECT_EQ(seen[1].text, "12.bc");
  EXPECT_EQ(seen[1].font, 5);
  EXPECT_EQ(seen[1].r.x, laid.x);
  EXPECT_EQ(seen[1].r.x + seen[1].r.w, 50) << "right-aligned at x";
}

// The glyph check's reading of a text: a formatter's small digits, or words
// whose letters a value font would turn into small digits.
TEST_F(Font, GlyphCheckTellsSmallDigitsFromWords) {
  struct row {
    const char *text;
    bool small, word;
  } const rows[] = {
      {"157.f", true, false},    {"449.cg", true, false},   {"-.cc%", true, false},
      {"158` ", true, false},    {"1.cK", true, false},     {":da", true, false},
      {"157.5", false, false},   {"1,234", false, false},   {"10:30am", false, true},
      {"General", false, true},  {"G", false, false},       {"www.kestrel", false, true},
      {"Top Volume", false, true}, {"NEWS", false, false},  {"10 Dec", false, true},
  };
  for (const row &r : rows) {
    EXPECT_EQ(glyphcheck_has_small_digits(r.text), r.small) << r.text;
    EXPECT_EQ(glyphcheck_has_word(r.text), r.word) << r.text;
  }
  glyph_watch w;
  glyph_watch::seen("157.f", 4, rect{}, nullptr, &w);    // letters for small digits
  glyph_watch::seen("157.f", 5, rect{}, nullptr, &w);    // right
  glyph_watch::seen("General", 5, rect{}, nullptr, &w);  // small digits in a word
  glyph_watch::seen("General", 4, rect{}, nullptr, &w);  // right
  EXPECT_EQ(w.faults, (std::set<std::pair<std::string, int>>{{"157.f", 4}, {"General", 5}}));
  // Two cells of one laid-out row that cover the same pixels print over
  // each other ("16.34%$698,714"); side by side they do not.
  gmap row;
  glyph_watch::seen("16.34%", 5, rect{100, 10, 40, 9}, &row, &w);
  glyph_watch::seen("$698,714", 5, rect{141, 10, 50, 9}, &row, &w);
  EXPECT_TRUE(w.overlaps.empty());
  glyph_watch::seen("143,298", 5, rect{130, 10, 45, 9}, &row, &w);
  EXPECT_EQ(w.overlaps.size(), 2u) << w.overlap_report();
}

// --- Measuring against FreeType ---

struct Measure {
  int font;
  const char *text;
};

const Measure kMeasures[] = {
    {4, "Bid 12.50 x 300"}, {6, "The quick brown fox, jumps!"}, {9, "WWW.mmm...|||"},
    {11, "gjpqy"},          {2, "ls -la /tmp"},                 {3, "$ make -j4"},
    {5, "1,234,567VOL"},    {17, "LAST (AUD)"},                 {19, "10:45 AM"},
};

TEST_F(Font, TextSizeIsFreeTypesAdvanceAndRise) {
  for (const Measure &m : kMeasures) {
    SCOPED_TRACE(m.text);
    FontRef ft(m.font);
    ASSERT_TRUE(ft.ok());
    int width = 0, rise = 0, digit = ft.digit_advance();
    for (const char *p = m.text; *p; p++) {
      FT_GlyphSlot g = ft.render(*p);
      ASSERT_NE(g, nullptr);
      bool is_digit = *p >= '0' && *p <= '9';
      width += is_digit ? digit : int((g->advance.x + 32) >> 6);
      if (g->bitmap.rows > 0) rise = std::max(rise, g->bitmap_top);
    }
    int32_t size[2];
    font_text_size(size, m.font, m.text);
    EXPECT_EQ(size[0], width);
    EXPECT_EQ(size[1], rise);
    int32_t em, dg, a, d;
    font_metrics(&em, &dg, &a, &d, m.font);
    EXPECT_EQ(em, ft.advance('M'));
    EXPECT_EQ(dg, digit);
    EXPECT_EQ(a, ft.ascent());
    EXPECT_EQ(d, ft.descent());
  }
}

TEST_F(Font, MissingGlyphsMeasureNothing) {
  int32_t s[2];
  font_text_size(s, 8, "");
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(s[1], 0);
  // Font 13 (a header font) has no '#' and no '~'.
  EXPECT_EQ(font_glyph_width('#', 13), 0);
  EXPECT_EQ(font_glyph_height('#', 13), 0);
  font_text_size(s, 13, "#~#");
  EXPECT_EQ(s[0], 0);
  int32_t with[2];
  font_text_size(s, 13, "A#B");
  font_text_size(with, 13, "AB");
  EXPECT_EQ(s[0], with[0]);
  // Codes are taken modulo 128.
  EXPECT_EQ(font_glyph_width('A' + 128, 8), font_glyph_width('A', 8));
  // A space is a glyph of height 0 with a width.
  EXPECT_GT(font_glyph_width(' ', 8), 0);
  EXPECT_EQ(font_glyph_height(' ', 8), 0);
  // An unknown font measures nothing.
  font_text_size(s, 99, "abc");
  EXPECT_EQ(s[0], 0);
}

// --- Immediate text ---

struct Quad {
  int x, y, w, h;
};

// The textured quads of the recorded calls.
std::vector<Quad> quads(const Calls &calls) {
  std::vector<Quad> out;
  std::vector<std::pair<int, int>> v;
  for (const std::string &c : calls) {
    int x, y;
    if (sscanf(c.c_str(), "Vertex2i(%d,%d)", &x, &y) == 2) v.push_back({x, y});
    if (v.size() == 4) {
      out.push_back({v[3].first, v[3].second, v[1].first - v[0].first, v[0].second - v[3].second});
      v.clear();
    }
  }
  return out;
}

TEST_F(Font, DrawnRunIsOnePrimitiveOfGlyphQuads) {
  const int f = 8;
  const char *text = "Hi, Ag";
  font_draw(text, 100, 50, 0, f, 0xFFFFFFFFu, nullptr);
  gfx_flush();
  Calls calls = glrecord_calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Begin(GL_QUADS)"), 1);
  std::vector<Quad> q = quads(calls);
  // One quad per inked glyph (the space has none), advancing by widths.
  ASSERT_EQ(q.size(), 5u);
  const tex_font *font = tex_font_get(f);
  int x = 100;
  size_t k = 0;
  for (const char *p = text; *p; p++) {
    const tex_subtex *g = font->glyph[int(*p)];
    if (g->height > 0) {
      EXPECT_EQ(q[k].x, x) << *p;
      EXPECT_EQ(q[k].y, 50 + g->bearing_y + 1) << *p;
      EXPECT_EQ(q[k].w, g->width) << *p;
      EXPECT_EQ(q[k].h, g->height) << *p;
      k++;
    }
    x += g->width;
  }
}

TEST_F(Font, PlacementByFlags) {
  const int f = 9;
  const char *text = "Fill 42";
  int32_t size[2], a, d;
  font_text_size(size, f, text);
  font_metrics(nullptr, nullptr, &a, &d, f);
  const int w = size[0], r = size[1];
  struct Case {
    uint32_t flags;
    int x, y;  // where the baseline starts
  } cases[] = {
      {0x00, 100, 60},
      {0x01, 100 - w, 60},
      {0x02, 100 - (w - 1) / 2, 60},
      {0x10, 100, 60 + a},
      {0x20, 100, 60 - a},
      {0x40, 100, 60 + a / 2},
      {0x80, 100, 60 + (a + d + 1) / 2},
      {0x30, 100, 60},  // other values: the baseline
      {0x12, 100 - (w - 1) / 2, 60 + a},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    rect out;
    glrecord_clear();
    font_draw(text, 100, 60, c.flags, f, 0xFF00FF00u, &out);
    EXPECT_EQ(out.x, c.x);
    EXPECT_EQ(out.y, c.y + 1 - r);
    EXPECT_EQ(out.w, w);
    EXPECT_EQ(out.h, r);
    std::vector<Quad> q = quads(glrecord_calls());
    ASSERT_FALSE(q.empty());
    EXPECT_EQ(q[0].x, c.x);  // 'F' has no left bearing
    EXPECT_EQ(q[0].y, c.y + tex_font_get(f)->glyph['F']->bearing_y + 1);
    if (c.flags == 0x01) {
      EXPECT_EQ(q.back().x + q.back().w, 100);  // right edge at x
    }
  }
}

TEST_F(Font, ColourZeroMeasuresOnly) {
  rect out = {};
  font_draw("abc", 10, 20, 0x1001, 8, 0, &out);
  EXPECT_TRUE(glrecord_calls().empty());
  EXPECT_GT(out.w, 0);
  out = {1, 2, 3, 4};
  font_draw(nullptr, 10, 20, 0, 8, 0xFFFFFFFFu, &out);
  EXPECT_TRUE(glrecord_calls().empty());
}

TEST_F(Font, Shadows) {
  struct Case {
    uint32_t flags;
    colour c;
    const char *shadow;  // null: no shadow pass
  } cases[] = {
      {0x1000, 0xFFFFFFFFu, "Color4ub(0,0,0,20)"},
      {0x2000, 0xFFFFFFFFu, "Color4ub(0,0,0,48)"},
      {0x3000, 0xC8FFFFFFu, "Color4ub(0,0,0,100)"},
      {0x4000, 0xFFFFFFFFu, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    gfx_flush();
    glrecord_clear();
    font_draw("T", 10, 20, c.flags, 8, c.c, nullptr);
    Calls calls = glrecord_calls();
    std::vector<Quad> q = quads(calls);
    if (!c.shadow) {
      ASSERT_EQ(q.size(), 1u);
      continue;
    }
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].x, q[1].x + 1);  // the shadow first, one pixel right
    EXPECT_EQ(q[0].y, q[1].y);
    auto sh = std::find(calls.begin(), calls.end(), c.shadow);
    ASSERT_NE(sh, calls.end());
  }
  // Half of alpha 1 is nothing: the whole call draws nothing at all.
  gfx_flush();
  glrecord_clear();
  rect out;
  font_draw("T", 10, 20, 0x3000, 8, 0x01FFFFFFu, &out);
  EXPECT_TRUE(glrecord_calls().empty());
  EXPECT_GT(out.w, 0);
}

TEST_F(Font, RightToLeftIsRefused) {
  LogCapture log;
  rect out;
  font_draw("abc", 10, 20, 0x200, 8, 0xFFFFFFFFu, &out);
  EXPECT_TRUE(log.has("right to left not supported"));
  EXPECT_TRUE(quads(glrecord_calls()).empty());
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  EXPECT_EQ(font_layout(&m, "abc", 10, 20, 0x200, 8, &out), 0);
  EXPECT_EQ(m.count, 0);
  EXPECT_EQ(out.w, 0);
  gmap_release(&m);
}

TEST_F(Font, VerticalTextOneCharacterALine) {
  const int f = 8;
  int32_t em, a, d;
  font_metrics(&em, nullptr, &a, &d, f);
  const char *text = "MiW";
  for (uint32_t align : {0u, 1u, 2u}) {
    SCOPED_TRACE(align);
    gfx_flush();
    glrecord_clear();
    rect out;
    font_draw(text, 50, 40, 0x100 | align, f, 0xFFFFFFFFu, &out);
    int x = align == 1 ? 50 - em : align == 2 ? 50 - em / 2 : 50;
    EXPECT_EQ(out.x, x);
    EXPECT_EQ(out.y, 40 - a);
    EXPECT_EQ(out.w, em);
    EXPECT_EQ(out.h, d + 3 * (a + d));
    std::vector<Quad> q = quads(glrecord_calls());
    ASSERT_EQ(q.size(), 3u);
    for (int i = 0; i < 3; i++) {
      const tex_subtex *g = tex_font_get(f)->glyph[int(text[i])];
      int gx = align == 0 ? x : align == 2 ? x + em / 2 - g->width / 2 : x + em - g->width;
      EXPECT_EQ(q[size_t(i)].x, gx);
      EXPECT_EQ(q[size_t(i)].y, 40 + i * (a + d) + g->bearing_y + 1);
    }
  }
  // Vertical placement.
  struct Case {
    uint32_t flags;
    int y;
  } cases[] = {{0x110, 40 + a}, {0x120, 40 - 3 * (a + d) - a}, {0x140, 40 - 3 * (a + d) / 2 - a},
               {0x180, 40 - 3 * (a + d + 1) / 2}};
  for (const Case &c : cases) {
    rect out;
    font_draw(text, 50, 40, c.flags, f, 0, &out);
    EXPECT_EQ(out.y, c.y - a) << c.flags;
  }
}

// --- Laid-out text ---

TEST_F(Font, LayoutMatchesDrawingOnePixelHigher) {
  const int f = 6;
  const char *text = "Ask 12.5";
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 4);
  ASSERT_EQ(gmap_begin(&m, 0), 0);
  rect lr;
  ASSERT_EQ(font_layout(&m, text, 30, 70, 0, f, &lr), 0);
  EXPECT_EQ(m.count, 8 * int(strlen(text)));
  EXPECT_EQ(uint32_t(m.texture), tex_current_name());
  font_draw(text, 30, 70, 0, f, 0xFFFFFFFFu, nullptr);
  std::vector<Quad> drawn = quads(glrecord_calls());
  glrecord_clear();
  gmap_end(&m);
  gmap_draw(&m);
  std::vector<Quad> laid = quads(glrecord_calls());
  // The layout keeps the blank's quad; drawing skips it.
  laid.erase(std::remove_if(laid.begin(), laid.end(), [](const Quad &q) { return q.h == 0; }), laid.end());
  ASSERT_EQ(laid.size(), drawn.size());
  for (size_t i = 0; i < laid.size(); i++) {
    EXPECT_EQ(laid[i].x, drawn[i].x);
    EXPECT_EQ(laid[i].y + 1, drawn[i].y);
    EXPECT_EQ(laid[i].w, drawn[i].w);
  }
  int32_t size[2];
  font_text_size(size, f, text);
  EXPECT_EQ(lr.x, 30);
  EXPECT_EQ(lr.w, size[0]);
  EXPECT_EQ(lr.h, font_glyph_height('A', f));
  EXPECT_EQ(lr.y, 70 + 1 - lr.h);
  gmap_release(&m);
}

TEST_F(Font, LayoutPlacementByFlags) {
  const int f = 6;
  const char *text = "Hx";
  int32_t a, d, size[2];
  font_metrics(nullptr, nullptr, &a, &d, f);
  font_text_size(size, f, text);
  const int w = size[0];
  struct Case {
    uint32_t flags;
    int dx, dy;
  } cases[] = {{0x00, 0, 0},         {0x01, -w, 0},     {0x02, -(w - 1) / 2, 0},     {0x10, 0, a + d},
               {0x20, 0, -d},        {0x40, 0, (a + 1) / 2}, {0x80, 0, (a + d + 1) / 2}, {0x21, -w, -d}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    gmap m;
    gmap_setup(&m, GMAP_QUADS, 0, 0);
    rect out;
    ASSERT_EQ(font_layout(&m, text, 200, 100, c.flags, f, &out), 0);
    // First quad's top-left vertex is the fourth (x, y) pair.
    EXPECT_EQ(m.vertices[6], 200 + c.dx);
    EXPECT_EQ(m.vertices[7], 100 + c.dy + tex_font_get(f)->glyph['H']->bearing_y);
    EXPECT_EQ(out.x, 200 + c.dx);
    EXPECT_EQ(out.y, 100 + c.dy + 1 - font_glyph_height('H', f));
    EXPECT_EQ(out.w, w);
    gmap_release(&m);
  }
}

TEST_F(Font, LayoutAppendsAndGrowsTheList) {
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 4);
  ASSERT_EQ(gmap_begin(&m, 4), 0);  // room for one glyph only
  std::string long_text(400, 'x');
  ASSERT_EQ(font_layout(&m, "ab", 0, 10, 0, 8, nullptr), 0);
  gmap_mark(&m);
  ASSERT_EQ(font_layout(&m, long_text.c_str(), 0, 30, 0, 8, nullptr), 0);
  LogCapture log;
  gmap_end(&m);
  EXPECT_FALSE(log.has("overrun"));
  EXPECT_EQ(m.count, 8 * 402);
  EXPECT_GE(m.capacity, m.count);
  EXPECT_EQ(m.marks[0], 16);
  // Null text lays nothing and succeeds; a list of another type is refused.
  EXPECT_EQ(font_layout(&m, nullptr, 0, 0, 0, 8, nullptr), 0);
  gmap lines;
  gmap_setup(&lines, GMAP_LINES, 0, 0);
  EXPECT_EQ(font_layout(&lines, "a", 0, 0, 0, 8, nullptr), -1);
  gmap_release(&m);
}

TEST_F(Font, VerticalLayout) {
  const int f = 8;
  int32_t em, a, d;
  font_metrics(&em, nullptr, &a, &d, f);
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  rect out;
  ASSERT_EQ(font_layout(&m, "iM", 10, 20, 0x102, f, &out), 0);
  ASSERT_EQ(m.count, 16);
  const tex_subtex *gi = tex_font_get(f)->glyph['i'];
  EXPECT_EQ(m.vertices[6], 10 - em / 2 + em / 2 - gi->width / 2);
  EXPECT_EQ(m.vertices[7], 20 + gi->bearing_y);
  const tex_subtex *gm = tex_font_get(f)->glyph['M'];
  EXPECT_EQ(m.vertices[8 + 7], 20 + (a + d) + gm->bearing_y);
  EXPECT_EQ(out.w, em);
  EXPECT_EQ(out.h, d + 2 * (a + d));
  gmap_release(&m);
}

// --- On the screen ---

class FontPixels : public AtlasPixelTest {};

// Every pixel of each glyph's box: text in opaque green over black blends
// to green = the atlas pixel's coverage (alpha), red and blue 0.
::testing::AssertionResult glyphs_on_screen(const char *text, int x, int y, int f, bool laid) {
  const tex_font *font = tex_font_get(f);
  const tex_texture *t = tex_subtex_get(0)->texture;
  int lit = 0, dark = 0;
  std::string bad;
  for (const char *p = text; *p; p++) {
    const tex_subtex *g = font->glyph[int(*p)];
    int top = y + g->bearing_y + (laid ? 0 : 1);
    for (int j = 0; j < g->height; j++)
      for (int i = 0; i < g->width; i++) {
        const uint8_t *a = t->pixels + (size_t(g->atlas_y + j) * size_t(t->pw) + size_t(g->atlas_x + i)) * 4;
        pixeltest_rgba px = pixeltest_pixel(x + i, top + j);
        if (std::abs(int(px.g) - int(a[3])) > 3 || px.r > 3 || px.b > 3)
          bad += std::string(" '") + *p + "'(" + std::to_string(x + i) + "," + std::to_string(top + j) +
                 ") want " + std::to_string(a[3]) + " got " + std::to_string(px.g);
        lit += a[3] > 128;
        dark += a[3] == 0;
      }
    x += g->width;
  }
  if (!bad.empty()) return ::testing::AssertionFailure() << "wrong pixels:" << bad.substr(0, 400);
  if (lit < 20 || dark < 20) return ::testing::AssertionFailure() << "too few samples " << lit << "/" << dark;
  return ::testing::AssertionSuccess();
}

TEST_F(FontPixels, DrawnTextLightsItsGlyphPixels) {
  font_draw("Quote 12.34", 20, 40, 0, 8, 0xFF00FF00u, nullptr);
  font_draw("$ tail -f", 20, 80, 0, 3, 0xFF00FF00u, nullptr);
  gfx_flush();
  EXPECT_TRUE(glyphs_on_screen("Quote 12.34", 20, 40, 8, false));
  EXPECT_TRUE(glyphs_on_screen("$ tail -f", 20, 80, 3, false));
  // Nothing outside the text's rows.
  EXPECT_TRUE(pixeltest_check({{20, 20, 0xFF000000u}, {200, 40, 0xFF000000u}}));
}

TEST_F(FontPixels, LaidOutTextDrawsFromItsList) {
  ASSERT_EQ(gmap_init(kGmapBudget), 0);
  gmap m;
  gmap_setup(&m, GMAP_QUADS, 0, 0);
  ASSERT_EQ(gmap_begin(&m, 0), 0);
  ASSERT_EQ(font_layout(&m, "LAST 9.5c", 10, 100, 0, 7, nullptr), 0);
  gmap_end(&m);
  gfx_colour(0xFF00FF00u);
  gmap_draw_at(&m, 5, 10);
  gfx_flush();
  EXPECT_TRUE(glyphs_on_screen("LAST 9.5c", 15, 110, 7, true));
  gmap_release(&m);
  gmap_fini();
}

}  // namespace
