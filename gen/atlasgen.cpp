// The atlas generator: a host program run at build time that makes the
// program's one RGBA texture atlas -- 21 bitmap fonts rendered with FreeType
// from the DejaVu faces, and 43 interface images drawn here procedurally --
// and writes it as a zlib stream in a C++ source file that the toolkit
// library compiles in. The output depends only on the font files and the
// FreeType and zlib versions, so the same packages give the same bytes.
//
// Usage: ambit-atlasgen FONT_DIR OUT.cpp [--raw OUT.bin] [--png PREVIEW.png]
//
// Glyph bitmaps carry their bearings: a glyph's bitmap is exactly as wide as
// its advance (ink outside the advance is clipped), so drawing advances by the
// bitmap width. Digits are made tabular by centring them in the widest digit.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kAtlasW = 512;
constexpr int kAtlasH = 512;
constexpr int kNoGlyph = 0xFFFF;

// --- Pictures -------------------------------------------------------------

struct Bitmap {
  int w = 0, h = 0;
  std::vector<uint8_t> rgba;  // w*h*4
  Bitmap() = default;
  Bitmap(int w_, int h_) : w(w_), h(h_), rgba(size_t(w_) * h_ * 4, 0) {}
  uint8_t *at(int x, int y) { return &rgba[(size_t(y) * w + x) * 4]; }
};

// One sub-texture as written into the atlas.
struct Sub {
  int bx = 0, by = 0;  // bearings
  Bitmap bm;
  int ax = 0, ay = 0;  // place in the atlas
};

static std::vector<Sub> g_subs;

static int add_sub(Bitmap bm, int bx = 0, int by = 0) {
  Sub s;
  s.bx = bx;
  s.by = by;
  s.bm = std::move(bm);
  g_subs.push_back(std::move(s));
  return int(g_subs.size()) - 1;
}

// Coverage-based painting on a white canvas: every shape sets alpha to the
// larger of the old and the new coverage, colour stays white unless given.
struct Canvas {
  Bitmap bm;
  Canvas(int w, int h) : bm(w, h) {}
  void plot(int x, int y, float cov, uint32_t rgb = 0xFFFFFF) {
    if (x < 0 || y < 0 || x >= bm.w || y >= bm.h) return;
    cov = std::clamp(cov, 0.0f, 1.0f);
    uint8_t a = uint8_t(std::lround(cov * 255.0f));
    uint8_t *p = bm.at(x, y);
    if (a == 0 || a < p[3]) return;
    p[0] = uint8_t(rgb >> 16);
    p[1] = uint8_t(rgb >> 8);
    p[2] = uint8_t(rgb);
    p[3] = a;
  }
  // Paints every pixel whose centre gives the shape function a coverage.
  void shape(const std::function<float(float, float)> &cov, uint32_t rgb = 0xFFFFFF) {
    for (int y = 0; y < bm.h; y++)
      for (int x = 0; x < bm.w; x++) plot(x, y, cov(x + 0.5f, y + 0.5f), rgb);
  }
  void rect(int x, int y, int w, int h, float a = 1.0f, uint32_t rgb = 0xFFFFFF) {
    for (int j = y; j < y + h; j++)
      for (int i = x; i < x + w; i++) plot(i, j, a, rgb);
  }
  void disc(float cx, float cy, float r, uint32_t rgb = 0xFFFFFF) {
    shape([=](float x, float y) { return r + 0.5f - std::hypot(x - cx, y - cy); }, rgb);
  }
  void ring(float cx, float cy, float r, float t, uint32_t rgb = 0xFFFFFF) {
    shape([=](float x, float y) { return t / 2 + 0.5f - std::fabs(std::hypot(x - cx, y - cy) - r); }, rgb);
  }
  void line(float x1, float y1, float x2, float y2, float t, uint32_t rgb = 0xFFFFFF) {
    shape([=](float x, float y) {
      float dx = x2 - x1, dy = y2 - y1;
      float len2 = dx * dx + dy * dy;
      float u = len2 > 0 ? std::clamp(((x - x1) * dx + (y - y1) * dy) / len2, 0.0f, 1.0f) : 0;
      float d = std::hypot(x - (x1 + u * dx), y - (y1 + u * dy));
      return t / 2 + 0.5f - d;
    }, rgb);
  }
  // Filled convex polygon (points in order), edges anti-aliased by distance.
  void poly(std::vector<std::pair<float, float>> pts, uint32_t rgb = 0xFFFFFF) {
    shape([=](float x, float y) {
      float best = 1e9f;
      bool inside = true;
      size_t n = pts.size();
      float area = 0;
      for (size_t i = 0; i < n; i++) {
        auto [ax, ay] = pts[i];
        auto [bx, by] = pts[(i + 1) % n];
        area += ax * by - bx * ay;
      }
      float sign = area > 0 ? 1.0f : -1.0f;
      for (size_t i = 0; i < n; i++) {
        auto [ax, ay] = pts[i];
        auto [bx, by] = pts[(i + 1) % n];
        float ex = bx - ax, ey = by - ay;
        float len = std::hypot(ex, ey);
        float d = sign * ((x - ax) * ey - (y - ay) * ex) / len;  // > 0 outside
        if (d > 0) inside = false;
        best = std::min(best, std::fabs(d));
      }
      return inside ? 0.5f + best : 0.5f - best;
    }, rgb);
  }
};

