// The ticker panel on a real ticker bar and its five real tickers: what
// every button does to the edited ticker, choosing the alerts ticker against
// a market ticker, the news toggles' exclusivity, the index filter that
// takes the indices away, the typed bounds, and one undo step per click
// that brings a ticker's filters back.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "screen/groupbar.h"
#include "screen/tickbar.h"
#include "screen/ticker.h"
#include "tools/tickertools.h"
#include "toolstest.h"
#include "ui/textbox.h"

namespace {

::testing::Environment *const env = ::testing::AddGlobalTestEnvironment(new ToolkitEnv);

int all_permitted(int32_t) { return 1; }

class TickerPanel : public Panels {
 protected:
  widget *tb = nullptr;
  ticktools *p = nullptr;

  void SetUp() override {
    Panels::SetUp();
    ticker_set_permission(all_permitted);
    tb = tickbar_new(root);
    ASSERT_NE(nullptr, tb);
    tickbar_show_tools(tb);
    widget_show(root);  // a hidden panel is not refreshed after a redraw
    widget *panel = tickbar_of(tb)->tools;
    ASSERT_TRUE(ticktools_is(panel));
    p = static_cast<ticktools *>(panel);
    EXPECT_EQ(tb, p->owner);
    EXPECT_EQ(tb, p->parent);
    tools_refresh_now(p);
  }
  void TearDown() override {
    container_cls(root)->remove(root, tb);
    widget_delete(tb);
    ticker_set_permission(nullptr);
    Panels::TearDown();
  }
  button *id(int32_t i) { return ticktools_button(p, i); }
  ticker *market(int i) { return tickbar_get_ticker(tb, i); }
  static int32_t active_id(button_group *g) { return g->active ? g->active->id : -1; }
  static bool on(button *b) { return b && (b->state & BUTTON_ACTIVE); }
  static void type_into(textbox *t, const char *text) {
    textbox_set_text(t, text);
    t->callback(t, TEXTBOX_ENTER, t->arg, t->id);
  }
};

// ---- ids ----------------------------------------------------------------------------

TEST_F(TickerPanel, ClicksSetTheEditedTicker) {
  using check = std::function<bool(const ticker *)>;
  struct row {
    int32_t id;
    std::function<void(ticker *)> before;
    check want;
  } rows[] = {
      {4, nullptr, [](const ticker *t) { return ticker_get_show(t) == 2; }},
      {5, nullptr, [](const ticker *t) { return ticker_get_show(t) == 1; }},
      {6, nullptr, [](const ticker *t) { return ticker_get_show(t) == 0; }},
      {7, [](ticker *t) { ticker_set_exchange(t, 0, 0); }, [](const ticker *t) { return ticker_get_exchange(t, 0); }},
      {8, [](ticker *t) { ticker_set_exchange(t, 1, 1); }, [](const ticker *t) { return !ticker_get_exchange(t, 1); }},
      {10, [](ticker *t) { ticker_set_instr_filter(t, 0); },
       [](const ticker *t) { return ticker_get_instr_filter(t) == 2; }},
      {11, [](ticker *t) { ticker_set_instr_filter(t, 0); ticker_set_index_filter(t, 1); },
       [](const ticker *t) { return ticker_get_instr_filter(t) == 1; }},
      {29, [](ticker *t) { ticker_set_index_filter(t, 0); },
       [](const ticker *t) { return ticker_get_index_filter(t) == 1; }},
      {30, [](ticker *t) { ticker_set_index_filter(t, 1); },
       [](const ticker *t) { return ticker_get_index_filter(t) == 3; }},
      {31, [](ticker *t) { ticker_set_index_filter(t, 7); },
       [](const ticker *t) { return ticker_get_index_filter(t) == 3; }},
      {32, [](ticker *t) { ticker_set_index_filter(t, 7); ticker_set_instr_filter(t, 3); },
       [](const ticker *t) { return ticker_get_index_filter(t) == 0 && ticker_get_instr_filter(t) == 2; }},
      {18, [](ticker *t) { ticker_set_news_filter(t, 0); },
       [](const ticker *t) { return ticker_get_news_filter(t) == 1; }},
      {19, [](ticker *t) { ticker_set_news_filter(t, 4); },
       [](const ticker *t) { return ticker_get_news_filter(t) == 6; }},
      {20, [](ticker *t) { ticker_set_news_filter(t, 6); },
       [](const ticker *t) { return ticker_get_news_filter(t) == 2; }},
      {21, [](ticker *t) { ticker_set_news_filter(t, 6); },
       [](const ticker *t) { return ticker_get_news_filter(t) == 0; }},
      {26, [](ticker *t) { ticker_set_quote_filter(t, 0); },
       [](const ticker *t) { return ticker_get_quote_filter(t) == 1; }},
      {25, [](ticker *t) { ticker_set_quote_filter(t, 3); },
       [](const ticker *t) { return ticker_get_quote_filter(t) == 1; }},
      {23, [](ticker *t) { ticker_set_quote_filter(t, 3); },
       [](const ticker *t) { return ticker_get_quote_filter(t) == 0; }},
      {22, [](ticker *t) { ticker_set_trade_filter(t, 2); },
       [](const ticker *t) { return ticker_get_trade_filter(t) == 0; }},
      {27, nullptr, [](const ticker *t) { return ticker_get_trade_filter(t) == 1; }},
      {28, nullptr, [](const ticker *t) { return ticker_get_trade_filter(t) == 2; }},
      {24, nullptr, [](const ticker *t) { return ticker_get_trade_filter(t) == 3; }},
  };
  const uint32_t other_trades = ticker_get_trade_filter(market(0));
  const uint32_t other_news = ticker_get_news_filter(market(0));
  click(id(2));  // edit market ticker 3
  ASSERT_EQ(2, p->ticker);
  ticker *t = market(2);
  for (const row &r : rows) {
    if (r.before) r.before(t);
    tools_refresh_now(p);
    click(id(r.id));
    EXPECT_TRUE(r.want(t)) << "id " << r.id;
  }
  // Only the edited ticker changed.
  EXPECT_EQ(other_trades, ticker_get_trade_filter(market(0)));
  EXPECT_EQ(other_news, ticker_get_news_filter(market(0)));
  // Ids without a button of the panel's own reach the ticker too.
  ticker_set_instr_filter(t, 0);
  EXPECT_EQ(0, ticktools_apply_id(t, 9, 1));
  EXPECT_EQ(4u, ticker_get_instr_filter(t));
  EXPECT_EQ(-1, ticktools_apply_id(t, 33, 1));
  EXPECT_EQ(-1, ticktools_apply_id(nullptr, 4, 1));
}

TEST_F(TickerPanel, RefreshShowsTheTicker) {
  ticker *t = market(0);
  ticker_set_show(t, TICKER_SHOW_AUTO);
  ticker_set_exchange(t, 0, 1);
  ticker_set_exchange(t, 1, 0);
  ticker_set_instr_filter(t, 3);
  ticker_set_index_filter(t, 5);
  ticker_set_trade_filter(t, 3);
  ticker_set_quote_filter(t, 2);
  ticker_set_news_filter(t, 4);
  ticker_set_min_price(t, 126);
  ticker_set_max_volume(t, 1500);
  ticker_set_min_value(t, 250);
  tools_refresh_now(p);
  EXPECT_EQ(0, active_id(&p->tickers));
  EXPECT_EQ(5, active_id(&p->show));
  EXPECT_TRUE(on(p->asx));
  EXPECT_FALSE(on(p->nzx));
  EXPECT_TRUE(on(p->derivs));
  EXPECT_TRUE(on(p->indices));
  EXPECT_FALSE(on(p->groups));
  EXPECT_EQ(24, active_id(&p->trades));
  EXPECT_FALSE(on(p->trades_none));
  EXPECT_FALSE(on(p->top_level));
  EXPECT_TRUE(on(p->change));
  EXPECT_FALSE(on(p->quotes_none));
  EXPECT_TRUE(on(p->major));
  EXPECT_FALSE(on(p->sector));
  EXPECT_TRUE(on(p->other));
  EXPECT_FALSE(on(p->indices_none));
  EXPECT_FALSE(on(p->sensitive));
  EXPECT_FALSE(on(p->related));
  EXPECT_TRUE(on(p->regular));
  EXPECT_FALSE(on(p->news_none));
  const char *want[kTicktoolsBounds] = {"1.26", "", "", "1500", "2.5", ""};
  for (int i = 0; i < kTicktoolsBounds; i++) EXPECT_STREQ(want[i], textbox_text(p->bound[i])) << i;
  ticker_set_trade_filter(t, 0);
  tools_refresh_now(p);
  EXPECT_EQ(-1, active_id(&p->trades));
  EXPECT_TRUE(on(p->trades_none));
}

// ---- alerts ticker against market tickers ---------------------------------------------

TEST_F(TickerPanel, AlertsLeavesOnlyShowAndTicker2BringsTheSectionsBack) {
  ticker_set_show(market(1), TICKER_SHOW_AUTO);
  ticker_set_trade_filter(market(1), 2);
  for (int k = 0; k < kTicktoolsSections; k++) EXPECT_TRUE(ticktools_section_shown(p, k)) << k;
  EXPECT_TRUE(button_is_sensitive(p->when_open));

  click(id(34));
  EXPECT_EQ(kTicktoolsAlerts, p->ticker);
  EXPECT_EQ(tickbar_alert_ticker(tb), ticktools_ticker(p));
  tools_refresh_now(p);
  EXPECT_EQ(34, active_id(&p->tickers));
  EXPECT_TRUE(ticktools_section_shown(p, TICKTOOLS_SHOW));
  for (int k = TICKTOOLS_SELECT; k < kTicktoolsSections; k++) EXPECT_FALSE(ticktools_section_shown(p, k)) << k;
  EXPECT_FALSE(button_is_sensitive(p->when_open)) << "the alerts ticker knows no trading hours";
  click(id(6));
  EXPECT_EQ(0u, ticker_get_show(tickbar_alert_ticker(tb)));
  EXPECT_EQ(uint32_t(TICKER_SHOW_AUTO), ticker_get_show(market(1))) << "market tickers untouched";

  click(id(1));
  EXPECT_EQ(1, p->ticker);
  tools_refresh_now(p);
  for (int k = 0; k < kTicktoolsSections; k++) EXPECT_TRUE(ticktools_section_shown(p, k)) << k;
  EXPECT_TRUE(button_is_sensitive(p->when_open));
  EXPECT_EQ(5, active_id(&p->show)) << "ticker 2's show state";
  EXPECT_EQ(28, active_id(&p->trades)) << "ticker 2's trades";
}

// ---- news, indices -------------------------------------------------------------------

TEST_F(TickerPanel, SensitiveStandsAlone) {
  ticker *t = market(0);
  ticker_set_news_filter(t, 7);
  tools_refresh_now(p);
  EXPECT_TRUE(on(p->sensitive));
  EXPECT_FALSE(on(p->related));
  EXPECT_FALSE(on(p->regular));
  EXPECT_FALSE(on(p->news_none));
  EXPECT_FALSE(button_is_sensitive(p->related));
  EXPECT_FALSE(button_is_sensitive(p->regular));
  EXPECT_TRUE(button_is_sensitive(p->news_none));
  // A press and release on an insensitive toggle changes nothing.
  click(p->related);
  EXPECT_EQ(7u, ticker_get_news_filter(t));
  click(p->sensitive);
  EXPECT_EQ(6u, ticker_get_news_filter(t));
  tools_refresh_now(p);
  EXPECT_TRUE(button_is_sensitive(p->related));
  EXPECT_TRUE(on(p->related));
  EXPECT_TRUE(on(p->regular));
}

TEST_F(TickerPanel, NoIndexFilterTakesTheIndicesAwayAtRefresh) {
  ticker *t = market(0);
  ticker_set_instr_filter(t, 3);
  ticker_set_index_filter(t, 3);
  tools_refresh_now(p);
  EXPECT_TRUE(on(p->indices));
  click(p->major);
  click(p->sector);
  EXPECT_EQ(0u, ticker_get_index_filter(t));
  EXPECT_EQ(3u, ticker_get_instr_filter(t)) << "not before the refresh";
  redraw_passes();  // the click's deferred refresh
  EXPECT_EQ(2u, ticker_get_instr_filter(t));
  EXPECT_FALSE(on(p->indices));
  EXPECT_TRUE(on(p->indices_none));
}

// The group bar edits the ticker's group filter from outside the panel;
// "Groups" follows after the next redraw.
TEST_F(TickerPanel, GroupsFollowsTheGroupBar) {
  ticker *t = market(0);
  EXPECT_FALSE(on(p->groups));
  widget *bar = groupbar_new(root);
  ASSERT_NE(nullptr, bar);
  groupbar_set_target_ticker(bar, t);
  groupbar_toggle(bar, kGroupbarWild, 0, 1);
  ASSERT_TRUE(ticker_has_group_filter(t));
  EXPECT_FALSE(on(p->groups)) << "not before the redraw";
  redraw_passes();
  EXPECT_TRUE(on(p->groups));
  groupbar_toggle(bar, kGroupbarWild, 0, 0);
  redraw_passes();
  EXPECT_FALSE(on(p->groups));
  container_cls(root)->remove(root, bar);
  widget_delete(bar);
}

// ---- typed bounds ----------------------------------------------------------------------

TEST_F(TickerPanel, TypedBounds) {
  ticker *t = market(0);
  const int before = undo_count();
  struct row {
    int field;
    const char *text;
    bool changes;
    uint64_t want;
  } rows[] = {
      {0, "1.255", true, 126},          {1, "2.5", true, 250},
      {1, "", true, kTickerNoPrice},    {0, "nan", false, 0},
      {0, "-1", false, 0},              {0, "1e30", true, kTickerNoPrice - 1},
      {2, "1.5k", true, 1500},          {3, "2.5", true, 3},
      {3, "", true, kTickerNoBound},    {4, "1.255", true, 126},
      {5, "1.5k", true, 150000},        {5, "1e30", true, kTickerNoBound - 1},
      {4, "abc", false, 0},
  };
  auto value = [&](int f) -> uint64_t {
    switch (f) {
      case 0: return ticker_get_min_price(t);
      case 1: return ticker_get_max_price(t);
      case 2: return ticker_get_min_volume(t);
      case 3: return ticker_get_max_volume(t);
      case 4: return ticker_get_min_value(t);
      default: return ticker_get_max_value(t);
    }
  };
  for (const row &r : rows) {
    const uint64_t was = value(r.field);
    type_into(p->bound[r.field], r.text);
    EXPECT_EQ(r.changes ? r.want : was, value(r.field)) << r.field << " " << r.text;
  }
  EXPECT_EQ(before, undo_count()) << "bounds are not recorded for undo";
  tools_refresh_now(p);
  EXPECT_STREQ("42949672.94", textbox_text(p->bound[0]));
}

// ---- undo ------------------------------------------------------------------------------

TEST_F(TickerPanel, OneUndoStepPerClickRestoresTheFilters) {
  ticker *t = market(0);
  ticker_set_instr_filter(t, 1);
  ticker_set_index_filter(t, 1);
  ticker_set_news_filter(t, 2);
  ticker_set_trade_filter(t, 1);
  tools_refresh_now(p);
  click(p->derivs);
  click(id(32));
  click(id(21));
  click(id(24));
  EXPECT_EQ(2u, ticker_get_instr_filter(t));
  EXPECT_EQ(0u, ticker_get_news_filter(t));
  EXPECT_EQ(3u, ticker_get_trade_filter(t));
  for (int i = 0; i < 4; i++) ASSERT_EQ(0, undo_perform()) << i;
  EXPECT_EQ(1u, ticker_get_instr_filter(t));
  EXPECT_EQ(1u, ticker_get_index_filter(t));
  EXPECT_EQ(2u, ticker_get_news_filter(t));
  EXPECT_EQ(1u, ticker_get_trade_filter(t));
  redraw_passes();
  EXPECT_FALSE(on(p->derivs)) << "the panel reads the restored ticker";
  EXPECT_TRUE(on(p->related));
}

TEST_F(TickerPanel, ClickRecordsThePanelAndTheTickerAndGroupsRecordNothing) {
  const int before = undo_count();
  click(p->top_level);
  ASSERT_GT(undo_count(), before);
  bool panel = false, ticker_rec = false;
  for (int i = 0; i < undo_count() - before; i++) {
    panel |= undo_type_at(i) == UNDO_TOOLS;
    ticker_rec |= undo_type_at(i) == 18;
  }
  EXPECT_TRUE(panel);
  EXPECT_TRUE(ticker_rec);
  const int after = undo_count();
  click(p->groups);  // no screen: no group bar, and its group is dropped
  EXPECT_EQ(after, undo_count());
  EXPECT_EQ(0, undo_depth());
}

}  // namespace
