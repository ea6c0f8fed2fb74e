// The windows' hover details and news clicks on a real screen under Xvfb,
// driven as a user drives them: slow xdotool motion over a cell opens its
// popup, whose rows are compared with the model; moving off the widget
// closes it; a click on a news mark opens the announcement in the popup
// document.
//  - the course of sales: the condition codes of a row explained, the news
//    of its interval listed, the book previewed at its time; a click on the
//    news strip opens the interval's first item;
//  - the watchlist grid, column by column: the issuer's news on the news
//    marker, the stock's own state, its quote bases, its volume against
//    earlier periods, the auction of a stock without a trade today; a click
//    on the news marker opens the issuer's latest item;
//  - the alerts window: the issuer's news on the issuer flags' icon, a
//    preview of the instrument over its code (a stock's depth, an index's
//    day chart); a click on the icon opens the latest item;
//  - the title bar: the quote bases and the state explained;
//  - a market ticker: a slow pointer freezes it and previews the item's
//    stock, leaving thaws it; a click on an announcement opens it;
//  - the minibar: a mini quote previews its stock's depth or its index's
//    day chart above the cell; a mini desktop previews a copy of the
//    window under the pointer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../screen/barstest.h"
#include "condcode.h"
#include "guitest.h"
#include "lib/fade.h"
#include "lib/fmt.h"
#include "lib/gmap.h"
#include "lib/wlist.h"
#include "popups/hover.h"
#include "popups/place.h"
#include "popups/popups.h"
#include "screen/desktop.h"
#include "screen/gendtl.h"
#include "screen/screen.h"
#include "sscodes.h"
#include "ssevent.h"
#include "ssstate.h"
#include "ssuser.h"
#include "style.h"
#include "ui/gui.h"
#include "ui/gui_internal.h"
#include "screen/minibar.h"
#include "screen/miniquote.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "windows/alertlist.h"
#include "windows/alerts.h"
#include "windows/docwin.h"
#include "windows/titlebar.h"
#include "windows/searchwin.h"
#include "windows/tradelist.h"
#include "windows/watchlist.h"
#include "windows/window.h"

namespace {

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

uint64_t xwin(int n) { return gui_plat_x11_window(&G.wins[screen_get(n)->os_window].plat); }

void move(int32_t x, int32_t y) {
  guitest_xdo("mousemove --window " + std::to_string(xwin(0)) + " " + std::to_string(x) + " " + std::to_string(y));
  draw_until([] { return true; });
}

// A user settling on (x, y): a pixel a frame along the row from the left.
void slow_to(int32_t x, int32_t y) {
  for (int i = 12; i >= 0; i--) move(x - i, y);
}

// Slowly out of a widget: a pixel a frame upwards across its top edge.
void slow_out_above(const widget *w, int32_t x, int32_t from_y) {
  for (int32_t y = from_y; y >= w->r.y - 3; y--) move(x, y);
}

void click() {
  guitest_xdo("click 1");
  draw_until([] { return true; });
}

class Callers : public ::testing::Test {
 protected:
  screen *s = nullptr;
  window *w = nullptr;
  ss_exchange *ex = nullptr;
  ss_time saved_date = 0;
  uint32_t saved_state = 0, saved_phase = 0;

