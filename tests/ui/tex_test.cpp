// The texture atlas: the embedded atlas against its layout and against
// FreeType's own rendering of the DejaVu fonts; parsing of small hand-made
// atlases (case fallback, bad indices, truncation); the upload into each
// window's context and the quads of stretched images, through the recorder.
#include "lib/tex.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "lib/gfx.h"
#include "atlasref.h"
#include "lib/glrecord.h"
#include "testlog.h"
#include "ui/widget.h"

namespace {

::testing::Environment *const kRuntime = ::testing::AddGlobalTestEnvironment(new QuietRuntime);

// --- A hand-made atlas ------------------------------------------------------

struct Built {
  int w = 4, h = 4;
  std::vector<std::array<int, 6>> subs;  // bx, by, ax, ay, w, h
  std::vector<std::pair<int, std::vector<int>>> images;
  std::vector<std::pair<std::array<int, 4>, std::map<int, int>>> fonts;  // header, char -> sub

  std::vector<unsigned char> bytes() const {
    std::vector<unsigned char> o;
    auto p16 = [&](int v) {
      o.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
      o.push_back(static_cast<unsigned char>(v & 0xFF));
    };
    p16(w);
    p16(h);
    for (int i = 0; i < w * h * 4; i++) o.push_back(static_cast<unsigned char>(i & 0xFF));
    p16(int(subs.size()));
    for (auto &s : subs)
      for (int v : s) p16(v);
    p16(int(images.size()));
    for (auto &[kind, parts] : images) {
      o.push_back(static_cast<unsigned char>(kind));
      for (int p : parts) p16(p);
    }
    p16(int(fonts.size()));
    for (auto &[hdr, glyphs] : fonts) {
      for (int b : hdr) o.push_back(static_cast<unsigned char>(b));
      for (int c = 0; c < 128; c++) p16(glyphs.count(c) ? glyphs.at(c) : 0xFFFF);
    }
    return o;
  }
};

int parse(const Built &b) {
  std::vector<unsigned char> v = b.bytes();
  return tex_parse(v.data(), v.size());
}

class Tex : public ::testing::Test {
 protected:
  void SetUp() override { tex_init(); }
  void TearDown() override { tex_fini(); }
};

// --- The embedded atlas -----------------------------------------------------

TEST_F(Tex, EmbeddedAtlasHasItsLayout) {
  LogCapture log;
  ASSERT_EQ(tex_load_builtin(), 0);
  EXPECT_TRUE(log.has("loading 1074567b textures from"));
  tex_counts n = tex_stats();
  EXPECT_EQ(n.width, 512);
  EXPECT_EQ(n.height, 512);
  EXPECT_EQ(n.subtextures, 1686);
  EXPECT_EQ(n.images, 43);
  EXPECT_EQ(n.fonts, 21);
  EXPECT_EQ(n.bytes, 1074567u);
  EXPECT_EQ(tex_atlas_size, 1074567);

  int single = 0, nine = 0;
  for (int i = 0; i < 43; i++) {
    uint32_t k = tex_image_get(i)->kind;
    single += k == 0;
    nine += k == 3;
  }
  EXPECT_EQ(single, 33);
  EXPECT_EQ(nine, 10);
  // Images that other parts of the program name by number: the tooltip's
  // pointer, the tooltip frame and the four panel textures.
  EXPECT_EQ(tex_image_get(0)->kind, 0u);
  for (int i : {1, 3, 39, 40, 41, 42}) EXPECT_EQ(tex_image_get(i)->kind, 3u) << i;
  for (int f = 0; f < 21; f++) {
    // Count distinct glyphs (the case fallback shares some slots).
    std::vector<const tex_subtex *> seen;
    for (tex_subtex *g : tex_font_get(f)->glyph)
      if (g && std::find(seen.begin(), seen.end(), g) == seen.end()) seen.push_back(g);
    EXPECT_GE(seen.size(), 35u) << "font " << f;
    EXPECT_LE(seen.size(), 96u) << "font " << f;
  }
}

TEST_F(Tex, CompressedStreamAgreesWithZlib) {
  // The stream inflates with zlib itself to the stated size.
  std::vector<unsigned char> out(size_t(tex_atlas_size) + 16);
  uLongf len = uLongf(out.size());
  ASSERT_EQ(uncompress(out.data(), &len, tex_atlas_zlib, uLong(tex_atlas_zlib_size)), Z_OK);
  EXPECT_EQ(len, uLongf(tex_atlas_size));
  EXPECT_EQ(out[0] << 8 | out[1], 512);
}

// The fonts against FreeType rendering the face each is made from at the
// same pixel size, independently of the generator.
struct FontCase {
  int font;
  const char *chars;
};

const FontCase kFontCases[] = {
    {0, "AMgjy.(Q"}, {4, "Hello, World!"}, {8, "Wq%&@_|~"}, {11, "ABXYZabxyz"}, {2, "mi.W#"},
    {3, "mi.W#"},    {7, "KMB$,.-+"},      {15, "HEADR:%"}, {20, "AZ%/"},
};

TEST_F(Tex, GlyphsAgreeWithFreeType) {
  ASSERT_EQ(tex_load_builtin(), 0);
  const tex_texture *t = tex_subtex_get(0)->texture;
  for (const FontCase &fc : kFontCases) {
    FontRef ft(fc.font);
    ASSERT_TRUE(ft.ok()) << fc.font;
    const tex_font *f = tex_font_get(fc.font);
    EXPECT_EQ(f->ascent, ft.ascent()) << "font " << fc.font;
    EXPECT_EQ(f->descent, ft.descent()) << "font " << fc.font;
    EXPECT_EQ(f->size, atlasref_face_of(fc.font).px) << "font " << fc.font;
    for (const char *p = fc.chars; *p; p++) {
      SCOPED_TRACE(std::string("font ") + std::to_string(fc.font) + " char '" + *p + "'");
      FT_GlyphSlot g = ft.render(*p);
      ASSERT_NE(g, nullptr);
      const tex_subtex *s = f->glyph[int(*p)];
      ASSERT_NE(s, nullptr);
      int advance = int((g->advance.x + 32) >> 6);
      EXPECT_EQ(s->width, advance);
      EXPECT_EQ(s->height, int(g->bitmap.rows));
      EXPECT_EQ(s->bearing_y, -g->bitmap_top);
      EXPECT_EQ(s->bearing_x, 0);
      // Coverage, pixel by pixel, inside the advance.
      int differ = 0;
      for (int y = 0; y < int(g->bitmap.rows); y++)
        for (int x = 0; x < int(g->bitmap.width); x++) {
          int ax = g->bitmap_left + x;
          if (ax < 0 || ax >= s->width) continue;
          uint8_t want = g->bitmap.buffer[y * g->bitmap.pitch + x];
          const uint8_t *px = t->pixels + ((size_t(s->atlas_y + y) * size_t(t->pw)) + size_t(s->atlas_x + ax)) * 4;
          differ += px[3] != want || (want && px[0] != 255);
        }
      EXPECT_EQ(differ, 0);
    }
  }
}

TEST_F(Tex, FontRolesHoldTheirShapes) {
  ASSERT_EQ(tex_load_builtin(), 0);
  auto width = [](int f, int c) { return tex_font_get(f)->glyph[c] ? tex_font_get(f)->glyph[c]->width : -1; };
  // Every font: tabular digits.
  for (int f = 0; f < 21; f++)
    for (int c = '1'; c <= '9'; c++) EXPECT_EQ(width(f, c), width(f, '0')) << "font " << f << " " << char(c);
  // The terminal's fonts are monospace.
  for (int f : {2, 3})
    for (int c = 32; c < 127; c++) EXPECT_EQ(width(f, c), width(f, 'M')) << "font " << f << " " << char(c);
  // Value fonts: 'a'-'j' small digits, raised to the digits' top, all of a
  // width; the backquote an invisible filler as wide as '.'; the blank as
  // wide as a small digit.
  for (int f : {5, 7, 10, 12}) {
    const tex_font *font = tex_font_get(f);
    int small = width(f, 'a');
    EXPECT_LT(small, width(f, '0'));
    EXPECT_GT(small, 0);
    for (int c = 'a'; c <= 'j'; c++) {
      EXPECT_EQ(width(f, c), small) << "font " << f;
      EXPECT_EQ(font->glyph[c]->bearing_y, font->glyph['0']->bearing_y) << "font " << f;
      EXPECT_LT(font->glyph[c]->height, font->glyph['0']->height) << "font " << f;
    }
    EXPECT_EQ(width(f, '`'), width(f, '.'));
    EXPECT_EQ(font->glyph['`']->height, 0);
    EXPECT_EQ(width(f, ' '), small);
    // Other lower case falls back to capitals.
    EXPECT_EQ(font->glyph['m'], font->glyph['M']);
  }
  // Headers and large figures: capitals, lower case shares them.
  for (int f = 13; f <= 20; f++) EXPECT_EQ(tex_font_get(f)->glyph['q'], tex_font_get(f)->glyph['Q']);
  // The fallback width is the digit width.
  for (int f = 0; f < 21; f++) EXPECT_EQ(tex_font_get(f)->fallback, width(f, '0')) << "font " << f;
}

// --- Parsing ----------------------------------------------------------------

Built small_atlas() {
  Built b;
  b.subs = {{0, -3, 0, 0, 2, 3}, {0, -2, 2, 0, 1, 2}, {0, 0, 0, 3, 4, 1}, {1, 1, 3, 3, 1, 1}};
  b.images = {{0, {0}}, {1, {1, 2, 1}}, {2, {0, 1, 3}}, {3, {0, 3, 0, 3, 3, 3, 0, 3, 0}}};
  b.fonts = {{{9, 5, 2, 6}, {{'A', 0}, {'b', 1}, {'x', 2}, {'X', 3}}}};
  return b;
}

TEST_F(Tex, ParsesAndFallsBackAcrossCase) {
  ASSERT_EQ(parse(small_atlas()), 0);
  tex_counts n = tex_stats();
  EXPECT_EQ(n.subtextures, 4);
  EXPECT_EQ(n.images, 4);
  EXPECT_EQ(n.fonts, 1);
  EXPECT_EQ(n.bytes, small_atlas().bytes().size());
  const tex_font *f = tex_font_get(0);
  EXPECT_EQ(f->size, 9);
  EXPECT_EQ(f->ascent, 5);
  EXPECT_EQ(f->descent, 2);
  EXPECT_EQ(f->fallback, 6);
  EXPECT_EQ(f->glyph['a'], tex_subtex_get(0));  // 'a' missing: 'A'
  EXPECT_EQ(f->glyph['B'], tex_subtex_get(1));  // 'B' missing: 'b'
  EXPECT_EQ(f->glyph['x'], tex_subtex_get(2));  // both present: each its own
  EXPECT_EQ(f->glyph['X'], tex_subtex_get(3));
  EXPECT_EQ(f->glyph['c'], nullptr);
  EXPECT_EQ(f->glyph['A' + 128 - 128], tex_subtex_get(0));
  // Texture coordinates over the power-of-two size.
  const tex_subtex *s = tex_subtex_get(3);
  EXPECT_FLOAT_EQ(s->left, 0.75f);
  EXPECT_FLOAT_EQ(s->top, 0.75f);
  EXPECT_FLOAT_EQ(s->right, 1.0f);
  EXPECT_FLOAT_EQ(s->bottom, 1.0f);
  EXPECT_EQ(s->texture->pw, 4);
}

TEST_F(Tex, PicturesOfOddSizesArePadded) {
  Built b = small_atlas();
  b.w = 3;
  b.h = 5;
  b.subs = {{0, 0, 2, 4, 1, 1}};
  b.images = {{0, {0}}};
  b.fonts = {};
  ASSERT_EQ(parse(b), 0);
  const tex_subtex *s = tex_subtex_get(0);
  EXPECT_EQ(s->texture->pw, 4);
  EXPECT_EQ(s->texture->ph, 8);
  EXPECT_FLOAT_EQ(s->left, 0.5f);
  EXPECT_FLOAT_EQ(s->top, 0.5f);
  // The last picture pixel (2, 4) sits at (2, 4) of the padded texture.
  std::vector<unsigned char> raw = b.bytes();
  const unsigned char *want = raw.data() + 4 + (4 * 3 + 2) * 4;
  EXPECT_EQ(memcmp(s->texture->pixels + (4 * 4 + 2) * 4, want, 4), 0);
}

TEST_F(Tex, BadAtlasesFailWithTheirReason) {
  struct Case {
    const char *name;
    std::function<void(Built &)> spoil;
    const char *logged;
  };
  const Case cases[] = {
      {"font index past the table", [](Built &b) { b.fonts[0].second['q'] = 4; },
       "invalid subtex 4 in font 0 char 113 (q)"},
      {"unprintable char", [](Built &b) { b.fonts[0].second[7] = 9; }, "invalid subtex 9 in font 0 char 7 (.)"},
      {"image index past the table", [](Built &b) { b.images[2].second[1] = 4; }, "invalid subtex 4 in image 2"},
      {"sub-texture outside the picture", [](Built &b) { b.subs[1][4] = 9; }, "lies outside"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Built b = small_atlas();
    c.spoil(b);
    LogCapture log;
    EXPECT_EQ(parse(b), -1);
    EXPECT_TRUE(log.has(c.logged)) << log.lines().front();
  }
  // Every truncation of a good atlas fails without reading past its end.
  std::vector<unsigned char> good = small_atlas().bytes();
  for (size_t cut = 0; cut < good.size(); cut += (cut < 80 ? 1 : 7)) {
    std::vector<unsigned char> part(good.begin(), good.begin() + long(cut));
    EXPECT_EQ(tex_parse(part.data(), part.size()), -1) << "cut at " << cut;
  }
}

TEST_F(Tex, LoadReportsBadStreams) {
  LogCapture log;
  const unsigned char junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(tex_load(junk, sizeof junk, 100), -1);
  EXPECT_TRUE(log.has("uncompress error -3"));
  // Uncompressed size too small for the stream.
  EXPECT_EQ(tex_load(tex_atlas_zlib, tex_atlas_zlib_size, 1000), -1);
  EXPECT_TRUE(log.has("uncompress error -5"));
}

// --- Image sizes ------------------------------------------------------------

TEST_F(Tex, NaturalSizesByKind) {
  ASSERT_EQ(parse(small_atlas()), 0);
  struct Case {
    int image, w, h;
  } cases[] = {
      {0, 2, 3},   // single: its own size
      {1, 2, 2},   // side by side: left + right widths, left height
      {2, 2, 4},   // stacked: top width, top + bottom heights
      {3, 4, 6},   // nine: top-left + top-right widths, top-left + bottom-left heights
      {9, 0, 0},   // no such image
  };
  for (auto c : cases) {
    int32_t s[2];
    tex_size(s, c.image);
    EXPECT_EQ(s[0], c.w) << c.image;
    EXPECT_EQ(s[1], c.h) << c.image;
  }
  int32_t parts[18];
  tex_part_sizes(parts, 1);
  EXPECT_EQ(std::vector<int32_t>(parts, parts + 6), (std::vector<int32_t>{1, 2, 4, 1, 1, 2}));
}

// --- Contexts and drawing through the recorder ------------------------------

std::string hint_line() {
  return "Hint(" + glrecord_enum_name(GL_TEXTURE_COMPRESSION_HINT) + ",GL_NICEST)";
}

TEST_F(Tex, UploadsOncePerContextOnFirstDraw) {
  ASSERT_EQ(parse(small_atlas()), 0);
  glrecord_scope rec;
  gfx_reset();
  glrecord_clear();
  tex_context_new(3);
  uint32_t name = uint32_t(tex_subtex_get(0)->texture->names[3]);
  EXPECT_EQ(glrecord_calls(), (std::vector<std::string>{"Enable(GL_TEXTURE_2D)", "GenTextures(1)",
                                                         "Disable(GL_TEXTURE_2D)"}));
  glrecord_clear();
  tex_select_context(3);
  std::vector<std::string> upload = {
      "Enable(GL_TEXTURE_2D)",
      "BindTexture(GL_TEXTURE_2D," + std::to_string(name) + ")",
      "TexEnvi(GL_TEXTURE_ENV,GL_TEXTURE_ENV_MODE,GL_MODULATE)",
      "TexParameteri(GL_TEXTURE_2D,GL_TEXTURE_MAG_FILTER,GL_NEAREST)",
      "TexParameteri(GL_TEXTURE_2D,GL_TEXTURE_MIN_FILTER,GL_NEAREST)",
      "TexParameteri(GL_TEXTURE_2D,GL_TEXTURE_WRAP_S,GL_CLAMP)",
      "TexParameteri(GL_TEXTURE_2D,GL_TEXTURE_WRAP_T,GL_CLAMP)",
      "TexParameterf(GL_TEXTURE_2D,GL_TEXTURE_PRIORITY,1)",
      hint_line(),
      "TexImage2D(GL_TEXTURE_2D,0,GL_RGBA,4,4,0,GL_RGBA,GL_UNSIGNED_BYTE,ptr)",
      "GetError()",
      "Disable(GL_TEXTURE_2D)",
  };
  EXPECT_EQ(glrecord_calls(), upload);
  glrecord_clear();
  tex_select_context(3);  // uploaded already
  EXPECT_TRUE(glrecord_calls().empty());
  EXPECT_EQ(tex_current_name(), name);
}

TEST_F(Tex, ClosingAWindowMakesEveryContextUploadAgain) {
  ASSERT_EQ(parse(small_atlas()), 0);
  glrecord_scope rec;
  tex_context_new(0);
  tex_context_new(1);
  tex_select_context(0);
  tex_select_context(1);
  uint32_t first = uint32_t(tex_subtex_get(0)->texture->names[0]);
  uint32_t second = uint32_t(tex_subtex_get(0)->texture->names[1]);
  glrecord_clear();
  tex_context_forget(1);
  EXPECT_EQ(glrecord_calls(), (std::vector<std::string>{"DeleteTextures(1," + std::to_string(second) + ")"}));
  EXPECT_EQ(tex_subtex_get(0)->texture->names[1], -1);
  glrecord_clear();
  tex_select_context(0);  // the other window uploads again on its next draw
  std::vector<std::string> calls = glrecord_calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "BindTexture(GL_TEXTURE_2D," + std::to_string(first) + ")"),
            calls.end());
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string &s) { return s.rfind("TexImage2D", 0) == 0; }), 1);
  // A name of 0 is never deleted.
  tex_subtex_get(0)->texture->names[2] = 0;
  LogCapture log;
  glrecord_clear();
  tex_context_forget(2);
  EXPECT_TRUE(log.has("won't delete texture 0"));
  EXPECT_TRUE(glrecord_calls().empty());
}

