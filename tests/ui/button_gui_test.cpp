// Buttons, a link label and the drag label in a real gui window under Xvfb,
// driven by xdotool through the platform layer: press and release states
// passed to the callback, toggles and radio selection, the look of each
// state read back from the window, and a drag out of a button whose label
// (the tooltip) follows the pointer and goes when the drag ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guitest.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "testlog.h"
#include "ui/button.h"
#include "ui/gui_internal.h"
#include "ui/label.h"
#include "ui/tooltip.h"

#include <SDL2/SDL.h>

namespace {

struct Call {
  std::string name;
  uint32_t state;
};
std::vector<Call> g_calls;
void record(button *b, uint32_t state, void *, int32_t) { g_calls.push_back({b->text, state}); }

class ButtonGui : public ::testing::Test {
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
  }
  static void TearDownTestSuite() {
    gui_shutdown();
    gmap_fini();
    tex_fini();
  }

 protected:
  button_colours colours{};
  button_group g;  // outlives its members, which leave it when deleted
  tw *root = nullptr;
  int win = -1;
  uint64_t xw = 0;
  void SetUp() override {
    g_calls.clear();
    for (int k = 0; k < kButtonEntries; k++)
      colours.entry[k] = {9, 0xff000000u | (uint32_t)(k * 14 + 20) << 8 | (uint32_t)(250 - k * 12),
                          0xffffffff, 0, 0};
    root = tw_new(nullptr, "root", {0, 0, 300, 200}, 0xff202020);
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    tooltip_show_text(nullptr);
  }
  guitest_window gw;
  void open() {
    ASSERT_TRUE(gw.open(root, {100, 100, 300, 200}));
    win = gw.win;
    xw = gw.xw;
  }
  void settle() { gw.settle(); }
  std::string at(int x, int y) { return gw.at(x, y); }
  button *add(const char *text, uint32_t flags, rect r, button_group *g = nullptr) {
    button *b = button_new(root, text, -1, 0, flags, g, &colours, record, nullptr, 0);
    b->r = r;
    return b;
  }
};

TEST_F(ButtonGui, ClicksTogglesAndRadios) {
  button_group_init(&g);
  button *push = add("push", 0, {20, 20, 100, 30});
  button *toggle = add("toggle", BUTTON_TOGGLE, {20, 80, 100, 30});
  button *r1 = add("r1", 0, {160, 20, 100, 30}, &g);
  button *r2 = add("r2", 0, {160, 80, 100, 30}, &g);
  open();
  ASSERT_EQ(g.active, r1);

  guitest_xdo("mousemove" + at(60, 35) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_calls.size() >= 2; }));
  ASSERT_EQ(g_calls.size(), 2u);
  // Pressed inside with the pointer over it, then released: the callback
  // runs with the pointer's hover, and with 32 while inside it.
  EXPECT_EQ(g_calls[0].state, (uint32_t)(BUTTON_PRESSED | BUTTON_HELD | BUTTON_HOVER));
  EXPECT_EQ(g_calls[1].state, (uint32_t)(BUTTON_HOVER | BUTTON_IN_CALLBACK));
  EXPECT_EQ(push->state, (uint32_t)BUTTON_HOVER);

  g_calls.clear();
  guitest_xdo("mousemove" + at(60, 95) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_calls.size() >= 2; }));
  EXPECT_TRUE(toggle->state & BUTTON_ACTIVE);
  EXPECT_FALSE(push->state & BUTTON_HOVER);  // the pointer left it
  g_calls.clear();
  guitest_xdo("click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_calls.size() >= 2; }));
  EXPECT_FALSE(toggle->state & BUTTON_ACTIVE);
  g_calls.clear();
  guitest_xdo("click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_calls.size() >= 2; }));
  EXPECT_TRUE(toggle->state & BUTTON_ACTIVE);

  g_calls.clear();
  guitest_xdo("mousemove" + at(200, 95) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return g_calls.size() >= 2; }));
  EXPECT_EQ(g.active, r2);
  EXPECT_FALSE(r1->state & BUTTON_ACTIVE);

  // Pressed, then released outside: one call only, and the look restored.
  g_calls.clear();
  guitest_xdo("mousemove" + at(60, 35) + " mousedown 1 mousemove" + at(60, 150) + " mouseup 1");
  ASSERT_TRUE(guitest_wait_for([&] { return !g_calls.empty() && !(push->state & BUTTON_HELD); }));
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(push->state & (BUTTON_PRESSED | BUTTON_HELD), 0u);
  guitest_xdo("mousemove" + at(280, 190));
  ASSERT_TRUE(guitest_wait_for([&] { return push->state == 0; }));

  // The look of each state as the window shows it.
  settle();
  struct {
    const char *name;
    int x, y, entry;
  } looks[] = {{"push, idle", 25, 25, 0},
               {"toggle, active", 25, 85, 8},
               {"r1, group member", 165, 25, 3},
               {"r2, group active", 165, 85, 4}};
  for (auto &l : looks)
    EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, l.x, l.y), colours.entry[l.entry].fill))
        << l.name << ": " << std::hex << guitest_window_pixel(xw, l.x, l.y);
  // Hovering the radio member shows entry 6 once drawn.
  guitest_xdo("mousemove" + at(200, 95));
  ASSERT_TRUE(guitest_wait_for([&] { return (r2->state & BUTTON_HOVER) != 0; }));
  settle();
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, 165, 85), colours.entry[6].fill));
}