  void SetUp() override {
    ASSERT_TRUE(bars_first_screen_up());
    popups_install_services();
    popups_reset();
    s = screen_get(0);
    ex = ssmodel_exchange(0);
    saved_date = ex->date;
    saved_state = ex->state;
    saved_phase = ex->phase;
    ex->date = at("2018-02-20T00:00:00Z");
    w = window_new(nullptr, 0);
    ASSERT_EQ(desktop_layout_apply(screen_current_desktop(), nullptr, "W0", &w, 1), 0);
  }
  void TearDown() override {
    move(2, 2);
    screen_hide_popups(1);
    screen_hide_gendtl();
    screen_hide_popup_document();
    if (ex) {
      ex->date = saved_date;
      ex->state = saved_state;
      ex->phase = saved_phase;
    }
  }
  bool gendtl_up() const { return s->bars & BAR_GENDTL; }
  bool hover_up() const { return s->bars & BAR_HOVER; }
  const gendtl *popup() const { return gendtl_cast(s->gendtl); }
  // The popup's rows as "cell a|cell b" for the two columns.
  std::vector<std::string> rows(int a, int b) const {
    std::vector<std::string> out;
    const gendtl *g = popup();
    for (uint32_t i = 0; g && i < g->row_count; i++)
      out.push_back(std::string(g->rows[i].cell[a]) + "|" + g->rows[i].cell[b]);
    return out;
  }
  // The popup document shows the item (its own copy of it).
  bool shows(const ss_news *item) const {
    const ss_news *d = document_item();
    return d && d->number == item->number && std::string(d->headline) == item->headline;
  }
  std::vector<const ss_news *> news_rows() const {
    std::vector<const ss_news *> out;
    const gendtl *g = popup();
    for (uint32_t i = 0; g && i < g->row_count; i++) out.push_back(g->rows[i].news);
    return out;
  }
  const ss_news *document_item() const {
    window *p = screen_popup_document();
    widget *d = p ? window_get_content(p, kRoleDocument) : nullptr;
    return (s->bars & BAR_POPUP_DOCUMENT) && d ? docwin_get_news_item(d) : nullptr;
  }
};

// ---- the course of sales ----

TEST_F(Callers, CourseOfSalesExplainsCodesListsNewsPreviewsDepthAndOpensNews) {
  ss_stock *st = bars_stock("CSA", 1000, 990, 1010, 1000);
  ASSERT_NE(st, nullptr);
  ss_issuer *is = ssmodel_get_issuer(ex, "CSA");
  ASSERT_NE(is, nullptr);
  const uint64_t codes = 0x2 | 0x80;  // two conditions with letters on this exchange
  struct {
    const char *time;
    uint32_t price;
    uint64_t codes;
  } trades[] = {{"2018-02-20T10:00:00Z", 1000, 0},
                {"2018-02-20T10:10:00Z", 1010, 0},
                {"2018-02-20T10:20:00Z", 1020, codes},
                {"2018-02-20T10:30:00Z", 1030, 0}};
  for (auto &t : trades) {
    ss_trade *tr = ssmodel_add_trade(st, at(t.time), t.price, 100);
    ASSERT_NE(tr, nullptr);
    tr->bits = kTradeSetsLast | kTradeVolume | (t.codes ? kTradeConditions : 0);
    if (t.codes) {
      ASSERT_NE(ssmodel_set_trade_detail(tr, t.codes, 0, 0, 0, 0), nullptr);
    }
  }
  st->flags |= kRqTradesLoaded;
  const uint32_t nc[] = {2, 0};
  // Two items in the 10:10 row's interval (up to the 10:20 trade), one
  // outside it.
  ss_news *a = ssmodel_add_news(is, 11, at("2018-02-20T10:12:00Z"), nc, kNewsFlag1, "First of the interval");
  ss_news *b = ssmodel_add_news(is, 12, at("2018-02-20T10:15:00Z"), nc, 0, "Second of the interval");
  ss_news *c = ssmodel_add_news(is, 13, at("2018-02-20T10:25:00Z"), nc, 0, "Next interval");
  ASSERT_TRUE(a && b && c);

  window_set_role(w, kRoleTradelist);
  window_set_instrument(w, st);
  auto *t = static_cast<tradelist *>(window_get_content(w, kRoleTradelist));
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && widget_is_shown(t) && t->row_count == 4 && t->top_row &&
           t->top_row->y > 0 && t->columns.col[kTlCodes].x1 > t->columns.col[kTlCodes].x0;
  })) << "rows " << t->row_count;
  tradelist_row *rows_by_time[4] = {};
  int n = 0;
  for (tradelist_row *r = t->first_row; r && n < 4; r = r->older) rows_by_time[n++] = r;
  tradelist_row *coded = rows_by_time[1], *with_news = rows_by_time[2];
  ASSERT_EQ(coded->codes, codes);
  ASSERT_EQ(with_news->from, at("2018-02-20T10:10:00Z"));
  const int32_t lh = t->top_row->older->y - t->top_row->y;
  auto mid = [&](const tradelist_row *r) { return r->y + lh / 2; };

  // The condition codes: one row per bit, its letters and explanation.
  const cols_col &cc = t->columns.col[kTlCodes];
  slow_to(cc.x0 + 6, mid(coded));
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 1; }));
  EXPECT_EQ(rows(0, 1), (std::vector<std::string>{std::string(condcode_text(0, "CSA", 0x2)) + "|" +
                                                      sscodes_condition_name(0, 0x2),
                                                  std::string(condcode_text(0, "CSA", 0x80)) + "|" +
                                                      sscodes_condition_name(0, 0x80)}));
  EXPECT_FALSE(hover_up());
  // Off the list upwards, slowly: leaving closes it.
  slow_out_above(t, cc.x0 + 6, t->top_row->y + 2);
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));

  // The news strip: the items of the row's interval, in time order.
  const int32_t strip = t->r.x + t->r.w - kTradelistNewsStrip / 2;
  slow_to(strip, mid(with_news));
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 4; }));
  EXPECT_EQ(news_rows(), (std::vector<const ss_news *>{a, b}));
  // Over a row without news nothing is listed.
  slow_to(strip, mid(rows_by_time[3]));
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));

  // The time cell: the book at the row's time beside the row.
  const int tcol = (t->columns.shown >> kTlTo & 1) ? kTlTo : kTlDate;
  const cols_col &tc = t->columns.col[tcol];
  slow_to(tc.x0 + 8, mid(coded));
  ASSERT_TRUE(draw_until([&] { return hover_up(); }));
  EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleDepth));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(st));
  EXPECT_EQ(popups_get_state()->kind, kPopupDepth);
  EXPECT_EQ(popups_get_state()->time, coded->to);
  EXPECT_FALSE(gendtl_up());
  slow_out_above(t, tc.x0 + 8, t->top_row->y + 2);
  EXPECT_TRUE(draw_until([&] { return !hover_up(); }));

  // A click on the news strip: the interval's first item in the popup
  // document; the list keeps its role.
  slow_to(strip, mid(with_news));
  click();
  ASSERT_TRUE(draw_until([&] { return shows(a); }));
  EXPECT_EQ(window_get_role(w), uint32_t(kRoleTradelist));
  EXPECT_FALSE(gendtl_up());
  screen_hide_popup_document();
  // A click elsewhere on a row still replays the depth at its time.
  slow_to(tc.x0 + 8, mid(coded));
  click();
  EXPECT_TRUE(draw_until([&] { return window_get_role(w) == uint32_t(kRoleDepth); }));
  EXPECT_EQ(document_item(), nullptr);
}

