// The announcement windows' hover previews on a real screen under Xvfb,
// through the popups' hover module: a slow pointer over a history row opens
// a chart of the stock centred on the item's day (a separator row: the day
// of the item below it) with the window's news filters as the chart's news
// marks; over today's rows the column decides: the time opens today's day
// chart, or a chart over a range for an item of an earlier day; the code the
// stock's depth; the last price its auction, the quote bases their details
// and a state of its own the state's details; other columns, a fast pointer
// and leaving close what is up.
#include <gtest/gtest.h>

#include <functional>

#include "../screen/barstest.h"
#include "lib/fade.h"
#include "lib/gmap.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/desktop.h"
#include "screen/gendtl.h"
#include "screen/screen.h"
#include "ssuser.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "windows/histnews.h"
#include "windows/newstoday.h"
#include "windows/nuchart.h"
#include "windows/window.h"

namespace {

// The screens, then what the program starts for drawing (the charts
// measure their labels in the style's fonts).
class DrawEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(fade_init(), 0);
    ASSERT_EQ(gmap_init(kGmapBudget), 0);
    ASSERT_EQ(style_init(), 0);
    ASSERT_EQ(style_select(0), 0);
    style_set_size(0);
  }
  void TearDown() override {
    style_fini();
    gmap_fini();
    fade_fini();
  }
};
::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new BarsEnv);
::testing::Environment *const draw_env = ::testing::AddGlobalTestEnvironment(new DrawEnv);

bool draw_until(const std::function<bool()> &done) {
  return guitest_wait_for([&] {
    gui_tick();
    return done();
  });
}

ss_time at(const char *iso) { return sstime_parse_date_time(iso); }

// The pointer's speed as the windows read it: at rest, or jumping.
void pointer_slow() {
  G.samples_on = 1;
  G.sample_count = G.sample_next = 0;
}
void pointer_fast() {
  G.samples_on = 1;
  G.sample_count = G.sample_next = 0;
  for (int i = 0; i < 4; i++) gui_add_sample(i % 2 ? 200 : 0, 0);
}

class NewsHover : public ::testing::Test {
 protected:
  screen *s = nullptr;
  window *w = nullptr;
  ss_exchange *ex = nullptr;
  ss_stock *stock = nullptr;
  ss_issuer *issuer = nullptr;
  ss_news *today_item = nullptr, *earlier_item = nullptr;
  ss_time saved_date = 0;

  void SetUp() override {
    ASSERT_TRUE(bars_first_screen_up());
    popups_install_services();
    popups_reset();
    s = screen_get(0);
    ex = ssmodel_exchange(0);
    saved_date = ex->date;
    ex->date = at("2018-02-20T00:00:00Z");
    stock = bars_stock("NHV", 1000000, 990000, 1010000, 1005000);
    ASSERT_NE(stock, nullptr);
    issuer = ssmodel_get_issuer(ex, "NHV");
    issuer->name1 = "Hover Mining";
    const uint32_t codes[] = {2, 0};
    earlier_item = ssmodel_add_news(issuer, 1, at("2018-01-15T11:00:00Z"), codes, 0, "Earlier report");
    today_item = ssmodel_add_news(issuer, 2, at("2018-02-20T10:30:00Z"), codes, kNewsSensitive, "Today's report");
    ASSERT_TRUE(earlier_item && today_item);
    issuer->flags |= kInHistory;
    stock->flags |= kInHistory;
    w = window_new(nullptr, 0);
    ASSERT_EQ(desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1), 0);
  }
  void TearDown() override {
    screen_hide_popups(1);
    screen_hide_gendtl();
    if (ex) ex->date = saved_date;
    G.samples_on = 0;
  }
  // The window in a role, laid out and drawn once (rows get their places).
  widget *show(uint32_t role) {
    if (role == kRoleHistnews) window_set_instrument(w, stock);  // today's window takes none
    window_set_role(w, role);
    widget *c = window_get_content(w, role);
    EXPECT_TRUE(draw_until([&] { return !screen_relayout_pending() && c && widget_is_shown(c) && c->r.h > 0; }))
        << (c ? widget_is_shown(c) : -1) << " " << (c ? c->r.h : -1) << " relayout " << screen_relayout_pending()
        << " role " << w->role << " window " << w->r.w << "x" << w->r.h << " shown " << widget_is_shown(w);
    return c;
  }
  const nuchart *popup_chart() {
    return nuchart_cast(window_get_content(s->hover_window, kRoleChart));
  }
  // The news marks' overlay of the popup chart: its three filter switches.
  std::vector<float> news_marks() {
    const nuchart *c = popup_chart();
    if (!c) return {};
    for (const chart_ta *ta = c->plot.overlays; ta; ta = ta->next)
      if (ta->type == 13) return {ta->params[0], ta->params[1], ta->params[2]};
    return {};
  }
  bool hover_up() const { return s->bars & BAR_HOVER; }
  bool gendtl_up() const { return s->bars & BAR_GENDTL; }
  uint32_t gendtl_kind() const {
    const gendtl *g = gendtl_cast(s->gendtl);
    return g ? g->kind : 0;
  }
};

