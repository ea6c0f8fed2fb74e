// A market window in a real gui window under Xvfb: its title bar shows the
// instrument's name in glyph pixels, follows a session-state change
// delivered by the model, takes the focused and unfocused title colours of
// the style, and the window answers a click of its second (right) button (xdotool) on
// its content
// by toggling its tool panel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "testmodel.h"
#include "ui/gui_internal.h"
#include "windows/depthwin.h"
#include "windows/titlebar.h"
#include "windows/window.h"

namespace {

bool g_focused = false;
bool focus_hook(const window *) { return g_focused; }

class TitleGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    ASSERT_TRUE(drawstart_up());
    style_set_size(1);
  }
  static void TearDownTestSuite() {
    drawstart_down();
  }

 protected:
  tw *root = nullptr;
  window *w = nullptr;
  instr *stock = nullptr;
  guitest_window gw;

  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    ss_exchange *ex = ssmodel_exchange(0);
    ex->phase = 20;
    stock = ssmodel_get_stock(ex, "WBC");
    ssmodel_set_stock_names(static_cast<ss_stock *>(stock), "WESTPAC", "Westpac Banking");
    static_cast<ss_stock *>(stock)->state = 20;
    window_set_focus_hook(focus_hook);
    g_focused = false;
    root = tw_new(nullptr, "root", {0, 0, 360, 200}, 0xff202020u);
    w = window_new(root, 0);
    w->r = {0, 0, 360, 200};
    window_set_role(w, kRoleDepth);
    window_set_instrument(w, stock);
    ASSERT_TRUE(gw.open(root, {60, 60, 360, 200}));
    widget_show_subtree(root);
    container_cls(w)->layout(w);
    w->cls->show_children(w);
    redraw();
  }
  void TearDown() override {
    guitest_window::close_all();
    widget_delete(root);
    window_set_focus_hook(nullptr);
    ssmodel_fini();
  }
  void redraw() {
    widget_redraw(root);
    gw.settle();
  }
  titlebar *bar() { return window_get_titlebar(w); }
  // Pixels of r that differ from the background colour.
  int ink(rect r, uint32_t bg) {
    int n = 0;
    // Within the window only (a rect reaching outside cannot be read).
    int32_t x1 = std::min(r.x + r.w, 360), y1 = std::min(r.y + r.h, 200);
    r.x = std::max(r.x, 0);
    r.y = std::max(r.y, 0);
    r.w = x1 - r.x;
    r.h = y1 - r.y;
    if (r.w <= 0 || r.h <= 0) return 0;
    for (uint32_t p : guitest_window_pixels(gw.xw, r))
      if (!guitest_near(p, bg, 12)) n++;
    return n;
  }
};

TEST_F(TitleGui, ShowsTheNameAndFollowsState) {
  const style *st = style_cur();
  const uint32_t bg = style_colour(st, SC_PANEL) | 0xff000000u;
  titlebar *t = bar();
  EXPECT_STREQ(titlebar_get_text(t), "WESTPAC");
  ASSERT_GT(t->r.h, 0) << "line " << st->line_height << " w " << w->r.w << "x" << w->r.h << " title y " << t->r.y << " shown " << widget_is_shown(t);
  ASSERT_GT(t->title_hit.w, 0) << "the title was drawn";
  ASSERT_TRUE(t->title_hit.y >= 0 && t->title_hit.y + t->title_hit.h <= t->r.h)
      << t->title_hit.y << "+" << t->title_hit.h << " in " << t->r.h;
  // The title's glyphs light pixels; the bar right of it is background.
  EXPECT_GT(ink(t->title_hit, bg), 10);
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, t->r.w - 30, t->r.h / 2), bg));
  EXPECT_EQ(t->state_hit.w, 0) << "no state text while the stock trades in its exchange's phase";

  // A state change through the model: the title bar's registration brings it.
  static_cast<ss_stock *>(stock)->state = 140;
  ASSERT_EQ(ssnotify_record(stock, kChangeState, nullptr), 0);
  uint32_t before = t->changes;
  ssnotify_deliver();
  EXPECT_GT(t->changes, before);
  redraw();
  EXPECT_STREQ(titlebar_state_text(t), "SUS");
  ASSERT_GT(t->state_hit.w, 0);
  EXPECT_GT(ink(t->state_hit, bg), 5) << "the state text is drawn at the right";
  EXPECT_GT(t->state_hit.x, t->title_hit.x + t->title_hit.w);
}

TEST_F(TitleGui, FocusedAndUnfocusedColours) {
  const style *st = style_cur();
  const uint32_t unfocused = style_colour(st, SC_PANEL) | 0xff000000u;
  const uint32_t focused = style_colour(st, SC_HEADER) | 0xff000000u;
  ASSERT_FALSE(guitest_near(focused, unfocused)) << "the style tells them apart";
  titlebar *t = bar();
  const int x = t->r.w - 20, y = t->r.h / 2;
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, x, y), unfocused));
  g_focused = true;
  redraw();
  EXPECT_TRUE(guitest_near(guitest_window_pixel(gw.xw, x, y), focused));
}

// The toolkit numbers the right button 2.
TEST_F(TitleGui, SecondButtonTogglesTheTools) {
  EXPECT_EQ(w->show_tools, 0u);
  depthwin_set_group_by(w->child[kWinDepth], 500);
  const int x = w->r.w / 2, y = w->r.h / 2;
  guitest_xdo("mousemove" + gw.at(x, y));
  guitest_xdo("click 3");
  ASSERT_TRUE(guitest_wait_for([&] { return w->show_tools == 1; }));
  EXPECT_STREQ(bar()->caption, "IN 5 CENT INTERVALS") << "the caption is the shown panel's summary";
  guitest_xdo("click 3");
  ASSERT_TRUE(guitest_wait_for([&] { return w->show_tools == 0; }));
  EXPECT_STREQ(bar()->caption, "IN 5 CENT INTERVALS") << "and stays with the panel hidden";
}

}  // namespace