// ---- the watchlist grid ----

TEST_F(Callers, WatchlistGridShowsEachColumnsDetailAndOpensTheIssuersNews) {
  ex->state = ex->phase = 20;
  ss_stock *a = bars_stock("WGA", 1000, 990, 1010, 1000);
  ss_stock *b = bars_stock("WGB", 2000, 1990, 2010, 0);  // no trade today: shaded for its auction
  ASSERT_TRUE(a && b);
  ss_issuer *ia = ssmodel_get_issuer(ex, "WGA");
  const uint32_t nc[] = {2, 0};
  ss_news *old = ssmodel_add_news(ia, 21, at("2018-02-19T15:00:00Z"), nc, 0, "Yesterday's");
  ss_news *today1 = ssmodel_add_news(ia, 22, at("2018-02-20T10:00:00Z"), nc, 0, "Morning");
  ss_news *today2 = ssmodel_add_news(ia, 23, at("2018-02-20T11:00:00Z"), nc, kNewsFlag1, "Late morning");
  ASSERT_TRUE(old && today1 && today2);
  ia->flags |= kInNewsFlag1;
  a->state = 140;  // suspended while its market is open
  a->resume_time = at("2018-02-20T14:00:00Z");
  a->quote_basis = 0x1 | 0x8;
  a->volume = 5000;
  a->last_trade_time = at("2018-02-20T10:30:00Z");
  b->state = ex->state;
  b->auction.price = 1995;
  b->auction.matched = 700;

  wlist *wl = wlist_create("Callers", -1);
  ASSERT_NE(wl, nullptr);
  wlist_add_item(wl, a);
  wlist_add_item(wl, b);
  window_set_role(w, kRoleWatchlist);
  ASSERT_EQ(window_set_list_source(w, wl), 0);
  auto *g = static_cast<watchlist *>(window_get_content(w, kRoleWatchlist));
  ASSERT_NE(g, nullptr);
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && watchlist_find_row(g, a) && watchlist_find_row(g, b) &&
           watchlist_find_row(g, b)->y > 0;
  }));
  watchlist_row *ra = watchlist_find_row(g, a), *rb = watchlist_find_row(g, b);
  ASSERT_EQ(ra->issuer, static_cast<instr *>(ia));
  auto centre = [&](const watchlist_row *r) { return g->r.y + r->y + g->row_h / 2; };
  auto col_x = [&](int k) { return (g->columns.col[k].x0 + g->columns.col[k].x1) / 2; };
  for (int k : {2, 10, 13})
    ASSERT_TRUE(g->columns.shown >> k & 1) << "column " << k << " at width " << g->r.w;

  struct hover_case {
    const char *what;
    watchlist_row *row;
    int32_t x;
    uint32_t kind;  // 0: nothing shown
  };
  auto check = [&](watchlist *grid, const hover_case &c) {
    slow_to(c.x, grid->r.y + c.row->y + grid->row_h / 2);
    if (c.kind) {
      ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == c.kind; })) << c.what;
    } else {
      EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }))
          << c.what << " popup " << s->gendtl->r.x << "," << s->gendtl->r.y << " " << s->gendtl->r.w << "x"
          << s->gendtl->r.h << " at " << c.x << "," << grid->r.y + c.row->y << " hover " << grid->hover_row << "/"
          << grid->hover_col << " open " << grid->detail_open << " kind " << popup()->kind;
    }
    EXPECT_FALSE(hover_up()) << c.what << ": the grid opens no depth copy";
    const gendtl *p = popup();
    switch (c.kind) {
      case 4:
        EXPECT_EQ(news_rows(), (std::vector<const ss_news *>{today1, today2})) << "today's items only";
        break;
      case 3:
        EXPECT_EQ(rows(4, 5), (std::vector<std::string>{std::string(ssstate_short_name(140)) + "|" +
                                                            ssstate_long_name(140),
                                                        std::string(fmt_time_hms(a->resume_time)) +
                                                            "|Resumes Trading"}));
        break;
      case 2:
        EXPECT_EQ(rows(2, 3), (std::vector<std::string>{std::string(sscodes_quote_basis_names(0, 0x1)) + "|" +
                                                            sscodes_quote_basis_name(0, 0x1),
                                                        std::string(sscodes_quote_basis_names(0, 0x8)) + "|" +
                                                            sscodes_quote_basis_name(0, 0x8)}));
        break;
      case 5:
        ASSERT_EQ(p->row_count, 4u);
        EXPECT_EQ(p->rows[0].volume, a->volume) << "today first";
        EXPECT_EQ(p->instrument, static_cast<instr *>(a));
        break;
      case 6:
        EXPECT_EQ(p->instrument, static_cast<instr *>(b));
        ASSERT_GE(p->row_count, 5u);
        EXPECT_EQ(std::string(p->rows[4].cell[14]) + "|" + p->rows[4].cell[15],
                  std::string("Exec Price|") + fmt_price_small_cents_blank(b->auction.price));
        break;
    }
  };
  const hover_case cases[] = {
      {"the news marker", ra, g->columns.col[2].x1 - kWatchNewsGrip / 2, 4},
      {"the volume", ra, col_x(13), 5},
      {"the last price of a stock without a trade", rb, col_x(10), 6},
      {"the last price of a traded stock", ra, col_x(10), 0},
      {"the code", ra, col_x(2) - 20, 0},
  };
  for (auto &c : cases) check(g, c);
  // Off the grid: closed.
  slow_to(col_x(13), centre(ra));
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 5; }));
  slow_out_above(g, col_x(13), centre(ra));
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));

  // A click on the news marker: the issuer's latest item in the popup
  // document, the window keeping its list.
  slow_to(g->columns.col[2].x1 - kWatchNewsGrip / 2, centre(ra));
  click();
  ASSERT_TRUE(draw_until([&] { return shows(today2); }));
  EXPECT_EQ(window_get_role(w), uint32_t(kRoleWatchlist));
  EXPECT_FALSE(gendtl_up());
  screen_hide_popup_document();

  // The state and quote-basis columns, in a grid whose columns hold them:
  // the search window's.
  ssuser_set(1, 0, 0x1);
  window_set_role(w, kRoleSearch);
  auto *sw = static_cast<searchwin *>(window_get_content(w, kRoleSearch));
  ASSERT_NE(sw, nullptr);
  searchwin_show_all_exchanges(sw, 1);
  searchwin_set_keyword(sw, "WG");
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && widget_is_shown(sw) && watchlist_find_row(sw, a) &&
           watchlist_find_row(sw, b) && (sw->columns.shown >> 31 & 1) && (sw->columns.shown >> 32 & 1);
  })) << "shown " << std::hex << sw->columns.shown;
  ra = watchlist_find_row(sw, a);
  rb = watchlist_find_row(sw, b);
  auto sx = [&](int k) { return (sw->columns.col[k].x0 + sw->columns.col[k].x1) / 2; };
  const hover_case search_cases[] = {
      {"the state", ra, sx(32), 3},
      {"the quote bases", ra, sx(31), 2},
      {"the state of a stock in its market's state", rb, sx(32), 0},
      {"no quote bases", rb, sx(31), 0},
  };
  for (auto &c : search_cases) check(sw, c);
}

