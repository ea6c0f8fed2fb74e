// Clipboard export: the row writer's text, and text and images through the
// real X clipboard of the private X server, read and written with xclip.
#include "export/clipboard.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "guitest.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "ui/launch-linux.h"

#include <SDL2/SDL.h>

namespace {

class Clipboard : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(clipboard_init(), 0);
  }
  static void TearDownTestSuite() {
    clipboard_shutdown();
    gui_shutdown();
  }
  void TearDown() override { guitest_window::close_all(); }
};

TEST_F(Clipboard, WriterRows) {
  struct {
    const char *name;
    std::vector<std::vector<const char *>> rows;
    bool new_rows;
    std::string text;
  } cases[] = {
      {"three cells", {{"a", "b", "c"}}, true, "a\tb\tc\n"},
      {"two rows", {{"a", "b"}, {"c", "d"}}, true, "a\tb\nc\td\n"},
      {"no new row between", {{"a", "b"}, {"c"}}, false, "a\tb\n\tc\n"},
      {"empty cell", {{"", "x", ""}}, true, "\tx\t\n"},
      {"tab cr lf become blanks", {{"a\tb", "c\r\nd"}}, true, "a b\tc  d\n"},
  };
  for (auto &c : cases) {
    clipboard_reset();
    for (size_t r = 0; r < c.rows.size(); r++) {
      if (c.new_rows || r == 0) clipboard_new_row();
      for (const char *cell : c.rows[r]) clipboard_add_cell(cell);
      clipboard_end_row();
    }
    EXPECT_EQ(std::string(clipboard_text()), c.text) << c.name;
  }
}

TEST_F(Clipboard, PrintfCommitsWhatWasWritten) {
  clipboard_reset();
  ASSERT_EQ(clipboard_printf("%s=%d;", "bid", 452), 0);
  std::string big(3000, 'x');
  ASSERT_EQ(clipboard_printf("%s", big.c_str()), 0);
  ASSERT_EQ(clipboard_printf("!"), 0);
  // The long text was cut to the room reserved, and what follows it joins
  // right after what was written, not after the would-be length.
  std::string want = "bid=452;" + std::string(kClipPrintfRoom - 1, 'x') + "!";
  EXPECT_EQ(std::string(clipboard_text()), want);
}

TEST_F(Clipboard, RowsReachTheSystemClipboard) {
  clipboard_reset();
  clipboard_new_row();
  clipboard_add_cell("BHP");
  clipboard_add_cell("45.20");
  clipboard_end_row();
  ASSERT_EQ(clipboard_put_text(), 0);
  EXPECT_EQ(guitest_run_pumping("xclip -o -selection clipboard"), "BHP\t45.20\n");
  ASSERT_EQ(clipboard_put("plain"), 0);
  EXPECT_EQ(guitest_run_pumping("xclip -o -selection clipboard"), "plain");
}

TEST_F(Clipboard, TextFromXclipIsReturnedWhole) {
  std::string text;
  for (int i = 0; i < 300; i++) text += (char)('a' + i % 26);
  for (const std::string &in : {text, std::string("short")}) {
    ASSERT_EQ(system(("printf '%s' '" + in + "' | xclip -i -selection clipboard").c_str()), 0);
    const char *got = nullptr;
    guitest_wait_for([&] {
      got = clipboard_get_text();
      return got && in == got;
    });
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(got), in);
  }
  // Nothing on the clipboard (an empty text) gives null.
  ASSERT_EQ(clipboard_put(""), 0);
  EXPECT_EQ(clipboard_get_text(), nullptr);
}

std::vector<uint32_t> decode_png(const std::string &bytes, int *w, int *h) {
  std::vector<uint32_t> out;
  png_image img = {};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size())) return out;
  img.format = PNG_FORMAT_RGBA;
  out.resize(PNG_IMAGE_SIZE(img) / 4);
  if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr)) out.clear();
  *w = (int)img.width;
  *h = (int)img.height;
  return out;
}

// Four colours in quadrants of a rectangle of odd height: the image read
// back with xclip equals the window's pixels, top row first.
TEST_F(Clipboard, ImageOfAWindowRectangle) {
  tw *root = tw_new(nullptr, "root", {0, 0, 200, 120}, 0xff101010);
  tw_new(root, "a", {20, 10, 15, 4}, 0xff0000ff);
  tw_new(root, "b", {35, 10, 15, 4}, 0xff00ff00);
  tw_new(root, "c", {20, 14, 15, 3}, 0xffff0000);
  tw_new(root, "d", {35, 14, 15, 3}, 0xff00ffff);
  guitest_window gw;
  ASSERT_TRUE(gw.open(root, {50, 50, 200, 120}));
  gui_draw_window(gw.win);
  const rect r = {20, 10, 30, 7};
  std::vector<uint32_t> drawn = guitest_window_pixels(gw.xw, r);
  ASSERT_EQ(clipboard_copy_image(gw.win, r.x, r.y, r.w, r.h), 0);
  int w = 0, h = 0;
  std::vector<uint32_t> got = decode_png(guitest_run_pumping("xclip -o -selection clipboard -t image/png"), &w, &h);
  EXPECT_EQ(w, r.w);
  EXPECT_EQ(h, r.h);
  ASSERT_EQ(got.size(), drawn.size());
  EXPECT_EQ(got, drawn);
  EXPECT_EQ(got[0], 0xff0000ffu);                     // top left: a
  EXPECT_EQ(got[(size_t)(r.h - 1) * r.w], 0xffff0000u);  // bottom left: c
  // A rectangle reaching out of the window is clamped to it.
  ASSERT_EQ(clipboard_copy_image(gw.win, 190, 110, 1000000, 1000000), 0);
  decode_png(guitest_run_pumping("xclip -o -selection clipboard -t image/png"), &w, &h);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 10);
  guitest_window::close_all();
  widget_delete(root);
}

}  // namespace
