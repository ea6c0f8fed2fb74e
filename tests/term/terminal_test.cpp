// The terminal widget in a real window under the private X server: the log
// display's colours read back as pixels, a drag and a double click whose
// selections are read back from the X clipboard with xclip, the double-click
// time on the gui's clock, and keys of a local display passed to the parent.
#include "term/terminal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "export/clipboard.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/tex.h"
#include "pixeltest.h"
#include "term/tt_io.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"

namespace {

constexpr uint32_t rgb(uint32_t v) {
  return 0xff000000u | (v & 0xff) << 16 | (v & 0xff00) | (v >> 16 & 0xff);
}

class TerminalGui : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(guitest_start_gui("Ambit"));
    tex_init();
    ASSERT_EQ(tex_load_builtin(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
    ASSERT_EQ(tt_init(), 0);
  }
  static void TearDownTestSuite() {
    tt_shutdown();
    clipboard_shutdown();
    fade_fini();
    gui_shutdown();
    gmap_fini();
    tex_fini();
  }

 protected:
  tw *root = nullptr;
  terminal *t = nullptr;
  guitest_window gw;
  void SetUp() override {
    root = tw_new(nullptr, "root", {0, 0, 640, 420}, 0xff000000);
    t = terminal_new(root);
    ASSERT_NE(t, nullptr);
    t->r = {10, 10, 600, 400};
    terminal_set_kind(t, 1);
    ASSERT_TRUE(gw.open(root, {60, 60, 640, 420}));
    t->cls->geometry_changed(t);
    ASSERT_GE(t->session, 0);
    tw_log().clear();
  }
  void TearDown() override {
    G.frame_ms = 0;
    guitest_window::close_all();
    widget_delete(root);
  }
  // The window point at the middle of a cell.
  int cx(int col) const { return t->r.x + col * t->cell_w + t->cell_w / 2; }
  int cy(int row) const { return t->r.y + row * t->cell_h + t->cell_h / 2; }
  void draw() {
    widget_redraw(t);
    gw.settle();
  }
};

TEST_F(TerminalGui, OpensALocalDisplaySizedToItself) {
  const tt_session *s = tt_screen_of(t->session);
  EXPECT_EQ(s->cols, (600 - 1) / t->cell_w);
  EXPECT_EQ(s->rows, (400 - 1) / t->cell_h);
  EXPECT_EQ(terminal_needs_reopen(t), 0);
  EXPECT_STREQ(terminal_caption(t), "Terminal");
}

TEST_F(TerminalGui, LogColoursAtSampledPixels) {
  terminal_send_string(t, "\033[41mAB\033[0m \033[44;33mCD\033[0m\r\n\033[7;32mR\033[0m", -1);
  draw();
  struct {
    int col, row;
    uint32_t want;
  } cases[] = {
      {0, 0, rgb(0xC35365)},  // background 1
      {1, 0, rgb(0xC35365)},
      {2, 0, rgb(0x001A2A)},  // a blank on the widget's background
      {3, 0, rgb(0x3D77A1)},  // background 4
      {4, 0, rgb(0x3D77A1)},
      {0, 1, rgb(0xA7D671)},  // reversed: the cell takes text colour 2
      {9, 6, rgb(0x001A2A)},  // nothing written
  };
  for (auto &c : cases) {
    // The cell's top-left corner pixel, which no glyph reaches.
    uint32_t got = guitest_window_pixel(gw.xw, t->r.x + c.col * t->cell_w, t->r.y + c.row * t->cell_h);
    EXPECT_TRUE(guitest_near(got, c.want)) << c.col << "," << c.row << ": " << std::hex << got;
  }
  // The cursor (column 1 of row 1) is a yellow box.
  uint32_t edge = guitest_window_pixel(gw.xw, t->r.x + t->cell_w, t->r.y + t->cell_h);
  EXPECT_TRUE(guitest_near(edge, rgb(0xFFFF00))) << std::hex << edge;
}

TEST_F(TerminalGui, DragSelectionReachesTheClipboard) {
  terminal_send_string(t, "hello world\r\nsecond line", -1);
  draw();
  guitest_xdo("mousemove" + gw.at(cx(0), cy(0)) + " mousedown 1");
  guitest_xdo("mousemove" + gw.at(cx(2), cy(1)));
  guitest_xdo("mousemove" + gw.at(cx(4), cy(1)) + " mouseup 1");
  ASSERT_TRUE(guitest_wait_for([] { return std::string(terminal_selection()) == "hello world\nsecon"; }))
      << terminal_selection();
  EXPECT_EQ(guitest_run_pumping("xclip -o -selection clipboard"), "hello world\nsecon");
  // The drawn selection lies over the cells it took.
  draw();
  uint32_t over = guitest_window_pixel(gw.xw, t->r.x + 20 * t->cell_w, t->r.y);
  EXPECT_FALSE(guitest_near(over, rgb(0x001A2A))) << std::hex << over;
  uint32_t past = guitest_window_pixel(gw.xw, t->r.x + 20 * t->cell_w, t->r.y + t->cell_h);
  EXPECT_TRUE(guitest_near(past, rgb(0x001A2A))) << std::hex << past;
}

TEST_F(TerminalGui, DoubleClickSelectsAWord) {
  terminal_send_string(t, "bid 45.20 ask_1 46", -1);
  draw();
  guitest_xdo("mousemove" + gw.at(cx(12), cy(0)) + " click --repeat 2 --delay 60 1");
  ASSERT_TRUE(guitest_wait_for([] { return std::string(terminal_selection()) == "ask_1"; }))
      << terminal_selection();
  EXPECT_EQ(guitest_run_pumping("xclip -o -selection clipboard"), "ask_1");
  // The keyboard went to the terminal; a local display hands keys on.
  guitest_xdo("key --window " + std::to_string(gw.xw) + " x");
  ASSERT_TRUE(guitest_wait_for([] {
    for (auto &e : tw_log())
      if (e.rfind("root:key_press", 0) == 0) return true;
    return false;
  }));
}

// The second release counts as a double click up to 499 ms after the first,
// on the gui's frame clock.
TEST_F(TerminalGui, DoubleClickTimeOnTheFrameClock) {
  terminal_send_string(t, "one two.three", -1);
  struct {
    int64_t gap;
    int col;
    const char *selected;  // null: no selection
  } cases[] = {{499, 5, "two"}, {500, 5, nullptr}, {0, 7, "."}, {100, 30, ""}};
  int64_t now = 10000;
  for (auto &c : cases) {
    t->cls->press(t, cx(0), cy(3), 1);  // clears the selection
    EXPECT_EQ(t->sel_start.col, -1);
    now += 10000;
    G.frame_ms = now;
    t->cls->release(t, cx(c.col), cy(0), 1);
    G.frame_ms = now + c.gap;
    t->cls->release(t, cx(c.col), cy(0), 1);
    if (c.selected) {
      EXPECT_STREQ(terminal_selection(), c.selected) << c.gap;
      EXPECT_GE(t->sel_start.col, 0);
    } else {
      EXPECT_EQ(t->sel_start.col, -1) << c.gap;
    }
  }
  // Past the row's text the double click took the run of empty cells,
  // which copies as nothing.
  EXPECT_EQ(t->sel_start.col, 13);
  EXPECT_EQ(t->sel_end.col, tt_screen_of(t->session)->cols - 1);
}

TEST_F(TerminalGui, ShrinkingKeepsNewestRowsAndClampsTheSelection) {
  const tt_session *s = tt_screen_of(t->session);
  std::string text;
  const int rows_before = s->rows;
  for (int k = 0; k < s->rows; k++) text += "row" + std::to_string(k) + "\r\n";
  terminal_send_string(t, text.c_str(), -1);
  t->sel_start = {50, 30};
  t->sel_end = {70, 35};
  t->r.h = 5 * t->cell_h + 1;
  t->cls->geometry_changed(t);
  s = tt_screen_of(t->session);
  ASSERT_EQ(s->rows, 5);
  // The newest rows are kept: the cursor's row is the last one.
  EXPECT_EQ(s->cursor_row, 4);
  // The last line written sits just above the cursor's (empty) row.
  std::string newest = "row" + std::to_string(rows_before - 1);
  EXPECT_EQ(std::string((const char *)s->chars + 3 * s->cols, newest.size()), newest);
  draw();  // the stale selection is drawn clamped, without reading outside the grid
}

}  // namespace