// ---- the alerts window ----

TEST_F(Callers, AlertsExplainTheIssuersFlagsPreviewTheCodeAndOpenNews) {
  ASSERT_EQ(alerts_init(), 0);
  ss_stock *st = bars_stock("ALA", 1000, 990, 1010, 1000);
  ss_index *ix = bars_index("ALX", 5000, 5100);
  ASSERT_TRUE(st && ix);
  ss_issuer *is = ssmodel_get_issuer(ex, "ALA");
  const uint32_t nc[] = {2, 0};
  ss_news *yesterday = ssmodel_add_news(is, 31, at("2018-02-19T12:00:00Z"), nc, 0, "Yesterday");
  ss_news *today = ssmodel_add_news(is, 32, at("2018-02-20T09:30:00Z"), nc, 0, "Today");
  ASSERT_TRUE(yesterday && today);
  is->flags |= kInNewsPlain;
  ASSERT_NE(alerts_set_alert(st, 900, kAlertNoPrice, kAlertNoVolume, 0, 0), nullptr);
  ASSERT_NE(alerts_set_alert(ix, 4000, kAlertNoPrice, kAlertNoVolume, 0, 0), nullptr);
  ASSERT_EQ(alerts_find(st)->issuer, static_cast<instr *>(is));
  window_set_role(w, kRoleAlerts);
  auto *g = alerts_grid_of(window_get_content(w, kRoleAlerts));
  ASSERT_NE(g, nullptr);
  auto row_of = [&](instr *in) -> alerts_row * {
    for (alerts_row *r = g->rows; r; r = r->next)
      if (r->shown && r->a->instrument == in) return r;
    return nullptr;
  };
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && widget_is_shown(g) && row_of(st) && row_of(ix) && g->row_h > 0 &&
           (g->columns.col[1].width > 0 || g->columns.col[2].width > 0);
  }));
  const cols_col &code = g->columns.col[1].shown && g->columns.col[1].width > 0 ? g->columns.col[1] : g->columns.col[2];
  const int32_t icon_x = code.x0 + code.width - 4, code_x = code.x0 + code.width / 3;
  auto mid = [&](instr *in) { return row_of(in)->y + g->row_h / 2; };

  slow_to(icon_x, mid(st));
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 4; }));
  EXPECT_EQ(news_rows(), (std::vector<const ss_news *>{today})) << "the day's news";
  EXPECT_FALSE(hover_up());
  slow_to(code_x, mid(st));
  ASSERT_TRUE(draw_until([&] { return hover_up() && !gendtl_up(); }));
  EXPECT_EQ(popups_get_state()->kind, kPopupDepth);
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(st));
  slow_to(code_x, mid(ix));
  ASSERT_TRUE(draw_until([&] { return hover_up() && popups_get_state()->kind == kPopupDayChart; }));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(ix));
  // An index has no issuer icon: the code's preview stays there too.
  slow_to(icon_x, mid(ix));
  EXPECT_FALSE(gendtl_up());
  slow_out_above(g, code_x, mid(st));
  EXPECT_TRUE(draw_until([&] { return !hover_up() && !gendtl_up(); }));

  slow_to(icon_x, mid(st));
  click();
  ASSERT_TRUE(draw_until([&] { return shows(today); }));
  EXPECT_EQ(window_get_role(w), uint32_t(kRoleAlerts));
  alerts_fini();
}