TEST_F(NewsHover, HistoryRowOpensAChartAroundItsDayWithTheWindowsFilters) {
  auto *h = static_cast<histnews *>(show(kRoleHistnews));
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(h->issuer, issuer);
  histnews_set_common(h, 0);
  histnews_set_related(h, 1);
  histnews_refilter(h, 0);  // from the top
  // Rows: separator (February), today's item, separator (January), earlier.
  histnews_row *rows[4] = {};
  int n = 0;
  for (histnews_row *r = h->rows; r && n < 4; r = r->next) rows[n++] = r;
  std::string got;
  for (histnews_row *r = h->rows; r; r = r->next) got += r->item ? std::to_string(r->item->number) + " " : "-- ";
  ASSERT_EQ(n, 4) << got << " rows " << h->total_rows << " h " << h->r.h;
  ASSERT_EQ(rows[1]->item, today_item);
  ASSERT_EQ(rows[3]->item, earlier_item);
  struct {
    int row;
    ss_time centre;
    const char *what;
  } cases[] = {
      {1, today_item->time, "an item row: its own time"},
      {3, earlier_item->time, "an earlier item"},
      {2, earlier_item->time, "a separator: the item below it"},
      {0, today_item->time, "the first separator"},
  };
  const int32_t x = h->r.x + h->r.w / 2;
  for (auto &c : cases) {
    pointer_slow();
    h->cls->motion(h, x, h->r.y + rows[c.row]->y + h->row_height / 2);
    const popups_state *p = popups_get_state();
    EXPECT_EQ(p->kind, kPopupChart) << c.what;
    EXPECT_EQ(p->item, static_cast<instr *>(stock)) << c.what;
    EXPECT_EQ(p->chart_form, 0) << c.what << ": around a time";
    EXPECT_EQ(p->centre, c.centre) << c.what;
    EXPECT_EQ(p->marker, c.centre) << c.what;
    EXPECT_TRUE(hover_up()) << c.what;
    EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleChart)) << c.what;
    EXPECT_EQ(news_marks(), (std::vector<float>{0, 0, 1})) << c.what << ": sensitive only off, common off, related on";
  }
  // The chart follows the pointer's rows without being made again: one
  // chart widget for the whole walk.
  const nuchart *chart = popup_chart();
  pointer_slow();
  h->cls->motion(h, x, h->r.y + rows[1]->y + 1);
  EXPECT_EQ(popup_chart(), chart);
  // A moderate speed keeps it, a fast one closes it.
  G.sample_count = G.sample_next = 0;
  for (int i = 0; i < 4; i++) gui_add_sample(3 * i, 0);  // 2.25 px a sample: between 2 and 7
  h->cls->motion(h, x, h->r.y + rows[3]->y + 1);
  EXPECT_TRUE(hover_up());
  EXPECT_EQ(popups_get_state()->centre, today_item->time) << "not moved at that speed";
  pointer_fast();
  h->cls->motion(h, x, h->r.y + rows[3]->y + 1);
  EXPECT_FALSE(hover_up());
  // Below the last row: nothing to show.
  pointer_slow();
  h->cls->motion(h, x, h->r.y + rows[1]->y + 1);
  ASSERT_TRUE(hover_up());
  h->cls->motion(h, x, h->r.y + rows[3]->y + h->row_height + 2);
  EXPECT_FALSE(hover_up());
  pointer_slow();
  h->cls->motion(h, x, h->r.y + rows[1]->y + 1);
  ASSERT_TRUE(hover_up());
  h->cls->leave(h);
  EXPECT_FALSE(hover_up());
}