namespace {

std::vector<int> g_opens;
void opened(widget *, int status, intptr_t a, intptr_t) { g_opens.push_back(status * 100 + (int)a); }
widget *g_popup;
int in_popup(widget *w) { return w == g_popup; }

// Kinds 0 and 2 have no back end here: the open fails, the widget says so
// and asks to be reopened; a copy into a popup takes a snapshot of the screen.
TEST_F(TerminalGui, FailedOpensAndSnapshots) {
  g_opens.clear();
  terminal *other = terminal_new(root);
  other->r = {10, 10, 300, 200};
  widget_show_subtree(other);
  terminal_set_on_open(other, opened, 7, 0);
  terminal_set_kind(other, 2);
  EXPECT_STREQ(terminal_caption(other), "Command Prompt");
  int count = tt_count();
  terminal_update_session(other);
  EXPECT_EQ(other->session, -1);
  EXPECT_EQ(tt_count(), count);
  EXPECT_EQ(g_opens, (std::vector<int>{207}));
  EXPECT_EQ(terminal_needs_reopen(other), 1);
  EXPECT_EQ(terminal_copy(t, other), -1);  // no session to copy from

  terminal_send_string(t, "\033[35mquote\033[0m", -1);
  terminal_hooks hooks = {};
  hooks.is_popup = in_popup;
  terminal_set_hooks(&hooks);
  g_popup = other;
  ASSERT_EQ(terminal_copy(other, t), 0);
  terminal_set_hooks(nullptr);
  ASSERT_NE(other->snapshot, nullptr);
  EXPECT_EQ(terminal_get_kind(other), 1);
  const tt_session *s = tt_screen_of(t->session);
  EXPECT_EQ(other->snapshot->cols, s->cols);
  EXPECT_EQ(std::string((const char *)other->snapshot->chars, 5), "quote");
  EXPECT_EQ(other->snapshot->attrs[TT_FG], 5u);
  // The snapshot stays as it was when the source goes on.
  terminal_clear(t);
  EXPECT_EQ(other->snapshot->chars[0], 'q');
  EXPECT_EQ(s->chars[0], 0);
  // Selecting in the snapshot copies from it.
  other->cls->drag_begin(other, other->r.x + 1, other->r.y + 1, 1, nullptr);
  other->cls->drag_release(other, nullptr, other->r.x + 4 * other->cell_w + 1, other->r.y + 1, 0,
                           nullptr);
  EXPECT_STREQ(terminal_selection(), "quote");
}

}  // namespace