// ---- the title bar ----

TEST_F(Callers, TitleBarExplainsTheQuoteBasesAndTheState) {
  ex->state = ex->phase = 20;
  ss_stock *st = bars_stock("TBA", 1000, 990, 1010, 1000);
  ASSERT_NE(st, nullptr);
  st->quote_basis = 0x1 | 0x2 | 0x8;  // 0x2, the ordinary basis, is not shown
  st->state = 140;
  st->resume_time = 0;
  window_set_role(w, kRoleTradelist);
  window_set_instrument(w, st);
  titlebar *tb = window_get_titlebar(w);
  ASSERT_NE(tb, nullptr);
  ASSERT_TRUE(draw_until([&] {
    return !screen_relayout_pending() && widget_is_shown(tb) && tb->basis_hit.w > 0 && tb->state_hit.w > 0;
  }));
  const int32_t y = tb->r.y + tb->r.h / 2;
  slow_to(tb->basis_hit.x + tb->basis_hit.w / 2, y);
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 2; }));
  EXPECT_EQ(rows(2, 3), (std::vector<std::string>{std::string(sscodes_quote_basis_names(0, 0x1)) + "|" +
                                                      sscodes_quote_basis_name(0, 0x1),
                                                  std::string(sscodes_quote_basis_names(0, 0x8)) + "|" +
                                                      sscodes_quote_basis_name(0, 0x8)}));
  EXPECT_GE(s->gendtl->r.y, tb->r.y + tb->r.h - 2) << "below the bar (the placement overlaps its anchor by 2)";
  slow_to(tb->state_hit.x + tb->state_hit.w / 2, y);
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == 3; }));
  EXPECT_EQ(rows(4, 5),
            (std::vector<std::string>{std::string(ssstate_short_name(140)) + "|" + ssstate_long_name(140)}));
  // The title text explains nothing.
  slow_to(tb->r.x + 20, y);
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));
  // The issuer's flag icon lists the issuer's news of the day.
  ss_issuer *is = ssmodel_find_issuer(ex, "TBA");
  if (!is) is = ssmodel_add_issuer(ex, "TBA");
  ASSERT_NE(is, nullptr);
  is->flags |= kInNewsPlain;
  window_set_instrument(w, nullptr);
  window_set_instrument(w, st);
  ASSERT_TRUE(draw_until([&] { return !screen_relayout_pending() && tb->issuer_hit.w > 0; }));
  slow_to(tb->issuer_hit.x + tb->issuer_hit.w / 2, y);
  ASSERT_TRUE(draw_until([&] { return gendtl_up() && popup()->kind == kGendtlNews; }));
  EXPECT_EQ(popup()->instrument, static_cast<instr *>(is));
  slow_to(tb->r.x + 20, y);
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));
  slow_to(tb->state_hit.x + tb->state_hit.w / 2, y);
  ASSERT_TRUE(draw_until([&] { return gendtl_up(); }));
  // Down into the list, slowly: leaving the bar closes it.
  for (int32_t yy = y; yy < tb->r.y + tb->r.h + 4; yy++) move(tb->state_hit.x + tb->state_hit.w / 2, yy);
  EXPECT_TRUE(draw_until([&] { return !gendtl_up(); }));
}

