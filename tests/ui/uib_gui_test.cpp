// A small form made by the UI builder in a real gui window under Xvfb, typed
// into with xdotool through the platform layer: a click focuses the first
// text box and its panel takes the focused colour, typed letters become its
// text and its ink, Tab moves to the numeric box where a refused letter
// flashes it red, Tab again reaches the password box, whose drawn ink is
// that of a read-only box showing as many stars; and text pasted from the
// X clipboard (set with xclip) arrives with its tab turned into a blank.
// A second form of two flyaways: a click on the first one's title strip
// closes it through the frame loop (the deferred toggle, the animation on
// its timer) and the second moves up into its place. A third form of a
// spinner and a time spinner: arrow clicks step them, a click in the middle
// and typed digits with Return commit a value.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "guitest.h"
#include "lib/gfx.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/gui_internal.h"
#include "ui/flyaway.h"
#include "ui/label.h"
#include "ui/spinner.h"
#include "ui/textbox.h"
#include "ui/uib.h"


namespace {

// Pixels of r close to colour c.
int count_near(uint64_t xw, const rect &r, uint32_t c) {
  int n = 0;
  for (uint32_t p : guitest_window_pixels(xw, r)) n += guitest_near(p, c, 40);
  return n;
}

// Panel colours are compared within this much (the fill texture's shading).
constexpr int kTol = 12;
bool near(uint32_t a, uint32_t b) { return guitest_near(a, b, kTol); }

constexpr uint32_t kBack = 0xff202020u;
constexpr uint32_t kFill = 0xff404040u, kFocused = 0xff805020u, kReadOnly = 0xff305030u;
constexpr uint32_t kInk = 0xffffffffu;
constexpr int kFont = 4;

class UibGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_EQ(tex_init(), 0);
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    panel_set_textures(39, 40, 41, 42);  // the atlas's panel images
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
    guitest_window::close_all();
    widget_delete(root);
  }
  guitest_window gw;
  void open() {
    ASSERT_TRUE(gw.open(root, {100, 100, 320, 200}));
    win = gw.win;
    xw = gw.xw;
  }
  void settle() { gw.settle(); }
  std::string at(int x, int y) { return gw.at(x, y); }
  // A spot of the panel right of any text.
  uint32_t panel_pixel(widget *w) {
    return guitest_window_pixels(xw, {w->r.x + w->r.w - 8, w->r.y + w->r.h / 2, 1, 1})[0];
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

  guitest_xdo("mousemove" + at(name->r.x + 20, name->r.y + name->r.h / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([&] { return gui_focus() == name; }));
  guitest_xdo("type --delay 30 Deal");
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(textbox_text(tb(name))) == "Deal"; }));
  EXPECT_EQ(tb(name)->cursor, 4);
  settle();
  EXPECT_TRUE(near(panel_pixel(name), kFocused)) << std::hex << panel_pixel(name);
  EXPECT_GT(count_near(xw, inner(name), kInk), 20);  // the letters are drawn

  guitest_xdo("key Tab");
  ASSERT_TRUE(guitest_wait_for([&] { return gui_focus() == qty; }));
  guitest_xdo("type --delay 30 2.5x");  // the x is refused
  ASSERT_TRUE(guitest_wait_for([&] { return tb(qty)->error_flash == 1; }));
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(textbox_text(tb(qty))) == "2.5"; }));
  guitest_xdo("type k");
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(textbox_text(tb(qty))) == "2.5k"; }));
  EXPECT_EQ(textbox_get_number(tb(qty)), 2500);
  settle();
  EXPECT_TRUE(near(panel_pixel(qty), 0xff3030d0u)) << std::hex << panel_pixel(qty);
  EXPECT_TRUE(near(panel_pixel(name), kFill)) << std::hex << panel_pixel(name);  // left

  guitest_xdo("key Tab");
  ASSERT_TRUE(guitest_wait_for([&] { return gui_focus() == secret; }));
  guitest_xdo("type --delay 30 hunter");
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(textbox_text(tb(secret))) == "hunter"; }));
  guitest_xdo("key Return");  // Enter drops the focus, so no cursor is drawn
  ASSERT_TRUE(guitest_wait_for([&] { return gui_focus() == nullptr; }));
  settle();
  int secret_ink = count_near(xw, inner(secret), kInk);
  EXPECT_GT(secret_ink, 6);
  EXPECT_EQ(secret_ink, count_near(xw, inner(stars), kInk));  // six stars, not the word
  EXPECT_TRUE(near(panel_pixel(stars), kReadOnly)) << std::hex << panel_pixel(stars);
}

TEST_F(UibGui, PasteFromTheClipboard) {
  ASSERT_EQ(system("printf 'ab\\tcd' | xclip -selection clipboard -loops 20"), 0);
  open();
  guitest_xdo("mousemove" + at(name->r.x + 20, name->r.y + name->r.h / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([&] { return gui_focus() == name; }));
  guitest_xdo("key ctrl+v");
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(textbox_text(tb(name))) == "ab cd"; }))
      << textbox_text(tb(name));
}