// Cuts a picture of corner size c (square corners, 1-pixel stretchable
// edges and centre) into nine parts: the picture is (2c+1) square.
static std::vector<int> nine_parts(const Bitmap &src, int c) {
  std::vector<int> ids;
  int xs[3] = {0, c, c + 1}, ws[3] = {c, 1, src.w - c - 1};
  int ys[3] = {0, c, c + 1}, hs[3] = {c, 1, src.h - c - 1};
  for (int r = 0; r < 3; r++)
    for (int k = 0; k < 3; k++) {
      Bitmap b(ws[k], hs[r]);
      for (int y = 0; y < hs[r]; y++)
        for (int x = 0; x < ws[k]; x++)
          memcpy(b.at(x, y), const_cast<Bitmap &>(src).at(xs[k] + x, ys[r] + y), 4);
      ids.push_back(add_sub(std::move(b)));
    }
  return ids;
}

struct Image {
  int kind;
  std::vector<int> parts;
};
static std::vector<Image> g_images;

static void image_single(Canvas c) { g_images.push_back({0, {add_sub(std::move(c.bm))}}); }
static void image_nine(Canvas c, int corner) { g_images.push_back({3, nine_parts(c.bm, corner)}); }

// Rounded box coverage: distance to a rounded rectangle of the canvas size
// inset by `in`, corner radius r.
static float rbox(float x, float y, float w, float h, float in, float r) {
  float cx = std::clamp(x, in + r, w - in - r), cy = std::clamp(y, in + r, h - in - r);
  return r + 0.5f - std::hypot(x - cx, y - cy);
}

// A rounded border of the given thickness along the edge of an n x n canvas.
static void border(Canvas &c, float n, float radius, float thickness) {
  c.shape([=](float x, float y) {
    float d = rbox(x, y, n, n, 0, radius);
    return std::min(d, thickness + 1.0f - d);
  });
}

