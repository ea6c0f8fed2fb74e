// The depth table and the depth bars fed event by event: values (the
// multiplier rule, a product past 64 bits), the trade block with cancels
// and its percentage before any trade, a removal fading out and an add that
// keeps the row, grouping, the column sets fitted to widths, and the bars'
// thickness, gridline tables and guards against an empty or zero-priced book.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lib/fade.h"
#include "lib/fmt.h"
#include "lib/glrecord.h"
#include "lib/timer.h"
#include "plat.h"
#include "testlog.h"
#include "lib/font.h"
#include "style.h"
#include "sstime.h"
#include "ssevent.h"
#include "testmodel.h"
#include "uitest.h"
#include "windows/depthbars.h"
#include "windows/depthtable.h"
#include "windows/depthwin.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

double g_now = 100.0;
double test_now() { return g_now; }
int no_request(instr *) { return 0; }

class DepthTable : public WidgetTest {
 protected:
  ss_stock *stock = nullptr;
  widget *w = nullptr;
  depthwin_child *table = nullptr, *bars = nullptr;
  depthwin_services svc{};

  void SetUp() override {
    WidgetTest::SetUp();
    ASSERT_EQ(start_terminal_model(), 0);
    ASSERT_EQ(fade_init(), 0);
    svc.now_seconds = test_now;
    svc.request_events = no_request;
    depthwin_set_services(&svc);
    stock = ssmodel_get_stock(ssmodel_exchange(0), "BHP");
    w = depthwin_new(root);
    w->r = {0, 0, 600, 300};
    w->cls->geometry_changed(w);
    depthwin_set_instrument(w, stock);
    table = depthwin_get_child(w, 2);
    bars = depthwin_get_child(w, 1);
  }
  void TearDown() override {
    container_cls(root)->remove(root, w);
    widget_delete(w);
    depthwin_set_services(nullptr);
    fade_fini();
    ssmodel_fini();
    WidgetTest::TearDown();
  }

  // Events made by hand, applied to both children as the replay does.
  void apply(uint32_t kind, void *payload) {
    ss_event e{kind, payload, nullptr, nullptr};
    for (depthwin_child *c : {bars, table})
      static_cast<depthwin_child_class *>(c->cls)->apply_event(c, &e);
  }
  void add(int side, uint32_t pos, uint32_t price, uint64_t vol) {
    ss_ev_depth_add p{1, uint32_t(side), pos, 1, price, vol, 0};
    apply(kEvDepthAdd, &p);
  }
  void del(int side, uint32_t pos, uint32_t price, uint64_t vol) {
    ss_ev_depth_delete p{1, uint32_t(side), pos, price, vol};
    apply(kEvDepthDelete, &p);
  }
  uint32_t rows(int list) {
    uint32_t n;
    depthtbl_rows(table, list, &n);
    return n;
  }
  const depthtbl_row &row(int list, uint32_t i) {
    uint32_t n;
    return depthtbl_rows(table, list, &n)[i];
  }
  void tick() { static_cast<depthwin_child_class *>(table->cls)->tick(table); }
};

TEST_F(DepthTable, Values) {
  const struct {
    uint32_t mult, price;
    uint64_t vol, want;
  } cases[] = {
      {1, 1000, 500, 5000},
      {0, 1000, 500, 5000},  // a multiplier of 0 counts as 1
      {100, 1000, 500, 500000},
      // x 100 passes 64 bits before the division brings it back
      {1, 0xFFFFFFFFu, 1ull << 34, uint64_t((unsigned __int128)0xFFFFFFFFu * (1ull << 34) / 100)},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 1ull << 40, 0},  // past 64 bits: no value
  };
  for (const auto &c : cases) EXPECT_EQ(depthtbl_value(c.mult, c.price, c.vol), c.want) << c.mult << " " << c.price;
}