TEST_F(UibGui, ClickOnATitleStripClosesTheFlyaway) {
  guitest_window::close_all();
  widget_delete(root);
  const uint32_t kStrip = 0xff205080u;
  widget *first = nullptr, *second = nullptr, *text = nullptr;
  root = uib_build(UIB_BIN, kBack,
                     UIB_FBOX, 2, 0,
                       UIB_DEF_FLY0, 0, kFont, kStrip, 0, nullptr, UIB_FLY_STYLE0,
                       UIB_DEF_LABEL0, 0, kFont, 0, kInk, nullptr,
                       UIB_FLYAWAY, "Orders", UIB_STORE_CONTAINER, &first,
                         UIB_LABEL, "Buy 100 at 12.5", UIB_STORE, &text,
                       UIB_CLOSE,
                       UIB_FLYAWAY, "Trades", UIB_STORE_CONTAINER, &second,
                         UIB_LABEL, "none",
                       UIB_CLOSE,
                     UIB_CLOSE,
                   UIB_CLOSE);
  ASSERT_NE(root, nullptr);
  open();
  flyaway *f = static_cast<flyaway *>(first);
  ASSERT_TRUE(flyaway_is_open(f));
  const rect was = text->r;
  ASSERT_GT(was.h, 0);
  EXPECT_GT(count_near(xw, was, kInk), 10);  // the content is drawn
  const int32_t strip_h = flyaway_closed_size(f).h;
  EXPECT_EQ(second->r.y, f->r.y + flyaway_open_size(f).h);

  guitest_xdo("mousemove" + at(f->r.x + 30, f->r.y + strip_h / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([&] {
    gui_tick();  // the deferred toggle, the animation's timers, the draw
    return !flyaway_is_open(f) && f->timer < 0;
  }));
  EXPECT_EQ(f->r.h, strip_h);
  EXPECT_EQ(second->r.y, f->r.y + strip_h);
  EXPECT_FALSE(widget_is_shown(text));
  settle();
  // Where the content was, the second flyaway's strip is drawn now,
  EXPECT_TRUE(near(guitest_window_pixel(xw, second->r.x + second->r.w - 4, second->r.y + 2),
                   kStrip));
  // and none of the first one's white text is left in that strip.
  EXPECT_EQ(count_near(xw, {was.x, second->r.y, was.w, strip_h}, kInk), 0);
}

TEST_F(UibGui, SpinnersClickedAndTyped) {
  guitest_window::close_all();
  widget_delete(root);
  widget *sp = nullptr, *ts = nullptr;
  padding pad = {2, 2, 2, 2};
  root = uib_build(UIB_BIN, kBack,
                     UIB_VBOX, 0, 8,
                       UIB_DEF_SPIN0, kFont, kInk, kFill, 0, kInk, kFocused, 2, 0, 0, 0, &pad,
                       UIB_SPIN_STYLE0,
                       UIB_SIZER, 0, nullptr, nullptr, 1.0,
                         UIB_SPINNER, "Qty", 5.0, 0.0, 10.0, 1.0, 0, 1, UIB_STORE, &sp,
                       UIB_CLOSE,
                       UIB_SIZER, 0, nullptr, nullptr, 1.0,
                         UIB_TIME, "At", 930, 900, 1700, 2, UIB_STORE, &ts,
                       UIB_CLOSE,
                     UIB_CLOSE,
                   UIB_CLOSE);
  ASSERT_NE(root, nullptr);
  time_spinner_set_font(static_cast<time_spinner *>(ts), kFont);
  open();
  auto *s = static_cast<spinner *>(sp);
  auto *t = static_cast<time_spinner *>(ts);
  ASSERT_GT(s->r.w, 30);
  const int sy = s->r.y + s->r.h / 2, ty = t->r.y + t->r.h / 2;

  guitest_xdo("mousemove" + at(s->r.x + s->r.w - 3, sy) + " click 1");  // the up arrow
  ASSERT_TRUE(guitest_wait_for([&] { return spinner_value(s) == 6.0f; }));
  guitest_xdo("mousemove" + at(s->r.x + 3, sy) + " click --repeat 3 1");  // down three times
  ASSERT_TRUE(guitest_wait_for([&] { return spinner_value(s) == 3.0f; }));
  guitest_xdo("mousemove" + at(s->r.x + s->r.w / 2, sy) + " click 1");  // start typing
  ASSERT_TRUE(guitest_wait_for([&] { return s->editing == 1; }));
  guitest_xdo("type --delay 30 8.6");
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(s->text) == "8.6"; }));
  guitest_xdo("key Return");
  ASSERT_TRUE(guitest_wait_for([&] { return s->editing == 0; }));
  EXPECT_EQ(spinner_value(s), 9.0f);  // rounded to no decimals
  EXPECT_STREQ(s->text, "9");

  guitest_xdo("mousemove" + at(t->r.x + t->r.w - 3, ty) + " click 1");
  ASSERT_TRUE(guitest_wait_for([&] { return time_spinner_value(t) == 935; }));
  guitest_xdo("mousemove" + at(t->r.x + t->r.w / 2, ty) + " click 1");
  ASSERT_TRUE(guitest_wait_for([&] { return t->editing == 1; }));
  guitest_xdo("key --delay 30 BackSpace BackSpace BackSpace BackSpace");
  guitest_xdo("type --delay 30 3:15");  // an afternoon time in 12-hour form
  ASSERT_TRUE(guitest_wait_for([&] { return std::string(t->text) == "3:15"; })) << t->text;
  guitest_xdo("key Return");
  ASSERT_TRUE(guitest_wait_for([&] { return t->editing == 0; }));
  EXPECT_EQ(time_spinner_value(t), 1515);
}

}  // namespace