static void make_images() {
  // 0: the tooltip's pointer arrow.
  {
    Canvas c(11, 14);
    c.poly({{1, 1}, {1, 12}, {4, 9.5f}, {6.5f, 13}, {8.5f, 12}, {6.2f, 8.5f}, {10, 8.5f}});
    image_single(std::move(c));
  }
  // 1: data-box frame: 1-pixel border, corner 3.
  {
    Canvas c(7, 7);
    border(c, 7, 2, 1);
    image_nine(std::move(c), 3);
  }
  // 2: button frame: 1-pixel border, rounded, corner 4.
  {
    Canvas c(9, 9);
    border(c, 9, 3, 1);
    image_nine(std::move(c), 4);
  }
  // 3: tooltip frame: border with a soft shadow below and right, corner 5.
  {
    Canvas c(11, 11);
    c.shape([](float x, float y) { return 0.35f * std::clamp(rbox(x - 1, y - 1, 10, 10, 0, 3), 0.0f, 1.0f); }, 0x000000);
    border(c, 10, 3, 1);
    image_nine(std::move(c), 5);
  }
  // 4: popup frame: 2-pixel border, corner 5.
  {
    Canvas c(11, 11);
    border(c, 11, 4, 2);
    image_nine(std::move(c), 5);
  }
  // 5: flyaway frame: square 1-pixel border with a dark inner line, corner 2.
  {
    Canvas c(5, 5);
    for (int i = 0; i < 5; i++) {
      c.plot(i, 0, 1), c.plot(i, 4, 1), c.plot(0, i, 1), c.plot(4, i, 1);
    }
    for (int i = 1; i < 4; i++) {
      c.plot(i, 1, 0.5f, 0), c.plot(i, 3, 0.5f, 0), c.plot(1, i, 0.5f, 0), c.plot(3, i, 0.5f, 0);
    }
    image_nine(std::move(c), 2);
  }
  // 6: window shadow: a soft dark band fading outwards, corner 6.
  {
    Canvas c(13, 13);
    c.shape([](float x, float y) {
      float d = -rbox(x, y, 13, 13, 6, 0) + 0.5f;  // distance outside the centre pixel
      return 0.5f * std::clamp(1.0f - d / 6.0f, 0.0f, 1.0f);
    }, 0x000000);
    image_nine(std::move(c), 6);
  }
  // 7-15: the nine split layouts of a pane, 15 x 13.
  const int splits[9][4] = {  // per layout: vertical cuts, horizontal cuts, style
      {0, 0, 0, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 0, 0}, {2, 0, 0, 0},
      {0, 2, 0, 0}, {1, 0, 1, 0}, {1, 0, 2, 0}, {2, 2, 0, 0}};
  for (auto &s : splits) {
    Canvas c(15, 13);
    for (int i = 0; i < 15; i++) c.plot(i, 0, 1), c.plot(i, 12, 1);
    for (int j = 0; j < 13; j++) c.plot(0, j, 1), c.plot(14, j, 1);
    for (int k = 1; k <= s[0]; k++) {
      int x = k * 14 / (s[0] + 1);
      int y0 = s[2] == 2 ? 6 : 0, y1 = s[2] == 1 ? 6 : 12;
      for (int j = y0; j <= y1; j++) c.plot(x, j, 1);
    }
    for (int k = 1; k <= s[1]; k++) {
      int y = k * 12 / (s[1] + 1);
      for (int i = 0; i < 15; i++) c.plot(i, y, 1);
    }
    if (s[2] == 1 || s[2] == 2)
      for (int i = 0; i < 15; i++) c.plot(i, 6, 1);
    image_single(std::move(c));
  }
  // 16: close cross.
  {
    Canvas c(11, 11);
    c.line(2, 2, 9, 9, 1.6f);
    c.line(9, 2, 2, 9, 1.6f);
    image_single(std::move(c));
  }
  // 17: tool-panel button picture: a cog.
  {
    Canvas c(16, 16);
    for (int k = 0; k < 8; k++) {
      float a = float(k) * 3.14159265f / 4;
      c.line(8 + 4 * std::cos(a), 8 + 4 * std::sin(a), 8 + 6.5f * std::cos(a), 8 + 6.5f * std::sin(a), 2.2f);
    }
    c.ring(8, 8, 4, 2.5f);
    image_single(std::move(c));
  }
  // 18: the about panel's picture: a rising price line over bars, in colour.
  {
    Canvas c(48, 40);
    for (int k = 0; k < 6; k++) {
      int h = 6 + k * 5;
      c.rect(3 + k * 7, 38 - h, 5, h, 0.55f, 0x3A6EA5);
    }
    c.line(3, 30, 14, 20, 2.5f, 0x45C627);
    c.line(14, 20, 24, 25, 2.5f, 0x45C627);
    c.line(24, 25, 44, 4, 2.5f, 0x45C627);
    c.disc(44, 4, 2.5f, 0x45C627);
    image_single(std::move(c));
  }
  // 19: tick mark.
  {
    Canvas c(12, 12);
    c.line(1.5f, 6.5f, 4.5f, 9.5f, 2);
    c.line(4.5f, 9.5f, 10.5f, 2.5f, 2);
    image_single(std::move(c));
  }
  // 20: arrow pointing right.
  {
    Canvas c(8, 11);
    c.poly({{1.5f, 1}, {7, 5.5f}, {1.5f, 10}});
    image_single(std::move(c));
  }
  // 21: site picture of a tool-panel button: a globe.
  {
    Canvas c(16, 16);
    c.ring(8, 8, 6.5f, 1.3f);
    c.line(1.5f, 8, 14.5f, 8, 1.1f);
    c.shape([](float x, float y) { return 0.65f + 0.5f - std::fabs(std::hypot((x - 8) * 2.2f, y - 8) - 6.5f); });
    image_single(std::move(c));
  }
  // 22: site picture: a building of three columns.
  {
    Canvas c(16, 16);
    c.poly({{1, 5}, {8, 1}, {15, 5}});
    for (int k = 0; k < 3; k++) c.rect(3 + k * 4, 6, 2, 7);
    c.rect(1, 14, 14, 2);
    image_single(std::move(c));
  }
  // 23: arrow pointing down (drop-down lists); 24: pointing up.
  {
    Canvas c(11, 7);
    c.poly({{1, 1.5f}, {10, 1.5f}, {5.5f, 6.5f}});
    image_single(std::move(c));
  }
  {
    Canvas c(11, 7);
    c.poly({{1, 5.5f}, {5.5f, 0.5f}, {10, 5.5f}});
    image_single(std::move(c));
  }
  // 25: an empty check box.
  {
    Canvas c(12, 12);
    for (int i = 0; i < 12; i++) c.plot(i, 0, 1), c.plot(i, 11, 1), c.plot(0, i, 1), c.plot(11, i, 1);
    image_single(std::move(c));
  }
  // 26-28: news marks: plain (dot), important (diamond), other (ring).
  {
    Canvas c(7, 7);
    c.disc(3.5f, 3.5f, 2.6f);
    image_single(std::move(c));
  }
  {
    Canvas c(9, 9);
    c.poly({{4.5f, 0.5f}, {8.5f, 4.5f}, {4.5f, 8.5f}, {0.5f, 4.5f}});
    image_single(std::move(c));
  }
  {
    Canvas c(7, 7);
    c.ring(3.5f, 3.5f, 2.5f, 1.2f);
    image_single(std::move(c));
  }
  // 29-38: small style icons, 12 x 12.
  std::vector<std::function<void(Canvas &)>> icons = {
      [](Canvas &c) {  // 29 lock
        c.ring(6, 4.5f, 2.8f, 1.3f);
        c.rect(2, 5, 8, 6);
      },
      [](Canvas &c) {  // 30 link: two rings
        c.ring(4, 6, 2.6f, 1.2f);
        c.ring(8, 6, 2.6f, 1.2f);
      },
      [](Canvas &c) {  // 31 star
        std::vector<std::pair<float, float>> p;
        for (int k = 0; k < 5; k++) {
          float a = -1.5708f + k * 2.5133f;
          p.push_back({6 + 5.5f * std::cos(a), 6.3f + 5.5f * std::sin(a)});
        }
        c.poly({p[0], p[2], p[4]});
        c.poly({p[0], p[3], p[1]});
        c.poly({p[1], p[3], p[4]});
      },
      [](Canvas &c) {  // 32 bell
        c.poly({{3, 9}, {4, 3}, {8, 3}, {9, 9}});
        c.disc(6, 3, 2);
        c.rect(1, 9, 10, 1);
        c.disc(6, 10.5f, 1.2f);
      },
      [](Canvas &c) {  // 33 flag
        c.rect(2, 1, 1, 10);
        c.poly({{3, 1}, {10, 3.5f}, {3, 6}});
      },
      [](Canvas &c) {  // 34 plus
        c.rect(5, 1, 2, 10);
        c.rect(1, 5, 10, 2);
      },
      [](Canvas &c) {  // 35 minus
        c.rect(1, 5, 10, 2);
      },
      [](Canvas &c) {  // 36 resize grip
        for (int k = 0; k < 3; k++) c.line(11 - 3.5f * (k + 1), 11, 11, 11 - 3.5f * (k + 1), 1);
      },
      [](Canvas &c) {  // 37 magnifier
        c.ring(5, 5, 3.3f, 1.4f);
        c.line(7.5f, 7.5f, 10.5f, 10.5f, 2);
      },
      [](Canvas &c) {  // 38 chart line
        c.line(1, 10, 4, 6, 1.3f);
        c.line(4, 6, 7, 8, 1.3f);
        c.line(7, 8, 11, 2, 1.3f);
      },
  };
  for (auto &f : icons) {
    Canvas c(12, 12);
    f(c);
    image_single(std::move(c));
  }
  // 39-42: the panel textures: fill, highlight, shadow and outline, all with
  // a 3-pixel rounded corner and a corner cell of 4.
  {
    Canvas c(9, 9);
    c.shape([](float x, float y) { return rbox(x, y, 9, 9, 0, 3); });
    image_nine(std::move(c), 4);
  }
  {
    Canvas c(9, 9);  // highlight: light along the top and left inside edges
    c.shape([](float x, float y) {
      float in = std::clamp(rbox(x, y, 9, 9, 0, 3), 0.0f, 1.0f);
      float edge = (y < 2 || x < 2) ? 1.0f : 0.0f;
      return in * edge * (y < 1.5f ? 1.0f : 0.6f);
    });
    image_nine(std::move(c), 4);
  }
  {
    Canvas c(9, 9);  // shadow: dark along the bottom and right inside edges
    c.shape([](float x, float y) {
      float in = std::clamp(rbox(x, y, 9, 9, 0, 3), 0.0f, 1.0f);
      float edge = (y > 7 || x > 7) ? 1.0f : 0.0f;
      return in * edge;
    });
    image_nine(std::move(c), 4);
  }
  {
    Canvas c(9, 9);  // outline: a 1-pixel rounded border
    border(c, 9, 3, 1);
    image_nine(std::move(c), 4);
  }
}