TEST_F(DepthTable, GroupingPutsPricesOnTheirSteps) {
  depthwin_set_group_by(w, 5);
  add(0, 1, 103, 10);
  add(0, 2, 102, 20);
  add(0, 3, 101, 30);
  ASSERT_EQ(rows(0), 2u);
  EXPECT_EQ(row(0, 0).step, 105u);
  EXPECT_EQ(row(0, 0).volume, 10u);
  EXPECT_EQ(row(0, 1).step, 100u);
  EXPECT_EQ(row(0, 1).count, 2u);
  EXPECT_EQ(row(0, 1).volume, 50u);
  depthbars_bar b;
  ASSERT_EQ(depthbars_count(bars, 0), 2u);
  ASSERT_TRUE(depthbars_bar_at(bars, 0, 1, &b));
  EXPECT_EQ(b.step, 100u);
  EXPECT_EQ(b.count, 2u);
}

TEST_F(DepthTable, ARemovedRowFadesOutAndAnAddKeepsIt) {
  add(1, 1, 1010, 100);
  add(1, 2, 1020, 100);
  del(1, 1, 1010, 100);
  ASSERT_EQ(rows(1), 2u) << "the row stays while it fades";
  EXPECT_EQ(row(1, 0).count, 0u);
  EXPECT_GT(row(1, 0).removal_due, g_now);
  // An add at the fading step before the fade ends keeps the row.
  add(1, 1, 1010, 70);
  g_now += 1.0;
  tick();
  ASSERT_EQ(rows(1), 2u);
  EXPECT_EQ(row(1, 0).count, 1u);
  EXPECT_EQ(row(1, 0).volume, 70u);
  // Without one, the row goes once the fade is over.
  del(1, 1, 1010, 70);
  g_now += 1.0;
  tick();
  ASSERT_EQ(rows(1), 1u);
  EXPECT_EQ(row(1, 0).step, 1020u);
  // While fades are held the row goes at once.
  fade_hold();
  del(1, 1, 1020, 100);
  fade_release();
  EXPECT_EQ(rows(1), 0u);
}

TEST_F(DepthTable, TradesAndCancelsInTheTableAndTheBars) {
  char cell[64];
  add(0, 1, 1000, 100);
  EXPECT_FALSE(depthtbl_cell(table, 23, 0, cell, sizeof cell)) << "no trade row yet";
  ss_trade t1{1, 1000, 300, 0, nullptr, nullptr, nullptr};
  ss_trade t2{1, 1010, 100, 0, nullptr, nullptr, nullptr};
  apply(kEvTrade, &t1);
  apply(kEvTrade, &t2);
  ASSERT_EQ(rows(2), 2u);
  EXPECT_EQ(depthtbl_total_volume(table), 400u);
  ASSERT_TRUE(depthtbl_cell(table, 23, 0, cell, sizeof cell));
  EXPECT_NE(std::string(cell).find("75"), std::string::npos) << cell;
  ss_ev_trade_cancel c{1, 0, 0, 0, 0, 0, 0, &t1};
  apply(kEvTradeCancel, &c);
  ASSERT_EQ(rows(2), 1u);
  EXPECT_EQ(row(2, 0).step, 1010u);
  ASSERT_EQ(depthbars_count(bars, 2), 1u) << "the bars take the cancel off alike";
  depthbars_bar b;
  depthbars_bar_at(bars, 2, 0, &b);
  EXPECT_EQ(b.step, 1010u);
}

TEST_F(DepthTable, ColumnSetsFitTheWidth) {
  auto has = [](uint64_t m, int c) { return (m >> c) & 1; };
  const int32_t digit = 7;  // widths below in pixels of a font with 7-pixel digits
  uint64_t wide = depthtbl_fit_columns(1000 * digit, digit, true, false);
  EXPECT_TRUE(has(wide, 0) && has(wide, 1) && has(wide, 23) && !has(wide, 2) && !has(wide, 24));
  uint64_t narrow = depthtbl_fit_columns(60 * digit, digit, true, false);
  EXPECT_TRUE(has(narrow, 8) && has(narrow, 9));
  EXPECT_FALSE(has(narrow, 0));
  uint64_t no_trades = depthtbl_fit_columns(1000 * digit, digit, false, false);
  for (int c = 18; c < 27; c++) EXPECT_FALSE(has(no_trades, c)) << c;
  uint64_t special = depthtbl_fit_columns(1000 * digit, digit, true, true);
  for (int c : {0, 5, 17, 21}) EXPECT_FALSE(has(special, c)) << c;
  // Each width shows a set whose columns (a digit count each, and a pixel
  // of gap) fit it, down to the narrowest set, which is kept as it is.
  static const int widths[] = {12, 12, 6, 5, 3, 12, 10, 6, 7, 7, 10, 6, 12, 3,
                               5,  6,  12, 12, 7, 10, 6, 12, 3, 5, 6, 12, 12};
  const uint64_t narrowest = (1ull << 8) | (1ull << 9);
  for (int32_t px = 1000 * digit; px > 20; px -= 13) {
    uint64_t m = depthtbl_fit_columns(px, digit, true, false);
    int32_t sum = 0;
    for (int c = 0; c < 27; c++)
      if (has(m, c)) sum += widths[c] * digit + 1;
    if (m != narrowest) {
      EXPECT_LE(sum, px) << px;
    }
    EXPECT_TRUE(has(m, 8) && has(m, 9)) << "the prices stay at " << px;
  }
  EXPECT_STREQ(depthtbl_tooltip(8), "Bid Price");
  EXPECT_EQ(depthtbl_tooltip(24), nullptr);
}

