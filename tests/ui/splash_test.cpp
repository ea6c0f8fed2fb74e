// Pictures and splash under Xvfb: tile sizes for padded lengths, the tile
// layout with its white margin, pixels across a tile seam at 1:1, scrolling
// and the row cut, BGRA and bottom-up pictures, the upload once per window
// and again after the window is forgotten (through the recorder), the
// build's splash file drawn scaled, and a PNG written by libpng read back
// and drawn.
#include "lib/splash.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dalloc.h"
#include "lib/glrecord.h"
#include "pixeltest.h"
#include "testlog.h"
#include "uitest.h"

namespace {

const auto *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

// A picture whose every pixel says where it is: red = x mod 256, green = y
// mod 256, blue = 40 + (x / 256) * 60 + (y / 256) * 20.
uint32_t at(int x, int y) {
  uint32_t r = x & 255, g = y & 255, b = 40 + (x / 256) * 60 + (y / 256) * 20;
  return 0xff000000u | b << 16 | g << 8 | r;
}
std::vector<uint8_t> picture(int w, int h) {
  std::vector<uint8_t> p((size_t)w * h * 4);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) memcpy(&p[((size_t)y * w + x) * 4], &(const uint32_t &)at(x, y), 4);
  return p;
}

class Splash : public PixelTest {
 protected:
  static void SetUpTestSuite() {
    PixelTest::SetUpTestSuite();
    ASSERT_EQ(splash_init(), 0);
  }
  static void TearDownTestSuite() {
    splash_fini();
    PixelTest::TearDownTestSuite();
  }
  void SetUp() override {
    PixelTest::SetUp();
    gfx_reset();
    gfx_set_viewport(kWidth, kHeight);
  }
  void TearDown() override {
    gfx_flush();
    EXPECT_EQ(splash_count(), 0);
  }
};

TEST_F(Splash, TileSizes) {
  ASSERT_GE(gfx_max_texture_size(), 1024);
  struct {
    int32_t length;
    std::vector<int32_t> sizes;
  } cases[] = {
      {100, {256}},
      {248, {256}},
      {256, {512}},        // 256 then 256 for the 8 left, merged
      {600, {512, 256}},
      {1100, {1024, 256}},
      {2000, {1024, 1024}},
      {4096, {1024, 1024, 1024, 1024, 256}},
  };
  for (auto &c : cases) {
    int32_t out[kSplashMaxTiles];
    int n = splash_split(out, c.length);
    ASSERT_GE(n, 0) << c.length;
    EXPECT_EQ(std::vector<int32_t>(out, out + n), c.sizes) << c.length;
    // The tiles cover the length: each after the first adds size - 8.
    int32_t covered = 0;
    for (int i = 0; i < n; i++) covered += out[i] - (i ? kSplashOverlap : 0);
    EXPECT_GE(covered, c.length) << c.length;
  }
}

TEST_F(Splash, LayoutAndMargin) {
  auto px = picture(600, 340);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, px.data(), 600, 340, 0), 0);
  ASSERT_EQ(s->count, 2);  // 608 x 348 padded: 512 + 256 across, 512 down
  const splash_tile &a = s->tiles[0], &b = s->tiles[1];
  EXPECT_EQ(a.x, 0);
  EXPECT_EQ(a.tw, 512);
  EXPECT_EQ(a.th, 512);
  EXPECT_EQ(a.pw, 512);
  EXPECT_EQ(a.ph, 348);
  EXPECT_EQ(b.x, 504);
  EXPECT_EQ(b.tw, 256);
  EXPECT_EQ(b.pw, 104);
  EXPECT_DOUBLE_EQ(b.fu, 104.0 / 256);
  EXPECT_DOUBLE_EQ(a.fv, 348.0 / 512);
  auto texel = [&](const splash_tile &t, int x, int y) {
    uint32_t v;
    memcpy(&v, s->prep + t.offset + ((size_t)y * t.tw + x) * 4, 4);
    return v;
  };
  EXPECT_EQ(texel(a, 0, 0), 0xffffffffu);    // margin
  EXPECT_EQ(texel(a, 3, 10), 0xffffffffu);
  EXPECT_EQ(texel(a, 4, 4), at(0, 0));
  EXPECT_EQ(texel(a, 511, 100), at(507, 96));
  EXPECT_EQ(texel(b, 4, 4), at(504, 0));      // overlaps a by 8
  EXPECT_EQ(texel(b, 99, 343), at(599, 339));
  EXPECT_EQ(texel(b, 100, 343), 0xffffffffu); // right margin
  EXPECT_EQ(texel(b, 200, 10), 0xffffffffu);  // beyond the picture
  EXPECT_EQ(texel(a, 10, 344), 0xffffffffu);  // bottom margin
  size sz;
  splash_size(&sz, s);
  EXPECT_EQ(sz.w, 600);
  EXPECT_EQ(sz.h, 340);
  splash_delete(s);
}

