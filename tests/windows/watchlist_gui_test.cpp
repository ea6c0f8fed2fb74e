// The instrument grid in a real gui window under Xvfb: a rising bid flashes
// its cell (sampled pixel) and fades back to the grid's background on the
// frame clock; the day-range bar's translucent halves behind the Last
// column; the export read back with xclip as tab-separated text; and an
// xdotool drag that reorders the watchlist.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "config/config.h"
#include "export/clipboard.h"
#include "drawstart.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "lib/scan.h"
#include "lib/tex.h"
#include "lib/timer.h"
#include "lib/wlist.h"
#include "plat.h"
#include "ssmodel.h"
#include "ssnotify.h"
#include "style.h"
#include "testmodel.h"
#include "undo.h"
#include "ui/gui_internal.h"
#include "windows/watchlist.h"

namespace {

int64_t g_clock = 0;
int64_t test_clock() { return g_clock; }

class GridGui : public ::testing::Test {
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
  watchlist *w = nullptr;
  wlist *wl = nullptr;
  ss_stock *st[3] = {};
  guitest_window gw;
  static constexpr int kW = 560, kH = 160;

  void SetUp() override {
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(config_init(), 0);
    ASSERT_EQ(timer_init(), 0);
    ASSERT_EQ(scan_init(), 0);
    ASSERT_EQ(clipboard_init(), 0);
    ASSERT_EQ(undo_init(), 0);
    ss_exchange *ex = ssmodel_exchange(0);
    const char *codes[3] = {"AAA", "BBB", "CCC"};
    wl = wlist_create("Mine", 0);
    for (int i = 0; i < 3; i++) {
      st[i] = ssmodel_get_stock(ex, codes[i]);
      ssmodel_stock_make_current(st[i]);
      st[i]->bid = 1000 + 100 * i;
      st[i]->offer = 1010 + 100 * i;
      st[i]->last = 1005 + 100 * i;
      st[i]->high = 1100 + 100 * i;
      st[i]->low = 900 + 100 * i;
      st[i]->volume = 5000;
      wlist_add_item(wl, st[i]);
    }
    root = tw_new(nullptr, "root", {0, 0, kW, kH}, 0xff000000u);
    w = watchlist_new(root, 0);
    w->r = {0, 0, kW, kH};
    ASSERT_TRUE(gw.open(root, {60, 60, kW, kH}));
    widget_show_subtree(root);
    w->cls->show_children(w);
    w->flags |= WIDGET_SHOWN;
    w->cls->geometry_changed(w);
    ASSERT_EQ(watchlist_set_source(w, wl), 0);
    redraw();
  }
  void TearDown() override {
    plat_set_test_clock(nullptr);
    guitest_window::close_all();
    widget_delete(root);
    undo_fini();
    clipboard_shutdown();
    scan_fini();
    timer_fini();
    config_shutdown();
    ssmodel_fini();
  }
  void redraw() {
    widget_redraw(root);
    gw.settle();
  }
  uint32_t pixel(int x, int y) { return guitest_window_pixel(gw.xw, x, y); }
  static uint32_t colour(int field) { return style_colour(style_cur(), field) | 0xff000000u; }
  static uint32_t blend(uint32_t under, uint32_t over, uint32_t alpha) {
    uint32_t out = 0xff000000u;
    for (int sh = 0; sh < 24; sh += 8) {
      uint32_t a = under >> sh & 0xff, b = over >> sh & 0xff;
      out |= ((a * (255 - alpha) + b * alpha + 127) / 255) << sh;
    }
    return out;
  }
  std::vector<std::string> order() {
    std::vector<std::string> out;
    for (int32_t i = 0; i < wlist_count(wl); i++) out.push_back(wlist_item_at(wl, i)->code);
    return out;
  }
};

TEST_F(GridGui, ARisingBidFlashesItsCellAndFadesBack) {
  ASSERT_TRUE(w->columns.shown >> 6 & 1) << "the bid column is shown";
  const cols_col &bid = w->columns.col[6];
  watchlist_row *r = watchlist_find_row(w, st[0]);
  ASSERT_NE(r, nullptr);
  const int x = bid.x0 + 2, y = r->y + 1;
  const uint32_t bg = colour(SC_GRID_BACKGROUND), up = colour(SC_UP_HIGHLIGHT);
  ASSERT_FALSE(guitest_near(bg, up, 20)) << "the style tells the flash from the background";
  EXPECT_TRUE(guitest_near(pixel(x, y), bg)) << std::hex << pixel(x, y);

  // The frame clock drives the fade: a test clock from here on.
  g_clock = plat_ms();
  plat_set_test_clock(test_clock);
  G.frame_ms = 0;
  st[0]->bid = 1050;
  ASSERT_EQ(ssnotify_record(st[0], kChangeQuote, nullptr), 0);
  ssnotify_deliver();
  ASSERT_EQ(r->code[WC_BID_BG], 133);
  // The grid queued its own redraw: a partial draw of the changed row over
  // the kept back buffer, the other rows left as they were.
  watchlist_row *other = watchlist_find_row(w, st[2]);
  const uint32_t draws = w->row_draws;
  gw.settle();
  EXPECT_EQ(w->row_draws - draws, 2u) << "the flashing row, once into each buffer";
  EXPECT_TRUE(guitest_near(pixel(x, y), up, 6)) << "flash start " << std::hex << pixel(x, y) << " want " << up;
  EXPECT_TRUE(guitest_near(pixel(x, other->y + 1), bg)) << "another row kept";
  // Half-way the cell lies between the two colours; at the end it is back.
  g_clock += 700;
  timer_run(g_clock);
  gw.settle();
  uint32_t mid = pixel(x, y);
  EXPECT_FALSE(guitest_near(mid, up, 6)) << std::hex << mid;
  EXPECT_FALSE(guitest_near(mid, bg, 6)) << std::hex << mid;
  g_clock += 2000;
  timer_run(g_clock);
  gw.settle();
  timer_run(g_clock + 16);  // the tick after the last fade queues the final colour
  gw.settle();
  EXPECT_TRUE(guitest_near(pixel(x, y), bg)) << "faded back " << std::hex << pixel(x, y);
  EXPECT_EQ(r->fade[WC_BID_BG].state, nullptr);
}

TEST_F(GridGui, DayRangeBarBehindTheLastColumn) {
  ASSERT_TRUE(w->columns.shown >> 10 & 1);
  const cols_col &last = w->columns.col[10];
  watchlist_row *r = watchlist_find_row(w, st[1]);  // last 1105 between 1000 and 1200
  const uint32_t bg = colour(SC_GRID_BACKGROUND);
  const uint32_t up = blend(bg, colour(SC_UP), 0x28), down = blend(bg, colour(SC_DOWN), 0x28);
  const int y = r->y + 1;
  EXPECT_TRUE(guitest_near(pixel(last.x0 + 2, y), up, 4)) << std::hex << pixel(last.x0 + 2, y) << " want " << up;
  int split = last.x0 + (1105 - 1000) * last.width / 200;
  EXPECT_TRUE(guitest_near(pixel(split + 3, y), down, 4)) << std::hex << pixel(split + 3, y) << " want " << down;
  EXPECT_TRUE(guitest_near(pixel(split - 3, y), up, 4));
  // A value at the low (refreshed without a flash, which would tint the
  // cell under the bar): all down.
  st[1]->last = 1000;
  st[1]->disp_price = 1000;
  watchlist_refresh_row(w, r, 0);
  redraw();
  EXPECT_TRUE(guitest_near(pixel(last.x0 + 2, y), down, 4)) << std::hex << pixel(last.x0 + 2, y);
}

TEST_F(GridGui, ExportReadBackWithXclip) {
  watchlist_export(w);
  std::string got = guitest_run_pumping("xclip -o -selection clipboard");
  std::string want = clipboard_text();
  ASSERT_FALSE(want.empty());
  // xclip prints the text as it is; the export's rows end in line feeds.
  EXPECT_EQ(got, want);
  std::istringstream in(got);
  std::string line;
  std::vector<std::vector<std::string>> rows;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream ls(line);
    while (std::getline(ls, cell, '\t')) cells.push_back(cell);
    if (!line.empty() && line.back() == '\t') cells.push_back("");
    rows.push_back(cells);
  }
  ASSERT_EQ(rows.size(), 4u) << "a title row and three rows";
  for (const auto &row : rows) EXPECT_EQ(row.size(), rows[0].size());
  size_t code_col = std::find(rows[0].begin(), rows[0].end(), "Code") - rows[0].begin();
  ASSERT_LT(code_col, rows[0].size());
  EXPECT_EQ(rows[1][code_col], "AAA");
  EXPECT_EQ(rows[3][code_col], "CCC");
  size_t bid_col = std::find(rows[0].begin(), rows[0].end(), "Bid") - rows[0].begin();
  ASSERT_LT(bid_col, rows[0].size());
  EXPECT_EQ(rows[2][bid_col], "11") << "1100 price units";
  EXPECT_EQ(std::count(rows[0].begin(), rows[0].end(), std::string("VWAP")), 0);
}