TEST_F(DepthTable, BarsSettingsAndGuards) {
  depthbars_set_thickness(bars, 1);
  EXPECT_EQ(depthbars_get_thickness(bars), 3);
  const struct {
    int32_t w, lines;
  } widths[] = {{1200, 25}, {999, 25}, {500, 20}, {349, 10}, {200, 5}, {150, 3}, {149, 2}};
  for (const auto &r : widths) EXPECT_EQ(depthbars_price_gridlines(r.w), r.lines) << r.w;
  const struct {
    int32_t h, lines;
  } heights[] = {{300, 10}, {299, 7}, {100, 5}, {99, 2}, {50, 2}, {49, 1}};
  for (const auto &r : heights) EXPECT_EQ(depthbars_volume_gridlines(r.h), r.lines) << r.h;
  {
    LogCapture logs;
    EXPECT_EQ(depthbars_volume_steps(5000000, 1000), 1u);
    EXPECT_TRUE(logs.has("too many steps: 5000000/1000 = 5000"));
    EXPECT_EQ(depthbars_volume_steps(500000, 1000), 500u);
  }
  // An empty book: no span, no scale, nothing placed.
  auto *cls = static_cast<depthwin_child_class *>(bars->cls);
  cls->end_batch(bars, 1);
  uint32_t lo, hi;
  depthbars_span(bars, &lo, &hi);
  EXPECT_EQ(lo, hi);
  EXPECT_EQ(depthbars_scale_top(bars), 0u);
  int32_t x;
  EXPECT_FALSE(depthbars_bar_x(bars, 1000, &x));
  EXPECT_EQ(depthbars_volume_pixels(bars, 100), 0);
  bars->cls->draw(bars);  // draws the background only, no division
  // A single price is widened to a span.
  add(0, 1, 0, 100);
  cls->end_batch(bars, 1);
  depthbars_span(bars, &lo, &hi);
  EXPECT_LT(lo, hi);
  bars->cls->draw(bars);
}

TEST_F(DepthTable, CellsSumFromTheBestPriceOutwards) {
  add(0, 1, 1000, 100);
  add(0, 2, 999, 150);
  add(0, 3, 999, 50);
  add(1, 1, 1001, 400);
  depthtbl_accumulate(table);
  auto cell = [&](int col, uint32_t row) {
    char out[64] = "";
    return depthtbl_cell(table, col, row, out, sizeof out) ? std::string(out) : std::string("<empty>");
  };
  const uint64_t v0 = depthtbl_value(1, 1000, 100), v1 = depthtbl_value(1, 999, 150) + depthtbl_value(1, 999, 50);
  const struct {
    int col;
    uint32_t row;
    std::string want;
  } cases[] = {
      {4, 1, fmt_count(2)},         {6, 1, fmt_volume(200)},      {1, 0, fmt_volume(100)},
      {1, 1, fmt_volume(300)},      {5, 1, fmt_money(v1)},        {0, 1, fmt_money(v0 + v1)},
      {8, 0, fmt_price_small_cents(1000)}, {9, 0, fmt_price_small_cents(1001)}, {10, 0, fmt_volume(400)},
      {16, 0, fmt_volume(400)},     {4, 2, "<empty>"},            {13, 1, "<empty>"},
  };
  for (const auto &c : cases) EXPECT_EQ(cell(c.col, c.row), c.want) << c.col << "," << c.row;
  EXPECT_NE(cell(3, 1), "<empty>") << "the percentage at and above the price";
}

