// A small form made by the UI builder in a real gui window under Xvfb, typed
// into with xdotool through the platform layer: a click focuses the first
// text box and its panel takes the focused colour, typed letters become its
// text and its ink, Tab moves to the numeric box where a refused letter
// flashes it red, Tab again reaches the password box, whose drawn ink is
// that of a read-only box showing as many stars; and text pasted from the
// X clipboard (set with xclip) arrives with its tab turned into a blank.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/gui_internal.h"
#include "ui/textbox.h"
#include "ui/uib.h"

#include <SDL2/SDL.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

bool wait_for(const std::function<bool()> &done, int ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    gui_plat_pump_events();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling pace, not a wait
  }
}

void xdo(const std::string &args) { ASSERT_EQ(system(("xdotool " + args).c_str()), 0) << args; }

// The window's pixels in r as the X server shows them (red in the low byte).
std::vector<uint32_t> window_pixels(uint64_t xw, const rect &r) {
  std::vector<uint32_t> out;
  Display *d = XOpenDisplay(nullptr);
  if (XImage *img = XGetImage(d, (Window)xw, r.x, r.y, r.w, r.h, AllPlanes, ZPixmap)) {
    for (int y = 0; y < r.h; y++)
      for (int x = 0; x < r.w; x++) {
        unsigned long p = XGetPixel(img, x, y);
        out.push_back(0xff000000u | (uint32_t)((p >> 16) & 0xff) | (uint32_t)(p & 0xff00) |
                      (uint32_t)((p & 0xff) << 16));
      }
    XDestroyImage(img);
  }
  XCloseDisplay(d);
  return out;
}

bool near(uint32_t a, uint32_t b, int tol = 12) {
  for (int sh = 0; sh < 24; sh += 8)
    if (abs((int)((a >> sh) & 0xff) - (int)((b >> sh) & 0xff)) > tol) return false;
  return true;
}

// Pixels of r close to colour c.
int count_near(uint64_t xw, const rect &r, uint32_t c) {
  int n = 0;
  for (uint32_t p : window_pixels(xw, r)) n += near(p, c, 40);
  return n;
}

constexpr uint32_t kBack = 0xff202020u;
constexpr uint32_t kFill = 0xff404040u, kFocused = 0xff805020u, kReadOnly = 0xff305030u;
constexpr uint32_t kInk = 0xffffffffu;
constexpr int kFont = 4;

class UibGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    start_runtime(TestStderr::kOff);
    std::string why;
    ASSERT_TRUE(pixeltest_ensure_display(&why)) << why;
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0);
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(gui_init("Ambit"), 0);
    panel_set_textures(39, 40, 41, 42);
  }
  static void TearDownTestSuite() {
    panel_set_textures(-1, -1, -1, -1);
    gui_shutdown();
    gmap_fini();
    tex_fini();
  }

 protected:
  widget *root = nullptr;
  widget *name = nullptr, *qty = nullptr, *secret = nullptr, *stars = nullptr;
  int win = -1;
  uint64_t xw = 0;
  void SetUp() override {
    padding pad = {4, 4, 4, 4};
    root = uib_build(UIB_BIN, kBack,
                       UIB_VBOX, 0, 6,
                         UIB_DEF_TB0, 0, kFont, -1, kFill, kInk, 2, kFocused, kInk, 2,
                                      kReadOnly, kInk, 2, &pad,
                         UIB_TB_STYLE0,
                         UIB_TEXTBOX, "", 30, 0, 1, UIB_STORE, &name,
                         UIB_TEXTBOX, "", 12, TEXTBOX_NUMERIC | TEXTBOX_MAGNITUDE, 2,
                         UIB_STORE, &qty,
                         UIB_TEXTBOX, "", 20, TEXTBOX_PASSWORD, 3, UIB_STORE, &secret,
                         UIB_TEXTBOX, "******", 20, 0, 4, UIB_STORE, &stars,
                       UIB_CLOSE,
                     UIB_CLOSE);
    ASSERT_NE(root, nullptr);
    textbox_set_editable(static_cast<textbox *>(stars), 0);
  }
  void TearDown() override {
    gui_window_close(-1);
    G.quit = 0;
    widget_delete(root);
  }
  void open() {
    rect frame = {100, 100, 320, 200};
    win = gui_window_open(root, &frame, 0);
    ASSERT_GE(win, 0);
    settle();
    xw = gui_plat_x11_window(&G.wins[win].plat);
    xdo("windowfocus --sync " + std::to_string(xw));
  }
  void settle() {
    for (int n = 0; G.wins[win].needs_draw && n < 20; n++) gui_draw_window(win);
  }
  std::string at(int x, int y) {
    return " --window " + std::to_string(xw) + " " + std::to_string(x) + " " + std::to_string(y);
  }
  // A spot of the panel right of any text.
  uint32_t panel_pixel(widget *w) {
    return window_pixels(xw, {w->r.x + w->r.w - 8, w->r.y + w->r.h / 2, 1, 1})[0];
  }
  rect inner(widget *w) { return {w->r.x + 4, w->r.y + 4, w->r.w - 8, w->r.h - 8}; }
  textbox *tb(widget *w) { return static_cast<textbox *>(w); }
};

