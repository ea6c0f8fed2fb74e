// A market window in a real gui window under Xvfb: its title bar shows the
// instrument's name in glyph pixels, follows a session-state change
// delivered by the model, takes the focused and unfocused title colours of
// the style, and the window answers a click of its second (right) button (xdotool) on
// its content
// by toggling its tool panel. The title shows the exchange's icon away from
// the default exchange, the issuer's flag icon and the resume time of a
// halted stock; a click on the issuer icon with no news of today shows the
// issuer's announcements, one undo step; a drag from the title carries the
// window's stock; a document window's title is its announcement's.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "action.h"
#include "dnd.h"
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
#include "undo.h"
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
    ASSERT_EQ(undo_init(), 0);
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
    dnd_clear();
    undo_fini();
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

// Pixels of the bar inside a hit rectangle that differ from its background.
TEST_F(TitleGui, ExchangeAndIssuerIconsAndTheResumeTime) {
  const style *st = style_cur();
  const uint32_t bg = style_colour(st, SC_PANEL) | 0xff000000u;
  ASSERT_EQ(action_default_exchange(), 0u);
  titlebar *t = bar();
  EXPECT_EQ(t->exchange_hit.w, 0) << "no icon on the default exchange";
  EXPECT_EQ(t->issuer_hit.w, 0) << "no icon for an issuer without flags";

  // A stock of the second exchange shows that exchange's icon after the title.
  ss_stock *nz = ssmodel_get_stock(ssmodel_exchange(1), "FPH");
  ssmodel_set_stock_names(nz, "FISHER", "Fisher and Paykel");
  window_set_instrument(w, nz);
  redraw();
  ASSERT_GT(t->exchange_hit.w, 0);
  EXPECT_GT(t->exchange_hit.x, t->title_hit.x + t->title_hit.w);
  EXPECT_GT(ink(t->exchange_hit, bg), 3) << "the icon's pixels";

  // Back on the first exchange; its issuer flagged (bit 20), the stock
  // halted until a resume time.
  ss_issuer *is = ssmodel_get_issuer(ssmodel_exchange(0), "WBC");
  is->flags |= 1u << 20;
  auto *wbc = static_cast<ss_stock *>(stock);
  wbc->state = 140;
  wbc->resume_time = sstime_pack(0, 30, 14, 1, 6, 2026);
  window_set_instrument(w, stock);
  redraw();
  EXPECT_EQ(t->exchange_hit.w, 0);
  EXPECT_STREQ(titlebar_state_text(t), "SUS 14:30:00");
  ASSERT_GT(t->issuer_hit.w, 0);
  EXPECT_LE(t->issuer_hit.x + t->issuer_hit.w, t->r.x + t->r.w - 4) << "at the right end";
  EXPECT_GT(t->issuer_hit.x, t->state_hit.x + t->state_hit.w) << "right of the state text";
  EXPECT_GT(ink(t->issuer_hit, bg), 3);
}

TEST_F(TitleGui, AClickOnTheIssuerIconWithOlderNewsShowsTheAnnouncements) {
  ss_issuer *is = ssmodel_get_issuer(ssmodel_exchange(0), "WBC");
  is->flags |= 1u << 18;
  // The latest item is from before today's start.
  ss_exchange *ex = ssmodel_exchange(0);
  const ss_time day = ssmodel_exchange_day_start(ex);
  ASSERT_NE(ssmodel_add_news(is, 77, day > 86400 ? day - 86400 : 1, nullptr, 0, "Old news"), nullptr);
  titlebar_set_instr(bar(), stock);
  redraw();
  titlebar *t = bar();
  ASSERT_GT(t->issuer_hit.w, 0);
  ASSERT_FALSE(undo_can_undo());
  guitest_xdo("mousemove" + gw.at(t->issuer_hit.x + t->issuer_hit.w / 2, t->issuer_hit.y + t->issuer_hit.h / 2));
  guitest_xdo("click 1");
  ASSERT_TRUE(guitest_wait_for([&] { return w->role == kRoleHistnews; }));
  // One step takes it back.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(w->role, kRoleDepth);
  EXPECT_EQ(w->instrument, stock);
  EXPECT_FALSE(undo_can_undo());
}

TEST_F(TitleGui, ADragFromTheTitleCarriesTheWindowsStock) {
  titlebar *t = bar();
  const int x = t->title_hit.x + t->title_hit.w / 2, y = t->r.y + t->r.h / 2;
  guitest_xdo("mousemove" + gw.at(x, y));
  guitest_xdo("mousedown 1");
  guitest_xdo("mousemove_relative --sync 20 40");
  guitest_xdo("mousemove_relative --sync 20 40");
  const bool dragging = guitest_wait_for([] { return gui_dragging() != 0; });
  const uint32_t kind = dnd_kind();
  instr *carried = dnd_instrument();
  guitest_xdo("mouseup 1");
  guitest_wait_for([] { return gui_dragging() == 0; });
  ASSERT_TRUE(dragging);
  EXPECT_EQ(kind, 1u) << "a stock drag";
  EXPECT_EQ(carried, stock);
}

TEST_F(TitleGui, ADocumentWindowIsTitledByItsAnnouncement) {
  ss_issuer *is = ssmodel_get_issuer(ssmodel_exchange(0), "WBC");
  ssmodel_set_names(is, "WESTPAC", "Westpac Banking Corporation");
  ss_news *item = ssmodel_add_news(is, 78, ssmodel_exchange_day_start(ssmodel_exchange(0)) + 60, nullptr, 0,
                                   "Quarterly update");
  ASSERT_NE(item, nullptr);
  ASSERT_EQ(window_show_news_item(w, is, item), 1);
  EXPECT_STREQ(titlebar_get_text(bar()), "Westpac Banking Corporation: Quarterly update");
  ss_news *bare = ssmodel_add_news(is, 79, ssmodel_exchange_day_start(ssmodel_exchange(0)) + 120, nullptr, 0, "");
  titlebar_set_news_item(bar(), is, bare);
  EXPECT_STREQ(titlebar_get_text(bar()), "Westpac Banking Corporation") << "an empty headline: the name alone";
}

}  // namespace