TEST_F(DepthTable, TheBarsSpanFollowsAfterTheSpanTimer) {
  auto *cls = static_cast<depthwin_child_class *>(bars->cls);
  add(0, 1, 1000, 100);
  add(1, 1, 1005, 100);
  cls->end_batch(bars, 1);  // a full batch takes the span at once
  uint32_t lo, hi;
  depthbars_span(bars, &lo, &hi);
  EXPECT_EQ(lo, 1000u);
  EXPECT_EQ(hi, 1005u);
  add(1, 2, 1010, 100);
  cls->end_batch(bars, 0);  // live: the span waits for its timer
  depthbars_span(bars, &lo, &hi);
  EXPECT_EQ(hi, 1005u);
  timer_run(plat_ms() + 500);
  depthbars_span(bars, &lo, &hi);
  EXPECT_EQ(hi, 1005u) << "not before 1000 ms";
  timer_run(plat_ms() + 1100);
  depthbars_span(bars, &lo, &hi);
  EXPECT_EQ(hi, 1010u);
}

TEST_F(DepthTable, BlocksGrowAndShrinkAlongTheirFades) {
  auto length = [&] {
    uint32_t n;
    const depthbars_block *blk = depthbars_blocks(bars, 0, 0, &n);
    return n ? depthbars_block_length(blk) : -1.0;
  };
  add(0, 1, 1000, 100);
  EXPECT_NEAR(length(), 0.0, 1e-6);
  g_now += 0.15;
  EXPECT_NEAR(length(), 50.0, 1e-6) << "half of the 300 ms growth";
  g_now += 0.15;
  EXPECT_NEAR(length(), 100.0, 1e-6);
  ss_ev_depth_amend a{1, 0, 1, 1000, 300, 100};
  apply(kEvDepthAmend, &a);
  g_now += 0.15;
  EXPECT_NEAR(length(), 200.0, 1e-6);
  g_now += 1.0;
  del(0, 1, 1000, 300);
  g_now += 0.25;
  EXPECT_NEAR(length(), 150.0, 1e-6) << "half of the 500 ms removal";
  g_now += 0.3;
  static_cast<depthwin_child_class *>(bars->cls)->tick(bars);
  EXPECT_EQ(depthbars_count(bars, 0), 0u) << "gone once its removal ends";
  // While replaying the growth takes 200 ms; under a fade hold none.
  depthwin_get_book(w)->anchor_position = 1;
  add(0, 1, 1000, 100);
  g_now += 0.1;
  EXPECT_NEAR(length(), 50.0, 1e-6);
  depthwin_get_book(w)->anchor_position = 0;
  fade_hold();
  del(0, 1, 1000, 100);
  add(0, 1, 990, 80);
  fade_release();
  static_cast<depthwin_child_class *>(bars->cls)->end_batch(bars, 0);
  EXPECT_NEAR(length(), 80.0, 1e-6);
}

uint32_t g_detail_step = 0;
int g_detail_side = -1, g_hidden = 0;
void on_detail(widget *, instr *, ss_time, uint32_t step, uint32_t, int side) {
  g_detail_step = step;
  g_detail_side = side;
}
void on_hide(widget *) { g_hidden++; }

// The bars' side labels (best volume and price of each side) stand whole
// inside the bars, below their top edge: drawn by the
// baseline at the top edge they were cut off above it.
TEST_F(DepthTable, TheBarsTopLabelsAreWholeInsideTheBars) {
  add(0, 1, 45670, 1234567);
  add(1, 1, 45680, 7654321);
  auto *cls = static_cast<depthwin_child_class *>(bars->cls);
  cls->end_batch(bars, 1);
  struct seen {
    std::vector<std::pair<std::string, rect>> texts;
    static void note(const char *t, int32_t, const rect &r, const gmap *, void *arg) {
      static_cast<seen *>(arg)->texts.push_back({t, r});
    }
  };
  bars->r = {20, 40, 500, 200};
  bars->cls->geometry_changed(bars);
  seen got;
  font_set_text_watch(seen::note, &got);
  {
    glrecord_scope rec;
    bars->cls->draw(bars);
  }
  font_set_text_watch(nullptr, nullptr);
  ASSERT_GE(got.texts.size(), 2u) << "both sides' labels";
  for (const auto &[text, r] : got.texts) {
    EXPECT_GE(r.y, bars->r.y + 2) << "\"" << text << "\" reaches above the bars' top";
    EXPECT_LE(r.y + r.h, bars->r.y + bars->r.h) << text;
    EXPECT_GE(r.x, bars->r.x) << text;
    EXPECT_LE(r.x + r.w, bars->r.x + bars->r.w) << text;
  }
}