TEST_F(UibGui, TypingTabbingAndFlashing) {
  open();
  ASSERT_GT(name->r.w, 100);
  ASSERT_GT(qty->r.y, name->r.y);
  EXPECT_TRUE(near(panel_pixel(name), kFill)) << std::hex << panel_pixel(name);
  EXPECT_EQ(count_near(xw, inner(name), kInk), 0);  // empty: no ink

  xdo("mousemove" + at(name->r.x + 20, name->r.y + name->r.h / 2) + " click 1");
  ASSERT_TRUE(wait_for([&] { return gui_focus() == name; }));
  xdo("type --delay 30 Deal");
  ASSERT_TRUE(wait_for([&] { return std::string(textbox_text(tb(name))) == "Deal"; }));
  EXPECT_EQ(tb(name)->cursor, 4);
  settle();
  EXPECT_TRUE(near(panel_pixel(name), kFocused)) << std::hex << panel_pixel(name);
  EXPECT_GT(count_near(xw, inner(name), kInk), 20);  // the letters are drawn

  xdo("key Tab");
  ASSERT_TRUE(wait_for([&] { return gui_focus() == qty; }));
  xdo("type --delay 30 2.5x");  // the x is refused
  ASSERT_TRUE(wait_for([&] { return tb(qty)->error_flash == 1; }));
  ASSERT_TRUE(wait_for([&] { return std::string(textbox_text(tb(qty))) == "2.5"; }));
  xdo("type k");
  ASSERT_TRUE(wait_for([&] { return std::string(textbox_text(tb(qty))) == "2.5k"; }));
  EXPECT_EQ(textbox_get_number(tb(qty)), 2500);
  settle();
  EXPECT_TRUE(near(panel_pixel(qty), 0xff3030d0u)) << std::hex << panel_pixel(qty);
  EXPECT_TRUE(near(panel_pixel(name), kFill)) << std::hex << panel_pixel(name);  // left

  xdo("key Tab");
  ASSERT_TRUE(wait_for([&] { return gui_focus() == secret; }));
  xdo("type --delay 30 hunter");
  ASSERT_TRUE(wait_for([&] { return std::string(textbox_text(tb(secret))) == "hunter"; }));
  xdo("key Return");  // Enter drops the focus, so no cursor is drawn
  ASSERT_TRUE(wait_for([&] { return gui_focus() == nullptr; }));
  settle();
  int secret_ink = count_near(xw, inner(secret), kInk);
  EXPECT_GT(secret_ink, 6);
  EXPECT_EQ(secret_ink, count_near(xw, inner(stars), kInk));  // six stars, not the word
  EXPECT_TRUE(near(panel_pixel(stars), kReadOnly)) << std::hex << panel_pixel(stars);
}

TEST_F(UibGui, PasteFromTheClipboard) {
  ASSERT_EQ(system("printf 'ab\\tcd' | xclip -selection clipboard -loops 20"), 0);
  open();
  xdo("mousemove" + at(name->r.x + 20, name->r.y + name->r.h / 2) + " click 1");
  ASSERT_TRUE(wait_for([&] { return gui_focus() == name; }));
  xdo("key ctrl+v");
  ASSERT_TRUE(wait_for([&] { return std::string(textbox_text(tb(name))) == "ab cd"; }))
      << textbox_text(tb(name));
}

}  // namespace