// --- Fonts ----------------------------------------------------------------

enum Set { kFull, kValue, kCaps };

struct FontRecipe {
  const char *file;
  int px;
  Set set;
};

// Font numbers are the indices. Regular text 0 1 4 6 8 9 11 by size; the
// terminal's regular and bold monospace 2 and 3; the value fonts 5 7 10 12
// (small digits on 'a'-'j'); headers 13-17 and large figures 18-20 (capitals,
// digits and a little punctuation; lower case falls back to capitals).
static const FontRecipe kFonts[21] = {
    {"DejaVuSans.ttf", 9, kFull},                 // 0
    {"DejaVuSans.ttf", 10, kFull},                // 1
    {"DejaVuSansMono.ttf", 12, kFull},            // 2
    {"DejaVuSansMono-Bold.ttf", 12, kFull},       // 3
    {"DejaVuSans.ttf", 11, kFull},                // 4
    {"DejaVuSansCondensed.ttf", 11, kValue},      // 5
    {"DejaVuSans.ttf", 12, kFull},                // 6
    {"DejaVuSansCondensed.ttf", 12, kValue},      // 7
    {"DejaVuSans.ttf", 13, kFull},                // 8
    {"DejaVuSans.ttf", 14, kFull},                // 9
    {"DejaVuSansCondensed.ttf", 14, kValue},      // 10
    {"DejaVuSans.ttf", 16, kFull},                // 11
    {"DejaVuSansCondensed.ttf", 16, kValue},      // 12
    {"DejaVuSansCondensed-Bold.ttf", 9, kCaps},   // 13
    {"DejaVuSansCondensed-Bold.ttf", 10, kCaps},  // 14
    {"DejaVuSansCondensed-Bold.ttf", 11, kCaps},  // 15
    {"DejaVuSansCondensed-Bold.ttf", 12, kCaps},  // 16
    {"DejaVuSansCondensed-Bold.ttf", 14, kCaps},  // 17
    {"DejaVuSans-Bold.ttf", 18, kCaps},           // 18
    {"DejaVuSans-Bold.ttf", 22, kCaps},           // 19
    {"DejaVuSans-Bold.ttf", 28, kCaps},           // 20
};