TEST_F(Splash, RefusedPictures) {
  splash *s = splash_new();
  std::vector<uint8_t> px(4);
  struct {
    int32_t w, h;
    const char *log;
  } cases[] = {{4089, 10, "can't do 4089x10 prep"}, {10, 4089, "can't do 10x4089 prep"},
               {0, 5, "can't do 0x5 prep"}};
  for (auto &c : cases) {
    LogCapture logs;
    EXPECT_EQ(splash_set_picture(s, px.data(), c.w, c.h, 0), -1);
    EXPECT_TRUE(logs.has(c.log)) << c.log;
    EXPECT_EQ(s->count, 0);
  }
  splash_draw(s, 0, 0, 100, 100, 0, 100, 100);  // nothing to draw
  gfx_flush();
  EXPECT_TRUE(pixeltest_colour_at(50, 50, 0xff000000));
  splash_delete(s);
}

TEST_F(Splash, PixelsAcrossATileSeam) {
  auto px = picture(600, 340);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, px.data(), 600, 340, 0), 0);
  // 1:1 with the picture's column 400 at x 0: the seam (504) at x 104.
  splash_draw(s, -400, -100, 600, 340, 0, 600, 340);
  gfx_flush();
  for (int x : {0, 96, 100, 103, 104, 105, 112, 150, 199})
    for (int y : {0, 7, 120, 239})
      ASSERT_TRUE(pixeltest_colour_at(x, y, at(400 + x, 100 + y), 0)) << x << "," << y;
  splash_delete(s);
}

TEST_F(Splash, ScrollAndRowCut) {
  auto px = picture(300, 300);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, px.data(), 300, 300, 0), 0);
  // Rows 40..140 of the window show picture rows 50.. (scrolled by 90).
  splash_draw(s, 10, 40, 300, 100, 90, 300, 100);
  gfx_flush();
  EXPECT_TRUE(pixeltest_colour_at(20, 39, 0xff000000));   // above the cut
  EXPECT_TRUE(pixeltest_colour_at(20, 140, 0xff000000));  // below it
  for (int y : {40, 41, 90, 139}) EXPECT_TRUE(pixeltest_colour_at(20, y, at(10, y + 50), 0)) << y;
  splash_delete(s);
}

TEST_F(Splash, BgraAndBottomUp) {
  auto px = picture(64, 64);
  std::vector<uint8_t> bgra = px, flipped(px.size());
  for (size_t i = 0; i < bgra.size(); i += 4) std::swap(bgra[i], bgra[i + 2]);
  for (int y = 0; y < 64; y++) memcpy(&flipped[(size_t)y * 256], &px[(size_t)(63 - y) * 256], 256);
  splash *a = splash_new(), *b = splash_new();
  ASSERT_EQ(splash_set_picture(a, bgra.data(), 64, 64, SPLASH_BGRA), 0);
  ASSERT_EQ(splash_set_picture(b, flipped.data(), 64, 64, SPLASH_BOTTOM_UP), 0);
  splash_draw(a, 0, 0, 64, 64, 0, 64, 64);
  splash_draw(b, 100, 0, 64, 64, 0, 64, 64);
  gfx_flush();
  for (int p : {0, 17, 40, 63}) {
    EXPECT_TRUE(pixeltest_colour_at(p, 63 - p, at(p, 63 - p), 0)) << p;
    EXPECT_TRUE(pixeltest_colour_at(100 + p, 63 - p, at(p, 63 - p), 0)) << p;
  }
  splash_delete(a);
  splash_delete(b);
}