// ---- a market ticker ----

int64_t g_ms = 0;
int64_t test_ms() { return g_ms; }
int all_permitted(int32_t) { return 1; }

TEST_F(Callers, MarketTickerFreezesPreviewsAndOpensAnnouncements) {
  ss_stock *st = bars_stock("TKA", 1000, 990, 1010, 1000);
  ASSERT_NE(st, nullptr);
  ss_issuer *is = ssmodel_get_issuer(ex, "TKA");
  const uint32_t nc[] = {2, 0};
  ss_news *item = ssmodel_add_news(is, 41, at("2018-02-20T10:00:00Z"), nc, kNewsFlag1, "Ticker news");
  ASSERT_NE(item, nullptr);
  ticker *t = tickbar_get_ticker(s->tickbar, 0);
  ASSERT_NE(t, nullptr);
  ticker_set_permission(all_permitted);
  g_ms = 5000000;
  ticker_set_clock(test_ms);
  ticker_set_show(t, TICKER_SHOW_SHOW);
  ticker_reset(t);
  ss_ev_alert ev{};
  ev.news = item;
  ASSERT_EQ(ticker_add_item(t, TICK_NEWS, is, &ev), 0);
  ASSERT_TRUE(draw_until([&] { return tickbar_ticker_visible(s->tickbar, 0) && t->first != nullptr; }));
  g_ms += 3000;
  ASSERT_TRUE(draw_until([&] { return t->first->x < t->r.x + t->r.w - t->first->width - 20; }));
  ticker_item *it = t->first;
  const int32_t x = it->x + it->width / 2, y = t->r.y + t->r.h / 2;
  slow_to(x, y);
  ASSERT_TRUE(draw_until([&] { return hover_up(); }));
  EXPECT_TRUE(t->frozen);
  EXPECT_EQ(popups_get_state()->kind, kPopupDepth);
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(st)) << "the issuer's stock";
  // Frozen: the clock runs on, the item stays under the pointer.
  const int32_t frozen_x = it->x;
  g_ms += 2000;
  draw_until([] { return true; });
  EXPECT_EQ(it->x, frozen_x);
  // Leaving thaws it and closes the preview.
  const int32_t out_y = t->r.y > 10 ? t->r.y - 4 : t->r.y + t->r.h + 3;
  for (int32_t yy = y; yy != out_y; yy += (out_y > y ? 1 : -1)) move(x, yy);
  EXPECT_TRUE(draw_until([&] { return !hover_up() && !t->frozen; }));

  slow_to(it->x + it->width / 2, y);
  click();
  ASSERT_TRUE(draw_until([&] { return shows(item); }));
  EXPECT_FALSE(hover_up()) << "the click closed the preview";
  screen_hide_popup_document();

  // An index's value: its day chart.
  ss_index *ix = bars_index("TKX", 5000, 5100);
  ASSERT_NE(ix, nullptr);
  move(2, 2);
  ticker_reset(t);
  ss_ev_alert iev{};
  iev.index_value = 5100;
  ASSERT_EQ(ticker_add_item(t, TICK_INDEX, ix, &iev), 0);
  ASSERT_TRUE(draw_until([&] { return t->first != nullptr && t->first->instrument == static_cast<instr *>(ix); }));
  g_ms += 3000;
  ASSERT_TRUE(draw_until([&] { return t->first->x < t->r.x + t->r.w - t->first->width - 20; }));
  it = t->first;
  slow_to(it->x + it->width / 2, y);
  ASSERT_TRUE(draw_until([&] { return hover_up() && popups_get_state()->kind == kPopupDayChart; }));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(ix));
  ticker_set_show(t, TICKER_SHOW_HIDE);
  ticker_set_clock(nullptr);
  ticker_set_permission(nullptr);
}