// Vertex lines of the quads recorded, one string per quad: "x,y w,h".
std::vector<std::string> quads(const std::vector<std::string> &calls) {
  std::vector<std::string> out;
  std::vector<std::pair<int, int>> v;
  for (const std::string &c : calls) {
    int x, y;
    if (sscanf(c.c_str(), "Vertex2i(%d,%d)", &x, &y) == 2) v.push_back({x, y});
    if (v.size() == 4) {
      // (x, y+h), (x+w, y+h), (x+w, y), (x, y)
      out.push_back(std::to_string(v[3].first) + "," + std::to_string(v[3].second) + " " +
                    std::to_string(v[1].first - v[0].first) + "," + std::to_string(v[0].second - v[3].second));
      v.clear();
    }
  }
  return out;
}

TEST_F(Tex, StretchedImagesDrawTheirCells) {
  ASSERT_EQ(parse(small_atlas()), 0);
  glrecord_scope rec;
  tex_context_new(0);
  tex_select_context(0);
  struct Case {
    const char *name;
    int image, x, y, w, h;
    uint32_t mask;
    std::vector<std::string> cells;
  } cases[] = {
      {"single natural", 0, 5, 6, 0, 0, 511, {"5,6 2,3"}},
      {"single stretched", 0, 5, 6, 10, 1, 511, {"5,6 10,1"}},
      {"side by side", 1, 0, 0, 10, 0, 511, {"0,0 1,2", "1,0 8,2", "9,0 1,2"}},
      {"stacked", 2, 0, 0, 0, 10, 511, {"0,0 2,3", "0,3 2,6", "0,9 2,1"}},
      {"nine", 3, 10, 20, 12, 9, 511,
       {"10,20 2,3", "12,20 8,3", "20,20 2,3", "10,23 2,3", "12,23 8,3", "20,23 2,3", "10,26 2,3",
        "12,26 8,3", "20,26 2,3"}},
      {"nine narrower than its top-right part", 3, 0, 0, 1, 9, 511, {}},
      {"nine as narrow as its corners", 3, 0, 0, 4, 6, 511, {"0,0 2,3", "2,0 2,3", "0,3 2,3", "2,3 2,3"}},
      {"nine lower than its corners", 3, 0, 0, 12, 5, 511, {}},
      {"nine corners only", 3, 0, 0, 12, 9, 1 | 4 | 64 | 256, {"0,0 2,3", "10,0 2,3", "0,6 2,3", "10,6 2,3"}},
      {"nine frame", 3, 0, 0, 12, 9, 511 & ~16u,
       {"0,0 2,3", "2,0 8,3", "10,0 2,3", "0,3 2,3", "10,3 2,3", "0,6 2,3", "2,6 8,3", "10,6 2,3"}},
      {"stacked middle", 2, 0, 0, 4, 10, 16, {"0,3 4,6"}},
      {"side by side right", 1, 0, 0, 10, 4, 256, {"9,0 1,4"}},
      {"negative width", 0, 0, 0, -1, 4, 511, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    glrecord_clear();
    if (c.mask == 511)
      tex_draw(c.image, c.x, c.y, c.w, c.h);
    else
      tex_draw_parts(c.image, c.x, c.y, c.w, c.h, c.mask);
    EXPECT_EQ(quads(glrecord_calls()), c.cells);
  }
}

TEST_F(Tex, QuadsOfOneTextureShareOnePrimitive) {
  ASSERT_EQ(parse(small_atlas()), 0);
  glrecord_scope rec;
  gfx_reset();
  tex_context_new(0);
  tex_select_context(0);
  std::string bind = "BindTexture(GL_TEXTURE_2D," + std::to_string(tex_current_name()) + ")";
  glrecord_clear();
  tex_draw(0, 0, 0, 0, 0);
  tex_draw(3, 0, 0, 12, 9);
  tex_draw_white(0, 4, 4, 0, 0);
  gfx_flush();
  std::vector<std::string> calls = glrecord_calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Begin(GL_QUADS)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "End()"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), bind), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Color4ub(255,255,255,255)"), 1);
  EXPECT_EQ(calls[0], "Enable(GL_TEXTURE_2D)");
  EXPECT_EQ(calls[1], bind);
  EXPECT_EQ(calls[2], "Begin(GL_QUADS)");
  // A fill in between ends the primitive and turns texturing off; the next
  // image binds again.
  glrecord_clear();
  tex_draw(0, 0, 0, 0, 0);
  gfx_fill_rect(0, 0, 1, 1, 0xFF0000FFu);
  tex_draw(0, 0, 0, 0, 0);
  calls = glrecord_calls();
  auto disable = std::find(calls.begin(), calls.end(), "Disable(GL_TEXTURE_2D)");
  ASSERT_NE(disable, calls.end());
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Disable(GL_TEXTURE_2D)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), bind), 1);
  EXPECT_NE(std::find(disable, calls.end(), bind), calls.end());
}

TEST_F(Tex, QuadArraysDrawWithTheirOffset) {
  ASSERT_EQ(parse(small_atlas()), 0);
  glrecord_scope rec;
  gfx_reset();
  const float tc[8] = {0, 0.5f, 0.25f, 0.5f, 0.25f, 0, 0, 0};
  const int32_t v[8] = {1, 3, 2, 3, 2, 0, 1, 0};
  glrecord_clear();
  tex_draw_quads_at(7, 8, tc, v, 10, 20);
  EXPECT_EQ(glrecord_calls(),
            (std::vector<std::string>{"Enable(GL_TEXTURE_2D)", "BindTexture(GL_TEXTURE_2D,7)", "Begin(GL_QUADS)",
                                      "TexCoord2f(0,0.5)", "Vertex2i(11,23)", "TexCoord2f(0.25,0.5)",
                                      "Vertex2i(12,23)", "TexCoord2f(0.25,0)", "Vertex2i(12,20)",
                                      "TexCoord2f(0,0)", "Vertex2i(11,20)"}));
  glrecord_clear();
  tex_draw_quads(7, 0, tc, v);
  EXPECT_TRUE(glrecord_calls().empty());
}

}  // namespace