TEST_F(NewsHover, TodaysRowsPreviewByColumn) {
  ss_issuer *old_issuer = ssmodel_get_issuer(ex, "NHW");
  const uint32_t codes[] = {2, 0};
  // An item of yesterday, listed under its day's separator.
  ss_stock *old_stock = bars_stock("NHW", 500000, 490000, 510000, 500000);
  ASSERT_NE(old_stock, nullptr);
  ASSERT_NE(ssmodel_add_news(old_issuer, 7, at("2018-02-19T15:00:00Z"), codes, 0, "Yesterday's"), nullptr);
  stock->auction.price = 1002000;
  stock->auction.matched = 4000;
  stock->quote_basis = 0x2;
  stock->state = ex->state + 7;
  stock->resume_time = at("2018-02-20T14:00:00Z");
  old_stock->state = ex->state;  // the exchange's own state: nothing to explain
  ssuser_set(1, 0, 0x1);  // the user may see the first exchange
  auto *n = static_cast<newstoday *>(show(kRoleNewstoday));
  ASSERT_NE(n, nullptr);
  newstoday_show_all_exchanges(n, 1);
  // The day's price columns left out, so that the columns with popups fit
  // the screen's window.
  cols_set_hidden(&n->columns, 1ull << kNtChange | 1ull << kNtPercent | 1ull << kNtFirst | 1ull << kNtLow |
                                   1ull << kNtHigh | 1ull << kNtLast2 | 1ull << kNtVolume);
  n->cls->geometry_changed(n);
  newstoday_set_common(n, 1);
  newstoday_set_related(n, 0);
  newstoday_rebuild(n);
  ASSERT_TRUE(draw_until([&] { return n->rows && n->rows->y == 0; }));
  newstoday_row *today_row = nullptr, *old_row = nullptr;
  for (newstoday_row *r = n->rows; r; r = r->next) {
    if (r->item == today_item) today_row = r;
    if (r->stock == old_stock) old_row = r;
  }
  ASSERT_TRUE(today_row && old_row);
  for (int c : {kNtTime, kNtCode, kNtLast, kNtHeadline, kNtQuoteBases, kNtState})
    ASSERT_TRUE(n->columns.col[c].shown) << "column " << c << " at width " << n->r.w;
  auto over = [&](newstoday_row *r, int col) {
    pointer_slow();
    const cols_col &c = n->columns.col[col];
    n->cls->motion(n, c.x0 + c.width / 2, n->r.y + r->y + n->row_height / 2);
  };

  // The time of today's item: the day chart at that time.
  over(today_row, kNtTime);
  EXPECT_EQ(popups_get_state()->kind, kPopupDayChart);
  EXPECT_EQ(popups_get_state()->item, static_cast<instr *>(stock));
  EXPECT_EQ(popups_get_state()->time, today_item->time);
  EXPECT_TRUE(hover_up());
  EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleChart));

  // An earlier day's item: a chart over a range, marking the item, with the
  // window's filters as its news marks.
  over(old_row, kNtTime);
  EXPECT_EQ(popups_get_state()->kind, kPopupChart);
  EXPECT_EQ(popups_get_state()->chart_form, 1);
  EXPECT_EQ(popups_get_state()->item, static_cast<instr *>(old_stock));
  EXPECT_EQ(popups_get_state()->marker, old_row->time);
  EXPECT_EQ(news_marks(), (std::vector<float>{0, 1, 0})) << "sensitive only off, common on, related off";

  // The code: the stock's depth beside the row.
  over(today_row, kNtCode);
  EXPECT_EQ(popups_get_state()->kind, kPopupDepth);
  EXPECT_TRUE(hover_up());
  EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleDepth));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(stock));
  EXPECT_GE(s->hover_window->r.y, n->r.y + today_row->y + n->row_height - 2) << "below the row";

  // The details popups, each where its column asks for it.
  struct {
    newstoday_row *row;
    int col;
    bool up;
    uint32_t kind;
    const char *what;
  } details[] = {
      {today_row, kNtLast, true, kGendtlAuction, "an auction price: the auction"},
      {today_row, kNtQuoteBases, true, kGendtlQuoteFlags, "quote bases: what they mean"},
      {today_row, kNtState, true, kGendtlState, "a state of its own: the state and its resume time"},
      {old_row, kNtLast, false, 0, "no auction: nothing"},
      {old_row, kNtQuoteBases, false, 0, "no quote bases: nothing"},
      {old_row, kNtState, false, 0, "the exchange's state: nothing"},
      {today_row, kNtHeadline, false, 0, "the headline previews nothing"},
  };
  for (auto &d : details) {
    screen_hide_gendtl();
    over(today_row, kNtCode);  // a depth preview up before each
    ASSERT_TRUE(hover_up());
    over(d.row, d.col);
    EXPECT_EQ(gendtl_up(), d.up) << d.what;
    if (d.up) EXPECT_EQ(gendtl_kind(), d.kind) << d.what;
    if (!d.up) EXPECT_FALSE(hover_up()) << d.what << ": the depth preview goes too";
  }
  // Each for the row's stock.
  const gendtl *g = gendtl_cast(s->gendtl);
  screen_hide_gendtl();
  over(today_row, kNtLast);
  EXPECT_EQ(g->instrument, static_cast<instr *>(stock));
  over(today_row, kNtQuoteBases);
  EXPECT_EQ(g->quote_mask, stock->quote_basis);
  EXPECT_EQ(g->flag_set, ex->index);
  over(today_row, kNtState);
  EXPECT_EQ(g->state, stock->state);

  // Fast motion and leaving close everything.
  over(today_row, kNtCode);
  ASSERT_TRUE(hover_up());
  pointer_fast();
  n->cls->motion(n, n->columns.col[kNtCode].x0 + 2, n->r.y + today_row->y + 2);
  EXPECT_FALSE(hover_up());
  over(today_row, kNtLast);
  ASSERT_TRUE(gendtl_up());
  n->cls->leave(n);
  EXPECT_FALSE(gendtl_up());
}

}  // namespace