static bool in_set(Set s, int c) {
  if (c < 32 || c > 126) return false;
  switch (s) {
    case kFull: return true;
    case kValue: return !(c >= 'k' && c <= 'z');
    case kCaps:
      return c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
             strchr(".,-:%/()+&'!", c) != nullptr;
  }
  return false;
}

struct Font {
  uint8_t hdr[4];
  uint16_t slot[128];
};
static std::vector<Font> g_fonts;

// A rendered glyph: the bitmap clipped or padded to `width` columns, the ink
// placed at `left` within it; bearing y is minus the bitmap's top.
static int glyph_sub(FT_Face face, int code, int width, int shift) {
  if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER)) {
    fprintf(stderr, "atlasgen: can't render %d\n", code);
    exit(1);
  }
  FT_GlyphSlot g = face->glyph;
  const FT_Bitmap &b = g->bitmap;
  int rows = int(b.rows);
  if (b.width == 0 || rows == 0) return add_sub(Bitmap(width, 0), 0, 0);
  Bitmap bm(width, rows);
  for (int y = 0; y < rows; y++)
    for (unsigned x = 0; x < b.width; x++) {
      int dx = g->bitmap_left + shift + int(x);
      if (dx < 0 || dx >= width) continue;
      uint8_t a = b.buffer[y * b.pitch + int(x)];
      uint8_t *p = bm.at(dx, y);
      p[0] = p[1] = p[2] = 255;
      p[3] = a;
    }
  return add_sub(std::move(bm), 0, -g->bitmap_top);
}