TEST_F(DepthTable, HoverOpensTheDetailOfTheStepUnderThePointer) {
  svc.show_depth_detail = on_detail;
  svc.hide_depth_detail = on_hide;
  depthwin_set_services(&svc);
  add(0, 1, 1000, 100);
  add(0, 2, 995, 100);
  add(1, 1, 1010, 100);
  auto *cls = static_cast<depthwin_child_class *>(bars->cls);
  cls->end_batch(bars, 1);
  int32_t x;
  ASSERT_TRUE(depthbars_bar_x(bars, 995, &x));
  bars->cls->motion(bars, x + 1, bars->r.y + 5);
  EXPECT_EQ(g_detail_step, 995u);
  EXPECT_EQ(g_detail_side, 0);
  ASSERT_TRUE(depthbars_bar_x(bars, 1010, &x));
  bars->cls->motion(bars, x + 1, bars->r.y + 5);
  EXPECT_EQ(g_detail_step, 1010u);
  EXPECT_EQ(g_detail_side, 1);
  int hidden = g_hidden;
  bars->cls->leave(bars);
  EXPECT_EQ(g_hidden, hidden + 1);
  // The table: the second bid row's price cell.
  table->r = {0, 0, 2000, 200};
  table->cls->geometry_changed(table);
  ASSERT_TRUE(depthtbl_shown_columns(table) & (1u << 8));
  uint32_t n;
  depthtbl_rows(table, 0, &n);
  ASSERT_EQ(n, 2u);
  int32_t px = 0, px1 = 0;
  ASSERT_TRUE(depthtbl_column_span(table, 8, &px, &px1));
  const int32_t row_h = (style_cur() ? style_cur()->line_height : 14) + 1;
  table->cls->motion(table, px + 2, row_h + 2);
  EXPECT_EQ(g_detail_step, 995u);
  EXPECT_EQ(g_detail_side, 0);
}

instr *g_trades_of = nullptr;
ss_time g_trades_at = 0;
void on_open_trades(widget *, instr *in, ss_time t) {
  g_trades_of = in;
  g_trades_at = t;
}

TEST_F(DepthTable, AClickOnATradeRowOpensTheCourseOfSalesAtItsTime) {
  svc.open_trades_at = on_open_trades;
  depthwin_set_services(&svc);
  const ss_time t1 = sstime_pack(0, 5, 10, 8, 12, 2026), t2 = sstime_pack(0, 9, 11, 8, 12, 2026);
  ss_trade *a = ssmodel_add_trade(stock, t1, 1010, 100);
  ss_trade *b = ssmodel_add_trade(stock, t2, 1010, 50);
  ASSERT_TRUE(a && b);
  for (ss_trade *t : {a, b}) apply(kEvTrade, t);
  table->r = {0, 0, 2000, 200};
  table->cls->geometry_changed(table);
  int32_t px = 0, px1 = 0;
  ASSERT_TRUE(depthtbl_column_span(table, 18, &px, &px1)) << "the trade price column";
  table->cls->release(table, px + 2, 2, 3);
  EXPECT_EQ(g_trades_of, nullptr) << "only the first button";
  table->cls->release(table, px + 2, 2, 1);
  EXPECT_EQ(g_trades_of, stock);
  EXPECT_EQ(g_trades_at, t2) << "the latest trade at the step";
  g_trades_of = nullptr;
  table->cls->release(table, 2, 2, 1);
  EXPECT_EQ(g_trades_of, nullptr) << "a bid row is no trade row";
}

}  // namespace