TEST_F(Splash, UploadsOncePerWindow) {
  auto px = picture(600, 100);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, px.data(), 600, 100, 0), 0);
  glrecord_scope rec(true);
  auto count = [](const char *name) {
    int n = 0;
    for (const std::string &c : glrecord_calls()) n += c.rfind(name, 0) == 0;
    return n;
  };
  splash_draw(s, 0, 0, 300, 50, 0, 600, 100);
  EXPECT_EQ(count("GenTextures"), s->count);
  EXPECT_EQ(count("TexImage2D"), s->count);
  EXPECT_EQ(count("Begin(GL_QUADS)"), s->count);
  bool linear = false;  // scaled by a half: linear filtering
  for (const std::string &c : glrecord_calls()) linear |= c.find("GL_LINEAR") != std::string::npos;
  EXPECT_TRUE(linear);
  glrecord_clear();
  splash_draw(s, 0, 0, 600, 100, 0, 600, 100);
  EXPECT_EQ(count("GenTextures"), 0);
  glrecord_clear();
  splash_forget_window(s->window);  // the window's context went away
  splash_draw(s, 0, 0, 600, 100, 0, 600, 100);
  EXPECT_EQ(count("GenTextures"), s->count);
  gfx_flush();
  glrecord_clear();
  splash_delete(s);
  EXPECT_EQ(count("DeleteTextures"), 2);
}

TEST_F(Splash, TheBuildsSplashFile) {
  std::ifstream f(AMBIT_SPLASH_FILE, std::ios::binary);
  ASSERT_TRUE(f.good()) << AMBIT_SPLASH_FILE;
  std::vector<char> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  uint8_t *px = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(splash_file_read(data.data(), data.size(), &px, &w, &h), 0);
  EXPECT_EQ(w, 600);
  EXPECT_EQ(h, 340);
  EXPECT_EQ(splash_file_read(data.data(), data.size() - 1, &px, &w, &h), -1);  // short
  EXPECT_EQ(splash_file_read(data.data(), 3, &px, &w, &h), -1);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, px, 600, 340, 0), 0);
  splash_draw(s, 10, 10, 300, 170, 0, 600, 340);  // half size
  gfx_flush();
  // The frame, the green and red bands and the gradient, at half size.
  EXPECT_TRUE(pixeltest_colour_at(11, 60, 0xfff0f0f0, 40));
  EXPECT_TRUE(pixeltest_colour_at(150, 10 + 128, 0xff45c627, 24));
  EXPECT_TRUE(pixeltest_colour_at(150, 10 + 136, 0xff5543d9, 24));
  EXPECT_TRUE(pixeltest_colour_at(150, 10 + 50, 0xff000000u | (0x28 + 280 * 0x40 / 600) << 16 |
                                                    (0x20 + 100 * 0x30 / 340) * 0x0101u, 6));
  EXPECT_TRUE(pixeltest_colour_at(9, 60, 0xff000000));  // outside
  splash_delete(s);
  dalloc_free(px);
}

TEST_F(Splash, PngReadBackAndDrawn) {
  auto px = picture(90, 70);
  char path[] = "/tmp/splash_test.XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  png_image img;
  memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = 90;
  img.height = 70;
  img.format = PNG_FORMAT_RGBA;
  ASSERT_TRUE(png_image_write_to_file(&img, path, 0, px.data(), 0, nullptr)) << img.message;
  uint8_t *read = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(picture_load_png(path, &read, &w, &h), 0);
  EXPECT_EQ(w, 90);
  EXPECT_EQ(h, 70);
  EXPECT_EQ(memcmp(read, px.data(), px.size()), 0);
  splash *s = splash_new();
  ASSERT_EQ(splash_set_picture(s, read, w, h, 0), 0);
  splash_draw(s, 30, 20, 90, 70, 0, 90, 70);
  gfx_flush();
  for (int x : {0, 45, 89})
    for (int y : {0, 33, 69}) EXPECT_TRUE(pixeltest_colour_at(30 + x, 20 + y, at(x, y), 0));
  splash_delete(s);
  dalloc_free(read);

  std::ofstream(path) << "not a picture";
  LogCapture logs;
  EXPECT_EQ(picture_load_png(path, &read, &w, &h), -1);
  EXPECT_TRUE(logs.has("can't read"));
  unlink(path);
}

}  // namespace