TEST_F(ButtonGui, LinkLabelClicked) {
  label *l = label_new(root, "Open the page", 0, 9, 0xff303030, 0xffffffff, nullptr);
  l->r = {20, 140, 200, 24};
  static int clicks;
  clicks = 0;
  label_set_click(l, [](label *, void *, int) { clicks++; }, nullptr, 0);
  open();
  rect t = l->text_rect;
  ASSERT_GT(t.w, 0);
  guitest_xdo("mousemove" + at(t.x + t.w / 2, t.y + t.h / 2) + " click 1");
  ASSERT_TRUE(guitest_wait_for([] { return clicks == 1; }));
  settle();  // the underline under the pointer, on the bottom row
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, t.x + t.w / 2, 163), 0xffffffff));
  guitest_xdo("mousemove" + at(t.x + t.w + 30, t.y + 2) + " click 1");  // beside the text
  guitest_xdo("mousemove" + at(280, 190));
  ASSERT_TRUE(guitest_wait_for([&] {
    int x, y, w;
    gui_mouse(&w, &x, &y);
    return x == 280;
  }));
  EXPECT_EQ(clicks, 1);
  settle();
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, t.x + t.w / 2, 163), 0xff303030));  // underline gone
}

TEST_F(ButtonGui, DragLabelFollowsThePointer) {
  const colour kTip = 0xffff00ff;
  tooltip_set_style(0, kTip, 0, 0, 4, 0xff000000, 4);
  tooltip_set_offset(0, 0, 0);
  button *src = add("Drag me", BUTTON_DRAG_SOURCE, {20, 20, 100, 30});
  button *dst = add("Target", BUTTON_ACCEPTS_DROPS, {160, 120, 100, 30});
  open();
  guitest_xdo("mousemove" + at(60, 35) + " mousedown 1 mousemove" + at(70, 40) + " mousemove" +
      at(150, 60));
  ASSERT_TRUE(guitest_wait_for([] { return gui_dragging() != 0; }));
  EXPECT_TRUE(tooltip_visible());
  ASSERT_TRUE(guitest_wait_for([] {
    int x, y, w;
    gui_mouse(&w, &x, &y);
    return x == 150 && y == 60;
  }));
  settle();
  // The label: below the pointer by 16, drawn over the window's contents.
  EXPECT_TRUE(guitest_near(guitest_window_pixel(xw, 152, 78), kTip)) << std::hex << guitest_window_pixel(xw, 152, 78);
  g_calls.clear();
  guitest_xdo("mousemove" + at(200, 130) + " mouseup 1");
  ASSERT_TRUE(guitest_wait_for([] { return gui_dragging() == 0; }));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].name, "Drag me");
  EXPECT_EQ(g_calls[0].state & BUTTON_DRAGGED_OUT, (uint32_t)BUTTON_DRAGGED_OUT);
  EXPECT_FALSE(tooltip_visible());
  EXPECT_EQ(src->state & (BUTTON_PRESSED | BUTTON_HELD), 0u);
  (void)dst;
  settle();
  EXPECT_FALSE(guitest_near(guitest_window_pixel(xw, 152, 78), kTip));  // no trail
}

}  // namespace