// ---- the minibar ----

TEST_F(Callers, MiniQuotesAndMiniDesktopsPreviewWhatTheyShow) {
  auto *mb = static_cast<minibar *>(s->minibar);
  ASSERT_TRUE(mb && mb->quotes[0] && mb->desktops[0]);
  ASSERT_TRUE(s->bars & BAR_MINIBAR);
  ss_stock *st = bars_stock("MQA", 1000, 990, 1010, 1000);
  ss_index *ix = bars_index("MQX", 5000, 5100);
  ss_stock *third = bars_stock("MQC", 1000, 990, 1010, 1000, 0, 2);
  ASSERT_TRUE(st && ix && third);
  mini_quote *q = mb->quotes[0];
  ASSERT_TRUE(draw_until([&] { return q->r.h > 0; }))
      << "minibar " << mb->r.y << " " << mb->r.w << "x" << mb->r.h << " desktop " << mb->desktops[0]->r.w << "x"
      << mb->desktops[0]->r.h << " screen " << s->r.w << "x" << s->r.h;
  struct {
    instr *in;
    int32_t kind;  // none: no preview
    const char *what;
  } cases[] = {
      {st, kPopupDepth, "a stock: its depth"},
      {ix, kPopupDayChart, "an index: its day chart"},
      {third, kPopupNone, "the third exchange: nothing"},
  };
  for (auto &c : cases) {
    mini_quote_set_instr(q, c.in);
    ASSERT_TRUE(draw_until([&] { return widget_is_shown(q) && q->r.w > 0; }));
    slow_to(q->r.x + q->r.w / 2, q->r.y + q->r.h / 2);
    if (c.kind == kPopupNone) {
      EXPECT_TRUE(draw_until([&] { return !hover_up(); })) << c.what;
      continue;
    }
    ASSERT_TRUE(draw_until([&] { return hover_up() && popups_get_state()->kind == c.kind; }))
        << c.what << " inside " << q->inside << " previewing " << q->previewing << " cell " << q->r.x << ","
        << q->r.y << " " << q->r.w << "x" << q->r.h << " kind " << popups_get_state()->kind << " bars " << std::hex
        << s->bars;
    EXPECT_EQ(window_get_instrument(s->hover_window), c.in) << c.what;
    EXPECT_LE(s->hover_window->r.y, q->r.y) << c.what << ": above the minibar's cell";
    // Along the bar out of the cell, slowly: leaving closes it.
    for (int32_t x = q->r.x + q->r.w / 2; x < q->r.x + q->r.w + 3; x++) move(x, q->r.y + q->r.h / 2);
    EXPECT_TRUE(draw_until([&] { return !hover_up(); })) << c.what;
  }

  // The mini desktop of the current desktop: its one window, copied.
  window_set_role(w, kRoleTradelist);
  window_set_instrument(w, st);
  mini_desktop *md = mb->desktops[0];
  ASSERT_EQ(md->d, screen_current_desktop());
  ASSERT_TRUE(draw_until([&] { return !screen_relayout_pending() && widget_is_shown(md) && md->r.w > 6; }));
  slow_to(md->r.x + md->r.w / 2, md->r.y + md->r.h / 2);
  ASSERT_TRUE(draw_until([&] { return hover_up() && popups_get_state()->kind == kPopupWindow; }));
  EXPECT_EQ(window_get_role(s->hover_window), uint32_t(kRoleTradelist));
  EXPECT_EQ(window_get_instrument(s->hover_window), static_cast<instr *>(st));
  EXPECT_EQ(md->previewed, w);
  for (int32_t y = md->r.y + md->r.h / 2; y >= md->r.y - 3; y--) move(md->r.x + md->r.w / 2, y);
  EXPECT_TRUE(draw_until([&] { return !hover_up(); }));
  EXPECT_EQ(md->previewed, nullptr);
  // A desktop without windows previews nothing.
  mini_desktop *empty = mb->desktops[3];
  ASSERT_NE(empty, nullptr);
  slow_to(empty->r.x + empty->r.w / 2, empty->r.y + empty->r.h / 2);
  EXPECT_TRUE(draw_until([&] { return !hover_up(); }));
}

}  // namespace