static int advance_of(FT_Face face, int code) {
  if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_DEFAULT)) return 0;
  return int((face->glyph->advance.x + 32) >> 6);
}

static void make_font(FT_Library lib, const std::string &dir, const FontRecipe &recipe) {
  FT_Face face;
  std::string path = dir + "/" + recipe.file;
  if (FT_New_Face(lib, path.c_str(), 0, &face)) {
    fprintf(stderr, "atlasgen: can't open %s\n", path.c_str());
    exit(1);
  }
  FT_Set_Pixel_Sizes(face, 0, FT_UInt(recipe.px));
  Font f;
  for (auto &s : f.slot) s = kNoGlyph;
  int digit_w = 0;
  for (int c = '0'; c <= '9'; c++) digit_w = std::max(digit_w, advance_of(face, c));
  int ascent = int(face->size->metrics.ascender >> 6);
  int descent = int(-(face->size->metrics.descender >> 6));

  // Small digits (value fonts): the digits at about two thirds of the size,
  // tabular, their tops level with the full digits' tops.
  int small_w = 0, small_top = 0;
  FT_Face small = nullptr;
  if (recipe.set == kValue) {
    FT_Load_Char(face, '0', FT_LOAD_DEFAULT);
    small_top = face->glyph->metrics.horiBearingY >> 6;
    FT_New_Face(lib, path.c_str(), 0, &small);
    FT_Set_Pixel_Sizes(small, 0, FT_UInt((recipe.px * 2 + 2) / 3));
    for (int c = '0'; c <= '9'; c++) small_w = std::max(small_w, advance_of(small, c));
  }

  for (int c = 32; c <= 126; c++) {
    if (!in_set(recipe.set, c)) continue;
    int id;
    if (recipe.set == kValue && c >= 'a' && c <= 'j') {
      int d = '0' + (c - 'a');
      int shift = (small_w - advance_of(small, d)) / 2;
      id = glyph_sub(small, d, small_w, shift);
      g_subs[size_t(id)].by = -small_top;  // raised: top level with the full digits' top
    } else if (recipe.set == kValue && c == '`') {
      id = add_sub(Bitmap(advance_of(face, '.'), 0));  // invisible filler, as wide as '.'
    } else if (recipe.set == kValue && c == ' ') {
      id = add_sub(Bitmap(small_w, 0));  // blank as wide as a small digit
    } else if (c >= '0' && c <= '9') {
      id = glyph_sub(face, c, digit_w, (digit_w - advance_of(face, c)) / 2);
    } else {
      id = glyph_sub(face, c, advance_of(face, c), 0);
    }
    f.slot[c] = uint16_t(id);
  }
  f.hdr[0] = uint8_t(recipe.px);  // nominal pixel size, kept for reference
  f.hdr[1] = uint8_t(ascent);
  f.hdr[2] = uint8_t(descent);
  f.hdr[3] = uint8_t(digit_w);
  g_fonts.push_back(f);
  if (small) FT_Done_Face(small);
  FT_Done_Face(face);
}