TEST_F(GridGui, DragReordersTheWatchlist) {
  ASSERT_EQ(order(), (std::vector<std::string>{"AAA", "BBB", "CCC"}));
  watchlist_row *from = watchlist_find_row(w, st[2]), *to = watchlist_find_row(w, st[0]);
  const int x = w->columns.col[2].x0 + 6;
  guitest_xdo("mousemove" + gw.at(x, from->y + w->row_h / 2));
  guitest_xdo("mousedown 1");
  guitest_xdo("mousemove" + gw.at(x, from->y + w->row_h / 2 - 4));
  guitest_xdo("mousemove" + gw.at(x, to->y + w->row_h / 2));
  guitest_xdo("mouseup 1");
  ASSERT_TRUE(guitest_wait_for([&] { return order()[0] == "CCC"; })) << order()[0];
  EXPECT_EQ(order(), (std::vector<std::string>{"CCC", "AAA", "BBB"}));
  std::vector<std::string> rows;
  for (watchlist_row *r = w->rows; r; r = r->next) rows.push_back(r->in->code);
  EXPECT_EQ(rows, order()) << "the grid follows its watchlist";
  // The move is one step.
  ASSERT_EQ(undo_perform(), 0);
  EXPECT_EQ(order(), (std::vector<std::string>{"AAA", "BBB", "CCC"}));
  rows.clear();
  for (watchlist_row *r = w->rows; r; r = r->next) rows.push_back(r->in->code);
  EXPECT_EQ(rows, order());
}

}  // namespace