// --- Packing and output ---------------------------------------------------

// Shelf packing, tallest first (ties by index, so the layout is stable), with
// one transparent pixel between pictures so nearest sampling at a part's edge
// never picks up a neighbour.
static bool pack() {
  std::vector<int> order(g_subs.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = int(i);
  std::stable_sort(order.begin(), order.end(), [](int a, int b) {
    return g_subs[size_t(a)].bm.h > g_subs[size_t(b)].bm.h;
  });
  int x = 0, y = 0, shelf = 0;
  for (int i : order) {
    Sub &s = g_subs[size_t(i)];
    if (s.bm.w == 0 || s.bm.h == 0) {  // nothing to place: a blank
      s.ax = s.ay = 0;
      continue;
    }
    if (x + s.bm.w > kAtlasW) {
      x = 0;
      y += shelf + 1;
      shelf = 0;
    }
    if (y + s.bm.h > kAtlasH) return false;
    s.ax = x;
    s.ay = y;
    x += s.bm.w + 1;
    shelf = std::max(shelf, s.bm.h);
  }
  fprintf(stderr, "atlasgen: %zu sub-textures, atlas filled to row %d of %d\n", g_subs.size(),
          y + shelf, kAtlasH);
  return true;
}

static void put16(std::vector<uint8_t> &o, int v) {
  o.push_back(uint8_t((v >> 8) & 0xFF));
  o.push_back(uint8_t(v & 0xFF));
}

static std::vector<uint8_t> serialise(std::vector<uint8_t> &pixels) {
  pixels.assign(size_t(kAtlasW) * kAtlasH * 4, 0);
  for (Sub &s : g_subs)
    for (int y = 0; y < s.bm.h; y++)
      memcpy(&pixels[(size_t(s.ay + y) * kAtlasW + size_t(s.ax)) * 4], s.bm.at(0, y), size_t(s.bm.w) * 4);
  std::vector<uint8_t> o;
  put16(o, kAtlasW);
  put16(o, kAtlasH);
  o.insert(o.end(), pixels.begin(), pixels.end());
  put16(o, int(g_subs.size()));
  for (Sub &s : g_subs) {
    put16(o, s.bx);
    put16(o, s.by);
    put16(o, s.ax);
    put16(o, s.ay);
    put16(o, s.bm.w);
    put16(o, s.bm.h);
  }
  put16(o, int(g_images.size()));
  for (Image &im : g_images) {
    o.push_back(uint8_t(im.kind));
    for (int p : im.parts) put16(o, p);
  }
  put16(o, int(g_fonts.size()));
  for (Font &f : g_fonts) {
    o.insert(o.end(), f.hdr, f.hdr + 4);
    for (uint16_t s : f.slot) put16(o, s);
  }
  return o;
}

static bool write_png(const char *path, const std::vector<uint8_t> &pixels) {
  FILE *fp = fopen(path, "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, kAtlasW, kAtlasH, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  // A preview: the pictures composed over dark grey, opaque.
  std::vector<uint8_t> row(size_t(kAtlasW) * 4);
  for (int y = 0; y < kAtlasH; y++) {
    for (int x = 0; x < kAtlasW * 4; x += 4) {
      const uint8_t *p = &pixels[size_t(y) * kAtlasW * 4 + size_t(x)];
      for (int k = 0; k < 3; k++) row[size_t(x + k)] = uint8_t((p[k] * p[3] + 40 * (255 - p[3])) / 255);
      row[size_t(x + 3)] = 255;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  fclose(fp);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s FONT_DIR OUT.cpp [--raw OUT.bin] [--png OUT.png]\n", argv[0]);
    return 2;
  }
  const char *raw_path = nullptr, *png_path = nullptr;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--raw")) raw_path = argv[i + 1];
    else if (!strcmp(argv[i], "--png")) png_path = argv[i + 1];
  }
  make_images();
  FT_Library lib;
  if (FT_Init_FreeType(&lib)) return 1;
  for (const FontRecipe &f : kFonts) make_font(lib, argv[1], f);
  FT_Done_FreeType(lib);
  if (!pack()) {
    fprintf(stderr, "atlasgen: the pictures don't fit in %dx%d\n", kAtlasW, kAtlasH);
    return 1;
  }
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> raw = serialise(pixels);
  uLongf zlen = compressBound(uLong(raw.size()));
  std::vector<uint8_t> z(zlen);
  if (compress2(z.data(), &zlen, raw.data(), uLong(raw.size()), 9) != Z_OK) return 1;
  z.resize(zlen);

  FILE *out = fopen(argv[2], "w");
  if (!out) return 1;
  fprintf(out, "// Generated by ambit-atlasgen from the DejaVu fonts: do not edit.\n");
  fprintf(out, "#include \"lib/tex.h\"\n\n");
  fprintf(out, "const int tex_atlas_zlib_size = %zu;\n", z.size());
  fprintf(out, "const int tex_atlas_size = %zu;\n", raw.size());
  fprintf(out, "const unsigned char tex_atlas_zlib[] = {\n");
  for (size_t i = 0; i < z.size(); i++)
    fprintf(out, "%d,%s", z[i], (i % 24 == 23) ? "\n" : "");
  fprintf(out, "\n};\n");
  if (fclose(out)) return 1;
  if (raw_path) {
    FILE *r = fopen(raw_path, "wb");
    if (!r || fwrite(raw.data(), 1, raw.size(), r) != raw.size() || fclose(r)) return 1;
  }
  if (png_path && !write_png(png_path, pixels)) return 1;
  fprintf(stderr, "atlasgen: %zu bytes, %zu compressed; %zu images, %zu fonts\n", raw.size(),
          z.size(), g_images.size(), g_fonts.size());
  return 0;
}
